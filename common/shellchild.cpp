#include "common/shellchild.h"

#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "common/banned.h"

namespace {

// In the child, before anything can be delivered: no handler of the parent stays installed.
void defaultHandlers(const sigset_t* toDefault) {
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction cur;
        if (sigaction(sig, nullptr, &cur) != 0) continue;
        bool handled = (cur.sa_flags & SA_SIGINFO) != 0 || (cur.sa_handler != SIG_DFL && cur.sa_handler != SIG_IGN);
        bool asked = toDefault != nullptr && sigismember(toDefault, sig) == 1;
        if (handled || asked) signal(sig, SIG_DFL);
    }
}

}  // namespace

pid_t startShellChild(const char* cmd, bool ownGroup, int terminal, const sigset_t* toDefault,
                      const sigset_t* toIgnore) {
    fflush(stdout);
    fflush(stderr);
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    pid_t pid = fork();
    if (pid == 0) {
        defaultHandlers(toDefault);
        for (int sig = 1; toIgnore != nullptr && sig < NSIG; ++sig)
            if (sigismember(toIgnore, sig) == 1) signal(sig, SIG_IGN);
        if (ownGroup) {
            setpgid(0, 0);
            // SIGTTOU is still blocked: a background group may take the terminal.
            if (terminal >= 0) tcsetpgrp(terminal, getpid());
        }
        sigprocmask(SIG_SETMASK, &old, nullptr);
        execl("/bin/sh", "sh", "-c", cmd, static_cast<char*>(nullptr));
        _exit(127);
    }
    // Also in the parent, so the group exists (and has the terminal) before anyone signals it.
    if (pid > 0 && ownGroup) {
        setpgid(pid, pid);
        if (terminal >= 0) tcsetpgrp(terminal, pid);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return pid;
}

pid_t startShellGroup(const char* cmd) { return startShellChild(cmd, true, -1, nullptr); }

int shellStatus(int status, int otherwise) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return otherwise;
}
