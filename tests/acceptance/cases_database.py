"""The -d option: the scrambled database name written into the shared
settings file, the four version entries removed, and the failures."""

from harness import (FINAL_PROMPT, HKCU, HKLM, SITE_DATABASE_NAME, SITE_INI_WRITE,
                     WINE_ROOT_READ_ONLY, Case, banner,
                     current, new_values, postgres_line, reading, record, report, scrambled,
                     specified, stamped, sz, updated, with_values, working_dir)

BEFORE = {HKLM: {"Drive": sz("C:"), "InstPath": sz("C:\\KOVA32")}}
SHOWN = current("C:", "C:\\KOVA32")
INI = "kova/kelvarini.dat"
CLINIC = scrambled(b"clinic")


def after(drive, inst, local, relief=""):
    return with_values(BEFORE, HKLM, Drive=sz(drive), InstPath=sz(inst), LocalDrive=sz(local),
                       PracticeRelief=sz(relief))


def head(drive_arg, drive, inst, local, weergawe=""):
    return (banner() + reading(HKLM) + SHOWN + specified(drive_arg)
            + new_values(drive, inst, local, "", weergawe))


# The platform's profile writer rewrites the whole file: it trims blanks,
# drops blank lines, writes CR LF, and reads a file with a UTF-8 mark as
# UTF-8, so bytes that are not UTF-8 there come back as U+FFFD. The Linux
# writer keeps every line it does not change.
WHOLE_FILE_REWRITE = "the platform's profile writer rewrites the whole file"


def ini_case(name, before, expected, database="clinic", drive="f", extra=(), under_wine=None):
    return Case(name, args=[drive, "-v6", "-d" + database, *extra], stdin=b"\r\n",
                registry=BEFORE, drives={"f": {INI: before}},
                stdout=head(drive, "f:", "f:\\kova32", "f:") + postgres_line(database)
                + FINAL_PROMPT,
                registry_after=after("F:", "F:\\KOVA32", "F:"),
                drives_after={"f": {INI: expected}},
                wine=None if under_wine is None else {
                    "reason": WHOLE_FILE_REWRITE, "drives_after": {"f": {INI: under_wine}}})


def refused(name, database, message, site=SITE_INI_WRITE, folders=("f:kova",), files=None,
            read_only=(), wine=None, native_only=None):
    return Case(name, args=["f", "-v6", b"-d" + database], stdin=b"\r\n", registry=BEFORE,
                folders=list(folders), drives=files or {}, read_only=list(read_only),
                wine=wine, native_only=native_only,
                stdout=head("f", "f:", "f:\\kova32", "f:")
                + report("EIniFileException", site, message),
                exit_code=1, registry_after=after("F:", "F:\\KOVA32", "F:"))


