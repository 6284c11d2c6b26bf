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

namespace {

// ----------------------------------------------------------------------------
// Member lookup
//
// Each decoder walks an object's members once and files the value of the FIRST
// member under every key it knows; later members with the same key are never
// consulted, even when the first one has the wrong type for its field. Scanning
// the object again per field would make a record with n fields cost n walks.
// ----------------------------------------------------------------------------

struct key_name {
    const char *text;
    size_t len;
};

template <size_t N> constexpr key_name key(const char (&s)[N]) noexcept { return key_name{s, N - 1}; }

// Every key the decoders know is at most this long.
constexpr size_t kMaxKeyLen = 16;

// The keys of one kind of object, with their slot numbers grouped by key length, so
// that a member is compared only with the keys of its own length (one to three).
template <size_t N> struct key_set {
    key_name keys[N];
    uint8_t by_len[N];             // slot numbers, shortest keys first
    uint8_t first[kMaxKeyLen + 2]; // by_len[first[len]] .. by_len[first[len + 1] - 1]
};

template <size_t N> constexpr key_set<N> make_key_set(const key_name (&keys)[N]) noexcept {
    key_set<N> ks{};
    size_t at = 0;
    for (size_t i = 0; i < N; ++i) ks.keys[i] = keys[i];
    for (size_t len = 0; len <= kMaxKeyLen; ++len) {
        ks.first[len] = static_cast<uint8_t>(at);
        for (size_t i = 0; i < N; ++i)
            if (keys[i].len == len) ks.by_len[at++] = static_cast<uint8_t>(i);
    }
    ks.first[kMaxKeyLen + 1] = static_cast<uint8_t>(at);
    return ks;
}

// True when every key found its place, i.e. none is empty or longer than kMaxKeyLen.
template <size_t N> constexpr bool indexes_all(const key_set<N> &ks) noexcept {
    return ks.first[0] == 0 && ks.first[1] == 0 && ks.first[kMaxKeyLen + 1] == N;
}

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
            if (!same_bytes(ks.keys[i].text, s, len)) continue;
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
// Basic records
// ----------------------------------------------------------------------------

enum basic_slot : size_t {
    B_IMDB_ID,
    B_IMDB_ID_UPPER,
    B_IMDB_ID_LOWER,
    B_TITLE,
    B_TAGLINE,
    B_PLOT,
    B_POSTER,
    B_PICTURE,
    B_ID,
    B_YEAR,
    B_DURATION,
    B_IS_TV,
    B_DIRECTORS,
    B_GENRES,
    B_RATINGS,
    B_SLOTS
};

constexpr auto basic_keys = make_key_set<B_SLOTS>({
    key("imDbId"),
    key("IMDbId"),
    key("imdbId"),
    key("title"),
    key("tagLine"),
    key("plot"),
    key("posterUrl"),
    key("pictureUrl"),
    key("id"),
    key("year"),
    key("duration"),
    key("isTVShow"),
    key("directors"),
    key("genres"),
    key("ratings"),
});
static_assert(indexes_all(basic_keys));

// A copy of the id under its three spellings; the next spelling counts only when the
// previous one has no string member.
char *imdb_id_of(yyjson_val *a, yyjson_val *b, yyjson_val *c) noexcept {
    return dup_str(yyjson_is_str(a) ? a : yyjson_is_str(b) ? b : c);
}

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

int decode_basic(yyjson_val *const (&m)[B_SLOTS], tq_basic *out) noexcept {
    out->imdb_id = imdb_id_of(m[B_IMDB_ID], m[B_IMDB_ID_UPPER], m[B_IMDB_ID_LOWER]);
    out->title = dup_str(m[B_TITLE]);
    out->tagline = dup_str(m[B_TAGLINE]);
    out->plot = dup_str(m[B_PLOT]);
    out->poster_url = clean_na(m[B_POSTER]);
    out->picture_url = clean_na(m[B_PICTURE]);

    ji(m[B_ID], &out->id);
    ji(m[B_YEAR], &out->year);
    ji(m[B_DURATION], &out->duration);
    jb(m[B_IS_TV], &out->is_tv);

    yyjson_val *dir = m[B_DIRECTORS];
    if (yyjson_is_arr(dir)) {
        if (load_str_arr(dir, &out->directors, &out->directors_count) != 0) return -1;
    } else if (yyjson_is_str(dir)) {
        // One name as sent, even an empty one: the service's free-text field.
        char **one = tq_calloc_n<char *>(1);
        if (!one) return -1;
        out->directors = one;
        one[0] = dup_str(dir);
        out->directors_count = 1;
    }

    yyjson_val *gen = m[B_GENRES];
    if (yyjson_is_arr(gen)) {
        if (load_str_arr(gen, &out->genres, &out->genres_count) != 0) return -1;
    } else if (yyjson_is_str(gen) && unsafe_yyjson_get_str(gen)[0] != '\0') {
        if (split_genres(unsafe_yyjson_get_str(gen), &out->genres, &out->genres_count) != 0) return -1;
    }

    yyjson_val *rat = m[B_RATINGS];
    if (yyjson_is_obj(rat)) {
        const size_t n = unsafe_yyjson_get_len(rat);
        tq_rating *r = tq_calloc_n<tq_rating>(n ? n : 1);
        if (!r) return -1;
        out->ratings = r;
        size_t idx, max;
        yyjson_val *k, *v;
        yyjson_obj_foreach(rat, idx, max, k, v) {
            r[idx].source = dup_str(k);
            r[idx].value = num(v, 0.0);
        }
        out->ratings_count = n;
    }
    return 0;
}

// ----------------------------------------------------------------------------
// Detail records
// ----------------------------------------------------------------------------

enum detail_slot : size_t {
    D_IMDB_ID,
    D_IMDB_ID_UPPER,
    D_IMDB_ID_LOWER,
    D_TITLE,
    D_ORIGINAL_TITLE,
    D_TAGLINE,
    D_PLOT,
    D_POSTER,
    D_PICTURE,
    D_TITLE_TYPE,
    D_TRAILER,
    D_EXTENSION1,
    D_LOGO,
    D_GENRES,
    D_DIRECTORS,
    D_ID,
    D_START_YEAR,
    D_END_YEAR,
    D_RUNTIME,
    D_IS_TV,
    D_RATING,
    D_CASTS,
    D_RELATED,
    D_PICTURES,
    D_PROVIDERS,
    D_VIDEOS,
    D_SLOTS
};

constexpr auto detail_keys = make_key_set<D_SLOTS>({
    key("imDbId"),     key("IMDbId"),     key("imdbId"),         key("title"),          key("originalTitle"),
    key("tagLine"),    key("plot"),       key("posterUrl"),      key("pictureUrl"),     key("titleType"),
    key("trailerUrl"), key("extension1"), key("logoBase64"),     key("genres"),         key("directors"),
    key("id"),         key("startYear"),  key("endYear"),        key("runtimeMinutes"), key("isTVShow"),
    key("imDbRating"), key("casts"),      key("relatedIMDbIds"), key("pictures"),       key("watchProviders"),
    key("videos"),
});
static_assert(indexes_all(detail_keys));

enum cast_slot : size_t { C_NAME, C_ID, C_POSTER, C_ROLE, C_BIRTHDAY, C_SLOTS };
constexpr auto cast_keys =
    make_key_set<C_SLOTS>({key("name"), key("idOrName"), key("poster"), key("characterOrRole"), key("birthday")});
static_assert(indexes_all(cast_keys));

enum picture_slot : size_t { P_LANGUAGE, P_URL, P_WIDTH, P_HEIGHT, P_SLOTS };
constexpr auto picture_keys = make_key_set<P_SLOTS>({key("language"), key("url"), key("width"), key("height")});
static_assert(indexes_all(picture_keys));

enum provider_slot : size_t { W_COUNTRY, W_ID, W_NAME, W_LOGO, W_LOGO_ALT, W_TYPE, W_PRIORITY, W_SLOTS };
constexpr auto provider_keys =
    make_key_set<W_SLOTS>({key("countryCode"), key("providerId"), key("providerName"), key("logoUrl"),
                           key("myProperty"), key("watchType"), key("displayPriority")});
static_assert(indexes_all(provider_keys));

enum video_slot : size_t { V_ID, V_KEY, V_NAME, V_SITE, V_TYPE, V_LANG, V_REGION, V_SIZE, V_SLOTS };
constexpr auto video_keys = make_key_set<V_SLOTS>(
    {key("id"), key("key"), key("name"), key("site"), key("type"), key("iso_639_1"), key("iso_3166_1"), key("size")});
static_assert(indexes_all(video_keys));

void fill_cast(yyjson_val *obj, tq_cast *c) noexcept {
    yyjson_val *m[C_SLOTS];
    collect_members(obj, cast_keys, m);
    c->name = dup_str(m[C_NAME]);
    c->id = dup_str(m[C_ID]);
    c->poster = dup_str(m[C_POSTER]);
    c->role = dup_str(m[C_ROLE]);
    c->birthday = dup_str(m[C_BIRTHDAY]);
}

void fill_picture(yyjson_val *obj, tq_picture *p) noexcept {
    yyjson_val *m[P_SLOTS];
    collect_members(obj, picture_keys, m);
    p->language = dup_str(m[P_LANGUAGE]);
    p->url = dup_str(m[P_URL]);
    ji(m[P_WIDTH], &p->width);
    ji(m[P_HEIGHT], &p->height);
}

void fill_provider(yyjson_val *obj, tq_provider *p) noexcept {
    yyjson_val *m[W_SLOTS];
    collect_members(obj, provider_keys, m);
    p->country = dup_str(m[W_COUNTRY]);
    p->provider_id = dup_str(m[W_ID]);
    p->name = dup_str(m[W_NAME]);
    // Older answers carry the logo under a generated name.
    p->logo = dup_str(m[W_LOGO]);
    if (!p->logo) p->logo = dup_str(m[W_LOGO_ALT]);
    p->type = dup_str(m[W_TYPE]);
    ji(m[W_PRIORITY], &p->display_priority);
}

void fill_video(yyjson_val *obj, tq_video *v) noexcept {
    yyjson_val *m[V_SLOTS];
    collect_members(obj, video_keys, m);
    v->id = dup_str(m[V_ID]);
    v->key = dup_str(m[V_KEY]);
    v->name = dup_str(m[V_NAME]);
    v->site = dup_str(m[V_SITE]);
    v->type = dup_str(m[V_TYPE]);
    v->lang = dup_str(m[V_LANG]);
    v->region = dup_str(m[V_REGION]);
    ji(m[V_SIZE], &v->size);
}

// One sub-record per object element of an array member; other elements are skipped.
// The array is allocated for every element up front and kept even when none is an
// object. 0, or -1 when it could not be allocated (the list stays NULL, 0).
template <typename T, typename Fill> int load_list(yyjson_val *val, T **arr, size_t *count, Fill fill) noexcept {
    const size_t n = yyjson_arr_size(val); // 0 for NULL and non-arrays
    if (n == 0) return 0;
    T *items = tq_calloc_n<T>(n);
    if (!items) return -1;
    *arr = items;
    size_t idx, max;
    yyjson_val *e;
    yyjson_arr_foreach(val, idx, max, e) {
        if (yyjson_is_obj(e)) fill(e, &items[(*count)++]);
    }
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

int decode_detail(yyjson_val *const (&m)[D_SLOTS], tq_detail *out, uint32_t sections) noexcept {
    if (sections == 0) sections = TQMOVIE_DETAIL_ALL;

    out->imdb_id = imdb_id_of(m[D_IMDB_ID], m[D_IMDB_ID_UPPER], m[D_IMDB_ID_LOWER]);
    out->title = dup_str(m[D_TITLE]);
    out->original_title = dup_str(m[D_ORIGINAL_TITLE]);
    out->tagline = dup_str(m[D_TAGLINE]);
    out->plot = dup_str(m[D_PLOT]);
    out->poster_url = clean_na(m[D_POSTER]);
    out->picture_url = clean_na(m[D_PICTURE]);
    out->title_type = dup_str(m[D_TITLE_TYPE]);
    out->trailer_url = dup_str(m[D_TRAILER]);
    out->extension1 = dup_str(m[D_EXTENSION1]);
    out->logo_base64 = dup_str(m[D_LOGO]);

    if (joined_text(m[D_GENRES], &out->genres) != 0) return -1;
    if (joined_text(m[D_DIRECTORS], &out->directors) != 0) return -1;

    ji(m[D_ID], &out->id);
    ji(m[D_START_YEAR], &out->start_year);
    ji(m[D_END_YEAR], &out->end_year);
    ji(m[D_RUNTIME], &out->runtime);
    jb(m[D_IS_TV], &out->is_tv);
    out->imdb_rating = num(m[D_RATING], out->imdb_rating);

    if (sections & TQMOVIE_DETAIL_CAST) {
        if (load_list(m[D_CASTS], &out->cast, &out->cast_count, fill_cast) != 0) return -1;
        if (load_str_arr(m[D_RELATED], &out->related, &out->related_count) != 0) return -1;
    }
    if (sections & TQMOVIE_DETAIL_PICTURES) {
        if (load_list(m[D_PICTURES], &out->pictures, &out->picture_count, fill_picture) != 0) return -1;
    }
    if (sections & TQMOVIE_DETAIL_PROVIDERS) {
        if (load_list(m[D_PROVIDERS], &out->providers, &out->provider_count, fill_provider) != 0) return -1;
    }
    if (sections & TQMOVIE_DETAIL_VIDEOS) {
        if (load_list(m[D_VIDEOS], &out->videos, &out->video_count, fill_video) != 0) return -1;
    }
    return 0;
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
    // Without read flags yyjson copies the input and never writes to it.
    yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(body), len, 0, nullptr, nullptr);
    if (!doc) *status = tq_fail(c, TQMOVIE_ERR_PARSE, "yyjson parse failed");
    return doc;
}

// The procedure shared by the three documents: a null root holds nothing, an array
// root gives one record per object element that decodes (null elements and other
// values are skipped; an element that runs out of memory is dropped), up to `most`
// records (the rest are never built), and any other root is the document's own
// business (Doc::other_root).
template <typename Doc>
int32_t parse_records(tqmovie_client &c, const char *body, size_t len, typename Doc::rec **out, size_t *count, const Doc &d,
                      size_t most = SIZE_MAX) noexcept {
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
        return TQMOVIE_ERR_EMPTY;
    }
    *out = rec.release();
    *count = 1;
    return TQMOVIE_OK;
}

