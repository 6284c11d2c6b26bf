// SPDX-License-Identifier: MIT
// The title-kind probe: the literal it reads, its failures and its URL.
#include "script_backend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using tqtest::Script;
using Probe = tqtest::ScriptFrame;

TEST_F(Probe, ProbeReadsTheLeadingLiteral) {
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

TEST_F(Probe, ProbeFailures) {
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

TEST_F(Probe, ProbeUrlIsEncoded) {
    tqmovie_set_host("http://127.0.0.1:1");
    install();
    const char *ids[] = {"tt0111161", "tt 1/2&x=\xC3\xA9"};
    for (const char *id : ids) tqmovie_is_movie(id, nullptr);
    ASSERT_EQ(script.urls.size(), 2u);
    EXPECT_EQ(script.urls[0], "http://127.0.0.1:1/api/AAA/IsMovie?imdbId=tt0111161");
    EXPECT_EQ(script.urls[1], "http://127.0.0.1:1/api/AAA/IsMovie?imdbId=tt%201%2F2%26x%3D%C3%A9");
}

TEST_F(Probe, ProbeSurvivesEachAllocationFailure) {
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

} // namespace
