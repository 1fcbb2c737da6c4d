#include "tools/mkpkg/pkgwriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "tools/mkpkg/bootconfig.h"
#include "tools/mkpkg/errors.h"
#include "pkgformat/pkgdigest.h"
#include "tools/mkpkg/lint.h"
#include "tools/mkpkg/pkgfile.h"
#include "tools/mkpkg/zipreader.h"
#include "tools/mkpkg/zipwriter.h"
#include "common/banned.h"

namespace mkpkg {

namespace {

// Size of a part file that must exist, be a regular file and not be empty.
uint64_t partSize(const std::string& role, const std::string& path, const std::string& hint) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) throw Error(systemError("open " + role, path, errno) + hint);
    if (!S_ISREG(st.st_mode)) throw Error(role + " " + quote(path) + " is not a regular file" + hint);
    if (access(path.c_str(), R_OK) != 0) throw Error(systemError("read " + role, path, errno));
    if (st.st_size == 0) throw Error(role + " " + quote(path) + " is empty" + hint);
    return static_cast<uint64_t>(st.st_size);
}

void checkLimit(int index, const std::string& path, uint64_t size) {
    if (size >= PKG_SIZE_LIMIT)
        throw Error(std::string(pkgElementNames(index).display) + " " + quote(path) + " has " + std::to_string(size) +
                    " bytes, 2 GiB or more; the launcher reads only elements below 2 GiB, make it smaller");
}

std::string resolved(const std::string& path) {
    std::vector<char> buf(PATH_MAX + 1, '\0');
    return realpath(path.c_str(), buf.data()) ? std::string(buf.data()) : std::string();
}

// A package written into its own content folder would end up in the next build's image.
void refuseOutputInsideContent(const std::string& output, const std::string& content) {
    std::string folder = resolved(folderOf(output));
    std::string root = resolved(content);
    if (folder.empty() || root.empty()) return;
    if (folder == root || folder.compare(0, root.size() + 1, root + "/") == 0)
        throw Error("output " + quote(output) + " is inside the content folder " + quote(content) +
                    "; write the package somewhere else");
}

// The boot configuration without digest records (one left by `mkpkg extract` of a package, also
// damaged at the very end, or one the author moved up): a rebuild writes one new one, never a second.
std::string withoutDigestRecord(const std::string& text) {
    uint32_t value = 0;
    std::string kept = text;
    if (findDigestRecord(kept.data(), kept.size(), &value) != DIGEST_NONE)
        kept.resize(kept.size() - PKG_DIGEST_RECORD_SIZE);
    std::string out;
    for (size_t start = 0; start < kept.size();) {
        size_t end = kept.find('\n', start);
        end = end == std::string::npos ? kept.size() : end + 1;
        bool record = end - start == PKG_DIGEST_RECORD_SIZE &&
                      findDigestRecord(kept.data() + start, end - start, &value) == DIGEST_PRESENT;
        if (!record) out.append(kept, start, end - start);
        start = end;
    }
    return out;
}

bool isExecutable(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Where a package with this launcher runs: authors pick i386 or x86_64 by it.
std::string launcherKind(const std::string& processor) {
    if (processor == "x86_64") return "for x86_64 (runs on 64-bit x86 kernels)";
    if (processor == "i386")
        return "for i386 (runs on 32-bit x86 kernels, and on 64-bit ones only where they run 32-bit programs)";
    if (processor.empty()) return "for an unknown processor";
    return "for " + processor;
}

}  // namespace

std::string packageProgram(const std::string& name, const std::string& arch, std::string* why) {
    std::vector<char> buf(PATH_MAX + 1, '\0');
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    std::string bin = n > 0 ? folderOf(std::string(buf.data(), static_cast<size_t>(n))) : std::string(".");
    const std::string forArch = arch.empty() ? kDefaultArch : arch;
    // The build tree's build/bin -> build/dist/ARCH; an installed bin -> libexec/zav_fwpkg/ARCH.
    const std::string top = folderOf(bin);
    const std::string candidates[] = {top + "/dist/" + forArch, top + "/libexec/zav_fwpkg/" + forArch};
    for (const std::string& dir : candidates)
        if (isExecutable(dir + "/" + name)) return dir + "/" + name;
    // A build without the static programs (the sanitizer build) packs its own, unless a
    // processor was asked for.
    bool anyDist = false;
    for (const std::string& dir : candidates) anyDist = anyDist || access(dir.c_str(), F_OK) == 0;
    if (arch.empty() && !anyDist && isExecutable(bin + "/" + name)) return bin + "/" + name;
    *why = "no " + forArch + " " + name + ": " + quote(candidates[0] + "/" + name) +
           " is missing; build the static programs (cmake --build build) or pass --" +
           (name == "pkgstub" ? "launcher" : "unzip") + " PATH";
    return "";
}

