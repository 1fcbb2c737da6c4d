// The launcher end to end: packages built by the real mkpkg around the real pkgstub and
// /usr/bin/miniunzip, run as a user runs them. Every run happens inside `unshare -m` with a tmpfs
// on /tmp (the launcher's working directories) and an overlay on /etc that shows exactly the
// release files a test chooses, so nothing touches the machine's own /tmp or /etc and nothing
// depends on what they hold. A fake `uname` first in PATH fixes the kernel text and processor.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <regex>

#include <gtest/gtest.h>

#include "tests/e2e/support/e2esupport.h"
#include "tests/tools/mkpkg/pkgfixture.h"
#include "tests/support/testutil.h"
#include "tests/e2e/support/launchertexts.h"

using testutil::shellQuote;
using testutil::TempDir;

namespace {

// The package's wrapper program stand-in: runs the shell lines of the configuration the boot
// configuration copied to kickoff.cfg.
const char* const kKickoff =
    "#!/bin/sh\n"
    "# Runs what its configuration says, with the arguments it was given.\n"
    ". ./kickoff.cfg\n";

const char* const kKernel = "6.1.0-e2e";
const char* const kPackageName = "pkgname";

struct PkgRun {
    int status = -1;
    std::string out;
    std::string err;       // without the fixture's own last line
    std::string tmpAfter;  // what the private /tmp holds after the run, names blank-separated
};

using Step = testutil::Reply;

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

uint32_t readLe32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(b)]);
    return v;
}

std::string le32(uint32_t v) {
    std::string s;
    for (int b = 0; b < 4; ++b) s += static_cast<char>((v >> (8 * b)) & 0xff);
    return s;
}

std::string directory(uint32_t s0, uint32_t s1, uint32_t s2, uint32_t s3) {
    return le32(s0) + le32(s1) + le32(s2) + le32(s3);
}

// The launcher's debug lines for the shipped boot configuration, from the clause count to the
// composed command.
// The text with every digest value as XXXXXXXX (each build has its own).
std::string anyDigest(const std::string& text) {
    return std::regex_replace(text, std::regex("crc32 [0-9a-f]{8}"), "crc32 XXXXXXXX");
}

std::string shippedDebugLines(const std::string& command) {
    return "++   # of per-os-class cfg clauses = 1\n"
           "++     os-class cfg clause:'*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg'\n"
           "++     <UP #> = '0'\n"
           "++     processor = '*'\n"
           "++   per-os-class cfg[0] (GOOD) = '*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg'\n"
           "++ Final startup cfg file found: 'Linux_verAny_UP0_xAny.wrapcfg'\n"
           "++ Copying 'Linux_verAny_UP0_xAny.wrapcfg' to './image/kickoff.cfg'...\n"
           "++ Changing dir to './image'...\n"
           "++ Executing '/bin/cp kickoff.cfg kickoff64.cfg 1>/dev/null ; /bin/cp ../kickoff kickoff 1>/dev/null ; "
           "chmod +x kickoff 1>/dev/null' prior startup...\n"
           "++   startupCmd  = './kickoff'\n"
           "++   defaultArgs = ''\n"
           "++   argsControl = 'override <defaultArgs> with <userArgs>'\n"
           "++   startupCmd  = '" +
           command + "'\n";
}

