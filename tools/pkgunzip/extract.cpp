#include "tools/pkgunzip/extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include <zlib.h>

#include "tools/pkgunzip/zipfile.h"
#include "common/fdwrite.h"
#include "common/banned.h"

namespace pkgunzip {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string writeReason(int err) {
    if (err == ENOSPC || err == EDQUOT) return std::string("no space left (") + strerror(err) + ")";
    return std::string("cannot write: ") + strerror(err);
}

// Creates every folder on the way to `path` (a relative, checked name). `made` remembers
// the folders already there, so each one costs one mkdir per run.
bool makeParents(const std::string& path, std::set<std::string>* made, int* err) {
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (slash == 0) continue;
        std::string dir = path.substr(0, slash);
        if (made->count(dir)) continue;
        if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
            *err = errno;
            return false;
        }
        made->insert(dir);
    }
    return true;
}

struct ZipCloser {
    void operator()(void* z) const { unzClose(z); }
};

// Inflates the current entry into `path`. Returns "" or the reason it failed.
// Reads the opened current entry through, writing it to fd unless fd < 0, and closes it: "" or the
// reason the entry is bad. minizip checks the CRC only once the stated size has come out; a
// stream that ends early is caught by the count.
std::string drainCurrentEntry(unzFile zip, const unz_file_info64& info, char* buf, int fd) {
    std::string reason;
    uint64_t total = 0;
    for (;;) {
        int n = unzReadCurrentFile(zip, buf, kWriteBuffer);
        if (n == 0) break;
        if (n < 0) {
            if (n == UNZ_ERRNO)
                reason = "truncated archive (the data ends early)";
            else if (n == Z_BUF_ERROR)  // the entry's compressed bytes ran out mid-stream
                reason = "inflate error (the compressed data ends early)";
            else
                reason = std::string("inflate error (") + zError(n) + ")";
            break;
        }
        if (fd >= 0 && !writeAll(fd, buf, static_cast<size_t>(n))) {
            reason = writeReason(errno);
            break;
        }
        total += static_cast<uint64_t>(n);
    }
    if (fd >= 0 && close(fd) != 0 && reason.empty()) reason = writeReason(errno);
    int closed = unzCloseCurrentFile(zip);
    if (reason.empty() && closed == UNZ_CRCERROR) reason = "CRC mismatch (the data is damaged)";
    if (reason.empty() && total != info.uncompressed_size)
        reason = "inflate error (" + std::to_string(total) + " of " + std::to_string(info.uncompressed_size) +
                 " bytes came out)";
    return reason;
}

// Inflates the current entry into `path`. Returns "" or the reason it failed.
std::string extractEntry(unzFile zip, const unz_file_info64& info, const std::string& path, char* buf) {
    if (unzOpenCurrentFile(zip) != UNZ_OK) return "cannot read its local header (damaged or cut short)";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        unzCloseCurrentFile(zip);
        return writeReason(err);
    }
    std::string reason = drainCurrentEntry(zip, info, buf, fd);
    if (!reason.empty()) unlink(path.c_str());
    return reason;
}

}  // namespace

bool isSafeEntryName(const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
        start = end + 1;
    }
    return true;
}

namespace {

// Checks the current entry (index counts from 0) and extracts it. Returns "" or the message.
std::string extractCurrent(unzFile zip, const char* archive, uint64_t index, std::set<std::string>* made, char* buf) {
    ZipEntryInfo current;
    if (readCurrentEntry(zip, &current) != UNZ_OK)
        return quoted(archive) + ": entry " + std::to_string(index + 1) + ": damaged central directory";
    const unz_file_info64& info = current.info;
    if (info.size_filename > kMaxEntryName)
        return quoted(archive) + ": entry " + std::to_string(index + 1) + ": name of " +
               std::to_string(info.size_filename) + " bytes, more than " + std::to_string(kMaxEntryName);
    const std::string& entry = current.name;
    std::string prefix = quoted(entry) + ": ";
    if (entry.find('\0') != std::string::npos || !isSafeEntryName(entry))
        return prefix + "refused: absolute path or '..' component";
    if (info.flag & 1u) return prefix + "encrypted entries are not supported";
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return prefix + "unsupported compression method " + std::to_string(info.compression_method);
    int err = 0;
    if (!makeParents(entry, made, &err)) return prefix + writeReason(err);
    if (entry.back() == '/') return "";  // a folder, made above
    std::string reason = extractEntry(zip, info, entry, buf);
    return reason.empty() ? "" : prefix + reason;
}

// The file a stored name writes: empty and "." components dropped ("./a" and "a//" name "a").
std::string normalName(const std::string& name) {
    std::string out;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        size_t len = end - start;
        if (len > 0 && !(len == 1 && name[start] == '.')) {
            if (!out.empty()) out += '/';
            out.append(name, start, len);
        }
        start = end + 1;
    }
    return out;
}

// Whether the order of the entries matters: a file named twice (in any spelling), or a file
// whose name is also a folder on the way to another entry. Such archives are extracted by one
// worker, in order. A central directory that cannot be walked counts as ordered too (the one
// worker reports it).
bool orderMatters(unzFile zip) {
    std::set<std::string> files, folders;
    ZipWalk walk = walkZipEntries(zip, [&](const ZipEntryInfo& e) {
        if (e.info.size_filename > kMaxEntryName) return false;
        bool folder = !e.name.empty() && e.name.back() == '/';
        const std::string entry = normalName(e.name);
        for (size_t slash = entry.find('/'); slash != std::string::npos; slash = entry.find('/', slash + 1))
            folders.insert(entry.substr(0, slash));
        if (folder) return true;
        return files.insert(entry).second;
    });
    if (walk.end != ZipWalkEnd::AllVisited) return true;
    for (const std::string& f : files)
        if (folders.count(f)) return true;
    return false;
}

