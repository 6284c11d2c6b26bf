// SPDX-License-Identifier: MIT
// tqmovie_parallel: the chunks of one batch sent up to n at a time through the pooled
// backend's many-requests entry, on the calling thread, with the outcome a sequential
// run gives: chunks are adopted (stored, cached) and reported in order, each keeps its
// own retries, and the first failing chunk ends the batch with what came after it
// dropped. At most n chunks are past their start and not yet reported, so memory
// follows n, not the batch.
#include "tq_internal.h"
#include "tq_log.h"
#include "tq_parallel.h"
#include "tq_pool.h"
#include "tq_request.h"

#include <cstdio>
#include <ctime>
#include <new>

namespace {

enum class phase : uint8_t { idle, running, waiting, done };

// A wait reported with its chunk, in its turn: the event and the failed attempt's text.
struct held_event {
    tqmovie_progress event;
    char err[160];
};

struct chunk {
    size_t off, n;
    char *url, *ids;
    phase ph;
    uint32_t attempt;
    int64_t wake_at;  // a waiting chunk starts again then
    int64_t sent_at;  // its attempt began then
    bool budget_told; // its wait for the budget was reported
    tq_pool_outcome out;
    int32_t stop; // a status that ended the chunk without an answer (the deadline), or 0
    held_event *events;
    size_t event_count, event_cap;
};

void reset(chunk &ch) noexcept {
    std::free(ch.url);
    std::free(ch.ids);
    std::free(ch.out.body);
    std::free(ch.out.err);
    std::free(ch.events);
    ch = chunk{};
}

// Keeps an event for the chunk's turn; one that cannot be kept is not reported.
void hold(chunk &ch, const tqmovie_progress &ev, const char *err) noexcept {
    if (!tq_grow(&ch.events, &ch.event_cap, ch.event_count + 1, 4)) return;
    held_event &h = ch.events[ch.event_count++];
    h.event = ev;
    std::snprintf(h.err, sizeof h.err, "%s", err ? err : "");
}

const char *header_of(const tq_pool_outcome &o, const char *name) noexcept {
    for (int32_t i = 0; i < o.header_count && i < tq_header_max; ++i)
        if (tq_stricmp(o.headers[i].name, name) == 0) return o.headers[i].value;
    return nullptr;
}

// The dispatch's status for an outcome, and its text into err.
int32_t status_of(const tq_pool_outcome &o, char (&err)[160]) noexcept {
    err[0] = '\0';
    if (o.rc != 0) {
        std::snprintf(err, sizeof err, "transport: %s", o.err ? o.err : "unknown");
        return TQMOVIE_ERR_TRANSPORT;
    }
    if (static_cast<uint32_t>(o.status) - 200u > 99u) {
        std::snprintf(err, sizeof err, "HTTP %ld", static_cast<long>(o.status));
        return TQMOVIE_ERR_HTTP;
    }
    return TQMOVIE_OK;
}

class engine {
public:
    engine(tqmovie_client &c, tq_pool_batch *pb, size_t n, const char *const *ids, size_t count, size_t ceiling,
           const tq_chunk_ops &ops) noexcept
        : c_(c), pb_(pb), n_(n), ids_(ids), count_(count), ceiling_(ceiling), ops_(ops),
          chunks_total_((count + ceiling - 1) / ceiling) {}
    ~engine() {
        tq_pool_batch_end(pb_);
        for (size_t k = 0; window_ && k < n_; ++k) reset(window_[k]);
        std::free(window_);
        std::free(owner_);
    }
    engine(const engine &) = delete;
    engine &operator=(const engine &) = delete;

