"""The command line end to end: the usage and information texts, the
diagnostics of bad options and values, and the effects of the option syntax
(flag groups, value options that consume the next argument, the lone "-",
options after the first pattern) as they show in the output."""

import os
import re

import harness
from harness import TreeTest


def _project_identity():
    """Version (major.minor) and release date as the build declares them, so
    that a release bump doesn't need the tests edited."""
    cmake = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                         "CMakeLists.txt")
    with open(cmake, encoding="utf-8") as f:
        text = f.read()
    version = re.search(r"project\s*\(\s*trawl\s+VERSION\s+(\d+)\.(\d+)", text)
    date = re.search(r'set\s*\(\s*TRAWL_RELEASE_DATE\s+"?(\d{4}-\d\d-\d\d)"?\s*\)', text)
    if not version or not date:
        raise AssertionError("cannot find the version or the release date in " + cmake)
    return "%s.%s" % version.groups(), date.group(1)


VERSION, RELEASE_DATE = _project_identity()
BANNER = "[trawl, %s %s]" % (VERSION, RELEASE_DATE)

USAGE_LINES = [
    "Options:",
    "    -?          Show information about this program.",
    "    -a          Print all matching entries.",
    '    -A          Print all matching entries except "." and "..".',
    "    -d[+|-|!]D  Find files modified after/before/not date D.",
    "    -l          Long listing.",
    "    -m          Show short DOS names.",
    "    -n          Show list summary.",
    "    -r          Do not recursively search subdirectories.",
    "    -s[+|-|!]N  File size [more/less/not] N bytes.",
    "    -t[!]T...   Find entried [not] of type T, which is one of more of",
    "                these criteria combined (or-ed) together:",
    "                    a   Archive",
    "                    c   Compressed",
    "                    d   Directory",
    "                    f   File",
    "                    h   Hidden",
    "                    r   Read only",
    "                    s   System",
    "                    v   Volume label",
    "                    w   Writable",
    "    -v          Verbose output.",
    "",
    "Filenames can contain wildcard characters:",
    "    ?       Matches any single character (including '.').",
    "    *       Matches zero or more characters (including '.').",
    "    [abc]   Matches 'a', 'b', or 'c'.",
    "    [a-z]   Matches 'a' through 'z'.",
    "    [!a-z]  Matches any character except 'a' thru 'z'.",
    "    `X      Matches X exactly (which may be a wildcard character).",
    "    !X      Matches any filename except X.",
    "",
    "Date 'D' is of the form \"[YY]YY[-MM[-DD]][:HH[:MM[:SS]]]\".",
]

USAGE = (BANNER + "\n\n"
         "Find matching filenames in a directory tree.\n\n"
         "usage:  trawl [option...] [path\\]file...\n\n"
         + "".join(line + "\n" for line in USAGE_LINES))

MONTHS = "Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec"
INFO_FIRST_LINE = re.compile(
    r"^%s <(%s) ( [1-9]|[12]\d|3[01]) \d{4} ([01]\d|2[0-3]):[0-5]\d:[0-5]\d>$"
    % (re.escape(BANNER), MONTHS))


def diagnosed(message):
    return "trawl: %s\n\n%s" % (message, USAGE)


class UsageText(TreeTest):
    def test_no_arguments_gives_exactly_the_usage_text(self):
        self.assertRun(self.trawl(), err=USAGE, status=255)

    def test_usage_columns(self):
        lines = self.trawl().err.splitlines()[6:]
        self.assertEqual(len(lines), 33)
        self.assertEqual([i + 1 for i, line in enumerate(lines) if line == ""], [23, 32])
        for number, line in enumerate(lines, 1):
            with self.subTest(line=number):
                self.assertNotIn("\t", line)
                self.assertEqual(line, line.rstrip(" "))
                if 2 <= number <= 11 or number == 22:
                    # option form from column 5, description from column 17
                    self.assertTrue(line.startswith("    -"), line)
                    self.assertEqual(line[15], " ", line)
                    self.assertNotEqual(line[16], " ", line)
                elif number == 12:
                    self.assertRegex(line, r"^ {16}\S")
                elif 13 <= number <= 21:
                    self.assertRegex(line, r"^ {20}[a-z]   \S")
                elif 25 <= number <= 31:
                    self.assertRegex(line, r"^ {4}\S")
                    self.assertEqual(line[11], " ", line)
                    self.assertNotEqual(line[12], " ", line)
                elif number in (1, 24, 33):
                    self.assertNotEqual(line[0], " ", line)

    def test_options_without_a_pattern(self):
        self.make("a.c")
        cases = [
            ["-l", "-r"],
            ["-lr"],
            ["-v"],
            ["-"],
            ["-l", "-"],
            ["-t"],          # -t at the end takes the empty text
            ["-u"],
            ["-g", "*.c"],   # -g swallows the pattern
            ["-t?"],         # '?' is -t's value here, not the information option
            ["-s", "*.c"],
            ["-d", "2011", "-r"],
        ]
        for args in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), err=USAGE, status=255)


