#include "tools/fwsim/scenario.h"

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "common/banned.h"

namespace fwsim {

const char* familyName(Family family) { return family == Family::NetXtreme ? "NetXtreme" : "NetXtreme II"; }

const char* utilityName(Family family) { return family == Family::NetXtreme ? "lnxfwupg" : "lnxfwnx2"; }

const std::vector<ComponentInfo>& components() {
    static const std::vector<ComponentInfo> table = {
        {"bc", "BootCode", "BC1", false},  {"ipmi", "ASFIPMI", "IPMI", true}, {"asf", "BRCM ASF", nullptr, true},
        {"mba", "PXE", "MBA", false},      {"ump", "UMP", "UMP", true},       {"ncsi", nullptr, "NCSI_X", true},
        {"ib", nullptr, "ISCSI_B", false},
    };
    return table;
}

const ComponentInfo* findComponent(const std::string& key) {
    std::string k = key == "pxe" ? "mba" : key == "iscsi" ? "ib" : key;
    for (const auto& c : components())
        if (k == c.key) return &c;
    return nullptr;
}

bool familyHas(Family family, const ComponentInfo& info) {
    return (family == Family::NetXtreme ? info.nxRegion : info.nx2Region) != nullptr;
}

namespace {

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isHex(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool hasSpace(const std::string& s) {
    for (char c : s)
        if (isspace(static_cast<unsigned char>(c))) return true;
    return false;
}

// Signals that end a process by default; others would leave the utility running.
const struct {
    const char* name;
    int number;
} c_signals[] = {
    {"HUP", SIGHUP},   {"INT", SIGINT},   {"QUIT", SIGQUIT}, {"ILL", SIGILL},   {"TRAP", SIGTRAP},
    {"ABRT", SIGABRT}, {"BUS", SIGBUS},   {"FPE", SIGFPE},   {"KILL", SIGKILL}, {"USR1", SIGUSR1},
    {"SEGV", SIGSEGV}, {"USR2", SIGUSR2}, {"PIPE", SIGPIPE}, {"ALRM", SIGALRM}, {"TERM", SIGTERM},
};

bool parseSignal(const std::string& text, int* number) {
    std::string t = text;
    for (char& c : t) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (t.compare(0, 3, "SIG") == 0) t = t.substr(3);
    char* end = nullptr;
    long n = strtol(t.c_str(), &end, 10);
    bool numeric = !t.empty() && *end == '\0';
    for (const auto& s : c_signals) {
        if ((numeric && n == s.number) || (!numeric && t == s.name)) {
            *number = s.number;
            return true;
        }
    }
    return false;
}

bool parseExitCode(const std::string& text, int* number) {
    char* end = nullptr;
    long n = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < 1 || n > 255) return false;
    *number = static_cast<int>(n);
    return true;
}

}  // namespace

std::string normaliseMac(const std::string& text) {
    std::string digits;
    bool separated = text.find_first_of(":-") != std::string::npos;
    if (separated) {
        // Six groups of two digits, one separator kind throughout.
        char sep = text[text.find_first_of(":-")];
        if (text.size() != 17) return "";
        for (size_t i = 0; i < text.size(); ++i) {
            if (i % 3 == 2) {
                if (text[i] != sep) return "";
            } else {
                digits += text[i];
            }
        }
    } else {
        digits = text;
    }
    if (digits.size() != 12 || !isHex(digits)) return "";
    for (char& c : digits) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return digits;
}

bool parseFault(const std::string& place, const std::string& text, Fault* out, std::string* error) {
    std::string t = trim(text);
    size_t sp = t.find_first_of(" \t");
    std::string word = lower(t.substr(0, sp));
    std::string arg = sp == std::string::npos ? "" : trim(t.substr(sp));
    std::string base = place.substr(0, place.find('.'));

    // Kinds each place accepts, as shown in messages.
    std::vector<std::string> allowed;
    if (base == "table")
        allowed = {"exit N", "signal N", "empty", "notable", "noend", "delay S"};
    else if (base == "row")
        allowed = {"malformed", "overlong", "hidden", "text ROW"};
    else if (base == "dir")
        allowed = {"exit N", "signal N", "empty", "overlong", "delay S"};
    else
        allowed = {"exit N", "signal N", "delay S"};
    std::string list;
    bool known = false;
    for (const auto& k : allowed) {
        list += (list.empty() ? "" : ", ") + k;
        known = known || k.substr(0, k.find(' ')) == word;
    }
    if (!known) {
        *error = "unknown fault '" + t + "' for fault." + place + " (expected one of: " + list + ")";
        return false;
    }

    Fault f;
    if (word == "exit") {
        f.kind = Fault::Exit;
        if (!parseExitCode(arg, &f.number)) {
            *error = "fault '" + t + "': exit needs a status from 1 to 255";
            return false;
        }
    } else if (word == "signal") {
        f.kind = Fault::Signal;
        if (!parseSignal(arg, &f.number)) {
            *error = "fault '" + t +
                     "': signal needs a signal that ends a process, by number or name "
                     "(HUP INT QUIT ILL TRAP ABRT BUS FPE KILL USR1 SEGV USR2 PIPE ALRM TERM)";
            return false;
        }
    } else if (word == "delay") {
        f.kind = Fault::Delay;
        char* end = nullptr;
        f.seconds = strtod(arg.c_str(), &end);
        if (arg.empty() || *end != '\0' || !(f.seconds > 0) || f.seconds > 60) {
            *error = "fault '" + t + "': delay needs seconds, more than 0 and at most 60 (fractions allowed)";
            return false;
        }
    } else if (word == "text") {
        f.kind = Fault::Text;
        // Keep the row as written after "text ", inner blanks included.
        f.text = sp == std::string::npos ? "" : t.substr(t.find_first_not_of(" \t", sp));
    } else {
        if (!arg.empty()) {
            *error = "fault '" + t + "': '" + word + "' takes no argument";
            return false;
        }
        f.kind = word == "empty"       ? Fault::Empty
                 : word == "notable"   ? Fault::NoTable
                 : word == "noend"     ? Fault::NoEnd
                 : word == "overlong"  ? Fault::Overlong
                 : word == "malformed" ? Fault::Malformed
                                       : Fault::Hidden;
    }
    *out = f;
    return true;
}

namespace {

struct Parser {
    std::string path;
    Scenario* sc = nullptr;
    std::string* error = nullptr;
    int line = 0;
    enum { NoBlock, AdapterBlock, NxBlock, Nx2Block } block = NoBlock;
    std::set<std::string> seen;  // keys of the current block
    std::set<std::string> utilityBlocks;
    bool familySet = false, devIdSet = false, macSet = false;

