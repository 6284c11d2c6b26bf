// SPDX-License-Identifier: MIT
// Language fallback (tqmovie_fallback.cpp): a single lookup's empty text fields filled
// from the same title's records in the chain's languages, and which language each
// field of the result came from. Not installed.
#ifndef TQ_FALLBACK_H
#define TQ_FALLBACK_H

#include "tq_record.h"

// Decoding a detail record for its top-level fields only: no section's bit.
inline constexpr uint32_t tq_sections_none = 1u << 16;

// Notes the language of the lookup whose results c now holds (NULL: a batch's,
// "en-US"); every field comes from it until a fill says otherwise.
void tq_fallback_begin(tqmovie_client &c, const char *language) noexcept;
// After a successful single lookup of id in language whose record is result 0: fills
// its empty fields from the chain's languages (held records first, then one request
// each while a field is still empty). A fetch that fails leaves the fields empty; the
// lookup's outcome stays as it was. TQMOVIE_ERR_NOMEM only when a field could not be
// copied.
int32_t tq_fallback_fill(tqmovie_client &c, bool detail, const char *id) noexcept;
// Releases c's chain and records (the client is being freed).
void tq_fallback_free(tqmovie_client &c) noexcept;

// One GET of id's record in language, decoded (a detail record without sections) into
// *out, the caller's to release with tq_release and free. Implemented by the lookups.
int32_t tq_fetch_basic(tqmovie_client &c, const char *id, const char *language, tq_basic **out) noexcept;
int32_t tq_fetch_detail(tqmovie_client &c, const char *id, const char *language, tq_detail **out) noexcept;

#endif // TQ_FALLBACK_H
