#include "launcher/sysident.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "launcher/console.h"
#include "tests/launcher/launcher_test.h"

namespace {

using testutil::readFile;
using testutil::writeFile;

class SysIdentTest : public LauncherTest {
protected:
    // Identifies from the test's own etc/ folder.
    void collectFromTmp() { collectOsLevelInfoFrom(&ctx, tmp.path().c_str()); }
    // uname answered in place of the real one: each command line must have its exact form; the
    // text for its option goes where the line sends the output; the options are logged in order.
    void fakeUname(const std::string& r, const std::string& i, int status = 0, const std::string& m = "") {
        unameCalls_.clear();
        recordCommands([this, r, i, m, status](const std::string& cmd) {
            const std::string opt = cmd.substr(6, 2), tail = "' 2>/dev/null";
            const std::string head = "uname " + opt + " >'" + tmp.path() + "/zav_rq_pkg_uname.";
            bool exact = cmd.rfind(head, 0) == 0 && cmd.size() == head.size() + 6 + tail.size() &&
                         cmd.compare(cmd.size() - tail.size(), tail.size(), tail) == 0;
            EXPECT_TRUE(exact) << cmd;
            if (!exact) return 127;
            unameCalls_ += opt + "\n";
            writeFile(cmd.substr(11, cmd.size() - 11 - tail.size()), opt == "-r"   ? r
                                                                     : opt == "-i" ? i
                                                                     : opt == "-m" ? m
                                                                                   : "");
            return status;
        });
    }
    // Names left in the temporary directory besides the test's own files.
    std::vector<std::string> leftovers() {
        std::vector<std::string> left;
        for (const auto& n : testutil::listDir(tmp.path()))
            if (n != "etc" && n != "victim") left.push_back(n);
        return left;
    }
    std::string unameCalls_;
    std::string redhat_ = tmp.file("etc/redhat-release"), suse_ = tmp.file("etc/SuSE-release");
};

TEST(ReleaseText, WorkedExamples) {
    const struct {
        const char* text;
        const char* key;
        int level, update;
    } cases[] = {
        {"Red Hat Enterprise Linux AS release 4 (Nahant Update 4)", "release ", 4, 4},
        {"Red Hat Enterprise Linux ES release 3 (Taroon)", "release ", 3, 0},
        {"Red Hat Enterprise Linux Server release 5 (Tikanga)", "release ", 5, 0},
        {"Red Hat Enterprise Linux Server release 5.2 (Tikanga)", "release ", 5, 2},
        {"a text without the word release", "release ", 0, 0},
        {"SUSE LINUX Enterprise Server 9 (i586)\nVERSION = 9\nPATCHLEVEL = 3", "VERSION = ", 9, 0},
        {"SUSE Linux Enterprise Server 10 (x86_64)\nVERSION = 10\nPATCHLEVEL = 1", "VERSION = ", 10, 0},
        {"Novell Linux Desktop 9 (i586)\nVERSION = 9", "VERSION = ", 9, 0},
        {"SUSE LINUX 10.1 (i586)\nVERSION = 10.1", "VERSION = ", 10, 1},
        {"release 4 (Nahant)\nSee the notes.", "release ", 4, 0},  // a dot anywhere after the key
        {"release 4 (x). 7", "release ", 4, 0},                    // update field ends at the blank
        {"release -2 (Update -3)", "release ", 0, 0},              // negatives become 0
        {"Update 6) release 4", "release ", 4, 6},                 // update searched in the whole text
    };
    SystemFacts facts{};
    for (const auto& c : cases) {
        facts.level = facts.update = -99;
        getDistroLevel(&facts, c.text, c.key);
        EXPECT_EQ(facts.level, c.level) << c.text;
        EXPECT_EQ(facts.update, c.update) << c.text;
    }
    getUpdateLevel(&facts, "x (Update 12)", "Update ");
    EXPECT_EQ(facts.update, 12);
    getUpdateLevel(&facts, "no key", "Update ");
    EXPECT_EQ(facts.update, 0);
}

TEST(ReleaseText, TrimsBlanksControlsAndHighBytes) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"abc  \t\r\n", "abc"}, {"abc\x80", "abc"},     {"abc\xff \x90", "abc"}, {"  ", ""},  {"", ""},
                 {" a b ", " a b"},      {"caf\xc3\xa9", "caf"}, {"x\x01\x1f", "x"},      {"x!", "x!"}};
    for (const auto& c : cases) {
        std::string s = c.in;
        trimTrailingSpaces(&s[0]);
        EXPECT_STREQ(s.c_str(), c.out);
    }
}

