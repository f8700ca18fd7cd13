"""The signed release installer under Wine, in a prefix of its own made
fresh for this run: silent install, the installed launcher started by its
path and through App Paths, installing again, an upgrade from an older
version, and silent uninstalling, with the files, the shortcut and the
registry checked after each step."""
import json
import os
import shutil
import subprocess
import unittest
import zipfile

import pictures
import wine
from harness import new_sandbox, spawn

BUILD_DIR = os.environ["BUILD_DIR"]
RELEASE_DIR = os.environ["RELEASE_DIR"]
PREFIX = os.path.join(BUILD_DIR, "wineprefix-installer")
ENV = {"WINEPREFIX": PREFIX}

DRIVE_C = os.path.join(PREFIX, "drive_c")
PROGRAM_FILES = os.path.join(DRIVE_C, "Program Files")
DEFAULT_FOLDER = os.path.join(PROGRAM_FILES, "Tolvarin")
SHORTCUT = os.path.join(DRIVE_C, "ProgramData", "Microsoft", "Windows",
                        "Start Menu", "Programs", "Tolvarin.lnk")
MACHINE = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
UNINSTALL = MACHINE + "\\Uninstall"
UNINSTALL_KEY = UNINSTALL + "\\Tolvarin"
APP_PATHS_KEY = MACHINE + "\\App Paths\\Tolvarin.exe"

# What the installer lays out besides its uninstaller: the ZIP's entries.
LAYOUT = ["Library/", "Library/TOLVARIN64.dll", "Library/TOLVARIN64avx.dll",
          "Library/x64/", "Tolvarin.exe"]


def load_release():
    with open(os.path.join(RELEASE_DIR, "release.json"),
              encoding="utf-8") as f:
        release = json.load(f)
    if "skipped" in release:
        raise unittest.SkipTest(release["skipped"])
    return release


def tree(folder):
    """Every file and folder below folder, relative, folders ending in /."""
    found = []
    for parent, folders, files in os.walk(folder):
        relative = os.path.relpath(parent, folder)
        for name in folders:
            found.append(os.path.normpath(os.path.join(relative, name)) + "/")
        for name in files:
            found.append(os.path.normpath(os.path.join(relative, name)))
    return sorted(path.replace(os.sep, "/") for path in found)


def on_drive_c(folder):
    """The Windows spelling of a folder in the installer prefix's C:."""
    return "C:\\" + os.path.relpath(folder, DRIVE_C).replace(os.sep, "\\")


