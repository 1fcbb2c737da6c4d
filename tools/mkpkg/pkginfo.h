// Everything `mkpkg info` tells about a package, gathered once and shown as text or JSON.
#pragma once

#include <string>
#include <vector>

#include "tools/mkpkg/bootconfig.h"
#include "tools/mkpkg/lint.h"
#include "tools/mkpkg/pkgreader.h"
#include "tools/mkpkg/thissystem.h"
#include "tools/mkpkg/zipreader.h"

namespace mkpkg {

struct PackageInfo {
    PackageLayout layout;
    bool imageRead = false;  // false when the layout is damaged or the image is no zip archive
    ZipListing image;
    bool bootRead = false;
    BootConfig boot;
    SystemFit system;
    std::vector<std::string> args;  // the user arguments the command is composed for
    bool commandFits = false;
    std::string command;
    std::vector<Problem> problems;  // no errors for a sound package
    std::string launcherKind;       // elfKind of the launcher, "" when it is no ELF program
    uint64_t spaceNeeded = 0;       // image and unzip utility copied out, and the image unpacked
    // The package digest (pkgformat/pkgdigest.h): checked only for a consistent layout.
    // DIGEST_FAILS with digestProblem; recorded and computed are set when they could be read.
    int digestCheck = 1;  // a DigestCheck
    bool digestRecordRead = false;
    uint32_t digestRecorded = 0;
    bool digestComputed = false;
    uint32_t digestActual = 0;
    std::string digestProblem;
};

// Which system the clause is chosen for: this one (both empty), --system TEXT or --system-from DIR.
struct Target {
    std::string system;
    std::string systemFrom;
};

// Reads package path and works out all of the above. Throws Error only when the file cannot be
// read as a package at all (missing, unreadable, shorter than its directory), UsageError for a
// target system text that cannot be used.
PackageInfo inspectPackage(const std::string& path, const std::vector<std::string>& args,
                           const Target& target = Target());

}  // namespace mkpkg
