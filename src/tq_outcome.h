// SPDX-License-Identifier: MIT
// What a lookup tells beyond its status (tqmovie_outcome.cpp): whether a single-title
// lookup met "no such title", and the ids a batch asked for that no record answers.
// Not installed.
#ifndef TQ_OUTCOME_H
#define TQ_OUTCOME_H

#include "tq_client.h"

#include <cstddef>

// Forgets what the previous lookup told (called as every lookup begins).
void tq_outcome_reset(tqmovie_client &c) noexcept;
// Notes a single-title lookup's or the probe's end with status st.
void tq_outcome_single(tqmovie_client &c, int32_t st) noexcept;
// After a basic (detail false) or detail batch over ids[0, count): lists, in order and
// once each, the ids no result record answers, leaving out those of unanswered[0, n)
// (ids whose chunks were never answered). TQMOVIE_ERR_NOMEM when the list cannot be
// built, else TQMOVIE_OK.
int32_t tq_outcome_missing(tqmovie_client &c, bool detail, const char *const *ids, size_t count,
                           const char *const *unanswered, size_t n) noexcept;
// Releases the list (the client is being freed).
void tq_outcome_free(tqmovie_client &c) noexcept;

#endif // TQ_OUTCOME_H