class LauncherE2E : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_MOUNT_NAMESPACE();
        std::string why;
        if (!e2e::canOverlayEtc(&why)) GTEST_SKIP() << "needs an overlay mount on /etc inside unshare -m: " << why;
        mkdir(runDir().c_str(), 0755);
    }

    std::string bin() const { return host_.bin(); }
    std::string runDir() const { return dir_.file("run"); }
    std::string pkg() const { return runDir() + "/" + kPackageName; }

    void setUname(const std::string& machine) { host_.setUname(kKernel, machine); }
    void setRelease(const std::string& name, const char* text) { host_.setRelease(name, text); }

    // Builds the package from a fresh content folder: kickoff, the clause file (kickoff.cfg to
    // be) with cfg, image/, and extra files; the boot configuration; more mkpkg options.
    void build(const std::string& cfg, const std::string& bootcfg = pkgfixture::shippedBootCfg(),
               const std::vector<std::string>& options = {},
               const std::map<std::string, std::string>& extraFiles = {}) {
        std::string content = dir_.file("content" + std::to_string(++builds_));
        pkgfixture::writeContent(content, kKickoff, cfg);
        for (const auto& f : extraFiles) testutil::writeFile(content + "/" + f.first, f.second);
        std::string cfgPath = content + ".bootcfg";
        testutil::writeFile(cfgPath, bootcfg);
        std::vector<std::string> args{"build", "-o", pkg(), "--content", content, "--bootcfg", cfgPath};
        if (std::find(options.begin(), options.end(), "--unzip") == options.end())
            args.insert(args.end(), {"--unzip", "/usr/bin/miniunzip"});
        args.insert(args.end(), options.begin(), options.end());
        testutil::RunResult r = pkgfixture::mkpkg(args);
        ASSERT_EQ(r.status, 0) << "mkpkg: " << r.err;
    }

    // Runs runLine in the package folder inside the namespace, then epilogue, then lists /tmp.
    PkgRun runScript(const std::string& runLine, const std::string& input = "", const std::vector<Step>& steps = {},
                     const std::string& epilogue = "") {
        std::vector<std::string> kept;
        std::string tmpLines =
            testutil::freshTmpLines("zav_e2e_tmp", "mode=1777", {dir_.path(), testutil::binPath("pkgstub")}, &kept);
        std::string listTmp = "ls -A /tmp";
        for (const std::string& k : kept) listTmp += " | grep -v -x -F -e " + shellQuote(k);
        std::string script = "cd " + shellQuote(runDir()) + " || exit 125\n" + host_.mountEtcLine() + tmpLines +
                             runLine + "\nrc=$?\n" + epilogue + "\nprintf '@@e2e-tmp:%s\\n' \"$(" + listTmp +
                             " | tr '\\n' ' ')\" >&2\nexit $rc\n";
        std::vector<std::string> argv{"unshare", "-m", "/bin/sh", "-c", script};
        std::vector<std::pair<std::string, std::string>> env = host_.env();
        testutil::RunOptions opts;
        opts.env = env;
        opts.input = input;
        opts.unsetEnv = {"TMPDIR"};  // the launcher works in /tmp unless a case sets TMPDIR
        opts.replies = steps;
        opts.timeoutSeconds = 60;
        testutil::RunResult r = testutil::run(argv, opts);
        PkgRun run;
        run.status = r.status;
        run.out = r.out;
        size_t mark = r.err.rfind("@@e2e-tmp:");
        if (r.status == 125 || mark == std::string::npos) {
            ADD_FAILURE() << "the namespace script did not run through (status " << r.status << "): " << r.err;
            run.err = r.err;
            return run;
        }
        run.err = r.err.substr(0, mark);
        run.tmpAfter = r.err.substr(mark + 10);
        while (!run.tmpAfter.empty() && (run.tmpAfter.back() == '\n' || run.tmpAfter.back() == ' '))
            run.tmpAfter.pop_back();
        return run;
    }

    PkgRun run(const std::vector<std::string>& args, const std::string& input = "") {
        std::string line = std::string("./") + kPackageName;
        for (const std::string& a : args) line += " " + shellQuote(a);
        return runScript(line, input);
    }

    TempDir dir_;
    e2e::HostView host_{dir_.path()};
    int builds_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Exit status, arguments, output

TEST_F(LauncherE2E, ExitStatusIsTheStartupCommands) {
    const std::string execBootCfg =
        "1\n*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg\n./image/kickoff.cfg\n./image\n"
        "/bin/cp ../kickoff kickoff\nexec ./kickoff\n\noverride\n";
    struct Case {
        const char* name;
        const char* cfg;
        std::string bootcfg;
        int status;
        const char* out;
        const char* err;
    };
    const Case cases[] = {
        {"exit 0", "echo \"kickoff $*\"\nexit 0\n", pkgfixture::shippedBootCfg(), 0, "kickoff a\n", ""},
        {"exit 7", "echo \"kickoff $*\"\nexit 7\n", pkgfixture::shippedBootCfg(), 7, "kickoff a\n", ""},
        {"exit 1", "exit 1\n", pkgfixture::shippedBootCfg(), 1, "", ""},
        // Killed by a signal: never success, but what a shell reports, 128 + 9. The shell that
        // runs the command says so itself; with `exec` the launcher sees the signal directly.
        {"killed", "echo before\nkill -KILL $$\n", pkgfixture::shippedBootCfg(), 137, "before\n", "Killed\n"},
        {"killed, shell replaced", "echo before\nkill -KILL $$\n", execBootCfg, 137, "before\n", ""},
    };
    for (const Case& c : cases) {
        ASSERT_NO_FATAL_FAILURE(build(c.cfg, c.bootcfg));
        PkgRun r = run({"a"});
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.tmpAfter, "") << c.name << ": working directory left behind";
    }
}

