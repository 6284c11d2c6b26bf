// SPDX-License-Identifier: MIT
// Retries and the deadline through the public API: the status a lookup ends with, how
// many requests reached the service and the progress events in their order. Failures
// at the connection and in a host's backend always run; the answers of a misbehaving
// service run against the stand-in, when the tools are built with it. Nothing here
// measures time; the only real waits are the one-second Retry-After case and the
// short delayed answers.
#include "tqmovie.h"

#ifdef TQ_SERVICE_PATH
#include "mock_service.h"
#endif

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

#ifdef TQ_SERVICE_PATH
using tqtest::scoped_service;
using tqtest::stat;
#endif

struct event {
    int32_t kind, status;
    uint64_t done, total;
    uint32_t wait_ms;
    int32_t http_code;
    bool operator==(const event &o) const {
        return kind == o.kind && status == o.status && done == o.done && total == o.total && wait_ms == o.wait_ms &&
               http_code == o.http_code;
    }
};

event wait_event(int32_t http, uint32_t ms, uint64_t done = 0, uint64_t total = 1) {
    return {TQMOVIE_PROGRESS_RETRY_WAIT, TQMOVIE_ERR_HTTP, done, total, ms, http};
}

// The events of one operation, and what the host can read inside a wait event.
struct recorder {
    std::vector<event> events;
    std::vector<std::string> retry_after; // the failed answer's header, per wait
    int return_on_wait = 0;               // non-zero cancels the lookup
    std::atomic<bool> waiting{false};
};

int record(const tqmovie_progress *p, void *user) {
    auto &r = *static_cast<recorder *>(user);
    EXPECT_EQ(p->size, sizeof(tqmovie_progress));
    r.events.push_back({p->kind, p->status, p->done, p->total, p->wait_ms, p->http_code});
    if (p->kind != TQMOVIE_PROGRESS_RETRY_WAIT) return 0;
    const char *h = tqmovie_last_response_header("Retry-After");
    r.retry_after.push_back(h ? h : "(none)");
    r.waiting = true;
    return r.return_on_wait;
}

size_t waits(const recorder &r) {
    size_t n = 0;
    for (const event &e : r.events) n += e.kind == TQMOVIE_PROGRESS_RETRY_WAIT;
    return n;
}

// A client of the test's own with the per-request libcurl backend and the recorder.
class Retry : public ::testing::Test {
protected:
    void SetUp() override {
        client_ = tqmovie_client_new();
        ASSERT_NE(client_, nullptr);
        prev_ = tqmovie_use(client_);
        tq_io io = tolvane_io_curl();
        tqmovie_set_io(&io);
        tqmovie_set_progress(record, &rec_);
    }
    void TearDown() override {
        tqmovie_use(prev_);
        tqmovie_client_free(client_);
    }
    tqmovie_client *client_ = nullptr;
    tqmovie_client *prev_ = nullptr;
    recorder rec_;
};

#ifdef TQ_SERVICE_PATH
TEST_F(Retry, RetryAfterSecondsIsWaitedThenTheRequestRepeated) {
    scoped_service svc(TQ_FIXTURES_DIR, {"--rate-limit-first", "1", "--retry-after", "1"});
    ASSERT_GT(svc.port, 0);
    tqmovie_set_host(svc.url().c_str());
    tqmovie_set_retry(3, 5000);
    ASSERT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(stat(svc), 2);
    EXPECT_EQ(rec_.events, std::vector<event>{wait_event(429, 1000)});
    EXPECT_EQ(rec_.retry_after, std::vector<std::string>{"1"});
    // What the host sees afterwards is the last attempt's.
    EXPECT_EQ(tqmovie_last_http_code(), 200);
    EXPECT_EQ(tqmovie_last_response_header("Retry-After"), nullptr);
    EXPECT_STREQ(tqmovie_basic_title(0), "The Shawshank Redemption");
}

