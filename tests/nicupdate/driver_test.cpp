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

// Fake utilities: lnxfwupg lists one NetXtreme adapter, lnxfwnx2 one NetXtreme II adapter;
// "dir" prints dir.<mac> when it exists.
class DriverWithAdapters : public Driver {
protected:
    void SetUp() override {
        Driver::SetUp();
        const char* dir = "[ \"$2\" = dir ] && { cat \"dir.$1\" 2>/dev/null; exit 0; }\n";
        writeScript("lnxfwupg", std::string(dir) + "printf ' C Dev MAC Address\\n--\\n1 1648 00AA eth0\\n0>\\n'\n");
        writeScript("lnxfwnx2", std::string(dir) + "printf ' C Dev MAC Address\\n--\\n1 163A 00BB eth1\\nQuit\\n'\n");
        testutil::writeFile(tmp.file("dir.00AA"), "1 BootCode BC 0 0 5704-v3.29\n5 PXE MBA v8.3.11\n");
        testutil::writeFile(tmp.file("dir.00BB"), "BC1 4.4.1\n ipmi 1.0\n");
    }
    // Names left in the current directory other than the fixtures.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& n : testutil::listDir(tmp.path()))
            if (n != "log" && n != "lnxfwupg" && n != "lnxfwnx2" && n.rfind("dir.", 0) != 0 && n.find(".bin") == std::string::npos)
                names.push_back(n);
        return names;
    }
};

const char kTableHead[] =
    "\n    ADAPTER MAC    \tBOOT\tIPMI\tASF\tPXE\tUMP\tNCSI\tiSCSI\n"
    "-------------------\t----\t----\t---\t---\t---\t---\t---\n";

TEST_F(DriverWithAdapters, VersionsOfBothFamilies) {
    EXPECT_EQ(run({"-v"}), 0);
    EXPECT_EQ(out, std::string(kBanner) + kTableHead + "00AA (5704)\t3.29\tNA\tNA\t8.3.11\tNA\tNA\tNA\n" +
                       "00BB (5709s)\t4.4.1\t1.0\tNA\tNA\tNA\tNA\tNA\n");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(DriverWithAdapters, VersionsOfPowerPCBuildLeaveNetXtremeIIOut) {
    EXPECT_EQ(run({"-V"}, skipNetXtremeII), 0);
    EXPECT_EQ(out, std::string(kBanner) + "\nWarning. No Broadcom NetXtreme II adapters found.\n" + kTableHead +
                       "00AA (5704)\t3.29\tNA\tNA\t8.3.11\tNA\tNA\tNA\n");
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
