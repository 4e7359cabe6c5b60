/* The preload library as a process sees it: run with
 *   LD_PRELOAD='<dir>/$LIB/libnjcable.so' preload_test <path of njcable>
 * Built for 64 and 32 bits; the 32-bit build uses 64-bit time_t, so its
 * ioctls arrive through __ioctl_time64 as Wine's do. */
#define _GNU_SOURCE
#include "cable_state.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <pthread.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static int failures;

#define CHECK(cond)                                                                 \
    do {                                                                            \
        if (!(cond)) {                                                              \
            fprintf(stderr, "%s:%d: check failed: %s (errno %d)\n", __FILE__, __LINE__, #cond, errno); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

#define WIRES (TIOCM_CTS | TIOCM_DSR)

struct cable {
    pid_t daemon;
    char dir[64];
    char state[128];
    int end[2];
    const char* njcable;
    const struct nj_cable_state* shared; /* to see when a waiter is blocked */
};

static void start_cable(struct cable* c, const char* njcable)
{
    snprintf(c->dir, sizeof(c->dir), "/tmp/njcable-test.XXXXXX");
    if (mkdtemp(c->dir) == NULL) exit(2);
    snprintf(c->state, sizeof(c->state), "%s/state", c->dir);
    int out[2];
    if (pipe(out) != 0) exit(2);
    c->daemon = fork();
    if (c->daemon == 0) {
        char parent[16];
        snprintf(parent, sizeof(parent), "%d", (int)getppid());
        dup2(out[1], 1);
        execl(njcable, njcable, "--parent", parent, c->state, (char*)NULL);
        _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char path[2][NJ_CABLE_PATH_MAX];
    for (int e = 0; e < 2; ++e) {
        if (fgets(path[e], sizeof(path[e]), lines) == NULL) {
            fprintf(stderr, "njcable did not start\n");
            exit(2);
        }
        path[e][strcspn(path[e], "\n")] = '\0';
    }
    fclose(lines);
    for (int i = 0; i < 500 && access(c->state, F_OK) != 0; ++i) usleep(10000);
    setenv(NJ_CABLE_STATE_ENV, c->state, 1);
    for (int e = 0; e < 2; ++e) {
        c->end[e] = open(path[e], O_RDWR | O_NOCTTY);
        if (c->end[e] < 0) exit(2);
    }
    c->njcable = njcable;
    const int fd = open(c->state, O_RDONLY);
    void* mem = fd < 0 ? MAP_FAILED : mmap(NULL, sizeof(struct nj_cable_state), PROT_READ, MAP_SHARED, fd, 0);
    if (mem == MAP_FAILED) exit(2);
    close(fd);
    c->shared = mem;
}

static void stop_cable(struct cable* c)
{
    close(c->end[1]);
    kill(c->daemon, SIGTERM);
    waitpid(c->daemon, NULL, 0);
    CHECK(access(c->state, F_OK) != 0); /* the daemon removes its state */
    int bits = 0;
    CHECK(ioctl(c->end[0], TIOCMGET, &bits) == -1 && errno == EIO); /* and the ends read as unplugged */
    close(c->end[0]);
    munmap((void*)c->shared, sizeof(struct nj_cable_state));
    rmdir(c->dir);
}

static int lines(int fd)
{
    int bits = -1;
    CHECK(ioctl(fd, TIOCMGET, &bits) == 0);
    return bits;
}

static void set(int fd, unsigned long request, int bits)
{
    CHECK(ioctl(fd, request, &bits) == 0);
}

static void test_fresh_cable_has_both_wires_released(struct cable* c)
{
    for (int e = 0; e < 2; ++e) CHECK(lines(c->end[e]) == (TIOCM_RTS | TIOCM_DTR | WIRES));
}

static void test_either_end_pulls_a_wire_for_both(struct cable* c)
{
    set(c->end[0], TIOCMBIC, TIOCM_RTS); /* end 0 pulls wire A */
    CHECK((lines(c->end[0]) & WIRES) == TIOCM_DSR);
    CHECK((lines(c->end[1]) & WIRES) == TIOCM_DSR);
    set(c->end[1], TIOCMBIC, TIOCM_RTS); /* both pull it */
    set(c->end[0], TIOCMBIS, TIOCM_RTS); /* end 1 still does */
    CHECK((lines(c->end[0]) & WIRES) == TIOCM_DSR);
    set(c->end[1], TIOCMBIS, TIOCM_RTS);
    CHECK((lines(c->end[0]) & WIRES) == WIRES);

    set(c->end[1], TIOCMBIC, TIOCM_DTR); /* wire B from the other side */
    CHECK((lines(c->end[0]) & WIRES) == TIOCM_CTS);
    CHECK(lines(c->end[1]) == (TIOCM_RTS | TIOCM_CTS));
    set(c->end[1], TIOCMBIS, TIOCM_DTR);
    CHECK((lines(c->end[1]) & WIRES) == WIRES);
}

static void test_tiocmset_keeps_only_the_outputs(struct cable* c)
{
    /* As Wine does it: read everything, change one output, write it all back. */
    int bits = lines(c->end[0]);
    bits &= ~TIOCM_RTS;
    bits |= TIOCM_CAR | TIOCM_RNG;
    set(c->end[0], TIOCMSET, bits);
    CHECK(lines(c->end[0]) == (TIOCM_DTR | TIOCM_DSR));
    CHECK(lines(c->end[1]) == (TIOCM_RTS | TIOCM_DTR | TIOCM_DSR));

    /* Inputs written back while pulled by the far end do not stick either. */
    set(c->end[1], TIOCMSET, TIOCM_RTS | TIOCM_CTS | TIOCM_DSR);
    set(c->end[0], TIOCMSET, TIOCM_RTS | TIOCM_DTR);
    CHECK(lines(c->end[0]) == (TIOCM_RTS | TIOCM_DTR | TIOCM_CTS));
    set(c->end[1], TIOCMSET, TIOCM_RTS | TIOCM_DTR);
    CHECK(lines(c->end[0]) == (TIOCM_RTS | TIOCM_DTR | WIRES));
}

static void test_everything_else_passes_through(struct cable* c)
{
    struct winsize ws;
    CHECK(ioctl(c->end[0], TIOCGWINSZ, &ws) == 0);

    /* A pty that is not a cable end has no modem lines: the kernel says so. */
    const int other = posix_openpt(O_RDWR | O_NOCTTY);
    CHECK(other >= 0);
    int bits = 0;
    errno = 0;
    CHECK(ioctl(other, TIOCMGET, &bits) == -1 && errno != 0);
    close(other);

    int pipe_fds[2];
    CHECK(pipe(pipe_fds) == 0);
    CHECK(write(pipe_fds[1], "abc", 3) == 3);
    int pending = 0;
    CHECK(ioctl(pipe_fds[0], FIONREAD, &pending) == 0 && pending == 3);
    close(pipe_fds[0]);
    close(pipe_fds[1]);

    CHECK(ioctl(c->end[0], TIOCMGET, NULL) == -1 && errno == EFAULT);
}

/* ---- TIOCMIWAIT ---- */

struct waiter {
    pthread_t thread;
    int fd;
    int result;
    int error;
    int done;
};

static void* wait_for_lines(void* arg)
{
    struct waiter* w = arg;
    w->result = ioctl(w->fd, TIOCMIWAIT, (unsigned long)WIRES);
    w->error = errno;
    __atomic_store_n(&w->done, 1, __ATOMIC_SEQ_CST);
    return NULL;
}

/* Starts a TIOCMIWAIT on the end and returns once it is blocked. */
static void start_waiter(struct cable* c, struct waiter* w, int end)
{
    const uint32_t before = __atomic_load_n(&c->shared->waiters, __ATOMIC_SEQ_CST);
    w->fd = c->end[end];
    w->result = 1;
    w->done = 0;
    CHECK(pthread_create(&w->thread, NULL, wait_for_lines, w) == 0);
    while (__atomic_load_n(&c->shared->waiters, __ATOMIC_SEQ_CST) == before) usleep(200);
}

static void on_signal(int sig)
{
    (void)sig;
}

static void run_njcable(struct cable* c, const char* what, const char* end)
{
    const pid_t child = fork();
    if (child == 0) {
        execl(c->njcable, c->njcable, what, end, c->state, (char*)NULL);
        _exit(127);
    }
    int status = -1;
    CHECK(waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

static void test_tiocmiwait_wakes_on_a_change_and_is_interruptible(struct cable* c)
{
    struct waiter w;
    start_waiter(c, &w, 0);
    set(c->end[1], TIOCMBIC, TIOCM_DTR); /* the far end pulls wire B */
    pthread_join(w.thread, NULL);
    CHECK(w.result == 0);
    set(c->end[1], TIOCMBIS, TIOCM_DTR);

    /* A change of a line outside the mask wakes nobody; a signal does. */
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = on_signal;
    sigaction(SIGUSR1, &sa, NULL);
    start_waiter(c, &w, 0);
    int bits = TIOCM_RTS | TIOCM_DTR;
    CHECK(ioctl(c->end[1], TIOCMSET, &bits) == 0);
    /* Again and again, as a timer would: one handled while the call is
     * between two looks at the cable does not end it. */
    while (!__atomic_load_n(&w.done, __ATOMIC_SEQ_CST)) {
        pthread_kill(w.thread, SIGUSR1);
        usleep(1000);
    }
    pthread_join(w.thread, NULL);
    CHECK(w.result == -1 && w.error == EINTR);

    /* Pulling the adapter out wakes the waiter with EIO, as it does the lines. */
    /* Pulled out while it pulls a wire, it pulls it no longer. */
    set(c->end[1], TIOCMBIC, TIOCM_RTS);
    start_waiter(c, &w, 1);
    run_njcable(c, "--unplug", "1");
    pthread_join(w.thread, NULL);
    CHECK(w.result == -1 && w.error == EIO);
    bits = 0;
    CHECK(ioctl(c->end[1], TIOCMGET, &bits) == -1 && errno == EIO);
    CHECK(ioctl(c->end[1], TIOCMBIC, &bits) == -1 && errno == EIO);
    CHECK(lines(c->end[0]) == (TIOCM_RTS | TIOCM_DTR | WIRES)); /* the other end is still there, both released */
    run_njcable(c, "--plug", "1");
    CHECK(lines(c->end[1]) == (TIOCM_RTS | TIOCM_DTR | WIRES)); /* back in, fresh: it pulls nothing */

    /* A driver without TIOCMIWAIT says EINVAL; programs fall back to polling. */
    setenv(NJ_CABLE_NO_IWAIT_ENV, "1", 1);
    CHECK(ioctl(c->end[0], TIOCMIWAIT, (unsigned long)WIRES) == -1 && errno == EINVAL);
    unsetenv(NJ_CABLE_NO_IWAIT_ENV);
}

static void expect_refused(int fd)
{
    CHECK(fd == -1 && errno == EACCES);
    if (fd >= 0) close(fd);
}

static void test_real_serial_devices_are_refused(void)
{
    expect_refused(open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK));
    expect_refused(openat(AT_FDCWD, "/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK));
    expect_refused(open("/dev/ttyUSB7", O_RDWR | O_NOCTTY | O_NONBLOCK));
    expect_refused(open("/dev/ttyACM7", O_RDONLY));

    /* The way Wine reaches a port: a dosdevices link. */
    char dir[] = "/tmp/njcable-link.XXXXXX";
    CHECK(mkdtemp(dir) != NULL);
    char link[64];
    snprintf(link, sizeof(link), "%s/com1", dir);
    CHECK(symlink("/dev/ttyS0", link) == 0);
    expect_refused(open(link, O_RDWR | O_NOCTTY | O_NONBLOCK));
    unlink(link);
    rmdir(dir);

    /* Opting in lets the open through (to a device that does not exist). */
    setenv(NJ_CABLE_REAL_SERIAL_ENV, "1", 1);
    const int fd = open("/dev/ttyUSB7", O_RDWR | O_NOCTTY | O_NONBLOCK);
    CHECK(fd == -1 && errno == ENOENT);
    unsetenv(NJ_CABLE_REAL_SERIAL_ENV);

    const int ordinary = open("/dev/null", O_RDONLY);
    CHECK(ordinary >= 0);
    close(ordinary);
}

/* Run in a child started with NJ_CABLE_REDIRECT naming a cable end: the
 * library reads the redirects once, from the environment it starts with. */
static int check_redirects(void)
{
    const int fd = open("/dev/ttyS3", O_RDWR | O_NOCTTY);
    CHECK(fd >= 0);
    struct serial_struct info;
    CHECK(ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_16550A);
    int bits = 0;
    CHECK(ioctl(fd, TIOCMGET, &bits) == 0); /* a cable end, with its lines */
    close(fd);
    CHECK(access("/dev/ttyS3", R_OK | W_OK) == 0);
    /* A redirect to real hardware is refused like the device itself. */
    expect_refused(open("/dev/ttyS2", O_RDWR | O_NOCTTY | O_NONBLOCK));
    return failures;
}

static void test_device_names_redirect_to_cable_ends(struct cable* c, const char* self)
{
    char link[64], end[NJ_CABLE_PATH_MAX], redirects[2 * NJ_CABLE_PATH_MAX + 32];
    snprintf(link, sizeof(link), "/proc/self/fd/%d", c->end[1]);
    const ssize_t n = readlink(link, end, sizeof(end) - 1);
    CHECK(n > 0);
    end[n > 0 ? n : 0] = '\0';
    snprintf(redirects, sizeof(redirects), "/dev/ttyS3=%s,/dev/ttyS2=/dev/ttyS0", end);
    const pid_t child = fork();
    if (child == 0) {
        setenv(NJ_CABLE_REDIRECT_ENV, redirects, 1);
        execl(self, self, "--check-redirects", (char*)NULL);
        _exit(127);
    }
    int status = -1;
    CHECK(waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "--check-redirects") == 0) return check_redirects();
    if (argc != 2) {
        fprintf(stderr, "usage: preload_test NJCABLE\n");
        return 2;
    }
    /* Without the library the refusal tests would open a real port. */
    if (dlsym(RTLD_DEFAULT, "nj_cable_preload_version") == NULL) {
        fprintf(stderr, "libnjcable.so is not preloaded (LD_PRELOAD=%s)\n", getenv("LD_PRELOAD"));
        return 1;
    }
    test_real_serial_devices_are_refused();

    struct cable c;
    start_cable(&c, argv[1]);
    test_fresh_cable_has_both_wires_released(&c);
    test_either_end_pulls_a_wire_for_both(&c);
    test_tiocmset_keeps_only_the_outputs(&c);
    test_everything_else_passes_through(&c);
    test_tiocmiwait_wakes_on_a_change_and_is_interruptible(&c);
    test_device_names_redirect_to_cable_ends(&c, argv[0]);
    stop_cable(&c);

    printf("%s: %d failure(s)\n", sizeof(void*) == 8 ? "64-bit" : "32-bit", failures);
    return failures == 0 ? 0 : 1;
}
