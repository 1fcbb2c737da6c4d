// An identified system as a value, and the pure half of identifying one: the names the launcher
// reports, the release files and what they say, the processor class from uname's answers, the
// description line. What the launcher finds for its own machine (sysident), or what a tool
// describes for another one; the clause matcher and the description line take it. Reads files,
// runs nothing: the caller gets uname's answers its own way.
#pragma once

constexpr int DISTRO_NAME_SIZE = 32;
constexpr int KERNEL_LEVEL_SIZE = 128;
constexpr int PROCESSOR_CLASS_SIZE = 16;

struct SystemFacts {
    char name[DISTRO_NAME_SIZE];  // "RedHat", "SuSE", "NLD", an os-release name, "Unknown"
    int level;
    int update;
    char kernel[KERNEL_LEVEL_SIZE];
    char processor[PROCESSOR_CLASS_SIZE];  // "i386", "x86_64", "ppc64" or "Unknown"
};

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

// True when `uname -i` answered nothing usable (failed, "" or "unknown" in any case), so that
// `uname -m` is asked.
bool needsUnameM(const char* unameI);

// Up to size bytes of the file in one read; 0 on failure (only a negative descriptor fails to
// open). Adds no terminator.
int readFileToBuf(const char* path, char* buf, int size);
// Cuts trailing bytes whose signed value is at most 32 (blanks, controls, 0x80..0xFF).
void trimTrailingSpaces(char* str);
// facts->update := the number after key, up to ")" or the end; 0 without key; never negative.
void getUpdateLevel(SystemFacts* facts, const char* text, const char* key);
// *level and *update from the number after key: "L.U" when a dot follows the key anywhere in the
// text, else "L" with the update level after "Update ". Both 0 without key; never negative.
void parseDistroLevel(const char* text, const char* key, int* level, int* update);
// facts->level and facts->update as parseDistroLevel reads them.
void getDistroLevel(SystemFacts* facts, const char* text, const char* key);
// Sets facts->name, cut to DISTRO_NAME_SIZE - 1.
void setDistroName(SystemFacts* facts, const char* name);

// "Linux %s release %d update %d kernel %s (for %s)\n" for facts, cut to size - 1 and always
// terminated.
char* describeSystem(const SystemFacts* facts, char* buf, int size);
