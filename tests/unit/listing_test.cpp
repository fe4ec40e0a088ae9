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
    int32_t visible_entries, directories, files;
    uint64_t bytes, blocks;
};

void expect_totals(const Totals &got, const Totals &want)
{
    EXPECT_EQ(got.entries, want.entries);
    EXPECT_EQ(got.visible_entries, want.visible_entries);
    EXPECT_EQ(got.directories, want.directories);
    EXPECT_EQ(got.files, want.files);
    EXPECT_EQ(got.bytes, want.bytes);
    EXPECT_EQ(got.blocks, want.blocks);
}

TEST(CountEntry, CountsEveryListedEntry)
{
    const CountRow rows[] = {
        {0x20, 0, 1, 0, 1, 0, 0},
        {0x20, 1, 1, 0, 1, 1, 1},
        {0x20, 512, 1, 0, 1, 512, 1},
        {0x20, 513, 1, 0, 1, 513, 2},
        {0x20, 1048576, 1, 0, 1, 1048576, 2048},
        {0x20, 4294967296ULL, 1, 0, 1, 4294967296ULL, 8388608},
        {0x20, UINT64_MAX, 1, 0, 1, UINT64_MAX, 36028797018963968ULL},
        {0x10, 0, 1, 1, 0, 0, 0},
        {0x10, 4096, 1, 1, 0, 4096, 8},
        {0x12, 0, 0, 1, 0, 0, 0},
        {0x18, 0, 1, 1, 0, 0, 0},
        {0x8, 100, 1, 0, 0, 100, 1},
        {0xA, 0, 0, 0, 0, 0, 0},
        {0x2, 0, 0, 0, 1, 0, 0},
        {0x4, 0, 0, 0, 1, 0, 0},
        {0x6, 0, 0, 0, 1, 0, 0},
        {0x80, 0, 1, 0, 1, 0, 0},
    };
    for (const CountRow &row : rows) {
        Totals totals = {};
        const WIN32_FIND_DATAA entry = make_entry("e", row.attributes, row.size);
        count_entry(&totals, &entry);
        SCOPED_TRACE("0x" + std::to_string(row.attributes) + " size " + std::to_string(row.size));
        expect_totals(totals, Totals{1, row.visible_entries, row.directories, row.files, row.bytes,
                                     row.blocks});
    }
}

TEST(CountEntry, CountersAddUp)
{
    Totals totals = {};
    const WIN32_FIND_DATAA entries[] = {make_entry("a", 0x20, 1000), make_entry("b", 0x22, 513),
                                        make_entry("c", 0x20, 0), make_entry("d", 0x10, 0)};
    for (const WIN32_FIND_DATAA &entry : entries) count_entry(&totals, &entry);
    expect_totals(totals, Totals{4, 3, 1, 3, 1513, 4});
}

std::string captured_summary(SummaryScope scope, const Totals &totals)
{
    testing::internal::CaptureStdout();
    print_summary(scope, &totals);
    return without_cr(testing::internal::GetCapturedStdout());
}

TEST(Summaries, ArgumentBlocks)
{
    EXPECT_EQ(captured_summary(ARGUMENT_SUMMARY, Totals{3, 2, 0, 3, 1513, 4}),
              "\n"
              " Entries:                3  (2)\n"
              " Directories:            0  Files:             3\n"
              " Bytes:              1,513  Blocks:            4\n");
    EXPECT_EQ(captured_summary(ARGUMENT_SUMMARY, Totals{2, 2, 1, 1, 1048576, 2048}),
              "\n"
              " Entries:                2  (2)\n"
              " Directories:            1  Files:             1\n"
              " Bytes:          1,048,576  Blocks:        2,048\n");
    EXPECT_EQ(captured_summary(ARGUMENT_SUMMARY, Totals{}),
              " Entries:                0  (0)\n"
              " Directories:            0  Files:             0\n"
              " Bytes:                  0  Blocks:            0\n");
    EXPECT_EQ(captured_summary(ARGUMENT_SUMMARY, Totals{1, 1, 0, 1, 1000000000000ULL, 1953125000}),
              "\n"
              " Entries:                1  (1)\n"
              " Directories:            0  Files:             1\n"
              " Bytes:       1,000,000,000,000  Blocks: 1,953,125,000\n");
}

TEST(Summaries, TotalBlock)
{
    EXPECT_EQ(captured_summary(RUN_SUMMARY, Totals{5, 4, 1, 4, 1050089, 2052}),
              "\n"
              " Total Entries:                5  (4)\n"
              " Total Directories:            1  Files:             4\n"
              " Total Bytes:          1,050,089  Blocks:        2,052\n");
    EXPECT_EQ(captured_summary(RUN_SUMMARY, Totals{}),
              "\n"
              " Total Entries:                0  (0)\n"
              " Total Directories:            0  Files:             0\n"
              " Total Bytes:                  0  Blocks:            0\n");
}

TEST(AddTotals, SumsOfTheArguments)
{
    Totals run = {};
    const Totals first = {3, 2, 0, 3, 1513, 4};
    const Totals second = {2, 2, 1, 1, 1048576, 2048};
    const Totals nothing = {};
    add_totals(&run, &first);
    add_totals(&run, &nothing);
    add_totals(&run, &second);
    expect_totals(run, Totals{5, 4, 1, 4, 1050089, 2052});
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
    Totals totals = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, 0, 0};
    const WIN32_FIND_DATAA entries[] = {make_entry("f", 0x20, 1), make_entry("d", 0x10, 1)};
    for (const WIN32_FIND_DATAA &entry : entries) count_entry(&totals, &entry);
    EXPECT_EQ(totals.entries, INT32_MAX);
    EXPECT_EQ(totals.visible_entries, INT32_MAX);
    EXPECT_EQ(totals.files, INT32_MAX);
    EXPECT_EQ(totals.directories, INT32_MAX);

    const Totals hidden = {INT32_MAX, 0, INT32_MAX, INT32_MAX, 0, 0};
    const std::string block = captured_summary(ARGUMENT_SUMMARY, hidden);
    EXPECT_NE(block.find(" Entries:     2,147,483,647  (0)\n"), std::string::npos) << block;
    EXPECT_NE(block.find(" Directories: 2,147,483,647  Files:  2,147,483,647\n"), std::string::npos)
        << block;

    Totals run = {INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1, 0, 0};
    const Totals argument = {4, 4, 2, 2, 0, 0};
    add_totals(&run, &argument);
    add_totals(&run, &argument);
    EXPECT_EQ(run.entries, INT32_MAX);
    EXPECT_EQ(run.visible_entries, INT32_MAX);
    EXPECT_EQ(run.directories, INT32_MAX);
    EXPECT_EQ(run.files, INT32_MAX);
    const std::string totals_block = captured_summary(RUN_SUMMARY, run);
    EXPECT_NE(totals_block.find(" Total Entries:     2,147,483,647  (2,147,483,647)\n"),
              std::string::npos)
        << totals_block;
    EXPECT_NE(totals_block.find(" Total Directories: 2,147,483,647  Files:  2,147,483,647\n"),
              std::string::npos)
        << totals_block;
}

}  // namespace
