// System identification: distribution, release and update level, kernel, processor class,
// exported as the six ZAV_RQ_PKG_* environment variables.
#pragma once

extern const char* const c_distroName_REDHAT;   // "RedHat"
extern const char* const c_distroName_SUSE;     // "SuSE"
extern const char* const c_distroName_NLD;      // "NLD"
extern const char* const c_distroName_UNKNOWN;  // "Unknown"
extern const char* const c_szCPU_I386;          // "i386"
extern const char* const c_szCPU_X86_64;        // "x86_64"
extern const char* const c_szCPU_ppc64;         // "ppc64"
extern const char* const c_szCPU_UNKNOWN;       // "Unknown"

constexpr int KERNEL_LEVEL_SIZE = 128;

// Filled once per process by the collectors; null pointers mean "not identified yet".
extern const char* s_distroName;
extern int s_distroLevel;
extern int s_updateLevel;
extern char s_szKernelLevel[KERNEL_LEVEL_SIZE];
extern const char* s_szCPU;

constexpr int DISTRO_NAME_SIZE = 32;
constexpr int PROCESSOR_CLASS_SIZE = 16;
constexpr int RELEASE_TEXT_SIZE = 2048;

// An identified system as a value: what the collectors find for this machine, or what a tool
// describes for another one. The clause matcher and the description line take it.
struct SystemFacts {
    char name[DISTRO_NAME_SIZE];            // "RedHat", "SuSE", "NLD", an os-release name, "Unknown"
    int level;
    int update;
    char kernel[KERNEL_LEVEL_SIZE];
    char processor[PROCESSOR_CLASS_SIZE];   // "i386", "x86_64", "ppc64" or "Unknown"
};

// The release files of a system, read in this order up to the first that exists (the later ones
// then count as absent), each up to RELEASE_TEXT_SIZE - 1 bytes, terminated and trimmed. A file
// that exists but cannot be read counts as present with an empty text.
struct ReleaseTexts {
    bool hasRedhat, hasSuse, hasOsRelease;
    char redhat[RELEASE_TEXT_SIZE];      // etc/redhat-release
    char suse[RELEASE_TEXT_SIZE];        // etc/SuSE-release
    char osRelease[RELEASE_TEXT_SIZE];   // etc/os-release
};

// Reads the release files under root ("/" for this system). Returns 0, or -1 (texts all
// absent) when root is too long for a path. In debug mode shows each text read.
int readReleaseTexts(const char* root, ReleaseTexts* texts);

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

// The facts held by the collectors (defaults for what is not identified yet).
void currentSystemFacts(SystemFacts* facts);

// Up to size bytes of the file in one read; 0 on failure (only a negative descriptor fails to
// open). Adds no terminator.
int readFileToBuf(const char* path, char* buf, int size);
// Cuts trailing bytes whose signed value is at most 32 (blanks, controls, 0x80..0xFF).
void trimTrailingSpaces(char* str);
// Output of `uname option` into buf (at most size bytes, no terminator); 0 on failure. The
// output passes through a file of this process's own (mkstemp in the temporary directory),
// removed on every path.
int unameExec(const char* option, char* buf, int size);
// s_updateLevel := the number after key, up to ")" or the end; 0 without key; never negative.
void getUpdateLevel(const char* text, const char* key);
// *level and *update from the number after key: "L.U" when a dot follows the key anywhere in the
// text, else "L" with the update level after "Update ". Both 0 without key; never negative.
void parseDistroLevel(const char* text, const char* key, int* level, int* update);
// s_distroLevel and s_updateLevel from the number after key: "L.U" when a dot follows the key
// anywhere in the text, else "L" with the update level after "Update ". 0 without key.
void getDistroLevel(const char* text, const char* key);
// Fills the distribution facts once per process, from the release files under root.
void collectOsLevelInfoFrom(const char* root);
void collectOsLevelInfo();  // from "/"
void collectProcessorInfo();
// Identifies the system (once) and sets the six variables (every call).
void setOsInfoEnvVars(const char* origDir);
// "Linux %s release %d update %d kernel %s (for %s)\n", cut to size - 1 and always terminated.
char* getOsInfoDesc(char* buf, int size);
// The same line for given facts.
char* describeSystem(const SystemFacts* facts, char* buf, int size);
