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
#include "posix_readahead.h"

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

// An open enumeration: a listing, the search's own or one the read-ahead
// helper read.  The search holds one per level of its walk, so a small
// fixed pool serves it without allocating, and without the fstat and the
// heap buffer that opendir costs per directory.
//
// The search reads every directory twice in a row (its matches, then its
// subdirectories), so a closed enumeration is kept until the next one is
// opened: the same directory again, while its listing is fresh, is only
// rewound, which saves an open and a close; and when the first enumeration
// got all of it in one buffer, the second delivers that buffer again and
// reads nothing.  A listing older than that is read anew from its path,
// as Win32 would.
enum StreamState { STREAM_FREE, STREAM_OPEN, STREAM_KEPT };

struct DirStream {
    Listing *listing;
    StreamState state;
    int adopted;              // the helper read the listing, and gets it back
    int first_pass;           // not rewound since
    uint32_t buffer_entries;  // delivered from the buffer's present contents
};

// More than the deepest walk the path limit allows holds open at once.
const int STREAM_COUNT = 256;
DirStream streams[STREAM_COUNT];
Listing own_listings[STREAM_COUNT];
DirStream *kept_stream;
// Entries the first enumerations delivered, and how many of them the
// search asked the details of: lending them to the helper pays only when
// that is most of them.
uint64_t entries_listed;
uint64_t details_asked;

int close_stream(DirStream *stream)
{
    Listing *listing = stream->listing;
    int result = 0;
    if (stream->adopted) {
        readahead_release(listing);  // the helper's again from here on
    } else {
        readahead_take_back(listing);
        if (listing->fd >= 0) result = close(listing->fd);
        listing->fd = -1;
    }
    stream->state = STREAM_FREE;
    return result;
}

// The second enumeration of the directory the first has just read: the
// buffer again when it holds the whole directory, else the descriptor
// rewound.  Only while the listing is fresh.
int reuse_stream(DirStream *stream)
{
    Listing *listing = stream->listing;
    if (!is_fresh(listing->read_at)) return 0;
    int whole_in_buffer = listing->at_end && listing->reads <= 1;
    if (!whole_in_buffer) {
        if (listing->fd < 0 || lseek(listing->fd, 0, SEEK_SET) != 0) return 0;
        listing->end = 0;
        listing->reads = listing->at_end = 0;
    }
    listing->next = 0;
    stream->state = STREAM_OPEN;
    stream->first_pass = 0;
    stream->buffer_entries = 0;
    return 1;
}

DirStream *open_stream(const char *path)
{
    DirStream *kept = kept_stream;
    kept_stream = nullptr;
    if (kept != nullptr) {
        if (strcmp(kept->listing->path, path) == 0 && reuse_stream(kept)) return kept;
        close_stream(kept);
    }
    for (int i = 0; i < STREAM_COUNT; i++) {
        DirStream *stream = &streams[i];
        if (stream->state != STREAM_FREE) continue;
        stream->listing = readahead_adopt(path);
        stream->adopted = stream->listing != nullptr;
        if (!stream->adopted) {
            stream->listing = &own_listings[i];
            if (!listing_open(stream->listing, path)) return nullptr;
        }
        stream->state = STREAM_OPEN;
        stream->first_pass = 1;
        stream->buffer_entries = 0;
        return stream;
    }
    errno = EMFILE;
    return nullptr;
}

void keep_stream(DirStream *stream)
{
    readahead_take_back(stream->listing);
    if (kept_stream != nullptr) close_stream(kept_stream);
    stream->state = STREAM_KEPT;
    kept_stream = stream;
}

}  // namespace

int listing_open(Listing *listing, const char *path)
{
    listing->details_open.store(0, std::memory_order_relaxed);
    listing->children_expected = 0;
    listing->count = 0;
    listing->next = listing->end = 0;
    listing->reads = listing->at_end = 0;
    strcpy(listing->path, path);
    listing->read_at = monotonic_nanoseconds();
    listing->fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing->fd < 0) return 0;
    ssize_t got = getdents64(listing->fd, listing->buffer, sizeof listing->buffer);
    if (got < 0) {
        int saved = errno;
        close(listing->fd);
        listing->fd = -1;
        errno = saved;
        return 0;
    }
    listing->end = (size_t)got;
    listing->reads = got > 0;
    listing->at_end = got == 0;
    return 1;
}

