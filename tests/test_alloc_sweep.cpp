// SPDX-License-Identifier: MIT
// Every public operation under memory pressure, from one table: a row per operation
// and scenario, each run with the 1st, 2nd, 3rd ... allocation failing (that one only,
// and every one from it on) until a run goes through untouched. After every run: the
// status is one the row documents, no half-built record is left in the store or the
// cache, the library still answers a lookup, and once the row's backend and records
// are released every block the operation took is back. Lookups over libcurl go to
// plain-HTTP servers on 127.0.0.1 (a TLS handshake allocates thousands of times inside
// OpenSSL: the sanitizer runs cover it).
#include "alloc_fail.h"
#include "host_backend.h"
#include "loopback_server.h"
#include "tqmovie.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <yyjson.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

using tqtest::HttpRequest;
using tqtest::HttpResponse;
using tqtest::LoopbackServer;
using tqtest::Reply;

const char *const kIds[] = {"tt0068646", "tt0111161", "tt0468569"};
const char *const kStubText = "transport: stub IO: not implemented (plug in platform backend)";

std::string fixture(const std::string &name) { return tqtest::slurp(std::string(TQ_FIXTURES_DIR) + "/" + name); }

std::string query_value(const std::string &query, const std::string &key) {
    const size_t at = ("&" + query).find("&" + key + "=");
    if (at == std::string::npos) return {};
    const size_t start = at + key.size() + 1, end = query.find('&', start);
    return query.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The service's answers from the sample fixtures. Under a base URL ending in "/flaky"
// the next `flaky` requests get 503 with Retry-After: 0; under one ending in "/busy"
// every request gets 503 with a Retry-After of five seconds.
struct Service {
    std::atomic<int> flaky{0};

    HttpResponse operator()(const HttpRequest &r) {
        HttpResponse res;
        std::string path = r.path();
        const bool busy = path.rfind("/busy", 0) == 0;
        if (path.rfind("/flaky", 0) == 0) path.erase(0, 6);
        if (busy || (path != r.path() && flaky.fetch_sub(1) > 0)) {
            res.status = 503;
            res.headers.emplace_back("Retry-After", busy ? "5" : "0");
            res.body = "try again";
            return res;
        }
        const std::string id = query_value(r.query(), "imdbId");
        if (path == "/api/AAA/GetMovieBasic") res.body = fixture("basic-" + id + ".json");
        if (path == "/api/AAA/GetMovieDetail") res.body = fixture("detail-" + id + ".json");
        if (path == "/api/AAA/GetMovieBasics") res.body = fixture("basics-batch.json");
        if (path == "/api/AAA/GetMovieTranslations") res.body = fixture("translations-batch.json");
        if (path == "/api/AAA/GetMovieDetails") {
            for (size_t at = 0; at <= r.body.size();) {
                const size_t comma = std::min(r.body.find(',', at), r.body.size());
                res.body +=
                    (res.body.empty() ? "[" : ",") + fixture("detail-" + r.body.substr(at, comma - at) + ".json");
                at = comma + 1;
            }
            res.body += "]";
        }
        if (res.body.empty()) {
            res.status = 404;
            res.body = "no such title";
        }
        res.headers.emplace_back("Content-Type", "application/json");
        return res;
    }
};

// What the rows share: backends, servers, a directory for cache files, and what one
// run leaves for its checks (released after each run).
struct Env {
    tqtest::HostBackend host;
    Service service;
    LoopbackServer plain{[this](const HttpRequest &r) { return service(r); }};
    LoopbackServer kept{[this](const HttpRequest &r) { return service(r); }, LoopbackServer::Connection::keep_alive};
    std::string dir = ::testing::TempDir() + "tq-alloc-sweep-" + std::to_string(getpid());
    std::string path = dir + "/cache.json", ref = dir + "/ref.json", store_path = dir + "/store.db";
    uint32_t arg = 0; // the row's argument

    tq_io pooled{};
    tqmovie_store *store = nullptr;
    tqmovie_client *client = nullptr;
    char *text = nullptr;
    std::string want; // what an untouched run hands out
    yyjson_doc *doc = nullptr;
    tq_basic basic{};
    tq_detail detail{};
    int32_t flag = -1;
    int progress_calls = 0;
    int attempts = 0;
    size_t requests = 0, connections = 0; // the servers' counts before the operation

    Env() { EXPECT_EQ(system(("mkdir -p " + dir).c_str()), 0); }
    ~Env() { EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0); }

    void release() {
        tqmovie_set_log(nullptr, nullptr);
        tqmovie_set_language_fallback(nullptr);
        if (client) tqmovie_use(nullptr);
        tqmovie_client_free(client);
        client = nullptr;
        tqmovie_set_io(nullptr);
        tolvane_io_curl_pooled_free(&pooled);
        tqmovie_set_store(nullptr);
        tqmovie_store_close(store);
        store = nullptr;
        std::remove(store_path.c_str());
        std::free(text);
        text = nullptr;
        yyjson_doc_free(doc);
        doc = nullptr;
        tq_free_basic(&basic);
        tq_free_detail(&detail);
    }
};

// How a row's outcome reads: a library status with its error text; a value handed
// out, read as TQMOVIE_OK or, when absent, TQMOVIE_ERR_NOMEM; or calls that never
// allocate at all.
enum class Kind { status, result, never_allocates };

struct Row {
    const char *name;
    int32_t want;                   // the status of a run that no failure touched
    std::vector<int32_t> also;      // further statuses a run with a failed allocation may end with
    int32_t (*op)(Env &);           // the operation swept
    void (*setup)(Env &) = nullptr; // before each run, outside the counted window
    void (*check)(Env &, int32_t st, bool hit) = nullptr; // what else must hold afterwards
    uint32_t arg = 0;
    Kind kind = Kind::status;
};

void PrintTo(const Row &row, std::ostream *out) { *out << row.name; }

