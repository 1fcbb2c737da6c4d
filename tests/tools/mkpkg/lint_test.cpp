// A package author's mistakes: `mkpkg build` refuses each with its line and a summary (nothing
// written), `--force` writes the package anyway, and `mkpkg info` reports the same problems.
// Also the launcher byte-order rule and `info --system` against several target systems.
#include <sys/stat.h>

#include <functional>

#include <gtest/gtest.h>

#include "tools/mkpkg/lint.h"
#include "tests/tools/mkpkg/pkgfixture.h"
#include "tests/support/testutil.h"
#include "tools/mkpkg/zipwriter.h"

using testutil::TempDir;

namespace {

const std::string kTail = "./image/kickoff.cfg\n./image\n\n../kickoff\n\noverride\n";
const std::string kClause = "*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg\n";

struct Sources : pkgfixture::Sources {
    std::vector<std::string> cmd = args();
    // A ready image of the content plus one entry of the given name.
    void imageWithEntry(const std::string& name) {
        std::vector<mkpkg::ContentItem> items = mkpkg::collectContent(content);
        mkpkg::ContentItem extra;
        extra.name = name;
        extra.fullPath = content + "/kickoff";
        extra.mode = 0100644;
        extra.size = 17;
        items.push_back(extra);
        mkpkg::writeZip(dir.file("image.zip"), items, 315532800);
        cmd[3] = "--image";
        cmd[4] = dir.file("image.zip");
    }
};

struct Mistake {
    const char* name;
    std::string bootcfg;
    std::function<void(Sources&)> setup;  // may be null
    // Expected problem lines after "mkpkg: ", with "B" for the boot configuration's label.
    std::vector<std::string> lines;
};

std::string replaceB(const std::string& line, const std::string& label) {
    size_t at = line.find("B");
    return at == std::string::npos ? line : line.substr(0, at) + label + line.substr(at + 1);
}

TEST(Lint, BuildRefusesEachMistakeWithItsLineAndForceBuildsAnyway) {
    const std::string ls = "line 2";
    const Mistake cases[] = {
        {"no line feed at the end",
         "1\n" + kClause + kTail.substr(0, kTail.size() - 1),
         nullptr,
         {"error: B does not end with a line feed; end its last line with a newline"}},
        {"value lines missing",
         "; count\n1\n*\t0\t*\tx\n./f\n",
         nullptr,
         {"error: B ends before its startupDir line (5 lines missing); after the count 1 it needs that many clause "
          "lines and six value lines"}},
        {"clause file not in the image",
         "2\n" + kClause + "SLES10\t0\tx64\tsles10.cfg\n" + kTail,
         nullptr,
         {"error: B: clause 1 (line 3) names 'sles10.cfg', which is not in the image; add the file to the content or "
          "fix the clause"}},
        {"startup command too long",
         "1\n" + kClause + "\n\n\n./kickoff " + std::string(2040, 'a') + "\n\nappend\n",
         nullptr,
         {"error: B: the startup command is 2050 characters (with its default arguments); the launcher accepts at "
          "most 2047, shorten it"}},
        {"clause with blanks instead of TABs",
         "1\n* 0 * Linux_verAny_UP0_xAny.wrapcfg\n" + kTail,
         nullptr,
         {"error: B: clause 0 (line 2) '* 0 * Linux_verAny_UP0_xAny.wrapcfg' is not four TAB-separated fields "
          "(distribution, update level, processor, file name): it has 0 TABs (blanks do not separate fields); "
          "separate the fields with one TAB each"}},
        {"text after the star",
         "1\n*x\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg\n" + kTail,
         nullptr,
         {"error: B: clause 0 (line 2) names '*\\tLinux_verAny_UP0_xAny.wrapcfg', which is not in the image; add the "
          "file to the content or fix the clause",
          "error: B: clause 0 (line 2) field 1 '*x' begins with '*': the launcher takes the '*' alone as field 1 and "
          "reads the rest as the next field; write '*' alone or a distribution"}},
        {"update level not a number",
         "1\n*\tX\t*\tLinux_verAny_UP0_xAny.wrapcfg\n" + kTail,
         nullptr,
         {"error: B: clause 0 (line 2) update level 'X' is not a number (the launcher reads it as 0); write the "
          "lowest update level in digits, or * for any"}},
        {"release not a number",
         "1\nRHELX\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg\n" + kTail,
         nullptr,
         {"error: B: clause 0 (line 2) release 'X' in 'RHELX' is not a number; write RHEL3, RHEL4 or RHEL5, or RHEL "
          "alone for any release"}},
        {"processor as uname prints it",
         "1\n*\t0\tx86_64\tLinux_verAny_UP0_xAny.wrapcfg\n" + kTail,
         nullptr,
         {"error: B: clause 0 (line 2) processor 'x86_64' is not one the launcher matches; write x86 (i386 and x86_64 "
          "systems), x64 (x86_64 and ppc64), ppc64 or *"}},
        {"unknown argsControl word",
         "1\n" + kClause + "./image/kickoff.cfg\n./image\n\n./kickoff\n\nappnd\n",
         nullptr,
         {"error: B: argsControl (line 8) 'appnd' begins with no known word, so the launcher appends the user's "
          "arguments; begin the line with append, prepend, override or discard"}},
        {"startup directory not in the image",
         "1\n" + kClause + "./image/kickoff.cfg\n./imag\n\n./kickoff\n\n\n",
         nullptr,
         {"error: B: startupDir (line 4) './imag' is not a folder in the image, so the launcher's cd fails and the "
          "startup command runs in the working directory; add the folder to the content or fix the line"}},
        {"startup directory outside",
         "1\n" + kClause + "\n..\n\n../start.sh\n\n\n",
         nullptr,
         {"error: B: startupDir (line 4) '..' leads out of the unpacked image, so the startup command runs on "
          "whatever the server has there; name a folder inside the image"}},
        {"entry with ..",
         "1\n" + kClause + kTail,
         [](Sources& s) { s.imageWithEntry("image/../../evil.txt"); },
         {"error: image 'IMG': entry 'image/../../evil.txt' has a '..' component, so unzipping writes outside the "
          "working directory; rebuild the zip with paths inside the content folder"}},
        {"entry with an absolute path",
         "1\n" + kClause + kTail,
         [](Sources& s) { s.imageWithEntry("/etc/evil"); },
         {"error: image 'IMG': entry '/etc/evil' has an absolute path, so unzipping writes outside the working "
          "directory; rebuild the zip with paths relative to the content folder"}},
        {"big-endian directory for this launcher",
         "1\n" + kClause + kTail,
         [](Sources& s) { s.cmd.push_back("--big-endian"); },
         {"error: launcher 'LAUNCHER' is a little-endian program, which reads the directory little-endian; build "
          "without --big-endian"}},
        {"several at once",
         "1\nRHEL\t2a\tx86 x64\tLinux_verAny_UP0_xAny.wrapcfg\n\nimage\n\n./kickoff\n\nsome\n",
         nullptr,
         {"error: B: clause 0 (line 2) update level '2a' is not a number (the launcher reads it as 2); write the "
          "lowest update level in digits, or * for any",
          "error: B: argsControl (line 8) 'some' begins with no known word, so the launcher appends the user's "
          "arguments; begin the line with append, prepend, override or discard"}},
        // Warnings only: the package is written.
        {"distribution no system reports",
         "1\nUbuntu22\t0\tx86\tLinux_verAny_UP0_xAny.wrapcfg\n" + kTail,
         nullptr,
         {"warning: B: clause 0 (line 2) distribution 'Ubuntu22' is none the launcher tells apart: it never fits "
          "RedHat, SuSE or NLD systems and fits every other one (field 1 is not examined there); the launcher "
          "reports RedHat, SuSE, NLD, Unknown, or the ID of /etc/os-release with a capital first letter (Ubuntu, "
          "Debian...); write RHEL, RHEL3-5, SLES, SLES9, SLES10 or *"}},
        {"ppc64 alone",
         "1\n*\t0\tppc64\tLinux_verAny_UP0_xAny.wrapcfg\n" + kTail,
         nullptr,
         {"warning: B: clause 0 (line 2) processor 'ppc64' sets no requirement: the launcher tests only x86 and x64, "
          "so this clause fits every processor; write x64 to leave out 32-bit systems"}},
        {"byte order mark",
         "\xef\xbb\xbf; clauses\n1\n" + kClause + kTail,
         nullptr,
         {"error: B begins with a UTF-8 byte order mark (bytes EF BB BF), which the launcher reads as part of line 1 "
          "'\\xef\\xbb\\xbf; clauses'; save the file without it (as plain UTF-8 or ASCII)"}},
        {"count smaller than the clauses",
         "; c\n1\n" + kClause + "SLES10\t0\tx64\tLinux_verAny_UP0_xAny.wrapcfg\n" + kTail,
         nullptr,
         {"error: B: the count line (line 2) says 1 clause, but the line after them, "
          "'SLES10\\t0\\tx64\\tLinux_verAny_UP0_xAny.wrapcfg', is a clause too (four TAB-separated fields); count "
          "every clause line"}},
        {"count larger than the clauses",
         "2\n" + kClause + kTail,
         nullptr,
         {"error: B: the count line (line 1) says 2 clauses, but clause 1 (line 3) './image/kickoff.cfg' has no TAB: "
          "it is the next value line; count only the clause lines"}},
        {"startup program not in the image",
         "1\n" + kClause + "./image/kickoff.cfg\n./image\n\n./strat.sh\n\noverride\n",
         nullptr,
         {"error: B: the startup command (line 6) runs './strat.sh' from startupDir './image', which is not in the "
          "image, so the shell says 'not found' (exit 127); add it to the content or fix the command"}},
        {"startup program left to the setup command",
         "1\n" + kClause + "./image/kickoff.cfg\n./image\n/bin/cp ../kickoff kickoff\n./kickoff\n\noverride\n",
         nullptr,
         {"warning: B: the startup command (line 6) runs './kickoff' from startupDir './image', which is not in the "
          "image; the setup command must put it there, or the shell says 'not found' (exit 127)"}},
        {"startup script with CR LF",
         "1\n" + kClause + "./image/kickoff.cfg\n./image\n\n./start.sh\n\noverride\n",
         [](Sources& s) { testutil::writeFile(s.content + "/image/start.sh", "#!/bin/sh\r\necho hi\r\n", 0755); },
         {"error: B: the startup command (line 6) runs './start.sh', a script with CR LF line ends: the shell reads "
          "each line with a carriage return at its end (\"./start.sh: not found\"); save it with LF line ends"}},
        {"startup program for another processor",
         "1\n" + kClause + "./image/kickoff.cfg\n./image\n\n./prog\n\noverride\n",
         [](Sources& s) {
             testutil::writeFile(s.content + "/image/prog",
                                 std::string("\x7f"
                                             "ELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0",
                                             20) +
                                     "code",
                                 0755);
         },
         {"warning: B: the startup command (line 6) runs './prog', a 32-bit x86 program, but the launcher is a 64-bit "
          "x86-64 one: where the kernel runs only the launcher's kind it fails with 'Exec format error' (exit 126); "
          "pack the program built for the launcher's processor"}},
        {"release the matcher does not check",
         "1\nRHEL7\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg\n" + kTail,
         nullptr,
         {"warning: B: clause 0 (line 2) 'RHEL7' checks no release: the launcher tells apart only RHEL3, RHEL4 and "
          "RHEL5, so this clause fits every Red Hat release; write RHEL to say so"}},
    };
    for (const Mistake& c : cases) {
        Sources s;
        testutil::writeFile(s.bootcfg, c.bootcfg);
        if (c.setup) c.setup(s);
        std::string want;
        int errors = 0;
        for (const std::string& line : c.lines) {
            std::string l = replaceB(line, "boot configuration '" + s.bootcfg + "'");
            size_t at;
            if ((at = l.find("IMG")) != std::string::npos) l.replace(at, 3, s.dir.file("image.zip"));
            if ((at = l.find("LAUNCHER")) != std::string::npos) l.replace(at, 8, pkgfixture::packedProgram("pkgstub"));
            want += "mkpkg: " + l + "\n";
            errors += l.compare(0, 6, "error:") == 0;
        }
        if (errors > 0)
            want += "mkpkg: " + std::to_string(errors) + " problem" + (errors == 1 ? "" : "s") +
                    " found, nothing written; fix them, or pass --force to build anyway\n";
        testutil::RunResult r = pkgfixture::mkpkg(s.cmd);
        EXPECT_EQ(r.err, want) << c.name;
        EXPECT_EQ(r.status, errors > 0 ? 1 : 0) << c.name;
        EXPECT_EQ(testutil::listDir(s.out), errors > 0 ? std::vector<std::string>{} : std::vector<std::string>{"pkg"})
            << c.name;
        if (errors == 0) continue;

        std::vector<std::string> forced = s.cmd;
        forced.push_back("--force");
        r = pkgfixture::mkpkg(forced);
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        ASSERT_EQ(testutil::listDir(s.out), std::vector<std::string>{"pkg"}) << c.name;

        // info finds the same errors in the package.
        r = pkgfixture::mkpkg({"info", s.pkg});
        EXPECT_EQ(r.status, 1) << c.name;
        int reported = 0;
        for (size_t at = r.err.find("mkpkg: error: "); at != std::string::npos;
             at = r.err.find("mkpkg: error: ", at + 1))
            ++reported;
        EXPECT_EQ(reported, errors) << c.name << ": " << r.err;
    }
}

// The directory order a launcher reads right, from its ELF header: byte 5 the data order,
// bytes 18-19 the machine (21 is ppc64).
TEST(Lint, LauncherByteOrderFromTheElfHeader) {
    auto head = [](char order, unsigned machine) {
        std::string h = std::string(
                            "\x7f"
                            "ELF\x02",
                            5) +
                        order + std::string(12, '\0');
        char lo = static_cast<char>(machine & 0xff), hi = static_cast<char>(machine >> 8);
        return order == 2 ? h + hi + lo : h + lo + hi;
    };
    const struct {
        std::string head;
        bool big;
        const char* error;
    } cases[] = {
        {head(1, 62), false, nullptr},  // x86-64
        {head(1, 62), true, "is a little-endian program, which reads the directory little-endian; build without"},
        {head(1, 21), true, "is a little-endian program"},  // ppc64le
        {head(2, 21), false, nullptr},                      // ppc64: swaps a little-endian directory
        {head(2, 21), true,
         "is a ppc64 program, which swaps the directory words it reads, so the directory must be "
         "little-endian; build without --big-endian"},
        {head(2, 22), true, nullptr},  // s390: reads as stored
        {head(2, 22), false,
         "is a big-endian program for a processor whose class is not ppc64, which reads the "
         "directory as stored; build with --big-endian"},
    };
    for (const auto& c : cases) {
        std::vector<mkpkg::Problem> p = mkpkg::lintLauncherByteOrder("launcher 'L'", c.head, c.big);
        if (!c.error) {
            EXPECT_TRUE(p.empty()) << c.head.size();
            continue;
        }
        ASSERT_EQ(p.size(), 1u);
        EXPECT_EQ(p[0].severity, mkpkg::Severity::Error);
        EXPECT_EQ(p[0].text.find(std::string("launcher 'L' ") + c.error), 0u) << p[0].text;
    }
    std::vector<mkpkg::Problem> p = mkpkg::lintLauncherByteOrder("launcher 'L'", "#!/bin/sh\n", false);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].severity, mkpkg::Severity::Warning);
}

