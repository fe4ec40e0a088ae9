"""The entry filter seen from the command line: last-write time criteria,
size criteria, type letters and the rule for "." and "..".

Names in each tree are lower case and created in ASCII order: Wine lists a
directory sorted by name, the native build in the file system's order, and
this way both orders are the same."""

import os
from unittest import mock

from harness import FAR_ZONE, TreeTest, set_dos_attributes, set_mtime, utc_ns

def lines(*names):
    return "".join(name + "\n" for name in names)


class DateCriteria(TreeTest):
    INSTANT = utc_ns(2011, 6, 15, 14, 45, 30)
    DAY = 86400 * 10**9

    def setUp(self):
        super().setUp()
        times = [
            ("a_before.txt", self.INSTANT - 100),
            ("b_at.txt", self.INSTANT),
            ("c_after.txt", self.INSTANT + 100),
            ("d_day.txt", self.INSTANT + self.DAY),
            ("e_later.txt", self.INSTANT + self.DAY + 100),
            # no FILETIME: no criterion selects it, whatever its prefix
            ("f_1600.txt", utc_ns(1600, 6, 15, 0, 0, 0)),
        ]
        self.make(*(name for name, _ in times))
        for name, ns in times:
            set_mtime(self.path(name), ns)
        if os.stat(self.path("f_1600.txt")).st_mtime_ns != times[-1][1]:
            os.remove(self.path("f_1600.txt"))  # a file system that cannot keep it
    def test_prefixes_and_spans(self):
        at = "2011-06-15:14:45:30"
        day = "2011-06-16 14:45:30"
        cases = [
            (["-d" + at], ["b_at.txt"]),
            (["-d+" + at], ["b_at.txt", "c_after.txt", "d_day.txt", "e_later.txt"]),
            (["-d-" + at], ["a_before.txt", "b_at.txt"]),
            (["-d!" + at], ["a_before.txt", "c_after.txt", "d_day.txt", "e_later.txt"]),
            # a value in the next argument, with a blank between date and time
            (["-d", "+" + day], ["d_day.txt", "e_later.txt"]),
            # the date alone names midnight, which no file was written at
            (["-d2011-06-15"], []),
            # both ends of a span are inclusive
            (["-d+" + at, "-d-" + day], ["b_at.txt", "c_after.txt", "d_day.txt"]),
            (["-d-" + day, "-d+" + at], ["b_at.txt", "c_after.txt", "d_day.txt"]),
            # only the first and the last of three apply; the middle one
            # would exclude every file
            (["-d+" + at, "-d-2000-01-01", "-d-" + day],
             ["b_at.txt", "c_after.txt", "d_day.txt"]),
            (["-d+" + at, "-d" + at, "-d!" + at], ["c_after.txt", "d_day.txt", "e_later.txt"]),
        ]
        for options, listed in cases:
            with self.subTest(options=options):
                result = self.trawl(*options, "-r", "*.txt")
                self.assertRun(result, out=lines(*listed), status=0 if listed else 1)

    def test_time_base_is_utc_whatever_the_zone(self):
        with mock.patch.dict(os.environ, {"TZ": FAR_ZONE}):
            exact = self.trawl("-d2011-06-15:14:45:30", "-r", "*")
            span = self.trawl("-d+2011-06-15:14:45:30", "-d-2011-06-16:14:45:30", "-r", "*")
        self.assertRun(exact, out="b_at.txt\n")
        self.assertRun(span, out="b_at.txt\nc_after.txt\nd_day.txt\n")


class SizeCriteria(TreeTest):
    def setUp(self):
        super().setUp()
        # 4 GiB exactly: the low 32 bits of the size are 0, so a comparison
        # that dropped the upper half would take it for an empty file.
        self.make("empty", ("four_gib", 4294967296), ("huge", 4294967297), ("one", 1), "sub/")

    def test_prefixes(self):
        everything = ["empty", "four_gib", "huge", "one", "sub"]
        size_zero = ["empty", "sub"]  # a directory reports the size 0
        cases = [
            ("+4294967295", ["four_gib", "huge"]),
            ("-4294967295", ["empty", "one", "sub"]),
            ("4294967296", ["four_gib"]),
            ("!4294967296", ["empty", "huge", "one", "sub"]),
            ("-4,294,967,296", ["empty", "four_gib", "one", "sub"]),
            ("+4294967297", ["huge"]),
            ("+0", everything),
            ("-0", size_zero),
            ("0", size_zero),
            ("!0", ["four_gib", "huge", "one"]),
            ("+", everything),
            ("none", size_zero),
            ("", size_zero),
            ("+1", ["four_gib", "huge", "one"]),
            ("-1", ["empty", "one", "sub"]),
            ("1", ["one"]),
            ("+18446744073709551615", []),
        ]
        for spec, listed in cases:
            with self.subTest(spec=spec):
                result = self.trawl("-s", spec, "-r", "*")
                self.assertRun(result, out=lines(*listed), status=0 if listed else 1)

    def test_last_size_option_wins(self):
        self.assertRun(self.trawl("-s+1", "-s0", "-r", "*"), out="empty\nsub\n")


