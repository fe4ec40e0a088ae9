// The read-ahead helper: a second thread that opens and reads the
// directories the search will open next, and reads entries' details (the
// fstatat and getxattrat that take most of a long listing's time).
//
// The plan is the list of directories the search will open, in the order
// it will open them.  Whoever reads a listing first, the search or the
// helper, expects the subdirectories in it that the search descends (by the
// search's own rule, which it hands over) right behind it: a directory's
// subdirectories come after it and before its next sibling, which is the
// search's depth-first order.  The helper reads the first directories of
// the plan that nobody has read, a few at a time, and so walks the tree a
// little ahead of the search; when the search opens a path, it adopts the
// listing if the helper has it ready and it is fresh, and reads the
// directory itself otherwise.  When the helper is still reading the one
// the search opens, the search reads the next unread ones meanwhile, and
// gives up waiting after a few microseconds without progress.
//
// Details: the search lends the helper each buffer of entries it lists,
// and the helper also reads the details of the listings it has ready.  The
// search goes through a buffer from its first entry and the helper from its
// last, each claiming an entry before reading it; they stop where they meet.
// Taking a loan back waits at most for the one entry the helper is reading.
//
// Freshness is this file's rule: a listing is adopted and a detail taken
// only within FRESH_NANOSECONDS of being read, so a search held up (by a
// reader that does not read, say) shows what is there when it goes on.
//
// Read-ahead steps back when the second CPU is busy with other work: in
// the plain searches the search judges by how few directories it finds
// ready, in the others the helper by how long the scheduler kept it
// waiting for a CPU.  For a while then the search does everything itself,
// as on one CPU.
#include "posix_readahead.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"

int readahead_may_step_back = 1;
void (*readahead_test_pause)(const Listing *listing, size_t position, const char *path);

