// wildcat: wildcard patterns for single file names.
//
// The name is matched from the left, one pattern item at a time, up to the
// first star run (adjacent '*' and 0x1A act as one run).  There the rest of
// the pattern is scanned once, and the match goes one of two ways:
//
// - The plain loop, when at most one star run can backtrack.  The last run
//   cannot when the rest behind it has a fixed length, since only one length
//   of the run can work.  The loop tries each length of the backtracking
//   run, and each try reads the rest once.
// - Otherwise the table: the result of every (pattern position, name
//   position) pair, filled an item at a time from the end of the pattern,
//   so two rows of one bit per name position suffice and the work is the
//   product of the two lengths, whatever the stars.  Past 131,071
//   characters the longer of the two is taken in stretches, so the frame
//   stays fixed; when both are that long there is no result (0).
//
// '!' negates the rest of the pattern: a flag the loop's result is XORed
// with, and in the table the negation of the entry behind it.
#include "wildcat.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// What a match returns when its pattern and its name are both too long for
// the table; every caller of the library sees 0, whatever '!' stands before.
const int TOO_LONG = -1;

const char QUOTE = '`';  // 0x60, the grave accent
const char DOTSTAR = '\x1A';

inline int fold(char character)
{
    int value = static_cast<signed char>(character);
    return (value >= 'A' && value <= 'Z') ? value + 0x20 : value;
}

inline bool is_star(char character)
{
    return character == '*' || character == DOTSTAR;
}

// An item that stands for exactly its own character.
inline bool is_literal(char character)
{
    return character != '\0' && character != '?' && character != '!' && character != QUOTE &&
           character != '[' && !is_star(character);
}

// Scans the set that starts at p (just behind the '[') for the name
// character c.  Returns the position behind the closing ']', or null when
// the set is not closed; *admitted tells whether an item admits c (the NUL
// included: the caller rejects it).
const char *scan_set(const char *p, char c, int *admitted)
{
    int sense = 1;
    if (*p == '!') {
        ++p;
        sense = 0;
    }
    int result = !sense;
    const int folded = fold(c);
    while (*p != ']' && *p != '\0') {
        if (*p == QUOTE) ++p;
        if (*p == '\0') break;
        char low = *p++;
        char high = low;
        if (*p == '-') {
            ++p;
            if (*p == QUOTE) ++p;
            if (*p == '\0') break;
            high = *p++;
        }
        if (*p == '\0') break;
        if (fold(low) <= folded && folded <= fold(high)) result = sense;
    }
    *admitted = result;
    return *p == '\0' ? nullptr : p + 1;
}

// Steps over the item at p that consumes one name character ('?', a literal,
// a quoted character or a set).  Returns null when the end of the pattern
// cuts it off; no match gets past that point.
const char *skip_item(const char *p)
{
    char item = *p++;
    if (item == QUOTE) return *p == '\0' ? nullptr : p + 1;
    if (item == '[') {
        int unused;
        return scan_set(p, 'a', &unused);
    }
    return p;
}

// How the pattern at p starts, as far as its first star or '!'.
enum RestStart {
    FIXED,     // no star, no '!', no cut-off item: it consumes exactly the items counted
    LAST_RUN,  // such items, then one star run that ends the pattern and so cannot backtrack
    OTHER,
};

// Reads no further than the first star or '!', so the common rests cost no
// more than their leading items.
RestStart rest_start(const char *p, std::size_t *count)
{
    std::size_t items = 0;
    while (*p != '\0' && !is_star(*p)) {
        if (*p == '!') return OTHER;
        p = skip_item(p);
        if (p == nullptr) return OTHER;
        ++items;
    }
    *count = items;
    if (*p == '\0') return FIXED;
    while (is_star(*p)) ++p;
    return *p == '\0' ? LAST_RUN : OTHER;
}

// What the pattern behind the first star run asks for.
struct Rest {
    bool fixed;  // as FIXED of rest_start: it consumes exactly `need` characters
    std::size_t need;
    std::size_t least;   // characters it consumes before its first '!', at least
    bool backtracks;     // it holds a star run that can backtrack
    std::size_t length;  // its characters
};

