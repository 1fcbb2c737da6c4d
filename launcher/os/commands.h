// Running commands through the shell, and the operations composed as shell command lines.
// Every child process of the launcher starts in os_system_linux.
#pragma once

#include <cstddef>

// Capacity of the buffer each operation below composes its command line into. A command that
// would not fit is not run: the operation returns CMD_TOO_LONG instead.
constexpr int CMD_COMPOSE_SIZE = 520;
constexpr int CMD_TOO_LONG = -1;

// Runs cmd with /bin/sh -c (system) after flushing stdout and stderr, and returns its result
// as decodeWaitStatus gives it.
int os_system_linux(const char* cmd);

// A wait status as a shell reports it: the exit code (0-255) of a normal exit, 128 + the signal
// number when the child was killed, 255 when no shell could be started (status -1).
int decodeWaitStatus(int status);

// The following return 1 when the command's result is 0, and 0 when it ran and failed or when
// the command line would not fit (it is then not run). Paths are put in double quotes as given.
int makeDir(const char* path);                   // mkdir -p "path"
int deleteTree(const char* path);                // rm -rf "path"
int copyFile(const char* src, const char* dst);  // /bin/cp "src" "dst"
int copyTree(const char* src, const char* dst);  // /bin/cp -r "src" "dst"

// True when copyFile's command line for src and dst fits, so that a caller can say why.
bool copyFileFits(const char* src, const char* dst);

// vi "path": the editor's result, or CMD_TOO_LONG.
int launchTextEditor(const char* path);

void sleepSec(unsigned secs);

// The directory that holds support output: "/var/log/ZAV_Support/".
const char* getDefaultOutputDir();

// Writes text as one shell word in single quotes ('\'' for each '). 0, or -1 with dst ""
// when it does not fit size.
int quoteForShell(char* dst, size_t size, const char* text);
