// The entry filter: dates, size and type letters.
#include "trawl.h"

int compare_filetimes(FILETIME a, FILETIME b)
{
    uint64_t x = ticks_of(a), y = ticks_of(b);
    return x > y ? 1 : x < y ? -1 : 0;
}

// c is the entry compared with the criterion: negative, zero or positive.
// Both bounds are inclusive.
static int passes_prefix(char prefix, int c)
{
    switch (prefix) {
    case '+': return c >= 0;
    case '-': return c <= 0;
    case '!': return c != 0;
    default: return c == 0;
    }
}

// A time with the top bit set is no time at all (a file system can keep
// times before 1601): no date criterion selects it, '!' included.
static int passes_date(const DateTest *test, const WIN32_FIND_DATAA *entry)
{
    if (ticks_of(entry->ftLastWriteTime) > LAST_FILETIME) return 0;
    return passes_prefix(test->text[0], compare_filetimes(entry->ftLastWriteTime, test->time));
}

static int passes_size(const SizeTest *test, const WIN32_FIND_DATAA *entry)
{
    uint64_t size = entry_size(entry);
    int c = size > test->bytes ? 1 : size < test->bytes ? -1 : 0;
    return passes_prefix(test->text[0], c);
}

static int meets_type_letter(char letter, DWORD attributes)
{
    switch (letter) {
    case 'a': return (attributes & FILE_ATTRIBUTE_ARCHIVE) != 0;
    case 'c': return (attributes & FILE_ATTRIBUTE_COMPRESSED) != 0;
    case 'd': return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    case 'f':
        return (attributes & FILE_ATTRIBUTE_NORMAL) != 0 ||
               !(attributes & (FILE_ATTRIBUTE_DIRECTORY | TRAWL_ATTRIBUTE_VOLUME_LABEL));
    case 'h': return (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    case 'r': return (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    case 's': return (attributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    case 't': return (attributes & FILE_ATTRIBUTE_TEMPORARY) != 0;
    case 'v': return (attributes & TRAWL_ATTRIBUTE_VOLUME_LABEL) != 0;
    case 'w': return (attributes & FILE_ATTRIBUTE_READONLY) == 0;
    default: return 0;
    }
}

// The letters are or-ed; a '!' in first place turns the result round.
static int passes_type(const char *text, DWORD attributes)
{
    int met = 0;
    for (const char *letter = text; *letter && !met; letter++)
        met = meets_type_letter(*letter, attributes);
    return text[0] == '!' ? !met : met;
}

int entry_selected(const WIN32_FIND_DATAA *entry)
{
    if (settings.date_test.text && !passes_date(&settings.date_test, entry)) return 0;
    if (settings.date_test_prev.text && !passes_date(&settings.date_test_prev, entry)) return 0;
    if (settings.size_test.text && !passes_size(&settings.size_test, entry)) return 0;
    if (settings.type_test && !passes_type(settings.type_test, entry->dwFileAttributes)) return 0;
    return 1;
}
