// SPDX-License-Identifier: MIT
// tqmovie_retry: what a request does after a failed attempt, and how long an operation
// may take. A client that asks for retries gets another attempt after an HTTP 429,
// 502, 503 or 504, and after a transport failure its backend marked as worth one (a
// connect that failed, a timeout). The wait before it is the answer's Retry-After when
// it has one (a longer one than the client allows ends the call with the service's
// status), else a backoff from 500 ms with full jitter. Waits end early on a cancel,
// and every operation may have a deadline across its chunks, attempts and waits.
#include "tq_internal.h"
#include "tq_request.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t first_backoff_ms = 500;

const char *const k_deadline_exceeded = "deadline exceeded";

bool deadline_passed(const tq_ext &x) noexcept { return x.deadline_at != 0 && tq_monotonic_ms() >= x.deadline_at; }

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) noexcept {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// An HTTP date in its preferred form, "Sun, 06 Nov 1994 08:49:37 GMT", as calendar
// seconds; false for anything else. Month names are English whatever the locale.
bool http_date(const char *s, int64_t *out) noexcept {
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char wday[4], mon[4], zone[4];
    int d, y, hh, mm, ss, n = 0;
    if (std::sscanf(s, "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d %3[A-Z]%n", wday, &d, mon, &y, &hh, &mm, &ss, zone,
                    &n) != 8 ||
        s[n] != '\0' || std::strcmp(zone, "GMT") != 0)
        return false;
    const char *at = std::strstr(months, mon);
    if (!at || (at - months) % 3 != 0 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 60) return false;
    const int64_t month = (at - months) / 3 + 1;
    *out = days_from_civil(y, month, d) * 86400 + hh * 3600 + mm * 60 + ss;
    return true;
}

// The answer's Retry-After in ms: delta seconds or an HTTP date (one in the past means
// no wait); -1 when there is none or it cannot be read.
int64_t retry_after_ms(const char *v) noexcept {
    if (!v || !v[0]) return -1;
    if (v[std::strspn(v, "0123456789")] == '\0') {
        if (std::strlen(v) > 9) return INT64_MAX / 2; // more than 31 years: longer than any wait
        return static_cast<int64_t>(std::strtoll(v, nullptr, 10)) * 1000;
    }
    int64_t at = 0;
    if (!http_date(v, &at)) return -1;
    const int64_t now = tq_now();
    return at > now ? (at - now) * 1000 : 0;
}

// Uniform in [0, n] from the client's own random state (xorshift; seeded from the
// clock and the client's address on first use).
int64_t jitter(tq_ext &x, int64_t n) noexcept {
    if (x.jitter == 0)
        x.jitter =
            ((static_cast<uint64_t>(tq_monotonic_ms()) * 0x9E3779B97F4A7C15ull) ^ reinterpret_cast<uintptr_t>(&x)) | 1;
    x.jitter ^= x.jitter << 13;
    x.jitter ^= x.jitter >> 7;
    x.jitter ^= x.jitter << 17;
    return static_cast<int64_t>(x.jitter % static_cast<uint64_t>(n + 1));
}

bool worth_retrying(int32_t st, int32_t http, bool retryable) noexcept {
    if (st == TQMOVIE_ERR_HTTP) return http == 429 || http == 502 || http == 503 || http == 504;
    return st == TQMOVIE_ERR_TRANSPORT && retryable;
}

} // namespace

int64_t tq_monotonic_ms() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int32_t tq_stop_status(tqmovie_client &c) noexcept {
    if (c.ext.op.load(std::memory_order_relaxed) & tq_op_cancel) return tq_fail(c, TQMOVIE_ERR_CANCELLED, tq_err_cancelled);
    if (deadline_passed(c.ext)) return tq_fail(c, TQMOVIE_ERR_TRANSPORT, k_deadline_exceeded);
    return TQMOVIE_OK;
}

bool tq_stop_requested(const tqmovie_client &c) noexcept {
    return (c.ext.op.load(std::memory_order_relaxed) & tq_op_cancel) != 0 || deadline_passed(c.ext);
}

int64_t tq_deadline_left_ms(const tqmovie_client &c) noexcept {
    const tq_ext &x = c.ext;
    if (x.deadline_at == 0) return -1;
    const int64_t left = x.deadline_at - tq_monotonic_ms();
    return left > 0 ? left : 0;
}

int64_t tq_retry_wait(tqmovie_client &c, int32_t st, int32_t http, uint32_t attempt) noexcept {
    const bool retryable = (c.ext.op.load(std::memory_order_relaxed) & tq_op_retryable) != 0;
    return tq_retry_wait_on(c, st, http, attempt, tq_header_find(*c.st, "Retry-After"), retryable);
}

int64_t tq_retry_wait_on(tqmovie_client &c, int32_t st, int32_t http, uint32_t attempt, const char *retry_after,
                         bool retryable) noexcept {
    tq_ext &x = c.ext;
    if (attempt >= x.retries || !worth_retrying(st, http, retryable)) return -1;
    int64_t wait = st == TQMOVIE_ERR_HTTP ? retry_after_ms(retry_after) : -1;
    if (wait > static_cast<int64_t>(x.max_wait_ms)) return -1; // the service wants longer than allowed
    if (wait < 0) {
        const int64_t cap = attempt < 20 ? first_backoff_ms << attempt : INT64_MAX / 4;
        wait = jitter(x, cap < x.max_wait_ms ? cap : x.max_wait_ms);
    }
    return wait;
}

int32_t tq_retry_sleep(tqmovie_client &c, int64_t ms, int32_t st) noexcept {
    const int64_t left = tq_deadline_left_ms(c);
    if (left >= 0 && ms >= left) return tq_fail(c, TQMOVIE_ERR_TRANSPORT, k_deadline_exceeded); // no use waiting
    const tq_ext &x = c.ext;
    tq_report_progress(c, tqmovie_progress{sizeof(tqmovie_progress), TQMOVIE_PROGRESS_RETRY_WAIT, st, x.done,
                                           x.total, static_cast<uint32_t>(ms), c.st->http_code});
    const int64_t until = tq_monotonic_ms() + ms;
    // Short naps, so that a cancel from another thread or a signal handler is seen soon.
    for (int64_t now = tq_monotonic_ms(); now < until; now = tq_monotonic_ms()) {
        if (const int32_t stop = tq_stop_status(c)) return stop;
        const int64_t nap = until - now < 10 ? until - now : 10;
        timespec ts{0, static_cast<long>(nap) * 1000000L};
        nanosleep(&ts, nullptr);
    }
    return tq_stop_status(c);
}
