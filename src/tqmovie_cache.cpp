// SPDX-License-Identifier: MIT
// tqmovie_cache: the per-title record cache (basic and detail records, each with the
// time it was stored). The slots live in the client state,
// where a host may read them; beside them, private to this module, an index from key
// to slot number and what the lookups need to know of each slot: the language its
// records were fetched in, the sections its detail record holds, and the order of use
// for the optional size limit.
//
// Nothing here reports an error: running out of memory only means a record is not
// cached (or a read misses), and the lookups then go to the service instead. If the
// index cannot grow, finding a key falls back to walking the slots.
#include "tq_cache.h"
#include "tq_store.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// The largest scratch text a client keeps for its store writes between records.
constexpr size_t scratch_kept = 1u << 20;

constexpr size_t first_cache_cap = 32;
constexpr size_t none = SIZE_MAX;

// What the lookups need to know of one slot, and its place in the order of use.
struct slot_meta {
    char *basic_lang;  // the language the basic record was fetched in; NULL: "en-US"
    char *detail_lang; // the same for the detail record
    uint32_t detail_sections;
    size_t newer, older; // neighbours in the order of use, `none` at the ends
    uint64_t hash;       // of the key, so rehashing never reads the keys again
};

struct bucket {
    uint64_t hash;
    size_t slot; // slot number + 1; 0: empty
};

} // namespace

struct tq_cache_index {
    slot_meta *meta; // one per slot allocated, beside the state's slot array
    size_t meta_cap;
    bucket *buckets; // open addressing, linear probing; NULL while the walk serves
    size_t nbuckets; // a power of two, at least twice the slots in use
    size_t newest, oldest;
    // The slot array the index was built for: a host that replaced it, or its count or
    // capacity, gets a rebuilt index rather than a wrong answer.
    const tq_cache_entry *seen;
    size_t seen_count, seen_cap;
};

