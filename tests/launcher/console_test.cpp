#include "launcher/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "launcher_test.h"

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
              MESSAGE_TOO_LONG_NOTICE);
}

TEST_F(ConsoleTest, ExaminationShellRunsInTheCurrentDirectory) {
    // "sh" reads its commands from standard input, here a file.
    testutil::writeFile(tmp.file("in"), "echo in the shell; pwd\nexit\n");
    ASSERT_EQ(chdir(tmp.path().c_str()), 0);
    int saved = dup(0);
    int in = open(tmp.file("in").c_str(), O_RDONLY);
    dup2(in, 0);
    close(in);
    std::string out = stdoutOf([] { cmdShell("++ About to unzipp 'package image'."); });
    dup2(saved, 0);
    close(saved);
    EXPECT_EQ(out, "\n++ About to unzipp 'package image'. ...Type 'exit' to resume...\n\nin the shell\n" + tmp.path() +
                       "\n\n");
}

}  // namespace
