// Fault matrix of the launcher: damaged packages, broken unzip utilities, a hostile /tmp, startup
// commands that die, closed standard streams, unusual ways of starting it, and signals. Every run
// starts a real package (mkpkg around pkgstub and /usr/bin/miniunzip) from a shell inside its own
// mount namespace: a fresh tmpfs on /tmp, /etc overlaid, a fake uname. Each case checks the exit
// status, the exact output, what /tmp holds afterwards, and that the test's own folders are byte for
// byte as they were.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/support/e2esupport.h"
#include "tests/tools/mkpkg/pkgfixture.h"
#include "tests/support/testutil.h"
#include "tests/e2e/support/launchertexts.h"

using testutil::shellQuote;

namespace {

const char* const kKickoff = "#!/bin/sh\n. ./kickoff.cfg\n";
// The package's own work: one line on each stream, naming the directory it was started from.
const char* const kCfg = "echo \"to stderr\" >&2\necho \"ran $* from ${ZAV_RQ_PKG_ORIG_CURR_DIR##*/}\"\n";

const std::string kOsMismatch =
    launchertexts::osMismatch("Linux Unknown release 0 update 0 kernel 6.1.0-e2e (for x86_64)");

const uint32_t kLimit = 0x80000000u;

uint32_t readLe32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(b)]);
    return v;
}

uint32_t readLe16(const std::string& bytes, size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1]))
                                                       << 8;
}

std::string le32(uint32_t v) {
    std::string s;
    for (int b = 0; b < 4; ++b) s += static_cast<char>((v >> (8 * b)) & 0xff);
    return s;
}

struct Sizes {
    uint32_t s[4];
};

Sizes sizesOf(const std::string& pkg) {
    Sizes z;
    for (int i = 0; i < 4; ++i) z.s[i] = readLe32(pkg, pkg.size() - 16 + 4 * static_cast<size_t>(i));
    return z;
}

std::string directory(uint32_t s0, uint32_t s1, uint32_t s2, uint32_t s3) {
    return le32(s0) + le32(s1) + le32(s2) + le32(s3);
}

using launchertexts::addsUpTo;
using launchertexts::incomplete;
using launchertexts::tooBig;

// Fixed bytes that look random (a linear congruential sequence), NUL bytes included.
std::string noise(size_t n, uint32_t seed) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s += static_cast<char>((seed >> 16) & 0xff);
    }
    return s;
}

// What the launcher reports when it stops before the unzip utility runs, read off the package
// bytes by the file format alone: the directory in the last 16 bytes, its limits, and whether
// the elements and the directory add up to the file's length. `decided` is false when they do.
struct Prediction {
    bool decided = true;
    std::string err;
    Sizes dir{};
};

Prediction predictReads(const std::string& bytes) {
    Prediction p;
    if (bytes.size() < 16) {
        p.err = launchertexts::c_seekDirectory;
        return p;
    }
    p.dir = sizesOf(bytes);
    const uint32_t* s = p.dir.s;
    unsigned long long total = 16;
    for (int i = 0; i < 4; ++i) total += s[i];
    // Sizes that do not add up to the file are damage, whatever they say.
    if (total != bytes.size()) {
        p.err = incomplete(total, bytes.size());
        return p;
    }
    for (int i = 0; i < 4; ++i) {
        if (s[i] >= kLimit) {
            p.err = tooBig(i, s[i]);
            return p;
        }
    }
    if (total >= kLimit)
        p.err = addsUpTo(total);
    else
        p.decided = false;
    return p;
}

