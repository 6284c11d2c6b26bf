/* SPDX-License-Identifier: MIT */
/* The public header used from plain C99: it compiles with -pedantic -Werror and the
   frame calls work without any C++ runtime on the caller's side. */
#include "tqmovie.h"

#include <stdio.h>
#include <string.h>

static int failures;
#define CHECK(c)                                                                                                       \
  do {                                                                                                                 \
    if (!(c)) {                                                                                                        \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #c);                                            \
      ++failures;                                                                                                      \
    }                                                                                                                  \
  } while (0)

int main(void) {
    tq_io stub = tolvane_io_stub();
    int32_t is_movie = 7;

    CHECK(strcmp(tqmovie_last_error(), "") == 0);
    CHECK(tqmovie_last_http_code() == 0);
    CHECK(tqmovie_is_movie("tt0111161", &is_movie) == TQMOVIE_ERR_NO_IO);
    CHECK(is_movie == 0);

    tqmovie_set_io(&stub);
    CHECK(strcmp(g_tq.host, TQMOVIE_DEFAULT_HOST) == 0);
    CHECK(tqmovie_is_movie("tt0111161", &is_movie) == TQMOVIE_ERR_TRANSPORT);
    CHECK(strcmp(tqmovie_last_error(), "transport: stub IO: not implemented (plug in platform backend)") == 0);
    CHECK(tqmovie_last_response_header("Content-Type") == NULL);

    tqmovie_shutdown();
    CHECK(g_tq.has_io == 0);
    if (failures) return 1;
    puts("c api: ok");
    return 0;
}
