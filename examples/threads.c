/* SPDX-License-Identifier: MIT */
/*
 * threads: one client per thread. Every thread makes a client of its own current and
 * then runs lookups, reads getters and uses the cache with no lock at all; a
 * client's results, errors, cache and progress callback are its own.
 *
 *   threads FIXTURE_DIR      (installed: PREFIX/share/tqmovie/fixtures)
 */
#define _POSIX_C_SOURCE 200809L
#include <tqmovie.h>

#include <pthread.h>
#include <stdio.h>
#include <string.h>

#define THREADS 4
#define ROUNDS 50

static const struct {
    const char *id;
    const char *title;
} titles[] = {
    {"tt0111161", "The Shawshank Redemption"},
    {"tt0068646", "The Godfather"},
    {"tt0468569", "The Dark Knight"},
    {"tt0903747", "Breaking Bad"},
    {"tt0133093", "The Matrix"},
    {"tt0944947", "Game of Thrones"},
};
#define TITLES (sizeof titles / sizeof titles[0])

struct job {
    int index;
    tq_io io;       /* shared by all clients: built before the threads start */
    int chunks;     /* progress calls seen by this thread's client */
    int mismatches; /* lookups that did not give the expected record */
};

static int on_chunk(const tqmovie_progress *event, void *user) {
    struct job *job = user;
    if (event->kind == TQMOVIE_PROGRESS_CHUNK_DONE) ++job->chunks;
    return 0; /* non-zero would cancel the batch */
}

static void *work(void *arg) {
    struct job *job = arg;
    tqmovie_client *client = tqmovie_client_new();
    const char *ids[TITLES];
    size_t k;
    int round;

    if (!client) {
        job->mismatches = -1;
        return NULL;
    }
    tqmovie_use(client); /* from here on every call of this thread acts on client */
    tqmovie_set_io(&job->io);
    tqmovie_set_progress(on_chunk, job);
    tqmovie_set_batch_ceiling(2);

    for (round = 0; round < ROUNDS; ++round) {
        /* Each thread walks the titles from its own starting point. */
        k = (size_t)(job->index + round) % TITLES;
        if (tqmovie_get_detail(titles[k].id, NULL, TQMOVIE_DETAIL_CAST) != TQMOVIE_OK ||
            strcmp(tqmovie_detail_title(0), titles[k].title) != 0)
            ++job->mismatches;
    }
    for (k = 0; k < TITLES; ++k) ids[k] = titles[k].id;
    if (tqmovie_get_details(ids, TITLES, NULL, TQMOVIE_DETAIL_CAST) != TQMOVIE_OK ||
        tqmovie_detail_count() != (int32_t)TITLES)
        ++job->mismatches;

    tqmovie_use(NULL); /* back to the global state before the client goes */
    tqmovie_client_free(client);
    return NULL;
}

int main(int argc, char **argv) {
    struct job jobs[THREADS];
    pthread_t threads[THREADS];
    tq_io io;
    int i, failed = 0;

    if (argc < 2) {
        fprintf(stderr, "usage: %s FIXTURE_DIR\n", argv[0]);
        return 64;
    }
    /* The fixture backend keeps its directory in one process-wide buffer: set it once,
       before any thread runs. */
    io = tolvane_io_fake(argv[1]);
    for (i = 0; i < THREADS; ++i) {
        jobs[i].index = i;
        jobs[i].io = io;
        jobs[i].chunks = 0;
        jobs[i].mismatches = 0;
        if (pthread_create(&threads[i], NULL, work, &jobs[i]) != 0) return 1;
    }
    for (i = 0; i < THREADS; ++i) pthread_join(threads[i], NULL);

    for (i = 0; i < THREADS; ++i) {
        printf("thread %d: %d lookups, %d batch chunks, %d mismatches\n", i, ROUNDS + 1, jobs[i].chunks,
               jobs[i].mismatches);
        /* Six ids in chunks of at most two: three progress calls. */
        if (jobs[i].mismatches != 0 || jobs[i].chunks != 3) failed = 1;
    }
    /* The global state saw none of it. */
    if (tqmovie_detail_count() != 0) failed = 1;
    puts(failed ? "threads: FAILED" : "threads: ok");
    return failed;
}
