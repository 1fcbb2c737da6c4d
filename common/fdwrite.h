// Writing a whole buffer to a file descriptor.
#pragma once

#include <cstddef>

// Writes all len bytes of data to fd, going on after short writes and interrupted calls
// (EINTR). Returns true; false at the first write that fails, errno saying why.
bool writeAll(int fd, const char* data, size_t len);
