#include "common/signals.h"

#include <cstring>

#include "common/banned.h"

void catchSignal(int sig, void (*handler)(int)) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

void catchRunSignals(void (*handler)(int)) {
    for (int sig : c_runSignals) catchSignal(sig, handler);
}

const char* runSignalName(int sig) {
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGQUIT: return "SIGQUIT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE";
    default: return "signal";
    }
}
