// The real nicburn against what can happen around a root update on a shared host: files another
// user planted where the lock goes, a user's flock, a read-only /run, a lost screen (an ssh
// session without a terminal dropped) and a vendor utility that reads the terminal. Each run is
// inside private mount and process namespaces with tmpfs on /var/log and /run; the vendor
// utilities are small scripts that record each command in $R/trace.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/e2e/support/e2esupport.h"
#include "tests/e2e/support/nictexts.h"
#include "tests/support/testutil.h"

using testutil::readFile;
using testutil::shellQuote;
using namespace nictexts;

namespace {

// One NetXtreme adapter, 00AA, with boot code and PXE; no NetXtreme II adapter. "dir" and
// "upgrade" run $DIR_HOOK and $UPGRADE_HOOK (shell text) when set.
const char kUtility[] =
    "#!/bin/sh\n"
    "echo \"$(basename \"$0\") $*\" >>\"$R/trace\"\n"
    "case \"$2\" in\n"
    "dir) eval \"${DIR_HOOK:-}\"; printf '1 BootCode BC 0 0 5704-v3.29\\n5 PXE MBA v8.3.11\\n'; exit 0;;\n"
    "upgrade) echo bak >nv.bak; eval \"${UPGRADE_HOOK:-}\"; echo \"upgraded $1 $5\"; exit 0;;\n"
    "crc) read a; exit 0;;\n"
    "cfg) exit 0;;\n"
    "esac\n"
    "read a\n"
    "if [ \"$(basename \"$0\")\" = lnxfwupg ]; then printf ' C Dev MAC Address\\n--\\n1 1648 00AA eth0\\n0>\\n';\n"
    "else printf ' C Dev MAC Address\\n--\\nQuit\\n'; fi\n";

const std::string kVersions = std::string(c_banner) + noAdapters("NetXtreme II") + c_tableHead +
                              "00AA (5704)\t3.29\tNA\tNA\t8.3.11\tNA\tNA\tNA\n";

std::string lastLine(const std::string& text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n') t.pop_back();
    size_t nl = t.rfind('\n');
    return nl == std::string::npos ? t : t.substr(nl + 1);
}

class NicburnGuard : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!e2e::canUnsharePid(&why)) GTEST_SKIP() << "needs private mount and process namespaces: " << why;
        for (const std::string& p : {dir_.path(), res_.path()})
            if (p.compare(0, 9, "/var/log/") == 0 || p.compare(0, 5, "/run/") == 0)
                GTEST_SKIP() << "a tmpfs on /var/log or /run would hide " << p;
        ASSERT_EQ(mkdir(tools().c_str(), 0755), 0);
        for (const char* name : {"lnxfwupg", "lnxfwnx2"}) testutil::writeFile(tools() + "/" + name, kUtility, 0755);
        for (const char* image : {"1648bc.bin", "1648mba.bin"}) testutil::writeFile(tools() + "/" + image, "image");
    }

    std::string tools() const { return dir_.file("tools"); }

    // Runs body (shell text, in the tool folder; $NICBURN is the program, results go to $R) in
    // fresh namespaces, then keeps the run's log as $R/log.
    void inNamespace(const std::string& body) {
        std::string script = "set -u\nmount -t tmpfs none /var/log || exit 125\n" + e2e::privateLockLine() +
                             "R=" + shellQuote(res_.path()) + "\nNICBURN=" + shellQuote(testutil::binPath("nicburn")) +
                             "\nexport R NICBURN\ncd " + shellQuote(tools()) +
                             " || exit 125\nrm -f \"$R\"/*\n: >\"$R/trace\"\n" + body +
                             "\ncp /var/log/ZAV_Support/ethflash.log \"$R/log\" 2>/dev/null\nexit 0\n";
        std::string err;
        ASSERT_EQ(e2e::runInPidNamespace(script, 60, &err), 0) << "the namespace script did not run through: " << err;
    }

    std::string res(const std::string& name) const { return readFile(res_.file(name)); }

    // The tool folder holds what it held before the run: no answer, listing or save file left.
    void expectToolFolderClean(const std::string& what) const {
        EXPECT_EQ(testutil::listDir(tools()),
                  (std::vector<std::string>{"1648bc.bin", "1648mba.bin", "lnxfwnx2", "lnxfwupg"}))
            << what;
    }

    testutil::TempDir dir_;
    testutil::TempDir res_;
};

