// SPDX-License-Identifier: MIT
// tqmovie_export: stored records as JSON text. The compact summaries
// (tqmovie_basic_to_json, tqmovie_detail_to_json) and the complete export, which
// writes every field and list in the service's own member names and shapes, so that
// the text, in an array, decodes back through the library's decoders into an equal
// record. The record cache's file is written with the same complete form.
#include "tq_results.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <array>
#include <cstdio>
#include <span>
#include <type_traits>

// ----------------------------------------------------------------------------
// The growable text
// ----------------------------------------------------------------------------

void tq_text::grow_and_put(const char *bytes, size_t count) noexcept {
    if (failed) return;
    // One byte more is kept for the terminating NUL.
    if (count > SIZE_MAX - len - 2 || !tq_grow(&data, &cap, len + count + 2, first_cap)) {
        failed = true;
        return;
    }
    if (count) std::memcpy(data + len, bytes, count);
    len += count;
}

void tq_text::fmt(const char *f, ...) noexcept {
    char local[128];
    va_list ap;
    va_start(ap, f);
    const int n = std::vsnprintf(local, sizeof local, f, ap);
    va_end(ap);
    // Only numbers and short member names are formatted here: they always fit.
    if (n < 0 || static_cast<size_t>(n) >= sizeof local)
        failed = true;
    else
        put(local, static_cast<size_t>(n));
}

// Decimal digits, written out by hand: std::to_chars for integers is a template that
// a debug build would instantiate, and export, in the library.
void tq_text::integer(int64_t v) noexcept {
    char buf[24], *p = buf + sizeof buf;
    uint64_t u = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0) *--p = '-';
    put(p, static_cast<size_t>(buf + sizeof buf - p));
}

char *tq_text::release() noexcept {
    if (!failed && !data) grow_and_put("", 0); // an empty text still has its NUL
    if (!failed) data[len] = '\0';
    char *out = failed ? nullptr : data;
    if (failed) std::free(data);
    data = nullptr;
    len = cap = 0;
    return out;
}

namespace {

// The length of the well-formed UTF-8 sequence at p (1 to 4), or 0.
size_t utf8_length(const unsigned char *p) noexcept {
    const unsigned char c = p[0];
    auto cont = [](unsigned char b) { return (b & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) return cont(p[1]) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const bool ok = cont(p[1]) && cont(p[2]) && (c != 0xE0 || p[1] >= 0xA0) && (c != 0xED || p[1] < 0xA0);
        return ok ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const bool ok =
            cont(p[1]) && cont(p[2]) && cont(p[3]) && (c != 0xF0 || p[1] >= 0x90) && (c != 0xF4 || p[1] < 0x90);
        return ok ? 4 : 0;
    }
    return 0;
}

// Bytes a JSON string can hold as they are: 1. The rest need a look (escaping, or
// for the complete export a check of their UTF-8 sequence).
constexpr auto plain_bytes = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0x20; c < 0x80; ++c) t[static_cast<size_t>(c)] = 1;
    t['"'] = t['\\'] = 0;
    return t;
}();

// A JSON string (or null). Quote, backslash and the C0 controls are escaped; the
// complete export (`strict`) also escapes the C1 controls, so no terminal sees them
// raw, and writes U+FFFD for bytes that are not UTF-8, so the text is always valid
// JSON. The summaries pass other bytes through as they always have.
void json_string(tq_text &out, const char *s, bool strict) noexcept {
    if (!s) return out.put("null", 4);
    out.put("\"", 1);
    const char *run = s, *p = s;
    while (*p) {
        const auto c = static_cast<unsigned char>(*p);
        size_t n = 1;
        if (plain_bytes[c] || (c >= 0x80 && !strict)) {
            ++p;
            continue;
        }
        if (c >= 0x80) {
            n = utf8_length(reinterpret_cast<const unsigned char *>(p));
            const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(p[1]) < 0xA0;
            if (n != 0 && !c1) {
                p += n;
                continue;
            }
        }
        out.put(run, static_cast<size_t>(p - run));
        static const char hex[] = "0123456789abcdef";
        const unsigned char code = n == 2 ? static_cast<unsigned char>(p[1]) : c; // a C1 control: its code point
        char esc[6] = {'\\', 'u', '0', '0', hex[code >> 4], hex[code & 15]};
        switch (c) {
        case '"': out.put("\\\"", 2); break;
        case '\\': out.put("\\\\", 2); break;
        case '\n': out.put("\\n", 2); break;
        case '\r': out.put("\\r", 2); break;
        case '\t': out.put("\\t", 2); break;
        default:
            if (c < 0x80 || n == 2)
                out.put(esc, 6);
            else
                out.put("\\ufffd", 6);
        }
        p += n ? n : 1;
        run = p;
    }
    out.put(run, static_cast<size_t>(p - run));
    out.put("\"", 1);
}

