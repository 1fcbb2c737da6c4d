// The demo firmware packages end to end: pkgstub unpacks, kickoff and install.sh start nicburn,
// nicburn drives fwsim. Each session runs in a private mount namespace whose /tmp and /var/log
// are fresh tmpfs mounts, so the real log directory and /tmp are never touched.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/support/e2esupport.h"
#include "tests/e2e/support/nictexts.h"
#include "tests/support/testutil.h"

namespace {

using testutil::readFile;
using testutil::shellQuote;

struct PackageRun {
    int status = -1;
    std::string out;
    std::string err;
};

struct Session {
    std::vector<PackageRun> runs;
    std::vector<std::string> logs;  // log files in /var/log/ZAV_Support after the last run
    std::string logText(size_t i) const { return i < logs.size() ? logs[i] : std::string(); }
    std::string tmpAfter;  // what /tmp held after the runs
};

// Runs the package once per argument list in one namespace, in the package's own folder.
Session runPackage(const std::string& package, const std::vector<std::string>& argLists) {
    testutil::TempDir res;
    std::vector<std::string> kept;
    std::string listTmp = "ls -A /tmp";
    std::string tmpLines = testutil::freshTmpLines("none", "mode=1777", {DEMO_DIR, res.path()}, &kept);
    for (const std::string& k : kept) listTmp += " | grep -v -x -F -e " + shellQuote(k);
    std::string script = "set -u\nmount -t tmpfs none /var/log || exit 99\n" + tmpLines + e2e::privateLockLine() +
                         "cd " + shellQuote(DEMO_DIR) + " || exit 98; R=" + shellQuote(res.path()) + "; ";
    for (size_t i = 0; i < argLists.size(); ++i) {
        std::string n = std::to_string(i);
        script += "./" + package + " " + argLists[i] + " >\"$R/out." + n + "\" 2>\"$R/err." + n +
                  "\" </dev/null; echo $? >\"$R/status." + n + "\"; ";
    }
    script +=
        "for f in ethflash.log ethflash001.log ethflash002.log; do "
        "[ -f /var/log/ZAV_Support/$f ] && cp /var/log/ZAV_Support/$f \"$R/$f\"; done; " +
        listTmp + " >\"$R/tmp.after\"; exit 0";
    testutil::RunOptions opts;
    opts.timeoutSeconds = 120;
    opts.unsetEnv = {"TMPDIR"};  // the launcher works in /tmp unless a case sets TMPDIR
    testutil::RunResult r = testutil::run({"unshare", "-m", "sh", "-c", script}, opts);
    EXPECT_EQ(r.status, 0) << "namespace script failed: " << r.err;

    Session s;
    for (size_t i = 0; i < argLists.size(); ++i) {
        std::string n = std::to_string(i);
        PackageRun pr;
        pr.status = std::stoi("0" + readFile(res.file("status." + n)));
        pr.out = readFile(res.file("out." + n));
        pr.err = readFile(res.file("err." + n));
        s.runs.push_back(pr);
    }
    for (const char* f : {"ethflash.log", "ethflash001.log", "ethflash002.log"})
        if (testutil::pathExists(res.file(f))) s.logs.push_back(readFile(res.file(f)));
    s.tmpAfter = readFile(res.file("tmp.after"));
    return s;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

class DemoPackage : public ::testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_MOUNT_NAMESPACE(); }
};