const struct dirent64 *listing_next(Listing *listing)
{
    if (listing->next >= listing->end) {
        if (listing->at_end || listing->fd < 0) return nullptr;
        ssize_t got = getdents64(listing->fd, listing->buffer, sizeof listing->buffer);
        if (got <= 0) {
            listing->at_end = got == 0;
            return nullptr;
        }
        listing->count = 0;
        listing->reads++;
        listing->next = 0;
        listing->end = (size_t)got;
    }
    const struct dirent64 *entry = (const struct dirent64 *)(listing->buffer + listing->next);
    listing->next += entry->d_reclen;
    return entry;
}

void listing_entry_data(const Listing *listing, const struct dirent64 *entry,
                        WIN32_FIND_DATAA *data)
{
    fill_from_entry(listing->fd, entry, data);
}

void listing_index(Listing *listing)
{
    uint32_t count = 0;
    for (size_t offset = 0; offset < listing->end && count < LISTING_CAPACITY; count++) {
        const struct dirent64 *entry = (const struct dirent64 *)(listing->buffer + offset);
        listing->name_offsets[count] = (uint16_t)(offset + offsetof(struct dirent64, d_name));
        listing->slots[count].claim.store(CLAIM_FREE, std::memory_order_relaxed);
        offset += entry->d_reclen;
    }
    listing->count = count;
}

namespace {

// Each buffer a first enumeration reads is lent to the helper when it reads
// details, and the subdirectories in it are expected next.
void lend_and_expect(Listing *listing)
{
    if (readahead_details_wanted()) {
        if (!listing->details_open.load(std::memory_order_relaxed)) listing_index(listing);
        readahead_lend(listing);
    }
    readahead_expect_children(listing);
}

// Reads the next entry into data.  At the clean end errno is ENOENT, after a
// read error it is getdents64's.  A buffer lent to the helper is taken back
// before the next read overwrites it, and the next one is lent in turn.
int read_next(DirStream *stream, WIN32_FIND_DATAA *data)
{
    Listing *listing = stream->listing;
    int refill = listing->next >= listing->end;
    if (refill) readahead_take_back(listing);
    const struct dirent64 *entry = listing_next(listing);
    if (entry == nullptr) {
        if (listing->at_end || listing->fd < 0) errno = ENOENT;
        return 0;
    }
    fill_from_entry(listing->fd, entry, data);
    if (refill) stream->buffer_entries = 0;
    if (stream->first_pass) {
        entries_listed++;
        if (stream->buffer_entries == 0) lend_and_expect(listing);
    }
    stream->buffer_entries++;
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

// Read by the read-ahead helper too.
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
        details->attributes |= stored_dos_attributes(dir_fd, name);
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
    DirStream *stream = open_stream(path);
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

// The details come from the read-ahead helper when it has read this very
// entry of the buffer on loan already, and are read here otherwise.  The
// buffers are lent once the search has asked the details of at least half
// the entries it has met (a sample of 64 asked, and then at every 64 more):
// the helper reads every entry it is lent, so for a pattern that few names
// match its work would mostly be wasted.
int complete_find_data(HANDLE handle, WIN32_FIND_DATAA *data, int parts)
{
    DirStream *stream = stream_of(handle);
    if (stream == nullptr) {
        errno = EBADF;
        return 0;
    }
    const uint64_t SAMPLE = 64;
    if (!readahead_details_wanted() && ++details_asked % SAMPLE == 0 &&
        details_asked * 2 >= entries_listed) {
        readahead_start();
        readahead_want_details(parts);
    }
    Listing *listing = stream->listing;
    // A listing read whole ahead of a search that asked no details has no
    // descriptor left.
    if (listing->fd < 0) listing->fd = open(listing->path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EntryDetails details;
    if (!(stream->first_pass &&
          readahead_take_details(listing, stream->buffer_entries - 1, parts, &details)) &&
        !read_entry_details(listing->fd, data->cFileName, parts, &details))
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

void start_search(int parts, int (*descends)(const WIN32_FIND_DATAA *entry))
{
    if (kept_stream != nullptr) close_stream(kept_stream);
    kept_stream = nullptr;
    readahead_forget(parts, descends);
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
