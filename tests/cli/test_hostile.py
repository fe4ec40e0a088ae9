"""trawl against hostile trees and hostile input: chains deeper than the
enumeration can reach, link cycles, directories that cannot be read or that
vanish during the walk, names with any bytes, arguments longer than the
buffers, output that cannot be written, and proof that nothing on disk
changes."""

import errno
import os
import re
import signal
import subprocess
import tempfile
import time

import harness
from harness import PipeReader, TreeTest, run_to, set_mtime, utc_ns
from test_listing import long_line, summary

# The longest specification the enumeration takes, the terminating NUL not
# counted.  The native layer takes MAX_PATH less one; Wine converts an ANSI
# name in a buffer of MAX_PATH + 1 wide characters and so takes 260.
LONGEST_SPEC = 260 if harness.WINDOWS else 259


def spec_length(names):
    """Length of the search specification that enumerates the directory reached by
    the names from the current directory: .\\a\\b\\*"""
    return len("\\".join(["."] + list(names) + ["*"]))


def walk_model(root, limit=LONGEST_SPEC):
    """The lines of 'trawl *' run in root, for a tree without links: every
    entry of every directory whose specification fits."""
    lines = []

    def visit(names):
        if spec_length(names) > limit:
            return
        directory = os.path.join(root, *names)
        for entry in os.scandir(directory):
            lines.append("\\".join(names + [entry.name]))
            if entry.is_dir(follow_symlinks=False):
                visit(names + [entry.name])

    visit([])
    return lines


# The native build walks the deepest tree within a 512 KiB stack; the
# Windows build has the default 1 MiB reserve of an executable.
SMALL_STACK = [] if harness.WINDOWS else ["sh", "-c", 'ulimit -s 512 && exec "$0" "$@"']


class DeepChains(TreeTest):
    """A chain of directories deeper than the enumeration reaches: every
    directory whose "dir\\*" fits is listed with its entries, and the walk
    ends there without a crash, on a small stack."""

    def test_chain_up_to_and_beyond_the_limit(self):
        cases = [
            # first directory's name, the name repeated below it
            # one-letter names: the deepest walk there is (128 levels)
            ("d", "d"),
            # specifications of odd lengths only: 259 and 261
            ("d" * 11, "d"),
            # even lengths only: 258 and 260, and 262
            ("d" * 10, "d"),
            # a long name: the limit falls in the middle of it
            ("d", "d" * 40),
        ]
        for first, name in cases:
            with self.subTest(first=len(first), name=len(name)):
                self.tearDown()
                self.setUp()
                names = [first]
                while spec_length(names) <= LONGEST_SPEC + 2 * (len(name) + 1):
                    names.append(name)
                # Each directory holds its subdirectory, then a file "f".
                ordered = []
                for depth in range(len(names) + 1):
                    prefix = "/".join(names[:depth])
                    if depth < len(names):
                        ordered.append((prefix + "/" if prefix else "") + names[depth] + "/")
                    ordered.append((prefix + "/" if prefix else "") + "f")
                self.make(*ordered)

                expected = []
                for depth in range(len(names) + 1):
                    if spec_length(names[:depth]) > LONGEST_SPEC:
                        break
                    shown = "".join(n + "\\" for n in names[:depth])
                    if depth < len(names):
                        expected.append(shown + names[depth])
                    expected.append(shown + "f")
                # The chain goes on below the last directory enumerated.
                self.assertLess(depth, len(names))
                self.assertRun(harness.run(["*"], self.root, prefix=SMALL_STACK),
                               out="".join(line + "\n" for line in expected))
                # Only the entries that fit are found when the name is asked for.
                deepest = harness.run(["-l", "f"], self.root, prefix=SMALL_STACK)
                listed = [re.match(r"\S+ +\S+ \S+ \S+  (.*)", line).group(1)
                          for line in deepest.lines() if line[:1] in ("-", "d")]
                self.assertEqual(listed, [e for e in expected if e.endswith("f")], deepest)
                self.assertEqual(deepest.status, 0)


