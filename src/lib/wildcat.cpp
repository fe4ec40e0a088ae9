// wildcat: wildcard patterns for single file names.
//
// One lexer, next_item, reads every pattern an item at a time (a character,
// '?', a star run, a set, '!', an item the end cuts off, the end) under the
// validator, the analysis and both ways of matching; read_set reads a set,
// against a name character only when matching asks.  The validator has the
// lexer read only the items the end of the pattern can cut off, and steps
// over the others a byte at a time (CUT_STARTS): it runs before every
// match of a pattern given as text.
//
// pattern_match_rest matches items from the left.  At a star run it reads
// the rest once (read_rest).  When at most one run there can backtrack (the
// last cannot when a fixed-length rest follows it) it tries each length of
// the run, each try reading the rest once.  Otherwise a table holds the
// result of every (item, name position) pair, a row of bits per item filled
// from the end of the pattern, so the work is the product of the two lengths
// whatever the stars.  Past 131,071 characters the longer of the two goes in
// stretches; both that long give no result (0).  '!' flips a flag the loop's
// result is XORed with; in the table it negates the row behind.
#include "wildcat.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

const char QUOTE = '`';  // 0x60, the grave accent
const char DOT_STAR = '\x1A';

// What a match gives when its pattern and its name are both too long for
// the table; every caller of the library sees 0, whatever '!' stands before.
const int TOO_LONG = -1;

inline int fold(char character)
{
    const int value = static_cast<signed char>(character);
    return (value >= 'A' && value <= 'Z') ? value + 0x20 : value;
}

// Reads the set that starts at p (just behind the '[') for the name
// character c.  Returns the position behind the closing ']', or null when
// the pattern ends inside the set; with ADMISSION, *admitted tells whether
// an item admits c (the NUL included: matching rejects it).
template <bool ADMISSION>
__attribute__((always_inline)) inline const char *read_set(const char *p, char c, bool *admitted)
{
    bool sense = true;
    if (*p == '!') {
        ++p;
        sense = false;
    }
    bool result = !sense;
    const int folded = fold(c);
    while (*p != ']' && *p != '\0') {
        if (*p == QUOTE) ++p;
        if (*p == '\0') break;
        const char low = *p++;
        char high = low;
        if (*p == '-') {  // the character behind is the upper end, even ']'
            ++p;
            if (*p == QUOTE) ++p;
            if (*p == '\0') break;
            high = *p++;
        }
        if (*p == '\0') break;
        if (ADMISSION && fold(low) <= folded && folded <= fold(high)) result = sense;
    }
    *admitted = result;
    return *p == '\0' ? nullptr : p + 1;
}

// Matching reads a set out of line, so that the loops around it keep their
// registers; the other passes read it in place, without the comparisons.
__attribute__((noinline)) const char *scan_set(const char *p, char c, bool *admitted)
{
    return read_set<true>(p, c, admitted);
}

enum Kind : unsigned char {
    END,
    LITERAL,   // one character equal to `character` after folding
    ANY_CHAR,  // '?'
    SET,
    STAR_RUN,
    NEGATION,  // a '!' with something behind it
    CUT_OFF,   // a '!', a quote or a set the end of the pattern cuts off: matches nothing
};

struct Item {
    const char *next;  // behind the item; behind a CUT_OFF only the end
    Kind kind;
    char character;  // LITERAL: the character, behind a quote the quoted one
    bool any;        // STAR_RUN: it holds a '*'
    bool admits;     // SET: it admits the name character given to next_item
};

// Whether a pass asks if a set admits a name character: matching does; the
// others need only where each item ends.
enum Reading { SHAPE, MATCH };

