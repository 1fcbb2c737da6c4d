#include "nicupdate/discovery.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "nicupdate/commands.h"
#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/inventory.h"
#include "common/banned.h"

static const char c_szNetXtreme[] = "NetXtreme";
static const char c_szListing[] = "devices";

bool setBCOMtool(const char* familyName, char* toolPath) {
    const char* tool = strcmp(familyName, c_szNetXtreme) == 0 ? "lnxfwupg" : "lnxfwnx2";
    snprintf(toolPath, TOOL_PATH_SIZE, "./%s", tool);
    if (fileExist(toolPath)) return true;
    writetoLogf(true, "\nError! Unable to locate Broadcom %s tool (%s).\n", familyName, toolPath);
    return false;
}

// The whole listing goes to the log (never the screen), framed by two newlines.
static void copyListingToLog(FILE* listing) {
    char piece[LINE_SIZE];
    writetoLog("\n", false);
    while (fgets(piece, LINE_PIECE + 1, listing)) writetoLog(piece, false);
    writetoLog("\n", false);
}

DeviceHeadTail* getDevices(const CommandRunner& runner, const char* familyName, char* toolPath, int* refusedRows) {
    if (!setBCOMtool(familyName, toolPath)) return nullptr;
    const char* endMarker = strcmp(familyName, c_szNetXtreme) == 0 ? "0>" : "Quit";

    DeviceHeadTail* list = new (std::nothrow) DeviceHeadTail();
    if (!list) {
        writetoLogf(true, "Error! Unable to build %s device list.\n", familyName);
        return nullptr;
    }
    runListCmd(runner, toolPath);
    if (pendingSignal()) {
        deleteFile(runner, c_szListing);
        delete list;
        return nullptr;
    }

    FILE* listing = fopen(c_szListing, "r");
    if (!listing) {
        runListToLogCmd(runner, toolPath, szFwuplog);
        writetoLogf(true, "Error! Cannot create temporary file for %s devices.\n", familyName);
        delete list;
        return nullptr;
    }
    copyListingToLog(listing);
    rewind(listing);
    *refusedRows += readAdapterTable(listing, endMarker, list);
    fclose(listing);
    deleteFile(runner, c_szListing);

    if (getDeviceCount(list) >= 1) {
        getFwVersions(runner, list, toolPath, familyName);
        return list;
    }
    writetoLogf(true, "\nWarning. No Broadcom %s adapters found.\n", familyName);
    delete list;
    return nullptr;
}
