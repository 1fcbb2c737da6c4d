// Fault matrix of nicburn: vendor utilities that are missing, not executable or die in each of
// their commands, garbage and binary output, lines of 10 000 characters, 500 adapters, a log
// directory that is read-only, full or a file, and a read-only current directory. Each run happens
// in a private mount namespace with a fresh tmpfs on /var/log; each case checks the exit status,
// the exact screen output and error output, the log, and that the tool folder holds nothing new
// but the log and its vendor files are unchanged.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/support/e2esupport.h"
#include "tests/e2e/support/nictexts.h"
#include "tests/support/testutil.h"

using namespace nictexts;
using testutil::shellQuote;

namespace {

const char c_mac[] = "001018AABB01";
// One NetXtreme adapter with bootcode, ASF and PXE firmware; no NetXtreme II adapter.
const char c_adapter[] =
    "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\nbc = 3.29\nasf = 2.10\nmba = 8.3.11\n";
const char c_unableToWrite[] = "Error! Unable to write to log file.\n";

std::string rowOf(const std::vector<std::string>& versions) { return row(c_mac, "5704", versions); }
const std::vector<std::string> c_before = {"3.29", "NA", "2.10", "8.3.11", "NA", "NA", "NA"};
const std::vector<std::string> c_after = {"3.38", "NA", "2.20", "8.4.0", "NA", "NA", "NA"};
const std::vector<std::string> c_none = {"NA", "NA", "NA", "NA", "NA", "NA", "NA"};

std::string table(const std::vector<std::string>& rows) {
    std::string t = c_tableHead;
    for (const auto& r : rows) t += r;
    return t;
}

// text without every occurrence of part.
std::string without(std::string text, const std::string& part) {
    for (size_t at; (at = text.find(part)) != std::string::npos;) text.erase(at, part.size());
    return text;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// Fixed bytes that look random (a linear congruential sequence); without NUL bytes when asked.
std::string noise(size_t n, uint32_t seed, bool nul) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        char c = static_cast<char>((seed >> 16) & 0xff);
        s += (!nul && c == '\0') ? '\x01' : c;
    }
    return s;
}

struct NicOutcome {
    int status = -1;
    std::string out, err;
    std::string log;      // the log file's bytes, wherever it went
    std::string logTree;  // "path mode size" of everything on the /var/log tmpfs
    std::string trace;    // commands fwsim received
    double seconds = 0;
};

// How the namespace is set up before the run.
struct Setting {
    std::string logMount = "mode=0755";  // options of the tmpfs on /var/log
    std::string prepare;                 // shell lines run there first (cwd: the tool folder)
};

