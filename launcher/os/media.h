// Removable media and file search services. The launcher's own run does not use them.
#pragma once

#include "launcher/os/commands.h"

// Capacity readDevice needs in buf: 32 bytes of text and a terminator.
constexpr int READ_DEVICE_SIZE = 33;
// Where mountRemovableMedia mounts the medium.
constexpr char c_removableMountPoint[] = "/mnt/key";

// Reads at most 32 bytes of path into buf (READ_DEVICE_SIZE bytes) and cuts the text at the
// first blank or tab. 1 when anything was read, else 0 (buf ""). Descriptor 0 is a valid open.
int readDevice(char* buf, const char* path);

// Finds the first FAT partition that "sfdisk -l" lists and mounts it on /mnt/key. devOut
// (READ_DEVICE_SIZE bytes) gets the device, mountOut (at least 9 bytes) "/mnt/key". The listing
// goes through a private temporary file under tempDir that is always removed. 0 on success; 1 after printing
// "Failed finding removable media.\n" or "Failed mounting removable media!\n" on stderr.
int mountRemovableMedia(const CommandRunner* runner, const char* tempDir, char* devOut, char* mountOut);

// Unmounts dev when mountPoint is exactly "/mnt/key": the command's result. Any other mount
// point: 1, nothing is run.
int unmountRemovableMedia(const CommandRunner* runner, const char* dev, const char* mountPoint);

// The most recently modified non-directory entry of dir (given with a trailing separator)
// whose name ends with suffix; among equal times the first in directory order, and a time of
// 0 never wins. A newly allocated dir+name (release with free), or null.
char* findLatestFile(const char* dir, const char* suffix);
