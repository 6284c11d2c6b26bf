// SPDX-License-Identifier: MIT
// Clients, threads, cancellation and progress. Built without the heap interposer, so
// that the same tests also run under ThreadSanitizer.
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// An in-memory backend whose answers name the thread that owns it, so that a record
// reaching the wrong client shows. A POST of the chunk numbered `block_chunk` waits
// until its client's operation is cancelled, then fails as a transfer would.
struct MemoryBackend {
    int owner = 0;
    tqmovie_client *client = nullptr; // the client it is installed on
    int block_chunk = -1;
    std::atomic<int> posts{0};

    static char *dup(const std::string &s) {
        char *p = static_cast<char *>(std::malloc(s.size() + 1));
        std::memcpy(p, s.c_str(), s.size() + 1);
        return p;
    }
    std::string record(const std::string &id) const {
        return "{\"imDbId\":\"" + id + "\",\"title\":\"T" + std::to_string(owner) + " " + id +
               "\",\"id\":" + std::to_string(owner) + "}";
    }
    static std::string id_in(const char *url) {
        const char *p = std::strstr(url, "imdbId=");
        std::string id = p ? p + 7 : "";
        return id.substr(0, id.find('&'));
    }
    static int32_t get(void *ctx, const char *url, char **body, int32_t *status, char **) {
        auto *b = static_cast<MemoryBackend *>(ctx);
        *status = 200;
        *body = dup(std::strstr(url, "IsMovie") ? "true" : b->record(id_in(url)));
        return 0;
    }
    static int32_t post(void *ctx, const char *, const char *ids, const char *, char **body, int32_t *status,
                        char **err) {
        auto *b = static_cast<MemoryBackend *>(ctx);
        if (b->posts++ == b->block_chunk) {
            while (!tqmovie_io_cancelled(b->client)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            *err = dup("aborted");
            return -1;
        }
        std::string out = "[", all = ids;
        for (size_t at = 0; at <= all.size();) {
            const size_t comma = std::min(all.find(',', at), all.size());
            out += (out.size() > 1 ? "," : "") + b->record(all.substr(at, comma - at));
            at = comma + 1;
        }
        *status = 200;
        *body = dup(out + "]");
        return 0;
    }
    tq_io table() { return tq_io{this, get, post, nullptr}; }
};

// A client made current for the life of the object, with its own backend.
struct ClientScope {
    MemoryBackend backend;
    tqmovie_client *client = tqmovie_client_new();
    tqmovie_client *previous = nullptr;
    explicit ClientScope(int owner) {
        backend.owner = owner;
        backend.client = client;
        previous = tqmovie_use(client);
        const tq_io io = backend.table();
        tqmovie_set_io(&io);
    }
    ~ClientScope() {
        tqmovie_use(previous);
        tqmovie_client_free(client);
    }
};

const char *const kIds[] = {"tt01", "tt02", "tt03", "tt04", "tt05", "tt06", "tt07", "tt08", "tt09", "tt10"};

// 2,000 lookups of every kind on the thread's own client; every answer must be its own.
void stress(int owner, std::atomic<int> *failures) {
    ClientScope scope(owner);
    const std::string mine = "T" + std::to_string(owner) + " ";
    auto check = [&](bool ok) {
        if (!ok) failures->fetch_add(1);
    };
    for (int n = 0; n < 2000; ++n) {
        const char *id = kIds[n % 10];
        switch (n % 4) {
        case 0: // single lookup, answered from the cache after the first round
        case 1: {
            check(tqmovie_get_basic(id, nullptr) == TQMOVIE_OK);
            check(tqmovie_basic_count() == 1 && tqmovie_basic_title(0) == mine + id);
            char *json = tqmovie_basic_to_json(0);
            check(json && std::strstr(json, (mine + id).c_str()));
            std::free(json);
            break;
        }
        case 2: // batch of two chunks
            tqmovie_set_batch_ceiling(3);
            check(tqmovie_get_basics(kIds, 5) == TQMOVIE_OK && tqmovie_basic_count() == 5);
            for (int32_t i = 0; i < 5; ++i) check(tqmovie_basic_id(i) == owner);
            break;
        default: { // the batch just stored these; the probe touches nothing
            const char *cached = kIds[n % 5];
            int32_t fresh = 0;
            check(tqmovie_cache_has(cached, &fresh, nullptr) == 1 && fresh == 1);
            if (n % 40 == 3) tqmovie_cache_invalidate(cached);
            int32_t movie = 0;
            check(tqmovie_is_movie(id, &movie) == TQMOVIE_OK && movie == 1);
            check(tqmovie_basic_count() == 5 && tqmovie_basic_id(4) == owner);
        }
        }
    }
}

TEST(Threads, EightClientsRunSideBySide) {
    std::atomic<int> failures{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 1; t <= 8; ++t) threads.emplace_back(stress, t, &failures);
    for (auto &t : threads) t.join();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("8 threads x 2000 lookups: %.0f ms\n", ms);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(g_tq.basic_count, 0u); // nobody touched the global state
    EXPECT_EQ(tqmovie_current(), nullptr);
}

// Many short-lived threads, some alive together: each finds its own client, and a
// thread that never made one current still acts on the global state.
TEST(Threads, EveryThreadFindsItsOwnClient) {
    std::atomic<int> wrong{0};
    for (int round = 0; round < 20; ++round) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 50; ++t)
            threads.emplace_back([&wrong, t] {
                if (tqmovie_current() != nullptr) ++wrong;
                if (t % 5 == 0) return;
                tqmovie_client *c = tqmovie_client_new();
                if (tqmovie_use(c) != nullptr || tqmovie_current() != c) ++wrong;
                std::this_thread::yield();
                if (tqmovie_current() != c || tqmovie_use(nullptr) != c || tqmovie_current() != nullptr) ++wrong;
                tqmovie_client_free(c);
            });
        for (auto &t : threads) t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Threads, UseSwitchesAndFreeFallsBack) {
    tqmovie_client *a = tqmovie_client_new();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(tqmovie_use(a), nullptr);
    EXPECT_EQ(tqmovie_current(), a);
    tqmovie_set_host("a.example");
    EXPECT_EQ(tqmovie_use(nullptr), a);
    EXPECT_STRNE(g_tq.host, "https://a.example");
    tqmovie_use(a);
    tqmovie_client_free(a); // current on this thread: back to the global state
    EXPECT_EQ(tqmovie_current(), nullptr);
    tqmovie_client_free(nullptr);
}

