"""A crash of the application, as a user meets it: the released Tolvarin,
installed, crashes in the sample library (/CRASH); Wine's debugger writes
the minidump where Windows Error Reporting would; scripts/resolve-crash reads
it back with the release's symbol archive alone, to the sample's crashing
function and the launcher's hand-off, each at its source line; the symbols
of another build are refused, and a PDB that is not the module's own is never
used."""
import os
import re
import shutil
import subprocess
import zipfile

import pefile

import wine
from installer import InstallerTestCase

SOURCE_DIR = os.environ["SOURCE_DIR"]
RESOLVE = os.path.join(SOURCE_DIR, "scripts", "resolve-crash")
AEDEBUG = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug"


def line_of(path, statement):
    """The line number of the one line of a source file holding statement."""
    with open(os.path.join(SOURCE_DIR, path), encoding="utf-8") as f:
        [number] = [n for n, line in enumerate(f, 1) if statement in line]
    return f"{path}:{number}"


class CrashDump(InstallerTestCase):

    def resolve(self, dump, archive):
        return subprocess.run([RESOLVE, dump, archive], capture_output=True,
                              text=True, check=False)

    def test_a_crash_resolves_with_the_shipped_symbols_alone(self):
        dump = os.path.join(self.sandbox, "crash.dmp")
        # Wine's debugger stands in for Windows Error Reporting: "/" in the
        # path, which it takes as written.
        for name, data in (("Debugger", "winedbg --minidump " +
                            wine.windows_path(dump).replace("\\", "/") +
                            " %ld %ld"), ("Auto", "1")):
            self.prefix.run("reg", "add", AEDEBUG, "/v", name, "/d", data,
                            "/f", "/reg:64")
        self.install()
        status, _ = self.prefix.run(
            os.path.join(self.all.folder, "Tolvarin.exe"), "/NOAVX", "/CRASH")
        self.assertNotEqual(status, 0)
        self.assertTrue(os.path.exists(dump), "no dump written")

        shipped = self.release["one"]["shipped"]
        symbols = os.path.join(shipped,
                               f"Tolvarin-{self.version}-win64-symbols.zip")
        result = self.resolve(dump, symbols)
        self.assertEqual(result.returncode, 0, result.stderr)
        frames = result.stdout.splitlines()
        self.assertRegex(frames[0], r"^#0 +TOLVARIN64\.dll +\S*WriteThroughNull"
                         r"\(value=.*\) +" + re.escape(line_of(
                             "sample/sample_app.cpp", "*nowhere = value;")))
        self.assertRegex(frames[1], r"^#1 .*CrashOnPurpose\(")
        hand_off = [f for f in frames if "RunApplicationLibrary(" in f]
        self.assertEqual(len(hand_off), 1, result.stdout)
        self.assertRegex(hand_off[0], r"^#\d+ +Tolvarin\.exe .*" + re.escape(
            line_of("launcher/app_library.cpp", "entry(argv, argc, useAvx);")))
        self.assertIn("exception 0xc0000005 (access violation)", result.stdout)

        # The dump cut short by its last byte: what lldb would read.
        cut = os.path.join(self.sandbox, "cut.dmp")
        with open(dump, "rb") as f, open(cut, "wb") as out:
            out.write(f.read()[:-1])
        self.assertEqual(self.resolve(cut, symbols).returncode, 2)

        # The unpacked archive reads the same. The symbols of another build
        # of the same commit (with the process mitigations) are refused,
        # and its PDB, put under this build's key, is never used.
        unpacked = os.path.join(self.sandbox, "symbols")
        with zipfile.ZipFile(symbols) as z:
            z.extractall(unpacked)
        self.assertEqual(self.resolve(dump, unpacked).stdout, result.stdout)
        guarded = self.release["guarded"]
        other = os.path.join(self.sandbox, "other")
        for image in ("Tolvarin.exe", "sample/TOLVARIN64.dll"):
            pe = pefile.PE(os.path.join(guarded, image), fast_load=True)
            name = os.path.basename(image)
            key = (f"{pe.FILE_HEADER.TimeDateStamp:08X}"
                   f"{pe.OPTIONAL_HEADER.SizeOfImage:x}")
            os.makedirs(os.path.join(other, name, key))
            shutil.copy(os.path.join(guarded, image),
                        os.path.join(other, name, key))
        refused = self.resolve(dump, other)
        self.assertEqual(refused.returncode, 3, refused.stdout)
        self.assertIn("another build", refused.stderr)
        self.assertIn("Tolvarin.exe", refused.stderr)
        self.assertEqual(refused.stdout, "")
        [key] = os.listdir(os.path.join(unpacked, "TOLVARIN64.pdb"))
        shutil.copy(os.path.join(guarded, "sample", "TOLVARIN64.pdb"),
                    os.path.join(unpacked, "TOLVARIN64.pdb", key))
        mixed = self.resolve(dump, unpacked)
        self.assertEqual(mixed.returncode, 0, mixed.stderr)
        self.assertIn("no matching PDB for TOLVARIN64.dll", mixed.stdout)
        # Its frames without names: not the nearest export's.
        self.assertTrue(all(re.fullmatch(r"#\d+ +TOLVARIN64\.dll +0x[0-9a-f]+",
                                         line)
                            for line in mixed.stdout.splitlines()
                            if "TOLVARIN64.dll  " in line), mixed.stdout)
        self.assertIn("RunApplicationLibrary(", mixed.stdout)
        shutil.rmtree(unpacked)
        self.uninstall()
