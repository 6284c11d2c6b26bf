// SPDX-License-Identifier: MIT
// Batch lookups end to end: chunking at the ceiling, request URLs and bodies, empty and
// refused answers, a failure part way, the cache they fill, translations, the fixture
// backend, and every allocation failing in turn.
#include "alloc_fail.h"
#include "host_backend.h"
#include "tqmovie.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

using tqtest::Reply;

namespace {

const std::string kHost = tqtest::kTestHost;
const std::string kBasicsTrue = kHost + "/api/AAA/GetMovieBasics?read=true&ignoreNew=true&getKeys=false";
const std::string kBasicsFalse = kHost + "/api/AAA/GetMovieBasics?read=true&ignoreNew=false&getKeys=false";
const std::string kDetails = kHost + "/api/AAA/GetMovieDetails?read=true&getKeys=false";
const std::string kTrans = kHost + "/api/AAA/GetMovieTranslations?read=true&getKeys=false";

std::string id_of(int n) {
    char b[32];
    std::snprintf(b, sizeof b, "tt%07d", n);
    return b;
}

// Ids tt0000001.. as owned strings plus the pointer array the API takes.
struct Ids {
    std::vector<std::string> text;
    std::vector<const char *> ptr;
    explicit Ids(int n, int first = 1) {
        for (int k = 0; k < n; ++k) text.push_back(id_of(first + k));
        for (auto &s : text) ptr.push_back(s.c_str());
    }
    const char *const *data() const { return ptr.data(); }
    size_t size() const { return ptr.size(); }
    std::string joined(size_t from, size_t n) const {
        std::string s;
        for (size_t k = from; k < from + n; ++k) s += (k > from ? "," : "") + text[k];
        return s;
    }
};

// A JSON array answering the ids [from, from + n) of the list, one record each.
std::string records(const Ids &ids, size_t from, size_t n, const char *extra = "") {
    std::string s = "[";
    for (size_t k = from; k < from + n; ++k) {
        if (k > from) s += ",";
        s += R"({"imDbId":")" + ids.text[k] + R"(","title":"Title )" + ids.text[k] + "\"" + extra + "}";
    }
    return s + "]";
}

const char *const kDetailExtra = R"(,"casts":[{"name":"A"}],"relatedIMDbIds":["tt9"],
 "pictures":[{"url":"u","width":1,"height":2}],"watchProviders":[{"providerName":"P"}],
 "videos":[{"key":"K"}])";

using BatchHost = tqtest::HostBackendTest;
using Lists = std::vector<int32_t>; // cast, pictures, providers, videos, related

// ---------------------------------------------------------------------------------
// Chunking and the ceiling
// ---------------------------------------------------------------------------------

TEST_F(BatchHost, TwentyFiveBasicsOrDetailsGoAs24Then1) {
    Ids ids(25);
    for (int detail = 0; detail < 2; ++detail) {
        SCOPED_TRACE(detail ? "details" : "basics");
        host.clear_requests();
        host.script(Reply::ok(records(ids, 0, 24)));
        host.script(Reply::ok(records(ids, 24, 1)));
        ASSERT_EQ(detail ? tqmovie_get_details(ids.data(), ids.size(), nullptr, 0)
                         : tqmovie_get_basics(ids.data(), ids.size()),
                  TQMOVIE_OK)
            << tqmovie_last_error();
        ASSERT_EQ(host.request_count(), 2u);
        for (size_t r = 0; r < 2; ++r) {
            EXPECT_STREQ(host.request(r).method, "POST");
            EXPECT_EQ(host.request(r).url_s(), detail ? kDetails : r == 0 ? kBasicsTrue : kBasicsFalse);
            EXPECT_EQ(host.request(r).body_s(), r == 0 ? ids.joined(0, 24) : ids.text[24]);
            EXPECT_STREQ(host.request(r).content_type, "text/plain");
        }
        ASSERT_EQ(detail ? tqmovie_detail_count() : tqmovie_basic_count(), 25);
        for (int32_t k = 0; k < 25; ++k)
            EXPECT_EQ(detail ? tqmovie_detail_imdb_id(k) : tqmovie_basic_imdb_id(k), ids.text[size_t(k)]) << k;
        EXPECT_EQ(tqmovie_last_http_code(), 200);
    }
}

