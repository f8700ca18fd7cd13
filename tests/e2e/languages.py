"""The installer's languages as the tests see them: each one's Windows
language id (release/installer/po/languages.txt), direction (NSIS's language
file), our texts in it (the build's translations.json, made from the
catalogues) and the titles of NSIS's own pages in it (the Modern UI's
language file)."""
import json
import os
import re

from installer import BUILD_DIR, SOURCE_DIR

NSIS_LANGUAGES = "/usr/share/nsis/Contrib/Language files"
PLACEHOLDER = re.compile(r"%(\d)\$s")


def _nsis_text(text):
    return (text.replace('$\\"', '"').replace("$\\r", "\r")
            .replace("$\\n", "\n").replace("$(^NameDA)", "Tolvarin")
            .replace("$(^Name)", "Tolvarin").replace("$$", "$"))


class Language:
    """One shipped language: its catalogue's name, NSIS's name, its BCP 47
    tag, Windows language id, whether it runs right to left, our texts and
    NSIS's Modern UI texts."""

    def __init__(self, catalogue, nsis_name, tag, language_id, texts):
        self.catalogue, self.nsis_name, self.tag = catalogue, nsis_name, tag
        self.id, self.texts = int(language_id), texts
        base = os.path.join(NSIS_LANGUAGES, nsis_name)
        with open(base + ".nlf", encoding="utf-8-sig") as f:
            # NLF v6: the header, then the id, font, size, code page, RTL.
            fields = [line.strip() for line in f
                      if line.strip() and not line.startswith("#")]
        self.rtl = fields[5] == "RTL"
        self.mui = {}
        with open(base + ".nsh", encoding="utf-8-sig") as f:
            for found in re.finditer(r'\$\{LangFileString\} (\w+) "(.*)"',
                                     f.read()):
                self.mui[found[1]] = _nsis_text(found[2])

    def __repr__(self):
        return self.tag

    def text(self, name, *arguments):
        """Our text, its placeholders filled in."""
        return PLACEHOLDER.sub(lambda m: arguments[int(m[1]) - 1],
                               self.texts[name])

    def fragment(self, name):
        """The longest piece of a text between its placeholders, short
        enough to stay on the first line of a message the installer wraps."""
        return max(PLACEHOLDER.split(self.texts[name])[::2], key=len)[:20]


def shipped():
    """Every shipped language, English first."""
    with open(os.path.join(BUILD_DIR, "release", "translations.json"),
              encoding="utf-8") as f:
        texts = {tag: found["texts"] for tag, found in json.load(f).items()}
    found = []
    with open(os.path.join(SOURCE_DIR, "release", "installer", "po",
                           "languages.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].split()
            if line:
                found.append(Language(*line, texts[line[2]]))
    return found