struct ChunkLog {
    std::vector<tqmovie_progress> events;
    int stop_after = -1;
    int32_t nested = -1;
    int32_t count_inside = -1;
};

int on_chunk(const tqmovie_progress *e, void *user) {
    auto *log = static_cast<ChunkLog *>(user);
    log->events.push_back(*e);
    log->count_inside = tqmovie_basic_count();
    log->nested = tqmovie_get_basic("tt01", nullptr);
    return static_cast<int>(log->events.size()) == log->stop_after ? 1 : 0;
}

// Progress after every chunk; a nested lookup is refused without harm; a non-zero
// answer ends the batch before its next chunk, keeping what came before.
TEST(Threads, ProgressReportsChunksAndCanStop) {
    for (int stop_after : {-1, 2, 5}) {
        ClientScope scope(1);
        ChunkLog log;
        log.stop_after = stop_after;
        tqmovie_set_progress(on_chunk, &log);
        tqmovie_set_batch_ceiling(2);
        const int32_t st = tqmovie_get_basics(kIds, 9); // chunks of 2, 2, 2, 2, 1
        const bool cut = stop_after == 2;
        EXPECT_EQ(st, cut ? TQMOVIE_ERR_CANCELLED : TQMOVIE_OK) << stop_after;
        EXPECT_STREQ(tqmovie_last_error(), cut ? "cancelled" : "");
        ASSERT_EQ(log.events.size(), cut ? 2u : 5u);
        for (size_t k = 0; k < log.events.size(); ++k) {
            EXPECT_EQ(log.events[k].size, sizeof(tqmovie_progress));
            EXPECT_EQ(log.events[k].kind, TQMOVIE_PROGRESS_CHUNK_DONE);
            EXPECT_EQ(log.events[k].status, TQMOVIE_OK);
            EXPECT_EQ(log.events[k].done, k == 4 ? 9u : 2 * (k + 1));
            EXPECT_EQ(log.events[k].total, 9u);
        }
        EXPECT_EQ(log.nested, TQMOVIE_ERR_ARG);
        EXPECT_EQ(log.count_inside, cut ? 4 : 9);
        EXPECT_EQ(tqmovie_basic_count(), cut ? 4 : 9);
        EXPECT_EQ(scope.backend.posts.load(), cut ? 2 : 5);
        EXPECT_EQ(tqmovie_get_basic("tt01", nullptr), TQMOVIE_OK); // nothing left running
    }
}

