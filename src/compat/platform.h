// What trawl asks of the platform beyond the Win32 calls: the same
// declarations on both builds, over the types win32.h provides.  The POSIX
// layer and the Windows pieces (windows_*.cpp) each implement them.
#pragma once

#include <cstdint>
#include <cstdio>

#include "find_data.h"
#include "win32.h"

// Win32 has no name for the volume-label bit any more; both builds use ours.
#define TRAWL_ATTRIBUTE_VOLUME_LABEL 0x00000008

// The POSIX enumeration delivers names, the directory bit and the attributes
// that follow from the name alone; the rest is filled in here, only for
// entries that need it, and only the parts asked for: what the inode holds
// (size, times, read-only), and the hidden and system bits stored beside
// it.  Returns 0, with errno set, when the entry's details cannot be read.
// Windows delivers the whole record at once, so there it does nothing.
enum {
    FIND_DATA_INODE = 1,
    FIND_DATA_STORED_ATTRIBUTES = 2,
    FIND_DATA_ALL = FIND_DATA_INODE | FIND_DATA_STORED_ATTRIBUTES,
};
int complete_find_data(HANDLE handle, WIN32_FIND_DATAA *entry, int parts);

// How many CPUs the process may use: those it may run on, and no more than
// its control group's CPU quota allows; at least 1.
int usable_cpus();

// How many descriptors other threads may hold open at once without ever
// taking one the search needs: what the limit leaves beyond those open now
// and those the deepest walk holds.  Windows has no such limit.
int descriptors_to_spare();

// What makes a directory the same directory by whatever path it is reached:
// device and inode, or volume serial number and file index.
struct DirectoryIdentity {
    uint64_t volume;
    uint64_t index;
};
// The identity of the directory a path names (drive prefix and '\'
// separators, as the enumeration takes it), links followed; 0 when it
// cannot be had.
int directory_identity(const char *path, DirectoryIdentity *identity);

// Whether the stream is written to a terminal (on Windows, a console):
// there what is written is shown, and control characters act.
int is_terminal(FILE *stream);

// Block-buffers a stream that is not a terminal, line-buffers one that is.
// On Windows a console is also switched to UTF-8 for the run, since the
// program's ANSI code page is UTF-8 (see trawl.manifest).
void set_output_buffering(FILE *stream);

// Called after each complete line: a console shows it at once.
void finish_line(FILE *stream);

// Whether a failed write (errno as the C library left it) went to a pipe
// whose reader has gone.
int write_error_is_closed_pipe(int error);
