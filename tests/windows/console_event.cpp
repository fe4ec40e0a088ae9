// Runs a command in this console, sends Ctrl+C to the console once the
// command has switched the console's output code page to UTF-8, and prints
// the code page before and after, and whether the command was still running
// when the event went out.
//
//   console_event "trawl.exe dir\*"
#include <windows.h>

#include <cstdio>

namespace {

// This process stays to report; the command gets the default handling.
BOOL WINAPI stay(DWORD)
{
    return TRUE;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) return 2;
    SetConsoleCtrlHandler(stay, TRUE);
    SetConsoleOutputCP(437);
    UINT before = GetConsoleOutputCP();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    if (!CreateProcessA(nullptr, argv[1], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &child))
        return 2;
    // Polling, not a delay: the command has its handler in place before it
    // switches the code page.
    while (GetConsoleOutputCP() != CP_UTF8 &&
           WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT)
        Sleep(1);
    int running = WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT;
    int sent = running && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    WaitForSingleObject(child.hProcess, INFINITE);
    // No spaces: Wine's console draws them as cursor movements.
    printf("\nresult,before=%u,after=%u,running=%d,sent=%d\n", before, GetConsoleOutputCP(),
           running, sent);
    return 0;
}
