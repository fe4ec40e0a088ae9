"""Searching trees from the command line: argument forms, recursion, the
path rule, patterns that are empty or ill-formed, missing directories and
the exit status."""

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
