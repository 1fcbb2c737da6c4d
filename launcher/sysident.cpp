#include "launcher/sysident.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/os/commands.h"
#include "launcher/os/fileio.h"
#include "launcher/os/platform.h"
#include "common/pkgenv.h"
#include "common/banned.h"

namespace {

const int c_unameBufSize = 2048;

}  // namespace

int unameExec(const LauncherContext* ctx, const char* option, char* buf, int size) {
    char outPath[1024];
    int n = snprintf(outPath, sizeof(outPath), "%s%c%suname.XXXXXX", ctx->tempDir, FILE_SEPARATOR, c_workPrefix);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(outPath)) return 0;
    // Created exclusively, mode 0600: nobody else can have prepared or swap this name.
    int fd = mkstemp(outPath);
    if (fd < 0) return 0;
    fd_close(fd);

    int count = 0;
    if (unameToFile(&ctx->commands, option, outPath) == 0) count = readFileToBuf(outPath, buf, size);
    remove(outPath);
    return count;
}

void currentSystemFacts(const LauncherContext* ctx, SystemFacts* facts) { *facts = ctx->system; }

void collectOsLevelInfoFrom(LauncherContext* ctx, const char* root) {
    if (ctx->distroKnown) return;
    ctx->distroKnown = true;
    SystemFacts* sys = &ctx->system;
    setDistroName(sys, c_distroName_UNKNOWN);
    sys->level = 0;

    int n = unameExec(ctx, "-r", sys->kernel, KERNEL_LEVEL_SIZE - 1);
    sys->kernel[n] = '\0';
    trimTrailingSpaces(sys->kernel);
    if (ctx->debug && n > 0) printf("++ uname -r --> '%s'\n", sys->kernel);
    if (sys->kernel[0] == '\0') snprintf(sys->kernel, sizeof(sys->kernel), "%s", "Unknown");

    static ReleaseTexts texts;  // three 2 KiB texts: kept off the stack
    if (readReleaseTexts(root, &texts, ctx->debug) != 0) return;
    distroFromReleaseTexts(&texts, sys);
}

void collectOsLevelInfo(LauncherContext* ctx) { collectOsLevelInfoFrom(ctx, "/"); }

namespace {

// Trimmed output of `uname option` into buf (c_unameBufSize bytes); null when it failed or
// printed nothing.
const char* unameText(const LauncherContext* ctx, const char* option, char* buf) {
    int n = unameExec(ctx, option, buf, c_unameBufSize - 1);
    if (n == 0) return nullptr;
    buf[n] = '\0';
    trimTrailingSpaces(buf);
    if (ctx->debug) printf("++ uname %s --> '%s'\n", option, buf);
    return buf;
}

}  // namespace

void collectProcessorInfo(LauncherContext* ctx) {
    if (ctx->processorKnown) return;
    char textI[c_unameBufSize];
    char textM[c_unameBufSize];
    const char* unameI = unameText(ctx, "-i", textI);
    // `uname -m` only where `uname -i` gives no answer (Debian and Ubuntu print "unknown").
    const char* unameM = nullptr;
    if (needsUnameM(unameI)) unameM = unameText(ctx, "-m", textM);
    snprintf(ctx->system.processor, sizeof(ctx->system.processor), "%s", processorClass(unameI, unameM));
    ctx->processorKnown = true;
}

void identifySystem(LauncherContext* ctx) {
    collectOsLevelInfo(ctx);
    collectProcessorInfo(ctx);
}

void exportSystemVars(const LauncherContext* ctx, const char* origDir) {
    const SystemFacts* sys = &ctx->system;
    char number[16];
    setenv(c_envOrigCurrDir, origDir, 1);
    setenv(c_envDistroName, sys->name, 1);
    snprintf(number, sizeof(number), "%d", sys->level);
    setenv(c_envDistroLevel, number, 1);
    snprintf(number, sizeof(number), "%d", sys->update);
    setenv(c_envUpdateLevel, number, 1);
    setenv(c_envKernelLevel, sys->kernel, 1);
    setenv(c_envProcessor, sys->processor, 1);
}

char* getOsInfoDesc(const LauncherContext* ctx, char* buf, int size) { return describeSystem(&ctx->system, buf, size); }

void setOsInfoEnvVars(LauncherContext* ctx, const char* origDir) {
    identifySystem(ctx);
    exportSystemVars(ctx, origDir);
}
