#include "launcher/examine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/bootcfg.h"
#include "pkgformat/bootcfgreader.h"
#include "launcher/console.h"
#include "launcher/container.h"
#include "launcher/driver.h"
#include "pkgformat/osclass.h"
#include "launcher/os/paths.h"
#include "pkgformat/pkgdigest.h"
#include "launcher/sysident.h"
#include "tools/pkgunzip/extract.h"
#include "tools/pkgunzip/zipfile.h"
#include "common/fdwrite.h"
#include "common/banned.h"

namespace {

// The package as the options read it: its file, its directory and the image's place.
struct OpenPackage {
    int fd = -1;
    char path[64] = "";  // /proc/self/fd/N: the zip reader opens the very file again
    PkgDirectory dir{};
    uint64_t imageAt = 0;
    DigestCheck digest = DIGEST_NOT_RECORDED;
    uint32_t digestValue = 0;
};

// Opens, reads the directory and checks the digest; 0, or 1 after the message.
int openPackage(const char* argv0, OpenPackage* pkg) {
    pkg->fd = openOwnFile(argv0);
    if (pkg->fd < 0) {
        showError("Failed opening file %s\n", argv0);
        return 1;
    }
    snprintf(pkg->path, sizeof(pkg->path), "/proc/self/fd/%d", pkg->fd);
    if (readPkgDirectory(pkg->fd, pkgHostByteOrder(), &pkg->dir) != 0) return 1;
    pkg->imageAt = static_cast<uint64_t>(pkg->dir.size[PKG_LAUNCHER]) + pkg->dir.size[PKG_UNZIP];
    char why[512];
    pkg->digest = checkPkgDigest(pkg->fd, &pkg->dir, why, sizeof(why), &pkg->digestValue);
    if (pkg->digest == DIGEST_FAILS) {
        showError("Failed checking package: %s\n", why);
        return 1;
    }
    return 0;
}

// Entry names are outside text: anything but printable ASCII is shown as \xNN.
std::string visible(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char esc[8];
            snprintf(esc, sizeof(esc), "\\x%02x", c);
            out += esc;
        }
    }
    return out;
}

struct ImageSummary {
    bool read = false;
    uint64_t entries = 0;
    uint64_t unpacked = 0;  // the sum of the entries' sizes
};

// Walks the image's central directory; list prints each entry.
ImageSummary walkImage(const OpenPackage& pkg, bool list) {
    ImageSummary sum;
    std::string why;
    unzFile zip = pkgunzip::openZipSlice(pkg.path, pkg.imageAt, pkg.dir.size[PKG_IMAGE], &why);
    if (zip == nullptr) {
        showError("Failed reading 'package image': %s; the package file is damaged\n", why.c_str());
        return sum;
    }
    pkgunzip::ZipWalk walk = pkgunzip::walkZipEntries(zip, [&](const pkgunzip::ZipEntryInfo& e) {
        ++sum.entries;
        sum.unpacked += e.info.uncompressed_size;
        if (list)
            printf("%12llu  %s\n", static_cast<unsigned long long>(e.info.uncompressed_size), visible(e.name).c_str());
        return true;
    });
    unzClose(zip);
    if (walk.end != pkgunzip::ZipWalkEnd::AllVisited) {
        showError("Failed reading 'package image': damaged central directory; the package file is damaged\n");
        return sum;
    }
    sum.read = true;
    return sum;
}

int doCheck(const OpenPackage& pkg) {
    uint64_t entries = 0;
    std::string why;
    if (!pkgunzip::testSlice(pkg.path, pkg.imageAt, pkg.dir.size[PKG_IMAGE], &entries, &why)) {
        showError("Failed checking package: image entry %llu: %s; the package file is damaged\n",
                  static_cast<unsigned long long>(entries), visible(why).c_str());
        return 1;
    }
    if (pkg.digest == DIGEST_HOLDS)
        printf("package intact: digest crc32 %08x holds, %llu image entries pass their CRC check\n",
               static_cast<unsigned>(pkg.digestValue), static_cast<unsigned long long>(entries));
    else
        printf(
            "package intact as far as can be told: no digest recorded (launcher, unzip utility and boot "
            "configuration unchecked), %llu image entries pass their CRC check\n",
            static_cast<unsigned long long>(entries));
    return 0;
}

int doList(const OpenPackage& pkg) {
    printf("        size  name\n");
    ImageSummary sum = walkImage(pkg, true);
    if (!sum.read) return 1;
    printf("%12llu  %llu entries\n", static_cast<unsigned long long>(sum.unpacked),
           static_cast<unsigned long long>(sum.entries));
    return 0;
}

