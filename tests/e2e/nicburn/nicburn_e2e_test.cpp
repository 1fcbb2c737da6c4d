// The real nicburn and nicburn-ppc against fwsim installed as ./lnxfwupg and ./lnxfwnx2. Each
// session runs inside a private mount namespace with a fresh tmpfs on /var/log, so the tool logs
// to its real path without touching the machine's /var/log.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include <algorithm>
#include <map>

#include "tests/e2e/support/e2esupport.h"
#include "tests/e2e/support/nictexts.h"
#include "tests/support/testutil.h"

using testutil::binPath;
using testutil::pathExists;
using testutil::readFile;
using testutil::shellQuote;
using testutil::writeFile;
using namespace nictexts;

namespace {

// What fwsim appends to the log for an upgrade, up to the NVRAM write.
std::string fwsimUpgrade(const std::string& family, const std::string& who, const std::string& region,
                         const std::string& from, const std::string& to, const std::string& file) {
    return "Broadcom " + family + " Firmware Upgrade Utility for Linux, v" +
           (family == "NetXtreme" ? "7.3.2" : "3.8.19") + " (simulated by fwsim)\n\nUpgrading " + region + " of " +
           who + " from " + from + " to " + to + " with " + file +
           "\nSaving the current image to nv.bak ... done\nWriting 16384 bytes to NVRAM ... ";
}

struct NicRun {
    int status = -1;
    std::string out, err;
};

struct Session {
    std::vector<NicRun> runs;
    std::map<std::string, std::string> logs;  // files of /var/log/ZAV_Support by name
    std::string tree;                         // "PATH MODE" of everything under the mount point
    std::string trace;                        // commands fwsim received
    const std::string& log(const std::string& name = "ethflash.log") const {
        static const std::string none;
        auto it = logs.find(name);
        return it == logs.end() ? none : it->second;
    }
};

class Nicburn : public ::testing::Test {
protected:
    testutil::TempDir run;  // the tool's current directory: utilities and images only
    testutil::TempDir res;  // scenario, fwsim state, trace and what the namespace hands out

    void SetUp() override {
        SKIP_UNLESS_MOUNT_NAMESPACE();
        if (!hidden("/var/log").empty()) GTEST_SKIP() << "a tmpfs on /var/log would hide " << hidden("/var/log");
        testutil::RunResult r = testutil::run({binPath("fwsim"), "install", run.path()});
        ASSERT_EQ(r.status, 0) << r.err;
    }

    // The first of the test's own paths that a mount on `mountPoint` would hide, or "".
    std::string hidden(const std::string& mountPoint) {
        for (const std::string& p : {run.path(), res.path(), binPath("nicburn"), binPath("fwsim")}) {
            char real[PATH_MAX];
            std::string path = realpath(p.c_str(), real) ? real : p;
            if (path.compare(0, mountPoint.size() + 1, mountPoint + "/") == 0) return path;
        }
        return "";
    }

    void scenario(const std::string& text) { writeFile(res.file("fwsim.conf"), text); }

    void image(const std::string& name, const std::string& component, const std::string& version) {
        writeFile(run.file(name), "FWSIM-IMAGE component=" + component + " version=" + version + "\n");
    }

    // Runs `program` once per argument list, in order, in one namespace whose `mountPoint` is a
    // fresh tmpfs; `prepare` is shell text run there first. Checks that every run leaves the
    // current directory as it found it (no "q", "y", "devices", listing files or "nv.bak"),
    // but for the names in `alsoLeft`.
    Session session(const std::string& program, const std::vector<std::vector<std::string>>& argLists,
                    const std::string& mountPoint = "/var/log", const std::string& prepare = "",
                    const std::vector<std::string>& alsoLeft = {}) {
        std::vector<std::string> before = testutil::listDir(run.path());
        before.insert(before.end(), alsoLeft.begin(), alsoLeft.end());
        std::sort(before.begin(), before.end());
        std::string script = "umask 022\nmount -t tmpfs none " + mountPoint + " || exit 99\n" + e2e::privateLockLine() +
                             prepare + "\ncd " + shellQuote(run.path()) + " || exit 98\n";
        for (size_t i = 0; i < argLists.size(); ++i) {
            std::string n = std::to_string(i);
            script += shellQuote(binPath(program));
            for (const auto& a : argLists[i]) script += " " + shellQuote(a);
            script += " </dev/null >" + shellQuote(res.file("out." + n)) + " 2>" + shellQuote(res.file("err." + n)) +
                      "\necho $? >" + shellQuote(res.file("status." + n)) + "\n" + "ls -A >" +
                      shellQuote(res.file("dir." + n)) + "\n";
        }
        script += "find " + mountPoint + " -printf '%p %M\\n' | LC_ALL=C sort >" + shellQuote(res.file("tree")) + "\n";
        script += "mkdir " + shellQuote(res.file("logs")) + " || exit 97\n";
        script += "for f in /var/log/ZAV_Support/*; do if [ -f \"$f\" ]; then cp \"$f\" " +
                  shellQuote(res.file("logs")) + "/ || exit 96; fi; done\nexit 0\n";
        testutil::RunOptions opts;
        opts.env = {{"FWSIM_CONF", res.file("fwsim.conf")}, {"FWSIM_TRACE", res.file("trace")}};
        opts.timeoutSeconds = 60;
        testutil::RunResult r = testutil::run({"unshare", "-m", "sh", "-c", script}, opts);
        EXPECT_EQ(r.status, 0) << "namespace script failed: " << r.err;

        Session s;
        std::string beforeText;
        for (const auto& name : before) beforeText += name + "\n";
        for (size_t i = 0; i < argLists.size(); ++i) {
            std::string n = std::to_string(i);
            NicRun nr;
            nr.status = atoi(readFile(res.file("status." + n)).c_str());
            nr.out = readFile(res.file("out." + n));
            nr.err = readFile(res.file("err." + n));
            s.runs.push_back(nr);
            EXPECT_EQ(readFile(res.file("dir." + n)), beforeText) << "run " << i << " left files behind";
        }
        for (const auto& name : testutil::listDir(res.file("logs"))) s.logs[name] = readFile(res.file("logs/" + name));
        s.tree = readFile(res.file("tree"));
        s.trace = readFile(res.file("trace"));
        for (const char* name : {"logs", "tree", "trace"}) testutil::runShell("rm -rf " + shellQuote(res.file(name)));
        return s;
    }