TEST_F(BatchHost, CeilingOneMarksEveryRequestFalse) {
    tqmovie_set_batch_ceiling(1);
    EXPECT_EQ(tqmovie_batch_ceiling(), 1u);
    Ids ids(3);
    for (size_t k = 0; k < 3; ++k) host.script(Reply::ok(records(ids, k, 1)));
    ASSERT_EQ(tqmovie_get_basics(ids.data(), ids.size()), TQMOVIE_OK);
    ASSERT_EQ(host.request_count(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(host.request(k).url_s(), kBasicsFalse);
        EXPECT_EQ(host.request(k).body_s(), ids.text[k]);
    }
    EXPECT_EQ(tqmovie_basic_count(), 3);
}

TEST_F(BatchHost, CeilingZeroMeans24) {
    tqmovie_set_batch_ceiling(7);
    tqmovie_set_batch_ceiling(0);
    EXPECT_EQ(tqmovie_batch_ceiling(), 24u);
    Ids ids(48);
    host.always(Reply::ok("[]"));
    ASSERT_EQ(tqmovie_get_basics(ids.data(), ids.size()), TQMOVIE_OK);
    ASSERT_EQ(host.request_count(), 2u);
    EXPECT_EQ(host.request(0).body_s(), ids.joined(0, 24));
    EXPECT_EQ(host.request(1).body_s(), ids.joined(24, 24));
}

TEST_F(BatchHost, CeilingAboveCountSendsOneRequest) {
    tqmovie_set_batch_ceiling(1000);
    Ids ids(100);
    host.always(Reply::ok("[]"));
    ASSERT_EQ(tqmovie_get_basics(ids.data(), ids.size()), TQMOVIE_OK);
    ASSERT_EQ(host.request_count(), 1u);
    EXPECT_EQ(host.request(0).url_s(), kBasicsTrue);
    EXPECT_EQ(host.request(0).body_s(), ids.joined(0, 100));
}

TEST_F(BatchHost, NullEntryCountsTowardItsChunk) {
    tqmovie_set_batch_ceiling(2);
    const char *ids[] = {"tt1", nullptr, "tt3"};
    host.always(Reply::ok("[]"));
    ASSERT_EQ(tqmovie_get_basics(ids, 3), TQMOVIE_OK);
    ASSERT_EQ(host.request_count(), 2u);
    EXPECT_EQ(host.request(0).url_s(), kBasicsTrue) << "two entries, one of them null";
    EXPECT_EQ(host.request(0).body_s(), "tt1");
    EXPECT_EQ(host.request(1).url_s(), kBasicsFalse);
    EXPECT_EQ(host.request(1).body_s(), "tt3");

    host.clear_requests();
    ASSERT_EQ(tqmovie_get_details(ids, 3, nullptr, 0), TQMOVIE_OK);
    ASSERT_EQ(host.request_count(), 2u);
    EXPECT_EQ(host.request(0).body_s(), "tt1");
    EXPECT_EQ(host.request(1).body_s(), "tt3");
}

TEST_F(BatchHost, SameIdTwiceIsSentTwiceAndCachedOnce) {
    const char *ids[] = {"tt5", "tt5"};
    host.script(Reply::ok(R"([{"imDbId":"tt5","title":"A"},{"imDbId":"tt5","title":"B"}])"));
    ASSERT_EQ(tqmovie_get_basics(ids, 2), TQMOVIE_OK);
    EXPECT_EQ(host.request(0).body_s(), "tt5,tt5");
    EXPECT_EQ(tqmovie_basic_count(), 2);
    EXPECT_EQ(g_tq.cache_count, 1u);
    // The cache keeps the last one stored.
    ASSERT_EQ(tqmovie_get_basic("tt5", nullptr), TQMOVIE_OK);
    EXPECT_STREQ(tqmovie_basic_title(0), "B");
}

// ---------------------------------------------------------------------------------
// Answers
// ---------------------------------------------------------------------------------

TEST_F(BatchHost, EmptyAnswersAddNothing) {
    const char *ids[] = {"tt1", "tt2"};
    for (const char *body : {"[]", "null", "[null]", "[1,\"x\"]"}) {
        SCOPED_TRACE(body);
        host.always(Reply::ok(body));
        EXPECT_EQ(tqmovie_get_basics(ids, 2), TQMOVIE_OK);
        EXPECT_EQ(tqmovie_basic_count(), 0);
        EXPECT_STREQ(tqmovie_last_error(), "");
        EXPECT_EQ(tqmovie_get_details(ids, 2, nullptr, 0), TQMOVIE_OK);
        EXPECT_EQ(tqmovie_detail_count(), 0);
        EXPECT_EQ(tqmovie_get_translations(ids, 2, nullptr, nullptr), TQMOVIE_OK);
        EXPECT_EQ(tqmovie_trans_count(), 0);
    }
}

TEST_F(BatchHost, ObjectAnswerIsRefusedExceptForTranslations) {
    const char *ids[] = {"tt1"};
    host.always(Reply::ok("{}"));
    EXPECT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_ERR_PARSE);
    EXPECT_STREQ(tqmovie_last_error(), "expected JSON array");
    EXPECT_EQ(tqmovie_get_details(ids, 1, nullptr, 0), TQMOVIE_ERR_PARSE);
    EXPECT_STREQ(tqmovie_last_error(), "expected JSON array");
    EXPECT_EQ(tqmovie_get_translations(ids, 1, nullptr, nullptr), TQMOVIE_OK);
    EXPECT_STREQ(tqmovie_last_error(), "");
    EXPECT_EQ(tqmovie_trans_count(), 0);
}

