#include "launcher/driver.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/bootcfg.h"
#include "launcher/console.h"
#include "launcher/container.h"
#include "pkgformat/decimal.h"
#include "launcher/examine.h"
#include "pkgformat/pkgdigest.h"
#include "launcher/os/commands.h"
#include "launcher/os/fileio.h"
#include "launcher/os/paths.h"
#include "launcher/os/permissions.h"
#include "launcher/os/pkgproc.h"
#include "launcher/os/platform.h"
#include "launcher/sysident.h"
#include "common/signals.h"
#include "common/pkgenv.h"
#include "common/banned.h"

int parseDebugLevel(const char* arg) {
    if (strcmp(arg, "++debug") == 0) return 1;
    if (strncmp(arg, "++debug=", 8) != 0) return 0;
    int level = readDecimal(arg + 8);
    return level < 0 ? 0 : level;
}

int takeDebugOption(int* argc, char*** argv) {
    if (*argc < 2) return 0;
    int level = parseDebugLevel((*argv)[1]);
    if (level != 0) {
        (*argv)[1] = (*argv)[0];
        ++*argv;
        --*argc;
    }
    return level;
}

int createInstallDir(LauncherContext* ctx) {
    char parent[WRK_DIR_SIZE];
    char* wrkDir = ctx->wrkDir;
    wrkDir[0] = '\0';
    if (getTempDir(ctx->tempDir, parent, sizeof(parent)) != 0) {
        showError("Failed creating %s\n", ctx->tempDir);
        return 1;
    }
    if (!dirExists(parent) && makeDir(&ctx->commands, parent) != 1) {
        showError("Failed creating %s\n", parent);
        return 1;
    }
    // mkdir(2) decides atomically whether the name is free: anything already there, whoever
    // made it, is left alone and the next number is tried.
    unsigned start = static_cast<unsigned>(getPid());
    unsigned n = start;
    int made = 1;
    do {
        int len = snprintf(wrkDir, WRK_DIR_SIZE, "%s%c%s%08x", parent, FILE_SEPARATOR, c_workPrefix, n);
        if (len < 0 || len >= WRK_DIR_SIZE) {
            wrkDir[0] = '\0';
            showError("Failed creating %s%c%s%08x\n", parent, FILE_SEPARATOR, c_workPrefix, n);
            return 1;
        }
        made = makeDirPrivate(wrkDir);
        if (made == 1) ++n;
    } while (made == 1 && n != start);
    if (made != 0) {
        showError("Failed creating %s\n", wrkDir);
        wrkDir[0] = '\0';
        return 1;
    }
    int entered = enterPrivateDir(wrkDir);
    if (entered == 1) {
        // Someone swapped the name: what is there now is not ours to use or remove.
        showError(
            "Failed changing to directory %s: it was replaced after it was made (%s lets other users "
            "rename its entries)\n",
            wrkDir, parent);
        wrkDir[0] = '\0';
        return 1;
    }
    if (entered != 0) {
        showError("Failed changing to directory %s\n", wrkDir);
        return 1;
    }
    return 0;
}

int openOwnFile(const char* argv0) {
    int fd = -1;
    // Without a '/' the shell found the program through PATH: argv[0] names no file here.
    if (strchr(argv0, FILE_SEPARATOR) != nullptr) {
        fd = fd_open(argv0);
        char withExt[WRK_DIR_SIZE];
        int n = snprintf(withExt, sizeof(withExt), "%s%s", argv0, EXE_EXT);
        if (fd < 0 && n >= 0 && static_cast<size_t>(n) < sizeof(withExt)) fd = fd_open(withExt);
    }
    if (fd < 0) fd = fd_open(c_ownProgramFile);
    return fd;
}

void warnIgnoredTempDir(const char* tmpdir) {
    if (tmpdir == nullptr || tmpdir[0] == '\0') return;
    if (!isAbsolutePath(tmpdir))
        showError("Warning: TMPDIR '%.512s' is not an absolute path; using /tmp instead.\n", tmpdir);
    else if (!dirExists(tmpdir))
        showError("Warning: TMPDIR '%.512s' is not an existing folder; using /tmp instead.\n", tmpdir);
    else if (isSharedWritableDir(tmpdir))
        showError(
            "Warning: TMPDIR '%.512s' belongs to another user, or others may write to it without the sticky "
            "bit; using /tmp instead.\n",
            tmpdir);
}

int executeApplication(const LauncherContext* ctx, const char* command) {
    return runCommand(&ctx->commands, CMD_PACKAGE, command);
}

void cleanup(LauncherContext* ctx) {
    if (ctx->wrkDir[0] == '\0') return;
    char parent[WRK_DIR_SIZE] = "";
    getTempDir(ctx->tempDir, parent, sizeof(parent));
    changeDir(parent);
    // By its own name from the parent, in this process: no command line to outgrow, and a
    // signal meanwhile is only noted.
    const char* leaf = strrchr(ctx->wrkDir, FILE_SEPARATOR);
    leaf = leaf != nullptr ? leaf + 1 : ctx->wrkDir;
    int err = removeTreeIn(parent, leaf);
    if (err != 0) showError("Failed removing the working directory %s: %s\n", ctx->wrkDir, strerror(err));
    ctx->wrkDir[0] = '\0';
}

