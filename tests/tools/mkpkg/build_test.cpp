// `mkpkg build` through the real program: the package it writes, its defaults, what it refuses
// (one line, exit 1, nothing left behind) and its usage errors.
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <fstream>
#include <functional>
#include <regex>

#include <gtest/gtest.h>

#include "tests/tools/mkpkg/pkgfixture.h"
#include "tools/mkpkg/pkgreader.h"
#include "tests/support/testutil.h"
#include "pkgformat/pkgdigest.h"
#include "tools/mkpkg/zipreader.h"

using testutil::TempDir;

namespace {

using pkgfixture::kMiniunzip;
using pkgfixture::Sources;

std::string element(const std::string& pkg, int i) { return mkpkg::readElement(mkpkg::readLayout(pkg), i); }

TEST(Build, PackageHoldsLauncherUnzipImageAndBootConfig) {
    Sources s;
    testutil::RunResult r = pkgfixture::mkpkg(s.args());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, pkgfixture::shippedStartupWarning(s.bootcfg));
    EXPECT_TRUE(
        std::regex_match(r.out, std::regex("mkpkg: launcher for x86_64 \\(runs on 64-bit x86 kernels\\): [^\n]+/pkgstub"
                                           "\nmkpkg: zipping 3 files from " +
                                           s.content +
                                           "\nmkpkg: image has 4 entries \\([0-9]+ bytes\\)\n"
                                           "mkpkg: wrote " +
                                           s.pkg +
                                           " \\([0-9]+ bytes\\)\n"
                                           "mkpkg: digest crc32 [0-9a-f]{8} recorded as the boot "
                                           "configuration's last line\n")))
        << r.out;

