"""The release installer under Wine, for the installer suites: a prefix of
each suite's own, cloned from a template made once per test run, with its
wineserver kept up while the suite runs; installs, uninstalls and the
registered uninstall commands run as users and deployment tools run them;
and the checks of what an installation is and what nothing left means, by
files and by the registry read in one process (regdump.exe)."""
import getpass
import hashlib
import json
import os
import re
import shutil
import subprocess
import time
import unittest
import zipfile

import wine
from harness import AVX, GENERIC, PROBE_DIR, new_sandbox, spawn

BUILD_DIR = os.environ["BUILD_DIR"]
SOURCE_DIR = os.environ["SOURCE_DIR"]
RELEASE_DIR = os.environ["RELEASE_DIR"]
TEMPLATE = os.path.join(BUILD_DIR, "wineprefix-template")
REGDUMP_EXE = os.path.join(PROBE_DIR, "regdump.exe")
SDDL_EXE = os.path.join(PROBE_DIR, "sddl.exe")


def _load(name):
    with open(os.path.join(SOURCE_DIR, "release", name),
              encoding="utf-8") as f:
        return json.load(f)


# The installer's exit codes and photo types, from their one definition.
EXIT = {c["name"]: c["code"] for c in _load("exit_codes.json")["codes"]}
PROGIDS = _load("file_types.json")["progids"]
TYPES = [t for types in PROGIDS.values() for t in types]

CURRENT_VERSION = "Microsoft\\Windows\\CurrentVersion"
# What the installer lays out besides its uninstaller (the ZIP's entries),
# from its one definition; its job's own folder.
_LAYOUT = _load("layout.json")
FILES = [name.replace("\\", "/") for name in _LAYOUT["files"][1:]]
LAYOUT = sorted(FILES + [name.replace("\\", "/") + "/"
                         for name in _LAYOUT["folders"]])
JOURNAL = "~setup"
# The share each prefix has, its files in Prefix.share.
SHARE = "\\\\localhost\\share"
# Runs a command with a standard user's rights (spawn.exe).
STANDARD_USER = {"SPAWN_STANDARD_USER": "1"}
# The setup's lock, held by a probe (PROBE_MUTEX) as another setup holds it.
LOCK = {"PROBE_MUTEX": "Global\\Tolvarin.Setup"}


def load_release():
    with open(os.path.join(RELEASE_DIR, "release.json"),
              encoding="utf-8") as f:
        release = json.load(f)
    if "skipped" in release:
        raise unittest.SkipTest(release["skipped"])
    return release


def users_may_write(sddl):
    """Whether an access control list (SDDL) lets ordinary users (Everyone,
    Authenticated Users, Users, Interactive) add, change or delete files."""
    write_rights = 0x500D0156  # the file and generic rights that write
    for ace in re.findall(r"\(([^)]*)\)", sddl):
        kind, _, rights, _, _, sid = ace.split(";")
        if kind != "A" or sid not in ("WD", "AU", "BU", "IU"):
            continue
        if rights.startswith("0x"):
            if int(rights, 16) & write_rights:
                return True
        elif {rights[i:i + 2] for i in range(0, len(rights), 2)} & {
                "FA", "FW", "GA", "GW", "SD", "WD", "WO", "DC"}:
            return True
    return False


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


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Scope:
    """Where an installation of one scope lives: its root key, default
    folder, Start menu and desktop."""

    def __init__(self, prefix, name):
        self.name = name
        drive_c = prefix.drive_c
        user = os.path.join(drive_c, "users", getpass.getuser())
        if name == "all":
            self.root = "HKLM"
            self.folder = os.path.join(drive_c, "Program Files", "Tolvarin")
            self.programs = os.path.join(drive_c, "ProgramData", "Microsoft",
                                         "Windows", "Start Menu", "Programs")
            self.desktop = os.path.join(drive_c, "users", "Public", "Desktop")
        else:
            self.root = "HKCU"
            self.folder = os.path.join(user, "AppData", "Local", "Programs",
                                       "Tolvarin")
            self.programs = os.path.join(user, "AppData", "Roaming",
                                         "Microsoft", "Windows", "Start Menu",
                                         "Programs")
            self.desktop = os.path.join(user, "Desktop")
        self.shortcut = os.path.join(self.programs, "Tolvarin.lnk")
        self.desktop_shortcut = os.path.join(self.desktop, "Tolvarin.lnk")
        software = self.root + "\\Software"
        self.uninstall = f"{software}\\{CURRENT_VERSION}\\Uninstall"
        self.entry = self.uninstall + "\\Tolvarin"
        self.app_paths = f"{software}\\{CURRENT_VERSION}\\App Paths\\Tolvarin.exe"
        self.classes = software + "\\Classes"
        self.product = software + "\\Tolvarin"
        self.registered_applications = software + "\\RegisteredApplications"
        self.local_dumps = (software + "\\Microsoft\\Windows\\"
                            "Windows Error Reporting\\LocalDumps")
        self.crash_dumps = self.local_dumps + "\\Tolvarin.exe"

    def keys(self):
        """Every key the installer writes or touches in this scope."""
        return ([self.uninstall, self.app_paths, self.product,
                 self.registered_applications, self.local_dumps,
                 self.classes + "\\Applications\\Tolvarin.exe"] +
                [f"{self.classes}\\{p}" for p in PROGIDS] +
                [f"{self.classes}\\.{t}" for t in TYPES])


