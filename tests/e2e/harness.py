"""Temporary installations of the launcher, run under Wine through spawn.exe
with an exact command line, and the records the probe libraries leave."""
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import wine

LAUNCHER_EXE = os.environ["LAUNCHER_EXE"]
PROBE_DIR = os.environ["PROBE_DIR"]
SAMPLE_DIR = os.environ["SAMPLE_DIR"]
E2E_TMP = os.environ["E2E_TMP"]
SPAWN_EXE = os.path.join(PROBE_DIR, "spawn.exe")
EXE_NAME = os.path.basename(LAUNCHER_EXE)

GENERIC = "TOLVARIN64.dll"
AVX = "TOLVARIN64avx.dll"


def host_has_avx():
    with open("/proc/cpuinfo", encoding="ascii", errors="replace") as info:
        for line in info:
            if line.startswith("flags"):
                return " avx " in line + " " and " xsave " in line + " "
    return False


class Run:
    """What one start of the launcher left behind."""

    def __init__(self, status, records, stdout, stderr):
        self.status = status
        self.records = records
        self.stdout = stdout
        self.stderr = stderr

    def events(self, kind):
        return [r for r in self.records if r["event"] == kind]

    @property
    def entry(self):
        """The one entry-point record; None when no entry point ran."""
        entries = self.events("entry")
        assert len(entries) <= 1, entries
        return entries[0] if entries else None


class Installation:
    """A folder laid out as an installation: the launcher at its root,
    Library\\ and Library\\x64\\ below it."""

    def __init__(self, root_name="app", parent=None):
        self.sandbox = parent or new_sandbox()
        self.root = os.path.join(self.sandbox, root_name)
        os.makedirs(os.path.join(self.root, "Library", "x64"))
        self.exe = os.path.join(self.root, EXE_NAME)
        shutil.copy(LAUNCHER_EXE, self.exe)
        self.record = os.path.join(self.sandbox, "record.jsonl")

    def remove(self):
        shutil.rmtree(self.sandbox, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def put(self, probe, name, *folder):
        """Copies a built probe (or sample) library into the installation."""
        return place(probe, os.path.join(self.root, *folder), name)

    def put_both(self, probe_generic="probe_generic.dll",
                 probe_avx="probe_avx.dll"):
        self.put(probe_generic, GENERIC, "Library")
        self.put(probe_avx, AVX, "Library")

    def run(self, arguments=(), command_line=None, cwd=None, path_dirs=(),
            direct=False):
        """Starts the launcher with CreateProcessW. command_line, when given,
        is used verbatim; otherwise it is built from the quoted program path
        and the arguments by the runtime's quoting rules. direct=True lets
        Wine itself start the executable from its host path, which works
        where CreateProcessW refuses a program path over MAX_PATH."""
        exe = self.exe
        if direct:
            return self.collect(*wine.run(
                [exe] + list(arguments), cwd=cwd or self.sandbox,
                env=self.environment(path_dirs)))
        if command_line is None:
            command_line = subprocess.list2cmdline(
                [wine.windows_path(exe)] + list(arguments))
        return self.collect(*spawn(
            wine.windows_path(exe), command_line, cwd or self.sandbox,
            self.environment(path_dirs)))

    def environment(self, path_dirs):
        if os.path.exists(self.record):
            os.remove(self.record)
        env = {"PROBE_RECORD": wine.windows_path(self.record)}
        if path_dirs:
            env["WINEPATH"] = ";".join(wine.windows_path(d) for d in path_dirs)
        return env

    def collect(self, status, stdout, stderr):
        records = []
        if os.path.exists(self.record):
            with open(self.record, encoding="utf-8") as lines:
                records = [json.loads(line) for line in lines if line.strip()]
        return Run(status, records, stdout, stderr)


def spawn(program, command_line, cwd, env=None):
    """Runs a Windows program under Wine with exactly this command line,
    through CreateProcessW; returns wine.run's (status, stdout, stderr).
    A program that CreateProcessW could not start for Wine's own failure
    (ERROR_INTERNAL_ERROR) is started again, a few times at most (see
    wine.py); one that ran never again."""
    os.makedirs(E2E_TMP, exist_ok=True)
    handle, line_file = tempfile.mkstemp(dir=E2E_TMP, suffix=".txt")
    try:
        with open(handle, "w", encoding="utf-8", newline="") as out:
            out.write(command_line)
        for attempt in range(wine.START_ATTEMPTS):
            if attempt:
                wine.note_start_failure(program or command_line, attempt)
            result = wine.run([SPAWN_EXE, program,
                               wine.windows_path(line_file)],
                              cwd=cwd, env=env)
            if not (result[0] == 203 and
                    "spawn.exe: CreateProcessW failed with 1359" in result[2]):
                # The whole status, which Wine cuts to its low byte; the
                # line that tells it is spawn.exe's, not the program's.
                exited = re.search(r"spawn\.exe: exited with (\d+)\r?\n",
                                   result[2])
                if not exited:
                    return result
                return (int(exited[1]), result[1],
                        result[2][:exited.start()] + result[2][exited.end():])
        raise RuntimeError(f"Wine could not start {command_line}: {result}")
    finally:
        os.remove(line_file)


def new_sandbox():
    os.makedirs(E2E_TMP, exist_ok=True)
    return tempfile.mkdtemp(dir=E2E_TMP)


def place(probe, folder, name):
    os.makedirs(folder, exist_ok=True)
    source = probe if os.path.isabs(probe) else os.path.join(PROBE_DIR, probe)
    target = os.path.join(folder, name)
    shutil.copy(source, target)
    return target


class LauncherTestCase(unittest.TestCase):
    """Gives each test a fresh installation, removed afterwards."""

    def setUp(self):
        self.app = Installation()
        self.addCleanup(self.app.remove)

    def assertRanFrom(self, run, library_path, entry="StartKorvadine"):
        self.assertEqual(run.status, 0, run.records)
        self.assertIsNotNone(run.entry, run.records)
        self.assertEqual(run.entry["entry"], entry)
        self.assertEqual(run.entry["module"].lower(),
                         wine.windows_path(library_path).lower())

    def assertNothingRan(self, run, status):
        self.assertEqual(run.status, status, run.records)
        self.assertIsNone(run.entry, run.records)
