#include "tools/mkpkg/pkginfo.h"

#include "tools/mkpkg/errors.h"
#include "common/banned.h"

namespace mkpkg {

namespace {

Problem error(const std::string& text) { return {Severity::Error, text}; }

void add(std::vector<Problem>* to, const std::vector<Problem>& more) { to->insert(to->end(), more.begin(), more.end()); }

}  // namespace

PackageInfo inspectPackage(const std::string& path, const std::vector<std::string>& args, const Target& target) {
    PackageInfo info;
    info.args = args;
    // A target that cannot be used is refused before anything is read.
    SystemFacts facts{};
    std::string source = "this system";
    if (!target.system.empty()) {
        facts = parseSystemText(target.system);
        source = "--system";
    }
    info.layout = readLayout(path);
    if (!info.layout.consistent) {
        info.problems.push_back(error("package " + quote(path) + " is damaged: " + info.layout.problem));
        return info;
    }
    const PackageLayout& l = info.layout;
    try {
        info.image = listZip(path, l.offsets[2], l.sizes[2], true, "the package image of " + quote(path));
        info.imageRead = true;
        if (!info.image.problem.empty())
            info.problems.push_back(error("the package image of " + quote(path) + " is damaged: " + info.image.problem));
    } catch (const Error& e) {
        info.problems.push_back(error(e.what()));
    }
    add(&info.problems, lintLauncherByteOrder("the launcher of " + quote(path), readElement(l, 0).substr(0, kElfHeadSize),
                                              l.order == ByteOrder::Big));
    if (info.imageRead) add(&info.problems, lintImage(info.image.entries, "the package image of " + quote(path)));
    std::string text = readElement(l, 3);
    info.boot = readBootConfig(text);
    info.bootRead = true;
    add(&info.problems, lintBootConfig(info.boot, "the boot configuration of " + quote(path),
                                       info.imageRead ? &info.image.entries : nullptr));
    if (!target.systemFrom.empty()) {
        facts = systemFromRoot(target.systemFrom);
        source = "--system-from " + target.systemFrom;
    } else if (target.system.empty()) {
        facts = thisSystemFacts();
    }
    info.system = fitSystem(facts, info.boot, source);
    info.commandFits = composeCommand(info.boot, path, args, &info.command);
    return info;
}

}  // namespace mkpkg
