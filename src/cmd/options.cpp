// The option parser: fills the settings from the front of the command line.
#include "trawl.h"

[[noreturn]] static void bad_option(char letter)
{
    print_shown(stderr, "%s: bad option '-%c'\n\n", PROGRAM_NAME, letter);
    show_usage();
}

// Each option that reads more of an entry than its name and directory bit
// asks for those parts (FIND_DATA_*) here, where it is parsed.
static void need_details(int parts)
{
    settings.details_needed |= parts;
}

// Each -d replaces date_test; the first one given moves to date_test_prev
// when the second comes, and stays there.  Both apply.
static void set_date_test(const char *value)
{
    if (!settings.date_test_prev.text) settings.date_test_prev = settings.date_test;
    settings.date_test.text = value;
    if (!parse_date_spec(value, &settings.date_test.time)) {
        print_shown(stderr, "%s: improper date specification '%s'\n\n", PROGRAM_NAME, value);
        show_usage();
    }
    need_details(FIND_DATA_INODE);
}

static void set_size_test(const char *value)
{
    settings.size_test.text = value;
    if (!parse_size_spec(value, &settings.size_test.bytes)) {
        print_shown(stderr, "%s: improper size specification '%s'\n\n", PROGRAM_NAME, value);
        show_usage();
    }
    need_details(FIND_DATA_INODE);
}

// The type letters read the inode (r, w) and the stored bits (h, s).
static void set_type_test(const char *value)
{
    settings.type_test = value;
    need_details(FIND_DATA_ALL);
}

// Returns 1 when the letter was a flag and has been set.  The long listing
// shows every part of an entry's record, and the summary counts by size and
// by the hidden and system bits.
static int set_flag(char letter)
{
    switch (letter) {
    case 'a': settings.show_all = 1; return 1;
    case 'A': settings.show_all_but_dots = 1; return 1;
    case 'D': settings.option_D = 1; return 1;
    case 'l':
        settings.long_listing = 1;
        need_details(FIND_DATA_ALL);
        return 1;
    case 'm': settings.short_names = 1; return 1;
    case 'n':
        settings.show_summary = 1;
        need_details(FIND_DATA_ALL);
        return 1;
    case 'r': settings.no_recursion = 1; return 1;
    case 'v': settings.verbose = 1; return 1;
    default: return 0;
    }
}

// Returns 1 when the letter takes a value and the value has been stored.
static int set_value(char letter, const char *value)
{
    switch (letter) {
    case 'd': set_date_test(value); return 1;
    case 'g': settings.option_g_value = value; return 1;
    case 's': set_size_test(value); return 1;
    case 't': set_type_test(value); return 1;
    case 'u': settings.option_u_value = value; return 1;
    default: return 0;
    }
}

int parse_options(int argc, char **argv)
{
    int i = 1;
    while (i < argc && argv[i][0] == '-') {
        const char *letters = argv[i] + 1;
        int next = i + 1;
        for (; *letters; letters++) {
            char letter = *letters;
            if (set_flag(letter)) continue;
            // A value is the rest of this argument, else the whole next
            // argument, else (at the very end) the empty text.
            const char *rest = letters + 1;
            int takes_next = !*rest && next < argc;
            const char *value = *rest ? rest : takes_next ? argv[next] : "";
            if (set_value(letter, value)) {
                next += takes_next;
                break;
            }
            if (letter == '?') show_info();
            bad_option(letter);
        }
        i = next;
    }
    return i;
}
