"""scripts/resolve-crash refuses what it cannot read, before it runs lldb:
each case with its reason and exit status, nothing printed as a frame."""
import os
import struct
import subprocess
import tempfile
import unittest
import zipfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                      "scripts", "resolve-crash")
SIZE = 0x8C000


def minidump(modules):
    """A minidump holding a module list alone: [(name, time stamp)]."""
    list_at = 32 + 12
    names_at = list_at + 4 + 108 * len(modules)
    entries, names = b"", b""
    for name, stamp in modules:
        entries += struct.pack("<QIIII", 0x140000000, SIZE, 0, stamp,
                               names_at + len(names)) + bytes(84)
        encoded = name.encode("utf-16-le")
        names += struct.pack("<I", len(encoded)) + encoded
    stream = struct.pack("<I", len(modules)) + entries
    return (struct.pack("<4sIIIIIQ", b"MDMP", 0xA793, 1, 32, 0, 0, 0) +
            struct.pack("<III", 4, len(stream), list_at) + stream + names)


class Refusals(unittest.TestCase):

    def test_each_refusal_has_its_reason_and_status(self):
        work = tempfile.mkdtemp()
        self.addCleanup(subprocess.run, ["rm", "-rf", work], check=True)

        def write(name, data):
            path = os.path.join(work, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            return path

        # A store whose Tolvarin.exe has time stamp 1 and is no image.
        write(f"store/Tolvarin.exe/00000001{SIZE:x}/Tolvarin.exe", b"MZ junk")
        store = os.path.join(work, "store")
        empty = os.path.join(work, "empty")
        os.mkdir(empty)
        escaping = os.path.join(work, "escaping.zip")
        with zipfile.ZipFile(escaping, "w") as z:
            z.writestr("../1/Tolvarin.exe", b"")
        ours = write("ours.dmp", minidump([("C:\\T\\Tolvarin.exe", 1),
                                           ("C:\\W\\ntdll.dll", 7)]))
        other = write("other.dmp", minidump([("C:\\T\\Tolvarin.exe", 2)]))
        table = [
            ("no dump", write("text.dmp", b"not a dump\n"), store, 2,
             "is not a minidump"),
            ("an empty file", write("empty.dmp", b""), store, 2,
             "is not a minidump"),
            ("a truncated dump", write("cut.dmp", minidump([
                ("Tolvarin.exe", 1)])[:80]), store, 2, "is truncated"),
            ("a dump without modules", write("bare.dmp", struct.pack(
                "<4sIIIIIQ", b"MDMP", 0xA793, 0, 32, 0, 0, 0)), store, 2,
             "without a module list"),
            ("an archive of another build", other, store, 3,
             "missing from the archive: Tolvarin.exe (time stamp 00000002"),
            ("no archive", ours, write("notes.txt", b"text\n"), 2,
             "neither a symbol archive"),
            ("a ZIP that writes outside", ours, escaping, 2,
             "is no symbol archive"),
            ("a folder without a store", ours, empty, 2,
             "holds no symbol store"),
            ("an image in the archive that is none", ours, store, 2,
             "is truncated"),
        ]
        for name, dump, archive, status, reason in table:
            with self.subTest(name):
                result = subprocess.run([SCRIPT, dump, archive],
                                        capture_output=True, text=True,
                                        check=False)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(reason, result.stderr)
                self.assertEqual(result.stdout, "")


if __name__ == "__main__":
    unittest.main()
