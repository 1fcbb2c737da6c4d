#include "common/shellchild.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "common/banned.h"

pid_t startShellGroup(const char* cmd) {
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", cmd, static_cast<char*>(nullptr));
        _exit(127);
    }
    // Also in the parent, so the group exists before anyone signals it.
    if (pid > 0) setpgid(pid, pid);
    return pid;
}

int shellStatus(int status, int otherwise) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return otherwise;
}
