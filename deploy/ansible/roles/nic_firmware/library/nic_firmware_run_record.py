#!/usr/bin/python3
"""Opens the record of one roll-out on the controller: REPORT_DIR/<run-id>/run.json."""
import datetime
import hashlib
import json
import os

from ansible.module_utils.basic import AnsibleModule

DOCUMENTATION = r"""
module: nic_firmware_run_record
short_description: Opens the record of one firmware roll-out
description:
  - Makes REPORT_DIR/RUN_ID (RUN_ID is the UTC start time, C(20261209T121500Z); C(-2), C(-3)... when
    that folder exists), writes its run.json (start, package name, size and SHA-256, the state of
    its signature, mode, every host with the state C(not reached)) and points REPORT_DIR/latest at it.
  - The play's end (callback C(nic_firmware_record)) writes each host's final state and the end time.
options:
  report_dir: {description: folder of the roll-outs' records, type: path, required: true}
  package: {description: the package on the controller (empty when only logs are collected), type: path, required: true}
  mode: {description: the mode the hosts run, type: str, required: true}
  check: {description: true in check mode (only the inventory is taken), type: bool, default: false}
  hosts: {description: every host of the play, in its order, type: list, elements: str, required: true}
  signature: {description: what the controller's check of the signature found, type: str, default: ""}
  run_space: {description: bytes a run of the package needs in the host's temporary folder, type: int}
  sha256: {description: the package's SHA-256 as the controller's check found it; empty reads the package, type: str, default: ""}
  size: {description: the package's size as the controller's check found it, type: int}
"""

RETURN = r"""
run_id: {description: the roll-out's id, type: str, returned: always}
run_dir: {description: the roll-out's folder, type: str, returned: always}
"""


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc)


def make_run_dir(report_dir, now):
    """Makes the run's folder under a name no earlier run has; returns (id, path)."""
    base = now.strftime("%Y%m%dT%H%M%SZ")
    for n in range(1, 1000):
        run_id = base if n == 1 else "%s-%d" % (base, n)
        path = os.path.join(report_dir, run_id)
        try:
            os.mkdir(path, 0o755)
            return run_id, path
        except FileExistsError:
            continue
    raise OSError("no free run folder for %s in '%s'" % (base, report_dir))


def package_facts(path):
    digest = hashlib.sha256()
    size = 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
            size += len(block)
    return {"name": os.path.basename(path), "size": size, "sha256": digest.hexdigest()}


def write_json(path, doc):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        json.dump(doc, f, indent=2)
        f.write("\n")
    os.replace(tmp, path)


def point_latest(report_dir, run_id):
    """REPORT_DIR/latest -> run_id, replaced in one step (a rename over the old link)."""
    link = os.path.join(report_dir, "latest")
    tmp = os.path.join(report_dir, ".latest.%d" % os.getpid())
    os.symlink(run_id, tmp)
    os.replace(tmp, link)


def open_run(report_dir, package, mode, check, hosts, now=None, signature="", run_space=None, checked=None):
    """checked: the size and SHA-256 the controller's check verified; the package is not read
    again then, so the record names the bytes that were checked."""
    now = now or utc_now()
    if package and checked:
        package_info = {"name": os.path.basename(package), "size": checked["size"], "sha256": checked["sha256"]}
    else:
        package_info = package_facts(package) if package else None     # a missing package leaves no folder behind
    if package_info is not None and signature:
        package_info["signature"] = signature
        if run_space is not None:
            package_info["runSpace"] = run_space
    os.makedirs(report_dir, exist_ok=True)
    run_id, run_dir = make_run_dir(report_dir, now)
    doc = {
        "run": run_id,
        "started": now.strftime("%Y-%m-%dT%H:%M:%SZ"),
        "ended": None,
        "package": package_info,
        "mode": "inventory" if check and mode != "logs" else mode,
        "check": bool(check),
        "hosts": [{"host": h, "state": "not reached"} for h in hosts],
    }
    write_json(os.path.join(run_dir, "run.json"), doc)
    point_latest(report_dir, run_id)
    return run_id, run_dir


def main():
    module = AnsibleModule(argument_spec={
        "report_dir": {"type": "path", "required": True},
        "package": {"type": "path", "required": True},
        "mode": {"type": "str", "required": True},
        "check": {"type": "bool", "default": False},
        "hosts": {"type": "list", "elements": "str", "required": True},
        "signature": {"type": "str", "default": ""},
        "run_space": {"type": "int"},
        "sha256": {"type": "str", "default": ""},
        "size": {"type": "int"},
    }, supports_check_mode=True)
    p = module.params
    try:
        run_id, run_dir = open_run(p["report_dir"], p["package"], p["mode"], p["check"], p["hosts"],
                                   signature=p["signature"], run_space=p["run_space"],
                                   checked={"sha256": p["sha256"], "size": p["size"]}
                                   if p["sha256"] and p["size"] is not None else None)
    except OSError as e:
        module.fail_json(msg="cannot open the roll-out's record in '%s': %s" % (p["report_dir"], e))
    module.exit_json(changed=True, run_id=run_id, run_dir=run_dir, nic_firmware_run_record=True)


if __name__ == "__main__":
    main()
