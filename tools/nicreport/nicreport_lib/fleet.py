"""The fleet: one HostRun per host of a roll-out.

Layouts read (what the nic_firmware role writes):
- a report folder: one folder per roll-out, REPORTS/<run-id>/, and REPORTS/latest pointing at
  the newest. Given the report folder, the latest roll-out is read (or the one named).
- a roll-out folder: run.json (when it ran, the package, the mode and every host the play was
  given with its final state) and one folder per host that ran, <host>/status.json (exit
  status, state, the name of the run's log, the package's output when there is no log) and
  <host>/<log>. Every host of run.json is in the fleet, also one that has no folder (not
  reached, unreachable).
- a folder of host folders without run.json (older roll-outs, or logs gathered by hand): each
  non-empty subfolder is a host; without status.json the newest *.log of the folder is the
  host's run and its result is judged from the log alone.
A log given directly as a file is a host of its own, named after the file. A host whose log
cannot be read stays in the fleet with result "unreadable" and the reason ("failed" when its
exit status says so).
"""
import json
import os
from dataclasses import dataclass, field
from typing import List, Optional, Tuple

from . import logparse

# Report order: trouble first.
RESULTS = ["failed", "timed out", "unreachable", "busy", "unreadable", "not reached", "not applicable", "ok"]
GOOD = ("ok", "not applicable")
# States a host's record may give that its log cannot tell.
RECORD_STATES = ("timed out", "unreachable", "busy", "not reached")
EXIT_BUSY, EXIT_TIMED_OUT = 75, 124
OUTPUT_LINES = 5      # lines of the package's own output shown as the reason


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
    reason: str = ""           # the role's words for the host's run (e.g. already applied)
    written: Optional[bool] = None        # firmware was written (the role's record)
    would_update: Optional[bool] = None   # check mode: the update would run
    package: str = ""
    sha256: str = ""

    @property
    def reset_needed(self) -> bool:
        """New firmware was written that runs only after the host's next reset."""
        if self.run is None or self.mode == "inventory":
            return False
        return self.run.reset_needed or any(c.result == "updated" for a in self.adapters for c in a.components.values())


def result_of(status: Optional[int], run: logparse.Run) -> str:
    # A CRC check or a management change that failed leaves the exit status at 0 in older
    # packages; the log is believed over that status.
    if status == 0 and logparse.run_failed(run):
        return "failed"
    if status == EXIT_BUSY or (status is None and logparse.run_busy(run)):
        return "busy"
    if status == EXIT_TIMED_OUT:
        return "timed out"
    if status is not None:
        return {0: "ok", 171: "not applicable"}.get(status, "failed")
    if logparse.run_found_no_adapter(run):
        return "not applicable"
    return "failed" if logparse.run_failed(run) else "ok"


def _without_log(h: HostRun, problem: str) -> HostRun:
    """A host whose log cannot be read: a known failed status stays a failure (timed out, busy),
    else "unreadable"."""
    failed = h.status is not None and h.status not in (0, 171)
    h.result = {EXIT_TIMED_OUT: "timed out", EXIT_BUSY: "busy"}.get(h.status, "failed") if failed else "unreadable"
    h.problem = problem
    if failed:
        h.problem += "; exit status %d%s" % (h.status, " (timed out)" if h.status == EXIT_TIMED_OUT else "")
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
    elif h.result != "ok":
        h.problem = logparse.run_problem(h.run)
    return h


def _newest_log(folder: str) -> Optional[str]:
    logs = [os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".log")]
    logs = [p for p in logs if not os.path.isdir(p)]
    return max(logs, key=lambda p: (os.path.getmtime(p), p)) if logs else None


def _last_lines(text: str) -> str:
    # The role's runner says "nic_firmware: timed out after N s" itself: the state tells that.
    lines = [ln.strip() for ln in str(text or "").splitlines() if ln.strip() and not ln.startswith("nic_firmware: ")]
    return " / ".join(lines[-OUTPUT_LINES:])


def _from_record(h: HostRun, data: dict) -> HostRun:
    """Applies what the role recorded beside (or instead of) the log: a state the log cannot
    tell, and the package's own output as the reason when there is no log."""
    state, reason = str(data.get("state", "")), str(data.get("reason", "") or "").strip()
    output = _last_lines(data.get("stderr")) or _last_lines(data.get("stdout"))
    h.reason = str(data.get("prediction") or reason or "")
    h.written = data.get("written") if isinstance(data.get("written"), bool) else None
    h.would_update = data.get("wouldUpdate") if isinstance(data.get("wouldUpdate"), bool) else None
    h.package, h.sha256 = str(data.get("package") or ""), str(data.get("sha256") or "")
    if state in RECORD_STATES:
        h.result = state
        h.problem = "; ".join(p for p in (reason, output if state != "unreachable" else "") if p) or h.problem
        if state == "busy" and h.run and h.run.problem:
            h.problem = reason + "; " + h.run.problem if reason else h.run.problem
    elif h.run is None and output:
        h.problem = "exit status %s: %s" % (h.status, output) if h.status is not None else output
    return h


