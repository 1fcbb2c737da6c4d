// One firmware update at a time per host: an exclusive flock on a lock file holding the
// holder's process id. The kernel drops the lock when its holder ends, however it ends, so a
// lock is never stale; the file itself stays.
#pragma once

#include <cstddef>

// Where the program looks for its lock file, in order: the first that can be opened is used.
extern const char* const c_lockPaths[];

enum RunLockResult {
    RUNLOCK_TAKEN = 0,  // *fd holds the lock until closed or the process ends
    RUNLOCK_BUSY = 1,   // another process holds it; *holder is its id (0 when it wrote none yet)
    RUNLOCK_NONE = 2    // no lock file could be opened; why names the first path and the reason
};

// Tries the null-terminated list of paths in order and takes the lock on the first file that
// opens (created with mode 0644, close-on-exec). Never waits. why (whySize bytes) is cut to fit.
int takeRunLock(const char* const* paths, int* fd, int* holder, char* why, size_t whySize);
