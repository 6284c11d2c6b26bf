// SPDX-License-Identifier: MIT
// The result store: the records the last lookup left in a client's state, read by
// the getters and the exports. Not installed.
#ifndef TQ_RESULTS_H
#define TQ_RESULTS_H

#include "tq_record.h"

// ----------------------------------------------------------------------------
// The result store's three lists, each an array, a count and a capacity in the
// state, with the capacity of its first growth.
// ----------------------------------------------------------------------------
template <typename R> struct tq_store;
template <> struct tq_store<tq_basic> {
    static constexpr tq_basic *tq_state::*items = &tq_state::basics;
    static constexpr size_t tq_state::*count = &tq_state::basic_count;
    static constexpr size_t tq_state::*cap = &tq_state::basic_cap;
    static constexpr size_t first_cap = 8;
};
template <> struct tq_store<tq_detail> {
    static constexpr tq_detail *tq_state::*items = &tq_state::details;
    static constexpr size_t tq_state::*count = &tq_state::detail_count;
    static constexpr size_t tq_state::*cap = &tq_state::detail_cap;
    static constexpr size_t first_cap = 4;
};
template <> struct tq_store<tq_trans> {
    static constexpr tq_trans *tq_state::*items = &tq_state::trans;
    static constexpr size_t tq_state::*count = &tq_state::trans_count;
    static constexpr size_t tq_state::*cap = &tq_state::trans_cap;
    static constexpr size_t first_cap = 4;
};

// Whether s stores a record of kind R at index i.
template <typename R> bool tq_is_stored(const tq_state &s, int32_t i) noexcept {
    return i >= 0 && static_cast<uint64_t>(i) < s.*tq_store<R>::count;
}
// The stored record i of a kind, or NULL out of range.
template <typename R> const R *tq_stored(const tq_state &s, int32_t i) noexcept {
    return tq_is_stored<R>(s, i) ? &(s.*tq_store<R>::items)[i] : nullptr;
}

// Appends a deep copy of rec (a detail record with the given sections). 8 when the
// list cannot grow or the copy runs out of memory; nothing half-copied stays.
int32_t tq_results_push(tq_state &s, const tq_basic *rec) noexcept;
int32_t tq_results_push(tq_state &s, const tq_detail *rec, uint32_t sections) noexcept;
// Moves a decoded record into the store, leaving it empty; the stored record (valid
// until the next append), or NULL when the store cannot grow.
tq_basic *tq_results_take(tq_state &s, tq_basic *rec) noexcept;
tq_detail *tq_results_take(tq_state &s, tq_detail *rec) noexcept;
tq_trans *tq_results_take(tq_state &s, tq_trans *rec) noexcept;
// Releases every stored record of the three kinds.
void tq_results_clear(tq_state &s) noexcept;

#endif // TQ_RESULTS_H