namespace {

// ---- what both sides share ----

// The plan: the paths the search will open, in its order, as a list over
// a fixed pool.  Only the helper and the search touch it, each briefly,
// under plan_lock.
enum PlanState { PLAN_FREE, PLAN_WAITING, PLAN_READING, PLAN_READY, PLAN_DROPPED };

struct PlanRecord {
    int previous;
    int next;
    std::atomic<int> state;  // written under the lock; read without it while waiting
    int listing;             // AHEAD_LISTINGS index while reading or ready
    int children_expected;   // its subdirectories are in the plan behind it
    char path[MAX_PATH];
};

const int PLAN_CAPACITY = 1024;
PlanRecord plan[PLAN_CAPACITY];
int plan_head = -1;
int plan_tail = -1;
int plan_free = -1;
int plan_untouched;  // records from here on were never used
int insert_after = -1;   // where the next record expected goes; -1 the head
int search_cursor = -1;  // behind the last one the search expected since it opened one
std::atomic_flag plan_lock = ATOMIC_FLAG_INIT;
std::atomic<DescendsRule *> descends_rule;

// How far ahead the helper reads: a few listings, so that what it reads is
// used within the freshness bound.  Each is owned by one side at a time.
const int AHEAD_LISTINGS = 24;
const int AHEAD_WINDOW = 48;  // plan records the helper looks through
enum Owner { OWNER_FREE, OWNER_HELPER, OWNER_SEARCH, OWNER_RELEASED };
Listing ahead_listings[AHEAD_LISTINGS];
std::atomic<int> ahead_owner[AHEAD_LISTINGS];

std::atomic<Listing *> lent_listing;
std::atomic<const Listing *> helper_in;  // whose details the helper is reading
std::atomic<int> helper_parts;           // details to read; 0 for none
std::atomic<int> search_parts;           // details the search asks: descriptors are kept

// The futex the idle helper sleeps on: every new piece of work changes it.
std::atomic<uint32_t> work_word;
std::atomic<int> helper_sleeping;
std::atomic<int> helper_stop;
std::atomic<uint32_t> stop_word;  // the futex a helper that stepped back sleeps on
std::atomic<int> stepped_back;

std::atomic<uint64_t> count_adopted, count_read_ahead, count_stale;

int helper_running;
pthread_t helper_thread;
alignas(4096) char helper_stack[1 << 20];  // what a sanitizer build asks for; untouched pages cost nothing

void cpu_pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Either side waits for the other at most for one entry or one directory,
// a few microseconds: it spins, and should the two share one CPU for a
// while, it lets the other run.
const int WAIT_SPINS = 512;

template <typename Done> void wait_until(Done done)
{
    for (int spins = 0; !done(); spins++) {
        if (spins < WAIT_SPINS)
            cpu_pause();
        else
            sched_yield();
    }
}

void lock_plan()
{
    wait_until([] { return !plan_lock.test_and_set(std::memory_order_acquire); });
}

void unlock_plan()
{
    plan_lock.clear(std::memory_order_release);
}

long futex(std::atomic<uint32_t> *word, int op, uint32_t value, const struct timespec *timeout)
{
    return syscall(SYS_futex, (uint32_t *)word, op, value, timeout, nullptr, 0);
}

void signal_work()
{
    work_word.fetch_add(1, std::memory_order_seq_cst);
    if (helper_sleeping.load(std::memory_order_seq_cst)) futex(&work_word, FUTEX_WAKE_PRIVATE, 1, nullptr);
}

void unlink_record(int r)
{
    PlanRecord *record = &plan[r];
    if (record->previous >= 0)
        plan[record->previous].next = record->next;
    else
        plan_head = record->next;
    if (record->next >= 0)
        plan[record->next].previous = record->previous;
    else
        plan_tail = record->previous;
    if (insert_after == r) insert_after = record->previous;
    if (search_cursor == r) search_cursor = record->previous;
}

void free_record(int r)
{
    plan[r].state.store(PLAN_FREE, std::memory_order_relaxed);
    plan[r].next = plan_free;
    plan_free = r;
}

// The listing goes back to the helper, which closes its descriptor.
void give_back(int listing)
{
    ahead_owner[listing].store(OWNER_RELEASED, std::memory_order_release);
}

// Takes a record out of the plan.  One the helper is reading stays its
// to free.  Under the lock.
void drop_record(int r)
{
    unlink_record(r);
    int state = plan[r].state.load(std::memory_order_relaxed);
    if (state == PLAN_READING) {
        plan[r].state.store(PLAN_DROPPED, std::memory_order_relaxed);
        return;
    }
    if (state == PLAN_READY) give_back(plan[r].listing);
    free_record(r);
}

int allocate_record()
{
    // Records never used yet come first: untouched pages cost no memory.
    if (plan_free < 0 && plan_untouched < PLAN_CAPACITY) return plan_untouched++;
    if (plan_free < 0) {
        // Full: the last path expected is the one opened last.
        if (plan_tail < 0 || plan[plan_tail].state.load(std::memory_order_relaxed) == PLAN_READING)
            return -1;
        drop_record(plan_tail);
    }
    int r = plan_free;
    plan_free = plan[r].next;
    return r;
}

void insert_record(int r)
{
    PlanRecord *record = &plan[r];
    record->previous = insert_after;
    record->next = insert_after >= 0 ? plan[insert_after].next : plan_head;
    if (record->previous >= 0)
        plan[record->previous].next = r;
    else
        plan_head = r;
    if (record->next >= 0)
        plan[record->next].previous = r;
    else
        plan_tail = r;
    insert_after = r;
}

void drop_plan()
{
    while (plan_head >= 0) drop_record(plan_head);
    insert_after = search_cursor = -1;
}

int is_below(const char *path, const char *directory, size_t length)
{
    if (length == 1 && directory[0] == '/') return path[0] == '/' && path[1] != '\0';
    return strncmp(path, directory, length) == 0 && path[length] == '/';
}

// A directory that the search reads for itself expects its subdirectories
// anew, so those expected from the helper's reading go with it.
void drop_with_descendants(int r)
{
    char directory[MAX_PATH];
    strcpy(directory, plan[r].path);
    size_t length = strlen(directory);
    int n = plan[r].next;
    drop_record(r);
    while (n >= 0 && is_below(plan[n].path, directory, length)) {
        int following = plan[n].next;
        drop_record(n);
        n = following;
    }
}

// Expects the subdirectories in the listing's buffer that the search
// descends, at insert_after; how many.  Under the lock.
int expect_children(const Listing *listing)
{
    DescendsRule *descends = descends_rule.load(std::memory_order_relaxed);
    int expected = 0;
    if (descends == nullptr) return expected;
    const char *separator = strcmp(listing->path, "/") == 0 ? "" : "/";
    for (size_t offset = 0; offset < listing->end;) {
        const struct dirent64 *entry = (const struct dirent64 *)(listing->buffer + offset);
        offset += entry->d_reclen;
        if (entry->d_type != DT_DIR) continue;
        WIN32_FIND_DATAA data;
        listing_entry_data(listing, entry, &data);
        if (!descends(&data)) continue;
        char path[MAX_PATH];
        int written = snprintf(path, sizeof path, "%s%s%s", listing->path, separator, entry->d_name);
        if (written <= 0 || (size_t)written >= sizeof path) continue;
        int r = allocate_record();
        if (r < 0) break;
        strcpy(plan[r].path, path);
        plan[r].children_expected = 0;
        plan[r].state.store(PLAN_WAITING, std::memory_order_relaxed);
        insert_record(r);
        expected++;
    }
    return expected;
}

// ---- the helper ----

// Reads the details of a listing's entries from the last one down, skipping
// those it has read already, until an entry the search has claimed (it has
// passed everything below) or until the search takes the listing back.
// Returns whether it read any.
int read_details(Listing *listing)
{
    int parts = helper_parts.load(std::memory_order_relaxed);
    int read_any = 0;
    // Said before it looks: the search, taking the listing back, waits for it.
    helper_in.store(listing, std::memory_order_seq_cst);
    // The index is the search's to write while the listing is not open.
    size_t count = listing->details_open.load(std::memory_order_seq_cst) ? listing->count : 0;
    for (size_t k = count; k-- > 0;) {
        if (!listing->details_open.load(std::memory_order_seq_cst)) break;
        EntrySlot *slot = &listing->slots[k];
        int expected = CLAIM_FREE;
        if (!slot->claim.compare_exchange_strong(expected, CLAIM_HELPER)) {
            if (expected == CLAIM_HELPER_DONE) continue;
            break;
        }
        if (readahead_test_pause) readahead_test_pause(listing, k, nullptr);
        const char *name = listing->buffer + listing->name_offsets[k];
        slot->readable = read_entry_details(listing->fd, name, parts, &slot->details);
        slot->read_at = monotonic_nanoseconds();
        expected = CLAIM_HELPER;
        slot->claim.compare_exchange_strong(expected, CLAIM_HELPER_DONE, std::memory_order_release);
        read_any = 1;
    }
    helper_in.store(nullptr, std::memory_order_seq_cst);
    return read_any;
}

int read_lent_details()
{
    Listing *listing = lent_listing.load(std::memory_order_seq_cst);
    return listing != nullptr && read_details(listing);
}

// Descriptors of listings the search gave back are closed here, on the
// thread that opened them.
int close_released()
{
    int closed = 0;
    for (int i = 0; i < AHEAD_LISTINGS; i++) {
        if (ahead_owner[i].load(std::memory_order_acquire) != OWNER_RELEASED) continue;
        if (ahead_listings[i].fd >= 0) close(ahead_listings[i].fd);
        ahead_listings[i].fd = -1;
        ahead_owner[i].store(OWNER_FREE, std::memory_order_release);
        closed = 1;
    }
    return closed;
}

int free_listing()
{
    for (int i = 0; i < AHEAD_LISTINGS; i++) {
        int owner = OWNER_FREE;
        if (ahead_owner[i].compare_exchange_strong(owner, OWNER_HELPER, std::memory_order_acq_rel)) {
            ahead_listings[i].fd = -1;
            return i;
        }
    }
    return -1;
}

// The first record of the plan that nobody has read, and a listing to read
// it into: a free one, or that of the ready record furthest behind it,
// which the search will want later than this one.  Under the lock.
int claim_next(int *listing)
{
    int waiting = -1, furthest_ready = -1, seen = 0;
    for (int r = plan_head; r >= 0 && seen < AHEAD_WINDOW; r = plan[r].next, seen++) {
        int state = plan[r].state.load(std::memory_order_relaxed);
        if (state == PLAN_WAITING && waiting < 0) waiting = r;
        if (state == PLAN_READY && waiting >= 0) furthest_ready = r;
    }
    if (waiting < 0) return -1;
    *listing = free_listing();
    if (*listing < 0) {
        if (furthest_ready < 0) return -1;
        *listing = plan[furthest_ready].listing;
        plan[furthest_ready].state.store(PLAN_WAITING, std::memory_order_relaxed);
        Listing *taken = &ahead_listings[*listing];
        // The helper may be reading its details, and the search may be the
        // one taking it over: the details are closed to the helper first.
        readahead_take_back(taken);
        if (taken->fd >= 0) close(taken->fd);  // quick next to a read
        taken->fd = -1;
    }
    plan[waiting].listing = *listing;
    plan[waiting].state.store(PLAN_READING, std::memory_order_relaxed);
    return waiting;
}

// Reads as much of the directory as one buffer holds.  When that is all of
// it and no entry needs the descriptor (a link or an entry of unknown type
// is looked at through it), the descriptor is closed here and now.
int read_listing_ahead(Listing *listing, const char *path)
{
    if (!listing_open(listing, path)) return 0;
    ssize_t more = getdents64(listing->fd, listing->buffer + listing->end,
                              sizeof listing->buffer - listing->end);
    if (more > 0) listing->end += (size_t)more;
    listing->at_end = more == 0;
    if (helper_parts.load(std::memory_order_relaxed)) {
        listing_index(listing);
        listing->details_open.store(1, std::memory_order_relaxed);
    }
    if (search_parts.load(std::memory_order_relaxed) || !listing->at_end) return 1;
    for (size_t offset = 0; offset < listing->end;) {
        const struct dirent64 *entry = (const struct dirent64 *)(listing->buffer + offset);
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) return 1;
        offset += entry->d_reclen;
    }
    close(listing->fd);
    listing->fd = -1;
    return 1;
}

