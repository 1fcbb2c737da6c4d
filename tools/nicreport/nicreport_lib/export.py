"""JSON and CSV forms of the fleet. SCHEMA_VERSION changes whenever a field changes meaning or goes away."""
import csv
import io
import json
from typing import List, Optional

from .fleet import HostRun, summary, version_changes
from .logparse import COLUMNS

# 2: the roll-out ("run", "runs"); results busy, timed out, unreachable, not reached.
# 3: per host "reason", "resetNeeded", "written", "wouldUpdate", "package", "sha256"; "versionChanges";
#    summary "resetNeeded" (and "wouldUpdate" in check mode); the run's package "signature".
SCHEMA_VERSION = 3


def run_line(run: dict) -> str:
    """One line naming a roll-out: id, time, mode and package."""
    pkg = run.get("package") or {}
    return "run %s, started %s, ended %s, %s%s, package %s (%s bytes, sha256 %s), signature %s" % (
        run.get("run", "?"), run.get("started") or "?", run.get("ended") or "not recorded",
        run.get("mode", "?"), " (check mode)" if run.get("check") else "",
        pkg.get("name", "?"), pkg.get("size", "?"), pkg.get("sha256", "?"), signature_state(run))


def signature_state(run: dict) -> str:
    return str((run.get("package") or {}).get("signature") or "not recorded")


def host_dict(h: HostRun) -> dict:
    d = {"host": h.host, "result": h.result, "status": h.status, "mode": h.mode, "log": h.log}
    if h.problem:
        d["problem"] = h.problem
    d["reason"] = h.reason
    d["resetNeeded"] = h.reset_needed
    d["written"] = h.written
    d["wouldUpdate"] = h.would_update
    d["package"], d["sha256"] = h.package, h.sha256
    if h.run is not None:
        d["outcome"] = h.run.outcome
        d["noAdapterFamilies"] = h.run.no_adapters
        d["missingTools"] = h.run.missing_tools
    d["adapters"] = [{
        "mac": a.mac, "chip": a.chip, "detected": a.detected,
        "before": a.before, "after": a.after,
        "components": {k: {"result": c.result, "reason": c.reason, "file": c.file}
                       for k, c in a.components.items()},
        "crc": a.crc, "management": a.mgmt,
    } for a in h.adapters]
    return d


def to_json(hosts: List[HostRun], runs: Optional[List[dict]] = None) -> str:
    runs = [{k: v for k, v in r.items() if k != "hosts"} for r in (runs or [])]
    doc = {"schemaVersion": SCHEMA_VERSION, "run": runs[0] if len(runs) == 1 else None, "runs": runs,
           "summary": summary(hosts), "versionChanges": version_changes(hosts),
           "hosts": [host_dict(h) for h in hosts]}
    return json.dumps(doc, indent=2) + "\n"


def to_csv(hosts: List[HostRun]) -> str:
    """One row per host and adapter; a host without adapters (or unreadable) has one row."""
    out = io.StringIO()
    w = csv.writer(out, lineterminator="\n")
    head = ["host", "result", "status", "mode", "outcome", "problem", "reason", "reset needed",
            "adapter", "chip", "crc", "management"]
    for c in COLUMNS:
        head += [c + " before", c + " after", c + " result"]
    w.writerow(head)
    for h in hosts:
        base = [h.host, h.result, "" if h.status is None else h.status, h.mode,
                h.run.outcome if h.run else "", h.problem, h.reason, "yes" if h.reset_needed else ""]
        if not h.adapters:
            w.writerow(base + [""] * (len(head) - len(base)))
            continue
        for a in h.adapters:
            mgmt = " ".join("%s:%s" % kv for kv in sorted(a.mgmt.items()))
            row = base + [a.mac, a.chip, a.crc, mgmt]
            for c in COLUMNS:
                comp = a.components.get(c)
                res = "" if comp is None else comp.result + (": " + comp.reason if comp.reason else "")
                if not a.detected and not res:
                    res = "firmware not detected"
                row += [a.before.get(c, ""), a.after.get(c, ""), res]
            w.writerow(row)
    return out.getvalue()
