// Read access for minizip to an archive through a small window of the file, read with pread: the
// memory it takes does not grow with the archive, and each handle has its own position, so
// several threads may read one archive through handles of their own.
#pragma once

#include <minizip/unzip.h>

#include <string>

namespace pkgunzip {

// Size of each handle's read window (bytes).
const unsigned kReadWindow = 256u << 10;

// Opens path read-only. Returns the archive handle, or nullptr with a reason ("No such file or
// directory", "not a zip archive or cut short (no end of central directory)") in *why.
// unzClose() closes the file with the handle.
unzFile openZipFile(const char* path, std::string* why);

}  // namespace pkgunzip
