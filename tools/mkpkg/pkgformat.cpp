#include "pkgformat.h"
#include "common/banned.h"

namespace mkpkg {

const char* elementName(int index) {
    static const char* const names[kElements] = {"launcher", "unzip utility", "package image",
                                                 "boot configuration"};
    return index >= 0 && index < kElements ? names[index] : "?";
}

const char* elementFileName(int index) {
    static const char* const names[kElements] = {"0-launcher", "1-unzip", "2-image.zip", "3-bootcfg.txt"};
    return index >= 0 && index < kElements ? names[index] : "?";
}

RawDirectory encodeDirectory(const Sizes& sizes, bool bigEndian) {
    RawDirectory raw{};
    for (int i = 0; i < kElements; ++i) {
        for (int b = 0; b < 4; ++b) {
            int shift = bigEndian ? 24 - 8 * b : 8 * b;
            raw[static_cast<size_t>(4 * i + b)] = static_cast<uint8_t>(sizes[static_cast<size_t>(i)] >> shift);
        }
    }
    return raw;
}

Sizes decodeDirectory(const RawDirectory& raw, bool bigEndian) {
    Sizes sizes{};
    for (int i = 0; i < kElements; ++i) {
        uint32_t v = 0;
        for (int b = 0; b < 4; ++b) {
            int shift = bigEndian ? 24 - 8 * b : 8 * b;
            v |= static_cast<uint32_t>(raw[static_cast<size_t>(4 * i + b)]) << shift;
        }
        sizes[static_cast<size_t>(i)] = v;
    }
    return sizes;
}

}  // namespace mkpkg