// Under memory pressure a lookup may also end with: no memory; a parse failure (the
// JSON reader reports its own allocation failing as one, the object decoders theirs
// with their own text); a transport failure (the backend could not hold its answer:
// libcurl's "Out of memory", the fixture reader, a host backend's copy).
const std::vector<int32_t> kLookup = {TQMOVIE_ERR_NOMEM, TQMOVIE_ERR_PARSE, TQMOVIE_ERR_TRANSPORT};
const std::vector<int32_t> kNomem = {TQMOVIE_ERR_NOMEM};
// The probe decodes nothing: only the backend's copy of its answer can fail on the way.
const std::vector<int32_t> kProbe = {TQMOVIE_ERR_NOMEM, TQMOVIE_ERR_TRANSPORT};
// libcurl 7.88 loses the query of the URL when one of its own allocations fails while
// parsing it, and sends the request without it: the service answers that with 404.
const std::vector<int32_t> kHttp = {TQMOVIE_ERR_NOMEM, TQMOVIE_ERR_PARSE, TQMOVIE_ERR_TRANSPORT, TQMOVIE_ERR_HTTP};

void install_fixtures() {
    tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
}

// ---------------------------------------------------------------------------------
// Set-ups
// ---------------------------------------------------------------------------------

void fresh_curl(Env &env) {
    tq_io io = tolvane_io_curl();
    tqmovie_set_io(&io);
    tqmovie_set_host(env.plain.base().c_str());
}

// A pooled backend whose connection is open before the operation starts.
void kept_connection(Env &env) {
    tqmovie_http_options o = TQMOVIE_HTTP_OPTIONS_INIT;
    o.proxy = "";
    env.pooled = tolvane_io_curl_pooled(&o);
    tqmovie_set_io(&env.pooled);
    tqmovie_set_host(env.kept.base().c_str());
    ASSERT_EQ(tqmovie_get_basic("tt0903747", nullptr), TQMOVIE_OK) << tqmovie_last_error();
    env.connections = env.kept.connection_count();
}

void flaky_then_ok(Env &env) {
    fresh_curl(env);
    tqmovie_set_host((env.plain.base() + "/flaky").c_str());
    env.service.flaky = 1;
    tqmovie_set_retry(2, 100);
    env.requests = env.plain.request_count();
}

void busy_past_deadline(Env &env) {
    fresh_curl(env);
    tqmovie_set_host((env.plain.base() + "/busy").c_str());
    tqmovie_set_retry(2, 10000);
    tqmovie_set_deadline(2000);
}

void stub(Env &) {
    tq_io io = tolvane_io_stub();
    tqmovie_set_io(&io);
}

// The probe's answers, by the row's argument.
void probe_reply(Env &env) {
    const Reply replies[] = {Reply::ok("maybe"), Reply::http(404, "<html>not here</html>"),
                             Reply::fail("connection reset by peer"), Reply::no_body()};
    env.host.reset_script();
    env.host.always(replies[env.arg]);
    env.host.install();
}

void no_backend(Env &) { tqmovie_set_io(nullptr); }

int cancel_after_first_chunk(const tqmovie_progress *e, void *user) {
    ++static_cast<Env *>(user)->progress_calls;
    if (e->kind == TQMOVIE_PROGRESS_CHUNK_DONE && e->done == 1) tqmovie_cancel(tqmovie_current());
    return 0;
}

// Reads and exports what the store holds so far, as a host showing progress would.
int export_each_chunk(const tqmovie_progress *, void *user) {
    ++static_cast<Env *>(user)->progress_calls;
    for (int32_t i = 0; i < tqmovie_detail_count(); ++i) std::free(tqmovie_detail_to_json_full(i));
    return 0;
}

void chunks_of_one(Env &env, tqmovie_progress_fn fn) {
    tqmovie_set_batch_ceiling(1);
    tqmovie_set_progress(fn, &env);
}
void cancelling(Env &env) { chunks_of_one(env, cancel_after_first_chunk); }
void exporting(Env &env) { chunks_of_one(env, export_each_chunk); }

void cached_all_sections_but_cast(Env &) {
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, TQMOVIE_DETAIL_ALL & ~TQMOVIE_DETAIL_CAST), TQMOVIE_OK);
}

// Three titles cached, both kinds.
void three_cached(Env &) {
    for (const char *id : kIds) {
        ASSERT_EQ(tqmovie_get_basic(id, nullptr), TQMOVIE_OK);
        ASSERT_EQ(tqmovie_get_detail(id, nullptr, 0), TQMOVIE_OK);
    }
}

