// Directories read ahead of the search by reader threads, on both builds.
//
// The search plans: it queues the subdirectories it will descend, in the
// order it will open them, and takes each directory's listing when it gets
// there.  Readers do the queued jobs first to last.  A listing is used only
// while it is fresh, and it names its path: the search takes only its own.
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

// One directory's entries as the enumeration delivered them, packed into
// a fixed buffer.  When more follow than the buffer holds, or the search
// will ask details, the enumeration stays open in handle.
const uint32_t LISTING_BYTES = 8192;
struct Listing {
    int64_t started;  // performance-counter ticks before the first call
    HANDLE handle;    // the open enumeration, or null
    int opened;       // the enumeration could be started
    int whole;        // every entry is in the buffer
    int children_queued;  // its subdirectories are queued already
    uint32_t used;    // bytes of packed entries
    alignas(8) unsigned char entries[LISTING_BYTES];
};

// The details of a packed entry: not read, read, or the errno that stopped
// them.
enum { DETAILS_NOT_READ = -1, DETAILS_READ = 0 };

// The entry at *offset into data, and offset moved past it; 0 past the
// last.  The attributes that reading the details added come apart.
int listing_entry(const Listing *listing, uint32_t *offset, WIN32_FIND_DATAA *data,
                  int *details, DWORD *detail_attributes);
int listing_is_fresh(const Listing *listing);

// A new argument's walk begins: nothing queued or read for an earlier one
// serves it.  Starts the readers the first time.
void readahead_begin(const ReadRule *rule);
// Whether queueing pays now: there are readers, and they keep up.
int readahead_active();
// spec ("dir\*") will be opened after those queued since the last take,
// and before anything queued earlier.
void readahead_queue(const char *spec);
// The listing of spec: a reader's while it is fresh, else read now on the
// caller's thread.  Null when no listing is free: then the caller
// enumerates the directory itself.
Listing *readahead_take(const char *spec);
// The search is done with the enumeration (its first pass is over).
void listing_close(Listing *listing);
void readahead_release(Listing *listing);

// For tests.  Readers call readahead_test_hook with a job's spec before
// (finished 0) and after (1) they read it, and the search calls it with a
// null spec, under the lock, before it sleeps until a reader is done.
// readahead_test_ticks_ahead moves the engine's clock forward.
extern void (*readahead_test_hook)(const char *spec, int finished);
extern int64_t readahead_test_ticks_ahead;
extern int readahead_may_step_back;
struct ReadaheadCounts {
    uint64_t taken;   // listings a reader read, fresh when taken
    uint64_t waited;  // listings the search waited for
    uint64_t stale;   // listings a reader read that the search read again
};
ReadaheadCounts readahead_counts();
// Puts count readers to use, starting those not started yet, as far as
// descriptors allow (the first walk uses as many as the CPUs less one);
// how many are in use.
int readahead_readers(int count);