// The product's own 12-line boot configuration: clause file copied to image/kickoff.cfg, setup
// line run in image/, kickoff started there with the user's arguments split by the shell.
TEST_F(LauncherE2E, ShippedBootConfigurationRunsKickoffInTheImageFolder) {
    std::string shipped = pkgfixture::shippedBootCfg();
    ASSERT_EQ(std::count(shipped.begin(), shipped.end(), '\n'), 12);
    ASSERT_NO_FATAL_FAILURE(build("echo \"args $#: $*\"\necho \"in ${PWD##*/}\"\nls\n"));
    PkgRun r = run({"a", "b c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "args 3: a b c\nin image\nkickoff\nkickoff.cfg\nkickoff64.cfg\nreadme.txt\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.tmpAfter, "");
}

// Without ++debug as the first argument the launcher prints nothing of its own, and ++debug=0
// and friends reach the startup command as ordinary arguments.
TEST_F(LauncherE2E, WithoutDebugOnlyThePackageSpeaks) {
    ASSERT_NO_FATAL_FAILURE(build("echo \"args $#: $*\"\n"));
    struct Case {
        std::vector<std::string> args;
        const char* out;
    };
    const Case cases[] = {
        {{}, "args 0: \n"},
        {{"++debug=0"}, "args 1: ++debug=0\n"},
        {{"++debug=-1", "x"}, "args 2: ++debug=-1 x\n"},
        {{"++debug=abc"}, "args 1: ++debug=abc\n"},
        {{"x", "++debug"}, "args 2: x ++debug\n"},
    };
    for (const Case& c : cases) {
        PkgRun r = run(c.args);
        EXPECT_EQ(r.status, 0) << c.out;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "") << c.out;
        EXPECT_EQ(r.tmpAfter, "") << c.out;
    }
}

TEST_F(LauncherE2E, DebugLinesInOrder) {
    ASSERT_NO_FATAL_FAILURE(build("echo \"kickoff $*\"\nexit 3\n"));
    PkgRun r = run({"++debug", "A"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(anyDigest(r.out), std::string(launchertexts::c_debugLevel1) +
                                    "++ uname -r --> '6.1.0-e2e'\n"
                                    "++ uname -i --> 'x86_64'\n"
                                    "++ Package digest crc32 XXXXXXXX holds.\n" +
                                    launchertexts::c_extractingBootCfg + launchertexts::c_extractingImage +
                                    launchertexts::c_extractingUnzip + launchertexts::c_unzippingImage +
                                    launchertexts::c_processingBootCfg + shippedDebugLines("./kickoff A") +
                                    "++ Executing package (command: './kickoff A')...\n"
                                    "kickoff A\n"
                                    "++ Package completed with exit code '3'.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.tmpAfter, "");
}

// ++debug=3: the boot configuration copy on disk and three interactive shells, each in the
// directory of its moment; every shell here is fed one line only after its prompt appeared. The
// first one also shows the modes: a private working directory, nothing world-writable.
TEST_F(LauncherE2E, DebugLevel3OpensThreeShellsInOrder) {
    ASSERT_NO_FATAL_FAILURE(build("echo \"kickoff $*\"\n"));
    const std::string tail = " ...Type 'exit' to resume...\n\n";
    PkgRun r = runScript(std::string("./") + kPackageName + " ++debug=3", "",
                         {{"++ About to unzipp 'package image'." + tail,
                           "pwd; ls; stat -c '%a %n' . image.zip imgboot.cfg miniunz; exit\n"},
                          {"++ About to execute './kickoff'." + tail, "pwd; exit\n"},
                          {"++ Last chance to examine the package." + tail, "pwd; exit\n"}});
    EXPECT_EQ(r.status, 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("/tmp/zav_rq_pkg_[0-9a-f]{8}"))) << r.out;
    const std::string wrk = m.str();
    EXPECT_EQ(anyDigest(r.out),
              "++ Running in debug mode (level=3).\n"
              "++ uname -r --> '6.1.0-e2e'\n"
              "++ uname -i --> 'x86_64'\n"
              "++ Package digest crc32 XXXXXXXX holds.\n"
              "++ Extracting 'package boot config'...\n"
              "Extracting 'package image'...\n"
              "++ Extracting 'unzip utility'...\n"
              "\n++ About to unzipp 'package image'." +
                  tail + wrk +
                  "\nimage.zip\nimgboot.cfg\nminiunz\n700 .\n755 image.zip\n200 imgboot.cfg\n755 miniunz\n"
                  "\n"
                  "++ Unzipping 'package image'...\n"
                  "++ Processing 'package boot config'...\n" +
                  shippedDebugLines("./kickoff") + "\n++ About to execute './kickoff'." + tail + wrk +
                  "/image\n"
                  "\n"
                  "++ Executing package (command: './kickoff')...\n"
                  "kickoff \n"
                  "++ Package completed with exit code '0'.\n"
                  "\n++ Last chance to examine the package." +
                  tail + wrk +
                  "/image\n"
                  "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.tmpAfter, "");
}

// All the input at once: the first shell reads it all, the later ones see its end; the three
// prompts still come, in order, and the run completes.
TEST_F(LauncherE2E, DebugLevel3WithExitsFedAtOnce) {
    ASSERT_NO_FATAL_FAILURE(build("echo kickoff\n"));
    PkgRun r = run({"++debug=3"}, "exit\nexit\nexit\n");
    EXPECT_EQ(r.status, 0);
    size_t a = r.out.find("++ About to unzipp 'package image'. ...Type 'exit' to resume...");
    size_t b = r.out.find("++ About to execute './kickoff'. ...Type 'exit' to resume...");
    size_t k = r.out.find("kickoff\n");
    size_t c = r.out.find("++ Last chance to examine the package. ...Type 'exit' to resume...");
    ASSERT_NE(a, std::string::npos) << r.out;
    EXPECT_TRUE(a < b && b < k && k < c && c != std::string::npos) << r.out;
    EXPECT_EQ(r.tmpAfter, "");
}

TEST_F(LauncherE2E, SystemFactsReachTheStartupCommand) {
    setRelease("redhat-release", "Red Hat Enterprise Linux AS release 4 (Nahant Update 4)\n");
    ASSERT_NO_FATAL_FAILURE(
        build("env | grep '^ZAV_RQ_PKG_' | sort\ncase \"$PWD\" in /tmp/zav_rq_pkg_*/image) echo in-wrkdir;; esac\n"));
    PkgRun r = run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "ZAV_RQ_PKG_LINUX_DISTRO_LEVEL=4\n"
              "ZAV_RQ_PKG_LINUX_DISTRO_NAME=RedHat\n"
              "ZAV_RQ_PKG_LINUX_KERNEL_LEVEL=6.1.0-e2e\n"
              "ZAV_RQ_PKG_LINUX_PROCESSOR=x86_64\n"
              "ZAV_RQ_PKG_LINUX_UPDATE_LEVEL=4\n"
              "ZAV_RQ_PKG_ORIG_CURR_DIR=" +
                  realPath(runDir()) +
                  "\n"
                  "in-wrkdir\n");
    EXPECT_EQ(r.tmpAfter, "");
}

// A launcher started with standard input closed opens its own file as descriptor 0.
TEST_F(LauncherE2E, RunsWithStandardInputClosed) {
    ASSERT_NO_FATAL_FAILURE(build("echo \"kickoff $*\"\n"));
    PkgRun r = runScript(std::string("./") + kPackageName + " x <&-");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "kickoff x\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.tmpAfter, "");
}

// ---------------------------------------------------------------------------------------------
// Working directory

// Something already at the first candidate name (the process id in eight hex digits): the
// launcher takes the next number and leaves the object as it was. The package is started by
// `exec` from a shell that made the object under its own process id, which the launcher keeps.
TEST_F(LauncherE2E, ExistingObjectAtTheFirstCandidateIsLeftAlone) {
    ASSERT_NO_FATAL_FAILURE(build("echo \"running in ${PWD#/tmp/}\"\n"));
    struct Case {
        const char* name;
        const char* make;  // shell lines; $W is the first candidate
        const char* kind;
    };
    const Case cases[] = {
        {"directory", "mkdir \"$W\" && echo mine > \"$W/keep\"", "dir"},
        {"file", "echo mine > \"$W\"", "file"},
    };
    const std::string epilogue =
        "for f in /tmp/zav_rq_pkg_*; do if [ -d \"$f\" ]; then echo \"dir ${f#/tmp/} holds $(cat \"$f/keep\")\"; "
        "else echo \"file ${f#/tmp/} holds $(cat \"$f\")\"; fi; done";
    for (const Case& c : cases) {
        std::string inner =
            std::string("W=/tmp/zav_rq_pkg_$(printf %08x $$); ") + c.make + " && exec ./" + kPackageName;
        PkgRun r = runScript("/bin/sh -c " + shellQuote(inner), "", {}, epilogue);
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, std::regex("running in zav_rq_pkg_([0-9a-f]{8})/image\n"))) << r.out;
        unsigned used = static_cast<unsigned>(std::stoul(m[1].str(), nullptr, 16));
        char first[32];
        snprintf(first, sizeof(first), "zav_rq_pkg_%08x", used - 1);
        EXPECT_EQ(r.out, m.str() + c.kind + " " + first + " holds mine\n") << c.name;
        EXPECT_EQ(r.tmpAfter, first) << c.name;
        EXPECT_EQ(r.err, "") << c.name;
    }
}

