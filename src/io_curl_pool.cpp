// SPDX-License-Identifier: MIT
// io_curl_pool: the HTTP(S) backend that keeps one libcurl easy handle and the multi
// handle it runs on for its whole life. Between them they hold libcurl's connection
// cache, TLS session data and CA store, so after the first request a lookup costs one
// exchange on an open connection instead of a connect, a TLS handshake and a read of
// the system's CA bundle.
//
// The lasting options come from tqmovie_http_options when the backend is made; each
// request sets only its own (io_curl_common). An easy handle is for one transfer at a
// time, so a request that arrives while another runs on the same backend is refused
// rather than let into the handle.
#include "io_curl_common.h"
#include "tq_pool.h"

#include <atomic>
#include <climits>
#include <new>

namespace {

constexpr int64_t default_connect_ms = 10000;
constexpr int64_t default_timeout_ms = 120000;
constexpr int32_t default_redirects = 30;

const char k_busy[] = "pooled HTTP backend busy: it serves one request at a time";

struct pool {
    CURLM *m = nullptr; // holds the connection cache between requests
    CURL *h = nullptr;
    uint64_t max_body = 0;
    int64_t timeout_ms = 0;
    const char *refused = nullptr; // why every request fails: an option that cannot go on the wire
    std::atomic<bool> busy{false};
};

void release(pool *p) noexcept {
    if (!p) return;
    curl_easy_cleanup(p->h);
    curl_multi_cleanup(p->m);
    p->~pool();
    std::free(p);
}

// The caller's options as this build knows them: read up to the caller's own size
// (an older caller knows fewer fields), every field left 0 or NULL at its default.
tqmovie_http_options effective(const tqmovie_http_options *o) noexcept {
    tqmovie_http_options e{};
    if (o) std::memcpy(&e, o, o->size < sizeof e ? o->size : sizeof e);
    e.size = sizeof e;
    if (e.connect_timeout_ms <= 0) e.connect_timeout_ms = default_connect_ms;
    if (e.timeout_ms <= 0) e.timeout_ms = default_timeout_ms;
    if (e.low_speed_bytes <= 0 || e.low_speed_seconds <= 0) e.low_speed_bytes = e.low_speed_seconds = 0;
    if (e.max_body_bytes == 0) e.max_body_bytes = TQMOVIE_HTTP_MAX_BODY;
    if (e.max_redirects == 0) e.max_redirects = default_redirects;
    if (e.max_redirects < 0) e.max_redirects = -1;
    if (!e.user_agent) e.user_agent = tq_curl_user_agent;
    return e;
}

long as_long(int64_t v) noexcept { return v > LONG_MAX ? LONG_MAX : static_cast<long>(v); }

// The handle's lasting options; the first that libcurl refuses ends the set-up.
CURLcode configure(CURL *h, const tqmovie_http_options &o) noexcept {
    const struct {
        CURLoption option;
        long value;
        bool wanted;
    } numbers[] = {
        {CURLOPT_CONNECTTIMEOUT_MS, as_long(o.connect_timeout_ms), true},
        {CURLOPT_LOW_SPEED_LIMIT, as_long(o.low_speed_bytes), o.low_speed_bytes > 0},
        {CURLOPT_LOW_SPEED_TIME, as_long(o.low_speed_seconds), o.low_speed_seconds > 0},
        {CURLOPT_FOLLOWLOCATION, o.max_redirects >= 0 ? 1L : 0L, true},
        {CURLOPT_MAXREDIRS, static_cast<long>(o.max_redirects), o.max_redirects >= 0},
    };
    const struct {
        CURLoption option;
        const char *value;
        bool wanted;
    } texts[] = {
        {CURLOPT_USERAGENT, o.user_agent, true},
        // "": every encoding this libcurl decodes; it hands the body over decoded.
        {CURLOPT_ACCEPT_ENCODING, "", o.no_compression == 0},
        {CURLOPT_PROXY, o.proxy, o.proxy != nullptr},
        {CURLOPT_CAINFO, o.ca_file, o.ca_file != nullptr},
        {CURLOPT_CAPATH, o.ca_path, o.ca_path != nullptr},
    };
    for (const auto &n : numbers)
        if (n.wanted)
            if (const CURLcode rc = curl_easy_setopt(h, n.option, n.value)) return rc;
    for (const auto &t : texts)
        if (t.wanted)
            if (const CURLcode rc = curl_easy_setopt(h, t.option, t.value)) return rc;
    return CURLE_OK;
}

int32_t pool_request(void *ctx, const char *url, const char *request_body, const char *content_type, char **body,
                     int32_t *status, char **err) noexcept {
    auto *p = static_cast<pool *>(ctx);
    if (p->refused) return tq_curl_fail(body, status, err, p->refused);
    if (p->busy.exchange(true, std::memory_order_acquire)) return tq_curl_fail(body, status, err, k_busy);
    // A request that starts on https stays there: a redirect to plain http would send
    // it on in the clear.
    const bool secure = url && strncasecmp(url, "https://", 8) == 0;
    const tq_curl_request req{url,         request_body, content_type, secure ? "https" : "http,https",
                              p->max_body, true,         p->timeout_ms};
    const int32_t rc = tq_curl_exchange(p->m, p->h, req, body, status, err);
    p->busy.store(false, std::memory_order_release);
    return rc;
}

int32_t pool_get(void *ctx, const char *url, char **body, int32_t *status, char **err) {
    return pool_request(ctx, url, nullptr, nullptr, body, status, err);
}

int32_t pool_post(void *ctx, const char *url, const char *request_body, const char *content_type, char **body,
                  int32_t *status, char **err) {
    return pool_request(ctx, url, request_body, content_type, body, status, err);
}

} // namespace

