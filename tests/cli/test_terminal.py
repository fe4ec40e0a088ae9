"""Names that would take over a terminal: written to a terminal (a
pseudo-terminal here; the Windows build sees Wine's console on it), each
control character of a name, a path or an argument shows as '?', on
standard output and in diagnostics; through a pipe every byte passes."""

import os
import pty
import re
import select
import subprocess
import time
import tty

import harness
from harness import TreeTest, command

# name on disk, and what a terminal is shown of it
NAMES = [
    (b"report.txt", b"report.txt"),
    (b"x\rreadme.txt", b"x?readme.txt"),  # would overwrite its own path
    (b"y\x1b[2K\x1b[1Anotice.txt", b"y?[2K?[1Anotice.txt"),  # would erase the line above
    (b"t\x1b]0;owned\x07.txt", b"t?]0;owned?.txt"),  # would set the window title
    (b"n\nfake.txt", b"n?fake.txt"),  # would forge a line
    (b"del\x7f.txt", b"del?.txt"),
    (b"c1\xc2\x9b2J.txt", b"c1?2J.txt"),  # CSI as a C1 control
    (b"a\xe2\x80\xaetxt.exe", b"a?txt.exe"),  # right-to-left override: shown reversed
    (b"b\xe2\x81\xa6i.txt", b"b?i.txt"),  # left-to-right isolate
]
# UTF-8 stays, though it holds bytes 0x80-0x9F.  Wine's console shows it
# to a terminal in a code page of its own, whatever trawl writes.
if not harness.WINDOWS:
    NAMES.append((b"caf\xc3\xa9\xe2\x80\x94.txt", b"caf\xc3\xa9\xe2\x80\x94.txt"))

# How each kind of stream is given to trawl: a pseudo-terminal in raw mode
# (no line-end translation, so the bytes are trawl's own) or a pipe.
PTY, PIPE = "pty", "pipe"


def _open(kind):
    if kind == PTY:
        reader, writer = pty.openpty()
        tty.setraw(writer)
    else:
        reader, writer = os.pipe()
    return reader, writer


def run_on(args, cwd, out_kind, err_kind, deadline=60):
    """Runs trawl with standard output and standard error each on a new
    terminal or pipe, and returns (status, out bytes, err bytes), Windows
    line ends made plain.  The Wine server may hold the write ends after the
    program has ended, so the output ends with the process."""
    ends = [_open(out_kind), _open(err_kind)]
    process = subprocess.Popen(command(args), cwd=cwd, stdin=subprocess.DEVNULL,
                               stdout=ends[0][1], stderr=ends[1][1])
    for _, writer in ends:
        os.close(writer)
    data = {ends[0][0]: b"", ends[1][0]: b""}
    open_fds = list(data)
    end = time.monotonic() + deadline
    exited_at = None
    while open_fds and time.monotonic() < end:
        ready, _, _ = select.select(open_fds, [], [], 0.2)
        for fd in ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:  # a terminal whose other side is closed
                chunk = b""
            if chunk:
                data[fd] += chunk
            else:
                open_fds.remove(fd)
        if not ready and process.poll() is not None:
            exited_at = exited_at or time.monotonic()
            if time.monotonic() - exited_at > 0.5:
                break
    status = process.wait(timeout=max(1, end - time.monotonic()))
    for fd in data:
        os.close(fd)
    out, err = (data[ends[k][0]] for k in (0, 1))
    if harness.WINDOWS:
        out, err = (_from_wine_console(text.replace(b"\r\n", b"\n")) for text in (out, err))
    return status, out, err


def _from_wine_console(text):
    """The text of Wine's console as trawl wrote it: the console draws on a
    terminal with sequences of its own, which hide the cursor while it
    draws and draw a run of blanks by moving over it."""
    text = re.sub(rb"\x1b\[\?25[lh]", b"", text)
    return re.sub(rb"\x1b\[K\x1b\[(\d+)C", lambda m: b" " * int(m.group(1)), text)


