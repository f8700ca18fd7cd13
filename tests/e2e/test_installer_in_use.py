"""Refusals that wait, under Wine: while Tolvarin runs, its files are in
use, and while another setup runs, it holds the setup's lock. The silent
installer and the registered uninstall command wait a bounded time, then
refuse with their own exit codes and nothing changed. The installer's rows
and the uninstaller's run in two prefixes side by side (two CTest tests)."""
import time
import unittest

from installer import EXIT, InstallerTestCase

IN_USE, BUSY = EXIT["IN_USE"], EXIT["BUSY"]
LOCK = {"PROBE_MUTEX": "Global\\Tolvarin.Setup"}
WAIT_SECONDS = 10


class Waits(InstallerTestCase):

    def refused_after_the_wait(self, table):
        """Each row while the held program runs (holding the lock too when
        asked to): the step is refused after the bounded wait, with nothing
        changed."""
        folder = self.all.folder
        elsewhere = self.prefix.host("C:\\Photo Tools\\Tolvarin")
        self.install()
        for name, step, extra_env in table:
            with self.subTest(name):
                end = self.start_held(folder, extra_env)
                before = self.snapshot(folder, elsewhere)
                started = time.monotonic()
                step()
                waited = time.monotonic() - started
                self.assertEqual(self.snapshot(folder, elsewhere), before)
                end()
                self.assertGreaterEqual(waited, WAIT_SECONDS)
                self.assertLess(waited, 3 * WAIT_SECONDS)
        self.uninstall()
        self.assertNothingLeft(folder)


class InstallWaits(Waits):

    def test_an_install_waits_then_refuses(self):
        self.refused_after_the_wait([
            ("an upgrade", lambda: self.install(status=IN_USE), {}),
            # The installation it replaces is in use, not the folder it
            # goes to.
            ("an upgrade into another folder",
             lambda: self.install(folder="C:\\Photo Tools\\Tolvarin",
                                  status=IN_USE), {}),
            ("a second setup", lambda: self.install(status=BUSY), LOCK),
        ])


class UninstallWaits(Waits):

    def test_an_uninstall_waits_then_refuses(self):
        self.refused_after_the_wait([
            ("an uninstall", lambda: self.uninstall(status=IN_USE), {}),
            ("an uninstall during a setup",
             lambda: self.uninstall(status=BUSY), LOCK),
        ])


if __name__ == "__main__":
    unittest.main()
