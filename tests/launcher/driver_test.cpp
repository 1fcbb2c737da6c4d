#include "launcher/driver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/console.h"
#include "launcher/container.h"
#include "launcher/os/paths.h"
#include "launcher/sysident.h"
#include "tests/launcher/launcher_test.h"
#include "tests/e2e/support/launchertexts.h"

namespace {

using testutil::pathExists;
using testutil::readFile;
using testutil::writeFile;

std::string candidate(unsigned offset) {
    char name[32];
    snprintf(name, sizeof(name), "zav_rq_pkg_%08x", static_cast<unsigned>(getpid()) + offset);
    return name;
}

std::string cwd() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof(buf)) ? buf : "";
}

TEST(DebugOption, LevelFromTheFirstArgument) {
    const struct {
        const char* arg;
        int level;
    } cases[] = {{"++debug", 1},    {"++debug=3", 3},
                 {"++debug=0", 0},  {"++debug=-1", 0},
                 {"++debug=", 0},   {"++debug=abc", 0},
                 {"++debug=2x", 2}, {"++debug= 4", 4},
                 {"++debugx", 0},   {"++DEBUG", 0},
                 {"+debug", 0},     {"", 0},
                 {"++debug=+5", 5}, {"++debug=99999999999", INT_MAX}};
    for (const auto& c : cases) EXPECT_EQ(parseDebugLevel(c.arg), c.level) << c.arg;
}

TEST(DebugOption, TakenOutOfTheArgumentsOnlyWhenOn) {
    const struct {
        std::vector<const char*> in;
        int level;
        std::vector<std::string> out;
    } cases[] = {
        {{"pkg", "++debug", "a", "b"}, 1, {"pkg", "a", "b"}},
        {{"pkg", "++debug=2"}, 2, {"pkg"}},
        {{"pkg", "++debug=0", "a"}, 0, {"pkg", "++debug=0", "a"}},
        {{"pkg", "a", "++debug"}, 0, {"pkg", "a", "++debug"}},
        {{"pkg"}, 0, {"pkg"}},
    };
    for (const auto& c : cases) {
        std::vector<char*> argvStore;
        for (const char* a : c.in) argvStore.push_back(const_cast<char*>(a));
        argvStore.push_back(nullptr);
        int argc = static_cast<int>(c.in.size());
        char** argv = argvStore.data();
        EXPECT_EQ(takeDebugOption(&argc, &argv), c.level);
        std::vector<std::string> got(argv, argv + argc);
        EXPECT_EQ(got, c.out);
        EXPECT_EQ(argv[argc], nullptr);
    }
}

using InstallDirTest = LauncherTest;

