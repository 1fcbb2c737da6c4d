// Management firmware disable and the CRC check: command sequences, messages, marks, "y".
#include <sys/stat.h>

#include <string>

#include "nictest.h"
#include "nicupdate/devlist.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/mgmt.h"

using testutil::pathExists;
using testutil::readFile;
using testutil::writeFile;

namespace {

class Mgmt : public NicTest {
protected:
    // Both fake utilities record "<name> <args>"; "cfg" fails when "fail<option>.<mac>" exists,
    // "crc" fails when its answer is not "y" or "failcrc.<mac>" exists.
    void SetUp() override {
        NicTest::SetUp();
        freshLog();
        const char* body =
            "tool=$(basename \"$0\")\n"
            "if [ \"$2\" = crc ]; then\n"
            "  read answer; echo \"$tool $* $answer\" >>calls; echo \"crc output $1\"\n"
            "  [ \"$answer\" = y ] || exit 2; [ -f \"failcrc.$1\" ] && exit 1; exit 0\n"
            "fi\n"
            "echo \"$tool $*\" >>calls; echo \"cfg output $1 $3\"\n"
            "[ -f \"fail$3.$1\" ] && exit 1\n"
            "exit 0\n";
        writeScript("lnxfwupg", body);
        writeScript("lnxfwnx2", body);
    }
    void TearDown() override {
        emptyList(&first);
        emptyList(&second);
        NicTest::TearDown();
    }
    void adapter(DeviceHeadTail* list, const char* mac, const char* ipmi, const char* asf, const char* ump,
                 const char* ncsi) {
        addDevicetoList(list, "1639", mac);
        Device* d = list->tail;
        snprintf(d->bootVer, VERSION_SIZE, "%s", "1.0");
        snprintf(d->ipmiVer, VERSION_SIZE, "%s", ipmi);
        snprintf(d->asfVer, VERSION_SIZE, "%s", asf);
        snprintf(d->pxeVer, VERSION_SIZE, "%s", "1.0");
        snprintf(d->umpVer, VERSION_SIZE, "%s", ump);
        snprintf(d->ncsiVer, VERSION_SIZE, "%s", ncsi);
        snprintf(d->iscsiVer, VERSION_SIZE, "%s", "1.0");
    }
    void nomfw() {
        StdoutCapture capture;
        disableManagementFirmware(&first, &second, "./lnxfwupg", "./lnxfwnx2");
        out = capture.stop();
    }
    void crc(const DeviceHeadTail* a, const DeviceHeadTail* b) {
        StdoutCapture capture;
        perform_crc_check(a, b, "./lnxfwupg", "./lnxfwnx2");
        out = capture.stop();
    }
    std::string calls() const { return readFile(tmp.file("calls")); }
    DeviceHeadTail first{nullptr, nullptr};
    DeviceHeadTail second{nullptr, nullptr};
    std::string out;
};

TEST_F(Mgmt, NetXtremeAsfThenUmp) {
    adapter(&first, "00AA", "NA", "2.1", "1.1.9", "NA");
    nomfw();
    EXPECT_EQ(calls(), "lnxfwupg 00AA cfg -asf 0\nlnxfwupg 00AA cfg -ump 0\n");
    EXPECT_EQ(out,
              "Disabling management firmware (ASF) for device 00AA\t---> successful\n"
              "Disabling management firmware (UMP) for 00AA\t---> successful\n");
    EXPECT_EQ(logBody(),
              "Disabling management firmware (ASF) for device 00AA\n"
              "cfg output 00AA -asf\n"
              "*** Successfully disabled management firmware (ASF) on device 00AA ***\n\n"
              "Disabling management firmware (UMP) for 00AA\n"
              "cfg output 00AA -ump\n"
              "*** Successfully disabled management firmware (UMP) on device 00AA ***\n\n");
}

TEST_F(Mgmt, NetXtremeIINeverAsfAndNcsiErrorSaysNSCI) {
    adapter(&second, "00BB", "1.0", "2.1", "NA", "2.0.3");
    writeFile(tmp.file("fail-ncsi.00BB"), "");
    nomfw();
    EXPECT_EQ(calls(), "lnxfwnx2 00BB cfg -ipmi 0\nlnxfwnx2 00BB cfg -ncsi 0\n");
    EXPECT_EQ(out,
              "Disabling management firmware (IPMI) for 00BB\t---> successful\n"
              "Disabling management firmware (NCSI) for 00BB\t---> failed\n");
    EXPECT_EQ(logBody(),
              "Disabling management firmware (IPMI) for 00BB\n"
              "cfg output 00BB -ipmi\n"
              "*** Successfully disabled management firmware (IPMI) on device 00BB ***\n\n"
              "Disabling management firmware (NCSI) for 00BB\n"
              "cfg output 00BB -ncsi\n"
              " !!! Error disabling management firmware (NSCI) on device 00BB !!!\n\n");
}

TEST_F(Mgmt, NetXtremeNcsiErrorSaysNCSIAndEveryComponentIsTried) {
    adapter(&first, "00AA", "1.0", "2.1", "1.1", "2.0");
    adapter(&first, "00CC", "1.0", "NA", "NA", "NA");
    writeFile(tmp.file("fail-asf.00AA"), "");
    writeFile(tmp.file("fail-ncsi.00AA"), "");
    nomfw();
    EXPECT_EQ(calls(),
              "lnxfwupg 00AA cfg -asf 0\nlnxfwupg 00AA cfg -ipmi 0\nlnxfwupg 00AA cfg -ump 0\n"
              "lnxfwupg 00AA cfg -ncsi 0\nlnxfwupg 00CC cfg -ipmi 0\n");
    EXPECT_NE(logBody().find(" !!! Error disabling management firmware (ASF) on device 00AA !!!\n\n"), std::string::npos);
    EXPECT_NE(logBody().find(" !!! Error disabling management firmware (NCSI) on device 00AA !!!\n\n"), std::string::npos);
}

TEST_F(Mgmt, GateIsExactSoLowerCaseNaIsPresent) {
    adapter(&first, "00AA", "na", "NA", "NA", "nA");
    adapter(&second, "00BB", "NA", "NA", "NA", "NA");
    nomfw();
    EXPECT_EQ(calls(), "lnxfwupg 00AA cfg -ipmi 0\nlnxfwupg 00AA cfg -ncsi 0\n");
}

TEST_F(Mgmt, NothingPresentMeansNoOutputAtAll) {
    adapter(&first, "00AA", "NA", "NA", "NA", "NA");
    adapter(&second, "00BB", "NA", "NA", "NA", "NA");
    nomfw();
    EXPECT_EQ(out, "");
    EXPECT_EQ(logBody(), "");
    EXPECT_FALSE(pathExists(tmp.file("calls")));
    StdoutCapture capture;
    disableManagementFirmware(nullptr, nullptr, "./lnxfwupg", "./lnxfwnx2");
    EXPECT_EQ(capture.stop(), "");
}

TEST_F(Mgmt, CrcOfBothListsWithTheirUtilities) {
    adapter(&first, "00AA", "NA", "NA", "NA", "NA");
    adapter(&second, "00BB", "NA", "NA", "NA", "NA");
    writeFile(tmp.file("failcrc.00BB"), "");
    crc(&first, &second);
    EXPECT_EQ(calls(), "lnxfwupg 00AA crc y\nlnxfwnx2 00BB crc y\n");
    EXPECT_EQ(out,
              "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n"
              "Performing CRC check for device 00AA\t---> successful\n"
              "Performing CRC check for device 00BB\t---> failed\n"
              "\nCRC check complete.\n");
    EXPECT_EQ(logBody(),
              "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n"
              "Performing CRC check for device 00AA\n"
              "crc output 00AA\n"
              "*** Successfully completed CRC check on device 00AA ***\n\n"
              "Performing CRC check for device 00BB\n"
              "crc output 00BB\n"
              " !!! Error performing CRC check on device 00BB !!!\n\n"
              "\nCRC check complete.\n");
    EXPECT_FALSE(pathExists(tmp.file("y")));
}

TEST_F(Mgmt, SilentCrcShowsNothingAndLogsEverything) {
    adapter(&first, "00AA", "NA", "NA", "NA", "NA");
    crc(&first, nullptr);
    std::string loud = logBody();
    freshLog();
    bSilent = true;
    crc(&first, nullptr);
    EXPECT_EQ(out, "");
    EXPECT_EQ(logBody(), loud);
}

TEST_F(Mgmt, CrcOfEmptyListsStillLogsAndRemovesY) {
    DeviceHeadTail empty{nullptr, nullptr};
    crc(&empty, nullptr);
    EXPECT_EQ(out, "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n\nCRC check complete.\n");
    EXPECT_FALSE(pathExists(tmp.file("y")));
}

TEST_F(Mgmt, CrcWithoutAnswerFileRunsNothing) {
    adapter(&first, "00AA", "NA", "NA", "NA", "NA");
    mkdir(tmp.file("y").c_str(), 0755);
    crc(&first, nullptr);
    EXPECT_EQ(out, "Error! Cannot create temporary file \"y\".\n");
    EXPECT_EQ(logBody(), out);
    EXPECT_FALSE(pathExists(tmp.file("calls")));
}

}  // namespace
