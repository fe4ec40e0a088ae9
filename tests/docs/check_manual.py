#!/usr/bin/env python3
"""Checks the manual page: it renders without a single warning, and it
documents every option and type letter that trawl accepts.

The options are taken from trawl itself (the usage text that a command line
without patterns prints), together with those it accepts without listing
them (-D, -g, -u) and the type letter t."""

import argparse
import re
import shutil
import subprocess
import sys

SKIP = 77
UNLISTED_OPTIONS = ["D", "g", "u"]
UNLISTED_TYPES = ["t"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--page", required=True)
    parser.add_argument("--trawl", required=True)
    args = parser.parse_args()

    failures = []

    renderers = []
    if shutil.which("man"):
        renderers.append(["man", "--warnings", "-l", "-Tutf8", args.page])
    if shutil.which("groff"):
        renderers.append(["groff", "-t", "-man", "-ww", "-z", args.page])
    if not renderers:
        print("neither man nor groff is installed; skipping")
        return SKIP
    for command in renderers:
        for width in ("65", "80", "132"):
            done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  text=True, env={"MANWIDTH": width, "PATH": "/usr/bin:/bin",
                                                  "LC_ALL": "C.UTF-8"})
            if done.returncode != 0 or done.stderr:
                failures.append("%s (width %s): status %d\n%s"
                                % (" ".join(command), width, done.returncode, done.stderr))

    usage = subprocess.run([args.trawl], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           text=True)
    if usage.returncode != 255:
        failures.append("trawl without arguments: status %d, expected 255" % usage.returncode)
    options = re.findall(r"^    -(.)", usage.stderr, re.M)
    types = re.findall(r"^                    (\w)   ", usage.stderr, re.M)
    if len(options) < 10 or len(types) < 9:
        failures.append("could not read the options from the usage text:\n" + usage.stderr)

    with open(args.page, encoding="utf-8") as f:
        page = f.read()
    # Each option has a tagged paragraph: .TP, then .B/.BR/.BI \-x...
    tagged = set(re.findall(r"^\.TP\n\.B[RI]? \\-(.)", page, re.M))
    for letter in options + UNLISTED_OPTIONS:
        if letter not in tagged:
            failures.append("the manual page has no paragraph for the option -" + letter)
    types_section = re.search(r"^\.SH TYPES\n(.*?)^\.SH ", page, re.M | re.S)
    rows = set(re.findall(r"^(\w);", types_section.group(1), re.M)) if types_section else set()
    for letter in types + UNLISTED_TYPES:
        if letter not in rows:
            failures.append("the manual page's TYPES table has no row for the letter " + letter)
    for section in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "PATTERNS", "DATES", "SIZES",
                    "TYPES", "OUTPUT", "EXIT STATUS", "LIMITS", "PLATFORM NOTES"):
        if not re.search(r"^\.SH %s$" % section, page, re.M):
            failures.append("the manual page has no section " + section)
    statuses = re.search(r"^\.SH EXIT STATUS\n(.*?)^\.SH ", page, re.M | re.S)
    listed = re.findall(r"^\.TP\n\.B (\d+)$", statuses.group(1), re.M) if statuses else []
    if listed != ["0", "1", "2", "255"]:
        failures.append("exit statuses documented: %s" % listed)

    if failures:
        print("\n".join(failures))
        return 1
    print("the manual page renders cleanly and covers options %s and type letters %s"
          % ("".join(options + UNLISTED_OPTIONS), "".join(types + UNLISTED_TYPES)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
