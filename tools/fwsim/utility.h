// The simulated vendor utility: one run of lnxfwupg or lnxfwnx2 with its command line.
//
// Command lines (MAC is the adapter's address, with or without colons):
//   (none)                                         adapter table, then a prompt read from `in`
//   MAC dir                                        NVRAM directory of the adapter
//   MAC upgrade [-noreset] [-F] -COMP IMAGE [SAVE] write IMAGE into component COMP, old one to SAVE
//   MAC cfg -COMP 0|1                              switch management firmware COMP off (0) or on (1)
//   MAC crc                                        asks for confirmation on `in`, checks the NVRAM
// Exit status: 0 success, 1 the operation failed, 2 a wrong command line, 3 an unusable scenario or
// state file; injected faults choose their own status or signal.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/fwsim/scenario.h"

namespace fwsim {

struct UtilityIo {
    std::istream* in;
    std::ostream* out;
    std::ostream* err;
    std::string scenarioPath;  // scenario file; the state file lies next to it
    std::string tracePath;     // when not empty, one line per run is appended: name and arguments
};

struct UtilityResult {
    int status = 0;  // exit status when `signal` is 0
    int signal = 0;  // non-zero: the run must end by this signal (output flushed first)
};

// Runs the utility of `family` with `args` (without the program name).
UtilityResult runUtility(Family family, const std::vector<std::string>& args, const UtilityIo& io);

}  // namespace fwsim
