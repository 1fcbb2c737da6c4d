// What the simulated utilities changed: upgraded versions and disabled management firmware.
//
// The state lives in "fwsim.state" in the scenario's folder, so that a later run (the update tool's
// rediscovery after an update) sees the changes. It is a text file of lines
//   version MAC COMPONENT VERSION
//   disabled MAC COMPONENT
// with MAC as twelve upper-case hexadecimal digits; '#' starts a comment line.
#pragma once

#include <map>
#include <set>
#include <string>

#include "tools/fwsim/scenario.h"

namespace fwsim {

struct State {
    std::map<std::string, std::map<std::string, std::string>> versions;  // MAC -> component -> version
    std::map<std::string, std::set<std::string>> disabled;               // MAC -> components switched off
};

// "fwsim.state" in the folder of the scenario file at `scenarioPath`.
std::string statePath(const std::string& scenarioPath);

// Reads the state file. A missing file is an empty state (true). False with *error set when the
// file exists but cannot be read or holds a line that is not one of the two forms.
bool loadState(const std::string& path, State* out, std::string* error);

// Writes the state file whole (through a temporary file and a rename, so a reader never sees half
// of it). False with *error set when it cannot be written.
bool saveState(const std::string& path, const State& state, std::string* error);

// Puts the state over the scenario: upgraded versions replace the scenario's, disabled components
// disappear. Entries for adapters the scenario no longer has are ignored.
void applyState(const State& state, Scenario* scenario);

}  // namespace fwsim
