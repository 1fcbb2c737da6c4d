#!/usr/bin/python3
"""Rolls the demo firmware package across six simulated hosts with the shipped playbook and
builds the fleet report from the logs it collected.

Hosts (inventory order, serial 2): web1 ok, web2 no adapter, web3 ok, web4 an upgrade fails,
web5 ok, web6 ok. So batch 2 has one failure in two hosts (50 %): the shipped limit (25 %) stops
the roll-out there, a limit of 50 % lets it finish.

usage: fleet_test.py PACKAGE NICREPORT ANSIBLE_DIR SCENARIO_DIR OUTPUT_DIR
Exit 77 (skipped) without root or private mount namespaces.
"""
import atexit
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fleet import Fleet, skip_reason  # noqa: E402

PACKAGE, NICREPORT, ANSIBLE_DIR, SCENARIOS, OUTPUT = sys.argv[1:6] if len(sys.argv) >= 6 else [""] * 5
HOSTS = ["web1", "web2", "web3", "web4", "web5", "web6"]
SCENARIO = {"web2": None, "web4": "faults.conf"}          # others: default.conf; None: no adapter
EXPECTED = {"web1": "ok", "web2": "not applicable", "web3": "ok", "web4": "failed", "web5": "ok", "web6": "ok"}


class FleetRollout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="fleet.")
        cls.fleet = Fleet(cls.work, HOSTS, 20000 + os.getpid() % 20000)
        cls.inventory = os.path.join(cls.work, "inventory.yml")
        hosts = {}
        for name, addr in cls.fleet.hosts.items():
            d = os.path.join(cls.work, name)
            os.makedirs(d)
            conf = os.path.join(d, "fwsim.conf")
            scenario = SCENARIO.get(name, "default.conf")
            if scenario:
                shutil.copy(os.path.join(SCENARIOS, scenario), conf)
            else:
                with open(conf, "w") as f:
                    f.write("# no adapter in this host\n")
            hosts[name] = {"ansible_host": addr, "nic_firmware_environment": {"FWSIM_CONF": conf}}
        inv = {"all": {"hosts": hosts, "vars": {
            "ansible_port": cls.fleet.port, "ansible_user": "root",
            "ansible_ssh_private_key_file": cls.fleet.key,
            "nic_firmware_timeout": 60, "nic_firmware_package": os.path.abspath(PACKAGE)}}}
        with open(cls.inventory, "w") as f:
            json.dump(inv, f, indent=1)
        cp = tempfile.mkdtemp(prefix="cp.")     # ssh control sockets need a short path
        cls.cleanup_dirs = [cp]
        with open(os.path.join(cls.work, "ansible.cfg"), "w") as f:
            f.write("\n".join([
                "[defaults]", "host_key_checking = False", "retry_files_enabled = False",
                "local_tmp = %s/ansible-local" % cls.work,
                # the hosts see the test's folder too; so does the controller's delegated task
                "remote_tmp = %s/ansible-remote" % cls.work,
                "roles_path = %s/roles" % os.path.abspath(ANSIBLE_DIR),
                "interpreter_python = /usr/bin/python3", "forks = 6", "stdout_callback = json",
                "[ssh_connection]", "pipelining = True", "control_path_dir = %s" % cp,
                "ssh_args = -o ControlMaster=auto -o ControlPersist=30s -o UserKnownHostsFile=/dev/null "
                "-o StrictHostKeyChecking=no -o IdentitiesOnly=yes", ""]))
        atexit.register(cls.fleet.stop)      # also when ctest's timeout ends this test
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
        cls.fleet.start()

    @classmethod
    def tearDownClass(cls):
        cls.fleet.stop()
        shutil.rmtree(cls.work, ignore_errors=True)
        for d in cls.cleanup_dirs:
            shutil.rmtree(d, ignore_errors=True)

    def playbook(self, reports, *extra, playbook=None):
        env = dict(os.environ, ANSIBLE_CONFIG=os.path.join(self.work, "ansible.cfg"),
                   ANSIBLE_HOME=os.path.join(self.work, "ansible-home"))
        cmd = ["ansible-playbook", "-i", self.inventory, playbook or os.path.join(ANSIBLE_DIR, "rollout.yml"),
               "-e", "nic_firmware_report_dir=" + reports, "-e", "nic_firmware_serial=2"] + list(extra)
        t = time.time()
        r = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=300)
        print("  %s: %.1f s, exit %d" % (" ".join(extra) or "roll-out", time.time() - t, r.returncode), file=sys.stderr)
        with open(os.path.join(OUTPUT, os.path.basename(reports) + ".ansible.json"), "w") as f:
            f.write(r.stdout)
        try:
            out = json.loads(r.stdout)
        except ValueError:
            self.fail("ansible-playbook printed no JSON (exit %d):\n%s\n%s" % (r.returncode, r.stdout, r.stderr))
        return r.returncode, out

    @staticmethod
    def batches(reports):
        """The batch each host ran in, as the role recorded it; in the order of the inventory."""
        seen = []
        for name in HOSTS:
            path = os.path.join(reports, name, "status.json")
            if os.path.exists(path):
                with open(path) as f:
                    batch = sorted(json.load(f)["batch"])
                if batch not in seen:
                    seen.append(batch)
        return seen

    def reset_adapters(self):
        for name in HOSTS:
            state = os.path.join(self.work, name, "fwsim.state")
            if os.path.exists(state):
                os.unlink(state)

    def report(self, reports, name):
        dest = os.path.join(OUTPUT, name)
        r = subprocess.run([NICREPORT, "--json", dest + ".json", "--csv", dest + ".csv", "--html", dest + ".html", reports],
                           capture_output=True, text=True)
        with open(dest + ".json") as f:
            return r, json.load(f)

    def test_1_check_mode_takes_only_the_inventory(self):
        reports = os.path.join(self.work, "reports-check")
        # One batch of an ok host, the one without adapter and the faulty one keeps this run short.
        some = ["web1", "web2", "web4"]
        rc, out = self.playbook(reports, "--check", "--limit", ",".join(some), "-e", "nic_firmware_serial=3")
        self.assertEqual(rc, 0)
        self.assertEqual(sorted(os.listdir(reports)), some)
        for name in some:
            with open(os.path.join(reports, name, "status.json")) as f:
                status = json.load(f)
            self.assertEqual(status["mode"], "inventory")
            self.assertEqual(status["status"], 171 if name == "web2" else 0, name)
            self.assertFalse(os.path.exists(os.path.join(self.work, name, "fwsim.state")), name + " was changed")
        _, doc = self.report(reports, "check")
        web1 = next(h for h in doc["hosts"] if h["host"] == "web1")
        self.assertEqual(web1["adapters"][0]["after"], {})
        self.assertEqual(web1["adapters"][0]["before"]["BOOT"], "3.29")

    def test_2_roll_out_stops_when_a_batch_fails_too_much(self):
        self.reset_adapters()
        reports = os.path.join(self.work, "reports-stop")
        rc, out = self.playbook(reports)
        self.assertNotEqual(rc, 0)
        self.assertEqual(self.batches(reports), [["web1", "web2"], ["web3", "web4"]])
        self.assertEqual(sorted(os.listdir(reports)), ["web1", "web2", "web3", "web4"])
        self.assertEqual(out["stats"]["web2"]["failures"], 0, "no adapter is not a failure")
        self.assertEqual(out["stats"]["web4"]["failures"], 1)

    def test_3_roll_out_finishes_below_the_limit(self):
        self.reset_adapters()
        with open(os.path.join(ANSIBLE_DIR, "rollout.yml")) as f:
            text = f.read()
        lenient = re.sub(r"max_fail_percentage: \d+", "max_fail_percentage: 50", text)
        self.assertNotEqual(lenient, text, "rollout.yml has no max_fail_percentage")
        playbook = os.path.join(self.work, "rollout-lenient.yml")
        with open(playbook, "w") as f:
            f.write(lenient)
        reports = os.path.join(self.work, "reports")
        rc, out = self.playbook(reports, playbook=playbook)
        self.assertEqual(rc, 2, "a failed host makes ansible-playbook exit 2")
        self.assertEqual(self.batches(reports), [["web1", "web2"], ["web3", "web4"], ["web5", "web6"]])
        failed = sorted(h for h, s in out["stats"].items() if s["failures"])
        self.assertEqual(failed, ["web4"])

        for name in HOSTS:       # every run's log was fetched, and no package copy is left behind
            with open(os.path.join(reports, name, "status.json")) as f:
                status = json.load(f)
            self.assertEqual(status["result"], EXPECTED[name], name)
            with open(os.path.join(reports, name, status["log"])) as f:
                self.assertTrue(f.read().startswith("Broadcom Firmware Update Log."), name)
        left = self.fleet.ssh("web1", "ls -A /tmp")
        self.assertEqual(left.returncode, 0, left.stderr)
        self.assertNotIn("nic_firmware.", left.stdout)

        r, doc = self.report(reports, "fleet")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn("6 hosts: 4 ok, 1 failed, 1 not applicable, 0 unreadable", r.stdout)
        self.assertEqual(doc["schemaVersion"], 2)
        self.assertEqual([h["host"] for h in doc["hosts"]][0], "web4", "failed hosts come first")
        hosts = {h["host"]: h for h in doc["hosts"]}
        self.assertEqual({n: h["result"] for n, h in hosts.items()}, EXPECTED)
        a = hosts["web1"]["adapters"][0]
        self.assertEqual((a["mac"], a["before"]["BOOT"], a["after"]["BOOT"]), ("0010180A0101", "3.29", "3.38"))
        self.assertEqual(len(hosts["web1"]["adapters"]), 6)
        bad = {ad["mac"]: ad for ad in hosts["web4"]["adapters"]}
        self.assertEqual(bad["0010180A0102"]["components"]["PXE"]["result"], "failed")
        self.assertEqual(bad["0010180A0101"]["components"]["ASF"]["reason"], "image file not found in the package")
        self.assertFalse(bad["0010180B0201"]["detected"])
        self.assertEqual(hosts["web2"]["adapters"], [])
        with open(os.path.join(OUTPUT, "fleet.html")) as f:
            page = f.read()
        self.assertNotRegex(page, r"<(script|link|img)[^>]+(src|href)=", "the page loads nothing")


if __name__ == "__main__":
    reason = skip_reason()
    if reason:
        print("SKIP: " + reason)
        sys.exit(77)
    if not os.path.isfile(PACKAGE):
        print("fleet_test: no package '%s'; build everything first" % PACKAGE, file=sys.stderr)
        sys.exit(1)
    os.makedirs(OUTPUT, exist_ok=True)
    sys.exit(0 if unittest.main(argv=[sys.argv[0], "-v"], exit=False).result.wasSuccessful() else 1)
