// trawl: find the files whose names match a wildcard pattern in a
// directory tree.
#include "trawl.h"

int main(int argc, char **argv)
{
    set_output_buffering(stdout);
    end_process(run_trawl(argc, argv));
}
