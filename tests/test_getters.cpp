// SPDX-License-Identifier: MIT
// The 77 result getters, table-driven: fixed values out of range (both indexes), exact
// fields in range, the markers of absent fields, values read back from the sample
// fixtures, and text pointers that survive the operations that leave the store alone.
#include "host_backend.h"
#include "tqmovie.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using tqtest::HostBackend;
using tqtest::Reply;

namespace {

enum class List { Basic, Detail, Trans };

const char *list_name(List l) { return l == List::Basic ? "basic" : l == List::Detail ? "detail" : "trans"; }

// In-range expectations refer to record 1 of two stored records and, for item getters,
// to item 1 of its two items: the last valid index on both levels.
struct CountG {
    const char *name;
    int32_t (*fn)();
    List list;
};
struct TextI {
    const char *name;
    const char *(*fn)(int32_t);
    List list;
    const char *want;
};
struct IntI {
    const char *name;
    int32_t (*fn)(int32_t);
    List list;
    int32_t none;
    int32_t want;
};
struct DblI {
    const char *name;
    double (*fn)(int32_t);
    List list;
    double want;
};
struct TextIJ {
    const char *name;
    const char *(*fn)(int32_t, int32_t);
    List list;
    int32_t (*inner)(int32_t);
    const char *want;
};
struct IntIJ {
    const char *name;
    int32_t (*fn)(int32_t, int32_t);
    List list;
    int32_t (*inner)(int32_t);
    int32_t none;
    int32_t want;
};
struct DblIJ {
    const char *name;
    double (*fn)(int32_t, int32_t);
    List list;
    int32_t (*inner)(int32_t);
    double want;
};

#define G(f) #f, f

const CountG kCounts[] = {
    {G(tqmovie_basic_count), List::Basic},
    {G(tqmovie_detail_count), List::Detail},
    {G(tqmovie_trans_count), List::Trans},
};

const TextI kTextI[] = {
    {G(tqmovie_basic_imdb_id), List::Basic, "ttB"},
    {G(tqmovie_basic_title), List::Basic, "B title"},
    {G(tqmovie_basic_tagline), List::Basic, "B tag"},
    {G(tqmovie_basic_plot), List::Basic, "B plot"},
    {G(tqmovie_basic_poster_url), List::Basic, "B poster"},
    {G(tqmovie_basic_picture_url), List::Basic, "B picture"},
    {G(tqmovie_detail_imdb_id), List::Detail, "ttD"},
    {G(tqmovie_detail_title), List::Detail, "D title"},
    {G(tqmovie_detail_original_title), List::Detail, "D original"},
    {G(tqmovie_detail_tagline), List::Detail, "D tag"},
    {G(tqmovie_detail_plot), List::Detail, "D plot"},
    {G(tqmovie_detail_poster_url), List::Detail, "D poster"},
    {G(tqmovie_detail_picture_url), List::Detail, "D picture"},
    {G(tqmovie_detail_title_type), List::Detail, "TVSeries"},
    {G(tqmovie_detail_genres), List::Detail, "Drama, Crime"},
    {G(tqmovie_detail_directors), List::Detail, "D dir"},
    {G(tqmovie_detail_trailer_url), List::Detail, "D trailer"},
    {G(tqmovie_detail_extension1), List::Detail, "D ext"},
    {G(tqmovie_detail_logo_base64), List::Detail, "AAAA"},
    {G(tqmovie_trans_imdb_id), List::Trans, "ttT"},
};

const IntI kIntI[] = {
    {G(tqmovie_basic_id), List::Basic, 0, 42},
    {G(tqmovie_basic_year), List::Basic, -1, 2001},
    {G(tqmovie_basic_duration), List::Basic, -1, 99},
    {G(tqmovie_basic_is_tv), List::Basic, -1, 1},
    {G(tqmovie_basic_directors_count), List::Basic, 0, 2},
    {G(tqmovie_basic_genres_count), List::Basic, 0, 2},
    {G(tqmovie_basic_ratings_count), List::Basic, 0, 2},
    {G(tqmovie_detail_id), List::Detail, 0, 7},
    {G(tqmovie_detail_start_year), List::Detail, -1, 1990},
    {G(tqmovie_detail_end_year), List::Detail, -1, 1995},
    {G(tqmovie_detail_runtime), List::Detail, -1, 50},
    {G(tqmovie_detail_is_tv), List::Detail, -1, 0},
    {G(tqmovie_detail_cast_count), List::Detail, 0, 2},
    {G(tqmovie_detail_picture_count), List::Detail, 0, 2},
    {G(tqmovie_detail_provider_count), List::Detail, 0, 2},
    {G(tqmovie_detail_video_count), List::Detail, 0, 2},
    {G(tqmovie_detail_related_count), List::Detail, 0, 2},
    {G(tqmovie_trans_items_count), List::Trans, 0, 2},
};

const DblI kDblI[] = {
    {G(tqmovie_detail_imdb_rating), List::Detail, 8.25},
};

const TextIJ kTextIJ[] = {
    {G(tqmovie_basic_director), List::Basic, tqmovie_basic_directors_count, "Dir 1"},
    {G(tqmovie_basic_genre), List::Basic, tqmovie_basic_genres_count, "Genre 1"},
    {G(tqmovie_basic_rating_source), List::Basic, tqmovie_basic_ratings_count, "metacritic"},
    {G(tqmovie_detail_cast_name), List::Detail, tqmovie_detail_cast_count, "C1 name"},
    {G(tqmovie_detail_cast_id), List::Detail, tqmovie_detail_cast_count, "C1 id"},
    {G(tqmovie_detail_cast_poster), List::Detail, tqmovie_detail_cast_count, "C1 poster"},
    {G(tqmovie_detail_cast_role), List::Detail, tqmovie_detail_cast_count, "C1 role"},
    {G(tqmovie_detail_cast_birthday), List::Detail, tqmovie_detail_cast_count, "C1 birthday"},
    {G(tqmovie_detail_picture_item_url), List::Detail, tqmovie_detail_picture_count, "P1 url"},
    {G(tqmovie_detail_picture_item_lang), List::Detail, tqmovie_detail_picture_count, "P1 lang"},
    {G(tqmovie_detail_provider_name), List::Detail, tqmovie_detail_provider_count, "V1 name"},
    {G(tqmovie_detail_provider_country), List::Detail, tqmovie_detail_provider_count, "V1 country"},
    {G(tqmovie_detail_provider_type), List::Detail, tqmovie_detail_provider_count, "V1 type"},
    {G(tqmovie_detail_provider_logo), List::Detail, tqmovie_detail_provider_count, "V1 logo"},
    {G(tqmovie_detail_provider_id), List::Detail, tqmovie_detail_provider_count, "9"},
    {G(tqmovie_detail_video_name), List::Detail, tqmovie_detail_video_count, "W1 name"},
    {G(tqmovie_detail_video_key), List::Detail, tqmovie_detail_video_count, "W1 key"},
    {G(tqmovie_detail_video_site), List::Detail, tqmovie_detail_video_count, "W1 site"},
    {G(tqmovie_detail_video_type), List::Detail, tqmovie_detail_video_count, "W1 type"},
    {G(tqmovie_detail_video_id), List::Detail, tqmovie_detail_video_count, "w1"},
    {G(tqmovie_detail_video_lang), List::Detail, tqmovie_detail_video_count, "en"},
    {G(tqmovie_detail_video_region), List::Detail, tqmovie_detail_video_count, "US"},
    {G(tqmovie_detail_related_id), List::Detail, tqmovie_detail_related_count, "tt0000002"},
    {G(tqmovie_trans_item_title), List::Trans, tqmovie_trans_items_count, "I1 title"},
    {G(tqmovie_trans_item_plot), List::Trans, tqmovie_trans_items_count, "I1 plot"},
    {G(tqmovie_trans_item_tagline), List::Trans, tqmovie_trans_items_count, "I1 tag"},
    {G(tqmovie_trans_item_lang), List::Trans, tqmovie_trans_items_count, "pt"},
    {G(tqmovie_trans_item_region), List::Trans, tqmovie_trans_items_count, "BR"},
    {G(tqmovie_trans_item_directors), List::Trans, tqmovie_trans_items_count, "I1 dirs"},
    {G(tqmovie_trans_item_actors), List::Trans, tqmovie_trans_items_count, "I1 actors"},
};

const IntIJ kIntIJ[] = {
    {G(tqmovie_detail_picture_item_w), List::Detail, tqmovie_detail_picture_count, 0, 640},
    {G(tqmovie_detail_picture_item_h), List::Detail, tqmovie_detail_picture_count, 0, 480},
    {G(tqmovie_detail_provider_priority), List::Detail, tqmovie_detail_provider_count, 0, 3},
    {G(tqmovie_detail_video_size), List::Detail, tqmovie_detail_video_count, 0, 720},
};

const DblIJ kDblIJ[] = {
    {G(tqmovie_basic_rating_value), List::Basic, tqmovie_basic_ratings_count, 74.0},
};

#undef G

static_assert(std::size(kCounts) + std::size(kTextI) + std::size(kIntI) + std::size(kDblI) + std::size(kTextIJ) +
                      std::size(kIntIJ) + std::size(kDblIJ) ==
                  77,
              "every getter of the header is in a table");

// Record 0 carries only an id, record 1 every field.
const char *const kBasics = R"([{"imDbId":"ttA"},
 {"imDbId":"ttB","title":"B title","tagLine":"B tag","plot":"B plot","posterUrl":"B poster",
  "pictureUrl":"B picture","id":42,"year":2001,"duration":99,"isTVShow":true,
  "directors":["Dir 0","Dir 1"],"genres":"Genre 0, Genre 1","ratings":{"imDb":8.1,"metacritic":74}}])";

