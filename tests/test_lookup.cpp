// SPDX-License-Identifier: MIT
// Single-title lookups end to end: URL building, cache answers, status codes and texts,
// the result store's lifetime and growth, shutdown, and every allocation failing in turn.
#include "alloc_fail.h"
#include "host_backend.h"
#include "tqmovie.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using tqtest::HostBackend;
using tqtest::Reply;

namespace {

const std::string kHost = tqtest::kTestHost;
const std::string kBasicPath = "/api/AAA/GetMovieBasic";
const std::string kDetailPath = "/api/AAA/GetMovieDetail";

const char *const kBasicJson = R"({"imDbId":"tt0111161","title":"The Shawshank Redemption",
 "tagLine":"Fear can hold you prisoner.","plot":"Two imprisoned men bond over a number of years.",
 "posterUrl":"https://img.example/p.jpg","pictureUrl":"N/A","id":111161,"year":1994,"duration":142,
 "isTVShow":false,"directors":["Frank Darabont"],"genres":"Drama, Crime",
 "ratings":{"imDb":9.3,"metacritic":82}})";

const char *const kDetailJson = R"({"imDbId":"tt0111161","title":"The Shawshank Redemption",
 "originalTitle":"Shawshank","tagLine":"Fear can hold you prisoner.","plot":"Two men.",
 "posterUrl":"https://img.example/p.jpg","pictureUrl":"https://img.example/q.jpg","titleType":"Movie",
 "genres":["Drama","Crime"],"directors":"Frank Darabont","trailerUrl":"https://v.example/t",
 "extension1":"x1","logoBase64":"aGVsbG8=","id":111161,"startYear":1994,"endYear":1994,
 "runtimeMinutes":142,"isTVShow":false,"imDbRating":9.3,
 "casts":[{"name":"Tim Robbins","idOrName":"nm0000209","poster":"https://img.example/tr.jpg",
           "characterOrRole":"Andy","birthday":"1958-10-16"},
          {"name":"Morgan Freeman","idOrName":"nm0000151","characterOrRole":"Red"}],
 "relatedIMDbIds":["tt0068646","tt0071562"],
 "pictures":[{"language":"en","url":"https://img.example/1.jpg","width":1920,"height":1080},
             {"language":"fr","url":"https://img.example/2.jpg","width":800,"height":600}],
 "watchProviders":[{"countryCode":"US","providerId":"8","providerName":"Streamer",
                    "logoUrl":"https://img.example/s.png","watchType":"flatrate","displayPriority":1}],
 "videos":[{"id":"v1","key":"K1","name":"Trailer","site":"Tube","type":"Trailer",
            "iso_639_1":"en","iso_3166_1":"US","size":1080}]})";

std::optional<std::string> opt(const char *s) {
    if (!s) return std::nullopt;
    return std::string(s);
}

