// SPDX-License-Identifier: MIT
// JSON export of stored records: byte-exact texts, string escaping, number formatting,
// out-of-range indexes, ownership of the returned texts, every sample fixture record
// reading back as valid compact JSON, and every allocation failing in turn.
#include "alloc_fail.h"
#include "host_backend.h"
#include "tqmovie.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

// The export as an owned string; "<null>" for a NULL result.
std::string take(char *p) {
    if (!p) return "<null>";
    std::string s(p);
    std::free(p);
    return s;
}

// How the export writes one string: quotes, \" \\ \n \r \t, \u00XX for the other
// control bytes, everything else (0x7F, UTF-8, the solidus) as it is.
std::string esc(const std::string &s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': o += "\\\""; break;
        case '\\': o += "\\\\"; break;
        case '\n': o += "\\n"; break;
        case '\r': o += "\\r"; break;
        case '\t': o += "\\t"; break;
        default:
            if (c < 0x20) {
                char b[8];
                std::snprintf(b, sizeof b, "\\u%04x", c);
                o += b;
            } else {
                o += static_cast<char>(c);
            }
        }
    }
    return o + "\"";
}

// A JSON string literal for the service's side of a test (controls as \u escapes).
std::string lit(const std::string &s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            o += '\\';
            o += static_cast<char>(c);
        } else if (c < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04X", c);
            o += b;
        } else {
            o += static_cast<char>(c);
        }
    }
    return o + "\"";
}

const char *const kEmptyBasic =
    R"({"imDbId":null,"title":null,"tagLine":null,"plot":null,"posterUrl":null,"pictureUrl":null,)"
    R"("id":0,"year":-1,"duration":-1,"isTVShow":null,"directors":[],"genres":[],"ratings":{}})";

const char *const kEmptyDetail =
    R"({"imDbId":null,"title":null,"originalTitle":null,"tagLine":null,"plot":null,"posterUrl":null,)"
    R"("pictureUrl":null,"titleType":null,"genres":null,"directors":null,"id":0,"startYear":-1,"endYear":-1,)"
    R"("runtimeMinutes":-1,"imDbRating":null,"nCasts":0,"nPictures":0,"nProviders":0,"nVideos":0,"nRelated":0})";

const char *const kFullDetailIn = R"([{"imDbId":"ttD","title":"D title","originalTitle":"D original",
  "tagLine":"D tag","plot":"D plot","posterUrl":"N/A","pictureUrl":"D picture","titleType":"TVSeries",
  "genres":["Drama","Crime"],"directors":"D dir","trailerUrl":"D trailer","extension1":"D ext",
  "logoBase64":"AAAA","id":7,"startYear":1990,"endYear":1995,"runtimeMinutes":50,"isTVShow":true,
  "imDbRating":8.25,"casts":[{"name":"a"},{"name":"b"}],"pictures":[{"url":"p"},{"url":"q"},{"url":"r"}],
  "watchProviders":[{"providerName":"s"}],"videos":[{"key":"k"},{"key":"l"}],
  "relatedIMDbIds":["tt1","tt2","tt3","tt4"]}])";

const char *const kFullDetailOut =
    R"({"imDbId":"ttD","title":"D title","originalTitle":"D original","tagLine":"D tag","plot":"D plot",)"
    R"("posterUrl":"","pictureUrl":"D picture","titleType":"TVSeries","genres":"Drama, Crime","directors":"D dir",)"
    R"("id":7,"startYear":1990,"endYear":1995,"runtimeMinutes":50,"imDbRating":8.25,)"
    R"("nCasts":2,"nPictures":3,"nProviders":1,"nVideos":2,"nRelated":4})";

class JsonExport : public tqtest::HostBackendTest {
protected:
    std::string basic(int32_t i) { return take(tqmovie_basic_to_json(i)); }
    std::string detail(int32_t i) { return take(tqmovie_detail_to_json(i)); }
};

