// The update log: naming, header, where it goes, the output routine, deleteFile.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "tests/nicupdate/nictest.h"
#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"

namespace {

std::vector<std::string> upTo(int last) {
    std::vector<std::string> names{"ethflash.log"};
    char name[32];
    for (int i = 1; i <= last; ++i) names.push_back((snprintf(name, sizeof(name), "ethflash%03d.log", i), name));
    return names;
}

struct NamingCase {
    const char* what;
    std::vector<std::string> files, dirs;  // already in the log directory
    const char* expected;
};

class LogNaming : public NicTest, public ::testing::WithParamInterface<NamingCase> {};

TEST_P(LogNaming, TakesFirstFreeNameWithHeaderOnly) {
    mkdir(logDir().c_str(), 0755);
    for (const auto& name : GetParam().files) testutil::writeFile(logDir() + name, "old");
    for (const auto& name : GetParam().dirs) mkdir((logDir() + name).c_str(), 0755);
    freshLog();
    EXPECT_EQ(std::string(log.path), logDir() + GetParam().expected);
    EXPECT_EQ(testutil::readFile(log.path), kLogHeader);
    EXPECT_EQ(kLogHeader.size(), 31u);
    for (const auto& name : GetParam().files) EXPECT_EQ(testutil::readFile(logDir() + name), "old");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogNaming,
    ::testing::Values(NamingCase{"first run", {}, {}, "ethflash.log"},
                      NamingCase{"second run", {"ethflash.log"}, {}, "ethflash001.log"},
                      NamingCase{"gap filled", {"ethflash.log", "ethflash002.log"}, {}, "ethflash001.log"},
                      NamingCase{"099 then 100", upTo(99), {}, "ethflash100.log"},
                      NamingCase{"999 then 1000", upTo(999), {}, "ethflash1000.log"},
                      NamingCase{"directory counts as taken", {}, {"ethflash.log"}, "ethflash001.log"}),
    CaseName());

// A name that appears between the check and the creation is skipped: a dangling link passes
// the existence check but makes the exclusive creation fail.
TEST_F(NicTest, LogIsCreatedExclusively) {
    mkdir(logDir().c_str(), 0755);
    ASSERT_EQ(symlink(tmp.file("elsewhere").c_str(), (logDir() + "ethflash.log").c_str()), 0);
    freshLog();
    EXPECT_EQ(std::string(log.path), logDir() + "ethflash001.log");
    EXPECT_FALSE(exists("elsewhere"));
}

struct FallbackCase {
    const char* what;
    const char* blocker;  // a regular file under tmp
    const char* dir;      // the log directory, under tmp
    const char* origin;   // ZAV_RQ_PKG_ORIG_CURR_DIR under tmp, "" for unset
    const char* logIn;    // the folder under tmp that must get the log, "" for tmp itself
};

class LogFallback : public NicTest, public ::testing::WithParamInterface<FallbackCase> {
protected:
    void TearDown() override {
        unsetenv("ZAV_RQ_PKG_ORIG_CURR_DIR");
        NicTest::TearDown();
    }
};

TEST_P(LogFallback, NeverLosesTheLog) {
    const FallbackCase& c = GetParam();
    write(c.blocker, "not a directory");
    for (const char* d : {"from", "zav_rq_pkg_00c0ffee", "foreign"}) mkdir(tmp.file(d).c_str(), 0755);
    mkdir(tmp.file("shared").c_str(), 0755);
    chmod(tmp.file("shared").c_str(), 0777);
    mkdir(tmp.file("sticky").c_str(), 0755);
    chmod(tmp.file("sticky").c_str(), 01777);
    if (chown(tmp.file("foreign").c_str(), 65534, 65534) != 0 && strcmp(c.origin, "foreign") == 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    write(std::string(c.logIn) + (*c.logIn ? "/" : "") + "ethflash.log", "older log");
    if (*c.origin) setenv("ZAV_RQ_PKG_ORIG_CURR_DIR", tmp.file(c.origin).c_str(), 1);
    freshLog(tmp.path() + "/" + c.dir);
    char real[PATH_MAX];
    ASSERT_NE(realpath(tmp.file(c.logIn).c_str(), real), nullptr);
    EXPECT_EQ(std::string(log.path), std::string(real) + "/ethflash001.log");
    EXPECT_EQ(testutil::readFile(log.path), kLogHeader);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogFallback,
    ::testing::Values(FallbackCase{"directory is a file", "zav", "zav/", "", ""},
                      FallbackCase{"parent is a file", "var", "var/log/zav/", "", ""},
                      FallbackCase{"starting folder first", "zav", "zav/", "from", "from"},
                      FallbackCase{"starting folder with slash", "zav", "zav/", "from/", "from"},
                      FallbackCase{"launcher working folder skipped", "zav", "zav/", "zav_rq_pkg_00c0ffee", ""},
                      FallbackCase{"missing starting folder skipped", "zav", "zav/", "gone", ""},
                      FallbackCase{"starting folder that is a file skipped", "zav", "zav/", "zav", ""},
                      // Where others could swap the log for a link, root must not write it.
                      FallbackCase{"log folder others may write to skipped", "zav", "shared/", "", ""},
                      FallbackCase{"starting folder others may write to skipped", "zav", "zav/", "shared", ""},
                      FallbackCase{"starting folder of another user skipped", "zav", "zav/", "foreign", ""},
                      FallbackCase{"sticky starting folder taken", "zav", "zav/", "sticky", "sticky"}),
    CaseName());

// A package's tool folder lies in the launcher's working directory, which is removed when the
// package ends: the current-folder fallback skips it like the starting folder, and with no other
// place there is no log (and the run knows its log is incomplete).
TEST_F(NicTest, LogIsNeverPutInTheLauncherWorkingDirectory) {
    write("zav", "not a folder");
    const std::string tools = tmp.file("zav_rq_pkg_00c0ffee/image/x86_64");
    ASSERT_EQ(testutil::runShell("mkdir -p " + testutil::shellQuote(tools)).status, 0);
    ASSERT_EQ(chdir(tools.c_str()), 0);
    unsetenv("ZAV_RQ_PKG_ORIG_CURR_DIR");
    StdoutCapture out;
    initLogFile(log, tmp.file("zav/").c_str());
    EXPECT_EQ(out.stop(), "Error! Unable to initialize log file.\n");
    EXPECT_EQ(std::string(log.path), "");
    EXPECT_TRUE(log.incomplete);
    EXPECT_STREQ(logOutputPath(log), "/dev/null");
    EXPECT_EQ(testutil::listDir(tools), std::vector<std::string>{});
    // A starting folder outside it still takes the log.
    ASSERT_EQ(mkdir(tmp.file("from").c_str(), 0755), 0);
    setenv("ZAV_RQ_PKG_ORIG_CURR_DIR", tmp.file("from").c_str(), 1);
    log = RunLog();
    freshLog(tmp.file("zav/"));
    unsetenv("ZAV_RQ_PKG_ORIG_CURR_DIR");
    EXPECT_EQ(std::string(log.path), tmp.file("from") + "/ethflash.log");
    EXPECT_FALSE(log.incomplete);
}

// A write that fails (here the file size limit, as a full disk would) marks the log incomplete,
// and the closing messages say where its part is.
TEST_F(NicTest, FailedWriteMarksTheLogIncomplete) {
    freshLog();
    writetoLog(log, "kept\n", false);
    EXPECT_FALSE(log.incomplete);
    EXPECT_STREQ(logOutputPath(log), log.path);
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit limit = old;
    limit.rlim_cur = kLogHeader.size() + 5;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    StdoutCapture out;
    writetoLog(log, "lost\n", false);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(out.stop(), "Error! Unable to write to log file.\n");
    EXPECT_TRUE(log.incomplete);
    char text[LOG_PATH_SIZE + 80];
    EXPECT_EQ(std::string(logLossText(log, text, sizeof(text))),
              "writing to it failed. See " + std::string(log.path) + " for the part that was saved.");
    EXPECT_EQ(logBody(), "kept\n");
}

// A link put in the log's place between two writes is never written through.
TEST_F(NicTest, LogReplacedByALinkIsNotFollowed) {
    freshLog();
    write("target", "root's data\n");
    const std::string path = log.path;
    ASSERT_EQ(rename(path.c_str(), (path + ".part").c_str()), 0);
    ASSERT_EQ(symlink(tmp.file("target").c_str(), path.c_str()), 0);
    StdoutCapture out;
    writetoLog(log, "text\n", false);
    EXPECT_EQ(out.stop(), "Error! Unable to write to log file.\n");
    EXPECT_TRUE(log.incomplete);
    EXPECT_EQ(read("target"), "root's data\n");
}

TEST_F(NicTest, LogThatCannotBeCreatedIsReportedUnlessSilent) {
    ASSERT_EQ(chdir("/proc"), 0);  // nobody creates files there
    StdoutCapture out;
    initLogFile(log, "/proc/");  // nor here
    writetoLog(log, "a\n", true);
    log.silent = true;
    writetoLog(log, "b\n", true);
    EXPECT_EQ(out.stop(), "Error! Unable to initialize log file.\na\nError! Unable to write to log file.\n");
}

TEST_F(NicTest, WriteToLogScreenRules) {
    struct {
        bool toScreen, silent;
        const char* shown;
    } cases[] = {{true, false, "text"}, {false, false, ""}, {true, true, ""}, {false, true, ""}};
    for (const auto& c : cases) {
        freshLog();
        log.silent = c.silent;
        StdoutCapture out;
        writetoLog(log, "text", c.toScreen);
        EXPECT_EQ(out.stop(), c.shown);
        EXPECT_EQ(logBody(), "text");
    }
}

TEST_F(NicTest, DeleteFileRunsRmOnlyForExistingPathsThatFit) {
    freshLog();
    CommandLog commands;
    std::string longName(253, 'n');  // "rm " + 253 characters is one too many
    write("nv.bak", "x");
    write(longName, "x");
    deleteFile(with(commands.runner()), "missing");
    deleteFile(with(commands.runner()), "nv.bak");
    deleteFile(with(commands.runner()), longName.c_str());
    EXPECT_EQ(commands.lines, std::vector<std::string>{"rm nv.bak"});
    EXPECT_FALSE(exists("nv.bak"));
    EXPECT_TRUE(exists(longName));
    EXPECT_EQ(logBody(),
              "Error! Command line would exceed 255 characters; not run: rm " + std::string(57, 'n') + "...\n");
}

}  // namespace
