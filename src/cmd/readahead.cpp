// The read-ahead engine: one queue of jobs, one lock, one condition.
//
// A job is a directory to read into a listing: queued, running or done.
// The queue owns it until it is done, the search after.  Jobs stand in the
// order the search will open them, depth first: the search queues a
// directory's subdirectories in front of what it queued before, a reader
// those of a directory it read right behind that one.  Readers take the
// first queued job behind the head, which the search opens next.  The
// search finds its directory's job by its "dir\*", passes those in front of it
// for good.  Queued, it reads the directory itself; running, it does queued
// jobs meanwhile, then sleeps until the reader is done; done, it uses the
// listing if opened and fresh, else reads the directory as one thread would.
//
// Why it cannot hang: the search waits only for a running job, and a reader
// runs a job to its end without the lock, touching nothing else.  Why it
// shows nothing stale: every listing carries the time its first system call
// began, and the search checks it when it takes the listing and again for
// each entry whose details it uses.  Why it costs no directory: readers
// hold at most the descriptors the limit spares beyond the deepest walk.
#include "readahead.h"

#include <atomic>
#include <cstring>

#include "step_back.h"
#include "trawl.h"

void (*readahead_test_hook)(const char *spec, int finished);

namespace {

enum JobState { JOB_QUEUED, JOB_RUNNING, JOB_DONE };

struct Job {
    Job *previous, *next;  // in the queue; next also on the free list
    JobState state;
    int in_queue;  // out of it while running: passed, its reader frees it
    ReadRule rule;
    char spec[SPEC_BUFFER_SIZE];
    Listing listing;
};

// The search holds one job per level of its walk; at most 64 are ahead of
// it.  Jobs never used stay untouched, costing no memory.
const int JOB_COUNT = 256, AHEAD_MAX = 64, READERS_MAX = 8;
Job jobs[JOB_COUNT], *free_jobs;
int untouched_jobs;

SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
// Under the lock.  insert_before: where the search's subdirectories go.
Job *queue_head, *queue_tail, *insert_before;
int queued, held_descriptors, idle_readers, search_waiting;
int descriptor_share = -1;  // known once readers are started
int readers;                // in use, numbered from 0; the search writes it, under the lock
// Bumped under the lock whenever a job is queued or done, and read without
// it by a thread that found nothing to do: spinning a moment on it spares
// a sleep and a wake, which cost more than reading a small directory.
std::atomic<uint32_t> queue_changes;
const int64_t SPIN_MICROSECONDS = 50;

// The search's own.
ReadRule current_rule;
int readers_started;

Job *allocate_job()
{
    if (free_jobs == nullptr && untouched_jobs < JOB_COUNT) return &jobs[untouched_jobs++];
    Job *job = free_jobs;
    if (job != nullptr) free_jobs = job->next;
    return job;
}

void free_job(Job *job)
{
    if (job->listing.handle != nullptr) held_descriptors--;
    listing_close(&job->listing);
    job->next = free_jobs;
    free_jobs = job;
}

// A new job for spec in front of next (null: at the tail).
Job *queue_job(const char *spec, const ReadRule *rule, Job *next)
{
    Job *job = allocate_job();
    if (job == nullptr) return nullptr;
    strcpy(job->spec, spec);
    job->rule = *rule;
    job->state = JOB_QUEUED;
    job->listing.children_queued = 0;
    job->next = next;
    job->previous = next ? next->previous : queue_tail;
    (job->previous ? job->previous->next : queue_head) = job;
    (next ? next->previous : queue_tail) = job;
    job->in_queue = 1;
    queued++;
    queue_changes.fetch_add(1, std::memory_order_relaxed);
    return job;
}

void unlink_job(Job *job)
{
    (job->previous ? job->previous->next : queue_head) = job->next;
    (job->next ? job->next->previous : queue_tail) = job->previous;
    if (insert_before == job) insert_before = job->next;
    job->in_queue = 0;
    queued--;
}

// Readers walk down the tree ahead of the search, not only across; the
// search reads itself what they cannot queue.  A job the search passed
// meanwhile is out of the queue: its subdirectories are nobody's.
void queue_subdirectories(Job *job, const uint32_t *offsets, int count)
{
    if (count == 0 || !job->in_queue || queued + count > AHEAD_MAX) return;
    char spec[SPEC_BUFFER_SIZE];
    size_t directory_length = strlen(job->spec) - 1;  // "dir\" of "dir\*"
    memcpy(spec, job->spec, directory_length);
    Job *after = job;
    for (int i = 0; i < count && after; i++) {
        uint32_t length;
        const char *name = listing_name(&job->listing, offsets[i], &length);
        if (directory_length + length + 2 >= SPEC_BUFFER_SIZE) continue;
        memcpy(spec + directory_length, name, length);
        memcpy(spec + directory_length + length, "\\*", 3);
        after = queue_job(spec, &job->rule, after->next);
    }
    job->listing.children_queued = 1;
}

// The search will not open this directory now: a running job is its
// reader's to free.
void pass_job(Job *job)
{
    unlink_job(job);
    if (job->state != JOB_RUNNING) free_job(job);
}

Job *first_queued(Job *start)
{
    if (held_descriptors >= descriptor_share) return nullptr;
    for (Job *job = start; job; job = job->next)
        if (job->state == JOB_QUEUED) return job;
    return nullptr;
}

// Runs a queued job without the lock, which is held before and after.
void run_job(Job *job)
{
    job->state = JOB_RUNNING;
    held_descriptors++;
    ReleaseSRWLockExclusive(&lock);
    if (readahead_test_hook) readahead_test_hook(job->spec, 0);
    listing_read(&job->listing, job->spec, &job->rule);
    uint32_t offsets[LISTING_ENTRIES_MAX];
    int subdirectories = listing_subdirectories(&job->listing, &job->rule, offsets);
    if (readahead_test_hook) readahead_test_hook(job->spec, 1);
    AcquireSRWLockExclusive(&lock);
    step_back_note_opening(job->listing.opening);
    queue_subdirectories(job, offsets, subdirectories);
    job->state = JOB_DONE;
    queue_changes.fetch_add(1, std::memory_order_relaxed);
    if (job->listing.handle == nullptr) held_descriptors--;
    if (!job->in_queue) free_job(job);
    if (search_waiting) WakeAllConditionVariable(&changed);
}

// Releases the lock while it spins a moment, then sleeps, counted in
// *sleepers, unless the queue changed: told under the lock, so that a change
// just after the spin gave up is not missed.  How long it slept.
int64_t wait_for_change(int *sleepers)
{
    uint32_t seen = queue_changes.load(std::memory_order_relaxed);
    ReleaseSRWLockExclusive(&lock);
    int64_t until = counter_ticks() + ticks_in(SPIN_MICROSECONDS);
    for (unsigned spins = 1; queue_changes.load(std::memory_order_relaxed) == seen; spins++) {
        YieldProcessor();
        if (spins % 64 == 0 && counter_ticks() > until) break;
    }
    AcquireSRWLockExclusive(&lock);
    if (queue_changes.load(std::memory_order_relaxed) != seen) return 0;
    (*sleepers)++;
    int64_t began = counter_ticks();
    SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
    (*sleepers)--;
    return counter_ticks() - began;
}

// The search reads the head itself unless a reader is done with it by
// then, so readers start behind it and neither waits for the other.
DWORD WINAPI reader_main(void *parameter)
{
    int number = (int)(intptr_t)parameter;
    AcquireSRWLockExclusive(&lock);
    for (;;) {
        Job *job = queue_head && number < readers ? first_queued(queue_head->next) : nullptr;
        if (job != nullptr) {
            step_back_count_run();
            run_job(job);
        } else {
            wait_for_change(&idle_readers);
        }
    }
}

// While a reader reads the job the search needs, the search does the next
// queued ones itself, then waits.  How long it slept: a reader that keeps
// the search waiting past a spin is short of a CPU, or of a disk.
int64_t wait_for(Job *job)
{
    int64_t slept = 0;
    while (job->state == JOB_RUNNING) {
        Job *other = first_queued(queue_head);
        if (other != nullptr) {
            run_job(other);
            continue;
        }
        if (readahead_test_hook) readahead_test_hook(nullptr, 0);
        slept += wait_for_change(&search_waiting);
    }
    return slept;
}

}  // namespace

