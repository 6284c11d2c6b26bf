// SPDX-License-Identifier: MIT
// Client frame: configuration, status, request dispatch, the title-kind probe and
// the stub backend.
#include "alloc_fail.h"
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A scripted backend: answers every request with one canned outcome and records what
// it was asked. Everything it hands out comes from malloc.
struct Script {
    int32_t result = 0;
    int32_t status = 200;
    bool store_status = true;
    const char *body = "true";
    const char *desc = nullptr;
    std::vector<std::string> urls;
    std::vector<std::string> content_types;
    int frees = 0;
};

Script *g_script;

int32_t answer(char **body, int32_t *status, char **err) {
    Script &s = *g_script;
    if (s.store_status) *status = s.status;
    if (s.body) *body = strdup(s.body);
    if (s.desc) *err = strdup(s.desc);
    return s.result;
}

int32_t script_get(void *, const char *url, char **body, int32_t *status, char **err) {
    {
        tqtest::AllocPause pause;
        g_script->urls.emplace_back(url);
    }
    return answer(body, status, err);
}

int32_t script_post(void *, const char *url, const char *, const char *ctype, char **body, int32_t *status,
                    char **err) {
    {
        tqtest::AllocPause pause;
        g_script->urls.emplace_back(url);
        g_script->content_types.emplace_back(ctype ? ctype : "(null)");
    }
    return answer(body, status, err);
}

void script_free(void *, void *p) {
    ++g_script->frees;
    std::free(p);
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        tqmovie_shutdown();
        std::memset(&g_tq, 0, sizeof g_tq); // back to the state at load
        g_script = &script;
        io = tq_io{nullptr, script_get, script_post, script_free};
    }
    void TearDown() override {
        tqmovie_shutdown();
        g_script = nullptr;
    }
    void install() { tqmovie_set_io(&io); }

    Script script;
    tq_io io{};
};

TEST_F(Frame, FreshStateReportsNothing) {
    EXPECT_STREQ(tqmovie_last_error(), "");
    EXPECT_NE(tqmovie_last_error(), nullptr);
    EXPECT_EQ(tqmovie_last_http_code(), 0);
    EXPECT_EQ(tqmovie_last_response_header("Content-Type"), nullptr);
    EXPECT_EQ(tqmovie_last_response_header(nullptr), nullptr);
    EXPECT_EQ(g_tq.host[0], '\0');
}

TEST_F(Frame, ConfigurationFillsDefaults) {
    tqmovie_set_io(nullptr);
    EXPECT_STREQ(g_tq.host, TQMOVIE_DEFAULT_HOST);
    EXPECT_EQ(g_tq.batch_ceiling, 24u);
    EXPECT_EQ(g_tq.cache_ttl_basic, 86400);
    EXPECT_EQ(g_tq.cache_ttl_detail, 21600);
    EXPECT_EQ(g_tq.has_io, 0);

    // Both lifetimes at 0 last only until the next call that fills defaults; one of
    // them alone at 0 stays.
    tqmovie_cache_set_ttl(0, 0);
    EXPECT_EQ(g_tq.cache_ttl_basic, 0);
    tqmovie_set_host(nullptr);
    EXPECT_EQ(g_tq.cache_ttl_basic, 86400);
    tqmovie_cache_set_ttl(0, 600);
    tqmovie_set_host(nullptr);
    EXPECT_EQ(g_tq.cache_ttl_basic, 0);
    EXPECT_EQ(g_tq.cache_ttl_detail, 600);
}

TEST_F(Frame, SetHostNormalisesOnlyTheScheme) {
    struct Case {
        const char *in;
        std::string out;
    } cases[] = {
        {nullptr, TQMOVIE_DEFAULT_HOST},
        {"", TQMOVIE_DEFAULT_HOST},
        {"api.example.org", "https://api.example.org"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"https://api.example.org/", "https://api.example.org/"},
        {"HTTPS://api.example.org", "https://HTTPS://api.example.org"},
    };
    for (const Case &c : cases) {
        tqmovie_set_host("https://other.example");
        tqmovie_set_host(c.in);
        EXPECT_EQ(g_tq.host, c.out) << (c.in ? c.in : "(null)");
    }
    const std::string bare(300, 'h');
    tqmovie_set_host(bare.c_str());
    EXPECT_EQ(std::strlen(g_tq.host), 255u);
    EXPECT_EQ(std::string(g_tq.host), "https://" + bare.substr(0, 247));
    const std::string full = "http://" + std::string(300, 'h');
    tqmovie_set_host(full.c_str());
    EXPECT_EQ(std::string(g_tq.host), full.substr(0, 255));
    tqmovie_set_host(g_tq.host); // its own buffer as the argument
    EXPECT_EQ(std::string(g_tq.host), full.substr(0, 255));
}

