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

static bool disableList(const CommandRunner& runner, const DeviceHeadTail* list, const char* toolPath,
                        bool secondList) {
    bool allDone = true;
    for (const Device* d = list ? list->head : nullptr; d; d = d->next) {
        for (const MgmtComponent& c : c_mgmtComponents) {
            if (pendingSignal()) return allDone;
            if (c.netXtremeOnly && secondList) continue;
            if (strcmp(d->*c.field, c_szNotPresent) == 0) continue;
            writetoLogf(true, c.start, d->macAddr);
            writetoLog("\n", false);
            fflush(stdout);
            if (runCfgCmd(runner, toolPath, d->macAddr, c.option, szFwuplog) != 0) {
                fputs("\t---> failed\n", stdout);
                writetoLogf(false, " !!! Error disabling management firmware (%s) on device %s !!!\n\n",
                            secondList ? c.secondListErrorName : c.name, d->macAddr);
                allDone = false;
            } else {
                writetoLogf(false, "*** Successfully disabled management firmware (%s) on device %s ***\n\n", c.name,
                            d->macAddr);
                fputs("\t---> successful\n", stdout);
            }
        }
    }
    return allDone;
}

bool disableManagementFirmware(const CommandRunner& runner, const DeviceHeadTail* first, const DeviceHeadTail* second,
                               const char* firstToolPath, const char* secondToolPath) {
    bool firstDone = disableList(runner, first, firstToolPath, false);
    bool secondDone = disableList(runner, second, secondToolPath, true);
    return firstDone && secondDone;
}

static bool crcList(const CommandRunner& runner, const DeviceHeadTail* list, const char* toolPath) {
    bool allPassed = true;
    for (const Device* d = list ? list->head : nullptr; d && !pendingSignal(); d = d->next) {
        writetoLogf(true, "Performing CRC check for device %s", d->macAddr);
        writetoLog("\n", false);
        fflush(stdout);
        if (runCrcCmd(runner, toolPath, d->macAddr, szFwuplog) != 0) {
            if (!bSilent) fputs("\t---> failed\n", stdout);
            writetoLogf(false, " !!! Error performing CRC check on device %s !!!\n\n", d->macAddr);
            allPassed = false;
        } else {
            writetoLogf(false, "*** Successfully completed CRC check on device %s ***\n\n", d->macAddr);
            if (!bSilent) fputs("\t---> successful\n", stdout);
        }
    }
    return allPassed;
}

bool perform_crc_check(const CommandRunner& runner, const DeviceHeadTail* first, const DeviceHeadTail* second,
                       const char* firstToolPath, const char* secondToolPath) {
    if (!create_yes_response_file()) return false;
    writetoLog("\nNow starting a CRC check for each Broadcom Ethernet adapter.\n", true);
    bool firstPassed = crcList(runner, first, firstToolPath);
    bool secondPassed = pendingSignal() || crcList(runner, second, secondToolPath);
    if (!pendingSignal()) writetoLog("\nCRC check complete.\n", true);
    deleteFile(runner, "y");
    return firstPassed && secondPassed;
}