TEST_F(BatchHost, RefusedAnswersReportStatusAndText) {
    struct Case {
        Reply reply;
        int32_t status;
        const char *err;
        const char *trans_err; // translations decode their own way
        int32_t trans_status;
    } cases[] = {
        {Reply::ok("not json"), TQMOVIE_ERR_PARSE, "yyjson parse failed", "yyjson parse failed", TQMOVIE_ERR_PARSE},
        {Reply::ok("7"), TQMOVIE_ERR_PARSE, "expected JSON array", "expected translations array", TQMOVIE_ERR_PARSE},
        {Reply::no_body(), TQMOVIE_ERR_EMPTY, "empty body", "empty body", TQMOVIE_ERR_EMPTY},
        {Reply::http(404), TQMOVIE_ERR_HTTP, "HTTP 404", "HTTP 404", TQMOVIE_ERR_HTTP},
        {Reply::fail("refused"), TQMOVIE_ERR_TRANSPORT, "transport: refused", "transport: refused",
         TQMOVIE_ERR_TRANSPORT},
    };
    const char *ids[] = {"tt1", "tt2"};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.err);
        host.always(c.reply);
        EXPECT_EQ(tqmovie_get_basics(ids, 2), c.status);
        EXPECT_STREQ(tqmovie_last_error(), c.err);
        EXPECT_EQ(tqmovie_get_details(ids, 2, nullptr, 0), c.status);
        EXPECT_STREQ(tqmovie_last_error(), c.err);
        EXPECT_EQ(tqmovie_get_translations(ids, 2, nullptr, nullptr), c.trans_status);
        EXPECT_STREQ(tqmovie_last_error(), c.trans_err);
        EXPECT_EQ(tqmovie_basic_count() + tqmovie_detail_count() + tqmovie_trans_count(), 0);
    }
}

TEST_F(BatchHost, FailureOnSecondOfThreeChunksKeepsTheFirst) {
    tqmovie_set_batch_ceiling(2);
    Ids ids(6);
    for (int detail = 0; detail < 2; ++detail) {
        SCOPED_TRACE(detail ? "details" : "basics");
        tqmovie_cache_clear();
        host.reset_script();
        host.clear_requests();
        host.script(Reply::ok(records(ids, 0, 2)));
        host.script(Reply::http(500, "boom"));
        host.script(Reply::ok(records(ids, 4, 2)));
        int32_t st = detail ? tqmovie_get_details(ids.data(), 6, nullptr, 0) : tqmovie_get_basics(ids.data(), 6);
        EXPECT_EQ(st, TQMOVIE_ERR_HTTP);
        EXPECT_STREQ(tqmovie_last_error(), "HTTP 500");
        EXPECT_EQ(tqmovie_last_http_code(), 500);
        EXPECT_EQ(host.request_count(), 2u) << "the third chunk was sent";
        ASSERT_EQ(detail ? tqmovie_detail_count() : tqmovie_basic_count(), 2);
        EXPECT_EQ(detail ? tqmovie_detail_imdb_id(1) : tqmovie_basic_imdb_id(1), ids.text[1]);
        for (size_t k = 0; k < 6; ++k) {
            int32_t bf = -1, df = -1;
            int32_t has = tqmovie_cache_has(ids.text[k].c_str(), &bf, &df);
            EXPECT_EQ(has, k < 2 ? 1 : 0) << ids.text[k];
            EXPECT_EQ(detail ? df : bf, k < 2 ? 1 : 0) << ids.text[k];
        }
    }
}

