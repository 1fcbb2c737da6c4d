// pkgunzip run as "pkgunzip image.zip" in a working folder: what it writes, the names it refuses
// and its one-line reasons. Damaged packages end to end are tested on the bare root.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <zlib.h>

#include "tests/support/testutil.h"

namespace {

struct Entry {
    std::string name;
    std::string data;
    int method = Z_DEFLATED;
    long long statedSize = -1;  // >= 0: written raw (data already compressed) with this size stated
};

// Raw deflate data (as a zip entry holds it) of text.
std::string deflated(const std::string& text) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

void writeZip(const std::string& path, const std::vector<Entry>& entries) {
    zipFile zf = zipOpen64(path.c_str(), 0);
    ASSERT_NE(zf, nullptr);
    for (const Entry& e : entries) {
        zip_fileinfo zi{};
        bool raw = e.statedSize >= 0;
        ASSERT_EQ(zipOpenNewFileInZip2(zf, e.name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, e.method,
                                       e.method ? Z_DEFAULT_COMPRESSION : 0, raw ? 1 : 0),
                  ZIP_OK);
        if (!e.data.empty()) {
            ASSERT_EQ(zipWriteInFileInZip(zf, e.data.data(), static_cast<unsigned>(e.data.size())), ZIP_OK);
        }
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
        ASSERT_EQ(raw ? zipCloseFileInZipRaw(zf, static_cast<uLong>(e.statedSize), crc) : zipCloseFileInZip(zf),
                  ZIP_OK);
    }
    ASSERT_EQ(zipClose(zf, nullptr), ZIP_OK);
}

// Runs pkgunzip on image.zip inside work/ of a fresh folder.
struct Unzip {
    testutil::TempDir dir;
    std::string work = dir.file("work");
    testutil::RunResult run(const std::vector<Entry>& entries) {
        mkdir(work.c_str(), 0755);
        writeZip(work + "/image.zip", entries);
        testutil::RunOptions o;
        o.cwd = work;
        return testutil::run({testutil::binPath("pkgunzip"), "image.zip"}, o);
    }
};

TEST(Pkgunzip, ExtractsEveryEntryWithItsPathSilently) {
    Unzip u;
    const std::string big(3u << 20, 'x');  // more than one write buffer
    testutil::RunResult r = u.run({{"kickoff", "#!/bin/sh\n"},
                                   {"image/", ""},
                                   {"image/x86/nicburn", big},
                                   {"image/x86_64/empty", ""},
                                   {"stored/a..b", "kept", 0}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(testutil::readFile(u.work + "/kickoff"), "#!/bin/sh\n");
    EXPECT_TRUE(testutil::readFile(u.work + "/image/x86/nicburn") == big);
    EXPECT_TRUE(testutil::pathExists(u.work + "/image/x86_64/empty"));
    EXPECT_EQ(testutil::readFile(u.work + "/stored/a..b"), "kept");
}

TEST(Pkgunzip, StopsWithOneLineNamingTheEntryAndTheReason) {
    struct Case {
        const char* name;
        std::vector<Entry> entries;
        std::string err;
    };
    const Case cases[] = {
        {"absolute path",
         {{"ok", "1"}, {"/etc/passwd", "x"}},
         "pkgunzip: '/etc/passwd': refused: absolute path or '..' component\n"},
        {"leading ..", {{"../escaped", "x"}}, "pkgunzip: '../escaped': refused: absolute path or '..' component\n"},
        {"inner ..",
         {{"a/../../escaped", "x"}},
         "pkgunzip: 'a/../../escaped': refused: absolute path or '..' component\n"},
        {"bare ..", {{"..", "x"}}, "pkgunzip: '..': refused: absolute path or '..' component\n"},
        {"file where a folder goes", {{"x", "file"}, {"x/y", "z"}}, "pkgunzip: 'x/y': cannot write: Not a directory\n"},
        {"stream shorter than stated",
         {{"short", "abc", 0, 10}},
         "pkgunzip: 'short': inflate error (3 of 10 bytes came out)\n"},
        {"deflate stream cut short",
         {{"cut", deflated(std::string(5000, 'a') + "0123456789abcdef" + std::string(5000, 'b')).substr(0, 12),
           Z_DEFLATED, 10016}},
         "pkgunzip: 'cut': inflate error (the compressed data ends early)\n"},
    };
    for (const Case& c : cases) {
        Unzip u;
        testutil::RunResult r = u.run(c.entries);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_FALSE(testutil::pathExists(u.dir.file("escaped"))) << c.name;
    }
}

TEST(Pkgunzip, ReportsACrcMismatchAndRemovesTheFile) {
    Unzip u;
    mkdir(u.work.c_str(), 0755);
    writeZip(u.work + "/image.zip", {{"data", "0123456789", 0}});
    std::string bytes = testutil::readFile(u.work + "/image.zip");
    size_t at = bytes.find("0123456789");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 4] = 'X';
    testutil::writeFile(u.work + "/image.zip", bytes);
    testutil::RunOptions o;
    o.cwd = u.work;
    testutil::RunResult r = testutil::run({testutil::binPath("pkgunzip"), "image.zip"}, o);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pkgunzip: 'data': CRC mismatch (the data is damaged)\n");
    EXPECT_FALSE(testutil::pathExists(u.work + "/data"));
}

}  // namespace
