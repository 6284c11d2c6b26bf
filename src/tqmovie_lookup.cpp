// SPDX-License-Identifier: MIT
// tqmovie_lookup: the operations that ask the service: the title-kind probe, single
// lookups, batches in chunks and translations, each from the cache when it can.
#include "tq_cache.h"
#include "tq_fallback.h"
#include "tq_internal.h"
#include "tq_log.h"
#include "tq_outcome.h"
#include "tq_parallel.h"
#include "tq_pool.h"
#include "tq_request.h"
#include "tq_results.h"
#include "tq_store.h"

#include <cstdio>
#include <type_traits>

namespace {

const char k_path_is_movie[] = "/api/AAA/IsMovie";
const char k_path_basics[] = "/api/AAA/GetMovieBasics?read=true&ignoreNew=%s&getKeys=false";
const char k_path_details[] = "/api/AAA/GetMovieDetails?read=true&getKeys=false";
const char k_path_trans[] = "/api/AAA/GetMovieTranslations?read=true&getKeys=false&part1=%s&part2=%s";

// One operation (probe, lookup, batch) on a client, from its entry to its return:
// what tqmovie_cancel can end. A second one started on the same client while the
// first runs (from a progress callback or a backend) is refused.
class operation {
public:
    explicit operation(tqmovie_client &owner) noexcept : c(owner), x_(owner.ext) {
        uint32_t idle = 0;
        nested_ = !x_.op.compare_exchange_strong(idle, tq_op_running);
        if (nested_) return;
        x_.deadline_at = x_.deadline_ms ? tq_monotonic_ms() + x_.deadline_ms : 0;
        x_.done = 0;
        x_.total = 1;
    }
    ~operation() {
        if (nested_) return;
        x_.deadline_at = 0;
        x_.op.store(0);
    }
    operation(const operation &) = delete;
    operation &operator=(const operation &) = delete;
    bool nested() const noexcept { return nested_; }
    tqmovie_client &c;

private:
    tq_ext &x_;
    bool nested_;
};

// Common start of every lookup: defaults, a clean error text, HTTP status and header
// table (so an answer from the cache or a refused argument shows nothing of an
// earlier request), the store emptied (not by the probe), then the argument and
// backend checks in that order. Returns the status to end the lookup with, or
// TQMOVIE_OK to go on. A nested operation is refused before it touches anything the
// running one uses.
int32_t begin_lookup(const operation &op, bool clear_store, bool args_ok, const char *arg_text) noexcept {
    tqmovie_client &c = op.c;
    if (op.nested()) return tq_fail(c, TQMOVIE_ERR_ARG, tq_err_busy);
    c.ext.last_stale = 0;
    tq_outcome_reset(c);
    tq_state &s = tq_ensure_defaults(*c.st);
    if (clear_store) tq_results_clear(s);
    s.err[0] = '\0';
    s.http_code = 0;
    s.header_count = 0;
    if (!args_ok) return tq_fail(c, TQMOVIE_ERR_ARG, arg_text);
    if (!s.has_io) return tq_fail(c, TQMOVIE_ERR_NO_IO, tq_err_no_io);
    return TQMOVIE_OK;
}

// After a dispatch: a failed request's body (an error page, say) goes back to the
// standard heap unread; a successful one must carry a body. Returns the status.
int32_t take_body(tqmovie_client &c, int32_t st, char **body) noexcept {
    if (st != TQMOVIE_OK) {
        std::free(*body);
        *body = nullptr;
        return st;
    }
    if (!*body) return tq_fail(c, TQMOVIE_ERR_EMPTY, tq_err_empty_body);
    return TQMOVIE_OK;
}

// One GET or POST of a URL built with tq_fmt; on TQMOVIE_OK *body holds the answer.
int32_t get_body(tqmovie_client &c, char *url, char **body) noexcept {
    malloc_ptr<char> owned(url);
    *body = nullptr;
    if (!url) return TQMOVIE_ERR_NOMEM;
    int32_t status = 0;
    return take_body(c, tq_request_get(c, url, body, &status), body);
}

int32_t post_body(tqmovie_client &c, const char *path, const char *const *ids, size_t count, char **body) noexcept {
    *body = nullptr;
    malloc_ptr<char> joined(tq_join_ids(ids, count));
    if (!joined) return TQMOVIE_ERR_NOMEM;
    malloc_ptr<char> url(tq_fmt("%s%s", c.st->host, path));
    if (!url) return TQMOVIE_ERR_NOMEM;
    int32_t status = 0;
    return take_body(c, tq_request_post(c, url.get(), joined.get(), body, &status), body);
}

// A body handed over with a successful dispatch goes back through the backend.
void release_body(const tqmovie_client &c, char *body) noexcept { tq_io_release(c.st->io, body); }

// Tells the progress callback that a chunk ended with `status`.
void report_chunk(tqmovie_client &c, uint64_t done, uint64_t total, int32_t status) noexcept {
    c.ext.done = done;
    tq_report_progress(c, tqmovie_progress{sizeof(tqmovie_progress), TQMOVIE_PROGRESS_CHUNK_DONE, status, done, total,
                                           0, c.st->http_code});
}

// Releases a decoder's output array and the records it counted.
template <typename R> struct decoded {
    R *items = nullptr;
    size_t count = 0;
    decoded() = default;
    decoded(const decoded &) = delete;
    decoded &operator=(const decoded &) = delete;
    ~decoded() {
        for (size_t i = 0; items && i < count; ++i) tq_release(&items[i]);
        std::free(items);
    }
};

// ----------------------------------------------------------------------------
// The record kinds a lookup can fetch: where each is asked for, how it is read
// from the cache, decoded and cached.
// ----------------------------------------------------------------------------

struct basic_ops {
    using rec = tq_basic;
    static constexpr bool is_detail = false;
    static constexpr const char *single_path = tq_path_basic;
    static const tq_basic *cache_answer(tqmovie_client &c, const char *id, const char *language) noexcept {
        return tq_cache_answer_basic(c, id, language);
    }
    static int32_t decode(tqmovie_client &c, const char *body, tq_basic **out, size_t *n, int32_t expect_array,
                          size_t most) noexcept {
        return tq_parse_basic_most(c, body, out, n, expect_array, most);
    }
    static void cache_put(tqmovie_client &c, const tq_basic *r, const char *language) noexcept {
        tq_cache_store_basic(c, r, language);
    }
    static const tq_basic *held(tqmovie_client &c, const char *id, const char *language, int64_t *past) noexcept {
        return tq_cache_held_basic(c, id, language, past);
    }
    static int32_t push(tq_state &s, const tq_basic *r) noexcept { return tq_results_push(s, r); }
    // The service is told not to fetch unknown titles anew for multi-id requests only.
    static void batch_path(char (&path)[256], size_t chunk) noexcept {
        std::snprintf(path, sizeof path, k_path_basics, chunk == 1 ? "false" : "true");
    }
};

struct detail_ops {
    using rec = tq_detail;
    static constexpr bool is_detail = true;
    static constexpr const char *single_path = tq_path_detail;
    uint32_t sections; // never 0 here: 0 was already read as every section
    const tq_detail *cache_answer(tqmovie_client &c, const char *id, const char *language) const noexcept {
        return tq_cache_answer_detail(c, id, language, sections);
    }
    int32_t decode(tqmovie_client &c, const char *body, tq_detail **out, size_t *n, int32_t expect_array,
                   size_t most) const noexcept {
        return tq_parse_detail_most(c, body, out, n, expect_array, sections, most);
    }
    void cache_put(tqmovie_client &c, const tq_detail *r, const char *language) const noexcept {
        tq_cache_store_detail(c, r, language, sections);
    }
    const tq_detail *held(tqmovie_client &c, const char *id, const char *language, int64_t *past) const noexcept {
        return tq_cache_held_detail(c, id, language, sections, past);
    }
    int32_t push(tq_state &s, const tq_detail *r) const noexcept { return tq_results_push(s, r, sections); }
    static void batch_path(char (&path)[256], size_t) noexcept {
        std::snprintf(path, sizeof path, "%s", k_path_details);
    }
};

// The most records a batch answer to n ids may hold: a few more than asked (a service
// may answer an id twice, or a whole file of fixtures) but never a number the server
// chooses, so memory follows the request.
size_t answer_bound(size_t n) noexcept { return n > (SIZE_MAX - 16) / 4 ? SIZE_MAX : 4 * n + 16; }

// What an operation ends with; a failure leaves no staleness to report.
int32_t ended(tqmovie_client &c, int32_t st) noexcept {
    if (st != TQMOVIE_OK) c.ext.last_stale = -1;
    return st;
}

// A failure the cache may answer for: no answer, the deadline, or the service busy or
// broken (HTTP 429 and 5xx). A cancel or a missing title is the answer itself.
bool stale_worthy(const tqmovie_client &c, int32_t st) noexcept {
    const int32_t http = c.st->http_code;
    return st == TQMOVIE_ERR_TRANSPORT || (st == TQMOVIE_ERR_HTTP && (http == 429 || http >= 500));
}

// A record of any age from the memory cache or the store answers for the service:
// offline, or after a failure st when it expired at most max_past seconds ago. Its age
// past its lifetime goes to tqmovie_last_stale. Otherwise the lookup ends with st (or,
// offline, with "offline: not cached").
template <typename Ops>
int32_t held_answer(tqmovie_client &c, const char *id, const char *language, const Ops &ops, int64_t max_past,
                    int32_t st) noexcept {
    int64_t past = 0;
    const typename Ops::rec *rec = ops.held(c, id, language, &past);
    if (!rec || past > max_past) return c.ext.offline ? tq_fail(c, TQMOVIE_ERR_TRANSPORT, tq_err_offline) : st;
    tq_log_cached(c, c.ext.cache_source, Ops::single_path, id, language);
    const int32_t pushed = ops.push(*c.st, rec);
    if (pushed != TQMOVIE_OK) return pushed;
    c.st->err[0] = '\0';
    c.ext.last_stale = past;
    return TQMOVIE_OK;
}

// One title: a fresh cached record fetched the same way answers without a request,
// copied straight into the store; otherwise one GET, and the first decoded record
// moves into the store and is copied into the cache when it carries the id asked for.
template <typename Ops>
int32_t single_answer(tqmovie_client &c, const char *imdb_id, const char *language, const Ops &ops) noexcept {
    using Rec = typename Ops::rec;
    int32_t st = TQMOVIE_OK;
    tq_state &s = *c.st;
    if (!c.ext.refresh)
        if (const Rec *cached = ops.cache_answer(c, imdb_id, language)) {
            tq_log_cached(c, c.ext.cache_source, Ops::single_path, imdb_id, language);
            return ops.push(s, cached);
        }
    if (c.ext.offline) return held_answer(c, imdb_id, language, ops, INT64_MAX, TQMOVIE_ERR_TRANSPORT);

    char *body = nullptr;
    st = get_body(c, tq_single_url(s, Ops::single_path, imdb_id, language), &body);
    if (st != TQMOVIE_OK && c.ext.max_stale > 0 && stale_worthy(c, st))
        return held_answer(c, imdb_id, language, ops, c.ext.max_stale, st);
    if (st != TQMOVIE_OK) return st;
    decoded<Rec> recs;
    st = ops.decode(c, body, &recs.items, &recs.count, 0, 1); // only the first record counts
    release_body(c, body);
    if (st != TQMOVIE_OK) return st;
    const Rec *stored = tq_results_take(s, &recs.items[0]);
    if (!stored) return TQMOVIE_ERR_NOMEM;
    if (stored->imdb_id && std::strcmp(stored->imdb_id, imdb_id) == 0) ops.cache_put(c, stored, language);
    return TQMOVIE_OK;
}

// One title, as single_answer finds it, its empty texts then filled from the language
// fallback's chain; a failure tells whether the title does not exist.
template <typename Ops>
int32_t single_lookup(tqmovie_client &c, const char *imdb_id, const char *language, const Ops &ops) noexcept {
    const operation op(c);
    int32_t st = begin_lookup(op, true, imdb_id && imdb_id[0], tq_err_id_required);
    if (st != TQMOVIE_OK) return st;
    tq_fallback_begin(c, language);
    st = single_answer(c, imdb_id, language, ops);
    if (st != TQMOVIE_OK) {
        tq_outcome_single(c, st);
        return st;
    }
    return c.ext.fallback ? tq_fallback_fill(c, Ops::is_detail, imdb_id) : TQMOVIE_OK;
}

// A record of one title in another language for the fallback: asked of the service
// whatever the cache holds, and never cached there.
template <typename Ops>
int32_t fetch_other(tqmovie_client &c, const char *id, const char *language, const Ops &ops,
                    typename Ops::rec **out) noexcept {
    using Rec = typename Ops::rec;
    *out = nullptr;
    char *body = nullptr;
    int32_t st = get_body(c, tq_single_url(*c.st, Ops::single_path, id, language), &body);
    if (st != TQMOVIE_OK) return st;
    decoded<Rec> recs;
    st = ops.decode(c, body, &recs.items, &recs.count, 0, 1);
    release_body(c, body);
    if (st != TQMOVIE_OK) return st;
    // Another title's record fills nothing.
    if (!recs.items[0].imdb_id || std::strcmp(recs.items[0].imdb_id, id) != 0) return TQMOVIE_ERR_EMPTY;
    auto *one = static_cast<Rec *>(std::malloc(sizeof(Rec)));
    if (!one) return TQMOVIE_ERR_NOMEM;
    *one = recs.items[0];
    recs.items[0] = Rec{};
    *out = one;
    return TQMOVIE_OK;
}

// The argument check of a batch: ids to join with commas must hold none themselves,
// nor white space or a control byte, or one id would go out as two (or carry bytes
// no request body should). Writes the text naming the first bad id into why and
// returns false.
bool ids_ok(const char *const *ids, size_t count, char (&why)[96]) noexcept {
    std::snprintf(why, sizeof why, "%s", tq_err_ids_required);
    if (!ids || count == 0) return false;
    for (size_t i = 0; i < count; ++i) {
        for (const char *p = ids[i]; p && *p; ++p) {
            const auto c = static_cast<unsigned char>(*p);
            const char *what = c == ','                ? "a comma"
                               : c == ' '              ? "white space"
                               : c < 0x20 || c == 0x7F ? "a control byte"
                                                       : nullptr;
            if (!what) continue;
            std::snprintf(why, sizeof why, "ids[%zu] contains %s", i, what);
            return false;
        }
    }
    return true;
}

// A chunk's answer: its records moved into the store and copied into the cache (a
// batch names no language: "en-US").
template <typename Ops>
int32_t adopt_chunk(tqmovie_client &c, const char *const *ids, size_t n, char *body, const Ops &ops) noexcept {
    using Rec = typename Ops::rec;
    decoded<Rec> recs;
    int32_t st = ops.decode(c, body, &recs.items, &recs.count, 1, answer_bound(n));
    release_body(c, body);
    // A null or empty answer is a chunk without records, not a failure.
    if (st != TQMOVIE_OK && st != TQMOVIE_ERR_EMPTY) return st;
    // Only records filed under an id asked for are cached: an answer must not plant a
    // record for a title nobody asked about. Without memory for the list none is.
    tq_id_set asked(n);
    for (size_t i = 0; i < n; ++i) asked.add(ids[i]);
    asked.seal();
    const tq_store_transaction together(c,
                                        tq_store_mode::write); // the chunk's records reach the store in one transaction
    for (size_t i = 0; i < recs.count; ++i) {
        const Rec *stored = tq_results_take(*c.st, &recs.items[i]);
        if (!stored) return TQMOVIE_ERR_NOMEM;
        if (asked.has(stored->imdb_id)) ops.cache_put(c, stored, nullptr);
    }
    return TQMOVIE_OK;
}

// A chunk answered from the memory cache and the store (a batch's language, "en-US"):
// offline, every id held, whatever its age (*missing counts the others); after a
// failure st, only when every id is held and expired at most max_stale seconds ago.
template <typename Ops>
int32_t held_chunk(tqmovie_client &c, const char *const *ids, size_t n, const Ops &ops, int32_t st,
                   size_t *missing) noexcept {
    const bool offline = c.ext.offline;
    int64_t worst = 0;
    size_t absent = 0;
    for (size_t i = 0; i < n; ++i) {
        int64_t past = 0;
        const typename Ops::rec *rec = ops.held(c, ids[i], nullptr, &past);
        if (!rec || (!offline && past > c.ext.max_stale)) ++absent;
        if (rec && past > worst) worst = past;
    }
    if (absent && !offline) return st;
    for (size_t i = 0; i < n; ++i) {
        int64_t past = 0;
        if (const typename Ops::rec *rec = ops.held(c, ids[i], nullptr, &past))
            if (const int32_t pushed = ops.push(*c.st, rec)) return pushed;
    }
    if (missing) *missing += absent;
    c.st->err[0] = '\0';
    if (worst > c.ext.last_stale) c.ext.last_stale = worst;
    return TQMOVIE_OK;
}

// One chunk of a batch: one request and its answer adopted.
template <typename Ops>
int32_t batch_chunk(tqmovie_client &c, const char *const *ids, size_t n, const Ops &ops, size_t *missing) noexcept {
    if (c.ext.offline) return held_chunk(c, ids, n, ops, TQMOVIE_ERR_TRANSPORT, missing);
    char path[256];
    ops.batch_path(path, n);
    char *body = nullptr;
    const int32_t st = post_body(c, path, ids, n, &body);
    if (st != TQMOVIE_OK && c.ext.max_stale > 0 && stale_worthy(c, st)) return held_chunk(c, ids, n, ops, st, nullptr);
    return st != TQMOVIE_OK ? st : adopt_chunk(c, ids, n, body, ops);
}

// The same chunks for the parallel run.
template <typename Ops> struct parallel_chunks {
    const Ops &ops;
    static char *url(void *ctx, tqmovie_client &c, size_t n) noexcept {
        char path[256];
        static_cast<parallel_chunks *>(ctx)->ops.batch_path(path, n);
        return tq_fmt("%s%s", c.st->host, path);
    }
    static int32_t adopt(void *ctx, tqmovie_client &c, const char *const *ids, size_t n, char *body) noexcept {
        return adopt_chunk(c, ids, n, body, static_cast<parallel_chunks *>(ctx)->ops);
    }
    static int32_t failed(void *ctx, tqmovie_client &c, const char *const *ids, size_t n, int32_t st) noexcept {
        if (c.ext.max_stale <= 0 || !stale_worthy(c, st)) return st;
        return held_chunk(c, ids, n, static_cast<parallel_chunks *>(ctx)->ops, st, nullptr);
    }
};

// Many titles in chunks of at most the batch ceiling, each reported to the progress
// callback. The first failing chunk ends the call; the records of earlier chunks stay
// in the store and the cache. With parallel chunks asked for and a pooled backend
// free to take them, the chunks go out side by side with the same outcome.
template <typename Ops>
int32_t batch_chunks(tqmovie_client &c, const char *const *&ids, size_t &count, const Ops &ops,
                     malloc_ptr<const char *> &rest) noexcept {
    int32_t st = TQMOVIE_OK;
    // With a store behind the cache the batch asks only for what it does not hold fresh.
    if (c.ext.store && !c.ext.refresh && !c.ext.offline) {
        rest.reset(tq_calloc_n<const char *>(count));
        if (!rest) return TQMOVIE_ERR_NOMEM;
        const tq_store_transaction snapshot(c, tq_store_mode::read); // one for every id, not one each
        size_t left = 0;
        for (size_t i = 0; i < count; ++i) {
            const typename Ops::rec *held = ops.cache_answer(c, ids[i], nullptr);
            if (!held) {
                rest.get()[left++] = ids[i];
                continue;
            }
            tq_log_cached(c, c.ext.cache_source, Ops::single_path, ids[i], nullptr);
            if (const int32_t pushed = ops.push(*c.st, held)) return pushed;
        }
        ids = rest.get();
        count = left;
        if (left == 0) return TQMOVIE_OK;
    }
    const size_t ceiling = c.st->batch_ceiling; // set by begin_lookup
    c.ext.total = count;
    const size_t chunks = count / ceiling + (count % ceiling != 0);
    if (c.ext.parallel > 1 && chunks > 1 && !c.ext.offline) {
        const size_t n = c.ext.parallel < chunks ? c.ext.parallel : chunks;
        if (tq_pool_batch *pb = tq_pool_batch_begin(c.st->io, n, c)) {
            parallel_chunks<Ops> pc{ops};
            const tq_chunk_ops table{&pc, parallel_chunks<Ops>::url, parallel_chunks<Ops>::adopt,
                                     parallel_chunks<Ops>::failed};
            return tq_parallel_batch(c, pb, n, ids, count, ceiling, table);
        }
    }
    size_t missing = 0; // offline: ids held nowhere
    for (size_t off = 0; off < count;) {
        // A cancel between chunks (from the progress callback, say), or the deadline,
        // ends the batch here.
        if (const int32_t stop = tq_stop_status(c)) return stop;
        const size_t left = count - off;
        const size_t chunk = left < ceiling ? left : ceiling;
        st = batch_chunk(c, ids + off, chunk, ops, &missing);
        off += chunk;
        if (st == TQMOVIE_OK) c.ext.answered = off;
        report_chunk(c, off, count, st);
        if (st != TQMOVIE_OK) return st;
    }
    if (missing) {
        tq_err(c, "offline: %zu ids not cached", missing);
        return TQMOVIE_ERR_TRANSPORT;
    }
    return TQMOVIE_OK;
}

// A batch, then the ids it asked for that no record answers (of the chunks answered).
template <typename Ops>
int32_t batch_lookup(tqmovie_client &c, const char *const *ids, size_t count, const Ops &ops) noexcept {
    const operation op(c);
    char why[96];
    const int32_t st = begin_lookup(op, true, ids_ok(ids, count, why), why);
    if (st != TQMOVIE_OK) return st;
    tq_fallback_begin(c, nullptr);
    // What was asked of the service (the ids the store did not hold), of which the
    // chunks answered the first c.ext.answered.
    const char *const *asked = ids;
    size_t asked_count = count;
    malloc_ptr<const char *> rest;
    const int32_t ran = batch_chunks(c, asked, asked_count, ops, rest);
    if (ran == TQMOVIE_ERR_NOMEM) return ran;
    const size_t answered = c.ext.answered;
    const int32_t listed = tq_outcome_missing(c, Ops::is_detail, ids, count, asked + answered, asked_count - answered);
    return ran != TQMOVIE_OK ? ran : listed;
}

// The one request of a translations lookup, its sets appended to the store.
int32_t translations(tqmovie_client &c, const char *const *ids, size_t count, const char *part1,
                     const char *part2) noexcept {
    // The two parts are the host's own texts of any length: the path is sized to them.
    malloc_ptr<char> path;
    {
        malloc_ptr<char> p1(tq_url_encode(part1 ? part1 : "zh"));
        malloc_ptr<char> p2(tq_url_encode(part2 ? part2 : "CN"));
        if (!p1 || !p2) return TQMOVIE_ERR_NOMEM;
        path.reset(tq_fmt(k_path_trans, p1.get(), p2.get()));
        if (!path) return TQMOVIE_ERR_NOMEM;
    }
    char *body = nullptr;
    int32_t st = post_body(c, path.get(), ids, count, &body);
    if (st != TQMOVIE_OK) return st;
    decoded<tq_trans> sets;
    st = tq_parse_trans_most(c, body, &sets.items, &sets.count, answer_bound(count));
    release_body(c, body);
    if (st != TQMOVIE_OK && st != TQMOVIE_ERR_EMPTY) return st;
    for (size_t i = 0; i < sets.count; ++i)
        if (!tq_results_take(*c.st, &sets.items[i])) return TQMOVIE_ERR_NOMEM;
    return TQMOVIE_OK;
}

} // namespace

