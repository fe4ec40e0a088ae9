// Directory enumeration with the Win32 calls' shape, over getdents64.
//
// The search walks every entry of every directory, so the enumeration itself
// costs a share of one getdents64 per entry, plus an fstatat only for
// symbolic links and for entries whose type the directory does not tell.
// Everything that needs the inode (size, times, read-only, the DOS
// attributes Wine and Samba keep in an extended attribute) waits for
// complete_find_data, which the search calls only for entries it looks at
// in detail.
#include "platform.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const uint64_t LAST_FILETIME_SECOND = LAST_FILETIME / TICKS_PER_SECOND;
const uint64_t NO_FILETIME = ~0ULL;

// Wine and Samba keep the DOS attributes that have no POSIX counterpart in
// this extended attribute, as text such as "0x22".
const char DOS_ATTRIBUTE_XATTR[] = "user.DOSATTRIB";

// Of the stored DOS attributes Wine honours only these two: the others follow
// from the inode (directory, read-only) or are always set (archive).
const DWORD STORED_ATTRIBUTE_MASK = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Turns "dir\*" (with or without a drive prefix, with either separator) into
// the POSIX directory path.  Returns 0 for anything but a directory's "*".
int directory_of_spec(const char *spec, char *path)
{
    if (spec[0] != '\0' && spec[1] == ':') spec += 2;
    size_t length = strlen(spec);
    if (length == 0 || spec[length - 1] != '*') return 0;
    length--;
    if (length == 0) {  // "*" or "C:*": the current directory
        strcpy(path, ".");
        return 1;
    }
    if (spec[length - 1] != '\\' && spec[length - 1] != '/')
        return 0;  // "name*" would be a pattern, which no caller passes
    length--;
    if (length == 0) {  // "\*": the root
        strcpy(path, "/");
        return 1;
    }
    for (size_t i = 0; i < length; i++) path[i] = spec[i] == '\\' ? '/' : spec[i];
    path[length] = '\0';
    return 1;
}

// Turns a directory path of the Win32 form ("C:\\x\\y", "\\", ".") into
// the POSIX one; 0 when it does not fit.
int posix_directory_path(const char *path, char *out, size_t size)
{
    if (path[0] != '\0' && path[1] == ':') path += 2;
    size_t length = strlen(path);
    if (length == 0 || length >= size) return 0;
    for (size_t i = 0; i <= length; i++) out[i] = path[i] == '\\' ? '/' : path[i];
    return 1;
}