int64_t bits(double d) {
    int64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// Everything a host can read of one stored record, as plain values.
struct Snap {
    std::vector<std::pair<std::string, std::optional<std::string>>> texts;
    std::vector<std::pair<std::string, int64_t>> nums;
    void text(const std::string &k, const char *v) { texts.emplace_back(k, opt(v)); }
    void num(const std::string &k, int64_t v) { nums.emplace_back(k, v); }
};

Snap snap_basic(int32_t i) {
    Snap s;
    s.text("imdb_id", tqmovie_basic_imdb_id(i));
    s.text("title", tqmovie_basic_title(i));
    s.text("tagline", tqmovie_basic_tagline(i));
    s.text("plot", tqmovie_basic_plot(i));
    s.text("poster_url", tqmovie_basic_poster_url(i));
    s.text("picture_url", tqmovie_basic_picture_url(i));
    s.num("id", tqmovie_basic_id(i));
    s.num("year", tqmovie_basic_year(i));
    s.num("duration", tqmovie_basic_duration(i));
    s.num("is_tv", tqmovie_basic_is_tv(i));
    s.num("directors_count", tqmovie_basic_directors_count(i));
    for (int32_t j = 0; j < tqmovie_basic_directors_count(i); ++j) s.text("director", tqmovie_basic_director(i, j));
    s.num("genres_count", tqmovie_basic_genres_count(i));
    for (int32_t j = 0; j < tqmovie_basic_genres_count(i); ++j) s.text("genre", tqmovie_basic_genre(i, j));
    s.num("ratings_count", tqmovie_basic_ratings_count(i));
    for (int32_t j = 0; j < tqmovie_basic_ratings_count(i); ++j) {
        s.text("rating_source", tqmovie_basic_rating_source(i, j));
        s.num("rating_value", bits(tqmovie_basic_rating_value(i, j)));
    }
    return s;
}

Snap snap_detail(int32_t i) {
    Snap s;
    s.text("imdb_id", tqmovie_detail_imdb_id(i));
    s.text("title", tqmovie_detail_title(i));
    s.text("original_title", tqmovie_detail_original_title(i));
    s.text("tagline", tqmovie_detail_tagline(i));
    s.text("plot", tqmovie_detail_plot(i));
    s.text("poster_url", tqmovie_detail_poster_url(i));
    s.text("picture_url", tqmovie_detail_picture_url(i));
    s.text("title_type", tqmovie_detail_title_type(i));
    s.text("genres", tqmovie_detail_genres(i));
    s.text("directors", tqmovie_detail_directors(i));
    s.text("trailer_url", tqmovie_detail_trailer_url(i));
    s.text("extension1", tqmovie_detail_extension1(i));
    s.num("id", tqmovie_detail_id(i));
    s.num("start_year", tqmovie_detail_start_year(i));
    s.num("end_year", tqmovie_detail_end_year(i));
    s.num("runtime", tqmovie_detail_runtime(i));
    s.num("is_tv", tqmovie_detail_is_tv(i));
    s.num("imdb_rating", bits(tqmovie_detail_imdb_rating(i)));
    s.num("cast_count", tqmovie_detail_cast_count(i));
    for (int32_t j = 0; j < tqmovie_detail_cast_count(i); ++j) {
        s.text("cast_name", tqmovie_detail_cast_name(i, j));
        s.text("cast_id", tqmovie_detail_cast_id(i, j));
        s.text("cast_poster", tqmovie_detail_cast_poster(i, j));
        s.text("cast_role", tqmovie_detail_cast_role(i, j));
        s.text("cast_birthday", tqmovie_detail_cast_birthday(i, j));
    }
    s.num("picture_count", tqmovie_detail_picture_count(i));
    for (int32_t j = 0; j < tqmovie_detail_picture_count(i); ++j) {
        s.text("picture_url", tqmovie_detail_picture_item_url(i, j));
        s.text("picture_lang", tqmovie_detail_picture_item_lang(i, j));
        s.num("picture_w", tqmovie_detail_picture_item_w(i, j));
        s.num("picture_h", tqmovie_detail_picture_item_h(i, j));
    }
    s.num("provider_count", tqmovie_detail_provider_count(i));
    for (int32_t j = 0; j < tqmovie_detail_provider_count(i); ++j) {
        s.text("provider_name", tqmovie_detail_provider_name(i, j));
        s.text("provider_country", tqmovie_detail_provider_country(i, j));
        s.text("provider_type", tqmovie_detail_provider_type(i, j));
        s.text("provider_logo", tqmovie_detail_provider_logo(i, j));
    }
    s.num("video_count", tqmovie_detail_video_count(i));
    for (int32_t j = 0; j < tqmovie_detail_video_count(i); ++j) {
        s.text("video_name", tqmovie_detail_video_name(i, j));
        s.text("video_key", tqmovie_detail_video_key(i, j));
        s.text("video_site", tqmovie_detail_video_site(i, j));
        s.text("video_type", tqmovie_detail_video_type(i, j));
    }
    s.num("related_count", tqmovie_detail_related_count(i));
    for (int32_t j = 0; j < tqmovie_detail_related_count(i); ++j) s.text("related", tqmovie_detail_related_id(i, j));
    return s;
}

// Every number and count equal, every text equal or NULL: a string copy that runs out of
// memory leaves its field NULL by design, but nothing may be garbled, half-filled or
// missing from a list. *dropped counts the NULLed texts.
::testing::AssertionResult same_or_dropped(const Snap &want, const Snap &got, int *dropped) {
    if (want.nums != got.nums) {
        std::string m = "numbers differ:";
        for (size_t n = 0; n < want.nums.size() && n < got.nums.size(); ++n)
            if (want.nums[n] != got.nums[n])
                m += " " + want.nums[n].first + " " + std::to_string(want.nums[n].second) +
                     "!=" + std::to_string(got.nums[n].second);
        return ::testing::AssertionFailure() << m;
    }
    if (want.texts.size() != got.texts.size()) return ::testing::AssertionFailure() << "text count differs";
    for (size_t n = 0; n < want.texts.size(); ++n) {
        if (want.texts[n] == got.texts[n]) continue;
        if (!got.texts[n].second) {
            ++*dropped;
            continue;
        }
        return ::testing::AssertionFailure() << want.texts[n].first << ": '" << want.texts[n].second.value_or("NULL")
                                             << "' became '" << *got.texts[n].second << "'";
    }
    return ::testing::AssertionSuccess();
}

bool same(const Snap &a, const Snap &b) { return a.texts == b.texts && a.nums == b.nums; }

using Lists = std::vector<int32_t>; // cast, pictures, providers, videos, related

class LookupHost : public tqtest::HostBackendTest {
protected:
    int32_t fetch_basic(const char *body, const char *id = "tt0111161") {
        host.script(Reply::ok(body));
        return tqmovie_get_basic(id, nullptr);
    }
    void sweep(bool detail, bool cached, long min_runs);
};

// ---------------------------------------------------------------------------------
// Request URLs
// ---------------------------------------------------------------------------------

TEST_F(LookupHost, UrlCarriesEncodedIdAndLanguage) {
    struct Case {
        const char *id;
        const char *language;
        const char *query;
    } cases[] = {
        {"tt0111161", nullptr, "?imdbId=tt0111161&language=en-US"},
        {"tt0111161", "", "?imdbId=tt0111161&language=en-US"},
        {"tt0111161", "pt-BR", "?imdbId=tt0111161&language=pt-BR"},
        {"tt0111161", "pt BR", "?imdbId=tt0111161&language=pt%20BR"},
        {"tt01 11&x=1", "en&y", "?imdbId=tt01%2011%26x%3D1&language=en%26y"},
        {"a/b+c%", "en-US", "?imdbId=a%2Fb%2Bc%25&language=en-US"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query);
        for (int detail = 0; detail < 2; ++detail) {
            tqmovie_cache_clear();
            host.clear_requests();
            host.script(Reply::ok(detail ? kDetailJson : kBasicJson));
            int32_t st = detail ? tqmovie_get_detail(c.id, c.language, 0) : tqmovie_get_basic(c.id, c.language);
            EXPECT_EQ(st, TQMOVIE_OK) << tqmovie_last_error();
            ASSERT_EQ(host.request_count(), 1u);
            EXPECT_STREQ(host.last().method, "GET");
            EXPECT_EQ(host.last().url_s(), kHost + (detail ? kDetailPath : kBasicPath) + c.query);
        }
    }
}

TEST_F(LookupHost, UrlFollowsHostWithoutAddingASeparator) {
    tqmovie_set_host("http://127.0.0.1:9/base/");
    ASSERT_EQ(fetch_basic(kBasicJson), TQMOVIE_OK);
    EXPECT_EQ(host.last().url_s(), "http://127.0.0.1:9/base//api/AAA/GetMovieBasic?imdbId=tt0111161&language=en-US");
}

// ---------------------------------------------------------------------------------
// Stored results and cache answers
// ---------------------------------------------------------------------------------

TEST_F(LookupHost, BasicIsStoredAndCached) {
    ASSERT_EQ(fetch_basic(kBasicJson), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_last_http_code(), 200);
    EXPECT_STREQ(tqmovie_last_error(), "");
    ASSERT_EQ(tqmovie_basic_count(), 1);
    EXPECT_STREQ(tqmovie_basic_title(0), "The Shawshank Redemption");
    EXPECT_STREQ(tqmovie_basic_picture_url(0), "");
    EXPECT_EQ(tqmovie_basic_year(0), 1994);
    EXPECT_EQ(tqmovie_basic_genres_count(0), 2);
    int32_t bf = -1, df = -1;
    EXPECT_EQ(tqmovie_cache_has("tt0111161", &bf, &df), 1);
    EXPECT_EQ(bf, 1);
    EXPECT_EQ(df, 0);
    EXPECT_EQ(host.freed_by_entry, 1) << "a successful body goes back through the free entry";
}

TEST_F(LookupHost, SecondBasicIsAnsweredFromCacheWithoutRequest) {
    ASSERT_EQ(fetch_basic(kBasicJson), TQMOVIE_OK);
    const Snap first = snap_basic(0);
    host.clear_requests();
    // The default language spelled out is the same request.
    EXPECT_EQ(tqmovie_get_basic("tt0111161", "en-US"), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 0u);
    EXPECT_EQ(tqmovie_last_http_code(), 0);
    ASSERT_EQ(tqmovie_basic_count(), 1);
    EXPECT_TRUE(same(first, snap_basic(0)));
}

TEST_F(LookupHost, SecondDetailIsAnsweredFromCacheWithoutRequest) {
    host.script(Reply::ok(kDetailJson));
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_last_http_code(), 200);
    const Snap first = snap_detail(0);
    EXPECT_EQ(tqmovie_detail_cast_count(0), 2);
    EXPECT_EQ(tqmovie_detail_related_count(0), 2);
    host.clear_requests();
    EXPECT_EQ(tqmovie_get_detail("tt0111161", "", 0), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 0u);
    EXPECT_EQ(tqmovie_last_http_code(), 0);
    ASSERT_EQ(tqmovie_detail_count(), 1);
    EXPECT_TRUE(same(first, snap_detail(0)));
}