// Reads the first directory of the plan that nobody has read; the helper
// does, and so does the search while it waits for the helper.
int read_first_unread()
{
    int listing;
    lock_plan();
    int r = claim_next(&listing);
    unlock_plan();
    if (r < 0) return 0;
    Listing *ahead = &ahead_listings[listing];
    if (readahead_test_pause) readahead_test_pause(nullptr, 0, plan[r].path);
    int read = read_listing_ahead(ahead, plan[r].path);
    lock_plan();
    int state = plan[r].state.load(std::memory_order_relaxed);
    if (state == PLAN_READING && read) {
        if (ahead->at_end && !plan[r].children_expected) {
            insert_after = r;
            expect_children(ahead);
            plan[r].children_expected = 1;
        }
        ahead->children_expected = plan[r].children_expected;
        plan[r].state.store(PLAN_READY, std::memory_order_release);
        count_read_ahead.fetch_add(1, std::memory_order_relaxed);
        unlock_plan();
        return 1;
    }
    // Dropped by the search while read, or unreadable: the search will
    // find out for itself.
    if (state != PLAN_DROPPED) unlink_record(r);
    free_record(r);
    unlock_plan();
    if (ahead->fd >= 0) close(ahead->fd);
    ahead->fd = -1;
    ahead_owner[listing].store(OWNER_FREE, std::memory_order_release);
    return 1;
}