TEST_F(SysIdentTest, DescriptionLineIsCutToItsBuffer) {
    setSystem(c_distroName_REDHAT, 4, 4, c_szCPU_I386, "2.6.9-42.ELsmp");
    const std::string full = "Linux RedHat release 4 update 4 kernel 2.6.9-42.ELsmp (for i386)\n";
    for (int size : {512, static_cast<int>(full.size()) + 1, static_cast<int>(full.size()), 10, 1}) {
        char buf[512];
        memset(buf, 'z', sizeof(buf));
        EXPECT_EQ(getOsInfoDesc(&ctx, buf, size), buf);
        EXPECT_EQ(std::string(buf), full.substr(0, size - 1)) << size;
    }
}

TEST_F(SysIdentTest, DistributionFromTheReleaseFiles) {
    const struct {
        const char* redhat;
        const char* suse;
        const char* name;
        int level, update;
    } cases[] = {
        {"Red Hat Enterprise Linux Server release 5.2 (Tikanga)\n", "VERSION = 10", "RedHat", 5, 2},
        {nullptr, "Novell Linux Desktop 9 (i586)\nVERSION = 9\n", "NLD", 9, 0},
        {nullptr, "novell Linux Desktop 9 (i586)\nVERSION = 9\n", "SuSE", 9, 0},
        {nullptr, "SUSE LINUX 10.1 (i586)\nVERSION = 10.1\xa0\n", "SuSE", 10, 1},
        {nullptr, nullptr, "Unknown", 0, 0},
    };
    fakeUname("2.6.16\n", "i386\n");
    for (const auto& c : cases) {
        testutil::runShell("rm -rf " + tmp.file("etc") + " && mkdir " + tmp.file("etc"));
        if (c.redhat) writeFile(redhat_, c.redhat);
        if (c.suse) writeFile(suse_, c.suse);
        setSystem(nullptr, -1, 0, nullptr);
        collectFromTmp();
        EXPECT_STREQ(ctx.system.name, c.name);
        EXPECT_EQ(ctx.system.level, c.level);
        EXPECT_EQ(ctx.system.update, c.update);
        EXPECT_STREQ(ctx.system.kernel, "2.6.16");
    }
}

TEST_F(SysIdentTest, ProcessorClassAndKernelFromUname) {
    const std::string longKernel(200, 'k');
    const struct {
        std::string r, i;
        int status;
        const char* kernel;
        const char* cpu;
    } cases[] = {
        {"2.6.9\n", "X86_64\n", 0, "2.6.9", "x86_64"},
        {"2.6.9", "i386", 0, "2.6.9", "i386"},
        {"x", "PPC64 \n", 0, "x", "ppc64"},
        {"x", "i686\n", 0, "x", "Unknown"},
        {longKernel, "i386", 0, nullptr, "i386"},
        {"", "", 0, "Unknown", "Unknown"},
        {"2.6.9", "i386", 1, "Unknown", "Unknown"},  // a failing uname: nothing counts
    };
    for (const auto& c : cases) {
        fakeUname(c.r, c.i, c.status);
        setSystem(nullptr, 0, 0, nullptr, "junk");
        collectFromTmp();
        collectProcessorInfo(&ctx);
        EXPECT_EQ(std::string(ctx.system.kernel), c.kernel ? c.kernel : longKernel.substr(0, 127));
        EXPECT_STREQ(ctx.system.processor, c.cpu);
        EXPECT_TRUE(leftovers().empty()) << "uname output file left behind";
    }
}

