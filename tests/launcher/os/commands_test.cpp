#include "launcher/os/commands.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "launcher/os/permissions.h"
#include "launcher/os/pkgproc.h"
#include "tests/launcher/launcher_test.h"

namespace {

using testutil::pathExists;
using testutil::readFile;
using testutil::writeFile;

using CommandsTest = LauncherTest;

TEST(OsSystem, ReportsExitCodesAndSignalsAsAShellDoes) {
    const struct {
        const char* cmd;
        int result;
    } cases[] = {
        {"exit 0", 0},
        {"exit 3", 3},
        {"exit 255", 255},
        {"no_such_command_zav 2>/dev/null", 127},
        {"kill -TERM $$", 128 + SIGTERM},  // the shell itself dies by the signal
        {"kill -KILL $$", 128 + SIGKILL},
        {"exec sh -c 'kill -SEGV $$'", 128 + SIGSEGV},
    };
    for (const auto& c : cases) EXPECT_EQ(os_system_linux(c.cmd), c.result) << c.cmd;
}

TEST(OsSystem, DecodesEveryKindOfWaitStatus) {
    const struct {
        int status;
        int result;
    } cases[] = {
        {-1, 255},
        {0, 0},
        {3 << 8, 3},
        {255 << 8, 255},
        {SIGKILL, 128 + SIGKILL},
        {SIGINT, 128 + SIGINT},
        {SIGSEGV | 0x80, 128 + SIGSEGV},  // with a core dump
    };
    for (const auto& c : cases) EXPECT_EQ(decodeWaitStatus(c.status), c.result) << c.status;
}

TEST_F(CommandsTest, DirectoryAndCopyCommands) {
    std::string dir = tmp.file("a b/c");
    EXPECT_EQ(makeDir(&ctx.commands, dir.c_str()), 1);
    EXPECT_EQ(makeDir(&ctx.commands, dir.c_str()), 1);  // mkdir -p: an existing directory is fine
    writeFile(tmp.file("file"), "data");
    EXPECT_EQ(makeDir(&ctx.commands, tmp.file("file/sub").c_str()), 0);

    EXPECT_EQ(copyFile(&ctx.commands, tmp.file("file").c_str(), (dir + "/copy").c_str()), 1);
    EXPECT_EQ(readFile(dir + "/copy"), "data");
    EXPECT_EQ(copyFile(&ctx.commands, tmp.file("missing").c_str(), (dir + "/x").c_str()), 0);
    EXPECT_EQ(copyTree(&ctx.commands, tmp.file("a b").c_str(), tmp.file("tree").c_str()), 1);
    EXPECT_EQ(readFile(tmp.file("tree/c/copy")), "data");
    EXPECT_EQ(deleteTree(&ctx.commands, tmp.file("a b").c_str()), 1);
    EXPECT_FALSE(pathExists(tmp.file("a b")));
}

TEST_F(CommandsTest, CommandsLongerThanTheirBufferAreNotRun) {
    // mkdir -p "path" is 11 characters plus the path; the buffer holds 519.
    const size_t longest = CMD_COMPOSE_SIZE - 1 - 11;
    std::string fits = tmp.path();
    while (longest - fits.size() > 101) fits += "/" + std::string(100, 'd');
    fits += "/" + std::string(longest - fits.size() - 1, 'd');
    ASSERT_EQ(fits.size(), longest);
    std::string tooLong = fits + "d";
    EXPECT_EQ(makeDir(&ctx.commands, fits.c_str()), 1);
    EXPECT_TRUE(pathExists(fits));
    // Refused lines are failures (0) for the helpers their callers test with '!'.
    EXPECT_EQ(makeDir(&ctx.commands, tooLong.c_str()), 0);
    EXPECT_FALSE(pathExists(tooLong));
    EXPECT_EQ(deleteTree(&ctx.commands, (tooLong + "ddd").c_str()), 0);
    EXPECT_EQ(copyFile(&ctx.commands, tooLong.c_str(), "x"), 0);
    EXPECT_FALSE(copyFileFits(tooLong.c_str(), "x"));
    EXPECT_TRUE(copyFileFits("a", "b"));
    EXPECT_EQ(copyTree(&ctx.commands, tooLong.c_str(), "x"), 0);
    EXPECT_FALSE(pathExists(tmp.file("x")));
    EXPECT_EQ(launchTextEditor(&ctx.commands, (tooLong + tooLong).c_str()), CMD_TOO_LONG);
}

TEST_F(CommandsTest, WrittenFilesGetModeSevenFiveFive) {
    mode_t old = umask(0);
    for (mode_t before : {0200, 0777, 0600}) {
        writeFile(tmp.file("f"), "x", before);
        chmod(tmp.file("f").c_str(), before);
        struct stat st;
        EXPECT_EQ(makeFileReadable(tmp.file("f").c_str()), 0);
        ASSERT_EQ(stat(tmp.file("f").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u);
        chmod(tmp.file("f").c_str(), before);
        EXPECT_EQ(makeFileExecutable(tmp.file("f").c_str()), 0);
        ASSERT_EQ(stat(tmp.file("f").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u);
    }
    umask(old);
    EXPECT_EQ(makeFileExecutable(tmp.file("missing").c_str()), -1);

    mkdir(tmp.file("d").c_str(), 0755);
    writeFile(tmp.file("d/deep"), "", 0644);
    ASSERT_EQ(chdir(tmp.path().c_str()), 0);
    makeAllFilesExecutable(&ctx.commands);
    EXPECT_EQ(access(tmp.file("d/deep").c_str(), X_OK), 0);
}

}  // namespace