// "%g" of a non-finite double is not JSON; such a value is written as null.
void summary_number(tq_text &out, double v) noexcept {
    if (!std::isfinite(v)) return out.put("null");
    out.fmt("%g", v);
}

// A real that reads back as the same double, and as a real: the shortest digits that
// do (whatever the host's locale), always with a fraction or an exponent. Non-finite
// values are null.
void real(tq_text &out, double v) noexcept {
    if (!std::isfinite(v)) return out.put("null");
    char buf[40];
    char *end = std::to_chars(buf, buf + sizeof buf - 3, v).ptr;
    if (!std::memchr(buf, '.', static_cast<size_t>(end - buf)) &&
        !std::memchr(buf, 'e', static_cast<size_t>(end - buf))) {
        *end++ = '.';
        *end++ = '0';
    }
    out.put(buf, static_cast<size_t>(end - buf));
}

void string_list(tq_text &out, char *const *items, size_t count, bool strict) noexcept {
    out.put("[");
    for (size_t i = 0; items && i < count; ++i) {
        if (i) out.put(",");
        json_string(out, items[i], strict);
    }
    out.put("]");
}

// ----------------------------------------------------------------------------
// The complete form: for each record type its texts and numbers with the member
// names the service uses, and the empty value that leaves a number out.
// ----------------------------------------------------------------------------

template <typename R> struct text_member {
    const char *key;
    char *R::*field;
};
template <typename R> struct int_member {
    const char *key;
    int32_t R::*field;
    int32_t empty;
};

template <typename R> using texts_of = std::type_identity_t<std::span<const text_member<R>>>;
template <typename R> using ints_of = std::type_identity_t<std::span<const int_member<R>>>;

// `"key":value` pairs of one object, separated by commas; the first goes without one.
template <typename R> void members(tq_text &out, const R &r, texts_of<R> texts, ints_of<R> ints, bool &first) noexcept {
    for (const auto &t : texts) {
        out.put(first ? "\"" : ",\"", first ? 1 : 2);
        out.put_text(t.key);
        out.put("\":");
        json_string(out, r.*t.field, true);
        first = false;
    }
    for (const auto &m : ints) {
        if (r.*m.field == m.empty) continue;
        out.put(first ? "\"" : ",\"", first ? 1 : 2);
        out.put_text(m.key);
        out.put("\":", 2);
        out.integer(r.*m.field);
        first = false;
    }
}

template <typename R> void object(tq_text &out, const R &r, texts_of<R> texts, ints_of<R> ints) noexcept {
    bool first = true;
    out.put("{");
    members(out, r, texts, ints, first);
    out.put("}");
}

template <typename R>
void object_list(tq_text &out, const char *key, const R *items, size_t count, texts_of<R> texts,
                 ints_of<R> ints) noexcept {
    out.put(",\"");
    out.put_text(key);
    out.put("\":[");
    for (size_t i = 0; items && i < count; ++i) {
        if (i) out.put(",");
        object(out, items[i], texts, ints);
    }
    out.put("]");
}

void is_tv(tq_text &out, int32_t v) noexcept {
    if (v == 0 || v == 1) out.put_text(v ? ",\"isTVShow\":true" : ",\"isTVShow\":false");
}