// ----------------------------------------------------------------------------
// Translation sets
// ----------------------------------------------------------------------------

enum trans_slot : size_t { T_IMDB_ID, T_IMDB_ID_UPPER, T_IMDB_ID_LOWER, T_ITEMS, T_ITEMS_UPPER, T_SLOTS };
constexpr auto trans_keys =
    make_key_set<T_SLOTS>({key("imDbId"), key("IMDbId"), key("imdbId"), key("items"), key("Items")});
static_assert(indexes_all(trans_keys));

// Each item field has a camel-case key and a capitalised one; the second is read
// when the first gives no string.
enum item_slot : size_t {
    I_TITLE,
    I_TITLE_UPPER,
    I_TAGLINE,
    I_TAGLINE_UPPER,
    I_PLOT,
    I_PLOT_UPPER,
    I_DIRECTORS,
    I_DIRECTORS_UPPER,
    I_ACTORS,
    I_ACTORS_UPPER,
    I_LANG,
    I_LANG_UPPER,
    I_REGION,
    I_REGION_UPPER,
    I_SLOTS
};
constexpr auto item_keys = make_key_set<I_SLOTS>({
    key("title"),
    key("Title"),
    key("tagLine"),
    key("TagLine"),
    key("plot"),
    key("Plot"),
    key("directors"),
    key("Directors"),
    key("actors"),
    key("Actors"),
    key("iso_639_1"),
    key("ISO_639_1"),
    key("iso_3166_1"),
    key("ISO_3166_1"),
});
static_assert(indexes_all(item_keys));

