#include "launcher/container.h"

#include <cstdio>
#include <cstring>

#include "launcher/console.h"
#include "launcher/os/fileio.h"
#include "common/banned.h"

int readPkgDirectory(int fd_src, PkgByteOrder order, PkgDirectory* pkgDir) {
    long long dirPos = fd_seek(fd_src, -PKG_DIRECTORY_SIZE, 2);
    if (dirPos < 0) {
        showError("Failed seeking to package directory\n");
        return -1;
    }
    PkgRawDirectory raw;
    if (fd_read(fd_src, raw.data(), raw.size()) != PKG_DIRECTORY_SIZE) {
        showError("Failed reading package directory\n");
        return -1;
    }
    pkgDir->size = decodePkgSizes(raw, order);
    char why[256];
    if (checkPkgDirectory(pkgDir, dirPos + PKG_DIRECTORY_SIZE, why, sizeof(why)) != 0) {
        showError("Failed checking package directory: %s\n", why);
        return -1;
    }
    return 0;
}

long seekToPkgElement(int pkgIndex, const PkgDirectory* pkgDir, int fd_src) {
    // Summed wide: a directory that passed checkPkgDirectory never comes near the top, and one
    // that did not must not wrap round to a wrong, valid-looking position.
    unsigned long long offset = 0;
    for (int i = 0; i < pkgIndex; ++i) offset += pkgDir->size[i];
    return static_cast<long>(fd_seek(fd_src, static_cast<long long>(offset), 0));
}

int extractPkgElement(int pkgIndex, const PkgDirectory* pkgDir, int fd_src, char* buf, unsigned buflen) {
    uint32_t size = pkgDir->size[pkgIndex];
    if (size > buflen) {
        // "extractPkgExlement": kept as shipped (scripts may match the message).
        showError("extractPkgExlement failed where buflen %d < pkgDir->size[pkgIndex %d]) \n", static_cast<int>(buflen),
                  pkgIndex);
        return -1;
    }
    if (size >= PKG_SIZE_LIMIT) {
        showError("extractPkgElement failed where pkgDir->size[pkgIndex %d] is 2 GiB or more\n", pkgIndex);
        return -1;
    }
    if (seekToPkgElement(pkgIndex, pkgDir, fd_src) < 0) {
        showError("extractPkgElement failed where seekToPkgElement(pkgIndex %d, pkgDir, fd_src) < 0) \n", pkgIndex);
        return -1;
    }
    if (fd_read(fd_src, buf, size) != static_cast<long>(size)) {
        showError("extractPkgElement failed where pkgDir->size[pkgIndex %d] !=  (unsigned int) ...\n", pkgIndex);
        return -1;
    }
    return static_cast<int>(size);
}

int extractPkgElementFile(int pkgIndex, const char* path, const PkgDirectory* pkgDir, int fd_src) {
    static char chunkBuf[PKG_COPY_CHUNK];
    // Such a size would count as negative below and copy nothing: refuse it instead.
    if (pkgDir->size[pkgIndex] >= PKG_SIZE_LIMIT) return -1;
    long long remaining = pkgDir->size[pkgIndex];
    memset(chunkBuf, 0, sizeof(chunkBuf));

    int fd = fd_create(path);
    if (fd < 0) return -1;
    if (seekToPkgElement(pkgIndex, pkgDir, fd_src) < 0) {
        fd_close(fd);
        return -1;
    }
    while (remaining > 0) {
        long chunk = remaining > PKG_COPY_CHUNK ? PKG_COPY_CHUNK : static_cast<long>(remaining);
        if (fd_read(fd_src, chunkBuf, static_cast<size_t>(chunk)) != chunk) break;
        if (fd_write(fd, chunkBuf, static_cast<size_t>(chunk)) != chunk) break;
        remaining -= chunk;
    }
    if (fd_close(fd) != 0) return -1;
    return remaining == 0 ? 0 : -1;
}