def read_host_dir(folder: str) -> HostRun:
    host = os.path.basename(os.path.normpath(folder))
    status, mode, log, data = None, "", None, {}
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
        if log is None and ("state" in data or "run" in data):
            # The role recorded this run without a log: none of the folder's others stands in.
            h = _without_log(HostRun(host=host, status=status, mode=mode), "no log of this run")
            return _from_record(h, data)
    if log is None:
        log = _newest_log(folder)
    if log is None:
        return _without_log(HostRun(host=host, log=folder, status=status, mode=mode),
                            "no log in '%s' (the run's log was not fetched)" % folder)
    return _from_record(read_host(host, log, status, mode), data)


def is_run_dir(path: str) -> bool:
    return os.path.isfile(os.path.join(path, "run.json"))


def latest_run(reports: str, name: str = "") -> Optional[str]:
    """The roll-out folder of a report folder: the one named, else what latest points at, else
    the newest run id. None when the folder holds no roll-out."""
    if name:
        path = os.path.join(reports, os.path.basename(name))
        return path if is_run_dir(path) else None
    link = os.path.join(reports, "latest")
    if is_run_dir(link):
        return os.path.realpath(link)
    runs = sorted(d for d in os.listdir(reports) if d != "latest" and is_run_dir(os.path.join(reports, d)))
    return os.path.join(reports, runs[-1]) if runs else None


def read_run(run_dir: str) -> Tuple[dict, List[HostRun]]:
    """The roll-out's run.json and every host it lists."""
    with open(os.path.join(run_dir, "run.json"), encoding="utf-8") as f:
        run = json.load(f)
    hosts = []
    for entry in run.get("hosts", []):
        name, state = str(entry.get("host", "")), str(entry.get("state", ""))
        folder = os.path.join(run_dir, os.path.basename(name))
        if name and os.path.isfile(os.path.join(folder, "status.json")):
            h = read_host_dir(folder)
            if state in RECORD_STATES and h.result != state:
                h.result = state
        else:
            h = HostRun(host=name, result=state or "not reached", log="")
            h.problem = {"not reached": "the roll-out stopped before this host's batch",
                         "unreachable": "the host could not be reached"}.get(h.result, "no record of this host")
            if h.result not in RESULTS:
                h.result = "failed"
        hosts.append(h)
    return run, hosts


def load(paths: List[str], run_name: str = "") -> Tuple[List[HostRun], List[dict]]:
    """Hosts and roll-outs of every path: a report folder (its latest roll-out, or the one named
    run_name), a roll-out folder, a folder of host folders, a host folder, or a log."""
    hosts, runs = [], []
    for p in paths:
        if os.path.isfile(p):
            hosts.append(read_host(os.path.splitext(os.path.basename(p))[0], p))
        elif os.path.isdir(p):
            run_dir = p if is_run_dir(p) else latest_run(p, run_name)
            if run_dir is None and run_name:
                hosts.append(HostRun(host=run_name, log=p, result="unreadable",
                                     problem="no roll-out '%s' in '%s'" % (run_name, p)))
            elif run_dir is not None:
                try:
                    run, run_hosts = read_run(run_dir)
                    runs.append(run)
                    hosts.extend(run_hosts)
                except (OSError, ValueError, AttributeError) as e:
                    hosts.append(HostRun(host=os.path.basename(run_dir), log=run_dir, result="unreadable",
                                         problem="cannot read '%s': %s" % (os.path.join(run_dir, "run.json"), e)))
            else:
                subdirs = sorted(d for d in os.listdir(p) if os.path.isdir(os.path.join(p, d))
                                 and os.listdir(os.path.join(p, d)))
                own = [n for n in os.listdir(p) if n.endswith(".log") or n == "status.json"]
                if own:
                    hosts.append(read_host_dir(p))
                for d in subdirs:
                    hosts.append(read_host_dir(os.path.join(p, d)))
        else:
            hosts.append(HostRun(host=os.path.basename(p), log=p, result="unreadable",
                                 problem="cannot read '%s': no such file or directory" % p))
    return sort_hosts(hosts), runs


def collect(paths: List[str]) -> List[HostRun]:
    """Hosts of every path (see load)."""
    return load(paths)[0]


def sort_hosts(hosts: List[HostRun]) -> List[HostRun]:
    return sorted(hosts, key=lambda h: (RESULTS.index(h.result) if h.result in RESULTS else 0, h.host))


def summary(hosts: List[HostRun]) -> dict:
    s = {"hosts": len(hosts)}
    for r in RESULTS:
        s[r] = sum(1 for h in hosts if h.result == r)
    s["resetNeeded"] = sorted(h.host for h in hosts if h.reset_needed)
    would = [h.host for h in hosts if h.would_update]
    if any(h.would_update is not None for h in hosts):
        s["wouldUpdate"] = sorted(would)
    return s


def version_changes(hosts: List[HostRun]) -> List[dict]:
    """Fleet-wide, per component: how many adapters went from which version to which (an
    inventory counts its versions as unchanged). Ordered by component, then most adapters."""
    counts = {}
    for h in hosts:
        for a in h.adapters:
            for c in logparse.COLUMNS:
                before = a.before.get(c, "")
                after = a.after.get(c, "") if a.after else before
                if before in ("", "NA") and after in ("", "NA"):
                    continue
                key = (c, before, after)
                counts[key] = counts.get(key, 0) + 1
    rows = [{"component": c, "before": b, "after": a, "adapters": n} for (c, b, a), n in counts.items()]
    order = {c: i for i, c in enumerate(logparse.COLUMNS)}
    return sorted(rows, key=lambda r: (order[r["component"]], -r["adapters"], r["before"], r["after"]))
