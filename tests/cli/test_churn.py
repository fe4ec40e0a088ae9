"""trawl walking a tree that another process changes all the while: in
arenas interleaved with a stable part at every level, directories are
renamed ahead of the walk and back, deleted, replaced by files or by links,
and files grow.  Whatever the timing, every walk must end (no crash, no
hang, no sanitizer report) with status 0, list every stable entry exactly
once with its true details, report nothing but churned entries on standard
error, and sum up exactly the lines it printed.

Each run takes TRAWL_CHURN_SECONDS (default 3) with two CPUs and as long
again on one (taskset -c 0); set it higher for a longer run."""

import os
import random
import re
import shutil
import subprocess
import sys
import threading
import time

import harness
from harness import TreeTest, set_mtime, utc_ns
from test_listing import calendar_text, long_line

SECONDS = float(os.environ.get("TRAWL_CHURN_SECONDS", "3"))

# Each stable file has a size and a time of its own, so that details handed
# to the wrong entry show.
SIZES = [0, 1, 511, 512, 513, 4096, 65537, 1048576, 7, 100000]
FIRST_STAMP = utc_ns(2023, 4, 5, 6, 7, 8)
SLOTS = 6

ENTRY = re.compile(r"(\S{7,8}) +([\d,]+) (\d{4,5}-\d\d-\d\d \d\d:\d\d:\d\d)  (.+)$")
SUMMARY = re.compile(r"\n\n Entries: +([\d,]+)  \(([\d,]+)\)\n Directories: +([\d,]+)  "
                     r"Files: +([\d,]+)\n Bytes: +([\d,]+)  Blocks: +([\d,]+)\n\Z")
DIAGNOSTIC = re.compile(r"trawl: (.+?): ")


def build_tree(root):
    """Three levels of stable directories and files, with two arenas among
    the entries of every stable directory.  Returns the -l line of every
    stable entry by its path, and the arenas' paths."""
    stable, stamps, arenas = {}, [], []

    def record(names, letters, size):
        ns = FIRST_STAMP + len(stable) * 10**9
        shown = "\\".join(names)
        stable[shown] = long_line(letters, "{:,}".format(size), calendar_text(ns), shown)
        stamps.append((os.path.join(root, *names), ns))

    def fill(names, depth):
        for i in range(6):
            if i in (1, 4):
                arena = os.path.join(root, *names, "z%d" % i)
                os.mkdir(arena)
                arenas.append(arena)
            size = SIZES[len(stable) % len(SIZES)]
            with open(os.path.join(root, *names, "f%d" % i), "wb") as f:
                f.truncate(size)
            record(names + ["f%d" % i], "----a-w", size)
            if depth < 2 and i in (2, 3):
                os.mkdir(os.path.join(root, *names, "d%d" % i))
                fill(names + ["d%d" % i], depth + 1)
                record(names + ["d%d" % i], "d-----w", 0)

    fill([], 0)
    for path, ns in stamps:  # last: no entry is added to a stable directory afterwards
        set_mtime(path, ns)
    return stable, arenas


def make_subtree(slot):
    os.mkdir(slot)
    for name in ("a", "sub/", "sub/b", "sub/c", "d"):
        path = os.path.join(slot, name)
        if name.endswith("/"):
            os.mkdir(path)
        else:
            with open(path, "wb") as f:
                f.write(b"x" * len(name))


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    else:
        os.unlink(path)


def grow(path):
    with open(path, "ab") as f:
        f.write(b"y" * 4096)
        if f.tell() > 1 << 18:
            f.truncate(0)


def churn(arenas, link_targets, stop, counts):
    """Changes the arenas until stop is set; counts[0] is the number of
    changes made."""
    rng = random.Random()
    while not stop.is_set():
        arena = rng.choice(arenas)
        slot = os.path.join(arena, "n%d" % rng.randrange(SLOTS))
        elsewhere = os.path.join(rng.choice(arenas), "n%d" % rng.randrange(SLOTS))
        is_dir = os.path.isdir(slot) and not os.path.islink(slot)
        change = rng.randrange(7)
        try:
            if not os.path.lexists(slot):
                make_subtree(slot)
            elif change == 0 and is_dir and not os.path.lexists(elsewhere):
                os.rename(slot, elsewhere)  # ahead of the walk or behind it
            elif change == 1:
                remove(slot)
            elif change == 2 and is_dir:
                remove(slot)
                with open(slot, "wb") as f:
                    f.write(b"z" * rng.randrange(10000))
            elif change == 3 and is_dir:
                remove(slot)
                os.symlink(rng.choice(link_targets + [elsewhere, "..", "nowhere"]), slot)
            elif change == 4 and is_dir and not os.path.lexists(elsewhere):
                os.rename(slot, elsewhere)  # another directory at the same path
                make_subtree(slot)
            elif change == 5:
                grow(os.path.join(slot, "a") if is_dir else slot)
            elif change == 6 and is_dir:
                grow(os.path.join(slot, "sub", "c"))
            else:
                continue
            counts[0] += 1
        except OSError:
            pass  # the path changed kind since it was looked at: a symlink, a file


