// The platform layer's contract, checked against whichever implementation the
// build has: the POSIX layer natively, Wine's (or Windows') own calls in the
// Windows build.  The same cases pass on both.
#include "platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

const uint64_t TICKS_PER_DAY = 86400 * TICKS_PER_SECOND;
const uint64_t LAST_TICK_OF_30827 = 9223149887999999999ULL;

// Wine sets this in every process it starts; Windows and the native build
// have no such variable.
bool running_on_wine()
{
    return std::getenv("WINECONFIGDIR") != nullptr;
}

FILETIME filetime_of(uint64_t ticks)
{
    FILETIME t;
    set_filetime(&t, ticks);
    return t;
}

SYSTEMTIME system_time(int year, int month, int day, int hour, int minute, int second, int ms)
{
    SYSTEMTIME t;
    t.wYear = (WORD)year;
    t.wMonth = (WORD)month;
    t.wDayOfWeek = 0;
    t.wDay = (WORD)day;
    t.wHour = (WORD)hour;
    t.wMinute = (WORD)minute;
    t.wSecond = (WORD)second;
    t.wMilliseconds = (WORD)ms;
    return t;
}

struct TimeVector {
    int year, month, day, hour, minute, second, ms;
    bool valid;
    uint64_t ticks;      // when valid
    int day_of_week;     // when valid; 0 is Sunday
    bool wine8_accepts;  // Wine 8 accepts this invalid date, Windows does not
};

// clang-format off
const TimeVector TIME_VECTORS[] = {
    {1601, 1, 1, 0, 0, 0, 0, true, 0, 1, false},
    {1601, 1, 1, 0, 0, 0, 1, true, 10000, 1, false},
    {1601, 12, 31, 23, 59, 59, 999, true, 315359999990000ULL, 1, false},
    {1970, 1, 1, 0, 0, 0, 0, true, 116444736000000000ULL, 4, false},
    {2011, 6, 15, 0, 0, 0, 0, true, 129525696000000000ULL, 3, false},
    {2000, 2, 29, 0, 0, 0, 0, true, 125962560000000000ULL, 2, false},
    {2400, 2, 29, 0, 0, 0, 0, true, 252190368000000000ULL, 2, false},
    {9999, 12, 31, 23, 59, 59, 0, true, 2650467743990000000ULL, 5, false},
    {10000, 1, 1, 0, 0, 0, 0, true, 2650467744000000000ULL, 6, false},
    {30827, 12, 31, 23, 59, 59, 999, true, 9223149887999990000ULL, 5, false},
    {1600, 12, 31, 23, 59, 59, 999, false, 0, 0, false},
    {1900, 2, 29, 0, 0, 0, 0, false, 0, 0, true},
    {2011, 2, 29, 0, 0, 0, 0, false, 0, 0, true},
    {2100, 2, 29, 0, 0, 0, 0, false, 0, 0, true},
    {2011, 4, 31, 0, 0, 0, 0, false, 0, 0, false},
    {2011, 0, 1, 0, 0, 0, 0, false, 0, 0, false},
    {2011, 13, 1, 0, 0, 0, 0, false, 0, 0, false},
    {2011, 1, 0, 0, 0, 0, 0, false, 0, 0, false},
    {2011, 1, 32, 0, 0, 0, 0, false, 0, 0, false},
    {2011, 1, 1, 24, 0, 0, 0, false, 0, 0, false},
    {2011, 1, 1, 0, 60, 0, 0, false, 0, 0, false},
    {2011, 1, 1, 0, 0, 60, 0, false, 0, 0, false},
    {2011, 1, 1, 0, 0, 0, 1000, false, 0, 0, false},
    {30828, 1, 1, 0, 0, 0, 0, false, 0, 0, true},
    {65535, 1, 1, 0, 0, 0, 0, false, 0, 0, false},
};
// clang-format on

std::string describe(const TimeVector &v)
{
    char text[64];
    snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d.%03d", v.year, v.month, v.day, v.hour,
             v.minute, v.second, v.ms);
    return text;
}

