#include "tests/e2e/support/e2esupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "tests/support/testutil.h"

namespace e2e {

namespace {

// Runs a probe command once and remembers its verdict.
bool probe(int* known, std::string* reason, const std::string& command, std::string* why) {
    if (*known < 0) {
        testutil::RunResult r = testutil::runShell(command);
        *known = r.status == 0 ? 1 : 0;
        *reason = r.err.empty() ? "'" + command + "' failed with status " + std::to_string(r.status) : r.err;
        while (!reason->empty() && reason->back() == '\n') reason->pop_back();
    }
    if (why) *why = *known == 1 ? "" : *reason;
    return *known == 1;
}

std::string fnv1a(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    unsigned long long h = 14695981039346656037ULL;
    char buf[65536];
    while (f.read(buf, sizeof(buf)) || f.gcount() > 0) {
        for (std::streamsize i = 0; i < f.gcount(); ++i) {
            h ^= static_cast<unsigned char>(buf[i]);
            h *= 1099511628211ULL;
        }
    }
    char text[24];
    snprintf(text, sizeof(text), "%016llx", h);
    return text;
}

void walk(const std::string& base, const std::string& rel, const std::vector<std::string>& skip,
          std::vector<std::string>& lines) {
    for (const std::string& name : testutil::listDir(rel.empty() ? base : base + "/" + rel)) {
        if (rel.empty() && std::find(skip.begin(), skip.end(), name) != skip.end()) continue;
        std::string path = rel.empty() ? name : rel + "/" + name;
        std::string full = base + "/" + path;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0) {
            lines.push_back(path + " vanished");
            continue;
        }
        char mode[8];
        snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(st.st_mode & 07777));
        std::string line = path + " ";
        if (S_ISDIR(st.st_mode)) {
            lines.push_back(line + "dir " + mode);
            walk(base, path, skip, lines);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlink(full.c_str(), target, sizeof(target) - 1);
            lines.push_back(line + "link " + mode + " -> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0));
        } else if (S_ISREG(st.st_mode)) {
            lines.push_back(line + "file " + mode + " " + std::to_string(st.st_size) + " " + fnv1a(full));
        } else {
            lines.push_back(line + "other " + mode);
        }
    }
}

}  // namespace

bool canOverlayEtc(std::string* why) {
    static int known = -1;
    static std::string reason;
    std::unique_ptr<testutil::TempDir> dir;
    std::string command;
    if (known < 0) {
        dir.reset(new testutil::TempDir);
        testutil::writeFile(dir->file("zav-e2e-probe"), "x");
        command =
            "unshare -m sh -c " + testutil::shellQuote("mount -t overlay zav_e2e_probe -o lowerdir=" + dir->path() +
                                                       ":/etc /etc && test -f /etc/zav-e2e-probe");
    }
    return probe(&known, &reason, command, why);
}

bool canUnsharePid(std::string* why) {
    static int known = -1;
    static std::string reason;
    return probe(&known, &reason, "unshare -m --pid --fork --mount-proc sh -c 'test $$ -eq 1'", why);
}

HostView::HostView(const std::string& root) : bin_(root + "/bin"), etc_(root + "/etc") {
    mkdir(bin_.c_str(), 0755);
    mkdir(etc_.c_str(), 0755);
    setUname("6.1.0-e2e", "x86_64");
    setRelease("redhat-release", nullptr);
    setRelease("SuSE-release", nullptr);
    setRelease("os-release", nullptr);  // read when the two above are missing
}

void HostView::setUname(const std::string& kernel, const std::string& machine) {
    testutil::writeFile(bin_ + "/uname",
                        "#!/bin/sh\ncase \"$1\" in\n  -r) echo '" + kernel + "' ;;\n  -i|-m) echo '" + machine +
                            "' ;;\n  *) exec /bin/uname \"$@\" ;;\nesac\n",
                        0755);
}

void HostView::setRelease(const std::string& name, const char* text) {
    std::string path = etc_ + "/" + name;
    unlink(path.c_str());
    if (text) {
        testutil::writeFile(path, text);
    } else if (mknod(path.c_str(), S_IFCHR | 0600, makedev(0, 0)) != 0) {
        ADD_FAILURE() << "mknod " << path << ": " << strerror(errno);
    }
}

std::string privateLockLine() {
    return "mount -t tmpfs -o mode=0755 zav_e2e_run /run && mkdir -m 1777 /run/lock || exit 125\n";
}

int runInPidNamespace(const std::string& script, int timeoutSeconds, std::string* err) {
    testutil::RunOptions opts;
    opts.timeoutSeconds = timeoutSeconds;
    testutil::RunResult r =
        testutil::run({"unshare", "-m", "--pid", "--fork", "--mount-proc", "/bin/sh", "-c", script}, opts);
    if (err != nullptr) *err = r.err;
    return r.status;
}

std::string HostView::mountEtcLine() const {
    return "mount -t overlay zav_e2e_etc -o lowerdir=" + testutil::shellQuote(etc_ + ":/etc") + " /etc || exit 125\n";
}

std::vector<std::pair<std::string, std::string>> HostView::env() const {
    return {{"PATH", bin_ + ":/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"}, {"LC_ALL", "C"}};
}

std::string snapshotTree(const std::string& dir, const std::vector<std::string>& skip) {
    std::vector<std::string> lines;
    walk(dir, "", skip, lines);
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

std::string withoutEntries(const std::string& snapshot, const std::vector<std::string>& names) {
    std::string kept;
    size_t at = 0;
    while (at < snapshot.size()) {
        size_t end = snapshot.find('\n', at);
        if (end == std::string::npos) end = snapshot.size();
        std::string line = snapshot.substr(at, end - at);
        std::string top = line.substr(0, line.find_first_of(" /"));
        if (std::find(names.begin(), names.end(), top) == names.end()) kept += line + "\n";
        at = end + 1;
    }
    return kept;
}

}  // namespace e2e
