// The prefetch helper: a second thread that walks the search's tree ahead of
// it, in the same order, and reads every entry's details (the fstatat and
// the getxattrat that take most of a long listing's time) into a small ring.
// The search takes an entry's details from the ring when the helper has read
// that very entry (same directory path, name and inode number) and reads
// them itself otherwise, so the command stays single-threaded and its
// output is what it would be without the helper.
//
// The helper only ever gets a ring's length ahead.  It never touches the
// search's descriptors or the output, and the search never waits for it
// beyond a short spin.  At the first sign that the two walks differ (the
// tree changed, or the search went where the helper does not, such as
// through a link) the helper stops for the rest of the run; an entry it
// could not read is read again by the search, which reports the failure.
#include "posix_layer.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

enum RecordKind : uint8_t { RECORD_DIRECTORY, RECORD_ENTRY };

// One directory (its path, before its entries) or one entry of it.  An
// entry's place is its directory's number and its own among the directory's
// entries, counted from 1; the directory's record has place 0.
struct Record {
    uint32_t ordinal;
    uint32_t index;
    RecordKind kind;
    uint8_t readable;  // 0: the search reads the entry itself, for its error
    uint64_t inode;
    EntryDetails details;
    char name[MAX_PATH];
};

// Small, so that the helper's lead and the memory stay small; a power of
// two, so that the free-running counters wrap cleanly.
const uint32_t RING_SIZE = 256;
Record ring[RING_SIZE];
std::atomic<uint32_t> ring_tail;       // records published (helper)
std::atomic<uint32_t> ring_head;       // records taken or passed over (search)
std::atomic<uint32_t> helper_waiting;  // futex word: 1 while the helper waits for room
// Places as (directory number << 32) | entry number: the entry the search
// read last, and the one the helper is reading the details of.
std::atomic<uint64_t> search_place;
std::atomic<uint64_t> helper_place;
std::atomic<int> helper_stop;
std::atomic<int> helper_done;

// The search's side.
int helper_running;  // started and not stopped
pthread_t helper_thread;
uint32_t matched_ordinal;  // the directory whose path record matched

// The helper's side: the walk's path and one getdents buffer per level.
int helper_parts;
uint32_t helper_root_ordinal;
size_t helper_root_spec_length;
char helper_path[MAX_PATH + 1];
const int HELPER_LEVELS = 132;  // deeper than a "dir\*" of MAX_PATH allows
struct HelperLevel {
    alignas(struct dirent64) char buffer[8192];
};
HelperLevel helper_levels[HELPER_LEVELS];
alignas(4096) char helper_stack[1 << 20];

// How often the search looks again for the entry the helper is reading
// (which takes it about as long as reading it itself) before it gives up.
const int SPIN_LIMIT = 20000;

uint64_t place_of(uint32_t ordinal, uint32_t index)
{
    return (uint64_t)ordinal << 32 | index;
}

