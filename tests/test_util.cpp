// SPDX-License-Identifier: MIT
// Text helpers and record copy/release.
#include "alloc_fail.h"
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct FreeOnExit {
    char *p;
    ~FreeOnExit() { std::free(p); }
};

TEST(Util, UrlEncodeKeepsUnreservedAndEscapesTheRest) {
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {nullptr, ""},
        {"", ""},
        {"tt0111161", "tt0111161"},
        {"en-US", "en-US"},
        {"AZaz09-._~", "AZaz09-._~"},
        {"a b", "a%20b"},
        {"a/b", "a%2Fb"},
        {"a+b", "a%2Bb"},
        {"100%", "100%25"},
        {"a&b=c", "a%26b%3Dc"},
        {"\xC3\xA9", "%C3%A9"},
        {"\xFF\x80\x01", "%FF%80%01"},
    };
    for (const Case &c : cases) {
        FreeOnExit got{tq_url_encode(c.in)};
        ASSERT_NE(got.p, nullptr);
        EXPECT_STREQ(got.p, c.out) << (c.in ? c.in : "(null)");
    }
}

TEST(Util, JoinIdsSkipsNullsAndKeepsEmptyFieldsAfterText) {
    const char *three[] = {"tt1", nullptr, "tt3"};
    const char *all_null[] = {nullptr, nullptr};
    const char *empty_then_a[] = {"", "A"};
    const char *a_then_empty[] = {"A", ""};
    const char *a_empty_b[] = {"A", "", "B"};
    struct Case {
        const char *const *ids;
        size_t n;
        const char *out;
    } cases[] = {
        {three, 0, ""},         {nullptr, 0, ""},        {all_null, 2, ""},      {three, 3, "tt1,tt3"},
        {empty_then_a, 2, "A"}, {a_then_empty, 2, "A,"}, {a_empty_b, 3, "A,,B"},
    };
    for (const Case &c : cases) {
        FreeOnExit got{tq_join_ids(c.ids, c.n)};
        ASSERT_NE(got.p, nullptr);
        EXPECT_STREQ(got.p, c.out);
    }
}

TEST(Util, StrndupCopiesExactlyNBytes) {
    FreeOnExit none{tq_strndup("abc", 0)};
    EXPECT_STREQ(none.p, "");
    const char src[] = {'a', '\0', 'b', 'c'};
    FreeOnExit got{tq_strndup(src, 4)};
    ASSERT_NE(got.p, nullptr);
    EXPECT_EQ(std::memcmp(got.p, src, 4), 0);
    EXPECT_EQ(got.p[4], '\0');
    EXPECT_EQ(tq_strndup(nullptr, 3), nullptr);
    EXPECT_EQ(tq_strdup(nullptr), nullptr);
}

TEST(Util, SetErrCutsAt511AndMayQuoteItself) {
    const std::string long_text(600, 'x');
    tq_set_err("%s", long_text.c_str());
    EXPECT_EQ(std::strlen(tqmovie_last_error()), 511u);
    EXPECT_EQ(std::string(tqmovie_last_error()), long_text.substr(0, 511));

    tq_set_err("first");
    tq_set_err("again: %s", tqmovie_last_error());
    EXPECT_STREQ(tqmovie_last_error(), "again: first");
    tq_set_err("%s", "");
    EXPECT_STREQ(tqmovie_last_error(), "");
}

// Each helper sizes its one allocation in advance and reports failure as NULL.
TEST(Util, HelpersAllocateOnceAndFailCleanly) {
    const char *ids[] = {"tt1", "tt2", nullptr, "tt3"};
    {
        tqtest::AllocFailure count(-1);
        FreeOnExit a{tq_url_encode("a b c \xC3\xA9")};
        FreeOnExit b{tq_join_ids(ids, 4)};
        FreeOnExit c{tq_strdup("x")};
        FreeOnExit d{tq_strndup("xyz", 2)};
        EXPECT_EQ(count.count(), 4);
    }
    tqtest::AllocFailure fail(0);
    EXPECT_EQ(tq_url_encode("abc"), nullptr);
    tqtest::AllocFailure fail2(0);
    EXPECT_EQ(tq_join_ids(ids, 4), nullptr);
    tqtest::AllocFailure fail3(0);
    EXPECT_EQ(tq_strdup("abc"), nullptr);
}

