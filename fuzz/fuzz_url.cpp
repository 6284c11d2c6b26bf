// SPDX-License-Identifier: MIT
// Fuzzes URL building, host setting and id joining. The input's NUL-separated fields
// are the host, an id, a language, the translation language's two parts and the ids of
// a batch ("-" for a NULL entry). The host as stored, tq_url_encode and tq_join_ids
// are held to their documented rules, and every request a recording backend receives
// must be the host as stored followed by the documented path with every query value
// percent-encoded, and a POST body must be its chunk's ids joined.
#include "fuzz_common.h"

namespace {

fuzz_backend backend;

// What tqmovie_set_host stores.
std::string host_model(const char *host) {
    if (!host || !*host) return TQMOVIE_DEFAULT_HOST;
    std::string h = std::strncmp(host, "http://", 7) == 0 || std::strncmp(host, "https://", 8) == 0
                        ? std::string(host)
                        : "https://" + std::string(host);
    if (h.size() > 255) h.resize(255);
    return h;
}

// The next request must be `path` after the host, with nothing but URL bytes in it.
void check_url(size_t k, const std::string &path) {
    FUZZ_CHECK(k < backend.urls.size());
    fuzz_same(backend.urls[k], g_tq.host + path, "request URL");
    for (unsigned char c : path)
        FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   std::strchr("-._~%&=?/", c));
}

const char *field(const std::vector<std::string> &f, size_t i) { return i < f.size() ? f[i].c_str() : nullptr; }

// The single-title requests: refused without a request for a NULL or empty id.
void check_singles(const char *id, const char *language) {
    const bool refused = !id || !*id;
    const std::string query =
        "?imdbId=" + encode_model(id) + "&language=" + encode_model(language && *language ? language : "en-US");
    backend.forget();
    int32_t is_movie;
    FUZZ_CHECK((tqmovie_is_movie(id, &is_movie) == TQMOVIE_ERR_ARG) == refused);
    FUZZ_CHECK((tqmovie_get_basic(id, language) == TQMOVIE_ERR_ARG) == refused);
    FUZZ_CHECK((tqmovie_get_detail(id, language, 0) == TQMOVIE_ERR_ARG) == refused);
    FUZZ_CHECK(backend.requests() == (refused ? 0u : 3u));
    if (refused) return;
    check_url(0, "/api/AAA/IsMovie?imdbId=" + encode_model(id));
    check_url(1, "/api/AAA/GetMovieBasic" + query);
    check_url(2, "/api/AAA/GetMovieDetail" + query);
}

// A batch in chunks of `chunk`: one POST per chunk to `one` (a chunk of one id) or
// `many`, its body the chunk's ids joined.
void check_batch(const fuzz_ids &ids, int32_t st, size_t chunk, const std::string &one, const std::string &many) {
    const char *what = nullptr;
    if (ids.first_refused(&what) >= 0) {
        FUZZ_CHECK(st == TQMOVIE_ERR_ARG && backend.requests() == 0);
        return;
    }
    FUZZ_CHECK(st == TQMOVIE_OK && backend.requests() == (ids.size() + chunk - 1) / chunk);
    for (size_t k = 0, at = 0; at < ids.size(); ++k, at += chunk) {
        const size_t n = ids.size() - at < chunk ? ids.size() - at : chunk;
        check_url(k, n == 1 ? one : many);
        fuzz_same(backend.posts[k], join_model(ids.ptr.data() + at, n), "POST body");
    }
}

// The service is told not to fetch unknown titles anew for multi-id requests only.
const std::string basics_one = "/api/AAA/GetMovieBasics?read=true&ignoreNew=false&getKeys=false";
const std::string basics_many = "/api/AAA/GetMovieBasics?read=true&ignoreNew=true&getKeys=false";
const std::string details = "/api/AAA/GetMovieDetails?read=true&getKeys=false";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<std::string> f = split_fields(data, size, 40);
    const char *host = field(f, 0), *id = field(f, 1), *language = field(f, 2);
    const char *part1 = field(f, 3), *part2 = field(f, 4);
    const fuzz_ids ids(f.size() > 5 ? std::vector<std::string>(f.begin() + 5, f.end()) : std::vector<std::string>{"-"});

    tqmovie_shutdown();
    tqmovie_set_host(host);
    const std::string stored = host_model(host);
    fuzz_same(g_tq.host, stored, "stored host");
    tqmovie_set_host(g_tq.host); // its own buffer: unchanged
    fuzz_same(g_tq.host, stored, "host set from itself");

    for (const std::string &s : f) fuzz_same(take_text(tq_url_encode(s.c_str())), encode_model(s.c_str()), "encoded");
    fuzz_same(take_text(tq_url_encode(nullptr)), "", "NULL encoded");
    fuzz_same(take_text(tq_join_ids(ids.ptr.data(), ids.size())), join_model(ids.ptr.data(), ids.size()), "joined ids");
    fuzz_same(take_text(tq_join_ids(nullptr, ids.size())), "", "NULL ids joined");

    // Every answer is null: an empty record, a batch chunk without records.
    backend.answer = fuzz_answer{};
    backend.answer.has_body = true;
    backend.answer.body = "null";
    const tq_io io = backend.table();
    tqmovie_set_io(&io);
    check_singles(id, language);

    tqmovie_set_batch_ceiling(2);
    backend.forget();
    check_batch(ids, tqmovie_get_basics(ids.ptr.data(), ids.size()), 2, basics_one, basics_many);
    backend.forget();
    check_batch(ids, tqmovie_get_details(ids.ptr.data(), ids.size(), nullptr, 0), 2, details, details);
    backend.forget();
    const std::string trans_path =
        "/api/AAA/GetMovieTranslations?read=true&getKeys=false&part1=" + encode_model(part1 ? part1 : "zh") +
        "&part2=" + encode_model(part2 ? part2 : "CN");
    const int32_t st = tqmovie_get_translations(ids.ptr.data(), ids.size(), part1, part2);
    check_batch(ids, st, ids.size(), trans_path, trans_path);
    return 0;
}