TEST_F(InstallDirTest, MakesAPrivateNumberedDirectoryAndEntersIt) {
    ASSERT_EQ(createInstallDir(&ctx), 0);
    std::string expected = tmp.file(candidate(0));
    EXPECT_EQ(std::string(ctx.wrkDir), expected);
    EXPECT_EQ(cwd(), expected);
    struct stat st;
    ASSERT_EQ(stat(expected.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    cleanup(&ctx);
    EXPECT_FALSE(pathExists(expected));
    EXPECT_EQ(cwd(), tmp.path());
    EXPECT_STREQ(ctx.wrkDir, "");
    cleanup(&ctx);  // nothing left to do
}

TEST_F(InstallDirTest, TakesTheNextNumberLeavingExistingObjectsAlone) {
    const struct {
        std::vector<std::string> taken;  // "f" file, "d" directory with a file, "l" dangling link
        unsigned expected;
    } cases[] = {{{"f"}, 1}, {{"d", "f"}, 2}, {{"l"}, 1}, {{"d", "l", "d"}, 3}};
    for (const auto& c : cases) {
        testutil::TempDir parent;
        ctx.tempDir = parent.path().c_str();
        for (unsigned i = 0; i < c.taken.size(); ++i) {
            std::string p = parent.file(candidate(i));
            if (c.taken[i] == "f") writeFile(p, "someone's");
            if (c.taken[i] == "d") mkdir(p.c_str(), 0777), writeFile(p + "/keep", "someone's");
            if (c.taken[i] == "l") {
                ASSERT_EQ(symlink("/nonexistent/target", p.c_str()), 0);
            }
        }
        ASSERT_EQ(createInstallDir(&ctx), 0);
        EXPECT_EQ(std::string(ctx.wrkDir), parent.file(candidate(c.expected)));
        for (unsigned i = 0; i < c.taken.size(); ++i) {
            std::string p = parent.file(candidate(i));
            if (c.taken[i] == "f") {
                EXPECT_EQ(readFile(p), "someone's");
            } else if (c.taken[i] == "d") {
                EXPECT_EQ(readFile(p + "/keep"), "someone's");
            }
        }
        cleanup(&ctx);
        EXPECT_EQ(testutil::listDir(parent.path()).size(), c.taken.size());
        ctx.tempDir = tmp.path().c_str();
    }
}

TEST_F(InstallDirTest, MakesAMissingParentAndReportsOneThatCannotBeMade) {
    std::string parent = tmp.file("new/sub");
    ctx.tempDir = parent.c_str();
    ASSERT_EQ(createInstallDir(&ctx), 0);
    EXPECT_TRUE(dirExists((parent + "/" + candidate(0)).c_str()));
    cleanup(&ctx);

    writeFile(tmp.file("file"), "");
    parent = tmp.file("file/sub");
    ctx.tempDir = parent.c_str();
    std::string err = stderrOf([this] { EXPECT_EQ(createInstallDir(&ctx), 1); });
    const std::string ours = "Failed creating " + parent + "\n";  // after what mkdir itself says
    ASSERT_GE(err.size(), ours.size());
    EXPECT_EQ(err.substr(err.size() - ours.size()), ours);
    EXPECT_STREQ(ctx.wrkDir, "");
}

TEST_F(InstallDirTest, RefusesAPathLongerThanItsBufferShowingItWhole) {
    // A parent of 1005 characters: with "/zav_rq_pkg_XXXXXXXX" the path needs 1026 bytes.
    std::string parent = tmp.path();
    while (parent.size() < 1005) {
        parent += "/" + std::string(std::min<size_t>(200, 1005 - parent.size() - 1), 'd');
        ASSERT_EQ(mkdir(parent.c_str(), 0700), 0);
    }
    ASSERT_EQ(parent.size(), 1005u);
    ctx.tempDir = parent.c_str();
    std::string err = stderrOf([this] { EXPECT_EQ(createInstallDir(&ctx), 1); });
    EXPECT_EQ(err, "Failed creating " + parent + "/" + candidate(0) + "\n");
    EXPECT_STREQ(ctx.wrkDir, "");
    EXPECT_TRUE(testutil::listDir(parent).empty());
}

// A temporary directory of 497 characters: the working directory, with folders, files and a
// link to something outside, is removed whole; what the link names is left alone.
TEST_F(InstallDirTest, RemovesTheWorkingDirectoryUnderALongTempDir) {
    std::string parent = tmp.path();
    while (parent.size() < 497) {
        parent += "/" + std::string(std::min<size_t>(120, 497 - parent.size() - 1), 'd');
        ASSERT_EQ(mkdir(parent.c_str(), 0700), 0);
    }
    ASSERT_EQ(parent.size(), 497u);
    writeFile(tmp.file("outside"), "keep");
    ctx.tempDir = parent.c_str();
    ASSERT_EQ(createInstallDir(&ctx), 0);
    const std::string wrk = ctx.wrkDir;
    ASSERT_EQ(mkdir("image", 0755), 0);
    ASSERT_EQ(mkdir("image/deep", 0755), 0);
    writeFile(wrk + "/image/deep/file", "x");
    writeFile(wrk + "/top", "x");
    ASSERT_EQ(symlink(tmp.file("outside").c_str(), (wrk + "/image/link").c_str()), 0);
    ASSERT_EQ(symlink(tmp.path().c_str(), (wrk + "/dirlink").c_str()), 0);
    std::string err = stderrOf([this] { cleanup(&ctx); });
    EXPECT_EQ(err, "");
    EXPECT_FALSE(pathExists(wrk));
    EXPECT_EQ(readFile(tmp.file("outside")), "keep");
    EXPECT_TRUE(testutil::listDir(parent).empty());
}

// A working directory that cannot be removed whole is reported, naming it and the reason.
TEST_F(InstallDirTest, AFailedRemovalIsReported) {
    ASSERT_EQ(createInstallDir(&ctx), 0);
    const std::string wrk = ctx.wrkDir;
    writeFile(wrk + "/stuck", "x");
    writeFile(wrk + "/loose", "x");
    if (testutil::runShell("chattr +i " + testutil::shellQuote(wrk + "/stuck") + " 2>/dev/null").status != 0)
        GTEST_SKIP() << "chattr +i is not available on this file system";
    std::string err = stderrOf([this] { cleanup(&ctx); });
    testutil::runShell("chattr -i " + testutil::shellQuote(wrk + "/stuck"));
    EXPECT_EQ(err, "Failed removing the working directory " + wrk + ": Operation not permitted\n");
    EXPECT_FALSE(pathExists(wrk + "/loose"));
    EXPECT_TRUE(pathExists(wrk + "/stuck"));
}

// A temporary directory whose name holds shell syntax is made as named, nothing in it run.
TEST_F(InstallDirTest, ShellSyntaxInTheTempDirIsTakenLiterally) {
    const std::string parent =
        tmp.file("a $(touch " + tmp.file("ran1") + ") `touch " + tmp.file("ran2") + "` \"q\" 'x'/new");
    ctx.tempDir = parent.c_str();
    ASSERT_EQ(createInstallDir(&ctx), 0);
    EXPECT_EQ(std::string(ctx.wrkDir), parent + "/" + candidate(0));
    cleanup(&ctx);
    EXPECT_TRUE(dirExists(parent.c_str()));
    EXPECT_FALSE(pathExists(tmp.file("ran1")));
    EXPECT_FALSE(pathExists(tmp.file("ran2")));
    EXPECT_FALSE(pathExists(parent + "/" + candidate(0)));
}

// Runs whole packages in this process, under the test's own directory.
class RunPackageTest : public LauncherTest {
protected:
    void SetUp() override {
        LauncherTest::SetUp();
        fakeProgram("uname",
                    "case \"$1\" in -r) echo 5.10.0-test;; -i) echo \"${FAKE_ARCH:-x86_64}\";; *) exit 1;; esac");
        // The distribution as on a machine without release files; the processor still comes from uname.
        setSystem(c_distroName_UNKNOWN, 0, 0, nullptr, "5.10.0-test");
        mkdir(tmp.file("content").c_str(), 0755);
        writeFile(tmp.file("content/run.sh"), "echo \"args:$*\"; ls; exit 7\n", 0644);
        ASSERT_EQ(testutil::runShell("cd " + tmp.file("content") + " && zip -q ../image.zip run.sh").status, 0);
    }
    void TearDown() override {
        unsetenv("FAKE_ARCH");
        LauncherTest::TearDown();
    }
    // Package file with the given elements; the directory little- or big-endian.
    std::string makePackage(const std::string& bootCfg, const std::string& image, bool bigEndian = false,
                            const std::string& unzip = testutil::readFile("/usr/bin/miniunzip")) {
        std::vector<std::string> el = {"LAUNCHER", unzip, image, bootCfg};
        std::string data;
        for (const auto& e : el) data += e;
        for (const auto& e : el) {
            uint32_t v = static_cast<uint32_t>(e.size());
            if (bigEndian) v = ByteSwap2(v);
            data.append(reinterpret_cast<const char*>(&v), 4);
        }
        writeFile(tmp.file("pkg"), data, 0755);
        return tmp.file("pkg");
    }
    int runLauncher(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        return launcherMain(&ctx, static_cast<int>(args.size()), argv.data());
    }
    std::string image() { return readFile(tmp.file("image.zip")); }
    bool workDirLeft() {
        for (const auto& name : testutil::listDir(tmp.path()))
            if (name.rfind("zav_rq_pkg_", 0) == 0) return true;
        return false;
    }
};

const char kRunScript[] = "1\n*\t0\t*\t\n\n\n\nsh run.sh\n\n\n";

TEST_F(RunPackageTest, DebugRunPrintsEveryStepAndExitsWithTheStartupStatus) {
    std::string pkg = makePackage(kRunScript, image());
    int code = -1;
    std::string out = stdoutOf([&] { code = runLauncher({pkg, "++debug", "A"}); });
    EXPECT_EQ(code, 7);
    EXPECT_EQ(out, std::string(launchertexts::c_debugLevel1) + "++ uname -i --> 'x86_64'\n" +
                       launchertexts::c_extractingBootCfg + launchertexts::c_extractingImage +
                       launchertexts::c_extractingUnzip + launchertexts::c_unzippingImage +
                       launchertexts::c_processingBootCfg +
                       "++   # of per-os-class cfg clauses = 1\n"
                       "++     os-class cfg clause:'*\t0\t*\t'\n"
                       "++     <UP #> = '0'\n"
                       "++     processor = '*'\n"
                       "++   per-os-class cfg[0] (GOOD) = '*\t0\t*\t'\n"
                       "++ Final startup cfg file found: ''\n"
                       "++   startupCmd  = 'sh run.sh'\n"
                       "++   defaultArgs = ''\n"
                       "++   argsControl = ''\n"
                       "++   startupCmd  = 'sh run.sh A'\n"
                       "++ Executing package (command: 'sh run.sh A')...\n"
                       "args:A\nimage.zip\nminiunz\nrun.sh\n"
                       "++ Package completed with exit code '7'.\n");
    EXPECT_FALSE(workDirLeft());
    EXPECT_STREQ(getenv("ZAV_RQ_PKG_LINUX_PROCESSOR"), "x86_64");
}

TEST_F(RunPackageTest, Ppc64TakesTheSwappedDirectoryAndTheSystemUnzip) {
    setenv("FAKE_ARCH", "ppc64", 1);
    std::string pkg = makePackage(kRunScript, image(), true, "not an unzip program");
    std::string out = stdoutOf([&] { EXPECT_EQ(runLauncher({pkg}), 7); });
    EXPECT_EQ(out, "args:\nimage.zip\nrun.sh\n");
}

TEST_F(RunPackageTest, LauncherFailuresExitOneAndLeaveNothingBehind) {
    PkgDirectory huge = {{1, 1, 0x80000000u, 1}};
    const struct {
        std::string name, pkgData, err;
    } cases[] = {
        // A path that cannot be opened: the launcher reads its own program file, here the test
        // program, which is no package.
        {"missing", "", "OWN"},
        {"short", "0123456789", launchertexts::c_seekDirectory},
        {"huge", std::string("xyz") + std::string(reinterpret_cast<const char*>(&huge), 16),
         launchertexts::incomplete(2147483667, 19)},
        {"cfg past end", "", ""},  // composed below, from the package's length
        {"corrupt zip", "", ""},
        {"no clause fits", "",
         launchertexts::osMismatch("Linux Unknown release 0 update 0 kernel 5.10.0-test (for x86_64)")},
    };
    for (const auto& c : cases) {
        std::string pkg = tmp.file(c.name == "missing" ? "missing" : "pkg");
        if (c.name == "short" || c.name == "huge") writeFile(pkg, c.pkgData);
        if (c.name == "corrupt zip") makePackage(kRunScript, "PK\3\4 not really a zip");
        if (c.name == "no clause fits") makePackage("1\n*\t1\t*\tf\n", image());
        std::string expectedErr = c.err;
        if (c.name == "cfg past end") {
            makePackage(kRunScript, image());
            std::string data = readFile(pkg);
            const size_t cfgSize = static_cast<unsigned char>(data[data.size() - 4]);
            data[data.size() - 4] = 100;  // boot configuration size beyond the file
            writeFile(pkg, data);
            expectedErr = launchertexts::incomplete(data.size() - cfgSize + 100, data.size());
        }
        int code = -1;
        std::string err = stderrOf([&] { code = runLauncher({pkg}); });
        EXPECT_EQ(code, 1) << c.name;
        if (expectedErr == "OWN" && err.rfind("Failed checking package directory: ", 0) == 0 &&
            err.find("; the package file is damaged or incomplete\n") != std::string::npos)
            expectedErr = err;
        EXPECT_EQ(err, expectedErr) << c.name;
        EXPECT_FALSE(workDirLeft()) << c.name;
    }
}

TEST_F(RunPackageTest, AKilledStartupCommandIsNotSuccess) {
    std::string pkg = makePackage("1\n*\t0\t*\t\n\n\n\nkill -KILL $$\n\n\n", image());
    EXPECT_EQ(runLauncher({pkg}), 128 + 9);
}

}  // namespace
