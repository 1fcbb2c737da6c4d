#include "nicupdate/interrupt.h"

#include <signal.h>

#include "common/signals.h"
#include "common/banned.h"

static volatile sig_atomic_t s_pendingSignal = 0;

static void noteSignal(int sig) {
    if (s_pendingSignal == 0) s_pendingSignal = sig;
}

void installInterruptHandlers() {
    catchRunSignals(noteSignal);
    catchSignal(SIGPIPE, noteSignal);
}

int pendingSignal() { return s_pendingSignal; }
