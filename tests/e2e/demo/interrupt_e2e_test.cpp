// The demo package interrupted as an administrator's session or an orchestrator interrupts it:
// SIGINT and SIGHUP to the package's process group (Ctrl-C, a dropped session), SIGTERM to the
// launcher alone (a timeout), in each phase of a run. The package is the demo one with a slow
// unzip utility and a slow setup command, and fwsim takes a moment per adapter command. Each run
// is inside private mount and process namespaces: tmpfs on /tmp, /var/log and /run/lock.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/support/e2esupport.h"
#include "tests/support/testutil.h"

namespace {

using testutil::readFile;
using testutil::shellQuote;

const char kAdapterMac[] = "001018AABB01";

// One NetXtreme adapter with two components to update; listing and upgrade take a moment.
const char kScenario[] =
    "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 00:10:18:aa:bb:01\nbc = 3.29\nmba = 8.3.11\n"
    "fault.dir = delay 0.4\nfault.upgrade = delay 0.4\n";

struct Outcome {
    int status = -1;
    std::string out, err, log, tmp, procs, state, trace;
};

std::string lastLine(const std::string& text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n') t.pop_back();
    size_t nl = t.rfind('\n');
    return nl == std::string::npos ? t : t.substr(nl + 1);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
    }
    return out;
}

class Interrupt : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!e2e::canUnsharePid(&why)) GTEST_SKIP() << "needs private mount and process namespaces: " << why;
        // The demo package, rebuilt with a unzip utility and a setup command that say when they
        // run (in fwsim's trace) and then take a second.
        const std::string parts = dir_.file("parts");
        testutil::RunResult r = testutil::run({BIN_DIR "/mkpkg", "extract", DEMO_DIR "/nicfw_demo.bin", parts});
        ASSERT_EQ(r.status, 0) << r.err;
        testutil::writeFile(
            dir_.file("slow-unzip"),
            "#!/bin/sh\necho unzip >>\"$FWSIM_TRACE\"\nsleep 0.6\nexec " + shellQuote(parts + "/1-unzip") + " \"$@\"\n",
            0755);
        std::string bootCfg = readFile(parts + "/3-bootcfg.txt");
        const std::string setup = "chmod +x kickoff 1>/dev/null";
        size_t at = bootCfg.find(setup);
        ASSERT_NE(at, std::string::npos) << bootCfg;
        bootCfg.insert(at + setup.size(), " ; echo setup >>\"$FWSIM_TRACE\" ; sleep 0.6");
        testutil::writeFile(dir_.file("bootcfg.txt"), bootCfg);
        r = testutil::run({BIN_DIR "/mkpkg", "build", "-o", dir_.file("slow.bin"), "--image", parts + "/2-image.zip",
                           "--bootcfg", dir_.file("bootcfg.txt"), "--unzip", dir_.file("slow-unzip"), "--launcher",
                           BIN_DIR "/pkgstub"});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(mkdir(dir_.file("sim").c_str(), 0755), 0);
        testutil::writeFile(dir_.file("sim/fwsim.conf"), kScenario);
    }

    // Runs body (shell text; start runs the package, until_traced waits for a line in fwsim's
    // trace, results go to $R) in a fresh namespace, then records /tmp, the processes left, the
    // logs and fwsim's state.
    void inNamespace(const std::string& body) {
        // The launcher's working directory goes to the fresh /tmp, not to the test's TMPDIR.
        std::vector<std::string> kept;
        std::string listTmp = "ls -A /tmp";
        std::string tmpLines = testutil::freshTmpLines(
            "none", "mode=1777", {dir_.path(), res_.path(), std::string(BIN_DIR), std::string(DEMO_DIR)}, &kept);
        for (const std::string& k : kept) listTmp += " | grep -v -x -F -e " + shellQuote(k);
        std::string script =
            "set -u\nunset TMPDIR\nmount -t tmpfs none /var/log || exit 125\n" + tmpLines + e2e::privateLockLine() +
            "cd " + shellQuote(dir_.path()) + " || exit 125\n" + "R=" + shellQuote(res_.path()) +
            "\nrm -f \"$R\"/* sim/fwsim.state\n" + "export FWSIM_CONF=" + shellQuote(dir_.file("sim/fwsim.conf")) +
            " FWSIM_TRACE=\"$R/trace\"\n: >\"$R/trace\"\n" +
            // Started as from a terminal: its own session, no signal ignored; exec, so
            // that $! is the launcher.
            "start() { exec setsid env --default-signal=INT,QUIT,TERM,HUP \"$PKG\" \"$@\" </dev/null; "
            "}\nPKG=./slow.bin\n" +
            "until_traced() { n=0; until grep -q \"$1\" \"$R/trace\" || [ $n -ge 1500 ]; do sleep 0.01; "
            "n=$((n+1)); done; }\n" +
            body + listTmp +
            " >\"$R/tmp\"\n"
            "for p in /proc/[0-9]*; do [ \"${p#/proc/}\" = 1 ] || { read c <\"$p/comm\" && echo \"$c\"; }; "
            "done >\"$R/procs\" 2>/dev/null\n"
            "cp /var/log/ZAV_Support/ethflash.log \"$R/log\" 2>/dev/null\n"
            "cp /var/log/ZAV_Support/ethflash001.log \"$R/log1\" 2>/dev/null\n"
            "cp sim/fwsim.state \"$R/state\" 2>/dev/null\nexit 0\n";
        std::string err;
        ASSERT_EQ(e2e::runInPidNamespace(script, 60, &err), 0) << "the namespace script did not run through: " << err;
    }

    std::string res(const std::string& name) const { return readFile(res_.file(name)); }

    testutil::TempDir dir_;
    testutil::TempDir res_;
};

