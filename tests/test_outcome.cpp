// SPDX-License-Identifier: MIT
// What a lookup tells beyond its status: "no such title" said one way by every backend,
// and the ids a batch asked for that no record answers.
#include "tqmovie.h"

#ifdef TQ_SERVICE_PATH
#  include "mock_service.h"
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A fresh client, current while the test runs.
struct own_client {
    tqmovie_client *c = tqmovie_client_new();
    own_client() { tqmovie_use(c); }
    ~own_client() {
        tqmovie_use(nullptr);
        tqmovie_client_free(c);
    }
};

// A host backend answering every GET with one outcome: its return and status.
struct host_answer {
    int32_t rc, status;
};
int32_t host_get(void *ctx, const char *, char **body, int32_t *status, char **) {
    const auto *a = static_cast<const host_answer *>(ctx);
    *status = a->status;
    *body = strdup(a->status == 200 ? R"({"imdbId":"tt0111161","title":"T"})" : "gone");
    return a->rc;
}

struct not_found_case {
    const char *what;
    tq_io io;
    const char *host; // NULL: the backend needs none
    int32_t status;
    int32_t not_found;
};

void expect_not_found(const not_found_case &k) {
    SCOPED_TRACE(k.what);
    own_client own;
    tqmovie_set_io(&k.io);
    if (k.host) tqmovie_set_host(k.host);
    EXPECT_EQ(tqmovie_get_detail("tt0000001", nullptr, 0), k.status) << tqmovie_last_error();
    EXPECT_EQ(tqmovie_last_not_found(), k.not_found);
    EXPECT_EQ(tqmovie_get_basic("tt0000001", "de-DE"), k.status);
    EXPECT_EQ(tqmovie_last_not_found(), k.not_found);
    // Any later lookup forgets it.
    const char *ids[] = {"tt0000001"};
    tqmovie_get_basics(ids, 1);
    EXPECT_EQ(tqmovie_last_not_found(), 0);
}

TEST(NotFound, EveryBackendSaysItOneWay) {
    host_answer gone{0, 404}, failed_404{-1, 404}, broken{0, 500}, no_status{-1, 0};
    auto host = [](host_answer *a) { return tq_io{a, host_get, nullptr, nullptr}; };
    const not_found_case cases[] = {
        {"fixture backend: missing file", tolvane_io_fake(TQ_FIXTURES_DIR), nullptr, TQMOVIE_ERR_TRANSPORT, 1},
        {"host backend: a 404 answer", host(&gone), nullptr, TQMOVIE_ERR_HTTP, 1},
        {"host backend: a failure carrying 404", host(&failed_404), nullptr, TQMOVIE_ERR_TRANSPORT, 1},
        {"host backend: a 500 answer", host(&broken), nullptr, TQMOVIE_ERR_HTTP, 0},
        {"host backend: a failure without a status", host(&no_status), nullptr, TQMOVIE_ERR_TRANSPORT, 0},
    };
    for (const auto &k : cases) expect_not_found(k);
#ifdef TQ_SERVICE_PATH
    tqtest::scoped_service svc(TQ_FIXTURES_DIR);
    ASSERT_GT(svc.port, 0);
    tq_io http = tolvane_io_curl_pooled(nullptr);
    expect_not_found({"the stand-in over HTTP", http, svc.url().c_str(), TQMOVIE_ERR_HTTP, 1});
    tolvane_io_curl_pooled_free(&http);
#endif
    // A title that exists clears it.
    own_client own;
    const tq_io fake = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&fake);
    ASSERT_NE(tqmovie_get_detail("tt0000001", nullptr, 0), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_last_not_found(), 0);
}

// A batch backend: each POST answers a basic record for each asked id that starts
// "tt1", and fails with HTTP 500 when the body asks for `failing`.
const char *g_failing = nullptr;
int32_t batch_post(void *, const char *, const char *body, const char *, char **out, int32_t *status, char **) {
    if (g_failing && std::strstr(body, g_failing)) {
        *status = 500;
        return 0;
    }
    std::string json = "[";
    std::string ids = body;
    for (size_t at = 0; at <= ids.size();) {
        const size_t end = ids.find(',', at) == std::string::npos ? ids.size() : ids.find(',', at);
        const std::string id = ids.substr(at, end - at);
        if (id.rfind("tt1", 0) == 0)
            json += std::string(json.size() > 1 ? "," : "") + R"({"imdbId":")" + id + R"(","title":"x"})";
        at = end + 1;
    }
    *out = strdup((json + "]").c_str());
    *status = 200;
    return 0;
}

std::vector<std::string> missing() {
    std::vector<std::string> out;
    for (int32_t i = 0; i < tqmovie_missing_count(); ++i) out.emplace_back(tqmovie_missing_id(i));
    EXPECT_EQ(tqmovie_missing_id(tqmovie_missing_count()), nullptr);
    EXPECT_EQ(tqmovie_missing_id(-1), nullptr);
    return out;
}

TEST(MissingIds, InOrderOnceEachAndOnlyOfAnsweredChunks) {
    own_client own;
    const tq_io io{nullptr, nullptr, batch_post, nullptr};
    tqmovie_set_io(&io);
    tqmovie_set_batch_ceiling(2);
    // Repeats are listed once, where first asked; ids compare exactly, so "TT1..." is
    // not the record "tt1...".
    const char *ids[] = {"tt2000001", "tt1000001", "tt2000001", "TT1000001", "tt2000002", "tt1000002"};
    g_failing = nullptr;
    ASSERT_EQ(tqmovie_get_basics(ids, 6), TQMOVIE_OK);
    EXPECT_EQ(missing(), (std::vector<std::string>{"tt2000001", "TT1000001", "tt2000002"}));
    ASSERT_EQ(tqmovie_get_details(ids, 2, nullptr, 0), TQMOVIE_OK); // details too
    EXPECT_EQ(missing(), (std::vector<std::string>{"tt2000001"}));

    // The second chunk fails: its ids and the third chunk's were never answered.
    g_failing = "tt2000002";
    const char *more[] = {"tt2000003", "tt1000003", "tt2000002", "tt2000004", "tt2000005"};
    tqmovie_set_batch_ceiling(2);
    EXPECT_EQ(tqmovie_get_basics(more, 5), TQMOVIE_ERR_HTTP);
    EXPECT_EQ(missing(), (std::vector<std::string>{"tt2000003"}));
    // A failing first chunk leaves nothing missing; another kind of lookup empties it.
    const char *first[] = {"tt2000002", "tt2000009"};
    EXPECT_EQ(tqmovie_get_basics(first, 2), TQMOVIE_ERR_HTTP);
    EXPECT_TRUE(missing().empty());
    g_failing = nullptr;
    ASSERT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_missing_count(), 1);
    tqmovie_get_detail("tt1000001", nullptr, 0);
    EXPECT_TRUE(missing().empty());
}

} // namespace