    NicRun once(const std::string& program, const std::vector<std::string>& args, Session* out = nullptr) {
        Session s = session(program, {args});
        if (out) *out = s;
        return s.runs.empty() ? NicRun() : s.runs[0];
    }
};

const char c_twoFamilies[] =
    "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 00:10:18:aa:bb:01\nbc = 3.29\nmba = 8.3.11\n"
    "[adapter]\nfamily = NetXtreme II\ndevid = 164C\nmac = 00:10:18:aa:bb:03\n"
    "bc = 4.4.1\nipmi = 1.0.2\nmba = 4.2.0\nump = 1.4.0\n";

const char c_usage[] =
    "Usage:\n\n"
    "   ./nicburn [OPTION]\n\n\n"
    "The options are:\n\n"
    "   -v     (Display currently installed firmware versions.)\n"
    "   -s     (Perform silent firmware update.)\n"
    "   -nomfw (Disable Management Firmware.)\n"
    "   -crc   (Perform CRC check.)\n"
    "   -?     (Display this usage information.)\n";

}  // namespace

TEST_F(Nicburn, UsageAndIncorrectUsageCreateTheLogChain) {
    scenario(c_twoFamilies);
    Session s = session("nicburn", {{"-?"}, {"-x"}, {"-v", "-s"}, {"--v"}, {"-"}});
    ASSERT_EQ(s.runs.size(), 5u);
    EXPECT_EQ(s.runs[0].status, 0);
    EXPECT_EQ(s.runs[0].out, c_usage);
    const std::string incorrect = std::string(c_banner) + "Error! Incorrect usage of command line parameters.\n";
    for (size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(s.runs[i].status, 1) << i;
        EXPECT_EQ(s.runs[i].out, incorrect) << i;
        EXPECT_EQ(s.runs[i].err, "") << i;
    }
    // The directory chain was made under the empty /var/log; each run took the next free name.
    EXPECT_EQ(s.tree,
              "/var/log drwxrwxrwt\n"
              "/var/log/ZAV_Support drwxr-xr-x\n"
              "/var/log/ZAV_Support/ethflash.log -rw-r--r--\n"
              "/var/log/ZAV_Support/ethflash001.log -rw-r--r--\n"
              "/var/log/ZAV_Support/ethflash002.log -rw-r--r--\n"
              "/var/log/ZAV_Support/ethflash003.log -rw-r--r--\n"
              "/var/log/ZAV_Support/ethflash004.log -rw-r--r--\n");
    EXPECT_EQ(s.log("ethflash.log"), c_header);  // usage is never logged
    for (const char* name : {"ethflash001.log", "ethflash002.log", "ethflash003.log", "ethflash004.log"})
        EXPECT_EQ(s.log(name), std::string(c_header) + incorrect) << name;
    EXPECT_EQ(s.trace, "");  // no utility ran
}

