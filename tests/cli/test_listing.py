"""The long listing, the counting of listed entries and the summary blocks,
seen from the command line.

Names in each tree are lower case and created in ASCII order: Wine lists a
directory sorted by name, the native build in the file system's order, and
this way both orders are the same."""

import datetime
import os
from unittest import mock

from harness import EPOCH, FAR_ZONE, TreeTest, set_dos_attributes, set_mtime, utc_ns


def calendar_text(ns):
    """The UTC calendar date and time of the whole second that holds ns;
    before 1601 there is no FILETIME, and the column says so."""
    moment = EPOCH + datetime.timedelta(seconds=ns // 10**9)
    if moment.year < 1601:
        return "????-??-?? ??:??:??"
    return "%04d-%02d-%02d %02d:%02d:%02d" % (moment.year, moment.month, moment.day,
                                             moment.hour, moment.minute, moment.second)


def long_line(letters, size, stamp, path):
    return "%-9s %15s %s  %s\n" % (letters, size, stamp, path)


def summary(entries, visible, directories, files, size, blocks):
    """An argument's block, numbers grouped with commas, without the empty
    line that precedes it when the argument listed something."""
    return (" Entries:     %12s  (%s)\n"
            " Directories: %12s  Files:  %12s\n"
            " Bytes:       %12s  Blocks: %12s\n") % (
                "{:,}".format(entries), "{:,}".format(visible), "{:,}".format(directories),
                "{:,}".format(files), "{:,}".format(size), "{:,}".format(blocks))


# The per-argument blocks and the totals of the worked example, as they must
# appear byte for byte.
TXT_BLOCK = ("\n"
             " Entries:                3  (2)\n"
             " Directories:            0  Files:             3\n"
             " Bytes:              1,513  Blocks:            4\n")
LOG_BLOCK = ("\n"
             " Entries:                2  (2)\n"
             " Directories:            1  Files:             1\n"
             " Bytes:          1,048,576  Blocks:        2,048\n")
ALL_TOTALS = ("\n"
              " Total Entries:                5  (4)\n"
              " Total Directories:            1  Files:             4\n"
              " Total Bytes:          1,050,089  Blocks:        2,052\n")
LOG_TOTALS = ("\n"
              " Total Entries:                2  (2)\n"
              " Total Directories:            1  Files:             1\n"
              " Total Bytes:          1,048,576  Blocks:        2,048\n")
EMPTY_BLOCK = (" Entries:                0  (0)\n"
               " Directories:            0  Files:             0\n"
               " Bytes:                  0  Blocks:            0\n")

TXT_NAMES = "a.txt\nb.txt\nc.txt\n"
LOG_NAMES = "old.log\nx.log\n"
TXT_LONG = ("----a-w             1,000 2024-05-17 09:30:05  a.txt\n"
            "---ha-w               513 2023-11-02 16:45:00  b.txt\n"
            "----a-w                 0 2000-02-29 12:00:00  c.txt\n")
LOG_LONG = ("d-----w                 0 1999-12-31 23:59:59  old.log\n"
            "----a-w         1,048,576 2024-01-09 08:00:59  x.log\n")


class WorkedExample(TreeTest):
    def setUp(self):
        super().setUp()
        self.make(("a.txt", 1000), ("b.txt", 513), "c.txt", "old.log/", ("x.log", 1048576))
        set_dos_attributes(self, self.path("b.txt"), b"0x22")
        stamps = [
            ("a.txt", utc_ns(2024, 5, 17, 9, 30, 5)),
            ("b.txt", utc_ns(2023, 11, 2, 16, 45, 0)),
            ("c.txt", utc_ns(2000, 2, 29, 12, 0, 0) + 999999900),
            ("old.log", utc_ns(1999, 12, 31, 23, 59, 59)),
            ("x.log", utc_ns(2024, 1, 9, 8, 0, 59) + 500000000),
        ]
        for name, ns in stamps:
            set_mtime(self.path(name), ns)

    def test_summaries_and_separators(self):
        cases = [
            (["-n", "-r", "*.txt", "*.log"],
             TXT_NAMES + TXT_BLOCK + LOG_NAMES + LOG_BLOCK + ALL_TOTALS, 0),
            (["-l", "-r", "*.txt", "*.log"],
             TXT_LONG + TXT_BLOCK + "\n" + LOG_LONG + LOG_BLOCK + ALL_TOTALS, 0),
            (["-ln", "-r", "*.txt", "*.log"],
             TXT_LONG + TXT_BLOCK + "\n" + LOG_LONG + LOG_BLOCK + ALL_TOTALS, 0),
            (["-r", "*.txt", "*.log"], TXT_NAMES + LOG_NAMES, 0),
            (["-n", "-r", "*.none"], EMPTY_BLOCK, 1),
            (["-l", "-r", "*.none"], EMPTY_BLOCK, 1),
            (["-l", "-r", "*.none", "*.log"],
             EMPTY_BLOCK + "\n" + LOG_LONG + LOG_BLOCK + LOG_TOTALS, 0),
            (["-n", "-r", "*.none", "*.log"],
             EMPTY_BLOCK + LOG_NAMES + LOG_BLOCK + LOG_TOTALS, 0),
            (["-l", "-r", "*.txt", "*.none", "*.log"],
             TXT_LONG + TXT_BLOCK + "\n" + EMPTY_BLOCK + "\n" + LOG_LONG + LOG_BLOCK
             + ALL_TOTALS, 0),
            (["-n", "-r", "*.txt", "*.none", "*.log"],
             TXT_NAMES + TXT_BLOCK + EMPTY_BLOCK + LOG_NAMES + LOG_BLOCK + ALL_TOTALS, 0),
            (["-l", "-r", "*.log", "*.none"],
             LOG_LONG + LOG_BLOCK + "\n" + EMPTY_BLOCK + LOG_TOTALS, 1),
            (["-n", "-r", "*.log"], LOG_NAMES + LOG_BLOCK, 0),
            (["-l", "-r", "*.log"], LOG_LONG + LOG_BLOCK, 0),
        ]
        for args, out, status in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out, status=status)

    def test_ill_formed_pattern_is_summarised_as_empty(self):
        result = self.trawl("-n", "-r", "[abc", "*.log")
        self.assertRun(result, out=EMPTY_BLOCK + LOG_NAMES + LOG_BLOCK + LOG_TOTALS,
                       err="trawl: ill-formed filename pattern '[abc'\n")

    def test_time_column_ignores_the_local_zone(self):
        with mock.patch.dict(os.environ, {"TZ": FAR_ZONE}):
            result = self.trawl("-l", "-r", "*.txt", "*.log")
        self.assertRun(result, out=TXT_LONG + TXT_BLOCK + "\n" + LOG_LONG + LOG_BLOCK
                       + ALL_TOTALS)


