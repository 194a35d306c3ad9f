#!/usr/bin/env python3
"""Runs every acceptance case against a built program and checks its standard
output byte for byte, its exit code, the registry and the drive files after."""

import argparse
import dataclasses
import importlib
import os
import pathlib
import shutil
import stat
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from harness import HKCU, HKLM, MODULE, STORE  # noqa: E402
import regedit4  # noqa: E402


def load_cases():
    cases = []
    for path in sorted(HERE.glob("cases_*.py")):
        cases.extend(importlib.import_module(path.stem).CASES)
    names = [c.name for c in cases]
    duplicates = {n for n in names if names.count(n) > 1}
    assert not duplicates, f"case names repeat: {duplicates}"
    return cases


def upper_names(registry):
    return {hive: {name.upper(): value for name, value in values.items()}
            for hive, values in registry.items()}


def snapshot_drives(root: pathlib.Path):
    files = {}
    for path in sorted(root.rglob("*")):
        if path.is_file():
            rel = path.relative_to(root).as_posix()
            letter, _, inside = rel.partition(":/")
            files.setdefault(letter, {})[inside] = path.read_bytes()
    return files


def place_drives(root: pathlib.Path, case):
    for letter in case.drives:
        (root / f"{letter}:").mkdir(parents=True, exist_ok=True)
    for folder in case.folders:
        letter, _, inside = folder.partition(":")
        (root / f"{letter}:" / inside).mkdir(parents=True, exist_ok=True)
    for letter, files in case.drives.items():
        for inside, data in files.items():
            target = root / f"{letter}:" / inside
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
    for item in case.read_only:
        letter, _, inside = item.partition(":")
        target = root / f"{letter}:" / inside
        target.chmod(target.stat().st_mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))


def stdin_arguments(case):
    """subprocess arguments that give the program its standard input as the
    case says: the case's bytes through a pipe, the null device, or none."""
    if case.stdin_kind == "null":
        return {"stdin": subprocess.DEVNULL}
    if case.stdin_kind == "closed":
        return {"stdin": None, "preexec_fn": lambda: os.close(0)}
    return {"input": case.stdin}


def working_dir(scratch: pathlib.Path, drives: pathlib.Path, case):
    if not case.cwd:
        folder = scratch / "outside"
    else:
        letter, _, inside = case.cwd.partition(":")
        folder = drives / f"{letter}:" / inside.lstrip("/")
    folder.mkdir(parents=True, exist_ok=True)
    return folder


class NativeRunner:
    name = "native"

    def __init__(self, program):
        self.program = pathlib.Path(program).resolve()
        self.module = self.program.name.encode()

    def applies(self, case):
        return True

    def run(self, case, scratch: pathlib.Path):
        store = scratch / "registry.reg"
        store.write_bytes(case.store_text if case.store_text is not None
                          else regedit4.write_store(case.registry))
        if case.store_mode is not None:
            store.chmod(case.store_mode)
        drives = scratch / "drives"
        drives.mkdir()
        place_drives(drives, case)
        before_store = store.read_bytes()
        env = dict(os.environ, VENDREL_REGISTRY=str(store), VENDREL_DRIVES=str(drives),
                   LANG="C")
        proc = subprocess.run([str(self.program)] + case.args, capture_output=True,
                              cwd=working_dir(scratch, drives, case), env=env, timeout=60,
                              **stdin_arguments(case))
        after_text = store.read_bytes()
        if case.store_text is not None and case.registry_after is None:
            registry = None if after_text == before_store else "store changed"
        else:
            registry = upper_names(regedit4.read_store(after_text))
        return proc, registry, snapshot_drives(drives)