// TMPDIR, when it names an existing directory by an absolute path, holds the working directory
// and the uname capture files; a noexec file system there stops the run before unpacking.
TEST_F(LauncherE2E, WorkingDirectoryFollowsTmpdirAndRefusesNoexec) {
    ASSERT_NO_FATAL_FAILURE(build("echo \"running in $PWD\"\n"));
    const std::string alt = "mkdir /tmp/alt && mount -t tmpfs zav_e2e_alt /tmp/alt || exit 125\n";
    const std::string noexec = "mount -o remount,noexec /tmp || exit 125\n";
    const std::string refused =
        "Failed creating installation directory: /tmp is on a file system mounted noexec, "
        "where the package cannot run its programs; set TMPDIR to a directory that allows "
        "them.\n";
    struct Case {
        const char* name;
        std::string runLine;
        int status;
        const char* ranIn;  // the working directory's parent, "" when nothing ran
        std::string err;
        const char* tmpAfter;
    };
    const Case cases[] = {
        {"TMPDIR unset", "./pkgname", 0, "/tmp", "", ""},
        {"TMPDIR elsewhere", alt + "TMPDIR=/tmp/alt ./pkgname", 0, "/tmp/alt", "", "alt"},
        {"TMPDIR relative", alt + "TMPDIR=alt ./pkgname", 0, "/tmp",
         "Warning: TMPDIR 'alt' is not an absolute path; using /tmp instead.\n", "alt"},
        {"TMPDIR missing", "TMPDIR=/nonexistent ./pkgname", 0, "/tmp",
         "Warning: TMPDIR '/nonexistent' is not an existing folder; using /tmp instead.\n", ""},
        {"/tmp noexec", noexec + "./pkgname", 1, "", refused, ""},
        {"/tmp noexec, TMPDIR elsewhere", noexec + alt + "TMPDIR=/tmp/alt ./pkgname", 0, "/tmp/alt", "", "alt"},
    };
    for (const Case& c : cases) {
        PkgRun r = runScript(c.runLine, "", {}, "ls -A /tmp/alt 2>/dev/null");
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.tmpAfter, c.tmpAfter) << c.name;
        if (*c.ranIn) {
            EXPECT_TRUE(std::regex_match(
                r.out, std::regex(std::string("running in ") + c.ranIn + "/zav_rq_pkg_[0-9a-f]{8}/image\n")))
                << c.name << ": " << r.out;
        } else {
            EXPECT_EQ(r.out, "") << c.name;
        }
    }
}

