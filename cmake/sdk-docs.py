#!/usr/bin/env python3
"""Copies the manual in docs/ into the release archive's docs/: every file as it is, except
that the .md files lose the blocks written for the package's own developers, from a line
"<!-- source tree only -->" to a line "<!-- end of source tree only -->" (both included),
so that what the archive ships refers to nothing outside it.

  sdk-docs.py SOURCE_DOCS DESTINATION_DOCS
"""
import os
import re
import shutil
import sys

BLOCK = re.compile(r"^<!-- source tree only -->\n.*?^<!-- end of source tree only -->\n", re.M | re.S)


def main(source, destination):
    for root, _, names in os.walk(source):
        for name in sorted(names):
            path = os.path.join(root, name)
            target = os.path.join(destination, os.path.relpath(path, source))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if name.endswith(".md"):
                with open(path, encoding="utf-8", newline="") as f:
                    text = BLOCK.sub("", f.read())
                with open(target, "w", encoding="utf-8", newline="") as f:
                    f.write(text)
            else:
                shutil.copyfile(path, target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
