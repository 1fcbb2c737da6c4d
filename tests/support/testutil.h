// Test fixtures shared by unit and end-to-end tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testutil {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct RunResult {
    int status = -1;  // exit code, or 128 + signal number when the child died by a signal
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
};

// Text written to standard input once standard output has shown waitFor (searched after the
// place where the previous reply's waitFor was found).
struct Reply {
    std::string waitFor;
    std::string send;
};

struct RunOptions {
    std::string input;                                     // fed to standard input first
    std::vector<Reply> replies;                            // then these, in order; then it is closed
    std::string cwd;                                       // empty: the test's own directory
    std::vector<std::pair<std::string, std::string>> env;  // set (or, with an empty value, kept empty)
    std::vector<std::string> unsetEnv;
    bool closeStdin = false;   // start with descriptor 0 closed
    int timeoutSeconds = 120;  // the child is killed after this long
};

// Runs argv[0] (searched in PATH when it has no '/') and collects its output and status.
RunResult run(const std::vector<std::string>& argv, const RunOptions& opts = RunOptions());

// Runs a command line through /bin/sh -c.
RunResult runShell(const std::string& command, const RunOptions& opts = RunOptions());

// Quotes text for /bin/sh: 'text' with every ' written as '\''.
std::string shellQuote(const std::string& text);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content, int mode = 0644);
bool pathExists(const std::string& path);
// Names in a directory, sorted, without "." and "..".
std::vector<std::string> listDir(const std::string& path);

// Path of a program built into build/bin.
std::string binPath(const std::string& program);
// Path below the source tree.
std::string sourcePath(const std::string& relative);

// Shell lines, for a script inside `unshare -m`, that mount a fresh tmpfs (`source`, mount
// options `options`) on /tmp while the top-level folders of /tmp holding any of `keep` stay
// visible at their place: a checkout under /tmp keeps its build tree and test folders. They are
// bind-mounted back through a holder tmpfs on /mnt, private to the namespace. The kept names go
// to *kept, for listings of /tmp to leave out. Each line exits 125 on failure.
std::string freshTmpLines(const std::string& source, const std::string& options, const std::vector<std::string>& keep,
                          std::vector<std::string>* kept);

// True when `unshare -m` works here (root with the capability to mount); otherwise *why says why.
bool canUnshareMount(std::string* why);

// True when this kernel runs the i386 package programs of the build (build/dist/i386): they were
// built, and executing one does not fail with ENOEXEC (kernels with 32-bit emulation off).
// Probed once. The environment variable ZAV_TEST_NO_I386 (any value but "" or "0") makes it
// false, to try a kernel without 32-bit support on any machine. Otherwise *why says why not.
bool i386Runs(std::string* why);

}  // namespace testutil

// Skips the current test, with the reason, where the i386 programs cannot run here.
#define SKIP_UNLESS_I386_RUNS()                                                             \
    do {                                                                                    \
        std::string why_;                                                                   \
        if (!testutil::i386Runs(&why_)) GTEST_SKIP() << "executes i386 programs; " << why_; \
    } while (0)

// Skips the current test with a clear reason when private mount namespaces are not permitted.
#define SKIP_UNLESS_MOUNT_NAMESPACE()                                                 \
    do {                                                                              \
        std::string why_;                                                             \
        if (!testutil::canUnshareMount(&why_))                                        \
            GTEST_SKIP() << "needs a private mount namespace (unshare -m): " << why_; \
    } while (0)
