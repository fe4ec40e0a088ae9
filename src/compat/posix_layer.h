// What the POSIX layer's enumeration and its prefetch helper share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "win32.h"

struct dirent64;

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
// Directories are numbered by the order in which they are freshly opened
// (their first enumeration); the search's second enumeration of a
// directory reuses its number.
void prefetch_directory_opened(uint32_t ordinal);
// The search's first enumeration of directory ordinal has read its entry
// number index (counted from 1).
void prefetch_entry_read(uint32_t ordinal, uint32_t index);
// Starts the helper on the walk whose root is path (opened as number
// root_ordinal, its "dir\*" string root_spec_length characters long),
// reading the given parts; nothing when fewer than two CPUs
// may run the process.
void prefetch_start(const char *path, uint32_t root_ordinal, size_t root_spec_length, int parts);
// The details of entry number index, name (inode number inode) of
// directory number ordinal at path, when the helper has read exactly that
// entry; 0 when the caller must read them itself.
int prefetch_take(uint32_t ordinal, uint32_t index, const char *path, const char *name,
                  uint64_t inode, int parts, EntryDetails *details);
