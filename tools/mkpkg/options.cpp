#include "tools/mkpkg/options.h"

#include "tools/mkpkg/errors.h"
#include "common/banned.h"

namespace mkpkg {

const char* const kUsage =
    "usage: mkpkg COMMAND ...\n"
    "Builds and inspects self-extracting packages for the launcher pkgstub.\n"
    "\n"
    "commands:\n"
    "  build    write a package from a content folder (or zip image) and a boot configuration\n"
    "  info     show a package's directory, image entries, boot configuration, the clause that\n"
    "           fits this system and the startup command that arguments would give\n"
    "  extract  write a package's four elements as files\n"
    "\n"
    "'mkpkg COMMAND --help' shows the options of a command; 'mkpkg --version' the version.\n";

const char* const kBuildUsage =
    "usage: mkpkg build -o PKG (--content DIR | --image ZIP) --bootcfg FILE\n"
    "                   [--arch i386|x86_64] [--launcher PATH] [--unzip PATH] [--big-endian] [--force]\n"
    "  -o, --output PKG   package file to write (mode 0755; replaced only when complete)\n"
    "  --content DIR      zip this folder as the package image (sorted, reproducible)\n"
    "  --image ZIP        use this zip file as the package image\n"
    "  --bootcfg FILE     boot configuration text\n"
    "  --arch ARCH        processor of the default launcher and unzip utility: x86_64\n"
    "                     (default; runs on every 64-bit x86 kernel) or i386 (for 32-bit\n"
    "                     kernels, and 64-bit kernels that run 32-bit programs)\n"
    "  --launcher PATH    launcher program (default: the static pkgstub built for ARCH)\n"
    "  --unzip PATH       unzip utility carried in the package (default: the static\n"
    "                     pkgunzip built for ARCH)\n"
    "  --big-endian       store the directory big-endian, for a big-endian launcher of a\n"
    "                     processor other than ppc64 (ppc64 launchers swap: no option)\n"
    "  --force            write the package even when problems are found in it\n";

const char* const kInfoUsage =
    "usage: mkpkg info PKG [--json] [--system 'NAME LEVEL UPDATE KERNEL PROCESSOR' | --system-from DIR]\n"
    "                  [-- ARGS...]\n"
    "  --json             the same report as JSON\n"
    "  --system 'NAME LEVEL UPDATE KERNEL PROCESSOR'\n"
    "                     show the clause that fits this system instead of the one mkpkg runs on,\n"
    "                     e.g. 'RedHat 5 4 2.6.18 x86_64' (PROCESSOR as uname -m prints it)\n"
    "  --system-from DIR  the system whose release files are DIR/etc/redhat-release,\n"
    "                     DIR/etc/SuSE-release or DIR/etc/os-release (kernel and processor:\n"
    "                     this machine's)\n"
    "  -- ARGS...         show the startup command these user arguments would give\n";

const char* const kExtractUsage =
    "usage: mkpkg extract PKG DIR\n"
    "  writes 0-launcher, 1-unzip, 2-image.zip and 3-bootcfg.txt into DIR (created if missing)\n";

bool wantsHelp(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == "-h" || a == "--help") return true;
    }
    return false;
}

namespace {

// Matches "--name VALUE" / "--name=VALUE" at args[i]; advances i past the value.
bool takeValue(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string* dst) {
    const std::string& a = args[i];
    std::string value;
    if (a == name) {
        if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
        value = args[++i];
    } else if (name.size() > 2 && a.compare(0, name.size() + 1, name + "=") == 0) {
        value = a.substr(name.size() + 1);
    } else {
        return false;
    }
    if (!dst->empty()) throw UsageError("option " + name + " is given twice");
    if (value.empty()) throw UsageError("option " + name + " needs a non-empty value");
    *dst = value;
    return true;
}

[[noreturn]] void unexpected(const std::string& arg) {
    if (!arg.empty() && arg[0] == '-') throw UsageError("unknown option " + quote(arg));
    throw UsageError("unexpected argument " + quote(arg));
}

}  // namespace

BuildOptions parseBuildOptions(const std::vector<std::string>& args) {
    BuildOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        if (takeValue(args, i, "-o", &o.output) || takeValue(args, i, "--output", &o.output) ||
            takeValue(args, i, "--content", &o.content) || takeValue(args, i, "--image", &o.image) ||
            takeValue(args, i, "--bootcfg", &o.bootcfg) || takeValue(args, i, "--launcher", &o.launcher) ||
            takeValue(args, i, "--unzip", &o.unzip) || takeValue(args, i, "--arch", &o.arch))
            continue;
        if (args[i] == "--big-endian") {
            o.bigEndian = true;
            continue;
        }
        if (args[i] == "--force") {
            o.force = true;
            continue;
        }
        unexpected(args[i]);
    }
    if (o.output.empty()) throw UsageError("missing -o PKG: name the package file to write");
    if (o.content.empty() && o.image.empty()) throw UsageError("missing --content DIR or --image ZIP");
    if (!o.content.empty() && !o.image.empty()) throw UsageError("give either --content or --image, not both");
    if (o.bootcfg.empty()) throw UsageError("missing --bootcfg FILE");
    if (!o.arch.empty() && o.arch != "i386" && o.arch != "x86_64")
        throw UsageError("unknown --arch " + quote(o.arch) + "; give i386 or x86_64");
    return o;
}

InfoOptions parseInfoOptions(const std::vector<std::string>& args) {
    InfoOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            o.args.assign(args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        }
        if (a == "--json") {
            o.json = true;
        } else if (takeValue(args, i, "--system", &o.system) || takeValue(args, i, "--system-from", &o.systemFrom)) {
            continue;
        } else if (o.package.empty() && !a.empty() && a[0] != '-') {
            o.package = a;
        } else if (!o.package.empty() && !a.empty() && a[0] != '-') {
            throw UsageError("unexpected argument " + quote(a) + "; put the user arguments after --");
        } else {
            unexpected(a);
        }
    }
    if (o.package.empty()) throw UsageError("missing PKG: name the package file to show");
    if (!o.system.empty() && !o.systemFrom.empty()) throw UsageError("give either --system or --system-from, not both");
    return o;
}

ExtractOptions parseExtractOptions(const std::vector<std::string>& args) {
    ExtractOptions o;
    for (const std::string& a : args) {
        if (!a.empty() && a[0] == '-') unexpected(a);
        if (o.package.empty())
            o.package = a;
        else if (o.dir.empty())
            o.dir = a;
        else
            unexpected(a);
    }
    if (o.package.empty() || o.dir.empty()) throw UsageError("needs PKG and DIR");
    return o;
}

}  // namespace mkpkg
