"""The release builds of build_release.py: the same bytes from both builds,
symbols included, the commit's time in every linked image, no build path in
anything shipped or in the symbols, symbols that resolve the launcher's
code, signatures that verify and change nothing else, the image checks on
the default and the guarded launcher, an installer that carries the program
icon and its own version record, and a release build that builds only what
ships."""
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

import jsonschema
import pefile
import yaml

RELEASE_DIR = os.environ["RELEASE_DIR"]
SOURCE_DIR = os.environ["SOURCE_DIR"]
LINKED = ("Tolvarin.exe", "TOLVARIN64.dll", "TOLVARIN64avx.dll")
sys.path.insert(0, os.path.join(SOURCE_DIR, "release", "installer"))
import catalogues  # noqa: E402  (the installer's translations)

# (catalogue, BCP 47 tag, language id) of each of the installer's languages.
LANGUAGES = [(name, tag, int(language_id))
             for name, _, tag, language_id in catalogues.languages()]


def exit_codes():
    with open(os.path.join(SOURCE_DIR, "release", "exit_codes.json"),
              encoding="utf-8") as f:
        return json.load(f)["codes"]


def schema(name):
    with open(os.path.join(os.path.dirname(__file__), "schemas", name),
              encoding="utf-8") as f:
        return json.load(f)


def load_manifest():
    with open(os.path.join(RELEASE_DIR, "release.json"), encoding="utf-8") as f:
        manifest = json.load(f)
    if "skipped" in manifest:
        raise unittest.SkipTest(manifest["skipped"])
    return manifest


def first_difference(a, b):
    """Offset of the first differing byte, or None when equal."""
    for offset, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return offset
    return None if len(a) == len(b) else min(len(a), len(b))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def pdbutil(what, pdb):
    return subprocess.run(["llvm-pdbutil-19", "dump", what, pdb],
                          capture_output=True, text=True, check=True).stdout


def osslsigncode(*arguments):
    return subprocess.run(["osslsigncode"] + list(arguments),
                          capture_output=True, text=True, check=False)