Rest scan_rest(const char *rest)
{
    Rest shape{false, 0, 0, false, 0};
    std::size_t runs = 0;
    bool tail_fixed = true;  // nothing since the last run stops it from having a fixed length
    bool negated = false;
    const char *p = rest;
    while (*p != '\0') {
        if (is_star(*p)) {
            while (is_star(*p)) ++p;
            ++runs;
            tail_fixed = true;
        } else if (*p == '!') {
            tail_fixed = false;
            negated = true;
            ++p;
        } else {
            const char *end = skip_item(p);
            if (end == nullptr) {
                tail_fixed = false;
                p += std::strlen(p);
                break;
            }
            p = end;
            if (runs == 0) ++shape.need;
            if (!negated) ++shape.least;
        }
    }
    shape.fixed = runs == 0 && tail_fixed;
    shape.backtracks = runs > 1 || (runs == 1 && !tail_fixed);
    shape.length = static_cast<std::size_t>(p - rest);
    return shape;
}

inline bool get_bit(const std::uint64_t *bits, std::size_t i)
{
    return (bits[i >> 6] >> (i & 63)) & 1u;
}

inline void put_bit(std::uint64_t *bits, std::size_t i, bool value)
{
    const std::uint64_t mask = std::uint64_t{1} << (i & 63);
    if (value)
        bits[i >> 6] |= mask;
    else
        bits[i >> 6] &= ~mask;
}

// The position of the lowest set bit of a non-zero word.
inline int lowest_bit(std::uint64_t word)
{
#if defined(__GNUC__)
    return __builtin_ctzll(word);
#else
    int bit = 0;
    while (!((word >> bit) & 1u)) ++bit;
    return bit;
#endif
}

// The position of the highest set bit of a non-zero word.
inline int highest_bit(std::uint64_t word)
{
#if defined(__GNUC__)
    return 63 - __builtin_clzll(word);
#else
    int bit = 63;
    while (!((word >> bit) & 1u)) --bit;
    return bit;
#endif
}

// Marks where each item of the pattern that starts in [low, high) starts
// (bit i - low).  Items are found by stepping from the pattern's start, so
// a stretch far into a long pattern costs a scan of all before it.  Returns
// the position of an item the end of the pattern cuts off (its entry is
// always false; no item follows it), or SIZE_MAX when none is met.
std::size_t mark_items(const char *pattern, std::size_t low, std::size_t high,
                       std::uint64_t *starts)
{
    std::memset(starts, 0, (high - low + 63) / 64 * sizeof starts[0]);
    for (const char *p = pattern; *p != '\0';) {
        const std::size_t at = static_cast<std::size_t>(p - pattern);
        if (at >= high) break;
        if (at >= low) put_bit(starts, at - low, true);
        const char *end = (*p == '?' || *p == '!' || is_star(*p)) ? p + 1 : skip_item(p);
        if (end == nullptr) return at;
        p = end;
    }
    return SIZE_MAX;
}

// The rows of the table cover a stretch of the name: for one item of the
// pattern, bit n tells whether the pattern from that item matches the name
// from position first + n.  A row has `count` bits; the bits above are kept
// clear.  What lies behind the stretch comes in as one bit per row, its
// value at position first + count: behind_edge for the row of the item
// behind, own_edge for the row being computed.
struct Rows {
    std::size_t words;
    std::size_t count;
};

// row[n] = behind[n + 1], and behind_edge for the last bit.
void shift_down(const Rows &rows, const std::uint64_t *behind, bool behind_edge, std::uint64_t *row)
{
    for (std::size_t w = 0; w < rows.words; ++w) {
        std::uint64_t above = w + 1 < rows.words ? behind[w + 1] << 63 : 0;
        row[w] = (behind[w] >> 1) | above;
    }
    put_bit(row, rows.count - 1, behind_edge);
}

// Every bit of the row set.
void fill_row(const Rows &rows, std::uint64_t *row)
{
    for (std::size_t w = 0; w < rows.words; ++w) row[w] = ~std::uint64_t{0};
    const std::size_t used = rows.count & 63;
    if (used != 0) row[rows.words - 1] &= (std::uint64_t{1} << used) - 1;
}

// '*': every position up to the last one the rest matches from.
void any_run_row(const Rows &rows, const std::uint64_t *behind, bool own_edge, std::uint64_t *row)
{
    if (own_edge) {
        fill_row(rows, row);
        return;
    }
    std::size_t w = rows.words;
    while (w > 0 && behind[w - 1] == 0) row[--w] = 0;
    if (w == 0) return;
    --w;
    const int highest = highest_bit(behind[w]);
    row[w] = highest == 63 ? ~std::uint64_t{0} : (std::uint64_t{2} << highest) - 1;
    while (w > 0) row[--w] = ~std::uint64_t{0};
}

