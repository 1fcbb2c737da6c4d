#include "nicupdate/fwlog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/fdwrite.h"
#include "common/banned.h"

static const char c_szLogName[] = "ethflash.log";
static const char c_szLogBase[] = "ethflash";
static const char c_szLogHeader[] = "Broadcom Firmware Update Log.\n\n";

// At most 200 characters, so that every numbered name fits a log path.
constexpr int LOG_DIR_SIZE = 201;

// The log sits below every other module, so it keeps its own existence check.
static bool entryExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

// Creates every missing directory along dir (which ends in '/'), outermost first, and stops
// at the first one that cannot be made.
static void makeDirChain(const char* dir) {
    char prefix[LOG_DIR_SIZE];
    size_t len = strlen(dir);
    for (size_t i = 1; i < len; ++i) {
        if (dir[i] != '/') continue;
        memcpy(prefix, dir, i + 1);
        prefix[i + 1] = '\0';
        if (entryExists(prefix)) continue;
        if (mkdir(prefix, 0755) != 0) return;
    }
}

static bool isDirectory(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder where nobody but this user (or root) can replace the log: in one that others may
// write to, the log could be swapped for a link between its creation and the utilities' ">>",
// and the run, as root, would append to whatever file the link names. Sticky folders (/tmp) keep
// other users from renaming or removing this user's files.
static bool ownedLogFolder(const char* dir) {
    struct stat st;
    if (stat(*dir ? dir : ".", &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (st.st_uid != geteuid() && st.st_uid != 0) return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0;
}

// Candidate number n: 0 is "ethflash.log", n >= 1 "ethflash" + at least three digits + ".log".
static bool composeLogName(char* out, size_t outSize, const char* dir, unsigned long n) {
    int len = n == 0 ? snprintf(out, outSize, "%s%s", dir, c_szLogName)
                     : snprintf(out, outSize, "%s%s%03lu.log", dir, c_szLogBase, n);
    return len >= 0 && static_cast<size_t>(len) < outSize;
}

// Creates the first free log name in dir ("" is the current directory) with its header. A
// file whose header cannot be written (a full disk) is removed again, so the next place is tried.
static bool createLogIn(RunLog& log, const char* dir) {
    int fd = -1;
    for (unsigned long n = 0;; ++n) {
        if (!composeLogName(log.path, sizeof(log.path), dir, n)) {  // cannot happen: see LOG_DIR_SIZE
            log.path[0] = '\0';
            return false;
        }
        if (entryExists(log.path)) continue;
        fd = open(log.path, O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) break;
        // Someone took the name after we looked (or it is a dangling link): next number.
    }
    if (fd < 0) return false;
    bool ok = writeAll(fd, c_szLogHeader, sizeof(c_szLogHeader) - 1);
    if (close(fd) != 0) ok = false;
    if (!ok) unlink(log.path);
    return ok;
}

// The launcher's working directory is removed when the package ends: a log there is lost.
static bool insideLauncherWorkDir(const char* path) {
    for (const char* p = path; (p = strstr(p, c_workPrefix)) != nullptr; ++p)
        if (p == path || p[-1] == '/') return true;
    return false;
}

// Writes path with a trailing '/' into dir (LOG_DIR_SIZE bytes); false when it does not fit.
static bool asLogDir(const char* path, char* dir) {
    size_t len = strlen(path);
    bool slash = len > 0 && path[len - 1] == '/';
    int n = snprintf(dir, LOG_DIR_SIZE, "%s%s", path, slash ? "" : "/");
    return n > 0 && n < LOG_DIR_SIZE;
}

void initLogFile(RunLog& log, const char* logDir) {
    char dir[LOG_DIR_SIZE];
    bool ok = false;
    if (logDir[0] != '\0' && asLogDir(logDir, dir)) {
        makeDirChain(dir);
        ok = ownedLogFolder(dir) && createLogIn(log, dir);
    }

    const char* origDir = getenv(c_envOrigCurrDir);
    if (!ok && origDir && origDir[0] == '/' && !insideLauncherWorkDir(origDir) && isDirectory(origDir) &&
        access(origDir, W_OK) == 0 && asLogDir(origDir, dir))
        ok = ownedLogFolder(dir) && createLogIn(log, dir);

    // The current folder by its full path (relative when that does not fit), and only when that
    // path is known not to lie in the launcher's working directory.
    char cwd[PATH_MAX];
    if (!ok && getcwd(cwd, sizeof(cwd)) && !insideLauncherWorkDir(cwd)) {
        const char* here = asLogDir(cwd, dir) ? dir : "";
        ok = ownedLogFolder(here) && createLogIn(log, here);
    }

    if (!ok) {
        log.path[0] = '\0';
        log.incomplete = true;
        if (!log.silent) {
            fputs("Error! Unable to initialize log file.\n", stdout);
            fflush(stdout);
        }
    }
}

const char* logOutputPath(const RunLog& log) { return log.path[0] ? log.path : "/dev/null"; }

const char* logLossText(const RunLog& log, char* out, size_t outSize) {
    if (log.path[0])
        snprintf(out, outSize, "writing to it failed. See %s for the part that was saved.", log.path);
    else
        snprintf(out, outSize, "no folder that outlasts the run could hold it, so none was saved.");
    return out;
}

void writetoLog(const RunLog& log, const char* text, bool toScreen) {
    if (toScreen && !log.silent) fputs(text, stdout);
    // Never through a link: the log is created as a file, so a link in its place was put there
    // by someone else.
    int fd = log.path[0] ? open(log.path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC) : -1;
    bool ok = fd >= 0 && writeAll(fd, text, strlen(text));
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (ok) return;
    log.incomplete = true;
    if (!log.silent) fputs("Error! Unable to write to log file.\n", stdout);
}

void writetoLogf(const RunLog& log, bool toScreen, const char* format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
    writetoLog(log, text, toScreen);
}