// A link counts as what it points to, and Wine marks a link to a directory
// as a reparse point too (a link to a file it does not).  A dangling link is
// the link itself, which is not a directory.
DWORD attributes_of_link(int dir_fd, const char *name)
{
    struct stat st;
    if (fstatat(dir_fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return FILE_ATTRIBUTE_ARCHIVE;
}

// The type bits, from d_type where the file system provides it.
DWORD type_attributes(int dir_fd, const char *name, unsigned char d_type)
{
    if (d_type == DT_DIR) return FILE_ATTRIBUTE_DIRECTORY;
    if (d_type == DT_LNK) return attributes_of_link(dir_fd, name);
    if (d_type != DT_UNKNOWN) return FILE_ATTRIBUTE_ARCHIVE;
    struct stat st;
    if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return FILE_ATTRIBUTE_ARCHIVE;
    if (S_ISLNK(st.st_mode)) return attributes_of_link(dir_fd, name);
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

// A time outside the FILETIME range (before 1601, or after 30828-09-14 where
// the tick count would reach the top bit) has no FILETIME.  It is given one
// with the top bit set, which the calendar conversion rejects, as Wine does
// for a time before 1601: the listing shows no date, and no date criterion
// selects it for a time it does not have.
uint64_t ticks_of_timespec(const struct timespec &ts)
{
    if (ts.tv_sec < -SECONDS_1601_TO_1970) return NO_FILETIME;
    uint64_t seconds = (uint64_t)((int64_t)ts.tv_sec + SECONDS_1601_TO_1970);
    if (seconds > LAST_FILETIME_SECOND) return NO_FILETIME;
    uint64_t ticks = seconds * TICKS_PER_SECOND + (uint64_t)ts.tv_nsec / 100;
    return ticks > LAST_FILETIME ? NO_FILETIME : ticks;
}

void fill_from_entry(int dir_fd, const struct dirent64 *entry, WIN32_FIND_DATAA *data)
{
    const char *name = entry->d_name;
    size_t length = strnlen(name, MAX_PATH - 1);
    memcpy(data->cFileName, name, length);
    data->cFileName[length] = '\0';
    data->cAlternateFileName[0] = '\0';

    DWORD attributes = type_attributes(dir_fd, name, entry->d_type);
    if (name[0] == '.' && !is_dot_entry(name)) attributes |= FILE_ATTRIBUTE_HIDDEN;
    data->dwFileAttributes = attributes;

    set_filetime(&data->ftCreationTime, 0);
    set_filetime(&data->ftLastAccessTime, 0);
    set_filetime(&data->ftLastWriteTime, 0);
    data->nFileSizeHigh = 0;
    data->nFileSizeLow = 0;
    data->dwReserved0 = 0;
    data->dwReserved1 = 0;
}

// An open enumeration.  The search holds one per level of its walk, and
// each reader one while it reads, so a fixed pool serves them all without
// allocating, and without the fstat and the heap buffer that opendir costs
// per directory.  A stream is claimed with one atomic exchange, so any
// thread may open and close enumerations.
const size_t DIRENT_BUFFER_SIZE = 16384;

struct DirStream {
    std::atomic<int> busy;
    int fd;
    size_t next;  // offset of the next entry to deliver
    size_t end;   // bytes in the buffer
    int at_end;   // the last getdents64 delivered nothing
    alignas(8) char buffer[DIRENT_BUFFER_SIZE];
};

// More than the deepest walk and every reader hold open at once.
const int STREAM_COUNT = 512;
DirStream streams[STREAM_COUNT];

DirStream *claim_stream()
{
    for (int i = 0; i < STREAM_COUNT; i++)
        if (!streams[i].busy.load(std::memory_order_relaxed) &&
            !streams[i].busy.exchange(1, std::memory_order_acquire))
            return &streams[i];
    errno = EMFILE;
    return nullptr;
}

void release_stream(DirStream *stream)
{
    stream->busy.store(0, std::memory_order_release);
}

// Reads the next entry into data.  At the clean end errno is ENOENT, after a
// read error it is getdents64's.
int read_next(DirStream *stream, WIN32_FIND_DATAA *data)
{
    if (stream->next >= stream->end) {
        if (stream->at_end) {
            errno = ENOENT;
            return 0;
        }
        ssize_t got = getdents64(stream->fd, stream->buffer, sizeof stream->buffer);
        if (got <= 0) {
            stream->at_end = 1;
            if (got == 0) errno = ENOENT;
            return 0;
        }
        stream->next = 0;
        stream->end = (size_t)got;
    }
    const struct dirent64 *entry = (const struct dirent64 *)(stream->buffer + stream->next);
    stream->next += entry->d_reclen;
    fill_from_entry(stream->fd, entry, data);
    return 1;
}

DirStream *stream_of(HANDLE handle)
{
    DirStream *stream = (DirStream *)handle;
    if (stream < streams || stream >= streams + STREAM_COUNT ||
        !stream->busy.load(std::memory_order_relaxed))
        return nullptr;
    return stream;
}

// Decodes the text Wine writes ("0x" and hex digits; Samba adds a NUL) the
// way Wine 8 reads it: strtol's reading of what follows, which must end at
// the text's end or a NUL; anything else counts as no stored attributes.
DWORD parse_dos_attribute_text(char *text, ssize_t length)
{
    if (length <= 2 || text[0] != '0' || text[1] != 'x') return 0;
    text[length] = '\0';
    char *end;
    long value = strtol(text, &end, 16);
    if (*end != '\0') return 0;
    return (DWORD)value & STORED_ATTRIBUTE_MASK;
}

// Linux 6.13 reads an extended attribute by directory and name
// (getxattrat), which saves the path walk that getxattr needs; older
// kernels get the entry's path through /proc, from the directory's
// descriptor, without the directory's own path.  Both follow links.
const long GETXATTRAT_SYSCALL = 464;  // the same number on every architecture

struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};

// Read by every thread that completes entries.
std::atomic<int> getxattrat_missing;

ssize_t read_xattr(int dir_fd, const char *name, char *text, size_t size)
{
    if (!getxattrat_missing.load(std::memory_order_relaxed)) {
        XattrArgs args = {(uint64_t)(uintptr_t)text, (uint32_t)size, 0};
        long got =
            syscall(GETXATTRAT_SYSCALL, dir_fd, name, 0, DOS_ATTRIBUTE_XATTR, &args, sizeof args);
        if (got >= 0 || errno != ENOSYS) return (ssize_t)got;
        getxattrat_missing.store(1, std::memory_order_relaxed);
    }
    char path[sizeof "/proc/self/fd/" + 12 + MAX_PATH];
    snprintf(path, sizeof path, "/proc/self/fd/%d/%s", dir_fd, name);
    return getxattr(path, DOS_ATTRIBUTE_XATTR, text, size);
}

// The hidden and system bits stored for the entry.  An attribute that
// cannot be read is one that is not stored.
// Reading it needs read permission on the entry, which a user who may stat
// it need not have, and no attribute, a file system without them or a
// value too long for Wine to read come to the same.  The entry's letters
// then follow from its mode alone, as Wine shows them; whether the entry
// can be described at all is for its stat to say.
DWORD stored_dos_attributes(int dir_fd, const char *name)
{
    char text[65];  // Wine reads at most 64 bytes and ignores a longer value
    ssize_t length = read_xattr(dir_fd, name, text, sizeof text - 1);
    return length >= 0 ? parse_dos_attribute_text(text, length) : 0;
}

// A dangling link has no target to describe: the link itself is the entry.
// Anything else that cannot be read is a failure, never a record of
// made-up values.
int read_inode(int dir_fd, WIN32_FIND_DATAA *data)
{
    struct stat st;
    if (fstatat(dir_fd, data->cFileName, &st, 0) != 0) {
        if ((errno != ENOENT && errno != ELOOP) ||
            fstatat(dir_fd, data->cFileName, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return 0;
    }
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
    data->nFileSizeHigh = (DWORD)(size >> 32);
    data->nFileSizeLow = (DWORD)size;
    set_filetime(&data->ftLastWriteTime, ticks_of_timespec(st.st_mtim));
    set_filetime(&data->ftLastAccessTime, ticks_of_timespec(st.st_atim));
    set_filetime(&data->ftCreationTime, ticks_of_timespec(st.st_ctim));
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
        data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    return 1;
}

}  // namespace

HANDLE FindFirstFileA(const char *spec, WIN32_FIND_DATAA *data)
{
    size_t spec_length = strlen(spec);
    if (spec_length >= MAX_PATH) {
        errno = ENAMETOOLONG;
        return INVALID_HANDLE_VALUE;
    }
    char path[MAX_PATH];
    if (!directory_of_spec(spec, path)) {
        errno = EINVAL;
        return INVALID_HANDLE_VALUE;
    }
    DirStream *stream = claim_stream();
    if (stream == nullptr) return INVALID_HANDLE_VALUE;
    stream->next = stream->end = 0;
    stream->at_end = 0;
    stream->fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (stream->fd >= 0 && read_next(stream, data)) return (HANDLE)stream;
    // Not opened, or not even "." or "..": nothing to deliver.
    int saved = errno;
    if (stream->fd >= 0) close(stream->fd);
    release_stream(stream);
    errno = saved;
    return INVALID_HANDLE_VALUE;
}

HANDLE FindFirstFileExA(const char *spec, FINDEX_INFO_LEVELS, void *data, FINDEX_SEARCH_OPS, void *,
                        DWORD)
{
    return FindFirstFileA(spec, (WIN32_FIND_DATAA *)data);
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA *data)
{
    DirStream *stream = stream_of(handle);
    if (stream == nullptr) {
        errno = EBADF;
        return FALSE;
    }
    return read_next(stream, data) ? TRUE : FALSE;
}

BOOL FindClose(HANDLE handle)
{
    DirStream *stream = stream_of(handle);
    if (stream == nullptr) {
        errno = EBADF;
        return FALSE;
    }
    int closed = close(stream->fd);
    release_stream(stream);
    return closed == 0 ? TRUE : FALSE;
}

int complete_find_data(HANDLE handle, WIN32_FIND_DATAA *data, int parts)
{
    DirStream *stream = stream_of(handle);
    if (stream == nullptr) {
        errno = EBADF;
        return 0;
    }
    if ((parts & FIND_DATA_INODE) && !read_inode(stream->fd, data)) return 0;
    if (parts & FIND_DATA_STORED_ATTRIBUTES)
        data->dwFileAttributes |= stored_dos_attributes(stream->fd, data->cFileName);
    return 1;
}

int directory_identity(const char *path, DirectoryIdentity *identity)
{
    char posix_path[MAX_PATH];
    if (!posix_directory_path(path, posix_path, sizeof posix_path)) return 0;
    struct stat st;
    if (stat(posix_path, &st) != 0) return 0;
    identity->volume = (uint64_t)st.st_dev;
    identity->index = (uint64_t)st.st_ino;
    return 1;
}
