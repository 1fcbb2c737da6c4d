// mkpkg: builds and inspects self-extracting packages for the launcher pkgstub.
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tools/mkpkg/errors.h"
#include "tools/mkpkg/pkginfo.h"
#include "tools/mkpkg/options.h"
#include "tools/mkpkg/pkgreader.h"
#include "tools/mkpkg/pkgwriter.h"
#include "tools/mkpkg/report.h"
#include "common/banned.h"

namespace {

int runBuild(const std::vector<std::string>& args) {
    mkpkg::buildPackage(mkpkg::parseBuildOptions(args), std::cout, std::cerr);
    return 0;
}

int runInfo(const std::vector<std::string>& args) {
    mkpkg::InfoOptions opts = mkpkg::parseInfoOptions(args);
    mkpkg::PackageInfo info = mkpkg::inspectPackage(opts.package, opts.args, {opts.system, opts.systemFrom});
    if (opts.json)
        std::cout << mkpkg::infoJson(info).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                  << "\n";
    else
        std::cout << mkpkg::infoText(info);
    std::cout.flush();
    for (const mkpkg::Problem& p : info.problems) std::cerr << "mkpkg: " << mkpkg::problemLine(p) << "\n";
    return mkpkg::errorCount(info.problems) == 0 ? 0 : 1;
}

int runExtract(const std::vector<std::string>& args) {
    mkpkg::ExtractOptions opts = mkpkg::parseExtractOptions(args);
    for (const std::string& path : mkpkg::extractPackage(opts.package, opts.dir))
        std::cout << "mkpkg: wrote " << path << "\n";
    return 0;
}

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const std::vector<std::string>& args);
};

const Command kCommands[] = {
    {"build", mkpkg::kBuildUsage, runBuild},
    {"info", mkpkg::kInfoUsage, runInfo},
    {"extract", mkpkg::kExtractUsage, runExtract},
};

}  // namespace

int main(int argc, char** argv) {
    // A write past a file size limit then fails with EFBIG, and the temporary file is removed,
    // instead of the process dying with it in place.
    std::signal(SIGXFSZ, SIG_IGN);

    if (argc < 2) {
        std::cerr << mkpkg::kUsage;
        return 2;
    }
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        std::cout << mkpkg::kUsage;
        return 0;
    }
    if (name == "--version") {
        std::cout << "mkpkg " << MKPKG_VERSION << "\n";
        return 0;
    }
    for (const Command& cmd : kCommands) {
        if (name != cmd.name) continue;
        std::vector<std::string> args(argv + 2, argv + argc);
        if (mkpkg::wantsHelp(args)) {
            std::cout << cmd.usage;
            return 0;
        }
        try {
            return cmd.run(args);
        } catch (const mkpkg::UsageError& e) {
            std::cerr << "mkpkg " << cmd.name << ": " << e.what() << "\n" << cmd.usage;
            return 2;
        } catch (const std::exception& e) {
            std::cerr << "mkpkg: " << e.what() << "\n";
            return 1;
        }
    }
    std::cerr << "mkpkg: unknown command " << mkpkg::quote(name) << "; see 'mkpkg --help'\n";
    return 2;
}