// ----------------------------------------------------------------------------
// Many requests at once
// ----------------------------------------------------------------------------

struct tq_pool_batch {
    pool *p;
    tqmovie_client *c;
    size_t n;
    struct slot {
        CURL *h;             // the backend's own handle for slot 0, a duplicate for the others
        tq_curl_transfer *t; // the running transfer, or NULL
        alignas(tq_curl_transfer) unsigned char room[sizeof(tq_curl_transfer)];
        bool ended; // the transfer ended and rc holds its result
        CURLcode rc;
    } * slots;
};

namespace {

void drop_transfer(tq_pool_batch &b, tq_pool_batch::slot &s) noexcept {
    if (!s.t) return;
    curl_multi_remove_handle(b.p->m, s.h);
    char *body = nullptr, *err = nullptr;
    int32_t status = 0;
    s.t->finish(CURLE_ABORTED_BY_CALLBACK, &body, &status, &err);
    std::free(body);
    std::free(err);
    s.t->~tq_curl_transfer();
    s.t = nullptr;
    s.ended = false;
}

} // namespace

bool tq_pool_is(const tq_io &io) noexcept { return io.get == pool_get && io.ctx; }

tq_pool_batch *tq_pool_batch_begin(const tq_io &io, size_t n, tqmovie_client &c) noexcept {
    if (!tq_pool_is(io) || n == 0) return nullptr;
    auto *p = static_cast<pool *>(io.ctx);
    if (p->refused || p->busy.exchange(true, std::memory_order_acquire)) return nullptr;
    auto *b = tq_calloc_n<tq_pool_batch>(1);
    auto *slots = tq_calloc_n<tq_pool_batch::slot>(n);
    if (!b || !slots) {
        std::free(b);
        std::free(slots);
        p->busy.store(false, std::memory_order_release);
        return nullptr;
    }
    *b = tq_pool_batch{p, &c, n, slots};
    // The first slot rides on the backend's own handle; the others on duplicates with
    // the same lasting options, made for this batch.
    for (size_t k = 0; k < n; ++k) {
        slots[k].h = k == 0 ? p->h : curl_easy_duphandle(p->h);
        if (!slots[k].h) {
            tq_pool_batch_end(b);
            return nullptr;
        }
    }
    return b;
}