TEST_F(BatchHost, LastHttpCodeIsThatOfTheLastChunk) {
    tqmovie_set_batch_ceiling(1);
    const char *ids[] = {"tt1", "tt2"};
    host.script(Reply::ok("[]", 200));
    host.script(Reply::ok("[]", 203));
    ASSERT_EQ(tqmovie_get_basics(ids, 2), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_last_http_code(), 203);
}

TEST_F(BatchHost, EveryRecordIsCachedWithFreshFlags) {
    Ids ids(3);
    host.script(Reply::ok(records(ids, 0, 3)));
    ASSERT_EQ(tqmovie_get_basics(ids.data(), 3), TQMOVIE_OK);
    for (const auto &id : ids.text) {
        int32_t bf = -1, df = -1;
        EXPECT_EQ(tqmovie_cache_has(id.c_str(), &bf, &df), 1) << id;
        EXPECT_EQ(bf, 1);
        EXPECT_EQ(df, 0);
    }
    host.script(Reply::ok(records(ids, 0, 3)));
    ASSERT_EQ(tqmovie_get_details(ids.data(), 3, nullptr, 0), TQMOVIE_OK);
    for (const auto &id : ids.text) {
        int32_t bf = -1, df = -1;
        EXPECT_EQ(tqmovie_cache_has(id.c_str(), &bf, &df), 1) << id;
        EXPECT_EQ(bf, 1);
        EXPECT_EQ(df, 1);
    }
    // The batches never read the cache: asking again goes to the service again.
    host.clear_requests();
    host.script(Reply::ok(records(ids, 0, 3)));
    ASSERT_EQ(tqmovie_get_basics(ids.data(), 3), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 1u);
    // A single-title lookup is then answered from what the batch stored.
    host.clear_requests();
    ASSERT_EQ(tqmovie_get_basic(ids.text[2].c_str(), nullptr), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 0u);
    EXPECT_EQ(tqmovie_basic_title(0), "Title " + ids.text[2]);
}

