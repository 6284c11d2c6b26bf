// SPDX-License-Identifier: MIT
// tqmovie_fallback: language fallback. A single lookup whose record leaves a text
// field empty takes it from the same title's record in the next language of the
// client's chain. Those records live in a small table of their own, beside the cache,
// so a fallback never takes the place of the lookup's own record; each is judged by
// the cache's lifetimes.
#include "tq_fallback.h"
#include "tq_internal.h"
#include "tq_log.h"
#include "tq_results.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <new>

namespace {

constexpr size_t most_languages = 8;
constexpr size_t lang_room = 32;   // 31 bytes and the NUL
constexpr size_t most_records = 256; // the oldest leaves first
const char k_own_batch[] = "en-US";

// The text fields a fallback fills, per record kind, by name and member.
template <typename R> struct filled_field {
    const char *name;
    char *R::*member;
};
constexpr filled_field<tq_basic> basic_fields[] = {
    {"title", &tq_basic::title}, {"tagline", &tq_basic::tagline}, {"plot", &tq_basic::plot}};
constexpr filled_field<tq_detail> detail_fields[] = {
    {"title", &tq_detail::title},     {"original_title", &tq_detail::original_title},
    {"tagline", &tq_detail::tagline}, {"plot", &tq_detail::plot},
    {"genres", &tq_detail::genres},   {"directors", &tq_detail::directors}};
constexpr size_t most_fields = 6;

template <typename R> struct fields_of;
template <> struct fields_of<tq_basic> {
    static constexpr const filled_field<tq_basic> *list = basic_fields;
    static constexpr size_t n = sizeof basic_fields / sizeof basic_fields[0];
};
template <> struct fields_of<tq_detail> {
    static constexpr const filled_field<tq_detail> *list = detail_fields;
    static constexpr size_t n = sizeof detail_fields / sizeof detail_fields[0];
};

struct held_record {
    char *id;
    char lang[lang_room];
    tq_basic *basic;
    tq_detail *detail;
    int64_t basic_at, detail_at;
};

bool empty(const char *s) noexcept { return !s || !*s; }

} // namespace

struct tq_fallback {
    char chain[most_languages][lang_room];
    size_t n = 0;
    held_record *held = nullptr;
    size_t held_count = 0, held_cap = 0;
    // For the last lookup's result 0: the chain position (1-based; 0: its own
    // language) each field came from, of the kind filled.
    bool filled_detail = false, filled_basic = false;
    uint8_t from[most_fields];
};

