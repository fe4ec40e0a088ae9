// The fuzz targets link this in place of the real process end.
#include "fuzz_exit.h"

[[noreturn]] void end_process(int status) { throw FuzzProcessEnded{status}; }
