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

// The console's code page outlives the program: give it back.
void restore_console_code_page() { SetConsoleOutputCP(console_code_page_at_start); }

void use_utf8_console()
{
    console_code_page_at_start = GetConsoleOutputCP();
    if (console_code_page_at_start == 0 || console_code_page_at_start == CP_UTF8) return;
    if (SetConsoleOutputCP(CP_UTF8)) atexit(restore_console_code_page);
}

// _isatty says yes for any character device, NUL included; only a console
// answers GetConsoleMode.
int is_console(FILE *stream)
{
    DWORD mode;
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(stream));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

// FindFirstFileA and FindNextFileA deliver the whole record already.
int complete_find_data(HANDLE, WIN32_FIND_DATAA *, int) { return 1; }

// The Microsoft C runtime takes _IOLBF for full buffering, so a console gets
// no buffer at all: each line then appears as soon as it is written.
void set_output_buffering(FILE *stream)
{
    if (is_console(stream)) {
        setvbuf(stream, nullptr, _IONBF, 0);
        use_utf8_console();
    } else
        setvbuf(stream, output_buffer, _IOFBF, sizeof output_buffer);
}

// The C runtime reports a write to a pipe whose reader has gone as EPIPE or
// as EINVAL; for the latter the system's own code tells a closed pipe from
// other invalid writes.
int write_error_is_closed_pipe(int error)
{
    if (error == EPIPE) return 1;
    DWORD code = GetLastError();
    return error == EINVAL && (code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE ||
                              code == ERROR_PIPE_NOT_CONNECTED);
}
