// SPDX-License-Identifier: MIT
// Internal header shared by the library's modules: the state accessor, defaults and
// fixed texts, ownership guards, the growth helper, the record layouts and the tiny
// portability shims. Not installed.
#ifndef TQ_INTERNAL_H
#define TQ_INTERNAL_H

#include "tqmovie.h"

#include <yyjson.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <strings.h>

// ----------------------------------------------------------------------------
// Clients. The state every operation reads and writes is the calling thread's
// current client's: a client made with tqmovie_client_new, or the global one whose
// state is g_tq. Everything inside the library goes through these accessors and
// never names g_tq itself.
// ----------------------------------------------------------------------------

// What a lookup in progress may be told from outside: the bits of tq_ext::op.
inline constexpr uint32_t tq_op_running = 1u;
inline constexpr uint32_t tq_op_cancel = 2u;
// Set by the dispatch while the backend's entry runs: when tqmovie_io_header is heard.
inline constexpr uint32_t tq_op_request = 4u;
// Set during a request by a backend whose failure is worth another attempt (a connect
// that failed, a timeout): tqmovie_io_retryable, or the shipped libcurl backends.
inline constexpr uint32_t tq_op_retryable = 8u;

// The cache's private index beside the public slot array (tqmovie_cache.cpp).
struct tq_cache_index;

// Per-client settings and signals beyond the public state layout.
struct tq_ext {
    std::atomic<uint32_t> op{0}; // tq_op_* bits; written from other threads and signal handlers
    tqmovie_progress_fn progress = nullptr;
    void *progress_user = nullptr;
    tq_cache_index *cache_index = nullptr;
    size_t cache_limit = 0;       // most titles in the cache; 0: no limit
    uint32_t retries = 0;         // further attempts after a failed one; 0: none (tqmovie_set_retry)
    uint32_t max_wait_ms = 0;     // the longest single wait before another attempt
    uint32_t deadline_ms = 0;     // the longest one operation may take; 0: none
    int64_t deadline_at = 0;      // monotonic ms at which the running operation ends; 0: none
    uint64_t jitter = 0;          // the backoff's random state
    uint64_t done = 0, total = 0; // ids done and in all, for a retry's progress event
};

struct tqmovie_client {
    tq_state *st; // &own, or g_tq for the global client
    tq_ext ext;
    tq_state own;
};

// The global client, whose state is g_tq. Never freed.
extern tqmovie_client tq_global_client;

// Which client is current on the calling thread (tqmovie_client.cpp); never NULL, it
// starts as the global client. The initial-exec model makes reading it one load
// relative to the thread pointer instead of a call into the dynamic loader; it takes
// 8 bytes of the static TLS block, which glibc keeps room for even in a library
// loaded with dlopen.
extern __thread tqmovie_client *tq_current __attribute__((tls_model("initial-exec")));

inline tqmovie_client &client() noexcept { return *tq_current; }
inline tq_state &state() noexcept { return *tq_current->st; }
inline tq_ext &ext() noexcept { return client().ext; }

// True while the current client's operation has been asked to stop.
inline bool tq_cancel_requested() noexcept { return (ext().op.load(std::memory_order_relaxed) & tq_op_cancel) != 0; }

// Monotonic clock in milliseconds.
int64_t tq_monotonic_ms() noexcept;

// Why the current operation must stop now: TQMOVIE_ERR_CANCELLED ("cancelled") after
// tqmovie_cancel, TQMOVIE_ERR_TRANSPORT ("deadline exceeded") once its deadline has
// passed (the text set in both cases), else TQMOVIE_OK.
int32_t tq_stop_status() noexcept;
// The same question without a text: what a transfer in progress asks.
bool tq_stop_requested(const tqmovie_client &c) noexcept;
// Milliseconds left before the running operation's deadline, or -1 without one.
int64_t tq_deadline_left_ms() noexcept;

