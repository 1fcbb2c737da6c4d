#include "launcher/os/media.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/launcher/launcher_test.h"

namespace {

using testutil::readFile;
using testutil::writeFile;

using MediaTest = LauncherTest;

TEST_F(MediaTest, ReadDeviceTakesTheFirstWordOfAtMostThirtyTwoBytes) {
    const struct {
        std::string content;
        int result;
        const char* device;
    } cases[] = {
        {"/dev/sdb1 * 63 1023 FAT32\n", 1, "/dev/sdb1"},
        {"/dev/sdc1\t2048 FAT16", 1, "/dev/sdc1"},
        {std::string(40, 'x'), 1, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        {"", 0, ""},
    };
    for (const auto& c : cases) {
        writeFile(tmp.file("list"), c.content);
        char buf[READ_DEVICE_SIZE];
        EXPECT_EQ(readDevice(buf, tmp.file("list").c_str()), c.result);
        EXPECT_STREQ(buf, c.device);
    }
    char buf[READ_DEVICE_SIZE];
    EXPECT_EQ(readDevice(buf, tmp.file("missing").c_str()), 0);

    writeFile(tmp.file("list"), "/dev/sdd1 FAT32\n");
    int saved = dup(0);
    close(0);  // the list is opened as descriptor 0
    int result = readDevice(buf, tmp.file("list").c_str());
    dup2(saved, 0);
    close(saved);
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(buf, "/dev/sdd1");
}

TEST_F(MediaTest, MountsTheFirstFatPartitionThroughAPrivateListing) {
    const std::string listCmd = "sfdisk -l 2>/dev/null | grep FAT>'";
    const struct {
        const char* listing;  // what the pipeline leaves in the listing file
        int listStatus, mountStatus, result;
        const char* err;
        const char* device;
    } cases[] = {
        {"/dev/fake1 * 63 FAT32\n/dev/fake2 FAT16\n", 0, 0, 0, "", "/dev/fake1"},
        {"/dev/fake1 * 63 FAT32\n", 0, 32, 1, "Failed mounting removable media!\n", "/dev/fake1"},
        {"", 1, 0, 1, "Failed finding removable media.\n", ""},  // grep found no FAT line
    };
    for (const auto& c : cases) {
        recordCommands([&](const std::string& cmd) {
            if (cmd.rfind(listCmd, 0) != 0) return c.mountStatus;
            writeFile(cmd.substr(listCmd.size(), cmd.size() - listCmd.size() - 1), c.listing);
            return c.listStatus;
        });
        char dev[READ_DEVICE_SIZE] = "junk", mnt[16] = "";
        std::string err =
            stderrOf([&] { EXPECT_EQ(mountRemovableMedia(&ctx.commands, ctx.tempDir, dev, mnt), c.result); });
        EXPECT_EQ(err, c.err);
        EXPECT_STREQ(dev, c.device);
        EXPECT_STREQ(mnt, c.result == 0 ? "/mnt/key" : "");
        // The listing goes through a private name (mkstemp's six characters) under the temporary directory.
        const std::string listPrefix = listCmd + tmp.path() + "/port.install.sfdisk.";
        ASSERT_EQ(commandsRun.size(), c.device[0] ? 2u : 1u);
        EXPECT_EQ(commandsRun[0].rfind(listPrefix, 0), 0u) << commandsRun[0];
        EXPECT_EQ(commandsRun[0].size(), listPrefix.size() + 7) << commandsRun[0];
        if (c.device[0]) {
            EXPECT_EQ(commandsRun[1], "mount '/dev/fake1' /mnt/key");
        }
        for (const auto& name : testutil::listDir(tmp.path())) EXPECT_EQ(name.find("port.install"), std::string::npos);
    }

    recordCommands([](const std::string&) { return 5; });
    EXPECT_EQ(unmountRemovableMedia(&ctx.commands, "/dev/fake1", "/mnt/other"), 1);
    EXPECT_EQ(unmountRemovableMedia(&ctx.commands, "/dev/fake1", "/mnt/key"), 5);
    EXPECT_EQ(commandsRun, std::vector<std::string>{"umount '/dev/fake1'"});
}

int openDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

TEST_F(MediaTest, LatestFileBySuffixAndTime) {
    const std::string dir = tmp.path() + "/";
    const struct {
        std::string name;
        time_t mtime;
        bool isDir;
    } entries[] = {{"a.log", 100, false},
                   {"b.log", 300, false},
                   {"c.txt", 500, false},
                   {"d.log", 900, true},
                   {"og", 950, false},
                   {"zero.log", 0, false},
                   {std::string(250, 'n') + ".log", 200, false}};
    for (const auto& e : entries) {
        std::string p = dir + e.name;
        if (e.isDir)
            mkdir(p.c_str(), 0755);
        else
            writeFile(p, "");
        struct timeval tv[2] = {{e.mtime, 0}, {e.mtime, 0}};
        ASSERT_EQ(utimes(p.c_str(), tv), 0);
    }
    int before = openDescriptors();
    for (int i = 0; i < 20; ++i) free(findLatestFile(dir.c_str(), ".log"));
    EXPECT_EQ(openDescriptors(), before);

    char* latest = findLatestFile(dir.c_str(), ".log");
    ASSERT_NE(latest, nullptr);
    EXPECT_EQ(std::string(latest), dir + "b.log");
    free(latest);
    latest = findLatestFile(dir.c_str(), "n.log");
    ASSERT_NE(latest, nullptr);
    EXPECT_EQ(std::string(latest), dir + std::string(250, 'n') + ".log");
    free(latest);
    EXPECT_EQ(findLatestFile(dir.c_str(), "zero.log"), nullptr);  // time 0 never wins
    EXPECT_EQ(findLatestFile(dir.c_str(), ".none"), nullptr);
    EXPECT_EQ(findLatestFile((dir + "missing/").c_str(), ".log"), nullptr);
}

}  // namespace
