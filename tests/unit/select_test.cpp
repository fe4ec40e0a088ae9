// The entry filter: date, size and type criteria, and which names are the
// dot entries, on entries made up here rather than read from a disk.
#include <gtest/gtest.h>

#include <cstring>

#include "command_test_support.h"
#include "trawl.h"

namespace {

struct CompareRow {
    FILETIME a, b;
    int expected;
};

TEST(CompareFiletimes, HighHalvesFirstBothUnsigned)
{
    // clang-format off
    const CompareRow rows[] = {
        {{0, 0}, {0, 0}, 0},
        {{0xFFFFFFFF, 0}, {0, 1}, -1},
        {{0, 1}, {0xFFFFFFFF, 0}, 1},
        {{0, 0x80000000}, {0xFFFFFFFF, 0x7FFFFFFF}, 1},
        {{0xFFFFFFFF, 0x7FFFFFFF}, {0, 0x80000000}, -1},
        {{0x80000000, 5}, {0x7FFFFFFF, 5}, 1},
        {{0x7FFFFFFF, 5}, {0x80000000, 5}, -1},
        {{0xFFFFFFFF, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}, 0},
    };
    // clang-format on
    for (const CompareRow &row : rows)
        EXPECT_EQ(compare_filetimes(row.a, row.b), row.expected)
            << std::hex << row.a.dwHighDateTime << ":" << row.a.dwLowDateTime << " vs "
            << row.b.dwHighDateTime << ":" << row.b.dwLowDateTime;
}

// Whether an entry before, at and after the criterion's value passes.
struct PrefixRow {
    const char *text;
    int before, at, after;
};

// clang-format off
const PrefixRow PREFIX_ROWS[] = {
    {"+x", 0, 1, 1},
    {"-x", 1, 1, 0},
    {"!x", 1, 0, 1},
    {"2011", 0, 1, 0},
    {"x", 0, 1, 0},
    {"", 0, 1, 0},
};
// clang-format on

TEST(EntrySelected, DatePrefixesWithInclusiveBounds)
{
    // Either side of the instant differs in the high half of the count.
    const uint64_t instant = 0x100000000ULL;
    for (int slot = 0; slot < 2; slot++) {
        for (const PrefixRow &row : PREFIX_ROWS) {
            reset_globals();
            DateTest *test = slot == 0 ? &settings.date_test : &settings.date_test_prev;
            test->text = row.text;
            test->time = filetime_of(instant);
            const WIN32_FIND_DATAA before = make_entry("a", 0x20, 0, instant - 1);
            const WIN32_FIND_DATAA at = make_entry("a", 0x20, 0, instant);
            const WIN32_FIND_DATAA after = make_entry("a", 0x20, 0, instant + 1);
            EXPECT_EQ(entry_selected(&before), row.before) << "'" << row.text << "' slot " << slot;
            EXPECT_EQ(entry_selected(&at), row.at) << "'" << row.text << "' slot " << slot;
            EXPECT_EQ(entry_selected(&after), row.after) << "'" << row.text << "' slot " << slot;
        }
    }
}

TEST(EntrySelected, TwoDatesKeepTheSpanBothEndsIncluded)
{
    reset_globals();
    settings.date_test_prev.text = "+2011-01-01";
    settings.date_test_prev.time = filetime_of(1000);
    settings.date_test.text = "-2011-12-31:23:59:59";
    settings.date_test.time = filetime_of(2000);
    const struct {
        uint64_t written;
        int expected;
    } rows[] = {{999, 0}, {1000, 1}, {1500, 1}, {2000, 1}, {2001, 0}};
    for (const auto &row : rows) {
        const WIN32_FIND_DATAA entry = make_entry("a", 0x20, 0, row.written);
        EXPECT_EQ(entry_selected(&entry), row.expected) << row.written;
    }
}

TEST(EntrySelected, SizePrefixesOverTheFullSixtyFourBits)
{
    const uint64_t limit = 4294967295ULL;
    for (const PrefixRow &row : PREFIX_ROWS) {
        reset_globals();
        settings.size_test.text = row.text;
        settings.size_test.bytes = limit;
        const WIN32_FIND_DATAA before = make_entry("a", 0x20, limit - 1);
        const WIN32_FIND_DATAA at = make_entry("a", 0x20, limit);
        const WIN32_FIND_DATAA after = make_entry("a", 0x20, limit + 1);
        EXPECT_EQ(entry_selected(&before), row.before) << "'" << row.text << "'";
        EXPECT_EQ(entry_selected(&at), row.at) << "'" << row.text << "'";
        EXPECT_EQ(entry_selected(&after), row.after) << "'" << row.text << "'";
    }
}

TEST(EntrySelected, SizeZeroCriteria)
{
    const struct {
        const char *text;
        int empty_passes, nonempty_passes;
    } rows[] = {{"+0", 1, 1}, {"-0", 1, 0}, {"0", 1, 0}, {"!0", 0, 1}, {"none", 1, 0}, {"+", 1, 1}};
    for (const auto &row : rows) {
        reset_globals();
        settings.size_test.text = row.text;
        settings.size_test.bytes = 0;
        const WIN32_FIND_DATAA empty = make_entry("a", 0x20, 0);
        const WIN32_FIND_DATAA nonempty = make_entry("a", 0x20, 1ULL << 32);
        EXPECT_EQ(entry_selected(&empty), row.empty_passes) << row.text;
        EXPECT_EQ(entry_selected(&nonempty), row.nonempty_passes) << row.text;
    }
}

struct TypeRow {
    const char *text;
    DWORD attributes;
    int expected;
};

TEST(EntrySelected, TypeLetters)
{
    // clang-format off
    const TypeRow rows[] = {
        {"a", 0x20, 1},  {"a", 0x01, 0},
        {"c", 0x800, 1}, {"c", 0x20, 0},
        {"d", 0x10, 1},  {"d", 0x20, 0},
        {"f", 0x80, 1},  {"f", 0x20, 1}, {"f", 0x00, 1}, {"f", 0x10, 0},
        {"f", 0x08, 0},  {"f", 0x18, 0}, {"f", 0x90, 1}, {"f", 0x88, 1},
        {"h", 0x02, 1},  {"h", 0x04, 0},
        {"r", 0x01, 1},  {"r", 0x20, 0},
        {"s", 0x04, 1},  {"s", 0x02, 0},
        {"t", 0x100, 1}, {"t", 0x20, 0},
        {"v", 0x08, 1},  {"v", 0x10, 0},
        {"w", 0x20, 1},  {"w", 0x21, 0}, {"w", 0x10, 1},
    };
    // clang-format on
    for (const TypeRow &row : rows) {
        reset_globals();
        settings.type_test = row.text;
        const WIN32_FIND_DATAA entry = make_entry("a", row.attributes);
        EXPECT_EQ(entry_selected(&entry), row.expected)
            << row.text << " on 0x" << std::hex << row.attributes;
    }
}

TEST(EntrySelected, TypeOutcomes)
{
    const DWORD directory = 0x10, file = 0x20, hidden_file = 0x22, read_only = 0x21;
    // clang-format off
    const TypeRow rows[] = {
        {"!d", directory, 0}, {"!d", file, 1},
        {"d!", directory, 1}, {"d!", file, 0},
        {"hd", hidden_file, 1}, {"hd", directory, 1}, {"hd", file, 0},
        {"!hd", hidden_file, 0}, {"!hd", file, 1},
        {"dd", directory, 1}, {"Xd7", directory, 1},
        {"!w", read_only, 1}, {"!w", file, 0},
        {"", file, 0}, {"", directory, 0},
        {"!", file, 1}, {"!", directory, 1},
        {"D", directory, 0}, {"x", file, 0}, {"A", file, 0},
    };
    // clang-format on
    for (const TypeRow &row : rows) {
        reset_globals();
        settings.type_test = row.text;
        const WIN32_FIND_DATAA entry = make_entry("a", row.attributes);
        EXPECT_EQ(entry_selected(&entry), row.expected)
            << "'" << row.text << "' on 0x" << std::hex << row.attributes;
    }
}

TEST(IsDotEntry, OnlyTheTwoNames)
{
    const struct {
        const char *name;
        int expected;
    } rows[] = {
        {".", 1}, {"..", 1}, {"a", 0}, {"...", 0}, {".a", 0}, {"..a", 0}, {"a.", 0}, {"", 0},
    };
    for (const auto &row : rows) EXPECT_EQ(is_dot_entry(row.name), row.expected) << row.name;
}

TEST(EntrySelected, CriteriaAllApply)
{
    // The dot entries are judged by the criteria like any other.
    reset_globals();
    settings.type_test = "d";
    const WIN32_FIND_DATAA dot = make_entry(".", 0x10);
    const WIN32_FIND_DATAA dot_file = make_entry(".", 0x20);
    const WIN32_FIND_DATAA sub = make_entry("sub", 0x10);
    EXPECT_EQ(entry_selected(&dot), 1);
    EXPECT_EQ(entry_selected(&dot_file), 0);
    EXPECT_EQ(entry_selected(&sub), 1);

    // Each criterion alone can reject.
    reset_globals();
    settings.date_test.text = "+";
    settings.date_test.time = filetime_of(100);
    settings.size_test.text = "-";
    settings.size_test.bytes = 10;
    const WIN32_FIND_DATAA both = make_entry("a", 0x20, 10, 100);
    const WIN32_FIND_DATAA too_old = make_entry("a", 0x20, 10, 99);
    const WIN32_FIND_DATAA too_big = make_entry("a", 0x20, 11, 100);
    EXPECT_EQ(entry_selected(&both), 1);
    EXPECT_EQ(entry_selected(&too_old), 0);
    EXPECT_EQ(entry_selected(&too_big), 0);
}

}  // namespace
