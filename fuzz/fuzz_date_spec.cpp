// Fuzzes parse_date_spec against a reading of its own: the digit groups give
// year (4 digits at most), month, day, hour, minute and second (2 each), a
// year up to 100 lies in the 1900s, and the calendar check and the count of
// 100-ns ticks since 1601 are computed here from the day number.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "trawl.h"

namespace {

struct Fields {
    int value[6];  // year, month, day, hour, minute, second
};

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// False when the text holds no digit.
bool read_fields(const char *text, Fields *fields)
{
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    const int defaults[6] = {0, 1, 1, 0, 0, 0};
    for (int f = 0; f < 6; ++f) {
        while (*text != '\0' && !is_digit(*text)) ++text;
        if (*text == '\0') {
            if (f == 0) return false;
            fields->value[f] = defaults[f];
            continue;
        }
        int value = 0;
        for (int k = 0; k < widths[f] && is_digit(*text); ++k) value = value * 10 + (*text++ - '0');
        fields->value[f] = value;
    }
    if (fields->value[0] <= 100) fields->value[0] += 1900;
    return true;
}

bool is_leap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int month_length(int year, int month)
{
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : lengths[month - 1];
}

// Days since 1601-01-01, counted by whole years and months.
std::int64_t days_since_1601(int year, int month, int day)
{
    std::int64_t days = 0;
    for (int y = 1601; y < year; ++y) days += is_leap(y) ? 366 : 365;
    for (int m = 1; m < month; ++m) days += month_length(year, m);
    return days + day - 1;
}

bool expected_time(const char *text, std::uint64_t *ticks)
{
    Fields f;
    if (!read_fields(text, &f)) return false;
    const int *v = f.value;
    if (v[0] < 1601 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > month_length(v[0], v[1]))
        return false;
    if (v[3] > 23 || v[4] > 59 || v[5] > 59) return false;
    std::int64_t seconds =
        days_since_1601(v[0], v[1], v[2]) * 86400 + v[3] * 3600 + v[4] * 60 + v[5];
    *ticks = static_cast<std::uint64_t>(seconds) * 10000000u;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));
    FILETIME parsed = {};
    const int accepted = parse_date_spec(text.c_str(), &parsed);
    std::uint64_t expected = 0;
    const bool should_accept = expected_time(text.c_str(), &expected);
    if (accepted != (should_accept ? 1 : 0) || (should_accept && ticks_of(parsed) != expected)) {
        std::fprintf(stderr,
                     "parse_date_spec(\"%s\"): returned %d, ticks %llu; expected %d, ticks %llu\n",
                     text.c_str(), accepted, static_cast<unsigned long long>(ticks_of(parsed)),
                     should_accept ? 1 : 0, static_cast<unsigned long long>(expected));
        std::abort();
    }
    return 0;
}
