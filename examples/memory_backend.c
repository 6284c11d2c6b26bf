/* SPDX-License-Identifier: MIT */
/*
 * memory_backend: a host-written backend. It answers every request the library sends
 * from a table in memory, in the JSON shapes docs/backend.md describes, and shows the
 * backend contract: return 0 when the exchange completed (whatever the HTTP status),
 * hand over malloc'ed NUL-terminated bodies, say what went wrong through *err.
 *
 *   memory_backend
 */
#include <tqmovie.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct title {
    const char *id;
    int is_movie;       /* IsMovie: true or false */
    const char *basic;  /* GetMovieBasic: one basic object */
    const char *detail; /* GetMovieDetail: one detail object */
    const char *trans;  /* one element of a GetMovieTranslations answer */
};

static const struct title titles[] = {
    {"tt0000101", 1,
     "{\"imDbId\":\"tt0000101\",\"title\":\"Harbour Lights\",\"year\":1951,\"duration\":94,"
     "\"isTVShow\":false,\"directors\":[\"Ines Marr\"],\"genres\":\"Drama, Romance\","
     "\"ratings\":{\"imDb\":7.4,\"metacritic\":71}}",
     "{\"imDbId\":\"tt0000101\",\"title\":\"Harbour Lights\",\"startYear\":1951,\"endYear\":null,"
     "\"runtimeMinutes\":94,\"isTVShow\":false,\"imDbRating\":7.4,\"genres\":[\"Drama\",\"Romance\"],"
     "\"casts\":[{\"name\":\"Ada Voss\",\"idOrName\":\"nm0000901\",\"characterOrRole\":\"Lena\"}],"
     "\"relatedIMDbIds\":[\"tt0000102\"]}",
     "{\"imDbId\":\"tt0000101\",\"items\":[{\"title\":\"Hafenlichter\",\"iso_639_1\":\"de\","
     "\"iso_3166_1\":\"DE\"}]}"},
    {"tt0000102", 0,
     "{\"imDbId\":\"tt0000102\",\"title\":\"The Long Tide\",\"year\":2019,\"isTVShow\":true,"
     "\"genres\":[\"Mystery\"]}",
     "{\"imDbId\":\"tt0000102\",\"title\":\"The Long Tide\",\"startYear\":2019,\"endYear\":2022,"
     "\"isTVShow\":true,\"genres\":\"Mystery\",\"casts\":[]}",
     "{\"imDbId\":\"tt0000102\",\"items\":[]}"},
};

static const struct title *find_title(const char *id, size_t len) {
    size_t i;
    for (i = 0; i < sizeof titles / sizeof titles[0]; ++i)
        if (strlen(titles[i].id) == len && strncmp(titles[i].id, id, len) == 0) return &titles[i];
    return NULL;
}

static char *copy_text(const char *s) {
    char *p = malloc(strlen(s) + 1);
    if (p) strcpy(p, s);
    return p;
}

/* The endpoint name after "/api/AAA/", e.g. "GetMovieBasic"; NULL when absent. */
static const char *endpoint(const char *url, size_t *len) {
    const char *p = strstr(url, "/api/AAA/");
    if (!p) return NULL;
    p += 9;
    *len = strcspn(p, "?");
    return p;
}

static int is(const char *name, size_t len, const char *want) {
    return strlen(want) == len && strncmp(name, want, len) == 0;
}

static int32_t fail(char **err, const char *why) {
    *err = copy_text(why); /* may be NULL: the description is optional */
    return 1;
}

static int32_t answer(char **body, int32_t *status, int32_t code, const char *text, char **err) {
    *body = copy_text(text);
    if (!*body) return fail(err, "out of memory");
    *status = code;
    return 0;
}

static int32_t mem_get(void *ctx, const char *url, char **body, int32_t *status, char **err) {
    size_t len, id_len;
    const char *name = endpoint(url, &len);
    const char *id = strstr(url, "imdbId=");
    const struct title *t;
    (void)ctx;
    if (!name || !id) return fail(err, "memory backend: unexpected URL");
    id += 7;
    id_len = strcspn(id, "&"); /* ids are letters and digits: nothing to decode */
    t = find_title(id, id_len);
    if (is(name, len, "IsMovie")) return answer(body, status, 200, t && t->is_movie ? "true" : "false", err);
    if (!t) return answer(body, status, 404, "no such title", err);
    if (is(name, len, "GetMovieBasic")) return answer(body, status, 200, t->basic, err);
    if (is(name, len, "GetMovieDetail")) return answer(body, status, 200, t->detail, err);
    return answer(body, status, 404, "no such endpoint", err);
}

