// Adapter families and firmware components as data. inventory, update, mgmt, the CRC check and
// the version table read these tables; none of them names a family or a component itself.
#pragma once

#include <cstddef>

#include "nicupdate/devlist.h"

// One firmware component, in the order of the version table's columns and of the update.
struct Component {
    const char* suffix;      // image file "<prefix><suffix>.bin" and upgrade option "-<suffix>"
    VersionField field;      // Device field holding its version ("NA": not present)
    const char* heading;     // version table column
    const char* rule;        // the dashes under heading
    const char* mgmtOption;  // "cfg -<option> 0" switches it off; nullptr: not management firmware
    const char* mgmtName;    // its name in the management messages
    const char* mgmtFor;     // "Disabling management firmware (<name>) <for> <mac>": "for" or "for device"
    bool skipFor5703;        // never updated on device ids 16A7 and 16C7 (no image exists)
};

extern const Component c_components[];
extern const size_t c_componentCount;

// The component whose version is in field, or nullptr.
const Component* componentOf(VersionField field);

// An inventory rule: the first listing line holding marker (or, when none does, alternative)
// gives the version of the component whose field it names.
struct MarkerRule {
    const char* marker;
    const char* alternative;  // nullptr: none
    VersionField field;
};

// A management component of a family, in the family's order of disabling.
struct MgmtEntry {
    VersionField field;     // the component (see componentOf)
    const char* errorName;  // its name in the error message; nullptr: the component's mgmtName
};

// One adapter family: what discovery, inventory and management need to know about it.
struct Family {
    const char* name;       // "NetXtreme", the word of the messages
    const char* utility;    // the vendor utility in the current directory
    const char* endMarker;  // the line that ends the utility's adapter table
    // Searched first: without it no other rule is looked at and every version stays "NA".
    MarkerRule gate;
    // The gate line's sixth word, before its '-', names the chip (chipNameFromBootLine).
    bool chipFromGate;
    const MarkerRule* rules;
    size_t ruleCount;
    const MgmtEntry* mgmt;
    size_t mgmtCount;
};

extern const Family c_netXtreme;    // lnxfwupg
extern const Family c_netXtremeII;  // lnxfwnx2

// One family's part of a run: its record, where its utility is, and its adapter list (null when
// it has none or it was not discovered), owned by the run.
struct FamilyRun {
    const Family* family;
    char toolPath[TOOL_PATH_SIZE];
    DeviceHeadTail* list;
};
