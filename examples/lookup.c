/* SPDX-License-Identifier: MIT */
/*
 * lookup: the smallest host. Installs the fixture backend over a directory of sample
 * answers, looks up one title's detail record and reads it through the getters.
 *
 *   lookup FIXTURE_DIR [IMDB_ID]      (installed: PREFIX/share/tqmovie/fixtures)
 */
#include <tqmovie.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

static const char *or_dash(const char *s) { return s && *s ? s : "-"; }

int main(int argc, char **argv) {
    const char *id = argc > 2 ? argv[2] : "tt0111161";
    tq_io io;
    int32_t st;
    int32_t i, n;
    double rating;
    char *json;

    if (argc < 2) {
        fprintf(stderr, "usage: %s FIXTURE_DIR [IMDB_ID]\n", argv[0]);
        return 64;
    }
    /* The library loaded at run time may be newer than this header, never older. */
    if ((tqmovie_version_number() >> 16) != TQMOVIE_VERSION_MAJOR ||
        tqmovie_version_number() < (uint32_t)TQMOVIE_VERSION_HEX) {
        fprintf(stderr, "built for tqmovie %s, loaded %s\n", TQMOVIE_VERSION_STRING, tqmovie_version());
        return 1;
    }
    printf("tqmovie %s\n", tqmovie_version());

    io = tolvane_io_fake(argv[1]);
    tqmovie_set_io(&io);
    st = tqmovie_get_detail(id, "en-US", TQMOVIE_DETAIL_CAST | TQMOVIE_DETAIL_PROVIDERS);
    if (st != TQMOVIE_OK) {
        fprintf(stderr, "%s: status %d: %s (HTTP %d)\n", id, (int)st, tqmovie_last_error(),
                (int)tqmovie_last_http_code());
        tqmovie_shutdown();
        return 1;
    }

    /* Index 0 is the one record a single-title lookup stores. */
    printf("%s (%d)\n", or_dash(tqmovie_detail_title(0)), (int)tqmovie_detail_start_year(0));
    printf("  kind      %s\n", tqmovie_detail_is_tv(0) == 1 ? "TV" : "film");
    printf("  runtime   %d min\n", (int)tqmovie_detail_runtime(0));
    printf("  genres    %s\n", or_dash(tqmovie_detail_genres(0)));
    rating = tqmovie_detail_imdb_rating(0);
    if (!isnan(rating)) printf("  rating    %.1f\n", rating);
    n = tqmovie_detail_cast_count(0);
    for (i = 0; i < n && i < 3; ++i)
        printf("  cast      %s as %s\n", or_dash(tqmovie_detail_cast_name(0, i)),
               or_dash(tqmovie_detail_cast_role(0, i)));
    n = tqmovie_detail_provider_count(0);
    for (i = 0; i < n; ++i)
        printf("  watch     %s (%s, %s)\n", or_dash(tqmovie_detail_provider_name(0, i)),
               or_dash(tqmovie_detail_provider_type(0, i)), or_dash(tqmovie_detail_provider_country(0, i)));

    /* Out of range is a fixed value, never a crash. */
    if (tqmovie_detail_title(1) != NULL || tqmovie_detail_start_year(-1) != -1) return 1;

    /* The export is the host's to free. */
    json = tqmovie_detail_to_json(0);
    if (!json) return 1;
    printf("  json      %.60s...\n", json);
    free(json);

    tqmovie_shutdown();
    return 0;
}
