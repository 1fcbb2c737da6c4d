#!/usr/bin/env python3
"""Runs a command several times and measures each run: wall time, the command's own CPU time
apart from its children's, and how many processes its run started.

usage: nicrun.py RUNS PREPARE -- COMMAND [ARGS...]

Meant to be process 1 of a new PID namespace (unshare --pid --fork --mount-proc): PIDs there are
handed out one after the other, so /proc/sys/kernel/ns_last_pid before and after a run tells how
many processes (and threads) the run started, whatever started them. PREPARE is a shell command
run before each run (not measured), e.g. to reset the simulator's state. Standard input of the
command is /dev/null; its output is thrown away. Prints one JSON object per run:
{"wall": s, "self_cpu": s, "children_cpu": s, "procs": n, "status": n, "trace": n, "upgrades": n}
("trace": lines in $FWSIM_TRACE after the run, i.e. vendor utility runs, "upgrades" those of them
that were upgrade commands; the file is emptied first). CPU times come from /proc/PID/stat, read while the finished command is still a zombie,
so they have the kernel's clock-tick resolution (usually 10 ms).
"""
import json
import os
import subprocess
import sys
import time

TICK = os.sysconf("SC_CLK_TCK")


def last_pid():
    with open("/proc/sys/kernel/ns_last_pid") as f:
        return int(f.read())


def one_run(argv, prepare, trace):
    subprocess.run(["/bin/sh", "-c", prepare], check=True)
    if trace:
        open(trace, "w").close()
    before = last_pid()
    t0 = time.monotonic()
    pid = os.fork()
    if pid == 0:
        try:
            null = os.open(os.devnull, os.O_RDWR)
            for fd in (0, 1, 2):
                os.dup2(null, fd)
            os.execv(argv[0], argv)
        finally:
            os._exit(127)
    # Wait without reaping, so its /proc entry still holds its own and its children's CPU time.
    os.waitid(os.P_PID, pid, os.WEXITED | os.WNOWAIT)
    wall = time.monotonic() - t0
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # fields[0] is field 3 (state): utime 14, stime 15, cutime 16, cstime 17.
    self_cpu = (int(fields[11]) + int(fields[12])) / TICK
    children_cpu = (int(fields[13]) + int(fields[14])) / TICK
    _, status = os.waitpid(pid, 0)
    procs = last_pid() - before - 1
    traced = upgrades = 0
    if trace and os.path.exists(trace):
        with open(trace, "rb") as f:
            for line in f:
                traced += 1
                upgrades += b" upgrade " in line
    return {"wall": round(wall, 4), "self_cpu": self_cpu, "children_cpu": children_cpu, "procs": procs,
            "status": os.waitstatus_to_exitcode(status), "trace": traced, "upgrades": upgrades}


def main():
    if len(sys.argv) < 5 or sys.argv[3] != "--":
        sys.exit("usage: nicrun.py RUNS PREPARE -- COMMAND [ARGS...]")
    runs, prepare, argv = int(sys.argv[1]), sys.argv[2], sys.argv[4:]
    if not os.path.exists("/proc/sys/kernel/ns_last_pid"):
        sys.exit("nicrun: /proc/sys/kernel/ns_last_pid is missing; run inside unshare --pid --fork --mount-proc")
    for _ in range(runs):
        print(json.dumps(one_run(argv, prepare, os.environ.get("FWSIM_TRACE", ""))), flush=True)


if __name__ == "__main__":
    main()