// With nothing else to do, the details of the listings it has ready, the
// one the search wants first first.
int read_ahead_details()
{
    if (!helper_parts.load(std::memory_order_relaxed)) return 0;
    Listing *ready[AHEAD_LISTINGS];
    int count = 0;
    lock_plan();
    for (int r = plan_head; r >= 0 && count < AHEAD_LISTINGS; r = plan[r].next)
        if (plan[r].state.load(std::memory_order_relaxed) == PLAN_READY)
            ready[count++] = &ahead_listings[plan[r].listing];
    unlock_plan();
    for (int i = 0; i < count; i++)
        if (read_details(ready[i])) return 1;
    return 0;
}

// ---- stepping back when the CPU is not the helper's ----

// How long this thread has been ready to run without a CPU to run on, from
// the scheduler's own account; 0 where the kernel keeps none.
int schedstat_fd = -1;

uint64_t waited_for_cpu()
{
    char text[96];
    ssize_t got = schedstat_fd < 0 ? -1 : pread(schedstat_fd, text, sizeof text - 1, 0);
    if (got <= 0) return 0;
    text[got] = '\0';
    char *rest;
    strtoull(text, &rest, 10);  // time on the CPU, then time waiting for it
    return strtoull(rest, nullptr, 10);
}

const int SAMPLE_ITEMS = 256;
const uint64_t SHORTEST_SAMPLE = 1000000;
const uint64_t STEP_BACK_NANOSECONDS = 50000000;

