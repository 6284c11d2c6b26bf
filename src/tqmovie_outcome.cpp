// SPDX-License-Identifier: MIT
// tqmovie_outcome: what a lookup tells beyond its status: "no such title" said one way
// whatever the backend (a 404 answer, or a failure carrying status 404 as the fixture
// backend's missing file does), and the ids of a batch that no record answers.
#include "tq_internal.h"
#include "tq_outcome.h"
#include "tq_results.h"

namespace {

// An id of the batch in the order asked, for removing repeats.
struct asked {
    const char *id;
    size_t pos;
};

int by_text_then_pos(const void *a, const void *b) noexcept {
    const auto *x = static_cast<const asked *>(a), *y = static_cast<const asked *>(b);
    if (const int d = std::strcmp(x->id, y->id)) return d;
    return x->pos < y->pos ? -1 : x->pos > y->pos;
}

int by_pos(const void *a, const void *b) noexcept {
    const auto *x = static_cast<const asked *>(a), *y = static_cast<const asked *>(b);
    return x->pos < y->pos ? -1 : x->pos > y->pos;
}

} // namespace

void tq_outcome_free(tqmovie_client &c) noexcept {
    std::free(c.ext.missing);
    c.ext.missing = nullptr;
    c.ext.missing_count = 0;
}

void tq_outcome_reset(tqmovie_client &c) noexcept {
    c.ext.not_found = false;
    c.ext.answered = 0;
    tq_outcome_free(c);
}

void tq_outcome_single(tqmovie_client &c, int32_t st) noexcept {
    c.ext.not_found = (st == TQMOVIE_ERR_HTTP || st == TQMOVIE_ERR_TRANSPORT) && c.st->http_code == 404;
}

int32_t tq_outcome_missing(tqmovie_client &c, bool detail, const char *const *ids, size_t count,
                           const char *const *unanswered, size_t n) noexcept {
    tq_outcome_free(c);
    const tq_state &s = *c.st;
    const size_t records = detail ? s.detail_count : s.basic_count;
    tq_id_set have(records), skip(n);
    malloc_ptr<asked> left(tq_calloc_n<asked>(count ? count : 1));
    if (!have.ok() || !skip.ok() || !left) return TQMOVIE_ERR_NOMEM;
    for (size_t i = 0; i < records; ++i) have.add(detail ? s.details[i].imdb_id : s.basics[i].imdb_id);
    for (size_t i = 0; i < n; ++i) skip.add(unanswered[i]);
    have.seal();
    skip.seal();
    size_t m = 0;
    for (size_t i = 0; i < count; ++i)
        if (ids[i] && !have.has(ids[i]) && !skip.has(ids[i])) left.get()[m++] = asked{ids[i], i};
    if (m == 0) return TQMOVIE_OK;
    // Each id once, where it was first asked.
    std::qsort(left.get(), m, sizeof(asked), by_text_then_pos);
    size_t kept = 0, bytes = 0;
    for (size_t i = 0; i < m; ++i) {
        if (kept && std::strcmp(left.get()[kept - 1].id, left.get()[i].id) == 0) continue;
        left.get()[kept++] = left.get()[i];
        bytes += std::strlen(left.get()[i].id) + 1;
    }
    std::qsort(left.get(), kept, sizeof(asked), by_pos);
    // One block: the pointers, then the texts they point to.
    auto *block = static_cast<char **>(std::malloc(kept * sizeof(char *) + bytes));
    if (!block) return TQMOVIE_ERR_NOMEM;
    char *text = reinterpret_cast<char *>(block + kept);
    for (size_t i = 0; i < kept; ++i) {
        const size_t len = std::strlen(left.get()[i].id) + 1;
        std::memcpy(text, left.get()[i].id, len);
        block[i] = text;
        text += len;
    }
    c.ext.missing = block;
    c.ext.missing_count = kept;
    return TQMOVIE_OK;
}

extern "C" {

int32_t tqmovie_last_not_found(void) { return ext().not_found ? 1 : 0; }

int32_t tqmovie_missing_count(void) {
    const size_t n = ext().missing_count;
    return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

const char *tqmovie_missing_id(int32_t i) {
    const tq_ext &x = ext();
    return i >= 0 && static_cast<size_t>(i) < x.missing_count ? x.missing[i] : nullptr;
}

} // extern "C"
