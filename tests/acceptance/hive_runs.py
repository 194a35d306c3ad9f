"""Whole runs of the Linux build on offline Windows registry hives, made from
scratch by make_hive: SOFTWARE with and without Wow6432Node, NTUSER.DAT,
names in other letter cases, many other values, hives that must be refused
untouched (among them keys with names equal but for case, and values sharing
a cell), a missing product key, a read-only hive, a hive behind a link,
and one hive named with the other served by the store. After every run the
hive is read back by an independent reader (regf.py) and by hivexsh."""

import argparse
import lzma
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile

import regedit4
import regf
from harness import HKCU, HKLM, sz
from installation import Installation, read_registry
from whole_run import run

KEY = "Tarvel Global"
WRITTEN = ("Drive", "InstPath", "LocalDrive", "PracticeRelief")


def utf16(text):
    return text.encode("utf-16-le") + b"\0\0"


def hex_or_dash(data):
    return data.hex() or "-"


class Hives:
    """Hive files in a scratch installation, made with make_hive."""

    def __init__(self, make_hive, inst):
        self.make_hive, self.inst = make_hive, inst

    def make(self, name, keys, layout=None, log=None):
        """keys: path -> {value name: (type, data)}; returns the file's path.
        log: (its name, keys it alone holds), for a hive left dirty."""
        lines = [f"layout {layout}"] if layout else []
        for part in (keys, log[1]) if log else (keys,):
            if part is not keys:
                lines.append(f"log {log[0]}")
            for path, values in part.items():
                lines.append(f"key {hex_or_dash(path.encode('latin-1'))}")
                for value, (kind, data) in values.items():
                    lines.append(f"value {hex_or_dash(path.encode('latin-1'))} "
                                 f"{hex_or_dash(value.encode('latin-1'))} {kind} "
                                 f"{hex_or_dash(data)}")
        path = self.inst.root / name
        subprocess.run([self.make_hive, str(path)], input="\n".join(lines).encode(), check=True)
        return path


def product(drive="C:", more=None):
    values = {"Drive": (1, utf16(drive)), "InstPath": (1, utf16(drive + "\\KOVA32")),
              "cddir": (2, utf16("%SystemRoot%\\cd")), "Count": (4, b"\x2a\0\0\0")}
    values.update(more or {})
    return values


def hive_env(inst, hklm=None, hkcu=None, **more):
    extra = {k: str(v) for k, v in (("VENDREL_HKLM_HIVE", hklm), ("VENDREL_HKCU_HIVE", hkcu)) if v}
    extra.update(more)
    return inst.env(**extra)


def independent_checks(path):
    """The header as Windows checks it, and hivexsh opening and listing the
    hive: a hive either refuses is a hive Windows may not load."""
    data = path.read_bytes()
    problems = [f"{path.name}: {p}" for p in regf.check_header(data)]
    listed = subprocess.run(["hivexsh", str(path)], input=b"ls\n", capture_output=True)
    if listed.returncode != 0:
        problems.append(f"hivexsh cannot open {path.name}: {listed.stderr[-200:]!r}")
    return problems


def only_written_changed(before, after, key_path, expected):
    """Every key, class name, security descriptor and value as before, but
    the four values written in the product key, which hold expected."""
    problems = []
    old, new = regf.find(before, key_path), regf.find(after, key_path)
    if new is None:
        return [f"{key_path} is gone"]
    for name, value in expected.items():
        matches = [v for n, v in new["values"].items() if n.lower() == name.lower()]
        if matches != [value]:
            problems.append(f"{name} is {matches!r}, expected {value!r}")
    written = {name.lower() for name in expected}
    old_rest = {n: v for n, v in old["values"].items() if n.lower() not in written}
    new_rest = {n: v for n, v in new["values"].items() if n.lower() not in written}
    if old_rest != new_rest:
        problems.append(f"other values of {key_path} changed")
    old["values"], new["values"] = {}, {}
    if before != after:
        problems.append("keys, class names or security descriptors outside the values changed")
    return problems


def written(drive, relief=""):
    return {"Drive": (1, utf16(f"{drive}:")), "InstPath": (1, utf16(f"{drive}:\\KOVA32")),
            "LocalDrive": (1, utf16(f"{drive}:")), "PracticeRelief": (1, utf16(relief))}


