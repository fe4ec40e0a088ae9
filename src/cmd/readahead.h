// Directories read ahead of the search by reader threads, on both builds.
//
// The search plans: it queues the subdirectories it will descend, in the
// order it will open them, and takes each directory's listing when it gets
// there.  Readers do the queued jobs first to last.  A listing is used only
// while it is fresh, and it names its path: the search takes only its own.
#pragma once

#include "packed_listing.h"

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
void readahead_release(Listing *listing);

// Puts count readers to use, starting those not started yet, as far as
// descriptors allow (the first walk uses as many as the CPUs less one);
// how many are in use.
int readahead_readers(int count);

// For tests.  Readers call readahead_test_hook with a job's spec before
// (finished 0) and after (1) they read it, and the search calls it with a
// null spec, under the lock, before it sleeps until a reader is done.
extern void (*readahead_test_hook)(const char *spec, int finished);
extern int readahead_may_step_back;
struct ReadaheadCounts {
    uint64_t taken;   // listings a reader read, fresh when taken
    uint64_t waited;  // listings the search waited for
    uint64_t stale;   // listings a reader read that the search read again
};
extern ReadaheadCounts readahead_counts;  // the search's, written as it takes
