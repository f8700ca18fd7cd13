"""The installer's translations, kept as gettext catalogues.

    catalogues.py pot              writes po/installer.pot from strings.json
    catalogues.py check            checks every catalogue of po/languages.txt
    catalogues.py nsh OUT          checks, then writes the installer's and the
                                   uninstaller's language strings for NSIS
    catalogues.py json OUT         checks, then writes {tag: {"id": language
                                   id, "texts": {id: text}}} for the package
                                   managers' manifests

strings.json holds the English texts, each with its id (the msgctxt) and the
NSIS variables its %1$s, %2$s stand for. po/languages.txt names each shipped
language: its catalogue, NSIS's name for it, its BCP 47 tag and Windows
language id; adding a language is one line there and one
po/<language>.po. A catalogue is checked by msgfmt --check and must
translate every text of the template, with the same placeholders; anything
else stops the build with the reason.
"""
import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
PO = os.path.join(HERE, "po")
TEMPLATE = os.path.join(PO, "installer.pot")
PLACEHOLDER = re.compile(r"%(\d)\$s")


def strings():
    with open(os.path.join(HERE, "strings.json"), encoding="utf-8") as f:
        return json.load(f)["strings"]


def languages():
    """[(catalogue, NSIS name, BCP 47 tag, language id)], English first,
    which has no catalogue."""
    found = []
    with open(os.path.join(PO, "languages.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                found.append(tuple(line.split()))
    return found


def quoted(text):
    """A PO string literal, long texts split at blanks."""
    escaped = (text.replace("\\", "\\\\").replace('"', '\\"')
               .replace("\n", "\\n"))
    if len(escaped) < 70:
        return f'"{escaped}"'
    lines, line = [], ""
    for word in re.findall(r"\S+\s*|\s+", escaped):
        if len(line) + len(word) > 70 and line:
            lines.append(line)
            line = ""
        line += word
    return '""\n' + "\n".join(f'"{part}"' for part in lines + [line])


def template():
    out = ['# The texts of the installer and the uninstaller of Tolvarin.',
           '# Made from strings.json by catalogues.py: do not edit.',
           'msgid ""', 'msgstr ""',
           '"Project-Id-Version: Tolvarin installer\\n"',
           '"MIME-Version: 1.0\\n"',
           '"Content-Type: text/plain; charset=UTF-8\\n"',
           '"Content-Transfer-Encoding: 8bit\\n"', '']
    for item in strings():
        if "note" in item:
            out.append(f"#. {item['note']}")
        if PLACEHOLDER.search(item["text"]):
            out.append("#, c-format")
        out += [f"msgctxt {quoted(item['id'])}", f"msgid {quoted(item['text'])}",
                'msgstr ""', ""]
    return "\n".join(out)


def unquote(literal):
    body = literal[1:-1]
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m[1], m[1]),
                  body)


def parse(path):
    """{msgctxt: (msgstr, fuzzy)} of a catalogue."""
    entries, current, field, fuzzy = {}, {}, None, False

    def flush():
        if "msgctxt" in current:
            entries[current["msgctxt"]] = (current.get("msgstr", ""), fuzzy)
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line:
                flush()
                current, field, fuzzy = {}, None, False
            elif line.startswith("#,"):
                fuzzy = fuzzy or "fuzzy" in line
            elif line.startswith("#"):
                continue
            elif line.startswith('"'):
                current[field] += unquote(line)
            else:
                field, literal = line.split(" ", 1)
                current[field] = unquote(literal)
    flush()
    return entries


def check():
    """{catalogue: {id: text}} of every shipped language; exits with the
    reasons when a catalogue is not whole."""
    problems = []
    with open(TEMPLATE, encoding="utf-8") as f:
        if f.read() != template() + "\n":
            problems.append("po/installer.pot is not what strings.json makes:"
                            " run release/installer/catalogues.py pot")
    english = {item["id"]: item["text"] for item in strings()}
    texts = {"en": english}
    for name, _, _, _ in languages()[1:]:
        path = os.path.join(PO, name + ".po")
        result = subprocess.run(["msgfmt", "--check", "-o", os.devnull, path],
                                capture_output=True, text=True, check=False)
        if result.returncode != 0:
            problems.append(f"{name}.po: {result.stderr.strip()}")
            continue
        entries = parse(path)
        texts[name] = {}
        for key, source in english.items():
            text, fuzzy = entries.get(key, ("", False))
            if not text or fuzzy:
                problems.append(f"{name}.po: {key} is not translated")
            elif sorted(PLACEHOLDER.findall(text)) != sorted(
                    PLACEHOLDER.findall(source)):
                problems.append(f"{name}.po: {key} has other placeholders "
                                f"than the English text: {text!r}")
            texts[name][key] = text
    if problems:
        sys.exit("\n".join(problems))
    return texts


def nsis(text, args):
    """An NSIS string of a text, its placeholders the NSIS variables."""
    parts = PLACEHOLDER.split(text)  # text, number, text, number, ...
    out = ""
    for index, part in enumerate(parts):
        if index % 2:
            out += args[int(part) - 1]
        else:
            out += (part.replace("$", "$$").replace('"', '$\\"')
                    .replace("\n", "$\\r$\\n").replace("\t", "$\\t"))
    return out


def write_nsh(out):
    texts = check()
    lines = ["; The installer's and the uninstaller's languages and texts,",
             "; made by release/installer/catalogues.py: do not edit."]
    ids = []
    for _, nsis_name, _, language_id in languages():
        lines += [f'!insertmacro MUI_LANGUAGE "{nsis_name}"',
                  f'!if ${{LANG_{nsis_name.upper()}}} != {language_id}',
                  f'  !error "po/languages.txt: {nsis_name} is '
                  f'${{LANG_{nsis_name.upper()}}}, not {language_id}"',
                  '!endif']
        ids.append(language_id)
    lines.append(f'!define LANGUAGE_IDS "{" ".join(ids)}"')
    for item in strings():
        if item["id"].startswith("winget_"):
            continue
        for name, nsis_name, _, _ in languages():
            text = nsis(texts[name][item["id"]], item.get("args", []))
            lines.append(f'LangString {item["id"]} '
                         f'${{LANG_{nsis_name.upper()}}} "{text}"')
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def write_json(out):
    texts = check()
    with open(out, "w", encoding="utf-8") as f:
        json.dump({tag: {"id": int(language_id), "texts": texts[name]}
                   for name, _, tag, language_id in languages()}, f,
                  ensure_ascii=False, indent=1, sort_keys=True)
        f.write("\n")


def main(arguments):
    if arguments == ["pot"]:
        with open(TEMPLATE, "w", encoding="utf-8") as f:
            f.write(template() + "\n")
    elif arguments == ["check"]:
        check()
    elif len(arguments) == 2 and arguments[0] == "nsh":
        write_nsh(arguments[1])
    elif len(arguments) == 2 and arguments[0] == "json":
        write_json(arguments[1])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
