"""The native build shares the reading of entries' details with a second
thread, which also reads the next directory ahead, when it may run on two
CPUs or more.  Its output must be the same, byte for byte, as when it may
run on one (taskset -c 0), where no helper starts: for the same trees, and
for trees that change while the walk is held at a known point."""

import fcntl
import os
import select
import shutil
import sys
import subprocess
import termios
import time
import unittest

import harness
from harness import TreeTest, command, set_dos_attributes, set_mtime, utc_ns

ONE_CPU = ["taskset", "-c", "0"]


def usable_cpus():
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else 1


def wait_until_held(test, process, fd):
    """Returns once the pipe has stopped filling: trawl is blocked in a write."""
    last, steady_since = -1, time.monotonic()
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        select.select([], [], [], 0.05)
        queued = int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"), "little")
        if queued != last:
            last, steady_since = queued, time.monotonic()
        elif queued and time.monotonic() - steady_since > 0.5:
            test.assertIsNone(process.poll(), "trawl ended before the pipe filled")
            return
    test.fail("trawl never filled the pipe")


def run_held(test, args, prefix, change, pipe_size=None):
    """Runs trawl with args in test.root; once the pipe (of pipe_size bytes,
    if given) has filled and trawl is held in a write, change() alters the
    tree.  Returns trawl's threads while held, its output, errors and status."""
    # The pipe is sized before trawl can write to it.
    read_end, write_end = os.pipe()
    if pipe_size:
        fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, pipe_size)
    process = subprocess.Popen(command(args, prefix), cwd=test.root, stdin=subprocess.DEVNULL,
                               stdout=write_end, stderr=subprocess.PIPE)
    os.close(write_end)
    try:
        with open(read_end, "rb") as output:
            wait_until_held(test, process, read_end)
            threads = len(os.listdir("/proc/%d/task" % process.pid))
            change()
            out = output.read()
        err = process.communicate(timeout=120)[1]
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    return threads, out, err, process.returncode


