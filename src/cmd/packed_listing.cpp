// Listings: each entry is a fixed head and its name, 8-byte aligned, one
// after another, as the enumeration delivered them.
#include "packed_listing.h"

#include <cerrno>
#include <cstring>

#include "trawl.h"

int64_t listing_test_ticks_ahead;

namespace {

struct PackedEntry {
    DWORD attributes;  // as the enumeration delivered them
    DWORD detail_attributes;
    DWORD size_high;
    DWORD size_low;
    FILETIME write_time;
    int32_t details;
    uint32_t name_length;
};
const uint32_t PACKED_MAX = sizeof(PackedEntry) + MAX_PATH + 8;
static_assert(sizeof(PackedEntry) >= LISTING_BYTES / LISTING_ENTRIES_MAX, "entries fit");

uint32_t packed_size(uint32_t name_length)
{
    return (uint32_t)(sizeof(PackedEntry) + name_length + 1 + 7) & ~7u;
}

int64_t ticks_now()
{
    return counter_ticks() + listing_test_ticks_ahead;
}

// Details are read only of the entries the search lists, as one thread
// reading the directory would.
void pack(Listing *listing, const ReadRule *rule, WIN32_FIND_DATAA *data)
{
    PackedEntry head;
    head.attributes = data->dwFileAttributes;
    head.details = DETAILS_NOT_READ;
    if (rule->parts && pattern_match_compiled(&rule->pattern, data->cFileName) &&
        (rule->dots_listed || !is_dot_entry(data->cFileName))) {
        errno = EIO;
        head.details =
            complete_find_data(listing->handle, data, rule->parts) ? DETAILS_READ : errno;
    }
    head.detail_attributes = data->dwFileAttributes & ~head.attributes;
    head.size_high = data->nFileSizeHigh;
    head.size_low = data->nFileSizeLow;
    head.write_time = data->ftLastWriteTime;
    head.name_length = (uint32_t)strlen(data->cFileName);
    unsigned char *at = listing->entries + listing->used;
    memcpy(at, &head, sizeof head);
    memcpy(at + sizeof head, data->cFileName, head.name_length + 1);
    listing->used += packed_size(head.name_length);
}

}  // namespace

// The time is taken before the first call: whatever it reads is at least
// that recent.
void listing_read(Listing *listing, const char *spec, const ReadRule *rule)
{
    WIN32_FIND_DATAA data;
    listing->used = 0;
    listing->whole = 0;
    listing->children_queued = 0;
    listing->started = ticks_now();
    listing->handle = nullptr;
    HANDLE handle = find_first_entry(spec, &data);
    listing->opening = ticks_now() - listing->started;
    listing->opened = handle != INVALID_HANDLE_VALUE;
    if (!listing->opened) return;
    listing->handle = handle;
    do {
        pack(listing, rule, &data);
        if (LISTING_BYTES - listing->used < PACKED_MAX) return;
    } while (find_next_entry(handle, &data));
    listing->whole = 1;
    if (!rule->parts) listing_close(listing);
}

int listing_entry(const Listing *listing, uint32_t *offset, WIN32_FIND_DATAA *data, int *details,
                  DWORD *detail_attributes)
{
    if (*offset >= listing->used) return 0;
    const unsigned char *at = listing->entries + *offset;
    PackedEntry head;
    memcpy(&head, at, sizeof head);
    data->dwFileAttributes = head.attributes;
    data->nFileSizeHigh = head.size_high;
    data->nFileSizeLow = head.size_low;
    data->ftLastWriteTime = head.write_time;
    set_filetime(&data->ftCreationTime, 0);
    set_filetime(&data->ftLastAccessTime, 0);
    memcpy(data->cFileName, at + sizeof head, head.name_length + 1);
    data->cAlternateFileName[0] = '\0';
    *details = head.details;
    *detail_attributes = head.detail_attributes;
    *offset += packed_size(head.name_length);
    return 1;
}

int listing_subdirectories(const Listing *listing, const ReadRule *rule, uint32_t *offsets)
{
    if (!listing->whole || rule->descends == nullptr) return 0;
    int count = 0;
    uint32_t offset = 0, at = 0;
    WIN32_FIND_DATAA data;
    int details;
    DWORD detail_attributes;
    while (listing_entry(listing, &offset, &data, &details, &detail_attributes)) {
        if (rule->descends(&data)) offsets[count++] = at;
        at = offset;
    }
    return count;
}

const char *listing_name(const Listing *listing, uint32_t offset, uint32_t *length)
{
    PackedEntry head;
    memcpy(&head, listing->entries + offset, sizeof head);
    *length = head.name_length;
    return (const char *)listing->entries + offset + sizeof head;
}

int listing_is_fresh(const Listing *listing)
{
    return ticks_now() - listing->started <= ticks_in(FRESH_MICROSECONDS);
}

int64_t counter_ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// The frequency is asked each time: a cheap call, where a static computed
// once would need a guard from the C++ runtime, which the program does not
// otherwise load.
int64_t ticks_in(int64_t microseconds)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart * microseconds / 1000000;
}

void listing_close(Listing *listing)
{
    if (listing->handle != nullptr) FindClose(listing->handle);
    listing->handle = nullptr;
}