// Reads the boot configuration whole (plus the reader's spare byte); empty on failure.
std::vector<char> readBootConfig(const OpenPackage& pkg) {
    std::vector<char> text(pkg.dir.size[PKG_BOOTCFG] + 1u, '\0');
    if (extractPkgElement(PKG_BOOTCFG, &pkg.dir, pkg.fd, text.data(), pkg.dir.size[PKG_BOOTCFG]) < 0) text.clear();
    return text;
}

void showClauses(LauncherContext* ctx, std::vector<char>& text, int argc, char** argv) {
    collectOsLevelInfo(ctx);
    collectProcessorInfo(ctx);
    SystemFacts facts;
    currentSystemFacts(ctx, &facts);
    char desc[512];
    printf("this system: %s", describeSystem(&facts, desc, sizeof(desc)));

    unsigned len = static_cast<unsigned>(text.size() - 1);
    BootCfg cfg;
    readBootCfg(text.data(), len, nullptr, 0, &cfg);
    printf("boot configuration: %d clause%s\n", cfg.clauseLines, cfg.clauseLines == 1 ? "" : "s");
    BootCfgClauseWalk walk;
    startBootCfgClauseWalk(&walk, &cfg);
    int index = 0, fitting = -1;
    for (const BootCfgClause* c = nextBootCfgClause(&walk); c != nullptr; c = nextBootCfgClause(&walk), ++index) {
        ClauseVerdict verdict;
        const char* file = matchOsClassFor(&facts, c->at.text, &verdict);
        bool fits = file != nullptr && fitting < 0;
        printf("  clause %d '%s': %s\n", index, visible(c->at.text).c_str(),
               file == nullptr ? verdict.reason
               : fitting >= 0  ? "fits, but an earlier clause is taken"
                               : "fits");
        if (fits) fitting = index;
    }
    if (fitting < 0)
        printf(
            "fitting clause: none; a run stops with \"ERROR!! The system does not meet the OS requirements of the "
            "package.\"\n");
    else
        printf("fitting clause: %d\n", fitting);
    char cmd[STARTUP_CMD_SIZE];
    const char* dflt = cfg.defaultArgs.text ? cfg.defaultArgs.text : "";
    if (cfg.startupCmd.text == nullptr || cfg.argsControl.text == nullptr)
        printf("startup command: the boot configuration ends before it\n");
    else if (composeStartupCmd(cmd, sizeof(cmd), cfg.startupCmd.text, dflt, decideArgsMode(cfg.argsControl.text), argc,
                               argv) != 0)
        printf("startup command: too long (more than %d characters); a run refuses it\n", STARTUP_CMD_SIZE - 1);
    else
        printf("startup command: '%s' in '%s'\n", visible(cmd).c_str(),
               visible(cfg.startupDir.text ? cfg.startupDir.text : "").c_str());
}

int doInfo(LauncherContext* ctx, const OpenPackage& pkg, int argc, char** argv) {
    printf("launcher: built for %s\n", launcherProcessor());
    for (int i = 0; i < PKG_ELEMENTS; ++i)
        printf("element %d %-20s %10u bytes\n", i, pkgElementNames(i).display, static_cast<unsigned>(pkg.dir.size[i]));
    if (pkg.digest == DIGEST_HOLDS)
        printf("digest: crc32 %08x, holds\n", static_cast<unsigned>(pkg.digestValue));
    else
        printf("digest: none recorded, not checked\n");
    ImageSummary sum = walkImage(pkg, false);
    std::vector<char> text = readBootConfig(pkg);
    if (text.empty()) return 1;
    // The run's argument list: this option's place holds the program name.
    showClauses(ctx, text, argc - 1, argv + 1);
    if (!sum.read) return 1;
    unsigned long long need = sum.unpacked + pkg.dir.size[PKG_IMAGE] + pkg.dir.size[PKG_UNZIP];
    printf("space a run needs in %s: %llu bytes (%llu entries unpacked %llu, image %u, unzip utility %u)\n",
           ctx->tempDir, need, static_cast<unsigned long long>(sum.entries),
           static_cast<unsigned long long>(sum.unpacked), static_cast<unsigned>(pkg.dir.size[PKG_IMAGE]),
           static_cast<unsigned>(pkg.dir.size[PKG_UNZIP]));
    struct statvfs vfs;
    if (statvfs(ctx->tempDir, &vfs) == 0)
        printf("free in %s: %llu bytes\n", ctx->tempDir,
               static_cast<unsigned long long>(vfs.f_bavail) * static_cast<unsigned long long>(vfs.f_frsize));
    return 0;
}