// How a case starts the package; the shell that does it runs in the namespace.
struct Start {
    std::string cwd = "run";         // relative to the test's folder
    std::string path = "./pkgname";  // as typed
    std::vector<std::string> args{"a"};
    std::string in;                        // redirection of standard input; empty: </dev/null
    std::string out;                       // of standard output (">&-" closes it); empty: into a file the test reads
    std::string err;                       // of standard error
    std::string tmpOptions = "mode=1777";  // the tmpfs on /tmp
    std::string prepare;                   // shell lines run in the namespace before the start
    bool termWhenReady = false;            // SIGTERM to the launcher once $FAULT_READY exists
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    std::string tmp;    // every path below /tmp afterwards, one a line; the working directory is WRK
    std::string procs;  // processes still running in the namespace afterwards, by name, sorted
    std::string wrk;    // name of the launcher's first working directory candidate
    std::string sh;     // "/bin/sh: N: ", how the namespace shell introduces its messages about the start
};

class LauncherFaults : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_MOUNT_NAMESPACE();
        std::string why;
        if (!e2e::canOverlayEtc(&why)) GTEST_SKIP() << "needs an overlay mount on /etc inside unshare -m: " << why;
        for (const char* d : {"run", "src", "res", "other"}) mkdir(root_.file(d).c_str(), 0755);
    }

    std::string pkg() const { return root_.file("run/pkgname"); }
    std::string src(const std::string& name) const { return root_.file("src/" + name); }
    std::string res(const std::string& name) const { return root_.file("res/" + name); }

    // Builds run/pkgname from a fresh content folder (kickoff, the clause file with cfg, image/,
    // extra files) and the shipped boot configuration; returns the package bytes without the digest
    // record, so that the damage a case makes reaches the step it tests (DigestStopsDamage checks
    // the record itself).
    std::string build(const std::string& cfg, const std::vector<std::string>& options = {},
                      const std::vector<std::pair<std::string, std::string>>& extraFiles = {}) {
        std::string content = contentFolder(cfg, extraFiles);
        std::vector<std::string> args{"build", "-o", pkg(), "--content", content, "--bootcfg", bootCfgFile()};
        if (std::find(options.begin(), options.end(), "--unzip") == options.end())
            args.insert(args.end(), {"--unzip", "/usr/bin/miniunzip"});
        // The launcher of this build (sanitized in the sanitizer build), whose file tail the
        // truncation cases read.
        args.insert(args.end(), {"--launcher", testutil::binPath("pkgstub")});
        args.insert(args.end(), options.begin(), options.end());
        testutil::RunResult r = pkgfixture::mkpkg(args);
        EXPECT_EQ(r.status, 0) << "mkpkg: " << r.err;
        return pkgfixture::withoutDigest(testutil::readFile(pkg()));
    }

    std::string contentFolder(const std::string& cfg,
                              const std::vector<std::pair<std::string, std::string>>& extraFiles = {}) {
        std::string content = src("content" + std::to_string(++builds_));
        pkgfixture::writeContent(content, kKickoff, cfg);
        for (const auto& f : extraFiles) testutil::writeFile(content + "/" + f.first, f.second);
        return content;
    }

    std::string bootCfgFile() {
        std::string path = src("boot.cfg");
        testutil::writeFile(path, pkgfixture::shippedBootCfg());
        return path;
    }

    void writePackage(const std::string& bytes) { testutil::writeFile(pkg(), bytes, 0755); }

    // Starts the package as `how` says, inside a namespace of its own, and collects the outcome.
    // Fails the test when anything in the test's folder (results aside) changed.
    Outcome start(const Start& how) {
        const std::string before = e2e::snapshotTree(root_.path(), {"res"});
        for (const char* f : {"out", "err", "status", "pid", "tmp", "procs", "ready"}) unlink(res(f).c_str());
        const bool pidNs = e2e::canUnsharePid(nullptr);

        std::vector<std::string> kept;
        std::string tmpLines = testutil::freshTmpLines("zav_faults_tmp", how.tmpOptions,
                                                       {root_.path(), testutil::binPath("pkgstub")}, &kept);
        std::string listTmp = "find . -mindepth 1";
        for (const std::string& k : kept) listTmp += " -path " + shellQuote("./" + k) + " -prune -o";
        listTmp += kept.empty() ? "" : " -print";
        std::string script = "cd " + shellQuote(root_.file(how.cwd)) + " || exit 125\n" + host_.mountEtcLine() +
                             tmpLines + e2e::privateLockLine() + how.prepare +
                             "\nexport FAULT_READY=" + shellQuote(res("ready")) + "\n";
        const int startLine = static_cast<int>(std::count(script.begin(), script.end(), '\n')) + 1;
        script += how.path;
        for (const std::string& a : how.args) script += " " + shellQuote(a);
        script += " " + (how.in.empty() ? "</dev/null" : how.in) + " " +
                  (how.out.empty() ? ">" + shellQuote(res("out")) : how.out) + " " +
                  (how.err.empty() ? "2>" + shellQuote(res("err")) : how.err) + " &\npid=$!\n";
        if (how.termWhenReady)
            script +=
                "n=0\nwhile [ ! -e \"$FAULT_READY\" ] && [ $n -lt 1000 ]; do sleep 0.01; n=$((n+1)); done\n"
                "kill -TERM $pid\n";
        script += "wait $pid\necho $? >" + shellQuote(res("status")) + "\necho $pid >" + shellQuote(res("pid")) +
                  "\n(cd /tmp && " + listTmp + " | LC_ALL=C sort) >" + shellQuote(res("tmp")) + "\n";
        if (pidNs)
            script +=
                "for p in /proc/[0-9]*; do [ \"${p#/proc/}\" = 1 ] || { read c <\"$p/comm\" && echo \"$c\"; }; done >" +
                shellQuote(res("procs")) + " 2>/dev/null\n";
        script += "exit 0\n";

        std::vector<std::string> argv{"unshare", "-m"};
        if (pidNs) argv.insert(argv.end(), {"--pid", "--fork", "--mount-proc"});
        argv.insert(argv.end(), {"/bin/sh", "-c", script});
        testutil::RunOptions opts;
        opts.env = host_.env();
        opts.timeoutSeconds = 60;
        opts.unsetEnv = {"TMPDIR"};  // the launcher works in /tmp unless a case sets TMPDIR
        testutil::RunResult r = testutil::run(argv, opts);
        EXPECT_EQ(r.status, 0) << "the namespace script did not run through: " << r.err;

        Outcome o;
        o.status = atoi(testutil::readFile(res("status")).c_str());
        o.out = testutil::readFile(res("out"));
        o.err = testutil::readFile(res("err"));
        char name[32];
        snprintf(name, sizeof(name), "zav_rq_pkg_%08x",
                 static_cast<unsigned>(atoi(testutil::readFile(res("pid")).c_str())));
        o.wrk = name;
        o.sh = "/bin/sh: " + std::to_string(startLine) + ": ";
        for (std::string line : lines(testutil::readFile(res("tmp")))) {
            if (line.compare(0, 2, "./") == 0) line = line.substr(2);
            if (line.compare(0, o.wrk.size(), o.wrk) == 0) line = "WRK" + line.substr(o.wrk.size());
            o.tmp += line + "\n";
        }
        std::vector<std::string> procs = lines(testutil::readFile(res("procs")));
        std::sort(procs.begin(), procs.end());
        for (const std::string& p : procs) o.procs += p + "\n";

        EXPECT_EQ(e2e::snapshotTree(root_.path(), {"res"}), before) << "the run changed the test's folders";
        return o;
    }

    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            out.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return out;
    }

    testutil::TempDir root_;
    e2e::HostView host_{root_.path()};
    int builds_ = 0;
};

