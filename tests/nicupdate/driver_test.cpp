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