TEST(SystemTimeToFileTime, MatchesTheTable)
{
    for (const TimeVector &v : TIME_VECTORS) {
        SCOPED_TRACE(describe(v));
        if (!v.valid && v.wine8_accepts && running_on_wine())
            continue;  // a known Wine 8 fault; Windows and the native build reject it
        SYSTEMTIME in = system_time(v.year, v.month, v.day, v.hour, v.minute, v.second, v.ms);
        in.wDayOfWeek = 6;  // ignored
        FILETIME out = filetime_of(0xDEADBEEFULL);
        BOOL ok = SystemTimeToFileTime(&in, &out);
        EXPECT_EQ(ok != 0, v.valid);
        if (v.valid) {
            EXPECT_EQ(ticks_of(out), v.ticks);
        }
    }
}

TEST(FileTimeToSystemTime, MatchesTheTable)
{
    for (const TimeVector &v : TIME_VECTORS) {
        if (!v.valid) continue;
        SCOPED_TRACE(describe(v));
        FILETIME in = filetime_of(v.ticks);
        SYSTEMTIME out = system_time(0, 0, 0, 0, 0, 0, 0);
        ASSERT_TRUE(FileTimeToSystemTime(&in, &out));
        EXPECT_EQ(out.wYear, v.year);
        EXPECT_EQ(out.wMonth, v.month);
        EXPECT_EQ(out.wDay, v.day);
        EXPECT_EQ(out.wHour, v.hour);
        EXPECT_EQ(out.wMinute, v.minute);
        EXPECT_EQ(out.wSecond, v.second);
        EXPECT_EQ(out.wMilliseconds, v.ms);
        EXPECT_EQ(out.wDayOfWeek, v.day_of_week);
    }
}

