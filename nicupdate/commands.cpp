#include "nicupdate/commands.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/workfiles.h"
#include "common/fdwrite.h"
#include "common/shellchild.h"
#include "common/shellquote.h"
#include "common/signals.h"
#include "common/banned.h"

static bool composeCmd(const RunLog& log, char* out, size_t outSize, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

static bool composeCmd(const RunLog& log, char* out, size_t outSize, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int len = vsnprintf(out, outSize, format, ap);
    va_end(ap);
    if (len >= 0 && static_cast<size_t>(len) < outSize) return true;
    writetoLogf(log, false, "Error! Command line would exceed %zu characters; not run: %.60s...\n", outSize - 1, out);
    if (outSize > 0) out[0] = '\0';
    return false;
}

// The log path as one shell word (see the header) into word (CMD_SIZE bytes). A word that does
// not fit even an empty command line refuses the command as composeCmd does: logged, out empty.
static bool logWord(const RunLog& log, const char* logPath, char* word, char* out, size_t outSize) {
    if (shellWord(word, CMD_SIZE, logPath) == 0) return true;
    writetoLogf(log, false, "Error! Command line would exceed %d characters; not run: log path %.60s...\n",
                CMD_SIZE - 1, logPath);
    if (outSize > 0) out[0] = '\0';
    return false;
}

bool composeListCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath) {
    return composeCmd(log, out, outSize, "%s <%s >%s", toolPath, c_szQuitFile, c_szDeviceListing);
}

bool composeListToLogCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* logPath) {
    char word[CMD_SIZE];
    if (!logWord(log, logPath, word, out, outSize)) return false;
    return composeCmd(log, out, outSize, "%s <%s >>%s", toolPath, c_szQuitFile, word);
}

bool composeDirCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr) {
    return composeCmd(log, out, outSize, "%s %s dir >%s", toolPath, macAddr, macAddr);
}

bool composeUpgradeCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr,
                       const char* typeSuffix, const char* imageFile, const char* logPath) {
    char word[CMD_SIZE];
    if (!logWord(log, logPath, word, out, outSize)) return false;
    return composeCmd(log, out, outSize, "%s %s upgrade -noreset -F -%s %s %s >>%s", toolPath, macAddr, typeSuffix,
                      imageFile, c_szBackupFile, word);
}

bool composeCfgCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr,
                   const char* component, const char* logPath) {
    char word[CMD_SIZE];
    if (!logWord(log, logPath, word, out, outSize)) return false;
    return composeCmd(log, out, outSize, "%s %s cfg -%s 0 >>%s", toolPath, macAddr, component, word);
}

bool composeCrcCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr,
                   const char* logPath) {
    char word[CMD_SIZE];
    if (!logWord(log, logPath, word, out, outSize)) return false;
    return composeCmd(log, out, outSize, "%s %s crc <%s >>%s", toolPath, macAddr, c_szYesFile, word);
}

bool composeRemoveCmd(const RunLog& log, char* out, size_t outSize, const char* path) {
    return composeCmd(log, out, outSize, "rm %s", path);
}

// Whether standard input, output or error is a terminal.
static bool onTerminal() { return isatty(STDIN_FILENO) || isatty(STDOUT_FILENO) || isatty(STDERR_FILENO); }

static const char* stopSignalName(int sig) {
    switch (sig) {
    case SIGTTIN: return "SIGTTIN";
    case SIGTTOU: return "SIGTTOU";
    case SIGTSTP: return "SIGTSTP";
    case SIGSTOP: return "SIGSTOP";
    default: return "signal";
    }
}

// A command stopped alone (the tool still running) is said on screen (standard error, also in a
// silent run): waiting for it silently would look like a hung update.
static void reportStopped(pid_t pid, int sig, const char* cmd) {
    char text[CMD_SIZE + 300];
    snprintf(text, sizeof(text),
             "\nWarning. The vendor command in flight (process %ld) was stopped by signal %d (%s)%s. The run waits "
             "until it goes on (kill -CONT %ld) or ends. Command: %s\n",
             static_cast<long>(pid), sig, stopSignalName(sig),
             sig == SIGTTIN || sig == SIGTTOU ? ": it tried to use the terminal from the background" : "",
             static_cast<long>(pid), cmd);
    writeAll(STDERR_FILENO, text, strlen(text));
}

// False when the stop just read is over: the tool was stopped with the whole job (a read of the
// terminal in the background stops every process of the group) and continued with it. Read from
// the process's state in /proc; without it the stop counts as lasting.
static bool stillStopped(pid_t pid) {
    char path[64];
    snprintf(path, sizeof(path), "/proc/%ld/stat", static_cast<long>(pid));
    FILE* f = fopen(path, "r");
    if (!f) return true;
    char text[512];
    size_t n = fread(text, 1, sizeof(text) - 1, f);
    fclose(f);
    text[n] = '\0';
    const char* close = strrchr(text, ')');
    return !close || close[1] != ' ' || close[2] == 'T' || close[2] == 't';
}

int runCommand(const char* cmd) {
    if (cmd[0] == '\0') return -1;
    fflush(stdout);
    fflush(stderr);
    // A signal noted by now (a lost screen raises SIGPIPE in the flush above) starts nothing more.
    if (pendingSignal()) return CMD_INTERRUPTED;
    // On a terminal the command stays in this process group, the job of whoever started the tool:
    // in the foreground it may read the terminal (a utility's prompt); in the background a read
    // stops the whole job, which the shell (or the launcher) says, and 'fg' lets it go on. The
    // signals that reach the whole group are ignored in it: the terminal's keys and a hang-up are
    // noted by the tool alone. Without a terminal it gets a group of its own, which no
    // group-wide signal reaches. A lost screen never kills it either.
    bool terminal = onTerminal();
    sigset_t ignored;
    sigemptyset(&ignored);
    sigaddset(&ignored, SIGPIPE);
    if (terminal)
        for (int sig : c_runSignals) sigaddset(&ignored, sig);
    pid_t pid = startShellChild(cmd, !terminal, -1, nullptr, &ignored);
    if (pid < 0) return -1;
    int status = 0;
    // A noted signal interrupts the wait, never the command: wait on until it has ended.
    for (;;) {
        if (waitpid(pid, &status, WUNTRACED) < 0) {
            if (errno != EINTR) return -1;
        } else if (WIFSTOPPED(status)) {
            if (stillStopped(pid)) reportStopped(pid, WSTOPSIG(status), cmd);
        } else {
            return shellStatus(status, -1);
        }
    }
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
