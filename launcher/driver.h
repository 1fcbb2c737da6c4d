// The launcher's main line: debug option, the run sequence from the own file to the startup
// command, the working directory and its removal.
#pragma once

#include "launcher/context.h"

// Debug level given by one argument: "++debug" 1; "++debug=N" N as atoi reads it, negative
// taken as 0; anything else 0.
int parseDebugLevel(const char* arg);

// Reads the debug level from argv[1]. When it is non-zero the option is taken out of the list
// (argv[0] stays the program path, the user's arguments follow). Returns the level.
int takeDebugOption(int* argc, char*** argv);

// Runs a package from the own file (openOwnFile) to the startup command. The startup command's
// exit status; 1 after a failure of the launcher itself (its message has been shown).
int extractAndExecute(LauncherContext* ctx, int argc, char** argv);

// The running program's own file, for a program started through PATH or one whose argv[0] cannot
// be opened.
constexpr char c_ownProgramFile[] = "/proc/self/exe";

// Opens the package file: argv0 when it holds a '/' (as given, then with EXE_EXT), else or when
// that fails c_ownProgramFile. Descriptor, or -1 when none opens.
int openOwnFile(const char* argv0);

// One warning on standard error when tmpdir (the value of TMPDIR; null or "" when unset) is not
// what chooseTempDir takes: not an absolute path, or not an existing folder.
void warnIgnoredTempDir(const char* tmpdir);

// Makes a new working directory under ctx's temporary directory with mode 0700, atomically,
// starting at the process id and taking the next number while the name is taken, and enters
// it. 0; 1 after showing a message (ctx->wrkDir is then "" unless the directory was made).
int createInstallDir(LauncherContext* ctx);

// Runs command as a package command through ctx's runner: its result, unchanged.
int executeApplication(const LauncherContext* ctx, const char* command);

// Removes the working directory when there is one (leaving it first).
void cleanup(LauncherContext* ctx);

// The whole program: debug option (into ctx->debug), run, progress lines, last shell, clean-up.
// The exit code.
int launcherMain(LauncherContext* ctx, int argc, char** argv);
