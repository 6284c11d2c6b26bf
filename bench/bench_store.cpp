// SPDX-License-Identifier: MIT
// The store behind the cache: a detail lookup that a fresh client, its service out of
// reach, answers from a store of 1,000 and of 100,000 titles; a 1,000-id detail batch
// with a store set against the same batch without one (CPU); and the store file's size
// against the complete JSON of the records it keeps (the counter "bytes").
//
//   build-bench/bench/bench_store --benchmark_repetitions=5
#include "tqmovie.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Never reached: every backend here answers in place. Records are keyed by it.
constexpr const char *k_host = "http://127.0.0.1:9";

std::string sample_detail() {
    std::ifstream f(std::string(TQ_FIXTURES_DIR) + "/detail-tt0111161.json");
    std::stringstream text;
    text << f.rdbuf();
    if (text.str().empty()) std::abort();
    return text.str();
}

// The sample record's document as the service would send it for another title.
std::string detail_for(const std::string &sample, const std::string &id) {
    std::string doc = sample;
    for (size_t at; (at = doc.find("tt0111161")) != std::string::npos;) doc.replace(at, 9, id);
    return doc;
}

std::string id_of(size_t i) { return "tt" + std::to_string(20000000 + i); }

// The files of this run, in a directory of their own removed at exit.
class scratch_dir {
public:
    scratch_dir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tqmovie-bench-store-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        path = tmpl;
    }
    ~scratch_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

const std::string &scratch() {
    static const scratch_dir dir;
    return dir.path;
}

// A new client made current for the scope: a fresh memory cache, the bench's service.
class fresh_client {
public:
    explicit fresh_client(const tq_io &io) : c_(tqmovie_client_new()), prev_(tqmovie_use(c_)) {
        tqmovie_set_io(&io);
        tqmovie_set_host(k_host);
    }
    ~fresh_client() {
        tqmovie_use(prev_);
        tqmovie_client_free(c_); // detaches its store
    }
    fresh_client(const fresh_client &) = delete;
    fresh_client &operator=(const fresh_client &) = delete;

private:
    tqmovie_client *c_, *prev_;
};

tqmovie_store *open_store(const std::string &path) {
    tqmovie_store *s = tqmovie_store_open(path.c_str(), nullptr);
    if (!s) {
        std::fprintf(stderr, "bench_store: %s\n", tqmovie_last_error());
        std::abort();
    }
    return s;
}

// A store file holding the sample detail record under n ids, made once per size. The
// records go through the memory cache in slices and each slice into the store in one
// transaction (tqmovie_store_write_all), which keeps the filling to seconds.
const std::string &filled_store(size_t n) {
    static std::map<size_t, std::string> made;
    if (auto it = made.find(n); it != made.end()) return it->second;
    const std::string path = scratch() + "/titles-" + std::to_string(n) + ".db";
    const std::string doc = sample_detail();
    tq_detail *recs = nullptr;
    size_t count = 0;
    if (tq_parse_detail_doc(doc.c_str(), doc.size(), &recs, &count, 0, 0) != TQMOVIE_OK || count != 1) std::abort();
    tqmovie_store *s = open_store(path);
    {
        const fresh_client c(tolvane_io_stub());
        char *own_id = recs[0].imdb_id;
        constexpr size_t slice = 10000;
        for (size_t i = 0; i < n; ++i) {
            const std::string id = id_of(i);
            recs[0].imdb_id = const_cast<char *>(id.c_str());
            tq_cache_put_detail(&recs[0]);
            if ((i + 1) % slice != 0 && i + 1 != n) continue;
            tqmovie_set_store(s);
            if (tqmovie_store_write_all() != TQMOVIE_OK) std::abort();
            tqmovie_set_store(nullptr);
            tqmovie_cache_clear();
        }
        recs[0].imdb_id = own_id;
    }
    uint64_t titles = 0;
    if (tqmovie_store_count(s, &titles) != TQMOVIE_OK || titles != n || tqmovie_store_close(s) != TQMOVIE_OK)
        std::abort();
    tq_free_detail(&recs[0]);
    std::free(recs);
    return made.emplace(n, path).first->second;
}

