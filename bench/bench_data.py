"""The large product files of the whole-run benchmarks, in the shapes the
in-process benchmarks give them (bench_files.h)."""

POSTGRES = ["[POSTGRES_SERVER]", "host=db", "langver=1", "util_ver=2", "fileupdates_ver=3",
            "ccffl=4", "database=old"]


def settings_file(size: int) -> bytes:
    """Sections of 40 keys, POSTGRES_SERVER in the middle."""
    lines = []
    sections = max(size // 1175, 2)
    for s in range(sections):
        lines.append(f"[SECTION{s}]")
        lines += [f"key{k}=value number {k} of {s}" for k in range(40)]
        if s == sections // 2:
            lines += POSTGRES
    return ("\r\n".join(lines) + "\r\n").encode()


def settings_file_of_small_sections(size: int) -> bytes:
    """Sections of two short lines, about 100 bytes each."""
    lines = []
    sections = max(size // 100, 2)
    for s in range(sections):
        lines += [f"[WORKSTATION{s}]", f"name=desk{s}", f"printer=front{s}"]
        if s == sections // 2:
            lines += POSTGRES
    return ("\r\n".join(lines) + "\r\n").encode()


PRODUCT_KEY = ["[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]", '"Drive"="C:"',
               '"InstPath"="C:\\\\KOVA32"', '"LocalDrive"="C:"', '"PracticeRelief"="N"']


def some_values(count: int, prefix: str = ""):
    out = []
    for v in range(0, count - 1, 2):
        out += [f'"{prefix}Value{v}"="some setting text {v}"', f'"{prefix}Number{v}"=dword:0000002a']
    return out


def registry_store(values: int, per_key: int = 100) -> bytes:
    """Values in other keys of per_key values each, the product key in the middle."""
    out = ["REGEDIT4", ""]
    keys = max(values // per_key, 1)
    for k in range(keys):
        if k == keys // 2:
            out += PRODUCT_KEY + [""]
        out.append(f"[HKEY_LOCAL_MACHINE\\Software\\Vendor{k}]")
        out += some_values(per_key) + [""]
    return ("\r\n".join(out) + "\r\n").encode()


def product_key_store(values: int) -> bytes:
    """The product key itself holding the values."""
    return ("\r\n".join(["REGEDIT4", ""] + PRODUCT_KEY + some_values(values, "Other") + [""])
            + "\r\n").encode()


def software_hive_plan(values: int) -> bytes:
    """make_hive's plan of a SOFTWARE hive in the shape of bench_files.h's:
    the product key with two of its values, the build of Windows 10 22H2,
    and values in vendors' keys of ten; 100,000 values make about 10 MB."""
    def text(value):
        return (value.encode("utf-16-le") + bytes(2)).hex()
    product = b"Tarvel Global".hex()
    inst_path = text("C:\\KOVA32")
    version = b"Microsoft\\Windows NT\\CurrentVersion".hex()
    lines = [f"value {product} {b'Drive'.hex()} 1 {text('C:')}",
             f"value {product} {b'InstPath'.hex()} 1 {inst_path}",
             f"value {version} {b'CurrentBuildNumber'.hex()} 1 {text('19045')}"]
    settings = [(f"Setting{v}".encode().hex(), text(f"some setting text {v}")) for v in range(10)]
    for k in range(values // 10):
        path = ("Vendor%d\\Product%d" % (k // 100, k)).encode().hex()
        lines += [f"value {path} {name} 1 {data}" for name, data in settings]
    return ("\n".join(lines) + "\n").encode()


def pad_hive(path, size):
    """Pads a hive file with free bins of 64 KiB (a header and one free cell,
    the rest left sparse) to size bytes, its base block saying so."""
    import struct
    with open(path, "r+b") as hive:
        base = bytearray(hive.read(4096))
        at = 4096 + struct.unpack_from("<I", base, 40)[0]
        while at + (1 << 16) <= size:
            hive.seek(at)
            hive.write(b"hbin" + struct.pack("<II", at - 4096, 1 << 16) + bytes(20)
                       + struct.pack("<I", (1 << 16) - 32))
            at += 1 << 16
        hive.truncate(at)
        struct.pack_into("<I", base, 40, at - 4096)
        checksum = 0
        for word in struct.unpack_from("<127I", base):
            checksum ^= word
        struct.pack_into("<I", base, 508, {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}.get(checksum, checksum))
        hive.seek(0)
        hive.write(base)