char *either(yyjson_val *first, yyjson_val *second) noexcept {
    char *s = dup_str(first);
    return s ? s : dup_str(second);
}

void fill_item(yyjson_val *obj, tq_trans_item *it) noexcept {
    yyjson_val *m[I_SLOTS];
    collect_members(obj, item_keys, m);
    it->title = either(m[I_TITLE], m[I_TITLE_UPPER]);
    it->tagline = either(m[I_TAGLINE], m[I_TAGLINE_UPPER]);
    it->plot = either(m[I_PLOT], m[I_PLOT_UPPER]);
    it->directors = either(m[I_DIRECTORS], m[I_DIRECTORS_UPPER]);
    it->actors = either(m[I_ACTORS], m[I_ACTORS_UPPER]);
    it->lang = either(m[I_LANG], m[I_LANG_UPPER]);
    it->region = either(m[I_REGION], m[I_REGION_UPPER]);
}

int fill_set(yyjson_val *obj, tq_trans *set) noexcept {
    yyjson_val *m[T_SLOTS];
    collect_members(obj, trans_keys, m);
    set->imdb_id = imdb_id_of(m[T_IMDB_ID], m[T_IMDB_ID_UPPER], m[T_IMDB_ID_LOWER]);
    // "Items" is an older spelling, read only when "items" is missing altogether.
    yyjson_val *items = m[T_ITEMS] ? m[T_ITEMS] : m[T_ITEMS_UPPER];
    if (!yyjson_is_arr(items)) return 0;
    const size_t n = unsafe_yyjson_get_len(items);
    tq_trans_item *arr = tq_calloc_n<tq_trans_item>(n ? n : 1);
    if (!arr) return 0; // a set without items is still worth handing out
    set->items = arr;
    size_t idx, max;
    yyjson_val *e;
    yyjson_arr_foreach(items, idx, max, e) {
        if (yyjson_is_obj(e)) fill_item(e, &arr[set->items_count++]);
    }
    return 0;
}

