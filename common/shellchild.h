// Starting a shell command as a child in a process group of its own, and reading its wait
// status the way a shell reports it. pkgstub and nicburn start every child through this.
#pragma once

#include <sys/types.h>

// Flushes stdout and stderr (what was printed so far comes before the child's output), then
// forks /bin/sh -c cmd in a new process group (the terminal's Ctrl-C and Ctrl-\ do not reach
// it; a signal can be passed to the whole group). The child's pid, or -1 when fork fails; a
// child that cannot run /bin/sh exits 127.
pid_t startShellGroup(const char* cmd);

// A wait status as a shell reports it: the exit code (0-255) of a normal exit, 128 + the signal
// number when the child was killed, otherwise for anything else.
int shellStatus(int status, int otherwise);
