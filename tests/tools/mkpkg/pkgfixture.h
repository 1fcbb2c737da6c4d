// Package sources for tests that build packages with the real mkpkg: the shipped boot
// configuration, a content folder with a kickoff stand-in, and running mkpkg.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/testutil.h"

namespace pkgfixture {

// The boot configuration the product ships: 12 lines, one clause that fits every system.
inline const char* shippedBootCfg() {
    return "; <per-os-class cfg clauses>\n"
           "1\n"
           "*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg\n"
           "; <final startup config file name>\n"
           "./image/kickoff.cfg\n"
           "; <startupDir>\n"
           "./image\n"
           "; <setupPriorStartup> <startupCmd> <defaultArgs> <argsControl>\n"
           "/bin/cp kickoff.cfg kickoff64.cfg 1>/dev/null ; /bin/cp ../kickoff kickoff 1>/dev/null ; "
           "chmod +x kickoff 1>/dev/null\n"
           "./kickoff\n"
           "\n"
           "override <defaultArgs> with <userArgs>\n";
}

// The warning `mkpkg build` gives for the shipped boot configuration at path: its startup command
// runs ./kickoff in ./image, which only its setup command puts there.
inline std::string shippedStartupWarning(const std::string& path) {
    return "mkpkg: warning: boot configuration '" + path +
           "': the startup command (line 10) runs './kickoff' from startupDir './image', which is not in the image; "
           "the setup command must put it there, or the shell says 'not found' (exit 127)\n";
}

// Content for the shipped boot configuration: kickoff (the given shell script) in the root,
// the clause file with cfgText, and the folder image/ that becomes the startup directory.
inline void writeContent(const std::string& dir, const std::string& kickoff, const std::string& cfgText) {
    mkdir(dir.c_str(), 0755);
    testutil::writeFile(dir + "/kickoff", kickoff, 0755);
    testutil::writeFile(dir + "/Linux_verAny_UP0_xAny.wrapcfg", cfgText);
    mkdir((dir + "/image").c_str(), 0755);
    testutil::writeFile(dir + "/image/readme.txt", "package content\n");
}

// The program `mkpkg build` packs by default for arch: the static build in build/dist/ARCH, or
// in a build without those (the sanitizer build) the program in build/bin.
inline std::string packedProgram(const std::string& name, const std::string& arch = "x86_64") {
    const std::string own = testutil::binPath(name);
    std::string dist = own.substr(0, own.rfind("/bin/")) + "/dist/" + arch + "/" + name;
    return testutil::pathExists(dist) ? dist : own;
}

// The unzip utility the tests pack: Debian's, so that a build needs no pkgunzip of its own.
inline const char* const kMiniunzip = "/usr/bin/miniunzip";

// The bytes of a package (little-endian directory) without its digest record, as a packer without
// digests writes it: for tests of what damage does further on, past the launcher's digest check.
// Bytes without a record come back unchanged.
inline std::string withoutDigest(const std::string& pkg) {
    const std::string marker = "; package digest crc32 ";
    const size_t recordSize = marker.size() + 9;
    if (pkg.size() < 16 + recordSize || pkg.compare(pkg.size() - 16 - recordSize, marker.size(), marker) != 0)
        return pkg;
    std::string out = pkg.substr(0, pkg.size() - 16 - recordSize) + pkg.substr(pkg.size() - 16);
    // The boot configuration's size is the last word of the directory.
    size_t at = out.size() - 4;
    uint32_t size = 0;
    for (int b = 3; b >= 0; --b) size = (size << 8) | static_cast<unsigned char>(out[at + static_cast<size_t>(b)]);
    size -= static_cast<uint32_t>(recordSize);
    for (int b = 0; b < 4; ++b) out[at + static_cast<size_t>(b)] = static_cast<char>((size >> (8 * b)) & 0xFF);
    return out;
}

// A content folder, the shipped boot configuration and an output folder in one temporary
// directory, and the `mkpkg build` command line over them.
struct Sources {
    testutil::TempDir dir;
    std::string content = dir.file("content");
    std::string bootcfg = dir.file("boot.cfg");
    std::string out = dir.file("out");
    std::string pkg = dir.file("out/pkg");
    Sources() {
        writeContent(content, "#!/bin/sh\nexit 0\n", "cfg\n");
        testutil::writeFile(bootcfg, shippedBootCfg());
        mkdir(out.c_str(), 0755);
    }
    std::vector<std::string> args() const {
        return {"build", "-o", pkg, "--content", content, "--bootcfg", bootcfg, "--unzip", kMiniunzip};
    }
};

inline testutil::RunResult mkpkg(const std::vector<std::string>& args,
                                 const testutil::RunOptions& opts = testutil::RunOptions()) {
    std::vector<std::string> argv{testutil::binPath("mkpkg")};
    argv.insert(argv.end(), args.begin(), args.end());
    return testutil::run(argv, opts);
}

}  // namespace pkgfixture
