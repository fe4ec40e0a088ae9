// Unit tests of the wildcard library: the documented examples and
// edge cases as tables, and a randomised comparison of the library with the
// plain matching algorithm, written out here as the oracle.
#include "wildcat.h"
#include "wildcat_oracle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

using namespace oracle;

// ---------------------------------------------------------------------------
// Tables.  "\x1A" is the dot-bounded star, '`' the quote.

struct MatchRow {
    const char *pattern;
    const char *name;
    int checked;    // expected from pattern_match
    int unchecked;  // expected from pattern_match_unchecked
};

struct ValidRow {
    const char *pattern;
    int valid;
};

// Compiles, then matches: the same result as pattern_match.
int compiled_match(const char *pattern, const char *name)
{
    pattern_compiled compiled;
    const int valid = pattern_compile(pattern, &compiled);
    EXPECT_EQ(valid, pattern_is_valid(pattern));
    return pattern_match_compiled(&compiled, name);
}

void check_rows(const MatchRow *rows, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const MatchRow &r = rows[i];
        SCOPED_TRACE(::testing::Message()
                     << "row " << i << ": pattern \"" << (r.pattern ? r.pattern : "(null)")
                     << "\" name \"" << (r.name ? r.name : "(null)") << "\"");
        EXPECT_EQ(pattern_match(r.pattern, r.name), r.checked);
        EXPECT_EQ(pattern_match_unchecked(r.pattern, r.name), r.unchecked);
        EXPECT_EQ(compiled_match(r.pattern, r.name), r.checked);
        // The table itself agrees with the plain algorithm.
        EXPECT_EQ(oracle_match(r.pattern, r.name), r.checked);
        EXPECT_EQ(oracle_unchecked(r.pattern, r.name), r.unchecked);
    }
}

void check_valid_rows(const ValidRow *rows, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(::testing::Message()
                     << "row " << i << ": pattern \""
                     << (rows[i].pattern ? rows[i].pattern : "(null)") << "\"");
        EXPECT_EQ(pattern_is_valid(rows[i].pattern), rows[i].valid);
        EXPECT_EQ(oracle_is_valid(rows[i].pattern), rows[i].valid);
    }
}

template <std::size_t N>
void check(const MatchRow (&rows)[N])
{
    check_rows(rows, N);
}

template <std::size_t N>
void check(const ValidRow (&rows)[N])
{
    check_valid_rows(rows, N);
}

// The documented examples.
TEST(Wildcat, DocumentedExamples)
{
    // clang-format off
    const MatchRow rows[] = {
        {"*.c", "a.c", 1, 1},
        {"*.c", "A.C", 1, 1},
        {"*.c", ".c", 1, 1},
        {"*.c", "a.cc", 0, 0},
        {"*.*", "abc", 0, 0},
        {"*.*", "abc.", 1, 1},
        {"*", ".", 1, 1},
        {"*", "..", 1, 1},
        {"?", ".", 1, 1},
        {"a?c", "ac", 0, 0},
        {"[a-c]x", "Bx", 1, 1},
        {"[!a-c]x", "Bx", 0, 0},
        {"[!a-c]x", "dx", 1, 1},
        {"[-a]", "-", 1, 1},
        {"[-a]", "a", 1, 1},
        {"[a-c-e]", "d", 0, 0},
        {"[a-c-e]", "-", 1, 1},
        {"[a-c-e]", "e", 1, 1},
        {"[a-c-e]", "b", 1, 1},
        {"[!]]", "x]", 1, 1},
        {"[!]]", "x", 0, 0},
        {"!*.c", "a.h", 1, 1},
        {"!*.c", "a.c", 0, 0},
        {"a!b", "a", 1, 1},
        {"a!b", "ac", 1, 1},
        {"a!b", "abc", 1, 1},
        {"a!b", "ab", 0, 0},
        {"a!b", "AB", 0, 0},
        {"*!x", "x", 1, 1},
        {"\x1A.c", "abc.c", 1, 1},
        {"\x1A", "abc.def", 0, 0},
        {"\x1A", "abc", 1, 1},
        {"\x1A.*", "abc.def", 1, 1},
        {"\x1A.*", ".profile", 1, 1},
        {"\x1A.*", "abc", 0, 0},
    };
    // clang-format on
    check(rows);
}

