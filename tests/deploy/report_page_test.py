#!/usr/bin/python3
"""The fleet report page in headless Chromium: the run's facts at the top, the fleet-wide version
changes and the hosts to reset, every host shown, trouble first, sorting (numeric where the
column is) and the filter, driven through the page's address fragment; the DOM is read back
with --dump-dom. Keeps a screenshot (fleet-report.png) in OUTPUT_DIR.

usage: report_page_test.py NICREPORT_DIR OUTPUT_DIR      Exit 77 (skipped) without Chromium.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL_DIR, OUTPUT = (os.path.abspath(a) for a in sys.argv[1:3]) if len(sys.argv) >= 3 else ("", "")
CHROMIUM = "/usr/bin/chromium"
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
# host -> (log, exit status); web07 has a log that is not one.
FLEET = {"web01": ("update-ok.log", 0), "web02": ("update-faults.log", 1), "web03": ("update-ok.log", 0),
         "web04": ("no-adapter.log", 171), "web05": ("update-ok.log", 0), "web06": ("inventory.log", 0),
         "web07": (None, 0)}
TBODY = re.compile(r'<tbody class="r-[^"]*"[^>]*data-host="([^"]*)"[^>]*?(\shidden="")?>')


class ReportPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="page.")
        reports = os.path.join(cls.tmp, "reports")
        for host, (log, status) in FLEET.items():
            d = os.path.join(reports, host)
            os.makedirs(d)
            if log:
                shutil.copy(os.path.join(DATA, log), os.path.join(d, "ethflash.log"))
            else:
                with open(os.path.join(d, "ethflash.log"), "w") as f:
                    f.write("PK\x03\x04 this is a zip, not a log\n")
            with open(os.path.join(d, "status.json"), "w") as f:
                f.write('{"host": "%s", "status": %d, "log": "ethflash.log"}' % (host, status))
        with open(os.path.join(reports, "run.json"), "w") as f:
            json.dump({"run": "20261209T121500Z", "started": "2026-12-09T12:15:00Z", "ended": "2026-12-09T12:21:40Z",
                       "mode": "update", "check": False,
                       "package": {"name": "nicfw_demo.bin", "size": 4246503, "sha256": "c0a8" * 16,
                                   "signature": "verified with /etc/zav/release.pub"},
                       "hosts": [{"host": h, "state": "failed" if h == "web02" else "ok"} for h in FLEET]}, f)
        cls.page = os.path.join(OUTPUT, "fleet-report.html")
        subprocess.run([os.path.join(TOOL_DIR, "nicreport"), "--html", cls.page, reports], capture_output=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def chromium(self, *args, fragment=""):
        # A profile and home of its own, so the browser writes nothing outside the test's folder.
        env = dict(os.environ, HOME=self.tmp)
        cmd = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
               "--user-data-dir=" + os.path.join(self.tmp, "profile"), "--no-first-run"] + list(args)
        r = subprocess.run(cmd + ["file://" + self.page + fragment], env=env, capture_output=True, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr[-2000:])
        return r.stdout

    def rows(self, fragment=""):
        """(host, shown) of every host row, in the page's order after its script ran."""
        dom = self.chromium("--dump-dom", fragment=fragment)
        return [(m.group(1), not m.group(2)) for m in TBODY.finditer(dom)], dom

    def test_every_host_trouble_first(self):
        rows, dom = self.rows()
        self.assertEqual(sorted(h for h, _ in rows), sorted(FLEET))
        self.assertEqual([h for h, _ in rows][:2], ["web02", "web07"])
        self.assertTrue(all(shown for _, shown in rows))
        self.assertIn("7 hosts: ", dom)
        self.assertIn("4 ok", dom)
        self.assertIn("7 of 7 hosts shown", dom)

    def test_run_versions_and_resets_at_the_top(self):
        _, dom = self.rows()
        top = dom[:dom.index('id="fleet"')]
        for text in ("20261209T121500Z", "2026-12-09 12:15:00Z", "nicfw_demo.bin", "c0a8" * 16,
                     "verified with /etc/zav/release.pub"):
            self.assertIn(text, top)
        # Three hosts took 0010180A0101's boot code from 3.29 to 3.38 (update-ok.log), the fourth
        # run (update-faults.log) too; the inventory-only host kept 3.29.
        versions = dom[dom.index('id="versions"'):]
        versions = versions[:versions.index("</table>")]
        rows = re.findall(r"<tr[^>]*><td>([^<]*)</td><td>([^<]*)</td><td>([^<]*)</td><td[^>]*>(\d+)</td>", versions)
        self.assertIn(("BOOT", "3.29", "3.38", "4"), rows)
        self.assertIn(("BOOT", "3.29", "3.29", "1"), rows)
        reset = dom[dom.index('id="reset"'):]
        self.assertEqual(re.findall(r"<li>([^<]*)</li>", reset[:reset.index("</div>")]), ["web01", "web02", "web03", "web05"])

    def test_sorting(self):
        cases = [
            ("#sort=host&dir=desc", ["web07", "web06", "web05", "web04", "web03", "web02", "web01"]),
            ("#sort=host&dir=asc", ["web01", "web02", "web03", "web04", "web05", "web06", "web07"]),
            # numbers sort as numbers (as text "20" would come before "5"); ties keep trouble first
            ("#sort=updated&dir=desc", ["web01", "web03", "web05", "web02", "web07", "web04", "web06"]),
        ]
        for fragment, order in cases:
            with self.subTest(fragment):
                rows, dom = self.rows(fragment)
                self.assertEqual([h for h, _ in rows], order)
                self.assertIn('aria-sort="', dom)

    def test_filter(self):
        cases = [("#filter=web03", ["web03"]), ("#filter=FAILED", ["web02"]),
                 ("#filter=not%20applicable", ["web04"]), ("#filter=nothing-matches", [])]
        for fragment, shown in cases:
            with self.subTest(fragment):
                rows, dom = self.rows(fragment)
                self.assertEqual(len(rows), len(FLEET))
                self.assertEqual([h for h, s in rows if s], shown)
                self.assertIn("%d of %d hosts shown" % (len(shown), len(FLEET)), dom)

    def test_screenshot(self):
        shot = os.path.join(OUTPUT, "fleet-report.png")
        if os.path.exists(shot):
            os.unlink(shot)
        self.chromium("--window-size=1280,1000", "--screenshot=" + shot)
        with open(shot, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


if __name__ == "__main__":
    if not os.access(CHROMIUM, os.X_OK):
        print("SKIP: %s is missing (tools/install-deps.sh installs chromium)" % CHROMIUM)
        sys.exit(77)
    os.makedirs(OUTPUT, exist_ok=True)
    sys.exit(0 if unittest.main(argv=[sys.argv[0], "-v"], exit=False).result.wasSuccessful() else 1)