// A case of a table: the package bytes and what must come of starting them.
struct Expect {
    int status;
    std::string out;
    std::string err;
    std::string tmp;  // what /tmp holds afterwards ("" nothing)
};

void check(const Outcome& o, const Expect& e, const std::string& name) {
    EXPECT_EQ(o.status, e.status) << name;
    EXPECT_EQ(o.out, e.out) << name;
    EXPECT_EQ(o.err, e.err) << name;
    EXPECT_EQ(o.tmp, e.tmp) << name;
}

// ---------------------------------------------------------------------------------------------
// Damaged packages

// Cut at each element's start and at the directory's, and one byte either side: whatever the last
// 16 bytes then say, the launcher stops with exit 1, names the first thing that failed and leaves
// no working directory. The two shortest cuts never reach the launcher: the shell that starts a
// 0-byte file runs it as an empty script (status 0), a 1-byte one is refused.
TEST_F(LauncherFaults, TruncatedAtEveryBoundary) {
    const std::string good = build(kCfg);
    const Sizes z = sizesOf(good);
    const size_t bounds[] = {0, z.s[0], z.s[0] + z.s[1], z.s[0] + z.s[1] + z.s[2], z.s[0] + z.s[1] + z.s[2] + z.s[3]};
    ASSERT_EQ(bounds[4] + 16, good.size());
    std::vector<size_t> cuts;
    for (size_t b : bounds)
        for (int d = -1; d <= 1; ++d)
            if (b > 0 || d >= 0) cuts.push_back(b + static_cast<size_t>(d));
    cuts.push_back(good.size() - 1);

    for (size_t cut : cuts) {
        const std::string name = "cut at " + std::to_string(cut);
        const std::string bytes = good.substr(0, cut);
        writePackage(bytes);
        Outcome o = start(Start());
        if (cut == 0) {
            check(o, {0, "", "", ""}, name);
            continue;
        }
        if (cut == 1) {
            check(o, {126, "", o.sh + "./pkgname: Exec format error\n", ""}, name);
            continue;
        }
        Prediction p = predictReads(bytes);
        if (!p.decided) {
            // Every read succeeded: only a cut that leaves a directory of empty elements past the
            // launcher gets here (the tail of an ELF file reads as 1 or 256, 0, 0, 0). The empty
            // unzip utility runs as an empty script; the empty boot configuration fits no system.
            ASSERT_TRUE(p.dir.s[1] == 0 && p.dir.s[2] == 0 && p.dir.s[3] == 0)
                << name << ": unpredicted directory " << p.dir.s[0] << " " << p.dir.s[1] << " " << p.dir.s[2] << " "
                << p.dir.s[3];
            p.err = kOsMismatch;
        }
        check(o, {1, "", p.err, ""}, name);
    }
}

