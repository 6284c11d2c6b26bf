// SPDX-License-Identifier: MIT
// tqmovie_dispatch: one request through the client's backend, tried again as its
// retry policy says; the record of which client a request in flight belongs to; and
// the response header table the backends fill.
#include "tq_internal.h"
#include "tq_log.h"
#include "tq_request.h"

namespace {

// The request the calling thread's backend is serving, innermost first: a host
// backend may itself run a lookup on another client.
struct in_flight {
    tqmovie_client *client;
    in_flight *outer;
};
thread_local in_flight *t_request = nullptr;

// While the backend's entry runs, the client hears the headers it reports
// (tqmovie_io_header) and the shipped backends find it through tq_request_client;
// before and after, neither.
class request_window {
public:
    explicit request_window(tqmovie_client &c) noexcept : op_(c.ext.op), self_{&c, t_request} {
        op_.fetch_or(tq_op_request);
        t_request = &self_;
    }
    ~request_window() {
        t_request = self_.outer;
        op_.fetch_and(~tq_op_request);
    }
    request_window(const request_window &) = delete;
    request_window &operator=(const request_window &) = delete;

private:
    std::atomic<uint32_t> &op_;
    in_flight self_;
};

// Steps shared by GET and POST once the entry has returned. The backend's error
// description is ours from here on; without a free entry it still came from the
// standard heap (the backend contract), so it is released there rather than leaked.
int32_t finish_request(tqmovie_client &c, int32_t rc, int32_t *status, char *desc) noexcept {
    tq_state &s = *c.st;
    s.http_code = *status;
    // A transfer stopped by a cancel or the deadline fails in the backend's own words;
    // the operation reports it as what it is.
    if (const int32_t stop = tq_stop_status(c)) {
        tq_io_release(s.io, desc);
        return stop;
    }
    if (rc != 0) {
        tq_err(c, "transport: %s", desc ? desc : "unknown");
        tq_io_release(s.io, desc);
        return TQMOVIE_ERR_TRANSPORT;
    }
    tq_io_release(s.io, desc); // a description on success is dropped unread
    if (static_cast<uint32_t>(*status) - 200u > 99u) {
        tq_err(c, "HTTP %ld", static_cast<long>(*status));
        return TQMOVIE_ERR_HTTP;
    }
    return TQMOVIE_OK;
}

bool is_control(unsigned char c) noexcept { return c < 0x20 || c == 0x7F; }

// Common start of every attempt: clean outputs, no header of an earlier request, the
// entry the request needs, and no cancel pending. Returns the status to end with, or
// TQMOVIE_OK to send the request.
int32_t begin_request(tqmovie_client &c, bool has_entry, char **body, int32_t *status) noexcept {
    *body = nullptr;
    *status = 0;
    tq_state &s = *c.st;
    s.header_count = 0;
    if (!s.has_io || !has_entry) return tq_fail(c, TQMOVIE_ERR_NO_IO, tq_err_no_io);
    return tq_stop_status(c);
}

// One request, tried again after a failure worth another attempt. send(desc) calls
// the backend's entry; each attempt goes to the client's log.
template <typename Send>
int32_t dispatch(tqmovie_client &c, bool has_entry, char **body, int32_t *status, tq_log_attempt a,
                 Send send) noexcept {
    for (uint32_t attempt = 0;; ++attempt) {
        if (const int32_t st = begin_request(c, has_entry, body, status)) return st;
        c.ext.op.fetch_and(~tq_op_retryable);
        // Every request to a service draws on the process's budget first.
        const tq_io &io = c.st->io;
        if (!tq_io_is_fake(io) && !tq_io_is_stub(io))
            if (const int32_t st = tq_rate_take(c)) return st;
        char *desc = nullptr;
        int32_t rc;
        c.ext.wire_known = false;
        const int64_t started = c.ext.log ? tq_monotonic_ms() : 0;
        {
            const request_window window(c);
            rc = send(&desc);
        }
        const int32_t st = finish_request(c, rc, status, desc);
        if (c.ext.log) {
            a.answer = rc == 0 ? *body : nullptr;
            a.status = st;
            a.http = *status;
            a.started_ms = started;
            a.attempt = attempt;
            a.wire_known = c.ext.wire_known;
            a.wire_sent = c.ext.wire_sent;
            a.wire_received = c.ext.wire_received;
            tq_log_request(c, a);
        }
        const int64_t wait = tq_retry_wait(c, st, *status, attempt);
        if (wait < 0) return st;
        std::free(*body); // the failed attempt's answer
        *body = nullptr;
        if (const int32_t stop = tq_retry_sleep(c, wait, st)) return stop;
        c.st->err[0] = '\0'; // the next attempt speaks for itself
    }
}

} // namespace

