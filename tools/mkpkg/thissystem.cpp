#include "tools/mkpkg/thissystem.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tools/mkpkg/errors.h"
#include "pkgformat/decimal.h"
#include "pkgformat/osclass.h"
#include "common/banned.h"

namespace mkpkg {

namespace {

extern "C" char** environ;

// Trimmed output of `uname option` (at most size - 1 bytes) into buf; null when uname cannot be
// started, fails or prints nothing.
const char* unameText(const char* option, char* buf, size_t size) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string name = "uname", opt = option;
    char* argv[] = {&name[0], &opt[0], nullptr};
    pid_t pid;
    // By its full path: a uname earlier in PATH must not speak for the system.
    int rc = posix_spawn(&pid, "/bin/uname", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    size_t used = 0;
    // Read to the end, keeping what fits: uname must not block on a full pipe.
    for (char spill[256];;) {
        char* to = used + 1 < size ? buf + used : spill;
        size_t room = used + 1 < size ? size - 1 - used : sizeof(spill);
        ssize_t n = read(out[0], to, room);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (to != spill) used += static_cast<size_t>(n);
    }
    close(out[0]);
    int status = 0;
    if (rc != 0) return nullptr;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || used == 0) return nullptr;
    buf[used] = '\0';
    trimTrailingSpaces(buf);
    return buf;
}

const SystemFacts& identifyOnce() {
    static SystemFacts facts;
    static bool done = false;
    if (done) return facts;
    done = true;
    char text[KERNEL_LEVEL_SIZE];
    const char* kernel = unameText("-r", text, sizeof(text));
    std::snprintf(facts.kernel, sizeof(facts.kernel), "%s", kernel && *kernel ? kernel : "Unknown");
    setDistroName(&facts, c_distroName_UNKNOWN);
    static ReleaseTexts texts;  // three 2 KiB texts
    if (readReleaseTexts("/", &texts, 0) == 0) distroFromReleaseTexts(&texts, &facts);
    char textI[2048], textM[2048];
    const char* unameI = unameText("-i", textI, sizeof(textI));
    const char* unameM = needsUnameM(unameI) ? unameText("-m", textM, sizeof(textM)) : nullptr;
    std::snprintf(facts.processor, sizeof(facts.processor), "%s", processorClass(unameI, unameM));
    return facts;
}

bool wholeNumber(const std::string& s, int* out) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    *out = readDecimal(s.c_str());
    return true;
}

}  // namespace

SystemFacts thisSystemFacts() { return identifyOnce(); }

SystemFacts parseSystemText(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> w;
    for (std::string word; in >> word;) w.push_back(word);
    const char* form = "; write --system 'NAME LEVEL UPDATE KERNEL PROCESSOR', e.g. 'RedHat 5 4 2.6.18 x86_64'";
    if (w.size() != 5)
        throw UsageError("--system " + quote(text) + " has " + std::to_string(w.size()) + " words, not 5" + form);
    SystemFacts facts{};
    if (w[0].size() >= sizeof(facts.name))
        throw UsageError("--system name " + quote(w[0]) + " is longer than " + std::to_string(sizeof(facts.name) - 1) +
                         " characters" + form);
    if (!wholeNumber(w[1], &facts.level)) throw UsageError("--system level " + quote(w[1]) + " is not a number" + form);
    if (!wholeNumber(w[2], &facts.update))
        throw UsageError("--system update " + quote(w[2]) + " is not a number" + form);
    if (w[3].size() >= sizeof(facts.kernel))
        throw UsageError("--system kernel " + quote(w[3]) + " is longer than " +
                         std::to_string(sizeof(facts.kernel) - 1) + " characters" + form);
    std::snprintf(facts.name, sizeof(facts.name), "%s", w[0].c_str());
    std::snprintf(facts.kernel, sizeof(facts.kernel), "%s", w[3].c_str());
    std::snprintf(facts.processor, sizeof(facts.processor), "%s", processorClass(nullptr, w[4].c_str()));
    return facts;
}

SystemFacts systemFromRoot(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) throw Error(systemError("read system folder", dir, errno));
    if (!S_ISDIR(st.st_mode))
        throw Error("system folder " + quote(dir) + " is not a folder; pass the folder that holds etc/");
    SystemFacts facts = thisSystemFacts();
    static ReleaseTexts texts;  // three 2 KiB texts
    if (readReleaseTexts(dir.c_str(), &texts, 0) != 0)
        throw Error("system folder " + quote(dir) + " is too long a path; use a shorter one");
    distroFromReleaseTexts(&texts, &facts);
    return facts;
}

SystemFit fitSystem(const SystemFacts& facts, const BootConfig& cfg, const std::string& source) {
    SystemFit fit;
    fit.source = source;
    char desc[512];
    describeSystem(&facts, desc, sizeof(desc));
    fit.description = desc;
    while (!fit.description.empty() && fit.description.back() == '\n') fit.description.pop_back();
    fit.distroName = facts.name;
    fit.distroLevel = facts.level;
    fit.updateLevel = facts.update;
    fit.kernel = facts.kernel;
    fit.processor = facts.processor;
    for (const BootClause& clause : cfg.clauses) {
        ClauseFit c;
        c.index = clause.index;
        if (fit.clause >= 0) {
            c.reason = "not examined: clause " + std::to_string(fit.clause) + " fits";
            fit.clauses.push_back(c);
            continue;
        }
        ClauseVerdict verdict{0, ""};
        const char* file = matchOsClassFor(&facts, clause.text.c_str(), &verdict);
        c.examined = true;
        c.fits = file != nullptr;
        c.field = verdict.field;
        c.reason = verdict.reason;
        if (file) {
            fit.clause = clause.index;
            fit.fileName = file;
        }
        fit.clauses.push_back(c);
    }
    return fit;
}

}  // namespace mkpkg
