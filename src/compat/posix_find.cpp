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
#include "posix_layer.h"

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

const uint64_t TICKS_PER_SECOND = 10000000;
const int64_t SECONDS_1601_TO_1970 = 11644473600LL;
const uint64_t LAST_FILETIME = 0x7FFFFFFFFFFFFFFFULL;
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

int is_dot_or_dot_dot(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
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

void set_filetime(FILETIME *time, uint64_t ticks)
{
    time->dwLowDateTime = (DWORD)ticks;
    time->dwHighDateTime = (DWORD)(ticks >> 32);
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
    if (name[0] == '.' && !is_dot_or_dot_dot(name)) attributes |= FILE_ATTRIBUTE_HIDDEN;
    data->dwFileAttributes = attributes;

    set_filetime(&data->ftCreationTime, 0);
    set_filetime(&data->ftLastAccessTime, 0);
    set_filetime(&data->ftLastWriteTime, 0);
    data->nFileSizeHigh = 0;
    data->nFileSizeLow = 0;
    data->dwReserved0 = 0;
    data->dwReserved1 = 0;
}

// An open enumeration: the directory and a buffer of the entries the last
// getdents64 delivered.  The search holds one per level of its walk, so a
// small fixed pool serves it without allocating, and without the fstat and
// the heap buffer that opendir costs per directory.
//
// The search reads every directory twice in a row (its matches, then its
// subdirectories), so a closed enumeration keeps its descriptor until the
// next one is opened: the same directory again is only rewound, which
// saves an open and a close per directory.  Most directories fit in one
// buffer; when the first enumeration got all of one in a single read, the
// second one delivers that buffer again and reads nothing, as if the
// directory had not changed in between.
enum StreamState { STREAM_FREE, STREAM_OPEN, STREAM_KEPT };

struct DirStream {
    DirentReader reader;
    StreamState state;
    uint32_t ordinal;      // which fresh open of the run this is
    int first_pass;        // not rewound since
    uint32_t entry_index;  // of the entry delivered last, counted from 1
    uint64_t last_inode;   // of the entry delivered last
    size_t spec_length;
    char path[MAX_PATH];
    alignas(struct dirent64) char buffer[16384];
};

// More than the deepest walk the path limit allows holds open at once.
const int STREAM_COUNT = 256;
DirStream streams[STREAM_COUNT];
DirStream *kept_stream;
uint32_t fresh_opens;
// Entries the first enumerations delivered, and how many of them the
// search asked the details of: the prefetch helper pays only when that is
// most of them.
uint64_t entries_listed;
uint64_t details_asked;

int close_stream(DirStream *stream)
{
    int result = close(stream->reader.fd);
    stream->reader.fd = -1;
    stream->state = STREAM_FREE;
    return result;
}

// The kept descriptor when it is of this directory, rewound; else a newly
// opened one (and the kept one closed, so that at most one waits).
DirStream *open_stream(const char *path, size_t spec_length)
{
    DirStream *kept = kept_stream;
    kept_stream = nullptr;
    if (kept != nullptr) {
        DirentReader *reader = &kept->reader;
        int whole_in_buffer = reader->at_end && reader->reads <= 1;
        if (strcmp(kept->path, path) == 0 &&
            (whole_in_buffer || lseek(reader->fd, 0, SEEK_SET) == 0)) {
            kept->state = STREAM_OPEN;
            kept->first_pass = 0;
            kept->entry_index = 0;
            reader->next = 0;
            if (!whole_in_buffer) reader->end = reader->reads = reader->at_end = 0;
            return kept;
        }
        close_stream(kept);
    }
    for (DirStream &stream : streams) {
        if (stream.state != STREAM_FREE) continue;
        int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        stream.reader = {fd, stream.buffer, sizeof stream.buffer, 0, 0, 0, 0};
        stream.state = STREAM_OPEN;
        stream.ordinal = ++fresh_opens;
        stream.first_pass = 1;
        stream.entry_index = 0;
        stream.spec_length = spec_length;
        strcpy(stream.path, path);
        prefetch_directory_opened(stream.ordinal);
        return &stream;
    }
    errno = EMFILE;
    return nullptr;
}

void keep_stream(DirStream *stream)
{
    if (kept_stream != nullptr) close_stream(kept_stream);
    stream->state = STREAM_KEPT;
    kept_stream = stream;
}

}  // namespace

const struct dirent64 *next_raw_entry(DirentReader *reader)
{
    if (reader->next >= reader->end) {
        if (reader->at_end) return nullptr;
        ssize_t got = getdents64(reader->fd, reader->buffer, reader->size);
        if (got <= 0) {
            reader->at_end = got == 0;
            return nullptr;
        }
        reader->reads++;
        reader->next = 0;
        reader->end = (size_t)got;
    }
    const struct dirent64 *entry = (const struct dirent64 *)(reader->buffer + reader->next);
    reader->next += entry->d_reclen;
    return entry;
}

