/* SPDX-License-Identifier: MIT */
/*
 * tqmovie.h - film and TV metadata client (tolvane-kelvora-dorvik-movie-client).
 *
 * The one public header of the library. It compiles as C99 and as C++.
 *
 * Sections:
 *   1. Version, export macro, defaults
 *   2. Status codes and the detail section mask
 *   3. Records (basic, detail, translations)
 *   4. Transport backend table (tq_io) and client state (g_tq)
 *   5. Configuration and status
 *   6. Text helpers and request dispatch
 *   7. Result store, record release and copy
 *   8. Decoders
 *   9. Lookups: probe, single title, batches
 *  10. Result getters
 *  11. JSON export
 *  12. Record cache
 *  13. Backends shipped with the library
 *  14. Clients, threads, cancellation and progress
 *  15. Pooled HTTP backend and response headers
 *
 * General rules
 *   - Every call acts on the calling thread's current client (section 14). A thread
 *     that never calls tqmovie_use acts on the one global state g_tq, which is for one
 *     thread at a time: the host serialises those calls (and every use of a returned
 *     pointer). Clients make concurrent use safe: one client per thread, no locks.
 *   - Every operation that can fail returns a status code (TQMOVIE_OK ...) and leaves
 *     a text in the last-error buffer (tqmovie_last_error). TQMOVIE_ERR_NOMEM sets no text.
 *   - NULL: each declaration says which pointer arguments may be NULL and what that
 *     means. A pointer argument whose NULL case is not described must not be NULL.
 *   - Texts returned by getters belong to the library and stay valid until the next
 *     lookup (tqmovie_get_*) or tqmovie_shutdown. JSON export texts belong to the host,
 *     which releases them with the standard free(). Every other text the library
 *     returns says who owns it and how long it lives.
 *   - Every buffer a backend hands to the library comes from malloc/calloc/realloc.
 *   - g_tq: a host may read all of it. The only fields it may write are the stamps of
 *     the cache slots in use (basic_at, detail_at: how a host or a test ages a record).
 *     Every other field, and the cache's keys, records and slot array above all,
 *     belongs to the library; change them only through the calls below.
 */
#ifndef TQMOVIE_H
#define TQMOVIE_H

#include <stddef.h>
#include <stdint.h>

/* ---------------------------------------------------------------------------------
 * 1. Version, export macro, defaults
 * ------------------------------------------------------------------------------ */

#define TQMOVIE_VERSION_MAJOR 0
#define TQMOVIE_VERSION_MINOR 2
#define TQMOVIE_VERSION_PATCH 0
#define TQMOVIE_VERSION_STRING "0.2.0"
/* 0xMMmmpp: one byte each for major, minor and patch. */
#define TQMOVIE_VERSION_HEX ((TQMOVIE_VERSION_MAJOR << 16) | (TQMOVIE_VERSION_MINOR << 8) | TQMOVIE_VERSION_PATCH)

/* The service base URL used until tqmovie_set_host gives another one. */
#define TQMOVIE_DEFAULT_HOST "https://api.tolvane.com"

/* Most response body bytes (256 MiB) the HTTP backends take: always for
   tolvane_io_curl, by default for tolvane_io_curl_pooled. A larger body, counted after
   decoding, fails the transfer as it arrives with "response body over the limit of
   268435456 bytes". The body of an answer outside 200..299, which no lookup reads, is
   cut after 64 KiB and the answer counts as complete, so its status is what the host
   sees (TQMOVIE_ERR_HTTP, "HTTP 404") however large a page the server sends. */
#define TQMOVIE_HTTP_MAX_BODY 268435456u

#if defined(_WIN32)
#  if defined(TQMOVIE_BUILDING)
#    define TQMOVIE_API __declspec(dllexport)
#  else
#    define TQMOVIE_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) || defined(__clang__)
#  define TQMOVIE_API __attribute__((visibility("default")))
#else
#  define TQMOVIE_API
#endif

