#!/usr/bin/env python3
"""Every relative link and image of README.md, CONTRIBUTING.md and docs/*.md leads to a file
of the tree, and every #anchor to a heading of that file (GitHub's anchor rule: lower case,
punctuation dropped, spaces as hyphens).

Usage: check_links.py SOURCE_DIR. Prints one line per broken link and exits 1, or exits 0.
"""
import pathlib
import re
import sys

LINK = re.compile(r'!?\[[^\]]*\]\(([^)\s]+)\)')
HEADING = re.compile(r'^#{1,6}\s+(.*?)\s*$')


def anchors(path):
    found = set()
    in_code = False
    for line in path.read_text().splitlines():
        if line.startswith("```"):
            in_code = not in_code
            continue
        heading = None if in_code else HEADING.match(line)
        if heading:
            text = heading.group(1).strip().lower()
            text = re.sub(r'[^\w\- ]', '', text)
            found.add(text.replace(' ', '-'))
    return found


def broken(root):
    pages = [root / "README.md", root / "CONTRIBUTING.md", *sorted((root / "docs").glob("*.md"))]
    for page in pages:
        if not page.exists():
            continue
        in_code = False
        for number, line in enumerate(page.read_text().splitlines(), 1):
            if line.startswith("```"):
                in_code = not in_code
            if in_code:
                continue
            for target in LINK.findall(line):
                if re.match(r'^[a-z]+:', target):
                    continue  # a web address or mailto: not checked here
                file_part, _, anchor = target.partition("#")
                dest = (page.parent / file_part).resolve() if file_part else page
                where = f"{page.relative_to(root)}:{number}"
                if not dest.exists():
                    yield f"{where}: {target} leads to no file"
                elif anchor and dest.suffix == ".md" and anchor not in anchors(dest):
                    yield f"{where}: {target} names no heading of {dest.name}"


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    found = list(broken(root))
    for line in found:
        print(line)
    print(f"{len(found)} broken links")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
