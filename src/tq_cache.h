// SPDX-License-Identifier: MIT
// What the lookups and the cache file ask of a client's record cache beyond the
// exported calls. Not installed.
//
// A cached record answers a single-title lookup only when it was fetched in the same
// language (NULL, "" and "en-US" are one) and, for a detail record, holds every
// section asked for; the answer is the cached record itself, to be copied at once.
// Stores say what a record was fetched with.
#ifndef TQ_CACHE_H
#define TQ_CACHE_H

#include "tq_record.h"

const tq_basic *tq_cache_answer_basic(tqmovie_client &c, const char *imdb_id, const char *language) noexcept;
const tq_detail *tq_cache_answer_detail(tqmovie_client &c, const char *imdb_id, const char *language,
                                        uint32_t sections) noexcept;
// The record of that title, language and sections of any age (memory, else the
// store), and in *past its age past its lifetime in seconds (0 while fresh); NULL when
// neither holds it.
const tq_basic *tq_cache_held_basic(tqmovie_client &c, const char *imdb_id, const char *language,
                                    int64_t *past) noexcept;
const tq_detail *tq_cache_held_detail(tqmovie_client &c, const char *imdb_id, const char *language, uint32_t sections,
                                      int64_t *past) noexcept;
void tq_cache_store_basic(tqmovie_client &c, const tq_basic *rec, const char *language) noexcept;
void tq_cache_store_detail(tqmovie_client &c, const tq_detail *rec, const char *language, uint32_t sections) noexcept;

// For the cache file: take over a heap record with its stamp (false: not stored, and
// released); what is known of slot k (a NULL language is "en-US"); whether a title
// has a slot; and swapping c's whole cache with another client's (c's size limit then
// applies).
bool tq_cache_adopt_basic(tqmovie_client &c, tq_basic *rec, const char *language, int64_t at) noexcept;
bool tq_cache_adopt_detail(tqmovie_client &c, tq_detail *rec, const char *language, uint32_t sections,
                           int64_t at) noexcept;
struct tq_cache_slot_meta {
    const char *basic_lang, *detail_lang;
    uint32_t detail_sections;
};
tq_cache_slot_meta tq_cache_meta(tqmovie_client &c, size_t k) noexcept;
bool tq_cache_holds(tqmovie_client &c, const char *imdb_id) noexcept;
void tq_cache_swap(tqmovie_client &c, tqmovie_client &other) noexcept;

// Drops every cached title of c (tqmovie_cache_clear for the current client).
void tq_cache_clear(tqmovie_client &c) noexcept;

#endif // TQ_CACHE_H
