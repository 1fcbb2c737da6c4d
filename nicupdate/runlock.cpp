#include "nicupdate/runlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/banned.h"

const char* const c_lockPaths[] = {"/run/lock/nicburn.lock", "/var/lock/nicburn.lock", nullptr};

// The holder writes its id right after taking the lock; give it a moment to do so.
static int readHolder(int fd) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        char text[32] = "";
        ssize_t n = pread(fd, text, sizeof(text) - 1, 0);
        if (n > 0) {
            text[n] = '\0';
            long pid = strtol(text, nullptr, 10);
            if (pid > 0 && pid <= INT_MAX) return static_cast<int>(pid);
        }
        struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return 0;
}

int takeRunLock(const char* const* paths, int* fd, int* holder, char* why, size_t whySize) {
    *fd = -1;
    *holder = 0;
    if (whySize > 0) why[0] = '\0';
    for (const char* const* path = paths; *path; ++path) {
        int lockFd = open(*path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lockFd < 0) {
            if (path == paths) snprintf(why, whySize, "%s: %s", *path, strerror(errno));
            continue;
        }
        int rc;
        while ((rc = flock(lockFd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            int err = errno;
            if (err == EWOULDBLOCK) *holder = readHolder(lockFd);
            else snprintf(why, whySize, "%s: %s", *path, strerror(err));
            close(lockFd);
            return err == EWOULDBLOCK ? RUNLOCK_BUSY : RUNLOCK_NONE;
        }
        char text[32];
        int len = snprintf(text, sizeof(text), "%ld\n", static_cast<long>(getpid()));
        if (ftruncate(lockFd, 0) != 0 || pwrite(lockFd, text, static_cast<size_t>(len), 0) != len) {
            // The lock holds all the same; only the id a second run would show is missing.
        }
        *fd = lockFd;
        return RUNLOCK_TAKEN;
    }
    if (why[0] == '\0') snprintf(why, whySize, "no lock file path");
    return RUNLOCK_NONE;
}
