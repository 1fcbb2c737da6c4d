// The launcher's one child module: every process it starts, and the signals that end a run.
//
// After guardPackage, SIGINT, SIGQUIT, SIGTERM and SIGHUP are only noted by the launcher (never
// lost while a child runs) and passed on to the process group of the package's latest command;
// the launcher is their child subreaper, so processes that lose their parent stay its children
// and it can wait until the last of them has ended before it removes the working directory. A
// signal ignored when the launcher started stays ignored, also in every child.
#pragma once

// How long the package's processes get, after the first signal, to end on their own; then
// what is left is killed with SIGKILL and named on standard error. Below the 30 s the fleet
// roll-out's timeout gives between its SIGTERM and its SIGKILL.
constexpr int c_packageGraceSeconds = 20;

// A wait status as a shell reports it: the exit code (0-255) of a normal exit, 128 + the signal
// number when the child was killed, 255 when no shell could be started (status -1).
int decodeWaitStatus(int status);

// graceMs: the grace period after a signal (tests shorten it).
void guardPackage(int graceMs = c_packageGraceSeconds * 1000);

// The first signal noted since guardPackage, or 0.
int packageSignal();

// Runs cmd with /bin/sh -c in a process group of its own and waits for it, passing every noted
// signal on to that group. While the launcher is the foreground of its terminal, the package's
// group is made the foreground instead, so a command may read the terminal; the terminal's
// SIGINT, SIGQUIT and SIGHUP then reach the package directly, and a command killed by one counts
// as the launcher's noted signal. The launcher takes the terminal back afterwards. A package
// process that stops (waiting for the terminal while the launcher runs in the background) is
// named on standard error; once the launcher is in the foreground again the package gets the
// terminal and is continued. A Ctrl-Z that stops the command stops the launcher with it. Once a
// signal is noted it waits on until no child of the launcher is left, at most the grace period
// (then SIGKILL). Returns the result as decodeWaitStatus gives it; 128 + the signal, without
// starting anything, when a signal was noted before.
int runPackageCommand(const char* cmd);

// Runs one of the launcher's own commands (uname, cp, chmod...) with /bin/sh -c in the
// launcher's process group and waits for it; a signal is only noted meanwhile (the caller checks
// packageSignal afterwards). 128 + the signal, without starting anything, when one was noted.
int runPlainCommand(const char* cmd);

// Runs a shell or editor for the user at the terminal, as system() does: in the launcher's
// (foreground) group, SIGINT and SIGQUIT ignored by the launcher while it runs and at their
// default in the child, so a Ctrl-C there does not end the package. SIGTERM and SIGHUP are still
// noted. 128 + the signal, without starting anything, when one was noted before.
int runInteractiveCommand(const char* cmd);

// Passes noted signals on and waits until no child of the launcher is left; after a signal at
// most the grace period, then SIGKILL to what is left.
void waitForPackage();
