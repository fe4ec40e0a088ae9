// A directory's entries as its enumeration delivered them, packed into a
// fixed buffer with the details the search will ask of the entries it
// lists.  Read on any thread, used by the search only while it is fresh.
#pragma once

#include <cstdint>

#include "platform.h"
#include "wildcat.h"

// How the search reads a directory: the details it asks (FIND_DATA_*; 0 for
// none) of the entries whose names it lists, and no others.
struct ReadRule {
    pattern_compiled pattern;
    int dots_listed;
    int parts;
    // Whether the search descends into an entry (null: into none).
    int (*descends)(const WIN32_FIND_DATAA *entry);
};

// What a listing and the details in it may be worth: no more than 5 ms
// after the system call that read them began.
const int64_t FRESH_MICROSECONDS = 5000;

// When more entries follow than the buffer holds, or the search will ask
// details, the enumeration stays open in handle.
const uint32_t LISTING_BYTES = 8192;
struct Listing {
    int64_t started;      // performance-counter ticks before the first call
    int64_t opening;      // ticks the first call took: opening, and the first read
    HANDLE handle;        // the open enumeration, or null
    int opened;           // the enumeration could be started
    int whole;            // every entry is in the buffer
    int children_queued;  // its subdirectories are queued for readers already
    uint32_t used;        // bytes of packed entries
    alignas(8) unsigned char entries[LISTING_BYTES];
};

// The details of a packed entry: not read, read, or the errno that stopped
// them.
enum { DETAILS_NOT_READ = -1, DETAILS_READ = 0 };

void listing_read(Listing *listing, const char *spec, const ReadRule *rule);
// The entry at *offset, and offset moved past it; 0 past the last.  The
// attributes that reading the details added come apart.
int listing_entry(const Listing *listing, uint32_t *offset, WIN32_FIND_DATAA *data, int *details,
                  DWORD *detail_attributes);
// The offsets of the entries of a whole listing that rule->descends
// accepts, and how many; their names by listing_name.
const int LISTING_ENTRIES_MAX = LISTING_BYTES / 32;
int listing_subdirectories(const Listing *listing, const ReadRule *rule, uint32_t *offsets);
const char *listing_name(const Listing *listing, uint32_t offset, uint32_t *length);
int listing_is_fresh(const Listing *listing);
// The performance counter, and how many of its ticks make a span.
int64_t counter_ticks();
int64_t ticks_in(int64_t microseconds);
// The search is done with the enumeration (its first pass is over).
void listing_close(Listing *listing);

// For tests: moves the clock freshness is judged by forward.
extern int64_t listing_test_ticks_ahead;
