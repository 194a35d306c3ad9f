"""Whole runs of the Linux build on a disk nobody vouches for: what the
drive's folder holds (links, hard links, attributes, special files, planted
journals, locks, a read-only mount) is whatever an attacker put there. The
run must never reach outside that folder, never open a special file, never
hang, and must say so when it could not do its work.

One scenario per finding of the hostile-disk review, run as root and, where
another user makes a difference, as nobody (setpriv). Every run is bounded
by a timeout. Where a tool or a kernel feature is missing, the scenario
says why and is skipped."""

import argparse
import ctypes
import fcntl
import hashlib
import os
import pathlib
import pty
import select
import shutil
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
import tty

from harness import HKLM, RECORD_SIZE, record, scrambled, stamped, sz
import hostile_rights
from hostile_rights import (NOBODY, SETTINGS_NAME, Skip, as_user, database_written, need_root,
                            need_tool)
from installation import (COMPANY, REGISTRY, SETTINGS, Installation, hive_values,
                          make_software_hive, read_settings, records)
import regedit4
import whole_run

ARGS = ["F", "-v6/7"]
# Every run is bounded; no scenario needs more than a few seconds.
whole_run.HANG = 20
# Another holder of a lock is waited for this long, then the file is in use.
LOCK_WAIT = 5
JOURNAL_NAME = ".kelvarini.dat.vendrel-journal"
# The report on anything at a journal's name that this program did not
# write for the file: "<journal> is not a journal this program wrote ...:
# remove it to go on".
NOT_OURS = (b"is not a journal this program wrote", b"remove it to go on")
SETTINGS_REPORT = b"Unable to write to " + SETTINGS_NAME.encode()
OTHER_USER = 4243  # owns nothing the run may trust

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


def terminal_escapes(ctx):
    """A stored value that would clear the screen and rewrite its own line
    is shown escaped on a terminal, and goes out as it is into a pipe."""
    program, inst = ctx.program, ctx.inst
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
    piped = ctx.run(ARGS)
    problems += ["into a pipe: " + p for p in piped.outcome("ok")]
    if b"  InstPath:   " + HOSTILE_TEXT + b"\r\n" not in piped.out:
        problems.append(f"into a pipe, the value is not as stored: {piped.out[:400]!r}")
    return problems



# The run's surroundings.

HOST_COMPANY = b"".join(record(i, b"Host secret %d" % i) for i in range(4))
HOST_SETTINGS = b"[HOST]\r\nowner=the machine, not the disk\r\n"


class Context:
    """One scenario's installation, the host files beside it that no run
    may touch, and who runs: root, or nobody owning the whole installation
    (nobody may then write it, as its owner)."""

    def __init__(self, options, inst, user):
        self.options, self.inst, self.user = options, inst, user
        self.scratch = inst.root.parent
        self.share = inst.drives / "share"  # the drive's folder
        self.kova = inst.kova
        self.host = self.scratch / "host"
        if not self.host.exists():
            self.host.mkdir()
            (self.host / "dromfile.dat").write_bytes(HOST_COMPANY)
            (self.host / "kelvarini.dat").write_bytes(HOST_SETTINGS)
        self.program = options.program
        self.prefix = []
        self.problems = []
        self.unwatched = set()  # folders beside the drive a scenario uses for itself
        self._handed_over = False

    def another(self, root):
        """A second installation in the same scratch folder, run the same way."""
        return Context(self.options, Installation(root), self.user)

    def hand_over(self, keep=()):
        """For nobody: the installation becomes nobody's (but the paths in
        keep), and the program is copied where nobody may run it."""
        if self.user == "root" or self._handed_over:
            return
        need_root()
        self._handed_over = True
        if not pathlib.Path(self.program).is_relative_to(self.scratch / "bin"):
            self.program = hostile_rights.public_program(self.program, self.inst)
        keep = {pathlib.Path(p) for p in keep}
        for path in [self.inst.root, *self.inst.root.rglob("*")]:
            if path not in keep and not path.is_relative_to(self.scratch / "bin"):
                os.lchown(path, NOBODY, NOBODY)
        self.prefix = as_user()

    def memory_limit(self, size):
        """The prefix that runs the program within size bytes of address
        space, where the build allows it."""
        if self.options.no_memory_limit:
            return []
        return ["prlimit", f"--as={size}", "--"]

    def run(self, args, env=None, prefix=(), program=None, **kw):
        """A run, with a check that nothing outside the drive's folder (and
        the store) was created, changed or removed."""
        self.hand_over()
        before = outside_the_drive(self)
        result = whole_run.run(program or self.program, self.inst, args, env=env,
                               prefix=list(prefix) + self.prefix, **kw)
        after = outside_the_drive(self)
        for path in sorted(before.keys() | after.keys()):
            if before.get(path) != after.get(path):
                what = "created" if path not in before else "removed" if path not in after \
                    else "changed"
                self.problems.append(f"outside the drive, {path} was {what}")
        return result

    def public(self, program):
        """program where the running user may run it."""
        if self.user == "root":
            return program
        self.hand_over()
        folder = self.scratch / "bin"
        copy = folder / pathlib.Path(program).name
        shutil.copy(program, copy)
        copy.chmod(0o755)
        return str(copy)


def outside_the_drive(ctx):
    """Everything in the scratch folder but the drive's folder, the store
    and the program's copy, as (kind, content) by path."""
    seen = {}
    for folder, dirs, files in os.walk(ctx.scratch):
        here = pathlib.Path(folder)
        skipped = {ctx.share, ctx.scratch / "bin"} | ctx.unwatched
        dirs[:] = [d for d in dirs if here / d not in skipped]
        for name in dirs + files:
            path = here / name
            # The store, and the temporaries of its own update.
            if path == ctx.inst.store or name.startswith("." + ctx.inst.store.name + "."):
                continue
            info = os.lstat(path)
            if stat.S_ISREG(info.st_mode):
                content = hashlib.sha256(path.read_bytes()).hexdigest()
            elif stat.S_ISLNK(info.st_mode):
                content = os.readlink(path)
            else:
                content = info.st_rdev
            seen[str(path.relative_to(ctx.scratch))] = (stat.S_IFMT(info.st_mode), content)
    return seen


IN_ACCESS, IN_MODIFY, IN_ATTRIB, IN_OPEN = 0x1, 0x2, 0x4, 0x20
IN_DELETE_SELF, IN_MOVE_SELF = 0x400, 0x800
EVENTS = {IN_ACCESS: "read", IN_MODIFY: "written", IN_OPEN: "opened",
          IN_DELETE_SELF: "removed", IN_MOVE_SELF: "moved"}


