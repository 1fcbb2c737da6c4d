// The tool's entry: command line, answer files, and the run of one mode over the build's adapter
// families. Each program's main (main_x86.cpp, main_ppc.cpp) only chooses its build's families
// and calls runNicburn.
#pragma once

#include <cstddef>

#include "nicupdate/commands.h"

struct Family;

// Version text shown in the banner: the project's version, set by the build.
extern const char* pVer;

// Mode codes of processCmdLine.
enum NicburnMode {
    MODE_UPDATE = 0,     // no argument
    MODE_SILENT = 1,     // "-s"
    MODE_VERSIONS = 2,   // "-v"
    MODE_USAGE = 3,      // "-?"
    MODE_BAD_USAGE = 4,  // anything else
    MODE_NOMFW = 5,      // "-nomfw"
    MODE_CRC = 6         // "-crc"
};

// Exit status when no family yielded an adapter list.
constexpr int EXIT_NO_ADAPTERS = 171;
// Exit status when another run holds the update lock: a temporary failure, try again later
// (sysexits' EX_TEMPFAIL; no status of the launcher, kickoff or timeout(1) uses it).
constexpr int EXIT_BUSY = 75;

// The mode of the command line (argc counts the program name). One argument is compared
// whole, ignoring ASCII case, with "-s", "-v", "-?", "-nomfw", "-crc"; no argument gives
// MODE_UPDATE; any other word, or two or more arguments, MODE_BAD_USAGE.
NicburnMode processCmdLine(int argc, char** argv);

// Writes the usage text to standard output (never to the log).
void displayUsage();

// A family as a build has it. One the build leaves out is never discovered:
// "\nWarning. No Broadcom <name> adapters found.\n" is logged and shown in its place.
struct BuildFamily {
    const Family* family;
    bool leftOut;
};

// The adapter families of a build, in the order they are discovered, updated and shown.
struct NicburnBuild {
    const BuildFamily* families;
    size_t count;
};

// x86 build: NetXtreme, then NetXtreme II.
extern const NicburnBuild c_x86Build;
// PowerPC build: NetXtreme; the package carries no NetXtreme II utility for it, so that family
// is left out.
extern const NicburnBuild c_ppcBuild;

// One run of the tool: opens the log (initLogFile of logDir, c_szLogDirectory in the programs)
// into run.log, whatever it held before, reads the mode and performs it, running every command
// with run.runner (c_shellRunner in the programs); afterwards run.log names the run's log.
// Returns the exit status: 0; 1 for incorrect usage, no quit file, a failed update, a failed
// CRC check or disable command (-crc, -nomfw), a refused adapter table row (in every mode), or
// a lock folder or file that is not the tool's own; EXIT_BUSY when another run holds the lock;
// EXIT_NO_ADAPTERS when no family of build yielded an adapter list and no row was refused; 128 + N
// after signal N.
//
// Before the first vendor utility it takes the update lock in lockDir (takeRunLock;
// c_lockDirectory in the programs), held until it returns; every mode takes it (-v too, so that
// a check sees a busy host), usage and incorrect usage take none. From then on SIGINT, SIGQUIT,
// SIGTERM and SIGHUP only stop the run between two commands: the interruption is logged and
// shown, temporary files removed.
int runNicburn(int argc, char** argv, const NicburnBuild& build, const char* lockDir, const char* logDir,
               RunContext& run);
