"""The ZIP package: unpacked, it is a working installation."""
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

import wine
from harness import new_sandbox

BUILD_DIR = os.environ["BUILD_DIR"]


class Package(unittest.TestCase):

    def setUp(self):
        self.work = new_sandbox()
        self.addCleanup(shutil.rmtree, self.work, True)
        with tempfile.TemporaryFile() as log:
            subprocess.run(
                ["cpack", "-G", "ZIP", "-B", self.work, "--config",
                 os.path.join(BUILD_DIR, "CPackConfig.cmake")],
                cwd=BUILD_DIR, stdout=log, stderr=log, check=True)
        archives = [name for name in os.listdir(self.work)
                    if name.endswith("-win64.zip")]
        self.assertEqual(len(archives), 1, os.listdir(self.work))
        self.archive = os.path.join(self.work, archives[0])

    def test_layout_in_sorted_order(self):
        # Sorted as stored, whatever order the file system lists them in.
        with zipfile.ZipFile(self.archive) as archive:
            names = archive.namelist()
        self.assertEqual(names, ["Library/", "Library/TOLVARIN64.dll",
                                 "Library/TOLVARIN64avx.dll", "Library/x64/",
                                 "THIRD-PARTY-NOTICES.txt", "Tolvarin.exe"])

    def test_unpacked_it_runs_the_sample_application(self):
        root = os.path.join(self.work, "unpacked")
        with zipfile.ZipFile(self.archive) as archive:
            archive.extractall(root)
        self.assertEqual(os.listdir(os.path.join(root, "Library", "x64")), [])
        status, out, _ = wine.run([os.path.join(root, "Tolvarin.exe"),
                                   "/NOAVX", "my photo.jpg"],
                                  cwd=self.work)
        self.assertEqual(status, 0, out)
        self.assertIn("TOLVARIN64.dll (generic x86-64)", out)
        self.assertIn("mode:   normal (StartKorvadine)", out)
        self.assertIn("useAvx: 0", out)
        self.assertIn('argv[2] = "my photo.jpg"', out)


if __name__ == "__main__":
    unittest.main()
