// The driver: one search per argument, the summaries, the exit status.
#include "trawl.h"

int run_trawl(int argc, char **argv)
{
    GrandTotals grand_totals = {};
    int first = parse_options(argc, argv);
    int argument_count = argc - first;
    if (argument_count < 1) show_usage();

    int summaries = settings.long_listing || settings.show_summary;
    int32_t entries = 0;
    for (int k = 0; k < argument_count; k++) {
        run_totals = RunTotals{};
        if (settings.long_listing && k > 0) write_output(stdout, "\n");
        entries = search_tree(stdout, argv[first + k]);
        if (summaries) print_argument_summary(stdout, entries);
        add_grand_totals(&grand_totals, entries);
    }
    if (summaries && argument_count > 1) print_total_summary(stdout, &grand_totals);
    finish_output(stdout);
    return entries > 0 ? EXIT_LISTED : EXIT_NOTHING_LISTED;
}