class Diagnostics(TreeTest):
    def test_bad_options_and_values(self):
        self.make("a.c")
        cases = [
            (["-x"], "bad option '-x'"),
            (["-x", "a.c"], "bad option '-x'"),
            # the second dash is the offending letter
            (["--"], "bad option '--'"),
            (["--", "a.c"], "bad option '--'"),
            (["-x", "-?"], "bad option '-x'"),
            (["-lrx", "a.c"], "bad option '-x'"),
            (["-Z", "a.c"], "bad option '-Z'"),
            (["-L", "a.c"], "bad option '-L'"),
            (["-1", "a.c"], "bad option '-1'"),
            (["-l", "-", "-q", "a.c"], "bad option '-q'"),
            (["-d"], "improper date specification ''"),
            (["-dtoday", "a.c"], "improper date specification 'today'"),
            (["-d", "today", "a.c"], "improper date specification 'today'"),
            # Wine's SystemTimeToFileTime takes February 29 in any year;
            # trawl must reject it on both builds all the same.
            (["-d2011-02-29", "a.c"], "improper date specification '2011-02-29'"),
            (["-d1900-02-29", "a.c"], "improper date specification '1900-02-29'"),
            (["-d2011-04-31", "a.c"], "improper date specification '2011-04-31'"),
            (["-d", "+1600-12-31", "a.c"], "improper date specification '+1600-12-31'"),
            (["-d2011", "-d!2011-06-15:24", "a.c"],
             "improper date specification '!2011-06-15:24'"),
            (["-dtoday", "-x", "a.c"], "improper date specification 'today'"),
            (["-x", "-dtoday", "a.c"], "bad option '-x'"),
            (["-s18446744073709551616", "a.c"],
             "improper size specification '18446744073709551616'"),
            (["-s", "+1 8446744073709551616", "a.c"],
             "improper size specification '+1 8446744073709551616'"),
            (["-ls184467440737095516150", "a.c"],
             "improper size specification '184467440737095516150'"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), err=diagnosed(message), status=255)

    def test_largest_size_is_accepted(self):
        self.make("a.c")
        self.assertRun(self.trawl("-s18446744073709551615", "a.c"), status=1)

    def test_information_text(self):
        self.make("a.c", "sub/", "sub/b.c")
        cases = [
            ["-?"],
            ["-?", "-x"],
            ["-?", "*.c"],
            ["-v", "-?", "*.c", "a.c"],
            ["-lv?", "*.c"],
            ["-d2011", "-?", "*.c"],
            ["-", "-?", "*.c"],
        ]
        reference = None
        for args in cases:
            with self.subTest(args=args):
                result = self.trawl(*args)
                self.assertEqual(result.out, "", result)
                self.assertEqual(result.status, 0, result)
                self.assertTrue(result.err.endswith("\n"), result)
                lines = result.err.split("\n")[:-1]
                self.assertEqual(len(lines), 11, result)
                self.assertRegex(lines[0], INFO_FIRST_LINE)
                self.assertEqual([i + 1 for i, line in enumerate(lines) if line == ""],
                                 [2, 4, 8])
                for number in (3, 5, 6, 7):
                    self.assertRegex(lines[number - 1], r"^\S(.*\S)?$")
                self.assertRegex(lines[8], r"^    \S(.*\S)?$")
                self.assertRegex(lines[9], r"^    <[^<>\s]+>$")
                self.assertRegex(lines[10], r"^    <[^<>\s]+>$")
                self.assertNotIn("\t", result.err)
                if reference is None:
                    reference = result.err
                # Built once, so every run shows the same build time.
                self.assertEqual(result.err, reference)


