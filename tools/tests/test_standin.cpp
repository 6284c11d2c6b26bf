// SPDX-License-Identifier: MIT
// The stand-in's generated titles (--synthetic) read through the library's HTTP backend
// and its complete export, its request budget (--rps), its pool (--threads) and the
// traffic GET /stats reports. Nothing here measures time: the budget refills one token
// in a thousand seconds, so which requests it refuses does not depend on speed.
#include "tqmovie.h"

#include "mock_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using tqtest::scoped_service;
using tqtest::stat;

constexpr const char *film = "tt1234560";   // even last digit
constexpr const char *series = "tt1234567"; // odd

// Answers every request with one text: exported records read back by the decoders.
int32_t echo_get(void *ctx, const char *, char **body, int32_t *status, char **) {
    *body = strdup(static_cast<const std::string *>(ctx)->c_str());
    *status = 200;
    return *body ? 0 : 1;
}
int32_t echo_post(void *ctx, const char *url, const char *, const char *, char **body, int32_t *status, char **err) {
    return echo_get(ctx, url, body, status, err);
}

class MockServiceSynthetic : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        svc_ = std::make_unique<scoped_service>(TQ_FIXTURES_DIR, std::vector<std::string>{"--synthetic"});
    }
    static void TearDownTestSuite() { svc_.reset(); }
    void SetUp() override {
        ASSERT_GT(svc_->port, 0) << tqtest::service << " did not start";
        use_service();
    }
    void TearDown() override { tqmovie_shutdown(); }
    static void use_service() {
        tq_io io = tolvane_io_curl();
        tqmovie_set_io(&io);
        tqmovie_set_host(svc_->url().c_str());
        tqmovie_cache_clear();
    }
    static std::unique_ptr<scoped_service> svc_;
};
std::unique_ptr<scoped_service> MockServiceSynthetic::svc_;

// Every endpoint's records decode, and their complete export decodes back to records
// whose export is the same text: nothing is lost either way.
TEST_F(MockServiceSynthetic, EveryEndpointDecodesAndRoundTrips) {
    static const char *ids[] = {film, series};
    const struct {
        const char *name;
        int32_t (*lookup)();
        int32_t (*count)();
        char *(*full)(int32_t);
    } kinds[] = {
        {"basic", [] { return tqmovie_get_basic(series, "pt-BR"); }, tqmovie_basic_count, tqmovie_basic_to_json_full},
        {"basics", [] { return tqmovie_get_basics(ids, 2); }, tqmovie_basic_count, tqmovie_basic_to_json_full},
        {"detail", [] { return tqmovie_get_detail(film, "pt-BR", 0); }, tqmovie_detail_count,
         tqmovie_detail_to_json_full},
        {"details", [] { return tqmovie_get_details(ids, 2, nullptr, 0); }, tqmovie_detail_count,
         tqmovie_detail_to_json_full},
        {"translations", [] { return tqmovie_get_translations(ids, 2, "de", "DE"); }, tqmovie_trans_count,
         tqmovie_trans_to_json},
    };
    for (const auto &k : kinds) {
        SCOPED_TRACE(k.name);
        use_service();
        ASSERT_EQ(k.lookup(), TQMOVIE_OK) << tqmovie_last_error();
        ASSERT_EQ(k.count(), k.name[std::strlen(k.name) - 1] == 's' ? 2 : 1);
        std::vector<std::string> exported;
        std::string answer = "[";
        for (int32_t i = 0; i < k.count(); ++i) {
            char *text = k.full(i);
            ASSERT_NE(text, nullptr);
            exported.push_back(text);
            answer += (i ? "," : "") + exported.back();
            std::free(text);
        }
        answer += "]";
        tq_io echo = {&answer, echo_get, echo_post, nullptr};
        tqmovie_set_io(&echo);
        tqmovie_cache_clear();
        ASSERT_EQ(k.lookup(), TQMOVIE_OK) << tqmovie_last_error();
        ASSERT_EQ(static_cast<size_t>(k.count()), exported.size());
        for (int32_t i = 0; i < k.count(); ++i) {
            char *text = k.full(i);
            EXPECT_EQ(std::string(text ? text : "(null)"), exported[size_t(i)]);
            std::free(text);
        }
    }
}

