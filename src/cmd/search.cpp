// The tree search: splits an argument, lists the matching entries of its
// directory, then descends into every subdirectory, depth first.
#include <cstring>

#include "trawl.h"
#include "wildcat.h"

// What stays the same for every directory of one argument's walk.
struct Walk {
    FILE *out;
    const char *drive;
    const wildcat_compiled *pattern;
    int details_needed;  // FIND_DATA_* parts to complete
    int dots_listed;
};

static void use_short_name(WIN32_FIND_DATAA *entry)
{
    if (settings.short_names && entry->cAlternateFileName[0])
        memcpy(entry->cFileName, entry->cAlternateFileName, sizeof entry->cAlternateFileName);
}

// Short names cost Windows (and Wine far more) work for every entry, so
// they are asked for only under -m; the large fetch takes each directory's
// entries from the file system in fewer, bigger reads.
int scan_first(const char *spec, DirScan *scan)
{
    FINDEX_INFO_LEVELS level = settings.short_names ? FindExInfoStandard : FindExInfoBasic;
    HANDLE handle = FindFirstFileExA(spec, level, &scan->find_data, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (handle == INVALID_HANDLE_VALUE) {
        scan->find_handle = nullptr;
        return 0;
    }
    scan->find_handle = handle;
    use_short_name(&scan->find_data);
    return 1;
}

int scan_next(DirScan *scan)
{
    if (FindNextFileA(scan->find_handle, &scan->find_data)) {
        use_short_name(&scan->find_data);
        return 1;
    }
    FindClose(scan->find_handle);
    scan->find_handle = nullptr;
    return 0;
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

void shown_path_prefix(const char *shown_directory, const char **directory,
                       const char **separator)
{
    const char *shown = shown_directory;
    *separator = "\\";
    for (;;) {
        if (strcmp(shown, ".") == 0) {
            shown = "";
            *separator = "";
            break;
        }
        if (shown[0] != '.' || shown[1] != '\\') break;
        while (shown[0] == '.' && shown[1] == '\\') shown += 2;
    }
    *directory = shown;
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

static int is_dot_entry(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

static int32_t list_matches(const Walk *walk, const char *spec, const char *shown)
{
    int32_t count = 0;
    DirScan scan = {};
    if (!scan_first(spec, &scan)) return 0;
    do {
        WIN32_FIND_DATAA *entry = &scan.find_data;
        if (!wildcat_match_compiled(walk->pattern, entry->cFileName)) continue;
        // The filter turns "." and ".." away in any case unless -a or -A is
        // given; no need to read their details first.
        if (!walk->dots_listed && is_dot_entry(entry->cFileName)) continue;
        if (walk->details_needed)
            complete_find_data(scan.find_handle, entry, walk->details_needed);
        if (!entry_selected(entry)) continue;
        print_entry(walk->out, walk->drive, shown, entry);
        count = saturating_add(count, 1);
    } while (scan_next(&scan));
    return count;
}

// Searches one directory and everything below it.  Each level owns one
// buffer: it holds the search specification for the first pass, and then,
// while the second pass is open, the directory part of each subdirectory.
static int32_t search_directory(const Walk *walk, const char *directory, const char *shown)
{
    char spec[SEARCH_SPEC_MAX + 1];
    if (settings.verbose) fprintf(walk->out, "Searching %s%s\n", walk->drive, directory);
    if (!join_path(spec, sizeof spec, walk->drive, directory, "*")) return 0;

    int32_t count = list_matches(walk, spec, shown);
    if (settings.no_recursion) return count;

    DirScan scan = {};
    if (!scan_first(spec, &scan)) return count;
    do {
        const WIN32_FIND_DATAA *entry = &scan.find_data;
        if (!(entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (is_dot_entry(entry->cFileName)) continue;
        if (!join_path(spec, sizeof spec, "", directory, entry->cFileName)) continue;
        count = saturating_add(count, search_directory(walk, spec, spec));
    } while (scan_next(&scan));
    return count;
}

int32_t search_tree(FILE *out, const char *argument)
{
    SplitArgument split;
    int fits = split_argument(argument, &split);
    wildcat_compiled pattern;
    if (!wildcat_compile(split.pattern, &pattern)) {
        fprintf(stderr, "%s: ill-formed filename pattern '%s'\n", PROGRAM_NAME, split.pattern);
        return 0;
    }
    if (!fits) {
        fprintf(stderr, "%s: path too long '%s'\n", PROGRAM_NAME, argument);
        return 0;
    }
    Walk walk = {out, split.drive, &pattern, entry_details_needed(),
                 settings.show_all || settings.show_all_but_dots};
    return search_directory(&walk, split.directory, split.shown_directory);
}