BuildResult buildPackage(const BuildOptions& opts, std::ostream& progress, std::ostream& diag) {
    BuildResult result;
    result.output = opts.output;

    std::string missing;
    std::string launcher = opts.launcher;
    if (launcher.empty() && (launcher = packageProgram("pkgstub", opts.arch, &missing)).empty()) throw Error(missing);
    uint64_t launcherSize = partSize("launcher", launcher, "");
    progress << "mkpkg: launcher " << launcherKind(elfProcessor(fileHead(launcher))) << ": " << launcher << "\n"
             << std::flush;
    checkLimit(PKG_LAUNCHER, launcher, launcherSize);

    std::string unzip = opts.unzip;
    if (unzip.empty() && (unzip = packageProgram("pkgunzip", opts.arch, &missing)).empty()) throw Error(missing);
    uint64_t unzipSize = partSize("unzip utility", unzip, "");
    checkLimit(PKG_UNZIP, unzip, unzipSize);

    uint64_t bootSize = partSize("boot configuration", opts.bootcfg, "");
    checkLimit(PKG_BOOTCFG, opts.bootcfg, bootSize);
    std::string bootText;
    {
        std::ifstream in(opts.bootcfg, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        if (!in) throw Error(systemError("read boot configuration", opts.bootcfg, errno ? errno : EIO));
        bootText = s.str();
    }
    std::string label = "boot configuration " + quote(opts.bootcfg);
    BootConfig cfg = readBootConfig(bootText);

    // The image: zipped from the content folder into a temporary file beside the output.
    std::unique_ptr<TempFile> zipTmp;
    std::string image = opts.image;
    std::string imageLabel = "image " + quote(opts.image);
    if (!opts.content.empty()) {
        refuseOutputInsideContent(opts.output, opts.content);
        std::vector<ContentItem> items = collectContent(opts.content);
        size_t files = 0;
        for (const ContentItem& item : items) files += item.isDir ? 0 : 1;
        progress << "mkpkg: zipping " << files << " file" << (files == 1 ? "" : "s") << " from " << opts.content << "\n"
                 << std::flush;
        zipTmp.reset(new TempFile(opts.output, ".zip"));
        zipTmp->closeFd();
        writeZip(zipTmp->path(), items, entryTimestamp());
        image = zipTmp->path();
        imageLabel = "image zipped from " + quote(opts.content);
    }
    uint64_t imageSize = partSize("image", image, "");
    checkLimit(PKG_IMAGE, opts.content.empty() ? image : opts.content, imageSize);
    ZipListing listing = listZip(image, 0, imageSize, true, imageLabel);
    if (!listing.problem.empty()) throw Error(imageLabel + " is damaged: " + listing.problem + "; rebuild it");
    if (listing.entries.empty()) throw Error(imageLabel + " has no entries; put the package content in it");
    progress << "mkpkg: image has " << listing.entries.size() << " entries (" << imageSize << " bytes)\n" << std::flush;

    std::vector<Problem> problems =
        lintLauncherByteOrder("launcher " + quote(launcher), fileHead(launcher), opts.bigEndian);
    for (const std::vector<Problem>& more :
         {lintImage(listing.entries, imageLabel), lintBootConfig(cfg, label, &listing.entries)})
        problems.insert(problems.end(), more.begin(), more.end());
    if (errorCount(problems) == 0) {
        std::vector<Problem> more = lintStartupProgram(cfg, label, listing.entries, fileHead(launcher));
        problems.insert(problems.end(), more.begin(), more.end());
    }
    for (const Problem& p : problems) diag << "mkpkg: " << problemLine(p) << "\n";
    diag << std::flush;
    int errors = errorCount(problems);
    if (errors > 0 && !opts.force)
        throw Error(std::to_string(errors) + " problem" + (errors == 1 ? "" : "s") +
                    " found, nothing written; fix them, or pass --force to build anyway");

    // The digest record goes on a line of its own: after a last line without a line feed it would
    // become part of that line's value, so such a configuration (built with --force) gets none.
    std::string bootBody = withoutDigestRecord(bootText);
    result.digested = !bootBody.empty() && bootBody.back() == '\n';
    if (!result.digested)
        progress << "mkpkg: no digest recorded: the boot configuration does not end with a line feed\n" << std::flush;
    TempFile bootTmp(opts.output, ".bootcfg");
    writeWhole(bootTmp.fd(), bootBody, bootTmp.path());
    bootTmp.closeFd();
    bootSize = bootBody.size() + (result.digested ? PKG_DIGEST_RECORD_SIZE : 0);
    checkLimit(PKG_BOOTCFG, opts.bootcfg, bootSize);
    result.sizes = {static_cast<uint32_t>(launcherSize), static_cast<uint32_t>(unzipSize),
                    static_cast<uint32_t>(imageSize), static_cast<uint32_t>(bootSize)};
    PkgDirectory dir;
    dir.size = result.sizes;
    result.length = launcherSize + unzipSize + imageSize + bootSize + PKG_DIRECTORY_SIZE;
    char why[256];
    if (checkPkgDirectory(&dir, static_cast<long long>(result.length), why, sizeof(why)) != 0)
        throw Error("package " + quote(opts.output) + " would be unreadable: " + why + "; make the content smaller");

    result.digest = writePackageFile(opts.output, {launcher, unzip, image, bootTmp.path()}, result.sizes,
                                     opts.bigEndian, result.digested);
    result.imageEntries = listing.entries.size();
    progress << "mkpkg: wrote " << opts.output << " (" << result.length << " bytes)\n" << std::flush;
    if (result.digested) {
        char hex[16];
        snprintf(hex, sizeof(hex), "%08x", static_cast<unsigned>(result.digest));
        progress << "mkpkg: digest crc32 " << hex << " recorded as the boot configuration's last line\n" << std::flush;
    }
    return result;
}

}  // namespace mkpkg
