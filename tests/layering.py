#!/usr/bin/env python3
"""Checks that the program's include lines only point down the layers:
base/ at the bottom; platform/ and scramble/ on it; settings/ and company/
on those; app/ on top. A file may include from its own layer's folder and
the folders below it, never from a folder beside or above it.

Inside the Linux layer, files/ is at the bottom, with registry/ and profile/
on it and neither using the other; registry/hive/ lies beneath registry/,
on files/ alone. The rooms may use only the errno map and the
configuration path beside them, and the bindings in platform/posix/ itself
sit on all three."""

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

POSIX = ROOT / "platform" / "posix"
ROOMS = {"files": {"files"}, "registry": {"registry", "files"}, "profile": {"profile", "files"}}
SHARED_BY_ROOMS = {"win_error_map.h", "config_path.h"}
POSIX_INCLUDE = re.compile(r'^\s*#\s*include\s+"platform/posix/([^"]+)"', re.M)


def posix_problems(path, text):
    """Include lines of a file in platform/posix/ that break the rooms' order."""
    parts = path.relative_to(POSIX).parts
    room = parts[0] if len(parts) > 1 else None
    problems = []
    for used in POSIX_INCLUDE.findall(text):
        used_parts = used.split("/")
        used_room = used_parts[0] if len(used_parts) > 1 else None
        if room is None:
            continue  # the bindings may use every room
        if used_room is None:
            if used not in SHARED_BY_ROOMS:
                problems.append(f"{path.relative_to(ROOT)} includes posix/{used} from a room")
        elif used_room not in ROOMS[room]:
            problems.append(f"{path.relative_to(ROOT)} includes from posix/{used_room}/")
        elif parts[:2] == ("registry", "hive") and used_room == "registry" and \
                used_parts[1] != "hive":
            problems.append(f"{path.relative_to(ROOT)} includes posix/{used} from beneath it")
    return problems


def main():
    problems = []
    for folder, allowed in ALLOWED.items():
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix not in (".h", ".cc"):
                continue
            text = path.read_text(encoding="latin-1")
            for used in INCLUDE.findall(text):
                if used in ALLOWED and used not in allowed:
                    problems.append(f"{path.relative_to(ROOT)} includes from {used}/")
            if POSIX in path.parents:
                problems += posix_problems(path, text)
    for problem in problems:
        print("upward or sideways: " + problem)
    print(f"layering: {len(problems)} include lines out of place")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
