// SPDX-License-Identifier: MIT
// Costs a host sees per call: a detail lookup answered by the fixture backend (file
// read, decode, store, cache), the same lookup answered from the cache, a batch of
// details, a sweep of getters over a stored record, and the JSON export.
//
//   build/bench/bench_lookup --benchmark_min_time=0.5
#include "tqmovie.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

const char *const k_ids[] = {"tt0111161", "tt0068646", "tt0468569", "tt0110912", "tt1375666",
                             "tt0133093", "tt0109830", "tt0903747", "tt0944947", "tt0108778"};
constexpr size_t k_id_count = sizeof k_ids / sizeof k_ids[0];

void install_fixtures() {
    tqmovie_shutdown();
    tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    tqmovie_cache_set_ttl(86400, 21600);
}

void BM_DetailLookupUncached(benchmark::State &state) {
    install_fixtures();
    for (auto _ : state) {
        tqmovie_cache_invalidate("tt0111161");
        if (tqmovie_get_detail("tt0111161", nullptr, 0) != TQMOVIE_OK) state.SkipWithError(tqmovie_last_error());
    }
    tqmovie_shutdown();
}
BENCHMARK(BM_DetailLookupUncached);

void BM_DetailLookupFromCache(benchmark::State &state) {
    install_fixtures();
    tqmovie_get_detail("tt0111161", nullptr, 0);
    for (auto _ : state) {
        if (tqmovie_get_detail("tt0111161", nullptr, 0) != TQMOVIE_OK) state.SkipWithError(tqmovie_last_error());
    }
    tqmovie_shutdown();
}
BENCHMARK(BM_DetailLookupFromCache);

void BM_DetailBatchOfTen(benchmark::State &state) {
    install_fixtures();
    for (auto _ : state) {
        if (tqmovie_get_details(k_ids, k_id_count, nullptr, 0) != TQMOVIE_OK) state.SkipWithError(tqmovie_last_error());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(k_id_count));
    tqmovie_shutdown();
}
BENCHMARK(BM_DetailBatchOfTen);

void BM_GetterSweep(benchmark::State &state) {
    install_fixtures();
    tqmovie_get_detail("tt0111161", nullptr, 0);
    for (auto _ : state) {
        int32_t n = tqmovie_detail_cast_count(0);
        for (int32_t j = 0; j < n; ++j) {
            benchmark::DoNotOptimize(tqmovie_detail_cast_name(0, j));
            benchmark::DoNotOptimize(tqmovie_detail_cast_role(0, j));
        }
        benchmark::DoNotOptimize(tqmovie_detail_title(0));
        benchmark::DoNotOptimize(tqmovie_detail_imdb_rating(0));
        benchmark::DoNotOptimize(tqmovie_detail_title(-1));
    }
    tqmovie_shutdown();
}
BENCHMARK(BM_GetterSweep);

// A getter on the global state, against the same bounds-checked read written out
// here and called through a pointer, as a call into the library is. No client is
// ever made current in this program: bench_clients measures a getter with one current.
__attribute__((noinline)) const char *title_from_global(int32_t i) {
    if (i < 0 || static_cast<uint64_t>(i) >= g_tq.detail_count) return nullptr;
    return g_tq.details[i].title;
}
const char *(*volatile g_direct_title)(int32_t) = title_from_global;
const char *(*volatile g_library_title)(int32_t) = tqmovie_detail_title;

template <const char *(*volatile *Read)(int32_t)> void BM_Getter(benchmark::State &state) {
    install_fixtures();
    tqmovie_get_detail("tt0111161", nullptr, 0);
    const auto read = *Read;
    for (auto _ : state)
        for (int k = 0; k < 64; ++k) benchmark::DoNotOptimize(read(0));
    tqmovie_shutdown();
}
BENCHMARK(BM_Getter<&g_direct_title>)->Name("BM_GetterGlobalDirect");
BENCHMARK(BM_Getter<&g_library_title>)->Name("BM_GetterGlobalState");

void BM_BasicToJson(benchmark::State &state) {
    install_fixtures();
    tqmovie_get_basic("tt0111161", nullptr);
    for (auto _ : state) {
        char *text = tqmovie_basic_to_json(0);
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
    tqmovie_shutdown();
}
BENCHMARK(BM_BasicToJson);

} // namespace

BENCHMARK_MAIN();
