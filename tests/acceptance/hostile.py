"""Whole runs of the Linux build in hostile environments: stores that are
not files, huge inputs, drives that loop, a company file past 2 GiB and one
that shrinks under the run, every byte value in names. Each must end in a
clear report or in correct work, never in a hang or a crash.

Linux only: these are the Linux layer's own surroundings, and a Windows
command line cannot hold a megabyte."""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

from harness import HKLM, RECORD_SIZE, record, scrambled, stamped
import hostile_rights
from installation import COMPANY, SETTINGS, Installation, read_registry, read_settings, records
from whole_run import HANG, run

ARGS = ["F", "-v6/7"]


def unchanged_store(inst, before):
    return [] if inst.store.read_bytes() == before else ["the store changed"]


# Scenarios: each prepares the installation, runs and returns its problems.

def store_is_folder(program, inst):
    result = run(program, inst, ARGS, env=inst.env(VENDREL_REGISTRY=str(inst.kova)))
    return result.outcome("ERegistryException") + message_names(result, inst.kova)


def store_is_fifo(program, inst):
    fifo = inst.root / "fifo.reg"
    os.mkfifo(fifo)
    result = run(program, inst, ARGS, env=inst.env(VENDREL_REGISTRY=str(fifo)))
    return result.outcome("ERegistryException") + message_names(result, fifo)


def store_is_dev_null(program, inst):
    result = run(program, inst, ARGS, env=inst.env(VENDREL_REGISTRY="/dev/null"))
    return result.outcome("ERegistryException") + message_names(result, "/dev/null")


def as_another_user(program, inst):
    """Root reads any file, so a run that must be refused goes as nobody; the
    program is copied in, as the checkout may lie where nobody cannot go."""
    if os.geteuid() != 0:
        return program, None
    program = str(shutil.copy(program, inst.root / "vendrel"))
    for path in [inst.root.parent, inst.root, *inst.root.rglob("*")]:
        if not path.is_symlink() and path != inst.store:
            path.chmod(0o777)
    return program, 65534


def store_is_unreadable(program, inst):
    # As for a registry key the user may not open: the values read as empty
    # and nothing is written, without a word.
    before = inst.store.read_bytes()
    program, user = as_another_user(program, inst)
    inst.store.chmod(0)
    result = run(program, inst, ARGS, user=user)
    inst.store.chmod(0o644)
    problems = result.outcome("ok") + unchanged_store(inst, before)
    if b"Current values: \r\n  Drive:      \r\n" not in result.out:
        problems.append(f"current values shown: {result.out[:400]!r}")
    return problems


def store_behind_a_closed_folder(program, inst):
    closed = inst.root / "closed"
    closed.mkdir()
    store = closed / "registry.reg"
    store.write_bytes(inst.store.read_bytes())
    program, user = as_another_user(program, inst)
    closed.chmod(0)
    result = run(program, inst, ARGS, env=inst.env(VENDREL_REGISTRY=str(store)), user=user)
    closed.chmod(0o755)
    return result.outcome("ERegistryException") + message_names(result, store)


def message_names(result, path):
    if result.message is not None and str(path).encode() not in result.message:
        return [f"the report does not name {path}: {result.message!r}"]
    return []


def store_of_a_million_values(program, inst):
    lines = [b"REGEDIT4", b""]
    for key in range(1000):
        lines.append(b"[HKEY_CURRENT_USER\\Software\\Bulk\\Key%d]" % key)
        lines += [b'"Value%d"="%d"' % (i, key * 1000 + i) for i in range(1000)]
        lines.append(b"")
    bulk = b"\r\n".join(lines) + b"\r\n"
    inst.store.write_bytes(bulk + inst.store.read_bytes()[len(b"REGEDIT4\r\n"):])
    result = run(program, inst, ARGS + ["-pY"])
    problems = result.outcome("ok")
    after = inst.store.read_bytes()
    if not after.startswith(bulk):
        problems.append("the other million values changed")
    values = read_registry(after)[HKLM]
    if values.get("DRIVE") != (1, b"F:\0") or values.get("PRACTICERELIEF") != (1, b"Y\0"):
        problems.append(f"values not written: {values}")
    return problems