// ---------------------------------------------------------------------------------
// Exact texts
// ---------------------------------------------------------------------------------

TEST_F(JsonExport, AllAbsentBasicRecord) {
    store_basics("[{}]");
    EXPECT_EQ(basic(0), kEmptyBasic);
}

TEST_F(JsonExport, AllAbsentDetailRecord) {
    store_details("[{}]");
    EXPECT_EQ(detail(0), kEmptyDetail);
}

TEST_F(JsonExport, FullBasicRecord) {
    store_basics(R"([{"imDbId":"tt1","title":"T","tagLine":"G","plot":"P","posterUrl":"n/a",
        "pictureUrl":"https://img.example/y.jpg","id":5,"year":1999,"duration":-3,"isTVShow":true,
        "directors":["A","B"],"genres":"Drama, Crime","ratings":{"imdb":8.5,"meta":72}},
        {"imDbId":"tt2","isTVShow":false,"directors":"Solo"}])");
    EXPECT_EQ(basic(0), R"({"imDbId":"tt1","title":"T","tagLine":"G","plot":"P","posterUrl":"",)"
                        R"("pictureUrl":"https://img.example/y.jpg","id":5,"year":1999,"duration":-3,)"
                        R"("isTVShow":true,"directors":["A","B"],"genres":["Drama","Crime"],)"
                        R"("ratings":{"imdb":8.5,"meta":72}})");
    EXPECT_EQ(basic(1), R"({"imDbId":"tt2","title":null,"tagLine":null,"plot":null,"posterUrl":null,)"
                        R"("pictureUrl":null,"id":0,"year":-1,"duration":-1,"isTVShow":false,)"
                        R"("directors":["Solo"],"genres":[],"ratings":{}})");
}

// A rating whose source text was lost to a failed copy, or a value that is not finite,
// must not make the text invalid JSON.
TEST_F(JsonExport, LostSourceAndNonFiniteValuesStayValidJson) {
    store_basics(R"([{"imDbId":"tt1","ratings":{"imdb":8.5,"meta":72}}])");
    std::free(g_tq.basics[0].ratings[0].source);
    g_tq.basics[0].ratings[0].source = nullptr;
    g_tq.basics[0].ratings[1].value = std::numeric_limits<double>::infinity();
    const std::string text = basic(0);
    EXPECT_NE(text.find(R"("ratings":{"":8.5,"meta":null})"), std::string::npos) << text;
    yyjson_doc *doc = yyjson_read(text.c_str(), text.size(), 0);
    EXPECT_NE(doc, nullptr) << text;
    yyjson_doc_free(doc);
}

TEST_F(JsonExport, FullDetailRecordWritesCountsOnly) {
    store_details(kFullDetailIn);
    EXPECT_EQ(detail(0), kFullDetailOut);
}

TEST_F(JsonExport, StringsAreEscaped) {
    // Quote, backslash, LF, TAB, CR, 0x01, 0x7F, solidus, 0x08 and two-byte UTF-8.
    store_basics(R"([{"title":"a\"b\\c\nd\te\rf\u0001g\u007fh/i\u00e9j\bk",)"
                 R"("directors":["x\"y","\u001f"],"ratings":{"a\"b\\":1}}])");
    const std::string title = "\"a\\\"b\\\\c\\nd\\te\\rf\\u0001g\x7fh/i\xc3\xa9j\\u0008k\"";
    EXPECT_EQ(basic(0), std::string(R"({"imDbId":null,"title":)") + title +
                            R"(,"tagLine":null,"plot":null,"posterUrl":null,"pictureUrl":null,"id":0,"year":-1,)"
                            R"("duration":-1,"isTVShow":null,"directors":["x\"y","\u001f"],"genres":[],)"
                            R"("ratings":{"a\"b\\":1}})");
}

