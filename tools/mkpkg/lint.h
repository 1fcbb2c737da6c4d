// A package author's mistakes that the launcher would meet only on a server: each problem one
// line that names the line or entry and says how to fix it.
#pragma once

#include <string>
#include <vector>

#include "tools/mkpkg/bootconfig.h"
#include "tools/mkpkg/zipreader.h"

namespace mkpkg {

enum class Severity { Error, Warning };

struct Problem {
    Severity severity = Severity::Error;
    std::string text;
};

// Everything wrong with a boot configuration (label names it in every line, e.g. "boot
// configuration 'cfg.txt'"): the checks of bootConfigProblems as errors, then, when it parses,
// clause lines that are not four TAB-separated fields, update fields that are not numbers,
// processor fields the matcher does not know, argsControl words it does not know, and with
// image a startup directory and clause files that the image does not hold. A distribution
// that no identification gives is a warning.
std::vector<Problem> lintBootConfig(const BootConfig& cfg, const std::string& label,
                                    const std::vector<ZipEntry>* image);

// Entries with an absolute path or a ".." component: unzipping them writes outside the
// working directory.
std::vector<Problem> lintImage(const std::vector<ZipEntry>& entries, const std::string& label);

constexpr size_t kElfHeadSize = 20;  // up to and including e_machine

// The first kElfHeadSize bytes of path (fewer when it is shorter or unreadable).
std::string fileHead(const std::string& path);

// The directory byte order that a launcher (head: its first bytes; label e.g. "launcher 'x'")
// reads correctly, against bigEndian. The launcher reads the words in its own order and swaps
// them where the processor class is "ppc64": little-endian launchers and ppc64 launchers need a
// little-endian directory, other big-endian ones a big-endian directory. Not an ELF program: a
// warning.
std::vector<Problem> lintLauncherByteOrder(const std::string& label, const std::string& head, bool bigEndian);

// The processor an ELF program is for, as uname -m names it ("i386", "x86_64", "ppc64"), from
// its first bytes; "" when head is no ELF program or names another processor.
std::string elfProcessor(const std::string& head);

// The program the startup command runs (its first word, or the script after sh/bash), resolved
// against startupDir in the image (entries read with verify, so their heads are known):
// missing from the image while it names a relative path, an error, or a warning when a setup
// command could put it there; a script with CR LF line ends, an error; a program for another
// processor than the launcher (launcherHead: its first kElfHeadSize bytes), a warning.
std::vector<Problem> lintStartupProgram(const BootConfig& cfg, const std::string& label,
                                        const std::vector<ZipEntry>& image, const std::string& launcherHead);

// "32-bit x86", "64-bit x86-64"...: class and machine of an ELF head, "" when it is none.
std::string elfKind(const std::string& head);

int errorCount(const std::vector<Problem>& problems);

// "error: ..." / "warning: ..."
std::string problemLine(const Problem& problem);

// The names the launcher's identification can give a distribution, for messages and docs.
extern const char* const kDistributionNames;

}  // namespace mkpkg