namespace {

template <typename R> R *&slot(held_record &h) noexcept;
template <> tq_basic *&slot<tq_basic>(held_record &h) noexcept { return h.basic; }
template <> tq_detail *&slot<tq_detail>(held_record &h) noexcept { return h.detail; }
template <typename R> int64_t &stamp(held_record &h) noexcept;
template <> int64_t &stamp<tq_basic>(held_record &h) noexcept { return h.basic_at; }
template <> int64_t &stamp<tq_detail>(held_record &h) noexcept { return h.detail_at; }
template <typename R> int32_t ttl(const tq_state &s) noexcept;
template <> int32_t ttl<tq_basic>(const tq_state &s) noexcept { return s.cache_ttl_basic; }
template <> int32_t ttl<tq_detail>(const tq_state &s) noexcept { return s.cache_ttl_detail; }

template <typename R> void drop(R *&r) noexcept {
    if (r) tq_release(r);
    std::free(r);
    r = nullptr;
}

void drop_held(held_record &h) noexcept {
    std::free(h.id);
    drop(h.basic);
    drop(h.detail);
}

// The table's record of id in lang, made when missing (the oldest leaves when full);
// NULL when there is no memory for it.
held_record *entry(tq_fallback &f, const char *id, const char *lang, bool make) noexcept {
    for (size_t i = 0; i < f.held_count; ++i)
        if (std::strcmp(f.held[i].id, id) == 0 && std::strcmp(f.held[i].lang, lang) == 0) return &f.held[i];
    if (!make) return nullptr;
    malloc_ptr<char> copy(tq_strdup(id));
    if (!copy) return nullptr;
    held_record *h;
    if (f.held_count < most_records) {
        if (!tq_grow(&f.held, &f.held_cap, f.held_count + 1, 8)) return nullptr;
        h = &f.held[f.held_count++];
    } else {
        h = &f.held[0];
        for (size_t i = 1; i < f.held_count; ++i) {
            const int64_t a = std::max(f.held[i].basic_at, f.held[i].detail_at);
            if (a < std::max(h->basic_at, h->detail_at)) h = &f.held[i];
        }
        drop_held(*h);
    }
    *h = held_record{};
    h->id = copy.release();
    std::snprintf(h->lang, sizeof h->lang, "%s", lang);
    return h;
}

template <typename R> int32_t fetch(tqmovie_client &c, const char *id, const char *lang, R **out) noexcept;
template <> int32_t fetch<tq_basic>(tqmovie_client &c, const char *id, const char *lang, tq_basic **out) noexcept {
    return tq_fetch_basic(c, id, lang, out);
}
template <> int32_t fetch<tq_detail>(tqmovie_client &c, const char *id, const char *lang, tq_detail **out) noexcept {
    return tq_fetch_detail(c, id, lang, out);
}
template <typename R> const char *path() noexcept;
template <> const char *path<tq_basic>() noexcept { return "/api/AAA/GetMovieBasic"; }
template <> const char *path<tq_detail>() noexcept { return "/api/AAA/GetMovieDetail"; }

// The title's fresh record in lang: held, else fetched and held. NULL when neither
// (the fetch's failure is not the lookup's: its text and HTTP status are put back).
template <typename R> const R *record_in(tqmovie_client &c, tq_fallback &f, const char *id, const char *lang) noexcept {
    tq_state &s = *c.st;
    if (held_record *h = entry(f, id, lang, false)) {
        const int32_t life = ttl<R>(s);
        if (slot<R>(*h) && (life <= 0 || tq_now() - stamp<R>(*h) <= life)) {
            tq_log_cached(c, TQMOVIE_SOURCE_MEMORY, path<R>(), id, lang);
            return slot<R>(*h);
        }
    }
    char err[sizeof s.err];
    std::memcpy(err, s.err, sizeof err);
    const int32_t http = s.http_code;
    R *got = nullptr;
    const int32_t st = fetch<R>(c, id, lang, &got);
    std::memcpy(s.err, err, sizeof err);
    s.http_code = http;
    if (st != TQMOVIE_OK || !got) return nullptr;
    held_record *h = entry(f, id, lang, true);
    if (!h) {
        drop(got);
        return nullptr;
    }
    drop(slot<R>(*h));
    slot<R>(*h) = got;
    stamp<R>(*h) = tq_now();
    return got;
}

// Whether the chain's language k was asked already: it is the lookup's own, or an
// earlier one in the chain ("" and "en-US" are one).
bool asked_before(const tqmovie_client &c, const tq_fallback &f, size_t k) noexcept {
    auto same = [](const char *a, const char *b) {
        return std::strcmp(*a ? a : k_own_batch, *b ? b : k_own_batch) == 0;
    };
    if (same(f.chain[k], c.ext.result_lang)) return true;
    for (size_t j = 0; j < k; ++j)
        if (same(f.chain[k], f.chain[j])) return true;
    return false;
}

template <typename R> int32_t fill(tqmovie_client &c, tq_fallback &f, R &rec, const char *id) noexcept {
    using F = fields_of<R>;
    for (size_t k = 0; k < f.n; ++k) {
        if (asked_before(c, f, k)) continue;
        bool wanted = false;
        for (size_t j = 0; j < F::n; ++j) wanted = wanted || empty(rec.*(F::list[j].member));
        if (!wanted) break;
        const R *other = record_in<R>(c, f, id, f.chain[k]);
        if (!other) continue;
        for (size_t j = 0; j < F::n; ++j) {
            char *R::*m = F::list[j].member;
            if (!empty(rec.*m) || empty(other->*m)) continue;
            char *copy = tq_strdup(other->*m);
            if (!copy) return TQMOVIE_ERR_NOMEM;
            std::free(rec.*m);
            rec.*m = copy;
            f.from[j] = static_cast<uint8_t>(k + 1);
        }
    }
    return TQMOVIE_OK;
}

tq_fallback *made(tqmovie_client &c) noexcept {
    if (!c.ext.fallback) {
        void *p = std::calloc(1, sizeof(tq_fallback));
        if (p) c.ext.fallback = new (p) tq_fallback{};
    }
    return c.ext.fallback;
}

template <typename R>
int32_t field_language(const tqmovie_client &c, bool filled, int32_t i, const char *field, char *out,
                       size_t size) noexcept {
    const tq_state &s = *c.st;
    const tq_fallback *f = c.ext.fallback;
    if (out && size > 0) out[0] = '\0';
    using F = fields_of<R>;
    size_t j = 0;
    while (field && j < F::n && std::strcmp(F::list[j].name, field) != 0) ++j;
    if (!out || !field || j == F::n || !tq_is_stored<R>(s, i)) return -1;
    const char *lang = c.ext.result_lang[0] ? c.ext.result_lang : k_own_batch;
    if (f && filled && i == 0 && f->from[j] > 0) lang = f->chain[f->from[j] - 1];
    const size_t len = std::strlen(lang);
    if (len >= size) return -1;
    std::memcpy(out, lang, len + 1);
    return static_cast<int32_t>(len);
}

} // namespace

