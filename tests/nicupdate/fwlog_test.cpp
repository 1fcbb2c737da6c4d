// The update log: naming, header, where it goes, the output routine and the file helpers.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "nictest.h"
#include "nicupdate/fwlog.h"

using testutil::pathExists;
using testutil::readFile;
using testutil::writeFile;

namespace {

std::string numbered(int n) {
    char name[32];
    snprintf(name, sizeof(name), "ethflash%03d.log", n);
    return name;
}

std::vector<std::string> upTo(int last) {
    std::vector<std::string> names{"ethflash.log"};
    for (int i = 1; i <= last; ++i) names.push_back(numbered(i));
    return names;
}

struct NamingCase {
    const char* what;
    std::vector<std::string> existing;  // files already in the log directory
    std::vector<std::string> dirs;      // directories already there
    const char* expected;
};

class LogNaming : public NicTest, public ::testing::WithParamInterface<NamingCase> {};

TEST_P(LogNaming, TakesFirstFreeName) {
    const NamingCase& c = GetParam();
    mkdir(logDir().c_str(), 0755);
    for (const auto& name : c.existing) writeFile(logDir() + name, "old " + name);
    for (const auto& name : c.dirs) mkdir((logDir() + name).c_str(), 0755);
    freshLog();
    EXPECT_EQ(std::string(szFwuplog), logDir() + c.expected) << c.what;
    EXPECT_EQ(readFile(szFwuplog), kLogHeader);
    for (const auto& name : c.existing) EXPECT_EQ(readFile(logDir() + name), "old " + name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogNaming,
    ::testing::Values(
        NamingCase{"first run", {}, {}, "ethflash.log"},
        NamingCase{"second run", {"ethflash.log"}, {}, "ethflash001.log"},
        NamingCase{"gap filled", {"ethflash.log", "ethflash002.log"}, {}, "ethflash001.log"},
        NamingCase{"099 then 100", upTo(99), {}, "ethflash100.log"},
        NamingCase{"999 then 1000", upTo(999), {}, "ethflash1000.log"},
        NamingCase{"directory counts as taken", {}, {"ethflash.log"}, "ethflash001.log"},
        NamingCase{"other names ignored", {"ethflash1.log", "ethflash01.log"}, {}, "ethflash.log"}),
    CaseName());

TEST_F(NicTest, LogHeaderIsExactly31Bytes) {
    freshLog();
    EXPECT_EQ(readFile(szFwuplog).size(), 31u);
    EXPECT_EQ(readFile(szFwuplog), "Broadcom Firmware Update Log.\n\n");
}

TEST_F(NicTest, LogDirectoryChainIsCreated) {
    std::string deep = tmp.path() + "/var/log/ZAV_Support/";
    ASSERT_EQ(setLogDirectory(deep.c_str()), 0);
    freshLog();
    EXPECT_EQ(std::string(szFwuplog), deep + "ethflash.log");
    mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(deep.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u & ~mask);
}

// A name that shows up between the check and the creation must not be shared: a dangling
// link passes the existence check but makes the exclusive creation fail.
TEST_F(NicTest, LogIsCreatedExclusivelyAndRacedNameIsSkipped) {
    mkdir(logDir().c_str(), 0755);
    ASSERT_EQ(symlink((tmp.path() + "/elsewhere").c_str(), (logDir() + "ethflash.log").c_str()), 0);
    freshLog();
    EXPECT_EQ(std::string(szFwuplog), logDir() + "ethflash001.log");
    EXPECT_FALSE(pathExists(tmp.path() + "/elsewhere"));
    EXPECT_EQ(readFile(szFwuplog), kLogHeader);
}

TEST_F(NicTest, TwoRunsNeverShareALog) {
    freshLog();
    std::string first = szFwuplog;
    writetoLog("one\n", false);
    freshLog();
    EXPECT_NE(std::string(szFwuplog), first);
    EXPECT_EQ(readFile(first), kLogHeader + "one\n");
    EXPECT_EQ(readFile(szFwuplog), kLogHeader);
}

struct FallbackCase {
    const char* what;
    const char* blocker;  // regular file made under tmp
    const char* logDir;   // log directory, relative to tmp
};

class LogFallback : public NicTest, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(LogFallback, KeepsLogInCurrentDirectory) {
    const FallbackCase& c = GetParam();
    writeFile(tmp.file(c.blocker), "not a directory");
    writeFile(tmp.file("ethflash.log"), "older log");
    std::string dir = tmp.path() + "/" + c.logDir;
    ASSERT_EQ(setLogDirectory(dir.c_str()), 0);
    freshLog();
    EXPECT_EQ(std::string(szFwuplog), "ethflash001.log") << c.what;
    EXPECT_EQ(readFile(tmp.file("ethflash001.log")), kLogHeader);
    EXPECT_EQ(readFile(tmp.file("ethflash.log")), "older log");
    EXPECT_EQ(readFile(tmp.file(c.blocker)), "not a directory");
}

INSTANTIATE_TEST_SUITE_P(Cases, LogFallback,
                         ::testing::Values(FallbackCase{"directory is a file", "zav", "zav/"},
                                           FallbackCase{"parent is a file", "var", "var/log/zav/"}),
                         CaseName());

TEST_F(NicTest, LogThatCannotBeCreatedIsReported) {
    ASSERT_EQ(setLogDirectory("/proc/"), 0);  // a directory in which nobody creates files
    StdoutCapture out;
    initLogFile();
    writetoLog("text\n", false);
    EXPECT_EQ(out.stop(),
              "Error! Unable to initialize log file.\nError! Unable to write to log file.\n");
    EXPECT_EQ(std::string(szFwuplog), "/proc/ethflash.log");
}

TEST_F(NicTest, SetLogDirectoryRefusesBadDirectories) {
    EXPECT_EQ(setLogDirectory("no/slash"), -1);
    EXPECT_EQ(setLogDirectory(""), -1);
    EXPECT_EQ(setLogDirectory(("/" + std::string(200, 'd') + "/").c_str()), -1);
    EXPECT_EQ(std::string(getLogDirectory()), logDir());
}

struct ScreenCase {
    const char* what;
    bool toScreen;
    bool silent;
    bool shown;
};

class WriteToLog : public NicTest, public ::testing::WithParamInterface<ScreenCase> {};

TEST_P(WriteToLog, ScreenOnlyWhenAskedAndNotSilent) {
    const ScreenCase& c = GetParam();
    freshLog();
    bSilent = c.silent;
    StdoutCapture out;
    writetoLog("line one\n", c.toScreen);
    writetoLog("no newline", c.toScreen);
    EXPECT_EQ(out.stop(), c.shown ? "line one\nno newline" : "");
    EXPECT_EQ(logBody(), "line one\nno newline");
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteToLog,
                         ::testing::Values(ScreenCase{"screen", true, false, true},
                                           ScreenCase{"log only", false, false, false},
                                           ScreenCase{"screen silent", true, true, false},
                                           ScreenCase{"log only silent", false, true, false}),
                         CaseName());

TEST_F(NicTest, FailedLogWriteIsShownUnlessSilentAndCreatesNothing) {
    snprintf(szFwuplog, sizeof(szFwuplog), "%s", "missing.log");
    StdoutCapture out;
    writetoLog("a\n", true);
    bSilent = true;
    writetoLog("b\n", true);
    EXPECT_EQ(out.stop(), "a\nError! Unable to write to log file.\n");
    EXPECT_FALSE(pathExists(tmp.file("missing.log")));
}

TEST_F(NicTest, FileExistCountsAnyEntry) {
    writeFile(tmp.file("f"), "");
    mkdir(tmp.file("d").c_str(), 0755);
    EXPECT_TRUE(fileExist("f"));
    EXPECT_TRUE(fileExist("d"));
    EXPECT_FALSE(fileExist("missing"));
}

// deleteFile runs "rm" through the shell only for an existing path; a fake rm first in PATH
// records what it was asked.
TEST_F(NicTest, DeleteFileRunsRmOnlyForExistingPaths) {
    freshLog();
    mkdir(tmp.file("bin").c_str(), 0755);
    testutil::writeFile(tmp.file("bin/rm"), "#!/bin/sh\necho \"rm $*\" >>rm.calls\n/bin/rm \"$@\"\n", 0755);
    std::string oldPath = getenv("PATH");
    setenv("PATH", (tmp.file("bin") + ":" + oldPath).c_str(), 1);
    writeFile(tmp.file("nv.bak"), "x");
    deleteFile("missing");
    deleteFile("nv.bak");
    std::string longName(253, 'n');
    writeFile(tmp.file(longName), "x");
    deleteFile(longName.c_str());
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(readFile(tmp.file("rm.calls")), "rm nv.bak\n");
    EXPECT_FALSE(pathExists(tmp.file("nv.bak")));
    EXPECT_TRUE(pathExists(tmp.file(longName)));
    EXPECT_NE(logBody().find("Error! Command line would exceed 255 characters; not run: rm nnn"),
              std::string::npos);
}

}  // namespace
