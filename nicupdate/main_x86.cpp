// The x86 program, serving x86 and x86-64 systems: both adapter families are discovered.
#include "nicupdate/driver.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/runlock.h"
#include "common/banned.h"

int main(int argc, char** argv) {
    RunContext run = {RunLog(), c_shellRunner};
    return runNicburn(argc, argv, c_x86Build, c_lockDirectory, c_szLogDirectory, run);
}
