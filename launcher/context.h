// The state of one launcher run, passed to the functions that need it: the debug level, the
// temporary and working directories, the identified system, and the runner every child process
// goes through. main makes one; a test makes its own and may put a recording runner in.
#pragma once

#include "launcher/os/commands.h"
#include "pkgformat/sysfacts.h"

constexpr int WRK_DIR_SIZE = 1024;

// Where a signal stopped the run; launcherMain reports it once the working directory is gone.
enum InterruptPhase { PHASE_NONE, PHASE_UNPACKING, PHASE_SETUP, PHASE_STARTUP };

struct LauncherContext {
    // 0 off; 1 "++" progress lines on standard output; 2 or more also the boot configuration copy
    // on disk and the three examination shells. Set once from the debug option.
    int debug;
    // Where the working directory and the temporary files go (chooseTempDir at start).
    const char* tempDir;
    // The working directory "<temp dir>/zav_rq_pkg_XXXXXXXX"; "" until createInstallDir made it.
    char wrkDir[WRK_DIR_SIZE];
    // The identified system; the flags say which parts sysident has filled in (once per run),
    // the rest reads "Unknown" (level and update 0).
    SystemFacts system;
    bool distroKnown;     // name, level, update and kernel
    bool processorKnown;  // processor
    CommandRunner commands;
    InterruptPhase interruptedIn;  // PHASE_NONE unless a signal stopped the run
};

// debug 0, tempDir as given (not copied), no working directory, nothing identified, the
// runner that starts children for real, not interrupted.
void initContext(LauncherContext* ctx, const char* tempDir);
