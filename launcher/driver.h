// The launcher's main line: debug option, the run sequence from the own file to the startup
// command, the working directory and its removal.
#pragma once

constexpr int WRK_DIR_SIZE = 1024;
constexpr int OS_CFG_VAR_SIZE = 1024;

// The working directory "<temp dir>/zav_rq_pkg_XXXXXXXX"; "" until createInstallDir made it.
extern char wrkDir[WRK_DIR_SIZE];
// Name of the variable holding the processor class: "ZAV_RQ_PKG_LINUX_PROCESSOR".
extern char osCfgVar[OS_CFG_VAR_SIZE];

// Debug level given by one argument: "++debug" 1; "++debug=N" N as atoi reads it, negative
// taken as 0; anything else 0.
int parseDebugLevel(const char* arg);

// Reads the debug level from argv[1]. When it is non-zero the option is taken out of the list
// (argv[0] stays the program path, the user's arguments follow). Returns the level.
int takeDebugOption(int* argc, char*** argv);

// Runs a package from the own file (argv[0]) to the startup command. The startup command's
// exit status; 1 after a failure of the launcher itself (its message has been shown).
int extractAndExecute(int argc, char** argv);

// Makes a new working directory under the temporary directory with mode 0700, atomically,
// starting at the process id and taking the next number while the name is taken, and enters
// it. 0; 1 after showing a message (wrkDir is then "" unless the directory was made).
int createInstallDir();

// The command's result from os_system_linux, unchanged.
int executeApplication(const char* command);

// Removes the working directory when there is one (leaving it first).
void cleanup();

// The whole program: debug option, run, progress lines, last shell, clean-up. The exit code.
int launcherMain(int argc, char** argv);
