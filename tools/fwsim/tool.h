// fwsim's own commands, for when it runs under a name other than lnxfwupg or lnxfwnx2.
//   fwsim mkimage --component C --version V [--devid D] -o FILE   make a demo firmware image
//   fwsim install [--copy] DIR      put lnxfwupg and lnxfwnx2 into DIR (symbolic links to fwsim)
//   fwsim check [SCENARIO]          read a scenario and show its adapters as the utilities see them
//   fwsim reset [SCENARIO]          forget what upgrade and cfg changed (remove fwsim.state)
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace fwsim {

// Runs the command in `args` (args[0] is the command word); `self` is the name fwsim was started
// under, `exe` the path of the running program. Returns the exit status: 0 done, 1 failed,
// 2 wrong command line (usage written to `err`).
int runTool(const std::string& self, const std::string& exe, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err);

}  // namespace fwsim