// Answers that cost no real wait: a date in the past, no header with a small bound,
// Retry-After: 0, and failures that are not worth another attempt.
TEST_F(Retry, StatusRequestsAndWaitsFollowTheAnswers) {
    struct {
        const char *name;
        std::vector<std::string> service;
        uint32_t retries, max_wait_ms;
        const char *id;
        int32_t status;
        long requests;
        size_t waits;
        int32_t wait_http;
        int64_t wait_ms; // -1: a backoff, at most max_wait_ms
    } cases[] = {
        {"HTTP date in the past",
         {"--rate-limit-first", "2", "--retry-after", "Sun, 06 Nov 1994 08:49:37 GMT"},
         3,
         5000,
         "tt0111161",
         TQMOVIE_OK,
         3,
         2,
         429,
         0},
        {"longer than allowed",
         {"--rate-limit-first", "1", "--retry-after", "120"},
         3,
         1000,
         "tt0111161",
         TQMOVIE_ERR_HTTP,
         1,
         0,
         0,
         0},
        {"503 backoff until none left",
         {"--unavailable-every", "1"},
         3,
         20,
         "tt0111161",
         TQMOVIE_ERR_HTTP,
         4,
         3,
         503,
         -1},
        {"no retries asked for",
         {"--rate-limit-first", "1", "--retry-after", "0"},
         0,
         1000,
         "tt0111161",
         TQMOVIE_ERR_HTTP,
         1,
         0,
         0,
         0},
        {"404 is an answer", {}, 3, 20, "tt0000001", TQMOVIE_ERR_HTTP, 1, 0, 0, 0},
        {"cut mid-body is not retried", {"--drop-every", "1"}, 3, 20, "tt0111161", TQMOVIE_ERR_TRANSPORT, 1, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        scoped_service svc(TQ_FIXTURES_DIR, c.service);
        ASSERT_GT(svc.port, 0);
        rec_.events.clear();
        tqmovie_cache_clear(); // every case asks the service
        tqmovie_set_host(svc.url().c_str());
        tqmovie_set_retry(c.retries, c.max_wait_ms);
        EXPECT_EQ(tqmovie_get_basic(c.id, nullptr), c.status) << tqmovie_last_error();
        EXPECT_EQ(stat(svc), c.requests);
        ASSERT_EQ(rec_.events.size(), c.waits);
        for (const event &e : rec_.events) {
            EXPECT_EQ(e.kind, TQMOVIE_PROGRESS_RETRY_WAIT);
            EXPECT_EQ(e.http_code, c.wait_http);
            if (c.wait_ms >= 0) {
                EXPECT_EQ(e.wait_ms, c.wait_ms);
            } else {
                EXPECT_LE(e.wait_ms, c.max_wait_ms);
            }
        }
    }
    // A refused Retry-After leaves the answer readable: status, text, header.
    tqmovie_cache_clear();
    scoped_service svc(TQ_FIXTURES_DIR, {"--rate-limit-first", "1", "--retry-after", "120"});
    tqmovie_set_host(svc.url().c_str());
    tqmovie_set_retry(3, 1000);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_ERR_HTTP);
    EXPECT_STREQ(tqmovie_last_error(), "HTTP 429");
    EXPECT_EQ(tqmovie_last_http_code(), 429);
    EXPECT_STREQ(tqmovie_last_response_header("Retry-After"), "120");
}
#endif // TQ_SERVICE_PATH

// A loopback port nothing listens on: bound, never listened, then closed.
int closed_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) close(fd);
    return port;
}

TEST_F(Retry, ConnectFailureIsRetriedByBothHttpBackends) {
    const int port = closed_port();
    ASSERT_GT(port, 0);
    for (bool pooled : {false, true}) {
        SCOPED_TRACE(pooled ? "pooled" : "per request");
        tq_io io = pooled ? tolvane_io_curl_pooled(nullptr) : tolvane_io_curl();
        tqmovie_set_io(&io);
        tqmovie_set_host(("http://127.0.0.1:" + std::to_string(port)).c_str());
        rec_.events.clear();
        tqmovie_set_retry(2, 10);
        EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_ERR_TRANSPORT);
        ASSERT_EQ(waits(rec_), 2u);
        for (const event &e : rec_.events) {
            EXPECT_EQ(e.status, TQMOVIE_ERR_TRANSPORT);
            EXPECT_EQ(e.http_code, 0);
        }
        tqmovie_set_io(nullptr);
        if (pooled) tolvane_io_curl_pooled_free(&io);
    }
}

// A host's backend whose every request fails as a refused connection would.
struct refusing_backend {
    tqmovie_client *client;
    bool mark; // calls tqmovie_io_retryable
    int calls = 0;
    static int32_t get(void *ctx, const char *, char **, int32_t *, char **err) {
        auto &b = *static_cast<refusing_backend *>(ctx);
        ++b.calls;
        if (b.mark) tqmovie_io_retryable(b.client);
        *err = tq_strdup("connection refused");
        return 1;
    }
};

TEST_F(Retry, HostBackendFailureIsRetriedOnlyWhenMarked) {
    for (bool mark : {false, true}) {
        refusing_backend b{tqmovie_current(), mark};
        tq_io io{&b, refusing_backend::get, nullptr, nullptr};
        tqmovie_set_io(&io);
        tqmovie_set_retry(2, 10);
        rec_.events.clear();
        EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_ERR_TRANSPORT);
        EXPECT_STREQ(tqmovie_last_error(), "transport: connection refused");
        EXPECT_EQ(b.calls, mark ? 3 : 1) << (mark ? "marked" : "not marked");
        EXPECT_EQ(waits(rec_), mark ? 2u : 0u);
        tqmovie_set_io(nullptr);
    }
}

