// Extraction of a whole zip archive into the current directory, as a package's unzip utility.
#pragma once

#include <cstdint>
#include <string>

namespace pkgunzip {

// Size of the buffer each entry is inflated into and written from.
const unsigned kWriteBuffer = 256u << 10;

// Extracts every entry of `archive` below the current directory with its stored path, creating
// folders; files are written with mode 0666 less the umask. Stops at the first fault and returns
// false with one line in *error (no newline) naming the entry and the reason: a CRC mismatch, an
// inflate error, a truncated archive, no space left, a failed write, an unsafe name (absolute, or
// with a ".." component), a name longer than kMaxEntryName (zipfile.h; refused rather than cut)
// or an unsupported entry. The file being written when it fails is removed; files extracted
// before it stay. Two workers extract entries side by side (one each core of a two-processor
// machine); the fault reported is still the first in the archive's order, though entries after it
// may have been written. An archive where order matters (a file named twice, also in two
// spellings such as "a" and "./a" or "d/f" and "d//f", a file whose name is also a folder of
// another entry) is extracted by one worker, in order, as is every archive when no second thread
// can be made.
bool extractAll(const char* archive, std::string* error);

// The same for the archive that is bytes [offset, offset + length) of the file path (the image
// inside a package).
bool extractSlice(const char* path, uint64_t offset, uint64_t length, std::string* error);

// Reads every entry of that archive through, without writing anything, and checks its CRC and
// size and that its name is safe. *entries counts the entries looked at. false with one line in
// *error (no newline) naming the entry and the fault.
bool testSlice(const char* path, uint64_t offset, uint64_t length, uint64_t* entries, std::string* error);

// Whether a stored entry name may be written below the working directory: not empty, not
// absolute, no ".." component.
bool isSafeEntryName(const std::string& name);

}  // namespace pkgunzip
