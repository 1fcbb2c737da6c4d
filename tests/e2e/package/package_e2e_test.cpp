// The demo packages where nothing of the build machine exists: a root folder with a static
// busybox as /bin/sh and the few commands the launcher and the package run, an empty /tmp,
// /var/log and /run/lock, and the package. Each run enters it with chroot inside `unshare -m`,
// where /tmp, /var/log, /run and /dev are fresh mounts; the i386 package (where the kernel runs
// 32-bit programs) runs with a 32-bit processor name (setarch i686), so its x86 folder is the one used. Damaged
// packages run there too: each must stop with the unzip utility's one-line reason before the package's own commands
// start.
#include <gtest/gtest.h>

#include <elf.h>
#include <sys/stat.h>

#include <cstring>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/support/nictexts.h"
#include "tests/support/testutil.h"

namespace {

using testutil::readFile;
using testutil::shellQuote;

const char kBusybox[] = "/bin/busybox";
// Every command the launcher, the boot configuration, install.sh and nicburn run.
const char* const kCommands[] = {"sh", "mkdir", "rm", "cp", "chmod", "uname", "ln", "dirname"};

struct Run {
    int status = -1;
    std::string out, err;
};

struct Session {
    std::vector<Run> runs;
    std::string tmpAfter;  // what /tmp held after the runs
    std::string logs;      // names in /var/log after the runs
};

class BareRoot : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef PACKAGES_ARE_STATIC
        GTEST_SKIP() << "this build packs its own dynamically linked programs; the bare root needs the static "
                        "ones of the normal build (build/dist)";
#endif
        std::string why;
        if (!testutil::canUnshareMount(&why)) GTEST_SKIP() << "needs a private mount namespace (unshare -m): " << why;
        if (!testutil::pathExists(kBusybox))
            GTEST_SKIP() << "needs " << kBusybox << " (Debian package busybox-static; tools/install-deps.sh)";
        ASSERT_EQ(mkdir(root().c_str(), 0755), 0);
        for (const char* d : {"bin", "tmp", "var", "var/log", "run", "dev", "proc", "pkg"})
            ASSERT_EQ(mkdir(root(d).c_str(), 0755), 0) << d;
        ASSERT_EQ(testutil::run({"cp", kBusybox, root("bin/busybox")}).status, 0);
        for (const char* c : kCommands) ASSERT_EQ(symlink("busybox", root(std::string("bin/") + c).c_str()), 0) << c;
    }

    std::string root(const std::string& rel = "") const { return dir_.file("root") + (rel.empty() ? "" : "/" + rel); }

    void putPackage(const std::string& name, const std::string& bytes) {
        testutil::writeFile(root("pkg/" + name), bytes, 0755);
    }

    // Runs /pkg/PKG ARGS once per argument list in one namespace; tmpOptions are the mount
    // options of /tmp (e.g. "size=2m"); i686 runs with a 32-bit processor name.
    Session start(const std::string& pkg, const std::vector<std::string>& argLists, bool i686,
                  const std::string& tmpOptions = "") {
        const std::string r = shellQuote(dir_.path()), rt = shellQuote(root());
        std::string script =
            "set -u; R=" + rt + "; O=" + r + "; mount -t tmpfs " +
            (tmpOptions.empty() ? "" : "-o " + shellQuote(tmpOptions) + " ") +
            "none \"$R/tmp\" && mount -t tmpfs none \"$R/var/log\" && mount -t tmpfs none \"$R/dev\" && "
            "mount -t tmpfs none \"$R/run\" && mkdir \"$R/run/lock\" && "
            "mknod -m 666 \"$R/dev/null\" c 1 3 && mount -t proc proc \"$R/proc\" || exit 99; ";
        const std::string enter =
            std::string(i686 ? "setarch i686 " : "") + "chroot \"$R\" /bin/busybox env -i PATH=/bin /bin/sh -c ";
        for (size_t i = 0; i < argLists.size(); ++i) {
            const std::string n = std::to_string(i);
            script += enter + shellQuote("cd /pkg && ./" + pkg + " " + argLists[i]) + " >\"$O/out." + n +
                      "\" 2>\"$O/err." + n + "\" </dev/null; echo $? >\"$O/status." + n + "\"; ";
        }
        script += "ls -A \"$R/tmp\" >\"$O/tmp.after\"; ls -A \"$R/var/log\" >\"$O/logs\"; exit 0";
        testutil::RunOptions opts;
        opts.timeoutSeconds = 120;
        testutil::RunResult res = testutil::run({"unshare", "-m", "sh", "-c", script}, opts);
        EXPECT_EQ(res.status, 0) << "namespace script failed: " << res.err;
        Session s;
        for (size_t i = 0; i < argLists.size(); ++i) {
            const std::string n = std::to_string(i);
            s.runs.push_back({std::stoi("0" + readFile(dir_.file("status." + n))), readFile(dir_.file("out." + n)),
                              readFile(dir_.file("err." + n))});
        }
        s.tmpAfter = readFile(dir_.file("tmp.after"));
        s.logs = readFile(dir_.file("logs"));
        return s;
    }

    // Shows, then updates, the adapters with a demo package; i686: as a 32-bit system would.
    void showAndUpdate(const std::string& package, bool i686) {
        putPackage(package, readFile(std::string(DEMO_DIR) + "/" + package));
        Session s = start(package, {"-v", ""}, i686);
        ASSERT_EQ(s.runs.size(), 2u);
        EXPECT_EQ(s.runs[0].status, 0) << package << ": " << s.runs[0].err;
        EXPECT_EQ(s.runs[0].err, "") << package;
        EXPECT_EQ(s.runs[0].out, nictexts::c_banner + std::string(nictexts::c_tableHead) + nictexts::c_demoTableBefore)
            << package;
        EXPECT_EQ(s.runs[1].status, 0) << package << ": " << s.runs[1].err;
        EXPECT_EQ(s.runs[1].err, "") << package;
        const std::string& update = s.runs[1].out;
        size_t before = update.find(std::string(nictexts::c_tableHead) + nictexts::c_demoTableBefore);
        size_t after = update.find(std::string(nictexts::c_tableHead) + nictexts::c_demoTableAfter);
        EXPECT_NE(before, std::string::npos) << package << "\n" << update;
        EXPECT_NE(after, std::string::npos) << package << "\n" << update;
        EXPECT_LT(before, after) << package;
        EXPECT_EQ(s.logs, "ZAV_Support\n") << package;
        EXPECT_EQ(s.tmpAfter, "") << package << ": left behind in /tmp";
    }

    testutil::TempDir dir_;
};

