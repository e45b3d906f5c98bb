// LD_PRELOAD shim that fails one system call: the Nth call of one kind on a file beneath one
// directory, with one errno. Set by the environment:
//   FAULT_KIND   open | write | fsync | rename | futimens
//   FAULT_NTH    which call of that kind fails (1 = the first); 0 fails none and only counts
//   FAULT_ERRNO  the error number it fails with
//   FAULT_UNDER  only calls on paths beginning with this count
// At exit it writes "fault shim: <calls counted> <path of the failed call>" on stderr.
// Only opens for writing count; opens through openat2 (by syscall()) count too.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static const char* g_kind;
static const char* g_under;
static long g_nth;
static int g_errno;
static long g_counted;
static char g_failedPath[PATH_MAX];

static int g_configured;

// Read at the first call, not in a constructor: the libraries of the program run their own
// constructors (the store sweep among them) before a preloaded library's.
static void Configure(void) {
    g_configured = 1;
    g_kind = getenv("FAULT_KIND");
    g_under = getenv("FAULT_UNDER");
    const char* nth = getenv("FAULT_NTH");
    const char* error = getenv("FAULT_ERRNO");
    g_nth = nth != NULL ? atol(nth) : 0;
    g_errno = error != NULL ? atoi(error) : EIO;
}

// Silent in a process that met no such call (the time limit's process that runs the host).
__attribute__((destructor)) static void Report(void) {
    if (g_counted > 0) fprintf(stderr, "fault shim: %ld %s\n", g_counted, g_failedPath);
}

// The path a descriptor (or a name relative to a directory descriptor) stands for.
static void PathOf(int dirfd, const char* name, char* path) {
    path[0] = '\0';
    if (name != NULL && name[0] == '/') {
        snprintf(path, PATH_MAX, "%s", name);
        return;
    }
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    const ssize_t length = dirfd == AT_FDCWD ? -1 : readlink(link, path, PATH_MAX - 1);
    if (length < 0) {
        if (getcwd(path, PATH_MAX) == NULL) path[0] = '\0';
    } else {
        path[length] = '\0';
    }
    if (name != NULL && name[0] != '\0') {
        const size_t used = strlen(path);
        snprintf(path + used, PATH_MAX - used, "/%s", name);
    }
}

// True when this call is the one to fail (errno is then set).
static int Fails(const char* kind, int dirfd, const char* name) {
    if (!g_configured) Configure();
    if (kind == NULL || g_kind == NULL || g_under == NULL || strcmp(kind, g_kind) != 0) return 0;
    char path[PATH_MAX];
    PathOf(dirfd, name, path);
    if (strncmp(path, g_under, strlen(g_under)) != 0) return 0;
    if (++g_counted != g_nth) return 0;
    snprintf(g_failedPath, sizeof g_failedPath, "%s", path);
    errno = g_errno;
    return 1;
}

static const char* OpenKind(long flags) {
    return (flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0 ? "open" : NULL;
}

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    va_end(args);
    if (Fails(OpenKind(flags), AT_FDCWD, path)) return -1;
    return REAL("open", int (*)(const char*, int, ...))(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    va_end(args);
    if (Fails(OpenKind(flags), dirfd, path)) return -1;
    return REAL("openat", int (*)(int, const char*, int, ...))(dirfd, path, flags, mode);
}

long syscall(long number, ...) {
    va_list args;
    va_start(args, number);
    long a[6];
    for (int i = 0; i < 6; ++i) a[i] = va_arg(args, long);
    va_end(args);
    if (number == SYS_openat2 &&
        Fails(OpenKind((long)((const struct open_how*)a[2])->flags), (int)a[0], (const char*)a[1]))
        return -1;
    return REAL("syscall", long (*)(long, ...))(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

ssize_t write(int fd, const void* data, size_t length) {
    if (Fails("write", fd, NULL)) return -1;
    return REAL("write", ssize_t(*)(int, const void*, size_t))(fd, data, length);
}

int fsync(int fd) {
    if (Fails("fsync", fd, NULL)) return -1;
    return REAL("fsync", int (*)(int))(fd);
}

int rename(const char* from, const char* to) {
    if (Fails("rename", AT_FDCWD, to)) return -1;
    return REAL("rename", int (*)(const char*, const char*))(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    if (Fails("rename", toDir, to)) return -1;
    return REAL("renameat", int (*)(int, const char*, int, const char*))(fromDir, from, toDir, to);
}

int futimens(int fd, const struct timespec times[2]) {
    if (Fails("futimens", fd, NULL)) return -1;
    return REAL("futimens", int (*)(int, const struct timespec*))(fd, times);
}

int mkostemp(char* pattern, int flags) {
    if (Fails("open", AT_FDCWD, pattern)) return -1;
    return REAL("mkostemp", int (*)(char*, int))(pattern, flags);
}
