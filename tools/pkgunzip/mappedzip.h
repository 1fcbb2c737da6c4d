// Read access for minizip to an archive mapped into memory: every read minizip makes is a copy
// out of the mapping, with no system call per read or seek.
#pragma once

#include <minizip/unzip.h>

#include <string>

namespace pkgunzip {

// Opens path read-only through a mapping. Returns the archive handle, or nullptr with a reason
// ("No such file or directory", "not a zip archive or cut short (no end of central directory)")
// in *why. unzClose() releases the mapping with the handle.
unzFile openMappedZip(const char* path, std::string* why);

}  // namespace pkgunzip