def software_with_wow64_node(make_hive, inst):
    hives = Hives(make_hive, inst)
    path = hives.make("SOFTWARE", {f"Wow6432Node\\{KEY}": product("C:"), KEY: product("N:"),
                                   "Microsoft\\Windows": {"Version": (1, utf16("10.0"))}})
    return edit_and_check(inst, path, f"Wow6432Node\\{KEY}", b"  Drive:      C:\r\n")


def software_without_wow64_node(make_hive, inst):
    hives = Hives(make_hive, inst)
    path = hives.make("SOFTWARE", {KEY: product("C:"), "Classes\\.txt": {"": (1, utf16("txt"))}})
    return edit_and_check(inst, path, KEY, b"  Drive:      C:\r\n")


def edit_and_check(inst, path, key_path, shown, args=("F", "-v6/7", "-pY"), hklm=True):
    """The run changes the hive through a log it makes beside it, named as
    Windows names it and with the hive's mode."""
    before = regf.dump(path.read_bytes())
    store, names = inst.store.read_bytes(), set(os.listdir(path.parent))
    path.chmod(0o640)
    env = hive_env(inst, hklm=path) if hklm else hive_env(inst, hkcu=path)
    result = run_program(inst, list(args), env)
    problems = result.outcome("ok")
    log = ("ntuser.dat" if path.name == "NTUSER.DAT" else path.name) + ".LOG1"
    if set(os.listdir(path.parent)) - names != {log} or (path.parent / log).stat().st_mode & 0o777 != 0o640:
        problems.append(f"not one new log {log} of the hive's mode: {sorted(os.listdir(path.parent))}")
    if shown not in result.out:
        problems.append(f"current values not shown: {result.out[:500]!r}")
    problems += independent_checks(path)
    problems += only_written_changed(before, regf.dump(path.read_bytes()), key_path,
                                     written("F", "Y" if "-pY" in args else ""))
    if inst.store.read_bytes() != store:
        problems.append("the store changed although the hive was named")
    return problems


PROGRAM = None


# Runs a command and writes its peak resident size (KiB) to a file.
PEAK = ("import os, sys\npid = os.fork()\nif pid == 0:\n    os.execv(sys.argv[2], sys.argv[2:])\n"
        "_, status, usage = os.wait4(pid, 0)\nopen(sys.argv[1], 'w').write(str(usage.ru_maxrss))\n"
        "sys.exit(os.waitstatus_to_exitcode(status))")


def run_program(inst, args, env, stdin=b"\r\n"):
    return run(PROGRAM, inst, args, env=env, stdin=stdin)


def users_hive(make_hive, inst):
    path = Hives(make_hive, inst).make("NTUSER.DAT", {f"Software\\{KEY}": product("E:"),
                                                      "Control Panel\\Desktop": {}})
    return edit_and_check(inst, path, f"Software\\{KEY}", b"  Drive:      E:\r\n",
                          args=("F", "-v5", "-pY"), hklm=False)


def names_in_other_cases(make_hive, inst):
    path = Hives(make_hive, inst).make("SOFTWARE", {
        "TARVEL GLOBAL": {"DRIVE": (1, utf16("C:")), "instpath": (1, utf16("C:\\KOVA32")),
                          "LocalDrive": (1, utf16("C:")), "practicerelief": (1, utf16("N"))}})
    problems = edit_and_check(inst, path, "TARVEL GLOBAL", b"  Drive:      C:\r\n")
    names = sorted(regf.find(regf.dump(path.read_bytes()), KEY)["values"])
    if names != sorted(["DRIVE", "instpath", "LocalDrive", "practicerelief"]):
        problems.append(f"value names respelled: {names}")
    return problems


def many_other_values(make_hive, inst):
    many = {f"Other{i}": (1, utf16(f"setting {i}")) for i in range(20000)}
    path = Hives(make_hive, inst).make("SOFTWARE", {KEY: product("C:", many),
                                                    "Vendor": dict(list(many.items())[:100])})
    return edit_and_check(inst, path, KEY, b"  Drive:      C:\r\n")


