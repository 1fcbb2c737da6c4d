// Package container: the 16-byte directory at the end of a package file and the readers of
// its four elements (0 launcher, 1 unzip utility, 2 zip image, 3 boot configuration).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int PKG_ELEMENTS = 4;
constexpr int PKG_DIRECTORY_SIZE = 16;
// Elements are copied to disk in chunks of this many bytes through one fixed buffer.
constexpr int PKG_COPY_CHUNK = 131072;
// Every element, and the package file itself, must be smaller than this (2 GiB): positions are
// signed 32-bit offsets.
constexpr unsigned PKG_SIZE_LIMIT = 0x80000000u;

enum PkgIndex { PKG_LAUNCHER = 0, PKG_UNZIP = 1, PKG_IMAGE = 2, PKG_BOOTCFG = 3 };

// The package directory: four element sizes, stored little-endian, element 0 first.
struct PkgDirectory {
    uint32_t size[PKG_ELEMENTS];
};

// value with its four bytes in reverse order.
uint32_t ByteSwap2(uint32_t value);

// Positions fd_src at the start of element pkgIndex. Returns the offset, or -1.
long seekToPkgElement(int pkgIndex, const PkgDirectory* pkgDir, int fd_src);

// Reads element pkgIndex whole into buf (capacity buflen). Returns its size, or -1 after
// showing a message (displayMessages).
int extractPkgElement(int pkgIndex, const PkgDirectory* pkgDir, int fd_src, char* buf, unsigned buflen);

// Copies element pkgIndex into a new file path (mode 0200 as created) in 131072-byte chunks.
// Returns 0, or -1 without a message; a partly written file stays on disk.
int extractPkgElementFile(int pkgIndex, const char* path, const PkgDirectory* pkgDir, int fd_src);

// Checks the limits a reader relies on: every size, and the whole file (the sizes plus the
// directory), below 2 GiB, fileLength below 2 GiB, and the sizes plus the directory equal to
// fileLength (else the reason names both lengths and says the package file is damaged or
// incomplete). Returns 0 when they hold; otherwise -1 with a one-line reason (no newline) in why.
int checkPkgDirectory(const PkgDirectory* pkgDir, long long fileLength, char* why, size_t whySize);
