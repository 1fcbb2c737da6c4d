// The one-update-per-host lock: taken, busy with the holder's id, fallback to the next path, none.
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

struct LockCase {
    const char* what;
    bool firstIsMissingDir;  // the first path's folder does not exist
    bool heldByOther;        // another process holds the lock on the file that opens
    int result;
};

class RunLock : public ::testing::TestWithParam<LockCase> {
protected:
    testutil::TempDir dir;
};

TEST_P(RunLock, TakesTheFirstFileThatOpens) {
    const LockCase& c = GetParam();
    std::string first = c.firstIsMissingDir ? dir.file("missing/nicburn.lock") : dir.file("nicburn.lock");
    std::string second = dir.file("second.lock");
    std::string used = c.firstIsMissingDir ? second : first;
    const char* paths[] = {first.c_str(), second.c_str(), nullptr};

    // The other holder is a child: flock is per open file, and a child's lock is another's.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t other = -1;
    if (c.heldByOther) {
        other = fork();
        if (other == 0) {
            int fd = open(used.c_str(), O_RDWR | O_CREAT, 0644);
            if (fd < 0 || flock(fd, LOCK_EX) != 0 || write(fd, "4242\n", 5) != 5) _exit(1);
            if (write(ready[1], "r", 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
        char r;
        ASSERT_EQ(read(ready[0], &r, 1), 1);
    }

    int fd = -1, holder = -1;
    char why[160];
    int result = takeRunLock(paths, &fd, &holder, why, sizeof(why));
    if (other > 0) {
        kill(other, SIGKILL);
        waitpid(other, nullptr, 0);
    }
    close(ready[0]);
    close(ready[1]);

    EXPECT_EQ(result, c.result) << c.what;
    if (c.result == RUNLOCK_TAKEN) {
        EXPECT_GE(fd, 0);
        EXPECT_EQ(testutil::readFile(used), std::to_string(getpid()) + "\n") << c.what;
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "a vendor utility must not inherit the lock";
        close(fd);
    } else {
        EXPECT_EQ(fd, -1);
        EXPECT_EQ(holder, 4242) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RunLock,
                         ::testing::Values(LockCase{"free", false, false, RUNLOCK_TAKEN},
                                           LockCase{"first folder missing", true, false, RUNLOCK_TAKEN},
                                           LockCase{"held by another process", false, true, RUNLOCK_BUSY},
                                           LockCase{"fallback held by another", true, true, RUNLOCK_BUSY}));

// The lock goes with the process: once its holder has ended, the next run takes it.
TEST(RunLockRelease, EndsWithItsHolder) {
    testutil::TempDir dir;
    std::string path = dir.file("nicburn.lock");
    const char* paths[] = {path.c_str(), nullptr};
    pid_t child = fork();
    if (child == 0) {
        int fd = -1, holder = 0;
        char why[64];
        _exit(takeRunLock(paths, &fd, &holder, why, sizeof(why)) == RUNLOCK_TAKEN ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    int fd = -1, holder = 0;
    char why[64];
    EXPECT_EQ(takeRunLock(paths, &fd, &holder, why, sizeof(why)), RUNLOCK_TAKEN);
    close(fd);
}

TEST(RunLockNone, NamesTheFirstPathAndWhy) {
    testutil::TempDir dir;
    std::string first = dir.file("no/nicburn.lock");
    std::string second = dir.file("nor/nicburn.lock");
    const char* paths[] = {first.c_str(), second.c_str(), nullptr};
    int fd = 0, holder = 0;
    char why[160];
    EXPECT_EQ(takeRunLock(paths, &fd, &holder, why, sizeof(why)), RUNLOCK_NONE);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(std::string(why), first + ": No such file or directory");
}

}  // namespace
