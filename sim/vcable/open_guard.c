/* The guard on opening files: the machine's own device names redirected to
 * cable ends, and real serial devices refused. */
#define _GNU_SOURCE
#include "preload.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

/* ---- device names redirected to cable ends ------------------------------- */

#define MAX_REDIRECTS 4

struct redirect {
    char from[NJ_CABLE_PATH_MAX];
    char to[NJ_CABLE_PATH_MAX];
};

static pthread_once_t redirects_once = PTHREAD_ONCE_INIT;
static struct redirect redirects[MAX_REDIRECTS];
static int redirect_count;

static void parse_redirects(void)
{
    const char* list = getenv(NJ_CABLE_REDIRECT_ENV);
    while (list != NULL && *list != '\0' && redirect_count < MAX_REDIRECTS) {
        const size_t len = strcspn(list, ",");
        const char* eq = memchr(list, '=', len);
        if (eq != NULL) {
            const size_t from_len = (size_t)(eq - list), to_len = len - from_len - 1;
            if (from_len > 0 && from_len < NJ_CABLE_PATH_MAX && to_len > 0 && to_len < NJ_CABLE_PATH_MAX) {
                struct redirect* r = &redirects[redirect_count++];
                memcpy(r->from, list, from_len);
                memcpy(r->to, eq + 1, to_len);
            }
        }
        list += len;
        if (*list == ',') ++list;
    }
}

static const char* redirected(const char* path)
{
    if (path == NULL) return NULL;
    pthread_once(&redirects_once, parse_redirects);
    for (int i = 0; i < redirect_count; ++i) {
        if (strcmp(path, redirects[i].from) == 0) return redirects[i].to;
    }
    return path;
}

/* The next definition of a wrapped function, looked up once. */
struct next_fn {
    const char* name;
    void* fn;
};

static void* next_of(struct next_fn* next)
{
    void* fn = __atomic_load_n(&next->fn, __ATOMIC_ACQUIRE);
    if (fn == NULL) {
        fn = dlsym(RTLD_NEXT, next->name);
        __atomic_store_n(&next->fn, fn, __ATOMIC_RELEASE);
    }
    return fn;
}

EXPORT int access(const char* path, int mode)
{
    static struct next_fn next = {"access", NULL};
    return ((int (*)(const char*, int))next_of(&next))(redirected(path), mode);
}

EXPORT int faccessat(int dirfd, const char* path, int mode, int flags)
{
    static struct next_fn next = {"faccessat", NULL};
    return ((int (*)(int, const char*, int, int))next_of(&next))(dirfd, redirected(path), mode, flags);
}

/* ---- keeping away from real serial ports -------------------------------- */

static int is_serial_device(dev_t rdev)
{
    const unsigned maj = major(rdev), min = minor(rdev);
    return (maj == 4 && min >= 64) /* ttyS */ || maj == 188 /* ttyUSB */ || maj == 166 /* ttyACM */ ||
           maj == 204 /* ttyAMA and other low-density serial */;
}

static int has_serial_name(const char* path)
{
    if (strncmp(path, "/dev/", 5) != 0) return 0;
    const char* name = strrchr(path, '/') + 1;
    return strncmp(name, "ttyS", 4) == 0 || strncmp(name, "ttyUSB", 6) == 0 || strncmp(name, "ttyACM", 6) == 0;
}

static void say_refused(const char* path)
{
    static const char prefix[] = "njcable: refusing to open real serial device ";
    static const char suffix[] = " (set " NJ_CABLE_REAL_SERIAL_ENV "=1 to allow)\n";
    ssize_t ignored = write(2, prefix, sizeof(prefix) - 1);
    ignored = write(2, path, strlen(path));
    ignored = write(2, suffix, sizeof(suffix) - 1);
    (void)ignored;
}

/* Decided before the open: opening a serial port already moves its lines. */
static int refuse_real_serial(int dirfd, const char* path)
{
    if (path == NULL) return 0;
    const char* allow = getenv(NJ_CABLE_REAL_SERIAL_ENV);
    if (allow != NULL && strcmp(allow, "1") == 0) return 0;
    struct stat st;
    int refuse;
    if (fstatat(dirfd, path, &st, 0) == 0) {
        refuse = S_ISCHR(st.st_mode) && is_serial_device(st.st_rdev);
    } else {
        char resolved[4096];
        refuse = has_serial_name(path) || (realpath(path, resolved) != NULL && has_serial_name(resolved));
    }
    if (refuse) {
        say_refused(path);
        errno = EACCES;
    }
    return refuse;
}

/* ---- the open wrappers ------------------------------------------------------ */

/* Every form of open ends here: open(path) is openat(AT_FDCWD, path), the
 * 64 forms (which add O_LARGEFILE in 32-bit processes) go to openat64, and
 * the fortified _2 forms only differ in checking their flags first. */
static int guarded_openat(int large, int dirfd, const char* path, int flags, mode_t mode)
{
    static struct next_fn next[2] = {{"openat", NULL}, {"openat64", NULL}};
    path = redirected(path);
    if (refuse_real_serial(dirfd, path)) return -1;
    return ((int (*)(int, const char*, int, ...))next_of(&next[large]))(dirfd, path, flags, mode);
}

static int needs_mode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

/* The mode argument, present only when the flags ask for one. */
#define MODE_AFTER(flags)                                                       \
    ({                                                                          \
        mode_t mode_ = 0;                                                       \
        if (needs_mode(flags)) {                                                \
            va_list ap_;                                                        \
            va_start(ap_, flags);                                               \
            mode_ = va_arg(ap_, mode_t);                                        \
            va_end(ap_);                                                        \
        }                                                                       \
        mode_;                                                                  \
    })

EXPORT int open(const char* path, int flags, ...) { return guarded_openat(0, AT_FDCWD, path, flags, MODE_AFTER(flags)); }
EXPORT int open64(const char* path, int flags, ...) { return guarded_openat(1, AT_FDCWD, path, flags, MODE_AFTER(flags)); }
EXPORT int openat(int dirfd, const char* path, int flags, ...) { return guarded_openat(0, dirfd, path, flags, MODE_AFTER(flags)); }
EXPORT int openat64(int dirfd, const char* path, int flags, ...) { return guarded_openat(1, dirfd, path, flags, MODE_AFTER(flags)); }

/* The fortified forms that _FORTIFY_SOURCE builds call. */
EXPORT int __open_2(const char* path, int flags) { return guarded_openat(0, AT_FDCWD, path, flags, 0); }
EXPORT int __open64_2(const char* path, int flags) { return guarded_openat(1, AT_FDCWD, path, flags, 0); }
EXPORT int __openat_2(int dirfd, const char* path, int flags) { return guarded_openat(0, dirfd, path, flags, 0); }
EXPORT int __openat64_2(int dirfd, const char* path, int flags) { return guarded_openat(1, dirfd, path, flags, 0); }
