// Fuzz target: one adapter's component listing, searched as the inventory searches it: the
// family's marker lines (IsFwTypePresent on the listing file named by the adapter's MAC
// address), the version cut out of each (parseForVersion), the chip name from the "BootCode"
// line, and the image names that depend on a "5703s" line. Every line of the listing is also
// cut directly.
// Input: byte 0 chooses the family (bit 0: 0 NetXtreme, 1 NetXtreme II) and the device id
// (bits 1-2: 1648, 16A7, 16C7, 1639); the rest is the listing.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/fuzz/fuzzutil.h"
#include "tests/fuzz/nicburnlog.h"
#include "nicupdate/devlist.h"
#include "nicupdate/inventory.h"
#include "nicupdate/update.h"

namespace {

const char c_mac[] = "00:10:18:2a:3b:4c";

struct Marker {
    const char* marker;
    const char* alternative;  // searched when marker is absent
    VersionField field;
};

// The inventory's marker rules, gate first.
const Marker c_netXtreme[] = {{"BootCode", nullptr, &Device::bootVer},
                              {"ASFIPMI", nullptr, &Device::ipmiVer},
                              {"UMP", nullptr, &Device::umpVer},
                              {"BRCM ASF", nullptr, &Device::asfVer},
                              {"PXE", nullptr, &Device::pxeVer}};
const Marker c_netXtremeII[] = {{"BC1", nullptr, &Device::bootVer},    {" ipmi ", " IPMI ", &Device::ipmiVer},
                                {" UMP ", nullptr, &Device::umpVer},   {" mba ", " MBA ", &Device::pxeVer},
                                {"NCSI_X", nullptr, &Device::ncsiVer}, {"ISCSI", nullptr, &Device::iscsiVer}};

// A version as parseForVersion leaves it: one word of at most 19 characters.
void checkVersion(const char* version) {
    size_t len = strlen(version);
    FUZZ_CHECK(len > 0 && len < VERSION_SIZE);
    FUZZ_CHECK(strcspn(version, " \t\n\v\f\r") == len);
}

// A line IsFwTypePresent hands back: one piece of at most 254 characters holding the marker.
bool search(const RunLog& log, const Device* device, const char* marker, char* line) {
    memset(line, 0x5A, LINE_SIZE);
    if (!IsFwTypePresent(log, device, marker, line)) {
        for (int i = 0; i < LINE_SIZE; ++i) FUZZ_CHECK(line[i] == 0x5A);  // untouched
        return false;
    }
    FUZZ_CHECK(memchr(line, '\0', LINE_SIZE) != nullptr);
    FUZZ_CHECK(strlen(line) <= LINE_PIECE && strstr(line, marker) != nullptr);
    return true;
}

void takeInventory(const RunLog& log, Device* device, const Marker* rules, size_t count, bool netXtreme) {
    for (size_t i = 0; i < count; ++i) {
        char line[LINE_SIZE];
        if (!search(log, device, rules[i].marker, line) &&
            !(rules[i].alternative && search(log, device, rules[i].alternative, line))) {
            if (i == 0) return;  // no gate marker: nothing more is searched
            continue;
        }
        if (netXtreme && i == 0) {
            char before[CHIPNAME_SIZE];
            memcpy(before, device->chipName, sizeof(before));
            if (chipNameFromBootLine(line, device->chipName))
                FUZZ_CHECK(strlen(device->chipName) <= 31 && !strchr(device->chipName, '-'));
            else
                FUZZ_CHECK(memcmp(before, device->chipName, sizeof(before)) == 0);
        }
        FUZZ_CHECK(parseForVersion(line) == 1);
        checkVersion(line);
        snprintf(device->*rules[i].field, VERSION_SIZE, "%s", line);
    }
}

// Each line of the listing, in pieces as the reader takes them, cut directly.
void cutEveryLine(const uint8_t* data, size_t size) {
    size_t start = 0;
    while (start < size) {
        size_t len = 0;  // a piece ends after a newline, after 254 bytes, or at the end
        while (start + len < size && len < LINE_PIECE)
            if (data[start + len++] == '\n') break;
        char line[LINE_SIZE];
        memcpy(line, data + start, len);
        line[len] = '\0';
        char name[CHIPNAME_SIZE] = "table";
        chipNameFromBootLine(line, name);
        FUZZ_CHECK(strlen(name) < CHIPNAME_SIZE);
        FUZZ_CHECK(parseForVersion(line) == 1);
        checkVersion(line);
        start += len;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const char* const ids[] = {"1648", "16A7", "16C7", "1639"};
    bool netXtreme = (data[0] & 1) == 0;
    const char* devId = ids[(data[0] >> 1) & 3];
    ++data;
    --size;

    const RunLog& log = freshNicburnLog();
    static const std::string dir = fuzzutil::privateDir();
    fuzzutil::writeFileOrDie(dir + "/" + c_mac, data, size);

    Device device = {};
    snprintf(device.devId, sizeof(device.devId), "%s", devId);
    snprintf(device.macAddr, sizeof(device.macAddr), "%s", c_mac);
    for (VersionField f : {&Device::bootVer, &Device::ipmiVer, &Device::asfVer, &Device::pxeVer, &Device::umpVer,
                           &Device::ncsiVer, &Device::iscsiVer})
        snprintf(device.*f, VERSION_SIZE, "NA");
    convertDIDtoName(device.devId, device.chipName);

    // The listing file is named by the MAC address alone: it is looked for in the current
    // directory, which is the private one only while the listing is searched.
    static char home[4096];
    if (!getcwd(home, sizeof(home)) || chdir(dir.c_str()) != 0) abort();
    if (netXtreme)
        takeInventory(log, &device, c_netXtreme, sizeof(c_netXtreme) / sizeof(c_netXtreme[0]), true);
    else
        takeInventory(log, &device, c_netXtremeII, sizeof(c_netXtremeII) / sizeof(c_netXtremeII[0]), false);
    for (const char* suffix : {"bc", "ipmi", "asf", "mba", "ump", "ncsi", "ib"}) {
        char image[IMAGE_NAME_SIZE];
        FUZZ_CHECK(buildImageName(log, &device, suffix, image));
        FUZZ_CHECK(strstr(image, ".bin") != nullptr);
    }
    if (chdir(home) != 0) abort();

    cutEveryLine(data, size);
    return 0;
}
