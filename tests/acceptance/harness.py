"""Shared vocabulary of the acceptance cases: registry values, expected console
text and the Case record. Cases are data; run_acceptance.py runs them."""

from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4
HKLM, HKCU = "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"
KEY = r"Software\Tarvel Global"

# Raising sites, as the failure report prints them.
SITE_INVALID_TYPE = "0040A1C4"
SITE_GET_DATA = "0040A21B"
SITE_SET_DATA = "0040A2E7"
SITE_STORE = "0040A35D"
SITE_INI_WRITE = "0040B116"
SITE_DATABASE_NAME = "0040B18A"
SITE_COMPANY_ABORT = "0040C0D2"
SITE_COMPANY_IO = "0040C14F"
SITE_COMPANY_CLOSE = "0040C1B3"

MODULE = b"\x00MODULE\x00"  # replaced by the program file's name of the run
STORE = b"\x00STORE\x00"  # replaced by the registry store's path (Linux only)

Value = Tuple[int, bytes]
# hive -> value name -> value; a hive left out has no product key.
Registry = Dict[str, Dict[str, Value]]


def sz(text) -> Value:
    data = text.encode("latin-1") if isinstance(text, str) else text
    return (REG_SZ, data + b"\0")


def raw(kind: int, data: bytes) -> Value:
    return (kind, data)


def dword(number: int) -> Value:
    return (REG_DWORD, number.to_bytes(4, "little"))


def lines(*texts) -> bytes:
    out = b""
    for text in texts:
        out += (text.encode("latin-1") if isinstance(text, str) else text) + b"\r\n"
    return out


def banner() -> bytes:
    return lines(
        "",
        "Vendrel.exe version 1.3",
        "Usage vendrel <drive> -v<version> -d<postgres_database_name> -p<pryn> -w<dromversion>",
        '  (if <version>="6/7" then HKEY_LOCAL_MACHINE is updated, else HKEY_CURRENT_USER',
        "",
    )


def reading(hive: str) -> bytes:
    return lines("Reading from HKLM" if hive == HKLM else "Reading from HKCU")


def current(drive=b"", inst=b"", local=b"", cddir=b"", updir=b"", relief=b"") -> bytes:
    def b(v):
        return v.encode("latin-1") if isinstance(v, str) else v

    return lines(
        "Current values: ",
        b"  Drive:      " + b(drive),
        b"  InstPath:   " + b(inst),
        b"  LocalDrive: " + b(local),
        b"  CDDIR:      " + b(cddir),
        b"  UPDIR:      " + b(updir),
        b"  Practice Relief:   " + b(relief),
        "",
    )


def specified(text) -> bytes:
    return lines(b"Values specified: " + (text.encode("latin-1") if isinstance(text, str) else text))


TYPED_PROMPT = b"enter new value(s):"
FINAL_PROMPT = b"Any key to quit..."


def new_values(drive, inst, local, relief="", weergawe="") -> bytes:
    def b(v):
        return v.encode("latin-1") if isinstance(v, str) else v

    return lines(
        "",
        "Updating new values: ",
        b"  Drive:      " + b(drive),
        b"  InstPath:   " + b(inst),
        b"  LocalDrive: " + b(local),
        b"  Practice Relief: " + b(relief),
        b"  Weergawe: " + b(weergawe),
        "",
    )


def report(kind: str, site: str, message) -> bytes:
    message = message.encode("latin-1") if isinstance(message, str) else message
    stop = b"." if message and not message.endswith(b".") else b""
    return (b"Exception " + kind.encode() + b" in module " + MODULE + b" at " + site.encode()
            + b".\r\n" + message + stop + b"\r\n\r\n")


