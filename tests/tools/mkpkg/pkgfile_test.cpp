// Package file writing and reading: directory, byte order, damaged files, extract, and the
// temporary-file-then-rename rule.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "tools/mkpkg/errors.h"
#include "tools/mkpkg/pkgfile.h"
#include "pkgformat/pkgformat.h"
#include "tools/mkpkg/pkgreader.h"
#include "tests/support/testutil.h"

using testutil::TempDir;

namespace {

struct Parts {
    std::array<std::string, PKG_ELEMENTS> paths;
    std::array<std::string, PKG_ELEMENTS> data;
    PkgSizes sizes{};
};

Parts makeParts(const TempDir& dir) {
    Parts p;
    p.data = {std::string("\x7f"
                          "ELF launcher bytes",
                          19),
              std::string(70000, 'u'), "PK\x03\x04 not really a zip", "1\n*\t0\t*\tf\n"};
    for (int i = 0; i < PKG_ELEMENTS; ++i) {
        p.paths[i] = dir.file("part" + std::to_string(i));
        testutil::writeFile(p.paths[i], p.data[i]);
        p.sizes[i] = static_cast<uint32_t>(p.data[i].size());
    }
    return p;
}

mode_t modeOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

TEST(PackageFile, RoundTripLittleEndian) {
    TempDir dir;
    Parts p = makeParts(dir);
    std::string pkg = dir.file("out.pkg");
    mkpkg::writePackageFile(pkg, p.paths, p.sizes, false);

    EXPECT_EQ(modeOf(pkg), 0755u);
    std::string bytes = testutil::readFile(pkg);
    EXPECT_TRUE(bytes.substr(0, bytes.size() - 16) == p.data[0] + p.data[1] + p.data[2] + p.data[3]);
    EXPECT_EQ(bytes.substr(bytes.size() - 16), std::string("\x13\0\0\0\x70\x11\x01\0\x15\0\0\0\x0a\0\0\0", 16));

    mkpkg::PackageLayout l = mkpkg::readLayout(pkg);
    EXPECT_TRUE(l.consistent) << l.problem;
    EXPECT_EQ(l.order, mkpkg::ByteOrder::Little);
    EXPECT_EQ(l.sizes, p.sizes);
    EXPECT_EQ(l.offsets[1], 19u);
    EXPECT_EQ(l.offsets[3], 19u + 70000u + 21u);
    EXPECT_EQ(l.directoryOffset, bytes.size() - 16);
    for (int i = 0; i < PKG_ELEMENTS; ++i) EXPECT_EQ(mkpkg::readElement(l, i), p.data[i]) << i;
}

TEST(PackageFile, BigEndianDirectoryIsDetected) {
    TempDir dir;
    Parts p = makeParts(dir);
    std::string pkg = dir.file("ppc.pkg");
    mkpkg::writePackageFile(pkg, p.paths, p.sizes, true);
    std::string bytes = testutil::readFile(pkg);
    EXPECT_EQ(bytes.substr(bytes.size() - 16), std::string("\0\0\0\x13\0\x01\x11\x70\0\0\0\x15\0\0\0\x0a", 16));
    mkpkg::PackageLayout l = mkpkg::readLayout(pkg);
    EXPECT_TRUE(l.consistent);
    EXPECT_EQ(l.order, mkpkg::ByteOrder::Big);
    EXPECT_EQ(l.sizes, p.sizes);
    EXPECT_EQ(mkpkg::readElement(l, 2), p.data[2]);
}

// Nothing is left behind when a build fails: no temporary file, and an older package at the
// output path keeps its bytes.
TEST(PackageFile, FailedWriteLeavesNoHalfPackage) {
    TempDir dir;
    Parts p = makeParts(dir);
    std::string pkg = dir.file("out.pkg");
    testutil::writeFile(pkg, "older package", 0755);
    PkgSizes wrong = p.sizes;
    wrong[2] += 1;  // the image "changed" after its size was taken
    try {
        mkpkg::writePackageFile(pkg, p.paths, wrong, false);
        FAIL() << "no error";
    } catch (const mkpkg::Error& e) {
        EXPECT_NE(std::string(e.what()).find("changed while being packaged"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(p.paths[2]), std::string::npos) << e.what();
    }
    EXPECT_EQ(testutil::readFile(pkg), "older package");
    EXPECT_EQ(testutil::listDir(dir.path()), (std::vector<std::string>{"out.pkg", "part0", "part1", "part2", "part3"}));

    p.paths[3] = dir.file("missing");
    EXPECT_THROW(mkpkg::writePackageFile(pkg, p.paths, p.sizes, false), mkpkg::Error);
    EXPECT_EQ(testutil::listDir(dir.path()).size(), 5u);
}

TEST(PackageFile, OutputThatIsAFolderIsRefused) {
    TempDir dir;
    Parts p = makeParts(dir);
    mkdir(dir.file("d").c_str(), 0755);
    try {
        mkpkg::writePackageFile(dir.file("d"), p.paths, p.sizes, false);
        FAIL() << "no error";
    } catch (const mkpkg::Error& e) {
        EXPECT_EQ(std::string(e.what()), "output '" + dir.file("d") + "' is a folder; give a file name to -o");
    }
}

struct Damage {
    const char* name;
    size_t cut;            // bytes removed from the end before the directory is put back
    std::string appended;  // bytes added before the directory
    const char* problem;
};

TEST(PackageReader, DamagedDirectoriesAreReported) {
    const Damage cases[] = {
        {"truncated", 10, "",
         "its directory sizes add up to 70050 bytes plus the 16-byte directory, but the file has 70056 bytes (sizes "
         "past the end of the file: the package file is damaged or incomplete)"},
        {"extra bytes", 0, "xyz",
         "its directory sizes add up to 70050 bytes plus the 16-byte directory, but the file has 70069 bytes (extra "
         "bytes)"},
    };
    for (const Damage& c : cases) {
        TempDir dir;
        Parts p = makeParts(dir);
        std::string pkg = dir.file("p.pkg");
        mkpkg::writePackageFile(pkg, p.paths, p.sizes, false);
        std::string bytes = testutil::readFile(pkg);
        std::string directory = bytes.substr(bytes.size() - 16);
        std::string body = bytes.substr(0, bytes.size() - 16 - c.cut) + c.appended;
        testutil::writeFile(pkg, body + directory);
        mkpkg::PackageLayout l = mkpkg::readLayout(pkg);
        EXPECT_FALSE(l.consistent) << c.name;
        EXPECT_EQ(l.problem, c.problem) << c.name;
        try {
            mkpkg::readElement(l, 3);
            ADD_FAILURE() << c.name << ": element read from a damaged package";
        } catch (const mkpkg::Error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "package '" + pkg + "' is damaged: " + c.problem + "; rebuild it with mkpkg build");
        }
    }
}

TEST(PackageReader, FileShorterThanDirectoryIsNoPackage) {
    TempDir dir;
    testutil::writeFile(dir.file("tiny"), "0123456789");
    try {
        mkpkg::readLayout(dir.file("tiny"));
        FAIL() << "no error";
    } catch (const mkpkg::Error& e) {
        EXPECT_EQ(std::string(e.what()), "package '" + dir.file("tiny") +
                                             "' has 10 bytes, fewer than its 16-byte directory; it is not a package");
    }
    try {
        mkpkg::readLayout(dir.file("none"));
        FAIL() << "no error";
    } catch (const mkpkg::Error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot open '" + dir.file("none") + "': No such file or directory");
    }
}

// A sparse file of 2 GiB + 16 bytes whose directory names one element of exactly 2 GiB.
TEST(PackageReader, ElementOf2GiBIsRefused) {
    TempDir dir;
    std::string pkg = dir.file("huge.pkg");
    const off_t limit = 0x80000000LL;
    { std::ofstream f(pkg, std::ios::binary); }
    ASSERT_EQ(truncate(pkg.c_str(), limit), 0);
    std::ofstream f(pkg, std::ios::binary | std::ios::app);
    PkgRawDirectory raw = encodePkgSizes({0x80000000u, 0, 0, 0}, PkgByteOrder::Little);
    f.write(reinterpret_cast<const char*>(raw.data()), raw.size());
    f.close();
    mkpkg::PackageLayout l = mkpkg::readLayout(pkg);
    EXPECT_FALSE(l.consistent);
    EXPECT_EQ(l.problem, "element 0 (launcher) has 2147483648 bytes, 2 GiB or more");
}

TEST(Extract, DamagedPackageWritesNothing) {
    TempDir dir;
    Parts p = makeParts(dir);
    std::string pkg = dir.file("p.pkg");
    mkpkg::writePackageFile(pkg, p.paths, p.sizes, false);
    std::string bytes = testutil::readFile(pkg);
    testutil::writeFile(pkg, bytes.substr(0, 100) + bytes.substr(bytes.size() - 16));
    EXPECT_THROW(mkpkg::extractPackage(pkg, dir.file("x")), mkpkg::Error);
    EXPECT_FALSE(testutil::pathExists(dir.file("x")));
}

}  // namespace
