// The POSIX enumeration and its read-ahead helper: the one record they
// share, a Listing, and the calls by which they hand it over.  Nothing else
// passes between the two.
//
// A Listing is a directory that has been read: its descriptor, the entries
// the last getdents64 delivered, and a slot per entry for its details.  The
// search owns the listings of its open enumerations; the helper owns those
// it reads ahead, until the search adopts one.  Whatever either shows the
// user was read at most FRESH_NANOSECONDS before the search uses it:
// anything older is read again, whatever the directory's times say.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "win32.h"

struct dirent64;

// The size of a listing's getdents64 buffer: most directories fit in one.
const size_t DIRENT_BUFFER_SIZE = 16384;
// The most entries one buffer holds (the shortest record is 24 bytes).
const size_t LISTING_CAPACITY = DIRENT_BUFFER_SIZE / 24;

// How old a listing or an entry's details may be when the search uses them:
// as old as a walk by one thread would show them on a busy machine.
const uint64_t FRESH_NANOSECONDS = 5000000;

uint64_t monotonic_nanoseconds();
inline int is_fresh(uint64_t read_at)
{
    return monotonic_nanoseconds() - read_at <= FRESH_NANOSECONDS;
}

// An entry's details as complete_find_data adds them to the record.
struct EntryDetails {
    uint64_t size;
    uint64_t write_ticks;
    uint64_t access_ticks;
    uint64_t creation_ticks;
    DWORD attributes;  // read-only and the stored hidden and system bits
};

// Reads the parts (FIND_DATA_*) of one entry of an open directory; 0 with
// errno when they cannot be read.  Safe on any thread.
int read_entry_details(int dir_fd, const char *name, int parts, EntryDetails *details);

// Who reads an entry's details: whoever claims its slot first.
enum Claim { CLAIM_FREE, CLAIM_HELPER, CLAIM_HELPER_DONE, CLAIM_SEARCH };

struct EntrySlot {
    std::atomic<int> claim;
    int readable;  // the helper read the details; else the search reads them
    uint64_t read_at;
    EntryDetails details;
};

struct Listing {
    int fd;         // -1 once closed: then the whole directory is in the buffer
    size_t next;    // offset of the next entry to deliver
    size_t end;     // bytes in the buffer
    int reads;      // getdents64 calls that delivered entries since the start
    int at_end;     // the last one delivered none
    uint64_t read_at;  // when the directory was opened and first read
    int children_expected;  // by the helper, from the whole listing
    // Set while the helper may read the details of the buffer's entries;
    // only readahead_take_back clears it.
    std::atomic<int> details_open;
    uint32_t count;  // entries indexed into name_offsets and slots
    uint16_t name_offsets[LISTING_CAPACITY];
    EntrySlot slots[LISTING_CAPACITY];
    char path[MAX_PATH];
    alignas(8) char buffer[DIRENT_BUFFER_SIZE];
};

// Opens the directory at path into listing and reads its first buffer;
// 0 with errno when it cannot be opened.
int listing_open(Listing *listing, const char *path);
// The next raw entry; null at the end (at_end set) or after a read error
// (errno set).  Refills the buffer: the caller takes it back first.
const struct dirent64 *listing_next(Listing *listing);
// Records where each entry of the buffer is, every slot unclaimed.
void listing_index(Listing *listing);
// The record the enumeration delivers for a raw entry of the listing.
void listing_entry_data(const Listing *listing, const struct dirent64 *entry,
                        WIN32_FIND_DATAA *data);

// ---- the hand-offs, as the enumeration makes them ----

// Starts the helper (once; nothing on one CPU).  Whether it runs.
void readahead_start();
int readahead_running();
// From now on the helper reads these details (FIND_DATA_*) of the entries
// it is lent and of the directories it reads ahead.
void readahead_want_details(int parts);
int readahead_details_wanted();

// Which subdirectories the search descends: the search's own rule, handed
// over at the start of each search (null when it descends none).
typedef int DescendsRule(const WIN32_FIND_DATAA *entry);

// The search has read a buffer of listing in its first pass: the
// subdirectories there that it will descend are expected next, after those
// of the same directory and before anything expected earlier.  Nothing
// when the helper read the whole listing and expected them already.
void readahead_expect_children(Listing *listing);
// The search opens path now: its listing when the helper has read it and it
// is fresh (the caller owns it until readahead_release), else null.
// Directories expected before it and not opened are forgotten.
Listing *readahead_adopt(const char *path);
// Gives an adopted listing back; the helper closes its descriptor.
void readahead_release(Listing *listing);
// Forgets every directory expected or read ahead and any loan: a new
// search begins, which asks these details (FIND_DATA_*) of entries and
// descends by this rule.
void readahead_forget(int parts, DescendsRule *descends);

// Lends the helper the entries in listing's buffer (indexed): it reads
// their details from the last one while the search goes from the first.
// An earlier loan is taken back first.
void readahead_lend(Listing *listing);
// Takes a loan back, waiting at most for the one entry the helper is
// reading; must come before the buffer changes or the descriptor closes.
void readahead_take_back(Listing *listing);
// The details of the entry at position, when the helper read them and
// they are fresh; 0 when the caller must read them itself.
int readahead_take_details(Listing *listing, size_t position, int parts, EntryDetails *details);

// What tests look at: directories adopted fresh, and read ahead in all.
struct ReadaheadCounts {
    uint64_t adopted;
    uint64_t read_ahead;
    uint64_t stale;
};
ReadaheadCounts readahead_counts();
// Whether the helper steps back when it gets too little of its CPU; tests,
// whose machine may be busy with anything, keep it from doing so.
extern int readahead_may_step_back;
// Tests park the helper here: called with the listing and the position of
// an entry it has claimed, before it reads the entry's details, and with
// the path of a directory it has claimed, before it opens it.
extern void (*readahead_test_pause)(const Listing *listing, size_t position, const char *path);
