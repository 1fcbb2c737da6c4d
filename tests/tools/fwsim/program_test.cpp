// The fwsim program as the update tool and a user start it: under its utility names, through the
// shell, with the scenario found in the current directory or through FWSIM_CONF.
#include <gtest/gtest.h>

#include "tests/support/testutil.h"

using testutil::binPath;
using testutil::pathExists;
using testutil::readFile;
using testutil::writeFile;

namespace {

const char c_scenario[] =
    "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 00:10:18:aa:bb:01\nbc = 3.29\n"
    "fault.crc = signal KILL\n"
    "[adapter]\nfamily = NetXtreme II\ndevid = 164C\nmac = 00:10:18:aa:bb:03\nbc = 4.4.1\n";

class Program : public ::testing::Test {
protected:
    testutil::TempDir dir;

    void SetUp() override {
        testutil::RunResult r = testutil::run({binPath("fwsim"), "install", dir.path()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "linked " + dir.path() + "/lnxfwupg\nlinked " + dir.path() + "/lnxfwnx2\n");
        writeFile(dir.file("fwsim.conf"), c_scenario);
    }

    testutil::RunResult shell(const std::string& command, testutil::RunOptions opts = {}) {
        opts.cwd = dir.path();
        opts.unsetEnv.push_back("FWSIM_CONF");
        opts.unsetEnv.push_back("FWSIM_TRACE");
        return testutil::runShell(command, opts);
    }
};

}  // namespace

TEST_F(Program, ServesEachFamilyUnderItsNameThroughTheShell) {
    writeFile(dir.file("q"), "q\n");
    testutil::RunResult r = shell("./lnxfwupg <q >devices && ./lnxfwnx2 <q >devices2");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string nx = readFile(dir.file("devices")), nx2 = readFile(dir.file("devices2"));
    EXPECT_NE(nx.find(" 1  1648  001018AABB01  "), std::string::npos) << nx;
    EXPECT_EQ(nx.find("164C"), std::string::npos);
    EXPECT_EQ(nx.substr(nx.size() - 3), "0> ");
    EXPECT_NE(nx2.find(" 1  164C  001018AABB03  "), std::string::npos) << nx2;
    EXPECT_NE(nx2.find("Quit"), std::string::npos);

    r = shell("./lnxfwupg 001018AABB01 dir >001018AABB01");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(readFile(dir.file("001018AABB01")).find("BootCode    0x00000200  0x00003c00  valid  5704-v3.29\n"),
              std::string::npos);
}

TEST_F(Program, SignalFaultEndsTheProcessWithoutACoreFile) {
    writeFile(dir.file("y"), "y\n");
    testutil::RunOptions opts;
    opts.input = "y\n";
    opts.cwd = dir.path();
    opts.unsetEnv = {"FWSIM_CONF", "FWSIM_TRACE"};
    testutil::RunResult r = testutil::run({dir.file("lnxfwupg"), "001018AABB01", "crc"}, opts);
    EXPECT_EQ(r.status, 128 + 9);
    // The shell the update tool uses reports it as 137 too.
    EXPECT_EQ(shell("./lnxfwupg 001018AABB01 crc <y >>log").status, 137);
    for (const auto& name : testutil::listDir(dir.path())) EXPECT_EQ(name.find("core"), std::string::npos) << name;
}

TEST_F(Program, ScenarioFromFwsimConfKeepsStateBesideIt) {
    testutil::TempDir other;
    writeFile(other.file("demo.conf"), "[adapter]\nfamily = NetXtreme\ndevid = 1659\nmac = 001018AABB05\nbc = 3.61\n");
    writeFile(dir.file("bc.bin"), "FWSIM-IMAGE component=bc version=3.70\n");
    testutil::RunOptions opts;
    opts.cwd = dir.path();
    opts.env = {{"FWSIM_CONF", other.file("demo.conf")}, {"FWSIM_TRACE", dir.file("trace")}};
    testutil::RunResult r = testutil::runShell("./lnxfwupg 001018AABB05 upgrade -noreset -F -bc bc.bin nv.bak", opts);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(pathExists(other.file("fwsim.state")));
    EXPECT_FALSE(pathExists(dir.file("fwsim.state")));
    EXPECT_TRUE(pathExists(dir.file("nv.bak")));  // the save file is where the command line says
    EXPECT_EQ(readFile(dir.file("trace")), "lnxfwupg 001018AABB05 upgrade -noreset -F -bc bc.bin nv.bak\n");

    // Without FWSIM_CONF the scenario of the current directory holds, unchanged.
    r = shell("./lnxfwupg 001018AABB05 dir");
    EXPECT_EQ(r.status, 1);
    r = shell("./lnxfwupg 001018AABB01 dir");
    EXPECT_NE(r.out.find("5704-v3.29"), std::string::npos);

    testutil::RunOptions none;
    none.cwd = other.path();
    none.unsetEnv = {"FWSIM_CONF"};
    testutil::RunResult noConf = testutil::run({dir.file("lnxfwupg")}, none);
    EXPECT_EQ(noConf.status, 3);
    EXPECT_EQ(noConf.err,
              "lnxfwupg: cannot read scenario 'fwsim.conf': No such file or directory (write one, see "
              "tools/fwsim/README.md, or point FWSIM_CONF at it)\n");
}

TEST_F(Program, OtherNamesShowUsageAndOwnCommands) {
    std::string copy = dir.file("nicsim");
    ASSERT_EQ(testutil::run({"cp", binPath("fwsim"), copy}).status, 0);
    testutil::RunResult r = testutil::run({copy});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Started as 'lnxfwupg' it serves the NetXtreme"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Started as 'nicsim' it knows these commands:\n  nicsim mkimage"), std::string::npos) << r.err;
    r = testutil::run({copy, "flash"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.find("nicsim: unknown command 'flash'\n"), 0u) << r.err;
    EXPECT_EQ(testutil::run({binPath("fwsim"), "--help"}).status, 0);
}

