#!/usr/bin/python3
"""Parts of the nic_firmware role, each alone: on the controller the roll-out's record, opened
by the nic_firmware_run_record module and closed by the nic_firmware_record callback; on the
host the runner that bounds a package's run (files/nic_firmware_run.sh), over fake packages.

usage: role_test.py ROLE_DIR
"""
import datetime
import hashlib
import importlib.util
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

ROLE = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""


def load(name, path):
    found = importlib.util.spec_from_file_location(name, os.path.join(ROLE, path))
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


record = load("nic_firmware_run_record", "library/nic_firmware_run_record.py")
callback = load("nic_firmware_record", "callback_plugins/nic_firmware_record.py")
NOW = datetime.datetime(2026, 12, 9, 12, 15, 0, tzinfo=datetime.timezone.utc)


class RunRecord(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.reports = os.path.join(self.tmp.name, "reports")
        self.package = os.path.join(self.tmp.name, "nicfw.bin")
        with open(self.package, "wb") as f:
            f.write(b"\x7fELF package" * 100)

    def tearDown(self):
        self.tmp.cleanup()

    def read(self, run_dir):
        with open(os.path.join(run_dir, "run.json")) as f:
            return json.load(f)

    def test_each_run_gets_its_own_folder_and_latest_follows(self):
        ids = []
        for _ in range(3):      # the same second: the folder names still differ
            run_id, run_dir = record.open_run(self.reports, self.package, "update", False, ["b", "a"], NOW)
            ids.append(run_id)
            self.assertEqual(os.readlink(os.path.join(self.reports, "latest")), run_id)
        self.assertEqual(ids, ["20261209T121500Z", "20261209T121500Z-2", "20261209T121500Z-3"])
        doc = self.read(run_dir)
        with open(self.package, "rb") as f:
            blob = f.read()
        self.assertEqual(doc["package"], {"name": "nicfw.bin", "size": len(blob),
                                          "sha256": hashlib.sha256(blob).hexdigest()})
        self.assertEqual((doc["started"], doc["ended"], doc["mode"]), ("2026-12-09T12:15:00Z", None, "update"))
        self.assertEqual(doc["hosts"], [{"host": "b", "state": "not reached"}, {"host": "a", "state": "not reached"}])
        _, check = record.open_run(self.reports, self.package, "update", True, ["a"], NOW)
        self.assertEqual((self.read(check)["mode"], self.read(check)["check"]), ("inventory", True))
        self.assertEqual(sorted(os.listdir(self.reports)),
                         ["20261209T121500Z", "20261209T121500Z-2", "20261209T121500Z-3", "20261209T121500Z-4",
                          "latest"])

    def test_missing_package_fails_before_anything_is_written(self):
        with self.assertRaises(OSError):
            record.open_run(self.reports, self.package + ".gone", "update", False, ["a"], NOW)
        self.assertFalse(os.path.exists(self.reports))

    def test_the_end_gives_every_host_its_final_state(self):
        _, run_dir = record.open_run(self.reports, self.package, "update", False,
                                     ["ok", "busy", "lost", "assert-failed", "later", "bad-record"], NOW)
        for host, state in (("ok", "ok"), ("busy", "busy")):
            os.makedirs(os.path.join(run_dir, host))
            with open(os.path.join(run_dir, host, "status.json"), "w") as f:
                json.dump({"host": host, "state": state}, f)
        os.makedirs(os.path.join(run_dir, "bad-record"))
        with open(os.path.join(run_dir, "bad-record", "status.json"), "w") as f:
            f.write("{not json")
        callback.close_run(run_dir, {"lost": 1}, {"assert-failed": 1, "busy": 1}, NOW)
        doc = self.read(run_dir)
        self.assertEqual({h["host"]: h["state"] for h in doc["hosts"]},
                         {"ok": "ok", "busy": "busy", "lost": "unreachable", "assert-failed": "failed",
                          "later": "not reached", "bad-record": "not reached"})
        self.assertEqual(doc["ended"], "2026-12-09T12:15:00Z")


# A fake package like the real one: the launcher starts its command in a process group of its
# own; that command ignores SIGTERM (a vendor write that will not be cut short) and writes a log.
FAKE_PACKAGE = r"""#!/bin/sh
mkdir "$TMPDIR/zav_rq_pkg_fake" && echo "unpacked in $TMPDIR"
echo "Broadcom Firmware Update Log." >"$LOGDIR/ethflash001.log"
perl -e 'setpgrp(0, 0); $SIG{TERM} = "IGNORE"; sleep $ARGV[0]' "$1" &
trap 'echo "launcher: SIGTERM passed on"' TERM
wait
wait
echo "launcher: done"
exit "$2"
"""


class Runner(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.here = os.path.join(self.tmp.name, "private")
        self.logdir = os.path.join(self.tmp.name, "logs")
        os.makedirs(self.here)
        os.makedirs(self.logdir)
        with open(os.path.join(self.logdir, "ethflash.log"), "w") as f:
            f.write("an earlier run's log\n")
        with open(os.path.join(self.here, "pkg"), "w") as f:
            f.write(FAKE_PACKAGE)
        os.chmod(os.path.join(self.here, "pkg"), 0o755)

    def tearDown(self):
        self.tmp.cleanup()

    def run_package(self, limit, grace, sleep, status):
        t = time.time()
        r = subprocess.run(["/bin/sh", os.path.join(ROLE, "files/nic_firmware_run.sh"), str(limit), str(grace),
                            self.logdir, "./pkg", str(sleep), str(status)], cwd=self.here,
                           env=dict(os.environ, LOGDIR=self.logdir), capture_output=True, text=True, timeout=60)
        return r, time.time() - t

    def left(self):
        """Processes of the fake package still alive (they run perl with the test's folder around)."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if ("LOGDIR=" + self.logdir).encode() in f.read().split(b"\0"):
                        found.append(int(pid))
            except OSError:
                pass
        return found

    def test_a_run_within_its_limit_keeps_its_status_and_lists_its_log(self):
        for status in (0, 1, 75, 171):
            with self.subTest(status):
                if os.path.exists(os.path.join(self.logdir, "ethflash001.log")):
                    os.unlink(os.path.join(self.logdir, "ethflash001.log"))
                r, took = self.run_package(30, 5, 0, status)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn("unpacked in %s/tmp" % self.here, r.stdout)
                self.assertIn("launcher: done", r.stdout)
                with open(os.path.join(self.here, "new-logs")) as f:
                    self.assertEqual(f.read(), os.path.join(self.logdir, "ethflash001.log") + "\n")
                self.assertEqual(sorted(os.listdir(self.here)), ["new-logs", "pkg"])
                self.assertLess(took, 10)

    def test_a_run_past_its_limit_is_signalled_then_killed_whole(self):
        # limit 1 s, grace 2 s; the command that ignores SIGTERM would take 40 s.
        r, took = self.run_package(1, 2, 40, 0)
        self.assertEqual(r.returncode, 124)
        self.assertIn("launcher: SIGTERM passed on", r.stdout)
        self.assertEqual(r.stderr.splitlines()[-1], "nic_firmware: timed out after 1 s")
        self.assertTrue(3 <= took < 10, took)
        self.assertEqual(self.left(), [])
        self.assertEqual(sorted(os.listdir(self.here)), ["new-logs", "pkg"], "the working folder is gone")

    def test_a_command_that_ends_within_the_grace_period_finishes(self):
        r, took = self.run_package(1, 20, 3, 0)
        self.assertEqual(r.returncode, 124)
        self.assertIn("launcher: done", r.stdout)
        self.assertLess(took, 10)
        self.assertEqual(self.left(), [])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
