// The read-ahead engine: one queue of jobs, one lock, one condition.
//
// A job is a directory to read into a listing.  It is queued, running or
// done; the queue owns it until it is done, the search after.  The queue
// holds jobs in the order the search will open them: the search puts a
// directory's subdirectories in front of everything queued before it, and
// a reader that read a whole directory puts its subdirectories right
// behind it: depth-first order either way.  Readers take the first queued
// job behind the head, which the search opens next.  The search takes the
// job of the directory it opens, found by its spec, and passes for good
// those in front of it.  Queued, it takes the job back and reads the
// directory itself; running, it does the queued jobs behind it meanwhile,
// then sleeps until the reader is done; done and fresh, it uses the
// listing; done and stale, or not opened, it reads the directory itself,
// as one thread would.
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

#include "trawl.h"

void (*readahead_test_hook)(const char *spec, int finished);
int readahead_may_step_back = 1;
ReadaheadCounts readahead_counts;

namespace {

enum JobState { JOB_IDLE, JOB_QUEUED, JOB_RUNNING, JOB_DONE };

struct Job {
    Job *previous, *next;  // in the queue; next also on the free list
    JobState state;
    int in_queue;  // out of it while running: passed, its reader frees it
    ReadRule rule;
    char spec[SPEC_BUFFER_SIZE];
    Listing listing;
};

// The search holds one job per level of its walk; the rest are ahead of
// it.  Jobs never used stay untouched, costing no memory.
const int JOB_COUNT = 256, READERS_MAX = 8, AHEAD_PER_READER = 64;
Job jobs[JOB_COUNT];
int untouched_jobs;
Job *free_jobs;

SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
// Under the lock:
Job *queue_head, *queue_tail;
Job *insert_before;  // where the subdirectories of the search's directory go
int queued, ahead_limit, held_descriptors, descriptor_share, idle_readers, search_waiting;
int readers;  // in use, numbered from 0; the search writes it, under the lock
ReadRule current_rule;
// Bumped under the lock whenever a job is queued or done, and read without
// it by a thread that found nothing to do: spinning a moment on it spares
// a sleep and a wake, which cost more than reading a small directory.
std::atomic<uint32_t> queue_changes;
const int64_t SPIN_MICROSECONDS = 50;
int64_t spin_ticks;

// The search's own.  It steps back when it waits for readers more than an
// eighth of a window of its takes: readers do nothing for the next windows.
int readers_started;
const int STEP_WINDOW = 256, STEP_BACK_WINDOWS = 16;
int takes_in_window, windows_stepped_back;
int64_t window_started, waited_in_window;

int64_t ticks_now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

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
    job->state = JOB_IDLE;
    job->next = free_jobs;
    free_jobs = job;
}

void link_before(Job *job, Job *next)
{
    job->next = next;
    job->previous = next ? next->previous : queue_tail;
    (job->previous ? job->previous->next : queue_head) = job;
    (next ? next->previous : queue_tail) = job;
    job->in_queue = 1;
    queued++;
    queue_changes.fetch_add(1, std::memory_order_relaxed);
}

void unlink_job(Job *job)
{
    (job->previous ? job->previous->next : queue_head) = job->next;
    (job->next ? job->next->previous : queue_tail) = job->previous;
    if (insert_before == job) insert_before = job->next;
    job->in_queue = 0;
    queued--;
}

Job *new_job(const char *spec, const ReadRule *rule)
{
    Job *job = allocate_job();
    if (job == nullptr) return nullptr;
    strcpy(job->spec, spec);
    job->rule = *rule;
    job->state = JOB_QUEUED;
    job->listing.handle = nullptr;
    job->listing.children_queued = 0;
    return job;
}

