"""The launcher from its entry point to the hand-off, under Wine."""
import os
import unittest

import wine
from harness import (AVX, GENERIC, Installation, LauncherTestCase,
                     host_has_avx, place)

HOST_AVX = 1 if host_has_avx() else 0
PROBED = AVX if HOST_AVX else GENERIC


class ChoosesTheBuildAndEntryPoint(LauncherTestCase):

    def setUp(self):
        super().setUp()
        self.app.put_both()

    def test_no_switch_follows_the_processor(self):
        run = self.app.run(["photo.jpg"])
        self.assertRanFrom(run, self.app.path("Library", PROBED))
        self.assertEqual(run.entry["useAvx"], HOST_AVX)
        self.assertEqual(run.entry["avxBuild"], HOST_AVX == 1)

    def test_noavx_loads_the_generic_build_even_beside_the_avx_one(self):
        run = self.app.run(["/NOAVX"])
        self.assertRanFrom(run, self.app.path("Library", GENERIC))
        self.assertEqual(run.entry["useAvx"], 0)
        self.assertFalse(run.entry["avxBuild"])

    def test_satellite_calls_the_satellite_entry_point(self):
        run = self.app.run(["/SATELLITE"])
        self.assertRanFrom(run, self.app.path("Library", PROBED),
                           "StartSatellite")

    def test_both_switches_in_any_order_and_repeated(self):
        for arguments in (["/NOAVX", "/SATELLITE"], ["/SATELLITE", "/NOAVX"],
                          ["a", "/SATELLITE", "b", "/NOAVX", "/SATELLITE"],
                          ["/NOAVX"] * 3 + ["/SATELLITE"] * 3):
            with self.subTest(arguments=arguments):
                run = self.app.run(arguments)
                self.assertRanFrom(run, self.app.path("Library", GENERIC),
                                   "StartSatellite")
                self.assertEqual(run.entry["useAvx"], 0)

    def test_near_misses_are_not_switches(self):
        for spelling in ("/noavx", "/NoAvx", "-NOAVX", "NOAVX", "/NOAVX:1",
                         "/NOAVX ", " /NOAVX", "\\NOAVX", "/NOAVX /SATELLITE",
                         "/satellite", "/Satellite", "-SATELLITE", "SATELLITE",
                         "/SATELLITE:2", "/SATELLITE "):
            with self.subTest(spelling=spelling):
                run = self.app.run([spelling])
                self.assertRanFrom(run, self.app.path("Library", PROBED))
                self.assertEqual(run.entry["useAvx"], HOST_AVX)
                self.assertEqual(run.entry["argv"][1], spelling)

    def test_argument_zero_is_never_a_switch(self):
        for command_line in ("/SATELLITE photo.jpg", "/NOAVX", "/SATELLITE"):
            with self.subTest(command_line=command_line):
                run = self.app.run(command_line=command_line)
                self.assertRanFrom(run, self.app.path("Library", PROBED))
                self.assertEqual(run.entry["argv"][0], command_line.split()[0])
                self.assertEqual(run.entry["useAvx"], HOST_AVX)


class PassesTheArgumentVectorWhole(LauncherTestCase):

    def setUp(self):
        super().setUp()
        self.app.put_both()

    def test_every_argument_arrives_as_the_runtime_split_it(self):
        arguments = ["/SATELLITE", "photo 1.jpg", "", "*.jpg", "?.png",
                     "caf\u00e9", "\u65e5\u672c\u8a9e", "\U0001F4F7",
                     'say "cheese"', "C:\\dir with blanks\\", "/NOAVX", " "]
        run = self.app.run(arguments)
        self.assertRanFrom(run, self.app.path("Library", GENERIC),
                           "StartSatellite")
        self.assertEqual(run.entry["argv"],
                         [wine.windows_path(self.app.exe)] + arguments)
        self.assertEqual(run.entry["argc"], len(arguments) + 1)
        self.assertTrue(run.entry["argvTerminated"])

    def test_wildcards_are_not_expanded(self):
        # Files that the patterns would match lie in the working directory.
        for name in ("a.jpg", "b.jpg", "c.png"):
            with open(os.path.join(self.app.sandbox, name), "w",
                      encoding="ascii"):
                pass
        run = self.app.run(command_line="Tolvarin *.jpg ?.png [ab].jpg")
        self.assertEqual(run.status, 0)
        self.assertEqual(run.entry["argv"],
                         ["Tolvarin", "*.jpg", "?.png", "[ab].jpg"])

    def test_exact_command_line_splitting(self):
        run = self.app.run(
            command_line='"C:\\odd place\\x.exe" a"b c"d \\\\"e f\\\\" "" g\\"h')
        self.assertEqual(run.entry["argv"],
                         ["C:\\odd place\\x.exe", "ab cd", "\\e f\\", "",
                          'g"h'])