TEST_F(Program, MkimageMakesImagesTheUtilityTakes) {
    testutil::RunResult r = testutil::run({binPath("fwsim"), "mkimage", "--component", "pxe", "--version", "8.4.1",
                                           "--devid", "1648", "-o", dir.file("1648mba.bin")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote " + dir.file("1648mba.bin") + " (mba firmware, version 8.4.1, device 1648)\n");
    EXPECT_EQ(readFile(dir.file("1648mba.bin")).substr(0, 54),
              "FWSIM-IMAGE component=mba version=8.4.1 devid=1648\n# d");

    const struct {
        std::vector<std::string> args;
        const char* message;
    } bad[] = {
        {{"--component", "bc", "--version", "1"}, "mkimage needs --component, --version and -o FILE"},
        {{"--component", "bios", "--version", "1", "-o", "x"}, "unknown component 'bios'"},
        {{"--component", "bc", "--size", "1"}, "unknown mkimage option '--size'"},
    };
    for (const auto& b : bad) {
        std::vector<std::string> argv = {binPath("fwsim"), "mkimage"};
        argv.insert(argv.end(), b.args.begin(), b.args.end());
        testutil::RunResult e = testutil::run(argv);
        EXPECT_EQ(e.status, 2) << b.message;
        EXPECT_NE(e.err.find(b.message), std::string::npos) << e.err;
    }
    testutil::RunResult unwritable = testutil::run(
        {binPath("fwsim"), "mkimage", "--component", "bc", "--version", "1", "-o", dir.file("no/such/dir.bin")});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("cannot write image '" + dir.file("no/such/dir.bin") + "'"), std::string::npos);
}

TEST_F(Program, CheckShowsStateAndResetForgetsIt) {
    testutil::RunOptions opts;
    opts.cwd = dir.path();
    opts.unsetEnv = {"FWSIM_CONF", "FWSIM_TRACE"};
    writeFile(dir.file("fwsim.state"), "version 001018AABB01 bc 3.38\n");
    testutil::RunResult r = testutil::run({binPath("fwsim"), "check"}, opts);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "fwsim.conf: 2 adapter(s), changed by fwsim.state\n"
              "  lnxfwupg 1  1648  001018AABB01  bc=3.38  fault.crc\n"
              "  lnxfwnx2 1  164C  001018AABB03  bc=4.4.1\n");
    r = testutil::run({binPath("fwsim"), "reset"}, opts);
    EXPECT_EQ(r.out, "removed fwsim.state\n");
    EXPECT_FALSE(pathExists(dir.file("fwsim.state")));

    writeFile(dir.file("bad.conf"), "[adapter]\nfamily = NetXtreme\n");
    r = testutil::run({binPath("fwsim"), "check", dir.file("bad.conf")}, opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fwsim: " + dir.file("bad.conf") + ":1: adapter block at line 1 lacks: devid mac\n");
}
