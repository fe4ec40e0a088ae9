// The prefetch helper: a second thread that shares the reading of entries'
// details (the fstatat and the getxattrat that take most of a long
// listing's time) with the search, and reads the next directory ahead.
//
// The enumeration lends the helper each buffer of entries that a
// directory's first enumeration reads with getdents64: a batch.  The search
// goes through the batch from its first entry, and the helper from its
// last, each claiming an entry before reading it; they stop where they
// meet.  So the helper reads exactly the names the search got, through the
// search's own descriptor.  The search takes the batch back before the
// buffer is refilled or the descriptor closed, waiting at most for the one
// entry the helper is reading.
//
// With a directory's first buffer the enumeration also names the directory
// it expects the search to open next.  The helper opens and reads that one
// while the search is busy, and with time to spare reads the details of
// its entries too, from the last one.  When the search opens the directory
// and it is unchanged since, the search takes the listing over, and the
// details already read come with it as its first batch.  No directory is
// read twice.
//
// The command's own logic stays single-threaded: an entry's details are
// the same whichever thread read them, and one the helper could not read is
// read again by the search, which reports the failure.  The helper works
// only where the search tells it to, so each side says which part it is in
// (the batch lent, the directory ahead) and looks before each entry
// whether the other still lets it: taking a part back waits at most for
// one entry.
#include "posix_layer.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace {

enum Claim { CLAIM_FREE, CLAIM_HELPER_READING, CLAIM_HELPER_DONE, CLAIM_SEARCH };

struct Slot {
    std::atomic<int> claim;
    int readable;  // the helper read the details; else the search reads them
    uint32_t read_at;  // milliseconds
    EntryDetails details;
};

// A getdents64 buffer of the enumeration's holds at most this many entries.
const size_t BATCH_CAPACITY = 1024;

// The entries of one buffer and the claims on them.
struct Batch {
    uint32_t count;
    uint16_t name_offsets[BATCH_CAPACITY];
    Slot slots[BATCH_CAPACITY];
};
Batch batches[2];
// The search swaps the two only while the helper is in neither.
Batch *lent_batch = &batches[0];
Batch *ahead_batch = &batches[1];

// The batch lent out: its number and whether it is lent (the low bit).
// Only the search writes it.  The search writes the fields below only while no batch is lent and the
// helper is in none; the helper reads them only while it is in a batch
// that is lent.  The word is also the futex the idle helper sleeps on.
std::atomic<uint32_t> lent_word;
std::atomic<uint32_t> helper_batch;  // the batch the helper is in, or 0
int batch_fd;
const char *batch_buffer;
std::atomic<int> helper_sleeping;
std::atomic<int> helper_stop;
int helper_parts;

// The directory read ahead.  The search writes the path while the state is
// idle; the helper fills in the rest while reading, and reads details
// while the state is ready and the search has not taken it back.
enum AheadState { AHEAD_IDLE, AHEAD_ASKED, AHEAD_READING, AHEAD_READY };
std::atomic<int> ahead_state;
std::atomic<int> helper_ahead;  // the helper is reading details ahead
char ahead_path[MAX_PATH];
int ahead_fd;
size_t ahead_length;
int ahead_at_end;
struct timespec ahead_modified, ahead_changed;  // before it was read
uint32_t ahead_read_at;                         // milliseconds
alignas(struct dirent64) char ahead_buffer[DIRENT_BUFFER_SIZE];

// The search's side.
int helper_running;
int batch_adopted;  // the next batch lent is the directory read ahead
pthread_t helper_thread;
alignas(4096) char helper_stack[1 << 20];  // what a sanitizer build asks for; untouched pages cost nothing

// Details the helper read longer ago than this are read again: the search
// may have been held up (by a reader that does not read, say) while the
// files changed, and what it shows is then to be as it finds them.  Taking
// them within this time is as good as a walk by one thread, whose entries
// are read one after another too.  The coarse clock costs next to nothing
// and moves in ticks of a few milliseconds, by which the bound is loose.
const uint32_t FRESH_MILLISECONDS = 10;

uint32_t now_milliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return (uint32_t)((uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000);
}

// Between two batches the search opens the next directory and reads it,
// which takes a few microseconds: the helper spins that long before it
// sleeps, so that it is awake when the batch comes.
const int IDLE_SPINS = 4096;
// How long either side spins on the other (an entry being read takes a few
// microseconds) before it lets other threads run: should the two share one
// CPU for a while, the one waited for then gets it soon.
const int WAIT_SPINS = 512;

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

