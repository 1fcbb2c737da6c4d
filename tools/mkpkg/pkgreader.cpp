#include "tools/mkpkg/pkgreader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "tools/mkpkg/errors.h"
#include "common/banned.h"

namespace mkpkg {

namespace {

struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// Reads exactly len bytes at offset; false on a short read (errno set, or 0 for end of file).
bool preadAll(int fd, char* buf, size_t len, uint64_t offset) {
    while (len > 0) {
        ssize_t got = pread(fd, buf, len, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = 0;
            return false;
        }
        buf += got;
        len -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

void requireConsistent(const PackageLayout& layout) {
    if (!layout.consistent)
        throw Error("package " + quote(layout.path) + " is damaged: " + layout.problem +
                    "; rebuild it with mkpkg build");
}

}  // namespace

PackageLayout readLayout(const std::string& path) {
    PackageLayout layout;
    layout.path = path;
    Fd f(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0) throw Error(systemError("open", path, errno));
    struct stat st;
    if (fstat(f.fd, &st) != 0) throw Error(systemError("read", path, errno));
    if (!S_ISREG(st.st_mode)) throw Error("package " + quote(path) + " is not a regular file");
    layout.fileLength = static_cast<uint64_t>(st.st_size);
    if (layout.fileLength < PKG_DIRECTORY_SIZE)
        throw Error("package " + quote(path) + " has " + std::to_string(layout.fileLength) +
                    " bytes, fewer than its 16-byte directory; it is not a package");
    layout.directoryOffset = layout.fileLength - PKG_DIRECTORY_SIZE;
    if (!preadAll(f.fd, reinterpret_cast<char*>(layout.raw.data()), layout.raw.size(), layout.directoryOffset))
        throw Error(systemError("read", path, errno ? errno : EIO));

    // The order whose sizes add up to the file; little-endian when neither does.
    long long length = static_cast<long long>(layout.fileLength);
    PkgSizes little = decodePkgSizes(layout.raw, PkgByteOrder::Little);
    PkgSizeCheck check = checkPkgSizes(little, length);
    layout.order = PkgByteOrder::Little;
    layout.sizes = little;
    if (check.lengthMismatch) {
        PkgSizes big = decodePkgSizes(layout.raw, PkgByteOrder::Big);
        PkgSizeCheck bigCheck = checkPkgSizes(big, length);
        if (!bigCheck.lengthMismatch) {
            layout.order = PkgByteOrder::Big;
            layout.sizes = big;
            check = bigCheck;
        }
    }

    uint64_t offset = 0;
    for (int i = 0; i < PKG_ELEMENTS; ++i) {
        layout.offsets[static_cast<size_t>(i)] = offset;
        offset += layout.sizes[static_cast<size_t>(i)];
    }

    layout.consistent = check.consistent();
    if (check.lengthMismatch) {
        uint64_t sum = check.total - PKG_DIRECTORY_SIZE;
        layout.problem = "its directory sizes add up to " + std::to_string(sum) +
                         " bytes plus the 16-byte directory, but the file has " + std::to_string(layout.fileLength) +
                         " bytes" +
                         (sum > layout.directoryOffset
                              ? " (sizes past the end of the file: the package file is damaged or incomplete)"
                              : " (extra bytes)");
    } else if (check.oversized >= 0) {
        int i = check.oversized;
        layout.problem = "element " + std::to_string(i) + " (" + pkgElementNames(i).display + ") has " +
                         std::to_string(layout.sizes[static_cast<size_t>(i)]) + " bytes, 2 GiB or more";
    } else if (check.fileTooLarge) {
        // With the sizes adding up to the file, this is also the case of a total of 2 GiB or more.
        layout.problem = "the file has " + std::to_string(layout.fileLength) + " bytes, 2 GiB or more";
    }
    return layout;
}

std::string readElement(const PackageLayout& layout, int index) {
    requireConsistent(layout);
    Fd f(open(layout.path.c_str(), O_RDONLY | O_CLOEXEC));
    if (f.fd < 0) throw Error(systemError("open", layout.path, errno));
    std::string data(layout.sizes[static_cast<size_t>(index)], '\0');
    if (!preadAll(f.fd, &data[0], data.size(), layout.offsets[static_cast<size_t>(index)]))
        throw Error(systemError("read", layout.path, errno ? errno : EIO));
    return data;
}

void copyElement(const PackageLayout& layout, int index, const std::string& dest, mode_t mode) {
    requireConsistent(layout);
    Fd in(open(layout.path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) throw Error(systemError("open", layout.path, errno));
    Fd out(open(dest.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (out.fd < 0) throw Error(systemError("create", dest, errno));
    std::unique_ptr<char[]> buf(new char[1 << 16]);
    uint64_t remaining = layout.sizes[static_cast<size_t>(index)];
    uint64_t offset = layout.offsets[static_cast<size_t>(index)];
    try {
        while (remaining > 0) {
            size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, 1 << 16));
            if (!preadAll(in.fd, buf.get(), chunk, offset))
                throw Error(systemError("read", layout.path, errno ? errno : EIO));
            size_t done = 0;
            while (done < chunk) {
                ssize_t w = write(out.fd, buf.get() + done, chunk - done);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) throw Error(systemError("write", dest, errno ? errno : EIO));
                done += static_cast<size_t>(w);
            }
            remaining -= chunk;
            offset += chunk;
        }
        if (fchmod(out.fd, mode) != 0) throw Error(systemError("set the mode of", dest, errno));
        int fd = out.fd;
        out.fd = -1;
        if (close(fd) != 0) throw Error(systemError("write", dest, errno));
    } catch (...) {
        unlink(dest.c_str());
        throw;
    }
}

std::vector<std::string> extractPackage(const std::string& pkg, const std::string& dir) {
    PackageLayout layout = readLayout(pkg);
    requireConsistent(layout);
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) throw Error(systemError("create folder", dir, errno));
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw Error("output " + quote(dir) + " exists and is not a folder; name a folder to extract into");
    std::vector<std::string> written;
    for (int i = 0; i < PKG_ELEMENTS; ++i) {
        std::string dest = (!dir.empty() && dir.back() == '/' ? dir : dir + "/") + pkgElementNames(i).file;
        copyElement(layout, i, dest, i == PKG_LAUNCHER || i == PKG_UNZIP ? 0755 : 0644);
        written.push_back(dest);
    }
    return written;
}

}  // namespace mkpkg