// A debug run with both streams captured together keeps the order in which things happened.
TEST_F(LauncherE2E, CapturedDebugRunKeepsTheOrderOfBothStreams) {
    ASSERT_NO_FATAL_FAILURE(build("echo ran\n"));
    PkgRun r = runScript("mount -o remount,noexec /tmp || exit 125\n./pkgname ++debug 2>&1");
    EXPECT_EQ(r.status, 1);
    const std::string refused = "Failed creating installation directory: /tmp is on a file system mounted noexec";
    const size_t at = r.out.find(refused);
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(launchertexts::c_debugLevel1), 0u) << r.out;
    EXPECT_NE(r.out.rfind(launchertexts::c_extractingBootCfg, at), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 41), "++ Package completed with exit code '1'.\n") << r.out;
}

// ---------------------------------------------------------------------------------------------
// Damaged packages

TEST_F(LauncherE2E, DamagedPackagesFailWithTheirMessages) {
    ASSERT_NO_FATAL_FAILURE(build("echo ran\n"));
    const std::string good = testutil::readFile(pkg());
    const size_t d = good.size() - 16;
    const uint32_t s0 = readLe32(good, d), s1 = readLe32(good, d + 4), s2 = readLe32(good, d + 8),
                   s3 = readLe32(good, d + 12);
    const std::string body = good.substr(0, d);
    // Without its digest record, so that the unzip utility meets the damage.
    std::string corruptZip = pkgfixture::withoutDigest(good);
    size_t eocd = corruptZip.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(eocd, std::string::npos);
    corruptZip[eocd + 3] = 0x07;

    using launchertexts::incomplete;
    struct Case {
        const char* name;
        std::string bytes;
        std::string err;
    };
    const Case cases[] = {
        // Cut after the first 16 bytes of the boot configuration: those bytes, "; <per-os-class ",
        // are read as the directory, and do not add up to the file.
        {"truncated", good.substr(0, s0 + s1 + s2 + 16), incomplete(6111114116ull, s0 + s1 + s2 + 16)},
        {"sizes past the end of the file", body + directory(s0, s1, s2 + 1000, s3),
         incomplete(good.size() + 1000, good.size())},
        {"cut inside the image", good.substr(0, s0 + s1 + s2 / 2) + directory(s0, s1, s2, 0),
         incomplete(s0 + s1 + s2 + 16, s0 + s1 + s2 / 2 + 16)},
        {"element of 2 GiB", body + directory(s0, s1, 0x80000000u, s3),
         incomplete(16ull + s0 + s1 + 0x80000000u + s3, good.size())},
        {"corrupt zip", corruptZip, ""},
    };
    for (const Case& c : cases) {
        testutil::writeFile(pkg(), c.bytes, 0755);
        PkgRun r = run({});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.tmpAfter, "") << c.name << ": working directory left behind";
    }
}

// An unzip utility that dies by a signal fails the run; nothing of the package runs.
TEST_F(LauncherE2E, CrashedUnzipFailsTheRun) {
    testutil::writeFile(dir_.file("crashing-unzip"), "#!/bin/sh\nkill -SEGV $$\n", 0755);
    ASSERT_NO_FATAL_FAILURE(
        build("echo ran\n", pkgfixture::shippedBootCfg(), {"--unzip", dir_.file("crashing-unzip")}));
    PkgRun r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.tmpAfter, "");
}

// Started through a search of PATH, argv[0] is a bare name: the launcher opens its own program
// file instead (once it stopped with "Failed opening file pkgname").
TEST_F(LauncherE2E, ArgvZeroFoundThroughPathRuns) {
    ASSERT_NO_FATAL_FAILURE(build("echo ran\n"));
    PkgRun r = runScript("cd / && PATH=" + shellQuote(runDir()) + ":$PATH " + kPackageName);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ran\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.tmpAfter, "");
}