// One byte changed in any element, in an entry name or in the digest record itself: the launcher
// stops before it makes its working directory and names the damage.
TEST_F(LauncherFaults, DigestStopsDamage) {
    build(kCfg);
    const std::string good = testutil::readFile(pkg());
    const Sizes z = sizesOf(good);
    const size_t unzipAt = z.s[0], imageAt = z.s[0] + z.s[1], bootAt = imageAt + z.s[2];
    const size_t name = good.rfind("image/readme.txt", bootAt);  // in the central directory
    ASSERT_NE(name, std::string::npos);
    const struct {
        const char* what;
        size_t at;
        char to;  // 0: flip the low bit
    } damage[] = {
        {"launcher (section table, never loaded)", z.s[0] - 3, 0},
        {"unzip utility", unzipAt + z.s[1] / 2, 0},
        {"image data", imageAt + 40, 0},
        {"entry name image/ -> iMage/", name + 1, 'M'},
        {"boot configuration", bootAt + 2, 0},
        {"digest record value", bootAt + z.s[3] - 5, 0},
        {"digest record marker", bootAt + z.s[3] - 20, 0},
    };
    const std::regex mismatch(
        "Failed checking package: its digest records crc32 [0-9a-f]{8}, but its bytes give "
        "crc32 [0-9a-f]{8}; the package file is damaged\n");
    const std::regex damagedRecord(
        "Failed checking package: the digest record at the end of the boot configuration "
        "reads '.*' where '; package digest crc32 ' and eight hexadecimal digits were "
        "expected; the package file is damaged\n");
    for (const auto& d : damage) {
        std::string bytes = good;
        bytes[d.at] = d.to ? d.to : static_cast<char>(bytes[d.at] ^ 1);
        ASSERT_NE(bytes, good) << d.what;
        writePackage(bytes);
        Outcome o = start(Start());
        EXPECT_EQ(o.status, 1) << d.what;
        EXPECT_EQ(o.out, "") << d.what;
        EXPECT_TRUE(std::regex_match(o.err, mismatch) || std::regex_match(o.err, damagedRecord))
            << d.what << ": " << o.err;
        EXPECT_EQ(o.tmp, "") << d.what;
    }
}

