// Directories read ahead of the search by reader threads, on both builds:
// the search queues the directories it will open, in the order it will
// open them, and takes each one's listing when it gets there.
#pragma once

#include "packed_listing.h"

// A new argument's walk begins: nothing queued for an earlier one serves
// it.  Starts the readers the first time.
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
// Puts count readers to use, as far as descriptors allow (the first walk
// uses the CPUs less one); how many are in use.
int readahead_readers(int count);

// For tests.  Readers call the hook with a job's spec before (finished 0)
// and after (1) they read it; the search, with a null spec under the lock
// before it waits for a reader.
extern void (*readahead_test_hook)(const char *spec, int finished);
extern int readahead_may_step_back;