def refused(make_hive, inst):
    """A dirty hive, and a file that is no hive: the run ends in a report
    that names the file and says why; the file is left as it was."""
    problems = []
    dirty = Hives(make_hive, inst).make("SOFTWARE", {KEY: product()}, layout="5 9 8")
    garbage = inst.root / "GARBAGE"
    garbage.write_bytes(os.urandom(16384))
    for path, why in ((dirty, b"no transaction log came with it"),
                      (garbage, b"is not a registry hive")):
        before = path.read_bytes()
        result = run_program(inst, ["F", "-v6/7"], hive_env(inst, hklm=path))
        problems += [f"{path.name}: {p}" for p in result.outcome("ERegistryException")]
        message = result.message or b""
        if str(path).encode() not in message or why not in message:
            problems.append(f"{path.name}: the report does not say why: {message!r}")
        if path.read_bytes() != before:
            problems.append(f"{path.name} changed")
    return problems


def reglookup_agrees(path):
    """reglookup reads the keys and values regf.py reads."""
    if shutil.which("reglookup") is None:
        return ["reglookup is missing (Debian package reglookup)"]
    listed = subprocess.run(["reglookup", "-H", str(path)], capture_output=True)
    theirs = {tuple(line.split(b",")[:2]) for line in listed.stdout.splitlines()}

    def walk(key, at):
        yield (at or b"/", b"KEY")
        for name, (kind, _) in key["values"].items():
            yield (at + b"/" + name.encode("latin-1"), REGLOOKUP_TYPES.get(kind, b"?"))
        for name, sub in key["keys"].items():
            yield from walk(sub, at + b"/" + name.encode("latin-1"))

    ours = set(walk(regf.dump(path.read_bytes()), b""))
    return [] if ours == theirs else [f"reglookup reads {sorted(theirs ^ ours)[:6]} otherwise"]


REGLOOKUP_TYPES = {1: b"SZ", 2: b"EXPAND_SZ", 3: b"BINARY", 4: b"DWORD"}
SAMPLES = pathlib.Path(__file__).resolve().parent.parent / "data" / "hives"


def folder_state(folder):
    return {p.name: p.read_bytes() for p in folder.iterdir() if p.is_file()}


def dirty_hive_and_its_logs(make_hive, inst):
    """A hive Windows did not close, whose product key lies only in its log
    (named as Windows names it, or in lower case and a sparse GiB long, of
    which the run reads what its entries hold): the run shows and writes
    the recovered values; the hive comes out clean, its sequence numbers
    past the log's, read alike by regf.py, hivexsh and reglookup. Dirty
    hives where no product key is found, real
    ones Windows wrote among them, leave their folder byte for byte."""
    problems = []
    hives = Hives(make_hive, inst)
    for log_name in ("SOFTWARE.LOG1", "software.log1"):
        path = hives.make("SOFTWARE", {"Microsoft": {}}, log=(log_name, {KEY: product("C:")}))
        sparse = log_name.islower()
        if sparse:
            os.truncate(inst.root / log_name, 1 << 30)
        result = run(PROGRAM, inst, ["F", "-v6/7", "-pY"], env=hive_env(inst, hklm=path),
                     prefix=[sys.executable, "-c", PEAK, inst.root / "peak"])
        found = result.outcome("ok")
        if sparse and int((inst.root / "peak").read_text()) > 512 << 10:
            found.append("the run took more than 512 MiB")
        if b"  Drive:      C:\r\n" not in result.out:
            found.append(f"the recovered values are not shown: {result.out[:400]!r}")
        sequences = struct.unpack("<II", path.read_bytes()[4:12])
        if sequences[0] != sequences[1] or sequences[0] <= 8:
            found.append(f"the hive's sequence numbers are {sequences}")
        found += independent_checks(path) + reglookup_agrees(path)
        values = regf.find(regf.dump(path.read_bytes()), KEY)["values"]
        if values != {**product("C:"), **written("F", "Y")}:
            found.append(f"the product key holds {values!r}")
        problems += [f"{log_name}: {p}" for p in found]
        (inst.root / log_name).unlink()
    hives.make("SOFTWARE", {"Microsoft": {}}, log=("SOFTWARE.LOG1", {"Vendor": {}}))
    samples = {"NTUSER.DAT": "transactions_NTUSER.DAT", "ntuser.dat.LOG1":
               "transactions_ntuser.dat.log1", "ntuser.dat.LOG2": "transactions_ntuser.dat.log2",
               "UsrClass.dat": "UsrClass.dat", "UsrClass.dat.LOG1": "UsrClass.dat.LOG1",
               "UsrClass.dat.LOG2": "UsrClass.dat.LOG2"}
    for name, sample in samples.items():
        (inst.root / name).write_bytes(lzma.decompress((SAMPLES / f"{sample}.xz").read_bytes()))
    for args, hive in ((["F", "-v6/7"], "SOFTWARE"), (["F", "-v5"], "NTUSER.DAT"),
                       (["F", "-v5"], "UsrClass.dat")):
        before = folder_state(inst.root)
        env = hive_env(inst, **({"hklm": inst.root / hive} if hive == "SOFTWARE"
                                else {"hkcu": inst.root / hive}))
        result = run_program(inst, args, env)
        found = result.outcome("ok")
        if b"  Drive:      \r\n" not in result.out:
            found.append(f"values shown: {result.out[:300]!r}")
        if folder_state(inst.root) != before:
            found.append("the folder changed")
        problems += [f"{hive}, no product key: {p}" for p in found]
    return problems


