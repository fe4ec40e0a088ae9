#!/usr/bin/env python3
"""Reads the version resource of a Windows executable back (windres turns
an executable's resources into a resource script) and checks it against
the version CMake took from project() and the copyright line of LICENSE.
Also checks that the application manifest is still there beside it.

  check_version_resource.py --exe trawl.exe --version 1.0 --license LICENSE
"""

import argparse
import os
import re
import subprocess
import sys

WINDRES = "x86_64-w64-mingw32-windres"


def resources(path, windres=WINDRES):
    """The executable's resources as a resource script; empty when it has none."""
    done = subprocess.run([windres, "-i", path, "-O", "rc"], capture_output=True, text=True)
    return done.stdout if done.returncode == 0 else ""


def read_version_info(path, windres=WINDRES):
    """The VERSIONINFO block, as text, or None."""
    found = re.search(r"^1 VERSIONINFO\n.*?^END$", resources(path, windres), re.S | re.M)
    return found.group(0) if found else None


def problems(path, version, copyright_line, windres):
    script = resources(path, windres)
    block = read_version_info(path, windres)
    if block is None:
        return ["%s has no version resource" % path]
    numbers = ", ".join(((version.split(".") + ["0"] * 4)[:4]))
    strings = dict(re.findall(r'VALUE "(\w+)", "(.*)"', block))
    translation = re.search(r'VALUE "Translation", (0x[0-9a-f]+), (\d+)', block)
    table = re.search(r'BLOCK "StringFileInfo"\s+BEGIN\s+BLOCK "(\w+)"', block)
    expected = [
        ("fixed file version", "FILEVERSION " + numbers in block, True),
        ("fixed product version", "PRODUCTVERSION " + numbers in block, True),
        ("operating system", "FILEOS 0x40004" in block, True),
        ("file type", "FILETYPE 0x1\n" in block, True),
        ("string table of the translation", table and table.group(1).lower(),
         translation and "%04x%04x" % (int(translation.group(1), 16), int(translation.group(2)))),
        ("FileVersion", strings.get("FileVersion"), version),
        ("ProductVersion", strings.get("ProductVersion"), version),
        ("ProductName", strings.get("ProductName"), "trawl"),
        ("OriginalFilename", strings.get("OriginalFilename"), os.path.basename(path)),
        ("LegalCopyright", strings.get("LegalCopyright"), copyright_line),
        ("FileDescription given", bool(strings.get("FileDescription")), True),
    ]
    found = ["%s: %r, expected %r" % (name, got, want) for name, got, want in expected
             if got != want]
    if '<activeCodePage>UTF-8</activeCodePage>' not in script:
        found.append("the application manifest is missing or lacks activeCodePage")
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--version", required=True, help="PROJECT_VERSION, as CMake knows it")
    parser.add_argument("--license", required=True)
    parser.add_argument("--windres", default=WINDRES)
    args = parser.parse_args()
    with open(args.license, encoding="utf-8") as f:
        copyright_line = next(line.strip() for line in f if line.startswith("Copyright "))
    found = problems(args.exe, args.version, copyright_line, args.windres)
    if found:
        print("\n".join(found))
        return 1
    print("ok: version", args.version)
    return 0


if __name__ == "__main__":
    sys.exit(main())
