// The command lines the tool composes, the limit, and how a child's status is decoded.
#include "tests/nicupdate/nictest.h"
#include "nicupdate/commands.h"

namespace {

TEST(Commands, ComposeExactLines) {
    RunLog runLog;  // every line fits: nothing is logged
    const char* log = "/var/log/ZAV_Support/ethflash001.log";
    char c[8][CMD_SIZE];
    EXPECT_TRUE(composeListCmd(runLog, c[0], CMD_SIZE, "./lnxfwupg"));
    EXPECT_TRUE(composeListToLogCmd(runLog, c[1], CMD_SIZE, "./lnxfwnx2", log));
    EXPECT_TRUE(composeDirCmd(runLog, c[2], CMD_SIZE, "./lnxfwupg", "001018A1B2C3"));
    EXPECT_TRUE(composeUpgradeCmd(runLog, c[3], CMD_SIZE, "./lnxfwupg", "00AA", "bc", "1639bc.bin", log));
    EXPECT_TRUE(composeCfgCmd(runLog, c[4], CMD_SIZE, "./lnxfwupg", "00AA", "asf", log));
    EXPECT_TRUE(composeCfgCmd(runLog, c[5], CMD_SIZE, "./lnxfwnx2", "00AA", "ncsi", "ethflash.log"));
    EXPECT_TRUE(composeCrcCmd(runLog, c[6], CMD_SIZE, "./lnxfwnx2", "00:10:18", log));
    EXPECT_TRUE(composeRemoveCmd(runLog, c[7], CMD_SIZE, "nv.bak"));
    EXPECT_STREQ(c[0], "./lnxfwupg <q >devices");
    EXPECT_STREQ(c[1], "./lnxfwnx2 <q >>/var/log/ZAV_Support/ethflash001.log");
    EXPECT_STREQ(c[2], "./lnxfwupg 001018A1B2C3 dir >001018A1B2C3");
    EXPECT_STREQ(c[3],
                 "./lnxfwupg 00AA upgrade -noreset -F -bc 1639bc.bin nv.bak >>/var/log/ZAV_Support/ethflash001.log");
    EXPECT_STREQ(c[4], "./lnxfwupg 00AA cfg -asf 0 >>/var/log/ZAV_Support/ethflash001.log");
    EXPECT_STREQ(c[5], "./lnxfwnx2 00AA cfg -ncsi 0 >>ethflash.log");
    EXPECT_STREQ(c[6], "./lnxfwnx2 00:10:18 crc <y >>/var/log/ZAV_Support/ethflash001.log");
    EXPECT_STREQ(c[7], "rm nv.bak");
}

// A log path from outside (the starting folder, the current folder) is one shell word whatever
// it holds; the usual paths stay unquoted (ComposeExactLines).
TEST(Commands, LogPathFromOutsideIsQuotedOnlyWhenItMustBe) {
    RunLog runLog;
    const struct {
        const char* path;
        const char* word;
    } cases[] = {
        {"/root/my dir/ethflash.log", "'/root/my dir/ethflash.log'"},
        {"/srv/a;reboot/ethflash.log", "'/srv/a;reboot/ethflash.log'"},
        {"/srv/$(reboot)/ethflash.log", "'/srv/$(reboot)/ethflash.log'"},
        {"/srv/it's/ethflash.log", "'/srv/it'\\''s/ethflash.log'"},
        {"/srv/pkg_1.0-rc/ethflash001.log", "/srv/pkg_1.0-rc/ethflash001.log"},
    };
    for (const auto& c : cases) {
        char cmd[CMD_SIZE];
        std::string word = c.word;
        ASSERT_TRUE(composeListToLogCmd(runLog, cmd, sizeof(cmd), "./lnxfwupg", c.path));
        EXPECT_EQ(std::string(cmd), "./lnxfwupg <q >>" + word);
        ASSERT_TRUE(composeUpgradeCmd(runLog, cmd, sizeof(cmd), "./lnxfwupg", "00AA", "bc", "1648bc.bin", c.path));
        EXPECT_EQ(std::string(cmd), "./lnxfwupg 00AA upgrade -noreset -F -bc 1648bc.bin nv.bak >>" + word);
        ASSERT_TRUE(composeCfgCmd(runLog, cmd, sizeof(cmd), "./lnxfwupg", "00AA", "ump", c.path));
        EXPECT_EQ(std::string(cmd), "./lnxfwupg 00AA cfg -ump 0 >>" + word);
        ASSERT_TRUE(composeCrcCmd(runLog, cmd, sizeof(cmd), "./lnxfwupg", "00AA", c.path));
        EXPECT_EQ(std::string(cmd), "./lnxfwupg 00AA crc <y >>" + word);
    }
}

// 255 characters fit; one more is refused (empty, logged), never cut, and runs nothing.
TEST_F(NicTest, CommandPastTheLimitIsRefused) {
    freshLog();
    char cmd[CMD_SIZE];
    EXPECT_TRUE(composeRemoveCmd(log, cmd, sizeof(cmd), std::string(252, 'p').c_str()));
    EXPECT_EQ(std::string(cmd).size(), 255u);
    EXPECT_FALSE(composeRemoveCmd(log, cmd, sizeof(cmd), std::string(253, 'p').c_str()));
    EXPECT_STREQ(cmd, "");
    EXPECT_EQ(runCommand(cmd), -1);
    EXPECT_NE(logBody().find("Error! Command line would exceed 255 characters; not run: rm ppp"), std::string::npos);
}

TEST(Commands, RunCommandDecodesStatus) {
    EXPECT_EQ(runCommand("true"), 0);
    EXPECT_EQ(runCommand("exit 3"), 3);
    EXPECT_EQ(runCommand("./no-such-program 2>/dev/null"), 127);
    EXPECT_EQ(runCommand("kill -9 $$"), 128 + 9);
}

}  // namespace
