// Date and size values of -d and -s.  Both read their digits leniently:
// every non-digit, a leading comparison prefix included, only separates.
#include "trawl.h"

static int is_digit(char c)
{
    return c >= '0' && c <= '9';
}

static const char *skip_to_digit(const char *cursor)
{
    while (*cursor && !is_digit(*cursor)) cursor++;
    return cursor;
}

// Reads at most max_digits digits; a longer group goes on in the next field.
static WORD read_field(const char **cursor, int max_digits)
{
    WORD value = 0;
    for (int n = 0; n < max_digits && is_digit(**cursor); n++, (*cursor)++)
        value = (WORD)(value * 10 + (**cursor - '0'));
    return value;
}

static int is_leap_year(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The conversion is what rejects an impossible date, but not every
// implementation of it knows that February 29 needs a leap year (Wine's
// does not), so the day is held against its month here as well.
static int day_fits_month(const SYSTEMTIME *time)
{
    static const unsigned char month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (time->wMonth < 1 || time->wMonth > 12) return 1;  // the conversion rejects it
    unsigned days = month_days[time->wMonth - 1];
    if (time->wMonth == 2 && is_leap_year(time->wYear)) days++;
    return time->wDay <= days;
}

// Fields are year, month, day, hour, minute, second, in that order, each
// taken from the next digit group; the calendar check is the conversion's.
int parse_date_spec(const char *text, FILETIME *out)
{
    SYSTEMTIME time = {};
    const char *cursor = skip_to_digit(text);
    if (!*cursor) return 0;

    WORD year = read_field(&cursor, 4);
    time.wYear = year <= 100 ? (WORD)(year + 1900) : year;
    time.wMonth = 1;
    time.wDay = 1;

    WORD *later_fields[] = {&time.wMonth, &time.wDay, &time.wHour, &time.wMinute, &time.wSecond};
    for (WORD *field : later_fields) {
        cursor = skip_to_digit(cursor);
        if (*cursor) *field = read_field(&cursor, 2);
    }
    if (!day_fits_month(&time)) return 0;
    return SystemTimeToFileTime(&time, out) ? 1 : 0;
}

// All the digits of the text form one number; only a number beyond 64 bits
// is rejected.
int parse_size_spec(const char *text, uint64_t *out)
{
    uint64_t value = 0;
    for (const char *cursor = text; *cursor; cursor++) {
        if (!is_digit(*cursor)) continue;
        unsigned digit = (unsigned)(*cursor - '0');
        if (value > (UINT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    *out = value;
    return 1;
}