// The quoting examples.
TEST(Wildcat, Quoting)
{
    // clang-format off
    const MatchRow rows[] = {
        {"`*", "*", 1, 1},
        {"`*", "a", 0, 0},
        {"`*", "**", 0, 0},
        {"`*", "", 0, 0},
        {"`A", "a", 1, 1},
        {"`A", "A", 1, 1},
        {"`a", "A", 1, 1},
        {"[`]]", "]", 1, 1},
        {"[`]]", "`", 0, 0},
        {"[`]]", "a", 0, 0},
        {"[a`-z]", "a", 1, 1},
        {"[a`-z]", "-", 1, 1},
        {"[a`-z]", "z", 1, 1},
        {"[a`-z]", "m", 0, 0},
        {"[a`-z]", "`", 0, 0},
        {"`?", "?", 1, 1},
        {"`?", "x", 0, 0},
        {"``", "`", 1, 1},
        {"`!a", "!a", 1, 1},
        {"`!a", "b", 0, 0},
        {"`[a]", "[a]", 1, 1},
        {"`[a]", "a", 0, 0},
        {"`\x1A", "\x1A", 1, 1},
        {"`\x1A", "x", 0, 0},
        {"[`!a]", "!", 1, 1},   // a quoted '!' first in a set is an item
        {"[`!a]", "b", 0, 0},
        {"[a-`]]", "b", 0, 0},  // 'a' to ']' is reversed
        {"[!-`]]", "]", 0, 0},  // '!' negates; the items are '-' and ']'
        {"[!-`]]", "-", 0, 0},
        {"[!-`]]", "!", 1, 1},
    };
    // clang-format on
    check(rows);
}

// Sets and ranges: folding, signed byte values, reversed ranges.
TEST(Wildcat, Ranges)
{
    // clang-format off
    const MatchRow rows[] = {
        {"[A-Z]", "q", 1, 1},
        {"[a-z]", "Q", 1, 1},
        {"[A-z]", "m", 1, 1},
        {"[A-z]", "M", 1, 1},
        {"[A-z]", "[", 0, 0},
        {"[A-z]", "_", 0, 0},
        {"[A-z]", "`", 0, 0},
        {"[A-z]", "\\", 0, 0},
        {"[z-a]", "a", 0, 0},
        {"[z-a]", "m", 0, 0},
        {"[z-a]", "z", 0, 0},
        {"[Z-a]", "a", 0, 0},
        {"[Z-a]", "z", 0, 0},
        {"[Z-a]", "[", 0, 0},
        {"[!z-a]", "m", 1, 1},
        // ASCII up to a high byte: the high byte is negative, nothing fits.
        {"[a-\xE9]", "a", 0, 0},
        {"[a-\xE9]", "b", 0, 0},
        {"[a-\xE9]", "\xE9", 0, 0},
        {"[a-\xE9]", "\xFF", 0, 0},
        {"[!a-\xE9]", "b", 1, 1},
        // A high byte up to ASCII: the high bytes from the low end, and every
        // character from 0x01 to the folded upper end.
        {"[\xE9-b]", "\xE9", 1, 1},
        {"[\xE9-b]", "\xFF", 1, 1},
        {"[\xE9-b]", "\xE8", 0, 0},
        {"[\xE9-b]", "\x80", 0, 0},
        {"[\xE9-b]", "\x01", 1, 1},
        {"[\xE9-b]", "0", 1, 1},
        {"[\xE9-b]", "B", 1, 1},
        {"[\xE9-b]", "a", 1, 1},
        {"[\xE9-b]", "`", 1, 1},
        {"[\xE9-b]", "c", 0, 0},
        {"[\xE9-b]", "C", 0, 0},
        {"[\xE9-b]", "\x7F", 0, 0},
        {"[\x80-\xFF]", "\xC9", 1, 1},
        {"[\x80-\xFF]", "a", 0, 0},
        {"[\xFF-\x80]", "\xC9", 0, 0},
        {"[\xC9]", "\xE9", 0, 0},
        {"[\xC9-\xC9]", "\xC9", 1, 1},
        // The upper end may be ']'.
        {"[a-]]", "a", 0, 0},
        {"[a-]]", "]", 0, 0},
        {"[!-]]", "x]", 1, 1},  // '!' negates, '-' is the item, the ']' closes
        {"[!-]]", "-]", 0, 0},
        {"[!-]]", "x", 0, 0},
        {"[*-]]", "A", 0, 0},  // '*' (0x2A) to ']' (0x5D): 'A' folds to 0x61
        {"[*-]]", "a", 0, 0},
        {"[*-]]", "Z", 0, 0},
        {"[*-]]", "[", 1, 1},
        {"[*-]]", "*", 1, 1},
        {"[*?[\x1A]", "?", 1, 1},  // metacharacters are ordinary items in a set
        {"[*?[\x1A]", "[", 1, 1},
        {"[*?[\x1A]", "\x1A", 1, 1},
        {"[*?[\x1A]", "x", 0, 0},
        {"[ab!]", "!", 1, 1},
        {"[]", "a", 0, 0},
        {"[]a", "a", 0, 0},
        {"a[]", "a", 0, 0},
        {"[!]", "a", 1, 1},
        {"[!]", ".", 1, 1},
        {"[!]", "", 0, 0},
        {"[!]", "ab", 0, 0},
    };
    // clang-format on
    check(rows);
}

