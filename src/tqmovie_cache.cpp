// tqmovie_cache: the per-title record cache (basic and detail records, each with the
// time it was stored) and the batch ceiling. All state lives in g_tq.
//
// Nothing here reports an error: running out of memory only means a record is not
// cached (or a read misses), and the lookups then go to the service instead.
#include "tq_internal.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t first_cache_cap = 32;
constexpr size_t default_batch_ceiling = 24;

// The slot holding imdb_id among the slots in use, or null. Keys compare byte for
// byte: ids are opaque to the cache, so "TT0111161" is another title.
tq_cache_entry *lookup(const char *imdb_id) noexcept {
    if (imdb_id == nullptr || g_tq.cache == nullptr) return nullptr;
    for (size_t i = 0; i < g_tq.cache_count; ++i) {
        tq_cache_entry *slot = &g_tq.cache[i];
        if (slot->imdb_id != nullptr && std::strcmp(slot->imdb_id, imdb_id) == 0) return slot;
    }
    return nullptr;
}

// Appends a slot keyed by a copy of imdb_id, growing the table when it is full.
// Returns null, with the table as it was, when memory runs out.
tq_cache_entry *cache_ensure(const char *imdb_id) noexcept {
    if (g_tq.cache_count + 1 > g_tq.cache_cap) {
        const size_t old_cap = g_tq.cache_cap;
        // Doubling keeps appends amortised constant; refuse sizes that would wrap.
        if (old_cap > SIZE_MAX / 2) return nullptr;
        const size_t new_cap = old_cap == 0 ? first_cache_cap : old_cap * 2;
        if (new_cap > SIZE_MAX / sizeof(tq_cache_entry)) return nullptr;
        void *grown = std::realloc(g_tq.cache, new_cap * sizeof(tq_cache_entry));
        if (grown == nullptr) return nullptr;
        g_tq.cache = static_cast<tq_cache_entry *>(grown);
        // Slots beyond the count are kept all zero, so a slot is clean when taken.
        std::memset(g_tq.cache + old_cap, 0, (new_cap - old_cap) * sizeof(tq_cache_entry));
        g_tq.cache_cap = new_cap;
    }
    char *key = tq_strdup(imdb_id);
    if (key == nullptr) return nullptr;
    tq_cache_entry *slot = &g_tq.cache[g_tq.cache_count];
    std::memset(slot, 0, sizeof *slot);
    slot->imdb_id = key;
    ++g_tq.cache_count;
    return slot;
}

void drop_basic(tq_basic *rec) noexcept {
    if (rec == nullptr) return;
    tq_free_basic(rec);
    std::free(rec);
}

void drop_detail(tq_detail *rec) noexcept {
    if (rec == nullptr) return;
    tq_free_detail(rec);
    std::free(rec);
}

void drop_slot(tq_cache_entry *slot) noexcept {
    std::free(slot->imdb_id);
    drop_basic(slot->basic);
    drop_detail(slot->detail);
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

// The slot for rec's id, appended when missing; null when the id is null or no slot
// can be had.
tq_cache_entry *slot_for(const char *imdb_id) noexcept {
    if (imdb_id == nullptr) return nullptr;
    tq_cache_entry *slot = lookup(imdb_id);
    return slot != nullptr ? slot : cache_ensure(imdb_id);
}

// A heap deep copy of rec, or null when memory ran out (nothing left behind).
tq_basic *clone_basic(const tq_basic *rec) noexcept {
    malloc_ptr<tq_basic> copy(tq_calloc_n<tq_basic>(1));
    if (!copy) return nullptr;
    if (tq_copy_basic(copy.get(), rec) != 0) {
        tq_free_basic(copy.get());
        return nullptr;
    }
    return copy.release();
}

tq_detail *clone_detail(const tq_detail *rec) noexcept {
    malloc_ptr<tq_detail> copy(tq_calloc_n<tq_detail>(1));
    if (!copy) return nullptr;
    // Every section the given record holds is kept, whatever it was decoded with.
    if (tq_copy_detail(copy.get(), rec, TQMOVIE_DETAIL_ALL) != 0) {
        tq_free_detail(copy.get());
        return nullptr;
    }
    return copy.release();
}

} // namespace