const char *const kDetails = R"([{"imDbId":"ttC"},
 {"imDbId":"ttD","title":"D title","originalTitle":"D original","tagLine":"D tag","plot":"D plot",
  "posterUrl":"D poster","pictureUrl":"D picture","titleType":"TVSeries","genres":["Drama","Crime"],
  "directors":"D dir","trailerUrl":"D trailer","extension1":"D ext","logoBase64":"AAAA","id":7,
  "startYear":1990,"endYear":1995,"runtimeMinutes":50,"isTVShow":false,"imDbRating":8.25,
  "casts":[{"name":"C0 name"},{"name":"C1 name","idOrName":"C1 id","poster":"C1 poster",
            "characterOrRole":"C1 role","birthday":"C1 birthday"}],
  "pictures":[{"url":"P0 url"},{"language":"P1 lang","url":"P1 url","width":640,"height":480}],
  "watchProviders":[{"providerName":"V0 name"},{"countryCode":"V1 country","providerId":"9",
            "providerName":"V1 name","logoUrl":"V1 logo","watchType":"V1 type","displayPriority":3}],
  "videos":[{"name":"W0 name"},{"id":"w1","key":"W1 key","name":"W1 name","site":"W1 site",
            "type":"W1 type","iso_639_1":"en","iso_3166_1":"US","size":720}],
  "relatedIMDbIds":["tt0000001","tt0000002"]}])";

