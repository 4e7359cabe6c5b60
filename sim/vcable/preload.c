/* The virtual cable's LD_PRELOAD library.
 *
 * Linux ptys have no modem lines, so the four modem-line ioctls on a cable
 * end are answered here from the cable's shared state; every other call goes
 * to the C library. The cable ends are recognised by the device number of
 * their pty slave, which survives Wine's server opening the port and handing
 * the descriptor to the program.
 *
 * The library also keeps every process it is loaded into away from real
 * serial hardware: on this kind of machine a COM port that falls back to
 * /dev/ttyS0 would talk to the system console.
 *
 * Built twice, for 64-bit (Wine's server) and 32-bit (Wine's programs), and
 * loaded with LD_PRELOAD='<dir>/$LIB/libnjcable.so' so that each process
 * picks its own. */
#define _GNU_SOURCE
#include "cable_state.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))
#define MAX_CABLES 8
#define OUTPUT_LINES (TIOCM_RTS | TIOCM_DTR)

/* Lets a process (and the tests) tell that the library is in. */
EXPORT const int nj_cable_preload_version = NJ_CABLE_VERSION;

/* ---- the cable's line model ---------------------------------------------- */

static uint32_t load_outputs(const struct nj_cable_end* end)
{
    return __atomic_load_n(&end->outputs, __ATOMIC_ACQUIRE);
}

/* A wire is pulled when either end pulls it: both ends read wire A (driven
 * by RTS) on CTS and wire B (driven by DTR) on DSR. */
static uint32_t modem_status(const struct nj_cable_state* s, int end)
{
    const uint32_t mine = load_outputs(&s->end[end]);
    const uint32_t both = mine & load_outputs(&s->end[1 - end]);
    uint32_t status = mine & OUTPUT_LINES;
    if (both & TIOCM_RTS) status |= TIOCM_CTS;
    if (both & TIOCM_DTR) status |= TIOCM_DSR;
    return status;
}

static int apply_modem_request(struct nj_cable_state* s, int end, unsigned long request, int* bits);

/* NJ_CABLE_TRACE=1 logs every modem-line call on a cable end to stderr, with
 * the Unix real-time clock (the clock Wine's precise system time reads), so
 * that bench/ can put the lines next to a Windows program's own times. */
static void trace(int end, unsigned long request, int before, int after)
{
    static int enabled = -1;
    if (enabled < 0) {
        const char* value = getenv(NJ_CABLE_TRACE_ENV);
        enabled = value != NULL && strcmp(value, "1") == 0;
    }
    if (!enabled) return;
    static const char* const names[] = {"TIOCMGET", "TIOCMBIS", "TIOCMBIC", "TIOCMSET"};
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    char line[128];
    const int n = snprintf(line, sizeof(line), "njcable: %lld.%09ld pid %d end %d %s %#x -> %#x\n",
                           (long long)now.tv_sec, (long)now.tv_nsec, (int)getpid(), end,
                           names[(request - TIOCMGET) & 3], before, after);
    ssize_t ignored = write(2, line, (size_t)n);
    (void)ignored;
}

static int modem_ioctl(struct nj_cable_state* s, int end, unsigned long request, int* bits)
{
    if (bits == NULL) {
        errno = EFAULT;
        return -1;
    }
    const int before = *bits;
    const int result = apply_modem_request(s, end, request, bits);
    trace(end, request, before, request == TIOCMGET ? *bits : (int)load_outputs(&s->end[end]));
    return result;
}

static int apply_modem_request(struct nj_cable_state* s, int end, unsigned long request, int* bits)
{
    uint32_t* outputs = &s->end[end].outputs;
    /* Wine sets one line by writing back the whole TIOCMGET value, inputs
     * included: only the outputs are this end's to set. */
    const uint32_t lines = (uint32_t)*bits & OUTPUT_LINES;
    switch (request) {
    case TIOCMGET:
        *bits = (int)modem_status(s, end);
        return 0;
    case TIOCMSET:
        __atomic_store_n(outputs, lines, __ATOMIC_RELEASE);
        return 0;
    case TIOCMBIS:
        __atomic_fetch_or(outputs, lines, __ATOMIC_ACQ_REL);
        return 0;
    case TIOCMBIC:
        __atomic_fetch_and(outputs, ~lines, __ATOMIC_ACQ_REL);
        return 0;
    }
    errno = EINVAL;
    return -1;
}

/* ---- finding the cables -------------------------------------------------- */