@unittest.skipIf(harness.WINDOWS, "the Windows build reads details with the names")
@unittest.skipUnless(shutil.which("taskset"), "taskset is not installed")
@unittest.skipIf(usable_cpus() < 2, "one CPU: no run would start the helper")
class PrefetchSameOutput(TreeTest):

    def build(self):
        """Enough entries that the helper starts, and the cases its reading
        must reproduce: sizes, times, read-only, stored attributes, dangling
        links, a link back up the walk, a link to a sibling (the search
        descends it, where the directory read ahead is a guess from
        directories only), dot entries, a chain past the path limit."""
        entries = ["d%d/" % i for i in range(6)]
        for i in range(600):
            entries.append(("d%d/f%03d.%s" % (i % 6, i, "c" if i % 3 else "txt"), i * 37))
        entries += ["deep/" + "n" * 60 + "/" + "n" * 60 + "/" + "n" * 60 + "/" + "n" * 60 + "/x"]
        self.make(*entries)
        for i in range(0, 600, 7):
            path = self.path("d%d/f%03d.%s" % (i % 6, i, "c" if i % 3 else "txt"))
            set_mtime(path, utc_ns(1990 + i % 50, 1 + i % 12, 1, 0, 0, i % 60))
            if i % 2:
                os.chmod(path, 0o444)
        set_dos_attributes(self, self.path("d1/f001.c"), b"0x22")
        set_dos_attributes(self, self.path("d2"), b"0x6")
        os.symlink("missing", self.path("d3/dangling"))
        os.symlink("..", self.path("d4/up"))
        os.symlink("../d0", self.path("d5/sibling"))

    def test_same_output_with_and_without_the_helper(self):
        self.build()
        cases = [
            ["-l", "*"],
            ["-n", "*"],
            ["-a", "-l", "*"],
            ["-l", "*.c"],
            ["-d+2000", "-s+1000", "*"],
            ["-t", "hr", "*"],
            ["-l", "-r", "d1\\*"],
            ["-l", "d2\\*", "d3\\*"],
        ]
        for args in cases:
            with self.subTest(args=args):
                alone = harness.run(args, self.root, prefix=ONE_CPU)
                helped = harness.run(args, self.root)
                self.assertTrue(alone.out, alone)
                self.assertEqual(helped.out, alone.out)
                self.assertEqual(helped.err, alone.err)
                self.assertEqual(helped.status, alone.status)

    def fix_times(self, *relatives):
        # Every time shown is fixed, so that two runs on two builds of the
        # tree can print the same lines.
        for relative in relatives:
            set_mtime(self.path(relative), utc_ns(2021, 5, 6, 7, 8, 9))

    def fix_all_times(self):
        self.fix_times(*[os.path.relpath(os.path.join(d, f), self.root)
                         for d, _, files in os.walk(self.root) for f in files + ["."]])

    def held_runs(self, build, change, pipe_size=None):
        """Runs -l '*' on one CPU and then with the helper, each time on a
        fresh tree from build(); once the pipe (of pipe_size bytes, if
        given) has filled and trawl is held in a write, change() alters the
        tree.  Returns both runs' threads, output, errors and status."""
        def held_run(prefix):
            shutil.rmtree(self.root)
            os.mkdir(self.root)
            build()
            return run_held(self, ["-l", "*"], prefix, change, pipe_size)

        alone = held_run(ONE_CPU)
        helped = held_run([])
        # (ThreadSanitizer adds a thread of its own once there are two.)
        self.assertGreater(helped[0], alone[0], "no helper thread on two CPUs")
        self.assertTrue(helped[1:] == alone[1:], "the outputs differ")
        return alone

    def test_tree_changed_while_the_walk_is_held(self):
        # 'a' fills the pipe many times over, so trawl is held inside its
        # listing: entries of 'a' far beyond that are deleted, replaced (new
        # inode, new size) or added; later directories change in place or
        # vanish.
        name = "f%04d-" + "x" * 120

        def build():
            self.make("a/", *[("a/" + name % i, i) for i in range(3000)],
                      "m/", "m/g", "z/", *[("z/h%d" % i, i) for i in range(50)])
            self.fix_all_times()

        def change():
            for i in range(2000, 2010):
                os.unlink(self.path("a/" + name % i))
            for i in range(2100, 2110):
                os.unlink(self.path("a/" + name % i))
                with open(self.path("a/" + name % i), "wb") as f:
                    f.truncate(7777)
            for i in range(10):
                open(self.path("a/new%d" % i), "w").close()
            shutil.rmtree(self.path("m"))
            for i in range(0, 50, 2):
                os.truncate(self.path("z/h%d" % i), 100000 + i)
                os.chmod(self.path("z/h%d" % i), 0o444)
            os.mkdir(self.path("z/new"))
            self.fix_times("a", "z", "z/new", *["a/" + name % i for i in range(2100, 2110)],
                           *["a/new%d" % i for i in range(10)],
                           *["z/h%d" % i for i in range(50)])

        alone = self.held_runs(build, change)
        self.assertIn(b" 100,048 ", alone[1], "the change came too late")

    def test_small_directories_changed_while_the_walk_is_held(self):
        # Held inside the first of two small directories, after the helper
        # has read the second one ahead and details of both.  A 4 KiB pipe
        # holds trawl at its first 64 KiB of output; the long path makes the
        # lines long enough that 'big' stays below that and the first of
        # 'p' and 'q' crosses it.
        deep = "/".join(["d" * 60] * 3)
        files = ["%s-%03d" % ("n" * 60, i) for i in range(150)]

        def build():
            self.make(deep + "/", deep + "/big/", *[deep + "/big/" + f for f in files],
                      *[deep + "/big/%s/%s" % (d, f) for d in ("p", "q") for f in files[:100]])
            self.fix_all_times()

        def resize():
            for d in ("p", "q"):
                changed = [deep + "/big/%s/%s" % (d, f) for f in files[:100]]
                for relative in changed:
                    os.truncate(self.path(relative), 5555)
                self.fix_times(*changed)

        def in_place():
            # Files of both change size, and each directory gets a new file.
            resize()
            for d in ("p", "q"):
                open(self.path(deep + "/big/%s/new" % d), "w").close()
                self.fix_times(deep + "/big/%s/new" % d)

        def moved():
            # Moving their parent leaves the directories' own times alone;
            # the path of the second then leads to a new, empty directory.
            resize()
            os.rename(self.path(deep + "/big"), self.path(deep + "/moved"))
            for d in ("p", "q"):
                os.makedirs(self.path(deep + "/big/" + d))

        for change in (in_place, moved):
            with self.subTest(change=change.__name__):
                alone = self.held_runs(build, change, pipe_size=4096)
                self.assertIn(b" 5,555 ", alone[1], "the change came too late")



