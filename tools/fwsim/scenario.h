// The simulated adapters: the scenario file's data model and its parser.
//
// A scenario is an INI-like text file. Blocks `[adapter]` describe one adapter each; blocks
// `[lnxfwupg]` and `[lnxfwnx2]` hold settings of one utility as a whole. Inside a block every
// line is `key = value`. Lines starting with '#' or ';' are comments. The format is documented
// with examples in tools/fwsim/README.md.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace fwsim {

enum class Family { NetXtreme, NetXtremeII };

// "NetXtreme" or "NetXtreme II".
const char* familyName(Family family);
// The utility that serves a family: "lnxfwupg" or "lnxfwnx2".
const char* utilityName(Family family);

// One firmware component. `key` is the name used in the scenario, in image files and as the
// vendor utility's option ("-bc", "-ipmi"...). `nxRegion` / `nx2Region` are the region names the
// "dir" listing prints for each family; nullptr where the family has no such component.
struct ComponentInfo {
    const char* key;
    const char* nxRegion;
    const char* nx2Region;
    bool management;  // may be switched off with "cfg -<key> 0"
};

// All components in listing order: bc, ipmi, asf, mba, ump, ncsi, ib.
const std::vector<ComponentInfo>& components();
// The component named `key` (aliases "pxe" for mba and "iscsi" for ib are accepted), or nullptr.
const ComponentInfo* findComponent(const std::string& key);
// True when adapters of `family` can carry the component.
bool familyHas(Family family, const ComponentInfo& info);

// What an injected fault does. The point at which it strikes depends on the command (README).
struct Fault {
    enum Kind {
        None,
        Exit,       // exit with `number`
        Signal,     // die by signal `number`
        Empty,      // print nothing at all (table, dir)
        NoTable,    // banner and prompt, but no adapter table (table)
        NoEnd,      // adapter table without its end line (table)
        Overlong,   // lines longer than the 254 characters the update tool reads at once (row, dir)
        Malformed,  // a table row with two words only (row)
        Hidden,     // the adapter's row is left out of the table (row)
        Text,       // the row is replaced by `text` verbatim (row)
        Delay,      // the command takes `seconds` longer, otherwise as usual (table, dir, upgrade, cfg, crc)
    };
    Kind kind = None;
    int number = 0;
    double seconds = 0;
    std::string text;
};

struct Adapter {
    Family family = Family::NetXtreme;
    std::string devId;      // as printed, case kept ("16A7", "163a")
    std::string mac;        // normalised: twelve upper-case hexadecimal digits
    std::string chip;       // chip part of the BootCode image word; "" = from devId, "none" = left out
    bool has5703s = false;  // listing carries a "5703s" controller line
    std::string bus;        // PCI location shown in the table; "" = made up from the position
    std::string name;       // description shown in the table; "" = family default
    std::map<std::string, std::string> versions;  // component key -> version, present components
    std::vector<std::string> dirLines;            // extra raw lines at the end of the "dir" listing
    // Faults by place: "row", "dir", "upgrade", "upgrade.bc", "cfg", "cfg.asf", "crc".
    std::map<std::string, Fault> faults;
    int line = 0;  // line of the scenario where the block starts, for messages
};

struct UtilitySettings {
    Fault tableFault;     // fault of the run without a command (the adapter table)
    std::string version;  // version shown in the banner; "" = default
};

struct Scenario {
    std::string path;  // file it was read from
    std::vector<Adapter> adapters;
    UtilitySettings nx;   // [lnxfwupg]
    UtilitySettings nx2;  // [lnxfwnx2]
};

// Reads a scenario from `text`; `path` is used in messages only. Returns false with *error set to
// "PATH:LINE: what is wrong" at the first fault in the text.
bool parseScenario(const std::string& text, const std::string& path, Scenario* out, std::string* error);

// Reads the scenario file at `path`. Returns false with *error set when it cannot be read or parsed.
bool loadScenario(const std::string& path, Scenario* out, std::string* error);

// Where the scenario is: $FWSIM_CONF when set and not empty, else "fwsim.conf" in the current directory.
std::string scenarioPath();

// Twelve upper-case hexadecimal digits from a MAC address written as 001018AABB01, 00:10:18:aa:bb:01
// or 00-10-18-aa-bb-01. Returns "" when `text` is none of these.
std::string normaliseMac(const std::string& text);

// Parses a fault description ("exit 2", "signal 9", "signal KILL", "empty"...) allowed at `place`.
// Returns false with *error set when the text is not one of the faults that place knows.
bool parseFault(const std::string& place, const std::string& text, Fault* out, std::string* error);

}  // namespace fwsim
