#include "tools/mkpkg/report.h"

#include <cstdio>
#include <sstream>

#include "tools/mkpkg/errors.h"
#include "pkgformat/pkgdigest.h"
#include "common/banned.h"

namespace mkpkg {

namespace {

std::string hex8(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%08x", v);
    return buf;
}

std::string rawHex(const PkgRawDirectory& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        char b[4];
        std::snprintf(b, sizeof(b), "%02x", raw[i]);
        if (i) out += ' ';
        out += b;
    }
    return out;
}

const char* orderName(ByteOrder order) { return order == ByteOrder::Big ? "big-endian" : "little-endian"; }

std::string lineRole(const BootLine& line, const BootConfig& cfg) {
    switch (line.role) {
    case LineRole::Count: return "count " + std::to_string(cfg.count);
    case LineRole::Clause: return "clause " + std::to_string(line.clause);
    case LineRole::ArgsControl: return std::string("argsControl (") + argsModeName(cfg.argsMode) + ")";
    default: return roleName(line.role);
    }
}

std::string pad(std::string s, size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s;
}

std::string padLeft(const std::string& s, size_t width) {
    return s.size() < width ? std::string(width - s.size(), ' ') + s : s;
}

std::string digestText(const PackageInfo& info) {
    if (!info.layout.consistent) return "not checked (the directory does not fit the file)";
    if (info.digestCheck == DIGEST_NOT_RECORDED)
        return "none recorded (a package of another packer or an older mkpkg): not checked";
    if (info.digestCheck == DIGEST_HOLDS) return "crc32 " + hex8(info.digestRecorded) + " recorded, holds";
    return "FAILS: " + info.digestProblem;
}

}  // namespace

std::string infoText(const PackageInfo& info) {
    std::ostringstream o;
    const PackageLayout& l = info.layout;
    o << "package " << quote(l.path) << ": " << l.fileLength << " bytes\n";
    o << "directory (" << orderName(l.order) << "): " << rawHex(l.raw) << "\n";
    o << "  element                 offset        size\n";
    for (int i = 0; i < PKG_ELEMENTS; ++i) {
        o << "  " << pad(std::to_string(i) + " " + pkgElementNames(i).display, 20)
          << padLeft(std::to_string(l.offsets[static_cast<size_t>(i)]), 10)
          << padLeft(std::to_string(l.sizes[static_cast<size_t>(i)]), 12) << "\n";
    }
    o << "  " << pad("directory", 20) << padLeft(std::to_string(l.directoryOffset), 10) << padLeft("16", 12) << "\n";
    if (l.consistent)
        o << "  consistent: the sizes and the directory add up to the file length\n";
    else
        o << "  NOT consistent: " << l.problem << "\n";
    o << "digest: " << digestText(info) << "\n";
    o << "launcher: " << (info.launcherKind.empty() ? "not an ELF program" : info.launcherKind + " program") << "\n";
    if (info.imageRead) o << "space a run needs in /tmp (or TMPDIR): " << info.spaceNeeded << " bytes\n";

    if (info.imageRead) {
        o << "image: " << info.image.entries.size() << " entries\n";
        o << "        size  compressed  crc       name\n";
        for (const ZipEntry& e : info.image.entries) {
            o << "  " << padLeft(std::to_string(e.size), 10) << padLeft(std::to_string(e.compressedSize), 12) << "  "
              << hex8(e.crc) << "  " << visible(e.name) << "\n";
        }
        if (!info.image.problem.empty()) o << "  damaged: " << info.image.problem << "\n";
    }

    if (info.bootRead) {
        const BootConfig& b = info.boot;
        o << "boot configuration: " << b.lines.size() << " lines\n";
        for (const BootLine& line : b.lines) {
            o << "  " << padLeft(std::to_string(line.number), 3) << "  " << pad(lineRole(line, b), 32) << "  "
              << quote(line.text) << "\n";
        }
        if (b.missingLines > 0) o << "  (" << b.missingLines << " lines missing at the end)\n";
        for (const BootClause& c : b.clauses) {
            o << "clause " << c.index << ": verName " << quote(c.fields.verName) << ", update "
              << quote(c.fields.update) << ", processor " << quote(c.fields.processor) << ", file "
              << quote(c.fields.fileName) << "\n";
        }
        const SystemFit& sys = info.system;
        o << (sys.source == "this system" ? "this system" : "target system (" + sys.source + ")") << ": "
          << sys.description << "\n";
        for (const ClauseFit& c : sys.clauses)
            if (c.examined && !c.fits) o << "  clause " << c.index << " does not fit: " << c.reason << "\n";
        if (info.system.clause >= 0)
            o << "fitting clause: " << info.system.clause << " (file " << quote(info.system.fileName) << ")\n";
        else
            o << "fitting clause: none (the launcher would stop with the OS requirements error)\n";
        o << "arguments:";
        for (const std::string& a : info.args) o << " " << quote(a);
        o << (info.args.empty() ? " none\n" : "\n");
        if (info.commandFits)
            o << "startup command: " << quote(info.command) << "\n";
        else
            o << "startup command: too long, the launcher would refuse it\n";
    }
    for (const Problem& p : info.problems) o << problemLine(p) << "\n";
    return o.str();
}

