// Boot configuration: acting on what bootcfgreader read: selecting the clause that fits the
// system, preparing the startup directory and composing the startup command.
#pragma once

#include <cstddef>

#include "launcher/bootcfgreader.h"
#include "launcher/context.h"

// Capacity of the caller's command buffer: at most 2047 characters and a terminator.
constexpr int STARTUP_CMD_SIZE = 2048;

// Clauses processBootCfg keeps from one reading; any further ones are read again as needed.
constexpr int BOOTCFG_KEPT_CLAUSES = 16;

enum ArgsMode { ARGS_APPEND = 0, ARGS_PREPEND, ARGS_OVERRIDE, ARGS_DISCARD };

// append, prepend, override or discard by the beginning of argsControl (case-sensitive);
// anything else is append.
ArgsMode decideArgsMode(const char* argsControl);

// Composes the startup command into out: startupCmd, then defaultArgs and/or argv[1..argc-1]
// as mode says, each piece after one blank, user arguments verbatim. Returns 0, or -1 (out
// holds "") when the command would not fit outSize.
int composeStartupCmd(char* out, size_t outSize, const char* startupCmd, const char* defaultArgs, ArgsMode mode,
                      int argc, char** argv);

// Selects the first fitting clause for ctx's system, makes every file executable, copies the
// clause file, changes into the startup directory, runs the setup command (every command through
// ctx's runner; debug lines by ctx's level) and composes the startup command
// into cmdOut (STARTUP_CMD_SIZE bytes). data holds len bytes plus one spare byte and is changed
// in place. Returns 0; -1 after showing a message when no clause fits, or when the copy command
// (CMD_COMPOSE_SIZE) or the startup command would not fit: neither is then run;
// BOOTCFG_INTERRUPTED, silently, when a signal was noted (packageSignal) before the setup command.
constexpr int BOOTCFG_INTERRUPTED = -2;
int processBootCfg(const LauncherContext* ctx, char* data, unsigned len, int argc, char** argv, char* cmdOut);
