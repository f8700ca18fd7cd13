#!/usr/bin/env python3
"""Checks the relative links of README.md and of every docs/*.md.

Every markdown link and picture, inline ([text](target), ![alt](target)) or
by reference ([name]: target), whose target is not a web or mail address
must name a file or folder that exists, relative to the document, and an
anchor (#name, alone or after a .md file) must be the slug of a heading of
the document it points into, as GitHub makes them. Code spans and code
blocks are not read. Each broken link is printed as file:line: target;
the exit status is 1 if there is any, else 0.

Usage: check-links.py [source folder]   (default: this script's parent's)
"""
import os
import re
import sys
import urllib.parse

INLINE = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>]*>|[^)\s]*)"
                    r"(?:\s+(?:\"[^\"]*\"|'[^']*'|\([^)]*\)))?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:[ \t]*(<[^>]*>|\S+)", re.M)
HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^ {0,3}(```|~~~)")
CODE_SPAN = re.compile(r"(`+)(.+?)\1", re.S)
HTML_ANCHOR = re.compile(r"<a\s[^>]*(?:name|id)\s*=\s*\"([^\"]+)\"", re.I)
LIST_ITEM = re.compile(r"^ {0,3}([-*+]|\d{1,9}[.)])( |$)")
EXTERNAL = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")  # http:, https:, mailto:


def prose_blocks(text):
    """The document's runs of prose lines, as (first line's number, text),
    with code blocks left out and code spans blanked, so that a link whose
    text runs over a line end is still found."""
    fenced = None
    previous_blank = True
    in_indented_code = False
    in_list = False
    block, first = [], 0
    for number, line in enumerate(text.split("\n"), 1):
        fence = FENCE.match(line)
        blank = not line.strip()
        indented = line.startswith("    ") or line.startswith("\t")
        if fenced:
            if fence and fence.group(1) == fenced:
                fenced = None
            code = True
        elif fence:
            fenced = fence.group(1)
            code = True
        else:
            # An indented code block starts after a blank line, outside a
            # list (there an indented line goes on the item), and goes on
            # while its lines stay indented or blank.
            if LIST_ITEM.match(line):
                in_list = True
            elif not blank and not indented and not line.startswith(" "):
                in_list = False
            if indented and (in_indented_code
                             or previous_blank and not in_list):
                in_indented_code = True
            elif not blank:
                in_indented_code = False
            code = in_indented_code
        previous_blank = blank
        if code or blank:
            if block:
                yield first, blank_code_spans("\n".join(block))
            block = []
        else:
            if not block:
                first = number
            block.append(line)
    if block:
        yield first, blank_code_spans("\n".join(block))


def blank_code_spans(text):
    return CODE_SPAN.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def slug(heading):
    """GitHub's anchor for a heading's text."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # links: text
    text = re.sub(r"<[^>]+>", "", text)  # inline HTML
    text = text.strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in "-_ ")
    return text.replace(" ", "-")


def anchors(path, cache={}):
    """The anchors a document has: its headings' slugs (a repeated one gets
    -1, -2, ...) and the names of its HTML anchors."""
    if path not in cache:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        found = set()
        seen = {}
        fenced = None
        for line in text.split("\n"):
            fence = FENCE.match(line)
            if fenced:
                if fence and fence.group(1) == fenced:
                    fenced = None
                continue
            if fence:
                fenced = fence.group(1)
                continue
            heading = HEADING.match(line)
            if heading:
                base = slug(heading.group(2))
                count = seen.get(base, 0)
                seen[base] = count + 1
                found.add(base if count == 0 else f"{base}-{count}")
            found.update(HTML_ANCHOR.findall(line))
        cache[path] = found
    return cache[path]


def broken_links(document):
    """(line, target) of every broken link in one document."""
    with open(document, encoding="utf-8") as f:
        text = f.read()
    folder = os.path.dirname(document)
    for first, block in prose_blocks(text):
        found = list(INLINE.finditer(block)) + list(REFERENCE.finditer(block))
        for match in sorted(found, key=lambda m: m.start()):
            number = first + block.count("\n", 0, match.start(1))
            target = match.group(1)
            if target.startswith("<") and target.endswith(">"):
                target = target[1:-1]
            if not target or EXTERNAL.match(target):
                continue
            path, _, anchor = target.partition("#")
            path = urllib.parse.unquote(path)
            full = os.path.normpath(os.path.join(folder, path)) if path \
                else document
            if not os.path.exists(full):
                yield number, target
            elif anchor and (os.path.isdir(full) or not full.endswith(".md")
                             or urllib.parse.unquote(anchor)
                             not in anchors(full)):
                yield number, target


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    docs = os.path.join(root, "docs")
    documents = [os.path.join(root, "README.md")] + sorted(
        os.path.join(docs, name) for name in os.listdir(docs)
        if name.endswith(".md"))
    broken = 0
    for document in documents:
        for number, target in broken_links(document):
            print(f"{os.path.relpath(document, root)}:{number}: {target}")
            broken += 1
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
