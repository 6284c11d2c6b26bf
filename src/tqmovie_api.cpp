// tqmovie_api: configuration and status, the result store's appends, the lookups,
// the result getters and the JSON export.
#include "tq_internal.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

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

void set_default_host() noexcept { std::snprintf(g_tq.host, sizeof g_tq.host, "%s", TQMOVIE_DEFAULT_HOST); }

// Fills whatever configuration is still unset. The lifetimes are tested together so
// that a host may switch off expiry of one kind by setting it alone to 0.
void ensure_defaults() noexcept {
    if (g_tq.host[0] == '\0') set_default_host();
    if (g_tq.batch_ceiling == 0) g_tq.batch_ceiling = 24;
    if (g_tq.cache_ttl_basic == 0 && g_tq.cache_ttl_detail == 0) {
        g_tq.cache_ttl_basic = 86400;
        g_tq.cache_ttl_detail = 21600;
    }
}

// Common start of every lookup.
void begin_lookup(bool clear_store) noexcept {
    ensure_defaults();
    if (clear_store) tq_clear_results();
    g_tq.err[0] = '\0';
    g_tq.http_code = 0;
}

// A body handed over with a successful dispatch goes back through the backend's own
// release entry; after a failed dispatch (or without that entry) the standard heap's.
void release_body_ok(char *body) noexcept {
    if (!body) return;
    if (g_tq.io.free) g_tq.io.free(g_tq.io.ctx, body);
    else std::free(body);
}

// ----------------------------------------------------------------------------
// Result store appends
// ----------------------------------------------------------------------------

template <typename T> bool grow_store(T **arr, size_t count, size_t *cap, size_t first_cap) noexcept {
    if (*cap >= count + 1) return true;
    const size_t new_cap = *cap == 0 ? first_cap : *cap * 2;
    if (new_cap < *cap || new_cap > SIZE_MAX / sizeof(T)) return false;
    T *p = static_cast<T *>(std::realloc(*arr, new_cap * sizeof(T)));
    if (!p) return false;
    *arr = p;
    *cap = new_cap;
    return true;
}

int32_t push_basic(const tq_basic *rec) noexcept {
    if (!grow_store(&g_tq.basics, g_tq.basic_count, &g_tq.basic_cap, 8)) return TQMOVIE_ERR_NOMEM;
    tq_basic *slot = &g_tq.basics[g_tq.basic_count];
    std::memset(slot, 0, sizeof *slot);
    if (tq_copy_basic(slot, rec) != 0) {
        tq_free_basic(slot);
        return TQMOVIE_ERR_NOMEM;
    }
    ++g_tq.basic_count;
    return TQMOVIE_OK;
}

int32_t push_detail(const tq_detail *rec, uint32_t sections) noexcept {
    if (!grow_store(&g_tq.details, g_tq.detail_count, &g_tq.detail_cap, 4)) return TQMOVIE_ERR_NOMEM;
    tq_detail *slot = &g_tq.details[g_tq.detail_count];
    std::memset(slot, 0, sizeof *slot);
    if (tq_copy_detail(slot, rec, sections) != 0) {
        tq_free_detail(slot);
        return TQMOVIE_ERR_NOMEM;
    }
    ++g_tq.detail_count;
    return TQMOVIE_OK;
}

// Appends a deep copy of a translation set. Text copies that fail leave the field
// NULL; only the item array itself is a hard failure.
int32_t push_trans(const tq_trans *set) noexcept {
    if (!grow_store(&g_tq.trans, g_tq.trans_count, &g_tq.trans_cap, 4)) return TQMOVIE_ERR_NOMEM;
    tq_trans *slot = &g_tq.trans[g_tq.trans_count];
    std::memset(slot, 0, sizeof *slot);
    const size_t n = set->items ? set->items_count : 0;
    if (n != 0) {
        slot->items = tq_calloc_n<tq_trans_item>(n);
        if (!slot->items) return TQMOVIE_ERR_NOMEM;
    }
    slot->imdb_id = tq_strdup(set->imdb_id);
    slot->items_count = n;
    for (size_t i = 0; i < n; ++i) {
        const tq_trans_item &s = set->items[i];
        tq_trans_item &d = slot->items[i];
        d.title = tq_strdup(s.title);
        d.tagline = tq_strdup(s.tagline);
        d.plot = tq_strdup(s.plot);
        d.directors = tq_strdup(s.directors);
        d.actors = tq_strdup(s.actors);
        d.lang = tq_strdup(s.lang);
        d.region = tq_strdup(s.region);
    }
    ++g_tq.trans_count;
    return TQMOVIE_OK;
}

