// SPDX-License-Identifier: MIT
// Fuzzes the cache file loader. The input is written to a file in a directory of this
// process's own and loaded over a cache holding one title. A load that fails must
// leave that cache exactly as it was, slot for slot and pointer for pointer. One that
// succeeds must hold one title per entry of the file (which is then valid JSON), every
// record filed under its own id and found there, and must save to a file that loads
// back and saves to the same bytes.
#include "fuzz_common.h"

#include <tuple>

namespace {

std::string path_of(const char *name) { return fuzz_temp_dir() + "/" + name; }

void write_file(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
}

std::string read_file(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    FUZZ_CHECK(f != nullptr);
    std::string s;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    std::fclose(f);
    return s;
}

// The cache as the state shows it: every slot's key, records and stamps.
using slot_view = std::tuple<const char *, const tq_basic *, const tq_detail *, int64_t, int64_t>;
std::vector<slot_view> cache_view() {
    std::vector<slot_view> v;
    for (size_t k = 0; k < g_tq.cache_count; ++k) {
        const tq_cache_entry &e = g_tq.cache[k];
        v.emplace_back(e.imdb_id, e.basic, e.detail, e.basic_at, e.detail_at);
    }
    return v;
}

// Every slot has a key, a record, records carrying that key, and is found by it.
void check_slots() {
    for (size_t k = 0; k < g_tq.cache_count; ++k) {
        const tq_cache_entry &e = g_tq.cache[k];
        FUZZ_CHECK(e.imdb_id != nullptr && (e.basic || e.detail));
        if (e.basic) FUZZ_CHECK(e.basic->imdb_id && std::strcmp(e.basic->imdb_id, e.imdb_id) == 0);
        if (e.detail) FUZZ_CHECK(e.detail->imdb_id && std::strcmp(e.detail->imdb_id, e.imdb_id) == 0);
        FUZZ_CHECK(tq_cache_find(e.imdb_id) == &e && tqmovie_cache_has(e.imdb_id, nullptr, nullptr) == 1);
    }
}

// One title with both records, stored the way a host would.
void prime() {
    tqmovie_shutdown();
    tqmovie_cache_set_limit(0);
    char id[] = "tt0000001", title[] = "Primed";
    tq_basic b{};
    b.imdb_id = id;
    b.title = title;
    b.year = b.duration = b.is_tv = -1;
    tq_cache_put_basic(&b);
    tq_detail d{};
    d.imdb_id = id;
    d.start_year = d.end_year = d.runtime = d.is_tv = -1;
    d.imdb_rating = NAN;
    tq_cache_put_detail(&d);
    FUZZ_CHECK(g_tq.cache_count == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string in = path_of("in.json"), saved = path_of("saved.json"), again = path_of("again.json");
    write_file(in, data, size);
    prime();
    const std::vector<slot_view> before = cache_view();
    const int32_t st = tqmovie_cache_load(in.c_str());
    const std::string err = tqmovie_last_error();
    FUZZ_CHECK(st == TQMOVIE_OK || st == TQMOVIE_ERR_PARSE);
    if (st != TQMOVIE_OK) {
        FUZZ_CHECK(cache_view() == before && err.rfind("cache file: ", 0) == 0);
        return 0;
    }
    FUZZ_CHECK(err.empty());
    const fuzz_json doc(std::string(reinterpret_cast<const char *>(data), size));
    FUZZ_CHECK(doc.doc != nullptr);
    FUZZ_CHECK(yyjson_arr_size(yyjson_obj_get(doc.root(), "entries")) == g_tq.cache_count);
    check_slots();

    FUZZ_CHECK(tqmovie_cache_save(saved.c_str()) == TQMOVIE_OK);
    const std::string text = read_file(saved);
    FUZZ_CHECK(tqmovie_cache_load(saved.c_str()) == TQMOVIE_OK);
    check_slots();
    FUZZ_CHECK(tqmovie_cache_save(again.c_str()) == TQMOVIE_OK);
    fuzz_same(read_file(again), text, "cache file saved after a load of its own save");

    // A limit applies at once: the least recently used titles leave.
    tqmovie_cache_set_limit(1);
    FUZZ_CHECK(g_tq.cache_count <= 1);
    check_slots();
    tqmovie_cache_set_limit(0);
    return 0;
}
