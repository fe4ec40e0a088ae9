// The tree search: splits an argument, lists the matching entries of its
// directory, then descends into every subdirectory, depth first.
#include <cerrno>
#include <cstring>

#include "readahead.h"
#include "trawl.h"
#include "wildcat.h"

// What stays the same for every directory of one argument's walk.
struct Walk {
    FILE *out;
    const char *drive;
    const pattern_compiled *pattern;
    int details_needed;  // FIND_DATA_* parts to complete
    int dots_listed;
    int32_t count;  // of the entries listed so far
};

static void use_short_name(WIN32_FIND_DATAA *entry)
{
    if (settings.short_names && entry->cAlternateFileName[0])
        memcpy(entry->cFileName, entry->cAlternateFileName, sizeof entry->cAlternateFileName);
}

// Short names cost Windows (and Wine far more) work for every entry, so
// they are asked for only under -m; the large fetch takes each directory's
// entries from the file system in fewer, bigger reads.
HANDLE find_first_entry(const char *spec, WIN32_FIND_DATAA *entry)
{
    FINDEX_INFO_LEVELS level = settings.short_names ? FindExInfoStandard : FindExInfoBasic;
    HANDLE handle = FindFirstFileExA(spec, level, entry, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (handle != INVALID_HANDLE_VALUE) use_short_name(entry);
    return handle;
}

int find_next_entry(HANDLE handle, WIN32_FIND_DATAA *entry)
{
    if (!FindNextFileA(handle, entry)) return 0;
    use_short_name(entry);
    return 1;
}

int scan_first(const char *spec, DirScan *scan)
{
    scan->listing = nullptr;
    scan->details = DETAILS_NOT_READ;
    HANDLE handle = find_first_entry(spec, &scan->find_data);
    scan->find_handle = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    return scan->find_handle != nullptr;
}

static int scan_listing_next(DirScan *scan)
{
    const Listing *listing = scan->listing;
    if (listing_entry(listing, &scan->offset, &scan->find_data, &scan->details,
                      &scan->detail_attributes))
        return 1;
    scan->details = DETAILS_NOT_READ;
    return !listing->whole && find_next_entry(scan->find_handle, &scan->find_data);
}

// An enumeration of a directory read before; 0 when it was not opened.
static int scan_listing(const Listing *listing, DirScan *scan)
{
    if (!listing->opened) return 0;
    scan->listing = listing;
    scan->offset = 0;
    scan->find_handle = listing->handle;
    return scan_listing_next(scan);
}

int scan_next(DirScan *scan)
{
    if (scan->listing) return scan_listing_next(scan);
    if (find_next_entry(scan->find_handle, &scan->find_data)) return 1;
    FindClose(scan->find_handle);
    scan->find_handle = nullptr;
    return 0;
}

// The details of the current entry: the listing's while it is fresh, else
// read now from the open enumeration.
static int complete_entry(DirScan *scan, int parts)
{
    if (scan->details != DETAILS_NOT_READ && listing_is_fresh(scan->listing)) {
        errno = scan->details;
        scan->find_data.dwFileAttributes |= scan->detail_attributes;
        return scan->details == DETAILS_READ;
    }
    return complete_find_data(scan->find_handle, &scan->find_data, parts);
}

static const char *last_separator(const char *text)
{
    const char *backslash = strrchr(text, '\\');
    const char *slash = strrchr(text, '/');
    return backslash > slash ? backslash : slash;
}

int split_argument(const char *argument, SplitArgument *split)
{
    split->drive[0] = '\0';
    if (argument[0] && argument[1] == ':') {
        memcpy(split->drive, argument, 2);
        split->drive[2] = '\0';
        argument += 2;
    }
    const char *separator = last_separator(argument);
    if (!separator) {
        split->pattern = argument;
        strcpy(split->directory, ".");
        split->shown_directory = split->directory;
        return 1;
    }
    split->pattern = separator + 1;
    if (separator == argument) {
        strcpy(split->directory, "\\");
        split->shown_directory = "";
        return 1;
    }
    size_t length = (size_t)(separator - argument);
    split->shown_directory = split->directory;
    if (length > DIRECTORY_PART_MAX) {
        split->directory[0] = '\0';
        return 0;
    }
    for (size_t i = 0; i < length; i++)
        split->directory[i] = argument[i] == '/' ? '\\' : argument[i];
    split->directory[length] = '\0';
    return 1;
}

// Joins directory, a separator (none after the root "\") and a name into
// buffer; 0 when it would not fit.
static int join_path(char *buffer, size_t size, const char *drive, const char *directory,
                     const char *name)
{
    const char *separator = strcmp(directory, "\\") == 0 ? "" : "\\";
    int written = snprintf(buffer, size, "%s%s%s%s", drive, directory, separator, name);
    return written >= 0 && (size_t)written < size;
}

static void report_entry(const ShownPath *shown, const char *name, const char *reason)
{
    print_shown(stderr, "%s: %s%s%s%s: %s\n", PROGRAM_NAME, shown->drive, shown->directory,
            shown->separator, name, reason);
}

// How the walk treats an entry in its second pass: a subdirectory is
// descended, through a link only once the link's target is judged, and
// not at all when its name holds a backslash, where '\' is no separator:
// its path would name a different directory.
enum Descent { NOT_DESCENDED, DESCENDED, DESCENDED_IF_LINK_ALLOWS, BACKSLASH_IN_NAME };

static Descent descent_of(const WIN32_FIND_DATAA *entry)
{
    if (!(entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return NOT_DESCENDED;
    if (is_dot_entry(entry->cFileName)) return NOT_DESCENDED;
    if (strchr(entry->cFileName, '\\')) return BACKSLASH_IN_NAME;
    if (entry->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return DESCENDED_IF_LINK_ALLOWS;
    return DESCENDED;
}

// Which subdirectories a reader may queue: those the second pass descends
// by their listing alone, links aside.
static int descends_by_listing(const WIN32_FIND_DATAA *entry)
{
    return descent_of(entry) == DESCENDED;
}

// The subdirectory's "dir\*", for the readers, when it fits.
static void queue_subdirectory(const Walk *walk, const char *directory, const char *name)
{
    char spec[SPEC_BUFFER_SIZE];
    if (join_path(spec, sizeof spec - 2, walk->drive, directory, name)) {
        strcat(spec, "\\*");
        readahead_queue(spec);
    }
}

// The first pass.  The subdirectories the second pass will descend are
// queued as they go by, for the readers.
static void list_matches(Walk *walk, const char *directory, const char *spec,
                         const Listing *listing, const ShownPath *shown)
{
    DirScan scan = {};
    if (!(listing ? scan_listing(listing, &scan) : scan_first(spec, &scan))) return;
    int queueing = !settings.no_recursion && readahead_active() &&
                   !(listing && listing->children_queued);
    do {
        WIN32_FIND_DATAA *entry = &scan.find_data;
        if (queueing && descends_by_listing(entry))
            queue_subdirectory(walk, directory, entry->cFileName);
        if (!pattern_match_compiled(walk->pattern, entry->cFileName)) continue;
        // The filter turns "." and ".." away in any case unless -a or -A is
        // given: here, the one place that says so, before details are read.
        if (!walk->dots_listed && is_dot_entry(entry->cFileName)) continue;
        // An entry whose details cannot be read is not judged or shown by
        // details it does not have.
        if (walk->details_needed && !complete_entry(&scan, walk->details_needed)) {
            report_entry(shown, entry->cFileName, strerror(errno));
            continue;
        }
        if (!entry_selected(entry)) continue;
        print_entry(walk->out, shown, entry);
        walk->count = saturating_add(walk->count, 1);
    } while (scan_next(&scan));
}

// One directory on the walk's current path.  Its identity is read only
// when a link below it needs comparing, so trees without links pay nothing.
struct PathLevel {
    PathLevel *parent;
    const char *directory;
    int identity_state;  // 0 not read yet, 1 known, -1 cannot be had
    DirectoryIdentity identity;
};

// The identity of a directory of the walk, reached with the walk's drive.
static int identity_of(const Walk *walk, const char *directory, DirectoryIdentity *identity)
{
    char path[SPEC_BUFFER_SIZE];
    if (snprintf(path, sizeof path, "%s%s", walk->drive, directory) >= (int)sizeof path) return 0;
    return directory_identity(path, identity);
}

static const DirectoryIdentity *level_identity(const Walk *walk, PathLevel *level)
{
    if (level->identity_state == 0)
        level->identity_state = identity_of(walk, level->directory, &level->identity) ? 1 : -1;
    return level->identity_state == 1 ? &level->identity : nullptr;
}

static int is_on_current_path(const Walk *walk, PathLevel *level, const DirectoryIdentity *target)
{
    for (; level; level = level->parent) {
        const DirectoryIdentity *identity = level_identity(walk, level);
        if (identity && same_directory(identity, target)) return 1;
    }
    return 0;
}

// A link leads back when its directory is one the walk is already inside;
// descending it would go round the loop until the path limit.  Links that
// close no loop can still multiply the paths (as in /sys, where siblings
// link to each other), so each directory reached through a link is
// descended once per argument.  Past the limit of directories remembered
// the link is not descended, and says so: its tree is missing from the
// output.
static int link_may_be_descended(const Walk *walk, PathLevel *level, const char *directory,
                                 const ShownPath *shown, const char *name)
{
    DirectoryIdentity target;
    if (!identity_of(walk, directory, &target)) return 0;
    if (is_on_current_path(walk, level, &target)) return 0;
    LinkTarget verdict = remember_link_target(&target, LINK_TARGETS_MAX);
    if (verdict == LINK_TARGET_OVER_LIMIT)
        report_entry(shown, name, "not searched: too many directories reached through links");
    return verdict == LINK_TARGET_NEW;
}

// Searches one directory and everything below it.  Each level owns one
// buffer: it holds the search specification for the first pass, and then,
// while the second pass is open, the directory part of each subdirectory.
// Below the argument's own directory nothing longer than the enumeration
// takes can be enumerated, so that is all the buffer holds.
static void search_directory(Walk *walk, const char *directory, const char *shown,
                             PathLevel *parent)
{
    char spec[SPEC_BUFFER_SIZE];
    if (settings.verbose) write_output(walk->out, "Searching %s%s\n", walk->drive, directory);
    if (!join_path(spec, sizeof spec, walk->drive, directory, "*")) return;

    ShownPath shown_path = {walk->drive, "", ""};
    shown_path_prefix(shown, &shown_path.directory, &shown_path.separator);
    Listing *listing = readahead_take(spec);
    list_matches(walk, directory, spec, listing, &shown_path);
    if (listing) listing_close(listing);
    // The second pass reads the listing again while it holds every entry
    // and is fresh, and the directory otherwise.
    if (listing && !(listing->whole && listing_is_fresh(listing))) {
        readahead_release(listing);
        listing = nullptr;
    }
    if (settings.no_recursion) {
        readahead_release(listing);
        return;
    }

    PathLevel level = {parent, directory, 0, {}};
    DirScan scan = {};
    if (!(listing ? scan_listing(listing, &scan) : scan_first(spec, &scan))) {
        readahead_release(listing);
        return;
    }
    do {
        const WIN32_FIND_DATAA *entry = &scan.find_data;
        Descent descent = descent_of(entry);
        if (descent == NOT_DESCENDED) continue;
        if (descent == BACKSLASH_IN_NAME) {
            report_entry(&shown_path, entry->cFileName, "not searched: the name holds a backslash");
            continue;
        }
        if (!join_path(spec, sizeof spec, "", directory, entry->cFileName)) continue;
        if (descent == DESCENDED_IF_LINK_ALLOWS &&
            !link_may_be_descended(walk, &level, spec, &shown_path, entry->cFileName))
            continue;
        search_directory(walk, spec, spec, &level);
    } while (scan_next(&scan));
    readahead_release(listing);
}

int32_t search_tree(FILE *out, const char *argument)
{
    SplitArgument split;
    int fits = split_argument(argument, &split);
    pattern_compiled pattern;
    if (!pattern_compile(split.pattern, &pattern)) {
        print_shown(stderr, "%s: ill-formed filename pattern '%s'\n", PROGRAM_NAME, split.pattern);
        return 0;
    }
    if (!fits) {
        print_shown(stderr, "%s: path too long '%s'\n", PROGRAM_NAME, argument);
        return 0;
    }
    forget_link_targets();
    int dots_listed = settings.show_all || settings.show_all_but_dots;
    ReadRule rule = {pattern, dots_listed, settings.details_needed,
                     settings.no_recursion ? nullptr : descends_by_listing};
    readahead_begin(&rule);
    Walk walk = {out, split.drive, &pattern, settings.details_needed, dots_listed, 0};
    search_directory(&walk, split.directory, split.shown_directory, nullptr);
    return walk.count;
}
