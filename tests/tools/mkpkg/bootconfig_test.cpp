// Boot configuration reading through the launcher's reader, line roles, clause fields, command
// composition and the checks that refuse a broken boot configuration.
#include "tools/mkpkg/bootconfig.h"

#include <gtest/gtest.h>

#include "tests/tools/mkpkg/pkgfixture.h"
#include "tools/mkpkg/zipreader.h"

using mkpkg::LineRole;

namespace {

const char* const kShipped = pkgfixture::shippedBootCfg();

std::vector<LineRole> roles(const mkpkg::BootConfig& cfg) {
    std::vector<LineRole> out;
    for (const auto& l : cfg.lines) out.push_back(l.role);
    return out;
}

TEST(BootConfig, ShippedConfigurationLineByLine) {
    mkpkg::BootConfig cfg = mkpkg::readBootConfig(kShipped);
    EXPECT_EQ(roles(cfg), (std::vector<LineRole>{LineRole::Comment, LineRole::Count, LineRole::Clause,
                                                 LineRole::Comment, LineRole::FinalName, LineRole::Comment,
                                                 LineRole::StartupDir, LineRole::Comment, LineRole::SetupPriorStartup,
                                                 LineRole::StartupCmd, LineRole::DefaultArgs, LineRole::ArgsControl}));
    EXPECT_EQ(cfg.count, 1);
    ASSERT_EQ(cfg.clauses.size(), 1u);
    EXPECT_EQ(cfg.clauses[0].line, 3);
    EXPECT_EQ(cfg.clauses[0].fields.fileName, "Linux_verAny_UP0_xAny.wrapcfg");
    EXPECT_EQ(cfg.finalName, "./image/kickoff.cfg");
    EXPECT_EQ(cfg.startupDir, "./image");
    EXPECT_EQ(cfg.startupCmd, "./kickoff");
    EXPECT_EQ(cfg.defaultArgs, "");
    EXPECT_STREQ(mkpkg::argsModeName(cfg.argsMode), "override");
    EXPECT_EQ(cfg.missingLines, 0);
    EXPECT_TRUE(cfg.endsWithLineFeed);
}

TEST(BootConfig, CommentsBetweenClausesAndLinesAfterArgsControl) {
    mkpkg::BootConfig cfg = mkpkg::readBootConfig(
        "2\n; first\nA\t0\t*\ta.cfg\n;second\n; third\n*\t0\t*\tb.cfg\nfinal\n\n\ncmd\n-q\nprepend\n; after\nmore\n");
    EXPECT_EQ(roles(cfg),
              (std::vector<LineRole>{LineRole::Count, LineRole::Comment, LineRole::Clause, LineRole::Comment,
                                     LineRole::Comment, LineRole::Clause, LineRole::FinalName, LineRole::StartupDir,
                                     LineRole::SetupPriorStartup, LineRole::StartupCmd, LineRole::DefaultArgs,
                                     LineRole::ArgsControl, LineRole::Ignored, LineRole::Ignored}));
    EXPECT_EQ(cfg.lines[5].clause, 1);
    EXPECT_EQ(cfg.clauses[1].line, 6);
}

// A count larger than the clause lines shifts every value: the final name is read as a clause.
TEST(BootConfig, CountLargerThanClauseLinesShiftsValues) {
    mkpkg::BootConfig cfg = mkpkg::readBootConfig("2\n*\t0\t*\tf\nfinal\ndir\nsetup\ncmd\nargs\nappend\n");
    ASSERT_EQ(cfg.clauses.size(), 2u);
    EXPECT_EQ(cfg.clauses[1].text, "final");
    EXPECT_EQ(cfg.finalName, "dir");
    EXPECT_EQ(cfg.argsControl, "");
    EXPECT_EQ(cfg.missingLines, 1);
    EXPECT_EQ(cfg.firstMissing, "argsControl");
}

TEST(BootConfig, CarriageReturnsStayInValues) {
    mkpkg::BootConfig cfg = mkpkg::readBootConfig("1\r\n*\t0\t*\tf.cfg\r\nfinal\r\n\r\n\r\n./run\r\n\r\noverride\r\n");
    EXPECT_EQ(cfg.count, 1);
    EXPECT_EQ(cfg.clauses[0].fields.fileName, "f.cfg\r");
    EXPECT_EQ(cfg.startupCmd, "./run\r");
    EXPECT_EQ(cfg.defaultArgs, "\r");
    EXPECT_STREQ(mkpkg::argsModeName(cfg.argsMode), "override");
    EXPECT_TRUE(cfg.hasCarriageReturns);
}

TEST(BootConfig, TextWithoutFinalLineFeedIsReadSafely) {
    mkpkg::BootConfig cfg = mkpkg::readBootConfig("1\n*\t0\t*\tf\nfinal\ndir\nsetup\ncmd\nargs\ndiscard");
    EXPECT_FALSE(cfg.endsWithLineFeed);
    EXPECT_EQ(cfg.argsControl, "discard");
    EXPECT_EQ(cfg.missingLines, 0);
    mkpkg::BootConfig empty = mkpkg::readBootConfig("");
    EXPECT_EQ(empty.missingLines, 7);
    EXPECT_EQ(empty.firstMissing, "count");
}

TEST(BootConfig, ClauseFieldsSplitAsTheMatcherWalksThem) {
    struct Case {
        const char* clause;
        const char* f1;
        const char* f2;
        const char* f3;
        const char* f4;
    };
    const Case cases[] = {
        {"*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg", "*", "0", "*", "Linux_verAny_UP0_xAny.wrapcfg"},
        {"RHEL4\t2\tx86\tr4.wrapcfg", "RHEL4", "2", "x86", "r4.wrapcfg"},
        {"*RHEL\t0\t*\tf", "*", "RHEL", "0", "*\tf"},  // text after '*' shifts the fields
        {"SLES9\t0\tx86", "SLES9", "0", "x86", ""},
        {"*\t0\t*\t\ttwo-tabs.cfg", "*", "0", "*", "two-tabs.cfg"},
        {"*\t0\t*\tname with blanks  ", "*", "0", "*", "name with blanks  "},
        {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        mkpkg::ClauseFields f = mkpkg::splitClause(c.clause);
        EXPECT_EQ(f.verName, c.f1) << c.clause;
        EXPECT_EQ(f.update, c.f2) << c.clause;
        EXPECT_EQ(f.processor, c.f3) << c.clause;
        EXPECT_EQ(f.fileName, c.f4) << c.clause;
    }
}

TEST(BootConfig, CommandComposedForEveryArgsMode) {
    struct Case {
        const char* argsControl;
        const char* defaultArgs;
        std::vector<std::string> args;
        const char* command;
    };
    const Case cases[] = {
        {"append", "-q", {"A", "B"}, "run -q A B"}, {"appendix", "-q", {}, "run -q"},
        {"Override", "-q", {"A"}, "run -q A"},  // capital O: append
        {"prepend", "-q", {"A", "B"}, "run A B"},   {"override <defaultArgs> with <userArgs>", "-q", {"A"}, "run A"},
        {"discard", "-q", {"A"}, "run -q"},         {"discard", "", {"A"}, "run"},
        {"", "", {"a b", "c"}, "run a b c"},
    };
    for (const Case& c : cases) {
        std::string text = std::string("1\n*\t0\t*\tf\nfinal\n\n\nrun\n") + c.defaultArgs + "\n" + c.argsControl + "\n";
        mkpkg::BootConfig cfg = mkpkg::readBootConfig(text);
        std::string cmd;
        EXPECT_TRUE(mkpkg::composeCommand(cfg, "pkg", c.args, &cmd));
        EXPECT_EQ(cmd, c.command) << c.argsControl;
    }
}

// The longest startup command the launcher takes is 2047 characters.
TEST(BootConfig, StartupCommandAtTheLauncherLimit) {
    auto cfgWith = [](size_t length) {
        return mkpkg::readBootConfig("1\n*\t0\t*\t\n\n\n\n" + std::string(length, 'c') + "\n\nappend\n");
    };
    std::string cmd;
    EXPECT_TRUE(mkpkg::composeCommand(cfgWith(2047), "pkg", {}, &cmd));
    EXPECT_EQ(cmd.size(), 2047u);
    EXPECT_FALSE(mkpkg::composeCommand(cfgWith(2048), "pkg", {}, &cmd));
    EXPECT_FALSE(mkpkg::composeCommand(cfgWith(2045), "pkg", {"ab"}, &cmd));
    EXPECT_TRUE(mkpkg::bootConfigProblems(cfgWith(2047), "b", nullptr).empty());
}

TEST(BootConfig, ProblemsNameTheLineAndWhatToDo) {
    std::vector<mkpkg::ZipEntry> image(2);
    image[0].name = "image/";
    image[0].isDir = true;
    image[1].name = "ok.cfg";
    struct Case {
        std::string text;
        std::string problem;
    };
    const std::string tail = "final\n\n\n./run\n\nappend\n";
    const Case cases[] = {
        {"", "B is empty; write the clause count, the clauses and the six value lines"},
        {"1\n*\t0\t*\tok.cfg\n" + tail.substr(0, tail.size() - 1),
         "B does not end with a line feed; end its last line with a newline"},
        {"one\n*\t0\t*\tok.cfg\n" + tail,
         "B: the count line 'one' is not a number; give the number of clause lines that follow"},
        {"0\n" + tail, "B: the clause count is 0, so no system can fit; add at least one clause and count it"},
        {"-1\n" + tail, "B: the clause count is -1, so no system can fit; add at least one clause and count it"},
        {"1\n*\t0\t*\tok.cfg\nfinal\n\n",
         "B ends before its setupPriorStartup line (4 lines missing); after the count 1 it needs that many clause "
         "lines and six value lines"},
        {"3\n*\t0\t*\tok.cfg\n",
         "B ends before its clause line (8 lines missing); after the count 3 it needs that many clause lines and six "
         "value lines"},
        // The missing lines of the largest count do not wrap round to a negative number.
        {"2147483647\n*\t0\t*\tok.cfg\n",
         "B ends before its clause line (2147483652 lines missing); after the count 2147483647 it needs that many "
         "clause lines and six value lines"},
        {"2\n*\t0\t*\tok.cfg\nRHEL4\t0\t*\tmissing.cfg\n" + tail,
         "B: clause 1 (line 3) names 'missing.cfg', which is not in the image; add the file to the content or fix the "
         "clause"},
        {"1\r\n*\t0\t*\tok.cfg\r\nfinal\r\n\r\n\r\n./run\r\n\r\nappend\r\n",
         "B: clause 0 (line 2) names 'ok.cfg\\r', which is not in the image; the boot configuration has CR LF line "
         "ends, save it with LF only"},
        {"1\n*\t0\t*\timage\n" + tail,
         "B: clause 0 (line 2) names 'image', which is not in the image; add the file to the content or fix the "
         "clause"},
        {"1\n*\t0\t*\tok.cfg\n" + std::string(505, 'f') + "\n\n\n./run\n\nappend\n",
         "B: copying the file of clause 0 to '" + std::string(505, 'f') +
             "' takes a command of 524 characters; the launcher runs at most 519, use shorter names"},
        {"1\n*\t0\t*\tok.cfg\nfinal\n\n\n" + std::string(2000, 'r') + "\n" + std::string(100, 'd') + "\nappend\n",
         "B: the startup command is 2101 characters (with its default arguments); the launcher accepts at most 2047, "
         "shorten it"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> p = mkpkg::bootConfigProblems(mkpkg::readBootConfig(c.text), "B", &image);
        ASSERT_FALSE(p.empty()) << c.problem;
        EXPECT_EQ(p.front(), c.problem);
    }
    // Without a final file name nothing is copied, so a clause file need not exist.
    EXPECT_TRUE(
        mkpkg::bootConfigProblems(mkpkg::readBootConfig("1\n*\t0\t*\tnone.cfg\n\n\n\n./run\n\nappend\n"), "B", &image)
            .empty());
    EXPECT_TRUE(mkpkg::bootConfigProblems(mkpkg::readBootConfig(kShipped), "B", nullptr).empty());
}

}  // namespace
