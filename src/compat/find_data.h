// What the command and the POSIX layer read out of a directory entry's
// record, written once for both: a FILETIME as one number, an entry's size,
// and the names "." and "..".
#pragma once

#include <cstdint>

#include "win32.h"

// A FILETIME counts 100-ns ticks since 1601-01-01 00:00:00 UTC.
const uint64_t TICKS_PER_SECOND = 10000000;
const int64_t SECONDS_1601_TO_1970 = 11644473600LL;
// The calendar conversion takes no tick count with the top bit set.
const uint64_t LAST_FILETIME = 0x7FFFFFFFFFFFFFFFULL;

inline uint64_t ticks_of(FILETIME time)
{
    return (uint64_t)time.dwHighDateTime << 32 | time.dwLowDateTime;
}

inline void set_filetime(FILETIME *time, uint64_t ticks)
{
    time->dwLowDateTime = (DWORD)ticks;
    time->dwHighDateTime = (DWORD)(ticks >> 32);
}

inline uint64_t entry_size(const WIN32_FIND_DATAA *entry)
{
    return (uint64_t)entry->nFileSizeHigh << 32 | entry->nFileSizeLow;
}

// "." and "..": the directory itself and its parent, never entries of it.
inline int is_dot_entry(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}
