"""Faults in the middle of a job, under Wine: the setup killed at steps of an
upgrade (a deployment tool's time-out), the whole Wine server killed at
random moments of an upgrade and of an uninstall (a power loss: Wine writes
its registry to disk only every 30 s), a disk that fills up, a file that
cannot be replaced, and journals planted in the folder by any user. The
installation stays whole and starts; a failure undoes what was done; the
next run undoes or finishes what a kill left, before anything else; the
user's files and anything outside the folder are never touched."""
import os
import random
import shutil
import signal
import subprocess
import time
import unittest

import wine
from installer import (EXIT, FILES, JOURNAL, InstallerTestCase, read,
                       tree, users_may_write)

FAILED, FOREIGN = EXIT["FAILED"], EXIT["FOREIGN"]
OWN = FILES + ["Uninstall.exe"]
KILLS = 10  # random moments of an upgrade, and as many of an uninstall


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


def write(path, text=""):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-16" if path.endswith(".ini")
              else "utf-8") as f:
        f.write(text)


class FaultTestCase(InstallerTestCase):
    """Ways to stop a job and to tell what it left."""

    def mount(self, *arguments):
        """Runs mount; skips the test where it may not."""
        if subprocess.run(["mount"] + list(arguments),
                          stderr=subprocess.DEVNULL,
                          check=False).returncode != 0:
            self.skipTest("the test needs the right to mount")

    def restart_server(self, umask=None):
        """Restarts the prefix's server, which makes the files and folders:
        with the given umask, else the usual."""
        wine.run_plain(["wineserver", "-k"], env=self.prefix.env)
        usual = os.umask(0o022 if umask is None else umask)
        try:
            wine.run_plain(["wineserver", "-p"], env=self.prefix.env)
        finally:
            os.umask(usual)

    def power_loss(self):
        """Kills the prefix's server and then every program of the prefix
        (a program waiting on the server when it dies may wait forever)."""
        wine.run_plain(["wineserver", "-k9"], env=self.prefix.env)
        mark = f"WINEPREFIX={self.prefix.path}\0".encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as environ:
                    if mark in environ.read() + b"\0":
                        os.kill(int(pid), signal.SIGKILL)
            except (OSError, ProcessLookupError):
                pass

    def started(self, *arguments, program=None):
        return subprocess.Popen(
            wine.command(program or self.installer, *arguments),
            env=wine.environment(self.prefix.env), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def killed_at(self, marker, *arguments):
        """Runs the installer silently with arguments and kills it (kill -9)
        as soon as the file marker exists."""
        process = self.started("/S", *arguments)
        while not os.path.exists(marker):
            self.assertIsNone(process.poll(), "the setup ended")
        os.kill(process.pid, signal.SIGKILL)
        process.wait()

    def new_files(self):
        """The new version's files, its uninstaller included, which the ZIP
        does not hold."""
        self.install(folder="C:\\Fresh")
        new = dict(self.payload, **{"Uninstall.exe": read(os.path.join(
            self.prefix.host("C:\\Fresh"), "Uninstall.exe"))})
        self.uninstall()
        return new

    def assertWhole(self, folder, old, new, place):
        """Each file of the installation is whole, old or new, and it
        starts."""
        for name in OWN:
            data = read(os.path.join(folder, name))
            self.assertTrue(data in (old[name], new[name]), name)
        status, out = self.prefix.run(place + "\\Tolvarin.exe", "/NOAVX")
        self.assertEqual(status, 0, out)

    def older_with_user_files(self, folder, place):
        """The older version, told apart from the new by its bytes, with the
        user's files in its folder; returns the files and the old bytes."""
        self.install(installer=self.older, folder=place)
        mine = user_files(folder)
        for name in OWN:
            with open(os.path.join(folder, name), "ab") as f:
                f.write(b"old")
        return mine, {name: read(os.path.join(folder, name)) for name in OWN}


class Faults(FaultTestCase):

    def test_an_upgrade_killed_at_steps(self):
        """Killed while staging, once the first file and half the files are
        replaced, in a folder whose name holds characters of no code page:
        each file is whole, old or new, and it starts; the next run first
        undoes the job (here it is then refused, so that what it undid
        shows), and then installs. A first installation killed while it
        registers is undone to nothing."""
        place = "C:\\Fotos ü 写真\\Tolvarin"
        folder = self.prefix.host(place)
        parent = os.path.dirname(folder)
        foreign = os.path.join(self.prefix.drive_c, "Foreign")
        write(os.path.join(foreign, "Tolvarin.exe"), "another program's\n")
        new = self.new_files()
        journal = os.path.join(folder, JOURNAL)
        for step in ("2.new", "0.old", "3.old"):
            with self.subTest(step):
                mine, old = self.older_with_user_files(folder, place)
                before = self.snapshot(folder, parent)

                self.killed_at(os.path.join(journal, step))
                self.assertWhole(folder, old, new, place)

                self.install(folder="C:\\Foreign", status=FOREIGN)
                self.assertEqual(self.snapshot(folder, parent), before)
                self.install()
                self.assertInstalled(folder, user_files=mine)
                self.uninstall()
                self.assertNothingLeft(folder, ["Library/"] + mine)
                shutil.rmtree(folder)

        with self.subTest("a first installation"):
            # The Start menu's shortcut is made once the files are in place.
            self.killed_at(self.all.shortcut, f"/D={place}")
            self.install(folder="C:\\Foreign", status=FOREIGN)
            self.assertNothingLeft(folder)
        shutil.rmtree(parent)
        shutil.rmtree(foreign)

    def test_an_uninstall_whose_copy_is_killed(self):
        """The uninstaller's temporary copy, which does the job, killed
        half-way: the command waiting for it says it failed, never 0; the
        next uninstall ends the job."""
        folder = self.all.folder
        self.install()
        command = wine.command(os.path.join(folder, "Uninstall.exe"), "/S")
        original = subprocess.Popen(
            command, env=wine.environment(self.prefix.env),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        # The copy found first, so that nothing stands between the job's
        # start and the kill.
        copies = []
        while not (copies and os.path.exists(os.path.join(folder, JOURNAL))):
            self.assertIsNone(original.poll(), "the uninstall ended")
            copies = copies or subprocess.run(
                ["pgrep", "-f", "Tolvarin-uninstall-"], capture_output=True,
                text=True, check=False).stdout.split()
        for pid in copies:
            os.kill(int(pid), signal.SIGKILL)
        self.assertEqual(original.wait(timeout=60), FAILED)
        # (The uninstall entry may be half removed: run by its path.)
        self.assertEqual(self.prefix.spawn(
            '"C:\\Program Files\\Tolvarin\\Uninstall.exe" /S'), 0)
        self.wait_for(lambda: not os.path.exists(folder), "the folder")
        self.assertNothingLeft(folder)

    def test_an_uninstall_after_an_interrupted_move(self):
        """An installation moved into another folder with /D= and killed
        half-way: the registered uninstall first undoes the move, then
        removes the installation; nothing is left in either folder."""
        apps = os.path.join(self.prefix.drive_c, "Apps")
        old, new = os.path.join(apps, "A"), os.path.join(apps, "B")
        self.addCleanup(shutil.rmtree, apps, True)
        self.install(installer=self.older, folder="C:\\Apps\\A")
        self.killed_at(os.path.join(new, "Library", "TOLVARIN64.dll"),
                       "/D=C:\\Apps\\B")
        self.uninstall()
        self.assertNothingLeft(old)
        self.assertNothingLeft(new)

    def test_journals_planted_in_the_folder_are_not_read(self):
        """Journals any user can put into an installation folder that is not
        in Program Files, naming files elsewhere: neither an uninstall nor
        a setup writes or deletes anything they name, and both do their
        job. A link put in place of a folder of the installation: both
        refuse, touching nothing through it."""
        victim = os.path.join(self.prefix.drive_c, "Victim")
        tools = os.path.join(self.prefix.drive_c, "Tools", "Tolvarin")
        journal = os.path.join(tools, JOURNAL)
        self.addCleanup(shutil.rmtree, victim, True)
        self.addCleanup(shutil.rmtree, os.path.dirname(tools), True)
        for name in ("Uninstall.exe", "Tolvarin.exe", "Library/TOLVARIN64.dll",
                     "precious.txt"):
            write(os.path.join(victim, name), "another program's\n")
        planted = {
            # What an earlier version's uninstaller took for a move's end.
            "a move done": {"job.ini": "[job]\nFolder=C:\\Tools\\Tolvarin\n"
                            "Previous=C:\\Victim\n", "done": ""},
            # Files named past the folder, with their backups and markers.
            "an interrupted job": {
                "job.ini": "[job]\nFolder=C:\\Tools\\Tolvarin\n[files]\n"
                           "0=Library/../../../Victim/evil.txt\n"
                           "1=..\\..\\Victim\\precious.txt\n",
                "0.old": "planted\n", "1.old": "planted\n", "swap": "",
                "0.on": "", "1.on": ""},
        }
        before = self.snapshot(victim)[0]
        for name, files in planted.items():
            with self.subTest(name):
                # With a server that makes folders writable by everyone, the
                # folder above is; those the installer makes for all users
                # are not. (Wine keeps no access control lists: it reads
                # back what it made of one, the Unix permissions.)
                self.restart_server(umask=0)
                self.install(folder="C:\\Tools\\Tolvarin")
                self.restart_server()
                lists = self.prefix.access_lists(
                    os.path.dirname(tools), tools, os.path.join(tools, "Library"),
                    os.path.join(tools, "Library", "x64"))
                self.assertEqual([users_may_write(sddl) for sddl in
                                  lists.values()],
                                 [True, False, False, False], lists)
                for file, text in files.items():
                    write(os.path.join(journal, file), text)
                # The pointer of earlier versions' journals.
                self.prefix.run("reg", "add", self.all.product, "/v", "Setup",
                                "/d", "C:\\Tools\\Tolvarin", "/f", "/reg:64")
                self.install()
                self.assertEqual(self.snapshot(victim)[0], before)
                self.assertInstalled(tools)
                for file, text in files.items():
                    write(os.path.join(journal, file), text)
                self.uninstall()
                self.assertEqual(self.snapshot(victim)[0], before)
                self.assertNothingLeft(tools)

        with self.subTest("a link in place of Library"):
            self.install(folder="C:\\Tools\\Tolvarin")
            library = os.path.join(tools, "Library")
            os.rename(library, library + ".aside")
            os.symlink(victim, library)
            for run in (self.install, self.uninstall):
                run(status=FAILED)
                self.assertEqual(self.snapshot(victim)[0], before)
            os.remove(library)
            os.rename(library + ".aside", library)
            self.uninstall()
            self.assertNothingLeft(tools)

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


class PowerLosses(FaultTestCase):
    """A power loss, in a prefix of its own beside the other faults."""

    def test_the_whole_wine_server_killed_at_random_moments(self):
        """The Wine server and every program in the prefix killed at random
        moments of an upgrade and of an uninstall, with the registry as Wine
        last wrote it (before the job): each file is whole and the
        installation starts, and the next run ends as the job would have.
        An uninstall killed once its files were gone may leave an entry
        without them (Wine lost its removal): the next setup mends it. The
        moments are drawn anew each run; the seed is in the output."""
        seed = random.randrange(1 << 30)
        print(f"\nrandom moments from seed {seed}", flush=True)
        moments = random.Random(seed)
        place = "C:\\Program Files\\Tolvarin"
        folder = self.all.folder
        uninstaller = os.path.join(folder, "Uninstall.exe")
        new = self.new_files()

        def job(process, lasting=None):
            """Waits until the job has begun, then kills everything a random
            moment into it, or, without one, times it."""
            while not os.path.exists(os.path.join(folder, JOURNAL)):
                if process.poll() is not None:
                    return 0
                time.sleep(0.002)
            began = time.monotonic()
            if lasting is None:
                process.wait()
                return time.monotonic() - began
            time.sleep(moments.uniform(0, lasting))
            self.power_loss()
            process.wait()
            wine.run_plain(["wineserver", "-p"], env=self.prefix.env)
            return None

        mine, old = self.older_with_user_files(folder, place)
        upgrade = job(self.started("/S"))
        uninstall = job(self.started("/S", program=uninstaller))
        for moment in range(KILLS):
            with self.subTest(upgrade=moment):
                mine, old = self.older_with_user_files(folder, place)
                self.restart_server()  # the registry written to disk
                job(self.started("/S"), upgrade)
                self.assertWhole(folder, old, new, place)
                self.install()
                self.assertInstalled(folder, user_files=mine)
        for moment in range(KILLS):
            with self.subTest(uninstall=moment):
                self.restart_server()
                job(self.started("/S", program=uninstaller), uninstall)
                if not os.path.exists(uninstaller):
                    self.install()
                    self.assertInstalled(folder, user_files=mine)
                self.uninstall()
                self.assertNothingLeft(folder, ["Library/"] + mine)
                self.install()
        self.uninstall()
        shutil.rmtree(folder)


if __name__ == "__main__":
    unittest.main()
