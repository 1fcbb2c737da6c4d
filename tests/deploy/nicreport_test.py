#!/usr/bin/python3
"""nicreport against captured logs of real runs (tests/deploy/data) and damaged variants.

usage: nicreport_test.py NICREPORT_DIR   (the folder holding nicreport and nicreport_lib)
"""
import csv
import io
import json
import os
import subprocess
import sys
import tempfile
import unittest

TOOL_DIR = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else ""
sys.path.insert(0, TOOL_DIR)
from nicreport_lib import export, fleet, logparse, page  # noqa: E402

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def data(name):
    with open(os.path.join(DATA, name), encoding="utf-8") as f:
        return f.read()


class ParseLog(unittest.TestCase):
    def test_runs_of_every_mode(self):
        # log, mode, outcome, adapters, failed?, no adapter?
        cases = [
            ("update-ok.log", "update", "complete", 6, False, False),
            ("update-faults.log", "update", "errors", 3, True, False),
            ("no-adapter.log", "inventory", "errors", 0, True, True),
            ("inventory.log", "inventory", "", 6, False, False),
            ("crc.log", "crc", "", 6, False, False),
            ("nomfw.log", "nomfw", "", 5, False, False),
        ]
        for name, mode, outcome, adapters, failed, none in cases:
            with self.subTest(name):
                run = logparse.parse_log(data(name))
                self.assertEqual((run.mode, run.outcome, len(run.adapters)), (mode, outcome, adapters))
                self.assertEqual(logparse.run_failed(run), failed)
                self.assertEqual(logparse.run_found_no_adapter(run), none)

    def test_versions_before_and_after(self):
        run = logparse.parse_log(data("update-ok.log"))
        a = run.adapter("0010180B0202")
        self.assertEqual(a.chip, "5709s")
        self.assertEqual((a.before["NCSI"], a.after["NCSI"]), ("2.0.3", "2.1.7"))
        self.assertEqual(a.components["NCSI"].result, "updated")
        self.assertEqual(a.components["ASF"].result, "not present")
        inv = logparse.parse_log(data("inventory.log"))
        self.assertEqual(inv.adapters[0].after, {}, "one table: versions before only")

    def test_component_failures_and_reasons(self):
        run = logparse.parse_log(data("update-faults.log"))
        cases = [
            ("0010180A0101", "ASF", "failed", "image file not found in the package"),
            ("0010180A0102", "PXE", "failed", "Upgrade failed; adapter 2 (00:10:18:0A:01:02) keeps PXE 8.3.11."),
            ("0010180A0102", "BOOT", "updated", ""),
            ("0010180B0201", "BOOT", "not detected", ""),
        ]
        for mac, comp, result, reason in cases:
            with self.subTest(mac + " " + comp):
                c = run.adapter(mac).components[comp]
                self.assertEqual((c.result, c.reason), (result, reason))
        self.assertFalse(run.adapter("0010180B0201").detected)

    def test_damaged_and_foreign_text(self):
        good = data("update-ok.log")
        cases = [
            ("crlf line ends", good.replace("\n", "\r\n"), 6, "complete"),
            ("cut in the second table", good[:good.rindex("0010180B0202 (5709s)") + 10], 6, ""),
            ("junk lines between", good.replace("\n\n", "\n\x00\xff junk\t\t\n"), 6, "complete"),
            ("header only", logparse.HEADER + "\n\n", 0, ""),
        ]
        for label, text, adapters, outcome in cases:
            with self.subTest(label):
                run = logparse.parse_log(text)
                self.assertEqual((len(run.adapters), run.outcome), (adapters, outcome))
        for label, text in [("empty", ""), ("other text", "hello\n"), ("header later", "x\n" + good)]:
            with self.subTest(label), self.assertRaises(logparse.NotALog):
                logparse.parse_log(text)

    def test_verdicts_without_an_exit_status(self):
        """Logs the tool left, judged alone (no status.json beside them)."""
        ok = data("update-ok.log")
        crc_end = ok.index("CRC check complete.") + len("CRC check complete.\n")
        cases = [
            # label, text, result, problem (start)
            ("interrupted update", data("update-interrupted.log"), "failed",
             "Update interrupted by signal 15 (SIGTERM): the components not yet updated were left unchanged."),
            ("refused: another run", data("busy.log"), "busy", "Error! Another firmware update is running (process "),
            ("cut after the CRC section", ok[:crc_end], "failed", "the log ends before the update's closing message"),
            ("cut in the middle of an update", ok[:ok.index("Updating 0010180A0103")], "failed",
             "the log ends before the update's closing message"),
            ("complete update", ok, "ok", ""),
            ("CRC check run", data("crc.log"), "ok", ""),
            ("inventory run", data("inventory.log"), "ok", ""),
            ("interrupted inventory", data("inventory.log") + "\nInterrupted by signal 2 (SIGINT): no firmware was "
             "changed.\n", "failed", "Interrupted by signal 2 (SIGINT)"),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            for label, text, result, problem in cases:
                with self.subTest(label):
                    path = os.path.join(tmp, "ethflash.log")
                    with open(path, "w") as f:
                        f.write(text)
                    h = fleet.read_host("h", path)
                    self.assertEqual(h.result, result)
                    self.assertTrue(h.problem.startswith(problem), h.problem)

    def test_image_names_of_16a7_adapters(self):
        cases = [("03Cbc.bin", "BOOT"), ("03Sbc.bin", "BOOT"), ("03Cmba.bin", "PXE"), ("1648bc.bin", "BOOT"),
                 ("16a7ipmi.bin", "IPMI"), ("163Bib.bin", "iSCSI"), ("03Cxx.bin", None), ("bc.bin", None)]
        for name, comp in cases:
            with self.subTest(name):
                self.assertEqual(logparse.component_of_file(name), comp)
        a = logparse.parse_log(data("update-ok.log")).adapter("0010180A0103")
        self.assertEqual({c: r.result for c, r in a.components.items() if r.result != "not present"},
                         {"BOOT": "updated", "PXE": "updated"})

    def test_crc_and_management_failures(self):
        crc = data("crc.log").replace("*** Successfully completed CRC check on device 0010180A0102 ***",
                                      " !!! Error performing CRC check on device 0010180A0102 !!!")
        nomfw = data("nomfw.log").replace(
            "*** Successfully disabled management firmware (NCSI) on device 0010180B0202 ***",
            " !!! Error disabling management firmware (NSCI) on device 0010180B0202 !!!")
        run = logparse.parse_log(crc)
        self.assertEqual((run.adapter("0010180A0102").crc, run.adapter("0010180A0101").crc), ("failed", "ok"))
        self.assertTrue(logparse.run_failed(run))
        run = logparse.parse_log(nomfw)
        self.assertEqual(run.adapter("0010180B0202").mgmt, {"IPMI": "disabled", "NCSI": "failed"})
        self.assertTrue(logparse.run_failed(run))


class Fleet(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def host(self, name, log=None, text=None, status=None):
        d = os.path.join(self.dir, name)
        os.makedirs(d)
        if log:
            with open(os.path.join(d, log), "w") as f:
                f.write(text)
        if status is not None:
            with open(os.path.join(d, "status.json"), "w") as f:
                json.dump({"host": name, "status": status, "mode": "update", "log": log or "ethflash.log"}, f)

    def test_results_and_order(self):
        self.host("a-ok", "ethflash.log", data("update-ok.log"), 0)
        self.host("b-none", "ethflash.log", data("no-adapter.log"), 171)
        self.host("c-bad", "ethflash001.log", data("update-faults.log"), 1)
        self.host("d-nostatus", "ethflash.log", data("update-faults.log"))
        self.host("e-garbage", "ethflash.log", "\x7fELF binary", 0)
        self.host("f-missing", None, None, 0)
        self.host("g-empty")
        self.host("h-timeout", "ethflash.log", data("update-ok.log"), 124)
        self.host("i-timeout-nolog", None, None, 124)
        self.host("j-crc-status0", "ethflash.log", data("crc.log").replace(
            "*** Successfully completed CRC check on device 0010180A0102 ***",
            " !!! Error performing CRC check on device 0010180A0102 !!!"), 0)
        hosts = fleet.collect([self.dir])
        got = [(h.host, h.result) for h in hosts]
        self.assertEqual(got, [("c-bad", "failed"), ("d-nostatus", "failed"), ("j-crc-status0", "failed"),
                               ("h-timeout", "timed out"), ("i-timeout-nolog", "timed out"),
                               ("e-garbage", "unreadable"), ("f-missing", "unreadable"),
                               ("b-none", "not applicable"), ("a-ok", "ok")])
        problems = {h.host: h.problem for h in hosts if h.problem}
        self.assertIn("not a firmware update log", problems["e-garbage"])
        self.assertIn("No such file", problems["f-missing"])
        self.assertIn("exit status 124 (timed out)", problems["i-timeout-nolog"])
        self.assertEqual(problems["j-crc-status0"], "exit status 0, but the log shows a failure")

    def test_version_changes_and_resets_across_the_fleet(self):
        self.host("a", "ethflash.log", data("update-ok.log"), 0)
        self.host("b", "ethflash.log", data("update-ok.log"), 0)
        self.host("c", "ethflash.log", data("inventory.log"), 0)
        self.host("d", "ethflash.log", data("no-adapter.log"), 171)
        hosts = fleet.collect([self.dir])
        self.assertEqual(fleet.summary(hosts)["resetNeeded"], ["a", "b"], "an inventory writes nothing")
        changes = {(c["component"], c["before"], c["after"]): c["adapters"] for c in fleet.version_changes(hosts)}
        cases = [(("BOOT", "3.29", "3.38"), 2),     # 0010180A0101 on a and b
                 (("BOOT", "3.29", "3.29"), 1),     # the same adapter on c, read only
                 (("ASF", "6.03", "6.08"), 2),
                 (("UMP", "NA", "NA"), None)]       # an absent component is no version
        for key, count in cases:
            with self.subTest(key):
                self.assertEqual(changes.get(key), count)
        doc = json.loads(export.to_json(hosts))
        self.assertEqual(doc["versionChanges"], fleet.version_changes(hosts))
        self.assertEqual({h["host"]: h["resetNeeded"] for h in doc["hosts"]}, {"a": True, "b": True, "c": False, "d": False})
        rows = list(csv.DictReader(io.StringIO(export.to_csv(hosts))))
        self.assertEqual({r["host"] for r in rows if r["reset needed"] == "yes"}, {"a", "b"})

    def test_the_roles_words_reach_the_report(self):
        d = os.path.join(self.dir, "web1")
        os.makedirs(d)
        with open(os.path.join(d, "ethflash.log"), "w") as f:
            f.write(data("inventory.log"))
        with open(os.path.join(d, "status.json"), "w") as f:
            json.dump({"host": "web1", "run": "r1", "state": "ok", "status": 0, "mode": "inventory", "check": True,
                       "log": "ethflash.log", "written": False, "wouldUpdate": True,
                       "prediction": "would update 6 adapters with nicfw.bin: no package recorded as applied"}, f)
        hosts = fleet.collect([self.dir])
        self.assertEqual(hosts[0].reason, "would update 6 adapters with nicfw.bin: no package recorded as applied")
        self.assertEqual(fleet.summary(hosts)["wouldUpdate"], ["web1"])
        self.assertIn("would update 6 adapters", page.to_html(hosts))

    def test_exports_keep_every_host(self):
        self.host("a", "ethflash.log", data("update-faults.log"), 1)
        self.host("b", "ethflash.log", "not a log", 0)
        hosts = fleet.collect([self.dir])
        doc = json.loads(export.to_json(hosts))
        self.assertEqual(doc["schemaVersion"], export.SCHEMA_VERSION)
        self.assertEqual(doc["summary"], {"hosts": 2, "failed": 1, "unreadable": 1, "not applicable": 0, "ok": 0,
                                          "timed out": 0, "unreachable": 0, "busy": 0, "not reached": 0,
                                          "resetNeeded": ["a"]})
        self.assertEqual((doc["run"], doc["runs"]), (None, []), "logs gathered by hand belong to no roll-out")
        rows = list(csv.DictReader(io.StringIO(export.to_csv(hosts))))
        self.assertEqual([(r["host"], r["adapter"]) for r in rows],
                         [("a", "0010180A0101"), ("a", "0010180A0102"), ("a", "0010180B0201"), ("b", "")])
        self.assertEqual(rows[1]["PXE result"], "failed: Upgrade failed; adapter 2 (00:10:18:0A:01:02) keeps PXE 8.3.11.")
        self.assertEqual(rows[3]["result"], "unreadable")

    def run_dir(self, run_id, hosts, **fields):
        """A roll-out's folder: run.json listing hosts (name -> final state)."""
        d = os.path.join(self.dir, run_id)
        os.makedirs(d)
        doc = {"run": run_id, "started": "2026-12-09T10:00:00Z", "ended": "2026-12-09T10:05:00Z", "mode": "update",
               "check": False, "package": {"name": "nicfw.bin", "size": 10, "sha256": "ab" * 32},
               "hosts": [{"host": h, "state": st} for h, st in hosts.items()]}
        doc.update(fields)
        with open(os.path.join(d, "run.json"), "w") as f:
            json.dump(doc, f)
        return d

    def record(self, run_dir, name, log=None, text=None, **fields):
        d = os.path.join(run_dir, name)
        os.makedirs(d)
        if log:
            with open(os.path.join(d, log), "w") as f:
                f.write(text)
        with open(os.path.join(d, "status.json"), "w") as f:
            json.dump(dict({"host": name, "run": os.path.basename(run_dir), "mode": "update", "log": log or ""},
                           **fields), f)

    def test_a_roll_out_lists_every_host_of_its_play(self):
        run = self.run_dir("20261209T100000Z", {
            "ok": "ok", "lost": "unreachable", "later": "not reached", "hung": "timed out", "bad-pkg": "failed",
            "busy": "busy", "gone-early": "unreachable"})
        self.record(run, "ok", "ethflash.log", data("update-ok.log"), status=0, state="ok")
        self.record(run, "lost", status=None, state="unreachable",
                    reason="the host could not be reached: Data could not be sent to remote host")
        # A log of an earlier run in the host's folder never stands in for this run's.
        with open(os.path.join(run, "lost", "ethflash.log"), "w") as f:
            f.write(data("update-ok.log"))
        self.record(run, "hung", "ethflash.log", data("update-interrupted.log"), status=124, state="timed out",
                    reason="timed out after 10 s", stderr="nic_firmware: timed out after 10 s\n")
        self.record(run, "bad-pkg", status=1, state="failed", stdout="",
                    stderr="pkgunzip: 'image/x86/nicburn': CRC mismatch (the data is damaged)\n")
        self.record(run, "busy", "ethflash003.log", data("busy.log"), status=75, state="busy",
                    reason="another firmware update was running (3 attempts)")
        hosts, runs = fleet.load([run])
        self.assertEqual([r["run"] for r in runs], ["20261209T100000Z"])
        got = {h.host: (h.result, h.problem) for h in hosts}
        self.assertEqual({k: v[0] for k, v in got.items()},
                         {"ok": "ok", "lost": "unreachable", "later": "not reached", "hung": "timed out",
                          "bad-pkg": "failed", "busy": "busy", "gone-early": "unreachable"})
        self.assertIn("could not be reached", got["lost"][1])
        self.assertEqual(got["later"][1], "the roll-out stopped before this host's batch")
        self.assertEqual(got["hung"][1], "timed out after 10 s")
        self.assertEqual(got["bad-pkg"][1], "exit status 1: pkgunzip: 'image/x86/nicburn': CRC mismatch (the data "
                                            "is damaged)")
        self.assertIn("Error! Another firmware update is running", got["busy"][1])
        lost = next(h for h in hosts if h.host == "lost")
        self.assertEqual((lost.adapters, lost.log), ([], ""))

    def test_report_folder_gives_the_latest_or_the_named_roll_out(self):
        first = self.run_dir("20261209T100000Z", {"a": "failed"})
        self.record(first, "a", "ethflash.log", data("update-faults.log"), status=1, state="failed")
        second = self.run_dir("20261209T110000Z", {"a": "ok"}, mode="inventory", check=True)
        self.record(second, "a", "ethflash001.log", data("inventory.log"), status=0, state="ok")
        os.makedirs(os.path.join(self.dir, "empty-folder"))
        tool = os.path.join(TOOL_DIR, "nicreport")
        cases = [
            # arguments, exit status, run shown, line
            ([self.dir], 0, "20261209T110000Z", "1 hosts: 1 ok"),
            (["--run", "20261209T100000Z", self.dir], 1, "20261209T100000Z", "1 hosts: 0 ok, 1 failed"),
            ([first], 1, "20261209T100000Z", "1 hosts: 0 ok, 1 failed"),
            (["--run", "20261209T000000Z", self.dir], 1, None, "1 unreadable"),
            ([os.path.join(self.dir, "empty-folder")], 1, None, "0 hosts"),
        ]
        os.symlink("20261209T110000Z", os.path.join(self.dir, "latest"))
        for args, rc, run, line in cases:
            with self.subTest(args):
                r = subprocess.run([tool] + args, capture_output=True, text=True)
                self.assertEqual(r.returncode, rc, r.stdout + r.stderr)
                self.assertIn(line, r.stdout)
                if run:
                    self.assertIn("nicreport: run %s, started 2026-12-09T" % run, r.stdout)
                    self.assertIn("package nicfw.bin (10 bytes, sha256 %s)" % ("ab" * 32), r.stdout)
        self.assertIn("inventory (check mode)", subprocess.run([tool, self.dir], capture_output=True, text=True).stdout)
        # Without latest, the newest run id is taken.
        os.unlink(os.path.join(self.dir, "latest"))
        self.assertEqual(fleet.load([self.dir])[1][0]["run"], "20261209T110000Z")

    def test_command_line(self):
        self.host("a", "ethflash.log", data("update-ok.log"), 0)
        tool = os.path.join(TOOL_DIR, "nicreport")
        out = os.path.join(self.dir, "out.html")
        cases = [
            (["--html", out, self.dir], 0, "1 hosts: 1 ok"),
            ([self.dir, os.path.join(self.dir, "nothere")], 1, "1 unreadable"),
            (["--json", os.path.join(self.dir, "no", "dir", "r.json"), self.dir], 2, "cannot write"),
        ]
        for args, rc, text in cases:
            with self.subTest(args):
                r = subprocess.run([tool] + args, capture_output=True, text=True)
                self.assertEqual(r.returncode, rc, r.stdout + r.stderr)
                self.assertIn(text, r.stdout + r.stderr)
        with open(out) as f:
            self.assertIn("<script>", f.read())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
