// Reads the entry list of a zip archive, also one that is a slice of a larger file (the image
// inside a package), and checks that every entry decompresses to its recorded CRC.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mkpkg {

struct ZipEntry {
    std::string name;
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    uint32_t crc = 0;
    uint32_t unixMode = 0;  // from the external attributes when made on unix, else 0
    bool isDir = false;
    std::string head;  // the first kEntryHeadSize bytes of a file's data (read when verified)
};

constexpr size_t kEntryHeadSize = 512;

struct ZipListing {
    std::vector<ZipEntry> entries;
    std::string problem;  // "" when every entry read back whole with the right CRC
};

// Lists the archive held in bytes [offset, offset + length) of the file path; with verify, also
// reads every entry through. Throws Error when the bytes are not a zip archive at all (label
// names the archive in the message, e.g. "image 'x.zip'").
ZipListing listZip(const std::string& path, uint64_t offset, uint64_t length, bool verify, const std::string& label);

// The same for a whole file.
ZipListing listZipFile(const std::string& path, bool verify);

// True when entries hold name as a file. A leading "./" and repeated '/' in name are ignored,
// as the launcher's copy would resolve them.
bool zipHasFile(const std::vector<ZipEntry>& entries, const std::string& name);

}  // namespace mkpkg
