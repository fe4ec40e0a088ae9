// The prefetch helper: a second thread that shares the reading of entries'
// details (the fstatat and the getxattrat that take most of a long
// listing's time) with the search.
//
// The enumeration hands over each buffer of entries that a directory's
// first enumeration reads with getdents64: a batch.  The search then goes
// through the batch from its first entry, and the helper from its last,
// each claiming an entry before reading it; they stop where they meet.  So
// the helper reads exactly the names the search got, through the search's
// own descriptor, and neither thread reads a directory twice.  The search
// takes the batch back before the buffer is refilled or the descriptor
// closed, waiting at most for the one entry the helper is reading.  The
// command's own logic stays single-threaded: an entry's details are the
// same whichever thread read them, and one the helper could not read is
// read again by the search, which reports the failure.
//
// An entry is claimed by whichever thread comes to it first.  The helper
// also says which batch it is working in, and looks before each entry
// whether the search still lends it: so when the search takes a batch
// back, it waits only while the helper says it is in that batch, which
// lasts at most one entry.
#include "posix_layer.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <dirent.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

enum Claim { CLAIM_FREE, CLAIM_HELPER_READING, CLAIM_HELPER_DONE, CLAIM_SEARCH };

struct Slot {
    std::atomic<int> claim;
    int readable;  // the helper read the details; else the search reads them
    EntryDetails details;
};

// A getdents64 buffer of the enumeration's holds at most this many entries.
const size_t BATCH_CAPACITY = 1024;
Slot slots[BATCH_CAPACITY];
uint16_t name_offsets[BATCH_CAPACITY];  // of each entry's name in the buffer

// The batch lent out: its number and whether it is lent (the low bit).
// The search writes the fields below only while no batch is lent and the
// helper is in none; the helper reads them only while it is in a batch
// that is lent.  The word is also the futex the idle helper sleeps on.
std::atomic<uint32_t> lent_word;
std::atomic<uint32_t> helper_batch;  // the batch the helper is in, or 0
int batch_fd;
const char *batch_buffer;
uint32_t batch_count;
std::atomic<int> helper_sleeping;
std::atomic<int> helper_stop;
int helper_parts;

// The directory read ahead.  The search writes the path while the state is
// idle; the helper fills in the rest while reading, and the search takes
// it over once it is ready.
enum AheadState { AHEAD_IDLE, AHEAD_ASKED, AHEAD_READING, AHEAD_READY };
std::atomic<int> ahead_state;
char ahead_path[MAX_PATH];
int ahead_fd;
size_t ahead_length;
int ahead_at_end;
struct timespec ahead_modified, ahead_changed;  // before it was read
alignas(struct dirent64) char ahead_buffer[DIRENT_BUFFER_SIZE];

// The search's side.
int helper_running;
uint32_t batch_number;  // of the batch lent last
int batch_lent;
pthread_t helper_thread;
alignas(4096) char helper_stack[1 << 20];  // what a sanitizer build asks for; untouched pages cost nothing

// Between two batches the search opens the next directory and reads it,
// which takes a few microseconds: the helper spins that long before it
// sleeps, so that it is awake when the batch comes.
const int IDLE_SPINS = 4096;
// How long the search spins on an entry the helper is reading before it
// lets other threads run.
const int WAIT_SPINS = 1 << 14;

uint32_t lent(uint32_t batch)
{
    return batch << 1 | 1;
}

void cpu_pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

template <typename T> void wait_while_equal(const std::atomic<T> &word, T value)
{
    for (int spins = 0; word.load(std::memory_order_seq_cst) == value; spins++) {
        if (spins < WAIT_SPINS)
            cpu_pause();
        else
            sched_yield();
    }
}

// ---- the helper ----

// From the batch's last entry down, until an entry the search has claimed
// (it has passed everything below) or the batch is taken back.
int is_lent(uint32_t batch)
{
    return lent_word.load(std::memory_order_seq_cst) == lent(batch);
}

void read_batch(uint32_t batch)
{
    helper_batch.store(batch, std::memory_order_seq_cst);
    // The count is read only once the batch is known to be lent: until the
    // helper leaves the batch, the search changes nothing of it.
    uint32_t k = is_lent(batch) ? batch_count : 0;
    while (k-- > 0 && is_lent(batch)) {
        int expected = CLAIM_FREE;
        if (!slots[k].claim.compare_exchange_strong(expected, CLAIM_HELPER_READING)) break;
        const char *name = batch_buffer + name_offsets[k];
        slots[k].readable = read_entry_details(batch_fd, name, helper_parts, &slots[k].details);
        slots[k].claim.store(CLAIM_HELPER_DONE, std::memory_order_release);
    }
    helper_batch.store(0, std::memory_order_seq_cst);
}

