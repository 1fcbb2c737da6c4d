// Which clause of a boot configuration fits the system mkpkg runs on, decided by the launcher's
// own identification and matching code.
#pragma once

#include <string>

#include "bootconfig.h"

namespace mkpkg {

struct SystemFit {
    std::string description;  // the launcher's one-line description, without its newline
    std::string distroName;
    int distroLevel = 0;
    int updateLevel = 0;
    std::string kernel;
    std::string processor;
    int clause = -1;          // index of the first fitting clause, -1 when none fits
    std::string fileName;     // what the launcher returns for it (field 4)
};

// Identifies this system once per process (setOsInfoEnvVars, which also sets the six ZAV_RQ_PKG_*
// variables in this process; debug output off; uname output through $TMPDIR when set) and
// matches cfg's clauses in order.
SystemFit fitThisSystem(const BootConfig& cfg);

}  // namespace mkpkg
