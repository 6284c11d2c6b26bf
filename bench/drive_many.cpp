// SPDX-License-Identifier: MIT
// drive_many: measurements of many titles at once that Google Benchmark cannot make,
// printed as ratio rows in the form of scripts/ratios.py ("... goal <= G  met"), then
// "drive_many: N met, M missed". Run by scripts/run-ratios.sh; by hand:
//   build-bench/bench/drive_many [quick]
// - a 1,000-id detail batch against the synthetic stand-in holding each answer 50 ms,
//   parallel 8 against parallel 1, wall and CPU time, runs interleaved (median);
// - cancel latency of a stalled transfer, both shipped libcurl backends (median of 20,
//   the maximum beside it);
// - four clients on four threads, 500 ids each in chunks of one, a budget of 20
//   requests a second (burst 1), against the stand-in's own budget of 25/s (burst 5):
//   answers refused with 429, and the rate achieved after the first second.
#include "loopback_server.h"
#include "mock_service.h"
#include "ratio_rows.h"
#include "tqmovie.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

using tqbench::met;
using tqbench::missed;
using tqbench::row;

double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::vector<std::string> synthetic_ids(int first, int count) {
    std::vector<std::string> ids;
    for (int i = first; i < first + count; ++i) ids.push_back("tt" + std::to_string(1000000 + i));
    return ids;
}

// One detail batch on a fresh client with a pooled backend; wall and CPU seconds.
bool timed_batch(const std::string &host, const std::vector<std::string> &ids, uint32_t parallel, double *wall,
                 double *cpu) {
    tqmovie_client *c = tqmovie_client_new();
    tqmovie_client *prev = tqmovie_use(c);
    tq_io io = tolvane_io_curl_pooled(nullptr);
    tqmovie_set_io(&io);
    tqmovie_set_host(host.c_str());
    tqmovie_set_parallel(parallel);
    std::vector<const char *> p;
    for (const auto &id : ids) p.push_back(id.c_str());
    const double c0 = cpu_seconds();
    const auto t0 = clock_type::now();
    const int32_t st = tqmovie_get_details(p.data(), p.size(), nullptr, 0);
    *wall = std::chrono::duration<double>(clock_type::now() - t0).count();
    *cpu = cpu_seconds() - c0;
    const bool ok = st == TQMOVIE_OK && tqmovie_detail_count() == static_cast<int32_t>(ids.size());
    if (!ok) std::fprintf(stderr, "drive_many: batch failed: %d %s\n", st, tqmovie_last_error());
    tqmovie_use(prev);
    tqmovie_client_free(c);
    tolvane_io_curl_pooled_free(&io);
    return ok;
}

void parallel_rows(int runs) {
    tqtest::scoped_service svc(TQ_FIXTURES_DIR, {"--synthetic", "--delay", "50", "--threads", "128"});
    if (svc.port <= 0) {
        std::printf("parallel batch: the stand-in did not start  missed\n");
        ++missed;
        return;
    }
    const auto ids = synthetic_ids(0, 1000);
    std::vector<double> wall, cpu;
    double w1 = 0, c1 = 0, w8 = 0, c8 = 0;
    for (int r = 0; r < runs; ++r) {
        // Interleaved, the order swapped every run, so both see the same machine.
        const bool ok = r % 2 ? timed_batch(svc.url(), ids, 8, &w8, &c8) && timed_batch(svc.url(), ids, 1, &w1, &c1)
                              : timed_batch(svc.url(), ids, 1, &w1, &c1) && timed_batch(svc.url(), ids, 8, &w8, &c8);
        if (!ok) continue;
        wall.push_back(w8 / w1);
        cpu.push_back(c8 / c1);
        std::printf("  run %d: parallel 1 %.2f s (cpu %.3f s), parallel 8 %.2f s (cpu %.3f s)\n", r + 1, w1, c1, w8,
                    c8);
    }
    if (wall.empty()) {
        std::printf("parallel batch: no run completed  missed\n");
        ++missed;
        return;
    }
    row("1,000-id detail batch, 50 ms delay, parallel 8 / parallel 1, wall", wall, 0.25);
    row("1,000-id detail batch, 50 ms delay, parallel 8 / parallel 1, cpu ", cpu, 1.2);
}