// ----------------------------------------------------------------------------
// Single-title lookups
// ----------------------------------------------------------------------------

char *mkurl_get(const char *path, const char *imdb_id, const char *language) noexcept {
    malloc_ptr<char> id(tq_url_encode(imdb_id ? imdb_id : ""));
    malloc_ptr<char> lang(tq_url_encode(language && language[0] ? language : "en-US"));
    if (!id || !lang) return nullptr;
    const size_t n = std::strlen(g_tq.host) + std::strlen(path) + std::strlen(id.get()) + std::strlen(lang.get()) + 64;
    char *url = static_cast<char *>(std::malloc(n));
    if (url) std::snprintf(url, n, "%s%s?imdbId=%s&language=%s", g_tq.host, path, id.get(), lang.get());
    return url;
}

// Sends one GET and hands back the body of a successful answer. Returns the status
// to report; on success *body may still be NULL (reported by the caller as empty).
int32_t fetch_get(const char *path, const char *imdb_id, const char *language, char **body) noexcept {
    *body = nullptr;
    malloc_ptr<char> url(mkurl_get(path, imdb_id, language));
    if (!url) return TQMOVIE_ERR_NOMEM;
    int32_t status = 0;
    const int32_t st = tq_http_get(url.get(), body, &status);
    if (st != TQMOVIE_OK) {
        std::free(*body);
        *body = nullptr;
        return st;
    }
    if (!*body) {
        tq_set_err("empty body");
        return TQMOVIE_ERR_EMPTY;
    }
    return TQMOVIE_OK;
}

// Releases a decoder's output array and the records it counted.
template <typename T> struct decoded {
    T *items = nullptr;
    size_t count = 0;
    void (*release)(T *) = nullptr;
    explicit decoded(void (*rel)(T *)) : release(rel) {}
    decoded(const decoded &) = delete;
    decoded &operator=(const decoded &) = delete;
    ~decoded() {
        for (size_t i = 0; items && i < count; ++i) release(&items[i]);
        std::free(items);
    }
};

// ----------------------------------------------------------------------------
// Batch lookups
// ----------------------------------------------------------------------------

int32_t post_ids(const char *path, const char *const *ids, size_t count, char **body) noexcept {
    *body = nullptr;
    malloc_ptr<char> joined(tq_join_ids(ids, count));
    if (!joined) return TQMOVIE_ERR_NOMEM;
    const size_t n = std::strlen(g_tq.host) + std::strlen(path) + 8;
    malloc_ptr<char> url(static_cast<char *>(std::malloc(n)));
    if (!url) return TQMOVIE_ERR_NOMEM;
    std::snprintf(url.get(), n, "%s%s", g_tq.host, path);
    int32_t status = 0;
    return tq_http_post(url.get(), joined.get(), body, &status);
}

// Sends one batch request and returns the body of a successful answer in *body.
int32_t post_chunk(const char *path, const char *const *ids, size_t count, char **body) noexcept {
    const int32_t st = post_ids(path, ids, count, body);
    if (st != TQMOVIE_OK) {
        std::free(*body);
        *body = nullptr;
        return st;
    }
    if (!*body) {
        tq_set_err("empty body");
        return TQMOVIE_ERR_EMPTY;
    }
    return TQMOVIE_OK;
}

bool check_batch_args(const char *const *ids, size_t count, int32_t *st) noexcept {
    if (!ids || count == 0) {
        tq_set_err("ids required");
        *st = TQMOVIE_ERR_ARG;
        return false;
    }
    if (!g_tq.has_io) {
        tq_set_err("no IO backend set");
        *st = TQMOVIE_ERR_NO_IO;
        return false;
    }
    return true;
}

// ----------------------------------------------------------------------------
// The record kinds a lookup can fetch: how each is reset, read from the cache,
// decoded, appended, cached and released.
// ----------------------------------------------------------------------------