void cache_to_save(Env &env) {
    FILE *f = std::fopen(env.path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("an older file", f);
    std::fclose(f);
    three_cached(env);
    ASSERT_EQ(tqmovie_cache_save(env.ref.c_str()), TQMOVIE_OK);
    env.want = tqtest::slurp(env.ref);
}

void cache_file_and_one_title(Env &env) {
    if (access(env.path.c_str(), F_OK) != 0) { // written once: a save syncs to the disk
        three_cached(env);
        ASSERT_EQ(tqmovie_cache_save(env.path.c_str()), TQMOVIE_OK);
        tqmovie_cache_clear();
    }
    ASSERT_EQ(tqmovie_get_basic("tt0903747", nullptr), TQMOVIE_OK);
}

char *export_of(uint32_t which) {
    switch (which) {
    case 0: return tqmovie_basic_to_json_full(0);
    case 1: return tqmovie_detail_to_json_full(0);
    case 2: return tqmovie_trans_to_json(0);
    case 3: return tqmovie_basic_to_json(0);
    default: return tqmovie_detail_to_json(0);
    }
}

// The store holds the records the row's export or getters read: basics, details or
// translations of the three titles.
void stored(Env &env) {
    const int32_t st = env.arg % 3 == 0   ? tqmovie_get_basics(kIds, 3)
                       : env.arg % 3 == 1 ? tqmovie_get_details(kIds, 3, nullptr, 0)
                                          : tqmovie_get_translations(kIds, 3, "de", "DE");
    ASSERT_EQ(st, TQMOVIE_OK) << tqmovie_last_error();
}

void stored_and_exported(Env &env) {
    stored(env);
    char *t = export_of(env.arg);
    ASSERT_NE(t, nullptr);
    env.want = t;
    std::free(t);
}

void parsed_document(Env &env) {
    env.want = fixture(env.arg ? "detail-tt0111161.json" : "basic-tt0111161.json");
    env.doc = yyjson_read(env.want.data(), env.want.size(), 0);
    ASSERT_NE(env.doc, nullptr);
}

// A host's backend whose first attempt fails as worth another; the second answers
// with an ETag. Without a release entry: the library frees with free().
int32_t second_attempt_answers(void *ctx, const char *, char **body, int32_t *status, char **err) {
    auto *env = static_cast<Env *>(ctx);
    if (tqmovie_io_cancelled(nullptr)) return -1;
    if (env->attempts++ == 0) {
        tqmovie_io_retryable(nullptr);
        if (err && (*err = static_cast<char *>(std::malloc(19)))) std::memcpy(*err, "connection refused", 19);
        return -1;
    }
    tqmovie_io_header(nullptr, "ETag", "\"v1\"");
    if (!(*body = static_cast<char *>(std::malloc(env->want.size() + 1)))) return -1;
    std::memcpy(*body, env->want.c_str(), env->want.size() + 1);
    *status = 200;
    return 0;
}

void retrying_host_backend(Env &env) {
    env.attempts = 0;
    env.want = fixture("basic-tt0111161.json");
    tq_io io{&env, second_attempt_answers, nullptr, nullptr};
    tqmovie_set_io(&io);
    tqmovie_set_retry(2, 1);
}

// ---------------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------------

int32_t basic(Env &) { return tqmovie_get_basic("tt0111161", nullptr); }
int32_t detail(Env &env) { return tqmovie_get_detail("tt0111161", nullptr, env.arg); }
int32_t basics(Env &) { return tqmovie_get_basics(kIds, 3); }
int32_t details(Env &env) { return tqmovie_get_details(kIds, 3, nullptr, static_cast<int32_t>(env.arg)); }
int32_t translations(Env &) { return tqmovie_get_translations(kIds, 3, "de", "DE"); }

int32_t probe(Env &env) {
    env.flag = 7;
    return tqmovie_is_movie(env.arg == 9 ? "tt9999999" : env.arg == 8 ? nullptr : "tt0111161", &env.flag);
}

// A new client made current, given a backend and asked for a title; it stays current
// for the checks and is released with the run.
int32_t client_lookup(Env &env) {
    if (!(env.client = tqmovie_client_new())) return TQMOVIE_ERR_NOMEM;
    tqmovie_use(env.client);
    install_fixtures();
    return tqmovie_get_detail("tt0111161", nullptr, 0);
}

int32_t make_pooled(Env &env) {
    tqmovie_http_options o = TQMOVIE_HTTP_OPTIONS_INIT;
    o.proxy = "";
    o.user_agent = "sweep/1";
    env.pooled = tolvane_io_curl_pooled(&o);
    return env.pooled.get ? TQMOVIE_OK : TQMOVIE_ERR_NOMEM;
}

int32_t save(Env &env) { return tqmovie_cache_save(env.path.c_str()); }
int32_t load(Env &env) { return tqmovie_cache_load(env.path.c_str()); }

int32_t limit_then_store(Env &) {
    tqmovie_cache_set_limit(2);
    return tqmovie_get_basic("tt0903747", nullptr);
}

int32_t export_text(Env &env) {
    env.text = export_of(env.arg);
    return env.text ? TQMOVIE_OK : TQMOVIE_ERR_NOMEM;
}

// Each text helper once; a text that comes back must be exact (-1 otherwise).
int32_t text_helpers(Env &) {
    char *dup = tq_strdup("tt0111161"), *cut = tq_strndup("ab\0cd", 5), *joined = tq_join_ids(kIds, 3),
         *encoded = tq_url_encode("a b/\xC3\xA9");
    const bool wrong = (dup && std::strcmp(dup, "tt0111161") != 0) || (cut && std::memcmp(cut, "ab\0cd", 6) != 0) ||
                       (joined && std::strcmp(joined, "tt0068646,tt0111161,tt0468569") != 0) ||
                       (encoded && std::strcmp(encoded, "a%20b%2F%C3%A9") != 0);
    const bool all = dup && cut && joined && encoded;
    for (char *p : {dup, cut, joined, encoded}) std::free(p);
    return wrong ? -1 : all ? TQMOVIE_OK : TQMOVIE_ERR_NOMEM;
}

int32_t decode_object(Env &env) {
    yyjson_val *root = yyjson_doc_get_root(env.doc);
    const int32_t rc = env.arg ? tq_parse_detail_obj(root, &env.detail, TQMOVIE_DETAIL_CAST | TQMOVIE_DETAIL_PROVIDERS)
                               : tq_parse_basic_obj(root, &env.basic);
    return rc == 0 ? TQMOVIE_OK : TQMOVIE_ERR_NOMEM;
}

// Every getter of one family (the row's argument: basic, detail, translations, or
// status and configuration), over every index and one past each end.
volatile uintptr_t g_sink;
template <typename T> void keep(T v) {
    if constexpr (std::is_pointer_v<T>)
        g_sink = g_sink + reinterpret_cast<uintptr_t>(v);
    else
        g_sink = g_sink + static_cast<uintptr_t>(v == v ? v : 0);
}

using S = const char *(*)(int32_t);
using S2 = const char *(*)(int32_t, int32_t);
using N = int32_t (*)(int32_t);
using N2 = int32_t (*)(int32_t, int32_t);

// The detail record's lists and their element getters (unused places stay null).
struct DetailList {
    N count;
    S2 texts[7];
    N2 numbers[2];
};
const DetailList kDetailLists[] = {
    {tqmovie_detail_cast_count,
     {tqmovie_detail_cast_name, tqmovie_detail_cast_id, tqmovie_detail_cast_poster, tqmovie_detail_cast_role,
      tqmovie_detail_cast_birthday},
     {}},
    {tqmovie_detail_picture_count,
     {tqmovie_detail_picture_item_url, tqmovie_detail_picture_item_lang},
     {tqmovie_detail_picture_item_w, tqmovie_detail_picture_item_h}},
    {tqmovie_detail_provider_count,
     {tqmovie_detail_provider_name, tqmovie_detail_provider_country, tqmovie_detail_provider_type,
      tqmovie_detail_provider_logo, tqmovie_detail_provider_id},
     {tqmovie_detail_provider_priority}},
    {tqmovie_detail_video_count,
     {tqmovie_detail_video_name, tqmovie_detail_video_key, tqmovie_detail_video_site, tqmovie_detail_video_type,
      tqmovie_detail_video_id, tqmovie_detail_video_lang, tqmovie_detail_video_region},
     {tqmovie_detail_video_size}},
    {tqmovie_detail_related_count, {tqmovie_detail_related_id}, {}},
};

int32_t getters(Env &env) {
    if (env.arg == 0) {
        for (int32_t i = -1; i <= tqmovie_basic_count(); ++i) {
            for (S f : {tqmovie_basic_imdb_id, tqmovie_basic_title, tqmovie_basic_tagline, tqmovie_basic_plot,
                        tqmovie_basic_poster_url, tqmovie_basic_picture_url})
                keep(f(i));
            for (N f : {tqmovie_basic_id, tqmovie_basic_year, tqmovie_basic_duration, tqmovie_basic_is_tv}) keep(f(i));
            for (int32_t j = -1; j <= tqmovie_basic_directors_count(i); ++j) keep(tqmovie_basic_director(i, j));
            for (int32_t j = -1; j <= tqmovie_basic_genres_count(i); ++j) keep(tqmovie_basic_genre(i, j));
            for (int32_t j = -1; j <= tqmovie_basic_ratings_count(i); ++j) {
                keep(tqmovie_basic_rating_source(i, j));
                keep(tqmovie_basic_rating_value(i, j));
            }
        }
    } else if (env.arg == 1) {
        for (int32_t i = -1; i <= tqmovie_detail_count(); ++i) {
            for (S f :
                 {tqmovie_detail_imdb_id, tqmovie_detail_title, tqmovie_detail_original_title, tqmovie_detail_tagline,
                  tqmovie_detail_plot, tqmovie_detail_poster_url, tqmovie_detail_picture_url, tqmovie_detail_title_type,
                  tqmovie_detail_genres, tqmovie_detail_directors, tqmovie_detail_trailer_url,
                  tqmovie_detail_extension1, tqmovie_detail_logo_base64})
                keep(f(i));
            for (N f : {tqmovie_detail_id, tqmovie_detail_start_year, tqmovie_detail_end_year, tqmovie_detail_runtime,
                        tqmovie_detail_is_tv})
                keep(f(i));
            keep(tqmovie_detail_imdb_rating(i));
            for (const DetailList &l : kDetailLists)
                for (int32_t j = -1; j <= l.count(i); ++j) {
                    for (S2 f : l.texts)
                        if (f) keep(f(i, j));
                    for (N2 f : l.numbers)
                        if (f) keep(f(i, j));
                }
        }
    } else if (env.arg == 2) {
        for (int32_t i = -1; i <= tqmovie_trans_count(); ++i) {
            keep(tqmovie_trans_imdb_id(i));
            for (int32_t j = -1; j <= tqmovie_trans_items_count(i); ++j)
                for (S2 f : {tqmovie_trans_item_title, tqmovie_trans_item_plot, tqmovie_trans_item_tagline,
                             tqmovie_trans_item_lang, tqmovie_trans_item_region, tqmovie_trans_item_directors,
                             tqmovie_trans_item_actors})
                    keep(f(i, j));
        }
    } else {
        int32_t fresh_basic = 0, fresh_detail = 0;
        keep(tqmovie_last_error());
        keep(tqmovie_last_http_code());
        keep(tqmovie_last_response_header("ETag"));
        keep(tqmovie_last_response_header(nullptr));
        keep(tqmovie_version());
        keep(tqmovie_version_number());
        keep(tqmovie_current());
        keep(tqmovie_batch_ceiling());
        keep(tqmovie_cache_limit());
        keep(tqmovie_cache_has("tt0111161", &fresh_basic, &fresh_detail));
        keep(tqmovie_io_cancelled(nullptr));
        tqmovie_cancel(nullptr);
        tqmovie_set_host("http://127.0.0.1:9/");
        tqmovie_set_batch_ceiling(5);
        tqmovie_cache_set_ttl(60, 60);
        tqmovie_set_retry(1, 10);
        tqmovie_set_deadline(1000);
        tqmovie_set_progress(nullptr, nullptr);
        tqmovie_http_options o;
        tqmovie_http_options_init(&o, sizeof o);
        const tq_io tables[] = {tolvane_io_stub(), tolvane_io_curl(), tolvane_io_fake(TQ_FIXTURES_DIR)};
        for (const tq_io &io : tables) tqmovie_set_io(&io);
    }
    return TQMOVIE_OK;
}

// ---------------------------------------------------------------------------------
// Checks of single rows
// ---------------------------------------------------------------------------------

// Only the sections asked for are held; an untouched run holds every one of them.
void sections_held(Env &env, int32_t st, bool hit) {
    if (st != TQMOVIE_OK) return;
    const uint32_t mask = env.arg ? env.arg : TQMOVIE_DETAIL_ALL;
    for (int32_t i = 0; i < tqmovie_detail_count(); ++i) {
        const std::vector<int32_t> lists = tqtest::detail_lists(i); // cast, pictures, providers, videos, related
        const uint32_t bit[] = {TQMOVIE_DETAIL_CAST, TQMOVIE_DETAIL_PICTURES, TQMOVIE_DETAIL_PROVIDERS,
                                TQMOVIE_DETAIL_VIDEOS, TQMOVIE_DETAIL_CAST};
        for (size_t l = 0; l < lists.size(); ++l) {
            if (!(mask & bit[l])) {
                EXPECT_EQ(lists[l], 0) << "list " << l << " of record " << i;
            }
            if (!hit && (mask & bit[l])) {
                EXPECT_GT(lists[l], 0) << "list " << l << " of record " << i;
            }
        }
    }
}

void from_cache(Env &env, int32_t st, bool hit) {
    sections_held(env, st, hit);
    if (st == TQMOVIE_OK) {
        EXPECT_EQ(tqmovie_last_http_code(), 0) << "not answered from the cache";
    }
}

void cancelled_after_first(Env &env, int32_t st, bool hit) {
    if (st == TQMOVIE_ERR_CANCELLED) {
        EXPECT_EQ(env.progress_calls, 1);
        EXPECT_LE(tqmovie_detail_count(), 1) << "records of a chunk after the cancel";
    }
    if (!hit) {
        EXPECT_EQ(tqmovie_detail_count(), 1);
    }
}

void every_chunk_reported(Env &env, int32_t st, bool hit) {
    if (st == TQMOVIE_OK) {
        EXPECT_EQ(env.progress_calls, 3);
    }
    if (!hit) {
        EXPECT_EQ(tqmovie_detail_count(), 3);
    }
}

void one_connection(Env &env, int32_t, bool hit) {
    if (!hit) {
        EXPECT_EQ(env.kept.connection_count(), env.connections) << "the kept connection was not reused";
    }
}

void retried_once(Env &env, int32_t, bool hit) {
    if (!hit) {
        EXPECT_EQ(env.plain.request_count() - env.requests, 2u);
        EXPECT_EQ(tqmovie_last_http_code(), 200);
        EXPECT_STREQ(tqmovie_last_error(), "") << "the failed attempt's text outlived it";
    }
}

void deadline_text(Env &, int32_t st, bool hit) {
    if (!hit) {
        EXPECT_STREQ(tqmovie_last_error(), "deadline exceeded");
    }
    if (st == TQMOVIE_ERR_TRANSPORT) {
        EXPECT_EQ(tqmovie_basic_count(), 0);
    }
}

void stub_text(Env &, int32_t, bool hit) {
    if (!hit) {
        EXPECT_STREQ(tqmovie_last_error(), kStubText);
    }
}

void probe_answer(Env &env, int32_t st, bool) {
    if (st == TQMOVIE_OK) {
        EXPECT_EQ(env.flag, env.arg == 9 ? 0 : 1);
    } else if (env.arg != 8) {
        EXPECT_EQ(env.flag, 0);
    }
}

void pooled_works(Env &env, int32_t st, bool) {
    EXPECT_EQ(env.pooled.get == nullptr, env.pooled.ctx == nullptr) << "a half-made table";
    if (st != TQMOVIE_OK) return;
    tqmovie_set_io(&env.pooled);
    tqmovie_set_host(env.kept.base().c_str());
    EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(env.kept.requests().back().header("User-Agent"), "sweep/1");
}

void client_record(Env &env, int32_t st, bool) {
    if (st == TQMOVIE_OK) {
        EXPECT_NE(env.client, nullptr);
        EXPECT_EQ(tqmovie_current(), env.client);
        EXPECT_EQ(tqmovie_detail_count(), 1);
    }
    EXPECT_EQ(g_tq.detail_count, 0u) << "the lookup reached the global state";
}

// The file is the older one or the whole new one, and no temporary file is left.
void file_whole(Env &env, int32_t st, bool) {
    EXPECT_EQ(tqtest::slurp(env.path), st == TQMOVIE_OK ? env.want : "an older file");
    size_t files = 0;
    if (DIR *d = opendir(env.dir.c_str())) {
        while (const dirent *e = readdir(d)) files += e->d_name[0] != '.';
        closedir(d);
    }
    EXPECT_EQ(files, 2u);
}

void loaded_or_unchanged(Env &, int32_t st, bool) {
    EXPECT_EQ(g_tq.cache_count, st == TQMOVIE_OK ? 3u : 1u);
    EXPECT_EQ(tqmovie_cache_has("tt0903747", nullptr, nullptr), st == TQMOVIE_OK ? 0 : 1);
}

void limit_kept(Env &, int32_t, bool hit) {
    EXPECT_EQ(tqmovie_cache_limit(), 2u);
    EXPECT_LE(g_tq.cache_count, 2u);
    if (!hit) {
        EXPECT_EQ(tqmovie_cache_has("tt0903747", nullptr, nullptr), 1);
    }
}

void exact_text(Env &env, int32_t, bool) {
    if (env.text) {
        EXPECT_EQ(env.text, env.want) << "a partial text was handed out";
    }
}

void header_after_retry(Env &env, int32_t st, bool hit) {
    if (st == TQMOVIE_OK) {
        EXPECT_STREQ(tqmovie_last_response_header("ETag"), "\"v1\"");
    }
    if (!hit) {
        EXPECT_EQ(env.attempts, 2);
        EXPECT_STREQ(tqmovie_last_error(), "") << "the failed attempt's text outlived it";
    }
}

template <typename T> bool list_ok(const T *items, size_t n) { return n == 0 || items != nullptr; }
bool whole(const tq_basic &r) {
    return list_ok(r.directors, r.directors_count) && list_ok(r.genres, r.genres_count) &&
           list_ok(r.ratings, r.ratings_count);
}
bool whole(const tq_detail &r) {
    return list_ok(r.cast, r.cast_count) && list_ok(r.pictures, r.picture_count) &&
           list_ok(r.providers, r.provider_count) && list_ok(r.videos, r.video_count) &&
           list_ok(r.related, r.related_count);
}
bool whole(const tq_trans &r) { return list_ok(r.items, r.items_count); }

void decoded_whole(Env &env, int32_t st, bool hit) {
    EXPECT_TRUE(env.arg ? whole(env.detail) : whole(env.basic));
    if (!hit) {
        EXPECT_EQ(st, TQMOVIE_OK);
        EXPECT_NE(env.arg ? env.detail.title : env.basic.title, nullptr);
    }
}

// A store set behind the cache (SQLite's own allocations are not the library's: the
// test gives SQLite the C library's allocator, out of the sweep's sight).
void with_store(Env &env) {
    env.store = tqmovie_store_open(env.store_path.c_str(), nullptr);
    ASSERT_NE(env.store, nullptr) << tqmovie_last_error();
    tqmovie_set_store(env.store);
}

// ... holding the title, which the memory cache does not.
void title_in_store_only(Env &env) {
    with_store(env);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_OK);
    tqmovie_cache_clear();
    tqmovie_set_io(nullptr); // no service: the store answers or nothing does
    const tq_io stub = tolvane_io_stub();
    tqmovie_set_io(&stub);
}

