"""Reading ahead with several threads must not change what trawl prints.

Each case runs trawl once with a single thread (on one CPU the search alone
reads) and then again and again with reader threads (as many as the CPUs
allow; the unit tests run four in process), and compares standard output,
standard error and the status byte for byte.  The faults these trees bring
out depend on how the threads meet, so a single run proves little: each
case is repeated within a time budget and every differing run is counted."""

import difflib
import os
import random
import resource
import shutil
import time
import unittest

import harness
from harness import TreeTest
from test_hostile import rights_dropped

ONE_THREAD = ["taskset", "-c", "0"]
READERS = [("as many readers as CPUs", [])]
# Twenty-four descriptors are left to trawl once the standard streams and
# the loader's are counted; the search alone needs one per level.
FEW_DESCRIPTORS = ["sh", "-c", 'ulimit -n 32 && exec "$0" "$@"']


def usable_cpus():
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else 1


def first_difference(expected, got):
    if expected.status != got.status or expected.err != got.err:
        return "status %r, errors %r; one thread: status %r, errors %r" % (
            got.status, got.err[:300], expected.status, expected.err[:300])
    diff = difflib.unified_diff(expected.out.splitlines(), got.out.splitlines(),
                                "one thread", "readers", lineterm="", n=0)
    return "\n".join(list(diff)[:12])


@unittest.skipUnless(shutil.which("taskset"), "taskset is not installed")
@unittest.skipIf(usable_cpus() < 2, "fewer than two usable CPUs: no run has reader threads")
class ReadersSameOutput(TreeTest):

    def assertSameEveryRun(self, args, prefix=(), runs=20, budget=4.0):
        """Runs args once with one thread and up to `runs` times (within
        `budget` seconds) for each reader setting, all after prefix; fails
        with the count of differing runs and the first difference."""
        alone = harness.run(args, self.root, prefix=list(prefix) + ONE_THREAD)
        self.assertTrue(alone.out, alone)
        for label, readers in READERS:
            with self.subTest(args=args, readers=label):
                differing, first, done = 0, None, 0
                end = time.monotonic() + budget
                while done < runs and (done < 3 or time.monotonic() < end):
                    got = harness.run(args, self.root, prefix=list(prefix) + readers)
                    done += 1
                    if (got.out, got.err, got.status) != (alone.out, alone.err, alone.status):
                        differing += 1
                        first = first or first_difference(alone, got)
                self.assertEqual(differing, 0, "%d of %d runs differ from the one-thread "
                                 "run; the first:\n%s" % (differing, done, first))
        return alone

    def test_unreadable_directories_among_readable_ones(self):
        # a<i>\b<j> holds in_a<i>_b<j> and c\in_a<i>_b<j>_c; every third b
        # cannot be read.  A listing delivered for the wrong directory shows
        # as a file under a path that is not its own.
        prefix = rights_dropped(self)
        entries, locked = [], []
        for i in range(30):
            for j in range(30):
                d = "a%d/b%d" % (i, j)
                entries += [d + "/", "%s/in_a%d_b%d" % (d, i, j), d + "/c/",
                            "%s/c/in_a%d_b%d_c" % (d, i, j)]
                if (i * 30 + j) % 3 == 0:
                    locked.append(d)
        self.make(*entries)
        for d in locked:
            os.chmod(self.path(d), 0)
        for args in (["*"], ["-l", "*"], ["-n", "*"], ["-s0", "*"]):
            alone = self.assertSameEveryRun(args, prefix, runs=40, budget=2.0)
            # The reference itself: each readable b and its c, and nothing
            # of the locked ones but their own names.
            self.assertEqual(alone.status, 0, alone)
            files = [line for line in alone.lines() if "in_a" in line]
            self.assertEqual(len(files), 2 * (900 - len(locked)))
            for line in files:
                path = line.split()[-1]
                self.assertEqual(path.rsplit("\\", 1)[1], "in_" + path.rsplit("\\", 1)[0]
                                 .replace("\\", "_"), line)

    def test_few_descriptors_lose_nothing(self):
        # About 13,000 entries in 430 directories of about 30, up to twelve
        # levels deep: the search holds a descriptor per level, the readers
        # have what is left.
        if harness.WINDOWS:
            self.skipTest("under Wine the limit would fall on Wine's own processes too")
        if resource.getrlimit(resource.RLIMIT_NOFILE)[1] < 32:
            self.skipTest("the hard limit on descriptors is below 32")
        rng = random.Random(20240607)
        dirs, entries = [("", 0)], []
        for i in range(430):
            parent, depth = rng.choice([d for d in dirs if d[1] < 12])
            dirs.append((parent + "d%d/" % i, depth + 1))
            entries.append(dirs[-1][0])
        entries += [dirs[rng.randrange(len(dirs))][0] + "f%d.c" % i for i in range(12570)]
        self.make(*entries)
        unlimited = harness.run(["-l", "*"], self.root, prefix=ONE_THREAD)
        for args in (["-l", "*"], ["-n", "*"]):
            alone = self.assertSameEveryRun(args, FEW_DESCRIPTORS, runs=15, budget=5.0)
            if args == ["-l", "*"]:
                self.assertEqual(alone.out, unlimited.out, "the limit costs the search alone")
        self.assertEqual(unlimited.status, 0, unlimited)
        self.assertEqual(unlimited.out.count("\n"), 13000 + 4)


if __name__ == "__main__":
    unittest.main()
