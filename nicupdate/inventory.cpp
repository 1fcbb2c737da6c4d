#include "nicupdate/inventory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "nicupdate/commands.h"
#include "nicupdate/family.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/textword.h"
#include "common/banned.h"

const char c_szVersionUnknown[] = "unknown";

static const char c_szUnknownChip[] = "unknown";

// Longest sixth word of a "BootCode" line that may give the chip name.
constexpr int BOOT_WORD_MAX = 31;

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

// The family's gate rule first (and from its line the chip name, where the family says so); the
// other rules only when the gate was found.
static void takeInventory(const RunLog& log, Device* device, const Family& family) {
    char line[LINE_SIZE];
    if (!IsFwTypePresent(log, device, family.gate.marker, line)) return;
    if (family.chipFromGate) chipNameFromBootLine(line, device->chipName);
    parseForVersion(line);
    storeVersion(device->*family.gate.field, line);
    for (size_t i = 0; i < family.ruleCount; ++i) findVersion(log, device, family.rules[i]);
}

void getFwVersions(const RunContext& run, DeviceHeadTail* list, const char* toolPath, const Family& family) {
    for (Device* device = list->head; device && !pendingSignal(); device = device->next) {
        if (runDirCmd(run, toolPath, device->macAddr) == CMD_INTERRUPTED) break;
        for (size_t i = 0; i < c_componentCount; ++i)
            snprintf(device->*c_components[i].field, VERSION_SIZE, "%s", c_szNotPresent);
        convertDIDtoName(device->devId, device->chipName);
        takeInventory(run.log, device, family);
    }
}

// A row: "<mac> (<chip>)", then each component's version after a tab.
static void displayList(const RunLog& log, const DeviceHeadTail* list) {
    for (const Device* d = list ? list->head : nullptr; d; d = d->next) {
        std::string row = std::string(d->macAddr) + " (" + d->chipName + ")";
        for (size_t i = 0; i < c_componentCount; ++i) row += std::string("\t") + (d->*c_components[i].field);
        writetoLog(log, (row + "\n").c_str(), true);
    }
}

void displayFwVersions(const RunLog& log, const FamilyRun* families, size_t count) {
    std::string heading = "\n    ADAPTER MAC    ";
    std::string rule = "-------------------";
    for (size_t i = 0; i < c_componentCount; ++i) {
        heading += std::string("\t") + c_components[i].heading;
        rule += std::string("\t") + c_components[i].rule;
    }
    writetoLog(log, (heading + "\n").c_str(), true);
    writetoLog(log, (rule + "\n").c_str(), true);
    for (size_t i = 0; i < count; ++i) displayList(log, families[i].list);
}
