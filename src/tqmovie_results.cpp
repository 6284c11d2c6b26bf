// SPDX-License-Identifier: MIT
// tqmovie_results: the result store's appends and its emptying.
#include "tq_results.h"

namespace {

template <typename R> int32_t push(tq_state &s, const R *rec, uint32_t sections) noexcept {
    using st = tq_store<R>;
    size_t &count = s.*st::count;
    if (count == SIZE_MAX || !tq_grow(&(s.*st::items), &(s.*st::cap), count + 1, st::first_cap))
        return TQMOVIE_ERR_NOMEM;
    R *slot = &(s.*st::items)[count];
    std::memset(slot, 0, sizeof *slot);
    if (tq_copy(slot, rec, sections) != 0) {
        tq_release(slot);
        return TQMOVIE_ERR_NOMEM;
    }
    ++count;
    return TQMOVIE_OK;
}

template <typename R> R *take(tq_state &s, R *rec) noexcept {
    using st = tq_store<R>;
    size_t &count = s.*st::count;
    if (count == SIZE_MAX || !tq_grow(&(s.*st::items), &(s.*st::cap), count + 1, st::first_cap)) return nullptr;
    R *slot = &(s.*st::items)[count++];
    *slot = *rec;
    tq_reset(rec);
    return slot;
}

template <typename R> void clear_store(tq_state &s) noexcept {
    using st = tq_store<R>;
    R *items = s.*st::items;
    for (size_t i = 0; i < s.*st::count; ++i) tq_release(&items[i]);
    std::free(items);
    s.*st::items = nullptr;
    s.*st::count = 0;
    s.*st::cap = 0;
}

} // namespace

int32_t tq_results_push(tq_state &s, const tq_basic *rec) noexcept { return push(s, rec, TQMOVIE_DETAIL_ALL); }
int32_t tq_results_push(tq_state &s, const tq_detail *rec, uint32_t sections) noexcept {
    return push(s, rec, sections);
}
tq_basic *tq_results_take(tq_state &s, tq_basic *rec) noexcept { return take(s, rec); }
tq_detail *tq_results_take(tq_state &s, tq_detail *rec) noexcept { return take(s, rec); }
tq_trans *tq_results_take(tq_state &s, tq_trans *rec) noexcept { return take(s, rec); }

void tq_results_clear(tq_state &s) noexcept {
    clear_store<tq_basic>(s);
    clear_store<tq_detail>(s);
    clear_store<tq_trans>(s);
}

extern "C" {

void tq_clear_results(void) { tq_results_clear(state()); }

} // extern "C"