class LinkCycles(TreeTest):
    """A link is listed like any entry; the directory it leads to is descended
    unless the walk is already inside it, and only once per argument."""

    def test_links_that_loop_or_repeat(self):
        cases = [
            # entries (a target makes a link), arguments, lines in any order
            # ("a|b": whichever of the two the enumeration reaches first)
            ("two links to the searched directory",
             ["f.c", ("a", "."), ("b", ".")], ["*"], "a b f.c"),
            ("the same, only the files", ["f.c", ("a", "."), ("b", ".")], ["*.c"], "f.c"),
            ("a link up from a subdirectory",
             ["s1/", "s1/x.c", "s2/", "s2/y.c", ("s1/up", "..")], ["*"],
             "s1 s1\\up s1\\x.c s2 s2\\y.c"),
            ("a link above the searched directory",
             ["top/", "top/s1/", "top/s2/", ("top/up", "..")], ["top\\*"],
             "top\\s1 top\\s2 top\\up top\\up\\top top\\up\\top\\s1 top\\up\\top\\s2 "
             "top\\up\\top\\up"),
            ("two directories pointing at each other",
             ["a/", "b/", ("a/to-b", "../b"), ("b/to-a", "../a")], ["*"],
             "a a\\to-b a\\to-b\\to-a b b\\to-a b\\to-a\\to-b"),
            ("a link outside any loop",
             ["x/", "x/real/", "x/real/h.c", "y/", ("y/lnk", "../x/real")], ["*.c"],
             "x\\real\\h.c y\\lnk\\h.c"),
            ("two links to one directory",
             ["x/", "x/h.c", ("l1", "x"), ("l2", "x")], ["*"], "l1 l2 x x\\h.c l1\\h.c|l2\\h.c"),
        ]
        # More distinct directories through links than a fixed table would
        # hold.  Wine takes 20 s and more over it; there the unit test of the
        # set of directories stands in.
        if not harness.WINDOWS:
            cases.append(
                ("30,000 links to 30,000 directories",
                 ["tree/"] + [e for i in range(30000) for e in ("t/%d/" % i, "t/%d/hit.txt" % i,
                                                                  ("tree/%d" % i, "../t/%d" % i))],
                 ["tree\\hit.txt"], " ".join("tree\\%d\\hit.txt" % i for i in range(30000))))
        for title, entries, args, lines in cases:
            with self.subTest(title):
                self.tearDown()
                self.setUp()
                for entry in entries:
                    if isinstance(entry, tuple):
                        os.symlink(entry[1], self.path(entry[0]))
                    else:
                        self.make(entry)
                result = self.trawl(*args)
                listed = set(result.lines())
                chosen = [next((one for one in line.split("|") if one in listed), line)
                          for line in lines.split()]
                self.assertRun(result, out="".join(line + "\n" for line in chosen),
                               ordered=False)


def drop_read_rights():
    """A command to put in front of trawl so that permission bits hold for
    it, or None.  As root they hold only without the capabilities that
    override them."""
    if os.geteuid() != 0:
        return []
    prefix = ["setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"]
    with tempfile.TemporaryDirectory(dir=harness.SCRATCH) as probe:
        os.chmod(probe, 0)
        try:
            done = subprocess.run(prefix + ["ls", probe], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        except OSError:
            return None
        finally:
            os.chmod(probe, 0o700)
        return prefix if done.returncode != 0 else None


def rights_dropped(test):
    """The prefix of drop_read_rights, or the test skipped where permission
    bits cannot be made to hold."""
    if harness.WINDOWS:
        test.skipTest("Wine opens directories in its server, which keeps the rights it "
                      "started with; a private server without them needs a new prefix")
    prefix = drop_read_rights()
    if prefix is None:
        test.skipTest("cannot run trawl without the rights that override permissions")
    return prefix


class UnreadableDirectories(TreeTest):
    """A directory that cannot be enumerated is passed over without a word;
    its siblings and everything else are still listed."""

    def test_unreadable_directory_is_silent(self):
        prefix = rights_dropped(self)
        self.make("a/", "a/f", "b/", "b/f", "b/inner/", "b/inner/f", "c/", "c/f", "c/g/",
                  "c/g/f", "f")
        everything = ["a", "b", "c", "f", "a\\f", "b\\f", "b\\inner", "c\\f", "c\\g",
                      "c\\g\\f", "b\\inner\\f"]
        cases = [
            # mode of b, lines that are not listed
            # nothing can be read: b itself is listed, nothing in it
            (0o000, ["b\\f", "b\\inner", "b\\inner\\f"]),
            # can be passed through but not read: the same
            (0o111, ["b\\f", "b\\inner", "b\\inner\\f"]),
            # can be read but not entered: names only, no descent
            (0o444, ["b\\inner\\f"]),
        ]
        for mode, hidden in cases:
            with self.subTest(mode=oct(mode)):
                os.chmod(self.path("b"), mode)
                try:
                    result = harness.run(["*"], self.root, prefix=prefix)
                    verbose = harness.run(["-v", "*"], self.root, prefix=prefix)
                finally:
                    os.chmod(self.path("b"), 0o755)
                shown = [line for line in everything if line not in hidden]
                self.assertRun(result, out="".join(line + "\n" for line in shown),
                               ordered=False)
                # The progress line of the directory is there all the same.
                self.assertIn("Searching .\\b", verbose.lines())
                self.assertEqual(verbose.err, "")

    def test_unreadable_directory_as_the_argument(self):
        prefix = rights_dropped(self)
        self.make("locked/", "locked/f", "open/", "open/f")
        os.chmod(self.path("locked"), 0)
        result = harness.run(["open\\f", "locked\\*"], self.root, prefix=prefix)
        self.assertRun(result, out="open\\f\n", status=1)


def as_another_user():
    """A command to put in front of trawl that runs it as the user nobody,
    to whom what root makes belongs to someone else, or None."""
    if os.geteuid() != 0:
        return None
    prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]
    try:
        done = subprocess.run(prefix + ["true"])
    except OSError:
        return None
    return prefix if done.returncode == 0 else None