def value_cells(data, key_path):
    """The offsets (in the hive bins) of the vk cells of the key at
    key_path, by value name."""
    hive = regf.Hive(data)
    offset = regf.u32(data, 36)
    for name in key_path.split("\\"):
        nk = hive.cell(offset)
        offset = next(child for child in hive.subkeys(regf.u32(nk, 28))
                      if hive.key(child)["name"].lower() == name.lower())
    nk = hive.cell(offset)
    listing = hive.cell(regf.u32(nk, 40))
    cells = [regf.u32(listing, 4 * i) for i in range(regf.u32(nk, 36))]
    return {hive.name(hive.cell(c)[20:20 + regf.u16(hive.cell(c), 2)], True): c for c in cells}


def share_data_cell(data):
    """The hive with the product key's Drive pointing at InstPath's data
    cell."""
    data = bytearray(data)
    cells = value_cells(bytes(data), KEY)
    shared = regf.u32(data, regf.HEADER + cells["InstPath"] + 4 + 8)
    struct.pack_into("<I", data, regf.HEADER + cells["Drive"] + 4 + 8, shared)
    return bytes(data)


def refused_as_damaged(inst, path, why):
    """The run ends in the report of a damaged hive that says why; the
    hive is left byte for byte as it was."""
    before = path.read_bytes()
    result = run_program(inst, ["F", "-v6/7", "-w2.10"], hive_env(inst, hklm=path))
    problems = result.outcome("ERegistryException")
    if result.proc.returncode != 1:
        problems.append(f"exit {result.proc.returncode}")
    message = result.message or b""
    if str(path).encode() not in message or why not in message:
        problems.append(f"the report does not say why: {message!r}")
    if path.read_bytes() != before:
        problems.append(f"{path.name} changed")
    if b"Updated TARVEL1" in result.out:
        problems.append("a company file was stamped")
    return problems


def names_equal_but_for_case(make_hive, inst):
    """Windows never writes two such names in one key; which one a read or
    a write meant could not be told, so the key is damaged."""
    path = Hives(make_hive, inst).make("SOFTWARE", {KEY: product("C:", {"DRIVE": (1, utf16("D:"))})})
    return refused_as_damaged(inst, path, b"Drive")


def values_sharing_a_data_cell(make_hive, inst):
    """Two values whose data is one cell: the write would free it twice."""
    path = Hives(make_hive, inst).make("SOFTWARE", {KEY: product()})
    path.write_bytes(share_data_cell(path.read_bytes()))
    return refused_as_damaged(inst, path, b"two of its data cells are one cell")


