// SPDX-License-Identifier: MIT
// Parallel batch chunks (tqmovie_parallel.cpp). Not installed.
#ifndef TQ_PARALLEL_H
#define TQ_PARALLEL_H

#include "tq_client.h"

#include <cstddef>

struct tq_pool_batch;

// What a batch's chunks need of the lookup that runs them.
struct tq_chunk_ops {
    void *ctx;
    // The URL a chunk of n ids is posted to (the caller's, to free), or NULL.
    char *(*url)(void *ctx, tqmovie_client &c, size_t n) noexcept;
    // Decodes a chunk's answer (body, which it takes) and adopts its records: stored,
    // and cached when asked for. The chunk's status, its text set.
    int32_t (*adopt)(void *ctx, tqmovie_client &c, const char *const *ids, size_t n, char *body) noexcept;
    // A chunk that failed with st (its text set): what it ends with after all (the
    // cache may answer for it).
    int32_t (*failed)(void *ctx, tqmovie_client &c, const char *const *ids, size_t n, int32_t st) noexcept;
};

// Runs the chunks of ceiling ids (the last shorter) over pb, n at a time, and ends pb.
// The batch's status.
int32_t tq_parallel_batch(tqmovie_client &c, tq_pool_batch *pb, size_t n, const char *const *ids, size_t count,
                          size_t ceiling, const tq_chunk_ops &ops) noexcept;

#endif // TQ_PARALLEL_H