namespace {

// A damaged package must not run anything: checked before the working directory is made.
// 0 when the digest holds or none is recorded; 1 after showing why it fails.
int verifyPackageDigest(const LauncherContext* ctx, int fd, const PkgDirectory* pkgDir) {
    char why[512];
    uint32_t recorded = 0;
    DigestCheck check = checkPkgDigest(fd, pkgDir, why, sizeof(why), &recorded);
    if (check == DIGEST_FAILS) {
        showError("Failed checking package: %s\n", why);
        return 1;
    }
    if (ctx->debug && check == DIGEST_HOLDS)
        printf("++ Package digest crc32 %08x holds.\n", static_cast<unsigned>(recorded));
    return 0;
}

// Where the working directory cannot be written or the package does not fit, say so before
// anything is made: afterwards the unzip utility could only report the first file that failed.
// 0, or 1 after the message.
int checkTempDirRoom(const LauncherContext* ctx, int fd, const PkgDirectory* pkgDir) {
    if (access(ctx->tempDir, W_OK | X_OK) != 0) {
        showError("Failed creating installation directory in %s: %s; set TMPDIR to a writable folder.\n", ctx->tempDir,
                  strerror(errno));
        return 1;
    }
    struct statvfs vfs;
    if (statvfs(ctx->tempDir, &vfs) != 0) return 0;
    unsigned long long freeBytes = static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize;
    unsigned long long need = packageSpaceNeeded(fd, pkgDir);
    if (freeBytes < need) {
        showError(
            "Failed creating installation directory: the package needs %llu bytes in %s, which has %llu free; "
            "free space there or set TMPDIR to a folder with room.\n",
            need, ctx->tempDir, freeBytes);
        return 1;
    }
    return 0;
}

// The reason a copy into the working directory failed, from errno (set to 0 before the copy: a
// write cut short on a full disk leaves it 0).
void showCopyFailure(const LauncherContext* ctx, const char* element, const char* file) {
    int err = errno ? errno : ENOSPC;
    const char* hint = err == ENOSPC || err == EDQUOT ? "; free space there or set TMPDIR to a folder with room"
                       : err == EROFS || err == EACCES || err == EPERM ? "; set TMPDIR to a writable folder"
                                                                       : "";
    showError("Failed extracting '%s' to %s/%s: %s%s\n", element, ctx->wrkDir, file, strerror(err), hint);
}

// From the package directory to the unzipped image: 0 with the boot configuration (its length
// plus a spare byte) in *bootCfg, or 1 after a failure. fd stays open for the caller.
int unpackPackage(LauncherContext* ctx, int fd, char* cmd, char** bootCfg, unsigned* bootCfgLen) {
    bool ppc64 = ctx->processorKnown && strcmp(ctx->system.processor, c_szCPU_ppc64) == 0;

    // A ppc64 launcher reads the directory's words swapped relative to its own order.
    PkgByteOrder order = ppc64 ? pkgSwappedByteOrder(pkgHostByteOrder()) : pkgHostByteOrder();
    PkgDirectory pkgDir;
    if (readPkgDirectory(fd, order, &pkgDir) != 0) return 1;
    if (verifyPackageDigest(ctx, fd, &pkgDir) != 0) return 1;

    if (ctx->debug) printf("++ Extracting 'package boot config'...\n");
    // One spare byte: the boot configuration reader terminates the last line there.
    *bootCfgLen = pkgDir.size[PKG_BOOTCFG];
    *bootCfg = static_cast<char*>(malloc(*bootCfgLen + 1u));
    if (*bootCfg == nullptr) {
        showError("Ran out of memory for 'package boot config'\n");
        return 1;
    }
    if (extractPkgElement(PKG_BOOTCFG, &pkgDir, fd, *bootCfg, *bootCfgLen) < 0) {
        showError("Failed extracting 'package boot config'\n");
        return 1;
    }

    // Programs of the package run from the working directory: a noexec mount would only show
    // as "Permission denied" from the shell later on.
    if (isNoExecFileSystem(ctx->tempDir)) {
        showError(
            "Failed creating installation directory: %s is on a file system mounted noexec, where the "
            "package cannot run its programs; set TMPDIR to a directory that allows them.\n",
            ctx->tempDir);
        return 1;
    }
    if (checkTempDirRoom(ctx, fd, &pkgDir) != 0) return 1;
    if (ctx->debug) printf("Extracting 'package image'...\n");
    if (createInstallDir(ctx) != 0) {
        showError("Failed creating installation directory.\n");
        return 1;
    }
    errno = 0;
    if (extractPkgElementFile(PKG_IMAGE, "image.zip", &pkgDir, fd) < 0) {
        showCopyFailure(ctx, "package image", "image.zip");
        return 1;
    }
    if (makeFileReadable("image.zip") < 0) {
        showError("Failed making 'package image' readable\n");
        return 1;
    }

    if (ctx->debug) printf("++ Extracting 'unzip utility'...\n");
    if (!ppc64) {
        snprintf(cmd, STARTUP_CMD_SIZE, "miniunz%s", EXE_EXT);
        errno = 0;
        if (extractPkgElementFile(PKG_UNZIP, cmd, &pkgDir, fd) < 0) {
            showCopyFailure(ctx, "unzip utility", cmd);
            return 1;
        }
        if (makeFileExecutable(cmd) < 0) showError("Failed making 'unzip utility' executable\n");
    }

    if (ctx->debug > 1) {
        if (extractPkgElementFile(PKG_BOOTCFG, "imgboot.cfg", &pkgDir, fd) < 0)
            displayMessages("++ Warning, non fatal: failed in writing 'package boot config' (imgboot.cfg) to disk\n");
        // "unzipp": kept as shipped (the debug prompt's text is fixed).
        cmdShell(&ctx->commands, "++ About to unzipp 'package image'.");
    }
    if (ctx->debug) printf("++ Unzipping 'package image'...\n");

    if (unzipImage(&ctx->commands, ppc64) != 0) return 1;
    return 0;
}

}  // namespace