TEST_F(LookupHost, StaleCacheEntryGoesBackToTheService) {
    ASSERT_EQ(fetch_basic(kBasicJson), TQMOVIE_OK);
    // A lifetime of 1 second with a stamp in the past makes the record stale.
    g_tq.cache[0].basic_at -= 10;
    tqmovie_cache_set_ttl(1, 1);
    host.clear_requests();
    EXPECT_EQ(fetch_basic(kBasicJson), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 1u);
    EXPECT_EQ(tqmovie_last_http_code(), 200);
}

TEST_F(LookupHost, OnlyFirstRecordOfArrayAnswerCounts) {
    const char *two = R"([{"imDbId":"tt1","title":"One"},{"imDbId":"tt2","title":"Two"}])";
    ASSERT_EQ(fetch_basic(two, "tt1"), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_basic_count(), 1);
    EXPECT_STREQ(tqmovie_basic_title(0), "One");
    EXPECT_EQ(tqmovie_cache_has("tt1", nullptr, nullptr), 1);
    EXPECT_EQ(tqmovie_cache_has("tt2", nullptr, nullptr), 0);

    const char *two_details = R"([{"imDbId":"tt3","title":"Three"},{"imDbId":"tt4","title":"Four"}])";
    host.script(Reply::ok(two_details));
    ASSERT_EQ(tqmovie_get_detail("tt3", nullptr, 0), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_detail_count(), 1);
    EXPECT_STREQ(tqmovie_detail_title(0), "Three");
    EXPECT_EQ(tqmovie_cache_has("tt3", nullptr, nullptr), 1);
    EXPECT_EQ(tqmovie_cache_has("tt4", nullptr, nullptr), 0);
}

