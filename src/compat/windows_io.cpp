// The pieces of the platform layer that the Windows build needs beyond
// <windows.h>.
#include "win32.h"

#include <io.h>

// MinGW's start-up code expands wildcards in the command line unless this is
// zero; trawl's arguments are patterns and must arrive as typed.
extern "C" {
int _dowildcard = 0;
}

namespace {

// Only standard output is given a buffer, once, at start; a static one keeps
// that free of allocation.
char output_buffer[64 * 1024];

}  // namespace

// FindFirstFileA and FindNextFileA deliver the whole record already.
void complete_find_data(HANDLE, WIN32_FIND_DATAA *)
{
}

// The Microsoft C runtime takes _IOLBF for full buffering, so a console gets
// no buffer at all: each line then appears as soon as it is written.
void set_output_buffering(FILE *stream)
{
    if (_isatty(_fileno(stream)))
        setvbuf(stream, nullptr, _IONBF, 0);
    else
        setvbuf(stream, output_buffer, _IOFBF, sizeof output_buffer);
}