// Directories that do not describe the file, and elements of size 0.
TEST_F(LauncherFaults, DamagedDirectory) {
    const std::string good = build(kCfg);
    const Sizes z = sizesOf(good);
    const uint32_t s0 = z.s[0], s1 = z.s[1], s2 = z.s[2], s3 = z.s[3];
    const std::string launcher = good.substr(0, s0), unzip = good.substr(s0, s1), image = good.substr(s0 + s1, s2),
                      bootcfg = good.substr(s0 + s1 + s2, s3);
    const std::string body = launcher + unzip + image + bootcfg;
    const unsigned long long real = good.size();
    const uint32_t third = 0x55555555u;  // three of these and one more make 4 GiB

    struct Case {
        const char* name;
        std::string bytes;
        Expect expect;
    };
    const Case cases[] = {
        {"launcher size past the end",
         body + directory(s0 + 100000, s1, s2, s3),
         {1, "", incomplete(real + 100000, real), ""}},
        {"boot configuration past the end",
         body + directory(s0, s1, s2, s3 + 17),
         {1, "", incomplete(real + 17, real), ""}},
        {"image past the end", body + directory(s0, s1, s2 + 1000, 0), {1, "", incomplete(real - s3 + 1000, real), ""}},
        {"unzip utility past the end",
         body + directory(s0, s1 + 100000, 0, 0),
         {1, "", incomplete(real - s2 - s3 + 100000, real), ""}},
        {"launcher size short of the start",
         body + directory(s0 - 1, s1, s2, s3),
         {1, "", incomplete(real - 1, real), ""}},
        {"sizes add up past 2 GiB",
         body + directory(s0, s1, 0x7ffffff0u, 0x7ffffff0u),
         {1, "", incomplete(16ull + s0 + s1 + 0x7ffffff0ull * 2, real), ""}},
        // In 32 bits these sizes add up to the true length again.
        {"sizes wrap round 4 GiB",
         body + directory(s0, s1 + third, s2 + third, s3 + third + 1),
         {1, "", incomplete(real + 0x100000000ull, real), ""}},
        {"element of 2 GiB", body + directory(s0, s1, kLimit, s3), {1, "", incomplete(real - s2 + kLimit, real), ""}},
        {"element of 4 GiB less one",
         body + directory(0xffffffffu, s1, s2, s3),
         {1, "", incomplete(real - s0 + 0xffffffffull, real), ""}},
        {"bytes appended after the directory",
         good + "appended garbage",
         {1, "",
          incomplete(16ull + readLe32("appe", 0) + readLe32("nded", 0) + readLe32(" gar", 0) + readLe32("bage", 0),
                     real + 16),
          ""}},
        // miniunzip cannot open an empty archive; it says so on its standard output, which the
        // launcher sends to /dev/null: a bare exit 1.
        {"image of size 0", launcher + unzip + bootcfg + directory(s0, s1, 0, s3), {1, "", "", ""}},
        // The shell runs an empty file as an empty script: the "unzip" succeeds and extracts
        // nothing, so the setup line and the startup command find nothing either.
        {"unzip utility of size 0",
         launcher + image + bootcfg + directory(s0, 0, s2, s3),
         {127, "",
          "/bin/cp: cannot stat 'Linux_verAny_UP0_xAny.wrapcfg': No such file or directory\n"
          "/bin/cp: cannot stat 'kickoff.cfg': No such file or directory\n"
          "/bin/cp: cannot stat '../kickoff': No such file or directory\n"
          "chmod: cannot access 'kickoff': No such file or directory\n"
          "sh: 1: ./kickoff: not found\n",
          ""}},
        {"boot configuration of size 0", launcher + unzip + image + directory(s0, s1, s2, 0), {1, "", kOsMismatch, ""}},
        {"all sizes 0", body + directory(0, 0, 0, 0), {1, "", incomplete(16, real), ""}},
    };
    for (const Case& c : cases) {
        writePackage(c.bytes);
        check(start(Start()), c.expect, c.name);
    }
}