// The three documents.
struct basic_doc {
    using rec = tq_basic;
    static constexpr const char *obj_fail = "basic object parse failed";
    int32_t expect_array;
    static int decode(yyjson_val *obj, tq_basic *r) noexcept { return tq_parse_basic_obj(obj, r); }
    int32_t other_root(tqmovie_client &c, yyjson_val *root, tq_basic **out, size_t *count) const noexcept {
        return one_record(c, *this, root, out, count);
    }
};

struct detail_doc {
    using rec = tq_detail;
    static constexpr const char *obj_fail = "detail object parse failed";
    int32_t expect_array;
    uint32_t sections;
    int decode(yyjson_val *obj, tq_detail *r) const noexcept { return tq_parse_detail_obj(obj, r, sections); }
    int32_t other_root(tqmovie_client &c, yyjson_val *root, tq_detail **out, size_t *count) const noexcept {
        return one_record(c, *this, root, out, count);
    }
};

// A translations answer is a list; a single object is not the batch answer (one empty
// set, nothing decoded) and a scalar is refused.
struct trans_doc {
    using rec = tq_trans;
    static int decode(yyjson_val *obj, tq_trans *set) noexcept { return fill_set(obj, set); }
    static int32_t other_root(tqmovie_client &c, yyjson_val *root, tq_trans **out, size_t *) noexcept {
        if (!yyjson_is_obj(root)) return tq_fail(c, TQMOVIE_ERR_PARSE, "expected translations array");
        *out = tq_calloc_n<tq_trans>(1);
        return *out ? TQMOVIE_ERR_EMPTY : TQMOVIE_ERR_NOMEM;
    }
};

} // namespace