namespace {

uint64_t hash_of(const char *s) noexcept {
    uint64_t h = 1469598103934665603ull; // FNV-1a
    for (; *s; ++s) h = (h ^ static_cast<unsigned char>(*s)) * 1099511628211ull;
    return h;
}

bool same_key(const tq_cache_entry &e, const char *key) noexcept {
    return e.imdb_id != nullptr && std::strcmp(e.imdb_id, key) == 0;
}

// "en-US" is what a lookup without a language asks for.
const char *stored_lang(const char *language) noexcept {
    return language && language[0] && std::strcmp(language, "en-US") != 0 ? language : nullptr;
}
bool same_lang(const char *stored, const char *language) noexcept {
    language = stored_lang(language);
    return stored == nullptr ? language == nullptr : language != nullptr && std::strcmp(stored, language) == 0;
}

// ----------------------------------------------------------------------------
// The index
// ----------------------------------------------------------------------------

tq_cache_index *&index_ptr(tqmovie_client &c) noexcept { return c.ext.cache_index; }

void forget_meta(slot_meta &m) noexcept {
    std::free(m.basic_lang);
    std::free(m.detail_lang);
    m.basic_lang = m.detail_lang = nullptr;
}

// Order of use: a doubly linked list through the slots, newest first.
void unlink(tq_cache_index &x, size_t k) noexcept {
    slot_meta &m = x.meta[k];
    (m.newer == none ? x.newest : x.meta[m.newer].older) = m.older;
    (m.older == none ? x.oldest : x.meta[m.older].newer) = m.newer;
}
void link_newest(tq_cache_index &x, size_t k) noexcept {
    slot_meta &m = x.meta[k];
    m.newer = none;
    m.older = x.newest;
    (x.newest == none ? x.oldest : x.meta[x.newest].newer) = k;
    x.newest = k;
}

// Places slot k's key in the first free bucket of its probe sequence.
void bucket_insert(tq_cache_index &x, uint64_t h, size_t k) noexcept {
    const size_t mask = x.nbuckets - 1;
    size_t i = h & mask;
    while (x.buckets[i].slot != 0) i = (i + 1) & mask;
    x.buckets[i] = bucket{h, k + 1};
}

// Buckets for the slots in use (whose metadata is valid), sized for the next
// doublings; false (walk) when memory ran out.
bool rebuild_buckets(tq_cache_index &x, const tq_state &s) noexcept {
    std::free(x.buckets);
    x.buckets = nullptr;
    size_t n = 64;
    while (n < 2 * (s.cache_cap > s.cache_count ? s.cache_cap : s.cache_count)) n *= 2;
    x.buckets = tq_calloc_n<bucket>(n);
    if (!x.buckets) return false;
    x.nbuckets = n;
    for (size_t k = 0; k < s.cache_count; ++k)
        if (s.cache[k].imdb_id) bucket_insert(x, x.meta[k].hash, k);
    return true;
}

void note_state(tqmovie_client &c, tq_cache_index &x) noexcept {
    const tq_state &s = *c.st;
    x.seen = s.cache;
    x.seen_count = s.cache_count;
    x.seen_cap = s.cache_cap;
}

void free_index(tqmovie_client &c) noexcept {
    tq_cache_index *x = index_ptr(c);
    if (!x) return;
    for (size_t k = 0; k < x->seen_count && k < x->meta_cap; ++k) forget_meta(x->meta[k]);
    std::free(x->meta);
    std::free(x->buckets);
    std::free(x);
    index_ptr(c) = nullptr;
}

// Metadata for every slot in use, as the exported store gives it: the default
// language, every section, and slot order as the order of use; then fresh buckets.
// false when memory ran out.
bool reset(tqmovie_client &c, tq_cache_index &x) noexcept {
    const tq_state &s = *c.st;
    for (size_t k = 0; k < x.seen_count && k < x.meta_cap; ++k) forget_meta(x.meta[k]);
    x.seen_count = 0;
    x.newest = x.oldest = none;
    if (!tq_grow(&x.meta, &x.meta_cap, s.cache_count, first_cache_cap)) return false;
    for (size_t k = 0; k < s.cache_count; ++k) {
        const char *key = s.cache[k].imdb_id;
        x.meta[k] = slot_meta{nullptr, nullptr, TQMOVIE_DETAIL_ALL, none, none, key ? hash_of(key) : 0};
        link_newest(x, k);
    }
    // A few slots are walked faster than hashed.
    if (s.cache_count > 8) {
        rebuild_buckets(x, s);
    } else {
        std::free(x.buckets);
        x.buckets = nullptr;
    }
    note_state(c, x);
    return true;
}

// The index, in step with the slot array; NULL when there is none. A slot array that
// changed behind its back (a host that replaced it, or its count or capacity) gets
// rebuilt metadata and buckets rather than a wrong answer. Metadata is valid for the
// first seen_count slots.
tq_cache_index *synced(tqmovie_client &c) noexcept {
    tq_cache_index *x = index_ptr(c);
    const tq_state &s = *c.st;
    if (!x || (x->seen == s.cache && x->seen_count == s.cache_count && x->seen_cap == s.cache_cap)) return x;
    if (reset(c, *x)) return x;
    free_index(c);
    return nullptr;
}

// The index a store needs, made when there is none yet; NULL when memory ran out.
tq_cache_index *index_for_store(tqmovie_client &c) noexcept {
    tq_cache_index *x = synced(c);
    if (x) return x;
    x = index_ptr(c) = tq_calloc_n<tq_cache_index>(1);
    if (x && reset(c, *x)) return x;
    free_index(c);
    return nullptr;
}

// The bucket holding slot k (found along the probe sequence of its key's hash).
size_t bucket_of(const tq_cache_index &x, uint64_t h, size_t k) noexcept {
    const size_t mask = x.nbuckets - 1;
    for (size_t i = h & mask; x.buckets[i].slot != 0; i = (i + 1) & mask)
        if (x.buckets[i].slot == k + 1) return i;
    return none;
}

// Empties bucket i, shifting later members of its run back so no probe breaks.
void bucket_erase(tq_cache_index &x, size_t i) noexcept {
    const size_t mask = x.nbuckets - 1;
    for (size_t j = (i + 1) & mask; x.buckets[j].slot != 0; j = (j + 1) & mask) {
        const size_t home = x.buckets[j].hash & mask;
        if (((j - home) & mask) >= ((j - i) & mask)) {
            x.buckets[i] = x.buckets[j];
            i = j;
        }
    }
    x.buckets[i] = bucket{0, 0};
}

// The slot number holding imdb_id, or `none`.
size_t find(tqmovie_client &c, const char *imdb_id) noexcept {
    const tq_state &s = *c.st;
    if (imdb_id == nullptr || s.cache == nullptr) return none;
    const tq_cache_index *x = synced(c);
    if (x && x->buckets) {
        const uint64_t h = hash_of(imdb_id);
        const size_t mask = x->nbuckets - 1;
        for (size_t i = h & mask; x->buckets[i].slot != 0; i = (i + 1) & mask) {
            const size_t k = x->buckets[i].slot - 1;
            if (x->buckets[i].hash == h && k < s.cache_count && same_key(s.cache[k], imdb_id)) return k;
        }
        return none;
    }
    for (size_t k = 0; k < s.cache_count; ++k)
        if (same_key(s.cache[k], imdb_id)) return k;
    return none;
}

slot_meta *meta_of(tqmovie_client &c, size_t k) noexcept {
    tq_cache_index *x = index_ptr(c);
    return x && k < x->seen_count ? &x->meta[k] : nullptr;
}

void touch(tqmovie_client &c, size_t k) noexcept {
    tq_cache_index *x = index_ptr(c);
    if (!x || k >= x->seen_count) return;
    unlink(*x, k);
    link_newest(*x, k);
}

// ----------------------------------------------------------------------------
// Slots
// ----------------------------------------------------------------------------

// Appends a slot keyed by a copy of imdb_id, growing the table (and the metadata
// beside it) when it is full. Returns `none`, with the table as it was, when memory
// runs out.
size_t append(tqmovie_client &c, const char *imdb_id) noexcept {
    tq_state &s = *c.st;
    tq_cache_index *x = index_for_store(c);
    if (!x) return none;
    if (s.cache_count == SIZE_MAX || !tq_grow(&x->meta, &x->meta_cap, s.cache_count + 1, first_cache_cap)) return none;
    const size_t old_cap = s.cache_cap;
    if (!tq_grow(&s.cache, &s.cache_cap, s.cache_count + 1, first_cache_cap)) return none;
    // Slots beyond the count are kept all zero, so a slot is clean when taken.
    std::memset(s.cache + old_cap, 0, (s.cache_cap - old_cap) * sizeof(tq_cache_entry));
    char *key = tq_strdup(imdb_id);
    if (key == nullptr) {
        note_state(c, *x);
        return none;
    }
    const size_t k = s.cache_count++;
    s.cache[k].imdb_id = key;
    x->meta[k] = slot_meta{nullptr, nullptr, TQMOVIE_DETAIL_ALL, none, none, hash_of(key)};
    link_newest(*x, k);
    // Keep the buckets at most half full; if they cannot grow, the walk serves.
    if (x->buckets && 2 * s.cache_count > x->nbuckets)
        rebuild_buckets(*x, s);
    else if (x->buckets)
        bucket_insert(*x, x->meta[k].hash, k);
    else if (s.cache_count > 8)
        rebuild_buckets(*x, s);
    note_state(c, *x);
    return k;
}

// A heap record goes: its contents, then its own storage.
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

// Drops slot k and moves the last slot into its place, index and metadata alike.
void remove(tqmovie_client &c, size_t k) noexcept {
    tq_state &s = *c.st;
    tq_cache_index *x = synced(c);
    const size_t last = s.cache_count - 1;
    if (x && x->buckets && last < x->seen_count) {
        const size_t i = bucket_of(*x, x->meta[k].hash, k);
        if (i != none) bucket_erase(*x, i);
        if (k != last) {
            const size_t j = bucket_of(*x, x->meta[last].hash, last);
            if (j != none) x->buckets[j].slot = k + 1;
        }
    }
    if (x && last < x->seen_count) {
        unlink(*x, k);
        forget_meta(x->meta[k]);
        if (k != last) {
            // The last slot's metadata moves with it; its neighbours follow.
            slot_meta &m = x->meta[k];
            m = x->meta[last];
            (m.newer == none ? x->newest : x->meta[m.newer].older) = k;
            (m.older == none ? x->oldest : x->meta[m.older].newer) = k;
            x->meta[last] = slot_meta{nullptr, nullptr, 0, none, none, 0};
        }
    }
    drop_slot(&s.cache[k]);
    if (k != last) {
        s.cache[k] = s.cache[last];
        std::memset(&s.cache[last], 0, sizeof s.cache[last]);
    }
    --s.cache_count;
    if (x) note_state(c, *x);
}

// Over the size limit, the least recently used titles leave as if invalidated.
void enforce_limit(tqmovie_client &c) noexcept {
    const size_t limit = c.ext.cache_limit;
    tq_cache_index *x = index_ptr(c);
    while (limit != 0 && c.st->cache_count > limit && x && x->oldest != none) remove(c, x->oldest);
}

// ----------------------------------------------------------------------------
// The two kinds of record a slot holds: where the record, its stamp, its lifetime
// and its language live. Both kinds are stored, read and dropped by the same code.
// ----------------------------------------------------------------------------

struct basic_kind {
    using rec = tq_basic;
    static constexpr tq_basic *tq_cache_entry::*slot = &tq_cache_entry::basic;
    static constexpr int64_t tq_cache_entry::*at = &tq_cache_entry::basic_at;
    static constexpr int32_t tq_state::*ttl = &tq_state::cache_ttl_basic;
    static constexpr char *slot_meta::*lang = &slot_meta::basic_lang;
    static constexpr int store_kind = tq_kind_basic;
    static bool holds(const slot_meta &, uint32_t) noexcept { return true; }
    static void note_sections(slot_meta &, uint32_t) noexcept {}
};
struct detail_kind {
    using rec = tq_detail;
    static constexpr tq_detail *tq_cache_entry::*slot = &tq_cache_entry::detail;
    static constexpr int64_t tq_cache_entry::*at = &tq_cache_entry::detail_at;
    static constexpr int32_t tq_state::*ttl = &tq_state::cache_ttl_detail;
    static constexpr char *slot_meta::*lang = &slot_meta::detail_lang;
    static constexpr int store_kind = tq_kind_detail;
    static bool holds(const slot_meta &m, uint32_t sections) noexcept {
        return (sections & ~m.detail_sections & TQMOVIE_DETAIL_ALL) == 0;
    }
    static void note_sections(slot_meta &m, uint32_t sections) noexcept { m.detail_sections = sections; }
};

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

// Slot k's record of kind K when it is there and fresh, else null.
template <typename K> const typename K::rec *fresh(tqmovie_client &c, size_t k) noexcept {
    if (k == none) return nullptr;
    const tq_cache_entry &e = c.st->cache[k];
    if (e.*K::slot == nullptr || !is_fresh(c.st->*K::ttl, e.*K::at)) return nullptr;
    return e.*K::slot;
}

// A heap record: its contents, then its own storage, on every path that does not
// hand it on.
template <typename R> struct heap_record {
    R *rec;
    explicit heap_record(R *r) noexcept : rec(r) {}
    heap_record(const heap_record &) = delete;
    heap_record &operator=(const heap_record &) = delete;
    ~heap_record() { drop(rec); }
    R *release() noexcept { return std::exchange(rec, nullptr); }
};

// Files `rec` (a heap record the cache takes over, or NULL when none could be made) as
// slot k's record of kind K, fetched in `language` with `sections` and stored at `at`.
// A language that cannot be kept would make the record answer for another one, so
// then no record is kept. The slot's old record goes first.
template <typename K>
void file_record(tqmovie_client &c, size_t k, typename K::rec *rec, const char *language, uint32_t sections,
                 int64_t at) noexcept {
    heap_record<typename K::rec> owned(rec);
    tq_cache_entry &e = c.st->cache[k];
    slot_meta *m = meta_of(c, k);
    const char *want = stored_lang(language);
    malloc_ptr<char> lang(want && owned.rec && m ? tq_strdup(want) : nullptr);
    if (!m || (want && !lang)) drop(owned.release());
    drop(e.*K::slot);
    e.*K::slot = owned.release();
    if (m) {
        std::free(m->*K::lang);
        m->*K::lang = e.*K::slot ? lang.release() : nullptr;
        K::note_sections(*m, sections);
    }
    // The stamp only moves on a successful store; a failed one leaves the slot empty
    // of this kind, which reads as a miss.
    if (e.*K::slot != nullptr) e.*K::at = at;
    touch(c, k);
    enforce_limit(c);
}

// The slot for a record's id, appended when missing; `none` for a NULL record or id,
// or when no slot can be had.
template <typename R> size_t slot_for(tqmovie_client &c, const R *rec) noexcept {
    if (rec == nullptr || rec->imdb_id == nullptr) return none;
    const size_t k = find(c, rec->imdb_id);
    return k != none ? k : append(c, rec->imdb_id);
}

// Stores a heap deep copy of rec, keeping every section a detail record holds,
// whatever it was decoded with. The copy is made before the old record is released:
// rec may be the cached record itself (reached through tq_cache_find).
template <typename K>
void put(tqmovie_client &c, const typename K::rec *rec, const char *language, uint32_t sections) noexcept {
    using R = typename K::rec;
    const size_t k = slot_for(c, rec);
    if (k == none) return;
    heap_record<R> copy(tq_calloc_n<R>(1));
    if (copy.rec && tq_copy_whole(copy.rec, rec, TQMOVIE_DETAIL_ALL) != 0) drop(copy.release());
    const int64_t now = tq_now();
    file_record<K>(c, k, copy.release(), language, sections, now);
    // Written through to the store, in the form the file and the store share.
    if (c.ext.store) {
        // Into the client's scratch text: a batch's records reuse one buffer rather
        // than each taking and growing its own.
        tq_text out;
        out.data = std::exchange(c.ext.export_buf, nullptr);
        out.cap = std::exchange(c.ext.export_cap, 0);
        tq_json_full(out, *rec);
        out.put("", 1);
        if (!out.failed) tq_store_put(c, K::store_kind, rec->imdb_id, language, sections, now, out.data);
        if (out.cap <= scratch_kept) {
            c.ext.export_buf = std::exchange(out.data, nullptr);
            c.ext.export_cap = out.cap;
        }
    }
}

// Takes over a heap record (released on every path); false when it was not stored.
template <typename K>
bool adopt(tqmovie_client &c, typename K::rec *rec, const char *language, uint32_t sections, int64_t at) noexcept {
    heap_record<typename K::rec> owned(rec);
    const size_t k = slot_for(c, rec);
    if (k == none) return false;
    file_record<K>(c, k, owned.release(), language, sections, at);
    return c.st->cache[k].*K::slot == rec;
}

// 1 when a fresh record was deep-copied into *out (sections 0 meaning all of them).
template <typename K>
int32_t get(tqmovie_client &c, const char *imdb_id, typename K::rec *out, int32_t sections) noexcept {
    const size_t k = find(c, imdb_id);
    const typename K::rec *rec = fresh<K>(c, k);
    if (rec == nullptr || out == nullptr) return 0;
    const uint32_t mask = sections == 0 ? TQMOVIE_DETAIL_ALL : static_cast<uint32_t>(sections);
    if (tq_copy_whole(out, rec, mask) != 0) {
        tq_release(out); // leaves the empty record; the caller treats it as a miss
        return 0;
    }
    touch(c, k);
    return 1;
}

// The fresh record that may answer a single-title lookup: fetched in the same
// language and holding every section asked for.
template <typename K>
const typename K::rec *answer(tqmovie_client &c, const char *imdb_id, const char *language, uint32_t sections,
                              bool any_age = false, int64_t *past = nullptr) noexcept {
    for (int pass = 0; pass < 2; ++pass) {
        const size_t k = find(c, imdb_id);
        const typename K::rec *rec = k == none ? nullptr : any_age ? c.st->cache[k].*K::slot : fresh<K>(c, k);
        const slot_meta *m = rec ? meta_of(c, k) : nullptr;
        if (m && same_lang(m->*K::lang, language) && K::holds(*m, sections)) {
            touch(c, k);
            c.ext.cache_source = pass == 0 ? TQMOVIE_SOURCE_MEMORY : TQMOVIE_SOURCE_STORE;
            if (past) {
                const int32_t ttl = c.st->*K::ttl;
                const int64_t age = tq_now() - c.st->cache[k].*K::at;
                *past = ttl > 0 && age > ttl ? age - ttl : 0;
            }
            return rec;
        }
        // A miss in memory reads through to the store, once: a hit is adopted with its
        // stamp, and the lifetimes judge it as they judge a memory hit.
        if (pass == 0 && !(c.ext.store && tq_store_adopt(c, K::store_kind, imdb_id, language, sections))) break;
    }
    return nullptr;
}

} // namespace