struct basic_ops {
    using rec = tq_basic;
    static constexpr const char *single_path = k_path_basic;
    static void reset(tq_basic *r) noexcept { tq_reset_basic(r); }
    static void release(tq_basic *r) noexcept { tq_free_basic(r); }
    int32_t cache_get(const char *id, tq_basic *r) const noexcept { return tq_cache_get_basic(id, r); }
    int32_t decode(const char *body, tq_basic **out, size_t *n, int32_t expect_array) const noexcept {
        return tq_parse_basic_doc(body, std::strlen(body), out, n, expect_array);
    }
    int32_t push(const tq_basic *r) const noexcept { return push_basic(r); }
    void cache_put(const tq_basic *r) const noexcept { tq_cache_put_basic(r); }
    // The service is told not to fetch unknown titles anew for multi-id requests only.
    void batch_path(char (&path)[256], size_t chunk) const noexcept {
        std::snprintf(path, sizeof path, k_path_basics, chunk == 1 ? "false" : "true");
    }
};

struct detail_ops {
    using rec = tq_detail;
    static constexpr const char *single_path = k_path_detail;
    uint32_t sections; // never 0 here: 0 was already read as every section
    static void reset(tq_detail *r) noexcept { tq_reset_detail(r); }
    static void release(tq_detail *r) noexcept { tq_free_detail(r); }
    int32_t cache_get(const char *id, tq_detail *r) const noexcept {
        return tq_cache_get_detail(id, r, static_cast<int32_t>(sections));
    }
    int32_t decode(const char *body, tq_detail **out, size_t *n, int32_t expect_array) const noexcept {
        return tq_parse_detail_doc(body, std::strlen(body), out, n, expect_array, sections);
    }
    int32_t push(const tq_detail *r) const noexcept { return push_detail(r, sections); }
    void cache_put(const tq_detail *r) const noexcept { tq_cache_put_detail(r); }
    void batch_path(char (&path)[256], size_t) const noexcept {
        std::snprintf(path, sizeof path, "%s", k_path_details);
    }
};

// One title: a fresh cached copy answers without a request; otherwise one GET, and
// the first decoded record is stored and cached.
template <typename Ops> int32_t single_lookup(const char *imdb_id, const char *language, const Ops &ops) noexcept {
    using Rec = typename Ops::rec;
    begin_lookup(true);
    if (!imdb_id || !imdb_id[0]) {
        tq_set_err("imdb_id required");
        return TQMOVIE_ERR_ARG;
    }
    if (!g_tq.has_io) {
        tq_set_err("no IO backend set");
        return TQMOVIE_ERR_NO_IO;
    }
    Rec cached;
    Ops::reset(&cached);
    if (ops.cache_get(imdb_id, &cached) == 1) {
        const int32_t st = ops.push(&cached);
        Ops::release(&cached);
        return st;
    }

    char *body = nullptr;
    int32_t st = fetch_get(Ops::single_path, imdb_id, language, &body);
    if (st != TQMOVIE_OK) return st;
    decoded<Rec> recs(Ops::release);
    st = ops.decode(body, &recs.items, &recs.count, 0);
    release_body_ok(body);
    if (st != TQMOVIE_OK) return st;
    if (recs.count == 0) return TQMOVIE_ERR_EMPTY;
    st = ops.push(&recs.items[0]);
    if (st == TQMOVIE_OK) ops.cache_put(&recs.items[0]);
    return st;
}

// Many titles in chunks of at most the batch ceiling. The first failing request ends
// the call; the records of earlier chunks stay in the store and the cache.
template <typename Ops> int32_t batch_lookup(const char *const *ids, size_t count, const Ops &ops) noexcept {
    using Rec = typename Ops::rec;
    begin_lookup(true);
    int32_t st = TQMOVIE_OK;
    if (!check_batch_args(ids, count, &st)) return st;
    const uint64_t ceiling = tqmovie_batch_ceiling();
    for (size_t off = 0; off < count;) {
        const size_t left = count - off;
        const size_t chunk = left < ceiling ? left : static_cast<size_t>(ceiling);
        char path[256];
        ops.batch_path(path, chunk);
        char *body = nullptr;
        st = post_chunk(path, ids + off, chunk, &body);
        if (st != TQMOVIE_OK) return st;
        decoded<Rec> recs(Ops::release);
        st = ops.decode(body, &recs.items, &recs.count, 1);
        release_body_ok(body);
        // A null or empty answer is a chunk without records, not a failure.
        if (st != TQMOVIE_OK && st != TQMOVIE_ERR_EMPTY) return st;
        for (size_t i = 0; i < recs.count; ++i) {
            if (ops.push(&recs.items[i]) != TQMOVIE_OK) return TQMOVIE_ERR_NOMEM;
            ops.cache_put(&recs.items[i]);
            Ops::release(&recs.items[i]);
        }
        off += chunk;
    }
    return TQMOVIE_OK;
}

