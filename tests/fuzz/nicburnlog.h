// The nicburn log of a fuzz target: kept in the private temporary directory and emptied for
// every input, so it never grows without bound.
#pragma once

// First call: points the log directory at the private directory, creates the log there and
// makes the run silent (nothing on the screen). Every call: empties the log.
void freshNicburnLog();
