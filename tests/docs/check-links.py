#!/usr/bin/env python3
"""Every relative link and image of the project's Markdown pages names a file
that exists, and a #fragment names a heading of the page it points to.

check-links.py ROOT: the pages are README.md, CONTRIBUTING.md, CHANGELOG.md,
docs/*.md and each folder's README.md under ROOT, found when the test runs,
so that a new page is checked without a change here."""

import glob
import os
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")


def prose_lines(path):
    """The lines outside code blocks and inline code."""
    fenced = indented = False
    previous = ""
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            # An indented block starts after a blank line; a list item's
            # continuation lines are indented too, but follow text.
            indented = line.startswith("    ") and (indented or not previous.strip())
            previous = line
            if line.lstrip().startswith("```"):
                fenced = not fenced
                continue
            if fenced or indented:
                continue
            yield number, re.sub(r"`[^`]*`", "``", line)


def anchor(heading):
    """The fragment a heading gets, as GitHub makes it."""
    text = re.sub(r"[^\w\- ]", "", heading.replace("`", "").strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    found, seen = set(), {}
    for _, line in prose_lines(path):
        m = HEADING.match(line)
        if m:
            base = anchor(m.group(2))
            n = seen.get(base, 0)
            seen[base] = n + 1
            found.add(base if n == 0 else f"{base}-{n}")
    return found


def main(files):
    broken = []
    for page in files:
        for number, line in prose_lines(page):
            for target in LINK.findall(line):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target):
                    continue  # http:, https:, mailto:
                name, _, fragment = target.partition("#")
                linked = os.path.normpath(os.path.join(os.path.dirname(page), name)) if name else page
                if not os.path.exists(linked):
                    broken.append(f"{page}:{number}: {target}: no such file")
                elif fragment and linked.endswith(".md") and fragment not in anchors(linked):
                    broken.append(f"{page}:{number}: {target}: no heading '{fragment}'")
    for line in broken:
        print(line)
    print(f"{len(files)} pages, {len(broken)} broken links")
    return 1 if broken else 0


def pages(root):
    found = [os.path.join(root, name) for name in ("README.md", "CONTRIBUTING.md", "CHANGELOG.md")]
    found += sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    found += sorted(glob.glob(os.path.join(root, "*", "README.md")))
    return [os.path.relpath(page) for page in found if os.path.exists(page)]


if __name__ == "__main__":
    sys.exit(main(pages(sys.argv[1])))
