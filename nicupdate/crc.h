// The vendor CRC check (-crc, and before every update run). Shows its outcomes on screen and in
// the log, and returns whether all passed.
#pragma once

#include <cstddef>

struct FamilyRun;
struct RunContext;

// Writes the answer file "y" (when that fails the check is skipped without another word), then
// runs "<tool> <mac> crc <y" for each adapter of each family's list in turn, with the family's
// tool path, and removes "y". Marks are printed unless run.log is silent. Null or empty lists
// are skipped. Returns false when any adapter's check failed or "y" could not be written.
bool perform_crc_check(const RunContext& run, const FamilyRun* families, size_t count);
