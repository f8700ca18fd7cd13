"""Faults in the middle of a job, under Wine: the setup killed at each step
of an upgrade (a power loss, a deployment tool's time-out), a disk that fills
up, and a file that cannot be replaced. The installation stays whole and
starts; a failure undoes what was done, and the next run undoes what a kill
left, before anything else; the user's files are never touched."""
import os
import shutil
import signal
import subprocess
import unittest

import wine
from installer import (EXIT, FILES, JOURNAL, InstallerTestCase, read,
                       tree)

FAILED, FOREIGN = EXIT["FAILED"], EXIT["FOREIGN"]
OWN = FILES + ["Uninstall.exe"]


def user_files(folder):
    """Some hundreds of the user's files, in folders of their own and in
    ours, and an empty folder; returns their relative paths."""
    made = ["Presets/", "Presets/Empty/", "Library/Plugins/"]
    for name in made:
        os.makedirs(os.path.join(folder, name), exist_ok=True)
    for index in range(300):
        name = ("Presets/preset %03d.xmp" if index % 2 else
                "Library/Plugins/plugin %03d.dll") % index
        with open(os.path.join(folder, name), "w", encoding="ascii") as f:
            f.write(f"the user's {index}\n")
        made.append(name)
    return made


class Faults(InstallerTestCase):

    def mount(self, *arguments):
        """Runs mount; skips the test where it may not."""
        if subprocess.run(["mount"] + list(arguments),
                          stderr=subprocess.DEVNULL,
                          check=False).returncode != 0:
            self.skipTest("the test needs the right to mount")

    def test_an_upgrade_killed_at_each_step(self):
        """Killed while staging, when every file is staged, half-way
        through the swap and while registering: each file of the
        installation is whole, old or new, and it starts; the next run first
        undoes the job (here it is then refused, so that what it undid
        shows), and then installs."""
        folder = self.all.folder
        foreign = os.path.join(self.prefix.drive_c, "Foreign")
        os.makedirs(foreign)
        with open(os.path.join(foreign, "Tolvarin.exe"), "w") as f:
            f.write("another program's\n")
        # The new version's uninstaller, which is not in the ZIP.
        self.install(folder="C:\\Fresh")
        new = dict(self.payload, **{"Uninstall.exe": read(os.path.join(
            self.prefix.host("C:\\Fresh"), "Uninstall.exe"))})
        self.uninstall()
        for step in ("1.new", "swap", "2.on", "register"):
            with self.subTest(step):
                self.install(installer=self.older)
                mine = user_files(folder)
                # The previous version's files, told apart from the new.
                for name in OWN:
                    with open(os.path.join(folder, name), "ab") as f:
                        f.write(b"old")
                old = {name: read(os.path.join(folder, name)) for name in OWN}
                before = self.snapshot(folder, os.path.dirname(folder))

                process = subprocess.Popen(
                    wine.command(self.installer, "/S"),
                    env=wine.environment(self.prefix.env),
                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
                marker = os.path.join(folder, JOURNAL, step)
                while not os.path.exists(marker):
                    self.assertIsNone(process.poll(), "the setup ended")
                os.kill(process.pid, signal.SIGKILL)
                process.wait()

                self.assertTrue(os.path.exists(os.path.join(folder, JOURNAL)))
                for name in OWN:
                    data = read(os.path.join(folder, name))
                    self.assertTrue(data in (old[name], new[name]), name)
                status, out = self.prefix.run(
                    "C:\\Program Files\\Tolvarin\\Tolvarin.exe", "/NOAVX")
                self.assertEqual(status, 0, out)

                self.install(folder="C:\\Foreign", status=FOREIGN)
                self.assertEqual(
                    self.snapshot(folder, os.path.dirname(folder)), before)
                self.install()
                self.assertInstalled(folder, user_files=mine)
                self.uninstall()
                self.assertNothingLeft(folder, ["Library/"] + mine)
                shutil.rmtree(folder)
        shutil.rmtree(foreign)

    def test_a_step_that_fails_undoes_the_upgrade(self):
        """A fault made at a step after the files began to change: Library\\
        on a mount of its own, which no file can be renamed into (as a folder
        linked to another drive), fails the swap after the uninstaller was
        swapped; a file where the Start menu's folder belongs fails the
        registration after every file was swapped. Everything goes back."""
        folder = self.all.folder
        library = os.path.join(folder, "Library")
        programs = self.all.programs

        def library_on_its_own_mount():
            self.mount("--bind", library, library)
            return lambda: subprocess.run(["umount", library], check=True)

        def start_menu_a_file():
            os.rename(programs, programs + ".aside")
            with open(programs, "w") as f:
                f.write("not a folder\n")
            return lambda: (os.remove(programs),
                            os.rename(programs + ".aside", programs))
        for make_fault in (library_on_its_own_mount, start_menu_a_file):
            with self.subTest(make_fault.__name__):
                self.install(installer=self.older)
                mine = user_files(folder)
                undo_fault = make_fault()
                self.addCleanup(lambda: os.path.isfile(programs) and
                                undo_fault())
                before = self.snapshot(folder)
                self.install(status=FAILED)
                self.assertEqual(self.snapshot(folder), before)
                undo_fault()
                self.install()
                self.assertInstalled(folder, user_files=mine)
                self.uninstall()
                shutil.rmtree(folder)

    def test_a_full_disk_leaves_the_previous_state(self):
        """The disk fills up half-way through a first installation, and
        through an upgrade, which needs room for a second copy of the files
        beside the first: both fail with nothing changed."""
        disk = os.path.join(self.prefix.drive_c, "Small Disk")
        os.makedirs(disk)
        self.addCleanup(os.rmdir, disk)
        self.mount("-t", "tmpfs", "-o", "size=640k", "tolvarin-test", disk)
        self.addCleanup(subprocess.run, ["umount", disk], check=True)
        folder = os.path.join(disk, "Tolvarin")

        before = self.snapshot(disk)
        self.install(folder="C:\\Small Disk\\Tolvarin", status=FAILED)
        self.assertEqual(self.snapshot(disk), before)
        self.assertEqual(tree(disk), [])

        self.mount("-o", "remount,size=1800k", "tolvarin-test", disk)
        self.install(folder="C:\\Small Disk\\Tolvarin",
                     installer=self.older)
        installed = self.snapshot(disk)
        self.install(status=FAILED)
        self.assertEqual(self.snapshot(disk), installed)
        self.uninstall()
        self.assertNothingLeft(folder)


if __name__ == "__main__":
    unittest.main()
