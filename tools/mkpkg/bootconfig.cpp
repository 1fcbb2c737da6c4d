#include "tools/mkpkg/bootconfig.h"

#include <cctype>
#include <cstdio>

#include "tools/mkpkg/errors.h"
#include "common/banned.h"

namespace mkpkg {

const char* roleName(LineRole role) {
    switch (role) {
    case LineRole::Comment: return "comment";
    case LineRole::Count: return "count";
    case LineRole::Clause: return "clause";
    case LineRole::FinalName: return "final startup config file name";
    case LineRole::StartupDir: return "startupDir";
    case LineRole::SetupPriorStartup: return "setupPriorStartup";
    case LineRole::StartupCmd: return "startupCmd";
    case LineRole::DefaultArgs: return "defaultArgs";
    case LineRole::ArgsControl: return "argsControl";
    case LineRole::Ignored: return "ignored";
    }
    return "?";
}

const char* argsModeName(ArgsMode mode) {
    switch (mode) {
    case ARGS_PREPEND: return "prepend";
    case ARGS_OVERRIDE: return "override";
    case ARGS_DISCARD: return "discard";
    default: return "append";
    }
}

namespace {

std::string fieldText(ClauseField field) { return std::string(field.text, field.len); }

ClauseFields fieldsOf(const ClauseParts& parts) {
    ClauseFields f;
    f.verName = fieldText(parts.verName);
    f.update = fieldText(parts.update);
    f.processor = fieldText(parts.processor);
    f.fileName = parts.fileName;
    return f;
}

LineRole roleOf(BootCfgPart part) {
    switch (part) {
    case BOOTCFG_COUNT: return LineRole::Count;
    case BOOTCFG_CLAUSE: return LineRole::Clause;
    case BOOTCFG_FINAL_NAME: return LineRole::FinalName;
    case BOOTCFG_STARTUP_DIR: return LineRole::StartupDir;
    case BOOTCFG_SETUP_PRIOR_STARTUP: return LineRole::SetupPriorStartup;
    case BOOTCFG_STARTUP_CMD: return LineRole::StartupCmd;
    case BOOTCFG_DEFAULT_ARGS: return LineRole::DefaultArgs;
    case BOOTCFG_ARGS_CONTROL: return LineRole::ArgsControl;
    case BOOTCFG_NONE: break;
    }
    return LineRole::Ignored;
}

}  // namespace

ClauseFields splitClause(const std::string& clause) {
    ClauseParts parts;
    ::splitClause(clause.c_str(), &parts);
    return fieldsOf(parts);
}

BootConfig readBootConfig(const std::string& text) {
    BootConfig cfg;
    cfg.endsWithLineFeed = !text.empty() && text.back() == '\n';
    cfg.hasCarriageReturns = text.find('\r') != std::string::npos;

    // Lines as the file holds them, for the listing; the reader numbers them the same way.
    for (size_t pos = 0; pos < text.size();) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        BootLine line;
        line.number = static_cast<int>(cfg.lines.size()) + 1;
        line.text = text.substr(pos, end - pos);
        cfg.lines.push_back(line);
        pos = nl == std::string::npos ? text.size() : nl + 1;
    }

    // Room for every clause: a first reading of a copy counts them.
    const unsigned len = static_cast<unsigned>(text.size());
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');  // the spare byte the reader terminates with
    std::vector<char> counting = buf;
    BootCfg read;
    readBootCfg(counting.data(), len, nullptr, 0, &read);
    std::vector<BootCfgClause> kept(static_cast<size_t>(read.clauseLines));
    readBootCfg(buf.data(), len, kept.data(), read.clauseLines, &read);

    int lastRead = -1;  // index into cfg.lines of the last line read
    auto take = [&](const BootCfgLine& at, BootCfgPart part, int clause) {
        if (at.line == 0) return std::string();
        BootLine& line = cfg.lines[static_cast<size_t>(at.line - 1)];
        line.role = roleOf(part);
        line.clause = clause;
        lastRead = at.line - 1;
        return std::string(at.text);
    };

