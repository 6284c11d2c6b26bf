// SPDX-License-Identifier: MIT
// io_curl_common: one libcurl exchange, shared by the fresh-handle and the pooled
// backend (see io_curl_common.h).
#include "io_curl_common.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

struct slist_deleter {
    void operator()(curl_slist *l) const noexcept { curl_slist_free_all(l); }
};
using slist_ptr = std::unique_ptr<curl_slist, slist_deleter>;

// The receiving side of one transfer. `data` is null until the first byte arrives;
// after every chunk the bytes are followed by a NUL (not counted in `len`), so the
// buffer is always a valid text. It grows geometrically, so a large body costs a
// logarithmic number of reallocations instead of one per chunk, but never past what
// the limit allows; the first chunk gets exactly what it needs.
// An error answer's body is never read by a lookup: beyond this much of it the
// transfer ends and the answer counts as complete, so a server cannot hold a lookup
// on a 500 MiB error page before its status is known.
constexpr size_t error_body_max = 64 * 1024;

struct sink {
    char *data = nullptr;
    size_t len = 0;
    size_t cap = 0;
    uint64_t limit;
    long code = 0;          // the status of the response being received
    bool over = false;      // a chunk was refused for the limit
    bool error_cut = false; // an error answer's body was cut at error_body_max
    bool secure = false;    // a hop of this transfer went over https
    bool downgrade = false; // ... and a later one was refused for plain http
    CURL *handle = nullptr;
    tqmovie_client *client; // whose request this is (headers, cancel, deadline); NULL: nobody's
    sink(uint64_t max_body, tqmovie_client *c) noexcept : limit(max_body), client(c) {}
    sink(const sink &) = delete;
    sink &operator=(const sink &) = delete;
    ~sink() { std::free(data); }
};

// libcurl's write callback. Returning anything but size * count makes libcurl abort
// the transfer with CURLE_WRITE_ERROR; the bytes already held stay in the buffer and
// are released with it. A body that would pass the limit is refused here, as it
// arrives, so a server cannot fill the host's memory whatever length it announces.
size_t on_body(char *data, size_t size, size_t count, void *userp) {
    auto *s = static_cast<sink *>(userp);
    if (count != 0 && size > SIZE_MAX / count) return 0;
    const size_t n = size * count;
    if (n == 0) return 0;
    if ((s->code < 200 || s->code > 299) && n > error_body_max - (s->len < error_body_max ? s->len : error_body_max)) {
        s->error_cut = true;
        return 0;
    }
    if (n > s->limit - s->len) {
        s->over = true;
        return 0;
    }
    // Room for the held bytes, the new ones and the terminating NUL, without wrapping.
    const size_t most = s->limit < SIZE_MAX ? static_cast<size_t>(s->limit) + 1 : SIZE_MAX;
    if (n > SIZE_MAX - 1 - s->len || !tq_grow(&s->data, &s->cap, s->len + n + 1, 0, most)) return 0;
    std::memcpy(s->data + s->len, data, n);
    s->len += n;
    s->data[s->len] = '\0';
    return n;
}

// libcurl's header callback: one line at a time, for every response of the transfer
// (redirects and 1xx answers included; a proxy's CONNECT answer is suppressed). A
// status line starts a new response, so the table ends up holding the final one's.
size_t on_header(char *line, size_t size, size_t count, void *userp) {
    auto *s = static_cast<sink *>(userp);
    const size_t n = size * count;
    size_t len = n;
    if (len > 0 && line[len - 1] == '\n') --len;
    if (len > 0 && line[len - 1] == '\r') --len;
    if (len >= 5 && std::memcmp(line, "HTTP/", 5) == 0) {
        if (s->client) s->client->st->header_count = 0;
        const char *space = static_cast<const char *>(std::memchr(line, ' ', len));
        s->code = space ? std::strtol(space + 1, nullptr, 10) : 0;
    } else if (const char *colon = static_cast<const char *>(std::memchr(line, ':', len)); colon && s->client) {
        const size_t name_len = static_cast<size_t>(colon - line);
        tq_header_add(*s->client->st, line, name_len, colon + 1, len - name_len - 1);
    }
    return n;
}

// libcurl's transfer-progress callback: non-zero aborts the transfer, which is how a
// cancel of the requesting client's operation reaches a transfer in progress.
// libcurl asks at least once a second, also while waiting for a silent server.
int stop_requested(void *userp, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto *s = static_cast<const sink *>(userp);
    return s->client && tq_stop_requested(*s->client) ? 1 : 0;
}

// libcurl's pre-request callback, once per hop of a redirect chain, before the
// request goes out: once a hop was https, a later plain http hop is refused, so a
// chain http -> https -> http cannot send the request on in the clear.
int before_request(void *userp, char *, char *, int, int) {
    auto *s = static_cast<sink *>(userp);
    const char *scheme = nullptr;
    curl_easy_getinfo(s->handle, CURLINFO_SCHEME, &scheme);
    const bool https = scheme && strcasecmp(scheme, "https") == 0;
    if (!https && s->secure) {
        s->downgrade = true;
        return CURL_PREREQFUNC_ABORT;
    }
    s->secure = s->secure || https;
    return CURL_PREREQFUNC_OK;
}