TEST_F(DemoPackage, UpdatesEveryComponentThenShowsTheVersionsOnlyAndLogsEachRun) {
    Session s = runPackage("nicfw_demo.bin", {"", "-v"});
    ASSERT_EQ(s.runs.size(), 2u);

    const PackageRun& update = s.runs[0];
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_EQ(update.err, "");
    EXPECT_EQ(update.out.rfind("ZAV Ethernet Firmware Update Tool, Version " NICBURN_VERSION "\n\n", 0), 0u)
        << update.out;
    std::string before = std::string(nictexts::c_tableHead) + nictexts::c_demoTableBefore;
    std::string after = std::string(nictexts::c_tableHead) + nictexts::c_demoTableAfter;
    size_t beforeAt = update.out.find(before);
    size_t crcAt = update.out.find("\nNow starting a CRC check for each Broadcom Ethernet adapter.\n");
    size_t updateAt = update.out.find("\nUpdating Broadcom NetXtreme adapters.\n");
    size_t afterAt = update.out.find(after);
    ASSERT_NE(beforeAt, std::string::npos) << update.out;
    ASSERT_NE(afterAt, std::string::npos) << update.out;
    EXPECT_LT(beforeAt, crcAt);
    EXPECT_LT(crcAt, updateAt);
    EXPECT_LT(updateAt, afterAt);
    // Every component the adapters report is rewritten: 9 NetXtreme, 12 NetXtreme II.
    EXPECT_EQ(count(update.out, "\t---> Update successful\n"), 21u);
    EXPECT_EQ(count(update.out, "Performing CRC check for device "), 6u);
    EXPECT_NE(update.out.find("Updating 0010180A0103 using file 03Cbc.bin\t---> Update successful\n"),
              std::string::npos);
    EXPECT_NE(update.out.find("Updating 0010180B0202 using file 163Aib.bin\t---> Update successful\n"),
              std::string::npos);
    EXPECT_TRUE(update.out.size() >= 96 &&
                update.out.compare(update.out.size() - 96, 96,
                                   "\n\nUpdate complete. The firmware update log has been saved in "
                                   "/var/log/ZAV_Support/ethflash.log.\n") == 0)
        << update.out;

    const PackageRun& versions = s.runs[1];
    EXPECT_EQ(versions.status, 0) << versions.err;
    EXPECT_EQ(versions.out, "ZAV Ethernet Firmware Update Tool, Version " NICBURN_VERSION "\n\n" +
                                std::string(nictexts::c_tableHead) + nictexts::c_demoTableBefore);

    // One new log per run, the first under the plain name; each holds what its run showed.
    ASSERT_EQ(s.logs.size(), 2u);
    EXPECT_EQ(s.logs[0].rfind("Broadcom Firmware Update Log.\n\n", 0), 0u);
    EXPECT_EQ(count(s.logs[0], "*** Update successful ***\n\n"), 21u);
    EXPECT_NE(s.logs[0].find(after), std::string::npos);
    EXPECT_NE(s.logs[1].find(before), std::string::npos);
    EXPECT_EQ(s.tmpAfter, "") << "left behind in /tmp";
}

