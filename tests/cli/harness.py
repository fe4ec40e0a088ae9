"""Shared pieces of the end-to-end tests.

Every test builds its tree in a fresh temporary directory, runs the trawl
executable named by TRAWL_EXE (through TRAWL_RUNNER, the Wine wrapper, for
the Windows build) and compares standard output, standard error and the
exit status exactly.

The Windows executable writes text streams: every line must end in CR LF.
run() checks that and hands back the text with plain LF line ends, so that
one expected text serves both builds.
"""

import datetime
import errno
import os
import select
import shutil
import subprocess
import tempfile
import time
import unittest

from listing_order import probe_order

TRAWL = os.environ.get("TRAWL_EXE", "")
RUNNER = os.environ.get("TRAWL_RUNNER", "")
WINDOWS = TRAWL.lower().endswith(".exe")


def _scratch_root():
    # tmpfs lists a directory in an order fixed by the order of creation,
    # which lets a test predict the enumeration order.
    for candidate in ("/dev/shm", None):
        if candidate is None or (os.path.isdir(candidate) and os.access(candidate, os.W_OK)):
            return candidate
    return None


SCRATCH = _scratch_root()
ORDER = probe_order(SCRATCH)


def _decode(data, stream):
    if WINDOWS:
        text = data.decode("latin-1")
        bare = text.replace("\r\n", "")
        if "\n" in bare or "\r" in bare:
            raise AssertionError("%s has a line end that is not CR LF: %r" % (stream, text))
        return text.replace("\r\n", "\n")
    return data.decode("latin-1")


class Result:
    def __init__(self, out, err, status):
        self.out = out
        self.err = err
        self.status = status

    def lines(self):
        return self.out.splitlines()

    def __repr__(self):
        return "Result(status=%r, out=%r, err=%r)" % (self.status, self.out, self.err)


def command(args, prefix=()):
    return list(prefix) + ([RUNNER] if RUNNER else []) + [TRAWL] + list(args)


def run_to(stdout, args, cwd, prefix=(), stdin=subprocess.DEVNULL, timeout=120):
    """Runs trawl (after the prefix command, such as setpriv, if any) with
    standard output on the given file descriptor or file; standard error is
    captured in a file, not a pipe: the Wine server keeps a copy of a
    program's standard handles for a while after it ends, so a pipe would
    not close.  Returns (status, error text)."""
    for attempt in range(3):
        if attempt and hasattr(stdout, "truncate"):  # a rerun starts on an empty file
            stdout.seek(0)
            stdout.truncate()
        with tempfile.TemporaryFile() as err:
            done = subprocess.run(command(args, prefix), cwd=cwd, stdin=stdin, stdout=stdout,
                                  stderr=err, timeout=timeout)
            err.seek(0)
            text = err.read()
        # A Wine server that is just shutting down when the next program
        # starts drops it; that is Wine's hiccup, not trawl's outcome.
        if not (RUNNER and text.startswith(b"wine client error")):
            break
    return done.returncode, _decode(text, "stderr")


def run(args, cwd, stdin=subprocess.DEVNULL, timeout=120, prefix=()):
    """Runs trawl with the given arguments in cwd."""
    with tempfile.TemporaryFile() as out:
        status, err = run_to(out, args, cwd, prefix, stdin, timeout)
        out.seek(0)
        return Result(_decode(out.read(), "stdout"), err, status)


class PipeReader:
    """trawl with standard output on a pipe that the test reads at its own
    pace.  The Wine server may hold the pipe's write end for a while after
    the program has ended, so the end of the output is the end of the
    process, not the end of the pipe."""

    def __init__(self, args, cwd):
        self.err = tempfile.TemporaryFile()
        self.process = subprocess.Popen(command(args), cwd=cwd, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=self.err)
        self.fd = self.process.stdout.fileno()
        self.data = b""

    def read_at_least(self, size, deadline=60):
        end = time.monotonic() + deadline
        while len(self.data) < size and time.monotonic() < end:
            ready, _, _ = select.select([self.fd], [], [], 0.5)
            if ready:
                chunk = os.read(self.fd, 65536)
                if not chunk:
                    break
                self.data += chunk

    def read_to_exit(self, deadline=60):
        end = time.monotonic() + deadline
        while time.monotonic() < end:
            ready, _, _ = select.select([self.fd], [], [], 0.2)
            if ready:
                chunk = os.read(self.fd, 65536)
                if chunk:
                    self.data += chunk
                    continue
                break
            if self.process.poll() is not None:
                break
        status = self.process.wait(timeout=max(1, end - time.monotonic()))
        self.process.stdout.close()
        return status

    def close_early(self):
        self.process.stdout.close()
        return self.process.wait(timeout=60)

    def result(self, status):
        self.err.seek(0)
        err = _decode(self.err.read(), "stderr")
        self.err.close()
        return Result(_decode(self.data, "stdout"), err, status)


