#include "extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>

#include <zlib.h>

#include "mappedzip.h"

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

bool writeAll(int fd, const char* data, size_t n, int* err) {
    while (n > 0) {
        ssize_t w = write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

struct ZipCloser {
    void operator()(void* z) const { unzClose(z); }
};

// Inflates the current entry into `path`. Returns "" or the reason it failed.
std::string extractEntry(unzFile zip, const unz_file_info64& info, const std::string& path, char* buf) {
    if (unzOpenCurrentFile(zip) != UNZ_OK) return "cannot read its local header (damaged or cut short)";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        unzCloseCurrentFile(zip);
        return writeReason(err);
    }
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
        int err = 0;
        if (!writeAll(fd, buf, static_cast<size_t>(n), &err)) {
            reason = writeReason(err);
            break;
        }
        total += static_cast<uint64_t>(n);
    }
    if (close(fd) != 0 && reason.empty()) reason = writeReason(errno);
    int closed = unzCloseCurrentFile(zip);
    if (reason.empty() && closed == UNZ_CRCERROR) reason = "CRC mismatch (the data is damaged)";
    // minizip checks the CRC only once the stated size has come out; a stream that ends early
    // is caught here.
    if (reason.empty() && total != info.uncompressed_size)
        reason = "inflate error (" + std::to_string(total) + " of " + std::to_string(info.uncompressed_size) +
                 " bytes came out)";
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

bool extractAll(const char* archive, std::string* error) {
    std::string why;
    std::unique_ptr<void, ZipCloser> zip(openMappedZip(archive, &why));
    if (!zip) {
        *error = "cannot open " + quoted(archive) + ": " + why;
        return false;
    }
    std::unique_ptr<char[]> buf(new char[kWriteBuffer]);
    std::set<std::string> made;
    char name[kMaxEntryName + 1];
    int at = unzGoToFirstFile(zip.get());
    for (uint64_t index = 0; at == UNZ_OK; ++index, at = unzGoToNextFile(zip.get())) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip.get(), &info, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK) {
            *error = quoted(archive) + ": entry " + std::to_string(index + 1) + ": damaged central directory";
            return false;
        }
        if (info.size_filename > kMaxEntryName) {
            *error = quoted(archive) + ": entry " + std::to_string(index + 1) + ": name of " +
                     std::to_string(info.size_filename) + " bytes, more than " + std::to_string(kMaxEntryName);
            return false;
        }
        std::string entry(name, info.size_filename);
        std::string prefix = quoted(entry) + ": ";
        if (entry.find('\0') != std::string::npos || !isSafeEntryName(entry)) {
            *error = prefix + "refused: absolute path or '..' component";
            return false;
        }
        if (info.flag & 1u) {
            *error = prefix + "encrypted entries are not supported";
            return false;
        }
        if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
            *error = prefix + "unsupported compression method " + std::to_string(info.compression_method);
            return false;
        }
        int err = 0;
        if (!makeParents(entry, &made, &err)) {
            *error = prefix + writeReason(err);
            return false;
        }
        if (entry.back() == '/') continue;  // a folder, made above
        std::string reason = extractEntry(zip.get(), info, entry, buf.get());
        if (!reason.empty()) {
            *error = prefix + reason;
            return false;
        }
    }
    if (at != UNZ_END_OF_LIST_OF_FILE) {
        *error = quoted(archive) + ": damaged central directory (cut short or overwritten)";
        return false;
    }
    return true;
}

}  // namespace pkgunzip
