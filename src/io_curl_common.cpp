// SPDX-License-Identifier: MIT
// io_curl_common: libcurl transfers shared by the fresh-handle and the pooled backend
// (see io_curl_common.h).
#include "io_curl_common.h"
#include "tq_log.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// An error answer's body is never read by a lookup: beyond this much of it the
// transfer ends and the answer counts as complete, so a server cannot hold a lookup
// on a 500 MiB error page before its status is known.
constexpr size_t error_body_max = 64 * 1024;

// How long a transfer waits on its sockets before it looks for a cancel again.
constexpr int poll_slice_ms = 20;

bool has_control(const char *s) noexcept {
    for (; s && *s; ++s)
        if (static_cast<unsigned char>(*s) < 0x20 || *s == 0x7F) return true;
    return false;
}

} // namespace

// libcurl's callbacks, with access to the transfer.
struct tq_curl_callbacks {
    // The body: returning anything but size * count makes libcurl abort the transfer
    // with CURLE_WRITE_ERROR. A body that would pass the limit is refused here, as it
    // arrives, so a server cannot fill the host's memory whatever length it announces.
    // The buffer grows geometrically (a logarithmic number of reallocations) but never
    // past what the limit allows; the first chunk gets exactly what it needs.
    static size_t on_body(char *data, size_t size, size_t count, void *userp) {
        auto *t = static_cast<tq_curl_transfer *>(userp);
        if (count != 0 && size > SIZE_MAX / count) return 0;
        const size_t n = size * count;
        if (n == 0) return 0;
        if ((t->code_ < 200 || t->code_ > 299) &&
            n > error_body_max - (t->len_ < error_body_max ? t->len_ : error_body_max)) {
            t->error_cut_ = true;
            return 0;
        }
        if (n > t->limit_ - t->len_) {
            t->over_ = true;
            return 0;
        }
        // Room for the held bytes, the new ones and the terminating NUL, without wrapping.
        const size_t most = t->limit_ < SIZE_MAX ? static_cast<size_t>(t->limit_) + 1 : SIZE_MAX;
        if (n > SIZE_MAX - 1 - t->len_ || !tq_grow(&t->data_, &t->cap_, t->len_ + n + 1, 0, most)) return 0;
        std::memcpy(t->data_ + t->len_, data, n);
        t->len_ += n;
        t->data_[t->len_] = '\0';
        return n;
    }

    // One header line at a time, for every response of the transfer (redirects and 1xx
    // answers included; a proxy's CONNECT answer is suppressed). A status line starts
    // a new response, so the table ends up holding the final one's.
    static size_t on_header(char *line, size_t size, size_t count, void *userp) {
        auto *t = static_cast<tq_curl_transfer *>(userp);
        const size_t n = size * count;
        size_t len = n;
        if (len > 0 && line[len - 1] == '\n') --len;
        if (len > 0 && line[len - 1] == '\r') --len;
        if (len >= 5 && std::memcmp(line, "HTTP/", 5) == 0) {
            t->header_count_ = 0;
            const char *space = static_cast<const char *>(std::memchr(line, ' ', len));
            t->code_ = space ? std::strtol(space + 1, nullptr, 10) : 0;
        } else if (const char *colon = static_cast<const char *>(std::memchr(line, ':', len)); colon && t->client_) {
            const size_t name_len = static_cast<size_t>(colon - line);
            tq_header_add(t->headers_, t->header_count_, line, name_len, colon + 1, len - name_len - 1);
        }
        return n;
    }

    // Non-zero aborts the transfer: a cancel of the requesting client's operation, or
    // its deadline. The multi loop asks too, every 20 ms.
    static int stop_requested(void *userp, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        const auto *t = static_cast<const tq_curl_transfer *>(userp);
        return t->client_ && tq_stop_requested(*t->client_) ? 1 : 0;
    }

    // Once per hop of a redirect chain, before the request goes out: once a hop was
    // https, a later plain http hop is refused, so a chain http -> https -> http
    // cannot send the request on in the clear.
    static int before_request(void *userp, char *, char *, int, int) {
        auto *t = static_cast<tq_curl_transfer *>(userp);
        const char *scheme = nullptr;
        curl_easy_getinfo(t->h_, CURLINFO_SCHEME, &scheme);
        const bool https = scheme && strcasecmp(scheme, "https") == 0;
        if (!https && t->secure_) {
            t->downgrade_ = true;
            return CURL_PREREQFUNC_ABORT;
        }
        t->secure_ = t->secure_ || https;
        return CURL_PREREQFUNC_OK;
    }
};

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

