"""Hostile runs about what a file carries besides its bytes: who may write
it, its owner, group, ACLs and extended attributes, its other names, its
name's length, a file-size limit, leftovers of dead runs, and the program's
own file and working folder going away under it.

Runs that must act as another user go through setpriv and need root; where
the tests do not run as root they are skipped with a line that says so."""

import fcntl
import os
import pathlib
import shutil
import subprocess
import time

from harness import HKLM, scrambled
from whole_run import run
from installation import COMPANY, SETTINGS, read_registry, read_settings, records

NOBODY = 65534
MEMBERS = 4242  # a group id the unprivileged runs are given as supplementary
TEMPORARY_MARK = ".vendrel-"
SETTINGS_NAME = "F:\\kova\\kelvarini.dat"


class Skip(Exception):
    """The scenario cannot run on this machine; the message says why."""


def need_root():
    if os.geteuid() != 0:
        raise Skip("needs root, to act as another user with setpriv")


def need_tool(name, package):
    if shutil.which(name) is None:
        raise Skip(f"needs {name} (Debian package {package})")


def as_user(uid=NOBODY, groups=None):
    """The setpriv prefix that runs a command as uid, with the supplementary
    groups given (none by default)."""
    group_args = ["--groups", ",".join(map(str, groups))] if groups else ["--clear-groups"]
    return ["setpriv", "--reuid", str(uid), "--regid", str(uid)] + group_args


def public_program(program, inst):
    """A copy of the program where any user may run it."""
    inst.root.parent.chmod(0o755)
    folder = inst.root.parent / "bin"
    folder.mkdir(exist_ok=True)
    folder.chmod(0o755)
    copy = folder / "vendrel"
    shutil.copy(program, copy)
    copy.chmod(0o755)
    return str(copy)


def open_folders(inst, mode=0o777):
    for folder in (inst.root.parent, inst.root, inst.drives, inst.drives / "share", inst.kova):
        folder.chmod(mode)


def leftovers(*folders):
    return [p.name for folder in folders for p in pathlib.Path(folder).iterdir()
            if TEMPORARY_MARK in p.name]


def identity(path):
    st = os.stat(path)
    return (st.st_uid, st.st_gid, st.st_mode, st.st_ino, st.st_nlink)


def files_unchanged(inst, store=None, settings=None):
    problems = []
    if store is not None and inst.store.read_bytes() != store:
        problems.append("the store changed")
    if settings is not None and inst.settings.read_bytes() != settings:
        problems.append("the settings file changed")
    return problems


def values_written(inst, drive=b"F:"):
    values = read_registry(inst.store.read_bytes())[HKLM]
    if values.get("DRIVE") != (1, drive + b"\0"):
        return [f"Drive is {values.get('DRIVE')!r}"]
    return []


def database_written(inst, name=b"clinic", path=None):
    _, entries = read_settings((path or inst.settings).read_bytes())
    if entries[b"database"] != scrambled(name) or entries[b"langver"] is not None:
        return [f"settings entries are {entries!r}"]
    return []


def files_the_user_may_not_write(program, inst):
    """Owned by root in folders anyone may write: the store by its mode, the
    settings file by an ACL entry for the user (its mode alone would let
    others write). Neither may be replaced by a user who may not write it."""
    need_root()
    need_tool("setfacl", "acl")
    program = public_program(program, inst)
    open_folders(inst)
    inst.store.chmod(0o644)
    inst.settings.chmod(0o666)
    subprocess.run(["setfacl", "-m", f"u:{NOBODY}:r--", str(inst.settings)], check=True)
    before = (inst.store.read_bytes(), inst.settings.read_bytes())
    owners = (identity(inst.store), identity(inst.settings))
    result = run(program, inst, ["F", "-v6/7", "-dclinic"], prefix=as_user())
    problems = result.outcome("EIniFileException")
    if not (result.message or b"").startswith(b"Unable to write to " + SETTINGS_NAME.encode()):
        problems.append(f"report message {result.message!r}")
    if b"Current values: \r\n  Drive:      \r\n" not in result.out:
        problems.append("the store was read although the user may not write it")
    problems += files_unchanged(inst, *before)
    if (identity(inst.store), identity(inst.settings)) != owners:
        problems.append("a file changed owner, mode or inode")
    return problems + [f"left {name}" for name in leftovers(inst.root, inst.kova)]


def folders_that_cannot_be_listed(program, inst):
    """Folders the user may write and enter but not read (mode 0333): the
    update is in place when the rename returns, so the run must say so."""
    need_root()
    program = public_program(program, inst)
    for path in [inst.root, inst.drives, inst.drives / "share", inst.kova, inst.store,
                 inst.settings, inst.company]:
        os.chown(path, NOBODY, NOBODY)
    inst.root.parent.chmod(0o755)
    inst.root.chmod(0o333)
    inst.kova.chmod(0o333)
    try:
        result = run(program, inst, ["F", "-v6/7", "-dclinic"], prefix=as_user())
    finally:
        inst.root.chmod(0o755)
        inst.kova.chmod(0o755)
    return (result.outcome("ok") + values_written(inst) + database_written(inst) +
            [f"left {name}" for name in leftovers(inst.root, inst.kova)])