TEST_F(MockServiceSynthetic, RecordsFollowTheDocumentedRules) {
    ASSERT_EQ(tqmovie_get_basic(series, "pt-BR"), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_STREQ(tqmovie_basic_title(0), "Synthetic Title 1234567");
    EXPECT_STREQ(tqmovie_basic_plot(0), "Plot of tt1234567 in pt-BR");
    EXPECT_EQ(tqmovie_basic_year(0), 1950 + 1234567 % 75);

    // de-DE has no plot; every section holds a few items.
    ASSERT_EQ(tqmovie_get_detail(film, "de-DE", 0), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_STREQ(tqmovie_detail_plot(0), "");
    EXPECT_STREQ(tqmovie_detail_title_type(0), "movie");
    EXPECT_EQ(tqmovie_detail_is_tv(0), 0);
    for (int32_t n : {tqmovie_detail_cast_count(0), tqmovie_detail_related_count(0), tqmovie_detail_picture_count(0),
                      tqmovie_detail_provider_count(0), tqmovie_detail_video_count(0)})
        EXPECT_GE(n, 2);

    const char *ids[] = {film};
    ASSERT_EQ(tqmovie_get_translations(ids, 1, nullptr, nullptr), TQMOVIE_OK) << tqmovie_last_error();
    ASSERT_EQ(tqmovie_trans_items_count(0), 3);
    EXPECT_STREQ(tqmovie_trans_item_plot(0, 0), "");
    EXPECT_STREQ(tqmovie_trans_item_plot(0, 1), "Plot of tt1234560 in pt-BR");

    // The same id gets the same bytes.
    httplib::Client c("127.0.0.1", svc_->port);
    const std::string path = std::string("/api/AAA/GetMovieDetail?imdbId=") + film;
    httplib::Result a = c.Get(path.c_str()), b = c.Get(path.c_str());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->body, b->body);
}

TEST_F(MockServiceSynthetic, ProbeFollowsTheLastDigit) {
    const std::pair<const char *, int32_t> cases[] = {
        {film, 1},
        {series, 0},
        {"tt0000000008", 1},
        {"tt9999999999", 0},
        {"tt123456", 0}, // six digits: unknown, so not a film
        {"tt12345678902", 0},
    };
    for (auto [id, expected] : cases) {
        int32_t is_movie = -1;
        ASSERT_EQ(tqmovie_is_movie(id, &is_movie), TQMOVIE_OK) << id << ": " << tqmovie_last_error();
        EXPECT_EQ(is_movie, expected) << id;
    }
}

TEST_F(MockServiceSynthetic, IdsThatAreNotWellFormedAreNotFound) {
    for (const char *id : {"tt123456", "tt12345678902", "nm1234567", "TT1234567", "tt12345x7"}) {
        EXPECT_EQ(tqmovie_get_basic(id, nullptr), TQMOVIE_ERR_HTTP) << id;
        EXPECT_EQ(tqmovie_last_http_code(), 404) << id;
        EXPECT_EQ(tqmovie_get_detail(id, nullptr, 0), TQMOVIE_ERR_HTTP) << id;
        EXPECT_EQ(tqmovie_last_http_code(), 404) << id;
        const char *ids[] = {id, film, id};
        ASSERT_EQ(tqmovie_get_details(ids, 3, nullptr, 0), TQMOVIE_OK) << id;
        ASSERT_EQ(tqmovie_detail_count(), 1) << id;
        EXPECT_STREQ(tqmovie_detail_imdb_id(0), film);
    }
}

TEST(MockServiceTraffic, BudgetRefusesTheBurstBeyondIt) {
    scoped_service svc(TQ_FIXTURES_DIR, {"--synthetic", "--rps", "0.001/2"});
    ASSERT_GT(svc.port, 0);
    httplib::Client c("127.0.0.1", svc.port);
    const int expected[] = {200, 200, 429, 429, 429};
    for (int status : expected) {
        httplib::Result r = c.Get("/api/AAA/IsMovie?imdbId=tt1234560");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, status);
        EXPECT_EQ(r->get_header_value("Retry-After"), status == 429 ? "1" : "");
    }
    EXPECT_EQ(stat(svc, "requests"), 5);
    EXPECT_EQ(stat(svc, "rpsLimited"), 3);
    EXPECT_EQ(stat(svc, "rateLimited"), 0);
}

// Three idle connections hold three of the four workers (the server gives each five
// seconds for its first line); the fourth still serves, and the peak counts them all
// with the one asking for /stats.
TEST(MockServiceTraffic, StatsReportThePeaks) {
    scoped_service svc(TQ_FIXTURES_DIR, {"--threads", "4"});
    ASSERT_GT(svc.port, 0);
    std::vector<int> idle;
    for (int i = 0; i < 3; ++i) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(svc.port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        idle.push_back(fd);
    }
    httplib::Client c("127.0.0.1", svc.port);
    for (int i = 0; i < 2; ++i) {
        httplib::Result r = c.Get("/api/AAA/IsMovie?imdbId=tt0111161");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->body, "true");
    }
    EXPECT_GE(stat(svc, "peakConnections"), 4);
    EXPECT_GE(stat(svc, "connections"), 6);
    const long rate = stat(svc, "peakRequestsPerSecond");
    EXPECT_GE(rate, 1);
    EXPECT_LE(rate, 2);
    for (int fd : idle) close(fd);
}

TEST(MockServiceTraffic, BadValuesAreUsageErrors) {
    const std::vector<std::string> cases[] = {{"--rps", "0"},   {"--rps", "x"},     {"--rps", "1/0"},
                                              {"--rps", "1e3"}, {"--threads", "0"}, {"--threads", "4097"}};
    for (const auto &args : cases) {
        tqtest::service_process s = tqtest::start_service(TQ_FIXTURES_DIR, args);
        EXPECT_EQ(s.port, 0) << args[0] << " " << args[1];
        EXPECT_EQ(tqtest::stop_service(s, SIGTERM), 64) << args[0] << " " << args[1];
    }
}

} // namespace