// DIR is made (mode 0700), or must be an empty folder of ours that no one else may write; it is
// entered without following a link (a trailing slash would make the kernel follow one).
int enterEmptyDir(const char* given) {
    std::string path(given);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const char* dir = path.c_str();
    if (mkdir(dir, 0700) != 0 && errno != EEXIST) {
        showError("Failed creating %s: %s\n", dir, strerror(errno));
        return 1;
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        showError("Failed opening folder %s: %s\n", dir, strerror(errno));
        return 1;
    }
    // Another user who may write there could swap the folders being filled for links.
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        close(fd);
        showError(
            "Failed extracting into %s: the folder belongs to another user or others may write to it; "
            "give a new folder\n",
            dir);
        return 1;
    }
    int rc = fchdir(fd);
    close(fd);
    if (rc != 0) {
        showError("Failed changing to %s: %s\n", dir, strerror(errno));
        return 1;
    }
    // Empty: an unpacking over older files would mix two packages.
    DIR* listing = opendir(".");
    if (listing == nullptr) {
        showError("Failed reading folder %s: %s\n", dir, strerror(errno));
        return 1;
    }
    bool empty = true;
    for (struct dirent* e = readdir(listing); e != nullptr && empty; e = readdir(listing))
        empty = strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0;
    closedir(listing);
    if (!empty) {
        showError("Failed extracting into %s: the folder is not empty; give a new or empty folder\n", dir);
        return 1;
    }
    return 0;
}

int doExtract(const OpenPackage& pkg, const char* dir) {
    if (enterEmptyDir(dir) != 0) return 1;
    std::string why;
    if (!pkgunzip::extractSlice(pkg.path, pkg.imageAt, pkg.dir.size[PKG_IMAGE], &why)) {
        showError("Failed extracting 'package image' into %s: %s\n", dir, visible(why).c_str());
        return 1;
    }
    std::vector<char> text = readBootConfig(pkg);
    if (text.empty()) return 1;
    int fd = open("imgboot.cfg", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 || !writeAll(fd, text.data(), text.size() - 1) || close(fd) != 0) {
        showError("Failed writing 'package boot config' to %s/imgboot.cfg: %s\n", dir, strerror(errno));
        return 1;
    }
    printf(
        "Unpacked the package image and its boot configuration (imgboot.cfg) into %s; nothing of the package "
        "was run.\n",
        dir);
    return 0;
}

}  // namespace

unsigned long long packageSpaceNeeded(int fd, const PkgDirectory* dir) {
    OpenPackage pkg;
    pkg.fd = fd;
    snprintf(pkg.path, sizeof(pkg.path), "/proc/self/fd/%d", fd);
    pkg.dir = *dir;
    pkg.imageAt = static_cast<uint64_t>(dir->size[PKG_LAUNCHER]) + dir->size[PKG_UNZIP];
    std::string why;
    unzFile zip = pkgunzip::openZipSlice(pkg.path, pkg.imageAt, dir->size[PKG_IMAGE], &why);
    unsigned long long unpacked = 0;
    if (zip != nullptr) {
        pkgunzip::walkZipEntries(zip, [&](const pkgunzip::ZipEntryInfo& e) {
            unpacked += e.info.uncompressed_size;
            return true;
        });
        unzClose(zip);
    }
    return unpacked + dir->size[PKG_IMAGE] + dir->size[PKG_UNZIP];
}

InspectOption parseInspectOption(const char* arg) {
    if (strcmp(arg, "++check") == 0) return INSPECT_CHECK;
    if (strcmp(arg, "++list") == 0) return INSPECT_LIST;
    if (strcmp(arg, "++info") == 0) return INSPECT_INFO;
    if (strcmp(arg, "++extract") == 0) return INSPECT_EXTRACT;
    return INSPECT_NONE;
}

const char* launcherProcessor() {
#if defined(__x86_64__)
    return "x86_64 (64-bit)";
#elif defined(__i386__)
    return "i386 (32-bit)";
#elif defined(__powerpc64__)
    return "ppc64 (64-bit)";
#else
    return "an unknown processor";
#endif
}

int runInspection(LauncherContext* ctx, int argc, char** argv) {
    InspectOption option = argc > 1 ? parseInspectOption(argv[1]) : INSPECT_NONE;
    if (option == INSPECT_EXTRACT && (argc != 3 || argv[2][0] == '\0')) {
        showError(
            "usage: %s ++extract DIR  (unpacks the image and the boot configuration into DIR, a new or empty "
            "folder, without running anything of the package)\n",
            argv[0]);
        return 2;
    }
    OpenPackage pkg;
    if (openPackage(argc > 0 ? argv[0] : "", &pkg) != 0) return 1;
    int code = 1;
    switch (option) {
    case INSPECT_CHECK: code = doCheck(pkg); break;
    case INSPECT_LIST: code = doList(pkg); break;
    case INSPECT_INFO: code = doInfo(ctx, pkg, argc, argv); break;
    case INSPECT_EXTRACT: code = doExtract(pkg, argv[2]); break;
    case INSPECT_NONE: break;
    }
    close(pkg.fd);
    return code;
}