// ----------------------------------------------------------------------------
// Getters: one bounds check behind every indexed read.
// ----------------------------------------------------------------------------

template <typename Rec> const Rec *rec_at(const Rec *items, size_t count, int32_t i) noexcept {
    if (i < 0 || static_cast<uint64_t>(i) >= count) return nullptr;
    return &items[i];
}

inline int32_t low32(size_t n) noexcept { return static_cast<int32_t>(static_cast<uint32_t>(n)); }

// ----------------------------------------------------------------------------
// JSON export: a growable text buffer with a sticky failure flag.
// ----------------------------------------------------------------------------

struct tq_ms {
    char *data;
    size_t length;
    size_t capacity;
    int32_t failed;
};

int tq_ms_put(tq_ms *b, const void *bytes, size_t count) noexcept {
    if (b->failed) return -1;
    if (count > SIZE_MAX - b->length - 1) {
        b->failed = 1;
        return -1;
    }
    const size_t need = b->length + count + 1;
    if (b->capacity < need) {
        size_t cap = b->capacity ? b->capacity * 2 : 256;
        while (cap < need) {
            if (cap > SIZE_MAX / 2) {
                cap = need;
                break;
            }
            cap *= 2;
        }
        char *p = static_cast<char *>(std::realloc(b->data, cap));
        if (!p) {
            b->failed = 1;
            return -1;
        }
        b->data = p;
        b->capacity = cap;
    }
    if (count) std::memcpy(b->data + b->length, bytes, count);
    b->length += count;
    b->data[b->length] = '\0';
    return 0;
}

int tq_ms_vfmt(tq_ms *b, const char *fmt, va_list ap) noexcept {
    if (b->failed) return -1;
    char local[256];
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(local, sizeof local, fmt, ap);
    if (n < 0) {
        va_end(again);
        b->failed = 1;
        return -1;
    }
    if (static_cast<size_t>(n) < sizeof local) {
        va_end(again);
        return tq_ms_put(b, local, static_cast<size_t>(n));
    }
    malloc_ptr<char> tmp(static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1)));
    if (!tmp) {
        va_end(again);
        b->failed = 1;
        return -1;
    }
    std::vsnprintf(tmp.get(), static_cast<size_t>(n) + 1, fmt, again);
    va_end(again);
    return tq_ms_put(b, tmp.get(), static_cast<size_t>(n));
}

int tq_ms_fmt(tq_ms *b, const char *fmt, ...) noexcept TQMOVIE_PRINTF(2, 3);
int tq_ms_fmt(tq_ms *b, const char *fmt, ...) noexcept {
    va_list ap;
    va_start(ap, fmt);
    const int r = tq_ms_vfmt(b, fmt, ap);
    va_end(ap);
    return r;
}

int tq_ms_puts(tq_ms *b, const char *s) noexcept { return tq_ms_put(b, s, std::strlen(s)); }

int json_esc(tq_ms *b, const char *s) noexcept {
    if (!s) return tq_ms_put(b, "null", 4);
    tq_ms_put(b, "\"", 1);
    // Copy runs of plain bytes in one append; escape the few that need it.
    const char *run = s;
    for (const char *p = s; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        tq_ms_put(b, run, static_cast<size_t>(p - run));
        run = p + 1;
        switch (c) {
        case '"': tq_ms_put(b, "\\\"", 2); break;
        case '\\': tq_ms_put(b, "\\\\", 2); break;
        case '\n': tq_ms_put(b, "\\n", 2); break;
        case '\r': tq_ms_put(b, "\\r", 2); break;
        case '\t': tq_ms_put(b, "\\t", 2); break;
        default: tq_ms_fmt(b, "\\u%04x", c); break;
        }
    }
    const char *end = run + std::strlen(run);
    tq_ms_put(b, run, static_cast<size_t>(end - run));
    return tq_ms_put(b, "\"", 1);
}

