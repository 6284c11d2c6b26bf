// SPDX-License-Identifier: MIT
// The stand-in's traffic: the request budget (--rps), the peak request rate and the
// connections it holds open, for GET /stats.
#ifndef TQ_TOOLS_MOCK_SERVICE_TRAFFIC_H
#define TQ_TOOLS_MOCK_SERVICE_TRAFFIC_H

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace tqmock {

using steady = std::chrono::steady_clock;

// A token bucket: `rate` tokens a second, at most `burst` of them held; it starts full.
// Off (everything passes) until set.
class request_budget {
public:
    void set(double rate, uint64_t burst);
    bool enabled() const { return rate_ > 0; }
    // Takes a token; false when none is left.
    bool take();

private:
    std::mutex mutex_;
    double rate_ = 0, burst_ = 0, tokens_ = 0;
    steady::time_point last_;
};

// The most requests that arrived within any one second: every arrival is kept for a
// second, and the peak is the most ever kept at once.
class rate_peak {
public:
    void arrived();
    uint64_t peak();

private:
    std::mutex mutex_;
    std::deque<steady::time_point> recent_;
    uint64_t peak_ = 0;
};

// Connections accepted so far, open now (accepted and not yet closed, whether served or
// waiting for a worker) and the most open at once.
struct connection_counts {
    std::atomic<uint64_t> accepted{0}, open{0}, peak{0};
};

// httplib's thread pool, counting each connection from its acceptance (the server hands
// every accepted socket to enqueue) until its task has closed it.
class counting_pool : public httplib::TaskQueue {
public:
    counting_pool(size_t threads, connection_counts &counts) : pool_(threads), counts_(counts) {}
    void enqueue(std::function<void()> fn) override;
    void shutdown() override { pool_.shutdown(); }

private:
    httplib::ThreadPool pool_;
    connection_counts &counts_;
};

} // namespace tqmock

#endif
