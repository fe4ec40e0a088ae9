#!/usr/bin/env python3
"""Makes the .deb of a configured and built native tree with cpack, has
lintian check it (any error or warning fails), unpacks it with dpkg -x into
a temporary root, checks its metadata, contents and changelog and runs the
packaged trawl: its information text and a search in a small tree."""

import argparse
import email.utils
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

from install_checks import information_text_ok, make_package, make_tree, run, search_lines

SKIP = 77


def lintian_complaints(deb):
    """The errors and warnings lintian reports for the package, or its
    failure to run."""
    done = run(["lintian", deb], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print(done.stdout)
    complaints = [line for line in done.stdout.splitlines() if line[:2] in ("E:", "W:")]
    if done.returncode != 0 and not complaints:
        complaints.append("lintian failed (%d)" % done.returncode)
    return complaints


def changelog_failures(path, version, release_date):
    """The newest entry of the packaged changelog must be this version,
    released on this date."""
    with gzip.open(path, "rt", encoding="utf-8") as f:
        text = f.read()
    heading = re.match(r"trawl \(([^)]+)\) ", text)
    trailer = re.search(r"^ -- .+>  (.+)$", text, re.MULTILINE)
    if not heading or not trailer:
        return ["the changelog's newest entry has no heading or no trailer line"]
    failures = []
    if heading.group(1) != version:
        failures.append("the changelog's newest entry is %s, not %s" % (heading.group(1), version))
    dated = email.utils.parsedate_to_datetime(trailer.group(1)).date().isoformat()
    if dated != release_date:
        failures.append("the changelog's newest entry is dated %s, not %s" % (dated, release_date))
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cpack", default="cpack")
    parser.add_argument("--libdir", default="lib")
    parser.add_argument("--release-date", required=True)
    args = parser.parse_args()

    for tool in ("dpkg-deb", "lintian"):
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
        failures += lintian_complaints(deb)

        root = os.path.join(work, "root")
        if run(["dpkg-deb", "-x", deb, root]).returncode != 0:
            print("dpkg-deb -x failed")
            return 1
        libdir = "usr/" + args.libdir
        for relative in ("usr/bin/trawl", "usr/share/man/man1/trawl.1.gz",
                         "usr/share/doc/trawl/copyright", "usr/share/doc/trawl/changelog.gz",
                         libdir + "/libwildcat.a", "usr/include/wildcat.h",
                         libdir + "/cmake/wildcat/wildcatConfig.cmake",
                         libdir + "/pkgconfig/wildcat.pc"):
            if not os.path.isfile(os.path.join(root, relative)):
                failures.append("missing from the package: " + relative)
        changelog = os.path.join(root, "usr/share/doc/trawl/changelog.gz")
        if os.path.isfile(changelog):
            failures += changelog_failures(changelog, fields["Version"], args.release_date)
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