int extractAndExecute(LauncherContext* ctx, int argc, char** argv) {
    char cmd[STARTUP_CMD_SIZE];
    cmd[0] = '\0';
    getCurrentDir(cmd, sizeof(cmd));
    setOsInfoEnvVars(ctx, cmd);
    if (packageSignal()) {
        ctx->interruptedIn = PHASE_UNPACKING;
        return 128 + packageSignal();
    }

    const char* self = (argc > 0 && argv[0] != nullptr) ? argv[0] : "";
    int fd = openOwnFile(self);
    if (fd < 0) {
        showError("Failed opening file %s\n", self);
        return 1;
    }
    // The boot configuration lives until the process ends (the startup command's names point
    // into it); only a further run in the same process, as in tests, replaces it.
    static char* s_bootCfg = nullptr;
    free(s_bootCfg);
    s_bootCfg = nullptr;
    unsigned bootCfgLen = 0;
    int failed = unpackPackage(ctx, fd, cmd, &s_bootCfg, &bootCfgLen);
    fd_close(fd);
    if (packageSignal()) {
        ctx->interruptedIn = PHASE_UNPACKING;
        return 128 + packageSignal();
    }
    if (failed) return 1;

    if (ctx->debug) printf("++ Processing 'package boot config'...\n");
    int selected = processBootCfg(ctx, s_bootCfg, bootCfgLen, argc, argv, cmd);
    if (packageSignal()) {
        ctx->interruptedIn = selected == BOOTCFG_INTERRUPTED ? PHASE_UNPACKING : PHASE_SETUP;
        return 128 + packageSignal();
    }
    if (selected < 0) return 1;

    if (ctx->debug > 1) {
        char prompt[STARTUP_CMD_SIZE + 64];
        int n = snprintf(prompt, sizeof(prompt), "++ About to execute '%s'.", cmd);
        if (n < 0 || static_cast<size_t>(n) >= sizeof(prompt)) {
            showError("Failed showing the startup command: it is too long\n");
            return 1;
        }
        cmdShell(&ctx->commands, prompt);
    }
    if (ctx->debug) printf("++ Executing package (command: '%s')...\n", cmd);
    int code = executeApplication(ctx, cmd);
    if (packageSignal()) {
        ctx->interruptedIn = PHASE_STARTUP;
        return 128 + packageSignal();
    }
    return code;
}

int launcherMain(LauncherContext* ctx, int argc, char** argv) {
    guardPackage();
    ctx->interruptedIn = PHASE_NONE;
    ctx->debug = takeDebugOption(&argc, &argv);
    if (ctx->debug) printf("++ Running in debug mode (level=%d).\n", ctx->debug);
    int code = extractAndExecute(ctx, argc, argv);
    if (ctx->debug) {
        printf("++ Package completed with exit code '%d'.\n", code);
        if (ctx->debug > 1 && !packageSignal()) cmdShell(&ctx->commands, "++ Last chance to examine the package.");
    }
    int sig = packageSignal();
    if (sig) {
        // Never remove the working directory under a process of the package.
        waitForPackage();
        code = 128 + sig;
    }
    cleanup(ctx);
    if (ctx->interruptedIn == PHASE_UNPACKING)
        showError("\nPackage interrupted by signal %d (%s) while unpacking; its working directory was removed.\n", sig,
                  runSignalName(sig));
    else if (ctx->interruptedIn == PHASE_SETUP)
        showError(
            "\nPackage interrupted by signal %d (%s) during its setup command; its startup command was not run "
            "and its working directory was removed.\n",
            sig, runSignalName(sig));
    return code;
}
