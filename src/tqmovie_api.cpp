// SPDX-License-Identifier: MIT
// tqmovie_api: configuration and status, the result store's appends, the lookups and
// the result getters.
#include "tq_internal.h"

#include <cstdio>
#include <type_traits>

extern "C" {
TQMOVIE_API tq_state g_tq;
}

namespace {

const char k_path_is_movie[] = "/api/AAA/IsMovie";
const char k_path_basic[] = "/api/AAA/GetMovieBasic";
const char k_path_detail[] = "/api/AAA/GetMovieDetail";
const char k_path_basics[] = "/api/AAA/GetMovieBasics?read=true&ignoreNew=%s&getKeys=false";
const char k_path_details[] = "/api/AAA/GetMovieDetails?read=true&getKeys=false";
const char k_path_trans[] = "/api/AAA/GetMovieTranslations?read=true&getKeys=false&part1=%s&part2=%s";

// ----------------------------------------------------------------------------
// Configuration
// ----------------------------------------------------------------------------

void set_default_host(tq_state &s) noexcept { std::snprintf(s.host, sizeof s.host, "%s", TQMOVIE_DEFAULT_HOST); }

// Fills whatever configuration is still unset. The lifetimes are tested together so
// that a host may switch off expiry of one kind by setting it alone to 0.
tq_state &ensure_defaults() noexcept {
    tq_state &s = state();
    if (s.host[0] == '\0') set_default_host(s);
    if (s.batch_ceiling == 0) s.batch_ceiling = tq_default_batch_ceiling;
    if (s.cache_ttl_basic == 0 && s.cache_ttl_detail == 0) {
        s.cache_ttl_basic = tq_default_ttl_basic;
        s.cache_ttl_detail = tq_default_ttl_detail;
    }
    return s;
}

// One operation (probe, lookup, batch) on the current client, from its entry to its
// return: what tqmovie_cancel can end. A second one started on the same client while
// the first runs (from a progress callback or a backend) is refused.
class operation {
public:
    operation() noexcept : x_(ext()) {
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
    if (op.nested()) return tq_fail(TQMOVIE_ERR_ARG, tq_err_busy);
    tq_state &s = ensure_defaults();
    if (clear_store) tq_clear_results();
    s.err[0] = '\0';
    s.http_code = 0;
    s.header_count = 0;
    if (!args_ok) return tq_fail(TQMOVIE_ERR_ARG, arg_text);
    if (!s.has_io) return tq_fail(TQMOVIE_ERR_NO_IO, tq_err_no_io);
    return TQMOVIE_OK;
}

// After a dispatch: a failed request's body (an error page, say) goes back to the
// standard heap unread; a successful one must carry a body. Returns the status.
int32_t take_body(int32_t st, char **body) noexcept {
    if (st != TQMOVIE_OK) {
        std::free(*body);
        *body = nullptr;
        return st;
    }
    if (!*body) return tq_fail(TQMOVIE_ERR_EMPTY, tq_err_empty_body);
    return TQMOVIE_OK;
}

// One GET or POST of a URL built with tq_fmt; on TQMOVIE_OK *body holds the answer.
int32_t get_body(char *url, char **body) noexcept {
    malloc_ptr<char> owned(url);
    *body = nullptr;
    if (!url) return TQMOVIE_ERR_NOMEM;
    int32_t status = 0;
    return take_body(tq_http_get(url, body, &status), body);
}

int32_t post_body(const char *path, const char *const *ids, size_t count, char **body) noexcept {
    *body = nullptr;
    malloc_ptr<char> joined(tq_join_ids(ids, count));
    if (!joined) return TQMOVIE_ERR_NOMEM;
    malloc_ptr<char> url(tq_fmt("%s%s", state().host, path));
    if (!url) return TQMOVIE_ERR_NOMEM;
    int32_t status = 0;
    return take_body(tq_http_post(url.get(), joined.get(), body, &status), body);
}

// A body handed over with a successful dispatch goes back through the backend.
void release_body(char *body) noexcept { tq_io_release(state().io, body); }

// Tells the progress callback that a chunk ended with `status`.
void report_chunk(uint64_t done, uint64_t total, int32_t status) noexcept {
    ext().done = done;
    tq_report_progress(tqmovie_progress{sizeof(tqmovie_progress), TQMOVIE_PROGRESS_CHUNK_DONE, status, done, total, 0,
                                        state().http_code});
}

// ----------------------------------------------------------------------------
// Result store
// ----------------------------------------------------------------------------

// Appends a deep copy of rec (a detail record with the given sections). 8 when the
// list cannot grow or the copy runs out of memory; nothing half-copied stays.
template <typename R> int32_t push(const R *rec, uint32_t sections = TQMOVIE_DETAIL_ALL) noexcept {
    using st = tq_store<R>;
    tq_state &s = state();
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

// Moves a decoded record into the store, leaving it empty; the stored record (valid
// until the next append), or NULL when the store cannot grow.
template <typename R> R *push_move(R *rec) noexcept {
    using st = tq_store<R>;
    tq_state &s = state();
    size_t &count = s.*st::count;
    if (count == SIZE_MAX || !tq_grow(&(s.*st::items), &(s.*st::cap), count + 1, st::first_cap)) return nullptr;
    R *slot = &(s.*st::items)[count++];
    *slot = *rec;
    tq_reset(rec);
    return slot;
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
    static constexpr const char *single_path = k_path_basic;
    static constexpr uint32_t sections = TQMOVIE_DETAIL_ALL;
    static const tq_basic *cache_answer(const char *id, const char *language) noexcept {
        return tq_cache_answer_basic(id, language);
    }
    static int32_t decode(const char *body, tq_basic **out, size_t *n, int32_t expect_array, size_t most) noexcept {
        return tq_parse_basic_most(body, out, n, expect_array, most);
    }
    static void cache_put(const tq_basic *r, const char *language) noexcept { tq_cache_store_basic(r, language); }
    // The service is told not to fetch unknown titles anew for multi-id requests only.
    static void batch_path(char (&path)[256], size_t chunk) noexcept {
        std::snprintf(path, sizeof path, k_path_basics, chunk == 1 ? "false" : "true");
    }
};

struct detail_ops {
    using rec = tq_detail;
    static constexpr const char *single_path = k_path_detail;
    uint32_t sections; // never 0 here: 0 was already read as every section
    const tq_detail *cache_answer(const char *id, const char *language) const noexcept {
        return tq_cache_answer_detail(id, language, sections);
    }
    int32_t decode(const char *body, tq_detail **out, size_t *n, int32_t expect_array, size_t most) const noexcept {
        return tq_parse_detail_most(body, out, n, expect_array, sections, most);
    }
    void cache_put(const tq_detail *r, const char *language) const noexcept {
        tq_cache_store_detail(r, language, sections);
    }
    static void batch_path(char (&path)[256], size_t) noexcept {
        std::snprintf(path, sizeof path, "%s", k_path_details);
    }
};

// "<host><path>?imdbId=<id>&language=<lang>", both values percent-encoded; a null
// or empty language is "en-US".
char *mkurl_get(const char *path, const char *imdb_id, const char *language) noexcept {
    malloc_ptr<char> id(tq_url_encode(imdb_id));
    malloc_ptr<char> lang(tq_url_encode(language && language[0] ? language : "en-US"));
    if (!id || !lang) return nullptr;
    return tq_fmt("%s%s?imdbId=%s&language=%s", state().host, path, id.get(), lang.get());
}

// The most records a batch answer to n ids may hold: a few more than asked (a service
// may answer an id twice, or a whole file of fixtures) but never a number the server
// chooses, so memory follows the request.
size_t answer_bound(size_t n) noexcept { return n > (SIZE_MAX - 16) / 4 ? SIZE_MAX : 4 * n + 16; }

// The ids a request asked for, to cache only records filed under one of them: an
// answer must not plant a record for a title nobody asked about. Without memory for
// the list nothing is cached.
class asked_ids {
public:
    asked_ids(const char *const *ids, size_t n) noexcept : ids_(tq_calloc_n<const char *>(n ? n : 1)) {
        if (!ids_) return;
        for (size_t i = 0; i < n; ++i)
            if (ids[i]) ids_.get()[n_++] = ids[i];
        std::qsort(ids_.get(), n_, sizeof(const char *), compare);
    }
    bool has(const char *id) const noexcept {
        return id && ids_ && std::bsearch(&id, ids_.get(), n_, sizeof(const char *), compare);
    }

private:
    static int compare(const void *a, const void *b) noexcept {
        return std::strcmp(*static_cast<const char *const *>(a), *static_cast<const char *const *>(b));
    }
    malloc_ptr<const char *> ids_;
    size_t n_ = 0;
};

// One title: a fresh cached record fetched the same way answers without a request,
// copied straight into the store; otherwise one GET, and the first decoded record
// moves into the store and is copied into the cache when it carries the id asked for.
template <typename Ops> int32_t single_lookup(const char *imdb_id, const char *language, const Ops &ops) noexcept {
    using Rec = typename Ops::rec;
    const operation op;
    int32_t st = begin_lookup(op, true, imdb_id && imdb_id[0], tq_err_id_required);
    if (st != TQMOVIE_OK) return st;
    if (const Rec *cached = ops.cache_answer(imdb_id, language)) return push(cached, ops.sections);

    char *body = nullptr;
    st = get_body(mkurl_get(Ops::single_path, imdb_id, language), &body);
    if (st != TQMOVIE_OK) return st;
    decoded<Rec> recs;
    st = ops.decode(body, &recs.items, &recs.count, 0, 1); // only the first record counts
    release_body(body);
    if (st != TQMOVIE_OK) return st;
    const Rec *stored = push_move(&recs.items[0]);
    if (!stored) return TQMOVIE_ERR_NOMEM;
    if (stored->imdb_id && std::strcmp(stored->imdb_id, imdb_id) == 0) ops.cache_put(stored, language);
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

// One chunk of a batch: one request, its records moved into the store and copied
// into the cache (a batch names no language: "en-US").
template <typename Ops> int32_t batch_chunk(const char *const *ids, size_t n, const Ops &ops) noexcept {
    using Rec = typename Ops::rec;
    char path[256];
    ops.batch_path(path, n);
    char *body = nullptr;
    int32_t st = post_body(path, ids, n, &body);
    if (st != TQMOVIE_OK) return st;
    decoded<Rec> recs;
    st = ops.decode(body, &recs.items, &recs.count, 1, answer_bound(n));
    release_body(body);
    // A null or empty answer is a chunk without records, not a failure.
    if (st != TQMOVIE_OK && st != TQMOVIE_ERR_EMPTY) return st;
    const asked_ids asked(ids, n);
    for (size_t i = 0; i < recs.count; ++i) {
        const Rec *stored = push_move(&recs.items[i]);
        if (!stored) return TQMOVIE_ERR_NOMEM;
        if (asked.has(stored->imdb_id)) ops.cache_put(stored, nullptr);
    }
    return TQMOVIE_OK;
}

// Many titles in chunks of at most the batch ceiling, each reported to the progress
// callback. The first failing chunk ends the call; the records of earlier chunks stay
// in the store and the cache.
template <typename Ops> int32_t batch_lookup(const char *const *ids, size_t count, const Ops &ops) noexcept {
    const operation op;
    char why[96];
    int32_t st = begin_lookup(op, true, ids_ok(ids, count, why), why);
    if (st != TQMOVIE_OK) return st;
    const uint64_t ceiling = tqmovie_batch_ceiling();
    ext().total = count;
    for (size_t off = 0; off < count;) {
        // A cancel between chunks (from the progress callback, say), or the deadline,
        // ends the batch here.
        if (const int32_t stop = tq_stop_status()) return stop;
        const size_t left = count - off;
        const size_t chunk = left < ceiling ? left : static_cast<size_t>(ceiling);
        st = batch_chunk(ids + off, chunk, ops);
        off += chunk;
        report_chunk(off, count, st);
        if (st != TQMOVIE_OK) return st;
    }
    return TQMOVIE_OK;
}

// The one request of a translations lookup, its sets appended to the store.
int32_t translations(const char *const *ids, size_t count, const char *part1, const char *part2) noexcept {
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
    int32_t st = post_body(path.get(), ids, count, &body);
    if (st != TQMOVIE_OK) return st;
    decoded<tq_trans> sets;
    st = tq_parse_trans_most(body, &sets.items, &sets.count, answer_bound(count));
    release_body(body);
    if (st != TQMOVIE_OK && st != TQMOVIE_ERR_EMPTY) return st;
    for (size_t i = 0; i < sets.count; ++i)
        if (!push_move(&sets.items[i])) return TQMOVIE_ERR_NOMEM;
    return TQMOVIE_OK;
}

// ----------------------------------------------------------------------------
// Getters: one bounds check behind every indexed read, so that each exported
// getter stays one line.
// ----------------------------------------------------------------------------

inline int32_t low32(size_t n) noexcept { return static_cast<int32_t>(static_cast<uint32_t>(n)); }

template <typename R> int32_t count_of() noexcept { return low32(state().*tq_store<R>::count); }

// Field m of stored record i, or `none` out of range.
template <typename R, typename F> F field(int32_t i, F R::*m, std::type_identity_t<F> none) noexcept {
    // Not through tq_stored: a getter need not test the record's address for NULL.
    const tq_state &s = state();
    return tq_is_stored<R>(s, i) ? (s.*tq_store<R>::items)[i].*m : none;
}

// The count of list n of record i (its low 32 bits), 0 out of range.
template <typename R> int32_t count_of(int32_t i, size_t R::*n) noexcept { return low32(field(i, n, 0)); }

// Element j of the list (a, n) of record i: the element itself (a list of texts) or
// its member m (a list of sub-records); `none` when either index is out of range.
template <typename R, typename E> const E *element(int32_t i, int32_t j, E *R::*a, size_t R::*n) noexcept {
    const R *r = tq_stored<R>(i);
    if (!r || !(r->*a) || j < 0 || static_cast<uint64_t>(j) >= r->*n) return nullptr;
    return &(r->*a)[j];
}
template <typename R> const char *item(int32_t i, int32_t j, char **R::*a, size_t R::*n) noexcept {
    const char *const *e = element(i, j, a, n);
    return e ? *e : nullptr;
}
template <typename R, typename E, typename F>
F item(int32_t i, int32_t j, E *R::*a, size_t R::*n, F E::*m, std::type_identity_t<F> none) noexcept {
    const E *e = element(i, j, a, n);
    return e ? e->*m : none;
}

} // namespace

extern "C" {

// ----------------------------------------------------------------------------
// Version of the loaded library
// ----------------------------------------------------------------------------

const char *tqmovie_version(void) { return TQMOVIE_VERSION_STRING; }

uint32_t tqmovie_version_number(void) { return static_cast<uint32_t>(TQMOVIE_VERSION_HEX); }

// ----------------------------------------------------------------------------
// Configuration and status
// ----------------------------------------------------------------------------

void tqmovie_set_io(const tq_io *io) {
    tq_state &s = ensure_defaults();
    s.io = io ? *io : tq_io{};
    s.has_io = io ? 1 : 0;
}

void tqmovie_set_host(const char *host) {
    tq_state &s = ensure_defaults();
    if (!host || !host[0]) {
        set_default_host(s);
        return;
    }
    // Format into scratch space: the argument may be the stored host itself.
    char tmp[sizeof s.host];
    if (std::strncmp(host, "http://", 7) == 0 || std::strncmp(host, "https://", 8) == 0)
        std::snprintf(tmp, sizeof tmp, "%s", host);
    else
        std::snprintf(tmp, sizeof tmp, "https://%s", host);
    std::memcpy(s.host, tmp, sizeof tmp);
}

const char *tqmovie_last_error(void) { return state().err[0] ? state().err : ""; }

int32_t tqmovie_last_http_code(void) { return state().http_code; }

const char *tqmovie_last_response_header(const char *name) {
    if (!name) return nullptr;
    tq_state &s = state();
    const int32_t n = s.header_count < 32 ? s.header_count : 32;
    for (int32_t i = 0; i < n; ++i)
        if (tq_stricmp(s.headers[i].name, name) == 0) return s.headers[i].value;
    return nullptr;
}

void tqmovie_shutdown(void) {
    tq_clear_results();
    tqmovie_cache_clear();
    tq_state &s = state();
    s.has_io = 0;
    s.err[0] = '\0';
    s.http_code = 0;
    s.header_count = 0;
}

// ----------------------------------------------------------------------------
// Title-kind probe
// ----------------------------------------------------------------------------

int32_t tqmovie_is_movie(const char *imdb_id, int32_t *is_movie) {
    const operation op;
    int32_t st = begin_lookup(op, false, imdb_id && imdb_id[0], tq_err_id_required);
    if (is_movie) *is_movie = 0;
    if (st != TQMOVIE_OK) return st;
    malloc_ptr<char> id(tq_url_encode(imdb_id));
    if (!id) return TQMOVIE_ERR_NOMEM;
    char *body = nullptr;
    st = get_body(tq_fmt("%s%s?imdbId=%s", state().host, k_path_is_movie, id.get()), &body);
    if (st != TQMOVIE_OK) return st;
    const char *p = body;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    int32_t answer = 0;
    if (std::strncmp(p, "true", 4) == 0) {
        answer = 1;
    } else if (std::strncmp(p, "false", 5) != 0) {
        tq_set_err("unexpected IsMovie body");
        st = TQMOVIE_ERR_PARSE;
    }
    if (is_movie) *is_movie = answer;
    release_body(body);
    return st;
}

// ----------------------------------------------------------------------------
// Single-title lookups
// ----------------------------------------------------------------------------

int32_t tqmovie_get_basic(const char *imdb_id, const char *language) {
    return single_lookup(imdb_id, language, basic_ops{});
}

int32_t tqmovie_get_detail(const char *imdb_id, const char *language, uint32_t sections) {
    return single_lookup(imdb_id, language, detail_ops{sections == 0 ? TQMOVIE_DETAIL_ALL : sections});
}

// ----------------------------------------------------------------------------
// Batch lookups
// ----------------------------------------------------------------------------

int32_t tqmovie_get_basics(const char *const *ids, size_t count) { return batch_lookup(ids, count, basic_ops{}); }

int32_t tqmovie_get_details(const char *const *ids, size_t count, const char *unused, int32_t sections) {
    (void)unused;
    const uint32_t mask = sections == 0 ? TQMOVIE_DETAIL_ALL : static_cast<uint32_t>(sections);
    return batch_lookup(ids, count, detail_ops{mask});
}

// Translations go in one request, reported as one chunk.
int32_t tqmovie_get_translations(const char *const *ids, size_t count, const char *part1, const char *part2) {
    const operation op;
    char why[96];
    int32_t st = begin_lookup(op, true, ids_ok(ids, count, why), why);
    if (st != TQMOVIE_OK) return st;
    ext().total = count;
    st = translations(ids, count, part1, part2);
    report_chunk(count, count, st);
    return st;
}

// ----------------------------------------------------------------------------
// Result getters
// ----------------------------------------------------------------------------

// One line per getter, however long, so that each name is found by grep with its body.
// clang-format off
int32_t tqmovie_basic_count(void) { return count_of<tq_basic>(); }
const char *tqmovie_basic_imdb_id(int32_t i) { return field(i, &tq_basic::imdb_id, nullptr); }
const char *tqmovie_basic_title(int32_t i) { return field(i, &tq_basic::title, nullptr); }
const char *tqmovie_basic_tagline(int32_t i) { return field(i, &tq_basic::tagline, nullptr); }
const char *tqmovie_basic_plot(int32_t i) { return field(i, &tq_basic::plot, nullptr); }
const char *tqmovie_basic_poster_url(int32_t i) { return field(i, &tq_basic::poster_url, nullptr); }
const char *tqmovie_basic_picture_url(int32_t i) { return field(i, &tq_basic::picture_url, nullptr); }
int32_t tqmovie_basic_id(int32_t i) { return field(i, &tq_basic::id, 0); }
int32_t tqmovie_basic_year(int32_t i) { return field(i, &tq_basic::year, -1); }
int32_t tqmovie_basic_duration(int32_t i) { return field(i, &tq_basic::duration, -1); }
int32_t tqmovie_basic_is_tv(int32_t i) { return field(i, &tq_basic::is_tv, -1); }
int32_t tqmovie_basic_directors_count(int32_t i) { return count_of(i, &tq_basic::directors_count); }
const char *tqmovie_basic_director(int32_t i, int32_t j) { return item(i, j, &tq_basic::directors, &tq_basic::directors_count); }
int32_t tqmovie_basic_genres_count(int32_t i) { return count_of(i, &tq_basic::genres_count); }
const char *tqmovie_basic_genre(int32_t i, int32_t j) { return item(i, j, &tq_basic::genres, &tq_basic::genres_count); }
int32_t tqmovie_basic_ratings_count(int32_t i) { return count_of(i, &tq_basic::ratings_count); }
const char *tqmovie_basic_rating_source(int32_t i, int32_t j) { return item(i, j, &tq_basic::ratings, &tq_basic::ratings_count, &tq_rating::source, nullptr); }
double tqmovie_basic_rating_value(int32_t i, int32_t j) { return item(i, j, &tq_basic::ratings, &tq_basic::ratings_count, &tq_rating::value, tq_nan()); }

int32_t tqmovie_detail_count(void) { return count_of<tq_detail>(); }
const char *tqmovie_detail_imdb_id(int32_t i) { return field(i, &tq_detail::imdb_id, nullptr); }
const char *tqmovie_detail_title(int32_t i) { return field(i, &tq_detail::title, nullptr); }
const char *tqmovie_detail_original_title(int32_t i) { return field(i, &tq_detail::original_title, nullptr); }
const char *tqmovie_detail_tagline(int32_t i) { return field(i, &tq_detail::tagline, nullptr); }
const char *tqmovie_detail_plot(int32_t i) { return field(i, &tq_detail::plot, nullptr); }
const char *tqmovie_detail_poster_url(int32_t i) { return field(i, &tq_detail::poster_url, nullptr); }
const char *tqmovie_detail_picture_url(int32_t i) { return field(i, &tq_detail::picture_url, nullptr); }
const char *tqmovie_detail_title_type(int32_t i) { return field(i, &tq_detail::title_type, nullptr); }
const char *tqmovie_detail_genres(int32_t i) { return field(i, &tq_detail::genres, nullptr); }
const char *tqmovie_detail_directors(int32_t i) { return field(i, &tq_detail::directors, nullptr); }
const char *tqmovie_detail_trailer_url(int32_t i) { return field(i, &tq_detail::trailer_url, nullptr); }
const char *tqmovie_detail_extension1(int32_t i) { return field(i, &tq_detail::extension1, nullptr); }
const char *tqmovie_detail_logo_base64(int32_t i) { return field(i, &tq_detail::logo_base64, nullptr); }
int32_t tqmovie_detail_id(int32_t i) { return field(i, &tq_detail::id, 0); }
int32_t tqmovie_detail_start_year(int32_t i) { return field(i, &tq_detail::start_year, -1); }
int32_t tqmovie_detail_end_year(int32_t i) { return field(i, &tq_detail::end_year, -1); }
int32_t tqmovie_detail_runtime(int32_t i) { return field(i, &tq_detail::runtime, -1); }
int32_t tqmovie_detail_is_tv(int32_t i) { return field(i, &tq_detail::is_tv, -1); }
double tqmovie_detail_imdb_rating(int32_t i) { return field(i, &tq_detail::imdb_rating, tq_nan()); }
int32_t tqmovie_detail_cast_count(int32_t i) { return count_of(i, &tq_detail::cast_count); }
const char *tqmovie_detail_cast_name(int32_t i, int32_t j) { return item(i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::name, nullptr); }
const char *tqmovie_detail_cast_id(int32_t i, int32_t j) { return item(i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::id, nullptr); }
const char *tqmovie_detail_cast_poster(int32_t i, int32_t j) { return item(i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::poster, nullptr); }
const char *tqmovie_detail_cast_role(int32_t i, int32_t j) { return item(i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::role, nullptr); }
const char *tqmovie_detail_cast_birthday(int32_t i, int32_t j) { return item(i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::birthday, nullptr); }
int32_t tqmovie_detail_picture_count(int32_t i) { return count_of(i, &tq_detail::picture_count); }
const char *tqmovie_detail_picture_item_url(int32_t i, int32_t j) { return item(i, j, &tq_detail::pictures, &tq_detail::picture_count, &tq_picture::url, nullptr); }
const char *tqmovie_detail_picture_item_lang(int32_t i, int32_t j) { return item(i, j, &tq_detail::pictures, &tq_detail::picture_count, &tq_picture::language, nullptr); }
int32_t tqmovie_detail_picture_item_w(int32_t i, int32_t j) { return item(i, j, &tq_detail::pictures, &tq_detail::picture_count, &tq_picture::width, 0); }
int32_t tqmovie_detail_picture_item_h(int32_t i, int32_t j) { return item(i, j, &tq_detail::pictures, &tq_detail::picture_count, &tq_picture::height, 0); }
int32_t tqmovie_detail_provider_count(int32_t i) { return count_of(i, &tq_detail::provider_count); }
const char *tqmovie_detail_provider_name(int32_t i, int32_t j) { return item(i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::name, nullptr); }
const char *tqmovie_detail_provider_country(int32_t i, int32_t j) { return item(i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::country, nullptr); }
const char *tqmovie_detail_provider_type(int32_t i, int32_t j) { return item(i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::type, nullptr); }
const char *tqmovie_detail_provider_logo(int32_t i, int32_t j) { return item(i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::logo, nullptr); }
const char *tqmovie_detail_provider_id(int32_t i, int32_t j) { return item(i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::provider_id, nullptr); }
int32_t tqmovie_detail_provider_priority(int32_t i, int32_t j) { return item(i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::display_priority, 0); }
int32_t tqmovie_detail_video_count(int32_t i) { return count_of(i, &tq_detail::video_count); }
const char *tqmovie_detail_video_name(int32_t i, int32_t j) { return item(i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::name, nullptr); }
const char *tqmovie_detail_video_key(int32_t i, int32_t j) { return item(i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::key, nullptr); }
const char *tqmovie_detail_video_site(int32_t i, int32_t j) { return item(i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::site, nullptr); }
const char *tqmovie_detail_video_type(int32_t i, int32_t j) { return item(i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::type, nullptr); }
const char *tqmovie_detail_video_id(int32_t i, int32_t j) { return item(i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::id, nullptr); }
const char *tqmovie_detail_video_lang(int32_t i, int32_t j) { return item(i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::lang, nullptr); }
const char *tqmovie_detail_video_region(int32_t i, int32_t j) { return item(i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::region, nullptr); }
int32_t tqmovie_detail_video_size(int32_t i, int32_t j) { return item(i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::size, 0); }
int32_t tqmovie_detail_related_count(int32_t i) { return count_of(i, &tq_detail::related_count); }
const char *tqmovie_detail_related_id(int32_t i, int32_t j) { return item(i, j, &tq_detail::related, &tq_detail::related_count); }

int32_t tqmovie_trans_count(void) { return count_of<tq_trans>(); }
const char *tqmovie_trans_imdb_id(int32_t i) { return field(i, &tq_trans::imdb_id, nullptr); }
int32_t tqmovie_trans_items_count(int32_t i) { return count_of(i, &tq_trans::items_count); }
const char *tqmovie_trans_item_title(int32_t i, int32_t j) { return item(i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::title, nullptr); }
const char *tqmovie_trans_item_plot(int32_t i, int32_t j) { return item(i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::plot, nullptr); }
const char *tqmovie_trans_item_tagline(int32_t i, int32_t j) { return item(i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::tagline, nullptr); }
const char *tqmovie_trans_item_lang(int32_t i, int32_t j) { return item(i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::lang, nullptr); }
const char *tqmovie_trans_item_region(int32_t i, int32_t j) { return item(i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::region, nullptr); }
const char *tqmovie_trans_item_directors(int32_t i, int32_t j) { return item(i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::directors, nullptr); }
const char *tqmovie_trans_item_actors(int32_t i, int32_t j) { return item(i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::actors, nullptr); }
// clang-format on

} // extern "C"
