#include "sysfacts.h"

#include "launcher/console.h"
#include "launcher/sysident.h"

size_t takeSystemFacts(const uint8_t* data, size_t size) {
    s_distroName = nullptr;
    s_distroLevel = 0;
    s_updateLevel = 0;
    s_szCPU = nullptr;
    g_OpModeDEBUG = 0;
    if (size < FACTS_SIZE) return 0;
    const char* const distros[] = {nullptr, c_distroName_REDHAT, c_distroName_SUSE, c_distroName_NLD,
                                   c_distroName_UNKNOWN};
    const char* const cpus[] = {nullptr, c_szCPU_I386, c_szCPU_X86_64, c_szCPU_ppc64, c_szCPU_UNKNOWN};
    s_distroName = distros[(data[0] & 0x7F) % 5];
    g_OpModeDEBUG = (data[0] & 0x80) ? 1 : 0;
    s_distroLevel = data[1];
    s_updateLevel = data[2];
    s_szCPU = cpus[data[3] % 5];
    return FACTS_SIZE;
}