// Damaged images. miniunzip, the unzip utility the product ships, reports a bad CRC or a failed
// write on its standard output (sent to /dev/null) and still exits 0, so the launcher goes on with
// what it extracted. Info-ZIP's unzip in its place exits non-zero and the run stops.
TEST_F(LauncherFaults, CorruptImage) {
    // A stored (uncompressed) image whose clause file comes last; one byte of that file is flipped
    // in the package (mkpkg itself refuses an image that fails its CRC check).
    const std::string content = contentFolder(kCfg);
    const std::string storedZip = src("stored.zip");
    testutil::RunResult z = testutil::runShell("cd " + shellQuote(content) + " && zip -q -0 -r " +
                                               shellQuote(storedZip) + " kickoff image Linux_verAny_UP0_xAny.wrapcfg");
    ASSERT_EQ(z.status, 0) << z.err;
    const struct {
        const char* name;
        const char* unzip;
        Expect expect;
    } flipped[] = {
        {"bad CRC, miniunzip", "/usr/bin/miniunzip", {0, "Ran a from run\n", "to stderr\n", ""}},
        {"bad CRC, Info-ZIP unzip", "/usr/bin/unzip", {1, "", " bad CRC 96c979bc  (should be e5503f20)\n", ""}},
    };
    for (const auto& c : flipped) {
        testutil::RunResult r = pkgfixture::mkpkg(
            {"build", "-o", pkg(), "--image", storedZip, "--bootcfg", bootCfgFile(), "--unzip", c.unzip});
        ASSERT_EQ(r.status, 0) << r.err;
        std::string bytes = pkgfixture::withoutDigest(testutil::readFile(pkg()));
        size_t at = bytes.find("ran $*");
        ASSERT_NE(at, std::string::npos);
        bytes[at] = 'R';
        writePackage(bytes);
        check(start(Start()), c.expect, c.name);
    }

    // The image mkpkg writes: a byte flipped inside the compressed data of its last deflated
    // entry (the clause file; mkpkg stores kickoff, which deflate does not make smaller), or the
    // end-of-central-directory signature damaged.
    const std::string good = build(kCfg);
    const Sizes sz = sizesOf(good);
    const size_t imageAt = sz.s[0] + sz.s[1];
    const std::string image = good.substr(imageAt, sz.s[2]);
    size_t kick = std::string::npos;
    for (size_t at = image.find(std::string("PK\x03\x04", 4)); at != std::string::npos;
         at = image.find(std::string("PK\x03\x04", 4), at + 4))
        if (readLe16(image, at + 8) == 8) kick = at;  // compression method: deflate
    ASSERT_NE(kick, std::string::npos);
    const size_t dataAt = kick + 30 + readLe16(image, kick + 26) + readLe16(image, kick + 28);
    std::string deflated = good;
    deflated[imageAt + dataAt + 2] = static_cast<char>(deflated[imageAt + dataAt + 2] ^ 0x55);
    std::string noEnd = good;
    size_t eocd = noEnd.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(eocd, std::string::npos);
    noEnd[eocd + 3] = 0x07;
    const struct {
        const char* name;
        std::string bytes;
        Expect expect;
    } damaged[] = {
        // miniunzip gives up at the damaged first entry and still exits 0: the launcher goes on
        // without the rest of the content, and the setup and startup commands fail.
        {"deflated data damaged",
         deflated,
         {127, "",
          "/bin/cp: cannot create regular file './image/kickoff.cfg': No such file or directory\n"
          "/bin/cp: cannot stat 'kickoff.cfg': No such file or directory\n"
          "/bin/cp: cannot stat '../kickoff': No such file or directory\n"
          "chmod: cannot access 'kickoff': No such file or directory\n"
          "sh: 1: ./kickoff: not found\n",
          ""}},
        // Refused by miniunzip; its words go to /dev/null: a bare exit 1.
        {"end of central directory damaged", noEnd, {1, "", "", ""}},
    };
    for (const auto& c : damaged) {
        writePackage(c.bytes);
        check(start(Start()), c.expect, c.name);
    }
}

