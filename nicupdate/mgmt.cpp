#include "nicupdate/mgmt.h"

#include <cstdio>
#include <cstring>

#include "nicupdate/commands.h"
#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "common/banned.h"

// A management component: its "cfg" option, the field that says it is present, whether only
// NetXtreme adapters have it, and its messages (each takes the MAC address). The NetXtreme II
// NCSI error message has its own, long-standing wording.
struct MgmtComponent {
    const char* option;
    VersionField field;
    bool netXtremeOnly;
    const char* start;
    const char* error;
    const char* errorSecondList;
    const char* success;
};

static const MgmtComponent c_mgmtComponents[] = {
    {"asf", &Device::asfVer, true, "Disabling management firmware (ASF) for device %s",
     " !!! Error disabling management firmware (ASF) on device %s !!!\n\n",
     " !!! Error disabling management firmware (ASF) on device %s !!!\n\n",
     "*** Successfully disabled management firmware (ASF) on device %s ***\n\n"},
    {"ipmi", &Device::ipmiVer, false, "Disabling management firmware (IPMI) for %s",
     " !!! Error disabling management firmware (IPMI) on device %s !!!\n\n",
     " !!! Error disabling management firmware (IPMI) on device %s !!!\n\n",
     "*** Successfully disabled management firmware (IPMI) on device %s ***\n\n"},
    {"ump", &Device::umpVer, false, "Disabling management firmware (UMP) for %s",
     " !!! Error disabling management firmware (UMP) on device %s !!!\n\n",
     " !!! Error disabling management firmware (UMP) on device %s !!!\n\n",
     "*** Successfully disabled management firmware (UMP) on device %s ***\n\n"},
    {"ncsi", &Device::ncsiVer, false, "Disabling management firmware (NCSI) for %s",
     " !!! Error disabling management firmware (NCSI) on device %s !!!\n\n",
     // "NSCI": kept as shipped (logs and the fleet report rely on the text).
     " !!! Error disabling management firmware (NSCI) on device %s !!!\n\n",
     "*** Successfully disabled management firmware (NCSI) on device %s ***\n\n"},
};

static bool disableList(const DeviceHeadTail* list, const char* toolPath, bool secondList) {
    bool allDone = true;
    for (const Device* d = list ? list->head : nullptr; d; d = d->next) {
        for (const MgmtComponent& c : c_mgmtComponents) {
            if (pendingSignal()) return allDone;
            if (c.netXtremeOnly && secondList) continue;
            if (strcmp(d->*c.field, c_szNotPresent) == 0) continue;
            writetoLogf(true, c.start, d->macAddr);
            writetoLog("\n", false);
            fflush(stdout);
            char cmd[CMD_SIZE];
            composeCfgCmd(cmd, sizeof(cmd), toolPath, d->macAddr, c.option, szFwuplog);
            if (runCommand(cmd) != 0) {
                fputs("\t---> failed\n", stdout);
                writetoLogf(false, secondList ? c.errorSecondList : c.error, d->macAddr);
                allDone = false;
            } else {
                writetoLogf(false, c.success, d->macAddr);
                fputs("\t---> successful\n", stdout);
            }
        }
    }
    return allDone;
}

bool disableManagementFirmware(const DeviceHeadTail* first, const DeviceHeadTail* second, const char* firstToolPath,
                               const char* secondToolPath) {
    bool firstDone = disableList(first, firstToolPath, false);
    bool secondDone = disableList(second, secondToolPath, true);
    return firstDone && secondDone;
}

static bool crcList(const DeviceHeadTail* list, const char* toolPath) {
    bool allPassed = true;
    for (const Device* d = list ? list->head : nullptr; d && !pendingSignal(); d = d->next) {
        writetoLogf(true, "Performing CRC check for device %s", d->macAddr);
        writetoLog("\n", false);
        fflush(stdout);
        char cmd[CMD_SIZE];
        composeCrcCmd(cmd, sizeof(cmd), toolPath, d->macAddr, szFwuplog);
        if (runCommand(cmd) != 0) {
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

bool perform_crc_check(const DeviceHeadTail* first, const DeviceHeadTail* second, const char* firstToolPath,
                       const char* secondToolPath) {
    if (!create_yes_response_file()) return false;
    writetoLog("\nNow starting a CRC check for each Broadcom Ethernet adapter.\n", true);
    bool firstPassed = crcList(first, firstToolPath);
    bool secondPassed = pendingSignal() || crcList(second, secondToolPath);
    if (!pendingSignal()) writetoLog("\nCRC check complete.\n", true);
    deleteFile("y");
    return firstPassed && secondPassed;
}