// A batch whose answer lacks two of the ids asked (one asked twice).
int32_t basics_with_unknown(Env &) {
    const char *ids[] = {"tt0111161", "tt0000001", "tt0068646", "tt0000002", "tt0000001"};
    return tqmovie_get_basics(ids, 5);
}
// Under pressure a record may also lose its id (a failed copy leaves a field empty),
// and its title then counts as missing too.
void two_missing(Env &, int32_t st, bool hit) {
    if (st != TQMOVIE_OK) return;
    std::vector<std::string> ids;
    for (int32_t i = 0; i < tqmovie_missing_count(); ++i) ids.emplace_back(tqmovie_missing_id(i));
    if (!hit) {
        EXPECT_EQ(ids, (std::vector<std::string>{"tt0000001", "tt0000002"}));
    } else {
        EXPECT_EQ(std::count(ids.begin(), ids.end(), "tt0000001"), 1);
        EXPECT_EQ(std::count(ids.begin(), ids.end(), "tt0000002"), 1);
    }
}

// A service whose de-DE records have no plot, for the language fallback.
int32_t plotless_get(void *, const char *url, char **body, int32_t *status, char **) {
    const bool de = std::strstr(url, "language=de-DE") != nullptr;
    *body = strdup(de ? R"({"imDbId":"tt0111161","title":"Die Verurteilten","plot":""})"
                      : R"({"imDbId":"tt0111161","title":"The Shawshank Redemption","plot":"Two men."})");
    *status = 200;
    return *body ? 0 : -1;
}
void plotless_with_fallback(Env &) {
    const tq_io io{nullptr, plotless_get, nullptr, nullptr};
    tqmovie_set_io(&io);
    ASSERT_EQ(tqmovie_set_language_fallback("fr-FR,en-US"), TQMOVIE_OK);
}
int32_t detail_de(Env &) { return tqmovie_get_detail("tt0111161", "de-DE", 0); }
// The plot is the next language's or, when that could not be had, still empty.
void plot_filled_or_empty(Env &, int32_t st, bool hit) {
    if (st != TQMOVIE_OK) return;
    const std::string plot = tqmovie_detail_plot(0) ? tqmovie_detail_plot(0) : "";
    if (!hit) {
        EXPECT_EQ(plot, "Two men.");
    } else {
        EXPECT_TRUE(plot == "Two men." || plot.empty()) << plot;
    }
    const char *title = tqmovie_detail_title(0); // filled from en-US when its copy failed
    EXPECT_TRUE(title &&
                (std::strcmp(title, "Die Verurteilten") == 0 || std::strcmp(title, "The Shawshank Redemption") == 0));
}