// Edge cases.
TEST(Wildcat, EdgeCases)
{
    // clang-format off
    const MatchRow rows[] = {
        {"", "", 1, 1},
        {"", "a", 0, 0},
        {"*", "", 0, 1},
        {"\x1A", "", 0, 1},
        {"**", "", 0, 1},
        {"?", "", 0, 0},
        {"!a", "", 0, 1},
        {"*", ".", 1, 1},
        {"*", "..", 1, 1},
        {"?*", ".", 1, 1},
        {"?*", "..", 1, 1},
        {"?", ".", 1, 1},
        {"?", "..", 0, 0},
        {"!", "a", 0, 0},
        {"!", "", 0, 0},
        {"!", "!", 0, 0},
        {"a`", "a", 0, 0},
        {"a`", "a`", 0, 0},
        {"`", "`", 0, 0},
        {"[abc", "a", 0, 0},
        {"[abc", "[abc", 0, 0},
        {"[!", "a", 0, 0},
        {"[", "[", 0, 0},
        {"[a-", "a", 0, 0},
        {"[a-]", "a", 0, 0},
        {"[a-]]", "a", 0, 0},
        {"![abc", "a", 1, 1},
        {"![abc", "xyz", 1, 1},
        {"![abc", "", 0, 1},
        {"!!", "a", 1, 1},
        {"!!", "anything.txt", 1, 1},
        {"!`", "a", 1, 1},
        {"!`", ".", 1, 1},
        {"a[!b]", "a", 0, 0},
        {"a[!b]", "ac", 1, 1},
        {"a[!b]", "ab", 0, 0},
        {"x", "X", 1, 1},
        {"X", "x", 1, 1},
        {"\xE9", "\xC9", 0, 0},
        {"\xC9", "\xE9", 0, 0},
        {"\xE9", "\xE9", 1, 1},
        {"`A", "a", 1, 1},
        {"`A", "A", 1, 1},
        {"]", "]", 1, 1},
        {"-", "-", 1, 1},
        {"a]b-", "A]B-", 1, 1},
        {"[a]]", "a]", 1, 1},
        {"*a", "a\xE9", 0, 0},
        {"*\xE9", "a\xE9", 1, 1},
        {"\x1A\x1A.c", "ab.c", 1, 1},
        {"\x1A*", "a.b.c", 1, 1},
        {"*\x1A", "a.b.c", 1, 1},
        {"\x1A\x1A", "a.b", 0, 0},
        {"\x1A.\x1A", "a.b", 1, 1},
        {"\x1A.\x1A", "a.b.c", 0, 0},
        {"*`a*", "xAy", 1, 1},  // a quoted literal behind a run that backtracks
        {"*`**", "a*b", 1, 1},
        {"*`**", "ab", 0, 0},
    };
    // clang-format on
    check(rows);
}

