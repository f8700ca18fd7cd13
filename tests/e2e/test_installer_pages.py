"""The installer's and the uninstaller's pages on a display, driven by keys
as a user drives them: every page with the defaults, which must come to what
the silent install makes; the scope and the components chosen; the message
for files in use, retried and cancelled; an installation in the other scope
explained on its page; a folder too long, corrected on the folder page, and
one that ordinary users may change, said so; the page that tells which
version is installed; and the uninstaller's pages, which keep a setup
waiting."""
import os
import shutil
import unittest

import wine
from display import Display, Program, Windows, use_virtual_desktop
from harness import SPAWN_EXE
from installer import EXIT, PROBE_DIR, InstallerTestCase, tree

SCOPE_PAGE, INSTALLED_PAGE = "Choose users", "Installed version"
COMPONENTS_PAGE, FOLDER_PAGE = "Choose Components", "Choose Install Location"
DONE_PAGE = "Installation Complete"
IN_USE_MESSAGE = "is in use."


class Pages(InstallerTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.display = Display()
        use_virtual_desktop(cls.prefix)
        cls.windows = Windows(cls.prefix, cls.display,
                              os.path.join(PROBE_DIR, "uiprobe.exe"))

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.display.close()

    def start(self, *arguments, installer=None):
        program = Program(self.prefix, self.display,
                          installer or self.installer, *arguments)
        self.addCleanup(program.kill)
        return program

    def page(self, text, *keys, other_than=None):
        """Waits for the page or message showing text, then types keys."""
        window = self.windows.wait_for(text, other_than=other_than)
        if keys:
            self.display.keys(*keys)
        return window

    def test_every_page_with_the_defaults_makes_the_silent_installation(self):
        folder = self.all.folder
        setup = self.start()
        window = self.page(SCOPE_PAGE)
        # An administrator is offered all users.
        self.assertEqual(self.windows.control(
            window, "For &all users (needs administrator rights)")["checked"],
            1)
        self.display.keys("Return")
        self.page(COMPONENTS_PAGE, "Return")
        window = self.page(FOLDER_PAGE)
        self.assertIn("C:\\Program Files\\Tolvarin", window["texts"])
        self.display.keys("Return")
        self.page(DONE_PAGE, "Return")
        self.assertEqual(setup.status(), 0)
        self.assertInstalled(folder)
        windowed = self.snapshot(folder)
        self.uninstall()
        self.install()
        self.assertEqual(self.snapshot(folder), windowed)
        self.uninstall()

    def test_only_for_me_without_open_with_with_a_desktop_shortcut(self):
        setup = self.start()
        self.page(SCOPE_PAGE, "alt+m", "Return")
        # The first component is "Open photos with", the second the
        # desktop shortcut; the list has the focus.
        self.page(COMPONENTS_PAGE, "space", "Down", "space", "Return")
        window = self.page(FOLDER_PAGE)
        self.assertIn(self.prefix.windows(self.user.folder), window["texts"])
        self.display.keys("Return")
        self.page(DONE_PAGE, "Return")
        self.assertEqual(setup.status(), 0)
        self.assertInstalled(self.user.folder, scope=self.user,
                             open_with=False, desktop=True)

        # An administrator updating it is offered its scope; the other one
        # is explained on the page, which stays.
        setup = self.start()
        window = self.page(SCOPE_PAGE)
        self.assertEqual(self.windows.control(window, "Only for &me")[
            "checked"], 1)
        self.display.keys("alt+a", "Return")
        self.page("Uninstall it first to install for all users.")
        self.page(SCOPE_PAGE, "alt+m", "Return")
        window = self.page(INSTALLED_PAGE)
        self.assertIn(f"Tolvarin {self.version} is installed in "
                      f"{self.prefix.windows(self.user.folder)}.",
                      window["texts"])
        self.display.keys("Return")
        self.page(COMPONENTS_PAGE, "Return")
        self.page(FOLDER_PAGE, "Return")
        self.page(DONE_PAGE, "Return")
        self.assertEqual(setup.status(), 0)
        self.assertInstalled(self.user.folder, scope=self.user,
                             open_with=False, desktop=True)
        self.uninstall(self.user)

    def test_files_in_use_retried_and_cancelled(self):
        """Retry asks again while the file is in use and goes on once it is
        free; Cancel ends the setup with its exit code, nothing changed, and
        one message."""
        folder = self.all.folder
        self.install(installer=self.older)
        for choice, status in (("Retry", 0), ("Cancel", EXIT["IN_USE"])):
            with self.subTest(choice):
                end = self.start_held(folder)
                before = self.snapshot(folder)
                setup = self.start()
                self.page(SCOPE_PAGE, "Return")
                window = self.page(INSTALLED_PAGE)
                self.assertIn(f"This setup upgrades it to {self.version}. "
                              "Your own files in its folder stay as they "
                              "are.", window["texts"])
                self.display.keys("Return")
                self.page(COMPONENTS_PAGE, "Return")
                self.page(FOLDER_PAGE, "Return")
                window = self.page(IN_USE_MESSAGE)
                self.assertIn("Tolvarin is running: C:\\Program Files\\"
                              "Tolvarin\\", " ".join(window["texts"]))
                if choice == "Retry":
                    self.display.keys("alt+r")
                    self.page(IN_USE_MESSAGE, other_than=window)
                    end()
                    self.display.keys("alt+r")
                    self.page(DONE_PAGE, "Return")
                    self.assertEqual(setup.status(), status)
                    self.assertInstalled(folder)
                    self.install(installer=self.older)
                else:
                    self.display.keys("Escape")
                    self.assertEqual(setup.status(), status)
                    self.assertFalse([w for w in self.windows.read()
                                      if "Tolvarin" in w["title"]])
                    self.assertEqual(self.snapshot(folder), before)
                    end()
        self.uninstall()

    def test_a_folder_too_long_is_corrected_on_its_page(self):
        setup = self.start()
        self.page(SCOPE_PAGE, "Return")
        self.page(COMPONENTS_PAGE, "Return")
        self.page(FOLDER_PAGE, "ctrl+a")
        long_folder = "C:\\" + "\\".join(["Photo Tools"] * 20)
        self.display.type(long_folder)
        self.display.keys("Return")
        window = self.page("is too long")
        text = next(t for t in window["texts"] if "too long" in t)
        lines = text.replace("\r", "").split("\n")
        self.assertGreater(len(lines), 3)
        self.assertLessEqual(max(len(line) for line in lines), 72)
        self.display.keys("Return")
        # A folder for all users that ordinary users may change is said so;
        # No keeps the page.
        shared = self.prefix.host("C:\\Shared")
        os.makedirs(shared)
        os.chmod(shared, 0o777)
        self.page(FOLDER_PAGE, "ctrl+a")
        self.display.type("C:\\Shared")
        self.display.keys("Return")
        self.page("Ordinary users of this computer may change", "alt+n")
        os.rmdir(shared)
        self.page(FOLDER_PAGE, "ctrl+a")
        self.display.type("C:\\Photo Tools\\Tolvarin")
        self.display.keys("Return")
        self.page(DONE_PAGE, "Return")
        self.assertEqual(setup.status(), 0)
        folder = self.prefix.host("C:\\Photo Tools\\Tolvarin")
        self.assertInstalled(folder)
        self.assertFalse(os.path.exists(self.prefix.host(long_folder)))

        # The uninstaller's pages, from the command Settings runs.
        entry = self.prefix.registry(self.all.entry)[self.all.entry]
        line = os.path.join(self.sandbox, "line.txt")
        with open(line, "w", encoding="utf-8") as f:
            f.write(entry["UninstallString"])
        uninstall = Program(self.prefix, self.display, SPAWN_EXE, "",
                            wine.windows_path(line))
        self.addCleanup(uninstall.kill)
        self.page("Uninstall Tolvarin")
        # Its pages hold the setup lock: a setup started meanwhile waits,
        # then refuses.
        self.install(status=EXIT["BUSY"])
        self.display.keys("Return")
        self.page("Uninstallation Complete", "Return")
        self.assertEqual(uninstall.status(), 0)
        self.assertNothingLeft(folder)
        self.assertEqual(tree(self.prefix.host("C:\\Photo Tools")), [])
        shutil.rmtree(self.prefix.host("C:\\Photo Tools"))

    def test_the_installed_version_page_says_what_setup_does(self):
        table = [(self.installer, "installs the same version, "
                  f"{self.version}, again."),
                 (self.older, f"replaces it with {self.older_version}, an "
                  "older version.")]
        self.install()
        for installer, text in table:
            with self.subTest(text):
                setup = self.start(installer=installer)
                self.page(SCOPE_PAGE, "Return")
                window = self.page(INSTALLED_PAGE)
                self.assertIn(f"This setup {text} Your own files in its "
                              "folder stay as they are.", window["texts"])
                self.display.keys("Escape")
                self.assertEqual(setup.status(), EXIT["CANCELLED"])
        self.uninstall()


if __name__ == "__main__":
    unittest.main()