const char *const kTrans = R"([{"imDbId":"ttS"},
 {"imDbId":"ttT","items":[{"title":"I0 title"},{"title":"I1 title","plot":"I1 plot","tagLine":"I1 tag",
  "directors":"I1 dirs","actors":"I1 actors","iso_639_1":"pt","iso_3166_1":"BR"}]}])";

const int32_t kIndexes[] = {-1, 0, 1, 2, 3, INT32_MAX, INT32_MIN};

bool is_none_nan(double d) { return std::isnan(d) && !std::signbit(d); }

class Getters : public tqtest::HostBackendTest {
protected:
    void fill(List l) {
        if (l == List::Basic)
            store_basics(kBasics);
        else if (l == List::Detail)
            store_details(kDetails);
        else
            store_translations(kTrans);
    }
};

// The rows of a table that belong to list l; every row without one.
template <typename Row, size_t N> std::vector<Row> rows(const Row (&table)[N], std::optional<List> l) {
    std::vector<Row> out;
    for (const Row &r : table)
        if (!l || r.list == *l) out.push_back(r);
    return out;
}

// Every getter gives its fixed value for record index i and, for item getters, every j.
void expect_none_at(int32_t i, const std::vector<int32_t> &js, std::optional<List> l) {
    for (const TextI &g : rows(kTextI, l)) EXPECT_EQ(g.fn(i), nullptr) << g.name << "(" << i << ")";
    for (const IntI &g : rows(kIntI, l)) EXPECT_EQ(g.fn(i), g.none) << g.name << "(" << i << ")";
    for (const DblI &g : rows(kDblI, l)) EXPECT_TRUE(is_none_nan(g.fn(i))) << g.name << "(" << i << ")";
    for (int32_t j : js) {
        SCOPED_TRACE("j " + std::to_string(j));
        for (const TextIJ &g : rows(kTextIJ, l)) EXPECT_EQ(g.fn(i, j), nullptr) << g.name << "(" << i << ")";
        for (const IntIJ &g : rows(kIntIJ, l)) EXPECT_EQ(g.fn(i, j), g.none) << g.name << "(" << i << ")";
        for (const DblIJ &g : rows(kDblIJ, l)) EXPECT_TRUE(is_none_nan(g.fn(i, j))) << g.name << "(" << i << ")";
    }
}

TEST_F(Getters, EveryGetterOutOfRangeOnEmptyStore) {
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass ? "after shutdown" : "before any lookup");
        for (const CountG &g : kCounts) EXPECT_EQ(g.fn(), 0) << g.name;
        for (int32_t i : kIndexes) expect_none_at(i, {-1, 0, 1, INT32_MAX, INT32_MIN}, std::nullopt);
        host.install();
        fill(List::Detail);
        tqmovie_shutdown();
    }
}

