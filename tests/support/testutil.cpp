#include "tests/support/testutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

namespace testutil {

namespace {

void removeTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);  // tests make read-only directories; get back in
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                removeTree(path + "/" + name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace

TempDir::TempDir() {
    const char* base = getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/zavtest.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed: " + std::string(strerror(errno)));
    path_ = buf.data();
}

TempDir::~TempDir() { removeTree(path_); }

RunResult run(const std::vector<std::string>& argv, const RunOptions& opts) {
    RunResult result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (opts.closeStdin) {
            close(0);
        } else {
            dup2(in[0], 0);
        }
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (!opts.cwd.empty() && chdir(opts.cwd.c_str()) != 0) _exit(126);
        for (const auto& kv : opts.env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        for (const auto& name : opts.unsetEnv) unsetenv(name.c_str());
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        signal(SIGPIPE, SIG_DFL);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // Feed the input without blocking on a child that does not read it; replies join it as the
    // output they wait for appears.
    signal(SIGPIPE, SIG_IGN);
    std::string pending = opts.input;
    size_t written = 0, reply = 0, searchFrom = 0;
    int inFd = in[1];
    auto queueReplies = [&]() {
        while (reply < opts.replies.size()) {
            size_t at = result.out.find(opts.replies[reply].waitFor, searchFrom);
            if (at == std::string::npos) break;
            searchFrom = at + opts.replies[reply].waitFor.size();
            pending += opts.replies[reply++].send;
        }
        if (inFd >= 0 && written == pending.size() && reply == opts.replies.size()) {
            close(inFd);
            inFd = -1;
        }
    };
    queueReplies();
    time_t deadline = time(nullptr) + opts.timeoutSeconds;
    bool outOpen = true, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen) {
        struct pollfd fds[3];
        int n = 0;
        if (outOpen) fds[n++] = {out[0], POLLIN, 0};
        if (errOpen) fds[n++] = {err[0], POLLIN, 0};
        if (inFd >= 0 && written < pending.size()) fds[n++] = {inFd, POLLOUT, 0};
        int r = poll(fds, n, 500);
        if (time(nullptr) > deadline) {
            kill(pid, SIGKILL);
            ADD_FAILURE() << "timed out after " << opts.timeoutSeconds << "s: " << argv[0]
                          << (reply < opts.replies.size() ? " (waiting for a reply's prompt)" : "");
            break;
        }
        if (r <= 0) continue;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].fd == inFd) {
                ssize_t w = write(inFd, pending.data() + written, pending.size() - written);
                if (w > 0) {
                    written += static_cast<size_t>(w);
                } else {
                    close(inFd);  // the child closed its end: nothing more can be fed
                    inFd = -1;
                }
                continue;
            }
            ssize_t got = read(fds[i].fd, buf, sizeof(buf));
            std::string& dst = fds[i].fd == out[0] ? result.out : result.err;
            if (got > 0) {
                dst.append(buf, static_cast<size_t>(got));
            } else {
                if (fds[i].fd == out[0])
                    outOpen = false;
                else
                    errOpen = false;
            }
        }
        queueReplies();
    }
    if (inFd >= 0) close(inFd);
    close(out[0]);
    close(err[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.status = 128 + WTERMSIG(status);
    return result;
}

RunResult runShell(const std::string& command, const RunOptions& opts) { return run({"/bin/sh", "-c", command}, opts); }

std::string shellQuote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content, int mode) {
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        if (!f) throw std::runtime_error("cannot write '" + path + "'");
        f << content;
    }
    chmod(path.c_str(), static_cast<mode_t>(mode));
}

bool pathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string freshTmpLines(const std::string& source, const std::string& options, const std::vector<std::string>& keep,
                          std::vector<std::string>* kept) {
    std::vector<std::string> tops;
    for (const std::string& p : keep) {
        char real[PATH_MAX];
        std::string path = realpath(p.c_str(), real) ? real : p;
        if (path.compare(0, 5, "/tmp/") != 0) continue;
        std::string top =
            path.substr(5, path.find('/', 5) == std::string::npos ? std::string::npos : path.find('/', 5) - 5);
        if (!top.empty() && std::find(tops.begin(), tops.end(), top) == tops.end()) tops.push_back(top);
    }
    if (kept) *kept = tops;
    std::string lines;
    if (!tops.empty()) lines += "mount -t tmpfs zav_keep /mnt || exit 125\n";
    for (size_t i = 0; i < tops.size(); ++i)
        lines += "mkdir /mnt/" + std::to_string(i) + " && mount --bind " + shellQuote("/tmp/" + tops[i]) + " /mnt/" +
                 std::to_string(i) + " || exit 125\n";
    lines += "mount -t tmpfs -o " + options + " " + source + " /tmp || exit 125\n";
    if (tops.empty()) return lines;
    // The options (ro, size=, noexec) hold for /tmp itself again once the folders are back.
    lines += "mount -o remount,rw /tmp || exit 125\n";
    for (size_t i = 0; i < tops.size(); ++i)
        lines += "mkdir " + shellQuote("/tmp/" + tops[i]) + " && mount --bind /mnt/" + std::to_string(i) + " " +
                 shellQuote("/tmp/" + tops[i]) + " || exit 125\n";
    lines += "mount -o remount," + options + " /tmp || exit 125\n";
    return lines;
}

std::string binPath(const std::string& program) { return std::string(TEST_BIN_DIR) + "/" + program; }

std::string sourcePath(const std::string& relative) { return std::string(TEST_SOURCE_DIR) + "/" + relative; }

bool canUnshareMount(std::string* why) {
    static int known = -1;
    static std::string reason;
    if (known < 0) {
        RunResult r = runShell("unshare -m sh -c 'mount -t tmpfs none /mnt && umount /mnt'");
        known = r.status == 0 ? 1 : 0;
        reason = r.status == 0 ? "" : (r.err.empty() ? "unshare -m failed" : r.err);
        while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    }
    if (why) *why = reason;
    return known == 1;
}

bool i386Runs(std::string* why) {
    static int known = -1;
    static std::string reason;
    if (known < 0) {
        const char* off = getenv("ZAV_TEST_NO_I386");
        const std::string probe = binPath("../dist/i386/pkgunzip");
        if (off && *off && std::string(off) != "0") {
            reason = "ZAV_TEST_NO_I386 is set, so the tests behave as on a kernel without 32-bit support";
        } else if (!pathExists(probe)) {
            reason = "the i386 programs were not built (" + probe +
                     " is missing: their 32-bit libraries were not there; make deps fetches them)";
        } else {
            // pkgunzip without arguments only prints its usage.
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
            pid_t pid = -1;
            char* argv[] = {const_cast<char*>(probe.c_str()), nullptr};
            int err = posix_spawn(&pid, probe.c_str(), &actions, nullptr, argv, environ);
            posix_spawn_file_actions_destroy(&actions);
            int status = 0;
            if (err == 0) waitpid(pid, &status, 0);
            if (err == ENOEXEC)
                reason = "this kernel does not run 32-bit x86 programs (executing " + probe +
                         " fails with ENOEXEC: 32-bit emulation is off)";
            else if (err != 0)
                reason = "executing " + probe + " failed: " + strerror(err);
        }
        known = reason.empty() ? 1 : 0;
    }
    if (why) *why = reason;
    return known == 1;
}

}  // namespace testutil