// An answer carrying another id than the one asked for (another letter case, say)
// reaches the store but plants nothing in the cache.
TEST_F(LookupHost, RecordCarryingAnotherIdIsStoredButNotCached) {
    ASSERT_EQ(fetch_basic(R"({"imDbId":"TT0111161","title":"Upper"})"), TQMOVIE_OK);
    EXPECT_STREQ(tqmovie_basic_imdb_id(0), "TT0111161");
    EXPECT_EQ(tqmovie_cache_has("TT0111161", nullptr, nullptr), 0);
    EXPECT_EQ(tqmovie_cache_has("tt0111161", nullptr, nullptr), 0);
    host.clear_requests();
    EXPECT_EQ(fetch_basic(R"({"imDbId":"TT0111161","title":"Upper"})"), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 1u);
}

// A cached record answers only what it holds: asking for more sections, or in another
// language, goes to the service, and the answer replaces the cached record.
TEST_F(LookupHost, CacheAnswersOnlyTheLanguageAndSectionsItHolds) {
    host.always(Reply::ok(kDetailJson));
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, TQMOVIE_DETAIL_PICTURES), TQMOVIE_OK);
    EXPECT_EQ(tqtest::detail_lists(0), (Lists{0, 2, 0, 0, 0}));
    host.clear_requests();
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, TQMOVIE_DETAIL_PICTURES), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 0u);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 1u);
    EXPECT_EQ(tqtest::detail_lists(0), (Lists{2, 2, 1, 1, 2}));
    EXPECT_STREQ(tqmovie_detail_picture_item_url(0, 1), "https://img.example/2.jpg");
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, TQMOVIE_DETAIL_VIDEOS), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 1u);

    ASSERT_EQ(tqmovie_get_detail("tt0111161", "de-DE", 0), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 2u);
    EXPECT_EQ(host.last().url_s().find("language=de-DE") != std::string::npos, true);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", "de-DE", 0), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", "de-de", 0), TQMOVIE_OK); // languages compare exactly
    EXPECT_EQ(host.request_count(), 3u);

    host.always(Reply::ok(kBasicJson));
    ASSERT_EQ(tqmovie_get_basic("tt0111161", "en-US"), TQMOVIE_OK);
    for (const char *same : {"en-US", "", static_cast<const char *>(nullptr)})
        ASSERT_EQ(tqmovie_get_basic("tt0111161", same), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_get_basic("tt0111161", "pt-BR"), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 5u);
    EXPECT_STREQ(tqmovie_basic_title(0), "The Shawshank Redemption");
}

TEST_F(LookupHost, FewerSectionsFromFullCachedDetail) {
    host.script(Reply::ok(kDetailJson));
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, TQMOVIE_DETAIL_CAST), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 1u);
    EXPECT_EQ(tqtest::detail_lists(0), (Lists{2, 0, 0, 0, 2}));
}

TEST_F(LookupHost, SectionsZeroEqualsAll) {
    host.always(Reply::ok(kDetailJson));
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_OK);
    const Snap zero = snap_detail(0);
    const std::string url_zero = host.last().url_s();
    tqmovie_cache_clear();
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, TQMOVIE_DETAIL_ALL), TQMOVIE_OK);
    EXPECT_TRUE(same(zero, snap_detail(0)));
    EXPECT_EQ(host.last().url_s(), url_zero);
    EXPECT_EQ(tqtest::detail_lists(0), (Lists{2, 2, 1, 1, 2}));
}

// ---------------------------------------------------------------------------------
// Failures
// ---------------------------------------------------------------------------------

TEST_F(LookupHost, Http404IsStatus2WithEmptyStoreAndNothingCached) {
    ASSERT_EQ(fetch_basic(R"({"imDbId":"tt7","title":"Earlier"})", "tt7"), TQMOVIE_OK);
    tqtest::reset_tracking();
    int32_t st;
    host.script(Reply::http(404, "<html>not found</html>"));
    {
        tqtest::AllocFailure track(-1);
        st = tqmovie_get_basic("tt0111161", nullptr);
    }
    EXPECT_EQ(st, TQMOVIE_ERR_HTTP);
    EXPECT_STREQ(tqmovie_last_error(), "HTTP 404");
    EXPECT_EQ(tqmovie_last_http_code(), 404);
    EXPECT_EQ(tqmovie_basic_count(), 0);
    EXPECT_EQ(tqmovie_cache_has("tt0111161", nullptr, nullptr), 0);
    EXPECT_EQ(host.freed_by_entry, 1) << "an error page is released with free(), not the entry";
    EXPECT_EQ(tqtest::live_allocations(), 0) << "the error page leaked";

    host.script(Reply::http(404));
    EXPECT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_ERR_HTTP);
    EXPECT_STREQ(tqmovie_last_error(), "HTTP 404");
    EXPECT_EQ(tqmovie_detail_count(), 0);
    EXPECT_EQ(tqmovie_cache_has("tt0111161", nullptr, nullptr), 0);
}