// "%g" of a non-finite double is not JSON; such a value is written as null.
int json_num(tq_ms *b, double v) noexcept {
    if (!std::isfinite(v)) return tq_ms_put(b, "null", 4);
    return tq_ms_fmt(b, "%g", v);
}

tq_ms ms_start() noexcept {
    tq_ms b{nullptr, 0, 0, 0};
    b.data = static_cast<char *>(std::malloc(256));
    if (!b.data) {
        b.failed = 1;
        return b;
    }
    b.capacity = 256;
    b.data[0] = '{';
    b.data[1] = '\0';
    b.length = 1;
    return b;
}

char *ms_finish(tq_ms *b) noexcept {
    if (b->failed) {
        std::free(b->data);
        return nullptr;
    }
    return b->data;
}

void json_str_array(tq_ms *b, char *const *items, size_t count) noexcept {
    for (size_t i = 0; items && i < count; ++i) {
        if (i) tq_ms_put(b, ",", 1);
        json_esc(b, items[i]);
    }
}

} // namespace

extern "C" {

// ----------------------------------------------------------------------------
// Configuration and status
// ----------------------------------------------------------------------------

void tqmovie_set_io(const tq_io *io) {
    ensure_defaults();
    if (io) {
        g_tq.io = *io;
        g_tq.has_io = 1;
    } else {
        g_tq.io = tq_io{};
        g_tq.has_io = 0;
    }
}

void tqmovie_set_host(const char *host) {
    ensure_defaults();
    if (!host || !host[0]) {
        set_default_host();
        return;
    }
    // Format into scratch space: the argument may be g_tq.host itself.
    char tmp[sizeof g_tq.host];
    if (std::strncmp(host, "http://", 7) == 0 || std::strncmp(host, "https://", 8) == 0)
        std::snprintf(tmp, sizeof tmp, "%s", host);
    else
        std::snprintf(tmp, sizeof tmp, "https://%s", host);
    std::memcpy(g_tq.host, tmp, sizeof tmp);
}

const char *tqmovie_last_error(void) { return g_tq.err[0] ? g_tq.err : ""; }

int32_t tqmovie_last_http_code(void) { return g_tq.http_code; }

const char *tqmovie_last_response_header(const char *name) {
    if (!name) return nullptr;
    const int32_t n = g_tq.header_count < 32 ? g_tq.header_count : 32;
    for (int32_t i = 0; i < n; ++i)
        if (tq_stricmp(g_tq.headers[i].name, name) == 0) return g_tq.headers[i].value;
    return nullptr;
}

void tqmovie_shutdown(void) {
    tq_clear_results();
    tqmovie_cache_clear();
    g_tq.has_io = 0;
    g_tq.err[0] = '\0';
    g_tq.http_code = 0;
    g_tq.header_count = 0;
}

// ----------------------------------------------------------------------------
// Title-kind probe
// ----------------------------------------------------------------------------

int32_t tqmovie_is_movie(const char *imdb_id, int32_t *is_movie) {
    begin_lookup(false);
    if (is_movie) *is_movie = 0;
    if (!imdb_id || !imdb_id[0]) {
        tq_set_err("imdb_id required");
        return TQMOVIE_ERR_ARG;
    }
    if (!g_tq.has_io) {
        tq_set_err("no IO backend set");
        return TQMOVIE_ERR_NO_IO;
    }
    malloc_ptr<char> id(tq_url_encode(imdb_id));
    if (!id) return TQMOVIE_ERR_NOMEM;
    const size_t n = std::strlen(g_tq.host) + std::strlen(id.get()) + 64;
    malloc_ptr<char> url(static_cast<char *>(std::malloc(n)));
    if (!url) return TQMOVIE_ERR_NOMEM;
    std::snprintf(url.get(), n, "%s%s?imdbId=%s", g_tq.host, k_path_is_movie, id.get());
    id.reset();

    char *body = nullptr;
    int32_t status = 0;
    const int32_t st = tq_http_get(url.get(), &body, &status);
    url.reset();
    if (st != TQMOVIE_OK) {
        std::free(body);
        return st;
    }
    if (!body) {
        tq_set_err("empty body");
        return TQMOVIE_ERR_EMPTY;
    }
    const char *p = body;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    int32_t answer = 0;
    int32_t result = TQMOVIE_OK;
    if (std::strncmp(p, "true", 4) == 0) {
        answer = 1;
    } else if (std::strncmp(p, "false", 5) != 0) {
        tq_set_err("unexpected IsMovie body");
        result = TQMOVIE_ERR_PARSE;
    }
    if (is_movie) *is_movie = answer;
    release_body_ok(body);
    return result;
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

int32_t tqmovie_get_translations(const char *const *ids, size_t count, const char *part1, const char *part2) {
    begin_lookup(true);
    int32_t st = TQMOVIE_OK;
    if (!check_batch_args(ids, count, &st)) return st;
    char path[320];
    {
        malloc_ptr<char> p1(tq_url_encode(part1 ? part1 : "zh"));
        malloc_ptr<char> p2(tq_url_encode(part2 ? part2 : "CN"));
        if (!p1 || !p2) return TQMOVIE_ERR_NOMEM;
        std::snprintf(path, sizeof path, k_path_trans, p1.get(), p2.get());
    }
    char *body = nullptr;
    st = post_chunk(path, ids, count, &body);
    if (st != TQMOVIE_OK) return st;
    decoded<tq_trans> sets(tq_free_trans);
    st = tq_parse_trans_doc(body, std::strlen(body), &sets.items, &sets.count);
    release_body_ok(body);
    if (st != TQMOVIE_OK && st != TQMOVIE_ERR_EMPTY) return st;
    for (size_t i = 0; i < sets.count; ++i) {
        if (push_trans(&sets.items[i]) != TQMOVIE_OK) return TQMOVIE_ERR_NOMEM;
        tq_free_trans(&sets.items[i]);
    }
    return TQMOVIE_OK;
}

// ----------------------------------------------------------------------------
// Result getters
// ----------------------------------------------------------------------------

#define TQ_COUNT_GETTER(kind, store, n)                                                                       \
    int32_t tqmovie_##kind##_count(void) { return low32(g_tq.n); }
#define TQ_FIELD_GETTER(kind, T, store, n, name, type, expr, none)                                            \
    type tqmovie_##kind##_##name(int32_t i) {                                                                 \
        const T *r = rec_at(g_tq.store, g_tq.n, i);                                                           \
        return r ? (expr) : (none);                                                                           \
    }
#define TQ_ITEM_GETTER(kind, T, store, n, name, type, list, list_n, member, none)                            \
    type tqmovie_##kind##_##name(int32_t i, int32_t j) {                                                      \
        const T *r = rec_at(g_tq.store, g_tq.n, i);                                                           \
        if (!r || !r->list || j < 0 || static_cast<uint64_t>(j) >= r->list_n) return (none);                 \
        return r->list[j] member;                                                                             \
    }