extern "C" {

int32_t tq_parse_basic_obj(const yyjson_val *obj, tq_basic *out) {
    tq_reset_basic(out);
    if (!yyjson_is_obj(const_cast<yyjson_val *>(obj))) return -1;
    yyjson_val *m[B_SLOTS];
    collect_members(obj, basic_keys, m);
    return decode_basic(m, out);
}

int32_t tq_parse_basic_doc(const char *body, size_t len, tq_basic **out, size_t *count, int32_t expect_array) {
    return parse_records(client(), body, len, out, count, basic_doc{expect_array});
}

int32_t tq_parse_detail_obj(const yyjson_val *obj, tq_detail *out, uint32_t sections) {
    tq_reset_detail(out);
    if (!yyjson_is_obj(const_cast<yyjson_val *>(obj))) return -1;
    yyjson_val *m[D_SLOTS];
    collect_members(obj, detail_keys, m);
    return decode_detail(m, out, sections);
}

int32_t tq_parse_detail_doc(const char *body, size_t len, tq_detail **out, size_t *count, int32_t expect_array,
                            uint32_t sections) {
    return parse_records(client(), body, len, out, count, detail_doc{expect_array, sections});
}

int32_t tq_parse_trans_doc(const char *body, size_t len, tq_trans **out, size_t *count) {
    return parse_records(client(), body, len, out, count, trans_doc{});
}

} // extern "C"

int32_t tq_parse_basic_most(tqmovie_client &c, const char *body, tq_basic **out, size_t *count,
                            int32_t expect_array, size_t most) noexcept {
    return parse_records(c, body, std::strlen(body), out, count, basic_doc{expect_array}, most);
}

int32_t tq_parse_detail_most(tqmovie_client &c, const char *body, tq_detail **out, size_t *count,
                             int32_t expect_array, uint32_t sections, size_t most) noexcept {
    return parse_records(c, body, std::strlen(body), out, count, detail_doc{expect_array, sections}, most);
}

int32_t tq_parse_trans_most(tqmovie_client &c, const char *body, tq_trans **out, size_t *count,
                            size_t most) noexcept {
    return parse_records(c, body, std::strlen(body), out, count, trans_doc{}, most);
}
