// SPDX-License-Identifier: MIT
// What the two libcurl backends share: transfers on prepared easy handles, run on a
// multi handle. A transfer sets the request's own options (URL, method, body, content
// type, allowed protocols), receives the body under a size limit, keeps the final
// response's headers for the requesting client (tq_request_client), ends within
// 20 ms of a cancel or the deadline of that client's operation, and turns libcurl's
// outcome into the backend contract's result. Not installed.
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
struct tq_multi_deleter {
    void operator()(CURLM *m) const noexcept { curl_multi_cleanup(m); }
};
using tq_multi_ptr = std::unique_ptr<CURLM, tq_multi_deleter>;
struct tq_slist_deleter {
    void operator()(curl_slist *l) const noexcept { curl_slist_free_all(l); }
};
using tq_slist_ptr = std::unique_ptr<curl_slist, tq_slist_deleter>;

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

// Ends an entry without a transfer: no body, status 0, a copy of text in *err (when
// err is given). Returns -1.
int32_t tq_curl_fail(char **body, int32_t *status, char **err, const char *text) noexcept;

// Which of a backend's texts would put a control byte on the wire (CR and LF would
// start a header of their own): a text naming the option, or NULL when all are clean
// (a NULL text is clean).
const char *tq_curl_option_refused(const char *user_agent, const char *proxy, const char *content_type) noexcept;

// One transfer's receiving side and its options on an easy handle whose lasting
// options (user agent, time limits, redirects) the backend has set.
class tq_curl_transfer {
public:
    // For the request of client c (NULL: nobody's: no headers kept, no cancel heard).
    explicit tq_curl_transfer(tqmovie_client *c) noexcept : client_(c) {}
    ~tq_curl_transfer() { std::free(data_); }
    tq_curl_transfer(const tq_curl_transfer &) = delete;
    tq_curl_transfer &operator=(const tq_curl_transfer &) = delete;

    // Sets the request's options on h. false with the entry's failure written (a
    // content type that would inject a header, or no memory) when nothing may be sent.
    bool start(CURL *h, const tq_curl_request &req, char **body, int32_t *status, char **err) noexcept;
    // After the transfer ended with rc: 0 when it completed, whatever the HTTP status,
    // with *status and a NUL-terminated *body; else -1 with libcurl's text, or the
    // body limit's, in *err (when err is given). Leaves no option on h that points
    // into this object.
    int32_t finish(CURLcode rc, char **body, int32_t *status, char **err) noexcept;
    // The headers of the final response (valid after finish).
    const tq_header *headers() const noexcept { return headers_; }
    int32_t header_count() const noexcept { return header_count_; }
    // Bytes each way on the wire: request line, headers and body sent; headers and
    // body received (valid after finish).
    uint64_t wire_sent() const noexcept { return sent_; }
    uint64_t wire_received() const noexcept { return received_; }

private:
    friend struct tq_curl_callbacks;
    tqmovie_client *client_;
    CURL *h_ = nullptr;
    char *data_ = nullptr; // null until the first byte; always NUL-terminated after
    size_t len_ = 0, cap_ = 0;
    uint64_t limit_ = 0, max_body_ = 0;
    long code_ = 0;          // the status of the response being received
    bool over_ = false;      // a chunk was refused for the limit
    bool error_cut_ = false; // an error answer's body was cut
    bool secure_ = false;    // a hop of this transfer went over https
    bool downgrade_ = false; // ... and a later one was refused for plain http
    tq_slist_ptr list_;
    tq_header headers_[32];
    int32_t header_count_ = 0;
    uint64_t sent_ = 0, received_ = 0;
};

// Runs one started transfer on h through multi handle m (which keeps its connections
// for the next one) until it ends, or until the requesting client's operation is
// cancelled or passes its deadline (checked every 20 ms). Returns libcurl's result.
CURLcode tq_curl_run(CURLM *m, CURL *h, tqmovie_client *c) noexcept;

// One whole exchange on h through m: start, run, finish; the headers go to the
// requesting client's table.
int32_t tq_curl_exchange(CURLM *m, CURL *h, const tq_curl_request &req, char **body, int32_t *status,
                         char **err) noexcept;

#endif // TQ_IO_CURL_COMMON_H
