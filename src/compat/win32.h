// The one place that knows which platform trawl is built for.
//
// On Windows it includes <windows.h>.  Everywhere else it declares the small
// part of the Win32 interface that trawl uses (directory enumeration, time
// conversion, the attribute constants) and the POSIX layer implements it.
// The rest of the program includes only this header and never tests the
// platform itself.
#pragma once

#include <cstdint>
#include <cstdio>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else  // POSIX

#include <cstdint>

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef int BOOL;
typedef void *HANDLE;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define FILE_ATTRIBUTE_COMPRESSED 0x00000800

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
};

enum FINDEX_INFO_LEVELS { FindExInfoStandard, FindExInfoBasic, FindExInfoMaxInfoLevel };
enum FINDEX_SEARCH_OPS {
    FindExSearchNameMatch,
    FindExSearchLimitToDirectories,
    FindExSearchLimitToDevices,
    FindExSearchMaxSearchOp
};
#define FIND_FIRST_EX_LARGE_FETCH 0x00000002

HANDLE FindFirstFileA(const char *spec, WIN32_FIND_DATAA *entry);
// There are no short names here and no search hints to take: the same as
// FindFirstFileA with a WIN32_FIND_DATAA.
HANDLE FindFirstFileExA(const char *spec, FINDEX_INFO_LEVELS level, void *entry,
                        FINDEX_SEARCH_OPS operation, void *filter, DWORD flags);
BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA *entry);
BOOL FindClose(HANDLE handle);
BOOL SystemTimeToFileTime(const SYSTEMTIME *in, FILETIME *out);
BOOL FileTimeToSystemTime(const FILETIME *in, SYSTEMTIME *out);

#endif  // POSIX

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

// Block-buffers a stream that is not a terminal, line-buffers one that is.
// On Windows a console is also switched to UTF-8 for the run, since the
// program's ANSI code page is UTF-8 (see trawl.manifest).
void set_output_buffering(FILE *stream);

// Called after each complete line: a console shows it at once.
void finish_line(FILE *stream);

// Whether a failed write (errno as the C library left it) went to a pipe
// whose reader has gone.
int write_error_is_closed_pipe(int error);
