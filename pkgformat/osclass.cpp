#include "pkgformat/osclass.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "pkgformat/bootcfgreader.h"
#include "pkgformat/decimal.h"
#include "common/banned.h"

namespace {

// Copies a field of the clause into field; false when it would not fit OSCLASS_FIELD_SIZE.
bool takeField(ClauseField from, char* field) {
    if (from.len >= OSCLASS_FIELD_SIZE) return false;
    memcpy(field, from.text, from.len);
    field[from.len] = '\0';
    return true;
}

void explain(ClauseVerdict* verdict, int field, const char* text, const char* why) {
    if (!verdict) return;
    verdict->field = field;
    if (field == 0)
        snprintf(verdict->reason, sizeof(verdict->reason), "%s", why);
    else
        snprintf(verdict->reason, sizeof(verdict->reason), "field %d '%.63s': %s", field, text, why);
}

const ClauseRelease c_rhelReleases[] = {{"RHEL3", 3}, {"RHEL4", 4}, {"RHEL5", 5}};
const ClauseRelease c_slesReleases[] = {{"SLES9", 9}, {"SLES10", 10}};

// why gets the failed requirement; false when the field rules the system out.
bool fitsDistribution(const SystemFacts* facts, const char* field, char* why, size_t size) {
    const char* name = facts->name;
    bool isRedhat = strcmp(name, c_distroName_REDHAT) == 0;
    bool isSuse = strcmp(name, c_distroName_NLD) == 0 || strcmp(name, c_distroName_SUSE) == 0;
    if (!isRedhat && !isSuse) return true;  // an unidentified distribution meets every requirement
    const ClauseFamily& family = isRedhat ? c_rhelFamily : c_slesFamily;
    if (!strstr(field, family.prefix)) {
        snprintf(why, size, "%s %d needs %s", name, facts->level, family.prefix);
        return false;
    }
    for (const ClauseRelease* f = family.releases; f != family.releases + family.count; ++f) {
        if (strstr(field, f->form) && facts->level != f->level) {
            snprintf(why, size, "release %d, not %d", facts->level, f->level);
            return false;
        }
    }
    return true;
}

bool fitsProcessor(const SystemFacts* facts, const char* field, char* why, size_t size) {
    const char* cpu = facts->processor;
    for (const ClauseProcessor& n : c_clauseProcessors) {
        if (strstr(field, n.word) && !strstr(cpu, n.needs)) {
            snprintf(why, size, "class %s lacks %s", cpu, n.needs);
            return false;
        }
    }
    return true;
}

const char* matchClause(const SystemFacts* facts, const char* clause, ClauseVerdict* verdict, int debug) {
    char field[OSCLASS_FIELD_SIZE];
    char why[96];
    ClauseParts parts;
    splitClause(clause, &parts);
    if (debug) printf("++     os-class cfg clause:'%s'\n", clause);

    if (!parts.anySystem) {
        if (!takeField(parts.verName, field)) return explain(verdict, 1, "...", "longer than 63 characters"), nullptr;
        if (debug) printf("++     <verName><verRelease> = '%s'\n", field);
        if (!fitsDistribution(facts, field, why, sizeof(why))) return explain(verdict, 1, field, why), nullptr;
    }

    if (!takeField(parts.update, field)) return explain(verdict, 2, "...", "longer than 63 characters"), nullptr;
    if (debug) printf("++     <UP #> = '%s'\n", field);
    int wanted = readDecimal(field);
    if (wanted > facts->update) {
        snprintf(why, sizeof(why), "update %d is below %d", facts->update, wanted);
        return explain(verdict, 2, field, why), nullptr;
    }

    if (!takeField(parts.processor, field)) return explain(verdict, 3, "...", "longer than 63 characters"), nullptr;
    if (debug) printf("++     processor = '%s'\n", field);
    if (!fitsProcessor(facts, field, why, sizeof(why))) return explain(verdict, 3, field, why), nullptr;

    explain(verdict, 0, "", "fits");
    return parts.fileName;
}

}  // namespace

const ClauseFamily c_rhelFamily = {"RHEL", c_rhelReleases, static_cast<int>(std::size(c_rhelReleases))};
const ClauseFamily c_slesFamily = {"SLES", c_slesReleases, static_cast<int>(std::size(c_slesReleases))};

const ClauseProcessor c_clauseProcessors[2] = {{"x86", "86"}, {"x64", "64"}};

const char* matchOsClassFor(const SystemFacts* facts, const char* clause, ClauseVerdict* verdict, int debug) {
    return matchClause(facts, clause, verdict, debug);
}
