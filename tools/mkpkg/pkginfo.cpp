#include "pkginfo.h"

#include "errors.h"

namespace mkpkg {

PackageInfo inspectPackage(const std::string& path, const std::vector<std::string>& args) {
    PackageInfo info;
    info.args = args;
    info.layout = readLayout(path);
    if (!info.layout.consistent) {
        info.problems.push_back("package " + quote(path) + " is damaged: " + info.layout.problem);
        return info;
    }
    const PackageLayout& l = info.layout;
    try {
        info.image = listZip(path, l.offsets[2], l.sizes[2], true, "the package image of " + quote(path));
        info.imageRead = true;
        if (!info.image.problem.empty())
            info.problems.push_back("the package image of " + quote(path) + " is damaged: " + info.image.problem);
    } catch (const Error& e) {
        info.problems.push_back(e.what());
    }
    std::string text = readElement(l, 3);
    info.boot = readBootConfig(text);
    info.bootRead = true;
    std::vector<std::string> bootProblems =
        bootConfigProblems(info.boot, "the boot configuration of " + quote(path), info.imageRead ? &info.image.entries : nullptr);
    info.problems.insert(info.problems.end(), bootProblems.begin(), bootProblems.end());
    info.system = fitThisSystem(info.boot);
    info.commandFits = composeCommand(info.boot, path, args, &info.command);
    return info;
}

}  // namespace mkpkg