class Untouched:
    """Watches planted special files (inotify): none may be opened, read,
    written, truncated, moved or removed, and each is still what it was."""

    def __init__(self, *paths):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise Skip("no inotify on this machine")
        self.paths = {}
        for path in paths:
            wd = self.libc.inotify_add_watch(self.fd, str(path).encode(),
                                             IN_ACCESS | IN_MODIFY | IN_OPEN | IN_DELETE_SELF
                                             | IN_MOVE_SELF)
            if wd < 0:
                raise OSError(ctypes.get_errno(), f"inotify_add_watch {path}")
            info = os.lstat(path)
            self.paths[wd] = (pathlib.Path(path), info.st_ino, info.st_mode)

    def problems(self):
        found = []
        try:
            data = os.read(self.fd, 65536)
        except BlockingIOError:
            data = b""
        finally:
            os.close(self.fd)
        offset = 0
        while offset < len(data):
            wd, mask, _, length = struct.unpack_from("iIII", data, offset)
            offset += 16 + length
            if wd in self.paths:
                for bit, what in EVENTS.items():
                    if mask & bit:
                        found.append(f"{self.paths[wd][0].name} was {what}")
        for path, inode, mode in self.paths.values():
            try:
                info = os.lstat(path)
            except FileNotFoundError:
                found.append(f"{path.name} is gone")
                continue
            if (info.st_ino, info.st_mode) != (inode, mode):
                found.append(f"{path.name} was replaced")
        return sorted(set(found))


def same_file(path, data):
    if not os.path.lexists(path):
        return [f"{path.name} is gone"]
    return [] if pathlib.Path(path).read_bytes() == data else [f"{path.name} changed"]


def report_problems(result, kind, message_start=None, holds=None):
    """The run ended in a report of the kind, its message starting with
    message_start and holding holds."""
    problems = result.outcome(kind)
    message = result.message or b""
    if message_start is not None and not message.startswith(message_start):
        problems.append(f"report message {message!r}")
    for part in (holds,) if isinstance(holds, bytes) else holds or ():
        if part not in message:
            problems.append(f"the report does not say {part.decode()!r}: {message!r}")
    return problems


def company_open_error(result, codes):
    line = b"Error: could not open F:\\KOVA\\dromfile.dat  error "
    at = result.out.find(line)
    code = result.out[at + len(line):].split(b".")[0] if at >= 0 else b""
    if code not in codes:
        return [f"no open error {b' or '.join(codes).decode()}: {result.out[-300:]!r}"]
    return []


def inside(ctx, host_path):
    """Where an absolute link to host_path ends when the drive's folder is
    its root."""
    return ctx.share / pathlib.Path(host_path).relative_to("/")


def second_name(ctx):
    """A second name for the settings file on the disk, which makes the run
    rewrite it in place under a journal."""
    other = ctx.share / "other"
    other.mkdir(exist_ok=True)
    os.link(ctx.inst.settings, other / "kelvarini.dat")
    return other / "kelvarini.dat"


def old_journal_name(ctx):
    info = os.stat(ctx.inst.settings)
    return ctx.kova / f".vendrel-journal.{info.st_dev:x}.{info.st_ino:x}"


def settings_refused(ctx, result, holds=None):
    return report_problems(result, "EIniFileException", SETTINGS_REPORT, holds) + \
        same_file(ctx.inst.settings, SETTINGS)


# Finding 1: links on the disk.

def absolute_link_to_a_host_company_file(ctx):
    """KOVA/dromfile.dat -> <host>/dromfile.dat opens <drive>/<host>/...,
    which is missing: an open error, and the host file is untouched."""
    ctx.inst.company.unlink()
    os.symlink(ctx.host / "dromfile.dat", ctx.inst.company)
    result = ctx.run(ARGS + ["-w2.10"])
    problems = result.outcome("EAbort") + company_open_error(result, (b"2", b"3"))
    if b"Host secret" in result.out:
        problems.append("the host file's records were shown")
    return problems + same_file(ctx.host / "dromfile.dat", HOST_COMPANY)


def absolute_link_to_a_host_settings_file(ctx):
    """kelvarini.dat -> <host>/kelvarini.dat: with no such folder on the
    drive the write fails (code 3); with one, the drive's file is written."""
    ctx.inst.settings.unlink()
    os.symlink(ctx.host / "kelvarini.dat", ctx.inst.settings)
    result = ctx.run(ARGS + ["-dclinic"])
    problems = report_problems(result, "EIniFileException", SETTINGS_REPORT)
    mirror = inside(ctx, ctx.host / "kelvarini.dat")
    mirror.parent.mkdir(parents=True)
    mirror.write_bytes(SETTINGS)
    if ctx.user != "root":
        os.chown(mirror, NOBODY, NOBODY)
        for folder in [mirror.parent, *mirror.parent.parents]:
            if folder == ctx.share:
                break
            os.chown(folder, NOBODY, NOBODY)
    result = ctx.run(ARGS + ["-dclinic"])
    problems += ["inside the drive: " + p for p in result.outcome("ok")]
    problems += database_written(ctx.inst, path=mirror) if mirror.exists() else ["no file inside"]
    if not ctx.inst.settings.is_symlink():
        problems.append("kelvarini.dat is no longer a link")
    return problems + same_file(ctx.host / "kelvarini.dat", HOST_SETTINGS)


def dangling_absolute_link(ctx):
    """kelvarini.dat -> <host>/new.dat, missing: the file is created inside
    the drive only."""
    target = ctx.host / "new.dat"
    ctx.inst.settings.unlink()
    os.symlink(target, ctx.inst.settings)
    inside(ctx, target).parent.mkdir(parents=True)
    result = ctx.run(ARGS + ["-dclinic"])
    problems = result.outcome("ok")
    if target.exists():
        problems.append("the host file was created")
    made = inside(ctx, target)
    problems += database_written(ctx.inst, path=made) if made.exists() else \
        ["the file was not created inside the drive"]
    return problems


def relative_link_that_climbs_out(ctx):
    """KOVA -> ../../.. climbs from the drive's folder to the scratch folder
    on the host; inside the drive, .. stops at its top: KOVA is the drive's
    root, whose files are the ones used."""
    shutil.rmtree(ctx.kova)
    os.symlink("../../..", ctx.kova)
    (ctx.share / "kelvarini.dat").write_bytes(SETTINGS)
    (ctx.share / "dromfile.dat").write_bytes(COMPANY)
    climbed = ctx.share / "../../.."
    (climbed / "kelvarini.dat").write_bytes(HOST_SETTINGS)
    (climbed / "dromfile.dat").write_bytes(HOST_COMPANY)
    result = ctx.run(ARGS + ["-w2.10", "-dclinic"])
    problems = result.outcome("ok")
    problems += database_written(ctx.inst, path=ctx.share / "kelvarini.dat")
    want = records(COMPANY)[0] + b"".join(stamped(r, b"2.10") for r in records(COMPANY)[1:6])
    if (ctx.share / "dromfile.dat").read_bytes()[:6 * RECORD_SIZE] != want:
        problems.append("the drive's company file was not stamped")
    return problems