bool tq_cache_adopt_basic(tqmovie_client &c, tq_basic *rec, const char *language, int64_t at) noexcept {
    return adopt<basic_kind>(c, rec, language, TQMOVIE_DETAIL_ALL, at);
}
bool tq_cache_adopt_detail(tqmovie_client &c, tq_detail *rec, const char *language, uint32_t sections,
                           int64_t at) noexcept {
    return adopt<detail_kind>(c, rec, language, sections, at);
}

tq_cache_slot_meta tq_cache_meta(tqmovie_client &c, size_t k) noexcept {
    synced(c);
    const slot_meta *m = meta_of(c, k);
    if (!m) return tq_cache_slot_meta{nullptr, nullptr, TQMOVIE_DETAIL_ALL};
    return tq_cache_slot_meta{m->basic_lang, m->detail_lang, m->detail_sections};
}

bool tq_cache_holds(tqmovie_client &c, const char *imdb_id) noexcept { return find(c, imdb_id) != none; }

void tq_cache_swap(tqmovie_client &c, tqmovie_client &other) noexcept {
    tq_state &a = *c.st, &b = *other.st;
    std::swap(a.cache, b.cache);
    std::swap(a.cache_count, b.cache_count);
    std::swap(a.cache_cap, b.cache_cap);
    std::swap(c.ext.cache_index, other.ext.cache_index);
    enforce_limit(c);
}