extern "C" {

TQMOVIE_API tq_cache_entry *tq_cache_find(const char *imdb_id) { return lookup(imdb_id); }

TQMOVIE_API void tq_cache_put_basic(const tq_basic *rec) {
    if (rec == nullptr) return;
    tq_cache_entry *slot = slot_for(rec->imdb_id);
    if (slot == nullptr) return;
    // Copy before releasing the old record: rec may be the cached record itself
    // (reached through tq_cache_find), and must stay readable during the copy.
    tq_basic *fresh = clone_basic(rec);
    drop_basic(slot->basic);
    slot->basic = fresh;
    // The stamp only moves on a successful store; a failed one leaves the slot empty
    // of this kind, which reads as a miss.
    if (fresh != nullptr) slot->basic_at = tq_now();
}

TQMOVIE_API void tq_cache_put_detail(const tq_detail *rec) {
    if (rec == nullptr) return;
    tq_cache_entry *slot = slot_for(rec->imdb_id);
    if (slot == nullptr) return;
    tq_detail *fresh = clone_detail(rec);
    drop_detail(slot->detail);
    slot->detail = fresh;
    if (fresh != nullptr) slot->detail_at = tq_now();
}

TQMOVIE_API int32_t tq_cache_get_basic(const char *imdb_id, tq_basic *out) {
    const tq_cache_entry *slot = lookup(imdb_id);
    if (slot == nullptr || slot->basic == nullptr || out == nullptr) return 0;
    if (!is_fresh(g_tq.cache_ttl_basic, slot->basic_at)) return 0;
    if (tq_copy_basic(out, slot->basic) != 0) {
        tq_free_basic(out); // leaves the empty record; the caller treats it as a miss
        return 0;
    }
    return 1;
}

TQMOVIE_API int32_t tq_cache_get_detail(const char *imdb_id, tq_detail *out, int32_t sections) {
    const tq_cache_entry *slot = lookup(imdb_id);
    if (slot == nullptr || slot->detail == nullptr || out == nullptr) return 0;
    if (!is_fresh(g_tq.cache_ttl_detail, slot->detail_at)) return 0;
    const uint32_t mask = sections == 0 ? TQMOVIE_DETAIL_ALL : static_cast<uint32_t>(sections);
    if (tq_copy_detail(out, slot->detail, mask) != 0) {
        tq_free_detail(out);
        return 0;
    }
    return 1;
}

TQMOVIE_API int32_t tqmovie_cache_has(const char *imdb_id, int32_t *basic_fresh, int32_t *detail_fresh) {
    if (basic_fresh != nullptr) *basic_fresh = 0;
    if (detail_fresh != nullptr) *detail_fresh = 0;
    const tq_cache_entry *slot = lookup(imdb_id);
    if (slot == nullptr) return 0;
    if (basic_fresh != nullptr)
        *basic_fresh = slot->basic != nullptr && is_fresh(g_tq.cache_ttl_basic, slot->basic_at) ? 1 : 0;
    if (detail_fresh != nullptr)
        *detail_fresh = slot->detail != nullptr && is_fresh(g_tq.cache_ttl_detail, slot->detail_at) ? 1 : 0;
    return 1;
}

TQMOVIE_API void tqmovie_cache_invalidate(const char *imdb_id) {
    tq_cache_entry *slot = lookup(imdb_id);
    if (slot == nullptr) return;
    drop_slot(slot);
    // Fill the gap with the last slot: order is not promised beyond first-store order,
    // and this keeps removal constant-time.
    tq_cache_entry *last = &g_tq.cache[g_tq.cache_count - 1];
    if (slot != last) {
        *slot = *last;
        std::memset(last, 0, sizeof *last);
    }
    --g_tq.cache_count;
}

TQMOVIE_API void tqmovie_cache_clear(void) {
    for (size_t i = 0; i < g_tq.cache_count; ++i) drop_slot(&g_tq.cache[i]);
    std::free(g_tq.cache);
    g_tq.cache = nullptr;
    g_tq.cache_count = 0;
    g_tq.cache_cap = 0;
}

TQMOVIE_API void tqmovie_cache_set_ttl(int32_t basic_ttl, int32_t detail_ttl) {
    g_tq.cache_ttl_basic = basic_ttl;
    g_tq.cache_ttl_detail = detail_ttl;
}

TQMOVIE_API void tqmovie_set_batch_ceiling(uint64_t n) {
    g_tq.batch_ceiling = n == 0 ? default_batch_ceiling : static_cast<size_t>(n);
}

TQMOVIE_API uint64_t tqmovie_batch_ceiling(void) {
    return g_tq.batch_ceiling == 0 ? default_batch_ceiling : g_tq.batch_ceiling;
}

} // extern "C"
