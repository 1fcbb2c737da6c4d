#include "tools/fwsim/tool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>

#include "tools/fwsim/image.h"
#include "tools/fwsim/listing.h"
#include "tools/fwsim/scenario.h"
#include "tools/fwsim/state.h"
#include "common/banned.h"

namespace fwsim {

namespace {

struct Context {
    std::string self;
    std::string exe;
    std::vector<std::string> args;  // after the command word
    std::ostream& out;
    std::ostream& err;

    int fail(const std::string& what) {
        err << self << ": " << what << "\n";
        return 1;
    }
    // A wrong command line.
    int bad(const std::string& what) {
        fail(what);
        return 2;
    }
};

int cmdMkimage(Context& c) {
    Image img;
    std::string output;
    for (size_t i = 0; i < c.args.size(); ++i) {
        const std::string& a = c.args[i];
        if (i + 1 >= c.args.size()) return c.bad("option '" + a + "' needs a value; see 'fwsim help'");
        const std::string& v = c.args[++i];
        if (a == "--component")
            img.component = v;
        else if (a == "--version")
            img.version = v;
        else if (a == "--devid")
            img.devId = v;
        else if (a == "-o" || a == "--output")
            output = v;
        else
            return c.bad("unknown mkimage option '" + a + "'; see 'fwsim help'");
    }
    if (img.component.empty() || img.version.empty() || output.empty())
        return c.bad(
            "mkimage needs --component, --version and -o FILE, e.g. "
            "fwsim mkimage --component bc --version 3.38 -o 1648bc.bin");
    const ComponentInfo* info = findComponent(img.component);
    if (!info) return c.bad("unknown component '" + img.component + "' (expected bc, ipmi, asf, mba, ump, ncsi or ib)");
    img.component = info->key;
    if (img.version.find_first_of(" \t\n=") != std::string::npos)
        return c.bad("version '" + img.version + "' must be one word without '='");
    std::string text = formatImage(img, "demo firmware image made by fwsim mkimage; it holds no real firmware");
    // Check it reads back: the image must be usable by the utilities.
    Image check;
    std::string error;
    if (!parseImage(text, output, &check, &error)) return c.bad(error);
    std::ofstream f(output, std::ios::trunc | std::ios::binary);
    if (!f || !(f << text) || !f.flush()) return c.fail("cannot write image '" + output + "': " + strerror(errno));
    c.out << "wrote " << output << " (" << img.component << " firmware, version " << img.version
          << (img.devId.empty() ? "" : ", device " + img.devId) << ")\n";
    return 0;
}

int cmdInstall(Context& c) {
    bool copy = false;
    std::string dir;
    for (const auto& a : c.args) {
        if (a == "--copy")
            copy = true;
        else if (dir.empty() && !a.empty() && a[0] != '-')
            dir = a;
        else
            return c.bad("usage: fwsim install [--copy] DIR");
    }
    if (dir.empty()) return c.bad("usage: fwsim install [--copy] DIR");
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return c.fail("'" + dir + "' is not a directory");
    std::string content;
    if (copy) {
        std::ifstream in(c.exe, std::ios::binary);
        if (!in) return c.fail("cannot read the program '" + c.exe + "': " + strerror(errno));
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    for (const char* name : {"lnxfwupg", "lnxfwnx2"}) {
        std::string path = dir + "/" + name;
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            return c.fail("cannot replace '" + path + "': " + strerror(errno));
        if (copy) {
            std::ofstream f(path, std::ios::binary | std::ios::trunc);
            if (!f || !(f << content) || !f.flush()) return c.fail("cannot write '" + path + "': " + strerror(errno));
            f.close();
            chmod(path.c_str(), 0755);
        } else if (symlink(c.exe.c_str(), path.c_str()) != 0) {
            return c.fail("cannot link '" + path + "' to '" + c.exe + "': " + strerror(errno));
        }
        c.out << (copy ? "copied " : "linked ") << path << "\n";
    }
    return 0;
}

int cmdCheck(Context& c) {
    if (c.args.size() > 1) return c.bad("usage: fwsim check [SCENARIO]");
    std::string path = c.args.empty() ? scenarioPath() : c.args[0];
    Scenario sc;
    State st;
    std::string error;
    if (!loadScenario(path, &sc, &error)) return c.fail(error);
    std::string sp = statePath(path);
    if (!loadState(sp, &st, &error)) return c.fail(error);
    applyState(st, &sc);
    c.out << path << ": " << sc.adapters.size() << " adapter(s)";
    if (!st.versions.empty() || !st.disabled.empty()) c.out << ", changed by " << sp;
    c.out << "\n";
    for (const Adapter& a : sc.adapters) {
        c.out << "  " << utilityName(a.family) << " " << adapterIndex(sc, a) << "  " << a.devId << "  " << a.mac << " ";
        for (const ComponentInfo& ci : components()) {
            auto v = a.versions.find(ci.key);
            if (v != a.versions.end()) c.out << " " << ci.key << "=" << v->second;
        }
        for (const auto& f : a.faults) c.out << "  fault." << f.first;
        c.out << "\n";
    }
    return 0;
}

int cmdReset(Context& c) {
    if (c.args.size() > 1) return c.bad("usage: fwsim reset [SCENARIO]");
    std::string sp = statePath(c.args.empty() ? scenarioPath() : c.args[0]);
    if (unlink(sp.c_str()) != 0) {
        if (errno == ENOENT) {
            c.out << "no state to forget (" << sp << " does not exist)\n";
            return 0;
        }
        return c.fail("cannot remove '" + sp + "': " + strerror(errno));
    }
    c.out << "removed " << sp << "\n";
    return 0;
}

int cmdHelp(Context& c);

const struct Command {
    const char* name;
    const char* help;
    int (*run)(Context&);
} c_commands[] = {
    {"mkimage", "mkimage --component C --version V [--devid D] -o FILE   make a demo firmware image", cmdMkimage},
    {"install", "install [--copy] DIR      put lnxfwupg and lnxfwnx2 (links to this program) into DIR", cmdInstall},
    {"check", "check [SCENARIO]          read a scenario and show its adapters", cmdCheck},
    {"reset", "reset [SCENARIO]          forget what upgrade and cfg changed (removes fwsim.state)", cmdReset},
    {"help", "help                      this text", cmdHelp},
};

void writeUsage(const std::string& self, std::ostream& os) {
    os << "fwsim simulates the Broadcom adapter utilities. Started as 'lnxfwupg' it serves the NetXtreme\n"
          "adapters, as 'lnxfwnx2' the NetXtreme II adapters of the scenario file (fwsim.conf in the current\n"
          "directory, or $FWSIM_CONF); see tools/fwsim/README.md.\n"
          "Started as '"
       << self << "' it knows these commands:\n";
    for (const auto& cmd : c_commands) os << "  " << self << " " << cmd.help << "\n";
}

int cmdHelp(Context& c) {
    writeUsage(c.self, c.out);
    return 0;
}

}  // namespace

int runTool(const std::string& self, const std::string& exe, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err) {
    if (args.empty()) {
        writeUsage(self, err);
        return 2;
    }
    for (const auto& cmd : c_commands) {
        if (args[0] != cmd.name && !(std::string(cmd.name) == "help" && (args[0] == "--help" || args[0] == "-h")))
            continue;
        Context c{self, exe, std::vector<std::string>(args.begin() + 1, args.end()), out, err};
        return cmd.run(c);
    }
    err << self << ": unknown command '" << args[0] << "'\n";
    writeUsage(self, err);
    return 2;
}

}  // namespace fwsim