#ifdef TQ_SERVICE_PATH
TEST_F(Retry, CancelEndsAWaitEarly) {
    for (bool from_callback : {false, true}) {
        SCOPED_TRACE(from_callback ? "progress callback returns 1" : "tqmovie_cancel from another thread");
        // Were the cancel lost, the lookup would wait the whole 30 s and then succeed.
        scoped_service svc(TQ_FIXTURES_DIR, {"--rate-limit-first", "1", "--retry-after", "30"});
        ASSERT_GT(svc.port, 0);
        tqmovie_set_host(svc.url().c_str());
        tqmovie_set_retry(3, 60000);
        rec_.events.clear();
        rec_.waiting = false;
        rec_.return_on_wait = from_callback ? 1 : 0;
        std::thread canceller;
        if (!from_callback)
            canceller = std::thread([this] {
                while (!rec_.waiting) std::this_thread::yield();
                tqmovie_cancel(client_);
            });
        EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_ERR_CANCELLED);
        if (canceller.joinable()) canceller.join();
        EXPECT_STREQ(tqmovie_last_error(), "cancelled");
        EXPECT_EQ(rec_.events, std::vector<event>{wait_event(429, 30000)});
        EXPECT_EQ(stat(svc), 1);
    }
}

TEST_F(Retry, DeadlineSpansChunksAndWaits) {
    // Every answer takes 200 ms: each chunk alone is well inside one second, the eight
    // of them are not.
    {
        scoped_service svc(TQ_FIXTURES_DIR, {"--delay", "200"});
        ASSERT_GT(svc.port, 0);
        tqmovie_set_host(svc.url().c_str());
        tqmovie_set_batch_ceiling(1);
        tqmovie_set_deadline(1000);
        const char *ids[8];
        for (const char *&id : ids) id = "tt0111161";
        EXPECT_EQ(tqmovie_get_basics(ids, 8), TQMOVIE_ERR_TRANSPORT);
        EXPECT_STREQ(tqmovie_last_error(), "deadline exceeded");
        size_t done = 0;
        for (const event &e : rec_.events) done += e.kind == TQMOVIE_PROGRESS_CHUNK_DONE && e.status == TQMOVIE_OK;
        EXPECT_GE(done, 1u) << "the first chunk fits the deadline";
        EXPECT_LT(done, 8u);
        EXPECT_EQ(static_cast<size_t>(tqmovie_basic_count()), done) << "completed chunks keep their records";
        EXPECT_LE(stat(svc), static_cast<long>(done) + 1);
    }
    // A wait that would end past the deadline is not begun.
    tqmovie_cache_clear();
    scoped_service svc(TQ_FIXTURES_DIR, {"--rate-limit-first", "1", "--retry-after", "5"});
    ASSERT_GT(svc.port, 0);
    tqmovie_set_host(svc.url().c_str());
    tqmovie_set_retry(3, 60000);
    rec_.events.clear();
    EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_ERR_TRANSPORT);
    EXPECT_STREQ(tqmovie_last_error(), "deadline exceeded");
    EXPECT_EQ(stat(svc), 1);
    EXPECT_TRUE(rec_.events.empty()) << "a wait that is not begun is not announced";
}

TEST_F(Retry, ProgressReportsWaitsBetweenChunks) {
    // Every second request is refused with Retry-After: 0.
    scoped_service svc(TQ_FIXTURES_DIR, {"--rate-limit-every", "2", "--retry-after", "0"});
    ASSERT_GT(svc.port, 0);
    tqmovie_set_host(svc.url().c_str());
    tqmovie_set_batch_ceiling(1);
    tqmovie_set_retry(1, 1000);
    const char *ids[] = {"tt0111161", "tt0068646", "tt0468569"};
    ASSERT_EQ(tqmovie_get_basics(ids, 3), TQMOVIE_OK) << tqmovie_last_error();
    const event chunk1{TQMOVIE_PROGRESS_CHUNK_DONE, TQMOVIE_OK, 1, 3, 0, 200};
    const event chunk2{TQMOVIE_PROGRESS_CHUNK_DONE, TQMOVIE_OK, 2, 3, 0, 200};
    const event chunk3{TQMOVIE_PROGRESS_CHUNK_DONE, TQMOVIE_OK, 3, 3, 0, 200};
    EXPECT_EQ(rec_.events,
              (std::vector<event>{chunk1, wait_event(429, 0, 1, 3), chunk2, wait_event(429, 0, 2, 3), chunk3}));
    EXPECT_EQ(stat(svc), 5);
    EXPECT_EQ(tqmovie_basic_count(), 3);
}
#endif // TQ_SERVICE_PATH

} // namespace
