// The read-ahead engine: one queue of jobs, one lock, one condition.
//
// A job is a directory to read: its spec, the rule for its details and the
// listing it fills.  It is queued, running or done; the queue owns it until
// it is done, the search after.  The queue holds jobs in the order the
// search will open them: the search puts a directory's subdirectories in
// front of everything queued before it, and a reader that read a whole
// directory puts its subdirectories right behind it, which is the
// depth-first order either way.  Readers take the first queued job behind
// the head, which the search opens next; the search takes the job of the
// directory it opens, found by its spec.  Queued, the search takes it back
// and reads the directory itself; running, it reads the queued jobs behind
// it meanwhile, then sleeps until the reader is done; done and fresh, it
// uses the listing; done and stale, or not opened, it reads the directory
// itself, as one thread would.  Jobs in front of it are passed for good.
//
// Why it cannot hang: the search waits only for a running job, and a reader
// runs a job to its end without the lock, touching nothing else.  Why it
// shows nothing stale: every listing carries the time its first system call
// began, and the search checks it when it takes the listing and again for
// each entry whose details it uses.  Why it costs no directory: readers
// hold at most the descriptors the limit spares beyond the deepest walk.
#include "readahead.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "trawl.h"

void (*readahead_test_hook)(const char *spec, int finished);
int64_t readahead_test_ticks_ahead;
int readahead_may_step_back = 1;