namespace {

// The next raw entry, or null at the end (errno ENOENT) or after an error.
const struct dirent64 *next_dirent(DirStream *stream)
{
    const struct dirent64 *entry = next_raw_entry(&stream->reader);
    if (entry == nullptr && stream->reader.at_end) errno = ENOENT;
    return entry;
}

// Reads the next entry into data.  At the clean end errno is ENOENT, after a
// read error it is getdents64's.
int read_next(DirStream *stream, WIN32_FIND_DATAA *data)
{
    const struct dirent64 *entry = next_dirent(stream);
    if (entry == nullptr) return 0;
    fill_from_entry(stream->reader.fd, entry, data);
    stream->last_inode = entry->d_ino;
    stream->entry_index++;
    if (stream->first_pass) {
        entries_listed++;
        prefetch_entry_read(stream->ordinal, stream->entry_index);
    }
    return 1;
}

DirStream *stream_of(HANDLE handle)
{
    DirStream *stream = (DirStream *)handle;
    if (stream < streams || stream >= streams + STREAM_COUNT || stream->state != STREAM_OPEN)
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

// Read by the prefetch helper too.
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

// 0 when the entry cannot be read.  No attribute, a file system without
// them, or a value too long for Wine to read all mean none is stored.
int stored_dos_attributes(int dir_fd, const char *name, DWORD *stored)
{
    char text[65];  // Wine reads at most 64 bytes and ignores a longer value
    ssize_t length = read_xattr(dir_fd, name, text, sizeof text - 1);
    *stored = 0;
    if (length >= 0)
        *stored = parse_dos_attribute_text(text, length);
    else if (errno != ENODATA && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ERANGE &&
             errno != ENOENT && errno != ELOOP)
        return 0;
    return 1;
}

}  // namespace

// A dangling link has no target to describe: the link itself is the entry.
// Anything else that cannot be read is a failure, never a record of
// made-up values.
int read_entry_details(int dir_fd, const char *name, int parts, EntryDetails *details)
{
    details->attributes = 0;
    if (parts & FIND_DATA_INODE) {
        struct stat st;
        if (fstatat(dir_fd, name, &st, 0) != 0) {
            if ((errno != ENOENT && errno != ELOOP) ||
                fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return 0;
        }
        details->size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
        details->write_ticks = ticks_of_timespec(st.st_mtim);
        details->access_ticks = ticks_of_timespec(st.st_atim);
        details->creation_ticks = ticks_of_timespec(st.st_ctim);
        if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
            details->attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (parts & FIND_DATA_STORED_ATTRIBUTES) {
        DWORD stored;
        if (!stored_dos_attributes(dir_fd, name, &stored)) return 0;
        details->attributes |= stored;
    }
    return 1;
}

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
    DirStream *stream = open_stream(path, spec_length);
    if (stream == nullptr) return INVALID_HANDLE_VALUE;
    if (!read_next(stream, data)) {  // not even "." or "..": nothing to deliver
        int saved = errno;
        close_stream(stream);
        errno = saved;
        return INVALID_HANDLE_VALUE;
    }
    return (HANDLE)stream;
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
    keep_stream(stream);
    return TRUE;
}

// The details come from the prefetch helper when it has read this very entry
// of this very directory already, and are read here otherwise.  The search
// enumerates from the root of its walk down, so the first stream opened and
// still open is where the helper starts.  It starts once the search has
// asked the details of at least half the entries it has met (a sample of
// 64 asked, and then at every 64 more): the helper reads every entry, so
// for a pattern that few names match its work would mostly be wasted.
static const DirStream *walk_root()
{
    const DirStream *root = nullptr;
    for (const DirStream &stream : streams)
        if (stream.state == STREAM_OPEN && (root == nullptr || stream.ordinal < root->ordinal))
            root = &stream;
    return root;
}

int complete_find_data(HANDLE handle, WIN32_FIND_DATAA *data, int parts)
{
    DirStream *stream = stream_of(handle);
    if (stream == nullptr) {
        errno = EBADF;
        return 0;
    }
    static int prefetch_started;
    const uint64_t SAMPLE = 64;
    if (!prefetch_started && ++details_asked % SAMPLE == 0 && details_asked * 2 >= entries_listed) {
        prefetch_started = 1;
        const DirStream *root = walk_root();
        prefetch_start(root->path, root->ordinal, root->spec_length, parts);
    }
    EntryDetails details;
    if (!(stream->first_pass &&
          prefetch_take(stream->ordinal, stream->entry_index, stream->path, data->cFileName,
                        stream->last_inode, parts, &details)) &&
        !read_entry_details(stream->reader.fd, data->cFileName, parts, &details))
        return 0;
    if (parts & FIND_DATA_INODE) {
        data->nFileSizeHigh = (DWORD)(details.size >> 32);
        data->nFileSizeLow = (DWORD)details.size;
        set_filetime(&data->ftLastWriteTime, details.write_ticks);
        set_filetime(&data->ftLastAccessTime, details.access_ticks);
        set_filetime(&data->ftCreationTime, details.creation_ticks);
    }
    data->dwFileAttributes |= details.attributes;
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