// The test heap's two modes, seen through three copies: failing the k-th allocation
// only, or the k-th and every later one; the sweep stops at the first k not reached.
TEST(Util, TestHeapFailsOnceOrFromThenOn) {
    auto three_copies = [] {
        FreeOnExit x{tq_strdup("x")}, y{tq_strdup("y")}, z{tq_strdup("z")};
        return (x.p ? 1 : 0) + (y.p ? 1 : 0) + (z.p ? 1 : 0);
    };
    for (tqtest::FailMode mode : tqtest::kFailModes) {
        SCOPED_TRACE(tqtest::mode_name(mode));
        std::vector<int> copied;
        long runs = tqtest::each_allocation_failure(
            three_copies, [&](int n, long, bool) { copied.push_back(n); }, mode);
        EXPECT_EQ(runs, 3);
        EXPECT_EQ(copied,
                  mode == tqtest::FailMode::Once ? (std::vector<int>{2, 2, 2, 3}) : (std::vector<int>{0, 1, 2, 3}));
    }
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

char **str_array(std::initializer_list<const char *> items) {
    char **arr = static_cast<char **>(std::calloc(items.size(), sizeof(char *)));
    size_t i = 0;
    for (const char *s : items) arr[i++] = tq_strdup(s);
    return arr;
}

void make_basic(tq_basic *b) {
    std::memset(b, 0, sizeof *b);
    b->imdb_id = tq_strdup("tt0111161");
    b->title = tq_strdup("The Shawshank Redemption");
    b->poster_url = tq_strdup("");
    b->id = 42;
    b->year = 1994;
    b->duration = 142;
    b->is_tv = 0;
    b->directors = str_array({"Frank Darabont"});
    b->directors_count = 1;
    b->genres = str_array({"Drama", nullptr, "Crime"});
    b->genres_count = 3;
    b->ratings = static_cast<tq_rating *>(std::calloc(2, sizeof(tq_rating)));
    b->ratings[0] = {tq_strdup("imDb"), 9.3};
    b->ratings[1] = {tq_strdup("metacritic"), 82};
    b->ratings_count = 2;
}

void make_detail(tq_detail *d) {
    std::memset(d, 0, sizeof *d);
    d->imdb_id = tq_strdup("tt0903747");
    d->title = tq_strdup("Breaking Bad");
    d->genres = tq_strdup("Crime, Drama, Thriller");
    d->logo_base64 = tq_strdup("iVBORw0KGgo=");
    d->start_year = 2008;
    d->end_year = 2013;
    d->runtime = 49;
    d->is_tv = 1;
    d->imdb_rating = 9.5;
    d->cast = static_cast<tq_cast *>(std::calloc(2, sizeof(tq_cast)));
    d->cast[0] = {tq_strdup("Bryan Cranston"), tq_strdup("nm0186505"), nullptr, tq_strdup("Walter White"), nullptr};
    d->cast[1] = {tq_strdup("Aaron Paul"), nullptr, nullptr, tq_strdup("Jesse Pinkman"), tq_strdup("1979-08-27")};
    d->cast_count = 2;
    d->pictures = static_cast<tq_picture *>(std::calloc(1, sizeof(tq_picture)));
    d->pictures[0] = {tq_strdup("en"), tq_strdup("https://img.example/p.jpg"), 1280, 720};
    d->picture_count = 1;
    d->providers = static_cast<tq_provider *>(std::calloc(1, sizeof(tq_provider)));
    d->providers[0] = {tq_strdup("US"), tq_strdup("8"), tq_strdup("Stream"), nullptr, tq_strdup("flatrate"), 3};
    d->provider_count = 1;
    d->videos = static_cast<tq_video *>(std::calloc(1, sizeof(tq_video)));
    d->videos[0] = {tq_strdup("v1"),      tq_strdup("k1"), tq_strdup("Trailer"), tq_strdup("site"),
                    tq_strdup("Trailer"), tq_strdup("en"), tq_strdup("US"),      1080};
    d->video_count = 1;
    d->related = str_array({"tt1", nullptr, "tt3"});
    d->related_count = 3;
}

TEST(Records, CopyOfNullIsTheEmptyRecord) {
    tq_basic b;
    std::memset(&b, 0x5A, sizeof b);
    EXPECT_EQ(tq_copy_basic(&b, nullptr), 0);
    EXPECT_EQ(b.title, nullptr);
    EXPECT_EQ(b.year, -1);
    EXPECT_EQ(b.duration, -1);
    EXPECT_EQ(b.is_tv, -1);
    EXPECT_EQ(b.id, 0);
    EXPECT_EQ(b.ratings_count, 0u);

    tq_detail d;
    std::memset(&d, 0x5A, sizeof d);
    EXPECT_EQ(tq_copy_detail(&d, nullptr, TQMOVIE_DETAIL_ALL), 0);
    EXPECT_EQ(d.start_year, -1);
    EXPECT_EQ(d.runtime, -1);
    EXPECT_TRUE(std::isnan(d.imdb_rating));
    EXPECT_FALSE(std::signbit(d.imdb_rating));
    EXPECT_EQ(d.cast, nullptr);
}

TEST(Records, BasicCopyIsDeepAndEqual) {
    tq_basic src, dst;
    make_basic(&src);
    ASSERT_EQ(tq_copy_basic(&dst, &src), 0);
    EXPECT_STREQ(dst.title, src.title);
    EXPECT_NE(dst.title, src.title);
    EXPECT_STREQ(dst.poster_url, "");
    EXPECT_EQ(dst.tagline, nullptr);
    EXPECT_EQ(dst.year, 1994);
    ASSERT_EQ(dst.genres_count, 3u);
    EXPECT_STREQ(dst.genres[0], "Drama");
    EXPECT_EQ(dst.genres[1], nullptr);
    EXPECT_STREQ(dst.genres[2], "Crime");
    ASSERT_EQ(dst.ratings_count, 2u);
    EXPECT_STREQ(dst.ratings[1].source, "metacritic");
    EXPECT_EQ(dst.ratings[1].value, 82.0);
    tq_free_basic(&src);
    EXPECT_STREQ(dst.directors[0], "Frank Darabont");
    tq_free_basic(&dst);
}

TEST(Records, DetailCopySelectsSections) {
    tq_detail src;
    make_detail(&src);
    struct Case {
        uint32_t mask;
        bool cast, pictures, providers, videos;
    } cases[] = {
        {0, false, false, false, false},
        {TQMOVIE_DETAIL_PICTURES, false, true, false, false},
        {TQMOVIE_DETAIL_CAST, true, false, false, false},
        {TQMOVIE_DETAIL_PROVIDERS | TQMOVIE_DETAIL_VIDEOS, false, false, true, true},
        {16, false, false, false, false},
        {256 | TQMOVIE_DETAIL_VIDEOS, false, false, false, true},
        {TQMOVIE_DETAIL_ALL, true, true, true, true},
    };
    for (const Case &c : cases) {
        tq_detail d;
        ASSERT_EQ(tq_copy_detail(&d, &src, c.mask), 0);
        EXPECT_STREQ(d.title, "Breaking Bad") << c.mask;
        EXPECT_STREQ(d.logo_base64, "iVBORw0KGgo=");
        EXPECT_EQ(d.imdb_rating, 9.5);
        EXPECT_EQ(d.end_year, 2013);
        EXPECT_EQ(d.cast_count, c.cast ? 2u : 0u) << c.mask;
        EXPECT_EQ(d.related_count, c.cast ? 3u : 0u) << c.mask;
        EXPECT_EQ(d.picture_count, c.pictures ? 1u : 0u) << c.mask;
        EXPECT_EQ(d.provider_count, c.providers ? 1u : 0u) << c.mask;
        EXPECT_EQ(d.video_count, c.videos ? 1u : 0u) << c.mask;
        if (c.cast) {
            EXPECT_STREQ(d.cast[1].birthday, "1979-08-27");
            EXPECT_EQ(d.related[1], nullptr);
        }
        if (c.videos) {
            EXPECT_EQ(d.videos[0].size, 1080);
        }
        if (c.providers) {
            EXPECT_EQ(d.providers[0].display_priority, 3);
        }
        tq_free_detail(&d);
    }
    tq_free_detail(&src);
}

TEST(Records, AllocatedEmptyListsCopyToNull) {
    tq_basic src;
    std::memset(&src, 0, sizeof src);
    src.directors = static_cast<char **>(std::malloc(sizeof(char *)));
    src.ratings = static_cast<tq_rating *>(std::malloc(sizeof(tq_rating)));
    tq_basic dst;
    ASSERT_EQ(tq_copy_basic(&dst, &src), 0);
    EXPECT_EQ(dst.directors, nullptr);
    EXPECT_EQ(dst.ratings, nullptr);
    tq_free_basic(&dst);
    tq_free_basic(&src); // frees the arrays although the counts are 0
}

TEST(Records, ReleaseResetsAndIsIdempotent) {
    tq_detail d;
    make_detail(&d);
    tq_free_detail(&d);
    tq_free_detail(&d);
    EXPECT_EQ(d.start_year, -1);
    EXPECT_EQ(d.end_year, -1);
    EXPECT_EQ(d.runtime, -1);
    EXPECT_EQ(d.is_tv, -1);
    EXPECT_EQ(d.id, 0);
    EXPECT_TRUE(std::isnan(d.imdb_rating));
    tq_basic b;
    make_basic(&b);
    tq_free_basic(&b);
    EXPECT_EQ(b.year, -1);
    EXPECT_EQ(b.duration, -1);
    tq_free_basic(nullptr);
    tq_free_detail(nullptr);
    tq_free_trans(nullptr);
}

// A copy that runs out of memory part way leaves dst releasable, holding only what it
// copied; releasing it frees exactly that.
TEST(Records, CopiesSurviveEachAllocationFailure) {
    tq_basic bsrc;
    tq_detail dsrc;
    make_basic(&bsrc);
    make_detail(&dsrc);
    tqtest::reset_tracking();
    tqtest::each_allocation_failure(
        [&] {
            tq_basic dst;
            const int32_t st = tq_copy_basic(&dst, &bsrc);
            tq_free_basic(&dst);
            return st;
        },
        [](int32_t st, long k, bool hit) { EXPECT_TRUE(st == 0 || (hit && st == -1)) << "allocation " << k; });
    long failing = tqtest::each_allocation_failure(
        [&] {
            tq_detail dst;
            const int32_t st = tq_copy_detail(&dst, &dsrc, TQMOVIE_DETAIL_ALL);
            tq_free_detail(&dst);
            return st;
        },
        [](int32_t st, long k, bool hit) { EXPECT_TRUE(st == 0 || (hit && st == -1)) << "allocation " << k; });
    EXPECT_GE(failing, 30);
    EXPECT_EQ(tqtest::live_allocations(), 0);
    tq_free_basic(&bsrc);
    tq_free_detail(&dsrc);
}

TEST(Records, FailedStringCopyLeavesFieldNullWithoutError) {
    tq_basic src;
    make_basic(&src);
    tq_basic dst;
    {
        tqtest::AllocFailure fail(0); // the imdb_id copy
        ASSERT_EQ(tq_copy_basic(&dst, &src), 0);
    }
    EXPECT_EQ(dst.imdb_id, nullptr);
    EXPECT_STREQ(dst.title, "The Shawshank Redemption");
    tq_free_basic(&dst);
    tq_free_basic(&src);
}

} // namespace