struct Phase {
    const char* name;
    const char* traced;  // the trace line that says the phase has begun
    const char* err;     // the launcher's message after "Package interrupted by signal N (NAME)"; "" for none
    bool nicburnRan;
};

const Phase kPhases[] = {
    {"unpacking", "^unzip", " while unpacking; its working directory was removed.\n", false},
    {"setup", "^setup",
     " during its setup command; its startup command was not run and its working directory was removed.\n", false},
    {"listing", " dir$", "", true},
    {"upgrade", " upgrade ", "", true},
};

struct Sig {
    int number;
    const char* name;
    const char* kill;  // how the test sends it: to the group or to the launcher alone
};

const Sig kSignals[] = {
    {2, "SIGINT", "kill -INT -$pid"}, {15, "SIGTERM", "kill -TERM $pid"}, {1, "SIGHUP", "kill -HUP -$pid"}};

TEST_F(Interrupt, EachSignalInEachPhase) {
    for (const Phase& phase : kPhases) {
        for (const Sig& sig : kSignals) {
            const std::string what = std::string(sig.name) + " while " + phase.name;
            inNamespace(std::string("start >\"$R/out\" 2>\"$R/err\" &\npid=$!\nuntil_traced '") + phase.traced + "'\n" +
                        sig.kill + "\nwait $pid\necho $? >\"$R/status\"\n");
            const std::string err = phase.err[0] == '\0'
                                        ? ""
                                        : "\nPackage interrupted by signal " + std::to_string(sig.number) + " (" +
                                              sig.name + ")" + phase.err;
            EXPECT_EQ(atoi(res("status").c_str()), 128 + sig.number) << what;
            EXPECT_EQ(res("err"), err) << what;
            EXPECT_EQ(res("tmp"), "") << what;
            EXPECT_EQ(res("procs"), "") << what;
            const std::string trace = res("trace");
            if (!phase.nicburnRan) {
                EXPECT_EQ(res("out"), "") << what;
                EXPECT_EQ(trace.find("lnxfw"), std::string::npos) << what << "\n" << trace;
                continue;
            }
            const std::string line = std::string("Update interrupted by signal ") + std::to_string(sig.number) + " (" +
                                     sig.name + "): the components not yet updated were left unchanged.";
            EXPECT_EQ(lastLine(res("log")), line) << what;
            EXPECT_EQ(lastLine(res("out")), line) << what;
            // The command in flight was the last one started.
            EXPECT_NE(lastLine(trace).find(phase.name == std::string("listing") ? " dir" : " upgrade "),
                      std::string::npos)
                << what << "\n"
                << trace;
            std::string state;
            for (const std::string& l : lines(res("state")))
                if (l.compare(0, 1, "#") != 0) state += l + "\n";
            EXPECT_EQ(state.find("WRITING"), std::string::npos) << what << "\n" << state;
            if (std::string(phase.name) == "upgrade")
                EXPECT_EQ(state, std::string("version ") + kAdapterMac + " bc 3.38\n") << what;
            else
                EXPECT_EQ(state, "") << what;
        }
    }
}

