// A boot configuration as the launcher's reader (pkgformat/bootcfgreader.h) takes it, kept for
// every line with the role the launcher gives it; checks what would make a package fail.
#pragma once

#include <string>
#include <vector>

#include "pkgformat/bootcfgreader.h"
#include "pkgformat/startcmd.h"
#include "tools/mkpkg/zipreader.h"

namespace mkpkg {

enum class LineRole {
    Comment,
    Count,
    Clause,
    FinalName,
    StartupDir,
    SetupPriorStartup,
    StartupCmd,
    DefaultArgs,
    ArgsControl,
    Ignored,
};

// "comment", "count", "clause", "final startup config file name", "startupDir",
// "setupPriorStartup", "startupCmd", "defaultArgs", "argsControl", "ignored"
const char* roleName(LineRole role);

// "append", "prepend", "override", "discard"
const char* argsModeName(ArgsMode mode);

struct BootLine {
    int number = 0;    // 1-based
    std::string text;  // without its line feed
    LineRole role = LineRole::Ignored;
    int clause = -1;  // clause index for LineRole::Clause
};

// The four TAB-separated fields of a clause, split by the launcher's splitClause.
struct ClauseFields {
    std::string verName;    // field 1: distribution and release, "*" for any
    std::string update;     // field 2: minimum update level
    std::string processor;  // field 3
    std::string fileName;   // field 4: to the end of the line; "" means no copy
};
ClauseFields splitClause(const std::string& clause);

struct BootClause {
    int index = 0;
    int line = 0;  // 0 when the text ended before it
    std::string text;
    ClauseFields fields;
};

struct BootConfig {
    std::vector<BootLine> lines;
    std::string countText;
    int count = 0;
    std::vector<BootClause> clauses;
    std::string finalName, startupDir, setupPriorStartup, startupCmd, defaultArgs, argsControl;
    ArgsMode argsMode = ARGS_APPEND;
    long long missingLines = 0;  // lines the layout needs that the text lacks
    std::string firstMissing;    // role name of the first of them
    bool endsWithLineFeed = false;
    bool hasCarriageReturns = false;
};

// Reads text (the boot configuration bytes) with the launcher's readBootCfg and decideArgsMode.
// Never fails: what is missing is counted.
BootConfig readBootConfig(const std::string& text);

// Whether the clause count plainly disagrees with the clause lines: the line after the counted
// clauses is one too (four TAB-separated fields), or a counted clause after the first is a bare
// value line (no TAB, no blank).
bool countMismatch(const BootConfig& cfg);

// What would make a package with this boot configuration fail, one sentence per problem,
// naming label (e.g. "boot configuration 'cfg.txt'") and what to do. image, when given, is
// checked for the clause files (only when the final startup config file name is set: without it
// the launcher copies nothing).
std::vector<std::string> bootConfigProblems(const BootConfig& cfg, const std::string& label,
                                            const std::vector<ZipEntry>* image);

// The startup command that the launcher composes for program (its argv[0]) and args. Returns
// false, with out empty, when the launcher would refuse it as too long.
bool composeCommand(const BootConfig& cfg, const std::string& program, const std::vector<std::string>& args,
                    std::string* out);

}  // namespace mkpkg
