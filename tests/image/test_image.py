"""The built launcher executable, read back with pefile: every header
setting, the exact resource tree, the manifest, the icon and the version
record, the import table, the record of its PDB, and with the process
mitigations the load configuration and the CET mark."""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import uuid
import xml.etree.ElementTree as ElementTree

import pefile

EXE = os.environ["LAUNCHER_EXE"]
SOURCE_DIR = os.environ["SOURCE_DIR"]
# The PDB beside the executable; empty for a build that writes none (GCC).
PDB = os.environ["LAUNCHER_PDB"]
MITIGATIONS = os.environ["PROCESS_MITIGATIONS"] == "1"
ICO = os.path.join(SOURCE_DIR, "image", "icon", "tolvarin.ico")

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ENGLISH_US, JAPANESE = 1033, 1041

# (image id, size, bits per pixel), in the group's order.
ICON_IMAGES = [(1, 16, 4), (2, 32, 4), (3, 16, 8), (4, 32, 8), (5, 48, 8),
               (6, 16, 32), (7, 32, 32), (8, 48, 32), (9, 128, 32),
               (10, 256, 32)]


def load():
    pe = pefile.PE(EXE)
    pe.parse_data_directories()
    return pe


def resources(pe):
    """{type: {id: {language: data}}}"""
    tree = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                rva = language.data.struct.OffsetToData
                size = language.data.struct.Size
                tree.setdefault(kind.id, {}).setdefault(name.id, {})[
                    language.id] = pe.get_data(rva, size)
    return tree


