// Fuzz target: the adapter table of a vendor utility's listing, read as discovery reads the
// file "devices" (here in the private temporary directory).
// Input: byte 0 chooses the family's end marker (even: NetXtreme, "0>"; odd: NetXtreme II,
// "Quit"); the rest is the listing.
#include <cstdio>
#include <cstring>

#include "tests/fuzz/fuzzutil.h"
#include "tests/fuzz/nicburnlog.h"
#include "nicupdate/commands.h"
#include "nicupdate/devlist.h"
#include "nicupdate/update.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* endMarker = (data[0] & 1) ? "Quit" : "0>";
    const RunLog& log = freshNicburnLog();
    static const std::string path = fuzzutil::pathIn("devices");
    fuzzutil::writeFileOrDie(path, data + 1, size - 1);

    FILE* listing = fopen(path.c_str(), "r");
    if (!listing) abort();
    DeviceHeadTail list = {nullptr, nullptr};
    readAdapterTable(log, listing, endMarker, &list);
    fclose(listing);

    // Every adapter taken in is one that may name a file and stand on a command line; each
    // took a row of at least three words and two blanks, after a header of at least " MAC ".
    int count = getDeviceCount(&list);
    FUZZ_CHECK(count == 0 || static_cast<size_t>(count) * 5 + 5 <= size - 1);
    // And every command line it goes into fits, with the longest log name the tool makes.
    static const char logPath[] = "/var/log/ZAV_Support/ethflash999.log";
    const Device* last = nullptr;
    for (const Device* d = list.head; d; d = d->next) {
        FUZZ_CHECK(strlen(d->devId) < DEVID_SIZE && strlen(d->macAddr) < MACADDR_SIZE);
        FUZZ_CHECK(adapterRowProblem(d->devId, d->macAddr) == nullptr);
        char cmd[CMD_SIZE];
        char image[IMAGE_NAME_SIZE];
        FUZZ_CHECK(composeDirCmd(log, cmd, sizeof(cmd), "./lnxfwnx2", d->macAddr));
        // The image name as the update builds it for ids other than 16A7 and 16C7 (whose
        // names are shorter), without searching a listing file.
        int len = snprintf(image, sizeof(image), "%sncsi.bin", d->devId);
        FUZZ_CHECK(len > 0 && static_cast<size_t>(len) < sizeof(image));
        FUZZ_CHECK(composeUpgradeCmd(log, cmd, sizeof(cmd), "./lnxfwnx2", d->macAddr, "ncsi", image, logPath));
        FUZZ_CHECK(composeCfgCmd(log, cmd, sizeof(cmd), "./lnxfwnx2", d->macAddr, "ipmi", logPath));
        FUZZ_CHECK(composeCrcCmd(log, cmd, sizeof(cmd), "./lnxfwnx2", d->macAddr, logPath));
        FUZZ_CHECK(composeRemoveCmd(log, cmd, sizeof(cmd), d->macAddr));
        last = d;
    }
    FUZZ_CHECK(list.tail == last);

    // Released directly: emptyList would also remove listing files through the shell.
    while (list.head) {
        Device* d = list.head;
        list.head = d->next;
        delete d;
    }
    return 0;
}