// A detail lookup of a random stored title by a client whose memory cache is empty and
// whose backend fails every request: the store answers.
void BM_StoreDetailLookup(benchmark::State &state) {
    const auto n = static_cast<size_t>(state.range(0));
    tqmovie_store *s = open_store(filled_store(n));
    std::mt19937_64 rng(42);
    std::vector<std::string> ids;
    for (int k = 0; k < 4096; ++k) ids.push_back(id_of(rng() % n));
    {
        const fresh_client c(tolvane_io_stub());
        tqmovie_set_store(s);
        size_t k = 0;
        for (auto _ : state) {
            if (tqmovie_get_detail(ids[k++ % ids.size()].c_str(), nullptr, 0) != TQMOVIE_OK)
                state.SkipWithError(tqmovie_last_error());
            tqmovie_cache_clear(); // the next lookup starts as a fresh client's would
        }
    }
    tqmovie_store_close(s);
}
BENCHMARK(BM_StoreDetailLookup)->Arg(1000)->Arg(100000);

// A host's backend answering detail batches from memory: the sample record under each
// id asked for.
class memory_service {
public:
    explicit memory_service(const std::vector<std::string> &ids) {
        const std::string sample = sample_detail();
        for (const std::string &id : ids) docs_.emplace(id, detail_for(sample, id));
    }
    tq_io io() { return tq_io{this, nullptr, &post, nullptr}; }

private:
    std::unordered_map<std::string, std::string> docs_;

    static int32_t post(void *ctx, const char *, const char *request_body, const char *, char **body, int32_t *status,
                        char **) {
        const auto &docs = static_cast<memory_service *>(ctx)->docs_;
        std::string text = "[";
        for (const char *p = request_body; p && *p;) {
            const char *end = std::strchr(p, ',');
            const std::string id(p, end ? static_cast<size_t>(end - p) : std::strlen(p));
            if (auto it = docs.find(id); it != docs.end()) {
                if (text.size() > 1) text += ',';
                text += it->second;
            }
            p = end ? end + 1 : nullptr;
        }
        text += ']';
        *body = static_cast<char *>(std::malloc(text.size() + 1));
        if (!*body) return -1;
        std::memcpy(*body, text.c_str(), text.size() + 1);
        *status = 200;
        return 0;
    }
};

// A 1,000-id detail batch (42 chunks of the default ceiling), each iteration into an
// empty memory cache and, with_store, a new store file: every record is a new one, and
// no earlier iteration's deletions are left for this one's checkpoints to write.
void detail_batch(benchmark::State &state, bool with_store) {
    std::vector<std::string> ids;
    for (size_t i = 0; i < 1000; ++i) ids.push_back(id_of(i));
    std::vector<const char *> p;
    for (const std::string &id : ids) p.push_back(id.c_str());
    memory_service service(ids);
    const std::string path = scratch() + "/batch.db";
    const fresh_client c(service.io());
    tqmovie_store *s = nullptr;
    for (auto _ : state) {
        state.PauseTiming();
        tqmovie_cache_clear();
        if (with_store) {
            tqmovie_set_store(nullptr);
            tqmovie_store_close(s);
            for (const char *suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
            s = open_store(path);
            tqmovie_set_store(s);
        }
        state.ResumeTiming();
        if (tqmovie_get_details(p.data(), p.size(), nullptr, 0) != TQMOVIE_OK || tqmovie_detail_count() != 1000)
            state.SkipWithError(tqmovie_last_error());
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    tqmovie_set_store(nullptr);
    tqmovie_store_close(s);
}
void BM_DetailBatchToStore(benchmark::State &state) { detail_batch(state, true); }
void BM_DetailBatchNoStore(benchmark::State &state) { detail_batch(state, false); }
BENCHMARK(BM_DetailBatchToStore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetailBatchNoStore)->Unit(benchmark::kMillisecond);

// What keeping 100,000 titles costs on disk: the file (with its journal, if any), and
// the complete JSON of the records in it, read back from the file.
uint64_t file_bytes(const std::string &path) {
    uint64_t total = 0;
    for (const std::string &p : {path, path + "-wal"}) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(p, ec);
        if (!ec) total += size;
    }
    return total;
}

uint64_t json_bytes(const std::string &path) {
    sqlite3 *db = nullptr;
    sqlite3_stmt *st = nullptr;
    uint64_t total = 0;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT sum(length(CAST(json AS BLOB))) FROM records", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        total = static_cast<uint64_t>(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return total;
}

template <uint64_t (*Measure)(const std::string &)> void BM_StoreBytes(benchmark::State &state) {
    const std::string &path = filled_store(100000);
    uint64_t bytes = 0;
    for (auto _ : state) bytes = Measure(path);
    if (bytes == 0) state.SkipWithError("nothing measured");
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_StoreBytes<file_bytes>)->Name("BM_StoreFileBytes")->Iterations(1);
BENCHMARK(BM_StoreBytes<json_bytes>)->Name("BM_StoreJsonBytes")->Iterations(1);

} // namespace

BENCHMARK_MAIN();
