// Firmware inventory: each adapter's component listing, the version texts and chip name cut
// out of it, and the version table.
#pragma once

#include <cstddef>

#include "nicupdate/devlist.h"

struct Family;
struct FamilyRun;

// Stored in a version field when a component's marker line was found but no version word
// could be cut out of it. The component is present, so the field must not say "NA" (which
// means "not present": the update would report the firmware as not detected and skip it, and
// management disabling would leave it on).
extern const char c_szVersionUnknown[];  // "unknown"

// For each adapter: runs "<tool> <mac> dir ><mac>" with run (the adapter's listing file stays until the
// list is emptied), sets every version to "NA", the chip name from the device id, then the
// versions (and, where the family says so, the chip name) that family's marker rules find in
// the listing.
void getFwVersions(const RunContext& run, DeviceHeadTail* list, const char* toolPath, const Family& family);

// Searches the adapter's listing file (named by its MAC address) for pattern, reading lines in
// pieces of at most 254 characters; a pattern split across two pieces is not found. Returns 1
// and copies the first matching piece, newline included, into lineOut (LINE_SIZE bytes), or 0
// (lineOut untouched). A listing that cannot be opened logs (in log) and shows
// "Error 9: Cannot access <mac> information file.\n" and counts as not found.
int IsFwTypePresent(const RunLog& log, const Device* device, const char* pattern, char* lineOut);

// Replaces line (a found listing line, LINE_SIZE bytes) by its version: the first word after
// the last of the characters blank, '-', 'v', 'X' of the line. The version is cut to 19
// characters. A line without such a character, or without a word after it (one ending in a
// blank, say), gives c_szVersionUnknown. Returns 1.
int parseForVersion(char* line);

// Writes the chip name of a device id (read as hexadecimal, as strtoul does; no digits read as
// 0) into nameOut (CHIPNAME_SIZE bytes); "unknown" for ids without a name.
void convertDIDtoName(const char* devId, char* nameOut);

// When the sixth word of a "BootCode" line holds '-' and has at most 31 characters, writes the
// part before its first '-' into nameOut (CHIPNAME_SIZE bytes) and returns true; otherwise
// leaves nameOut alone and returns false.
bool chipNameFromBootLine(const char* line, char* nameOut);

// Logs (in log) and shows the version table: two heading lines (a column per component), then a
// row per adapter of each family's list in turn. Null or empty lists are skipped.
void displayFwVersions(const RunLog& log, const FamilyRun* families, size_t count);