TEST(FileTimeToSystemTime, CoversTheWholeRangeAndNoMore)
{
    struct Case {
        uint64_t ticks;
        bool valid;
        int year, month, day, hour, minute, second, ms, day_of_week;
    };
    // clang-format off
    const Case cases[] = {
        {LAST_FILETIME, true, 30828, 9, 14, 2, 48, 5, 477, 4},
        {LAST_TICK_OF_30827, true, 30827, 12, 31, 23, 59, 59, 999, 5},
        {9999, true, 1601, 1, 1, 0, 0, 0, 0, 1},
        {LAST_FILETIME + 1, false, 0, 0, 0, 0, 0, 0, 0, 0},
        {~0ULL, false, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ticks);
        FILETIME in = filetime_of(c.ticks);
        SYSTEMTIME out = system_time(0, 0, 0, 0, 0, 0, 0);
        BOOL ok = FileTimeToSystemTime(&in, &out);
        ASSERT_EQ(ok != 0, c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(out.wYear, c.year);
        EXPECT_EQ(out.wMonth, c.month);
        EXPECT_EQ(out.wDay, c.day);
        EXPECT_EQ(out.wHour, c.hour);
        EXPECT_EQ(out.wMinute, c.minute);
        EXPECT_EQ(out.wSecond, c.second);
        EXPECT_EQ(out.wMilliseconds, c.ms);
        EXPECT_EQ(out.wDayOfWeek, c.day_of_week);
    }
}

bool is_leap_year(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int month_length(int year, int month)
{
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return lengths[month - 1] + (month == 2 && is_leap_year(year) ? 1 : 0);
}

// Every day from 1601 to 2800 must follow its predecessor in the calendar
// and in the week, which checks every month length and leap rule there is.
TEST(FileTimeToSystemTime, DaysFollowOneAnotherFrom1601To2800)
{
    SYSTEMTIME previous;
    FILETIME first = filetime_of(0);
    ASSERT_TRUE(FileTimeToSystemTime(&first, &previous));
    for (uint64_t day = 1;; day++) {
        FILETIME in = filetime_of(day * TICKS_PER_DAY);
        SYSTEMTIME t;
        ASSERT_TRUE(FileTimeToSystemTime(&in, &t));
        if (t.wYear > 2800) break;
        int y = previous.wYear, m = previous.wMonth, d = previous.wDay + 1;
        if (d > month_length(y, m)) {
            d = 1;
            if (++m > 12) {
                m = 1;
                y++;
            }
        }
        ASSERT_EQ(t.wYear, y) << "day " << day;
        ASSERT_EQ(t.wMonth, m) << "day " << day;
        ASSERT_EQ(t.wDay, d) << "day " << day;
        ASSERT_EQ(t.wDayOfWeek, (previous.wDayOfWeek + 1) % 7) << "day " << day;
        ASSERT_EQ(t.wHour + t.wMinute + t.wSecond + t.wMilliseconds, 0) << "day " << day;
        previous = t;
    }
}

TEST(TimeConversion, RoundTripsRandomTimesTruncatedToMilliseconds)
{
    std::mt19937_64 random(20111615);
    std::uniform_int_distribution<uint64_t> any_tick(0, LAST_TICK_OF_30827);
    for (int i = 0; i < 200000; i++) {
        uint64_t ticks = any_tick(random);
        FILETIME in = filetime_of(ticks);
        SYSTEMTIME broken_down;
        ASSERT_TRUE(FileTimeToSystemTime(&in, &broken_down)) << ticks;
        FILETIME back = filetime_of(0);
        ASSERT_TRUE(SystemTimeToFileTime(&broken_down, &back)) << ticks;
        ASSERT_EQ(ticks_of(back), ticks - ticks % 10000) << ticks;
    }
}

// A scratch directory below the system's temporary directory, removed
// afterwards.  Paths handed to the enumeration use '\', as the command's do.
class EnumerationTest : public ::testing::Test {
  protected:
    fs::path root;

    void SetUp() override
    {
        std::string name =
            "compat_test_" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        root = fs::temp_directory_path() / name;
        ASSERT_TRUE(fs::create_directory(root));
    }

    void TearDown() override
    {
        std::error_code ignored;
        for (const auto &entry : fs::recursive_directory_iterator(root, ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root, ignored);
    }

    void write_file(const std::string &name, size_t size)
    {
        std::ofstream out(root / name, std::ios::binary);
        out << std::string(size, 'x');
    }

    std::string spec_of(const fs::path &dir) { return dir.string() + "\\*"; }
};

struct Listed {
    int times_seen = 0;
    WIN32_FIND_DATAA data;
};

// Enumerates one directory completely, completing every record.
std::map<std::string, Listed> list_directory(const std::string &spec)
{
    std::map<std::string, Listed> listed;
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(spec.c_str(), &data);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << spec;
    if (handle == INVALID_HANDLE_VALUE) return listed;
    do {
        complete_find_data(handle, &data, FIND_DATA_ALL);
        Listed &entry = listed[data.cFileName];
        entry.times_seen++;
        entry.data = data;
    } while (FindNextFileA(handle, &data));
    EXPECT_FALSE(FindNextFileA(handle, &data));
    EXPECT_TRUE(FindClose(handle));
    return listed;
}

TEST_F(EnumerationTest, DeliversEveryEntryOnceWithItsAttributesAndSize)
{
    write_file("alpha.txt", 5);
    write_file("empty", 0);
    write_file("big.bin", 70000);
    write_file(".hidden", 3);
    write_file("readonly", 1);
    fs::create_directory(root / "sub");
    fs::create_directory(root / ".hdir");
    fs::permissions(root / "readonly",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    struct Expected {
        const char *name;
        DWORD attributes;
        uint64_t size;
    };
    // clang-format off
    const Expected expected[] = {
        {".", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"..", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"alpha.txt", FILE_ATTRIBUTE_ARCHIVE, 5},
        {"empty", FILE_ATTRIBUTE_ARCHIVE, 0},
        {"big.bin", FILE_ATTRIBUTE_ARCHIVE, 70000},
        {".hidden", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, 3},
        {"readonly", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 1},
        {"sub", FILE_ATTRIBUTE_DIRECTORY, 0},
        {".hdir", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN, 0},
    };
    // clang-format on
    std::map<std::string, Listed> listed = list_directory(spec_of(root));
    EXPECT_EQ(listed.size(), sizeof expected / sizeof expected[0]);
    for (const Expected &e : expected) {
        SCOPED_TRACE(e.name);
        auto found = listed.find(e.name);
        ASSERT_NE(found, listed.end());
        const WIN32_FIND_DATAA &data = found->second.data;
        EXPECT_EQ(found->second.times_seen, 1);
        EXPECT_EQ(data.dwFileAttributes, e.attributes);
        EXPECT_EQ((uint64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow, e.size);
    }
    // Names that are valid 8.3 names have no short name on either system.
    EXPECT_STREQ(listed["alpha.txt"].data.cAlternateFileName, "");
    EXPECT_STREQ(listed["sub"].data.cAlternateFileName, "");
}

TEST_F(EnumerationTest, LastWriteTimeIsTheCurrentTimeForANewFile)
{
    uint64_t before = ((uint64_t)std::time(nullptr) + 11644473600ULL) * TICKS_PER_SECOND;
    write_file("new", 1);
    uint64_t after = ((uint64_t)std::time(nullptr) + 11644473600ULL) * TICKS_PER_SECOND;

    std::map<std::string, Listed> listed = list_directory(spec_of(root));
    ASSERT_EQ(listed.count("new"), 1u);
    uint64_t written = ticks_of(listed["new"].data.ftLastWriteTime);
    // One second of slack each way: the clocks round differently.  time()
    // reads the coarse clock, which a file's time (taken from the fine one
    // on current Linux) may pass by a tick across the turn of a second.
    EXPECT_GE(written, before - TICKS_PER_SECOND);
    EXPECT_LE(written, after + 2 * TICKS_PER_SECOND);
}

TEST_F(EnumerationTest, SpecsOfMaxPathCharactersOrMoreFail)
{
    const size_t around_name = spec_of(root).size() + 1;  // root, '\', name, '\', '*'
    ASSERT_LT(around_name, 259u - 1);
    struct Case {
        size_t spec_length;
        bool accepted;
        bool wine8_accepts;  // Wine 8 fails only from 261 characters on
    };
    const Case cases[] = {
        {258, true, true}, {259, true, true}, {260, false, true}, {261, false, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.spec_length);
        fs::path dir = root / std::string(c.spec_length - around_name, 'n');
        ASSERT_TRUE(fs::create_directory(dir));
        std::string spec = spec_of(dir);
        ASSERT_EQ(spec.size(), c.spec_length);
        bool expect_accepted = running_on_wine() ? c.wine8_accepts : c.accepted;

        WIN32_FIND_DATAA data;
        HANDLE handle = FindFirstFileA(spec.c_str(), &data);
        EXPECT_EQ(handle != INVALID_HANDLE_VALUE, expect_accepted);
        if (handle != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(FindClose(handle));
        }
    }
}

TEST_F(EnumerationTest, MissingDirectoryOrFileFails)
{
    write_file("plain", 1);
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(spec_of(root / "missing").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA(spec_of(root / "plain").c_str(), &data), INVALID_HANDLE_VALUE);
}

TEST_F(EnumerationTest, OutputToAFileIsBlockBuffered)
{
    fs::path file = root / "out.txt";
    FILE *stream = std::fopen(file.string().c_str(), "w");
    ASSERT_NE(stream, nullptr);
    set_output_buffering(stream);
    for (int i = 0; i < 100; i++) std::fputs("one line\n", stream);
    EXPECT_EQ(fs::file_size(file), 0u);
    std::fflush(stream);
    EXPECT_GE(fs::file_size(file), 900u);  // Windows writes CR LF
    std::fclose(stream);
}

}  // namespace
