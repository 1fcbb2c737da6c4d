#include "tools/mkpkg/lint.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "tools/mkpkg/errors.h"
#include "pkgformat/decimal.h"
#include "pkgformat/osclass.h"
#include "pkgformat/startcmd.h"
#include "common/banned.h"

namespace mkpkg {

const char* const kDistributionNames =
    "RedHat, SuSE, NLD, Unknown, or the ID of /etc/os-release with a capital first letter (Ubuntu, Debian...)";

namespace {

bool allDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

Problem error(const std::string& text) { return {Severity::Error, text}; }
Problem warning(const std::string& text) { return {Severity::Warning, text}; }

std::string crHint(const std::string& value) {
    return !value.empty() && value.back() == '\r' ? "; the boot configuration has CR LF line ends, save it with LF only"
                                                  : "";
}

int lineOf(const BootConfig& cfg, LineRole role) {
    for (const BootLine& line : cfg.lines)
        if (line.role == role) return line.number;
    return 0;
}

// The pieces a path is made of, "." and empty ones left out.
std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

bool hasDotDot(const std::string& path) {
    for (const std::string& part : components(path))
        if (part == "..") return true;
    return false;
}

bool imageHasFolder(const std::vector<ZipEntry>& image, const std::string& dir) {
    std::string want;
    for (const std::string& part : components(dir)) want += part + "/";
    if (want.empty()) return true;
    for (const ZipEntry& e : image) {
        std::string name;
        for (const std::string& part : components(e.name)) name += part + "/";
        if (name.compare(0, want.size(), want) == 0) return true;
    }
    return false;
}

// The release forms of family as a list: "RHEL3, RHEL4 and RHEL5" (last joined by word).
std::string releaseForms(const ClauseFamily& family, const char* word) {
    std::string list;
    for (int i = 0; i < family.count; ++i) {
        if (i > 0) list += i + 1 == family.count ? std::string(" ") + word + " " : ", ";
        list += family.releases[i].form;
    }
    return list;
}

// Field 1: "*", RHEL or SLES with an optional release the matcher checks.
void lintDistribution(const std::string& where, const std::string& field, std::vector<Problem>* out) {
    if (field == "*") return;
    const struct {
        const ClauseFamily& family;
        const char* system;
    } families[] = {{c_rhelFamily, "Red Hat"}, {c_slesFamily, "SuSE"}};
    for (const auto& f : families) {
        const std::string prefix = f.family.prefix;
        if (field.compare(0, prefix.size(), prefix) != 0) continue;
        std::string release = field.substr(prefix.size());
        if (release.empty()) return;
        if (!allDigits(release)) {
            out->push_back(error(where + " release " + quote(release) + " in " + quote(field) +
                                 " is not a number; write " + releaseForms(f.family, "or") + ", or " + prefix +
                                 " alone for any release"));
            return;
        }
        for (int i = 0; i < f.family.count; ++i)
            if (field == f.family.releases[i].form) return;
        out->push_back(warning(where + " " + quote(field) + " checks no release: the launcher tells apart only " +
                               releaseForms(f.family, "and") + ", so this clause fits every " + f.system +
                               " release; write " + prefix + " to say so"));
        return;
    }
    out->push_back(warning(where + " distribution " + quote(field) +
                           " is none the launcher tells apart: it never fits RedHat, SuSE or NLD systems and fits "
                           "every other one (field 1 is not examined there); the launcher reports " +
                           kDistributionNames + "; write RHEL, RHEL3-5, SLES, SLES9, SLES10 or *"));
}

// "*", a word the matcher tests or ppc64 (a processor class it admits through x64).
bool clauseProcessorWord(const std::string& word) {
    if (word == "*" || word == c_szCPU_ppc64) return true;
    for (const ClauseProcessor& p : c_clauseProcessors)
        if (word == p.word) return true;
    return false;
}

bool knownProcessor(const std::string& field) {
    size_t start = 0;
    bool any = false;
    while (start <= field.size()) {
        size_t end = field.find_first_of(",/+ ", start);
        std::string word = field.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!clauseProcessorWord(word)) return false;
        any = true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return any;
}

void lintClause(const BootClause& clause, const std::string& label, std::vector<Problem>* out) {
    const std::string& t = clause.text;
    std::string where =
        label + ": clause " + std::to_string(clause.index) + " (line " + std::to_string(clause.line) + ")";
    size_t t1 = t.find('\t');
    size_t t2 = t1 == std::string::npos ? t1 : t.find('\t', t1 + 1);
    size_t t3 = t2 == std::string::npos ? t2 : t.find('\t', t2 + 1);
    if (t3 == std::string::npos || t1 == 0 || t2 == t1 + 1 || t3 == t2 + 1) {
        size_t tabs = 0;
        for (char c : t) tabs += c == '\t';
        out->push_back(error(where + " " + quote(t) +
                             " is not four TAB-separated fields (distribution, update level, "
                             "processor, file name): it has " +
                             std::to_string(tabs) + " TAB" + (tabs == 1 ? "" : "s") +
                             (t.find(' ') != std::string::npos ? " (blanks do not separate fields)" : "") +
                             "; separate the fields with one TAB each"));
        return;
    }
    if (t[0] == '*' && t1 != 1) {
        out->push_back(error(where + " field 1 " + quote(t.substr(0, t1)) +
                             " begins with '*': the launcher takes the '*' alone as field 1 and reads the rest as "
                             "the next field; write '*' alone or a distribution"));
        return;
    }
    const ClauseFields& f = clause.fields;
    lintDistribution(where, f.verName, out);
    if (f.update != "*" && !allDigits(f.update))
        out->push_back(error(where + " update level " + quote(f.update) +
                             " is not a number (the launcher reads it as " +
                             std::to_string(readDecimal(f.update.c_str())) +
                             "); write the lowest update level in digits, or * for any"));
    if (!knownProcessor(f.processor))
        out->push_back(error(where + " processor " + quote(f.processor) +
                             " is not one the launcher matches; write x86 (i386 and x86_64 systems), x64 (x86_64 "
                             "and ppc64), ppc64 or *"));
    else if (f.processor.find("ppc64") != std::string::npos && f.processor.find("x86") == std::string::npos &&
             f.processor.find("x64") == std::string::npos)
        out->push_back(warning(where + " processor " + quote(f.processor) +
                               " sets no requirement: the launcher tests only x86 and x64, so this clause fits every "
                               "processor; write x64 to leave out 32-bit systems"));
}

}  // namespace

std::vector<Problem> lintBootConfig(const BootConfig& cfg, const std::string& label,
                                    const std::vector<ZipEntry>* image) {
    std::vector<Problem> problems;
    for (const std::string& p : bootConfigProblems(cfg, label, image)) problems.push_back(error(p));
    // The remaining checks need the lines in their places.
    if (cfg.lines.empty() || cfg.count <= 0 || cfg.missingLines > 0 || countMismatch(cfg)) return problems;

    for (const BootClause& clause : cfg.clauses) lintClause(clause, label, &problems);

    const std::string& ac = cfg.argsControl;
    if (!ac.empty() && !knownArgsControl(ac.c_str()))
        problems.push_back(error(label + ": argsControl (line " + std::to_string(lineOf(cfg, LineRole::ArgsControl)) +
                                 ") " + quote(ac) +
                                 " begins with no known word, so the launcher appends the user's arguments; begin "
                                 "the line with append, prepend, override or discard"));

    const std::string& dir = cfg.startupDir;
    std::string dirWhere =
        label + ": startupDir (line " + std::to_string(lineOf(cfg, LineRole::StartupDir)) + ") " + quote(dir);
    if (!dir.empty() && (dir[0] == '/' || hasDotDot(dir))) {
        problems.push_back(error(dirWhere + " leads out of the unpacked image, so the startup command runs on "
                                            "whatever the server has there; name a folder inside the image"));
    } else if (!dir.empty() && image && !imageHasFolder(*image, dir)) {
        std::string hint = crHint(dir);
        problems.push_back(error(dirWhere +
                                 " is not a folder in the image, so the launcher's cd fails and the "
                                 "startup command runs in the working directory" +
                                 (hint.empty() ? "; add the folder to the content or fix the line" : hint)));
    }
    return problems;
}

std::vector<Problem> lintImage(const std::vector<ZipEntry>& entries, const std::string& label) {
    std::vector<Problem> problems;
    for (const ZipEntry& e : entries) {
        if (!e.name.empty() && (e.name[0] == '/' || e.name[0] == '\\'))
            problems.push_back(error(label + ": entry " + quote(e.name) +
                                     " has an absolute path, so unzipping writes outside the working directory; "
                                     "rebuild the zip with paths relative to the content folder"));
        else if (hasDotDot(e.name))
            problems.push_back(error(label + ": entry " + quote(e.name) +
                                     " has a '..' component, so unzipping writes outside the working directory; "
                                     "rebuild the zip with paths inside the content folder"));
    }
    return problems;
}

std::string fileHead(const std::string& path) {
    char h[kElfHeadSize] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(h, sizeof(h));
    return std::string(h, static_cast<size_t>(in.gcount()));
}

std::vector<Problem> lintLauncherByteOrder(const std::string& label, const std::string& head, bool bigEndian) {
    std::vector<Problem> problems;
    const unsigned char* h = reinterpret_cast<const unsigned char*>(head.data());
    bool elf = head.size() >= kElfHeadSize &&
               head.compare(0, 4,
                            "\x7f"
                            "ELF") == 0 &&
               (h[5] == 1 || h[5] == 2);
    if (!elf) {
        problems.push_back(
            warning(label + " is not an ELF program, so the byte order of its directory cannot be checked"));
        return problems;
    }
    bool launcherBig = h[5] == 2;
    unsigned machine = launcherBig ? (h[18] << 8 | h[19]) : (h[19] << 8 | h[18]);
    const unsigned kPpc64 = 21;
    bool wantBig = launcherBig && machine != kPpc64;
    if (bigEndian == wantBig) return problems;
    std::string what = !launcherBig ? "is a little-endian program, which reads the directory little-endian"
                       : wantBig    ? "is a big-endian program for a processor whose class is not ppc64, which reads "
                                      "the directory as stored"
                                    : "is a ppc64 program, which swaps the directory words it reads, so the directory "
                                      "must be little-endian";
    problems.push_back(error(label + " " + what + "; build " + (bigEndian ? "without" : "with") + " --big-endian"));
    return problems;
}

std::string elfProcessor(const std::string& head) {
    const unsigned char* h = reinterpret_cast<const unsigned char*>(head.data());
    if (head.size() < kElfHeadSize ||
        head.compare(0, 4,
                     "\x7f"
                     "ELF") != 0 ||
        (h[5] != 1 && h[5] != 2))
        return "";
    unsigned machine = h[5] == 2 ? (h[18] << 8 | h[19]) : (h[19] << 8 | h[18]);
    switch (machine) {
    case 3: return "i386";
    case 62: return "x86_64";
    case 21: return "ppc64";
    default: return "";
    }
}

namespace {

// dir/name with "." and ".." resolved; "" when it leads out of the image.
std::string resolveInImage(const std::string& dir, const std::string& name) {
    std::vector<std::string> parts;
    for (const std::string& c : components(dir + "/" + name)) {
        if (c.empty() || c == ".") continue;
        if (c == "..") {
            if (parts.empty()) return "";
            parts.pop_back();
            continue;
        }
        parts.push_back(c);
    }
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != ';') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
        if (i < line.size() && line[i] == ';') break;
    }
    return out;
}

}  // namespace