TEST_F(SysIdentTest, UnameOutputNeverGoesThroughAFixedName) {
    // Someone prepared the old fixed name as a link to a file root must not overwrite.
    writeFile(tmp.file("victim"), "precious");
    ASSERT_EQ(symlink(tmp.file("victim").c_str(), tmp.file("zav_rq_pkg_uname.txt").c_str()), 0);
    fakeUname("2.6.9", "i386");
    char buf[64];
    EXPECT_EQ(unameExec(&ctx, "-r", buf, sizeof(buf)), 5);
    EXPECT_EQ(std::string(buf, 5), "2.6.9");
    EXPECT_EQ(readFile(tmp.file("victim")), "precious");
    EXPECT_EQ(leftovers(), std::vector<std::string>{"zav_rq_pkg_uname.txt"});
}

TEST_F(SysIdentTest, ExportsSixVariablesIdentifyingOnce) {
    fakeUname("2.6.9-42.ELsmp", "i386");
    ctx.debug = 1;
    std::string out = stdoutOf([this] {
        collectFromTmp();  // no release files there
        setOsInfoEnvVars(&ctx, "/first");
        setOsInfoEnvVars(&ctx, "/home/admin dir");
    });
    EXPECT_EQ(out, "++ uname -r --> '2.6.9-42.ELsmp'\n++ uname -i --> 'i386'\n");
    EXPECT_EQ(unameCalls_, "-r\n-i\n");
    const struct {
        const char* name;
        const char* value;
    } vars[] = {{"ZAV_RQ_PKG_ORIG_CURR_DIR", "/home/admin dir"},
                {"ZAV_RQ_PKG_LINUX_DISTRO_NAME", "Unknown"},
                {"ZAV_RQ_PKG_LINUX_DISTRO_LEVEL", "0"},
                {"ZAV_RQ_PKG_LINUX_UPDATE_LEVEL", "0"},
                {"ZAV_RQ_PKG_LINUX_KERNEL_LEVEL", "2.6.9-42.ELsmp"},
                {"ZAV_RQ_PKG_LINUX_PROCESSOR", "i386"}};
    for (const auto& v : vars) EXPECT_STREQ(getenv(v.name), v.value) << v.name;
}

TEST_F(SysIdentTest, ReadsFilesWithStandardInputClosed) {
    writeFile(tmp.file("release"), "release 4");
    int saved = dup(0);
    close(0);
    char buf[16];
    int n = readFileToBuf(tmp.file("release").c_str(), buf, sizeof(buf));  // opens as descriptor 0
    dup2(saved, 0);
    close(saved);
    EXPECT_EQ(std::string(buf, n > 0 ? n : 0), "release 4");
    EXPECT_EQ(readFileToBuf(tmp.file("release").c_str(), buf, 3), 3);
    EXPECT_EQ(readFileToBuf(tmp.file("missing").c_str(), buf, 3), 0);
}

}  // namespace

