#include "nicupdate/discovery.h"

#include <cstdio>
#include <new>

#include "nicupdate/commands.h"
#include "nicupdate/family.h"
#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/inventory.h"
#include "nicupdate/workfiles.h"
#include "common/banned.h"

bool setBCOMtool(const RunLog& log, const Family& family, char* toolPath) {
    snprintf(toolPath, TOOL_PATH_SIZE, "./%s", family.utility);
    if (fileExist(toolPath)) return true;
    writetoLogf(log, true, "\nError! Unable to locate Broadcom %s tool (%s).\n", family.name, toolPath);
    return false;
}

// The whole listing goes to the log (never the screen), framed by two newlines.
static void copyListingToLog(const RunLog& log, FILE* listing) {
    char piece[LINE_SIZE];
    writetoLog(log, "\n", false);
    while (fgets(piece, LINE_PIECE + 1, listing)) writetoLog(log, piece, false);
    writetoLog(log, "\n", false);
}

DeviceHeadTail* getDevices(const RunContext& run, const Family& family, char* toolPath, int* refusedRows) {
    if (!setBCOMtool(run.log, family, toolPath)) return nullptr;
    const char* familyName = family.name;

    DeviceHeadTail* list = new (std::nothrow) DeviceHeadTail();
    if (!list) {
        writetoLogf(run.log, true, "Error! Unable to build %s device list.\n", familyName);
        return nullptr;
    }
    runListCmd(run, toolPath);
    if (pendingSignal()) {
        deleteFile(run, c_szDeviceListing);
        delete list;
        return nullptr;
    }

    FILE* listing = fopen(c_szDeviceListing, "r");
    if (!listing) {
        runListToLogCmd(run, toolPath, logOutputPath(run.log));
        writetoLogf(run.log, true, "Error! Cannot create temporary file for %s devices.\n", familyName);
        delete list;
        return nullptr;
    }
    copyListingToLog(run.log, listing);
    rewind(listing);
    *refusedRows += readAdapterTable(run.log, listing, family.endMarker, list);
    fclose(listing);
    deleteFile(run, c_szDeviceListing);

    if (getDeviceCount(list) >= 1) {
        getFwVersions(run, list, toolPath, family);
        return list;
    }
    writetoLogf(run.log, true, "\nWarning. No Broadcom %s adapters found.\n", familyName);
    delete list;
    return nullptr;
}
