// The usage and information texts, both on standard error.
#include "trawl.h"

#define VERSION_BANNER "[" PROGRAM_NAME ", " TRAWL_VERSION " " TRAWL_RELEASE_DATE "]"

static const char *const usage_lines[] = {
    "Options:",
    "    -?          Show information about this program.",
    "    -a          Print all matching entries.",
    "    -A          Print all matching entries except \".\" and \"..\".",
    "    -d[+|-|!]D  Find files modified after/before/not date D.",
    "    -l          Long listing.",
    "    -m          Show short DOS names.",
    "    -n          Show list summary.",
    "    -r          Do not recursively search subdirectories.",
    "    -s[+|-|!]N  File size [more/less/not] N bytes.",
    "    -t[!]T...   Find entried [not] of type T, which is one of more of",
    "                these criteria combined (or-ed) together:",
    "                    a   Archive",
    "                    c   Compressed",
    "                    d   Directory",
    "                    f   File",
    "                    h   Hidden",
    "                    r   Read only",
    "                    s   System",
    "                    v   Volume label",
    "                    w   Writable",
    "    -v          Verbose output.",
    "",
    "Filenames can contain wildcard characters:",
    "    ?       Matches any single character (including '.').",
    "    *       Matches zero or more characters (including '.').",
    "    [abc]   Matches 'a', 'b', or 'c'.",
    "    [a-z]   Matches 'a' through 'z'.",
    "    [!a-z]  Matches any character except 'a' thru 'z'.",
    "    `X      Matches X exactly (which may be a wildcard character).",
    "    !X      Matches any filename except X.",
    "",
    "Date 'D' is of the form \"[YY]YY[-MM[-DD]][:HH[:MM[:SS]]]\".",
    nullptr,
};

static const char *const info_lines[] = {
    VERSION_BANNER " <" __DATE__ " " __TIME__ ">",
    "",
    "Copyright (c) 2026 the trawl project contributors.",
    "",
    "trawl is free software under the MIT licence: anyone may use, copy, change",
    "and pass it on, alone or in other works, provided the copyright notice and",
    "the licence text go with it. It comes with no warranty of any kind.",
    "",
    "    The trawl project",
    "    <https://trawl.example.org/>",
    "    <trawl@example.org>",
    nullptr,
};

static void print_lines(const char *const *lines)
{
    for (; *lines; lines++) fprintf(stderr, "%s\n", *lines);
}

[[noreturn]] void show_usage()
{
    fprintf(stderr, "[%s, %s %s]\n\n", PROGRAM_NAME, TRAWL_VERSION, TRAWL_RELEASE_DATE);
    fprintf(stderr, "Find matching filenames in a directory tree.\n\n");
    fprintf(stderr, "usage:  %s [option...] [path\\]file...\n\n", PROGRAM_NAME);
    print_lines(usage_lines);
    end_process(EXIT_USAGE);
}

[[noreturn]] void show_info()
{
    print_lines(info_lines);
    end_process(EXIT_LISTED);
}