class Header(unittest.TestCase):

    def test_header_settings(self):
        pe = load()
        header = pe.OPTIONAL_HEADER
        self.assertEqual(pe.FILE_HEADER.Machine, 0x8664)
        self.assertEqual(header.Magic, 0x20B)  # PE32+
        self.assertEqual(header.Subsystem, 2)  # Windows GUI
        self.assertEqual((header.MajorSubsystemVersion,
                          header.MinorSubsystemVersion), (6, 0))
        self.assertEqual((header.MajorOperatingSystemVersion,
                          header.MinorOperatingSystemVersion), (6, 0))
        # Control Flow Guard (0x4000) only with the mitigations.
        self.assertEqual(header.DllCharacteristics,
                         0xC160 if MITIGATIONS else 0x8160)
        self.assertEqual(header.SizeOfStackReserve, 0x400000)
        self.assertEqual(header.SizeOfStackCommit, 0x10000)
        self.assertEqual(header.SizeOfHeapReserve, 0x100000)

    def test_relocations_are_kept_for_address_randomisation(self):
        pe = load()
        self.assertFalse(pe.FILE_HEADER.Characteristics & 0x0001)
        relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]
        self.assertGreater(relocations.Size, 0)
        self.assertTrue(getattr(pe, "DIRECTORY_ENTRY_BASERELOC", None))

    def test_no_exports(self):
        pe = load()
        self.assertFalse(hasattr(pe, "DIRECTORY_ENTRY_EXPORT"))
        self.assertEqual(pe.OPTIONAL_HEADER.DATA_DIRECTORY[0].Size, 0)

    def test_imports_only_system_libraries(self):
        pe = load()
        self.assertEqual(sorted(entry.dll.decode().lower()
                                for entry in pe.DIRECTORY_ENTRY_IMPORT),
                         ["kernel32.dll", "msvcrt.dll", "ole32.dll"])

    def test_symbols_only_in_the_pdb(self):
        """No DWARF and no symbol table in the image; its debug directory
        names the PDB by file name alone, with the PDB's own GUID and age,
        and holds the CET mark only with the mitigations."""
        pe = load()
        names = [s.Name.rstrip(b"\0").decode() for s in pe.sections]
        self.assertEqual([n for n in names if n.startswith(".debug")], [])
        self.assertEqual(pe.FILE_HEADER.PointerToSymbolTable, 0)
        got = []
        for entry in getattr(pe, "DIRECTORY_ENTRY_DEBUG", []):
            data = pe.get_data(entry.struct.AddressOfRawData,
                               entry.struct.SizeOfData)
            if entry.struct.Type == 2:  # CodeView: RSDS, GUID, age, name
                self.assertEqual(data[:4], b"RSDS")
                guid = str(uuid.UUID(bytes_le=data[4:20])).upper()
                age = struct.unpack_from("<I", data, 20)[0]
                got.append((2, (data[24:].rstrip(b"\0").decode(), guid, age)))
            else:
                got.append((entry.struct.Type,
                            struct.unpack_from("<I", data)[0]))
        expected = []
        if PDB:
            summary = subprocess.run(
                ["llvm-pdbutil-19", "dump", "-summary", PDB],
                capture_output=True, text=True, check=True).stdout
            guid = re.search(r"GUID: \{([0-9A-F-]+)\}", summary).group(1)
            age = int(re.search(r"Age: (\d+)", summary).group(1))
            expected.append((2, (os.path.basename(PDB), guid, age)))
        if MITIGATIONS:
            expected.append((20, 1))  # extended characteristics: CET_COMPAT
        self.assertEqual(got, expected)

    def test_load_configuration(self):
        """With the mitigations, the load configuration that the loader
        reads Control Flow Guard from, read at the documented offsets of
        IMAGE_LOAD_CONFIG_DIRECTORY64; without them, none."""
        pe = load()
        directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[10]
        if not MITIGATIONS:
            self.assertEqual(directory.Size, 0)
            return
        self.assertEqual(directory.Size, 0x140)
        config = pe.get_data(directory.VirtualAddress, 0x140)
        self.assertEqual(struct.unpack_from("<I", config, 0)[0], 0x140)
        check, dispatch, table, count = struct.unpack_from("<4Q", config,
                                                           0x70)
        flags = struct.unpack_from("<I", config, 0x90)[0]
        # Instrumented, with a function table and a (long jump) target table.
        self.assertEqual(flags & 0x0FFFFFFF, 0x10500)
        base = pe.OPTIONAL_HEADER.ImageBase
        stride = 4 + (flags >> 28)
        data = pe.get_data(table - base, count * stride)
        targets = [struct.unpack_from("<I", data, i * stride)[0]
                   for i in range(count)]
        self.assertEqual(targets, sorted(set(targets)))
        self.assertIn(procedure_rva(pe, "wWinMain"), targets)
        # The loader writes its routines into these two slots; they must
        # be read-only, and until then lead into code.
        for slot in (check, dispatch):
            section = pe.get_section_by_rva(slot - base)
            self.assertFalse(section.Characteristics & 0x80000000)  # write
            routine = struct.unpack("<Q", pe.get_data(slot - base, 8))[0]
            self.assertTrue(pe.get_section_by_rva(
                routine - base).Characteristics & 0x20000000)  # code


def procedure_rva(pe, name):
    """Where the PDB says a function starts: section:offset, as an RVA."""
    symbols = subprocess.run(["llvm-pdbutil-19", "dump", "-symbols", PDB],
                             capture_output=True, text=True,
                             check=True).stdout
    found = re.search(r"S_GPROC32 \[[^]]*\] `" + name +
                      r"`\s+parent = \d+, end = \d+, addr = (\d+):(\d+)",
                      symbols)
    section, offset = int(found.group(1)), int(found.group(2))
    return pe.sections[section - 1].VirtualAddress + offset


class Resources(unittest.TestCase):

    def test_exactly_the_listed_resources(self):
        tree = resources(load())
        shape = {kind: {name: sorted(langs) for name, langs in names.items()}
                 for kind, names in tree.items()}
        expected = {
            RT_MANIFEST: {1: [ENGLISH_US]},
            RT_GROUP_ICON: {128: [JAPANESE]},
            RT_ICON: {i: [JAPANESE] for i in range(1, 11)},
            RT_VERSION: {1: [JAPANESE]},
        }
        self.assertEqual(shape, expected)