TEST_F(Nicburn, VersionTableShowsBothFamilies) {
    scenario(c_twoFamilies);
    Session s;
    NicRun r = once("nicburn", {"-V"}, &s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string table = std::string(c_tableHead) +
                              "001018AABB01 (5704)\t3.29\tNA\tNA\t8.3.11\tNA\tNA\tNA\n"
                              "001018AABB03 (5708)\t4.4.1\t1.0.2\tNA\t4.2.0\t1.4.0\tNA\tNA\n";
    EXPECT_EQ(r.out, c_banner + table);
    EXPECT_EQ(s.trace, "lnxfwupg\nlnxfwupg 001018AABB01 dir\nlnxfwnx2\nlnxfwnx2 001018AABB03 dir\n");
    // The log holds the banner, each utility's complete table framed by newlines, then the table.
    const std::string& log = s.log();
    EXPECT_EQ(log.find(std::string(c_header) + c_banner +
                       "\nBroadcom NetXtreme Firmware Upgrade Utility for Linux, v7.3.2 (simulated by fwsim)\n"),
              0u)
        << log;
    EXPECT_TRUE(inOrder(log, {" 1  1648  001018AABB01  02:00.0  Broadcom NetXtreme Gigabit Ethernet\n\n0> \n",
                              "Commands: dir  upgrade  cfg  crc  help  Quit\n> \n"}));
    EXPECT_EQ(log.substr(log.size() - table.size()), table);
}

TEST_F(Nicburn, NoUtilityOrNoAdaptersEndsWith171InBothBuilds) {
    // No adapters: both utilities list an empty table.
    scenario("");
    const std::string noAdapters = std::string(c_banner) + "\nWarning. No Broadcom NetXtreme adapters found.\n" +
                                   "\nWarning. No Broadcom NetXtreme II adapters found.\n" + errorsOccurred();
    for (const char* program : {"nicburn", "nicburn-ppc"}) {
        Session s;
        NicRun r = once(program, {"-v"}, &s);
        EXPECT_EQ(r.status, 171) << program;
        EXPECT_EQ(r.out, noAdapters) << program;
        const std::string tail = "\nWarning. No Broadcom NetXtreme II adapters found.\n" + errorsOccurred();
        EXPECT_EQ(s.log().find(std::string(c_header) + c_banner), 0u) << program;
        EXPECT_EQ(s.log().substr(s.log().size() - tail.size()), tail) << program;
        // The PowerPC build never runs the NetXtreme II utility.
        EXPECT_EQ(s.trace, std::string(program) == "nicburn" ? "lnxfwupg\nlnxfwnx2\n" : "lnxfwupg\n") << program;
    }

    // No utility in the current directory.
    ASSERT_EQ(remove(run.file("lnxfwupg").c_str()), 0);
    ASSERT_EQ(remove(run.file("lnxfwnx2").c_str()), 0);
    const std::string missing =
        std::string(c_banner) + "\nError! Unable to locate Broadcom NetXtreme tool (./lnxfwupg).\n";
    NicRun x86 = once("nicburn", {});
    EXPECT_EQ(x86.status, 171);
    EXPECT_EQ(x86.out,
              missing + "\nError! Unable to locate Broadcom NetXtreme II tool (./lnxfwnx2).\n" + errorsOccurred());
    NicRun ppc = once("nicburn-ppc", {"-crc"});
    EXPECT_EQ(ppc.status, 171);
    EXPECT_EQ(ppc.out, missing + "\nWarning. No Broadcom NetXtreme II adapters found.\n" + errorsOccurred());
}

TEST_F(Nicburn, PowerPcBuildLeavesNetXtremeIIOut) {
    scenario(c_twoFamilies);
    Session s;
    NicRun r = once("nicburn-ppc", {"-v"}, &s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(c_banner) + "\nWarning. No Broadcom NetXtreme II adapters found.\n" + c_tableHead +
                         "001018AABB01 (5704)\t3.29\tNA\tNA\t8.3.11\tNA\tNA\tNA\n");
    EXPECT_EQ(s.trace, "lnxfwupg\nlnxfwupg 001018AABB01 dir\n");
}

TEST_F(Nicburn, LogDirectoryChainFromAnEmptyVar) {
    scenario(c_twoFamilies);
    if (!hidden("/var").empty()) GTEST_SKIP() << "a tmpfs on /var would hide " << hidden("/var");
    // /var itself empty: /var/log and /var/log/ZAV_Support are both made.
    Session s = session("nicburn", {{"-?"}}, "/var");
    EXPECT_EQ(s.tree,
              "/var drwxrwxrwt\n"
              "/var/log drwxr-xr-x\n"
              "/var/log/ZAV_Support drwxr-xr-x\n"
              "/var/log/ZAV_Support/ethflash.log -rw-r--r--\n");
    EXPECT_EQ(s.log(), c_header);
}

TEST_F(Nicburn, LogNumberingFillsGapsAndSkipsDirectories) {
    scenario(c_twoFamilies);
    Session s = session("nicburn", {{"-?"}, {"-?"}}, "/var/log",
                        "mkdir -p /var/log/ZAV_Support/ethflash.log && echo old >/var/log/ZAV_Support/ethflash002.log");
    EXPECT_TRUE(contains(s.tree, "/var/log/ZAV_Support/ethflash001.log -rw-r--r--\n")) << s.tree;
    EXPECT_TRUE(contains(s.tree, "/var/log/ZAV_Support/ethflash003.log -rw-r--r--\n")) << s.tree;
    EXPECT_EQ(s.log("ethflash002.log"), "old\n");  // an existing log is never appended to
    EXPECT_EQ(s.log("ethflash003.log"), c_header);
}

// Garbled adapter tables: rows that would become bad file names or shell words are refused,
// shown and logged, short rows are skipped, long rows are read in pieces, and the rows after them still count.
TEST_F(Nicburn, GarbledTablesNeverReachTheShell) {
    scenario(
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\nbc = 3.29\nfault.row = overlong\n"
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB02\nbc = 3.29\nfault.row = text  2  1648  "
        "a;touch>x\n"
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB03\nbc = 3.29\nfault.row = malformed\n"
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB04\nbc = 3.29\nfault.row = text  4  1648  "
        "lnxfwupg\n"
        "[adapter]\nfamily = NetXtreme\ndevid = 1659\nmac = 001018AABB05\nbc = 3.61\n"
        "[adapter]\nfamily = NetXtreme II\ndevid = 164C\nmac = 001018AABB06\nbc = 4.4.1\n"
        "[lnxfwnx2]\nfault.table = notable\n");
    Session s;
    NicRun r = once("nicburn", {"-v"}, &s);
    const std::string refused =
        "\nWarning. Adapter table row refused (MAC address holds a character other than "
        "hexadecimal digits, ':-.'): ";
    EXPECT_EQ(r.status, 1);  // refused rows are adapters left alone
    EXPECT_EQ(r.out, std::string(c_banner) + refused + "2  1648  a;touch>x\n" + refused + "4  1648  lnxfwupg\n" +
                         "\nWarning. No Broadcom NetXtreme II adapters found.\n" + c_tableHead +
                         "001018AABB01 (5704)\t3.29\tNA\tNA\tNA\tNA\tNA\tNA\n"
                         "001018AABB05 (5721)\t3.61\tNA\tNA\tNA\tNA\tNA\tNA\n");
    EXPECT_TRUE(inOrder(s.log(), {"Adapter table row refused", "2  1648  a;touch>x\n", "Adapter table row refused",
                                  "4  1648  lnxfwupg\n"}));
    EXPECT_EQ(s.trace, "lnxfwupg\nlnxfwupg 001018AABB01 dir\nlnxfwupg 001018AABB05 dir\nlnxfwnx2\n");
    EXPECT_FALSE(pathExists(run.file("x")));
}

// Utilities that die, print nothing or end their table without its end line.
TEST_F(Nicburn, BrokenUtilityRunsAreSurvived) {
    const std::string adapters = c_twoFamilies;
    const struct {
        const char* nxFault;
        const char* nx2Fault;
        const char* expected;
    } cases[] = {
        {"empty", "noend",
         "\nWarning. No Broadcom NetXtreme adapters found.\n" /* table */
         "|001018AABB03 (5708)\t4.4.1\t1.0.2\tNA\t4.2.0\t1.4.0\tNA\tNA\n"},
        {"signal 11", "exit 3",
         "\nWarning. No Broadcom NetXtreme adapters found.\n"
         "|001018AABB03 (5708)\t4.4.1\t1.0.2\tNA\t4.2.0\t1.4.0\tNA\tNA\n"},
        {"exit 1", "signal KILL",
         "\nWarning. No Broadcom NetXtreme II adapters found.\n"
         "|001018AABB01 (5704)\t3.29\tNA\tNA\t8.3.11\tNA\tNA\tNA\n"},
    };
    for (const auto& c : cases) {
        scenario(adapters + "[lnxfwupg]\nfault.table = " + c.nxFault + "\n[lnxfwnx2]\nfault.table = " + c.nx2Fault +
                 "\n");
        NicRun r = once("nicburn", {"-v"});
        std::string expected = c.expected;
        size_t bar = expected.find('|');
        EXPECT_EQ(r.status, 0) << c.nxFault;
        EXPECT_EQ(r.out, c_banner + expected.substr(0, bar) + c_tableHead + expected.substr(bar + 1)) << c.nxFault;
    }
}

class NicburnUpdate : public Nicburn {
protected:
    void SetUp() override {
        Nicburn::SetUp();
        if (IsSkipped()) return;
        scenario(c_twoFamilies);
        image("1648bc.bin", "bc", "3.38");
        image("1648mba.bin", "mba", "8.4.0");
        image("164Cbc.bin", "bc", "4.6.2");
        image("164Cipmi.bin", "ipmi", "1.1.0");
        image("164Cmba.bin", "mba", "4.4.0");
        image("164Cump.bin", "ump", "1.5.1");
    }

    const std::string before = std::string(c_tableHead) +
                               row("001018AABB01", "5704", {"3.29", "NA", "NA", "8.3.11", "NA", "NA", "NA"}) +
                               row("001018AABB03", "5708", {"4.4.1", "1.0.2", "NA", "4.2.0", "1.4.0", "NA", "NA"});
    const std::string after = std::string(c_tableHead) +
                              row("001018AABB01", "5704", {"3.38", "NA", "NA", "8.4.0", "NA", "NA", "NA"}) +
                              row("001018AABB03", "5708", {"4.6.2", "1.1.0", "NA", "4.4.0", "1.5.1", "NA", "NA"});
    const std::string updates =
        "\nUpdating Broadcom NetXtreme adapters.\n" + updateLine("001018AABB01", "1648bc.bin", true) +
        updateLine("001018AABB01", "1648mba.bin", true) + "\nUpdating Broadcom NetXtreme II adapters.\n" +
        updateLine("001018AABB03", "164Cbc.bin", true) + updateLine("001018AABB03", "164Cipmi.bin", true) +
        updateLine("001018AABB03", "164Cmba.bin", true) + updateLine("001018AABB03", "164Cump.bin", true);
    const std::string trace =
        "lnxfwupg\nlnxfwupg 001018AABB01 dir\nlnxfwnx2\nlnxfwnx2 001018AABB03 dir\n"
        "lnxfwupg 001018AABB01 crc\nlnxfwnx2 001018AABB03 crc\n"
        "lnxfwupg 001018AABB01 upgrade -noreset -F -bc 1648bc.bin nv.bak\n"
        "lnxfwupg 001018AABB01 upgrade -noreset -F -mba 1648mba.bin nv.bak\n"
        "lnxfwnx2 001018AABB03 upgrade -noreset -F -bc 164Cbc.bin nv.bak\n"
        "lnxfwnx2 001018AABB03 upgrade -noreset -F -ipmi 164Cipmi.bin nv.bak\n"
        "lnxfwnx2 001018AABB03 upgrade -noreset -F -mba 164Cmba.bin nv.bak\n"
        "lnxfwnx2 001018AABB03 upgrade -noreset -F -ump 164Cump.bin nv.bak\n"
        "lnxfwupg\nlnxfwupg 001018AABB01 dir\nlnxfwnx2\nlnxfwnx2 001018AABB03 dir\n";
};

TEST_F(NicburnUpdate, UpdatesEveryComponentAndShowsTheNewVersions) {
    // A second run in the same namespace logs to the next numbered file and says so.
    Session s = session("nicburn", {{"-?"}, {}});
    ASSERT_EQ(s.runs.size(), 2u);
    const NicRun& r = s.runs[1];
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c_banner + before + crcScreen({{"001018AABB01", true}, {"001018AABB03", true}}) + updates + after +
                         updateComplete("/var/log/ZAV_Support/ethflash001.log"));
    EXPECT_EQ(s.trace, trace);

    const std::string& log = s.log("ethflash001.log");
    EXPECT_TRUE(inOrder(
        log, {"\nNow starting a CRC check for each Broadcom Ethernet adapter.\nPerforming CRC check for device "
              "001018AABB01\n",
              "(y/n) \n", "CRC check passed.\n*** Successfully completed CRC check on device 001018AABB01 ***\n\n",
              "\nCRC check complete.\n\nUpdating Broadcom NetXtreme adapters.\n",
              "Updating 001018AABB01 using file 1648bc.bin\n" +
                  fwsimUpgrade("NetXtreme", "adapter 1 (00:10:18:AA:BB:01)", "BootCode", "3.29", "3.38", "1648bc.bin") +
                  "done\nVerifying ... done\nUpgrade successful; the new firmware runs after the next reset.\n"
                  "*** Update successful ***\n\n",
              "Updating 001018AABB03 using file 164Cump.bin\n" +
                  fwsimUpgrade("NetXtreme II", "adapter 1 (00:10:18:AA:BB:03)", "UMP", "1.4.0", "1.5.1", "164Cump.bin"),
              after + updateComplete("/var/log/ZAV_Support/ethflash001.log")}));
    const std::string end = after + updateComplete("/var/log/ZAV_Support/ethflash001.log");
    EXPECT_EQ(log.substr(log.size() - end.size()), end);
}