bool tq_pool_batch_post(tq_pool_batch *b, size_t k, const char *url, const char *body, tq_pool_outcome *out) noexcept {
    tq_pool_batch::slot &s = b->slots[k];
    const bool secure = url && strncasecmp(url, "https://", 8) == 0;
    const tq_curl_request req{
        url, body, "text/plain", secure ? "https" : "http,https", b->p->max_body, true, b->p->timeout_ms};
    s.t = new (s.room) tq_curl_transfer(b->c);
    s.ended = false;
    *out = tq_pool_outcome{};
    CURLMcode mc = CURLM_OK;
    if (!s.t->start(s.h, req, &out->body, &out->status, &out->err) ||
        (mc = curl_multi_add_handle(b->p->m, s.h)) != CURLM_OK) {
        if (mc != CURLM_OK) s.t->finish(CURLE_OUT_OF_MEMORY, &out->body, &out->status, &out->err);
        out->rc = -1;
        s.t->~tq_curl_transfer();
        s.t = nullptr;
        return false;
    }
    return true;
}

long tq_pool_batch_wait(tq_pool_batch *b, int ms) noexcept {
    for (size_t k = 0; k < b->n; ++k)
        if (b->slots[k].t && b->slots[k].ended) return static_cast<long>(k);
    int running = 0;
    curl_multi_perform(b->p->m, &running);
    int left = 0;
    long ready = -1;
    while (const CURLMsg *msg = curl_multi_info_read(b->p->m, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        void *priv = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &priv);
        for (size_t k = 0; k < b->n; ++k) {
            tq_pool_batch::slot &s = b->slots[k];
            if (s.t != priv || !s.t) continue;
            s.ended = true;
            s.rc = msg->data.result;
            if (ready < 0) ready = static_cast<long>(k);
        }
    }
    if (ready >= 0) return ready;
    if (running > 0) curl_multi_poll(b->p->m, nullptr, 0, ms, nullptr);
    return -1;
}

void tq_pool_batch_take(tq_pool_batch *b, size_t k, tq_pool_outcome *out) noexcept {
    tq_pool_batch::slot &s = b->slots[k];
    *out = tq_pool_outcome{};
    curl_multi_remove_handle(b->p->m, s.h);
    out->retryable = s.rc == CURLE_COULDNT_CONNECT || s.rc == CURLE_OPERATION_TIMEDOUT;
    out->rc = s.t->finish(s.rc, &out->body, &out->status, &out->err);
    out->header_count = s.t->header_count();
    out->wire_sent = s.t->wire_sent();
    out->wire_received = s.t->wire_received();
    std::memcpy(out->headers, s.t->headers(), sizeof(tq_header) * static_cast<size_t>(out->header_count));
    s.t->~tq_curl_transfer();
    s.t = nullptr;
    s.ended = false;
}

void tq_pool_batch_end(tq_pool_batch *b) noexcept {
    if (!b) return;
    for (size_t k = 0; k < b->n; ++k) {
        tq_pool_batch::slot &s = b->slots[k];
        drop_transfer(*b, s);
        if (k != 0 && s.h) curl_easy_cleanup(s.h);
    }
    std::free(b->slots);
    b->p->busy.store(false, std::memory_order_release);
    std::free(b);
}

extern "C" {

void tqmovie_http_options_init(tqmovie_http_options *o, size_t size) {
    if (!o || size < sizeof o->size) return;
    // A host built against an older header has a shorter struct: fill only what it has.
    tqmovie_http_options full{};
    full.size = sizeof full;
    full = effective(&full);
    full.user_agent = nullptr; // NULL reads as the default text, which the host need not hold
    full.size = size < sizeof full ? size : sizeof full;
    std::memcpy(o, &full, full.size);
}

tq_io tolvane_io_curl_pooled(const tqmovie_http_options *options) {
    const tqmovie_http_options o = effective(options);
    void *mem = std::calloc(1, sizeof(pool));
    if (!mem) return tq_io{};
    pool *p = new (mem) pool{};
    p->h = curl_easy_init();
    p->m = curl_multi_init();
    p->max_body = o.max_body_bytes;
    p->timeout_ms = o.timeout_ms;
    // The constructor cannot report: such a backend fails each request, naming the option.
    p->refused = tq_curl_option_refused(o.user_agent, o.proxy, nullptr);
    if (!p->h || !p->m || (!p->refused && configure(p->h, o) != CURLE_OK)) {
        release(p);
        return tq_io{};
    }
    return tq_io{p, pool_get, pool_post, tq_io_free_heap};
}

void tolvane_io_curl_pooled_free(tq_io *io) {
    if (!io || io->get != pool_get) return;
    release(static_cast<pool *>(io->ctx));
    *io = tq_io{};
}

} // extern "C"