TEST_F(Frame, UninstalledBackendGivesNoIo) {
    install();
    tqmovie_set_io(nullptr);
    int32_t m = 5;
    const char *ids[] = {"tt1"};
    EXPECT_EQ(tqmovie_is_movie("tt1", &m), TQMOVIE_ERR_NO_IO);
    EXPECT_EQ(m, 0);
    EXPECT_STREQ(tqmovie_last_error(), "no IO backend set");
    EXPECT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_ERR_NO_IO);
    EXPECT_EQ(tqmovie_get_detail("tt1", nullptr, 0), TQMOVIE_ERR_NO_IO);
    EXPECT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_ERR_NO_IO);
    EXPECT_EQ(tqmovie_get_translations(ids, 1, nullptr, nullptr), TQMOVIE_ERR_NO_IO);
    EXPECT_TRUE(script.urls.empty());
}

TEST_F(Frame, DispatchMapsStatusesToCodes) {
    install();
    struct Case {
        int32_t result, status;
        bool store;
        const char *desc;
        int32_t want;
        const char *text;
        int32_t http;
    } cases[] = {
        {0, 200, true, nullptr, TQMOVIE_OK, "", 200},
        {0, 299, true, nullptr, TQMOVIE_OK, "", 299},
        {0, 199, true, nullptr, TQMOVIE_ERR_HTTP, "HTTP 199", 199},
        {0, 300, true, nullptr, TQMOVIE_ERR_HTTP, "HTTP 300", 300},
        {0, 404, true, nullptr, TQMOVIE_ERR_HTTP, "HTTP 404", 404},
        {0, -5, true, nullptr, TQMOVIE_ERR_HTTP, "HTTP -5", -5},
        {0, 0, false, nullptr, TQMOVIE_ERR_HTTP, "HTTP 0", 0},
        {-1, 404, true, "fake: basic not found", TQMOVIE_ERR_TRANSPORT, "transport: fake: basic not found", 404},
        {-1, 0, false, nullptr, TQMOVIE_ERR_TRANSPORT, "transport: unknown", 0},
        {3, 0, false, "odd", TQMOVIE_ERR_TRANSPORT, "transport: odd", 0},
    };
    for (const Case &c : cases) {
        script.result = c.result;
        script.status = c.status;
        script.store_status = c.store;
        script.desc = c.desc;
        script.body = c.result == 0 ? "body" : nullptr;
        g_tq.err[0] = '\0';
        char *body = nullptr;
        int32_t status = 77;
        EXPECT_EQ(tq_http_get("http://x/get", &body, &status), c.want) << c.status;
        if (c.want != TQMOVIE_OK) {
            EXPECT_STREQ(tqmovie_last_error(), c.text);
        }
        EXPECT_EQ(tqmovie_last_http_code(), c.http);
        if (c.result == 0) {
            EXPECT_STREQ(body, "body");
        } // kept for the caller, also on HTTP errors
        std::free(body);
    }
}

TEST_F(Frame, DispatchReleasesDescriptionsAndPostsTextPlain) {
    install();
    script.desc = "informational";
    char *body = nullptr;
    int32_t status = 0;
    EXPECT_EQ(tq_http_post("http://x/post", "tt1,tt2", &body, &status), TQMOVIE_OK);
    EXPECT_EQ(script.frees, 1); // the description, through the backend's entry
    EXPECT_STREQ(tqmovie_last_error(), "");
    ASSERT_EQ(script.content_types.size(), 1u);
    EXPECT_EQ(script.content_types[0], "text/plain");
    std::free(body);
}

// Without a free entry, a description still came from the standard heap: it is
// released there and nothing leaks.
TEST_F(Frame, DescriptionWithoutFreeEntryDoesNotLeak) {
    io.free = nullptr;
    install();
    tqtest::reset_tracking();
    for (int32_t result : {0, -1}) {
        script.result = result;
        script.desc = "desc";
        char *body = nullptr;
        int32_t status = 0;
        {
            tqtest::AllocFailure track(-1);
            tq_http_get("http://x/", &body, &status);
        }
        std::free(body);
    }
    EXPECT_EQ(tqtest::live_allocations(), 0);
}

TEST_F(Frame, NullEntriesGiveNoIo) {
    io.post = nullptr;
    install();
    const char *ids[] = {"tt1"};
    EXPECT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_ERR_NO_IO);
    EXPECT_STREQ(tqmovie_last_error(), "no IO backend set");
    int32_t m = 0;
    EXPECT_EQ(tqmovie_is_movie("tt1", &m), TQMOVIE_OK); // GET still works
    EXPECT_EQ(m, 1);
    io.get = nullptr;
    io.post = script_post;
    install();
    EXPECT_EQ(tqmovie_is_movie("tt1", &m), TQMOVIE_ERR_NO_IO);
}

