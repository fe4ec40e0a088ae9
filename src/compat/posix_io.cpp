// Output buffering of the native build.
#include "platform.h"

#include <cerrno>
#include <unistd.h>

namespace {

// Only standard output is given a buffer, once, at start; a static one keeps
// that free of allocation.
char output_buffer[64 * 1024];

}  // namespace

int is_terminal(FILE *stream)
{
    return isatty(fileno(stream));
}

void set_output_buffering(FILE *stream)
{
    if (is_terminal(stream))
        setvbuf(stream, output_buffer, _IOLBF, sizeof output_buffer);
    else
        setvbuf(stream, output_buffer, _IOFBF, sizeof output_buffer);
}

// The C library already line-buffers a terminal.
void finish_line(FILE *) {}

int write_error_is_closed_pipe(int error)
{
    return error == EPIPE;
}
