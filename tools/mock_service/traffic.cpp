// SPDX-License-Identifier: MIT
#include "mock_service/traffic.h"

#include <algorithm>

namespace tqmock {
namespace {

void raise_to(std::atomic<uint64_t> &peak, uint64_t v) {
    uint64_t seen = peak.load();
    while (seen < v && !peak.compare_exchange_weak(seen, v)) {
    }
}

} // namespace

void request_budget::set(double rate, uint64_t burst) {
    std::lock_guard<std::mutex> lock(mutex_);
    rate_ = rate;
    burst_ = tokens_ = static_cast<double>(burst);
    last_ = steady::now();
}

bool request_budget::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    const steady::time_point now = steady::now();
    tokens_ = std::min(burst_, tokens_ + std::chrono::duration<double>(now - last_).count() * rate_);
    last_ = now;
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

void rate_peak::arrived() {
    std::lock_guard<std::mutex> lock(mutex_);
    const steady::time_point now = steady::now();
    while (!recent_.empty() && now - recent_.front() >= std::chrono::seconds(1)) recent_.pop_front();
    recent_.push_back(now);
    peak_ = std::max<uint64_t>(peak_, recent_.size());
}

uint64_t rate_peak::peak() {
    std::lock_guard<std::mutex> lock(mutex_);
    return peak_;
}

void counting_pool::enqueue(std::function<void()> fn) {
    ++counts_.accepted;
    raise_to(counts_.peak, ++counts_.open);
    connection_counts *c = &counts_;
    pool_.enqueue([fn = std::move(fn), c] {
        fn(); // serves the connection and closes its socket
        --c->open;
    });
}

} // namespace tqmock
