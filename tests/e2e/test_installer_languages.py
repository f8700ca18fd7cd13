"""The installer and the uninstaller in every shipped language, on a display:
each page walked with /LANG=, each text measured against its control with
the control's own font (textfit.dll), the texts a label can show put into it
one by one, right-to-left languages mirrored, and the uninstaller speaking
the language of the installation; the user's display language chosen by
default, stored by a silent install and kept by an upgrade; and the list to
choose from when none of the user's is shipped."""
import os
import unittest

from display import Display, Program, Windows, use_virtual_desktop
from installer import PROBE_DIR, InstallerTestCase
from languages import shipped

LANGUAGES = shipped()
# The display languages of the users below; Debian's locales, which
# scripts/setup-debian.sh makes.
GERMAN_USER = {"LANG": "de_DE.UTF-8", "LC_ALL": "de_DE.UTF-8"}
THAI_USER = {"LANG": "th_TH.UTF-8", "LC_ALL": "th_TH.UTF-8"}


def language(tag):
    return next(found for found in LANGUAGES if found.tag == tag)


class LanguageTestCase(InstallerTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.display = Display()
        cls.windows = Windows(cls.prefix, cls.display,
                              os.path.join(PROBE_DIR, "uiprobe.exe"))
        cls.prepare()

    @classmethod
    def prepare(cls):
        """Wine's desktop, made on the display: a silent setup started first
        would make it without one, and windows after could not show."""
        use_virtual_desktop(cls.prefix)
        cls.windows.read()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.display.close()

    def setUp(self):
        super().setUp()
        self.started = []
        self.addCleanup(self.end_programs)

    def start(self, *arguments, extra_env=None):
        program = Program(self.prefix, self.display, *arguments,
                          extra_env=extra_env)
        self.started.append(program)
        return program

    def end_programs(self):
        for program in self.started:
            program.kill()
        self.started = []

    def assertFits(self, window, *texts):
        """Every text the window shows fits its control; then each of texts
        (control, text) shown in its control in turn."""
        cut = []
        for show in [None] + list(texts):
            for shown in self.windows.read(fit=True, show=show):
                if shown["handle"] != window["handle"]:
                    continue
                cut += [(c["text"], c["fit"]) for c in shown["controls"]
                        if c["fit"] and not c["fit"]["fits"]]
        self.assertEqual(cut, [], window["title"])


class Pages(LanguageTestCase):
    """Every page and the messages of the installer and the uninstaller, in
    the languages of the slice, over an older installation for the current
    user: the scope page and its note, the installed version, the
    components, the folder and its message, the end, the uninstaller's
    confirmation and its end."""

    languages = LANGUAGES

    def test_every_page_in_every_language(self):
        for lang in self.languages:
            with self.subTest(lang):
                try:
                    self.walk(lang)
                except BaseException:
                    # The next language starts afresh: what a failed walk
                    # left running (the uninstaller's copy too) and left
                    # installed go with the prefix.
                    self.end_programs()
                    self.prefix.create()
                    self.prepare()
                    raise

    def walk(self, lang):
        folder = self.prefix.windows(self.user.folder)
        self.install("/CurrentUser", installer=self.older)
        setup = self.start(self.installer, f"/LANG={lang.id}")

        # The scope page, and its note for the other scope; the texts the
        # note can show, each in it.
        window = self.windows.wait_for(lang.text("scope_title"))
        self.assertMirrored(window, lang)
        self.display.click(self.windows.control(window, lang.text(
            "scope_all")))
        self.display.keys("Return")
        other = lang.text("other_scope_mine", self.older_version, folder)
        window = self.windows.wait_for(other)
        note = self.windows.control(window, other)
        self.assertFits(window, (note, lang.text("elevation_install")), (
            note, lang.text("other_scope_all", self.older_version, folder)))
        self.display.click(self.windows.control(window, lang.text(
            "scope_me")))
        self.display.keys("Return")

        # The installed version: what this setup does with it, each way.
        window = self.windows.wait_for(lang.text("installed_title"))
        keeps = lang.text("installed_keeps")
        shown = self.windows.control(window, lang.text(
            "installed_newer", self.version) + " " + keeps)
        self.assertIn(lang.text("installed_where", self.older_version,
                                folder), window["texts"])
        self.assertFits(window, *[
            (shown, lang.text(name, self.version) + " " + keeps)
            for name in ("installed_same", "installed_older")])
        self.display.keys("Return")

        window = self.windows.wait_for(lang.mui["MUI_TEXT_COMPONENTS_TITLE"])
        self.assertFits(window)
        self.display.keys("Return")

        # The folder page, and its message for a folder it refuses, with a
        # path that wraps.
        window = self.windows.wait_for(lang.mui["MUI_TEXT_DIRECTORY_TITLE"])
        self.assertFits(window)
        edit = next(c for c in window["controls"] if c["class"] == "Edit")
        self.display.click(edit)
        self.display.keys("ctrl+a")
        self.display.type("C:\\" + "\\".join(["Photo Tools"] * 20))
        self.display.keys("Return")
        message = self.windows.wait_for(lang.fragment("too_long"),
                                        other_than=window)
        self.assertFits(message)
        self.display.keys("Return")
        self.display.click(edit)
        self.display.keys("ctrl+a")
        self.display.type(folder)
        self.display.keys("Return")

        window = self.windows.wait_for(lang.mui["MUI_TEXT_FINISH_TITLE"])
        self.assertFits(window)
        self.display.keys("Return")
        self.assertEqual(setup.status(), 0)
        self.assertInstalled(self.user.folder, scope=self.user,
                             language=lang.id)

        # The uninstaller, started as Windows' Settings starts it, speaks
        # the installation's language.
        uninstall = self.start(os.path.join(self.user.folder,
                                            "Uninstall.exe"))
        window = self.windows.wait_for(lang.text("confirm_title"))
        self.assertMirrored(window, lang)
        self.assertFits(window)
        self.display.keys("Return")
        window = self.windows.wait_for(lang.text("uninstalled_title"))
        self.assertFits(window)
        self.display.keys("Return")
        self.assertEqual(uninstall.status(), 0)
        self.wait_for(lambda: not os.path.exists(self.user.folder),
                      "the uninstaller")
        self.assertNothingLeft(self.user.folder)

    def assertMirrored(self, window, lang):
        """Right to left: the buttons' order reversed, the radio buttons'
        and check boxes' marks on their right."""
        buttons = [c for c in window["controls"] if c["class"] == "Button"]
        pushed = [c for c in buttons if c["style"] & 0xF in (0, 1)]
        lefts = [c["rect"][0] for c in pushed if c["text"]]
        self.assertEqual(lefts[-1] < lefts[0], lang.rtl, lefts)
        for box in buttons:
            if box["style"] & 0xF in (2, 3, 4, 5, 6, 9):  # check, radio
                self.assertEqual(bool(box["style"] & 0x20 or
                                      box["exstyle"] & 0x1000), lang.rtl,
                                 box["text"])


def pages_of(name, part, parts):
    """Pages for one part of the languages, so that the parts run side by
    side in prefixes of their own."""
    return type(name, (Pages,), {"languages": LANGUAGES[part::parts]})


PagesA = pages_of("PagesA", 0, 3)
PagesB = pages_of("PagesB", 1, 3)
PagesC = pages_of("PagesC", 2, 3)
del Pages


class Choice(LanguageTestCase):

    def test_a_silent_install_keeps_the_users_language(self):
        """Under a German display, a silent install stores German; a silent
        upgrade under an English one keeps it; the uninstaller's pages are
        German."""
        german = language("de-DE")
        self.install(extra_env=GERMAN_USER)
        self.assertInstalled(self.all.folder, language=german.id)
        self.install()
        self.assertInstalled(self.all.folder, language=german.id)
        uninstall = self.start(os.path.join(self.all.folder, "Uninstall.exe"))
        self.windows.wait_for(german.text("confirm_title"))
        self.display.keys("Return")
        self.windows.wait_for(german.text("uninstalled_title"))
        self.display.keys("Return")
        self.assertEqual(uninstall.status(), 0)

    def test_a_list_when_no_shipped_language_is_the_users(self):
        """A Thai display: the list of the languages, English chosen; silent,
        English without asking."""
        setup = self.start(self.installer, extra_env=THAI_USER)
        window = self.windows.wait_for("Please select a language.")
        [listed] = [c for c in window["controls"]
                    if c["class"] == "ComboBox"]
        self.assertEqual(listed["text"], "English")
        self.display.keys("Return")
        self.windows.wait_for(language("en-US").text("scope_title"))
        setup.kill()
        self.install(extra_env=THAI_USER)
        self.assertInstalled(self.all.folder)
        self.uninstall()


if __name__ == "__main__":
    unittest.main()
