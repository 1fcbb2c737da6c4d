// Reads a package file: its directory, the place of each element, and the elements themselves.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pkgformat/pkgformat.h"

namespace mkpkg {

using ByteOrder = PkgByteOrder;

struct PackageLayout {
    std::string path;
    uint64_t fileLength = 0;
    PkgRawDirectory raw{};
    // The order in which the sizes add up to the file length; little-endian when neither does.
    ByteOrder order = ByteOrder::Little;
    PkgSizes sizes{};
    std::array<uint64_t, PKG_ELEMENTS> offsets{};
    uint64_t directoryOffset = 0;  // fileLength - 16
    // True when the sizes plus the directory are exactly the file length and every element and
    // the file are below 2 GiB; otherwise problem says what is wrong.
    bool consistent = false;
    std::string problem;
};

// Reads the directory of the package path. Throws Error when the file cannot be opened or read,
// or is shorter than the 16-byte directory. An inconsistent directory is not an error here.
PackageLayout readLayout(const std::string& path);

// Element index whole into memory. Throws Error when the layout is not consistent or the read
// fails.
std::string readElement(const PackageLayout& layout, int index);

// Copies element index into a new file dest with the given mode (streamed, not held in memory).
// Throws Error; a failed copy removes dest.
void copyElement(const PackageLayout& layout, int index, const std::string& dest, mode_t mode);

// Writes the four elements of package pkg into folder dir (created if missing) under the names of
// pkgElementNames(); launcher and unzip utility mode 0755, the others 0644. Returns the paths.
std::vector<std::string> extractPackage(const std::string& pkg, const std::string& dir);

}  // namespace mkpkg
