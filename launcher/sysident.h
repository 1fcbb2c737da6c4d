// System identification: distribution, release and update level, kernel, processor class,
// exported as the six ZAV_RQ_PKG_* environment variables.
#pragma once

#include "launcher/context.h"
#include "launcher/systemfacts.h"

extern const char* const c_distroName_REDHAT;   // "RedHat"
extern const char* const c_distroName_SUSE;     // "SuSE"
extern const char* const c_distroName_NLD;      // "NLD"
extern const char* const c_distroName_UNKNOWN;  // "Unknown"
extern const char* const c_szCPU_I386;          // "i386"
extern const char* const c_szCPU_X86_64;        // "x86_64"
extern const char* const c_szCPU_ppc64;         // "ppc64"
extern const char* const c_szCPU_UNKNOWN;       // "Unknown"

constexpr int RELEASE_TEXT_SIZE = 2048;

// The release files of a system, read in this order up to the first that exists (the later ones
// then count as absent), each up to RELEASE_TEXT_SIZE - 1 bytes, terminated and trimmed. A file
// that exists but cannot be read counts as present with an empty text.
struct ReleaseTexts {
    bool hasRedhat, hasSuse, hasOsRelease;
    char redhat[RELEASE_TEXT_SIZE];     // etc/redhat-release
    char suse[RELEASE_TEXT_SIZE];       // etc/SuSE-release
    char osRelease[RELEASE_TEXT_SIZE];  // etc/os-release
};

// Reads the release files under root ("/" for this system). Returns 0, or -1 (texts all
// absent) when root is too long for a path. With debug on shows each text read.
int readReleaseTexts(const char* root, ReleaseTexts* texts, int debug);

// Name, level and update from the texts, by the first file present: redhat-release, then
// SuSE-release, then os-release (ID gives the name: "sles" and "opensuse-leap" give "SuSE",
// another ID itself with a capital first letter; VERSION_ID "L.U" gives level and update). An
// os-release without a usable ID (missing, empty, longer than DISTRO_NAME_SIZE - 1) and no file
// at all give "Unknown", 0, 0. Leaves kernel and processor as they are.
void distroFromReleaseTexts(const ReleaseTexts* texts, SystemFacts* facts);

// The processor class from the outputs of `uname -i` and `uname -m` (trimmed; null when the
// command failed). An answer of `uname -i` other than "unknown" decides alone: "i386", "x86_64",
// "ppc64" (any case), else "Unknown". Otherwise `uname -m`: "i386" to "i686" give "i386",
// "x86_64", "ppc64"; anything else "Unknown". Returns one of the c_szCPU_* constants.
const char* processorClass(const char* unameI, const char* unameM);

// The facts identified in ctx (defaults for what is not identified yet).
void currentSystemFacts(const LauncherContext* ctx, SystemFacts* facts);

// Up to size bytes of the file in one read; 0 on failure (only a negative descriptor fails to
// open). Adds no terminator.
int readFileToBuf(const char* path, char* buf, int size);
// Cuts trailing bytes whose signed value is at most 32 (blanks, controls, 0x80..0xFF).
void trimTrailingSpaces(char* str);
// Output of `uname option` into buf (at most size bytes, no terminator); 0 on failure. The
// output passes through a file of this process's own (mkstemp in ctx's temporary directory),
// removed on every path. The command goes through ctx's runner.
int unameExec(const LauncherContext* ctx, const char* option, char* buf, int size);
// facts->update := the number after key, up to ")" or the end; 0 without key; never negative.
void getUpdateLevel(SystemFacts* facts, const char* text, const char* key);
// *level and *update from the number after key: "L.U" when a dot follows the key anywhere in the
// text, else "L" with the update level after "Update ". Both 0 without key; never negative.
void parseDistroLevel(const char* text, const char* key, int* level, int* update);
// facts->level and facts->update as parseDistroLevel reads them.
void getDistroLevel(SystemFacts* facts, const char* text, const char* key);
// Identifies the distribution (name, level, update) from the release files under root and the
// kernel from `uname -r`, into ctx->system, once per context (ctx->distroKnown).
void collectOsLevelInfoFrom(LauncherContext* ctx, const char* root);
void collectOsLevelInfo(LauncherContext* ctx);  // from "/"
// The processor class into ctx->system, once per context (ctx->processorKnown).
void collectProcessorInfo(LauncherContext* ctx);
// Identifies the system (once per context) and sets the six variables (every call).
void setOsInfoEnvVars(LauncherContext* ctx, const char* origDir);
// "Linux %s release %d update %d kernel %s (for %s)\n" for ctx's system, cut to size - 1 and
// always terminated.
char* getOsInfoDesc(const LauncherContext* ctx, char* buf, int size);
// The same line for given facts.
char* describeSystem(const SystemFacts* facts, char* buf, int size);
