#include "launcher/os/permissions.h"

#include <sys/stat.h>

#include "common/banned.h"

// Never world-writable: root is about to run these files.
int makeFileExecutable(const char* path) { return chmod(path, 0755); }

int makeFileReadable(const char* path) { return chmod(path, 0755); }
