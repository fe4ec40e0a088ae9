#include <cstdlib>

#include "trawl.h"

// exit() flushes both streams before the process ends.
[[noreturn]] void end_process(int status)
{
    std::exit(status);
}
