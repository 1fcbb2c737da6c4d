#include "tools/mkpkg/options.h"

#include <gtest/gtest.h>

#include "tools/mkpkg/errors.h"

using mkpkg::UsageError;

namespace {

using Args = std::vector<std::string>;

TEST(BuildOptions, AcceptsBothValueForms) {
    mkpkg::BuildOptions o = mkpkg::parseBuildOptions(
        {"-o", "out.pkg", "--content=dir", "--bootcfg", "b.cfg", "--launcher=L", "--unzip", "U", "--big-endian"});
    EXPECT_EQ(o.output, "out.pkg");
    EXPECT_EQ(o.content, "dir");
    EXPECT_EQ(o.bootcfg, "b.cfg");
    EXPECT_EQ(o.launcher, "L");
    EXPECT_EQ(o.unzip, "U");
    EXPECT_TRUE(o.bigEndian);
    EXPECT_TRUE(o.image.empty());
}

TEST(BuildOptions, DefaultsLeaveLauncherAndUnzipEmpty) {
    mkpkg::BuildOptions o = mkpkg::parseBuildOptions({"--output", "p", "--image", "i.zip", "--bootcfg", "b"});
    EXPECT_EQ(o.image, "i.zip");
    EXPECT_TRUE(o.launcher.empty());
    EXPECT_TRUE(o.unzip.empty());
    EXPECT_FALSE(o.bigEndian);
}

struct BadLine {
    Args args;
    const char* message;
};

TEST(BuildOptions, RefusesUnusableCommandLines) {
    const BadLine cases[] = {
        {{"--content", "d", "--bootcfg", "b"}, "missing -o PKG: name the package file to write"},
        {{"-o", "p", "--bootcfg", "b"}, "missing --content DIR or --image ZIP"},
        {{"-o", "p", "--content", "d", "--image", "i", "--bootcfg", "b"}, "give either --content or --image, not both"},
        {{"-o", "p", "--content", "d"}, "missing --bootcfg FILE"},
        {{"-o", "p", "-o", "q", "--content", "d", "--bootcfg", "b"}, "option -o is given twice"},
        {{"-o", "p", "--content", "d", "--bootcfg"}, "option --bootcfg needs a value"},
        {{"-o", "p", "--content=", "--bootcfg", "b"}, "option --content needs a non-empty value"},
        {{"-o", "p", "--content", "d", "--bootcfg", "b", "--fast"}, "unknown option '--fast'"},
        {{"-o", "p", "--content", "d", "--bootcfg", "b", "extra"}, "unexpected argument 'extra'"},
    };
    for (const BadLine& c : cases) {
        try {
            mkpkg::parseBuildOptions(c.args);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const UsageError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(InfoOptions, ArgumentsAfterDoubleDashAreKeptVerbatim) {
    mkpkg::InfoOptions o = mkpkg::parseInfoOptions({"p.pkg", "--json", "--", "-v", "--json", "a b"});
    EXPECT_EQ(o.package, "p.pkg");
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.args, (Args{"-v", "--json", "a b"}));
}

TEST(InfoOptions, RefusesUnusableCommandLines) {
    const BadLine cases[] = {
        {{}, "missing PKG: name the package file to show"},
        {{"--json"}, "missing PKG: name the package file to show"},
        {{"p", "a"}, "unexpected argument 'a'; put the user arguments after --"},
        {{"p", "-x"}, "unknown option '-x'"},
    };
    for (const BadLine& c : cases) {
        try {
            mkpkg::parseInfoOptions(c.args);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const UsageError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(ExtractOptions, NeedsPackageAndFolder) {
    mkpkg::ExtractOptions o = mkpkg::parseExtractOptions({"p", "d"});
    EXPECT_EQ(o.package, "p");
    EXPECT_EQ(o.dir, "d");
    EXPECT_THROW(mkpkg::parseExtractOptions({"p"}), UsageError);
    EXPECT_THROW(mkpkg::parseExtractOptions({"p", "d", "e"}), UsageError);
    EXPECT_THROW(mkpkg::parseExtractOptions({"p", "--force", "d"}), UsageError);
}

}  // namespace