/* A batch answer: a JSON array of the known ids' documents, in request order. */
static int32_t mem_post(void *ctx, const char *url, const char *request_body, const char *content_type, char **body,
                        int32_t *status, char **err) {
    size_t len, cap = 2, used;
    const char *name = endpoint(url, &len);
    const char *p;
    int kind; /* 0 basics, 1 details, 2 translations */
    char *out;
    (void)ctx;
    (void)content_type; /* always "text/plain" */
    if (!name) return fail(err, "memory backend: unexpected URL");
    kind = is(name, len, "GetMovieBasics")         ? 0
           : is(name, len, "GetMovieDetails")      ? 1
           : is(name, len, "GetMovieTranslations") ? 2
                                                   : -1;
    if (kind < 0) return answer(body, status, 404, "no such endpoint", err);

    for (p = request_body; *p; ++p) cap += *p == ',' ? 1 : 0;
    cap = (cap + 1) * 1024; /* every document above is shorter than 1 KiB */
    out = malloc(cap);
    if (!out) return fail(err, "out of memory");
    used = 0;
    out[used++] = '[';
    for (p = request_body; *p;) {
        size_t n = strcspn(p, ",");
        const struct title *t = find_title(p, n);
        if (t) {
            const char *doc = kind == 0 ? t->basic : kind == 1 ? t->detail : t->trans;
            if (used > 1) out[used++] = ',';
            memcpy(out + used, doc, strlen(doc));
            used += strlen(doc);
        }
        p += n;
        if (*p == ',') ++p;
    }
    out[used++] = ']';
    out[used] = '\0';
    *body = out;
    *status = 200;
    return 0;
}

static void mem_free(void *ctx, void *ptr) {
    (void)ctx;
    free(ptr);
}

static int failures;
#define CHECK(c)                                                                                                       \
  do {                                                                                                                 \
    if (!(c)) {                                                                                                        \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #c);                                            \
      ++failures;                                                                                                      \
    }                                                                                                                  \
  } while (0)

int main(void) {
    tq_io io = {NULL, mem_get, mem_post, mem_free};
    const char *ids[] = {"tt0000101", "tt0000999", "tt0000102"};
    int32_t is_movie = -1;

    tqmovie_set_io(&io); /* copied; the table need not outlive the call */

    CHECK(tqmovie_is_movie("tt0000101", &is_movie) == TQMOVIE_OK && is_movie == 1);

    CHECK(tqmovie_get_basic("tt0000101", NULL) == TQMOVIE_OK);
    printf("%s (%d), %d genres, %d ratings\n", tqmovie_basic_title(0), (int)tqmovie_basic_year(0),
           (int)tqmovie_basic_genres_count(0), (int)tqmovie_basic_ratings_count(0));
    CHECK(tqmovie_basic_genres_count(0) == 2); /* "Drama, Romance" is split at its comma */

    CHECK(tqmovie_get_detail("tt0000404", NULL, 0) == TQMOVIE_ERR_HTTP);
    printf("unknown title: %s\n", tqmovie_last_error()); /* "HTTP 404" */

    /* Two requests of at most two ids; the unknown id is simply left out. */
    tqmovie_set_batch_ceiling(2);
    CHECK(tqmovie_get_details(ids, 3, NULL, TQMOVIE_DETAIL_CAST) == TQMOVIE_OK);
    CHECK(tqmovie_detail_count() == 2);
    printf("batch: %s, %s (%d-%d)\n", tqmovie_detail_title(0), tqmovie_detail_title(1),
           (int)tqmovie_detail_start_year(1), (int)tqmovie_detail_end_year(1));
    CHECK(tqmovie_detail_cast_count(0) == 1 && tqmovie_detail_related_count(0) == 1);

    CHECK(tqmovie_get_translations(ids, 3, "de", "DE") == TQMOVIE_OK);
    CHECK(tqmovie_trans_count() == 2);
    printf("translation: %s\n", tqmovie_trans_item_title(0, 0));

    tqmovie_shutdown();
    if (failures) return 1;
    puts("memory backend: ok");
    return 0;
}
