// kickoff: the package's wrapper program. It reads "kickoff.cfg" from its own folder and runs the
// command named there with the user's arguments, exiting with that command's status.
//
// kickoff.cfg: lines starting with '#' or ';' and empty lines are comments; the first other line is
// the command, run by /bin/sh from kickoff's folder. The user's arguments follow it as separate,
// unaltered words ("$@"), so the command sees exactly what kickoff was given.
//
// SIGINT, SIGQUIT, SIGTERM and SIGHUP that reach kickoff are passed on to the command's process
// group and kickoff waits for the command's own status. The shell in between traps them, so it
// is not ended before the command it waits for.
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/shellchild.h"
#include "common/signals.h"
#include "common/banned.h"

namespace {

const char c_szCfgName[] = "kickoff.cfg";

volatile sig_atomic_t s_child = 0;

// The child shares kickoff's process group: a signal sent to the group reaches it already,
// this is for a signal sent to kickoff alone.
void passOn(int sig) {
    if (s_child > 0) kill(s_child, sig);
}

// Folder of this program, from the kernel's record of the executable (argv[0] may be relative).
std::string ownFolder(const char* argv0) {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    std::string path = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string(argv0);
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

// The first line of the file that is not empty and not a comment; trailing CR and blanks cut.
int readCommand(const std::string& cfgPath, std::string* command) {
    FILE* f = fopen(cfgPath.c_str(), "r");
    if (!f) {
        fprintf(stderr, "kickoff: cannot read '%s': %s\n", cfgPath.c_str(), strerror(errno));
        return -1;
    }
    char line[4096];
    while (fgets(line, sizeof(line), f)) {
        std::string text(line);
        while (!text.empty() &&
               (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
            text.pop_back();
        size_t start = text.find_first_not_of(" \t");
        if (start == std::string::npos || text[start] == '#' || text[start] == ';') continue;
        *command = text.substr(start);
        fclose(f);
        return 0;
    }
    fclose(f);
    fprintf(stderr, "kickoff: '%s' names no command; put the command on its first non-comment line\n", cfgPath.c_str());
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = ownFolder(argc > 0 ? argv[0] : "kickoff");
    std::string command;
    if (readCommand(folder + "/" + c_szCfgName, &command) != 0) return 1;
    if (chdir(folder.c_str()) != 0) {
        fprintf(stderr, "kickoff: cannot change to '%s': %s\n", folder.c_str(), strerror(errno));
        return 1;
    }

    // sh -c 'COMMAND "$@"' kickoff ARGS...: the arguments reach the command word for word.
    std::string script = "trap : INT QUIT TERM HUP; " + command + " \"$@\"";
    std::vector<char*> args;
    args.push_back(const_cast<char*>("sh"));
    args.push_back(const_cast<char*>("-c"));
    args.push_back(const_cast<char*>(script.c_str()));
    args.push_back(const_cast<char*>("kickoff"));
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);

    fflush(stdout);
    catchRunSignals(passOn);
    pid_t pid = fork();
    if (pid < 0) {
        fprintf(stderr, "kickoff: cannot start '%s': %s\n", command.c_str(), strerror(errno));
        return 1;
    }
    if (pid == 0) {
        execv("/bin/sh", args.data());
        fprintf(stderr, "kickoff: cannot run /bin/sh: %s\n", strerror(errno));
        _exit(127);
    }
    s_child = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            fprintf(stderr, "kickoff: lost '%s': %s\n", command.c_str(), strerror(errno));
            return 1;
        }
    }
    return shellStatus(status, 1);
}
