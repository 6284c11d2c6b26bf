// SPDX-License-Identifier: MIT
// The scaffold every fuzz target shares: checks that abort (libFuzzer keeps the input
// that caused it), input splitters, a host backend fed from the input that records what
// it is asked, and the store checks: every getter against the record's complete export,
// the summaries parsed, and the complete export decoded back into an equal record.
#ifndef TQ_FUZZ_COMMON_H
#define TQ_FUZZ_COMMON_H

#include "tqmovie.h"

#include <yyjson.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <iterator>
#include <span>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

// A violated invariant is a crash: libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(cond)                                                                                               \
  do {                                                                                                                 \
    if (!(cond)) {                                                                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                                    \
      std::abort();                                                                                                    \
    }                                                                                                                  \
  } while (0)

// Two texts that must be equal; both are printed when they are not.
inline void fuzz_same(const std::string &got, const std::string &want, const char *what) {
    if (got == want) return;
    std::fprintf(stderr, "%s differs:\n  got:  %s\n  want: %s\n", what, got.c_str(), want.c_str());
    std::abort();
}

// A text the library handed over (released here); NULL is a failed check.
inline std::string take_text(char *p) {
    FUZZ_CHECK(p != nullptr);
    std::string s(p);
    std::free(p);
    return s;
}

// The decoders read len bytes, or measure a NUL-terminated text when len is 0: give
// them a terminated copy so that an empty input cannot make them read past the end.
// lengths(): the whole input and, when it holds a NUL, the text up to it, which is
// what the library passes for a body a backend handed over.
struct fuzz_body {
    char *text;
    size_t len;
    fuzz_body(const uint8_t *data, size_t size) : text(static_cast<char *>(std::malloc(size + 1))), len(size) {
        if (!text) std::abort();
        if (size) std::memcpy(text, data, size);
        text[size] = '\0';
        lens_[0] = size;
        lens_[1] = std::strlen(text);
    }
    ~fuzz_body() { std::free(text); }
    fuzz_body(const fuzz_body &) = delete;
    fuzz_body &operator=(const fuzz_body &) = delete;
    std::span<const size_t> lengths() const { return {lens_, lens_[1] == lens_[0] ? 1u : 2u}; }

private:
    size_t lens_[2];
};

inline bool is_status(int32_t st) {
    return st == TQMOVIE_OK || st == TQMOVIE_ERR_PARSE || st == TQMOVIE_ERR_EMPTY || st == TQMOVIE_ERR_NOMEM;
}

// What every record decoder promises about its outputs, whatever the input.
template <typename Rec> void check_outputs(int32_t st, const Rec *out, size_t count, int32_t expect_array) {
    FUZZ_CHECK(is_status(st));
    if (count > 0) FUZZ_CHECK(out != nullptr);
    if (st == TQMOVIE_OK) FUZZ_CHECK(count > 0);
    if (st != TQMOVIE_OK) FUZZ_CHECK(count == 0);
    if (st == TQMOVIE_ERR_PARSE) {
        FUZZ_CHECK(out == nullptr);
        const char *err = tqmovie_last_error();
        FUZZ_CHECK(std::strcmp(err, "yyjson parse failed") == 0 || std::strcmp(err, "expected JSON array") == 0 ||
                   std::strcmp(err, "unexpected JSON root type") == 0 ||
                   std::strcmp(err, "basic object parse failed") == 0 ||
                   std::strcmp(err, "detail object parse failed") == 0);
        if (expect_array) FUZZ_CHECK(std::strcmp(err, "unexpected JSON root type") != 0);
    }
}

// Lists: a positive count needs an array.
template <typename T> void check_list(const T *arr, size_t count) {
    if (count > 0) FUZZ_CHECK(arr != nullptr);
}

// ----------------------------------------------------------------------------
// Splitting the input
// ----------------------------------------------------------------------------