TEST_F(NicburnUpdate, SilentRunShowsNothingAndLogsTheSame) {
    Session loud;
    NicRun r = once("nicburn", {}, &loud);
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(testutil::run({binPath("fwsim"), "reset", res.file("fwsim.conf")}).status, 0);

    Session quiet;
    NicRun s = once("nicburn", {"-S"}, &quiet);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err, "");
    EXPECT_EQ(quiet.trace, trace);
    EXPECT_EQ(quiet.log(), loud.log());
    EXPECT_TRUE(contains(quiet.log(), after + updateComplete()));
}

TEST_F(NicburnUpdate, PowerPcBuildUpdatesNetXtremeOnly) {
    NicRun r = once("nicburn-ppc", {});
    const std::string warning = "\nWarning. No Broadcom NetXtreme II adapters found.\n";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c_banner + warning + c_tableHead +
                         row("001018AABB01", "5704", {"3.29", "NA", "NA", "8.3.11", "NA", "NA", "NA"}) +
                         crcScreen({{"001018AABB01", true}}) + "\nUpdating Broadcom NetXtreme adapters.\n" +
                         updateLine("001018AABB01", "1648bc.bin", true) +
                         updateLine("001018AABB01", "1648mba.bin", true) + warning + c_tableHead +
                         row("001018AABB01", "5704", {"3.38", "NA", "NA", "8.4.0", "NA", "NA", "NA"}) +
                         updateComplete());
}

