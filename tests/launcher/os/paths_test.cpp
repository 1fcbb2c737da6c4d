#include "launcher/os/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/launcher/launcher_test.h"

namespace {

using PathsTest = LauncherTest;

TEST_F(PathsTest, ObjectKindsThroughStat) {
    testutil::writeFile(tmp.file("file"), "");
    mkdir(tmp.file("dir").c_str(), 0755);
    ASSERT_EQ(mkfifo(tmp.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("dir", tmp.file("linkdir").c_str()), 0);
    ASSERT_EQ(symlink("file", tmp.file("linkfile").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", tmp.file("dangling").c_str()), 0);
    const struct {
        std::string path;
        int dir, file;
    } cases[] = {
        {tmp.file("file"), 0, 1},    {tmp.file("dir"), 1, 0},      {tmp.file("fifo"), 0, 1},
        {tmp.file("linkdir"), 1, 0}, {tmp.file("linkfile"), 0, 1}, {tmp.file("dangling"), 0, 0},
        {tmp.file("missing"), 0, 0}, {tmp.file("file/"), 0, 0},    {"/dev/null", 0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dirExists(c.path.c_str()), c.dir) << c.path;
        EXPECT_EQ(fileExists(c.path.c_str()), c.file) << c.path;
    }
    EXPECT_EQ(isAbsolutePath("/x"), 1);
    EXPECT_EQ(isAbsolutePath("x/"), 0);
    EXPECT_EQ(isAbsolutePath(""), 0);
}

TEST_F(PathsTest, PrivateDirectoryIsMadeOnceAndAtomically) {
    mode_t old = umask(022);
    std::string d = tmp.file("d");
    EXPECT_EQ(makeDirPrivate(d.c_str()), 0);
    struct stat st;
    ASSERT_EQ(stat(d.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(makeDirPrivate(d.c_str()), 1);
    testutil::writeFile(tmp.file("f"), "");
    EXPECT_EQ(makeDirPrivate(tmp.file("f").c_str()), 1);
    ASSERT_EQ(symlink("nowhere", tmp.file("l").c_str()), 0);
    EXPECT_EQ(makeDirPrivate(tmp.file("l").c_str()), 1);
    EXPECT_EQ(makeDirPrivate(tmp.file("no/parent").c_str()), -1);
    umask(old);
}

// The working directory is entered only when the name still holds the private directory that
// was made: a link, a folder others may open or another user's folder is left alone.
TEST_F(PathsTest, EntersOnlyTheOwnPrivateDirectory) {
    mkdir(tmp.file("own").c_str(), 0700);
    mkdir(tmp.file("open").c_str(), 0755);
    mkdir(tmp.file("theirs").c_str(), 0700);
    ASSERT_EQ(chown(tmp.file("theirs").c_str(), 65534, 65534), 0);
    ASSERT_EQ(symlink("own", tmp.file("link").c_str()), 0);
    testutil::writeFile(tmp.file("file"), "");
    const struct {
        const char* name;
        int result;
    } cases[] = {
        {"link", 1}, {"open", 1}, {"theirs", 1}, {"file", 1}, {"missing", -1}, {"own", 0},
    };
    for (const auto& c : cases) {
        char before[4096], after[4096];
        ASSERT_NE(getcwd(before, sizeof(before)), nullptr);
        EXPECT_EQ(enterPrivateDir(tmp.file(c.name).c_str()), c.result) << c.name;
        ASSERT_NE(getcwd(after, sizeof(after)), nullptr);
        EXPECT_EQ(std::string(after), c.result == 0 ? tmp.file(c.name) : std::string(before)) << c.name;
    }
}

TEST_F(PathsTest, BuffersTooSmallGiveEmptyText) {
    char buf[8] = "junk";
    EXPECT_EQ(getTempDir("/tmp", buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "/tmp");
    EXPECT_EQ(getTempDir("/tmp", buf, 4), -1);
    EXPECT_STREQ(buf, "");
    ASSERT_EQ(changeDir(tmp.path().c_str()), 0);
    snprintf(buf, sizeof(buf), "junk");
    EXPECT_EQ(getCurrentDir(buf, sizeof(buf)), -1);
    EXPECT_STREQ(buf, "");
    char big[4096];
    EXPECT_EQ(getCurrentDir(big, sizeof(big)), 0);
    EXPECT_EQ(std::string(big), tmp.path());
    EXPECT_EQ(changeDir(tmp.file("missing").c_str()), -1);
    EXPECT_EQ(getPid(), static_cast<int>(getpid()));
}

}  // namespace
