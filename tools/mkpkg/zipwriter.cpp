#include "zipwriter.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include <minizip/zip.h>

#include "errors.h"

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
    std::sort(items.begin(), items.end(),
              [](const ContentItem& a, const ContentItem& b) { return a.name < b.name; });
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
    for (const ContentItem& item : items) {
        info.external_fa = (static_cast<uLong>(item.mode & 0xffffu) << 16) | (item.isDir ? 0x10u : 0u);
        int zip64 = item.size >= 0xffffffffULL ? 1 : 0;
        int err = zipOpenNewFileInZip4_64(zf, item.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                          item.isDir ? 0 : Z_DEFLATED, item.isDir ? 0 : Z_BEST_COMPRESSION, 0,
                                          -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                          madeByUnix, 0, zip64);
        if (err != ZIP_OK) fail("cannot add " + quote(item.name) + " to archive " + quote(zipPath) + " (minizip error " + std::to_string(err) + ")");
        if (!item.isDir) {
            std::ifstream in(item.fullPath, std::ios::binary);
            if (!in) fail(systemError("open", item.fullPath, errno));
            while (in) {
                in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
                std::streamsize got = in.gcount();
                if (got > 0 && zipWriteInFileInZip(zf, buf.data(), static_cast<unsigned>(got)) != ZIP_OK)
                    fail(systemError("write archive", zipPath, errno ? errno : EIO));
            }
            if (in.bad()) fail(systemError("read", item.fullPath, errno));
        }
        if (zipCloseFileInZip(zf) != ZIP_OK) fail(systemError("write archive", zipPath, errno ? errno : EIO));
    }
    closed = true;
    if (zipClose(zf, nullptr) != ZIP_OK) throw Error(systemError("finish archive", zipPath, errno ? errno : EIO));
}

}  // namespace mkpkg
