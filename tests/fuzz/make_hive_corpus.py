"""Writes the starting corpus of hive_fuzz: small hives made by make_hive,
each behind the byte of choices the target reads first; and its dictionary:
the cell offsets of those hives, which the fuzzer then writes where another
offset was, making cells that point at the same cell as hivex never sees
them in hives Windows wrote. Without it, no run found the abort of two
values sharing one cell.

    make_hive_corpus.py MAKE_HIVE FOLDER DICTIONARY"""

import pathlib
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "acceptance"))
import regf  # noqa: E402
from hive_runs import KEY, product, share_data_cell  # noqa: E402

USERS_HIVE = 2
NAME_DRIVE_UPPER, NAME_FRESH = 1 << 2, 2 << 2
DATA_BINARY = 2 << 4


def plan(keys, layout=None):
    lines = [f"layout {layout}"] if layout else []
    for path, values in keys.items():
        lines.append(f"key {path.encode('latin-1').hex()}")
        for name, (kind, data) in values.items():
            lines.append(f"value {path.encode('latin-1').hex()} {name.encode('latin-1').hex() or '-'} "
                         f"{kind} {data.hex() or '-'}")
    return "\n".join(lines).encode()


def make(make_hive, keys, layout=None):
    with tempfile.NamedTemporaryFile() as out:
        subprocess.run([make_hive, out.name], input=plan(keys, layout), check=True)
        return pathlib.Path(out.name).read_bytes()


def cell_offsets(hive):
    """The offset of each used cell, as other cells store it."""
    offsets, at = set(), regf.HEADER
    while at < len(hive) and hive[at:at + 4] == b"hbin":
        end, cell = at + regf.u32(hive, at + 8), at + 32
        while cell < end:
            size = struct.unpack_from("<i", hive, cell)[0]
            if size == 0:
                break
            if size < 0:
                offsets.add(cell - regf.HEADER)
            cell += abs(size)
        at = end
    return offsets


def main():
    make_hive, folder, dictionary = sys.argv[1], pathlib.Path(sys.argv[2]), sys.argv[3]
    folder.mkdir(parents=True, exist_ok=True)
    software = make(make_hive, {KEY: product(), "Microsoft\\Windows": {"Version": (1, b"1\0")}})
    corpus = {
        "software": (0, software),
        "software-new-binary": (NAME_FRESH | DATA_BINARY, software),
        "wow64-node": (NAME_DRIVE_UPPER, make(make_hive, {f"Wow6432Node\\{KEY}": product(),
                                                          KEY: product("N:")})),
        "users-nt4": (USERS_HIVE, make(make_hive, {f"Software\\{KEY}": product("E:")}, "3 7 7")),
        "names-in-two-cases": (0, make(make_hive, {KEY: product("C:", {"DRIVE": (1, b"D\0:\0\0\0")})})),
        "shared-data-cell": (0, share_data_cell(software)),
        "ri-of-li-wide": (0, make(make_hive, {KEY: product(), "Vendor": {}}, "5 7 7 li 1 1")),
    }
    offsets = set()
    for name, (choices, hive) in corpus.items():
        (folder / name).write_bytes(bytes([choices]) + hive)
        offsets |= cell_offsets(hive)
    with open(dictionary, "w") as out:
        for offset in sorted(offsets):
            out.write('"' + "".join(f"\\x{b:02x}" for b in struct.pack("<I", offset)) + '"\n')


if __name__ == "__main__":
    main()
