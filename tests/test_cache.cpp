// SPDX-License-Identifier: MIT
// Record cache and batch ceiling: freshness at the exact lifetime boundary, slot
// bookkeeping (keys, growth, invalidation order, clearing), section-filtered reads,
// and every allocation of a store or read failing in turn without leaks or lies.
#include "alloc_fail.h"
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace {

int64_t now() { return static_cast<int64_t>(std::time(nullptr)); }

char **str_arr(std::initializer_list<const char *> items) {
    auto arr = static_cast<char **>(std::calloc(items.size(), sizeof(char *)));
    size_t i = 0;
    for (const char *s : items) arr[i++] = tq_strdup(s);
    return arr;
}

tq_basic make_basic(const char *id, const char *title = "The Title") {
    tq_basic b{};
    b.imdb_id = tq_strdup(id);
    b.title = tq_strdup(title);
    b.poster_url = tq_strdup("");
    b.id = 7;
    b.year = 1994;
    b.duration = 142;
    b.is_tv = 0;
    b.directors = str_arr({"Frank Darabont", nullptr});
    b.directors_count = 2;
    b.genres = str_arr({"Drama"});
    b.genres_count = 1;
    b.ratings = static_cast<tq_rating *>(std::calloc(1, sizeof(tq_rating)));
    b.ratings[0].source = tq_strdup("imdb");
    b.ratings[0].value = 9.3;
    b.ratings_count = 1;
    return b;
}

// A detail record holding only the sections in `mask`, one element per list.
tq_detail make_detail(const char *id, uint32_t mask = TQMOVIE_DETAIL_ALL) {
    tq_detail d{};
    d.imdb_id = tq_strdup(id);
    d.title = tq_strdup("Detail Title");
    d.start_year = 1994;
    d.end_year = -1;
    d.runtime = 142;
    d.is_tv = 0;
    d.imdb_rating = 9.3;
    if (mask & TQMOVIE_DETAIL_CAST) {
        d.cast = static_cast<tq_cast *>(std::calloc(1, sizeof(tq_cast)));
        d.cast[0].name = tq_strdup("Tim Robbins");
        d.cast_count = 1;
        d.related = str_arr({"tt0068646"});
        d.related_count = 1;
    }
    if (mask & TQMOVIE_DETAIL_PICTURES) {
        d.pictures = static_cast<tq_picture *>(std::calloc(1, sizeof(tq_picture)));
        d.pictures[0].url = tq_strdup("https://img/1.jpg");
        d.pictures[0].width = 640;
        d.picture_count = 1;
    }
    if (mask & TQMOVIE_DETAIL_PROVIDERS) {
        d.providers = static_cast<tq_provider *>(std::calloc(1, sizeof(tq_provider)));
        d.providers[0].name = tq_strdup("Streamer");
        d.provider_count = 1;
    }
    if (mask & TQMOVIE_DETAIL_VIDEOS) {
        d.videos = static_cast<tq_video *>(std::calloc(1, sizeof(tq_video)));
        d.videos[0].key = tq_strdup("abc123");
        d.video_count = 1;
    }
    return d;
}

bool is_empty_basic(const tq_basic &b) {
    return !b.imdb_id && !b.title && !b.tagline && !b.plot && !b.poster_url && !b.picture_url && b.id == 0 &&
           b.year == -1 && b.duration == -1 && b.is_tv == -1 && !b.directors && b.directors_count == 0 && !b.genres &&
           b.genres_count == 0 && !b.ratings && b.ratings_count == 0;
}

bool is_empty_detail(const tq_detail &d) {
    return !d.imdb_id && !d.title && d.start_year == -1 && d.runtime == -1 && std::isnan(d.imdb_rating) && !d.cast &&
           !d.pictures && !d.providers && !d.videos && !d.related && d.cast_count == 0 && d.picture_count == 0 &&
           d.provider_count == 0 && d.video_count == 0 && d.related_count == 0;
}

void expect_same_basic(const tq_basic &a, const tq_basic &b) {
    EXPECT_STREQ(a.imdb_id, b.imdb_id);
    EXPECT_STREQ(a.title, b.title);
    EXPECT_STREQ(a.poster_url, b.poster_url);
    EXPECT_EQ(a.year, b.year);
    ASSERT_EQ(a.directors_count, b.directors_count);
    EXPECT_STREQ(a.directors[0], b.directors[0]);
    EXPECT_EQ(a.directors[1], nullptr);
    ASSERT_EQ(a.ratings_count, b.ratings_count);
    EXPECT_STREQ(a.ratings[0].source, b.ratings[0].source);
    EXPECT_EQ(a.ratings[0].value, b.ratings[0].value);
}

// A value of the out record that a miss must not touch.
tq_basic sentinel_basic() {
    tq_basic b{};
    b.id = 4242;
    b.title = reinterpret_cast<char *>(0x1);
    return b;
}

// Runs probe() inside one wall-clock second, so that a stamp written relative to
// "now" is judged against that same now.
template <typename F> auto within_one_second(F probe) {
    for (;;) {
        const int64_t before = now();
        auto r = probe(before);
        if (now() == before) return r;
    }
}

class Cache : public ::testing::Test {
protected:
    void SetUp() override {
        tqmovie_cache_clear();
        tqmovie_cache_set_ttl(100, 100);
    }
    void TearDown() override { tqmovie_cache_clear(); }

    static void put_basic(const char *id, const char *title = "The Title") {
        tq_basic b = make_basic(id, title);
        tq_cache_put_basic(&b);
        tq_free_basic(&b);
    }
    static void put_detail(const char *id, uint32_t mask = TQMOVIE_DETAIL_ALL) {
        tq_detail d = make_detail(id, mask);
        tq_cache_put_detail(&d);
        tq_free_detail(&d);
    }
    static std::vector<std::string> keys() {
        std::vector<std::string> k;
        for (size_t i = 0; i < g_tq.cache_count; ++i) k.emplace_back(g_tq.cache[i].imdb_id);
        return k;
    }
};

TEST_F(Cache, RecordIsServedAtLifetimeAndRefusedOneSecondLater) {
    put_basic("tt1");
    put_detail("tt1");
    const bool served = within_one_second([](int64_t t) {
        g_tq.cache[0].basic_at = t - 100;
        g_tq.cache[0].detail_at = t - 100;
        tq_basic out{};
        tq_detail dout{};
        int32_t bf = 0, df = 0;
        const bool ok = tq_cache_get_basic("tt1", &out) == 1 && tq_cache_get_detail("tt1", &dout, 0) == 1 &&
                        tqmovie_cache_has("tt1", &bf, &df) == 1 && bf == 1 && df == 1;
        tq_free_basic(&out);
        tq_free_detail(&dout);
        return ok;
    });
    EXPECT_TRUE(served);

    g_tq.cache[0].basic_at = now() - 101;
    g_tq.cache[0].detail_at = now() - 101;
    tq_basic out = sentinel_basic();
    tq_detail dout{};
    EXPECT_EQ(tq_cache_get_basic("tt1", &out), 0);
    EXPECT_EQ(out.id, 4242); // a miss leaves the out record alone
    EXPECT_EQ(tq_cache_get_detail("tt1", &dout, 0), 0);
    int32_t bf = 9, df = 9;
    EXPECT_EQ(tqmovie_cache_has("tt1", &bf, &df), 1); // stale records keep their slot
    EXPECT_EQ(bf, 0);
    EXPECT_EQ(df, 0);
}

TEST_F(Cache, NonPositiveLifetimeNeverExpires) {
    for (int32_t ttl : {0, -1, INT32_MIN}) {
        tqmovie_cache_set_ttl(ttl, ttl);
        put_basic("tt1");
        g_tq.cache[0].basic_at = 1; // stored in 1970
        tq_basic out{};
        EXPECT_EQ(tq_cache_get_basic("tt1", &out), 1) << "ttl " << ttl;
        tq_free_basic(&out);
    }
}

TEST_F(Cache, NegativeBasicLifetimeExpiresOnlyDetails) {
    tqmovie_cache_set_ttl(-1, 600);
    EXPECT_EQ(g_tq.cache_ttl_basic, -1); // stored as given
    put_basic("tt1");
    put_detail("tt1");
    g_tq.cache[0].basic_at = now() - 100000;
    g_tq.cache[0].detail_at = now() - 100000;
    int32_t bf = 0, df = 0;
    EXPECT_EQ(tqmovie_cache_has("tt1", &bf, &df), 1);
    EXPECT_EQ(bf, 1);
    EXPECT_EQ(df, 0);
}

TEST_F(Cache, ExtremeStampsAreJudgedWithoutOverflow) {
    struct Case {
        int32_t ttl;
        int64_t at;
        int32_t fresh;
    };
    const Case cases[] = {
        {100, 0, 0},       // never stored
        {INT32_MAX, 0, 0}, // ... even when 1970 lies within the lifetime
        {INT32_MAX, now() - 1000, 1},
        {100, INT64_MIN, 0}, // age beyond int64: far in the past
        {INT32_MAX, INT64_MIN + 1, 0},
        {100, INT64_MAX, 1}, // far in the future: the clock was set back
        {100, now() + 3600, 1},
    };
    put_basic("tt1");
    for (const Case &c : cases) {
        tqmovie_cache_set_ttl(c.ttl, 100);
        g_tq.cache[0].basic_at = c.at;
        int32_t bf = -1;
        tqmovie_cache_has("tt1", &bf, nullptr);
        EXPECT_EQ(bf, c.fresh) << "ttl " << c.ttl << " stamp " << c.at;
    }
}

TEST_F(Cache, StoringSameTitleTwiceReplacesAndRenewsStamp) {
    put_basic("tt1", "first");
    g_tq.cache[0].basic_at = 5;
    put_basic("tt1", "second");
    ASSERT_EQ(g_tq.cache_count, 1u);
    EXPECT_GE(g_tq.cache[0].basic_at, now() - 1);
    tq_basic out{};
    ASSERT_EQ(tq_cache_get_basic("tt1", &out), 1);
    EXPECT_STREQ(out.title, "second");
    tq_free_basic(&out);
}

TEST_F(Cache, BasicAndDetailShareOneSlotReportedIndependently) {
    put_detail("tt1");
    int32_t bf = 9, df = 9;
    EXPECT_EQ(tqmovie_cache_has("tt1", &bf, &df), 1);
    EXPECT_EQ(bf, 0);
    EXPECT_EQ(df, 1);
    EXPECT_EQ(g_tq.cache[0].basic_at, 0);
    put_basic("tt1");
    EXPECT_EQ(g_tq.cache_count, 1u);
    EXPECT_EQ(tqmovie_cache_has("tt1", &bf, &df), 1);
    EXPECT_EQ(bf, 1);
    EXPECT_EQ(df, 1);
}

TEST_F(Cache, KeysCompareExactly) {
    put_basic("tt0111161");
    for (const char *other : {"TT0111161", "tt0111161 ", " tt0111161", "tt011116", "tt01111610", ""})
        EXPECT_EQ(tqmovie_cache_has(other, nullptr, nullptr), 0) << "'" << other << "'";
    EXPECT_EQ(tqmovie_cache_has("tt0111161", nullptr, nullptr), 1);
}

TEST_F(Cache, NullIdIsNeverStoredEmptyIdIs) {
    tq_basic b = make_basic(nullptr);
    tq_detail d = make_detail(nullptr);
    tq_cache_put_basic(&b);
    tq_cache_put_detail(&d);
    tq_cache_put_basic(nullptr);
    tq_cache_put_detail(nullptr);
    EXPECT_EQ(g_tq.cache_count, 0u);
    EXPECT_EQ(g_tq.cache, nullptr);
    tq_free_basic(&b);
    tq_free_detail(&d);

    put_basic("");
    EXPECT_EQ(g_tq.cache_count, 1u);
    tq_basic out{};
    EXPECT_EQ(tq_cache_get_basic("", &out), 1);
    tq_free_basic(&out);
    EXPECT_EQ(tq_cache_find(nullptr), nullptr);
}

TEST_F(Cache, MissLeavesOutRecordUntouched) {
    tq_basic out = sentinel_basic();
    EXPECT_EQ(tq_cache_get_basic("tt1", &out), 0); // empty cache
    put_detail("tt1");                             // slot without a basic record
    put_basic("tt2");
    EXPECT_EQ(tq_cache_get_basic(nullptr, &out), 0);
    EXPECT_EQ(tq_cache_get_basic("tt9", &out), 0);
    EXPECT_EQ(tq_cache_get_basic("tt1", &out), 0);
    EXPECT_EQ(out.id, 4242);
    EXPECT_EQ(out.title, reinterpret_cast<char *>(0x1));
}

TEST_F(Cache, ReadCopiesOnlyRequestedSections) {
    struct Case {
        int32_t mask;
        size_t cast, pictures, providers, videos, related;
    };
    const Case cases[] = {
        {0, 1, 1, 1, 1, 1},
        {static_cast<int32_t>(TQMOVIE_DETAIL_PICTURES), 0, 1, 0, 0, 0},
        {static_cast<int32_t>(TQMOVIE_DETAIL_CAST), 1, 0, 0, 0, 1},
        {static_cast<int32_t>(TQMOVIE_DETAIL_PROVIDERS | TQMOVIE_DETAIL_VIDEOS), 0, 0, 1, 1, 0},
        {16, 0, 0, 0, 0, 0}, // bits above the four sections select nothing
    };
    put_detail("tt1");
    for (const Case &c : cases) {
        tq_detail out{};
        ASSERT_EQ(tq_cache_get_detail("tt1", &out, c.mask), 1);
        EXPECT_STREQ(out.title, "Detail Title") << "mask " << c.mask;
        EXPECT_EQ(out.cast_count, c.cast) << "mask " << c.mask;
        EXPECT_EQ(out.picture_count, c.pictures) << "mask " << c.mask;
        EXPECT_EQ(out.provider_count, c.providers) << "mask " << c.mask;
        EXPECT_EQ(out.video_count, c.videos) << "mask " << c.mask;
        EXPECT_EQ(out.related_count, c.related) << "mask " << c.mask;
        tq_free_detail(&out);
    }
}

TEST_F(Cache, PartialDetailIsServedWithItsSectionsOnly) {
    put_detail("tt1", TQMOVIE_DETAIL_PICTURES);
    tq_detail out{};
    ASSERT_EQ(tq_cache_get_detail("tt1", &out, static_cast<int32_t>(TQMOVIE_DETAIL_ALL)), 1);
    EXPECT_EQ(out.picture_count, 1u);
    EXPECT_STREQ(out.pictures[0].url, "https://img/1.jpg");
    EXPECT_EQ(out.cast_count + out.provider_count + out.video_count + out.related_count, 0u);
    tq_free_detail(&out);
}

TEST_F(Cache, ReadHandsOutAnIndependentCopy) {
    tq_basic mine = make_basic("tt1", "original");
    tq_cache_put_basic(&mine);
    tq_free_basic(&mine); // the cache kept its own copy
    tq_basic out{};
    ASSERT_EQ(tq_cache_get_basic("tt1", &out), 1);
    EXPECT_NE(out.title, g_tq.cache[0].basic->title);
    tq_free_basic(&out);
    ASSERT_EQ(tq_cache_get_basic("tt1", &out), 1);
    EXPECT_STREQ(out.title, "original");
    EXPECT_EQ(out.directors_count, 2u);
    tq_free_basic(&out);
}

TEST_F(Cache, StoringTheCachedRecordItselfIsSafe) {
    put_basic("tt1", "kept");
    put_detail("tt1");
    tq_cache_put_basic(tq_cache_find("tt1")->basic);
    tq_cache_put_detail(tq_cache_find("tt1")->detail);
    tq_basic out{};
    ASSERT_EQ(tq_cache_get_basic("tt1", &out), 1);
    EXPECT_STREQ(out.title, "kept");
    tq_free_basic(&out);
    tq_detail dout{};
    ASSERT_EQ(tq_cache_get_detail("tt1", &dout, 0), 1);
    EXPECT_EQ(dout.cast_count, 1u);
    tq_free_detail(&dout);
}

TEST_F(Cache, InvalidateMovesLastSlotIntoGap) {
    put_basic("T1");
    put_basic("T2");
    put_basic("T3");
    tqmovie_cache_invalidate("T1");
    EXPECT_EQ(keys(), (std::vector<std::string>{"T3", "T2"}));
    EXPECT_EQ(g_tq.cache[2].imdb_id, nullptr);
    EXPECT_EQ(g_tq.cache[2].basic, nullptr);

    tqmovie_cache_invalidate("T9");
    tqmovie_cache_invalidate(nullptr);
    EXPECT_EQ(keys(), (std::vector<std::string>{"T3", "T2"}));

    tqmovie_cache_invalidate("T2"); // the last slot: only zeroed
    tqmovie_cache_invalidate("T3");
    EXPECT_EQ(g_tq.cache_count, 0u);
    EXPECT_EQ(g_tq.cache_cap, 32u);
    EXPECT_EQ(g_tq.cache[0].imdb_id, nullptr);
    EXPECT_EQ(tqmovie_cache_has("T3", nullptr, nullptr), 0);
}

TEST_F(Cache, ThirtyThirdTitleDoublesTable) {
    std::vector<std::string> ids;
    for (int i = 0; i < 33; ++i) ids.push_back("tt" + std::to_string(1000 + i));
    for (int i = 0; i < 32; ++i) put_basic(ids[static_cast<size_t>(i)].c_str());
    EXPECT_EQ(g_tq.cache_cap, 32u);
    put_basic(ids[32].c_str());
    EXPECT_EQ(g_tq.cache_cap, 64u);
    EXPECT_EQ(g_tq.cache_count, 33u);
    EXPECT_EQ(keys(), ids); // first-store order
    for (const std::string &id : ids) EXPECT_EQ(tqmovie_cache_has(id.c_str(), nullptr, nullptr), 1) << id;
    for (size_t i = 33; i < 64; ++i) {
        const tq_cache_entry &s = g_tq.cache[i];
        EXPECT_TRUE(!s.imdb_id && !s.basic && !s.detail && s.basic_at == 0 && s.detail_at == 0) << i;
    }
}

TEST_F(Cache, ClearDropsEveryTitleKeepsSettings) {
    tqmovie_cache_set_ttl(77, 88);
    tqmovie_set_batch_ceiling(5);
    put_basic("tt1");
    put_detail("tt2");
    tqmovie_cache_clear();
    EXPECT_EQ(g_tq.cache, nullptr);
    EXPECT_EQ(g_tq.cache_count, 0u);
    EXPECT_EQ(g_tq.cache_cap, 0u);
    tq_basic out = sentinel_basic();
    tq_detail dout{};
    EXPECT_EQ(tq_cache_get_basic("tt1", &out), 0);
    EXPECT_EQ(tq_cache_get_detail("tt2", &dout, 0), 0);
    int32_t bf = 9, df = 9;
    EXPECT_EQ(tqmovie_cache_has("tt2", &bf, &df), 0);
    EXPECT_EQ(bf, 0);
    EXPECT_EQ(df, 0);
    EXPECT_EQ(g_tq.cache_ttl_basic, 77);
    EXPECT_EQ(g_tq.cache_ttl_detail, 88);
    EXPECT_EQ(tqmovie_batch_ceiling(), 5u);
    tqmovie_cache_clear(); // twice is harmless
    put_basic("tt3");
    EXPECT_EQ(g_tq.cache_cap, 32u);
    tqmovie_set_batch_ceiling(0);
}

TEST_F(Cache, HasWithNullFlagsReportsOnlyTheSlot) {
    EXPECT_EQ(tqmovie_cache_has("tt1", nullptr, nullptr), 0);
    put_detail("tt1");
    EXPECT_EQ(tqmovie_cache_has("tt1", nullptr, nullptr), 1);
    int32_t df = 9;
    EXPECT_EQ(tqmovie_cache_has("tt1", nullptr, &df), 1);
    EXPECT_EQ(df, 1);
    int32_t bf = 9;
    EXPECT_EQ(tqmovie_cache_has(nullptr, &bf, nullptr), 0);
    EXPECT_EQ(bf, 0); // cleared even on a miss
}

TEST_F(Cache, ZeroLifetimesLastUntilDefaultsAreFilled) {
    tqmovie_cache_set_ttl(0, 0);
    EXPECT_EQ(g_tq.cache_ttl_basic, 0);
    EXPECT_EQ(g_tq.cache_ttl_detail, 0);
    tqmovie_set_host(nullptr);
    EXPECT_EQ(g_tq.cache_ttl_basic, 86400);
    EXPECT_EQ(g_tq.cache_ttl_detail, 21600);

    tqmovie_cache_set_ttl(0, 600); // one non-zero lifetime keeps the other at 0
    tqmovie_set_host(nullptr);
    tqmovie_set_io(nullptr);
    EXPECT_EQ(g_tq.cache_ttl_basic, 0);
    EXPECT_EQ(g_tq.cache_ttl_detail, 600);
}

TEST(BatchCeiling, ZeroMeansTwentyFour) {
    struct Case {
        uint64_t set, read;
    };
    const Case cases[] = {{0, 24}, {1, 1}, {24, 24}, {25, 25}, {UINT64_MAX, UINT64_MAX}};
    for (const Case &c : cases) {
        tqmovie_set_batch_ceiling(c.set);
        EXPECT_EQ(tqmovie_batch_ceiling(), c.read) << c.set;
        EXPECT_EQ(g_tq.batch_ceiling, c.read) << c.set;
    }
    g_tq.batch_ceiling = 0; // never configured
    EXPECT_EQ(tqmovie_batch_ceiling(), 24u);
}

// ---------------------------------------------------------------------------------
// Allocation failure: every allocation of a store and a read fails in turn.
// ---------------------------------------------------------------------------------

class CacheAlloc : public Cache {
protected:
    void SetUp() override {
        Cache::SetUp();
        tqtest::reset_tracking();
    }
    void TearDown() override {
        tqmovie_cache_clear();
        EXPECT_EQ(tqtest::live_allocations(), 0);
    }
};

TEST_F(CacheAlloc, FirstStoreSurvivesEachAllocationFailure) {
    tq_basic rec = make_basic("tt1");
    tq_detail drec = make_detail("tt1");
    for (tqtest::FailMode mode : tqtest::kFailModes) {
        SCOPED_TRACE(tqtest::mode_name(mode));
        auto store = [&] {
            tqmovie_cache_clear();
            tq_cache_put_basic(&rec);
            tq_cache_put_detail(&drec);
            return 0;
        };
        long runs = tqtest::each_allocation_failure(
            store,
            [&](int, long k, bool hit) {
                if (!hit) return;
                SCOPED_TRACE("allocation " + std::to_string(k));
                for (size_t i = 0; i < g_tq.cache_count; ++i) {
                    const tq_cache_entry &s = g_tq.cache[i];
                    ASSERT_NE(s.imdb_id, nullptr);
                    // A record that could not be stored leaves no stamp behind.
                    EXPECT_EQ(s.basic == nullptr, s.basic_at == 0);
                    EXPECT_EQ(s.detail == nullptr, s.detail_at == 0);
                }
                EXPECT_LE(g_tq.cache_count, 1u);
            },
            mode);
        EXPECT_GT(runs, 5);
        int32_t bf = 0, df = 0;
        EXPECT_EQ(tqmovie_cache_has("tt1", &bf, &df), 1);
        EXPECT_EQ(bf + df, 2);
    }
    tq_free_basic(&rec);
    tq_free_detail(&drec);
}

TEST_F(CacheAlloc, ReplacingStoreSurvivesEachAllocationFailure) {
    tq_basic rec = make_basic("tt1", "new");
    tq_detail drec = make_detail("tt1");
    auto replace = [&] {
        {
            tqtest::AllocPause setup; // the old records are not part of the sweep
            tqmovie_cache_clear();
            put_basic("tt1", "old");
            put_detail("tt1");
        }
        g_tq.cache[0].basic_at = 12345;
        g_tq.cache[0].detail_at = 12345;
        tq_cache_put_basic(&rec);
        tq_cache_put_detail(&drec);
        return 0;
    };
    for (tqtest::FailMode mode : tqtest::kFailModes) {
        SCOPED_TRACE(tqtest::mode_name(mode));
        tqtest::each_allocation_failure(
            replace,
            [&](int, long k, bool hit) {
                SCOPED_TRACE("allocation " + std::to_string(k));
                ASSERT_EQ(g_tq.cache_count, 1u);
                const tq_cache_entry &s = g_tq.cache[0];
                if (!hit) {
                    EXPECT_STREQ(s.basic->title, "new");
                    EXPECT_GT(s.basic_at, 12345);
                    return;
                }
                // Either the new record is there with a new stamp, or none is and the
                // stamp is the old one; never the old record under a new stamp.
                EXPECT_TRUE(s.basic ? s.basic_at > 12345 : s.basic_at == 12345) << s.basic_at;
                EXPECT_TRUE(s.detail ? s.detail_at > 12345 : s.detail_at == 12345) << s.detail_at;
                int32_t bf = 9, df = 9;
                tqmovie_cache_has("tt1", &bf, &df);
                EXPECT_EQ(bf, s.basic != nullptr ? 1 : 0);
                EXPECT_EQ(df, s.detail != nullptr ? 1 : 0);
                tq_basic out = sentinel_basic();
                if (s.basic == nullptr) {
                    EXPECT_EQ(tq_cache_get_basic("tt1", &out), 0);
                    EXPECT_EQ(out.id, 4242);
                }
            },
            mode);
    }
    tq_free_basic(&rec);
    tq_free_detail(&drec);
}

TEST_F(CacheAlloc, ReadSurvivesEachAllocationFailure) {
    put_basic("tt1");
    put_detail("tt1");
    tq_basic want = make_basic("tt1");
    tq_basic out{};
    tq_detail dout{};
    auto read = [&] {
        out = tq_basic{};
        dout = tq_detail{};
        return std::pair(tq_cache_get_basic("tt1", &out), tq_cache_get_detail("tt1", &dout, 0));
    };
    for (tqtest::FailMode mode : tqtest::kFailModes) {
        SCOPED_TRACE(tqtest::mode_name(mode));
        tqtest::each_allocation_failure(
            read,
            [&](std::pair<int32_t, int32_t> got, long k, bool hit) {
                SCOPED_TRACE("allocation " + std::to_string(k));
                // A failed copy reads as a miss with the out record empty; a string that
                // could not be copied is merely absent.
                if (got.first == 0) {
                    EXPECT_TRUE(is_empty_basic(out));
                }
                if (got.second == 0) {
                    EXPECT_TRUE(is_empty_detail(dout));
                }
                tq_free_basic(&out);
                tq_free_detail(&dout);
                // The cached records are never damaged by a failed read.
                expect_same_basic(*g_tq.cache[0].basic, want);
                EXPECT_EQ(g_tq.cache[0].detail->cast_count, 1u);
                EXPECT_STREQ(g_tq.cache[0].detail->videos[0].key, "abc123");
                if (!hit) {
                    EXPECT_EQ(got, std::pair(1, 1));
                }
            },
            mode);
    }
    tq_free_basic(&want);
}

} // namespace

