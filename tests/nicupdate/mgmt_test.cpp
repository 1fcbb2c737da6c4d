// Management firmware disable and the CRC check: command sequences, messages, marks, "y".
#include <sys/stat.h>

#include "tests/nicupdate/nictest.h"
#include "nicupdate/crc.h"
#include "nicupdate/devlist.h"
#include "nicupdate/family.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/mgmt.h"

namespace {

// Both fake utilities record "<name> <args>"; "cfg" fails when "fail<option>" exists, "crc"
// when its answer is not "y" or "failcrc.<mac>" exists.
class Mgmt : public NicTest {
protected:
    void SetUp() override {
        NicTest::SetUp();
        freshLog();
        const char* body =
            "tool=$(basename \"$0\")\n"
            "if [ \"$2\" = crc ]; then\n"
            "  read answer; echo \"$tool $* $answer\" >>calls; echo \"crc output $1\"\n"
            "  [ \"$answer\" = y ] && [ ! -f \"failcrc.$1\" ]; exit\n"
            "fi\n"
            "echo \"$tool $*\" >>calls; echo \"cfg output $1 $3\"\n"
            "[ ! -f \"fail$3\" ]\n";
        writeScript("lnxfwupg", body);
        writeScript("lnxfwnx2", body);
    }
    void TearDown() override {
        emptyList(shell(), &first);
        emptyList(shell(), &second);
        NicTest::TearDown();
    }
    void nomfw() {
        StdoutCapture capture;
        disableManagementFirmware(shell(), families(), 2);
        out = capture.stop();
    }
    void crc() {
        StdoutCapture capture;
        perform_crc_check(shell(), families(), 2);
        out = capture.stop();
    }
    // Both lists with their families and utilities, in the order of a run.
    const FamilyRun* families() {
        runs[0] = FamilyRun{&c_netXtreme, "./lnxfwupg", &first};
        runs[1] = FamilyRun{&c_netXtremeII, "./lnxfwnx2", &second};
        return runs;
    }
    FamilyRun runs[2];
    DeviceHeadTail first{nullptr, nullptr};
    DeviceHeadTail second{nullptr, nullptr};
    std::string out;
};

TEST_F(Mgmt, NetXtremeAsfThenUmp) {
    adapter(&first, "1648", "00AA", {"1.0", "NA", "2.1", "1.0", "1.1.9"});
    nomfw();
    EXPECT_EQ(read("calls"), "lnxfwupg 00AA cfg -asf 0\nlnxfwupg 00AA cfg -ump 0\n");
    EXPECT_EQ(out,
              "Disabling management firmware (ASF) for device 00AA\t---> successful\n"
              "Disabling management firmware (UMP) for 00AA\t---> successful\n");
    EXPECT_EQ(logBody(),
              "Disabling management firmware (ASF) for device 00AA\ncfg output 00AA -asf\n"
              "*** Successfully disabled management firmware (ASF) on device 00AA ***\n\n"
              "Disabling management firmware (UMP) for 00AA\ncfg output 00AA -ump\n"
              "*** Successfully disabled management firmware (UMP) on device 00AA ***\n\n");
}

TEST_F(Mgmt, NcsiErrorSaysNSCIOnlyForNetXtremeII) {
    adapter(&first, "1648", "00AA", {"1.0", "NA", "NA", "NA", "NA", "2.0"});
    adapter(&second, "163A", "00BB", {"1.0", "1.0", "2.1", "NA", "NA", "2.0.3"});
    write("fail-ncsi", "");
    nomfw();
    EXPECT_EQ(read("calls"), "lnxfwupg 00AA cfg -ncsi 0\nlnxfwnx2 00BB cfg -ipmi 0\nlnxfwnx2 00BB cfg -ncsi 0\n");
    EXPECT_EQ(out,
              "Disabling management firmware (NCSI) for 00AA\t---> failed\n"
              "Disabling management firmware (IPMI) for 00BB\t---> successful\n"
              "Disabling management firmware (NCSI) for 00BB\t---> failed\n");
    std::string logText = logBody();
    EXPECT_NE(logText.find(" !!! Error disabling management firmware (NCSI) on device 00AA !!!\n\n"),
              std::string::npos);
    EXPECT_NE(logText.find(" !!! Error disabling management firmware (NSCI) on device 00BB !!!\n\n"),
              std::string::npos);
}

TEST_F(Mgmt, GateIsExactAndAbsentComponentsAreSilent) {
    adapter(&first, "1648", "00AA", {"1.0", "na", "NA", "NA", "NA", "nA"});
    adapter(&second, "163A", "00BB", {"1.0"});
    nomfw();
    EXPECT_EQ(read("calls"), "lnxfwupg 00AA cfg -ipmi 0\nlnxfwupg 00AA cfg -ncsi 0\n");
    EXPECT_EQ(out.find("00BB"), std::string::npos);
}

TEST_F(Mgmt, CrcOfBothListsWithTheirUtilities) {
    adapter(&first, "1648", "00AA", {});
    adapter(&second, "163A", "00BB", {});
    write("failcrc.00BB", "");
    crc();
    EXPECT_EQ(read("calls"), "lnxfwupg 00AA crc y\nlnxfwnx2 00BB crc y\n");
    EXPECT_EQ(out,
              "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n"
              "Performing CRC check for device 00AA\t---> successful\n"
              "Performing CRC check for device 00BB\t---> failed\n"
              "\nCRC check complete.\n");
    EXPECT_EQ(logBody(),
              "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n"
              "Performing CRC check for device 00AA\ncrc output 00AA\n"
              "*** Successfully completed CRC check on device 00AA ***\n\n"
              "Performing CRC check for device 00BB\ncrc output 00BB\n"
              " !!! Error performing CRC check on device 00BB !!!\n\n"
              "\nCRC check complete.\n");
    EXPECT_FALSE(exists("y"));
}

TEST_F(Mgmt, CrcWithoutAnswerFileRunsNothing) {
    adapter(&first, "1648", "00AA", {});
    mkdir(tmp.file("y").c_str(), 0755);
    crc();
    EXPECT_EQ(out, "Error! Cannot create temporary file \"y\".\n");
    EXPECT_EQ(logBody(), out);
    EXPECT_FALSE(exists("calls"));
}

}  // namespace