TEST_F(BatchHost, DetailSectionsLimitStoreAndCache) {
    Ids ids(2);
    host.script(Reply::ok(records(ids, 0, 2, kDetailExtra)));
    ASSERT_EQ(tqmovie_get_details(ids.data(), 2, nullptr, static_cast<int32_t>(TQMOVIE_DETAIL_CAST)), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_detail_count(), 2);
    for (int32_t i = 0; i < 2; ++i) EXPECT_EQ(tqtest::detail_lists(i), (Lists{1, 0, 0, 0, 1})) << i;
    host.clear_requests();
    ASSERT_EQ(tqmovie_get_detail(ids.text[0].c_str(), nullptr, TQMOVIE_DETAIL_CAST), TQMOVIE_OK);
    EXPECT_EQ(host.request_count(), 0u);
    EXPECT_EQ(tqtest::detail_lists(0), (Lists{1, 0, 0, 0, 1}));

    host.script(Reply::ok(records(ids, 0, 2, kDetailExtra)));
    ASSERT_EQ(tqmovie_get_details(ids.data(), 2, nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(tqtest::detail_lists(1), (Lists{1, 1, 1, 1, 1}));
}

TEST_F(BatchHost, DetailsNeverReadTheirThirdArgument) {
    Ids ids(2);
    // A pointer that would fault if it were ever followed.
    const char *poison = reinterpret_cast<const char *>(uintptr_t{16});
    for (const char *third : {static_cast<const char *>(nullptr), "fr-FR", poison}) {
        tqmovie_cache_clear();
        host.clear_requests();
        host.script(Reply::ok(records(ids, 0, 2)));
        ASSERT_EQ(tqmovie_get_details(ids.data(), 2, third, 0), TQMOVIE_OK);
        EXPECT_EQ(host.last().url_s(), kDetails);
        EXPECT_EQ(tqmovie_detail_count(), 2);
    }
}

TEST_F(BatchHost, ArgumentsAndBackendAreCheckedAfterStoreIsEmptied) {
    Ids ids(2);
    for (int op = 0; op < 3; ++op) {
        SCOPED_TRACE(op);
        host.script(Reply::ok(records(ids, 0, 2)));
        ASSERT_EQ(tqmovie_get_basics(ids.data(), 2), TQMOVIE_OK);
        host.clear_requests();
        int32_t st = op == 0   ? tqmovie_get_basics(nullptr, 2)
                     : op == 1 ? tqmovie_get_details(ids.data(), 0, nullptr, 0)
                               : tqmovie_get_translations(nullptr, 0, nullptr, nullptr);
        EXPECT_EQ(st, TQMOVIE_ERR_ARG);
        EXPECT_STREQ(tqmovie_last_error(), "ids required");
        EXPECT_EQ(host.request_count(), 0u);
        EXPECT_EQ(tqmovie_basic_count(), 0);
    }
    tqmovie_set_io(nullptr);
    EXPECT_EQ(tqmovie_get_basics(ids.data(), 2), TQMOVIE_ERR_NO_IO);
    EXPECT_STREQ(tqmovie_last_error(), "no IO backend set");
    EXPECT_EQ(tqmovie_get_details(ids.data(), 2, nullptr, 0), TQMOVIE_ERR_NO_IO);
    EXPECT_EQ(tqmovie_get_translations(ids.data(), 2, nullptr, nullptr), TQMOVIE_ERR_NO_IO);
    EXPECT_STREQ(tqmovie_last_error(), "no IO backend set");
}

TEST_F(BatchHost, TableWithoutPostEntryIsStatus7) {
    tq_io io = host.table();
    io.post = nullptr;
    tqmovie_set_io(&io);
    const char *ids[] = {"tt1"};
    EXPECT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_ERR_NO_IO);
    EXPECT_STREQ(tqmovie_last_error(), "no IO backend set");
    EXPECT_EQ(tqmovie_get_details(ids, 1, nullptr, 0), TQMOVIE_ERR_NO_IO);
    EXPECT_EQ(tqmovie_get_translations(ids, 1, nullptr, nullptr), TQMOVIE_ERR_NO_IO);
}

// ---------------------------------------------------------------------------------
// Translations
// ---------------------------------------------------------------------------------

TEST_F(BatchHost, TranslationQueryValues) {
    const std::string long_part(400, 'x'), long_query = "&part1=zh&part2=" + long_part;
    struct Case {
        const char *p1, *p2, *query;
    } cases[] = {
        {nullptr, nullptr, "&part1=zh&part2=CN"},
        {"", "", "&part1=&part2="},
        {"pt", "BR", "&part1=pt&part2=BR"},
        {"a b", "c&d", "&part1=a%20b&part2=c%26d"},
        // Long parts reach the service whole, however long the path becomes.
        {"zh", long_part.c_str(), long_query.c_str()},
    };
    const char *ids[] = {"tt1", "tt2"};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query);
        host.clear_requests();
        host.script(Reply::ok("[]"));
        ASSERT_EQ(tqmovie_get_translations(ids, 2, c.p1, c.p2), TQMOVIE_OK);
        ASSERT_EQ(host.request_count(), 1u);
        EXPECT_STREQ(host.last().method, "POST");
        EXPECT_EQ(host.last().url_s(), kTrans + c.query);
        EXPECT_EQ(host.last().body_s(), "tt1,tt2");
        EXPECT_STREQ(host.last().content_type, "text/plain");
    }
}

TEST_F(BatchHost, HundredTranslationIdsGoInOneRequest) {
    tqmovie_set_batch_ceiling(1);
    Ids ids(100);
    host.always(Reply::ok("[]"));
    ASSERT_EQ(tqmovie_get_translations(ids.data(), ids.size(), nullptr, nullptr), TQMOVIE_OK);
    ASSERT_EQ(host.request_count(), 1u);
    EXPECT_EQ(host.last().body_s(), ids.joined(0, 100));
}

