"""Starts many full runs at once on one registry store and one settings file
(half of them on each hive, each through its own drive letter of the same
share, all writing the same section) and checks after every round that both
files parse, that no run's write was lost to another's, and that nothing
else in them changed. With --make-hive, every other round keeps
HKEY_LOCAL_MACHINE in one offline SOFTWARE hive instead of the store."""

import argparse
import pathlib
import shutil
import subprocess
import sys
import tempfile

import regedit4
from harness import HKCU, HKLM, scrambled, stamped, sz
from installation import (COMPANY, REGISTRY, SETTINGS, Installation, hive_values,
                          make_software_hive, read_registry, read_settings, records)

LETTERS = "defghijk"


def start(program, inst, index, letter):
    hive = HKLM if index % 2 == 0 else HKCU
    version = "-v6/7" if hive == HKLM else "-v5"
    args = [letter.upper(), version, f"-p{letter}", "-w2.10", f"-dclinic{index}"]
    extra = {"VENDREL_HKLM_HIVE": str(inst.hive)} if inst.hive else {}
    proc = subprocess.Popen([program] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=inst.env(**extra), cwd=inst.root)
    return hive, letter, index, proc


def written(letter):
    """The four values a run on drive letter writes."""
    up = letter.upper()
    return {"DRIVE": sz(f"{up}:"), "INSTPATH": sz(f"{up}:\\KOVA32"), "LOCALDRIVE": sz(f"{up}:"),
            "PRACTICERELIEF": sz(up)}


def check_round(inst, runs):
    problems = []
    for hive, letter, index, proc in runs:
        out, err = proc.communicate(b"\r\n", timeout=120)
        if proc.returncode != 0 or not out.endswith(b"Any key to quit..."):
            problems.append(f"run {index} ({letter}:) exit {proc.returncode}: {out[-300:]!r} "
                            f"{err!r}")
    registry = read_registry(inst.store.read_bytes())
    original = read_registry(regedit4.write_store(REGISTRY))
    if inst.hive:
        try:
            registry[HKLM] = hive_values(inst.hive)
        except (ValueError, KeyError, IndexError, TypeError) as error:
            return problems + [f"the hive does not read back: {error}"]
    for hive in (HKLM, HKCU):
        letters = [letter for h, letter, _, _ in runs if h == hive]
        values = registry.get(hive, {})
        for name in ("DRIVE", "INSTPATH", "LOCALDRIVE", "PRACTICERELIEF"):
            if values.get(name) not in [written(letter)[name] for letter in letters]:
                problems.append(f"{hive} {name} is {values.get(name)!r}: a run's write was lost")
        for name, value in original[hive].items():
            if name not in written("x") and values.get(name) != value:
                problems.append(f"{hive} {name} changed to {values.get(name)!r}")
    others, entries = read_settings(inst.settings.read_bytes())
    if others != read_settings(SETTINGS)[0]:
        problems.append("settings file lines outside the run's entries changed")
    names = [scrambled(b"clinic%d" % index) for _, _, index, _ in runs]
    if entries[b"database"] not in names:
        problems.append(f"database is {entries[b'database']!r}")
    if any(value is not None for key, value in entries.items() if key != b"database"):
        problems.append(f"entries left: {entries}")
    expected = [records(COMPANY)[0]] + [stamped(r, b"2.10") for r in records(COMPANY)[1:-1]]
    if records(inst.company.read_bytes())[:-1] != expected:
        problems.append("company records are not all stamped once")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--make-hive", help="make_hive, to run every other round on a hive")
    options = parser.parse_args()
    program = str(pathlib.Path(options.program).resolve())
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-concurrent-"))
    failures = []
    try:
        for round_number in range(options.rounds):
            inst = Installation(scratch / f"round{round_number}", letters=LETTERS)
            inst.hive = None
            if options.make_hive and round_number % 2:
                inst.hive = inst.root / "SOFTWARE"
                make_software_hive(str(pathlib.Path(options.make_hive).resolve()), inst.hive,
                                   REGISTRY[HKLM])
            runs = [start(program, inst, index, letter) for index, letter in enumerate(LETTERS)]
            failures += [f"round {round_number}: {p}" for p in check_round(inst, runs)]
            shutil.rmtree(inst.root)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for failure in failures:
        print("FAIL " + failure)
    print(f"concurrent runs: {options.rounds} rounds of {len(LETTERS)} runs, "
          f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