std::string elfKind(const std::string& head) {
    if (head.size() < kElfHeadSize || head.compare(0, 4,
                                                   "\x7f"
                                                   "ELF") != 0)
        return "";
    const bool little = head[5] == 1;
    unsigned lo = static_cast<unsigned char>(head[18]), hi = static_cast<unsigned char>(head[19]);
    unsigned machine = little ? lo | hi << 8 : hi | lo << 8;
    std::string bits = head[4] == 2 ? "64-bit" : head[4] == 1 ? "32-bit" : "?-bit";
    switch (machine) {
    case 3: return bits + " x86";
    case 62: return bits + " x86-64";
    case 21: return bits + " PowerPC64";
    case 20: return bits + " PowerPC";
    default: return bits + " machine " + std::to_string(machine);
    }
}

namespace {}  // namespace

std::vector<Problem> lintStartupProgram(const BootConfig& cfg, const std::string& label,
                                        const std::vector<ZipEntry>& image, const std::string& launcherHead) {
    std::vector<Problem> problems;
    std::vector<std::string> w = words(cfg.startupCmd);
    if (w.empty()) return problems;
    std::string prog = w[0];
    bool viaShell =
        (prog == "sh" || prog == "bash" || prog == "/bin/sh" || prog == "/bin/bash") && w.size() > 1 && w[1][0] != '-';
    if (viaShell) prog = w[1];
    // A bare name is looked up in PATH, an absolute one on the server: only paths in the image.
    if (prog[0] == '/' || (!viaShell && prog.find('/') == std::string::npos)) return problems;
    std::string where = label + ": the startup command (line " + std::to_string(lineOf(cfg, LineRole::StartupCmd)) +
                        ") runs " + quote(prog);
    std::string path = resolveInImage(cfg.startupDir, prog);
    const ZipEntry* entry = nullptr;
    for (const ZipEntry& e : image)
        if (!e.isDir && !path.empty() && e.name == path) entry = &e;
    if (entry == nullptr) {
        std::string inDir = " from startupDir " + quote(cfg.startupDir) + ", which is not in the image";
        if (!cfg.setupPriorStartup.empty())
            problems.push_back(warning(where + inDir +
                                       "; the setup command must put it there, or the shell says "
                                       "'not found' (exit 127)"));
        else
            problems.push_back(error(where + inDir +
                                     ", so the shell says 'not found' (exit 127); add it to the "
                                     "content or fix the command"));
        return problems;
    }
    const std::string& head = entry->head;
    if (head.compare(0, 2, "#!") == 0 || viaShell) {
        size_t eol = head.find('\n');
        if (eol != std::string::npos && eol > 0 && head[eol - 1] == '\r')
            problems.push_back(error(where +
                                     ", a script with CR LF line ends: the shell reads each line with a "
                                     "carriage return at its end (\"" +
                                     prog +
                                     ": not found\"); save it with "
                                     "LF line ends"));
        return problems;
    }
    std::string kind = elfKind(head), launcherKind = elfKind(launcherHead);
    if (!kind.empty() && !launcherKind.empty() && kind != launcherKind)
        problems.push_back(warning(where + ", a " + kind + " program, but the launcher is a " + launcherKind +
                                   " one: where the kernel runs only the launcher's kind it fails with 'Exec format "
                                   "error' (exit 126); pack the program built for the launcher's processor"));
    return problems;
}

int errorCount(const std::vector<Problem>& problems) {
    int n = 0;
    for (const Problem& p : problems) n += p.severity == Severity::Error;
    return n;
}

std::string problemLine(const Problem& problem) {
    return (problem.severity == Severity::Error ? "error: " : "warning: ") + problem.text;
}

}  // namespace mkpkg
