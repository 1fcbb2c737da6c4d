// Boot configuration: acting on what bootcfgreader read: selecting the clause that fits the
// system, preparing the startup directory and composing the startup command (pkgformat/startcmd.h).
#pragma once

#include <cstddef>

#include "pkgformat/bootcfgreader.h"
#include "pkgformat/startcmd.h"
#include "launcher/context.h"

// Clauses processBootCfg keeps from one reading; any further ones are read again as needed.
constexpr int BOOTCFG_KEPT_CLAUSES = 16;

// Decides whether clause fits the system identified in ctx (setOsInfoEnvVars must have run),
// with the matcher's debug lines when ctx->debug is on: matchOsClassFor (pkgformat/osclass.h).
const char* matchOsClass(const LauncherContext* ctx, const char* clause);

// Selects the first fitting clause for ctx's system, makes every file executable, copies the
// clause file, changes into the startup directory, runs the setup command (every command through
// ctx's runner; debug lines by ctx's level) and composes the startup command
// into cmdOut (STARTUP_CMD_SIZE bytes). data holds len bytes plus one spare byte and is changed
// in place. Returns 0; -1 after showing a message when no clause fits, or when the copy command
// (CMD_COMPOSE_SIZE) or the startup command would not fit: neither is then run;
// BOOTCFG_INTERRUPTED, silently, when a signal was noted (packageSignal) before the setup command.
constexpr int BOOTCFG_INTERRUPTED = -2;
int processBootCfg(const LauncherContext* ctx, char* data, unsigned len, int argc, char** argv, char* cmdOut);
