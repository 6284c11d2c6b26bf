// SPDX-License-Identifier: MIT
// tqmovie_log: the request log. Each attempt of each request and each answer from the
// memory cache or the store becomes one event for the client's log callback, with the
// address stripped of any credentials.
#include "tq_internal.h"
#include "tq_log.h"
#include "tq_request.h"

#include <cstdio>

namespace {

// An address as long as any the library builds fits; a longer one is cut.
constexpr size_t url_room = 2048;

void deliver(tqmovie_client &c, tqmovie_log_event &event) noexcept {
    const tq_err_kept kept(c);
    c.ext.log(&event, c.ext.log_user);
}

} // namespace

char *tq_log_clean_url(const char *url, char *out, size_t size) noexcept {
    if (size == 0) return out;
    out[0] = '\0';
    if (!url) return out;
    const char *rest = url;
    size_t keep = 0; // the scheme and "://", copied as they are
    if (const char *sep = std::strstr(url, "://")) {
        keep = static_cast<size_t>(sep - url) + 3;
        const char *authority = sep + 3;
        const size_t end = std::strcspn(authority, "/?#");
        // The last '@' before the path ends the credentials.
        const char *at = nullptr;
        for (const char *p = authority; p < authority + end; ++p)
            if (*p == '@') at = p;
        rest = at ? at + 1 : authority;
    }
    // The scheme, then the rest, cut to fit.
    size_t at = 0;
    for (const char *part : {url, rest}) {
        const size_t len = part == url ? keep : std::strlen(part);
        const size_t n = len < size - 1 - at ? len : size - 1 - at;
        std::memcpy(out + at, part, n);
        at += n;
    }
    out[at] = '\0';
    return out;
}

void tq_log_wire(tqmovie_client &c, uint64_t sent, uint64_t received) noexcept {
    c.ext.wire_sent = sent;
    c.ext.wire_received = received;
    c.ext.wire_known = true;
}

void tq_log_request(tqmovie_client &c, const tq_log_attempt &a) noexcept {
    if (!c.ext.log) return;
    char url[url_room];
    tqmovie_log_event e{};
    e.size = sizeof e;
    e.method = a.method;
    e.url = tq_log_clean_url(a.url, url, sizeof url);
    e.status = a.status;
    e.http_code = a.http;
    e.bytes_sent = a.wire_known ? a.wire_sent : a.request_body ? std::strlen(a.request_body) : 0;
    e.bytes_received = a.wire_known ? a.wire_received : a.answer ? std::strlen(a.answer) : 0;
    const int64_t ms = tq_monotonic_ms() - a.started_ms;
    e.ms = ms < 0 ? 0 : ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
    e.attempt = a.attempt + 1;
    e.source = TQMOVIE_SOURCE_SERVICE;
    deliver(c, e);
}

void tq_log_cached(tqmovie_client &c, int32_t source, const char *path, const char *id, const char *language) noexcept {
    if (!c.ext.log) return;
    malloc_ptr<char> asked(tq_single_url(*c.st, path, id ? id : "", language));
    char url[url_room];
    tqmovie_log_event e{};
    e.size = sizeof e;
    e.method = "GET";
    e.url = tq_log_clean_url(asked ? asked.get() : c.st->host, url, sizeof url);
    e.source = source;
    e.imdb_id = id;
    deliver(c, e);
}

extern "C" {

int32_t tqmovie_set_log(tqmovie_log_fn fn, void *user) {
    tq_ext &x = ext();
    x.log = fn;
    x.log_user = user;
    return TQMOVIE_OK;
}

} // extern "C"
