// The command line and whole runs of each mode, for both builds.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "tests/nicupdate/nictest.h"
#include "nicupdate/driver.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/runlock.h"

namespace {

std::vector<char*> argvOf(std::vector<std::string>& args) {
    args.insert(args.begin(), "./nicburn");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return argv;
}

TEST(ProcessCmdLine, Modes) {
    struct {
        std::vector<std::string> args;
        int mode;
    } cases[] = {
        {{}, MODE_UPDATE},           {{"-s"}, MODE_SILENT},          {{"-S"}, MODE_SILENT},
        {{"-v"}, MODE_VERSIONS},     {{"-?"}, MODE_USAGE},           {{"-NoMfW"}, MODE_NOMFW},
        {{"-CRC"}, MODE_CRC},        {{"--v"}, MODE_BAD_USAGE},      {{"v"}, MODE_BAD_USAGE},
        {{"-"}, MODE_BAD_USAGE},     {{""}, MODE_BAD_USAGE},         {{"-nomf"}, MODE_BAD_USAGE},
        {{"-crcc"}, MODE_BAD_USAGE}, {{"-s", "-v"}, MODE_BAD_USAGE}, {{"-v", "-v", "-v"}, MODE_BAD_USAGE},
    };
    for (auto& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += "[" + a + "]";
        std::vector<std::string> args = c.args;
        std::vector<char*> argv = argvOf(args);
        EXPECT_EQ(processCmdLine(static_cast<int>(args.size()), argv.data()), c.mode) << shown;
    }
}

const std::string kBanner = "ZAV Ethernet Firmware Update Tool, Version " NICBURN_VERSION "\n\n";
const std::string kTableHead =
    "\n    ADAPTER MAC    \tBOOT\tIPMI\tASF\tPXE\tUMP\tNCSI\tiSCSI\n"
    "-------------------\t----\t----\t---\t---\t---\t---\t---\n";
const std::string kNoNx2 = "\nWarning. No Broadcom NetXtreme II adapters found.\n";

class Driver : public NicTest {
protected:
    int run(std::vector<std::string> args, const NicburnBuild& build = c_x86Build) {
        std::vector<char*> argv = argvOf(args);
        std::string lockFolder = lockFolderPath.empty() ? lockDir.file("nicburn") : lockFolderPath;
        StdoutCapture capture;
        RunContext ctx = shell();
        int status =
            runNicburn(static_cast<int>(args.size()), argv.data(), build, lockFolder.c_str(), logDir().c_str(), ctx);
        out = capture.stop();
        log = ctx.log;
        return status;
    }
    std::string errorsClosing() const {
        return "\n\nOne or more errors occurred during the firmware update process. See " + std::string(log.path) +
               " for more information.\n";
    }
    std::string out;
    testutil::TempDir lockDir;   // beside the run's folder, whose content the tests compare
    std::string lockFolderPath;  // another lock folder than lockDir's "nicburn"
};

TEST_F(Driver, UsageShowsOnlyTheTextAndLeavesAHeaderOnlyLog) {
    EXPECT_EQ(run({"-?"}), 0);
    EXPECT_EQ(out,
              "Usage:\n\n   ./nicburn [OPTION]\n\n\nThe options are:\n\n"
              "   -v     (Display currently installed firmware versions.)\n"
              "   -s     (Perform silent firmware update.)\n"
              "   -nomfw (Disable Management Firmware.)\n"
              "   -crc   (Perform CRC check.)\n"
              "   -?     (Display this usage information.)\n");
    EXPECT_EQ(std::string(log.path), logDir() + "ethflash.log");
    EXPECT_EQ(logBody(), "");
    EXPECT_FALSE(exists("q"));
}

TEST_F(Driver, IncorrectUsageAndMissingQuitFileExit1) {
    EXPECT_EQ(run({"-s", "-v"}), 1);
    EXPECT_EQ(out, kBanner + "Error! Incorrect usage of command line parameters.\n");
    EXPECT_EQ(logBody(), out);
    EXPECT_FALSE(exists("q"));
    mkdir(tmp.file("q").c_str(), 0755);
    EXPECT_EQ(run({"-v"}), 1);
    EXPECT_EQ(out, kBanner + "Error! Cannot create temporary file \"q\".\n");
}

// Usage and incorrect usage take no lock; a lock file that cannot be opened is warned about and
// the run goes on.
TEST_F(Driver, LockIsTakenOnlyForARunAndItsLackIsWarnedAbout) {
    EXPECT_EQ(run({"-?"}), 0);
    EXPECT_EQ(run({"-x"}), 1);
    EXPECT_EQ(out, kBanner + "Error! Incorrect usage of command line parameters.\n");
    EXPECT_EQ(testutil::listDir(lockDir.path()), std::vector<std::string>{});
    lockFolderPath = lockDir.file("no-such-folder/nicburn");
    EXPECT_EQ(run({"-v"}, c_ppcBuild), EXIT_NO_ADAPTERS);
    EXPECT_EQ(out, kBanner + "\nWarning. Cannot take the firmware update lock (cannot make " + lockFolderPath +
                       ": No such file or directory); another update could run at the same time.\n" +
                       "\nError! Unable to locate Broadcom NetXtreme tool (./lnxfwupg).\n" + kNoNx2 + errorsClosing());
}

// A run that finds the lock held, in any mode (-v too), says so, runs no utility and ends with
// EXIT_BUSY, which no other outcome of the tool gives.
TEST_F(Driver, LockHeldElsewhereEndsWithTheBusyStatus) {
    const std::string folder = lockDir.file("nicburn");
    int heldFd = -1, holder = 0;
    char why[160];
    ASSERT_EQ(takeRunLock(folder.c_str(), &heldFd, &holder, why, sizeof(why)), RUNLOCK_TAKEN) << why;
    writeScript("lnxfwupg", "echo ran >>ran\n");
    for (const char* option : {"-v", "-crc", "-nomfw", "-s"}) {
        EXPECT_EQ(run({option}), EXIT_BUSY) << option;
        std::string refused = "Error! Another firmware update is running (process " + std::to_string(getpid()) + ").\n";
        EXPECT_EQ(out, std::string(option) == "-s" ? "" : kBanner + refused) << option;
        EXPECT_EQ(logBody(), kBanner + refused) << option;
    }
    EXPECT_FALSE(exists("ran"));
    close(heldFd);
    EXPECT_EQ(run({"-v"}, c_ppcBuild), EXIT_NO_ADAPTERS) << out;
    EXPECT_TRUE(exists("ran"));
}

TEST_F(Driver, NoAdapterListEndsWith171) {
    EXPECT_EQ(run({"-v"}, c_ppcBuild), EXIT_NO_ADAPTERS);
    EXPECT_EQ(out,
              kBanner + "\nError! Unable to locate Broadcom NetXtreme tool (./lnxfwupg).\n" + kNoNx2 + errorsClosing());
    writeScript("lnxfwupg", "echo no table\n");
    writeScript("lnxfwnx2", "echo no table\n");
    EXPECT_EQ(run({"-crc"}), EXIT_NO_ADAPTERS);
    EXPECT_EQ(out, kBanner + "\nWarning. No Broadcom NetXtreme adapters found.\n" +
                       "\nWarning. No Broadcom NetXtreme II adapters found.\n" + errorsClosing());
    EXPECT_EQ(run({"-s"}), EXIT_NO_ADAPTERS);
    EXPECT_EQ(out, "");
    EXPECT_NE(logBody().find(errorsClosing()), std::string::npos);
    EXPECT_EQ(testutil::listDir(tmp.path()), (std::vector<std::string>{"lnxfwnx2", "lnxfwupg", "log"}));
}

// One adapter per family. The fake utilities' "dir" prints dir.<mac>; "upgrade" records
// itself, leaves nv.bak, fails when fail<option> exists and else installs new.<mac> as the next
// listing; "cfg" and "crc" record themselves, "cfg" fails when failcfg.<mac> exists, "crc" when
// failcrc or failcrc.<mac> does.
class DriverWithAdapters : public Driver {
protected:
    void SetUp() override {
        Driver::SetUp();
        const char* body =
            "tool=$(basename \"$0\")\n"
            // While the command named in "fill" runs, a link to /dev/full takes the log's place:
            // from then on every write to the log fails (the command's own output still reaches
            // the file it opened).
            "if [ -f fill ] && [ \"$2\" = \"$(cat fill)\" ]; then for f in log/ethflash*.log; do\n"
            "  ln -sf /dev/full \"$f\"; done; fi\n"
            "case \"$2\" in\n"
            "dir) cat \"dir.$1\"; exit 0;;\n"
            "upgrade) echo \"$tool $*\" >>calls; echo \"upgrading $1 $5\"; echo bak >nv.bak\n"
            "  [ -f \"fail$5\" ] && exit 1; cp \"new.$1\" \"dir.$1\"; exit 0;;\n"
            "cfg) echo \"$tool $*\" >>calls; [ ! -f \"failcfg.$1\" ]; exit;;\n"
            "crc) read a; echo \"$tool $* $a\" >>calls; [ ! -f failcrc ] && [ ! -f \"failcrc.$1\" ]; exit;;\n"
            "esac\n"
            "read a; cat \"table.$tool\"\n";
        writeScript("lnxfwupg", body);
        writeScript("lnxfwnx2", body);
        write("table.lnxfwupg", " C Dev MAC Address\n--\n1 1648 00AA eth0\n0>\n");
        write("table.lnxfwnx2", " C Dev MAC Address\n--\n1 163A 00BB eth1\nQuit\n");
        write("dir.00AA", "1 BootCode BC 0 0 5704-v3.29\n2 ASFIPMI v6.2\n5 PXE MBA v8.3.11\n");
        write("new.00AA", "1 BootCode BC 0 0 5704-v3.30\n2 ASFIPMI v6.2\n5 PXE MBA v8.4.0\n");
        write("dir.00BB", "BC1 4.4.1\n ipmi 1.0\n");
        write("new.00BB", "BC1 4.6.0\n ipmi 1.0\n");
        for (const char* image : {"1648bc.bin", "1648ipmi.bin", "1648mba.bin", "163Abc.bin", "163Aipmi.bin"})
            write(image, "image");
    }
    // Files the tool left behind: none of q, y, devices, nv.bak, listing files.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const char* n : {"q", "y", "devices", "nv.bak", "00AA", "00BB"})
            if (exists(n)) names.push_back(n);
        return names;
    }
};

