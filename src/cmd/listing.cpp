// Entry lines, the long listing's columns, counting and the summaries.
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "trawl.h"

void format_grouped(uint64_t value, char *out)
{
    char scratch[32];
    char *digit = scratch + sizeof scratch - 1;
    *digit = '\0';
    for (int written = 1;; written++) {
        *--digit = (char)('0' + value % 10);
        value /= 10;
        if (value == 0) break;
        if (written % 3 == 0) *--digit = ',';
    }
    memcpy(out, digit, (size_t)(scratch + sizeof scratch - digit));
}

void format_attributes(DWORD attributes, char *out)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        *out++ = 'd';
    else if (attributes & TRAWL_ATTRIBUTE_VOLUME_LABEL)
        *out++ = 'v';
    else
        *out++ = '-';
    if (attributes >= 0x10000) *out++ = '#';
    *out++ = (attributes & FILE_ATTRIBUTE_COMPRESSED) ? 'c' : '-';
    *out++ = (attributes & FILE_ATTRIBUTE_SYSTEM) ? 's' : '-';
    *out++ = (attributes & FILE_ATTRIBUTE_HIDDEN) ? 'h' : '-';
    *out++ = (attributes & FILE_ATTRIBUTE_ARCHIVE) ? 'a' : '-';
    *out++ = (attributes & FILE_ATTRIBUTE_TEMPORARY) ? 't' : '-';
    *out++ = (attributes & FILE_ATTRIBUTE_READONLY) ? 'r' : 'w';
    *out = '\0';
}

// Writes value in decimal, zero-padded to at least width digits, and
// returns the end.  Every long-listing line has a time stamp, and snprintf
// showed in the profile of a long listing.
static char *put_digits(char *out, unsigned value, int width)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    for (; width > count; width--) *out++ = '0';
    while (count) *out++ = digits[--count];
    return out;
}

// A time the calendar conversion rejects (the top bit set) keeps the
// column's width but shows that there is no date to show.
// Otherwise as "%04u-%02u-%02u %02u:%02u:%02u" would write it.
void format_timestamp(FILETIME time, char *out)
{
    SYSTEMTIME fields;
    if (!FileTimeToSystemTime(&time, &fields)) {
        strcpy(out, "\?\?\?\?-\?\?-\?\? \?\?:\?\?:\?\?");
        return;
    }
    const unsigned values[] = {fields.wYear, fields.wMonth,  fields.wDay,
                               fields.wHour, fields.wMinute, fields.wSecond};
    const char separators[] = "-- ::";
    for (int i = 0; i < 6; i++) {
        out = put_digits(out, values[i], i == 0 ? 4 : 2);
        if (i < 5) *out++ = separators[i];
    }
    *out = '\0';
}

// An entry line is put together here and written with one call, whatever
// its length: a line longer than the buffer goes out in pieces.
struct LineBuffer {
    FILE *out;
    int terminal;  // names are written as a terminal may show them
    size_t length;
    char text[640];
};

static void flush_line(LineBuffer *line)
{
    fwrite(line->text, 1, line->length, line->out);
    check_output(line->out);
    line->length = 0;
}

static void append_repeated(LineBuffer *line, char c, size_t count)
{
    for (; count; count--) {
        if (line->length == sizeof line->text) flush_line(line);
        line->text[line->length++] = c;
    }
}

static void append_text(LineBuffer *line, const char *text)
{
    for (size_t length = strlen(text); length;) {
        if (line->length == sizeof line->text) flush_line(line);
        size_t room = sizeof line->text - line->length;
        size_t part = length < room ? length : room;
        memcpy(line->text + line->length, text, part);
        line->length += part;
        text += part;
        length -= part;
    }
}

static void append_name(LineBuffer *line, const char *text)
{
    if (!line->terminal) {
        append_text(line, text);
        return;
    }
    for (;;) {
        const size_t span = shown_span(text);
        for (size_t i = 0; i < span; i++) append_repeated(line, text[i], 1);
        text += span;
        if (*text == '\0') return;
        append_repeated(line, '?', 1);
        text += control_length(text);
    }
}

// The columns of the long listing, as "%-9s %15s %s  " would write them.
static void append_columns(LineBuffer *line, const WIN32_FIND_DATAA *entry)
{
    char letters[32], size_text[32], time_text[44];
    format_attributes(entry->dwFileAttributes, letters);
    format_grouped(entry_size(entry), size_text);
    format_timestamp(entry->ftLastWriteTime, time_text);
    size_t letters_length = strlen(letters), size_length = strlen(size_text);
    append_text(line, letters);
    append_repeated(line, ' ', letters_length < 9 ? 10 - letters_length : 1);
    append_repeated(line, ' ', size_length < 15 ? 15 - size_length : 0);
    append_text(line, size_text);
    append_repeated(line, ' ', 1);
    append_text(line, time_text);
    append_repeated(line, ' ', 2);
}