class OptionSyntax(TreeTest):
    def setUp(self):
        super().setUp()
        self.make(("a.c", 50), ("b.c", 100), ("c.c", 200), "e.c",
                  "sub/", "sub/-l", ("sub/d.c", 100))

    def test_selection_by_option_forms(self):
        everything = "a.c\nb.c\nc.c\ne.c\nsub\\d.c\n"
        top = "a.c\nb.c\nc.c\ne.c\n"
        cases = [
            # -100 is the value of -s (at most 100 bytes), not a group of options
            (["-s", "-100", "*.c"], "a.c\nb.c\ne.c\nsub\\d.c\n"),
            (["-s-100", "*.c"], "a.c\nb.c\ne.c\nsub\\d.c\n"),
            (["-s", "-100", "-r", "*.c"], "a.c\nb.c\ne.c\n"),
            (["-rs", "-100", "*.c"], "a.c\nb.c\ne.c\n"),
            (["-s", "+100", "*.c"], "b.c\nc.c\nsub\\d.c\n"),
            (["-s", "100", "*.c"], "b.c\nsub\\d.c\n"),
            # the later -s replaces the earlier one
            (["-s", "50", "-s", "200", "*.c"], "c.c\n"),
            # "l" is the size text (no digits: equal to 0), not the long listing
            (["-sl", "*.c"], "e.c\n"),
            (["-tdl", "*"], "sub\n"),
            (["-r", "*.c"], top),
            (["-r", "-r", "-rr", "*.c"], top),
            (["-r", "-", "*.c"], top),
            (["-", "-r", "*.c"], top),
            (["-", "*.c"], everything),
            (["-D", "*.c"], everything),
            (["-u", "-r", "*.c"], everything),
            (["-uxyz", "-DD", "*.c"], everything),
            (["-g", "val", "-D", "*.c"], everything),
            (["-vrD", "-gx", "*.c"], "Searching .\n" + top),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out)

    def test_grouped_flags_equal_separate_ones(self):
        reference = self.trawl("-l", "-r", "*.c")
        self.assertEqual((reference.err, reference.status), ("", 0), reference)
        lines = reference.lines()
        for line, name in zip(lines, ["a.c", "b.c", "c.c", "e.c"]):
            # long listing: columns in front of the name
            self.assertTrue(line.endswith(" " + name), reference)
        self.assertNotIn("d.c", reference.out)
        for args in (["-lr", "*.c"], ["-rl", "*.c"], ["-r", "-l", "*.c"],
                     ["-l", "-", "-r", "*.c"], ["-lrl", "*.c"]):
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=reference.out)

    def test_options_after_a_pattern_are_patterns(self):
        cases = [
            (["*.c", "-l"], "a.c\nb.c\nc.c\ne.c\nsub\\d.c\nsub\\-l\n", "", 0),
            (["-r", "*.c", "-l"], "a.c\nb.c\nc.c\ne.c\n", "", 1),
            (["*.c", "-x"], "a.c\nb.c\nc.c\ne.c\nsub\\d.c\n", "", 1),
            # "-?" as a pattern matches the two-character name -l
            (["*.c", "-?"], "a.c\nb.c\nc.c\ne.c\nsub\\d.c\nsub\\-l\n", "", 0),
            (["b.c", "-", "a.c"], "b.c\na.c\n", "", 0),
        ]
        for args, out, err, status in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out, err=err, status=status)


class ArgumentsArriveUnexpanded(TreeTest):
    """A C runtime that globbed the command line would turn *.c into the
    names in the current directory; the search would then look for those
    names only, and the match in sub would go missing."""

    def test_wildcards_reach_the_search(self):
        # Names in ASCII order: Wine lists a directory sorted, tmpfs in
        # creation order, and this way both agree.
        self.make("a.c", "sub/", "sub/b.c", "with blanks/", "with blanks/c.c", "x.c")
        cases = [
            (["*.c"], "a.c\nx.c\nsub\\b.c\nwith blanks\\c.c\n"),
            (["[ab].c"], "a.c\nsub\\b.c\n"),
            (["?.c"], "a.c\nx.c\nsub\\b.c\nwith blanks\\c.c\n"),
            (["sub\\*"], "sub\\b.c\n"),
            (["with blanks\\*.c"], "with blanks\\c.c\n"),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertRun(self.trawl(*args), out=out)
