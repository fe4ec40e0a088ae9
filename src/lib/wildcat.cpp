// wildcat: wildcard patterns for single file names.
//
// One recursive core, pattern_match_rest, is the plain matching algorithm.  The
// refinements below keep it cheap and change no result:
//
// - '!' is a tail call with a negation, so the core loops on with a flag
//   instead of recursing; only the star wildcards ('*' and 0x1A) recurse.
// - A run of adjacent star wildcards acts as one: it takes any run of the
//   name when it holds a '*', and a run free of '.' when it is 0x1A only.
// - When the rest of the pattern behind a star run has a fixed length (no
//   star, no '!'), only one length of the run can work, and only it is tried.
// - When the core meets the first star run and another one follows, the
//   rest of the match (that run against the rest of the name) goes to a
//   memo on the stack: one bit per (star run, name position), the value of
//   the core at that run and position.  This is a pure function of the two
//   positions, because a '!' before the run negates the caller's result, not
//   the memoised one.  The columns are filled from the last run backwards,
//   so filling one only looks up later ones and the recursion stays two
//   levels deep.  A pattern with fewer runs never sees the table, and no
//   pattern is scanned ahead before its first star run.
// - A pattern with more star runs than the memo holds for the name is
//   matched by a table of one bit per (pattern position, name position),
//   filled one name position at a time, so matching never grows faster
//   than the product of the two lengths.
#include "wildcat.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

const char QUOTE = '`';  // 0x60, the grave accent
const char DOTSTAR = '\x1A';

// The memo: MEMO_WORDS * 64 bits (16 KiB) for at most MEMO_RUNS star runs.
// A 1,000-character pattern has at most 500 separate star runs, and 500 runs
// over a 259-character name need 500 * 260 bits, which fits.  A pattern
// with more runs than fit goes to the column table of match_by_columns.
const std::size_t MEMO_WORDS = 2048;
// A test build sets a smaller limit to send every many-star match to the
// columns of match_by_columns.
#ifdef WILDCAT_MEMO_RUNS
const std::size_t MEMO_RUNS = WILDCAT_MEMO_RUNS;
#else
const std::size_t MEMO_RUNS = 512;
#endif

// One star run of the pattern, as the memo needs it.
struct Run {
    const char *after;  // the pattern behind the run
    std::size_t pre;    // characters the pattern consumes before the run
    std::size_t post;   // characters it consumes behind it, before any '!'
    bool any;           // the run holds a '*' (else only 0x1A)
};

struct Memo {
    std::uint64_t *bits;  // run r, position j: bit r * (len + 1) + j
    const Run *run;
    std::size_t runs;    // runs with a column
    std::size_t filled;  // the columns of runs filled .. runs - 1 are done
};

// What the core needs beyond the two positions.
struct Context {
    const char *name;
    std::size_t len;  // strlen(name); set only when memo is non-null
    Memo *memo;       // null: plain recursion
};

inline int fold(char ch)
{
    int v = static_cast<signed char>(ch);
    return (v >= 'A' && v <= 'Z') ? v + 0x20 : v;
}

inline bool is_star(char ch) { return ch == '*' || ch == DOTSTAR; }

// Scans the set that starts at p (just behind the '[') as the matching
// algorithm does at a '[', for the name character c.  Returns the position behind the
// closing ']', or null when the set is not closed; *admitted tells whether
// an item admits c (the NUL included: the caller rejects it).
const char *scan_set(const char *p, char c, int *admitted)
{
    int sense = 1;
    if (*p == '!') {
        ++p;
        sense = 0;
    }
    int adm = !sense;
    const int fc = fold(c);
    while (*p != ']' && *p != '\0') {
        if (*p == QUOTE) ++p;
        if (*p == '\0') break;
        char lo = *p++;
        char hi = lo;
        if (*p == '-') {
            ++p;
            if (*p == QUOTE) ++p;
            if (*p == '\0') break;
            hi = *p++;
        }
        if (*p == '\0') break;
        if (fold(lo) <= fc && fc <= fold(hi)) adm = sense;
    }
    *admitted = adm;
    return *p == '\0' ? nullptr : p + 1;
}

// Steps over the item at p that consumes one name character ('?', a literal,
// a quoted character or a set).  Returns null when it is cut off by the end
// of the pattern, where the core fails.
const char *skip_item(const char *p)
{
    char x = *p++;
    if (x == QUOTE) return *p == '\0' ? nullptr : p + 1;
    if (x == '[') {
        int unused;
        return scan_set(p, 'a', &unused);
    }
    return p;
}

