#!/usr/bin/python3
"""Parts of the nic_firmware role, each alone: on the controller the check of a package
(nic_firmware_package: digest, signature, room a run needs) and the roll-out's record, opened
by the nic_firmware_run_record module and closed by the nic_firmware_record callback; on the
host the look before the copy (files/nic_firmware_preflight.sh) and the runner that bounds a
package's run (files/nic_firmware_run.sh), over fake packages.

usage: role_test.py ROLE_DIR
"""
import base64
import datetime
import hashlib
import importlib.util
import io
import json
import os
import shutil
import struct
import subprocess
import zipfile
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
package = load("nic_firmware_package", "library/nic_firmware_package.py")
callback = load("nic_firmware_record", "callback_plugins/nic_firmware_record.py")
filters = load("nic_firmware_filters", "filter_plugins/nic_firmware_filters.py")
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
        # Given the checked size and digest, the record names those, not what the file holds now.
        _, run_dir = record.open_run(self.reports, self.package + ".gone", "update", False, ["a"], NOW,
                                     checked={"size": 7, "sha256": "ab" * 32})
        self.assertEqual(self.read(run_dir)["package"], {"name": "nicfw.bin.gone", "size": 7, "sha256": "ab" * 32})

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


class HostRecord(unittest.TestCase):
    def test_a_damaged_record_counts_as_none_and_says_so(self):
        b64 = lambda raw: base64.b64encode(raw).decode()
        cases = [
            # base64 text, record, words of the problem ("" none)
            ("", {}, ""),
            (b64(b'{"sha256": "ab", "versions": []}'), {"sha256": "ab", "versions": []}, ""),
            (b64(b'{"sha256": "ab"'), {}, "damaged"),
            (b64(b"\xff\xfe"), {}, "damaged"),
            ("not base64!", {}, "damaged"),
            (b64(b'["sha256"]'), {}, "no mapping"),
            (b64(b"null"), {}, "no mapping"),
        ]
        for text, want, problem in cases:
            with self.subTest(text):
                got = filters.parse_record(text)
                self.assertEqual(got["record"], want)
                if problem:
                    self.assertIn(problem, got["problem"])
                else:
                    self.assertEqual(got["problem"], "")


def fake_package(path, entries, tail=b"", order="<"):
    """A package laid out as mkpkg does: launcher, unzip utility, zip image, boot configuration
    and the directory of their sizes."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, size in entries:
            z.writestr(name, b"x" * size)
    parts = [b"L" * 300, b"U" * 200, buf.getvalue(), b"boot\n"]
    with open(path, "wb") as f:
        f.write(b"".join(parts) + struct.pack(order + "4I", *map(len, parts)) + tail)
    return 200 + len(parts[2]) + sum(size for _, size in entries)


class Openssl:
    """Runs openssl as the module's run_command does."""
    @staticmethod
    def run_command(argv):
        r = subprocess.run(argv, capture_output=True, text=True)
        return r.returncode, r.stdout, r.stderr


class PackageCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.tmp.name
        cls.key, cls.pub, cls.other = (os.path.join(d, n) for n in ("k.pem", "k.pub", "other.pub"))
        for key, pub in ((cls.key, cls.pub), (os.path.join(d, "o.pem"), cls.other)):
            subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", key], check=True)
            subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-out", pub], check=True)
        cls.pkg = os.path.join(d, "nicfw.bin")
        cls.space = fake_package(cls.pkg, [("image/", 0), ("image/a.bin", 5000), ("image/b.bin", 700)])
        subprocess.run(["openssl", "pkeyutl", "-sign", "-inkey", cls.key, "-rawin", "-in", cls.pkg,
                        "-out", cls.pkg + ".sig"], check=True)
        with open(cls.pkg, "rb") as f:
            cls.sha = hashlib.sha256(f.read()).hexdigest()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def variant(self, name, change):
        path = os.path.join(self.tmp.name, name)
        shutil.copy(self.pkg, path)
        shutil.copy(self.pkg + ".sig", path + ".sig")
        change(path)
        return path

    def test_good_and_refused_packages(self):
        def flip(path):
            with open(path, "r+b") as f:
                f.seek(100)
                b = f.read(1)
                f.seek(100)
                f.write(bytes([b[0] ^ 1]))
        tampered = self.variant("tampered.bin", flip)
        unsigned = self.variant("unsigned.bin", lambda p: os.unlink(p + ".sig"))
        cut = self.variant("cut.bin", lambda p: os.truncate(p, os.path.getsize(p) - 1))
        big = os.path.join(self.tmp.name, "big.bin")
        big_space = fake_package(big, [("image/a.bin", 5000)], order=">")
        plain = os.path.join(self.tmp.name, "plain.bin")
        with open(plain, "wb") as f:
            f.write(b"no package at all, only text" * 10)
        cases = [
            # path, sha256, public key, refusal (None: accepted)
            (self.pkg, "", "", None),
            (big, "", "", None),
            (self.pkg, self.sha.upper(), self.pub, None),
            (self.pkg, "", self.other, "does not match the package"),
            (tampered, "", self.pub, "does not match the package"),
            (tampered, self.sha, "", "not the package released"),
            (unsigned, "", self.pub, "has no signature"),
            (unsigned, "", "", None),
            (self.pkg, "abc", "", "not 64 hex digits"),
            (self.pkg + ".gone", "", "", "does not exist or cannot be read"),
            (cut, "", "", "does not add up"),
            (plain, "", "", "does not add up"),
            (self.pkg, "", os.path.join(self.tmp.name, "none.pub"), "public key"),
        ]
        for path, sha, key, refusal in cases:
            with self.subTest(path=os.path.basename(path), sha=sha[:8], key=os.path.basename(key)):
                facts, problem = package.check(Openssl, path, sha, key, "")
                if refusal is None:
                    self.assertEqual(problem, "")
                    self.assertEqual(facts["run_space"], {self.pkg: self.space, big: big_space}.get(path, facts["run_space"]))
                    self.assertEqual(facts["signature"], "verified" if key else "not checked")
                    self.assertEqual(facts["package_path"], path)
                else:
                    self.assertIsNone(facts)
                    self.assertIn(refusal, problem)
                    self.assertIn(os.path.basename(path) if refusal != "public key" else "none.pub", problem)

    def test_a_relative_path_comes_back_absolute(self):
        here = os.getcwd()
        os.chdir(self.tmp.name)
        try:
            facts, problem = package.check(Openssl, "nicfw.bin", "", self.pub, "")
        finally:
            os.chdir(here)
        self.assertEqual((problem, facts["package_path"]), ("", self.pkg))

    def test_the_signature_is_checked_on_the_bytes_hashed(self):
        # Someone swaps the signed original in while openssl runs and the tampered file back
        # after: the check must still judge the tampered bytes it hashed.
        with open(self.pkg, "rb") as f:
            bad = b"EVIL" + f.read()[4:]
        tampered = self.variant("swapped.bin", lambda p: open(p, "wb").write(bad))

        class Swapping:
            @staticmethod
            def run_command(argv):
                shutil.copy(self.pkg, tampered)
                try:
                    return Openssl.run_command(argv)
                finally:
                    with open(tampered, "wb") as f:
                        f.write(bad)
        facts, problem = package.check(Swapping, tampered, "", self.pub, "")
        self.assertIsNone(facts)
        self.assertIn("does not match the package", problem)


PREFLIGHT = os.path.join(ROLE, "files/nic_firmware_preflight.sh") if ROLE else ""


