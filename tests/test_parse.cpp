// SPDX-License-Identifier: MIT
// Decoders of the basic, detail and translation documents.
#include "tqmovie.h"

#include "alloc_fail.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Decoded output of one document decoder, released on scope exit.
struct basics {
    tq_basic *recs = nullptr;
    size_t n = 0;
    int32_t st = -1;
    basics(const std::string &body, int32_t expect_array = 0) {
        st = tq_parse_basic_doc(body.data(), body.size(), &recs, &n, expect_array);
    }
    ~basics() {
        for (size_t i = 0; i < n; ++i) tq_free_basic(&recs[i]);
        std::free(recs);
    }
    const tq_basic &one() const { return recs[0]; }
};

struct details {
    tq_detail *recs = nullptr;
    size_t n = 0;
    int32_t st = -1;
    details(const std::string &body, uint32_t sections = 0, int32_t expect_array = 0) {
        st = tq_parse_detail_doc(body.data(), body.size(), &recs, &n, expect_array, sections);
    }
    ~details() {
        for (size_t i = 0; i < n; ++i) tq_free_detail(&recs[i]);
        std::free(recs);
    }
    const tq_detail &one() const { return recs[0]; }
};

struct transs {
    tq_trans *sets = nullptr;
    size_t n = 0;
    int32_t st = -1;
    explicit transs(const std::string &body) { st = tq_parse_trans_doc(body.data(), body.size(), &sets, &n); }
    ~transs() {
        for (size_t i = 0; i < n; ++i) tq_free_trans(&sets[i]);
        std::free(sets);
    }
};

std::string str(const char *s) { return s ? std::string(s) : std::string("<null>"); }

std::vector<std::string> strs(char **arr, size_t n) {
    std::vector<std::string> v;
    for (size_t i = 0; i < n; ++i) v.push_back(str(arr[i]));
    return v;
}

// A basic object with one member under test.
std::string basic_with(const std::string &member) { return R"({"imDbId":"tt1",)" + member + "}"; }
std::string detail_with(const std::string &member) { return R"({"imDbId":"tt1",)" + member + "}"; }

const char *const kSentinel = "untouched";

const char *const kBasicBody = R"({
  "imDbId": "tt0111161", "title": "The Shawshank Redemption", "tagLine": "Fear can hold you prisoner.",
  "plot": "Two imprisoned men bond over a number of years.", "posterUrl": "https://img.example/p.jpg",
  "pictureUrl": "N/A", "id": 278, "year": 1994, "duration": 142, "isTVShow": false,
  "directors": ["Frank Darabont"], "genres": "Drama, Crime",
  "ratings": {"imDb": 9.3, "metacritic": 82, "rottenTomatoes": "91%"},
  "extra": {"ignored": [1, 2, 3]}
})";

const char *const kDetailBody = R"({
  "imDbId": "tt0903747", "title": "Breaking Bad", "originalTitle": "Breaking Bad", "tagLine": "Change.",
  "plot": "A chemistry teacher turns to crime.", "posterUrl": "n/a", "pictureUrl": "https://img.example/b.jpg",
  "titleType": "TVSeries", "genres": ["Crime", "Drama", "Thriller"], "directors": "Vince Gilligan",
  "trailerUrl": "N/A", "extension1": "x1", "logoBase64": "iVBORw0KGgo=", "id": 1396, "startYear": 2008,
  "endYear": 2013, "runtimeMinutes": 49, "isTVShow": true, "imDbRating": 9.5,
  "casts": [{"name": "Bryan Cranston", "idOrName": "nm0186505", "poster": "https://img.example/c.jpg",
             "characterOrRole": "Walter White", "birthday": "1956-03-07"},
            {"name": "Aaron Paul", "characterOrRole": "Jesse Pinkman"}],
  "relatedIMDbIds": ["tt1", "tt2"],
  "pictures": [{"language": "en", "url": "https://img.example/1.jpg", "width": 1920, "height": 1080}],
  "watchProviders": [{"countryCode": "US", "providerId": "8", "providerName": "Stream", "logoUrl": "https://l/1.png",
                      "watchType": "flatrate", "displayPriority": 3}],
  "videos": [{"id": "v1", "key": "HhesaQXLuRY", "name": "Trailer", "site": "YouTube", "type": "Trailer",
              "iso_639_1": "en", "iso_3166_1": "US", "size": 1080}]
})";

const char *const kTransBody = R"([
  {"imDbId": "tt0111161", "items": [
    {"title": "肖申克的救赎", "tagLine": "恐惧让你沦为囚犯", "plot": "两个被囚禁的男人", "directors": "弗兰克·德拉邦特",
     "actors": "蒂姆·罗宾斯", "iso_639_1": "zh", "iso_3166_1": "CN"},
    {"Title": "刺激1995", "ISO_639_1": "zh", "ISO_3166_1": "TW"}]},
  {"IMDbId": "tt0068646", "Items": [{"title": "教父"}]}
])";

// ----------------------------------------------------------------------------
// Document failure tables
// ----------------------------------------------------------------------------

struct doc_case {
    const char *body; // NULL: NULL body
    size_t len;       // 0: measured
    int32_t expect_array;
    int32_t status;
    const char *err; // NULL: error text untouched
    bool handed_out;
    size_t count;
};

