// SPDX-License-Identifier: MIT
// The record cache at 1,000 and 100,000 titles: a read that hits, storing a new title,
// and filling the whole cache; and a single-title lookup answered from the cache
// against one plain copy of the same record. The ratio goals in scripts/ratios.py ask
// that the size of the cache makes no difference beyond the memory it takes.
//
//   build-bench/bench/bench_cache --benchmark_repetitions=5
#include "tqmovie.h"

#include <benchmark/benchmark.h>
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A small basic record per title, and the ids to file them under.
struct titles {
    std::vector<std::string> ids;
    tq_basic rec{};
    explicit titles(size_t n) {
        for (size_t i = 0; i < n; ++i) ids.push_back("tt" + std::to_string(10000000 + i * 37));
        rec.title = const_cast<char *>("A Title");
        rec.year = 1994;
        rec.duration = rec.is_tv = -1;
    }
    void put(size_t i) {
        rec.imdb_id = const_cast<char *>(ids[i].c_str());
        tq_cache_put_basic(&rec);
    }
    void fill() {
        tqmovie_cache_clear();
        for (size_t i = 0; i < ids.size(); ++i) put(i);
    }
};

// A read that hits one of 16 titles spread over the cache.
void BM_CacheHit(benchmark::State &state) {
    titles t(static_cast<size_t>(state.range(0)));
    t.fill();
    size_t k = 0;
    for (auto _ : state) {
        tq_basic out;
        if (tq_cache_get_basic(t.ids[(k++ % 16) * (t.ids.size() / 16)].c_str(), &out) != 1) state.SkipWithError("miss");
        tq_free_basic(&out);
    }
    tqmovie_cache_clear();
}
BENCHMARK(BM_CacheHit)->Arg(1000)->Arg(100000);

// Storing a title the cache does not hold (and dropping it again, so the size stays).
void BM_CacheStoreNew(benchmark::State &state) {
    titles t(static_cast<size_t>(state.range(0)));
    t.fill();
    tq_basic fresh = t.rec;
    fresh.imdb_id = const_cast<char *>("tt99999999");
    for (auto _ : state) {
        tq_cache_put_basic(&fresh);
        tqmovie_cache_invalidate("tt99999999");
    }
    tqmovie_cache_clear();
}
BENCHMARK(BM_CacheStoreNew)->Arg(1000)->Arg(100000);

void BM_CacheFill(benchmark::State &state) {
    titles t(static_cast<size_t>(state.range(0)));
    for (auto _ : state) t.fill();
    tqmovie_cache_clear();
}
BENCHMARK(BM_CacheFill)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The sample fixtures' detail record: looked up from the cache, and copied plainly.
void install_fixtures() {
    const tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    if (tqmovie_get_detail("tt0111161", nullptr, 0) != TQMOVIE_OK) std::abort();
}

void BM_CachedDetailLookup(benchmark::State &state) {
    install_fixtures();
    for (auto _ : state)
        if (tqmovie_get_detail("tt0111161", nullptr, 0) != TQMOVIE_OK) state.SkipWithError(tqmovie_last_error());
    tqmovie_shutdown();
}
BENCHMARK(BM_CachedDetailLookup);

void BM_DetailCopyAndFree(benchmark::State &state) {
    install_fixtures();
    for (auto _ : state) {
        tq_detail copy;
        tq_copy_detail(&copy, &g_tq.details[0], TQMOVIE_DETAIL_ALL);
        benchmark::DoNotOptimize(copy.title);
        tq_free_detail(&copy);
    }
    tqmovie_shutdown();
}
BENCHMARK(BM_DetailCopyAndFree);

// The complete export of the sample detail record, against parsing what it wrote.
void BM_DetailExportFull(benchmark::State &state) {
    install_fixtures();
    for (auto _ : state) {
        char *text = tqmovie_detail_to_json_full(0);
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
    tqmovie_shutdown();
}
BENCHMARK(BM_DetailExportFull);

void BM_DetailExportParse(benchmark::State &state) {
    install_fixtures();
    char *text = tqmovie_detail_to_json_full(0);
    const size_t len = std::strlen(text);
    for (auto _ : state) yyjson_doc_free(yyjson_read(text, len, 0));
    std::free(text);
    tqmovie_shutdown();
}
BENCHMARK(BM_DetailExportParse);

// 10,000 titles: the service's detail documents (the sample one under other ids),
// and a cache file holding the same titles.
struct ten_thousand {
    std::vector<std::string> docs;
    std::string path = "/tmp/tqmovie-bench-cache-" + std::to_string(getpid()) + ".json";
    ten_thousand() {
        std::ifstream f(std::string(TQ_FIXTURES_DIR) + "/detail-tt0111161.json");
        std::stringstream text;
        text << f.rdbuf();
        const std::string sample = text.str();
        tqmovie_cache_clear();
        for (int i = 0; i < 10000; ++i) {
            std::string doc = sample;
            for (size_t at; (at = doc.find("tt0111161")) != std::string::npos;)
                doc.replace(at, 9, "tt" + std::to_string(20000000 + i));
            tq_detail *recs;
            size_t n;
            if (tq_parse_detail_doc(doc.c_str(), doc.size(), &recs, &n, 0, 0) != TQMOVIE_OK) std::abort();
            tq_cache_put_detail(&recs[0]);
            tq_free_detail(&recs[0]);
            std::free(recs);
            docs.push_back(std::move(doc));
        }
        if (tqmovie_cache_save(path.c_str()) != TQMOVIE_OK) std::abort();
        tqmovie_cache_clear();
    }
    ~ten_thousand() { std::remove(path.c_str()); }
};

// A host loading its cache at start: into an empty cache.
void BM_CacheLoad10k(benchmark::State &state) {
    ten_thousand t;
    for (auto _ : state) {
        state.PauseTiming();
        tqmovie_cache_clear();
        state.ResumeTiming();
        if (tqmovie_cache_load(t.path.c_str()) != TQMOVIE_OK) state.SkipWithError(tqmovie_last_error());
    }
    tqmovie_cache_clear();
}
BENCHMARK(BM_CacheLoad10k)->Unit(benchmark::kMillisecond)->MinWarmUpTime(1);

void BM_Decode10k(benchmark::State &state) {
    ten_thousand t;
    for (auto _ : state)
        for (const std::string &doc : t.docs) {
            tq_detail *recs;
            size_t n;
            if (tq_parse_detail_doc(doc.c_str(), doc.size(), &recs, &n, 0, 0) != TQMOVIE_OK)
                state.SkipWithError("decode");
            tq_free_detail(&recs[0]);
            std::free(recs);
        }
}
BENCHMARK(BM_Decode10k)->Unit(benchmark::kMillisecond)->MinWarmUpTime(1);

} // namespace

BENCHMARK_MAIN();
