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

#define KERNEL_LEVEL_SIZE 128

// Filled once per process by the collectors; null pointers mean "not identified yet".
extern const char* s_distroName;
extern int s_distroLevel;
extern int s_updateLevel;
extern char s_szKernelLevel[KERNEL_LEVEL_SIZE];
extern const char* s_szCPU;

// The release files looked at, in this order: "/etc/redhat-release", "/etc/SuSE-release".
// Tests point them at files of their own.
extern const char* s_szRedhatReleaseFile;
extern const char* s_szSuseReleaseFile;

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
// s_distroLevel and s_updateLevel from the number after key: "L.U" when a dot follows the key
// anywhere in the text, else "L" with the update level after "Update ". 0 without key.
void getDistroLevel(const char* text, const char* key);
void collectOsLevelInfo();
void collectProcessorInfo();
// Identifies the system (once) and sets the six variables (every call).
void setOsInfoEnvVars(const char* origDir);
// "Linux %s release %d update %d kernel %s (for %s)\n", cut to size - 1 and always terminated.
char* getOsInfoDesc(char* buf, int size);
