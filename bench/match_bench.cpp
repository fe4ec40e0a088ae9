// Micro benchmark of the wildcard matcher: the time to match one name,
// averaged over a list of a few hundred realistic file names (each
// iteration matches the whole list; items = names).  Run by hand:
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

void match_list(benchmark::State &state, const char *pattern)
{
    const std::vector<std::string> &list = names();
    int matched = 0;
    for (auto _ : state) {
        matched = 0;
        for (const std::string &name : list)
            matched += wildcat_match_unchecked(pattern, name.c_str());
        benchmark::DoNotOptimize(matched);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(list.size()));
    state.counters["ns_per_name"] =
        benchmark::Counter(static_cast<double>(state.iterations() * list.size()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["matched"] = matched;
}

// The same list through a pattern compiled once, as the search does.
void match_list_compiled(benchmark::State &state, const char *pattern)
{
    const std::vector<std::string> &list = names();
    wildcat_compiled compiled;
    wildcat_compile(pattern, &compiled);
    int matched = 0;
    for (auto _ : state) {
        matched = 0;
        for (const std::string &name : list)
            matched += wildcat_match_compiled(&compiled, name.c_str());
        benchmark::DoNotOptimize(matched);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(list.size()));
    state.counters["matched"] = matched;
}

void BM_Plain(benchmark::State &state)
{
    match_list(state, "readme.txt");
}
void BM_OneStar(benchmark::State &state)
{
    match_list(state, "*.c");
}
void BM_Set(benchmark::State &state)
{
    match_list(state, "[a-m]*.[ch]");
}
void BM_ManyStars(benchmark::State &state)
{
    match_list(state, "*a*b*c*.c");
}
void BM_DotStar(benchmark::State &state)
{
    match_list(state, "\x1A.*");
}

void BM_PlainCompiled(benchmark::State &state)
{
    match_list_compiled(state, "readme.txt");
}
void BM_OneStarCompiled(benchmark::State &state)
{
    match_list_compiled(state, "*.c");
}
void BM_SetCompiled(benchmark::State &state)
{
    match_list_compiled(state, "[a-m]*.[ch]");
}
void BM_ManyStarsCompiled(benchmark::State &state)
{
    match_list_compiled(state, "*a*b*c*.c");
}
void BM_DotStarCompiled(benchmark::State &state)
{
    match_list_compiled(state, "\x1A.*");
}

// One name: *a*a*a*a*a*a*a*a*a*a*b against 250 'a' (the plain recursion would
// take on the order of 250^10 steps).
void BM_Pathological250(benchmark::State &state)
{
    const std::string name(250, 'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(wildcat_match_unchecked("*a*a*a*a*a*a*a*a*a*a*b", name.c_str()));
}

// One name: 1,000-character patterns against 255 'a'.
void pathological_1000(benchmark::State &state, const std::string &pattern)
{
    const std::string name(255, 'a');
    for (auto _ : state)
        benchmark::DoNotOptimize(wildcat_match_unchecked(pattern.c_str(), name.c_str()));
}

std::string repeat(const std::string &unit, std::size_t total)
{
    std::string s;
    while (s.size() + unit.size() <= total) s += unit;
    return s;
}

// "*a*a...*a*b": 499 runs of "*a" and "*b".
void BM_Pathological1000StarA(benchmark::State &state)
{
    pathological_1000(state, repeat("*a", 998) + "*b");
}
// "?*?*...": the longest run of star columns that can each be reached.
void BM_Pathological1000QStar(benchmark::State &state)
{
    pathological_1000(state, repeat("?*", 998) + "?b");
}
// "*!*!...*x": star runs joined by negations, 500 columns of 256 positions.
void BM_Pathological1000StarNot(benchmark::State &state)
{
    pathological_1000(state, repeat("*!", 998) + "*x");
}
// "*?*?...": 127 '?', then it fails on the 'b'.
void BM_Pathological1000StarQ(benchmark::State &state)
{
    pathological_1000(state, repeat("*?", 254) + "*b");
}

}  // namespace

BENCHMARK(BM_Plain);
BENCHMARK(BM_OneStar);
BENCHMARK(BM_Set);
BENCHMARK(BM_ManyStars);
BENCHMARK(BM_DotStar);
BENCHMARK(BM_PlainCompiled);
BENCHMARK(BM_OneStarCompiled);
BENCHMARK(BM_SetCompiled);
BENCHMARK(BM_ManyStarsCompiled);
BENCHMARK(BM_DotStarCompiled);
BENCHMARK(BM_Pathological250);
BENCHMARK(BM_Pathological1000StarA);
BENCHMARK(BM_Pathological1000QStar);
BENCHMARK(BM_Pathological1000StarNot);
BENCHMARK(BM_Pathological1000StarQ);