// The input's NUL-separated fields, at most `most` (the last one ends at the next NUL).
inline std::vector<std::string> split_fields(const uint8_t *data, size_t size, size_t most) {
    std::vector<std::string> out;
    const char *p = reinterpret_cast<const char *>(data), *end = p + size;
    while (out.size() < most) {
        const char *nul = static_cast<const char *>(std::memchr(p, '\0', static_cast<size_t>(end - p)));
        out.emplace_back(p, nul ? nul : end);
        if (!nul) break;
        p = nul + 1;
    }
    return out;
}

// A list of ids for the batch calls: "-" stands for a NULL entry.
struct fuzz_ids {
    std::vector<std::string> text;
    std::vector<const char *> ptr;
    explicit fuzz_ids(std::vector<std::string> ids) : text(std::move(ids)) {
        for (const std::string &s : text) ptr.push_back(s == "-" ? nullptr : s.c_str());
    }
    size_t size() const { return ptr.size(); }
    // The first id that a batch must refuse (a comma, white space or a control byte), or -1.
    long first_refused(const char **what) const {
        for (size_t i = 0; i < ptr.size(); ++i)
            for (const char *p = ptr[i]; p && *p; ++p) {
                const auto c = static_cast<unsigned char>(*p);
                *what = c == ','                ? "a comma"
                        : c == ' '              ? "white space"
                        : c < 0x20 || c == 0x7F ? "a control byte"
                                                : nullptr;
                if (*what) return static_cast<long>(i);
            }
        return -1;
    }
};

// What the ids join to in a request body: the non-NULL ones, a comma before each but
// the first written.
inline std::string join_model(const char *const *ids, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        if (!ids[i]) continue;
        if (!out.empty()) out += ',';
        out += ids[i];
    }
    return out;
}

// A query value percent-encoded: RFC 3986 unreserved bytes as they are, others %XX.
inline std::string encode_model(const char *s) {
    std::string out;
    for (; s && *s; ++s) {
        const auto c = static_cast<unsigned char>(*s);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char esc[4];
            std::snprintf(esc, sizeof esc, "%%%02X", c);
            out += esc;
        }
    }
    return out;
}

// ----------------------------------------------------------------------------
// A host backend fed from the input
// ----------------------------------------------------------------------------

// What the backend answers to every request. Spelled in an input as "<status>[ <ids>]"
// on the first line (a negative status is a transport failure, -2 one marked worth
// another attempt; ids comma-separated), "<name>:<value>" header lines up to an empty
// line, then the body: the rest, NULs included. An input without the empty line has
// no body.
struct fuzz_answer {
    int32_t status = 200;
    std::vector<std::string> ids;
    std::vector<std::pair<std::string, std::string>> headers;
    bool has_body = false;
    std::string body;
};

