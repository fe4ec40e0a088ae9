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

// Whole CPUs of a quota and its period, at least 1; 0 for none.
int cpus_of(long quota, long period)
{
    if (quota <= 0 || period <= 0) return 0;
    return quota / period < 1 ? 1 : (int)(quota / period);
}

long read_number(const char *directory, const char *file)
{
    char path[700];
    snprintf(path, sizeof path, "%s/%s", directory, file);
    FILE *stream = fopen(path, "re");
    long value = 0;
    if (stream == nullptr) return 0;
    if (fscanf(stream, "%ld", &value) != 1) value = 0;
    fclose(stream);
    return value;
}

// The CPU quota of the process's control group, in whole CPUs; 0 when
// there is none.  cgroup v2 keeps quota and period in cpu.max ("max
// 100000", or "50000 100000" for half a CPU); v1 in two files of the cpu
// controller.
int cpus_of_quota()
{
    FILE *membership = fopen("/proc/self/cgroup", "re");
    if (membership == nullptr) return 0;
    char line[600], group[512], directory[600];
    int cpus = 0;
    while (cpus == 0 && fgets(line, sizeof line, membership)) {
        char controllers[64] = "";
        if (sscanf(line, "%*[^:]:%63[^:]:%511[^\n]", controllers, group) != 2 &&
            sscanf(line, "%*[^:]::%511[^\n]", group) != 1)
            continue;
        if (controllers[0] == '\0') {
            char path[700];
            snprintf(path, sizeof path, "/sys/fs/cgroup%s/cpu.max", group);
            FILE *limit = fopen(path, "re");
            long quota = 0, period = 0;
            if (limit == nullptr) continue;
            if (fscanf(limit, "%ld %ld", &quota, &period) == 2) cpus = cpus_of(quota, period);
            fclose(limit);
        } else if (strcmp(controllers, "cpu") == 0 || strncmp(controllers, "cpu,", 4) == 0) {
            snprintf(directory, sizeof directory, "/sys/fs/cgroup/cpu%s", group);
            cpus = cpus_of(read_number(directory, "cpu.cfs_quota_us"),
                           read_number(directory, "cpu.cfs_period_us"));
        }
    }
    fclose(membership);
    return cpus;
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