// The item at p.  Under MATCH a set is read against the name character c.
// Adjacent stars are one run: a '*' among them lets it take anything, 0x1A
// alone stops it before the first '.'.
__attribute__((always_inline)) inline Item next_item(const char *p, char c = '\0',
                                                     Reading reading = SHAPE)
{
    Item item{p + 1, LITERAL, *p, false, false};
    if (*p == '*' || *p == DOT_STAR) {
        item.kind = STAR_RUN;
        do item.any = item.any || *p == '*';
        while (*++p == '*' || *p == DOT_STAR);
        item.next = p;
    } else if (*p == '?') {
        item.kind = ANY_CHAR;
    } else if (*p == '!') {
        item.kind = p[1] == '\0' ? CUT_OFF : NEGATION;
    } else if (*p == QUOTE) {
        if (p[1] == '\0') {
            item.kind = CUT_OFF;
        } else {
            item.character = p[1];
            item.next = p + 2;
        }
    } else if (*p == '[') {
        bool admits;  // apart from the item, so that the item can stay in registers
        item.kind = SET;
        item.next = reading == MATCH ? scan_set(p + 1, c, &admits) : read_set<false>(p + 1, c, &admits);
        item.admits = admits;
        if (item.next == nullptr) {
            item.kind = CUT_OFF;
            item.next = p + std::strlen(p);
        }
    } else if (*p == '\0') {
        item.kind = END;
        item.next = p;
    }
    return item;
}

// The bytes at which the lexer can find a pattern ill-formed: the end, and
// the items the end can cut off ('!', the quote, a set).  Every other item
// is well-formed whatever it is, and validation steps over its first byte
// without reading it: the items it can skip are those whose reading could
// only say "well-formed".
struct CutStarts {
    bool possible[256];
};

constexpr CutStarts make_cut_starts()
{
    CutStarts starts{};
    starts.possible[0] = true;
    starts.possible[static_cast<unsigned char>('!')] = true;
    starts.possible[static_cast<unsigned char>(QUOTE)] = true;
    starts.possible[static_cast<unsigned char>('[')] = true;
    return starts;
}

constexpr CutStarts CUT_STARTS = make_cut_starts();

// What the pattern behind a star run asks of the name.
struct Rest {
    std::size_t least;  // characters it consumes before its first '!', at least
    bool fixed;         // only items of one character: it consumes exactly `least`
    bool backtracks;    // it holds a star run that can backtrack
};

__attribute__((always_inline)) inline Rest read_rest(const char *p)
{
    Rest shape{0, false, false};
    std::size_t runs = 0;
    bool tail_fixed = true;  // nothing since the last run keeps it from a fixed length
    bool negated = false;
    while (*p != '\0') {
        const Item item = next_item(p);
        p = item.next;
        if (item.kind == STAR_RUN) {
            ++runs;
            tail_fixed = true;
        } else if (item.kind == NEGATION || item.kind == CUT_OFF) {
            tail_fixed = false;
            negated = true;
        } else if (!negated) {
            ++shape.least;
        }
    }
    shape.fixed = runs == 0 && tail_fixed;
    shape.backtracks = runs > 1 || (runs == 1 && !tail_fixed);
    return shape;
}

inline bool get_bit(const std::uint64_t *bits, std::size_t i)
{
    return (bits[i >> 6] >> (i & 63)) & 1u;
}

inline void put_bit(std::uint64_t *bits, std::size_t i, bool value)
{
    const std::uint64_t mask = std::uint64_t{1} << (i & 63);
    bits[i >> 6] = value ? bits[i >> 6] | mask : bits[i >> 6] & ~mask;
}

// Marks where each item of the pattern that starts in [low, high) starts
// (bit i - low).  Items are found by stepping from the pattern's start, so
// a stretch far into a long pattern costs a scan of all before it.
void mark_items(const char *pattern, std::size_t low, std::size_t high, std::uint64_t *starts)
{
    std::memset(starts, 0, (high - low + 63) / 64 * sizeof starts[0]);
    for (const char *p = pattern; *p != '\0'; p = next_item(p).next) {
        const std::size_t at = static_cast<std::size_t>(p - pattern);
        if (at >= high) break;
        if (at >= low) put_bit(starts, at - low, true);
    }
}

// The table over a stretch of the name: bit n of an item's row tells whether
// the pattern from that item matches the name from the stretch's position n.
// A row has `count` bits, the bits above kept clear.  What lies past the
// stretch comes in as one bit per row, its value at position `count`.
struct Table {
    const char *pattern;  // from the star run the table starts at
    const char *name;     // the stretch's first character
    std::size_t words;
    std::size_t count;
    std::uint64_t *behind;  // the row of the item behind
    std::uint64_t *row;     // the row being filled
    bool behind_edge;       // behind's value past the stretch
    std::uint64_t *edges;   // null, or per item its value past the stretch, then at its start
};