UTF16_FILES = {
    "big-endian with a mark": b"\xfe\xff" + "[POSTGRES_SERVER]\r\nport=5432\r\n".encode("utf-16-be"),
    "little-endian without a mark": "[POSTGRES_SERVER]\r\nport=5432\r\n".encode("utf-16-le"),
    "big-endian without a mark": "[POSTGRES_SERVER]\r\nport=5432\r\n".encode("utf-16-be"),
    "little-endian with a mark": b"\xff\xfe" + "[GENERAL]\r\n".encode("utf-16-le"),
}


def utf16_settings_files(program, inst):
    problems = []
    for what, text in UTF16_FILES.items():
        inst.settings.write_bytes(text)
        result = run(program, inst, ["F", "-v6/7", "-dclinic"])
        problems += [f"{what}: {p}" for p in result.outcome("EIniFileException")]
        message = result.message or b""
        if not message.startswith(b"Unable to write to " + SETTINGS_NAME.encode() + b": ") or \
                b"UTF-16" not in message:
            problems.append(f"{what}: the report does not say why: {message!r}")
        if inst.settings.read_bytes() != text:
            problems.append(f"{what}: the file changed")
    return problems


def file_size_limit(program, inst):
    """Under ulimit -f every writing step ends in its own report; the
    temporary file of a refused rewrite is gone."""
    problems = []
    store, settings = inst.store.read_bytes(), inst.settings.read_bytes()
    result = run(program, inst, ["F", "-v6/7", "-w2.10", "-dclinic"], limit=100)
    problems += ["store: " + p for p in result.outcome("ERegistryException")]
    if result.message != b"Failed to set data for 'Drive'":
        problems.append(f"store: report message {result.message!r}")
    problems += files_unchanged(inst, store, settings)

    # A settings file larger than the limit, a store smaller than it.
    padded = b";" + b"x" * 3000 + b"\r\n" + SETTINGS
    inst.settings.write_bytes(padded)
    result = run(program, inst, ["F", "-v6/7", "-dclinic"], limit=2000)
    problems += ["settings: " + p for p in result.outcome("EIniFileException")]
    problems += values_written(inst) + files_unchanged(inst, settings=padded)

    # Records past the limit cannot be stamped: the first one is.
    result = run(program, inst, ["F", "-v6/7", "-w2.10"], limit=2 * 359)
    problems += ["company: " + p for p in result.outcome("EInOutError")]
    if b"Updated TARVEL1: " not in result.out or b"Updated TARVEL2: " in result.out:
        problems.append(f"company: stamped {result.out.count(b'Updated')} records")
    now = records(inst.company.read_bytes())
    if now[2:] != records(COMPANY)[2:]:
        problems.append("company: records past the limit changed")
    return problems + [f"left {name}" for name in leftovers(inst.root, inst.kova)]


def deleted_working_directory(program, inst):
    gone = inst.root / "gone"
    gone.mkdir()
    holder = subprocess.Popen(["sleep", "30"], cwd=gone)
    gone.rmdir()
    try:
        # The process starts in a folder that is already gone: Popen's cwd
        # cannot name it, so the run enters it through the sleeping holder.
        result = run(program, inst, ["F", "-w2.10"], cwd=f"/proc/{holder.pid}/cwd",
                     env=inst.env(VENDREL_REGISTRY=str(inst.root / "no-store.reg")))
    finally:
        holder.kill()
        holder.wait()
    problems = result.outcome("EAbort")
    if b"Error: could not open dromfile.dat  error 3.  Program will abort.\r\n" not in result.out:
        problems.append(f"no open error 3: {result.out[-300:]!r}")
    return problems


def group_kept_for_a_group_member(program, inst):
    """A member of the files' group, not their owner, writes them: the group
    (and with it the owner) stays."""
    need_root()
    program = public_program(program, inst)
    for path in (inst.root, inst.kova):
        os.chown(path, 0, MEMBERS)
        path.chmod(0o775)
    inst.root.parent.chmod(0o755)
    for path in (inst.store, inst.settings):
        os.chown(path, 0, MEMBERS)
        path.chmod(0o664)
    before = (identity(inst.store), identity(inst.settings))
    result = run(program, inst, ["F", "-v6/7", "-dclinic"], prefix=as_user(groups=[MEMBERS]))
    problems = result.outcome("ok") + values_written(inst) + database_written(inst)
    for path, was in zip((inst.store, inst.settings), before):
        now = identity(path)
        if now[:3] != was[:3]:
            problems.append(f"{path.name}: owner, group, mode {now[:3]} were {was[:3]}")
    return problems + [f"left {name}" for name in leftovers(inst.root, inst.kova)]


