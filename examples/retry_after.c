/* SPDX-License-Identifier: MIT */
/*
 * retry_after: a host that rides out rate limits. It asks the library to try a
 * request again after HTTP 429 or 503 (tqmovie_set_retry), watches each wait through
 * its progress callback, where the refused answer's Retry-After header is still
 * readable, and bounds the whole lookup with a deadline. When the service asks for a
 * longer wait than the host allows, the library gives up at once and the host reads
 * Retry-After itself to say when to come back.
 *
 *   retry_after BASE_URL [IMDB_ID]
 *
 * Against the stand-in service refusing the first two requests:
 *   tqmovie-mock-service --port 8089 --rate-limit-first 2 --retry-after 1 &
 *   retry_after http://127.0.0.1:8089 tt0111161
 */
#include <tqmovie.h>

#include <stdio.h>
#include <string.h>

#define RETRIES 3
#define MAX_WAIT_MS 10000 /* the longest wait this host accepts */
#define DEADLINE_MS 60000 /* the whole lookup, waits included */

static int on_progress(const tqmovie_progress *event, void *user) {
    int *waits = user;
    const char *retry_after;
    if (event->kind != TQMOVIE_PROGRESS_RETRY_WAIT) return 0; /* kinds it does not know: ignored */
    retry_after = tqmovie_last_response_header("Retry-After");
    ++*waits;
    printf("waiting %u ms after HTTP %d (Retry-After: %s)\n", (unsigned)event->wait_ms, (int)event->http_code,
           retry_after ? retry_after : "none, backing off");
    fflush(stdout);
    return 0; /* non-zero would cancel the lookup */
}

int main(int argc, char **argv) {
    const char *id = argc > 2 ? argv[2] : "tt0111161";
    const char *retry_after;
    int waits = 0;
    int32_t st, http;
    tq_io io;

    if (argc < 2) {
        fprintf(stderr, "usage: %s BASE_URL [IMDB_ID]\n", argv[0]);
        return 64;
    }
    io = tolvane_io_curl_pooled(NULL); /* one connection for every attempt */
    tqmovie_set_io(&io);
    tqmovie_set_host(argv[1]);
    tqmovie_set_retry(RETRIES, MAX_WAIT_MS);
    tqmovie_set_deadline(DEADLINE_MS);
    tqmovie_set_progress(on_progress, &waits);

    st = tqmovie_get_basic(id, NULL);
    http = tqmovie_last_http_code();
    if (st == TQMOVIE_OK) {
        printf("%s (%d) after %d attempt%s\n", tqmovie_basic_title(0), (int)tqmovie_basic_year(0), waits + 1,
               waits ? "s" : "");
    } else if (st == TQMOVIE_ERR_HTTP && (http == 429 || http == 503)) {
        /* Out of attempts, or asked to wait longer than MAX_WAIT_MS: what the host
           sees is the last answer, its headers included. */
        retry_after = tqmovie_last_response_header("Retry-After");
        if (!retry_after)
            fprintf(stderr, "%s: still refused (HTTP %d), no Retry-After\n", id, (int)http);
        else if (retry_after[strspn(retry_after, "0123456789")] == '\0')
            fprintf(stderr, "%s: still refused (HTTP %d); come back in %s s\n", id, (int)http, retry_after);
        else
            fprintf(stderr, "%s: still refused (HTTP %d); come back after %s\n", id, (int)http, retry_after);
    } else {
        fprintf(stderr, "%s: status %d: %s (HTTP %d)\n", id, (int)st, tqmovie_last_error(), (int)http);
    }

    tqmovie_shutdown(); /* uninstalls the backend before it goes */
    tolvane_io_curl_pooled_free(&io);
    return st == TQMOVIE_OK ? 0 : 1;
}