void tq_cache_clear(tqmovie_client &c) noexcept {
    std::free(std::exchange(c.ext.export_buf, nullptr));
    c.ext.export_cap = 0;
    tq_state &s = *c.st;
    for (size_t i = 0; i < s.cache_count; ++i) drop_slot(&s.cache[i]);
    std::free(s.cache);
    s.cache = nullptr;
    s.cache_count = 0;
    s.cache_cap = 0;
    free_index(c);
}

const tq_basic *tq_cache_held_basic(tqmovie_client &c, const char *imdb_id, const char *language,
                                    int64_t *past) noexcept {
    return answer<basic_kind>(c, imdb_id, language, 0, true, past);
}
const tq_detail *tq_cache_held_detail(tqmovie_client &c, const char *imdb_id, const char *language, uint32_t sections,
                                      int64_t *past) noexcept {
    return answer<detail_kind>(c, imdb_id, language, sections, true, past);
}

const tq_basic *tq_cache_answer_basic(tqmovie_client &c, const char *imdb_id, const char *language) noexcept {
    return answer<basic_kind>(c, imdb_id, language, 0);
}
const tq_detail *tq_cache_answer_detail(tqmovie_client &c, const char *imdb_id, const char *language,
                                        uint32_t sections) noexcept {
    return answer<detail_kind>(c, imdb_id, language, sections);
}
void tq_cache_store_basic(tqmovie_client &c, const tq_basic *rec, const char *language) noexcept {
    put<basic_kind>(c, rec, language, TQMOVIE_DETAIL_ALL);
}
void tq_cache_store_detail(tqmovie_client &c, const tq_detail *rec, const char *language, uint32_t sections) noexcept {
    put<detail_kind>(c, rec, language, sections);
}

