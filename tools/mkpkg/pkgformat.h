// Package file layout: launcher, unzip utility, image, boot configuration, then a 16-byte
// directory of the four sizes (uint32, little-endian; big-endian only for a big-endian launcher of
// a processor other than ppc64: a ppc64 launcher swaps the words it reads, see lint.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace mkpkg {

constexpr int kElements = 4;
constexpr int kDirectorySize = 16;
// Every element, and the package file, must stay below 2 GiB: the launcher uses signed 32-bit
// file positions.
constexpr uint64_t kSizeLimit = 0x80000000ULL;

using Sizes = std::array<uint32_t, kElements>;
using RawDirectory = std::array<uint8_t, kDirectorySize>;

// "launcher", "unzip utility", "package image", "boot configuration"
const char* elementName(int index);
// File names that extract writes: "0-launcher", "1-unzip", "2-image.zip", "3-bootcfg.txt"
const char* elementFileName(int index);

RawDirectory encodeDirectory(const Sizes& sizes, bool bigEndian);
Sizes decodeDirectory(const RawDirectory& raw, bool bigEndian);

}  // namespace mkpkg
