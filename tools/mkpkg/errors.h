// Errors of mkpkg: one line that names the path or value and says what to do.
#pragma once

#include <stdexcept>
#include <string>

namespace mkpkg {

// A failure of the work itself; main prints "mkpkg: " + what() and exits with 1.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// A command line that cannot be used; main prints it with the command's usage and exits with 2.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// "cannot <action> '<path>': <strerror(err)>", for failed system calls.
std::string systemError(const std::string& action, const std::string& path, int err);

// text in single quotes, with control characters, backslashes and bytes >= 0x80 shown as
// escapes (\t, \r, \x01...), so that a message stays on one line and shows what is really there.
std::string quote(const std::string& text);

// text with the same escapes as quote(), without the quotes.
std::string visible(const std::string& text);

}  // namespace mkpkg
