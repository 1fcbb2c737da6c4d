#include "nicupdate/crc.h"

#include <cstdio>

#include "nicupdate/commands.h"
#include "nicupdate/family.h"
#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/workfiles.h"
#include "common/banned.h"

static bool crcList(const RunContext& run, const DeviceHeadTail* list, const char* toolPath) {
    bool allPassed = true;
    for (const Device* d = list ? list->head : nullptr; d && !pendingSignal(); d = d->next) {
        writetoLogf(run.log, true, "Performing CRC check for device %s", d->macAddr);
        writetoLog(run.log, "\n", false);
        fflush(stdout);
        int status = runCrcCmd(run, toolPath, d->macAddr, logOutputPath(run.log));
        if (status == CMD_INTERRUPTED) break;
        if (status != 0) {
            if (!run.log.silent) fputs("\t---> failed\n", stdout);
            writetoLogf(run.log, false, " !!! Error performing CRC check on device %s !!!\n\n", d->macAddr);
            allPassed = false;
        } else {
            writetoLogf(run.log, false, "*** Successfully completed CRC check on device %s ***\n\n", d->macAddr);
            if (!run.log.silent) fputs("\t---> successful\n", stdout);
        }
    }
    return allPassed;
}

bool perform_crc_check(const RunContext& run, const FamilyRun* families, size_t count) {
    if (!create_yes_response_file(run.log)) return false;
    writetoLog(run.log, "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n", true);
    bool allPassed = true;
    for (size_t i = 0; i < count && !pendingSignal(); ++i)
        if (!crcList(run, families[i].list, families[i].toolPath)) allPassed = false;
    if (!pendingSignal()) writetoLog(run.log, "\nCRC check complete.\n", true);
    deleteFile(run, c_szYesFile);
    return allPassed;
}
