// Boot configuration reader: the one place that knows the order of its lines. Pure: text in, a
// plain structure out; nothing is run, printed or looked up. The launcher acts on the result,
// mkpkg checks and describes it.
//
// Layout: comment lines (first character ';') anywhere; the clause count; that many clauses;
// then six values: final startup config file name, startupDir, setupPriorStartup, startupCmd,
// defaultArgs, argsControl. Lines end at a line feed or a NUL byte. A line asked for after the
// text has ended reads as "" and counts as missing.
#pragma once

#include <cstddef>

// Line cursor over a text with one spare byte (startBootCfg). Each line read, and each comment
// line skipped, gets its end replaced by NUL, so a returned line is a terminated string.
struct BootCfgCursor {
    char* pos;
    char* end;    // one past the last byte of the text; *end is the spare NUL
    int line;     // 1-based number, counted in line feeds, of the line at pos
    int missing;  // lines asked for after the text ended
};

// Stores NUL in data[len] (the caller's spare byte) and puts the cursor at the start.
void startBootCfg(BootCfgCursor* cursor, char* data, unsigned len);

// Skips comment lines, returns the next line and moves past it; "" (the spare byte) when the
// text has ended. *lineNo, when given, gets the line's number, 0 for a missing line. Reading a
// stretch again (lines already ended by NUL) yields the same lines, but numbers only the line
// feeds it still finds.
char* readBootCfgLine(BootCfgCursor* cursor, int* lineNo = nullptr);

// The clause count as read: optional white space and sign, digits; 0 without digits.
int parseClauseCount(const char* text);

// One field of a clause: len bytes at text, not terminated.
struct ClauseField {
    const char* text;
    size_t len;
};

// The four TAB-separated fields "<verName><verRelease>\t<UP #>\t<processor>\t<file name>",
// walked as the clause matcher takes them: a leading '*' is the whole of field 1 (anySystem)
// and whatever follows it starts field 2; one TAB ends each field; the file name is the rest
// after at most two TABs.
struct ClauseParts {
    bool anySystem;
    ClauseField verName;  // "*" when anySystem
    ClauseField update;
    ClauseField processor;
    const char* fileName;  // points into the clause, possibly ""
};
void splitClause(const char* clause, ClauseParts* parts);

// A line as read: its text (terminated) and its number, 0 when it is missing.
struct BootCfgLine {
    const char* text;
    int line;
};

struct BootCfgClause {
    BootCfgLine at;
    ClauseParts parts;
};

// What a line is for, in reading order.
enum BootCfgPart {
    BOOTCFG_NONE = 0,
    BOOTCFG_COUNT,
    BOOTCFG_CLAUSE,
    BOOTCFG_FINAL_NAME,
    BOOTCFG_STARTUP_DIR,
    BOOTCFG_SETUP_PRIOR_STARTUP,
    BOOTCFG_STARTUP_CMD,
    BOOTCFG_DEFAULT_ARGS,
    BOOTCFG_ARGS_CONTROL,
};

struct BootCfg {
    BootCfgLine countLine;
    int count;
    // Clause lines read: count, or fewer when the text ends first (the first clause found
    // missing, read as "", is included: the launcher still matches it). 0 for a count <= 0.
    int clauseLines;
    // The first keptClauses of them, in the caller's storage, with their line numbers. Clauses
    // past these are read again from moreClauses by nextBootCfgClause.
    BootCfgClause* clauses;
    int keptClauses;
    BootCfgCursor moreClauses;
    BootCfgLine finalName, startupDir, setupPriorStartup, startupCmd, defaultArgs, argsControl;
    // Lines the layout needs that the text lacks (a count of missing clauses includes those the
    // launcher no longer asks for), and the part of the first of them (BOOTCFG_NONE if none).
    long long missingLines;
    BootCfgPart firstMissing;
};

// Reads data[0..len) (plus the spare byte data[len], which is overwritten) into *cfg. Never
// fails. clauses has room for capacity entries (capacity >= 0); to keep every clause give
// len + 1 entries, or read a copy first with capacity 0 and use its clauseLines.
void readBootCfg(char* data, unsigned len, BootCfgClause* clauses, int capacity, BootCfg* cfg);

// Every clause of a reading in order, kept or not: the walk holds what it needs. A clause past
// the kept ones is read again from the text (its line number is then 0).
struct BootCfgClauseWalk {
    const BootCfg* cfg;
    int next;
    BootCfgCursor more;
    BootCfgClause current;
};
void startBootCfgClauseWalk(BootCfgClauseWalk* walk, const BootCfg* cfg);
// The next clause, or null after the last (clauseLines in all).
const BootCfgClause* nextBootCfgClause(BootCfgClauseWalk* walk);