// A request log that sees every event; the title cached first, so that the run's
// answer comes from the cache.
void count_event(const tqmovie_log_event *e, void *user) {
    if (e->url && e->method) ++*static_cast<int *>(user);
}
void logged_and_cached(Env &env) {
    install_fixtures();
    ASSERT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_OK);
    tqmovie_set_log(count_event, &env.progress_calls);
}
int32_t basic_twice(Env &) {
    const int32_t st = tqmovie_get_basic("tt0111161", nullptr);
    return st != TQMOVIE_OK ? st : tqmovie_get_basic("tt0068646", nullptr);
}
void one_event_each(Env &env, int32_t st, bool) {
    if (st == TQMOVIE_OK) {
        EXPECT_EQ(env.progress_calls, 2);
    }
}

int32_t store_open_close(Env &env) {
    tqmovie_store *s = tqmovie_store_open(env.store_path.c_str(), nullptr);
    if (!s) return TQMOVIE_ERR_NOMEM;
    return tqmovie_store_close(s);
}

// ---------------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------------

const Row kRows[] = {
    // Clients, cancellation, progress.
    {"ClientNewUseLookupFree", TQMOVIE_OK, kLookup, client_lookup, nullptr, client_record},
    {"CancelAfterTheFirstChunk", TQMOVIE_ERR_CANCELLED, kLookup, details, cancelling, cancelled_after_first},
    {"ProgressCallbackExportsEachChunk", TQMOVIE_OK, kLookup, details, exporting, every_chunk_reported},
    // Lookups over the fixture backend, whole and with partial section masks.
    {"FixtureBasic", TQMOVIE_OK, kLookup, basic},
    {"FixtureDetailSectionsCast", TQMOVIE_OK, kLookup, detail, nullptr, sections_held, TQMOVIE_DETAIL_CAST},
    {"FixtureDetailSectionsPictures", TQMOVIE_OK, kLookup, detail, nullptr, sections_held, TQMOVIE_DETAIL_PICTURES},
    {"FixtureDetailSectionsProviders", TQMOVIE_OK, kLookup, detail, nullptr, sections_held, TQMOVIE_DETAIL_PROVIDERS},
    {"FixtureDetailSectionsVideos", TQMOVIE_OK, kLookup, detail, nullptr, sections_held, TQMOVIE_DETAIL_VIDEOS},
    {"FixtureDetailSectionsCastProviders", TQMOVIE_OK, kLookup, detail, nullptr, sections_held, 5},
    {"CachedDetailAnswersASubsetOfItsSections", TQMOVIE_OK, kLookup, detail, cached_all_sections_but_cast, from_cache,
     TQMOVIE_DETAIL_PICTURES | TQMOVIE_DETAIL_VIDEOS},
    {"FixtureDetailsSectionsCast", TQMOVIE_OK, kLookup, details, nullptr, sections_held, TQMOVIE_DETAIL_CAST},
    {"FixtureDetailsSectionsPicturesVideos", TQMOVIE_OK, kLookup, details, nullptr, sections_held, 10},
    {"FixtureBasics", TQMOVIE_OK, kLookup, basics},
    {"FixtureTranslations", TQMOVIE_OK, kLookup, translations},
    // The probe: its answer and each of its error paths.
    {"ProbeAnswersFalse", TQMOVIE_OK, kProbe, probe, nullptr, probe_answer, 9},
    {"ProbeUnexpectedBody", TQMOVIE_ERR_PARSE, kProbe, probe, probe_reply, probe_answer, 0},
    {"ProbeHttpErrorPage", TQMOVIE_ERR_HTTP, kProbe, probe, probe_reply, probe_answer, 1},
    {"ProbeTransportFailure", TQMOVIE_ERR_TRANSPORT, kProbe, probe, probe_reply, probe_answer, 2},
    {"ProbeNoBody", TQMOVIE_ERR_EMPTY, kProbe, probe, probe_reply, probe_answer, 3},
    {"ProbeNoBackend", TQMOVIE_ERR_NO_IO, {}, probe, no_backend, probe_answer, 0, Kind::never_allocates},
    {"ProbeNoId", TQMOVIE_ERR_ARG, {}, probe, nullptr, probe_answer, 8, Kind::never_allocates},
    // The stub backend.
    {"StubLookup", TQMOVIE_ERR_TRANSPORT, kNomem, basic, stub, stub_text},
    {"StubBatch", TQMOVIE_ERR_TRANSPORT, kNomem, details, stub, stub_text},
    // libcurl over plain HTTP: a fresh handle per request, the pooled backend.
    {"CurlDetail", TQMOVIE_OK, kHttp, detail, fresh_curl},
    {"CurlBasicsBatch", TQMOVIE_OK, kHttp, basics, fresh_curl},
    {"CurlRetryAfter503", TQMOVIE_OK, kHttp, basic, flaky_then_ok, retried_once},
    {"CurlDeadlineBeforeALongRetryWait", TQMOVIE_ERR_TRANSPORT, kHttp, basic, busy_past_deadline, deadline_text},
    {"PooledBackendMade", TQMOVIE_OK, kNomem, make_pooled, nullptr, pooled_works, 0, Kind::result},
    {"PooledDetailOnAKeptConnection", TQMOVIE_OK, kHttp, detail, kept_connection, one_connection},
    {"PooledDetailsBatchOnAKeptConnection", TQMOVIE_OK, kHttp, details, kept_connection, one_connection},
    // A host's backend that reports a retryable failure, then headers.
    {"HostBackendRetryThenHeaders", TQMOVIE_OK, kLookup, basic, retrying_host_backend, header_after_retry},
    // The cache: file save and load, the size limit.
    {"CacheSave", TQMOVIE_OK, kNomem, save, cache_to_save, file_whole},
    {"CacheLoad",
     TQMOVIE_OK,
     {TQMOVIE_ERR_NOMEM, TQMOVIE_ERR_PARSE},
     load,
     cache_file_and_one_title,
     loaded_or_unchanged},
    {"CacheLimitThenStore", TQMOVIE_OK, kLookup, limit_then_store, three_cached, limit_kept},
    // The store: written through, read through, opened and closed.
    {"StoreWriteThrough", TQMOVIE_OK, kLookup, detail, with_store},
    {"StoreReadThrough", TQMOVIE_OK, kLookup, detail, title_in_store_only},
    {"StoreOpenClose", TQMOVIE_OK, kNomem, store_open_close, nullptr, nullptr, 0, Kind::result},
    // What a lookup tells beyond its status.
    {"BatchMissingIds", TQMOVIE_OK, kLookup, basics_with_unknown, nullptr, two_missing},
    {"LanguageFallbackFillsThePlot", TQMOVIE_OK, kLookup, detail_de, plotless_with_fallback, plot_filled_or_empty},
    {"RequestLogOfACachedAndAFreshAnswer", TQMOVIE_OK, kLookup, basic_twice, logged_and_cached, one_event_each},
    // Exports: the complete forms and the specified ones.
    {"ExportBasicFull", TQMOVIE_OK, kNomem, export_text, stored_and_exported, exact_text, 0, Kind::result},
    {"ExportDetailFull", TQMOVIE_OK, kNomem, export_text, stored_and_exported, exact_text, 1, Kind::result},
    {"ExportTranslations", TQMOVIE_OK, kNomem, export_text, stored_and_exported, exact_text, 2, Kind::result},
    {"ExportBasic", TQMOVIE_OK, kNomem, export_text, stored_and_exported, exact_text, 3, Kind::result},
    {"ExportDetail", TQMOVIE_OK, kNomem, export_text, stored_and_exported, exact_text, 4, Kind::result},
    // Getters and configuration never allocate.
    {"GettersBasic", TQMOVIE_OK, {}, getters, stored, nullptr, 0, Kind::never_allocates},
    {"GettersDetail", TQMOVIE_OK, {}, getters, stored, nullptr, 1, Kind::never_allocates},
    {"GettersTranslations", TQMOVIE_OK, {}, getters, stored, nullptr, 2, Kind::never_allocates},
    {"StatusAndConfiguration", TQMOVIE_OK, {}, getters, stored, nullptr, 3, Kind::never_allocates},
    // Text helpers and the object decoders.
    {"TextHelpers", TQMOVIE_OK, kNomem, text_helpers, nullptr, nullptr, 0, Kind::result},
    {"DecodeBasicObject", TQMOVIE_OK, kNomem, decode_object, parsed_document, decoded_whole, 0, Kind::result},
    {"DecodeDetailObject", TQMOVIE_OK, kNomem, decode_object, parsed_document, decoded_whole, 1, Kind::result},
};