def no_second_thread(make_hive, inst):
    """A user at the limit of their processes, on a hive as made and one
    padded behind its bins: the run writes the values. Needs root, to act
    as nobody."""
    if os.geteuid() != 0:
        return []
    problems = []
    for padded in (False, True):
        path = Hives(make_hive, inst).make("SOFTWARE", {KEY: product("C:")})
        path.write_bytes(path.read_bytes() + bytes(4096 if padded else 0))
        before = regf.dump(path.read_bytes())
        os.chown(inst.root.parent, 65534, 65534)  # the scratch folder, private to root
        for folder, _, files in os.walk(inst.root):
            for name in [folder] + [os.path.join(folder, f) for f in files]:
                os.chown(name, 65534, 65534, follow_symlinks=False)
        # A sanitizer build's leak check needs a thread of its own as well.
        sanitizer = os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        result = run(PROGRAM, inst, ["F", "-v6/7", "-pY"],
                     env=hive_env(inst, hklm=path, ASAN_OPTIONS=sanitizer.lstrip(":")),
                     prefix=["prlimit", "--nproc=1", "setpriv", "--reuid=65534", "--regid=65534",
                             "--clear-groups"])
        problems += [f"padded={padded}: {p}" for p in result.outcome("ok")]
        problems += [f"padded={padded}: {p}" for p in independent_checks(path) + only_written_changed(
            before, regf.dump(path.read_bytes()), KEY, written("F", "Y"))]
    return problems


def missing_key_and_read_only_hive(make_hive, inst):
    """Quiet cases: values shown empty, nothing written, exit 0."""
    problems = []
    hives = Hives(make_hive, inst)
    no_key = hives.make("SOFTWARE", {"Microsoft": {"x": (4, b"\1\0\0\0")}})
    read_only = hives.make("READONLY", {KEY: product()})
    read_only.chmod(0o444)
    for path in (no_key, read_only):
        before = path.read_bytes()
        result = run_program(inst, ["F", "-v6/7"], hive_env(inst, hklm=path))
        problems += [f"{path.name}: {p}" for p in result.outcome("ok")]
        if b"Current values: \r\n  Drive:      \r\n" not in result.out:
            problems.append(f"{path.name}: values shown: {result.out[:400]!r}")
        if path.read_bytes() != before:
            problems.append(f"{path.name} changed")
    return problems


def hive_behind_a_link(make_hive, inst):
    real = Hives(make_hive, inst).make("SOFTWARE.real", {KEY: product()})
    link = inst.root / "SOFTWARE"
    link.symlink_to(real.name)
    before = regf.dump(real.read_bytes())
    result = run_program(inst, ["F", "-v6/7"], hive_env(inst, hklm=link))
    problems = result.outcome("ok")
    if not link.is_symlink():
        problems.append("the link was replaced by a file")
    problems += independent_checks(real)
    problems += only_written_changed(before, regf.dump(real.read_bytes()), KEY, written("F"))
    return problems


def one_hive_and_the_store(make_hive, inst):
    """HKEY_LOCAL_MACHINE from a hive, HKEY_CURRENT_USER from the store."""
    path = Hives(make_hive, inst).make("SOFTWARE", {KEY: product()})
    hive_before = path.read_bytes()
    result = run_program(inst, ["G", "-v5"], hive_env(inst, hklm=path))
    problems = result.outcome("ok")
    store = read_registry(inst.store.read_bytes())
    if store[HKCU].get("DRIVE") != sz("G:") or path.read_bytes() != hive_before:
        problems.append("HKEY_CURRENT_USER was not served by the store alone")
    store_before = inst.store.read_bytes()
    result = run_program(inst, ["H", "-v6"], hive_env(inst, hklm=path))
    problems += result.outcome("ok")
    drive = regf.find(regf.dump(path.read_bytes()), KEY)["values"]["Drive"]
    if drive != (1, utf16("H:")) or inst.store.read_bytes() != store_before:
        problems.append("HKEY_LOCAL_MACHINE was not served by the hive alone")
    return problems


def stamp_through_the_hive(make_hive, inst):
    """The company file is found through the Drive the hive now holds."""
    path = Hives(make_hive, inst).make("SOFTWARE", {KEY: product()})
    result = run_program(inst, ["F", "-v6/7", "-w2.10"], hive_env(inst, hklm=path))
    problems = result.outcome("ok")
    if b"working dir: F:\\KOVA\\\r\nUpdated TARVEL1: " not in result.out:
        problems.append(f"not stamped through the hive's Drive: {result.out[-300:]!r}")
    return problems


