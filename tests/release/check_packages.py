#!/usr/bin/env python3
"""Checks the release packages in dist/: the zip holds the 32-bit Vendrel.exe
(system DLLs only, version 1.3, its manifest and header flags; unsigned, or
signed with SHA-256 by the certificate given), its README and SHA256SUMS that
match; the Debian package passes lintian, holds exactly what the README's
"Release packages" section lists, and its man page renders without a
warning."""

import argparse
import hashlib
import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
sys.path.insert(0, str(ROOT / "tests/wine"))
import check_pe  # noqa: E402


def readme_list(title):
    """The paths the README lists in the fenced block after a line holding title."""
    text = (ROOT / "README.md").read_text()
    block = re.search(re.escape(title) + r".*?```\n(.*?)```", text, re.S)
    return sorted(line.strip() for line in block.group(1).splitlines() if line.strip())


def signature_problems(program, certificate):
    """Whether the program carries the signature it should: none without a
    certificate, else one made with SHA-256 that verifies against it."""
    signed = check_pe.Image(program.read_bytes()).directory(4)[1] != 0
    if certificate is None:
        return ["Vendrel.exe is signed, yet no key was given"] if signed else []
    if not signed:
        return ["Vendrel.exe is not signed"]
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(certificate), "-in",
                               str(program)], capture_output=True, text=True)
    if verified.returncode != 0:
        said = [line for line in (verified.stdout + verified.stderr).splitlines()
                if re.search(r"error|fail", line, re.I)]
        return ["osslsigncode verify: " + "; ".join(said or ["failed"])]
    if not re.search(r"Message digest algorithm\s*:\s*SHA256", verified.stdout):
        return ["Vendrel.exe is not signed with SHA-256"]
    return []


def check_zip(path, certificate):
    problems = []
    with zipfile.ZipFile(path) as archive:
        names = sorted(archive.namelist())
        expected = readme_list("The zip holds:")
        if names != expected:
            problems.append(f"the zip holds {names}, the README says {expected}")
        folder = path.stem + "/"
        sums = archive.read(folder + "SHA256SUMS").decode().splitlines()
        for line in sums:
            digest, name = line.split("  ", 1)
            if hashlib.sha256(archive.read(folder + name)).hexdigest() != digest:
                problems.append(f"SHA256SUMS does not match {name}")
        if sorted(line.split("  ", 1)[1] for line in sums) != ["README.txt", "Vendrel.exe"]:
            problems.append(f"SHA256SUMS covers {sums}")
        image = archive.read(folder + "Vendrel.exe")
    with tempfile.TemporaryDirectory() as folder:
        exe = pathlib.Path(folder) / "Vendrel.exe"
        exe.write_bytes(image)
        checked = subprocess.run([sys.executable, check_pe.__file__, exe, "--machine", "x86"],
                                 capture_output=True, text=True)
        if checked.returncode != 0:
            problems.append(f"Vendrel.exe: {checked.stdout.strip()}")
        problems += signature_problems(exe, certificate)
    return problems


def check_deb(path, _certificate):
    problems = []
    lint = subprocess.run(["lintian", "--fail-on", "error,warning", "--pedantic", "-I",
                           str(path)], capture_output=True, text=True)
    tags = [line for line in lint.stdout.splitlines() if re.match(r"^[EWIP]: ", line)]
    if lint.returncode != 0 or tags:
        problems.append("lintian: " + ("; ".join(tags) or lint.stderr.strip()))
    listing = subprocess.run(["dpkg-deb", "--contents", str(path)], capture_output=True,
                             text=True, check=True).stdout
    files = sorted("/" + line.split()[-1].lstrip("./") for line in listing.splitlines()
                   if not line.startswith("d"))
    expected = readme_list("The Debian package holds:")
    if files != expected:
        problems.append(f"the package holds {files}, the README says {expected}")
    with tempfile.TemporaryDirectory() as unpacked:
        subprocess.run(["dpkg-deb", "-x", str(path), unpacked], check=True)
        page = pathlib.Path(unpacked) / "usr/share/man/man1/vendrel.1.gz"
        shown = subprocess.run(["man", "--warnings", "-l", str(page)], capture_output=True,
                               text=True, env={"MANWIDTH": "80", "PATH": "/usr/bin:/bin",
                                               "LANG": "C.UTF-8"})
        if shown.returncode != 0 or shown.stderr.strip() or "VENDREL(1)" not in shown.stdout:
            problems.append(f"man -l: {shown.stderr.strip()[:300]}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dist", default=str(ROOT / "dist"))
    parser.add_argument("--signed-by", type=pathlib.Path, metavar="CERTIFICATE",
                        help="the PEM certificate Vendrel.exe must be signed with")
    options = parser.parse_args()
    dist = pathlib.Path(options.dist)
    failed = 0
    for pattern, check in (("Vendrel-*-win32.zip", check_zip), ("vendrel_*_amd64.deb", check_deb)):
        found = sorted(dist.glob(pattern))
        problems = (check(found[0], options.signed_by) if len(found) == 1 else
                    [f"{len(found)} files match {pattern}"])
        failed += bool(problems)
        print(f"{'FAIL' if problems else 'ok  '} {found[0].name if found else pattern}")
        for problem in problems:
            print("    " + problem)
    print(f"release packages: {2 - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
