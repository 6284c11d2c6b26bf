// SPDX-License-Identifier: MIT
// Allocation-failure injection for the tests.
//
// The test executables interpose malloc, calloc, realloc and free (alloc_fail.c).
// While an AllocFailure is alive, allocations made on the arming thread are counted;
// the k-th of them (0-based) fails - only that one, or every one from it on, as memory
// that has run out stays out - and every pointer they return is tracked until it is
// freed, so a test can prove that a failing path released everything it took. What
// glibc takes inside pthread_create for a new thread (kept in its cache of thread stacks
// after the thread ends) is counted and may fail, but is not tracked.
#ifndef TQ_TEST_ALLOC_FAIL_H
#define TQ_TEST_ALLOC_FAIL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif
/* fail_at < 0: count and track only. */
void tqtest_alloc_arm(long fail_at);
/* from_on != 0: every allocation from fail_at on fails. */
void tqtest_alloc_arm_mode(long fail_at, int from_on);
void tqtest_alloc_disarm(void);
/* Allocations counted since the last arm. */
long tqtest_alloc_count(void);
/* 1 when the armed failure happened (the first one, in the from-on mode). */
int tqtest_alloc_triggered(void);
/* Tracked pointers not yet freed (across windows, until tqtest_alloc_reset_tracking). */
long tqtest_live_allocations(void);
void tqtest_alloc_reset_tracking(void);
/* Suspends counting, failing and tracking on this thread (test-side bookkeeping inside
   a backend, say); returns the previous state for tqtest_alloc_resume. */
int tqtest_alloc_pause(void);
void tqtest_alloc_resume(int state);
#ifdef __cplusplus
}

namespace tqtest {
enum class FailMode { Once, AllFrom };
inline constexpr FailMode kFailModes[] = {FailMode::Once, FailMode::AllFrom};
inline const char *mode_name(FailMode m) { return m == FailMode::Once ? "fail once" : "fail from then on"; }

class AllocFailure {
public:
    explicit AllocFailure(long fail_at, FailMode mode = FailMode::Once) {
        tqtest_alloc_arm_mode(fail_at, mode == FailMode::AllFrom);
    }
    ~AllocFailure() { tqtest_alloc_disarm(); }
    AllocFailure(const AllocFailure &) = delete;
    AllocFailure &operator=(const AllocFailure &) = delete;
    bool triggered() const { return tqtest_alloc_triggered() != 0; }
    long count() const { return tqtest_alloc_count(); }
};
// Test-side allocations inside an armed window (recording requests in a scripted
// backend) neither count nor fail while one of these is alive.
class AllocPause {
public:
    AllocPause() : state_(tqtest_alloc_pause()) {}
    ~AllocPause() { tqtest_alloc_resume(state_); }
    AllocPause(const AllocPause &) = delete;
    AllocPause &operator=(const AllocPause &) = delete;

private:
    int state_;
};
inline long live_allocations() { return tqtest_live_allocations(); }
inline void reset_tracking() { tqtest_alloc_reset_tracking(); }

// Runs call() with the 1st, 2nd, 3rd... allocation failing (with every later one too in
// AllFrom mode), until a run in which the armed allocation was never reached;
// check(status, k, hit) runs after each call with injection off. Returns the number of
// runs in which an allocation failed.
template <typename Call, typename Check>
long each_allocation_failure(Call call, Check check, FailMode mode = FailMode::Once) {
    for (long k = 0;; ++k) {
        bool hit;
        {
            AllocFailure fail(k, mode);
            auto st = call();
            hit = fail.triggered();
            tqtest_alloc_disarm();
            check(st, k, hit);
        }
        if (!hit) return k;
        if (k > 100000) return k; // runaway guard
    }
}
} // namespace tqtest
#endif

#endif