struct CpuSample {
    uint64_t wall_start, waited_start;
    int items;
};

void start_sample(CpuSample *sample)
{
    sample->wall_start = monotonic_nanoseconds();
    sample->waited_start = waited_for_cpu();
    sample->items = 0;
}

// After every few hundred pieces of work: when the helper spent more than
// three tenths of the time waiting for a CPU (not for the disk, nor asleep
// for want of work), another thread or process holds the CPU it would run
// on.  Then the helper stops for a while, and the search, finding nothing
// read ahead, expects and lends nothing.
void check_cpu_share(CpuSample *sample)
{
    if (++sample->items < SAMPLE_ITEMS) return;
    uint64_t wall = monotonic_nanoseconds() - sample->wall_start;
    if (wall < SHORTEST_SAMPLE) return;
    uint64_t waited = waited_for_cpu() - sample->waited_start;
    if (waited * 10 > wall * 3 && readahead_may_step_back) {
        stepped_back.store(1, std::memory_order_seq_cst);
        lock_plan();
        drop_plan();
        unlock_plan();
        close_released();
        struct timespec pause = {0, (long)STEP_BACK_NANOSECONDS};
        if (!helper_stop.load(std::memory_order_seq_cst)) futex(&stop_word, FUTEX_WAIT_PRIVATE, 0, &pause);
        stepped_back.store(0, std::memory_order_seq_cst);
    }
    start_sample(sample);
}

// Between two pieces of work the search lists a directory, which takes a
// few microseconds: the helper spins that long before it sleeps, so that
// it is awake when the next comes.
const int IDLE_SPINS = 16384;

void wait_for_work(uint32_t seen)
{
    for (int spins = 0; spins < IDLE_SPINS; spins++) {
        if (work_word.load(std::memory_order_seq_cst) != seen) return;
        cpu_pause();
    }
    helper_sleeping.store(1, std::memory_order_seq_cst);
    if (work_word.load(std::memory_order_seq_cst) == seen && !helper_stop.load(std::memory_order_seq_cst))
        futex(&work_word, FUTEX_WAIT_PRIVATE, seen, nullptr);
    helper_sleeping.store(0, std::memory_order_relaxed);
}

void *helper_main(void *)
{
    schedstat_fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    CpuSample sample;
    start_sample(&sample);
    while (!helper_stop.load(std::memory_order_seq_cst)) {
        uint32_t seen = work_word.load(std::memory_order_seq_cst);
        int worked = close_released();
        worked |= read_lent_details();
        if (!worked) worked = read_first_unread();
        if (!worked) worked = read_ahead_details();
        if (worked)
            check_cpu_share(&sample);
        else
            wait_for_work(seen);
    }
    return nullptr;
}

// ---- the search's side ----

int may_use_two_cpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) >= 2;
}

