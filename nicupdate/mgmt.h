// Management firmware disable (-nomfw) and the vendor CRC check (-crc, and before every update
// run). Each shows its outcomes on screen and in the log, and returns whether all succeeded.
#pragma once

#include "nicupdate/devlist.h"

// For each adapter of first (the NetXtreme list, with firstToolPath) the components ASF, IPMI,
// UMP, NCSI, and of second (NetXtreme II, with secondToolPath) IPMI, UMP, NCSI: each whose
// field is not exactly "NA" (case matters here, unlike the update) is switched off with the
// utility's "cfg -<component> 0" command, run with run. Every component and adapter is attempted. The marks
// "\t---> failed\n" / "\t---> successful\n" are printed whether or not the run is silent.
// Null or empty lists are skipped. Returns false when any command failed.
bool disableManagementFirmware(const RunContext& run, const DeviceHeadTail* first, const DeviceHeadTail* second,
                               const char* firstToolPath, const char* secondToolPath);

// Writes the answer file "y" (when that fails the check is skipped without another word), then
// runs "<tool> <mac> crc <y" for each adapter of first and of second, and removes "y". Marks
// are printed unless run.log is silent. Null or empty lists are skipped. Returns false when any adapter's
// check failed or "y" could not be written.
bool perform_crc_check(const RunContext& run, const DeviceHeadTail* first, const DeviceHeadTail* second,
                       const char* firstToolPath, const char* secondToolPath);
