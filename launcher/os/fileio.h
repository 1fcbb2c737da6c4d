// Raw file-descriptor I/O: plain wrappers that return what the system call returns.
// Only a negative descriptor or count means failure; descriptor 0 is valid (the launcher may
// run with standard input closed).
#pragma once

#include <cstddef>

// Opens path for reading (close-on-exec, so children never inherit it). Descriptor or -1.
int fd_open(const char* path);
// Creates or truncates path for writing, permission bits 0200. Descriptor or -1.
int fd_create(const char* path);
// Reads up to size bytes: the count, 0 at end of file, -1 on error.
long fd_read(int fd, void* buf, size_t size);
// Writes len bytes: the count written, or -1.
long fd_write(int fd, const void* data, size_t len);
// whence 0 = from the start, 2 = from the end. The new offset, or -1.
long long fd_seek(int fd, long long offset, int whence);
// 0 or -1.
int fd_close(int fd);
