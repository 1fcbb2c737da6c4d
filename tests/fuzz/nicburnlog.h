// The nicburn log of a fuzz target: kept in the private temporary directory and emptied for
// every input, so it never grows without bound.
#pragma once

#include "nicupdate/fwlog.h"

// First call: creates the target's log in the private directory, silent (nothing on the
// screen). Every call: empties the log. Returns the log, which lives as long as the program.
const RunLog& freshNicburnLog();