@dataclass
class Case:
    name: str
    args: List[str]
    stdout: bytes
    stdin: bytes = b""
    # How standard input is given: "pipe" (the stdin bytes), "null" (the
    # null device, as NUL on Windows) or "closed" (no standard input at all).
    stdin_kind: str = "pipe"
    exit_code: int = 0
    registry: Registry = field(default_factory=dict)
    # The registry afterwards; None means unchanged.
    registry_after: Optional[Registry] = None
    # Drive letter -> path inside the drive (with "/") -> file bytes.
    drives: Dict[str, Dict[str, bytes]] = field(default_factory=dict)
    # Files afterwards, as drives; files not named must be as before.
    drives_after: Optional[Dict[str, Dict[str, bytes]]] = None
    # The working directory: "" for a scratch folder outside every drive,
    # or a drive letter and a path inside it ("g:KOVA"). Cases never use the
    # letters c and z, which Wine keeps for itself.
    cwd: str = ""
    # A native-only store text that replaces the one made from `registry`.
    store_text: Optional[bytes] = None
    store_mode: Optional[int] = None
    # Why a case runs on one platform only (None: on both).
    native_only: Optional[str] = None
    # Where Windows answers otherwise than the Linux layer: "reason" and the
    # fields (stdout, exit_code, registry_after, drives_after) as they are
    # under Wine.
    wine: Optional[dict] = None
    # Paths inside drives made read-only before the run ("c:KOVA/dromfile.dat").
    read_only: List[str] = field(default_factory=list)
    # Folders to create empty, as "c:kova".
    folders: List[str] = field(default_factory=list)


# Wine runs the tests as root, and root writes a file whatever its
# permission bits say, so Wine cannot show the read-only attribute at work.
WINE_ROOT_READ_ONLY = {
    "skip": True,
    "reason": "under Wine as root the read-only attribute is not enforced; Windows refuses "
              "the write with code 5, as the Linux layer does",
}


def with_values(base: Registry, hive: str, **changes: Value) -> Registry:
    out = {h: dict(v) for h, v in base.items()}
    out.setdefault(hive, {}).update(changes)
    return out


RECORD_SIZE = 359


def record(index: int, name: bytes = b"", name_length=None, version=b"\x03old") -> bytes:
    """A company record whose opaque bytes differ from record to record, so a
    byte written at a wrong place shows."""
    body = bytearray((index * 7 + i * 13) % 251 for i in range(RECORD_SIZE))
    body[0] = len(name) if name_length is None else name_length
    body[1:1 + len(name)] = name
    body[122:122 + len(version)] = version
    return bytes(body)


def stamped(data: bytes, stamp: bytes) -> bytes:
    body = bytearray(data)
    body[122] = len(stamp)
    body[123:123 + len(stamp)] = stamp
    return bytes(body)


def working_dir(text) -> bytes:
    return lines(b"working dir: " + (text.encode("latin-1") if isinstance(text, str) else text))


def updated(index: int, name: bytes) -> bytes:
    return lines(b"Updated TARVEL" + str(index).encode() + b": " + name)


def scrambled(name: bytes) -> bytes:
    """The stored form of a database name, computed here on its own so the
    program's result is checked against a second implementation."""
    working = (b"Am" + name)[:255]
    working = (working + b"mD1dH9")[:255]
    selectors = {"digit": (3, 7, 0, 5), "upper": (4, 8, 1, 7, 6), "lower": (5, 8, 1)}
    out = bytearray()
    for k, c in enumerate(working, start=1):
        if 48 <= c <= 57:
            base, size, n = 48, 10, selectors["digit"][k % 4]
        elif 65 <= c <= 90:
            base, size, n = 65, 26, selectors["upper"][k % 5]
        elif 97 <= c <= 122:
            base, size, n = 97, 26, selectors["lower"][k % 3]
        else:
            out.append(c)
            continue
        numerator, denominator = (10 * k, 7) if n % 2 else (100 * k, 13)
        text = str(numerator // denominator) + "."
        remainder = numerator % denominator
        while len(text) < 20:
            remainder *= 10
            text += str(remainder // denominator)
            remainder %= denominator
        ch = text[max(n, 1) - 1]
        shift = int(ch) if ch.isdigit() else 4
        out.append(base + (c - base + shift) % size)
    return bytes(out)


def postgres_line(name) -> bytes:
    return lines(b"Setting Postgres DB: " + (name.encode("latin-1") if isinstance(name, str) else name))