    cfg.countText = take(read.countLine, BOOTCFG_COUNT, -1);
    cfg.count = read.count;
    for (int i = 0; i < read.keptClauses; ++i) {
        const BootCfgClause& c = kept[static_cast<size_t>(i)];
        BootClause clause;
        clause.index = i;
        clause.text = take(c.at, BOOTCFG_CLAUSE, i);
        clause.line = c.at.line;
        clause.fields = fieldsOf(c.parts);
        cfg.clauses.push_back(clause);
    }
    cfg.finalName = take(read.finalName, BOOTCFG_FINAL_NAME, -1);
    cfg.startupDir = take(read.startupDir, BOOTCFG_STARTUP_DIR, -1);
    cfg.setupPriorStartup = take(read.setupPriorStartup, BOOTCFG_SETUP_PRIOR_STARTUP, -1);
    cfg.startupCmd = take(read.startupCmd, BOOTCFG_STARTUP_CMD, -1);
    cfg.defaultArgs = take(read.defaultArgs, BOOTCFG_DEFAULT_ARGS, -1);
    cfg.argsControl = take(read.argsControl, BOOTCFG_ARGS_CONTROL, -1);
    cfg.argsMode = decideArgsMode(cfg.argsControl.c_str());
    cfg.missingLines = read.missingLines;
    if (read.firstMissing != BOOTCFG_NONE) cfg.firstMissing = roleName(roleOf(read.firstMissing));

    for (int i = 0; i < static_cast<int>(cfg.lines.size()); ++i) {
        BootLine& line = cfg.lines[static_cast<size_t>(i)];
        if (line.role == LineRole::Ignored && i < lastRead) line.role = LineRole::Comment;
    }
    return cfg;
}

namespace {

bool countIsNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
}

bool looksLikeClause(const std::string& line) {
    size_t tabs = 0;
    for (char c : line) tabs += c == '\t' ? 1 : 0;
    return tabs == 3;
}

}  // namespace

bool countMismatch(const BootConfig& cfg) {
    if (cfg.missingLines == 0 && looksLikeClause(cfg.finalName)) return true;
    for (const BootClause& clause : cfg.clauses)
        if (clause.index > 0 && clause.line > 0 && clause.text.find('\t') == std::string::npos &&
            clause.text.find(' ') == std::string::npos)
            return true;
    return false;
}

namespace {

int countLineOf(const BootConfig& cfg) {
    for (const BootLine& line : cfg.lines)
        if (line.role == LineRole::Count) return line.number;
    return 1;
}

}  // namespace

