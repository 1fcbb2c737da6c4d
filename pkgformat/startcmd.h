// What the launcher runs from a boot configuration: the argsControl words and the startup command
// composed from them, and the length limits of the command lines it makes. Pure: the launcher runs
// the result, mkpkg checks and shows it.
#pragma once

#include <cstddef>

// Capacity of the caller's command buffer: at most 2047 characters and a terminator.
constexpr int STARTUP_CMD_SIZE = 2048;

// Capacity of every command line the launcher composes itself (the clause file copy among them):
// at most 519 characters and a terminator.
constexpr int CMD_COMPOSE_SIZE = 520;

// The command line that copies the clause file to the final startup config file name.
constexpr char c_copyFileFormat[] = "/bin/cp \"%s\" \"%s\"";

// Characters of the copy command line for src and dst, without its terminator.
int copyCommandLength(const char* src, const char* dst);

enum ArgsMode { ARGS_APPEND = 0, ARGS_PREPEND, ARGS_OVERRIDE, ARGS_DISCARD };

// The words argsControl may begin with, in the order they are tried.
struct ArgsControlWord {
    const char* word;
    ArgsMode mode;
};
extern const ArgsControlWord c_argsControlWords[4];

// True when argsControl begins with one of the words (case-sensitive).
bool knownArgsControl(const char* argsControl);

// append, prepend, override or discard by the beginning of argsControl (case-sensitive);
// anything else is append.
ArgsMode decideArgsMode(const char* argsControl);

// Composes the startup command into out: startupCmd, then defaultArgs and/or argv[1..argc-1]
// as mode says, each piece after one blank, user arguments verbatim. Returns 0, or -1 (out
// holds "") when the command would not fit outSize.
int composeStartupCmd(char* out, size_t outSize, const char* startupCmd, const char* defaultArgs, ArgsMode mode,
                      int argc, char** argv);
