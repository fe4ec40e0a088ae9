#!/usr/bin/env python3
"""Makes the .zip of a configured and built Windows tree with cpack, checks
that it holds exactly the program, the manual as text and the licence, and
runs the packaged trawl.exe (through the Wine wrapper) from where it was
unpacked: its information text and a search in a small tree."""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile


def run(command, **kwargs):
    print("$", " ".join(command), flush=True)
    return subprocess.run(command, **kwargs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cpack", default="cpack")
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="trawl-zip-")
    try:
        out = os.path.join(work, "out")
        done = run([args.cpack, "-G", "ZIP", "-B", out,
                    "--config", os.path.join(args.build, "CPackConfig.cmake")])
        if done.returncode != 0:
            print("cpack failed")
            return 1
        zips = glob.glob(os.path.join(out, "*.zip"))
        if len(zips) != 1:
            print("expected one .zip, found", zips)
            return 1
        with zipfile.ZipFile(zips[0]) as archive:
            names = sorted(n for n in archive.namelist() if not n.endswith("/"))
            folder = os.path.basename(zips[0])[:-len(".zip")]
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

        exe = os.path.join(work, "unpacked", folder, "trawl.exe")
        info = run([args.runner, exe, "-?"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                   stdin=subprocess.DEVNULL)
        if info.returncode != 0 or not info.stderr.startswith(b"[trawl, 1."):
            print("packaged trawl.exe -?:", info)
            return 1
        tree = os.path.join(work, "tree")
        for relative in ("a.c", "notes.txt", "sub/b.c"):
            path = os.path.join(tree, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "w").close()
        found = run([args.runner, exe, "*.c"], cwd=tree, stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        lines = sorted(found.stdout.decode("latin-1").split("\r\n")[:-1])
        if found.returncode != 0 or lines != ["a.c", "sub\\b.c"]:
            print("packaged trawl.exe *.c:", found)
            return 1
        print("ok")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