namespace {

TEST(ProcessorClass, UnameMachineStandsInWhereUnameHardwareDoesNotAnswer) {
    const struct {
        const char* i;
        const char* m;
        const char* cpu;
    } cases[] = {
        {"x86_64", "i686", "x86_64"},  // an answer of -i decides alone
        {"i686", "i686", "Unknown"},   // as before: -i answered, with a word it does not know
        {"X86_64", nullptr, "x86_64"},
        {"unknown", "x86_64", "x86_64"},
        {"Unknown", "i386", "i386"},
        {nullptr, "i486", "i386"},
        {"", "i586", "i386"},
        {"unknown", "i686", "i386"},
        {"unknown", "i786", "Unknown"},
        {"unknown", "i86", "Unknown"},
        {"unknown", "ppc64", "ppc64"},
        {"unknown", "ppc64le", "Unknown"},
        {"unknown", "aarch64", "Unknown"},
        {"unknown", nullptr, "Unknown"},  // both failed
        {nullptr, "", "Unknown"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(processorClass(c.i, c.m), c.cpu) << (c.i ? c.i : "(failed)") << " / " << (c.m ? c.m : "(failed)");
}

TEST(OsRelease, NameLevelAndUpdateWhenNoOlderReleaseFileExists) {
    const std::string longId(31, 'a'), tooLongId(32, 'a');
    const struct {
        std::string text;
        const char* name;
        int level, update;
    } cases[] = {
        {"NAME=\"SLES\"\nVERSION=\"15-SP5\"\nVERSION_ID=\"15.5\"\nID=\"sles\"\n", "SuSE", 15, 5},
        {"ID=opensuse-leap\nVERSION_ID=\"15.4\"\n", "SuSE", 15, 4},
        {"PRETTY_NAME=\"Ubuntu 22.04.3 LTS\"\nVERSION_ID=\"22.04\"\nID=ubuntu\nID_LIKE=debian\n", "Ubuntu", 22, 4},
        {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\nID=debian\n", "Debian", 12, 0},
        {"ID='rocky'\r\nVERSION_ID='9.2'\r\n", "Rocky", 9, 2},
        {"ID=debian\n", "Debian", 0, 0},       // testing and unstable have no VERSION_ID
        {"VERSION_ID=12\n", "Unknown", 0, 0},  // no ID
        {"ID=\n", "Unknown", 0, 0},
        {"ID=\"two words\"\n", "Unknown", 0, 0},  // not an os-release ID
        {"ID=" + longId + "\n", nullptr, 0, 0},
        {"ID=" + tooLongId + "\n", "Unknown", 0, 0},    // never cut to a different name
        {"XID=debian\n ID=ubuntu\n", "Unknown", 0, 0},  // keys only at the start of a line
        {"ID=arch\nVERSION_ID=-3.x\n", "Arch", 0, 0},
        {"", "Unknown", 0, 0},
    };
    for (const auto& c : cases) {
        ReleaseTexts texts{};
        texts.hasOsRelease = true;
        snprintf(texts.osRelease, sizeof(texts.osRelease), "%s", c.text.c_str());
        SystemFacts facts{};
        distroFromReleaseTexts(&texts, &facts);
        std::string want = c.name ? c.name : "A" + longId.substr(1);
        EXPECT_EQ(std::string(facts.name), want) << c.text;
        EXPECT_EQ(facts.level, c.level) << c.text;
        EXPECT_EQ(facts.update, c.update) << c.text;
    }
}

TEST_F(SysIdentTest, OsReleaseIsReadOnlyWithoutTheOlderFiles) {
    fakeUname("5.14.21\n", "x86_64\n");
    const struct {
        const char* suse;
        const char* name;
        int level, update;
    } cases[] = {
        {"SUSE Linux Enterprise Server 11 (x86_64)\nVERSION = 11\n", "SuSE", 11, 0},
        {nullptr, "Ubuntu", 22, 4},
    };
    for (const auto& c : cases) {
        testutil::runShell("rm -rf " + tmp.file("etc") + " && mkdir " + tmp.file("etc"));
        writeFile(tmp.file("etc/os-release"), "ID=ubuntu\nVERSION_ID=\"22.04\"\n");
        if (c.suse) writeFile(suse_, c.suse);
        setSystem(nullptr, 0, 0, nullptr);
        collectFromTmp();
        EXPECT_STREQ(ctx.system.name, c.name);
        EXPECT_EQ(ctx.system.level, c.level);
        EXPECT_EQ(ctx.system.update, c.update);
    }
    setOsInfoEnvVars(&ctx, "/");
    EXPECT_STREQ(getenv("ZAV_RQ_PKG_LINUX_DISTRO_NAME"), "Ubuntu");
}

TEST_F(SysIdentTest, ProcessorClassFromUnameMachineWhereUnameHardwareSaysUnknown) {
    fakeUname("", "unknown\n", 0, "x86_64\n");
    setSystem(c_distroName_UNKNOWN, 0, 0, nullptr);
    ctx.debug = 1;
    std::string out = stdoutOf([this] { collectProcessorInfo(&ctx); });
    EXPECT_STREQ(ctx.system.processor, "x86_64");
    EXPECT_EQ(out, "++ uname -i --> 'unknown'\n++ uname -m --> 'x86_64'\n");
    EXPECT_EQ(unameCalls_, "-i\n-m\n");
}

}  // namespace
