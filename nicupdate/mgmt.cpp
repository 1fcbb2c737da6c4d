#include "nicupdate/mgmt.h"

#include <cstdio>
#include <cstring>

#include "nicupdate/commands.h"
#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "common/banned.h"

// A management component: its "cfg" option, its name in the messages, the field that says it
// is present, whether only NetXtreme adapters have it, its opening line (taking the MAC
// address) and its name in the NetXtreme II error message, which has its own, long-standing
// wording for NCSI.
struct MgmtComponent {
    const char* option;
    const char* name;
    VersionField field;
    bool netXtremeOnly;
    const char* start;
    const char* secondListErrorName;
};

static const MgmtComponent c_mgmtComponents[] = {
    {"asf", "ASF", &Device::asfVer, true, "Disabling management firmware (ASF) for device %s", "ASF"},
    {"ipmi", "IPMI", &Device::ipmiVer, false, "Disabling management firmware (IPMI) for %s", "IPMI"},
    {"ump", "UMP", &Device::umpVer, false, "Disabling management firmware (UMP) for %s", "UMP"},
    // "NSCI": kept as shipped (logs and the fleet report rely on the text).
    {"ncsi", "NCSI", &Device::ncsiVer, false, "Disabling management firmware (NCSI) for %s", "NSCI"},
};

static bool disableList(const RunContext& run, const DeviceHeadTail* list, const char* toolPath, bool secondList) {
    bool allDone = true;
    for (const Device* d = list ? list->head : nullptr; d; d = d->next) {
        for (const MgmtComponent& c : c_mgmtComponents) {
            if (pendingSignal()) return allDone;
            if (c.netXtremeOnly && secondList) continue;
            if (strcmp(d->*c.field, c_szNotPresent) == 0) continue;
            writetoLogf(run.log, true, c.start, d->macAddr);
            writetoLog(run.log, "\n", false);
            fflush(stdout);
            int status = runCfgCmd(run, toolPath, d->macAddr, c.option, logOutputPath(run.log));
            if (status == CMD_INTERRUPTED) return allDone;
            if (status != 0) {
                fputs("\t---> failed\n", stdout);
                writetoLogf(run.log, false, " !!! Error disabling management firmware (%s) on device %s !!!\n\n",
                            secondList ? c.secondListErrorName : c.name, d->macAddr);
                allDone = false;
            } else {
                writetoLogf(run.log, false, "*** Successfully disabled management firmware (%s) on device %s ***\n\n",
                            c.name, d->macAddr);
                fputs("\t---> successful\n", stdout);
            }
        }
    }
    return allDone;
}

bool disableManagementFirmware(const RunContext& run, const DeviceHeadTail* first, const DeviceHeadTail* second,
                               const char* firstToolPath, const char* secondToolPath) {
    bool firstDone = disableList(run, first, firstToolPath, false);
    bool secondDone = disableList(run, second, secondToolPath, true);
    return firstDone && secondDone;
}

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

bool perform_crc_check(const RunContext& run, const DeviceHeadTail* first, const DeviceHeadTail* second,
                       const char* firstToolPath, const char* secondToolPath) {
    if (!create_yes_response_file(run.log)) return false;
    writetoLog(run.log, "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n", true);
    bool firstPassed = crcList(run, first, firstToolPath);
    bool secondPassed = pendingSignal() || crcList(run, second, secondToolPath);
    if (!pendingSignal()) writetoLog(run.log, "\nCRC check complete.\n", true);
    deleteFile(run, "y");
    return firstPassed && secondPassed;
}
