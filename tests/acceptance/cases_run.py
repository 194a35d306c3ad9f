"""The run from banner to final prompt: arguments, hive choice, the current and
new values, the registry writes and the registry failures."""

from harness import (FINAL_PROMPT, HKCU, HKLM, REG_BINARY, REG_EXPAND_SZ, REG_SZ,
                     SITE_INVALID_TYPE, SITE_STORE, STORE, TYPED_PROMPT, Case, banner, current, dword,
                     new_values, raw, reading, report, specified, sz, with_values)

INSTALLED = {
    HKLM: {"Drive": sz("C:"), "InstPath": sz("C:\\KOVA32"), "LocalDrive": sz("C:"),
           "cddir": sz("D:\\"), "updir": sz("\\\\server\\upd"), "PracticeRelief": sz("N")},
    HKCU: {"Drive": sz("E:"), "InstPath": sz("E:\\KOVA32"), "LocalDrive": sz("E:")},
}
INSTALLED_SHOWN = current("C:", "C:\\KOVA32", "C:", "D:\\", "\\\\server\\upd", "N")
USER_SHOWN = current("E:", "E:\\KOVA32", "E:")


def written(base, hive, drive, inst, local, relief=""):
    return with_values(base, hive, Drive=sz(drive), InstPath=sz(inst), LocalDrive=sz(local),
                       PracticeRelief=sz(relief))


