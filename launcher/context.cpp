#include "launcher/context.h"

#include <cstdio>

#include "common/banned.h"

void initContext(LauncherContext* ctx, const char* tempDir) {
    ctx->debug = 0;
    ctx->tempDir = tempDir;
    ctx->wrkDir[0] = '\0';
    SystemFacts unknown = {"Unknown", 0, 0, "Unknown", "Unknown"};
    ctx->system = unknown;
    ctx->distroKnown = false;
    ctx->processorKnown = false;
    ctx->commands = shellCommandRunner();
    ctx->interruptedIn = PHASE_NONE;
}
