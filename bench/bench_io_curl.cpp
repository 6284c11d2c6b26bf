// SPDX-License-Identifier: MIT
// Receiving a large body through the HTTP backend: wall time per transfer and the peak
// memory one transfer adds, against a loopback server on 127.0.0.1.
//
// BM_BackendGet goes through the backend's get entry (geometric buffer growth).
// BM_ExactReallocGet is the same libcurl transfer with a write callback that reallocates
// to the exact size for every chunk, kept here for comparison only. BM_GrowthPolicy
// compares the two ways of growing the buffer without any transfer.
//
// Run: ./build/bench/bench_io_curl --benchmark_min_time=2
// peak_MiB is the growth of the process's peak resident set during one transfer
// (VmHWM after resetting it through /proc/self/clear_refs).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include "loopback_server.h"
#include "tqmovie.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr size_t kBody = 64u << 20;

const std::string &big_body() {
    static const std::string body = [] {
        std::string s(kBody, 'x');
        for (size_t i = 0; i < s.size(); i += 4096) s[i] = static_cast<char>('a' + (i / 4096) % 26);
        return s;
    }();
    return body;
}

tqtest::LoopbackServer &server() {
    static tqtest::LoopbackServer srv([](const tqtest::HttpRequest &) {
        tqtest::HttpResponse r;
        r.body_ref = &big_body();
        return r;
    });
    return srv;
}

long vm_hwm_kib() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Resets the peak to the current resident set; false where the kernel does not allow it.
bool reset_peak() {
    FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

template <typename Transfer> double peak_growth_mib(Transfer transfer) {
    if (!reset_peak()) return -1;
    long before = vm_hwm_kib();
    transfer();
    long after = vm_hwm_kib();
    return static_cast<double>(after - before) / 1024.0;
}

// --- the backend as shipped -------------------------------------------------------

void backend_get(const std::string &url) {
    tq_io io = tolvane_io_curl();
    char *body = nullptr, *err = nullptr;
    int32_t status = 0;
    if (io.get(io.ctx, url.c_str(), &body, &status, &err) != 0 || std::strlen(body) != kBody) std::abort();
    io.free(io.ctx, body);
    io.free(io.ctx, err);
}

void BM_BackendGet(benchmark::State &state) {
    const std::string url = server().url("/big");
    backend_get(url); // warm up libcurl and the server
    state.counters["peak_MiB"] = peak_growth_mib([&] { backend_get(url); });
    for (auto _ : state) backend_get(url);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBody));
}

// --- exact reallocation per chunk, for comparison ------------------------------------

struct exact_buf {
    char *data;
    size_t len;
};

size_t exact_wr(char *data, size_t size, size_t count, void *userp) {
    auto *b = static_cast<exact_buf *>(userp);
    const size_t n = size * count;
    char *p = static_cast<char *>(std::realloc(b->data, b->len + n + 1));
    if (!p) return 0;
    b->data = p;
    std::memcpy(b->data + b->len, data, n);
    b->len += n;
    b->data[b->len] = '\0';
    return n;
}

void exact_get(const std::string &url) {
    CURL *h = curl_easy_init();
    exact_buf buf{};
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(exact_wr));
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &buf);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "tqmovie/0.1 (tolvane)");
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 120L);
    if (curl_easy_perform(h) != CURLE_OK || buf.len != kBody) std::abort();
    curl_easy_cleanup(h);
    std::free(buf.data);
}

void BM_ExactReallocGet(benchmark::State &state) {
    const std::string url = server().url("/big");
    exact_get(url);
    state.counters["peak_MiB"] = peak_growth_mib([&] { exact_get(url); });
    for (auto _ : state) exact_get(url);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBody));
}

// --- the growth policies alone, without the network ------------------------------------
// 64 MiB appended in libcurl's 16 KiB chunks: arg 0 reallocates to the exact size each
// time, arg 1 doubles the capacity as the backend does. Isolates the allocator's share,
// which the transfer benchmarks above mix with the loopback transfer itself.

void BM_GrowthPolicy(benchmark::State &state) {
    const bool doubling = state.range(0) != 0;
    static char chunk[16384];
    std::memset(chunk, 'x', sizeof chunk);
    for (auto _ : state) {
        char *data = nullptr;
        size_t len = 0, cap = 0;
        while (len < kBody) {
            const size_t need = len + sizeof chunk + 1;
            if (need > cap) {
                size_t grown = doubling ? (cap * 2 < need ? need : cap * 2) : need;
                char *p = static_cast<char *>(std::realloc(data, grown));
                if (!p) std::abort();
                data = p;
                cap = grown;
            }
            std::memcpy(data + len, chunk, sizeof chunk);
            len += sizeof chunk;
            data[len] = '\0';
        }
        benchmark::DoNotOptimize(data);
        std::free(data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBody));
}

BENCHMARK(BM_GrowthPolicy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BackendGet)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExactReallocGet)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
