// SPDX-License-Identifier: MIT
// Cost of the document decoders against what any decoder must pay: yyjson parsing the
// same body, a walk over the document and one strdup per string kept in the records.
// Goal: each decoder within 1.2x of its baseline (checked by scripts/run-ratios.sh).
//
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release && cmake --build build-bench --target bench_parse
//   build-bench/bench/bench_parse --benchmark_min_time=0.5 --benchmark_repetitions=5 \
//     --benchmark_report_aggregates_only=true
#include "tqmovie.h"

#include <benchmark/benchmark.h>
#include <yyjson.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string basic_object(int i) {
    const std::string n = std::to_string(i);
    return R"({"imDbId":"tt01111)" + n + R"(","title":"The Shawshank Redemption )" + n +
           R"(","tagLine":"Fear can hold you prisoner. Hope can set you free.",)"
           R"("plot":"Two imprisoned men bond over a number of years, finding solace and eventual redemption through acts of common decency.",)"
           R"("posterUrl":"https://images.example.com/posters/tt0111161/original.jpg",)"
           R"("pictureUrl":"https://images.example.com/pictures/tt0111161/w1280.jpg",)"
           R"("id":278,"year":1994,"duration":142,"isTVShow":false,)"
           R"("directors":["Frank Darabont"],"genres":"Drama, Crime",)"
           R"("ratings":{"imDb":9.3,"metacritic":82,"theMovieDb":8.7,"rottenTomatoes":91}})";
}

std::string detail_object() {
    std::string s =
        R"({"imDbId":"tt0903747","title":"Breaking Bad","originalTitle":"Breaking Bad","tagLine":"Remember my name.",)"
        R"("plot":"A chemistry teacher diagnosed with inoperable lung cancer turns to manufacturing and selling methamphetamine with a former student in order to secure his family's future.",)"
        R"("posterUrl":"https://images.example.com/posters/tt0903747/original.jpg",)"
        R"("pictureUrl":"https://images.example.com/pictures/tt0903747/w1280.jpg","titleType":"TVSeries",)"
        R"("genres":"Crime, Drama, Thriller","directors":"Vince Gilligan",)"
        R"("trailerUrl":"https://videos.example.com/watch?v=HhesaQXLuRY","extension1":"ext",)"
        R"("logoBase64":"iVBORw0KGgoAAAANSUhEUgAAABAAAAAQCAYAAAAf8/9hAAAABHNCSVQICAgIfAhkiAAAAAlwSFlzAAAOxAAADsQBlSsOGwAAABl0RVh0U29mdHdhcmUAd3d3Lmlua3NjYXBlLm9yZ5vuPBoAAAE=",)"
        R"("id":1396,"startYear":2008,"endYear":2013,"runtimeMinutes":49,"isTVShow":true,"imDbRating":9.5,"casts":[)";
    for (int i = 0; i < 15; ++i) {
        const std::string n = std::to_string(i);
        s += (i ? "," : "") + std::string(R"({"name":"Cast Member )") + n + R"(","idOrName":"nm01865)" + n +
             R"(","poster":"https://images.example.com/people/nm01865)" + n + R"(.jpg","characterOrRole":"Character )" +
             n + R"(","birthday":"1956-03-07"})";
    }
    s += R"(],"relatedIMDbIds":[)";
    for (int i = 0; i < 10; ++i) s += (i ? ",\"tt100" : "\"tt100") + std::to_string(i) + "\"";
    s += R"(],"pictures":[)";
    for (int i = 0; i < 10; ++i)
        s += (i ? "," : "") + std::string(R"({"language":"en","url":"https://images.example.com/backdrops/)") +
             std::to_string(i) + R"(.jpg","width":1920,"height":1080})";
    s += R"(],"watchProviders":[)";
    for (int i = 0; i < 10; ++i)
        s += (i ? "," : "") + std::string(R"({"countryCode":"US","providerId":")") + std::to_string(i) +
             R"(","providerName":"Provider )" + std::to_string(i) +
             R"(","logoUrl":"https://images.example.com/logos/p.png","watchType":"flatrate","displayPriority":)" +
             std::to_string(i) + "}";
    s += R"(],"videos":[)";
    for (int i = 0; i < 5; ++i)
        s +=
            (i ? "," : "") + std::string(R"({"id":"5f1a2b3c4d5e6f70819)") + std::to_string(i) +
            R"(","key":"HhesaQXLuRY","name":"Official Trailer","site":"YouTube","type":"Trailer","iso_639_1":"en","iso_3166_1":"US","size":1080})";
    return s + "]}";
}

std::string basic_batch() {
    std::string s = "[";
    for (int i = 0; i < 24; ++i) s += (i ? "," : "") + basic_object(i);
    return s + "]";
}