class SetsUpTheProcessForTheLibrary(LauncherTestCase):

    def test_apartment_dll_directory_and_unloading(self):
        self.app.put_both()
        run = self.app.run(["/NOAVX"])
        entry = run.entry
        self.assertEqual(entry["apartment"]["result"], 0)
        # APTTYPE_MAINSTA: the process's first single-threaded apartment.
        self.assertIn(entry["apartment"]["type"], (0, 3))
        self.assertEqual(entry["dllDirectory"].lower(),
                         wine.windows_path(self.app.path("Library", "x64"))
                         .lower())
        # The image's 4 MiB stack reserve is the main thread's stack.
        self.assertEqual(entry["stack"], 0x400000)
        detach = run.events("detach")
        self.assertEqual(len(detach), 1, run.records)
        # Unloaded by FreeLibrary, not at process exit, and COM still open.
        self.assertTrue(detach[0]["freeLibrary"])
        self.assertEqual(detach[0]["apartment"]["result"], 0)
        self.assertEqual([r["event"] for r in run.records],
                         ["attach", "entry", "detach"])


class ReportsAFailedStart(LauncherTestCase):

    def test_missing_chosen_build_has_no_fall_back(self):
        self.app.put("probe_avx.dll", AVX, "Library")
        run = self.app.run(["/NOAVX"])
        self.assertNothingRan(run, 1)
        self.assertEqual(run.records, [])
        if HOST_AVX:
            self.app.put("probe_generic.dll", GENERIC, "Library")
            os.remove(self.app.path("Library", AVX))
            run = self.app.run([])
            self.assertNothingRan(run, 1)
            self.assertEqual(run.records, [])

    def test_empty_library_folder(self):
        self.assertNothingRan(self.app.run(["/SATELLITE"]), 1)

    def test_missing_entry_point_has_no_fall_back(self):
        for probe, arguments in (("probe_satellite_only.dll", ["/NOAVX"]),
                                 ("probe_normal_only.dll",
                                  ["/NOAVX", "/SATELLITE"]),
                                 ("probe_no_entry.dll", ["/NOAVX"])):
            with self.subTest(probe=probe):
                self.app.put(probe, GENERIC, "Library")
                run = self.app.run(arguments)
                self.assertNothingRan(run, 2)
                # Loaded, then unloaded by FreeLibrary while COM was open.
                self.assertEqual([r["event"] for r in run.records],
                                 ["attach", "detach"])
                self.assertTrue(run.records[1]["freeLibrary"])
                self.assertEqual(run.records[1]["apartment"]["result"], 0)


class LoadsOnlyFromItsOwnInstallation(LauncherTestCase):
    """Copies planted where a relative path would be searched never run."""

    def plant_everywhere(self):
        cwd = os.path.join(self.app.sandbox, "work")
        on_path = os.path.join(self.app.sandbox, "bin")
        for folder in (cwd, os.path.join(cwd, "Library"), on_path,
                       os.path.join(on_path, "Library")):
            for name in (AVX, GENERIC):
                place("probe_generic.dll", folder, name)
        return cwd, on_path

    def test_planted_copies_never_run_without_the_real_one(self):
        cwd, on_path = self.plant_everywhere()
        for arguments in ([], ["/NOAVX"]):
            with self.subTest(arguments=arguments):
                run = self.app.run(arguments, cwd=cwd, path_dirs=[on_path])
                self.assertNothingRan(run, 1)
                self.assertEqual(run.records, [])

    def test_the_real_one_runs_beside_planted_copies(self):
        cwd, on_path = self.plant_everywhere()
        self.app.put_both()
        for arguments in ([], ["/NOAVX"]):
            with self.subTest(arguments=arguments):
                run = self.app.run(arguments, cwd=cwd, path_dirs=[on_path])
                name = GENERIC if arguments else PROBED
                self.assertRanFrom(run, self.app.path("Library", name))

    def test_started_from_another_directory_by_relative_path(self):
        self.app.put_both()
        parent = os.path.dirname(self.app.root)
        run = self.app.run(command_line="app\\Tolvarin.exe /NOAVX",
                           cwd=parent)
        self.assertRanFrom(run, self.app.path("Library", GENERIC))

    def test_spaces_in_the_installation_path(self):
        app = Installation("Photo App (x64)")
        self.addCleanup(app.remove)
        app.put_both()
        self.assertRanFrom(app.run(["/NOAVX"]),
                           app.path("Library", GENERIC))


if __name__ == "__main__":
    unittest.main()