class WineRunner:
    """Runs the Windows build under Wine: the registry loaded and read back
    through regtool.exe, drives mapped in the prefix's dosdevices."""
    name = "wine"
    HIVES = {HKLM: "HKLM", HKCU: "HKCU"}

    def __init__(self, wrapper, program, regtool):
        self.wrapper = str(pathlib.Path(wrapper).resolve())
        self.program = str(pathlib.Path(program).resolve())
        self.regtool = str(pathlib.Path(regtool).resolve())
        self.module = pathlib.Path(program).name.encode()
        prefix = os.environ.get("VENDREL_WINEPREFIX") or \
            f"{os.environ.get('TMPDIR', '/tmp')}/vendrel-wine-{os.getuid()}"
        self.dosdevices = pathlib.Path(prefix) / "dosdevices"
        self.mapped = set()

    def applies(self, case):
        return case.native_only is None

    def wine(self, args, **kwargs):
        # About one full pass in fifteen, a program under Wine ends with exit
        # code 1 before writing a byte and nothing of its run happened (ours
        # writes its banner first). Such a launch is made again, and the
        # output says so.
        for attempt in range(3):
            done = subprocess.run([self.wrapper] + args, capture_output=True, timeout=120,
                                  **kwargs)
            if done.returncode == 0 or done.stdout or attempt == 2:
                return done
            print(f"    ({pathlib.Path(args[0]).name} ended with {done.returncode} before "
                  f"writing a byte, stderr {done.stderr[-300:]!r}; launched again)")
        return done

    def load_registry(self, registry, scratch):
        plan = []
        for hive, short in self.HIVES.items():
            if hive not in registry:
                plan.append(f"nokey {short}")
                continue
            plan.append(f"key {short}")
            for name, (kind, data) in registry[hive].items():
                plan.append(f"value {short} {name.encode('latin-1').hex() or '-'} {kind} "
                            f"{data.hex() or '-'}")
        (scratch / "registry.txt").write_text("\n".join(plan) + "\n")
        done = self.wine([self.regtool, "apply", str(scratch / "registry.txt")])
        assert done.returncode == 0, f"regtool apply failed: {done.returncode} {done.stderr!r}"

    def dump(self):
        done = self.wine([self.regtool, "dump"])
        assert done.returncode == 0, f"regtool dump failed: {done.stderr!r}"
        registry = {}
        names = {v: k for k, v in self.HIVES.items()}
        for line in done.stdout.decode().splitlines():
            words = line.split()
            if words[0] == "key":
                registry[names[words[1]]] = {}
            elif words[0] == "value":
                name = b"" if words[2] == "-" else bytes.fromhex(words[2])
                data = b"" if words[4] == "-" else bytes.fromhex(words[4])
                registry[names[words[1]]][name.decode("latin-1").upper()] = (int(words[3]), data)
        return registry

    def map_drives(self, drives, letters):
        for letter in self.mapped | set(letters):
            (self.dosdevices / f"{letter}:").unlink(missing_ok=True)
        self.mapped = set()
        for letter in letters:
            (self.dosdevices / f"{letter}:").symlink_to(drives / f"{letter}:")
            self.mapped.add(letter)

    def run(self, case, scratch: pathlib.Path):
        self.load_registry(case.registry, scratch)
        drives = scratch / "drives"
        drives.mkdir()
        place_drives(drives, case)
        letters = sorted({p.name[0] for p in drives.iterdir()} | {"q"})
        self.map_drives(drives, [l for l in letters if l != "q"])
        (self.dosdevices / "q:").unlink(missing_ok=True)
        args = [a.decode("latin-1") if isinstance(a, bytes) else a for a in case.args]
        proc = self.wine([self.program] + args, cwd=working_dir(scratch, drives, case),
                         **stdin_arguments(case))
        registry = self.dump()
        self.map_drives(drives, [])
        return proc, registry, snapshot_drives(drives)


def check(case, runner, scratch):
    problems = []
    proc, registry, files = runner.run(case, scratch)
    expected_stdout = case.stdout.replace(MODULE, runner.module).replace(
        STORE, str(scratch / "registry.reg").encode())
    if proc.stdout != expected_stdout:
        problems.append(f"stdout differs:\n  expected {expected_stdout!r}\n  got      {proc.stdout!r}")
    if proc.stderr:
        problems.append(f"stderr is not empty: {proc.stderr!r}")
    if proc.returncode != case.exit_code:
        problems.append(f"exit code {proc.returncode}, expected {case.exit_code}")
    if case.store_text is not None and case.registry_after is None:
        if registry is not None:
            problems.append("the store file changed")
    else:
        expected = upper_names(case.registry_after if case.registry_after is not None
                               else case.registry)
        if registry != expected:
            problems.append(f"registry differs:\n  expected {expected!r}\n  got      {registry!r}")
    expected_files = {k: dict(v) for k, v in case.drives.items()}
    for letter, changed in (case.drives_after or {}).items():
        expected_files.setdefault(letter, {}).update(changed)
    expected_files = {k: v for k, v in expected_files.items() if v}
    if files != expected_files:
        problems.append(f"drive files differ:\n  expected {summarise(expected_files)}\n"
                        f"  got      {summarise(files)}")
    return problems


FULL_FILES = False


def summarise(files):
    if FULL_FILES:
        return files
    return {letter: {path: (len(data), data[:48]) for path, data in inner.items()}
            for letter, inner in files.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--only", help="run the cases whose name holds this text")
    parser.add_argument("--wine", metavar="WRAPPER",
                        help="run the Windows build under Wine through this wrapper")
    parser.add_argument("--regtool", help="the Windows registry tool, with --wine")
    parser.add_argument("--full-files", action="store_true",
                        help="show whole files, not their starts, when they differ")
    options = parser.parse_args()
    global FULL_FILES
    FULL_FILES = options.full_files
    if options.wine:
        runner = WineRunner(options.wine, options.program, options.regtool)
    else:
        runner = NativeRunner(options.program)
    passed = failed = skipped = 0
    cases = [c for c in load_cases() if not options.only or options.only in c.name]
    if not cases:
        print(f"acceptance: no case's name holds {options.only!r}")
        return 1
    for case in cases:
        if not runner.applies(case):
            skipped += 1
            print(f"skip [{runner.name}] {case.name}: {case.native_only}")
            continue
        if runner.name == "wine" and case.wine:
            if case.wine.get("skip"):
                skipped += 1
                print(f"skip [{runner.name}] {case.name}: {case.wine['reason']}")
                continue
            overrides = {k: v for k, v in case.wine.items() if k != "reason"}
            case = dataclasses.replace(case, **overrides)
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-case-"))
        try:
            problems = check(case, runner, scratch)
        except Exception as error:  # a broken case is a failed case
            problems = [f"{type(error).__name__}: {error}"]
        finally:
            for path in scratch.rglob("*"):
                if not path.is_symlink():
                    path.chmod(path.stat().st_mode | stat.S_IWUSR | stat.S_IRUSR | stat.S_IXUSR)
            shutil.rmtree(scratch, ignore_errors=True)
        if problems:
            failed += 1
            print(f"FAIL [{runner.name}] {case.name}")
            for problem in problems:
                print("    " + problem)
        else:
            passed += 1
            print(f"ok   [{runner.name}] {case.name}")
    print(f"acceptance: {passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