TEST_F(Frame, ProbeReadsTheLeadingLiteral) {
    install();
    struct Case {
        const char *body;
        int32_t want, answer;
    } cases[] = {
        {"true", TQMOVIE_OK, 1},
        {"false", TQMOVIE_OK, 0},
        {"\n  true", TQMOVIE_OK, 1},
        {"\r\n\ttrue", TQMOVIE_OK, 1},
        {"true\n", TQMOVIE_OK, 1},
        {"true}", TQMOVIE_OK, 1},
        {"trueish", TQMOVIE_OK, 1},
        {"falsey", TQMOVIE_OK, 0},
        {"\"true\"", TQMOVIE_ERR_PARSE, 0},
        {"True", TQMOVIE_ERR_PARSE, 0},
        {"TRUE", TQMOVIE_ERR_PARSE, 0},
        {"1", TQMOVIE_ERR_PARSE, 0},
        {"", TQMOVIE_ERR_PARSE, 0},
        {"tru", TQMOVIE_ERR_PARSE, 0},
        {"\vtrue", TQMOVIE_ERR_PARSE, 0},
        {"\ftrue", TQMOVIE_ERR_PARSE, 0},
        {"\xC2\xA0true", TQMOVIE_ERR_PARSE, 0},
    };
    for (const Case &c : cases) {
        script.body = c.body;
        int32_t m = 9;
        EXPECT_EQ(tqmovie_is_movie("tt0111161", &m), c.want) << c.body;
        EXPECT_EQ(m, c.answer) << c.body;
        EXPECT_STREQ(tqmovie_last_error(), c.want == TQMOVIE_OK ? "" : "unexpected IsMovie body");
        EXPECT_EQ(tqmovie_last_http_code(), 200);
    }
    // Every successful body went back through the backend's free entry.
    EXPECT_EQ(script.frees, static_cast<int>(std::size(cases)));
    script.body = "true";
    EXPECT_EQ(tqmovie_is_movie("tt0111161", nullptr), TQMOVIE_OK);
}

TEST_F(Frame, ProbeFailures) {
    install();
    int32_t m = 9;
    EXPECT_EQ(tqmovie_is_movie(nullptr, &m), TQMOVIE_ERR_ARG);
    EXPECT_STREQ(tqmovie_last_error(), "imdb_id required");
    EXPECT_EQ(m, 0);
    EXPECT_EQ(tqmovie_is_movie("", nullptr), TQMOVIE_ERR_ARG);

    script.body = nullptr;
    EXPECT_EQ(tqmovie_is_movie("tt1", &m), TQMOVIE_ERR_EMPTY);
    EXPECT_STREQ(tqmovie_last_error(), "empty body");

    script.body = "not found";
    script.status = 404;
    tqtest::reset_tracking();
    {
        tqtest::AllocFailure track(-1);
        EXPECT_EQ(tqmovie_is_movie("tt1", &m), TQMOVIE_ERR_HTTP);
    }
    EXPECT_EQ(tqtest::live_allocations(), 0); // the error body was released
    EXPECT_STREQ(tqmovie_last_error(), "HTTP 404");
    EXPECT_EQ(tqmovie_last_http_code(), 404);
}

TEST_F(Frame, ProbeUrlIsEncoded) {
    tqmovie_set_host("http://127.0.0.1:1");
    install();
    const char *ids[] = {"tt0111161", "tt 1/2&x=\xC3\xA9"};
    for (const char *id : ids) tqmovie_is_movie(id, nullptr);
    ASSERT_EQ(script.urls.size(), 2u);
    EXPECT_EQ(script.urls[0], "http://127.0.0.1:1/api/AAA/IsMovie?imdbId=tt0111161");
    EXPECT_EQ(script.urls[1], "http://127.0.0.1:1/api/AAA/IsMovie?imdbId=tt%201%2F2%26x%3D%C3%A9");
}

TEST_F(Frame, ProbeSurvivesEachAllocationFailure) {
    install();
    tqtest::reset_tracking();
    tqtest::each_allocation_failure([] { return tqmovie_is_movie("tt 0111161", nullptr); },
                                    [](int32_t st, long k, bool hit) {
                                        // The backend losing its own body copy reads as an empty body.
                                        if (hit)
                                            EXPECT_TRUE(st == TQMOVIE_ERR_NOMEM || st == TQMOVIE_ERR_EMPTY) << k;
                                        else
                                            EXPECT_EQ(st, TQMOVIE_OK);
                                    });
    EXPECT_EQ(tqtest::live_allocations(), 0);
}

