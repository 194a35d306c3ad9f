"""The -w option: the company file found through the stored Drive, every
record but the first stamped, and the ways its opening can fail."""

from harness import (FINAL_PROMPT, HKLM, SITE_COMPANY_ABORT, WINE_ROOT_READ_ONLY, Case, banner, current, lines,
                     new_values, reading, record, report, specified, stamped, sz, updated,
                     with_values, working_dir)

BEFORE = {HKLM: {"Drive": sz("C:"), "InstPath": sz("C:\\KOVA32"), "cddir": sz("D:\\")}}
BEFORE_SHOWN = current("C:", "C:\\KOVA32", "", "D:\\")
FILE = "KOVA/dromfile.dat"

R0 = record(0, b"Head office")
R1 = record(1, b"Alpha")
R2 = record(2, b"Beta Clinic")


def after(drive, inst, local):
    return with_values(BEFORE, HKLM, Drive=sz(drive), InstPath=sz(inst), LocalDrive=sz(local),
                       PracticeRelief=sz(""))


def run_head(drive_arg, version_text, drive, inst, local):
    return (banner() + reading(HKLM) + BEFORE_SHOWN + specified(drive_arg)
            + new_values(drive, inst, local, "", version_text))


def stamp_case(name, content, expected, shown, version_arg="-w2.10", version_text="2.10"):
    return Case(name, args=["f", "-v6", version_arg], stdin=b"\r\n", registry=BEFORE,
                drives={"f": {FILE: content}},
                stdout=run_head("f", version_text, "f:", "f:\\kova32", "f:")
                + working_dir("F:\\KOVA\\") + shown + FINAL_PROMPT,
                registry_after=after("F:", "F:\\KOVA32", "F:"),
                drives_after={"f": {FILE: expected}})


def open_failure(name, drive_arg, registry_drive, file_name, code, drives=None, read_only=(),
                 folders=(), wine=None):
    composed = drive_arg + ":" if len(drive_arg) != 3 else drive_arg[0] + ":"
    return Case(name, args=[drive_arg, "-v7", "-w2.10", "-dclinic"], stdin=b"\r\nnever read\r\n",
                registry=BEFORE, drives=drives or {}, read_only=list(read_only),
                folders=list(folders), wine=wine,
                stdout=run_head(drive_arg, "2.10", composed, composed + "\\kova32", composed)
                + working_dir(registry_drive + "\\KOVA\\"[:10 - len(registry_drive)])
                + lines(f"Error: could not open {file_name}  error {code}.  Program will abort.")
                + report("EAbort", SITE_COMPANY_ABORT, "Operation aborted"),
                exit_code=1,
                registry_after=after(registry_drive, registry_drive + "\\KOVA32",
                                     registry_drive))


ABCD_UNDER_WINE = (
    run_head("ABCD", "2.10", "ABCD:", "ABCD:\\kova32", "ABCD:") + working_dir("ABCD:\\KOVA")
    + lines("Error: could not open ABCD:\\KOVAdromfile.dat  error 3.  Program will abort.")
    + report("EAbort", SITE_COMPANY_ABORT, "Operation aborted"))

CASES = [
    stamp_case("company file of 0 bytes is left as it is", b"", b"", b""),
    stamp_case("company file of one record is left as it is", R0, R0, b""),
    stamp_case("one record and a partial one are left as they are", R0 + R1[:200],
               R0 + R1[:200], b""),
    stamp_case("three records: the second and third are stamped", R0 + R1 + R2,
               R0 + stamped(R1, b"2.10") + stamped(R2, b"2.10"),
               updated(1, b"Alpha") + updated(2, b"Beta Clinic")),
    stamp_case("two records and 100 bytes: the tail stays", R0 + R1 + b"\xee" * 100,
               R0 + stamped(R1, b"2.10") + b"\xee" * 100, updated(1, b"Alpha")),
    stamp_case("version text trimmed and cut to four", R0 + R1,
               R0 + stamped(R1, b"2024"), updated(1, b"Alpha"), "-w 2024.1", " 2024.1"),
    stamp_case("one-character version keeps the other version bytes", R0 + R1,
               R0 + stamped(R1, b"7"), updated(1, b"Alpha"), "-w7", "7"),
    stamp_case("a version of blanks stamps length 0", R0 + R1,
               R0 + stamped(R1, b""), updated(1, b"Alpha"), "-w   ", "   "),
    stamp_case("version text is cut to ten before the stamp", R0 + R1,
               R0 + stamped(R1, b"1234"), updated(1, b"Alpha"), "-w12345678901234",
               "1234567890"),
    stamp_case("an empty name gives a line ending in the blank", R0 + record(1, b""),
               R0 + stamped(record(1, b""), b"2.10"), updated(1, b"")),
    stamp_case("a long name is shown as written, over the stamped version",
               R0 + record(1, b"N" * 121, name_length=130),
               R0 + stamped(record(1, b"N" * 121, name_length=130), b"2.10"),
               updated(1, b"N" * 121 + b"\x042.10" + stamped(record(1), b"2.10")[127:131])),
    Case("the product folder and file are found whatever their case",
         args=["f", "-v6", "-w2.10"], stdin=b"\n", registry=BEFORE,
         drives={"f": {"kova/DROMFILE.DAT": R0 + R1}},
         stdout=run_head("f", "2.10", "f:", "f:\\kova32", "f:") + working_dir("F:\\KOVA\\")
         + updated(1, b"Alpha") + FINAL_PROMPT,
         registry_after=after("F:", "F:\\KOVA32", "F:"),
         drives_after={"f": {"kova/DROMFILE.DAT": R0 + stamped(R1, b"2.10")}}),
    Case("settings key absent: the working directory's dromfile.dat",
         args=["f", "-v6", "-w2.10"], stdin=b"\n", registry={},
         drives={"g": {"work/dromfile.dat": R0 + R1}}, cwd="g:work",
         stdout=banner() + reading(HKLM) + current() + specified("f")
         + new_values("f:", "f:\\kova32", "f:", "", "2.10") + working_dir("")
         + updated(1, b"Alpha") + FINAL_PROMPT,
         drives_after={"g": {"work/dromfile.dat": R0 + stamped(R1, b"2.10")}}),
    open_failure("company file missing in an existing folder: error 2", "G", "G:",
                 "G:\\KOVA\\dromfile.dat", 2, folders=["g:KOVA"]),
    open_failure("company folder missing: error 3", "G", "G:", "G:\\KOVA\\dromfile.dat", 3,
                 folders=["g:other"]),
    open_failure("drive missing: error 3", "Q", "Q:", "Q:\\KOVA\\dromfile.dat", 3),
    open_failure("read-only company file: error 5", "G", "G:", "G:\\KOVA\\dromfile.dat", 5,
                 drives={"g": {FILE: R0 + R1}}, read_only=["g:" + FILE],
                 wine=WINE_ROOT_READ_ONLY),
    open_failure("a folder in the company file's place: error 5", "G", "G:",
                 "G:\\KOVA\\dromfile.dat", 5, folders=["g:KOVA/dromfile.dat"]),
    open_failure("a Drive of five characters runs into the file name: error 123", "ABCD",
                 "ABCD:", "ABCD:\\KOVAdromfile.dat", 123, wine={
                     "reason": "Wine reports a colon inside a name as a missing path (3); "
                               "Windows, and the Linux layer with it, as an invalid name (123)",
                     "stdout": ABCD_UNDER_WINE}),
]