// Opens the directory asked for and reads it as the enumeration would; one
// more read says whether that was all, and what it adds fits behind.
void read_ahead()
{
    int expected = AHEAD_ASKED;
    if (!ahead_state.compare_exchange_strong(expected, AHEAD_READING)) return;
    int fd = open(ahead_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    ssize_t got = -1;
    if (fd >= 0 && fstat(fd, &st) == 0) got = getdents64(fd, ahead_buffer, sizeof ahead_buffer);
    if (got <= 0) {
        if (fd >= 0) close(fd);
        ahead_state.store(AHEAD_IDLE, std::memory_order_release);
        return;
    }
    ssize_t more = getdents64(fd, ahead_buffer + got, sizeof ahead_buffer - (size_t)got);
    ahead_fd = fd;
    ahead_length = (size_t)got + (more > 0 ? (size_t)more : 0);
    ahead_at_end = more == 0;
    ahead_modified = st.st_mtim;
    ahead_changed = st.st_ctim;
    ahead_state.store(AHEAD_READY, std::memory_order_release);
}

int is_asked()
{
    return ahead_state.load(std::memory_order_seq_cst) == AHEAD_ASKED;
}

void *helper_main(void *)
{
    uint32_t seen = 0;
    for (;;) {
        read_ahead();
        uint32_t word = lent_word.load(std::memory_order_seq_cst);
        for (int spins = 0; word == seen && !is_asked() && spins < IDLE_SPINS; spins++) {
            cpu_pause();
            word = lent_word.load(std::memory_order_seq_cst);
        }
        if (helper_stop.load(std::memory_order_seq_cst)) return nullptr;
        if (is_asked()) continue;
        if (word == seen) {
            helper_sleeping.store(1, std::memory_order_seq_cst);
            if (lent_word.load(std::memory_order_seq_cst) == seen && !is_asked() &&
                !helper_stop.load(std::memory_order_seq_cst))
                syscall(SYS_futex, (uint32_t *)&lent_word, FUTEX_WAIT_PRIVATE, seen, nullptr,
                        nullptr, 0);
            helper_sleeping.store(0, std::memory_order_relaxed);
            continue;
        }
        seen = word;
        if (word & 1) read_batch(word >> 1);
    }
}

// ---- the search's side ----

void wake_helper()
{
    syscall(SYS_futex, (uint32_t *)&lent_word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

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
    prefetch_batch_end();
    helper_stop.store(1, std::memory_order_seq_cst);
    wake_helper();
    pthread_join(helper_thread, nullptr);
}

}  // namespace

void prefetch_start(int parts)
{
    if (helper_running || parts == 0 || !may_use_two_cpus()) return;
    helper_parts = parts;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return;
    helper_running = pthread_attr_setstack(&attributes, helper_stack, sizeof helper_stack) == 0 &&
                     pthread_create(&helper_thread, &attributes, helper_main, nullptr) == 0;
    pthread_attr_destroy(&attributes);
    if (helper_running) atexit(end_helper);
}

void prefetch_batch_begin(int dir_fd, const char *buffer, size_t length)
{
    if (!helper_running) return;
    uint32_t count = 0;
    for (size_t offset = 0; offset < length && count < BATCH_CAPACITY; count++) {
        const struct dirent64 *entry = (const struct dirent64 *)(buffer + offset);
        name_offsets[count] = (uint16_t)(offset + offsetof(struct dirent64, d_name));
        offset += entry->d_reclen;
    }
    for (uint32_t k = 0; k < count; k++) slots[k].claim.store(CLAIM_FREE, std::memory_order_relaxed);
    batch_fd = dir_fd;
    batch_buffer = buffer;
    batch_count = count;
    batch_number = (batch_number + 1) & 0x7FFFFFFF;
    if (batch_number == 0) batch_number = 1;
    batch_lent = 1;
    lent_word.store(lent(batch_number), std::memory_order_seq_cst);
    if (helper_sleeping.load(std::memory_order_seq_cst)) wake_helper();
}

void prefetch_batch_end()
{
    if (!batch_lent) return;
    batch_lent = 0;
    lent_word.store(batch_number << 1, std::memory_order_seq_cst);
    wait_while_equal(helper_batch, batch_number);
}

void prefetch_read_ahead(const char *path)
{
    if (!helper_running || strlen(path) >= sizeof ahead_path) return;
    int state = ahead_state.load(std::memory_order_acquire);
    if (state == AHEAD_READING) return;
    if (state != AHEAD_IDLE && strcmp(path, ahead_path) == 0) return;
    // A request the helper has not begun is taken back; one it has just
    // begun is left to it.
    if (state == AHEAD_ASKED && !ahead_state.compare_exchange_strong(state, AHEAD_IDLE)) return;
    if (state == AHEAD_READY) close(ahead_fd);
    strcpy(ahead_path, path);
    ahead_state.store(AHEAD_ASKED, std::memory_order_seq_cst);
}

static int same_time(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A directory read ahead is taken only when it is still in its place and
// unchanged since (a change to its entries or a move changes its times), so
// the listing is the one the search would have read now.
int prefetch_adopt(const char *path, DirentReader *reader)
{
    if (!helper_running) return 0;
    int state = ahead_state.load(std::memory_order_acquire);
    if (state == AHEAD_IDLE || strcmp(path, ahead_path) != 0) return 0;
    if (state == AHEAD_ASKED && ahead_state.compare_exchange_strong(state, AHEAD_IDLE)) return 0;
    wait_while_equal(ahead_state, (int)AHEAD_READING);
    if (ahead_state.load(std::memory_order_acquire) != AHEAD_READY) return 0;
    ahead_state.store(AHEAD_IDLE, std::memory_order_relaxed);
    struct stat st;
    if (fstat(ahead_fd, &st) != 0 || st.st_nlink == 0 || !same_time(st.st_mtim, ahead_modified) ||
        !same_time(st.st_ctim, ahead_changed)) {
        close(ahead_fd);
        return 0;
    }
    memcpy(reader->buffer, ahead_buffer, ahead_length);
    *reader = {ahead_fd, reader->buffer, reader->size, 0, ahead_length, 1, ahead_at_end};
    return 1;
}

int prefetch_take(size_t position, int parts, EntryDetails *details)
{
    if (!batch_lent || position >= batch_count || (parts & ~helper_parts) != 0) return 0;
    Slot *slot = &slots[position];
    int expected = CLAIM_FREE;
    if (slot->claim.compare_exchange_strong(expected, CLAIM_SEARCH)) return 0;
    wait_while_equal(slot->claim, (int)CLAIM_HELPER_READING);
    if (!slot->readable) return 0;
    *details = slot->details;
    return 1;
}