#define TQ_B(name, type, expr, none) TQ_FIELD_GETTER(basic, tq_basic, basics, basic_count, name, type, expr, none)
#define TQ_BI(name, type, list, list_n, member, none)                                                         \
    TQ_ITEM_GETTER(basic, tq_basic, basics, basic_count, name, type, list, list_n, member, none)
#define TQ_D(name, type, expr, none)                                                                          \
    TQ_FIELD_GETTER(detail, tq_detail, details, detail_count, name, type, expr, none)
#define TQ_DI(name, type, list, list_n, member, none)                                                         \
    TQ_ITEM_GETTER(detail, tq_detail, details, detail_count, name, type, list, list_n, member, none)
#define TQ_T(name, type, expr, none) TQ_FIELD_GETTER(trans, tq_trans, trans, trans_count, name, type, expr, none)
#define TQ_TI(name, member)                                                                                   \
    TQ_ITEM_GETTER(trans, tq_trans, trans, trans_count, name, const char *, items, items_count, member, nullptr)

TQ_COUNT_GETTER(basic, basics, basic_count)
TQ_B(imdb_id, const char *, r->imdb_id, nullptr)
TQ_B(title, const char *, r->title, nullptr)
TQ_B(tagline, const char *, r->tagline, nullptr)
TQ_B(plot, const char *, r->plot, nullptr)
TQ_B(poster_url, const char *, r->poster_url, nullptr)
TQ_B(picture_url, const char *, r->picture_url, nullptr)
TQ_B(id, int32_t, r->id, 0)
TQ_B(year, int32_t, r->year, -1)
TQ_B(duration, int32_t, r->duration, -1)
TQ_B(is_tv, int32_t, r->is_tv, -1)
TQ_B(directors_count, int32_t, low32(r->directors_count), 0)
TQ_BI(director, const char *, directors, directors_count, , nullptr)
TQ_B(genres_count, int32_t, low32(r->genres_count), 0)
TQ_BI(genre, const char *, genres, genres_count, , nullptr)
TQ_B(ratings_count, int32_t, low32(r->ratings_count), 0)
TQ_BI(rating_source, const char *, ratings, ratings_count, .source, nullptr)
TQ_BI(rating_value, double, ratings, ratings_count, .value, tq_nan())

