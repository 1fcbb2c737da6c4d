// Firmware update: every component the inventory found present is written again from its
// image file in the current directory, through the vendor utility's "upgrade" command.
#pragma once

#include <ctime>

#include "nicupdate/devlist.h"

// Capacity of an image file name: at most 31 characters.
constexpr int IMAGE_NAME_SIZE = 32;

// Updates every adapter of list with the utility at toolPath, run with run; familyName only names the
// family in the opening message. An adapter whose bootVer is "NA" (ignoring case) is reported
// as not detected and skipped; otherwise each component whose field is not "NA" (ignoring case)
// is updated in the order of the component table (family.h: bc, ipmi, asf, mba, ump, ncsi, ib;
// asf never for device ids 16A7 and 16C7). A 16A7/16C7 adapter whose listing cannot be read is reported on screen and
// in the log and none of its components is updated (they count as failed). Every other adapter and component is
// attempted; returns true when all of them succeeded.
bool updateDevices(const RunContext& run, DeviceHeadTail* list, const char* toolPath, const char* familyName);

// Updates one component (typeSuffix: a suffix of the component table) from its
// image file. A missing image or a failing utility logs the error and returns false; an upgrade
// not started because the run was interrupted (CMD_INTERRUPTED) is no failure. "nv.bak",
// the utility's save file, is removed afterwards whatever the outcome. Result marks go to
// standard output unless run.log is silent.
bool updateFirmware(const RunContext& run, Device* device, const char* typeSuffix, const char* toolPath);

// Writes the image file name of a component into out (IMAGE_NAME_SIZE bytes): the device id as
// listed, the suffix and ".bin". For device ids 16A7 and 16C7 (ignoring case) the prefix is
// "03S" when the adapter's listing has a line holding "5703s", else "03C". Returns false, out
// empty, when such an adapter's listing cannot be read (no image is guessed) or the name would
// not fit (device ids of at most 9 characters always fit). A listing search that fails is
// reported in log as IsFwTypePresent does.
bool buildImageName(const RunLog& log, const Device* device, const char* typeSuffix, char* out);

// Busy wait of ticks processor-clock ticks (CLOCKS_PER_SEC per second), the pause after each
// successful upgrade. It yields nothing to other processes. It always ends: it never outlasts
// its span of real time by more than a second, and when the processor clock reports failure it
// waits its span of real time instead (or returns at once when no clock works). Named apart
// from POSIX sleep, which counts seconds. processorClock is the clock it reads (clock() in the
// tool; a test passes one that fails).
typedef clock_t (*ProcessorClock)();
void sleepTicks(unsigned int ticks, ProcessorClock processorClock = clock);