// The old lock path (/run/lock, where every user may write) is left alone: a user's link there to
// a root file is never followed. The lock is made in a folder of root's, 0700, file 0600.
TEST_F(NicburnGuard, LockLivesInAFolderOnlyRootCanWrite) {
    inNamespace(
        "echo \"root's data\" >\"$R/target\"\nln -s \"$R/target\" /run/lock/nicburn.lock\n"
        "\"$NICBURN\" -v >\"$R/out\" 2>\"$R/err\" </dev/null\necho $? >\"$R/status\"\n"
        "stat -c '%n %U %a %F' /run/nicburn /run/nicburn/nicburn.lock >\"$R/stat\"\n"
        "cat /run/nicburn/nicburn.lock >\"$R/lock\"\n");
    EXPECT_EQ(res("status"), "0\n") << res("out") << res("err");
    EXPECT_EQ(res("out"), kVersions);
    EXPECT_EQ(res("target"), "root's data\n");
    EXPECT_EQ(res("stat"), "/run/nicburn root 700 directory\n/run/nicburn/nicburn.lock root 600 regular file\n");
    EXPECT_GT(atoi(res("lock").c_str()), 0) << res("lock");
}

// Whatever stands where the lock folder should be and is not root's own refuses the run before
// any utility, naming it and what to remove; what it points to is never touched.
TEST_F(NicburnGuard, PlantedLockFolderRefusesTheRun) {
    const struct {
        const char* what;
        const char* plant;
        const char* is;
    } cases[] = {
        {"link to a user's folder", "mkdir \"$R/mine\" && chown 65534 \"$R/mine\" && ln -s \"$R/mine\" /run/nicburn",
         "a symbolic link"},
        {"link to a root file", "ln -s \"$R/target\" /run/nicburn", "a symbolic link"},
        {"folder of another user", "mkdir /run/nicburn && chown 65534 /run/nicburn", "a folder of user 65534"},
        {"file", "echo planted >/run/nicburn", "a file"},
    };
    for (const auto& c : cases) {
        inNamespace(std::string("echo \"root's data\" >\"$R/target\"\n") + c.plant +
                    " || exit 125\n\"$NICBURN\" -v >\"$R/out\" 2>\"$R/err\" </dev/null\necho $? >\"$R/status\"\n");
        EXPECT_EQ(res("status"), "1\n") << c.what;
        EXPECT_EQ(res("out"), std::string(c_banner) + "Error! Cannot take the firmware update lock: /run/nicburn is " +
                                  c.is +
                                  ", not a folder of root's own; remove it (rm -r /run/nicburn) and run again.\n")
            << c.what;
        EXPECT_EQ(res("log"), c_header + res("out")) << c.what;
        EXPECT_EQ(res("trace"), "") << c.what << ": a utility ran";
        EXPECT_EQ(res("target"), "root's data\n") << c.what;
        expectToolFolderClean(c.what);
    }
}

// A user who holds a flock on the old path, and tries the new one, holds no update back.
TEST_F(NicburnGuard, AUsersFlockHoldsNoUpdateBack) {
    inNamespace(
        "setpriv --reuid=65534 --regid=65534 --clear-groups flock -n /run/lock/nicburn.lock sh -c 'echo held; exec "
        "sleep 30'"
        " >/run/lock/held 2>&1 &\n"
        "n=0; until grep -q held /run/lock/held || [ $n -ge 500 ]; do sleep 0.01; n=$((n+1)); done\n"
        "setpriv --reuid=65534 --regid=65534 --clear-groups flock -n /run/nicburn/nicburn.lock true 2>/dev/null\n"
        "echo $? >\"$R/user\"\n"
        "\"$NICBURN\" -v >\"$R/out\" 2>\"$R/err\" </dev/null\necho $? >\"$R/status\"\n"
        "setpriv --reuid=65534 --regid=65534 --clear-groups flock -n /run/nicburn/nicburn.lock true 2>\"$R/user-err\"\n"
        "echo $? >>\"$R/user\"\n");
    EXPECT_EQ(res("status"), "0\n") << res("out");
    EXPECT_EQ(res("out"), kVersions);
    // flock(1) exits 66 when it cannot open the file: before the run there is no folder, after it
    // the folder is root's alone.
    EXPECT_EQ(res("user"), "66\n66\n");
    EXPECT_EQ(res("user-err"), "flock: cannot open lock file /run/nicburn/nicburn.lock: Permission denied\n");
}

