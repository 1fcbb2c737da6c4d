// Management firmware disable (-nomfw): each management component found present is switched
// off. Shows its outcomes on screen and in the log, and returns whether all succeeded.
#pragma once

#include <cstddef>

struct FamilyRun;
struct RunContext;

// For each family in turn, each adapter of its list (with its tool path), the family's
// management components in the family's order (NetXtreme: ASF, IPMI, UMP, NCSI; NetXtreme II:
// IPMI, UMP, NCSI): each whose field is not exactly "NA" (case matters here, unlike the update)
// is switched off with the utility's "cfg -<component> 0" command, run with run. Every component
// and adapter is attempted. The marks "\t---> failed\n" / "\t---> successful\n" are printed
// whether or not the run is silent. Null or empty lists are skipped. Returns false when any
// command failed.
bool disableManagementFirmware(const RunContext& run, const FamilyRun* families, size_t count);
