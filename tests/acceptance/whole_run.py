"""One whole run of the Linux build for the hostile-environment scenarios,
and the judgement of how it ended: a clean end, or a failure report of the
kind expected, never a crash or a hang."""

import re
import resource
import subprocess
import threading
import time

HANG = 300  # seconds; a run still going then counts as hung
REPORT = re.compile(rb"Exception (E\w+) in module vendrel\w* at [0-9A-F]{8}\.\r\n(.*)\.\r\n\r\n\Z",
                    re.S)


class Run:
    def __init__(self, proc, seconds):
        self.proc, self.seconds = proc, seconds
        self.out = proc.stdout
        match = REPORT.search(self.out)
        self.kind = match.group(1).decode() if match else None
        self.message = match.group(2) if match else None

    def outcome(self, want_kind=None):
        """The problems with how the run ended: a crash, or neither a clean
        end nor a report; with want_kind "ok", a report; with a kind, any
        other ending."""
        code = self.proc.returncode
        if code < 0 or code not in (0, 1):
            return [f"ended with {code}: {self.proc.stderr[-400:]!r}"]
        if code == 0 and not self.out.endswith(b"Any key to quit..."):
            return [f"exit 0 without the final prompt: {self.out[-200:]!r}"]
        if code == 1 and self.kind is None:
            return [f"exit 1 without a failure report: {self.out[-300:]!r}"]
        if want_kind == "ok" and code != 0:
            return [f"failed: {self.kind} {self.message!r}"]
        if want_kind not in (None, "ok") and self.kind != want_kind:
            return [f"wanted {want_kind}, got {self.kind} {self.message!r} (exit {code})"]
        return []


def run(program, inst, args, stdin=b"\r\n", env=None, user=None, during=None, prefix=(),
        limit=None, cwd=None):
    """Runs program with args in the installation. prefix goes before it (a
    setpriv line), limit caps the size of the files it may write (ulimit -f),
    during runs in a thread while it works."""
    def limit_file_size():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    started = time.monotonic()
    proc = subprocess.Popen(list(prefix) + [program] + args, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            cwd=cwd or inst.root, env=env or inst.env(), user=user,
                            preexec_fn=limit_file_size if limit is not None else None)
    if during:
        threading.Thread(target=during, daemon=True).start()
    try:
        out, err = proc.communicate(stdin, timeout=HANG)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    proc.stdout, proc.stderr = out, err
    return Run(proc, time.monotonic() - started)
