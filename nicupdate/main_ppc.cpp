// The PowerPC program: the package carries no NetXtreme II utility for this processor, so that
// family is reported as absent instead of being discovered.
#include "nicupdate/driver.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/runlock.h"
#include "common/banned.h"

int main(int argc, char** argv) {
    RunContext run = {RunLog(), c_shellRunner};
    return runNicburn(argc, argv, c_ppcBuild, c_lockDirectory, c_szLogDirectory, run);
}
