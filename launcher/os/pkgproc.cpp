#include "launcher/os/pkgproc.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/shellchild.h"
#include "common/signals.h"
#include "common/banned.h"

namespace {

volatile sig_atomic_t s_firstSignal = 0;
volatile sig_atomic_t s_noted[4] = {0, 0, 0, 0};
bool s_passedOn[4] = {false, false, false, false};
bool s_ignoredAtStart[4] = {false, false, false, false};

int s_graceMs = c_packageGraceSeconds * 1000;
struct timespec s_deadline = {0, 0};  // set when the first signal is passed on
bool s_killed = false;                // what was left after the grace period has been killed

// The controlling terminal, -1 without one.
int s_tty = -1;

// Process group of the latest command. Its number is ours while its leader is not yet reaped
// (a zombie keeps it) or a member is alive (every member is a descendant, and the launcher is
// their subreaper); once the leader is reaped and the group is empty it is forgotten, so a
// signal never goes to a group whose number was given out again.
pid_t s_group = 0;
bool s_leaderReaped = true;
// Whether the group has the terminal (handed over by the launcher).
bool s_handed = false;
// Package processes already named as stopped (named again once continued).
std::vector<pid_t> s_reportedStops;

int runIndex(int sig) {
    for (int i = 0; i < 4; ++i)
        if (c_runSignals[i] == sig) return i;
    return -1;
}

void noteSignal(int sig) {
    if (s_firstSignal == 0) s_firstSignal = sig;
    int i = runIndex(sig);
    if (i >= 0) s_noted[i] = 1;
}

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
    fflush(stdout);
    fputs(text, stderr);
    fflush(stderr);
}

struct timespec now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

bool pastDeadline() {
    if (s_deadline.tv_sec == 0 && s_deadline.tv_nsec == 0) return false;
    struct timespec t = now();
    return t.tv_sec > s_deadline.tv_sec || (t.tv_sec == s_deadline.tv_sec && t.tv_nsec >= s_deadline.tv_nsec);
}

// Drops the group once its leader is reaped and no member is left.
void forgetEmptyGroup() {
    if (s_group > 0 && s_leaderReaped && kill(-s_group, 0) != 0 && errno == ESRCH) s_group = 0;
}

// Each signal is passed on once: the package has it, and a repeat is often the launcher's
// own group getting what the terminal sent to everyone. SIGCONT follows, so that a stopped
// process acts on it.
void passOn() {
    if (s_firstSignal != 0 && s_deadline.tv_sec == 0 && s_deadline.tv_nsec == 0) {
        s_deadline = now();
        s_deadline.tv_sec += s_graceMs / 1000;
        s_deadline.tv_nsec += static_cast<long>(s_graceMs % 1000) * 1000000L;
        if (s_deadline.tv_nsec >= 1000000000L) {
            s_deadline.tv_sec += 1;
            s_deadline.tv_nsec -= 1000000000L;
        }
    }
    for (int i = 0; i < 4; ++i) {
        if (!s_noted[i] || s_passedOn[i]) continue;
        s_passedOn[i] = true;
        forgetEmptyGroup();
        if (s_group > 0) {
            kill(-s_group, c_runSignals[i]);
            kill(-s_group, SIGCONT);
        }
    }
}

void nap() {
    struct timespec step = {0, 20 * 1000 * 1000};
    nanosleep(&step, nullptr);
}

struct Proc {
    pid_t pid;
    pid_t ppid;
    pid_t pgrp;
    char state;
    std::string name;
};

