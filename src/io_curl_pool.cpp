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
