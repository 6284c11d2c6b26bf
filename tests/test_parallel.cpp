// SPDX-License-Identifier: MIT
// Parallel batch chunks: the same batch run one chunk after the other and up to eight
// at a time leaves the same store, cache, status, texts and progress events, whether
// it runs clean, meets a failing chunk in the middle, or is cancelled from the
// progress callback after a given chunk. The server answers every id it is asked for
// (a record of its own per id) and fails any chunk holding a marked id.
#include "loopback_server.h"
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using tqtest::HttpRequest;
using tqtest::HttpResponse;

const char kFailing[] = "tt0000013"; // a chunk holding it gets HTTP 500

HttpResponse answer(const HttpRequest &r) {
    HttpResponse res;
    if (r.body.find(kFailing) != std::string::npos) {
        res.status = 500;
        res.body = "failed";
        return res;
    }
    res.headers.emplace_back("X-Chunk", r.body.substr(0, r.body.find(',')));
    std::string out = "[";
    for (size_t at = 0; at < r.body.size();) {
        size_t end = r.body.find(',', at);
        if (end == std::string::npos) end = r.body.size();
        const std::string id = r.body.substr(at, end - at);
        if (out.size() > 1) out += ",";
        out += "{\"imDbId\":\"" + id + "\",\"title\":\"Title " + id +
               "\",\"startYear\":" + std::to_string(std::atoi(id.c_str() + 2)) + "}";
        at = end + 1;
    }
    res.body = out + "]";
    return res;
}

struct Outcome {
    int32_t status = 0;
    std::string error;
    int32_t http = 0;
    std::string header;
    std::vector<std::string> events; // kind/status/done/total/http
    std::vector<std::string> store;  // complete export of every stored record
    std::vector<int> cached;         // per id: 1 when the cache holds it
    int cancel_after = -1;           // the chunk count after which the callback cancels
};

int record(const tqmovie_progress *p, void *user) {
    auto &r = *static_cast<Outcome *>(user);
    r.events.push_back(std::to_string(p->kind) + "/" + std::to_string(p->status) + "/" + std::to_string(p->done) + "/" +
                       std::to_string(p->total) + "/" + std::to_string(p->http_code));
    return r.cancel_after >= 0 && r.events.size() == static_cast<size_t>(r.cancel_after) ? 1 : 0;
}

Outcome run(const std::string &host, const std::vector<std::string> &ids, uint32_t parallel, int cancel_after = -1) {
    tqmovie_client *c = tqmovie_client_new();
    tqmovie_client *prev = tqmovie_use(c);
    tq_io io = tolvane_io_curl_pooled(nullptr);
    tqmovie_set_io(&io);
    tqmovie_set_host(host.c_str());
    tqmovie_set_batch_ceiling(3);
    EXPECT_EQ(tqmovie_set_parallel(parallel), TQMOVIE_OK);
    Outcome r;
    r.cancel_after = cancel_after;
    tqmovie_set_progress(record, &r);
    std::vector<const char *> p;
    for (const auto &id : ids) p.push_back(id.c_str());
    r.status = tqmovie_get_details(p.data(), p.size(), nullptr, 0);
    r.error = tqmovie_last_error();
    r.http = tqmovie_last_http_code();
    const char *h = tqmovie_last_response_header("X-Chunk");
    r.header = h ? h : "(none)";
    for (int32_t i = 0; i < tqmovie_detail_count(); ++i) {
        char *json = tqmovie_detail_to_json_full(i);
        r.store.push_back(json ? json : "?");
        std::free(json);
    }
    for (const auto &id : ids) {
        int32_t basic = 0, detail = 0;
        tqmovie_cache_has(id.c_str(), &basic, &detail);
        r.cached.push_back(detail);
    }
    tqmovie_use(prev);
    tqmovie_client_free(c);
    tolvane_io_curl_pooled_free(&io);
    return r;
}

std::vector<std::string> ids_from(int first, int count) {
    std::vector<std::string> ids;
    for (int i = first; i < first + count; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "tt%07d", i);
        ids.emplace_back(id);
    }
    return ids;
}

TEST(Parallel, SameOutcomeAsOneChunkAfterTheOther) {
    tqtest::LoopbackServer srv(answer);
    ASSERT_TRUE(srv.ok());
    const struct {
        const char *name;
        std::vector<std::string> ids;
        int cancel_after;
        int32_t status;
    } cases[] = {
        {"clean, 31 ids in 11 chunks", ids_from(100, 31), -1, TQMOVIE_OK},
        {"the fifth chunk fails", ids_from(1, 30), -1, TQMOVIE_ERR_HTTP},
        {"cancelled after the third chunk", ids_from(100, 30), 3, TQMOVIE_ERR_CANCELLED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome one = run(srv.base(), c.ids, 1, c.cancel_after);
        EXPECT_EQ(one.status, c.status) << one.error;
        for (uint32_t n : {2u, 8u}) {
            const Outcome many = run(srv.base(), c.ids, n, c.cancel_after);
            EXPECT_EQ(many.status, one.status) << n;
            EXPECT_EQ(many.error, one.error) << n;
            EXPECT_EQ(many.http, one.http) << n;
            EXPECT_EQ(many.header, one.header) << n;
            EXPECT_EQ(many.events, one.events) << n;
            EXPECT_EQ(many.store, one.store) << n;
            EXPECT_EQ(many.cached, one.cached) << n;
        }
    }
    EXPECT_EQ(tqmovie_set_parallel(65), TQMOVIE_ERR_ARG);
    EXPECT_STREQ(tqmovie_last_error(), "parallel must be from 0 to 64");
    EXPECT_EQ(tqmovie_set_parallel(0), TQMOVIE_OK);
}

} // namespace
