// SPDX-License-Identifier: MIT
// tqmovie_cache: the per-title record cache (basic and detail records, each with the
// time it was stored) and the batch ceiling. All state lives in the client state.
//
// Nothing here reports an error: running out of memory only means a record is not
// cached (or a read misses), and the lookups then go to the service instead.
#include "tq_internal.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t first_cache_cap = 32;

// The two kinds of record a slot holds: where the record, its stamp and its lifetime
// live. Both kinds are stored, read and dropped by the same code below.
struct basic_kind {
    using rec = tq_basic;
    static constexpr tq_basic *tq_cache_entry::*slot = &tq_cache_entry::basic;
    static constexpr int64_t tq_cache_entry::*at = &tq_cache_entry::basic_at;
    static constexpr int32_t tq_state::*ttl = &tq_state::cache_ttl_basic;
};
struct detail_kind {
    using rec = tq_detail;
    static constexpr tq_detail *tq_cache_entry::*slot = &tq_cache_entry::detail;
    static constexpr int64_t tq_cache_entry::*at = &tq_cache_entry::detail_at;
    static constexpr int32_t tq_state::*ttl = &tq_state::cache_ttl_detail;
};

// The slot holding imdb_id among the slots in use, or null. Keys compare byte for
// byte: ids are opaque to the cache, so "TT0111161" is another title.
tq_cache_entry *lookup(const char *imdb_id) noexcept {
    tq_state &s = state();
    if (imdb_id == nullptr || s.cache == nullptr) return nullptr;
    for (size_t i = 0; i < s.cache_count; ++i) {
        tq_cache_entry *slot = &s.cache[i];
        if (slot->imdb_id != nullptr && std::strcmp(slot->imdb_id, imdb_id) == 0) return slot;
    }
    return nullptr;
}

// Appends a slot keyed by a copy of imdb_id, growing the table when it is full.
// Returns null, with the table as it was, when memory runs out.
tq_cache_entry *cache_ensure(const char *imdb_id) noexcept {
    tq_state &s = state();
    const size_t old_cap = s.cache_cap;
    if (s.cache_count == SIZE_MAX || !tq_grow(&s.cache, &s.cache_cap, s.cache_count + 1, first_cache_cap))
        return nullptr;
    // Slots beyond the count are kept all zero, so a slot is clean when taken.
    std::memset(s.cache + old_cap, 0, (s.cache_cap - old_cap) * sizeof(tq_cache_entry));
    char *key = tq_strdup(imdb_id);
    if (key == nullptr) return nullptr;
    tq_cache_entry *slot = &s.cache[s.cache_count++];
    slot->imdb_id = key;
    return slot;
}

// A heap record: its contents, then its own storage.
template <typename R> void drop(R *rec) noexcept {
    if (rec == nullptr) return;
    tq_release(rec);
    std::free(rec);
}

void drop_slot(tq_cache_entry *slot) noexcept {
    std::free(slot->imdb_id);
    drop(slot->basic);
    drop(slot->detail);
    std::memset(slot, 0, sizeof *slot);
}

// A record stored at `at` is fresh under lifetime `ttl` (seconds) when its age is at
// most ttl. A non-positive lifetime never expires; a never-stored stamp (0) is stale;
// a stamp in the future (clock set back) counts as fresh.
bool is_fresh(int32_t ttl, int64_t at) noexcept {
    if (ttl <= 0) return true;
    if (at == 0) return false;
    const int64_t now = tq_now();
    int64_t age = 0;
    if (__builtin_sub_overflow(now, at, &age)) {
        // The true age lies beyond int64: hugely positive when the stamp is far in the
        // past (stale), hugely negative when it is far in the future (fresh).
        return at > 0;
    }
    return age <= static_cast<int64_t>(ttl);
}

// The slot's record of kind K when it is there and fresh, else null.
template <typename K> const typename K::rec *fresh(const tq_cache_entry *slot) noexcept {
    if (slot == nullptr || slot->*K::slot == nullptr) return nullptr;
    return is_fresh(state().*K::ttl, slot->*K::at) ? slot->*K::slot : nullptr;
}