void cancel_rows(int runs) {
    tqtest::HttpResponse silent;
    silent.silent = true;
    tqtest::LoopbackServer srv([&](const tqtest::HttpRequest &) { return silent; });
    tq_io pooled = tolvane_io_curl_pooled(nullptr);
    for (const tq_io &io : {tolvane_io_curl(), pooled}) {
        std::vector<double> ms;
        for (int r = 0; r < runs; ++r) {
            tqmovie_client *c = tqmovie_client_new();
            tqmovie_client *prev = tqmovie_use(c);
            tqmovie_set_io(&io);
            tqmovie_set_host(srv.base().c_str());
            std::atomic<int64_t> cancelled_at{0};
            std::thread t([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                cancelled_at = clock_type::now().time_since_epoch().count();
                tqmovie_cancel(c);
            });
            tqmovie_get_basic("tt0111161", nullptr);
            const auto back = clock_type::now().time_since_epoch().count();
            t.join();
            ms.push_back(static_cast<double>(back - cancelled_at.load()) / 1e6);
            tqmovie_use(prev);
            tqmovie_client_free(c);
        }
        const double worst = *std::max_element(ms.begin(), ms.end());
        char extra[64];
        std::snprintf(extra, sizeof extra, ", max %.1f ms", worst);
        row(io.ctx ? "cancel of a stalled transfer, pooled backend, ms      "
                   : "cancel of a stalled transfer, fresh-handle backend, ms",
            ms, 50, extra);
    }
    tolvane_io_curl_pooled_free(&pooled);
}

void budget_rows(int per_client) {
    tqtest::scoped_service svc(TQ_FIXTURES_DIR, {"--synthetic", "--rps", "25/5", "--threads", "128"});
    if (svc.port <= 0) {
        std::printf("budget: the stand-in did not start  missed\n");
        ++missed;
        return;
    }
    tqmovie_set_rate_limit(20, 1);
    std::vector<std::vector<double>> stamps(4);
    std::vector<std::thread> threads;
    const auto t0 = clock_type::now();
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&, k] {
            tqmovie_client *c = tqmovie_client_new();
            tqmovie_use(c);
            tq_io io = tolvane_io_curl_pooled(nullptr);
            tqmovie_set_io(&io);
            tqmovie_set_host(svc.url().c_str());
            tqmovie_set_batch_ceiling(1);
            auto on_chunk = [](const tqmovie_progress *p, void *user) {
                if (p->kind == TQMOVIE_PROGRESS_CHUNK_DONE)
                    static_cast<std::vector<double> *>(user)->push_back(
                        std::chrono::duration<double>(clock_type::now().time_since_epoch()).count());
                return 0;
            };
            tqmovie_set_progress(on_chunk, &stamps[static_cast<size_t>(k)]);
            const auto ids = synthetic_ids(k * per_client, per_client);
            std::vector<const char *> p;
            for (const auto &id : ids) p.push_back(id.c_str());
            tqmovie_get_basics(p.data(), p.size());
            tqmovie_use(nullptr);
            tqmovie_client_free(c);
            tolvane_io_curl_pooled_free(&io);
        });
    }
    for (auto &t : threads) t.join();
    tqmovie_set_rate_limit(0, 0);
    const double start = std::chrono::duration<double>(t0.time_since_epoch()).count();
    std::vector<double> all;
    for (const auto &s : stamps) all.insert(all.end(), s.begin(), s.end());
    std::sort(all.begin(), all.end());
    size_t after = 0;
    for (double t : all) after += t >= start + 1;
    const double span = all.empty() ? 0 : all.back() - (start + 1);
    const double rate = span > 0 ? static_cast<double>(after) / span : 0;
    const long refused = tqtest::stat(svc, "rpsLimited");
    std::printf("4 clients x %d ids, budget 20/s burst 1, against --rps 25/5: %zu answers, %ld refused with 429, "
                "%.1f requests a second after the first second\n",
                per_client, all.size(), refused, rate);
    row("  answers refused with 429 (count)", {static_cast<double>(refused)}, 0);
    row("  20/s over the achieved rate after the first second (<= 1/0.9)", {rate > 0 ? 20 / rate : 99}, 1 / 0.9);
}

} // namespace

int main(int argc, char **argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "quick";
    parallel_rows(quick ? 1 : 5);
    cancel_rows(20);
    budget_rows(quick ? 50 : 500);
    std::printf("drive_many: %d met, %d missed\n", met, missed);
    return missed ? 1 : 0;
}
