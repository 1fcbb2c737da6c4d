// The launcher's error output, shared by every launcher module (the debug level is the run's,
// in launcher/context.h).
#pragma once

#include <cstddef>

#include "launcher/os/commands.h"

// Capacity of the buffer showError composes every message in.
constexpr int STDERR_MSG_SIZE = 2048;

// Flushes standard output, so that the order of both streams is kept when they are captured
// together, then writes message to standard error verbatim (never as a format) and pauses briefly.
// title and flag are accepted for the callers that pass them; a console launcher shows neither.
void displayMessages(const char* message, const char* title = nullptr, int flag = 0);

// Formats into the message buffer and shows it. A message that would not fit is not shown cut:
// a fixed notice that the message was too long is shown instead. Returns 0, or -1 when cut.
int showError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The notice showError shows in place of a message that would not fit.
constexpr char c_messageTooLongNotice[] = "Error message too long to show (limit 2047 characters)\n";

// Prints "\n<prompt> ...Type 'exit' to resume...\n\n", runs an interactive "sh" in the current
// directory through runner (its result is not looked at), then prints "\n".
void cmdShell(const CommandRunner* runner, const char* prompt);
