// Fuzzes the wildcard library: validation, the three matchers, and the table
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
#include "wildcat_oracle.h"

using namespace oracle;

namespace {

const std::size_t NAME_MAX_LENGTH = 259;
const double ORACLE_BUDGET = 2e7;  // pattern characters the oracle reads, roughly

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

void disagree(const char *what, int library, int oracle, const std::string &pattern,
              const std::string &name)
{
    std::fprintf(stderr, "%s: library %d, oracle %d\npattern (%zu bytes): ", what, library, oracle,
                 pattern.size());
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
    pattern_compiled compiled;
    pattern_compile(p, &compiled);
    const int precompiled = pattern_match_compiled(&compiled, n);
    if (precompiled != checked)
        disagree("pattern_match_compiled", precompiled, checked, pattern, name);
    if (valid != oracle_is_valid(p)) disagree("pattern_is_valid", valid, !valid, pattern, name);
    if (checked != 0 && checked != 1) disagree("pattern_match range", checked, 1, pattern, name);
    if (unchecked != 0 && unchecked != 1)
        disagree("pattern_match_unchecked range", unchecked, 1, pattern, name);
    if (checked && !valid)
        disagree("pattern_match of an ill-formed pattern", checked, 0, pattern, name);

    if (oracle_cost(pattern, name.size()) > ORACLE_BUDGET) return 0;
    const int expected = oracle_rest(p, n);
    if (unchecked != expected)
        disagree("pattern_match_unchecked", unchecked, expected, pattern, name);
    const int expected_checked = oracle_match(p, n);
    if (checked != expected_checked)
        disagree("pattern_match", checked, expected_checked, pattern, name);
    return 0;
}