def xattrs(path):
    return {name: os.getxattr(path, name) for name in os.listxattr(path)}


def acls_and_attributes_kept(program, inst):
    need_tool("setfacl", "acl")
    problems = []
    for path in (inst.store, inst.settings):
        path.chmod(0o640)
        subprocess.run(["setfacl", "-m", f"u:{NOBODY}:rw,m::rw", str(path)], check=True)
        os.setxattr(path, "user.origin", b"product installer")
        try:
            os.setxattr(path, "security.vendrel-test", b"kept where permitted")
        except OSError:
            pass
    before = {p: (xattrs(p), os.stat(p).st_mode) for p in (inst.store, inst.settings)}
    result = run(program, inst, ["F", "-v6/7", "-dclinic"])
    problems += result.outcome("ok") + values_written(inst) + database_written(inst)
    for path, (attributes, mode) in before.items():
        if xattrs(path) != attributes:
            problems.append(f"{path.name}: attributes {xattrs(path)!r} were {attributes!r}")
        if os.stat(path).st_mode != mode:
            problems.append(f"{path.name}: mode {os.stat(path).st_mode:o} was {mode:o}")
    return problems


def hard_linked_files(program, inst):
    """The settings file is one file in two product folders, the store one
    file under two names: every name sees the change."""
    other = inst.drives / "other" / "kova"
    other.mkdir(parents=True)
    os.symlink("other", inst.drives / "g:")
    os.link(inst.settings, other / "kelvarini.dat")
    os.link(inst.store, inst.root / "registry-copy.reg")
    result = run(program, inst, ["F", "-v6/7", "-dclinic"])
    problems = result.outcome("ok") + values_written(inst) + database_written(inst)
    for first, second in ((inst.settings, other / "kelvarini.dat"),
                          (inst.store, inst.root / "registry-copy.reg")):
        a, b = os.stat(first), os.stat(second)
        if (a.st_ino, a.st_nlink) != (b.st_ino, 2) or first.read_bytes() != second.read_bytes():
            problems.append(f"{first.name} and {second.name} are no longer one file")
    return problems + [f"left {name}" for name in leftovers(inst.root, inst.kova, other)]


def long_file_names(program, inst):
    problems = []
    for length in (248, 255):
        store = inst.root / ("r" * (length - 4) + ".reg")
        shutil.copy(inst.store, store)
        result = run(program, inst, ["F", "-v6/7"], env=inst.env(VENDREL_REGISTRY=str(store)))
        problems += [f"{length} bytes: {p}" for p in result.outcome("ok")]
        if read_registry(store.read_bytes())[HKLM].get("DRIVE") != (1, b"F:\0"):
            problems.append(f"{length} bytes: the store was not written")
    return problems + [f"left {name}" for name in leftovers(inst.root)]


def leftovers_of_dead_runs(program, inst):
    """Temporary files of runs that died are cleared by the next run that
    updates a file there; one a live run holds stays."""
    dead = [inst.root / ".registry.reg.vendrel-Dead01", inst.kova / ".kelvarini.dat.vendrel-Dead02"]
    for path in dead:
        path.write_bytes(b"half a file")
    live = inst.root / ".registry.reg.vendrel-Live01"
    live.write_bytes(b"being written")
    mine = inst.root / "not-ours.vendrel"
    mine.write_bytes(b"a user's file")
    with open(live, "rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        result = run(program, inst, ["F", "-v6/7", "-dclinic"])
        still = live.exists()
    problems = result.outcome("ok") + values_written(inst) + database_written(inst)
    problems += [f"{path.name} was not cleared" for path in dead if path.exists()]
    if not still:
        problems.append("a live run's temporary file was removed")
    if not mine.exists():
        problems.append("a file not of the program's naming was removed")
    return problems


def program_replaced_during_run(program, inst):
    copy = inst.root / "vendrel"
    shutil.copy(program, copy)
    inst.company.unlink()
    proc = subprocess.Popen([str(copy), "-v6/7", "-w2.10"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=inst.env(),
                            cwd=inst.root)
    prompt = b""
    deadline = time.monotonic() + 30
    while not prompt.endswith(b"enter new value(s):") and time.monotonic() < deadline:
        prompt += os.read(proc.stdout.fileno(), 4096)
    replacement = inst.root / "vendrel.new"
    shutil.copy(program, replacement)
    os.replace(replacement, copy)
    out, _ = proc.communicate(b"F\r\n\r\n", timeout=60)
    if b"Exception EAbort in module vendrel at " not in out:
        return [f"module named as {out[-120:]!r}"]
    return []


SCENARIOS = [files_the_user_may_not_write, folders_that_cannot_be_listed, utf16_settings_files,
             file_size_limit, deleted_working_directory, group_kept_for_a_group_member,
             acls_and_attributes_kept, hard_linked_files, long_file_names,
             leftovers_of_dead_runs, program_replaced_during_run]