NS = {"v1": "urn:schemas-microsoft-com:asm.v1",
      "v3": "urn:schemas-microsoft-com:asm.v3",
      "ws": "http://schemas.microsoft.com/SMI/2005/WindowsSettings"}


class Manifest(unittest.TestCase):

    def setUp(self):
        self.data = resources(load())[RT_MANIFEST][1][ENGLISH_US]
        self.root = ElementTree.fromstring(self.data)

    def test_utf8_assembly_version_1(self):
        self.data.decode("utf-8")
        self.assertTrue(self.data.startswith(b'<?xml version="1.0" '
                                             b'encoding="UTF-8"'))
        self.assertEqual(self.root.tag, "{%s}assembly" % NS["v1"])
        self.assertEqual(self.root.get("manifestVersion"), "1.0")

    def test_as_invoker_without_ui_access(self):
        levels = self.root.findall(
            "v3:trustInfo/v3:security/v3:requestedPrivileges/"
            "v3:requestedExecutionLevel", NS)
        self.assertEqual([dict(level.attrib) for level in levels],
                         [{"level": "asInvoker", "uiAccess": "false"}])

    def test_per_monitor_dpi_aware(self):
        aware = self.root.findall(
            "v3:application/v3:windowsSettings/ws:dpiAware", NS)
        self.assertEqual([element.text for element in aware], ["True/PM"])

    def test_declares_nothing_else(self):
        tags = sorted(element.tag.split("}")[1] for element in
                      self.root.iter())
        self.assertEqual(tags, sorted([
            "assembly", "trustInfo", "security", "requestedPrivileges",
            "requestedExecutionLevel", "application", "windowsSettings",
            "dpiAware"]))


def bitmap_header(image):
    return struct.unpack_from("<IiiHHIIiiII", image)


