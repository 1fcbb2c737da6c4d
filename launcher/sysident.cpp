#include "launcher/sysident.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "launcher/console.h"
#include "launcher/decimal.h"
#include "launcher/os/commands.h"
#include "launcher/os/fileio.h"
#include "launcher/os/paths.h"
#include "launcher/os/platform.h"

const char* const c_distroName_REDHAT = "RedHat";
const char* const c_distroName_SUSE = "SuSE";
const char* const c_distroName_NLD = "NLD";
const char* const c_distroName_UNKNOWN = "Unknown";
const char* const c_szCPU_I386 = "i386";
const char* const c_szCPU_X86_64 = "x86_64";
const char* const c_szCPU_ppc64 = "ppc64";
const char* const c_szCPU_UNKNOWN = "Unknown";

const char* s_distroName = nullptr;
int s_distroLevel = 0;
int s_updateLevel = 0;
char s_szKernelLevel[KERNEL_LEVEL_SIZE] = "Unknown";
const char* s_szCPU = nullptr;

const char* s_szRedhatReleaseFile = "/etc/redhat-release";
const char* s_szSuseReleaseFile = "/etc/SuSE-release";

namespace {

const int c_releaseBufSize = 2048;
const int c_unameBufSize = 2048;

// End of a field that stops at the first stop character, or at the end of the text.
size_t fieldLength(const char* field, char stop) {
    const char* end = strchr(field, stop);
    return end ? static_cast<size_t>(end - field) : strlen(field);
}

int notNegative(int value) { return value < 0 ? 0 : value; }

}  // namespace

int readFileToBuf(const char* path, char* buf, int size) {
    int fd = fd_open(path);
    if (fd < 0) return 0;
    long n = size > 0 ? fd_read(fd, buf, static_cast<size_t>(size)) : 0;
    fd_close(fd);
    if (n < 0) return 0;
    return static_cast<int>(n);
}

void trimTrailingSpaces(char* str) {
    size_t n = strlen(str);
    while (n > 0 && static_cast<signed char>(str[n - 1]) <= 32) str[--n] = '\0';
}

int unameExec(const char* option, char* buf, int size) {
    char outPath[1024];
    int n = snprintf(outPath, sizeof(outPath), "%s%czav_rq_pkg_uname.XXXXXX", s_szTempDir, FILE_SEPARATOR);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(outPath)) return 0;
    // Created exclusively, mode 0600: nobody else can have prepared or swap this name.
    int fd = mkstemp(outPath);
    if (fd < 0) return 0;
    fd_close(fd);

    int count = 0;
    char quoted[CMD_COMPOSE_SIZE];
    char cmd[CMD_COMPOSE_SIZE];
    if (quoteForShell(quoted, sizeof(quoted), outPath) == 0) {
        n = snprintf(cmd, sizeof(cmd), "uname %s >%s 2>%s", option, quoted, DEV_NULL);
        if (n > 0 && static_cast<size_t>(n) < sizeof(cmd) && os_system_linux(cmd) == 0)
            count = readFileToBuf(outPath, buf, size);
    }
    remove(outPath);
    return count;
}

void getUpdateLevel(const char* text, const char* key) {
    const char* p = strstr(text, key);
    if (p == nullptr) {
        s_updateLevel = 0;
        return;
    }
    const char* field = p + strlen(key);
    s_updateLevel = notNegative(readDecimal(field, fieldLength(field, ')')));
}

void getDistroLevel(const char* text, const char* key) {
    const char* p = strstr(text, key);
    if (p == nullptr) {
        s_distroLevel = 0;
        s_updateLevel = 0;
        return;
    }
    const char* field = p + strlen(key);
    const char* dot = strchr(field, '.');
    if (dot != nullptr) {
        s_distroLevel = notNegative(readDecimal(field, static_cast<size_t>(dot - field)));
        s_updateLevel = notNegative(readDecimal(dot + 1, fieldLength(dot + 1, ' ')));
    } else {
        s_distroLevel = notNegative(readDecimal(field, fieldLength(field, ' ')));
        // The whole text is searched, not just the part after the key.
        getUpdateLevel(text, "Update ");
    }
}

