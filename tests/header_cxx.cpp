// SPDX-License-Identifier: MIT
// The public header used from strict C++ (built as C++11 and C++20 with warnings as
// errors, old-style casts and 0-as-null included): a C++ host includes it as it is.
#include "tqmovie.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

int failures = 0;

void check(bool ok, const char *what, int line) {
    if (ok) return;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, what);
    ++failures;
}

} // namespace

#define CHECK(c) check((c), #c, __LINE__)

int main() {
    CHECK(std::strcmp(tqmovie_last_error(), "") == 0);
    int32_t is_movie = 7;
    CHECK(tqmovie_is_movie("tt0111161", &is_movie) == TQMOVIE_ERR_NO_IO);

    tq_io stub = tolvane_io_stub();
    tqmovie_set_io(&stub);
    CHECK(std::strcmp(g_tq.host, TQMOVIE_DEFAULT_HOST) == 0);
    CHECK(tqmovie_get_basic("tt0111161", nullptr) == TQMOVIE_ERR_TRANSPORT);
    CHECK(tqmovie_basic_count() == 0);
    CHECK(tqmovie_detail_title(0) == nullptr);
    CHECK(tqmovie_detail_video_size(0, 0) == 0);
    CHECK(std::isnan(tqmovie_detail_imdb_rating(-1)));
    CHECK(tqmovie_detail_to_json(0) == nullptr);
    CHECK((TQMOVIE_DETAIL_ALL & TQMOVIE_DETAIL_CAST) != 0);
    CHECK(TQMOVIE_VERSION_HEX >= 0x000100);

    tqmovie_shutdown();
    CHECK(g_tq.has_io == 0);
    if (failures) return 1;
    std::puts("c++ header: ok");
    return 0;
}
