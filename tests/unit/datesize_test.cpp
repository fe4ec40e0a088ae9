// The -d and -s value parsers: which texts they accept and what they make
// of them.  Expected instants are computed here from the calendar, not by
// the conversion the parser uses.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "command_test_support.h"
#include "trawl.h"

namespace {

struct AcceptedDate {
    const char *text;
    uint64_t ticks;
};

TEST(ParseDateSpec, AcceptedTextsNameTheirInstant)
{
    const AcceptedDate rows[] = {
        {"2011-06-15", 129525696000000000ULL},
        {"1601", 0},
        {"+2011-06-15:14:45", ticks_at(2011, 6, 15, 14, 45)},
        {"2011-06-15 14:45:30", ticks_at(2011, 6, 15, 14, 45, 30)},
        {"20110615144530", ticks_at(2011, 6, 15, 14, 45, 30)},
        {"2011y6m15d", ticks_at(2011, 6, 15)},
        {"2011:12", ticks_at(2011, 12, 1)},
        {"2011-123", ticks_at(2011, 12, 3)},
        {"11-6-15", ticks_at(1911, 6, 15)},
        {"7", ticks_at(1907, 1, 1)},
        {"0", ticks_at(1900, 1, 1)},
        {"99", ticks_at(1999, 1, 1)},
        {"100", ticks_at(2000, 1, 1)},
        {"0099", ticks_at(1999, 1, 1)},
        {"2000-02-29", ticks_at(2000, 2, 29)},
        {"2011-06-15:14:45:30:99", ticks_at(2011, 6, 15, 14, 45, 30)},
        {"9999-12-31:23:59:59", ticks_at(9999, 12, 31, 23, 59, 59)},
        {"!2011-06-15", ticks_at(2011, 6, 15)},
        {"-2011-06-15", ticks_at(2011, 6, 15)},
    };
    for (const AcceptedDate &row : rows) {
        FILETIME out = {0xDEADBEEF, 0xDEADBEEF};
        EXPECT_EQ(parse_date_spec(row.text, &out), 1) << row.text;
        EXPECT_EQ(ticks_of(out), row.ticks) << row.text;
    }
}

TEST(ParseDateSpec, OurCalendarAgreesWithTheKnownInstant)
{
    // Guards the helper above: the one instant the tables give literally.
    EXPECT_EQ(ticks_at(2011, 6, 15), 129525696000000000ULL);
    EXPECT_EQ(ticks_at(1601, 1, 1), 0u);
}

TEST(ParseDateSpec, RejectedTexts)
{
    const char *rows[] = {
        "101",  // years 101 to 1600 are taken as they stand
        "1600-12-31",
        "12345",        // year 1234, month 5
        "2011-006-15",  // month 00, day 6, hour 15
        "2011-13",
        "2011-04-31",
        "1900-02-29",
        "2011-02-29",
        "2011-06-00",
        "2011-06-15:24",
        "2011-06-15:23:60",
        "2011-06-15:23:59:60",
        "",
        "+",
        "!",
        "today",
    };
    for (const char *text : rows) {
        FILETIME out = {};
        EXPECT_EQ(parse_date_spec(text, &out), 0) << "'" << text << "'";
    }
}

struct AcceptedSize {
    const char *text;
    uint64_t bytes;
};

TEST(ParseSizeSpec, AllDigitsFormOneNumber)
{
    const AcceptedSize rows[] = {
        {"+1000", 1000},
        {"-10k", 10},
        {"!0", 0},
        {"1,000,000", 1000000},
        {"+ 4 096", 4096},
        {"1.5", 15},
        {"4k2", 42},
        {"0000000000000000000000001", 1},
        {"", 0},
        {"+", 0},
        {"none", 0},
        {"18446744073709551615", UINT64_MAX},
        {"000000000000000000000018446744073709551615", UINT64_MAX},
        {"4294967296", 4294967296ULL},
    };
    for (const AcceptedSize &row : rows) {
        uint64_t out = 12345;
        EXPECT_EQ(parse_size_spec(row.text, &out), 1) << "'" << row.text << "'";
        EXPECT_EQ(out, row.bytes) << "'" << row.text << "'";
    }
}

TEST(ParseSizeSpec, NumbersBeyondSixtyFourBitsLeaveTheOutputAlone)
{
    const char *rows[] = {
        "18446744073709551616",  "184467440737095516150",   "23058430092136939520",
        "1 8446744073709551616", "99999999999999999999999",
    };
    for (const char *text : rows) {
        uint64_t out = 777;
        EXPECT_EQ(parse_size_spec(text, &out), 0) << text;
        EXPECT_EQ(out, 777u) << text;
    }
}

}  // namespace
