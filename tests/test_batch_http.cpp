// SPDX-License-Identifier: MIT
// The lookups end to end over real HTTP: the library's public operations with the
// libcurl backend against a service stand-in on 127.0.0.1 that records every request.
#include <gtest/gtest.h>

#include "loopback_server.h"
#include "tqmovie.h"

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using tqtest::HttpRequest;
using tqtest::HttpResponse;
using tqtest::LoopbackServer;

std::vector<std::string> split_ids(const std::string &body) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= body.size() && !body.empty()) {
        size_t comma = body.find(',', at);
        out.push_back(body.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out;
}

std::string query_value(const std::string &query, const std::string &key) {
    size_t at = ("&" + query).find("&" + key + "=");
    if (at == std::string::npos) return "<absent>";
    size_t start = at + key.size() + 1, end = query.find('&', start);
    return query.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string basic_json(const std::string &id) {
    return "{\"imDbId\":\"" + id + "\",\"title\":\"Title " + id + "\",\"year\":1994,\"genres\":\"Drama,Crime\"}";
}

// Answers like the service: one record per requested id, in request order.
HttpResponse service(const HttpRequest &r) {
    HttpResponse res;
    const std::string path = r.path();
    std::string out = "[";
    if (path == "/api/AAA/GetMovieBasics" || path == "/api/AAA/GetMovieDetails" ||
        path == "/api/AAA/GetMovieTranslations") {
        for (const auto &id : split_ids(r.body)) {
            if (out.size() > 1) out += ",";
            if (path == "/api/AAA/GetMovieBasics")
                out += basic_json(id);
            else if (path == "/api/AAA/GetMovieDetails")
                out += "{\"imDbId\":\"" + id + "\",\"title\":\"Detail " + id + "\",\"runtimeMinutes\":142}";
            else
                out += "{\"imDbId\":\"" + id + "\",\"items\":[{\"title\":\"T " + id + "\",\"iso_639_1\":\"" +
                       query_value(r.query(), "part1") + "\",\"iso_3166_1\":\"" + query_value(r.query(), "part2") +
                       "\"}]}";
        }
        res.body = out + "]";
    } else if (path == "/api/AAA/GetMovieBasic") {
        res.body = basic_json(query_value(r.query(), "imdbId"));
    } else {
        res.status = 404;
        res.body = "no such endpoint";
    }
    res.headers.emplace_back("Content-Type", "application/json");
    return res;
}

std::vector<std::string> make_ids(int n) {
    std::vector<std::string> ids;
    for (int i = 0; i < n; ++i) ids.push_back("tt" + std::to_string(1000000 + i));
    return ids;
}

std::vector<const char *> ptrs(const std::vector<std::string> &ids) {
    std::vector<const char *> p;
    for (const auto &s : ids) p.push_back(s.c_str());
    return p;
}

std::string joined(const std::vector<std::string> &ids, size_t from, size_t n) {
    std::string s;
    for (size_t i = from; i < from + n; ++i) s += (i > from ? "," : "") + ids[i];
    return s;
}

class BatchHttp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(srv_.ok());
        tq_io io = tolvane_io_curl();
        tqmovie_set_io(&io);
        tqmovie_set_host(srv_.base().c_str());
        tqmovie_cache_clear();
        tqmovie_set_batch_ceiling(0);
    }
    void TearDown() override {
        tqmovie_shutdown();
        tqmovie_set_batch_ceiling(0);
        tqmovie_set_host(nullptr);
    }
    // The handler the server runs; a test may replace it before sending anything.
    std::function<HttpResponse(const HttpRequest &)> handler_ = service;
    LoopbackServer srv_{[this](const HttpRequest &r) { return handler_(r); }};
};

void expect_post(const HttpRequest &r, const std::string &target, const std::string &body) {
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, target);
    EXPECT_EQ(r.header_line("Content-Type"), "Content-Type: text/plain");
    EXPECT_EQ(r.header("User-Agent"), "tqmovie/0.1 (tolvane)");
    EXPECT_EQ(r.header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(r.body, body);
}

