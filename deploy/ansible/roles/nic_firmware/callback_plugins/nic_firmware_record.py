"""Closes each roll-out's record (run.json) when the playbook ends, however it ends.

A host of a batch the play never started runs no task, so no task can say "not reached": this
callback, called at the end even when max_fail_percentage stopped the play, writes every host's
final state and the end time. Loaded with the role (a role's callback_plugins folder), it needs
no setting; it acts only on the folders the role's nic_firmware_run_record task opened.
"""
import datetime
import json
import os

from ansible.plugins.callback import CallbackBase

DOCUMENTATION = r"""
name: nic_firmware_record
type: notification
short_description: Writes the final state of every host into the nic_firmware roll-out's run.json
description:
  - Takes the folder each nic_firmware_run_record task opened and, when the playbook ends, sets
    every host's state (its status.json's, else unreachable, failed or not reached) and the end time.
"""

STATES = ["ok", "failed", "not applicable", "busy", "timed out", "unreachable", "not reached"]


def host_state(run_dir, host, unreachable, failed):
    """The state of one host: its own record's, else what the play's statistics say."""
    try:
        with open(os.path.join(run_dir, host, "status.json"), encoding="utf-8") as f:
            state = json.load(f).get("state")
        if state in STATES:
            return state
    except (OSError, ValueError, AttributeError):
        pass
    if unreachable:
        return "unreachable"
    if failed:
        return "failed"
    return "not reached"


def close_run(run_dir, dark, failures, now=None):
    path = os.path.join(run_dir, "run.json")
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    for entry in doc.get("hosts", []):
        host = entry.get("host", "")
        entry["state"] = host_state(run_dir, host, dark.get(host, 0) > 0, failures.get(host, 0) > 0)
    now = now or datetime.datetime.now(datetime.timezone.utc)
    doc["ended"] = now.strftime("%Y-%m-%dT%H:%M:%SZ")
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        json.dump(doc, f, indent=2)
        f.write("\n")
    os.replace(tmp, path)


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "notification"
    CALLBACK_NAME = "nic_firmware_record"
    CALLBACK_NEEDS_ENABLED = False

    def __init__(self):
        super().__init__()
        self.run_dirs = []

    def v2_runner_on_ok(self, result):
        r = result._result
        if r.get("nic_firmware_run_record") and r.get("run_dir") and r["run_dir"] not in self.run_dirs:
            self.run_dirs.append(r["run_dir"])

    def v2_playbook_on_stats(self, stats):
        for run_dir in self.run_dirs:
            try:
                close_run(run_dir, stats.dark, stats.failures)
            except (OSError, ValueError) as e:
                self._display.warning("nic_firmware: cannot close the roll-out's record '%s': %s" % (run_dir, e))
