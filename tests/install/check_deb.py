#!/usr/bin/env python3
"""Makes the .deb of a configured and built native tree with cpack, unpacks
it with dpkg -x into a temporary root, checks its metadata and contents and
runs the packaged trawl: its information text and a search in a small tree."""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def run(command, **kwargs):
    print("$", " ".join(command), flush=True)
    return subprocess.run(command, **kwargs)


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
        out = os.path.join(work, "out")
        done = run([args.cpack, "-G", "DEB", "-B", out,
                    "--config", os.path.join(args.build, "CPackConfig.cmake")])
        if done.returncode != 0:
            print("cpack failed")
            return 1
        debs = glob.glob(os.path.join(out, "*.deb"))
        if len(debs) != 1:
            print("expected one .deb, found", debs)
            return 1
        deb = debs[0]

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

        trawl = os.path.join(root, "usr", "bin", "trawl")
        info = run([trawl, "-?"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if info.returncode != 0 or info.stdout or not info.stderr.startswith(b"[trawl, 1."):
            print("packaged trawl -?:", info)
            return 1

        tree = os.path.join(work, "tree")
        for relative in ("a.c", "notes.txt", "sub/b.c", "sub/deeper/c.C", "sub/deeper/d.h"):
            path = os.path.join(tree, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "w").close()
        found = run([trawl, "*.c"], cwd=tree, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                    text=True)
        expected = ["a.c", "sub\\b.c", "sub\\deeper\\c.C"]
        if (found.returncode, sorted(found.stdout.splitlines()), found.stderr) != (0, expected, ""):
            print("packaged trawl *.c:", found, "expected", expected)
            return 1
        nothing = run([trawl, "*.zip"], cwd=tree, stdout=subprocess.PIPE,
                      stderr=subprocess.PIPE)
        if (nothing.returncode, nothing.stdout, nothing.stderr) != (1, b"", b""):
            print("packaged trawl *.zip:", nothing)
            return 1
        print("ok")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
