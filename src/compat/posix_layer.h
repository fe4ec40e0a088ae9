// What the POSIX layer's enumeration and its prefetch helper share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "win32.h"

struct dirent64;

// The size of an enumeration's getdents64 buffer: most directories fit in one.
const size_t DIRENT_BUFFER_SIZE = 16384;

// The entries of one open directory, read with getdents64 into a buffer of
// the reader's own; both the enumeration and the prefetch helper step
// through directories with it.
struct DirentReader {
    int fd;
    char *buffer;
    size_t size;
    size_t next;
    size_t end;
    int reads;   // getdents64 calls that delivered entries since the start
    int at_end;  // the last one delivered none
};
// The next raw entry; null at the end (at_end set) or after a read error
// (errno set).
const struct dirent64 *next_raw_entry(DirentReader *reader);

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

// The prefetch helper (posix_prefetch.cpp), as the enumeration drives it.
// Starts the helper, reading the given parts; nothing when fewer than two
// CPUs may run the process.
void prefetch_start(int parts);
// Whether the helper runs: until it does, nothing is lent or read ahead.
int prefetch_running();
// Lends the helper the entries that a directory's first enumeration has
// just read into buffer (length bytes, from the directory open as dir_fd),
// until prefetch_batch_end, which must come before the buffer changes or
// the descriptor closes.
void prefetch_batch_begin(int dir_fd, const char *buffer, size_t length);
void prefetch_batch_end();
// Asks the helper to open and read the directory at path (the enumeration's
// guess at the next one the search opens).
void prefetch_read_ahead(const char *path);
// Starts reader on the directory at path from what the helper has read of
// it ahead, when it has, and the directory has not changed since; 0 when
// the caller must open it itself.
int prefetch_adopt(const char *path, DirentReader *reader);
// The details of the lent batch's entry at position (counted from 0) when
// the helper has read them; 0 when the caller must read them itself.
int prefetch_take(size_t position, int parts, EntryDetails *details);
