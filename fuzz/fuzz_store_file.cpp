// SPDX-License-Identifier: MIT
// Fuzzes the store: the input is written as the store file and opened. A file that is
// not a store must be refused with a text; one that opens must answer lookups from
// what it holds (a client with no way to a service reads through to it), move all of
// it into a memory cache whose every slot is filed under its own id, and close.
#include "fuzz_common.h"

namespace {

void check_slots() {
    for (size_t k = 0; k < g_tq.cache_count; ++k) {
        const tq_cache_entry &e = g_tq.cache[k];
        FUZZ_CHECK(e.imdb_id != nullptr);
        if (e.basic) FUZZ_CHECK(e.basic->imdb_id && std::strcmp(e.basic->imdb_id, e.imdb_id) == 0);
        if (e.detail) FUZZ_CHECK(e.detail->imdb_id && std::strcmp(e.detail->imdb_id, e.imdb_id) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = fuzz_temp_dir() + "/store.db";
    for (const char *suffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
    FILE *f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);

    tqmovie_shutdown();
    tqmovie_set_host("https://api.tolvane.com");
    const tq_io stub = tolvane_io_stub();
    tqmovie_set_io(&stub);
    tqmovie_store *s = tqmovie_store_open(path.c_str(), nullptr);
    if (!s) {
        FUZZ_CHECK(tqmovie_last_error()[0] != '\0');
        return 0;
    }
    FUZZ_CHECK(tqmovie_set_store(s) == TQMOVIE_OK);
    tqmovie_set_offline(size % 2);
    for (const char *id : {"tt0111161", "tt0068646"}) {
        const int32_t b = tqmovie_get_basic(id, nullptr);
        FUZZ_CHECK(b == TQMOVIE_OK || b == TQMOVIE_ERR_TRANSPORT || b == TQMOVIE_ERR_NOMEM);
        if (b == TQMOVIE_OK) FUZZ_CHECK(tqmovie_basic_count() == 1);
        const int32_t d = tqmovie_get_detail(id, "de-DE", 0);
        FUZZ_CHECK(d == TQMOVIE_OK || d == TQMOVIE_ERR_TRANSPORT || d == TQMOVIE_ERR_NOMEM);
    }
    const int32_t all = tqmovie_store_read_all();
    FUZZ_CHECK(all == TQMOVIE_OK || all == TQMOVIE_ERR_FILE || all == TQMOVIE_ERR_NOMEM);
    check_slots();
    uint64_t titles = 0;
    tqmovie_store_count(s, &titles);
    tqmovie_set_offline(0);
    FUZZ_CHECK(tqmovie_set_store(nullptr) == TQMOVIE_OK);
    FUZZ_CHECK(tqmovie_store_close(s) == TQMOVIE_OK);
    tqmovie_shutdown();
    return 0;
}
