// What the native build may use of the machine: CPUs and descriptors.
#include "platform.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>

namespace {

// Every level of the walk holds at most one enumeration open while it
// searches below, and the path limit bounds the depth (about 130 levels);
// the standard streams and the enumeration of the current directory come
// on top.
const int DESCRIPTORS_OF_THE_DEEPEST_WALK = 3 + MAX_PATH / 2 + 8;

// The quota of cgroup v2 ("max 100000" or "50000 100000": quota and period
// in microseconds), in whole CPUs; 0 when there is none.
int cpus_of_quota()
{
    char group[512] = "";
    FILE *membership = fopen("/proc/self/cgroup", "re");
    if (membership == nullptr) return 0;
    char line[600];
    while (fgets(line, sizeof line, membership))
        if (strncmp(line, "0::", 3) == 0) sscanf(line + 3, "%511[^\n]", group);
    fclose(membership);
    char path[600];
    snprintf(path, sizeof path, "/sys/fs/cgroup%s/cpu.max", group);
    FILE *limit = fopen(path, "re");
    if (limit == nullptr) return 0;
    long quota = 0, period = 0;
    int fields = fscanf(limit, "%ld %ld", &quota, &period);
    fclose(limit);
    if (fields != 2 || quota <= 0 || period <= 0) return 0;
    long cpus = quota / period;
    return cpus < 1 ? 1 : (int)cpus;
}

int descriptors_open()
{
    DIR *listing = opendir("/proc/self/fd");
    if (listing == nullptr) return 64;  // no procfs: a generous guess
    int count = 0;
    while (struct dirent *entry = readdir(listing))
        if (entry->d_name[0] != '.') count++;
    closedir(listing);
    return count;
}

}  // namespace

int usable_cpus()
{
    cpu_set_t set;
    int cpus = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    int quota = cpus_of_quota();
    if (quota > 0 && quota < cpus) cpus = quota;
    return cpus < 1 ? 1 : cpus;
}

int descriptors_to_spare()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    rlim_t allowed = limit.rlim_cur;
    if (allowed == RLIM_INFINITY || allowed > 1 << 20) allowed = 1 << 20;
    long spare = (long)allowed - descriptors_open() - DESCRIPTORS_OF_THE_DEEPEST_WALK;
    return spare > 0 ? (int)spare : 0;
}
