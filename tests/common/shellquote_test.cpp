// Shell words: always quoted, and quoted only when needed; /bin/sh must read each as the text.
#include "common/shellquote.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/support/testutil.h"

namespace {

TEST(QuoteForShell, OneWordWhateverTheText) {
    const struct {
        const char* text;
        const char* quoted;
    } cases[] = {{"abc", "'abc'"}, {"", "''"}, {"a'b", "'a'\\''b'"}, {"$(x) \"y\"; z", "'$(x) \"y\"; z'"}};
    for (const auto& c : cases) {
        char buf[64];
        ASSERT_EQ(quoteForShell(buf, sizeof(buf), c.text), 0);
        EXPECT_STREQ(buf, c.quoted);
        EXPECT_EQ(testutil::runShell(std::string("printf %s ") + buf).out, c.text);
    }
    char small[6];
    EXPECT_EQ(quoteForShell(small, sizeof(small), "abcd"), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(quoteForShell(small, sizeof(small), "abc"), 0);
}

// A plain text keeps its form byte for byte; anything else becomes one quoted word.
TEST(ShellWord, QuotesOnlyWhatTheShellWouldChange) {
    const struct {
        const char* text;
        const char* word;
    } cases[] = {
        {"/var/log/ZAV_Support/ethflash001.log", "/var/log/ZAV_Support/ethflash001.log"},
        {"ethflash.log", "ethflash.log"},
        {"/tmp/my dir/ethflash.log", "'/tmp/my dir/ethflash.log'"},
        {"/tmp/a;touch x/ethflash.log", "'/tmp/a;touch x/ethflash.log'"},
        {"/tmp/$(id)/`id`/ethflash.log", "'/tmp/$(id)/`id`/ethflash.log'"},
        {"/tmp/it's/ethflash.log", "'/tmp/it'\\''s/ethflash.log'"},
        {"~root/x", "'~root/x'"},
        {"a*", "'a*'"},
        {"a=b", "'a=b'"},
        {"caf\xc3\xa9", "'caf\xc3\xa9'"},
        {"", "''"},
    };
    for (const auto& c : cases) {
        char buf[128];
        ASSERT_EQ(shellWord(buf, sizeof(buf), c.text), 0) << c.text;
        EXPECT_STREQ(buf, c.word);
        EXPECT_EQ(isPlainShellWord(c.text), std::string(c.text) == c.word) << c.text;
        EXPECT_EQ(testutil::runShell(std::string("printf %s ") + buf).out, c.text);
    }
    // "abc" takes 4 bytes plain, "a b" 6 bytes quoted.
    char small[4];
    EXPECT_EQ(shellWord(small, sizeof(small), "abcd"), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(shellWord(small, sizeof(small), "abc"), 0);
    EXPECT_STREQ(small, "abc");
    char five[5];
    EXPECT_EQ(shellWord(five, sizeof(five), "a b"), -1);
    EXPECT_STREQ(five, "");
}

}  // namespace