TEST_F(Getters, EveryGetterOutOfRangeAroundFilledList) {
    for (List l : {List::Basic, List::Detail, List::Trans}) {
        SCOPED_TRACE(list_name(l));
        fill(l);
        for (const CountG &g : kCounts) EXPECT_EQ(g.fn(), g.list == l ? 2 : 0) << g.name;
        // Record index: -1, the count, the extremes.
        for (int32_t i : {-1, 2, 3, INT32_MAX, INT32_MIN}) expect_none_at(i, {-1, 0, 1}, l);
        // Item index around the two items of record 1.
        for (int32_t j : {-1, 2, INT32_MAX, INT32_MIN}) {
            SCOPED_TRACE("item " + std::to_string(j) + " of record 1");
            for (const TextIJ &g : rows(kTextIJ, l)) EXPECT_EQ(g.fn(1, j), nullptr) << g.name;
            for (const IntIJ &g : rows(kIntIJ, l)) EXPECT_EQ(g.fn(1, j), g.none) << g.name;
            for (const DblIJ &g : rows(kDblIJ, l)) EXPECT_TRUE(is_none_nan(g.fn(1, j))) << g.name;
        }
        // Getters of the other lists see nothing at all.
        for (int32_t i : kIndexes)
            for (List other : {List::Basic, List::Detail, List::Trans})
                if (other != l) expect_none_at(i, {-1, 0, 1}, other);
    }
}

TEST_F(Getters, EveryGetterReadsItsFieldInRange) {
    for (List l : {List::Basic, List::Detail, List::Trans}) {
        SCOPED_TRACE(list_name(l));
        fill(l);
        for (const TextI &g : rows(kTextI, l)) EXPECT_STREQ(g.fn(1), g.want) << g.name;
        for (const IntI &g : rows(kIntI, l)) EXPECT_EQ(g.fn(1), g.want) << g.name;
        for (const DblI &g : rows(kDblI, l)) EXPECT_EQ(g.fn(1), g.want) << g.name;
        for (const TextIJ &g : rows(kTextIJ, l)) {
            EXPECT_EQ(g.inner(1), 2) << g.name;
            EXPECT_STREQ(g.fn(1, 1), g.want) << g.name;
        }
        for (const IntIJ &g : rows(kIntIJ, l)) EXPECT_EQ(g.fn(1, 1), g.want) << g.name;
        for (const DblIJ &g : rows(kDblIJ, l)) EXPECT_EQ(g.fn(1, 1), g.want) << g.name;
    }
}

TEST_F(Getters, FirstItemsOfFullRecordHoldTheirValues) {
    fill(List::Basic);
    EXPECT_STREQ(tqmovie_basic_director(1, 0), "Dir 0");
    EXPECT_STREQ(tqmovie_basic_genre(1, 0), "Genre 0");
    EXPECT_STREQ(tqmovie_basic_rating_source(1, 0), "imDb");
    EXPECT_EQ(tqmovie_basic_rating_value(1, 0), 8.1);
    fill(List::Detail);
    EXPECT_STREQ(tqmovie_detail_cast_name(1, 0), "C0 name");
    EXPECT_EQ(tqmovie_detail_cast_role(1, 0), nullptr);
    EXPECT_STREQ(tqmovie_detail_picture_item_url(1, 0), "P0 url");
    EXPECT_EQ(tqmovie_detail_picture_item_w(1, 0), 0);
    EXPECT_STREQ(tqmovie_detail_provider_name(1, 0), "V0 name");
    EXPECT_EQ(tqmovie_detail_provider_priority(1, 0), 0);
    EXPECT_EQ(tqmovie_detail_video_size(1, 0), 0);
    EXPECT_STREQ(tqmovie_detail_video_name(1, 0), "W0 name");
    EXPECT_STREQ(tqmovie_detail_related_id(1, 0), "tt0000001");
}

TEST_F(Getters, AbsentFieldsReadAsTheirMarkers) {
    for (List l : {List::Basic, List::Detail, List::Trans}) {
        SCOPED_TRACE(list_name(l));
        fill(l);
        // Record 0 carries only its id: every other getter reads the absent marker,
        // which equals the out-of-range value; its lists are empty.
        for (const TextI &g : rows(kTextI, l))
            if (!std::strstr(g.name, "imdb_id")) {
                EXPECT_EQ(g.fn(0), nullptr) << g.name;
            }
        for (const IntI &g : rows(kIntI, l)) EXPECT_EQ(g.fn(0), g.none) << g.name;
        for (const DblI &g : rows(kDblI, l)) EXPECT_TRUE(is_none_nan(g.fn(0))) << g.name;
        for (const TextIJ &g : rows(kTextIJ, l)) EXPECT_EQ(g.fn(0, 0), nullptr) << g.name;
        for (const IntIJ &g : rows(kIntIJ, l)) EXPECT_EQ(g.fn(0, 0), g.none) << g.name;
        for (const DblIJ &g : rows(kDblIJ, l)) EXPECT_TRUE(is_none_nan(g.fn(0, 0))) << g.name;
    }
}

TEST_F(Getters, DetailWithSomeSectionsHasEmptyOtherLists) {
    store_details(kDetails, static_cast<int32_t>(TQMOVIE_DETAIL_VIDEOS));
    EXPECT_EQ(tqtest::detail_lists(1), (std::vector<int32_t>{0, 0, 0, 2, 0}));
    EXPECT_EQ(tqmovie_detail_cast_name(1, 0), nullptr);
    EXPECT_EQ(tqmovie_detail_picture_item_h(1, 0), 0);
}