def links_that_stay_inside_work(ctx):
    """An absolute link naming a place on the disk and a relative one that
    stays on it are followed, and stay links."""
    data = ctx.share / "data"
    data.mkdir()
    ctx.inst.company.rename(data / "dromfile.dat")
    ctx.inst.settings.rename(data / "kelvarini.dat")
    os.symlink("/data/dromfile.dat", ctx.inst.company)
    os.symlink("../data/kelvarini.dat", ctx.inst.settings)
    result = ctx.run(ARGS + ["-w2.10", "-dclinic"])
    problems = result.outcome("ok") + database_written(ctx.inst, path=data / "kelvarini.dat")
    if b"Updated TARVEL5: Practice 5" not in result.out:
        problems.append(f"the company file was not stamped: {result.out[-200:]!r}")
    problems += [f"{p.name} is no longer a link" for p in (ctx.inst.company, ctx.inst.settings)
                 if not p.is_symlink()]
    return problems


# Finding 2: the journal attribute.

def journal_attribute_is_ignored(ctx):
    """user.vendrel.journal names a host file, then /dev/zero: neither is
    read or removed; the run works as if the attribute were not there."""
    victim = ctx.host / "kelvarini.dat"
    problems = []
    for named in (str(victim), "/dev/zero"):
        ctx.inst.settings.write_bytes(SETTINGS)
        try:
            os.setxattr(ctx.inst.settings, "user.vendrel.journal", named.encode())
        except OSError as error:
            raise Skip(f"the scratch folder takes no user attributes ({error})")
        # A run that reads /dev/zero whole would take the machine's memory.
        result = ctx.run(ARGS + ["-dclinic"], prefix=ctx.memory_limit(1 << 30))
        problems += [f"{named}: {p}" for p in result.outcome("ok") + database_written(ctx.inst)]
    return problems + same_file(victim, HOST_SETTINGS)


# Findings 3 and 7: special files.

def fifo_at_the_journal_name(ctx):
    """FIFOs at the journal's name (and at the name older runs used) beside
    a hard-linked settings file: not opened, not removed; the file counts as
    in use, with a report that says why, at once."""
    second_name(ctx)
    planted = [ctx.kova / JOURNAL_NAME, old_journal_name(ctx)]
    for path in planted:
        os.mkfifo(path)
    ctx.hand_over()
    watch = Untouched(*planted)
    result = ctx.run(ARGS + ["-dclinic"])
    problems = settings_refused(ctx, result, NOT_OURS) + watch.problems()
    if JOURNAL_NAME.encode() not in (result.message or b""):
        problems.append("the report does not name the journal")
    return problems