// Only a system with no place for a lock at all (a read-only or full /run) runs with a warning.
TEST_F(NicburnGuard, RunWithoutRoomForALockIsWarnedAboutAndGoesOn) {
    const struct {
        const char* what;
        const char* prepare;
    } cases[] = {
        {"Read-only file system", "mount -o remount,ro /run"},
        {"No space left on device", "mount -t tmpfs -o nr_inodes=2 none /run && : >/run/filler"},
    };
    for (const auto& c : cases) {
        inNamespace(std::string(c.prepare) +
                    " || exit 125\n"
                    "\"$NICBURN\" -v >\"$R/out\" 2>\"$R/err\" </dev/null\necho $? >\"$R/status\"\n");
        EXPECT_EQ(res("status"), "0\n") << c.what;
        EXPECT_EQ(res("out"), std::string(c_banner) +
                                  "\nWarning. Cannot take the firmware update lock (cannot make "
                                  "/run/nicburn: " +
                                  c.what + "); another update could run at the same time.\n" +
                                  noAdapters("NetXtreme II") + c_tableHead +
                                  "00AA (5704)\t3.29\tNA\tNA\t8.3.11\tNA\tNA\tNA\n")
            << c.what;
    }
}

// The screen is a pipe (ssh without a terminal) whose reader goes away while the first upgrade
// runs. The utility, which then writes to the lost screen, is not killed; nicburn notes SIGPIPE,
// starts nothing more, logs the interrupt line and ends with 141.
TEST_F(NicburnGuard, LostScreenEndsTheRunBetweenTwoComponents) {
    inNamespace(
        "mkfifo \"$R/screen\"\n"
        "export UPGRADE_HOOK='until [ -f \"$R/closed\" ]; do sleep 0.02; done; echo note >&2; "
        "echo \"finished $5\" >>\"$R/after\"'\n"
        "\"$NICBURN\" >\"$R/screen\" 2>&1 </dev/null &\npid=$!\n"
        "exec 3<\"$R/screen\"\n"
        "n=0; until grep -q ' upgrade ' \"$R/trace\" || [ $n -ge 1000 ]; do sleep 0.01; n=$((n+1)); done\n"
        "exec 3<&-\n: >\"$R/closed\"\nwait $pid\necho $? >\"$R/status\"\n");
    EXPECT_EQ(res("status"), "141\n");
    EXPECT_EQ(lastLine(res("log")),
              "Update interrupted by signal 13 (SIGPIPE): the components not yet updated were left unchanged.")
        << res("log");
    EXPECT_EQ(res("after"), "finished -bc\n") << "the utility in flight was cut short";
    EXPECT_NE(res("log").find("upgraded 00AA -bc\n*** Update successful ***\n"), std::string::npos) << res("log");
    EXPECT_EQ(res("trace"),
              "lnxfwupg \nlnxfwupg 00AA dir\nlnxfwnx2 \nlnxfwupg 00AA crc\n"
              "lnxfwupg 00AA upgrade -noreset -F -bc 1648bc.bin nv.bak\n");
    expectToolFolderClean("lost screen");
}

// The end of what tests/e2e/support/ptyrun.py printed: "status N" or "hung".
std::string endOf(const std::string& screen) { return lastLine(screen); }

std::string ptyrun(const std::string& mode) {
    return "/usr/bin/python3 " + shellQuote(testutil::sourcePath("tests/e2e/support/ptyrun.py")) + " " + mode + " 25 ";
}

