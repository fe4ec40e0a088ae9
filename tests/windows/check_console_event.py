#!/usr/bin/env python3
"""Ctrl+C in the middle of a listing to a console: the console's output code
page must be what it was before trawl ran.  Runs trawl.exe under Wine, with
a pseudo-terminal as the console, through the console_event program.

  check_console_event.py --runner wine-run --probe console_event.exe --trawl trawl.exe
"""

import argparse
import os
import pty
import re
import shutil
import sys
import tempfile

SKIP = 77


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_in_terminal(argv):
    """Runs argv with a pseudo-terminal as its terminal; its output and
    wait status."""
    pid, terminal = pty.fork()
    if pid == 0:
        os.execv(argv[0], argv)
    output = b""
    while True:
        try:
            data = os.read(terminal, 65536)
        except OSError:  # the terminal is gone with the last process on it
            break
        if not data:
            break
        output += data
    _, status = os.waitpid(pid, 0)
    os.close(terminal)
    return output, status


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--trawl", required=True)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="trawl-console-")
    try:
        # Enough entries that the listing is still going when the event comes.
        for directory in range(10):
            os.mkdir(os.path.join(work, "d%d" % directory))
            for name in range(300):
                open(os.path.join(work, "d%d" % directory, "f%03d.txt" % name), "w").close()
        command = '"%s" "%s\\*"' % (windows_path(args.trawl), windows_path(work))
        output, _ = run_in_terminal([args.runner, windows_path(args.probe), command])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", output)
    found = re.search(rb"result,before=(\d+),after=(\d+),running=(\d),sent=(\d)", text)
    if not found:
        print("no result from the probe; its output ends", text[-300:])
        return 1
    before, after, running, sent = (int(x) for x in found.groups())
    if not running:
        print("trawl ended before the event could be sent; make the tree larger")
        return 1
    if not sent:
        print("this Wine does not send Ctrl+C to a console's processes")
        return SKIP
    if after != before:
        print("code page %d before trawl, %d after Ctrl+C" % (before, after))
        return 1
    print("ok: code page %d given back" % after)
    return 0


if __name__ == "__main__":
    sys.exit(main())
