// The process-wide records of trawl and the functions its files share.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "platform.h"

#define PROGRAM_NAME "trawl"

// A date criterion: the option's text as given (its first character is the
// comparison prefix) and the instant parsed from it.
struct DateTest {
    const char *text;  // null when the option was not given
    FILETIME time;
};

// A size criterion: the option's text and the byte count parsed from it.
struct SizeTest {
    const char *text;  // null when the option was not given
    uint64_t bytes;
};

// The options, filled once by parse_options and only read afterwards.
// Texts point into the argument vector.  -D, -g and -u are accepted and
// stored, and nothing reads them.
struct Settings {
    int verbose;
    int long_listing;
    int show_summary;
    int show_all;           // -a: "." and ".." may be listed
    int show_all_but_dots;  // -A: the same, whatever its usage line says
    int no_recursion;
    int short_names;
    int option_D;
    // The last -d, and the first once there are two or more; those between
    // are forgotten.  An entry must pass both.
    DateTest date_test;
    DateTest date_test_prev;
    SizeTest size_test;
    const char *type_test;
    const char *option_g_value;
    const char *option_u_value;
    // The parts of an entry's record (FIND_DATA_*) that the options read,
    // beyond its name and directory bit; each option adds its own where it
    // is parsed.
    int details_needed;
};

// What print_entry counted of one argument's listing.  The number of
// entries is search_tree's result, beside it.  The counts stop at the
// largest int32_t.
struct RunTotals {
    int32_t directories;
    int32_t files;  // neither directories nor volume labels
    int32_t hidden_system;
    uint64_t bytes;
    uint64_t blocks;  // of 512 bytes, each entry's size rounded up
};

// The sums over every argument of the run, kept by the driver.  One
// argument's own six numbers, as its summary shows them, are held in this
// record too (argument_totals in listing.cpp): the same fields, summed over
// one argument.
struct GrandTotals {
    int32_t entries;
    int32_t directories;
    int32_t files;
    int32_t visible_entries;  // neither hidden nor system
    uint64_t bytes;
    uint64_t blocks;
};

struct Listing;

// One open directory enumeration and its current entry.
struct DirScan {
    HANDLE find_handle;  // null when nothing is open
    WIN32_FIND_DATAA find_data;
    // When the entries come from a listing read before: its entries first,
    // then the rest from its open enumeration, which stays the listing's.
    const Listing *listing;
    uint32_t offset;
    int details;  // whether the listing holds the entry's details (DETAILS_*)
    DWORD detail_attributes;
};

// The process-wide records (records.cpp).
extern Settings settings;
// Cleared by the driver before each argument, added to by print_entry.
extern RunTotals run_totals;

// Exit statuses.
enum {
    EXIT_LISTED = 0,
    EXIT_NOTHING_LISTED = 1,
    EXIT_OUTPUT_FAILED = 2,
    EXIT_USAGE = 255,
};

// Counts never wrap: past the largest int32_t they stay there (records.cpp).
int32_t saturating_add(int32_t a, int32_t b);

// driver (trawl.cpp / driver.cpp)
int run_trawl(int argc, char **argv);

// process end (exit.cpp; tests link their own)
[[noreturn]] void end_process(int status);

// options and texts
int parse_options(int argc, char **argv);
[[noreturn]] void show_usage();
[[noreturn]] void show_info();

// date and size values
int parse_date_spec(const char *text, FILETIME *out);
int parse_size_spec(const char *text, uint64_t *out);

// tree search
int scan_first(const char *spec, DirScan *scan);
int scan_next(DirScan *scan);
// The Win32 calls with which every directory is read, whoever reads it,
// and the short-name substitution.
HANDLE find_first_entry(const char *spec, WIN32_FIND_DATAA *entry);
int find_next_entry(HANDLE handle, WIN32_FIND_DATAA *entry);
// The number of entries listed, those below the directory included.
int32_t search_tree(FILE *out, const char *argument);

// How an argument splits; used by search_tree and its tests.  Only the
// argument's own directory part can be long (and is then reported as too
// long); every "dir\*" string the walk builds is held in a buffer
// the size of the longest one the enumeration takes.
enum { DIRECTORY_PART_MAX = 8192, SPEC_BUFFER_SIZE = MAX_PATH + 1 };
struct SplitArgument {
    char drive[3];
    char directory[DIRECTORY_PART_MAX + 1];
    const char *shown_directory;  // points into directory, or at ""
    const char *pattern;          // points into the argument
};
// 0 when the directory part does not fit its buffer.
int split_argument(const char *argument, SplitArgument *split);

// links: a directory reached through a link is descended once per argument.
// An argument's walk remembers up to LINK_TARGETS_MAX such directories; a
// link to one more is named on standard error and not searched.
enum { LINK_TARGETS_MAX = 1000000 };
enum LinkTarget { LINK_TARGET_NEW, LINK_TARGET_SEEN, LINK_TARGET_OVER_LIMIT };
int same_directory(const DirectoryIdentity *a, const DirectoryIdentity *b);
void forget_link_targets();
// NEW the first time a directory is offered in this argument's walk (and
// then remembered), SEEN after that, OVER_LIMIT for a new one when limit
// directories are remembered already.
LinkTarget remember_link_target(const DirectoryIdentity *identity, size_t limit);

// entry selection
int compare_filetimes(FILETIME a, FILETIME b);
// The date, size and type criteria; "." and ".." are the walk's to turn away.
int entry_selected(const WIN32_FIND_DATAA *entry);

// Names, paths and arguments on a terminal (shown_text.cpp): there each
// control character (C0, DEL, C1, and the bidirectional controls
// U+202A-U+202E and U+2066-U+2069) is written as one '?'; elsewhere every
// byte passes.
// The bytes from the start of text that a terminal shows as they are: up to
// the NUL or the first control character.
size_t shown_span(const char *text);
// The bytes of the control character at text (one, or its UTF-8 sequence).
size_t control_length(const char *text);
// Whether the stream is a terminal, decided once for stdout and stderr.
int writes_to_terminal(FILE *stream);
// printf for the conversions %s (with a width), %c and %%, whose texts are
// written as the stream shows them: every diagnostic and output line that
// carries a name, a path or an argument goes through here or print_entry.
void print_shown(FILE *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));
void vprint_shown(FILE *stream, const char *format, va_list arguments);

// listing
// What every entry line of one directory starts with: drive, directory and
// separator, worked out once for the directory.
struct ShownPath {
    const char *drive;
    const char *directory;
    const char *separator;
};
// The directory text of an entry line and the separator after it.
void shown_path_prefix(const char *shown_directory, const char **directory, const char **separator);
void format_grouped(uint64_t value, char *out);
void format_attributes(DWORD attributes, char *out);
void format_timestamp(FILETIME time, char *out);
// Writes the entry's line and counts the entry in run_totals.
void print_entry(FILE *out, const ShownPath *path, const WIN32_FIND_DATAA *entry);
// An argument's entries (search_tree's count) and run_totals, into grand.
void add_grand_totals(GrandTotals *grand, int32_t entries);
void print_argument_summary(FILE *out, int32_t entries);
void print_total_summary(FILE *out, const GrandTotals *grand);

// Every write to the output is checked as soon as it is made, while the
// system's own error code still describes it: a run whose output can no
// longer be written stops there.  finish_output also pushes out what is
// still buffered.  write_output takes the formats of print_shown.
void check_output(FILE *out);
void write_output(FILE *out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void finish_output(FILE *out);
