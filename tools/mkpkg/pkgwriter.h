// Builds a package file: checks the parts, zips the content, writes launcher, unzip utility,
// image, boot configuration and directory through a temporary file renamed into place.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include "tools/mkpkg/options.h"
#include "pkgformat/pkgformat.h"

namespace mkpkg {

struct BuildResult {
    std::string output;
    uint64_t length = 0;
    PkgSizes sizes{};
    size_t imageEntries = 0;
    bool digested = false;  // a digest record was written (pkgformat/pkgdigest.h)
    uint32_t digest = 0;
};

// Does the whole build of `mkpkg build`, printing progress lines ("mkpkg: ...") on progress and
// the author's mistakes (lint.h; "mkpkg: error: ..." / "mkpkg: warning: ...") on diag. Throws
// Error with a one-line reason for everything it refuses, errors among those mistakes included
// unless opts.force; nothing is left at the output path (an earlier file there stays untouched)
// and no temporary file remains.
BuildResult buildPackage(const BuildOptions& opts, std::ostream& progress, std::ostream& diag);

// Path of the static program `name` (pkgstub or pkgunzip) built for arch ("" means x86_64): in
// build/dist/ARCH beside mkpkg's build/bin, or libexec/zav_fwpkg/ARCH of an installation. With
// arch "" and neither folder present, the program beside mkpkg. "" with the reason in *why
// when there is none.
std::string packageProgram(const std::string& name, const std::string& arch, std::string* why);

}  // namespace mkpkg
