// SPDX-License-Identifier: MIT
// Requests: the dispatch of one request to the client's backend with its retry loop,
// the record of which client a request in flight belongs to, the response header
// table, and the retry policy and deadline. Not installed.
#ifndef TQ_REQUEST_H
#define TQ_REQUEST_H

#include "tq_client.h"

#include <cstddef>
#include <cstdint>

// One GET or POST ("text/plain" body) through c's backend, tried again as c's retry
// policy says; what the host sees is the last attempt's status, text, headers and
// body (tq_http_get and tq_http_post for the exported forms).
int32_t tq_request_get(tqmovie_client &c, const char *url, char **body, int32_t *status) noexcept;
int32_t tq_request_post(tqmovie_client &c, const char *url, const char *request_body, char **body,
                        int32_t *status) noexcept;

// The single-title requests' paths, and their address:
// "<host><path>?imdbId=<id>&language=<lang>", both values percent-encoded, a null or
// empty language as "en-US" (tqmovie_lookup.cpp); NULL when memory ran out.
inline constexpr char tq_path_basic[] = "/api/AAA/GetMovieBasic";
inline constexpr char tq_path_detail[] = "/api/AAA/GetMovieDetail";
char *tq_single_url(const tq_state &s, const char *path, const char *imdb_id, const char *language) noexcept;

// The client whose request the calling thread's backend is serving: set by the
// dispatch around the backend's entry (nested dispatches restore the outer one), so a
// shipped backend reaches the client that made the request even when a host backend
// that wraps it made another client current. NULL outside a dispatch.
tqmovie_client *tq_request_client() noexcept;

// Adds one response header to the table of s within its limits: the first 32 kept, a
// name of 1 to 63 visible characters without ':', a value (surrounding spaces and
// tabs dropped) cut at 255 characters. A name or value holding a control byte (CR, LF
// and a tab inside the value included) is never stored. false when it was left out.
inline constexpr int32_t tq_header_max = 32;
bool tq_header_add(tq_state &s, const char *name, size_t name_len, const char *value, size_t value_len) noexcept;
// The same on a table of tq_header_max headers of its own, count of them in use.
bool tq_header_add(tq_header *table, int32_t &count, const char *name, size_t name_len, const char *value,
                   size_t value_len) noexcept;
// The value of the response header `name` (any letter case) in s's table, or NULL.
const char *tq_header_find(const tq_state &s, const char *name) noexcept;

// Marks the request in flight on c as worth another attempt.
void tq_mark_retryable(tqmovie_client &c) noexcept;

// ----------------------------------------------------------------------------
// Retries and the deadline (tqmovie_retry.cpp)
// ----------------------------------------------------------------------------

// Monotonic clock in milliseconds.
int64_t tq_monotonic_ms() noexcept;

// Why c's operation must stop now: TQMOVIE_ERR_CANCELLED ("cancelled") after
// tqmovie_cancel, TQMOVIE_ERR_TRANSPORT ("deadline exceeded") once its deadline has
// passed (the text set in both cases), else TQMOVIE_OK.
int32_t tq_stop_status(tqmovie_client &c) noexcept;
// The same question without a text: what a transfer in progress asks.
bool tq_stop_requested(const tqmovie_client &c) noexcept;
// Milliseconds left before c's running operation's deadline, or -1 without one.
int64_t tq_deadline_left_ms(const tqmovie_client &c) noexcept;

// After a failed attempt with status st (HTTP status http): the milliseconds to wait
// before another one (the answer's Retry-After, else a backoff with full jitter), or
// -1 when st stands (no retry wanted, none left, or a Retry-After longer than the
// client allows).
int64_t tq_retry_wait(tqmovie_client &c, int32_t st, int32_t http, uint32_t attempt) noexcept;
// The same for an attempt whose answer had the given Retry-After (NULL: none) and
// whose transport failure was marked worth another attempt (retryable).
int64_t tq_retry_wait_on(tqmovie_client &c, int32_t st, int32_t http, uint32_t attempt, const char *retry_after,
                         bool retryable) noexcept;
// Reports the wait to the progress callback and waits ms, ended early by a cancel or
// the deadline (a wait that would end after the deadline is neither reported nor
// begun); the status to end with, or 0.
int32_t tq_retry_sleep(tqmovie_client &c, int64_t ms, int32_t st) noexcept;

// ----------------------------------------------------------------------------
// The process's request budget (tqmovie_rate.cpp)
// ----------------------------------------------------------------------------

// The shipped backends that answer without a service, which the budget leaves alone.
bool tq_io_is_fake(const tq_io &io) noexcept;
bool tq_io_is_stub(const tq_io &io) noexcept;

// Takes a token now (0), or tells how many milliseconds until one (none taken).
int64_t tq_rate_try() noexcept;
// Takes a token for c's next request, waiting for it (reported to the progress
// callback once, ended by a cancel or the deadline); the status to end with, or 0.
int32_t tq_rate_take(tqmovie_client &c) noexcept;

#endif // TQ_REQUEST_H
