// Whether the readers pay, judged by the search window by window of its
// takes.  Readers pay only while they run beside the search.  One that
// waits for a CPU (another process's, or a quota's) makes the search wait
// too; one the system runs on the search's own CPU, because the others are
// busy, takes turns with it.  Either way the search does better alone for
// a while.  Every call but step_back_now is made under the read-ahead
// engine's lock; the verdict is the search's own.
#pragma once

#include <cstdint>

// A new walk: no verdict stands.
void step_back_begin();
// A reader begins a job.
void step_back_count_run();
// A job is done: how long opening its directory and reading the first
// entries took, in ticks.
void step_back_note_opening(int64_t ticks);
// The search takes a listing, after waiting waited ticks for a reader.
void step_back_judge(int64_t waited);
// Whether readers are stood down now.
int step_back_now();