bool has_control(const char *s) noexcept {
    for (; s && *s; ++s)
        if (static_cast<unsigned char>(*s) < 0x20 || *s == 0x7F) return true;
    return false;
}

} // namespace

const char *tq_curl_option_refused(const char *user_agent, const char *proxy, const char *content_type) noexcept {
    if (has_control(user_agent)) return "user agent contains a control byte";
    if (has_control(proxy)) return "proxy contains a control byte";
    if (has_control(content_type)) return "content type contains a control byte";
    return nullptr;
}

int32_t tq_curl_fail(char **body, int32_t *status, char **err, const char *text) noexcept {
    *body = nullptr;
    *status = 0;
    if (err) *err = tq_strdup(text);
    return -1;
}

int32_t tq_curl_exchange(CURL *h, const tq_curl_request &req, char **body, int32_t *status, char **err) noexcept {
    *body = nullptr;
    *status = 0;
    if (err) *err = nullptr;
    // A line break would end the header line and start another of the caller's making.
    if (req.body && req.content_type && std::strpbrk(req.content_type, "\r\n"))
        return tq_curl_fail(body, status, err, "content type contains CR or LF");
    if (const char *why = tq_curl_option_refused(nullptr, nullptr, req.body ? req.content_type : nullptr))
        return tq_curl_fail(body, status, err, why);

    sink in(req.max_body, tq_request_client());
    in.handle = h;
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, before_request);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &in);
    curl_easy_setopt(h, CURLOPT_URL, req.url);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(on_body));
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &in);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, static_cast<curl_write_callback>(on_header));
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &in);
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // Signals are no way to time out a transfer in a threaded host.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, stop_requested);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &in);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    // The operation's deadline ends the transfer when it passes, to the millisecond.
    const int64_t left = in.client ? tq_deadline_left_ms(*in.client) : -1;
    const int64_t limit =
        left >= 0 && (left < req.timeout_ms || req.timeout_ms <= 0) ? (left > 0 ? left : 1) : req.timeout_ms;
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limit > 0 ? limit : 0));

    slist_ptr headers;
    if (req.body) {
        char line[128];
        std::snprintf(line, sizeof line, "Content-Type: %s", req.content_type ? req.content_type : "text/plain");
        headers.reset(curl_slist_append(nullptr, line));
        // Without the list libcurl would send its form-encoded default type, so the
        // service would get the ids under a content type it was never promised.
        if (!headers) return tq_curl_fail(body, status, err, curl_easy_strerror(CURLE_OUT_OF_MEMORY));
        // An empty "Expect:" keeps libcurl from asking first for a body of 1 MiB or
        // more, which costs a second against a server that never answers the question.
        if (req.no_expect && !curl_slist_append(headers.get(), "Expect:"))
            return tq_curl_fail(body, status, err, curl_easy_strerror(CURLE_OUT_OF_MEMORY));
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, req.body);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(std::strlen(req.body)));
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, static_cast<curl_slist *>(nullptr));
    }

    // The service speaks HTTP(S) only: neither the URL nor a redirect may switch the
    // transfer to another protocol (a local file, FTP and the like). A libcurl that
    // cannot take this restriction (older than 7.85) gets no request at all rather
    // than an unrestricted one.
    CURLcode rc = curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, req.redirect_protocols);
    if (rc == CURLE_OK) rc = curl_easy_perform(h);
    // The header list goes with this call; a pooled handle lives on.
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, static_cast<curl_slist *>(nullptr));
    if (rc == CURLE_WRITE_ERROR && in.error_cut) rc = CURLE_OK; // an error page, cut: its status is the answer
    if (rc != CURLE_OK) {
        // Headers of an exchange that failed answer nothing.
        if (in.client) in.client->st->header_count = 0;
        // No connection, or no answer in time: another attempt may well go through.
        if (in.client && (rc == CURLE_COULDNT_CONNECT || rc == CURLE_OPERATION_TIMEDOUT)) tq_mark_retryable(*in.client);
        if (in.downgrade) return tq_curl_fail(body, status, err, "redirect from https to http refused");
        if (!in.over) return tq_curl_fail(body, status, err, curl_easy_strerror(rc));
        char text[96];
        std::snprintf(text, sizeof text, "response body over the limit of %" PRIu64 " bytes", req.max_body);
        return tq_curl_fail(body, status, err, text);
    }

    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    *status = static_cast<int32_t>(code);
    // A completed transfer hands out a text even when no byte arrived. Should even that
    // byte be refused, the body stays null, which reads as the empty body it was.
    *body = in.data ? std::exchange(in.data, nullptr) : static_cast<char *>(std::calloc(1, 1));
    return 0;
}