TEST_F(DemoPackage, FaultsScenarioShowsTheErrorPathAndExitsOne) {
    Session s = runPackage("nicfw_demo_faults.bin", {""});
    ASSERT_EQ(s.runs.size(), 1u);
    const PackageRun& run = s.runs[0];
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Updating 0010180A0101 using file 1648asf.bin\t---> Update failed\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Updating 0010180A0102 using file 1659mba.bin\t---> Update failed\n"), std::string::npos);
    EXPECT_NE(run.out.find("Error! Firmware not detected on device 0010180B0201.\n"), std::string::npos);
    EXPECT_NE(run.out.find("\n\nOne or more errors occurred during the firmware update process. See "
                           "/var/log/ZAV_Support/ethflash.log for more information.\n"),
              std::string::npos);

    ASSERT_EQ(s.logs.size(), 1u);
    const std::string& log = s.logs[0];
    EXPECT_NE(log.find(" !!! Error updating asf firmware on device 0010180A0101 using file 1648asf.bin. "
                       "File not found !!!\n\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" !!! Error updating mba firmware on device 0010180A0102 using file 1659mba.bin !!!\n\n"),
              std::string::npos);
    EXPECT_NE(log.find("Error! Firmware not detected on device 0010180B0201.\n"), std::string::npos);
    // The components that did succeed are still updated.
    EXPECT_EQ(count(log, "*** Update successful ***\n\n"), 5u);
    EXPECT_EQ(s.tmpAfter, "") << "left behind in /tmp";
}

TEST_F(DemoPackage, ArgumentsReachTheUpdateToolAndItsStatusComesBack) {
    Session s = runPackage("nicfw_demo.bin", {"-?", "-x", "-v -s"});
    ASSERT_EQ(s.runs.size(), 3u);
    EXPECT_EQ(s.runs[0].status, 0);
    EXPECT_EQ(s.runs[0].out.rfind("Usage:\n\n   ./nicburn [OPTION]\n\n\n", 0), 0u) << s.runs[0].out;
    for (size_t i : {1u, 2u}) {
        EXPECT_EQ(s.runs[i].status, 1);
        EXPECT_EQ(s.runs[i].out, "ZAV Ethernet Firmware Update Tool, Version " NICBURN_VERSION
                                 "\n\n"
                                 "Error! Incorrect usage of command line parameters.\n");
    }
    EXPECT_EQ(s.tmpAfter, "") << "left behind in /tmp";
}

// The i386 package starts as the default one does, where this kernel runs 32-bit programs.
TEST_F(DemoPackage, I386PackageShowsTheVersions) {
    SKIP_UNLESS_I386_RUNS();
    Session s = runPackage("nicfw_demo_i386.bin", {"-v"});
    ASSERT_EQ(s.runs.size(), 1u);
    EXPECT_EQ(s.runs[0].status, 0) << s.runs[0].err;
    EXPECT_EQ(s.runs[0].out, "ZAV Ethernet Firmware Update Tool, Version " NICBURN_VERSION "\n\n" +
                                 std::string(nictexts::c_tableHead) + nictexts::c_demoTableBefore);
    EXPECT_EQ(s.tmpAfter, "") << "left behind in /tmp";
}

TEST(DemoPackageInfo, DescribesTheShippedLayout) {
    testutil::RunResult r =
        testutil::run({testutil::binPath("mkpkg"), "info", std::string(DEMO_DIR) + "/nicfw_demo.bin", "--", "-v"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* expected :
         {"consistent: the sizes and the directory add up to the file length", "boot configuration: 13 lines",
          "digest: crc32 ", "fitting clause: 0 (file 'Linux_verAny_UP0_xAny.wrapcfg')",
          "startup command: './kickoff -v'", "image/x86_64/nicburn", "image/x86_64/1648bc.bin", "image/install.sh"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
}

// The launcher's own options on the demo package: each reads the package and runs nothing of it.
TEST(DemoPackageOptions, CheckListInfoAndExtract) {
    const std::string pkg = std::string(DEMO_DIR) + "/nicfw_demo.bin";
    testutil::RunResult r = testutil::run({pkg, "++check"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("package intact: digest crc32 ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" image entries pass their CRC check\n"), std::string::npos) << r.out;

    r = testutil::run({pkg, "++list"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  image/install.sh\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" entries\n"), std::string::npos) << r.out;

    r = testutil::run({pkg, "++info", "-v"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* want :
         {"launcher: built for ", "element 2 package image", "digest: crc32 ", "this system: Linux ",
          "boot configuration: 1 clause\n", "  clause 0 '*\\t0\\t*\\tLinux_verAny_UP0_xAny.wrapcfg': fits\n",
          "fitting clause: 0\n", "startup command: './kickoff -v' in './image'\n", "space a run needs in "})
        EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;

    testutil::TempDir dir;
    const std::string into = dir.file("x");
    r = testutil::run({pkg, "++extract", into});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(testutil::pathExists(into + "/image/install.sh"));
    EXPECT_TRUE(testutil::pathExists(into + "/imgboot.cfg"));
    EXPECT_FALSE(testutil::pathExists(into + "/image/x86_64/fwsim.state")) << "something of the package ran";
    r = testutil::run({pkg, "++extract", into});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Failed extracting into " + into + ": the folder is not empty; give a new or empty folder\n");

    // A folder others may write (they could swap its subfolders for links), and a link given
    // with a trailing slash (which the kernel would follow), are refused before anything is written.
    const std::string shared = dir.file("shared"), victim = dir.file("victim"), link = dir.file("link");
    ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
    ASSERT_EQ(mkdir(victim.c_str(), 0700), 0);
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    r = testutil::run({pkg, "++extract", shared});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Failed extracting into " + shared +
                         ": the folder belongs to another user or others may write to it; give a new folder\n");
    r = testutil::run({pkg, "++extract", link + "/"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Failed opening folder " + link + ": ", 0), 0u) << r.err;
    EXPECT_EQ(testutil::listDir(shared).size() + testutil::listDir(victim).size(), 0u);
}

// One flipped byte in the unzip utility, the image or the boot configuration: ++check names the
// damage and exits 1.
TEST(DemoPackageOptions, CheckNamesOneFlippedByte) {
    const std::string good = readFile(std::string(DEMO_DIR) + "/nicfw_demo.bin");
    auto le32 = [&](size_t at) {
        uint32_t v = 0;
        for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(good[at + static_cast<size_t>(b)]);
        return v;
    };
    const size_t d = good.size() - 16;
    const size_t s0 = le32(d), s1 = le32(d + 4), s2 = le32(d + 8);
    testutil::TempDir dir;
    const struct {
        const char* what;
        size_t at;
    } flips[] = {{"unzip utility", s0 + s1 / 2}, {"image", s0 + s1 + s2 / 2}, {"boot configuration", s0 + s1 + s2 + 3}};
    for (const auto& f : flips) {
        std::string bad = good;
        bad[f.at] = static_cast<char>(bad[f.at] ^ 0x10);
        const std::string path = dir.file("damaged.bin");
        testutil::writeFile(path, bad, 0755);
        testutil::RunResult r = testutil::run({path, "++check"});
        EXPECT_EQ(r.status, 1) << f.what;
        EXPECT_EQ(r.out, "") << f.what;
        EXPECT_EQ(r.err.rfind("Failed checking package: ", 0), 0u) << f.what << ": " << r.err;
        EXPECT_NE(r.err.find("damaged"), std::string::npos) << f.what << ": " << r.err;
    }
}

}  // namespace