TEST_F(Getters, GettersTouchNeitherErrorTextNorHttpCode) {
    fill(List::Basic);
    host.script(Reply::http(503));
    ASSERT_EQ(tqmovie_is_movie("tt1", nullptr), TQMOVIE_ERR_HTTP); // the probe leaves the store alone
    ASSERT_EQ(tqmovie_basic_count(), 2);
    for (int32_t i : {-1, 2, INT32_MAX, INT32_MIN}) expect_none_at(i, {0}, List::Basic);
    for (const TextI &g : kTextI) (void)g.fn(1);
    for (const TextIJ &g : kTextIJ) (void)g.fn(1, 1);
    EXPECT_STREQ(tqmovie_last_error(), "HTTP 503");
    EXPECT_EQ(tqmovie_last_http_code(), 503);
}

// ---------------------------------------------------------------------------------
// Text pointers
// ---------------------------------------------------------------------------------

struct Held {
    const char *name;
    const char *ptr;
    std::string text;
};

// Every non-null text of record 1 (item 1) of list l, with a copy of its contents.
std::vector<Held> hold_texts(List l) {
    std::vector<Held> h;
    for (const TextI &g : kTextI)
        if (g.list == l && g.fn(1)) h.push_back({g.name, g.fn(1), g.fn(1)});
    for (const TextIJ &g : kTextIJ)
        if (g.list == l && g.fn(1, 1)) h.push_back({g.name, g.fn(1, 1), g.fn(1, 1)});
    return h;
}

TEST_F(Getters, TextPointersSurviveProbeCacheOperationsGettersAndExport) {
    for (List l : {List::Basic, List::Detail, List::Trans}) {
        SCOPED_TRACE(list_name(l));
        fill(l);
        const std::vector<Held> held = hold_texts(l);
        ASSERT_FALSE(held.empty());
        host.script(Reply::ok("true"));
        int32_t m = -1;
        EXPECT_EQ(tqmovie_is_movie("tt0111161", &m), TQMOVIE_OK);
        host.script(Reply::http(500));
        EXPECT_EQ(tqmovie_is_movie("tt0111161", &m), TQMOVIE_ERR_HTTP);
        EXPECT_EQ(tqmovie_is_movie(nullptr, &m), TQMOVIE_ERR_ARG);
        int32_t bf, df;
        (void)tqmovie_cache_has("ttB", &bf, &df);
        (void)tqmovie_cache_has("ttD", &bf, &df);
        tqmovie_cache_invalidate("ttB");
        tqmovie_cache_set_ttl(5, 5);
        tqmovie_cache_clear();
        tqmovie_cache_set_ttl(86400, 21600);
        for (const TextI &g : kTextI) (void)g.fn(0);
        for (const TextIJ &g : kTextIJ) (void)g.fn(1, 0);
        for (int32_t i = -1; i < 3; ++i) {
            std::free(tqmovie_basic_to_json(i));
            std::free(tqmovie_detail_to_json(i));
        }
        for (const Held &h : held) {
            SCOPED_TRACE(h.name);
            const char *now = nullptr;
            for (const TextI &g : kTextI)
                if (std::strcmp(g.name, h.name) == 0) now = g.fn(1);
            for (const TextIJ &g : kTextIJ)
                if (std::strcmp(g.name, h.name) == 0) now = g.fn(1, 1);
            EXPECT_EQ(now, h.ptr) << "the getter now points elsewhere";
            EXPECT_EQ(std::string(h.ptr), h.text) << "the text under the pointer changed";
        }
    }
}

// ---------------------------------------------------------------------------------
// Sample fixtures: what the getters read is what the fixture says
// ---------------------------------------------------------------------------------

struct Json {
    yyjson_doc *doc;
    yyjson_val *root;
    explicit Json(const std::string &text) : doc(yyjson_read(text.data(), text.size(), 0)) {
        root = doc ? yyjson_doc_get_root(doc) : nullptr;
        if (yyjson_is_arr(root)) root = yyjson_arr_get_first(root);
    }
    ~Json() { yyjson_doc_free(doc); }
    Json(const Json &) = delete;
    Json &operator=(const Json &) = delete;
};

const char *str_of(yyjson_val *o, const char *k) {
    yyjson_val *v = yyjson_obj_get(o, k);
    return yyjson_is_str(v) ? yyjson_get_str(v) : nullptr;
}

// A plain text field is read back as it stands in the fixture (absent when not a string).
void expect_text(const char *got, yyjson_val *obj, const char *key) {
    const char *want = str_of(obj, key);
    if (want)
        EXPECT_STREQ(got, want) << key;
    else
        EXPECT_EQ(got, nullptr) << key;
}

