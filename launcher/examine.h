// The launcher's inspection options, each taken only as the first argument: ++check, ++list,
// ++info and ++extract DIR. They read the package file and never run a command of the package
// (++info runs `uname`, as every run does, to identify the system).
#pragma once

#include "launcher/context.h"
#include "pkgformat/pkgformat.h"

enum InspectOption { INSPECT_NONE = 0, INSPECT_CHECK, INSPECT_LIST, INSPECT_INFO, INSPECT_EXTRACT };

// The option arg names, or INSPECT_NONE (the argument then goes on to the startup command).
InspectOption parseInspectOption(const char* arg);

// Carries out the option of argv[1] on the package file (openOwnFile of argv[0]). The exit code:
// 0; 1 after a message on standard error naming the failure ("damaged" for damage); 2 for a
// wrong command line of ++extract.
int runInspection(LauncherContext* ctx, int argc, char** argv);

// Bytes a run writes into its working directory for the package open on fd (directory dir): the
// image and the unzip utility copied out, and the image's entries unpacked (only the first two
// when the image cannot be read).
unsigned long long packageSpaceNeeded(int fd, const PkgDirectory* dir);

// "x86_64 (64-bit)", "i386 (32-bit)", ...: the processor this launcher was built for.
const char* launcherProcessor();
