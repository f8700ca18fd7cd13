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

    def killed_at(self, step, *arguments, folder, marker=None):
        """Runs the installer with arguments and kills it (kill -9) as soon
        as the journal in folder holds step (or marker exists)."""
        process = subprocess.Popen(
            wine.command(self.installer, "/S", *arguments),
            env=wine.environment(self.prefix.env), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        marker = marker or os.path.join(folder, JOURNAL, step)
        while not os.path.exists(marker):
            self.assertIsNone(process.poll(), "the setup ended")
        os.kill(process.pid, signal.SIGKILL)
        process.wait()
        self.assertTrue(os.path.exists(os.path.join(folder, JOURNAL)))

    def test_an_upgrade_killed_at_each_step(self):
        """Killed while staging, when every file is staged, half-way
        through the swap and while registering, in a folder whose name holds
        characters of no code page: each file of the installation is whole,
        old or new, and it starts; the next run first undoes the job (here
        it is then refused, so that what it undid shows), and then installs.
        A first installation killed while registering is undone to
        nothing."""
        place = "C:\\Fotos ü 写真\\Tolvarin"
        folder = self.prefix.host(place)
        parent = os.path.dirname(folder)
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
                self.install(installer=self.older, folder=place)
                mine = user_files(folder)
                # The previous version's files, told apart from the new.
                for name in OWN:
                    with open(os.path.join(folder, name), "ab") as f:
                        f.write(b"old")
                old = {name: read(os.path.join(folder, name)) for name in OWN}
                before = self.snapshot(folder, parent)

                self.killed_at(step, folder=folder)
                for name in OWN:
                    data = read(os.path.join(folder, name))
                    self.assertTrue(data in (old[name], new[name]), name)
                status, out = self.prefix.run(place + "\\Tolvarin.exe",
                                              "/NOAVX")
                self.assertEqual(status, 0, out)

                self.install(folder="C:\\Foreign", status=FOREIGN)
                self.assertEqual(self.snapshot(folder, parent), before)
                self.install()
                self.assertInstalled(folder, user_files=mine)
                self.uninstall()
                self.assertNothingLeft(folder, ["Library/"] + mine)
                shutil.rmtree(folder)

        with self.subTest("a first installation"):
            # Killed once the registration has begun: its shortcut is made
            # first.
            self.killed_at("register", f"/D={place}", folder=folder,
                           marker=self.all.shortcut)
            self.install(folder="C:\\Foreign", status=FOREIGN)
            self.assertNothingLeft(folder)
        shutil.rmtree(parent)
        shutil.rmtree(foreign)

    def test_an_uninstall_after_an_interrupted_move(self):
        """An installation moved into another folder with /D= and killed:
        half-way, the registered uninstall refuses with nothing changed,
        until the setup has run again; once the move was done, uninstalling
        the new folder empties the old one too."""
        apps = os.path.join(self.prefix.drive_c, "Apps")
        old, new = os.path.join(apps, "A"), os.path.join(apps, "B")
        self.addCleanup(shutil.rmtree, apps, True)
        self.install(installer=self.older, folder="C:\\Apps\\A")
        self.killed_at("2.on", "/D=C:\\Apps\\B", folder=new)
        before = self.snapshot(apps)
        self.uninstall(status=FAILED)
        self.assertEqual(self.snapshot(apps), before)
        self.install(folder="C:\\Apps\\B")
        self.assertInstalled(new)
        self.assertFalse(os.path.exists(old))

        self.uninstall()
        self.install(installer=self.older, folder="C:\\Apps\\A")
        self.killed_at("done", "/D=C:\\Apps\\B", folder=new)
        self.uninstall()
        self.assertNothingLeft(new)
        self.assertFalse(os.path.exists(old))

    def test_a_journal_planted_in_the_folder_is_not_read(self):
        """A journal that this setup did not write (the registry does not
        name it), put into the folder it installs into: it neither writes
        nor deletes anything it names elsewhere, and installs."""
        victim = os.path.join(self.prefix.drive_c, "Victim")
        shared = os.path.join(self.prefix.drive_c, "Shared")
        journal = os.path.join(shared, "Tolvarin", JOURNAL)
        os.makedirs(victim)
        os.makedirs(journal)
        self.addCleanup(shutil.rmtree, victim, True)
        self.addCleanup(shutil.rmtree, shared, True)
        for name in ("precious.txt", "other.txt"):
            with open(os.path.join(victim, name), "w") as f:
                f.write("the user's\n")
        with open(os.path.join(journal, "job.ini"), "w") as f:
            f.write("[job]\nFolder=C:\\Victim\n"
                    "[files]\n0=precious.txt\n1=other.txt\n")
        for name, data in (("swap", ""), ("0.on", ""), ("1.on", ""),
                           ("0.old", "planted\n")):
            with open(os.path.join(journal, name), "w") as f:
                f.write(data)
        before = self.snapshot(victim)[0]
        self.install(folder="C:\\Shared\\Tolvarin")
        self.assertEqual(self.snapshot(victim)[0], before)
        self.assertInstalled(os.path.dirname(journal))
        self.uninstall()

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
            self.addCleanup(subprocess.run, ["umount", library],
                            stderr=subprocess.DEVNULL, check=False)
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
