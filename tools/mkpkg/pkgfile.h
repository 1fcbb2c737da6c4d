// Writing a package file safely: a temporary file in the destination folder, renamed into place
// only when complete, so a failed build never leaves a half package.
#pragma once

#include <array>
#include <string>

#include "pkgformat/pkgformat.h"

namespace mkpkg {

// Folder part of path ("." when it has none); leaf part.
std::string folderOf(const std::string& path);
std::string leafOf(const std::string& path);

// A new file ".LEAF<suffix>.XXXXXX" beside near (mode 0600), removed when the object dies
// unless keep() was called after renaming it.
class TempFile {
public:
    TempFile(const std::string& near, const std::string& suffix);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    void closeFd();  // throws Error when the close reports a write failure
    void keep() { path_.clear(); }

private:
    int fd_ = -1;
    std::string path_;
};

// Writes all of data to fd (the file at path). Throws Error.
void writeWhole(int fd, const std::string& data, const std::string& path);

// Writes parts[0..3] one after another, then the directory of sizes (big-endian words with
// bigEndian), into a temporary file in output's folder, sets mode 0755 and renames it to output.
// Each part must still have exactly its size in sizes. A part that changed, a read or a write
// failure throw Error after removing the temporary file; output is then untouched.
// With digest, the boot configuration part holds the text without the digest record, sizes[3]
// counts the record too (PKG_DIGEST_RECORD_SIZE more), and the record of the whole file
// (pkgformat/pkgdigest.h) is written after the part. Returns the digest (0 without one).
uint32_t writePackageFile(const std::string& output, const std::array<std::string, PKG_ELEMENTS>& parts,
                          const PkgSizes& sizes, bool bigEndian, bool digest = false);

}  // namespace mkpkg