// A reader queues the subdirectories of a whole directory right behind it,
// so that readers walk down the tree ahead of the search, not only across.
// A job the search passed meanwhile is out of the queue: its
// subdirectories are nobody's.
void queue_subdirectories(Job *job, const uint32_t *offsets, int count)
{
    if (count == 0 || !job->in_queue || queued + count > ahead_limit) return;
    size_t directory_length = strlen(job->spec) - 1;  // "dir\" of "dir\*"
    Job *after = job;
    for (int i = 0; i < count; i++) {
        uint32_t length;
        const char *name = listing_name(&job->listing, offsets[i], &length);
        if (directory_length + length + 2 >= SPEC_BUFFER_SIZE) continue;
        Job *child = new_job(job->spec, &job->rule);
        if (child == nullptr) return;
        memcpy(child->spec + directory_length, name, length);
        memcpy(child->spec + directory_length + length, "\\*", 3);
        link_before(child, after->next);
        after = child;
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
    queue_subdirectories(job, offsets, subdirectories);
    job->state = JOB_DONE;
    queue_changes.fetch_add(1, std::memory_order_relaxed);
    if (job->listing.handle == nullptr) held_descriptors--;
    if (!job->in_queue) free_job(job);
    if (search_waiting) WakeAllConditionVariable(&changed);
}

// Called with the lock held, which it releases while it spins.  Whether the
// queue changed meanwhile, told under the lock again: a change just after
// the spin gave up must not be missed by a thread about to sleep.
int spin_for_change()
{
    uint32_t seen = queue_changes.load(std::memory_order_relaxed);
    ReleaseSRWLockExclusive(&lock);
    int64_t until = ticks_now() + spin_ticks;
    for (unsigned spins = 1; queue_changes.load(std::memory_order_relaxed) == seen; spins++) {
        YieldProcessor();
        if (spins % 64 == 0 && ticks_now() > until) break;
    }
    AcquireSRWLockExclusive(&lock);
    return queue_changes.load(std::memory_order_relaxed) != seen;
}

// The head is the directory the search opens next: it reads that one
// itself unless a reader is done with it by then, so readers start behind
// it and neither waits for the other.
DWORD WINAPI reader_main(void *parameter)
{
    int number = (int)(intptr_t)parameter;
    AcquireSRWLockExclusive(&lock);
    for (;;) {
        Job *job = queue_head && number < readers ? first_queued(queue_head->next) : nullptr;
        if (job != nullptr) {
            run_job(job);
        } else if (!spin_for_change()) {
            idle_readers++;
            SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
            idle_readers--;
        }
    }
}

// While a reader reads the job the search needs, the search does the next
// queued ones itself; with none left it spins, then sleeps.  How long it
// slept: a reader that keeps the search waiting past a spin is short of a
// CPU, or of a disk.
int64_t wait_for(Job *job)
{
    int64_t slept = 0;
    while (job->state == JOB_RUNNING) {
        Job *other = first_queued(queue_head);
        if (other != nullptr) {
            run_job(other);
        } else if (!spin_for_change()) {
            search_waiting = 1;
            if (readahead_test_hook) readahead_test_hook(nullptr, 0);
            int64_t began = ticks_now();
            SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
            slept += ticks_now() - began;
            search_waiting = 0;
        }
    }
    return slept;
}

// A reader that waits for a CPU (another process's, or a quota's) makes
// the search wait too, and then the search does better alone for a while.
void judge_readers(int64_t waited)
{
    waited_in_window += waited;
    if (++takes_in_window < STEP_WINDOW) return;
    int64_t now = ticks_now();
    if (windows_stepped_back > 0)
        windows_stepped_back--;
    else if (readahead_may_step_back && waited_in_window * 8 > now - window_started)
        windows_stepped_back = STEP_BACK_WINDOWS;
    takes_in_window = 0;
    waited_in_window = 0;
    window_started = now;
}

}  // namespace

// Readers are started once and live as long as the process; those in use
// are given jobs.
int readahead_readers(int count)
{
    if (spin_ticks == 0) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        spin_ticks = frequency.QuadPart * SPIN_MICROSECONDS / 1000000;
        descriptor_share = descriptors_to_spare();
    }
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
    ahead_limit = readers * AHEAD_PER_READER;
    if (ahead_limit > JOB_COUNT / 2) ahead_limit = JOB_COUNT / 2;  // the rest serve the walk's levels
    ReleaseSRWLockExclusive(&lock);
    return readers;
}

void readahead_begin(const ReadRule *rule)
{
    if (spin_ticks == 0) readahead_readers(usable_cpus() - 1);
    AcquireSRWLockExclusive(&lock);
    current_rule = *rule;
    while (queue_head) pass_job(queue_head);
    ReleaseSRWLockExclusive(&lock);
}

int readahead_active()
{
    return readers > 0 && windows_stepped_back == 0;
}

void readahead_queue(const char *spec)
{
    AcquireSRWLockExclusive(&lock);
    if (queued >= ahead_limit && queue_tail) pass_job(queue_tail);  // the one opened last
    Job *job = new_job(spec, &current_rule);
    if (job != nullptr) {
        link_before(job, insert_before);
        if (idle_readers) WakeAllConditionVariable(&changed);
    }
    ReleaseSRWLockExclusive(&lock);
}

Listing *readahead_take(const char *spec)
{
    AcquireSRWLockExclusive(&lock);
    Job *job = queue_head;
    while (job && strcmp(job->spec, spec) != 0) job = job->next;
    while (job && queue_head != job) pass_job(queue_head);
    // A running job stays queued until it is done: its reader may queue
    // its subdirectories behind it meanwhile.
    int running = job && job->state == JOB_RUNNING;
    int64_t waited = running ? wait_for(job) : 0;
    readahead_counts.waited += running;
    if (job) unlink_job(job);
    insert_before = queue_head;
    int usable = 0;
    if (job != nullptr && job->state == JOB_DONE) {
        if (job->listing.handle != nullptr) held_descriptors--;
        usable = job->listing.opened && listing_is_fresh(&job->listing);
        readahead_counts.taken += usable;
        readahead_counts.stale += !usable;
    }
    // Subdirectories a reader queued behind the job are still queued:
    // reading the directory again must not queue them twice.
    int children_queued = job != nullptr && job->listing.children_queued;
    if (job == nullptr) job = allocate_job();
    if (job != nullptr) job->rule = current_rule;
    ReleaseSRWLockExclusive(&lock);
    if (readers > 0) judge_readers(waited);
    if (job == nullptr) return nullptr;
    job->state = JOB_IDLE;
    if (!usable) {
        listing_close(&job->listing);
        strcpy(job->spec, spec);
        listing_read(&job->listing, spec, &job->rule);
        job->listing.children_queued = children_queued;
    }
    return &job->listing;
}

void readahead_release(Listing *listing)
{
    if (listing == nullptr) return;
    Job *job = (Job *)((char *)listing - offsetof(Job, listing));
    listing_close(listing);
    AcquireSRWLockExclusive(&lock);
    free_job(job);
    ReleaseSRWLockExclusive(&lock);
}

