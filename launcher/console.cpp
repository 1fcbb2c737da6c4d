#include "launcher/console.h"

#include <cstdarg>
#include <cstdio>

#include "launcher/os/commands.h"
#include "common/banned.h"

namespace {

// Every message is composed here before it is shown.
char stdErrMsg[STDERR_MSG_SIZE];

}  // namespace

void displayMessages(const char* message, const char* /*title*/, int /*flag*/) {
    // Whatever went to standard output before comes first, also when both are captured.
    fflush(stdout);
    fputs(message, stderr);
    // A short pause so that the message is seen before whatever comes next.
    for (volatile int i = 0; i <= 5000; i = i + 1) {
    }
}

int showError(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(stdErrMsg, sizeof(stdErrMsg), format, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(stdErrMsg)) {
        snprintf(stdErrMsg, sizeof(stdErrMsg), "%s", c_messageTooLongNotice);
        displayMessages(stdErrMsg);
        return -1;
    }
    displayMessages(stdErrMsg);
    return 0;
}

void cmdShell(const CommandRunner* runner, const char* prompt) {
    printf("\n%s ...Type 'exit' to resume...\n\n", prompt);
    runInteractiveShell(runner);
    printf("\n");
}
