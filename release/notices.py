"""Writes THIRD-PARTY-NOTICES.txt: every library and object file of the
toolchain that the linker put into the shipped images, found in their link
maps and traced to the Debian package that installed it on this machine,
with the package's version and its copyright file, which holds the licence
texts and notices. Also writes the same components as JSON, for the
software bill of materials.

    notices.py NOTICES JSON COMPILER... -- IMAGE=MAP...

Reads the map formats of both linkers. lld's /map names archives by their
base name (libstdc++:member.o) and objects by file name, which the compiler
resolves the way the link did, but lists only what defines a symbol; its
-Map (lldmap) names objects by path, among them those that only add
sections (crtend.o), so an lld link gives both. GNU ld's -Map names
everything by path. An image may come with several maps.
"""
import json
import os
import re
import subprocess
import sys

GNU_INPUT = re.compile(r"(?:^|[\s(])(/[^\s()]+\.(?:a|o))\b")
LLD_INPUT = re.compile(r"\s(lib[^\s:.]+):\S+$|\s([^\s:/\\]+\.o)$")


def linked_files(map_path, compiler):
    """The toolchain's files that a link map shows linked in, resolved."""
    names = set()
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            line = line.rstrip()
            names.update(GNU_INPUT.findall(line))
            found = LLD_INPUT.search(line)
            if found:
                names.add(found.group(1) + ".a" if found.group(1)
                          else found.group(2))
    files = set()
    for name in names:
        if not os.path.isabs(name):
            name = subprocess.run(compiler + ["-print-file-name=" + name],
                                  capture_output=True, text=True,
                                  check=True).stdout.strip()
        if os.path.isabs(name):  # otherwise the project's own object
            files.add(os.path.realpath(name))
    return files


def owner(path):
    """The Debian package that installed a file."""
    result = subprocess.run(["dpkg-query", "-S", path], capture_output=True,
                            text=True, check=False)
    if result.returncode != 0:
        raise SystemExit(f"{path} is linked in, but no package installed it: "
                         "its licence is unknown")
    return result.stdout.split(":")[0]


def package_field(package, field):
    return subprocess.run(["dpkg-query", "-W", "-f", "${" + field + "}",
                           package], capture_output=True, text=True,
                          check=True).stdout.strip()


def components(image_maps, compiler):
    found = {}
    for image, map_path in sorted(image_maps):
        for path in linked_files(map_path, compiler):
            package = owner(path)
            entry = found.setdefault(package, {
                "package": package,
                "version": package_field(package, "Version"),
                "source": package_field(package, "source:Package"),
                "homepage": package_field(package, "Homepage"),
                "copyright": os.path.realpath(
                    f"/usr/share/doc/{package}/copyright"),
                "files": set(), "images": set()})
            entry["files"].add(path)
            entry["images"].add(image)
    return [dict(entry, files=sorted(entry["files"]),
                 images=sorted(entry["images"]))
            for _, entry in sorted(found.items())]


def notices(found):
    rule = "=" * 78
    text = ["Third-party notices",
            "",
            "The programs of this installation contain the following "
            "components, linked",
            "into them statically. Each is listed with the Debian package "
            "it was built",
            "from, its version, and that package's copyright file, which "
            "gives its",
            "licences and the notices they ask to reproduce.",
            ""]
    printed = {}
    for entry in found:
        text += [rule, f"{entry['package']} {entry['version']}",
                 f"  Linked into: {', '.join(entry['images'])}",
                 "  Files: " + ", ".join(os.path.basename(f)
                                         for f in entry["files"])]
        if entry["homepage"]:
            text.append(f"  Home page: {entry['homepage']}")
        text += [rule, ""]
        if entry["copyright"] in printed:
            text += [f"Copyright and licences: the same as for "
                     f"{printed[entry['copyright']]} above.", ""]
            continue
        printed[entry["copyright"]] = entry["package"]
        with open(entry["copyright"], encoding="utf-8") as copyright_file:
            text += copyright_file.read().rstrip("\n").split("\n") + [""]
    return "\r\n".join(text) + "\r\n"


def main(notices_path, json_path, compiler, pairs):
    found = components([pair.split("=", 1) for pair in pairs], compiler)
    with open(notices_path, "w", encoding="utf-8", newline="") as out:
        out.write(notices(found))
    with open(json_path, "w", encoding="utf-8") as out:
        json.dump(found, out, indent=2)
        out.write("\n")


if __name__ == "__main__":
    split = sys.argv.index("--")
    main(sys.argv[1], sys.argv[2], sys.argv[3:split], sys.argv[split + 1:])