// Element 1 is run as "./miniunz image.zip > /dev/null" through the shell: what is not a program
// for this machine is refused by the shell or, being text, read by it as a script.
TEST_F(LauncherFaults, BrokenUnzipUtility) {
    struct Case {
        const char* name;
        std::string unzip;
        Expect expect;
    };
    const Case cases[] = {
        {"garbage bytes", noise(4096, 7), {1, "", "sh: 1: ./miniunz: Exec format error\n", ""}},
        {"a text file", "this is not an unzip program\n", {1, "", "./miniunz: 1: this: not found\n", ""}},
        {"dies by SIGSEGV", "#!/bin/sh\nkill -SEGV $$\n", {1, "", "Segmentation fault\n", ""}},
        {"dies by SIGKILL", "#!/bin/sh\nkill -KILL $$\n", {1, "", "Killed\n", ""}},
    };
    for (const Case& c : cases) {
        testutil::writeFile(src("unzip"), c.unzip, 0755);
        build(kCfg, {"--unzip", src("unzip")});
        check(start(Start()), c.expect, c.name);
    }
}

// /tmp full, full only once the image expands, mounted noexec, or read-only.
TEST_F(LauncherFaults, HostileTmp) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> extraFiles;
        std::string tmpOptions;
        Expect expect;
        const char* unzip = "/usr/bin/miniunzip";
    };
    const Case cases[] = {
        // Each is refused before anything is made: the unpacked image would not fit. (Once the run
        // went on: a cut-short image, or an empty kickoff that "succeeded".)
        {"full: the image does not fit", {{"noise.bin", noise(100000, 3)}}, "size=64k", {1, "", "ROOM", ""}},
        {"full: the image does not expand",
         {{"zzfill.bin", std::string(200000, '\0')}},
         "size=64k",
         {1, "", "ROOM", ""}},
        {"full: the image does not expand, Info-ZIP unzip",
         {{"zzfill.bin", std::string(400000, '\0')}},
         "size=256k",
         {1, "", "ROOM", ""},
         "/usr/bin/unzip"},
        {"noexec",
         {},
         "noexec",
         {1, "",
          "Failed creating installation directory: /tmp is on a file system mounted noexec, where the package "
          "cannot run its programs; set TMPDIR to a directory that allows them.\n",
          ""}},
        {"read-only",
         {},
         "ro",
         {1, "",
          "Failed creating installation directory in /tmp: Read-only file system; set TMPDIR to a writable folder.\n",
          ""}},
    };
    for (const Case& c : cases) {
        build(kCfg, {"--unzip", c.unzip}, c.extraFiles);
        Start how;
        how.tmpOptions = c.tmpOptions;
        Outcome o = start(how);
        Expect e = c.expect;
        const std::regex room(
            "Failed creating installation directory: the package needs [0-9]+ bytes in /tmp, which "
            "has [0-9]+ free; free space there or set TMPDIR to a folder with room.\n");
        if (e.err == "ROOM" && std::regex_match(o.err, room)) e.err = o.err;
        check(o, e, c.name);
    }
}

