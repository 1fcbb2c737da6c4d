#include "tools/fwsim/utility.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include <strings.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <ostream>
#include <set>

#include "tools/fwsim/image.h"
#include "tools/fwsim/listing.h"
#include "tools/fwsim/state.h"
#include "common/banned.h"

namespace fwsim {

namespace {

// A delay fault's pause; a signal caught meanwhile does not shorten it.
void delayFor(const Fault& f) {
    if (f.kind != Fault::Delay) return;
    struct timespec left;
    left.tv_sec = static_cast<time_t>(f.seconds);
    left.tv_nsec = static_cast<long>((f.seconds - static_cast<double>(left.tv_sec)) * 1e9);
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// Everything one run needs: the scenario as written, the state, and the two put together.
struct Run {
    Family family;
    const UtilityIo& io;
    std::string name;  // "lnxfwupg" or "lnxfwnx2"
    Scenario base;
    State state;
    std::string statePath;
    Scenario now;  // base with the state applied

    std::ostream& out() { return *io.out; }
    std::ostream& err() { return *io.err; }

    UtilityResult fail(int status, const std::string& message) {
        err() << name << ": " << message << "\n";
        return {status, 0};
    }

    const Adapter* find(const std::string& mac, const Scenario& sc) const {
        for (const Adapter& a : sc.adapters)
            if (a.family == family && a.mac == mac) return &a;
        return nullptr;
    }

    // The fault at "cmd.comp", else at "cmd"; kind None when neither is set.
    Fault faultFor(const Adapter& a, const std::string& cmd, const std::string& comp = "") const {
        auto f = comp.empty() ? a.faults.end() : a.faults.find(cmd + "." + comp);
        if (f == a.faults.end()) f = a.faults.find(cmd);
        return f == a.faults.end() ? Fault() : f->second;
    }

    std::string who(const Adapter& a) const {
        return "adapter " + std::to_string(adapterIndex(now, a)) + " (" + macWithColons(a.mac) + ")";
    }

    std::string regionName(const ComponentInfo& c) const {
        return family == Family::NetXtreme ? c.nxRegion : c.nx2Region;
    }

    bool save(std::string* error) { return saveState(statePath, state, error); }
};

void trace(const std::string& path, const std::string& name, const std::vector<std::string>& args) {
    if (path.empty()) return;
    std::string line = name;
    for (const auto& a : args) line += " " + a;
    line += "\n";
    // O_APPEND keeps lines whole when several runs share one trace file.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    ssize_t w = write(fd, line.data(), line.size());
    (void)w;
    close(fd);
}

uint32_t crc32(const std::string& text) {
    uint32_t crc = 0xffffffffu;
    for (unsigned char ch : text) {
        crc ^= ch;
        for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string hex8(uint32_t v) {
    char buf[16];
    snprintf(buf, sizeof(buf), "0x%08x", v);
    return buf;
}

std::string trimLine(std::string s) {
    while (!s.empty() && isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    size_t b = 0;
    while (b < s.size() && isspace(static_cast<unsigned char>(s[b]))) ++b;
    return s.substr(b);
}

// Both utility names have eight letters, so the columns line up.
const char c_usage[] =
    "usage: %1$s                       list the adapters, then read commands (q quits)\n"
    "       %1$s MAC dir               show the NVRAM directory of an adapter\n"
    "       %1$s MAC upgrade [-noreset] [-F] -COMP IMAGE [SAVE]\n"
    "                                      write IMAGE into component COMP, the old one to SAVE\n"
    "       %1$s MAC cfg -COMP 0|1     switch management firmware off (0) or on (1)\n"
    "       %1$s MAC crc               check the NVRAM CRCs (asks for y)\n";

UtilityResult usage(Run& r, const std::string& what) {
    char buf[1024];
    snprintf(buf, sizeof(buf), c_usage, r.name.c_str());
    r.err() << r.name << ": " << what << "\n" << buf;
    return {2, 0};
}

UtilityResult interactive(Run& r) {
    const UtilitySettings& u = r.family == Family::NetXtreme ? r.now.nx : r.now.nx2;
    const Fault& f = u.tableFault;
    if (f.kind == Fault::Empty) return {0, 0};
    delayFor(f);
    r.out() << banner(r.now, r.family);
    if (f.kind == Fault::Signal) return {0, f.number};
    if (f.kind == Fault::NoTable) {
        r.out() << "Error: cannot reach the " << familyName(r.family) << " driver; no adapters can be listed.\n\n";
    } else {
        r.out() << adapterTable(r.now, r.family);
    }
    if (f.kind == Fault::NoEnd) return {0, 0};
    r.out() << prompt(r.family) << std::flush;

    std::string line;
    while (std::getline(*r.io.in, line)) {
        std::string cmd = trimLine(line);
        if (cmd == "q" || cmd == "Q" || cmd == "quit" || cmd == "Quit" || cmd == "exit") break;
        if (cmd == "help" || cmd == "?") {
            r.out() << "\nCommands: list (the adapter table again), help, q (leave). Adapter commands run\n"
                       "from the command line: "
                    << r.name << " MAC dir | upgrade | cfg | crc\n";
        } else if (cmd == "list") {
            r.out() << "\n" << adapterTable(r.now, r.family);
        } else if (!cmd.empty()) {
            r.out() << "\nUnknown command '" << cmd << "'; type help for the commands.\n";
        }
        r.out() << prompt(r.family) << std::flush;
    }
    return {f.kind == Fault::Exit ? f.number : 0, 0};
}

UtilityResult dir(Run& r, const Adapter& a) {
    Fault f = r.faultFor(a, "dir");
    delayFor(f);
    if (f.kind == Fault::Signal) return {0, f.number};
    if (f.kind == Fault::Empty) return {0, 0};
    r.out() << banner(r.now, r.family) << dirListing(a);
    return {f.kind == Fault::Exit ? f.number : 0, 0};
}

UtilityResult upgrade(Run& r, const Adapter& a, const std::vector<std::string>& args) {
    bool noreset = false, force = false;
    const ComponentInfo* comp = nullptr;
    std::vector<std::string> files;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& w = args[i];
        if (w == "-noreset") {
            noreset = true;
        } else if (w == "-F") {
            force = true;
        } else if (w.size() > 1 && w[0] == '-') {
            const ComponentInfo* c = findComponent(w.substr(1));
            if (!c || w.substr(1) != c->key) return usage(r, "unknown upgrade option '" + w + "'");
            if (comp) return usage(r, "upgrade takes one component, got -" + std::string(comp->key) + " and " + w);
            comp = c;
        } else {
            files.push_back(w);
        }
    }
    if (!comp) return usage(r, "upgrade needs a component option (-bc, -ipmi, -asf, -mba, -ump, -ncsi or -ib)");
    if (files.empty() || files.size() > 2) return usage(r, "upgrade needs an image file and at most one save file");
    if (!familyHas(r.family, *comp))
        return r.fail(
            2, std::string(familyName(r.family)) + " adapters have no " + comp->key + " firmware (-" + comp->key + ")");

    auto cur = a.versions.find(comp->key);
    if (cur == a.versions.end()) return r.fail(1, r.who(a) + " has no " + r.regionName(*comp) + " firmware to upgrade");

    Image img;
    std::string error;
    if (!readImage(files[0], &img, &error)) return r.fail(1, error + "; nothing was written");
    if (img.component != comp->key)
        return r.fail(1, "image '" + files[0] + "' holds " + img.component + " firmware, not " + comp->key +
                             "; nothing was written");
    if (!img.devId.empty() && strcasecmp(img.devId.c_str(), a.devId.c_str()) != 0)
        return r.fail(1, "image '" + files[0] + "' is made for device " + img.devId + ", " + r.who(a) + " is device " +
                             a.devId + "; nothing was written");

    r.out() << banner(r.now, r.family);
    r.out() << "Upgrading " << r.regionName(*comp) << " of " << r.who(a) << " from " << cur->second << " to "
            << img.version << " with " << files[0] << "\n";
    if (!force && img.version == cur->second) {
        r.out() << "The adapter already runs version " << img.version << "; nothing written (-F writes it anyway).\n";
        return {0, 0};
    }
    if (files.size() == 2) {
        FILE* bak = fopen(files[1].c_str(), "w");
        std::string text = formatImage({comp->key, cur->second, a.devId},
                                       "saved by " + r.name + " from " + r.who(a) + " before an upgrade");
        if (!bak || fwrite(text.data(), 1, text.size(), bak) != text.size() || fclose(bak) != 0) {
            if (bak) fclose(bak);
            return r.fail(1, "cannot write the save file '" + files[1] + "'; nothing was written");
        }
        r.out() << "Saving the current image to " << files[1] << " ... done\n";
    }
    unsigned bytes = 0x4000;
    r.out() << "Writing " << bytes << " bytes to NVRAM ... " << std::flush;
    Fault f = r.faultFor(a, "upgrade", comp->key);
    if (f.kind == Fault::Signal) return {0, f.number};
    if (f.kind == Fault::Exit) {
        r.out() << "failed (NVRAM write error at offset 0x00000200)\n"
                << "Upgrade failed; " << r.who(a) << " keeps " << r.regionName(*comp) << " " << cur->second << ".\n";
        return {f.number, 0};
    }
    if (f.kind == Fault::Delay) {
        // The write takes a while: until it ends the component holds neither version.
        r.state.versions[a.mac][comp->key] = "WRITING";
        if (!r.save(&error)) return r.fail(1, error);
        delayFor(f);
    }
    r.state.versions[a.mac][comp->key] = img.version;
    if (!r.save(&error)) {
        r.out() << "failed\n";
        return r.fail(1, error);
    }
    r.out() << "done\nVerifying ... done\n";
    if (noreset)
        r.out() << "Upgrade successful; the new firmware runs after the next reset.\n";
    else
        r.out() << "Resetting the adapter ... done\nUpgrade successful.\n";
    return {0, 0};
}

UtilityResult cfg(Run& r, const Adapter& a, const std::vector<std::string>& args) {
    if (args.size() != 4 || args[2].size() < 2 || args[2][0] != '-')
        return usage(r, "cfg needs one setting and its value, e.g. cfg -asf 0");
    const ComponentInfo* c = findComponent(args[2].substr(1));
    if (!c || args[2].substr(1) != c->key || !c->management)
        return usage(r, "unknown cfg setting '" + args[2] + "' (expected -asf, -ipmi, -ump or -ncsi)");
    if (!familyHas(r.family, *c))
        return r.fail(
            2, std::string(familyName(r.family)) + " adapters have no " + c->key + " firmware (" + args[2] + ")");
    if (args[3] != "0" && args[3] != "1")
        return usage(r, "cfg " + args[2] + " takes 0 (off) or 1 (on), not '" + args[3] + "'");

    const Adapter* base = r.find(a.mac, r.base);
    std::string label = r.regionName(*c) + " firmware";
    if (!base->versions.count(c->key)) return r.fail(1, r.who(a) + " has no " + label);

    Fault f = r.faultFor(a, "cfg", c->key);
    delayFor(f);
    if (f.kind == Fault::Signal) return {0, f.number};
    r.out() << banner(r.now, r.family);
    if (f.kind == Fault::Exit) {
        r.out() << "Error: writing the configuration of " << r.who(a) << " failed; " << label << " unchanged.\n";
        return {f.number, 0};
    }
    bool off = args[3] == "0";
    std::set<std::string>& disabled = r.state.disabled[a.mac];
    if (off == (disabled.count(c->key) != 0)) {
        r.out() << label << " of " << r.who(a) << " is already " << (off ? "disabled" : "enabled") << ".\n";
        return {0, 0};
    }
    if (off)
        disabled.insert(c->key);
    else
        disabled.erase(c->key);
    if (disabled.empty()) r.state.disabled.erase(a.mac);
    std::string error;
    if (!r.save(&error)) return r.fail(1, error);
    r.out() << label << (off ? " disabled" : " enabled") << " on " << r.who(a) << ".\n";
    return {0, 0};
}

UtilityResult crc(Run& r, const Adapter& a, const std::vector<std::string>& args) {
    if (args.size() != 2) return usage(r, "crc takes no options");
    r.out() << banner(r.now, r.family);
    r.out() << "Check the CRC of every NVRAM region of " << r.who(a) << "? (y/n) " << std::flush;
    std::string answer;
    bool got = static_cast<bool>(std::getline(*r.io.in, answer));
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    r.out() << "\n";
    if (!got || answer != "y") {
        r.out() << "CRC check not confirmed; nothing was checked.\n";
        return {1, 0};
    }
    Fault f = r.faultFor(a, "crc");
    delayFor(f);
    if (f.kind == Fault::Signal) return {0, f.number};
    bool first = true;
    for (const ComponentInfo& c : components()) {
        auto v = a.versions.find(c.key);
        if (v == a.versions.end() || !familyHas(r.family, c)) continue;
        uint32_t sum = crc32(a.mac + c.key + v->second);
        r.out() << "  " << std::string(r.regionName(c)) << std::string(12 - r.regionName(c).size(), ' ') << "crc32 "
                << hex8(sum);
        if (f.kind == Fault::Exit && first)
            r.out() << "  MISMATCH (stored " << hex8(sum ^ 0x5a5a5a5au) << ")\n";
        else
            r.out() << "  ok\n";
        first = false;
    }
    if (f.kind == Fault::Exit) {
        r.out() << "CRC check failed.\n";
        return {f.number, 0};
    }
    r.out() << "CRC check passed.\n";
    return {0, 0};
}

}  // namespace

UtilityResult runUtility(Family family, const std::vector<std::string>& args, const UtilityIo& io) {
    Run r{family, io, utilityName(family), {}, {}, {}, {}};
    trace(io.tracePath, r.name, args);

    std::string error;
    if (!loadScenario(io.scenarioPath, &r.base, &error)) return r.fail(3, error);
    r.statePath = statePath(io.scenarioPath);
    if (!loadState(r.statePath, &r.state, &error)) return r.fail(3, error);
    r.now = r.base;
    applyState(r.state, &r.now);

    if (args.empty()) return interactive(r);
    if (args.size() < 2) return usage(r, "a command must follow the MAC address");
    std::string mac = normaliseMac(args[0]);
    if (mac.empty()) return usage(r, "'" + args[0] + "' is not a MAC address (e.g. 001018AABB01)");
    const Adapter* a = r.find(mac, r.now);
    if (!a)
        return r.fail(1, "no " + std::string(familyName(family)) + " adapter has MAC address " + args[0] + "; run " +
                             r.name + " without arguments to list them");
    const std::string& cmd = args[1];
    if (cmd == "dir") {
        if (args.size() != 2) return usage(r, "dir takes no options");
        return dir(r, *a);
    }
    if (cmd == "upgrade") return upgrade(r, *a, args);
    if (cmd == "cfg") return cfg(r, *a, args);
    if (cmd == "crc") return crc(r, *a, args);
    return usage(r, "unknown command '" + cmd + "'");
}

}  // namespace fwsim