class UnreadableDetails(TreeTest):
    """A directory that can be read but not searched: its names are known,
    their details are not.  Options that need the details report each such
    entry and leave it out; without them the name is listed.  An entry the
    user may stat but not read is described by its stat."""

    def test_entries_without_details(self):
        prefix = rights_dropped(self)
        self.make("d/", "d/f")
        unreadable = "trawl: d\\f: %s\n" % os.strerror(errno.EACCES)
        cases = [
            # arguments, whether d\f is listed
            (["f"], True),
            (["-r", "d\\f"], True),
            (["-l", "f"], False),
            (["-n", "f"], False),
            (["-s0", "f"], False),
            (["-d-1700", "f"], False),
            (["-d!2000", "f"], False),
            (["-t", "w", "f"], False),
        ]
        os.chmod(self.path("d"), 0o644)
        try:
            for args, listed in cases:
                with self.subTest(args=args):
                    result = harness.run(args, self.root, prefix=prefix)
                    self.assertEqual("d\\f" in result.out, listed, result)
                    self.assertEqual(result.err, "" if listed else unreadable)
                    self.assertEqual(result.status, 0 if listed else 1)
        finally:
            os.chmod(self.path("d"), 0o755)

    def test_entries_the_user_may_not_read(self):
        if harness.WINDOWS:
            self.skipTest("the Wine prefix belongs to root, and Wine runs only for its owner")
        prefix = as_another_user()
        if prefix is None:
            self.skipTest("needs root, to make entries that another user may not read")
        os.chmod(self.root, 0o755)
        self.make(("secret", 1000), "locked/", "locked/inner")
        os.chmod(self.path("secret"), 0o600)
        os.chmod(self.path("locked"), 0o711)
        for name in ("secret", "locked"):
            set_mtime(self.path(name), utc_ns(2024, 5, 17, 9, 30, 5))
        secret = long_line("----a-w", "1,000", "2024-05-17 09:30:05", "secret")
        locked = long_line("d-----w", "0", "2024-05-17 09:30:05", "locked")
        cases = [
            # arguments, standard output (the locked directory cannot be listed)
            (["-l", "secret"], secret + "\n" + summary(1, 1, 0, 1, 1000, 2)),
            (["-l", "*"], secret + locked + "\n" + summary(2, 2, 1, 1, 1000, 2)),
            (["-n", "-td", "*"], "locked\n\n" + summary(1, 1, 1, 0, 0, 0)),
            (["-n", "-t!d", "*"], "secret\n\n" + summary(1, 1, 0, 1, 1000, 2)),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertRun(harness.run(args, self.root, prefix=prefix), out=out)


class HostileNames(TreeTest):
    """Names are printed as they are, byte for byte, and never taken as a
    format."""

    # name on disk, and the line the Windows build prints for it
    NAMES = [
        (b"%s%n%x", None),
        (b"100%", None),
        (b"%", None),
        (b"new\nline", None),  # a text stream turns it into CR LF, read back as LF
        (b" leading blank", None),
        (b"trailing blank ", None),
        (b"two  blanks", None),
        (b"tab\there", None),
        (b"caf\xc3\xa9.txt", None),  # UTF-8
        (b"\xe2\x82\xac", None),
        # Not UTF-8: the Windows build runs with UTF-8 as its code page, and
        # Wine hands such a name over as U+FFFD for each stray byte.
        (b"lat\xe9", b"lat\xef\xbf\xbd"),
        (b"\x80\xff", b"\xef\xbf\xbd\xef\xbf\xbd"),
    ]

    def setUp(self):
        super().setUp()
        for name, _ in self.NAMES:
            open(os.path.join(self.root.encode(), name), "wb").close()
        os.mkdir(os.path.join(self.root.encode(), b"%s dir%n"))
        open(os.path.join(self.root.encode(), b"%s dir%n", b"%d"), "wb").close()

    def shown(self, name, windows_name):
        if harness.WINDOWS and windows_name is not None:
            name = windows_name
        return name.decode("latin-1")

    def test_every_name_listed_as_it_is(self):
        lines = [self.shown(name, windows) for name, windows in self.NAMES]
        lines += ["%s dir%n", "%s dir%n\\%d"]
        self.assertRun(self.trawl("*"), out="".join(line + "\n" for line in lines),
                       ordered=False)

    def test_names_with_percent_as_patterns(self):
        cases = [
            # argument, lines
            ("%s%n%x", "%s%n%x\n"),
            ("100%", "100%\n"),
            ("%", "%\n"),
            ("*%", "100%\n%\n"),
            ("%d", "%s dir%n\\%d\n"),
            ("%s dir%n\\*", "%s dir%n\\%d\n"),
            ("*blank*", " leading blank\ntrailing blank \ntwo  blanks\n"),
            ("new?line", "new\nline\n"),
        ]
        for argument, out in cases:
            with self.subTest(argument=argument):
                self.assertRun(self.trawl(argument), out=out, ordered=False)

    def test_long_listing_and_progress_of_hostile_names(self):
        result = self.trawl("-l", "-v", "%s%n%x")
        lines = result.lines()
        self.assertEqual(lines[0], "Searching .")
        self.assertTrue(lines[1].endswith("  %s%n%x"), result)
        self.assertIn("Searching .\\%s dir%n", lines)
        self.assertEqual(result.err, "")
        self.assertEqual(result.status, 0)

    def test_ill_formed_pattern_with_percent_in_the_diagnostic(self):
        self.assertRun(self.trawl("%s%n[%x"), status=1,
                       err="trawl: ill-formed filename pattern '%s%n[%x'\n")


class BackslashNames(TreeTest):
    """Where a backslash is no separator, a directory 'x\\y' beside 'x/y' is
    listed as itself and not searched: its path would name the other."""

    def test_directory_named_with_a_backslash(self):
        if harness.WINDOWS:
            self.skipTest("Windows names cannot hold a backslash")
        self.make("x/", "x/y/", "x/y/real", "x\\y/", "x\\y/fake")
        result = self.trawl("*")
        self.assertRun(result, out="x\nx\\y\nx\\y\nx\\y\\real\n", ordered=False,
                       err="trawl: x\\y: not searched: the name holds a backslash\n")


class VanishingDirectories(TreeTest):
    """Directories deleted while the walk runs.  The first directory gives
    far more output than a pipe and the output buffer hold, so while the
    test does not read, trawl is held inside that directory's listing; the
    deletions then happen at a known point of the walk."""

    def test_deleted_subtrees_are_passed_over(self):
        # 'a' holds enough names to fill the pipe several times over, and
        # a subdirectory 'sub' that is deleted before the walk reaches it;
        # 'm' is a sibling deleted after the top directory was read.
        long_name = "f%04d-" + "x" * 120
        files = ["a/" + long_name % i for i in range(3000)]
        dirs = []
        for top in ("a/sub", "b", "m", "z"):
            for i in range(5):
                dirs += ["%s/d%d/" % (top, i), "%s/d%d/f" % (top, i)]
        self.make("a/", *files, "a/sub/", "b/", "m/", "z/", *dirs)
        everything = set(walk_model(self.root))
        gone = ("a\\sub\\", "m\\")
        # 'a\sub' itself may or may not be listed: it is deleted while the
        # listing of 'a' is open.
        kept = {line for line in everything if not line.startswith(gone)} - {"a\\sub"}

        reader = PipeReader(["*"], self.root)
        try:
            # Some output has come: the walk has begun, and it cannot have
            # got past 'a' with so little read.
            reader.read_at_least(1)
            self.assertTrue(reader.data, "no output from trawl")
            self.assertIsNone(reader.process.poll())
            for top in ("a/sub", "m"):
                for dirpath, _, filenames in os.walk(self.path(top), topdown=False):
                    for name in filenames:
                        os.unlink(os.path.join(dirpath, name))
                    os.rmdir(dirpath)
            # Held a while longer: whatever was read ahead of the deletions
            # is then too old to be shown.
            time.sleep(0.05)
            status = reader.read_to_exit()
        finally:
            if reader.process.poll() is None:
                reader.process.kill()
                reader.process.wait()
        result = reader.result(status)
        lines = result.lines()
        self.assertEqual(result.err, "")
        self.assertEqual(status, 0)
        self.assertEqual(len(lines), len(set(lines)), "a line listed twice")
        self.assertEqual(kept - set(lines), set(), "entries outside the deleted parts missing")
        self.assertEqual(set(lines) - everything, set(), "lines for entries never made")
        self.assertEqual([line for line in lines if line.startswith(gone)], [],
                         "entries under a directory deleted before its turn")


class LongArguments(TreeTest):
    """Arguments longer than the buffers: a diagnostic, or nothing found;
    never a write beyond a buffer (run these under the sanitizers too)."""

    def setUp(self):
        super().setUp()
        self.make("f", "sub/", "sub/g")

    def test_directory_part_at_and_over_its_limit(self):
        cases = [
            # length of the directory part, diagnostic expected
            (8192, False),
            (8193, True),
            (9000, True),
        ]
        for length, too_long in cases:
            with self.subTest(length=length):
                argument = "x" * length + "\\*"
                err = "trawl: path too long '%s'\n" % argument if too_long else ""
                # The run goes on with the next argument.
                self.assertRun(self.trawl(argument, "f"), out="f\n", err=err)
                self.assertRun(self.trawl("f", argument), out="f\n", err=err, status=1)
                summary = self.trawl("-n", argument)
                self.assertEqual(summary.err, err)
                self.assertIn(" Entries:                0  (0)", summary.lines())
                self.assertEqual(summary.status, 1)

    def test_long_patterns_and_composed_paths(self):
        cases = [
            # argument, what it lists
            ("a" * 12500, ""),
            ("sub\\" + "g" * 12500, ""),
            ("." + "\\." * 4000 + "\\" + "b" * 12000, ""),
            ("y" * 8000 + "\\" + "c" * 12000, ""),
            ("*" * 9000, "f\nsub\nsub\\g\n"),
            ("*" * 9000 + "g", "sub\\g\n"),
            ("*" * 9000 + "z", ""),
            ("*" * 8999 + "?", "f\nsub\nsub\\g\n"),
            ("*" * 4000 + "!" + "*" * 4000 + "g", "f\nsub\nsub\\g\n"),
        ]
        for argument, out in cases:
            with self.subTest(argument=argument[:20], length=len(argument)):
                started = time.monotonic()
                result = self.trawl(argument)
                elapsed = time.monotonic() - started
                self.assertRun(result, out=out, status=0 if out else 1, ordered=False)
                self.assertLess(elapsed, 15, "a long pattern took %.1f s" % elapsed)


class OutputFailures(TreeTest):
    """Output that cannot be written: a closed pipe ends the run quietly,
    any other failure is reported and the status says so."""

    def setUp(self):
        super().setUp()
        # Far more than the output buffer and a pipe hold together, in
        # entry lines and in progress lines.
        self.make("small", *["many/" + ("m%04d-" % i) + "y" * 100 for i in range(2500)],
                  *["dirs/" + ("d%04d-" % i) + "z" * 100 + "/" for i in range(2500)])

    def assertQuietBrokenPipe(self, status, err):
        self.assertEqual(err, "")
        # Ended by the signal, or ended by itself with the failure status.
        self.assertIn(status, (-signal.SIGPIPE, 2))

    def test_reader_goes_away(self):
        cases = [
            # arguments, whether the reader reads a little first
            (["*"], True),
            (["*"], False),
            (["small"], False),
            (["-v", "nothing-matches-this"], True),
            (["-v", "nothing-matches-this"], False),
            (["-l", "*"], True),
            (["-l", "small", "small"], False),
            (["-n", "nothing-matches-this"], False),
        ]
        for args, reads in cases:
            with self.subTest(args=args, reads=reads):
                if reads:
                    # trawl * | head -1
                    reader = PipeReader(args, self.root)
                    reader.read_at_least(1)
                    self.assertTrue(reader.data)
                    status = reader.close_early()
                    err = reader.result(status).err
                else:
                    # The reader is gone before anything is written.
                    read_end, write_end = os.pipe()
                    os.close(read_end)
                    try:
                        status, err = run_to(write_end, args, self.root)
                    finally:
                        os.close(write_end)
                self.assertQuietBrokenPipe(status, err)

    def test_full_device(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        cases = [
            # arguments: the first fill the buffer, the last write only at the end
            ["*"],
            ["-l", "*"],
            ["small"],
            ["-n", "nothing-matches-this"],
            ["-v", "nothing-matches-this"],
        ]
        for args in cases:
            with self.subTest(args=args):
                with open("/dev/full", "wb") as full:
                    status, err = run_to(full, args, self.root)
                self.assertEqual(err, "trawl: %s\n" % os.strerror(errno.ENOSPC))
                self.assertEqual(status, 2)

    def test_nothing_to_write_on_a_full_device(self):
        # No output at all: nothing fails, the status is that of the search.
        with open("/dev/full", "wb") as full:
            status, err = run_to(full, ["nothing-matches-this"], self.root)
        self.assertEqual((status, err), (1, ""))


def snapshot(root):
    """Everything about a tree that reading it must leave alone: names, types,
    modes, sizes, contents' change times, link targets, extended attributes.
    Access times may change by reading and are left out."""
    state = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in [""] + dirnames + filenames:
            path = os.path.join(dirpath, name) if name else dirpath
            st = os.lstat(path)
            attributes = {}
            try:
                for key in os.listxattr(path, follow_symlinks=False):
                    attributes[key] = os.getxattr(path, key, follow_symlinks=False)
            except OSError:
                pass
            target = os.readlink(path) if os.path.islink(path) else None
            state[os.path.relpath(path, root)] = (
                st.st_mode, st.st_size, st.st_mtime_ns, st.st_ctime_ns, st.st_nlink,
                st.st_ino, st.st_uid, st.st_gid, target, attributes)
    return state


class ReadOnly(TreeTest):
    """No option changes anything on disk."""

    def test_tree_unchanged_under_every_option(self):
        self.make("a.txt", ("big.bin", 5 * 2 ** 30), ".hidden", "ro.txt", "sub/", "sub/b.txt",
                  "sub/deep/", "sub/deep/c.txt", "sub/.hdir/", "sub/.hdir/d.txt")
        os.chmod(self.path("ro.txt"), 0o444)
        os.symlink("sub", self.path("link"))
        os.symlink("nowhere", self.path("dangling"))
        try:
            os.setxattr(self.path("a.txt"), "user.DOSATTRIB", b"0x22")
        except OSError:
            pass
        os.utime(self.path("sub/b.txt"), ns=(0, 1_000_000_000_123_456_700))
        before = snapshot(self.root)
        runs = [
            ["-a", "-l", "-n", "-v", "*"],
            ["-A", "-m", "-D", "-g", "x", "-u", "y", "*"],
            ["-r", "-l", "*"],
            ["-d", "+2000", "-d", "-2100", "-s", "+0", "-t", "!d", "-l", "*.txt"],
            ["-t", "dh", "-n", "-v", "sub\\*", "*.bin", "nothing"],
            ["-aADlmnrv", "-s", "-1K", "-t", "r", "-g", "g", "-u", "u", "-d", "!2020", "*"],
            ["-l", "-A", "*", "link\\*", "dangling"],
        ]
        for args in runs:
            with self.subTest(args=args):
                result = self.trawl(*args)
                self.assertIn(result.status, (0, 1), result)
                self.assertEqual(result.err, "")
                self.assertEqual(snapshot(self.root), before)
