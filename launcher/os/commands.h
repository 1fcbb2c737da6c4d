// The launcher's one place for child processes: every command line it runs is composed here and
// started through a CommandRunner, so a test can put its own runner in and see the exact lines.
#pragma once

#include <cstddef>

#include "pkgformat/startcmd.h"

// Each operation below composes its command line into a buffer of CMD_COMPOSE_SIZE
// (pkgformat/startcmd.h). A command that would not fit is not run: the operation returns
// CMD_TOO_LONG instead.
constexpr int CMD_TOO_LONG = -1;

// How a command is started.
enum CommandKind {
    CMD_SHELL,        // one of the launcher's own commands: runPlainCommand (signals only noted meanwhile)
    CMD_PACKAGE,      // a package's own command: runPackageCommand (own process group, signals passed on)
    CMD_INTERACTIVE,  // a shell for the user at the terminal: runInteractiveCommand (Ctrl-C is the shell's)
};

// The seam every child goes through: run gets the complete command line and returns its result
// as decodeWaitStatus gives it. self is passed back unchanged (a test's recorder).
struct CommandRunner {
    int (*run)(void* self, CommandKind kind, const char* cmd);
    void* self;
};

// The runner that starts children for real.
CommandRunner shellCommandRunner();

// Runs a complete command line (one the package gave, or a fixed one) through runner.
int runCommand(const CommandRunner* runner, CommandKind kind, const char* cmd);

// Formats into a CMD_COMPOSE_SIZE buffer and runs the result through runner; CMD_TOO_LONG, and
// nothing is run, when it would not fit.
int runComposed(const CommandRunner* runner, CommandKind kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Runs cmd with /bin/sh -c as runPlainCommand does (stdout and stderr flushed first), and returns
// its result as decodeWaitStatus gives it. Only the real runner calls it.
int os_system_linux(const char* cmd);

// The following return 1 when the command's result is 0, and 0 when it ran and failed or when
// the command line would not fit (it is then not run). makeDir and deleteTree quote their path
// with quoteForShell (it may come from TMPDIR); the copies put theirs in double quotes as given
// (names from the package's boot configuration).
int makeDir(const CommandRunner* runner, const char* path);                   // mkdir -p 'path'
int deleteTree(const CommandRunner* runner, const char* path);                // rm -rf 'path'
int copyFile(const CommandRunner* runner, const char* src, const char* dst);  // /bin/cp "src" "dst"
int copyTree(const CommandRunner* runner, const char* src, const char* dst);  // /bin/cp -r "src" "dst"

// True when copyFile's command line for src and dst fits, so that a caller can say why.
bool copyFileFits(const char* src, const char* dst);

// vi "path": the editor's result, or CMD_TOO_LONG.
int launchTextEditor(const CommandRunner* runner, const char* path);

// "chmod -R +x *" in the current directory; the result is not looked at.
void makeAllFilesExecutable(const CommandRunner* runner);

// An interactive "sh" in the current directory; its result is not looked at.
void runInteractiveShell(const CommandRunner* runner);

// "uname option >'outPath' 2>/dev/null": the command's result, or CMD_TOO_LONG.
int unameToFile(const CommandRunner* runner, const char* option, const char* outPath);

// "sfdisk -l 2>/dev/null | grep FAT>'listPath'": the command's result, or CMD_TOO_LONG.
int listFatPartitions(const CommandRunner* runner, const char* listPath);

// "mount 'dev' mountPoint" and "umount 'dev'": the command's result, or CMD_TOO_LONG.
// mountPoint is the launcher's own constant and goes in as it is.
int mountDevice(const CommandRunner* runner, const char* dev, const char* mountPoint);
int unmountDevice(const CommandRunner* runner, const char* dev);

// Unzips image.zip in the current directory as a package command, output to /dev/null: with the
// package's own "./miniunz", or with "/usr/bin/unzip" when systemUnzip. The command's result.
int unzipImage(const CommandRunner* runner, bool systemUnzip);

void sleepSec(unsigned secs);

// The directory that holds support output: "/var/log/ZAV_Support/".
const char* getDefaultOutputDir();
