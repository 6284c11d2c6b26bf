// SPDX-License-Identifier: MIT
// The process's request budget: two clients on two threads draw on one budget, so a
// service with a budget of its own a little above it refuses none of their requests.
#include "tqmovie.h"

#ifdef TQ_SERVICE_PATH
#  include "mock_service.h"
#endif

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(RateLimit, ArgumentsAreChecked) {
    EXPECT_EQ(tqmovie_set_rate_limit(-1, 1), TQMOVIE_ERR_ARG);
    EXPECT_STREQ(tqmovie_last_error(), "rate limit must be from 0 to 1000000 requests a second");
    EXPECT_EQ(tqmovie_set_rate_limit(0, 0), TQMOVIE_OK);
}

#ifdef TQ_SERVICE_PATH
TEST(RateLimit, OneBudgetHoldsAcrossClients) {
    tqtest::scoped_service svc(TQ_FIXTURES_DIR, {"--synthetic", "--rps", "5/2"});
    ASSERT_GT(svc.port, 0);
    ASSERT_EQ(tqmovie_set_rate_limit(4, 1), TQMOVIE_OK);
    std::vector<int> answered(2, 0), waits(2, 0);
    std::vector<std::thread> threads;
    for (int k = 0; k < 2; ++k) {
        threads.emplace_back([&, k] {
            tqmovie_client *c = tqmovie_client_new();
            tqmovie_use(c);
            tq_io io = tolvane_io_curl_pooled(nullptr);
            tqmovie_set_io(&io);
            tqmovie_set_host(svc.url().c_str());
            tqmovie_set_batch_ceiling(1);
            tqmovie_set_progress(
                [](const tqmovie_progress *p, void *user) {
                    if (p->kind == TQMOVIE_PROGRESS_RATE_WAIT) ++*static_cast<int *>(user);
                    return 0;
                },
                &waits[static_cast<size_t>(k)]);
            std::vector<std::string> ids;
            for (int i = 0; i < 5; ++i) ids.push_back("tt" + std::to_string(2000000 + 10 * k + i));
            std::vector<const char *> p;
            for (const auto &id : ids) p.push_back(id.c_str());
            if (tqmovie_get_basics(p.data(), p.size()) == TQMOVIE_OK)
                answered[static_cast<size_t>(k)] = tqmovie_basic_count();
            tqmovie_use(nullptr);
            tqmovie_client_free(c);
            tolvane_io_curl_pooled_free(&io);
        });
    }
    for (auto &t : threads) t.join();
    tqmovie_set_rate_limit(0, 0);
    EXPECT_EQ(answered, (std::vector<int>{5, 5}));
    EXPECT_EQ(tqtest::stat(svc, "rpsLimited"), 0);
    EXPECT_GT(waits[0] + waits[1], 0) << "the budget made requests wait";
}
#endif

} // namespace
