// Identifying the system the launcher runs on (release files and `uname` through the context's
// runner, once per run) and exporting it as the six ZAV_RQ_PKG_* variables (common/pkgenv.h).
// What the answers mean is pkgformat/sysfacts.h.
#pragma once

#include "launcher/context.h"
#include "pkgformat/sysfacts.h"

// The facts identified in ctx (defaults for what is not identified yet).
void currentSystemFacts(const LauncherContext* ctx, SystemFacts* facts);

// Output of `uname option` into buf (at most size bytes, no terminator); 0 on failure. The
// output passes through a file of this process's own (mkstemp in ctx's temporary directory),
// removed on every path. The command goes through ctx's runner.
int unameExec(const LauncherContext* ctx, const char* option, char* buf, int size);
// Identifies the distribution (name, level, update) from the release files under root and the
// kernel from `uname -r`, into ctx->system, once per context (ctx->distroKnown).
void collectOsLevelInfoFrom(LauncherContext* ctx, const char* root);
void collectOsLevelInfo(LauncherContext* ctx);  // from "/"
// The processor class into ctx->system, once per context (ctx->processorKnown).
void collectProcessorInfo(LauncherContext* ctx);
// Both of the above: the whole system into ctx->system, once per context. Sets no variable.
void identifySystem(LauncherContext* ctx);
// Sets the six variables from ctx's system (as identified so far) and origDir.
void exportSystemVars(const LauncherContext* ctx, const char* origDir);
// identifySystem, then exportSystemVars (every call).
void setOsInfoEnvVars(LauncherContext* ctx, const char* origDir);
// describeSystem for ctx's system.
char* getOsInfoDesc(const LauncherContext* ctx, char* buf, int size);
