// SPDX-License-Identifier: MIT
// tqmovie_fallback: language fallback. A single lookup whose record leaves a text
// field empty takes it from the same title's record in the next language of the
// client's chain. Those records live in a small table of their own, beside the cache,
// so a fallback never takes the place of the lookup's own record; each is judged by
// the cache's lifetimes.
#include "tq_fallback.h"
#include "tq_internal.h"
#include "tq_log.h"
#include "tq_request.h"
#include "tq_results.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <new>

namespace {

constexpr size_t most_languages = 8;
constexpr size_t lang_room = 32;     // 31 bytes and the NUL
constexpr size_t most_records = 256; // the oldest leaves first
constexpr size_t most_fields = 6;
const char k_en_us[] = "en-US"; // the language of a lookup that names none, and of batches

// A title's records in one language, as fetched for the fallback.
struct held_record {
    char *id;
    char lang[lang_room];
    tq_basic *basic;
    tq_detail *detail;
    int64_t basic_at, detail_at;
};

// The text fields a fallback fills, by name and member.
template <typename R> struct filled_field {
    const char *name;
    char *R::*member;
};

// What differs between the two record kinds: their fields, where the table and the
// state keep them, and how one is fetched.
template <typename R> struct kind;
template <> struct kind<tq_basic> {
    static constexpr filled_field<tq_basic> fields[] = {
        {"title", &tq_basic::title}, {"tagline", &tq_basic::tagline}, {"plot", &tq_basic::plot}};
    static constexpr tq_basic *held_record::*slot = &held_record::basic;
    static constexpr int64_t held_record::*at = &held_record::basic_at;
    static constexpr int32_t tq_state::*ttl = &tq_state::cache_ttl_basic;
    static constexpr const char *path = tq_path_basic;
    static int32_t fetch(tqmovie_client &c, const char *id, const char *lang, tq_basic **out) noexcept {
        return tq_fetch_basic(c, id, lang, out);
    }
};
template <> struct kind<tq_detail> {
    static constexpr filled_field<tq_detail> fields[] = {
        {"title", &tq_detail::title},     {"original_title", &tq_detail::original_title},
        {"tagline", &tq_detail::tagline}, {"plot", &tq_detail::plot},
        {"genres", &tq_detail::genres},   {"directors", &tq_detail::directors}};
    static constexpr tq_detail *held_record::*slot = &held_record::detail;
    static constexpr int64_t held_record::*at = &held_record::detail_at;
    static constexpr int32_t tq_state::*ttl = &tq_state::cache_ttl_detail;
    static constexpr const char *path = tq_path_detail;
    static int32_t fetch(tqmovie_client &c, const char *id, const char *lang, tq_detail **out) noexcept {
        return tq_fetch_detail(c, id, lang, out);
    }
};

bool empty(const char *s) noexcept { return !s || !*s; }

// "" and "en-US" are one language.
bool same_language(const char *a, const char *b) noexcept {
    return std::strcmp(*a ? a : k_en_us, *b ? b : k_en_us) == 0;
}

} // namespace

struct tq_fallback {
    char chain[most_languages][lang_room];
    size_t n = 0;
    held_record *held = nullptr;
    size_t held_count = 0, held_cap = 0;
    // For the last lookup's result 0, of the kind filled (NULL: none): the chain
    // position (1-based; 0: the lookup's own language) each field came from.
    const void *filled = nullptr;
    uint8_t from[most_fields];
};

namespace {

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
        auto newest = [](const held_record &r) { return std::max(r.basic_at, r.detail_at); };
        h = std::min_element(f.held, f.held + f.held_count,
                             [&](const held_record &a, const held_record &b) { return newest(a) < newest(b); });
        drop_held(*h);
    }
    *h = held_record{};
    h->id = copy.release();
    std::snprintf(h->lang, sizeof h->lang, "%s", lang);
    return h;
}

