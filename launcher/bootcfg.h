// Boot configuration: reading its lines, selecting the clause that fits the system, preparing
// the startup directory and composing the startup command.
#pragma once

#include <cstddef>

#include "launcher/context.h"

// Capacity of the caller's command buffer: at most 2047 characters and a terminator.
constexpr int STARTUP_CMD_SIZE = 2048;

enum ArgsMode { ARGS_APPEND = 0, ARGS_PREPEND, ARGS_OVERRIDE, ARGS_DISCARD };

// Line cursor over a converted text (every line feed replaced by NUL, see convertBootCfg).
// A line that is missing (the text ended) reads as "" and counts in `missing`.
struct BootCfgCursor {
    char* pos;
    char* end;    // one past the last byte of the text
    int missing;  // lines asked for after the text ended
};

// Replaces every line feed among data[0..len) by NUL and stores NUL at data[len]: the caller
// provides one spare byte, so a last line without a line feed is still a terminated string.
void convertBootCfg(char* data, unsigned len);

// First line at or after p whose first character is not ';' (comment), or end.
char* skipCommentLines(char* p, const char* end);

// Skips comment lines, returns the next line and moves past it; "" when the text has ended.
char* readBootCfgLine(BootCfgCursor* cursor);

// The clause count as read: optional white space and sign, digits; 0 without digits.
int parseClauseCount(const char* text);

// append, prepend, override or discard by the beginning of argsControl (case-sensitive);
// anything else is append.
ArgsMode decideArgsMode(const char* argsControl);

// Composes the startup command into out: startupCmd, then defaultArgs and/or argv[1..argc-1]
// as mode says, each piece after one blank, user arguments verbatim. Returns 0, or -1 (out
// holds "") when the command would not fit outSize.
int composeStartupCmd(char* out, size_t outSize, const char* startupCmd, const char* defaultArgs,
                      ArgsMode mode, int argc, char** argv);

// Selects the first fitting clause for ctx's system, makes every file executable, copies the
// clause file, changes into the startup directory, runs the setup command (every command through
// ctx's runner; debug lines by ctx's level) and composes the startup command
// into cmdOut (STARTUP_CMD_SIZE bytes). data holds len bytes plus one spare byte and is changed
// in place. Returns 0; -1 after showing a message when no clause fits, or when the copy command
// (CMD_COMPOSE_SIZE) or the startup command would not fit: neither is then run;
// BOOTCFG_INTERRUPTED, silently, when a signal was noted (packageSignal) before the setup command.
constexpr int BOOTCFG_INTERRUPTED = -2;
int processBootCfg(const LauncherContext* ctx, char* data, unsigned len, int argc, char** argv, char* cmdOut);