extern "C" {

TQMOVIE_API tq_cache_entry *tq_cache_find(const char *imdb_id) {
    tqmovie_client &c = client();
    const size_t k = find(c, imdb_id);
    return k == none ? nullptr : &c.st->cache[k];
}

TQMOVIE_API void tq_cache_put_basic(const tq_basic *rec) {
    put<basic_kind>(client(), rec, nullptr, TQMOVIE_DETAIL_ALL);
}
TQMOVIE_API void tq_cache_put_detail(const tq_detail *rec) {
    put<detail_kind>(client(), rec, nullptr, TQMOVIE_DETAIL_ALL);
}

TQMOVIE_API int32_t tq_cache_get_basic(const char *imdb_id, tq_basic *out) {
    return get<basic_kind>(client(), imdb_id, out, 0);
}
TQMOVIE_API int32_t tq_cache_get_detail(const char *imdb_id, tq_detail *out, int32_t sections) {
    return get<detail_kind>(client(), imdb_id, out, sections);
}

TQMOVIE_API int32_t tqmovie_cache_has(const char *imdb_id, int32_t *basic_fresh, int32_t *detail_fresh) {
    tqmovie_client &c = client();
    if (basic_fresh != nullptr) *basic_fresh = 0;
    if (detail_fresh != nullptr) *detail_fresh = 0;
    const size_t k = find(c, imdb_id);
    if (k == none) return 0;
    if (basic_fresh != nullptr) *basic_fresh = fresh<basic_kind>(c, k) != nullptr;
    if (detail_fresh != nullptr) *detail_fresh = fresh<detail_kind>(c, k) != nullptr;
    return 1;
}

TQMOVIE_API void tqmovie_cache_invalidate(const char *imdb_id) {
    tqmovie_client &c = client();
    const size_t k = find(c, imdb_id);
    if (k != none) remove(c, k);
    tq_store_forget(c, imdb_id);
}

TQMOVIE_API void tqmovie_cache_clear(void) { tq_cache_clear(client()); }

TQMOVIE_API void tqmovie_cache_set_ttl(int32_t basic_ttl, int32_t detail_ttl) {
    tq_state &s = state();
    s.cache_ttl_basic = basic_ttl;
    s.cache_ttl_detail = detail_ttl;
}

TQMOVIE_API void tqmovie_cache_set_limit(uint64_t max_titles) {
    tqmovie_client &c = client();
    c.ext.cache_limit = static_cast<size_t>(max_titles);
    synced(c);
    enforce_limit(c);
}

TQMOVIE_API uint64_t tqmovie_cache_limit(void) { return ext().cache_limit; }

} // extern "C"