void clear_above(const Table &t, std::uint64_t *row)
{
    const std::size_t used = t.count & 63;
    if (used != 0) row[t.words - 1] &= (std::uint64_t{1} << used) - 1;
}

// A run with a '*': every position up to the last one the rest matches from.
void any_run_row(const Table &t, bool own_edge)
{
    std::size_t w = t.words;
    if (!own_edge) {
        while (w > 0 && t.behind[w - 1] == 0) t.row[--w] = 0;
        if (w == 0) return;
        --w;
        t.row[w] = ~std::uint64_t{0} >> __builtin_clzll(t.behind[w]);
    }
    while (w > 0) t.row[--w] = ~std::uint64_t{0};
    clear_above(t, t.row);
}

// A run of 0x1A alone: a position the rest matches from, or one free of '.'
// in front of a position the run matches from.
void dot_run_row(const Table &t, bool own_edge)
{
    std::memset(t.row, 0, t.words * sizeof t.row[0]);
    bool matches = own_edge;
    for (std::size_t n = t.count; n-- > 0;) {
        matches = get_bit(t.behind, n) || (matches && t.name[n] != '.');
        if (matches) put_bit(t.row, n, true);
    }
}

// '!': the opposite of the rest.
void negation_row(const Table &t)
{
    // A local: as far as the compiler knows, writing a row might change t.words.
    const std::size_t words = t.words;
    for (std::size_t w = 0; w < words; ++w) t.row[w] = ~t.behind[w];
    clear_above(t, t.row);
}

// An item that consumes one character (`at` in the pattern): the row behind
// shifted down by one, kept where the item admits the character.  Only the
// set bits are examined, so the work follows the positions still alive.
// The end of the name admits nothing: no row has a bit set behind it.
void character_row(const Table &t, const char *at, const Item &item)
{
    const std::size_t words = t.words;  // a local, as in negation_row
    for (std::size_t w = 0; w < words; ++w) {
        const std::uint64_t above = w + 1 < words ? t.behind[w + 1] << 63 : 0;
        t.row[w] = (t.behind[w] >> 1) | above;
    }
    put_bit(t.row, t.count - 1, t.behind_edge);
    if (item.kind == ANY_CHAR) return;
    const int folded = fold(item.character);
    for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t alive = t.row[w]; alive != 0;) {
            const int bit = __builtin_ctzll(alive);
            const std::uint64_t lowest = std::uint64_t{1} << bit;
            alive ^= lowest;
            const char c = t.name[w * 64 + static_cast<std::size_t>(bit)];
            const bool admitted = item.kind == SET ? next_item(at, c, MATCH).admits : fold(c) == folded;
            if (!admitted) t.row[w] ^= lowest;
        }
    }
}

// The rows of the items that `starts` marks in [low, high), from the last to
// the first, each from the row behind it alone.  It works on a copy of the
// table, which stays in registers, and gives back where it stands.
void fill_rows(Table *table, const std::uint64_t *starts, std::size_t low, std::size_t high)
{
    Table t = *table;
    for (std::size_t i = high; i-- > low;) {
        if (!get_bit(starts, i - low)) continue;
        const char *at = t.pattern + i;
        const Item item = next_item(at);
        const bool own_edge = t.edges != nullptr && get_bit(t.edges, i);
        if (item.kind == STAR_RUN && item.any)
            any_run_row(t, own_edge);
        else if (item.kind == STAR_RUN)
            dot_run_row(t, own_edge);
        else if (item.kind == NEGATION)
            negation_row(t);
        else if (item.kind == CUT_OFF)
            std::memset(t.row, 0, t.words * sizeof t.row[0]);
        else
            character_row(t, at, item);
        if (t.edges != nullptr) put_bit(t.edges, i, get_bit(t.row, 0));
        std::uint64_t *filled = t.row;
        t.row = t.behind;
        t.behind = filled;
        t.behind_edge = own_edge;
    }
    *table = t;
}

// The longest pattern rest or name the table takes whole; past it, the
// other one is taken in stretches of this length.
const std::size_t TABLE_MAX = 131071;