char *tq_single_url(const tq_state &s, const char *path, const char *imdb_id, const char *language) noexcept {
    malloc_ptr<char> id(tq_url_encode(imdb_id));
    malloc_ptr<char> lang(tq_url_encode(language && language[0] ? language : "en-US"));
    if (!id || !lang) return nullptr;
    return tq_fmt("%s%s?imdbId=%s&language=%s", s.host, path, id.get(), lang.get());
}

int32_t tq_fetch_basic(tqmovie_client &c, const char *id, const char *language, tq_basic **out) noexcept {
    return fetch_other(c, id, language, basic_ops{}, out);
}
int32_t tq_fetch_detail(tqmovie_client &c, const char *id, const char *language, tq_detail **out) noexcept {
    return fetch_other(c, id, language, detail_ops{tq_sections_none}, out);
}

extern "C" {

// ----------------------------------------------------------------------------
// Title-kind probe
// ----------------------------------------------------------------------------

int32_t tqmovie_is_movie(const char *imdb_id, int32_t *is_movie) {
    tqmovie_client &c = client();
    const operation op(c);
    int32_t st = begin_lookup(op, false, imdb_id && imdb_id[0], tq_err_id_required);
    if (is_movie) *is_movie = 0;
    if (st != TQMOVIE_OK) return ended(c, st);
    if (c.ext.offline) return ended(c, tq_fail(c, TQMOVIE_ERR_TRANSPORT, tq_err_offline));
    malloc_ptr<char> id(tq_url_encode(imdb_id));
    if (!id) return ended(c, TQMOVIE_ERR_NOMEM);
    char *body = nullptr;
    st = get_body(c, tq_fmt("%s%s?imdbId=%s", c.st->host, k_path_is_movie, id.get()), &body);
    if (st != TQMOVIE_OK) tq_outcome_single(c, st);
    if (st != TQMOVIE_OK) return ended(c, st);
    const char *p = body;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    int32_t answer = 0;
    if (std::strncmp(p, "true", 4) == 0) {
        answer = 1;
    } else if (std::strncmp(p, "false", 5) != 0) {
        tq_err(c, "unexpected IsMovie body");
        st = TQMOVIE_ERR_PARSE;
    }
    if (is_movie) *is_movie = answer;
    release_body(c, body);
    return ended(c, st);
}

// ----------------------------------------------------------------------------
// Single-title lookups
// ----------------------------------------------------------------------------

int32_t tqmovie_get_basic(const char *imdb_id, const char *language) {
    tqmovie_client &c = client();
    return ended(c, single_lookup(c, imdb_id, language, basic_ops{}));
}

int32_t tqmovie_get_detail(const char *imdb_id, const char *language, uint32_t sections) {
    tqmovie_client &c = client();
    return ended(c, single_lookup(c, imdb_id, language, detail_ops{sections == 0 ? TQMOVIE_DETAIL_ALL : sections}));
}

// ----------------------------------------------------------------------------
// Batch lookups
// ----------------------------------------------------------------------------

int32_t tqmovie_get_basics(const char *const *ids, size_t count) {
    tqmovie_client &c = client();
    return ended(c, batch_lookup(c, ids, count, basic_ops{}));
}

int32_t tqmovie_get_details(const char *const *ids, size_t count, const char *unused, int32_t sections) {
    (void)unused;
    const uint32_t mask = sections == 0 ? TQMOVIE_DETAIL_ALL : static_cast<uint32_t>(sections);
    tqmovie_client &c = client();
    return ended(c, batch_lookup(c, ids, count, detail_ops{mask}));
}

// Translations go in one request, reported as one chunk.
int32_t tqmovie_get_translations(const char *const *ids, size_t count, const char *part1, const char *part2) {
    tqmovie_client &c = client();
    const operation op(c);
    char why[96];
    int32_t st = begin_lookup(op, true, ids_ok(ids, count, why), why);
    if (st != TQMOVIE_OK) return ended(c, st);
    c.ext.total = count;
    st = c.ext.offline ? tq_fail(c, TQMOVIE_ERR_TRANSPORT, tq_err_offline) : translations(c, ids, count, part1, part2);
    report_chunk(c, count, count, st);
    return ended(c, st);
}

} // extern "C"
