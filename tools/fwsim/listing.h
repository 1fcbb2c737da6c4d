// The text the simulated utilities print: banner, adapter table, NVRAM directory ("dir").
//
// The update tool finds firmware markers as bare substrings ("UMP", "PXE", "BC1"...), so nothing
// printed here besides the region lines carries one: MAC addresses in the "dir" listing are written
// with colons (hex pairs like "BC" "1x" cannot join into "BC1"), and banners avoid the markers.
#pragma once

#include <string>

#include "tools/fwsim/scenario.h"

namespace fwsim {

// First lines of every run: utility title with its version, then an empty line.
std::string banner(const Scenario& scenario, Family family);

// The adapter table of `family`: a header holding " MAC ", a line of dashes, one row
// "INDEX DEVID MAC BUS DESCRIPTION" per adapter and an empty line. Row faults are applied here; the
// table fault is not (see utility.cpp).
std::string adapterTable(const Scenario& scenario, Family family);

// What ends the table and waits for a command: the prompt "0> " for lnxfwupg; a command menu
// holding "Quit" and the prompt "> " for lnxfwnx2.
std::string prompt(Family family);

// The NVRAM directory of one adapter, as printed by "MAC dir", after the banner. Region lines read
// "IDX REGION OFFSET LENGTH valid VERSION"; the BootCode image word is CHIP-vVERSION. The "dir"
// faults "empty" and "overlong" are applied here.
std::string dirListing(const Adapter& adapter);

// Chip shown in the BootCode line when the scenario gives none: the controller of the device id,
// or "" when the id is not a known single-chip controller (16A7, 16C7 and unknown ids).
std::string chipOfDevId(const std::string& devId);

// "00:10:18:AA:BB:01" from "001018AABB01".
std::string macWithColons(const std::string& mac);

// Position of the adapter among the adapters of its family, counting from 1.
int adapterIndex(const Scenario& scenario, const Adapter& adapter);

}  // namespace fwsim