class NicburnFaults : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_MOUNT_NAMESPACE();
        char real[PATH_MAX];
        std::string path = realpath(root_.path().c_str(), real) ? real : root_.path();
        if (path.compare(0, 9, "/var/log/") == 0) GTEST_SKIP() << "a tmpfs on /var/log would hide " << path;
        for (const char* d : {"tool", "res", "sim", "sim/real"}) mkdir(root_.file(d).c_str(), 0755);
        testutil::RunResult r = testutil::run({testutil::binPath("fwsim"), "install", tool()});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(symlink(testutil::binPath("fwsim").c_str(), sim("real/lnxfwupg").c_str()), 0);
        scenario(c_adapter);
        image("1648bc.bin", "bc", "3.38");
        image("1648asf.bin", "asf", "2.20");
        image("1648mba.bin", "mba", "8.4.0");
    }

    std::string tool() const { return root_.file("tool"); }
    std::string res(const std::string& name) const { return root_.file("res/" + name); }
    std::string sim(const std::string& name) const { return root_.file("sim/" + name); }

    // A new scenario; fwsim forgets what earlier runs changed.
    void scenario(const std::string& text) {
        testutil::writeFile(res("fwsim.conf"), text);
        unlink(res("fwsim.state").c_str());
    }

    void image(const std::string& name, const std::string& component, const std::string& version) {
        testutil::writeFile(tool() + "/" + name, "FWSIM-IMAGE component=" + component + " version=" + version + "\n");
    }

    // ./lnxfwupg becomes a link to a wrapper around fwsim that, after its run of the command
    // `after` ("table" is the run without a command), removes itself (`how` "missing") or its
    // execute permission ("noexec"). `after` "start" breaks it before the first run.
    void breakable(const std::string& after, const std::string& how) {
        std::string self = sim("lnxfwupg");
        std::string act = how == "missing" ? "rm -f " + shellQuote(self) : "chmod 0644 " + shellQuote(self);
        testutil::writeFile(self,
                            "#!/bin/sh\n" + shellQuote(sim("real/lnxfwupg")) +
                                " \"$@\"\nrc=$?\n"
                                "if [ \"${2:-table}\" = " +
                                shellQuote(after) + " ]; then " + act + "; fi\nexit $rc\n",
                            0755);
        std::string link = tool() + "/lnxfwupg";
        unlink(link.c_str());
        ASSERT_EQ(symlink(self.c_str(), link.c_str()), 0);
        if (after == "start" && how == "missing") unlink(self.c_str());
        if (after == "start" && how == "noexec") chmod(self.c_str(), 0644);
    }

    // ./lnxfwupg becomes a script: the adapter table is the file sim/table, a "dir" listing the
    // file sim/dir (text lines); every other command goes to fwsim. Each run is traced as fwsim
    // traces.
    void scripted(const std::string& tableText, const std::string& dirText = "") {
        testutil::writeFile(sim("table"), tableText);
        testutil::writeFile(sim("dir"), dirText);
        std::string self = sim("lnxfwupg");
        testutil::writeFile(self,
                            "#!/bin/sh\necho \"lnxfwupg $*\" >>\"$FWSIM_TRACE\"\n"
                            "if [ $# -eq 0 ]; then cat " +
                                shellQuote(sim("table")) +
                                "; exit 0; fi\n"
                                "if [ \"$2\" = dir ] && [ -s " +
                                shellQuote(sim("dir")) +
                                " ]; then\n"
                                "  while IFS= read -r l; do printf '%s\\n' \"$l\"; done <" +
                                shellQuote(sim("dir")) + "\n  exit 0\nfi\nexec " + shellQuote(sim("real/lnxfwupg")) +
                                " \"$@\"\n",
                            0755);
        std::string link = tool() + "/lnxfwupg";
        unlink(link.c_str());
        ASSERT_EQ(symlink(self.c_str(), link.c_str()), 0);
    }

    // Runs nicburn with args in the tool folder inside a namespace set up as `setting` says.
    // Fails the test when the tool folder afterwards holds anything new but the log, or a vendor
    // file changed.
    NicOutcome run(const std::vector<std::string>& args, const Setting& setting = Setting()) {
        const std::string before = e2e::snapshotTree(tool());
        for (const char* f : {"out", "err", "status", "logtree", "log", "trace"}) unlink(res(f).c_str());
        std::string script = "umask 022\nmount -t tmpfs -o " + setting.logMount +
                             " zav_faults_log /var/log || exit 125\n" + e2e::privateLockLine() + "cd " +
                             shellQuote(tool()) + " || exit 125\n" + setting.prepare + "\n" +
                             shellQuote(testutil::binPath("nicburn"));
        for (const std::string& a : args) script += " " + shellQuote(a);
        script += " </dev/null >" + shellQuote(res("out")) + " 2>" + shellQuote(res("err")) + "\necho $? >" +
                  shellQuote(res("status")) + "\nfind /var/log -mindepth 1 -printf '%P %M %s\\n' | LC_ALL=C sort >" +
                  shellQuote(res("logtree")) +
                  "\nfor f in /var/log/ZAV_Support/ethflash.log ethflash.log; do "
                  "if [ -f \"$f\" ]; then cat \"$f\" >" +
                  shellQuote(res("log")) + "; break; fi; done\nexit 0\n";
        testutil::RunOptions opts;
        opts.env = {{"FWSIM_CONF", res("fwsim.conf")}, {"FWSIM_TRACE", res("trace")}, {"LC_ALL", "C"}};
        opts.timeoutSeconds = 60;
        auto t0 = std::chrono::steady_clock::now();
        testutil::RunResult r = testutil::run({"unshare", "-m", "/bin/sh", "-c", script}, opts);
        NicOutcome o;
        o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(r.status, 0) << "the namespace script did not run through: " << r.err;
        o.status = atoi(testutil::readFile(res("status")).c_str());
        o.out = testutil::readFile(res("out"));
        o.err = testutil::readFile(res("err"));
        o.log = testutil::readFile(res("log"));
        o.logTree = testutil::readFile(res("logtree"));
        o.trace = testutil::readFile(res("trace"));
        EXPECT_EQ(e2e::withoutEntries(e2e::snapshotTree(tool()), {"ethflash.log"}), before)
            << "the tool folder changed beyond its log";
        return o;
    }

    testutil::TempDir root_;
};

