"""The fleet: one HostRun per host found under the report directories.

Layout read (what the nic_firmware role writes): DIR/<host>/status.json (optional: the exit
status and the name of the run's log) and DIR/<host>/<log>. Without status.json the newest
*.log of the folder is the host's run and its result is judged from the log alone. A log given
directly as a file is a host of its own, named after the file. A host whose log cannot be read
stays in the fleet with result "unreadable" and the reason ("failed" when its exit status
says so).
"""
import json
import os
from dataclasses import dataclass, field
from typing import List, Optional

from . import logparse

RESULTS = ["failed", "unreadable", "not applicable", "ok"]   # report order: trouble first


@dataclass
class HostRun:
    host: str
    log: str = ""
    result: str = ""
    status: Optional[int] = None
    mode: str = ""
    problem: str = ""
    run: Optional[logparse.Run] = None
    adapters: List[logparse.Adapter] = field(default_factory=list)


def result_of(status: Optional[int], run: logparse.Run) -> str:
    # A CRC check or a management change that failed leaves the exit status at 0 in older
    # packages; the log is believed over that status.
    if status == 0 and logparse.run_failed(run):
        return "failed"
    if status is not None:
        return {0: "ok", 171: "not applicable"}.get(status, "failed")
    if logparse.run_found_no_adapter(run):
        return "not applicable"
    return "failed" if logparse.run_failed(run) else "ok"


def _without_log(h: HostRun, problem: str) -> HostRun:
    """A host whose log cannot be read: a known failed status stays a failure, else "unreadable"."""
    failed = h.status is not None and h.status not in (0, 171)
    h.result = "failed" if failed else "unreadable"
    h.problem = problem
    if failed:
        h.problem += "; exit status %d%s" % (h.status, " (timed out)" if h.status == 124 else "")
    return h


def read_host(host: str, log_path: str, status: Optional[int] = None, mode: str = "") -> HostRun:
    h = HostRun(host=host, log=log_path, status=status, mode=mode)
    try:
        with open(log_path, "rb") as f:
            text = f.read().decode("utf-8", errors="replace")
        h.run = logparse.parse_log(text)
    except OSError as e:
        return _without_log(h, "cannot read '%s': %s" % (log_path, e.strerror or e))
    except logparse.NotALog as e:
        return _without_log(h, "'%s' %s" % (log_path, e))
    h.adapters = h.run.adapters
    h.mode = mode or h.run.mode
    h.result = result_of(status, h.run)
    if h.result == "failed" and status == 0:
        h.problem = "exit status 0, but the log shows a failure"
    return h


def _newest_log(folder: str) -> Optional[str]:
    logs = [os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".log")]
    logs = [p for p in logs if not os.path.isdir(p)]
    return max(logs, key=lambda p: (os.path.getmtime(p), p)) if logs else None


def read_host_dir(folder: str) -> HostRun:
    host = os.path.basename(os.path.normpath(folder))
    status, mode, log = None, "", None
    status_file = os.path.join(folder, "status.json")
    if os.path.exists(status_file):
        try:
            with open(status_file, encoding="utf-8") as f:
                data = json.load(f)
            host = str(data.get("host") or host)
            status = int(data["status"]) if str(data.get("status", "")).lstrip("-").isdigit() else None
            mode = str(data.get("mode", ""))
            if data.get("log"):
                log = os.path.join(folder, os.path.basename(str(data["log"])))
        except (OSError, ValueError, AttributeError) as e:
            return HostRun(host=host, log=status_file, result="unreadable",
                           problem="cannot read '%s': %s" % (status_file, e))
    if log is None:
        log = _newest_log(folder)
    if log is None:
        return _without_log(HostRun(host=host, log=folder, status=status, mode=mode),
                            "no log in '%s' (the run's log was not fetched)" % folder)
    return read_host(host, log, status, mode)


def collect(paths: List[str]) -> List[HostRun]:
    """Hosts of every path: a report directory (its subfolders are hosts), a host folder, or a log."""
    hosts = []
    for p in paths:
        if os.path.isfile(p):
            hosts.append(read_host(os.path.splitext(os.path.basename(p))[0], p))
        elif os.path.isdir(p):
            subdirs = sorted(d for d in os.listdir(p) if os.path.isdir(os.path.join(p, d)))
            own = [n for n in os.listdir(p) if n.endswith(".log") or n == "status.json"]
            if own or not subdirs:
                hosts.append(read_host_dir(p))
            for d in subdirs:
                hosts.append(read_host_dir(os.path.join(p, d)))
        else:
            hosts.append(HostRun(host=os.path.basename(p), log=p, result="unreadable",
                                 problem="cannot read '%s': no such file or directory" % p))
    return sort_hosts(hosts)


def sort_hosts(hosts: List[HostRun]) -> List[HostRun]:
    return sorted(hosts, key=lambda h: (RESULTS.index(h.result) if h.result in RESULTS else 0, h.host))


def summary(hosts: List[HostRun]) -> dict:
    s = {"hosts": len(hosts)}
    for r in RESULTS:
        s[r] = sum(1 for h in hosts if h.result == r)
    return s
