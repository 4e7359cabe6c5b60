/* njcable: creates one virtual null-modem cable and keeps it alive.
 *
 *   njcable [--daemon] [--parent PID] STATE_FILE
 *       Creates two ptys (the cable's ends), writes the cable's shared state
 *       to STATE_FILE and prints the two end paths, one a line, then the
 *       daemon's pid. Runs until SIGTERM or SIGINT, or until PID is gone,
 *       then removes STATE_FILE. With --daemon it goes to the background
 *       once the cable is ready.
 *   njcable --show STATE_FILE
 *       Prints what each end drives and reads.
 *   njcable --unplug END STATE_FILE, njcable --plug END STATE_FILE
 *       Unplugs end 0 or 1 (its modem lines answer EIO, as a USB adapter's
 *       do once pulled out, and it pulls no wire) or plugs it back in
 *       (pulling nothing until a program sets its lines). A cable whose daemon has
 *       ended reads as unplugged at both ends.
 *
 * Processes see the cable's modem lines through the preload library
 * (libnjcable.so) with NJ_CABLE_STATE=STATE_FILE in their environment. */
#define _GNU_SOURCE
#include "cable_state.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

static volatile sig_atomic_t stop_requested;

static void on_stop_signal(int sig)
{
    (void)sig;
    stop_requested = 1;
}

static void die(const char* what)
{
    fprintf(stderr, "njcable: %s: %s\n", what, strerror(errno));
    exit(1);
}

struct end_fds {
    int master;
    int slave; /* held open so the master never sees a hang-up between users */
};

static void open_end(struct end_fds* fds, struct nj_cable_end* end)
{
    fds->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fds->master < 0) die("posix_openpt");
    if (grantpt(fds->master) != 0 || unlockpt(fds->master) != 0) die("unlockpt");
    char path[NJ_CABLE_PATH_MAX];
    if (ptsname_r(fds->master, path, sizeof(path)) != 0) die("ptsname");
    fds->slave = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fds->slave < 0) die(path);
    struct termios tio;
    if (tcgetattr(fds->slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fds->slave, TCSANOW, &tio);
    }
    struct stat st;
    if (fstat(fds->slave, &st) != 0) die("fstat");
    end->rdev_major = major(st.st_rdev);
    end->rdev_minor = minor(st.st_rdev);
    end->outputs = TIOCM_RTS | TIOCM_DTR; /* both wires released */
    snprintf(end->path, sizeof(end->path), "%s", path);
}

/* Written under a temporary name and renamed, so that a reader finds either
 * no file or a complete one. */
static struct nj_cable_state* write_state(const char* path, const struct nj_cable_state* state)
{
    char tmp[4096];
    snprintf(tmp, sizeof(tmp), "%s.tmp%d", path, (int)getpid());
    const int fd = open(tmp, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) die(tmp);
    if (ftruncate(fd, sizeof(*state)) != 0) die("ftruncate");
    struct nj_cable_state* mapped =
        mmap(NULL, sizeof(*state), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) die("mmap");
    close(fd);
    *mapped = *state;
    mapped->magic = 0;
    __atomic_store_n(&mapped->magic, NJ_CABLE_MAGIC, __ATOMIC_RELEASE);
    if (rename(tmp, path) != 0) die("rename");
    return mapped; /* the mapping stays, for as long as the daemon runs */
}

/* An end pulled out drives nothing, and comes back in driving nothing until
 * a program sets its lines, as a fresh adapter does. */
static void set_unplugged(struct nj_cable_state* s, int end, int value)
{
    if (value) __atomic_store_n(&s->end[end].outputs, (uint32_t)(TIOCM_RTS | TIOCM_DTR), __ATOMIC_RELEASE);
    __atomic_store_n(&s->end[end].unplugged, (uint32_t)value, __ATOMIC_RELEASE);
    nj_cable_changed(s);
}

static int plug(const char* end_text, const char* path, int unplugged)
{
    const int end = atoi(end_text);
    if ((strcmp(end_text, "0") != 0 && strcmp(end_text, "1") != 0)) {
        fprintf(stderr, "njcable: END is 0 or 1, not %s\n", end_text);
        return 2;
    }
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) die(path);
    struct nj_cable_state* s = mmap(NULL, sizeof(*s), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (s == MAP_FAILED) die("mmap");
    if (__atomic_load_n(&s->magic, __ATOMIC_ACQUIRE) != NJ_CABLE_MAGIC || s->version != NJ_CABLE_VERSION) {
        fprintf(stderr, "njcable: %s is not a cable\n", path);
        return 1;
    }
    set_unplugged(s, end, unplugged);
    munmap(s, sizeof(*s));
    return 0;
}

