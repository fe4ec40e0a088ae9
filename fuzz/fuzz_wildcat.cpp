// Fuzzes the wildcard library: validation, both matchers, and the memoised
// matcher against a plain recursion written out here as the oracle.
//
// Input: pattern, NUL, name.  Without a NUL the input is both.  Names are
// cut to 259 bytes, the longest a directory enumeration delivers, so the
// library is held to its bound of (pattern length) x (name length) steps:
// a slow input shows up as a libFuzzer timeout.  The oracle is exponential
// in the number of stars, so it is consulted only while its cost is small.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "wildcat.h"

namespace {

const std::size_t NAME_MAX_LENGTH = 259;
const double ORACLE_BUDGET = 2e7;  // pattern characters the oracle reads, roughly

int oracle_fold(char ch)
{
    int v = static_cast<signed char>(ch);
    return (v >= 'A' && v <= 'Z') ? v + 0x20 : v;
}

int oracle_is_valid(const char *p)
{
    while (*p != '\0') {
        if (*p == '!' || *p == '`') {
            if (p[1] == '\0') return 0;
            p += 2;
        } else if (*p == '[') {
            ++p;
            if (*p == '!') ++p;
            while (*p != ']') {
                if (*p == '`') ++p;
                if (*p == '\0') return 0;
                ++p;
                if (*p == '-') {
                    ++p;
                    if (*p == '`') ++p;
                    if (*p == '\0') return 0;
                    ++p;
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

// Steps over a set for the name character c; null when it is not closed.
const char *oracle_set(const char *p, char c, int *admitted)
{
    int sense = 1;
    if (*p == '!') {
        ++p;
        sense = 0;
    }
    *admitted = !sense;
    while (*p != ']' && *p != '\0') {
        if (*p == '`') ++p;
        if (*p == '\0') break;
        char lo = *p++;
        char hi = lo;
        if (*p == '-') {
            ++p;
            if (*p == '`') ++p;
            if (*p == '\0') break;
            hi = *p++;
        }
        if (*p == '\0') break;
        if (oracle_fold(lo) <= oracle_fold(c) && oracle_fold(c) <= oracle_fold(hi)) *admitted = sense;
    }
    return *p == '\0' ? nullptr : p + 1;
}

int oracle_rest(const char *p, const char *n)
{
    for (;;) {
        if (*p == '\0') return *n == '\0';
        char x = *p++;
        char c = *n;
        if (x == '*' || x == '\x1A') {
            std::size_t left = 0;
            while (n[left] != '\0' && (x == '*' || n[left] != '.')) ++left;
            for (std::size_t k = left + 1; k-- > 0;) {
                if (oracle_rest(p, n + k)) return 1;
            }
            return 0;
        }
        if (x == '!') return *p == '\0' ? 0 : !oracle_rest(p, n);
        if (x == '?') {
            if (c == '\0') return 0;
        } else if (x == '`') {
            if (*p == '\0' || oracle_fold(c) != oracle_fold(*p)) return 0;
            ++p;
        } else if (x == '[') {
            int admitted;
            p = oracle_set(p, c, &admitted);
            if (!admitted || p == nullptr || c == '\0') return 0;
        } else if (oracle_fold(c) != oracle_fold(x)) {
            return 0;
        }
        ++n;
    }
}

int oracle_match(const char *pattern, const char *name)
{
    if (!oracle_is_valid(pattern)) return 0;
    if (*name == '\0') return *pattern == '\0';
    return oracle_rest(pattern, name);
}

// About the work of the oracle: the positions a chain of `stars` stars can
// pick in a name of `length`, (length + stars) choose stars, times the
// pattern characters that each of those calls may read.
double oracle_cost(const std::string &pattern, std::size_t length)
{
    double cost = static_cast<double>(pattern.size() + 1);
    std::size_t stars = 0;
    for (char ch : pattern) {
        if (ch != '*' && ch != '\x1A') continue;
        ++stars;
        cost = cost * static_cast<double>(length + stars) / static_cast<double>(stars);
        if (cost > ORACLE_BUDGET) break;
    }
    return cost;
}

void disagree(const char *what, int library, int oracle, const std::string &pattern, const std::string &name)
{
    std::fprintf(stderr, "%s: library %d, oracle %d\npattern (%zu bytes): ", what, library, oracle, pattern.size());
    for (unsigned char ch : pattern) std::fprintf(stderr, "\\x%02x", ch);
    std::fprintf(stderr, "\nname (%zu bytes): ", name.size());
    for (unsigned char ch : name) std::fprintf(stderr, "\\x%02x", ch);
    std::fprintf(stderr, "\n");
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    std::size_t nul = input.find('\0');
    std::string pattern = input.substr(0, nul);
    std::string name = nul == std::string::npos ? pattern : input.substr(nul + 1);
    name = name.substr(0, name.find('\0')).substr(0, NAME_MAX_LENGTH);
    const char *p = pattern.c_str();
    const char *n = name.c_str();

    const int valid = pattern_is_valid(p);
    const int checked = pattern_match(p, n);
    const int unchecked = pattern_match_unchecked(p, n);
    if (valid != oracle_is_valid(p)) disagree("pattern_is_valid", valid, !valid, pattern, name);
    if (checked != 0 && checked != 1) disagree("pattern_match range", checked, 1, pattern, name);
    if (unchecked != 0 && unchecked != 1) disagree("pattern_match_unchecked range", unchecked, 1, pattern, name);
    if (checked && !valid) disagree("pattern_match of an ill-formed pattern", checked, 0, pattern, name);

    if (oracle_cost(pattern, name.size()) > ORACLE_BUDGET) return 0;
    const int expected = oracle_rest(p, n);
    if (unchecked != expected) disagree("pattern_match_unchecked", unchecked, expected, pattern, name);
    const int expected_checked = oracle_match(p, n);
    if (checked != expected_checked) disagree("pattern_match", checked, expected_checked, pattern, name);
    return 0;
}