TQ_COUNT_GETTER(detail, details, detail_count)
TQ_D(imdb_id, const char *, r->imdb_id, nullptr)
TQ_D(title, const char *, r->title, nullptr)
TQ_D(original_title, const char *, r->original_title, nullptr)
TQ_D(tagline, const char *, r->tagline, nullptr)
TQ_D(plot, const char *, r->plot, nullptr)
TQ_D(poster_url, const char *, r->poster_url, nullptr)
TQ_D(picture_url, const char *, r->picture_url, nullptr)
TQ_D(title_type, const char *, r->title_type, nullptr)
TQ_D(genres, const char *, r->genres, nullptr)
TQ_D(directors, const char *, r->directors, nullptr)
TQ_D(trailer_url, const char *, r->trailer_url, nullptr)
TQ_D(extension1, const char *, r->extension1, nullptr)
TQ_D(logo_base64, const char *, r->logo_base64, nullptr)
TQ_D(id, int32_t, r->id, 0)
TQ_D(start_year, int32_t, r->start_year, -1)
TQ_D(end_year, int32_t, r->end_year, -1)
TQ_D(runtime, int32_t, r->runtime, -1)
TQ_D(is_tv, int32_t, r->is_tv, -1)
TQ_D(imdb_rating, double, r->imdb_rating, tq_nan())
TQ_D(cast_count, int32_t, low32(r->cast_count), 0)
TQ_DI(cast_name, const char *, cast, cast_count, .name, nullptr)
TQ_DI(cast_id, const char *, cast, cast_count, .id, nullptr)
TQ_DI(cast_poster, const char *, cast, cast_count, .poster, nullptr)
TQ_DI(cast_role, const char *, cast, cast_count, .role, nullptr)
TQ_DI(cast_birthday, const char *, cast, cast_count, .birthday, nullptr)
TQ_D(picture_count, int32_t, low32(r->picture_count), 0)
TQ_DI(picture_item_url, const char *, pictures, picture_count, .url, nullptr)
TQ_DI(picture_item_lang, const char *, pictures, picture_count, .language, nullptr)
TQ_DI(picture_item_w, int32_t, pictures, picture_count, .width, 0)
TQ_DI(picture_item_h, int32_t, pictures, picture_count, .height, 0)
TQ_D(provider_count, int32_t, low32(r->provider_count), 0)
TQ_DI(provider_name, const char *, providers, provider_count, .name, nullptr)
TQ_DI(provider_country, const char *, providers, provider_count, .country, nullptr)
TQ_DI(provider_type, const char *, providers, provider_count, .type, nullptr)
TQ_DI(provider_logo, const char *, providers, provider_count, .logo, nullptr)
TQ_DI(provider_id, const char *, providers, provider_count, .provider_id, nullptr)
TQ_DI(provider_priority, int32_t, providers, provider_count, .display_priority, 0)
TQ_D(video_count, int32_t, low32(r->video_count), 0)
TQ_DI(video_name, const char *, videos, video_count, .name, nullptr)
TQ_DI(video_key, const char *, videos, video_count, .key, nullptr)
TQ_DI(video_site, const char *, videos, video_count, .site, nullptr)
TQ_DI(video_type, const char *, videos, video_count, .type, nullptr)
TQ_DI(video_id, const char *, videos, video_count, .id, nullptr)
TQ_DI(video_lang, const char *, videos, video_count, .lang, nullptr)
TQ_DI(video_region, const char *, videos, video_count, .region, nullptr)
TQ_DI(video_size, int32_t, videos, video_count, .size, 0)
TQ_D(related_count, int32_t, low32(r->related_count), 0)
TQ_DI(related_id, const char *, related, related_count, , nullptr)

