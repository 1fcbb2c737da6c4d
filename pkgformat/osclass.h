// Per-os-class clause matching: "<verName><verRelease>\t<UP #>\t<processor>\t<file name>",
// split by splitClause (bootcfgreader.h), against an identified system (sysfacts.h). Holds the
// words the matcher knows (the release table, the processor words), which mkpkg's lint checks
// clauses against. Pure but for the launcher's debug lines, printed only when asked for.
#pragma once

#include "pkgformat/sysfacts.h"

// Capacity of the working buffer for each of fields 1 to 3: a clause with a longer field
// (more than 63 characters) does not fit.
constexpr int OSCLASS_FIELD_SIZE = 64;

constexpr int CLAUSE_REASON_SIZE = 192;

// The distribution families field 1 names and the releases the matcher tells apart in each, as
// field 1 writes them ("RHEL4"); any other release of the family fits every release.
struct ClauseRelease {
    const char* form;
    int level;
};
struct ClauseFamily {
    const char* prefix;  // "RHEL" for systems identified as RedHat, "SLES" for SuSE and NLD
    const ClauseRelease* releases;
    int count;
};
extern const ClauseFamily c_rhelFamily;  // RHEL3, RHEL4, RHEL5
extern const ClauseFamily c_slesFamily;  // SLES9, SLES10

// The processor words field 3 is tested for: a field holding word fits only a processor class
// that holds needs ("x86" needs "86": i386 and x86_64; "x64" needs "64": x86_64 and ppc64). Any
// other text in field 3 sets no requirement.
struct ClauseProcessor {
    const char* word;
    const char* needs;
};
extern const ClauseProcessor c_clauseProcessors[2];

// Why a clause did or did not fit: field is 0 for a fit, else the first field (1 to 3) whose
// test failed; reason is one line such as "field 2 '5': update 4 is below 5" ("fits" for a fit).
struct ClauseVerdict {
    int field;
    char reason[CLAUSE_REASON_SIZE];
};

// Decides whether clause fits the system facts describes. Returns a pointer into clause at the
// start of the file-name field (possibly ""), or null; fills *verdict when it is not null. With
// debug non-zero prints the launcher's "++" line for the clause and each field it reads on
// standard output.
const char* matchOsClassFor(const SystemFacts* facts, const char* clause, ClauseVerdict* verdict, int debug = 0);
