#include "tools/mkpkg/errors.h"

#include <cstdio>
#include <cstring>

#include "common/banned.h"

namespace mkpkg {

std::string systemError(const std::string& action, const std::string& path, int err) {
    return "cannot " + action + " " + quote(path) + ": " + std::strerror(err);
}

std::string visible(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof(hex), "\\x%02x", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string quote(const std::string& text) { return "'" + visible(text) + "'"; }

}  // namespace mkpkg