TEST_F(LookupHost, FailuresReportStatusAndTextAndLeaveStoreEmpty) {
    struct Case {
        const char *name;
        const char *id;
        Reply reply;
        bool sends;
        int32_t status;
        const char *err;
        int32_t http;
    } cases[] = {
        {"null id", nullptr, Reply::ok(kBasicJson), false, TQMOVIE_ERR_ARG, "imdb_id required", 0},
        {"empty id", "", Reply::ok(kBasicJson), false, TQMOVIE_ERR_ARG, "imdb_id required", 0},
        {"not json", "tt0111161", Reply::ok("<html>oops</html>"), true, TQMOVIE_ERR_PARSE, "yyjson parse failed", 200},
        {"empty text", "tt0111161", Reply::ok(""), true, TQMOVIE_ERR_PARSE, "yyjson parse failed", 200},
        {"json null", "tt0111161", Reply::ok("null"), true, TQMOVIE_ERR_EMPTY, "", 200},
        {"no body", "tt0111161", Reply::no_body(200), true, TQMOVIE_ERR_EMPTY, "empty body", 200},
        {"empty object", "tt0111161", Reply::ok("{}"), true, TQMOVIE_ERR_EMPTY, "", 200},
        {"empty array", "tt0111161", Reply::ok("[]"), true, TQMOVIE_ERR_EMPTY, "", 200},
        {"string root", "tt0111161", Reply::ok("\"x\""), true, TQMOVIE_ERR_PARSE, "unexpected JSON root type", 200},
        {"http 500", "tt0111161", Reply::http(500), true, TQMOVIE_ERR_HTTP, "HTTP 500", 500},
        {"http 199", "tt0111161", Reply::http(199), true, TQMOVIE_ERR_HTTP, "HTTP 199", 199},
        {"transport", "tt0111161", Reply::fail("connection refused"), true, TQMOVIE_ERR_TRANSPORT,
         "transport: connection refused", 0},
        {"transport 503", "tt0111161", Reply::fail("reset", 503), true, TQMOVIE_ERR_TRANSPORT, "transport: reset", 503},
    };
    for (const Case &c : cases) {
        for (int detail = 0; detail < 2; ++detail) {
            SCOPED_TRACE(std::string(c.name) + (detail ? " (detail)" : " (basic)"));
            tqmovie_cache_clear();
            host.reset_script();
            host.script(Reply::ok(detail ? kDetailJson : kBasicJson));
            ASSERT_EQ(detail ? tqmovie_get_detail("tt0111161", nullptr, 0) : tqmovie_get_basic("tt0111161", nullptr),
                      TQMOVIE_OK);
            tqmovie_cache_clear();
            host.clear_requests();
            host.script(c.reply);
            int32_t st = detail ? tqmovie_get_detail(c.id, nullptr, 0) : tqmovie_get_basic(c.id, nullptr);
            EXPECT_EQ(st, c.status);
            EXPECT_STREQ(tqmovie_last_error(), c.err);
            EXPECT_EQ(tqmovie_last_http_code(), c.http);
            EXPECT_EQ(host.request_count(), c.sends ? 1u : 0u);
            EXPECT_EQ(tqmovie_basic_count(), 0);
            EXPECT_EQ(tqmovie_detail_count(), 0);
            EXPECT_EQ(tqmovie_basic_title(0), nullptr);
            EXPECT_EQ(g_tq.cache_count, 0u) << "a failed lookup cached something";
        }
    }
}

TEST_F(LookupHost, NoBackendIsStatus7EvenWhenCached) {
    ASSERT_EQ(fetch_basic(kBasicJson), TQMOVIE_OK);
    host.script(Reply::ok(kDetailJson));
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_OK);
    tqmovie_set_io(nullptr);
    EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_ERR_NO_IO);
    EXPECT_STREQ(tqmovie_last_error(), "no IO backend set");
    EXPECT_EQ(tqmovie_basic_count(), 0);
    EXPECT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_ERR_NO_IO);
    EXPECT_STREQ(tqmovie_last_error(), "no IO backend set");
    EXPECT_EQ(tqmovie_detail_count(), 0);
    // The cache survived and answers again once a backend is back.
    host.install();
    host.clear_requests();
    EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 0u);
}

TEST_F(LookupHost, TableWithoutGetEntryIsStatus7) {
    tq_io io = host.table();
    io.get = nullptr;
    tqmovie_set_io(&io);
    EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_ERR_NO_IO);
    EXPECT_STREQ(tqmovie_last_error(), "no IO backend set");
    EXPECT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_ERR_NO_IO);
}

