// The launcher's children and signals. Each case runs in a forked copy of the test process,
// since the signal state of the launcher is the whole process's.
#include "launcher/os/pkgproc.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <regex>
#include <string>

#include "launcher/os/commands.h"
#include "tests/launcher/launcher_test.h"

namespace {

struct ChildResult {
    int status = -1;  // the forked copy's exit code; -1 when it had to be killed
    std::string out;  // what the body wrote to standard output
    std::string err;  // and to standard error
};

// Runs body in a forked copy with its output in files; kills it after timeoutSeconds.
ChildResult inChild(const testutil::TempDir& tmp, const std::function<void()>& body, int timeoutSeconds) {
    const std::string out = tmp.file("child.out"), err = tmp.file("child.err");
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        body();
        fflush(stdout);
        fflush(stderr);
        _exit(0);
    }
    ChildResult r;
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
        if (waited >= timeoutSeconds * 1000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            r.out = testutil::readFile(out);
            r.err = testutil::readFile(err);
            return r;
        }
        usleep(10 * 1000);
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = testutil::readFile(out);
    r.err = testutil::readFile(err);
    return r;
}

using PackageProcesses = LauncherTest;

// A signal to the launcher alone while one of its commands runs is noted, never swallowed (as
// system() swallows SIGINT and SIGQUIT); a shell for the user at the terminal leaves Ctrl-C to
// that shell, and the launcher's handling is back afterwards.
TEST_F(PackageProcesses, ASignalDuringACommandIsNotedExceptCtrlCInAUserShell) {
    const struct {
        CommandKind kind;
        const char* cmd;
        const char* result;  // "<command result> <signal noted> <signal noted after a later SIGINT>"
    } cases[] = {
        {CMD_SHELL, "kill -INT $PPID; sleep 0.1", "0 2 2"},
        {CMD_SHELL, "kill -QUIT $PPID; sleep 0.1", "0 3 3"},
        {CMD_SHELL, "kill -TERM $PPID; sleep 0.1", "0 15 15"},
        {CMD_INTERACTIVE, "kill -INT $PPID; sleep 0.1", "0 0 2"},
        {CMD_INTERACTIVE, "kill -QUIT $PPID; sleep 0.1", "0 0 2"},
        {CMD_INTERACTIVE, "kill -HUP $PPID; sleep 0.1", "0 1 1"},
        {CMD_INTERACTIVE, "kill -INT $$", "130 0 2"},  // the user's shell itself takes Ctrl-C
    };
    for (const auto& c : cases) {
        ChildResult r = inChild(
            tmp,
            [&] {
                guardPackage();
                CommandRunner runner = shellCommandRunner();
                int result = runCommand(&runner, c.kind, c.cmd);
                int noted = packageSignal();
                kill(getpid(), SIGINT);
                printf("%d %d %d", result, noted, packageSignal());
            },
            20);
        EXPECT_EQ(r.out, c.result) << c.cmd;
    }
}

// A signal ignored when the launcher started (nohup) stays ignored in its children; the ones
// it handles are at their default there.
TEST_F(PackageProcesses, ASignalIgnoredAtStartStaysIgnoredInChildren) {
    ChildResult r = inChild(
        tmp,
        [] {
            signal(SIGHUP, SIG_IGN);
            guardPackage();
            CommandRunner runner = shellCommandRunner();
            int hup = runCommand(&runner, CMD_PACKAGE, "kill -HUP $$; exit 4");
            int term = runCommand(&runner, CMD_SHELL, "kill -TERM $$; exit 4");
            printf("%d %d %d", hup, term, packageSignal());
        },
        20);
    EXPECT_EQ(r.out, "4 143 0");
}

// After a signal the launcher waits for the package's processes only for the grace period: a
// process of the package in a session of its own never gets the signal, and is then killed
// and named.
TEST_F(PackageProcesses, WhatIsLeftAfterTheGracePeriodIsKilledAndNamed) {
    ChildResult r = inChild(
        tmp,
        [] {
            guardPackage(300);
            struct timespec start, end;
            clock_gettime(CLOCK_MONOTONIC, &start);
            CommandRunner runner = shellCommandRunner();
            int result = runCommand(&runner, CMD_PACKAGE, "setsid sleep 30 & sleep 0.2; kill -TERM $PPID; sleep 30");
            waitForPackage();
            clock_gettime(CLOCK_MONOTONIC, &end);
            printf("%d %d %s", result, packageSignal(), end.tv_sec - start.tv_sec < 5 ? "soon" : "late");
        },
        15);
    EXPECT_EQ(r.out, "143 15 soon");
    EXPECT_TRUE(std::regex_match(
        r.err, std::regex("\nPackage processes still running 0 s after signal 15 \\(SIGTERM\\), killed: [0-9]+ "
                          "\\(sleep\\)\\.\n")))
        << r.err;
}

}  // namespace
