// The process-wide records and the counting rule they share, apart from
// the files that use them: the driver, the listing and the search each
// reach them here and none of the others.
#include "trawl.h"

Settings settings;
RunTotals run_totals;

int32_t saturating_add(int32_t a, int32_t b)
{
    int64_t sum = (int64_t)a + b;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return (int32_t)sum;
}