// At the process end the helper is told to stop and waited for: it then
// reads nothing through a descriptor the exit closes.
void end_helper()
{
    Listing *lent = lent_listing.load(std::memory_order_relaxed);
    if (lent != nullptr) readahead_take_back(lent);
    helper_stop.store(1, std::memory_order_seq_cst);
    work_word.fetch_add(1, std::memory_order_seq_cst);
    futex(&work_word, FUTEX_WAKE_PRIVATE, 1, nullptr);
    stop_word.store(1, std::memory_order_seq_cst);
    futex(&stop_word, FUTEX_WAKE_PRIVATE, 1, nullptr);
    pthread_join(helper_thread, nullptr);
}

// In the plain searches the search judges the helper by what it finds: a
// helper that has most directories ready pays, and one that is seldom
// ahead (another process holds its CPU, or wakes and sleeps in turn with
// the search) only costs.  After each few hundred directories opened, when
// fewer than a third were ready, the search expects nothing for a while,
// twice as long each time in a row: a run on a busy machine is then a run
// by one thread with a short probe now and then.
const uint32_t JUDGED_OPENS = 128;
const uint64_t FIRST_PAUSE = 100000000, LONGEST_PAUSE = 800000000;
uint32_t opens_judged, opens_ready;
uint64_t pause_length = FIRST_PAUSE;
uint64_t paused_until;

void judge_helper(int ready)
{
    if (helper_parts.load(std::memory_order_relaxed)) return;  // it judges its CPU itself
    opens_judged++;
    opens_ready += ready;
    if (opens_judged < JUDGED_OPENS) return;
    if (opens_ready * 3 < opens_judged && readahead_may_step_back) {
        paused_until = monotonic_nanoseconds() + pause_length;
        pause_length = pause_length * 2 > LONGEST_PAUSE ? LONGEST_PAUSE : pause_length * 2;
        drop_plan();
    } else {
        pause_length = FIRST_PAUSE;
    }
    opens_judged = opens_ready = 0;
}

// Whether the search should hand anything over now.
int helper_available()
{
    if (!helper_running || stepped_back.load(std::memory_order_relaxed)) return 0;
    if (paused_until == 0) return 1;
    if (monotonic_nanoseconds() < paused_until) return 0;
    paused_until = 0;
    return 1;
}

// A listing the helper read is the search's once taken; only a fresh one is.
Listing *take_ready(int r)
{
    Listing *listing = &ahead_listings[plan[r].listing];
    if (!is_fresh(listing->read_at)) {
        count_stale.fetch_add(1, std::memory_order_relaxed);
        drop_with_descendants(r);
        return nullptr;
    }
    ahead_owner[plan[r].listing].store(OWNER_SEARCH, std::memory_order_relaxed);
    unlink_record(r);
    free_record(r);
    count_adopted.fetch_add(1, std::memory_order_relaxed);
    return listing;
}

}  // namespace

uint64_t monotonic_nanoseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000000000 + (uint64_t)now.tv_nsec;
}

void readahead_start()
{
    if (helper_running || !may_use_two_cpus()) return;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return;
    helper_running = pthread_attr_setstack(&attributes, helper_stack, sizeof helper_stack) == 0 &&
                     pthread_create(&helper_thread, &attributes, helper_main, nullptr) == 0;
    pthread_attr_destroy(&attributes);
    if (helper_running) atexit(end_helper);
}

int readahead_running()
{
    return helper_running;
}

void readahead_want_details(int parts)
{
    helper_parts.store(parts, std::memory_order_relaxed);
}

int readahead_details_wanted()
{
    return helper_available() && helper_parts.load(std::memory_order_relaxed) != 0;
}

void readahead_expect_children(Listing *listing)
{
    if (listing->children_expected || descends_rule.load(std::memory_order_relaxed) == nullptr)
        return;
    readahead_start();
    if (!helper_available()) return;
    lock_plan();
    insert_after = search_cursor;
    int expected = expect_children(listing);
    search_cursor = insert_after;
    unlock_plan();
    if (expected) signal_work();
}