TEST(Wildcat, NullPointers)
{
    EXPECT_EQ(pattern_is_valid(nullptr), 0);
    EXPECT_EQ(pattern_match(nullptr, "a"), 0);
    EXPECT_EQ(pattern_match("a", nullptr), 0);
    EXPECT_EQ(pattern_match(nullptr, nullptr), 0);
    EXPECT_EQ(pattern_match("*", nullptr), 0);
    EXPECT_EQ(pattern_match(nullptr, ""), 0);
    EXPECT_EQ(pattern_match_unchecked(nullptr, "a"), 0);
    EXPECT_EQ(pattern_match_unchecked("a", nullptr), 0);
    EXPECT_EQ(pattern_match_unchecked(nullptr, nullptr), 0);
    EXPECT_EQ(pattern_match_unchecked("*", nullptr), 0);
    EXPECT_EQ(pattern_match_unchecked("*a*b", nullptr), 0);
    pattern_compiled compiled;
    EXPECT_EQ(pattern_compile(nullptr, &compiled), 0);
    EXPECT_EQ(pattern_match_compiled(&compiled, "a"), 0);
    EXPECT_EQ(pattern_compile("*", nullptr), 0);
    EXPECT_EQ(pattern_match_compiled(nullptr, "a"), 0);
    ASSERT_EQ(pattern_compile("*", &compiled), 1);
    EXPECT_EQ(pattern_match_compiled(&compiled, nullptr), 0);
}

TEST(Wildcat, Validity)
{
    // clang-format off
    const ValidRow rows[] = {
        {"", 1},
        {"*", 1},
        {"?", 1},
        {"\x1A", 1},
        {"*?\x1A**", 1},
        {"!", 0},
        {"a!", 0},
        {"!!", 1},
        {"!!!", 0},
        {"!`", 1},
        {"`", 0},
        {"a`", 0},
        {"``", 1},
        {"`!", 1},
        {"`[", 1},
        {"[", 0},
        {"[!", 0},
        {"[abc", 0},
        {"[a-", 0},
        {"[a-]", 0},
        {"[a-]]", 1},
        {"[a-`", 0},
        {"[a-`]", 0},
        {"[a-`]]", 1},
        {"[`", 0},
        {"[`]", 0},
        {"[`]]", 1},
        {"[a`-z]", 1},
        {"[]", 1},
        {"[!]", 1},
        {"[!]]", 1},
        {"[z-a]", 1},
        {"[Z-a]", 1},
        {"]", 1},
        {"-", 1},
        {"a]b-c", 1},
        {"![abc", 1},
        {"![", 1},
        {"!`", 1},
        {"a[b", 0},
        {"[a]b[", 0},
        {"[a]b[c]", 1},
        {"[\xE9-\xFF]", 1},
    };
    // clang-format on
    check(rows);
}

// ---------------------------------------------------------------------------
// The library against the oracle on many random short patterns and names.

TEST(Wildcat, RandomAgainstPlainRecursion)
{
    static const char pattern_chars[] = {'*', '*', '?', '\x1A', '\x1A', '!', '`',
                                         '[', ']', '-', '.',    '.',    'a', 'b',
                                         'A', 'B', 'z', '\xE9', '\xC9'};
    static const char name_chars[] = {'.', '.', 'a', 'b', 'A', 'B',    'z',
                                      '-', ']', '!', '*', '`', '\xE9', '\xC9'};
    std::mt19937 rng(20261207u);
    std::size_t many_runs = 0;
    const int rounds = 300000;
    for (int i = 0; i < rounds; ++i) {
        std::string pattern;
        std::size_t plen = rng() % 11;
        int stars = 0;
        for (std::size_t k = 0; k < plen; ++k) {
            char ch = pattern_chars[rng() % sizeof pattern_chars];
            if (ch == '*' || ch == '\x1A') {
                if (stars == 5)
                    ch = 'a';  // keep the oracle's work bounded
                else
                    ++stars;
            }
            pattern += ch;
        }
        std::string name;
        std::size_t nlen = rng() % 9;
        for (std::size_t k = 0; k < nlen; ++k) name += name_chars[rng() % sizeof name_chars];
        if (stars >= 2) ++many_runs;

        const char *p = pattern.c_str();
        const char *n = name.c_str();
        int want_valid = oracle_is_valid(p);
        int want_unchecked = oracle_unchecked(p, n);
        int want_checked = oracle_match(p, n);
        ASSERT_EQ(pattern_is_valid(p), want_valid) << "pattern \"" << pattern << "\"";
        ASSERT_EQ(pattern_match_unchecked(p, n), want_unchecked)
            << "pattern \"" << pattern << "\" name \"" << name << "\"";
        ASSERT_EQ(pattern_match(p, n), want_checked)
            << "pattern \"" << pattern << "\" name \"" << name << "\"";
        ASSERT_EQ(compiled_match(p, n), want_checked)
            << "pattern \"" << pattern << "\" name \"" << name << "\"";
    }
    // A good share of the pairs had the star runs that lead to the table.
    EXPECT_GT(many_runs, static_cast<std::size_t>(rounds / 10));
}