void futex_wait(std::atomic<uint32_t> *word, uint32_t value)
{
    syscall(SYS_futex, (uint32_t *)word, FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}

void futex_wake(std::atomic<uint32_t> *word)
{
    syscall(SYS_futex, (uint32_t *)word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void cpu_pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// ---- the helper ----

// The next free record, waiting while the ring is full; null when the
// helper is to stop.  The search wakes it once half the ring is free.
Record *free_record()
{
    uint32_t tail = ring_tail.load(std::memory_order_relaxed);
    while (tail - ring_head.load(std::memory_order_acquire) >= RING_SIZE) {
        if (helper_stop.load(std::memory_order_acquire)) return nullptr;
        helper_waiting.store(1, std::memory_order_seq_cst);
        // Looked at again after saying so: a take in between either shows
        // here or sees the flag and wakes the helper.
        if (tail - ring_head.load(std::memory_order_seq_cst) >= RING_SIZE &&
            !helper_stop.load(std::memory_order_seq_cst))
            futex_wait(&helper_waiting, 1);
        helper_waiting.store(0, std::memory_order_relaxed);
    }
    if (helper_stop.load(std::memory_order_acquire)) return nullptr;
    return &ring[tail % RING_SIZE];
}

void publish_record()
{
    ring_tail.store(ring_tail.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

// Whether the search has read the entry at place already: then it is
// reading the details itself, or has done so.
int search_has_reached(uint64_t place)
{
    return search_place.load(std::memory_order_relaxed) >= place;
}

// The helper keeps this many entries ahead of the search.  An entry it
// would reach with the search closer than that is left to the search, so
// that when the search is faster the two share the reading instead of the
// search waiting for the helper at every entry.
const uint64_t LEAD = 8;

// The directory's path, then the entries with their details, as the
// search's first enumeration meets them, leaving to the search those it is
// about to reach.
void publish_details(DirentReader *listing, uint32_t ordinal)
{
    Record *record = free_record();
    if (record == nullptr) return;
    record->ordinal = ordinal;
    record->index = 0;
    record->kind = RECORD_DIRECTORY;
    strcpy(record->name, helper_path);
    publish_record();
    uint32_t index = 0;
    while (const struct dirent64 *entry = next_raw_entry(listing)) {
        uint64_t place = place_of(ordinal, ++index);
        if (search_has_reached(place - LEAD)) continue;
        if ((record = free_record()) == nullptr) return;
        helper_place.store(place, std::memory_order_relaxed);
        size_t length = strnlen(entry->d_name, MAX_PATH - 1);
        memcpy(record->name, entry->d_name, length);
        record->name[length] = '\0';
        record->ordinal = ordinal;
        record->index = index;
        record->kind = RECORD_ENTRY;
        record->inode = entry->d_ino;
        record->readable =
            (uint8_t)read_entry_details(listing->fd, record->name, helper_parts, &record->details);
        publish_record();
    }
}

// Whether the search descends into the entry: a directory, not a link
// (the search decides about those by identity; when it does descend, the
// walks differ and the helper stops), not "." or "..", no backslash.
int is_descended(int dir_fd, const struct dirent64 *entry)
{
    const char *name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) return 0;
    if (strchr(name, '\\')) return 0;
    if (entry->d_type == DT_DIR) return 1;
    if (entry->d_type != DT_UNKNOWN) return 0;
    struct stat st;
    return fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

// One directory and everything below it, in the search's order: its
// entries, then its subdirectories depth first.  spec_length is the length
// of the "dir\*" string the search would enumerate the directory by; the
// search opens no directory whose "dir\*" reaches MAX_PATH.
void walk_directory(int fd, int depth, uint32_t *ordinal, size_t path_length, size_t spec_length)
{
    uint32_t own_ordinal = ++*ordinal;
    DirentReader listing = {fd, helper_levels[depth].buffer, sizeof(HelperLevel), 0, 0, 0, 0};
    if (!search_has_reached(place_of(own_ordinal + 1, 0))) publish_details(&listing, own_ordinal);
    // The subdirectories: from the buffer again when it holds the whole
    // directory, as the search's second enumeration does.
    if (listing.at_end && listing.reads <= 1) {
        listing.next = 0;
    } else if (listing.reads > 0 || listing.at_end) {
        if (lseek(fd, 0, SEEK_SET) != 0) return;
        listing = {fd, listing.buffer, listing.size, 0, 0, 0, 0};
    }
    while (const struct dirent64 *entry = next_raw_entry(&listing)) {
        if (helper_stop.load(std::memory_order_relaxed)) return;
        if (!is_descended(fd, entry)) continue;
        size_t name_length = strlen(entry->d_name);
        size_t child_spec_length = spec_length + name_length + 1;
        if (child_spec_length >= MAX_PATH || depth + 1 >= HELPER_LEVELS) continue;
        int child = openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (child < 0) continue;
        // The search's path of a subdirectory of the root "/" has no second
        // separator; every other one has.
        size_t child_length = path_length;
        if (strcmp(helper_path, "/") != 0) helper_path[child_length++] = '/';
        memcpy(helper_path + child_length, entry->d_name, name_length + 1);
        walk_directory(child, depth + 1, ordinal, child_length + name_length, child_spec_length);
        close(child);
        helper_path[path_length] = '\0';
    }
}

void *helper_main(void *)
{
    int fd = open(helper_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        uint32_t ordinal = helper_root_ordinal - 1;
        walk_directory(fd, 0, &ordinal, strlen(helper_path), helper_root_spec_length);
        close(fd);
    }
    helper_done.store(1, std::memory_order_release);
    return nullptr;
}

// ---- the search's side ----

int may_use_two_cpus()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) >= 2;
}

// Passing records over frees ring room; the helper is woken once half the
// ring is free, so that it refills in bursts rather than one at a time.
void store_head(uint32_t head)
{
    ring_head.store(head, std::memory_order_seq_cst);
    if (helper_waiting.load(std::memory_order_seq_cst) &&
        ring_tail.load(std::memory_order_relaxed) - head <= RING_SIZE / 2) {
        helper_waiting.store(0, std::memory_order_relaxed);
        futex_wake(&helper_waiting);
    }
}

void stop_helper()
{
    helper_running = 0;
    helper_stop.store(1, std::memory_order_seq_cst);
    helper_waiting.store(0, std::memory_order_relaxed);
    futex_wake(&helper_waiting);
}

// At the process end the helper is told to stop and waited for, which takes
// at most the one entry it is reading: it then holds nothing (its
// descriptors closed, the thread's own records freed) when the process ends.
void end_helper()
{
    stop_helper();
    pthread_join(helper_thread, nullptr);
}

}  // namespace

void prefetch_entry_read(uint32_t ordinal, uint32_t index)
{
    search_place.store(place_of(ordinal, index), std::memory_order_relaxed);
}

void prefetch_directory_opened(uint32_t ordinal)
{
    search_place.store(place_of(ordinal, 0), std::memory_order_relaxed);
    if (!helper_running) return;
    uint32_t head = ring_head.load(std::memory_order_relaxed);
    uint32_t tail = ring_tail.load(std::memory_order_acquire);
    uint32_t start = head;
    while (head != tail && ring[head % RING_SIZE].ordinal < ordinal) head++;
    if (head != start) store_head(head);
}

void prefetch_start(const char *path, uint32_t root_ordinal, size_t root_spec_length, int parts)
{
    if (parts == 0 || strlen(path) >= sizeof helper_path || !may_use_two_cpus()) return;
    strcpy(helper_path, path);
    helper_parts = parts;
    helper_root_ordinal = root_ordinal;
    helper_root_spec_length = root_spec_length;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return;
    int started = pthread_attr_setstack(&attributes, helper_stack, sizeof helper_stack) == 0 &&
                  pthread_create(&helper_thread, &attributes, helper_main, nullptr) == 0;
    pthread_attr_destroy(&attributes);
    helper_running = started;
    if (started) atexit(end_helper);
}

int prefetch_take(uint32_t ordinal, uint32_t index, const char *path, const char *name,
                  uint64_t inode, int parts, EntryDetails *details)
{
    if (!helper_running || (parts & ~helper_parts) != 0) return 0;
    uint64_t place = place_of(ordinal, index);
    uint32_t head = ring_head.load(std::memory_order_relaxed);
    int result = 0;
    for (int spins = 0;;) {
        if (head == ring_tail.load(std::memory_order_acquire)) {
            if (helper_place.load(std::memory_order_relaxed) == place && spins++ < SPIN_LIMIT &&
                !helper_done.load(std::memory_order_acquire)) {
                cpu_pause();
                continue;
            }
            break;
        }
        const Record *record = &ring[head % RING_SIZE];
        uint64_t record_place = place_of(record->ordinal, record->index);
        if (record_place > place)  // the helper left this entry to the search
            break;
        head++;
        if (record_place < place && record->kind == RECORD_ENTRY)
            continue;                             // an entry the search has read or passed over
        if (record->ordinal < ordinal) continue;  // a directory the search is done with
        int same = record->kind == RECORD_DIRECTORY
                       ? strcmp(record->name, path) == 0
                       : matched_ordinal == ordinal && strcmp(record->name, name) == 0 &&
                             record->inode == inode;
        if (!same) {  // the two walks differ: the tree changed
            store_head(head);
            stop_helper();
            return 0;
        }
        if (record->kind == RECORD_DIRECTORY) {
            matched_ordinal = ordinal;
            continue;
        }
        result = record->readable;
        if (result) *details = record->details;
        break;
    }
    store_head(head);
    return result;
}
