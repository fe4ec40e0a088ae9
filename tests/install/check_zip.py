#!/usr/bin/env python3
"""Makes the .zip of a configured and built Windows tree with cpack, checks
that it holds exactly the program, the manual as text and the licence, and
runs the packaged trawl.exe (through the Wine wrapper) from where it was
unpacked: its information text and a search in a small tree.  Stripping
must leave the version resource as it was built."""

import argparse
import os
import shutil
import sys
import tempfile
import zipfile

from check_version_resource import read_version_info
from install_checks import information_text_ok, make_package, make_tree, search_lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cpack", default="cpack")
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="trawl-zip-")
    try:
        package = make_package(args.cpack, args.build, "ZIP", os.path.join(work, "out"), ".zip")
        if package is None:
            return 1
        with zipfile.ZipFile(package) as archive:
            names = sorted(n for n in archive.namelist() if not n.endswith("/"))
            folder = os.path.basename(package)[:-len(".zip")]
            expected = sorted(folder + "/" + n for n in ("trawl.exe", "trawl.txt", "LICENSE.txt"))
            if names != expected:
                print("the archive holds", names, "expected", expected)
                return 1
            manual = archive.read(folder + "/trawl.txt")
            archive.extractall(os.path.join(work, "unpacked"))
        text = manual.decode("ascii", "replace")
        bare = manual.replace(b"\r\n", b"")
        problems = []
        if b"\n" in bare or b"\r" in bare:
            problems.append("trawl.txt has line ends other than CR LF")
        if b"\b" in manual or b"\x1b" in manual:
            problems.append("trawl.txt holds overstrikes or escape sequences")
        for heading in ("SYNOPSIS", "OPTIONS", "PATTERNS", "EXIT STATUS"):
            if "\r\n" + heading + "\r\n" not in text:
                problems.append("trawl.txt has no section " + heading)
        if problems:
            print("\n".join(problems))
            return 1

        packaged = os.path.join(work, "unpacked", folder, "trawl.exe")
        built = read_version_info(os.path.join(args.build, "trawl.exe"))
        if built is None or read_version_info(packaged) != built:
            print("the packaged trawl.exe lost the version resource of the built one")
            return 1
        command = [args.runner, packaged]
        if not information_text_ok(command):
            return 1
        tree = os.path.join(work, "tree")
        make_tree(tree, ("a.c", "notes.txt", "sub/b.c"))
        found = search_lines(command, tree, "*.c", line_end="\r\n")
        if found != (0, ["a.c", "sub\\b.c"], b""):
            print("packaged trawl.exe *.c:", found)
            return 1
        print("ok")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
