// Fuzz target: a whole package file through the launcher's container readers, taken apart as
// the launcher does before it runs anything: the directory from the last 16 bytes (in the host's byte
// order, then swapped as on a ppc64 system), the limit check, the boot configuration into
// memory, and the elements into files of the private temporary directory. Nothing is run.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "tests/fuzz/fuzzutil.h"
#include "launcher/container.h"
#include "launcher/os/fileio.h"

namespace {

// Copies element pkgIndex to name in the private directory as the launcher does. When the
// copy succeeds the file must hold exactly the element's bytes of the package. Returns
// whether it succeeded; the file is removed either way.
bool extractAndCompare(int pkgIndex, const char* name, const PkgDirectory& pkgDir, int fd, const uint8_t* data,
                       size_t size) {
    std::string path = fuzzutil::pathIn(name);
    bool ok = extractPkgElementFile(pkgIndex, path.c_str(), &pkgDir, fd) == 0;
    if (ok) {
        chmod(path.c_str(), 0600);  // made write-only (0200) by the reader
        std::string content = fuzzutil::readFileOrDie(path);
        unsigned long long offset = 0;
        for (int i = 0; i < pkgIndex; ++i) offset += pkgDir.size[i];
        FUZZ_CHECK(content.size() == pkgDir.size[pkgIndex]);
        // An empty element reads as empty wherever the directory places it.
        if (!content.empty()) {
            FUZZ_CHECK(offset + content.size() <= size);
            FUZZ_CHECK(memcmp(content.data(), data + offset, content.size()) == 0);
        }
    }
    unlink(path.c_str());
    return ok;
}

void takeApart(int fd, bool ppc64, const uint8_t* data, size_t size) {
    long long dirPos = fd_seek(fd, -PKG_DIRECTORY_SIZE, 2);
    if (dirPos < 0) {
        FUZZ_CHECK(size < PKG_DIRECTORY_SIZE);
        return;
    }
    PkgRawDirectory raw;
    if (fd_read(fd, raw.data(), raw.size()) != PKG_DIRECTORY_SIZE) return;
    PkgDirectory pkgDir;
    pkgDir.size = decodePkgSizes(raw, ppc64 ? pkgSwappedByteOrder(pkgHostByteOrder()) : pkgHostByteOrder());

    char why[256];
    if (checkPkgDirectory(&pkgDir, dirPos + PKG_DIRECTORY_SIZE, why, sizeof(why)) != 0) {
        FUZZ_CHECK(why[0] != '\0');
        return;
    }
    for (uint32_t s : pkgDir.size) FUZZ_CHECK(s < PKG_SIZE_LIMIT);

    // The launcher allocates the boot configuration's size plus a spare byte. A read never
    // returns more than the file holds, so a buffer of the file's length stands in for a larger
    // one without changing any outcome, and the fuzzer is spared allocations of up to 2 GiB.
    uint32_t cfgLen = pkgDir.size[PKG_BOOTCFG];
    size_t capacity = std::min<size_t>(cfgLen, size);
    std::unique_ptr<char[]> cfg(new char[capacity + 1]);
    int n = extractPkgElement(PKG_BOOTCFG, &pkgDir, fd, cfg.get(), cfgLen);
    if (n < 0) return;
    FUZZ_CHECK(static_cast<uint32_t>(n) == cfgLen);
    unsigned long long cfgOffset = 0ULL + pkgDir.size[0] + pkgDir.size[1] + pkgDir.size[2];
    if (cfgLen > 0) {
        FUZZ_CHECK(cfgOffset + cfgLen <= size);
        FUZZ_CHECK(memcmp(cfg.get(), data + cfgOffset, cfgLen) == 0);
    }

    if (!extractAndCompare(PKG_IMAGE, "image.zip", pkgDir, fd, data, size)) return;
    if (!ppc64 && !extractAndCompare(PKG_UNZIP, "miniunz", pkgDir, fd, data, size)) return;
    extractAndCompare(PKG_BOOTCFG, "imgboot.cfg", pkgDir, fd, data, size);  // debug level 2
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string package = fuzzutil::pathIn("package");
    fuzzutil::writeFileOrDie(package, data, size);
    int fd = fd_open(package.c_str());
    if (fd < 0) abort();
    takeApart(fd, false, data, size);
    takeApart(fd, true, data, size);
    fd_close(fd);
    return 0;
}