// The startup command killed, standard streams closed, the package started through a link, by
// a relative path from elsewhere, or through PATH.
TEST_F(LauncherFaults, StartingAndEnding) {
    build(kCfg);
    ASSERT_EQ(symlink("pkgname", root_.file("run/pkglink").c_str()), 0);
    ASSERT_EQ(symlink("../run/pkgname", root_.file("other/pkglink").c_str()), 0);
    struct Case {
        const char* name;
        Start how;
        Expect expect;
    };
    auto from = [](const std::string& cwd, const std::string& path) {
        Start s;
        s.cwd = cwd;
        s.path = path;
        return s;
    };
    auto redirected = [](const std::string& in, const std::string& out, const std::string& err) {
        Start s;
        s.in = in;
        s.out = out;
        s.err = err;
        return s;
    };
    const Case cases[] = {
        {"standard input closed", redirected("<&-", "", ""), {0, "ran a from run\n", "to stderr\n", ""}},
        // The package's own output fails; the launcher itself has nothing to say.
        {"standard output closed",
         redirected("", ">&-", ""),
         {1, "", "to stderr\n./kickoff: 2: echo: echo: I/O error\n", ""}},
        {"standard error closed", redirected("", "", "2>&-"), {0, "ran a from run\n", "", ""}},
        {"through a link beside it", from("run", "./pkglink"), {0, "ran a from run\n", "to stderr\n", ""}},
        {"through a link in another folder", from("other", "./pkglink"), {0, "ran a from other\n", "to stderr\n", ""}},
        {"by a relative path from another folder",
         from("other", "../run/pkgname"),
         {0, "ran a from other\n", "to stderr\n", ""}},
        {"through PATH", from("other", "PATH=../run:$PATH pkgname"), {0, "ran a from other\n", "to stderr\n", ""}},
    };
    for (const Case& c : cases) check(start(c.how), c.expect, c.name);

    // Killed by SIGKILL: the shell that ran it says so and reports 128 + 9.
    build("echo before\nkill -KILL $$\n");
    check(start(Start()), {137, "before\n", "Killed\n", ""}, "startup command killed");

    // A damaged package with standard error closed: nothing at all but the status.
    const std::string good = testutil::readFile(pkg());
    writePackage(good.substr(0, good.size() - 1));
    check(start(redirected("", "", "2>&-")), {1, "", "", ""}, "damaged, standard error closed");
}

// SIGTERM to the launcher while the unzip utility or the startup command runs (an orchestrator's
// timeout): passed on to the package's processes, which end; the launcher waits for the last of
// them, removes the working directory and exits with 128 + 15.
TEST_F(LauncherFaults, SigtermEndsThePackageAndRemovesTheWorkingDirectory) {
    std::string why;
    if (!e2e::canUnsharePid(&why)) GTEST_SKIP() << "needs a private process namespace (unshare --pid): " << why;
    // Says it is ready only once its sleep has started, so the processes left are known.
    const std::string waiting =
        "sleep 30 &\np=$!\nc=\nwhile [ \"$c\" != sleep ]; do read c <\"/proc/$p/comm\"; done\n: "
        ">\"$FAULT_READY\"\nwait\n";
    Start how;
    how.termWhenReady = true;

    testutil::writeFile(src("slow-unzip"), "#!/bin/sh\n" + waiting, 0755);
    build(kCfg, {"--unzip", src("slow-unzip")});
    Outcome o = start(how);
    check(o,
          {143, "",
           "\nPackage interrupted by signal 15 (SIGTERM) while unpacking; its working directory was removed.\n", ""},
          "during unzip");
    EXPECT_EQ(o.procs, "") << "during unzip";

    build(waiting);
    o = start(how);
    check(o, {143, "", "", ""}, "during the startup command");
    EXPECT_EQ(o.procs, "") << "during the startup command";
}

}  // namespace