// Longer names and patterns with several star runs, still small enough for
// the oracle, so that the table's rows are long.
TEST(Wildcat, RandomLongerAgainstPlainRecursion)
{
    static const char pattern_chars[] = {'*', '\x1A', '?', '!', '.', 'a',
                                         'b', 'A',    '[', ']', '-', '`'};
    static const char name_chars[] = {'.', 'a', 'b', 'A', 'B', 'c'};
    std::mt19937 rng(4242u);
    for (int i = 0; i < 20000; ++i) {
        std::string pattern;
        std::size_t plen = 6 + rng() % 10;
        int stars = 0;
        for (std::size_t k = 0; k < plen; ++k) {
            char ch = pattern_chars[rng() % sizeof pattern_chars];
            if (ch == '*' || ch == '\x1A') {
                if (stars == 3)
                    ch = 'b';
                else
                    ++stars;
            }
            pattern += ch;
        }
        std::string name;
        std::size_t nlen = 10 + rng() % 30;
        for (std::size_t k = 0; k < nlen; ++k) name += name_chars[rng() % sizeof name_chars];
        const char *p = pattern.c_str();
        const char *n = name.c_str();
        ASSERT_EQ(pattern_match_unchecked(p, n), oracle_unchecked(p, n))
            << "pattern \"" << pattern << "\" name \"" << name << "\"";
        ASSERT_EQ(pattern_match(p, n), oracle_match(p, n))
            << "pattern \"" << pattern << "\" name \"" << name << "\"";
        ASSERT_EQ(compiled_match(p, n), oracle_match(p, n))
            << "pattern \"" << pattern << "\" name \"" << name << "\"";
    }
}

// ---------------------------------------------------------------------------
// Patterns that cost the plain recursion exponential time.  Only the results
// are checked here; the benchmark shows the time.

TEST(Wildcat, ManyStarsAgainstLongName)
{
    const std::string a250(250, 'a');
    EXPECT_EQ(pattern_match("*a*a*a*a*a*a*a*a*a*a*b", a250.c_str()), 0);
    EXPECT_EQ(pattern_match_unchecked("*a*a*a*a*a*a*a*a*a*a*b", a250.c_str()), 0);
    EXPECT_EQ(pattern_match("*a*a*a*a*a*a*a*a*a*a*a", a250.c_str()), 1);
    EXPECT_EQ(pattern_match("*a*a*a*a*a*a*a*a*a*a*b", (a250 + "b").c_str()), 1);
    EXPECT_EQ(pattern_match("!*a*a*a*a*a*a*a*a*a*a*b", a250.c_str()), 1);
    EXPECT_EQ(pattern_match("\x1A"
                            "a\x1A"
                            "a\x1A"
                            "a\x1A"
                            "a\x1A"
                            "a\x1A"
                            "a\x1A"
                            "b",
                            a250.c_str()),
              0);
}

