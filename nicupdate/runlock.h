// One firmware update at a time per host: an exclusive flock on a lock file holding the
// holder's process id, in a folder only root can write. The kernel drops the lock when its holder
// ends, however it ends, so a lock is never stale; the file itself stays.
//
// Nothing another user made is ever opened, followed, truncated or written: the folder is made
// mode 0700 when missing, opened without following a link, and used only when it is a folder
// of the user running the tool (root) that no one else may write; the file in it is opened
// without following a link, created mode 0600, and written only when it is a regular file of
// the same user with one name, and only once the lock is held. Another user can therefore
// neither read nor lock the file, nor switch the lock off by planting a file or link.
#pragma once

#include <cstddef>

// The programs' lock folder, "/run/nicburn". An older nicburn locked /run/lock/nicburn.lock;
// the two do not exclude each other.
extern const char c_lockDirectory[];

// Name of the lock file in the lock folder.
extern const char c_lockFileName[];

enum RunLockResult {
    RUNLOCK_TAKEN = 0,    // *fd holds the lock until closed or the process ends
    RUNLOCK_BUSY = 1,     // another process holds it; *holder is its id (0 when it wrote none yet)
    RUNLOCK_NONE = 2,     // this system has no place for a lock at all (the folder's parent is
                          // missing, read-only or full); why names the path and the reason
    RUNLOCK_REFUSED = 3,  // the folder or the file is not the tool's own (another user's, a link,
                          // a file where the folder should be, writable by others) or cannot be
                          // used; why names it and, where one must go, what to remove
};

// Takes the lock on dir/c_lockFileName (close-on-exec), making dir when missing. Never waits.
// why (whySize bytes) is cut to fit; it is "" when the lock was taken or busy.
int takeRunLock(const char* dir, int* fd, int* holder, char* why, size_t whySize);