TQ_COUNT_GETTER(trans, trans, trans_count)
TQ_T(imdb_id, const char *, r->imdb_id, nullptr)
TQ_T(items_count, int32_t, low32(r->items_count), 0)
TQ_TI(item_title, .title)
TQ_TI(item_plot, .plot)
TQ_TI(item_tagline, .tagline)
TQ_TI(item_lang, .lang)
TQ_TI(item_region, .region)
TQ_TI(item_directors, .directors)
TQ_TI(item_actors, .actors)

// ----------------------------------------------------------------------------
// JSON export
// ----------------------------------------------------------------------------

char *tqmovie_basic_to_json(int32_t index) {
    const tq_basic *r = rec_at(g_tq.basics, g_tq.basic_count, index);
    if (!r) return nullptr;
    tq_ms b = ms_start();
    tq_ms_puts(&b, "\"imDbId\":");
    json_esc(&b, r->imdb_id);
    tq_ms_puts(&b, ",\"title\":");
    json_esc(&b, r->title);
    tq_ms_puts(&b, ",\"tagLine\":");
    json_esc(&b, r->tagline);
    tq_ms_puts(&b, ",\"plot\":");
    json_esc(&b, r->plot);
    tq_ms_puts(&b, ",\"posterUrl\":");
    json_esc(&b, r->poster_url);
    tq_ms_puts(&b, ",\"pictureUrl\":");
    json_esc(&b, r->picture_url);
    tq_ms_fmt(&b, ",\"id\":%d,\"year\":%d,\"duration\":%d,\"isTVShow\":%s", r->id, r->year, r->duration,
              r->is_tv == 1 ? "true" : r->is_tv == 0 ? "false" : "null");
    tq_ms_puts(&b, ",\"directors\":[");
    json_str_array(&b, r->directors, r->directors_count);
    tq_ms_puts(&b, "],\"genres\":[");
    json_str_array(&b, r->genres, r->genres_count);
    tq_ms_puts(&b, "],\"ratings\":{");
    for (size_t i = 0; r->ratings && i < r->ratings_count; ++i) {
        if (i) tq_ms_put(&b, ",", 1);
        // A member name must be a string: a source lost to a failed copy is written "".
        json_esc(&b, r->ratings[i].source ? r->ratings[i].source : "");
        tq_ms_put(&b, ":", 1);
        json_num(&b, r->ratings[i].value);
    }
    tq_ms_puts(&b, "}}");
    return ms_finish(&b);
}

char *tqmovie_detail_to_json(int32_t index) {
    const tq_detail *r = rec_at(g_tq.details, g_tq.detail_count, index);
    if (!r) return nullptr;
    tq_ms b = ms_start();
    const struct {
        const char *key;
        const char *value;
    } texts[] = {
        {"\"imDbId\":", r->imdb_id},         {",\"title\":", r->title},
        {",\"originalTitle\":", r->original_title}, {",\"tagLine\":", r->tagline},
        {",\"plot\":", r->plot},             {",\"posterUrl\":", r->poster_url},
        {",\"pictureUrl\":", r->picture_url}, {",\"titleType\":", r->title_type},
        {",\"genres\":", r->genres},         {",\"directors\":", r->directors},
    };
    for (const auto &t : texts) {
        tq_ms_puts(&b, t.key);
        json_esc(&b, t.value);
    }
    tq_ms_fmt(&b, ",\"id\":%d,\"startYear\":%d,\"endYear\":%d,\"runtimeMinutes\":%d", r->id, r->start_year,
              r->end_year, r->runtime);
    tq_ms_puts(&b, ",\"imDbRating\":");
    json_num(&b, r->imdb_rating);
    tq_ms_fmt(&b, ",\"nCasts\":%zu,\"nPictures\":%zu,\"nProviders\":%zu,\"nVideos\":%zu,\"nRelated\":%zu",
              r->cast_count, r->picture_count, r->provider_count, r->video_count, r->related_count);
    tq_ms_puts(&b, "}");
    return ms_finish(&b);
}

} // extern "C"
