// The x86 program, serving x86 and x86-64 systems: both adapter families are discovered.
#include "nicupdate/driver.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/runlock.h"
#include "common/banned.h"

int main(int argc, char** argv) {
    return runNicburn(argc, argv, discoverNetXtremeII, c_lockPaths, c_szLogDirectory, c_shellRunner);
}
