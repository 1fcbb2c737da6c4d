// fwsim: the Broadcom adapter utilities lnxfwupg and lnxfwnx2 simulated from a scenario file, and
// a few commands of its own (mkimage, install, check, reset) under any other name.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tools/fwsim/scenario.h"
#include "tools/fwsim/tool.h"
#include "tools/fwsim/utility.h"
#include "common/banned.h"

namespace {

// Ends the process by `sig` as an injected fault asks, without leaving a core file behind.
[[noreturn]] void dieBySignal(int sig) {
    std::cout.flush();
    std::cerr.flush();
    struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

std::string selfPath(const char* argv0) {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return argv0;
    return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

int main(int argc, char** argv) {
    std::string invoked = argc > 0 ? argv[0] : "fwsim";
    std::string name = invoked.substr(invoked.rfind('/') + 1);
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);

    if (name == "lnxfwupg" || name == "lnxfwnx2") {
        const char* trace = getenv("FWSIM_TRACE");
        fwsim::UtilityIo io{&std::cin, &std::cout, &std::cerr, fwsim::scenarioPath(), trace ? trace : ""};
        fwsim::UtilityResult r =
            fwsim::runUtility(name == "lnxfwupg" ? fwsim::Family::NetXtreme : fwsim::Family::NetXtremeII, args, io);
        std::cout.flush();
        if (r.signal) dieBySignal(r.signal);
        return r.status;
    }
    return fwsim::runTool(name, selfPath(invoked.c_str()), args, std::cout, std::cerr);
}
