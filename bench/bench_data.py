"""The large product files of the whole-run benchmarks, shaped as the
in-process benchmarks shape them."""


def settings_file(size: int) -> bytes:
    lines = []
    sections = max(size // 1175, 2)
    for s in range(sections):
        lines.append(f"[SECTION{s}]")
        lines += [f"key{k}=value number {k} of {s}" for k in range(40)]
        if s == sections // 2:
            lines += ["[POSTGRES_SERVER]", "host=db", "langver=1", "util_ver=2",
                      "fileupdates_ver=3", "ccffl=4", "database=old"]
    return ("\r\n".join(lines) + "\r\n").encode()


def registry_store(values: int) -> bytes:
    out = ["REGEDIT4", ""]
    keys = max(values // 100, 1)
    for k in range(keys):
        if k == keys // 2:
            out += ["[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]", '"Drive"="C:"', ""]
        out.append(f"[HKEY_LOCAL_MACHINE\\Software\\Vendor{k}]")
        for v in range(0, 100, 2):
            out += [f'"Value{v}"="some setting text {v}"', f'"Number{v}"=dword:0000002a']
        out.append("")
    return ("\r\n".join(out) + "\r\n").encode()