// A utility that asks on the terminal. In the terminal's foreground it gets the answer, and a
// Ctrl-C meanwhile is noted by nicburn alone: the command finishes, nothing more starts.
TEST_F(NicburnGuard, UtilityReadingTheTerminalIsAnswered) {
    inNamespace("export DIR_HOOK='printf \"Proceed? \" >&2; read answer; echo \"$answer\" >>\"$R/answers\"'\n" +
                ptyrun("fg") + "'Proceed? ' 'yes\\n' -- \"$NICBURN\" -v >\"$R/screen1\"\n" + ptyrun("fg") +
                "'Proceed? ' '\\x03' '' 'no\\n' -- \"$NICBURN\" -v >\"$R/screen2\"\n");
    EXPECT_EQ(endOf(res("screen1")), "status 0") << res("screen1");
    EXPECT_NE(res("screen1").find("00AA (5704)\t3.29\tNA\tNA\t8.3.11\tNA\tNA\tNA"), std::string::npos)
        << res("screen1");
    EXPECT_EQ(endOf(res("screen2")), "status 130") << res("screen2");
    EXPECT_NE(res("screen2").find("Interrupted by signal 2 (SIGINT): no firmware was changed.\r\n"), std::string::npos)
        << res("screen2");
    EXPECT_EQ(res("answers"), "yes\nno\n");
    expectToolFolderClean("terminal");
}

// Started in the background of its terminal, the utility's question stops the whole job, as
// for any job (ptyrun says so, as a shell would), and once the job is brought to the foreground
// the answer reaches it.
TEST_F(NicburnGuard, UtilityInTheBackgroundStopsTheJobWhichGoesOnInTheForeground) {
    inNamespace("export DIR_HOOK='printf \"Proceed? \" >&2; read answer; echo \"$answer\" >>\"$R/answers\"'\n" +
                ptyrun("bg") + "'Proceed? ' 'yes\\n' -- \"$NICBURN\" -v >\"$R/screen\"\n");
    EXPECT_EQ(endOf(res("screen")), "status 0") << res("screen");
    EXPECT_NE(res("screen").find("[ptyrun: the job stopped]"), std::string::npos) << res("screen");
    EXPECT_EQ(res("screen").find("Warning. The vendor command"), std::string::npos) << "stopped and continued with it";
    EXPECT_EQ(res("answers"), "yes\n");
    expectToolFolderClean("background");
}

// Without the terminal on its standard streams nicburn gives each command a process group of
// its own; a utility that opens the terminal itself is then stopped alone, and nicburn says so
// on standard error instead of waiting silently (here the utility is then killed, which fails
// its listing, and the run ends).
TEST_F(NicburnGuard, UtilityStoppedAloneIsReported) {
    inNamespace("export DIR_HOOK='read answer </dev/tty'\n" + ptyrun("fg") +
                "-- /bin/sh -c 'exec \"$NICBURN\" -v </dev/null >\"$R/out\" 2>\"$R/err\"' >\"$R/screen\" &\n"
                "n=0; until grep -q 'was stopped by signal' \"$R/err\" 2>/dev/null || [ $n -ge 1000 ]; do sleep 0.02; "
                "n=$((n+1)); done\n"
                "kill -KILL -\"$(sed -n 's/.*(process \\([0-9]*\\)).*/\\1/p' \"$R/err\")\"\nwait\n");
    EXPECT_EQ(endOf(res("screen")), "status 0") << res("screen") << res("err");
    EXPECT_TRUE(
        std::regex_search(res("err"), std::regex("^\nWarning. The vendor command in flight \\(process [0-9]+\\) "
                                                 "was stopped by signal 21 \\(SIGTTIN\\): it tried to use the "
                                                 "terminal from the background. The run waits until it goes on "
                                                 "\\(kill -CONT [0-9]+\\) or ends. Command: \\./lnxfwupg 00AA dir "
                                                 ">00AA\n")))
        << res("err");
    expectToolFolderClean("stopped alone");
}

}  // namespace
