#include "tests/fuzz/sysfacts.h"

#include <cstdio>

#include "launcher/sysident.h"

size_t takeSystemFacts(LauncherContext* ctx, const uint8_t* data, size_t size) {
    initContext(ctx, "/tmp");
    if (size < FACTS_SIZE) return 0;
    const char* const distros[] = {nullptr, c_distroName_REDHAT, c_distroName_SUSE, c_distroName_NLD,
                                   c_distroName_UNKNOWN};
    const char* const cpus[] = {nullptr, c_szCPU_I386, c_szCPU_X86_64, c_szCPU_ppc64, c_szCPU_UNKNOWN};
    const char* distro = distros[(data[0] & 0x7F) % 5];
    const char* cpu = cpus[data[3] % 5];
    SystemFacts* sys = &ctx->system;
    ctx->distroKnown = distro != nullptr;
    if (distro) snprintf(sys->name, sizeof(sys->name), "%s", distro);
    ctx->debug = (data[0] & 0x80) ? 1 : 0;
    sys->level = data[1];
    sys->update = data[2];
    ctx->processorKnown = cpu != nullptr;
    if (cpu) snprintf(sys->processor, sizeof(sys->processor), "%s", cpu);
    return FACTS_SIZE;
}
