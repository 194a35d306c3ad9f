#!/usr/bin/env python3
"""Checks that the program's include lines only point down the layers:
base/ at the bottom; platform/ and scramble/ on it; settings/ and company/
on those; app/ on top. A file may include from its own layer's folder and
the folders below it, never from a folder beside or above it."""

import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
ALLOWED = {
    "base": {"base"},
    "platform": {"base", "platform"},
    "scramble": {"base", "scramble"},
    "settings": {"base", "platform", "scramble", "settings"},
    "company": {"base", "platform", "company"},
    "app": {"base", "platform", "scramble", "settings", "company", "app"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/', re.M)


def main():
    problems = []
    for folder, allowed in ALLOWED.items():
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix not in (".h", ".cc"):
                continue
            for used in INCLUDE.findall(path.read_text(encoding="latin-1")):
                if used in ALLOWED and used not in allowed:
                    problems.append(f"{path.relative_to(ROOT)} includes from {used}/")
    for problem in problems:
        print("upward or sideways: " + problem)
    print(f"layering: {len(problems)} include lines out of place")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
