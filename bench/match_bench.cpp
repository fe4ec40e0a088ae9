// Micro benchmark of the wildcard library: the time of one call on one
// name, averaged over a list of a few hundred realistic file names (each
// iteration matches the whole list; items = names), for each call a
// library user makes.  Run by hand:
//   match_bench --benchmark_counters_tabular=true
#include "wildcat.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// A few hundred names of the kind a source tree and a home directory hold.
std::vector<std::string> make_names()
{
    static const char *const stems[] = {
        "readme",
        "main",
        "util",
        "options",
        "search",
        "listing",
        "driver",
        "texts",
        "datesize",
        "select",
        "wildcat",
        "Makefile",
        "config",
        "index",
        "setup",
        "test_exit",
        "CMakeLists",
        "LICENSE",
        "notes",
        "report-2026-12",
        "IMG_4821",
        "photo (2)",
        "a",
        ".profile",
        "draft.final",
        "backup.tar",
        "très_long_nom_de_fichier",
        "x",
        "build",
        "CHANGES",
    };
    static const char *const exts[] = {
        ".c", ".h", ".cpp", ".txt", ".md", "", ".TXT", ".o", ".gz", ".jpeg", ".cc", ".json", ".bak",
    };
    std::vector<std::string> names;
    for (const char *stem : stems)
        for (const char *ext : exts) names.push_back(std::string(stem) + ext);
    return names;  // 30 * 13 = 390 names
}

const std::vector<std::string> &names()
{
    static const std::vector<std::string> list = make_names();
    return list;
}

// Matches every name of the list, counting the matches.
template <typename Match> void match_names(benchmark::State &state, Match match)
{
    const std::vector<std::string> &list = names();
    int matched = 0;
    for (auto _ : state) {
        matched = 0;
        for (const std::string &name : list) matched += match(name.c_str());
        benchmark::DoNotOptimize(matched);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(list.size()));
    state.counters["ns_per_name"] =
        benchmark::Counter(static_cast<double>(state.iterations() * list.size()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["matched"] = matched;
}

// What a library user calls on one name: validation, then the match.
void validated(benchmark::State &state, const char *pattern)
{
    match_names(state, [pattern](const char *name) { return pattern_match(pattern, name); });
}

// The validation alone, once per name of the list, so that its figure is
// per call like the others.
void valid(benchmark::State &state, const char *pattern)
{
    match_names(state, [pattern](const char *) {
        benchmark::DoNotOptimize(pattern);
        return pattern_is_valid(pattern);
    });
}

void unchecked(benchmark::State &state, const char *pattern)
{
    match_names(state, [pattern](const char *name) {
        return pattern_match_unchecked(pattern, name);
    });
}

// The pattern compiled once, as the search does.
void compiled(benchmark::State &state, const char *pattern)
{
    pattern_compiled form;
    pattern_compile(pattern, &form);
    match_names(state, [&form](const char *name) { return pattern_match_compiled(&form, name); });
}

// One name: *a*a*a*a*a*a*a*a*a*a*b against 250 'a' (the plain recursion would
// take on the order of 250^10 steps).
void BM_Pathological250(benchmark::State &state)
{
    const std::string name(250, 'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(pattern_match_unchecked("*a*a*a*a*a*a*a*a*a*a*b", name.c_str()));
}

// One name: 1,000-character patterns against 255 'a'.
void pathological_1000(benchmark::State &state, const std::string &pattern)
{
    const std::string name(255, 'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(pattern_match_unchecked(pattern.c_str(), name.c_str()));
}

std::string repeat(const std::string &unit, std::size_t total)
{
    std::string s;
    while (s.size() + unit.size() <= total) s += unit;
    return s;
}

}  // namespace

// The classes of pattern, each through every call: validated and matched
// (pattern_match), matched as given, validated alone, and compiled.
#define PATTERN_CLASS(name, pattern)                   \
    BENCHMARK_CAPTURE(validated, name, pattern);       \
    BENCHMARK_CAPTURE(unchecked, name, pattern);       \
    BENCHMARK_CAPTURE(valid, name, pattern);           \
    BENCHMARK_CAPTURE(compiled, name, pattern)
PATTERN_CLASS(Plain, "readme.txt");
PATTERN_CLASS(PlainMd, "readme.md");
PATTERN_CLASS(OneStar, "*.c");
PATTERN_CLASS(Set, "[a-m]*.[ch]");
PATTERN_CLASS(QuestionStar, "a?c*");
PATTERN_CLASS(Negation, "!*.o");
PATTERN_CLASS(ManyStars, "*a*b*c*.c");
PATTERN_CLASS(DotStar, "\x1A.*");
BENCHMARK(BM_Pathological250);
// "*a*a...*a*b": 499 runs of "*a" and "*b".
BENCHMARK_CAPTURE(pathological_1000, StarA, repeat("*a", 998) + "*b");
// "?*?*...": the longest run of star columns that can each be reached.
BENCHMARK_CAPTURE(pathological_1000, QStar, repeat("?*", 998) + "?b");
// "*!*!...*x": star runs joined by negations, 500 columns of 256 positions.
BENCHMARK_CAPTURE(pathological_1000, StarNot, repeat("*!", 998) + "*x");
// "*?*?...": 127 '?', then it fails on the 'b'.
BENCHMARK_CAPTURE(pathological_1000, StarQ, repeat("*?", 254) + "*b");
