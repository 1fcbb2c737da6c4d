// Command lines of the three mkpkg commands.
#pragma once

#include <string>
#include <vector>

namespace mkpkg {

// The processor whose launcher and unzip utility a package carries when --arch is not given:
// 64-bit kernels need not run 32-bit programs.
constexpr const char* kDefaultArch = "x86_64";

struct BuildOptions {
    std::string output;
    std::string content;  // folder of package content, or
    std::string image;    // a ready zip image
    std::string bootcfg;
    std::string launcher;  // "" for the pkgstub built for arch
    std::string unzip;     // "" for the pkgunzip built for arch
    std::string arch;      // "i386" or "x86_64"; "" for x86_64
    bool bigEndian = false;
    bool force = false;  // write the package despite errors found in it
};

struct InfoOptions {
    std::string package;
    bool json = false;
    std::string system;             // --system 'NAME LEVEL UPDATE KERNEL PROCESSOR'
    std::string systemFrom;         // --system-from DIR
    std::vector<std::string> args;  // after "--": the user arguments to compose the command for
};

struct ExtractOptions {
    std::string package;
    std::string dir;
};

extern const char* const kUsage;
extern const char* const kBuildUsage;
extern const char* const kInfoUsage;
extern const char* const kExtractUsage;

// True when args ask for help ("-h" or "--help" before any "--").
bool wantsHelp(const std::vector<std::string>& args);

// Each parses the arguments after the command name. Options take their value as the next
// argument or after '=' (--bootcfg=FILE). Throw UsageError naming the offending argument.
BuildOptions parseBuildOptions(const std::vector<std::string>& args);
InfoOptions parseInfoOptions(const std::vector<std::string>& args);
ExtractOptions parseExtractOptions(const std::vector<std::string>& args);

}  // namespace mkpkg
