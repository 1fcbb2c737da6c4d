#!/usr/bin/python3
"""Times one roll-out of the demo package to 4 and 16 simulated hosts (one sshd per host, as
the fleet test makes them) with the shipped playbook's default forks and serial, and says
where the time goes: per task of the play, summed over its batches.

usage: bench/fleet_bench.py [--build DIR] [--hosts "4 16"] [--out FILE.md]
Needs root and private mount namespaces (exit 77 otherwise), sshd, ansible-playbook.
"""
import argparse
import datetime
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "deploy"))
from fleet import Fleet, skip_reason  # noqa: E402

# Task name (start) -> where its time goes.
KINDS = [("Copy the package", "copy"), ("Run the package", "package"), ("Take the inventory", "package"),
         ("Check the firmware packages", "controller"), ("Open the roll-out", "controller"),
         ("Record the host's state", "controller"), ("Make the host's folder", "controller")]


def kind_of(task):
    for start, kind in KINDS:
        if task.startswith(start):
            return kind
    return "ssh"        # a round trip to each host with a small module


def seconds(stamp):
    return datetime.datetime.strptime(stamp[:26].rstrip("Z"), "%Y-%m-%dT%H:%M:%S.%f").timestamp()


def roll_out(work, package, count, port):
    names = ["h%02d" % i for i in range(1, count + 1)]
    d = os.path.join(work, "fleet%d" % count)
    os.makedirs(d)
    cp = tempfile.mkdtemp(prefix="cp.")
    fleet = Fleet(d, names, port)
    with open(os.path.join(ROOT, "demo", "scenarios", "default.conf")) as f:
        scenario = f.read()
    hosts = {}
    for n, addr in fleet.hosts.items():
        os.makedirs(os.path.join(d, n), exist_ok=True)
        conf = os.path.join(d, n, "fwsim.conf")
        with open(conf, "w") as f:
            f.write(scenario)
        hosts[n] = {"ansible_host": addr, "nic_firmware_environment": {"FWSIM_CONF": conf}}
    inv = os.path.join(d, "inventory.json")
    with open(inv, "w") as f:
        json.dump({"all": {"hosts": hosts, "vars": {
            "ansible_port": port, "ansible_user": "root", "ansible_ssh_private_key_file": fleet.key,
            "nic_firmware_package": package, "nic_firmware_state_file": "/run/nic_firmware/applied.json"}}}, f)
    cfg = os.path.join(d, "ansible.cfg")
    with open(cfg, "w") as f:
        f.write("\n".join([
            "[defaults]", "host_key_checking = False", "retry_files_enabled = False",
            "local_tmp = %s/ansible-local" % d, "remote_tmp = %s/ansible-remote" % d,
            "roles_path = %s/deploy/ansible/roles" % ROOT, "interpreter_python = /usr/bin/python3",
            "stdout_callback = json",
            "[ssh_connection]", "pipelining = True", "control_path_dir = %s" % cp,
            "ssh_args = -o ControlMaster=auto -o ControlPersist=30s -o UserKnownHostsFile=/dev/null "
            "-o StrictHostKeyChecking=no -o IdentitiesOnly=yes", ""]))
    env = dict(os.environ, ANSIBLE_CONFIG=cfg, ANSIBLE_HOME=os.path.join(d, "ansible-home"))
    load = os.getloadavg()
    try:
        fleet.start()
        t = time.time()
        r = subprocess.run(["ansible-playbook", "-i", inv, os.path.join(ROOT, "deploy", "ansible", "rollout.yml"),
                            "-e", "nic_firmware_report_dir=" + os.path.join(d, "reports")],
                           env=env, capture_output=True, text=True)
        took = time.time() - t
    finally:
        fleet.stop()
        shutil.rmtree(cp, ignore_errors=True)
    out = json.loads(r.stdout)
    failed = sorted(h for h, s in out["stats"].items() if s["failures"] or s["unreachable"])
    kinds = {}
    for play in out["plays"]:
        for task in play["tasks"]:
            dur = task["task"]["duration"]
            if "end" in dur:
                k = kind_of(task["task"]["name"].split(" : ", 1)[-1])
                kinds[k] = kinds.get(k, 0.0) + seconds(dur["end"]) - seconds(dur["start"])
    return {"hosts": count, "seconds": took, "failed": failed, "kinds": kinds, "load": load, "rc": r.returncode}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    p.add_argument("--hosts", default="4 16")
    p.add_argument("--out", default="")
    a = p.parse_args()
    reason = skip_reason()
    if reason:
        print("fleet bench: SKIP: " + reason)
        return 77
    package = os.path.abspath(os.path.join(a.build, "demo", "nicfw_demo.bin"))
    if not os.path.isfile(package):
        print("fleet bench: no package '%s'; build the demo first (make build)" % package, file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix="fleetbench.")
    rows = []
    try:
        for i, count in enumerate(int(n) for n in a.hosts.split()):
            res = roll_out(work, package, count, 21000 + (os.getpid() + i) % 20000)
            rows.append(res)
            print("fleet bench: %d hosts: %.1f s, %.2f s per host%s" % (
                count, res["seconds"], res["seconds"] / count,
                "" if not res["failed"] else "; FAILED: " + ", ".join(res["failed"])), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    lines = ["### Roll-out to simulated hosts (rollout.yml defaults: forks 5, serial 10)", "",
             "| Hosts | Seconds | Seconds per host | ssh round trips | copy | package runs | controller | load average |",
             "|---|---|---|---|---|---|---|---|"]
    for r in rows:
        k = r["kinds"]
        lines.append("| %d | %.1f | %.2f | %.1f | %.1f | %.1f | %.1f | %s |" % (
            r["hosts"], r["seconds"], r["seconds"] / r["hosts"], k.get("ssh", 0), k.get("copy", 0),
            k.get("package", 0), k.get("controller", 0), " ".join("%.2f" % x for x in r["load"])))
    lines += ["", "Columns after the per-host time: seconds of the play's tasks of each kind, wall clock, "
              "summed over the batches (a task runs on up to 5 hosts at once).", ""]
    text = "\n".join(lines)
    print(text)
    if a.out:
        with open(a.out, "w") as f:
            f.write(text)
    return 1 if any(r["failed"] or r["rc"] for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
