#include "pkgformat/bootcfgreader.h"

#include <cstring>

#include "pkgformat/decimal.h"
#include "common/banned.h"

void startBootCfg(BootCfgCursor* cursor, char* data, unsigned len) {
    data[len] = '\0';
    cursor->pos = data;
    cursor->end = data + len;
    cursor->line = 1;
    cursor->missing = 0;
}

char* readBootCfgLine(BootCfgCursor* cursor, int* lineNo) {
    for (;;) {
        char* p = cursor->pos;
        if (p >= cursor->end) {
            ++cursor->missing;
            cursor->pos = cursor->end;
            if (lineNo) *lineNo = 0;
            return cursor->end;  // the spare byte: ""
        }
        char* stop = p + strcspn(p, "\n");  // a NUL ends a line too; *end is one
        int number = cursor->line;
        if (*stop == '\n') {
            *stop = '\0';
            ++cursor->line;
        }
        cursor->pos = stop < cursor->end ? stop + 1 : cursor->end;
        if (*p == ';') continue;  // comment
        if (lineNo) *lineNo = number;
        return p;
    }
}

int parseClauseCount(const char* text) { return readDecimal(text); }

namespace {

ClauseField takeField(const char** p) {
    ClauseField field = {*p, strcspn(*p, "\t")};
    *p += field.len;
    return field;
}

void skipTab(const char** p) {
    if (**p == '\t') ++*p;
}

BootCfgLine readPart(BootCfgCursor* cursor, BootCfg* cfg, BootCfgPart part) {
    BootCfgLine line;
    line.text = readBootCfgLine(cursor, &line.line);
    if (line.line == 0 && cfg->firstMissing == BOOTCFG_NONE) cfg->firstMissing = part;
    return line;
}

}  // namespace

void splitClause(const char* clause, ClauseParts* parts) {
    const char* p = clause;
    parts->anySystem = *p == '*';
    if (parts->anySystem) {
        parts->verName = {p, 1};
        ++p;
    } else {
        parts->verName = takeField(&p);
    }
    skipTab(&p);
    parts->update = takeField(&p);
    skipTab(&p);
    parts->processor = takeField(&p);
    skipTab(&p);
    skipTab(&p);
    parts->fileName = p;
}

void readBootCfg(char* data, unsigned len, BootCfgClause* clauses, int capacity, BootCfg* cfg) {
    BootCfgCursor cursor;
    startBootCfg(&cursor, data, len);
    cfg->missingLines = 0;
    cfg->firstMissing = BOOTCFG_NONE;

    cfg->countLine = readPart(&cursor, cfg, BOOTCFG_COUNT);
    cfg->count = parseClauseCount(cfg->countLine.text);

    // Clause reading stops at the first missing one: every further one would be "" as well.
    cfg->clauses = clauses;
    cfg->clauseLines = 0;
    cfg->keptClauses = 0;
    cfg->moreClauses = cursor;
    bool ended = false;
    for (int i = 0; i < cfg->count && !ended; ++i) {
        BootCfgLine at = readPart(&cursor, cfg, BOOTCFG_CLAUSE);
        ended = at.line == 0;
        ++cfg->clauseLines;
        if (i < capacity) {
            clauses[i].at = at;
            splitClause(at.text, &clauses[i].parts);
            cfg->keptClauses = i + 1;
            cfg->moreClauses = cursor;
        }
    }

    cfg->finalName = readPart(&cursor, cfg, BOOTCFG_FINAL_NAME);
    cfg->startupDir = readPart(&cursor, cfg, BOOTCFG_STARTUP_DIR);
    cfg->setupPriorStartup = readPart(&cursor, cfg, BOOTCFG_SETUP_PRIOR_STARTUP);
    cfg->startupCmd = readPart(&cursor, cfg, BOOTCFG_STARTUP_CMD);
    cfg->defaultArgs = readPart(&cursor, cfg, BOOTCFG_DEFAULT_ARGS);
    cfg->argsControl = readPart(&cursor, cfg, BOOTCFG_ARGS_CONTROL);

    // The missing clause, those after it, and the six values (count >= clauseLines here).
    if (ended)
        cfg->missingLines = static_cast<long long>(cfg->count) - (cfg->clauseLines - 1) + 6;
    else
        cfg->missingLines = cursor.missing;
}

void startBootCfgClauseWalk(BootCfgClauseWalk* walk, const BootCfg* cfg) {
    walk->cfg = cfg;
    walk->next = 0;
    walk->more = cfg->moreClauses;
}

const BootCfgClause* nextBootCfgClause(BootCfgClauseWalk* walk) {
    const BootCfg* cfg = walk->cfg;
    if (walk->next >= cfg->clauseLines) return nullptr;
    int i = walk->next++;
    if (i < cfg->keptClauses) return &cfg->clauses[i];
    walk->current.at.text = readBootCfgLine(&walk->more);
    walk->current.at.line = 0;
    splitClause(walk->current.at.text, &walk->current.parts);
    return &walk->current;
}