TEST_F(LookupHost, BackendWithoutFreeEntryHasBodiesReleasedWithFree) {
    HostBackend bare(false);
    bare.install();
    bare.script(Reply::ok(kBasicJson));
    bare.script(Reply::ok(kDetailJson));
    bare.script(Reply::fail("down"));
    bare.script(Reply::http(503));
    tqtest::reset_tracking();
    int32_t st1, st2, st3, st4;
    {
        tqtest::AllocFailure track(-1);
        st1 = tqmovie_get_basic("tt0111161", nullptr);
        st2 = tqmovie_get_detail("tt0111161", nullptr, 0);
        st3 = tqmovie_get_basic("tt9", nullptr);
        st4 = tqmovie_get_detail("tt9", nullptr, 0);
        tqmovie_shutdown();
    }
    EXPECT_EQ(st1, TQMOVIE_OK);
    EXPECT_EQ(st2, TQMOVIE_OK);
    EXPECT_EQ(st3, TQMOVIE_ERR_TRANSPORT);
    EXPECT_STREQ(tqmovie_last_error(), "");
    EXPECT_EQ(st4, TQMOVIE_ERR_HTTP);
    EXPECT_EQ(tqtest::live_allocations(), 0);
}

// ---------------------------------------------------------------------------------
// Result store growth and shutdown
// ---------------------------------------------------------------------------------

std::string basic_array(int n) {
    std::string s = "[";
    for (int k = 0; k < n; ++k) {
        if (k) s += ",";
        s += R"({"imDbId":"tt)" + std::to_string(1000 + k) + R"(","title":"T)" + std::to_string(k) + "\"}";
    }
    return s + "]";
}

TEST_F(LookupHost, ResultStoreGrowsByDoubling) {
    const char *ids[] = {"a", "b"};
    EXPECT_EQ(g_tq.basic_cap, 0u);
    host.script(Reply::ok(basic_array(8)));
    ASSERT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_OK);
    EXPECT_EQ(g_tq.basic_count, 8u);
    EXPECT_EQ(g_tq.basic_cap, 8u);
    host.script(Reply::ok(basic_array(9)));
    ASSERT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_OK);
    EXPECT_EQ(g_tq.basic_count, 9u);
    EXPECT_EQ(g_tq.basic_cap, 16u);
    EXPECT_STREQ(tqmovie_basic_title(8), "T8");

    host.script(Reply::ok(basic_array(4)));
    ASSERT_EQ(tqmovie_get_details(ids, 1, nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(g_tq.detail_count, 4u);
    EXPECT_EQ(g_tq.detail_cap, 4u);
    EXPECT_EQ(g_tq.basic_cap, 0u) << "the next lookup empties the store";
    host.script(Reply::ok(basic_array(5)));
    ASSERT_EQ(tqmovie_get_details(ids, 1, nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(g_tq.detail_count, 5u);
    EXPECT_EQ(g_tq.detail_cap, 8u);

    tq_clear_results();
    EXPECT_EQ(g_tq.details, nullptr);
    EXPECT_EQ(g_tq.detail_count, 0u);
    EXPECT_EQ(g_tq.detail_cap, 0u);
    EXPECT_EQ(g_tq.basic_cap, 0u);
    EXPECT_EQ(g_tq.trans_cap, 0u);
}

TEST_F(LookupHost, ShutdownEmptiesEverythingButConfiguration) {
    tqmovie_set_host("http://127.0.0.1:9/x");
    tqmovie_cache_set_ttl(500, 700);
    tqmovie_set_batch_ceiling(5);
    ASSERT_EQ(fetch_basic(kBasicJson), TQMOVIE_OK);
    host.script(Reply::http(500));
    EXPECT_EQ(tqmovie_get_detail("tt2", nullptr, 0), TQMOVIE_ERR_HTTP);
    ASSERT_EQ(fetch_basic(kBasicJson, "tt0111161"), TQMOVIE_OK); // cache answer
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round ? "second shutdown" : "first shutdown");
        tqmovie_shutdown();
        EXPECT_STREQ(tqmovie_last_error(), "");
        EXPECT_EQ(tqmovie_last_http_code(), 0);
        EXPECT_EQ(tqmovie_basic_count(), 0);
        EXPECT_EQ(tqmovie_detail_count(), 0);
        EXPECT_EQ(tqmovie_trans_count(), 0);
        EXPECT_EQ(tqmovie_cache_has("tt0111161", nullptr, nullptr), 0);
        EXPECT_EQ(g_tq.cache_count, 0u);
        EXPECT_EQ(g_tq.has_io, 0);
        EXPECT_STREQ(g_tq.host, "http://127.0.0.1:9/x");
        EXPECT_EQ(g_tq.cache_ttl_basic, 500);
        EXPECT_EQ(g_tq.cache_ttl_detail, 700);
        EXPECT_EQ(tqmovie_batch_ceiling(), 5u);
    }
    EXPECT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_ERR_NO_IO);
    host.install();
    host.clear_requests();
    EXPECT_EQ(fetch_basic(kBasicJson), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 1u) << "the cache was emptied";
    EXPECT_EQ(host.last().url_s(), "http://127.0.0.1:9/x/api/AAA/GetMovieBasic?imdbId=tt0111161&language=en-US");
}

// ---------------------------------------------------------------------------------
// Every allocation failing in turn
// ---------------------------------------------------------------------------------

