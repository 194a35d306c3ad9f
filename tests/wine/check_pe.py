#!/usr/bin/env python3
"""Checks a built Vendrel.exe: its machine, the DLLs it imports (system ones
only), the version its resource states, the header flags Windows and its
administrators look for, and its application manifest."""

import argparse
import struct
import sys
import xml.etree.ElementTree as ElementTree

MACHINES = {"x86": 0x14C, "x64": 0x8664}
ALLOWED_IMPORTS = {"KERNEL32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}
# DllCharacteristics bits: ASLR, DEP, no Remote Desktop install-mode mapping;
# and for 64-bit programs, ASLR over the whole address space.
FLAGS = {"DYNAMIC_BASE": 0x40, "NX_COMPAT": 0x100, "TERMINAL_SERVER_AWARE": 0x8000}
FLAGS_64 = {"HIGH_ENTROPY_VA": 0x20}
RT_MANIFEST = 24
# Windows Vista, 7, 8, 8.1 and 10/11: without these, newer Windows runs the
# program in the compatibility mode of an older one.
SUPPORTED_OS = {
    "Vista": "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
    "7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "10": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}


class Image:
    """The parts of a PE image the checks read."""

    def __init__(self, image: bytes):
        self.bytes = image
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        assert image[pe:pe + 4] == b"PE\0\0", "not a PE file"
        self.machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", image,
                                                                            pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", image, optional)[0]
        self.dll_characteristics = struct.unpack_from("<H", image, optional + 70)[0]
        self.directories = optional + (96 if magic == 0x10B else 112)
        table = optional + optional_size
        self.spans = []
        for i in range(sections):
            size, rva, raw_size, raw = struct.unpack_from("<IIII", image, table + 40 * i + 8)
            self.spans.append((rva, max(size, raw_size), raw))

    def directory(self, index):
        return struct.unpack_from("<II", self.bytes, self.directories + 8 * index)

    def offset(self, rva):
        for start, size, raw in self.spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside every section")


def imports(image: Image):
    names = []
    at = image.offset(image.directory(1)[0])
    while True:
        name_rva = struct.unpack_from("<I", image.bytes, at + 12)[0]
        if name_rva == 0:
            break
        start = image.offset(name_rva)
        names.append(image.bytes[start:image.bytes.index(b"\0", start)].decode().upper())
        at += 20
    return names


def resource(image: Image, kind, number):
    """The data of resource kind/number (its first language), or None."""
    rva, _ = image.directory(2)
    if rva == 0:
        return None
    root = image.offset(rva)

    def entry(table, wanted):
        named, numbered = struct.unpack_from("<HH", image.bytes, table + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", image.bytes, table + 16 + 8 * i)
            if wanted is None or (not ident & 0x80000000 and ident == wanted):
                return target
        return None

    level = root
    for wanted in (kind, number, None):
        target = entry(level, wanted)
        if target is None:
            return None
        level = root + (target & 0x7FFFFFFF)
        if not target & 0x80000000:
            break
    data_rva, size = struct.unpack_from("<II", image.bytes, level)
    start = image.offset(data_rva)
    return image.bytes[start:start + size]


def manifest_problems(text: bytes):
    if text is None:
        return ["no application manifest (resource 1 of type RT_MANIFEST)"]
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return [f"the manifest is not XML: {error}"]

    def named(local):
        return [e for e in root.iter() if e.tag.rsplit("}", 1)[-1] == local]

    problems = []
    levels = [(e.get("level"), e.get("uiAccess")) for e in named("requestedExecutionLevel")]
    if levels != [("asInvoker", "false")]:
        problems.append(f"requestedExecutionLevel is {levels}, expected asInvoker, uiAccess false")
    declared = {(e.get("Id") or "").lower() for e in named("supportedOS")}
    missing = [name for name, guid in SUPPORTED_OS.items() if guid not in declared]
    if missing:
        problems.append(f"the manifest does not declare Windows {', '.join(missing)}")
    if named("activeCodePage"):
        problems.append("the manifest sets activeCodePage: the program must stay an ANSI one")
    return problems


def file_version(image: bytes):
    at = image.find(struct.pack("<I", 0xFEEF04BD))
    assert at >= 0, "no version resource"
    most, least = struct.unpack_from("<II", image, at + 8)
    return (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


def problems_of(image: Image, machine_name):
    problems = []
    if image.machine != MACHINES[machine_name]:
        problems.append(f"machine {image.machine:#x}, expected {machine_name}")
    extra = set(imports(image)) - ALLOWED_IMPORTS
    if extra:
        problems.append(f"imports DLLs that are not the system's: {sorted(extra)}")
    version = file_version(image.bytes)
    if version[:2] != (1, 3):
        problems.append(f"version resource says {version}, expected 1.3")
    strings = "FileVersion\0".encode("utf-16-le"), "1.3\0".encode("utf-16-le")
    if not all(text in image.bytes for text in strings):
        problems.append("the version strings do not say 1.3")
    wanted = dict(FLAGS, **(FLAGS_64 if machine_name == "x64" else {}))
    unset = [name for name, bit in wanted.items() if not image.dll_characteristics & bit]
    if unset:
        problems.append(f"DllCharacteristics lacks {', '.join(unset)}")
    problems += manifest_problems(resource(image, RT_MANIFEST, 1))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("program")
    parser.add_argument("--machine", choices=MACHINES, required=True)
    options = parser.parse_args()
    image = Image(open(options.program, "rb").read())
    problems = problems_of(image, options.machine)
    print(f"{options.program}: imports {', '.join(imports(image))}; "
          f"version {'.'.join(map(str, file_version(image.bytes)))}; "
          f"DllCharacteristics {image.dll_characteristics:#06x}")
    for problem in problems:
        print("  " + problem)
    print(f"pe check: {0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
