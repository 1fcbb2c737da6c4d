// `mkpkg info` and `mkpkg extract` through the real program: text and JSON reports, damaged
// packages, and the elements written for inspection.
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "tests/tools/mkpkg/pkgfixture.h"
#include "tests/support/testutil.h"
#include "pkgformat/pkgdigest.h"

using nlohmann::json;
using testutil::TempDir;

namespace {

// Clause 0 asks for an update level no system has; clause 1 fits every system.
const char* const kTwoClauses =
    "; clauses\n"
    "2\n"
    "*\t999999\t*\tnever.cfg\n"
    "*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg\n"
    "./image/kickoff.cfg\n"
    "./image\n"
    "; setup, command, defaults, mode\n"
    "true\n"
    "./kickoff\n"
    "-q\n"
    "append\n"
    "trailing text\n";

struct Built {
    TempDir dir;
    std::string pkg = dir.file("p.pkg");
    explicit Built(const std::string& bootcfg) {
        pkgfixture::writeContent(dir.file("c"), "#!/bin/sh\n", "cfg\n");
        testutil::writeFile(dir.file("c/never.cfg"), "x");
        testutil::writeFile(dir.file("b.cfg"), bootcfg);
        testutil::RunResult r = pkgfixture::mkpkg({"build", "-o", pkg, "--content", dir.file("c"), "--bootcfg",
                                                   dir.file("b.cfg"), "--unzip", "/usr/bin/miniunzip"});
        EXPECT_EQ(r.status, 0) << r.err;
    }
};

TEST(Info, JsonReportsDirectoryImageLinesFitAndCommand) {
    Built b(kTwoClauses);
    testutil::RunResult r = pkgfixture::mkpkg({"info", b.pkg, "--json", "--", "A", "b c"});
    ASSERT_EQ(r.status, 0) << r.err;
    json j = json::parse(r.out);
    std::string raw = testutil::readFile(b.pkg);
    EXPECT_EQ(j["fileLength"], raw.size());
    EXPECT_EQ(j["directory"]["byteOrder"], "little-endian");
    EXPECT_EQ(j["directory"]["consistent"], true);
    EXPECT_EQ(j["directory"]["elements"][0]["size"], testutil::readFile(pkgfixture::packedProgram("pkgstub")).size());
    const size_t bootSize = std::string(kTwoClauses).size() + PKG_DIGEST_RECORD_SIZE;
    EXPECT_EQ(j["directory"]["elements"][3]["size"], bootSize);
    EXPECT_EQ(j["directory"]["elements"][3]["offset"], raw.size() - 16 - bootSize);
    EXPECT_EQ(j["digest"]["holds"], true);
    EXPECT_EQ(j["digest"]["recorded"], j["digest"]["computed"]);
    ASSERT_EQ(j["image"]["entries"].size(), 5u);
    EXPECT_EQ(j["image"]["entries"][2]["name"], "image/readme.txt");
    EXPECT_EQ(j["image"]["entries"][2]["size"], 16);
    EXPECT_EQ(j["image"]["entries"][2]["crc"].get<std::string>().size(), 8u);
    EXPECT_EQ(j["image"]["intact"], true);

    std::vector<std::string> roles;
    for (const auto& l : j["bootConfig"]["lines"]) roles.push_back(l["role"]);
    EXPECT_EQ(roles, (std::vector<std::string>{"comment", "count", "clause", "clause", "final startup config file name",
                                               "startupDir", "comment", "setupPriorStartup", "startupCmd",
                                               "defaultArgs", "argsControl", "ignored", "ignored"}));
    EXPECT_EQ(j["bootConfig"]["lines"][1]["count"], 2);
    EXPECT_EQ(j["bootConfig"]["lines"][3]["clause"], 1);
    EXPECT_EQ(j["bootConfig"]["lines"][10]["mode"], "append");
    EXPECT_EQ(j["bootConfig"]["clauses"][0]["update"], "999999");
    EXPECT_EQ(j["thisSystem"]["fittingClause"], 1);
    EXPECT_EQ(j["thisSystem"]["file"], "Linux_verAny_UP0_xAny.wrapcfg");
    EXPECT_EQ(j["thisSystem"]["description"].get<std::string>().rfind("Linux ", 0), 0u);
    EXPECT_EQ(j["arguments"], (std::vector<std::string>{"A", "b c"}));
    EXPECT_EQ(j["startupCommand"], "./kickoff -q A b c");
    // Only that the setup command must put ./kickoff into ./image.
    ASSERT_EQ(j["problems"].size(), 1u);
    EXPECT_EQ(j["problems"][0]["severity"], "warning");
}

TEST(Info, TextShowsEveryLineWithHowItIsRead) {
    Built b(kTwoClauses);
    testutil::RunResult r = pkgfixture::mkpkg({"info", b.pkg, "--", "X"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* want : {
             "  consistent: the sizes and the directory add up to the file length\n",
             "image: 5 entries\n",
             "launcher: 64-bit x86-64 program\n",
             "space a run needs in /tmp (or TMPDIR): ",
             "  image/readme.txt\n",
             "boot configuration: 13 lines\n",
             "    2  count 2                           '2'\n",
             "    3  clause 0                          '*\\t999999\\t*\\tnever.cfg'\n",
             "    5  final startup config file name    './image/kickoff.cfg'\n",
             "   11  argsControl (append)              'append'\n",
             "   12  ignored                           'trailing text'\n",
             "fitting clause: 1 (file 'Linux_verAny_UP0_xAny.wrapcfg')\n",
             "arguments: 'X'\n",
             "startup command: './kickoff -q X'\n",
         })
        EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n--- in ---\n" << r.out;
}

// Bytes that are not UTF-8 still give valid JSON, and the text shows them as escapes.
TEST(Info, NonUtf8BootConfigStillGivesJson) {
    Built b(std::string("; caf\xe9\n") + pkgfixture::shippedBootCfg());
    testutil::RunResult r = pkgfixture::mkpkg({"info", "--json", b.pkg});
    ASSERT_EQ(r.status, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["bootConfig"]["lines"].size(), 14u);  // the digest record included
    EXPECT_EQ(j["startupCommand"], "./kickoff");
    r = pkgfixture::mkpkg({"info", b.pkg});
    EXPECT_NE(r.out.find("'; caf\\xe9'"), std::string::npos);
}

TEST(Info, DamagedPackageIsReportedWithExit1) {
    Built b(pkgfixture::shippedBootCfg());
    std::string bytes = testutil::readFile(b.pkg);
    testutil::writeFile(b.pkg, bytes.substr(0, bytes.size() - 116) + bytes.substr(bytes.size() - 16), 0755);
    testutil::RunResult r = pkgfixture::mkpkg({"info", b.pkg});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("  NOT consistent: its directory sizes add up to "), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "mkpkg: error: package '" + b.pkg + "' is damaged: its directory sizes add up to " +
                         std::to_string(bytes.size() - 16) + " bytes plus the 16-byte directory, but the file has " +
                         std::to_string(bytes.size() - 100) +
                         " bytes (sizes past the end of the file: the package file is damaged or incomplete)\n");
    r = pkgfixture::mkpkg({"info", b.pkg, "--json"});
    EXPECT_EQ(r.status, 1);
    json j = json::parse(r.out);
    EXPECT_EQ(j["directory"]["consistent"], false);
    EXPECT_TRUE(j["image"].is_null());
    EXPECT_EQ(j["problems"].size(), 1u);

    r = pkgfixture::mkpkg({"info", b.dir.file("missing.pkg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "mkpkg: cannot open '" + b.dir.file("missing.pkg") + "': No such file or directory\n");
}

TEST(Info, CorruptImageIsAProblem) {
    Built b(pkgfixture::shippedBootCfg());
    std::string bytes = testutil::readFile(b.pkg);
    size_t at = bytes.find("image/readme.txt") + 16 + 4;  // inside that entry's deflated data
    bytes[at] = static_cast<char>(bytes[at] ^ 0x5a);
    testutil::writeFile(b.pkg, bytes, 0755);
    testutil::RunResult r = pkgfixture::mkpkg({"info", b.pkg});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is damaged: entry 'image/readme.txt'"), std::string::npos) << r.err;
}

TEST(Extract, WritesElementsThatMatchTheSources) {
    Built b(pkgfixture::shippedBootCfg());
    std::string out = b.dir.file("x");
    testutil::RunResult r = pkgfixture::mkpkg({"extract", b.pkg, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "mkpkg: wrote " + out + "/0-launcher\nmkpkg: wrote " + out + "/1-unzip\nmkpkg: wrote " + out +
                         "/2-image.zip\nmkpkg: wrote " + out + "/3-bootcfg.txt\n");
    EXPECT_TRUE(testutil::readFile(out + "/0-launcher") == testutil::readFile(pkgfixture::packedProgram("pkgstub")));
    EXPECT_TRUE(testutil::readFile(out + "/1-unzip") == testutil::readFile("/usr/bin/miniunzip"));
    // With the digest record as its last line.
    std::string boot = testutil::readFile(out + "/3-bootcfg.txt");
    EXPECT_EQ(boot.rfind(pkgfixture::shippedBootCfg(), 0), 0u) << boot;
    EXPECT_EQ(boot.find("; package digest crc32 "), std::string(pkgfixture::shippedBootCfg()).size()) << boot;
    struct stat st;
    ASSERT_EQ(stat((out + "/1-unzip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat((out + "/2-image.zip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // The extracted image is a zip file the system unzip can test.
    EXPECT_EQ(testutil::run({"/usr/bin/unzip", "-tq", out + "/2-image.zip"}).status, 0);
}

}  // namespace
