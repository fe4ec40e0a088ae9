"""Searching trees from the command line: argument forms, recursion, the
path rule, patterns that are empty or ill-formed, missing directories and
the exit status."""

import re

import harness
from harness import TreeTest


class ArgumentForms(TreeTest):
    def setUp(self):
        super().setUp()
        self.make("a.c", "b.h", "sub/", "sub/b.c", "sub/deep/", "sub/deep/c.c",
                  "x/", "x/a.c", "x/sub/", "x/sub/b.c")

    def test_forms_and_their_lines(self):
        cases = [
            # argument, expected lines
            (["*.c"], "a.c\nsub\\b.c\nsub\\deep\\c.c\nx\\a.c\nx\\sub\\b.c\n"),
            ([".\\*.c"], "a.c\nsub\\b.c\nsub\\deep\\c.c\nx\\a.c\nx\\sub\\b.c\n"),
            (["./x/*.c"], "x\\a.c\nx\\sub\\b.c\n"),
            (["x\\*.c"], "x\\a.c\nx\\sub\\b.c\n"),
            ([".\\.\\x/*.c"], "x\\a.c\nx\\sub\\b.c\n"),
            (["sub/deep\\*"], "sub\\deep\\c.c\n"),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out)

    def test_parent_directory_argument(self):
        result = self.trawl("..\\x\\a?c", cwd=self.path("sub"))
        self.assertRun(result, out="..\\x\\a.c\n")

    def test_nothing_found_and_exit_status_of_last_argument(self):
        cases = [
            (["*.none"], "", 1),
            (["*.c", "*.none"], None, 1),
            (["*.none", "b.h"], "b.h\n", 0),
        ]
        for args, out, status in cases:
            with self.subTest(args=args):
                result = self.trawl(*args)
                if out is not None:
                    self.assertEqual(result.out, out)
                self.assertEqual(result.status, status)
                self.assertEqual(result.err, "")

    def test_empty_pattern_lists_nothing(self):
        self.assertRun(self.trawl("sub\\"), status=1)

    def test_missing_directory_is_silent(self):
        self.assertRun(self.trawl("nowhere\\*.c"), status=1)

    def test_ill_formed_pattern_among_good_ones(self):
        result = self.trawl("b.h", "[abc", "x\\a.c")
        self.assertRun(result, out="b.h\nx\\a.c\n",
                       err="trawl: ill-formed filename pattern '[abc'\n")

    def test_ill_formed_pattern_last_sets_status(self):
        result = self.trawl("b.h", "src\\x!")
        self.assertRun(result, out="b.h\n",
                       err="trawl: ill-formed filename pattern 'x!'\n", status=1)


class DotEntries(TreeTest):
    def test_dot_entries_never_listed_or_descended(self):
        self.make("d/", "d/f")
        self.assertRun(self.trawl("*"), out="d\nd\\f\n")
        self.assertRun(self.trawl("?"), out="d\nd\\f\n")


