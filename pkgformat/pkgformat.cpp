#include "pkgformat/pkgformat.h"

#include <cstdio>
#include <cstring>

#include "common/banned.h"

namespace {

// "package boot config" and "boot configuration" both stay: each is in shipped output.
const PkgElementNames c_elementNames[PKG_ELEMENTS] = {
    {"launcher", "launcher", "0-launcher"},
    {"unzip utility", "unzip utility", "1-unzip"},
    {"package image", "package image", "2-image.zip"},
    {"package boot config", "boot configuration", "3-bootcfg.txt"},
};
const PkgElementNames c_unknownElement = {"?", "?", "?"};

int shiftOf(int byte, PkgByteOrder order) { return order == PkgByteOrder::Big ? 24 - 8 * byte : 8 * byte; }

}  // namespace

const PkgElementNames& pkgElementNames(int index) {
    return index >= 0 && index < PKG_ELEMENTS ? c_elementNames[index] : c_unknownElement;
}

PkgByteOrder pkgHostByteOrder() {
    const uint32_t one = 1;
    unsigned char first = 0;
    memcpy(&first, &one, 1);
    return first == 1 ? PkgByteOrder::Little : PkgByteOrder::Big;
}

PkgByteOrder pkgSwappedByteOrder(PkgByteOrder order) {
    return order == PkgByteOrder::Big ? PkgByteOrder::Little : PkgByteOrder::Big;
}

uint32_t ByteSwap2(uint32_t value) {
    return ((value & 0xFFu) << 24) + ((value & 0xFF00u) << 8) + ((value & 0xFF0000u) >> 8) +
           ((value & 0xFF000000u) >> 24);
}

PkgRawDirectory encodePkgSizes(const PkgSizes& sizes, PkgByteOrder order) {
    PkgRawDirectory raw{};
    for (size_t i = 0; i < sizes.size(); ++i)
        for (int b = 0; b < 4; ++b)
            raw[4 * i + static_cast<size_t>(b)] = static_cast<uint8_t>(sizes[i] >> shiftOf(b, order));
    return raw;
}

PkgSizes decodePkgSizes(const PkgRawDirectory& raw, PkgByteOrder order) {
    PkgSizes sizes{};
    for (size_t i = 0; i < sizes.size(); ++i)
        for (int b = 0; b < 4; ++b)
            sizes[i] |= static_cast<uint32_t>(raw[4 * i + static_cast<size_t>(b)]) << shiftOf(b, order);
    return sizes;
}

PkgSizeCheck checkPkgSizes(const PkgSizes& sizes, long long fileLength) {
    PkgSizeCheck check;
    // Summed wide: sizes near the top must not wrap round to a valid-looking total.
    check.total = PKG_DIRECTORY_SIZE;
    for (int i = 0; i < PKG_ELEMENTS; ++i) {
        if (sizes[static_cast<size_t>(i)] >= PKG_SIZE_LIMIT && check.oversized < 0) check.oversized = i;
        check.total += sizes[static_cast<size_t>(i)];
    }
    check.totalTooLarge = check.total >= PKG_SIZE_LIMIT;
    check.fileTooLarge = fileLength >= static_cast<long long>(PKG_SIZE_LIMIT);
    check.lengthMismatch = fileLength < 0 || check.total != static_cast<unsigned long long>(fileLength);
    return check;
}

int checkPkgDirectory(const PkgDirectory* pkgDir, long long fileLength, char* why, size_t whySize) {
    PkgSizeCheck check = checkPkgSizes(pkgDir->size, fileLength);
    // A download cut short (or grown) no longer ends in its own directory, so the sizes read
    // there are whatever bytes now stand at the end: say that first, before judging them, and
    // before any element is read from the wrong place.
    if (check.lengthMismatch) {
        snprintf(why, whySize,
                 "the elements and the directory add up to %llu bytes, but the package file is %lld bytes; the "
                 "package file is damaged or incomplete",
                 check.total, fileLength);
        return -1;
    }
    if (check.oversized >= 0) {
        int i = check.oversized;
        snprintf(why, whySize, "element %d '%s' is %u bytes, 2 GiB or more", i, pkgElementNames(i).message,
                 static_cast<unsigned>(pkgDir->size[static_cast<size_t>(i)]));
        return -1;
    }
    if (check.totalTooLarge) {
        snprintf(why, whySize, "the elements and the directory add up to %llu bytes, 2 GiB or more", check.total);
        return -1;
    }
    if (check.fileTooLarge) {
        snprintf(why, whySize, "the package file is %lld bytes, 2 GiB or more", fileLength);
        return -1;
    }
    if (whySize > 0) why[0] = '\0';
    return 0;
}