    int32_t run() noexcept {
        window_ = tq_calloc_n<chunk>(n_);
        owner_ = tq_calloc_n<long>(n_);
        if (!window_ || !owner_) return TQMOVIE_ERR_NOMEM;
        for (size_t k = 0; k < n_; ++k) owner_[k] = -1;
        while (next_report_ < chunks_total_) {
            // A cancel from another thread or the deadline: the chunk whose turn it is ends
            // with it, as a sequential run's transfer would.
            if (const int32_t stop = tq_stop_status(c_)) {
                chunk &head = at(next_report_);
                if (next_report_ < started_ && head.ph != phase::idle) report_stopped(head, stop);
                return stop;
            }
            if (const int32_t st = start_what_can()) return st;
            const long k = tq_pool_batch_wait(pb_, wait_ms());
            if (k >= 0) ended(static_cast<size_t>(k));
            while (next_report_ < chunks_total_ && at(next_report_).ph == phase::done) {
                const int32_t st = report(at(next_report_));
                reset(at(next_report_));
                ++next_report_;
                if (st != TQMOVIE_OK) return st;
                // A cancel from the progress callback: nothing after this chunk counts.
                if (next_report_ < chunks_total_ && tq_stop_requested(c_)) return tq_stop_status(c_);
            }
        }
        return TQMOVIE_OK;
    }

private:
    chunk &at(size_t j) noexcept { return window_[j % n_]; }

    // Starts every chunk of the window that may go now, as slots and the budget allow.
    int32_t start_what_can() noexcept {
        const size_t end = next_report_ + n_ < chunks_total_ ? next_report_ + n_ : chunks_total_;
        for (size_t j = next_report_; j < end; ++j) {
            chunk &ch = at(j);
            if (j >= started_) {
                ch = chunk{};
                ch.off = j * ceiling_;
                ch.n = count_ - ch.off < ceiling_ ? count_ - ch.off : ceiling_;
                ch.url = ops_.url(ops_.ctx, c_, ch.n);
                ch.ids = tq_join_ids(ids_ + ch.off, ch.n);
                if (!ch.url || !ch.ids) return TQMOVIE_ERR_NOMEM;
                started_ = j + 1;
            }
            const int64_t now = tq_monotonic_ms();
            if (ch.ph == phase::waiting && now < ch.wake_at) continue;
            if (ch.ph != phase::idle && ch.ph != phase::waiting) continue;
            const long slot = free_slot();
            if (slot < 0) return TQMOVIE_OK;
            if (const int64_t wait = tq_rate_try()) {
                if (!ch.budget_told)
                    hold(ch,
                         tqmovie_progress{sizeof(tqmovie_progress), TQMOVIE_PROGRESS_RATE_WAIT, TQMOVIE_OK, ch.off,
                                          count_, static_cast<uint32_t>(wait), 0},
                         nullptr);
                ch.budget_told = true;
                ch.ph = phase::waiting;
                ch.wake_at = now + wait;
                continue;
            }
            ch.budget_told = false;
            tq_pool_outcome failed;
            ch.sent_at = now;
            if (tq_pool_batch_post(pb_, static_cast<size_t>(slot), ch.url, ch.ids, &failed)) {
                owner_[slot] = static_cast<long>(j);
                ch.ph = phase::running;
            } else {
                settle(ch, failed);
            }
        }
        return TQMOVIE_OK;
    }

    long free_slot() const noexcept {
        for (size_t k = 0; k < n_; ++k)
            if (owner_[k] < 0) return static_cast<long>(k);
        return -1;
    }

    // Short waits, so that a cancel, the deadline and chunks due again are seen soon.
    int wait_ms() noexcept {
        int64_t ms = 20;
        const int64_t now = tq_monotonic_ms();
        for (size_t j = next_report_; j < started_; ++j)
            if (at(j).ph == phase::waiting && at(j).wake_at - now < ms) ms = at(j).wake_at - now;
        return ms < 0 ? 0 : static_cast<int>(ms);
    }

    void ended(size_t slot) noexcept {
        tq_pool_outcome o;
        tq_pool_batch_take(pb_, slot, &o);
        chunk &ch = at(static_cast<size_t>(owner_[slot]));
        owner_[slot] = -1;
        settle(ch, o);
    }

