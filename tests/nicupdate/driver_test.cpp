// Command line, answer files and the run of each mode.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "nictest.h"
#include "nicupdate/driver.h"
#include "nicupdate/fwlog.h"

using testutil::pathExists;
using testutil::readFile;

namespace {

int modeOf(std::vector<std::string> args) {
    std::vector<char*> argv;
    args.insert(args.begin(), "./nicburn");
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return processCmdLine(static_cast<int>(args.size()), argv.data());
}

TEST(ProcessCmdLine, Modes) {
    struct {
        std::vector<std::string> args;
        int mode;
    } cases[] = {
        {{}, MODE_UPDATE},
        {{"-s"}, MODE_SILENT},
        {{"-S"}, MODE_SILENT},
        {{"-v"}, MODE_VERSIONS},
        {{"-V"}, MODE_VERSIONS},
        {{"-?"}, MODE_USAGE},
        {{"-nomfw"}, MODE_NOMFW},
        {{"-NoMfW"}, MODE_NOMFW},
        {{"-crc"}, MODE_CRC},
        {{"-CRC"}, MODE_CRC},
        {{"--v"}, MODE_BAD_USAGE},
        {{"v"}, MODE_BAD_USAGE},
        {{"-"}, MODE_BAD_USAGE},
        {{""}, MODE_BAD_USAGE},
        {{"-nomf"}, MODE_BAD_USAGE},
        {{"-crcc"}, MODE_BAD_USAGE},
        {{"-help"}, MODE_BAD_USAGE},
        {{"-s", "-v"}, MODE_BAD_USAGE},
        {{"-v", "-v"}, MODE_BAD_USAGE},
        {{"-v", "x", "y"}, MODE_BAD_USAGE},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += "[" + a + "]";
        EXPECT_EQ(modeOf(c.args), c.mode) << shown;
    }
}

class Driver : public NicTest {
protected:
    int run(std::vector<std::string> args, SecondFamilyDiscovery second = discoverNetXtremeII) {
        std::vector<char*> argv;
        args.insert(args.begin(), "./nicburn");
        for (auto& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        StdoutCapture capture;
        int status = runNicburn(static_cast<int>(args.size()), argv.data(), second);
        out = capture.stop();
        return status;
    }
    std::string out;
};

const char kUsage[] =
    "Usage:\n\n"
    "   ./nicburn [OPTION]\n\n\n"
    "The options are:\n\n"
    "   -v     (Display currently installed firmware versions.)\n"
    "   -s     (Perform silent firmware update.)\n"
    "   -nomfw (Disable Management Firmware.)\n"
    "   -crc   (Perform CRC check.)\n"
    "   -?     (Display this usage information.)\n";

const char kBanner[] = "ZAV Ethernet Firmware Update Tool, Version 1.0.9\n\n";

TEST_F(Driver, UsageShowsOnlyTheTextAndLeavesAHeaderOnlyLog) {
    EXPECT_EQ(run({"-?"}), 0);
    EXPECT_EQ(out, kUsage);
    EXPECT_EQ(std::string(szFwuplog), logDir() + "ethflash.log");
    EXPECT_EQ(logText(), kLogHeader);
    EXPECT_FALSE(pathExists(tmp.file("q")));
}

TEST_F(Driver, IncorrectUsageShowsBannerAndErrorAndExits1) {
    for (auto args : std::vector<std::vector<std::string>>{{"-s", "-v"}, {"--v"}, {"v"}, {"-"}}) {
        EXPECT_EQ(run(args), 1);
        std::string expected = std::string(kBanner) + "Error! Incorrect usage of command line parameters.\n";
        EXPECT_EQ(out, expected);
        EXPECT_EQ(logBody(), expected);
        EXPECT_FALSE(pathExists(tmp.file("q")));
    }
}

TEST_F(Driver, NoQuitFileEndsWithStatus1) {
    mkdir(tmp.file("q").c_str(), 0755);
    EXPECT_EQ(run({"-v"}), 1);
    std::string expected = std::string(kBanner) + "Error! Cannot create temporary file \"q\".\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(logBody(), expected);
}

// Fake utilities: lnxfwupg lists one NetXtreme adapter, lnxfwnx2 one NetXtreme II adapter.
// "dir" prints dir.<mac>; "upgrade" records itself, leaves nv.bak, fails when fail<option>
// exists and otherwise installs new.<mac> as the adapter's next listing; "cfg" and "crc"
// record themselves, "crc" fails when failcrc exists.
class DriverWithAdapters : public Driver {
protected:
    void SetUp() override {
        Driver::SetUp();
        const char* body =
            "tool=$(basename \"$0\")\n"
            "case \"$2\" in\n"
            "dir) cat \"dir.$1\" 2>/dev/null; exit 0;;\n"
            "upgrade) echo \"$tool $*\" >>calls; echo \"upgrading $1 $5\"; echo bak >nv.bak\n"
            "  [ -f \"fail$5\" ] && exit 1; [ -f \"new.$1\" ] && cp \"new.$1\" \"dir.$1\"; exit 0;;\n"
            "cfg) echo \"$tool $*\" >>calls; exit 0;;\n"
            "crc) read a; echo \"$tool $* $a\" >>calls; [ -f failcrc ] && exit 1; exit 0;;\n"
            "esac\n"
            "read a; cat \"table.$tool\"\n";
        writeScript("lnxfwupg", body);
        writeScript("lnxfwnx2", body);
        testutil::writeFile(tmp.file("table.lnxfwupg"), " C Dev MAC Address\n--\n1 1648 00AA eth0\n0>\n");
        testutil::writeFile(tmp.file("table.lnxfwnx2"), " C Dev MAC Address\n--\n1 163A 00BB eth1\nQuit\n");
        testutil::writeFile(tmp.file("dir.00AA"), "1 BootCode BC 0 0 5704-v3.29\n2 ASFIPMI v6.2\n5 PXE MBA v8.3.11\n");
        testutil::writeFile(tmp.file("new.00AA"), "1 BootCode BC 0 0 5704-v3.30\n2 ASFIPMI v6.2\n5 PXE MBA v8.4.0\n");
        testutil::writeFile(tmp.file("dir.00BB"), "BC1 4.4.1\n ipmi 1.0\n");
        testutil::writeFile(tmp.file("new.00BB"), "BC1 4.6.0\n ipmi 1.0\n");
        for (const char* image : {"1648bc.bin", "1648ipmi.bin", "1648mba.bin", "163Abc.bin", "163Aipmi.bin"})
            testutil::writeFile(tmp.file(image), "image");
    }
    // Names left in the current directory other than the fixtures.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& n : testutil::listDir(tmp.path()))
            if (n != "log" && n != "lnxfwupg" && n != "lnxfwnx2" && n != "calls" && n.rfind("fail", 0) != 0 &&
                n.find('.') == std::string::npos)
                names.push_back(n);
        if (pathExists(tmp.file("nv.bak"))) names.push_back("nv.bak");
        return names;
    }
    std::string calls() const { return readFile(tmp.file("calls")); }
};

const char kTableHead[] =
    "\n    ADAPTER MAC    \tBOOT\tIPMI\tASF\tPXE\tUMP\tNCSI\tiSCSI\n"
    "-------------------\t----\t----\t---\t---\t---\t---\t---\n";

const char kRowAABefore[] = "00AA (5704)\t3.29\t6.2\tNA\t8.3.11\tNA\tNA\tNA\n";
const char kRowAAAfter[] = "00AA (5704)\t3.30\t6.2\tNA\t8.4.0\tNA\tNA\tNA\n";
const char kRowBBBefore[] = "00BB (5709s)\t4.4.1\t1.0\tNA\tNA\tNA\tNA\tNA\n";
const char kRowBBAfter[] = "00BB (5709s)\t4.6.0\t1.0\tNA\tNA\tNA\tNA\tNA\n";
const char kNoNx2[] = "\nWarning. No Broadcom NetXtreme II adapters found.\n";

TEST_F(DriverWithAdapters, VersionsOfBothFamilies) {
    EXPECT_EQ(run({"-v"}), 0);
    EXPECT_EQ(out, std::string(kBanner) + kTableHead + kRowAABefore + kRowBBBefore);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(DriverWithAdapters, VersionsOfPowerPCBuildLeaveNetXtremeIIOut) {
    EXPECT_EQ(run({"-V"}, skipNetXtremeII), 0);
    EXPECT_EQ(out, std::string(kBanner) + kNoNx2 + kTableHead + kRowAABefore);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

std::string updateScreen(bool bothFamilies) {
    std::string s = std::string(kBanner) + (bothFamilies ? "" : kNoNx2) + kTableHead + kRowAABefore +
                    (bothFamilies ? kRowBBBefore : "") +
                    "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n"
                    "Performing CRC check for device 00AA\t---> successful\n" +
                    (bothFamilies ? "Performing CRC check for device 00BB\t---> successful\n" : "") +
                    "\nCRC check complete.\n"
                    "\nUpdating Broadcom NetXtreme adapters.\n"
                    "Updating 00AA using file 1648bc.bin\t---> Update successful\n"
                    "Updating 00AA using file 1648ipmi.bin\t---> Update successful\n"
                    "Updating 00AA using file 1648mba.bin\t---> Update successful\n";
    if (bothFamilies)
        s += "\nUpdating Broadcom NetXtreme II adapters.\n"
             "Updating 00BB using file 163Abc.bin\t---> Update successful\n"
             "Updating 00BB using file 163Aipmi.bin\t---> Update successful\n";
    s += std::string(bothFamilies ? "" : kNoNx2) + kTableHead + kRowAAAfter + (bothFamilies ? kRowBBAfter : "");
    return s;
}

TEST_F(DriverWithAdapters, UpdateRunShowsBothTablesAroundCrcAndUpdates) {
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(out, updateScreen(true) + "\n\nUpdate complete. The firmware update log has been saved in " +
                       szFwuplog + ".\n");
    EXPECT_EQ(calls(),
              "lnxfwupg 00AA crc y\n"
              "lnxfwnx2 00BB crc y\n"
              "lnxfwupg 00AA upgrade -noreset -F -bc 1648bc.bin nv.bak\n"
              "lnxfwupg 00AA upgrade -noreset -F -ipmi 1648ipmi.bin nv.bak\n"
              "lnxfwupg 00AA upgrade -noreset -F -mba 1648mba.bin nv.bak\n"
              "lnxfwnx2 00BB upgrade -noreset -F -bc 163Abc.bin nv.bak\n"
              "lnxfwnx2 00BB upgrade -noreset -F -ipmi 163Aipmi.bin nv.bak\n");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
    std::string log = logBody();
    EXPECT_NE(log.find("upgrading 00AA -bc\n*** Update successful ***\n\n"), std::string::npos);
    EXPECT_NE(log.find(" C Dev MAC Address\n--\n1 163A 00BB eth1\nQuit\n"), std::string::npos);
}

TEST_F(DriverWithAdapters, PowerPCUpdateRunWarnsTwice) {
    EXPECT_EQ(run({}, skipNetXtremeII), 0);
    EXPECT_EQ(out, updateScreen(false) + "\n\nUpdate complete. The firmware update log has been saved in " +
                       szFwuplog + ".\n");
    EXPECT_EQ(calls().find("lnxfwnx2"), std::string::npos);
}

TEST_F(DriverWithAdapters, SilentRunShowsNothingAndLogsEverything) {
    EXPECT_EQ(run({"-s"}), 0);
    EXPECT_EQ(out, "");
    std::string log = logBody();
    size_t at = 0;
    for (std::string piece : {std::string(kBanner), std::string(kTableHead), std::string(kRowAABefore),
                              std::string("\nNow starting a CRC check"), std::string("\nCRC check complete.\n"),
                              std::string("Updating 00AA using file 1648bc.bin\n"), std::string(kRowBBAfter),
                              "\n\nUpdate complete. The firmware update log has been saved in " + std::string(szFwuplog)}) {
        size_t found = log.find(piece, at);
        EXPECT_NE(found, std::string::npos) << piece;
        if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(DriverWithAdapters, FailedUpdateExits1ButCrcFailureDoesNot) {
    testutil::writeFile(tmp.file("failcrc"), "");
    EXPECT_EQ(run({}), 0);
    testutil::writeFile(tmp.file("fail-mba"), "");
    EXPECT_EQ(run({}), 1);
    EXPECT_NE(out.find("Updating 00AA using file 1648mba.bin\t---> Update failed\n"), std::string::npos);
    std::string closing = "\n\nOne or more errors occurred during the firmware update process. See " +
                          std::string(szFwuplog) + " for more information.\n";
    ASSERT_GE(out.size(), closing.size());
    EXPECT_EQ(out.substr(out.size() - closing.size()), closing);
    EXPECT_NE(logBody().find(" !!! Error updating mba firmware on device 00AA using file 1648mba.bin !!!\n\n"),
              std::string::npos);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(DriverWithAdapters, NoMfwAndCrcKeepStatusZero) {
    testutil::writeFile(tmp.file("failcrc"), "");
    EXPECT_EQ(run({"-crc"}), 0);
    EXPECT_EQ(out, std::string(kBanner) +
                       "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n"
                       "Performing CRC check for device 00AA\t---> failed\n"
                       "Performing CRC check for device 00BB\t---> failed\n"
                       "\nCRC check complete.\n");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
    remove(tmp.file("calls").c_str());
    remove(tmp.file("lnxfwupg").c_str());
    writeScript("lnxfwupg", "case \"$2\" in dir) cat dir.00AA;; cfg) echo \"$*\" >>calls; exit 1;; esac\n"
                            "read a; cat table.lnxfwupg\n");
    EXPECT_EQ(run({"-NOMFW"}), 0);
    EXPECT_EQ(out, std::string(kBanner) + "Disabling management firmware (IPMI) for 00AA\t---> failed\n" +
                       "Disabling management firmware (IPMI) for 00BB\t---> successful\n");
    EXPECT_EQ(calls(), "00AA cfg -ipmi 0\nlnxfwnx2 00BB cfg -ipmi 0\n");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}


TEST_F(DriverWithAdapters, VersionsStayZeroWhenEveryListingFails) {
    writeScript("lnxfwupg", "[ \"$2\" = dir ] && { rm -f \"$1\"; exit 1; }\nprintf ' MAC \\n--\\n1 1648 00AA\\n'\n");
    remove(tmp.file("lnxfwnx2").c_str());
    EXPECT_EQ(run({"-v"}), 0);
    EXPECT_EQ(out, std::string(kBanner) + "Error 9: Cannot access 00AA information file.\n" +
                       "\nError! Unable to locate Broadcom NetXtreme II tool (./lnxfwnx2).\n" + kTableHead +
                       "00AA (5704)\tNA\tNA\tNA\tNA\tNA\tNA\tNA\n");
}

TEST_F(Driver, NoAdaptersEndsWith171AndNoQuitFile) {
    for (SecondFamilyDiscovery second : {discoverNetXtremeII, skipNetXtremeII}) {
        for (const char* mode : {"-v", "-s", "-crc"}) {
            writeScript("lnxfwupg", "printf 'no table\\n'\n");
            EXPECT_EQ(run({mode}, second), EXIT_NO_ADAPTERS);
            std::string expected = "\nWarning. No Broadcom NetXtreme adapters found.\n" +
                                   std::string(second == skipNetXtremeII
                                                   ? "\nWarning. No Broadcom NetXtreme II adapters found.\n"
                                                   : "\nError! Unable to locate Broadcom NetXtreme II tool (./lnxfwnx2).\n") +
                                   "\n\nOne or more errors occurred during the firmware update process. See " +
                                   szFwuplog + " for more information.\n";
            EXPECT_EQ(out, std::string(mode) == "-s" ? "" : kBanner + expected) << mode;
            EXPECT_EQ(logBody().substr(0, sizeof(kBanner) - 1), kBanner);
            EXPECT_NE(logBody().find(expected), std::string::npos);
            EXPECT_FALSE(pathExists(tmp.file("q")));
            EXPECT_FALSE(pathExists(tmp.file("devices")));
        }
    }
}

TEST_F(Driver, MissingUtilityEndsWith171) {
    EXPECT_EQ(run({"-v"}, skipNetXtremeII), EXIT_NO_ADAPTERS);
    EXPECT_EQ(out, std::string(kBanner) + "\nError! Unable to locate Broadcom NetXtreme tool (./lnxfwupg).\n" +
                       "\nWarning. No Broadcom NetXtreme II adapters found.\n" +
                       "\n\nOne or more errors occurred during the firmware update process. See " + szFwuplog +
                       " for more information.\n");
}

TEST_F(NicTest, AnswerFilesHoldTheirLetter) {
    freshLog();
    testutil::writeFile(tmp.file("q"), "old content that is longer");
    EXPECT_TRUE(createQuitFile());
    EXPECT_TRUE(create_yes_response_file());
    EXPECT_EQ(readFile(tmp.file("q")), "q\n");
    EXPECT_EQ(readFile(tmp.file("y")), "y\n");
    mkdir(tmp.file("y2").c_str(), 0755);
    remove(tmp.file("y").c_str());
    mkdir(tmp.file("y").c_str(), 0755);
    StdoutCapture out;
    EXPECT_FALSE(create_yes_response_file());
    EXPECT_EQ(out.stop(), "Error! Cannot create temporary file \"y\".\n");
    EXPECT_EQ(logBody(), "Error! Cannot create temporary file \"y\".\n");
}

}  // namespace