class TreeTest(unittest.TestCase):
    """A test case with a fresh, empty directory in self.root."""

    def setUp(self):
        if not TRAWL:
            self.skipTest("TRAWL_EXE is not set")
        self.root = tempfile.mkdtemp(prefix="trawl-test-", dir=SCRATCH)

    def tearDown(self):
        for dirpath, dirnames, filenames in os.walk(self.root):
            for name in dirnames:
                os.chmod(os.path.join(dirpath, name), 0o755)
        shutil.rmtree(self.root, ignore_errors=True)

    def path(self, relative):
        return os.path.join(self.root, *relative.split("/"))

    def make(self, *entries):
        """Creates the entries in the order given, so that where the file
        system allows it each directory lists them in that order.  An entry
        ending in '/' is a directory; any other is a file, either a bare
        name (empty file) or a (name, size) pair."""
        made = []
        for entry in entries:
            name, size = (entry, 0) if isinstance(entry, str) else entry
            made.append((name, size))
        if ORDER == "reversed":
            made = _reverse_siblings(made)
        for name, size in made:
            full = self.path(name.rstrip("/"))
            if name.endswith("/"):
                os.makedirs(full, exist_ok=True)
            else:
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "wb") as f:
                    if size:
                        f.truncate(size)

    def trawl(self, *args, cwd=None):
        return run(args, cwd or self.root)

    def assertRun(self, result, out="", err="", status=0, ordered=True):
        """Compares the three outcomes.  With ordered=False, or when the file
        system's order cannot be predicted, the output lines are compared as
        sorted lists."""
        if ordered and ORDER is not None:
            self.assertEqual(result.out, out, result)
        else:
            self.assertEqual(sorted(result.out.splitlines()), sorted(out.splitlines()), result)
        self.assertEqual(result.err, err, result)
        self.assertEqual(result.status, status, result)


def _reverse_siblings(entries):
    """Reorders the creation so that a file system listing each directory in
    reverse creation order shows the entries in the order given."""
    result = []
    by_parent = {}
    order = []
    for name, size in entries:
        parent = os.path.dirname(name.rstrip("/"))
        if parent not in by_parent:
            by_parent[parent] = []
            order.append(parent)
        by_parent[parent].append((name, size))
    # Creating parents before children is required; creating a directory's
    # own entries in reverse keeps every directory's listing as given.
    for parent in order:
        result.extend(reversed(by_parent[parent]))
    return result


EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)

# A zone far from UTC, and not a whole number of hours away, so that any
# conversion to local time moves a time stamp visibly.
FAR_ZONE = "XST-5:45"


def utc_ns(*fields):
    """Nanoseconds since 1970 for a UTC date and time (year, month, day,
    hour, minute, second); negative before 1970."""
    delta = datetime.datetime(*fields, tzinfo=datetime.timezone.utc) - EPOCH
    return (delta.days * 86400 + delta.seconds) * 10**9 + delta.microseconds * 1000


def set_mtime(path, ns):
    os.utime(path, ns=(ns, ns))


def set_dos_attributes(test, path, text):
    """Stores DOS attributes the way Wine keeps them, in an extended
    attribute that both builds read."""
    try:
        os.setxattr(path, "user.DOSATTRIB", text)
    except OSError as error:
        if error.errno in (errno.ENOTSUP, errno.EOPNOTSUPP):
            test.skipTest("the scratch file system keeps no user xattrs")
        raise
