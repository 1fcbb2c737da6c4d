// Starting a shell command as a child, and reading its wait status the way a shell reports it.
// pkgstub and nicburn start every child through this.
#pragma once

#include <signal.h>
#include <sys/types.h>

// Flushes stdout and stderr (what was printed so far comes before the child's output), then
// forks /bin/sh -c cmd. Signals are blocked from before the fork until the child has put back
// the default action of every signal the caller handles (one ignored stays ignored, as under
// nohup) and of each signal in toDefault (may be null), so a signal meant for the caller is never
// taken by the child's copy of the caller's handler; the caller's handlers see it after the fork.
// ownGroup: the child gets a process group of its own (the terminal's Ctrl-C and Ctrl-\ do not
// reach it; a signal can be passed to the whole group); with a terminal descriptor >= 0 that
// group is also made the terminal's foreground group before /bin/sh runs. The child's pid, or -1
// when fork fails; a child that cannot run /bin/sh exits 127.
pid_t startShellChild(const char* cmd, bool ownGroup, int terminal, const sigset_t* toDefault);

// startShellChild in a process group of its own, no terminal handed over.
pid_t startShellGroup(const char* cmd);

// A wait status as a shell reports it: the exit code (0-255) of a normal exit, 128 + the signal
// number when the child was killed, otherwise for anything else.
int shellStatus(int status, int otherwise);