    // An attempt's outcome: another attempt after a wait when the retry policy says so
    // (the wait held for the chunk's turn), else the chunk is done.
    void settle(chunk &ch, tq_pool_outcome &o) noexcept {
        char err[160];
        const int32_t st = status_of(o, err);
        tq_log_request(c_, tq_log_attempt{"POST", ch.url, ch.ids, o.rc == 0 ? o.body : nullptr, st, o.status,
                                          ch.sent_at, ch.attempt, true, o.wire_sent, o.wire_received});
        if (st != TQMOVIE_OK) {
            const int64_t wait =
                tq_retry_wait_on(c_, st, o.status, ch.attempt, header_of(o, "Retry-After"), o.retryable);
            const int64_t left = tq_deadline_left_ms(c_);
            if (wait >= 0 && left >= 0 && wait >= left) {
                ch.stop = TQMOVIE_ERR_TRANSPORT; // no use waiting: the deadline comes first
            } else if (wait >= 0) {
                hold(ch,
                     tqmovie_progress{sizeof(tqmovie_progress), TQMOVIE_PROGRESS_RETRY_WAIT, st, ch.off, count_,
                                      static_cast<uint32_t>(wait), o.status},
                     err);
                std::free(o.body);
                std::free(o.err);
                ++ch.attempt;
                ch.ph = phase::waiting;
                ch.wake_at = tq_monotonic_ms() + wait;
                return;
            }
        }
        ch.out = o;
        ch.ph = phase::done;
    }

    // The chunk's turn: its held waits, then its outcome becomes the client's, its
    // records are adopted, and its end is reported.
    int32_t report(chunk &ch) noexcept {
        tq_state &s = *c_.st;
        for (size_t i = 0; i < ch.event_count; ++i) {
            std::snprintf(s.err, sizeof s.err, "%s", ch.events[i].err);
            s.http_code = ch.events[i].event.http_code;
            tq_report_progress(c_, ch.events[i].event);
        }
        s.err[0] = '\0';
        s.http_code = ch.out.status;
        s.header_count = ch.out.header_count;
        std::memcpy(s.headers, ch.out.headers, sizeof(tq_header) * static_cast<size_t>(ch.out.header_count));
        char err[160];
        int32_t st = status_of(ch.out, err);
        if (ch.stop) {
            st = tq_fail(c_, ch.stop, "deadline exceeded");
        } else if (st != TQMOVIE_OK) {
            tq_err(c_, "%s", err);
        } else if (!ch.out.body) {
            st = tq_fail(c_, TQMOVIE_ERR_EMPTY, tq_err_empty_body);
        } else {
            st = ops_.adopt(ops_.ctx, c_, ids_ + ch.off, ch.n, ch.out.body);
            ch.out.body = nullptr;
        }
        if (st != TQMOVIE_OK && st != TQMOVIE_ERR_NOMEM) st = ops_.failed(ops_.ctx, c_, ids_ + ch.off, ch.n, st);
        c_.ext.done = ch.off + ch.n;
        if (st == TQMOVIE_OK) c_.ext.answered = c_.ext.done;
        tq_report_progress(c_, tqmovie_progress{sizeof(tqmovie_progress), TQMOVIE_PROGRESS_CHUNK_DONE, st,
                                                ch.off + ch.n, count_, 0, s.http_code});
        return st;
    }

    void report_stopped(chunk &ch, int32_t stop) noexcept {
        c_.ext.done = ch.off + ch.n;
        tq_report_progress(c_, tqmovie_progress{sizeof(tqmovie_progress), TQMOVIE_PROGRESS_CHUNK_DONE, stop,
                                                ch.off + ch.n, count_, 0, c_.st->http_code});
    }

    tqmovie_client &c_;
    tq_pool_batch *pb_;
    size_t n_;
    const char *const *ids_;
    size_t count_, ceiling_;
    const tq_chunk_ops &ops_;
    size_t chunks_total_;
    size_t next_report_ = 0, started_ = 0;
    chunk *window_ = nullptr;
    long *owner_ = nullptr; // the chunk each slot's transfer belongs to, -1 when free
};

} // namespace

int32_t tq_parallel_batch(tqmovie_client &c, tq_pool_batch *pb, size_t n, const char *const *ids, size_t count,
                          size_t ceiling, const tq_chunk_ops &ops) noexcept {
    engine e(c, pb, n, ids, count, ceiling, ops);
    return e.run();
}
