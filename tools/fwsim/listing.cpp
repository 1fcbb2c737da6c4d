#include "tools/fwsim/listing.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/banned.h"

namespace fwsim {

namespace {

// Region sizes in NVRAM, per component key; offsets follow from the order.
unsigned regionLength(const std::string& key) {
    if (key == "bc") return 0x3c00;
    if (key == "ipmi") return 0xc000;
    if (key == "asf") return 0x8000;
    if (key == "mba") return 0x10000;
    if (key == "ump") return 0x6000;
    if (key == "ncsi") return 0x8000;
    return 0x20000;  // ib
}

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(buf, sizeof(buf), format, ap);
    va_end(ap);
    if (n < 0) return "";
    if (static_cast<size_t>(n) < sizeof(buf)) return std::string(buf, static_cast<size_t>(n));
    // Long scenario texts (names, versions) are rare; format again into a buffer that fits.
    std::string big(static_cast<size_t>(n) + 1, '\0');
    va_start(ap, format);
    vsnprintf(&big[0], big.size(), format, ap);
    va_end(ap);
    big.pop_back();
    return big;
}

const char* c_defaultVersion[] = {"7.3.2", "3.8.19"};

}  // namespace

std::string macWithColons(const std::string& mac) {
    std::string out;
    for (size_t i = 0; i < mac.size(); ++i) {
        if (i && i % 2 == 0) out += ':';
        out += mac[i];
    }
    return out;
}

std::string chipOfDevId(const std::string& devId) {
    static const struct {
        unsigned id;
        const char* chip;
    } table[] = {
        {0x1600, "5752"},  {0x1639, "5709"},  {0x163A, "5709s"}, {0x1644, "5700"},  {0x1648, "5704"},
        {0x164A, "5706"},  {0x164C, "5708"},  {0x164E, "57710"}, {0x1659, "5721"},  {0x165A, "5722"},
        {0x1669, "5714s"}, {0x166A, "5780"},  {0x166B, "5780s"}, {0x1678, "5715"},  {0x1679, "5715s"},
        {0x16A6, "5702"},  {0x16A8, "5704s"}, {0x16AA, "5706s"}, {0x16AC, "5708s"},
    };
    unsigned long id = strtoul(devId.c_str(), nullptr, 16);
    for (const auto& e : table)
        if (e.id == id) return e.chip;
    return "";
}

int adapterIndex(const Scenario& scenario, const Adapter& adapter) {
    int index = 0;
    for (const Adapter& a : scenario.adapters) {
        if (a.family != adapter.family) continue;
        ++index;
        if (&a == &adapter || a.mac == adapter.mac) return index;
    }
    return index;
}

std::string banner(const Scenario& scenario, Family family) {
    const UtilitySettings& u = family == Family::NetXtreme ? scenario.nx : scenario.nx2;
    std::string version = u.version.empty() ? c_defaultVersion[family == Family::NetXtreme ? 0 : 1] : u.version;
    return fmt("Broadcom %s Firmware Upgrade Utility for Linux, v%s (simulated by fwsim)\n\n", familyName(family),
               version.c_str());
}

std::string adapterTable(const Scenario& scenario, Family family) {
    std::string out;
    out += " C  Dev   MAC           Bus      Description\n";
    out += "--  ----  ------------  -------  ----------------------------------------\n";
    int index = 0;
    for (const Adapter& a : scenario.adapters) {
        if (a.family != family) continue;
        ++index;
        auto f = a.faults.find("row");
        Fault::Kind kind = f == a.faults.end() ? Fault::None : f->second.kind;
        if (kind == Fault::Hidden) continue;
        if (kind == Fault::Text) {
            out += f->second.text + "\n";
            continue;
        }
        if (kind == Fault::Malformed) {
            out += fmt("%2d  %-4s\n", index, a.devId.c_str());
            continue;
        }
        std::string bus = a.bus.empty() ? fmt("%02x:00.0", index + 1) : a.bus;
        std::string name =
            a.name.empty() ? std::string("Broadcom ") + familyName(family) + " Gigabit Ethernet" : a.name;
        std::string row =
            fmt("%2d  %-4s  %-12s  %-7s  %s", index, a.devId.c_str(), a.mac.c_str(), bus.c_str(), name.c_str());
        // A long description of dots: the part past the update tool's 254-character pieces is one word.
        if (kind == Fault::Overlong) row += " " + std::string(300 - std::min<size_t>(row.size(), 200), '.');
        out += row + "\n";
    }
    out += "\n";
    return out;
}

std::string prompt(Family family) {
    return family == Family::NetXtreme ? "0> " : "Commands: dir  upgrade  cfg  crc  help  Quit\n> ";
}

std::string dirListing(const Adapter& a) {
    auto f = a.faults.find("dir");
    Fault::Kind kind = f == a.faults.end() ? Fault::None : f->second.kind;
    if (kind == Fault::Empty) return "";

    std::string out = fmt("Adapter %s, device %s\n", macWithColons(a.mac).c_str(), a.devId.c_str());
    if (a.has5703s) out += "Controller 5703s\n";
    out += "\nNVRAM directory:\n";
    out += " Idx  Region      Offset      Length      State  Image\n";
    out += " ---  ----------  ----------  ----------  -----  ----------------\n";
    unsigned offset = 0x200;
    int idx = 0;
    for (const ComponentInfo& c : components()) {
        auto v = a.versions.find(c.key);
        if (v == a.versions.end() || !familyHas(a.family, c)) continue;
        const char* region = a.family == Family::NetXtreme ? c.nxRegion : c.nx2Region;
        std::string image = v->second;
        if (a.family == Family::NetXtreme && std::string(c.key) == "bc") {
            std::string chip = a.chip.empty() ? chipOfDevId(a.devId) : a.chip == "none" ? "" : a.chip;
            image = (chip.empty() ? "" : chip + "-") + "v" + v->second;
        } else if (a.family == Family::NetXtreme && std::string(c.key) == "mba") {
            image = "v" + v->second;
        }
        unsigned length = regionLength(c.key);
        std::string line = fmt("%4d  %-10s  0x%08x  0x%08x  valid  %s", idx++, region, offset, length, image.c_str());
        if (kind == Fault::Overlong) line += "  " + std::string(300, '.');
        out += line + "\n";
        offset += length;
    }
    for (const std::string& l : a.dirLines) out += l + "\n";
    return out;
}

}  // namespace fwsim
