// SPDX-License-Identifier: MIT
// I/O-failure injection for the tests.
//
// A test executable that links io_fail.c interposes the calls a file is made, written,
// synced, renamed, closed and read with. While an IoFailure is alive, the calls of one
// kind made on the arming thread are counted; the k-th of them (0-based) fails - only
// that one, or every one from it on, as a disk that is full stays full - with the errno
// the kernel would give: EIO, ENOSPC for a write, ENOLCK for a lock. A failing close
// closes the descriptor first, as Linux does. Calls of the other kinds, and calls made
// on other threads (gtest's own output, a server thread), go through untouched.
#ifndef TQ_TEST_IO_FAIL_H
#define TQ_TEST_IO_FAIL_H

#ifdef __cplusplus
extern "C" {
#endif
/* The kinds, by what they do; each counts every spelling of its call. */
enum tqtest_io_kind {
    TQTEST_IO_OPEN,   /* open, open64, openat, openat64, mkstemp, mkostemp (and 64) */
    TQTEST_IO_WRITE,  /* write, pwrite, pwrite64 */
    TQTEST_IO_SYNC,   /* fsync, fdatasync */
    TQTEST_IO_RENAME, /* rename, renameat */
    TQTEST_IO_CLOSE,  /* close */
    TQTEST_IO_READ,   /* read, pread, pread64 */
    TQTEST_IO_LOCK,   /* flock */
    TQTEST_IO_STAT,   /* fstat, fstat64 */
    TQTEST_IO_KINDS
};
/* fail_at < 0: count only. from_on != 0: every call of the kind from fail_at on fails. */
void tqtest_io_arm(enum tqtest_io_kind kind, long fail_at, int from_on);
void tqtest_io_disarm(void);
/* Calls of the armed kind since the last arm. */
long tqtest_io_count(void);
/* 1 when the armed failure happened. */
int tqtest_io_triggered(void);
/* The open descriptors of the process: compare before and after to find a leak. */
int tqtest_open_fds(void);
const char *tqtest_io_kind_name(enum tqtest_io_kind kind);
#ifdef __cplusplus
}

namespace tqtest {
class IoFailure {
public:
    IoFailure(tqtest_io_kind kind, long fail_at, bool from_on = false) { tqtest_io_arm(kind, fail_at, from_on); }
    ~IoFailure() { tqtest_io_disarm(); }
    IoFailure(const IoFailure &) = delete;
    IoFailure &operator=(const IoFailure &) = delete;
    bool triggered() const { return tqtest_io_triggered() != 0; }
    long count() const { return tqtest_io_count(); }
};
inline int open_fds() { return tqtest_open_fds(); }
} // namespace tqtest
#endif

#endif
