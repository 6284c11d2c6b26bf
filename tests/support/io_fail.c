/* SPDX-License-Identifier: MIT */
/* Interposes the file calls so that tests can fail the k-th call of one kind (or every
   call of it from the k-th on). Every spelling of a call is defined here: glibc's
   64-bit aliases, and mkstemp and mkostemp by name, since glibc opens their file with
   an internal call no interposer sees. The real functions come from dlsym(RTLD_NEXT),
   as in alloc_fail.c. Only calls on the thread that armed the failure are counted. */
#define _GNU_SOURCE
#undef _FORTIFY_SOURCE /* its inline wrappers would clash with the definitions here */
#include "io_fail.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static __thread int tl_armed;
static enum tqtest_io_kind armed_kind;
static long fail_at = -1;
static int fail_from;
static long counted;
static int triggered;

/* The next definition of fn, found once. */
#define REAL(fn)                                                                                                       \
  static __typeof__(fn) *real_##fn;                                                                                    \
  if (!real_##fn) real_##fn = (__typeof__(fn) *)dlsym(RTLD_NEXT, #fn)

/* 1 when this call must fail: it is of the armed kind, on the arming thread, and the
   one (or past the one) chosen. */
static int should_fail(enum tqtest_io_kind kind) {
    if (!tl_armed || kind != armed_kind) return 0;
    const long k = counted++;
    if (fail_at >= 0 && (k == fail_at || (fail_from && k > fail_at))) {
        triggered = 1;
        return 1;
    }
    return 0;
}

static int fail(int err) {
    errno = err;
    return -1;
}

/* The mode argument exists only for these flags. */
#define NEEDS_MODE(flags) (((flags)&O_CREAT) || ((flags)&O_TMPFILE) == O_TMPFILE)
#define MODE_ARG(flags, mode)                                                                                          \
  mode_t mode = 0;                                                                                                     \
  if (NEEDS_MODE(flags)) {                                                                                             \
    va_list ap;                                                                                                        \
    va_start(ap, flags);                                                                                               \
    mode = (mode_t)va_arg(ap, int);                                                                                    \
    va_end(ap);                                                                                                        \
  }

int open(const char *path, int flags, ...) {
    REAL(open);
    MODE_ARG(flags, mode);
    return should_fail(TQTEST_IO_OPEN) ? fail(EIO) : real_open(path, flags, mode);
}

int open64(const char *path, int flags, ...) {
    REAL(open64);
    MODE_ARG(flags, mode);
    return should_fail(TQTEST_IO_OPEN) ? fail(EIO) : real_open64(path, flags, mode);
}

int openat(int dir, const char *path, int flags, ...) {
    REAL(openat);
    MODE_ARG(flags, mode);
    return should_fail(TQTEST_IO_OPEN) ? fail(EIO) : real_openat(dir, path, flags, mode);
}

int openat64(int dir, const char *path, int flags, ...) {
    REAL(openat64);
    MODE_ARG(flags, mode);
    return should_fail(TQTEST_IO_OPEN) ? fail(EIO) : real_openat64(dir, path, flags, mode);
}

int mkstemp(char *tmpl) {
    REAL(mkstemp);
    return should_fail(TQTEST_IO_OPEN) ? fail(EIO) : real_mkstemp(tmpl);
}

int mkstemp64(char *tmpl) {
    REAL(mkstemp64);
    return should_fail(TQTEST_IO_OPEN) ? fail(EIO) : real_mkstemp64(tmpl);
}

int mkostemp(char *tmpl, int flags) {
    REAL(mkostemp);
    return should_fail(TQTEST_IO_OPEN) ? fail(EIO) : real_mkostemp(tmpl, flags);
}

int mkostemp64(char *tmpl, int flags) {
    REAL(mkostemp64);
    return should_fail(TQTEST_IO_OPEN) ? fail(EIO) : real_mkostemp64(tmpl, flags);
}

ssize_t write(int fd, const void *buf, size_t n) {
    REAL(write);
    return should_fail(TQTEST_IO_WRITE) ? fail(ENOSPC) : real_write(fd, buf, n);
}

ssize_t pwrite(int fd, const void *buf, size_t n, off_t at) {
    REAL(pwrite);
    return should_fail(TQTEST_IO_WRITE) ? fail(ENOSPC) : real_pwrite(fd, buf, n, at);
}

ssize_t pwrite64(int fd, const void *buf, size_t n, off64_t at) {
    REAL(pwrite64);
    return should_fail(TQTEST_IO_WRITE) ? fail(ENOSPC) : real_pwrite64(fd, buf, n, at);
}

int fsync(int fd) {
    REAL(fsync);
    return should_fail(TQTEST_IO_SYNC) ? fail(EIO) : real_fsync(fd);
}

int fdatasync(int fd) {
    REAL(fdatasync);
    return should_fail(TQTEST_IO_SYNC) ? fail(EIO) : real_fdatasync(fd);
}

int rename(const char *from, const char *to) {
    REAL(rename);
    return should_fail(TQTEST_IO_RENAME) ? fail(EIO) : real_rename(from, to);
}

int renameat(int from_dir, const char *from, int to_dir, const char *to) {
    REAL(renameat);
    return should_fail(TQTEST_IO_RENAME) ? fail(EIO) : real_renameat(from_dir, from, to_dir, to);
}

/* Linux releases the descriptor even when close reports an error. */
int close(int fd) {
    REAL(close);
    const int rc = real_close(fd);
    return should_fail(TQTEST_IO_CLOSE) && rc == 0 ? fail(EIO) : rc;
}

ssize_t read(int fd, void *buf, size_t n) {
    REAL(read);
    return should_fail(TQTEST_IO_READ) ? fail(EIO) : real_read(fd, buf, n);
}

ssize_t pread(int fd, void *buf, size_t n, off_t at) {
    REAL(pread);
    return should_fail(TQTEST_IO_READ) ? fail(EIO) : real_pread(fd, buf, n, at);
}

ssize_t pread64(int fd, void *buf, size_t n, off64_t at) {
    REAL(pread64);
    return should_fail(TQTEST_IO_READ) ? fail(EIO) : real_pread64(fd, buf, n, at);
}

int flock(int fd, int op) {
    REAL(flock);
    return should_fail(TQTEST_IO_LOCK) ? fail(ENOLCK) : real_flock(fd, op);
}

int fstat(int fd, struct stat *st) {
    REAL(fstat);
    return should_fail(TQTEST_IO_STAT) ? fail(EIO) : real_fstat(fd, st);
}

int fstat64(int fd, struct stat64 *st) {
    REAL(fstat64);
    return should_fail(TQTEST_IO_STAT) ? fail(EIO) : real_fstat64(fd, st);
}

void tqtest_io_arm(enum tqtest_io_kind kind, long k, int from_on) {
    armed_kind = kind;
    fail_at = k;
    fail_from = from_on;
    counted = 0;
    triggered = 0;
    tl_armed = 1;
}

void tqtest_io_disarm(void) { tl_armed = 0; }
long tqtest_io_count(void) { return counted; }
int tqtest_io_triggered(void) { return triggered; }

int tqtest_open_fds(void) {
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    int n = 0;
    for (const struct dirent *e; (e = readdir(d)) != NULL;) n += e->d_name[0] != '.';
    closedir(d);
    return n - 1; /* the listing's own */
}

const char *tqtest_io_kind_name(enum tqtest_io_kind kind) {
    static const char *const names[TQTEST_IO_KINDS] = {"open",  "write", "sync", "rename",
                                                       "close", "read",  "lock", "stat"};
    return (unsigned)kind < TQTEST_IO_KINDS ? names[kind] : "?";
}
