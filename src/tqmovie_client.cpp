// SPDX-License-Identifier: MIT
// tqmovie_client: clients and which one is current on each thread, the error text,
// cancellation and the progress callback.
//
// A thread's current client is a thread-local pointer, defined here and nowhere else:
// it lives and dies with its thread, and a forked child keeps the forking thread's.
#include "tq_cache.h"
#include "tq_fallback.h"
#include "tq_outcome.h"
#include "tq_request.h"
#include "tq_results.h"
#include "tq_store.h"

#include <cstdio>
#include <new>

constinit tqmovie_client tq_global_client{&g_tq, {}, {}};
__thread tqmovie_client *tq_current = &tq_global_client;

void tq_err_v(tqmovie_client &c, const char *fmt, va_list ap) noexcept {
    // Format into a scratch buffer first: an argument may point into the error text itself
    // (a host re-reporting tqmovie_last_error()), and overlapping output is undefined.
    char tmp[sizeof c.st->err];
    const int n = std::vsnprintf(tmp, sizeof tmp, fmt, ap);
    if (n < 0) tmp[0] = '\0';
    std::memcpy(c.st->err, tmp, sizeof tmp);
}

void tq_err(tqmovie_client &c, const char *fmt, ...) noexcept {
    va_list ap;
    va_start(ap, fmt);
    tq_err_v(c, fmt, ap);
    va_end(ap);
}

int32_t tq_fail(tqmovie_client &c, int32_t status, const char *text) noexcept {
    tq_err(c, "%s", text);
    return status;
}

void tq_cancel(tqmovie_client &c) noexcept {
    std::atomic<uint32_t> &op = c.ext.op;
    uint32_t s = op.load();
    // Only a running operation can be cancelled; the loop reloads s when it lost a race.
    while ((s & tq_op_running) && !(s & tq_op_cancel) && !op.compare_exchange_weak(s, s | tq_op_cancel)) {
    }
}

bool tq_report_progress(tqmovie_client &c, tqmovie_progress event) noexcept {
    tq_ext &x = c.ext;
    if (!x.progress) return true;
    int stop;
    {
        const tq_err_kept kept(c);
        stop = x.progress(&event, x.progress_user);
    }
    if (stop != 0) tq_cancel(c);
    return stop == 0;
}

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
    // From inside its own operation (a progress callback, a host backend's entry, a
    // retry wait's report) the client is still in use on the way back out: refused.
    if (c->ext.op.load() & (tq_op_running | tq_op_request)) return;
    tq_results_clear(*c->st);
    tq_cache_clear(*c);
    tq_store_detach(*c);
    tq_outcome_free(*c);
    tq_fallback_free(*c);
    if (tq_current == c) tq_current = &tq_global_client;
    c->~tqmovie_client();
    std::free(c);
}

tqmovie_client *tqmovie_use(tqmovie_client *c) {
    tqmovie_client *prev = tq_current;
    tq_current = c ? c : &tq_global_client;
    return prev == &tq_global_client ? nullptr : prev;
}

tqmovie_client *tqmovie_current(void) {
    tqmovie_client *c = &client();
    return c == &tq_global_client ? nullptr : c;
}

void tqmovie_cancel(tqmovie_client *c) { tq_cancel(tq_client_of(c)); }

int32_t tqmovie_io_cancelled(tqmovie_client *c) {
    const tqmovie_client &target = tq_client_of(c);
    return (target.ext.op.load() & tq_op_running) && tq_stop_requested(target) ? 1 : 0;
}

void tqmovie_set_progress(tqmovie_progress_fn fn, void *user) {
    tq_ext &x = ext();
    x.progress = fn;
    x.progress_user = user;
}

} // extern "C"
