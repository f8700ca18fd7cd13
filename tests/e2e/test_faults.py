"""The fault matrix: broken and hostile installations, odd paths and command
lines, and application libraries that do their own COM set-up. Each case
checks the exit status (0 started, 1 not loaded, 2 no entry point), what ran
and what did not. docs/fault-matrix.md lists them."""
import os
import shutil
import unittest

import wine
from harness import (AVX, GENERIC, PROBE_DIR, Installation, LauncherTestCase,
                     new_sandbox, place)

# HRESULTs as the probes record them (signed 32-bit).
S_FALSE = 1
RPC_E_CHANGED_MODE = 0x80010106 - (1 << 32)
CO_E_NOTINITIALIZED = 0x800401F0 - (1 << 32)
APTTYPE_MTA = 1


def probe_bytes(name="probe_generic.dll"):
    with open(os.path.join(PROBE_DIR, name), "rb") as probe:
        return probe.read()


class BrokenLibraryFile(LauncherTestCase):
    """The chosen build is there but cannot be run: exit 1, nothing runs,
    and the other, sound build is not tried."""

    def put_broken(self, content):
        path = self.app.path("Library", GENERIC)
        with open(path, "wb") as broken:
            broken.write(content)
        self.app.put("probe_avx.dll", AVX, "Library")

    def assertNotStarted(self):
        run = self.app.run(["/NOAVX"])
        self.assertNothingRan(run, 1)
        self.assertEqual(run.records, [])

    def test_random_bytes(self):
        self.put_broken(bytes((i * 7919 + 13) % 251 for i in range(65536)))
        self.assertNotStarted()

    def test_empty_file(self):
        self.put_broken(b"")
        self.assertNotStarted()

    def test_truncated_image(self):
        image = probe_bytes()
        for length in (64, 1024, len(image) // 2, len(image) - 512):
            with self.subTest(length=length):
                self.put_broken(image[:length])
                self.assertNotStarted()

    def test_32_bit_library(self):
        self.put_broken(probe_bytes("probe_32bit.dll"))
        self.assertNotStarted()

    def test_folder_in_place_of_the_file(self):
        os.makedirs(self.app.path("Library", GENERIC))
        self.app.put("probe_avx.dll", AVX, "Library")
        self.assertNotStarted()

    def test_start_up_refuses_to_attach(self):
        self.app.put("probe_refuse_attach.dll", GENERIC, "Library")
        run = self.app.run(["/NOAVX"])
        self.assertNothingRan(run, 1)
        # Its DllMain ran and said no (the loader then detaches it); no entry
        # point ran.
        self.assertEqual([r["event"] for r in run.records],
                         ["attach", "detach"])

    def test_exports_neither_entry_point(self):
        self.app.put("probe_no_entry.dll", GENERIC, "Library")
        for arguments in (["/NOAVX"], ["/NOAVX", "/SATELLITE"]):
            with self.subTest(arguments=arguments):
                run = self.app.run(arguments)
                self.assertNothingRan(run, 2)
                self.assertEqual([r["event"] for r in run.records],
                                 ["attach", "detach"])


class LibrarySearch(LauncherTestCase):
    """The application library's own dependencies come from Library\\x64."""

    def setUp(self):
        super().setUp()
        self.app.put("probe_with_dependency.dll", GENERIC, "Library")
        self.cwd = os.path.join(self.app.sandbox, "work")
        self.on_path = os.path.join(self.app.sandbox, "bin")
        os.makedirs(self.cwd)
        os.makedirs(self.on_path)

    def put_dependency(self, folder):
        place("probe_dependency.dll", folder, "probe_dependency.dll")

    def test_a_dependency_in_the_working_directory_is_not_found(self):
        self.put_dependency(self.cwd)
        run = self.app.run(["/NOAVX"], cwd=self.cwd)
        self.assertNothingRan(run, 1)
        self.assertEqual(run.records, [])

    def test_a_dependency_in_library_x64_is_found(self):
        self.put_dependency(self.app.path("Library", "x64"))
        run = self.app.run(["/NOAVX"], cwd=self.cwd)
        self.assertRanFrom(run, self.app.path("Library", GENERIC))
        self.assertEqual(run.entry["dependency"].lower(), wine.windows_path(
            self.app.path("Library", "x64", "probe_dependency.dll")).lower())

    def test_library_x64_wins_over_path_and_working_directory(self):
        for folder in (self.app.path("Library", "x64"), self.on_path,
                       self.cwd):
            self.put_dependency(folder)
        run = self.app.run(["/NOAVX"], cwd=self.cwd, path_dirs=[self.on_path])
        self.assertRanFrom(run, self.app.path("Library", GENERIC))
        self.assertEqual(run.entry["dependency"].lower(), wine.windows_path(
            self.app.path("Library", "x64", "probe_dependency.dll")).lower())


class InstallationPaths(unittest.TestCase):

    def start_in(self, *names, direct=False):
        sandbox = new_sandbox()
        self.addCleanup(shutil.rmtree, sandbox, True)
        parent = os.path.join(sandbox, *names[:-1])
        os.makedirs(parent, exist_ok=True)
        app = Installation(names[-1], parent=parent)
        app.put_both()
        return app, app.run(["/NOAVX", "/SATELLITE"], direct=direct)

    def assertStartedFrom(self, app, run):
        self.assertEqual(run.status, 0, run.records)
        self.assertEqual(run.entry["module"],
                         wine.windows_path(app.path("Library", GENERIC)))
        self.assertEqual(run.entry["dllDirectory"],
                         wine.windows_path(app.path("Library", "x64")))

    def test_blanks_and_non_ascii_folders(self):
        for name in ("Photo App (x64)", "  two  blanks ", "Caf\u00e9 Fotos",
                     "\u5199\u771f\u30a2\u30d7\u30ea",
                     "\U0001F4F7 Photos \U0001F5BC"):
            with self.subTest(name=name):
                app, run = self.start_in(name)
                self.assertStartedFrom(app, run)

    def test_a_path_over_260_characters(self):
        # CreateProcessW refuses a program path over MAX_PATH, so Wine starts
        # the executable itself.
        parts = ["folder-%02d-%s" % (i, "x" * 20) for i in range(12)]
        app, run = self.start_in(*parts, direct=True)
        self.assertGreater(len(wine.windows_path(app.exe)), 260)
        if run.status == 0:
            self.assertStartedFrom(app, run)
        else:
            self.assertEqual(run.status, 1)
            self.assertEqual(run.records, [])


class CommandLines(LauncherTestCase):

    def setUp(self):
        super().setUp()
        self.app.put_both()

    def run_with(self, arguments):
        run = self.app.run(arguments)
        self.assertEqual(run.status, 0, run.records)
        self.assertEqual(run.entry["argv"][1:], arguments)
        self.assertEqual(run.entry["argc"], len(arguments) + 1)
        return run

    def test_one_argument_of_30000_characters(self):
        self.run_with(["/NOAVX", "p" * 30000])

    def test_two_thousand_arguments(self):
        self.run_with(["photo-%d.jpg" % i for i in range(2000)])

    def test_empty_arguments(self):
        run = self.run_with(["", "/NOAVX", "", "", "/SATELLITE", ""])
        self.assertEqual(run.entry["entry"], "StartSatellite")
        self.assertEqual(run.entry["useAvx"], 0)

    def test_switches_repeated_hundreds_of_times(self):
        run = self.run_with(["/SATELLITE", "/NOAVX"] * 400)
        self.assertEqual(run.entry["entry"], "StartSatellite")
        self.assertEqual(run.entry["useAvx"], 0)

    def test_argument_zero_that_is_not_a_path(self):
        for command_line in ("photo-viewer /NOAVX", '"" /NOAVX',
                             '"::{not a path}" /NOAVX'):
            with self.subTest(command_line=command_line):
                run = self.app.run(command_line=command_line,
                                   cwd=os.path.dirname(self.app.sandbox))
                self.assertRanFrom(run, self.app.path("Library", GENERIC))
                self.assertEqual(run.entry["argv"][1:], ["/NOAVX"])


class LibrariesWithTheirOwnCom(LauncherTestCase):

    def test_an_entry_point_that_returns_at_once(self):
        self.app.put("probe_noop.dll", GENERIC, "Library")
        run = self.app.run(["/NOAVX"])
        self.assertEqual(run.status, 0)
        self.assertEqual(run.records,
                         [{"event": "entry", "entry": "StartKorvadine"}])

    def test_a_library_that_opens_and_closes_its_own_apartment(self):
        self.app.put("probe_own_sta.dll", GENERIC, "Library")
        run = self.app.run(["/NOAVX"])
        self.assertEqual(run.status, 0)
        # Its CoInitializeEx joins the launcher's apartment; after its own
        # CoUninitialize the launcher's apartment is still there, until the
        # launcher closes it after unloading the library.
        self.assertEqual(run.entry["ownCoInitialize"], S_FALSE)
        self.assertEqual(run.entry["apartmentAfterOwn"]["result"], 0)
        detach = run.events("detach")
        self.assertTrue(detach[0]["freeLibrary"])
        self.assertEqual(detach[0]["apartment"]["result"], 0)

    def test_the_launcher_closes_the_apartment_it_opened(self):
        # A pinned library outlives FreeLibrary: at process exit it sees
        # whether the launcher's CoUninitialize ran.
        self.app.put("probe_pinned.dll", GENERIC, "Library")
        run = self.app.run(["/NOAVX"])
        self.assertEqual(run.status, 0)
        self.assertEqual(run.entry["apartment"]["result"], 0)
        detach = run.events("detach")
        self.assertEqual(len(detach), 1, run.records)
        self.assertFalse(detach[0]["freeLibrary"])
        self.assertEqual(detach[0]["apartment"]["result"],
                         CO_E_NOTINITIALIZED)

    def test_a_multithreaded_apartment_opened_in_dllmain_is_left_alone(self):
        self.app.put("probe_mta_in_dllmain.dll", GENERIC, "Library")
        run = self.app.run(["/NOAVX"])
        # The launcher's CoInitialize failed with RPC_E_CHANGED_MODE; the
        # entry point still ran, in the library's own apartment.
        self.assertEqual(run.status, 0, run.records)
        self.assertEqual(run.events("attach")[0]["mta"], 0)
        self.assertEqual(run.entry["apartment"]["type"], APTTYPE_MTA)
        # Still open at process exit: the launcher, whose CoInitialize had
        # failed, did not call CoUninitialize and close it.
        detach = run.events("detach")
        self.assertEqual(len(detach), 1, run.records)
        self.assertFalse(detach[0]["freeLibrary"])
        self.assertEqual(detach[0]["apartment"],
                         {"result": 0, "type": APTTYPE_MTA})


if __name__ == "__main__":
    unittest.main()
