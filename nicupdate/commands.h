// Every shell command line of the tool, and the one place that runs them.
//
// Each compose function formats one command into out (outSize bytes, normally CMD_SIZE) and
// returns true. A command that would not fit is never cut: out is left empty, a message in log
// says what was refused, and the function returns false; runCommand("") then runs nothing
// and reports failure.
//
// What may stand unquoted on these lines: the tool's own constants (utility paths, file names,
// component names and options), and adapter texts that discovery has validated (MAC address
// and device id: letters, digits and ":-._" only, none of them special to the shell). The log
// path does not come from the tool alone (it can be the folder the package was started from or
// the current folder, see initLogFile), so it goes in as shellWord writes it: unquoted when it
// holds only letters, digits and "/._-" (the usual /var/log/ZAV_Support/ethflash.log, whose
// lines stay as they always were), else single-quoted as one word, so a blank, ';', '$(...)' or
// a quote in a folder name is never split or run.
//
// The run... functions compose one command and hand it to the run's CommandRunner in one call:
// a refused composition is logged in the run's log as above, the runner is not called, and
// they return -1.
#pragma once

#include <cstddef>

#include "nicupdate/fwlog.h"

// Capacity of a command buffer: at most 255 characters and the terminator.
constexpr int CMD_SIZE = 256;

// "<tool> <q >devices": the adapter listing, answered with the quit file.
bool composeListCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath);
// "<tool> <q >><log>": the same listing appended to the log.
bool composeListToLogCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* logPath);
// "<tool> <mac> dir ><mac>": one adapter's component listing into its listing file.
bool composeDirCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr);
// "<tool> <mac> upgrade -noreset -F -<suffix> <image> nv.bak >><log>".
bool composeUpgradeCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr,
                       const char* typeSuffix, const char* imageFile, const char* logPath);
// "<tool> <mac> cfg -<component> 0 >><log>"; component is "asf", "ipmi", "ump" or "ncsi".
bool composeCfgCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr,
                   const char* component, const char* logPath);
// "<tool> <mac> crc <y >><log>": the CRC check, answered with the yes file.
bool composeCrcCmd(const RunLog& log, char* out, size_t outSize, const char* toolPath, const char* macAddr,
                   const char* logPath);
// "rm <path>".
bool composeRemoveCmd(const RunLog& log, char* out, size_t outSize, const char* path);

// runCommand's status when a signal had been noted (pendingSignal) by the time the command
// would have started: nothing was run, which is no failure of the command.
constexpr int CMD_INTERRUPTED = -2;

// Runs cmd through /bin/sh -c after flushing standard output and error, and waits until it has
// ended, whatever signals arrive meanwhile; no signal meant for the tool cuts it short:
// - when standard input, output or error is a terminal, cmd stays in this process group (the job
//   the tool belongs to), with SIGINT, SIGQUIT, SIGTERM and SIGHUP ignored in it (the terminal's
//   keys, a hang-up and a launcher's signals to the group reach it; the tool notes them): in the
//   terminal's foreground it may read the terminal (a utility's prompt); in the background a read
//   stops the whole job, the tool with it, as for any job: the shell or the launcher that started
//   it says so, and bringing it to the foreground lets it go on;
// - without a terminal, in a process group of its own, which signals to this group do not reach;
// - SIGPIPE is ignored in it either way: a lost screen makes its writes fail, never kills it.
// A command stopped alone (SIGSTOP...) while the tool runs on is reported on standard error,
// each time it stops, and waited for on.
// Returns the exit status: 0 for success, the command's exit code, or 128 + the signal number
// when the shell died by a signal; -1 when cmd is empty (nothing is run) or no process could be
// started; 127 when /bin/sh cannot be run; CMD_INTERRUPTED, with nothing run, when a signal
// was noted before it could start (also one raised by the flush).
int runCommand(const char* cmd);

// Whatever starts the tool's commands: run(context, cmd) returns the status as runCommand does.
// The programs use c_shellRunner; tests pass one that records the command lines.
struct CommandRunner {
    int (*run)(void* context, const char* cmd);
    void* context;
};

// runCommand, ignoring the context.
extern const CommandRunner c_shellRunner;

// What a run hands down to everything that logs and starts commands: its log and its runner.
// runNicburn makes one; tests make their own.
struct RunContext {
    RunLog log;
    CommandRunner runner;
};

// Compose-and-run forms of the compose functions above, logging in run.log: run.runner's
// status (CMD_INTERRUPTED included), or -1 when the line was refused (nothing run).
int runListCmd(const RunContext& run, const char* toolPath);
int runListToLogCmd(const RunContext& run, const char* toolPath, const char* logPath);
int runDirCmd(const RunContext& run, const char* toolPath, const char* macAddr);
int runUpgradeCmd(const RunContext& run, const char* toolPath, const char* macAddr, const char* typeSuffix,
                  const char* imageFile, const char* logPath);
int runCfgCmd(const RunContext& run, const char* toolPath, const char* macAddr, const char* component,
              const char* logPath);
int runCrcCmd(const RunContext& run, const char* toolPath, const char* macAddr, const char* logPath);
int runRemoveCmd(const RunContext& run, const char* path);
