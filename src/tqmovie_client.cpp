// SPDX-License-Identifier: MIT
// tqmovie_client: clients and which one is current on each thread, cancellation and
// the progress callback's setting.
//
// A thread's current client is a thread-local pointer (see client() in tq_internal.h):
// it lives and dies with its thread, and a forked child keeps the forking thread's.
#include "tq_internal.h"

#include <new>

constinit tqmovie_client tq_global_client{&g_tq, {}, {}};
__thread tqmovie_client *tq_current = &tq_global_client;

extern "C" {

tqmovie_client *tqmovie_client_new(void) {
    void *p = std::calloc(1, sizeof(tqmovie_client));
    if (!p) return nullptr;
    auto *c = new (p) tqmovie_client{};
    c->st = &c->own;
    return c;
}

void tqmovie_client_free(tqmovie_client *c) {
    if (!c || c == &tq_global_client) return;
    // Empty it through the usual calls, with c current on this thread for the while.
    tqmovie_client *prev = tqmovie_use(c);
    tq_clear_results();
    tqmovie_cache_clear();
    tqmovie_use(prev == c ? nullptr : prev);
    c->~tqmovie_client();
    std::free(c);
}

tqmovie_client *tqmovie_use(tqmovie_client *c) {
    tqmovie_client *prev = tqmovie_current();
    tq_current = c ? c : &tq_global_client;
    return prev;
}

tqmovie_client *tqmovie_current(void) {
    tqmovie_client *c = &client();
    return c == &tq_global_client ? nullptr : c;
}

void tqmovie_cancel(tqmovie_client *c) {
    std::atomic<uint32_t> &op = (c ? c : &tq_global_client)->ext.op;
    uint32_t s = op.load();
    // Only a running operation can be cancelled; the loop reloads s when it lost a race.
    while ((s & tq_op_running) && !(s & tq_op_cancel) && !op.compare_exchange_weak(s, s | tq_op_cancel)) {
    }
}

int32_t tqmovie_io_cancelled(tqmovie_client *c) {
    const tqmovie_client &target = c ? *c : tq_global_client;
    return (target.ext.op.load() & tq_op_running) && tq_stop_requested(target) ? 1 : 0;
}

void tqmovie_set_progress(tqmovie_progress_fn fn, void *user) {
    tq_ext &x = ext();
    x.progress = fn;
    x.progress_user = user;
}

} // extern "C"

bool tq_report_progress(tqmovie_progress event) noexcept {
    tq_ext &x = ext();
    if (!x.progress) return true;
    // What the callback leaves in the error text (a refused nested lookup, say) is its
    // own, not the operation's.
    tq_state &s = state();
    char err[sizeof s.err];
    std::memcpy(err, s.err, sizeof err);
    const int stop = x.progress(&event, x.progress_user);
    std::memcpy(s.err, err, sizeof err);
    if (stop != 0) tqmovie_cancel(&client());
    return stop == 0;
}