// ---------------------------------------------------------------------------------
// The index beside the slots, against a model that walks: random puts, reads,
// invalidations, clears and limit changes agree on every observable.
// ---------------------------------------------------------------------------------

struct CacheModel {
    std::vector<std::string> slots; // slot order, as the state shows it
    std::vector<std::string> used;  // least recently used first
    std::vector<std::pair<bool, bool>> kinds;
    size_t limit = 0;

    size_t at(const std::string &id) const {
        for (size_t i = 0; i < slots.size(); ++i)
            if (slots[i] == id) return i;
        return SIZE_MAX;
    }
    void touch(const std::string &id) {
        used.erase(std::remove(used.begin(), used.end(), id), used.end());
        used.push_back(id);
    }
    void drop(const std::string &id) {
        const size_t k = at(id);
        if (k == SIZE_MAX) return;
        slots[k] = slots.back();
        kinds[k] = kinds.back();
        slots.pop_back();
        kinds.pop_back();
        used.erase(std::remove(used.begin(), used.end(), id), used.end());
    }
    void evict() {
        while (limit && slots.size() > limit) drop(used.front());
    }
    void put(const std::string &id, bool detail) {
        if (at(id) == SIZE_MAX) {
            slots.push_back(id);
            kinds.emplace_back(false, false);
        }
        (detail ? kinds[at(id)].second : kinds[at(id)].first) = true;
        touch(id);
        evict();
    }
    bool get(const std::string &id, bool detail) {
        const size_t k = at(id);
        if (k == SIZE_MAX || !(detail ? kinds[k].second : kinds[k].first)) return false;
        touch(id);
        return true;
    }
};

