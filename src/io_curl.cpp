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

namespace {

// The body of one transfer. `data` is null until the first byte arrives; after every
// chunk the bytes are followed by a NUL (not counted in `len`), so the buffer is always
// a valid text. `cap` is the allocated size, kept ahead of `len` so that a large body
// costs a logarithmic number of reallocations instead of one per chunk.
struct resp_buf {
    char *data;
    uint64_t len;
    uint64_t cap;
};

// libcurl's write callback. Returning anything but size * count makes libcurl abort
// the transfer with CURLE_WRITE_ERROR; the bytes already held stay in the buffer and
// are released by do_req.
size_t wr(char *data, size_t size, size_t count, void *userp) {
    auto *buf = static_cast<resp_buf *>(userp);
    if (count != 0 && size > SIZE_MAX / count) return 0;
    const size_t n = size * count;
    if (n == 0) return 0;
    // Room for the held bytes, the new ones and the terminating NUL, without wrapping.
    if (buf->len > SIZE_MAX - 1 || n > SIZE_MAX - 1 - buf->len) return 0;
    const uint64_t need = buf->len + n + 1;
    if (need > buf->cap) {
        // Doubling keeps the total copying linear in the body size. The first chunk
        // gets exactly what it needs, so a small body costs no slack at all.
        uint64_t cap = buf->cap > SIZE_MAX / 2 ? SIZE_MAX : buf->cap * 2;
        if (cap < need) cap = need;
        char *grown = static_cast<char *>(std::realloc(buf->data, cap));
        if (!grown) return 0;
        buf->data = grown;
        buf->cap = cap;
    }
    std::memcpy(buf->data + buf->len, data, n);
    buf->len += n;
    buf->data[buf->len] = '\0';
    return n;
}

// One transfer: a POST when req_body is given, else a GET. 0 when the transfer
// completed (whatever the HTTP status), -1 on failure with libcurl's text in *err.
int32_t do_req(const char *url, const char *req_body, const char *content_type, char **body,
               int32_t *status, char **err) {
    *body = nullptr;
    *status = 0;
    if (err) *err = nullptr;

    CURL *h = curl_easy_init();
    if (!h) {
        if (err) *err = tq_strdup("curl_easy_init failed");
        return -1;
    }

    resp_buf buf{};
    curl_easy_setopt(h, CURLOPT_URL, url);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(wr));
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &buf);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "tqmovie/0.1 (tolvane)");
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 120L);

    curl_slist *headers = nullptr;
    if (req_body) {
        char line[128];
        std::snprintf(line, sizeof line, "Content-Type: %s", content_type ? content_type : "text/plain");
        headers = curl_slist_append(nullptr, line);
        if (!headers) {
            // Without the list libcurl would send its form-encoded default type, so the
            // service would get the ids under a content type it was never promised.
            if (err) *err = tq_strdup(curl_easy_strerror(CURLE_OUT_OF_MEMORY));
            curl_easy_cleanup(h);
            return -1;
        }
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, req_body);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(std::strlen(req_body)));
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    }

    // libcurl's own default follows redirects without end, so a redirect loop would
    // hold a lookup for the whole 120-second limit.
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 30L);
    // The service speaks HTTP(S) only: neither the URL nor a redirect may switch the
    // transfer to another protocol (a local file, FTP and the like).
    // A libcurl that cannot take this restriction (older than 7.85) gets no request at
    // all rather than an unrestricted one.
    CURLcode rc = curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");

    if (rc == CURLE_OK) rc = curl_easy_perform(h);
    if (headers) curl_slist_free_all(headers);

    if (rc != CURLE_OK) {
        if (err) *err = tq_strdup(curl_easy_strerror(rc));
        std::free(buf.data);
        curl_easy_cleanup(h);
        return -1;
    }

    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    *status = static_cast<int32_t>(code);
    curl_easy_cleanup(h);

    // A completed transfer hands out a text even when no byte arrived. Should even that
    // byte be refused, the body stays null, which reads as the empty body it was.
    *body = buf.data ? buf.data : static_cast<char *>(std::calloc(1, 1));
    return 0;
}

int32_t curl_get(void *, const char *url, char **body, int32_t *status, char **err) {
    return do_req(url, nullptr, nullptr, body, status, err);
}

int32_t curl_post(void *, const char *url, const char *request_body, const char *content_type, char **body,
                  int32_t *status, char **err) {
    return do_req(url, request_body, content_type, body, status, err);
}

void io_curl_free_buf(void *, void *ptr) { std::free(ptr); }

} // namespace

extern "C" {

TQMOVIE_API tq_io tolvane_io_curl(void) {
    tq_io io{};
    io.ctx = nullptr;
    io.get = curl_get;
    io.post = curl_post;
    io.free = io_curl_free_buf;
    return io;
}

} // extern "C"