TEST_F(BareRoot, DemoPackageShowsAndUpdatesTheAdapters) { showAndUpdate("nicfw_demo.bin", false); }

// The i386 package, where this kernel runs 32-bit programs; its x86 folder is the one used.
TEST_F(BareRoot, I386DemoPackageShowsAndUpdatesTheAdapters) {
    SKIP_UNLESS_I386_RUNS();
    showAndUpdate("nicfw_demo_i386.bin", true);
}

uint32_t le32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
    return v;
}

std::string putLe32(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i) & 0xff);
    return s;
}

// A package split into its four elements (the directory is the last 16 bytes), and put together.
struct Elements {
    std::string part[4];
    explicit Elements(const std::string& pkg) {
        size_t at = 0;
        for (int i = 0; i < 4; ++i) {
            uint32_t n = le32(pkg, pkg.size() - 16 + 4 * static_cast<size_t>(i));
            part[i] = pkg.substr(at, n);
            at += n;
        }
    }
    std::string join() const {
        std::string dir;
        for (const std::string& p : part) dir += putLe32(static_cast<uint32_t>(p.size()));
        return part[0] + part[1] + part[2] + part[3] + dir;
    }
};

TEST_F(BareRoot, DamagedPackagesStopBeforeThePackageRuns) {
    const std::string good = readFile(std::string(DEMO_DIR) + "/nicfw_demo.bin");
    const Elements e(good);
    const std::string& image = e.part[2];

    // One byte flipped in the middle of the compressed data of image/x86_64/nicburn.
    const std::string name = "image/x86_64/nicburn";
    size_t local = image.find(std::string("PK\x03\x04", 4));
    while (local != std::string::npos && image.compare(local + 30, name.size(), name) != 0)
        local = image.find(std::string("PK\x03\x04", 4), local + 4);
    ASSERT_NE(local, std::string::npos);
    ASSERT_EQ(static_cast<unsigned char>(image[local + 8]), 8u) << "expected a deflated entry";
    const size_t data = local + 30 + (le32(image, local + 26) & 0xffff) + (le32(image, local + 28) & 0xffff);
    Elements flipped = e;
    flipped.part[2][data + le32(image, local + 18) / 2] ^= 0x10;

    Elements cut = e;
    cut.part[2].resize(image.size() * 2 / 3);

    // Room for the launcher's copies of the image and the unzip utility, not for what they hold.
    const std::string smallTmp = "size=" + std::to_string((e.part[1].size() + image.size()) / 1024 + 512) + "k";

    const struct {
        const char* name;
        std::string bytes;
        std::string tmpOptions;
        const char* err;  // the one line on standard error
    } cases[] = {
        // The digest finds the damage before anything is unpacked.
        {"flipped byte", flipped.join(), "",
         "Failed checking package: its digest records crc32 [0-9a-f]{8}, but its bytes give crc32 [0-9a-f]{8}; the "
         "package file is damaged\n"},
        {"image cut short", cut.join(), "",
         "Failed checking package: its digest records crc32 [0-9a-f]{8}, but its bytes give crc32 [0-9a-f]{8}; the "
         "package file is damaged\n"},
        {"/tmp too small", good, smallTmp,
         "Failed creating installation directory: the package needs [0-9]+ bytes in /tmp, which has [0-9]+ free; free "
         "space there or set TMPDIR to a folder with room.\n"},
    };
    for (const auto& c : cases) {
        putPackage("damaged.bin", c.bytes);
        Session s = start("damaged.bin", {"-v"}, false, c.tmpOptions);
        ASSERT_EQ(s.runs.size(), 1u);
        EXPECT_EQ(s.runs[0].status, 1) << c.name << ": " << s.runs[0].err;
        EXPECT_TRUE(std::regex_match(s.runs[0].err, std::regex(c.err))) << c.name << ": " << s.runs[0].err;
        // Neither the setup command nor kickoff ran: nothing shown, nothing logged.
        EXPECT_EQ(s.runs[0].out, "") << c.name;
        EXPECT_EQ(s.logs, "") << c.name;
        EXPECT_EQ(s.tmpAfter, "") << c.name << ": left behind in /tmp";
    }
}

