#include "launcher/os/pkgproc.h"
#include "launcher/bootcfg.h"

#include <cstdio>
#include <cstring>

#include "launcher/console.h"
#include "pkgformat/decimal.h"
#include "launcher/os/commands.h"
#include "launcher/os/paths.h"
#include "pkgformat/osclass.h"
#include "launcher/sysident.h"
#include "common/banned.h"

const char* matchOsClass(const LauncherContext* ctx, const char* clause) {
    return matchOsClassFor(&ctx->system, clause, nullptr, ctx->debug);
}

int processBootCfg(const LauncherContext* ctx, char* data, unsigned len, int argc, char** argv, char* cmdOut) {
    cmdOut[0] = '\0';
    BootCfgClause kept[BOOTCFG_KEPT_CLAUSES];
    BootCfg cfg;
    readBootCfg(data, len, kept, BOOTCFG_KEPT_CLAUSES, &cfg);
    if (ctx->debug) printf("++   # of per-os-class cfg clauses = %d\n", cfg.count);

    const char* cfgFile = nullptr;
    BootCfgClauseWalk walk;
    startBootCfgClauseWalk(&walk, &cfg);
    for (int i = 0; cfgFile == nullptr; ++i) {
        const BootCfgClause* c = nextBootCfgClause(&walk);
        if (c == nullptr) break;
        const char* clause = c->at.text;
        cfgFile = matchOsClass(ctx, clause);
        if (cfgFile != nullptr && ctx->debug) printf("++   per-os-class cfg[%d] (GOOD) = '%s'\n", i, clause);
        if (cfgFile == nullptr && ctx->debug) printf("++   per-os-class cfg[%d] (n.g.) = '%s'\n", i, clause);
    }

    if (cfgFile == nullptr) {
        char desc[512];
        getOsInfoDesc(ctx, desc, sizeof(desc));
        showError(
            "ERROR!! The system does not meet the OS requirements of the package.\n\n"
            "        The current system is identified as follows:\n\n        %s\n",
            desc);
        return -1;
    }
    if (ctx->debug) printf("++ Final startup cfg file found: '%s'\n", cfgFile);

    makeAllFilesExecutable(&ctx->commands);

    const char* finalName = cfg.finalName.text;
    if (cfgFile[0] != '\0' && finalName[0] != '\0') {
        if (ctx->debug) printf("++ Copying '%s' to '%s'...\n", cfgFile, finalName);
        if (!copyFileFits(cfgFile, finalName)) {
            showError(
                "Failed copying the startup config file: the command line would be longer than %d "
                "characters\n",
                CMD_COMPOSE_SIZE - 1);
            return -1;
        }
        copyFile(&ctx->commands, cfgFile, finalName);
    }

    const char* startupDir = cfg.startupDir.text;
    if (startupDir[0] != '\0') {
        if (ctx->debug) printf("++ Changing dir to '%s'...\n", startupDir);
        changeDir(startupDir);
    }

    const char* setupCmd = cfg.setupPriorStartup.text;
    if (packageSignal()) return BOOTCFG_INTERRUPTED;
    if (setupCmd[0] != '\0') {
        if (ctx->debug) printf("++ Executing '%s' prior startup...\n", setupCmd);
        runCommand(&ctx->commands, CMD_PACKAGE, setupCmd);
    }

    const char* startupCmd = cfg.startupCmd.text;
    const char* defaultArgs = cfg.defaultArgs.text;
    const char* argsControl = cfg.argsControl.text;
    if (ctx->debug)
        printf("++   startupCmd  = '%s'\n++   defaultArgs = '%s'\n++   argsControl = '%s'\n", startupCmd, defaultArgs,
               argsControl);

    ArgsMode mode = decideArgsMode(argsControl);
    if (composeStartupCmd(cmdOut, STARTUP_CMD_SIZE, startupCmd, defaultArgs, mode, argc, argv) != 0) {
        showError("Failed composing the startup command: it would be longer than %d characters\n",
                  STARTUP_CMD_SIZE - 1);
        return -1;
    }
    if (ctx->debug) printf("++   startupCmd  = '%s'\n", cmdOut);
    return 0;
}