// ---------------------------------------------------------------------------------
// The harness
// ---------------------------------------------------------------------------------

void expect_valid_json(char *text) {
    EXPECT_NE(text, nullptr) << "a stored record cannot be exported";
    if (!text) return;
    yyjson_doc *d = yyjson_read(text, std::strlen(text), 0);
    EXPECT_NE(d, nullptr) << text;
    yyjson_doc_free(d);
    std::free(text);
}

// Every record the store counts is whole and exports as valid JSON; every cache slot
// in use has its key, finds itself, and holds whole records filed under that key, each
// with its stamp.
void expect_whole_store_and_cache() {
    for (int32_t i = 0; i < tqmovie_basic_count(); ++i) expect_valid_json(tqmovie_basic_to_json_full(i));
    for (int32_t i = 0; i < tqmovie_detail_count(); ++i) expect_valid_json(tqmovie_detail_to_json_full(i));
    for (int32_t i = 0; i < tqmovie_trans_count(); ++i) expect_valid_json(tqmovie_trans_to_json(i));
    if (tqmovie_current()) return; // a client's own state shows only through its exports
    const tq_state &s = g_tq;
    for (size_t i = 0; i < s.basic_count; ++i) EXPECT_TRUE(whole(s.basics[i])) << "basic " << i;
    for (size_t i = 0; i < s.detail_count; ++i) EXPECT_TRUE(whole(s.details[i])) << "detail " << i;
    for (size_t i = 0; i < s.trans_count; ++i) EXPECT_TRUE(whole(s.trans[i])) << "translations " << i;
    for (size_t k = 0; k < s.cache_count; ++k) {
        const tq_cache_entry &e = s.cache[k];
        ASSERT_NE(e.imdb_id, nullptr) << "slot " << k;
        EXPECT_EQ(tq_cache_find(e.imdb_id), &s.cache[k]) << e.imdb_id;
        EXPECT_EQ(e.basic != nullptr, e.basic_at != 0) << e.imdb_id;
        EXPECT_EQ(e.detail != nullptr, e.detail_at != 0) << e.imdb_id;
        if (e.basic) {
            EXPECT_TRUE(whole(*e.basic)) << e.imdb_id;
            EXPECT_STREQ(e.basic->imdb_id, e.imdb_id);
        }
        if (e.detail) {
            EXPECT_TRUE(whole(*e.detail)) << e.imdb_id;
            EXPECT_STREQ(e.detail->imdb_id, e.imdb_id);
        }
    }
    if (tqmovie_cache_limit()) {
        EXPECT_LE(s.cache_count, tqmovie_cache_limit());
    }
}