// A whole-number field is read back as it stands; absent reads as the marker.
void expect_int(int32_t got, yyjson_val *obj, const char *key, int32_t absent) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    if (yyjson_is_int(v)) {
        EXPECT_EQ(got, static_cast<int32_t>(yyjson_get_int(v))) << key;
    } else if (!v || yyjson_is_null(v)) {
        EXPECT_EQ(got, absent) << key;
    }
}

// A list of texts of record 0 is read back as the string elements of the array member.
void expect_texts(int32_t count, const char *(*at)(int32_t, int32_t), yyjson_val *obj, const char *key) {
    yyjson_val *arr = yyjson_obj_get(obj, key);
    if (!yyjson_is_arr(arr)) return;
    int32_t n = 0;
    size_t idx, max;
    yyjson_val *v;
    yyjson_arr_foreach(arr, idx, max, v) {
        if (yyjson_is_str(v)) {
            EXPECT_STREQ(at(0, n++), yyjson_get_str(v)) << key;
        }
    }
    EXPECT_EQ(count, n) << key;
}

class GettersFixture : public tqtest::FixtureBackendTest {};

TEST_F(GettersFixture, BasicFixturesReadBackAsTheirJson) {
    const auto ids = tqtest::fixture_ids(TQ_FIXTURES_DIR, "basic-");
    ASSERT_FALSE(ids.empty());
    for (const std::string &id : ids) {
        SCOPED_TRACE(id);
        Json j(fixture("basic-" + id + ".json"));
        ASSERT_TRUE(yyjson_is_obj(j.root));
        ASSERT_EQ(tqmovie_get_basic(id.c_str(), nullptr), TQMOVIE_OK) << tqmovie_last_error();
        expect_text(tqmovie_basic_title(0), j.root, "title");
        expect_text(tqmovie_basic_tagline(0), j.root, "tagLine");
        expect_text(tqmovie_basic_plot(0), j.root, "plot");
        expect_int(tqmovie_basic_id(0), j.root, "id", 0);
        expect_int(tqmovie_basic_year(0), j.root, "year", -1);
        expect_int(tqmovie_basic_duration(0), j.root, "duration", -1);
        yyjson_val *tv = yyjson_obj_get(j.root, "isTVShow");
        EXPECT_EQ(tqmovie_basic_is_tv(0), yyjson_is_bool(tv) ? (yyjson_get_bool(tv) ? 1 : 0) : -1);
        expect_texts(tqmovie_basic_directors_count(0), tqmovie_basic_director, j.root, "directors");
        yyjson_val *ratings = yyjson_obj_get(j.root, "ratings");
        if (yyjson_is_obj(ratings)) {
            EXPECT_EQ(tqmovie_basic_ratings_count(0), static_cast<int32_t>(yyjson_obj_size(ratings)));
            int32_t n = 0;
            size_t idx, max;
            yyjson_val *k, *v;
            yyjson_obj_foreach(ratings, idx, max, k, v) {
                EXPECT_STREQ(tqmovie_basic_rating_source(0, n), yyjson_get_str(k));
                if (yyjson_is_real(v)) {
                    EXPECT_EQ(tqmovie_basic_rating_value(0, n), yyjson_get_real(v));
                }
                ++n;
            }
        }
    }
}

// Elements of an array member that are objects, in order.
std::vector<yyjson_val *> objects(yyjson_val *obj, const char *key) {
    std::vector<yyjson_val *> out;
    yyjson_val *arr = yyjson_obj_get(obj, key);
    size_t idx, max;
    yyjson_val *v;
    if (yyjson_is_arr(arr)) yyjson_arr_foreach(arr, idx, max, v) if (yyjson_is_obj(v)) out.push_back(v);
    return out;
}