// ---------------------------------------------------------------------------------------------
// System identification

// uname -i says ppc64: the directory is read byte-swapped, the unzip utility is not written and
// the system's /usr/bin/unzip unpacks the image.
TEST_F(LauncherE2E, Ppc64PackageUsesSwappedDirectoryAndSystemUnzip) {
    setUname("ppc64");
    // This little-endian launcher only plays a ppc64 system, where it swaps the words it reads:
    // mkpkg rightly refuses --big-endian for it, so the test forces it.
    ASSERT_NO_FATAL_FAILURE(build("echo \"cpu $ZAV_RQ_PKG_LINUX_PROCESSOR\"\nls ..\n", pkgfixture::shippedBootCfg(),
                                  {"--big-endian", "--force"}));
    PkgRun r = run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "cpu ppc64\nLinux_verAny_UP0_xAny.wrapcfg\nimage\nimage.zip\nkickoff\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.tmpAfter, "");

    // The same package with a little-endian directory does not read on ppc64.
    ASSERT_NO_FATAL_FAILURE(build("echo ran\n"));
    r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
    EXPECT_EQ(r.tmpAfter, "");
}

// A uname that fails: kernel and processor "Unknown", and its output file is gone from /tmp.
TEST_F(LauncherE2E, FailingUnameGivesUnknownAndLeavesNothing) {
    testutil::writeFile(bin() + "/uname", "#!/bin/sh\necho half\nexit 1\n", 0755);
    ASSERT_NO_FATAL_FAILURE(build("echo \"$ZAV_RQ_PKG_LINUX_KERNEL_LEVEL $ZAV_RQ_PKG_LINUX_PROCESSOR\"\n"));
    PkgRun r = run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Unknown Unknown\n");
    EXPECT_EQ(r.tmpAfter, "");
}

TEST_F(LauncherE2E, ReleaseFilesGiveDistributionAndLevels) {
    ASSERT_NO_FATAL_FAILURE(
        build("echo \"$ZAV_RQ_PKG_LINUX_DISTRO_NAME $ZAV_RQ_PKG_LINUX_DISTRO_LEVEL "
              "$ZAV_RQ_PKG_LINUX_UPDATE_LEVEL\"\n"));
    struct Case {
        const char* redhat;
        const char* suse;
        const char* out;
    };
    const Case cases[] = {
        {"Red Hat Enterprise Linux Server release 5.2 (Tikanga)\n", nullptr, "RedHat 5 2\n"},
        {"Red Hat Enterprise Linux AS release 4 (Nahant Update 4)\n", nullptr, "RedHat 4 4\n"},
        {"Red Hat Enterprise Linux ES release 3 (Taroon)\n", nullptr, "RedHat 3 0\n"},
        {nullptr, "SUSE Linux Enterprise Server 10 (x86_64)\nVERSION = 10\nPATCHLEVEL = 1\n", "SuSE 10 0\n"},
        {nullptr, "SUSE LINUX 10.1 (i586)\nVERSION = 10.1\n", "SuSE 10 1\n"},
        {nullptr, "Novell Linux Desktop 9 (i586)\nVERSION = 9\n", "NLD 9 0\n"},
        {"Red Hat Enterprise Linux Server release 5 (Tikanga)\n", "SUSE LINUX 10.1 (i586)\nVERSION = 10.1\n",
         "RedHat 5 0\n"},
        {nullptr, nullptr, "Unknown 0 0\n"},
    };
    for (const Case& c : cases) {
        setRelease("redhat-release", c.redhat);
        setRelease("SuSE-release", c.suse);
        PkgRun r = run({});
        EXPECT_EQ(r.status, 0) << c.out;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.tmpAfter, "") << c.out;
    }
}

// Today's Debian and Ubuntu: `uname -i` prints "unknown" and only /etc/os-release exists. An x64
// clause fits, and the system is named from os-release; an older release file still wins.
TEST_F(LauncherE2E, DebianLikeSystemIsIdentifiedFromOsReleaseAndUnameMachine) {
    testutil::writeFile(bin() + "/uname",
                        "#!/bin/sh\ncase \"$1\" in -r) echo 6.1.0-e2e;; -i) echo unknown;; -m) echo x86_64;; esac\n",
                        0755);
    ASSERT_NO_FATAL_FAILURE(
        build("echo \"$ZAV_RQ_PKG_LINUX_DISTRO_NAME $ZAV_RQ_PKG_LINUX_DISTRO_LEVEL "
              "$ZAV_RQ_PKG_LINUX_UPDATE_LEVEL $ZAV_RQ_PKG_LINUX_PROCESSOR\"\n",
              "1\n*\t0\tx64\tLinux_verAny_UP0_xAny.wrapcfg\n./kickoff.cfg\n\n\n./kickoff\n\n\n"));
    const struct {
        const char* suse;
        const char* out;
    } cases[] = {
        {nullptr, "Ubuntu 22 4 x86_64\n"},
        {"SUSE Linux Enterprise Server 11 (x86_64)\nVERSION = 11\n", "SuSE 11 0 x86_64\n"},
    };
    setRelease("os-release", "NAME=\"Ubuntu\"\nVERSION_ID=\"22.04\"\nID=ubuntu\nID_LIKE=debian\n");
    for (const auto& c : cases) {
        setRelease("SuSE-release", c.suse);
        PkgRun r = run({});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.tmpAfter, "");
    }
}

