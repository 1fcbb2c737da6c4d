// Signals that end a run only between two commands.
//
// After installInterruptHandlers, SIGINT, SIGQUIT, SIGTERM, SIGHUP and SIGPIPE are only noted:
// a vendor command that is running finishes, and the callers ask pendingSignal() after each
// command and start no further one. SIGPIPE comes when the screen is lost (an ssh session
// without a terminal dropped): the run ends as after the others, and every later write to the
// screen just fails (EPIPE) instead of killing the tool. A signal that was ignored when the
// program started stays ignored (a run under nohup keeps running when the session ends).
#pragma once

void installInterruptHandlers();

// The first signal noted since installInterruptHandlers, or 0.
int pendingSignal();
