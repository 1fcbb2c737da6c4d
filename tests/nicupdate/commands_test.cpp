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
    EXPECT_STREQ(c[3], "./lnxfwupg 00AA upgrade -noreset -F -bc 1639bc.bin nv.bak >>/var/log/ZAV_Support/ethflash001.log");
    EXPECT_STREQ(c[4], "./lnxfwupg 00AA cfg -asf 0 >>/var/log/ZAV_Support/ethflash001.log");
    EXPECT_STREQ(c[5], "./lnxfwnx2 00AA cfg -ncsi 0 >>ethflash.log");
    EXPECT_STREQ(c[6], "./lnxfwnx2 00:10:18 crc <y >>/var/log/ZAV_Support/ethflash001.log");
    EXPECT_STREQ(c[7], "rm nv.bak");
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
