// Entry lines, the long listing's columns, the counters and the summary.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "command_test_support.h"
#include "trawl.h"

namespace {

std::string printed_entry(const char *drive, const char *directory, const WIN32_FIND_DATAA &entry)
{
    FILE *out = tmpfile();
    if (!out) return "<no temporary file>";
    ShownPath path = {drive, "", ""};
    shown_path_prefix(directory, &path.directory, &path.separator);
    print_entry(out, &path, &entry);
    rewind(out);
    std::string text;
    for (int c; (c = fgetc(out)) != EOF;) text += (char)c;
    fclose(out);
    return without_cr(text);
}

TEST(FormatGrouped, CommaBeforeEveryThirdDigit)
{
    const struct {
        uint64_t value;
        const char *text;
    } rows[] = {
        {0, "0"},
        {7, "7"},
        {999, "999"},
        {1000, "1,000"},
        {99999, "99,999"},
        {100000, "100,000"},
        {1234567, "1,234,567"},
        {4294967296ULL, "4,294,967,296"},
        {1000000000000ULL, "1,000,000,000,000"},
        {UINT64_MAX, "18,446,744,073,709,551,615"},
    };
    for (const auto &row : rows) {
        char out[27];
        format_grouped(row.value, out);
        EXPECT_STREQ(out, row.text) << row.value;
    }
}

TEST(FormatGrouped, EachBufferKeepsItsOwnText)
{
    char first[32], second[32], third[32];
    format_grouped(UINT64_MAX, first);
    format_grouped(7, second);
    format_grouped(1234, third);
    EXPECT_STREQ(first, "18,446,744,073,709,551,615");
    EXPECT_STREQ(second, "7");
    EXPECT_STREQ(third, "1,234");
}

TEST(FormatAttributes, LettersByPosition)
{
    const struct {
        DWORD attributes;
        const char *letters;
    } rows[] = {
        {0x20, "----a-w"},        {0x10, "d-----w"},  {0x27, "--sha-r"},
        {0x10020, "-#---a-w"},    {0x8, "v-----w"},   {0x11, "d-----r"},
        {0x18, "d-----w"},        {0x0, "------w"},   {0x80, "------w"},
        {0x800, "-c----w"},       {0x100, "-----tw"}, {0x10000, "-#-----w"},
        {0x80000000, "-#-----w"}, {0x400, "------w"}, {0xFFFFFFFF, "d#cshatr"},
    };
    for (const auto &row : rows) {
        char out[9];
        format_attributes(row.attributes, out);
        EXPECT_STREQ(out, row.letters) << std::hex << row.attributes;
    }
}

TEST(FormatTimestamp, UtcCalendarFields)
{
    const struct {
        uint64_t ticks;
        const char *text;
    } rows[] = {
        {0, "1601-01-01 00:00:00"},
        {9999999, "1601-01-01 00:00:00"},
        {129525696000000000ULL, "2011-06-15 00:00:00"},
        {ticks_at(2024, 2, 29, 23, 59, 59) + 9999999, "2024-02-29 23:59:59"},
        {ticks_at(9999, 12, 31, 23, 59, 59), "9999-12-31 23:59:59"},
        {ticks_at(10000, 1, 1, 0, 0, 0), "10000-01-01 00:00:00"},
        {0x7FFFFFFFFFFFFFFFULL, "30828-09-14 02:48:05"},
    };
    for (const auto &row : rows) {
        char out[36];
        format_timestamp(filetime_of(row.ticks), out);
        EXPECT_STREQ(out, row.text) << row.ticks;
    }
}

TEST(FormatTimestamp, TimeWithTheTopBitSetKeepsTheColumnWidth)
{
    const uint64_t rows[] = {0x8000000000000000ULL, UINT64_MAX};
    for (uint64_t ticks : rows) {
        char out[36];
        memset(out, 'X', sizeof out);
        format_timestamp(filetime_of(ticks), out);
        ASSERT_NE(memchr(out, '\0', sizeof out), nullptr);
        EXPECT_EQ(strlen(out), 19u) << out;
    }
}

TEST(PrintEntry, PathLineWithoutLongListing)
{
    const struct {
        const char *drive, *directory, *name, *line;
    } rows[] = {
        {"", ".", "a.c", "a.c\n"},
        {"", ".\\.", "a.c", "a.c\n"},
        {"", ".\\sub", "b.c", "sub\\b.c\n"},
        {"", "src", "a.h", "src\\a.h\n"},
        {"", "", "a.sys", "\\a.sys\n"},
        {"C:", "", "a.c", "C:\\a.c\n"},
        {"C:", ".", "a.c", "C:a.c\n"},
        {"C:", ".\\sub", "b.c", "C:sub\\b.c\n"},
        {"", "\\\\srv\\sh", "a.c", "\\\\srv\\sh\\a.c\n"},
    };
    for (const auto &row : rows) {
        reset_globals();
        const WIN32_FIND_DATAA entry = make_entry(row.name, 0x20, 5);
        EXPECT_EQ(printed_entry(row.drive, row.directory, entry), row.line) << row.line;
    }
}

TEST(PrintEntry, LongListingColumns)
{
    const struct {
        const char *directory;
        WIN32_FIND_DATAA entry;
        const char *line;
    } rows[] = {
        {".", make_entry("report.txt", 0x20, 1234567, ticks_at(2024, 5, 17, 9, 30, 5)),
         "----a-w         1,234,567 2024-05-17 09:30:05  report.txt\n"},
        {".", make_entry("docs", 0x10, 0, ticks_at(2023, 11, 2, 16, 45, 0)),
         "d-----w                 0 2023-11-02 16:45:00  docs\n"},
        {".\\docs", make_entry("boot.ini", 0x27, 513, ticks_at(2024, 1, 9, 8, 0, 59)),
         "--sha-r               513 2024-01-09 08:00:59  docs\\boot.ini\n"},
        {"", make_entry("x", 0x10020, 0, 0),
         "-#---a-w                0 1601-01-01 00:00:00  \\x\n"},
        {".", make_entry("big", 0x20, 1000000000000ULL, 0),
         "----a-w   1,000,000,000,000 1601-01-01 00:00:00  big\n"},
    };
    for (const auto &row : rows) {
        reset_globals();
        settings.long_listing = 1;
        EXPECT_EQ(printed_entry("", row.directory, row.entry), row.line);
    }
}

TEST(PrintEntry, PathStartsInColumnFortyEightWhateverTheTime)
{
    const uint64_t times[] = {0, 0x8000000000000000ULL, UINT64_MAX};
    for (uint64_t ticks : times) {
        reset_globals();
        settings.long_listing = 1;
        const WIN32_FIND_DATAA entry = make_entry("name", 0x10020, 999999999999ULL, ticks);
        const std::string line = printed_entry("", ".", entry);
        EXPECT_EQ(line.find("name"), 47u) << line;
        EXPECT_EQ(line.size(), 47u + strlen("name\n")) << line;
    }
}

struct CountRow {
    DWORD attributes;
    uint64_t size;
    int32_t directories, files, hidden_system;
    uint64_t bytes, blocks;
};

void expect_run_totals(const RunTotals &got, const RunTotals &want)
{
    EXPECT_EQ(got.directories, want.directories);
    EXPECT_EQ(got.files, want.files);
    EXPECT_EQ(got.hidden_system, want.hidden_system);
    EXPECT_EQ(got.bytes, want.bytes);
    EXPECT_EQ(got.blocks, want.blocks);
}

void expect_grand_totals(const GrandTotals &got, const GrandTotals &want)
{
    EXPECT_EQ(got.entries, want.entries);
    EXPECT_EQ(got.directories, want.directories);
    EXPECT_EQ(got.files, want.files);
    EXPECT_EQ(got.visible_entries, want.visible_entries);
    EXPECT_EQ(got.bytes, want.bytes);
    EXPECT_EQ(got.blocks, want.blocks);
}

TEST(PrintEntry, CountsEveryListedEntry)
{
    const CountRow rows[] = {
        {0x20, 0, 0, 1, 0, 0, 0},
        {0x20, 1, 0, 1, 0, 1, 1},
        {0x20, 512, 0, 1, 0, 512, 1},
        {0x20, 513, 0, 1, 0, 513, 2},
        {0x20, 1048576, 0, 1, 0, 1048576, 2048},
        {0x20, 4294967296ULL, 0, 1, 0, 4294967296ULL, 8388608},
        {0x20, UINT64_MAX, 0, 1, 0, UINT64_MAX, 36028797018963968ULL},
        {0x10, 0, 1, 0, 0, 0, 0},
        {0x10, 4096, 1, 0, 0, 4096, 8},
        {0x12, 0, 1, 0, 1, 0, 0},
        {0x18, 0, 1, 0, 0, 0, 0},
        {0x8, 100, 0, 0, 0, 100, 1},
        {0xA, 0, 0, 0, 1, 0, 0},
        {0x2, 0, 0, 1, 1, 0, 0},
        {0x4, 0, 0, 1, 1, 0, 0},
        {0x6, 0, 0, 1, 1, 0, 0},
        {0x80, 0, 0, 1, 0, 0, 0},
    };
    for (const CountRow &row : rows) {
        for (int long_listing = 0; long_listing < 2; long_listing++) {
            reset_globals();
            settings.long_listing = long_listing;
            printed_entry("", ".", make_entry("e", row.attributes, row.size));
            SCOPED_TRACE("0x" + std::to_string(row.attributes) + " size " +
                         std::to_string(row.size) + " -l " + std::to_string(long_listing));
            expect_run_totals(run_totals, RunTotals{row.directories, row.files, row.hidden_system,
                                                    row.bytes, row.blocks});
        }
    }
}

TEST(PrintEntry, CountersAddUp)
{
    reset_globals();
    const WIN32_FIND_DATAA entries[] = {make_entry("a", 0x20, 1000), make_entry("b", 0x22, 513),
                                        make_entry("c", 0x20, 0), make_entry("d", 0x10, 0)};
    for (const WIN32_FIND_DATAA &entry : entries) printed_entry("", ".", entry);
    expect_run_totals(run_totals, RunTotals{1, 3, 1, 1513, 4});
}

std::string captured_argument_summary(int32_t entries, const RunTotals &totals)
{
    run_totals = totals;
    testing::internal::CaptureStdout();
    print_argument_summary(stdout, entries);
    return without_cr(testing::internal::GetCapturedStdout());
}

std::string captured_total_summary(const GrandTotals &grand)
{
    testing::internal::CaptureStdout();
    print_total_summary(stdout, &grand);
    return without_cr(testing::internal::GetCapturedStdout());
}

TEST(Summaries, ArgumentBlocks)
{
    EXPECT_EQ(captured_argument_summary(3, RunTotals{0, 3, 1, 1513, 4}),
              "\n"
              " Entries:                3  (2)\n"
              " Directories:            0  Files:             3\n"
              " Bytes:              1,513  Blocks:            4\n");
    EXPECT_EQ(captured_argument_summary(2, RunTotals{1, 1, 0, 1048576, 2048}),
              "\n"
              " Entries:                2  (2)\n"
              " Directories:            1  Files:             1\n"
              " Bytes:          1,048,576  Blocks:        2,048\n");
    EXPECT_EQ(captured_argument_summary(0, RunTotals{}),
              " Entries:                0  (0)\n"
              " Directories:            0  Files:             0\n"
              " Bytes:                  0  Blocks:            0\n");
    EXPECT_EQ(captured_argument_summary(1, RunTotals{0, 1, 0, 1000000000000ULL, 1953125000}),
              "\n"
              " Entries:                1  (1)\n"
              " Directories:            0  Files:             1\n"
              " Bytes:       1,000,000,000,000  Blocks: 1,953,125,000\n");
    EXPECT_EQ(captured_argument_summary(2, RunTotals{2, 0, 2, 0, 0}),
              "\n"
              " Entries:                2  (0)\n"
              " Directories:            2  Files:             0\n"
              " Bytes:                  0  Blocks:            0\n");
}

TEST(Summaries, TotalBlock)
{
    EXPECT_EQ(captured_total_summary(GrandTotals{5, 1, 4, 4, 1050089, 2052}),
              "\n"
              " Total Entries:                5  (4)\n"
              " Total Directories:            1  Files:             4\n"
              " Total Bytes:          1,050,089  Blocks:        2,052\n");
    EXPECT_EQ(captured_total_summary(GrandTotals{}),
              "\n"
              " Total Entries:                0  (0)\n"
              " Total Directories:            0  Files:             0\n"
              " Total Bytes:                  0  Blocks:            0\n");
}

TEST(AddGrandTotals, SumsOfTheArguments)
{
    reset_globals();
    GrandTotals grand = {};
    run_totals = RunTotals{0, 3, 1, 1513, 4};
    add_grand_totals(&grand, 3);
    run_totals = RunTotals{};
    add_grand_totals(&grand, 0);
    run_totals = RunTotals{1, 1, 0, 1048576, 2048};
    add_grand_totals(&grand, 2);
    expect_grand_totals(grand, GrandTotals{5, 1, 4, 4, 1050089, 2052});
}

TEST(SaturatingAdd, StopsAtTheLargestCount)
{
    const struct {
        int32_t a, b, sum;
    } rows[] = {
        {0, 0, 0},
        {1, 2, 3},
        {INT32_MAX - 1, 1, INT32_MAX},
        {INT32_MAX, 0, INT32_MAX},
        {INT32_MAX, 1, INT32_MAX},
        {INT32_MAX - 5, 10, INT32_MAX},
        {INT32_MAX, INT32_MAX, INT32_MAX},
        {INT32_MAX, -1, INT32_MAX - 1},
    };
    for (const auto &row : rows)
        EXPECT_EQ(saturating_add(row.a, row.b), row.sum) << row.a << " + " << row.b;
}

TEST(SaturatingAdd, CountersAndTotalsStayAtTheLargestCount)
{
    reset_globals();
    run_totals = RunTotals{INT32_MAX, INT32_MAX, INT32_MAX, 0, 0};
    const WIN32_FIND_DATAA entries[] = {make_entry("f", 0x22, 1), make_entry("d", 0x14, 1)};
    for (const WIN32_FIND_DATAA &entry : entries) printed_entry("", ".", entry);
    EXPECT_EQ(run_totals.directories, INT32_MAX);
    EXPECT_EQ(run_totals.files, INT32_MAX);
    EXPECT_EQ(run_totals.hidden_system, INT32_MAX);

    const std::string block = captured_argument_summary(INT32_MAX, run_totals);
    EXPECT_NE(block.find(" Entries:     2,147,483,647  (0)\n"), std::string::npos) << block;
    EXPECT_NE(block.find(" Directories: 2,147,483,647  Files:  2,147,483,647\n"), std::string::npos)
        << block;

    GrandTotals grand = {INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1, 0, 0};
    run_totals = RunTotals{2, 2, 0, 0, 0};
    add_grand_totals(&grand, 4);
    add_grand_totals(&grand, 4);
    expect_grand_totals(grand, GrandTotals{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, 0, 0});
    const std::string totals_block = captured_total_summary(grand);
    EXPECT_NE(totals_block.find(" Total Entries:     2,147,483,647  (2,147,483,647)\n"),
              std::string::npos)
        << totals_block;
    EXPECT_NE(totals_block.find(" Total Directories: 2,147,483,647  Files:  2,147,483,647\n"),
              std::string::npos)
        << totals_block;
}

}  // namespace
