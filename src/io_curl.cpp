// SPDX-License-Identifier: MIT
// io_curl: the transport backend that talks HTTP(S) through libcurl's easy interface.
//
// Every request is one self-contained transfer on a fresh easy handle: no handle,
// connection or other state survives between requests, so the entries need no
// context. A completed transfer is a success whatever its HTTP status (statuses are
// the dispatch's business); only libcurl failures are reported, with libcurl's text.
// The transfer itself is the one both libcurl backends share (io_curl_common).
#include "io_curl_common.h"

namespace {

// One transfer: a POST when req_body is given, else a GET. 0 when the transfer
// completed (whatever the HTTP status), -1 on failure with the reason in *err.
int32_t do_req(const char *url, const char *req_body, const char *content_type, char **body, int32_t *status,
               char **err) {
    tq_easy_ptr h(curl_easy_init());
    if (!h) return tq_curl_fail(body, status, err, "curl_easy_init failed");
    curl_easy_setopt(h.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h.get(), CURLOPT_USERAGENT, tq_curl_user_agent);
    // libcurl's own default follows redirects without end, so a redirect loop would
    // hold a lookup for the whole 120-second limit.
    curl_easy_setopt(h.get(), CURLOPT_MAXREDIRS, 30L);
    // 120 seconds for the whole transfer (or less, up to the operation's deadline).
    const tq_curl_request req{url, req_body, content_type, "http,https", TQMOVIE_HTTP_MAX_BODY, false, 120000};
    // A multi handle of its own, gone with the request: no connection is kept.
    tq_multi_ptr m(curl_multi_init());
    if (!m) return tq_curl_fail(body, status, err, curl_easy_strerror(CURLE_OUT_OF_MEMORY));
    return tq_curl_exchange(m.get(), h.get(), req, body, status, err);
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

TQMOVIE_API tq_io tolvane_io_curl(void) { return tq_io{nullptr, curl_get, curl_post, tq_io_free_heap}; }

} // extern "C"