def code_page(make_hive, inst):
    """Text in the hive comes through the code page the installation uses."""
    path = Hives(make_hive, inst).make("SOFTWARE", {KEY: {"Drive": (1, "Ж:".encode("utf-16-le") + b"\0\0")}})
    result = run_program(inst, ["-v6/7"], hive_env(inst, hklm=path, VENDREL_CODEPAGE="1251"))
    problems = result.outcome("ok")
    if b"  Drive:      \xc6:\r\n" not in result.out:
        problems.append(f"not shown in code page 1251: {result.out[:400]!r}")
    result = run_program(inst, ["-v6/7"], hive_env(inst, hklm=path, VENDREL_CODEPAGE="932"))
    problems += result.outcome("ERegistryException")
    return problems


def the_maker_makes_hives_hivex_edits(make_hive, inst):
    """The hives these runs use are made from scratch by make_hive: hivexsh
    opens one, lists it, adds a key and a value and commits, and both
    readers accept what it wrote."""
    path = Hives(make_hive, inst).make("SOFTWARE", {KEY: product(), "Vendor\\Sub": {}})
    script = b"ls\ncd Vendor\nadd Added\ncd Added\nsetval 1\nName\nstring:value\ncommit\n"
    edited = subprocess.run(["hivexsh", "-w", str(path)], input=script, capture_output=True)
    problems = [] if edited.returncode == 0 else [f"hivexsh failed: {edited.stderr[-300:]!r}"]
    if b"Tarvel Global" not in edited.stdout or b"Vendor" not in edited.stdout:
        problems.append(f"hivexsh lists {edited.stdout!r}")
    problems += independent_checks(path)
    added = regf.find(regf.dump(path.read_bytes()), "Vendor\\Added")
    if added is None or list(added["values"]) != ["Name"]:
        problems.append(f"the key hivexsh added reads back as {added!r}")
    if regf.find(regf.dump(path.read_bytes()), KEY)["values"] != product():
        problems.append("the product key changed")
    return problems


# A Windows system volume, as VENDREL_WINDOWS names it.
CURRENT_VERSION = "Microsoft\\Windows NT\\CurrentVersion"


def windows_disk(make_hive, inst, profiles, acp="1252", drive="F:"):
    """A volume at inst.root/disk, its folders in other letter cases than
    Windows spells them: SOFTWARE with the product key under Wow6432Node,
    SystemRoot and a ProfileList of profiles ((folder, SID, image path));
    SYSTEM with the code page; each profile's NTUSER.DAT; the product's
    files. Returns the volume and an environment that names it alone."""
    disk, hives = inst.root / "disk", Hives(make_hive, inst)
    (disk / "windows/SYSTEM32/Config").mkdir(parents=True)
    software = {f"Wow6432Node\\{KEY}": product(drive), CURRENT_VERSION:
                {"SystemRoot": (1, utf16("C:\\WINDOWS")), "CurrentBuildNumber": (1, utf16("19045"))}}
    for folder, sid, image in profiles:
        software[f"{CURRENT_VERSION}\\ProfileList\\{sid}"] = {"ProfileImagePath": (2, utf16(image))}
        (disk / "users" / folder).mkdir(parents=True)
        hives.make(f"disk/users/{folder}/ntuser.dat", {f"Software\\{KEY}": product(drive)})
    hives.make("disk/windows/SYSTEM32/Config/software", software)
    hives.make("disk/windows/SYSTEM32/Config/SYSTEM", {"Select": {"Current": (4, b"\1\0\0\0")},
               "ControlSet001\\Control\\Nls\\CodePage": {"ACP": (1, utf16(acp))}})
    shutil.copytree(inst.kova, disk / "KOVA")
    env = {k: v for k, v in inst.env().items() if k not in ("VENDREL_REGISTRY", "VENDREL_DRIVES")}
    (inst.root / "home").mkdir()
    env.update(VENDREL_WINDOWS=str(disk), HOME=str(inst.root / "home"))
    env.pop("XDG_CONFIG_HOME", None)
    return disk, env


