// SPDX-License-Identifier: MIT
// tqmovie_export: stored records as JSON text. The compact summaries
// (tqmovie_basic_to_json, tqmovie_detail_to_json) and the complete export, which
// writes every field and list in the service's own member names and shapes, so that
// the text, in an array, decodes back through the library's decoders into an equal
// record. The record cache's file is written with the same complete form.
#include "tq_results.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
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
// Records, written from their field tables (tq_fields.h) with the service's member
// names: in the complete form (every byte checked, empty values left out) or in a
// summary's (bytes passed through, every value written).
// ----------------------------------------------------------------------------

// `"key":`, after a comma unless it is the object's first member.
template <size_t N> void member_key(tq_text &out, const char *key, bool &first) noexcept {
    out.put(first ? "\"" : ",\"", first ? 1 : 2);
    out.put(key, N);
    out.put("\":");
    first = false;
}

template <typename R> void object(tq_text &out, const R &r) noexcept;

// Whether a plain value is its row's empty one (for a real, NaN when that is empty).
template <typename T> bool is_empty(T v, T empty) noexcept {
    if constexpr (std::is_floating_point_v<T>)
        if (std::isnan(empty)) return std::isnan(v);
    return v == empty;
}

// Row I of r, as a member of the object being written (or nothing: an empty value in
// the complete form).
template <typename R, size_t I> void write_field(tq_text &out, const R &r, bool full, bool &first) noexcept {
    constexpr auto &f = tq_fields::at<R, I>;
    const auto &v = r.*f.at;
    if constexpr (f.kind == tq_kind::number || f.kind == tq_kind::real) {
        if (full && is_empty(v, f.empty)) return;
    } else if constexpr (f.kind == tq_kind::flag) {
        if (full && v != 0 && v != 1) return;
    }
    member_key<std::char_traits<char>::length(f.keys[0])>(out, f.keys[0], first);
    if constexpr (tq_fields::is_text(f.kind)) {
        json_string(out, v, full);
    } else if constexpr (f.kind == tq_kind::number) {
        out.integer(v);
    } else if constexpr (f.kind == tq_kind::flag) {
        out.put_text(v == 1 ? "true" : v == 0 ? "false" : "null");
    } else if constexpr (f.kind == tq_kind::real) {
        full ? real(out, v) : summary_number(out, v);
    } else if constexpr (f.kind == tq_kind::ratings) {
        out.put("{");
        for (size_t i = 0; v && i < r.*f.count; ++i) {
            if (i) out.put(",");
            // A member name must be a string: a source lost to a failed copy is written "".
            json_string(out, v[i].source ? v[i].source : "", full);
            out.put(":");
            full ? real(out, v[i].value) : summary_number(out, v[i].value);
        }
        out.put("}");
    } else if constexpr (f.kind == tq_kind::records || f.kind == tq_kind::items) {
        out.put("[");
        for (size_t i = 0; v && i < r.*f.count; ++i) {
            if (i) out.put(",");
            object(out, v[i]);
        }
        out.put("]");
    } else {
        string_list(out, v, r.*f.count, full);
    }
}

constexpr bool every_row(size_t) noexcept { return true; }

// The rows of r that Pick picks by their index.
template <typename R, bool (*Pick)(size_t) = every_row>
void write_fields(tq_text &out, const R &r, bool full, bool &first) noexcept {
    tq_fields::each<R>([&](auto i) {
        if constexpr (Pick(i)) write_field<R, i>(out, r, full, first);
    });
}

// A record in the complete form.
template <typename R> void object(tq_text &out, const R &r) noexcept {
    bool first = true;
    out.put("{");
    write_fields(out, r, true, first);
    out.put("}");
}

} // namespace

void tq_json_full(tq_text &out, const tq_basic &r) noexcept { object(out, r); }
void tq_json_full(tq_text &out, const tq_detail &r) noexcept { object(out, r); }
void tq_json_full(tq_text &out, const tq_trans &r) noexcept { object(out, r); }

void tq_json_string(tq_text &out, const char *s) noexcept { json_string(out, s, true); }

namespace {

// The summaries keep the members they have always had, so that a field added to a
// record goes into the complete form only. A basic summary: every row up to "ratings".
constexpr bool in_basic_summary(size_t i) noexcept { return i <= tq_fields::index_of<tq_basic>("ratings"); }

// A detail summary: the texts up to "directors", the numbers and the rating (the list
// sizes follow).
constexpr bool in_detail_summary(size_t i) noexcept {
    using tq_fields::index_of;
    return i <= index_of<tq_detail>("directors") ||
           (i >= index_of<tq_detail>("id") && i <= index_of<tq_detail>("runtimeMinutes")) ||
           i == index_of<tq_detail>("imDbRating");
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
    bool first = true;
    b.put("{");
    write_fields<tq_basic, in_basic_summary>(b, *r, false, first);
    b.put("}");
    return b.release();
}

char *tqmovie_detail_to_json(int32_t index) {
    const tq_detail *r = tq_stored<tq_detail>(state(), index);
    if (!r) return nullptr;
    tq_text b(256);
    bool first = true;
    b.put("{");
    write_fields<tq_detail, in_detail_summary>(b, *r, false, first);
    b.fmt(",\"nCasts\":%zu,\"nPictures\":%zu", r->cast_count, r->picture_count);
    b.fmt(",\"nProviders\":%zu,\"nVideos\":%zu", r->provider_count, r->video_count);
    b.fmt(",\"nRelated\":%zu}", r->related_count);
    return b.release();
}

char *tqmovie_basic_to_json_full(int32_t index) { return export_full(tq_stored<tq_basic>(state(), index)); }
char *tqmovie_detail_to_json_full(int32_t index) { return export_full(tq_stored<tq_detail>(state(), index)); }
char *tqmovie_trans_to_json(int32_t index) { return export_full(tq_stored<tq_trans>(state(), index)); }

} // extern "C"
