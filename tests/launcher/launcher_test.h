// Fixture for launcher unit tests: a run context of the test's own (temporary directory under
// the test's folder, debug off, nothing identified, real commands), and the process-wide state
// the launcher changes (current directory, PATH) put back.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "launcher/context.h"
#include "tests/support/testutil.h"

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // An executable shell script bin/<name> in the test directory, found first through PATH.
    void fakeProgram(const std::string& name, const std::string& body);
    // Sets the identified system of ctx directly; a null distro or cpu: not identified.
    void setSystem(const char* distro, int level, int update, const char* cpu, const char* kernel = "Unknown");
    // Puts a recorder into ctx in place of the real runner: nothing is started, every command
    // line is appended to commandsRun (emptied here) and gets answer's result (0 without one).
    void recordCommands(std::function<int(const std::string&)> answer = nullptr);
    // Lines of stdout/stderr captured while fn runs.
    template <class Fn>
    std::string stdoutOf(Fn fn) {
        testing::internal::CaptureStdout();
        fn();
        return testing::internal::GetCapturedStdout();
    }
    template <class Fn>
    std::string stderrOf(Fn fn) {
        testing::internal::CaptureStderr();
        fn();
        return testing::internal::GetCapturedStderr();
    }

    testutil::TempDir tmp;
    LauncherContext ctx;
    std::vector<std::string> commandsRun;

private:
    static int record(void* self, CommandKind kind, const char* cmd);
    std::function<int(const std::string&)> answer_;
    std::string savedCwd_, savedPath_;
    bool binOnPath_ = false;
};