TEST_F(Cache, IndexAgreesWithAWalkingModel) {
    std::vector<std::string> pool;
    for (int i = 0; i < 300; ++i) pool.push_back("tt" + std::to_string(1000 + i * 7));
    CacheModel model;
    srand(20261209);
    for (int step = 0; step < 20000; ++step) {
        const std::string &id = pool[static_cast<size_t>(rand()) % pool.size()];
        const int op = rand() % 100;
        const bool detail = op % 2;
        if (op < 45) {
            detail ? put_detail(id.c_str()) : put_basic(id.c_str());
            model.put(id, detail);
        } else if (op < 80) {
            tq_basic b{};
            tq_detail d{};
            const int32_t got = detail ? tq_cache_get_detail(id.c_str(), &d, 0) : tq_cache_get_basic(id.c_str(), &b);
            ASSERT_EQ(got == 1, model.get(id, detail)) << step;
            tq_free_basic(&b);
            tq_free_detail(&d);
        } else if (op < 97) {
            tqmovie_cache_invalidate(id.c_str());
            model.drop(id);
        } else if (op < 98) {
            tqmovie_cache_clear();
            model = CacheModel{{}, {}, {}, model.limit};
        } else {
            model.limit = rand() % 3 == 0 ? 0 : 20 + static_cast<size_t>(rand()) % 200;
            tqmovie_cache_set_limit(model.limit);
            model.evict();
        }
        if (step % 97 != 0) continue;
        ASSERT_EQ(keys(), model.slots) << step;
        for (const std::string &p : pool) {
            const tq_cache_entry *e = tq_cache_find(p.c_str());
            const size_t k = model.at(p);
            ASSERT_EQ(e ? static_cast<size_t>(e - g_tq.cache) : SIZE_MAX, k) << p << " at step " << step;
            int32_t bf = -1, df = -1;
            ASSERT_EQ(tqmovie_cache_has(p.c_str(), &bf, &df), k != SIZE_MAX);
            if (k != SIZE_MAX) {
                ASSERT_EQ(std::make_pair(bf == 1, df == 1), model.kinds[k]) << p;
            }
        }
    }
    tqmovie_cache_set_limit(0);
}