// A missing image, a utility that reports failure and one that dies: each is reported, the
// rest is still attempted, and the run ends with status 1.
TEST_F(Nicburn, FailedComponentsAreReportedAndTheRestGoesOn) {
    scenario(
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\n"
        "bc = 3.29\nipmi = 1.2.3\nmba = 8.3.11\nump = 1.1.9\n"
        "fault.upgrade.mba = exit 2\nfault.upgrade.ump = signal 9\n");
    image("1648bc.bin", "bc", "3.38");
    image("1648mba.bin", "mba", "8.4.0");
    image("1648ump.bin", "ump", "1.2.0");
    Session s;
    NicRun r = once("nicburn", {}, &s);
    const std::string warning = "\nWarning. No Broadcom NetXtreme II adapters found.\n";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c_banner + warning + c_tableHead +
                         row("001018AABB01", "5704", {"3.29", "1.2.3", "NA", "8.3.11", "1.1.9", "NA", "NA"}) +
                         crcScreen({{"001018AABB01", true}}) + "\nUpdating Broadcom NetXtreme adapters.\n" +
                         updateLine("001018AABB01", "1648bc.bin", true) +
                         updateLine("001018AABB01", "1648ipmi.bin", false) +
                         updateLine("001018AABB01", "1648mba.bin", false) +
                         updateLine("001018AABB01", "1648ump.bin", false) + warning + c_tableHead +
                         row("001018AABB01", "5704", {"3.38", "1.2.3", "NA", "8.3.11", "1.1.9", "NA", "NA"}) +
                         errorsOccurred());
    const std::string who = "adapter 1 (00:10:18:AA:BB:01)";
    EXPECT_TRUE(inOrder(
        s.log(),
        {"Updating 001018AABB01 using file 1648ipmi.bin\n"
         " !!! Error updating ipmi firmware on device 001018AABB01 using file 1648ipmi.bin. File not found !!!\n\n"
         "Updating 001018AABB01 using file 1648mba.bin\n" +
             fwsimUpgrade("NetXtreme", who, "PXE", "8.3.11", "8.4.0", "1648mba.bin") +
             "failed (NVRAM write error at offset 0x00000200)\nUpgrade failed; " + who +
             " keeps PXE 8.3.11.\n"
             " !!! Error updating mba firmware on device 001018AABB01 using file 1648mba.bin !!!\n\n"
             "Updating 001018AABB01 using file 1648ump.bin\n" +
             fwsimUpgrade("NetXtreme", who, "UMP", "1.1.9", "1.2.0", "1648ump.bin") +
             " !!! Error updating ump firmware on device 001018AABB01 using file 1648ump.bin !!!\n\n",
         errorsOccurred()}));
    // The missing image never reached the utility.
    EXPECT_FALSE(contains(s.trace, "-ipmi"));
    EXPECT_TRUE(contains(s.trace, "upgrade -noreset -F -ump 1648ump.bin nv.bak\n"));
}

