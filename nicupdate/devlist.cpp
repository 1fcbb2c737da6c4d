#include "nicupdate/devlist.h"

#include <cstring>
#include <new>

#include "nicupdate/commands.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/inventory.h"
#include "nicupdate/textword.h"

static const char c_szNetXtreme[] = "NetXtreme";
static const char c_szListing[] = "devices";

bool setBCOMtool(const char* familyName, char* toolPath) {
    const char* tool = strcmp(familyName, c_szNetXtreme) == 0 ? "lnxfwupg" : "lnxfwnx2";
    snprintf(toolPath, TOOL_PATH_SIZE, "./%s", tool);
    if (fileExist(toolPath)) return true;
    writetoLogf(true, "\nError! Unable to locate Broadcom %s tool (%s).\n", familyName, toolPath);
    return false;
}

static bool isAdapterChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
           c == '-' || c == '.' || c == '_';
}

static bool isMacChar(char c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' || c == '-' ||
           c == '.';
}

const char* adapterRowProblem(const char* devId, const char* macAddr) {
    if (devId[0] == '\0') return "device id is empty";
    if (macAddr[0] == '\0') return "MAC address is empty";
    if (strlen(devId) >= DEVID_SIZE) return "device id longer than 9 characters";
    if (strlen(macAddr) >= MACADDR_SIZE) return "MAC address longer than 19 characters";
    for (const char* p = devId; *p; ++p)
        if (!isAdapterChar(*p)) return "device id holds a character other than letters, digits, ':-._'";
    for (const char* p = macAddr; *p; ++p)
        if (!isMacChar(*p)) return "MAC address holds a character other than hexadecimal digits, ':-.'";
    if (devId[0] == '-') return "device id starts with '-'";
    if (macAddr[0] == '-') return "MAC address starts with '-'";
    if (macAddr[0] == '.') return "MAC address starts with '.'";
    return nullptr;
}

bool addDevicetoList(DeviceHeadTail* list, const char* devId, const char* macAddr) {
    if (adapterRowProblem(devId, macAddr)) return false;
    Device* device = new (std::nothrow) Device();
    if (!device) {
        writetoLogf(true, "Error! Unable to create resources for device %s.\n", macAddr);
        return false;
    }
    snprintf(device->devId, sizeof(device->devId), "%s", devId);
    snprintf(device->macAddr, sizeof(device->macAddr), "%s", macAddr);
    device->next = nullptr;
    if (!list->head) {
        list->head = device;
    } else {
        list->tail->next = device;
    }
    list->tail = device;
    return true;
}

void emptyList(DeviceHeadTail* list) {
    if (!list) return;
    while (list->head) {
        Device* device = list->head;
        deleteFile(device->macAddr);
        list->head = device->next;
        delete device;
    }
    list->tail = nullptr;
}

void releaseList(DeviceHeadTail** list) {
    if (!*list) return;
    emptyList(*list);
    delete *list;
    *list = nullptr;
}

int getDeviceCount(const DeviceHeadTail* list) {
    int count = 0;
    for (const Device* d = list ? list->head : nullptr; d; d = d->next) ++count;
    return count;
}

static bool readPiece(FILE* listing, char* piece) { return fgets(piece, LINE_PIECE + 1, listing) != nullptr; }

static void refuseRow(const char* row, const char* why) {
    int len = static_cast<int>(strlen(row));
    while (len > 0 && (row[len - 1] == '\n' || row[len - 1] == '\r')) --len;
    writetoLogf(false, "\nWarning. Adapter table row refused (%s): %.*s\n", why, len, row);
}

// One row: the device id and MAC address are its second and third words.
static void readAdapterRow(const char* row, DeviceHeadTail* list) {
    const char* start[3];
    size_t len[3];
    for (int i = 0; i < 3; ++i)
        if (!findWord(row, i, &start[i], &len[i])) return;  // fewer than three words: not a row
    char word[3][ROW_WORD_SIZE];
    for (int i = 0; i < 3; ++i) {
        if (len[i] >= ROW_WORD_SIZE) {
            refuseRow(row, "a word is longer than 15 characters");
            return;
        }
        memcpy(word[i], start[i], len[i]);
        word[i][len[i]] = '\0';
    }
    if (const char* why = adapterRowProblem(word[1], word[2])) {
        refuseRow(row, why);
        return;
    }
    addDevicetoList(list, word[1], word[2]);
}

void readAdapterTable(FILE* listing, const char* endMarker, DeviceHeadTail* list) {
    char piece[LINE_SIZE];
    bool header = false;
    while (!header && readPiece(listing, piece)) header = strstr(piece, " MAC ") != nullptr;
    if (!header || !readPiece(listing, piece)) return;  // the line under the header is skipped
    // A row longer than one piece is judged by its first piece: the pieces after it are the rest
    // of that row, not rows of their own. They still end the table when they hold the marker.
    bool lineStart = true;
    while (readPiece(listing, piece) && !strstr(piece, endMarker)) {
        if (lineStart) readAdapterRow(piece, list);
        size_t len = strlen(piece);
        lineStart = len > 0 && piece[len - 1] == '\n';
    }
}

// The whole listing goes to the log (never the screen), framed by two newlines.
static void copyListingToLog(FILE* listing) {
    char piece[LINE_SIZE];
    writetoLog("\n", false);
    while (readPiece(listing, piece)) writetoLog(piece, false);
    writetoLog("\n", false);
}

DeviceHeadTail* getDevices(const char* familyName, char* toolPath) {
    if (!setBCOMtool(familyName, toolPath)) return nullptr;
    const char* endMarker = strcmp(familyName, c_szNetXtreme) == 0 ? "0>" : "Quit";

    DeviceHeadTail* list = new (std::nothrow) DeviceHeadTail();
    if (!list) {
        writetoLogf(true, "Error! Unable to build %s device list.\n", familyName);
        return nullptr;
    }
    char cmd[CMD_SIZE];
    composeListCmd(cmd, sizeof(cmd), toolPath);
    runCommand(cmd);
    if (pendingSignal()) {
        deleteFile(c_szListing);
        delete list;
        return nullptr;
    }

    FILE* listing = fopen(c_szListing, "r");
    if (!listing) {
        composeListToLogCmd(cmd, sizeof(cmd), toolPath, szFwuplog);
        runCommand(cmd);
        writetoLogf(true, "Error! Cannot create temporary file for %s devices.\n", familyName);
        delete list;
        return nullptr;
    }
    copyListingToLog(listing);
    rewind(listing);
    readAdapterTable(listing, endMarker, list);
    fclose(listing);
    deleteFile(c_szListing);

    if (getDeviceCount(list) >= 1) {
        getFwVersions(list, toolPath, familyName);
        return list;
    }
    writetoLogf(true, "\nWarning. No Broadcom %s adapters found.\n", familyName);
    delete list;
    return nullptr;
}
