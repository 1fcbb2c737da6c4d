#include "nicupdate/commands.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "nicupdate/fwlog.h"
#include "common/shellchild.h"
#include "common/banned.h"

static bool composeCmd(const RunLog& log, char* out, size_t outSize, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

static bool composeCmd(const RunLog& log, char* out, size_t outSize, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int len = vsnprintf(out, outSize, format, ap);
    va_end(ap);
    if (len >= 0 && static_cast<size_t>(len) < outSize) return true;
    writetoLogf(log, false, "Error! Command line would exceed %zu characters; not run: %.60s...\n",
                outSize - 1, out);
    if (outSize > 0) out[0] = '\0';
    return false;
}

bool composeListCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath) {
    return composeCmd(log, out, outSize, "%s <q >devices", toolPath);
}

bool composeListToLogCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* logPath) {
    return composeCmd(log, out, outSize, "%s <q >>%s", toolPath, logPath);
}

bool composeDirCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr) {
    return composeCmd(log, out, outSize, "%s %s dir >%s", toolPath, macAddr, macAddr);
}

bool composeUpgradeCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr,
                       const char* typeSuffix, const char* imageFile, const char* logPath) {
    return composeCmd(log, out, outSize, "%s %s upgrade -noreset -F -%s %s nv.bak >>%s", toolPath,
                      macAddr, typeSuffix, imageFile, logPath);
}

bool composeCfgCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr,
                   const char* component, const char* logPath) {
    return composeCmd(log, out, outSize, "%s %s cfg -%s 0 >>%s", toolPath, macAddr, component, logPath);
}

bool composeCrcCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr,
                   const char* logPath) {
    return composeCmd(log, out, outSize, "%s %s crc <y >>%s", toolPath, macAddr, logPath);
}

bool composeRemoveCmd(const RunLog& log, char* out, size_t outSize, const char* path) {
    return composeCmd(log, out, outSize, "rm %s", path);
}

int runCommand(const char* cmd) {
    if (cmd[0] == '\0') return -1;
    // Its own process group: the terminal's Ctrl-C and Ctrl-\ never cut a utility short.
    pid_t pid = startShellGroup(cmd);
    if (pid < 0) return -1;
    int status = 0;
    // A noted signal interrupts the wait, never the command: wait on until it has ended.
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return shellStatus(status, -1);
}

static int runShell(void*, const char* cmd) { return runCommand(cmd); }

const CommandRunner c_shellRunner = {runShell, nullptr};

static int runComposed(const RunContext& run, bool composed, const char* cmd) {
    return composed ? run.runner.run(run.runner.context, cmd) : -1;
}

int runListCmd(const RunContext& run, const char* toolPath) {
    char cmd[CMD_SIZE];
    return runComposed(run, composeListCmd(run.log, cmd, sizeof(cmd), toolPath), cmd);
}

int runListToLogCmd(const RunContext& run, const char* toolPath, const char* logPath) {
    char cmd[CMD_SIZE];
    return runComposed(run, composeListToLogCmd(run.log, cmd, sizeof(cmd), toolPath, logPath), cmd);
}

int runDirCmd(const RunContext& run, const char* toolPath, const char* macAddr) {
    char cmd[CMD_SIZE];
    return runComposed(run, composeDirCmd(run.log, cmd, sizeof(cmd), toolPath, macAddr), cmd);
}

int runUpgradeCmd(const RunContext& run, const char* toolPath, const char* macAddr, const char* typeSuffix,
                  const char* imageFile, const char* logPath) {
    char cmd[CMD_SIZE];
    bool composed = composeUpgradeCmd(run.log, cmd, sizeof(cmd), toolPath, macAddr, typeSuffix, imageFile, logPath);
    return runComposed(run, composed, cmd);
}

int runCfgCmd(const RunContext& run, const char* toolPath, const char* macAddr, const char* component,
              const char* logPath) {
    char cmd[CMD_SIZE];
    return runComposed(run, composeCfgCmd(run.log, cmd, sizeof(cmd), toolPath, macAddr, component, logPath), cmd);
}

int runCrcCmd(const RunContext& run, const char* toolPath, const char* macAddr, const char* logPath) {
    char cmd[CMD_SIZE];
    return runComposed(run, composeCrcCmd(run.log, cmd, sizeof(cmd), toolPath, macAddr, logPath), cmd);
}

int runRemoveCmd(const RunContext& run, const char* path) {
    char cmd[CMD_SIZE];
    return runComposed(run, composeRemoveCmd(run.log, cmd, sizeof(cmd), path), cmd);
}