// After a failed attempt with status st (HTTP status http): the milliseconds to wait
// before another one (the answer's Retry-After, else a backoff with full jitter), or
// -1 when st stands (no retry wanted, none left, or a Retry-After longer than the
// client allows).
int64_t tq_retry_wait(int32_t st, int32_t http, uint32_t attempt) noexcept;
// Reports the wait to the progress callback and waits ms, ended early by a cancel or
// the deadline (a wait that would end after the deadline is neither reported nor
// begun); the status to end with, or 0.
int32_t tq_retry_sleep(int64_t ms, int32_t st) noexcept;

// Reports a progress event to the current client's callback; false when it asks to
// stop (which then cancels the operation like tqmovie_cancel). The error text is as it
// was before the call.
bool tq_report_progress(tqmovie_progress event) noexcept;

// Adds one response header to the table of s within its limits: the first 32 kept, a
// name of 1 to 63 visible characters without ':', a value (surrounding spaces and
// tabs dropped) cut at 255 characters. A name or value holding a control byte (CR, LF
// and a tab inside the value included) is never stored. false when it was left out.
bool tq_header_add(tq_state &s, const char *name, size_t name_len, const char *value, size_t value_len) noexcept;

// ----------------------------------------------------------------------------
// Defaults and fixed texts
// ----------------------------------------------------------------------------
inline constexpr size_t tq_default_batch_ceiling = 24;
inline constexpr int32_t tq_default_ttl_basic = 86400; // seconds
inline constexpr int32_t tq_default_ttl_detail = 21600;

inline constexpr char tq_err_no_io[] = "no IO backend set";
inline constexpr char tq_err_empty_body[] = "empty body";
inline constexpr char tq_err_id_required[] = "imdb_id required";
inline constexpr char tq_err_ids_required[] = "ids required";
inline constexpr char tq_err_cancelled[] = "cancelled";
inline constexpr char tq_err_busy[] = "a lookup is already running on this client";

// Sets the error text to one of the fixed texts and returns the status to report.
inline int32_t tq_fail(int32_t status, const char *text) noexcept {
    tq_set_err("%s", text);
    return status;
}

// ----------------------------------------------------------------------------
// Ownership guards: a failure path cannot forget what it holds.
// ----------------------------------------------------------------------------
struct free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <typename T> using malloc_ptr = std::unique_ptr<T, free_deleter>;

struct doc_deleter {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
};
using json_doc = std::unique_ptr<yyjson_doc, doc_deleter>;

// The release entry of every shipped backend: its buffers come from the standard heap.
inline void tq_io_free_heap(void *, void *p) noexcept { std::free(p); }

// A buffer a backend handed out: through its own release entry when it has one,
// otherwise with the standard heap's free (the backend contract's heap).
inline void tq_io_release(const tq_io &io, void *p) noexcept {
    if (!p) return;
    if (io.free)
        io.free(io.ctx, p);
    else
        std::free(p);
}

// ----------------------------------------------------------------------------
// Growth: one overflow-checked rule for every growing array. Makes room for at
// least `need` elements: `first` (or `need` if larger) on the first growth, then
// doubling (or `need` if larger), but never past `most` unless `need` is. New
// elements are not initialised. false, with *arr and *cap untouched, when the size
// would not fit or memory ran out.
// ----------------------------------------------------------------------------
template <typename T> bool tq_grow(T **arr, size_t *cap, size_t need, size_t first, size_t most = SIZE_MAX) noexcept {
    if (need <= *cap) return true;
    size_t n = *cap == 0 ? first : (*cap > SIZE_MAX / 2 ? SIZE_MAX : *cap * 2);
    if (n > most) n = most;
    if (n < need) n = need;
    if (n > SIZE_MAX / sizeof(T)) return false;
    T *p = static_cast<T *>(std::realloc(*arr, n * sizeof(T)));
    if (!p) return false;
    *arr = p;
    *cap = n;
    return true;
}

// Zero-filled array of n elements (calloc semantics, overflow-checked).
template <typename T> inline T *tq_calloc_n(size_t n) noexcept { return static_cast<T *>(std::calloc(n, sizeof(T))); }

// A new text formatted like printf, sized by a first pass; NULL when memory ran out.
char *tq_fmt(const char *fmt, ...) noexcept TQMOVIE_PRINTF(1, 2);