const doc_case kRecordDocCases[] = {
    {nullptr, 0, 0, TQMOVIE_ERR_EMPTY, "empty body", false, 0},
    {"", 0, 0, TQMOVIE_ERR_PARSE, "yyjson parse failed", false, 0},
    {"{\"title\":\"T\"}", 0, 0, TQMOVIE_OK, nullptr, true, 1},
    {"{\"title\":\"T\"} x", 0, 0, TQMOVIE_ERR_PARSE, "yyjson parse failed", false, 0},
    {"[{\"title\":\"T\"},]", 0, 1, TQMOVIE_ERR_PARSE, "yyjson parse failed", false, 0},
    {"{\"title\":\"T\" /* c */}", 0, 0, TQMOVIE_ERR_PARSE, "yyjson parse failed", false, 0},
    {"[NaN]", 0, 1, TQMOVIE_ERR_PARSE, "yyjson parse failed", false, 0},
    {"[\"\xff\"]", 0, 1, TQMOVIE_ERR_PARSE, "yyjson parse failed", false, 0},
    {"null", 0, 0, TQMOVIE_ERR_EMPTY, nullptr, false, 0},
    {"null", 0, 1, TQMOVIE_ERR_EMPTY, nullptr, false, 0},
    {"[]", 0, 0, TQMOVIE_ERR_EMPTY, nullptr, true, 0},
    {"[null, 5, \"x\", true]", 0, 1, TQMOVIE_ERR_EMPTY, nullptr, true, 0},
    {"[null, 5, {\"title\":\"A\"}, {}]", 0, 1, TQMOVIE_OK, nullptr, true, 2},
    {"{\"title\":\"T\"}", 0, 1, TQMOVIE_ERR_PARSE, "expected JSON array", false, 0},
    {"5", 0, 1, TQMOVIE_ERR_PARSE, "expected JSON array", false, 0},
    {"\"s\"", 0, 1, TQMOVIE_ERR_PARSE, "expected JSON array", false, 0},
    {"5", 0, 0, TQMOVIE_ERR_PARSE, "unexpected JSON root type", false, 0},
    {"\"s\"", 0, 0, TQMOVIE_ERR_PARSE, "unexpected JSON root type", false, 0},
    {"false", 0, 0, TQMOVIE_ERR_PARSE, "unexpected JSON root type", false, 0},
    {"{}", 0, 0, TQMOVIE_ERR_EMPTY, nullptr, false, 0},
    {"{\"plot\":\"only a plot\"}", 0, 0, TQMOVIE_ERR_EMPTY, nullptr, false, 0},
    {"{\"imdbId\":\"tt9\"}", 0, 0, TQMOVIE_OK, nullptr, true, 1},
    // An explicit length cuts the body: only the first value is read.
    {"[{\"title\":\"T\"}]garbage", 15, 1, TQMOVIE_OK, nullptr, true, 1},
};

// Runs decode over a table of bodies: status, error text (or the sentinel left alone)
// and outputs as listed; whatever was handed out is released.
template <typename Rec, typename Decode, typename Release>
void check_status_table(const doc_case *cases, size_t ncases, Decode decode, Release release) {
    for (size_t i = 0; i < ncases; ++i) {
        const doc_case &c = cases[i];
        SCOPED_TRACE(str(c.body) + " expect_array=" + std::to_string(c.expect_array));
        tq_set_err("%s", kSentinel);
        Rec *recs = reinterpret_cast<Rec *>(1);
        size_t n = 99;
        EXPECT_EQ(decode(c, &recs, &n), c.status);
        EXPECT_STREQ(tqmovie_last_error(), c.err ? c.err : kSentinel);
        EXPECT_EQ(recs != nullptr, c.handed_out);
        EXPECT_EQ(n, c.count);
        for (size_t k = 0; k < n; ++k) release(&recs[k]);
        std::free(recs);
    }
}

TEST(Parse, BasicDocumentStatusTable) {
    check_status_table<tq_basic>(
        kRecordDocCases, std::size(kRecordDocCases),
        [](const doc_case &c, tq_basic **o, size_t *n) {
            return tq_parse_basic_doc(c.body, c.len, o, n, c.expect_array);
        },
        tq_free_basic);
}

TEST(Parse, DetailDocumentStatusTable) {
    check_status_table<tq_detail>(
        kRecordDocCases, std::size(kRecordDocCases),
        [](const doc_case &c, tq_detail **o, size_t *n) {
            return tq_parse_detail_doc(c.body, c.len, o, n, c.expect_array, 0);
        },
        tq_free_detail);
}

TEST(Parse, TransDocumentStatusTable) {
    const doc_case cases[] = {
        {nullptr, 0, 0, TQMOVIE_ERR_EMPTY, "empty body", false, 0},
        {"", 0, 0, TQMOVIE_ERR_PARSE, "yyjson parse failed", false, 0},
        {"[1,]", 0, 0, TQMOVIE_ERR_PARSE, "yyjson parse failed", false, 0},
        {"null", 0, 0, TQMOVIE_ERR_EMPTY, nullptr, false, 0},
        {"[]", 0, 0, TQMOVIE_ERR_EMPTY, nullptr, true, 0},
        {"[5, \"x\"]", 0, 0, TQMOVIE_ERR_EMPTY, nullptr, true, 0},
        {"[{}, 5, {}]", 0, 0, TQMOVIE_OK, nullptr, true, 2},
        {"{\"imDbId\":\"tt1\",\"items\":[{\"title\":\"T\"}]}", 0, 0, TQMOVIE_ERR_EMPTY, nullptr, true, 0},
        {"\"s\"", 0, 0, TQMOVIE_ERR_PARSE, "expected translations array", false, 0},
        {"12", 0, 0, TQMOVIE_ERR_PARSE, "expected translations array", false, 0},
        {"true", 0, 0, TQMOVIE_ERR_PARSE, "expected translations array", false, 0},
    };
    check_status_table<tq_trans>(
        cases, std::size(cases),
        [](const doc_case &c, tq_trans **o, size_t *n) { return tq_parse_trans_doc(c.body, c.len, o, n); },
        tq_free_trans);

    // The set handed out for an object root is zero-filled: the object is not decoded.
    transs obj(R"({"imDbId":"tt1","items":[{"title":"T"}]})");
    ASSERT_NE(obj.sets, nullptr);
    EXPECT_EQ(obj.sets[0].imdb_id, nullptr);
    EXPECT_EQ(obj.sets[0].items, nullptr);
}

// ----------------------------------------------------------------------------
// Basic records
// ----------------------------------------------------------------------------

