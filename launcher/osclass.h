// Per-os-class clause matching: "<verName><verRelease>\t<UP #>\t<processor>\t<file name>".
#pragma once

// Capacity of the working buffer for each of fields 1 to 3: a clause with a longer field
// (more than 63 characters) does not fit.
#define OSCLASS_FIELD_SIZE 64

// Decides whether clause fits the identified system (setOsInfoEnvVars must have run).
// Returns a pointer into clause at the start of the file-name field (possibly ""), or null.
const char* matchOsClass(const char* clause);
