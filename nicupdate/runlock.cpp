#include "nicupdate/runlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/banned.h"

const char c_lockDirectory[] = "/run/nicburn";
const char c_lockFileName[] = "nicburn.lock";

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

// What an entry is, for a message: "a symbolic link", "a folder of user 1000", ...
static void describe(const struct stat& st, bool wantDirectory, char* out, size_t outSize) {
    const char* kind = S_ISLNK(st.st_mode)   ? "a symbolic link"
                       : S_ISDIR(st.st_mode) ? "a folder"
                       : S_ISREG(st.st_mode) ? "a file"
                                             : "a special file";
    if (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode) != wantDirectory)
        snprintf(out, outSize, "%s", kind);
    else if (st.st_uid != geteuid())
        snprintf(out, outSize, "%s of user %lu", kind, static_cast<unsigned long>(st.st_uid));
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        snprintf(out, outSize, "%s others may write to (mode %04o)", kind, static_cast<unsigned>(st.st_mode & 07777));
    else
        snprintf(out, outSize, "%s with %lu names", kind, static_cast<unsigned long>(st.st_nlink));
}

// Whether st is the tool's own: of the kind wanted, its user's, writable by no one else, and a
// file with no second name (a hard link would let the write reach another file).
static bool isOwn(const struct stat& st, bool wantDirectory) {
    bool kindOk = wantDirectory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
    return kindOk && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
           (wantDirectory || st.st_nlink == 1);
}

static int refuse(const char* path, const struct stat& st, bool wantDirectory, char* why, size_t whySize) {
    char what[96];
    describe(st, wantDirectory, what, sizeof(what));
    snprintf(why, whySize, "%s is %s, not %s of root's own; remove it (rm -r %s) and run again", path, what,
             wantDirectory ? "a folder" : "a file", path);
    return RUNLOCK_REFUSED;
}

static int failed(const char* what, const char* path, int err, int result, char* why, size_t whySize) {
    snprintf(why, whySize, "%s %s: %s", what, path, strerror(err));
    return result;
}

// A read-only, full or missing /run: no lock can be had on this system at all.
static bool noPlaceAtAll(int err) { return err == EROFS || err == ENOSPC || err == EDQUOT || err == ENOENT; }

// Opens dir as the lock folder, making it when missing; -1 with the result in *result.
static int openLockDir(const char* dir, int* result, char* why, size_t whySize) {
    if (mkdir(dir, 0700) != 0 && errno != EEXIST) {
        int err = errno;
        *result = failed("cannot make", dir, err, noPlaceAtAll(err) ? RUNLOCK_NONE : RUNLOCK_REFUSED, why, whySize);
        return -1;
    }
    int dirFd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (dirFd < 0) {
        int err = errno;
        *result = RUNLOCK_REFUSED;
        // A link or a file where the folder should be: say what it is and what to remove.
        if (lstat(dir, &st) == 0 && !S_ISDIR(st.st_mode))
            refuse(dir, st, true, why, whySize);
        else
            failed("cannot open", dir, err, 0, why, whySize);
        return -1;
    }
    if (fstat(dirFd, &st) != 0) {
        *result = failed("cannot read", dir, errno, RUNLOCK_REFUSED, why, whySize);
    } else if (!isOwn(st, true)) {
        *result = refuse(dir, st, true, why, whySize);
    } else {
        return dirFd;
    }
    close(dirFd);
    return -1;
}

int takeRunLock(const char* dir, int* fd, int* holder, char* why, size_t whySize) {
    *fd = -1;
    *holder = 0;
    if (whySize > 0) why[0] = '\0';
    char path[PATH_MAX];
    int len = snprintf(path, sizeof(path), "%s/%s", dir, c_lockFileName);
    if (len < 0 || static_cast<size_t>(len) >= sizeof(path)) {
        snprintf(why, whySize, "lock folder path too long: %.60s...", dir);
        return RUNLOCK_REFUSED;
    }

    int dirResult = RUNLOCK_REFUSED;
    int dirFd = openLockDir(dir, &dirResult, why, whySize);
    if (dirFd < 0) return dirResult;
    int lockFd = openat(dirFd, c_lockFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    int err = errno;
    struct stat st;
    // A link, folder or other entry in the file's place: say what it is and what to remove.
    bool planted = lockFd < 0 && fstatat(dirFd, c_lockFileName, &st, AT_SYMLINK_NOFOLLOW) == 0 && !isOwn(st, false);
    close(dirFd);
    if (planted) return refuse(path, st, false, why, whySize);
    if (lockFd < 0)
        return failed("cannot open", path, err, noPlaceAtAll(err) ? RUNLOCK_NONE : RUNLOCK_REFUSED, why, whySize);
    int refused = fstat(lockFd, &st) != 0 ? failed("cannot read", path, errno, RUNLOCK_REFUSED, why, whySize)
                  : !isOwn(st, false)     ? refuse(path, st, false, why, whySize)
                                          : RUNLOCK_TAKEN;
    if (refused != RUNLOCK_TAKEN) {
        close(lockFd);
        return refused;
    }

    int rc;
    while ((rc = flock(lockFd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        err = errno;
        int result = RUNLOCK_BUSY;
        if (err == EWOULDBLOCK)
            *holder = readHolder(lockFd);
        else
            result = failed("cannot lock", path, err, RUNLOCK_NONE, why, whySize);
        close(lockFd);
        return result;
    }
    // Held: only now is the file written.
    char text[32];
    len = snprintf(text, sizeof(text), "%ld\n", static_cast<long>(getpid()));
    if (ftruncate(lockFd, 0) != 0 || pwrite(lockFd, text, static_cast<size_t>(len), 0) != len) {
        // The lock holds all the same; only the id a second run would show is missing.
    }
    *fd = lockFd;
    return RUNLOCK_TAKEN;
}
