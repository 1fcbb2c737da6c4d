// The processes of a package, and the signals that end a package run.
//
// After guardPackage, SIGINT, SIGQUIT, SIGTERM and SIGHUP are only noted by the launcher and
// passed on to the process group of the package's latest command; the launcher is their child
// subreaper, so processes that lose their parent stay its children and it can wait until the
// last of them has ended before it removes the working directory. A signal ignored when the
// launcher started stays ignored.
#pragma once

// A wait status as a shell reports it: the exit code (0-255) of a normal exit, 128 + the signal
// number when the child was killed, 255 when no shell could be started (status -1).
int decodeWaitStatus(int status);

void guardPackage();

// The first signal noted since guardPackage, or 0.
int packageSignal();

// Runs cmd with /bin/sh -c in a process group of its own (after flushing stdout and stderr)
// and waits for it, passing every noted signal on to that group. Once a
// signal is noted it waits on until no child of the launcher is left. Returns the result as
// decodeWaitStatus gives it; 128 + the signal, without starting anything, when a signal was
// noted before.
int runPackageCommand(const char* cmd);

// Passes noted signals on and waits until no child of the launcher is left.
void waitForPackage();
