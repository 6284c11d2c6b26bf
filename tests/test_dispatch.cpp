// SPDX-License-Identifier: MIT
// Request dispatch: statuses, texts and buffers as a backend hands them over, and the
// request in flight reaching the client that made it.
#include "loopback_server.h"
#include "script_backend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using tqtest::Script;
using Dispatch = tqtest::ScriptFrame;

TEST_F(Dispatch, UninstalledBackendGivesNoIo) {
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

TEST_F(Dispatch, DispatchMapsStatusesToCodes) {
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

TEST_F(Dispatch, DispatchReleasesDescriptionsAndPostsTextPlain) {
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
TEST_F(Dispatch, DescriptionWithoutFreeEntryDoesNotLeak) {
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

TEST_F(Dispatch, NullEntriesGiveNoIo) {
    io.post = nullptr;
    install();
    const char *ids[] = {"tt1"};
    EXPECT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_ERR_NO_IO);
    EXPECT_STREQ(tqmovie_last_error(), "no IO backend set");
    int32_t m = 0;
    EXPECT_EQ(tqmovie_is_movie("tt1", &m), TQMOVIE_OK); // GET still works
    EXPECT_EQ(m, 1);
    io.get = nullptr;
    io.post = tqtest::script_post;
    install();
    EXPECT_EQ(tqmovie_is_movie("tt1", &m), TQMOVIE_ERR_NO_IO);
}

// A host backend that juggles clients: installed on A, it makes another client current
// and then hands the request to a shipped pooled table. What the transfer hears (the
// response headers, a cancel of A's operation) still reaches A.
struct JugglingBackend {
    tq_io inner;
    tqmovie_client *other;
    static int32_t get(void *ctx, const char *url, char **body, int32_t *status, char **err) {
        auto *b = static_cast<JugglingBackend *>(ctx);
        tqmovie_client *mine = tqmovie_use(b->other);
        const int32_t rc = b->inner.get(b->inner.ctx, url, body, status, err);
        tqmovie_use(mine);
        return rc;
    }
};

TEST(RequestInFlight, HeadersAndCancelReachTheRequestingClient) {
    tqtest::LoopbackServer srv([](const tqtest::HttpRequest &r) {
        tqtest::HttpResponse res;
        if (r.target.find("tt2") != std::string::npos) {
            res.silent = true;
            return res;
        }
        res.headers.emplace_back("ETag", "\"a1\"");
        res.body = "{\"imDbId\":\"tt1\",\"title\":\"One\"}";
        return res;
    });
    tqmovie_http_options o;
    tqmovie_http_options_init(&o, sizeof o);
    o.timeout_ms = 5000; // a cancel that never arrives ends as a timeout, not a hang
    tq_io pooled = tolvane_io_curl_pooled(&o);
    tqmovie_client *a = tqmovie_client_new(), *b = tqmovie_client_new();
    JugglingBackend juggler{pooled, b};
    const tq_io io{&juggler, JugglingBackend::get, nullptr, pooled.free};
    tqmovie_client *prev = tqmovie_use(a);
    tqmovie_set_io(&io);
    tqmovie_set_host(srv.url("").c_str());

    ASSERT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_STREQ(tqmovie_last_response_header("ETag"), "\"a1\"");
    tqmovie_use(b);
    EXPECT_EQ(tqmovie_last_response_header("ETag"), nullptr);
    tqmovie_use(a);

    std::thread canceller([a] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        tqmovie_cancel(a);
    });
    EXPECT_EQ(tqmovie_get_basic("tt2", nullptr), TQMOVIE_ERR_CANCELLED) << tqmovie_last_error();
    canceller.join();
    EXPECT_STREQ(tqmovie_last_error(), "cancelled");

    tqmovie_use(prev);
    tqmovie_client_free(a);
    tqmovie_client_free(b);
    tolvane_io_curl_pooled_free(&pooled);
}

} // namespace
