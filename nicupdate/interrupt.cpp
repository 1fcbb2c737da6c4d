#include "nicupdate/interrupt.h"

#include <signal.h>

#include <cstring>

#include "common/banned.h"

static volatile sig_atomic_t s_pendingSignal = 0;

static const int c_interruptSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

static void noteSignal(int sig) {
    if (s_pendingSignal == 0) s_pendingSignal = sig;
}

void installInterruptHandlers() {
    for (int sig : c_interruptSignals) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa;
        memset(&sa, 0, sizeof(sa));
        sa.sa_handler = noteSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

int pendingSignal() { return s_pendingSignal; }

const char* signalName(int sig) {
    switch (sig) {
        case SIGINT: return "SIGINT";
        case SIGQUIT: return "SIGQUIT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "signal";
    }
}