def mask_bit(image, x, y):
    """The AND-mask bit of pixel (x, y), y counted from the top."""
    _, width, height, _, bits, *_ = bitmap_header(image)
    size = height // 2
    palette = 0 if bits == 32 else 4 << bits
    stride = (bits * width + 31) // 32 * 4
    mask_stride = (width + 31) // 32 * 4
    start = 40 + palette + stride * size + mask_stride * (size - 1 - y)
    return image[start + x // 8] >> (7 - x % 8) & 1


def alpha(image, x, y):
    """The alpha of pixel (x, y) of a 32-bit image, y counted from the top."""
    size = bitmap_header(image)[1]
    return image[40 + 4 * ((size - 1 - y) * size + x) + 3]


class Icon(unittest.TestCase):

    def setUp(self):
        self.tree = resources(load())

    def test_group_lists_the_ten_images_in_order(self):
        group = self.tree[RT_GROUP_ICON][128][JAPANESE]
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((reserved, kind, count), (0, 1, 10))
        entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
                   for i in range(count)]
        self.assertEqual([(e[7], e[0] or 256, e[1] or 256, e[5])
                          for e in entries],
                         [(i, s, s, b) for i, s, b in ICON_IMAGES])
        for entry in entries:
            image = self.tree[RT_ICON][entry[7]][JAPANESE]
            self.assertEqual(entry[6], len(image))

    def test_every_image_is_a_bitmap_with_a_mask(self):
        for image_id, size, bits in ICON_IMAGES:
            with self.subTest(image=image_id):
                image = self.tree[RT_ICON][image_id][JAPANESE]
                self.assertFalse(image.startswith(b"\x89PNG"))
                (header_size, width, height, planes, bit_count, compression,
                 _, _, _, used, _) = bitmap_header(image)
                self.assertEqual((header_size, width, height, planes,
                                  bit_count, compression),
                                 (40, size, 2 * size, 1, bits, 0))
                palette = (1 << bits if used == 0 else used) if bits < 32 \
                    else 0
                stride = (bits * size + 31) // 32 * 4
                mask_stride = (size + 31) // 32 * 4
                self.assertEqual(len(image), 40 + 4 * palette +
                                 stride * size + mask_stride * size)
                # The rounded corners are transparent, the middle is not.
                for x, y in ((0, 0), (size - 1, size - 1)):
                    if bits == 32:
                        self.assertLess(alpha(image, x, y), 128)
                    else:
                        self.assertEqual(mask_bit(image, x, y), 1)
                self.assertEqual(mask_bit(image, size // 2, size // 2), 0)

    def test_palettes_are_made_for_the_image(self):
        for image_id, _, bits in ICON_IMAGES:
            if bits == 32:
                continue
            with self.subTest(image=image_id):
                image = self.tree[RT_ICON][image_id][JAPANESE]
                colours = [image[40 + 4 * i:43 + 4 * i]
                           for i in range(1 << bits)]
                # Black at index 0 for the masked pixels, and the image's
                # own colours after it: many, all different.
                self.assertEqual(colours[0], b"\0\0\0")
                distinct = set(colours)
                self.assertGreaterEqual(len(distinct), 16 if bits == 8 else 12)

    def test_32_bit_alpha_agrees_with_the_mask(self):
        for image_id, size, bits in ICON_IMAGES:
            if bits != 32:
                continue
            image = self.tree[RT_ICON][image_id][JAPANESE]
            for y in range(size):
                for x in range(size):
                    self.assertEqual(mask_bit(image, x, y),
                                     int(alpha(image, x, y) == 0),
                                     (image_id, x, y))

    def test_embedded_images_are_the_committed_icon(self):
        with open(ICO, "rb") as ico:
            data = ico.read()
        _, _, count = struct.unpack_from("<HHH", data)
        for i in range(count):
            *_, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
            self.assertEqual(self.tree[RT_ICON][i + 1][JAPANESE],
                             data[offset:offset + size])

    def test_the_generator_reproduces_the_committed_icon(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([sys.executable, os.path.join(
                SOURCE_DIR, "image", "icon", "make_icon.py"), out],
                check=True, stdout=subprocess.DEVNULL)
            with open(os.path.join(out, "tolvarin.ico"), "rb") as made, \
                    open(ICO, "rb") as committed:
                self.assertEqual(made.read(), committed.read())


class VersionRecord(unittest.TestCase):

    def test_fixed_part(self):
        fixed = load().VS_FIXEDFILEINFO[0]
        self.assertEqual(fixed.Signature, 0xFEEF04BD)
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS),
                         (11 << 16 | 2, 3 << 16 | 3))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS),
                         (11 << 16 | 2, 3 << 16 | 3))
        self.assertEqual(fixed.FileFlagsMask, 0x3F)
        self.assertEqual(fixed.FileFlags, 0)
        self.assertEqual(fixed.FileOS, 0x40004)
        self.assertEqual(fixed.FileType, 1)
        self.assertEqual(fixed.FileSubtype, 0)

    def test_one_string_table_with_the_eight_keys(self):
        pe = load()
        tables = []
        translations = []
        for info in pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                tables += info.StringTable
            if info.Key == b"VarFileInfo":
                for var in info.Var:
                    translations += list(var.entry.values())
        self.assertEqual([t.LangID for t in tables], [b"040904b0"])
        strings = tables[0].entries
        self.assertEqual(sorted(strings), sorted([
            b"CompanyName", b"FileDescription", b"FileVersion",
            b"InternalName", b"LegalCopyright", b"OriginalFilename",
            b"ProductName", b"ProductVersion"]))
        self.assertEqual(strings[b"FileVersion"], b"11.2.3.3")
        self.assertEqual(strings[b"ProductVersion"], b"11.2.3.3")
        self.assertEqual(strings[b"OriginalFilename"].decode(),
                         os.path.basename(EXE))
        for key, value in strings.items():
            self.assertTrue(value, key)
        self.assertEqual(translations, ["0x0409 0x04b0"])


if __name__ == "__main__":
    unittest.main()
