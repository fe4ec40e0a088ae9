// The one place that knows which platform trawl is built for.
//
// On Windows it includes <windows.h>.  Everywhere else it declares the small
// part of the Win32 interface that trawl uses (directory enumeration, time
// conversion, the attribute constants, threads and their lock), exactly as
// <windows.h> does, and the POSIX layer implements it.  What trawl adds of its own is in platform.h.
// The rest of the program never tests the platform itself.
#pragma once

#include <cstdint>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else  // POSIX

#include <cstddef>
#include <pthread.h>

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

// Threads, a lock and a condition, and the performance counter, as Windows
// offers them; over POSIX threads and CLOCK_MONOTONIC.
#define WINAPI
#define INFINITE 0xFFFFFFFFu
typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(void *parameter);

struct SRWLOCK {
    pthread_mutex_t mutex;
};
struct CONDITION_VARIABLE {
    pthread_cond_t condition;
};
#define SRWLOCK_INIT {PTHREAD_MUTEX_INITIALIZER}
#define CONDITION_VARIABLE_INIT {PTHREAD_COND_INITIALIZER}

union LARGE_INTEGER {
    int64_t QuadPart;
};

HANDLE CreateThread(void *attributes, size_t stack_size, LPTHREAD_START_ROUTINE start,
                    void *parameter, DWORD flags, DWORD *thread_id);
BOOL CloseHandle(HANDLE handle);
void AcquireSRWLockExclusive(SRWLOCK *lock);
void ReleaseSRWLockExclusive(SRWLOCK *lock);
// Only INFINITE is taken: trawl never waits with a time-out.
BOOL SleepConditionVariableSRW(CONDITION_VARIABLE *condition, SRWLOCK *lock, DWORD milliseconds,
                               DWORD flags);
void WakeAllConditionVariable(CONDITION_VARIABLE *condition);
BOOL QueryPerformanceCounter(LARGE_INTEGER *count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER *frequency);
DWORD GetCurrentProcessorNumber();
// A hint to the processor inside a spin-wait loop.
#if defined(__x86_64__) || defined(__i386__)
#define YieldProcessor() __builtin_ia32_pause()
#else
#define YieldProcessor() ((void)0)
#endif

#endif  // POSIX
