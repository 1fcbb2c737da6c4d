#include "common/shellchild.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "common/banned.h"

pid_t startShellGroup(const char* cmd) { return startShellChild(cmd, true, nullptr, 0); }

int shellStatus(int status, int otherwise) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return otherwise;
}

pid_t startShellChild(const char* cmd, bool ownGroup, const int* ignored, size_t count) {
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        for (size_t i = 0; i < count; ++i) signal(ignored[i], SIG_IGN);
        if (ownGroup) setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", cmd, static_cast<char*>(nullptr));
        _exit(127);
    }
    // Also in the parent, so the group exists before anyone signals it.
    if (pid > 0 && ownGroup) setpgid(pid, pid);
    return pid;
}
