// Update log: one new file per run and the tool's single output routine. The bottom module of
// the tool: it uses no other.
#pragma once

#include <cstddef>
#include "common/pkgenv.h"

// Capacity of a log path: at most 254 characters.
constexpr int LOG_PATH_SIZE = 255;

// One run's log, owned by the run and passed to whatever writes to it.
struct RunLog {
    // Path of the log; "ethflash.log" until initLogFile has chosen the final one, "" when no
    // place could hold one.
    char path[LOG_PATH_SIZE] = "ethflash.log";
    // True in the silent update run: writetoLog shows nothing and the direct screen marks are
    // suppressed; the log still receives every text.
    bool silent = false;
    // Set once the log misses part of the run: none could be created, or a write to it failed.
    // Never cleared. Mutable: everything that writes holds the log as const.
    mutable bool incomplete = false;
};

// The directory the programs keep their logs in.
inline constexpr const char* c_szLogDirectory = c_supportLogDir;

// Chooses this run's log (into log.path) and creates it with its 31-byte header. The first
// place that can hold it wins, so that a log is never lost:
// - logDir (c_szLogDirectory in the programs), after making it and its missing parents (mode
//   0755; failures are not reported); a logDir that is empty or longer than 200 characters
//   (counting a '/' added when it has none at the end) is skipped;
// - else the folder the package was started from (ZAV_RQ_PKG_ORIG_CURR_DIR), when it is set to
//   an absolute path of a writable directory that is not inside the launcher's working
//   directory (a zav_rq_pkg_* folder, removed when the package ends);
// - else the current directory, named by its absolute path (relative only when that path does
//   not fit 200 characters), when it is not inside the launcher's working directory either (a
//   package's tool folder is) and its path can be read.
// A folder is only taken when it belongs to this user or root and no one else may write to it
// (unless it is sticky, as /tmp): elsewhere the log could be swapped for a link that root's
// writes would follow.
// In each it takes "ethflash.log", else the first free of ethflash001.log, ethflash002.log, ...
// (gaps are filled; any directory entry, a directory too, counts as taken), created exclusively:
// a name that appears between the check and the creation is skipped for the next number, so an
// existing file is never appended to. A file whose header cannot be written (a full disk) is
// removed and the next place is tried.
// When no place holds it, "Error! Unable to initialize log file.\n" is printed unless
// log.silent; log.path is then "" and log.incomplete set.
void initLogFile(RunLog& log, const char* logDir);

// Where a vendor utility's output for the log goes: log.path, or "/dev/null" when there is no log.
const char* logOutputPath(const RunLog& log);

// Why log is incomplete, one sentence for the closing messages: with a log, "writing to it
// failed. See <path> for the part that was saved." (the path found where a complete run's
// message names it); without one, that none was saved.
const char* logLossText(const RunLog& log, char* out, size_t outSize);

// Writes text to standard output when toScreen is true and the run is not silent, then appends
// it unchanged to log.path. The log is opened and closed for every call, never created here and
// never opened through a symbolic link: when there is none, or it cannot be opened or written,
// log.incomplete is set and
// "Error! Unable to write to log file.\n" is printed unless silent.
void writetoLog(const RunLog& log, const char* text, bool toScreen);

// writetoLog of a formatted text. The text is composed in a 1024-byte buffer; anything beyond
// 1023 characters is cut (the tool's own messages, built from bounded fields, never come close).
void writetoLogf(const RunLog& log, bool toScreen, const char* format, ...) __attribute__((format(printf, 3, 4)));