// Where each entry's name is, and every entry unclaimed.
void index_entries(Batch *batch, const char *buffer, size_t length)
{
    uint32_t count = 0;
    for (size_t offset = 0; offset < length && count < BATCH_CAPACITY; count++) {
        const struct dirent64 *entry = (const struct dirent64 *)(buffer + offset);
        batch->name_offsets[count] = (uint16_t)(offset + offsetof(struct dirent64, d_name));
        offset += entry->d_reclen;
    }
    for (uint32_t k = 0; k < count; k++)
        batch->slots[k].claim.store(CLAIM_FREE, std::memory_order_relaxed);
    batch->count = count;
}

// ---- the helper ----

// Reads the details of a batch's entries from the last one down, skipping
// those it has read already, until an entry the search has claimed (it has
// passed everything below) or until allowed() says to stop; the batch, the
// descriptor and the buffer stay as they are while it holds.  Returns
// whether it read any.
template <typename Allowed>
int read_details(Batch *batch, int dir_fd, const char *buffer, Allowed allowed)
{
    int read_any = 0;
    for (uint32_t k = batch->count; k-- > 0 && allowed();) {
        Slot *slot = &batch->slots[k];
        int expected = CLAIM_FREE;
        if (!slot->claim.compare_exchange_strong(expected, CLAIM_HELPER_READING)) {
            if (expected == CLAIM_HELPER_DONE) continue;
            break;
        }
        const char *name = buffer + batch->name_offsets[k];
        slot->readable = read_entry_details(dir_fd, name, helper_parts, &slot->details);
        slot->read_at = now_milliseconds();
        slot->claim.store(CLAIM_HELPER_DONE, std::memory_order_release);
        read_any = 1;
    }
    return read_any;
}

void read_lent_batch(uint32_t batch)
{
    auto is_lent = [batch] { return lent_word.load(std::memory_order_seq_cst) == lent(batch); };
    // Said before it looks: the search, taking the batch back, waits for it.
    helper_batch.store(batch, std::memory_order_seq_cst);
    if (is_lent()) read_details(lent_batch, batch_fd, batch_buffer, is_lent);
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
    ahead_read_at = now_milliseconds();
    index_entries(ahead_batch, ahead_buffer, ahead_length);
    ahead_state.store(AHEAD_READY, std::memory_order_seq_cst);
}