class TerminalNames(TreeTest):
    def setUp(self):
        super().setUp()
        os.mkdir(os.path.join(self.root, "docs"))
        for name, _ in NAMES:
            open(os.path.join(self.root.encode(), b"docs", name), "wb").close()

    def test_entry_lines(self):
        status, out, err = run_on(["*"], self.root, PTY, PIPE)
        self.assertEqual((status, err), (0, b""))
        self.assertEqual(sorted(out.split(b"\n")),
                         sorted([b"", b"docs"] + [b"docs\\" + shown for _, shown in NAMES]))
        # A pipe gets the names as they are, the newline included.
        status, out, err = run_on(["*"], self.root, PIPE, PIPE)
        self.assertEqual((status, err), (0, b""))
        lines = [b"docs\n"] + [b"docs\\" + name + b"\n" for name, _ in NAMES]
        self.assertEqual(len(out), sum(map(len, lines)), out)
        for line in lines:
            self.assertIn(line, out)

    def test_long_listing_and_progress_lines(self):
        # The columns and the summary are as they were: only names change.
        status, out, _ = run_on(["-l", "-v", "docs\\*"], self.root, PTY, PIPE)
        self.assertEqual(status, 0)
        lines = out.split(b"\n")
        self.assertEqual(lines[0], b"Searching docs")
        rows = lines[1:1 + len(NAMES)]
        for row in rows:
            self.assertRegex(row[:47], rb"^[-a-z]{7} {17}0 \d{4}-\d\d-\d\d \d\d:\d\d:\d\d  $")
        self.assertEqual(sorted(row[47:] for row in rows),
                         sorted(b"docs\\" + shown for _, shown in NAMES))
        count = len(NAMES)
        self.assertEqual(lines[1 + count:],
                         [b"", b" Entries:               %2d  (%d)" % (count, count),
                          b" Directories:            0  Files:            %2d" % count,
                          b" Bytes:                  0  Blocks:            0", b""])

    def test_progress_lines(self):
        os.mkdir(os.path.join(self.root.encode(), b"docs", b"s\x1b[2Kub"))
        for out_kind, shown in ((PTY, b"s?[2Kub"), (PIPE, b"s\x1b[2Kub")):
            with self.subTest(stdout=out_kind):
                status, out, err = run_on(["-v", "nothing"], self.root, out_kind, PIPE)
                self.assertEqual((status, err), (1, b""))
                self.assertEqual(out, b"Searching .\nSearching .\\docs\nSearching .\\docs\\%s\n"
                                 % shown)

    def test_diagnostics_with_arguments(self):
        cases = [
            # arguments, diagnostic as given, as a terminal shows it, status
            ([b"t\x1b]0;owned\x07["], b"ill-formed filename pattern 't\x1b]0;owned\x07['",
             b"ill-formed filename pattern 't?]0;owned?['", 1),
            ([b"-d2020-13\x1b[2K", b"*"], b"improper date specification '2020-13\x1b[2K'",
             b"improper date specification '2020-13?[2K'", 255),
            ([b"-s%s\r\xe2\x80\xae" % (b"9" * 21), b"*"],
             b"improper size specification '%s\r\xe2\x80\xae'" % (b"9" * 21),
             b"improper size specification '%s??'" % (b"9" * 21), 255),
            ([b"-\x1b", b"*"], b"bad option '-\x1b'", b"bad option '-?'", 255),
        ]
        for args, raw, shown, status in cases:
            for err_kind, diagnostic in ((PTY, shown), (PIPE, raw)):
                with self.subTest(args=args, stderr=err_kind):
                    got_status, out, err = run_on(args, self.root, PIPE, err_kind)
                    self.assertEqual((got_status, out), (status, b""))
                    self.assertTrue(err.startswith(b"trawl: " + diagnostic + b"\n"), err)

    def test_diagnostic_with_a_name(self):
        if harness.WINDOWS:
            self.skipTest("Windows names cannot hold a backslash")
        os.mkdir(os.path.join(self.root.encode(), b"docs", b"a\\b\x1b]0;owned\x07"))
        why = b": not searched: the name holds a backslash\n"
        for err_kind, name in ((PTY, b"a\\b?]0;owned?"), (PIPE, b"a\\b\x1b]0;owned\x07")):
            with self.subTest(stderr=err_kind):
                status, out, err = run_on(["nothing"], self.root, PIPE, err_kind)
                self.assertEqual((status, out), (1, b""))
                self.assertEqual(err, b"trawl: docs\\" + name + why)
