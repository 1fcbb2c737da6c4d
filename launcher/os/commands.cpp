#include "launcher/os/commands.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "launcher/os/pkgproc.h"
#include "launcher/os/platform.h"
#include "common/shellquote.h"
#include "common/pkgenv.h"
#include "common/banned.h"

int os_system_linux(const char* cmd) { return runPlainCommand(cmd); }

namespace {

int runForReal(void* /*self*/, CommandKind kind, const char* cmd) {
    if (kind == CMD_PACKAGE) return runPackageCommand(cmd);
    if (kind == CMD_INTERACTIVE) return runInteractiveCommand(cmd);
    return runPlainCommand(cmd);
}

__attribute__((format(printf, 3, 0))) int vrunComposed(const CommandRunner* runner, CommandKind kind,
                                                       const char* format, va_list ap) {
    char cmd[CMD_COMPOSE_SIZE];
    int n = vsnprintf(cmd, sizeof(cmd), format, ap);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(cmd)) return CMD_TOO_LONG;
    return runCommand(runner, kind, cmd);
}

// Callers test these with '!': a command refused for its length is a failure like any other.
int asSuccess(int result) { return result == 0 ? 1 : 0; }

}  // namespace

CommandRunner shellCommandRunner() { return CommandRunner{runForReal, nullptr}; }

int runCommand(const CommandRunner* runner, CommandKind kind, const char* cmd) {
    return runner->run(runner->self, kind, cmd);
}

int runComposed(const CommandRunner* runner, CommandKind kind, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int result = vrunComposed(runner, kind, format, ap);
    va_end(ap);
    return result;
}

bool copyFileFits(const char* src, const char* dst) {
    int n = copyCommandLength(src, dst);
    return n >= 0 && n < CMD_COMPOSE_SIZE;
}

int makeDir(const CommandRunner* runner, const char* path) {
    char quoted[CMD_COMPOSE_SIZE];
    if (quoteForShell(quoted, sizeof(quoted), path) != 0) return 0;
    return asSuccess(runComposed(runner, CMD_SHELL, "mkdir -p %s", quoted));
}

int deleteTree(const CommandRunner* runner, const char* path) {
    char quoted[CMD_COMPOSE_SIZE];
    if (quoteForShell(quoted, sizeof(quoted), path) != 0) return 0;
    return asSuccess(runComposed(runner, CMD_SHELL, "rm -rf %s", quoted));
}

int copyFile(const CommandRunner* runner, const char* src, const char* dst) {
    return asSuccess(runComposed(runner, CMD_SHELL, c_copyFileFormat, src, dst));
}

int copyTree(const CommandRunner* runner, const char* src, const char* dst) {
    return asSuccess(runComposed(runner, CMD_SHELL, "/bin/cp -r \"%s\" \"%s\"", src, dst));
}

int launchTextEditor(const CommandRunner* runner, const char* path) {
    return runComposed(runner, CMD_INTERACTIVE, "vi \"%s\"", path);
}

void makeAllFilesExecutable(const CommandRunner* runner) { runCommand(runner, CMD_SHELL, "chmod -R +x *"); }

void runInteractiveShell(const CommandRunner* runner) { runCommand(runner, CMD_INTERACTIVE, "sh"); }

int unameToFile(const CommandRunner* runner, const char* option, const char* outPath) {
    char quoted[CMD_COMPOSE_SIZE];
    if (quoteForShell(quoted, sizeof(quoted), outPath) != 0) return CMD_TOO_LONG;
    return runComposed(runner, CMD_SHELL, "uname %s >%s 2>%s", option, quoted, DEV_NULL);
}

int listFatPartitions(const CommandRunner* runner, const char* listPath) {
    char quoted[CMD_COMPOSE_SIZE];
    if (quoteForShell(quoted, sizeof(quoted), listPath) != 0) return CMD_TOO_LONG;
    return runComposed(runner, CMD_SHELL, "sfdisk -l 2>%s | grep FAT>%s", DEV_NULL, quoted);
}

int mountDevice(const CommandRunner* runner, const char* dev, const char* mountPoint) {
    char quoted[CMD_COMPOSE_SIZE];
    if (quoteForShell(quoted, sizeof(quoted), dev) != 0) return CMD_TOO_LONG;
    return runComposed(runner, CMD_SHELL, "mount %s %s", quoted, mountPoint);
}

int unmountDevice(const CommandRunner* runner, const char* dev) {
    char quoted[CMD_COMPOSE_SIZE];
    if (quoteForShell(quoted, sizeof(quoted), dev) != 0) return CMD_TOO_LONG;
    return runComposed(runner, CMD_SHELL, "umount %s", quoted);
}

int unzipImage(const CommandRunner* runner, bool systemUnzip) {
    if (systemUnzip) return runComposed(runner, CMD_PACKAGE, "/usr/bin/unzip image.zip > %s", DEV_NULL);
    return runComposed(runner, CMD_PACKAGE, ".%cminiunz%s image.zip > %s", FILE_SEPARATOR, EXE_EXT, DEV_NULL);
}

void sleepSec(unsigned secs) { sleep(secs); }

const char* getDefaultOutputDir() { return c_supportLogDir; }