TEST(Parse, BasicRealisticBodyFillsEveryField) {
    basics b(kBasicBody);
    ASSERT_EQ(b.st, TQMOVIE_OK);
    ASSERT_EQ(b.n, 1u);
    const tq_basic &r = b.one();
    EXPECT_STREQ(r.imdb_id, "tt0111161");
    EXPECT_STREQ(r.title, "The Shawshank Redemption");
    EXPECT_STREQ(r.tagline, "Fear can hold you prisoner.");
    EXPECT_STREQ(r.plot, "Two imprisoned men bond over a number of years.");
    EXPECT_STREQ(r.poster_url, "https://img.example/p.jpg");
    EXPECT_STREQ(r.picture_url, "");
    EXPECT_EQ(r.id, 278);
    EXPECT_EQ(r.year, 1994);
    EXPECT_EQ(r.duration, 142);
    EXPECT_EQ(r.is_tv, 0);
    EXPECT_EQ(strs(r.directors, r.directors_count), std::vector<std::string>{"Frank Darabont"});
    EXPECT_EQ(strs(r.genres, r.genres_count), (std::vector<std::string>{"Drama", "Crime"}));
    ASSERT_EQ(r.ratings_count, 3u);
    EXPECT_STREQ(r.ratings[0].source, "imDb");
    EXPECT_DOUBLE_EQ(r.ratings[0].value, 9.3);
    EXPECT_STREQ(r.ratings[1].source, "metacritic");
    EXPECT_DOUBLE_EQ(r.ratings[1].value, 82.0);
    EXPECT_STREQ(r.ratings[2].source, "rottenTomatoes");
    EXPECT_DOUBLE_EQ(r.ratings[2].value, 0.0);
}

TEST(Parse, AbsentFieldsKeepEmptyValues) {
    basics b(R"({"title":"T"})");
    ASSERT_EQ(b.st, TQMOVIE_OK);
    const tq_basic &r = b.one();
    EXPECT_EQ(r.imdb_id, nullptr);
    EXPECT_EQ(r.id, 0);
    EXPECT_EQ(r.year, -1);
    EXPECT_EQ(r.duration, -1);
    EXPECT_EQ(r.is_tv, -1);
    EXPECT_EQ(r.directors, nullptr);
    EXPECT_EQ(r.genres, nullptr);
    EXPECT_EQ(r.ratings, nullptr);

    details d(R"({"title":"T"})");
    ASSERT_EQ(d.st, TQMOVIE_OK);
    EXPECT_EQ(d.one().start_year, -1);
    EXPECT_EQ(d.one().end_year, -1);
    EXPECT_EQ(d.one().runtime, -1);
    EXPECT_EQ(d.one().is_tv, -1);
    EXPECT_TRUE(std::isnan(d.one().imdb_rating));
}

TEST(Parse, ImdbIdAliasesTriedInOrderUntilAString) {
    const struct {
        const char *body;
        const char *want;
    } cases[] = {
        {R"({"imDbId":"a","IMDbId":"b","imdbId":"c"})", "a"},
        {R"({"imDbId":null,"imdbId":"tt1"})", "tt1"},
        {R"({"imDbId":5,"IMDbId":"tt2"})", "tt2"},
        {R"({"IMDbId":["x"],"imdbId":"tt3"})", "tt3"},
        {R"({"imdbid":"lower","title":"T"})", nullptr}, // keys are case-sensitive
        {R"({"imDbId":"first","imDbId":"second"})", "first"},
        {R"({"imDbId":1,"imDbId":"second","imdbId":"third"})", "third"}, // the first member decides
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        basics b(c.body);
        ASSERT_EQ(b.st, TQMOVIE_OK);
        EXPECT_EQ(str(b.one().imdb_id), str(c.want));
        details d(c.body);
        ASSERT_EQ(d.st, TQMOVIE_OK);
        EXPECT_EQ(str(d.one().imdb_id), str(c.want));
    }
}