// Stores a heap deep copy of rec, keeping every section a detail record holds,
// whatever it was decoded with. The copy is made before the old record is released:
// rec may be the cached record itself (reached through tq_cache_find).
template <typename K> void put(const typename K::rec *rec) noexcept {
    using R = typename K::rec;
    if (rec == nullptr || rec->imdb_id == nullptr) return;
    tq_cache_entry *slot = lookup(rec->imdb_id);
    if (slot == nullptr) slot = cache_ensure(rec->imdb_id);
    if (slot == nullptr) return;
    malloc_ptr<R> copy(tq_calloc_n<R>(1));
    if (copy && tq_copy(copy.get(), rec, TQMOVIE_DETAIL_ALL) != 0) {
        tq_release(copy.get());
        copy.reset();
    }
    drop(slot->*K::slot);
    slot->*K::slot = copy.release();
    // The stamp only moves on a successful store; a failed one leaves the slot empty
    // of this kind, which reads as a miss.
    if (slot->*K::slot != nullptr) slot->*K::at = tq_now();
}

// 1 when a fresh record was deep-copied into *out (sections 0 meaning all of them).
template <typename K> int32_t get(const char *imdb_id, typename K::rec *out, int32_t sections) noexcept {
    const typename K::rec *rec = fresh<K>(lookup(imdb_id));
    if (rec == nullptr || out == nullptr) return 0;
    const uint32_t mask = sections == 0 ? TQMOVIE_DETAIL_ALL : static_cast<uint32_t>(sections);
    if (tq_copy(out, rec, mask) != 0) {
        tq_release(out); // leaves the empty record; the caller treats it as a miss
        return 0;
    }
    return 1;
}

} // namespace

extern "C" {

TQMOVIE_API tq_cache_entry *tq_cache_find(const char *imdb_id) { return lookup(imdb_id); }

TQMOVIE_API void tq_cache_put_basic(const tq_basic *rec) { put<basic_kind>(rec); }
TQMOVIE_API void tq_cache_put_detail(const tq_detail *rec) { put<detail_kind>(rec); }

TQMOVIE_API int32_t tq_cache_get_basic(const char *imdb_id, tq_basic *out) { return get<basic_kind>(imdb_id, out, 0); }
TQMOVIE_API int32_t tq_cache_get_detail(const char *imdb_id, tq_detail *out, int32_t sections) {
    return get<detail_kind>(imdb_id, out, sections);
}

TQMOVIE_API int32_t tqmovie_cache_has(const char *imdb_id, int32_t *basic_fresh, int32_t *detail_fresh) {
    if (basic_fresh != nullptr) *basic_fresh = 0;
    if (detail_fresh != nullptr) *detail_fresh = 0;
    const tq_cache_entry *slot = lookup(imdb_id);
    if (slot == nullptr) return 0;
    if (basic_fresh != nullptr) *basic_fresh = fresh<basic_kind>(slot) != nullptr;
    if (detail_fresh != nullptr) *detail_fresh = fresh<detail_kind>(slot) != nullptr;
    return 1;
}

TQMOVIE_API void tqmovie_cache_invalidate(const char *imdb_id) {
    tq_cache_entry *slot = lookup(imdb_id);
    if (slot == nullptr) return;
    drop_slot(slot);
    // Fill the gap with the last slot: order is not promised beyond first-store order,
    // and this keeps removal constant-time.
    tq_state &s = state();
    tq_cache_entry *last = &s.cache[s.cache_count - 1];
    if (slot != last) {
        *slot = *last;
        std::memset(last, 0, sizeof *last);
    }
    --s.cache_count;
}

TQMOVIE_API void tqmovie_cache_clear(void) {
    tq_state &s = state();
    for (size_t i = 0; i < s.cache_count; ++i) drop_slot(&s.cache[i]);
    std::free(s.cache);
    s.cache = nullptr;
    s.cache_count = 0;
    s.cache_cap = 0;
}

TQMOVIE_API void tqmovie_cache_set_ttl(int32_t basic_ttl, int32_t detail_ttl) {
    state().cache_ttl_basic = basic_ttl;
    state().cache_ttl_detail = detail_ttl;
}

TQMOVIE_API void tqmovie_set_batch_ceiling(uint64_t n) {
    state().batch_ceiling = n == 0 ? tq_default_batch_ceiling : static_cast<size_t>(n);
}

TQMOVIE_API uint64_t tqmovie_batch_ceiling(void) {
    const size_t n = state().batch_ceiling;
    return n == 0 ? tq_default_batch_ceiling : n;
}

} // extern "C"