class Prefix:
    """A Wine prefix of one suite's own, a clone of the template: the files
    hard-linked, which Wine only reads, and the registry copied, which the
    wineserver replaces whole when it saves it; with a share, SHARE, of its
    own."""

    def __init__(self, name):
        self.path = os.path.join(BUILD_DIR, "wineprefix-" + name)
        self.drive_c = os.path.join(self.path, "drive_c")
        self.share = os.path.join(self.path, "share")
        self.env = {"WINEPREFIX": self.path}
        self.scopes = {name: Scope(self, name) for name in ("all", "user")}

    def create(self):
        self.stop()
        # What a test mounted in the prefix and could not unmount itself.
        with open("/proc/mounts", encoding="utf-8") as mounts:
            inside = [line.split()[1].replace("\\040", " ")
                      for line in mounts
                      if line.split()[1].startswith(self.path + "/")]
        for point in sorted(inside, reverse=True):
            subprocess.run(["umount", point], check=True)
        shutil.rmtree(self.path, ignore_errors=True)
        subprocess.run(["cp", "-al", TEMPLATE, self.path], check=True)
        for name in os.listdir(TEMPLATE):
            if name.endswith(".reg"):
                os.remove(os.path.join(self.path, name))
                shutil.copy(os.path.join(TEMPLATE, name), self.path)
        # Wine finds \\server\share in dosdevices\unc\server\share.
        server = os.path.join(self.path, "dosdevices", "unc", "localhost")
        os.makedirs(server)
        os.makedirs(self.share)
        os.symlink(self.share, os.path.join(server, "share"))
        # One server for the whole suite: starting one costs seconds.
        wine.run_plain(["wineserver", "-p"], env=self.env)
        return self

    def stop(self):
        if os.path.isdir(self.path):
            wine.run_plain(["wineserver", "-k"], env=self.env)

    def windows(self, path):
        """The Windows spelling of a path in the prefix's C: or its share."""
        if os.path.commonpath([path, self.share]) == self.share:
            return SHARE + path[len(self.share):].replace(os.sep, "\\")
        return "C:\\" + os.path.relpath(path, self.drive_c).replace(os.sep,
                                                                   "\\")

    def host(self, windows_path):
        path = windows_path.replace("/", "\\")
        if path.startswith(SHARE + "\\"):
            return os.path.join(self.share, *path[len(SHARE) + 1:].split("\\"))
        return os.path.join(self.drive_c, *path[3:].split("\\"))

    def run(self, *arguments, cwd=None, extra_env=None):
        """Runs `wine arguments...`; returns (exit status, output)."""
        status, out, err = wine.run(list(arguments), cwd=cwd or self.drive_c,
                                    env=dict(self.env, **(extra_env or {})),
                                    timeout=300)
        return status, out + err

    def spawn(self, command_line, program="", extra_env=None):
        """Starts a command line exactly as given, as a deployment tool does
        (CreateProcessW, the program taken from the line unless given),
        waits for it and returns its exit code."""
        return spawn(program, command_line, self.drive_c,
                     dict(self.env, **(extra_env or {})))[0]

    def read_json(self, helper, *arguments, extra_env=None):
        """Runs a test helper that writes JSON into the file named first
        (regdump.exe, uiprobe.exe); returns what it wrote."""
        out = os.path.join(self.drive_c, f"helper-{os.getpid()}.json")
        status, text = self.run(helper, self.windows(out), *arguments,
                                extra_env=extra_env)
        if status != 0:
            raise RuntimeError(f"{helper} {arguments}: {status}\n{text}")
        try:
            with open(out, encoding="utf-8") as f:
                return json.load(f)
        finally:
            os.remove(out)

    def access_lists(self, *paths):
        """{Windows path: SDDL} of files and folders in the prefix."""
        return self.read_json(SDDL_EXE, *[self.windows(p) for p in paths])

    def registry(self, *keys):
        """{key: {value: data}} of the keys and every key below them; None
        for a given key that does not exist."""
        return self.read_json(REGDUMP_EXE, *keys)