// The search looks a short way into the plan for the path: what it passed
// over it will not open (a link it judged, a directory gone).
Listing *readahead_adopt(const char *path)
{
    if (!helper_available()) return nullptr;
    const int LOOK_AHEAD = 64;
    lock_plan();
    search_cursor = -1;
    int r = plan_head;
    for (int seen = 0; r >= 0 && seen < LOOK_AHEAD && strcmp(plan[r].path, path) != 0; seen++)
        r = plan[r].next;
    if (r < 0 || strcmp(plan[r].path, path) != 0) {
        judge_helper(0);
        unlock_plan();
        return nullptr;
    }
    while (plan_head != r) drop_record(plan_head);
    if (plan[r].state.load(std::memory_order_relaxed) == PLAN_READING) {
        // Being read: the search reads the next directories of the plan
        // meanwhile, as the helper would.  Should the helper have lost its
        // CPU, the search soon reads this one itself.
        unlock_plan();
        const uint64_t LONGEST_WAIT = 20000;
        uint64_t start = monotonic_nanoseconds();
        uint64_t idle_since = start;
        for (int spins = 1; plan[r].state.load(std::memory_order_acquire) == PLAN_READING; spins++) {
            if (read_first_unread()) {
                idle_since = monotonic_nanoseconds();
                continue;
            }
            cpu_pause();
            if (spins % 64 == 0 && monotonic_nanoseconds() - idle_since > LONGEST_WAIT) break;
        }
        lock_plan();
    }
    // Ready, still being read, waiting, or gone meanwhile (the helper could
    // not read it, or stepped back and dropped the plan).
    Listing *listing = nullptr;
    int state = plan[r].state.load(std::memory_order_relaxed);
    if (state == PLAN_READY)
        listing = take_ready(r);
    else if (state != PLAN_FREE)
        drop_with_descendants(r);
    judge_helper(listing != nullptr);
    unlock_plan();
    return listing;
}

void readahead_release(Listing *listing)
{
    readahead_take_back(listing);
    give_back((int)(listing - ahead_listings));
    signal_work();
}

void readahead_forget(int parts, DescendsRule *descends)
{
    search_parts.store(parts, std::memory_order_relaxed);
    descends_rule.store(descends, std::memory_order_relaxed);
    if (!helper_running) return;
    Listing *lent = lent_listing.load(std::memory_order_relaxed);
    if (lent != nullptr) readahead_take_back(lent);
    lock_plan();
    drop_plan();
    unlock_plan();
}

void readahead_lend(Listing *listing)
{
    Listing *earlier = lent_listing.load(std::memory_order_relaxed);
    if (earlier != nullptr && earlier != listing) readahead_take_back(earlier);
    listing->details_open.store(1, std::memory_order_seq_cst);
    lent_listing.store(listing, std::memory_order_seq_cst);
    signal_work();
}

void readahead_take_back(Listing *listing)
{
    listing->details_open.store(0, std::memory_order_seq_cst);
    if (lent_listing.load(std::memory_order_relaxed) == listing)
        lent_listing.store(nullptr, std::memory_order_seq_cst);
    wait_until([listing] { return helper_in.load(std::memory_order_seq_cst) != listing; });
}

int readahead_take_details(Listing *listing, size_t position, int parts, EntryDetails *details)
{
    if (position >= listing->count || (parts & ~helper_parts.load(std::memory_order_relaxed)) != 0 ||
        !listing->details_open.load(std::memory_order_relaxed))
        return 0;
    EntrySlot *slot = &listing->slots[position];
    int expected = CLAIM_FREE;
    if (slot->claim.compare_exchange_strong(expected, CLAIM_SEARCH) || expected == CLAIM_SEARCH)
        return 0;
    // The helper is reading this very entry: wait a moment, then read it
    // here rather than wait on a helper that lost its CPU.
    for (int spins = 0; spins < WAIT_SPINS && expected == CLAIM_HELPER; spins++) {
        cpu_pause();
        expected = slot->claim.load(std::memory_order_acquire);
    }
    if (expected == CLAIM_HELPER && slot->claim.compare_exchange_strong(expected, CLAIM_SEARCH))
        return 0;
    if (!slot->readable || !is_fresh(slot->read_at)) return 0;
    *details = slot->details;
    return 1;
}

ReadaheadCounts readahead_counts()
{
    return {count_adopted.load(), count_read_ahead.load(), count_stale.load()};
}