std::vector<std::string> bootConfigProblems(const BootConfig& cfg, const std::string& label,
                                            const std::vector<ZipEntry>* image) {
    std::vector<std::string> problems;
    if (cfg.lines.empty()) {
        problems.push_back(label + " is empty; write the clause count, the clauses and the six value lines");
        return problems;
    }
    if (!cfg.endsWithLineFeed)
        problems.push_back(label + " does not end with a line feed; end its last line with a newline");
    // Editors on Windows write a byte order mark; the launcher reads it as text of the first line.
    if (cfg.lines.front().text.compare(0, 3, "\xef\xbb\xbf") == 0) {
        problems.push_back(label +
                           " begins with a UTF-8 byte order mark (bytes EF BB BF), which the launcher reads "
                           "as part of line 1 " +
                           quote(cfg.lines.front().text) + "; save the file without it (as plain UTF-8 or ASCII)");
        return problems;
    }
    if (!countIsNumber(cfg.countText)) {
        problems.push_back(label + ": the count line " + quote(cfg.countText) +
                           " is not a number; give the number of clause lines that follow");
        return problems;
    }
    if (cfg.count <= 0) {
        problems.push_back(label + ": the clause count is " + std::to_string(cfg.count) +
                           ", so no system can fit; add at least one clause and count it");
        return problems;
    }
    // A count that does not match the clause lines shifts every later line: say so at the count,
    // not at the lines it displaces.
    std::string countWhere = label + ": the count line (line " + std::to_string(countLineOf(cfg)) + ") says " +
                             std::to_string(cfg.count) + " clause" + (cfg.count == 1 ? "" : "s");
    if (cfg.missingLines == 0 && looksLikeClause(cfg.finalName)) {
        problems.push_back(countWhere + ", but the line after them, " + quote(cfg.finalName) +
                           ", is a clause too (four TAB-separated fields); count every clause line");
        return problems;
    }
    for (const BootClause& clause : cfg.clauses) {
        if (clause.index == 0 || clause.line == 0 || clause.text.find('\t') != std::string::npos ||
            clause.text.find(' ') != std::string::npos)
            continue;
        problems.push_back(countWhere + ", but clause " + std::to_string(clause.index) + " (line " +
                           std::to_string(clause.line) + ") " + quote(clause.text) +
                           " has no TAB: it is the next value line; count only the clause lines");
        return problems;
    }
    if (cfg.missingLines > 0) {
        problems.push_back(label + " ends before its " + cfg.firstMissing + " line (" +
                           std::to_string(cfg.missingLines) + " line" + (cfg.missingLines == 1 ? "" : "s") +
                           " missing); after the count " + std::to_string(cfg.count) +
                           " it needs that many clause lines and six value lines");
        return problems;
    }
    if (image && !cfg.finalName.empty()) {
        for (const BootClause& clause : cfg.clauses) {
            const std::string& name = clause.fields.fileName;
            if (name.empty() || zipHasFile(*image, name)) continue;
            std::string hint = !name.empty() && name.back() == '\r'
                                   ? "; the boot configuration has CR LF line ends, save it with LF only"
                                   : "; add the file to the content or fix the clause";
            problems.push_back(label + ": clause " + std::to_string(clause.index) + " (line " +
                               std::to_string(clause.line) + ") names " + quote(name) + ", which is not in the image" +
                               hint);
        }
    }
    // The launcher copies the clause file with a command line of limited length.
    if (!cfg.finalName.empty()) {
        for (const BootClause& clause : cfg.clauses) {
            const std::string& name = clause.fields.fileName;
            if (name.empty()) continue;
            int length = copyCommandLength(name.c_str(), cfg.finalName.c_str());
            if (length >= CMD_COMPOSE_SIZE)
                problems.push_back(label + ": copying the file of clause " + std::to_string(clause.index) + " to " +
                                   quote(cfg.finalName) + " takes a command of " + std::to_string(length) +
                                   " characters; the launcher runs at most " + std::to_string(CMD_COMPOSE_SIZE - 1) +
                                   ", use shorter names");
        }
    }
    std::string cmd;
    if (!composeCommand(cfg, "pkg", {}, &cmd)) {
        size_t length = cfg.startupCmd.size() + (cfg.defaultArgs.empty() ? 0 : 1 + cfg.defaultArgs.size());
        problems.push_back(label + ": the startup command is " + std::to_string(length) +
                           " characters (with its default arguments); the launcher accepts at most " +
                           std::to_string(STARTUP_CMD_SIZE - 1) + ", shorten it");
    }
    return problems;
}

bool composeCommand(const BootConfig& cfg, const std::string& program, const std::vector<std::string>& args,
                    std::string* out) {
    std::vector<std::string> store;
    store.push_back(program);
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : store) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    std::vector<char> buf(STARTUP_CMD_SIZE, '\0');
    int r = composeStartupCmd(buf.data(), buf.size(), cfg.startupCmd.c_str(), cfg.defaultArgs.c_str(), cfg.argsMode,
                              static_cast<int>(store.size()), argv.data());
    *out = r == 0 ? std::string(buf.data()) : std::string();
    return r == 0;
}

}  // namespace mkpkg