bool tq_curl_transfer::start(CURL *h, const tq_curl_request &req, char **body, int32_t *status, char **err) noexcept {
    *body = nullptr;
    *status = 0;
    if (err) *err = nullptr;
    // A line break would end the header line and start another of the caller's making.
    if (req.body && req.content_type && std::strpbrk(req.content_type, "\r\n"))
        return tq_curl_fail(body, status, err, "content type contains CR or LF"), false;
    if (const char *why = tq_curl_option_refused(nullptr, nullptr, req.body ? req.content_type : nullptr))
        return tq_curl_fail(body, status, err, why), false;

    h_ = h;
    limit_ = max_body_ = req.max_body;
    using cb = tq_curl_callbacks;
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, cb::before_request);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(h, CURLOPT_URL, req.url);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(cb::on_body));
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, static_cast<curl_write_callback>(cb::on_header));
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // Signals are no way to time out a transfer in a threaded host.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, cb::stop_requested);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_PRIVATE, this);
    // The operation's deadline ends the transfer when it passes: the wait loop sees it
    // within one slice. libcurl's own limit then comes a slice later, so that a
    // transfer that meets the deadline ends as "deadline exceeded", never as libcurl's
    // timeout reached a millisecond before our clock says the deadline has passed.
    const int64_t left = client_ ? tq_deadline_left_ms(*client_) : -1;
    const int64_t after = left + 2 * poll_slice_ms;
    const int64_t limit = left >= 0 && (after < req.timeout_ms || req.timeout_ms <= 0) ? after : req.timeout_ms;
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limit > 0 ? limit : 0));

    if (req.body) {
        char line[128];
        std::snprintf(line, sizeof line, "Content-Type: %s", req.content_type ? req.content_type : "text/plain");
        list_.reset(curl_slist_append(nullptr, line));
        // Without the list libcurl would send its form-encoded default type, so the
        // service would get the ids under a content type it was never promised.
        if (!list_) return tq_curl_fail(body, status, err, curl_easy_strerror(CURLE_OUT_OF_MEMORY)), false;
        // An empty "Expect:" keeps libcurl from asking first for a body of 1 MiB or
        // more, which costs a second against a server that never answers the question.
        if (req.no_expect && !curl_slist_append(list_.get(), "Expect:"))
            return tq_curl_fail(body, status, err, curl_easy_strerror(CURLE_OUT_OF_MEMORY)), false;
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, req.body);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(std::strlen(req.body)));
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, list_.get());
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
    if (rc != CURLE_OK) {
        finish(rc, body, status, err);
        return false;
    }
    return true;
}

int32_t tq_curl_transfer::finish(CURLcode rc, char **body, int32_t *status, char **err) noexcept {
    long request_size = 0, header_size = 0;
    curl_off_t up = 0, down = 0;
    curl_easy_getinfo(h_, CURLINFO_REQUEST_SIZE, &request_size);
    curl_easy_getinfo(h_, CURLINFO_HEADER_SIZE, &header_size);
    curl_easy_getinfo(h_, CURLINFO_SIZE_UPLOAD_T, &up);
    curl_easy_getinfo(h_, CURLINFO_SIZE_DOWNLOAD_T, &down);
    sent_ = static_cast<uint64_t>(request_size > 0 ? request_size : 0) + static_cast<uint64_t>(up > 0 ? up : 0);
    received_ = static_cast<uint64_t>(header_size > 0 ? header_size : 0) + static_cast<uint64_t>(down > 0 ? down : 0);
    // The header list goes with this transfer; a pooled handle lives on.
    curl_easy_setopt(h_, CURLOPT_HTTPHEADER, static_cast<curl_slist *>(nullptr));
    curl_easy_setopt(h_, CURLOPT_PRIVATE, static_cast<void *>(nullptr));
    list_.reset();
    if (rc == CURLE_WRITE_ERROR && error_cut_) rc = CURLE_OK; // an error page, cut: its status is the answer
    if (rc != CURLE_OK) {
        // Headers of an exchange that failed answer nothing.
        header_count_ = 0;
        // No connection, or no answer in time: another attempt may well go through.
        if (client_ && (rc == CURLE_COULDNT_CONNECT || rc == CURLE_OPERATION_TIMEDOUT)) tq_mark_retryable(*client_);
        if (downgrade_) return tq_curl_fail(body, status, err, "redirect from https to http refused");
        if (!over_) return tq_curl_fail(body, status, err, curl_easy_strerror(rc));
        char text[96];
        std::snprintf(text, sizeof text, "response body over the limit of %" PRIu64 " bytes", max_body_);
        return tq_curl_fail(body, status, err, text);
    }
    long code = 0;
    curl_easy_getinfo(h_, CURLINFO_RESPONSE_CODE, &code);
    *status = static_cast<int32_t>(code);
    // A completed transfer hands out a text even when no byte arrived. Should even that
    // byte be refused, the body stays null, which reads as the empty body it was.
    *body = data_ ? std::exchange(data_, nullptr) : static_cast<char *>(std::calloc(1, 1));
    return 0;
}

CURLcode tq_curl_run(CURLM *m, CURL *h, tqmovie_client *c) noexcept {
    if (const CURLMcode mc = curl_multi_add_handle(m, h))
        return mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
    CURLcode rc = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(m, &running) != CURLM_OK) {
            rc = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (running == 0) {
            int left = 0;
            const CURLMsg *msg = curl_multi_info_read(m, &left);
            rc = msg && msg->msg == CURLMSG_DONE ? msg->data.result : CURLE_RECV_ERROR;
            break;
        }
        // A cancel is a flag, not a wake-up: look at it between short waits.
        if (c && tq_stop_requested(*c)) {
            rc = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (curl_multi_poll(m, nullptr, 0, poll_slice_ms, nullptr) != CURLM_OK) {
            rc = CURLE_OUT_OF_MEMORY;
            break;
        }
    }
    curl_multi_remove_handle(m, h);
    return rc;
}

int32_t tq_curl_exchange(CURLM *m, CURL *h, const tq_curl_request &req, char **body, int32_t *status,
                         char **err) noexcept {
    tqmovie_client *c = tq_request_client();
    tq_curl_transfer t(c);
    if (!t.start(h, req, body, status, err)) {
        if (c) c->st->header_count = 0;
        return -1;
    }
    const int32_t rc = t.finish(tq_curl_run(m, h, c), body, status, err);
    if (c) {
        tq_log_wire(*c, t.wire_sent(), t.wire_received());
        std::memcpy(c->st->headers, t.headers(), sizeof(tq_header) * static_cast<size_t>(t.header_count()));
        c->st->header_count = t.header_count();
    }
    return rc;
}
