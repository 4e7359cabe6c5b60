/* The virtual null-modem cable's shared state: one small file, mapped by the
 * cable daemon and by every process that runs with the preload library.
 *
 * The same layout is read by 64- and 32-bit processes (Wine's server and its
 * programs), so it holds only 32-bit fields. */
#ifndef NJ_CABLE_STATE_H
#define NJ_CABLE_STATE_H

#include <limits.h>
#include <stdint.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#define NJ_CABLE_MAGIC 0x4c42434eu /* "NCBL" */
#define NJ_CABLE_VERSION 2u
#define NJ_CABLE_PATH_MAX 64

/* Environment: the state files of the cables this process may touch,
 * separated by ':'. */
#define NJ_CABLE_STATE_ENV "NJ_CABLE_STATE"
/* Environment: set to 1 to let a process open real serial devices. */
#define NJ_CABLE_REAL_SERIAL_ENV "NJ_CABLE_ALLOW_REAL_SERIAL"
/* Environment: FROM=TO[,FROM=TO...]: opening the device path FROM opens
 * TO instead (a cable end's pty), for programs that only know the machine's
 * own device names. The refusal of real serial devices applies to TO. */
#define NJ_CABLE_REDIRECT_ENV "NJ_CABLE_REDIRECT"
/* Environment: set to 1 to log every modem-line call on a cable end. */
#define NJ_CABLE_TRACE_ENV "NJ_CABLE_TRACE"
/* Environment: set to 1 to answer TIOCMIWAIT with EINVAL, as a serial driver
 * without it does, so that a program's fallback can be tried. */
#define NJ_CABLE_NO_IWAIT_ENV "NJ_CABLE_NO_IWAIT"

struct nj_cable_end {
    uint32_t rdev_major; /* the end's pty slave, as fstat sees it */
    uint32_t rdev_minor;
    uint32_t outputs;    /* TIOCM_RTS | TIOCM_DTR this end asserts */
    char path[NJ_CABLE_PATH_MAX];
    uint32_t unplugged;  /* nonzero: the end's modem lines answer EIO, as a pulled USB adapter's do */
};

struct nj_cable_state {
    uint32_t magic;      /* written last: the other fields are valid once it is set */
    uint32_t version;
    uint32_t daemon_pid;
    struct nj_cable_end end[2];
    uint32_t changes;    /* counts every change of the lines or of an end's presence */
    uint32_t waiters;    /* TIOCMIWAIT calls blocked on changes */
};

/* Tells the cable's TIOCMIWAIT waiters, in any process, that something
 * changed. Called after the change is stored; the order of the count and the
 * waiter check pairs with the waiter's, so no wake-up is lost. */
static inline void nj_cable_changed(struct nj_cable_state* s)
{
    __atomic_add_fetch(&s->changes, 1, __ATOMIC_SEQ_CST);
    if (__atomic_load_n(&s->waiters, __ATOMIC_SEQ_CST) != 0)
        syscall(SYS_futex, &s->changes, FUTEX_WAKE, INT_MAX, NULL, NULL, 0);
}

#endif