const text_member<tq_basic> basic_texts[] = {
    {"imDbId", &tq_basic::imdb_id}, {"title", &tq_basic::title},          {"tagLine", &tq_basic::tagline},
    {"plot", &tq_basic::plot},      {"posterUrl", &tq_basic::poster_url}, {"pictureUrl", &tq_basic::picture_url},
};
const int_member<tq_basic> basic_ints[] = {
    {"id", &tq_basic::id, 0}, {"year", &tq_basic::year, -1}, {"duration", &tq_basic::duration, -1}};

const text_member<tq_detail> detail_texts[] = {
    {"imDbId", &tq_detail::imdb_id},
    {"title", &tq_detail::title},
    {"originalTitle", &tq_detail::original_title},
    {"tagLine", &tq_detail::tagline},
    {"plot", &tq_detail::plot},
    {"posterUrl", &tq_detail::poster_url},
    {"pictureUrl", &tq_detail::picture_url},
    {"titleType", &tq_detail::title_type},
    {"genres", &tq_detail::genres},
    {"directors", &tq_detail::directors},
    {"trailerUrl", &tq_detail::trailer_url},
    {"extension1", &tq_detail::extension1},
    {"logoBase64", &tq_detail::logo_base64},
};
const int_member<tq_detail> detail_ints[] = {{"id", &tq_detail::id, 0},
                                             {"startYear", &tq_detail::start_year, -1},
                                             {"endYear", &tq_detail::end_year, -1},
                                             {"runtimeMinutes", &tq_detail::runtime, -1}};
const text_member<tq_cast> cast_texts[] = {{"name", &tq_cast::name},
                                           {"idOrName", &tq_cast::id},
                                           {"poster", &tq_cast::poster},
                                           {"characterOrRole", &tq_cast::role},
                                           {"birthday", &tq_cast::birthday}};
const text_member<tq_picture> picture_texts[] = {{"language", &tq_picture::language}, {"url", &tq_picture::url}};
const int_member<tq_picture> picture_ints[] = {{"width", &tq_picture::width, 0}, {"height", &tq_picture::height, 0}};
const text_member<tq_provider> provider_texts[] = {{"countryCode", &tq_provider::country},
                                                   {"providerId", &tq_provider::provider_id},
                                                   {"providerName", &tq_provider::name},
                                                   {"logoUrl", &tq_provider::logo},
                                                   {"watchType", &tq_provider::type}};
const int_member<tq_provider> provider_ints[] = {{"displayPriority", &tq_provider::display_priority, 0}};
const text_member<tq_video> video_texts[] = {{"id", &tq_video::id},
                                             {"key", &tq_video::key},
                                             {"name", &tq_video::name},
                                             {"site", &tq_video::site},
                                             {"type", &tq_video::type},
                                             {"iso_639_1", &tq_video::lang},
                                             {"iso_3166_1", &tq_video::region}};
const int_member<tq_video> video_ints[] = {{"size", &tq_video::size, 0}};
const text_member<tq_trans_item> item_texts[] = {
    {"title", &tq_trans_item::title},         {"tagLine", &tq_trans_item::tagline}, {"plot", &tq_trans_item::plot},
    {"directors", &tq_trans_item::directors}, {"actors", &tq_trans_item::actors},   {"iso_639_1", &tq_trans_item::lang},
    {"iso_3166_1", &tq_trans_item::region}};

} // namespace

void tq_json_full(tq_text &out, const tq_basic &r) noexcept {
    bool first = true;
    out.put("{");
    members(out, r, basic_texts, basic_ints, first);
    is_tv(out, r.is_tv);
    out.put(",\"directors\":");
    string_list(out, r.directors, r.directors_count, true);
    out.put(",\"genres\":");
    string_list(out, r.genres, r.genres_count, true);
    out.put(",\"ratings\":{");
    for (size_t i = 0; r.ratings && i < r.ratings_count; ++i) {
        if (i) out.put(",");
        // A member name must be a string: a source lost to a failed copy is written "".
        json_string(out, r.ratings[i].source ? r.ratings[i].source : "", true);
        out.put(":");
        real(out, r.ratings[i].value);
    }
    out.put("}}");
}

