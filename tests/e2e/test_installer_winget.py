"""The winget manifest of the release against its installer, under Wine:
each installer entry run exactly as winget runs it (the silent switch, the
entry's Custom switch, then the install location when one is asked for)
makes the installation the manifest describes, in its scope and default
folder, with the uninstall entry of AppsAndFeaturesEntries under the key
ProductCode names and every photo type under "Open with", in the entry's
language; each refusal's code is the one ExpectedReturnCodes maps to the
response winget means for its case; and
winget's uninstall, the registered quiet command, leaves nothing."""
import os
import unittest

import wine
import yaml
from installer import LOCK, InstallerTestCase

# The languages' ids as Windows and NSIS define them.
LANGUAGE_IDS = {"en-US": 1033, "de-DE": 1031, "ar-SA": 1025}


class Winget(InstallerTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        path = os.path.join(
            cls.release["one"]["shipped"], "winget", "manifests", "t",
            "Tolvarin", "Tolvarin", cls.version,
            "Tolvarin.Tolvarin.installer.yaml")
        with open(path, encoding="utf-8") as f:
            cls.manifest = yaml.safe_load(f)
        cls.responses = {c["InstallerReturnCode"]: c["ReturnResponse"]
                         for c in cls.manifest["ExpectedReturnCodes"]}

    def winget_install(self, entry, location=None):
        """The installer's command line as winget makes it."""
        switches = self.manifest["InstallerSwitches"]
        program = wine.windows_path(self.installer)
        line = (f'"{program}" {switches["Silent"]} '
                f'{entry["InstallerSwitches"]["Custom"]}')
        if location is not None:
            line += " " + switches["InstallLocation"].replace(
                "<INSTALLPATH>", location)
        return self.prefix.spawn(line, program)

    def expand(self, location):
        local = self.prefix.windows(os.path.dirname(os.path.dirname(
            self.user.folder)))
        return self.prefix.host(location.replace(
            "%ProgramFiles%", "C:\\Program Files").replace(
                "%LocalAppData%", local))

    def test_each_installer_entry_does_what_the_manifest_claims(self):
        # Each scope's English entry, a German one and an Arabic one.
        chosen = [("machine", "en-US"), ("user", "en-US"),
                  ("machine", "de-DE"), ("user", "ar-SA")]
        entries = {(i["Scope"], i["InstallerLocale"]): i
                   for i in self.manifest["Installers"]}
        [apps] = self.manifest["AppsAndFeaturesEntries"]
        for scope_name, tag in chosen:
            entry = entries[(scope_name, tag)]
            other = entries[("user" if scope_name == "machine" else
                             "machine", "en-US")]
            with self.subTest((scope_name, tag)):
                scope = self.all if entry["Scope"] == "machine" else self.user
                folder = self.expand(
                    entry["InstallationMetadata"]["DefaultInstallLocation"])
                self.assertEqual(self.winget_install(entry), 0)
                # With every photo type under "Open with": the types that
                # the release test holds equal to FileExtensions.
                self.assertInstalled(folder, scope=scope,
                                     language=LANGUAGE_IDS[tag])
                key = f"{scope.uninstall}\\{self.manifest['ProductCode']}"
                entry_values = self.prefix.registry(key)[key]
                self.assertEqual(
                    {k: entry_values[k] for k in (
                        "DisplayName", "Publisher", "DisplayVersion")},
                    {k: apps[k] for k in ("DisplayName", "Publisher",
                                          "DisplayVersion")})
                self.assertEqual(apps["ProductCode"],
                                 self.manifest["ProductCode"])

                # Refusals, each with the ReturnResponse whose meaning winget
                # defines as the case, nothing changed: the other
                # scope's entry while this one is installed, a location that
                # is no folder; once, Tolvarin running and another setup
                # running (each after the installer's wait).
                refusals = [
                    ("alreadyInstalled", None, other, None),
                    ("invalidParameter", None, entry, "Tolvarin")]
                if (scope_name, tag) == chosen[0]:
                    refusals += [
                        ("packageInUse", {}, entry, None),
                        ("installInProgress", LOCK, entry, None)]
                for response, held, run, location in refusals:
                    end = held is not None and self.start_held(folder, held)
                    before = self.snapshot(folder)
                    try:
                        got = self.winget_install(run, location)
                    finally:
                        if end:
                            end()
                    self.assertEqual(self.responses.get(got), response)
                    self.assertEqual(self.snapshot(folder), before)
                self.uninstall(scope)
                self.assertNothingLeft(folder)

        # winget install --location
        place = "C:\\Winget Place\\Tolvarin"
        self.assertEqual(self.winget_install(entries[chosen[0]], place), 0)
        self.assertInstalled(self.prefix.host(place))
        self.uninstall()
        self.assertNothingLeft(self.prefix.host(place))


if __name__ == "__main__":
    unittest.main()
