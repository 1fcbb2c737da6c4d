// The package digest: a CRC-32 (zlib's) over every byte of the package file except its own record.
// The record is a comment line of fixed length at the very end of the boot configuration,
//
//     "; package digest crc32 0123abcd\n"
//
// so launchers and packers that know nothing of it skip it (';' lines are comments, and nothing
// after argsControl is read). Covered: the launcher, the unzip utility, the image, the boot
// configuration up to the record, and the 16-byte directory. A CRC-32 finds the damage downloads
// and disks make; it is no defence against tampering.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pkgformat/pkgformat.h"

constexpr char c_digestRecordPrefix[] = "; package digest crc32 ";
// The prefix, eight lower-case hexadecimal digits and the line feed.
constexpr unsigned PKG_DIGEST_RECORD_SIZE = sizeof(c_digestRecordPrefix) - 1 + 8 + 1;

enum DigestRecordState {
    DIGEST_NONE,     // the boot configuration does not end in a record (other packers, older packages)
    DIGEST_PRESENT,  // a well-formed record; its value is given
    DIGEST_DAMAGED,  // the end is a record with a few bytes changed: the file is damaged
};

// Looks at the last bytes of a boot configuration (text, len: the whole element). A record with
// up to PKG_DIGEST_DAMAGE_LIMIT of its fixed bytes changed, or with a value that is not eight
// lower-case hexadecimal digits, is DIGEST_DAMAGED, so that one damaged byte in the record never
// lets the rest of the package run unchecked.
constexpr int PKG_DIGEST_DAMAGE_LIMIT = 4;
DigestRecordState findDigestRecord(const char* text, size_t len, uint32_t* value);

// Writes the record for value into out (PKG_DIGEST_RECORD_SIZE bytes and a NUL; size at least that
// plus one).
void formatDigestRecord(uint32_t value, char* out, size_t size);

// Continues a CRC-32 over data (start with 0), through zlib.
uint32_t pkgDigestUpdate(uint32_t crc, const void* data, size_t len);

// The CRC-32 of the package file open on fd, read with pread (fd's offset is unchanged), whose
// directory is dir (consistent with the file): every byte but the last PKG_DIGEST_RECORD_SIZE of
// the boot configuration. 0, or -1 with errno set when the file cannot be read.
int computePkgDigest(int fd, const PkgDirectory* dir, uint32_t* crc);

enum DigestCheck { DIGEST_HOLDS = 0, DIGEST_NOT_RECORDED = 1, DIGEST_FAILS = -1 };

// Reads the record from the package open on fd and checks it. DIGEST_FAILS comes with a one-line
// reason in why (no newline) that says what was expected and found and that the file is damaged;
// *recorded and *computed are set when known (may be null).
DigestCheck checkPkgDigest(int fd, const PkgDirectory* dir, char* why, size_t whySize, uint32_t* recorded = nullptr,
                           uint32_t* computed = nullptr);
