"""Refusals that wait, under Wine: while Tolvarin runs, its files are in
use; another program may hold one of them without delete sharing (a backup
agent, a virus scanner) or have its library loaded; and while another setup
runs, it holds the setup's lock. The silent installer and the registered
uninstall command wait a bounded time, then refuse with their own exit
codes and nothing changed, no journal left. The installer's rows and the
uninstaller's run in two prefixes side by side (two CTest tests)."""
import os
import time
import unittest

from installer import EXIT, LOCK, InstallerTestCase, tree

IN_USE, BUSY = EXIT["IN_USE"], EXIT["BUSY"]
WAIT_SECONDS = 10


class Waits(InstallerTestCase):

    def refused_after_the_wait(self, table, installer=None):
        """Each row while its file is held (and the lock, when asked to): the
        step is refused after the bounded wait, with nothing changed."""
        folder = self.all.folder
        elsewhere = self.prefix.host("C:\\Photo Tools\\Tolvarin")
        self.install(installer=installer)
        for name, hold, step in table:
            with self.subTest(name):
                end = hold()
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

    def holders(self):
        """The ways the installation's files are kept in use."""
        folder = self.all.folder
        return {
            "Tolvarin running": lambda: self.start_held(folder),
            "another setup running": lambda: self.start_held(folder, LOCK),
            "a file held by a backup agent": lambda: self.hold_file(
                os.path.join(folder, "THIRD-PARTY-NOTICES.txt")),
            "a library loaded by another program": lambda: self.hold_file(
                os.path.join(folder, "Library", "TOLVARIN64.dll"), "load"),
        }


class InstallWaits(Waits):

    def test_an_install_waits_then_refuses(self):
        hold = self.holders()
        self.refused_after_the_wait([
            ("an upgrade", hold["Tolvarin running"],
             lambda: self.install(status=IN_USE)),
            # The installation it replaces is in use, not the folder it
            # goes to.
            ("an upgrade into another folder", hold["Tolvarin running"],
             lambda: self.install(folder="C:\\Photo Tools\\Tolvarin",
                                  status=IN_USE)),
            ("a second setup", hold["another setup running"],
             lambda: self.install(status=BUSY)),
            ("an upgrade, a file held", hold["a file held by a backup agent"],
             lambda: self.install(status=IN_USE)),
            ("an upgrade, the library loaded",
             hold["a library loaded by another program"],
             lambda: self.install(status=IN_USE)),
        ], installer=self.older)


class UninstallWaits(Waits):

    def test_an_uninstall_waits_then_refuses(self):
        hold = self.holders()
        self.refused_after_the_wait([
            ("an uninstall", hold["Tolvarin running"],
             lambda: self.uninstall(status=IN_USE)),
            ("an uninstall during a setup", hold["another setup running"],
             lambda: self.uninstall(status=BUSY)),
            ("an uninstall, a file held",
             hold["a file held by a backup agent"],
             lambda: self.uninstall(status=IN_USE)),
            ("an uninstall, the library loaded",
             hold["a library loaded by another program"],
             lambda: self.uninstall(status=IN_USE)),
        ])

    def test_an_uninstaller_held_goes_on_the_next_run(self):
        """The uninstaller's own file held by another program when it is
        done: the command returns 0, everything else is gone; the file goes
        when it is run again, once free."""
        folder = self.all.folder
        uninstaller = os.path.join(folder, "Uninstall.exe")
        self.install()
        end = self.hold_file(uninstaller)
        self.assertEqual(self.prefix.spawn(
            '"C:\\Program Files\\Tolvarin\\Uninstall.exe" /S'), 0)
        self.assertIsNone(self.prefix.registry(self.all.entry)[self.all.entry])
        self.assertEqual(tree(folder), ["Uninstall.exe"])
        end()
        self.assertEqual(self.prefix.spawn(
            '"C:\\Program Files\\Tolvarin\\Uninstall.exe" /S'), 0)
        self.wait_for(lambda: not os.path.exists(folder), "the folder")
        self.assertNothingLeft(folder)


if __name__ == "__main__":
    unittest.main()
