// Tests link this in place of the real process end, so that a call that
// would end trawl can be observed instead.
#include "test_exit.h"

[[noreturn]] void end_process(int status)
{
    throw ProcessEnded{status};
}