// Checks one run of a single-title lookup in which allocation k may have failed.
void check_failed_lookup(int32_t st, bool hit, bool detail, const Snap &want, long own_failures_before,
                         long own_failures_now, int *dropped) {
    if (!hit) {
        ASSERT_EQ(st, TQMOVIE_OK) << tqmovie_last_error();
        ASSERT_TRUE(same(want, detail ? snap_detail(0) : snap_basic(0)));
        return;
    }
    const int32_t n = detail ? tqmovie_detail_count() : tqmovie_basic_count();
    switch (st) {
    case TQMOVIE_OK: {
        ASSERT_EQ(n, 1);
        ASSERT_TRUE(same_or_dropped(want, detail ? snap_detail(0) : snap_basic(0), dropped));
        // Whatever was dropped, the record still exports as valid JSON (a NULL list
        // element is written as null).
        char *json = detail ? tqmovie_detail_to_json(0) : tqmovie_basic_to_json(0);
        ASSERT_NE(json, nullptr);
        yyjson_doc *doc = yyjson_read(json, std::strlen(json), 0);
        EXPECT_NE(doc, nullptr) << json;
        yyjson_doc_free(doc);
        std::free(json);
        break;
    }
    case TQMOVIE_ERR_NOMEM:
        EXPECT_STREQ(tqmovie_last_error(), "");
        ASSERT_EQ(n, 0) << "a failed append left a record behind";
        break;
    case TQMOVIE_ERR_PARSE: {
        // The JSON reader reports no cause, so its own allocation failing reads as a
        // parse failure; memory running out while decoding the object has its own text.
        const std::string e = tqmovie_last_error();
        EXPECT_TRUE(e == (detail ? "detail object parse failed" : "basic object parse failed") ||
                    e == "yyjson parse failed")
            << e;
        ASSERT_EQ(n, 0);
        break;
    }
    case TQMOVIE_ERR_TRANSPORT:
        // Only the backend's own buffers (the host's copy, the fixture reader) fail this way.
        EXPECT_EQ(std::string(tqmovie_last_error()).rfind("transport: ", 0), 0u) << tqmovie_last_error();
        EXPECT_TRUE(own_failures_now > own_failures_before ||
                    std::string(tqmovie_last_error()).find("fake") != std::string::npos ||
                    std::string(tqmovie_last_error()) == "transport: unknown")
            << tqmovie_last_error();
        ASSERT_EQ(n, 0);
        break;
    default: ADD_FAILURE() << "status " << st << " '" << tqmovie_last_error() << "'";
    }
    EXPECT_EQ(tqmovie_basic_count() + tqmovie_detail_count(), n);
}

// Every allocation of a lookup failing in turn, once and from then on; `cached`: the
// record is in the cache, so the lookup copies it out instead of asking the backend.
void LookupHost::sweep(bool detail, bool cached, long min_runs) {
    host.always(Reply::ok(detail ? kDetailJson : kBasicJson));
    auto lookup = [&] {
        if (!cached) tqmovie_cache_clear();
        return detail ? tqmovie_get_detail("tt0111161", nullptr, 0) : tqmovie_get_basic("tt0111161", nullptr);
    };
    ASSERT_EQ(lookup(), TQMOVIE_OK);
    const Snap want = detail ? snap_detail(0) : snap_basic(0);
    for (tqtest::FailMode mode : tqtest::kFailModes) {
        SCOPED_TRACE(tqtest::mode_name(mode));
        ASSERT_EQ(lookup(), TQMOVIE_OK);
        tqtest::reset_tracking();
        int dropped = 0;
        long own = host.own_alloc_failed;
        long runs = tqtest::each_allocation_failure(
            lookup,
            [&](int32_t st, long k, bool hit) {
                SCOPED_TRACE("allocation " + std::to_string(k));
                check_failed_lookup(st, hit, detail, want, own, host.own_alloc_failed, &dropped);
                own = host.own_alloc_failed;
            },
            mode);
        EXPECT_GT(runs, min_runs);
        tqmovie_shutdown();
        EXPECT_EQ(tqtest::live_allocations(), 0);
        host.install();
        if (dropped) RecordProperty("texts_dropped_silently", dropped);
    }
}

TEST_F(LookupHost, EachAllocationFailureOfBasicLookup) { sweep(false, false, 5); }
TEST_F(LookupHost, EachAllocationFailureOfCachedBasicAnswer) { sweep(false, true, 0); }
TEST_F(LookupHost, EachAllocationFailureOfDetailLookup) { sweep(true, false, 20); }
TEST_F(LookupHost, EachAllocationFailureOfCachedDetailAnswer) { sweep(true, true, 0); }

// ---------------------------------------------------------------------------------
// Through the fixture backend
// ---------------------------------------------------------------------------------

// The first string member of the root object (or of the first element of an array
// root) among the keys, as the decoders read it.
std::optional<std::string> fixture_text(const std::string &json, std::initializer_list<const char *> keys) {
    yyjson_doc *doc = yyjson_read(json.data(), json.size(), 0);
    if (!doc) return std::nullopt;
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (yyjson_is_arr(root)) root = yyjson_arr_get_first(root);
    std::optional<std::string> out;
    for (const char *k : keys) {
        yyjson_val *v = yyjson_obj_get(root, k);
        if (yyjson_is_str(v)) {
            out = std::string(yyjson_get_str(v));
            break;
        }
    }
    yyjson_doc_free(doc);
    return out;
}