// ----------------------------------------------------------------------------
// Portability: the platform calls the library needs, in POSIX spelling.
// ----------------------------------------------------------------------------
inline int tq_stricmp(const char *a, const char *b) noexcept { return strcasecmp(a, b); }
// Calendar clock, whole seconds since 1970-01-01 UTC.
inline int64_t tq_now() noexcept { return static_cast<int64_t>(std::time(nullptr)); }

// ----------------------------------------------------------------------------
// Empty records. Zero-filled storage is not an empty basic or detail record:
// some fields read -1 or NaN when absent.
// ----------------------------------------------------------------------------
inline double tq_nan() noexcept {
    const uint64_t bits = 0x7FF8000000000000ull;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

inline void tq_reset_basic(tq_basic *r) noexcept {
    std::memset(r, 0, sizeof *r);
    r->year = -1;
    r->duration = -1;
    r->is_tv = -1;
}

inline void tq_reset_detail(tq_detail *r) noexcept {
    std::memset(r, 0, sizeof *r);
    r->start_year = -1;
    r->end_year = -1;
    r->runtime = -1;
    r->is_tv = -1;
    r->imdb_rating = tq_nan();
}

inline void tq_reset_trans(tq_trans *r) noexcept { std::memset(r, 0, sizeof *r); }

// Deep copy of a translation set (every item); 0, or -1 when the item array could
// not be allocated (dst then holds what was copied).
int32_t tq_copy_trans(tq_trans *dst, const tq_trans *src) noexcept;

// A deep copy that counts as failed (-1) when any text could not be copied either, so
// the record is whole or not at all: what the cache keeps and hands out, since a
// record missing a text would otherwise answer for a day. dst as for tq_copy_basic.
int32_t tq_copy_whole(tq_basic *dst, const tq_basic *src, uint32_t sections) noexcept;
int32_t tq_copy_whole(tq_detail *dst, const tq_detail *src, uint32_t sections) noexcept;

// One spelling for the three record kinds, for code that is generic over them.
inline void tq_reset(tq_basic *r) noexcept { tq_reset_basic(r); }
inline void tq_reset(tq_detail *r) noexcept { tq_reset_detail(r); }
inline void tq_reset(tq_trans *r) noexcept { tq_reset_trans(r); }
inline void tq_release(tq_basic *r) noexcept { tq_free_basic(r); }
inline void tq_release(tq_detail *r) noexcept { tq_free_detail(r); }
inline void tq_release(tq_trans *r) noexcept { tq_free_trans(r); }
inline int32_t tq_copy(tq_basic *d, const tq_basic *s, uint32_t) noexcept { return tq_copy_basic(d, s); }
inline int32_t tq_copy(tq_detail *d, const tq_detail *s, uint32_t sections) noexcept {
    return tq_copy_detail(d, s, sections);
}
inline int32_t tq_copy(tq_trans *d, const tq_trans *s, uint32_t) noexcept { return tq_copy_trans(d, s); }

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
template <typename R> const R *tq_stored(int32_t i) noexcept {
    const tq_state &s = state();
    return tq_is_stored<R>(s, i) ? &(s.*tq_store<R>::items)[i] : nullptr;
}

// ----------------------------------------------------------------------------
// Text out (tqmovie_export.cpp): a growing text with a sticky failure flag (once an
// append fails the text is lost and release() gives NULL), and records written in
// their complete JSON form, the one the decoders read back.
// ----------------------------------------------------------------------------
struct tq_text {
    char *data = nullptr;
    size_t len = 0, cap = 0;
    bool failed = false;
    size_t first_cap = 4096; // a record's complete text is a few kilobytes: start there
    tq_text() = default;
    explicit tq_text(size_t first) noexcept : first_cap(first) {}
    tq_text(const tq_text &) = delete;
    tq_text &operator=(const tq_text &) = delete;
    ~tq_text() { std::free(data); }
    // Appends (the text is NUL-terminated only by release()).
    void put(const char *bytes, size_t count) noexcept {
        if (count < cap - len) { // cap > len always holds once data exists; 0 - 0 never passes
            std::memcpy(data + len, bytes, count);
            len += count;
        } else {
            grow_and_put(bytes, count);
        }
    }
    template <size_t N> void put(const char (&literal)[N]) noexcept { put(literal, N - 1); }
    void put_text(const char *s) noexcept { put(s, std::strlen(s)); }
    void fmt(const char *f, ...) noexcept TQMOVIE_PRINTF(2, 3);
    void integer(int64_t v) noexcept;
    // The text (the caller's, to free), or NULL when an append failed.
    char *release() noexcept;

private:
    void grow_and_put(const char *bytes, size_t count) noexcept;
};
void tq_json_full(tq_text &out, const tq_basic &r) noexcept;
void tq_json_full(tq_text &out, const tq_detail &r) noexcept;
void tq_json_full(tq_text &out, const tq_trans &r) noexcept;
// A JSON string, escaped so that the text is valid JSON whatever bytes s holds; NULL
// is written null.
void tq_json_string(tq_text &out, const char *s) noexcept;

// The document decoders with a bound: at most `most` records of an array answer are
// built, the rest never (a NUL-terminated body).
int32_t tq_parse_basic_most(const char *body, tq_basic **out, size_t *count, int32_t expect_array,
                            size_t most) noexcept;
int32_t tq_parse_detail_most(const char *body, tq_detail **out, size_t *count, int32_t expect_array, uint32_t sections,
                             size_t most) noexcept;
int32_t tq_parse_trans_most(const char *body, tq_trans **out, size_t *count, size_t most) noexcept;

// ----------------------------------------------------------------------------
// What the lookups ask of the cache beyond the exported calls. A cached record
// answers a single-title lookup only when it was fetched in the same language (NULL,
// "" and "en-US" are one) and, for a detail record, holds every section asked for;
// the answer is the cached record itself, to be copied at once. Stores say what a
// record was fetched with.
// ----------------------------------------------------------------------------
const tq_basic *tq_cache_answer_basic(const char *imdb_id, const char *language) noexcept;
const tq_detail *tq_cache_answer_detail(const char *imdb_id, const char *language, uint32_t sections) noexcept;
void tq_cache_store_basic(const tq_basic *rec, const char *language) noexcept;
void tq_cache_store_detail(const tq_detail *rec, const char *language, uint32_t sections) noexcept;
// For the cache file: take over a heap record with its stamp (false: not stored, and
// released); what is known of slot k (a NULL language is "en-US"); and swapping the
// current client's whole cache with another client's (the size limit then applies).
bool tq_cache_adopt_basic(tq_basic *rec, const char *language, int64_t at) noexcept;
bool tq_cache_adopt_detail(tq_detail *rec, const char *language, uint32_t sections, int64_t at) noexcept;
struct tq_cache_slot_meta {
    const char *basic_lang, *detail_lang;
    uint32_t detail_sections;
};
tq_cache_slot_meta tq_cache_meta(size_t k) noexcept;
void tq_cache_swap(tqmovie_client &other) noexcept;

// ----------------------------------------------------------------------------
// Fixture file names, in their order of trial: one table for the fixture backend
// and the stand-in service, so the two always serve the same files. Each name takes
// the title id for its %s (the batch files take none); paths are "<dir>/<name>".
// ----------------------------------------------------------------------------
namespace tq_fixture_names {
inline constexpr const char *basic[] = {"basic-%s.json", "sample-GetMovieBasic-%s.json"};
inline constexpr const char *detail[] = {"detail-%s.json", "sample-GetMovieDetail-%s-TRUNCATED.json",
                                         "sample-GetMovieDetail-%s.json"};
// A detail batch never tries the plain sample name (the last single-title name).
inline constexpr const char *detail_batch[] = {detail[0], detail[1]};
inline constexpr const char *basics_batch[] = {"basics-batch.json", "sample-GetMovieBasics-batch2.json"};
inline constexpr const char *translations = "translations-batch.json";
} // namespace tq_fixture_names

#endif // TQ_INTERNAL_H
