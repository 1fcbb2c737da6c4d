// Starting a shell command as a child, in a process group of its own (or the caller's), and
// reading its wait status the way a shell reports it. pkgstub and nicburn start every child
// through this.
#pragma once

#include <sys/types.h>

#include <cstddef>

// Flushes stdout and stderr (what was printed so far comes before the child's output), then
// forks /bin/sh -c cmd in a new process group (the terminal's Ctrl-C and Ctrl-\ do not reach
// it; a signal can be passed to the whole group). The child's pid, or -1 when fork fails; a
// child that cannot run /bin/sh exits 127.
pid_t startShellGroup(const char* cmd);

// A wait status as a shell reports it: the exit code (0-255) of a normal exit, 128 + the signal
// number when the child was killed, otherwise for anything else.
int shellStatus(int status, int otherwise);

// startShellGroup with choices (startShellGroup is startShellChild(cmd, true, nullptr, 0)), for
// a command that must not be cut short and may read the terminal. Each of the count signals in
// ignored is set to be ignored in the child before /bin/sh starts (an ignored signal stays
// ignored across exec). With ownGroup the child gets a process group of its own; without, it
// stays in the caller's group, so that when the caller is the terminal's foreground group the
// child may read and set the terminal instead of being stopped by SIGTTIN or SIGTTOU (the
// terminal's interrupt keys then reach it too: ignore them).
pid_t startShellChild(const char* cmd, bool ownGroup, const int* ignored, size_t count);
