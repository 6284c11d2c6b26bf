// SPDX-License-Identifier: MIT
// store_scan: one detail batch of COUNT synthetic ids (tt1000000 + FIRST + i) against
// the stand-in at URL, in chunks of 24, into the store at STORE. Prints "chunk
// DONE/TOTAL" and flushes it once a chunk has landed in the store, so that whoever
// kills the process knows which chunks must be there (bench/store_crash.sh).
//
//   store_scan http://127.0.0.1:PORT /tmp/scan.db 0 10000
//
// Exit status: 0 when the whole batch succeeded, 1 on a failure (its text on stderr),
// 64 on bad arguments.
#include "tqmovie.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int on_progress(const tqmovie_progress *e, void *) {
    // A chunk's records are committed before it is reported; a failed chunk kept none.
    if (e->kind == TQMOVIE_PROGRESS_CHUNK_DONE && e->status == TQMOVIE_OK) {
        std::printf("chunk %llu/%llu\n", static_cast<unsigned long long>(e->done),
                    static_cast<unsigned long long>(e->total));
        std::fflush(stdout);
    }
    return 0;
}

bool whole_number(const char *text, unsigned long *out) {
    char *end = nullptr;
    *out = std::strtoul(text, &end, 10);
    return text[0] >= '0' && text[0] <= '9' && *end == '\0';
}

} // namespace

int main(int argc, char **argv) {
    unsigned long first = 0, count = 0;
    if (argc != 5 || !whole_number(argv[3], &first) || !whole_number(argv[4], &count) || count == 0 ||
        first + count > 8999999) {
        std::fprintf(stderr, "usage: store_scan URL STORE FIRST COUNT\n");
        return 64;
    }
    std::vector<std::string> ids;
    for (unsigned long i = 0; i < count; ++i) ids.push_back("tt" + std::to_string(1000000 + first + i));
    std::vector<const char *> p;
    for (const std::string &id : ids) p.push_back(id.c_str());

    tqmovie_client *c = tqmovie_client_new();
    if (!c) return 1;
    tqmovie_use(c);
    tq_io io = tolvane_io_curl_pooled(nullptr);
    tqmovie_set_io(&io);
    tqmovie_set_host(argv[1]);
    tqmovie_set_batch_ceiling(24);
    tqmovie_set_progress(on_progress, nullptr);
    tqmovie_store *s = tqmovie_store_open(argv[2], nullptr);
    int rc = 1;
    if (!s) {
        std::fprintf(stderr, "store_scan: %s\n", tqmovie_last_error());
    } else {
        tqmovie_set_store(s);
        const int32_t st = tqmovie_get_details(p.data(), p.size(), nullptr, 0);
        if (st != TQMOVIE_OK)
            std::fprintf(stderr, "store_scan: status %d: %s\n", st, tqmovie_last_error());
        else
            rc = 0;
        tqmovie_set_store(nullptr);
        if (tqmovie_store_close(s) != TQMOVIE_OK) {
            std::fprintf(stderr, "store_scan: %s\n", tqmovie_last_error());
            rc = 1;
        }
    }
    tqmovie_use(nullptr);
    tqmovie_client_free(c);
    tolvane_io_curl_pooled_free(&io);
    return rc;
}