// The current client still answers: a lookup with injection off.
void expect_usable() {
    install_fixtures();
    EXPECT_EQ(tqmovie_get_detail("tt0903747", nullptr, 0), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(tqmovie_detail_count(), 1);
}

// Blocks the operation took that are still live. libcurl may leave one with its
// resolver thread, which it lets go of when it gives up waiting for it (after one of
// its allocations failed on the way); that thread releases it when it ends.
long settled_live_allocations() {
    for (int i = 0; i < 200 && tqtest::live_allocations() != 0; ++i) usleep(5000);
    return tqtest::live_allocations();
}

void begin_run(Env &env, const Row &row) {
    tqtest::AllocPause outside; // the set-up is not part of the sweep
    tqmovie_shutdown();
    tqmovie_set_host(tqtest::kTestHost);
    tqmovie_cache_set_ttl(86400, 21600);
    tqmovie_set_batch_ceiling(0);
    tqmovie_cache_set_limit(0);
    tqmovie_set_retry(0, 0);
    tqmovie_set_deadline(0);
    tqmovie_set_progress(nullptr, nullptr);
    install_fixtures();
    env.arg = row.arg;
    env.progress_calls = 0;
    if (row.setup) row.setup(env);
}

void after_run(Env &env, const Row &row, int32_t st, bool hit) {
    const long allocations = tqtest_alloc_count();
    if (row.kind == Kind::never_allocates) {
        EXPECT_EQ(allocations, 0) << "a call that never allocates did";
    }
    const std::string text = tqmovie_last_error();
    if (!hit) {
        EXPECT_EQ(st, row.want) << "untouched run: " << text;
    } else {
        EXPECT_TRUE(st == row.want || std::count(row.also.begin(), row.also.end(), st))
            << "status " << st << ": " << text;
    }
    if (row.kind == Kind::status) {
        if (st == TQMOVIE_ERR_NOMEM) {
            EXPECT_EQ(text, "") << "out of memory sets no text";
        }
        if (st != TQMOVIE_OK && st != TQMOVIE_ERR_NOMEM) {
            EXPECT_NE(text, "") << "status " << st << " without a text";
        }
        if (st == TQMOVIE_ERR_TRANSPORT && text != "deadline exceeded") {
            EXPECT_EQ(text.rfind("transport: ", 0), 0u) << text;
        }
    }
    if (st == TQMOVIE_OK && (row.op == basic || row.op == detail)) {
        // The record of the title asked for, whatever failed on the way (its id may be
        // a text that could not be copied).
        const char *id = row.op == basic ? tqmovie_basic_imdb_id(0) : tqmovie_detail_imdb_id(0);
        EXPECT_EQ(tqmovie_basic_count() + tqmovie_detail_count(), 1);
        if (id) {
            EXPECT_STREQ(id, "tt0111161");
        }
    }
    if (row.check) row.check(env, st, hit);
    expect_whole_store_and_cache();
    expect_usable();
    env.release();
    EXPECT_EQ(tqmovie_current(), nullptr);
    tqmovie_shutdown();
    EXPECT_EQ(settled_live_allocations(), 0) << "blocks the operation took are not back";
    tqtest::reset_tracking(); // each run answers for its own blocks
}

// libcurl's one-time global set-up, and whatever a first transfer sets up for good,
// happen before any block is tracked.
void warm_up(Env &env) {
    static bool done = false;
    if (done) return;
    done = true;
    tqmovie_shutdown();
    fresh_curl(env);
    EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_OK) << tqmovie_last_error();
    kept_connection(env);
    env.release();
    tqmovie_shutdown();
}

