// The driver: one search per argument, the summaries, the exit status.
#include "trawl.h"

Settings settings;

int32_t saturating_add(int32_t a, int32_t b)
{
    int64_t sum = (int64_t)a + b;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return (int32_t)sum;
}

int run_trawl(int argc, char **argv)
{
    int first = parse_options(argc, argv);
    int argument_count = argc - first;
    if (argument_count < 1) show_usage();

    int summaries = settings.long_listing || settings.show_summary;
    Totals run = {}, argument = {};
    for (int k = 0; k < argument_count; k++) {
        if (settings.long_listing && k > 0) write_output(stdout, "\n");
        argument = search_tree(stdout, argv[first + k]);
        if (summaries) print_summary(ARGUMENT_SUMMARY, &argument);
        add_totals(&run, &argument);
    }
    if (summaries && argument_count > 1) print_summary(RUN_SUMMARY, &run);
    finish_output(stdout);
    return argument.entries > 0 ? EXIT_LISTED : EXIT_NOTHING_LISTED;
}
