#include "nicupdate/devlist.h"

#include <cstring>
#include <new>

#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/textword.h"
#include "common/banned.h"

static bool isAdapterChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '-' ||
           c == '.' || c == '_';
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

bool addDevicetoList(const RunLog& log, DeviceHeadTail* list, const char* devId, const char* macAddr) {
    if (adapterRowProblem(devId, macAddr)) return false;
    Device* device = new (std::nothrow) Device();
    if (!device) {
        writetoLogf(log, true, "Error! Unable to create resources for device %s.\n", macAddr);
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

void emptyList(const RunContext& run, DeviceHeadTail* list) {
    if (!list) return;
    while (list->head) {
        Device* device = list->head;
        deleteFile(run, device->macAddr);
        list->head = device->next;
        delete device;
    }
    list->tail = nullptr;
}

void releaseList(const RunContext& run, DeviceHeadTail** list) {
    if (!*list) return;
    emptyList(run, *list);
    delete *list;
    *list = nullptr;
}

int getDeviceCount(const DeviceHeadTail* list) {
    int count = 0;
    for (const Device* d = list ? list->head : nullptr; d; d = d->next) ++count;
    return count;
}

static bool readPiece(FILE* listing, char* piece) { return fgets(piece, LINE_PIECE + 1, listing) != nullptr; }

// A refused row is an adapter left alone: the screen shows it too, so it is never silent.
static void refuseRow(const RunLog& log, const char* row, const char* why) {
    int len = static_cast<int>(strlen(row));
    while (len > 0 && (row[len - 1] == '\n' || row[len - 1] == '\r')) --len;
    writetoLogf(log, true, "\nWarning. Adapter table row refused (%s): %.*s\n", why, len, row);
}

// One row: the device id and MAC address are its second and third words; the first is unused
// and may be of any length. Returns false when the row was refused.
static bool readAdapterRow(const RunLog& log, const char* row, DeviceHeadTail* list) {
    const char* start[3];
    size_t len[3];
    for (int i = 0; i < 3; ++i)
        if (!findWord(row, i, &start[i], &len[i])) return true;  // fewer than three words: not a row
    if (len[1] >= DEVID_SIZE) {
        refuseRow(log, row, "device id longer than 9 characters");
        return false;
    }
    if (len[2] >= MACADDR_SIZE) {
        refuseRow(log, row, "MAC address longer than 19 characters");
        return false;
    }
    char devId[DEVID_SIZE];
    char macAddr[MACADDR_SIZE];
    memcpy(devId, start[1], len[1]);
    devId[len[1]] = '\0';
    memcpy(macAddr, start[2], len[2]);
    macAddr[len[2]] = '\0';
    if (const char* why = adapterRowProblem(devId, macAddr)) {
        refuseRow(log, row, why);
        return false;
    }
    addDevicetoList(log, list, devId, macAddr);
    return true;
}

int readAdapterTable(const RunLog& log, FILE* listing, const char* endMarker, DeviceHeadTail* list) {
    int refused = 0;
    char piece[LINE_SIZE];
    bool header = false;
    while (!header && readPiece(listing, piece)) header = strstr(piece, " MAC ") != nullptr;
    if (!header || !readPiece(listing, piece)) return 0;  // the line under the header is skipped
    // A row longer than one piece is judged by its first piece: the pieces after it are the rest
    // of that row, not rows of their own. They still end the table when they hold the marker.
    bool lineStart = true;
    while (readPiece(listing, piece) && !strstr(piece, endMarker)) {
        if (lineStart && !readAdapterRow(log, piece, list)) ++refused;
        size_t len = strlen(piece);
        lineStart = len > 0 && piece[len - 1] == '\n';
    }
    return refused;
}