// No bootcode found (none listed, or an empty listing): the adapter is reported and skipped.
// The update's gates ignore case: a version "na" counts as absent.
TEST_F(Nicburn, AdaptersWithoutDetectedFirmwareAreSkipped) {
    scenario(
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\nmba = 8.3.11\nipmi = 1.2.3\n"
        "[adapter]\nfamily = NetXtreme\ndevid = 1659\nmac = 001018AABB05\nbc = 3.61\nfault.dir = empty\n"
        "[adapter]\nfamily = NetXtreme II\ndevid = 164C\nmac = 001018AABB03\nbc = 4.4.1\nipmi = na\n");
    image("164Cbc.bin", "bc", "4.6.2");
    Session s;
    NicRun r = once("nicburn", {}, &s);
    EXPECT_EQ(r.status, 1);
    const std::string table = std::string(c_tableHead) +
                              row("001018AABB01", "5704", {"NA", "NA", "NA", "NA", "NA", "NA", "NA"}) +
                              row("001018AABB05", "5721", {"NA", "NA", "NA", "NA", "NA", "NA", "NA"});
    EXPECT_TRUE(inOrder(r.out, {table + row("001018AABB03", "5708", {"4.4.1", "na", "NA", "NA", "NA", "NA", "NA"}),
                                "\nUpdating Broadcom NetXtreme adapters.\n"
                                "Error! Firmware not detected on device 001018AABB01.\n"
                                "Error! Firmware not detected on device 001018AABB05.\n"
                                "\nUpdating Broadcom NetXtreme II adapters.\n" +
                                    updateLine("001018AABB03", "164Cbc.bin", true) + table,
                                errorsOccurred()}));
    EXPECT_TRUE(contains(s.log(), "Error! Firmware not detected on device 001018AABB01.\n"));
    EXPECT_FALSE(contains(s.trace, "001018AABB01 upgrade"));
    EXPECT_FALSE(contains(s.trace, "001018AABB05 upgrade"));
    EXPECT_FALSE(contains(s.trace, "-ipmi"));
}

