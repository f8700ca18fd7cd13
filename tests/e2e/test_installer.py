"""The signed release installer under Wine, in a prefix of its own made
fresh for this run: silent install, the installed launcher started by its
path, through App Paths and through its "Open with" entries, installing
again, an upgrade from an older version, silent uninstalling, an
installation for the current user, and every refusal, with the files, the
shortcut and the registry checked after each step."""
import getpass
import hashlib
import json
import os
import shutil
import subprocess
import time
import unittest
import zipfile

import pictures
import wine
from harness import AVX, GENERIC, PROBE_DIR, new_sandbox, spawn

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
CLASSES = "HKEY_LOCAL_MACHINE\\Software\\Classes"
USER = "HKEY_CURRENT_USER\\Software"
USER_UNINSTALL_KEY = (USER + "\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
                      "\\Tolvarin")
USER_FOLDER = os.path.join(DRIVE_C, "users", getpass.getuser(), "AppData",
                           "Local", "Programs", "Tolvarin")
# Exit codes of the installer and the uninstaller.
FAILED, BAD_FOLDER, IN_USE, FOREIGN, BUSY, OTHER_SCOPE = 2, 3, 4, 5, 6, 7

# What the installer lays out besides its uninstaller: the ZIP's entries.
LAYOUT = ["Library/", "Library/TOLVARIN64.dll", "Library/TOLVARIN64avx.dll",
          "Library/x64/", "THIRD-PARTY-NOTICES.txt", "Tolvarin.exe"]


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


def snapshot(*folders):
    """Files with their contents below the folders, the shortcut, and the
    registry keys the installer writes, to compare before and after."""
    files = {}
    for folder in folders:
        for name in tree(folder) if os.path.exists(folder) else []:
            path = os.path.join(folder, name)
            if name.endswith("/"):
                files[path] = None
            else:
                with open(path, "rb") as f:
                    files[path] = hashlib.sha256(f.read()).hexdigest()
    keys = [UNINSTALL_KEY, APP_PATHS_KEY, USER_UNINSTALL_KEY,
            CLASSES + "\\Tolvarin.Image\\shell\\open\\command",
            CLASSES + "\\.jpg\\OpenWithProgids"]
    return files, os.path.exists(SHORTCUT), [wine.registry(k, ENV)
                                             for k in keys]


