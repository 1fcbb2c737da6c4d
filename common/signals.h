// The signals that end a run (SIGINT, SIGQUIT, SIGTERM, SIGHUP), shared by pkgstub and nicburn.
#pragma once

#include <signal.h>

inline constexpr int c_runSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// Installs handler for each of c_runSignals, except one that was ignored when the program
// started: it stays ignored (a run under nohup keeps running when the session ends).
void catchRunSignals(void (*handler)(int));

// Installs handler for sig by the same rule: not when sig was ignored at the start.
void catchSignal(int sig, void (*handler)(int));

// "SIGINT", "SIGQUIT", "SIGTERM", "SIGHUP", "SIGPIPE", else "signal".
const char* runSignalName(int sig);
