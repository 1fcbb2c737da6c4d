#include "pkgformat/pkgdigest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "tests/launcher/launcher_test.h"

namespace {

// A package as mkpkg writes it: the elements, the record over everything else, the directory.
std::string packageWithDigest(const std::vector<std::string>& elements) {
    std::string body;
    PkgSizes sizes{};
    for (size_t i = 0; i < elements.size(); ++i) {
        body += elements[i];
        sizes[i] = static_cast<uint32_t>(elements[i].size() + (i == PKG_BOOTCFG ? PKG_DIGEST_RECORD_SIZE : 0));
    }
    PkgRawDirectory raw = encodePkgSizes(sizes, PkgByteOrder::Little);
    std::string dir(reinterpret_cast<const char*>(raw.data()), raw.size());
    // zlib directly: the expected value must not come from the code under test.
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(dir.data()), static_cast<uInt>(dir.size()));
    char record[PKG_DIGEST_RECORD_SIZE + 1];
    formatDigestRecord(static_cast<uint32_t>(crc), record, sizeof(record));
    return body + std::string(record, PKG_DIGEST_RECORD_SIZE) + dir;
}

PkgDirectory directoryOf(const std::string& pkg) {
    PkgRawDirectory raw;
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(pkg[pkg.size() - raw.size() + i]);
    PkgDirectory d;
    d.size = decodePkgSizes(raw, PkgByteOrder::Little);
    return d;
}

TEST(DigestRecord, TellsRecordFromOtherEndingsAndDamagedRecords) {
    const std::string cfg = "1\n*\t0\t*\tx.cfg\n./a\n.\n\n./go\n\nappend\n";
    const struct {
        std::string tail;
        DigestRecordState state;
    } cases[] = {
        {"; package digest crc32 0123abcd\n", DIGEST_PRESENT},
        {"", DIGEST_NONE},  // no record at all
        {"; made by another packer, no digest\n", DIGEST_NONE},
        {"; package digest crc32 0123abcd", DIGEST_NONE},       // cut: the record's bytes no longer line up
        {"; package digest crc32 0123ABCD\n", DIGEST_DAMAGED},  // value not as written
        {"; package digest crc32 0123ab d\n", DIGEST_DAMAGED},
        {"; package digest crc32 0123abcd\r", DIGEST_DAMAGED},  // line feed changed
        {"; packagE digest crc32 0123abcd\n", DIGEST_DAMAGED},  // one byte of the marker
        {"\x3b package digest crc23 0123abcd\n", DIGEST_DAMAGED},
        {"X pack#ge digesT crc32 0123abcd\n", DIGEST_DAMAGED},  // four bytes: still ours
        {"X pack#ge digesT crc3!_0123abcd\n", DIGEST_NONE},     // five: some other line
    };
    for (const auto& c : cases) {
        std::string text = cfg + c.tail;
        uint32_t value = 0;
        EXPECT_EQ(findDigestRecord(text.data(), text.size(), &value), c.state) << c.tail;
        if (c.state == DIGEST_PRESENT) {
            EXPECT_EQ(value, 0x0123abcdu);
        }
    }
    char record[PKG_DIGEST_RECORD_SIZE + 1];
    formatDigestRecord(0xffffffffu, record, sizeof(record));
    EXPECT_STREQ(record, "; package digest crc32 ffffffff\n");
}

class DigestTest : public LauncherTest {
protected:
    DigestCheck check(const std::string& pkg, std::string* why) {
        testutil::writeFile(tmp.file("pkg"), pkg);
        int fd = open(tmp.file("pkg").c_str(), O_RDONLY);
        EXPECT_GE(fd, 0);
        PkgDirectory d = directoryOf(pkg);
        char buf[512] = "unset";
        DigestCheck result = checkPkgDigest(fd, &d, buf, sizeof(buf));
        close(fd);
        *why = buf;
        return result;
    }
};

// One flipped bit anywhere but in the directory (whose sizes the launcher checks first) is found,
// the record's own bytes included, and the reason names both values.
TEST_F(DigestTest, FindsOneFlippedBitInEveryElementAndInTheRecord) {
    const std::string good = packageWithDigest({std::string(3000, 'L'), std::string(2000, 'U'), std::string(70000, 'I'),
                                                "1\n*\t0\t*\tx\n./x\n.\n\n./go\n\nappend\n"});
    std::string why;
    ASSERT_EQ(check(good, &why), DIGEST_HOLDS) << why;
    EXPECT_EQ(why, "");
    const PkgDirectory d = directoryOf(good);
    const size_t bootAt = d.size[0] + d.size[1] + d.size[2];
    const size_t recordAt = bootAt + d.size[3] - PKG_DIGEST_RECORD_SIZE;
    const struct {
        size_t at;
        const char* what;
    } flips[] = {{0, "launcher"},
                 {2999, "launcher"},
                 {3000, "unzip utility"},
                 {5000 + 65536, "image"},
                 {bootAt + 2, "boot configuration"},
                 {recordAt + 3, "record marker"},
                 {recordAt + 25, "record value"},
                 {recordAt + PKG_DIGEST_RECORD_SIZE - 1, "record line feed"}};
    for (const auto& f : flips) {
        std::string bad = good;
        bad[f.at] = static_cast<char>(bad[f.at] ^ 0x04);
        EXPECT_EQ(check(bad, &why), DIGEST_FAILS) << f.what;
        EXPECT_NE(why.find("the package file is damaged"), std::string::npos) << f.what << ": " << why;
    }
    std::string bad = good;
    bad[10] ^= 1;
    check(bad, &why);
    EXPECT_NE(why.find("its digest records crc32 "), std::string::npos) << why;
    EXPECT_NE(why.find(", but its bytes give crc32 "), std::string::npos) << why;
}

// Past 8 MiB two threads share the work: the joined value is zlib's one-pass value, and damage in
// either half is found.
TEST_F(DigestTest, LargePackageTakenInTwoHalves) {
    std::string image(9u << 20, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::string good = packageWithDigest({"launcher", "unzip", image, "1\n*\t0\t*\tx\n"});
    std::string why;
    ASSERT_EQ(check(good, &why), DIGEST_HOLDS) << why;
    for (size_t at : {size_t{100}, good.size() / 2 - 1, good.size() / 2 + 1, good.size() - 200}) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x80);
        EXPECT_EQ(check(bad, &why), DIGEST_FAILS) << at;
    }
}

TEST_F(DigestTest, PackageWithoutRecordIsNotChecked) {
    std::string pkg = "LLLLUUUUIIII1\nx\n";
    PkgRawDirectory raw = encodePkgSizes({4, 4, 4, 4}, PkgByteOrder::Little);
    pkg += std::string(reinterpret_cast<const char*>(raw.data()), raw.size());
    std::string why;
    EXPECT_EQ(check(pkg, &why), DIGEST_NOT_RECORDED);
}

}  // namespace
