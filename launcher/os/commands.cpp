#include "launcher/os/commands.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "common/banned.h"

int decodeWaitStatus(int status) {
    if (status == -1) return 255;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 255;
}

int os_system_linux(const char* cmd) {
    if (cmd == nullptr) return 255;
    // The child writes to the same streams; what we printed so far must come first.
    fflush(stdout);
    fflush(stderr);
    return decodeWaitStatus(system(cmd));
}

namespace {

// Formats into the composition buffer and runs the result; CMD_TOO_LONG when it would not fit.
int runComposed(const char* format, ...) __attribute__((format(printf, 1, 2)));
int runComposed(const char* format, ...) {
    char cmd[CMD_COMPOSE_SIZE];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(cmd, sizeof(cmd), format, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(cmd)) return CMD_TOO_LONG;
    return os_system_linux(cmd);
}

// Callers test these with '!': a command refused for its length is a failure like any other.
int asSuccess(int result) { return result == 0 ? 1 : 0; }

const char c_copyFileFormat[] = "/bin/cp \"%s\" \"%s\"";

}  // namespace

bool copyFileFits(const char* src, const char* dst) {
    char cmd[CMD_COMPOSE_SIZE];
    int n = snprintf(cmd, sizeof(cmd), c_copyFileFormat, src, dst);
    return n >= 0 && static_cast<size_t>(n) < sizeof(cmd);
}

int makeDir(const char* path) { return asSuccess(runComposed("mkdir -p \"%s\"", path)); }

int deleteTree(const char* path) { return asSuccess(runComposed("rm -rf \"%s\"", path)); }

int copyFile(const char* src, const char* dst) {
    return asSuccess(runComposed(c_copyFileFormat, src, dst));
}

int copyTree(const char* src, const char* dst) {
    return asSuccess(runComposed("/bin/cp -r \"%s\" \"%s\"", src, dst));
}

int launchTextEditor(const char* path) { return runComposed("vi \"%s\"", path); }

void sleepSec(unsigned secs) { sleep(secs); }

const char* getDefaultOutputDir() { return "/var/log/ZAV_Support/"; }

int quoteForShell(char* dst, size_t size, const char* text) {
    size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 >= size) return false;
        dst[n++] = c;
        return true;
    };
    bool ok = size > 0 && put('\'');
    for (const char* p = text; ok && *p; ++p) {
        if (*p == '\'')
            ok = put('\'') && put('\\') && put('\'') && put('\'');
        else
            ok = put(*p);
    }
    ok = ok && put('\'');
    if (!ok) {
        if (size > 0) dst[0] = '\0';
        return -1;
    }
    dst[n] = '\0';
    return 0;
}