int32_t tq_request_get(tqmovie_client &c, const char *url, char **body, int32_t *status) noexcept {
    const tq_io io = c.st->io;
    return dispatch(c, io.get != nullptr, body, status, tq_log_attempt{"GET", url, nullptr},
                    [&](char **desc) { return io.get(io.ctx, url, body, status, desc); });
}

int32_t tq_request_post(tqmovie_client &c, const char *url, const char *request_body, char **body,
                        int32_t *status) noexcept {
    const tq_io io = c.st->io;
    return dispatch(c, io.post != nullptr, body, status, tq_log_attempt{"POST", url, request_body},
                    [&](char **desc) { return io.post(io.ctx, url, request_body, "text/plain", body, status, desc); });
}

tqmovie_client *tq_request_client() noexcept { return t_request ? t_request->client : nullptr; }

void tq_mark_retryable(tqmovie_client &c) noexcept {
    std::atomic<uint32_t> &op = c.ext.op;
    if (op.load() & tq_op_request) op.fetch_or(tq_op_retryable);
}

bool tq_header_add(tq_header *table, int32_t &count, const char *name, size_t name_len, const char *value,
                   size_t value_len) noexcept {
    const int32_t at = count < 0 ? 0 : count;
    if (at >= tq_header_max) return false;
    if (name_len == 0 || name_len >= sizeof(tq_header::name)) return false;
    for (size_t i = 0; i < name_len; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (is_control(c) || c == ' ' || c == ':') return false;
    }
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (value_len > 0 && blank(*value)) ++value, --value_len;
    while (value_len > 0 && blank(value[value_len - 1])) --value_len;
    for (size_t i = 0; i < value_len; ++i)
        if (is_control(static_cast<unsigned char>(value[i]))) return false;
    tq_header &h = table[at];
    if (value_len >= sizeof h.value) value_len = sizeof h.value - 1;
    std::memcpy(h.name, name, name_len);
    h.name[name_len] = '\0';
    std::memcpy(h.value, value, value_len);
    h.value[value_len] = '\0';
    count = at + 1;
    return true;
}

bool tq_header_add(tq_state &s, const char *name, size_t name_len, const char *value, size_t value_len) noexcept {
    return tq_header_add(s.headers, s.header_count, name, name_len, value, value_len);
}

const char *tq_header_find(const tq_state &s, const char *name) noexcept {
    const int32_t n = s.header_count < 32 ? s.header_count : 32;
    for (int32_t i = 0; i < n; ++i)
        if (tq_stricmp(s.headers[i].name, name) == 0) return s.headers[i].value;
    return nullptr;
}

extern "C" {

int32_t tq_http_get(const char *url, char **body, int32_t *status) {
    return tq_request_get(client(), url, body, status);
}

int32_t tq_http_post(const char *url, const char *request_body, char **body, int32_t *status) {
    return tq_request_post(client(), url, request_body, body, status);
}

int32_t tqmovie_io_header(tqmovie_client *c, const char *name, const char *value) {
    tqmovie_client &target = tq_client_of(c);
    if (!name || !value || !(target.ext.op.load() & tq_op_request)) return 0;
    return tq_header_add(*target.st, name, std::strlen(name), value, std::strlen(value)) ? 1 : 0;
}

void tqmovie_io_retryable(tqmovie_client *c) { tq_mark_retryable(tq_client_of(c)); }

} // extern "C"
