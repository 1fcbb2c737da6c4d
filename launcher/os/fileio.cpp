#include "launcher/os/fileio.h"

#include <fcntl.h>
#include <unistd.h>

#include "common/banned.h"

int fd_open(const char* path) { return open(path, O_RDONLY | O_CLOEXEC); }

int fd_create(const char* path) { return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0200); }

long fd_read(int fd, void* buf, size_t size) { return static_cast<long>(read(fd, buf, size)); }

long fd_write(int fd, const void* data, size_t len) { return static_cast<long>(write(fd, data, len)); }

long long fd_seek(int fd, long long offset, int whence) {
    return static_cast<long long>(lseek(fd, static_cast<off_t>(offset), whence));
}

int fd_close(int fd) { return close(fd); }
