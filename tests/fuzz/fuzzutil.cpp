#include "tests/fuzz/fuzzutil.h"

#include <fcntl.h>
#include <ftw.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace fuzzutil {

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void removePrivateDir() {
    // Depth first, without following links, and no shell involved.
    nftw(privateDir().c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

const std::string& privateDir() {
    static const std::string dir = [] {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/zav_fuzz.XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            perror("fuzz: cannot make the private temporary directory");
            abort();
        }
        return pattern;
    }();
    static const bool registered = atexit(removePrivateDir) == 0;
    (void)registered;
    return dir;
}

std::string pathIn(const char* name) { return privateDir() + "/" + name; }

void writeFileOrDie(const std::string& path, const uint8_t* data, size_t size) {
    // A new file rather than a truncated one: ext4 flushes a file truncated to zero and written
    // again when it is closed, which would slow every input down to the disk's pace.
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        perror(path.c_str());
        abort();
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        perror(path.c_str());
        abort();
    }
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) {
            perror(path.c_str());
            abort();
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    if (close(fd) != 0) abort();
}

std::string readFileOrDie(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        perror(path.c_str());
        abort();
    }
    std::string content;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0) content.append(buf, static_cast<size_t>(n));
    if (n < 0) abort();
    close(fd);
    return content;
}

void fail(const char* file, int line, const char* what) {
    char summary[512];
    snprintf(summary, sizeof(summary), "%s:%d: property broken: %s", file, line, what);
    // Printed where the sanitizers report, which stays open when the fuzzer closes stderr.
    __sanitizer_report_error_summary(summary);
    abort();
}

}  // namespace fuzzutil