def place_probes(folder):
    """Probe libraries, which record what they see, as both builds."""
    for name in (GENERIC, AVX):
        shutil.copy(os.path.join(PROBE_DIR, "probe_generic.dll"),
                    os.path.join(folder, "Library", name))


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

    def install(self, installer=None, folder=None, switches="", status=0):
        """Installs silently; into folder when given, with /D=, which NSIS
        takes unquoted and last on the command line."""
        installer = installer or self.installer
        line = f'"{wine.windows_path(installer)}" /S {switches}'
        if folder:
            line += f" /D={folder}"
        got, out, _ = spawn(wine.windows_path(installer), line,
                            self.sandbox, ENV)
        wine.run_plain(["wineserver", "-w"], env=ENV)
        self.assertEqual(got, status, out)

    def uninstall(self, folder, status=0):
        """Uninstalls silently, waiting for it (_?=) to see its exit code."""
        location = on_drive_c(folder)
        program = location + "\\Uninstall.exe"
        got, out, _ = spawn(program, f'"{program}" /S _?={location}',
                            self.sandbox, ENV)
        wine.run_plain(["wineserver", "-w"], env=ENV)
        self.assertEqual(got, status, out)
        if got == 0:  # run in place, it cannot delete itself
            os.remove(os.path.join(folder, "Uninstall.exe"))
            os.rmdir(folder)

    def start_held(self, folder, extra_env=None):
        """Starts the installed launcher with a probe library that keeps
        running, so that its executable and library are in use; returns the
        function that lets it end."""
        place_probes(folder)
        release = os.path.join(self.sandbox, "release")
        record = os.path.join(self.sandbox, "record.jsonl")
        for old in (release, record):
            if os.path.exists(old):
                os.remove(old)
        env = wine.environment(dict(ENV, PROBE_HOLD=wine.windows_path(release),
                                    PROBE_RECORD=wine.windows_path(record),
                                    **(extra_env or {})))
        process = subprocess.Popen(
            ["wine", os.path.join(folder, "Tolvarin.exe"), "/NOAVX"],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        for _ in range(300):
            if os.path.exists(record):
                with open(record, encoding="utf-8") as f:
                    if "holding" in f.read():
                        break
            time.sleep(0.1)

        def end():
            open(release, "w").close()
            process.wait(timeout=60)
        self.addCleanup(lambda: process.poll() is None and end())
        return end

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

        # "Open with" for both ProgIDs, and the Default Apps capabilities.
        for progid, types in (("Tolvarin.Image", ["jpg", "jxl"]),
                              ("Tolvarin.Raw", ["dng", "rwl"])):
            self.assertEqual(wine.registry(f"{CLASSES}\\{progid}\\shell\\open"
                                           "\\command", ENV),
                             {"(Default)": f'"{exe}" "%1"'})
            self.assertEqual(wine.registry(f"{CLASSES}\\{progid}\\DefaultIcon",
                                           ENV), {"(Default)": f'"{exe}",0'})
            for extension in types:
                self.assertIn(progid, wine.registry(
                    f"{CLASSES}\\.{extension}\\OpenWithProgids", ENV))
                self.assertEqual(wine.registry(
                    "HKLM\\Software\\Tolvarin\\Capabilities\\FileAssociations",
                    ENV)["." + extension], progid)
        self.assertEqual(wine.registry(
            "HKLM\\Software\\Tolvarin\\Capabilities", ENV),
            {"ApplicationName": "Tolvarin",
             "ApplicationDescription": "Tolvarin photo application"})
        self.assertEqual(wine.registry(
            "HKLM\\Software\\RegisteredApplications", ENV)["Tolvarin"],
            "Software\\Tolvarin\\Capabilities")
        self.assertIn(".cr3", wine.registry(
            CLASSES + "\\Applications\\Tolvarin.exe\\SupportedTypes", ENV))

    def assertOrphanLeavesAlone(self, folder):
        """An orphaned copy of the installation in folder, whose uninstall
        entry names folder: its uninstaller takes its own files and leaves
        the registered installation (files, shortcut, keys) alone."""
        orphan = os.path.join(DRIVE_C, "Orphan")
        shutil.copytree(folder, orphan)
        before = snapshot(folder)
        self.uninstall(orphan)
        self.assertFalse(os.path.exists(orphan))
        self.assertEqual(snapshot(folder), before)

    def assertNothingLeft(self, folder, user_files=()):
        self.assertEqual(tree(folder) if os.path.exists(folder) else [],
                         sorted(user_files))
        if not user_files:
            self.assertFalse(os.path.exists(folder))
        self.assertFalse(os.path.exists(SHORTCUT))
        self.assertIsNone(wine.registry(UNINSTALL_KEY, ENV))
        self.assertIsNone(wine.registry(APP_PATHS_KEY, ENV))
        for key in ("Tolvarin.Image", "Tolvarin.Raw", ".png",
                    "Applications\\Tolvarin.exe"):
            self.assertIsNone(wine.registry(f"{CLASSES}\\{key}", ENV), key)
        self.assertIsNone(wine.registry("HKLM\\Software\\Tolvarin", ENV))

    def test_install_start_install_again_uninstall(self):
        version = self.release["version"]
        self.addCleanup(shutil.rmtree, DEFAULT_FOLDER, True)  # the user's
        # Another program's .jpg: its default and its "Open with" value.
        for value in (["/ve", "/d", "OtherViewer.jpg"],
                      ["/v", "OtherViewer.jpg", "/d", ""]):
            key = CLASSES + "\\.jpg" + ("" if value[0] == "/ve"
                                        else "\\OpenWithProgids")
            self.assertEqual(self.wine("reg", "add", key, *value, "/f")[0], 0)
        other_jpg = [wine.registry(CLASSES + "\\.jpg", ENV),
                     wine.registry(CLASSES + "\\.jpg\\OpenWithProgids", ENV)]
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

        # A photo opened through each ProgID reaches the launcher as one
        # argument, blanks and all.
        photos = os.path.join(self.sandbox, "photos ü 写真")
        os.makedirs(photos)
        record = os.path.join(self.sandbox, "record.jsonl")
        place_probes(DEFAULT_FOLDER)
        for progid, name in (("Tolvarin.Image", "my photo.jpg"),
                             ("Tolvarin.Raw", "my photo.cr3")):
            photo = os.path.join(photos, name)
            open(photo, "wb").close()
            status, out, _ = wine.run(
                ["start", "/wait", "/ProgIDOpen", progid,
                 wine.windows_path(photo)], cwd=self.sandbox,
                env=dict(ENV, PROBE_RECORD=wine.windows_path(record)))
            self.assertEqual(status, 0, out)
            with open(record, encoding="utf-8") as lines:
                entries = [json.loads(line) for line in lines
                           if '"entry"' in line]
            self.assertEqual(entries[-1]["argv"][1:],
                             [wine.windows_path(photo)])

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
        self.assertEqual([wine.registry(CLASSES + "\\.jpg", ENV),
                          wine.registry(CLASSES + "\\.jpg\\OpenWithProgids",
                                        ENV)], other_jpg)

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

    def test_refusals_change_nothing(self):
        """Every refusal ends with its own exit code and leaves the files,
        the shortcut and the registry exactly as they were."""
        self.addCleanup(shutil.rmtree, DEFAULT_FOLDER, True)
        self.install()
        tools = os.path.join(DRIVE_C, "Photo Tools")
        os.makedirs(os.path.join(tools, "Other"), exist_ok=True)
        self.addCleanup(shutil.rmtree, tools, True)
        with open(os.path.join(tools, "Other", "Uninstall.exe"), "w") as f:
            f.write("another program's uninstaller\n")
        with open(os.path.join(tools, "a file"), "w") as f:
            f.write("not a folder\n")
        # 237 characters: its longest file's path would be 263.
        too_long = "C:\\" + "\\".join(["x" * 46] * 5)
        table = [
            ("a relative folder", "", "Tolvarin", BAD_FOLDER),
            ("a quoted folder", "", '"C:\\Photo Tools\\Tolvarin"', BAD_FOLDER),
            ("a file for the folder", "", "C:\\Photo Tools\\a file",
             BAD_FOLDER),
            ("a folder too long for its files", "", too_long, BAD_FOLDER),
            ("a drive's root", "", "C:\\", BAD_FOLDER),
            ("another program's files", "", "C:\\Photo Tools\\Other", FOREIGN),
            ("the other scope", "/CurrentUser", None, OTHER_SCOPE),
        ]
        before = snapshot(PROGRAM_FILES, tools)
        for name, switches, folder, status in table:
            with self.subTest(name):
                self.install(folder=folder, switches=switches, status=status)
                self.assertEqual(snapshot(PROGRAM_FILES, tools), before)

        # While the application runs: its files are in use, and in the
        # last row it holds the setup's mutex as another setup would.
        steps = [
            ("upgrade", self.install, {}, IN_USE),
            ("uninstall", lambda status: self.uninstall(DEFAULT_FOLDER,
                                                        status), {}, IN_USE),
            ("second setup", self.install,
             {"PROBE_MUTEX": "Global\\Tolvarin.Setup"}, BUSY),
        ]
        for name, step, extra_env, status in steps:
            with self.subTest(name):
                end = self.start_held(DEFAULT_FOLDER, extra_env)
                before = snapshot(PROGRAM_FILES)
                step(status=status)
                self.assertEqual(snapshot(PROGRAM_FILES), before)
                end()

        self.assertOrphanLeavesAlone(DEFAULT_FOLDER)

        # Half-way through an upgrade, with the new version in place, the
        # old version's own uninstaller fails (reg.exe in its place exits 1
        # on its arguments): both renames are undone.
        uninstaller = os.path.join(DEFAULT_FOLDER, "Uninstall.exe")
        kept = shutil.copy(uninstaller, self.sandbox)
        shutil.copy(os.path.join(DRIVE_C, "windows", "system32", "reg.exe"),
                    uninstaller)
        before = snapshot(PROGRAM_FILES)
        self.install(status=FAILED)
        self.assertEqual(snapshot(PROGRAM_FILES), before)
        shutil.copy(kept, uninstaller)
        self.uninstall(DEFAULT_FOLDER)
        self.assertNothingLeft(DEFAULT_FOLDER)

    def test_a_full_disk_leaves_the_previous_state(self):
        """The disk fills up half-way through a first installation, and
        through an upgrade, which needs room for a second copy beside the
        first: both fail with nothing changed."""
        disk = os.path.join(DRIVE_C, "Small Disk")
        os.makedirs(disk)
        self.addCleanup(os.rmdir, disk)

        def mount(size, *options):
            return subprocess.run(
                ["mount", "-t", "tmpfs", "-o", ",".join(options + (size,)),
                 "tolvarin-test", disk], stderr=subprocess.DEVNULL,
                check=False).returncode == 0
        if not mount("size=640k"):
            self.skipTest("making a small disk needs the right to mount")
        self.addCleanup(subprocess.run, ["umount", disk], check=True)
        folder = os.path.join(disk, "Tolvarin")

        before = snapshot(disk)
        self.install(folder=on_drive_c(folder), status=FAILED)
        self.assertEqual(snapshot(disk), before)

        self.assertTrue(mount("size=1800k", "remount"))
        self.install(folder=on_drive_c(folder))
        installed = snapshot(disk)
        self.install(status=FAILED)
        self.assertEqual(snapshot(disk), installed)
        self.uninstall(folder)
        self.assertNothingLeft(folder)

    def test_current_user_installation(self):
        self.addCleanup(shutil.rmtree, USER_FOLDER, True)
        self.install(switches="/CurrentUser /DESKTOPSHORTCUT")
        entry = wine.registry(USER_UNINSTALL_KEY, ENV)
        self.assertEqual(entry["InstallLocation"], on_drive_c(USER_FOLDER))
        self.assertIsNone(wine.registry(UNINSTALL_KEY, ENV))
        user_classes = USER + "\\Classes"
        self.assertIn("Tolvarin.Image", wine.registry(
            user_classes + "\\.jpg\\OpenWithProgids", ENV))
        self.assertIsNone(wine.registry(CLASSES + "\\Tolvarin.Image", ENV))
        status, out = self.wine(on_drive_c(USER_FOLDER) + "\\Tolvarin.exe",
                                "/NOAVX", "my photo.jpg")
        self.assertEqual(status, 0, out)
        self.assertIn('argv[2] = "my photo.jpg"', out)
        self.install(switches="/AllUsers", status=OTHER_SCOPE)

        self.assertOrphanLeavesAlone(USER_FOLDER)

        self.uninstall(USER_FOLDER)
        self.assertFalse(os.path.exists(USER_FOLDER))
        for key in (USER_UNINSTALL_KEY, user_classes + "\\Tolvarin.Image",
                    user_classes + "\\.jpg", USER + "\\Tolvarin"):
            self.assertIsNone(wine.registry(key, ENV), key)


if __name__ == "__main__":
    unittest.main()