TEST_F(BatchHttp, BasicsSplitAtTheCeilingAndKeepTheServiceOrder) {
    const auto ids = make_ids(25);
    auto p = ptrs(ids);
    ASSERT_EQ(tqmovie_get_basics(p.data(), p.size()), TQMOVIE_OK) << tqmovie_last_error();
    auto reqs = srv_.requests();
    ASSERT_EQ(reqs.size(), 2u);
    expect_post(reqs[0], "/api/AAA/GetMovieBasics?read=true&ignoreNew=true&getKeys=false", joined(ids, 0, 24));
    expect_post(reqs[1], "/api/AAA/GetMovieBasics?read=true&ignoreNew=false&getKeys=false", ids[24]);
    EXPECT_EQ(tqmovie_last_http_code(), 200);
    ASSERT_EQ(tqmovie_basic_count(), 25);
    for (int i = 0; i < 25; ++i) {
        EXPECT_STREQ(tqmovie_basic_imdb_id(i), ids[i].c_str());
        EXPECT_EQ(std::string(tqmovie_basic_title(i)), "Title " + ids[i]);
        EXPECT_EQ(tqmovie_basic_year(i), 1994);
        ASSERT_EQ(tqmovie_basic_genres_count(i), 2);
        EXPECT_STREQ(tqmovie_basic_genre(i, 1), "Crime");
        int32_t fresh = 0;
        EXPECT_EQ(tqmovie_cache_has(ids[i].c_str(), &fresh, nullptr), 1);
        EXPECT_EQ(fresh, 1);
    }
}

TEST_F(BatchHttp, ServerErrorOnTheSecondOfThreeChunksEndsTheCall) {
    handler_ = [](const HttpRequest &r) {
        if (r.body == "tt1000002,tt1000003") {
            HttpResponse res;
            res.status = 500;
            res.body = "{\"error\":\"overloaded\"}";
            return res;
        }
        return service(r);
    };
    tqmovie_set_batch_ceiling(2);
    const auto ids = make_ids(5);
    auto p = ptrs(ids);
    EXPECT_EQ(tqmovie_get_basics(p.data(), p.size()), TQMOVIE_ERR_HTTP);
    EXPECT_STREQ(tqmovie_last_error(), "HTTP 500");
    EXPECT_EQ(tqmovie_last_http_code(), 500);
    auto reqs = srv_.requests();
    ASSERT_EQ(reqs.size(), 2u); // the third chunk is never sent
    expect_post(reqs[0], "/api/AAA/GetMovieBasics?read=true&ignoreNew=true&getKeys=false", "tt1000000,tt1000001");
    expect_post(reqs[1], "/api/AAA/GetMovieBasics?read=true&ignoreNew=true&getKeys=false", "tt1000002,tt1000003");
    ASSERT_EQ(tqmovie_basic_count(), 2);
    EXPECT_STREQ(tqmovie_basic_imdb_id(0), "tt1000000");
    EXPECT_STREQ(tqmovie_basic_imdb_id(1), "tt1000001");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(tqmovie_cache_has(ids[i].c_str(), nullptr, nullptr), i < 2 ? 1 : 0) << i;
}

TEST_F(BatchHttp, DetailsUseOnePathForEveryChunk) {
    tqmovie_set_batch_ceiling(2);
    const auto ids = make_ids(3);
    auto p = ptrs(ids);
    ASSERT_EQ(tqmovie_get_details(p.data(), p.size(), "ignored", 0), TQMOVIE_OK) << tqmovie_last_error();
    auto reqs = srv_.requests();
    ASSERT_EQ(reqs.size(), 2u);
    expect_post(reqs[0], "/api/AAA/GetMovieDetails?read=true&getKeys=false", joined(ids, 0, 2));
    expect_post(reqs[1], "/api/AAA/GetMovieDetails?read=true&getKeys=false", ids[2]);
    ASSERT_EQ(tqmovie_detail_count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(tqmovie_detail_imdb_id(i), ids[i].c_str());
        EXPECT_EQ(std::string(tqmovie_detail_title(i)), "Detail " + ids[i]);
        EXPECT_EQ(tqmovie_detail_runtime(i), 142);
    }
}

