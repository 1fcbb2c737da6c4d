// The adapter list: its records, reading the vendor utility's adapter table into it, and the
// list operations every other module uses.
#pragma once

#include <cstddef>
#include <cstdio>

struct RunContext;
struct RunLog;

constexpr int DEVID_SIZE = 10;    // device id text, at most 9 characters
constexpr int MACADDR_SIZE = 20;  // MAC address text, at most 19 characters
constexpr int VERSION_SIZE = 20;  // version text, at most 19 characters
constexpr int CHIPNAME_SIZE = 256;
constexpr int TOOL_PATH_SIZE = 32;  // "./lnxfwupg" or "./lnxfwnx2"

// Listing lines are read in pieces of at most LINE_PIECE characters into LINE_SIZE buffers; a
// longer line arrives as several pieces, each handled as a line of its own.
constexpr int LINE_SIZE = 256;
constexpr int LINE_PIECE = 254;

// One adapter. The version fields are in the column order of the version table and the order
// in which components are updated; "NA" means the component is not present.
struct Device {
    char devId[DEVID_SIZE];
    char macAddr[MACADDR_SIZE];
    char bootVer[VERSION_SIZE];
    char ipmiVer[VERSION_SIZE];
    char asfVer[VERSION_SIZE];
    char pxeVer[VERSION_SIZE];
    char umpVer[VERSION_SIZE];
    char ncsiVer[VERSION_SIZE];
    char iscsiVer[VERSION_SIZE];
    char chipName[CHIPNAME_SIZE];
    Device* next;
};

// A version field's text for a component that is not present.
inline constexpr char c_szNotPresent[] = "NA";

// One of the seven version fields of Device.
typedef char (Device::*VersionField)[VERSION_SIZE];

// One family's list; both pointers null when it is empty. The list owns its records.
struct DeviceHeadTail {
    Device* head;
    Device* tail;
};

// Reads the first adapter table of listing into list: the lines after the first one holding
// " MAC " and the one under it, up to the end of the file or the first line holding
// endMarker. Rows with three or more words give an adapter (second word the device id, third
// the MAC address); shorter rows are skipped. A row longer than one piece is read from its first
// piece only; its further pieces never count as rows (they do end the table if they hold the
// marker). The first word is unused and may be of any length. Rows refused by
// adapterRowProblem (a device id or MAC address too long for its field among them) are left
// out with a message on screen and in log; returns how many were refused.
int readAdapterTable(const RunLog& log, FILE* listing, const char* endMarker, DeviceHeadTail* list);

// Null when devId and macAddr may become an adapter, else why not (a short phrase). Both must
// fit their fields and not start with '-'; the device id holds only letters, digits, ':', '-',
// '.', '_'. The MAC address names the adapter's listing file and follows ">" in a command, so it
// must look like one: hexadecimal digits and the separators ':', '-', '.', not starting with
// '.'. That keeps it from ever naming another file of the tool's folder (q, devices, nv.bak,
// the utilities, images, install scripts), which the listing would overwrite and the list's
// release would delete.
const char* adapterRowProblem(const char* devId, const char* macAddr);

// Appends a new record with devId and macAddr (versions and chip name empty). Returns true;
// false when adapterRowProblem refuses the texts (nothing is logged, the caller reports) or
// memory runs out ("Error! Unable to create resources for device <mac>.\n" is logged in log).
bool addDevicetoList(const RunLog& log, DeviceHeadTail* list, const char* devId, const char* macAddr);

// Deletes each record's listing file (deleteFile of its MAC address, with run) and releases
// the records; the header stays. A null list is ignored.
void emptyList(const RunContext& run, DeviceHeadTail* list);

// emptyList, then releases the header and sets *list to null. A null *list is ignored.
void releaseList(const RunContext& run, DeviceHeadTail** list);

// Number of records, following next from head; 0 for a null list.
int getDeviceCount(const DeviceHeadTail* list);
