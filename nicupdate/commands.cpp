#include "nicupdate/commands.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "nicupdate/fwlog.h"
#include "common/banned.h"

static bool composeCmd(char* out, size_t outSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

static bool composeCmd(char* out, size_t outSize, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int len = vsnprintf(out, outSize, format, ap);
    va_end(ap);
    if (len >= 0 && static_cast<size_t>(len) < outSize) return true;
    writetoLogf(false, "Error! Command line would exceed %zu characters; not run: %.60s...\n",
                outSize - 1, out);
    if (outSize > 0) out[0] = '\0';
    return false;
}

bool composeListCmd(char* out, size_t outSize, const char* toolPath) {
    return composeCmd(out, outSize, "%s <q >devices", toolPath);
}

bool composeListToLogCmd(char* out, size_t outSize, const char* toolPath, const char* logPath) {
    return composeCmd(out, outSize, "%s <q >>%s", toolPath, logPath);
}

bool composeDirCmd(char* out, size_t outSize, const char* toolPath, const char* macAddr) {
    return composeCmd(out, outSize, "%s %s dir >%s", toolPath, macAddr, macAddr);
}

bool composeUpgradeCmd(char* out, size_t outSize, const char* toolPath, const char* macAddr,
                       const char* typeSuffix, const char* imageFile, const char* logPath) {
    return composeCmd(out, outSize, "%s %s upgrade -noreset -F -%s %s nv.bak >>%s", toolPath,
                      macAddr, typeSuffix, imageFile, logPath);
}

bool composeCfgCmd(char* out, size_t outSize, const char* toolPath, const char* macAddr,
                   const char* component, const char* logPath) {
    return composeCmd(out, outSize, "%s %s cfg -%s 0 >>%s", toolPath, macAddr, component, logPath);
}

bool composeCrcCmd(char* out, size_t outSize, const char* toolPath, const char* macAddr,
                   const char* logPath) {
    return composeCmd(out, outSize, "%s %s crc <y >>%s", toolPath, macAddr, logPath);
}

bool composeRemoveCmd(char* out, size_t outSize, const char* path) {
    return composeCmd(out, outSize, "rm %s", path);
}

int runCommand(const char* cmd) {
    if (cmd[0] == '\0') return -1;
    fflush(stdout);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // Its own process group: the terminal's Ctrl-C and Ctrl-\ never cut a utility short.
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", cmd, static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid, pid);
    int status = 0;
    // A noted signal interrupts the wait, never the command: wait on until it has ended.
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

static int runShell(void*, const char* cmd) { return runCommand(cmd); }

const CommandRunner c_shellRunner = {runShell, nullptr};

static int runComposed(const CommandRunner& runner, bool composed, const char* cmd) {
    return composed ? runner.run(runner.context, cmd) : -1;
}

int runListCmd(const CommandRunner& runner, const char* toolPath) {
    char cmd[CMD_SIZE];
    return runComposed(runner, composeListCmd(cmd, sizeof(cmd), toolPath), cmd);
}

int runListToLogCmd(const CommandRunner& runner, const char* toolPath, const char* logPath) {
    char cmd[CMD_SIZE];
    return runComposed(runner, composeListToLogCmd(cmd, sizeof(cmd), toolPath, logPath), cmd);
}

int runDirCmd(const CommandRunner& runner, const char* toolPath, const char* macAddr) {
    char cmd[CMD_SIZE];
    return runComposed(runner, composeDirCmd(cmd, sizeof(cmd), toolPath, macAddr), cmd);
}

int runUpgradeCmd(const CommandRunner& runner, const char* toolPath, const char* macAddr, const char* typeSuffix,
                  const char* imageFile, const char* logPath) {
    char cmd[CMD_SIZE];
    return runComposed(runner, composeUpgradeCmd(cmd, sizeof(cmd), toolPath, macAddr, typeSuffix, imageFile, logPath),
                       cmd);
}

int runCfgCmd(const CommandRunner& runner, const char* toolPath, const char* macAddr, const char* component,
              const char* logPath) {
    char cmd[CMD_SIZE];
    return runComposed(runner, composeCfgCmd(cmd, sizeof(cmd), toolPath, macAddr, component, logPath), cmd);
}

int runCrcCmd(const CommandRunner& runner, const char* toolPath, const char* macAddr, const char* logPath) {
    char cmd[CMD_SIZE];
    return runComposed(runner, composeCrcCmd(cmd, sizeof(cmd), toolPath, macAddr, logPath), cmd);
}

int runRemoveCmd(const CommandRunner& runner, const char* path) {
    char cmd[CMD_SIZE];
    return runComposed(runner, composeRemoveCmd(cmd, sizeof(cmd), path), cmd);
}