    mkpkg::PackageLayout l = mkpkg::readLayout(s.pkg);
    ASSERT_TRUE(l.consistent) << l.problem;
    EXPECT_EQ(l.order, mkpkg::ByteOrder::Little);
    EXPECT_TRUE(mkpkg::readElement(l, 0) == testutil::readFile(pkgfixture::packedProgram("pkgstub")));
    EXPECT_TRUE(mkpkg::readElement(l, 1) == testutil::readFile(kMiniunzip));
    std::string boot = mkpkg::readElement(l, 3);
    ASSERT_GT(boot.size(), PKG_DIGEST_RECORD_SIZE);
    EXPECT_EQ(boot.substr(0, boot.size() - PKG_DIGEST_RECORD_SIZE), pkgfixture::shippedBootCfg());
    EXPECT_EQ(boot.compare(boot.size() - PKG_DIGEST_RECORD_SIZE, 23, "; package digest crc32 "), 0) << boot;
    mkpkg::ZipListing image = mkpkg::listZip(s.pkg, l.offsets[2], l.sizes[2], true, "image");
    std::vector<std::string> names;
    for (const auto& e : image.entries) names.push_back(e.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Linux_verAny_UP0_xAny.wrapcfg", "image/", "image/readme.txt", "kickoff"}));
    struct stat st;
    ASSERT_EQ(stat(s.pkg.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(testutil::listDir(s.out), std::vector<std::string>{"pkg"});
}

TEST(Build, SameSourcesGiveTheSameBytes) {
    Sources s;
    ASSERT_EQ(pkgfixture::mkpkg(s.args()).status, 0);
    std::string first = testutil::readFile(s.pkg);
    struct utimbuf older = {1000000000, 1000000000};  // file times must not reach the archive
    utime((s.content + "/kickoff").c_str(), &older);
    ASSERT_EQ(pkgfixture::mkpkg(s.args()).status, 0);
    EXPECT_TRUE(first == testutil::readFile(s.pkg));
}

// A big-endian launcher of a processor other than ppc64 (here s390) reads the directory as stored.
TEST(Build, BigEndianDirectoryForABigEndianLauncher) {
    Sources s;
    std::string launcher = s.dir.file("launcher-s390");
    testutil::writeFile(launcher,
                        std::string("\x7f"
                                    "ELF\x01\x02\x01\0\0\0\0\0\0\0\0\0\0\x02\0\x16",
                                    20) +
                            "code",
                        0755);
    std::vector<std::string> args = s.args();
    args.insert(args.end(), {"--big-endian", "--launcher", launcher});
    testutil::RunResult r = pkgfixture::mkpkg(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, pkgfixture::shippedStartupWarning(s.bootcfg));
    mkpkg::PackageLayout l = mkpkg::readLayout(s.pkg);
    ASSERT_TRUE(l.consistent);
    EXPECT_EQ(l.order, mkpkg::ByteOrder::Big);
    uint32_t launcherSize = 24;
    EXPECT_EQ(l.sizes[0], launcherSize);
    EXPECT_EQ(l.raw[0], static_cast<uint8_t>(launcherSize >> 24));
    EXPECT_EQ(l.raw[3], static_cast<uint8_t>(launcherSize));
}

TEST(Build, ReadyImageIsStoredAsGiven) {
    Sources s;
    std::string zip = s.dir.file("ready.zip");
    testutil::RunOptions o;
    o.cwd = s.content;
    ASSERT_EQ(testutil::run({"/usr/bin/zip", "-qr", zip, "."}, o).status, 0);
    ASSERT_EQ(
        pkgfixture::mkpkg({"build", "-o", s.pkg, "--image", zip, "--bootcfg", s.bootcfg, "--unzip", kMiniunzip}).status,
        0);
    EXPECT_TRUE(element(s.pkg, 2) == testutil::readFile(zip));
}

// Without --launcher and --unzip: the static pkgstub and pkgunzip built for --arch (x86_64 when
// not given), named in the progress; an unknown processor is a usage error.
TEST(Build, DefaultsAreTheProgramsBuiltForTheProcessor) {
    Sources s;
    const std::vector<std::string> base{"build", "-o", s.pkg, "--content", s.content, "--bootcfg", s.bootcfg};
    const bool haveDist = testutil::pathExists(testutil::binPath("../dist/x86_64"));
    const bool haveI386 = testutil::pathExists(testutil::binPath("../dist/i386"));
    for (const char* arch : {"", "i386", "x86_64"}) {
        if (*arch && !haveDist) continue;  // a build without the static programs
        std::vector<std::string> args = base;
        if (*arch) args.insert(args.end(), {"--arch", arch});
        testutil::RunResult r = pkgfixture::mkpkg(args);
        const std::string want = *arch ? arch : "x86_64";
        if (want == "i386" && !haveI386) {  // the 32-bit libraries were missing at build time
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find("no i386 pkgstub"), std::string::npos) << r.err;
            continue;
        }
        ASSERT_EQ(r.status, 0) << arch << ": " << r.err;
        EXPECT_TRUE(element(s.pkg, 0) == testutil::readFile(pkgfixture::packedProgram("pkgstub", want))) << arch;
        EXPECT_TRUE(element(s.pkg, 1) == testutil::readFile(pkgfixture::packedProgram("pkgunzip", want))) << arch;
        if (haveDist) {
            EXPECT_NE(r.out.find("mkpkg: launcher for " + want + " (runs on "), std::string::npos) << r.out;
        }
    }
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--arch", "arm"});
    testutil::RunResult r = pkgfixture::mkpkg(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "mkpkg build: unknown --arch 'arm'; give i386 or x86_64");
}

struct Refusal {
    const char* name;
    std::function<void(Sources&, std::vector<std::string>&)> setup;
    std::function<std::string(const Sources&)> message;
};

TEST(Build, RefusesWhatWouldMakeABrokenPackage) {
    const Refusal cases[] = {
        {"boot configuration missing", [](Sources& s, std::vector<std::string>&) { unlink(s.bootcfg.c_str()); },
         [](const Sources& s) {
             return "cannot open boot configuration '" + s.bootcfg + "': No such file or directory";
         }},
        {"element of 2 GiB",
         [](Sources& s, std::vector<std::string>& args) {
             std::string big = s.dir.file("big-launcher");
             { std::ofstream f(big); }
             if (truncate(big.c_str(), 0x80000000LL) != 0) ADD_FAILURE() << "truncate";
             args.push_back("--launcher");
             args.push_back(big);
         },
         [](const Sources& s) {
             return "launcher '" + s.dir.file("big-launcher") +
                    "' has 2147483648 bytes, 2 GiB or more; the launcher reads only elements below 2 GiB, make it "
                    "smaller";
         }},
        {"corrupt image",
         [](Sources& s, std::vector<std::string>& args) {
             testutil::writeFile(s.dir.file("bad.zip"), "PK\x03\x04 this is no archive");
             args = {"build",     "-o",      s.pkg,     "--image", s.dir.file("bad.zip"),
                     "--bootcfg", s.bootcfg, "--unzip", kMiniunzip};
         },
         [](const Sources& s) {
             return "image '" + s.dir.file("bad.zip") +
                    "' is not a readable zip archive; rebuild it (e.g. with mkpkg build --content DIR)";
         }},
        {"launcher missing",
         [](Sources& s, std::vector<std::string>& args) {
             args.push_back("--launcher");
             args.push_back(s.dir.file("nope"));
         },
         [](const Sources& s) {
             return "cannot open launcher '" + s.dir.file("nope") + "': No such file or directory";
         }},
        {"output inside the content",
         [](Sources& s, std::vector<std::string>& args) { args[2] = s.content + "/image/pkg"; },
         [](const Sources& s) {
             return "output '" + s.content + "/image/pkg' is inside the content folder '" + s.content +
                    "'; write the package somewhere else";
         }},
        {"content is a file", [](Sources& s, std::vector<std::string>& args) { args[4] = s.bootcfg; },
         [](const Sources& s) { return "content '" + s.bootcfg + "' is not a folder; pass a folder to --content"; }},
    };
    for (const Refusal& c : cases) {
        Sources s;
        std::vector<std::string> args = s.args();
        c.setup(s, args);
        testutil::RunResult r = pkgfixture::mkpkg(args);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err, "mkpkg: " + c.message(s) + "\n") << c.name;
        EXPECT_EQ(testutil::listDir(s.out), std::vector<std::string>{}) << c.name << ": something left behind";
    }
}

// A write that fails half way (file size limit) leaves neither a package nor a temporary file,
// and an older package at the output path keeps its bytes.
TEST(Build, FailedWriteLeavesNoHalfPackage) {
    Sources s;
    testutil::writeFile(s.pkg, "older package", 0755);
    std::string cmd = "ulimit -f 64; exec " + testutil::shellQuote(testutil::binPath("mkpkg"));
    for (const std::string& a : s.args()) cmd += " " + testutil::shellQuote(a);
    testutil::RunResult r = testutil::runShell(cmd);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_EQ(testutil::listDir(s.out), std::vector<std::string>{"pkg"});
    EXPECT_EQ(testutil::readFile(s.pkg), "older package");
}

TEST(Build, UsageErrorsExitWith2) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* firstLine;  // of stderr, or of stdout for help
    };
    const Case cases[] = {
        {{}, 2, "usage: mkpkg COMMAND ..."},
        {{"frob"}, 2, "mkpkg: unknown command 'frob'; see 'mkpkg --help'"},
        {{"build", "-o", "p"}, 2, "mkpkg build: missing --content DIR or --image ZIP"},
        {{"info"}, 2, "mkpkg info: missing PKG: name the package file to show"},
        {{"extract", "p"}, 2, "mkpkg extract: needs PKG and DIR"},
        {{"--help"}, 0, "usage: mkpkg COMMAND ..."},
        {{"build", "--help"}, 0, "usage: mkpkg build -o PKG (--content DIR | --image ZIP) --bootcfg FILE"},
    };
    for (const Case& c : cases) {
        testutil::RunResult r = pkgfixture::mkpkg(c.args);
        EXPECT_EQ(r.status, c.status) << c.firstLine;
        const std::string& text = c.status == 0 ? r.out : r.err;
        EXPECT_EQ(text.substr(0, text.find('\n')), c.firstLine);
    }
}

}  // namespace