class Release(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.release = load_manifest()
        cls.one = cls.release["one"]
        cls.two = cls.release["two"]
        cls.package = f"Tolvarin-{cls.release['version']}-win64"
        cls.symbols = cls.package + "-symbols.zip"
        cls.sbom = cls.package + ".spdx.json"
        cls.winget = ("winget/manifests/t/Tolvarin/Tolvarin/"
                      f"{cls.release['version']}/Tolvarin.Tolvarin")
        cls.packages = [cls.package + ".zip", cls.package + ".exe",
                        cls.symbols, cls.sbom]
        cls.shipped = list(LINKED) + cls.packages + [
            "SHA256SUMS", "scoop/tolvarin.json"] + [
            cls.winget + kind for kind in [".yaml", ".installer.yaml"] + [
                f".locale.{tag}.yaml" for _, tag, _ in LANGUAGES]]

    def shipped_path(self, build, name):
        return os.path.join(build["shipped"], name)

    def test_both_builds_ship_the_same_bytes(self):
        for name in self.shipped:
            with self.subTest(file=name):
                one = read(self.shipped_path(self.one, name))
                two = read(self.shipped_path(self.two, name))
                offset = first_difference(one, two)
                self.assertIsNone(
                    offset, f"{name} differs from offset {offset} "
                    f"(sizes {len(one)} and {len(two)})")

    def test_linked_images_carry_the_commit_time_and_no_symbols(self):
        """The commit's time as the PE time stamp; no DWARF and no symbol
        table, which live in the PDBs."""
        restamped = self.release["restamped"]
        table = [(self.shipped_path(self.one, name),
                  self.release["commit_time"]) for name in LINKED]
        # A build made before the last commit, built again after it.
        table.append((restamped["launcher"], restamped["time"]))
        for path, commit_time in table:
            with self.subTest(file=path):
                pe = pefile.PE(path, fast_load=True)
                self.assertEqual(pe.FILE_HEADER.TimeDateStamp, commit_time)
                self.assertEqual(pe.FILE_HEADER.PointerToSymbolTable, 0)
                self.assertFalse([s for s in pe.sections
                                  if s.Name.startswith(b".debug")])

    def test_no_build_path_inside_anything_shipped(self):
        paths = {self.one["source"], self.one["build"], self.two["source"],
                 self.two["build"], os.path.dirname(self.two["source"])}
        needles = {p.encode() for p in paths} | {
            p.encode("utf-16-le") for p in paths}
        contents = {name: read(self.shipped_path(self.one, name))
                    for name in self.shipped}
        for archive in (self.package + ".zip", self.symbols):
            with zipfile.ZipFile(self.shipped_path(self.one, archive)) as z:
                contents.update({f"{archive}:{info.filename}": z.read(info)
                                 for info in z.infolist()})
        for name, data in contents.items():
            for needle in needles:
                self.assertNotIn(needle, data, name)

    def test_notices_and_bill_of_materials_cover_what_is_linked(self):
        """Every toolchain file that a shipped image's PDB lists among its
        modules comes from a package that THIRD-PARTY-NOTICES.txt names with
        its version, and that the bill of materials links the image to; the
        bill's checksums are those of the shipped files."""
        with zipfile.ZipFile(self.shipped_path(self.one,
                                               self.package + ".zip")) as z:
            installed = {info.filename: z.read(info) for info in z.infolist()
                         if not info.is_dir()}
        notices = installed["THIRD-PARTY-NOTICES.txt"].decode()
        with open(self.shipped_path(self.one, self.sbom),
                  encoding="utf-8") as f:
            sbom = json.load(f)
        self.assertEqual(sbom["spdxVersion"], "SPDX-2.3")
        jsonschema.validate(sbom, schema("spdx-2.3.schema.json"))
        self.assertEqual(
            {entry["fileName"][2:]: {c["algorithm"]: c["checksumValue"]
                                     for c in entry["checksums"]}
             for entry in sbom["files"]},
            {name: {"SHA1": hashlib.sha1(data).hexdigest(),
                    "SHA256": hashlib.sha256(data).hexdigest()}
             for name, data in installed.items()})
        names = {e["SPDXID"]: e.get("fileName", e.get("name"))
                 for e in sbom["files"] + sbom["packages"]}
        versions = {p["name"]: p["versionInfo"] for p in sbom["packages"]}
        links = {(os.path.basename(names[r["spdxElementId"]]),
                  names[r["relatedSpdxElement"]])
                 for r in sbom["relationships"]
                 if r["relationshipType"] == "STATIC_LINK"}

        with tempfile.TemporaryDirectory() as store:
            with zipfile.ZipFile(self.shipped_path(self.one,
                                                   self.symbols)) as z:
                z.extractall(store)
            for image in LINKED:
                pdb_name = os.path.splitext(image)[0] + ".pdb"
                [key] = os.listdir(os.path.join(store, pdb_name))
                modules = pdbutil("-modules", os.path.join(store, pdb_name,
                                                          key, pdb_name))
                linked = {m for m in re.findall(r"Obj: `([^`]+)`", modules)
                          if m.startswith("/")}
                self.assertTrue(linked, image)
                for path in sorted(linked):
                    package = subprocess.run(
                        ["dpkg-query", "-S", os.path.realpath(path)],
                        capture_output=True, text=True,
                        check=True).stdout.split(":")[0]
                    version = subprocess.run(
                        ["dpkg-query", "-W", "-f", "${Version}", package],
                        capture_output=True, text=True,
                        check=True).stdout
                    with self.subTest(image=image, file=path):
                        entry = re.search(
                            rf"\r\n{re.escape(package)} {re.escape(version)}"
                            rf"\r\n  Linked into: .*{image}", notices)
                        self.assertTrue(entry, "no notice entry")
                        self.assertEqual(versions[package], version)
                        self.assertIn((image, package), links)

    def test_signatures_verify(self):
        ca = self.release["keys"]["ca"]
        for name in ("Tolvarin.exe", self.package + ".exe"):
            with self.subTest(file=name):
                signed = self.shipped_path(self.one, name)
                result = osslsigncode("verify", "-CAfile", ca, "-in", signed)
                self.assertEqual(result.returncode, 0, result.stdout)
                self.assertIn("Signature verification: ok", result.stdout)

    def test_signed_with_the_source_time(self):
        result = osslsigncode("verify", "-CAfile", self.release["keys"]["ca"],
                              "-in", self.shipped_path(self.one,
                                                       "Tolvarin.exe"))
        self.assertRegex(result.stdout, r"Signing time: .*(GMT|UTC)")
        # osslsigncode prints the time in words; compare it with the
        # commit's, spelt the same way.
        stamp = subprocess.run(
            ["env", "LC_ALL=C", "date", "-u", "-d", f"@{self.release['commit_time']}",
             "+%b %e %H:%M:%S %Y"], capture_output=True, text=True,
            check=True).stdout.strip()
        self.assertIn(stamp, result.stdout)

    def test_removing_the_signature_gives_the_unsigned_build(self):
        with tempfile.TemporaryDirectory() as scratch:
            stripped = os.path.join(scratch, "Tolvarin.exe")
            result = osslsigncode(
                "remove-signature", "-in",
                self.shipped_path(self.one, "Tolvarin.exe"), "-out", stripped)
            self.assertEqual(result.returncode, 0, result.stdout)
            unsigned = read(self.release["unsigned_launcher"])
            offset = first_difference(read(stripped), unsigned)
            self.assertIsNone(offset, f"differs from offset {offset}")

    def test_the_signed_launchers_pass_the_image_checks(self):
        """The shipped launcher, and the one built with the process
        mitigations, whose sample libraries have Control Flow Guard too."""
        guarded = self.release["guarded"]
        table = [(self.shipped_path(self.one, "Tolvarin.exe"),
                  os.path.join(self.one["build"], "Tolvarin.pdb"), "0"),
                 (os.path.join(guarded, "Tolvarin.exe"),
                  os.path.join(guarded, "Tolvarin.pdb"), "1")]
        for exe, pdb, mitigations in table:
            with self.subTest(mitigations=mitigations):
                env = dict(os.environ, SOURCE_DIR=SOURCE_DIR, LAUNCHER_EXE=exe,
                           LAUNCHER_PDB=pdb, PROCESS_MITIGATIONS=mitigations)
                result = subprocess.run(
                    [sys.executable, "-m", "unittest", "test_image"],
                    cwd=os.path.join(SOURCE_DIR, "tests", "image"), env=env,
                    capture_output=True, text=True, check=False)
                self.assertEqual(result.returncode, 0, result.stderr[-3000:])
        for name in ("TOLVARIN64.dll", "TOLVARIN64avx.dll"):
            library = pefile.PE(os.path.join(guarded, "sample", name),
                                fast_load=True)
            self.assertTrue(library.OPTIONAL_HEADER.DllCharacteristics &
                            0x4000, name)  # GUARD_CF

    def test_the_symbols_archive_resolves_the_hand_off(self):
        """Only from the symbols archive: both files under the keys a
        debugger asks a symbol server for, and an address inside the hand-off
        function resolved to its name and source line."""
        exe = pefile.PE(self.shipped_path(self.one, "Tolvarin.exe"),
                        fast_load=True)
        with tempfile.TemporaryDirectory() as store:
            with zipfile.ZipFile(self.shipped_path(self.one,
                                                   self.symbols)) as z:
                z.extractall(store)
            image_key = (f"{exe.FILE_HEADER.TimeDateStamp:08X}"
                         f"{exe.OPTIONAL_HEADER.SizeOfImage:x}")
            stored_exe = os.path.join(store, "Tolvarin.exe", image_key,
                                      "Tolvarin.exe")
            self.assertEqual(read(stored_exe), read(self.shipped_path(
                self.one, "Tolvarin.exe")))
            [pdb_key] = os.listdir(os.path.join(store, "Tolvarin.pdb"))
            pdb = os.path.join(store, "Tolvarin.pdb", pdb_key, "Tolvarin.pdb")
            summary = pdbutil("-summary", pdb)
            guid = re.search(r"GUID: \{([0-9A-F-]+)\}", summary).group(1)
            age = int(re.search(r"Age: (\d+)", summary).group(1))
            self.assertEqual(pdb_key, guid.replace("-", "") + f"{age:X}")

            # The debugger's way: the image and its PDB side by side.
            side = os.path.join(store, "side by side")
            os.makedirs(side)
            for path in (stored_exe, pdb):
                os.replace(path, os.path.join(side, os.path.basename(path)))
            pdb = os.path.join(side, "Tolvarin.pdb")
            found = re.search(r"S_GPROC32 \[[^]]*\] `(\S*RunApplicationLibrary"
                              r"\S*)`\s+parent = \d+, end = \d+, "
                              r"addr = (\d+):(\d+), code size = (\d+)",
                              pdbutil("-symbols", pdb))
            section, offset, size = (int(found.group(i)) for i in (2, 3, 4))
            address = (exe.OPTIONAL_HEADER.ImageBase + offset + size // 2 +
                       exe.sections[section - 1].VirtualAddress)
            result = subprocess.run(
                ["llvm-symbolizer-19", "--obj",
                 os.path.join(side, "Tolvarin.exe"), hex(address)],
                capture_output=True, text=True, check=True)
            self.assertRegex(result.stdout,
                             r"RunApplicationLibrary.*\n"
                             r"C:\\tolvarin\\launcher\\app_library\.cpp:\d+")

    def test_installer_is_64_bit_with_the_icon_and_its_version_record(self):
        installer = pefile.PE(self.shipped_path(self.one,
                                                self.package + ".exe"))
        self.assertEqual(installer.FILE_HEADER.Machine, 0x8664)
        version = self.release["version"]
        fixed = installer.VS_FIXEDFILEINFO[0]
        self.assertEqual(
            f"{fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}."
            f"{fixed.FileVersionLS >> 16}.{fixed.FileVersionLS & 0xFFFF}",
            version)
        strings = {k.decode(): v.decode() for info in installer.FileInfo[0]
                   for table in getattr(info, "StringTable", [])
                   for k, v in table.entries.items()}
        self.assertEqual(strings["FileVersion"], version)
        self.assertEqual(strings["ProductVersion"], version)
        self.assertEqual(strings["ProductName"], "Tolvarin")
        self.assertEqual(strings["OriginalFilename"], self.package + ".exe")

        # Every image of the program's icon, and no other.
        ico = read(os.path.join(SOURCE_DIR, "image", "icon", "tolvarin.ico"))
        wanted = []
        for index in range(int.from_bytes(ico[4:6], "little")):
            entry = ico[6 + 16 * index:22 + 16 * index]
            size = int.from_bytes(entry[8:12], "little")
            offset = int.from_bytes(entry[12:16], "little")
            wanted.append(ico[offset:offset + size])
        icons = [e for e in installer.DIRECTORY_ENTRY_RESOURCE.entries
                 if e.id == pefile.RESOURCE_TYPE["RT_ICON"]][0]
        carried = [installer.get_data(language.data.struct.OffsetToData,
                                      language.data.struct.Size)
                   for name in icons.directory.entries
                   for language in name.directory.entries]
        self.assertEqual(sorted(carried), sorted(wanted))

    def test_a_release_build_builds_only_what_ships(self):
        # Every program and library in the build folder, but CMake's own
        # compiler check and the packages' staging.
        build = self.one["build"]
        built = sorted(
            os.path.relpath(os.path.join(folder, name), build)
            for folder, _, files in os.walk(build)
            if not os.path.relpath(folder, build).startswith(
                ("CMakeFiles", "package"))
            for name in files if name.endswith((".exe", ".dll")))
        # The installer's job engine ships inside the installer.
        self.assertEqual(built, ["Tolvarin.exe", "sample/TOLVARIN64.dll",
                                 "sample/TOLVARIN64avx.dll",
                                 "setup/SetupEngine.dll"])
        self.assertEqual(sorted(os.listdir(os.path.join(build, "package"))),
                         ["SHA256SUMS", self.symbols, self.package + ".exe",
                          self.sbom, self.package + ".zip",
                          "_CPack_Packages", "scoop", "winget"])

    def test_the_package_managers_manifests(self):
        """Valid against their published schemas and true of the packages:
        the checksums, the photo types, the exit codes, the scopes and their
        switches; none without a download location. (What the installer
        does with the switches: tests/e2e/test_installer_winget.py.)"""
        shipped = self.one["shipped"]
        result = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"],
                                cwd=shipped, capture_output=True, text=True,
                                check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(sorted(line.split(": ")[0] for line in
                                result.stdout.splitlines()),
                         sorted(self.packages))

        manifests = {}
        for kind, schema_name in [("", "version"), (".installer", "installer"),
                                  (".locale.en-US", "defaultLocale")] + [
                (".locale." + tag, "locale") for _, tag, _ in LANGUAGES[1:]]:
            with open(self.shipped_path(self.one, self.winget + kind +
                                        ".yaml"), encoding="utf-8") as f:
                manifests[kind] = yaml.safe_load(f)
            jsonschema.validate(manifests[kind], schema(
                f"winget-manifest.{schema_name}.1.12.0.json"))
        # Each language's descriptions from its catalogue.
        texts = catalogues.check()
        for name, tag, _ in LANGUAGES:
            self.assertEqual(
                [manifests[".locale." + tag][key] for key in (
                    "PackageLocale", "ShortDescription", "Description")],
                [tag, texts[name]["winget_short_description"],
                 texts[name]["winget_description"]])
        installer = manifests[".installer"]
        codes = exit_codes()
        self.assertEqual([(c["InstallerReturnCode"], c["ReturnResponse"])
                          for c in installer["ExpectedReturnCodes"]],
                         [(c["code"], c["winget"]) for c in codes
                          if c["code"] != 0])
        with open(os.path.join(SOURCE_DIR, "release", "file_types.json"),
                  encoding="utf-8") as f:
            types = json.load(f)["progids"]
        self.assertEqual(installer["FileExtensions"],
                         [t for group in types.values() for t in group])
        digest = hashlib.sha256(read(self.shipped_path(
            self.one, self.package + ".exe"))).hexdigest().upper()
        # For each scope, an entry in each language, English first, that
        # starts the installer in it.
        self.assertEqual(
            [(i["Scope"], i["InstallerLocale"], i["InstallerSwitches"][
                "Custom"], i["InstallerSha256"], i["InstallerUrl"])
             for i in installer["Installers"]],
            [(scope, tag, f"{switch} /LANG={language_id}", digest,
              "https://downloads.example.com/tolvarin/"
              f"{self.release['version']}/{self.package}.exe")
             for scope, switch in (("machine", "/AllUsers"),
                                   ("user", "/CurrentUser"))
             for _, tag, language_id in [LANGUAGES[0]] + sorted(
                 LANGUAGES[1:], key=lambda language: language[1])])
        self.assertEqual(installer["ReleaseDate"], subprocess.run(
            ["date", "-u", "-d", f"@{self.release['commit_time']}", "+%F"],
            capture_output=True, text=True, check=True).stdout.strip())

        with open(self.shipped_path(self.one, "scoop/tolvarin.json"),
                  encoding="utf-8") as f:
            scoop = json.load(f)
        jsonschema.validate(scoop, schema("scoop-manifest.schema.json"))
        archive = self.shipped_path(self.one, self.package + ".zip")
        self.assertEqual(scoop["architecture"]["64bit"]["hash"],
                         hashlib.sha256(read(archive)).hexdigest())
        with zipfile.ZipFile(archive) as z:
            names = set(z.namelist())
        self.assertIn(scoop["bin"], names)
        for target, _ in scoop["shortcuts"]:
            self.assertIn(target, names)

        older = self.release["older_packages"]
        self.assertEqual(sorted(os.listdir(older)),
                         [self.symbols, self.package + ".exe", self.sbom,
                          self.package + ".zip", "_CPack_Packages"])

    def test_the_exit_codes_are_what_the_json_defines(self):
        """As the installer's script and the engine were built with them,
        and as the installing document's table gives them."""
        codes = exit_codes()
        build = self.one["build"]
        with open(os.path.join(build, "release", "exit_codes.nsh"),
                  encoding="utf-8") as f:
            self.assertEqual(
                re.findall(r"^!define EXIT_(\w+) (\d+)$", f.read(), re.M),
                [(c["name"], str(c["code"])) for c in codes])
        with open(os.path.join(build, "setup", "product.h"),
                  encoding="utf-8") as f:
            self.assertEqual(
                re.findall(r"^  kExit\w+ = (\d+),$", f.read(), re.M),
                [str(c["code"]) for c in codes])
        with open(os.path.join(SOURCE_DIR, "docs", "installing.md"),
                  encoding="utf-8") as f:
            readme = f.read()
        table = "\n".join(f"| {c['code']} | {c['meaning']} |" for c in codes)
        self.assertIn("| Exit code | Installer and uninstaller |\n|---|---|\n"
                      + table + "\n", readme)


if __name__ == "__main__":
    unittest.main()