class TimeColumn(TreeTest):
    # Last-write times across the range both builds can store, some of them
    # in the middle of a second, which the column drops.
    TIMES = [
        ("t1600", utc_ns(1600, 12, 31, 23, 59, 59)),  # kept by tmpfs, not by ext4
        ("t1601", utc_ns(1601, 1, 1, 0, 0, 0)),
        ("t1601b", utc_ns(1601, 1, 1, 0, 0, 1) + 100),
        ("t1900", utc_ns(1900, 2, 28, 23, 59, 59)),
        ("t1969", utc_ns(1970, 1, 1, 0, 0, 0) - 100),
        ("t1970", utc_ns(1970, 1, 1, 0, 0, 0)),
        ("t2000", utc_ns(2000, 2, 29, 12, 0, 0)),
        ("t2024", utc_ns(2024, 5, 17, 9, 30, 5) + 500000000),
        ("t2038", utc_ns(2038, 1, 19, 3, 14, 8)),
        ("t2100", utc_ns(2100, 3, 1, 0, 0, 0)),
        ("t9999", utc_ns(9999, 12, 31, 23, 59, 59)),
    ]

    def setUp(self):
        super().setUp()
        self.make(*(name for name, _ in self.TIMES))
        for name, ns in self.TIMES:
            set_mtime(self.path(name), ns)
        if os.stat(self.path("t1600")).st_mtime_ns != self.TIMES[0][1]:
            self.skipTest("the scratch file system does not keep times before 1601")

    def test_calendar_across_the_range(self):
        with mock.patch.dict(os.environ, {"TZ": FAR_ZONE}):
            result = self.trawl("-l", "-r", "t*")
        out = "".join(long_line("----a-w", "0", calendar_text(ns), name)
                      for name, ns in self.TIMES)
        n = len(self.TIMES)
        self.assertRun(result, out=out + "\n" + summary(n, n, 0, n, 0, 0))

    def test_printed_time_given_back_to_date_option(self):
        # The printed second names the start of that second: an entry written
        # within it passes "+" and fails equality unless it lies on the start.
        for name, ns in self.TIMES[1:]:
            stamp = calendar_text(ns)
            start = ns - ns % 10**9
            with self.subTest(name=name, stamp=stamp):
                exact = [n for n, t in self.TIMES[1:] if t == start]
                later = [n for n, t in self.TIMES[1:] if t >= start]
                result = self.trawl("-d", stamp, "-r", "t*")
                self.assertRun(result, out="".join(n + "\n" for n in exact),
                               status=0 if exact else 1)
                result = self.trawl("-d", "+" + stamp, "-r", "t*")
                self.assertRun(result, out="".join(n + "\n" for n in later))