@unittest.skipIf(harness.WINDOWS, "Windows reads each directory as it is opened")
@unittest.skipUnless(shutil.which("taskset"), "taskset is not installed")
class NothingStaleShown(TreeTest):
    """What was read before trawl was held in a write is read again after
    it: for a later argument, for a directory's second enumeration, and
    ahead by the helper; with one CPU and with two."""

    FILLER = "f%03d-" + "x" * 120
    HOLD = 64 * 1024  # trawl's output buffer: held when it first fills

    def filler(self, directory, count=800):
        return [directory + "/"] + [directory + "/" + self.FILLER % i for i in range(count)]

    def filler_up_to(self, directory, size, line_extra=0):
        """A directory whose listing writes just under size bytes."""
        line = len(directory) + 1 + len(self.FILLER % 0) + 1 + line_extra
        return self.filler(directory, size // line)

    def later_arguments_reread(self):
        self.make(*self.filler("sub"))

        def change():
            os.rename(self.path("sub"), self.path("moved"))
            os.mkdir(self.path("sub"))
            open(self.path("sub/NEW.txt"), "w").close()

        def check(lines, status):
            self.assertEqual(sum(line.startswith(b"sub\\f") for line in lines), 800)
            self.assertEqual(lines.count(b"sub\\NEW.txt"), 2)
            self.assertEqual(status, 0)
        return ["sub\\*"] * 3, change, check

    def later_argument_sees_files_change(self):
        self.make(*self.filler("a"), "gone.txt")

        def change():
            os.unlink(self.path("gone.txt"))
            open(self.path("new.txt"), "w").close()

        def check(lines, status):
            self.assertEqual(lines.count(b"gone.txt"), 1)  # by '*', before the change
            self.assertEqual(lines[-1], b"new.txt")
            self.assertEqual(status, 0)
        return ["*", "gone.txt", "new.txt"], change, check

    def second_pass_sees_a_rename(self):
        # Held in the first pass of 'd', which one buffer holds whole.
        self.make(*self.filler_up_to("fill", self.HOLD - 6000),
                  *["d/g%03d-%s" % (i, "x" * 120) for i in range(100)], "d/S/", "d/S/inner")

        def change():
            os.rename(self.path("d/S"), self.path("d/S2"))

        def check(lines, status):
            self.assertTrue(b"d\\S2\\inner" in lines, "the renamed directory was not searched")
            self.assertFalse(b"d\\S\\inner" in lines, "the old name was searched")
        return ["fill\\*", "d\\*"], change, check

    def procfs_task_list_grows(self):
        # procfs keeps a directory's times whatever its entries do.  Held
        # in the second argument, after the helper could read the third.
        self.make(*self.filler_up_to("filler", self.HOLD - 2000, len("-" * 47)))
        child = subprocess.Popen(
            [sys.executable, "-c", "import sys, threading\n"
             "sys.stdin.readline()\n"
             "for _ in range(4): threading.Thread(target=sys.stdin.readline).start()\n"
             "sys.stdin.readline()\n"], stdin=subprocess.PIPE)
        self.addCleanup(child.wait)
        self.addCleanup(child.kill)
        task = "/proc/%d/task" % child.pid

        def change():
            child.stdin.write(b"go\n")
            child.stdin.flush()
            deadline = time.monotonic() + 10
            while len(os.listdir(task)) < 5 and time.monotonic() < deadline:
                time.sleep(0.01)

        def check(lines, status):
            tasks = [line for line in lines if ("\\proc\\%d\\task\\" % child.pid).encode() in line]
            self.assertEqual(len(tasks), 5, lines[-8:])
        return ["-lr", "filler\\*", "\\proc\\%d\\*" % child.pid, task.replace("/", "\\") + "\\*"], \
            change, check

    def test_nothing_read_before_a_hold_is_shown_after_it(self):
        prefixes = [ONE_CPU] + ([[]] if usable_cpus() >= 2 else [])
        for scenario in (self.later_arguments_reread, self.later_argument_sees_files_change,
                         self.second_pass_sees_a_rename, self.procfs_task_list_grows):
            for prefix in prefixes:
                with self.subTest(scenario=scenario.__name__, cpus=len(prefix) and 1 or 2):
                    shutil.rmtree(self.root)
                    os.mkdir(self.root)
                    args, change, check = scenario()
                    _, out, err, status = run_held(self, args, prefix, change, pipe_size=4096)
                    self.assertEqual(err, b"")
                    check(out.splitlines(), status)