// The title's fresh record in lang: held, else fetched and held. NULL when neither
// (the fetch's failure is not the lookup's: its text and HTTP status are put back).
template <typename R> const R *record_in(tqmovie_client &c, tq_fallback &f, const char *id, const char *lang) noexcept {
    using K = kind<R>;
    tq_state &s = *c.st;
    if (held_record *h = entry(f, id, lang, false)) {
        const int32_t life = s.*K::ttl;
        if (h->*K::slot && (life <= 0 || tq_now() - h->*K::at <= life)) {
            tq_log_cached(c, TQMOVIE_SOURCE_MEMORY, K::path, id, lang);
            return h->*K::slot;
        }
    }
    R *got = nullptr;
    {
        const tq_err_kept kept(c);
        const int32_t http = s.http_code;
        const int32_t st = K::fetch(c, id, lang, &got);
        s.http_code = http;
        if (st != TQMOVIE_OK) return nullptr;
    }
    held_record *h = entry(f, id, lang, true);
    if (!h) {
        drop(got);
        return nullptr;
    }
    drop(h->*K::slot);
    h->*K::slot = got;
    h->*K::at = tq_now();
    return got;
}

// Whether the chain's language k was asked already: it is the lookup's own, or an
// earlier one in the chain.
bool asked_before(const tqmovie_client &c, const tq_fallback &f, size_t k) noexcept {
    if (same_language(f.chain[k], c.ext.result_lang)) return true;
    for (size_t j = 0; j < k; ++j)
        if (same_language(f.chain[k], f.chain[j])) return true;
    return false;
}

template <typename R> int32_t fill(tqmovie_client &c, tq_fallback &f, R &rec, const char *id) noexcept {
    const auto &fields = kind<R>::fields;
    f.filled = &fields;
    for (size_t k = 0; k < f.n; ++k) {
        if (asked_before(c, f, k)) continue;
        if (std::none_of(std::begin(fields), std::end(fields), [&](const auto &fd) { return empty(rec.*fd.member); }))
            break;
        const R *other = record_in<R>(c, f, id, f.chain[k]);
        if (!other) continue;
        for (size_t j = 0; j < std::size(fields); ++j) {
            char *R::*m = fields[j].member;
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

template <typename R>
int32_t field_language(const tqmovie_client &c, int32_t i, const char *field, char *out, size_t size) noexcept {
    if (out && size > 0) out[0] = '\0';
    const auto &fields = kind<R>::fields;
    size_t j = 0;
    while (field && j < std::size(fields) && std::strcmp(fields[j].name, field) != 0) ++j;
    if (!out || !field || j == std::size(fields) || !tq_is_stored<R>(*c.st, i)) return -1;
    const tq_fallback *f = c.ext.fallback;
    const char *lang = c.ext.result_lang[0] ? c.ext.result_lang : k_en_us;
    if (f && f->filled == &fields && i == 0 && f->from[j] > 0) lang = f->chain[f->from[j] - 1];
    const size_t len = std::strlen(lang);
    if (len >= size) return -1;
    std::memcpy(out, lang, len + 1);
    return static_cast<int32_t>(len);
}

} // namespace

void tq_fallback_begin(tqmovie_client &c, const char *language) noexcept {
    // Every lookup passes here: a bounded copy, not a format.
    const size_t len = language ? strnlen(language, sizeof c.ext.result_lang - 1) : 0;
    if (len) std::memcpy(c.ext.result_lang, language, len);
    c.ext.result_lang[len] = '\0';
    if (tq_fallback *f = c.ext.fallback) {
        f->filled = nullptr;
        std::memset(f->from, 0, sizeof f->from);
    }
}

int32_t tq_fallback_fill(tqmovie_client &c, bool detail, const char *id) noexcept {
    tq_fallback *f = c.ext.fallback;
    tq_state &s = *c.st;
    if (!f || f->n == 0 || !id) return TQMOVIE_OK;
    if (detail) return s.detail_count > 0 ? fill(c, *f, s.details[0], id) : TQMOVIE_OK;
    return s.basic_count > 0 ? fill(c, *f, s.basics[0], id) : TQMOVIE_OK;
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
    if (!c.ext.fallback) {
        void *p = std::calloc(1, sizeof(tq_fallback));
        if (!p) return TQMOVIE_ERR_NOMEM;
        c.ext.fallback = new (p) tq_fallback{};
    }
    // The records held so far stay: they are the same titles in the same languages.
    std::memcpy(c.ext.fallback->chain, parsed, sizeof parsed);
    c.ext.fallback->n = n;
    return TQMOVIE_OK;
}

int32_t tqmovie_basic_field_language(int32_t i, const char *field, char *out, size_t size) {
    return field_language<tq_basic>(client(), i, field, out, size);
}

int32_t tqmovie_detail_field_language(int32_t i, const char *field, char *out, size_t size) {
    return field_language<tq_detail>(client(), i, field, out, size);
}

} // extern "C"