// What the workers share: the next entry to take, and the earliest fault.
struct Work {
    const char* archive = nullptr;
    bool slice = false;  // only bytes [offset, offset + length) of archive
    uint64_t offset = 0;
    uint64_t length = 0;
    uint64_t entries = 0;
    std::atomic<uint64_t> next{0};
    std::atomic<uint64_t> faultAt{UINT64_MAX};  // index of the earliest entry that failed
    std::mutex lock;
    std::string fault;
};

unzFile openWork(const Work* work, std::string* why) {
    return work->slice ? openZipSlice(work->archive, work->offset, work->length, why) : openZipFile(work->archive, why);
}

void failAt(Work* work, uint64_t index, const std::string& message) {
    std::lock_guard<std::mutex> guard(work->lock);
    if (index < work->faultAt) {
        work->faultAt = index;
        work->fault = message;
    }
}

// Takes the next entry until none is left. After a fault, only entries before it are still
// taken, so the fault reported is the first in the archive's order, as with one worker. Each
// worker has its own handle on the archive, buffer and record of folders made.
void worker(Work* work) {
    std::string why;
    std::unique_ptr<void, ZipCloser> zip(openWork(work, &why));
    if (!zip) {
        failAt(work, 0, "cannot open " + quoted(work->archive) + ": " + why);
        return;
    }
    std::vector<char> buf(kWriteBuffer);
    std::set<std::string> made;
    uint64_t at = 0;
    int moved = unzGoToFirstFile(zip.get());
    for (;;) {
        uint64_t mine = work->next.fetch_add(1);
        if (mine >= work->entries || mine > work->faultAt) return;
        for (; moved == UNZ_OK && at < mine; ++at) moved = unzGoToNextFile(zip.get());
        if (moved != UNZ_OK) {
            failAt(work, mine, quoted(work->archive) + ": damaged central directory (cut short or overwritten)");
            return;
        }
        std::string message = extractCurrent(zip.get(), work->archive, mine, &made, buf.data());
        if (!message.empty()) {
            failAt(work, mine, message);
            return;
        }
    }
}

}  // namespace

namespace {

bool extractWork(Work* workp, std::string* error) {
    Work& work = *workp;
    const char* archive = work.archive;
    bool ordered = true;
    {
        std::string why;
        std::unique_ptr<void, ZipCloser> zip(openWork(&work, &why));
        if (!zip) {
            *error = "cannot open " + quoted(archive) + ": " + why;
            return false;
        }
        unz_global_info64 global;
        if (unzGetGlobalInfo64(zip.get(), &global) != UNZ_OK) {
            *error = quoted(archive) + ": damaged central directory (cut short or overwritten)";
            return false;
        }
        work.entries = global.number_entry;
        ordered = work.entries < 2 || orderMatters(zip.get());
    }
    // Inflating and writing keep a processor busy: a second worker takes the second core. When
    // no thread can be made, the one worker takes every entry.
    std::thread helper;
    if (!ordered) {
        try {
            helper = std::thread(worker, &work);
        } catch (const std::system_error&) {
        }
    }
    worker(&work);
    if (helper.joinable()) helper.join();
    if (work.faultAt != UINT64_MAX) {
        *error = work.fault;
        return false;
    }
    return true;
}

}  // namespace

bool extractAll(const char* archive, std::string* error) {
    Work work;
    work.archive = archive;
    return extractWork(&work, error);
}

bool extractSlice(const char* path, uint64_t offset, uint64_t length, std::string* error) {
    Work work;
    work.archive = path;
    work.slice = true;
    work.offset = offset;
    work.length = length;
    return extractWork(&work, error);
}

std::string testEntry(unzFile zip, const unz_file_info64& info, char* buf) {
    if (info.flag & 1u) return "encrypted entries are not supported";
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return "unsupported compression method " + std::to_string(info.compression_method);
    if (unzOpenCurrentFile(zip) != UNZ_OK) return "cannot read its local header (damaged or cut short)";
    return drainCurrentEntry(zip, info, buf, -1);
}

bool testSlice(const char* path, uint64_t offset, uint64_t length, uint64_t* entries, std::string* error) {
    *entries = 0;
    std::string why;
    std::unique_ptr<void, ZipCloser> zip(openZipSlice(path, offset, length, &why));
    if (!zip) {
        *error = "the image cannot be opened: " + why;
        return false;
    }
    std::vector<char> buf(kWriteBuffer);
    std::string fault;
    ZipWalk walk = walkZipEntries(zip.get(), [&](const ZipEntryInfo& e) {
        if (e.name.find('\0') != std::string::npos || !isSafeEntryName(e.name))
            fault = quoted(e.name) + ": refused: absolute path or '..' component";
        else if (e.name.back() != '/')
            fault = testEntry(zip.get(), e.info, buf.data());
        if (!fault.empty() && fault[0] != '\'') fault = quoted(e.name) + ": " + fault;
        ++*entries;
        return fault.empty();
    });
    if (!fault.empty()) {
        *error = fault;
        return false;
    }
    if (walk.end != ZipWalkEnd::AllVisited) {
        *error = "damaged central directory (cut short or overwritten)";
        return false;
    }
    return true;
}

}  // namespace pkgunzip
