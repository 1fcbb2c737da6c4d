#include "launcher/os/pkgproc.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/shellchild.h"
#include "common/signals.h"
#include "common/banned.h"

namespace {


volatile sig_atomic_t s_firstSignal = 0;
volatile sig_atomic_t s_noted[4] = {0, 0, 0, 0};
bool s_passedOn[4] = {false, false, false, false};

// Process group of the latest command. Its number stays ours while a member is alive or not yet
// reaped (every member is a descendant, and the launcher is their subreaper); once none is left
// it is forgotten, so a signal never goes to a group whose number was given out again.
pid_t s_group = 0;

void noteSignal(int sig) {
    if (s_firstSignal == 0) s_firstSignal = sig;
    for (int i = 0; i < 4; ++i)
        if (c_runSignals[i] == sig) s_noted[i] = 1;
}

// Each signal is passed on once: the package has it, and a repeat is often the launcher's
// own group getting what the terminal sent to everyone.
void passOn() {
    for (int i = 0; i < 4; ++i) {
        if (!s_noted[i] || s_passedOn[i]) continue;
        s_passedOn[i] = true;
        if (s_group > 0) kill(-s_group, c_runSignals[i]);
    }
}

void nap() {
    struct timespec step = {0, 20 * 1000 * 1000};
    nanosleep(&step, nullptr);
}

// Reaps children until pid has ended (its wait status in *status) and, once a signal is noted,
// until no child is left. Polls, so that a signal arriving at any moment is passed on soon.
void reap(pid_t pid, int* status) {
    bool ended = pid <= 0;
    for (;;) {
        passOn();
        int st = 0;
        pid_t r = waitpid(-1, &st, WNOHANG);
        if (r > 0) {
            if (r == pid) {
                *status = st;
                ended = true;
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
        nap();
    }
}

}  // namespace

int decodeWaitStatus(int status) { return status == -1 ? 255 : shellStatus(status, 255); }

void guardPackage() {
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    catchRunSignals(noteSignal);
}

int packageSignal() { return s_firstSignal; }

int runPackageCommand(const char* cmd) {
    if (cmd == nullptr) return 255;
    if (s_firstSignal != 0) return 128 + s_firstSignal;
    pid_t pid = startShellGroup(cmd);
    if (pid < 0) return 255;
    s_group = pid;
    int status = -1;
    reap(pid, &status);
    return decodeWaitStatus(status);
}

void waitForPackage() {
    int status = 0;
    reap(0, &status);
}
