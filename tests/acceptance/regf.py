"""An independent reader of registry hive files (regf), written from the
public description of the format, for checking what a run left in a hive:
the base block (signature, sequence numbers, sizes, checksum by Windows'
rules) and a full dump of keys, class names, security descriptors and
values, big data included."""

import struct

HEADER = 4096


class HiveError(ValueError):
    pass


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def header_checksum(data):
    """The checksum Windows expects at offset 508."""
    value = 0
    for at in range(0, 508, 4):
        value ^= u32(data, at)
    if value == 0:
        return 1
    if value == 0xFFFFFFFF:
        return 0xFFFFFFFE
    return value


def check_header(data):
    """Problems with the base block and the hive bins, as Windows would see
    them: none for a hive it loads as it is."""
    problems = []
    if len(data) < HEADER or data[:4] != b"regf":
        return ["not a hive: no regf signature"]
    if u32(data, 4) != u32(data, 8):
        problems.append(f"sequence numbers differ: {u32(data, 4)} and {u32(data, 8)}")
    if u32(data, 508) != header_checksum(data):
        problems.append(f"checksum {u32(data, 508):#x}, expected {header_checksum(data):#x}")
    bins_size = u32(data, 40)
    if HEADER + bins_size > len(data):
        problems.append(f"hive bins size {bins_size} runs past the file ({len(data)} bytes)")
    at = HEADER
    while at < HEADER + bins_size:
        if data[at:at + 4] != b"hbin":
            problems.append(f"no hive bin at {at:#x}")
            break
        if u32(data, at + 4) != at - HEADER:
            problems.append(f"hive bin at {at:#x} gives its offset as {u32(data, at + 4):#x}")
        size = u32(data, at + 8)
        if size == 0 or size % 4096:
            problems.append(f"hive bin at {at:#x} has size {size}")
            break
        at += size
    return problems


class Hive:
    def __init__(self, data):
        if data[:4] != b"regf":
            raise HiveError("no regf signature")
        self.data = data
        self.minor = u32(data, 24)

    def cell(self, offset):
        at = HEADER + offset
        size = struct.unpack_from("<i", self.data, at)[0]
        if size >= 0:
            raise HiveError(f"cell {offset:#x} is free")
        return self.data[at + 4:at - size]

    def name(self, raw, ascii_name):
        return raw.decode("latin-1") if ascii_name else raw.decode("utf-16-le", "replace")

    def subkeys(self, offset):
        cell = self.cell(offset)
        kind, count = cell[:2], u16(cell, 2)
        if kind == b"ri":
            return [k for i in range(count) for k in self.subkeys(u32(cell, 4 + 4 * i))]
        step = 4 if kind == b"li" else 8
        if kind not in (b"li", b"lf", b"lh"):
            raise HiveError(f"subkey list of kind {kind!r}")
        return [u32(cell, 4 + step * i) for i in range(count)]

    def value_data(self, vk):
        size, offset = u32(vk, 4), u32(vk, 8)
        if size & 0x80000000:
            return struct.pack("<I", offset)[:size & 0x7FFFFFFF]
        if size == 0:
            return b""
        cell = self.cell(offset)
        if cell[:2] == b"db" and self.minor >= 4 and size > 16344:
            segments = self.cell(u32(cell, 4))
            out = b"".join(self.cell(u32(segments, 4 * i))[:16344] for i in range(u16(cell, 2)))
            return out[:size]
        return cell[:size]

    def key(self, offset):
        nk = self.cell(offset)
        if nk[:2] != b"nk":
            raise HiveError(f"key cell {offset:#x} is {nk[:2]!r}")
        flags, name_length, class_length = u16(nk, 2), u16(nk, 72), u16(nk, 74)
        key = {"name": self.name(nk[76:76 + name_length], flags & 0x20),
               "class": None, "security": None, "values": {}, "keys": {}}
        if u32(nk, 48) != 0xFFFFFFFF and class_length:
            key["class"] = self.cell(u32(nk, 48))[:class_length].decode("utf-16-le", "replace")
        if u32(nk, 44) != 0xFFFFFFFF:
            sk = self.cell(u32(nk, 44))
            key["security"] = sk[20:20 + u32(sk, 16)].hex()
        values = u32(nk, 36)
        if values:
            listing = self.cell(u32(nk, 40))
            for i in range(values):
                vk = self.cell(u32(listing, 4 * i))
                if vk[:2] != b"vk":
                    raise HiveError("value cell is not vk")
                name = self.name(vk[20:20 + u16(vk, 2)], u16(vk, 16) & 1)
                key["values"][name] = (u32(vk, 12), self.value_data(vk))
        if u32(nk, 20):
            for child in self.subkeys(u32(nk, 28)):
                sub = self.key(child)
                key["keys"][sub["name"]] = sub
        return key

    def dump(self):
        return self.key(u32(self.data, 36))


def dump(data):
    """The whole tree of a hive: each key's name, class name, security
    descriptor (hex), values by name as (type, data) and keys by name."""
    return Hive(data).dump()


def find(tree, path):
    """The key at path (names joined by \\, any letter case), or None."""
    for name in [p for p in path.split("\\") if p]:
        match = [k for n, k in tree["keys"].items() if n.lower() == name.lower()]
        if not match:
            return None
        tree = match[0]
    return tree


def plan(tree, path=""):
    """make_hive's plan for a tree as dump gives it (class names and
    values; security descriptors are the maker's own)."""
    lines = [f"key {path.encode('latin-1').hex() or '-'}"]
    if tree.get("class"):
        lines.append(f"class {path.encode('latin-1').hex()} {tree['class'].encode('latin-1').hex()}")
    for name, (kind, data) in tree["values"].items():
        lines.append(f"value {path.encode('latin-1').hex() or '-'} "
                     f"{name.encode('latin-1').hex() or '-'} {kind} {data.hex() or '-'}")
    for name, sub in tree["keys"].items():
        lines += plan(sub, f"{path}\\{name}" if path else name)
    return lines
