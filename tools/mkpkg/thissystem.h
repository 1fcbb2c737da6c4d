// Which clause of a boot configuration fits a system, decided by the launcher's own
// identification and matching code (pkgformat/sysfacts.h, pkgformat/osclass.h): the system mkpkg runs on, one described
// on the command line, or one whose release files lie under a folder.
#pragma once

#include <string>
#include <vector>

#include "tools/mkpkg/bootconfig.h"
#include "pkgformat/sysfacts.h"

namespace mkpkg {

struct ClauseFit {
    int index = 0;
    bool examined = false;  // false after the first fitting clause: the launcher reads past it
    bool fits = false;
    int field = 0;       // the failing field (1 to 3), 0 when it fits or was not examined
    std::string reason;  // "fits", "field 2 '5': update 4 is below 5", or why it was not examined
};

struct SystemFit {
    std::string source;       // "this system", "--system" or "--system-from DIR"
    std::string description;  // the launcher's one-line description, without its newline
    std::string distroName;
    int distroLevel = 0;
    int updateLevel = 0;
    std::string kernel;
    std::string processor;
    int clause = -1;       // index of the first fitting clause, -1 when none fits
    std::string fileName;  // what the launcher returns for it (field 4)
    std::vector<ClauseFit> clauses;
};

// The system mkpkg runs on, identified once per process as the launcher does it: the release
// files under "/", `uname -r` for the kernel, `uname -i` and where it gives no answer `uname -m`
// for the processor (uname found through PATH). Sets no variable.
SystemFacts thisSystemFacts();

// 'NAME LEVEL UPDATE KERNEL PROCESSOR', blank-separated, e.g. 'RedHat 5 4 2.6.18 x86_64'.
// PROCESSOR is read as `uname -m` prints it (i686 gives i386). Throws UsageError naming the
// field that is wrong.
SystemFacts parseSystemText(const std::string& text);

// Name, level and update from the release files under dir, kernel and processor from this
// system. Throws Error when dir is not a folder.
SystemFacts systemFromRoot(const std::string& dir);

// Matches cfg's clauses in order against facts.
SystemFit fitSystem(const SystemFacts& facts, const BootConfig& cfg, const std::string& source);

}  // namespace mkpkg