// One package, several target systems: the fitting clause and why each earlier one did not fit.
TEST(Lint, InfoSystemShowsTheFittingClauseForAnotherSystem) {
    Sources s;
    for (const char* f : {"r4.cfg", "s10.cfg", "x64.cfg"}) testutil::writeFile(s.content + "/" + f, "x");
    testutil::writeFile(s.bootcfg, "4\nRHEL4\t2\tx86\tr4.cfg\nSLES10\t0\tx64\ts10.cfg\n*\t0\tx64\tx64.cfg\n" + kClause +
                                       "./image/kickoff.cfg\n./image\n\n../kickoff\n-q\nappend\n");
    ASSERT_EQ(pkgfixture::mkpkg(s.cmd).status, 0);
    const struct {
        const char* system;
        std::vector<std::string> lines;
    } cases[] = {
        {"RedHat 4 4 2.6.9 i686",
         {"target system (--system): Linux RedHat release 4 update 4 kernel 2.6.9 (for i386)",
          "fitting clause: 0 (file 'r4.cfg')"}},
        {"RedHat 4 1 2.6.9 x86_64",
         {"  clause 0 does not fit: field 2 '2': update 1 is below 2",
          "  clause 1 does not fit: field 1 'SLES10': RedHat 4 needs RHEL", "fitting clause: 2 (file 'x64.cfg')"}},
        {"SuSE 10 0 2.6.16 ppc64", {"fitting clause: 1 (file 's10.cfg')"}},
        {"NLD 9 0 2.6.5 i386",
         {"  clause 1 does not fit: field 1 'SLES10': release 9, not 10",
          "  clause 2 does not fit: field 3 'x64': class i386 lacks 64",
          "fitting clause: 3 (file "
          "'Linux_verAny_UP0_xAny.wrapcfg')"}},
        {"Ubuntu 22 4 6.1 x86_64", {"fitting clause: 0 (file 'r4.cfg')"}},  // field 1 is not examined
        {"Debian 12 0 6.1 aarch64",
         {"target system (--system): Linux Debian release 12 update 0 kernel 6.1 (for Unknown)",
          "  clause 0 does not fit: field 2 '2': update 0 is below 2",
          "  clause 1 does not fit: field 3 'x64': class Unknown lacks 64",
          "fitting clause: 3 (file "
          "'Linux_verAny_UP0_xAny.wrapcfg')"}},
    };
    for (const auto& c : cases) {
        testutil::RunResult r = pkgfixture::mkpkg({"info", s.pkg, "--system", c.system});
        EXPECT_EQ(r.status, 0) << c.system << ": " << r.err;
        for (const std::string& line : c.lines)
            EXPECT_NE(r.out.find("\n" + line + "\n"), std::string::npos) << c.system << ": " << line << "\n" << r.out;
    }
    // A system described by its release files; kernel and processor come from this machine.
    mkdir(s.dir.file("sles15").c_str(), 0755);
    mkdir(s.dir.file("sles15/etc").c_str(), 0755);
    testutil::writeFile(s.dir.file("sles15/etc/os-release"), "NAME=\"SLES\"\nVERSION_ID=\"15.5\"\nID=\"sles\"\n");
    testutil::RunResult r = pkgfixture::mkpkg({"info", s.pkg, "--system-from", s.dir.file("sles15"), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"schemaVersion\": 2"), std::string::npos);
    EXPECT_NE(r.out.find("\"reason\": \"field 1 'SLES10': release 15, not 10\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Linux SuSE release 15 update 5 kernel "), std::string::npos) << r.out;

    r = pkgfixture::mkpkg({"info", s.pkg, "--system", "RedHat five 4 2.6.18 x86_64"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
              "mkpkg info: --system level 'five' is not a number; write --system 'NAME LEVEL UPDATE KERNEL "
              "PROCESSOR', e.g. 'RedHat 5 4 2.6.18 x86_64'");
}

}  // namespace
