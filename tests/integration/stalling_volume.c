/* A record volume that hangs, for tests: loaded with LD_PRELOAD, it holds
 * every write, sync and status query aimed at one folder for a while, the
 * way a hung network volume does.
 *
 * How it works: the calls below look up the real ones with dlsym(RTLD_NEXT).
 * A call whose path, or whose descriptor's path (/proc/self/fd), lies in the
 * stalled folder first sleeps for the stall time, in 10 ms slices, so that a
 * test can end the stall at once (a sleeping call then goes on). The folder
 * and time come from DIALSCOPE_STALL_DIR and DIALSCOPE_STALL_MS at load, or
 * from dialscope_stall_configure() at any time (a test's own process); an
 * empty folder or a time of 0 stalls nothing. Calls elsewhere pass straight
 * through (the descriptor is only looked up while a stall is configured).
 * Never part of the program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#define STALL_PATH_MAX 4096

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static char g_folder[STALL_PATH_MAX]; /* with a trailing '/' */
static atomic_int g_stallMs;
static atomic_uint g_generation; /* bumped by every configure: sleeping calls end */
static atomic_ulong g_stalled;   /* calls held so far */

static void configure(const char* folder, int ms) {
    pthread_mutex_lock(&g_lock);
    g_folder[0] = '\0';
    if (folder && *folder && strlen(folder) + 2 < sizeof g_folder) {
        strcpy(g_folder, folder);
        if (g_folder[strlen(g_folder) - 1] != '/')
            strcat(g_folder, "/");
    }
    const int on = g_folder[0] != '\0';
    pthread_mutex_unlock(&g_lock);
    atomic_store(&g_stallMs, on ? ms : 0);
    atomic_fetch_add(&g_generation, 1);
}

/* The test's handle: stall calls under `folder` for `ms` milliseconds each
 * (0 or no folder: none, and calls sleeping now go on). */
void dialscope_stall_configure(const char* folder, int ms) {
    configure(folder, ms);
}

/* How many calls were held so far. */
unsigned long dialscope_stall_count(void) {
    return atomic_load(&g_stalled);
}

__attribute__((constructor)) static void readEnvironment(void) {
    const char* folder = getenv("DIALSCOPE_STALL_DIR");
    const char* ms = getenv("DIALSCOPE_STALL_MS");
    if (folder && *folder)
        configure(folder, ms ? atoi(ms) : 5000);
}

static int inFolder(const char* path) {
    if (!path || atomic_load(&g_stallMs) <= 0)
        return 0;
    pthread_mutex_lock(&g_lock);
    const size_t length = strlen(g_folder);
    /* The folder itself (without its '/') counts too. */
    const int in = length > 0 && (strncmp(path, g_folder, length) == 0 ||
                                  (strncmp(path, g_folder, length - 1) == 0 && path[length - 1] == '\0'));
    pthread_mutex_unlock(&g_lock);
    return in;
}

static int fdInFolder(int fd) {
    if (fd < 0 || atomic_load(&g_stallMs) <= 0)
        return 0;
    char link[64];
    char path[STALL_PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return 0;
    path[n] = '\0';
    return inFolder(path);
}

static void stall(void) {
    const int saved = errno;
    const unsigned generation = atomic_load(&g_generation);
    const int ms = atomic_load(&g_stallMs);
    atomic_fetch_add(&g_stalled, 1);
    for (int slept = 0; slept < ms && atomic_load(&g_generation) == generation; slept += 10) {
        const struct timespec slice = {0, 10 * 1000 * 1000};
        nanosleep(&slice, NULL);
    }
    errno = saved;
}

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

ssize_t write(int fd, const void* data, size_t size) {
    static ssize_t (*real)(int, const void*, size_t);
    if (!real)
        real = REAL("write", ssize_t(*)(int, const void*, size_t));
    if (fdInFolder(fd))
        stall();
    return real(fd, data, size);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
    static ssize_t (*real)(int, const struct iovec*, int);
    if (!real)
        real = REAL("writev", ssize_t(*)(int, const struct iovec*, int));
    if (fdInFolder(fd))
        stall();
    return real(fd, parts, count);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (!real)
        real = REAL("pwrite", ssize_t(*)(int, const void*, size_t, off_t));
    if (fdInFolder(fd))
        stall();
    return real(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off64_t);
    if (!real)
        real = REAL("pwrite64", ssize_t(*)(int, const void*, size_t, off64_t));
    if (fdInFolder(fd))
        stall();
    return real(fd, data, size, offset);
}

ssize_t pwritev(int fd, const struct iovec* parts, int count, off_t offset) {
    static ssize_t (*real)(int, const struct iovec*, int, off_t);
    if (!real)
        real = REAL("pwritev", ssize_t(*)(int, const struct iovec*, int, off_t));
    if (fdInFolder(fd))
        stall();
    return real(fd, parts, count, offset);
}

ssize_t pwritev64(int fd, const struct iovec* parts, int count, off64_t offset) {
    static ssize_t (*real)(int, const struct iovec*, int, off64_t);
    if (!real)
        real = REAL("pwritev64", ssize_t(*)(int, const struct iovec*, int, off64_t));
    if (fdInFolder(fd))
        stall();
    return real(fd, parts, count, offset);
}

int fsync(int fd) {
    static int (*real)(int);
    if (!real)
        real = REAL("fsync", int (*)(int));
    if (fdInFolder(fd))
        stall();
    return real(fd);
}

int fdatasync(int fd) {
    static int (*real)(int);
    if (!real)
        real = REAL("fdatasync", int (*)(int));
    if (fdInFolder(fd))
        stall();
    return real(fd);
}

int statvfs(const char* path, struct statvfs* out) {
    static int (*real)(const char*, struct statvfs*);
    if (!real)
        real = REAL("statvfs", int (*)(const char*, struct statvfs*));
    if (inFolder(path))
        stall();
    return real(path, out);
}

int statvfs64(const char* path, struct statvfs64* out) {
    static int (*real)(const char*, struct statvfs64*);
    if (!real)
        real = REAL("statvfs64", int (*)(const char*, struct statvfs64*));
    if (inFolder(path))
        stall();
    return real(path, out);
}

int stat(const char* path, struct stat* out) {
    static int (*real)(const char*, struct stat*);
    if (!real)
        real = REAL("stat", int (*)(const char*, struct stat*));
    if (inFolder(path))
        stall();
    return real(path, out);
}

int stat64(const char* path, struct stat64* out) {
    static int (*real)(const char*, struct stat64*);
    if (!real)
        real = REAL("stat64", int (*)(const char*, struct stat64*));
    if (inFolder(path))
        stall();
    return real(path, out);
}

int lstat(const char* path, struct stat* out) {
    static int (*real)(const char*, struct stat*);
    if (!real)
        real = REAL("lstat", int (*)(const char*, struct stat*));
    if (inFolder(path))
        stall();
    return real(path, out);
}

int access(const char* path, int mode) {
    static int (*real)(const char*, int);
    if (!real)
        real = REAL("access", int (*)(const char*, int));
    if (inFolder(path))
        stall();
    return real(path, mode);
}
