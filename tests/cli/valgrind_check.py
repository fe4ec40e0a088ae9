"""Runs a handful of representative trawl invocations under valgrind and
fails on any memory error or leak it reports.

usage: valgrind_check.py TRAWL_EXECUTABLE [VALGRIND]

The tree is built in a temporary directory: files of several sizes and
times, a hidden file, a read-only file, a dangling link, names that need the
matcher's memo, and a chain of directories deeper than the path limit.
"""

import os
import shutil
import subprocess
import sys
import tempfile

VALGRIND_ERROR = 99

# (arguments, expected exit status)
INVOCATIONS = [
    (["-l", "*"], 0),
    (["-n", "-a", "-d", "+2000-01-01", "-d", "-2030-01-01", "-s", "-100000", "*.txt"], 0),
    (["-l", "-t", "!d", "-s", "+1", "src/*.c", "docs\\*", "nothing*.none"], 1),
    (["-v", "-r", "-A", "src/*"], 0),
    (["-t", "d", "d*"], 0),
    (["*a*b*!*c*d*e*f?"], 0),
    (["-l", "deep\\*"], 0),
    (["[abc", "*.c"], 0),
    (["-x"], 255),
    (["-?"], 0),
    ([], 255),
]


def build_tree(root):
    def write(path, size, mtime=None):
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.truncate(size)
        if mtime is not None:
            os.utime(full, (mtime, mtime))

    write("a.txt", 10, 1300000000)
    write("b.txt", 123456, 1600000000)
    write(".hidden.txt", 1)
    write("src/main.c", 2048)
    write("src/util/x.c", 5)
    write("src/util/deeper/y.c", 0)
    write("docs/readme.md", 700)
    # Enough entries that a listing starts the native build's prefetch thread.
    for i in range(200):
        write("many/m%03d.txt" % i, i)
    write("aXbYcZdQeRfS.long", 3)
    write("abcdef" * 40, 1)
    readonly = os.path.join(root, "src", "locked.c")
    write("src/locked.c", 4)
    os.chmod(readonly, 0o444)
    os.symlink("missing-target", os.path.join(root, "dangling"))
    deep = os.path.join(root, "deep")
    # 70 levels of "dd\" pass the 260-character limit of the enumeration.
    os.makedirs(os.path.join(deep, *(["dd"] * 70)))
    write(os.path.join("deep", *(["dd"] * 40), "leaf.txt"), 1)


def run(valgrind, trawl, args, cwd):
    command = [valgrind, "--quiet", "--error-exitcode=%d" % VALGRIND_ERROR,
               "--leak-check=full", "--errors-for-leak-kinds=definite,indirect,possible",
               "--suppressions=" + os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                "valgrind.supp"),
               trawl] + args
    return subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=300)


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    trawl = os.path.abspath(argv[1])
    valgrind = argv[2] if len(argv) > 2 else "valgrind"
    root = tempfile.mkdtemp(prefix="trawl-valgrind-")
    failures = 0
    try:
        build_tree(root)
        for args, expected in INVOCATIONS:
            result = run(valgrind, trawl, args, root)
            report = result.stderr.decode("latin-1")
            ok = result.returncode == expected and "==" not in report
            print("%s trawl %s: status %d (expected %d)" % (
                "ok  " if ok else "FAIL", " ".join(args), result.returncode, expected))
            if not ok:
                failures += 1
                print(report)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
