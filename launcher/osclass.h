// Per-os-class clause matching: "<verName><verRelease>\t<UP #>\t<processor>\t<file name>".
#pragma once

// Capacity of the working buffer for each of fields 1 to 3 (at most 63 characters).
#define OSCLASS_FIELD_SIZE 64

// Decides whether clause fits the identified system (setOsInfoEnvVars must have run).
// Returns a pointer into clause at the start of the file-name field (possibly ""), or null.
const char* matchOsClass(const char* clause);
