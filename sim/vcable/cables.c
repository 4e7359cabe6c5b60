/* Finding the cables named by NJ_CABLE_STATE and the end a descriptor is. */
#define _GNU_SOURCE
#include "preload.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#define MAX_CABLES 8

static pthread_mutex_t cables_lock = PTHREAD_MUTEX_INITIALIZER;
static struct nj_cable_state* cables[MAX_CABLES];
static int cable_count;       /* mapped so far; only grows */
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

int nj_find_end(int fd, struct nj_cable_state** cable, int* end)
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