void tq_json_full(tq_text &out, const tq_detail &r) noexcept {
    bool first = true;
    out.put("{");
    members(out, r, detail_texts, detail_ints, first);
    is_tv(out, r.is_tv);
    if (!std::isnan(r.imdb_rating)) {
        out.put(",\"imDbRating\":");
        real(out, r.imdb_rating);
    }
    object_list(out, "casts", r.cast, r.cast_count, cast_texts, {});
    out.put(",\"relatedIMDbIds\":");
    string_list(out, r.related, r.related_count, true);
    object_list(out, "pictures", r.pictures, r.picture_count, picture_texts, picture_ints);
    object_list(out, "watchProviders", r.providers, r.provider_count, provider_texts, provider_ints);
    object_list(out, "videos", r.videos, r.video_count, video_texts, video_ints);
    out.put("}");
}

void tq_json_full(tq_text &out, const tq_trans &r) noexcept {
    out.put("{\"imDbId\":");
    json_string(out, r.imdb_id, true);
    object_list(out, "items", r.items, r.items_count, item_texts, {});
    out.put("}");
}

void tq_json_string(tq_text &out, const char *s) noexcept { json_string(out, s, true); }

namespace {

// A summary's leading texts: `{"key":value` for each member, every one written, null
// or not (the summaries keep the service's members even when empty).
template <typename R> void summary_texts(tq_text &b, const R &r, std::span<const text_member<R>> members) noexcept {
    for (size_t i = 0; i < members.size(); ++i) {
        b.put(i ? ",\"" : "{\"");
        b.put_text(members[i].key);
        b.put("\":");
        json_string(b, r.*members[i].field, false);
    }
}

template <typename R> char *export_full(const R *r) noexcept {
    if (!r) return nullptr;
    tq_text out;
    tq_json_full(out, *r);
    return out.release();
}

} // namespace

extern "C" {

char *tqmovie_basic_to_json(int32_t index) {
    const tq_basic *r = tq_stored<tq_basic>(state(), index);
    if (!r) return nullptr;
    tq_text b(256); // the summaries are short
    summary_texts<tq_basic>(b, *r, basic_texts);
    b.fmt(",\"id\":%d,\"year\":%d,\"duration\":%d,\"isTVShow\":%s", r->id, r->year, r->duration,
          r->is_tv == 1   ? "true"
          : r->is_tv == 0 ? "false"
                          : "null");
    b.put(",\"directors\":");
    string_list(b, r->directors, r->directors_count, false);
    b.put(",\"genres\":");
    string_list(b, r->genres, r->genres_count, false);
    b.put(",\"ratings\":{");
    for (size_t i = 0; r->ratings && i < r->ratings_count; ++i) {
        if (i) b.put(",");
        json_string(b, r->ratings[i].source ? r->ratings[i].source : "", false);
        b.put(":");
        summary_number(b, r->ratings[i].value);
    }
    b.put("}}");
    return b.release();
}

char *tqmovie_detail_to_json(int32_t index) {
    const tq_detail *r = tq_stored<tq_detail>(state(), index);
    if (!r) return nullptr;
    tq_text b(256);
    summary_texts<tq_detail>(b, *r, std::span(detail_texts).first(10)); // up to "directors"
    b.fmt(",\"id\":%d,\"startYear\":%d", r->id, r->start_year);
    b.fmt(",\"endYear\":%d,\"runtimeMinutes\":%d", r->end_year, r->runtime);
    b.put(",\"imDbRating\":");
    summary_number(b, r->imdb_rating);
    b.fmt(",\"nCasts\":%zu,\"nPictures\":%zu", r->cast_count, r->picture_count);
    b.fmt(",\"nProviders\":%zu,\"nVideos\":%zu", r->provider_count, r->video_count);
    b.fmt(",\"nRelated\":%zu}", r->related_count);
    return b.release();
}

char *tqmovie_basic_to_json_full(int32_t index) { return export_full(tq_stored<tq_basic>(state(), index)); }
char *tqmovie_detail_to_json_full(int32_t index) { return export_full(tq_stored<tq_detail>(state(), index)); }
char *tqmovie_trans_to_json(int32_t index) { return export_full(tq_stored<tq_trans>(state(), index)); }

} // extern "C"