inline fuzz_answer parse_answer(const uint8_t *data, size_t size, size_t most_ids = 48, size_t most_headers = 48) {
    fuzz_answer a;
    const char *in = reinterpret_cast<const char *>(data);
    size_t pos = 0;
    // The next line; false when it ends the input without a line feed.
    auto next_line = [&](std::string &line) {
        const char *p = in + pos;
        const auto *nl = static_cast<const char *>(std::memchr(p, '\n', size - pos));
        const size_t n = nl ? static_cast<size_t>(nl - p) : size - pos;
        line.assign(p, n);
        pos += n + (nl ? 1 : 0);
        return nl != nullptr;
    };
    std::string line;
    bool complete = next_line(line);
    size_t i = 0, digits = 0;
    const bool negative = !line.empty() && line[0] == '-';
    int32_t v = 0;
    for (i = negative ? 1 : 0; i < line.size() && digits < 9 && line[i] >= '0' && line[i] <= '9'; ++i, ++digits)
        v = v * 10 + (line[i] - '0');
    if (digits) a.status = negative ? -v : v;
    if (i < line.size() && line[i] == ' ') {
        for (size_t at = i + 1; a.ids.size() < most_ids;) {
            const size_t comma = line.find(',', at);
            a.ids.push_back(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
            if (comma == std::string::npos) break;
            at = comma + 1;
        }
    }
    if (a.ids.empty()) a.ids.emplace_back("tt0111161");
    while (complete && pos < size) {
        complete = next_line(line);
        if (line.empty() && complete) {
            a.has_body = true;
            a.body.assign(in + pos, size - pos);
            break;
        }
        if (a.headers.size() == most_headers) continue;
        const size_t colon = line.find(':');
        a.headers.emplace_back(line.substr(0, colon), colon == std::string::npos ? "" : line.substr(colon + 1));
    }
    return a;
}

// A host backend: every request gets `answer`, its headers reported to `client` (NULL:
// the global state) with tqmovie_io_header while the request runs. Records every URL
// and POST body, and what tqmovie_io_header said to each header of the last request.
struct fuzz_backend {
    fuzz_answer answer;
    tqmovie_client *client = nullptr;
    std::vector<std::string> urls, posts;
    std::vector<int32_t> heard;

    tq_io table() { return tq_io{this, &get, &post, &release}; }
    size_t requests() const { return urls.size(); }
    void forget() {
        urls.clear();
        posts.clear();
        heard.clear();
    }
    size_t headers_stored() const {
        size_t n = 0;
        for (int32_t h : heard) n += h == 1;
        return n;
    }

private:
    static char *dup(const std::string &s) {
        char *p = static_cast<char *>(std::malloc(s.size() + 1));
        FUZZ_CHECK(p != nullptr);
        std::memcpy(p, s.data(), s.size());
        p[s.size()] = '\0';
        return p;
    }
    int32_t respond(const char *url, char **body, int32_t *status, char **err) {
        FUZZ_CHECK(url != nullptr && body != nullptr && status != nullptr);
        urls.emplace_back(url);
        heard.clear();
        for (const auto &h : answer.headers) {
            const int32_t r = tqmovie_io_header(client, h.first.c_str(), h.second.c_str());
            FUZZ_CHECK(r == 0 || r == 1);
            heard.push_back(r);
        }
        if (answer.status < 0) {
            if (answer.status == -2) tqmovie_io_retryable(client);
            if (err && answer.has_body) *err = dup(answer.body);
            return -1;
        }
        *status = answer.status;
        *body = answer.has_body ? dup(answer.body) : nullptr;
        return 0;
    }
    static int32_t get(void *ctx, const char *url, char **body, int32_t *status, char **err) {
        return static_cast<fuzz_backend *>(ctx)->respond(url, body, status, err);
    }
    static int32_t post(void *ctx, const char *url, const char *request_body, const char *type, char **body,
                        int32_t *status, char **err) {
        auto *self = static_cast<fuzz_backend *>(ctx);
        FUZZ_CHECK(request_body != nullptr && type != nullptr && std::strcmp(type, "text/plain") == 0);
        self->posts.emplace_back(request_body);
        return self->respond(url, body, status, err);
    }
    static void release(void *, void *p) { std::free(p); }
};

// A parsed JSON text (strict, as the library writes it).
struct fuzz_json {
    yyjson_doc *doc;
    explicit fuzz_json(const std::string &text) : doc(yyjson_read(text.data(), text.size(), 0)) {}
    ~fuzz_json() { yyjson_doc_free(doc); }
    fuzz_json(const fuzz_json &) = delete;
    fuzz_json &operator=(const fuzz_json &) = delete;
    yyjson_val *root() const { return yyjson_doc_get_root(doc); }
};

// A directory of this process's own (in memory when /dev/shm is there: cache saves sync
// their files), made on first use and removed with what it holds at exit.
inline const std::string &fuzz_temp_dir() {
    // Never destroyed, so that the exit handler still finds it.
    static const std::string &dir = *new std::string([] {
        const char *base = std::getenv("TMPDIR");
        if (!base || !*base) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = std::string(base) + "/tqmovie-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(tmpl.data()) != nullptr);
        std::atexit([] {
            nftw(
                fuzz_temp_dir().c_str(), [](const char *p, const struct stat *, int, FTW *) { return remove(p); }, 16,
                FTW_DEPTH | FTW_PHYS);
        });
        return tmpl;
    }());
    return dir;
}

// ----------------------------------------------------------------------------
// The store: getters against exports
// ----------------------------------------------------------------------------

namespace fuzz_store {

using text_fn = const char *(*)(int32_t);
using int_fn = int32_t (*)(int32_t);
using item_text_fn = const char *(*)(int32_t, int32_t);
using item_int_fn = int32_t (*)(int32_t, int32_t);
struct text_get {
    const char *key;
    text_fn get;
};
struct int_get {
    const char *key;
    int_fn get;
    int32_t empty;
}; // empty: left out of the export, and out of range
struct item_text_get {
    const char *key;
    item_text_fn get;
};
struct item_int_get {
    const char *key;
    item_int_fn get;
    int32_t empty;
};
struct list_get {
    const char *key, *summary_key;
    int_fn count;
    std::span<const item_text_get> texts;
    std::span<const item_int_get> ints;
};

// A text member against a getter: null for NULL, else the same bytes.
inline void same_text(yyjson_val *v, const char *got) {
    FUZZ_CHECK(v != nullptr);
    if (!got) {
        FUZZ_CHECK(yyjson_is_null(v));
        return;
    }
    FUZZ_CHECK(yyjson_is_str(v) && yyjson_get_len(v) == std::strlen(got) && std::strcmp(yyjson_get_str(v), got) == 0);
}
// A number member: left out only at its empty value.
inline void same_int(yyjson_val *v, int32_t got, int32_t empty) {
    if (!v) {
        FUZZ_CHECK(got == empty);
        return;
    }
    FUZZ_CHECK(yyjson_is_int(v) && yyjson_get_sint(v) == got);
}
inline void same_tv(yyjson_val *v, int32_t got) {
    if (!v || yyjson_is_null(v)) {
        FUZZ_CHECK(got == -1);
        return;
    }
    FUZZ_CHECK(yyjson_is_bool(v) && (yyjson_get_bool(v) ? 1 : 0) == got);
}
// A real: the complete export writes one that reads back the same (left out when NaN,
// null when not finite); the summaries write "%g".
inline void same_real(yyjson_val *v, double got, bool full) {
    if (!v) {
        FUZZ_CHECK(std::isnan(got));
        return;
    }
    if (yyjson_is_null(v)) {
        FUZZ_CHECK(!std::isfinite(got));
        return;
    }
    FUZZ_CHECK(std::isfinite(got) && yyjson_is_num(v));
    if (full)
        FUZZ_CHECK(yyjson_is_real(v) && yyjson_get_real(v) == got);
    else
        FUZZ_CHECK(std::fabs(yyjson_get_num(v) - got) <= 1e-5 * std::fabs(got) + 1e-300);
}
inline bool nan_out(double v) { return std::isnan(v) && !std::signbit(v); }

// A list of texts of record i; out-of-range elements read NULL.
inline void same_texts(yyjson_val *arr, int32_t n, item_text_fn get, int32_t i) {
    FUZZ_CHECK(n >= 0 && yyjson_is_arr(arr) && yyjson_arr_size(arr) == static_cast<size_t>(n));
    size_t j, max;
    yyjson_val *e;
    yyjson_arr_foreach(arr, j, max, e) same_text(e, get(i, static_cast<int32_t>(j)));
    FUZZ_CHECK(!get(i, -1) && !get(i, n) && !get(i, INT32_MIN));
}

// A list of sub-records of record i, member by member.
inline void same_objects(yyjson_val *arr, const list_get &l, int32_t i) {
    const int32_t n = l.count(i);
    FUZZ_CHECK(n >= 0 && yyjson_is_arr(arr) && yyjson_arr_size(arr) == static_cast<size_t>(n));
    size_t j, max;
    yyjson_val *e;
    yyjson_arr_foreach(arr, j, max, e) {
        FUZZ_CHECK(yyjson_is_obj(e));
        for (const auto &t : l.texts) same_text(yyjson_obj_get(e, t.key), t.get(i, static_cast<int32_t>(j)));
        for (const auto &m : l.ints) same_int(yyjson_obj_get(e, m.key), m.get(i, static_cast<int32_t>(j)), m.empty);
    }
    for (int32_t out : {-1, n, INT32_MAX}) {
        for (const auto &t : l.texts) FUZZ_CHECK(!t.get(i, out));
        for (const auto &m : l.ints) FUZZ_CHECK(m.get(i, out) == m.empty);
    }
}

// Which record a stored or decoded one is: its id and title (NULL told apart from "").
inline std::string record_key(const char *id, const char *title) {
    return (id ? "+" + std::string(id) : std::string("-")) + '\n' +
           (title ? "+" + std::string(title) : std::string("-"));
}
inline std::string key_of(const tq_basic &r) { return record_key(r.imdb_id, r.title); }
inline std::string key_of(const tq_detail &r) { return record_key(r.imdb_id, r.title); }
inline std::string key_of(const tq_trans &r) { return record_key(r.imdb_id, nullptr); }

// The keys of the records a decoder call gives, in order; none unless it returns OK.
template <typename Rec, typename Parse> std::vector<std::string> decoded_keys(Parse parse, void (*release)(Rec *)) {
    Rec *out = nullptr;
    size_t n = 0;
    const int32_t st = parse(&out, &n);
    std::vector<std::string> keys;
    for (size_t k = 0; k < n; ++k) {
        if (st == TQMOVIE_OK) keys.push_back(key_of(out[k]));
        release(&out[k]);
    }
    std::free(out);
    return keys;
}

// Record kinds. Each: its count, exports, a check of record i against a parsed export
// (complete or summary), the out-of-range values, the key of record i and those of a
// decoded document, and a batch lookup.
struct basic_kind {
    static constexpr text_get texts[] = {
        {"imDbId", tqmovie_basic_imdb_id},       {"title", tqmovie_basic_title},
        {"tagLine", tqmovie_basic_tagline},      {"plot", tqmovie_basic_plot},
        {"posterUrl", tqmovie_basic_poster_url}, {"pictureUrl", tqmovie_basic_picture_url}};
    static constexpr int_get ints[] = {
        {"id", tqmovie_basic_id, 0}, {"year", tqmovie_basic_year, -1}, {"duration", tqmovie_basic_duration, -1}};
    static int32_t count() { return tqmovie_basic_count(); }
    static char *full(int32_t i) { return tqmovie_basic_to_json_full(i); }
    static char *summary(int32_t i) { return tqmovie_basic_to_json(i); }
    static const char *imdb_id(int32_t i) { return tqmovie_basic_imdb_id(i); }
    static void check(int32_t i, yyjson_val *o, bool full) {
        FUZZ_CHECK(yyjson_is_obj(o));
        for (const auto &t : texts) same_text(yyjson_obj_get(o, t.key), t.get(i));
        for (const auto &m : ints) same_int(yyjson_obj_get(o, m.key), m.get(i), m.empty);
        same_tv(yyjson_obj_get(o, "isTVShow"), tqmovie_basic_is_tv(i));
        same_texts(yyjson_obj_get(o, "directors"), tqmovie_basic_directors_count(i), tqmovie_basic_director, i);
        same_texts(yyjson_obj_get(o, "genres"), tqmovie_basic_genres_count(i), tqmovie_basic_genre, i);
        yyjson_val *r = yyjson_obj_get(o, "ratings");
        const int32_t n = tqmovie_basic_ratings_count(i);
        FUZZ_CHECK(n >= 0 && yyjson_is_obj(r) && yyjson_obj_size(r) == static_cast<size_t>(n));
        size_t j, max;
        yyjson_val *k, *v;
        yyjson_obj_foreach(r, j, max, k, v) {
            const char *source = tqmovie_basic_rating_source(i, static_cast<int32_t>(j));
            same_text(k, source ? source : ""); // a source lost to memory is written ""
            same_real(v, tqmovie_basic_rating_value(i, static_cast<int32_t>(j)), full);
        }
        FUZZ_CHECK(!tqmovie_basic_rating_source(i, n) && nan_out(tqmovie_basic_rating_value(i, -1)));
    }
    static void check_absent(int32_t i) {
        for (const auto &t : texts) FUZZ_CHECK(!t.get(i));
        for (const auto &m : ints) FUZZ_CHECK(m.get(i) == m.empty);
        FUZZ_CHECK(tqmovie_basic_is_tv(i) == -1 && tqmovie_basic_directors_count(i) == 0 &&
                   tqmovie_basic_genres_count(i) == 0 && tqmovie_basic_ratings_count(i) == 0);
        FUZZ_CHECK(!tqmovie_basic_director(i, 0) && !tqmovie_basic_genre(i, 0) && !tqmovie_basic_rating_source(i, 0) &&
                   nan_out(tqmovie_basic_rating_value(i, 0)));
    }
    static std::string key(int32_t i) { return record_key(tqmovie_basic_imdb_id(i), tqmovie_basic_title(i)); }
    static std::vector<std::string> decode(const char *body, size_t len, int32_t expect_array) {
        return decoded_keys<tq_basic>(
            [&](tq_basic **out, size_t *n) { return tq_parse_basic_doc(body, len, out, n, expect_array); },
            tq_free_basic);
    }
    static int32_t batch(const char *const *ids, size_t n) { return tqmovie_get_basics(ids, n); }
};

struct detail_kind {
    // In the order of the export; the summary holds the first ten.
    static constexpr text_get texts[] = {{"imDbId", tqmovie_detail_imdb_id},
                                         {"title", tqmovie_detail_title},
                                         {"originalTitle", tqmovie_detail_original_title},
                                         {"tagLine", tqmovie_detail_tagline},
                                         {"plot", tqmovie_detail_plot},
                                         {"posterUrl", tqmovie_detail_poster_url},
                                         {"pictureUrl", tqmovie_detail_picture_url},
                                         {"titleType", tqmovie_detail_title_type},
                                         {"genres", tqmovie_detail_genres},
                                         {"directors", tqmovie_detail_directors},
                                         {"trailerUrl", tqmovie_detail_trailer_url},
                                         {"extension1", tqmovie_detail_extension1},
                                         {"logoBase64", tqmovie_detail_logo_base64}};
    static constexpr int_get ints[] = {{"id", tqmovie_detail_id, 0},
                                       {"startYear", tqmovie_detail_start_year, -1},
                                       {"endYear", tqmovie_detail_end_year, -1},
                                       {"runtimeMinutes", tqmovie_detail_runtime, -1}};
    static constexpr item_text_get cast[] = {{"name", tqmovie_detail_cast_name},
                                             {"idOrName", tqmovie_detail_cast_id},
                                             {"poster", tqmovie_detail_cast_poster},
                                             {"characterOrRole", tqmovie_detail_cast_role},
                                             {"birthday", tqmovie_detail_cast_birthday}};
    static constexpr item_text_get picture[] = {{"language", tqmovie_detail_picture_item_lang},
                                                {"url", tqmovie_detail_picture_item_url}};
    static constexpr item_int_get picture_ints[] = {{"width", tqmovie_detail_picture_item_w, 0},
                                                    {"height", tqmovie_detail_picture_item_h, 0}};
    static constexpr item_text_get provider[] = {{"countryCode", tqmovie_detail_provider_country},
                                                 {"providerId", tqmovie_detail_provider_id},
                                                 {"providerName", tqmovie_detail_provider_name},
                                                 {"logoUrl", tqmovie_detail_provider_logo},
                                                 {"watchType", tqmovie_detail_provider_type}};
    static constexpr item_int_get provider_ints[] = {{"displayPriority", tqmovie_detail_provider_priority, 0}};
    static constexpr item_text_get video[] = {{"id", tqmovie_detail_video_id},
                                              {"key", tqmovie_detail_video_key},
                                              {"name", tqmovie_detail_video_name},
                                              {"site", tqmovie_detail_video_site},
                                              {"type", tqmovie_detail_video_type},
                                              {"iso_639_1", tqmovie_detail_video_lang},
                                              {"iso_3166_1", tqmovie_detail_video_region}};
    static constexpr item_int_get video_ints[] = {{"size", tqmovie_detail_video_size, 0}};
    static constexpr list_get lists[] = {
        {"casts", "nCasts", tqmovie_detail_cast_count, cast, {}},
        {"pictures", "nPictures", tqmovie_detail_picture_count, picture, picture_ints},
        {"watchProviders", "nProviders", tqmovie_detail_provider_count, provider, provider_ints},
        {"videos", "nVideos", tqmovie_detail_video_count, video, video_ints}};

    static int32_t count() { return tqmovie_detail_count(); }
    static char *full(int32_t i) { return tqmovie_detail_to_json_full(i); }
    static char *summary(int32_t i) { return tqmovie_detail_to_json(i); }
    static const char *imdb_id(int32_t i) { return tqmovie_detail_imdb_id(i); }
    static void check(int32_t i, yyjson_val *o, bool full) {
        FUZZ_CHECK(yyjson_is_obj(o));
        for (size_t t = 0; t < (full ? std::size(texts) : 10); ++t)
            same_text(yyjson_obj_get(o, texts[t].key), texts[t].get(i));
        for (const auto &m : ints) same_int(yyjson_obj_get(o, m.key), m.get(i), m.empty);
        same_real(yyjson_obj_get(o, "imDbRating"), tqmovie_detail_imdb_rating(i), full);
        if (full) {
            same_tv(yyjson_obj_get(o, "isTVShow"), tqmovie_detail_is_tv(i));
            for (const auto &l : lists) same_objects(yyjson_obj_get(o, l.key), l, i);
            same_texts(yyjson_obj_get(o, "relatedIMDbIds"), tqmovie_detail_related_count(i), tqmovie_detail_related_id,
                       i);
        } else {
            for (const auto &l : lists) same_int(yyjson_obj_get(o, l.summary_key), l.count(i), -1);
            same_int(yyjson_obj_get(o, "nRelated"), tqmovie_detail_related_count(i), -1);
        }
    }
    static void check_absent(int32_t i) {
        for (const auto &t : texts) FUZZ_CHECK(!t.get(i));
        for (const auto &m : ints) FUZZ_CHECK(m.get(i) == m.empty);
        FUZZ_CHECK(tqmovie_detail_is_tv(i) == -1 && nan_out(tqmovie_detail_imdb_rating(i)));
        for (const auto &l : lists) FUZZ_CHECK(l.count(i) == 0 && !l.texts[0].get(i, 0));
        FUZZ_CHECK(tqmovie_detail_related_count(i) == 0 && !tqmovie_detail_related_id(i, 0));
    }
    static std::string key(int32_t i) { return record_key(tqmovie_detail_imdb_id(i), tqmovie_detail_title(i)); }
    static std::vector<std::string> decode(const char *body, size_t len, int32_t expect_array) {
        return decoded_keys<tq_detail>(
            [&](tq_detail **out, size_t *n) { return tq_parse_detail_doc(body, len, out, n, expect_array, 0); },
            tq_free_detail);
    }
    static int32_t batch(const char *const *ids, size_t n) { return tqmovie_get_details(ids, n, nullptr, 0); }
};

struct trans_kind {
    static constexpr item_text_get item[] = {
        {"title", tqmovie_trans_item_title},      {"tagLine", tqmovie_trans_item_tagline},
        {"plot", tqmovie_trans_item_plot},        {"directors", tqmovie_trans_item_directors},
        {"actors", tqmovie_trans_item_actors},    {"iso_639_1", tqmovie_trans_item_lang},
        {"iso_3166_1", tqmovie_trans_item_region}};
    static constexpr list_get items{"items", nullptr, tqmovie_trans_items_count, item, {}};
    static int32_t count() { return tqmovie_trans_count(); }
    static char *full(int32_t i) { return tqmovie_trans_to_json(i); }
    static char *summary(int32_t) { return nullptr; } // none
    static const char *imdb_id(int32_t i) { return tqmovie_trans_imdb_id(i); }
    static void check(int32_t i, yyjson_val *o, bool) {
        FUZZ_CHECK(yyjson_is_obj(o));
        same_text(yyjson_obj_get(o, "imDbId"), tqmovie_trans_imdb_id(i));
        same_objects(yyjson_obj_get(o, "items"), items, i);
    }
    static void check_absent(int32_t i) {
        FUZZ_CHECK(!tqmovie_trans_imdb_id(i) && tqmovie_trans_items_count(i) == 0 && !tqmovie_trans_item_title(i, 0));
    }
    static std::string key(int32_t i) { return record_key(tqmovie_trans_imdb_id(i), nullptr); }
    static std::vector<std::string> decode(const char *body, size_t len, int32_t) {
        return decoded_keys<tq_trans>([&](tq_trans **out, size_t *n) { return tq_parse_trans_doc(body, len, out, n); },
                                      tq_free_trans);
    }
    static int32_t batch(const char *const *ids, size_t n) {
        return tqmovie_get_translations(ids, n, nullptr, nullptr);
    }
};

// A complete export, wrapped in "[" and "]", decodes into one record, and that record
// (stored by a batch lookup on a client of its own, over a backend answering the
// wrapped text) exports to the same text: export(decode(export(r))) == export(r).
template <typename K> void round_trip(const std::string &full) {
    static tqmovie_client *const client = tqmovie_client_new();
    static fuzz_backend backend;
    FUZZ_CHECK(client != nullptr);
    const std::string wrapped = "[" + full + "]";
    FUZZ_CHECK(K::decode(wrapped.c_str(), wrapped.size(), 1).size() == 1);
    backend.forget();
    backend.client = client;
    backend.answer = fuzz_answer{};
    backend.answer.has_body = true;
    backend.answer.body = wrapped;
    tqmovie_client *const previous = tqmovie_use(client);
    const tq_io io = backend.table();
    tqmovie_set_io(&io);
    const char *id = "tt1";
    FUZZ_CHECK(K::batch(&id, 1) == TQMOVIE_OK && K::count() == 1);
    fuzz_same(take_text(K::full(0)), full, "complete export after a round trip");
    tqmovie_shutdown();
    tqmovie_use(previous);
}

// Every stored record of kind K: each getter against its complete export and its
// summary (both must be strict JSON), the out-of-range values, and the round trip for
// the first `round_trips` records. Returns the complete exports.
template <typename K> std::vector<std::string> check_store(size_t round_trips) {
    const int32_t n = K::count();
    FUZZ_CHECK(n >= 0);
    for (int32_t out : {-1, n, INT32_MAX, INT32_MIN}) {
        K::check_absent(out);
        FUZZ_CHECK(!K::full(out) && !K::summary(out));
    }
    std::vector<std::string> fulls;
    for (int32_t i = 0; i < n; ++i) {
        fulls.push_back(take_text(K::full(i)));
        const fuzz_json doc(fulls.back());
        FUZZ_CHECK(doc.doc != nullptr);
        K::check(i, doc.root(), true);
        if (char *summary = K::summary(i)) {
            const fuzz_json sdoc(take_text(summary));
            FUZZ_CHECK(sdoc.doc != nullptr);
            K::check(i, sdoc.root(), false);
        }
    }
    for (size_t i = 0; i < fulls.size() && i < round_trips; ++i) round_trip<K>(fulls[i]);
    return fulls;
}

} // namespace fuzz_store

#endif