void tq_fallback_begin(tqmovie_client &c, const char *language) noexcept {
    std::snprintf(c.ext.result_lang, sizeof c.ext.result_lang, "%s", language ? language : "");
    tq_fallback *f = c.ext.fallback;
    if (!f) return;
    f->filled_basic = f->filled_detail = false;
    std::memset(f->from, 0, sizeof f->from);
}

int32_t tq_fallback_fill(tqmovie_client &c, bool detail, const char *id) noexcept {
    tq_fallback *f = c.ext.fallback;
    tq_state &s = *c.st;
    if (!f || f->n == 0 || !id) return TQMOVIE_OK;
    if (detail && s.detail_count > 0) {
        f->filled_detail = true;
        return fill(c, *f, s.details[0], id);
    }
    if (!detail && s.basic_count > 0) {
        f->filled_basic = true;
        return fill(c, *f, s.basics[0], id);
    }
    return TQMOVIE_OK;
}

void tq_fallback_free(tqmovie_client &c) noexcept {
    tq_fallback *f = c.ext.fallback;
    if (!f) return;
    for (size_t i = 0; i < f->held_count; ++i) drop_held(f->held[i]);
    std::free(f->held);
    f->~tq_fallback();
    std::free(f);
    c.ext.fallback = nullptr;
}

extern "C" {

int32_t tqmovie_set_language_fallback(const char *chain) {
    tqmovie_client &c = client();
    char parsed[most_languages][lang_room];
    size_t n = 0;
    for (const char *p = chain; p && *p;) {
        const size_t len = std::strcspn(p, ",");
        if (len == 0) return tq_fail(c, TQMOVIE_ERR_ARG, "bad language fallback: an empty language");
        if (len >= lang_room) return tq_fail(c, TQMOVIE_ERR_ARG, "bad language fallback: a language over 31 bytes");
        if (n == most_languages) return tq_fail(c, TQMOVIE_ERR_ARG, "bad language fallback: more than 8 languages");
        for (size_t i = 0; i < len; ++i) {
            const unsigned char ch = static_cast<unsigned char>(p[i]);
            if (!std::isalnum(ch) && ch != '-' && ch != '_')
                return tq_fail(c, TQMOVIE_ERR_ARG,
                               "bad language fallback: only letters, digits, '-' and '_' in a language");
        }
        std::memcpy(parsed[n], p, len);
        parsed[n++][len] = '\0';
        p += len;
        if (*p == ',') {
            ++p;
            if (!*p) return tq_fail(c, TQMOVIE_ERR_ARG, "bad language fallback: an empty language");
        }
    }
    if (n == 0 && !c.ext.fallback) return TQMOVIE_OK;
    tq_fallback *f = made(c);
    if (!f) return TQMOVIE_ERR_NOMEM;
    // The records held so far stay: they are the same titles in the same languages.
    std::memcpy(f->chain, parsed, sizeof parsed);
    f->n = n;
    return TQMOVIE_OK;
}

int32_t tqmovie_basic_field_language(int32_t i, const char *field, char *out, size_t size) {
    const tqmovie_client &c = client();
    return field_language<tq_basic>(c, c.ext.fallback && c.ext.fallback->filled_basic, i, field, out, size);
}

int32_t tqmovie_detail_field_language(int32_t i, const char *field, char *out, size_t size) {
    const tqmovie_client &c = client();
    return field_language<tq_detail>(c, c.ext.fallback && c.ext.fallback->filled_detail, i, field, out, size);
}

} // extern "C"
