// SPDX-License-Identifier: MIT
// Clients: what a free from inside the client's own operation does.
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct FreeAttempt {
    tqmovie_client *client;
    int calls = 0;
};

// Tries to free the client whose batch is reporting progress: refused, so the batch
// carries on over memory that is still its own (ASan and valgrind watch).
int free_from_progress(const tqmovie_progress *, void *user) {
    auto *a = static_cast<FreeAttempt *>(user);
    ++a->calls;
    tqmovie_client_free(a->client);
    return 0;
}

TEST(Client, FreeFromItsOwnProgressCallbackIsRefused) {
    tqmovie_client *c = tqmovie_client_new();
    ASSERT_NE(c, nullptr);
    tqmovie_client *prev = tqmovie_use(c);
    const tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    tqmovie_set_batch_ceiling(1);
    FreeAttempt attempt{c};
    tqmovie_set_progress(free_from_progress, &attempt);
    const char *ids[] = {"tt0111161", "tt0068646"};
    EXPECT_EQ(tqmovie_get_details(ids, 2, nullptr, 0), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(attempt.calls, 2);
    EXPECT_EQ(tqmovie_current(), c);
    EXPECT_EQ(tqmovie_detail_count(), 2);
    EXPECT_STREQ(tqmovie_detail_title(0), "The Shawshank Redemption");
    tqmovie_use(prev);
    tqmovie_client_free(c); // after the call returned: freed
}

} // namespace
