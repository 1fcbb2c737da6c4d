#include "tools/fwsim/state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

#include "common/banned.h"

namespace fwsim {

std::string statePath(const std::string& scenarioPath) {
    size_t slash = scenarioPath.rfind('/');
    if (slash == std::string::npos) return "fwsim.state";
    return scenarioPath.substr(0, slash + 1) + "fwsim.state";
}

bool loadState(const std::string& path, State* out, std::string* error) {
    State st;
    struct stat info;
    if (stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        *out = st;
        return true;
    }
    std::ifstream f(path);
    if (!f) {
        *error = "cannot read state '" + path + "': " + strerror(errno);
        return false;
    }
    std::string line;
    int n = 0;
    while (std::getline(f, line)) {
        ++n;
        std::istringstream words(line);
        std::string kind, mac, comp, version, extra;
        words >> kind >> mac >> comp;
        if (kind.empty() || kind[0] == '#') continue;
        bool ok = false;
        if (kind == "version") {
            words >> version;
            ok = !version.empty() && !(words >> extra);
            if (ok) st.versions[mac][comp] = version;
        } else if (kind == "disabled") {
            ok = !comp.empty() && !(words >> extra);
            if (ok) st.disabled[mac].insert(comp);
        }
        if (!ok || normaliseMac(mac) != mac || !findComponent(comp)) {
            *error = path + ":" + std::to_string(n) + ": not a state line: '" + line +
                     "' (delete the file, or run 'fwsim reset', to start again from the scenario)";
            return false;
        }
    }
    *out = st;
    return true;
}

bool saveState(const std::string& path, const State& state, std::string* error) {
    std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::trunc);
        if (!f) {
            *error = "cannot write state '" + tmp + "': " + strerror(errno);
            return false;
        }
        f << "# fwsim state: changes made by upgrade and cfg since the scenario was written.\n"
             "# Delete this file (or run 'fwsim reset') to start again from the scenario.\n";
        for (const auto& a : state.versions)
            for (const auto& c : a.second) f << "version " << a.first << " " << c.first << " " << c.second << "\n";
        for (const auto& a : state.disabled)
            for (const auto& c : a.second) f << "disabled " << a.first << " " << c << "\n";
        f.flush();
        if (!f) {
            *error = "cannot write state '" + tmp + "': " + strerror(errno);
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = "cannot replace state '" + path + "': " + strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

void applyState(const State& state, Scenario* scenario) {
    for (Adapter& a : scenario->adapters) {
        auto v = state.versions.find(a.mac);
        if (v != state.versions.end())
            for (const auto& c : v->second)
                if (a.versions.count(c.first)) a.versions[c.first] = c.second;
        auto d = state.disabled.find(a.mac);
        if (d != state.disabled.end())
            for (const auto& c : d->second) a.versions.erase(c);
    }
}

}  // namespace fwsim
