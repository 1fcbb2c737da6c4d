#include "launcher/bootcfg.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "launcher/console.h"
#include "launcher/sysident.h"
#include "tests/launcher/launcher_test.h"
#include "tests/e2e/support/launchertexts.h"

namespace {

using testutil::readFile;
using testutil::writeFile;

// The text plus the spare byte, which starts out as junk to show it is never read as text.
std::vector<char> bufferOf(const std::string& text) {
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('#');
    return buf;
}

// Every line the cursor yields, until the text has ended.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<char> buf = bufferOf(text);
    BootCfgCursor cur;
    startBootCfg(&cur, buf.data(), static_cast<unsigned>(text.size()));
    std::vector<std::string> lines;
    for (;;) {
        std::string line = readBootCfgLine(&cur);
        if (cur.missing) break;
        lines.push_back(line);
    }
    EXPECT_EQ(readBootCfgLine(&cur), std::string());
    return lines;
}

TEST(BootCfgLines, CommentsSkippedValuesKept) {
    using L = std::vector<std::string>;
    const struct {
        std::string text;
        L lines;
    } cases[] = {
        {"; c\n2\n;c\n;c\nA\n; c\nB\n", {"2", "A", "B"}},  // comments between clauses
        {"1\r\nA\r\n", {"1\r", "A\r"}},                    // CR LF: the CR stays
        {"1\nlast", {"1", "last"}},                        // no final line feed
        {"\n \n ;x\n;", {"", " ", " ;x"}},  // empty lines are values, "; " after a blank is not a comment
        {"", {}},
        {";only\n;comments", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(linesOf(c.text), c.lines) << c.text;
}

TEST(BootCfgLines, ClauseCountAndArgsControl) {
    const struct {
        const char* text;
        int count;
    } counts[] = {{"1", 1},  {" 2", 2},  {"-1", -1},
                  {"", 0},   {"x", 0},   {"3abc", 3},
                  {"+4", 4}, {"1\r", 1}, {"99999999999", INT_MAX}};
    for (const auto& c : counts) EXPECT_EQ(parseClauseCount(c.text), c.count) << c.text;

    const struct {
        const char* text;
        int mode;
    } modes[] = {{"append", ARGS_APPEND},   {"appendix", ARGS_APPEND},
                 {"prepend", ARGS_PREPEND}, {"override <defaultArgs> with <userArgs>", ARGS_OVERRIDE},
                 {"Override", ARGS_APPEND}, {"discard\r", ARGS_DISCARD},
                 {"", ARGS_APPEND},         {"discar", ARGS_APPEND},
                 {"prepen", ARGS_APPEND},   {"overrid", ARGS_APPEND},
                 {" append", ARGS_APPEND}};
    for (const auto& c : modes) EXPECT_EQ(decideArgsMode(c.text), c.mode) << c.text;
}

TEST(StartupCommand, ComposedByMode) {
    using A = std::vector<std::string>;
    const struct {
        ArgsMode mode;
        const char* defaults;
        A user;
        const char* expected;
    } cases[] = {
        {ARGS_APPEND, "-q", {"A", "B"}, "cmd -q A B"},
        {ARGS_APPEND, "", {"A"}, "cmd A"},
        {ARGS_APPEND, "-q", {}, "cmd -q"},
        {ARGS_PREPEND, "-q", {"A", "B"}, "cmd A B"},
        {ARGS_OVERRIDE, "-q", {"A", "B"}, "cmd A B"},
        {ARGS_OVERRIDE, "-q", {}, "cmd"},
        {ARGS_DISCARD, "-q", {"A", "B"}, "cmd -q"},
        {ARGS_DISCARD, "", {"A"}, "cmd"},
        {ARGS_APPEND, "", {"a b", "$HOME;x"}, "cmd a b $HOME;x"},  // verbatim, the shell reads them
    };
    for (const auto& c : cases) {
        std::vector<char*> argv = {const_cast<char*>("pkg")};
        for (const auto& a : c.user) argv.push_back(const_cast<char*>(a.c_str()));
        char out[STARTUP_CMD_SIZE];
        EXPECT_EQ(
            composeStartupCmd(out, sizeof(out), "cmd", c.defaults, c.mode, static_cast<int>(argv.size()), argv.data()),
            0);
        EXPECT_STREQ(out, c.expected);
    }
}

TEST(StartupCommand, FillsTheBufferExactlyAndRefusesOneMore) {
    std::string cmd(STARTUP_CMD_SIZE - 3, 'c');  // + " A" = 2047 characters
    char* argv[] = {const_cast<char*>("pkg"), const_cast<char*>("A"), const_cast<char*>("AB")};
    char out[STARTUP_CMD_SIZE];
    EXPECT_EQ(composeStartupCmd(out, sizeof(out), cmd.c_str(), "", ARGS_APPEND, 2, argv), 0);
    EXPECT_EQ(strlen(out), STARTUP_CMD_SIZE - 1u);
    argv[1] = argv[2];
    EXPECT_EQ(composeStartupCmd(out, sizeof(out), cmd.c_str(), "", ARGS_APPEND, 2, argv), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(composeStartupCmd(out, sizeof(out), (cmd + "cc").c_str(), "", ARGS_APPEND, 1, argv), 0);
    EXPECT_EQ(composeStartupCmd(out, sizeof(out), (cmd + "ccc").c_str(), "", ARGS_APPEND, 1, argv), -1);
}

class ProcessBootCfgTest : public LauncherTest {
protected:
    void SetUp() override {
        LauncherTest::SetUp();
        setSystem(c_distroName_REDHAT, 4, 4, c_szCPU_I386, "2.6.9-42.ELsmp");
        ASSERT_EQ(chdir(tmp.path().c_str()), 0);
    }
    int process(const std::string& text, std::vector<const char*> user, std::string* cmd) {
        std::vector<char> buf = bufferOf(text);
        std::vector<char*> argv = {const_cast<char*>("pkg")};
        for (const char* a : user) argv.push_back(const_cast<char*>(a));
        char out[STARTUP_CMD_SIZE] = "junk";
        int rc = processBootCfg(&ctx, buf.data(), static_cast<unsigned>(text.size()), static_cast<int>(argv.size()),
                                argv.data(), out);
        *cmd = out;
        return rc;
    }
};

TEST_F(ProcessBootCfgTest, PreparesTheStartupDirectoryAndComposesTheCommand) {
    mkdir(tmp.file("image").c_str(), 0755);
    writeFile(tmp.file("r4.wrapcfg"), "cfg for RHEL4\n", 0600);
    writeFile(tmp.file("image/run.sh"), "exit 0\n", 0600);
    const std::string text =
        "; <per-os-class cfg clauses>\n2\n"
        "SLES10\t0\tx64\ts10.wrapcfg\n; between clauses\n"
        "RHEL4\t2\tx86\tr4.wrapcfg\n"
        "; <final startup config file name>\n./image/kickoff.cfg\n"
        "; <startupDir>\n./image\n"
        "; <setupPriorStartup> <startupCmd> <defaultArgs> <argsControl>\n"
        "echo \"$ZAV_T\" > setup.out\n./run.sh\n-d\nappend them\n";
    setenv("ZAV_T", "setup ran here", 1);
    ctx.debug = 1;
    std::string cmd;
    std::string out = stdoutOf([&] { EXPECT_EQ(process(text, {"U1", "U2"}, &cmd), 0); });
    unsetenv("ZAV_T");
    EXPECT_EQ(cmd, "./run.sh -d U1 U2");
    EXPECT_EQ(out,
              "++   # of per-os-class cfg clauses = 2\n"
              "++     os-class cfg clause:'SLES10\t0\tx64\ts10.wrapcfg'\n"
              "++     <verName><verRelease> = 'SLES10'\n"
              "++   per-os-class cfg[0] (n.g.) = 'SLES10\t0\tx64\ts10.wrapcfg'\n"
              "++     os-class cfg clause:'RHEL4\t2\tx86\tr4.wrapcfg'\n"
              "++     <verName><verRelease> = 'RHEL4'\n"
              "++     <UP #> = '2'\n"
              "++     processor = 'x86'\n"
              "++   per-os-class cfg[1] (GOOD) = 'RHEL4\t2\tx86\tr4.wrapcfg'\n"
              "++ Final startup cfg file found: 'r4.wrapcfg'\n"
              "++ Copying 'r4.wrapcfg' to './image/kickoff.cfg'...\n"
              "++ Changing dir to './image'...\n"
              "++ Executing 'echo \"$ZAV_T\" > setup.out' prior startup...\n"
              "++   startupCmd  = './run.sh'\n"
              "++   defaultArgs = '-d'\n"
              "++   argsControl = 'append them'\n"
              "++   startupCmd  = './run.sh -d U1 U2'\n");
    char here[4096];
    EXPECT_EQ(std::string(getcwd(here, sizeof(here))), tmp.file("image"));
    EXPECT_EQ(readFile(tmp.file("image/kickoff.cfg")), "cfg for RHEL4\n");
    EXPECT_EQ(readFile(tmp.file("image/setup.out")), "setup ran here\n");
    EXPECT_EQ(access(tmp.file("image/run.sh").c_str(), X_OK), 0);  // chmod -R +x ran first
}

TEST_F(ProcessBootCfgTest, NoFittingClauseShowsTheSystemAndRunsNothing) {
    writeFile(tmp.file("f.cfg"), "", 0600);
    for (const char* count : {"1", "0", "-3"}) {
        std::string cmd;
        std::string text = std::string(count) + "\nSLES9\t0\t*\tf.cfg\nx.cfg\n\ntouch ran\nrun\n\n\n";
        std::string err = stderrOf([&] { EXPECT_EQ(process(text, {}, &cmd), -1); });
        EXPECT_EQ(err, launchertexts::osMismatch("Linux RedHat release 4 update 4 kernel 2.6.9-42.ELsmp (for i386)"));
        EXPECT_EQ(testutil::listDir(tmp.path()), std::vector<std::string>{"f.cfg"});
        EXPECT_NE(access(tmp.file("f.cfg").c_str(), X_OK), 0);
    }
}

TEST_F(ProcessBootCfgTest, ReadsOddTextsWithinTheirBounds) {
    using A = std::vector<const char*>;
    const struct {
        std::string text;
        A user;
        const char* expected;
    } cases[] = {
        // more clauses counted than listed: the value lines shift into the clauses
        {"3\n*\t0\t*\t\nx\ny\n\n\ntrue\necho hi\n-z\ndiscard\n", {"U"}, "echo hi -z"},
        {"1\n*\t0\t*\t\n\n\n\necho hi\n-z\nprepend", {"U"}, "echo hi U"},  // no final line feed
        {"1\n*\t0\t*\t\n", {"U"}, " U"},                                   // value lines missing: empty
        {"2000000000\n*\t0\t*\t\n", {}, ""},                               // huge count, short text
        {"1\n*\t0\t*\t\n\n\n\n" + std::string(STARTUP_CMD_SIZE, 'c') + "\n", {}, nullptr},
        {"1\n*\t0\t*\tf.cfg\n" + std::string(600, 'n') + "\n\n\nrun\n", {}, nullptr},
    };
    writeFile(tmp.file("image.zip"), "");  // something for "chmod -R +x *" to find
    for (const auto& c : cases) {
        std::string cmd;
        std::string err = stderrOf([&] { EXPECT_EQ(process(c.text, c.user, &cmd), c.expected ? 0 : -1); });
        if (c.expected) {
            EXPECT_EQ(cmd, c.expected);
            EXPECT_EQ(err, "");
        } else {
            EXPECT_EQ(cmd, "");
            EXPECT_TRUE(err == "Failed composing the startup command: it would be longer than 2047 characters\n" ||
                        err ==
                            "Failed copying the startup config file: the command line would be longer than "
                            "519 characters\n")
                << err;
        }
    }
}

}  // namespace
