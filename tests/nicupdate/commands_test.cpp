// The command lines the tool composes, and how a child's status is decoded.
#include <string>

#include "nictest.h"
#include "nicupdate/commands.h"
#include "nicupdate/fwlog.h"

namespace {

struct CmdCase {
    const char* what;
    bool (*compose)(char* out, size_t size);
    const char* expected;
};

const char* kLog = "/var/log/ZAV_Support/ethflash001.log";

const CmdCase kCommands[] = {
    {"listing", [](char* o, size_t n) { return composeListCmd(o, n, "./lnxfwupg"); },
     "./lnxfwupg <q >devices"},
    {"listing to log", [](char* o, size_t n) { return composeListToLogCmd(o, n, "./lnxfwnx2", kLog); },
     "./lnxfwnx2 <q >>/var/log/ZAV_Support/ethflash001.log"},
    {"dir", [](char* o, size_t n) { return composeDirCmd(o, n, "./lnxfwupg", "001018A1B2C3"); },
     "./lnxfwupg 001018A1B2C3 dir >001018A1B2C3"},
    {"upgrade",
     [](char* o, size_t n) { return composeUpgradeCmd(o, n, "./lnxfwupg", "001018A1B2C3", "bc", "1639bc.bin", kLog); },
     "./lnxfwupg 001018A1B2C3 upgrade -noreset -F -bc 1639bc.bin nv.bak >>/var/log/ZAV_Support/ethflash001.log"},
    {"cfg asf", [](char* o, size_t n) { return composeCfgCmd(o, n, "./lnxfwupg", "00AA", "asf", kLog); },
     "./lnxfwupg 00AA cfg -asf 0 >>/var/log/ZAV_Support/ethflash001.log"},
    {"cfg ncsi", [](char* o, size_t n) { return composeCfgCmd(o, n, "./lnxfwnx2", "00AA", "ncsi", "ethflash.log"); },
     "./lnxfwnx2 00AA cfg -ncsi 0 >>ethflash.log"},
    {"crc", [](char* o, size_t n) { return composeCrcCmd(o, n, "./lnxfwnx2", "00:10:18", kLog); },
     "./lnxfwnx2 00:10:18 crc <y >>/var/log/ZAV_Support/ethflash001.log"},
    {"rm", [](char* o, size_t n) { return composeRemoveCmd(o, n, "nv.bak"); }, "rm nv.bak"},
};

TEST(Commands, ComposeExactLines) {
    for (const CmdCase& c : kCommands) {
        char cmd[CMD_SIZE];
        EXPECT_TRUE(c.compose(cmd, sizeof(cmd))) << c.what;
        EXPECT_STREQ(cmd, c.expected) << c.what;
    }
}

// At exactly 255 characters a command fits; one more is refused, not cut.
TEST_F(NicTest, CommandAtTheLimitFitsAndOnePastIsRefused) {
    freshLog();
    char cmd[CMD_SIZE];
    std::string fits(255 - 3, 'p');
    EXPECT_TRUE(composeRemoveCmd(cmd, sizeof(cmd), fits.c_str()));
    EXPECT_EQ(std::string(cmd), "rm " + fits);
    EXPECT_EQ(logBody(), "");
    std::string tooLong(255 - 2, 'p');
    EXPECT_FALSE(composeRemoveCmd(cmd, sizeof(cmd), tooLong.c_str()));
    EXPECT_STREQ(cmd, "");
    EXPECT_EQ(logBody(), "Error! Command line would exceed 255 characters; not run: rm " +
                             std::string(57, 'p') + "...\n");
    EXPECT_EQ(runCommand(cmd), -1);
}

TEST_F(NicTest, RunCommandDecodesStatus) {
    struct {
        const char* cmd;
        int status;
    } cases[] = {
        {"true", 0},
        {"exit 3", 3},
        {"./no-such-program 2>/dev/null", 127},
        {"kill -9 $$", 128 + 9},
        {"", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(runCommand(c.cmd), c.status) << c.cmd;
}

}  // namespace