def walk_problems(result, stable, arenas_shown):
    """What is wrong with one walk's outcome, as a list of texts."""
    problems = []
    if result.status != 0:
        problems.append("exit status %r" % result.status)
    summary = SUMMARY.search(result.out)
    if summary is None:
        return problems + ["no summary at the end: %r" % result.out[-300:]]
    counted = {"entries": 0, "directories": 0, "files": 0, "bytes": 0, "blocks": 0}
    times_listed = {}
    for line in result.out[:summary.start()].split("\n"):
        entry = ENTRY.match(line)
        if entry is None:
            problems.append("not an entry line: %r" % line)
            continue
        letters, size, _, path = entry.groups()
        size = int(size.replace(",", ""))
        times_listed[path] = times_listed.get(path, 0) + 1
        if path in stable and line + "\n" != stable[path]:
            problems.append("%r instead of %r" % (line, stable[path].rstrip()))
        counted["entries"] += 1
        counted["directories"] += letters[0] == "d"
        counted["files"] += letters[0] == "-"
        counted["bytes"] += size
        counted["blocks"] += (size + 511) // 512
    for path in stable:
        if times_listed.get(path, 0) != 1:
            problems.append("%s listed %d times" % (path, times_listed.get(path, 0)))
    entries, visible, directories, files, size, blocks = (
        int(number.replace(",", "")) for number in summary.groups())
    summed = {"entries": entries, "directories": directories, "files": files, "bytes": size,
              "blocks": blocks}
    if summed != counted or visible != entries:
        problems.append("summary %r (%d visible) for the lines %r" % (summed, visible, counted))
    for line in result.err.splitlines():
        reported = DIAGNOSTIC.match(line)
        if reported is None or not reported.group(1).startswith(arenas_shown):
            problems.append("on standard error: %r" % line)
    return problems


class ChurnedTree(TreeTest):

    def test_walks_of_a_changing_tree(self):
        stable, arenas = build_tree(self.root)
        arenas_shown = tuple(os.path.relpath(a, self.root).replace(os.sep, "\\") + "\\"
                             for a in arenas)
        # Links may lead into the stable part too: what is reached through
        # them is listed under the link's path.
        link_targets = [self.path("d2"), self.path("d3/d2")]
        for arena in arenas:
            for slot in range(0, SLOTS, 2):
                make_subtree(os.path.join(arena, "n%d" % slot))
        runs = [
            # name, command in front of trawl
            ("2 CPUs", []),
            ("1 CPU", ["taskset", "-c", "0"]),
        ]
        timeout = 300 if harness.RUNNER else 60
        for name, prefix in runs:
            with self.subTest(name):
                if not prefix and len(os.sched_getaffinity(0)) < 2:
                    self.skipTest("one CPU only")
                stop, counts = threading.Event(), [0]
                changer = threading.Thread(target=churn, args=(arenas, link_targets, stop, counts))
                changer.start()
                walks, failing, first = 0, 0, []
                deadline = time.monotonic() + SECONDS
                try:
                    while walks < 2 or time.monotonic() < deadline:
                        try:
                            result = harness.run(["-l", "*"], self.root, prefix=prefix,
                                                 timeout=timeout)
                            problems = walk_problems(result, stable, arenas_shown)
                        except subprocess.TimeoutExpired:
                            problems = ["no end after %d seconds" % timeout]
                        walks += 1
                        if problems:
                            failing += 1
                            first = first or problems[:10]
                finally:
                    stop.set()
                    changer.join()
                print("churn, %s: %d walks, %d changes, %d failing" %
                      (name, walks, counts[0], failing), file=sys.stderr)
                self.assertGreater(counts[0], walks)
                self.assertEqual(failing, 0, "\n".join(first))
