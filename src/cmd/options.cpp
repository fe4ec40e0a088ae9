// The option parser: fills the settings from the front of the command line.
#include "trawl.h"

[[noreturn]] static void bad_option(char letter)
{
    fprintf(stderr, "%s: bad option '-%c'\n\n", PROGRAM_NAME, letter);
    show_usage();
}

// One -d: the first criterion moves into date_test_prev when a second one
// comes; later ones replace only date_test, so the first and the last apply.
static void set_date_test(const char *value)
{
    if (!settings.date_test_prev.text) settings.date_test_prev = settings.date_test;
    settings.date_test.text = value;
    if (!parse_date_spec(value, &settings.date_test.time)) {
        fprintf(stderr, "%s: improper date specification '%s'\n\n", PROGRAM_NAME, value);
        show_usage();
    }
}

static void set_size_test(const char *value)
{
    settings.size_test.text = value;
    if (!parse_size_spec(value, &settings.size_test.bytes)) {
        fprintf(stderr, "%s: improper size specification '%s'\n\n", PROGRAM_NAME, value);
        show_usage();
    }
}

// Returns 1 when the letter was a flag and has been set.
static int set_flag(char letter)
{
    int *flag = nullptr;
    switch (letter) {
    case 'a': flag = &settings.show_all; break;
    case 'A': flag = &settings.show_all_but_dots; break;
    case 'D': flag = &settings.option_D; break;
    case 'l': flag = &settings.long_listing; break;
    case 'm': flag = &settings.short_names; break;
    case 'n': flag = &settings.show_summary; break;
    case 'r': flag = &settings.no_recursion; break;
    case 'v': flag = &settings.verbose; break;
    default: return 0;
    }
    *flag = 1;
    return 1;
}

// Returns 1 when the letter takes a value and the value has been stored.
static int set_value(char letter, const char *value)
{
    switch (letter) {
    case 'd': set_date_test(value); return 1;
    case 'g': settings.option_g_value = value; return 1;
    case 's': set_size_test(value); return 1;
    case 't': settings.type_test = value; return 1;
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