// The details of the directory read ahead, while nothing else is asked.
int read_ahead_details(uint32_t seen)
{
    auto nothing_else = [seen] {
        return ahead_state.load(std::memory_order_seq_cst) == AHEAD_READY &&
               lent_word.load(std::memory_order_relaxed) == seen;
    };
    helper_ahead.store(1, std::memory_order_seq_cst);
    int read_any =
        nothing_else() && read_details(ahead_batch, ahead_fd, ahead_buffer, nothing_else);
    helper_ahead.store(0, std::memory_order_seq_cst);
    return read_any;
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
        if (word != seen) {
            seen = word;
            if (word & 1) read_lent_batch(word >> 1);
            continue;
        }
        if (read_ahead_details(seen)) continue;
        for (int spins = 0; word == seen && !is_asked() && spins < IDLE_SPINS; spins++) {
            cpu_pause();
            word = lent_word.load(std::memory_order_seq_cst);
        }
        if (helper_stop.load(std::memory_order_seq_cst)) return nullptr;
        if (word != seen || is_asked()) continue;
        helper_sleeping.store(1, std::memory_order_seq_cst);
        if (lent_word.load(std::memory_order_seq_cst) == seen && !is_asked() &&
            !helper_stop.load(std::memory_order_seq_cst))
            syscall(SYS_futex, (uint32_t *)&lent_word, FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr,
                    0);
        helper_sleeping.store(0, std::memory_order_relaxed);
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

// Takes the directory read ahead back from the helper; 1 when it was
// ready, and its descriptor is now the caller's.
int take_ahead_back()
{
    int state = ahead_state.load(std::memory_order_seq_cst);
    if (state == AHEAD_ASKED && ahead_state.compare_exchange_strong(state, AHEAD_IDLE)) return 0;
    wait_while_equal(ahead_state, (int)AHEAD_READING);
    if (ahead_state.load(std::memory_order_seq_cst) != AHEAD_READY) return 0;
    ahead_state.store(AHEAD_IDLE, std::memory_order_seq_cst);
    wait_while_equal(helper_ahead, 1);
    return 1;
}

// At the process end the helper is told to stop and waited for: it then
// reads nothing through a descriptor the exit closes.
void end_helper()
{
    prefetch_batch_end();
    take_ahead_back();
    helper_stop.store(1, std::memory_order_seq_cst);
    // A new value of the futex word, so that a helper about to sleep on the
    // old one does not.
    lent_word.fetch_add(2, std::memory_order_seq_cst);
    wake_helper();
    pthread_join(helper_thread, nullptr);
}

int same_time(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
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

int prefetch_running()
{
    return helper_running;
}

void prefetch_batch_begin(int dir_fd, const char *buffer, size_t length)
{
    if (!helper_running) return;
    if (!batch_adopted) index_entries(lent_batch, buffer, length);
    batch_adopted = 0;
    batch_fd = dir_fd;
    batch_buffer = buffer;
    uint32_t number = ((lent_word.load(std::memory_order_relaxed) >> 1) + 1) & 0x7FFFFFFF;
    lent_word.store(lent(number == 0 ? 1 : number), std::memory_order_seq_cst);
    if (helper_sleeping.load(std::memory_order_seq_cst)) wake_helper();
}

void prefetch_batch_end()
{
    uint32_t word = lent_word.load(std::memory_order_relaxed);
    if (!(word & 1)) return;
    lent_word.store(word & ~1u, std::memory_order_seq_cst);
    wait_while_equal(helper_batch, word >> 1);
}

void prefetch_read_ahead(const char *path)
{
    if (!helper_running || strlen(path) >= sizeof ahead_path) return;
    int state = ahead_state.load(std::memory_order_seq_cst);
    if (state == AHEAD_READING) return;  // the helper is at it: let it be
    if (state != AHEAD_IDLE && strcmp(path, ahead_path) == 0) return;
    if (take_ahead_back()) close(ahead_fd);
    strcpy(ahead_path, path);
    ahead_state.store(AHEAD_ASKED, std::memory_order_seq_cst);
}

// Whether the directory read ahead is the one the search would read now: it
// is unchanged since (a change to its entries or a move changes its times)
// and, when it was read a while ago, still the one at its path.
static int ahead_is_current(const char *path)
{
    struct stat st;
    if (fstat(ahead_fd, &st) != 0 || st.st_nlink == 0 || !same_time(st.st_mtim, ahead_modified) ||
        !same_time(st.st_ctim, ahead_changed))
        return 0;
    if (now_milliseconds() - ahead_read_at <= FRESH_MILLISECONDS) return 1;
    struct stat at_path;
    return stat(path, &at_path) == 0 && at_path.st_dev == st.st_dev && at_path.st_ino == st.st_ino;
}

int prefetch_adopt(const char *path, DirentReader *reader)
{
    if (!helper_running || ahead_state.load(std::memory_order_seq_cst) == AHEAD_IDLE ||
        strcmp(path, ahead_path) != 0 || !take_ahead_back())
        return 0;
    if (!ahead_is_current(path)) {
        close(ahead_fd);
        return 0;
    }
    memcpy(reader->buffer, ahead_buffer, ahead_length);
    *reader = {ahead_fd, reader->buffer, reader->size, 0, ahead_length, 1, ahead_at_end};
    // The listing's details come with it: it is the next batch lent.
    Batch *swapped = lent_batch;
    lent_batch = ahead_batch;
    ahead_batch = swapped;
    batch_adopted = 1;
    return 1;
}

int prefetch_take(size_t position, int parts, EntryDetails *details)
{
    if (!(lent_word.load(std::memory_order_relaxed) & 1) || position >= lent_batch->count || (parts & ~helper_parts) != 0) return 0;
    Slot *slot = &lent_batch->slots[position];
    int expected = CLAIM_FREE;
    if (slot->claim.compare_exchange_strong(expected, CLAIM_SEARCH) || expected == CLAIM_SEARCH)
        return 0;
    wait_while_equal(slot->claim, (int)CLAIM_HELPER_READING);
    if (!slot->readable || now_milliseconds() - slot->read_at > FRESH_MILLISECONDS) return 0;
    *details = slot->details;
    return 1;
}
