#include "tools/fwsim/image.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tools/fwsim/scenario.h"
#include "common/banned.h"

namespace fwsim {

namespace {
const char c_magic[] = "FWSIM-IMAGE";
}

bool parseImage(const std::string& text, const std::string& path, Image* out, std::string* error) {
    std::string first = text.substr(0, text.find('\n'));
    if (!first.empty() && first.back() == '\r') first.pop_back();
    std::istringstream words(first);
    std::string magic;
    words >> magic;
    if (magic != c_magic) {
        *error = "'" + path + "' is not a firmware image (its first line does not start with " + c_magic +
                 "; make one with 'fwsim mkimage')";
        return false;
    }
    Image img;
    std::string field;
    while (words >> field) {
        size_t eq = field.find('=');
        std::string key = field.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : field.substr(eq + 1);
        if (value.empty()) {
            *error = "image '" + path + "': field '" + field + "' has no value (expected key=value)";
            return false;
        }
        if (key == "component") {
            const ComponentInfo* c = findComponent(value);
            if (!c) {
                *error = "image '" + path + "': unknown component '" + value +
                         "' (expected bc, ipmi, asf, mba, ump, ncsi or ib)";
                return false;
            }
            img.component = c->key;
        } else if (key == "version") {
            img.version = value;
        } else if (key == "devid") {
            img.devId = value;
        } else {
            *error = "image '" + path + "': unknown field '" + key + "' (expected component, version, devid)";
            return false;
        }
    }
    if (img.component.empty() || img.version.empty()) {
        *error = "image '" + path + "': the first line needs component= and version=";
        return false;
    }
    *out = img;
    return true;
}

bool readImage(const std::string& path, Image* out, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        *error = "cannot open image file '" + path + "': " + strerror(errno);
        return false;
    }
    std::ostringstream s;
    s << f.rdbuf();
    return parseImage(s.str(), path, out, error);
}

std::string formatImage(const Image& image, const std::string& note) {
    std::string text = std::string(c_magic) + " component=" + image.component + " version=" + image.version;
    if (!image.devId.empty()) text += " devid=" + image.devId;
    text += "\n# " + note + "\n";
    return text;
}

}  // namespace fwsim