def drive_is_a_link_loop(program, inst):
    loop = inst.drives / "g:"
    os.symlink("g:", loop)
    result = run(program, inst, ["G", "-v6/7", "-w2.10"])
    problems = result.outcome("EAbort")
    if b"Error: could not open G:\\KOVA\\dromfile.dat  error " not in result.out:
        problems.append(f"no open error: {result.out[-300:]!r}")
    settings = run(program, inst, ["G", "-v6/7", "-dclinic"])
    return problems + settings.outcome("EIniFileException")


def a_megabyte_of_arguments(program, inst):
    chunk = 100_000
    args = ["F" * chunk, "-v6/7", "-p" + "Y" * chunk, "-w2.10" + "9" * chunk,
            "-d" + "n" * chunk] + ["-x" + "z" * chunk] * 6
    result = run(program, inst, args)
    # Values are cut to 255 characters: the Drive loses its colon, and the
    # working dir, cut to 10, names no company file.
    problems = result.outcome("EAbort")
    if b"Error: could not open FFFFFFFFFFdromfile.dat  error 2." not in result.out:
        problems.append(f"no open error: {result.out[-300:]!r}")
    values = read_registry(inst.store.read_bytes())[HKLM]
    if values.get("DRIVE") != (1, b"F" * 255 + b"\0"):
        problems.append(f"Drive is {values.get('DRIVE')!r}")
    if values.get("PRACTICERELIEF") != (1, b"Y" * 255 + b"\0"):
        problems.append("PracticeRelief is not cut to 255 characters")
    if inst.company.read_bytes() != COMPANY or inst.settings.read_bytes() != SETTINGS:
        problems.append("the company or settings file changed")
    return problems


def a_typed_line_of_10_mb(program, inst):
    line = bytes(ord("a") + i % 26 for i in range(10 * 1024 * 1024))
    result = run(program, inst, ["-v6/7"], stdin=line + b"\r\n\r\n")
    problems = result.outcome("ok")
    drive = read_registry(inst.store.read_bytes())[HKLM].get("DRIVE")
    if drive != (1, line[:255].upper() + b"\0"):
        problems.append(f"Drive is {drive!r}")
    return problems


def company_file_past_2_gib(program, inst):
    count = (2 << 30) // RECORD_SIZE + 3
    head = b"".join(record(i, b"R%d" % i) for i in range(3))
    last = [record(i, b"R%d" % i) for i in range(count - 3, count)]
    with open(inst.company, "wb") as out:
        out.write(head)
        out.truncate((count - 3) * RECORD_SIZE)
        out.seek((count - 3) * RECORD_SIZE)
        out.write(b"".join(last))
    result = run(program, inst, ARGS + ["-w2.10"], stdin=b"\r\n")
    problems = result.outcome("ok")
    if not result.out.endswith(b"Updated TARVEL%d: R%d\r\nAny key to quit..." % (count - 1, count - 1)):
        problems.append(f"the last record was not stamped: {result.out[-200:]!r}")
    with open(inst.company, "rb") as data:
        data.seek((count - 3) * RECORD_SIZE)
        tail = data.read()
        data.seek(0)
        first = data.read(3 * RECORD_SIZE)
    if tail != b"".join(stamped(r, b"2.10") for r in last):
        problems.append("the records past 2 GiB are not stamped in place")
    if first != head[:RECORD_SIZE] + b"".join(stamped(r, b"2.10") for r in records(head)[1:]):
        problems.append("the first records are wrong")
    inst.company.unlink()
    return problems