TEST_F(GettersFixture, DetailFixturesReadBackAsTheirJson) {
    const auto ids = tqtest::fixture_ids(TQ_FIXTURES_DIR, "detail-");
    ASSERT_FALSE(ids.empty());
    for (const std::string &id : ids) {
        SCOPED_TRACE(id);
        Json j(fixture("detail-" + id + ".json"));
        ASSERT_TRUE(yyjson_is_obj(j.root));
        ASSERT_EQ(tqmovie_get_detail(id.c_str(), nullptr, 0), TQMOVIE_OK) << tqmovie_last_error();
        expect_text(tqmovie_detail_title(0), j.root, "title");
        expect_text(tqmovie_detail_original_title(0), j.root, "originalTitle");
        expect_text(tqmovie_detail_plot(0), j.root, "plot");
        expect_text(tqmovie_detail_title_type(0), j.root, "titleType");
        expect_text(tqmovie_detail_trailer_url(0), j.root, "trailerUrl");
        expect_text(tqmovie_detail_extension1(0), j.root, "extension1");
        expect_text(tqmovie_detail_logo_base64(0), j.root, "logoBase64");
        expect_int(tqmovie_detail_id(0), j.root, "id", 0);
        expect_int(tqmovie_detail_start_year(0), j.root, "startYear", -1);
        expect_int(tqmovie_detail_end_year(0), j.root, "endYear", -1);
        expect_int(tqmovie_detail_runtime(0), j.root, "runtimeMinutes", -1);
        yyjson_val *r = yyjson_obj_get(j.root, "imDbRating");
        if (yyjson_is_real(r)) {
            EXPECT_EQ(tqmovie_detail_imdb_rating(0), yyjson_get_real(r));
        }
        if (!r || yyjson_is_null(r)) {
            EXPECT_TRUE(is_none_nan(tqmovie_detail_imdb_rating(0)));
        }

        const auto cast = objects(j.root, "casts");
        ASSERT_EQ(tqmovie_detail_cast_count(0), static_cast<int32_t>(cast.size()));
        for (int32_t k = 0; k < static_cast<int32_t>(cast.size()); ++k) {
            expect_text(tqmovie_detail_cast_name(0, k), cast[size_t(k)], "name");
            expect_text(tqmovie_detail_cast_role(0, k), cast[size_t(k)], "characterOrRole");
        }
        const auto pics = objects(j.root, "pictures");
        ASSERT_EQ(tqmovie_detail_picture_count(0), static_cast<int32_t>(pics.size()));
        for (int32_t k = 0; k < static_cast<int32_t>(pics.size()); ++k) {
            expect_text(tqmovie_detail_picture_item_url(0, k), pics[size_t(k)], "url");
            expect_int(tqmovie_detail_picture_item_w(0, k), pics[size_t(k)], "width", 0);
            expect_int(tqmovie_detail_picture_item_h(0, k), pics[size_t(k)], "height", 0);
        }
        const auto provs = objects(j.root, "watchProviders");
        ASSERT_EQ(tqmovie_detail_provider_count(0), static_cast<int32_t>(provs.size()));
        for (int32_t k = 0; k < static_cast<int32_t>(provs.size()); ++k) {
            expect_text(tqmovie_detail_provider_name(0, k), provs[size_t(k)], "providerName");
            expect_text(tqmovie_detail_provider_country(0, k), provs[size_t(k)], "countryCode");
            expect_text(tqmovie_detail_provider_id(0, k), provs[size_t(k)], "providerId");
            expect_int(tqmovie_detail_provider_priority(0, k), provs[size_t(k)], "displayPriority", 0);
        }
        const auto vids = objects(j.root, "videos");
        ASSERT_EQ(tqmovie_detail_video_count(0), static_cast<int32_t>(vids.size()));
        for (int32_t k = 0; k < static_cast<int32_t>(vids.size()); ++k) {
            expect_text(tqmovie_detail_video_key(0, k), vids[size_t(k)], "key");
            expect_text(tqmovie_detail_video_id(0, k), vids[size_t(k)], "id");
            expect_text(tqmovie_detail_video_lang(0, k), vids[size_t(k)], "iso_639_1");
            expect_text(tqmovie_detail_video_region(0, k), vids[size_t(k)], "iso_3166_1");
            expect_int(tqmovie_detail_video_size(0, k), vids[size_t(k)], "size", 0);
        }
        expect_texts(tqmovie_detail_related_count(0), tqmovie_detail_related_id, j.root, "relatedIMDbIds");
    }
}

TEST_F(GettersFixture, TranslationFixtureReadsBackAsItsJson) {
    const std::string text = fixture("translations-batch.json");
    yyjson_doc *doc = yyjson_read(text.data(), text.size(), 0);
    ASSERT_NE(doc, nullptr);
    const char *ids[] = {"tt0111161"};
    ASSERT_EQ(tqmovie_get_translations(ids, 1, nullptr, nullptr), TQMOVIE_OK);
    int32_t i = 0;
    size_t idx, max;
    yyjson_val *set;
    yyjson_arr_foreach(yyjson_doc_get_root(doc), idx, max, set) {
        if (!yyjson_is_obj(set)) continue;
        SCOPED_TRACE(i);
        expect_text(tqmovie_trans_imdb_id(i), set, "imDbId");
        const auto items = objects(set, "items");
        if (yyjson_obj_get(set, "items")) {
            EXPECT_EQ(tqmovie_trans_items_count(i), static_cast<int32_t>(items.size()));
            const std::pair<const char *(*)(int32_t, int32_t), const char *> fields[] = {
                {tqmovie_trans_item_title, "title"},
                {tqmovie_trans_item_lang, "iso_639_1"},
                {tqmovie_trans_item_directors, "directors"},
                {tqmovie_trans_item_actors, "actors"}};
            for (int32_t k = 0; k < static_cast<int32_t>(items.size()); ++k)
                for (const auto &[get, key] : fields)
                    if (str_of(items[size_t(k)], key)) expect_text(get(i, k), items[size_t(k)], key);
        }
        ++i;
    }
    EXPECT_EQ(tqmovie_trans_count(), i);
    yyjson_doc_free(doc);
}

// ---------------------------------------------------------------------------------
// The complete export reads back, through the decoders, as the same record: every
// getter of every record in the store gives the same value before and after.
// ---------------------------------------------------------------------------------