// When the rest of the pattern at p has no star, no '!' and no ill-formed
// part, it consumes exactly *count characters of the name: returns 1 and
// sets *count.  Otherwise returns 0.
int fixed_length(const char *p, std::size_t *count)
{
    std::size_t n = 0;
    while (*p != '\0') {
        if (is_star(*p) || *p == '!') return 0;
        p = skip_item(p);
        if (p == nullptr) return 0;
        ++n;
    }
    *count = n;
    return 1;
}

// Counts the star runs the core can meet, up to `limit`, stopping at the
// first ill-formed part (where every match fails).  When `out` is non-null
// it records them.  The core reads the pattern in the same steps, so the
// run numbered k here is the one the core numbers k.  Every path of the
// core reaches run k at a name position of at least out[k].pre; from a
// position with fewer than out[k].post characters left it fails before
// any '!' could turn the failure round.
std::size_t find_star_runs(const char *p, std::size_t limit, Run *out)
{
    std::size_t runs = 0;
    std::size_t open = 0;  // runs from here on have no '!' behind them yet
    std::size_t pre = 0;
    while (*p != '\0' && runs < limit) {
        if (is_star(*p)) {
            bool any = false;
            while (is_star(*p)) {
                if (*p++ == '*') any = true;
            }
            if (out != nullptr) out[runs] = Run{p, pre, 0, any};
            ++runs;
        } else if (*p == '!') {
            if (out != nullptr) {
                for (; open < runs; ++open) out[open].post = pre - out[open].pre;
            }
            open = runs;
            if (*++p == '\0') break;
        } else {
            p = skip_item(p);
            if (p == nullptr) break;
            ++pre;
        }
    }
    if (out != nullptr) {
        for (; open < runs; ++open) out[open].post = pre - out[open].pre;
    }
    return runs;
}

// True when the pattern at p has a star run that is not a trailing '*'
// run.  A trailing run holding a '*' matches every rest of the name at
// once, so it costs no backtracking and needs no memo.
bool needs_memo(const char *p)
{
    while (*p != '\0') {
        if (is_star(*p)) {
            bool any = false;
            while (is_star(*p)) {
                if (*p++ == '*') any = true;
            }
            return *p != '\0' || !any;
        }
        if (*p == '!') {
            if (*++p == '\0') return false;
        } else {
            p = skip_item(p);
            if (p == nullptr) return false;
        }
    }
    return false;
}

inline bool get_bit(const std::uint64_t *bits, std::size_t i)
{
    return (bits[i >> 6] >> (i & 63)) & 1u;
}

inline void put_bit(std::uint64_t *bits, std::size_t i, bool v)
{
    const std::uint64_t mask = std::uint64_t{1} << (i & 63);
    if (v)
        bits[i >> 6] |= mask;
    else
        bits[i >> 6] &= ~mask;
}

int pattern_match_rest(const Context &cx, const char *p, std::size_t n, std::size_t run);
int match_many_stars(const char *pattern, const char *name);

// The plain recursion for the star run at `start`, followed by the pattern
// at q, at name position n: the run takes all it can, then one character
// fewer, ... none.  Returns the result XOR neg (the core tail-calls it).
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int plain_star_run(const Context &cx, const char *start, const char *q, std::size_t n, std::size_t run, bool any,
                   int neg)
{
    const char *rest = cx.name + n;
    std::size_t left = std::strlen(rest);
    std::size_t limit = left;
    if (!any) {
        const void *dot = std::memchr(rest, '.', left);
        if (dot != nullptr) limit = static_cast<std::size_t>(static_cast<const char *>(dot) - rest);
    }
    std::size_t need;
    if (fixed_length(q, &need)) {
        if (need > left || left - need > limit) return neg;
        return pattern_match_rest(cx, q, n + left - need, run + 1) ^ neg;
    }
    // The first star run of a match without a memo, and another follows:
    // the rest of this match goes to the memo.  (With a memo, this is a run
    // beyond its table, and the plain recursion goes on.)
    if (cx.memo == nullptr && needs_memo(q)) return match_many_stars(start, rest) ^ neg;
    for (std::size_t k = limit + 1; k-- > 0;) {
        if (pattern_match_rest(cx, q, n + k, run + 1)) return 1 ^ neg;
    }
    return neg;
}

