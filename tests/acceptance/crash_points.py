"""Stops a full run dead after each of its store-changing system calls in
turn, from the first to the last, and checks that no store is torn: the
registry store and the settings file parse and hold, value by value, either
their old or their new content, the write step's values in a key all old or
all new, each company record is either old or
stamped, and a second run then completes as an undisturbed one does and
leaves no temporary file or journal behind.

It does so three times: with plain files; with the store and the settings
file each hard-linked to a second name, which are rewritten in place under
a journal (a stop there may leave the file torn with a complete journal
beside it; what counts then is the content the journal completes it to);
and with HKEY_LOCAL_MACHINE in an offline SOFTWARE hive (as made, changed
where its values are, gaining values, and with a page behind its last bin;
dirty, and Windows' own dirty NTUSER.DAT), written
through its logs: as Windows loads the folder (its logs applied by this
program's recovery) it must hold the whole old tree or the whole new one at
every stop, killed or as a power cut that loses unflushed writes.

Needs the crash-test build of the Linux program (VENDREL_CRASH_AFTER)."""

import argparse
import lzma
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile

from harness import HKLM
from installation import (REGISTRY, Installation, hive_values, make_software_hive, read_registry,
                          read_settings, records)
import regf

ARGS = ["F", "-v6/7", "-w2.10", "-dclinic"]
KILLED = -9
JOURNAL_MAGIC = b"VENDREL JOURNAL2"
PAGES_MAGIC = b"VENDREL JOURNALP"
LOG, FROM_LOG = "SOFTWARE.LOG1", b"Recovered"  # a dirty hive's log, and the key it alone holds
SAMPLES = pathlib.Path(__file__).resolve().parent.parent / "data" / "hives"
HIVE_FOLDER = None


def loaded(hive):
    """The hive as Windows loads its folder."""
    proc = subprocess.run([HIVE_FOLDER, "load", str(hive)], capture_output=True)
    if proc.returncode != 0:
        raise ValueError(proc.stderr.decode("latin-1").strip())
    return proc.stdout


def run(program, inst, crash_after=None, lose_unflushed=False):
    extra = {} if crash_after is None else {"VENDREL_CRASH_AFTER": str(crash_after)}
    if lose_unflushed:
        extra["VENDREL_CRASH_LOSE_UNFLUSHED"] = "1"
    extra.update(getattr(inst, "hive_env", {}))
    return subprocess.run([program] + ARGS, input=b"\r\n", capture_output=True,
                          env=inst.env(**extra), cwd=inst.root, timeout=60)


def after_reading(proc):
    """The output past the current values, which show where the stop left off."""
    return proc.stdout[proc.stdout.find(b"Values specified"):]