class Preflight(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.parent = os.path.join(self.tmp.name, "tmp")
        self.lock = os.path.join(self.tmp.name, "nicburn.lock")
        self.state = os.path.join(self.tmp.name, "lib", "applied.json")
        os.makedirs(self.parent)
        self.holders = []

    def tearDown(self):
        for p in self.holders:
            p.kill()
            p.wait()
        self.tmp.cleanup()

    def preflight(self, need=1, clean=1, recent=None):
        r = subprocess.run(["/bin/sh", PREFLIGHT, self.parent, str(need), str(clean), self.state, self.lock]
                           + ([] if recent is None else [str(recent)]),
                           capture_output=True, text=True, timeout=30)
        lines = [ln.split("=", 1) for ln in r.stdout.splitlines()]
        return r.returncode, lines

    def leftover(self, name):
        d = os.path.join(self.parent, name)
        os.makedirs(d)
        with open(os.path.join(d, "nicfw.bin"), "w") as f:
            f.write("copy")
        return d

    def test_left_overs_go_unless_an_update_uses_them(self):
        old, used = self.leftover("nic_firmware.old"), self.leftover("nic_firmware.used")
        os.symlink(self.tmp.name, os.path.join(self.parent, "nic_firmware.link"))
        self.holders.append(subprocess.Popen(["sleep", "60"], cwd=used))
        rc, lines = self.preflight(need=0, clean=0)
        self.assertEqual(rc, 0)
        self.assertEqual(sorted(v for k, v in lines if k == "leftover"), [old, used], "check mode only lists")
        self.assertFalse(os.path.exists(os.path.dirname(self.state)), "check mode makes nothing")
        self.assertFalse(any(k == "dir" for k, _ in lines))
        rc, lines = self.preflight(need=0)
        self.assertEqual(([v for k, v in lines if k == "removed"], [v for k, v in lines if k == "kept"]), ([old], [used]))
        self.assertTrue(os.path.islink(os.path.join(self.parent, "nic_firmware.link")), "a link is not followed")
        self.assertTrue(os.path.isdir(self.tmp.name))
        # While an update holds the host's lock, nothing is removed.
        self.holders[0].kill()
        self.holders[0].wait()
        open(self.lock, "w").close()
        self.holders.append(subprocess.Popen(["flock", self.lock, "sleep", "60"]))
        time.sleep(0.5)
        rc, lines = self.preflight(need=0)
        self.assertEqual([v for k, v in lines if k == "kept"], [used])
        self.assertNotIn(self.lock, [v for _, v in lines])

    def test_a_folder_changed_within_a_run_s_time_is_kept(self):
        # Another roll-out's folder, its package still being copied (no process in it yet).
        fresh, old = self.leftover("nic_firmware.fresh"), self.leftover("nic_firmware.old")
        os.utime(old, (time.time() - 3600, time.time() - 3600))
        rc, lines = self.preflight(need=0, recent=1920)
        self.assertEqual(([v for k, v in lines if k == "removed"], [v for k, v in lines if k == "kept"]), ([old], [fresh]))

    def test_room_record_and_private_folder(self):
        rc, lines = self.preflight()
        facts = dict(lines)
        self.assertEqual((rc, facts["arch"], facts["record"]), (0, os.uname().machine, ""))
        self.assertTrue(os.path.isdir(facts["dir"]) and facts["dir"].startswith(self.parent + "/nic_firmware."))
        self.assertEqual(os.stat(facts["dir"]).st_mode & 0o777, 0o700)
        self.assertTrue(os.path.isdir(os.path.dirname(self.state)))
        with open(self.state, "w") as f:
            f.write('{"sha256": "ab"}')
        rc, lines = self.preflight(need=int(facts["free"]) * 4)
        facts = dict(lines)
        self.assertEqual(rc, 3, "no room")
        self.assertNotIn("dir", facts)
        self.assertEqual(json.loads(base64.b64decode(facts["record"])), {"sha256": "ab"})


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

    def test_the_environment_comes_on_standard_input(self):
        cases = [("A=1\nB_2=two words\nC=$(id)=x\n\n", 0, "[1] [two words] [$(id)=x]"),
                 # For the package only: the runner keeps its own PATH and IFS (and TMPDIR wins).
                 ("PATH=/nowhere\nIFS=x\nTMPDIR=/elsewhere\nA=`id`\n", 0, "[`id`] [] [] /nowhere " + self.here + "/tmp"),
                 ("A-B=1\n", 125, "no variable name"), ("just text\n", 125, "NAME=VALUE")]
        for text, status, out in cases:
            with self.subTest(text):
                r = subprocess.run(["/bin/sh", os.path.join(ROLE, "files/nic_firmware_run.sh"), "-e", "5", "1",
                                    self.logdir, "/bin/sh", "-c", 'echo "[$A] [$B_2] [$C]" "$PATH" "$TMPDIR"'], cwd=self.here,
                                   input=text, capture_output=True, text=True, timeout=30)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn(out, r.stdout + r.stderr)
                shutil.rmtree(os.path.join(self.here, "tmp"), ignore_errors=True)

    def test_a_variable_the_shell_refuses_fails_the_start(self):
        # bash, as /bin/sh on some systems, will not set UID: the package must not seem to have run.
        r = subprocess.run(["/bin/bash", "--posix", os.path.join(ROLE, "files/nic_firmware_run.sh"), "-e", "5", "1",
                            self.logdir, "/bin/sh", "-c", "echo ran"], cwd=self.here, input="UID=0\n",
                           capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 125, r.stderr)
        self.assertNotIn("ran", r.stdout)

    def test_a_runner_told_to_stop_ends_the_package_first(self):
        # Limit 30 s, grace 2 s; SIGTERM to the runner itself 1 s in.
        t = time.time()
        p = subprocess.Popen(["/bin/sh", os.path.join(ROLE, "files/nic_firmware_run.sh"), "30", "2", self.logdir,
                              "./pkg", "40", "0"], cwd=self.here, env=dict(os.environ, LOGDIR=self.logdir),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(1)
        p.terminate()
        out, err = p.communicate(timeout=30)
        self.assertEqual(p.returncode, 143, err)
        self.assertIn("stopped by signal 15", err)
        self.assertLess(time.time() - t, 10)
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
