// pkgunzip's two workers: a large archive comes out whole, the fault reported is the first in
// the archive's order, and archives whose order matters keep their meaning.
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <minizip/zip.h>

#include "tests/support/testutil.h"
#include "tools/pkgunzip/extract.h"

namespace {

struct Item {
    std::string name;
    std::string data;
    int method;
};

std::string zipOf(const std::string& path, const std::vector<Item>& items) {
    zipFile zf = zipOpen64(path.c_str(), 0);
    for (const Item& i : items) {
        zip_fileinfo zi{};
        zipOpenNewFileInZip(zf, i.name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, i.method, i.method ? 6 : 0);
        zipWriteInFileInZip(zf, i.data.data(), static_cast<unsigned>(i.data.size()));
        zipCloseFileInZip(zf);
    }
    zipClose(zf, nullptr);
    return testutil::readFile(path);
}

testutil::RunResult unzipIn(const std::string& dir) {
    testutil::RunOptions o;
    o.cwd = dir;
    return testutil::run({testutil::binPath("pkgunzip"), "image.zip"}, o);
}

// 120 entries in three folders, stored and deflated, each with its own content.
std::vector<Item> manyItems() {
    std::vector<Item> items;
    for (int i = 0; i < 120; ++i) {
        std::string data;
        for (int k = 0; k < 200 + i * 97; ++k) data += static_cast<char>('a' + (k * (i + 3)) % 26);
        items.push_back({"f" + std::to_string(i % 3) + "/e" + std::to_string(i), data, i % 2 ? Z_DEFLATED : 0});
    }
    return items;
}

TEST(PkgunzipWorkers, ManyEntriesComeOutWhole) {
    testutil::TempDir dir;
    std::vector<Item> items = manyItems();
    zipOf(dir.file("image.zip"), items);
    testutil::RunResult r = unzipIn(dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const Item& i : items) EXPECT_TRUE(testutil::readFile(dir.file(i.name)) == i.data) << i.name;
}

// Stored entries 30 and 90 damaged: whichever worker meets which first, entry 30 is named.
TEST(PkgunzipWorkers, TheFirstFaultInOrderIsReported) {
    std::vector<Item> items = manyItems();
    for (int round = 0; round < 3; ++round) {
        testutil::TempDir dir;
        std::string bytes = zipOf(dir.file("image.zip"), items);
        for (int damaged : {30, 90}) {
            size_t at = bytes.find(items[damaged].data);
            ASSERT_NE(at, std::string::npos);
            bytes[at + 7] = static_cast<char>(bytes[at + 7] ^ 0x20);
        }
        testutil::writeFile(dir.file("image.zip"), bytes);
        testutil::RunResult r = unzipIn(dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "pkgunzip: 'f0/e30': CRC mismatch (the data is damaged)\n") << "round " << round;
        EXPECT_FALSE(testutil::pathExists(dir.file("f0/e30")));
        EXPECT_TRUE(testutil::pathExists(dir.file("f2/e29")));
    }
}

// A name given twice: the later entry wins, as when extracting in order.
TEST(PkgunzipWorkers, ANameGivenTwiceKeepsTheLaterEntry) {
    testutil::TempDir dir;
    std::vector<Item> items = manyItems();
    items.insert(items.begin() + 5, {"twice", "first", 0});
    items.push_back({"twice", "second", Z_DEFLATED});
    zipOf(dir.file("image.zip"), items);
    testutil::RunResult r = unzipIn(dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testutil::readFile(dir.file("twice")), "second");
}

// Two spellings of one file: the big first entry and the small later one would be written at
// once by two workers; in order, the later entry wins whole.
TEST(PkgunzipWorkers, TwoSpellingsOfOneNameKeepTheLaterEntry) {
    const std::string big(8u << 20, 'A');
    const struct {
        const char* first;
        const char* later;
        const char* file;
    } cases[] = {{"a", "./a", "a"}, {"d/f", "d//f", "d/f"}, {"./e/./g", "e/g", "e/g"}};
    for (const auto& c : cases) {
        testutil::TempDir dir;
        std::vector<Item> items = manyItems();
        items.insert(items.begin(), {c.first, big, Z_DEFLATED});
        items.insert(items.begin() + 1, {c.later, "later", 0});
        zipOf(dir.file("image.zip"), items);
        testutil::RunResult r = unzipIn(dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(testutil::readFile(dir.file(c.file)) == "later") << c.first << " then " << c.later;
    }
}

// No second thread to be had (its stack cannot be mapped): one worker extracts everything.
TEST(PkgunzipWorkers, WithoutASecondThreadOneWorkerExtractsAll) {
    testutil::TempDir dir;
    std::vector<Item> items = manyItems();
    zipOf(dir.file("image.zip"), items);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof(here)), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    pthread_attr_t saved, huge;
    ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, SIZE_MAX / 4);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    std::string error;
    bool ok = pkgunzip::extractAll("image.zip", &error);
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);
    ASSERT_EQ(chdir(here), 0);
    ASSERT_TRUE(ok) << error;
    for (const Item& i : items) EXPECT_TRUE(testutil::readFile(dir.file(i.name)) == i.data) << i.name;
}

}  // namespace