// Fills the column of star run r: M(j) = rest(after, j), or the run can take
// name[j] and M(j + 1).  Only the positions from `pre` to len - `post` are
// filled; the others are never looked up.  Every run the core meets behind run r has a higher number
// and its column is done already.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void fill_column(const Context &cx, std::size_t r)
{
    const Run &ru = cx.memo->run[r];
    std::uint64_t *bits = cx.memo->bits;
    const std::size_t base = r * (cx.len + 1);
    // A literal behind the run must meet its own character first.
    const char first = ru.after[0];
    const bool literal = first != '\0' && first != '?' && first != '!' && first != QUOTE &&
                         first != '[' && !is_star(first);
    const int lead = fold(first);
    // Negations straight before the next run: rest(after, j) is that run's
    // own column at j, negated once per '!'.
    const char *next = ru.after;
    int flip = 0;
    while (next[0] == '!' && next[1] != '\0') {
        ++next;
        flip ^= 1;
    }
    const bool chained = is_star(*next) && r + 1 < cx.memo->runs;
    const Run &rn = cx.memo->run[chained ? r + 1 : r];
    const std::size_t next_base = (r + 1) * (cx.len + 1);
    bool m = false;
    const std::size_t top = ru.post > cx.len ? 0 : cx.len - ru.post + 1;
    for (std::size_t j = top; j-- > ru.pre;) {
        if (!(m && (ru.any || cx.name[j] != '.'))) {
            if (chained)  // (j >= rn.pre: a '!' consumes nothing)
                m = flip ^ (rn.post <= cx.len - j && get_bit(bits, next_base + j));
            else
                m = (!literal || fold(cx.name[j]) == lead) && pattern_match_rest(cx, ru.after, j, r + 1);
        }
        put_bit(bits, base + j, m);
    }
}

// A star run met by the core at `start`, numbered `run`, followed by the
// pattern at q, at name position n.  Returns the result XOR neg.
int match_star_run(const Context &cx, const char *start, const char *q, std::size_t n, std::size_t run, bool any,
                   int neg)
{
    Memo *memo = cx.memo;
    // (n < pre cannot happen; the plain recursion would be right there too.)
    if (memo == nullptr || run >= memo->runs || n < memo->run[run].pre)
        return plain_star_run(cx, start, q, n, run, any, neg);
    if (memo->run[run].post > cx.len - n) return neg;
    while (memo->filled > run) fill_column(cx, --memo->filled);
    return get_bit(memo->bits, run * (cx.len + 1) + n) ^ neg;
}

// The core: 1 when the name from position n matches the pattern from p.
// `run` is the number of star runs in the pattern before p.
int pattern_match_rest(const Context &cx, const char *p, std::size_t n, std::size_t run)
{
    const char *name = cx.name;
    int neg = 0;  // 1 after an odd number of '!' met at this level
    for (;;) {
        char x = *p;
        char c = name[n];
        if (x == '\0') return (c == '\0') ^ neg;
        ++p;
        switch (x) {
        case '?':
            if (c == '\0') return neg;
            ++n;
            break;
        case '*':
        case DOTSTAR: {
            const char *start = p - 1;
            bool any = x == '*';
            while (is_star(*p)) {
                if (*p++ == '*') any = true;
            }
            if (any && *p == '\0') return 1 ^ neg;  // takes all the rest
            return match_star_run(cx, start, p, n, run, any, neg);
        }
        case '!':
            if (*p == '\0') return neg;
            neg ^= 1;  // the rest, matched at this level, is negated
            break;
        case QUOTE:
            if (*p == '\0') return neg;
            if (fold(c) != fold(*p)) return neg;
            ++p;
            ++n;
            break;
        case '[': {
            int admitted;
            p = scan_set(p, c, &admitted);
            if (!admitted || p == nullptr || c == '\0') return neg;
            ++n;
            break;
        }
        default:
            if (fold(c) != fold(x)) return neg;
            ++n;
            break;
        }
    }
}

// The memoised match of a pattern that starts with a star run and has
// another one: the core's first star run hands the rest of its match here.
// Kept out of line so that the plain path never reserves the table.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int match_memoised(const char *pattern, const char *name)
{
    Context cx{name, std::strlen(name), nullptr};
    std::uint64_t bits[MEMO_WORDS];
    Run run[MEMO_RUNS];
    // As many columns as fit; a name too long for one column gets none.
    std::size_t fit = MEMO_WORDS * 64 / (cx.len + 1);
    if (fit > MEMO_RUNS) fit = MEMO_RUNS;
    std::size_t runs = find_star_runs(pattern, fit, run);
    Memo memo{bits, run, runs, runs};
    cx.memo = &memo;
    return pattern_match_rest(cx, pattern, 0, 0);
}

// The longest pattern the table of match_by_columns takes: more than any
// single command-line argument can hold on either platform.
const std::size_t COLUMN_MAX = 131072;
const std::size_t COLUMN_WORDS = (COLUMN_MAX + 1) / 64 + 1;

// The token that starts at p: the position behind it, or null when it is
// cut off by the end of the pattern (a quote or a set), where the core fails.
const char *token_end(const char *p)
{
    if (*p == '?' || *p == '!' || is_star(*p)) return p + 1;
    return skip_item(p);
}

