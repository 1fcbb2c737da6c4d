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

bool setBCOMtool(const RunLog& log, const char* familyName, char* toolPath) {
    const char* tool = strcmp(familyName, c_szNetXtreme) == 0 ? "lnxfwupg" : "lnxfwnx2";
    snprintf(toolPath, TOOL_PATH_SIZE, "./%s", tool);
    if (fileExist(toolPath)) return true;
    writetoLogf(log, true, "\nError! Unable to locate Broadcom %s tool (%s).\n", familyName, toolPath);
    return false;
}

// The whole listing goes to the log (never the screen), framed by two newlines.
static void copyListingToLog(const RunLog& log, FILE* listing) {
    char piece[LINE_SIZE];
    writetoLog(log, "\n", false);
    while (fgets(piece, LINE_PIECE + 1, listing)) writetoLog(log, piece, false);
    writetoLog(log, "\n", false);
}

DeviceHeadTail* getDevices(const RunContext& run, const char* familyName, char* toolPath, int* refusedRows) {
    if (!setBCOMtool(run.log, familyName, toolPath)) return nullptr;
    const char* endMarker = strcmp(familyName, c_szNetXtreme) == 0 ? "0>" : "Quit";

    DeviceHeadTail* list = new (std::nothrow) DeviceHeadTail();
    if (!list) {
        writetoLogf(run.log, true, "Error! Unable to build %s device list.\n", familyName);
        return nullptr;
    }
    runListCmd(run, toolPath);
    if (pendingSignal()) {
        deleteFile(run, c_szListing);
        delete list;
        return nullptr;
    }

    FILE* listing = fopen(c_szListing, "r");
    if (!listing) {
        runListToLogCmd(run, toolPath, logOutputPath(run.log));
        writetoLogf(run.log, true, "Error! Cannot create temporary file for %s devices.\n", familyName);
        delete list;
        return nullptr;
    }
    copyListingToLog(run.log, listing);
    rewind(listing);
    *refusedRows += readAdapterTable(run.log, listing, endMarker, list);
    fclose(listing);
    deleteFile(run, c_szListing);

    if (getDeviceCount(list) >= 1) {
        getFwVersions(run, list, toolPath, familyName);
        return list;
    }
    writetoLogf(run.log, true, "\nWarning. No Broadcom %s adapters found.\n", familyName);
    delete list;
    return nullptr;
}
