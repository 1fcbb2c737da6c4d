#include "launcher/console.h"

#include <string>

#include "tests/launcher/launcher_test.h"

namespace {

using ConsoleTest = LauncherTest;

TEST_F(ConsoleTest, MessagesAreShownVerbatimAndNeverCut) {
    EXPECT_EQ(stderrOf([] { displayMessages("100% of /tmp/%s %d\n", "title", 1); }), "100% of /tmp/%s %d\n");
    EXPECT_EQ(stderrOf([] { EXPECT_EQ(showError("Failed opening file %s\n", "/a%d"), 0); }),
              "Failed opening file /a%d\n");

    const std::string fits(STDERR_MSG_SIZE - 22, 'p');  // "Failed opening file " + path + "\n" = 2047
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(showError("Failed opening file %s\n", fits.c_str()), 0); }),
              "Failed opening file " + fits + "\n");
    const std::string tooLong = fits + "p";
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(showError("Failed opening file %s\n", tooLong.c_str()), -1); }),
              c_messageTooLongNotice);
}

}  // namespace
