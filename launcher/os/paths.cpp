#include "launcher/os/paths.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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
