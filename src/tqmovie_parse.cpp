// SPDX-License-Identifier: MIT
// tqmovie_parse: field readers and the decoders of the service's three JSON documents
// (basic records, detail records, translation sets).
//
// Every string kept in a record is copied out of the parsed document, which is
// released before a decoder returns: no record ever points into yyjson's memory.
#include "tq_record.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>

namespace {

// ----------------------------------------------------------------------------
// Member lookup
//
// Each decoder walks an object's members once and files the value of the FIRST
// member under every key it knows; later members with the same key are never
// consulted, even when the first one has the wrong type for its field. Scanning
// the object again per field would make a record with n fields cost n walks.
// ----------------------------------------------------------------------------

// Every key the decoders know is at most this long.
constexpr size_t kMaxKeyLen = 16;

// The keys of one kind of object, with their slot numbers grouped by key length, so
// that a member is compared only with the keys of its own length (one to three).
template <size_t N> struct key_set {
    const char *keys[N];           // every spelling of every row, in table order
    uint8_t by_len[N];             // slot numbers, shortest keys first
    uint8_t first[kMaxKeyLen + 2]; // by_len[first[len]] .. by_len[first[len + 1] - 1]
};

// The first slot of row `row` of R: each row's spellings take consecutive slots.
// slot_of<R>(count<R>) is the number of keys.
template <typename R> constexpr size_t slot_of(size_t row) noexcept {
    size_t n = 0;
    tq_fields::each<R>([&](auto i) {
        if (i < row) n += tq_fields::spellings(tq_fields::at<R, i>);
    });
    return n;
}

template <typename R> constexpr auto make_key_set() noexcept {
    constexpr size_t N = slot_of<R>(tq_fields::count<R>);
    static_assert(N < 256, "slot numbers are bytes");
    key_set<N> ks{};
    size_t at = 0;
    tq_fields::each<R>([&](auto i) {
        for (const char *k : tq_fields::at<R, i>.keys)
            if (k) ks.keys[at++] = k;
    });
    at = 0;
    for (size_t len = 0; len <= kMaxKeyLen; ++len) {
        ks.first[len] = static_cast<uint8_t>(at);
        for (size_t i = 0; i < N; ++i)
            if (std::char_traits<char>::length(ks.keys[i]) == len) ks.by_len[at++] = static_cast<uint8_t>(i);
    }
    ks.first[kMaxKeyLen + 1] = static_cast<uint8_t>(at);
    return ks;
}

// True when every key found its place, i.e. none is empty or longer than kMaxKeyLen,
// and no key is listed twice (the second could never be filled).
template <size_t N> constexpr bool indexes_all(const key_set<N> &ks) noexcept {
    for (size_t i = 0; i < N; ++i)
        for (size_t j = 0; j < i; ++j)
            if (std::string_view(ks.keys[i]) == ks.keys[j]) return false;
    return ks.first[0] == 0 && ks.first[1] == 0 && ks.first[kMaxKeyLen + 1] == N;
}

template <typename R> constexpr auto keys_of = make_key_set<R>();

// Equality of len (1 to kMaxKeyLen) bytes with at most four loads per side, every one
// inside the len bytes: short keys are compared as two overlapping words.
inline bool same_bytes(const char *a, const char *b, size_t len) noexcept {
    if (len >= 8) {
        uint64_t a0, b0, a1, b1;
        std::memcpy(&a0, a, 8);
        std::memcpy(&b0, b, 8);
        std::memcpy(&a1, a + len - 8, 8);
        std::memcpy(&b1, b + len - 8, 8);
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }
    if (len >= 4) {
        uint32_t a0, b0, a1, b1;
        std::memcpy(&a0, a, 4);
        std::memcpy(&b0, b, 4);
        std::memcpy(&a1, a + len - 4, 4);
        std::memcpy(&b1, b + len - 4, 4);
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }
    return a[0] == b[0] && a[len / 2] == b[len / 2] && a[len - 1] == b[len - 1];
}

// Fills slots[i] with the value of the first member whose key is exactly keys[i]
// (same length, same bytes, case-sensitive). Slots without such a member stay NULL.
template <size_t N>
void collect_members(const yyjson_val *obj, const key_set<N> &ks, yyjson_val *(&slots)[N]) noexcept {
    for (size_t i = 0; i < N; ++i) slots[i] = nullptr;
    auto *o = const_cast<yyjson_val *>(obj);
    if (!yyjson_is_obj(o)) return;
    size_t idx, max, filled = 0;
    yyjson_val *k, *v;
    yyjson_obj_foreach(o, idx, max, k, v) {
        const size_t len = unsafe_yyjson_get_len(k);
        if (len == 0 || len > kMaxKeyLen) continue;
        const char *s = unsafe_yyjson_get_str(k);
        for (size_t j = ks.first[len]; j < ks.first[len + 1]; ++j) {
            const size_t i = ks.by_len[j];
            if (!same_bytes(ks.keys[i], s, len)) continue;
            if (!slots[i]) {
                slots[i] = v;
                if (++filled == N) return; // every key decided: the rest cannot matter
            }
            break;
        }
    }
}

// ----------------------------------------------------------------------------
// Field readers. Each takes the member value the lookup found (NULL when the
// object has no member with the key).
// ----------------------------------------------------------------------------

// The member's string, borrowed from the document; NULL for anything but a string.
const char *js(yyjson_val *v) noexcept { return yyjson_is_str(v) ? unsafe_yyjson_get_str(v) : nullptr; }

// A copy of a string value, or NULL for any other value. yyjson knows the length, so
// the copy needs no strlen.
char *dup_str(yyjson_val *v) noexcept {
    return yyjson_is_str(v) ? tq_strndup(unsafe_yyjson_get_str(v), unsafe_yyjson_get_len(v)) : nullptr;
}

// Low 32 bits of a JSON integer, read as signed: the fields are 32-bit, and a wider
// number wraps instead of failing the whole record.
int32_t low32(yyjson_val *v) noexcept {
    const uint64_t bits =
        yyjson_is_uint(v) ? unsafe_yyjson_get_uint(v) : static_cast<uint64_t>(unsafe_yyjson_get_sint(v));
    return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

// Truncation toward zero; anything outside int32 (NaN included) reads INT32_MIN.
// The range test comes first because converting an out-of-range double is undefined.
int32_t real_to_i32(double d) noexcept {
    if (d > -2147483649.0 && d < 2147483648.0) return static_cast<int32_t>(d);
    return INT32_MIN;
}

// A number member into *out; any other type (null included) leaves *out alone.
void ji(yyjson_val *v, int32_t *out) noexcept {
    if (yyjson_is_int(v))
        *out = low32(v);
    else if (yyjson_is_real(v))
        *out = real_to_i32(unsafe_yyjson_get_real(v));
}

// The "isTVShow" member: true 1, false 0, anything else leaves *out alone.
void jb(yyjson_val *v, int32_t *out) noexcept {
    if (yyjson_is_bool(v)) *out = unsafe_yyjson_get_bool(v) ? 1 : 0;
}

// The service writes "N/A" for a missing image; hosts get "" so that they can tell
// "not available" from "not sent". Returns a new string, or NULL.
char *clean_na(yyjson_val *v) noexcept {
    const char *s = js(v);
    if (!s) return nullptr;
    if ((s[0] == 'N' || s[0] == 'n') && (std::strcmp(s, "N/A") == 0 || std::strcmp(s, "n/a") == 0))
        return tq_strdup("");
    return dup_str(v);
}

// The string elements of an array, in order. A string that cannot be copied leaves
// a NULL slot that still counts. The array is kept even when no element is a string.
// 0, or -1 when the pointer array could not be allocated (outputs NULL and 0).
int load_str_arr(yyjson_val *val, char ***arr, size_t *count) noexcept {
    *arr = nullptr;
    *count = 0;
    const size_t n = yyjson_arr_size(val); // 0 for NULL and non-arrays
    if (n == 0) return 0;
    char **items = tq_calloc_n<char *>(n);
    if (!items) return -1;
    size_t k = 0, idx, max;
    yyjson_val *e;
    yyjson_arr_foreach(val, idx, max, e) {
        if (yyjson_is_str(e)) items[k++] = dup_str(e);
    }
    *arr = items;
    *count = k;
    return 0;
}

// A number member: reals as they are, integers by their low 32 bits, anything else
// (a missing member included) `none`.
double num(yyjson_val *v, double none) noexcept {
    if (yyjson_is_real(v)) return unsafe_yyjson_get_real(v);
    if (yyjson_is_int(v)) return static_cast<double>(low32(v));
    return none;
}

// ----------------------------------------------------------------------------
// List members
// ----------------------------------------------------------------------------

// Splits a genres text such as "Drama, Crime" at its commas. Leading and trailing
// spaces of each part are dropped; empty parts stay (except after a final comma).
// 0, or -1 when the list could not be allocated or grown (nothing is stored then).
int split_genres(const char *s, char ***arr, size_t *count) noexcept {
    size_t cap = 0, n = 0;
    char **items = nullptr;
    const char *cur = s;
    for (;;) {
        while (*cur == ' ') ++cur;
        const char *comma = std::strchr(cur, ',');
        const char *end = comma ? comma : cur + std::strlen(cur);
        const char *seg_end = end;
        while (seg_end > cur && seg_end[-1] == ' ') --seg_end;
        if (!tq_grow(&items, &cap, n + 1, 4)) {
            for (size_t i = 0; i < n; ++i) std::free(items[i]);
            std::free(items);
            return -1;
        }
        items[n++] = tq_strndup(cur, static_cast<size_t>(seg_end - cur));
        if (!comma) break;
        cur = comma + 1;
        if (*cur == '\0') break;
    }
    *arr = items;
    *count = n;
    return 0;
}

// Basic "directors": an array of names, or one name as sent, even an empty one (the
// service's free-text field). 0, or -1 when a list could not be allocated.
int load_names(yyjson_val *v, char ***arr, size_t *count) noexcept {
    if (yyjson_is_arr(v)) return load_str_arr(v, arr, count);
    if (!yyjson_is_str(v)) return 0;
    char **one = tq_calloc_n<char *>(1);
    if (!one) return -1;
    *arr = one;
    one[0] = dup_str(v);
    *count = 1;
    return 0;
}

// Basic "genres": an array of names, or a non-empty text split at its commas.
int load_genres(yyjson_val *v, char ***arr, size_t *count) noexcept {
    if (yyjson_is_arr(v)) return load_str_arr(v, arr, count);
    if (!yyjson_is_str(v) || unsafe_yyjson_get_str(v)[0] == '\0') return 0;
    return split_genres(unsafe_yyjson_get_str(v), arr, count);
}

// One rating per member of an object, named by the member; anything else gives none.
// 0, or -1 when the list could not be allocated.
int load_ratings(yyjson_val *v, tq_rating **arr, size_t *count) noexcept {
    if (!yyjson_is_obj(v)) return 0;
    const size_t n = unsafe_yyjson_get_len(v);
    tq_rating *r = tq_calloc_n<tq_rating>(n ? n : 1);
    if (!r) return -1;
    *arr = r;
    size_t idx, max;
    yyjson_val *k, *e;
    yyjson_obj_foreach(v, idx, max, k, e) {
        r[idx].source = dup_str(k);
        r[idx].value = num(e, 0.0);
    }
    *count = n;
    return 0;
}

// A text member, or a list of texts joined with ", " (non-strings skipped). A list
// without strings gives "". Anything else leaves *out NULL. 0, or -1 when the joined
// text could not be allocated.
int joined_text(yyjson_val *v, char **out) noexcept {
    if (yyjson_is_str(v)) {
        *out = dup_str(v);
        return 0;
    }
    if (!yyjson_is_arr(v)) return 0;
    size_t need = 1, idx, max;
    yyjson_val *e;
    yyjson_arr_foreach(v, idx, max, e) {
        if (yyjson_is_str(e)) need += unsafe_yyjson_get_len(e) + 2;
    }
    char *text = static_cast<char *>(std::malloc(need));
    if (!text) return -1;
    size_t pos = 0;
    yyjson_arr_foreach(v, idx, max, e) {
        if (!yyjson_is_str(e)) continue;
        // Texts end at their first NUL, like every other string the library keeps.
        const char *s = unsafe_yyjson_get_str(e);
        const size_t len = std::strlen(s);
        if (pos != 0) {
            text[pos++] = ',';
            text[pos++] = ' ';
        }
        std::memcpy(text + pos, s, len);
        pos += len;
    }
    text[pos] = '\0';
    *out = text;
    return 0;
}

// ----------------------------------------------------------------------------
// Records: each object is decoded by its record's field table (tq_fields.h), from the
// members one walk of the object collected.
// ----------------------------------------------------------------------------

template <typename R> int decode_object(yyjson_val *obj, R &r, uint32_t sections) noexcept;

// One sub-record per object element of an array member; other elements are skipped.
// The array is allocated for every element up front and kept even when none is an
// object. 0, or -1 when it could not be allocated (the list stays NULL, 0).
template <typename T> int load_list(yyjson_val *val, T **arr, size_t *count) noexcept {
    const size_t n = yyjson_arr_size(val); // 0 for NULL and non-arrays
    if (n == 0) return 0;
    T *items = tq_calloc_n<T>(n);
    if (!items) return -1;
    *arr = items;
    size_t idx, max;
    yyjson_val *e;
    yyjson_arr_foreach(val, idx, max, e) {
        if (yyjson_is_obj(e) && decode_object(e, items[(*count)++], TQMOVIE_DETAIL_ALL) != 0) return -1;
    }
    return 0;
}

// Translation items: any array is kept, an empty one too; an array that cannot be
// allocated leaves the set without items, which is still worth handing out.
template <typename T> int load_items(yyjson_val *val, T **arr, size_t *count) noexcept {
    if (!yyjson_is_arr(val)) return 0;
    const size_t n = unsafe_yyjson_get_len(val);
    T *items = tq_calloc_n<T>(n ? n : 1);
    if (!items) return 0;
    *arr = items;
    size_t idx, max;
    yyjson_val *e;
    yyjson_arr_foreach(val, idx, max, e) {
        if (yyjson_is_obj(e)) decode_object(e, items[(*count)++], TQMOVIE_DETAIL_ALL);
    }
    return 0;
}

// Row I of R from the members found under its spellings (m[0] the key, then the
// others). 0, or -1 when a list could not be allocated.
template <typename R, size_t I> int decode_field(yyjson_val *const *m, R &r, uint32_t sections) noexcept {
    constexpr auto &f = tq_fields::at<R, I>;
    constexpr size_t n = tq_fields::spellings(f);
    auto &out = r.*f.at;
    if constexpr (f.kind == tq_kind::text) {
        out = dup_str(m[0]);
        for (size_t k = 1; k < n; ++k)
            if (!out) out = dup_str(m[k]);
    } else if constexpr (f.kind == tq_kind::id) {
        yyjson_val *v = m[0];
        for (size_t k = 1; k < n; ++k)
            if (!yyjson_is_str(v)) v = m[k];
        out = dup_str(v);
    } else if constexpr (f.kind == tq_kind::image) {
        out = clean_na(m[0]);
    } else if constexpr (f.kind == tq_kind::joined) {
        return joined_text(m[0], &out);
    } else if constexpr (f.kind == tq_kind::number) {
        ji(m[0], &out);
    } else if constexpr (f.kind == tq_kind::flag) {
        jb(m[0], &out);
    } else if constexpr (f.kind == tq_kind::real) {
        out = num(m[0], out);
    } else if constexpr (f.kind == tq_kind::items) {
        // The other spelling is older, read only when the key is missing altogether.
        return load_items(m[0] ? m[0] : m[1], &out, &(r.*f.count));
    } else {
        if (f.section && !(sections & f.section)) return 0;
        size_t *count = &(r.*f.count);
        if constexpr (f.kind == tq_kind::texts) return load_str_arr(m[0], &out, count);
        if constexpr (f.kind == tq_kind::names) return load_names(m[0], &out, count);
        if constexpr (f.kind == tq_kind::genres) return load_genres(m[0], &out, count);
        if constexpr (f.kind == tq_kind::ratings) return load_ratings(m[0], &out, count);
        if constexpr (f.kind == tq_kind::records) return load_list(m[0], &out, count);
    }
    return 0;
}

// Decodes obj into r (an empty record), row by row in table order, stopping at the
// first list that cannot be allocated: 0, or -1 (r then holds what was decoded).
template <typename R> int decode_object(yyjson_val *obj, R &r, uint32_t sections) noexcept {
    constexpr auto &ks = keys_of<R>;
    static_assert(indexes_all(ks), "a key is empty, longer than kMaxKeyLen or listed twice");
    yyjson_val *m[std::size(ks.keys)];
    collect_members(obj, ks, m);
    const bool decoded = tq_fields::all<R>([&](auto i) {
        constexpr size_t slot = slot_of<R>(i);
        return decode_field<R, i>(m + slot, r, sections) == 0;
    });
    return decoded ? 0 : -1;
}

// ----------------------------------------------------------------------------
// Documents
// ----------------------------------------------------------------------------

// Parses a body strictly. NULL after setting the error text when the body is
// missing or not JSON; *status then holds the code to return.
yyjson_doc *read_body(tqmovie_client &c, const char *body, size_t len, int32_t *status) noexcept {
    if (!body) {
        *status = tq_fail(c, TQMOVIE_ERR_EMPTY, tq_err_empty_body);
        return nullptr;
    }
    if (len == 0) len = std::strlen(body);
    bool dense = false;
    yyjson_doc *doc = tq_json_read(body, len, &dense);
    if (!doc) *status = tq_fail(c, TQMOVIE_ERR_PARSE, dense ? tq_err_too_dense : "yyjson parse failed");
    return doc;
}

// The procedure shared by the three documents: a null root holds nothing, an array
// root gives one record per object element that decodes (null elements and other
// values are skipped; an element that runs out of memory is dropped), up to `most`
// records (the rest are never built), and any other root is the document's own
// business (Doc::other_root).
template <typename Doc>
int32_t parse_records(tqmovie_client &c, const char *body, size_t len, typename Doc::rec **out, size_t *count,
                      const Doc &d, size_t most = SIZE_MAX) noexcept {
    using Rec = typename Doc::rec;
    *out = nullptr;
    *count = 0;
    int32_t status = TQMOVIE_OK;
    json_doc doc(read_body(c, body, len, &status));
    if (!doc) return status;
    yyjson_val *root = yyjson_doc_get_root(doc.get());

    if (yyjson_is_arr(root)) {
        const size_t n = unsafe_yyjson_get_len(root) < most ? unsafe_yyjson_get_len(root) : most;
        Rec *recs = tq_calloc_n<Rec>(n ? n : 1);
        if (!recs) return TQMOVIE_ERR_NOMEM;
        size_t k = 0, idx, max;
        yyjson_val *e;
        yyjson_arr_foreach(root, idx, max, e) {
            if (k == n) break;
            if (yyjson_is_null(e)) continue;
            tq_reset(&recs[k]);
            if (!yyjson_is_obj(e)) continue;
            if (d.decode(e, &recs[k]) == 0)
                ++k;
            else
                tq_release(&recs[k]);
        }
        *out = recs;
        *count = k;
        return k > 0 ? TQMOVIE_OK : TQMOVIE_ERR_EMPTY;
    }
    if (yyjson_is_null(root)) return TQMOVIE_ERR_EMPTY;
    return d.other_root(c, root, out, count);
}

// The other roots of the basic and detail documents: refused where an array is
// expected, else an object is one record that must carry an id or a title.
template <typename Doc>
int32_t one_record(tqmovie_client &c, const Doc &d, yyjson_val *root, typename Doc::rec **out, size_t *count) noexcept {
    using Rec = typename Doc::rec;
    if (d.expect_array) return tq_fail(c, TQMOVIE_ERR_PARSE, "expected JSON array");
    if (!yyjson_is_obj(root)) return tq_fail(c, TQMOVIE_ERR_PARSE, "unexpected JSON root type");
    malloc_ptr<Rec> rec(tq_calloc_n<Rec>(1));
    if (!rec) return TQMOVIE_ERR_NOMEM;
    tq_reset(rec.get());
    if (d.decode(root, rec.get()) != 0) {
        tq_release(rec.get());
        return tq_fail(c, TQMOVIE_ERR_PARSE, Doc::obj_fail);
    }
    if (!rec->imdb_id && !rec->title) {
        tq_release(rec.get());
        // An id or a title that was there but could not be copied is memory running
        // out, not an empty answer.
        bool had = yyjson_is_str(yyjson_obj_get(root, "title"));
        for (const char *key : tq_id_keys) had = had || yyjson_is_str(yyjson_obj_get(root, key));
        return had ? TQMOVIE_ERR_NOMEM : TQMOVIE_ERR_EMPTY;
    }
    *out = rec.release();
    *count = 1;
    return TQMOVIE_OK;
}

// The three documents: basic and detail records, whose object root is one record,
// and translation sets.
template <typename R> struct record_doc {
    using rec = R;
    static constexpr const char *obj_fail =
        std::is_same_v<R, tq_basic> ? "basic object parse failed" : "detail object parse failed";
    int32_t expect_array;
    uint32_t sections;
    int decode(yyjson_val *obj, R *r) const noexcept { return decode_object(obj, *r, sections); }
    int32_t other_root(tqmovie_client &c, yyjson_val *root, R **out, size_t *count) const noexcept {
        return one_record(c, *this, root, out, count);
    }
};

// A mask of 0 reads as every section.
constexpr uint32_t all_if_none(uint32_t sections) noexcept { return sections ? sections : TQMOVIE_DETAIL_ALL; }

record_doc<tq_basic> basic_doc(int32_t expect_array) noexcept { return {expect_array, TQMOVIE_DETAIL_ALL}; }
record_doc<tq_detail> detail_doc(int32_t expect_array, uint32_t sections) noexcept {
    return {expect_array, all_if_none(sections)};
}

// A translations answer is a list; a single object is not the batch answer (one empty
// set, nothing decoded) and a scalar is refused.
struct trans_doc {
    using rec = tq_trans;
    static int decode(yyjson_val *obj, tq_trans *set) noexcept { return decode_object(obj, *set, TQMOVIE_DETAIL_ALL); }
    static int32_t other_root(tqmovie_client &c, yyjson_val *root, tq_trans **out, size_t *) noexcept {
        if (!yyjson_is_obj(root)) return tq_fail(c, TQMOVIE_ERR_PARSE, "expected translations array");
        *out = tq_calloc_n<tq_trans>(1);
        return *out ? TQMOVIE_ERR_EMPTY : TQMOVIE_ERR_NOMEM;
    }
};

// The object decoders: the empty record, then -1 for anything but an object.
template <typename R> int32_t parse_obj(const yyjson_val *obj, R *out, uint32_t sections) noexcept {
    tq_reset(out);
    auto *o = const_cast<yyjson_val *>(obj);
    if (!yyjson_is_obj(o)) return -1;
    return decode_object(o, *out, sections);
}

} // namespace

extern "C" {

int32_t tq_parse_basic_obj(const yyjson_val *obj, tq_basic *out) { return parse_obj(obj, out, TQMOVIE_DETAIL_ALL); }

int32_t tq_parse_basic_doc(const char *body, size_t len, tq_basic **out, size_t *count, int32_t expect_array) {
    return parse_records(client(), body, len, out, count, basic_doc(expect_array));
}

int32_t tq_parse_detail_obj(const yyjson_val *obj, tq_detail *out, uint32_t sections) {
    return parse_obj(obj, out, all_if_none(sections));
}

int32_t tq_parse_detail_doc(const char *body, size_t len, tq_detail **out, size_t *count, int32_t expect_array,
                            uint32_t sections) {
    return parse_records(client(), body, len, out, count, detail_doc(expect_array, sections));
}

int32_t tq_parse_trans_doc(const char *body, size_t len, tq_trans **out, size_t *count) {
    return parse_records(client(), body, len, out, count, trans_doc{});
}

} // extern "C"

int32_t tq_parse_basic_most(tqmovie_client &c, const char *body, tq_basic **out, size_t *count, int32_t expect_array,
                            size_t most) noexcept {
    return parse_records(c, body, std::strlen(body), out, count, basic_doc(expect_array), most);
}

int32_t tq_parse_detail_most(tqmovie_client &c, const char *body, tq_detail **out, size_t *count, int32_t expect_array,
                             uint32_t sections, size_t most) noexcept {
    return parse_records(c, body, std::strlen(body), out, count, detail_doc(expect_array, sections), most);
}

int32_t tq_parse_trans_most(tqmovie_client &c, const char *body, tq_trans **out, size_t *count, size_t most) noexcept {
    return parse_records(c, body, std::strlen(body), out, count, trans_doc{}, most);
}
