"""Refusals that wait, under Wine: while Tolvarin runs, its files are in
use, and while another setup runs, it holds the setup's lock. The silent
installer and the registered uninstall command wait a bounded time, then
refuse with their own exit codes and nothing changed."""
import time
import unittest

from installer import EXIT, InstallerTestCase

IN_USE, BUSY = EXIT["IN_USE"], EXIT["BUSY"]
LOCK = {"PROBE_MUTEX": "Global\\Tolvarin.Setup"}
WAIT_SECONDS = 10


class InUse(InstallerTestCase):

    def test_refused_after_a_bounded_wait_with_nothing_changed(self):
        folder = self.all.folder
        self.install()
        elsewhere = "C:\\Photo Tools\\Tolvarin"
        table = [
            ("an upgrade", lambda: self.install(status=IN_USE), {}),
            # The installation it replaces is in use, not the folder it
            # goes to.
            ("an upgrade into another folder",
             lambda: self.install(folder=elsewhere, status=IN_USE), {}),
            ("an uninstall", lambda: self.uninstall(status=IN_USE), {}),
            ("a second setup", lambda: self.install(status=BUSY), LOCK),
            ("an uninstall during a setup",
             lambda: self.uninstall(status=BUSY), LOCK),
        ]
        for name, step, extra_env in table:
            with self.subTest(name):
                end = self.start_held(folder, extra_env)
                before = self.snapshot(folder, self.prefix.host(elsewhere))
                started = time.monotonic()
                step()
                waited = time.monotonic() - started
                self.assertEqual(self.snapshot(
                    folder, self.prefix.host(elsewhere)), before)
                end()
                self.assertGreaterEqual(waited, WAIT_SECONDS)
                self.assertLess(waited, 3 * WAIT_SECONDS)

        self.uninstall()
        self.assertNothingLeft(folder)


if __name__ == "__main__":
    unittest.main()
