// The archive reader under minizip: every byte arrives whatever the sizes of minizip's reads
// (inside the read window, across its edges, larger than it), and what cannot be opened is named.
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <minizip/zip.h>

#include "tests/support/testutil.h"
#include "tools/pkgunzip/zipfile.h"

namespace {

std::string noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen() & 0xff);
    return s;
}

// Entries bigger than the read window, stored and deflated, with a small one between them.
struct Archive {
    testutil::TempDir dir;
    std::string path = dir.file("a.zip");
    std::vector<std::pair<std::string, std::string>> entries = {
        {"stored.bin", noise(pkgunzip::kReadWindow * 2 + 4097, 1)},
        {"small", "x"},
        {"text.txt", std::string(pkgunzip::kReadWindow * 3, 'a') + noise(5000, 2)},
    };
    Archive() {
        zipFile zf = zipOpen64(path.c_str(), 0);
        for (const auto& e : entries) {
            zip_fileinfo zi{};
            int method = e.first == "stored.bin" ? 0 : Z_DEFLATED;
            zipOpenNewFileInZip(zf, e.first.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, method, method ? 6 : 0);
            zipWriteInFileInZip(zf, e.second.data(), static_cast<unsigned>(e.second.size()));
            zipCloseFileInZip(zf);
        }
        zipClose(zf, nullptr);
    }
};

TEST(ZipFile, EveryByteArrivesWhateverTheReadSize) {
    Archive a;
    for (unsigned chunk : {1000u, pkgunzip::kReadWindow - 1, pkgunzip::kReadWindow, 3 * pkgunzip::kReadWindow}) {
        std::string why;
        unzFile zip = pkgunzip::openZipFile(a.path.c_str(), &why);
        ASSERT_NE(zip, nullptr) << why;
        std::vector<char> buf(chunk);
        size_t index = 0;
        for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip), ++index) {
            ASSERT_LT(index, a.entries.size());
            ASSERT_EQ(unzOpenCurrentFile(zip), UNZ_OK);
            std::string got;
            for (int n; (n = unzReadCurrentFile(zip, buf.data(), chunk)) > 0;)
                got.append(buf.data(), static_cast<size_t>(n));
            EXPECT_EQ(unzCloseCurrentFile(zip), UNZ_OK)
                << "CRC of " << a.entries[index].first << ", reads of " << chunk;
            EXPECT_TRUE(got == a.entries[index].second) << a.entries[index].first << ", reads of " << chunk;
        }
        EXPECT_EQ(index, a.entries.size());
        unzClose(zip);
    }
}

TEST(ZipFile, NamesWhatCannotBeOpened) {
    testutil::TempDir dir;
    testutil::writeFile(dir.file("junk.zip"), std::string(pkgunzip::kReadWindow + 10, 'j'));
    testutil::writeFile(dir.file("empty.zip"), "");
    mkdir(dir.file("folder.zip").c_str(), 0755);
    const std::pair<std::string, std::string> cases[] = {
        {"missing.zip", "No such file or directory"},
        {"folder.zip", "Is a directory"},
        {"junk.zip", "not a zip archive or cut short (no end of central directory)"},
        {"empty.zip", "not a zip archive or cut short (no end of central directory)"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(pkgunzip::openZipFile(dir.file(c.first).c_str(), &why), nullptr) << c.first;
        EXPECT_EQ(why, c.second) << c.first;
    }
}

}  // namespace
