#!/usr/bin/env python3
"""Differential test of the settings file writer: each INI file of a corpus is
given the database entry step (one write, four deletes) by the Linux build
and by the Windows build under Wine, the real WritePrivateProfileStringA. Both
must leave the same sections, keys, values and comments in the same order;
the Linux build must also keep every line it does not change byte for byte."""

import argparse
import pathlib
import shutil
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from harness import HKLM, Case, sz  # noqa: E402
import run_acceptance  # noqa: E402

REMOVED = {b"langver", b"util_ver", b"fileupdates_ver", b"ccffl"}

# name -> the file before (None: no file; "no folder": not even its folder)
CORPUS = {
    "empty file": b"",
    "missing file": None,
    "missing folder": "no folder",
    "sections and keys in other cases": b"[Postgres_Server]\r\nDataBase=old\r\nLANGVER=1\r\n"
                                        b"Util_Ver=2\r\nhost=h\r\n",
    "duplicate sections and keys": b"[POSTGRES_SERVER]\r\nccffl=1\r\nccffl=2\r\n[A]\r\nx=1\r\n"
                                   b"[POSTGRES_SERVER]\r\nlangver=3\r\ndatabase=d\r\n",
    "comments and blank lines": b"; head\r\n\r\n[POSTGRES_SERVER]\r\n; about the host\r\n"
                                b"host=h\r\n\r\n; tail\r\n[B]\r\n\r\ny=2\r\n",
    "LF only": b"[A]\nx=1\n[POSTGRES_SERVER]\nport=1\nfileupdates_ver=9\n",
    "no final line end": b"[POSTGRES_SERVER]\r\nport=1",
    "keys before any section": b"loose=1\r\n[POSTGRES_SERVER]\r\nport=1\r\n",
    "bytes above 127": b"[A]\r\nname=\xe9\xe0\xff\r\n[POSTGRES_SERVER]\r\nhost=\xfc\r\n",
    "blanks around names": b"[ POSTGRES_SERVER ]\r\n  langver = 1 \r\n port = 2\r\n",
    "line without equals": b"[POSTGRES_SERVER]\r\nflag\r\nccffl\r\n",
}


def structure(text: bytes):
    """Sections, entries and comments in order, blanks around them ignored."""
    out = []
    for line in text.replace(b"\r\n", b"\n").replace(b"\r", b"\n").split(b"\n"):
        line = line.strip(b" \t\x1a")
        if not line:
            continue
        if line.startswith(b";"):
            out.append(("comment", line))
        elif line.startswith(b"[") and b"]" in line:
            out.append(("section", line[1:line.rindex(b"]")].strip().upper()))
        else:
            key, _, value = line.partition(b"=")
            out.append(("entry", key.strip().upper(), value.strip()))
    return out


def untouched_lines_kept(before: bytes, after: bytes) -> bool:
    """Every line of before but the step's own keys stands in after, byte for
    byte and in order; a last line without a line end may have gained one."""
    after_lines = after.splitlines(keepends=True)
    position = 0
    for line in before.splitlines(keepends=True):
        if line.split(b"=")[0].strip().lower() in REMOVED | {b"database"}:
            continue
        while position < len(after_lines) and not (
                after_lines[position] == line or after_lines[position].rstrip(b"\r\n") == line):
            position += 1
        if position == len(after_lines):
            return False
        position += 1
    return True


def case_for(name, before):
    folders, drives = [], {}
    if before is None:
        folders = ["f:kova"]
    elif before == "no folder":
        folders = ["f:other"]
    else:
        drives = {"f": {"kova/kelvarini.dat": before}}
    return Case(name, args=["f", "-v6", "-dclinic"], stdin=b"\r\n", stdout=b"",
                registry={HKLM: {"Drive": sz("C:")}}, folders=folders, drives=drives)


def result(runner, case):
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-ini-"))
    try:
        proc, _, files = runner.run(case, scratch)
        return proc.returncode, files.get("f", {}).get("kova/kelvarini.dat"), proc.stdout
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--native", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--regtool", required=True)
    options = parser.parse_args()
    native = run_acceptance.NativeRunner(options.native)
    wine = run_acceptance.WineRunner(options.wine, options.program, options.regtool)
    passed = failed = 0
    for name, before in CORPUS.items():
        case = case_for(name, before)
        ours, theirs = result(native, case), result(wine, case)
        problems = []
        if ours[0] != theirs[0]:
            problems.append(f"exit codes differ: ours {ours[0]}, Windows {theirs[0]}")
            problems.append(f"Windows output ends {theirs[2][-160:]!r}")
        if (ours[1] is None) != (theirs[1] is None):
            problems.append("one build left a file where the other did not")
        elif ours[1] is not None and structure(ours[1]) != structure(theirs[1]):
            problems.append(f"contents differ:\n    ours    {ours[1]!r}\n    Windows {theirs[1]!r}")
        if isinstance(before, bytes) and ours[1] is not None and \
                not untouched_lines_kept(before, ours[1]):
            problems.append(f"an untouched line changed: {before!r} -> {ours[1]!r}")
        print(f"{'FAIL' if problems else 'ok  '} [differential] {name}")
        for problem in problems:
            print("    " + problem)
        failed += bool(problems)
        passed += not problems
    print(f"ini differential: {passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
