// SPDX-License-Identifier: MIT
// io_curl: the transport backend that talks HTTP(S) through libcurl's easy interface.
//
// Every request is one self-contained transfer on a fresh easy handle: no handle,
// connection or other state survives between requests, so the entries need no
// context. A completed transfer is a success whatever its HTTP status (statuses are
// the dispatch's business); only libcurl failures are reported, with libcurl's text.
#include "tq_internal.h"

#include <curl/curl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

struct easy_deleter {
    void operator()(CURL *h) const noexcept { curl_easy_cleanup(h); }
};
using easy_ptr = std::unique_ptr<CURL, easy_deleter>;

struct slist_deleter {
    void operator()(curl_slist *l) const noexcept { curl_slist_free_all(l); }
};
using slist_ptr = std::unique_ptr<curl_slist, slist_deleter>;

// The body of one transfer. `data` is null until the first byte arrives; after every
// chunk the bytes are followed by a NUL (not counted in `len`), so the buffer is always
// a valid text. It grows geometrically, so a large body costs a logarithmic number of
// reallocations instead of one per chunk; the first chunk gets exactly what it needs,
// so a small body costs no slack at all.
struct resp_buf {
    char *data = nullptr;
    size_t len = 0;
    size_t cap = 0;
    resp_buf() = default;
    resp_buf(const resp_buf &) = delete;
    resp_buf &operator=(const resp_buf &) = delete;
    ~resp_buf() { std::free(data); }
    char *release() noexcept { return std::exchange(data, nullptr); }
};

// libcurl's write callback. Returning anything but size * count makes libcurl abort
// the transfer with CURLE_WRITE_ERROR; the bytes already held stay in the buffer and
// are released with it.
size_t wr(char *data, size_t size, size_t count, void *userp) {
    auto *buf = static_cast<resp_buf *>(userp);
    if (count != 0 && size > SIZE_MAX / count) return 0;
    const size_t n = size * count;
    if (n == 0) return 0;
    // Room for the held bytes, the new ones and the terminating NUL, without wrapping.
    if (n > SIZE_MAX - 1 - buf->len || !tq_grow(&buf->data, &buf->cap, buf->len + n + 1, 0)) return 0;
    std::memcpy(buf->data + buf->len, data, n);
    buf->len += n;
    buf->data[buf->len] = '\0';
    return n;
}

// libcurl's transfer-progress callback: non-zero aborts the transfer, which is how a
// cancel of the operation on this thread's client reaches a transfer in progress.
int stop_requested(void *, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return tq_cancel_requested() ? 1 : 0; }

// One transfer: a POST when req_body is given, else a GET. 0 when the transfer
// completed (whatever the HTTP status), -1 on failure with libcurl's text in *err.
int32_t do_req(const char *url, const char *req_body, const char *content_type, char **body,
               int32_t *status, char **err) {
    *body = nullptr;
    *status = 0;
    if (err) *err = nullptr;
    auto fail = [err](const char *text) {
        if (err) *err = tq_strdup(text);
        return -1;
    };

    easy_ptr h(curl_easy_init());
    if (!h) return fail("curl_easy_init failed");

    resp_buf buf;
    curl_easy_setopt(h.get(), CURLOPT_URL, url);
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(wr));
    curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &buf);
    curl_easy_setopt(h.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h.get(), CURLOPT_USERAGENT, "tqmovie/0.1 (tolvane)");
    curl_easy_setopt(h.get(), CURLOPT_TIMEOUT, 120L);
    // Signals are no way to time out a transfer in a threaded host.
    curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
    // libcurl asks at least once a second, also while waiting for a silent server.
    curl_easy_setopt(h.get(), CURLOPT_XFERINFOFUNCTION, stop_requested);
    curl_easy_setopt(h.get(), CURLOPT_NOPROGRESS, 0L);

    slist_ptr headers;
    if (req_body) {
        char line[128];
        std::snprintf(line, sizeof line, "Content-Type: %s", content_type ? content_type : "text/plain");
        headers.reset(curl_slist_append(nullptr, line));
        // Without the list libcurl would send its form-encoded default type, so the
        // service would get the ids under a content type it was never promised.
        if (!headers) return fail(curl_easy_strerror(CURLE_OUT_OF_MEMORY));
        curl_easy_setopt(h.get(), CURLOPT_POST, 1L);
        curl_easy_setopt(h.get(), CURLOPT_POSTFIELDS, req_body);
        curl_easy_setopt(h.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(std::strlen(req_body)));
        curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, headers.get());
    }

    // libcurl's own default follows redirects without end, so a redirect loop would
    // hold a lookup for the whole 120-second limit.
    curl_easy_setopt(h.get(), CURLOPT_MAXREDIRS, 30L);
    // The service speaks HTTP(S) only: neither the URL nor a redirect may switch the
    // transfer to another protocol (a local file, FTP and the like).
    // A libcurl that cannot take this restriction (older than 7.85) gets no request at
    // all rather than an unrestricted one.
    CURLcode rc = curl_easy_setopt(h.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    if (rc == CURLE_OK) rc = curl_easy_setopt(h.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (rc == CURLE_OK) rc = curl_easy_perform(h.get());
    if (rc != CURLE_OK) return fail(curl_easy_strerror(rc));

    long code = 0;
    curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &code);
    *status = static_cast<int32_t>(code);

    // A completed transfer hands out a text even when no byte arrived. Should even that
    // byte be refused, the body stays null, which reads as the empty body it was.
    *body = buf.data ? buf.release() : static_cast<char *>(std::calloc(1, 1));
    return 0;
}

int32_t curl_get(void *, const char *url, char **body, int32_t *status, char **err) {
    return do_req(url, nullptr, nullptr, body, status, err);
}

int32_t curl_post(void *, const char *url, const char *request_body, const char *content_type, char **body,
                  int32_t *status, char **err) {
    return do_req(url, request_body, content_type, body, status, err);
}

} // namespace

extern "C" {

TQMOVIE_API tq_io tolvane_io_curl(void) {
    return tq_io{nullptr, curl_get, curl_post, tq_io_free_heap};
}

} // extern "C"