namespace {

enum JobState { JOB_IDLE, JOB_QUEUED, JOB_RUNNING, JOB_DONE };

struct Job {
    Job *previous;  // in the queue
    Job *next;      // in the queue, or on the free list
    JobState state;
    int passed;  // running when the search passed it: its reader frees it
    int in_queue;
    ReadRule rule;
    char spec[SPEC_BUFFER_SIZE];
    Listing listing;
};

// The search holds one listing per level of its walk; the rest are jobs
// ahead of it.  Jobs never used stay untouched, costing no memory.
const int JOB_COUNT = 256;
const int READERS_MAX = 8;
const int AHEAD_PER_READER = 64;

Job jobs[JOB_COUNT];
int untouched_jobs;
Job *free_jobs;

SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
// Under the lock:
Job *queue_head, *queue_tail;
// Where the subdirectories of the directory the search reads go: in front
// of what was queued before it.
Job *insert_before;
int queued;         // jobs in the queue
int held_descriptors;
int descriptor_share;
int idle_readers;
// Readers in use: those started with a lower number take jobs.  Only the
// search writes it, under the lock, and reads it without.
int readers;
int ahead_limit;
int search_waiting;
ReadRule current_rule;
// Bumped under the lock whenever a job is queued or done, and read without
// it by a thread that found nothing to do: spinning a moment on it spares
// a sleep and a wake, which cost more than reading a small directory.
std::atomic<uint32_t> queue_changes;
const int64_t SPIN_MICROSECONDS = 50;
int64_t spin_ticks;
ReadaheadCounts counts;

// The search's own:
int readers_started;
int64_t fresh_ticks;
// Step back: when the search waits for readers for more than an eighth of
// a window of its time, readers do nothing for the next windows.
const int STEP_WINDOW = 256;
const int STEP_BACK_WINDOWS = 16;
int takes_in_window;
int64_t window_started, waited_in_window;
int windows_stepped_back;

int64_t counter_now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// The clock freshness is judged by, which tests may move forward.
int64_t ticks_now()
{
    return counter_now() + readahead_test_ticks_ahead;
}

// ---- packing ----

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

uint32_t packed_size(uint32_t name_length)
{
    return (uint32_t)(sizeof(PackedEntry) + name_length + 1 + 7) & ~7u;
}

void pack(Listing *listing, const Job *job, WIN32_FIND_DATAA *data)
{
    PackedEntry head;
    head.attributes = data->dwFileAttributes;
    head.details = DETAILS_NOT_READ;
    const ReadRule *rule = &job->rule;
    if (rule->parts && pattern_match_compiled(&rule->pattern, data->cFileName) &&
        (rule->dots_listed || !is_dot_entry(data->cFileName))) {
        errno = EIO;
        int read = complete_find_data(listing->handle, data, rule->parts);
        head.details = read ? DETAILS_READ : errno;
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

// Reads the job's directory into its listing, on whichever thread.
void read_listing(Job *job)
{
    Listing *listing = &job->listing;
    WIN32_FIND_DATAA data;
    listing->used = 0;
    listing->whole = 0;
    listing->children_queued = 0;
    listing->started = ticks_now();
    listing->handle = nullptr;
    HANDLE handle = find_first_entry(job->spec, &data);
    listing->opened = handle != INVALID_HANDLE_VALUE;
    if (!listing->opened) return;
    listing->handle = handle;
    do {
        pack(listing, job, &data);
        if (LISTING_BYTES - listing->used < PACKED_MAX) return;
    } while (find_next_entry(handle, &data));
    listing->whole = 1;
    if (!job->rule.parts) listing_close(listing);
}

// ---- the queue, under the lock ----

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

Job *new_job(const char *spec, const ReadRule *rule)
{
    Job *job = allocate_job();
    if (job == nullptr) return nullptr;
    strcpy(job->spec, spec);
    job->rule = *rule;
    job->state = JOB_QUEUED;
    job->passed = 0;
    job->listing.handle = nullptr;
    job->listing.children_queued = 0;
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

// A reader that has read a whole directory queues its subdirectories right
// behind it, so that readers walk down the tree ahead of the search and not
// only across it.  Offsets of the entries to queue are found outside the
// lock.
const int SUBDIRECTORIES_MAX = LISTING_BYTES / sizeof(PackedEntry);

int find_subdirectories(const Job *job, uint32_t *offsets)
{
    const Listing *listing = &job->listing;
    if (!listing->whole || job->rule.descends == nullptr) return 0;
    int count = 0;
    uint32_t offset = 0, at = 0;
    WIN32_FIND_DATAA data;
    int details;
    DWORD detail_attributes;
    while (listing_entry(listing, &offset, &data, &details, &detail_attributes)) {
        if (job->rule.descends(&data)) offsets[count++] = at;
        at = offset;
    }
    return count;
}

// Under the lock.  A job the search has taken or passed meanwhile is out of
// the queue: its subdirectories are the search's to queue, or nobody's.
void queue_subdirectories(Job *job, const uint32_t *offsets, int count)
{
    if (count == 0 || !job->in_queue || queued + count > ahead_limit) return;
    size_t directory_length = strlen(job->spec) - 1;  // "dir\" of "dir\*"
    Job *after = job;
    for (int i = 0; i < count; i++) {
        PackedEntry head;
        const unsigned char *at = job->listing.entries + offsets[i];
        memcpy(&head, at, sizeof head);
        if (directory_length + head.name_length + 2 >= SPEC_BUFFER_SIZE) continue;
        Job *child = new_job(job->spec, &job->rule);
        if (child == nullptr) return;
        memcpy(child->spec + directory_length, at + sizeof head, head.name_length);
        memcpy(child->spec + directory_length + head.name_length, "\\*", 3);
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
    if (job->state == JOB_RUNNING)
        job->passed = 1;
    else
        free_job(job);
}

// The first queued job from start on, within the descriptors readers may
// hold.
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
    read_listing(job);
    uint32_t offsets[SUBDIRECTORIES_MAX];
    int subdirectories = find_subdirectories(job, offsets);
    if (readahead_test_hook) readahead_test_hook(job->spec, 1);
    AcquireSRWLockExclusive(&lock);
    queue_subdirectories(job, offsets, subdirectories);
    job->state = JOB_DONE;
    queue_changes.fetch_add(1, std::memory_order_relaxed);
    if (job->listing.handle == nullptr) held_descriptors--;
    if (job->passed) free_job(job);
    if (search_waiting) WakeAllConditionVariable(&changed);
}

// Called with the lock held, which it releases while it spins.  Whether the
// queue changed meanwhile, told under the lock again: a change just after
// the spin gave up must not be missed by a thread about to sleep.
int spin_for_change()
{
    uint32_t seen = queue_changes.load(std::memory_order_relaxed);
    ReleaseSRWLockExclusive(&lock);
    int64_t until = counter_now() + spin_ticks;
    for (unsigned spins = 1; queue_changes.load(std::memory_order_relaxed) == seen; spins++) {
        YieldProcessor();
        if (spins % 64 == 0 && counter_now() > until) break;
    }
    AcquireSRWLockExclusive(&lock);
    return queue_changes.load(std::memory_order_relaxed) != seen;
}

DWORD WINAPI reader_main(void *parameter)
{
    int number = (int)(intptr_t)parameter;
    AcquireSRWLockExclusive(&lock);
    for (;;) {
        // The head is the directory the search opens next: it reads that
        // one itself unless a reader is done with it by then, so readers
        // start behind it and neither waits for the other.
        Job *job = queue_head && number < readers ? first_queued(queue_head->next) : nullptr;
        if (job != nullptr) {
            run_job(job);
            continue;
        }
        if (spin_for_change()) continue;
        idle_readers++;
        SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
        idle_readers--;
    }
}

// While a reader reads the job the search needs, the search reads the
// next queued one itself; with none left it spins, then sleeps.  How long
// it slept: a reader that keeps the search waiting past a spin is short of
// a CPU, or of a disk.
int64_t wait_for(Job *job)
{
    int64_t slept = 0;
    while (job->state == JOB_RUNNING) {
        Job *other = first_queued(queue_head);
        if (other != nullptr) {
            run_job(other);
            continue;
        }
        if (spin_for_change()) continue;
        search_waiting = 1;
        if (readahead_test_hook) readahead_test_hook(nullptr, 0);
        int64_t began = ticks_now();
        SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
        slept += ticks_now() - began;
        search_waiting = 0;
    }
    return slept;
}

// Readers are started once and live as long as the process; those in
// use are given jobs.
void start_readers(int wanted)
{
    if (fresh_ticks == 0) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        fresh_ticks = frequency.QuadPart * FRESH_MICROSECONDS / 1000000;
        spin_ticks = frequency.QuadPart * SPIN_MICROSECONDS / 1000000;
        descriptor_share = descriptors_to_spare();
    }
    if (wanted > READERS_MAX) wanted = READERS_MAX;
    if (wanted > descriptor_share) wanted = descriptor_share;
    for (; readers_started < wanted; readers_started++) {
        HANDLE thread =
            CreateThread(nullptr, 0, reader_main, (void *)(intptr_t)readers_started, 0, nullptr);
        if (thread == nullptr) break;
        CloseHandle(thread);
    }
    AcquireSRWLockExclusive(&lock);
    readers = wanted < readers_started ? wanted : readers_started;
    ahead_limit = readers * AHEAD_PER_READER;
    if (ahead_limit > JOB_COUNT / 2) ahead_limit = JOB_COUNT / 2;  // the rest serve the walk's levels
    ReleaseSRWLockExclusive(&lock);
}

// The search judges its readers by how long it waits for them: a reader
// that waits for a CPU (another process's, or a quota's) makes the search
// wait too, and then the search does better alone for a while.
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

int listing_is_fresh(const Listing *listing)
{
    return ticks_now() - listing->started <= fresh_ticks;
}

int readahead_readers(int count)
{
    start_readers(count);
    return readers;
}

void readahead_begin(const ReadRule *rule)
{
    if (fresh_ticks == 0) start_readers(usable_cpus() - 1);
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
    if (job != nullptr) {
        while (queue_head != job) pass_job(queue_head);
        unlink_job(job);
    }
    insert_before = queue_head;
    int64_t waited = 0;
    if (job != nullptr && job->state == JOB_RUNNING) {
        waited = wait_for(job);
        counts.waited++;
    }
    int usable = 0;
    if (job != nullptr && job->state == JOB_DONE) {
        if (job->listing.handle != nullptr) held_descriptors--;
        usable = job->listing.opened && listing_is_fresh(&job->listing);
        counts.taken += usable;
        counts.stale += !usable;
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
        read_listing(job);
        job->listing.children_queued = children_queued;
    }
    return &job->listing;
}

void listing_close(Listing *listing)
{
    if (listing->handle != nullptr) FindClose(listing->handle);
    listing->handle = nullptr;
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

ReadaheadCounts readahead_counts()
{
    AcquireSRWLockExclusive(&lock);
    ReadaheadCounts now = counts;
    ReleaseSRWLockExclusive(&lock);
    return now;
}
