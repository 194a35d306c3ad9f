"""Whole runs of the Linux build on a disk nobody vouches for: what the
drive's folder holds (links, hard links, attributes, special files, planted
journals, locks, a read-only mount) is whatever an attacker put there, and
the run must never reach outside that folder, never open a special file,
never hang, and must say so when it could not do its work.

One scenario per finding of the hostile-disk review, run as root and, where
another user makes a difference, as nobody (setpriv). Where a tool or a
kernel feature is missing, the scenario says why and is skipped."""

import argparse
import os
import pathlib
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import time
import tty

from harness import HKLM, sz
import hostile_rights
from hostile_rights import Skip
from installation import REGISTRY, Installation
import regedit4
import whole_run

ARGS = ["F", "-v6/7"]
# Every run is bounded; no scenario needs more than a few seconds.
whole_run.HANG = 20


def read_until_closed(fd, seconds):
    """What arrives on a pseudo-terminal's master side until its last
    writer is gone (Linux then fails the read with EIO)."""
    out, deadline = b"", time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    return out


def run_on_terminal(program, inst):
    """The run with standard output on a pseudo-terminal in raw mode, so
    that the line discipline passes on exactly what the program wrote."""
    master, terminal = pty.openpty()
    tty.setraw(terminal)
    try:
        proc = subprocess.Popen([program] + ARGS, stdin=subprocess.PIPE, stdout=terminal,
                                stderr=subprocess.PIPE, cwd=inst.root, env=inst.env())
        os.close(terminal)
        terminal = -1
        proc.stdin.write(b"\r\n")
        proc.stdin.close()
        out = read_until_closed(master, whole_run.HANG)
        try:
            proc.wait(timeout=1)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            return out, None
        return out, proc.returncode
    finally:
        os.close(master)
        if terminal >= 0:
            os.close(terminal)


HOSTILE_TEXT = b"C:\\KOVA\x1b[2J\rgone\x9b2J\x07"


def terminal_escapes(program, inst):
    """A stored value that would clear the screen and rewrite its own line
    is shown escaped on a terminal, and goes out as it is into a pipe."""
    registry = {hive: dict(values) for hive, values in REGISTRY.items()}
    registry[HKLM]["InstPath"] = sz(HOSTILE_TEXT)
    inst.store.write_bytes(regedit4.write_store(registry))
    shown = b"  InstPath:   C:\\KOVA^[[2J^Mgone\\x9b2J^G\r\n"
    problems = []
    out, code = run_on_terminal(program, inst)
    if code != 0:
        problems.append(f"on a terminal: exit {code}: {out[-300:]!r}")
    if shown not in out:
        problems.append(f"on a terminal, the value is shown as {out[:400]!r}")
    for control in (b"\x1b", b"\x07", b"\x9b"):
        if control in out:
            problems.append(f"on a terminal, {control!r} went out as it is")
    if b"Current values: \r\n" not in out or not out.endswith(b"Any key to quit..."):
        problems.append(f"on a terminal, the run's own line ends changed: {out[-200:]!r}")

    inst.store.write_bytes(regedit4.write_store(registry))
    piped = whole_run.run(program, inst, ARGS)
    problems += ["into a pipe: " + p for p in piped.outcome("ok")]
    if b"  InstPath:   " + HOSTILE_TEXT + b"\r\n" not in piped.out:
        problems.append(f"into a pipe, the value is not as stored: {piped.out[:400]!r}")
    return problems


SCENARIOS = [terminal_escapes]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--only", help="run the scenarios whose name holds this text")
    options = parser.parse_args()
    program = str(pathlib.Path(options.program).resolve())
    chosen = [s for s in SCENARIOS if not options.only or options.only in s.__name__]
    if not chosen:
        print(f"hostile disk: no scenario's name holds {options.only!r}")
        return 1
    failed = skipped = 0
    for scenario in chosen:
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-disk-"))
        started = time.monotonic()
        try:
            problems = scenario(program, Installation(scratch / "inst"))
        except Skip as reason:
            skipped += 1
            print(f"skip {scenario.__name__}: {reason}")
            continue
        except subprocess.TimeoutExpired:
            problems = [f"still running after {whole_run.HANG} s"]
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        took = time.monotonic() - started
        failed += bool(problems)
        print(f"{'FAIL' if problems else 'ok  '} {scenario.__name__} ({took:.1f} s)")
        for problem in problems:
            print("    " + problem)
    print(f"hostile disk: {len(chosen)} scenarios, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
