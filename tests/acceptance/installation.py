"""A product installation in a scratch folder for whole-program runs of the
Linux build (a registry store and drive folders), and readers that check
the stores afterwards without trusting the program's own parsers."""

import os
import pathlib
import re
import subprocess

import regedit4
import regf
from harness import HKCU, HKLM, RECORD_SIZE, record, sz
from run_acceptance import upper_names

SETTINGS_SECTION = b"POSTGRES_SERVER"
# The entries a run with -d writes or removes in that section.
SETTINGS_KEYS = (b"database", b"langver", b"util_ver", b"fileupdates_ver", b"ccffl")

REGISTRY = {
    HKLM: {"Drive": sz("C:"), "InstPath": sz("C:\\KOVA32"), "LocalDrive": sz("C:"),
           "cddir": sz("D:\\"), "PracticeRelief": sz("N")},
    HKCU: {"Drive": sz("E:"), "InstPath": sz("E:\\KOVA32"), "PracticeRelief": sz("N")},
}

SETTINGS = (b"; shared by every workstation\r\n[GENERAL]\r\nPracticeName=Sample Practice\r\n\r\n"
            b"[POSTGRES_SERVER]\r\nhost=db.sample.local\r\nport=5432\r\ndatabase=HofejnE5iQ0\r\n"
            b"langver=12\r\nutil_ver=7\r\nfileupdates_ver=3\r\nccffl=1\r\n\r\n"
            b"[PRINTING]\r\nqueue=front desk\r\n")

COMPANY = b"".join(record(i, b"Practice %d" % i) for i in range(6)) + b"tail"


class Installation:
    """registry.reg and drives/share/KOVA, with each letter given a link to
    the share, as several mapped drives of one server would be."""

    def __init__(self, root: pathlib.Path, letters=("f",)):
        self.root = root
        self.store = root / "registry.reg"
        self.drives = root / "drives"
        self.kova = self.drives / "share" / "KOVA"
        self.kova.mkdir(parents=True)
        for letter in letters:
            os.symlink("share", self.drives / f"{letter}:")
        self.store.write_bytes(regedit4.write_store(REGISTRY))
        self.settings.write_bytes(SETTINGS)
        self.company.write_bytes(COMPANY)

    @property
    def settings(self):
        return self.kova / "kelvarini.dat"

    @property
    def company(self):
        return self.kova / "dromfile.dat"

    def env(self, **extra):
        env = dict(os.environ, VENDREL_REGISTRY=str(self.store),
                   VENDREL_DRIVES=str(self.drives), LANG="C")
        env.update(extra)
        return env

    def leftovers(self):
        """Temporary files a stopped run may have left beside the stores."""
        return sorted(p.name for folder in (self.root, self.kova)
                      for p in folder.iterdir() if p.name.startswith("."))


def make_software_hive(make_hive, path, values, more=()):
    """A SOFTWARE hive at path whose product key holds values (as the store
    holds them: single-byte text), beside another vendor's key; more: plan
    lines of make_hive's after those."""
    plan = [f"value {b'Tarvel Global'.hex()} {name.encode().hex()} {kind} "
            f"{(data[:-1].decode('latin-1').encode('utf-16-le') + bytes(2)).hex()}"
            if kind in (1, 2) else
            f"value {b'Tarvel Global'.hex()} {name.encode().hex()} {kind} {data.hex() or '-'}"
            for name, (kind, data) in values.items()]
    plan.append(f"value {b'Microsoft'.hex()} {b'Other'.hex()} 4 2a000000")
    plan += list(more)
    subprocess.run([make_hive, str(path)], input="\n".join(plan).encode(), check=True)


def hive_values(path, data=None, dirty=False):
    """The product key's values in a SOFTWARE hive as the store reader gives
    a hive's (upper-cased names, text as single bytes with its NUL), after
    checking the header as Windows does; ValueError when it fails. data, when
    given, is the hive's content in place of the file's; dirty: a hive whose
    log brings nothing to the key may be dirty still."""
    data = path.read_bytes() if data is None else data
    problems = [p for p in regf.check_header(data)
                if not (dirty and p.startswith("sequence numbers differ"))]
    if problems:
        raise ValueError("hive header: " + "; ".join(problems))
    key = regf.find(regf.dump(data), "Tarvel Global")
    values = {}
    for name, (kind, raw) in key["values"].items():
        if kind in (1, 2):
            raw = raw.decode("utf-16-le").rstrip("\0").encode("latin-1") + b"\0"
        values[name.upper()] = (kind, raw)
    return values


def read_settings(text: bytes):
    """(every line outside the run's five entries, {entry: value or None}).
    Raises ValueError on a line no profile reader would accept."""
    others, entries, section = [], {key: None for key in SETTINGS_KEYS}, None
    for line in re.split(rb"\r\n|\n", text):
        stripped = line.strip()
        if stripped.startswith(b"["):
            if not stripped.endswith(b"]"):
                raise ValueError(f"torn section line {line!r}")
            section = stripped[1:-1]
        elif section == SETTINGS_SECTION and b"=" in stripped:
            key, _, value = stripped.partition(b"=")
            if key.strip().lower() in entries:
                if entries[key.strip().lower()] is not None:
                    raise ValueError(f"entry {key!r} twice")
                entries[key.strip().lower()] = value.strip()
                continue
        elif stripped and not stripped.startswith(b";") and b"=" not in stripped:
            raise ValueError(f"torn line {line!r}")
        others.append(line)
    return others, entries


def read_registry(text: bytes):
    return upper_names(regedit4.read_store(text))


def records(text: bytes):
    return [text[i:i + RECORD_SIZE] for i in range(0, len(text), RECORD_SIZE)]