CASES = [
    Case("drive argument, machine-wide hive, practice relief",
         args=["F", "-v6/7", "-pY"], stdin=b"\r\n",
         registry=INSTALLED,
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + specified("F")
         + new_values("F:", "F:\\kova32", "F:", "Y") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, "F:", "F:\\KOVA32", "F:", "Y")),

    Case("no arguments: typed drive in the per-user hive",
         args=[], stdin=b"g\r\n\r\n", registry=INSTALLED,
         stdout=banner() + reading(HKCU) + USER_SHOWN + TYPED_PROMPT
         + new_values("g:", "g:\\kova32", "g:") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKCU, "G:", "G:\\KOVA32", "G:")),

    Case("no arguments and standard input at its end",
         args=[], stdin=b"", registry=INSTALLED,
         stdout=banner() + reading(HKCU) + USER_SHOWN + TYPED_PROMPT
         + new_values(":", ":\\kova32", ":") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKCU, ":", ":\\KOVA32", ":")),

    # Deployment tools run the program without a console: from the null
    # device (NUL on Windows), or with no standard input at all. The final
    # prompt then ends the run at once, and the exit code tells the tool
    # whether the work was done.
    Case("unattended: standard input from the null device",
         args=["F", "-v6/7"], stdin_kind="null", registry=INSTALLED,
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + specified("F")
         + new_values("F:", "F:\\kova32", "F:") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, "F:", "F:\\KOVA32", "F:")),

    Case("unattended: no standard input at all",
         args=["F", "-v6/7"], stdin_kind="closed", registry=INSTALLED,
         native_only="under Wine a closed descriptor 0 is taken by the first file Wine opens, so "
                     "ReadFile meets that file (code 1) where Windows, given no standard input, "
                     "fails with code 6, which the program takes for the end of input (as the "
                     "unit tests check)",
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + specified("F")
         + new_values("F:", "F:\\kova32", "F:") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, "F:", "F:\\KOVA32", "F:")),

    Case("typed line with a lone CR and LF only ends",
         args=["-v7"], stdin=b"h\rk\nrest\n", registry=INSTALLED,
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + TYPED_PROMPT
         + new_values("hk:", "hk:\\kova32", "hk:") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, "HK:", "HK:\\KOVA32", "HK:")),

    Case("typed line of 300 characters keeps 255",
         args=["-v6"], stdin=b"q" * 300 + b"\r\nnext\r\n", registry=INSTALLED,
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + TYPED_PROMPT
         + new_values("q" * 255, "q" * 255, "q" * 255) + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, "Q" * 255, "Q" * 255, "Q" * 255)),

    Case("key absent everywhere: empty values, nothing written",
         args=["F", "-v6"], registry={},
         stdout=banner() + reading(HKLM) + current() + specified("F")
         + new_values("F:", "F:\\kova32", "F:") + FINAL_PROMPT),

    Case("key only in the other hive is left alone",
         args=["F", "-v6/7"], registry={HKCU: INSTALLED[HKCU]},
         stdout=banner() + reading(HKLM) + current() + specified("F")
         + new_values("F:", "F:\\kova32", "F:") + FINAL_PROMPT),

    # Argument 1 "-v6" has three characters, so the three-character rule
    # splits it: "-:", "v:\kova32", "6:".
    Case("drive argument after an option: argument 1 wins",
         args=["-v6", "F"], registry=INSTALLED,
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + specified("-v6")
         + new_values("-:", "v:\\kova32", "6:") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, "-:", "V:\\KOVA32", "6:")),

    Case("drive argument after an option, four characters",
         args=["-v16", "F"], registry=INSTALLED,
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + specified("-v16")
         + new_values("-v16:", "-v16:\\kova32", "-v16:") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, "-V16:", "-V16:\\KOVA32", "-V16:")),

    Case("three-character drive text",
         args=["xyz", "-v16"], registry=INSTALLED,
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + specified("xyz")
         + new_values("x:", "y:\\kova32", "z:") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, "X:", "Y:\\KOVA32", "Z:")),

    Case("two-character drive text",
         args=["XY"], registry=INSTALLED,
         stdout=banner() + reading(HKCU) + USER_SHOWN + specified("XY")
         + new_values("XY:", "XY:\\kova32", "XY:") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKCU, "XY:", "XY:\\KOVA32", "XY:")),

    Case("letters after -v choose the per-user hive; -V6 is a drive",
         args=["-V61", "-vnew"], registry=INSTALLED,
         stdout=banner() + reading(HKCU) + USER_SHOWN + specified("-V61")
         + new_values("-V61:", "-V61:\\kova32", "-V61:") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKCU, "-V61:", "-V61:\\KOVA32", "-V61:")),

    Case("practice relief with a blank inside",
         args=["F", "-pY N", "-v6"], registry=INSTALLED,
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + specified("F")
         + new_values("F:", "F:\\kova32", "F:", "Y N") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, "F:", "F:\\KOVA32", "F:", "Y N")),

    Case("bytes above 127 pass unchanged, only a-z are upper-cased",
         args=[b"\xe9c", "-v6", b"-p\xe0b\xff"], registry=INSTALLED,
         stdout=banner() + reading(HKLM) + INSTALLED_SHOWN + specified(b"\xe9c")
         + new_values(b"\xe9c:", b"\xe9c:\\kova32", b"\xe9c:", b"\xe0b\xff") + FINAL_PROMPT,
         registry_after=written(INSTALLED, HKLM, b"\xe9C:", b"\xe9C:\\KOVA32", b"\xe9C:",
                                b"\xe0B\xff")),

    Case("value types: expandable, no NUL, NUL inside, empty binary, 300 characters",
         args=["F", "-v6"],
         registry={HKLM: {"Drive": raw(REG_EXPAND_SZ, b"%SystemDrive%\0"),
                          "InstPath": raw(REG_SZ, b"C:\\NO_NUL"),
                          "LocalDrive": raw(REG_SZ, b"C:\0hidden\0"),
                          "cddir": sz("L" * 300),
                          "updir": raw(REG_BINARY, b""),
                          "PracticeRelief": raw(REG_EXPAND_SZ, b"")}},
         stdout=banner() + reading(HKLM)
         + current("%SystemDrive%", "C:\\NO_NUL", "C:", "L" * 255, "", "")
         + specified("F") + new_values("F:", "F:\\kova32", "F:") + FINAL_PROMPT,
         registry_after={HKLM: {"Drive": sz("F:"), "InstPath": sz("F:\\KOVA32"),
                                "LocalDrive": sz("F:"), "cddir": sz("L" * 300),
                                "updir": raw(REG_BINARY, b""), "PracticeRelief": sz("")}}),

    Case("a REG_DWORD InstPath ends the run in the read step",
         args=["F", "-v6"],
         registry=with_values(INSTALLED, HKLM, InstPath=dword(42)),
         stdout=banner() + reading(HKLM)
         + report("ERegistryException", SITE_INVALID_TYPE, "Invalid data type for 'InstPath'"),
         exit_code=1),

    Case("store that cannot be parsed is reported and left as it was",
         args=["F", "-v6"], native_only="the store file exists on Linux only",
         store_text=b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\r\n"
                    b"\"Drive\"=what\r\n",
         stdout=banner() + reading(HKLM)
         + report("ERegistryException", SITE_STORE,
                  b"Registry store " + STORE + b" cannot be read at line 4: a value's data is malformed"),
         exit_code=1),

    Case("read-only store is a key that does not open",
         args=["F", "-v6"], native_only="the read-only attribute of a store file",
         registry=INSTALLED, store_mode=0o444,
         stdout=banner() + reading(HKLM) + current() + specified("F")
         + new_values("F:", "F:\\kova32", "F:") + FINAL_PROMPT),
]
