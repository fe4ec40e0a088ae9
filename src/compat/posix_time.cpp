// The Win32 time conversions, written directly: proleptic Gregorian calendar,
// UTC, 100-ns ticks since 1601-01-01 00:00:00.
#include "find_data.h"
#include "win32.h"

namespace {

const uint64_t TICKS_PER_MILLISECOND = TICKS_PER_SECOND / 1000;
const uint64_t MILLISECONDS_PER_DAY = 86400000;
const uint64_t TICKS_PER_DAY = TICKS_PER_MILLISECOND * MILLISECONDS_PER_DAY;

// The calendar repeats every 400 years, which hold 146097 days.  1601 begins
// such a cycle, so counting years from there keeps every quantity unsigned.
const uint64_t DAYS_PER_400_YEARS = 146097;
const uint64_t DAYS_PER_100_YEARS = 36524;
const uint64_t DAYS_PER_4_YEARS = 1461;
const uint64_t DAYS_PER_YEAR = 365;
const unsigned FIRST_YEAR = 1601;
const unsigned LAST_YEAR = 30827;
const WORD MONDAY = 1;  // 1601-01-01

const WORD DAYS_IN_MONTH[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int is_leap_year(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned days_in_month(unsigned year, unsigned month)
{
    return DAYS_IN_MONTH[month - 1] + (month == 2 && is_leap_year(year) ? 1 : 0);
}

int fields_are_valid(const SYSTEMTIME &t)
{
    if (t.wYear < FIRST_YEAR || t.wYear > LAST_YEAR) return 0;
    if (t.wMonth < 1 || t.wMonth > 12) return 0;
    if (t.wDay < 1 || t.wDay > days_in_month(t.wYear, t.wMonth)) return 0;
    return t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59 && t.wMilliseconds <= 999;
}

// Days from 1601-01-01 to the first of the given year.
uint64_t days_before_year(unsigned year)
{
    uint64_t years = year - FIRST_YEAR;
    return years * DAYS_PER_YEAR + years / 4 - years / 100 + years / 400;
}

uint64_t days_before_month(unsigned year, unsigned month)
{
    uint64_t days = 0;
    for (unsigned m = 1; m < month; m++) days += days_in_month(year, m);
    return days;
}

// Splits a day count since 1601-01-01 into year, month and day.  The last
// year of a 4-year or 400-year cycle is the one that holds the extra day,
// hence the clamps to 3.
void set_date_of_day(uint64_t days, SYSTEMTIME *out)
{
    uint64_t cycles400 = days / DAYS_PER_400_YEARS;
    days %= DAYS_PER_400_YEARS;
    uint64_t centuries = days / DAYS_PER_100_YEARS;
    if (centuries == 4) centuries = 3;
    days -= centuries * DAYS_PER_100_YEARS;
    uint64_t cycles4 = days / DAYS_PER_4_YEARS;
    days %= DAYS_PER_4_YEARS;
    uint64_t years = days / DAYS_PER_YEAR;
    if (years == 4) years = 3;
    days -= years * DAYS_PER_YEAR;

    unsigned year =
        (unsigned)(FIRST_YEAR + cycles400 * 400 + centuries * 100 + cycles4 * 4 + years);
    unsigned month = 1;
    while (days >= days_in_month(year, month)) {
        days -= days_in_month(year, month);
        month++;
    }
    out->wYear = (WORD)year;
    out->wMonth = (WORD)month;
    out->wDay = (WORD)(days + 1);
}

}  // namespace

BOOL SystemTimeToFileTime(const SYSTEMTIME *in, FILETIME *out)
{
    if (!fields_are_valid(*in)) return FALSE;
    uint64_t days =
        days_before_year(in->wYear) + days_before_month(in->wYear, in->wMonth) + in->wDay - 1;
    uint64_t milliseconds = days * MILLISECONDS_PER_DAY +
                            ((in->wHour * 60u + in->wMinute) * 60u + in->wSecond) * 1000u +
                            in->wMilliseconds;
    set_filetime(out, milliseconds * TICKS_PER_MILLISECOND);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME *in, SYSTEMTIME *out)
{
    uint64_t ticks = ticks_of(*in);
    if (ticks > LAST_FILETIME) return FALSE;
    uint64_t days = ticks / TICKS_PER_DAY;
    uint64_t milliseconds = ticks % TICKS_PER_DAY / TICKS_PER_MILLISECOND;

    set_date_of_day(days, out);
    out->wDayOfWeek = (WORD)((days + MONDAY) % 7);
    out->wMilliseconds = (WORD)(milliseconds % 1000);
    uint64_t seconds = milliseconds / 1000;
    out->wSecond = (WORD)(seconds % 60);
    out->wMinute = (WORD)(seconds / 60 % 60);
    out->wHour = (WORD)(seconds / 3600);
    return TRUE;
}