TEST_F(JsonExport, EveryControlByteIsEscaped) {
    std::string raw;
    for (int c = 1; c < 0x20; ++c) raw += static_cast<char>(c);
    raw += "\x7f\xc2\x80"; // DEL and a two-byte UTF-8 sequence pass through unchanged
    store_basics("[{\"plot\":" + lit(raw) + "}]");
    const std::string want_plot = raw;
    const std::string out = basic(0);
    EXPECT_NE(out.find(",\"plot\":" + esc(want_plot) + ","), std::string::npos) << out;
    EXPECT_NE(out.find("\\u0008"), std::string::npos);
    EXPECT_NE(out.find("\\u001f"), std::string::npos);
}

TEST_F(JsonExport, NumbersUseShortestGeneralForm) {
    store_basics(R"([{"ratings":{"a":7.25,"b":8,"c":1234567,"d":0.0001,"e":-2.5,"f":1e-7,"g":100000,"h":"7"}}])");
    const std::string out = basic(0);
    EXPECT_NE(out.find(R"("ratings":{"a":7.25,"b":8,"c":1.23457e+06,"d":0.0001,"e":-2.5,"f":1e-07,"g":100000,"h":0}})"),
              std::string::npos)
        << out;
}

TEST_F(JsonExport, DetailRatingIsNullWhenAbsent) {
    struct Case {
        const char *in;
        const char *piece;
    } cases[] = {
        {"", ",\"imDbRating\":null,"},
        {",\"imDbRating\":null", ",\"imDbRating\":null,"},
        {",\"imDbRating\":\"8.3\"", ",\"imDbRating\":null,"},
        {",\"imDbRating\":7.25", ",\"imDbRating\":7.25,"},
        {",\"imDbRating\":8", ",\"imDbRating\":8,"},
        {",\"imDbRating\":1234567", ",\"imDbRating\":1.23457e+06,"},
        {",\"imDbRating\":0", ",\"imDbRating\":0,"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        store_details(std::string("[{\"title\":\"t\"") + c.in + "}]");
        const std::string out = detail(0);
        EXPECT_NE(out.find(c.piece), std::string::npos) << out;
    }
}

TEST_F(JsonExport, LongPlotGrowsTheBufferAndStaysExact) {
    std::string plot;
    for (int k = 0; plot.size() < 9000; ++k)
        plot += "Line " + std::to_string(k) + " \"quoted\"\\ tab\t caf\xc3\xa9 / end.\n";
    store_basics("[{\"plot\":" + lit(plot) + ",\"directors\":[\"A\"]}]");
    const std::string want = std::string(R"({"imDbId":null,"title":null,"tagLine":null,"plot":)") + esc(plot) +
                             R"(,"posterUrl":null,"pictureUrl":null,"id":0,"year":-1,"duration":-1,)"
                             R"("isTVShow":null,"directors":["A"],"genres":[],"ratings":{}})";
    EXPECT_EQ(basic(0), want);

    store_details("[{\"plot\":" + lit(plot) + "}]");
    const std::string out = detail(0);
    EXPECT_NE(out.find(",\"plot\":" + esc(plot) + ","), std::string::npos);
    EXPECT_EQ(out.size(), std::string(kEmptyDetail).size() - 4 + esc(plot).size());
}

// ---------------------------------------------------------------------------------
// Indexes and ownership
// ---------------------------------------------------------------------------------

TEST_F(JsonExport, OutOfRangeIndexIsNullAndLeavesErrorText) {
    store_basics(R"([{"title":"a"},{"title":"b"}])");
    ASSERT_EQ(tqmovie_is_movie(nullptr, nullptr), TQMOVIE_ERR_ARG); // leaves the store alone
    ASSERT_EQ(tqmovie_basic_count(), 2);
    for (int32_t i : {-1, 2, 3, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(tqmovie_basic_to_json(i), nullptr) << i;
        EXPECT_EQ(tqmovie_detail_to_json(i), nullptr) << i;
    }
    EXPECT_EQ(tqmovie_detail_to_json(0), nullptr) << "no detail record stored";
    EXPECT_STREQ(tqmovie_last_error(), "imdb_id required");
    EXPECT_NE(basic(1), "<null>");
    EXPECT_STREQ(tqmovie_last_error(), "imdb_id required");

    store_details(R"([{"title":"a"}])");
    EXPECT_EQ(tqmovie_detail_to_json(1), nullptr);
    EXPECT_EQ(tqmovie_detail_to_json(-1), nullptr);
    EXPECT_EQ(tqmovie_basic_to_json(0), nullptr);
    EXPECT_EQ(tqmovie_last_http_code(), 200);
    tqmovie_shutdown();
    EXPECT_EQ(tqmovie_detail_to_json(0), nullptr);
}

TEST_F(JsonExport, TwoExportsAreSeparateAndOutliveTheStore) {
    store_details(kFullDetailIn);
    char *a = tqmovie_detail_to_json(0);
    char *b = tqmovie_detail_to_json(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_STREQ(a, b);
    store_basics("[{}]");
    store_details("[{}]");
    tqmovie_shutdown();
    EXPECT_STREQ(a, kFullDetailOut);
    std::free(a);
    EXPECT_STREQ(b, kFullDetailOut);
    std::free(b);
}

TEST_F(JsonExport, ExportChangesNothingInTheLibrary) {
    store_basics(R"([{"imDbId":"tt1","title":"a"}])");
    const char *title = tqmovie_basic_title(0);
    const size_t cached = g_tq.cache_count;
    std::free(tqmovie_basic_to_json(0));
    std::free(tqmovie_basic_to_json(0));
    EXPECT_EQ(tqmovie_basic_title(0), title);
    EXPECT_EQ(tqmovie_basic_count(), 1);
    EXPECT_EQ(g_tq.cache_count, cached);
    EXPECT_STREQ(tqmovie_last_error(), "");
    EXPECT_EQ(tqmovie_last_http_code(), 200);
}

// ---------------------------------------------------------------------------------
// Every sample fixture record exports as valid compact JSON
// ---------------------------------------------------------------------------------

// Whitespace outside string literals means the text is not compact.
bool compact(const std::string &s) {
    bool in = false;
    for (size_t k = 0; k < s.size(); ++k) {
        const char c = s[k];
        if (in) {
            if (c == '\\')
                ++k;
            else if (c == '"')
                in = false;
        } else if (c == '"') {
            in = true;
        } else if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
            return false;
        }
    }
    return !in;
}

const std::vector<std::string> kBasicKeys = {"imDbId",     "title",  "tagLine", "plot",     "posterUrl",
                                             "pictureUrl", "id",     "year",    "duration", "isTVShow",
                                             "directors",  "genres", "ratings"};
const std::vector<std::string> kDetailKeys = {
    "imDbId",     "title",  "originalTitle", "tagLine",    "plot",      "posterUrl", "pictureUrl",
    "titleType",  "genres", "directors",     "id",         "startYear", "endYear",   "runtimeMinutes",
    "imDbRating", "nCasts", "nPictures",     "nProviders", "nVideos",   "nRelated"};

// Parses with the strict reader and checks the members and their order.
void expect_valid(const std::string &text, const std::vector<std::string> &keys, const char *title) {
    EXPECT_TRUE(compact(text)) << text;
    yyjson_doc *doc = yyjson_read(text.data(), text.size(), 0);
    ASSERT_NE(doc, nullptr) << text;
    yyjson_val *root = yyjson_doc_get_root(doc);
    ASSERT_TRUE(yyjson_is_obj(root));
    std::vector<std::string> got;
    size_t idx, max;
    yyjson_val *k, *v;
    yyjson_obj_foreach(root, idx, max, k, v) got.emplace_back(yyjson_get_str(k));
    EXPECT_EQ(got, keys);
    yyjson_val *t = yyjson_obj_get(root, "title");
    if (title)
        EXPECT_STREQ(yyjson_get_str(t), title);
    else
        EXPECT_TRUE(yyjson_is_null(t));
    yyjson_doc_free(doc);
}

class JsonExportFixture : public tqtest::FixtureBackendTest {};

TEST_F(JsonExportFixture, EverySampleRecordExportsAsValidCompactJson) {
    const auto basics = tqtest::fixture_ids(TQ_FIXTURES_DIR, "basic-");
    const auto details = tqtest::fixture_ids(TQ_FIXTURES_DIR, "detail-");
    ASSERT_FALSE(basics.empty());
    ASSERT_FALSE(details.empty());
    for (const auto &id : basics) {
        SCOPED_TRACE(id);
        ASSERT_EQ(tqmovie_get_basic(id.c_str(), nullptr), TQMOVIE_OK);
        expect_valid(take(tqmovie_basic_to_json(0)), kBasicKeys, tqmovie_basic_title(0));
    }
    for (const auto &id : details) {
        SCOPED_TRACE(id);
        ASSERT_EQ(tqmovie_get_detail(id.c_str(), nullptr, 0), TQMOVIE_OK);
        expect_valid(take(tqmovie_detail_to_json(0)), kDetailKeys, tqmovie_detail_title(0));
    }
    std::vector<const char *> ids;
    for (const auto &id : details) ids.push_back(id.c_str());
    ASSERT_EQ(tqmovie_get_basics(ids.data(), ids.size()), TQMOVIE_OK);
    ASSERT_GT(tqmovie_basic_count(), 0);
    for (int32_t i = 0; i < tqmovie_basic_count(); ++i)
        expect_valid(take(tqmovie_basic_to_json(i)), kBasicKeys, tqmovie_basic_title(i));
    ASSERT_EQ(tqmovie_get_details(ids.data(), ids.size(), nullptr, 0), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_detail_count(), static_cast<int32_t>(ids.size()));
    for (int32_t i = 0; i < tqmovie_detail_count(); ++i)
        expect_valid(take(tqmovie_detail_to_json(i)), kDetailKeys, tqmovie_detail_title(i));
}

// ---------------------------------------------------------------------------------
// Every allocation failing in turn
// ---------------------------------------------------------------------------------

TEST_F(JsonExport, EachAllocationFailureGivesNullAndLeaksNothing) {
    // Many short pieces make the buffer grow step by step; one long piece jumps ahead.
    std::string plot(3000, 'p'), dirs;
    for (int k = 0; k < 300; ++k) dirs += (k ? ",\"Director " : "\"Director ") + std::to_string(k) + "\"";
    store_basics("[{\"title\":\"t\",\"directors\":[" + dirs + "],\"plot\":\"" + plot.substr(0, 100) +
                 "\",\"ratings\":{\"a\":1.5}}]");
    const std::string want_basic = basic(0);
    for (int kind = 0; kind < 2; ++kind) {
        SCOPED_TRACE(kind ? "detail" : "basic");
        if (kind) store_details("[{\"title\":\"t\",\"plot\":\"" + plot + "\",\"imDbRating\":7.5}]");
        const std::string want = kind ? detail(0) : want_basic;
        tqtest::reset_tracking();
        long hits =
            tqtest::each_allocation_failure([&] { return kind ? tqmovie_detail_to_json(0) : tqmovie_basic_to_json(0); },
                                            [&](char *text, long k, bool hit) {
                                                SCOPED_TRACE("allocation " + std::to_string(k));
                                                if (hit)
                                                    EXPECT_EQ(text, nullptr) << "a partial text was handed out";
                                                else
                                                    EXPECT_EQ(text ? std::string(text) : "<null>", want);
                                                std::free(text);
                                            });
        EXPECT_GE(hits, kind ? 2 : 5) << "first buffer and its growths";
        EXPECT_EQ(tqtest::live_allocations(), 0);
        EXPECT_STREQ(tqmovie_last_error(), "");
    }
}

} // namespace