// Every process below the launcher, from /proc.
std::vector<Proc> descendants() {
    std::vector<Proc> all;
    DIR* d = opendir("/proc");
    if (d == nullptr) return all;
    while (struct dirent* e = readdir(d)) {
        char* end = nullptr;
        long pid = strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        char path[64], buf[512];
        snprintf(path, sizeof(path), "/proc/%ld/stat", pid);
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ssize_t n = read(fd, buf, sizeof(buf) - 1);
        close(fd);
        if (n <= 0) continue;
        buf[n] = '\0';
        char* open = strchr(buf, '(');
        char* close = strrchr(buf, ')');
        if (open == nullptr || close == nullptr || close < open) continue;
        Proc p;
        p.pid = static_cast<pid_t>(pid);
        p.name.assign(open + 1, static_cast<size_t>(close - open - 1));
        int ppid = 0, pgrp = 0;
        if (sscanf(close + 1, " %c %d %d", &p.state, &ppid, &pgrp) != 3) continue;
        p.ppid = ppid;
        p.pgrp = pgrp;
        all.push_back(p);
    }
    closedir(d);
    std::vector<Proc> below;
    const pid_t self = getpid();
    for (const Proc& p : all) {
        pid_t up = p.ppid;
        // Bounded walk up the parent chain (a chain can change under us).
        for (int depth = 0; up > 1 && up != self && depth < 64; ++depth) {
            pid_t next = 0;
            for (const Proc& q : all)
                if (q.pid == up) next = q.ppid;
            up = next;
        }
        if (up == self) below.push_back(p);
    }
    return below;
}

bool launcherInForeground() { return s_tty >= 0 && tcgetpgrp(s_tty) == getpgrp(); }

// Names each newly stopped package process once, and says what brings it back.
void reportStops() {
    for (const Proc& p : descendants()) {
        if (p.state != 'T') continue;
        bool known = false;
        for (pid_t r : s_reportedStops) known = known || r == p.pid;
        if (known) continue;
        s_reportedStops.push_back(p.pid);
        if (s_tty >= 0 && !s_handed && !launcherInForeground())
            say("\nPackage process %d (%s) is stopped, most likely waiting for the terminal: bring the package to "
                "the foreground (fg) to go on, or end it with 'kill %d'.\n",
                static_cast<int>(p.pid), p.name.c_str(), static_cast<int>(getpid()));
        else
            say("\nPackage process %d (%s) is stopped, most likely waiting for the terminal outside the package's "
                "process group: end the package with Ctrl-C or 'kill %d'.\n",
                static_cast<int>(p.pid), p.name.c_str(), static_cast<int>(getpid()));
    }
}

// The launcher has the terminal (again, after 'fg') while the command runs: the package gets it
// and goes on.
void handOverIfForeground() {
    if (s_group <= 0 || s_leaderReaped || !launcherInForeground()) return;
    if (tcsetpgrp(s_tty, s_group) != 0) return;
    s_handed = true;
    s_reportedStops.clear();
    kill(-s_group, SIGCONT);
}

void takeTerminal() {
    if (!s_handed) return;
    s_handed = false;
    if (s_tty < 0 || tcgetpgrp(s_tty) != s_group) return;
    // From a background group this needs SIGTTOU blocked.
    sigset_t ttou, old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &old);
    tcsetpgrp(s_tty, getpgrp());
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

// After the grace period: SIGKILL to everything below the launcher, named once.
void killLeftovers() {
    std::vector<Proc> left = descendants();
    if (!s_killed && !left.empty()) {
        std::string names;
        for (const Proc& p : left) {
            if (!names.empty()) names += ", ";
            names += std::to_string(p.pid) + " (" + p.name + ")";
            if (names.size() > 600) {
                names += ", ...";
                break;
            }
        }
        // Killed first: a screen that is gone (SIGPIPE on the message) must not leave them running.
        s_killed = true;
        for (const Proc& p : left) kill(p.pid, SIGKILL);
        if (s_group > 0) kill(-s_group, SIGKILL);
        say("\nPackage processes still running %d s after signal %d (%s), killed: %s.\n", s_graceMs / 1000,
            static_cast<int>(s_firstSignal), runSignalName(s_firstSignal), names.c_str());
        return;
    }
    s_killed = true;
    for (const Proc& p : left) kill(p.pid, SIGKILL);
    if (s_group > 0) kill(-s_group, SIGKILL);
}

void leaderEnded(int status) {
    s_leaderReaped = true;
    bool hadTerminal = s_handed;
    takeTerminal();
    // With the terminal, Ctrl-C, Ctrl-\ and a hang-up went to the package alone: the launcher
    // takes them as its own, already passed on.
    if (hadTerminal && WIFSIGNALED(status)) {
        int sig = WTERMSIG(status);
        int i = runIndex(sig);
        if (i >= 0 && sig != SIGTERM && !s_ignoredAtStart[i]) {
            noteSignal(sig);
            s_passedOn[i] = true;
        }
    }
}

