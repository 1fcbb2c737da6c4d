// Helpers shared by the end-to-end tests of the real programs.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace e2e {

// Whether an overlay can be mounted on /etc inside `unshare -m`; probed once. *why says why not.
bool canOverlayEtc(std::string* why);

// Whether `unshare -m --pid --fork --mount-proc` works here; probed once. In such a namespace the
// first process has id 1, and every process still running when it ends is killed with it.
bool canUnsharePid(std::string* why);

// A fixed view of the system for the launcher: a fake `uname` first in PATH (kernel and processor
// chosen by the test) and an overlay on /etc that shows exactly the release files chosen, so that
// nothing depends on the machine the test runs on.
class HostView {
public:
    // Makes root/bin and root/etc; uname says "6.1.0-e2e" and "x86_64", and none of
    // /etc/redhat-release, /etc/SuSE-release and /etc/os-release exists.
    explicit HostView(const std::string& root);

    std::string bin() const { return bin_; }
    std::string etc() const { return etc_; }

    void setUname(const std::string& kernel, const std::string& machine);
    // /etc/<name> as the launcher sees it: text, or absent when text is null (an overlay whiteout
    // hides a real one).
    void setRelease(const std::string& name, const char* text);

    // Shell line, for inside `unshare -m`, that mounts the overlay on /etc; exits 125 on failure.
    std::string mountEtcLine() const;
    // Environment for the namespace: PATH with bin() first, LC_ALL=C.
    std::vector<std::pair<std::string, std::string>> env() const;

private:
    std::string bin_;
    std::string etc_;
};

// Shell line, for inside `unshare -m`, that puts a fresh tmpfs on /run (nicburn makes its lock
// folder /run/nicburn there), with an empty /run/lock as on any system, so runs of parallel tests
// do not see each other and nothing is left in the machine's /run; exits 125 on failure.
std::string privateLockLine();

// Runs script with /bin/sh in a private mount and pid namespace (its own /proc), for at most
// timeoutSeconds; the script's exit status is the test's to check.
int runInPidNamespace(const std::string& script, int timeoutSeconds, std::string* err);

// Everything below dir, one line per entry, sorted by path: "path type mode size content",
// where content is an FNV-1a hash of a file's bytes or a symbolic link's target. Top-level
// entries named in skip are left out with all they hold. Two equal snapshots mean nothing
// was added, removed, renamed, re-moded or rewritten.
std::string snapshotTree(const std::string& dir, const std::vector<std::string>& skip = {});

// The snapshot lines whose path is not one of names (top level): what a run may add is taken out.
std::string withoutEntries(const std::string& snapshot, const std::vector<std::string>& names);

}  // namespace e2e