const std::string kRowsBefore = "00AA (5704)\t3.29\t6.2\tNA\t8.3.11\tNA\tNA\tNA\n";
const std::string kRowsBeforeNx2 = "00BB (5709s)\t4.4.1\t1.0\tNA\tNA\tNA\tNA\tNA\n";
const std::string kRowsAfter = "00AA (5704)\t3.30\t6.2\tNA\t8.4.0\tNA\tNA\tNA\n";
const std::string kRowsAfterNx2 = "00BB (5709s)\t4.6.0\t1.0\tNA\tNA\tNA\tNA\tNA\n";

TEST_F(DriverWithAdapters, VersionsOfBothBuilds) {
    EXPECT_EQ(run({"-v"}), 0);
    EXPECT_EQ(out, kBanner + kTableHead + kRowsBefore + kRowsBeforeNx2);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
    EXPECT_EQ(run({"-V"}, c_ppcBuild), 0);
    EXPECT_EQ(out, kBanner + kNoNx2 + kTableHead + kRowsBefore);
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(DriverWithAdapters, UpdateRunOrder) {
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(out, kBanner + kTableHead + kRowsBefore + kRowsBeforeNx2 +
                       "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n"
                       "Performing CRC check for device 00AA\t---> successful\n"
                       "Performing CRC check for device 00BB\t---> successful\n"
                       "\nCRC check complete.\n"
                       "\nUpdating Broadcom NetXtreme adapters.\n"
                       "Updating 00AA using file 1648bc.bin\t---> Update successful\n"
                       "Updating 00AA using file 1648ipmi.bin\t---> Update successful\n"
                       "Updating 00AA using file 1648mba.bin\t---> Update successful\n"
                       "\nUpdating Broadcom NetXtreme II adapters.\n"
                       "Updating 00BB using file 163Abc.bin\t---> Update successful\n"
                       "Updating 00BB using file 163Aipmi.bin\t---> Update successful\n" +
                       kTableHead + kRowsAfter + kRowsAfterNx2 +
                       "\n\nUpdate complete. The firmware update log has been saved in " + log.path + ".\n");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
    EXPECT_NE(logBody().find("upgrading 00AA -bc\n*** Update successful ***\n\n"), std::string::npos);
}

TEST_F(DriverWithAdapters, PowerPCUpdateRunWarnsTwiceAndNeverRunsTheSecondUtility) {
    EXPECT_EQ(run({}, c_ppcBuild), 0);
    size_t first = out.find(kNoNx2);
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(out.find(kNoNx2, first + 1), std::string::npos);
    EXPECT_EQ(read("calls").find("lnxfwnx2"), std::string::npos);
}

TEST_F(DriverWithAdapters, SilentRunShowsNothingAndLogsEverything) {
    EXPECT_EQ(run({"-s"}), 0);
    EXPECT_EQ(out, "");
    std::string logText = logBody();
    size_t at = 0;
    for (const std::string& piece :
         {kBanner, kTableHead + kRowsBefore, std::string("\nCRC check complete.\n"),
          std::string("Updating 00BB using file 163Abc.bin\n"), kRowsAfterNx2, std::string("\n\nUpdate complete.")}) {
        at = logText.find(piece, at);
        ASSERT_NE(at, std::string::npos) << piece;
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(DriverWithAdapters, FailedUpdateExits1ButFailedCrcDoesNot) {
    write("failcrc", "");
    EXPECT_EQ(run({}), 0);
    write("fail-mba", "");
    EXPECT_EQ(run({}), 1);
    EXPECT_NE(out.find("Updating 00AA using file 1648mba.bin\t---> Update failed\n"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - errorsClosing().size()), errorsClosing());
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(DriverWithAdapters, NoMfwAndCrcExit1WhenAnyAdapterFailed) {
    const std::string crcStart = kBanner + "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n";
    const std::string crcEnd = "\nCRC check complete.\n";
    struct {
        const char* option;
        const char* failFile;
        int status;
        std::string out;
    } cases[] = {
        {"-crc", nullptr, 0,
         crcStart +
             "Performing CRC check for device 00AA\t---> successful\n"
             "Performing CRC check for device 00BB\t---> successful\n" +
             crcEnd},
        {"-crc", "failcrc.00BB", 1,
         crcStart +
             "Performing CRC check for device 00AA\t---> successful\n"
             "Performing CRC check for device 00BB\t---> failed\n" +
             crcEnd},
        {"-CRC", "failcrc", 1,
         crcStart +
             "Performing CRC check for device 00AA\t---> failed\n"
             "Performing CRC check for device 00BB\t---> failed\n" +
             crcEnd},
        {"-nomfw", nullptr, 0,
         kBanner + "Disabling management firmware (IPMI) for 00AA\t---> successful\n" +
             "Disabling management firmware (IPMI) for 00BB\t---> successful\n"},
        {"-NOMFW", "failcfg.00AA", 1,
         kBanner + "Disabling management firmware (IPMI) for 00AA\t---> failed\n" +
             "Disabling management firmware (IPMI) for 00BB\t---> successful\n"},
    };
    for (const auto& c : cases) {
        std::string shown = std::string(c.option) + " " + (c.failFile ? c.failFile : "all succeed");
        if (c.failFile) write(c.failFile, "");
        EXPECT_EQ(run({c.option}), c.status) << shown;
        EXPECT_EQ(out, c.out) << shown;
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << shown;
        if (c.failFile) remove(tmp.file(c.failFile).c_str());
    }
}

// A row the tool refuses is an adapter left alone: shown, and the run fails in every mode.
TEST_F(DriverWithAdapters, RefusedTableRowIsShownAndFailsTheRun) {
    const std::string warning =
        "\nWarning. Adapter table row refused (MAC address holds a character other than "
        "hexadecimal digits, ':-.'): 2 1648 00:10:18:AA:BB:0G eth1\n";
    struct {
        const char* what;
        std::vector<std::string> args;
        std::string table;
        int status;
    } cases[] = {
        {"only adapter refused", {"-v"}, " C Dev MAC Address\n--\n2 1648 00:10:18:AA:BB:0G eth1\n0>\n", 1},
        {"mixed table, versions",
         {"-v"},
         " C Dev MAC Address\n--\n1 1648 00AA\n2 1648 00:10:18:AA:BB:0G eth1\n0>\n",
         1},
        {"mixed table, update", {}, " C Dev MAC Address\n--\n1 1648 00AA\n2 1648 00:10:18:AA:BB:0G eth1\n0>\n", 1},
        {"mixed table, crc", {"-crc"}, " C Dev MAC Address\n--\n1 1648 00AA\n2 1648 00:10:18:AA:BB:0G eth1\n0>\n", 1},
    };
    for (const auto& c : cases) {
        write("table.lnxfwupg", c.table);
        EXPECT_EQ(run(c.args, c_ppcBuild), c.status) << c.what;
        EXPECT_NE(out.find(warning), std::string::npos) << c.what;
        if (c.args.empty()) {
            EXPECT_EQ(out.substr(out.size() - errorsClosing().size()), errorsClosing()) << c.what;
        }
    }
}

// The pattern the Ansible role finds the run's log by in the package's output.
std::regex rolesLogPattern() {
    std::ifstream in(testutil::sourcePath("deploy/ansible/roles/nic_firmware/tasks/main.yml"));
    std::stringstream text;
    text << in.rdbuf();
    const std::string yml = text.str(), start = "regex_findall('";
    size_t at = yml.find(start);
    EXPECT_NE(at, std::string::npos);
    at += start.size();
    return std::regex(yml.substr(at, yml.find("')", at) - at));
}

std::string logNamedFor(const std::string& out) {
    std::smatch m;
    static const std::regex pattern = rolesLogPattern();
    return std::regex_search(out, m, pattern) ? m[1].str() : "";
}

// A log that fills during the run: the run goes on, the closing says the log is incomplete and
// where its part is (found by the role), and only -v keeps status 0; -s stays silent.
TEST_F(DriverWithAdapters, LogWriteFailureIsNeverCalledSaved) {
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(logNamedFor(out), log.path);  // the role finds a complete run's log

    const std::string unable = "Error! Unable to write to log file.\n";
    struct {
        const char* option;
        const char* fillDuring;
        int status;
        const char* closing;  // before the reason
    } cases[] = {
        {"", "upgrade", 1, "\n\nUpdate complete, but the firmware update log is incomplete: "},
        {"-crc", "crc", 1, "\nWarning. The firmware update log is incomplete: "},
        {"-nomfw", "cfg", 1, "\nWarning. The firmware update log is incomplete: "},
        {"-v", "dir", 0, "\nWarning. The firmware update log is incomplete: "},
        {"-s", "upgrade", 1, nullptr},
    };
    for (const auto& c : cases) {
        write("fill", c.fillDuring);
        std::vector<std::string> args;
        if (*c.option) args.push_back(c.option);
        EXPECT_EQ(run(args), c.status) << c.option;
        const std::string path = log.path;
        if (!c.closing) {
            EXPECT_EQ(out, "") << c.option;
        } else {
            const std::string closing =
                c.closing + ("writing to it failed. See " + path) + " for the part that was saved.\n" + unable;
            ASSERT_GE(out.size(), closing.size()) << c.option;
            EXPECT_EQ(out.substr(out.size() - closing.size()), closing) << c.option << "\n" << out;
            EXPECT_EQ(out.find("has been saved"), std::string::npos) << c.option;
            EXPECT_EQ(logNamedFor(out), path) << c.option;
        }
        EXPECT_EQ(leftovers(), std::vector<std::string>{}) << c.option;
    }
}

// Started inside the launcher's working directory (which is removed when the package ends)
// with no other place for a log: no log is made there, the run goes on with the utilities'
// output discarded, and the closing says that nothing was saved.
TEST_F(DriverWithAdapters, NoLastingPlaceForTheLogIsSaidAndFailsTheRun) {
    write("log", "not a folder");
    const std::string work = tmp.file("zav_rq_pkg_0000beef");
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    for (const std::string& name : testutil::listDir(tmp.path())) {
        if (name == "zav_rq_pkg_0000beef") continue;
        ASSERT_EQ(symlink(tmp.file(name).c_str(), (work + "/" + name).c_str()), 0);
    }
    ASSERT_EQ(chdir(work.c_str()), 0);
    unsetenv("ZAV_RQ_PKG_ORIG_CURR_DIR");
    const std::string none = "no folder that outlasts the run could hold it, so none was saved.\n";
    EXPECT_EQ(run({}), 1);
    EXPECT_EQ(out.compare(0, 38, "Error! Unable to initialize log file.\n"), 0) << out;
    const std::string closing = "\n\nUpdate complete, but the firmware update log is incomplete: " + none +
                                "Error! Unable to write to log file.\n";
    EXPECT_EQ(out.substr(out.size() - closing.size()), closing) << out;
    EXPECT_NE(testutil::readFile(work + "/calls").find("lnxfwnx2 00BB upgrade -noreset -F -ipmi 163Aipmi.bin nv.bak"),
              std::string::npos);
    EXPECT_EQ(std::string(log.path), "");
    EXPECT_EQ(run({"-v"}), 0);
    const std::string warning =
        "\nWarning. The firmware update log is incomplete: " + none + "Error! Unable to write to log file.\n";
    EXPECT_EQ(out.substr(out.size() - warning.size()), warning);
    EXPECT_EQ(run({"-?"}), 0);
    EXPECT_EQ(out.compare(0, 45, "Error! Unable to initialize log file.\nUsage:\n"), 0) << out;
    bool logged = false;
    for (const std::string& name : testutil::listDir(work)) logged = logged || name.compare(0, 8, "ethflash") == 0;
    EXPECT_FALSE(logged) << "a log in the launcher's working directory is lost with it";
    ASSERT_EQ(chdir(tmp.path().c_str()), 0);
}

}  // namespace