TEST_F(BatchHost, TranslationSetsAreStoredAndNotCached) {
    const char *answer = R"([{"imDbId":"tt1","items":[{"title":"T","plot":"P","tagLine":"G","iso_639_1":"zh",
        "iso_3166_1":"CN","directors":"D","actors":"A"},{"Title":"T2"}]},
        7,{"IMDbId":"tt2","Items":[]},{"items":[1,{"title":"x"}]}])";
    const char *ids[] = {"tt1", "tt2"};
    host.script(Reply::ok(answer));
    ASSERT_EQ(tqmovie_get_translations(ids, 2, nullptr, nullptr), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_trans_count(), 3);
    EXPECT_STREQ(tqmovie_trans_imdb_id(0), "tt1");
    ASSERT_EQ(tqmovie_trans_items_count(0), 2);
    EXPECT_STREQ(tqmovie_trans_item_title(0, 0), "T");
    EXPECT_STREQ(tqmovie_trans_item_plot(0, 0), "P");
    EXPECT_STREQ(tqmovie_trans_item_tagline(0, 0), "G");
    EXPECT_STREQ(tqmovie_trans_item_lang(0, 0), "zh");
    EXPECT_STREQ(tqmovie_trans_item_region(0, 0), "CN");
    EXPECT_STREQ(tqmovie_trans_item_title(0, 1), "T2");
    EXPECT_EQ(tqmovie_trans_item_plot(0, 1), nullptr);
    EXPECT_STREQ(tqmovie_trans_imdb_id(1), "tt2");
    EXPECT_EQ(tqmovie_trans_items_count(1), 0);
    EXPECT_EQ(tqmovie_trans_imdb_id(2), nullptr);
    EXPECT_EQ(tqmovie_trans_items_count(2), 1);
    EXPECT_STREQ(tqmovie_trans_item_title(2, 0), "x");
    EXPECT_EQ(g_tq.trans_cap, 4u);
    EXPECT_EQ(g_tq.cache_count, 0u) << "translation sets are not cached";
}

TEST_F(BatchHost, TranslationListGrowsByDoubling) {
    std::string answer = "[";
    for (int k = 0; k < 5; ++k) answer += std::string(k ? "," : "") + R"({"imDbId":"tt)" + std::to_string(k) + "\"}";
    answer += "]";
    const char *ids[] = {"tt0"};
    host.script(Reply::ok(answer));
    ASSERT_EQ(tqmovie_get_translations(ids, 1, nullptr, nullptr), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_trans_count(), 5);
    EXPECT_EQ(g_tq.trans_cap, 8u);
    EXPECT_STREQ(tqmovie_trans_imdb_id(4), "tt4");
}

// ---------------------------------------------------------------------------------
// Through the fixture backend
// ---------------------------------------------------------------------------------

// Elements of a JSON array file that are objects; -1 when the file is not an array.
int objects_in(const std::string &json) {
    yyjson_doc *doc = yyjson_read(json.data(), json.size(), 0);
    if (!doc) return -1;
    yyjson_val *root = yyjson_doc_get_root(doc);
    int n = -1;
    if (yyjson_is_arr(root)) {
        n = 0;
        size_t idx, max;
        yyjson_val *v;
        yyjson_arr_foreach(root, idx, max, v) n += yyjson_is_obj(v) ? 1 : 0;
    }
    yyjson_doc_free(doc);
    return n;
}

class BatchFixture : public tqtest::FixtureBackendTest {
protected:
    std::vector<std::string> ids;
    std::vector<const char *> ptr;
    void SetUp() override {
        FixtureBackendTest::SetUp();
        ids = tqtest::fixture_ids(TQ_FIXTURES_DIR, "detail-");
        for (auto &s : ids) ptr.push_back(s.c_str());
    }
};

