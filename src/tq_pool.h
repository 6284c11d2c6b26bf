// SPDX-License-Identifier: MIT
// The pooled backend's private entry for many requests at once: up to n POSTs run side
// by side on its multi handle, over up to n kept-alive connections, on the caller's
// thread. The backend contract is one blocking call per request; parallel batch chunks
// come through here instead. Not installed.
#ifndef TQ_POOL_H
#define TQ_POOL_H

#include "tq_internal.h"

// What one transfer ended with, in the backend contract's terms, with its headers.
struct tq_pool_outcome {
    int32_t rc;     // 0: completed (whatever the HTTP status); -1: failed, err says why
    int32_t status; // the HTTP status
    char *body;     // the caller's (free), or NULL
    char *err;      // the caller's (free), or NULL
    bool retryable; // a failure worth another attempt (no connection, a timeout)
    tq_header headers[32];
    int32_t header_count;
    uint64_t wire_sent, wire_received; // bytes each way on the wire
};

struct tq_pool_batch;

// Whether io is a pooled backend's table.
bool tq_pool_is(const tq_io &io) noexcept;

// Starts a batch of at most n transfers at a time on the pooled backend io, for client
// c's requests (cancel and deadline heard). NULL when the backend is busy with another
// request, its options were refused, or memory ran out: the caller then goes one
// request at a time.
tq_pool_batch *tq_pool_batch_begin(const tq_io &io, size_t n, tqmovie_client &c) noexcept;
// Posts body ("text/plain") to url in slot k (below n; the slot must be free). url and
// body must stay valid until the slot's outcome is taken or the batch ends. false (the
// outcome then already taken into *out) when the request could not even start.
bool tq_pool_batch_post(tq_pool_batch *b, size_t k, const char *url, const char *body, tq_pool_outcome *out) noexcept;
// Waits at most ms for a transfer to end: the slot whose outcome is ready, or -1.
long tq_pool_batch_wait(tq_pool_batch *b, int ms) noexcept;
// Takes the outcome of an ended slot, which becomes free.
void tq_pool_batch_take(tq_pool_batch *b, size_t k, tq_pool_outcome *out) noexcept;
// Ends the batch: transfers still running are dropped, the backend is free again.
void tq_pool_batch_end(tq_pool_batch *b) noexcept;

#endif // TQ_POOL_H
