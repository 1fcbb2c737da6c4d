#include "nicupdate/inventory.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nicupdate/commands.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/textword.h"
#include "common/banned.h"

const char c_szVersionUnknown[] = "unknown";

static const char c_szUnknownChip[] = "unknown";

// Longest sixth word of a "BootCode" line that may give the chip name.
constexpr int BOOT_WORD_MAX = 31;

// A component marker, an alternative searched only when the first is absent, and the field
// its version goes into.
struct MarkerRule {
    const char* marker;
    const char* alternative;
    VersionField field;
};

static const VersionField c_versionFields[] = {&Device::bootVer, &Device::ipmiVer, &Device::asfVer,  &Device::pxeVer,
                                               &Device::umpVer,  &Device::ncsiVer, &Device::iscsiVer};

static const MarkerRule c_netXtremeRules[] = {
    {"ASFIPMI", nullptr, &Device::ipmiVer},
    {"UMP", nullptr, &Device::umpVer},
    {"BRCM ASF", nullptr, &Device::asfVer},
    {"PXE", nullptr, &Device::pxeVer},
};

static const MarkerRule c_netXtremeIIRules[] = {
    {" ipmi ", " IPMI ", &Device::ipmiVer}, {" UMP ", nullptr, &Device::umpVer},   {" mba ", " MBA ", &Device::pxeVer},
    {"NCSI_X", nullptr, &Device::ncsiVer},  {"ISCSI", nullptr, &Device::iscsiVer},
};

struct ChipEntry {
    unsigned long id;
    const char* name;
};

// Ids 0x1600 to 0x16C7 with a name; 0x16A7 and 0x16C7 have none on purpose.
static const ChipEntry c_chipNames[] = {
    {0x1600, "5752"},  {0x1639, "5709"},  {0x163A, "5709s"}, {0x1644, "5700"},  {0x1648, "5704"},
    {0x164A, "5706"},  {0x164C, "5708"},  {0x164E, "57710"}, {0x1659, "5721"},  {0x165A, "5722"},
    {0x1669, "5714s"}, {0x166A, "5780"},  {0x166B, "5780s"}, {0x1678, "5715"},  {0x1679, "5715s"},
    {0x16A6, "5702"},  {0x16A8, "5704s"}, {0x16AA, "5706s"}, {0x16AC, "5708s"},
};
constexpr unsigned long CHIP_TABLE_BASE = 0x1600UL;
constexpr unsigned long CHIP_TABLE_ENTRIES = 200UL;

int IsFwTypePresent(const RunLog& log, const Device* device, const char* pattern, char* lineOut) {
    FILE* listing = fopen(device->macAddr, "r");
    if (!listing) {
        writetoLogf(log, true, "Error 9: Cannot access %s information file.\n", device->macAddr);
        return 0;
    }
    char piece[LINE_SIZE];
    int found = 0;
    while (!found && fgets(piece, LINE_PIECE + 1, listing)) {
        if (strstr(piece, pattern)) {
            memcpy(lineOut, piece, strlen(piece) + 1);
            found = 1;
        }
    }
    fclose(listing);
    return found;
}

int parseForVersion(char* line) {
    char copy[LINE_SIZE];
    snprintf(copy, sizeof(copy), "%s", line);

    const char* cut = nullptr;
    for (const char* p = copy; *p; ++p)
        if (strchr(" -vX", *p)) cut = p;

    const char* word;
    size_t len;
    if (!cut || !findWord(cut + 1, 0, &word, &len)) {
        snprintf(line, LINE_SIZE, "%s", c_szVersionUnknown);
        return 1;
    }
    if (len > VERSION_SIZE - 1) len = VERSION_SIZE - 1;
    snprintf(line, LINE_SIZE, "%.*s", static_cast<int>(len), word);
    return 1;
}

void convertDIDtoName(const char* devId, char* nameOut) {
    unsigned long offset = strtoul(devId, nullptr, 16) - CHIP_TABLE_BASE;
    const char* name = c_szUnknownChip;
    if (offset < CHIP_TABLE_ENTRIES)
        for (const ChipEntry& chip : c_chipNames)
            if (chip.id - CHIP_TABLE_BASE == offset) name = chip.name;
    snprintf(nameOut, CHIPNAME_SIZE, "%s", name);
}

bool chipNameFromBootLine(const char* line, char* nameOut) {
    const char* word;
    size_t len;
    if (!findWord(line, 5, &word, &len) || len > BOOT_WORD_MAX) return false;
    const char* dash = static_cast<const char*>(memchr(word, '-', len));
    if (!dash) return false;
    snprintf(nameOut, CHIPNAME_SIZE, "%.*s", static_cast<int>(dash - word), word);
    return true;
}

// parseForVersion has already cut the version to fit a field.
static void storeVersion(char* field, const char* version) {
    snprintf(field, VERSION_SIZE, "%.*s", VERSION_SIZE - 1, version);
}

// Sets field from the first line holding the rule's marker (or, failing that, its
// alternative). Returns whether one was found.
static bool findVersion(const RunLog& log, Device* device, const MarkerRule& rule) {
    char line[LINE_SIZE];
    if (!IsFwTypePresent(log, device, rule.marker, line) &&
        !(rule.alternative && IsFwTypePresent(log, device, rule.alternative, line)))
        return false;
    parseForVersion(line);
    storeVersion(device->*rule.field, line);
    return true;
}

static void netXtremeInventory(const RunLog& log, Device* device) {
    char line[LINE_SIZE];
    if (!IsFwTypePresent(log, device, "BootCode", line)) return;
    chipNameFromBootLine(line, device->chipName);
    parseForVersion(line);
    storeVersion(device->bootVer, line);
    for (const MarkerRule& rule : c_netXtremeRules) findVersion(log, device, rule);
}

static void netXtremeIIInventory(const RunLog& log, Device* device) {
    static const MarkerRule gate = {"BC1", nullptr, &Device::bootVer};
    if (!findVersion(log, device, gate)) return;
    for (const MarkerRule& rule : c_netXtremeIIRules) findVersion(log, device, rule);
}

void getFwVersions(const RunContext& run, DeviceHeadTail* list, const char* toolPath, const char* familyName) {
    bool netXtreme = strcasecmp(familyName, "NetXtreme") == 0;
    for (Device* device = list->head; device && !pendingSignal(); device = device->next) {
        if (runDirCmd(run, toolPath, device->macAddr) == CMD_INTERRUPTED) break;
        for (VersionField field : c_versionFields) snprintf(device->*field, VERSION_SIZE, "%s", c_szNotPresent);
        convertDIDtoName(device->devId, device->chipName);
        if (netXtreme)
            netXtremeInventory(run.log, device);
        else
            netXtremeIIInventory(run.log, device);
    }
}

static void displayList(const RunLog& log, const DeviceHeadTail* list) {
    for (const Device* d = list ? list->head : nullptr; d; d = d->next)
        writetoLogf(log, true, "%s (%s)\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", d->macAddr, d->chipName, d->bootVer, d->ipmiVer,
                    d->asfVer, d->pxeVer, d->umpVer, d->ncsiVer, d->iscsiVer);
}

void displayFwVersions(const RunLog& log, const DeviceHeadTail* first, const DeviceHeadTail* second) {
    writetoLog(log, "\n    ADAPTER MAC    \tBOOT\tIPMI\tASF\tPXE\tUMP\tNCSI\tiSCSI\n", true);
    writetoLog(log, "-------------------\t----\t----\t---\t---\t---\t---\t---\n", true);
    displayList(log, first);
    displayList(log, second);
}
