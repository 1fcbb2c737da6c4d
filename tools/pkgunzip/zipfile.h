// The one reader of zip archives for pkgunzip and mkpkg: minizip reads the archive (a whole file,
// or a slice of one such as the image inside a package) through a small window of the file, read
// with pread, so the memory it takes does not grow with the archive and each handle has its own
// position (several threads may read one archive through handles of their own); and the walk over
// the central directory, entry by entry.
#pragma once

#include <minizip/unzip.h>

#include <cstdint>
#include <functional>
#include <string>

namespace pkgunzip {

// Size of each handle's read window (bytes).
const unsigned kReadWindow = 256u << 10;

// Opens path read-only. Returns the archive handle, or nullptr with a reason ("No such file or
// directory", "not a zip archive or cut short (no end of central directory)") in *why.
// unzClose() closes the file with the handle.
unzFile openZipFile(const char* path, std::string* why);

// The same for bytes [offset, offset + length) of path, read as if they were the whole file.
unzFile openZipSlice(const char* path, uint64_t offset, uint64_t length, std::string* why);

// Longest entry name read whole (bytes); a longer one is given cut to this length.
const unsigned kMaxEntryName = 4096;

struct ZipEntryInfo {
    std::string name;      // the stored bytes, NUL bytes included; compare info.size_filename
    unz_file_info64 info;  // as minizip reads it from the central directory
};

// Reads the central directory record of the current entry into *entry. Returns UNZ_OK or
// minizip's error.
int readCurrentEntry(unzFile zip, ZipEntryInfo* entry);

enum class ZipWalkEnd {
    AllVisited,       // visit saw every entry (none for an empty archive)
    Stopped,          // visit returned false
    EntryUnreadable,  // an entry's record could not be read
    MoveFailed,       // moving to the first or the next entry failed
};

struct ZipWalk {
    ZipWalkEnd end;
    int error;  // minizip's error for EntryUnreadable and MoveFailed, else UNZ_OK
};

// Walks the central directory from the first entry, calling visit with each one while the
// archive is positioned on it (visit may read its data), until visit returns false.
ZipWalk walkZipEntries(unzFile zip, const std::function<bool(const ZipEntryInfo&)>& visit);

}  // namespace pkgunzip
