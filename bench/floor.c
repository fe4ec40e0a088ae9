/* The floor of reading a tree's directories with N threads: each thread
 * takes the next directory from a shared list (an atomic counter) and only
 * opens it, reads it to the end with getdents64 and closes it.  No names
 * are matched, nothing is stat'ed or printed.
 *
 *   floor TREE [N...]         (N defaults to 1 2 4 8 16)
 *
 * The list of directories is made first, by one thread walking the tree
 * the same way; then, for each N, the caches are dropped (root only:
 * sync; echo 3 > /proc/sys/vm/drop_caches) and the N threads read every
 * directory of the list.  Prints directories per second for each N.
 * Without root the caches stay warm, and the output says so.
 *
 * Built by bench/CMakeLists.txt (-DTRAWL_BUILD_BENCH=ON), or alone:
 *   cc -O2 -pthread -o /tmp/floor bench/floor.c
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

struct linux_dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

static char **dirs;
static size_t ndirs, cap;
static atomic_size_t next_dir;
static atomic_size_t failures;

static void add_dir(const char *path)
{
    if (ndirs == cap) {
        cap = cap ? cap * 2 : 4096;
        dirs = realloc(dirs, cap * sizeof *dirs);
        if (!dirs) {
            perror("floor");
            exit(1);
        }
    }
    dirs[ndirs] = strdup(path);
    if (!dirs[ndirs++]) {
        perror("floor");
        exit(1);
    }
}

/* Collects the directories breadth first: dirs[] is its own queue.  Only
 * entries the file system reports as directories are followed (no links). */
static void collect(const char *root)
{
    char buf[65536];
    add_dir(root);
    for (size_t i = 0; i < ndirs; i++) {
        int fd = open(dirs[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        long n;
        while ((n = syscall(SYS_getdents64, fd, buf, sizeof buf)) > 0) {
            for (long off = 0; off < n;) {
                struct linux_dirent64 *d = (struct linux_dirent64 *)(buf + off);
                off += d->d_reclen;
                if (d->d_type != DT_DIR || !strcmp(d->d_name, ".") || !strcmp(d->d_name, ".."))
                    continue;
                size_t len = strlen(dirs[i]) + 1 + strlen(d->d_name) + 1;
                char *path = malloc(len);
                if (!path) {
                    perror("floor");
                    exit(1);
                }
                snprintf(path, len, "%s/%s", dirs[i], d->d_name);
                add_dir(path);
                free(path);
            }
        }
        close(fd);
    }
}

static void *reader(void *unused)
{
    (void)unused;
    char buf[32768];
    for (;;) {
        size_t i = atomic_fetch_add(&next_dir, 1);
        if (i >= ndirs)
            return NULL;
        int fd = open(dirs[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            atomic_fetch_add(&failures, 1);
            continue;
        }
        long n;
        while ((n = syscall(SYS_getdents64, fd, buf, sizeof buf)) > 0)
            ;
        if (n < 0)
            atomic_fetch_add(&failures, 1);
        close(fd);
    }
}

static int drop_caches(void)
{
    sync();
    int fd = open("/proc/sys/vm/drop_caches", O_WRONLY);
    if (fd < 0)
        return -1;
    int ok = write(fd, "3\n", 2) == 2;
    close(fd);
    return ok ? 0 : -1;
}

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    static const int default_counts[] = {1, 2, 4, 8, 16};
    if (argc < 2) {
        fprintf(stderr, "usage: floor TREE [THREADS...]\n");
        return 2;
    }
    collect(argv[1]);
    int ncounts = argc > 2 ? argc - 2 : 5;
    int cold = 1;
    printf("%zu directories under %s\n", ndirs, argv[1]);
    printf("threads  seconds  directories/s  cache\n");
    for (int k = 0; k < ncounts; k++) {
        int threads = argc > 2 ? atoi(argv[k + 2]) : default_counts[k];
        if (threads < 1 || threads > 1024) {
            fprintf(stderr, "floor: bad thread count %s\n", argv[k + 2]);
            return 2;
        }
        if (cold && drop_caches() != 0) {
            fprintf(stderr, "floor: cannot drop the caches (%s): timing warm\n",
                    strerror(errno));
            cold = 0;
        }
        pthread_t *ids = calloc(threads, sizeof *ids);
        atomic_store(&next_dir, 0);
        atomic_store(&failures, 0);
        double start = now();
        for (int t = 0; t < threads; t++)
            if (pthread_create(&ids[t], NULL, reader, NULL) != 0) {
                fprintf(stderr, "floor: cannot start thread %d\n", t);
                return 1;
            }
        for (int t = 0; t < threads; t++)
            pthread_join(ids[t], NULL);
        double seconds = now() - start;
        free(ids);
        printf("%7d  %7.3f  %13.0f  %s\n", threads, seconds, ndirs / seconds,
               cold ? "cold" : "warm");
        if (atomic_load(&failures))
            printf("         (%zu directories could not be read)\n", atomic_load(&failures));
        fflush(stdout);
    }
    return 0;
}
