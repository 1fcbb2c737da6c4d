#include "launcher/bootcfg.h"
#include "pkgformat/osclass.h"

#include <string>

#include "launcher/console.h"
#include "launcher/sysident.h"
#include "tests/launcher/launcher_test.h"

namespace {

using OsClassTest = LauncherTest;

struct System {
    const char* distro;
    int level, update;
    const char* cpu;
};

TEST_F(OsClassTest, ClauseTableAgainstFourSystems) {
    const System systems[4] = {{c_distroName_REDHAT, 4, 4, c_szCPU_I386},
                               {c_distroName_SUSE, 10, 0, c_szCPU_X86_64},
                               {c_distroName_NLD, 9, 0, c_szCPU_I386},
                               {c_distroName_UNKNOWN, 0, 0, c_szCPU_UNKNOWN}};
    //                        clause                                     RH4 SU10 NL9 UN
    const struct {
        const char* clause;
        const char* file;
        bool fits[4];
    } rows[] = {
        {"*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg", "Linux_verAny_UP0_xAny.wrapcfg", {1, 1, 1, 1}},
        {"RHEL4\t2\tx86\tr4.wrapcfg", "r4.wrapcfg", {1, 0, 0, 0}},
        {"RHEL5\t0\t*\tr5.wrapcfg", "r5.wrapcfg", {0, 0, 0, 1}},
        {"RHEL\t5\t*\trx.wrapcfg", "rx.wrapcfg", {0, 0, 0, 0}},
        {"SLES10\t0\tx64\ts10.wrapcfg", "s10.wrapcfg", {0, 1, 0, 0}},
        {"SLES9\t0\tx86\ts9.wrapcfg", "s9.wrapcfg", {0, 0, 1, 0}},
        {"*\t0\tx86\tany86.wrapcfg", "any86.wrapcfg", {1, 1, 1, 0}},
        {"*\t0\tx64\tany64.wrapcfg", "any64.wrapcfg", {0, 1, 0, 0}},
        {"*\t*\t*\tall.wrapcfg", "all.wrapcfg", {1, 1, 1, 1}},
    };
    for (int s = 0; s < 4; ++s) {
        setSystem(systems[s].distro, systems[s].level, systems[s].update, systems[s].cpu);
        for (const auto& r : rows) {
            const char* got = matchOsClass(&ctx, r.clause);
            if (r.fits[s])
                EXPECT_STREQ(got, r.file) << r.clause << " on system " << s;
            else
                EXPECT_EQ(got, nullptr) << r.clause << " on system " << s;
        }
    }
}

TEST_F(OsClassTest, FieldEdges) {
    const std::string f63(63, 'A'), f64(64, 'A'), z63(63, '0'), z64(64, '0');
    const struct {
        System sys;
        std::string clause;
        const char* file;
    } cases[] = {
        {{c_distroName_REDHAT, 3, 8, c_szCPU_I386}, "RHEL3\t9\t*\tf", nullptr},
        {{c_distroName_REDHAT, 3, 8, c_szCPU_I386}, "RHEL3\t8\t*\tf", "f"},
        {{c_distroName_REDHAT, 3, 8, c_szCPU_I386}, "*RHEL3\t8\t*\tf", "*\tf"},  // text after "*" is field 2
        {{c_distroName_SUSE, 10, 0, c_szCPU_ppc64}, "SLES\t0\tx64\tp", "p"},     // x64 admits ppc64
        {{c_distroName_SUSE, 10, 0, c_szCPU_I386}, "SLES\t0\tx86_64\tp", "p"},   // contains x86 only
        {{c_distroName_UNKNOWN, 0, 0, c_szCPU_I386}, "*\t0\t*", ""},             // three fields
        {{c_distroName_UNKNOWN, 0, 0, c_szCPU_I386}, "*\t0\t*\t\tname \t", "name \t"},
        {{c_distroName_UNKNOWN, 0, 0, c_szCPU_I386}, "*\t0\t*\t\t\tname", "\tname"},
        {{c_distroName_UNKNOWN, 0, 0, c_szCPU_I386}, "", ""},
        {{c_distroName_UNKNOWN, 0, 0, c_szCPU_I386}, f63 + "\t0\t*\tf", "f"},
        {{c_distroName_UNKNOWN, 0, 0, c_szCPU_I386}, f64 + "\t0\t*\tf", nullptr},
        {{c_distroName_UNKNOWN, 0, 0, c_szCPU_I386}, "*\t" + z63 + "\t*\tf", "f"},
        {{c_distroName_UNKNOWN, 0, 0, c_szCPU_I386}, "*\t" + z64 + "\t*\tf", nullptr},
        {{c_distroName_UNKNOWN, 0, 0, c_szCPU_I386}, "*\t0\t" + f64 + "\tf", nullptr},
    };
    for (const auto& c : cases) {
        setSystem(c.sys.distro, c.sys.level, c.sys.update, c.sys.cpu);
        const char* got = matchOsClass(&ctx, c.clause.c_str());
        if (c.file)
            EXPECT_STREQ(got, c.file) << c.clause;
        else
            EXPECT_EQ(got, nullptr) << c.clause;
    }
}

TEST_F(OsClassTest, DebugLinesShowEachFieldExamined) {
    setSystem(c_distroName_REDHAT, 5, 0, c_szCPU_X86_64);
    ctx.debug = 1;
    std::string out = stdoutOf([this] { EXPECT_EQ(matchOsClass(&ctx, "RHEL4\t0\t*\tr4"), nullptr); });
    EXPECT_EQ(out, "++     os-class cfg clause:'RHEL4\t0\t*\tr4'\n++     <verName><verRelease> = 'RHEL4'\n");
}

}  // namespace

namespace {

// The reason given for each clause of the worked table on the RH4 and UN systems.
TEST(OsClassVerdict, NamesTheFieldThatRulesTheSystemOut) {
    SystemFacts rh4{"RedHat", 4, 4, "2.6.9", "i386"}, un{"Unknown", 0, 0, "6.1", "Unknown"};
    const std::string longField = std::string(64, 'A') + "\t0\t*\tf";
    const struct {
        const SystemFacts* sys;
        const char* clause;
        int field;
        const char* reason;
    } cases[] = {
        {&rh4, "RHEL4\t2\tx86\tr4", 0, "fits"},
        {&rh4, "RHEL5\t0\t*\tr5", 1, "field 1 'RHEL5': release 4, not 5"},
        {&rh4, "SLES10\t0\tx64\ts", 1, "field 1 'SLES10': RedHat 4 needs RHEL"},
        {&rh4, "RHEL\t5\t*\trx", 2, "field 2 '5': update 4 is below 5"},
        {&rh4, "*\t0\tx64\tany64", 3, "field 3 'x64': class i386 lacks 64"},
        {&un, "RHEL5\t0\t*\tr5", 0, "fits"},
        {&un, "*\t0\tx86\tany86", 3, "field 3 'x86': class Unknown lacks 86"},
        {&un, longField.c_str(), 1, "field 1 '...': longer than 63 characters"},
    };
    for (const auto& c : cases) {
        ClauseVerdict v{-1, ""};
        const char* file = matchOsClassFor(c.sys, c.clause, &v);
        EXPECT_EQ(file != nullptr, c.field == 0) << c.clause;
        EXPECT_EQ(v.field, c.field) << c.clause;
        EXPECT_STREQ(v.reason, c.reason) << c.clause;
    }
}

}  // namespace