// A package for SLES 10 on x64 only: refused on Red Hat 5.2 with the system's description,
// before anything of the package runs; started on SuSE 10.
TEST_F(LauncherE2E, OsMismatchStopsBeforeAnythingRuns) {
    const std::string bootcfg =
        "1\nSLES10\t0\tx64\ts10.cfg\n./image/kickoff.cfg\n./image\n"
        "/bin/cp ../kickoff kickoff ; echo setup ran\n./kickoff\n\noverride\n";
    ASSERT_NO_FATAL_FAILURE(build("echo generic\n", bootcfg, {}, {{"s10.cfg", "echo sles10 fits\n"}}));

    setRelease("redhat-release", "Red Hat Enterprise Linux Server release 5.2 (Tikanga)\n");
    PkgRun r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, launchertexts::osMismatch("Linux RedHat release 5 update 2 kernel 6.1.0-e2e (for x86_64)"));
    EXPECT_EQ(r.tmpAfter, "");

    setRelease("redhat-release", nullptr);
    setRelease("SuSE-release", "SUSE Linux Enterprise Server 10 (x86_64)\nVERSION = 10\n");
    r = run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "setup ran\nsles10 fits\n");
    EXPECT_EQ(r.tmpAfter, "");
}

// ---------------------------------------------------------------------------------------------
// The terminal, signals at the end of a run

// What a pseudo-terminal showed (carriage returns taken out) and how the run ended there.
struct TerminalRun {
    std::string screen;
    std::string end;  // "status N" or "hung"
    std::string tmpAfter;
};

// A startup command that asks a question on the terminal and reads the answer.
const char kAsks[] = "printf 'answer? '\nread answer\necho \"got $answer\"\n";

class LauncherTerminalE2E : public LauncherE2E {
protected:
    void SetUp() override {
        LauncherE2E::SetUp();
        if (IsSkipped()) return;
        std::string why;
        if (!e2e::canUnsharePid(&why)) GTEST_SKIP() << "needs private process namespaces: " << why;
    }

    // Runs the package on a new terminal (ptyrun.py: mode, then WAIT SEND pairs) in a process
    // namespace of its own, so that nothing it leaves outlives the case.
    TerminalRun onTerminal(const std::string& mode, const std::vector<std::string>& steps) {
        std::string line =
            "unshare --pid --fork --mount-proc /usr/bin/python3 " + shellQuote(PTYRUN) + " " + mode + " 15";
        for (const std::string& s : steps) line += " " + shellQuote(s);
        line += " -- ./" + std::string(kPackageName);
        PkgRun r = runScript(line);
        TerminalRun t;
        for (char c : r.out)
            if (c != '\r') t.screen += c;
        size_t last = t.screen.rfind('\n', t.screen.size() >= 2 ? t.screen.size() - 2 : 0);
        t.end = t.screen.substr(last == std::string::npos ? 0 : last + 1);
        while (!t.end.empty() && t.end.back() == '\n') t.end.pop_back();
        t.tmpAfter = r.tmpAfter;
        EXPECT_EQ(r.err, "") << mode;
        return t;
    }

    void buildAsking() { build(kAsks, pkgfixture::shippedBootCfg(), {"--launcher", testutil::binPath("pkgstub")}); }
};

// Run from a terminal, the startup command gets the terminal: its question is answered, and a
// Ctrl-C there ends the run as a Ctrl-C to the launcher does.
TEST_F(LauncherTerminalE2E, AStartupCommandReadsTheTerminal) {
    ASSERT_NO_FATAL_FAILURE(buildAsking());
    TerminalRun answered = onTerminal("fg", {"answer? ", "yes\n"});
    EXPECT_EQ(answered.end, "status 0") << answered.screen;
    EXPECT_NE(answered.screen.find("got yes\n"), std::string::npos) << answered.screen;
    EXPECT_EQ(answered.tmpAfter, "");

    TerminalRun interrupted = onTerminal("fg", {"answer? ", "\\x03"});
    EXPECT_EQ(interrupted.end, "status 130") << interrupted.screen;
    EXPECT_EQ(interrupted.screen.find("got"), std::string::npos) << interrupted.screen;
    EXPECT_EQ(interrupted.tmpAfter, "");
}