def disk_drive(disk, hive, key):
    return regf.find(regf.dump(hive.read_bytes()), key)["values"]["Drive"]


def windows_disk_alone(make_hive, inst):
    """VENDREL_WINDOWS alone: the machine's hive, the product's files on the
    system drive, the only profile's NTUSER.DAT, the installation's code
    page; standard error says which; nothing is made in HOME."""
    disk, env = windows_disk(make_hive, inst, [("Front.Desk", "S-1-5-21-7-7-7-1001",
                                               "%SystemDrive%\\Users\\Front.Desk")])
    result = run_program(inst, ["C", "-v6/7", "-w2.10", "-dclinic"], env)
    problems = result.outcome("ok")
    if disk_drive(disk, disk / "windows/SYSTEM32/Config/software", f"Wow6432Node\\{KEY}") != (1, utf16("C:")):
        problems.append("the machine's hive holds no new Drive")
    if b"Updated TARVEL1" not in result.out or b"database=" not in (disk / "KOVA/kelvarini.dat").read_bytes():
        problems.append(f"the product's files on C: were not written: {result.out[-300:]!r}")
    said = result.proc.stderr
    for words in (b"config/software\n", b"code page 1252, the installation's", b"Front.Desk (S-1-5-21-7-7-7-1001)"):
        if words.lower() not in said.lower():
            problems.append(f"standard error does not say {words!r}: {said!r}")
    result = run_program(inst, ["D", "-v5"], env)
    problems += result.outcome("ok")
    if disk_drive(disk, disk / "users/Front.Desk/ntuser.dat", f"Software\\{KEY}") != (1, utf16("D:")):
        problems.append("the profile's hive holds no new Drive")
    if any((inst.root / "home").iterdir()):
        problems.append("something was made in HOME")
    return problems


def disk_letter_mapped_elsewhere(make_hive, inst):
    """The drives folder in its default place maps the disk's letter to a
    copy of the disk: the hive written is the disk's own, the product's
    files are the mapped folder's, and standard error says so."""
    disk, env = windows_disk(make_hive, inst, [])
    other = inst.root / "other"
    shutil.copytree(disk, other)
    (inst.root / "home/.config/vendrel/drives").mkdir(parents=True)
    os.symlink(other, inst.root / "home/.config/vendrel/drives/c:")
    before = (other / "windows/SYSTEM32/Config/software").read_bytes()
    result = run_program(inst, ["C", "-v6/7", "-w2.10", "-dclinic"], env)
    problems = result.outcome("ok")
    if disk_drive(disk, disk / "windows/SYSTEM32/Config/software", f"Wow6432Node\\{KEY}") != (1, utf16("C:")):
        problems.append("the disk's hive holds no new Drive")
    if (other / "windows/SYSTEM32/Config/software").read_bytes() != before:
        problems.append("the mapped folder's hive was written")
    if b"database=" not in (other / "KOVA/kelvarini.dat").read_bytes():
        problems.append("the product's files in the mapped folder were not written")
    if b"is the drives folder's" not in result.proc.stderr:
        problems.append(f"standard error does not say where C: is: {result.proc.stderr!r}")
    return problems