static void drain(int fd)
{
    char buf[4096];
    while (read(fd, buf, sizeof(buf)) > 0) {
    }
}

static int parent_gone(pid_t parent)
{
    return parent > 0 && kill(parent, 0) != 0 && errno == ESRCH;
}

static void serve(struct end_fds fds[2], pid_t parent)
{
    struct pollfd pfd[2] = {{fds[0].master, POLLIN, 0}, {fds[1].master, POLLIN, 0}};
    while (!stop_requested && !parent_gone(parent)) {
        const int n = poll(pfd, 2, 1000);
        if (n < 0 && errno != EINTR) die("poll");
        for (int i = 0; i < 2 && n > 0; ++i) {
            if (pfd[i].revents & POLLIN) drain(pfd[i].fd);
            if (pfd[i].revents & (POLLHUP | POLLERR)) usleep(10000);
        }
    }
}

static int show(const char* path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) die(path);
    struct nj_cable_state s;
    if (read(fd, &s, sizeof(s)) != (ssize_t)sizeof(s) || s.magic != NJ_CABLE_MAGIC) {
        fprintf(stderr, "njcable: %s is not a cable\n", path);
        return 1;
    }
    const uint32_t both = s.end[0].outputs & s.end[1].outputs;
    for (int e = 0; e < 2; ++e) {
        const uint32_t out = s.end[e].outputs;
        printf("end %d %s: drives A %s, B %s\n", e, s.end[e].path, (out & TIOCM_RTS) ? "released" : "pulled",
               (out & TIOCM_DTR) ? "released" : "pulled");
    }
    printf("wire A %s, wire B %s (daemon %u)\n", (both & TIOCM_RTS) ? "released" : "pulled",
           (both & TIOCM_DTR) ? "released" : "pulled", s.daemon_pid);
    return 0;
}

static int usage(void)
{
    fprintf(stderr, "usage: njcable [--daemon] [--parent PID] STATE_FILE\n"
                    "       njcable --show STATE_FILE\n"
                    "       njcable --unplug|--plug END STATE_FILE\n");
    return 2;
}

int main(int argc, char** argv)
{
    int daemonize = 0;
    pid_t parent = 0;
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
        if (strcmp(argv[i], "--daemon") == 0) {
            daemonize = 1;
        } else if (strcmp(argv[i], "--parent") == 0 && i + 1 < argc) {
            parent = (pid_t)atoi(argv[++i]);
        } else if (strcmp(argv[i], "--show") == 0 && i + 2 == argc) {
            return show(argv[i + 1]);
        } else if ((strcmp(argv[i], "--unplug") == 0 || strcmp(argv[i], "--plug") == 0) && i + 3 == argc) {
            return plug(argv[i + 1], argv[i + 2], strcmp(argv[i], "--unplug") == 0);
        } else {
            return usage();
        }
    }
    if (i + 1 != argc) return usage();
    const char* state_path = argv[i];

    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = on_stop_signal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    if (daemonize) {
        const pid_t child = fork();
        if (child < 0) die("fork");
        if (child > 0) {
            /* The parent reports once the child has the cable up. */
            for (int tries = 0; tries < 500; ++tries) {
                if (access(state_path, F_OK) == 0) return 0;
                if (waitpid(child, NULL, WNOHANG) == child) return 1;
                usleep(10000);
            }
            fprintf(stderr, "njcable: the cable did not come up\n");
            return 1;
        }
        setsid();
    }

    struct nj_cable_state state;
    memset(&state, 0, sizeof(state));
    struct end_fds fds[2];
    open_end(&fds[0], &state.end[0]);
    open_end(&fds[1], &state.end[1]);
    for (int e = 0; e < 2; ++e) fcntl(fds[e].master, F_SETFL, O_NONBLOCK);
    state.version = NJ_CABLE_VERSION;
    state.daemon_pid = (uint32_t)getpid();

    printf("%s\n%s\n%d\n", state.end[0].path, state.end[1].path, (int)getpid());
    fflush(stdout);
    struct nj_cable_state* shared = write_state(state_path, &state);
    if (daemonize) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        close(null);
    }

    serve(fds, parent);
    unlink(state_path);
    /* Whoever still uses an end learns that the cable is gone. */
    set_unplugged(shared, 0, 1);
    set_unplugged(shared, 1, 1);
    return 0;
}