    bool fail(const std::string& what) {
        *error = path + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    // Checks that the adapter block just ended has what every adapter needs.
    bool finishAdapter() {
        if (block != AdapterBlock) return true;
        Adapter& a = sc->adapters.back();
        std::string where = "adapter block at line " + std::to_string(a.line);
        std::string missing;
        if (!familySet) missing += " family";
        if (!devIdSet) missing += " devid";
        if (!macSet) missing += " mac";
        if (!missing.empty()) {
            *error = path + ":" + std::to_string(a.line) + ": " + where + " lacks:" + missing;
            return false;
        }
        for (const auto& kv : a.versions) {
            const ComponentInfo* c = findComponent(kv.first);
            if (!familyHas(a.family, *c)) {
                *error = path + ":" + std::to_string(a.line) + ": " + where + ": " + familyName(a.family) +
                         " adapters have no '" + kv.first + "' firmware";
                return false;
            }
        }
        for (const auto& kv : a.faults) {
            size_t dot = kv.first.find('.');
            if (dot == std::string::npos) continue;
            const ComponentInfo* c = findComponent(kv.first.substr(dot + 1));
            if (!familyHas(a.family, *c)) {
                *error = path + ":" + std::to_string(a.line) + ": " + where + ": fault." + kv.first + ": " +
                         familyName(a.family) + " adapters have no '" + c->key + "' firmware";
                return false;
            }
        }
        for (size_t i = 0; i + 1 < sc->adapters.size(); ++i) {
            if (sc->adapters[i].mac == a.mac) {
                *error = path + ":" + std::to_string(a.line) + ": " + where + ": mac " + a.mac +
                         " is already used by the adapter at line " + std::to_string(sc->adapters[i].line);
                return false;
            }
        }
        return true;
    }

    bool section(const std::string& name) {
        if (!finishAdapter()) return false;
        seen.clear();
        familySet = devIdSet = macSet = false;
        if (name == "adapter") {
            block = AdapterBlock;
            sc->adapters.emplace_back();
            sc->adapters.back().line = line;
        } else if (name == "lnxfwupg" || name == "lnxfwnx2") {
            block = name == "lnxfwupg" ? NxBlock : Nx2Block;
            if (!utilityBlocks.insert(name).second) return fail("block [" + name + "] appears twice");
        } else {
            return fail("unknown block [" + name + "] (expected [adapter], [lnxfwupg] or [lnxfwnx2])");
        }
        return true;
    }

    bool utilityKey(const std::string& key, const std::string& value) {
        UtilitySettings& u = block == NxBlock ? sc->nx : sc->nx2;
        if (key == "version") {
            if (value.empty() || hasSpace(value)) return fail("version must be one word, e.g. version = 7.3.2");
            u.version = value;
        } else if (key == "fault.table") {
            std::string why;
            if (!parseFault("table", value, &u.tableFault, &why)) return fail(why);
        } else {
            return fail("unknown key '" + key + "' in [" + (block == NxBlock ? "lnxfwupg" : "lnxfwnx2") +
                        "] (expected version or fault.table)");
        }
        return true;
    }

    bool adapterKey(const std::string& key, const std::string& value) {
        Adapter& a = sc->adapters.back();
        if (key == "family") {
            std::string v = lower(value);
            if (v == "netxtreme")
                a.family = Family::NetXtreme;
            else if (v == "netxtreme ii" || v == "netxtreme2" || v == "netxtremeii")
                a.family = Family::NetXtremeII;
            else
                return fail("family '" + value + "' is neither NetXtreme nor NetXtreme II");
            familySet = true;
        } else if (key == "devid") {
            if (value.size() != 4 || !isHex(value))
                return fail("devid '" + value + "' is not a PCI device id of four hexadecimal digits, e.g. 1648");
            a.devId = value;
            devIdSet = true;
        } else if (key == "mac") {
            a.mac = normaliseMac(value);
            if (a.mac.empty())
                return fail("mac '" + value + "' is not a MAC address such as 00:10:18:aa:bb:01 or 001018AABB01");
            macSet = true;
        } else if (key == "chip") {
            if (value.empty() || hasSpace(value) || value.find('-') != std::string::npos)
                return fail("chip '" + value + "' must be one word without '-', e.g. chip = 5704 (or chip = none)");
            a.chip = value;
        } else if (key == "5703s") {
            std::string v = lower(value);
            if (v == "yes" || v == "true" || v == "1")
                a.has5703s = true;
            else if (v == "no" || v == "false" || v == "0")
                a.has5703s = false;
            else
                return fail("5703s must be yes or no, not '" + value + "'");
        } else if (key == "bus") {
            if (value.empty() || hasSpace(value)) return fail("bus must be one word, e.g. bus = 02:01.0");
            a.bus = value;
        } else if (key == "name") {
            if (value.empty()) return fail("name must not be empty");
            a.name = value;
        } else if (key == "dirline") {
            a.dirLines.push_back(value);
        } else if (key.compare(0, 6, "fault.") == 0) {
            return faultKey(key.substr(6), value);
        } else if (const ComponentInfo* c = findComponent(key)) {
            if (value.empty() || hasSpace(value) || value.size() > 64)
                return fail("version of " + key + " must be one word of at most 64 characters, e.g. " + key +
                            " = 3.29");
            a.versions[c->key] = value;
        } else {
            return fail("unknown key '" + key +
                        "' in [adapter] (expected family, devid, mac, bc, ipmi, asf, mba, ump, ncsi, ib, chip, 5703s, "
                        "bus, name, dirline or fault.PLACE)");
        }
        return true;
    }

    bool faultKey(const std::string& place, const std::string& value) {
        std::string base = place.substr(0, place.find('.'));
        bool hasComp = place.find('.') != std::string::npos;
        std::string comp = hasComp ? place.substr(place.find('.') + 1) : "";
        std::string norm = place;
        if (base == "upgrade" || base == "cfg") {
            if (hasComp) {
                const ComponentInfo* c = findComponent(comp);
                if (!c)
                    return fail("fault." + place + ": unknown component '" + comp +
                                "' (expected bc, ipmi, asf, mba, ump, ncsi or ib)");
                if (base == "cfg" && !c->management)
                    return fail("fault." + place + ": cfg switches management firmware only (asf, ipmi, ump, ncsi)");
                norm = base + "." + c->key;
            }
        } else if (base == "row" || base == "dir" || base == "crc") {
            if (hasComp) return fail("fault." + place + ": " + base + " takes no component");
        } else {
            return fail("unknown fault place 'fault." + place +
                        "' (expected fault.row, fault.dir, fault.upgrade, "
                        "fault.upgrade.COMPONENT, fault.cfg, fault.cfg.COMPONENT or fault.crc)");
        }
        Fault f;
        std::string why;
        if (!parseFault(norm, value, &f, &why)) return fail(why);
        if (f.kind == Fault::Text && f.text.empty()) return fail("fault." + place + ": text needs the row to print");
        sc->adapters.back().faults[norm] = f;
        return true;
    }

    bool feed(const std::string& raw) {
        ++line;
        std::string l = raw;
        if (!l.empty() && l.back() == '\r') l.pop_back();
        std::string t = trim(l);
        if (t.empty() || t[0] == '#' || t[0] == ';') return true;
        if (t[0] == '[') {
            if (t.back() != ']') return fail("block header '" + t + "' lacks its closing ']'");
            return section(lower(trim(t.substr(1, t.size() - 2))));
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos) return fail("expected 'key = value' or a [block] header, got '" + t + "'");
        std::string key = lower(trim(t.substr(0, eq)));
        // dirline keeps its value's leading blanks: listing columns may matter.
        std::string value = key == "dirline" ? l.substr(l.find('=') + 1) : trim(t.substr(eq + 1));
        if (key == "dirline" && !value.empty() && value[0] == ' ') value.erase(0, 1);
        if (key.empty()) return fail("a key is missing before '='");
        if (block == NoBlock) return fail("'" + key + "' stands outside any block; start with [adapter]");
        if (key != "dirline" && !seen.insert(key).second) return fail("'" + key + "' is set twice in this block");
        if (block == AdapterBlock) return adapterKey(key, value);
        return utilityKey(key, value);
    }
};

}  // namespace

bool parseScenario(const std::string& text, const std::string& path, Scenario* out, std::string* error) {
    Scenario sc;
    sc.path = path;
    Parser p;
    p.path = path;
    p.sc = &sc;
    p.error = error;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
        if (!p.feed(l)) return false;
    if (!p.finishAdapter()) return false;
    *out = std::move(sc);
    return true;
}

bool loadScenario(const std::string& path, Scenario* out, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        *error = "cannot read scenario '" + path + "': " + strerror(errno) +
                 " (write one, see tools/fwsim/README.md, or point FWSIM_CONF at it)";
        return false;
    }
    std::ostringstream s;
    s << f.rdbuf();
    return parseScenario(s.str(), path, out, error);
}

std::string scenarioPath() {
    const char* env = getenv("FWSIM_CONF");
    return env && *env ? env : "fwsim.conf";
}

}  // namespace fwsim