TEST(Threads, CancelWithNothingRunningIsDropped) {
    ClientScope scope(2);
    tqmovie_cancel(scope.client);
    tqmovie_cancel(scope.client);
    EXPECT_EQ(tqmovie_io_cancelled(scope.client), 0);
    EXPECT_EQ(tqmovie_get_basics(kIds, 4), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_basic_count(), 4);
}

// Cancels `victim` from this thread once `running` says its operation is under way.
template <typename Run> int32_t cancel_from_outside(tqmovie_client *victim, Run run, double *latency_ms) {
    std::atomic<int32_t> status{-1};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        tqmovie_use(victim);
        status = run();
        done = true;
        tqmovie_use(nullptr);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto at = std::chrono::steady_clock::now();
    tqmovie_cancel(victim);
    worker.join();
    *latency_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - at).count();
    return status;
}

TEST(Threads, CancelStopsABatchBeforeItsNextChunk) {
    ClientScope scope(3);
    tqmovie_use(scope.previous); // the worker thread makes it current
    scope.backend.block_chunk = 2;
    double ms = 0;
    const int32_t st = cancel_from_outside(
        scope.client,
        [] {
            tqmovie_set_batch_ceiling(3);
            return tqmovie_get_basics(kIds, 10);
        },
        &ms);
    tqmovie_use(scope.client);
    EXPECT_EQ(st, TQMOVIE_ERR_CANCELLED);
    EXPECT_STREQ(tqmovie_last_error(), "cancelled");
    EXPECT_EQ(tqmovie_basic_count(), 6); // the two chunks before the cancel
    EXPECT_EQ(scope.backend.posts.load(), 3);
}

TEST(Threads, CancelStopsAStalledTransfer) {
    // A listener that never accepts: the kernel completes the connection, and the
    // request then waits for an answer that never comes.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 8), 0);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    char host[64];
    std::snprintf(host, sizeof host, "http://127.0.0.1:%d", ntohs(addr.sin_port));

    // Both HTTP backends: a fresh handle per request, and the pooled one.
    tq_io pooled = tolvane_io_curl_pooled(nullptr);
    for (const tq_io &io : {tolvane_io_curl(), pooled}) {
        tqmovie_client *c = tqmovie_client_new();
        tqmovie_client *prev = tqmovie_use(c);
        tqmovie_set_io(&io);
        tqmovie_set_host(host);
        tqmovie_use(prev);
        double ms = 0;
        const int32_t st = cancel_from_outside(
            c, [] { return tqmovie_get_detail("tt0111161", nullptr, 0); }, &ms);
        std::printf("cancel latency of a stalled transfer (%s): %.0f ms\n", io.ctx ? "pooled" : "fresh handle", ms);
        EXPECT_EQ(st, TQMOVIE_ERR_CANCELLED);
        tqmovie_use(c);
        EXPECT_STREQ(tqmovie_last_error(), "cancelled");
        tqmovie_use(prev);
        tqmovie_client_free(c);
    }
    tolvane_io_curl_pooled_free(&pooled);
    close(fd);
}

} // namespace