#if defined(__GNUC__) || defined(__clang__)
#  define TQMOVIE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#  define TQMOVIE_PRINTF(f, a)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of the library actually loaded, which may be newer than the header the
   host was compiled with: "MAJOR.MINOR.PATCH" (a static text, never NULL) and the
   same as 0xMMmmpp (the library's own TQMOVIE_VERSION_HEX). Releases with the same
   major number only add, so a host runs on the library it loaded when
   (tqmovie_version_number() >> 16) == TQMOVIE_VERSION_MAJOR and
   tqmovie_version_number() >= TQMOVIE_VERSION_HEX. */
TQMOVIE_API const char *tqmovie_version(void);
TQMOVIE_API uint32_t tqmovie_version_number(void);

/* yyjson's value type, for the object decoders; include <yyjson.h> to use them. */
struct yyjson_val;

/* ---------------------------------------------------------------------------------
 * 2. Status codes and the detail section mask
 * ------------------------------------------------------------------------------ */

#define TQMOVIE_OK 0
#define TQMOVIE_ERR_TRANSPORT 1 /* backend reported a transport failure: "transport: %s" */
#define TQMOVIE_ERR_HTTP 2      /* HTTP status outside 200..299: "HTTP %ld" */
#define TQMOVIE_ERR_PARSE 3     /* body is not what the operation expects */
#define TQMOVIE_ERR_EMPTY 4     /* no body, or no usable record in it */
/* 5 is not used. */
#define TQMOVIE_ERR_ARG 6       /* required argument missing: "imdb_id required", "ids required";
                                   also a lookup started on a client whose own operation is running
                                   (from its callbacks): "a lookup is already running on this client" */
#define TQMOVIE_ERR_NO_IO 7     /* no backend installed, or its needed entry is null: "no IO backend set" */
#define TQMOVIE_ERR_NOMEM 8     /* an allocation failed; no error text */
#define TQMOVIE_ERR_CANCELLED 9 /* the operation was cancelled (tqmovie_cancel): "cancelled" */
#define TQMOVIE_ERR_FILE 10     /* a cache file could not be opened, read or written */

/* Detail sections. Only the low four bits are read. Public operations, decoders and
   the cache read 0 as TQMOVIE_DETAIL_ALL; tq_copy_detail reads 0 as "no section". */
#define TQMOVIE_DETAIL_CAST 1u /* cast and related ids */
#define TQMOVIE_DETAIL_PICTURES 2u
#define TQMOVIE_DETAIL_PROVIDERS 4u
#define TQMOVIE_DETAIL_VIDEOS 8u
#define TQMOVIE_DETAIL_ALL 65535u

/* ---------------------------------------------------------------------------------
 * 3. Records
 *
 * Strings are malloc'ed, NUL-terminated and owned by the record holding them; NULL
 * means absent. A list is an array pointer plus a size_t count; the array may be
 * allocated while the count is 0 and is freed whenever it is not NULL. The record's
 * own storage belongs to whoever provided it; the release functions free members only.
 * The layouts below are part of the ABI.
 * ------------------------------------------------------------------------------ */

typedef struct tq_rating {
    char *source; /* name of the rating source */
    double value;
} tq_rating;

/* Empty value: pointers NULL, counts 0, id 0, year/duration/is_tv -1. */
typedef struct tq_basic {
    char *imdb_id;
    char *title;
    char *tagline;
    char *plot;
    char *poster_url;  /* "" when the service marked it not available */
    char *picture_url; /* "" when the service marked it not available */
    int32_t id;
    int32_t year;
    int32_t duration;
    int32_t is_tv; /* 1 TV show, 0 film, -1 unknown */
    char **directors;
    size_t directors_count;
    char **genres;
    size_t genres_count;
    tq_rating *ratings;
    size_t ratings_count;
} tq_basic;

typedef struct tq_cast {
    char *name;
    char *id; /* the member's id or, failing that, name */
    char *poster;
    char *role;
    char *birthday;
} tq_cast;

typedef struct tq_picture {
    char *language;
    char *url;
    int32_t width;
    int32_t height;
} tq_picture;

typedef struct tq_provider {
    char *country;
    char *provider_id;
    char *name;
    char *logo;
    char *type;
    int32_t display_priority;
} tq_provider;

typedef struct tq_video {
    char *id;
    char *key;
    char *name;
    char *site;
    char *type;
    char *lang;   /* ISO 639-1 */
    char *region; /* ISO 3166-1 */
    int32_t size;
} tq_video;

/* Empty value: pointers NULL, counts 0, id 0, start_year/end_year/runtime/is_tv -1,
   imdb_rating the quiet NaN 0x7FF8000000000000. */
typedef struct tq_detail {
    char *imdb_id;
    char *title;
    char *original_title;
    char *tagline;
    char *plot;
    char *poster_url;
    char *picture_url;
    char *title_type;
    char *genres;    /* all genres in one text, ", "-joined when the service sent a list */
    char *directors; /* same rule */
    char *trailer_url;
    char *extension1;
    char *logo_base64; /* stored as received, never decoded */
    int32_t id;
    int32_t start_year;
    int32_t end_year;
    int32_t runtime;
    int32_t is_tv;
    double imdb_rating;
    tq_cast *cast;
    size_t cast_count;
    tq_picture *pictures;
    size_t picture_count;
    tq_provider *providers;
    size_t provider_count;
    tq_video *videos;
    size_t video_count;
    char **related;
    size_t related_count;
} tq_detail;

typedef struct tq_trans_item {
    char *title;
    char *tagline;
    char *plot;
    char *directors;
    char *actors;
    char *lang;   /* ISO 639-1 */
    char *region; /* ISO 3166-1 */
} tq_trans_item;

/* Empty value: all zero. */
typedef struct tq_trans {
    char *imdb_id;
    tq_trans_item *items;
    size_t items_count;
} tq_trans;

/* ---------------------------------------------------------------------------------
 * 4. Transport backend table and client state
 * ------------------------------------------------------------------------------ */

/* A transport backend. The library never reads through ctx and passes it back as the
   first argument of every entry.

   get/post return 0 when the exchange completed (whatever the HTTP status), anything
   else for a transport failure. On 0 they store the HTTP status in *status and a
   NUL-terminated body in *body (NULL is allowed: reported as an empty body). On
   failure they may store a NUL-terminated description in *err, and may store a status.
   Every buffer handed out through *body or *err is a separate malloc-family allocation:
   the library releases some with free() and others through the free entry, which may
   be NULL. The library owns those buffers once the entry returns.
   During get/post a backend may report the response's headers with tqmovie_io_header
   and ask tqmovie_io_cancelled whether to give up (sections 15 and 14). */
typedef struct tq_io {
    void *ctx;
    int32_t (*get)(void *ctx, const char *url, char **body, int32_t *status, char **err);
    int32_t (*post)(void *ctx, const char *url, const char *request_body, const char *content_type, char **body,
                    int32_t *status, char **err);
    void (*free)(void *ctx, void *ptr);
} tq_io;

/* One captured response header (name at most 63, value at most 255 characters). */
typedef struct tq_header {
    char name[64];
    char value[256];
} tq_header;

/* One record-cache slot. Stamps are calendar seconds since 1970-01-01 UTC; 0 means
   "never stored". The key and records belong to the library; a host may rewrite the
   stamps of slots in use (that is how a record is aged), nothing else. */
typedef struct tq_cache_entry {
    char *imdb_id;
    tq_basic *basic;
    tq_detail *detail;
    int64_t basic_at;
    int64_t detail_at;
} tq_cache_entry;

/* The whole client state. Its layout is ABI. Hosts may read every field and write only
   the cache slots' stamps (see the general rules at the top). */
typedef struct tq_state {
    tq_io io;
    int32_t has_io;
    char host[256];
    char err[512];
    int32_t http_code;
    tq_header headers[32];
    int32_t header_count;
    tq_basic *basics;
    size_t basic_count;
    size_t basic_cap;
    tq_detail *details;
    size_t detail_count;
    size_t detail_cap;
    tq_trans *trans;
    size_t trans_count;
    size_t trans_cap;
    tq_cache_entry *cache;
    size_t cache_count;
    size_t cache_cap;
    int32_t cache_ttl_basic;
    int32_t cache_ttl_detail;
    size_t batch_ceiling;
} tq_state;

/* The one global client state; all zero at load. Never freed. */
TQMOVIE_API extern tq_state g_tq;

/* ---------------------------------------------------------------------------------
 * 5. Configuration and status
 * ------------------------------------------------------------------------------ */

/* Installs a copy of *io (the table need not outlive the call; what ctx points to must
   stay valid while installed). NULL uninstalls. Entries are not tested here: a NULL
   get or post makes the request that needs it fail with TQMOVIE_ERR_NO_IO; a NULL free
   entry means buffers are released with free().
   Fills unset defaults first (base URL, batch ceiling 24, lifetimes 86400/21600). */
TQMOVIE_API void tqmovie_set_io(const tq_io *io);

/* Sets the service base URL. NULL or "" restores TQMOVIE_DEFAULT_HOST. A value not
   starting with "http://" or "https://" (case-sensitive) gets "https://" in front.
   Cut at 255 characters; nothing else is normalised (a trailing slash stays). The
   argument may point into the current client's stored host itself. Fills unset defaults first. */
TQMOVIE_API void tqmovie_set_host(const char *host);

/* The text of the last error: never NULL, "" when the last operation set none.
   Owned by the library (it points into the current client's state); the text stays as it is until the
   next call that sets or empties it (a lookup, tq_set_err, tqmovie_shutdown). */
TQMOVIE_API const char *tqmovie_last_error(void);

/* HTTP status the backend reported for the last request; 0 when there was none
   (also after an answer from the cache, and after tqmovie_shutdown). */
TQMOVIE_API int32_t tqmovie_last_http_code(void);

/* Value of a header of the last request's final response (ASCII case-insensitive
   name; the first of that name), or NULL. NULL name gives NULL. The HTTP backends
   capture the headers ("ETag", "Cache-Control", "Retry-After", ...) within the table's
   limits (section 15); a host's backend reports them with tqmovie_io_header. Every
   lookup and every request empties the table, so after an answer from the cache or a
   refused argument this returns NULL. The value points into the current client's header table: valid until
   the next lookup or request, or tqmovie_shutdown. */
TQMOVIE_API const char *tqmovie_last_response_header(const char *name);

/* ---------------------------------------------------------------------------------
 * 6. Text helpers and request dispatch
 *
 * Every returned text is a new malloc allocation owned by the caller (release with
 * free()), or NULL when memory ran out.
 * ------------------------------------------------------------------------------ */

/* Copy of s; NULL for NULL s or when memory ran out. */
TQMOVIE_API char *tq_strdup(const char *s);
/* The first n bytes of s (embedded NULs copied) plus a NUL; s must have n readable
   bytes. NULL for NULL s, for n == SIZE_MAX, or when memory ran out. */
TQMOVIE_API char *tq_strndup(const char *s, size_t n);
/* Formats the last error text (printf rules, cut at 511 characters). fmt must not be
   NULL; the arguments may point into the error buffer itself. */
TQMOVIE_API void tq_set_err(const char *fmt, ...) TQMOVIE_PRINTF(1, 2);
/* The non-NULL entries joined with ","; NULL ids, count 0 or all entries NULL give "".
   An empty entry after a written one gives an empty field ("A,,B"). */
TQMOVIE_API char *tq_join_ids(const char *const *ids, size_t count);
/* s percent-encoded as a URL query value (RFC 3986 unreserved bytes kept, every other
   byte as %XX upper-case); NULL s gives "". */
TQMOVIE_API char *tq_url_encode(const char *s);

/* GET through the installed backend. body and status must not be NULL: *body is set to
   NULL and *status to 0 first, and the header table is emptied. url is passed to the
   backend as it is. Records the backend's status as the current client's HTTP status. Returns
   TQMOVIE_OK (*body may still be NULL), TQMOVIE_ERR_TRANSPORT ("transport: <text>"),
   TQMOVIE_ERR_HTTP ("HTTP <status>"; the error page stays in *body) or
   TQMOVIE_ERR_NO_IO ("no IO backend set"). The caller owns *body: after TQMOVIE_OK it
   releases it through io.free when set (else free()), after a failure with free(). */
TQMOVIE_API int32_t tq_http_get(const char *url, char **body, int32_t *status);
/* POST of request_body (passed as it is) with content type "text/plain"; otherwise as
   tq_http_get. */
TQMOVIE_API int32_t tq_http_post(const char *url, const char *request_body, char **body, int32_t *status);

/* ---------------------------------------------------------------------------------
 * 7. Result store, record release and copy
 * ------------------------------------------------------------------------------ */

/* Empties the result store (basic, detail and translation lists); every text a getter
   returned becomes invalid. */
TQMOVIE_API void tq_clear_results(void);

/* Empties the store and the cache, uninstalls the backend, clears the error text,
   the HTTP status and the header table. Host, lifetimes and batch ceiling survive.
   Calling it twice is harmless. */
TQMOVIE_API void tqmovie_shutdown(void);

/* Release every member and reset to the empty record. NULL does nothing; releasing
   twice is harmless. */
TQMOVIE_API void tq_free_basic(tq_basic *rec);
TQMOVIE_API void tq_free_detail(tq_detail *rec);
TQMOVIE_API void tq_free_trans(tq_trans *set);

/* Deep copies. dst must not be NULL; it is treated as raw storage (reset first, never
   released) and must not be src. NULL src gives the empty record. Return 0, or -1 when
   a list could not be allocated; dst is then a valid record holding what was copied,
   to be released by the caller. A string that cannot be duplicated is left NULL
   without error. tq_copy_detail copies only the sections selected by the mask (0
   copies none); texts and numbers are always copied. */
TQMOVIE_API int32_t tq_copy_basic(tq_basic *dst, const tq_basic *src);
TQMOVIE_API int32_t tq_copy_detail(tq_detail *dst, const tq_detail *src, uint32_t sections);

/* ---------------------------------------------------------------------------------
 * 8. Decoders
 *
 * Strict JSON (yyjson, no read flags). No record points into the parsed document,
 * which is released before each decoder returns. len 0 means "NUL-terminated, measure
 * it"; otherwise body must have len readable bytes. out and count must not be NULL.
 * On return *out is NULL or a malloc'ed array of *count records: the caller
 * releases each counted record and then the array with free(), also when *count is 0.
 * Status codes and texts:
 *   NULL body                -> TQMOVIE_ERR_EMPTY, "empty body"
 *   not JSON (or empty)      -> TQMOVIE_ERR_PARSE, "yyjson parse failed"
 *   null root                -> TQMOVIE_ERR_EMPTY, no text
 *   array root               -> TQMOVIE_OK with the kept records, or TQMOVIE_ERR_EMPTY
 *                               (array handed out, count 0)
 *   other root, expect_array -> TQMOVIE_ERR_PARSE, "expected JSON array"
 *   scalar root, !expect     -> TQMOVIE_ERR_PARSE, "unexpected JSON root type"
 *   object root, !expect     -> one record; TQMOVIE_ERR_EMPTY if it has neither
 *                               imdb_id nor title
 *   out of memory            -> TQMOVIE_ERR_NOMEM (or TQMOVIE_ERR_PARSE with
 *                               "basic object parse failed"/"detail object parse failed"
 *                               while decoding an object root)
 * ------------------------------------------------------------------------------ */

/* Decode one object into *out (out must not be NULL; reset first). 0, or -1 for a NULL
   or non-object value or when memory ran out (out then holds what was decoded;
   release it). */
TQMOVIE_API int32_t tq_parse_basic_obj(const struct yyjson_val *obj, tq_basic *out);
TQMOVIE_API int32_t tq_parse_basic_doc(const char *body, size_t len, tq_basic **out, size_t *count,
                                       int32_t expect_array);
TQMOVIE_API int32_t tq_parse_detail_obj(const struct yyjson_val *obj, tq_detail *out, uint32_t sections);
TQMOVIE_API int32_t tq_parse_detail_doc(const char *body, size_t len, tq_detail **out, size_t *count,
                                        int32_t expect_array, uint32_t sections);
/* Translations: array root -> one set per object element (TQMOVIE_OK, or
   TQMOVIE_ERR_EMPTY without object elements); object root -> one zero-filled set,
   count 0, TQMOVIE_ERR_EMPTY; scalar root -> TQMOVIE_ERR_PARSE,
   "expected translations array". */
TQMOVIE_API int32_t tq_parse_trans_doc(const char *body, size_t len, tq_trans **out, size_t *count);

/* ---------------------------------------------------------------------------------
 * 9. Lookups
 *
 * Every lookup fills unset defaults, empties the error text and sets the HTTP status
 * to 0. The record lookups also empty the result store first; the probe leaves it.
 * Common statuses: TQMOVIE_ERR_ARG ("imdb_id required" / "ids required"),
 * TQMOVIE_ERR_NO_IO ("no IO backend set"), TQMOVIE_ERR_NOMEM, and the dispatch's
 * TQMOVIE_ERR_TRANSPORT / TQMOVIE_ERR_HTTP.
 * ------------------------------------------------------------------------------ */

/* GET "<host>/api/AAA/IsMovie?imdbId=<id>". A NULL or empty imdb_id gives TQMOVIE_ERR_ARG;
   is_movie may be NULL. *is_movie (if not NULL) is 1 when the body
   starts (after spaces, tabs, CR, LF) with "true", else 0. A body starting with neither
   "true" nor "false" gives TQMOVIE_ERR_PARSE, "unexpected IsMovie body"; no body gives
   TQMOVIE_ERR_EMPTY, "empty body". */
TQMOVIE_API int32_t tqmovie_is_movie(const char *imdb_id, int32_t *is_movie);

/* One title's basic / detail record, answered from a fresh cache entry when there is
   one (no request; HTTP status stays 0), else fetched with
   GET "<host>/api/AAA/GetMovieBasic?imdbId=<id>&language=<lang>" (language NULL or ""
   means "en-US"). A NULL or empty imdb_id gives TQMOVIE_ERR_ARG, "imdb_id required".
   Only the first record of an answer is decoded and kept, and it is cached only when
   it carries the id asked for (compared exactly).
   On TQMOVIE_OK the store holds exactly one record at index 0; after any other status
   it is empty. sections 0 means TQMOVIE_DETAIL_ALL. Further statuses: the decoders'. */
TQMOVIE_API int32_t tqmovie_get_basic(const char *imdb_id, const char *language);
TQMOVIE_API int32_t tqmovie_get_detail(const char *imdb_id, const char *language, uint32_t sections);

/* Batch lookups: ids are POSTed comma-joined as text/plain, at most the batch ceiling
   per request for basics and details, all in one request for translations (part1 NULL
   means "zh", part2 NULL means "CN"). NULL entries are left out of the body but count
   towards their chunk. Records are kept in the order the service sends them and every
   basic and detail record is cached; the cache is never read. The first failing request
   ends the call and earlier chunks' records stay in the store. A null or empty answer
   adds nothing. A NULL ids array or count 0 gives TQMOVIE_ERR_ARG, "ids required"; an
   id holding a comma, white space or a control byte is refused before anything is sent
   with TQMOVIE_ERR_ARG, "ids[3] contains a comma" (or "white space", "a control
   byte"). An answer holds at most 4 records per id asked plus 16 per request: more
   are never built. A record is cached only under an id its request asked for.
   `unused` is never read and may be NULL. */
TQMOVIE_API int32_t tqmovie_get_basics(const char *const *ids, size_t count);
TQMOVIE_API int32_t tqmovie_get_details(const char *const *ids, size_t count, const char *unused, int32_t sections);
TQMOVIE_API int32_t tqmovie_get_translations(const char *const *ids, size_t count, const char *part1,
                                             const char *part2);

/* Most ids per basic or detail request; 0 sets (and reads as) 24. No upper bound.
   Not emptied by tqmovie_cache_clear or tqmovie_shutdown. */
TQMOVIE_API void tqmovie_set_batch_ceiling(uint64_t n);
TQMOVIE_API uint64_t tqmovie_batch_ceiling(void);

/* ---------------------------------------------------------------------------------
 * 10. Result getters
 *
 * Never fail, never allocate, never touch the error text. An index out of range (or
 * negative) returns the fixed value noted: NULL for texts, 0 for counts, ids, picture
 * width and height; -1 for years, durations, runtimes and TV flags; a quiet NaN with
 * the sign bit clear for ratings. Counts are the low 32 bits of the stored count.
 * Texts point into the store: valid until the next lookup or tqmovie_shutdown.
 * ------------------------------------------------------------------------------ */

TQMOVIE_API int32_t tqmovie_basic_count(void);
TQMOVIE_API const char *tqmovie_basic_imdb_id(int32_t i);
TQMOVIE_API const char *tqmovie_basic_title(int32_t i);
TQMOVIE_API const char *tqmovie_basic_tagline(int32_t i);
TQMOVIE_API const char *tqmovie_basic_plot(int32_t i);
TQMOVIE_API const char *tqmovie_basic_poster_url(int32_t i);
TQMOVIE_API const char *tqmovie_basic_picture_url(int32_t i);
TQMOVIE_API int32_t tqmovie_basic_id(int32_t i);       /* out of range: 0 */
TQMOVIE_API int32_t tqmovie_basic_year(int32_t i);     /* out of range: -1 */
TQMOVIE_API int32_t tqmovie_basic_duration(int32_t i); /* out of range: -1 */
TQMOVIE_API int32_t tqmovie_basic_is_tv(int32_t i);    /* out of range: -1 */
TQMOVIE_API int32_t tqmovie_basic_directors_count(int32_t i);
TQMOVIE_API const char *tqmovie_basic_director(int32_t i, int32_t j);
TQMOVIE_API int32_t tqmovie_basic_genres_count(int32_t i);
TQMOVIE_API const char *tqmovie_basic_genre(int32_t i, int32_t j);
TQMOVIE_API int32_t tqmovie_basic_ratings_count(int32_t i);
TQMOVIE_API const char *tqmovie_basic_rating_source(int32_t i, int32_t j);
TQMOVIE_API double tqmovie_basic_rating_value(int32_t i, int32_t j); /* out of range: NaN */

TQMOVIE_API int32_t tqmovie_detail_count(void);
TQMOVIE_API const char *tqmovie_detail_imdb_id(int32_t i);
TQMOVIE_API const char *tqmovie_detail_title(int32_t i);
TQMOVIE_API const char *tqmovie_detail_original_title(int32_t i);
TQMOVIE_API const char *tqmovie_detail_tagline(int32_t i);
TQMOVIE_API const char *tqmovie_detail_plot(int32_t i);
TQMOVIE_API const char *tqmovie_detail_poster_url(int32_t i);
TQMOVIE_API const char *tqmovie_detail_picture_url(int32_t i);
TQMOVIE_API const char *tqmovie_detail_title_type(int32_t i);
TQMOVIE_API const char *tqmovie_detail_genres(int32_t i);
TQMOVIE_API const char *tqmovie_detail_directors(int32_t i);
TQMOVIE_API const char *tqmovie_detail_trailer_url(int32_t i);
TQMOVIE_API const char *tqmovie_detail_extension1(int32_t i);
TQMOVIE_API const char *tqmovie_detail_logo_base64(int32_t i); /* as received, not decoded */
TQMOVIE_API int32_t tqmovie_detail_id(int32_t i);              /* out of range: 0 */
TQMOVIE_API int32_t tqmovie_detail_start_year(int32_t i);      /* out of range: -1 */
TQMOVIE_API int32_t tqmovie_detail_end_year(int32_t i);        /* out of range: -1 */
TQMOVIE_API int32_t tqmovie_detail_runtime(int32_t i);         /* out of range: -1 */
TQMOVIE_API int32_t tqmovie_detail_is_tv(int32_t i);           /* out of range: -1 */
TQMOVIE_API double tqmovie_detail_imdb_rating(int32_t i);      /* out of range: NaN */
TQMOVIE_API int32_t tqmovie_detail_cast_count(int32_t i);
TQMOVIE_API const char *tqmovie_detail_cast_name(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_cast_id(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_cast_poster(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_cast_role(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_cast_birthday(int32_t i, int32_t j);
TQMOVIE_API int32_t tqmovie_detail_picture_count(int32_t i);
TQMOVIE_API const char *tqmovie_detail_picture_item_url(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_picture_item_lang(int32_t i, int32_t j);
TQMOVIE_API int32_t tqmovie_detail_picture_item_w(int32_t i, int32_t j); /* out of range: 0 */
TQMOVIE_API int32_t tqmovie_detail_picture_item_h(int32_t i, int32_t j); /* out of range: 0 */
TQMOVIE_API int32_t tqmovie_detail_provider_count(int32_t i);
TQMOVIE_API const char *tqmovie_detail_provider_name(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_provider_country(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_provider_type(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_provider_logo(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_provider_id(int32_t i, int32_t j);
TQMOVIE_API int32_t tqmovie_detail_provider_priority(int32_t i, int32_t j); /* out of range: 0 */
TQMOVIE_API int32_t tqmovie_detail_video_count(int32_t i);
TQMOVIE_API const char *tqmovie_detail_video_name(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_video_key(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_video_site(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_video_type(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_video_id(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_detail_video_lang(int32_t i, int32_t j);   /* ISO 639-1 */
TQMOVIE_API const char *tqmovie_detail_video_region(int32_t i, int32_t j); /* ISO 3166-1 */
TQMOVIE_API int32_t tqmovie_detail_video_size(int32_t i, int32_t j);       /* out of range: 0 */
TQMOVIE_API int32_t tqmovie_detail_related_count(int32_t i);
TQMOVIE_API const char *tqmovie_detail_related_id(int32_t i, int32_t j);

TQMOVIE_API int32_t tqmovie_trans_count(void);
TQMOVIE_API const char *tqmovie_trans_imdb_id(int32_t i);
TQMOVIE_API int32_t tqmovie_trans_items_count(int32_t i);
TQMOVIE_API const char *tqmovie_trans_item_title(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_trans_item_plot(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_trans_item_tagline(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_trans_item_lang(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_trans_item_region(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_trans_item_directors(int32_t i, int32_t j);
TQMOVIE_API const char *tqmovie_trans_item_actors(int32_t i, int32_t j);

/* ---------------------------------------------------------------------------------
 * 11. JSON export
 *
 * One stored record as a compact JSON object text, or NULL when the index is out of
 * range or memory ran out (no error text either way). The text is the host's: release
 * it with free(); it stays valid after later lookups.
 * ------------------------------------------------------------------------------ */

TQMOVIE_API char *tqmovie_basic_to_json(int32_t index);
TQMOVIE_API char *tqmovie_detail_to_json(int32_t index);

/* The complete form: every field and list of a stored basic record, detail record or
   translation set as one JSON object in the service's own member names and shapes, so
   that the text, wrapped in "[" and "]", decodes back through tq_parse_*_doc into an
   equal record. NULL texts are written null; numbers at their empty value (0 for ids
   and sizes, -1 for years, runtimes and the TV flag, NaN for the rating) are left out;
   reals always carry a fraction or an exponent; every string is escaped so that the
   text is valid JSON whatever bytes the record holds (C1 controls as \u0080 ...,
   bytes that are not UTF-8 as U+FFFD). Two things do not read back: a rating whose
   value is not finite reads back as 0, and a record with neither id nor title is
   dropped by the decoders. NULL when the index is out of range or memory ran out; the
   text is the host's, released with free(). */
TQMOVIE_API char *tqmovie_basic_to_json_full(int32_t index);
TQMOVIE_API char *tqmovie_detail_to_json_full(int32_t index);
TQMOVIE_API char *tqmovie_trans_to_json(int32_t index);

/* ---------------------------------------------------------------------------------
 * 12. Record cache
 *
 * Per-title basic and detail records, each with the time it was stored. A record is
 * fresh while its age is at most its lifetime (a lifetime of 0 or less never expires).
 * Keys compare exactly (case-sensitive). Nothing here reports an error. Each client
 * has its own cache. A single-title lookup is answered from the cache only by a fresh
 * record fetched in the same language (NULL, "" and "en-US" are one; records stored
 * by a batch or by tq_cache_put_* count as "en-US") and, for a detail record, holding
 * every section asked for; otherwise it asks the service and the answer replaces the
 * cached record. Finding a title costs the same however many the cache holds.
 * ------------------------------------------------------------------------------ */

/* The slot holding imdb_id, or NULL (also for a NULL imdb_id). Points into the current client's cache:
   valid until the next store that adds a slot (any lookup may store), invalidation,
   clear or tqmovie_shutdown. */
TQMOVIE_API tq_cache_entry *tq_cache_find(const char *imdb_id);
/* Store deep copies filed under the record's own imdb_id (a NULL record or a NULL id
   is not stored). The record stays the caller's; it may be a record of the cache
   itself. Out of memory: the title holds no record of that kind afterwards. */
TQMOVIE_API void tq_cache_put_basic(const tq_basic *rec);
TQMOVIE_API void tq_cache_put_detail(const tq_detail *rec);
/* 1 when a fresh record was deep-copied into *out (the caller releases it), else 0
   with *out untouched. A NULL imdb_id or out gives 0. sections 0 means
   TQMOVIE_DETAIL_ALL. */
TQMOVIE_API int32_t tq_cache_get_basic(const char *imdb_id, tq_basic *out);
TQMOVIE_API int32_t tq_cache_get_detail(const char *imdb_id, tq_detail *out, int32_t sections);

/* 1 when a slot for imdb_id exists (even holding only stale records), else 0; a NULL
   imdb_id gives 0. The flags (each may be NULL; set to 0 first) tell whether a fresh
   basic / detail record is held. */
TQMOVIE_API int32_t tqmovie_cache_has(const char *imdb_id, int32_t *basic_fresh, int32_t *detail_fresh);
/* Drops one title; the last slot moves into its place. NULL or a missing title does
   nothing. */
TQMOVIE_API void tqmovie_cache_invalidate(const char *imdb_id);
/* Drops every title and the table; lifetimes and batch ceiling stay. */
TQMOVIE_API void tqmovie_cache_clear(void);
/* Most titles the current client's cache may hold; 0 (the default) means no limit.
   Over the limit the least recently used title (read by a lookup or stored) leaves as
   if invalidated, at once and on every later store. */
TQMOVIE_API void tqmovie_cache_set_limit(uint64_t max_titles);
TQMOVIE_API uint64_t tqmovie_cache_limit(void);

/* The current client's cache saved to a file, and loaded back: JSON holding, per title,
   both records in their complete export form with their stamps, the languages they
   were fetched in and the detail sections held (see README).
   Saving writes a new file beside the old one (same directory, named
   "<path>.tqtmp.<pid>.<n>" and locked while written), syncs it, renames it over the
   old one and syncs the directory, so a crash leaves the old file or the new one,
   never a torn one; the next save of the same path removes the temporaries of saves
   whose process died (their lock is free), never one a live process is writing. A
   save whose file would exceed TQMOVIE_CACHE_FILE_MAX is refused and the old file
   kept: TQMOVIE_ERR_FILE, "cache file <path>: larger than the cache file limit of
   268435456 bytes: not saved".
   Loading replaces the whole cache or changes nothing: the records keep their stamps
   (they expire when they would have; a stamp later than the load counts as the
   load's time), and the size limit applies afterwards. A path that is not a regular
   file (a FIFO, a device, a directory) is refused without waiting on it.
   NULL or "" path: TQMOVIE_ERR_ARG, "path required". A file that cannot be opened,
   read or written, or that is larger than TQMOVIE_CACHE_FILE_MAX: TQMOVIE_ERR_FILE,
   "cache file <path>: <what>: <system text>". A file that is not valid JSON, not a
   cache file, of a later version or holding a bad entry (a record under another id,
   a title listed twice, a stamp or language of the wrong type): TQMOVIE_ERR_PARSE
   with a text that says which ("cache file: entry 12: a record carries another id").
   Out of memory: TQMOVIE_ERR_NOMEM (nothing changed). */
#define TQMOVIE_CACHE_FILE_MAX 268435456u /* 256 MiB */
TQMOVIE_API int32_t tqmovie_cache_save(const char *path);
TQMOVIE_API int32_t tqmovie_cache_load(const char *path);

/* Lifetimes in seconds, stored as given. Both 0 are replaced by the defaults
   (86400, 21600) at the next tqmovie_set_io, tqmovie_set_host or lookup. */
TQMOVIE_API void tqmovie_cache_set_ttl(int32_t basic_ttl, int32_t detail_ttl);

/* ---------------------------------------------------------------------------------
 * 13. Backends shipped with the library
 * ------------------------------------------------------------------------------ */

/* HTTP(S) over libcurl: one fresh easy handle per request, user agent
   "tqmovie/0.1 (tolvane)", 120-second limit for the whole transfer, redirects followed
   (at most 30, and only to http or https: no other protocol is allowed for the request
   or any redirect). Transfer failures return libcurl's error text. A body over
   TQMOVIE_HTTP_MAX_BODY fails with "response body over the limit of 268435456 bytes";
   a content type holding CR or LF with "content type contains CR or LF", and one
   holding another control byte with "content type contains a control byte", before
   anything is sent. Once a hop of a redirect chain is https, a later plain http hop
   fails with "redirect from https to http refused" before it is sent. The final response's headers are captured (section 15). Sets
   CURLOPT_NOSIGNAL (no signals for timeouts, safe in threaded hosts) and stops a
   transfer within 20 ms of tqmovie_cancel, connecting or stalled (it waits on its
   sockets in slices of 20 ms and looks for a cancel between them). Does not call
   curl_global_init.
   Every request pays for a new connection and, over https, a TLS handshake and a read
   of the CA bundle: tolvane_io_curl_pooled (section 15) keeps them. */
TQMOVIE_API tq_io tolvane_io_curl(void);

/* Answers from a directory of canned JSON files; see README for the file names. NULL
   means "canned" (relative to the working directory); "" makes every path start with
   "/". The directory is kept cut at 511 characters in one process-wide buffer that
   every fixture table shares: the directory given last wins. */
TQMOVIE_API tq_io tolvane_io_fake(const char *dir);

/* Fails every request with "stub IO: not implemented (plug in platform backend)". */
TQMOVIE_API tq_io tolvane_io_stub(void);

/* ---------------------------------------------------------------------------------
 * 14. Clients, threads, cancellation and progress
 *
 * A client holds everything g_tq holds (backend, base URL, last error, HTTP status,
 * response headers, result store, cache, lifetimes, batch ceiling) plus the progress
 * callback, and starts empty, as g_tq is at load. Every call above acts on the
 * calling thread's current client: the one it made current with tqmovie_use, else
 * the global state g_tq. So:
 *   - g_tq is for one thread at a time, as it always was.
 *   - Any number of threads may run lookups, read getters, export and use the cache
 *     at once, each with its own current client, without locks in the host. A client
 *     may be used by several threads in turn, never by two at once.
 *   - Texts a getter returns belong to the client whose store they come from and stay
 *     valid until that client's next lookup, tqmovie_shutdown or tqmovie_client_free.
 *   - Caches are per client: clients never see each other's records.
 *   - A backend is installed per client (tqmovie_set_io copies the table); its ctx
 *     must outlive every client it is installed on. During a request a backend may
 *     call tqmovie_io_cancelled and tqmovie_io_header (section 15) with the client it
 *     was installed on, the text helpers and tq_set_err; it must not start a lookup on
 *     that client.
 *   - Shared by all clients: the fixture backend's one directory buffer (build fixture
 *     tables before starting threads) and libcurl's global set-up, which libcurl does
 *     safely on first use.
 * ------------------------------------------------------------------------------ */

/* An opaque client. */
typedef struct tqmovie_client tqmovie_client;

/* A new, empty client: no backend, defaults filled by its first configuring call or
   lookup. NULL when memory ran out. Release it with tqmovie_client_free. */
TQMOVIE_API tqmovie_client *tqmovie_client_new(void);

/* Releases everything the client holds (store, cache, texts) except its backend,
   which stays the host's (free a backend you built after the clients that use it).
   Every text a getter returned for it becomes invalid. NULL does nothing. A free from
   inside the client's own running operation (its progress callback, its backend's
   entry, a retry wait's report) is refused and does nothing: free it after the call
   returns. A client must not be freed while another thread uses it (undefined); if it
   is current on the calling thread, that thread goes back to the global state. */
TQMOVIE_API void tqmovie_client_free(tqmovie_client *c);

/* Makes c the calling thread's current client (NULL: the global state g_tq) and
   returns the previous one (NULL for the global state). Never fails. */
TQMOVIE_API tqmovie_client *tqmovie_use(tqmovie_client *c);

/* The calling thread's current client; NULL means the global state g_tq. */
TQMOVIE_API tqmovie_client *tqmovie_current(void);

/* Ends the operation running on client c (NULL: the global state): a lock-free
   atomic store, safe from any thread and from a signal handler. The operation (probe,
   lookup or batch, from its entry to its return) stops at its next check: the HTTP
   backends stop the transfer in progress within 20 ms, a batch stops before
   its next chunk. It returns TQMOVIE_ERR_CANCELLED with the text "cancelled"; records
   of chunks completed before stay in the store. A cancel made while no operation runs
   on c is dropped. */
TQMOVIE_API void tqmovie_cancel(tqmovie_client *c);

/* For a backend during its request: 1 when the operation of client c (NULL: the
   global state) has been cancelled or has passed its deadline, so the backend should
   give up and return non-zero; else 0. Meaningful while that client's request runs. */
TQMOVIE_API int32_t tqmovie_io_cancelled(tqmovie_client *c);

/* Progress of a lookup: after every chunk of a batch (the last included; translations
   report as one chunk), before every wait for another attempt (retries, below), and
   before a request waits for the process's request budget (tqmovie_set_rate_limit).
   Callers must ignore kinds they do not know: more may come. Read a field only when
   size covers it. */
#define TQMOVIE_PROGRESS_CHUNK_DONE 1
#define TQMOVIE_PROGRESS_RETRY_WAIT 2
#define TQMOVIE_PROGRESS_RATE_WAIT 3
typedef struct tqmovie_progress {
    size_t size;       /* sizeof(tqmovie_progress) as the library knows it */
    int32_t kind;      /* TQMOVIE_PROGRESS_CHUNK_DONE, _RETRY_WAIT or _RATE_WAIT */
    int32_t status;    /* the chunk's status (TQMOVIE_OK, or what ends the batch); for a
                          wait, the failed attempt's (tqmovie_last_error holds its text) */
    uint64_t done;     /* ids done (this chunk included) */
    uint64_t total;    /* ids in all (1 for a single title) */
    uint32_t wait_ms;  /* the wait before the next attempt (or for a token of the
                          budget); 0 for a chunk */
    int32_t http_code; /* the HTTP status of the last attempt, 0 without one */
} tqmovie_progress;

/* Called on the lookup's thread. Inside it the host may read getters (the store holds
   the chunks so far) and exports and call tqmovie_cancel; starting another lookup on
   the same client returns TQMOVIE_ERR_ARG, "a lookup is already running on this
   client"; tqmovie_client_free of that client is refused. A non-zero return cancels
   like tqmovie_cancel (after the last chunk it is ignored). event is valid during the
   call only. */
typedef int (*tqmovie_progress_fn)(const tqmovie_progress *event, void *user);

/* Sets the current client's progress callback (NULL: none) and the pointer passed
   back to it as user. */
TQMOVIE_API void tqmovie_set_progress(tqmovie_progress_fn fn, void *user);

/* Retries, per client (the default is none). With retries > 0 a request that fails is
   tried again, at most `retries` times:
     - after an HTTP 429, 502, 503 or 504: after the answer's Retry-After (seconds, or an
       HTTP date; one in the past means at once) when it has one and it is at most
       max_wait_ms; a longer one ends the call at once with TQMOVIE_ERR_HTTP; without
       the header after a backoff: a random wait between 0 and 500 ms doubled per
       attempt, at most max_wait_ms;
     - after a transport failure the backend marked as worth another attempt: the
       shipped HTTP backends mark a connect that failed and a timeout; a host's backend
       marks its own with tqmovie_io_retryable during its request.
   Every wait is reported to the progress callback (TQMOVIE_PROGRESS_RETRY_WAIT) first
   and ends early on tqmovie_cancel (TQMOVIE_ERR_CANCELLED). What the host sees is the
   last attempt's: status, text, HTTP status, headers (none when it got no answer). */
TQMOVIE_API void tqmovie_set_retry(uint32_t retries, uint32_t max_wait_ms);

/* The longest one operation of the current client may take, in ms, across its chunks,
   attempts and waits (0, the default: no limit). The transfer in progress is stopped
   when it passes, and the operation returns TQMOVIE_ERR_TRANSPORT with the text
   "deadline exceeded"; records of chunks completed before stay. A wait that would end
   after the deadline is not begun. A host's backend sees a passed deadline as
   tqmovie_io_cancelled(c) == 1. */
TQMOVIE_API void tqmovie_set_deadline(uint32_t ms);

/* Parallel batch chunks for the current client: with n > 1 and the pooled backend
   (tolvane_io_curl_pooled) installed, the chunks of one basic or detail batch go out
   up to n at a time over up to n kept-alive connections, on the calling thread (no
   thread is started). n is 1 to 64; 0 restores the default 1 (one chunk after the
   other); more than 64 gives TQMOVIE_ERR_ARG, "parallel must be from 0 to 64". Other
   backends (tolvane_io_curl, the fixture and stub backends, a host's own) stay
   sequential. The result is what the sequential run gives: records are stored and
   cached in chunk order, progress events come in chunk order (a chunk that ends early
   waits for its turn; its retry and budget waits are reported with it), and the
   status, text, HTTP status and headers are those of the last chunk in order that ran,
   or of the first failing one. When a chunk fails, the chunks after it are dropped
   and none of their records is stored or cached, though their requests may have been
   sent. Each chunk retries on its own without holding up the others; a cancel or the
   deadline stops them all. */
TQMOVIE_API int32_t tqmovie_set_parallel(uint32_t n);

/* One request budget for the whole process, shared by every client (the one setting
   that is process-wide, since services count requests by address): a token bucket of
   per_second tokens a second holding at most burst (0: 1). Every request sent through
   a libcurl backend or a host's backend takes a token first (the fixture and stub
   backends do not); a request that must wait reports TQMOVIE_PROGRESS_RATE_WAIT with
   the wait first, and the wait counts against the deadline and ends on a cancel.
   per_second 0 (the default) turns the budget off. A negative, NaN or larger than
   1000000 rate gives TQMOVIE_ERR_ARG, "rate limit must be from 0 to 1000000 requests a
   second", and changes nothing. Safe from any thread. */
TQMOVIE_API int32_t tqmovie_set_rate_limit(double per_second, uint32_t burst);

/* For a host's backend during get/post: marks the failure it is about to report as
   worth another attempt (a connection refused, a timeout), for client c (NULL: the
   global state), the client it was installed on. Ignored outside that client's
   request. */
TQMOVIE_API void tqmovie_io_retryable(tqmovie_client *c);

/* ---------------------------------------------------------------------------------
 * 15. Pooled HTTP backend and response headers
 *
 * The pooled backend keeps one libcurl easy handle for its whole life: its connection
 * cache, TLS session data and CA store serve every request after the first, so a
 * lookup over an open connection costs one exchange instead of a connect, a TLS
 * handshake and a read of the CA bundle. It is what a host that cares about speed
 * installs. Per request it behaves as tolvane_io_curl (user agent, protocols, libcurl's
 * error texts, the body limit and its text, the content-type check, cancel within
 * 20 ms, CURLOPT_NOSIGNAL), and further:
 *   - the options below (time limits, body limit, redirects, proxy, CA, user agent);
 *   - once a hop of a redirect chain is https, no later hop may be plain http (an
 *     https URL never leads to http, nor does http -> https -> http): such a transfer
 *     fails with "redirect from https to http refused" before the plain request goes out;
 *   - compressed answers are asked for and decoded (unless turned off); the body
 *     limit counts the decoded bytes;
 *   - a POST goes out at once, never waiting for a "100 Continue" that a server may
 *     never send.
 * A pooled backend serves one client at a time: one easy handle carries one transfer.
 * A request made while another runs on the same backend fails at once with "pooled
 * HTTP backend busy: it serves one request at a time". Give every thread's client
 * its own pooled backend.
 *
 * Response headers. The HTTP backends store the headers of the final response
 * (after redirects; no 1xx or proxy CONNECT answer) into the client that made the
 * request (even when a host backend wrapping them made another client current), within the table's limits: the first 32 headers; a name of 1 to 63 visible
 * characters; a value, without its surrounding spaces and tabs, cut at 255 characters.
 * A header whose name or value holds a control byte (CR, LF, a tab inside the value,
 * any byte below 0x20 or 0x7F) is left out, so no stored text can carry a line break.
 * A transfer that fails leaves the table empty.
 * ------------------------------------------------------------------------------ */

/* Options of a pooled backend. Versioned by size: fill the struct with
   tqmovie_http_options_init, then change the fields wanted. A field left 0 (or NULL)
   takes its default, so a zeroed struct whose size is set means every default too.
   Fields are only ever added at the end; size tells the library which ones the caller
   knows, and the others take their defaults. */
typedef struct tqmovie_http_options {
    size_t size;                /* sizeof(tqmovie_http_options) */
    int64_t connect_timeout_ms; /* to set up a connection; 0 or less: 10000 */
    int64_t timeout_ms;         /* for the whole transfer; 0 or less: 120000 */
    int64_t low_speed_bytes;    /* abort a transfer slower than this many bytes per second */
    int64_t low_speed_seconds;  /* for this many seconds; either of the two 0: off (default) */
    uint64_t max_body_bytes;    /* most body bytes; 0: TQMOVIE_HTTP_MAX_BODY; UINT64_MAX: none */
    int32_t max_redirects;      /* most redirects followed; 0: 30; -1 (or less): none followed */
    int32_t no_compression;     /* non-zero: ask for uncompressed answers only; 0: compressed */
    const char *proxy;          /* proxy URL; NULL: libcurl reads http_proxy, https_proxy,
                                   no_proxy ...; "": no proxy, whatever the environment says */
    const char *ca_file;        /* PEM file of the CAs to trust; NULL: the system's */
    const char *ca_path;        /* directory of hashed CA certificates; NULL: the system's */
    const char *user_agent;     /* NULL: "tqmovie/0.1 (tolvane)" */
} tqmovie_http_options;

/* Fills the first `size` bytes of *o (pass sizeof *o: a host built against an older
   header has a shorter struct) with every default, size set to what was filled (texts
   NULL, which reads as their default). NULL, or a size smaller than the size field,
   does nothing. TQMOVIE_HTTP_OPTIONS_INIT gives the same as an initialiser. */
TQMOVIE_API void tqmovie_http_options_init(tqmovie_http_options *o, size_t size);
#define TQMOVIE_HTTP_OPTIONS_INIT                                                                                      \
  { sizeof(tqmovie_http_options), 0, 0, 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL }

/* A pooled HTTP(S) backend with the given options (NULL: every default). The options
   are read during the call and their texts copied: they need not outlive it. The
   table's ctx holds the easy handle and belongs to the host: install the table on one
   client at a time, and release it with tolvane_io_curl_pooled_free once no client has
   it installed (tqmovie_set_io(NULL) or another backend, tqmovie_shutdown, or
   tqmovie_client_free). When memory ran out or libcurl refused an option, every field
   of the table is NULL: installing it makes every request fail with
   TQMOVIE_ERR_NO_IO ("no IO backend set"). Wrong texts (a missing CA file, a bad proxy
   URL) show at the first request, as libcurl's error text. A user agent or proxy
   holding a control byte (CR, LF, any byte below 0x20 or 0x7F) would put bytes of its
   own on the wire: such a backend is made, but every request fails with
   TQMOVIE_ERR_TRANSPORT, "transport: user agent contains a control byte" (or "proxy
   ..."), nothing sent. Does not call
   curl_global_init. */
TQMOVIE_API tq_io tolvane_io_curl_pooled(const tqmovie_http_options *options);

/* Releases the backend of a table tolvane_io_curl_pooled returned (its connections
   close) and zeroes the table. NULL, a zeroed table or a table of another backend is
   left alone. Every copy of the table (the one a client holds included) is invalid
   afterwards. */
TQMOVIE_API void tolvane_io_curl_pooled_free(tq_io *io);

/* For a host's backend during get/post: reports one header of the final response for
   client c (NULL: the global state), the client the backend was installed on. Stored
   within the table's limits above; call it again for every header, in the order
   received. Heard only while the library waits in that client's get or post entry;
   ignored otherwise (also when the table is full). Returns 1 when the header was
   stored, 0 when it was left out. NULL name or value gives 0. The texts are copied. */
TQMOVIE_API int32_t tqmovie_io_header(tqmovie_client *c, const char *name, const char *value);

/* ---------------------------------------------------------------------------------
 * 16. The store: the cache on disk, shared, and answers when the service fails
 *
 * A store is a SQLite file (WAL journal) that keeps every record a client's memory
 * cache takes, as its complete JSON export, keyed by the service's base URL, the
 * title, the record kind and the language, with its sections and fetch time. It sits
 * behind the memory cache of every client it is set on: records are written through
 * (a batch chunk's in one transaction), a memory miss reads through and the hit is
 * adopted into the memory cache, and the lifetimes apply to store hits as to memory
 * hits. tqmovie_cache_invalidate reaches the store; tqmovie_cache_clear and the memory
 * cache's own evictions do not (tqmovie_store_clear empties a store). With a store
 * set, a basic or detail batch first answers the ids the memory cache or the store
 * holds fresh (in the batch's language, "en-US", and a detail record with every
 * section asked for) and asks the service only for the others, in chunks as usual
 * (the progress events count those); a batch all of whose ids are held sends nothing.
 * Several clients,
 * threads and processes may use one file at once: transactions never interleave, and
 * writers wait for each other (busy timeout 10 s) rather than fail. A store that
 * fails while a lookup runs costs that lookup nothing: the record is only not kept
 * (or not found) there. The store calls report errors as TQMOVIE_ERR_FILE with
 * "store <path>: <what>" in the current client's error text.
 * ------------------------------------------------------------------------------ */

typedef struct tqmovie_store tqmovie_store;

#define TQMOVIE_STORE_FAIL 0       /* a file that is not a store: the open fails (default) */
#define TQMOVIE_STORE_MOVE_ASIDE 1 /* ... is renamed "<path>.bad" and a new store started */

/* Options of a store. Versioned by size like tqmovie_http_options: fill with
   tqmovie_store_options_init, then change the fields wanted. */
typedef struct tqmovie_store_options {
    size_t size;         /* sizeof(tqmovie_store_options) */
    uint64_t max_titles; /* most titles kept; the titles fetched longest ago leave first
                            (applied every 64 writes); 0: no limit */
    int32_t read_only;   /* non-zero: never written (a read never writes either) */
    int32_t on_bad_file; /* TQMOVIE_STORE_FAIL or TQMOVIE_STORE_MOVE_ASIDE */
} tqmovie_store_options;

/* Fills the first `size` bytes of *o with the defaults (no limit, read-write, fail on a
   bad file), size set to what was filled. NULL or a too small size does nothing. */
TQMOVIE_API void tqmovie_store_options_init(tqmovie_store_options *o, size_t size);

/* Opens (creating it when missing, unless read-only) the store at path; options NULL:
   every default. NULL on failure, with the current client's error text: NULL or ""
   path ("path required"); a file that cannot be opened, that is not a store ("store
   <path>: not a tqmovie store", "file is not a database") unless moved aside, a store
   of a newer schema ("schema version 2 is newer than this library reads (1)"), a new
   file opened read-only. Release it with tqmovie_store_close. */
TQMOVIE_API tqmovie_store *tqmovie_store_open(const char *path, const tqmovie_store_options *options);

/* Closes a store. Refused while a client still has it set: TQMOVIE_ERR_ARG, "store in
   use by a client (tqmovie_set_store(NULL) first)". NULL does nothing. */
TQMOVIE_API int32_t tqmovie_store_close(tqmovie_store *s);

/* Sets the store behind the current client's cache (NULL detaches it). The store must
   stay open while set; tqmovie_client_free detaches it. */
TQMOVIE_API int32_t tqmovie_set_store(tqmovie_store *s);

/* Empties a store (every service's records). TQMOVIE_ERR_ARG for NULL; a read-only
   store gives TQMOVIE_ERR_FILE. */
TQMOVIE_API int32_t tqmovie_store_clear(tqmovie_store *s);
/* The number of titles a store holds (every service); *titles 0 on failure. */
TQMOVIE_API int32_t tqmovie_store_count(tqmovie_store *s, uint64_t *titles);
/* Rebuilds the file to its smallest size. */
TQMOVIE_API int32_t tqmovie_store_vacuum(tqmovie_store *s);

/* Every record the current client's store holds for its service, adopted into its
   memory cache with its stamp (the memory cache's size limit applies), and the
   current client's memory cache written to its store: with tqmovie_cache_load and
   tqmovie_cache_save, how titles move between a cache file and a store.
   TQMOVIE_ERR_ARG, "no store set", without a store. */
TQMOVIE_API int32_t tqmovie_store_read_all(void);
TQMOVIE_API int32_t tqmovie_store_write_all(void);

/* Answers when the service fails (per client; 0, the default: off). When a
   single-title lookup's request fails (a transport failure, HTTP 429 or 5xx after any
   retries, the deadline) and the memory cache or the store holds the record for that
   title, language and sections, expired by no more than max_stale_seconds, the lookup
   answers with it: TQMOVIE_OK, and tqmovie_last_stale() gives its age past its
   lifetime in seconds. A batch chunk that fails is answered the same way when every
   id of it is held; otherwise it fails as it would. Negative: TQMOVIE_ERR_ARG. */
TQMOVIE_API int32_t tqmovie_set_stale_if_error(int64_t max_stale_seconds);
/* After the current client's last lookup: 0 after a fresh answer (service or cache),
   the age past its lifetime in seconds of a stale answer, -1 after a failure. */
TQMOVIE_API int64_t tqmovie_last_stale(void);

/* Offline (per client; 0, the default: off): no request is sent. Single-title lookups
   answer from the memory cache or the store whatever the age (tqmovie_last_stale tells
   how stale); batches answer the ids held. An id held nowhere ends the operation with
   TQMOVIE_ERR_TRANSPORT and the text "offline: not cached" (a batch: "offline: N ids
   not cached"); the probe and translations, which no cache holds, fail the same way. */
TQMOVIE_API int32_t tqmovie_set_offline(int32_t on);

/* Refresh (per client; 0, the default: off): single-title lookups ask the service
   whatever the memory cache or the store holds, and the answers are cached as usual
   (the tool's --refresh). Offline wins over refresh. */
TQMOVIE_API int32_t tqmovie_set_refresh(int32_t on);

/* ---------------------------------------------------------------------------------
 * 17. From files to titles
 * ------------------------------------------------------------------------------ */

/* The IMDb id a text names: a file or folder name, or an .nfo file's contents. Writes
   the id NUL-terminated into out (lower-case "tt" and its digits) and returns its
   length; 0 when the text names none (out then holds ""); -1 for a bad argument (text
   NULL with len > 0, out NULL, out_size < 16). No allocation, no locale, no I/O; safe
   from any thread.
   Texts are bytes (UTF-8 or not); a leading UTF-8 byte-order mark is skipped and a
   UTF-16 text (byte-order mark FF FE or FE FF) is read as its ASCII subset. An id is
   "tt" (any letter case) and 7 to 10 ASCII digits, with no ASCII letter or digit just
   before or after it ("butt1234567" and "tt1234567x" name nothing; an id inside a URL
   path does). The text is read in this order, the first form that matches winning:
     a. an .nfo unique id: <uniqueid ...> with the attribute type="imdb" (either quote
        style, other attributes in any order) holding the id as its element text;
        then the elements <imdbid>, <imdb_id>, <imdb> and <id> holding an id (tag
        names in any letter case, spaces and line breaks around the text allowed);
     b. a tag in matching brackets [..], {..} or (..): imdbid-ID, imdbid=ID, imdb-ID,
        imdb=ID or imdbid ID (other tag names, such as imdbid1= or tmdbid=, are other
        tags; brackets that do not match make no tag);
     c. an address imdb.com/title/ID (any scheme or subdomain, or none);
     d. the first bare id anywhere in the text.
   A form holding an id that breaks the rules (6 or 11 digits) is skipped and the
   search goes on. */
TQMOVIE_API int32_t tqmovie_id_in_text(const char *text, size_t len, char *out, size_t out_size);

/* The id of a media file: first its .nfo sidecars (the file's name with .nfo for its
   extension, then movie.nfo in its folder, then tvshow.nfo in the parent of a season
   folder), then the file's own name, then its folder's name, then the grandparent's
   when the folder is a season, disc or disc-structure folder ("Season 1", "S01",
   "Specials", "Disc 2", "CD1", "BDMV", "VIDEO_TS", any letter case). Returns as
   tqmovie_id_in_text (-1 also for a NULL path); *source (when not NULL) tells where
   the id came from: 1 a sidecar, 2 the name, 3 a folder, 0 none. An .nfo is read only
   when it is a regular file, opened without waiting (a FIFO or device at that name is
   skipped), and only its first 1 MiB; no other I/O. A symbolic link counts as the
   file it names; the sidecars are looked up beside the path as given. */
TQMOVIE_API int32_t tqmovie_id_for_file(const char *path, char *out, size_t out_size, int32_t *source);

/* ---------------------------------------------------------------------------------
 * 18. What a lookup did: not found, missing ids, the request log, language fallback
 * ------------------------------------------------------------------------------ */

/* 1 when the current client's last lookup was a single-title lookup or a probe that
   failed because the service has no such title, else 0. "No such title" is a 404
   answer, whatever the backend: HTTP 404 from the HTTP backends, a missing fixture file
   from tolvane_io_fake (which keeps its own status and text), a host backend's status
   404 (returned as an answer or with a failure). The status and error text stay as
   they are; this says what they mean. */
TQMOVIE_API int32_t tqmovie_last_not_found(void);

/* After a basic or detail batch on the current client: the ids asked for that no
   record of the results answers, in the order asked, each once, compared as the cache
   compares ids (exactly). After a failed batch only the ids of the chunks that were
   answered are listed: an id never asked of the service is never called missing.
   Valid until the client's next lookup; 0 and NULL after any other lookup, and
   tqmovie_missing_id gives NULL out of range. */
TQMOVIE_API int32_t tqmovie_missing_count(void);
TQMOVIE_API const char *tqmovie_missing_id(int32_t i);

/* The request log. Per client: every request's attempt, as it ends, and every
   single-title answer or batch id answered from the memory cache or the store. */
#define TQMOVIE_SOURCE_SERVICE 0 /* a request to the service (the backend) */
#define TQMOVIE_SOURCE_MEMORY 1  /* the memory cache answered; nothing was sent */
#define TQMOVIE_SOURCE_STORE 2   /* the store answered; nothing was sent */
typedef struct tqmovie_log_event {
    size_t size;             /* sizeof(tqmovie_log_event) as the library knows it */
    const char *method;      /* "GET" or "POST" */
    const char *url;         /* the address asked (for a cache answer, the one a request
                                would have asked), without any user name or password */
    int32_t status;          /* TQMOVIE_OK, or the attempt's failure status */
    int32_t http_code;       /* the answer's HTTP status; 0 without one */
    uint64_t bytes_sent;     /* on the wire for the shipped HTTP backends (request line,
                                headers and body); the request body for others */
    uint64_t bytes_received; /* on the wire for the shipped HTTP backends (headers and
                                body as received); the answer's body for others */
    uint32_t ms;             /* how long the attempt took; 0 for a cache answer */
    uint32_t attempt;        /* 1 for the first attempt, 2 for the first retry, ...; 0
                                for a cache answer */
    int32_t source;          /* TQMOVIE_SOURCE_* */
    const char *imdb_id;     /* a cache answer's title; NULL for a request */
} tqmovie_log_event;
/* Called on the lookup's thread; event and its texts are valid during the call only.
   The rules of the progress callback apply inside it. Read a field only when size
   covers it. */
typedef void (*tqmovie_log_fn)(const tqmovie_log_event *event, void *user);
/* Sets the current client's log (NULL: none, the default) and the pointer passed back
   to it as user. Returns TQMOVIE_OK. */
TQMOVIE_API int32_t tqmovie_set_log(tqmovie_log_fn fn, void *user);

/* Language fallback (per client). chain: languages, comma-separated ("pt-PT,en-US"),
   tried after the lookup's own; NULL or "" for none (the default). A single basic or
   detail lookup whose record leaves a text field empty (NULL or "") fills it from the
   same title's record in the next language of the chain, fetched (or found in the
   cache) only while a field is still empty. The fields: title, tagline and plot
   (basic); title, original_title, tagline, plot, genres and directors (detail).
   Addresses, numbers and lists are never filled. The other languages' records are
   cached in a table of their own beside the cache (they never take the lookup's own
   record's place), and a fallback fetch that fails leaves the fields empty without
   failing the lookup. At most 8 languages of at most 31 bytes each (letters, digits,
   '-' and '_'); anything else: TQMOVIE_ERR_ARG, "bad language fallback: <why>", and
   the chain is unchanged. Batches are not filled. */
TQMOVIE_API int32_t tqmovie_set_language_fallback(const char *chain);
/* The language a field of result record i came from: writes it into out
   NUL-terminated and returns its length. After a lookup without fallback, or for a
   field that was not filled, that is the lookup's own language ("en-US" for none).
   field is one of the names above. -1 for an index out of range, an unknown field,
   out NULL or too small (out then holds "" when size > 0). */
TQMOVIE_API int32_t tqmovie_basic_field_language(int32_t i, const char *field, char *out, size_t size);
TQMOVIE_API int32_t tqmovie_detail_field_language(int32_t i, const char *field, char *out, size_t size);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TQMOVIE_H */