// 0x1A: a position the rest matches from, or one free of '.' in front of
// a position the run matches from.
void dot_run_row(const Rows &rows, const char *name, const std::uint64_t *behind, bool own_edge,
                 std::uint64_t *row)
{
    std::memset(row, 0, rows.words * sizeof row[0]);
    bool matches = own_edge;
    for (std::size_t n = rows.count; n-- > 0;) {
        matches = get_bit(behind, n) || (matches && name[n] != '.');
        if (matches) put_bit(row, n, true);
    }
}

// '!': the opposite of the rest; a '!' that ends the pattern fails.
void negation_row(const Rows &rows, const std::uint64_t *behind, bool at_end, std::uint64_t *row)
{
    if (at_end) {
        std::memset(row, 0, rows.words * sizeof row[0]);
        return;
    }
    for (std::size_t w = 0; w < rows.words; ++w) row[w] = ~behind[w];
    const std::size_t used = rows.count & 63;
    if (used != 0) row[rows.words - 1] &= (std::uint64_t{1} << used) - 1;
}

// An item that consumes one character: behind shifted down, kept where the
// item admits the character.  Only the set bits are examined, so the work
// follows the positions still alive.  The end of the name admits nothing:
// no row has a bit set behind it.
void character_row(const Rows &rows, const char *item, const char *name,
                   const std::uint64_t *behind, bool behind_edge, std::uint64_t *row)
{
    shift_down(rows, behind, behind_edge, row);
    const char quoted = item[0] == QUOTE ? item[1] : item[0];
    for (std::size_t w = 0; w < rows.words; ++w) {
        std::uint64_t alive = row[w];
        while (alive != 0) {
            const int bit = lowest_bit(alive);
            const std::uint64_t lowest = std::uint64_t{1} << bit;
            alive ^= lowest;
            const char c = name[w * 64 + static_cast<std::size_t>(bit)];
            bool admitted;
            if (item[0] == '?') {
                admitted = true;
            } else if (item[0] == '[') {
                int in_set;
                scan_set(item + 1, c, &in_set);
                admitted = in_set != 0;
            } else {
                admitted = fold(c) == fold(quoted);
            }
            if (!admitted) row[w] ^= lowest;
        }
    }
}

// Where the table stands between two stretches of items: the row of the
// item at `next` (the end of the pattern at first), and that row's value
// behind the name's stretch.
struct Progress {
    std::uint64_t *behind;
    std::uint64_t *row;
    std::size_t next;
    bool behind_edge;
};

// The rows of the items in [low, high) that `starts` marks, from the last to
// the first, each from the row behind it alone.
// `edges`, when not null, holds each item's value at the position behind
// the name's stretch and takes its value at the stretch's first position.
void fill_rows(const char *pattern, std::size_t length, std::size_t low, std::size_t high,
               const std::uint64_t *starts, std::size_t cut, const char *name, const Rows &rows,
               std::uint64_t *edges, Progress *progress)
{
    for (std::size_t i = high; i-- > low;) {
        if (!get_bit(starts, i - low)) continue;
        const char item = pattern[i];
        const bool own_edge = edges != nullptr && get_bit(edges, i);
        std::uint64_t *row = progress->row;
        const std::uint64_t *behind = progress->behind;
        if (i == cut)
            std::memset(row, 0, rows.words * sizeof row[0]);
        else if (item == '*')
            any_run_row(rows, behind, own_edge, row);
        else if (item == DOTSTAR)
            dot_run_row(rows, name, behind, own_edge, row);
        else if (item == '!')
            negation_row(rows, behind, progress->next == length, row);
        else
            character_row(rows, pattern + i, name, behind, progress->behind_edge, row);
        if (edges != nullptr) put_bit(edges, i, get_bit(row, 0));
        progress->row = progress->behind;
        progress->behind = row;
        progress->next = i;
        progress->behind_edge = own_edge;
    }
}

