// The one-update-per-host lock: taken (folder made 0700, file 0600 holding the id), busy with the
// holder's id, and what could stand in its place refused (a folder that cannot be made at all is
// Driver.LockIsTakenOnlyForARunAndItsLackIsWarnedAbout).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "nicupdate/runlock.h"
#include "tests/support/testutil.h"

namespace {

const uid_t kOtherUser = 65534;  // "nobody"

struct Taken {
    int result;
    int fd;
    int holder;
    std::string why;
};

Taken take(const std::string& dir) {
    Taken t{-1, -1, -1, ""};
    char why[320];
    t.result = takeRunLock(dir.c_str(), &t.fd, &t.holder, why, sizeof(why));
    t.why = why;
    return t;
}

mode_t modeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(RunLock, MakesItsFolderAndTakesTheLock) {
    testutil::TempDir tmp;
    const std::string dir = tmp.file("nicburn");
    mode_t old = umask(0);
    Taken t = take(dir);
    umask(old);
    ASSERT_EQ(t.result, RUNLOCK_TAKEN) << t.why;
    EXPECT_EQ(t.why, "");
    EXPECT_EQ(modeOf(dir), 0700u);
    EXPECT_EQ(modeOf(dir + "/nicburn.lock"), 0600u);
    EXPECT_EQ(testutil::readFile(dir + "/nicburn.lock"), std::to_string(getpid()) + "\n");
    EXPECT_NE(fcntl(t.fd, F_GETFD) & FD_CLOEXEC, 0) << "a vendor utility must not inherit the lock";
    close(t.fd);
    // The folder and a file left by an earlier run are used again.
    testutil::writeFile(dir + "/nicburn.lock", "99999999\n", 0600);
    t = take(dir);
    ASSERT_EQ(t.result, RUNLOCK_TAKEN) << t.why;
    EXPECT_EQ(testutil::readFile(dir + "/nicburn.lock"), std::to_string(getpid()) + "\n");
    close(t.fd);
}

// flock is per open file, so the other holder is a child; it writes its id only once it holds
// the lock, as the tool does.
TEST(RunLock, BusyNamesTheHolder) {
    testutil::TempDir tmp;
    const std::string dir = tmp.file("nicburn");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t other = fork();
    if (other == 0) {
        int fd = -1, holder = 0;
        char why[64];
        if (takeRunLock(dir.c_str(), &fd, &holder, why, sizeof(why)) != RUNLOCK_TAKEN) _exit(1);
        if (write(ready[1], "r", 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char r;
    ASSERT_EQ(read(ready[0], &r, 1), 1);
    Taken t = take(dir);
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(t.result, RUNLOCK_BUSY);
    EXPECT_EQ(t.fd, -1);
    EXPECT_EQ(t.holder, other);
    // The lock went with its holder.
    t = take(dir);
    EXPECT_EQ(t.result, RUNLOCK_TAKEN) << t.why;
    close(t.fd);
}

// What could stand in the folder's place or in it (the real runs of NicburnGuard plant links,
// files and folders in the folder's place): each refuses the run, naming what to remove, and
// nothing it points to is opened, truncated or written.
struct PlantCase {
    const char* what;
    const char* shell;  // run in the test folder: D is the lock folder, T a root-owned file
    const char* named;  // the entry the message names, under the test folder
    const char* is;     // what the message says it is
};

class RunLockPlanted : public ::testing::TestWithParam<PlantCase> {};

TEST_P(RunLockPlanted, RefusesAndTouchesNothing) {
    const PlantCase& c = GetParam();
    testutil::TempDir tmp;
    testutil::writeFile(tmp.file("target"), "root's data\n", 0644);
    testutil::RunOptions opts;
    opts.cwd = tmp.path();
    testutil::RunResult r =
        testutil::runShell(std::string("D=nicburn T=target U=") + std::to_string(kOtherUser) + "; " + c.shell, opts);
    ASSERT_EQ(r.status, 0) << r.err;
    Taken t = take(tmp.file("nicburn"));
    EXPECT_EQ(t.result, RUNLOCK_REFUSED) << c.what;
    EXPECT_EQ(t.fd, -1);
    const std::string named = tmp.file(c.named);
    EXPECT_EQ(t.why, named + " is " + c.is + ", not " + (std::string(c.named) == "nicburn" ? "a folder" : "a file") +
                         " of root's own; remove it (rm -r " + named + ") and run again")
        << c.what;
    EXPECT_EQ(testutil::readFile(tmp.file("target")), "root's data\n") << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunLockPlanted,
    ::testing::Values(
        PlantCase{"folder others may write to", "mkdir $D && chmod 1777 $D", "nicburn",
                  "a folder others may write to (mode 1777)"},
        PlantCase{"lock is a link to a root file", "mkdir -m 700 $D && ln -s ../$T $D/nicburn.lock",
                  "nicburn/nicburn.lock", "a symbolic link"},
        PlantCase{"lock is a dangling link", "mkdir -m 700 $D && ln -s ../new $D/nicburn.lock", "nicburn/nicburn.lock",
                  "a symbolic link"},
        PlantCase{"lock is a hard link to a root file", "mkdir -m 700 $D && ln $T $D/nicburn.lock",
                  "nicburn/nicburn.lock", "a file with 2 names"},
        PlantCase{"lock of another user", "mkdir -m 700 $D && : >$D/nicburn.lock && chown $U $D/nicburn.lock",
                  "nicburn/nicburn.lock", "a file of user 65534"},
        PlantCase{"lock is a folder", "mkdir -m 700 $D && mkdir $D/nicburn.lock", "nicburn/nicburn.lock", "a folder"}),
    [](const ::testing::TestParamInfo<PlantCase>& caseInfo) {
        std::string name;
        for (const char* p = caseInfo.param.what; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

}  // namespace