nlohmann::ordered_json infoJson(const PackageInfo& info) {
    using json = nlohmann::ordered_json;
    const PackageLayout& l = info.layout;
    json j;
    // 2: problems with their severity, clauses with the reason they fit or not, the system's source.
    j["schemaVersion"] = kInfoJsonSchema;
    j["package"] = l.path;
    j["fileLength"] = l.fileLength;
    json dir;
    dir["byteOrder"] = orderName(l.order);
    dir["raw"] = rawHex(l.raw);
    dir["consistent"] = l.consistent;
    if (!l.consistent) dir["problem"] = l.problem;
    dir["offset"] = l.directoryOffset;
    json elements = json::array();
    for (int i = 0; i < PKG_ELEMENTS; ++i) {
        elements.push_back({{"index", i},
                            {"name", pkgElementNames(i).display},
                            {"offset", l.offsets[static_cast<size_t>(i)]},
                            {"size", l.sizes[static_cast<size_t>(i)]}});
    }
    dir["elements"] = elements;
    j["directory"] = dir;
    // holds: null when the package has no record (or its layout is damaged).
    json digest;
    digest["recorded"] = info.digestRecordRead ? json(hex8(info.digestRecorded)) : json(nullptr);
    digest["computed"] = info.digestComputed ? json(hex8(info.digestActual)) : json(nullptr);
    digest["holds"] = !l.consistent || info.digestCheck == DIGEST_NOT_RECORDED ? json(nullptr)
                                                                               : json(info.digestCheck == DIGEST_HOLDS);
    if (info.digestCheck == DIGEST_FAILS) digest["problem"] = info.digestProblem;
    j["digest"] = digest;
    j["launcherProcessor"] = info.launcherKind.empty() ? json(nullptr) : json(info.launcherKind);
    j["spaceNeeded"] = info.imageRead ? json(info.spaceNeeded) : json(nullptr);

    if (info.imageRead) {
        json entries = json::array();
        for (const ZipEntry& e : info.image.entries) {
            entries.push_back({{"name", e.name},
                               {"size", e.size},
                               {"compressedSize", e.compressedSize},
                               {"crc", hex8(e.crc)},
                               {"directory", e.isDir}});
        }
        j["image"] = {{"entries", entries}, {"intact", info.image.problem.empty()}};
    } else {
        j["image"] = nullptr;
    }

    if (info.bootRead) {
        const BootConfig& b = info.boot;
        json lines = json::array();
        for (const BootLine& line : b.lines) {
            json jl = {{"line", line.number}, {"text", line.text}, {"role", roleName(line.role)}};
            if (line.role == LineRole::Clause) jl["clause"] = line.clause;
            if (line.role == LineRole::Count) jl["count"] = b.count;
            if (line.role == LineRole::ArgsControl) jl["mode"] = argsModeName(b.argsMode);
            lines.push_back(jl);
        }
        json clauses = json::array();
        for (const BootClause& c : b.clauses) {
            json jc = {{"index", c.index},
                       {"line", c.line},
                       {"text", c.text},
                       {"verName", c.fields.verName},
                       {"update", c.fields.update},
                       {"processor", c.fields.processor},
                       {"file", c.fields.fileName}};
            for (const ClauseFit& f : info.system.clauses) {
                if (f.index != c.index) continue;
                jc["fits"] = f.fits;
                jc["examined"] = f.examined;
                jc["failedField"] = f.field > 0 ? json(f.field) : json(nullptr);
                jc["reason"] = f.reason;
            }
            clauses.push_back(jc);
        }
        j["bootConfig"] = {{"lines", lines},
                           {"count", b.count},
                           {"clauses", clauses},
                           {"finalStartupConfigFileName", b.finalName},
                           {"startupDir", b.startupDir},
                           {"setupPriorStartup", b.setupPriorStartup},
                           {"startupCmd", b.startupCmd},
                           {"defaultArgs", b.defaultArgs},
                           {"argsControl", b.argsControl},
                           {"argsMode", argsModeName(b.argsMode)},
                           {"missingLines", b.missingLines},
                           {"endsWithLineFeed", b.endsWithLineFeed}};
        const SystemFit& s = info.system;
        // Where the system comes from, the five facts the clauses are matched against, the verdict.
        j["thisSystem"] = {{"source", s.source},
                           {"description", s.description},
                           {"distroName", s.distroName},
                           {"distroLevel", s.distroLevel},
                           {"updateLevel", s.updateLevel},
                           {"kernel", s.kernel},
                           {"processor", s.processor},
                           {"fittingClause", s.clause >= 0 ? json(s.clause) : json(nullptr)},
                           {"file", s.clause >= 0 ? json(s.fileName) : json(nullptr)}};
        j["arguments"] = info.args;
        j["startupCommand"] = info.commandFits ? json(info.command) : json(nullptr);
    }
    json problems = json::array();
    for (const Problem& p : info.problems)
        problems.push_back({{"severity", p.severity == Severity::Error ? "error" : "warning"}, {"text", p.text}});
    j["problems"] = problems;
    return j;
}

}  // namespace mkpkg
