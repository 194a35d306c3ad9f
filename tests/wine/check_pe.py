#!/usr/bin/env python3
"""Checks a built Vendrel.exe: its machine, the DLLs it imports (system ones
only) and the version its resource states."""

import argparse
import struct
import sys

MACHINES = {"x86": 0x14C, "x64": 0x8664}
ALLOWED_IMPORTS = {"KERNEL32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}


def imports(image: bytes):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[pe:pe + 4] == b"PE\0\0", "not a PE file"
    machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", image, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    import_rva = struct.unpack_from("<I", image, directories + 8)[0]
    table = optional + optional_size
    spans = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        spans.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside every section")

    names = []
    at = offset(import_rva)
    while True:
        name_rva = struct.unpack_from("<I", image, at + 12)[0]
        if name_rva == 0:
            break
        start = offset(name_rva)
        names.append(image[start:image.index(b"\0", start)].decode().upper())
        at += 20
    return machine, names


def file_version(image: bytes):
    at = image.find(struct.pack("<I", 0xFEEF04BD))
    assert at >= 0, "no version resource"
    most, least = struct.unpack_from("<II", image, at + 8)
    return (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("program")
    parser.add_argument("--machine", choices=MACHINES, required=True)
    options = parser.parse_args()
    image = open(options.program, "rb").read()
    machine, names = imports(image)
    problems = []
    if machine != MACHINES[options.machine]:
        problems.append(f"machine {machine:#x}, expected {options.machine}")
    extra = set(names) - ALLOWED_IMPORTS
    if extra:
        problems.append(f"imports DLLs that are not the system's: {sorted(extra)}")
    version = file_version(image)
    if version[:2] != (1, 3):
        problems.append(f"version resource says {version}, expected 1.3")
    strings = "FileVersion\0".encode("utf-16-le"), "1.3\0".encode("utf-16-le")
    if not all(text in image for text in strings):
        problems.append("the version strings do not say 1.3")
    print(f"{options.program}: imports {', '.join(names)}; version {'.'.join(map(str, version))}")
    for problem in problems:
        print("  " + problem)
    print(f"pe check: {0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
