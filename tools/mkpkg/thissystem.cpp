#include "thissystem.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "launcher/console.h"
#include "launcher/os/paths.h"
#include "launcher/osclass.h"
#include "launcher/sysident.h"

namespace mkpkg {

namespace {

void identifyOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    g_OpModeDEBUG = 0;
    // uname's output passes through a temporary file: a tool honours TMPDIR for it.
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp) s_szTempDir = tmp;
    std::vector<char> cwd(PATH_MAX, '\0');
    if (!getcwd(cwd.data(), cwd.size())) cwd[0] = '\0';
    setOsInfoEnvVars(cwd.data());
}

}  // namespace

SystemFit fitThisSystem(const BootConfig& cfg) {
    identifyOnce();
    SystemFit fit;
    char desc[512];
    getOsInfoDesc(desc, sizeof(desc));
    fit.description = desc;
    while (!fit.description.empty() && fit.description.back() == '\n') fit.description.pop_back();
    fit.distroName = s_distroName ? s_distroName : "";
    fit.distroLevel = s_distroLevel;
    fit.updateLevel = s_updateLevel;
    fit.kernel = s_szKernelLevel;
    fit.processor = s_szCPU ? s_szCPU : "";
    for (const BootClause& clause : cfg.clauses) {
        const char* file = matchOsClass(clause.text.c_str());
        if (file) {
            fit.clause = clause.index;
            fit.fileName = file;
            break;
        }
    }
    return fit;
}

}  // namespace mkpkg