class LookupFixture : public tqtest::FixtureBackendTest {};

TEST_F(LookupFixture, SampleSetIsThere) {
    auto basics = tqtest::fixture_ids(TQ_FIXTURES_DIR, "basic-");
    auto details = tqtest::fixture_ids(TQ_FIXTURES_DIR, "detail-");
    EXPECT_GE(basics.size(), 8u);
    EXPECT_GE(details.size(), 8u);
    EXPECT_NE(std::find(basics.begin(), basics.end(), "tt0111161"), basics.end());
}

TEST_F(LookupFixture, EveryBasicFixtureLooksUpThenComesFromCache) {
    for (const std::string &id : tqtest::fixture_ids(TQ_FIXTURES_DIR, "basic-")) {
        SCOPED_TRACE(id);
        const std::string json = fixture("basic-" + id + ".json");
        ASSERT_EQ(tqmovie_get_basic(id.c_str(), nullptr), TQMOVIE_OK) << tqmovie_last_error();
        EXPECT_EQ(tqmovie_last_http_code(), 200);
        ASSERT_EQ(tqmovie_basic_count(), 1);
        EXPECT_EQ(opt(tqmovie_basic_title(0)), fixture_text(json, {"title"}));
        EXPECT_EQ(opt(tqmovie_basic_imdb_id(0)), fixture_text(json, {"imDbId", "IMDbId", "imdbId"}));
        const Snap first = snap_basic(0);
        if (tqmovie_basic_imdb_id(0) && id == tqmovie_basic_imdb_id(0)) {
            EXPECT_EQ(tqmovie_get_basic(id.c_str(), "en-US"), TQMOVIE_OK);
            EXPECT_EQ(tqmovie_last_http_code(), 0) << "not answered from the cache";
            EXPECT_TRUE(same(first, snap_basic(0)));
        }
    }
}

TEST_F(LookupFixture, EveryDetailFixtureLooksUpThenComesFromCache) {
    for (const std::string &id : tqtest::fixture_ids(TQ_FIXTURES_DIR, "detail-")) {
        SCOPED_TRACE(id);
        const std::string json = fixture("detail-" + id + ".json");
        ASSERT_EQ(tqmovie_get_detail(id.c_str(), nullptr, 0), TQMOVIE_OK) << tqmovie_last_error();
        EXPECT_EQ(tqmovie_last_http_code(), 200);
        ASSERT_EQ(tqmovie_detail_count(), 1);
        EXPECT_EQ(opt(tqmovie_detail_title(0)), fixture_text(json, {"title"}));
        EXPECT_EQ(opt(tqmovie_detail_original_title(0)), fixture_text(json, {"originalTitle"}));
        const Snap first = snap_detail(0);
        if (tqmovie_detail_imdb_id(0) && id == tqmovie_detail_imdb_id(0)) {
            EXPECT_EQ(tqmovie_get_detail(id.c_str(), nullptr, TQMOVIE_DETAIL_ALL), TQMOVIE_OK);
            EXPECT_EQ(tqmovie_last_http_code(), 0) << "not answered from the cache";
            EXPECT_TRUE(same(first, snap_detail(0)));
        }
    }
}

TEST_F(LookupFixture, MissingFixtureIsTransportFailureWith404) {
    EXPECT_EQ(tqmovie_get_basic("tt0000000404", nullptr), TQMOVIE_ERR_TRANSPORT);
    EXPECT_STREQ(tqmovie_last_error(), "transport: fake: basic not found");
    EXPECT_EQ(tqmovie_last_http_code(), 404);
    EXPECT_EQ(tqmovie_basic_count(), 0);
    EXPECT_EQ(tqmovie_get_detail("tt0000000404", nullptr, 0), TQMOVIE_ERR_TRANSPORT);
    EXPECT_STREQ(tqmovie_last_error(), "transport: fake: detail not found");
    EXPECT_EQ(tqmovie_last_http_code(), 404);
    EXPECT_EQ(tqmovie_detail_count(), 0);
}

TEST_F(LookupFixture, EachAllocationFailureOfFixtureLookups) {
    for (int detail = 0; detail < 2; ++detail) {
        SCOPED_TRACE(detail ? "detail" : "basic");
        auto call = [&] {
            tqmovie_cache_clear();
            return detail ? tqmovie_get_detail("tt0111161", nullptr, 0) : tqmovie_get_basic("tt0111161", nullptr);
        };
        ASSERT_EQ(call(), TQMOVIE_OK) << tqmovie_last_error();
        const Snap want = detail ? snap_detail(0) : snap_basic(0);
        tqtest::reset_tracking();
        int dropped = 0;
        tqtest::each_allocation_failure(call, [&](int32_t st, long k, bool hit) {
            SCOPED_TRACE("allocation " + std::to_string(k));
            check_failed_lookup(st, hit, detail != 0, want, 0, 0, &dropped);
        });
        tqmovie_shutdown();
        EXPECT_EQ(tqtest::live_allocations(), 0);
        install_fixtures();
    }
}

} // namespace
