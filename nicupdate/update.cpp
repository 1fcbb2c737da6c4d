#include "nicupdate/update.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "nicupdate/commands.h"
#include "nicupdate/family.h"
#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/inventory.h"
#include "nicupdate/workfiles.h"
#include "common/banned.h"

static bool is5703Id(const char* devId) { return strcasecmp(devId, "16A7") == 0 || strcasecmp(devId, "16C7") == 0; }

// The 5703 ids' image depends on their listing; without it any choice would be a guess.
static bool listingReadable(const Device* device) {
    FILE* listing = fopen(device->macAddr, "r");
    if (!listing) return false;
    fclose(listing);
    return true;
}

bool buildImageName(const RunLog& log, const Device* device, const char* typeSuffix, char* out) {
    const char* prefix = device->devId;
    if (is5703Id(device->devId)) {
        if (!listingReadable(device)) {
            out[0] = '\0';
            return false;
        }
        char line[LINE_SIZE];
        prefix = IsFwTypePresent(log, device, "5703s", line) ? "03S" : "03C";
    }
    int len = snprintf(out, IMAGE_NAME_SIZE, "%s%s.bin", prefix, typeSuffix);
    if (len >= 0 && len < IMAGE_NAME_SIZE) return true;
    out[0] = '\0';
    return false;
}

static void showMark(const RunLog& log, const char* mark) {
    if (!log.silent) fputs(mark, stdout);
}

bool updateFirmware(const RunContext& run, Device* device, const char* typeSuffix, const char* toolPath) {
    char image[IMAGE_NAME_SIZE];
    if (!buildImageName(run.log, device, typeSuffix, image)) {
        writetoLogf(run.log, false, " !!! Error updating %s firmware on device %s: image file name too long !!!\n\n",
                    typeSuffix, device->macAddr);
        return false;
    }
    writetoLogf(run.log, true, "Updating %s using file %s", device->macAddr, image);
    writetoLog(run.log, "\n", false);
    fflush(stdout);

    bool ok = false;
    if (!fileExist(image)) {
        showMark(run.log, "\t---> Update failed\n");
        writetoLogf(run.log, false,
                    " !!! Error updating %s firmware on device %s using file %s. File not found !!!\n\n", typeSuffix,
                    device->macAddr, image);
    } else {
        int status = runUpgradeCmd(run, toolPath, device->macAddr, typeSuffix, image, logOutputPath(run.log));
        if (status == CMD_INTERRUPTED) {
            ok = true;  // not attempted: the run ends with the interrupt line
        } else if (status != 0) {
            showMark(run.log, "\t---> Update failed\n");
            writetoLogf(run.log, false, " !!! Error updating %s firmware on device %s using file %s !!!\n\n",
                        typeSuffix, device->macAddr, image);
        } else {
            sleepTicks(1000);
            writetoLog(run.log, "*** Update successful ***\n\n", false);
            showMark(run.log, "\t---> Update successful\n");
            ok = true;
        }
    }
    deleteFile(run, c_szBackupFile);
    return ok;
}

bool updateDevices(const RunContext& run, DeviceHeadTail* list, const char* toolPath, const char* familyName) {
    bool result = true;
    writetoLogf(run.log, true, "\nUpdating Broadcom %s adapters.\n", familyName);
    for (Device* device = list->head; device && !pendingSignal(); device = device->next) {
        if (strcasecmp(device->bootVer, c_szNotPresent) == 0) {
            writetoLogf(run.log, true, "Error! Firmware not detected on device %s.\n", device->macAddr);
            result = false;
            continue;
        }
        if (is5703Id(device->devId) && !listingReadable(device)) {
            writetoLogf(run.log, true,
                        "Error! Cannot read the firmware listing of device %s; its image type (03S or 03C) is "
                        "unknown, so no component was updated.\n",
                        device->macAddr);
            result = false;
            continue;
        }
        for (size_t i = 0; i < c_componentCount; ++i) {
            const Component& component = c_components[i];
            if (pendingSignal()) return result;
            if (strcasecmp(device->*component.field, c_szNotPresent) == 0) continue;
            if (component.skipFor5703 && is5703Id(device->devId)) continue;
            if (!updateFirmware(run, device, component.suffix, toolPath)) result = false;
        }
    }
    return result;
}

static bool secondsSince(const struct timespec& start, double* seconds) {
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return false;
    *seconds = static_cast<double>(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
    return true;
}

// The loop keeps the processor busy, so processor time and real time advance together; real
// time is the bound when the processor clock cannot be read or stops advancing.
void sleepTicks(unsigned int ticks, ProcessorClock processorClock) {
    const double span = static_cast<double>(ticks) / CLOCKS_PER_SEC;
    const clock_t failed = static_cast<clock_t>(-1);
    struct timespec start;
    bool haveRealTime = clock_gettime(CLOCK_MONOTONIC, &start) == 0;
    clock_t begin = processorClock();
    bool haveCpuTime = begin != failed;
    clock_t deadline = begin + static_cast<clock_t>(ticks);
    while (haveCpuTime || haveRealTime) {
        if (haveCpuTime) {
            clock_t now = processorClock();
            if (now == failed)
                haveCpuTime = false;
            else if (now >= deadline)
                return;
        }
        double elapsed = 0;
        if (haveRealTime && !secondsSince(start, &elapsed)) haveRealTime = false;
        if (haveRealTime && elapsed >= (haveCpuTime ? span + 1.0 : span)) return;
    }
}