class TypeLetters(TreeTest):
    def setUp(self):
        super().setUp()
        self.make(".dot", "a.txt", "h.txt", "hd/", "r.txt", "s.txt", "sub/")
        set_dos_attributes(self, self.path("h.txt"), b"0x2")
        set_dos_attributes(self, self.path("hd"), b"0x12")
        set_dos_attributes(self, self.path("s.txt"), b"0x24")
        os.chmod(self.path("r.txt"), 0o444)

    def test_letters(self):
        everything = [".dot", "a.txt", "h.txt", "hd", "r.txt", "s.txt", "sub"]
        files = [".dot", "a.txt", "h.txt", "r.txt", "s.txt"]
        cases = [
            ("d", ["hd", "sub"]),
            ("!d", files),
            ("hd", [".dot", "h.txt", "hd", "sub"]),
            ("dh", [".dot", "h.txt", "hd", "sub"]),
            ("h", [".dot", "h.txt", "hd"]),
            ("!h", ["a.txt", "r.txt", "s.txt", "sub"]),
            ("s", ["s.txt"]),
            ("r", ["r.txt"]),
            ("w", [".dot", "a.txt", "h.txt", "hd", "s.txt", "sub"]),
            ("!w", ["r.txt"]),
            ("f", files),
            ("a", files),
            ("!a", ["hd", "sub"]),
            ("rs", ["r.txt", "s.txt"]),
            ("!rs", [".dot", "a.txt", "h.txt", "hd", "sub"]),
            ("D", []),
            ("x", []),
            ("", []),
            ("!", everything),
            ("d!", ["hd", "sub"]),
            ("Hd", ["hd", "sub"]),
            ("!!", everything),
        ]
        for letters, listed in cases:
            with self.subTest(letters=letters):
                result = self.trawl("-t", letters, "-r", "*")
                self.assertRun(result, out=lines(*listed), status=0 if listed else 1)

    def test_type_with_dot_entries(self):
        cases = [
            (["-td"], ["hd", "sub"]),
            (["-a", "-td"], [".", "..", "hd", "sub"]),
            (["-A", "-t!w"], ["r.txt"]),
        ]
        for options, listed in cases:
            with self.subTest(options=options):
                self.assertRun(self.trawl(*options, "-r", "*"), out=lines(*listed))

    def test_criteria_combine(self):
        set_mtime(self.path("a.txt"), utc_ns(2020, 1, 1, 0, 0, 0))
        set_mtime(self.path("r.txt"), utc_ns(2020, 1, 1, 0, 0, 0))
        cases = [
            (["-d2020", "-tw"], ["a.txt"]),
            (["-d2020", "-t!w"], ["r.txt"]),
            (["-d2020", "-s+1"], []),
            # the last -t replaces the first
            (["-d!2020", "-tf", "-t!h"], ["s.txt", "sub"]),
        ]
        for options, listed in cases:
            with self.subTest(options=options):
                result = self.trawl(*options, "-r", "*")
                self.assertRun(result, out=lines(*listed), status=0 if listed else 1)


class DotEntries(TreeTest):
    def setUp(self):
        super().setUp()
        self.make("file", "sub/", "sub/g.txt")

    def test_all_flags_list_dot_entries_that_match(self):
        cases = [
            (["-a", "*"], [".", "..", "file", "sub", "sub\\.", "sub\\..", "sub\\g.txt"]),
            (["-A", "*"], [".", "..", "file", "sub", "sub\\.", "sub\\..", "sub\\g.txt"]),
            (["-A", "?"], [".", "sub\\."]),
            (["-a", "?"], [".", "sub\\."]),
            (["-a", "??"], ["..", "sub\\.."]),
            (["-a", ".*"], [".", "..", "sub\\.", "sub\\.."]),
            (["-a", "-r", "*"], [".", "..", "file", "sub"]),
            (["-aA", "sub\\*"], ["sub\\.", "sub\\..", "sub\\g.txt"]),
            (["-a", ".\\?"], [".", "sub\\."]),
            (["-A", "-td", "*"], [".", "..", "sub", "sub\\.", "sub\\.."]),
        ]
        for args, listed in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=lines(*listed))

    def test_held_back_without_flags(self):
        for pattern in ("?", "??", ".*"):
            with self.subTest(pattern=pattern):
                self.assertRun(self.trawl(pattern), status=1)
        self.assertRun(self.trawl("-td", "*"), out="sub\n")


if __name__ == "__main__":
    import unittest
    unittest.main()