static pthread_mutex_t cables_lock = PTHREAD_MUTEX_INITIALIZER;
static struct nj_cable_state* cables[MAX_CABLES];
static int cable_count;      /* mapped so far; only grows */
static int all_cables_mapped; /* every file named by the environment is mapped */

static struct nj_cable_state* map_state_file(const char* path)
{
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return NULL;
    struct stat st;
    void* mem = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_size >= (off_t)sizeof(struct nj_cable_state))
        mem = mmap(NULL, sizeof(struct nj_cable_state), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (mem == MAP_FAILED) return NULL;
    struct nj_cable_state* s = mem;
    if (__atomic_load_n(&s->magic, __ATOMIC_ACQUIRE) != NJ_CABLE_MAGIC || s->version != NJ_CABLE_VERSION) {
        munmap(mem, sizeof(struct nj_cable_state)); /* not ready yet, or not a cable */
        return NULL;
    }
    return s;
}

static int same_end(const struct nj_cable_end* a, const struct nj_cable_end* b)
{
    return a->rdev_major == b->rdev_major && a->rdev_minor == b->rdev_minor;
}

/* The same file named twice, or a stale file of a cable whose ptys live on. */
static int already_mapped(const struct nj_cable_state* s)
{
    for (int i = 0; i < cable_count; ++i) {
        if (same_end(&cables[i]->end[0], &s->end[0]) || same_end(&cables[i]->end[1], &s->end[1])) return 1;
    }
    return 0;
}

/* Maps the state files named by the environment. A cable whose daemon has
 * not finished starting is tried again at the next call. */
static void map_cables(void)
{
    if (__atomic_load_n(&all_cables_mapped, __ATOMIC_ACQUIRE)) return;
    pthread_mutex_lock(&cables_lock);
    const char* list = getenv(NJ_CABLE_STATE_ENV);
    int missing = 0;
    if (list != NULL) {
        char path[4096];
        while (*list != '\0') {
            size_t len = strcspn(list, ":");
            if (len > 0 && len < sizeof(path)) {
                memcpy(path, list, len);
                path[len] = '\0';
                struct nj_cable_state* s = map_state_file(path);
                if (s == NULL) {
                    missing = 1;
                } else if (already_mapped(s) || cable_count == MAX_CABLES) {
                    munmap(s, sizeof(*s));
                } else {
                    cables[cable_count] = s;
                    __atomic_store_n(&cable_count, cable_count + 1, __ATOMIC_RELEASE);
                }
            }
            list += len;
            if (*list == ':') ++list;
        }
    }
    if (!missing) __atomic_store_n(&all_cables_mapped, 1, __ATOMIC_RELEASE);
    pthread_mutex_unlock(&cables_lock);
}

static int find_end(int fd, struct nj_cable_state** cable, int* end)
{
    map_cables();
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    const uint32_t maj = major(st.st_rdev), min = minor(st.st_rdev);
    const int count = __atomic_load_n(&cable_count, __ATOMIC_ACQUIRE);
    for (int i = 0; i < count; ++i) {
        for (int e = 0; e < 2; ++e) {
            if (cables[i]->end[e].rdev_major == maj && cables[i]->end[e].rdev_minor == min) {
                *cable = cables[i];
                *end = e;
                return 1;
            }
        }
    }
    return 0;
}

/* ---- ioctl ----------------------------------------------------------------- */

typedef int (*ioctl_fn)(int, unsigned long, ...);

static ioctl_fn next_ioctl(const char* name)
{
    ioctl_fn fn = (ioctl_fn)dlsym(RTLD_NEXT, name);
    if (fn == NULL) fn = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    return fn;
}

static int is_modem_request(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

/* Programs that check for a serial port before using its lines see a
 * 16550A behind a cable end. */
static int describe_serial_port(int end, struct serial_struct* info)
{
    if (info == NULL) {
        errno = EFAULT;
        return -1;
    }
    memset(info, 0, sizeof(*info));
    info->type = PORT_16550A;
    info->line = end;
    info->baud_base = 115200;
    info->xmit_fifo_size = 16;
    return 0;
}

static int cable_or_next(ioctl_fn* next, const char* name, int fd, unsigned long request, void* arg)
{
    if (is_modem_request(request) || request == TIOCGSERIAL) {
        struct nj_cable_state* cable;
        int end;
        if (find_end(fd, &cable, &end)) {
            return request == TIOCGSERIAL ? describe_serial_port(end, arg) : modem_ioctl(cable, end, request, arg);
        }
    }
    ioctl_fn fn = __atomic_load_n(next, __ATOMIC_ACQUIRE);
    if (fn == NULL) {
        fn = next_ioctl(name);
        __atomic_store_n(next, fn, __ATOMIC_RELEASE);
    }
    if (fn == NULL) {
        errno = ENOSYS;
        return -1;
    }
    return fn(fd, request, arg);
}

static ioctl_fn real_ioctl;
static ioctl_fn real_ioctl_time64;

EXPORT int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return cable_or_next(&real_ioctl, "ioctl", fd, request, arg);
}

