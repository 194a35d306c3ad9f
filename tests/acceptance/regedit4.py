"""An independent reader and writer of REGEDIT4 store files, used to set up
the Linux build's registry and to check it afterwards."""

import re

from harness import KEY, REG_DWORD, REG_SZ


def _quote(text: bytes) -> bytes:
    return b'"' + text.replace(b"\\", b"\\\\").replace(b'"', b'\\"') + b'"'


def value_line(name: str, kind: int, data: bytes) -> bytes:
    head = _quote(name.encode("latin-1")) + b"="
    body = data[:-1]
    if (kind == REG_SZ and data.endswith(b"\0") and b"\0" not in body
            and all(32 <= c != 127 for c in body)):
        return head + _quote(body)
    if kind == REG_DWORD and len(data) == 4:
        return head + b"dword:%08x" % int.from_bytes(data, "little")
    hexes = b",".join(b"%02x" % c for c in data)
    return head + (b"hex:" if kind == 3 else b"hex(%x):" % kind) + hexes


def write_store(registry) -> bytes:
    out = [b"REGEDIT4", b""]
    for hive, values in registry.items():
        out.append(b"[" + hive.encode() + b"\\" + KEY.encode() + b"]")
        for name, (kind, data) in values.items():
            out.append(value_line(name, kind, data))
        out.append(b"")
    return b"\r\n".join(out) + b"\r\n"


def _unquote(text: bytes, pos: int):
    assert text[pos:pos + 1] == b'"'
    out = bytearray()
    pos += 1
    while text[pos:pos + 1] != b'"':
        if pos >= len(text):
            raise ValueError(f"unterminated quoted text in {text!r}")
        if text[pos:pos + 1] == b"\\":
            pos += 1
        out += text[pos:pos + 1]
        pos += 1
    return bytes(out), pos + 1


def read_store(text: bytes):
    """Returns {hive: {upper-cased name: (type, data)}} for the product's key."""
    physical = re.split(rb"\r\n|\n|\r", text)
    assert physical[0].strip() == b"REGEDIT4", "store lost its signature"
    result = {}
    section = None
    i = 1
    while i < len(physical):
        line = physical[i].strip()
        i += 1
        if not line or line.startswith(b";"):
            continue
        if line.startswith(b"["):
            section = None
            path = line[1:-1].decode("latin-1")
            hive, _, rest = path.partition("\\")
            if rest.lower() == KEY.lower():
                section = result.setdefault(hive, {})
            continue
        while line.endswith(b"\\"):
            line = line[:-1] + physical[i].strip()
            i += 1
        if section is None:
            continue
        if line.startswith(b"@"):
            name, pos = b"", 1
        else:
            name, pos = _unquote(line, 0)
        data = line[pos:].strip()
        assert data.startswith(b"="), line
        data = data[1:].strip()
        key = name.decode("latin-1").upper()
        if data == b"-":
            section.pop(key, None)
        elif data.startswith(b'"'):
            section[key] = (REG_SZ, _unquote(data, 0)[0] + b"\0")
        elif data.startswith(b"dword:"):
            section[key] = (REG_DWORD, int(data[6:], 16).to_bytes(4, "little"))
        else:
            m = re.match(rb"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data)
            assert m, line
            kind = int(m.group(1), 16) if m.group(1) else 3
            body = m.group(2).replace(b" ", b"")
            section[key] = (kind, bytes(int(h, 16) for h in body.split(b",")) if body else b"")
    return result