// Two runs at once: the second finds the first's lock, says who holds it, runs no utility and
// ends with 75; the first runs through undisturbed.
TEST_F(Interrupt, SecondRunAtTheSameTimeIsRefused) {
    inNamespace(
        "start >\"$R/out1\" 2>\"$R/err1\" &\npid=$!\nuntil_traced ' upgrade '\n"
        // The second run unpacks quickly: the demo package as shipped.
        "(PKG=" DEMO_DIR
        "/nicfw_demo.bin; start -v) >\"$R/out2\" 2>\"$R/err2\"\necho $? >\"$R/status2\"\n"
        "wait $pid\necho $? >\"$R/status1\"\n");
    EXPECT_EQ(res("status1"), "0\n") << res("out1") << res("err1");
    EXPECT_EQ(res("status2"), "75\n");
    const std::string refused = "ZAV Ethernet Firmware Update Tool, Version " NICBURN_VERSION
                                "\n\n"
                                "Error! Another firmware update is running (process ";
    EXPECT_EQ(res("out2").compare(0, refused.size(), refused), 0) << res("out2");
    EXPECT_EQ(res("err2"), "");
    // The second run's log holds the same lines; the first run's log is whole.
    EXPECT_EQ(res("log1"), "Broadcom Firmware Update Log.\n\n" + res("out2"));
    EXPECT_NE(res("log").find("Update complete."), std::string::npos);
    // Exactly one run's utility commands: two upgrades, one per component.
    const std::string trace = res("trace");
    size_t upgrades = 0;
    for (size_t at = trace.find(" upgrade "); at != std::string::npos; at = trace.find(" upgrade ", at + 1)) ++upgrades;
    EXPECT_EQ(upgrades, 2u) << trace;
    EXPECT_EQ(res("tmp"), "");
}

// nicburn on its own, Ctrl-C in each of its other modes: the line names what the mode changes,
// the command in flight finished, and no temporary file is left in the tool folder.
TEST_F(Interrupt, EachModeSaysWhatWasLeftUnchanged) {
    const std::string tools = dir_.file("tools");
    ASSERT_EQ(mkdir(tools.c_str(), 0755), 0);
    for (const char* name : {"nicburn", "fwsim"})
        ASSERT_EQ(symlink((std::string(BIN_DIR "/") + name).c_str(), (tools + "/" + name).c_str()), 0);
    for (const char* name : {"lnxfwupg", "lnxfwnx2"}) ASSERT_EQ(symlink("fwsim", (tools + "/" + name).c_str()), 0);
    testutil::RunResult r = testutil::run({BIN_DIR "/fwsim", "mkimage", "--component", "bc", "--version", "3.38",
                                           "--devid", "1648", "-o", tools + "/1648bc.bin"});
    ASSERT_EQ(r.status, 0) << r.err;
    testutil::writeFile(
        dir_.file("sim/fwsim.conf"),
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 00:10:18:aa:bb:01\nbc = 3.29\nipmi = 1.2.3\n"
        "fault.dir = delay 0.4\nfault.upgrade = delay 0.4\nfault.cfg = delay 0.4\nfault.crc = delay 0.4\n");
    struct {
        const char* option;
        const char* traced;
        const char* line;
        const char* state;  // fwsim's state afterwards, comments left out
    } cases[] = {
        {"-v", " dir$", "Interrupted by signal 2 (SIGINT): no firmware was changed.", ""},
        {"-crc", " crc$", "Interrupted by signal 2 (SIGINT): no firmware was changed.", ""},
        {"-nomfw", " cfg ",
         "Management firmware disabling interrupted by signal 2 (SIGINT): the components not yet disabled were left "
         "unchanged.",
         "disabled 001018AABB01 ipmi\n"},
        {"-s", " upgrade ",
         "Update interrupted by signal 2 (SIGINT): the components not yet updated were left unchanged.",
         "version 001018AABB01 bc 3.38\n"},
    };
    for (const auto& c : cases) {
        inNamespace(std::string("cd tools && setsid env --default-signal=INT ./nicburn ") + c.option +
                    " >\"$R/out\" 2>\"$R/err\" </dev/null &\npid=$!\nuntil_traced '" + c.traced +
                    "'\nkill -INT -$pid\nwait $pid\necho $? >\"$R/status\"\n");
        EXPECT_EQ(res("status"), "130\n") << c.option;
        EXPECT_EQ(lastLine(res("log")), c.line) << c.option;
        EXPECT_EQ(lastLine(res("out")), c.option == std::string("-s") ? "" : c.line) << c.option;
        std::string state;
        for (const std::string& l : lines(res("state")))
            if (!l.empty() && l[0] != '#') state += l + "\n";
        EXPECT_EQ(state, c.state) << c.option;
        EXPECT_EQ(testutil::listDir(tools),
                  (std::vector<std::string>{"1648bc.bin", "fwsim", "lnxfwnx2", "lnxfwupg", "nicburn"}))
            << c.option;
    }
}

}  // namespace