class ProgressAndRecursion(TreeTest):
    """Progress lines under -v, -r, and the directory forms of an argument:
    relative, parent, absolute, drive-relative and the root."""

    def setUp(self):
        super().setUp()
        # Every directory's entries in ASCII order: Wine lists sorted, tmpfs
        # in creation order.
        self.make("a.c", "sub/", "sub/b.c", "sub/deep/", "sub/deep/c.c", "y/", "y/a.c")

    def test_relative_arguments(self):
        whole = ("Searching .\na.c\nSearching .\\sub\nsub\\b.c\n"
                 "Searching .\\sub\\deep\nsub\\deep\\c.c\nSearching .\\y\ny\\a.c\n")
        sub = "sub\\b.c\nSearching {0}\\deep\nsub\\deep\\c.c\n"
        cases = [
            # arguments, stdout, stderr, status
            (["-v", "*.c"], whole, "", 0),
            (["-v", ".\\*.c"], whole, "", 0),
            (["-v", "sub\\*.c"], "Searching sub\n" + sub.format("sub"), "", 0),
            (["-v", "./sub/*.c"], "Searching .\\sub\n" + sub.format(".\\sub"), "", 0),
            (["-v", "-r", "*.c"], "Searching .\na.c\n", "", 0),
            (["-r", "sub/*.c"], "sub\\b.c\n", "", 0),
            (["-r", "*"], "a.c\nsub\ny\n", "", 0),
            (["-rv", "sub\\deep\\*"], "Searching sub\\deep\nsub\\deep\\c.c\n", "", 0),
            # the empty pattern lists nothing but walks the whole tree
            (["-v", "sub\\"], "Searching sub\nSearching sub\\deep\n", "", 1),
            (["-v", "nowhere\\*.c"], "Searching nowhere\n", "", 1),
            (["-v", "nowhere/x/*.c", "y\\*"], "Searching nowhere\\x\nSearching y\ny\\a.c\n", "", 0),
            (["-v", "sub\\[abc"], "", "trawl: ill-formed filename pattern '[abc'\n", 1),
            (["-v", "y\\*", "sub\\x!"], "Searching y\ny\\a.c\n",
             "trawl: ill-formed filename pattern 'x!'\n", 1),
        ]
        for args, out, err, status in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out, err=err, status=status)

    def test_parent_directory(self):
        result = self.trawl("-v", "..\\y\\*.c", cwd=self.path("sub"))
        self.assertRun(result, out="Searching ..\\y\n..\\y\\a.c\n")

    def test_absolute_arguments(self):
        # Under Wine the current drive is Z:, which is the Unix root, so a
        # POSIX absolute path names the same directory in both builds.
        shown = self.root.replace("/", "\\")
        cases = [
            ([self.root + "/sub/*.c"],
             "Searching {0}\\sub\n{0}\\sub\\b.c\nSearching {0}\\sub\\deep\n"
             "{0}\\sub\\deep\\c.c\n"),
            ([shown + "\\y\\*"], "Searching {0}\\y\n{0}\\y\\a.c\n"),
            (["Z:" + shown + "\\y\\*"], "Searching Z:{0}\\y\nZ:{0}\\y\\a.c\n"),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl("-v", *args), out=out.format(shown))

    def test_root_directory(self):
        # /usr is in the root of every Linux system, and Wine's Z:\ shows it.
        cases = [
            (["-v", "-r", "\\usr"], "Searching \\\n\\usr\n"),
            (["-r", "/usr"], "\\usr\n"),
            (["-v", "-r", "Z:/usr"], "Searching Z:\\\nZ:\\usr\n"),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out)

    def test_drive_relative_arguments(self):
        # The native layer ignores the drive; under Wine the current directory
        # of Z: is the test's directory.  Both show the same lines.
        cases = [
            (["-v", "Z:*.c"],
             "Searching Z:.\nZ:a.c\nSearching Z:.\\sub\nZ:sub\\b.c\n"
             "Searching Z:.\\sub\\deep\nZ:sub\\deep\\c.c\nSearching Z:.\\y\nZ:y\\a.c\n", 0),
            (["-v", "Z:sub\\*.c"],
             "Searching Z:sub\nZ:sub\\b.c\nSearching Z:sub\\deep\nZ:sub\\deep\\c.c\n", 0),
            (["Z:.\\.\\y/*"], "Z:y\\a.c\n", 0),
            # a drive alone: the empty pattern, the tree walked, nothing listed
            (["-v", "Z:"],
             "Searching Z:.\nSearching Z:.\\sub\nSearching Z:.\\sub\\deep\nSearching Z:.\\y\n", 1),
        ]
        for args, out, status in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out, status=status)


SHORT_NAME = re.compile(r"^[^a-z\s.\\/]{1,8}(\.[^a-z\s.\\/]{1,3})?$")


class ShortNames(TreeTest):
    def setUp(self):
        super().setUp()
        self.make("a long directory name/", "a long directory name/x.txt", "longname.html")

    def test_long_names_without_short_names_option(self):
        cases = [
            (["*.html"], "longname.html\n", 0),
            (["*.htm"], "", 1),
            (["x.txt"], "a long directory name\\x.txt\n", 0),
            (["-r", "a long*"], "a long directory name\n", 0),
        ]
        for args, out, status in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out, status=status)

    def test_short_names_option_without_short_names(self):
        if harness.WINDOWS:
            self.skipTest("Wine gives long names short ones")
        # Linux file systems keep no short names: -m changes nothing.
        for args in (["*.html"], ["*.htm"], ["x.txt"], ["-r", "a long*"], ["*"]):
            with self.subTest(args=args):
                plain = self.trawl(*args)
                self.assertRun(self.trawl("-m", *args), out=plain.out, err=plain.err,
                               status=plain.status)

    def test_short_names_match_and_build_paths(self):
        if not harness.WINDOWS:
            self.skipTest("only Windows file systems give short names")
        # Wine makes up its own hashed short names: learn them from a run.
        html = self.trawl("-m", "-r", "*.htm")
        self.assertEqual((html.err, html.status), ("", 0), html)
        html_short = html.out.rstrip("\n")
        listed = self.trawl("-m", "-r", "*")
        self.assertEqual(listed.status, 0, listed)
        names = listed.lines()
        self.assertEqual(len(names), 2, listed)
        self.assertEqual(names[1], html_short, listed)
        dir_short = names[0]
        for name in (dir_short, html_short):
            with self.subTest(short=name):
                self.assertRegex(name, SHORT_NAME)
                self.assertIn("~", name)
        self.assertTrue(html_short.endswith(".HTM"), html_short)
        cases = [
            (["-m", "*.html"], "", 1),
            (["-m", "longname.*"], "", 1),
            (["-m", "x.txt"], dir_short + "\\x.txt\n", 0),
            (["-m", "-r", "a long*"], "", 1),
            (["-m", "*"], "%s\n%s\n%s\\x.txt\n" % (dir_short, html_short, dir_short), 0),
        ]
        for args, out, status in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out, status=status)