// The update run's texts for the one adapter: the table before, the CRC check, the updates.
std::string crcOf(bool ok) { return crcScreen({{c_mac, ok}}); }
std::string updatesOf(bool ok) {
    return "\nUpdating Broadcom NetXtreme adapters.\n" + updateLine(c_mac, "1648bc.bin", ok) +
           updateLine(c_mac, "1648asf.bin", ok) + updateLine(c_mac, "1648mba.bin", ok);
}
const std::string c_locate = "\nError! Unable to locate Broadcom NetXtreme tool (./lnxfwupg).\n";

// ---------------------------------------------------------------------------------------------
// The vendor utility missing, not executable, or dying by a signal, in each of its commands.
// "missing" and "noexec" break the utility right before the command's first run (for the
// listing: before the run starts); "signal" is fwsim dying by SIGSEGV in that command.

TEST_F(NicburnFaults, UtilityFailsInEachCommand) {
    const std::string nx2 = noAdapters("NetXtreme II");
    const std::string denied = "sh: 1: ./lnxfwupg: Permission denied\n";
    const std::string notFound = "sh: 1: ./lnxfwupg: not found\n";
    const std::string segv = "Segmentation fault\n";
    const std::string noList = c_banner + noAdapters("NetXtreme") + nx2 + errorsOccurred();
    const std::string disabling = "Disabling management firmware (ASF) for device 001018AABB01";
    auto times = [](const std::string& s, int n) {
        std::string r;
        for (int i = 0; i < n; ++i) r += s;
        return r;
    };
    struct Case {
        const char* command;
        const char* kind;
        const char* mode;  // nicburn's option, "" for the update run
        const char* breakAfter;
        const char* fault;  // scenario line for "signal"
        int status;
        std::string out;
        std::string err;
        std::string logHas;  // the per-adapter result in the log, or the closing text
    };
    const Case cases[] = {
        {"listing", "missing", "", "start", "", 171, c_banner + c_locate + nx2 + errorsOccurred(), "",
         errorsOccurred()},
        {"listing", "noexec", "", "start", "", 171, noList, denied, errorsOccurred()},
        {"listing", "signal", "", "", "[lnxfwupg]\nfault.table = signal SEGV\n", 171, noList, segv, errorsOccurred()},
        // The listing file stays empty: no firmware found, nothing written; the CRC check fails
        // the same way, and the rediscovery finds the utility broken.
        {"dir", "missing", "", "table", "", 1,
         c_banner + nx2 + table({rowOf(c_none)}) + crcOf(false) +
             "\nUpdating Broadcom NetXtreme adapters.\n"
             "Error! Firmware not detected on device 001018AABB01.\n" +
             c_locate + nx2 + table({}) + errorsOccurred(),
         times(notFound, 2), "Error! Firmware not detected on device 001018AABB01.\n"},
        {"dir", "noexec", "", "table", "", 1,
         c_banner + nx2 + table({rowOf(c_none)}) + crcOf(false) +
             "\nUpdating Broadcom NetXtreme adapters.\n"
             "Error! Firmware not detected on device 001018AABB01.\n" +
             noAdapters("NetXtreme") + nx2 + table({}) + errorsOccurred(),
         times(denied, 3), "Error! Firmware not detected on device 001018AABB01.\n"},
        {"dir", "signal", "", "", "fault.dir = signal SEGV\n", 1,
         c_banner + nx2 + table({rowOf(c_none)}) + crcOf(true) +
             "\nUpdating Broadcom NetXtreme adapters.\n"
             "Error! Firmware not detected on device 001018AABB01.\n" +
             nx2 + table({rowOf(c_none)}) + errorsOccurred(),
         times(segv, 2), "Error! Firmware not detected on device 001018AABB01.\n"},
        {"upgrade", "missing", "", "crc", "", 1,
         c_banner + nx2 + table({rowOf(c_before)}) + crcOf(true) + updatesOf(false) + c_locate + nx2 + table({}) +
             errorsOccurred(),
         times(notFound, 3), " !!! Error updating bc firmware on device 001018AABB01 using file 1648bc.bin !!!\n"},
        {"upgrade", "noexec", "", "crc", "", 1,
         c_banner + nx2 + table({rowOf(c_before)}) + crcOf(true) + updatesOf(false) + noAdapters("NetXtreme") + nx2 +
             table({}) + errorsOccurred(),
         times(denied, 4), " !!! Error updating bc firmware on device 001018AABB01 using file 1648bc.bin !!!\n"},
        {"upgrade", "signal", "", "", "fault.upgrade = signal SEGV\n", 1,
         c_banner + nx2 + table({rowOf(c_before)}) + crcOf(true) + updatesOf(false) + nx2 + table({rowOf(c_before)}) +
             errorsOccurred(),
         times(segv, 3), " !!! Error updating mba firmware on device 001018AABB01 using file 1648mba.bin !!!\n"},
        // -nomfw and -crc report failures in the log, on screen and in the status.
        {"cfg", "missing", "-nomfw", "dir", "", 1, c_banner + nx2 + disabling + "\t---> failed\n", notFound,
         " !!! Error disabling management firmware (ASF) on device 001018AABB01 !!!\n"},
        {"cfg", "noexec", "-nomfw", "dir", "", 1, c_banner + nx2 + disabling + "\t---> failed\n", denied,
         " !!! Error disabling management firmware (ASF) on device 001018AABB01 !!!\n"},
        {"cfg", "signal", "-nomfw", "", "fault.cfg = signal SEGV\n", 1, c_banner + nx2 + disabling + "\t---> failed\n",
         segv, " !!! Error disabling management firmware (ASF) on device 001018AABB01 !!!\n"},
        {"crc", "missing", "-crc", "dir", "", 1, c_banner + nx2 + crcOf(false), notFound,
         " !!! Error performing CRC check on device 001018AABB01 !!!\n"},
        {"crc", "noexec", "-crc", "dir", "", 1, c_banner + nx2 + crcOf(false), denied,
         " !!! Error performing CRC check on device 001018AABB01 !!!\n"},
        {"crc", "signal", "-crc", "", "fault.crc = signal SEGV\n", 1, c_banner + nx2 + crcOf(false), segv,
         " !!! Error performing CRC check on device 001018AABB01 !!!\n"},
    };
    for (const Case& c : cases) {
        const std::string name = std::string(c.command) + ", " + c.kind;
        scenario(std::string(c_adapter) + c.fault);
        breakable(*c.breakAfter ? c.breakAfter : "never", *c.breakAfter ? c.kind : "none");
        NicOutcome o = run(*c.mode ? std::vector<std::string>{c.mode} : std::vector<std::string>{});
        EXPECT_EQ(o.status, c.status) << name;
        EXPECT_EQ(o.out, c.out) << name;
        EXPECT_EQ(o.err, c.err) << name;
        EXPECT_EQ(o.log.find(std::string(c_header) + c_banner), 0u) << name;
        EXPECT_TRUE(contains(o.log, c.logHas)) << name << "\n" << o.log;
    }
}

