// The image writer and reader: sorted reproducible archives, modes, refusals, archives inside a
// larger file, and archives that the real miniunzip and unzip extract.
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <zlib.h>

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "tools/mkpkg/errors.h"
#include "tests/support/testutil.h"
#include "tools/mkpkg/zipreader.h"
#include "tools/mkpkg/zipwriter.h"

using testutil::TempDir;

namespace {

// content/: run.sh (0755), a.txt, sub/b.bin, sub/deeper/c, empty/
void makeContent(const std::string& root) {
    mkdir(root.c_str(), 0755);
    testutil::writeFile(root + "/run.sh", "#!/bin/sh\necho hi\n", 0755);
    testutil::writeFile(root + "/a.txt", "alpha\n");
    mkdir((root + "/sub").c_str(), 0755);
    std::string bin;
    for (int i = 0; i < 200000; ++i) bin += static_cast<char>((i * 7919) & 0xff);
    testutil::writeFile(root + "/sub/b.bin", bin);
    mkdir((root + "/sub/deeper").c_str(), 0700);
    testutil::writeFile(root + "/sub/deeper/c", "");
    mkdir((root + "/empty").c_str(), 0755);
}

std::vector<std::string> names(const std::vector<mkpkg::ZipEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.name);
    return out;
}

uint32_t crcOf(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

TEST(ZipWriter, ContentIsSortedWithFoldersAsEntries) {
    TempDir dir;
    makeContent(dir.file("c"));
    std::vector<mkpkg::ContentItem> items = mkpkg::collectContent(dir.file("c") + "/");
    std::vector<std::string> got;
    for (const auto& i : items) got.push_back(i.name);
    EXPECT_EQ(got, (std::vector<std::string>{"a.txt", "empty/", "run.sh", "sub/", "sub/b.bin", "sub/deeper/",
                                             "sub/deeper/c"}));
}

TEST(ZipWriter, EntriesCarrySizesCrcAndModes) {
    TempDir dir;
    makeContent(dir.file("c"));
    std::string zip = dir.file("img.zip");
    mkpkg::writeZip(zip, mkpkg::collectContent(dir.file("c")), mkpkg::entryTimestamp());
    mkpkg::ZipListing l = mkpkg::listZipFile(zip, true);
    EXPECT_EQ(l.problem, "");
    ASSERT_EQ(names(l.entries), (std::vector<std::string>{"a.txt", "empty/", "run.sh", "sub/", "sub/b.bin",
                                                          "sub/deeper/", "sub/deeper/c"}));
    const mkpkg::ZipEntry& bin = l.entries[4];
    std::string binData = testutil::readFile(dir.file("c/sub/b.bin"));
    EXPECT_EQ(bin.size, binData.size());
    EXPECT_LT(bin.compressedSize, bin.size);
    EXPECT_EQ(bin.crc, crcOf(binData));
    EXPECT_EQ(l.entries[2].unixMode & 0777, 0755u);
    EXPECT_EQ(l.entries[0].unixMode & 0777, 0644u);
    EXPECT_TRUE(l.entries[5].isDir);
    EXPECT_EQ(l.entries[5].unixMode & 0777, 0700u);
}

TEST(ZipWriter, SameContentGivesTheSameBytes) {
    TempDir dir;
    makeContent(dir.file("c1"));
    makeContent(dir.file("c2"));
    struct utimbuf old = {1000000000, 1000000000};
    utime((dir.file("c2") + "/a.txt").c_str(), &old);
    mkpkg::writeZip(dir.file("1.zip"), mkpkg::collectContent(dir.file("c1")), mkpkg::entryTimestamp());
    mkpkg::writeZip(dir.file("2.zip"), mkpkg::collectContent(dir.file("c2")), mkpkg::entryTimestamp());
    EXPECT_EQ(testutil::readFile(dir.file("1.zip")), testutil::readFile(dir.file("2.zip")));
}

// What the launcher's unzip utility gets must extract to the same files.
TEST(ZipWriter, RealUnzipUtilitiesExtractTheContent) {
    TempDir dir;
    makeContent(dir.file("c"));
    std::string zip = dir.file("img.zip");
    mkpkg::writeZip(zip, mkpkg::collectContent(dir.file("c")), mkpkg::entryTimestamp());
    struct Tool {
        const char* path;
        std::vector<std::string> args;
    };
    const Tool tools[] = {{"/usr/bin/miniunzip", {zip}}, {"/usr/bin/unzip", {"-q", zip}}};
    for (const Tool& t : tools) {
        if (access(t.path, X_OK) != 0) {
            ADD_FAILURE() << t.path << " is missing; install it (tools/install-deps.sh)";
            continue;
        }
        std::string out = dir.file(std::string("out-") + (t.path + 9));
        mkdir(out.c_str(), 0755);
        std::vector<std::string> argv{t.path};
        argv.insert(argv.end(), t.args.begin(), t.args.end());
        testutil::RunOptions opts;
        opts.cwd = out;
        testutil::RunResult r = testutil::run(argv, opts);
        EXPECT_EQ(r.status, 0) << t.path << ": " << r.out << r.err;
        for (const char* f : {"a.txt", "run.sh", "sub/b.bin", "sub/deeper/c"})
            EXPECT_EQ(testutil::readFile(out + "/" + f), testutil::readFile(dir.file("c") + "/" + f))
                << t.path << " " << f;
        EXPECT_TRUE(testutil::pathExists(out + "/empty")) << t.path;
    }
    // Info-ZIP unzip restores the stored modes.
    struct stat st;
    ASSERT_EQ(stat(dir.file("out-unzip/run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

// Entries that deflate cannot shrink are stored, the rest deflated; both read back whole, with
// the real unzip utility too, and the scratch file is gone.
TEST(ZipWriter, StoresWhatDeflateCannotShrink) {
    std::mt19937 gen(14);
    std::string random(100000, '\0');
    for (char& c : random) c = static_cast<char>(gen() & 0xff);
    std::string text;
    for (int i = 0; text.size() < 100000; ++i) text += "line " + std::to_string(i % 97) + " of the release notes\n";
    struct Case {
        const char* name;
        std::string data;
        bool stored;
    };
    const Case cases[] = {
        {"random.bin", random, true},
        {"notes.txt", text, false},
        {"one", "x", true},  // deflate needs 3 bytes for it
        {"zero", "", true},
    };
    TempDir dir;
    std::string root = dir.file("c");
    mkdir(root.c_str(), 0755);
    for (const Case& c : cases) testutil::writeFile(root + "/" + c.name, c.data);
    mkdir(dir.file("out").c_str(), 0755);
    std::string zip = dir.file("out/img.zip");
    mkpkg::writeZip(zip, mkpkg::collectContent(root), mkpkg::entryTimestamp());
    EXPECT_EQ(testutil::run({"ls", "-A", dir.file("out")}).out, "img.zip\n") << "scratch file left behind";

    mkpkg::ZipListing l = mkpkg::listZipFile(zip, true);
    EXPECT_EQ(l.problem, "");
    ASSERT_EQ(l.entries.size(), 4u);
    testutil::RunOptions opts;
    opts.cwd = dir.file("out");
    testutil::RunResult r = testutil::run({"/usr/bin/miniunzip", "img.zip"}, opts);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const Case& c : cases) {
        auto e = std::find_if(l.entries.begin(), l.entries.end(),
                              [&](const mkpkg::ZipEntry& x) { return x.name == c.name; });
        ASSERT_NE(e, l.entries.end()) << c.name;
        EXPECT_EQ(e->size, c.data.size()) << c.name;
        EXPECT_EQ(e->crc, crcOf(c.data)) << c.name;
        if (c.stored)
            EXPECT_EQ(e->compressedSize, e->size) << c.name;
        else
            EXPECT_LT(e->compressedSize, e->size / 4) << c.name;
        EXPECT_EQ(testutil::readFile(dir.file("out/") + c.name), c.data) << c.name;
    }
}

TEST(ZipWriter, RefusesContentThatCannotGoIntoAnImage) {
    struct Case {
        const char* name;
        void (*setup)(const std::string& root);
        const char* message;  // after the root path
    };
    const Case cases[] = {
        {"empty folder", [](const std::string&) {}, "content folder '#' is empty; put the package content in it"},
        {"link to folder",
         [](const std::string& root) {
             mkdir((root + "/real").c_str(), 0755);
             testutil::writeFile(root + "/real/f", "x");
             symlink("real", (root + "/link").c_str());
         },
         "content '#/link' is a symbolic link to a folder; copy the folder in or remove the link"},
        {"dangling link", [](const std::string& root) { symlink("nowhere", (root + "/gone").c_str()); },
         "content '#/gone' is a dangling symbolic link; remove it or point it at a file"},
        {"fifo", [](const std::string& root) { mkfifo((root + "/pipe").c_str(), 0644); },
         "content '#/pipe' is not a regular file or folder (device, FIFO or socket); remove it from the content"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::string root = dir.file("c");
        mkdir(root.c_str(), 0755);
        c.setup(root);
        std::string want = c.message;
        want.replace(want.find('#'), 1, root);
        try {
            mkpkg::collectContent(root);
            ADD_FAILURE() << c.name << " accepted";
        } catch (const mkpkg::Error& e) {
            EXPECT_EQ(std::string(e.what()), want) << c.name;
        }
    }
    TempDir dir;
    testutil::writeFile(dir.file("f"), "x");
    EXPECT_THROW(mkpkg::collectContent(dir.file("f")), mkpkg::Error);
    EXPECT_THROW(mkpkg::collectContent(dir.file("none")), mkpkg::Error);
}

TEST(ZipWriter, LinksToFilesAreStoredAsFiles) {
    TempDir dir;
    std::string root = dir.file("c");
    mkdir(root.c_str(), 0755);
    testutil::writeFile(root + "/target", "payload");
    symlink("target", (root + "/alias").c_str());
    mkpkg::writeZip(dir.file("z.zip"), mkpkg::collectContent(root), mkpkg::entryTimestamp());
    mkpkg::ZipListing l = mkpkg::listZipFile(dir.file("z.zip"), true);
    ASSERT_EQ(names(l.entries), (std::vector<std::string>{"alias", "target"}));
    EXPECT_EQ(l.entries[0].size, 7u);
}

TEST(ZipReader, ReadsAnArchiveInsideALargerFile) {
    TempDir dir;
    makeContent(dir.file("c"));
    mkpkg::writeZip(dir.file("img.zip"), mkpkg::collectContent(dir.file("c")), mkpkg::entryTimestamp());
    std::string zip = testutil::readFile(dir.file("img.zip"));
    std::string prefix(12345, 'L');
    testutil::writeFile(dir.file("pkg"), prefix + zip + "1\nboot config\n0123456789abcdef");
    mkpkg::ZipListing l = mkpkg::listZip(dir.file("pkg"), prefix.size(), zip.size(), true, "image");
    EXPECT_EQ(l.problem, "");
    EXPECT_EQ(l.entries.size(), 7u);
}

TEST(ZipReader, DamageIsReported) {
    TempDir dir;
    makeContent(dir.file("c"));
    mkpkg::writeZip(dir.file("img.zip"), mkpkg::collectContent(dir.file("c")), mkpkg::entryTimestamp());
    std::string zip = testutil::readFile(dir.file("img.zip"));

    testutil::writeFile(dir.file("junk.zip"), std::string(4000, 'j'));
    try {
        mkpkg::listZipFile(dir.file("junk.zip"), true);
        ADD_FAILURE() << "junk accepted";
    } catch (const mkpkg::Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "image '" + dir.file("junk.zip") +
                      "' is not a readable zip archive; rebuild it (e.g. with mkpkg build --content DIR)");
    }

    // A flipped byte inside the compressed data of sub/b.bin.
    std::string flipped = zip;
    size_t at = flipped.find("sub/b.bin") + 9 + 40;  // inside its deflated data
    flipped[at] = static_cast<char>(flipped[at] ^ 0x55);
    testutil::writeFile(dir.file("flipped.zip"), flipped);
    mkpkg::ZipListing l = mkpkg::listZipFile(dir.file("flipped.zip"), true);
    EXPECT_EQ(l.entries.size(), 7u);
    EXPECT_NE(l.problem.find("'sub/b.bin'"), std::string::npos) << l.problem;
    EXPECT_EQ(mkpkg::listZipFile(dir.file("flipped.zip"), false).problem, "");
}

TEST(ZipReader, NameLongerThanTheReaderKeepsIsAProblemNotCut) {
    TempDir dir;
    const std::string zip = dir.file("long.zip");
    ASSERT_EQ(testutil::runShell("python3 -c \"import zipfile; z = zipfile.ZipFile('" + zip +
                                 "', 'w'); z.writestr('n' * 5000, 'x'); z.close()\"")
                  .status,
              0);
    mkpkg::ZipListing l = mkpkg::listZipFile(zip, false);
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.problem, "entry '" + std::string(40, 'n') +
                             "...' has a name of 5000 bytes, more than 4096, which the "
                             "unzip utility refuses");
}

TEST(ZipReader, FileLookupIgnoresDotSlashAndRepeatedSlashes) {
    std::vector<mkpkg::ZipEntry> entries(3);
    entries[0].name = "a/b.cfg";
    entries[1].name = "dir/";
    entries[1].isDir = true;
    entries[2].name = "top";
    EXPECT_TRUE(mkpkg::zipHasFile(entries, "a/b.cfg"));
    EXPECT_TRUE(mkpkg::zipHasFile(entries, "./a//b.cfg"));
    EXPECT_TRUE(mkpkg::zipHasFile(entries, "././top"));
    EXPECT_FALSE(mkpkg::zipHasFile(entries, "dir"));
    EXPECT_FALSE(mkpkg::zipHasFile(entries, "dir/"));
    EXPECT_FALSE(mkpkg::zipHasFile(entries, "top "));
    EXPECT_FALSE(mkpkg::zipHasFile(entries, "A/b.cfg"));
}

}  // namespace