// Run in the background, the package's question stops it: that is said on the terminal, and
// once the package is brought to the foreground the answer reaches it.
TEST_F(LauncherTerminalE2E, AStoppedPackageIsNamedAndGoesOnInTheForeground) {
    ASSERT_NO_FATAL_FAILURE(buildAsking());
    TerminalRun t = onTerminal("bg", {"to go on", "yes\n"});
    EXPECT_EQ(t.end, "status 0") << t.screen;
    // Which of the package's processes the stop reaches first (its shell or kickoff) is the kernel's timing.
    EXPECT_TRUE(
        std::regex_search(t.screen, std::regex("\nPackage process [0-9]+ \\((sh|kickoff)\\) is stopped, most likely "
                                               "waiting for the terminal: bring the package to the foreground "
                                               "\\(fg\\) to go on, or end it with 'kill [0-9]+'\\.\n")))
        << t.screen;
    EXPECT_NE(t.screen.find("got yes\n"), std::string::npos) << t.screen;
    EXPECT_EQ(t.tmpAfter, "");
}

// Ctrl-C twice, 50 ms apart, to the package's process group: the first ends the package, the
// second arrives while the working directory (20000 files) is being removed and changes nothing.
TEST_F(LauncherE2E, ASecondCtrlCDuringTheRemovalLeavesNothingBehind) {
    std::map<std::string, std::string> files;
    for (int i = 0; i < 20000; ++i) files["image/f" + std::to_string(i)] = "";
    const std::string started = dir_.file("started");
    ASSERT_NO_FATAL_FAILURE(build("touch " + shellQuote(started) + "\nsleep 20\n", pkgfixture::shippedBootCfg(),
                                  {"--launcher", testutil::binPath("pkgstub")}, files));
    PkgRun r = runScript("setsid env --default-signal=INT,QUIT ./" + std::string(kPackageName) +
                         " >/dev/null 2>&1 &\npid=$!\nn=0\nuntil [ -e " + shellQuote(started) +
                         " ] || [ $n -ge 3000 ]; do sleep 0.01; n=$((n+1)); done\n"
                         "kill -INT -$pid\nsleep 0.05\nkill -INT -$pid\nwait $pid");
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.tmpAfter, "") << "working directory left behind";
}

// SIGINT to the launcher alone while a slow `uname` identifies the system: the run stops there
// (it used to be swallowed while the launcher waited in system(), and the package ran to its end).
TEST_F(LauncherE2E, SigintDuringTheSystemIdentificationStopsTheRun) {
    ASSERT_NO_FATAL_FAILURE(
        build("echo ran\n", pkgfixture::shippedBootCfg(), {"--launcher", testutil::binPath("pkgstub")}));
    testutil::writeFile(bin() + "/uname",
                        "#!/bin/sh\nsleep 0.4\ncase \"$1\" in -r) echo 6.1.0-e2e ;; *) echo x86_64 ;; esac\n", 0755);
    PkgRun r = runScript("env --default-signal=INT ./" + std::string(kPackageName) +
                         " &\npid=$!\nsleep 0.2\nkill -INT $pid\nwait $pid");
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "\nPackage interrupted by signal 2 (SIGINT) while unpacking; its working directory was removed.\n");
    EXPECT_EQ(r.tmpAfter, "");
}

}  // namespace

namespace {

// Started by name through PATH, argv[0] holds no '/': the launcher opens its own program file.
// A TMPDIR it cannot use is named once, and the run goes on in /tmp.
TEST_F(LauncherE2E, StartsThroughPathAndNamesAnUnusableTmpdir) {
    ASSERT_NO_FATAL_FAILURE(build("echo \"kickoff $*\"\n"));
    const struct {
        const char* name;
        std::string env;
        std::string err;
    } cases[] = {
        {"through PATH", "", ""},
        {"relative TMPDIR", "TMPDIR=tmp ", "Warning: TMPDIR 'tmp' is not an absolute path; using /tmp instead.\n"},
        {"missing TMPDIR", "TMPDIR=/no/such/dir ",
         "Warning: TMPDIR '/no/such/dir' is not an existing folder; using /tmp instead.\n"},
        {"TMPDIR a file", "TMPDIR=/etc/hostname ",
         "Warning: TMPDIR '/etc/hostname' is not an existing folder; using /tmp instead.\n"},
        {"empty TMPDIR", "TMPDIR= ", ""},
        // Another user could swap the launcher's files there between their making and their use.
        {"TMPDIR others may write", "mkdir -m 0777 \"$TD\" && chmod 0777 \"$TD\" && TMPDIR=\"$TD\" ",
         "Warning: TMPDIR '" + runDir() +
             "/shared' belongs to another user, or others may write to it without the "
             "sticky bit; using /tmp instead.\n"},
    };
    for (const auto& c : cases) {
        PkgRun r = runScript("TD=" + shellQuote(runDir() + "/shared") + "; cd / && " + c.env +
                             "PATH=" + shellQuote(runDir()) + ":\"$PATH\" " + kPackageName + " A");
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, "kickoff A\n") << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.tmpAfter, "") << c.name;
    }
}

}  // namespace