def company_file_shrinking(program, inst):
    count = 50_000
    original = b"".join(record(i % 50, b"R%d" % (i % 50)) for i in range(count))
    inst.company.write_bytes(original)
    keep = 1000 * RECORD_SIZE + 100

    def shrink():
        time.sleep(0.01)
        os.truncate(inst.company, keep)

    result = run(program, inst, ARGS + ["-w2.10"], during=shrink)
    print(f"    shrinking: {result.kind or 'completed'} after {result.out.count(b'Updated')} records")
    problems = result.outcome()
    if result.kind not in (None, "EInOutError"):
        problems.append(f"report {result.kind}")
    # The stamp takes no lock: a record read before the cut and written after
    # it comes back past the new end, with a gap of zeros before it. Every
    # record is still old, stamped or that gap; none is torn.
    now = inst.company.read_bytes()
    kept = keep // RECORD_SIZE
    for index, data in enumerate(records(now)[1:], start=1):
        old = original[index * RECORD_SIZE:(index + 1) * RECORD_SIZE]
        partial = keep - kept * RECORD_SIZE
        if index == kept and (index + 1) * RECORD_SIZE != len(now):
            good = data == old[:partial] + bytes(len(data) - partial)
        elif index < kept or (index + 1) * RECORD_SIZE == len(now):
            good = data in (old, stamped(old, b"2.10"))
        else:
            good = data == bytes(RECORD_SIZE)
        if not good:
            problems.append(f"record {index} of {len(now) / RECORD_SIZE:.1f} is torn")
            break
    return problems


def every_byte_value(program, inst):
    text = bytes(range(1, 256))
    result = run(program, inst, [os.fsdecode(text), "-v6/7"])
    problems = result.outcome("ok")
    values = read_registry(inst.store.read_bytes())[HKLM]
    want = (text + b":")[:255].upper()
    if values.get("DRIVE") != (1, want + b"\0"):
        problems.append(f"Drive is {values.get('DRIVE')!r}")
    names = [bytes(c for c in range(1, 128) if c not in (10, 13)), bytes(range(128, 256))]
    for name in names:
        result = run(program, inst, ["F", "-v6/7", "-d" + os.fsdecode(name)])
        problems += result.outcome("ok")
        _, entries = read_settings(inst.settings.read_bytes())
        if entries[b"database"] != scrambled(name):
            problems.append(f"database for {name[:8]!r}... is {entries[b'database']!r}")
    return problems


# Scenarios whose files are large enough that the disk, not the program,
# would set their pace: they run in memory where the machine has it.
IN_MEMORY = {company_file_past_2_gib, company_file_shrinking}

SCENARIOS = [store_is_folder, store_is_fifo, store_is_dev_null, store_is_unreadable,
             store_behind_a_closed_folder,
             store_of_a_million_values, drive_is_a_link_loop, a_megabyte_of_arguments,
             a_typed_line_of_10_mb, company_file_past_2_gib, company_file_shrinking,
             every_byte_value] + hostile_rights.SCENARIOS


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--only", help="run the scenarios whose name holds this text")
    options = parser.parse_args()
    program = str(pathlib.Path(options.program).resolve())
    chosen = [s for s in SCENARIOS if not options.only or options.only in s.__name__]
    if not chosen:
        print(f"hostile environments: no scenario's name holds {options.only!r}")
        return 1
    failed = skipped = 0
    for scenario in chosen:
        memory = "/dev/shm" if scenario in IN_MEMORY and os.path.isdir("/dev/shm") else None
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-hostile-", dir=memory))
        started = time.monotonic()
        try:
            problems = scenario(program, Installation(scratch / "inst"))
        except hostile_rights.Skip as reason:
            skipped += 1
            print(f"skip {scenario.__name__}: {reason}")
            continue
        except subprocess.TimeoutExpired:
            problems = [f"still running after {HANG} s"]
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        took = time.monotonic() - started
        failed += bool(problems)
        print(f"{'FAIL' if problems else 'ok  '} {scenario.__name__} ({took:.1f} s)")
        for problem in problems:
            print("    " + problem)
    print(f"hostile environments: {len(chosen)} scenarios, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
