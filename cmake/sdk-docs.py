#!/usr/bin/env python3
"""Copies the manual into the SDK: docs/ as it is, except that the .md files lose what is
written for the package's own developers, since it names files of the source tree: every
section headed "For the package's developers" (up to the next heading of its level or
above), and every block from a line "<!-- source tree only -->" to a line
"<!-- end of source tree only -->".

  sdk-docs.py SOURCE_DOCS DESTINATION
"""
import os
import re
import shutil
import sys

BLOCK = re.compile(r"^<!-- source tree only -->\n.*?^<!-- end of source tree only -->\n", re.M | re.S)
source, destination = sys.argv[1], sys.argv[2]
for root, _, files in os.walk(source):
    target = os.path.join(destination, os.path.relpath(root, source))
    os.makedirs(target, exist_ok=True)
    for name in files:
        if not name.endswith(".md"):
            shutil.copyfile(os.path.join(root, name), os.path.join(target, name))
            continue
        with open(os.path.join(root, name), encoding="utf-8") as f:
            lines = BLOCK.sub("", f.read()).splitlines(keepends=True)
        kept, dropping = [], 0  # dropping: the level of the section left out, 0 when none
        for line in lines:
            heading = re.match(r"(#+) ", line)
            if heading and dropping and len(heading.group(1)) <= dropping:
                dropping = 0
            if heading and line[heading.end():].startswith("For the package's developers"):
                dropping = len(heading.group(1))
            if not dropping:
                kept.append(line)
        text = "".join(kept).rstrip("\n") + "\n"
        with open(os.path.join(target, name), "w", encoding="utf-8", newline="") as f:
            f.write(text)