TEST_F(Nicburn, DisableManagementFirmwareSendsEachPresentComponent) {
    scenario(
        "[adapter]\nfamily = NetXtreme\ndevid = 1659\nmac = 001018AABB05\nbc = 3.61\nasf = 2.10\nump = 1.1.9\n"
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\nbc = 3.29\nmba = 8.3.11\n"
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB02\nbc = 3.29\nipmi = na\n"
        "[adapter]\nfamily = NetXtreme II\ndevid = 163A\nmac = 001018AABB03\nbc = 4.4.1\n"
        "ipmi = 1.0.2\nump = 1.4.0\nncsi = 2.0.3\nfault.cfg.ncsi = exit 1\n");
    Session s;
    NicRun r = once("nicburn", {"-NoMfw"}, &s);
    EXPECT_EQ(r.status, 1);  // the NCSI command failed
    EXPECT_EQ(r.out, std::string(c_banner) +
                         "Disabling management firmware (ASF) for device 001018AABB05\t---> successful\n"
                         "Disabling management firmware (UMP) for 001018AABB05\t---> successful\n"
                         "Disabling management firmware (IPMI) for 001018AABB02\t---> successful\n"
                         "Disabling management firmware (IPMI) for 001018AABB03\t---> successful\n"
                         "Disabling management firmware (UMP) for 001018AABB03\t---> successful\n"
                         "Disabling management firmware (NCSI) for 001018AABB03\t---> failed\n");
    EXPECT_EQ(
        s.trace,
        "lnxfwupg\nlnxfwupg 001018AABB05 dir\nlnxfwupg 001018AABB01 dir\nlnxfwupg 001018AABB02 dir\n"
        "lnxfwnx2\nlnxfwnx2 001018AABB03 dir\n"
        "lnxfwupg 001018AABB05 cfg -asf 0\nlnxfwupg 001018AABB05 cfg -ump 0\nlnxfwupg 001018AABB02 cfg -ipmi 0\n"
        "lnxfwnx2 001018AABB03 cfg -ipmi 0\nlnxfwnx2 001018AABB03 cfg -ump 0\nlnxfwnx2 001018AABB03 cfg -ncsi 0\n");
    EXPECT_TRUE(inOrder(
        s.log(),
        {"Disabling management firmware (ASF) for device 001018AABB05\n",
         "ASF firmware disabled on adapter 1 (00:10:18:AA:BB:05).\n"
         "*** Successfully disabled management firmware (ASF) on device 001018AABB05 ***\n\n",
         "Disabling management firmware (NCSI) for 001018AABB03\n",
         "Error: writing the configuration of adapter 1 (00:10:18:AA:BB:03) failed; NCSI_X firmware unchanged.\n"
         " !!! Error disabling management firmware (NSCI) on device 001018AABB03 !!!\n\n"}));
    // Management disable compares exactly: an IPMI version "na" counts as present and is switched off.
    EXPECT_TRUE(
        contains(s.log(), "*** Successfully disabled management firmware (IPMI) on device 001018AABB02 ***\n\n"));

    // fwsim remembers: the next version table shows the disabled components gone.
    NicRun v = once("nicburn", {"-v"});
    EXPECT_EQ(v.out, c_banner + std::string(c_tableHead) +
                         row("001018AABB05", "5721", {"3.61", "NA", "NA", "NA", "NA", "NA", "NA"}) +
                         row("001018AABB01", "5704", {"3.29", "NA", "NA", "8.3.11", "NA", "NA", "NA"}) +
                         row("001018AABB02", "5704", {"3.29", "NA", "NA", "NA", "NA", "NA", "NA"}) +
                         row("001018AABB03", "5709s", {"4.4.1", "NA", "NA", "NA", "NA", "2.0.3", "NA"}));
}

