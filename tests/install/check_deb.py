#!/usr/bin/env python3
"""Makes the .deb of a configured and built native tree with cpack, unpacks
it with dpkg -x into a temporary root, checks its metadata and contents and
runs the packaged trawl: its information text and a search in a small tree."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from install_checks import information_text_ok, make_package, make_tree, run, search_lines

SKIP = 77


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cpack", default="cpack")
    args = parser.parse_args()

    for tool in ("dpkg-deb",):
        if shutil.which(tool) is None:
            print(tool, "is not installed; skipping")
            return SKIP

    work = tempfile.mkdtemp(prefix="trawl-deb-")
    try:
        deb = make_package(args.cpack, args.build, "DEB", os.path.join(work, "out"), ".deb")
        if deb is None:
            return 1

        fields = {}
        for field in ("Package", "Version", "Architecture", "Depends"):
            shown = run(["dpkg-deb", "-f", deb, field], stdout=subprocess.PIPE, text=True)
            fields[field] = shown.stdout.strip()
        print(fields)
        failures = []
        if fields["Package"] != "trawl":
            failures.append("package name %r" % fields["Package"])
        if not fields["Version"].startswith("1."):
            failures.append("version %r" % fields["Version"])
        if "libc6" not in fields["Depends"]:
            failures.append("no dependency on libc6: %r" % fields["Depends"])

        root = os.path.join(work, "root")
        if run(["dpkg-deb", "-x", deb, root]).returncode != 0:
            print("dpkg-deb -x failed")
            return 1
        for relative in ("usr/bin/trawl", "usr/share/man/man1/trawl.1",
                         "usr/share/doc/trawl/LICENSE", "usr/lib/libwildcat.a",
                         "usr/include/wildcat.h", "usr/lib/cmake/wildcat/wildcatConfig.cmake"):
            if not os.path.isfile(os.path.join(root, relative)):
                failures.append("missing from the package: " + relative)
        if failures:
            print("\n".join(failures))
            return 1

        command = [os.path.join(root, "usr", "bin", "trawl")]
        if not information_text_ok(command):
            return 1
        tree = os.path.join(work, "tree")
        make_tree(tree, ("a.c", "notes.txt", "sub/b.c", "sub/deeper/c.C", "sub/deeper/d.h"))
        expected = (0, ["a.c", "sub\\b.c", "sub\\deeper\\c.C"], b"")
        found = search_lines(command, tree, "*.c")
        if found != expected:
            print("packaged trawl *.c:", found, "expected", expected)
            return 1
        nothing = search_lines(command, tree, "*.zip")
        if nothing != (1, [], b""):
            print("packaged trawl *.zip:", nothing)
            return 1
        print("ok")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
