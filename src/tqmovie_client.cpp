// SPDX-License-Identifier: MIT
// tqmovie_client: clients and which one is current on each thread, cancellation and
// the progress callback's setting.
//
// A thread's current client is kept twice: in a thread-local pointer, which always
// holds it, and in a small registry keyed by the thread pointer, which the library's
// calls read because it costs no call into the dynamic loader (see client() in
// tq_internal.h). A thread takes a registry slot the first time it makes a client
// current and gives it back when it exits; a slot is only ever written by the thread
// it belongs to, apart from the claim itself (a compare-and-swap) and the release at
// exit. If no slot can be had, every thread goes over to its thread-local pointer.
#include "tq_internal.h"

#include <new>
#include <pthread.h>

constinit tqmovie_client tq_global_client{&g_tq, {}, {}};
__thread tqmovie_client *tq_current = &tq_global_client;
constinit std::atomic<uint32_t> tq_client_mode{tq_mode_global};
constinit tq_registry_slot tq_registry[tq_registry_size];

namespace {

pthread_once_t registry_once = PTHREAD_ONCE_INIT;
pthread_key_t exit_key;
bool exit_key_made = false;

// At thread exit: the slot goes back, so a later thread that happens to get the same
// thread pointer does not find this one's client.
void release_slot(void *slot_plus_one) {
    tq_registry_slot &slot = tq_registry[reinterpret_cast<uintptr_t>(slot_plus_one) - 1];
    slot.client.store(&tq_global_client, std::memory_order_relaxed);
    slot.state.store(&g_tq, std::memory_order_relaxed);
    slot.thread.store(tq_registry_gone, std::memory_order_release);
}

// In the child of a fork only the forking thread lives on; the others' slots go.
void forget_other_threads() {
    const uintptr_t me = tq_thread_id();
    for (tq_registry_slot &slot : tq_registry) {
        const uintptr_t t = slot.thread.load(std::memory_order_relaxed);
        if (t != 0 && t != tq_registry_gone && t != me) slot.thread.store(tq_registry_gone, std::memory_order_relaxed);
    }
}

void make_exit_key() {
    exit_key_made = pthread_key_create(&exit_key, release_slot) == 0;
    pthread_atfork(nullptr, nullptr, forget_other_threads);
}

// A slot for the calling thread, which has none: the first free one of its run that
// no other thread takes first. NULL when there is none, or when its release at thread
// exit cannot be arranged.
tq_registry_slot *claim_slot(uintptr_t me) noexcept {
    pthread_once(&registry_once, make_exit_key);
    if (!exit_key_made) return nullptr;
    for (size_t i = tq_registry_home(me), n = 0; n < tq_registry_probes; ++n, i = (i + 1) % tq_registry_size) {
        tq_registry_slot &slot = tq_registry[i];
        uintptr_t t = slot.thread.load(std::memory_order_relaxed);
        if (t != 0 && t != tq_registry_gone) continue;
        if (!slot.thread.compare_exchange_strong(t, me, std::memory_order_acq_rel)) continue;
        if (pthread_setspecific(exit_key, reinterpret_cast<void *>(i + 1)) == 0) return &slot;
        slot.thread.store(tq_registry_gone, std::memory_order_release);
        return nullptr;
    }
    return nullptr;
}

} // namespace

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
    tqmovie_client *next = c ? c : &tq_global_client;
    tq_current = next;
    const uint32_t mode = tq_client_mode.load(std::memory_order_relaxed);
    if (mode == tq_mode_tls || (mode == tq_mode_global && !c)) return prev;
    const uintptr_t me = tq_thread_id();
    auto *slot = const_cast<tq_registry_slot *>(tq_my_slot());
    if (!slot && c) slot = claim_slot(me);
    if (slot) {
        slot->client.store(next, std::memory_order_relaxed);
        slot->state.store(next->st, std::memory_order_relaxed);
        uint32_t was = tq_mode_global;
        tq_client_mode.compare_exchange_strong(was, tq_mode_registry, std::memory_order_acq_rel);
    } else if (c) {
        // No slot to be had: from now on every thread reads its thread-local pointer.
        tq_client_mode.store(tq_mode_tls, std::memory_order_release);
    }
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

// The exit key's destructor lives in this library: when it is unloaded, threads that
// exit later must not call into it.
__attribute__((destructor)) static void drop_exit_key() {
    if (exit_key_made) pthread_key_delete(exit_key);
}
