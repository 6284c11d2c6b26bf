// SPDX-License-Identifier: MIT
// The stub backend: every request fails with its text.
#include "alloc_fail.h"
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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