// Readers live as long as the process; only those in use take jobs.
int readahead_readers(int count)
{
    if (descriptor_share < 0) descriptor_share = descriptors_to_spare();
    if (count > READERS_MAX) count = READERS_MAX;
    if (count > descriptor_share) count = descriptor_share;
    for (; readers_started < count; readers_started++) {
        HANDLE thread =
            CreateThread(nullptr, 0, reader_main, (void *)(intptr_t)readers_started, 0, nullptr);
        if (thread == nullptr) break;
        CloseHandle(thread);
    }
    AcquireSRWLockExclusive(&lock);
    readers = count < readers_started ? count : readers_started;
    ReleaseSRWLockExclusive(&lock);
    return readers;
}

void readahead_begin(const ReadRule *rule)
{
    if (descriptor_share < 0) readahead_readers(usable_cpus() - 1);
    AcquireSRWLockExclusive(&lock);
    current_rule = *rule;
    while (queue_head) pass_job(queue_head);
    step_back_begin();
    ReleaseSRWLockExclusive(&lock);
}

int readahead_active()
{
    return readers > 0 && !step_back_now();
}

void readahead_queue(const char *spec)
{
    AcquireSRWLockExclusive(&lock);
    if (queued >= AHEAD_MAX && queue_tail) pass_job(queue_tail);  // the one opened last
    if (queue_job(spec, &current_rule, insert_before) && idle_readers)
        WakeAllConditionVariable(&changed);
    ReleaseSRWLockExclusive(&lock);
}

Listing *readahead_take(const char *spec)
{
    AcquireSRWLockExclusive(&lock);
    Job *job = queue_head;
    while (job && strcmp(job->spec, spec) != 0) job = job->next;
    while (job && queue_head != job) pass_job(queue_head);
    // A running job stays queued until done: its reader may queue behind it.
    int64_t waited = job && job->state == JOB_RUNNING ? wait_for(job) : 0;
    if (job != nullptr) unlink_job(job);
    insert_before = queue_head;
    int usable = 0;
    if (job != nullptr && job->state == JOB_DONE) {
        if (job->listing.handle != nullptr) held_descriptors--;
        usable = job->listing.opened && listing_is_fresh(&job->listing);
    }
    // Subdirectories a reader queued behind the job are still queued:
    // reading the directory again must not queue them twice.
    int children_queued = job != nullptr && job->listing.children_queued;
    if (job == nullptr) job = allocate_job();
    if (readers > 0) step_back_judge(waited);
    ReleaseSRWLockExclusive(&lock);
    if (job == nullptr) return nullptr;
    if (!usable) {
        listing_close(&job->listing);
        listing_read(&job->listing, spec, &current_rule);
        job->listing.children_queued = children_queued;
    }
    return &job->listing;
}

void readahead_release(Listing *listing)
{
    if (listing == nullptr) return;
    listing_close(listing);
    AcquireSRWLockExclusive(&lock);
    free_job((Job *)((char *)listing - offsetof(Job, listing)));
    ReleaseSRWLockExclusive(&lock);
}