// For a pattern with more star runs than the memo holds: the core's value
// for every (pattern token, name position), computed a name position at a
// time from the end, so two columns of one bit per pattern position do.
// cur holds the column at n, next the one at n + 1.  Time grows with the
// product of the two lengths, memory with the pattern's alone.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int match_by_columns(const char *pattern, std::size_t pattern_len, const char *name)
{
    std::uint64_t starts[COLUMN_WORDS] = {};
    std::uint64_t column_a[COLUMN_WORDS];
    std::uint64_t column_b[COLUMN_WORDS];
    // Token starts; the scan stops at a token that is cut off (it fails).
    std::size_t cut = pattern_len + 1;  // the position of that token, if any
    for (const char *p = pattern; *p != '\0';) {
        put_bit(starts, static_cast<std::size_t>(p - pattern), true);
        const char *end = token_end(p);
        if (end == nullptr) {
            cut = static_cast<std::size_t>(p - pattern);
            break;
        }
        p = end;
    }
    put_bit(starts, pattern_len, true);

    const std::size_t name_len = std::strlen(name);
    std::uint64_t *cur = column_a, *next = column_b;
    for (std::size_t n = name_len + 1; n-- > 0;) {
        const char c = name[n];
        const bool more = n < name_len;
        std::size_t after = pattern_len;  // the token behind the current one
        put_bit(cur, pattern_len, !more);
        for (std::size_t i = pattern_len; i-- > 0;) {
            if (!get_bit(starts, i)) continue;
            const char *p = pattern + i;
            bool value;
            if (i == cut) {
                value = false;
            } else if (*p == '*') {
                value = get_bit(cur, after) || (more && get_bit(next, i));
            } else if (*p == DOTSTAR) {
                value = get_bit(cur, after) || (more && c != '.' && get_bit(next, i));
            } else if (*p == '!') {
                value = after != pattern_len && !get_bit(cur, after);
            } else if (!more) {
                value = false;
            } else if (*p == '?') {
                value = get_bit(next, after);
            } else if (*p == QUOTE) {
                value = fold(c) == fold(p[1]) && get_bit(next, after);
            } else if (*p == '[') {
                int admitted;
                scan_set(p + 1, c, &admitted);
                value = admitted && get_bit(next, after);
            } else {
                value = fold(c) == fold(*p) && get_bit(next, after);
            }
            put_bit(cur, i, value);
            after = i;
        }
        std::uint64_t *done = cur;
        cur = next;
        next = done;
    }
    return get_bit(next, 0);
}

// A pattern that starts with a star run and has another one: the memo when
// all its runs fit, else the columns (or, for a pattern longer than any
// argument can be, the memo as far as it reaches).
int match_many_stars(const char *pattern, const char *name)
{
    const std::size_t name_len = std::strlen(name);
    std::size_t fit = MEMO_WORDS * 64 / (name_len + 1);
    if (fit > MEMO_RUNS) fit = MEMO_RUNS;
    if (find_star_runs(pattern, fit + 1, nullptr) <= fit) return match_memoised(pattern, name);
    const std::size_t pattern_len = std::strlen(pattern);
    if (pattern_len <= COLUMN_MAX) return match_by_columns(pattern, pattern_len, name);
    return match_memoised(pattern, name);
}

int match(const char *pattern, const char *name)
{
    Context cx{name, 0, nullptr};
    return pattern_match_rest(cx, pattern, 0, 0);
}

}  // namespace

int pattern_is_valid(const char *pattern)
{
    if (pattern == nullptr) return 0;
    const char *p = pattern;
    while (*p != '\0') {
        char x = *p;
        if (x == '!' || x == QUOTE) {
            if (p[1] == '\0') return 0;
            p += 2;  // the character behind is not examined
        } else if (x == '[') {
            ++p;
            if (*p == '!') ++p;
            while (*p != ']') {
                if (*p == QUOTE) ++p;
                if (*p == '\0') return 0;
                ++p;  // the item's character
                if (*p == '-') {
                    ++p;
                    if (*p == QUOTE) ++p;
                    if (*p == '\0') return 0;
                    ++p;  // the upper end, which may be ']'
                }
                if (*p == '\0') return 0;
            }
            ++p;
        } else {
            ++p;
        }
    }
    return 1;
}

int pattern_match(const char *pattern, const char *name)
{
    if (name == nullptr || pattern == nullptr) return 0;
    if (!pattern_is_valid(pattern)) return 0;
    if (*name == '\0') return *pattern == '\0' ? 1 : 0;
    return match(pattern, name);
}

int pattern_match_unchecked(const char *pattern, const char *name)
{
    if (name == nullptr || pattern == nullptr) return 0;
    return match(pattern, name);
}
