"""The Ansible playbook against three emulated hosts on 127.0.0.1 and ::1, one with a
locked object: the update goes to two, the third fails, and the play reports all three."""

import json
import os
import re
import tempfile
import unittest

from fleet import PASSWORD, Fleet

CLI = os.environ["APPLY_UPDATE_CLI"]


class PlaybookTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="apply-update-fleet-")
        self.addCleanup(self.folder.cleanup)
        self.fleet = Fleet(self.folder.name, 3, locked={"host3"}, ipv6={"host2"})
        self.addCleanup(self.fleet.stop)

    def recap(self, output):
        """host -> (ok, changed, failed) of the play recap."""
        found = re.findall(r"^(host\d+)\s+: ok=(\d+)\s+changed=(\d+)\s+.*failed=(\d+)",
                           output, re.MULTILINE)
        return {host: (int(ok), int(changed), int(failed)) for host, ok, changed, failed in found}

    def summaries(self, output):
        """host -> the summary the play showed for it."""
        shown = re.findall(r'^\w+: \[(host\d+)\](?:: FAILED!)? => \{\n'
                           r'    "apply_update_summary": (\{.*?\n    \})',
                           output, re.MULTILINE | re.DOTALL)
        return {host: json.loads(summary) for host, summary in shown}

    def test_applies_to_two_fails_the_locked_one_and_reports_all_three(self):
        # -v shows every task's result, so no_log has to keep the password out of it.
        run = self.fleet.run_playbook(CLI, "-v")
        output = run.stdout + run.stderr

        self.assertEqual(run.returncode, 2, output)  # some host failed
        recap = self.recap(output)
        self.assertEqual(recap["host1"][1:], (1, 0), output)
        self.assertEqual(recap["host2"][1:], (1, 0), output)
        self.assertEqual(recap["host3"][1:], (0, 1), output)
        # Each host's summary, from the program's JSON line, is in the play's output.
        summaries = self.summaries(output)
        self.assertEqual({name: summary["outcome"] for name, summary in summaries.items()},
                         {"host1": "applied", "host2": "applied", "host3": "locked"}, output)
        # An IPv6 address with a port goes to the program in brackets.
        shown = {"host1": "127.0.0.1:%d", "host2": "[::1]:%d", "host3": "127.0.0.1:%d"}
        for name, summary in summaries.items():
            self.assertEqual(summary["host"], shown[name] % self.fleet.ports[name])
        self.assertIn("host3: locked - The object APPLIB/ORDERS is locked.", output)
        # What the hosts got: the update and its install on two, no install on the third.
        package = (self.fleet.package / "MYUPD.SVF").read_bytes()
        for name in ("host1", "host2"):
            self.assertEqual(self.fleet.stored("KDXSUPPT", "MYUPD", name), package)
            self.assertTrue(any("zlclupd" in c and "PRDLIB(APPLIB)" in c
                                for c in self.fleet.commands(name)))
        self.assertFalse(any("zlclupd" in c for c in self.fleet.commands("host3")))
        self.assertNotIn(PASSWORD, output)

    def test_serial_batches_stop_once_more_fail_than_allowed(self):
        run = self.fleet.run_playbook(
            CLI, "-e", "apply_update_serial=1", "-e", "apply_update_max_fail_percentage=0",
            order=["host3", "host1", "host2"])
        output = run.stdout + run.stderr

        self.assertNotEqual(run.returncode, 0, output)
        self.assertEqual(set(self.recap(output)), {"host3"}, output)
        self.assertEqual(self.fleet.commands("host1"), [])
        self.assertEqual(self.fleet.commands("host2"), [])


if __name__ == "__main__":
    unittest.main()
