"""Stops a full run dead after each of its store-changing system calls in
turn, from the first to the last, and checks that no store is torn: the
registry store and the settings file parse and hold, value by value, either
their old or their new content, each company record is either old or
stamped, and a second run then completes as an undisturbed one does.

Needs the crash-test build of the Linux program (VENDREL_CRASH_AFTER)."""

import argparse
import pathlib
import shutil
import subprocess
import sys
import tempfile

from installation import Installation, read_registry, read_settings, records

ARGS = ["F", "-v6/7", "-w2.10", "-dclinic"]
KILLED = -9


def run(program, inst, crash_after=None):
    extra = {} if crash_after is None else {"VENDREL_CRASH_AFTER": str(crash_after)}
    return subprocess.run([program] + ARGS, input=b"\r\n", capture_output=True,
                          env=inst.env(**extra), cwd=inst.root, timeout=60)


def after_reading(proc):
    """The output past the current values, which show where the stop left off."""
    return proc.stdout[proc.stdout.find(b"Values specified"):]


def snapshot(inst):
    return {"store": inst.store.read_bytes(), "settings": inst.settings.read_bytes(),
            "company": inst.company.read_bytes()}


def torn(before, after, crashed):
    """What in the crashed state is neither old nor new."""
    problems = []
    old, new = read_registry(before["store"]), read_registry(after["store"])
    try:
        now = read_registry(crashed["store"])
    except (AssertionError, IndexError, ValueError) as error:
        return [f"registry store does not parse: {error}"]
    for hive in old.keys() | new.keys() | now.keys():
        for name in old.get(hive, {}).keys() | new.get(hive, {}).keys() | now.get(hive, {}).keys():
            value = now.get(hive, {}).get(name)
            if value not in (old.get(hive, {}).get(name), new.get(hive, {}).get(name)):
                problems.append(f"registry {hive} {name} is {value!r}")
    old_others, old_entries = read_settings(before["settings"])
    _, new_entries = read_settings(after["settings"])
    try:
        others, entries = read_settings(crashed["settings"])
    except ValueError as error:
        return problems + [f"settings file does not parse: {error}"]
    if others != old_others:
        problems.append("settings file lines outside the run's entries changed")
    for key, value in entries.items():
        if value not in (old_entries[key], new_entries[key]):
            problems.append(f"settings entry {key!r} is {value!r}")
    if len(crashed["company"]) != len(before["company"]):
        problems.append("company file changed size")
    for index, (was, will, now_record) in enumerate(
            zip(records(before["company"]), records(after["company"]),
                records(crashed["company"]))):
        if now_record not in (was, will):
            problems.append(f"company record {index} is torn")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    program = str(pathlib.Path(parser.parse_args().program).resolve())
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-crash-"))
    failures, points, leftovers = [], 0, 0
    try:
        reference = Installation(scratch / "reference")
        before = snapshot(reference)
        finished = run(program, reference)
        if finished.returncode != 0:
            print(finished.stdout.decode("latin-1"), finished.stderr.decode("latin-1"))
            return 1
        after = snapshot(reference)
        for point in range(1, 10000):
            inst = Installation(scratch / f"point{point}")
            stopped = run(program, inst, crash_after=point)
            if stopped.returncode == 0:
                break
            points += 1
            where = stopped.stderr.decode("latin-1").strip()
            if stopped.returncode != KILLED:
                failures.append(f"{where}: exit {stopped.returncode}, not killed")
                continue
            problems = torn(before, after, snapshot(inst))
            leftovers += len(inst.leftovers())
            again = run(program, inst)
            if again.returncode != 0 or after_reading(again) != after_reading(finished):
                problems.append(f"the second run ended with {again.returncode}: "
                                f"{again.stdout[-200:]!r}")
            elif snapshot(inst) != after:
                problems.append("the second run left other stores than an undisturbed run")
            failures += [f"{where}: {problem}" for problem in problems]
            shutil.rmtree(inst.root)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for failure in failures:
        print("FAIL " + failure)
    print(f"crash points: {points} tried, {len(failures)} failures, "
          f"{leftovers} temporary files left by stopped runs")
    return 1 if failures or points == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
