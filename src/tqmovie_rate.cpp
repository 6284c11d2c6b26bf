// SPDX-License-Identifier: MIT
// tqmovie_rate: one request budget for the whole process, a token bucket every client
// draws from, because a service counts requests by address, not by client. Off until
// tqmovie_set_rate_limit turns it on.
#include "tq_internal.h"
#include "tq_request.h"

#include <cmath>
#include <ctime>
#include <pthread.h>

namespace {

struct bucket {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    double per_ms = 0; // tokens a millisecond; 0: no budget
    double burst = 1;
    double tokens = 0;
    int64_t at = 0; // when tokens was last brought up to date
};

bucket g_bucket;

// A lock that cannot fail to be released on any path.
class held {
public:
    explicit held(pthread_mutex_t &m) noexcept : m_(m) { pthread_mutex_lock(&m_); }
    ~held() { pthread_mutex_unlock(&m_); }
    held(const held &) = delete;
    held &operator=(const held &) = delete;

private:
    pthread_mutex_t &m_;
};

} // namespace

int64_t tq_rate_try() noexcept {
    bucket &b = g_bucket;
    const held h(b.lock);
    if (b.per_ms <= 0) return 0;
    const int64_t now = tq_monotonic_ms();
    b.tokens = std::fmin(b.burst, b.tokens + static_cast<double>(now - b.at) * b.per_ms);
    b.at = now;
    if (b.tokens >= 1) {
        b.tokens -= 1;
        return 0;
    }
    const double ms = std::ceil((1 - b.tokens) / b.per_ms);
    return ms < 1 ? 1 : static_cast<int64_t>(ms);
}

int32_t tq_rate_take(tqmovie_client &c) noexcept {
    bool reported = false;
    for (;;) {
        const int64_t wait = tq_rate_try();
        if (wait == 0) return TQMOVIE_OK;
        const int64_t left = tq_deadline_left_ms(c);
        if (left >= 0 && wait >= left) return tq_fail(c, TQMOVIE_ERR_TRANSPORT, "deadline exceeded");
        if (!reported) {
            reported = true;
            tq_report_progress(c, tqmovie_progress{sizeof(tqmovie_progress), TQMOVIE_PROGRESS_RATE_WAIT, TQMOVIE_OK,
                                                   c.ext.done, c.ext.total, static_cast<uint32_t>(wait), 0});
        }
        if (const int32_t stop = tq_stop_status(c)) return stop;
        const int64_t nap = wait < 10 ? wait : 10;
        timespec ts{0, static_cast<long>(nap) * 1000000L};
        nanosleep(&ts, nullptr);
    }
}

extern "C" {

int32_t tqmovie_set_rate_limit(double per_second, uint32_t burst) {
    tqmovie_client &c = client();
    if (!(per_second >= 0) || per_second > 1e6)
        return tq_fail(c, TQMOVIE_ERR_ARG, "rate limit must be from 0 to 1000000 requests a second");
    bucket &b = g_bucket;
    const held h(b.lock);
    b.per_ms = per_second / 1000.0;
    b.burst = burst == 0 ? 1 : static_cast<double>(burst);
    b.tokens = b.burst; // a new budget starts full
    b.at = tq_monotonic_ms();
    return TQMOVIE_OK;
}

} // extern "C"
