// SPDX-License-Identifier: MIT
// The request log (tqmovie_log.cpp): what the dispatch, the parallel batches and the
// cache answers tell a client's log callback. Every call does nothing without one.
// Not installed.
#ifndef TQ_LOG_H
#define TQ_LOG_H

#include "tq_client.h"

#include <cstddef>
#include <cstdint>

// One attempt of a request that ended with status st and HTTP status http, begun at
// started_ms (tq_monotonic_ms). The bytes are the wire's when the backend reported
// them during the attempt (tq_log_wire), else the request and answer bodies' lengths.
struct tq_log_attempt {
    const char *method = nullptr;
    const char *url = nullptr;
    const char *request_body = nullptr; // NULL for a GET
    const char *answer = nullptr;       // the answer's body, NULL without one
    int32_t status = 0;
    int32_t http = 0;
    int64_t started_ms = 0;
    uint32_t attempt = 0; // 0 for the first
    bool wire_known = false;
    uint64_t wire_sent = 0, wire_received = 0;
};
void tq_log_request(tqmovie_client &c, const tq_log_attempt &a) noexcept;

// A title answered from the memory cache or the store (source TQMOVIE_SOURCE_*): the
// event names the single-title address path?imdbId=ID&language=L a request would have asked.
void tq_log_cached(tqmovie_client &c, int32_t source, const char *path, const char *id, const char *language) noexcept;

// Tells the request in flight on c how many bytes went each way on the wire.
void tq_log_wire(tqmovie_client &c, uint64_t sent, uint64_t received) noexcept;

// url without a user name or password: "scheme://user:pw@host/..." loses "user:pw@".
// Writes at most size - 1 bytes and a NUL into out; returns out.
char *tq_log_clean_url(const char *url, char *out, size_t size) noexcept;

#endif // TQ_LOG_H
