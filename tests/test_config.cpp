// SPDX-License-Identifier: MIT
// Configuration and status of the global client: defaults, the base URL, the
// response header table and shutdown.
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
using Config = tqtest::ScriptFrame;

TEST_F(Config, FreshStateReportsNothing) {
    EXPECT_STREQ(tqmovie_last_error(), "");
    EXPECT_NE(tqmovie_last_error(), nullptr);
    EXPECT_EQ(tqmovie_last_http_code(), 0);
    EXPECT_EQ(tqmovie_last_response_header("Content-Type"), nullptr);
    EXPECT_EQ(tqmovie_last_response_header(nullptr), nullptr);
    EXPECT_EQ(g_tq.host[0], '\0');
}

TEST_F(Config, ConfigurationFillsDefaults) {
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

TEST_F(Config, SetHostNormalisesOnlyTheScheme) {
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

TEST_F(Config, ResponseHeaderLookupIgnoresCase) {
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

TEST_F(Config, ShutdownKeepsConfiguration) {
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

} // namespace