/* 32-bit programs built with 64-bit time_t (Wine's among them) call this. */
EXPORT int __ioctl_time64(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return cable_or_next(&real_ioctl_time64, "__ioctl_time64", fd, request, arg);
}

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

typedef int (*access_fn)(const char*, int);
typedef int (*faccessat_fn)(int, const char*, int, int);

EXPORT int access(const char* path, int mode)
{
    static access_fn next;
    if (next == NULL) next = (access_fn)dlsym(RTLD_NEXT, "access");
    return next(redirected(path), mode);
}

EXPORT int faccessat(int dirfd, const char* path, int mode, int flags)
{
    static faccessat_fn next;
    if (next == NULL) next = (faccessat_fn)dlsym(RTLD_NEXT, "faccessat");
    return next(dirfd, redirected(path), mode, flags);
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

typedef int (*open_fn)(const char*, int, ...);
typedef int (*openat_fn)(int, const char*, int, ...);

static int needs_mode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

#define NEXT(type, name) ((type)dlsym(RTLD_NEXT, name))

#define DEFINE_OPEN(name)                                                        \
    EXPORT int name(const char* path, int flags, ...)                            \
    {                                                                            \
        mode_t mode = 0;                                                         \
        if (needs_mode(flags)) {                                                 \
            va_list ap;                                                          \
            va_start(ap, flags);                                                 \
            mode = va_arg(ap, mode_t);                                           \
            va_end(ap);                                                          \
        }                                                                        \
        path = redirected(path);                                                 \
        if (refuse_real_serial(AT_FDCWD, path)) return -1;                       \
        static open_fn next;                                                     \
        if (next == NULL) next = NEXT(open_fn, #name);                           \
        return next(path, flags, mode);                                          \
    }

#define DEFINE_OPENAT(name)                                                      \
    EXPORT int name(int dirfd, const char* path, int flags, ...)                 \
    {                                                                            \
        mode_t mode = 0;                                                         \
        if (needs_mode(flags)) {                                                 \
            va_list ap;                                                          \
            va_start(ap, flags);                                                 \
            mode = va_arg(ap, mode_t);                                           \
            va_end(ap);                                                          \
        }                                                                        \
        path = redirected(path);                                                 \
        if (refuse_real_serial(dirfd, path)) return -1;                          \
        static openat_fn next;                                                   \
        if (next == NULL) next = NEXT(openat_fn, #name);                         \
        return next(dirfd, path, flags, mode);                                   \
    }

/* The fortified forms that _FORTIFY_SOURCE builds call. */
#define DEFINE_OPEN_2(name)                                                      \
    EXPORT int name(const char* path, int flags)                                 \
    {                                                                            \
        path = redirected(path);                                                 \
        if (refuse_real_serial(AT_FDCWD, path)) return -1;                       \
        static int (*next)(const char*, int);                                    \
        if (next == NULL) next = (int (*)(const char*, int))dlsym(RTLD_NEXT, #name); \
        return next(path, flags);                                                \
    }

#define DEFINE_OPENAT_2(name)                                                    \
    EXPORT int name(int dirfd, const char* path, int flags)                      \
    {                                                                            \
        path = redirected(path);                                                 \
        if (refuse_real_serial(dirfd, path)) return -1;                          \
        static int (*next)(int, const char*, int);                               \
        if (next == NULL) next = (int (*)(int, const char*, int))dlsym(RTLD_NEXT, #name); \
        return next(dirfd, path, flags);                                         \
    }

DEFINE_OPEN(open)
DEFINE_OPEN(open64)
DEFINE_OPENAT(openat)
DEFINE_OPENAT(openat64)
DEFINE_OPEN_2(__open_2)
DEFINE_OPEN_2(__open64_2)
DEFINE_OPENAT_2(__openat_2)
DEFINE_OPENAT_2(__openat64_2)
