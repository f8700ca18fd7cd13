"""The signed release installer under Wine, as users and deployment tools
use it: a silent install, the launcher started by its path, through App
Paths and through its "Open with" entries, installing again, each switch and
the choices an upgrade keeps, an upgrade from an older version in its folder
and one into another folder, an installation for the current user, and the
registered uninstall commands, waited for as deployment tools wait for them,
with the files, shortcuts and registry checked after each step."""
import json
import os
import shutil
import subprocess
import unittest

import pictures
import wine
from installer import EXIT, InstallerTestCase, place_probes, read, tree


class Installer(InstallerTestCase):

    def test_install_start_install_again_uninstall(self):
        folder = self.all.folder
        self.addCleanup(shutil.rmtree, folder, True)  # the user's files
        classes = self.all.classes
        # Another program's .jpg: its default and its "Open with" value.
        for key, value in ((classes + "\\.jpg", ["/ve", "/d", "Other.jpg"]),
                           (classes + "\\.jpg\\OpenWithProgids",
                            ["/v", "Other.jpg", "/d", ""])):
            self.assertEqual(self.prefix.run("reg", "add", key, *value, "/f",
                                             "/reg:64")[0], 0)
        other_jpg = self.prefix.registry(classes + "\\.jpg")
        self.install()
        self.assertInstalled(folder)
        self.assertFalse(os.path.exists(os.path.join(
            self.prefix.drive_c, "Program Files (x86)", "Tolvarin")))

        # The installed launcher and its uninstaller carry the release
        # signature.
        for name in ("Tolvarin.exe", "Uninstall.exe"):
            result = subprocess.run(
                ["osslsigncode", "verify", "-CAfile",
                 self.release["keys"]["ca"], "-in",
                 os.path.join(folder, name)],
                capture_output=True, text=True, check=False)
            self.assertEqual(result.returncode, 0, result.stdout)

        # Started by its full path, with arguments that have blanks.
        status, out = self.prefix.run(
            "C:\\Program Files\\Tolvarin\\Tolvarin.exe", "/NOAVX",
            "my photo.jpg", "a  b")
        self.assertEqual(status, 0, out)
        self.assertIn("TOLVARIN64.dll (generic x86-64)", out)
        self.assertIn('argv[2] = "my photo.jpg"', out)
        self.assertIn('argv[3] = "a  b"', out)

        # Started by name, as "start" and the Run box do: found only through
        # App Paths, since neither the working folder nor PATH holds it.
        # The sample's satellite mode leaves a thumbnail to show it ran.
        picture = os.path.join(self.sandbox, "my photo.png")
        with open(picture, "wb") as out:
            out.write(pictures.png(pictures.quadrants(320, 200)))
        thumbnail = os.path.join(self.sandbox, "my thumbnail.jpg")
        status, out = self.prefix.run(
            "start", "/wait", "Tolvarin.exe", "/NOAVX", "/SATELLITE",
            wine.windows_path(picture), wine.windows_path(thumbnail),
            cwd=self.sandbox)
        self.assertEqual(status, 0, out)
        self.assertEqual(pictures.jpeg_size(read(thumbnail)), (256, 160))

        # A photo opened through each ProgID reaches the launcher as one
        # argument, blanks and all.
        photos = os.path.join(self.sandbox, "photos ü 写真")
        os.makedirs(photos)
        record = os.path.join(self.sandbox, "record.jsonl")
        place_probes(folder)
        for progid, name in (("Tolvarin.Image", "my photo.jpg"),
                             ("Tolvarin.Raw", "my photo.cr3")):
            photo = os.path.join(photos, name)
            open(photo, "wb").close()
            status, out = self.prefix.run(
                "start", "/wait", "/ProgIDOpen", progid,
                wine.windows_path(photo), cwd=self.sandbox,
                extra_env={"PROBE_RECORD": wine.windows_path(record)})
            self.assertEqual(status, 0, out)
            with open(record, encoding="utf-8") as lines:
                entries = [json.loads(line) for line in lines
                           if '"entry"' in line]
            self.assertEqual(entries[-1]["argv"][1:],
                             [wine.windows_path(photo)])

        # A user's files and empty folders in the installation survive
        # installing again and uninstalling; the read-only attribute on its
        # own files is no reason to refuse either.
        user_files = ["Library/Plugins/", "Library/x64/plugin.dll",
                      "Presets/", "my settings.ini"]
        for name in user_files:
            path = os.path.join(folder, name)
            if name.endswith("/"):
                os.makedirs(path)
            else:
                with open(path, "w", encoding="ascii") as f:
                    f.write("the user's\n")
        read_only = [os.path.join(folder, name) for name in
                     ("THIRD-PARTY-NOTICES.txt", "Library/TOLVARIN64.dll")]
        for path in read_only:
            os.chmod(path, 0o444)
        self.install()
        self.assertInstalled(folder, user_files=user_files)

        for path in read_only:
            os.chmod(path, 0o444)
        self.uninstall()
        self.assertNothingLeft(folder, ["Library/", "Library/x64/"] +
                               user_files)
        self.assertEqual(self.prefix.registry(classes + "\\.jpg"), other_jpg)

    def test_each_switch_and_the_choices_an_upgrade_keeps(self):
        """Each switch does what it says, and installing again without it
        keeps the choice, however often."""
        folder = self.all.folder
        dumps = self.all.local_dumps
        table = [("", True, False, True),
                 ("/NOASSOCIATIONS", False, False, True),
                 ("/DESKTOPSHORTCUT", True, True, True),
                 ("/NOASSOCIATIONS /DESKTOPSHORTCUT /NOCRASHDUMPS", False,
                  True, False)]
        for switches, open_with, desktop, crash_dumps in table:
            with self.subTest(switches):
                self.install(switches)
                self.assertInstalled(folder, open_with=open_with,
                                     desktop=desktop, crash_dumps=crash_dumps)
                self.install()
                self.assertInstalled(folder, open_with=open_with,
                                     desktop=desktop, crash_dumps=crash_dumps)
                self.uninstall()
                self.assertNothingLeft(folder)
                # The LocalDumps key it made for them goes with them.
                self.assertIsNone(self.prefix.registry(dumps)[dumps])
        # A switch changes what an upgrade kept: associations, crash dumps
        # and the desktop shortcut taken away again, and back.
        self.install("/DESKTOPSHORTCUT")
        self.install("/NOASSOCIATIONS /NOCRASHDUMPS")
        self.assertInstalled(folder, open_with=False, desktop=True,
                             crash_dumps=False)
        self.assertIsNone(self.prefix.registry(dumps)[dumps])
        self.uninstall()
        self.assertNothingLeft(folder)
        # An administrator's own LocalDumps settings stay as they were; and
        # their own settings for Tolvarin are neither written over nor
        # taken away.
        theirs = {dumps: {"DumpCount": 3}}
        for key in (dumps, self.all.crash_dumps):
            self.prefix.run("reg", "add", key, "/v", "DumpCount", "/t",
                            "REG_DWORD", "/d", "3", "/f", "/reg:64")
            self.install()
            if key == dumps:
                self.assertInstalled(folder)
            self.uninstall()
            theirs[key] = {"DumpCount": 3}
            self.assertEqual(self.prefix.registry(dumps), theirs)
        self.prefix.run("reg", "delete", dumps, "/f", "/reg:64")

    def test_upgrades_from_an_older_version(self):
        """In its folder, which a plain upgrade keeps, and into another one
        given with /D=, which takes the installation there and leaves only
        the user's files in the old folder; both with names of no code
        page."""
        tools = os.path.join(self.prefix.drive_c, "Fotos ü 写真")
        folder = os.path.join(tools, "Tolvarin")
        os.makedirs(tools)
        self.addCleanup(shutil.rmtree, tools, True)
        self.install(installer=self.older, folder="C:\\Fotos ü 写真\\Tolvarin")
        self.assertInstalled(folder, self.older_version)
        self.install()
        self.assertInstalled(folder)
        self.assertFalse(os.path.exists(self.all.folder))

        self.install(installer=self.older)
        self.assertInstalled(folder, self.older_version)
        with open(os.path.join(folder, "notes.txt"), "w") as notes:
            notes.write("the user's\n")
        moved = os.path.join(tools, "Tolvarin 11")
        self.install(folder="C:\\Fotos ü 写真\\Tolvarin 11")
        self.assertInstalled(moved)
        self.assertEqual(tree(folder), ["notes.txt"])

        self.uninstall()
        self.assertNothingLeft(moved)

    def test_each_uninstall_command_then_install_at_once(self):
        """The uninstall commands as tools run them return only when they
        are done: a setup started right after finds nothing in its way,
        every time. QuietUninstallString, UninstallString with /S appended,
        and the _?= form of earlier versions' entries."""
        folder = self.all.folder
        forms = [lambda entry: entry["QuietUninstallString"],
                 lambda entry: entry["UninstallString"] + " /S",
                 lambda entry: '{0} /S _?={1}'.format(
                     entry["UninstallString"], entry["InstallLocation"])]
        self.install()
        for attempt in range(6):
            with self.subTest(attempt=attempt):
                self.uninstall(form=forms[attempt % len(forms)])
                self.install()
                self.assertInstalled(folder)
        self.uninstall()
        self.assertNothingLeft(folder)

    def test_current_user_installation(self):
        folder = self.user.folder
        self.install("/CurrentUser /DESKTOPSHORTCUT")
        self.assertInstalled(folder, scope=self.user, desktop=True)
        status, out = self.prefix.run(
            self.prefix.windows(folder) + "\\Tolvarin.exe", "/NOAVX",
            "my photo.jpg")
        self.assertEqual(status, 0, out)
        self.assertIn('argv[2] = "my photo.jpg"', out)
        self.install("/AllUsers", status=EXIT["OTHER_SCOPE"])
        # A plain silent update keeps the scope of the installation.
        self.install()
        self.assertInstalled(folder, scope=self.user, desktop=True)

        # An uninstaller started for a folder that holds no installation
        # refuses with nothing changed: another folder given with _?=, or
        # its own holding nothing else.
        # its own holding nothing else, or only another program's files of
        # the same names.
        orphan = os.path.join(self.prefix.drive_c, "Orphan")
        lonely = os.path.join(self.prefix.drive_c, "Lonely")
        shutil.copytree(folder, orphan)
        os.makedirs(lonely)
        shutil.copy(os.path.join(folder, "Uninstall.exe"), lonely)
        before = self.snapshot(folder, orphan, lonely)
        for command in ('"C:\\Orphan\\Uninstall.exe" /S _?=C:\\Lonely',
                        '"C:\\Lonely\\Uninstall.exe" /S', "another's"):
            if command == "another's":
                with open(os.path.join(lonely, "Tolvarin.exe"), "w") as f:
                    f.write("another program's\n")
                before = self.snapshot(folder, orphan, lonely)
                command = '"C:\\Lonely\\Uninstall.exe" /S'
            self.assertEqual(self.prefix.spawn(command), EXIT["BAD_FOLDER"])
            self.assertEqual(self.snapshot(folder, orphan, lonely), before)
        shutil.rmtree(lonely)

        # An orphaned copy's uninstaller takes its own files and leaves the
        # registered installation alone.
        before = self.snapshot(folder)
        command = '"C:\\Orphan\\Uninstall.exe" /S _?=C:\\Orphan'
        self.assertEqual(self.prefix.spawn(command), 0)
        self.wait_for(lambda: not os.path.exists(orphan), "the orphan")
        self.assertEqual(self.snapshot(folder), before)

        self.uninstall(self.user)
        self.assertNothingLeft(folder)


if __name__ == "__main__":
    unittest.main()
