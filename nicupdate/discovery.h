// Adapter discovery: locating a family's vendor utility, running it for the adapter table and
// taking each adapter's firmware inventory.
#pragma once

#include "nicupdate/devlist.h"

struct Family;

// Writes "./" and the family's utility into toolPath (TOOL_PATH_SIZE bytes). Returns true when
// that entry exists; otherwise logs in log (and shows)
// "\nError! Unable to locate Broadcom <family> tool (<path>).\n" and returns false.
bool setBCOMtool(const RunLog& log, const Family& family, char* toolPath);

// Runs (with run's runner) the family's utility with the quit file "q" as input, copies its
// listing into run's log, reads the adapter table (up to the family's end marker) and takes each adapter's firmware
// inventory. Returns a new list with at least one adapter, which the caller releases with releaseList; or null after a
// message. toolPath (TOOL_PATH_SIZE bytes) receives the utility's path. The file "devices" is gone when it returns.
// Adds the number of refused table rows to *refusedRows.
DeviceHeadTail* getDevices(const RunContext& run, const Family& family, char* toolPath, int* refusedRows);
