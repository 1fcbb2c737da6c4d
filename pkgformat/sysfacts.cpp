#include "pkgformat/sysfacts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "pkgformat/decimal.h"
#include "common/banned.h"

const char* const c_distroName_REDHAT = "RedHat";
const char* const c_distroName_SUSE = "SuSE";
const char* const c_distroName_NLD = "NLD";
const char* const c_distroName_UNKNOWN = "Unknown";
const char* const c_szCPU_I386 = "i386";
const char* const c_szCPU_X86_64 = "x86_64";
const char* const c_szCPU_ppc64 = "ppc64";
const char* const c_szCPU_UNKNOWN = "Unknown";

namespace {

// End of a field that stops at the first stop character, or at the end of the text.
size_t fieldLength(const char* field, char stop) {
    const char* end = strchr(field, stop);
    return end ? static_cast<size_t>(end - field) : strlen(field);
}

int notNegative(int value) { return value < 0 ? 0 : value; }

// 1 when path exists and is not a folder.
bool fileExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

int readFileToBuf(const char* path, char* buf, int size) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    long n = size > 0 ? static_cast<long>(read(fd, buf, static_cast<size_t>(size))) : 0;
    close(fd);
    if (n < 0) return 0;
    return static_cast<int>(n);
}

void trimTrailingSpaces(char* str) {
    size_t n = strlen(str);
    while (n > 0 && static_cast<signed char>(str[n - 1]) <= 32) str[--n] = '\0';
}

namespace {

int updateAfter(const char* text, const char* key) {
    const char* p = strstr(text, key);
    if (p == nullptr) return 0;
    const char* field = p + strlen(key);
    return notNegative(readDecimal(field, fieldLength(field, ')')));
}

}  // namespace

void parseDistroLevel(const char* text, const char* key, int* level, int* update) {
    const char* p = strstr(text, key);
    if (p == nullptr) {
        *level = 0;
        *update = 0;
        return;
    }
    const char* field = p + strlen(key);
    const char* dot = strchr(field, '.');
    if (dot != nullptr) {
        *level = notNegative(readDecimal(field, static_cast<size_t>(dot - field)));
        *update = notNegative(readDecimal(dot + 1, fieldLength(dot + 1, ' ')));
    } else {
        *level = notNegative(readDecimal(field, fieldLength(field, ' ')));
        // The whole text is searched, not just the part after the key.
        *update = updateAfter(text, "Update ");
    }
}

void getUpdateLevel(SystemFacts* facts, const char* text, const char* key) { facts->update = updateAfter(text, key); }

void getDistroLevel(SystemFacts* facts, const char* text, const char* key) {
    parseDistroLevel(text, key, &facts->level, &facts->update);
}

void setDistroName(SystemFacts* facts, const char* name) { snprintf(facts->name, sizeof(facts->name), "%s", name); }

bool needsUnameM(const char* unameI) { return !unameI || unameI[0] == '\0' || strcasecmp(unameI, "unknown") == 0; }

namespace {

// Reads a release file into buf (RELEASE_TEXT_SIZE bytes; terminated, trimmed) and shows it in
// debug mode. False when the file does not exist.
bool readReleaseText(const char* path, char* buf, int debug) {
    buf[0] = '\0';
    if (!fileExists(path)) return false;
    int n = readFileToBuf(path, buf, RELEASE_TEXT_SIZE - 1);
    buf[n] = '\0';
    trimTrailingSpaces(buf);
    if (debug && n > 0) printf("++ %s --> '%s'\n", path, buf);
    return true;
}

// Value of "KEY=value" at the start of a line of an os-release text, without one pair of
// surrounding quotes, into out. False when the key is missing or the value does not fit.
bool osReleaseValue(const char* text, const char* key, char* out, size_t size) {
    size_t keyLen = strlen(key);
    for (const char* line = text; *line;) {
        const char* end = strchr(line, '\n');
        size_t len = end ? static_cast<size_t>(end - line) : strlen(line);
        if (len > keyLen && strncmp(line, key, keyLen) == 0 && line[keyLen] == '=') {
            const char* v = line + keyLen + 1;
            size_t vlen = len - keyLen - 1;
            if (vlen > 0 && v[vlen - 1] == '\r') --vlen;
            if (vlen >= 2 && (v[0] == '"' || v[0] == '\'') && v[vlen - 1] == v[0]) {
                ++v;
                vlen -= 2;
            }
            if (vlen >= size) return false;
            memcpy(out, v, vlen);
            out[vlen] = '\0';
            return true;
        }
        if (!end) break;
        line = end + 1;
    }
    return false;
}

// Only the characters os-release allows in an ID: the name goes into the environment and on screen.
bool isPlainId(const char* id) {
    if (*id == '\0') return false;
    for (const char* c = id; *c; ++c)
        if (!(isalnum(static_cast<unsigned char>(*c)) || *c == '.' || *c == '_' || *c == '-')) return false;
    return true;
}

void distroFromOsRelease(const char* text, SystemFacts* facts) {
    char id[DISTRO_NAME_SIZE];
    if (!osReleaseValue(text, "ID", id, sizeof(id)) || !isPlainId(id)) return;
    if (strcmp(id, "sles") == 0 || strcmp(id, "opensuse-leap") == 0) {
        setDistroName(facts, c_distroName_SUSE);
    } else {
        id[0] = static_cast<char>(toupper(static_cast<unsigned char>(id[0])));
        setDistroName(facts, id);
    }
    char version[64];
    if (!osReleaseValue(text, "VERSION_ID", version, sizeof(version))) return;
    const char* dot = strchr(version, '.');
    facts->level = notNegative(readDecimal(version, dot ? static_cast<size_t>(dot - version) : strlen(version)));
    facts->update = dot ? notNegative(readDecimal(dot + 1)) : 0;
}

}  // namespace

