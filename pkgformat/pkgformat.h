// Package file layout, the one description the launcher and mkpkg share: the four elements
// (0 launcher, 1 unzip utility, 2 zip image, 3 boot configuration) one after another, then a
// 16-byte directory of their sizes, element 0 first. Pure: no I/O, no messages.
//
// Byte order of the directory: little-endian as written for the usual launcher. A launcher for
// ppc64 reads the words swapped relative to its own host order; mkpkg writes big-endian words for
// a big-endian launcher of another processor (see tools/mkpkg/lint.h). Every reader and writer
// names the order it uses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr int PKG_ELEMENTS = 4;
constexpr int PKG_DIRECTORY_SIZE = 16;
// Every element, and the package file itself, must be smaller than this (2 GiB): the launcher's
// positions are signed 32-bit offsets.
constexpr unsigned PKG_SIZE_LIMIT = 0x80000000u;

enum PkgIndex { PKG_LAUNCHER = 0, PKG_UNZIP = 1, PKG_IMAGE = 2, PKG_BOOTCFG = 3 };

using PkgSizes = std::array<uint32_t, PKG_ELEMENTS>;
using PkgRawDirectory = std::array<uint8_t, PKG_DIRECTORY_SIZE>;

// The package directory as the launcher holds it: the four element sizes.
struct PkgDirectory {
    PkgSizes size;
};

// What each element is called. The texts are fixed by their users' output and differ on
// purpose: the launcher's messages ("package boot config"), mkpkg's listings ("boot
// configuration") and the file names `mkpkg extract` writes ("3-bootcfg.txt").
struct PkgElementNames {
    const char* message;
    const char* display;
    const char* file;
};

// Names of element index; "?" for each name when index is not 0..3.
const PkgElementNames& pkgElementNames(int index);

enum class PkgByteOrder { Little, Big };

// The order of the machine this code runs on, and the other one.
PkgByteOrder pkgHostByteOrder();
PkgByteOrder pkgSwappedByteOrder(PkgByteOrder order);

// value with its four bytes in reverse order.
uint32_t ByteSwap2(uint32_t value);

PkgRawDirectory encodePkgSizes(const PkgSizes& sizes, PkgByteOrder order);
PkgSizes decodePkgSizes(const PkgRawDirectory& raw, PkgByteOrder order);

// The facts that decide whether a directory fits its file. Each program words them itself and
// reports them in its own order of preference.
struct PkgSizeCheck {
    int oversized = -1;            // first element of 2 GiB or more, -1 when none
    unsigned long long total = 0;  // the sizes plus the directory
    bool totalTooLarge = false;    // total of 2 GiB or more
    bool fileTooLarge = false;     // the file of 2 GiB or more
    bool lengthMismatch = false;   // total differs from the file length
    bool consistent() const { return oversized < 0 && !totalTooLarge && !fileTooLarge && !lengthMismatch; }
};

// Checks sizes against a package file of fileLength bytes (the directory included).
PkgSizeCheck checkPkgSizes(const PkgSizes& sizes, long long fileLength);

// Checks the limits a reader relies on: the sizes plus the directory equal to fileLength (else
// the reason names both lengths and says the package file is damaged or incomplete; checked
// first), then every size, the whole file (the sizes plus the directory) and fileLength below
// 2 GiB. Returns 0 when they hold; otherwise -1 with a one-line reason (no newline) in why.
int checkPkgDirectory(const PkgDirectory* pkgDir, long long fileLength, char* why, size_t whySize);
