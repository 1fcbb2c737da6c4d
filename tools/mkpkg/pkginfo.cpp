#include "tools/mkpkg/pkginfo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/mkpkg/errors.h"
#include "pkgformat/pkgdigest.h"
#include "common/banned.h"

namespace mkpkg {

namespace {

Problem error(const std::string& text) { return {Severity::Error, text}; }

void add(std::vector<Problem>* to, const std::vector<Problem>& more) {
    to->insert(to->end(), more.begin(), more.end());
}

// The launcher's own check gives the verdict and its wording; the values are read beside it.
void checkDigest(PackageInfo* info) {
    int fd = open(info->layout.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error(systemError("open", info->layout.path, errno));
    PkgDirectory dir;
    dir.size = info->layout.sizes;
    char why[512];
    info->digestCheck = checkPkgDigest(fd, &dir, why, sizeof(why));
    char tail[PKG_DIGEST_RECORD_SIZE];
    off_t at = static_cast<off_t>(info->layout.directoryOffset) - static_cast<off_t>(PKG_DIGEST_RECORD_SIZE);
    info->digestRecordRead = info->layout.sizes[PKG_BOOTCFG] >= PKG_DIGEST_RECORD_SIZE &&
                             pread(fd, tail, sizeof(tail), at) == static_cast<ssize_t>(sizeof(tail)) &&
                             findDigestRecord(tail, sizeof(tail), &info->digestRecorded) == DIGEST_PRESENT;
    info->digestComputed = info->digestRecordRead && computePkgDigest(fd, &dir, &info->digestActual) == 0;
    close(fd);
    if (info->digestCheck == DIGEST_FAILS) {
        info->digestProblem = why;
        info->problems.push_back(error("package " + quote(info->layout.path) + " is damaged: " + why));
    }
}

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
    checkDigest(&info);
    try {
        info.image =
            listZip(path, l.offsets[PKG_IMAGE], l.sizes[PKG_IMAGE], true, "the package image of " + quote(path));
        info.imageRead = true;
        if (!info.image.problem.empty())
            info.problems.push_back(
                error("the package image of " + quote(path) + " is damaged: " + info.image.problem));
    } catch (const Error& e) {
        info.problems.push_back(error(e.what()));
    }
    add(&info.problems,
        lintLauncherByteOrder("the launcher of " + quote(path), readElement(l, PKG_LAUNCHER).substr(0, kElfHeadSize),
                              l.order == ByteOrder::Big));
    info.launcherKind = elfKind(readElement(l, PKG_LAUNCHER).substr(0, kElfHeadSize));
    info.spaceNeeded = l.sizes[PKG_IMAGE] + l.sizes[PKG_UNZIP];
    if (info.imageRead)
        for (const ZipEntry& e : info.image.entries) info.spaceNeeded += e.size;
    if (info.imageRead) add(&info.problems, lintImage(info.image.entries, "the package image of " + quote(path)));
    std::string text = readElement(l, PKG_BOOTCFG);
    info.boot = readBootConfig(text);
    info.bootRead = true;
    add(&info.problems, lintBootConfig(info.boot, "the boot configuration of " + quote(path),
                                       info.imageRead ? &info.image.entries : nullptr));
    if (info.imageRead && errorCount(info.problems) == 0)
        add(&info.problems,
            lintStartupProgram(info.boot, "the boot configuration of " + quote(path), info.image.entries,
                               readElement(l, PKG_LAUNCHER).substr(0, kElfHeadSize)));
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
