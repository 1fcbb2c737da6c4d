#include "launcher/os/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/banned.h"

int dirExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

int fileExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && !S_ISDIR(st.st_mode) ? 1 : 0;
}

int isAbsolutePath(const char* path) { return path[0] == '/' ? 1 : 0; }

const char* chooseTempDir(const char* tmpdir) {
    if (tmpdir && isAbsolutePath(tmpdir) && dirExists(tmpdir)) return tmpdir;
    return "/tmp";
}

int isNoExecFileSystem(const char* path) {
    struct statvfs vfs;
    if (statvfs(path, &vfs) != 0) return 0;
    return (vfs.f_flag & ST_NOEXEC) != 0 ? 1 : 0;
}

int getTempDir(const char* tempDir, char* dst, size_t size) {
    int n = snprintf(dst, size, "%s", tempDir);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        if (size > 0) dst[0] = '\0';
        return -1;
    }
    return 0;
}

int getCurrentDir(char* buf, size_t size) {
    if (size == 0) return -1;
    if (getcwd(buf, size) == nullptr) {
        buf[0] = '\0';
        return -1;
    }
    return 0;
}

int changeDir(const char* path) { return chdir(path); }

int getPid() { return static_cast<int>(getpid()); }

int makeDirPrivate(const char* path) {
    if (mkdir(path, 0700) == 0) return 0;
    return errno == EEXIST ? 1 : -1;
}

int enterPrivateDir(const char* path) {
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP || errno == ENOTDIR ? 1 : -1;
    struct stat st;
    int result = 0;
    if (fstat(fd, &st) != 0)
        result = -1;
    else if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0)
        result = 1;
    else if (fchdir(fd) != 0)
        result = -1;
    close(fd);
    return result;
}

namespace {

// Depth-first below an open directory; one descriptor per level.
int removeEntryAt(int dirFd, const char* name, int depth) {
    if (unlinkat(dirFd, name, 0) == 0) return 0;
    if (errno == ENOENT) return 0;
    if (errno != EISDIR && errno != EPERM) return errno;
    if (depth > 256) return ELOOP;
    int fd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOTDIR ? EPERM : errno;  // not a folder: the unlink's EPERM
    DIR* d = fdopendir(fd);
    if (d == nullptr) {
        int err = errno;
        close(fd);
        return err;
    }
    int first = 0;
    while (struct dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        int err = removeEntryAt(fd, e->d_name, depth + 1);
        if (err != 0 && first == 0) first = err;
    }
    closedir(d);
    if (unlinkat(dirFd, name, AT_REMOVEDIR) != 0 && errno != ENOENT && first == 0) first = errno;
    return first;
}

}  // namespace

int removeTreeIn(const char* parent, const char* name) {
    int fd = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int err = removeEntryAt(fd, name, 0);
    close(fd);
    return err;
}
