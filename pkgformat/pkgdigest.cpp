#include "pkgformat/pkgdigest.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include <zlib.h>

#include "common/banned.h"

namespace {

constexpr size_t c_prefixLength = sizeof(c_digestRecordPrefix) - 1;
// Large reads: the digest of a big package costs little more than reading it.
constexpr size_t c_digestChunk = 1u << 20;
// From this many bytes on, two threads share the work.
constexpr uint64_t c_parallelFrom = 8u << 20;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

uint64_t elementOffset(const PkgDirectory* dir, int index) {
    uint64_t offset = 0;
    for (int i = 0; i < index; ++i) offset += dir->size[static_cast<size_t>(i)];
    return offset;
}

// CRC of bytes [from, to) of fd, continued from *crc, read through buf (c_digestChunk bytes).
int digestRange(int fd, uint64_t from, uint64_t to, uint32_t* crc, unsigned char* buf) {
    while (from < to) {
        size_t want = to - from < c_digestChunk ? static_cast<size_t>(to - from) : c_digestChunk;
        ssize_t got = pread(fd, buf, want, static_cast<off_t>(from));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;  // the file shrank under us
            return -1;
        }
        *crc = pkgDigestUpdate(*crc, buf, static_cast<size_t>(got));
        from += static_cast<uint64_t>(got);
    }
    return 0;
}

}  // namespace

DigestRecordState findDigestRecord(const char* text, size_t len, uint32_t* value) {
    if (len < PKG_DIGEST_RECORD_SIZE) return DIGEST_NONE;
    const char* rec = text + len - PKG_DIGEST_RECORD_SIZE;
    int changed = rec[PKG_DIGEST_RECORD_SIZE - 1] == '\n' ? 0 : 1;
    for (size_t i = 0; i < c_prefixLength; ++i) changed += rec[i] == c_digestRecordPrefix[i] ? 0 : 1;
    if (changed > PKG_DIGEST_DAMAGE_LIMIT) return DIGEST_NONE;
    uint32_t v = 0;
    bool hex = true;
    for (size_t i = 0; i < 8; ++i) {
        int h = hexValue(rec[c_prefixLength + i]);
        hex = hex && h >= 0;
        v = (v << 4) | static_cast<uint32_t>(h < 0 ? 0 : h);
    }
    if (changed > 0 || !hex) return DIGEST_DAMAGED;
    *value = v;
    return DIGEST_PRESENT;
}

void formatDigestRecord(uint32_t value, char* out, size_t size) {
    snprintf(out, size, "%s%08x\n", c_digestRecordPrefix, static_cast<unsigned>(value));
}

uint32_t pkgDigestUpdate(uint32_t crc, const void* data, size_t len) {
    const Bytef* p = static_cast<const Bytef*>(data);
    uLong c = crc;
    // zlib takes a uInt length: feed very large buffers in parts.
    while (len > 0) {
        uInt part = len > 0x40000000u ? 0x40000000u : static_cast<uInt>(len);
        c = crc32(c, p, part);
        p += part;
        len -= part;
    }
    return static_cast<uint32_t>(c);
}

int computePkgDigest(int fd, const PkgDirectory* dir, uint32_t* crc) {
    static unsigned char buf[2][c_digestChunk];
    uint64_t bootEnd = elementOffset(dir, PKG_ELEMENTS);
    uint64_t recordAt = bootEnd - PKG_DIGEST_RECORD_SIZE;
    *crc = 0;
    if (dir->size[PKG_BOOTCFG] < PKG_DIGEST_RECORD_SIZE) {
        errno = EINVAL;
        return -1;
    }
    // The check stands before every run: on a large package two threads take a half each, and
    // zlib's crc32_combine joins the two values.
    uint64_t half = recordAt >= c_parallelFrom ? recordAt / 2 : recordAt;
    uint32_t second = 0;
    int secondRc = 0, secondErr = 0;
    std::thread helper;
    if (half < recordAt) {
        try {
            helper = std::thread([&] {
                secondRc = digestRange(fd, half, recordAt, &second, buf[1]);
                secondErr = errno;
            });
        } catch (const std::system_error&) {
            half = recordAt;  // no thread: one pass
        }
    }
    int rc = digestRange(fd, 0, half, crc, buf[0]);
    int err = errno;
    if (helper.joinable()) helper.join();
    if (rc != 0 || secondRc != 0) {
        errno = rc != 0 ? err : secondErr;
        return -1;
    }
    if (half < recordAt)
        *crc = static_cast<uint32_t>(crc32_combine(*crc, second, static_cast<z_off_t>(recordAt - half)));
    return digestRange(fd, bootEnd, bootEnd + PKG_DIRECTORY_SIZE, crc, buf[0]);
}

DigestCheck checkPkgDigest(int fd, const PkgDirectory* dir, char* why, size_t whySize, uint32_t* recorded,
                           uint32_t* computed) {
    if (whySize > 0) why[0] = '\0';
    if (dir->size[PKG_BOOTCFG] < PKG_DIGEST_RECORD_SIZE) return DIGEST_NOT_RECORDED;
    char tail[PKG_DIGEST_RECORD_SIZE];
    uint64_t at = elementOffset(dir, PKG_ELEMENTS) - PKG_DIGEST_RECORD_SIZE;
    if (pread(fd, tail, sizeof(tail), static_cast<off_t>(at)) != static_cast<ssize_t>(sizeof(tail))) {
        snprintf(why, whySize, "cannot read the digest record (%s); the package file is damaged or unreadable",
                 strerror(errno ? errno : EIO));
        return DIGEST_FAILS;
    }
    uint32_t want = 0;
    DigestRecordState state = findDigestRecord(tail, sizeof(tail), &want);
    if (state == DIGEST_NONE) return DIGEST_NOT_RECORDED;
    if (state == DIGEST_DAMAGED) {
        // Quoted as it stands, without its line feed; bytes outside printable ASCII as '?'.
        char shown[PKG_DIGEST_RECORD_SIZE];
        for (size_t i = 0; i + 1 < sizeof(tail); ++i) shown[i] = tail[i] >= 0x20 && tail[i] < 0x7f ? tail[i] : '?';
        shown[sizeof(shown) - 1] = '\0';
        snprintf(why, whySize,
                 "the digest record at the end of the boot configuration reads '%s' where '%s' and eight "
                 "hexadecimal digits were expected; the package file is damaged",
                 shown, c_digestRecordPrefix);
        return DIGEST_FAILS;
    }
    if (recorded) *recorded = want;
    uint32_t got = 0;
    if (computePkgDigest(fd, dir, &got) != 0) {
        snprintf(why, whySize, "cannot read the package file to check its digest (%s)", strerror(errno));
        return DIGEST_FAILS;
    }
    if (computed) *computed = got;
    if (got != want) {
        snprintf(why, whySize,
                 "its digest records crc32 %08x, but its bytes give crc32 %08x; the package file is damaged",
                 static_cast<unsigned>(want), static_cast<unsigned>(got));
        return DIGEST_FAILS;
    }
    return DIGEST_HOLDS;
}