def devices_at_the_journal_name(ctx):
    """A character device and, where a loop device can be made, a block
    device at the journal's name: never opened, the disk behind the block
    device unchanged."""
    need_root()
    second_name(ctx)
    os.mknod(old_journal_name(ctx), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    backing = ctx.scratch / "backing.img"
    backing.write_bytes(bytes(range(256)) * 4096)
    loop = None
    if shutil.which("losetup"):
        made = subprocess.run(["losetup", "--find", "--show", str(backing)],
                              capture_output=True, text=True)
        loop = made.stdout.strip() if made.returncode == 0 else None
    if loop:
        os.mknod(ctx.kova / JOURNAL_NAME, 0o666 | stat.S_IFBLK, os.stat(loop).st_rdev)
    else:
        print("    (no loop device: a character device only)")
        os.mknod(ctx.kova / JOURNAL_NAME, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    try:
        ctx.hand_over()
        watch = Untouched(ctx.kova / JOURNAL_NAME, old_journal_name(ctx))
        result = ctx.run(ARGS + ["-dclinic"])
        problems = settings_refused(ctx, result, NOT_OURS) + watch.problems()
    finally:
        if loop:
            subprocess.run(["losetup", "-d", loop], check=False)
    if backing.read_bytes() != bytes(range(256)) * 4096:
        problems.append("the disk behind the block device was written")
    return problems


def special_files_as_the_settings_file(ctx):
    """kelvarini.dat a FIFO, a device node or a socket: refused (code 5),
    never opened."""
    problems = []
    for kind in ("fifo", "device", "socket"):
        ctx.inst.settings.unlink()
        holder = None
        if kind == "fifo":
            os.mkfifo(ctx.inst.settings)
        elif kind == "device":
            need_root()
            os.mknod(ctx.inst.settings, 0o666 | stat.S_IFCHR, os.makedev(1, 5))
        else:
            holder = socket.socket(socket.AF_UNIX)
            holder.bind(str(ctx.inst.settings))
        if ctx.user != "root":
            os.lchown(ctx.inst.settings, NOBODY, NOBODY)
        watch = Untouched(ctx.inst.settings)
        result = ctx.run(ARGS + ["-dclinic"])
        problems += [f"{kind}: {p}" for p in report_problems(result, "EIniFileException",
                                                             SETTINGS_REPORT) + watch.problems()]
        if holder:
            holder.close()
    return problems


def special_files_as_the_company_file(ctx):
    """dromfile.dat a FIFO or a device node: "could not open ... error 5",
    never opened."""
    problems = []
    for kind in ("fifo", "device"):
        ctx.inst.company.unlink()
        if kind == "fifo":
            os.mkfifo(ctx.inst.company)
        else:
            need_root()
            os.mknod(ctx.inst.company, 0o666 | stat.S_IFCHR, os.makedev(1, 5))
        if ctx.user != "root":
            os.lchown(ctx.inst.company, NOBODY, NOBODY)
        watch = Untouched(ctx.inst.company)
        result = ctx.run(ARGS + ["-w2.10"])
        problems += [f"{kind}: {p}" for p in result.outcome("EAbort")
                     + company_open_error(result, (b"5",)) + watch.problems()]
    return problems


def special_files_named_as_leftovers(ctx):
    """Special files with the names of a dead run's temporaries are never
    opened or removed; a regular leftover still is."""
    fifo = ctx.kova / ".kelvarini.dat.vendrel-Ab12Cd"
    os.mkfifo(fifo)
    planted = [fifo]
    if os.geteuid() == 0:
        device = ctx.kova / ".kelvarini.dat.vendrel-Cd34Ef"
        os.mknod(device, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        planted.append(device)
    holder = socket.socket(socket.AF_UNIX)
    holder.bind(str(ctx.kova / ".kelvarini.dat.vendrel-Ef56Gh"))
    planted.append(ctx.kova / ".kelvarini.dat.vendrel-Ef56Gh")
    dead = ctx.kova / ".kelvarini.dat.vendrel-Dead01"
    dead.write_bytes(b"half a file")
    ctx.hand_over()
    watch = Untouched(*planted)
    result = ctx.run(ARGS + ["-dclinic"])
    holder.close()
    problems = result.outcome("ok") + database_written(ctx.inst) + watch.problems()
    if dead.exists():
        problems.append("the regular leftover was not cleared")
    return problems


# Finding 4: names looked up twice in a folder others may write.

ATTACKER = r"""
import ctypes, os, struct, sys, time
folder, target, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
libc = ctypes.CDLL(None, use_errno=True)
fd = libc.inotify_init1(0)
libc.inotify_add_watch(fd, folder.encode(), 0x100 | 0x80 | 0x2)  # create, moved to, modify
end = time.monotonic() + seconds
while time.monotonic() < end:
    data = os.read(fd, 65536)
    offset = 0
    while offset < len(data):
        _, _, _, length = struct.unpack_from("iIII", data, offset)
        name = data[offset + 16:offset + 16 + length].rstrip(b"\0").decode("latin-1")
        offset += 16 + length
        if ".vendrel-" in name and "journal" not in name:
            path = os.path.join(folder, name)
            try:
                if not os.path.islink(path):
                    os.unlink(path)
                    os.symlink(target, path)
                    print(name, flush=True)
            except OSError:
                pass
"""


def temporaries_swapped_for_links(ctx):
    """In a folder anyone may write, another user swaps every temporary file
    for a link to the running user's private file as soon as it appears.
    The private file is never written, and never copied where the other
    user can read it; a run that ends well and leaves a file in place has put
    its own file there."""
    need_root()
    private = ctx.host / "private"
    secret = b"[PRIVATE]\r\nkey=root's own secret\r\n"
    private.write_bytes(secret)
    private.chmod(0o600)
    hive = None
    if ctx.options.make_hive:
        hive = ctx.kova / "SOFTWARE"
        make_software_hive(ctx.options.make_hive, hive, REGISTRY[HKLM])
    for folder in (ctx.scratch, ctx.inst.root, ctx.inst.drives, ctx.share):
        folder.chmod(0o755)
    ctx.kova.chmod(0o777)
    script = ctx.scratch / "attacker.py"
    script.write_text(ATTACKER)
    script.chmod(0o644)
    attacker = subprocess.Popen(as_user() + [sys.executable, str(script), str(ctx.kova),
                                             str(private), "15"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    problems = []
    try:
        time.sleep(0.3)
        for attempt in range(8):
            name = b"clinic%d" % attempt
            result = ctx.run(ARGS + ["-d" + name.decode()])
            found = result.outcome()
            # The other user may rename anything in this folder at any time,
            # the file itself included, so a link in its place afterwards
            # proves nothing; a file in its place after a run that ended
            # well holds what the run wrote.
            # The four removals' failures are passed over, as the product's
            # rules have it: the entry written is what counts.
            if result.proc.returncode == 0 and not ctx.inst.settings.is_symlink():
                entries = read_settings(ctx.inst.settings.read_bytes())[1]
                if entries[b"database"] != scrambled(name):
                    found.append(f"ended well, but the settings entries are {entries!r}")
            problems += [f"settings, run {attempt}: {p}" for p in found]
            if ctx.inst.settings.is_symlink():  # the next run gets a file again
                ctx.inst.settings.unlink()
                ctx.inst.settings.write_bytes(SETTINGS)
            if hive:
                letter = "FG"[attempt % 2]
                result = ctx.run([letter, "-v6/7"], env=ctx.inst.env(VENDREL_HKLM_HIVE=str(hive)))
                found = result.outcome()
                if result.proc.returncode == 0:
                    found += ["ended well, but " + p for p in hive_written(hive, letter)]
                problems += [f"hive, run {attempt}: {p}" for p in found]
                if hive.is_symlink():
                    hive.unlink()
                    make_software_hive(ctx.options.make_hive, hive, REGISTRY[HKLM])
    finally:
        attacker.kill()
        swapped = attacker.communicate()[0].split()
    # A temporary file has a name only for the moment before its rename: on
    # a busy machine the other user may catch none, which is no fault.
    print(f"    {len(swapped)} temporary files swapped for links")
    if not hive:
        print("    (no --make-hive: the hive's commit is not tried)")
    problems += same_file(private, secret)
    for path in ctx.kova.iterdir():
        if path.is_file() and not path.is_symlink() and b"root's own secret" in path.read_bytes():
            problems.append(f"the private file was copied into {path.name}")
    return sorted(set(problems))


def hive_written(hive, letter):
    if hive.is_symlink():
        return ["the hive is a link"]
    try:
        drive = hive_values(hive).get("DRIVE")
    except (ValueError, KeyError, IndexError, TypeError, struct.error) as error:
        return [f"the hive does not read: {error}"]
    return [] if drive == (1, letter.encode() + b":\0") else [f"the hive's Drive is {drive!r}"]


# Finding 5: journals another user planted.

def fnv1a(data):
    value = 14695981039346656037
    for byte in data:
        value = ((value ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


EVIL = b"[POSTGRES_SERVER]\r\ndatabase=PLANTED\r\n"


def plant_journals(settings, owner, mode):
    """Whole journals of the layout older runs wrote, naming the settings
    file by its device and inode, at both journal names."""
    info = os.stat(settings)
    fields = struct.pack("<3Q", info.st_dev, info.st_ino, len(EVIL))
    data = b"VENDREL JOURNAL\n" + fields + struct.pack("<Q", fnv1a(fields + EVIL)) + EVIL
    folder = os.path.dirname(settings)
    planted = [os.path.join(folder, JOURNAL_NAME),
               os.path.join(folder, f".vendrel-journal.{info.st_dev:x}.{info.st_ino:x}")]
    for path in planted:
        with open(path, "wb") as out:
            out.write(data)
        os.chown(path, owner, owner)
        os.chmod(path, mode)
    return planted, data


def journal_kept(paths, data, owner, mode):
    problems = []
    for path in map(pathlib.Path, paths):
        if not path.exists():
            problems.append(f"the planted {path.name} was removed")
        elif path.read_bytes() != data:
            problems.append(f"the planted {path.name} was changed")
        elif (path.stat().st_uid, stat.S_IMODE(path.stat().st_mode)) != (owner, mode):
            problems.append(f"the planted {path.name} changed owner or mode")
    return problems


def foreign_journals_are_never_replayed(ctx):
    """Beside a hard-linked settings file, a whole journal owned by another
    user, or one anyone may write: never replayed, never removed; the file
    is in use until someone removes it."""
    second_name(ctx)
    cases = [(OTHER_USER, 0o644), (0, 0o666), (0, 0o620)] if ctx.user == "root" \
        else [(OTHER_USER, 0o644), (NOBODY, 0o666)]
    problems = []
    for owner, mode in cases:
        ctx.inst.settings.write_bytes(SETTINGS)
        if ctx.user != "root":
            os.chown(ctx.inst.settings, NOBODY, NOBODY)
        planted, data = plant_journals(str(ctx.inst.settings), owner, mode)
        ctx.hand_over(keep=planted)
        result = ctx.run(ARGS + ["-dclinic"])
        problems += [f"owner {owner}, mode {mode:o}: {p}" for p in
                     settings_refused(ctx, result, NOT_OURS) + journal_kept(planted, data, owner,
                                                                            mode)]
        for path in planted:
            pathlib.Path(path).unlink(missing_ok=True)
    return problems


NO_XATTR_RUN = r"""
set -e
share=$1 saved=$2 after=$3 here=$4 owner=$5 mode=$6
shift 6
mount -t ramfs -o mode=0755 ramfs "$share"
cp -a "$saved"/. "$share"/
python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import hostile_disk as d
d.plant_journals(sys.argv[2], int(sys.argv[3]), int(sys.argv[4], 8))' \
    "$here" "$share/KOVA/kelvarini.dat" "$owner" "$mode"
set +e
timeout -s KILL 15 "$@"
code=$?
cp -a "$share"/. "$after"/
exit $code
"""


def foreign_journal_without_user_attributes(ctx):
    """The same on a file system without user attributes (ramfs, in a
    mount namespace of the run's own)."""
    need_root()
    need_tool("unshare", "util-linux")
    second_name(ctx)
    saved, after = ctx.scratch / "saved", ctx.scratch / "after"
    ctx.unwatched |= {saved, after}
    subprocess.run(["cp", "-a", str(ctx.share), str(saved)], check=True)
    after.mkdir()
    probe = subprocess.run(
        ["unshare", "--mount", "--propagation", "private", "sh", "-c",
         'mount -t ramfs ramfs "$1" && touch "$1/x" && exec python3 -c '
         '"import os, sys; os.setxattr(sys.argv[1], \'user.x\', b\'1\')" "$1/x"', "sh",
         str(after)], capture_output=True, text=True)
    if probe.returncode == 0 or "Operation not supported" not in probe.stderr:
        raise Skip("no file system without user attributes to mount: "
                   + (probe.stderr.strip().splitlines() or ["ramfs takes them"])[-1])
    problems = []
    for owner, mode in [(OTHER_USER, 0o644), (0, 0o666)]:
        shutil.rmtree(after)
        after.mkdir()
        here = str(pathlib.Path(__file__).resolve().parent)
        result = ctx.run(ARGS + ["-dclinic"],
                         prefix=["unshare", "--mount", "--propagation", "private", "sh", "-c",
                                 NO_XATTR_RUN, "sh", str(ctx.share), str(saved), str(after),
                                 here, str(owner), f"{mode:o}"])
        journals = [after / "KOVA" / JOURNAL_NAME]
        data = (after / "KOVA" / JOURNAL_NAME).read_bytes() if journals[0].exists() else b""
        where = f"no user attributes, owner {owner}, mode {mode:o}: "
        problems += [where + p for p in report_problems(result, "EIniFileException",
                                                        SETTINGS_REPORT, NOT_OURS)]
        if (after / "KOVA" / "kelvarini.dat").read_bytes() != SETTINGS:
            problems.append(where + "the settings file changed")
        if not data.endswith(EVIL):
            problems.append(where + "the planted journal was removed or changed")
    return problems


# Finding 6: a crash, then the disk mounted elsewhere.

def crash_then_disk_moved(ctx):
    """A hard-linked kelvarini.dat is rewritten in place under a journal; the
    run is killed after the journal is whole, with the file torn; the
    drive's folder is then moved and its entry pointed at the new place. The
    next run completes the rewrite: the file whole, with the new content."""
    if not ctx.options.crashable:
        raise Skip("needs --crashable (the vendrel_crashable build)")
    crashable = ctx.public(ctx.options.crashable)
    second_name(ctx)
    args = ARGS + ["-dclinic"]
    reference = ctx.run(args, program=crashable)
    if reference.outcome("ok"):
        return ["the undisturbed run failed: " + reference.outcome("ok")[0]]
    new = ctx.inst.settings.read_bytes()
    problems, tried, torn = [], 0, 0
    for point in range(1, 200):
        sub = ctx.another(ctx.scratch / f"point{point}")
        inst = sub.inst
        second_name(sub)
        stopped = sub.run(args, program=crashable, env=inst.env(VENDREL_CRASH_AFTER=str(point)))
        if stopped.proc.returncode == 0:
            break
        tried += 1
        journals = [p for p in inst.kova.iterdir() if "vendrel-journal" in p.name]
        if not any(p.stat().st_size > len(new) and p.read_bytes().endswith(new)
                   for p in journals):
            shutil.rmtree(inst.root)
            continue
        torn += 1
        # Cut the overwrite short, as a stop in the middle of it would.
        with open(inst.settings, "r+b") as data:
            data.write(new[:len(new) // 2])
        moved = inst.root / "moved"
        moved.mkdir()
        shutil.move(str(sub.share), str(moved / "share"))
        os.unlink(inst.drives / "f:")
        os.symlink("../moved/share", inst.drives / "f:")
        sub.share = moved / "share"
        settings = sub.share / "KOVA" / "kelvarini.dat"
        where = f"stopped at point {point} ({stopped.proc.stderr.decode().strip()}): "
        again = sub.run(args, program=crashable)
        found = again.outcome("ok")
        if settings.read_bytes() != new:
            found.append(f"the file is {settings.read_bytes()[:120]!r}..., not the new content")
        if os.stat(settings).st_ino != os.stat(sub.share / "other" / "kelvarini.dat").st_ino:
            found.append("the two names are no longer one file")
        found += [f"left {p.name}" for p in (sub.share / "KOVA").iterdir()
                  if "vendrel-journal" in p.name]
        problems += [where + p for p in found + sub.problems]
        shutil.rmtree(inst.root)
    if torn == 0:
        problems.append(f"none of {tried} crash points left a whole journal")
    print(f"    {tried} crash points, {torn} with a whole journal and the file torn")
    return problems


# Finding 10: locks.

def lock_held_by_another_process(ctx):
    """Another process holds a shared, then an exclusive lock on
    kelvarini.dat, then a shared lock on the store: the run waits about five
    seconds, then reports the file as in use."""
    problems = []
    ctx.hand_over()
    for what, path, mode in (("shared lock on the settings file", ctx.inst.settings, fcntl.LOCK_SH),
                             ("exclusive lock on the settings file", ctx.inst.settings,
                              fcntl.LOCK_EX),
                             ("shared lock on the store", ctx.inst.store, fcntl.LOCK_SH)):
        # The runs before have set Drive to F:.
        ctx.inst.store.write_bytes(regedit4.write_store(REGISTRY))
        before = ctx.inst.store.read_bytes()
        with open(path, "rb") as held:
            fcntl.flock(held, mode)
            result = ctx.run(ARGS + (["-dclinic"] if path == ctx.inst.settings else []))
        if path == ctx.inst.settings:
            found = settings_refused(ctx, result)
        else:
            found = report_problems(result, "ERegistryException", b"Failed to set data for 'Drive'")
            if b"  Drive:      C:\r\n" not in result.out:
                found.append("the store was not read although a shared lock lets it be")
            if ctx.inst.store.read_bytes() != before:
                found.append("the store changed")
        if not LOCK_WAIT - 1 <= result.seconds <= 2 * LOCK_WAIT:
            found.append(f"took {result.seconds:.1f} s")
        problems += [f"{what}: {p}" for p in found]
    return problems


# Finding 11: read-only media.

def read_only(folder):
    """The unshare prefix that runs a command with folder mounted read-only
    in a mount namespace of its own."""
    script = 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"'
    return ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh",
            str(folder)]


def read_only_media(ctx):
    """A store, a hive and a drive on read-only mounts: read, and the write
    step reported; never a silent success."""
    need_root()
    need_tool("unshare", "util-linux")
    probe = subprocess.run(read_only(ctx.scratch) + ["true"], capture_output=True, text=True)
    if probe.returncode != 0:
        raise Skip(f"cannot mount read-only in a namespace: {probe.stderr.strip()}")
    problems = []
    store = ctx.scratch / "media"
    store.mkdir()
    shutil.move(str(ctx.inst.store), str(store / "registry.reg"))
    ctx.inst.store = store / "registry.reg"
    env = ctx.inst.env(VENDREL_REGISTRY=str(store / "registry.reg"))
    before = (store / "registry.reg").read_bytes()
    result = ctx.run(ARGS, env=env, prefix=read_only(store))
    found = report_problems(result, "ERegistryException", b"Failed to set data for 'Drive'")
    if b"  Drive:      C:\r\n" not in result.out:
        found.append(f"the values were not read: {result.out[:300]!r}")
    if (store / "registry.reg").read_bytes() != before:
        found.append("the store changed")
    problems += ["store: " + p for p in found]
    if ctx.options.make_hive:
        hive = store / "SOFTWARE"
        make_software_hive(ctx.options.make_hive, hive, REGISTRY[HKLM])
        before = hive.read_bytes()
        result = ctx.run(ARGS, env=dict(env, VENDREL_HKLM_HIVE=str(hive)), prefix=read_only(store))
        found = report_problems(result, "ERegistryException", b"Failed to set data for 'Drive'")
        if b"  Drive:      C:\r\n" not in result.out:
            found.append(f"the hive was not read: {result.out[:300]!r}")
        if hive.read_bytes() != before:
            found.append("the hive changed")
        problems += ["hive: " + p for p in found]
    else:
        print("    (no --make-hive: the hive on a read-only mount is not tried)")
    # The drive read-only, the store writable: the settings file and the
    # company file are reported as on write-protected media (19).
    result = ctx.run(ARGS + ["-dclinic"], env=env, prefix=read_only(ctx.share))
    problems += ["drive: " + p for p in settings_refused(ctx, result)]
    result = ctx.run(ARGS + ["-w2.10"], env=env, prefix=read_only(ctx.share))
    problems += ["drive: " + p for p in result.outcome("EAbort")
                 + company_open_error(result, (b"19",))]
    return problems


# The hive path on its disk, journals another user may read, journals that
# ask for growth.

HIVE_ARGS = ["F", "-v6/7"]
HIVE_ON_DISK = "Windows/System32/config"


def need_hive(ctx):
    if not ctx.options.make_hive:
        raise Skip("needs --make-hive (the make_hive test tool)")


def hive_run(ctx, hive, prefix=()):
    """A run on the hive named by hive (a host or a drive path), within a
    bounded address space."""
    return ctx.run(HIVE_ARGS, env=ctx.inst.env(VENDREL_HKLM_HIVE=str(hive)),
                   prefix=list(prefix) + ctx.memory_limit(1 << 29))


def hive_path_links_off_the_disk(ctx):
    """The disk makes the hive's folder, or the hive file, a link to a valid
    hive of another disk, or to a file of this machine: the other hive is
    never opened, its folder lists the same names (a file named like a dead
    run's temporary among them), and the report is the same whether the
    place exists or not. A hive outside every drive keeps to its mount."""
    need_hive(ctx)
    other = ctx.host / "config"
    other.mkdir()
    make_software_hive(ctx.options.make_hive, other / "SOFTWARE", REGISTRY[HKLM])
    (other / ".SOFTWARE.vendrel-abc123").write_bytes(b"not this run's to remove")
    config = ctx.share / HIVE_ON_DISK
    config.parent.mkdir(parents=True)
    problems, reports = [], {}
    layouts = [("folder", config, other), ("hive", config / "SOFTWARE", other / "SOFTWARE"),
               ("host file", config / "SOFTWARE", "/etc/shadow"),
               ("nothing", config / "SOFTWARE", "/nowhere/SOFTWARE")]
    for what, link, target in layouts:
        config.mkdir(exist_ok=True)
        if link == config:
            config.rmdir()
        os.symlink(target, link)
        for named in (config / "SOFTWARE", "F:\\" + HIVE_ON_DISK.replace("/", "\\") + "\\SOFTWARE"):
            result = hive_run(ctx, named)
            problems += [f"{what}, {named}: {p}" for p in
                         report_problems(result, "ERegistryException", holds=b"cannot be opened")]
            reports[what, str(named)[:2]] = result.message
        os.unlink(link)
    if len({message for (what, _), message in reports.items() if what != "folder"}) > 2:
        problems.append(f"the reports differ by where the link leads: {reports}")
    if os.geteuid() == 0 and shutil.which("unshare"):
        # A hive outside every drive, on a mount of its own: its links stay on it.
        top = ctx.scratch / "mounted"
        top.mkdir()
        ctx.unwatched.add(top)
        script = ('mount -t tmpfs tmpfs "$1" && ln -s "$2" "$1/SOFTWARE" && '
                  'ln -s ../host/config/SOFTWARE "$1/CLIMBS" && shift 2 && exec "$@"')
        for name in ("SOFTWARE", "CLIMBS"):
            prefix = ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh",
                      str(top), str(other / "SOFTWARE")]
            result = hive_run(ctx, top / name, prefix=prefix)
            problems += [f"a mount's {name}: {p}" for p in
                         report_problems(result, "ERegistryException", holds=b"cannot be opened")]
    return problems


JOURNAL_WATCHER = r"""
import ctypes, os, struct, sys, time
folder, name, wanted, seconds = sys.argv[1], sys.argv[2], sys.argv[3].encode(), float(sys.argv[4])
libc = ctypes.CDLL(None, use_errno=True)
fd = libc.inotify_init1(os.O_NONBLOCK)
libc.inotify_add_watch(fd, folder.encode(), 0x100)  # created
seen = read = 0
end = time.monotonic() + seconds
while time.monotonic() < end:
    try:
        data = os.read(fd, 65536)
    except BlockingIOError:
        time.sleep(0.001)
        continue
    if name.encode() in data:
        seen += 1
        try:
            with open(os.path.join(folder, name), "rb") as journal:
                if wanted in journal.read():
                    read += 1
        except OSError:
            pass
print(seen, read, flush=True)
"""


def journal_hidden_from_a_denied_user(ctx):
    """A settings file of two names, open to everyone but one user its ACL
    denies, is rewritten in place under a journal, again and again, while
    that user waits for the journal to appear and reads it at once: it
    never reads the new content."""
    need_root()
    need_tool("setfacl", "acl")
    second_name(ctx)
    denied = NOBODY if ctx.user == "root" else OTHER_USER
    ctx.hand_over()
    for folder in (ctx.scratch, ctx.inst.root, ctx.inst.drives, ctx.share, ctx.kova):
        folder.chmod(0o755)
    ctx.inst.settings.chmod(0o644)
    subprocess.run(["setfacl", "-m", f"u:{denied}:---", str(ctx.inst.settings)], check=True)
    script = ctx.scratch / "watcher.py"
    script.write_text(JOURNAL_WATCHER)
    script.chmod(0o644)
    watcher = subprocess.Popen(as_user(denied) + [sys.executable, str(script), str(ctx.kova),
                                                  JOURNAL_NAME, "[POSTGRES_SERVER]", "8"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(0.3)
    problems = []
    for attempt in range(10):
        result = ctx.run(ARGS + [f"-dclinic{attempt}"])
        problems += [f"run {attempt}: {p}" for p in result.outcome("ok")]
    seen, read = map(int, watcher.communicate(timeout=30)[0].split())
    print(f"    the denied user saw the journal appear {seen} times")
    if read:
        problems.append(f"the denied user read the settings in {read} of {seen} journals")
    return problems


def planted_journal_asking_for_growth(ctx):
    """A 52-byte journal of pages beside the hive (and one beside a settings
    file of two names) whose head names the file and asks for a length of
    1 GiB, with a valid checksum and no pages: not ours; the file is in use,
    nothing grows, and memory stays bounded."""
    need_hive(ctx)
    hive = ctx.kova / "SOFTWARE"
    make_software_hive(ctx.options.make_hive, hive, REGISTRY[HKLM])
    second_name(ctx)
    problems = []
    for path in (hive, ctx.inst.settings):
        fields = struct.pack("<2Q", os.stat(path).st_ino, 1 << 30)
        name = path.name.encode()
        journal = path.parent / f".{path.name}.vendrel-journal"
        journal.write_bytes(b"VENDREL JOURNALP" + fields + struct.pack("<Q", fnv1a(fields + name))
                            + struct.pack("<I", len(name)) + name)
        journal.chmod(0o600)
        if ctx.user != "root":
            os.chown(journal, NOBODY, NOBODY)
    planted = {p: p.read_bytes() for p in ctx.kova.glob(".*.vendrel-journal")}
    before = {p: p.read_bytes() for p in (hive, ctx.inst.settings)}
    result = hive_run(ctx, hive)
    problems += ["hive: " + p for p in report_problems(result, "ERegistryException", holds=NOT_OURS)]
    result = ctx.run(ARGS + ["-dclinic"], prefix=ctx.memory_limit(1 << 29))
    problems += ["settings: " + p for p in report_problems(result, "EIniFileException",
                                                           SETTINGS_REPORT, NOT_OURS)]
    problems += [f"{p.name} changed" for p, data in {**before, **planted}.items()
                 if p.read_bytes() != data]
    return problems


def dirty_hive_logs_the_disk_planted(ctx):
    """Beside a dirty hive, where its log should be: a link to a valid log
    elsewhere, a FIFO, a device, or two logs whose names differ only in
    case (and a log of two names). None is written, the hive is refused with
    a report that says why, and every file stays as it was; so too beside a
    clean hive the run writes."""
    need_hive(ctx)
    hive = ctx.kova / "SOFTWARE"
    log = ctx.kova / "SOFTWARE.LOG1"
    problems = []
    for dirty in (True, False):
        plan = (f"key {b'Microsoft'.hex()}\n{'log SOFTWARE.LOG1' if dirty else 'key -'}\n"
                f"key {b'Tarvel Global'.hex()}\n").encode()
        subprocess.run([ctx.options.make_hive, str(hive)], input=plan, check=True)
        if dirty:
            shutil.copy(log, ctx.host / "SOFTWARE.LOG1")
            valid = log.read_bytes()
            log.unlink()
        problems += [f"dirty={dirty}: {p}" for p in plant_logs(ctx, hive, log, valid)]
    return problems


def plant_logs(ctx, hive, log, valid):
    layouts = [("a link off the disk", lambda: os.symlink(ctx.host / "SOFTWARE.LOG1", log),
                b"is not a regular file"),
               ("a FIFO", lambda: os.mkfifo(log), b"is not a regular file"),
               ("twins", lambda: (log.write_bytes(valid),
                                  (ctx.kova / "software.log1").write_bytes(valid)),
                b"differ only in letter case"),
               ("a second name", lambda: (log.write_bytes(valid),
                                          os.link(log, ctx.kova / "x")),
                b"more than one name")]
    if os.geteuid() == 0:
        layouts.append(("a device", lambda: os.mknod(ctx.kova / "SOFTWARE.LOG2",
                                                     0o666 | stat.S_IFCHR, os.makedev(1, 5)),
                        b"is not a regular file"))
    problems = []
    for what, plant, why in layouts:
        plant()
        planted = [p for p in ctx.kova.iterdir() if p.name.lower()[:10] in ("software.l", "x")]
        ctx.hand_over()
        if ctx.user != "root":
            for path in planted:
                os.lchown(path, NOBODY, NOBODY)
        # The link's end is outside the drive, whose files the run's own
        # check reads: the special files alone are watched.
        watch = Untouched(*[p for p in planted if not p.is_file() and not p.is_symlink()])
        before = {p: p.read_bytes() for p in [hive] + planted if p.is_file() and not p.is_symlink()}
        result = hive_run(ctx, hive)
        found = report_problems(result, "ERegistryException", holds=why) + watch.problems()
        found += [f"{p.name} changed" for p, data in before.items() if p.read_bytes() != data]
        problems += [f"{what}: {p}" for p in found]
        for path in planted:
            path.unlink()
    return problems


def profiles_leading_off_the_disk(ctx):
    """A Windows disk whose ProfileList paths climb out with '..', name
    another drive, a device or another machine, or go through a link to a
    folder of this machine that holds a valid NTUSER.DAT: none is followed;
    a per-user run for each is refused with a report naming the profile."""
    need_hive(ctx)
    import hive_runs  # noqa: E402
    profiles = [("Up", "S-1-5-21-9-9-9-1", "%SystemDrive%\\Users\\Up\\..\\..\\.."),
                ("Other", "S-1-5-21-9-9-9-2", "D:\\Users\\Other"),
                ("Device", "S-1-5-21-9-9-9-3", "\\\\?\\C:\\Users\\Device"),
                ("Unc", "S-1-5-21-9-9-9-4", "\\\\server\\share\\Unc"),
                ("Linked", "S-1-5-21-9-9-9-5", "C:\\Users\\Linked")]
    disk, env = hive_runs.windows_disk(ctx.options.make_hive, ctx.inst, profiles)
    shutil.copytree(disk / "users/Linked", ctx.host / "profile")
    shutil.rmtree(disk / "users/Linked")
    os.symlink(ctx.host / "profile", disk / "users/Linked")
    problems = []
    for name, sid, _ in profiles:
        result = ctx.run(["E", "-v5"], env=dict(env, VENDREL_USER=sid))
        problems += [f"{name}: {p}" for p in report_problems(result, "ERegistryException",
                                                             holds=name.encode() + b" (" + sid.encode())]
    return problems


def on_ntfs(scenario):
    """The scenario with the drive's folder an NTFS disk, as a technician
    mounts a Windows disk: an image made by mkntfs, mounted with ntfs-3g
    (FUSE), with POSIX ACLs and user attributes."""
    def on_an_ntfs_disk(ctx):
        need_root()
        need_tool("mkntfs", "ntfs-3g")
        if not os.path.exists("/dev/fuse"):
            raise Skip("no /dev/fuse on this machine: FUSE file systems cannot be mounted")
        image_folder = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-ntfs-"))
        saved = image_folder / "saved"
        shutil.copytree(ctx.share, saved, symlinks=True)
        shutil.rmtree(ctx.share)
        ctx.share.mkdir()
        image = image_folder / "disk.img"
        with open(image, "wb") as disk:
            disk.truncate(64 << 20)
        try:
            subprocess.run(["mkntfs", "-F", "-Q", "-q", str(image)], check=True,
                           capture_output=True)
            mounted = subprocess.run(["ntfs-3g", "-o", "acl,streams_interface=xattr", str(image),
                                      str(ctx.share)], capture_output=True, text=True)
            if mounted.returncode != 0:
                raise Skip(f"ntfs-3g cannot mount here: {mounted.stderr.strip()}")
            try:
                subprocess.run(["cp", "-a", f"{saved}/.", str(ctx.share)], check=True)
                return scenario(ctx)
            finally:
                subprocess.run(["umount", str(ctx.share)], check=False)
        finally:
            shutil.rmtree(image_folder, ignore_errors=True)
    on_an_ntfs_disk.__name__ = scenario.__name__ + "_on_ntfs"
    on_an_ntfs_disk.__doc__ = scenario.__doc__
    return on_an_ntfs_disk


# Bounded resources.

def oversized_settings_file(ctx):
    """A settings file past its cap (64 MiB) is refused with code 223 before
    it is read."""
    cap = 64 << 20
    with open(ctx.inst.settings, "r+b") as data:
        data.truncate(cap + 1)
    before = hashlib.sha256(ctx.inst.settings.read_bytes()).digest()
    result = ctx.run(ARGS + ["-dclinic"], prefix=ctx.memory_limit(1 << 30))
    problems = report_problems(result, "EIniFileException", SETTINGS_REPORT)
    if hashlib.sha256(ctx.inst.settings.read_bytes()).digest() != before:
        problems.append("the settings file changed")
    return problems


BOTH, ROOT = ("root", "nobody"), ("root",)

# Finding of the review -> its scenarios, and who runs them. Findings 8 and
# 9 (a hive's own cells) are the hive runs' business.
SCENARIOS = [
    ("1", absolute_link_to_a_host_company_file, BOTH),
    ("1", absolute_link_to_a_host_settings_file, BOTH),
    ("1", dangling_absolute_link, BOTH),
    ("1", relative_link_that_climbs_out, BOTH),
    ("1", links_that_stay_inside_work, BOTH),
    ("2", journal_attribute_is_ignored, ROOT),
    ("3", fifo_at_the_journal_name, BOTH),
    ("3", devices_at_the_journal_name, BOTH),
    ("4", temporaries_swapped_for_links, ROOT),
    ("5", foreign_journals_are_never_replayed, BOTH),
    ("5", foreign_journal_without_user_attributes, ROOT),
    ("6", crash_then_disk_moved, BOTH),
    ("7", special_files_as_the_settings_file, BOTH),
    ("7", special_files_as_the_company_file, BOTH),
    ("7", special_files_named_as_leftovers, BOTH),
    ("10", lock_held_by_another_process, BOTH),
    ("11", read_only_media, ROOT),
    ("caps", oversized_settings_file, ROOT),
    ("hive path", hive_path_links_off_the_disk, BOTH),
    ("journal rights", journal_hidden_from_a_denied_user, BOTH),
    ("journal growth", planted_journal_asking_for_growth, BOTH),
    ("hive logs", dirty_hive_logs_the_disk_planted, BOTH),
    ("windows disk", profiles_leading_off_the_disk, BOTH),
    ("hive path", on_ntfs(hive_path_links_off_the_disk), BOTH),
    ("journal rights", on_ntfs(journal_hidden_from_a_denied_user), BOTH),
    ("journal growth", on_ntfs(planted_journal_asking_for_growth), BOTH),
    ("terminal", terminal_escapes, ROOT),
]


def run_scenario(options, scenario, user):
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="vendrel-disk-"))
    try:
        if user != "root":
            need_root()
        ctx = Context(options, Installation(scratch / "inst"), user)
        problems = scenario(ctx)
        return list(dict.fromkeys(problems + ctx.problems))
    except subprocess.TimeoutExpired:
        return [f"still running after {whole_run.HANG} s"]
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--crashable", help="vendrel_crashable, for the crash followed by a move")
    parser.add_argument("--make-hive", help="make_hive, for the runs on hives")
    parser.add_argument("--only", help="run the scenarios whose name holds this text")
    parser.add_argument("--no-memory-limit", action="store_true",
                        help="run without an address-space limit (AddressSanitizer reserves "
                             "terabytes of it)")
    options = parser.parse_args()
    options.program = str(pathlib.Path(options.program).resolve())
    for tool in ("crashable", "make_hive"):
        if getattr(options, tool):
            setattr(options, tool, str(pathlib.Path(getattr(options, tool)).resolve()))
    chosen = [(finding, s, user) for finding, s, users in SCENARIOS for user in users
              if not options.only or options.only in s.__name__]
    if not chosen:
        print(f"hostile disk: no scenario's name holds {options.only!r}")
        return 1
    failed = skipped = 0
    for finding, scenario, user in chosen:
        name = f"[{finding}] {scenario.__name__} as {user}"
        started = time.monotonic()
        try:
            problems = run_scenario(options, scenario, user)
        except Skip as reason:
            skipped += 1
            print(f"skip {name}: {reason}")
            continue
        took = time.monotonic() - started
        failed += bool(problems)
        print(f"{'FAIL' if problems else 'ok  '} {name} ({took:.1f} s)", flush=True)
        for problem in problems:
            print("    " + problem)
    print(f"hostile disk: {len(chosen)} scenarios, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
