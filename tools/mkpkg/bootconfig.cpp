#include "bootconfig.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "errors.h"
#include "launcher/bootcfg.h"
#include "launcher/os/commands.h"
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

ClauseFields splitClause(const std::string& clause) {
    ClauseFields f;
    size_t p = 0;
    auto field = [&](std::string& dst) {
        size_t tab = clause.find('\t', p);
        size_t end = tab == std::string::npos ? clause.size() : tab;
        dst = clause.substr(p, end - p);
        p = end;
    };
    auto skipTab = [&]() {
        if (p < clause.size() && clause[p] == '\t') ++p;
    };
    // A leading '*' is the whole of field 1, whatever follows it.
    if (!clause.empty() && clause[0] == '*') {
        f.verName = "*";
        p = 1;
    } else {
        field(f.verName);
    }
    skipTab();
    field(f.update);
    skipTab();
    field(f.processor);
    skipTab();
    skipTab();
    f.fileName = clause.substr(std::min(p, clause.size()));
    return f;
}

BootConfig readBootConfig(const std::string& text) {
    BootConfig cfg;
    cfg.endsWithLineFeed = !text.empty() && text.back() == '\n';
    cfg.hasCarriageReturns = text.find('\r') != std::string::npos;

    // Lines as the file holds them, and where each starts.
    std::vector<size_t> starts;
    for (size_t pos = 0; pos < text.size();) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        BootLine line;
        line.number = static_cast<int>(cfg.lines.size()) + 1;
        line.text = text.substr(pos, end - pos);
        cfg.lines.push_back(line);
        starts.push_back(pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
    }

    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');  // the spare byte convertBootCfg terminates with
    convertBootCfg(buf.data(), static_cast<unsigned>(text.size()));
    BootCfgCursor cursor{buf.data(), buf.data() + text.size(), 0};

    int lastRead = -1;  // index into cfg.lines of the last line read
    auto next = [&](LineRole role, int clause) -> std::string {
        int before = cursor.missing;
        char* p = readBootCfgLine(&cursor);
        if (cursor.missing != before) {
            if (cfg.missingLines == 0) cfg.firstMissing = roleName(role);
            cfg.missingLines = cursor.missing;
            return std::string();
        }
        size_t offset = static_cast<size_t>(p - buf.data());
        auto it = std::upper_bound(starts.begin(), starts.end(), offset);
        int index = static_cast<int>(it - starts.begin()) - 1;
        if (index >= 0) {
            cfg.lines[static_cast<size_t>(index)].role = role;
            cfg.lines[static_cast<size_t>(index)].clause = clause;
            lastRead = index;
        }
        return std::string(p);
    };

    cfg.countText = next(LineRole::Count, -1);
    cfg.count = parseClauseCount(cfg.countText.c_str());
    for (int i = 0; i < cfg.count && cursor.missing == 0; ++i) {
        BootClause clause;
        clause.index = i;
        clause.text = next(LineRole::Clause, i);
        clause.line = cursor.missing == 0 ? lastRead + 1 : 0;
        clause.fields = splitClause(clause.text);
        cfg.clauses.push_back(clause);
    }
    if (cursor.missing > 0 && cfg.count > static_cast<int>(cfg.clauses.size())) {
        // The reader would go on asking for the remaining clauses and the six values.
        cfg.missingLines = cursor.missing + (cfg.count - static_cast<int>(cfg.clauses.size())) + 6;
    }
    if (cursor.missing == 0 || cfg.count <= static_cast<int>(cfg.clauses.size())) {
        cfg.finalName = next(LineRole::FinalName, -1);
        cfg.startupDir = next(LineRole::StartupDir, -1);
        cfg.setupPriorStartup = next(LineRole::SetupPriorStartup, -1);
        cfg.startupCmd = next(LineRole::StartupCmd, -1);
        cfg.defaultArgs = next(LineRole::DefaultArgs, -1);
        cfg.argsControl = next(LineRole::ArgsControl, -1);
    }
    cfg.argsMode = decideArgsMode(cfg.argsControl.c_str());

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
            int length = std::snprintf(nullptr, 0, "/bin/cp \"%s\" \"%s\"", name.c_str(), cfg.finalName.c_str());
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
