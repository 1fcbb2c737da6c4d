// Writes a package image (a zip archive) from a folder of package content.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace mkpkg {

// One file or folder of the content, as it goes into the archive.
struct ContentItem {
    std::string name;      // relative path with '/'; folders end with '/'
    std::string fullPath;  // where it is read from
    bool isDir = false;
    mode_t mode = 0;  // permission bits (and type bits) stored in the external attributes
    uint64_t size = 0;
};

// Every file and folder below dir, sorted by name (byte order), so that the same content always
// gives the same archive. Symbolic links to files are followed. Throws Error for what cannot go
// into an archive: an unreadable folder, a link to a folder or a dangling link, a device, FIFO or
// socket, or a folder without anything in it at all (dir itself).
std::vector<ContentItem> collectContent(const std::string& dir);

// Timestamp for every entry: SOURCE_DATE_EPOCH when it is set to a number, else
// 1980-01-01 00:00:00, the earliest a zip entry holds. A fixed time keeps builds reproducible.
std::time_t entryTimestamp();

// Writes items into a new archive zipPath: each file deflated, or stored when deflate does not make
// it smaller; unix modes in the external attributes; each entry stamped with stamp in UTC. A
// scratch file beside zipPath holds one entry's deflated bytes meanwhile (removed at once, so
// nothing is left behind). Throws Error naming the file that failed.
void writeZip(const std::string& zipPath, const std::vector<ContentItem>& items, std::time_t stamp);

}  // namespace mkpkg