// The table for a pattern and a name of which at least one has fewer than
// WORDS * 64 characters: the name in stretches from its end, the pattern in
// stretches from its end within each, one of the two a single stretch.
// Across name stretches `edges` carries each item's value from one to the
// next; only the largest frame holds them.  Both longer: TOO_LONG.
template <std::size_t WORDS>
int match_table(const char *pattern, std::size_t length, const char *name, std::size_t name_length)
{
    const std::size_t capacity = WORDS * 64;
    const bool name_fits = name_length < capacity;
    if (!name_fits && (length >= capacity || capacity <= TABLE_MAX)) return TOO_LONG;
    std::uint64_t starts[WORDS];
    std::uint64_t row_a[WORDS];
    std::uint64_t row_b[WORDS];
    std::uint64_t edges[capacity > TABLE_MAX ? WORDS : 1];
    Table t{pattern, name, 0, 0, row_a, row_b, false, name_fits ? nullptr : edges};
    if (!name_fits) std::memset(edges, 0, sizeof edges);
    for (std::size_t stop = name_length + 1; stop > 0;) {
        const std::size_t first = stop > capacity ? stop - capacity : 0;
        t.name = name + first;
        t.count = stop - first;
        t.words = (t.count + 63) / 64;
        std::memset(t.behind, 0, t.words * sizeof t.behind[0]);
        // The end of the pattern matches the end of the name alone.
        if (stop == name_length + 1) put_bit(t.behind, name_length - first, true);
        t.behind_edge = stop == name_length;
        for (std::size_t high = length; high > 0;) {
            const std::size_t low = high > capacity ? high - capacity : 0;
            mark_items(pattern, low, high, starts);
            fill_rows(&t, starts, low, high);
            high = low;
        }
        stop = first;
    }
    return get_bit(t.behind, 0);
}

// The table in a frame no larger than the pattern and the name need.
__attribute__((noinline)) int match_by_table(const char *pattern, std::size_t length,
                                             const char *name, std::size_t name_length)
{
    const std::size_t longer = length > name_length ? length : name_length;
    if (longer < 256) return match_table<4>(pattern, length, name, name_length);
    if (longer < 4096) return match_table<64>(pattern, length, name, name_length);
    return match_table<(TABLE_MAX + 1) / 64>(pattern, length, name, name_length);
}

int pattern_match_rest(const char *p, const char *n, const Rest *first = nullptr);

// The star run `run` that starts at `at`, followed by the rest of the
// pattern, against the name from n.  `known`, when given, is read_rest of
// that rest.
__attribute__((noinline)) int match_run(const char *at, const Item &run, const char *n,
                                        const Rest *known)
{
    const char *rest = run.next;
    const std::size_t left = std::strlen(n);
    std::size_t limit = left;  // the longest the run can be
    if (!run.any) {
        const void *dot = std::memchr(n, '.', left);
        if (dot != nullptr) limit = static_cast<std::size_t>(static_cast<const char *>(dot) - n);
    }
    const Rest shape = known != nullptr ? *known : read_rest(rest);
    // Before its first '!' the rest cannot take fewer characters.
    if (shape.least > left) return 0;
    if (shape.backtracks) return match_by_table(at, std::strlen(at), n, left);
    if (shape.fixed) {
        if (left - shape.least > limit) return 0;
        return pattern_match_rest(rest, n + left - shape.least);
    }
    // At most one run follows, and it cannot backtrack: each length of this
    // one, most first.  A literal behind the run must meet its own character.
    const Item lead = next_item(rest);
    const int folded = fold(lead.character);
    for (std::size_t k = limit + 1; k-- > 0;) {
        if (lead.kind == LITERAL && fold(n[k]) != folded) continue;
        if (pattern_match_rest(rest, n + k)) return 1;
    }
    return 0;
}