// Leading ".\" pairs (with any run of separators after the dot) name the
// directory the search started in, so they are left out; what is left is
// relative to it and never begins with a separator.  Only the root, whose
// shown directory is empty from the start, puts "\" in front of a name.
void shown_path_prefix(const char *shown_directory, const char **directory, const char **separator)
{
    const char *shown = shown_directory;
    if (*shown == '\0') {
        *directory = shown;
        *separator = "\\";
        return;
    }
    for (;;) {
        if (strcmp(shown, ".") == 0) {
            shown = "";
            break;
        }
        if (shown[0] != '.' || shown[1] != '\\') break;
        shown++;
        while (*shown == '\\') shown++;
    }
    *directory = shown;
    *separator = *shown ? "\\" : "";
}

static void count_entry(const WIN32_FIND_DATAA *entry)
{
    DWORD attributes = entry->dwFileAttributes;
    uint64_t size = entry_size(entry);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        run_totals.directories = saturating_add(run_totals.directories, 1);
    else if (!(attributes & TRAWL_ATTRIBUTE_VOLUME_LABEL))
        run_totals.files = saturating_add(run_totals.files, 1);
    if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        run_totals.hidden_system = saturating_add(run_totals.hidden_system, 1);
    run_totals.bytes += size;
    run_totals.blocks += size / 512 + (size % 512 != 0);
}

void print_entry(FILE *out, const ShownPath *path, const WIN32_FIND_DATAA *entry)
{
    LineBuffer line;
    line.out = out;
    line.terminal = writes_to_terminal(out);
    line.length = 0;
    if (settings.long_listing) append_columns(&line, entry);
    append_name(&line, path->drive);
    append_name(&line, path->directory);
    append_name(&line, path->separator);
    append_name(&line, entry->cFileName);
    append_repeated(&line, '\n', 1);
    flush_line(&line);
    count_entry(entry);
}

// An argument's six numbers, as its summary shows them and the run sums
// them.  Every entry counted in hidden_system was counted in entries too,
// and both stop at the same largest count, so the difference is never
// negative.
static GrandTotals argument_totals(int32_t entries)
{
    GrandTotals argument;
    argument.entries = entries;
    argument.directories = run_totals.directories;
    argument.files = run_totals.files;
    argument.visible_entries = entries - run_totals.hidden_system;
    argument.bytes = run_totals.bytes;
    argument.blocks = run_totals.blocks;
    return argument;
}

void add_grand_totals(GrandTotals *grand, int32_t entries)
{
    const GrandTotals argument = argument_totals(entries);
    grand->entries = saturating_add(grand->entries, argument.entries);
    grand->directories = saturating_add(grand->directories, argument.directories);
    grand->files = saturating_add(grand->files, argument.files);
    grand->visible_entries = saturating_add(grand->visible_entries, argument.visible_entries);
    grand->bytes += argument.bytes;
    grand->blocks += argument.blocks;
}

// Both summaries: three lines after a blank one, which parts the block
// from what is above it.  An argument that listed nothing has nothing above
// to be parted from.
static void print_summary(FILE *out, const char *title, const GrandTotals *totals, int blank_line)
{
    char entries[32], visible[32], directories[32], files[32], bytes[32], blocks[32];
    format_grouped((uint64_t)(int64_t)totals->entries, entries);
    format_grouped((uint64_t)(int64_t)totals->directories, directories);
    format_grouped((uint64_t)(int64_t)totals->files, files);
    format_grouped((uint64_t)(int64_t)totals->visible_entries, visible);
    format_grouped(totals->bytes, bytes);
    format_grouped(totals->blocks, blocks);
    if (blank_line) write_output(out, "\n");
    write_output(out, " %sEntries:     %12s  (%s)\n", title, entries, visible);
    write_output(out, " %sDirectories: %12s  Files:  %12s\n", title, directories, files);
    write_output(out, " %sBytes:       %12s  Blocks: %12s\n", title, bytes, blocks);
}

void print_argument_summary(FILE *out, int32_t entries)
{
    const GrandTotals argument = argument_totals(entries);
    print_summary(out, "", &argument, entries > 0);
}

void print_total_summary(FILE *out, const GrandTotals *grand)
{
    print_summary(out, "Total ", grand, 1);
}

// A closed pipe ends the run quietly, as console tools do; any other
// failure to write is reported, and the status never says success.
void check_output(FILE *out)
{
    finish_line(out);
    if (!ferror(out)) return;
    int error = errno;
    if (!write_error_is_closed_pipe(error))
        fprintf(stderr, "%s: %s\n", PROGRAM_NAME, strerror(error));
    end_process(EXIT_OUTPUT_FAILED);
}

void write_output(FILE *out, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vprint_shown(out, format, arguments);
    va_end(arguments);
    check_output(out);
}

void finish_output(FILE *out)
{
    fflush(out);
    check_output(out);
}