namespace {

// Reads a release file into buf (terminated, trimmed) and shows it in debug mode.
void readReleaseText(const char* path, char* buf) {
    int n = readFileToBuf(path, buf, c_releaseBufSize - 1);
    buf[n] = '\0';
    trimTrailingSpaces(buf);
    if (g_OpModeDEBUG && n > 0) printf("++ %s --> '%s'\n", path, buf);
}

}  // namespace

void collectOsLevelInfo() {
    if (s_distroName != nullptr) return;
    s_distroName = c_distroName_UNKNOWN;
    s_distroLevel = 0;

    int n = unameExec("-r", s_szKernelLevel, KERNEL_LEVEL_SIZE - 1);
    s_szKernelLevel[n] = '\0';
    trimTrailingSpaces(s_szKernelLevel);
    if (g_OpModeDEBUG && n > 0) printf("++ uname -r --> '%s'\n", s_szKernelLevel);
    if (s_szKernelLevel[0] == '\0') snprintf(s_szKernelLevel, sizeof(s_szKernelLevel), "%s", "Unknown");

    char text[c_releaseBufSize];
    if (fileExists(s_szRedhatReleaseFile)) {
        s_distroName = c_distroName_REDHAT;
        readReleaseText(s_szRedhatReleaseFile, text);
        getDistroLevel(text, "release ");
    } else if (fileExists(s_szSuseReleaseFile)) {
        readReleaseText(s_szSuseReleaseFile, text);
        s_distroName = strncmp(text, "Novell", 6) == 0 ? c_distroName_NLD : c_distroName_SUSE;
        getDistroLevel(text, "VERSION = ");
    }
}

void collectProcessorInfo() {
    if (s_szCPU != nullptr) return;
    s_szCPU = c_szCPU_UNKNOWN;
    char text[c_unameBufSize];
    int n = unameExec("-i", text, c_unameBufSize - 1);
    if (n == 0) return;
    text[n] = '\0';
    trimTrailingSpaces(text);
    if (g_OpModeDEBUG) printf("++ uname -i --> '%s'\n", text);
    if (strcasecmp(text, c_szCPU_I386) == 0)
        s_szCPU = c_szCPU_I386;
    else if (strcasecmp(text, c_szCPU_X86_64) == 0)
        s_szCPU = c_szCPU_X86_64;
    else if (strcasecmp(text, c_szCPU_ppc64) == 0)
        s_szCPU = c_szCPU_ppc64;
}

void setOsInfoEnvVars(const char* origDir) {
    collectOsLevelInfo();
    collectProcessorInfo();
    char number[16];
    setenv("ZAV_RQ_PKG_ORIG_CURR_DIR", origDir, 1);
    setenv("ZAV_RQ_PKG_LINUX_DISTRO_NAME", s_distroName, 1);
    snprintf(number, sizeof(number), "%d", s_distroLevel);
    setenv("ZAV_RQ_PKG_LINUX_DISTRO_LEVEL", number, 1);
    snprintf(number, sizeof(number), "%d", s_updateLevel);
    setenv("ZAV_RQ_PKG_LINUX_UPDATE_LEVEL", number, 1);
    setenv("ZAV_RQ_PKG_LINUX_KERNEL_LEVEL", s_szKernelLevel, 1);
    setenv("ZAV_RQ_PKG_LINUX_PROCESSOR", s_szCPU, 1);
}

char* getOsInfoDesc(char* buf, int size) {
    if (size <= 0) return buf;
    // Cut to the buffer: this line is only shown, never run.
    snprintf(buf, static_cast<size_t>(size), "Linux %s release %d update %d kernel %s (for %s)\n",
             s_distroName ? s_distroName : c_distroName_UNKNOWN, s_distroLevel, s_updateLevel, s_szKernelLevel,
             s_szCPU ? s_szCPU : c_szCPU_UNKNOWN);
    buf[size - 1] = '\0';
    return buf;
}