TEST(Parse, NotAvailableImageBecomesEmptyString) {
    const struct {
        const char *value;
        const char *want;
    } cases[] = {
        {R"("N/A")", ""},
        {R"("n/a")", ""},
        {R"("NA")", "NA"},
        {R"("N/A ")", "N/A "},
        {R"("not available")", "not available"},
        {R"("n/A")", "n/A"},
        {"null", nullptr},
        {"7", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        basics b(basic_with(std::string("\"posterUrl\":") + c.value + ",\"pictureUrl\":" + c.value));
        ASSERT_EQ(b.st, TQMOVIE_OK);
        EXPECT_EQ(str(b.one().poster_url), str(c.want));
        EXPECT_EQ(str(b.one().picture_url), str(c.want));
        details d(detail_with(std::string("\"posterUrl\":") + c.value + ",\"pictureUrl\":" + c.value));
        ASSERT_EQ(d.st, TQMOVIE_OK);
        EXPECT_EQ(str(d.one().poster_url), str(c.want));
        EXPECT_EQ(str(d.one().picture_url), str(c.want));
    }
}

TEST(Parse, IntegerFieldsTakeLowBitsOrTruncate) {
    const struct {
        const char *value;
        int32_t want;
    } cases[] = {
        {"1994", 1994},
        {"\"1994\"", -1},
        {"null", -1},
        {"true", -1},
        {"1994.9", 1994},
        {"-0.5", 0},
        {"-7.9", -7},
        {"3000000000", -1294967296},
        {"4294967296", 0},
        {"4294967297", 1},
        {"-1", -1},
        {"-3000000000", 1294967296},
        {"-9223372036854775808", 0},
        {"18446744073709551615", -1},
        {"1e10", INT32_MIN},
        {"-1e10", INT32_MIN},
        {"2147483647.9", 2147483647},
        {"-2147483648.9", INT32_MIN},
        {"2147483648.0", INT32_MIN},
        {"1e308", INT32_MIN},
        {"18446744073709551616", INT32_MIN}, // past 64 bits: read as a real
        {"2e2", 200},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        basics b(basic_with(std::string("\"year\":") + c.value));
        ASSERT_EQ(b.st, TQMOVIE_OK);
        EXPECT_EQ(b.one().year, c.want);
        details d(detail_with(std::string("\"runtimeMinutes\":") + c.value));
        ASSERT_EQ(d.st, TQMOVIE_OK);
        EXPECT_EQ(d.one().runtime, c.want);
    }
}

TEST(Parse, IsTvShowReadsOnlyBooleans) {
    const struct {
        const char *value;
        int32_t want;
    } cases[] = {{"true", 1}, {"false", 0}, {"1", -1}, {"\"true\"", -1}, {"null", -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        basics b(basic_with(std::string("\"isTVShow\":") + c.value));
        EXPECT_EQ(b.one().is_tv, c.want);
        details d(detail_with(std::string("\"isTVShow\":") + c.value));
        EXPECT_EQ(d.one().is_tv, c.want);
    }
}

TEST(Parse, DirectorsArrayOrSingleString) {
    const struct {
        const char *value;
        std::vector<std::string> want;
        bool list;
    } cases[] = {
        {R"("A, B")", {"A, B"}, true}, {R"("")", {""}, true},      {R"(["A", 7, "B"])", {"A", "B"}, true},
        {R"([])", {}, false},          {R"([1, null])", {}, true}, // array kept with no elements
        {"null", {}, false},           {"{}", {}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        basics b(basic_with(std::string("\"directors\":") + c.value));
        ASSERT_EQ(b.st, TQMOVIE_OK);
        EXPECT_EQ(b.one().directors != nullptr, c.list);
        EXPECT_EQ(strs(b.one().directors, b.one().directors_count), c.want);
    }
}

TEST(Parse, GenresStringSplitsAtCommas) {
    const struct {
        const char *value;
        std::vector<std::string> want;
    } cases[] = {
        {R"("Drama, Crime")", {"Drama", "Crime"}},
        {R"("Drama,,Crime")", {"Drama", "", "Crime"}},
        {R"("Drama,")", {"Drama"}},
        {R"("Drama, ")", {"Drama", ""}},
        {R"("  Drama ,Crime  ")", {"Drama", "Crime"}},
        {R"(" , ")", {"", ""}},
        {R"(",")", {""}},
        {R"("\tDrama\t, Crime")", {"\tDrama\t", "Crime"}}, // only spaces are trimmed
        {R"("a,b,c,d,e,f,g,h,i,j")", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
        {R"("")", {}},
        {"null", {}},
        {R"(["Drama", 5, "Crime"])", {"Drama", "Crime"}},
        {R"("Dr\u0000ama, Crime")", {"Dr"}}, // the text ends at an embedded NUL
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        basics b(basic_with(std::string("\"genres\":") + c.value));
        ASSERT_EQ(b.st, TQMOVIE_OK);
        EXPECT_EQ(strs(b.one().genres, b.one().genres_count), c.want);
    }
}

TEST(Parse, RatingsOneEntryPerMemberInOrder) {
    basics b(basic_with(R"("ratings":{"imDb":8.1,"metacritic":74,"x":"7","y":null,"z":[1],"big":4294967301})"));
    const tq_basic &r = b.one();
    ASSERT_EQ(r.ratings_count, 6u);
    const char *src[] = {"imDb", "metacritic", "x", "y", "z", "big"};
    const double val[] = {8.1, 74.0, 0.0, 0.0, 0.0, 5.0};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_STREQ(r.ratings[i].source, src[i]);
        EXPECT_DOUBLE_EQ(r.ratings[i].value, val[i]);
    }

    basics arr(basic_with(R"("ratings":[{"imDb":8.1}])"));
    EXPECT_EQ(arr.one().ratings, nullptr);
    EXPECT_EQ(arr.one().ratings_count, 0u);

    basics empty(basic_with(R"("ratings":{})"));
    EXPECT_EQ(empty.one().ratings_count, 0u);
}

TEST(Parse, FirstMemberWithKeyDecidesEvenWithWrongType) {
    basics b(R"({"imDbId":"tt1","title":5,"title":"second","year":"x","year":2000})");
    ASSERT_EQ(b.st, TQMOVIE_OK);
    EXPECT_EQ(b.one().title, nullptr);
    EXPECT_EQ(b.one().year, -1);

    // Nested keys of the same name do not count as members of the outer object.
    basics nested(R"({"extra":{"title":"inner"},"title":"outer"})");
    EXPECT_STREQ(nested.one().title, "outer");
}

TEST(Parse, KeysDifferingInOneByteDoNotMatch) {
    details d(R"({"tiTle":"x","imDBId":"x","originalTiTle":"x","runtimeMinUtes":5,"isTVshow":true,
                  "pictures":[{"uRl":"x","Width":5}],"videos":[{"kEy":"x","iD":"x","sizE":1}]})");
    ASSERT_EQ(d.st, TQMOVIE_ERR_EMPTY); // neither id nor title was found
    details arr(R"([{"tiTle":"x","originalTiTle":"x","runtimeMinUtes":5,"isTVshow":true,
                     "pictures":[{"uRl":"x","Width":5}],"videos":[{"kEy":"x","iD":"x","sizE":1}]}])");
    ASSERT_EQ(arr.n, 1u);
    const tq_detail &r = arr.one();
    EXPECT_EQ(r.title, nullptr);
    EXPECT_EQ(r.original_title, nullptr);
    EXPECT_EQ(r.runtime, -1);
    EXPECT_EQ(r.is_tv, -1);
    ASSERT_EQ(r.picture_count, 1u);
    EXPECT_EQ(r.pictures[0].url, nullptr);
    EXPECT_EQ(r.pictures[0].width, 0);
    ASSERT_EQ(r.video_count, 1u);
    EXPECT_EQ(r.videos[0].key, nullptr);
    EXPECT_EQ(r.videos[0].id, nullptr);
    EXPECT_EQ(r.videos[0].size, 0);
}