def fnv1a(data):
    value = 14695981039346656037
    for byte in data:
        value = ((value ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


def completed(path):
    """The file's content as its pending journal, if a whole one stands
    beside it, completes it; else the file's own bytes. A journal holds the
    whole content, or the pages that change (each its offset, length and
    bytes) and the file's new length."""
    try:
        data = (path.parent / f".{path.name}.vendrel-journal").read_bytes()
    except OSError:
        return path.read_bytes()
    if len(data) < 44 or data[:16] not in (JOURNAL_MAGIC, PAGES_MAGIC):
        return path.read_bytes()
    inode, length, checksum, name_length = struct.unpack("<3QI", data[16:44])
    name, content = data[44:44 + name_length], data[44 + name_length:]
    if (name != path.name.encode() or inode != os.stat(path).st_ino
            or checksum != fnv1a(data[16:32] + name + content)):
        return path.read_bytes()
    if data[:16] == JOURNAL_MAGIC:
        return content if length == len(content) else path.read_bytes()
    whole = bytearray(path.read_bytes()[:length].ljust(length, b"\0"))
    while content:
        at, size = struct.unpack("<QI", content[:12])
        whole[at:at + size] = content[12:12 + size]
        content = content[12 + size:]
    return bytes(whole)


def snapshot(inst):
    """The registry (both hives, the store's or the hive file's) as text
    that compares, and the two files."""
    registry = {"store": completed(inst.store)}
    if getattr(inst, "hive", None):
        try:
            data = loaded(inst.hive)
            registry["hive"], registry["tree"] = hive_values(inst.hive, data), regf.dump(data)
        except (ValueError, KeyError, IndexError, TypeError, struct.error) as error:
            registry["hive"] = f"unreadable: {error}"
    return {**registry, "settings": completed(inst.settings), "company": inst.company.read_bytes()}


def registry_of(state):
    values = read_registry(state["store"])
    if "hive" in state:
        if isinstance(state["hive"], str):
            raise ValueError(state["hive"])
        values[HKLM] = state["hive"]
    return values


def torn(before, after, crashed):
    """What in the crashed state is neither old nor new."""
    problems = []
    old, new = registry_of(before), registry_of(after)
    try:
        now = registry_of(crashed)
    except (AssertionError, IndexError, ValueError) as error:
        return [f"registry does not parse: {error}"]
    for hive in old.keys() | new.keys() | now.keys():
        was, will, held = old.get(hive, {}), new.get(hive, {}), now.get(hive, {})
        for name in was.keys() | will.keys() | held.keys():
            value = held.get(name)
            if value not in (was.get(name), will.get(name)):
                problems.append(f"registry {hive} {name} is {value!r}")
        # The write step's values go together: all old or all new.
        changed = sorted(name for name in was.keys() | will.keys() if was.get(name) != will.get(name))
        if (any(held.get(name) != was.get(name) for name in changed)
                and any(held.get(name) != will.get(name) for name in changed)):
            mixed = ", ".join(f"{name} {'new' if held.get(name) == will.get(name) else 'old'}"
                              for name in changed)
            problems.append(f"registry {hive} is half written: {mixed}")
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


class Layout:
    """Plain files, the store and settings file with a second name each, or
    HKEY_LOCAL_MACHINE in a hive file (made with make_hive)."""

    def __init__(self, linked=False, make_hive=None, padded=False, dirty=False, gaining=False,
                 windows=False):
        self.linked, self.make_hive, self.padded, self.dirty = linked, make_hive, padded, dirty
        self.gaining, self.windows = gaining, windows
        self.name = ("dirty hive" if dirty else "padded hive" if padded
                     else "gaining hive" if gaining else "Windows' dirty hive" if windows
                     else "hive" if make_hive else "hard-linked" if linked else "plain")

    def make(self, root):
        inst = Installation(root)
        if self.windows:
            inst.hive = root / "NTUSER.DAT"
            inst.hive_env = {"VENDREL_HKLM_HIVE": str(inst.hive)}
            for name, data in self.windows_hive().items():
                (root / name).write_bytes(data)
        elif self.make_hive:
            inst.hive = inst.root / "SOFTWARE"
            # Dirty: the values the hive file holds, and in its log a key
            # more, which the run's commit must bring into the file.
            more = [f"log {LOG}", f"key {FROM_LOG.hex()}"] if self.dirty else []
            values = dict(list(REGISTRY[HKLM].items())[:2]) if self.gaining else REGISTRY[HKLM]
            make_software_hive(self.make_hive, inst.hive, values, more)
            if self.padded:
                # A page behind the last bin, which the new bin takes.
                with open(inst.hive, "ab") as hive:
                    hive.write(bytes(4096))
            inst.hive_env = {"VENDREL_HKLM_HIVE": str(inst.hive)}
        if self.linked:
            other = inst.root / "other"
            other.mkdir()
            os.link(inst.settings, other / "kelvarini.dat")
            os.link(inst.store, other / "registry.reg")
        return inst

    def windows_hive(self):
        """Windows' own dirty hive and logs, the product key added by a log
        entry after theirs, made once."""
        if not getattr(self, "files", None):
            folder = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-ntuser-"))
            for name in ("NTUSER.DAT", "ntuser.dat.log1", "ntuser.dat.log2"):
                (folder / name.replace("log", "LOG")).write_bytes(lzma.decompress(
                    (SAMPLES / f"transactions_{name}.xz").read_bytes()))
            (folder / "edited").write_bytes(loaded(folder / "NTUSER.DAT"))
            values = "".join(f"setval 1\n{name}\nstring:{data[:-1].decode()}\n"
                             for name, (_, data) in REGISTRY[HKLM].items())
            subprocess.run(["hivexsh", "-w", str(folder / "edited")], check=True, input=(
                f"add Tarvel Global\ncd Tarvel Global\n{values}commit\n").encode())
            subprocess.run([HIVE_FOLDER, "log", str(folder / "NTUSER.DAT"),
                            str(folder / "edited"), str(folder / "ntuser.dat.LOG1")], check=True)
            (folder / "edited").unlink()
            self.files = {p.name: p.read_bytes() for p in folder.iterdir()}
            shutil.rmtree(folder)
        return self.files

    def problems(self, inst):
        """Both names of each linked file still one file."""
        if not self.linked:
            return []
        other = inst.root / "other"
        return [f"{name} has split into two files" for name, first in
                (("kelvarini.dat", inst.settings), ("registry.reg", inst.store))
                if os.stat(first).st_ino != os.stat(other / name).st_ino]

    def leftovers(self, inst):
        folders = [inst.root, inst.kova] + ([inst.root / "other"] if self.linked else [])
        return sorted(p.name for folder in folders for p in folder.iterdir()
                      if p.name.startswith("."))


def try_layout(program, scratch, layout):
    failures, points, leftovers = [], 0, 0
    reference = layout.make(scratch / f"{layout.name}-reference")
    before = snapshot(reference)
    finished = run(program, reference)
    if finished.returncode != 0:
        return [f"{layout.name}: the undisturbed run failed: {finished.stdout[-300:]!r} "
                f"{finished.stderr!r}"], 0, 0
    after = snapshot(reference)
    for point, lose in ((p, lose) for p in range(1, 10000) for lose in (False, True)):
        inst = layout.make(scratch / f"{layout.name}-point{point}")
        stopped = run(program, inst, crash_after=point, lose_unflushed=lose)
        if stopped.returncode == 0:
            shutil.rmtree(inst.root)
            break
        points += 1
        where = (f"{layout.name}{', power cut' if lose else ''}: "
                 + stopped.stderr.decode("latin-1").strip())
        if stopped.returncode != KILLED:
            failures.append(f"{where}: exit {stopped.returncode}, not killed")
            continue
        crashed = snapshot(inst)
        problems = torn(before, after, crashed) + layout.problems(inst)
        if crashed.get("tree") not in (before.get("tree"), after.get("tree")):
            problems.append("the hive loads as neither the old tree nor the new")
        leftovers += len(layout.leftovers(inst))
        # A journal holds the new content: its file's owner alone may read it.
        problems += [f"{journal.name} is open to others (mode {journal.stat().st_mode & 0o777:o})"
                     for journal in inst.root.rglob("*.vendrel-journal")
                     if journal.stat().st_mode & 0o077]
        again = run(program, inst)
        if again.returncode != 0 or after_reading(again) != after_reading(finished):
            problems.append(f"the second run ended with {again.returncode}: "
                            f"{again.stdout[-200:]!r}")
        elif snapshot(inst) != after:
            problems.append("the second run left other stores than an undisturbed run")
        problems += layout.problems(inst)
        problems += [f"left behind after the second run: {name}"
                     for name in layout.leftovers(inst)]
        failures += [f"{where}: {problem}" for problem in problems]
        shutil.rmtree(inst.root)
    return failures, points, leftovers


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--make-hive", help="make_hive, for the run on a hive")
    parser.add_argument("--hive-folder", help="hive_folder, to load a hive folder as Windows does")
    options = parser.parse_args()
    program = str(pathlib.Path(options.program).resolve())
    layouts = [Layout(), Layout(linked=True)]
    if options.make_hive and options.hive_folder:
        global HIVE_FOLDER
        HIVE_FOLDER = str(pathlib.Path(options.hive_folder).resolve())
        make_hive = str(pathlib.Path(options.make_hive).resolve())
        layouts += [Layout(make_hive=make_hive), Layout(make_hive=make_hive, padded=True),
                    Layout(make_hive=make_hive, dirty=True),
                    Layout(make_hive=make_hive, gaining=True), Layout(windows=True)]
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-crash-"))
    failed = False
    try:
        for layout in layouts:
            failures, points, leftovers = try_layout(program, scratch, layout)
            for failure in failures:
                print("FAIL " + failure)
            print(f"crash points, {layout.name} files: {points} tried, {len(failures)} failures, "
                  f"{leftovers} temporary files or journals left by stopped runs, "
                  f"none after the next run")
            failed = failed or bool(failures) or points == 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