// The work every decoder of these documents has to do: parse, visit every value, and
// copy out each string a record keeps: every string value, the rating sources (keys of
// the "ratings" object) and, in basic records, each part of a "genres" text, which
// is kept as one string per genre.
struct baseline {
    enum class kind { value, rating_keys, genre_parts };
    bool split_genres = false;
    std::vector<char *> kept;
    void walk(yyjson_val *v, kind how) {
        if (yyjson_is_str(v)) {
            const char *s = yyjson_get_str(v);
            if (how != kind::genre_parts) {
                kept.push_back(strdup(s));
                return;
            }
            for (const char *comma; (comma = std::strchr(s, ',')) != nullptr; s = comma + 1)
                kept.push_back(strndup(s, static_cast<size_t>(comma - s)));
            kept.push_back(strdup(s));
        } else if (yyjson_is_arr(v)) {
            size_t idx, max;
            yyjson_val *e;
            yyjson_arr_foreach(v, idx, max, e) walk(e, kind::value);
        } else if (yyjson_is_obj(v)) {
            size_t idx, max;
            yyjson_val *k, *e;
            yyjson_obj_foreach(v, idx, max, k, e) {
                if (how == kind::rating_keys) kept.push_back(strdup(yyjson_get_str(k)));
                walk(e, yyjson_equals_str(k, "ratings")                  ? kind::rating_keys
                        : split_genres && yyjson_equals_str(k, "genres") ? kind::genre_parts
                                                                         : kind::value);
            }
        } else {
            benchmark::DoNotOptimize(yyjson_get_num(v));
        }
    }
    void run(const std::string &body) {
        yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(body.data()), body.size(), 0, nullptr, nullptr);
        walk(yyjson_doc_get_root(doc), kind::value);
        yyjson_doc_free(doc);
        for (char *p : kept) std::free(p);
        kept.clear();
    }
};

void run_baseline(benchmark::State &state, const std::string &body, bool split_genres) {
    baseline b;
    b.split_genres = split_genres;
    b.kept.reserve(512);
    for (auto _ : state) b.run(body);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_BasicBaseline(benchmark::State &state) { run_baseline(state, basic_object(1), true); }
void BM_BasicDecode(benchmark::State &state) {
    const std::string body = basic_object(1);
    for (auto _ : state) {
        tq_basic *out;
        size_t n;
        if (tq_parse_basic_doc(body.data(), body.size(), &out, &n, 0) != TQMOVIE_OK) state.SkipWithError("decode");
        for (size_t i = 0; i < n; ++i) tq_free_basic(&out[i]);
        std::free(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_DetailBaseline(benchmark::State &state) { run_baseline(state, detail_object(), false); }
void BM_DetailDecode(benchmark::State &state) {
    const std::string body = detail_object();
    for (auto _ : state) {
        tq_detail *out;
        size_t n;
        if (tq_parse_detail_doc(body.data(), body.size(), &out, &n, 0, TQMOVIE_DETAIL_ALL) != TQMOVIE_OK)
            state.SkipWithError("decode");
        for (size_t i = 0; i < n; ++i) tq_free_detail(&out[i]);
        std::free(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_BatchBaseline(benchmark::State &state) { run_baseline(state, basic_batch(), true); }
void BM_BatchDecode(benchmark::State &state) {
    const std::string body = basic_batch();
    for (auto _ : state) {
        tq_basic *out;
        size_t n;
        if (tq_parse_basic_doc(body.data(), body.size(), &out, &n, 1) != TQMOVIE_OK || n != 24)
            state.SkipWithError("decode");
        for (size_t i = 0; i < n; ++i) tq_free_basic(&out[i]);
        std::free(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

// A whole 24-title detail batch through the library: one POST answered from memory,
// decoded, moved into the store and copied into the cache; against parsing the same
// body plus one strdup per string.
std::string detail_batch() {
    std::string s = "[";
    for (int i = 0; i < 24; ++i) {
        std::string one = detail_object();
        one.replace(one.find("tt0903747"), 9, "tt09037" + std::to_string(10 + i));
        s += (i ? "," : "") + one;
    }
    return s + "]";
}

int32_t answer_from_memory(void *ctx, const char *, const char *, const char *, char **body, int32_t *status, char **) {
    const auto *text = static_cast<const std::string *>(ctx);
    *body = static_cast<char *>(std::malloc(text->size() + 1));
    std::memcpy(*body, text->c_str(), text->size() + 1);
    *status = 200;
    return 0;
}

void BM_DetailBatchBaseline(benchmark::State &state) { run_baseline(state, detail_batch(), false); }
void BM_DetailBatchLookup(benchmark::State &state) {
    const std::string body = detail_batch();
    const tq_io io{const_cast<std::string *>(&body), nullptr, answer_from_memory, nullptr};
    tqmovie_set_io(&io);
    const char *ids[24];
    for (const char *&id : ids) id = "tt0903747";
    for (auto _ : state)
        if (tqmovie_get_details(ids, 24, nullptr, 0) != TQMOVIE_OK || tqmovie_detail_count() != 24)
            state.SkipWithError(tqmovie_last_error());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
    tqmovie_shutdown();
}

// The machine may be shared: with --benchmark_repetitions the minimum is the figure
// least disturbed by other work.
double min_of(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK(BM_BasicBaseline)->ComputeStatistics("min", min_of);
BENCHMARK(BM_BasicDecode)->ComputeStatistics("min", min_of);
BENCHMARK(BM_DetailBaseline)->ComputeStatistics("min", min_of);
BENCHMARK(BM_DetailDecode)->ComputeStatistics("min", min_of);
BENCHMARK(BM_BatchBaseline)->ComputeStatistics("min", min_of);
BENCHMARK(BM_BatchDecode)->ComputeStatistics("min", min_of);
BENCHMARK(BM_DetailBatchBaseline)->ComputeStatistics("min", min_of);
BENCHMARK(BM_DetailBatchLookup)->ComputeStatistics("min", min_of);

} // namespace

BENCHMARK_MAIN();