TEST(Parse, StringsStopAtEmbeddedNul) {
    basics b(R"({"title":"ab\u0000cd","ratings":{"k\u0000ey":1}})");
    ASSERT_EQ(b.st, TQMOVIE_OK);
    EXPECT_STREQ(b.one().title, "ab");
    EXPECT_STREQ(b.one().ratings[0].source, "k");
    // A key with an embedded NUL is not the key without it.
    basics k(R"({"title\u0000x":"no","title":"yes"})");
    EXPECT_STREQ(k.one().title, "yes");
}

TEST(Parse, ArrayRootKeepsRecordsWithoutIdOrTitle) {
    basics b(R"([null, 5, {"title":"A","year":2001}, {}])", 1);
    ASSERT_EQ(b.st, TQMOVIE_OK);
    ASSERT_EQ(b.n, 2u);
    EXPECT_STREQ(b.recs[0].title, "A");
    EXPECT_EQ(b.recs[0].year, 2001);
    EXPECT_EQ(b.recs[1].title, nullptr);
    EXPECT_EQ(b.recs[1].year, -1); // an empty record, not zero-filled storage
    EXPECT_EQ(b.recs[1].is_tv, -1);

    basics single(R"([{"imDbId":"tt1"}])", 0); // an array root is accepted without expect_array
    EXPECT_EQ(single.st, TQMOVIE_OK);
    EXPECT_EQ(single.n, 1u);
}

TEST(Parse, ObjectDecodersRejectNonObjectsAndResetOutput) {
    tq_basic b;
    std::memset(&b, 0x55, sizeof b);
    EXPECT_EQ(tq_parse_basic_obj(nullptr, &b), -1);
    EXPECT_EQ(b.title, nullptr);
    EXPECT_EQ(b.year, -1);

    yyjson_doc *doc = yyjson_read("[1]", 3, 0);
    tq_detail d;
    std::memset(&d, 0x55, sizeof d);
    EXPECT_EQ(tq_parse_detail_obj(yyjson_doc_get_root(doc), &d, 0), -1);
    EXPECT_EQ(d.cast, nullptr);
    EXPECT_TRUE(std::isnan(d.imdb_rating));
    yyjson_doc_free(doc);

    const char *obj = R"({"title":"T","genres":"A,B"})";
    doc = yyjson_read(obj, std::strlen(obj), 0);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(tq_parse_basic_obj(yyjson_doc_get_root(doc), &b), 0);
    yyjson_doc_free(doc); // the record owns copies: it outlives the document
    EXPECT_STREQ(b.title, "T");
    EXPECT_EQ(strs(b.genres, b.genres_count), (std::vector<std::string>{"A", "B"}));
    tq_free_basic(&b);
}

// ----------------------------------------------------------------------------
// Detail records
// ----------------------------------------------------------------------------

TEST(Parse, DetailRealisticBodyFillsEveryField) {
    details d(kDetailBody);
    ASSERT_EQ(d.st, TQMOVIE_OK);
    ASSERT_EQ(d.n, 1u);
    const tq_detail &r = d.one();
    EXPECT_STREQ(r.imdb_id, "tt0903747");
    EXPECT_STREQ(r.title, "Breaking Bad");
    EXPECT_STREQ(r.original_title, "Breaking Bad");
    EXPECT_STREQ(r.tagline, "Change.");
    EXPECT_STREQ(r.plot, "A chemistry teacher turns to crime.");
    EXPECT_STREQ(r.poster_url, "");
    EXPECT_STREQ(r.picture_url, "https://img.example/b.jpg");
    EXPECT_STREQ(r.title_type, "TVSeries");
    EXPECT_STREQ(r.genres, "Crime, Drama, Thriller");
    EXPECT_STREQ(r.directors, "Vince Gilligan");
    EXPECT_STREQ(r.trailer_url, "N/A"); // no N/A rule for trailers
    EXPECT_STREQ(r.extension1, "x1");
    EXPECT_STREQ(r.logo_base64, "iVBORw0KGgo=");
    EXPECT_EQ(r.id, 1396);
    EXPECT_EQ(r.start_year, 2008);
    EXPECT_EQ(r.end_year, 2013);
    EXPECT_EQ(r.runtime, 49);
    EXPECT_EQ(r.is_tv, 1);
    EXPECT_DOUBLE_EQ(r.imdb_rating, 9.5);
    ASSERT_EQ(r.cast_count, 2u);
    EXPECT_STREQ(r.cast[0].name, "Bryan Cranston");
    EXPECT_STREQ(r.cast[0].id, "nm0186505");
    EXPECT_STREQ(r.cast[0].poster, "https://img.example/c.jpg");
    EXPECT_STREQ(r.cast[0].role, "Walter White");
    EXPECT_STREQ(r.cast[0].birthday, "1956-03-07");
    EXPECT_EQ(r.cast[1].id, nullptr);
    EXPECT_STREQ(r.cast[1].role, "Jesse Pinkman");
    EXPECT_EQ(strs(r.related, r.related_count), (std::vector<std::string>{"tt1", "tt2"}));
    ASSERT_EQ(r.picture_count, 1u);
    EXPECT_STREQ(r.pictures[0].language, "en");
    EXPECT_EQ(r.pictures[0].width, 1920);
    EXPECT_EQ(r.pictures[0].height, 1080);
    ASSERT_EQ(r.provider_count, 1u);
    EXPECT_STREQ(r.providers[0].country, "US");
    EXPECT_STREQ(r.providers[0].provider_id, "8");
    EXPECT_STREQ(r.providers[0].name, "Stream");
    EXPECT_STREQ(r.providers[0].logo, "https://l/1.png");
    EXPECT_STREQ(r.providers[0].type, "flatrate");
    EXPECT_EQ(r.providers[0].display_priority, 3);
    ASSERT_EQ(r.video_count, 1u);
    EXPECT_STREQ(r.videos[0].id, "v1");
    EXPECT_STREQ(r.videos[0].key, "HhesaQXLuRY");
    EXPECT_STREQ(r.videos[0].name, "Trailer");
    EXPECT_STREQ(r.videos[0].site, "YouTube");
    EXPECT_STREQ(r.videos[0].type, "Trailer");
    EXPECT_STREQ(r.videos[0].lang, "en");
    EXPECT_STREQ(r.videos[0].region, "US");
    EXPECT_EQ(r.videos[0].size, 1080);
}

