// What the Windows build may use of the machine: CPUs and handles.
#include "platform.h"

int usable_cpus()
{
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
    int cpus = __builtin_popcountll((unsigned long long)process);
    return cpus < 1 ? 1 : cpus;
}

// Handles are limited only by memory.
int descriptors_to_spare()
{
    return 1 << 20;
}
