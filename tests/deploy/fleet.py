"""A fleet of simulated hosts for tests: one sshd per host on its own loopback address, each in
a private mount namespace with its own /var/log, /tmp and /run. Needs root and unshare -m.

Fleet.start() returns when every sshd accepts connections; Fleet.stop() ends them (and with
them their namespaces) and is safe to call twice; Fleet.lose(name) takes one host off at once,
as a host that loses power: its sshd, every session and whatever runs in them are killed. Use it as a context manager so the sshd's
are stopped also when a test fails.
"""
import os
import signal
import socket
import subprocess
import time

SSHD = "/usr/sbin/sshd"

# Runs inside the new mount namespace. The test folder may lie under /tmp: it is bind-mounted
# to a private /run first and back to its own path after the tmpfs covers /tmp.
NAMESPACE_SCRIPT = r"""
set -e
dir=$1 conf=$2
mount -t tmpfs fleet-run /run
mkdir -p /run/sshd /run/fleet /run/lock
mount --bind "$dir" /run/fleet
mount -t tmpfs fleet-log /var/log
mount -t tmpfs fleet-tmp /tmp
mkdir -p "$dir"
mount --bind /run/fleet "$dir"
exec /usr/sbin/sshd -D -e -f "$conf"
"""


def skip_reason():
    if os.geteuid() != 0:
        return "needs root (each simulated host mounts its own /var/log and /tmp)"
    for prog in (SSHD, "/usr/bin/unshare", "/usr/bin/ssh-keygen"):
        if not os.access(prog, os.X_OK):
            return "%s is missing (tools/install-deps.sh installs it)" % prog
    r = subprocess.run(["unshare", "-m", "sh", "-c", "mount -t tmpfs none /mnt"], capture_output=True)
    if r.returncode != 0:
        return "private mount namespaces are not permitted here (unshare -m: %s)" % r.stderr.decode().strip()
    return None


def descendants(pid):
    """Ids of every process below pid, from /proc (children first found by their parent)."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                parents.setdefault(int(fields[1]), []).append(int(entry))
            except (OSError, IndexError):
                pass
    found, todo = [], [pid]
    while todo:
        for child in parents.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def processes_with_env(text):
    """Ids of the processes whose environment holds the entry text (as NAME=VALUE)."""
    found = []
    want = text.encode()
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if want in f.read().split(b"\0"):
                        found.append(int(entry))
            except OSError:
                pass
    return found


class Fleet:
    def __init__(self, workdir, names, port):
        self.workdir, self.port = workdir, port
        self.hosts = {n: "127.0.0.%d" % (11 + i) for i, n in enumerate(names)}
        self.key = os.path.join(workdir, "id_test")
        self.procs = []

    def _sshd_config(self, name, addr):
        d = os.path.join(self.workdir, name)
        os.makedirs(d, exist_ok=True)
        conf = os.path.join(d, "sshd_config")
        with open(conf, "w") as f:
            f.write("\n".join([
                "ListenAddress %s" % addr, "Port %d" % self.port,
                "HostKey %s" % os.path.join(self.workdir, "host_key"),
                "PidFile %s" % os.path.join(d, "sshd.pid"),
                "AuthorizedKeysFile %s.pub" % self.key,
                "PermitRootLogin prohibit-password", "UsePAM no", "PasswordAuthentication no",
                "KbdInteractiveAuthentication no", "StrictModes no", "LogLevel ERROR",
                "Subsystem sftp internal-sftp", ""]))
        return conf

    def start(self):
        for k in (self.key, os.path.join(self.workdir, "host_key")):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", k], check=True)
        for name, addr in self.hosts.items():
            conf = self._sshd_config(name, addr)
            with open(os.path.join(self.workdir, name, "sshd.log"), "w") as log:
                self.procs.append(subprocess.Popen(
                    ["unshare", "-m", "sh", "-c", NAMESPACE_SCRIPT, "fleet", self.workdir, conf],
                    stdout=log, stderr=log, start_new_session=True))
        deadline = time.time() + 15
        for name, addr in self.hosts.items():
            while True:
                try:
                    socket.create_connection((addr, self.port), timeout=1).close()
                    break
                except OSError:
                    if time.time() > deadline or any(p.poll() is not None for p in self.procs):
                        self.stop()
                        with open(os.path.join(self.workdir, name, "sshd.log")) as f:
                            raise RuntimeError("sshd of %s (%s:%d) did not start: %s" % (name, addr, self.port, f.read()))
                    time.sleep(0.1)

    def ssh(self, name, command):
        return subprocess.run(
            ["ssh", "-q", "-i", self.key, "-p", str(self.port), "-o", "StrictHostKeyChecking=no",
             "-o", "UserKnownHostsFile=/dev/null", "-o", "BatchMode=yes", "root@" + self.hosts[name], command],
            capture_output=True, text=True, timeout=30)

    def lose(self, name):
        """Kills every process of the host at once (its namespace goes with them)."""
        proc = self.procs[list(self.hosts).index(name)]
        for pid in descendants(proc.pid) + [proc.pid]:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        proc.wait()

    def stop(self):
        for p in self.procs:
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for p in self.procs:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()
        self.procs = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False