TEST(Parse, DetailListsJoinedWithCommaSpace) {
    const struct {
        const char *value;
        const char *want;
    } cases[] = {
        {R"(["Drama", "Crime"])", "Drama, Crime"},
        {R"(["Drama", 5, "Crime"])", "Drama, Crime"},
        {R"([])", ""},
        {R"([1, null, {}])", ""},
        {R"("Drama")", "Drama"},
        {R"("")", ""},
        {"null", nullptr},
        {"5", nullptr},
        {R"(["", "A"])", "A"},
        {R"(["A", "", "B"])", "A, , B"},
        {R"(["A\u0000x", "B"])", "A, B"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        details d(detail_with(std::string("\"genres\":") + c.value + ",\"directors\":" + c.value));
        ASSERT_EQ(d.st, TQMOVIE_OK);
        EXPECT_EQ(str(d.one().genres), str(c.want));
        EXPECT_EQ(str(d.one().directors), str(c.want));
    }
}

TEST(Parse, DetailRatingRealIntegerOrNaN) {
    const struct {
        const char *value;
        double want; // NaN: stays empty
    } cases[] = {
        {"8.3", 8.3}, {"8", 8.0}, {"\"8.3\"", NAN}, {"null", NAN}, {"4294967304", 8.0}, {"-1", -1.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        details d(detail_with(std::string("\"imDbRating\":") + c.value));
        if (std::isnan(c.want)) {
            uint64_t bits;
            std::memcpy(&bits, &d.one().imdb_rating, sizeof bits);
            EXPECT_EQ(bits, 0x7FF8000000000000ull);
        } else {
            EXPECT_DOUBLE_EQ(d.one().imdb_rating, c.want);
        }
    }
}

TEST(Parse, DetailSectionMaskSelectsLists) {
    const struct {
        uint32_t mask;
        bool cast, pictures, providers, videos;
    } cases[] = {
        {0, true, true, true, true},
        {TQMOVIE_DETAIL_ALL, true, true, true, true},
        {TQMOVIE_DETAIL_CAST, true, false, false, false},
        {TQMOVIE_DETAIL_PICTURES, false, true, false, false},
        {TQMOVIE_DETAIL_PROVIDERS, false, false, true, false},
        {TQMOVIE_DETAIL_VIDEOS, false, false, false, true},
        {TQMOVIE_DETAIL_PICTURES | TQMOVIE_DETAIL_VIDEOS, false, true, false, true},
        {16, false, false, false, false},
        {256 | TQMOVIE_DETAIL_CAST, true, false, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mask);
        details d(kDetailBody, c.mask);
        ASSERT_EQ(d.st, TQMOVIE_OK);
        const tq_detail &r = d.one();
        EXPECT_EQ(r.cast_count, c.cast ? 2u : 0u);
        EXPECT_EQ(r.related_count, c.cast ? 2u : 0u);
        EXPECT_EQ(r.cast != nullptr, c.cast);
        EXPECT_EQ(r.related != nullptr, c.cast);
        EXPECT_EQ(r.picture_count, c.pictures ? 1u : 0u);
        EXPECT_EQ(r.provider_count, c.providers ? 1u : 0u);
        EXPECT_EQ(r.video_count, c.videos ? 1u : 0u);
        EXPECT_STREQ(r.title, "Breaking Bad"); // strings and scalars belong to no section
        EXPECT_EQ(r.runtime, 49);
    }
}

TEST(Parse, DetailListsKeepOnlyObjectElements) {
    const struct {
        const char *value;
        size_t count;
        bool allocated;
    } cases[] = {
        {R"([{"name":"A"}, "x", {"name":"B"}])", 2, true},
        {R"([])", 0, false},
        {R"({"name":"A"})", 0, false},
        {R"([1, 2])", 0, true},
        {"null", 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        details d(detail_with(std::string("\"casts\":") + c.value));
        EXPECT_EQ(d.one().cast_count, c.count);
        EXPECT_EQ(d.one().cast != nullptr, c.allocated);
    }
    details d(detail_with(R"("casts":[{"name":"A"}, "x", {"name":"B"}])"));
    EXPECT_STREQ(d.one().cast[0].name, "A");
    EXPECT_STREQ(d.one().cast[1].name, "B");
}

TEST(Parse, ProviderLogoFallsBackToMyProperty) {
    details d(detail_with(R"("watchProviders":[
        {"logoUrl":null,"myProperty":"L"},
        {"logoUrl":"U","myProperty":"L"},
        {"providerId":8,"myProperty":5},
        {"displayPriority":2.9}])"));
    ASSERT_EQ(d.one().provider_count, 4u);
    EXPECT_STREQ(d.one().providers[0].logo, "L");
    EXPECT_STREQ(d.one().providers[1].logo, "U");
    EXPECT_EQ(d.one().providers[2].provider_id, nullptr);
    EXPECT_EQ(d.one().providers[2].logo, nullptr);
    EXPECT_EQ(d.one().providers[3].display_priority, 2);
}

TEST(Parse, VideoNumericIdIsDropped) {
    details d(detail_with(R"("videos":[{"id":123,"size":1080,"key":"k"}])"));
    ASSERT_EQ(d.one().video_count, 1u);
    EXPECT_EQ(d.one().videos[0].id, nullptr);
    EXPECT_EQ(d.one().videos[0].size, 1080);
    EXPECT_STREQ(d.one().videos[0].key, "k");
}

TEST(Parse, RelatedIdsKeepOnlyStrings) {
    details arr(detail_with(R"("relatedIMDbIds":["tt1", 2, "tt3"])"));
    EXPECT_EQ(strs(arr.one().related, arr.one().related_count), (std::vector<std::string>{"tt1", "tt3"}));
    details s(detail_with(R"("relatedIMDbIds":"tt1")"));
    EXPECT_EQ(s.one().related, nullptr);
    EXPECT_EQ(s.one().related_count, 0u);
}

TEST(Parse, DetailArrayRootDecodesEachElementWithMask) {
    details d(R"([{"imDbId":"tt1","videos":[{}],"casts":[{}]}, null, {"title":"B"}])", TQMOVIE_DETAIL_VIDEOS, 1);
    ASSERT_EQ(d.st, TQMOVIE_OK);
    ASSERT_EQ(d.n, 2u);
    EXPECT_EQ(d.recs[0].video_count, 1u);
    EXPECT_EQ(d.recs[0].cast_count, 0u);
    EXPECT_STREQ(d.recs[1].title, "B");
    EXPECT_TRUE(std::isnan(d.recs[1].imdb_rating));
}

// ----------------------------------------------------------------------------
// Translation sets
// ----------------------------------------------------------------------------

TEST(Parse, TransRealisticBody) {
    transs t(kTransBody);
    ASSERT_EQ(t.st, TQMOVIE_OK);
    ASSERT_EQ(t.n, 2u);
    EXPECT_STREQ(t.sets[0].imdb_id, "tt0111161");
    ASSERT_EQ(t.sets[0].items_count, 2u);
    const tq_trans_item &a = t.sets[0].items[0];
    EXPECT_STREQ(a.title, "肖申克的救赎");
    EXPECT_STREQ(a.tagline, "恐惧让你沦为囚犯");
    EXPECT_STREQ(a.plot, "两个被囚禁的男人");
    EXPECT_STREQ(a.directors, "弗兰克·德拉邦特");
    EXPECT_STREQ(a.actors, "蒂姆·罗宾斯");
    EXPECT_STREQ(a.lang, "zh");
    EXPECT_STREQ(a.region, "CN");
    const tq_trans_item &b = t.sets[0].items[1];
    EXPECT_STREQ(b.title, "刺激1995");
    EXPECT_STREQ(b.lang, "zh");
    EXPECT_STREQ(b.region, "TW");
    EXPECT_EQ(b.plot, nullptr);
    EXPECT_STREQ(t.sets[1].imdb_id, "tt0068646");
    ASSERT_EQ(t.sets[1].items_count, 1u);
    EXPECT_STREQ(t.sets[1].items[0].title, "教父");
}

TEST(Parse, TransItemFieldFallsBackToCapitalisedKey) {
    const struct {
        const char *item;
        const char *title;
    } cases[] = {
        {R"({"Title":"T"})", "T"},       {R"({"title":null,"Title":"T"})", "T"}, {R"({"title":"t","Title":"T"})", "t"},
        {R"({"title":["a"]})", nullptr}, {R"({"title":3,"Title":4})", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        transs t(std::string(R"([{"imDbId":"tt1","items":[)") + c.item + "]}]");
        ASSERT_EQ(t.sets[0].items_count, 1u);
        EXPECT_EQ(str(t.sets[0].items[0].title), str(c.title));
    }
    transs d(R"([{"items":[{"directors":["a","b"]}]}])");
    EXPECT_EQ(d.sets[0].items[0].directors, nullptr);
}

TEST(Parse, TransItemsMemberChoice) {
    const struct {
        const char *set;
        size_t count;
        const char *first_title;
    } cases[] = {
        {R"({"Items":[{"title":"U"}]})", 1, "U"},
        {R"({"items":[{"title":"l"}],"Items":[{"title":"U"}]})", 1, "l"},
        {R"({"items":{"title":"l"},"Items":[{"title":"U"}]})", 0, nullptr},
        {R"({"items":null,"Items":[{"title":"U"}]})", 0, nullptr},
        {R"({"items":[]})", 0, nullptr},
        {R"({"items":[1, {"title":"x"}]})", 1, "x"},
        {R"({})", 0, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.set);
        transs t(std::string("[") + c.set + "]");
        ASSERT_EQ(t.st, TQMOVIE_OK);
        ASSERT_EQ(t.n, 1u);
        EXPECT_EQ(t.sets[0].imdb_id, nullptr); // a set without id stays
        ASSERT_EQ(t.sets[0].items_count, c.count);
        if (c.count) {
            EXPECT_EQ(str(t.sets[0].items[0].title), str(c.first_title));
        }
    }
}

// ----------------------------------------------------------------------------
// Allocation failure
// ----------------------------------------------------------------------------

std::string basic_batch() {
    std::string s = "[";
    for (int i = 0; i < 3; ++i) s += std::string(i ? "," : "") + kBasicBody;
    return s + ",null,5]";
}

// Every allocation of a decode is failed in turn: the outcome is a documented status
// with its text, and everything handed out is released by the caller's usual path.
template <typename Rec, typename Decode, typename Release>
void check_each_allocation_failure(Decode decode, Release release, const std::vector<int32_t> &allowed,
                                   const char *obj_text) {
    tqtest::reset_tracking();
    bool obj_text_seen = false;
    Rec *recs = nullptr;
    size_t n = 0;
    long runs = tqtest::each_allocation_failure(
        [&] { return decode(&recs, &n); },
        [&](int32_t st, long k, bool hit) {
            SCOPED_TRACE("allocation " + std::to_string(k));
            bool ok = false;
            for (int32_t a : allowed) ok = ok || st == a;
            EXPECT_TRUE(ok) << "status " << st;
            if (!hit) {
                EXPECT_EQ(st, TQMOVIE_OK);
            }
            if (st == TQMOVIE_ERR_PARSE) {
                const std::string err = tqmovie_last_error();
                EXPECT_TRUE(err == "yyjson parse failed" || (obj_text && err == obj_text)) << err;
                obj_text_seen = obj_text_seen || (obj_text && err == obj_text);
            }
            if (st != TQMOVIE_OK && st != TQMOVIE_ERR_EMPTY) {
                EXPECT_EQ(recs, nullptr);
                EXPECT_EQ(n, 0u);
            }
            for (size_t i = 0; i < n; ++i) release(&recs[i]);
            std::free(recs);
            recs = nullptr;
            n = 0;
            EXPECT_EQ(tqtest::live_allocations(), 0);
        });
    EXPECT_GT(runs, 10);
    // String copies that fail are not reported, but a list that cannot be allocated
    // fails an object root with the object's own text.
    if (obj_text) {
        EXPECT_TRUE(obj_text_seen);
    }
}

TEST(Parse, BasicObjectSurvivesEachAllocationFailure) {
    check_each_allocation_failure<tq_basic>(
        [](tq_basic **o, size_t *n) { return tq_parse_basic_doc(kBasicBody, 0, o, n, 0); }, tq_free_basic,
        {TQMOVIE_OK, TQMOVIE_ERR_PARSE, TQMOVIE_ERR_NOMEM, TQMOVIE_ERR_EMPTY}, "basic object parse failed");
}

TEST(Parse, BasicArraySurvivesEachAllocationFailure) {
    const std::string body = basic_batch();
    check_each_allocation_failure<tq_basic>(
        [&](tq_basic **o, size_t *n) { return tq_parse_basic_doc(body.c_str(), 0, o, n, 1); }, tq_free_basic,
        {TQMOVIE_OK, TQMOVIE_ERR_PARSE, TQMOVIE_ERR_NOMEM}, nullptr);
}

TEST(Parse, DetailObjectSurvivesEachAllocationFailure) {
    check_each_allocation_failure<tq_detail>(
        [](tq_detail **o, size_t *n) { return tq_parse_detail_doc(kDetailBody, 0, o, n, 0, 0); }, tq_free_detail,
        {TQMOVIE_OK, TQMOVIE_ERR_PARSE, TQMOVIE_ERR_NOMEM, TQMOVIE_ERR_EMPTY}, "detail object parse failed");
}

TEST(Parse, DetailArraySurvivesEachAllocationFailure) {
    const std::string body = std::string("[") + kDetailBody + "," + kDetailBody + "]";
    check_each_allocation_failure<tq_detail>(
        [&](tq_detail **o, size_t *n) { return tq_parse_detail_doc(body.c_str(), 0, o, n, 1, 0); }, tq_free_detail,
        {TQMOVIE_OK, TQMOVIE_ERR_PARSE, TQMOVIE_ERR_NOMEM, TQMOVIE_ERR_EMPTY}, nullptr);
}

TEST(Parse, GenresSplitSurvivesEachAllocationFailure) {
    // Many parts force the list to grow several times.
    const std::string body = basic_with(R"("genres":"a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r")");
    check_each_allocation_failure<tq_basic>(
        [&](tq_basic **o, size_t *n) { return tq_parse_basic_doc(body.c_str(), 0, o, n, 0); }, tq_free_basic,
        {TQMOVIE_OK, TQMOVIE_ERR_PARSE, TQMOVIE_ERR_NOMEM, TQMOVIE_ERR_EMPTY}, "basic object parse failed");
}

TEST(Parse, TransSurvivesEachAllocationFailure) {
    check_each_allocation_failure<tq_trans>(
        [](tq_trans **o, size_t *n) { return tq_parse_trans_doc(kTransBody, 0, o, n); }, tq_free_trans,
        {TQMOVIE_OK, TQMOVIE_ERR_PARSE, TQMOVIE_ERR_NOMEM}, nullptr);
}

} // namespace

namespace {

std::string fixture_text(const char *name) {
    std::FILE *f = std::fopen((std::string(TQ_FIXTURES_DIR) + "/" + name).c_str(), "rb");
    std::string s;
    char buf[65536];
    for (size_t n; f && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    if (f) std::fclose(f);
    return s;
}

// Parser memory is capped at four times the text (at least 32 MiB): a document dense
// in small values is refused before it costs more, while no plausible answer comes
// near the cap (a 24-title detail batch, 10,000 titles in their complete form).
TEST(Parse, DenseDocumentsAreRefusedPlausibleOnesAreNot) {
    std::string dense = "[0";
    while (dense.size() < (48u << 20)) dense += ",0";
    dense += "]";
    tq_basic *recs = nullptr;
    size_t n = 0;
    EXPECT_EQ(tq_parse_basic_doc(dense.data(), dense.size(), &recs, &n, 1), TQMOVIE_ERR_PARSE);
    EXPECT_STREQ(tqmovie_last_error(), "JSON too dense: parsing it would take more than 4 times its size");
    EXPECT_EQ(recs, nullptr);

    const std::string one = fixture_text("detail-tt0111161.json");
    std::string batch = "[";
    for (int i = 0; i < 24; ++i) batch += (i ? "," : "") + one;
    batch += "]";
    tq_detail *details = nullptr;
    ASSERT_EQ(tq_parse_detail_doc(batch.data(), batch.size(), &details, &n, 1, 0), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(n, 24u);
    for (size_t i = 0; i < n; ++i) tq_free_detail(&details[i]);
    std::free(details);

    // The complete export of a record, 10,000 times over.
    tqmovie_shutdown();
    tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", nullptr, 0), TQMOVIE_OK);
    char *full = tqmovie_detail_to_json_full(0);
    ASSERT_NE(full, nullptr);
    std::string big = "[";
    for (int i = 0; i < 10000; ++i) big += (i ? "," : "") + std::string(full);
    big += "]";
    std::free(full);
    tqmovie_shutdown();
    EXPECT_EQ(tq_parse_detail_doc(big.data(), big.size(), &details, &n, 1, 0), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(n, 10000u);
    for (size_t i = 0; i < n; ++i) tq_free_detail(&details[i]);
    std::free(details);
}

} // namespace