class Counting(TreeTest):
    def test_blocks_of_single_files(self):
        sizes = [(0, 0), (1, 1), (511, 1), (512, 1), (513, 2), (1024, 2), (1048576, 2048),
                 (4294967296, 8388608), (4294967297, 8388609)]
        self.make(*("z%d/" % size for size, _ in sizes))
        self.make(*(("z%d/f" % size, size) for size, _ in sizes))
        for size, blocks in sizes:
            with self.subTest(size=size):
                result = self.trawl("-n", "-r", "z%d\\*" % size)
                self.assertRun(result, out="z%d\\f\n\n" % size
                               + summary(1, 1, 0, 1, size, blocks))

    def test_kinds_and_hidden_entries(self):
        self.make(".hd/", ("a1", 1), ("b512", 512), ("c513", 513), ("d1m", 1048576), "e0",
                  "sub/", ("sub/y", 100))
        set_dos_attributes(self, self.path("c513"), b"0x2")
        set_dos_attributes(self, self.path("d1m"), b"0x4")
        set_dos_attributes(self, self.path("sub"), b"0x16")
        files = "a1\nb512\nc513\nd1m\ne0\n"
        cases = [
            # ".hd", "c513", "d1m" and "sub" are hidden or system
            (["-n", "-r", "*"], ".hd\n" + files + "sub\n\n"
             + summary(7, 3, 2, 5, 1049602, 2052)),
            # "." and ".." are directories like any other
            (["-n", "-r", "-a", "*"], ".\n..\n.hd\n" + files + "sub\n\n"
             + summary(9, 5, 4, 5, 1049602, 2052)),
            (["-n", "*"], ".hd\n" + files + "sub\nsub\\y\n\n"
             + summary(8, 4, 2, 6, 1049702, 2053)),
            (["-n", "-r", "-td", "*"], ".hd\nsub\n\n" + summary(2, 0, 2, 0, 0, 0)),
            (["-n", "-r", "-a", "-td", "*"], ".\n..\n.hd\nsub\n\n" + summary(4, 2, 4, 0, 0, 0)),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out)

    def test_totals_of_hidden_entries_over_arguments(self):
        self.make("h1", "h2", "v1")
        set_dos_attributes(self, self.path("h1"), b"0x2")
        set_dos_attributes(self, self.path("h2"), b"0x6")
        result = self.trawl("-n", "-r", "h*", "v*", "h1")
        totals = ("\n"
                  " Total Entries:                4  (1)\n"
                  " Total Directories:            0  Files:             4\n"
                  " Total Bytes:                  0  Blocks:            0\n")
        self.assertRun(result, out="h1\nh2\n\n" + summary(2, 0, 0, 2, 0, 0)
                       + "v1\n\n" + summary(1, 1, 0, 1, 0, 0)
                       + "h1\n\n" + summary(1, 0, 0, 1, 0, 0) + totals)

    def test_wide_numbers_widen_their_columns(self):
        stamp = utc_ns(2024, 5, 17, 9, 30, 5)
        self.make(("big", 10**12), ("g4", 4294967296))
        for name in ("big", "g4"):
            set_mtime(self.path(name), stamp)
        result = self.trawl("-l", "-r", "*")
        self.assertRun(result, out=(
            "----a-w   1,000,000,000,000 2024-05-17 09:30:05  big\n"
            "----a-w     4,294,967,296 2024-05-17 09:30:05  g4\n"
            "\n"
            " Entries:                2  (2)\n"
            " Directories:            0  Files:             2\n"
            " Bytes:       1,004,294,967,296  Blocks: 1,961,513,608\n"))

    def test_grouping_of_counts(self):
        self.make(*("f%04d" % i for i in range(1234)))
        result = self.trawl("-n", "-r", "f*")
        names = "".join("f%04d\n" % i for i in range(1234))
        self.assertRun(result, out=names + "\n"
                       " Entries:            1,234  (1,234)\n"
                       " Directories:            0  Files:         1,234\n"
                       " Bytes:                  0  Blocks:            0\n")


if __name__ == "__main__":
    import unittest
    unittest.main()
