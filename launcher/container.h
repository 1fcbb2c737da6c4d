// Package container: reading the directory at the end of an open package file and the four
// elements it places (the layout itself is in pkgformat.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "pkgformat/pkgformat.h"

// Elements are copied to disk in chunks of this many bytes through one fixed buffer.
constexpr int PKG_COPY_CHUNK = 131072;

// Reads the directory from the last 16 bytes of fd_src, decodes it in the given byte order and
// checks it against the file's length (checkPkgDirectory, pkgformat.h). Returns 0, or -1 after showing one
// of "Failed seeking to package directory", "Failed reading package directory" or "Failed
// checking package directory: <reason>" (showError).
int readPkgDirectory(int fd_src, PkgByteOrder order, PkgDirectory* pkgDir);

// Positions fd_src at the start of element pkgIndex. Returns the offset, or -1.
long seekToPkgElement(int pkgIndex, const PkgDirectory* pkgDir, int fd_src);

// Reads element pkgIndex whole into buf (capacity buflen). Returns its size, or -1 after
// showing a message (displayMessages).
int extractPkgElement(int pkgIndex, const PkgDirectory* pkgDir, int fd_src, char* buf, unsigned buflen);

// Copies element pkgIndex into a new file path (mode 0200 as created) in 131072-byte chunks.
// Returns 0, or -1 without a message; a partly written file stays on disk.
int extractPkgElementFile(int pkgIndex, const char* path, const PkgDirectory* pkgDir, int fd_src);