// 1 when the name from n matches the pattern from p, 0 when not, TOO_LONG
// when the table cannot tell.  `first`, when given, is read_rest of what
// follows the first star run the match meets.
int pattern_match_rest(const char *p, const char *n, const Rest *first)
{
    int negated = 0;  // an odd number of '!' met so far
    for (;;) {
        const Item item = next_item(p, *n, MATCH);
        switch (item.kind) {
        case END: return (*n == '\0') ^ negated;
        case LITERAL:  // no character but the NUL folds to 0
            if (fold(*n) != fold(item.character)) return negated;
            break;
        case ANY_CHAR:
            if (*n == '\0') return negated;
            break;
        case SET:
            if (!item.admits || *n == '\0') return negated;
            break;
        case NEGATION:
            negated ^= 1;
            p = item.next;
            continue;
        case CUT_OFF: return negated;
        case STAR_RUN: {
            if (item.any && *item.next == '\0') return 1 ^ negated;  // it takes all the rest
            const int result = match_run(p, item, n, first);
            return result == TOO_LONG ? result : result ^ negated;
        }
        }
        p = item.next;
        ++n;
    }
}

// The bits of pattern_compiled's private_flags.  What follows the first
// star run the match meets is read once: private_count holds its `least`,
// two of these bits its `fixed` and `backtracks`.
const unsigned LITERAL_ONLY = 1;  // nothing but characters that stand for themselves
const unsigned REST_FIXED = 2;
const unsigned REST_BACKTRACKS = 4;

// pattern_match behind the validation: the empty name matches only the
// empty pattern, though the core would let * match it.
int match_valid(const char *pattern, const char *name, const Rest *first)
{
    if (*name == '\0') return *pattern == '\0';
    return pattern_match_rest(pattern, name, first) == 1;
}



}  // namespace

extern "C" {

int pattern_is_valid(const char *pattern)
{
    if (pattern == nullptr) return 0;
    for (const char *p = pattern;;) {
        // A run of items that cannot be ill-formed, in a loop of its own.
        if (!CUT_STARTS.possible[static_cast<unsigned char>(*p)]) {
            do ++p;
            while (!CUT_STARTS.possible[static_cast<unsigned char>(*p)]);
        }
        if (*p == '\0') return 1;
        const Item item = next_item(p);
        if (item.kind == CUT_OFF) return 0;
        // The character behind a '!' is not examined: ![abc is well-formed.
        p = item.kind == NEGATION ? item.next + 1 : item.next;
    }
}

int pattern_match(const char *pattern, const char *name)
{
    if (name == nullptr || !pattern_is_valid(pattern)) return 0;
    return match_valid(pattern, name, nullptr);
}

int pattern_match_unchecked(const char *pattern, const char *name)
{
    if (name == nullptr || pattern == nullptr) return 0;
    return pattern_match_rest(pattern, name) == 1;
}

int pattern_compile(const char *pattern, pattern_compiled *compiled)
{
    if (compiled == nullptr) return 0;
    *compiled = pattern_compiled{nullptr, 0, 0};
    if (!pattern_is_valid(pattern)) return 0;
    unsigned flags = LITERAL_ONLY;
    const char *p = pattern;
    Item item = next_item(p);
    for (; item.kind != END && item.kind != STAR_RUN; p = item.next, item = next_item(p))
        if (item.kind != LITERAL || item.next != p + 1) flags = 0;
    if (item.kind == STAR_RUN) {
        const Rest rest = read_rest(item.next);
        compiled->private_count = rest.least;
        flags = (rest.fixed ? REST_FIXED : 0) | (rest.backtracks ? REST_BACKTRACKS : 0);
    }
    compiled->private_pattern = pattern;
    compiled->private_flags = static_cast<unsigned char>(flags);
    return 1;
}

int pattern_match_compiled(const pattern_compiled *compiled, const char *name)
{
    if (compiled == nullptr || name == nullptr) return 0;
    const char *pattern = compiled->private_pattern;
    const unsigned flags = compiled->private_flags;
    if (flags & LITERAL_ONLY) {  // a name given in full, as most patterns without wildcards are
        for (; *pattern != '\0'; ++pattern, ++name)
            if (fold(*pattern) != fold(*name)) return 0;
        return *name == '\0';
    }
    if (pattern == nullptr) return 0;  // ill-formed
    const Rest first{compiled->private_count, (flags & REST_FIXED) != 0,
                     (flags & REST_BACKTRACKS) != 0};
    return match_valid(pattern, name, &first);
}

}  // extern "C"
