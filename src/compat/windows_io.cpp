// The pieces of the platform layer that the Windows build needs beyond
// <windows.h>.
#include "platform.h"

#include <cerrno>
#include <cstdlib>
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

UINT console_code_page_at_start;

// Set when standard output is a console, which is written a whole buffer
// at a time but flushed at the end of every line.
FILE *console_output;

// The console's code page outlives the program: give it back.  Every end
// through exit() does so by the atexit handler, a failed write included.
void restore_console_code_page()
{
    SetConsoleOutputCP(console_code_page_at_start);
}

// Ctrl+C, Ctrl+Break and closing the console window end the process through
// the system's default handler, which runs no atexit handlers.  This one
// runs first, on a thread of its own, and returns FALSE so that the default
// handling still ends the run as the user asked.
BOOL WINAPI restore_console_code_page_on_event(DWORD)
{
    restore_console_code_page();
    return FALSE;
}

void use_utf8_console()
{
    console_code_page_at_start = GetConsoleOutputCP();
    if (console_code_page_at_start == 0 || console_code_page_at_start == CP_UTF8) return;
    // The handler goes first, so that no event finds the code page switched
    // and nobody to give it back.
    SetConsoleCtrlHandler(restore_console_code_page_on_event, TRUE);
    if (SetConsoleOutputCP(CP_UTF8)) atexit(restore_console_code_page);
}

}  // namespace

// _isatty says yes for any character device, NUL included; only a console
// answers GetConsoleMode.
int is_terminal(FILE *stream)
{
    DWORD mode;
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(stream));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// FindFirstFileA and FindNextFileA deliver the whole record already.
int complete_find_data(HANDLE, WIN32_FIND_DATAA *, int)
{
    return 1;
}

// The Microsoft C runtime takes _IOLBF for full buffering, and an
// unbuffered stream reaches a console one character at a time, which a
// console shows tens of times slower than whole lines.  So a console gets
// the buffer too, and finish_line pushes out each line as it is complete.
void set_output_buffering(FILE *stream)
{
    setvbuf(stream, output_buffer, _IOFBF, sizeof output_buffer);
    if (is_terminal(stream)) {
        console_output = stream;
        use_utf8_console();
    }
}

void finish_line(FILE *stream)
{
    if (stream == console_output) fflush(stream);
}

// The C runtime reports a write to a pipe whose reader has gone as EPIPE or
// as EINVAL; for the latter the system's own code tells a closed pipe from
// other invalid writes.
int write_error_is_closed_pipe(int error)
{
    if (error == EPIPE) return 1;
    DWORD code = GetLastError();
    return error == EINVAL &&
           (code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED);
}