// Every getter value of record i of one list, as text.
std::string dump(List list, int32_t i) {
    std::string out;
    auto text = [&](const char *name, const char *v) { out += std::string(name) + "=" + (v ? v : "(null)") + "\n"; };
    auto num = [&](const char *name, double v) { out += std::string(name) + "=" + std::to_string(v) + "\n"; };
    for (const auto &g : kTextI)
        if (g.list == list) text(g.name, g.fn(i));
    for (const auto &g : kIntI)
        if (g.list == list) num(g.name, g.fn(i));
    for (const auto &g : kDblI)
        if (g.list == list) num(g.name, g.fn(i));
    for (const auto &g : kTextIJ)
        if (g.list == list)
            for (int32_t j = 0; j < g.inner(i); ++j) text(g.name, g.fn(i, j));
    for (const auto &g : kIntIJ)
        if (g.list == list)
            for (int32_t j = 0; j < g.inner(i); ++j) num(g.name, g.fn(i, j));
    for (const auto &g : kDblIJ)
        if (g.list == list)
            for (int32_t j = 0; j < g.inner(i); ++j) num(g.name, g.fn(i, j));
    return out;
}

struct RoundTrip {
    List list;
    int32_t (*count)();
    char *(*full)(int32_t);
    int32_t (*store)(const char *const *, size_t);
};

int32_t store_basics(const char *const *ids, size_t n) { return tqmovie_get_basics(ids, n); }
int32_t store_details(const char *const *ids, size_t n) { return tqmovie_get_details(ids, n, nullptr, 0); }
int32_t store_trans(const char *const *ids, size_t n) { return tqmovie_get_translations(ids, n, "de", "DE"); }

TEST_F(GettersFixture, CompleteExportReadsBackAsTheSameRecords) {
    std::vector<std::string> ids = tqtest::fixture_ids(TQ_FIXTURES_DIR, "detail-");
    std::vector<const char *> id_ptrs;
    for (const auto &id : ids) id_ptrs.push_back(id.c_str());
    const RoundTrip kinds[] = {{List::Basic, tqmovie_basic_count, tqmovie_basic_to_json_full, store_basics},
                               {List::Detail, tqmovie_detail_count, tqmovie_detail_to_json_full, store_details},
                               {List::Trans, tqmovie_trans_count, tqmovie_trans_to_json, store_trans}};
    for (const RoundTrip &k : kinds) {
        SCOPED_TRACE(list_name(k.list));
        install_fixtures();
        ASSERT_EQ(k.store(id_ptrs.data(), id_ptrs.size()), TQMOVIE_OK) << tqmovie_last_error();
        ASSERT_GE(k.count(), 8);
        std::vector<std::string> before;
        std::string answer = "[";
        for (int32_t i = 0; i < k.count(); ++i) {
            before.push_back(dump(k.list, i));
            char *json = k.full(i);
            ASSERT_NE(json, nullptr);
            answer += (i ? "," : "") + std::string(json);
            std::free(json);
        }
        HostBackend echo;
        echo.always(Reply::ok(answer + "]"));
        echo.install();
        tqmovie_cache_clear();
        ASSERT_EQ(k.store(id_ptrs.data(), 1), TQMOVIE_OK) << tqmovie_last_error();
        ASSERT_EQ(k.count(), static_cast<int32_t>(before.size()));
        for (int32_t i = 0; i < k.count(); ++i) EXPECT_EQ(dump(k.list, i), before[size_t(i)]) << i;
    }
}

// Whatever bytes a record holds, its complete export is valid JSON; C0 and C1 controls
// and quotes read back as they were, bytes that are not UTF-8 as U+FFFD.
TEST_F(Getters, CompleteExportOfAwkwardTextIsValidJson) {
    tq_basic rec{};
    rec.imdb_id = const_cast<char *>("tt1");
    rec.title = const_cast<char *>("q\"b\\ \x01\x1f \xc2\x85 \xe2\x80\xa8 ok \xff\xc3(\xed\xa0\x80 end");
    rec.year = rec.duration = rec.is_tv = -1;
    tq_cache_put_basic(&rec);
    ASSERT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_OK);
    char *json = tqmovie_basic_to_json_full(0);
    ASSERT_NE(json, nullptr);
    EXPECT_NE(std::strstr(json, "\\u0085"), nullptr) << json;
    const std::string wrapped = std::string("[") + json + "]";
    std::free(json);
    host.always(Reply::ok(wrapped));
    const char *ids[] = {"tt1"};
    ASSERT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_OK) << tqmovie_last_error() << wrapped;
    EXPECT_STREQ(
        tqmovie_basic_title(0),
        "q\"b\\ \x01\x1f \xc2\x85 \xe2\x80\xa8 ok \xef\xbf\xbd\xef\xbf\xbd(\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd end");
}

} // namespace
