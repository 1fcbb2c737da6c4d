// Fuzz target: a boot configuration and the user's arguments, read as the launcher reads them
// once the package is unpacked: lines and comments, the clause count, each clause against the
// identified system until one fits, the mismatch description, the three command lines, the
// argument mode, the launcher's debug option and the composed startup command. Built from the
// reader and the pure functions that processBootCfg uses; its actions (chmod, copy, change of
// directory, the setup command) are left out, so nothing of the input ever reaches a shell.
//
// Input: a facts header (sysfacts.h), the boot configuration text, then optionally the bytes
// 0x00 0xFF followed by the user's arguments, each ended by 0x00 (the last one by the input's end).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/fuzz/fuzzutil.h"
#include "launcher/bootcfg.h"
#include "launcher/console.h"
#include "launcher/driver.h"
#include "pkgformat/osclass.h"
#include "launcher/sysident.h"
#include "tests/fuzz/sysfacts.h"

namespace {

const char c_argsSeparator[] = {'\0', '\xFF'};
const size_t c_maxArgs = 256;

std::vector<std::string> splitArguments(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    while (p < end && args.size() < c_maxArgs) {
        const char* stop = static_cast<const char*>(memchr(p, '\0', static_cast<size_t>(end - p)));
        if (!stop) stop = end;
        args.emplace_back(p, stop);
        p = stop + 1;
    }
    return args;
}

// The command as composeStartupCmd must build it, from its description of the modes.
std::string expectedCommand(const char* startupCmd, const char* defaultArgs, int mode,
                            const std::vector<std::string>& userArgs) {
    std::string cmd = startupCmd;
    if ((mode == ARGS_APPEND || mode == ARGS_DISCARD) && defaultArgs[0] != '\0') cmd += std::string(" ") + defaultArgs;
    if (mode != ARGS_DISCARD)
        for (const std::string& arg : userArgs) cmd += " " + arg;
    return cmd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static LauncherContext ctx;
    size_t used = takeSystemFacts(&ctx, data, size);
    data += used;
    size -= used;

    size_t textLen = size;
    std::vector<std::string> userArgs;
    const void* sep = memmem(data, size, c_argsSeparator, sizeof(c_argsSeparator));
    if (sep) {
        textLen = static_cast<size_t>(static_cast<const uint8_t*>(sep) - data);
        userArgs = splitArguments(data + textLen + 2, size - textLen - 2);
    }

    // Exactly the text and the spare byte the launcher provides: reading past it is caught.
    std::unique_ptr<char[]> text(new char[textLen + 1]);
    memcpy(text.get(), data, textLen);
    char* const begin = text.get();
    char* const end = begin + textLen;
    // As few kept clauses as the launcher keeps, so that longer lists are read on by the walk.
    BootCfgClause kept[BOOTCFG_KEPT_CLAUSES];
    BootCfg cfg;
    readBootCfg(begin, static_cast<unsigned>(textLen), kept, BOOTCFG_KEPT_CLAUSES, &cfg);

    auto within = [&](const char* line) { return line >= begin && line <= end && strlen(line) <= textLen; };

    FUZZ_CHECK(within(cfg.countLine.text));
    FUZZ_CHECK(cfg.clauseLines >= 0 && cfg.clauseLines <= (cfg.count > 0 ? cfg.count : 0));
    FUZZ_CHECK(cfg.keptClauses == (cfg.clauseLines < BOOTCFG_KEPT_CLAUSES ? cfg.clauseLines : BOOTCFG_KEPT_CLAUSES));
    FUZZ_CHECK(cfg.moreClauses.pos >= begin && cfg.moreClauses.pos <= end);
    FUZZ_CHECK((cfg.missingLines == 0) == (cfg.firstMissing == BOOTCFG_NONE));

    const char* cfgFile = nullptr;
    BootCfgClauseWalk walk;
    startBootCfgClauseWalk(&walk, &cfg);
    int walked = 0;
    for (const BootCfgClause* c = nextBootCfgClause(&walk); c != nullptr; c = nextBootCfgClause(&walk)) {
        const char* clause = c->at.text;
        FUZZ_CHECK(within(clause) && clause[0] != ';');
        FUZZ_CHECK(c->parts.fileName >= clause && c->parts.fileName <= clause + strlen(clause));
        ++walked;
        if (cfgFile == nullptr) {
            cfgFile = matchOsClass(&ctx, clause);
            if (cfgFile) FUZZ_CHECK(cfgFile == c->parts.fileName);
        }
    }
    FUZZ_CHECK(walked == cfg.clauseLines);
    FUZZ_CHECK(walk.more.pos >= begin && walk.more.pos <= end);

    if (cfgFile == nullptr) {
        char desc[512];
        getOsInfoDesc(&ctx, desc, sizeof(desc));
        char message[STDERR_MSG_SIZE];
        int n = snprintf(message, sizeof(message),
                         "ERROR!! The system does not meet the OS requirements of the package.\n\n"
                         "        The current system is identified as follows:\n\n        %s\n",
                         desc);
        FUZZ_CHECK(n > 0 && static_cast<size_t>(n) < sizeof(message));
        return 0;
    }

    // final name, startupDir, setup, startupCmd, defaultArgs, argsControl
    const BootCfgLine* lines[6] = {&cfg.finalName,  &cfg.startupDir,  &cfg.setupPriorStartup,
                                   &cfg.startupCmd, &cfg.defaultArgs, &cfg.argsControl};
    for (const BootCfgLine* line : lines) FUZZ_CHECK(within(line->text) && line->text[0] != ';');
    const char* startupCmd = cfg.startupCmd.text;
    const char* defaultArgs = cfg.defaultArgs.text;
    ArgsMode mode = decideArgsMode(cfg.argsControl.text);
    FUZZ_CHECK(mode >= ARGS_APPEND && mode <= ARGS_DISCARD);

    // The launcher's command line: its own debug option is taken out first.
    std::vector<char*> argvStore;
    static char programName[] = "pkgstub";
    argvStore.push_back(programName);
    for (std::string& arg : userArgs) argvStore.push_back(&arg[0]);
    argvStore.push_back(nullptr);
    int argc = static_cast<int>(argvStore.size() - 1);
    char** argv = argvStore.data();
    int level = takeDebugOption(&argc, &argv);
    FUZZ_CHECK(level >= 0);
    if (level != 0) {
        FUZZ_CHECK(argc == static_cast<int>(userArgs.size()) && argv[0] == programName);
    }
    // The arguments that reach the startup command (argv points into userArgs: leave it be).
    std::vector<std::string> passedArgs(userArgs.begin() + (level != 0 ? 1 : 0), userArgs.end());

    std::unique_ptr<char[]> cmd(new char[STARTUP_CMD_SIZE]);
    int rc = composeStartupCmd(cmd.get(), STARTUP_CMD_SIZE, startupCmd, defaultArgs, mode, argc, argv);
    std::string expected = expectedCommand(startupCmd, defaultArgs, mode, passedArgs);
    if (expected.size() < STARTUP_CMD_SIZE) {
        FUZZ_CHECK(rc == 0);
        FUZZ_CHECK(expected == cmd.get());
    } else {
        // Too long for the buffer: refused whole, never cut.
        FUZZ_CHECK(rc == -1);
        FUZZ_CHECK(cmd[0] == '\0');
    }
    return 0;
}