TEST(Wildcat, PathologicalThousandCharacterPatterns)
{
    const std::string a255(255, 'a');
    std::string star_a;  // *a*a...*a*b: 1,000 characters
    for (int i = 0; i < 499; ++i) star_a += "*a";
    star_a += "*b";
    ASSERT_EQ(star_a.size(), 1000u);
    EXPECT_EQ(pattern_match(star_a.c_str(), a255.c_str()), 0);

    // 127 runs of "*a" then "*b": needs 127 a's and a b.
    std::string fits;
    for (int i = 0; i < 127; ++i) fits += "*a";
    fits += "*b";
    EXPECT_EQ(pattern_match(fits.c_str(), (a255 + "b").c_str()), 1);
    EXPECT_EQ(pattern_match(fits.c_str(), a255.c_str()), 0);
    EXPECT_EQ(pattern_match(("!" + fits).c_str(), a255.c_str()), 1);

    // Stars and negations: *!*!*!...  Every "!" flips the rest; the rest
    // starting at a star always matches, so the result is fixed by parity.
    std::string negs;
    for (int i = 0; i < 333; ++i) negs += "*!";
    negs += "*x";  // 668 characters
    // After an odd number of '!' the final "*x" is negated; rest(*x) holds
    // where the name ends in x.  Compare with a small equivalent instead.
    EXPECT_EQ(pattern_match(negs.c_str(), a255.c_str()), oracle_match("*!*!*!*x", "aaaa"));
    EXPECT_EQ(pattern_match(negs.c_str(), (a255 + "x").c_str()), oracle_match("*!*!*!*x", "aaaax"));

    // Dot-bounded stars between dots.
    std::string dots;
    for (int i = 0; i < 333; ++i) dots += "\x1A.?";
    std::string name;
    for (int i = 0; i < 85; ++i) name += "ab.";
    EXPECT_EQ(pattern_match(dots.c_str(), name.c_str()), 0);  // needs 333 dots

    // 300 runs of "?*": 300 characters or more.
    std::string q;
    for (int i = 0; i < 300; ++i) q += "?*";
    EXPECT_EQ(pattern_match(q.c_str(), a255.c_str()), 0);
    std::string q255;
    for (int i = 0; i < 255; ++i) q255 += "?*";
    EXPECT_EQ(pattern_match(q255.c_str(), a255.c_str()), 1);
    EXPECT_EQ(pattern_match(q255.c_str(), a255.substr(1).c_str()), 0);
}

// Names too long for the table's smaller sizes.
TEST(Wildcat, NamesLongerThanTheTable)
{
    std::string longname(70000, 'x');
    longname += "abc.c";
    EXPECT_EQ(pattern_match_unchecked("*a*b*c*", longname.c_str()), 1);
    EXPECT_EQ(pattern_match_unchecked("*a*b*d*", longname.c_str()), 0);
    EXPECT_EQ(pattern_match_unchecked("*x*.c", longname.c_str()), 1);
    EXPECT_EQ(pattern_match_unchecked("\x1A"
                                      "a\x1A"
                                      ".c",
                                      longname.c_str()),
              1);
    EXPECT_EQ(pattern_match_unchecked("\x1A"
                                      "a\x1A"
                                      "\x1A",
                                      longname.c_str()),
              0);

    // Past 131,071 characters the name goes in stretches from its end; the
    // last one here starts at 8,929, so "ab" spans the seam.
    std::string seam = std::string(8928, 'x') + "ab" + std::string(131069, 'x') + "c";
    ASSERT_EQ(seam.size(), 140000u);
    EXPECT_EQ(pattern_match_unchecked("*ab*c*", seam.c_str()), 1);
    EXPECT_EQ(
        pattern_match_unchecked("*ab*c*", (seam.substr(0, 8929) + "x" + seam.substr(8930)).c_str()),
        0);

    // 132 star runs against a 1,000-character name: the table's middle size.
    std::string name1000(999, 'a');
    name1000 += "b";
    std::string many;
    for (int i = 0; i < 131; ++i) many += "*a";
    EXPECT_EQ(pattern_match((many + "*b").c_str(), name1000.c_str()), 1);
    EXPECT_EQ(pattern_match((many + "*c").c_str(), name1000.c_str()), 0);
    EXPECT_EQ(pattern_match(("!" + many + "*c").c_str(), name1000.c_str()), 1);
}

}  // namespace
