// SPDX-License-Identifier: MIT
// What the two libcurl backends share: one exchange on a prepared easy handle. It sets
// the request's own options (URL, method, body, content type, allowed protocols),
// receives the body under a size limit, captures the final response's headers into
// the requesting client's table (tq_request_client), lets a cancel of its operation
// stop the transfer, and turns libcurl's outcome into the backend contract's result.
// Not installed.
#ifndef TQ_IO_CURL_COMMON_H
#define TQ_IO_CURL_COMMON_H

#include "tq_internal.h"
#include "tq_request.h"

#include <curl/curl.h>

#include <memory>

// The user agent both backends send unless a host names another.
inline constexpr char tq_curl_user_agent[] = "tqmovie/0.1 (tolvane)";

struct tq_easy_deleter {
    void operator()(CURL *h) const noexcept { curl_easy_cleanup(h); }
};
using tq_easy_ptr = std::unique_ptr<CURL, tq_easy_deleter>;

// One request as a backend's entry received it, with the backend's rules for it.
struct tq_curl_request {
    const char *url;
    const char *body;               // NULL: a GET
    const char *content_type;       // of a POST; NULL: "text/plain"
    const char *redirect_protocols; // libcurl's list of protocols a redirect may lead to
    uint64_t max_body;              // most body bytes taken (after decoding); UINT64_MAX: no limit
    bool no_expect;                 // send a large POST body at once, never wait for 100-continue
    int64_t timeout_ms;             // for the whole transfer (shortened by the operation's deadline)
};

// Which of a backend's texts would put a control byte on the wire (CR and LF would
// start a header of their own): a text naming the option, or NULL when all are clean
// (a NULL text is clean).
const char *tq_curl_option_refused(const char *user_agent, const char *proxy, const char *content_type) noexcept;

// Ends an entry without a transfer: no body, status 0, a copy of text in *err (when
// err is given). Returns -1.
int32_t tq_curl_fail(char **body, int32_t *status, char **err, const char *text) noexcept;

// One transfer on h, whose lasting options (user agent, time limits, redirects) the
// backend has set. Returns 0 when the transfer completed, whatever the HTTP status,
// with *status and a NUL-terminated *body; else -1 with libcurl's text, or the body
// limit's, in *err (when err is given). A content type holding CR or LF is refused
// before anything is sent. Leaves no option on h that points into this call.
int32_t tq_curl_exchange(CURL *h, const tq_curl_request &req, char **body, int32_t *status, char **err) noexcept;

#endif // TQ_IO_CURL_COMMON_H