// ---------------------------------------------------------------------------------------------
// Garbage, binary output and long lines from the utility

const char c_tableTop[] =
    "Broadcom NetXtreme Firmware Upgrade Utility for Linux, v7.3.2\n\n"
    " C  Dev   MAC           Bus      Description\n"
    "--  ----  ------------  -------  ----------------------------------------\n";
const char c_tableRow[] = " 1  1648  001018AABB01  02:00.0  Broadcom NetXtreme Gigabit Ethernet\n";
const char c_tableEnd[] = "\n0> \n";
const char c_bootLine[] = "   0  BootCode    0x00000200  0x00003c00  valid  5704-v3.29\n";

TEST_F(NicburnFaults, GarbageFromTheUtility) {
    const std::string nx2 = noAdapters("NetXtreme II");
    const std::string one = table({row(c_mac, "5704", {"3.29", "NA", "NA", "NA", "NA", "NA", "NA"})});
    const std::string refusedRow =
        "\nWarning. Adapter table row refused (MAC address holds a character other than "
        "hexadecimal digits, ':-.'): ";
    const std::string binary = noise(4096, 11, false);
    ASSERT_EQ(binary.find(" MAC "), std::string::npos);

    struct Case {
        const char* name;
        std::string table;
        std::string dir;  // "" for fwsim's own listing
        int status;
        std::string out;
        std::vector<std::string> logHas;  // in this order
        std::vector<std::string> logLacks;
    };
    const Case cases[] = {
        // Binary noise instead of a table: no adapter; the log holds the noise as printed.
        {"binary noise",
         binary,
         "",
         171,
         c_banner + noAdapters("NetXtreme") + nx2 + errorsOccurred(),
         {"\n" + binary + "\n", noAdapters("NetXtreme")},
         {}},
        // A NUL byte in the listing: the log's copy of that 254-byte piece ends at the NUL, so
        // "hidden" and the line end after it are lost.
        {"NUL byte",
         std::string("junk\0hidden\n", 12) + c_tableTop + c_tableRow + c_tableEnd,
         c_bootLine,
         0,
         c_banner + nx2 + one,
         {"\njunkBroadcom NetXtreme Firmware Upgrade Utility"},
         {"hidden"}},
        // Terminal controls and bytes above 127 in a row's MAC address: refused, shown and
        // logged, and the run fails.
        {"control bytes in a row",
         std::string(c_tableTop) + c_tableRow + " 2  1648  \x1b[2J\xff\x01  03:00.0  x\n" + c_tableEnd,
         c_bootLine,
         1,
         c_banner + refusedRow + " 2  1648  \x1b[2J\xff\x01  03:00.0  x\n" + nx2 + one,
         {refusedRow + " 2  1648  \x1b[2J\xff\x01  03:00.0  x\n"},
         {}},
        // Shell words in a row: refused before they reach a command line (the snapshot shows no
        // file "pwned" was made).
        {"shell words in a row",
         std::string(c_tableTop) + c_tableRow + " 2  1648  $(>pwned)  03:00.0  x\n 3  1648  `>pwned`  x\n" + c_tableEnd,
         c_bootLine,
         1,
         c_banner + refusedRow + " 2  1648  $(>pwned)  03:00.0  x\n" + refusedRow + " 3  1648  `>pwned`  x\n" + nx2 +
             one,
         {refusedRow + " 2  1648  $(>pwned)  03:00.0  x\n", refusedRow + " 3  1648  `>pwned`  x\n"},
         {}},
        // Terminal controls inside a version word reach the screen as they are: the utility is
        // trusted to print text.
        {"control bytes in a version",
         std::string(c_tableTop) + c_tableRow + c_tableEnd,
         std::string(c_bootLine) + "   1  PXE         0x0000fe00  0x00010000  valid  v8.3\x1b[1m\n",
         0,
         c_banner + nx2 + table({row(c_mac, "5704", {"3.29", "NA", "NA", "8.3\x1b[1m", "NA", "NA", "NA"})}),
         {},
         {}},
    };
    for (const Case& c : cases) {
        scripted(c.table, c.dir);
        NicOutcome o = run({"-v"});
        EXPECT_EQ(o.status, c.status) << c.name;
        EXPECT_EQ(o.out, c.out) << c.name;
        EXPECT_EQ(o.err, "") << c.name;
        EXPECT_TRUE(inOrder(o.log, c.logHas)) << c.name;
        for (const std::string& lack : c.logLacks) EXPECT_FALSE(contains(o.log, lack)) << c.name << ": " << lack;
    }
}