// The table for a pattern and a name of which at least one has fewer than
// WORDS * 64 characters.  With a short name the rows cover all of it and
// the pattern goes in stretches of WORDS * 64 positions; with a short
// pattern the name goes in stretches, from its end, and `edges` carries
// each item's value across from one stretch to the next.  Both longer:
// no result within the frame, so TOO_LONG.
template <std::size_t WORDS>
int match_table(const char *pattern, std::size_t length, const char *name, std::size_t name_length)
{
    const std::size_t capacity = WORDS * 64;
    std::uint64_t starts[WORDS];
    std::uint64_t row_a[WORDS];
    std::uint64_t row_b[WORDS];
    std::uint64_t edges[WORDS];
    if (name_length < capacity) {
        const Rows rows{name_length / 64 + 1, name_length + 1};
        std::memset(row_a, 0, rows.words * sizeof row_a[0]);
        put_bit(row_a, name_length, true);  // the end of the pattern matches the end of the name
        Progress progress{row_a, row_b, length, false};
        for (std::size_t high = length; high > 0;) {
            const std::size_t low = high > capacity ? high - capacity : 0;
            const std::size_t cut = mark_items(pattern, low, high, starts);
            fill_rows(pattern, length, low, high, starts, cut, name, rows, nullptr, &progress);
            high = low;
        }
        return get_bit(progress.behind, 0);
    }
    if (length >= capacity) return TOO_LONG;
    const std::size_t cut = mark_items(pattern, 0, length, starts);
    std::memset(edges, 0, (length / 64 + 1) * sizeof edges[0]);
    Progress progress{row_a, row_b, length, false};
    for (std::size_t stop = name_length + 1; stop > 0;) {
        const std::size_t first = stop > capacity ? stop - capacity : 0;
        const Rows rows{(stop - first + 63) / 64, stop - first};
        std::memset(progress.behind, 0, rows.words * sizeof progress.behind[0]);
        if (stop == name_length + 1) put_bit(progress.behind, name_length - first, true);
        progress.next = length;
        progress.behind_edge = stop == name_length;  // the end of the pattern there
        fill_rows(pattern, length, 0, length, starts, cut, name + first, rows, edges, &progress);
        stop = first;
    }
    return get_bit(progress.behind, 0);
}

// The longest pattern rest or name the table takes whole; past it, the
// other one is taken in stretches of this length.
const std::size_t TABLE_MAX = 131071;

// The table in a frame no larger than the pattern and the name need.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int match_by_table(const char *pattern, std::size_t length, const char *name, std::size_t name_length)
{
    const std::size_t longer = length > name_length ? length : name_length;
    if (longer < 256) return match_table<4>(pattern, length, name, name_length);
    if (longer < 4096) return match_table<64>(pattern, length, name, name_length);
    return match_table<(TABLE_MAX + 1) / 64>(pattern, length, name, name_length);
}

int match_from(const char *p, const char *name, std::size_t n, bool chosen,
               const Rest *known = nullptr);

// The star run that starts at `run`, followed by the pattern at rest, at
// name position n.  `chosen` is false at the first run of a match, where
// the engine is chosen (from `known` when the pattern was compiled);
// behind it the plain loop goes on.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int match_star_run(const char *run, const char *rest, const char *name, std::size_t n, bool any, bool chosen,
                   const Rest *known)
{
    const char *tail = name + n;
    const std::size_t left = std::strlen(tail);
    std::size_t limit = left;  // the longest the run can be
    if (!any) {
        const void *dot = std::memchr(tail, '.', left);
        if (dot != nullptr) limit = static_cast<std::size_t>(static_cast<const char *>(dot) - tail);
    }
    std::size_t need = 0;
    bool fixed;
    bool last_run = false;  // no need to scan the rest for the engine
    if (known != nullptr) {
        fixed = known->fixed;
        need = known->need;
    } else {
        const RestStart start = rest_start(rest, &need);
        fixed = start == FIXED;
        last_run = start == LAST_RUN;
    }
    if (!fixed && !last_run && !chosen) {
        const Rest shape = known != nullptr ? *known : scan_rest(rest);
        const std::size_t length = static_cast<std::size_t>(rest - run) + shape.length;
        // Before its first '!' the pattern cannot take fewer characters.
        if (shape.least > left) return 0;
        if (shape.backtracks) return match_by_table(run, length, tail, left);
    }
    if (fixed) {
        if (need > left || left - need > limit) return 0;
        return match_from(rest, name, n + left - need, true);
    }
    // A literal behind the run must meet its own character first.
    const bool literal = is_literal(rest[0]);
    const int lead = fold(rest[0]);
    for (std::size_t k = limit + 1; k-- > 0;) {
        if (literal && fold(tail[k]) != lead) continue;
        if (match_from(rest, name, n + k, true)) return 1;
    }
    return 0;
}