int readReleaseTexts(const char* root, ReleaseTexts* texts, int debug) {
    texts->hasRedhat = texts->hasSuse = texts->hasOsRelease = false;
    texts->redhat[0] = texts->suse[0] = texts->osRelease[0] = '\0';
    const char* sep = root[0] != '\0' && root[strlen(root) - 1] == '/' ? "" : "/";
    char path[1024];
    const struct {
        const char* name;
        bool* has;
        char* text;
    } files[] = {
        {"etc/redhat-release", &texts->hasRedhat, texts->redhat},
        {"etc/SuSE-release", &texts->hasSuse, texts->suse},
        {"etc/os-release", &texts->hasOsRelease, texts->osRelease},
    };
    for (const auto& f : files) {
        int n = snprintf(path, sizeof(path), "%s%s%s", root, sep, f.name);
        if (n < 0 || static_cast<size_t>(n) >= sizeof(path)) return -1;
    }
    // Only up to the first file present: the later ones are never looked at.
    for (const auto& f : files) {
        snprintf(path, sizeof(path), "%s%s%s", root, sep, f.name);
        *f.has = readReleaseText(path, f.text, debug);
        if (*f.has) break;
    }
    return 0;
}

void distroFromReleaseTexts(const ReleaseTexts* texts, SystemFacts* facts) {
    setDistroName(facts, c_distroName_UNKNOWN);
    facts->level = 0;
    facts->update = 0;
    if (texts->hasRedhat) {
        setDistroName(facts, c_distroName_REDHAT);
        parseDistroLevel(texts->redhat, "release ", &facts->level, &facts->update);
    } else if (texts->hasSuse) {
        setDistroName(facts, strncmp(texts->suse, "Novell", 6) == 0 ? c_distroName_NLD : c_distroName_SUSE);
        parseDistroLevel(texts->suse, "VERSION = ", &facts->level, &facts->update);
    } else if (texts->hasOsRelease) {
        distroFromOsRelease(texts->osRelease, facts);
    }
}

const char* processorClass(const char* unameI, const char* unameM) {
    const char* const known[] = {c_szCPU_I386, c_szCPU_X86_64, c_szCPU_ppc64};
    if (!needsUnameM(unameI)) {
        for (const char* cpu : known)
            if (strcasecmp(unameI, cpu) == 0) return cpu;
        return c_szCPU_UNKNOWN;
    }
    if (!unameM) return c_szCPU_UNKNOWN;
    if (strlen(unameM) == 4 && tolower(static_cast<unsigned char>(unameM[0])) == 'i' && unameM[1] >= '3' &&
        unameM[1] <= '6' && strcmp(unameM + 2, "86") == 0)
        return c_szCPU_I386;
    for (const char* cpu : known)
        if (strcasecmp(unameM, cpu) == 0) return cpu;
    return c_szCPU_UNKNOWN;
}

char* describeSystem(const SystemFacts* facts, char* buf, int size) {
    if (size <= 0) return buf;
    // Cut to the buffer: this line is only shown, never run.
    snprintf(buf, static_cast<size_t>(size), "Linux %s release %d update %d kernel %s (for %s)\n", facts->name,
             facts->level, facts->update, facts->kernel, facts->processor);
    buf[size - 1] = '\0';
    return buf;
}