// SQLite allocates through the C library directly, so the sweep counts and fails the
// library's own allocations only.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);
const bool sqlite_on_libc = [] {
    static const sqlite3_mem_methods methods = {
        [](int n) -> void * {
            auto *p = static_cast<sqlite3_int64 *>(__libc_malloc(static_cast<size_t>(n) + 8));
            if (p) *p = n;
            return p ? p + 1 : nullptr;
        },
        [](void *p) { __libc_free(static_cast<sqlite3_int64 *>(p) - 1); },
        [](void *p, int n) -> void * {
            auto *q = static_cast<sqlite3_int64 *>(
                __libc_realloc(static_cast<sqlite3_int64 *>(p) - 1, static_cast<size_t>(n) + 8));
            if (q) *q = n;
            return q ? q + 1 : nullptr;
        },
        [](void *p) { return static_cast<int>(*(static_cast<sqlite3_int64 *>(p) - 1)); },
        [](int n) { return (n + 7) & ~7; },
        [](void *) { return SQLITE_OK; },
        [](void *) {},
        nullptr};
    return sqlite3_config(SQLITE_CONFIG_MALLOC, &methods) == SQLITE_OK;
}();

class AllocSweep : public ::testing::TestWithParam<Row> {
protected:
    Env env;
};

TEST_P(AllocSweep, EachAllocationFailingLeavesTheLibraryWhole) {
    const Row &row = GetParam();
    ASSERT_TRUE(env.plain.ok() && env.kept.ok());
    warm_up(env);
    for (tqtest::FailMode mode : tqtest::kFailModes) {
        SCOPED_TRACE(tqtest::mode_name(mode));
        tqtest::reset_tracking();
        long failed = 0;
        const long runs = tqtest::each_allocation_failure(
            [&] {
                begin_run(env, row);
                return row.op(env);
            },
            [&](int32_t st, long k, bool hit) {
                SCOPED_TRACE("allocation " + std::to_string(k + 1) + " failing");
                if (hit) failed += mode == tqtest::FailMode::Once ? 1 : tqtest_alloc_count() - k;
                after_run(env, row, st, hit);
            },
            mode);
        if (row.kind == Kind::never_allocates) {
            EXPECT_EQ(runs, 0);
        } else {
            EXPECT_GT(runs, 0) << "the operation allocated nothing";
        }
        std::printf("[  sweep   ] %s, %s: %ld runs, %ld allocations failed\n", row.name, tqtest::mode_name(mode), runs,
                    failed);
        RecordProperty(mode == tqtest::FailMode::Once ? "failed_once" : "failed_from_on", static_cast<int>(failed));
    }
}

std::string row_name(const ::testing::TestParamInfo<Row> &row) { return row.param.name; }
INSTANTIATE_TEST_SUITE_P(Table, AllocSweep, ::testing::ValuesIn(kRows), row_name);

} // namespace
