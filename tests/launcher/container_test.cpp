#include "launcher/container.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/os/fileio.h"
#include "tests/launcher/launcher_test.h"

namespace {

std::string pattern(size_t n, char seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
    return s;
}

class ContainerTest : public LauncherTest {
protected:
    // Writes the four elements (cut to `keep` bytes of element data when given) and a
    // directory of the given sizes; opens the file.
    int openPackage(const std::vector<std::string>& elements, const PkgDirectory& dir, size_t keep = SIZE_MAX) {
        std::string data;
        for (const auto& e : elements) data += e;
        if (keep < data.size()) data.resize(keep);
        testutil::writeFile(tmp.file("pkg"), data + std::string(reinterpret_cast<const char*>(&dir), 16));
        fd_ = fd_open(tmp.file("pkg").c_str());
        return fd_;
    }
    static PkgDirectory sizesOf(const std::vector<std::string>& elements) {
        PkgDirectory d{};
        for (size_t i = 0; i < elements.size(); ++i) d.size[i] = static_cast<uint32_t>(elements[i].size());
        return d;
    }
    void TearDown() override {
        if (fd_ >= 0) close(fd_);
        LauncherTest::TearDown();
    }
    int fd_ = -1;
};

TEST(ByteSwap2, ReversesTheFourBytes) {
    const struct {
        uint32_t in, out;
    } cases[] = {{0x000071A6u, 0xA6710000u},
                 {0xA6710000u, 0x000071A6u},
                 {0x12345678u, 0x78563412u},
                 {0, 0},
                 {0xFFFFFFFFu, 0xFFFFFFFFu}};
    for (const auto& c : cases) {
        EXPECT_EQ(ByteSwap2(c.in), c.out) << std::hex << c.in;
        EXPECT_EQ(ByteSwap2(ByteSwap2(c.in)), c.in);
    }
}

TEST_F(ContainerTest, SeeksToTheSumOfTheSizesBefore) {
    PkgDirectory shipped = {{29094, 49454, 6368870, 376}};
    ASSERT_GE(openPackage({"x"}, shipped), 0);
    const long expected[] = {0, 29094, 78548, 6447418};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(seekToPkgElement(i, &shipped, fd_), expected[i]);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    EXPECT_EQ(seekToPkgElement(1, &shipped, p[0]), -1);
    close(p[0]);
    close(p[1]);
}

TEST_F(ContainerTest, CopiesElementsOfEverySizeAcrossChunkBoundaries) {
    for (size_t n : {size_t(0), size_t(1), size_t(131071), size_t(131072), size_t(131073), size_t(3 * 131072 + 5)}) {
        std::vector<std::string> el = {pattern(11, 'a'), pattern(5, 'b'), pattern(n, 'c'), pattern(3, 'd')};
        PkgDirectory d = sizesOf(el);
        ASSERT_GE(openPackage(el, d), 0);
        std::string out = tmp.file("image.zip");
        EXPECT_EQ(extractPkgElementFile(PKG_IMAGE, out.c_str(), &d, fd_), 0) << n;
        EXPECT_EQ(testutil::readFile(out), el[2]) << n;
        close(fd_);
    }
}

TEST_F(ContainerTest, ShortPackageStopsAfterTheLastWholeChunk) {
    // 131172 bytes promised, 131122 present (and the 16 directory bytes after them): the
    // first chunk is read and written whole, the second read comes up short and is dropped.
    std::vector<std::string> el = {"L", "U", pattern(131172, 'i'), ""};
    PkgDirectory d = sizesOf(el);
    ASSERT_GE(openPackage(el, d, 2 + 131122), 0);
    std::string out = tmp.file("image.zip");
    EXPECT_EQ(extractPkgElementFile(PKG_IMAGE, out.c_str(), &d, fd_), -1);
    EXPECT_EQ(testutil::readFile(out), el[2].substr(0, 131072));
}

TEST_F(ContainerTest, RefusesElementsOfTwoGiBInsteadOfCopyingNothing) {
    PkgDirectory d = {{1, 1, 0x80000000u, 0xFFFFFFFFu}};
    ASSERT_GE(openPackage({"ab"}, d), 0);
    EXPECT_EQ(extractPkgElementFile(PKG_IMAGE, tmp.file("image.zip").c_str(), &d, fd_), -1);
    EXPECT_EQ(extractPkgElementFile(PKG_BOOTCFG, tmp.file("cfg").c_str(), &d, fd_), -1);
    EXPECT_FALSE(testutil::pathExists(tmp.file("image.zip")));
}

TEST_F(ContainerTest, ReadsAnElementIntoMemoryWithinItsBuffer) {
    std::vector<std::string> el = {"launcher", "unzip", "", "1\n*\t0\t*\tf\n"};
    PkgDirectory d = sizesOf(el);
    ASSERT_GE(openPackage(el, d), 0);
    char buf[32] = {};
    EXPECT_EQ(extractPkgElement(PKG_IMAGE, &d, fd_, buf, 0), 0);      // size 0: nothing read
    EXPECT_EQ(extractPkgElement(PKG_BOOTCFG, &d, fd_, buf, 10), 10);  // buflen equal to the size
    EXPECT_EQ(std::string(buf, 10), el[3]);
    std::string err = stderrOf([&] { EXPECT_EQ(extractPkgElement(PKG_BOOTCFG, &d, fd_, buf, 9), -1); });
    EXPECT_EQ(err, "extractPkgExlement failed where buflen 9 < pkgDir->size[pkgIndex 3]) \n");

    EXPECT_EQ(extractPkgElementFile(PKG_IMAGE, tmp.file("empty").c_str(), &d, fd_), 0);
    EXPECT_EQ(testutil::readFile(tmp.file("empty")), "");
}

TEST_F(ContainerTest, ReportsShortReadsAndFailedSeeks) {
    std::vector<std::string> el = {"launcher", "unzip", "img", "cfg"};
    PkgDirectory d = sizesOf(el);
    d.size[3] = 20;  // past the end of the file
    ASSERT_GE(openPackage(el, d), 0);
    char buf[64];
    std::string err = stderrOf([&] { EXPECT_EQ(extractPkgElement(PKG_BOOTCFG, &d, fd_, buf, sizeof(buf)), -1); });
    EXPECT_EQ(err, "extractPkgElement failed where pkgDir->size[pkgIndex 3] !=  (unsigned int) ...\n");

    int p[2];
    ASSERT_EQ(pipe(p), 0);
    err = stderrOf([&] { EXPECT_EQ(extractPkgElement(PKG_UNZIP, &d, p[0], buf, sizeof(buf)), -1); });
    EXPECT_EQ(err, "extractPkgElement failed where seekToPkgElement(pkgIndex 1, pkgDir, fd_src) < 0) \n");
    close(p[0]);
    close(p[1]);
}

TEST(CheckPkgDirectory, KeepsElementsAndFileBelowTwoGiBAndMatchesTheFile) {
    const uint32_t top = 0x80000000u;
    const struct {
        PkgDirectory dir;
        long long fileLength;
        const char* why;  // nullptr: accepted
    } cases[] = {
        {{{0, 0, 0, 0}}, 16, nullptr},
        {{{1, 2, top - 16 - 4 - 1, 1}}, top - 1, nullptr},
        // A file whose sizes do not add up is damaged or incomplete, whatever the sizes say.
        {{{1, 2, top - 16 - 3, 0}},
         100,
         "the elements and the directory add up to 2147483648 bytes, but the package file is 100 bytes; the "
         "package file is damaged or incomplete"},
        {{{0, top, 0, 0}},
         100,
         "the elements and the directory add up to 2147483664 bytes, but the package file is 100 bytes; the "
         "package file is damaged or incomplete"},
        {{{0, top, 0, 0}}, top + 16, "element 1 'unzip utility' is 2147483648 bytes, 2 GiB or more"},
        {{{0, 0, 0, 0xFFFFFFFFu}},
         0xFFFFFFFFll + 16,
         "element 3 'package boot config' is 4294967295 bytes, 2 GiB or more"},
        {{{top / 2, top / 2, 0, 0}},
         top + 16,
         "the elements and the directory add up to 2147483664 bytes, 2 GiB or more"},
        {{{0, 0, 0, 0}},
         top,
         "the elements and the directory add up to 16 bytes, but the package file is 2147483648 "
         "bytes; the package file is damaged or incomplete"},
        {{{top - 16, 0, 0, 0}}, top, "the elements and the directory add up to 2147483648 bytes, 2 GiB or more"},
        {{{1, 2, 3, 4}}, 26, nullptr},
        {{{1, 2, 3, 4}},
         25,
         "the elements and the directory add up to 26 bytes, but the package file is 25 bytes; the package file "
         "is damaged or incomplete"},
        {{{1, 2, 3, 4}},
         27,
         "the elements and the directory add up to 26 bytes, but the package file is 27 bytes; the package file "
         "is damaged or incomplete"},
    };
    for (const auto& c : cases) {
        char why[256] = "unset";
        int rc = checkPkgDirectory(&c.dir, c.fileLength, why, sizeof(why));
        EXPECT_EQ(rc, c.why ? -1 : 0);
        EXPECT_STREQ(why, c.why ? c.why : "");
    }
}

}  // namespace