def profiles_chosen(make_hive, inst):
    """Two profiles: a per-user run is refused, nothing written, unless
    VENDREL_USER names one by its folder (any case) or SID; a machine-wide
    run needs none. A code page not 1252 comes from the SYSTEM hive; the
    variables a user sets win over what is found."""
    disk, env = windows_disk(make_hive, inst, [("Practice", "S-1-5-21-1-1-1-1001",
                                               "C:\\Users\\Practice"),
                                              ("Admin", "S-1-5-21-1-1-1-500", "%SystemDrive%\\USERS\\admin")],
                             acp="1251", drive="\u0416:")
    hive = disk / "users/Practice/ntuser.dat"
    before = hive.read_bytes()
    problems = []
    for user, kind in ((None, "ERegistryException"), ("nobody", "ERegistryException"),
                       ("pRACTICE", "ok"), ("S-1-5-21-1-1-1-1001", "ok")):
        result = run_program(inst, ["E", "-v5"], dict(env, **({"VENDREL_USER": user} if user else {})))
        problems += [f"VENDREL_USER={user}: {p}" for p in result.outcome(kind)]
        if kind != "ok" and (b"Practice (S-1-5-21-1-1-1-1001)" not in (result.message or b"")
                             or hive.read_bytes() != before):
            problems.append(f"VENDREL_USER={user}: {result.message!r}, or the hive changed")
    if b"Drive:      \xc6:" not in run_program(inst, ["-v6/7"], env, stdin=b"G\r\n").out:
        problems.append("not read through code page 1251")
    result = run_program(inst, ["-v6/7"], dict(env, VENDREL_CODEPAGE="1252", VENDREL_HKLM_HIVE=str(
        Hives(make_hive, inst).make("other", {KEY: product("Q:")}))), stdin=b"H\r\n")
    if b"Drive:      Q:" not in result.out or b"as VENDREL_CODEPAGE names" not in result.proc.stderr:
        problems.append(f"the variables set did not win: {result.out[:300]!r}")
    return problems


def documented_repairs(make_hive, inst):
    """The repairs the README and vendrel(1) show run as written on a copy
    of examples/offline-disk where they mount the disk: the product's key
    then holds C:."""
    checkout = pathlib.Path(__file__).resolve().parents[2]
    readme = (checkout / "README.md").read_text().split("## Repair a Windows disk")[1]
    manual = (checkout / "packaging/vendrel.1").read_text().split("Repair the product on a")[1]
    manual = manual.split(".EX\n")[1].split(".EE")[0]
    manual = manual.replace("\\-", "-").replace("\\(aq", "'").replace("\\e", "\\")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("VENDREL_", "XDG_"))}
    env.update(PATH=f"{pathlib.Path(PROGRAM).parent}:{env['PATH']}", HOME=str(inst.root))
    problems = []
    for source, text in (("README", readme.split("```")[1]), ("manual", manual)):
        disk = inst.root / source
        shutil.copytree(checkout / "examples/offline-disk", disk)
        script = "\n".join(line.replace("sudo ", "").replace("/mnt/windows", str(disk))
                           for line in text.splitlines()
                           if line.startswith(("VENDREL_WINDOWS=", "sudo VENDREL_WINDOWS=", "hivexget")))
        done = subprocess.run(["bash", "-ec", script], env=env, capture_output=True, cwd=inst.root)
        if done.returncode != 0 or b'"Drive"="C:"' not in done.stdout:
            problems.append(f"{source}: {script!r} ended {done.returncode}: {done.stdout[-300:]!r}")
    return problems


SCENARIOS = [the_maker_makes_hives_hivex_edits, software_with_wow64_node, software_without_wow64_node, users_hive,
             names_in_other_cases, many_other_values, refused, missing_key_and_read_only_hive,
             hive_behind_a_link, one_hive_and_the_store, stamp_through_the_hive, code_page,
             names_equal_but_for_case, values_sharing_a_data_cell, no_second_thread,
             dirty_hive_and_its_logs, windows_disk_alone, disk_letter_mapped_elsewhere, profiles_chosen,
             documented_repairs]


def main():
    global PROGRAM
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--make-hive", required=True)
    parser.add_argument("--only", help="run the scenarios whose name holds this text")
    options = parser.parse_args()
    PROGRAM = str(pathlib.Path(options.program).resolve())
    make_hive = str(pathlib.Path(options.make_hive).resolve())
    if shutil.which("hivexsh") is None:
        print("hive runs: hivexsh is missing (Debian package libhivex-bin)")
        return 1
    chosen = [s for s in SCENARIOS if not options.only or options.only in s.__name__]
    if not chosen:
        print(f"hive runs: no scenario's name holds {options.only!r}")
        return 1
    failed = 0
    for scenario in chosen:
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-hive-"))
        try:
            problems = scenario(make_hive, Installation(scratch / "inst"))
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        failed += bool(problems)
        print(f"{'FAIL' if problems else 'ok  '} {scenario.__name__}")
        for problem in problems:
            print("    " + problem)
    print(f"hive runs: {len(chosen)} scenarios, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