def hold(prefix, folder, workdir, extra_env=None):
    """Starts the launcher installed in folder with a probe library that
    keeps running, so that its executable and library are in use, and waits
    until it runs; returns the process and the function that lets it end."""
    place_probes(folder)
    release = os.path.join(workdir, "release")
    record = os.path.join(workdir, "record.jsonl")
    for old in (release, record):
        if os.path.exists(old):
            os.remove(old)
    env = wine.environment(dict(
        prefix.env, PROBE_HOLD=wine.windows_path(release),
        PROBE_RECORD=wine.windows_path(record), **(extra_env or {})))
    process = subprocess.Popen(
        wine.command(os.path.join(folder, "Tolvarin.exe"), "/NOAVX"),
        env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while not (os.path.exists(record) and b"holding" in read(record)):
        if time.monotonic() > deadline or process.poll() is not None:
            raise RuntimeError("the held program did not start")
        time.sleep(0.05)

    def end():
        open(release, "w").close()
        process.wait(timeout=60)
    return process, end


def hold_file(prefix, path, mode, workdir):
    """Has another program keep a file in use: "open" without delete
    sharing, as a backup agent does, or "load" it as a library; returns the
    function that lets it go."""
    release = os.path.join(workdir, "release-file")
    for old in (release, release + ".held"):
        if os.path.exists(old):
            os.remove(old)
    process = subprocess.Popen(
        wine.command(os.path.join(PROBE_DIR, "holdfile.exe"), mode,
                     wine.windows_path(path), wine.windows_path(release)),
        env=wine.environment(prefix.env), stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while not os.path.exists(release + ".held"):
        if time.monotonic() > deadline or process.poll() is not None:
            raise RuntimeError(f"holdfile.exe could not {mode} {path}")
        time.sleep(0.05)

    def end():
        open(release, "w").close()
        process.wait(timeout=60)
    return process, end


def place_probes(folder):
    """Probe libraries, which record what they see, as both builds."""
    for name in (GENERIC, AVX):
        shutil.copy(os.path.join(PROBE_DIR, "probe_generic.dll"),
                    os.path.join(folder, "Library", name))


class InstallerTestCase(unittest.TestCase):
    """A suite in a prefix of its own; the release's installers and ZIP."""

    prefix_name = None

    @classmethod
    def setUpClass(cls):
        cls.release = load_release()
        cls.version = cls.release["version"]
        package = f"Tolvarin-{cls.version}-win64"
        cls.installer = os.path.join(cls.release["one"]["shipped"],
                                     package + ".exe")
        cls.older = cls.release["older_installer"]
        cls.older_version = cls.release["older_version"]
        with zipfile.ZipFile(os.path.join(cls.release["one"]["shipped"],
                                          package + ".zip")) as archive:
            cls.payload = {name: archive.read(name) for name in FILES}
        cls.prefix = Prefix(cls.prefix_name or cls.__name__).create()
        cls.all = cls.prefix.scopes["all"]
        cls.user = cls.prefix.scopes["user"]

    @classmethod
    def tearDownClass(cls):
        cls.prefix.stop()

    def setUp(self):
        self.sandbox = new_sandbox()
        self.addCleanup(shutil.rmtree, self.sandbox, True)
        # Last, whatever a failed check left installed goes, so that the
        # next test starts from nothing.
        self.addCleanup(self.uninstall_leftovers)

    def uninstall_leftovers(self):
        for scope in (self.all, self.user):
            entry = self.prefix.registry(scope.entry)[scope.entry]
            if entry:
                self.prefix.spawn(entry["QuietUninstallString"])
                self.prefix.run("reg", "delete", scope.entry, "/f", "/reg:64")

    # Running the installer and the uninstaller.

    def install(self, switches="", folder=None, installer=None, status=0,
                extra_env=None):
        """Installs silently; into folder (a Windows path) when given, with
        /D= last and unquoted, as NSIS takes it; extra_env for a user's
        display language (LANG) or STANDARD_USER."""
        installer = wine.windows_path(installer or self.installer)
        line = f'"{installer}" /S {switches}'.rstrip()
        if folder is not None:
            line += f" /D={folder}"
        got = self.prefix.spawn(line, installer, extra_env)
        self.assertEqual(got, status, line)

    def uninstall(self, scope=None, status=0, form=None, extra_env=None):
        """Runs the registered quiet uninstall command as deployment tools
        do (or the command form(entry) makes of the uninstall entry), with
        extra_env as install() takes it, and waits for it. When it returns 0
        the entry and every installed file but the uninstaller itself are
        gone; the uninstaller's copy deletes that a moment later."""
        scope = scope or self.all
        entry = self.prefix.registry(scope.entry)[scope.entry]
        folder = self.prefix.host(entry["InstallLocation"])
        command = (form or (lambda e: e["QuietUninstallString"]))(entry)
        got = self.prefix.spawn(command, extra_env=extra_env)
        self.assertEqual(got, status, command)
        if got == 0:
            self.assertIsNone(self.prefix.registry(scope.entry)[scope.entry])
            left = [name for name in FILES
                    if os.path.exists(os.path.join(folder, name))]
            self.assertEqual(left, [])
            self.wait_for(lambda: not os.path.exists(
                os.path.join(folder, "Uninstall.exe")), "the uninstaller")
        return folder

    def wait_for(self, condition, what, seconds=10):
        deadline = time.monotonic() + seconds
        while not condition():
            self.assertLess(time.monotonic(), deadline, f"{what}: timed out")
            time.sleep(0.05)

    def start_held(self, folder, extra_env=None):
        """hold(), ended at the latest when the test ends."""
        process, end = hold(self.prefix, folder, self.sandbox, extra_env)
        self.addCleanup(lambda: process.poll() is None and end())
        return end

    def hold_file(self, path, mode="open"):
        """hold_file(), ended at the latest when the test ends."""
        process, end = hold_file(self.prefix, path, mode, self.sandbox)
        self.addCleanup(lambda: process.poll() is None and end())
        return end

    # What is there.

    def snapshot(self, *folders):
        """Files with their contents below the folders, both scopes'
        shortcuts and every key the installer touches, to compare before and
        after."""
        files = {}
        for folder in folders:
            for name in tree(folder) if os.path.exists(folder) else []:
                path = os.path.join(folder, name)
                files[path] = (None if name.endswith("/") else
                               hashlib.sha256(read(path)).hexdigest())
        shortcuts = {path: os.path.exists(path)
                     for scope in (self.all, self.user)
                     for path in (scope.shortcut, scope.desktop_shortcut)}
        keys = self.all.keys() + self.user.keys()
        return files, shortcuts, self.prefix.registry(*keys)

    def assertInstalled(self, folder, version=None, scope=None,
                        user_files=(), open_with=True, desktop=False,
                        language=1033, crash_dumps=None):
        """The ZIP's layout, the uninstaller and the user's files in folder;
        one uninstall entry, with the language its installer spoke (English
        unless told), the shortcuts, App Paths and "Open with" as chosen,
        all pointing there, and nothing in the other scope."""
        scope = scope or self.all
        version = version or self.version
        self.assertEqual(tree(folder), sorted(LAYOUT + ["Uninstall.exe"] +
                                              list(user_files)))
        for name in FILES:
            self.assertEqual(read(os.path.join(folder, name)),
                             self.payload[name], name)
        location = self.prefix.windows(folder)
        exe = location + "\\Tolvarin.exe"
        uninstaller = f'"{location}\\Uninstall.exe"'
        registry = self.prefix.registry(*scope.keys())

        self.assertEqual([k for k in registry if k.startswith(
            scope.uninstall + "\\") and "tolvarin" in k.lower()],
            [scope.entry])
        entry = registry[scope.entry]
        # Crash dumps kept, for all users unless left out (1, or 2 when the
        # LocalDumps key was made for them).
        if crash_dumps is None:
            crash_dumps = scope is self.all
        self.assertIn(entry.pop("CrashDumps", 0),
                      (1, 2) if crash_dumps else (0,))
        self.assertEqual(registry.get(scope.crash_dumps), {
            "DumpFolder": "%LOCALAPPDATA%\\Tolvarin\\CrashDumps",
            "DumpCount": 10, "DumpType": 1} if crash_dumps else None)
        size = sum(len(data) for data in self.payload.values())
        self.assertAlmostEqual(entry.pop("EstimatedSize"), size / 1024,
                               delta=1)
        self.assertEqual(entry, {
            "DisplayName": "Tolvarin", "Publisher": "Tolvarin developers",
            "DisplayVersion": version, "DisplayIcon": exe + ",0",
            "InstallLocation": location,
            "UninstallString": uninstaller,
            "QuietUninstallString": f"{uninstaller} /S",
            "NoModify": 1, "NoRepair": 1, "OpenWith": int(open_with),
            "DesktopShortcut": int(desktop), "Language": language})
        self.assertEqual(registry[scope.app_paths], {"": exe})
        self.assertShortcutTo(scope.shortcut, exe)
        self.assertEqual(os.path.exists(scope.desktop_shortcut), desktop)
        if desktop:
            self.assertShortcutTo(scope.desktop_shortcut, exe)
        # A job that ended leaves no journal, in the folder or the registry.
        self.assertFalse(os.path.exists(os.path.join(folder, JOURNAL)))
        self.assertIsNone(self.prefix.registry(scope.product + "\\Job")[
            scope.product + "\\Job"])

        capabilities = scope.product + "\\Capabilities"
        if open_with:
            for progid, types in PROGIDS.items():
                key = f"{scope.classes}\\{progid}"
                self.assertEqual(registry[key + "\\shell\\open\\command"],
                                 {"": f'"{exe}" "%1"'})
                self.assertEqual(registry[key + "\\DefaultIcon"],
                                 {"": f'"{exe}",0'})
                for extension in types:
                    self.assertIn(progid, registry[
                        f"{scope.classes}\\.{extension}\\OpenWithProgids"])
                    self.assertEqual(registry[
                        capabilities + "\\FileAssociations"]["." + extension],
                        progid)
            self.assertEqual(registry[capabilities], {
                "ApplicationName": "Tolvarin",
                "ApplicationDescription": "Tolvarin photo application"})
            self.assertEqual(
                registry[scope.registered_applications]["Tolvarin"],
                "Software\\Tolvarin\\Capabilities")
            self.assertEqual(sorted(registry[
                scope.classes + "\\Applications\\Tolvarin.exe\\SupportedTypes"
            ]), sorted("." + t for t in TYPES))
        else:
            self.assertNoAssociations(registry, scope)
        other = self.user if scope is self.all else self.all
        self.assertNothingRegistered(other)

    def assertShortcutTo(self, shortcut, exe):
        """The .lnk names exe: each name of its path, which the link's list
        of items holds as UTF-16 where it is not ASCII."""
        data = read(shortcut)
        for name in exe.split("\\")[1:]:
            self.assertTrue(name.encode("utf-8") in data or
                            name.encode("utf-16-le") in data,
                            f"{shortcut}: {name}")

    def assertNoAssociations(self, registry, scope):
        for key in [f"{scope.classes}\\{p}" for p in PROGIDS] + [
                scope.classes + "\\Applications\\Tolvarin.exe",
                scope.product + "\\Capabilities"]:
            self.assertIsNone(registry.get(key), key)
        for extension in TYPES:
            values = registry.get(
                f"{scope.classes}\\.{extension}\\OpenWithProgids") or {}
            self.assertFalse(set(values) & set(PROGIDS), extension)
        self.assertNotIn("Tolvarin",
                         registry[scope.registered_applications] or {})

    def assertNothingRegistered(self, scope):
        registry = self.prefix.registry(*scope.keys())
        self.assertIsNone(registry[scope.app_paths])
        self.assertIsNone(registry.get(scope.crash_dumps))
        self.assertFalse([k for k in registry if k.startswith(
            scope.uninstall + "\\") and "tolvarin" in k.lower()])
        self.assertNoAssociations(registry, scope)
        self.assertIsNone(registry[scope.product])
        for path in (scope.shortcut, scope.desktop_shortcut):
            self.assertFalse(os.path.exists(path), path)

    def assertNothingLeft(self, folder, user_files=()):
        """Only the user's files, and no registration in either scope."""
        self.assertEqual(tree(folder) if os.path.exists(folder) else [],
                         sorted(user_files))
        if not user_files:
            self.assertFalse(os.path.exists(folder))
        for scope in (self.all, self.user):
            self.assertNothingRegistered(scope)