CASES = [
    Case("settings file created in an existing folder",
         args=["F", "-v6", "-dclinic"], stdin=b"\r\n", registry=BEFORE, folders=["f:kova"],
         stdout=head("F", "F:", "F:\\kova32", "F:") + postgres_line("clinic") + FINAL_PROMPT,
         registry_after=after("F:", "F:\\KOVA32", "F:"),
         drives_after={"f": {INI: b"[POSTGRES_SERVER]\r\ndatabase=" + CLINIC + b"\r\n"}}),

    ini_case("section updated in place; other entries, sections and bytes kept",
             b"\xef\xbb\xbf; product settings\r\n[GENERAL]\r\nlangver=9\r\n\r\n"
             b"[postgres_server]\r\nhost = db1 \r\nLangVer=12\r\nDATABASE = old\r\nutil_ver=7\r\n"
             b"FileUpdates_Ver\r\nCCFFL=1\r\nport=5432\r\n\r\n[OTHER]\r\nccffl=2\r\n\xe9t\xe9=\xff\r\n",
             b"\xef\xbb\xbf; product settings\r\n[GENERAL]\r\nlangver=9\r\n\r\n"
             b"[postgres_server]\r\nhost = db1 \r\nDATABASE = " + CLINIC + b"\r\nport=5432\r\n\r\n"
             b"[OTHER]\r\nccffl=2\r\n\xe9t\xe9=\xff\r\n",
             under_wine=b"\xef\xbb\xbf; product settings\r\n[GENERAL]\r\nlangver=9\r\n"
             b"[postgres_server]\r\nhost=db1\r\nDATABASE=" + CLINIC + b"\r\nport=5432\r\n"
             b"[OTHER]\r\nccffl=2\r\n\xef\xbf\xbdt\xef\xbf\xbd=\xef\xbf\xbd\r\n"),

    ini_case("LF-only file without a final line end gains the entry in its section",
             b"[GENERAL]\nname=x\n[POSTGRES_SERVER]\nhost=db1\n; port follows\n\n[LAST]\nk=v",
             b"[GENERAL]\nname=x\n[POSTGRES_SERVER]\nhost=db1\n; port follows\ndatabase="
             + CLINIC + b"\n\n[LAST]\nk=v",
             under_wine=b"[GENERAL]\r\nname=x\r\n[POSTGRES_SERVER]\r\nhost=db1\r\n"
             b"; port follows\r\ndatabase=" + CLINIC + b"\r\n[LAST]\r\nk=v\r\n"),

    ini_case("a new section goes at the end of a file without a final line end",
             b"[GENERAL]\r\nname=x",
             b"[GENERAL]\r\nname=x\r\n[POSTGRES_SERVER]\r\ndatabase=" + CLINIC + b"\r\n"),

    ini_case("duplicate sections: written in the first, deleted wherever first found",
             b"[POSTGRES_SERVER]\r\nhost=a\r\n[ POSTGRES_SERVER ]\r\nlangver=1\r\ndatabase=x\r\n",
             b"[POSTGRES_SERVER]\r\nhost=a\r\ndatabase=" + CLINIC + b"\r\n"
             b"[ POSTGRES_SERVER ]\r\ndatabase=x\r\n",
             under_wine=b"[POSTGRES_SERVER]\r\nhost=a\r\ndatabase=" + CLINIC + b"\r\n"
             b"[POSTGRES_SERVER]\r\ndatabase=x\r\n"),

    ini_case("an empty settings file gets the section",
             b"", b"[POSTGRES_SERVER]\r\ndatabase=" + CLINIC + b"\r\n"),

    Case("-d alone touches nothing",
         args=["f", "-v6", "-d"], stdin=b"\r\n", registry=BEFORE,
         drives={"f": {INI: b"[POSTGRES_SERVER]\r\nlangver=1\r\n"}},
         stdout=head("f", "f:", "f:\\kova32", "f:") + FINAL_PROMPT,
         registry_after=after("F:", "F:\\KOVA32", "F:")),

    Case("the three-character rule picks the drive of the settings file",
         args=["xyz", "-v6", "-dclinic"], stdin=b"\r\n", registry=BEFORE, folders=["x:KOVA"],
         stdout=head("xyz", "x:", "y:\\kova32", "z:") + postgres_line("clinic") + FINAL_PROMPT,
         registry_after=after("X:", "Y:\\KOVA32", "Z:"),
         drives_after={"x": {"KOVA/kelvarini.dat":
                             b"[POSTGRES_SERVER]\r\ndatabase=" + CLINIC + b"\r\n"}}),

    refused("settings folder missing: unable to write", b"clinic",
            "Unable to write to f:\\kova\\kelvarini.dat", folders=["f:other"]),
    refused("read-only settings file: unable to write", b"clinic",
            "Unable to write to f:\\kova\\kelvarini.dat",
            files={"f": {INI: b"[POSTGRES_SERVER]\r\nlangver=1\r\n"}}, read_only=["f:" + INI],
            wine=WINE_ROOT_READ_ONLY),
    refused("a folder in the settings file's place: unable to write", b"clinic",
            "Unable to write to f:\\kova\\kelvarini.dat", folders=["f:kova/kelvarini.dat"]),
    refused("a name too long to read back is refused", b"n" * 253,
            "Unable to write to f:\\kova\\kelvarini.dat: a database name of 253 characters "
            "cannot be read back (at most 252)", site=SITE_DATABASE_NAME),
    refused("a name with a line break is refused before the file is touched",
            b"db1\r\n[EVIL]\r\nx=1",
            "Unable to write to f:\\kova\\kelvarini.dat: a database name may not hold a line "
            "break", site=SITE_DATABASE_NAME,
            files={"f": {INI: b"[POSTGRES_SERVER]\r\nlangver=1\r\n"}},
            native_only="Wine builds the Windows command line without quoting CR and LF, so "
                        "they split the word there; the refusal itself is tested in the units"),

    Case("the full run: stamp, settings file, final prompt",
         args=["F", "-v6/7", "-w2.10", "-dclinic"], stdin=b"\r\n",
         registry=with_values(BEFORE, HKCU, Drive=sz("E:")),
         drives={"f": {"KOVA/dromfile.dat": record(0, b"Head") + record(1, b"Alpha"),
                       "KOVA/kelvarini.dat": b"[POSTGRES_SERVER]\r\nport=5432\r\nlangver=12\r\n"}},
         stdout=head("F", "F:", "F:\\kova32", "F:", "2.10") + working_dir("F:\\KOVA\\")
         + updated(1, b"Alpha") + postgres_line("clinic") + FINAL_PROMPT,
         registry_after=with_values(after("F:", "F:\\KOVA32", "F:"), HKCU, Drive=sz("E:")),
         drives_after={"f": {
             "KOVA/dromfile.dat": record(0, b"Head") + stamped(record(1, b"Alpha"), b"2.10"),
             "KOVA/kelvarini.dat": b"[POSTGRES_SERVER]\r\nport=5432\r\ndatabase=" + CLINIC
             + b"\r\n"}}),
]