TEST_F(Nicburn, CrcCheckAnswersYesAndReportsEachAdapter) {
    scenario(
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\nbc = 3.29\n"
        "[adapter]\nfamily = NetXtreme\ndevid = 1659\nmac = 001018AABB05\nbc = 3.61\nfault.crc = exit 1\n"
        "[adapter]\nfamily = NetXtreme II\ndevid = 164C\nmac = 001018AABB03\nbc = 4.4.1\nfault.crc = signal TERM\n");
    Session s;
    NicRun r = once("nicburn", {"-crc"}, &s);
    EXPECT_EQ(r.status, 1);  // two of the three checks failed
    EXPECT_EQ(r.out, c_banner + crcScreen({{"001018AABB01", true}, {"001018AABB05", false}, {"001018AABB03", false}}));
    EXPECT_EQ(s.trace,
              "lnxfwupg\nlnxfwupg 001018AABB01 dir\nlnxfwupg 001018AABB05 dir\nlnxfwnx2\nlnxfwnx2 001018AABB03 dir\n"
              "lnxfwupg 001018AABB01 crc\nlnxfwupg 001018AABB05 crc\nlnxfwnx2 001018AABB03 crc\n");
    EXPECT_TRUE(inOrder(
        s.log(), {"\nNow starting a CRC check for each Broadcom Ethernet adapter.\nPerforming CRC check for device "
                  "001018AABB01\n",
                  "CRC check passed.\n*** Successfully completed CRC check on device 001018AABB01 ***\n\n"
                  "Performing CRC check for device 001018AABB05\n",
                  "MISMATCH",
                  "CRC check failed.\n !!! Error performing CRC check on device 001018AABB05 !!!\n\n"
                  "Performing CRC check for device 001018AABB03\n",
                  "(y/n) \n !!! Error performing CRC check on device 001018AABB03 !!!\n\n\nCRC check complete.\n"}));
    EXPECT_FALSE(contains(s.log(), "not confirmed"));
}

// When /var/log/ZAV_Support is not a directory the log stays in the current directory, named
// by its full path.
TEST_F(Nicburn, LogStaysInTheCurrentDirectoryWhenTheLogFolderIsAFile) {
    scenario("");
    Session s = session("nicburn", {{"-v"}}, "/var/log", "echo not a folder >/var/log/ZAV_Support", {"ethflash.log"});
    ASSERT_EQ(s.runs.size(), 1u);
    char real[PATH_MAX];
    ASSERT_NE(realpath(run.path().c_str(), real), nullptr);
    const std::string path = std::string(real) + "/ethflash.log";
    const std::string out = std::string(c_banner) + "\nWarning. No Broadcom NetXtreme adapters found.\n" +
                            "\nWarning. No Broadcom NetXtreme II adapters found.\n" + errorsOccurred(path);
    EXPECT_EQ(s.runs[0].status, 171);
    EXPECT_EQ(s.runs[0].out, out);
    EXPECT_EQ(s.tree, "/var/log drwxrwxrwt\n/var/log/ZAV_Support -rw-r--r--\n");
    const std::string log = readFile(path);
    EXPECT_EQ(log.find(std::string(c_header) + c_banner), 0u);
    EXPECT_EQ(log.substr(log.size() - errorsOccurred(path).size()), errorsOccurred(path));
}

// 16A7 and 16C7 adapters take the "03S" images when their listing has a "5703s" line, "03C"
// otherwise, and never an ASF image.
TEST_F(Nicburn, Adapters16A7And16C7ChooseImagesByThe5703sLine) {
    scenario(
        "[adapter]\nfamily = NetXtreme\ndevid = 16A7\nmac = 001018AABB01\n5703s = yes\nbc = 2.80\nasf = 5.2.0\nmba = "
        "7.0.1\n"
        "[adapter]\nfamily = NetXtreme\ndevid = 16c7\nmac = 001018AABB02\nbc = 2.81\n");
    image("03Sbc.bin", "bc", "2.90");
    image("03Smba.bin", "mba", "7.2.0");
    image("03Cbc.bin", "bc", "2.91");
    Session s;
    NicRun r = once("nicburn", {}, &s);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(
        inOrder(r.out, {row("001018AABB01", "unknown", {"2.80", "NA", "5.2.0", "7.0.1", "NA", "NA", "NA"}) +
                            row("001018AABB02", "unknown", {"2.81", "NA", "NA", "NA", "NA", "NA", "NA"}),
                        updateLine("001018AABB01", "03Sbc.bin", true) + updateLine("001018AABB01", "03Smba.bin", true) +
                            updateLine("001018AABB02", "03Cbc.bin", true),
                        row("001018AABB01", "unknown", {"2.90", "NA", "5.2.0", "7.2.0", "NA", "NA", "NA"}) +
                            row("001018AABB02", "unknown", {"2.91", "NA", "NA", "NA", "NA", "NA", "NA"}),
                        updateComplete()}))
        << r.out;
    EXPECT_FALSE(contains(s.trace, "-asf"));
}

// Runs started together never share a log: each gets its own file with one header.
TEST_F(Nicburn, SimultaneousRunsGetTheirOwnLogs) {
    scenario(c_twoFamilies);
    Session s =
        session("nicburn", {}, "/var/log",
                "for i in 1 2 3 4 5 6 7 8; do " + shellQuote(binPath("nicburn")) + " -? >/dev/null & done; wait");
    ASSERT_EQ(s.logs.size(), 8u) << s.tree;
    for (const auto& log : s.logs) EXPECT_EQ(log.second, c_header) << log.first;
    EXPECT_TRUE(contains(s.tree, "/var/log/ZAV_Support/ethflash007.log")) << s.tree;
}