TEST_F(BatchFixture, BasicsComeFromTheBatchFile) {
    const int want = objects_in(fixture("basics-batch.json"));
    ASSERT_GT(want, 0) << "basics-batch.json missing or not an array of objects";
    ASSERT_FALSE(ptr.empty());
    ASSERT_EQ(tqmovie_get_basics(ptr.data(), ptr.size()), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(tqmovie_basic_count(), want);
    for (int32_t i = 0; i < tqmovie_basic_count(); ++i) {
        const char *id = tqmovie_basic_imdb_id(i);
        if (!id) continue;
        int32_t bf = 0;
        EXPECT_EQ(tqmovie_cache_has(id, &bf, nullptr), 1) << id;
        EXPECT_EQ(bf, 1) << id;
    }
}

TEST_F(BatchFixture, DetailsComeOnePerFixtureFile) {
    ASSERT_GE(ptr.size(), 8u);
    ASSERT_EQ(tqmovie_get_details(ptr.data(), ptr.size(), nullptr, 0), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(tqmovie_detail_count(), static_cast<int32_t>(ptr.size()));
    EXPECT_EQ(tqmovie_last_http_code(), 200);
    // An id without a file is skipped by the fixture backend; the others still come.
    std::vector<const char *> with_missing = {"tt0000000404", ptr[0], ptr[1]};
    ASSERT_EQ(tqmovie_get_details(with_missing.data(), 3, nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_detail_count(), 2);
}

TEST_F(BatchFixture, TranslationsComeFromTheBatchFile) {
    const int want = objects_in(fixture("translations-batch.json"));
    ASSERT_GT(want, 0) << "translations-batch.json missing or not an array of objects";
    ASSERT_EQ(tqmovie_get_translations(ptr.data(), ptr.size(), nullptr, nullptr), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_trans_count(), want);
}

// ---------------------------------------------------------------------------------
// Every allocation failing in turn
// ---------------------------------------------------------------------------------

int32_t stored(int op) {
    return op == 0 ? tqmovie_basic_count() : op == 1 ? tqmovie_detail_count() : tqmovie_trans_count();
}

// The list counts of every stored record (or set) by its id, as a host would read them.
std::map<std::string, std::vector<int32_t>> shape(int op) {
    std::map<std::string, std::vector<int32_t>> m;
    for (int32_t i = 0; i < stored(op); ++i) {
        const char *id = op == 0   ? tqmovie_basic_imdb_id(i)
                         : op == 1 ? tqmovie_detail_imdb_id(i)
                                   : tqmovie_trans_imdb_id(i);
        if (!id) continue; // its id copy ran out of memory: nothing to match it by
        if (op == 0)
            m[id] = {tqmovie_basic_directors_count(i), tqmovie_basic_genres_count(i), tqmovie_basic_ratings_count(i)};
        else if (op == 1)
            m[id] = tqtest::detail_lists(i);
        else
            m[id] = {tqmovie_trans_items_count(i)};
    }
    return m;
}

// Records that made it into the store are whole: each has every list of the full run.
void expect_whole_records(int op, const std::map<std::string, std::vector<int32_t>> &full) {
    for (const auto &[id, counts] : shape(op)) {
        auto it = full.find(id);
        if (it == full.end()) {
            ADD_FAILURE() << "unknown id " << id;
            continue;
        }
        // The translation decoder keeps a set whose item array it could not allocate,
        // with no items and without reporting it; basic and detail lists are all or none.
        if (op == 2 && counts == std::vector<int32_t>{0}) continue;
        EXPECT_EQ(counts, it->second) << id << " is stored with a list missing";
    }
}

// One run with allocation k failing: a clean status, and a store holding whole records.
void check_batch_run(int32_t st, bool hit, int32_t full_count, int32_t stored) {
    if (!hit) {
        EXPECT_EQ(st, TQMOVIE_OK) << tqmovie_last_error();
        EXPECT_EQ(stored, full_count);
        return;
    }
    switch (st) {
    case TQMOVIE_OK: // an element dropped by the decoder, or a text left NULL
    case TQMOVIE_ERR_NOMEM:
        if (st == TQMOVIE_ERR_NOMEM) {
            EXPECT_STREQ(tqmovie_last_error(), "");
        }
        EXPECT_LE(stored, full_count);
        break;
    case TQMOVIE_ERR_PARSE: // the JSON reader's own allocation; it reports no cause
        EXPECT_STREQ(tqmovie_last_error(), "yyjson parse failed");
        EXPECT_LE(stored, full_count);
        break;
    case TQMOVIE_ERR_TRANSPORT: // the backend's own buffers
        EXPECT_EQ(std::string(tqmovie_last_error()).rfind("transport: ", 0), 0u) << tqmovie_last_error();
        EXPECT_LE(stored, full_count);
        break;
    default: ADD_FAILURE() << "status " << st << " '" << tqmovie_last_error() << "'";
    }
}

// Every allocation of each batch operation (batch(op): 0 basics, 1 details, 2
// translations) failing in turn, once and from then on. want[op]: the records a full
// run stores, or -1 for whatever it stores.
template <typename Batch, typename Reinstall>
void sweep_batches(Batch batch, Reinstall reinstall, std::array<int32_t, 3> want, long min_runs) {
    for (int op = 0; op < 3; ++op) {
        for (tqtest::FailMode mode : tqtest::kFailModes) {
            SCOPED_TRACE(std::string(op == 0   ? "basics, "
                                     : op == 1 ? "details, "
                                               : "translations, ") +
                         tqtest::mode_name(mode));
            auto call = [&] {
                tqmovie_cache_clear();
                return batch(op);
            };
            ASSERT_EQ(call(), TQMOVIE_OK) << tqmovie_last_error();
            const int32_t full = stored(op);
            const auto whole = shape(op);
            if (want[size_t(op)] >= 0) {
                ASSERT_EQ(full, want[size_t(op)]);
                ASSERT_EQ(whole.size(), size_t(full));
            }
            tqtest::reset_tracking();
            long runs = tqtest::each_allocation_failure(
                call,
                [&](int32_t st, long k, bool hit) {
                    SCOPED_TRACE("allocation " + std::to_string(k));
                    check_batch_run(st, hit, full, stored(op));
                    expect_whole_records(op, whole);
                },
                mode);
            EXPECT_GT(runs, min_runs);
            tqmovie_shutdown();
            EXPECT_EQ(tqtest::live_allocations(), 0);
            reinstall();
        }
    }
}

TEST_F(BatchHost, EachAllocationFailureOfEveryBatch) {
    tqmovie_set_batch_ceiling(2);
    Ids ids(3);
    // Basics and details go as two chunks, translations as one request of all three.
    host.on_body(ids.joined(0, 2), Reply::ok(records(ids, 0, 2, kDetailExtra)));
    host.on_body(ids.joined(2, 1), Reply::ok(records(ids, 2, 1, kDetailExtra)));
    host.on_body(ids.joined(0, 3), Reply::ok(R"([{"imDbId":"tt1","items":[{"title":"T","plot":"P"},{"Title":"U"}]},
                                                 {"imDbId":"tt2","items":[{"title":"V"}]}])"));
    auto batch = [&](int op) {
        return op == 0   ? tqmovie_get_basics(ids.data(), 3)
               : op == 1 ? tqmovie_get_details(ids.data(), 3, nullptr, 0)
                         : tqmovie_get_translations(ids.data(), 3, nullptr, nullptr);
    };
    sweep_batches(
        batch, [&] { host.install(); }, {3, 3, 2}, 5);
}

TEST_F(BatchFixture, EachAllocationFailureOfEveryBatch) {
    ASSERT_GE(ptr.size(), 3u);
    auto batch = [&](int op) {
        return op == 0   ? tqmovie_get_basics(ptr.data(), 3)
               : op == 1 ? tqmovie_get_details(ptr.data(), 3, nullptr, 0)
                         : tqmovie_get_translations(ptr.data(), 3, nullptr, nullptr);
    };
    sweep_batches(batch, install_fixtures, {-1, -1, -1}, 0);
}

// What an answer may do to the library is bounded by what was asked: a chunk stores
// at most 4 records per id plus 16 (in the service's order), and only records filed
// under an asked id are cached; an id that would split or carry raw bytes in the
// request body is refused before anything is sent.
TEST_F(BatchHost, AnswersAreBoundedByTheRequest) {
    Ids many(100), two(2, 1), planted(1, 5);
    host.always(Reply::ok(records(many, 0, 100)));
    ASSERT_EQ(tqmovie_get_basics(two.data(), 2), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_basic_count(), 4 * 2 + 16);
    EXPECT_EQ(tqmovie_basic_title(23), "Title " + many.text[23]);
    ASSERT_EQ(tqmovie_get_translations(two.data(), 2, nullptr, nullptr), TQMOVIE_OK);
    for (int k = 0; k < 100; ++k)
        EXPECT_EQ(tqmovie_cache_has(many.text[size_t(k)].c_str(), nullptr, nullptr), k < 2) << k;

    host.always(Reply::ok(records(planted, 0, 1)));
    ASSERT_EQ(tqmovie_get_details(two.data(), 1, nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_detail_count(), 1);
    EXPECT_EQ(tqmovie_cache_has(planted.text[0].c_str(), nullptr, nullptr), 0);

    host.clear_requests();
    const struct {
        const char *id;
        const char *says;
    } bad[] = {{"tt3,tt4", "ids[1] contains a comma"},
               {"tt3 ", "ids[1] contains white space"},
               {"tt\n3", "ids[1] contains a control byte"},
               {"tt\x7f", "ids[1] contains a control byte"}};
    for (const auto &b : bad) {
        const char *ids[] = {"tt1", b.id};
        EXPECT_EQ(tqmovie_get_basics(ids, 2), TQMOVIE_ERR_ARG);
        EXPECT_STREQ(tqmovie_last_error(), b.says);
        EXPECT_EQ(tqmovie_get_translations(ids, 2, nullptr, nullptr), TQMOVIE_ERR_ARG);
    }
    EXPECT_EQ(host.request_count(), 0u);
}

} // namespace
