/* SPDX-License-Identifier: MIT */
/* Interposes the heap so that tests can fail the k-th allocation (or every allocation
   from the k-th on) and track leaks.
   The real functions are found with dlsym(RTLD_NEXT): glibc's in a plain build, the
   sanitizer runtime's in an ASan build. Only allocations made on the thread that armed
   the failure are counted, so a test server thread in the same process is left alone. */
#define _GNU_SOURCE
#include "alloc_fail.h"

#include <dlfcn.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>

static void *(*real_malloc)(size_t);
static void *(*real_calloc)(size_t, size_t);
static void *(*real_realloc)(void *, size_t);
static void (*real_free)(void *);

/* dlsym may allocate before the real functions are known. */
static _Alignas(16) char boot[8192];
static size_t boot_used;

static __thread int tl_armed;
/* Inside pthread_create: what glibc takes for the new thread's own bookkeeping (its TLS
   vector) stays in glibc's cache of thread stacks after the thread ends, so it is
   counted and may fail, but it is not tracked as the caller's. */
static __thread int tl_untracked;
/* Only the arming thread adds to the table, but any thread may free what it added
   (libcurl hands blocks to its resolver thread), so the table is locked. */
static char track_lock;
static long fail_at = -1;
static int fail_from; /* 1: every allocation from fail_at on fails, not only that one */
static long counted;
static int triggered;

#define TRACK_SLOTS (1u << 17)
#define TOMB ((void *)1)
static void *track[TRACK_SLOTS];
static long live;

static void resolve(void) {
    if (real_free) return;
    real_malloc = (void *(*)(size_t))dlsym(RTLD_NEXT, "malloc");
    real_calloc = (void *(*)(size_t, size_t))dlsym(RTLD_NEXT, "calloc");
    real_realloc = (void *(*)(void *, size_t))dlsym(RTLD_NEXT, "realloc");
    real_free = (void (*)(void *))dlsym(RTLD_NEXT, "free");
}

static int in_boot(const void *p) { return (const char *)p >= boot && (const char *)p < boot + sizeof boot; }

static void *boot_alloc(size_t n) {
    size_t need = (n + 15u) & ~(size_t)15u;
    if (boot_used + need > sizeof boot) return NULL;
    void *p = boot + boot_used;
    boot_used += need;
    memset(p, 0, n);
    return p;
}

static size_t slot_of(const void *p) { return (size_t)(((uintptr_t)p >> 4) * 2654435761u) & (TRACK_SLOTS - 1u); }

static void lock(void) {
    while (__atomic_test_and_set(&track_lock, __ATOMIC_ACQUIRE)) {
    }
}
static void unlock(void) { __atomic_clear(&track_lock, __ATOMIC_RELEASE); }

static void track_add(void *p) {
    lock();
    size_t i = slot_of(p);
    for (size_t n = 0; n < TRACK_SLOTS; ++n, i = (i + 1u) & (TRACK_SLOTS - 1u)) {
        if (track[i] == NULL || track[i] == TOMB) {
            track[i] = p;
            ++live;
            break;
        }
    }
    unlock();
}

static void track_remove(void *p) {
    if (__atomic_load_n(&live, __ATOMIC_RELAXED) == 0) return;
    lock();
    size_t i = slot_of(p);
    for (size_t n = 0; n < TRACK_SLOTS; ++n, i = (i + 1u) & (TRACK_SLOTS - 1u)) {
        if (track[i] == NULL) break;
        if (track[i] == p) {
            track[i] = TOMB;
            --live;
            break;
        }
    }
    unlock();
}

/* 1 when this allocation must fail. */
static int should_fail(void) {
    if (!tl_armed) return 0;
    long k = counted++;
    if (fail_at >= 0 && (k == fail_at || (fail_from && k > fail_at))) {
        triggered = 1;
        return 1;
    }
    return 0;
}

void *malloc(size_t n) {
    if (!real_malloc) {
        if (!real_free) {
            void *b = boot_alloc(n);
            resolve();
            if (!real_malloc) return b;
            if (b) return b;
        }
        if (!real_malloc) return boot_alloc(n);
    }
    if (should_fail()) return NULL;
    void *p = real_malloc(n);
    if (p && tl_armed && !tl_untracked) track_add(p);
    return p;
}

void *calloc(size_t a, size_t b) {
    if (!real_calloc) {
        static int resolving;
        if (resolving) return boot_alloc(a * b);
        resolving = 1;
        resolve();
        resolving = 0;
        if (!real_calloc) return boot_alloc(a * b);
    }
    if (should_fail()) return NULL;
    void *p = real_calloc(a, b);
    if (p && tl_armed && !tl_untracked) track_add(p);
    return p;
}

void *realloc(void *old, size_t n) {
    if (!real_realloc) resolve();
    if (old && in_boot(old)) {
        void *p = malloc(n);
        if (p) memcpy(p, old, n); /* boot blocks are small and never resized in practice */
        return p;
    }
    if (should_fail()) return NULL;
    void *p = real_realloc(old, n);
    if (p || n == 0) {
        if (old) track_remove(old);
        if (p && tl_armed && !tl_untracked) track_add(p);
    }
    return p;
}

void free(void *p) {
    if (!p || in_boot(p)) return;
    if (!real_free) resolve();
    track_remove(p);
    real_free(p);
}

typedef int (*create_fn)(pthread_t *restrict, const pthread_attr_t *restrict, void *(*)(void *), void *restrict);

int pthread_create(pthread_t *restrict thread, const pthread_attr_t *restrict attr, void *(*start)(void *),
                   void *restrict arg) {
    static create_fn real_create;
    if (!real_create) real_create = (create_fn)dlsym(RTLD_NEXT, "pthread_create");
    ++tl_untracked;
    const int rc = real_create(thread, attr, start, arg);
    --tl_untracked;
    return rc;
}

void tqtest_alloc_arm(long k) { tqtest_alloc_arm_mode(k, 0); }

void tqtest_alloc_arm_mode(long k, int from_on) {
    resolve();
    fail_at = k;
    fail_from = from_on;
    counted = 0;
    triggered = 0;
    tl_armed = 1;
}

void tqtest_alloc_disarm(void) { tl_armed = 0; }
long tqtest_alloc_count(void) { return counted; }
int tqtest_alloc_triggered(void) { return triggered; }
long tqtest_live_allocations(void) {
    lock();
    long n = live;
    unlock();
    return n;
}

void tqtest_alloc_reset_tracking(void) {
    lock();
    memset(track, 0, sizeof track);
    live = 0;
    unlock();
}

int tqtest_alloc_pause(void) {
    int was = tl_armed;
    tl_armed = 0;
    return was;
}

void tqtest_alloc_resume(int state) { tl_armed = state; }