TEST_F(Frame, ResponseHeaderLookupIgnoresCase) {
    std::snprintf(g_tq.headers[0].name, sizeof g_tq.headers[0].name, "Content-Type");
    std::snprintf(g_tq.headers[0].value, sizeof g_tq.headers[0].value, "application/json");
    g_tq.header_count = 1;
    EXPECT_STREQ(tqmovie_last_response_header("content-TYPE"), "application/json");
    EXPECT_EQ(tqmovie_last_response_header("ETag"), nullptr);
    g_tq.header_count = -3;
    EXPECT_EQ(tqmovie_last_response_header("Content-Type"), nullptr);
    g_tq.header_count = 1;
    install();
    tqmovie_is_movie("tt1", nullptr); // every request starts with an empty table
    EXPECT_EQ(tqmovie_last_response_header("Content-Type"), nullptr);
}

TEST_F(Frame, ShutdownKeepsConfiguration) {
    tqmovie_set_host("http://127.0.0.1:9");
    tqmovie_set_batch_ceiling(5);
    install();
    script.status = 500;
    tqmovie_is_movie("tt1", nullptr);
    tqmovie_shutdown();
    tqmovie_shutdown();
    EXPECT_STREQ(tqmovie_last_error(), "");
    EXPECT_EQ(tqmovie_last_http_code(), 0);
    EXPECT_EQ(g_tq.has_io, 0);
    EXPECT_STREQ(g_tq.host, "http://127.0.0.1:9");
    EXPECT_EQ(tqmovie_batch_ceiling(), 5u);
    EXPECT_EQ(tqmovie_is_movie("tt1", nullptr), TQMOVIE_ERR_NO_IO);
}

// ---------------------------------------------------------------------------
// Stub backend
// ---------------------------------------------------------------------------

const char k_stub_text[] = "stub IO: not implemented (plug in platform backend)";

TEST(Stub, EveryRequestFailsWithItsText) {
    tq_io a = tolvane_io_stub();
    tq_io b = tolvane_io_stub();
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    EXPECT_EQ(a.ctx, nullptr);

    char *body = reinterpret_cast<char *>(1);
    int32_t status = 99;
    char *err = nullptr;
    EXPECT_EQ(a.get(a.ctx, "http://x", &body, &status, &err), -1);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(status, 0);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, k_stub_text);
    char *err2 = nullptr;
    EXPECT_EQ(a.post(a.ctx, "http://x", "tt1", "text/plain", &body, &status, &err2), -1);
    EXPECT_STREQ(err2, k_stub_text);
    EXPECT_NE(err, err2);
    a.free(a.ctx, err);
    a.free(a.ctx, err2);

    tqtest::AllocFailure count(-1);
    EXPECT_EQ(a.get(a.ctx, "http://x", &body, &status, nullptr), -1);
    EXPECT_EQ(count.count(), 0); // no error text asked for, nothing allocated
}

TEST(Stub, LookupsFailAsTransportErrors) {
    tqmovie_shutdown();
    tq_io io = tolvane_io_stub();
    tqmovie_set_io(&io);
    const char *ids[] = {"tt1", "tt2"};
    const std::string want = std::string("transport: ") + k_stub_text;
    tqtest::reset_tracking();
    {
        tqtest::AllocFailure track(-1);
        EXPECT_EQ(tqmovie_is_movie("tt1", nullptr), TQMOVIE_ERR_TRANSPORT);
        EXPECT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_ERR_TRANSPORT);
        EXPECT_EQ(tqmovie_get_details(ids, 2, nullptr, 0), TQMOVIE_ERR_TRANSPORT);
    }
    EXPECT_EQ(std::string(tqmovie_last_error()), want);
    EXPECT_EQ(tqmovie_last_http_code(), 0);
    tqmovie_shutdown();
    EXPECT_EQ(tqtest::live_allocations(), 0);
}

TEST(Stub, UnknownTextWhenTheStubCannotAllocate) {
    tqmovie_shutdown();
    tq_io io = tolvane_io_stub();
    tqmovie_set_io(&io);
    long total;
    {
        tqtest::AllocFailure count(-1);
        tqmovie_is_movie("tt1", nullptr);
        total = count.count();
    }
    ASSERT_GE(total, 1);
    {
        tqtest::AllocFailure fail(total - 1); // the last allocation is the stub's text
        EXPECT_EQ(tqmovie_is_movie("tt1", nullptr), TQMOVIE_ERR_TRANSPORT);
        EXPECT_TRUE(fail.triggered());
    }
    EXPECT_STREQ(tqmovie_last_error(), "transport: unknown");
    tqmovie_shutdown();
}

} // namespace