TEST_F(BatchHttp, TranslationsGoInOneRequestWithEncodedLanguage) {
    const struct {
        const char *part1, *part2, *sent1, *sent2;
    } cases[] = {
        {nullptr, nullptr, "zh", "CN"},
        {"pt", "BR", "pt", "BR"},
        {"zh Hant", "T&W/x", "zh%20Hant", "T%26W%2Fx"},
        {"", "", "", ""},
    };
    tqmovie_set_batch_ceiling(4); // does not apply to translations
    const auto ids = make_ids(30);
    auto p = ptrs(ids);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sent1);
        srv_.clear();
        ASSERT_EQ(tqmovie_get_translations(p.data(), p.size(), c.part1, c.part2), TQMOVIE_OK) << tqmovie_last_error();
        auto reqs = srv_.requests();
        ASSERT_EQ(reqs.size(), 1u);
        expect_post(reqs[0],
                    std::string("/api/AAA/GetMovieTranslations?read=true&getKeys=false&part1=") + c.sent1 +
                        "&part2=" + c.sent2,
                    joined(ids, 0, 30));
        ASSERT_EQ(tqmovie_trans_count(), 30);
        EXPECT_STREQ(tqmovie_trans_imdb_id(29), ids[29].c_str());
        ASSERT_EQ(tqmovie_trans_items_count(0), 1);
        EXPECT_EQ(std::string(tqmovie_trans_item_title(0, 0)), "T " + ids[0]);
        EXPECT_STREQ(tqmovie_trans_item_lang(0, 0), c.sent1);
        EXPECT_STREQ(tqmovie_trans_item_region(0, 0), c.sent2);
    }
}

TEST_F(BatchHttp, SingleTitleLookupGoesOutOnceThenComesFromTheCache) {
    ASSERT_EQ(tqmovie_get_basic("tt0111161", nullptr), TQMOVIE_OK) << tqmovie_last_error();
    ASSERT_EQ(srv_.request_count(), 1u);
    const HttpRequest r = srv_.requests()[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/api/AAA/GetMovieBasic?imdbId=tt0111161&language=en-US");
    EXPECT_EQ(r.header("User-Agent"), "tqmovie/0.1 (tolvane)");
    EXPECT_EQ(tqmovie_last_http_code(), 200);
    ASSERT_EQ(tqmovie_basic_count(), 1);
    EXPECT_STREQ(tqmovie_basic_title(0), "Title tt0111161");

    ASSERT_EQ(tqmovie_get_basic("tt0111161", "en-US"), TQMOVIE_OK);
    EXPECT_EQ(srv_.request_count(), 1u);
    EXPECT_EQ(tqmovie_last_http_code(), 0);
    EXPECT_STREQ(tqmovie_basic_title(0), "Title tt0111161");
}

TEST_F(BatchHttp, SingleTitleNotFoundIsAnHttpError) {
    handler_ = [](const HttpRequest &) {
        HttpResponse res;
        res.status = 404;
        res.body = "{\"error\":\"unknown title\"}";
        return res;
    };
    EXPECT_EQ(tqmovie_get_basic("tt9999999", "en-US"), TQMOVIE_ERR_HTTP);
    EXPECT_STREQ(tqmovie_last_error(), "HTTP 404");
    EXPECT_EQ(tqmovie_last_http_code(), 404);
    EXPECT_EQ(tqmovie_basic_count(), 0);
    EXPECT_EQ(tqmovie_cache_has("tt9999999", nullptr, nullptr), 0);
}

TEST_F(BatchHttp, ProbeReadsTheBareAnswer) {
    const struct {
        const char *body;
        int32_t status, is_movie;
    } cases[] = {{"true", TQMOVIE_OK, 1}, {"\n  false", TQMOVIE_OK, 0}, {"\"true\"", TQMOVIE_ERR_PARSE, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        handler_ = [&](const HttpRequest &) {
            HttpResponse res;
            res.body = c.body;
            return res;
        };
        srv_.clear();
        int32_t is_movie = -1;
        EXPECT_EQ(tqmovie_is_movie("tt 1/x", &is_movie), c.status) << tqmovie_last_error();
        EXPECT_EQ(is_movie, c.is_movie);
        ASSERT_EQ(srv_.request_count(), 1u);
        EXPECT_EQ(srv_.requests()[0].target, "/api/AAA/IsMovie?imdbId=tt%201%2Fx");
        EXPECT_EQ(srv_.requests()[0].method, "GET");
    }
}

TEST_F(BatchHttp, UnreachableServiceIsATransportError) {
    tqtest::RefusingPort closed;
    tqmovie_set_host(("http://127.0.0.1:" + std::to_string(closed.port())).c_str());
    const auto ids = make_ids(3);
    auto p = ptrs(ids);
    EXPECT_EQ(tqmovie_get_basics(p.data(), p.size()), TQMOVIE_ERR_TRANSPORT);
    EXPECT_STREQ(tqmovie_last_error(), "transport: Couldn't connect to server");
    EXPECT_EQ(tqmovie_last_http_code(), 0);
    EXPECT_EQ(tqmovie_basic_count(), 0);
}

} // namespace