// Lines of 10 000 characters, read in 254-character pieces.
TEST_F(NicburnFaults, LinesOf10000Characters) {
    const std::string nx2 = noAdapters("NetXtreme II");
    const std::string first = row(c_mac, "5704", {"3.29", "NA", "NA", "NA", "NA", "NA", "NA"});
    std::string longBanner = "banner:";
    while (longBanner.size() < 10000) longBanner += " lnxfwupg";
    longBanner.resize(10000);
    // A row whose description goes on for 10 000 characters of short words.
    std::string longRow = " 1  1648  001018AABB01  02:00.0  ";
    for (int i = 0; longRow.size() < 10000; ++i) longRow += "w" + std::to_string(i % 10) + " ";
    longRow.resize(10000);
    std::string dotted = "   1  PXE         0x0000fe00  0x00010000  valid  " + std::string(9900, '.') + " v8.4.0";
    dotted.resize(10000, '.');

    // A long line before the table changes nothing, and the log holds it whole.
    scripted(longBanner + "\n" + c_tableTop + c_tableRow + c_tableEnd, c_bootLine);
    NicOutcome o = run({"-v"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, c_banner + nx2 + table({first}));
    EXPECT_TRUE(contains(o.log, "\n" + longBanner + "\n"));

    // A long row is judged by its first 254-character piece: the pieces after it are the rest of
    // that row, never adapters of their own (they once gave 39 phantom adapters here).
    scripted(std::string(c_tableTop) + longRow + "\n" + c_tableEnd, c_bootLine);
    o = run({"-v"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, c_banner + nx2 + table({first}));
    EXPECT_EQ(count(o.trace, " dir\n"), 1u);

    // A 10 000-character listing line: its first piece holds the marker, and the version is the
    // word after its last blank there, cut to 19 characters.
    scripted(std::string(c_tableTop) + c_tableRow + c_tableEnd, std::string(c_bootLine) + dotted + "\n");
    o = run({"-v"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, c_banner + nx2 +
                         table({row(c_mac, "5704", {"3.29", "NA", "NA", std::string(19, '.'), "NA", "NA", "NA"})}));
    EXPECT_EQ(o.err, "");
}

// 500 adapters: one listing and, per adapter, a "dir" run and the removal of its listing file
// ("rm" through the shell). The utility is a script whose every run costs the same (fwsim reads
// the whole scenario on each run), so the time shows nicburn's own growth: 500 adapters take at
// most 15 times as long as 50, plus 2 s for a busy machine.
TEST_F(NicburnFaults, FiveHundredAdapters) {
    double seconds[2] = {0, 0};
    const int counts[2] = {50, 500};
    for (int k = 0; k < 2; ++k) {
        std::string listing = c_tableTop, rows;
        for (int i = 1; i <= counts[k]; ++i) {
            char line[96], mac[16];
            snprintf(mac, sizeof(mac), "0010180%05X", i);
            snprintf(line, sizeof(line), "%3d  1648  %s  02:00.0  Broadcom NetXtreme Gigabit Ethernet\n", i, mac);
            listing += line;
            rows += row(mac, "5704", {"3.29", "NA", "NA", "8.3.11", "NA", "NA", "NA"});
        }
        scripted(listing + c_tableEnd,
                 std::string(c_bootLine) + "   1  PXE         0x0000fe00  0x00010000  valid  v8.3.11\n");
        NicOutcome o = run({"-v"});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out, c_banner + noAdapters("NetXtreme II") + c_tableHead + rows);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(count(o.trace, " dir\n"), static_cast<size_t>(counts[k]));
        seconds[k] = o.seconds;
    }
    EXPECT_LT(seconds[1], 15 * seconds[0] + 2.0) << "50 adapters: " << seconds[0] << " s";
    RecordProperty("seconds50", std::to_string(seconds[0]));
    RecordProperty("seconds500", std::to_string(seconds[1]));
    std::cout << "[          ] 50 adapters: " << seconds[0] << " s, 500 adapters: " << seconds[1] << " s\n";
}

// ---------------------------------------------------------------------------------------------
// The log and the current directory

TEST_F(NicburnFaults, LogDirectoryFaults) {
    const std::string nx2 = noAdapters("NetXtreme II");
    const std::string normal =
        c_banner + nx2 + table({rowOf(c_before)}) + crcOf(true) + updatesOf(true) + nx2 + table({rowOf(c_after)});

    // Wherever the log folder cannot hold the log, the log goes to the folder the package was
    // started from, else the current directory; the closing message names it by its full path.
    char real[PATH_MAX];
    ASSERT_NE(realpath(tool().c_str(), real), nullptr);
    const std::string here = std::string(real) + "/ethflash.log";
    const std::string origin = root_.file("origin");
    const std::string workDir = root_.file("zav_rq_pkg_0000abcd");
    const std::string blank = root_.file("my dir;$(touch pwned)");
    for (const std::string& d : {origin, workDir, blank}) mkdir(d.c_str(), 0755);
    const std::string roFolder =
        "mkdir /var/log/ZAV_Support && mount -t tmpfs -o ro zav_faults_ro /var/log/ZAV_Support";
    struct Case {
        const char* what;
        std::string logMount;
        std::string prepare;
        std::string log;  // where the log must be
        std::string logTree;
    };
    const Case cases[] = {
        {"log folder read-only", "mode=0755", roFolder, here, "ZAV_Support drwxrwxrwt 40\n"},
        {"/var/log read-only", "ro", "", here, ""},
        {"log folder is a file", "mode=0755", "echo not a folder >/var/log/ZAV_Support", here,
         "ZAV_Support -rw-r--r-- 13\n"},
        {"log folder full", "size=4k", "mkdir /var/log/ZAV_Support && head -c 4096 /dev/zero >/var/log/filler", here,
         "ZAV_Support drwxr-xr-x 40\nfiller -rw-r--r-- 4096\n"},
        {"started from a folder", "mode=0755", roFolder + "\nexport ZAV_RQ_PKG_ORIG_CURR_DIR=" + shellQuote(origin),
         origin + "/ethflash.log", "ZAV_Support drwxrwxrwt 40\n"},
        {"started from the launcher's working folder", "mode=0755",
         roFolder + "\nexport ZAV_RQ_PKG_ORIG_CURR_DIR=" + shellQuote(workDir), here, "ZAV_Support drwxrwxrwt 40\n"},
        {"started from a relative folder", "mode=0755", roFolder + "\nexport ZAV_RQ_PKG_ORIG_CURR_DIR=origin", here,
         "ZAV_Support drwxrwxrwt 40\n"},
        // The folder's name goes on the utilities' command lines as one quoted word.
        {"started from a folder named with a blank and shell syntax", "mode=0755",
         roFolder + "\nexport ZAV_RQ_PKG_ORIG_CURR_DIR=" + shellQuote(blank), blank + "/ethflash.log",
         "ZAV_Support drwxrwxrwt 40\n"},
    };
    for (const Case& c : cases) {
        scenario(c_adapter);
        Setting setting;
        setting.logMount = c.logMount;
        setting.prepare = c.prepare;
        NicOutcome o = run({}, setting);
        EXPECT_EQ(o.status, 0) << c.what;
        EXPECT_EQ(o.out, normal + updateComplete(c.log)) << c.what;
        EXPECT_EQ(o.err, "") << c.what;
        EXPECT_EQ(o.logTree, c.logTree) << c.what;
        const std::string log = testutil::readFile(c.log);
        EXPECT_EQ(log.find(std::string(c_header) + c_banner), 0u) << c.what;
        EXPECT_TRUE(contains(log, "*** Update successful ***\n")) << c.what;
        EXPECT_TRUE(contains(log, "Writing 16384 bytes to NVRAM")) << c.what << ": the utility's output is missing";
        unlink(c.log.c_str());
    }
    EXPECT_EQ(testutil::listDir(blank), std::vector<std::string>{});
    EXPECT_FALSE(testutil::pathExists(tool() + "/pwned"));
    EXPECT_FALSE(testutil::pathExists(tool() + "/my"));

    // Nowhere to write: the log folder, the starting folder and the current directory are all
    // read-only. The utilities' ">>log" redirections fail too, so the CRC check and every
    // update fail and the run ends with 1.
    scenario(c_adapter);
    Setting ro;
    ro.prepare = roFolder +
                 "\nexport ZAV_RQ_PKG_ORIG_CURR_DIR=/proc\nmount --bind . . && mount -o remount,ro,bind . . && cd " +
                 shellQuote(tool());
    NicOutcome o = run({"-v"}, ro);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(without(o.out, c_unableToWrite), "Error! Unable to initialize log file.\n" + std::string(c_banner) +
                                                   "Error! Cannot create temporary file \"q\".\n");
    EXPECT_EQ(o.logTree, "ZAV_Support drwxrwxrwt 40\n");

    // Full during the run: the log holds its first 4096 bytes, the screen says that the rest
    // was not written, the closing message says that the log is incomplete and where its part
    // is, and the run fails; -s says nothing on the screen but fails all the same.
    const std::string six = std::string(c_adapter) +
                            "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB02\nbc = 3.29\n"
                            "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB03\nbc = 3.29\n";
    scenario(six);
    NicOutcome reference = run({});
    ASSERT_EQ(reference.status, 0);
    ASSERT_GT(reference.log.size(), 4096u);
    scenario(six);
    Setting fills;
    fills.logMount = "size=4k";
    o = run({}, fills);
    EXPECT_EQ(o.status, 1);
    const std::string saved = updateComplete();
    ASSERT_EQ(reference.out.substr(reference.out.size() - saved.size()), saved);
    EXPECT_EQ(without(o.out, c_unableToWrite),
              reference.out.substr(0, reference.out.size() - saved.size()) +
                  "\n\nUpdate complete, but the firmware update log is incomplete: writing to it failed. See " +
                  c_logPath + " for the part that was saved.\n");
    EXPECT_GT(count(o.out, c_unableToWrite), 0u);
    EXPECT_EQ(o.log, reference.log.substr(0, 4096));
    scenario(six);
    o = run({"-s"}, fills);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.log.size(), 4096u);
}

// A read-only current directory: the answer file cannot be made, and the run stops at once.
TEST_F(NicburnFaults, ReadOnlyCurrentDirectory) {
    Setting ro;
    ro.prepare = "mount --bind . . && mount -o remount,ro,bind . . && cd " + shellQuote(tool());
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"-v"}}) {
        NicOutcome o = run(args, ro);
        const std::string text = std::string(c_banner) + "Error! Cannot create temporary file \"q\".\n";
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, text);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.log, c_header + text);
        EXPECT_EQ(o.trace, "");
    }
}

}  // namespace