// The programs packages carry, checked without running them (so on every kernel): each is a
// static program for its processor. The i386 ones only where they were built.
TEST(PackagePrograms, AreStaticProgramsOfTheirProcessor) {
#ifndef PACKAGES_ARE_STATIC
    GTEST_SKIP() << "this build has no static package programs (build/dist)";
#endif
    const struct {
        const char* arch;
        unsigned char elfClass;
        uint16_t machine;
    } arches[] = {{"x86_64", ELFCLASS64, EM_X86_64}, {"i386", ELFCLASS32, EM_386}};
    for (const auto& a : arches) {
        const std::string dir = std::string(DEMO_DIR) + "/../dist/" + a.arch;
        if (std::string(a.arch) == "i386" && !testutil::pathExists(dir)) continue;
        for (const char* p : {"pkgstub", "pkgunzip", "nicburn", "kickoff", "fwsim"}) {
            const std::string f = readFile(dir + "/" + p), what = std::string(a.arch) + "/" + p;
            ASSERT_GT(f.size(), sizeof(Elf64_Ehdr)) << what;
            ASSERT_EQ(f.compare(0, 4, ELFMAG), 0) << what << " is no ELF program";
            EXPECT_EQ(static_cast<unsigned char>(f[EI_CLASS]), a.elfClass) << what;
            uint16_t machine, phnum, phentsize;
            uint64_t phoff;
            if (a.elfClass == ELFCLASS64) {
                Elf64_Ehdr h;
                memcpy(&h, f.data(), sizeof(h));
                machine = h.e_machine, phoff = h.e_phoff, phnum = h.e_phnum, phentsize = h.e_phentsize;
            } else {
                Elf32_Ehdr h;
                memcpy(&h, f.data(), sizeof(h));
                machine = h.e_machine, phoff = h.e_phoff, phnum = h.e_phnum, phentsize = h.e_phentsize;
            }
            EXPECT_EQ(machine, a.machine) << what;
            // A program header's type is its first 32-bit word in both classes.
            for (uint16_t i = 0; i < phnum; ++i) {
                const size_t at = phoff + static_cast<size_t>(i) * phentsize;
                ASSERT_LE(at + 4, f.size()) << what;
                uint32_t type;
                memcpy(&type, f.data() + at, 4);
                EXPECT_NE(type, static_cast<uint32_t>(PT_INTERP)) << what << " names a dynamic loader: not static";
            }
        }
    }
}

}  // namespace