// Over the limit the least recently used title leaves, reads counting as use.
TEST_F(Cache, LimitEvictsTheLeastRecentlyUsed) {
    for (const char *id : {"tt1", "tt2", "tt3"}) put_basic(id);
    tq_basic b{};
    ASSERT_EQ(tq_cache_get_basic("tt1", &b), 1);
    tq_free_basic(&b);
    tqmovie_cache_set_limit(2); // tt2 is the oldest use
    EXPECT_EQ(keys(), (std::vector<std::string>{"tt1", "tt3"}));
    put_detail("tt4"); // then tt3
    EXPECT_EQ(keys(), (std::vector<std::string>{"tt1", "tt4"}));
    EXPECT_EQ(tqmovie_cache_limit(), 2u);
    tqmovie_cache_set_limit(0);
    for (const char *id : {"tt5", "tt6"}) put_basic(id);
    EXPECT_EQ(g_tq.cache_count, 4u);
}

// The index growing or being rebuilt under allocation failure never loses or
// duplicates a title: the walk serves until the index can be had again.
TEST_F(CacheAlloc, IndexGrowthSurvivesEachAllocationFailure) {
    std::vector<tq_basic> recs;
    for (int i = 0; i < 70; ++i) recs.push_back(make_basic(("tt" + std::to_string(i)).c_str()));
    for (tqtest::FailMode mode : tqtest::kFailModes) {
        SCOPED_TRACE(tqtest::mode_name(mode));
        auto fill = [&] {
            tqmovie_cache_clear();
            {
                tqtest::AllocPause pause; // the first 60 go in whole
                for (size_t i = 0; i < 60; ++i) tq_cache_put_basic(&recs[i]);
            }
            for (size_t i = 60; i < recs.size(); ++i) tq_cache_put_basic(&recs[i]);
            return 0;
        };
        tqtest::each_allocation_failure(
            fill,
            [&](int, long k, bool) {
                SCOPED_TRACE("allocation " + std::to_string(k));
                ASSERT_GE(g_tq.cache_count, 60u);
                for (size_t i = 0; i < g_tq.cache_count; ++i) {
                    ASSERT_NE(g_tq.cache[i].imdb_id, nullptr);
                    EXPECT_EQ(tq_cache_find(g_tq.cache[i].imdb_id), &g_tq.cache[i]);
                }
                tq_cache_put_basic(&recs[5]); // present: replaced, not added
                EXPECT_EQ(tq_cache_find("tt5"), &g_tq.cache[5]);
            },
            mode);
    }
    for (tq_basic &b : recs) tq_free_basic(&b);
}
