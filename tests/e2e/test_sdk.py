"""The SDK as an author uses it: installed on its own, found by CMake out of
the launcher's tree, and a library built against it started by the launcher."""
import os
import subprocess
import tempfile
import unittest

from harness import GENERIC, AVX, Installation, host_has_avx

BUILD_DIR = os.environ["BUILD_DIR"]
SOURCE_DIR = os.environ["SOURCE_DIR"]
CMAKE = os.environ["CMAKE_COMMAND"]
CONSUMER = os.path.join(SOURCE_DIR, "tests", "sdk_consumer")
TOOLCHAIN = os.path.join(SOURCE_DIR, "cmake", "mingw-w64-x86_64.cmake")


def cmake(*args):
    """Runs cmake; returns (exit status, everything it printed)."""
    with tempfile.TemporaryFile() as log:
        status = subprocess.run([CMAKE] + list(args), stdout=log,
                                stderr=subprocess.STDOUT,
                                check=False).returncode
        log.seek(0)
        return status, log.read().decode("utf-8", "replace")


def files_under(root):
    return sorted(os.path.relpath(os.path.join(folder, name), root)
                  for folder, _, names in os.walk(root) for name in names)


class Sdk(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.app = Installation()
        cls.sdk = os.path.join(cls.app.sandbox, "sdk")
        status, out = cmake("--install", BUILD_DIR, "--component", "sdk",
                            "--prefix", cls.sdk)
        assert status == 0, out

    @classmethod
    def tearDownClass(cls):
        cls.app.remove()

    def configure(self, name, *options):
        return cmake("-S", CONSUMER, "-B",
                     os.path.join(self.app.sandbox, name),
                     f"-DCMAKE_TOOLCHAIN_FILE={TOOLCHAIN}",
                     f"-DCMAKE_PREFIX_PATH={self.sdk}", *options)

    def test_sdk_holds_the_header_the_package_and_the_crash_resolver(self):
        self.assertEqual(files_under(self.sdk), [
            "bin/resolve-crash", "include/tolvarin_app.h",
            "lib/cmake/Tolvarin/TolvarinConfig.cmake",
            "lib/cmake/Tolvarin/TolvarinConfigVersion.cmake",
            "lib/cmake/Tolvarin/TolvarinTargets.cmake"])

    def test_plain_installation_has_no_sdk(self):
        prefix = os.path.join(self.app.sandbox, "plain")
        status, out = cmake("--install", BUILD_DIR, "--prefix", prefix)
        self.assertEqual(status, 0, out)
        self.assertEqual(files_under(prefix), [
            "Library/TOLVARIN64.dll", "Library/TOLVARIN64avx.dll",
            "THIRD-PARTY-NOTICES.txt", "Tolvarin.exe"])

    def test_library_built_against_the_sdk_runs_under_the_launcher(self):
        status, out = self.configure("consumer")
        self.assertEqual(status, 0, out)
        binary = os.path.join(self.app.sandbox, "consumer")
        status, out = cmake("--build", binary)
        self.assertEqual(status, 0, out)
        # Found in the installed SDK, not in the launcher's build tree.
        with open(os.path.join(binary, "CMakeCache.txt"),
                  encoding="utf-8") as cache:
            self.assertIn("Tolvarin_DIR:PATH=" + os.path.join(
                self.sdk, "lib", "cmake", "Tolvarin") + "\n", cache.read())
        self.app.put_both(os.path.join(binary, GENERIC),
                          os.path.join(binary, AVX))

        cases = [(["/NOAVX", "my photo.jpg"],
                  "consumer generic StartKorvadine argc=3 useAvx=0"),
                 (["/SATELLITE", "/NOAVX"],
                  "consumer generic StartSatellite argc=3 useAvx=0")]
        if host_has_avx():
            cases.append((["/SATELLITE"],
                          "consumer avx StartSatellite argc=2 useAvx=1"))
        for arguments, expected in cases:
            with self.subTest(arguments=arguments):
                run = self.app.run(arguments)
                self.assertEqual(run.status, 0, run.stdout)
                self.assertEqual(run.stdout.strip(), expected)

    def test_another_major_version_or_a_32_bit_build_is_refused(self):
        i686 = os.path.join(self.app.sandbox, "i686.cmake")
        with open(i686, "w", encoding="utf-8") as out:
            out.write(f'include("{TOOLCHAIN}")\n'
                      "set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)\n")
        table = [("12", ["-DTOLVARIN_WANTED=12"], 'requested version "12"'),
                 ("10", ["-DTOLVARIN_WANTED=10"], 'requested version "10"'),
                 ("32-bit", [f"-DCMAKE_TOOLCHAIN_FILE={i686}"],
                  "version: 11.2.3.3 (64bit)")]
        for name, options, message in table:
            with self.subTest(consumer=name):
                status, out = self.configure("consumer-" + name, *options)
                self.assertNotEqual(status, 0, out)
                self.assertIn(message, out)

if __name__ == "__main__":
    unittest.main()
