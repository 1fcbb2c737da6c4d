#include "tools/mkpkg/pkgfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>

#include "tools/mkpkg/errors.h"
#include "pkgformat/pkgdigest.h"
#include "common/banned.h"

namespace mkpkg {

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string leafOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

TempFile::TempFile(const std::string& near, const std::string& suffix) {
    std::string templ = folderOf(near) + "/." + leafOf(near) + suffix + ".XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    fd_ = mkostemp(buf.data(), O_CLOEXEC);
    if (fd_ < 0) throw Error(systemError("create a file in folder", folderOf(near), errno));
    path_ = buf.data();
}

TempFile::~TempFile() {
    if (fd_ >= 0) close(fd_);
    if (!path_.empty()) unlink(path_.c_str());
}

void TempFile::closeFd() {
    int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && close(fd) != 0) throw Error(systemError("write", path_, errno));
}

namespace {

void writeAll(int fd, const char* data, size_t len, const std::string& path) {
    while (len > 0) {
        ssize_t w = write(fd, data, len);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) throw Error(systemError("write", path, errno ? errno : EIO));
        data += w;
        len -= static_cast<size_t>(w);
    }
}

}  // namespace

void writeWhole(int fd, const std::string& data, const std::string& path) {
    writeAll(fd, data.data(), data.size(), path);
}

uint32_t writePackageFile(const std::string& output, const std::array<std::string, PKG_ELEMENTS>& parts,
                          const PkgSizes& sizes, bool bigEndian, bool digest) {
    struct stat st;
    if (stat(output.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw Error("output " + quote(output) + " is a folder; give a file name to -o");
    TempFile tmp(output, ".mkpkg");
    std::vector<char> buf(1 << 16);
    uint32_t crc = 0;
    for (int i = 0; i < PKG_ELEMENTS; ++i) {
        const std::string& part = parts[static_cast<size_t>(i)];
        uint64_t want = sizes[static_cast<size_t>(i)];
        if (digest && i == PKG_BOOTCFG) {
            if (want < PKG_DIGEST_RECORD_SIZE)
                throw Error("boot configuration size leaves no room for the digest record");
            want -= PKG_DIGEST_RECORD_SIZE;
        }
        std::ifstream in(part, std::ios::binary);
        if (!in) throw Error(systemError("open", part, errno));
        uint64_t copied = 0;
        while (in && copied <= want) {
            in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
            std::streamsize got = in.gcount();
            if (got <= 0) break;
            copied += static_cast<uint64_t>(got);
            if (copied <= want) {
                writeAll(tmp.fd(), buf.data(), static_cast<size_t>(got), tmp.path());
                crc = pkgDigestUpdate(crc, buf.data(), static_cast<size_t>(got));
            }
        }
        if (in.bad()) throw Error(systemError("read", part, errno ? errno : EIO));
        if (copied != want)
            throw Error(std::string(pkgElementNames(i).display) + " " + quote(part) +
                        " changed while being packaged (" + std::to_string(want) + " bytes expected, " +
                        (copied > want ? "more" : std::to_string(copied)) + " found); run the build again");
    }
    PkgRawDirectory raw = encodePkgSizes(sizes, bigEndian ? PkgByteOrder::Big : PkgByteOrder::Little);
    if (digest) {
        // The record covers the directory that follows it: its sizes already count the record.
        crc = pkgDigestUpdate(crc, raw.data(), raw.size());
        char record[PKG_DIGEST_RECORD_SIZE + 1];
        formatDigestRecord(crc, record, sizeof(record));
        writeAll(tmp.fd(), record, PKG_DIGEST_RECORD_SIZE, tmp.path());
    }
    writeAll(tmp.fd(), reinterpret_cast<const char*>(raw.data()), raw.size(), tmp.path());
    if (fsync(tmp.fd()) != 0) throw Error(systemError("write", tmp.path(), errno));
    if (fchmod(tmp.fd(), 0755) != 0) throw Error(systemError("set the mode of", tmp.path(), errno));
    tmp.closeFd();
    if (rename(tmp.path().c_str(), output.c_str()) != 0) throw Error(systemError("rename into", output, errno));
    tmp.keep();
    return digest ? crc : 0;
}

}  // namespace mkpkg