// A Ctrl-Z with the terminal stopped the command: stop with it, as a shell's job
// would, and hand the terminal back once continued.
void leaderStopped(int sig) {
    if (s_handed && (sig == SIGTSTP || sig == SIGSTOP)) {
        takeTerminal();
        raise(SIGTSTP);
        return;  // continued (or SIGTSTP has no effect here): the loop hands the terminal back
    }
}

// Reaps children until leader has ended (its wait status in *status) and, once a signal is
// noted, until no child is left or the grace period is over. Polls, so that a signal arriving
// at any moment is passed on soon.
void reap(pid_t leader, int* status) {
    bool ended = leader <= 0;
    for (unsigned tick = 1;; ++tick) {
        passOn();
        if (!ended) handOverIfForeground();
        int st = 0;
        pid_t r = waitpid(-1, &st, WNOHANG | WUNTRACED);
        if (r > 0) {
            if (WIFSTOPPED(st)) {
                if (r == leader) leaderStopped(WSTOPSIG(st));
                continue;
            }
            if (r == leader) {
                *status = st;
                ended = true;
                leaderEnded(st);
            }
            if (ended && s_firstSignal == 0) return;
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            s_group = 0;  // no child left
            return;
        }
        if (ended && s_firstSignal == 0) return;
        forgetEmptyGroup();
        if (s_firstSignal != 0 && pastDeadline()) killLeftovers();
        if (tick % 25 == 0) reportStops();
        nap();
    }
}

int waitOne(pid_t pid) {
    int status = -1;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

}  // namespace

int decodeWaitStatus(int status) { return status == -1 ? 255 : shellStatus(status, 255); }

void guardPackage(int graceMs) {
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    s_graceMs = graceMs;
    for (int i = 0; i < 4; ++i) {
        struct sigaction old;
        s_ignoredAtStart[i] = sigaction(c_runSignals[i], nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
    }
    catchRunSignals(noteSignal);
    if (s_tty < 0) s_tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
}

int packageSignal() { return s_firstSignal; }

int runPackageCommand(const char* cmd) {
    if (cmd == nullptr) return 255;
    if (s_firstSignal != 0) return 128 + s_firstSignal;
    bool give = launcherInForeground();
    pid_t pid = startShellChild(cmd, true, give ? s_tty : -1, nullptr);
    if (pid < 0) return 255;
    s_group = pid;
    s_leaderReaped = false;
    s_handed = give;
    s_reportedStops.clear();
    int status = -1;
    reap(pid, &status);
    if (!s_leaderReaped) {
        // No child left without the leader reaped: lost (cannot happen with a live leader).
        s_leaderReaped = true;
        takeTerminal();
    }
    return decodeWaitStatus(status);
}

int runPlainCommand(const char* cmd) {
    if (cmd == nullptr) return 255;
    if (s_firstSignal != 0) return 128 + s_firstSignal;
    pid_t pid = startShellChild(cmd, false, -1, nullptr);
    if (pid < 0) return 255;
    return decodeWaitStatus(waitOne(pid));
}

int runInteractiveCommand(const char* cmd) {
    if (cmd == nullptr) return 255;
    if (s_firstSignal != 0) return 128 + s_firstSignal;
    // As system() does: the launcher ignores the terminal's Ctrl-C and Ctrl-\ while the user
    // works; the child takes them (unless ignored from the start).
    const int keys[] = {SIGINT, SIGQUIT};
    struct sigaction saved[2];
    sigset_t toDefault;
    sigemptyset(&toDefault);
    struct sigaction ignore;
    memset(&ignore, 0, sizeof(ignore));
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int k = 0; k < 2; ++k) {
        sigaction(keys[k], &ignore, &saved[k]);
        if (saved[k].sa_handler != SIG_IGN) sigaddset(&toDefault, keys[k]);
    }
    pid_t pid = startShellChild(cmd, false, -1, &toDefault);
    int status = pid < 0 ? -1 : waitOne(pid);
    for (int k = 0; k < 2; ++k) sigaction(keys[k], &saved[k], nullptr);
    return decodeWaitStatus(status);
}

void waitForPackage() {
    int status = 0;
    reap(0, &status);
}
