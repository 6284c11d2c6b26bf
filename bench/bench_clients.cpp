// SPDX-License-Identifier: MIT
// The per-call cost of finding the calling thread's client: a getter with a client
// current, against the same bounds-checked read of the global state written out here
// and called through a pointer, as a call into the library is (bench_lookup measures
// the same getter on the global state, in a program that never makes a client current).
//
//   build-bench/bench/bench_clients --benchmark_repetitions=5
#include "tqmovie.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>

namespace {

__attribute__((noinline)) const char *title_from_global(int32_t i) {
    if (i < 0 || static_cast<uint64_t>(i) >= g_tq.detail_count) return nullptr;
    return g_tq.details[i].title;
}
const char *(*volatile g_direct_title)(int32_t) = title_from_global;
const char *(*volatile g_client_title)(int32_t) = tqmovie_detail_title;

void lookup_one() {
    const tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    if (tqmovie_get_detail("tt0111161", nullptr, 0) != TQMOVIE_OK) std::abort();
}

void BM_ClientGetterBaseline(benchmark::State &state) {
    lookup_one(); // on the global state
    const auto read = g_direct_title;
    for (auto _ : state)
        for (int k = 0; k < 64; ++k) benchmark::DoNotOptimize(read(0));
}
BENCHMARK(BM_ClientGetterBaseline);

void BM_ClientGetter(benchmark::State &state) {
    tqmovie_client *c = tqmovie_client_new();
    tqmovie_client *prev = tqmovie_use(c);
    lookup_one();
    const auto read = g_client_title;
    for (auto _ : state)
        for (int k = 0; k < 64; ++k) benchmark::DoNotOptimize(read(0));
    tqmovie_use(prev);
    tqmovie_client_free(c);
}
BENCHMARK(BM_ClientGetter);

} // namespace

BENCHMARK_MAIN();
