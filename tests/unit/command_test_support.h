// Helpers the unit tests of the command's functions share: fresh settings,
// synthetic directory entries, calendar instants worked out independently
// of the code under test, and text-stream line ends.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "trawl.h"

inline void reset_globals()
{
    settings = Settings{};
    run_totals = RunTotals{};
}

// Streams are text streams on Windows: compare with plain line ends.
inline std::string without_cr(const std::string &text)
{
    std::string plain;
    for (char c : text)
        if (c != '\r') plain += c;
    return plain;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
inline int64_t days_from_civil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned year_of_era = (unsigned)(year - era * 400);
    const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + (int64_t)day_of_era - 719468;
}

// 100-ns ticks since 1601-01-01 00:00:00 UTC.
inline uint64_t ticks_at(int year, unsigned month, unsigned day, unsigned hour = 0,
                         unsigned minute = 0, unsigned second = 0)
{
    const int64_t days = days_from_civil(year, month, day) - days_from_civil(1601, 1, 1);
    const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return (uint64_t)seconds * 10000000u;
}

inline FILETIME filetime_of(uint64_t ticks)
{
    FILETIME time;
    set_filetime(&time, ticks);
    return time;
}

inline WIN32_FIND_DATAA make_entry(const char *name, DWORD attributes, uint64_t size = 0,
                                   uint64_t written = 0)
{
    WIN32_FIND_DATAA entry;
    memset(&entry, 0, sizeof entry);
    strcpy(entry.cFileName, name);
    entry.dwFileAttributes = attributes;
    entry.nFileSizeHigh = (DWORD)(size >> 32);
    entry.nFileSizeLow = (DWORD)size;
    entry.ftLastWriteTime = filetime_of(written);
    return entry;
}
