#include "launcher/os/media.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/os/commands.h"
#include "launcher/os/fileio.h"
#include "common/banned.h"

int readDevice(char* buf, const char* path) {
    buf[0] = '\0';
    int fd = fd_open(path);
    if (fd < 0) return 0;
    long n = fd_read(fd, buf, READ_DEVICE_SIZE - 1);
    fd_close(fd);
    if (n <= 0) {
        buf[0] = '\0';
        return 0;
    }
    buf[n] = '\0';
    buf[strcspn(buf, " \t")] = '\0';
    return 1;
}

int mountRemovableMedia(const CommandRunner* runner, const char* tempDir, char* devOut, char* mountOut) {
    fflush(stdout);  // its messages go to standard error, after what was printed before
    devOut[0] = '\0';
    // The listing is written by root: never through a name someone else could have prepared.
    char listPath[1024];
    int n = snprintf(listPath, sizeof(listPath), "%s/port.install.sfdisk.XXXXXX", tempDir);
    int fd = (n > 0 && static_cast<size_t>(n) < sizeof(listPath)) ? mkstemp(listPath) : -1;
    if (fd < 0) {
        fputs("Failed finding removable media.\n", stderr);
        return 1;
    }
    fd_close(fd);

    int result = 1;
    bool listed = listFatPartitions(runner, listPath) == 0 && readDevice(devOut, listPath) == 1 && devOut[0] != '\0';
    if (!listed) {
        fputs("Failed finding removable media.\n", stderr);
    } else if (mountDevice(runner, devOut, c_removableMountPoint) == 0) {
        memcpy(mountOut, c_removableMountPoint, sizeof(c_removableMountPoint));
        result = 0;
    } else {
        fputs("Failed mounting removable media!\n", stderr);
    }
    unlink(listPath);
    return result;
}

int unmountRemovableMedia(const CommandRunner* runner, const char* dev, const char* mountPoint) {
    if (strcmp(mountPoint, c_removableMountPoint) != 0) return 1;
    return unmountDevice(runner, dev);
}

char* findLatestFile(const char* dir, const char* suffix) {
    DIR* d = opendir(dir);
    if (d == nullptr) return nullptr;
    size_t dirLen = strlen(dir);
    size_t suffixLen = strlen(suffix);
    char* best = nullptr;
    time_t bestTime = 0;
    while (dirent* e = readdir(d)) {
        size_t nameLen = strlen(e->d_name);
        if (nameLen < suffixLen || strcmp(e->d_name + nameLen - suffixLen, suffix) != 0) continue;
        char* path = static_cast<char*>(malloc(dirLen + nameLen + 1));
        if (path == nullptr) break;
        memcpy(path, dir, dirLen);
        memcpy(path + dirLen, e->d_name, nameLen + 1);
        struct stat st;
        if (stat(path, &st) == 0 && !S_ISDIR(st.st_mode) && st.st_mtime > bestTime) {
            free(best);
            best = path;
            bestTime = st.st_mtime;
        } else {
            free(path);
        }
    }
    closedir(d);
    return best;
}