namespace {

int recordsIn(const std::string& text) {
    int n = 0;
    for (size_t at = text.find("; package digest crc32 "); at != std::string::npos;
         at = text.find("; package digest crc32 ", at + 1))
        ++n;
    return n;
}

// A package rebuilt from `mkpkg extract`'s parts gets a fresh record in place of the old one.
TEST(Build, RebuildFromExtractedPartsReplacesTheDigestRecord) {
    Sources s;
    ASSERT_EQ(pkgfixture::mkpkg(s.args()).status, 0);
    std::string parts = s.dir.file("parts");
    ASSERT_EQ(pkgfixture::mkpkg({"extract", s.pkg, parts}).status, 0);
    std::string extracted = testutil::readFile(parts + "/3-bootcfg.txt");
    EXPECT_EQ(recordsIn(extracted), 1);
    testutil::writeFile(s.bootcfg, extracted + "; a note added later\n");
    testutil::RunResult r = pkgfixture::mkpkg(s.args());
    ASSERT_EQ(r.status, 0) << r.err;
    std::string boot = element(s.pkg, 3);
    EXPECT_EQ(recordsIn(boot), 1) << boot;
    EXPECT_NE(boot.find("; a note added later\n; package digest crc32 "), std::string::npos) << boot;
    testutil::writeFile(s.bootcfg, extracted);
    ASSERT_EQ(pkgfixture::mkpkg(s.args()).status, 0);
    boot = element(s.pkg, 3);
    EXPECT_EQ(recordsIn(boot), 1);
    EXPECT_EQ(boot.size(), extracted.size());
    r = pkgfixture::mkpkg({"info", s.pkg});
    EXPECT_NE(r.out.find("\ndigest: crc32 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" recorded, holds\n"), std::string::npos) << r.out;
}

// Without a final line feed the record would join the last line's value: none is written.
TEST(Build, NoDigestAfterALastLineWithoutLineFeed) {
    Sources s;
    std::string cfg = pkgfixture::shippedBootCfg();
    testutil::writeFile(s.bootcfg, cfg.substr(0, cfg.size() - 1));
    std::vector<std::string> args = s.args();
    args.push_back("--force");
    testutil::RunResult r = pkgfixture::mkpkg(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("mkpkg: no digest recorded: the boot configuration does not end with a line feed\n"),
              std::string::npos);
    EXPECT_EQ(element(s.pkg, 3), cfg.substr(0, cfg.size() - 1));
    r = pkgfixture::mkpkg({"info", s.pkg});
    EXPECT_NE(r.out.find("digest: none recorded"), std::string::npos) << r.out;
}

}  // namespace