// 1 when the name from position n matches the pattern from p, 0 when not,
// TOO_LONG when the table cannot tell.
int match_from(const char *p, const char *name, std::size_t n, bool chosen, const Rest *known)
{
    int negated = 0;  // an odd number of '!' met so far at this level
    for (;;) {
        const char item = *p;
        const char c = name[n];
        if (item == '\0') return (c == '\0') ^ negated;
        ++p;
        switch (item) {
        case '?':
            if (c == '\0') return negated;
            ++n;
            break;
        case '*':
        case DOTSTAR: {
            const char *run = p - 1;
            bool any = item == '*';
            while (is_star(*p)) {
                if (*p++ == '*') any = true;
            }
            if (any && *p == '\0') return 1 ^ negated;  // takes all the rest
            const int result = match_star_run(run, p, name, n, any, chosen, known);
            return result == TOO_LONG ? result : result ^ negated;
        }
        case '!':
            if (*p == '\0') return negated;
            negated ^= 1;
            break;
        case QUOTE:
            if (*p == '\0') return negated;
            if (fold(c) != fold(*p)) return negated;
            ++p;
            ++n;
            break;
        case '[': {
            int admitted;
            p = scan_set(p, c, &admitted);
            if (!admitted || p == nullptr || c == '\0') return negated;
            ++n;
            break;
        }
        default:
            if (fold(c) != fold(item)) return negated;
            ++n;
            break;
        }
    }
}

// The pattern behind the first star run the matcher meets, stepping as it
// does; null when it meets none.
const char *behind_first_run(const char *p)
{
    while (*p != '\0' && !is_star(*p)) {
        p = *p == '!' ? p + 1 : skip_item(p);
        if (p == nullptr) return nullptr;
    }
    if (*p == '\0') return nullptr;
    while (is_star(*p)) ++p;
    return p;
}

}  // namespace

extern "C" {

int wildcat_is_valid(const char *pattern)
{
    if (pattern == nullptr) return 0;
    const char *p = pattern;
    while (*p != '\0') {
        char item = *p;
        if (item == '!' || item == QUOTE) {
            if (p[1] == '\0') return 0;
            p += 2;  // the character behind is not examined
        } else if (item == '[') {
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

int wildcat_match(const char *pattern, const char *name)
{
    if (name == nullptr || pattern == nullptr) return 0;
    if (!wildcat_is_valid(pattern)) return 0;
    if (*name == '\0') return *pattern == '\0' ? 1 : 0;
    return match_from(pattern, name, 0, false) == 1;
}

int wildcat_match_unchecked(const char *pattern, const char *name)
{
    if (name == nullptr || pattern == nullptr) return 0;
    return match_from(pattern, name, 0, false) == 1;
}

int wildcat_compile(const char *pattern, wildcat_compiled *compiled)
{
    if (compiled == nullptr) return 0;
    compiled->pattern = nullptr;
    if (!wildcat_is_valid(pattern)) return 0;
    compiled->pattern = pattern;
    const char *end = pattern;
    while (is_literal(*end)) ++end;
    compiled->literal = *end == '\0';
    const char *rest = behind_first_run(pattern);
    const Rest shape = rest != nullptr ? scan_rest(rest) : Rest{};
    compiled->rest_fixed = shape.fixed;
    compiled->rest_need = shape.need;
    compiled->rest_least = shape.least;
    compiled->rest_backtracks = shape.backtracks;
    compiled->rest_length = shape.length;
    return 1;
}

int wildcat_match_compiled(const wildcat_compiled *compiled, const char *name)
{
    if (compiled == nullptr || compiled->pattern == nullptr || name == nullptr) return 0;
    if (compiled->literal) {  // a name given in full, as most patterns without wildcards are
        const char *p = compiled->pattern;
        for (; *p != '\0'; ++p, ++name)
            if (fold(*p) != fold(*name)) return 0;
        return *name == '\0';
    }
    if (*name == '\0') return *compiled->pattern == '\0' ? 1 : 0;
    const Rest shape{compiled->rest_fixed != 0, compiled->rest_need, compiled->rest_least,
                     compiled->rest_backtracks != 0, compiled->rest_length};
    return match_from(compiled->pattern, name, 0, false, &shape) == 1;
}

}  // extern "C"
