/* The modem lines of a cable end, answered from the cable's shared state. */
#define _GNU_SOURCE
#include "preload.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#define OUTPUT_LINES (TIOCM_RTS | TIOCM_DTR)
#define INPUT_LINES (TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG)

/* Lets a process (and the tests) tell that the library is in. */
EXPORT const int nj_cable_preload_version = NJ_CABLE_VERSION;

/* ---- the cable's line model ---------------------------------------------- */

static uint32_t load_outputs(const struct nj_cable_end* end)
{
    return __atomic_load_n(&end->outputs, __ATOMIC_ACQUIRE);
}

static int unplugged(const struct nj_cable_state* s, int end);

/* A wire is pulled when either end pulls it: both ends read wire A (driven
 * by RTS) on CTS and wire B (driven by DTR) on DSR. An unplugged end pulls
 * nothing: the other end's wires are pulled up to released, as a
 * calculator's are when the PC's adapter is pulled out mid-byte. */
static uint32_t modem_status(const struct nj_cable_state* s, int end)
{
    const uint32_t mine = load_outputs(&s->end[end]);
    const uint32_t theirs = unplugged(s, 1 - end) ? OUTPUT_LINES : load_outputs(&s->end[1 - end]);
    const uint32_t both = mine & theirs;
    uint32_t status = mine & OUTPUT_LINES;
    if (both & TIOCM_RTS) status |= TIOCM_CTS;
    if (both & TIOCM_DTR) status |= TIOCM_DSR;
    return status;
}

static int unplugged(const struct nj_cable_state* s, int end)
{
    return __atomic_load_n(&s->end[end].unplugged, __ATOMIC_ACQUIRE) != 0;
}

static int env_is_one(const char* name)
{
    const char* value = getenv(name);
    return value != NULL && strcmp(value, "1") == 0;
}

/* NJ_CABLE_TRACE=1 logs every modem-line call on a cable end to stderr, with
 * the Unix real-time clock (the clock Wine's precise system time reads), so
 * that bench/ can put the lines next to a Windows program's own times. */
static void trace(int end, unsigned long request, int before, int after)
{
    static int enabled = -1;
    if (enabled < 0) enabled = env_is_one(NJ_CABLE_TRACE_ENV);
    if (!enabled) return;
    static const char* const names[] = {"TIOCMGET", "TIOCMBIS", "TIOCMBIC", "TIOCMSET"};
    const char* name = request == TIOCMIWAIT ? "TIOCMIWAIT" : names[(request - TIOCMGET) & 3];
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    char line[128];
    const int n = snprintf(line, sizeof(line), "njcable: %lld.%09ld pid %d end %d %s %#x -> %#x\n",
                           (long long)now.tv_sec, (long)now.tv_nsec, (int)getpid(), end, name, before, after);
    ssize_t ignored = write(2, line, (size_t)n);
    (void)ignored;
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
        break;
    case TIOCMBIS:
        __atomic_fetch_or(outputs, lines, __ATOMIC_ACQ_REL);
        break;
    case TIOCMBIC:
        __atomic_fetch_and(outputs, ~lines, __ATOMIC_ACQ_REL);
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    nj_cable_changed(s);
    return 0;
}

static int modem_ioctl(struct nj_cable_state* s, int end, unsigned long request, int* bits)
{
    if (unplugged(s, end)) {
        errno = EIO;
        return -1;
    }
    if (bits == NULL) {
        errno = EFAULT;
        return -1;
    }
    const int before = *bits;
    const int result = apply_modem_request(s, end, request, bits);
    trace(end, request, before, request == TIOCMGET ? *bits : (int)load_outputs(&s->end[end]));
    return result;
}

/* TIOCMIWAIT: blocks until one of the input lines in the mask differs from
 * what it was at the call, the end is unplugged (EIO), or a signal arrives
 * (EINTR, or a restart under SA_RESTART, as with a serial driver). Unlike a
 * UART's interrupt counters it sees states, not edges: a pulse shorter than
 * a wake-up can pass unseen, which the link's handshake never produces. And
 * unlike a driver, a signal handled while the call is between two looks at
 * the cable does not end it: a caller that bounds its wait with a signal
 * repeats the signal (a periodic timer), as the native line driver does. */
static int wait_for_change(struct nj_cable_state* s, int end, unsigned long mask)
{
    if (env_is_one(NJ_CABLE_NO_IWAIT_ENV)) {
        errno = EINVAL;
        return -1;
    }
    const uint32_t watched = (uint32_t)mask & INPUT_LINES;
    const uint32_t start = modem_status(s, end) & watched;
    __atomic_add_fetch(&s->waiters, 1, __ATOMIC_SEQ_CST);
    int result;
    for (;;) {
        const uint32_t seen = __atomic_load_n(&s->changes, __ATOMIC_SEQ_CST);
        if (unplugged(s, end)) {
            errno = EIO;
            result = -1;
            break;
        }
        if ((modem_status(s, end) & watched) != start) {
            result = 0;
            break;
        }
        if (syscall(SYS_futex, &s->changes, FUTEX_WAIT, seen, NULL, NULL, 0) != 0 && errno == EINTR) {
            result = -1;
            break;
        }
    }
    __atomic_sub_fetch(&s->waiters, 1, __ATOMIC_SEQ_CST);
    trace(end, TIOCMIWAIT, (int)start, (int)(modem_status(s, end) & watched));
    return result;
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

/* ---- ioctl ----------------------------------------------------------------- */

typedef int (*ioctl_fn)(int, unsigned long, ...);

static ioctl_fn next_ioctl(const char* name)
{
    ioctl_fn fn = (ioctl_fn)dlsym(RTLD_NEXT, name);
    if (fn == NULL) fn = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    return fn;
}

static int is_cable_request(unsigned long request)
{
    return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC ||
           request == TIOCMIWAIT || request == TIOCGSERIAL;
}

static int cable_request(struct nj_cable_state* cable, int end, unsigned long request, void* arg)
{
    switch (request) {
    case TIOCGSERIAL: return describe_serial_port(end, arg);
    case TIOCMIWAIT: return wait_for_change(cable, end, (unsigned long)(uintptr_t)arg);
    default: return modem_ioctl(cable, end, request, arg);
    }
}

static int cable_or_next(ioctl_fn* next, const char* name, int fd, unsigned long request, void* arg)
{
    if (is_cable_request(request)) {
        struct nj_cable_state* cable;
        int end;
        if (nj_find_end(fd, &cable, &end)) return cable_request(cable, end, request, arg);
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
