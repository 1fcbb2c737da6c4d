#include "tools/mkpkg/zipwriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <minizip/zip.h>
#include <zlib.h>

#include "tools/mkpkg/errors.h"
#include "common/banned.h"

namespace mkpkg {

namespace {

void walk(const std::string& base, const std::string& rel, std::vector<ContentItem>& items) {
    std::string dirPath = rel.empty() ? base : base + "/" + rel;
    DIR* d = opendir(dirPath.c_str());
    if (!d) throw Error(systemError("read folder", dirPath, errno));
    std::unique_ptr<DIR, int (*)(DIR*)> guard(d, closedir);
    while (dirent* e = readdir(d)) {
        std::string leaf = e->d_name;
        if (leaf == "." || leaf == "..") continue;
        std::string name = rel.empty() ? leaf : rel + "/" + leaf;
        std::string full = base + "/" + name;
        struct stat lst, st;
        if (lstat(full.c_str(), &lst) != 0) throw Error(systemError("read", full, errno));
        if (stat(full.c_str(), &st) != 0)
            throw Error("content " + quote(full) + " is a dangling symbolic link; remove it or point it at a file");
        ContentItem item;
        item.fullPath = full;
        item.mode = st.st_mode;
        if (S_ISDIR(st.st_mode)) {
            if (S_ISLNK(lst.st_mode))
                throw Error("content " + quote(full) +
                            " is a symbolic link to a folder; copy the folder in or remove the link");
            item.name = name + "/";
            item.isDir = true;
            items.push_back(item);
            walk(base, name, items);
        } else if (S_ISREG(st.st_mode)) {
            item.name = name;
            item.size = static_cast<uint64_t>(st.st_size);
            items.push_back(item);
        } else {
            throw Error("content " + quote(full) +
                        " is not a regular file or folder (device, FIFO or socket); remove it from the content");
        }
    }
}

// Deflate level of every compressed entry.
const int kLevel = Z_BEST_COMPRESSION;

// An unlinked scratch file beside the archive (same file system, gone when closed) that holds
// one entry's deflated bytes until it is known whether they are smaller than the file.
class Scratch {
public:
    explicit Scratch(const std::string& zipPath) {
        std::string name = zipPath + ".deflate.XXXXXX";
        fd_ = mkstemp(&name[0]);
        if (fd_ < 0) throw Error(systemError("create scratch file", name, errno));
        unlink(name.c_str());
    }
    ~Scratch() { close(fd_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

struct Deflated {
    uint64_t size = 0;        // bytes read from the file
    uint64_t compressed = 0;  // bytes of raw deflate data in the scratch file
    uint32_t crc = 0;
};

bool writeAll(int fd, const unsigned char* data, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Deflates the file at path, as a zip entry holds it, into the emptied scratch file.
Deflated deflateToScratch(const std::string& path, int scratch, const std::string& zipPath, std::vector<char>& buf) {
    if (ftruncate(scratch, 0) != 0 || lseek(scratch, 0, SEEK_SET) != 0)
        throw Error(systemError("reuse scratch file of", zipPath, errno));
    int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw Error(systemError("open", path, errno));
    std::unique_ptr<int, void (*)(int*)> inGuard(&in, [](int* f) { close(*f); });
    z_stream z{};
    if (deflateInit2(&z, kLevel, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Error("cannot start deflate for " + quote(path) + ": out of memory");
    std::unique_ptr<z_stream, int (*)(z_stream*)> zGuard(&z, deflateEnd);
    std::vector<unsigned char> out(buf.size());
    Deflated d;
    d.crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        ssize_t got = read(in, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw Error(systemError("read", path, errno));
        if (got == 0) flush = Z_FINISH;
        d.size += static_cast<uint64_t>(got);
        d.crc = static_cast<uint32_t>(crc32(d.crc, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(got)));
        z.next_in = reinterpret_cast<Bytef*>(buf.data());
        z.avail_in = static_cast<uInt>(got);
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);  // cannot fail with a valid stream and room in out
            size_t have = out.size() - z.avail_out;
            if (!writeAll(scratch, out.data(), have))
                throw Error(systemError("write scratch file of", zipPath, errno ? errno : EIO));
            d.compressed += have;
        } while (z.avail_out == 0);
    }
    return d;
}

// Appends n bytes of fd, from its start, to the open entry.
void copyToEntry(zipFile zf, int fd, uint64_t n, std::vector<char>& buf, const std::string& what,
                 const std::string& zipPath) {
    if (lseek(fd, 0, SEEK_SET) != 0) throw Error(systemError("read", what, errno));
    while (n > 0) {
        ssize_t got = read(fd, buf.data(), static_cast<size_t>(std::min<uint64_t>(n, buf.size())));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw Error(systemError("read", what, errno));
        if (got == 0)
            throw Error("file " + quote(what) + " shrank while being added to " + quote(zipPath) + "; add it again");
        if (zipWriteInFileInZip(zf, buf.data(), static_cast<unsigned>(got)) != ZIP_OK)
            throw Error(systemError("write archive", zipPath, errno ? errno : EIO));
        n -= static_cast<uint64_t>(got);
    }
}

}  // namespace

std::vector<ContentItem> collectContent(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) throw Error(systemError("open content folder", dir, errno));
    if (!S_ISDIR(st.st_mode)) throw Error("content " + quote(dir) + " is not a folder; pass a folder to --content");
    std::vector<ContentItem> items;
    std::string base = dir;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    walk(base, "", items);
    if (items.empty()) throw Error("content folder " + quote(dir) + " is empty; put the package content in it");
    std::sort(items.begin(), items.end(), [](const ContentItem& a, const ContentItem& b) { return a.name < b.name; });
    return items;
}

std::time_t entryTimestamp() {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch && *epoch) {
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(epoch, &end, 10);
        // zip times start in 1980
        if (errno == 0 && *end == '\0' && v >= 315532800LL) return static_cast<std::time_t>(v);
    }
    return static_cast<std::time_t>(315532800);  // 1980-01-01 00:00:00 UTC
}

void writeZip(const std::string& zipPath, const std::vector<ContentItem>& items, std::time_t stamp) {
    Scratch scratch(zipPath);
    zipFile zf = zipOpen64(zipPath.c_str(), APPEND_STATUS_CREATE);
    if (!zf) throw Error(systemError("create archive", zipPath, errno ? errno : EIO));
    bool closed = false;
    auto fail = [&](const std::string& message) {
        if (!closed) zipClose(zf, nullptr);
        closed = true;
        throw Error(message);
    };

    std::tm tmUtc{};
    gmtime_r(&stamp, &tmUtc);
    zip_fileinfo info{};
    info.tmz_date.tm_sec = static_cast<uInt>(tmUtc.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(tmUtc.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(tmUtc.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(tmUtc.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(tmUtc.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(tmUtc.tm_year + 1900);

    const uLong madeByUnix = (3u << 8) | 20u;  // unix host, so the mode bits are read back
    std::vector<char> buf(1 << 16);
    try {
        for (const ContentItem& item : items) {
            info.external_fa = (static_cast<uLong>(item.mode & 0xffffu) << 16) | (item.isDir ? 0x10u : 0u);
            int zip64 = item.size >= 0xffffffffULL ? 1 : 0;
            // A file whose deflated form is not smaller (random data, packed images) is stored.
            Deflated d;
            if (!item.isDir) d = deflateToScratch(item.fullPath, scratch.fd(), zipPath, buf);
            bool deflated = !item.isDir && d.compressed < d.size;
            int err =
                zipOpenNewFileInZip4_64(zf, item.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                        deflated ? Z_DEFLATED : 0, deflated ? kLevel : 0, deflated ? 1 : 0, -MAX_WBITS,
                                        DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, madeByUnix, 0, zip64);
            if (err != ZIP_OK)
                throw Error("cannot add " + quote(item.name) + " to archive " + quote(zipPath) + " (minizip error " +
                            std::to_string(err) + ")");
            if (deflated) {
                copyToEntry(zf, scratch.fd(), d.compressed, buf, "scratch file of " + zipPath, zipPath);
                if (zipCloseFileInZipRaw64(zf, d.size, d.crc) != ZIP_OK)
                    throw Error(systemError("write archive", zipPath, errno ? errno : EIO));
                continue;
            }
            if (!item.isDir) {
                int in = open(item.fullPath.c_str(), O_RDONLY | O_CLOEXEC);
                if (in < 0) throw Error(systemError("open", item.fullPath, errno));
                std::unique_ptr<int, void (*)(int*)> inGuard(&in, [](int* f) { close(*f); });
                copyToEntry(zf, in, d.size, buf, item.fullPath, zipPath);
            }
            if (zipCloseFileInZip(zf) != ZIP_OK)
                throw Error(systemError("write archive", zipPath, errno ? errno : EIO));
        }
    } catch (const Error& e) {
        fail(e.what());
    }
    closed = true;
    if (zipClose(zf, nullptr) != ZIP_OK) throw Error(systemError("finish archive", zipPath, errno ? errno : EIO));
}

}  // namespace mkpkg