class Installer(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.release = load_release()
        package = f"Tolvarin-{cls.release['version']}-win64"
        cls.installer = os.path.join(cls.release["one"]["shipped"],
                                     package + ".exe")
        cls.zip = os.path.join(cls.release["one"]["shipped"], package + ".zip")
        shutil.rmtree(PREFIX, ignore_errors=True)
        os.makedirs(PREFIX)
        assert wine.run_plain(["wineboot", "-i"], env=ENV) == 0

    @classmethod
    def tearDownClass(cls):
        wine.run_plain(["wineserver", "-k"], env=ENV)

    def setUp(self):
        self.sandbox = new_sandbox()
        self.addCleanup(shutil.rmtree, self.sandbox, True)

    def wine(self, *arguments):
        """Runs a program in the installer prefix, waits until every process
        it started has ended (an uninstaller copies itself away and returns
        at once), and returns (status, stdout)."""
        status, out, _ = wine.run(list(arguments), cwd=self.sandbox, env=ENV)
        wine.run_plain(["wineserver", "-w"], env=ENV)
        return status, out

    def install(self, installer, folder=None):
        """Installs silently; into folder when given, with /D=, which NSIS
        takes unquoted and last on the command line."""
        line = f'"{wine.windows_path(installer)}" /S'
        if folder:
            line += f" /D={folder}"
        status, out, _ = spawn(wine.windows_path(installer), line,
                               self.sandbox, ENV)
        wine.run_plain(["wineserver", "-w"], env=ENV)
        self.assertEqual(status, 0, out)

    def assertInstalled(self, folder, version, user_files=()):
        """The ZIP's layout, the uninstaller and the user's files in folder;
        one uninstall entry, the shortcut and App Paths pointing there."""
        self.assertEqual(tree(folder), sorted(LAYOUT + ["Uninstall.exe"] +
                                              list(user_files)))
        with zipfile.ZipFile(self.zip) as archive:
            for name in LAYOUT:
                if not name.endswith("/"):
                    with open(os.path.join(folder, name), "rb") as f:
                        self.assertEqual(f.read(), archive.read(name), name)

        location = on_drive_c(folder)
        exe = location + "\\Tolvarin.exe"
        uninstaller = f'"{location}\\Uninstall.exe"'
        self.assertEqual([k for k in wine.subkeys(UNINSTALL, ENV)
                          if "tolvarin" in k.lower()], ["Tolvarin"])
        entry = wine.registry(UNINSTALL_KEY, ENV)
        self.assertEqual(entry["DisplayName"], "Tolvarin")
        self.assertEqual(entry["Publisher"], "Tolvarin developers")
        self.assertEqual(entry["DisplayVersion"], version)
        self.assertEqual(entry["DisplayIcon"], exe + ",0")
        self.assertEqual(entry["InstallLocation"], location)
        self.assertEqual(entry["UninstallString"], uninstaller)
        self.assertEqual(entry["QuietUninstallString"], uninstaller + " /S")
        size = sum(os.path.getsize(os.path.join(folder, name))
                   for name in LAYOUT if not name.endswith("/"))
        self.assertAlmostEqual(int(entry["EstimatedSize"], 16), size / 1024,
                               delta=4)
        # Only in the 64-bit view of the registry.
        self.assertIsNone(wine.registry(UNINSTALL_KEY, ENV, view=32))

        self.assertEqual(wine.registry(APP_PATHS_KEY, ENV),
                         {"(Default)": exe})
        with open(SHORTCUT, "rb") as link:
            self.assertIn(exe.encode(), link.read())

    def assertNothingLeft(self, folder, user_files=()):
        self.assertEqual(tree(folder) if os.path.exists(folder) else [],
                         sorted(user_files))
        if not user_files:
            self.assertFalse(os.path.exists(folder))
        self.assertFalse(os.path.exists(SHORTCUT))
        self.assertIsNone(wine.registry(UNINSTALL_KEY, ENV))
        self.assertIsNone(wine.registry(APP_PATHS_KEY, ENV))

    def test_install_start_install_again_uninstall(self):
        version = self.release["version"]
        self.addCleanup(shutil.rmtree, DEFAULT_FOLDER, True)  # the user's
        self.install(self.installer)
        self.assertInstalled(DEFAULT_FOLDER, version)
        self.assertFalse(os.path.exists(os.path.join(
            DRIVE_C, "Program Files (x86)", "Tolvarin")))

        # The installed launcher and its uninstaller carry the release
        # signature.
        for name in ("Tolvarin.exe", "Uninstall.exe"):
            result = subprocess.run(
                ["osslsigncode", "verify", "-CAfile",
                 self.release["keys"]["ca"], "-in",
                 os.path.join(DEFAULT_FOLDER, name)],
                capture_output=True, text=True, check=False)
            self.assertEqual(result.returncode, 0, result.stdout)

        # Started by its full path, with arguments that have blanks.
        status, out = self.wine("C:\\Program Files\\Tolvarin\\Tolvarin.exe",
                                "/NOAVX", "my photo.jpg", "a  b")
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
        status, out = self.wine("start", "/wait", "Tolvarin.exe", "/NOAVX",
                                "/SATELLITE", wine.windows_path(picture),
                                wine.windows_path(thumbnail))
        self.assertEqual(status, 0, out)
        with open(thumbnail, "rb") as jpeg:
            self.assertEqual(pictures.jpeg_size(jpeg.read()), (256, 160))

        # A user's files in the installation survive installing again and
        # uninstalling.
        user_files = ["Library/x64/", "Library/x64/plugin.dll",
                      "my settings.ini"]
        for name in user_files[1:]:
            with open(os.path.join(DEFAULT_FOLDER, name), "w",
                      encoding="ascii") as f:
                f.write("the user's\n")
        self.install(self.installer)
        self.assertInstalled(DEFAULT_FOLDER, version, user_files[1:])

        status, out = self.wine(
            "C:\\Program Files\\Tolvarin\\Uninstall.exe", "/S")
        self.assertEqual(status, 0, out)
        self.assertNothingLeft(DEFAULT_FOLDER,
                               ["Library/"] + user_files)

    def test_upgrade_from_an_older_version_stays_in_its_folder(self):
        os.makedirs(os.path.join(DRIVE_C, "Photo Tools"), exist_ok=True)
        folder = os.path.join(DRIVE_C, "Photo Tools", "Tolvarin")
        self.install(self.release["older_installer"],
                     "C:\\Photo Tools\\Tolvarin")
        self.assertInstalled(folder, self.release["older_version"])

        self.install(self.installer)
        self.assertInstalled(folder, self.release["version"])
        self.assertFalse(os.path.exists(DEFAULT_FOLDER))

        # Uninstalled the way Windows does it silently: by the command in
        # QuietUninstallString.
        command = wine.registry(UNINSTALL_KEY, ENV)["QuietUninstallString"]
        program, switch = command.rsplit(" ", 1)
        status, out = self.wine(program.strip('"'), switch)
        self.assertEqual(status, 0, out)
        self.assertNothingLeft(folder)
        self.assertTrue(os.path.isdir(os.path.dirname(folder)))


if __name__ == "__main__":
    unittest.main()
