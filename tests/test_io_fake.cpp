// SPDX-License-Identifier: MIT
// The fixture backend: routing by URL, the id scan, the probe rule, the order in which
// file names are tried, the detail batch array, and the bundled sample fixtures.
#include "alloc_fail.h"
#include "tqmovie.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const kBasicUrl = "https://svc.example/api/AAA/GetMovieBasic?imdbId=%s&language=en-US";
const char *const kDetailUrl = "https://svc.example/api/AAA/GetMovieDetail?imdbId=%s&language=en-US";
const char *const kProbeUrl = "https://svc.example/api/AAA/IsMovie?imdbId=%s";
const char *const kBasicsUrl = "https://svc.example/api/AAA/GetMovieBasics?read=true&ignoreNew=false&getKeys=false";
const char *const kDetailsUrl = "https://svc.example/api/AAA/GetMovieDetails?read=true&getKeys=false";
const char *const kTransUrl =
    "https://svc.example/api/AAA/GetMovieTranslations?read=true&getKeys=false&part1=zh&part2=CN";

std::string url_for(const char *pattern, const std::string &id) {
    char buf[512];
    std::snprintf(buf, sizeof buf, pattern, id.c_str());
    return buf;
}

// A scratch fixture directory under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tqfake-XXXXXX";
        const char *made = mkdtemp(tmpl);
        if (made != nullptr) path_ = made;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    void write(const std::string &name, const std::string &text) const {
        std::ofstream(file(name), std::ios::binary) << text;
    }

private:
    std::string path_;
};

// What one entry call handed out, copied so the buffers can be released at once.
struct Reply {
    int32_t rc = 0;
    int32_t status = 0;
    bool has_body = false;
    std::string body;
    bool has_err = false;
    std::string err;
};

Reply take(const tq_io &io, int32_t rc, char *body, int32_t status, char *err) {
    Reply r;
    r.rc = rc;
    r.status = status;
    r.has_body = body != nullptr;
    if (body != nullptr) r.body = body;
    r.has_err = err != nullptr;
    if (err != nullptr) r.err = err;
    io.free(io.ctx, body);
    io.free(io.ctx, err);
    return r;
}

Reply get(const tq_io &io, const std::string &url) {
    char *body = reinterpret_cast<char *>(1);
    char *err = reinterpret_cast<char *>(1);
    int32_t status = -7;
    const int32_t rc = io.get(io.ctx, url.c_str(), &body, &status, &err);
    return take(io, rc, body, status, err);
}

Reply post(const tq_io &io, const std::string &url, const char *request) {
    char *body = reinterpret_cast<char *>(1);
    char *err = reinterpret_cast<char *>(1);
    int32_t status = -7;
    const int32_t rc = io.post(io.ctx, url.c_str(), request, "text/plain", &body, &status, &err);
    return take(io, rc, body, status, err);
}

void expect_failure(const Reply &r, int32_t status, const char *text) {
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.status, status);
    EXPECT_FALSE(r.has_body);
    ASSERT_TRUE(r.has_err);
    EXPECT_EQ(r.err, text);
}

void expect_body(const Reply &r, const std::string &body) {
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.status, 200);
    ASSERT_TRUE(r.has_body);
    EXPECT_EQ(r.body, body);
    EXPECT_FALSE(r.has_err);
}

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class FakeIo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        io = tolvane_io_fake(dir.path().c_str());
        tqtest::reset_tracking();
    }
    TempDir dir;
    tq_io io{};
};

// ---------------------------------------------------------------------------
// Construction and the shared directory
// ---------------------------------------------------------------------------

TEST_F(FakeIo, TableHoldsDirectoryAndAllEntries) {
    EXPECT_STREQ(static_cast<const char *>(io.ctx), dir.path().c_str());
    EXPECT_NE(io.get, nullptr);
    EXPECT_NE(io.post, nullptr);
    EXPECT_NE(io.free, nullptr);
}

TEST_F(FakeIo, NullDirectoryReadsFromCanned) {
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    fs::create_directory("canned");
    std::ofstream("canned/basic-tt0000001.json") << "{\"title\":\"c\"}";
    const tq_io canned = tolvane_io_fake(nullptr);
    EXPECT_STREQ(static_cast<const char *>(canned.ctx), "canned");
    expect_body(get(canned, url_for(kBasicUrl, "tt0000001")), "{\"title\":\"c\"}");
    fs::current_path(before);
}

TEST_F(FakeIo, EmptyDirectoryIsKeptEmpty) {
    const tq_io root = tolvane_io_fake("");
    EXPECT_STREQ(static_cast<const char *>(root.ctx), "");
    expect_failure(get(root, url_for(kBasicUrl, "tt0000001")), 404, "fake: basic not found");
}

TEST_F(FakeIo, LastConstructedDirectoryWinsForEveryTable) {
    TempDir other;
    dir.write("basic-tt1.json", "first");
    other.write("basic-tt1.json", "second");
    const tq_io older = io;
    const tq_io newer = tolvane_io_fake(other.path().c_str());
    expect_body(get(older, url_for(kBasicUrl, "tt1")), "second");
    expect_body(get(newer, url_for(kBasicUrl, "tt1")), "second");
}

TEST_F(FakeIo, LongDirectoryIsCutAt511Characters) {
    const std::string longdir(600, 'd');
    const tq_io cut = tolvane_io_fake(longdir.c_str());
    EXPECT_EQ(std::string(static_cast<const char *>(cut.ctx)), longdir.substr(0, 511));
}

// ---------------------------------------------------------------------------
// The probe
// ---------------------------------------------------------------------------

TEST_F(FakeIo, ProbeAnswersByFixedRule) {
    struct Case {
        const char *url;
        const char *answer;
    } cases[] = {
        {"https://svc.example/api/AAA/IsMovie?imdbId=tt0111161", "true"},
        {"https://svc.example/api/AAA/IsMovie?imdbId=tt9999999", "false"},
        {"https://svc.example/api/AAA/IsMovie?imdbId=tt99999999", "true"},
        {"https://svc.example/api/AAA/IsMovie?imdbId=tt999999999", "false"},
        {"https://svc.example/api/AAA/IsMovie?imdbId=tt9999999&language=x", "false"},
        {"https://svc.example/api/AAA/IsMovie?imdbId=tt0944947", "true"},
        {"https://svc.example/api/AAA/IsMovie?imdbId=tt12345678901", "true"},
        {"https://svc.example/api/AAA/IsMovie?imdbId=", "false"},
        {"https://svc.example/api/AAA/IsMovie?imdbId=ttx1", "false"},
        {"IsMovie", "false"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        expect_body(get(io, c.url), c.answer);
    }
}

// ---------------------------------------------------------------------------
// The id scan, seen through the file it picks
// ---------------------------------------------------------------------------

TEST_F(FakeIo, IdScanPicksFirstTtFollowedByDigit) {
    const std::string long_id = "tt" + std::string(38, '7');
    dir.write("basic-tt0111161.json", "shawshank");
    dir.write("basic-tt1.json", "host");
    dir.write("basic-" + long_id.substr(0, 31) + ".json", "cut");
    struct Case {
        std::string url;
        const char *body;
    } cases[] = {
        {url_for(kBasicUrl, "tt0111161"), "shawshank"},                        // "&" ends the id
        {"https://attic.example/GetMovieBasic?imdbId=tt0111161", "shawshank"}, // "tt" + letter skipped
        {"http://tt1.example/GetMovieBasic?imdbId=tt0111161", "host"},         // the host is scanned too
        {"https://svc.example/GetMovieBasic?imdbId=ttt1", "host"},             // overlapping match
        {"https://svc.example/GetMovieBasic?imdbId=tt1-x", "host"},
        {url_for(kBasicUrl, long_id), "cut"}, // cut after 31 characters
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        expect_body(get(io, c.url), c.body);
    }
}

TEST_F(FakeIo, UrlWithoutIdLooksForEmptyId) {
    dir.write("basic-.json", "no id");
    expect_body(get(io, "https://svc.example/GetMovieBasic?imdbId="), "no id");
}

// ---------------------------------------------------------------------------
// GET routes and the order of trial
// ---------------------------------------------------------------------------

TEST_F(FakeIo, BasicPatternsAreTriedInOrder) {
    dir.write("sample-GetMovieBasic-tt1.json", "sample");
    expect_body(get(io, url_for(kBasicUrl, "tt1")), "sample");
    dir.write("basic-tt1.json", "plain");
    expect_body(get(io, url_for(kBasicUrl, "tt1")), "plain");
}

TEST_F(FakeIo, DetailPatternsAreTriedInOrder) {
    dir.write("sample-GetMovieDetail-tt1.json", "third");
    expect_body(get(io, url_for(kDetailUrl, "tt1")), "third");
    dir.write("sample-GetMovieDetail-tt1-TRUNCATED.json", "second");
    expect_body(get(io, url_for(kDetailUrl, "tt1")), "second");
    dir.write("detail-tt1.json", "first");
    expect_body(get(io, url_for(kDetailUrl, "tt1")), "first");
}

TEST_F(FakeIo, DetailRouteIsNotTakenForBasic) {
    dir.write("basic-tt1.json", "basic");
    dir.write("detail-tt1.json", "detail");
    expect_body(get(io, url_for(kDetailUrl, "tt1")), "detail");
    expect_body(get(io, url_for(kBasicUrl, "tt1")), "basic");
    // The probe comes first, whatever else the URL holds.
    expect_body(get(io, "https://svc.example/IsMovie/GetMovieDetail?imdbId=tt1"), "true");
}

TEST_F(FakeIo, MissingFilesFailWith404AndText) {
    expect_failure(get(io, url_for(kBasicUrl, "tt1")), 404, "fake: basic not found");
    expect_failure(get(io, url_for(kDetailUrl, "tt1")), 404, "fake: detail not found");
    expect_failure(get(io, "https://svc.example/api/AAA/Other?imdbId=tt1"), 0, "fake: unknown GET");
}

TEST_F(FakeIo, FailureWithoutErrorOutParameterStillReportsStatus) {
    char *body = reinterpret_cast<char *>(1);
    int32_t status = -7;
    EXPECT_EQ(io.get(io.ctx, url_for(kBasicUrl, "tt1").c_str(), &body, &status, nullptr), -1);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(status, 404);
    EXPECT_EQ(io.post(io.ctx, "https://svc.example/x", "", "text/plain", &body, &status, nullptr), -1);
    EXPECT_EQ(status, 0);
}

TEST_F(FakeIo, EmptyFileGivesEmptyNonNullBody) {
    dir.write("basic-tt1.json", "");
    expect_body(get(io, url_for(kBasicUrl, "tt1")), "");
}

TEST_F(FakeIo, BytesAreReturnedUnchanged) {
    const std::string raw = "\xEF\xBB\xBF{ \"title\" : \"\xE8\x82\x96\" }\r\n\t";
    dir.write("basic-tt1.json", raw);
    expect_body(get(io, url_for(kBasicUrl, "tt1")), raw);
}

// ---------------------------------------------------------------------------
// POST routes
// ---------------------------------------------------------------------------

TEST_F(FakeIo, BasicsBatchFilesAreTriedInOrderWhateverIsAsked) {
    expect_failure(post(io, kBasicsUrl, "tt1"), 404, "fake: basics batch not found");
    dir.write("sample-GetMovieBasics-batch2.json", "[2]");
    expect_body(post(io, kBasicsUrl, "tt1"), "[2]");
    dir.write("basics-batch.json", "[1]");
    expect_body(post(io, kBasicsUrl, nullptr), "[1]");
}

TEST_F(FakeIo, TranslationsFallBackToEmptyArray) {
    expect_body(post(io, kTransUrl, "tt1"), "[]");
    dir.write("translations-batch.json", "[{\"imDbId\":\"tt1\"}]");
    expect_body(post(io, kTransUrl, "tt9"), "[{\"imDbId\":\"tt1\"}]");
}

TEST_F(FakeIo, UnknownPostFails) {
    expect_failure(post(io, "https://svc.example/api/AAA/GetMovieDetail?x=1", "tt1"), 0, "fake: unknown POST");
}

TEST_F(FakeIo, DetailBatchJoinsFilesInOrderAsked) {
    dir.write("detail-tt1.json", "{\"a\":1}");
    dir.write("detail-tt2.json", "{\"b\":2}");
    dir.write("detail-tt3.json", "{\"c\":3}\n");
    expect_body(post(io, kDetailsUrl, "tt1, tt2,,tt3"), "[{\"a\":1},{\"b\":2},{\"c\":3}\n]");
    expect_body(post(io, kDetailsUrl, "tt3,tt1"), "[{\"c\":3}\n,{\"a\":1}]");
    fs::remove(dir.file("detail-tt2.json"));
    expect_body(post(io, kDetailsUrl, "tt1, tt2,,tt3"), "[{\"a\":1},{\"c\":3}\n]");
}

TEST_F(FakeIo, DetailBatchTriesTruncatedButNotPlainSample) {
    dir.write("sample-GetMovieDetail-tt1-TRUNCATED.json", "T");
    dir.write("sample-GetMovieDetail-tt2.json", "S");
    expect_body(post(io, kDetailsUrl, "tt1,tt2"), "[T]");
    expect_body(get(io, url_for(kDetailUrl, "tt2")), "S");
}

TEST_F(FakeIo, DetailBatchWithoutAnyFileIsEmptyArray) {
    const char *requests[] = {nullptr, "", ",,,", "   ", "tt1,tt2"};
    for (const char *request : requests) {
        SCOPED_TRACE(request != nullptr ? request : "(null)");
        expect_body(post(io, kDetailsUrl, request), "[]");
    }
}

TEST_F(FakeIo, DetailBatchIdEndsAtNonAlnumAndAfter31Characters) {
    const std::string long_id = "tt" + std::string(40, '5');
    dir.write("detail-tt1.json", "1");
    dir.write("detail-" + long_id.substr(0, 31) + ".json", "L");
    expect_body(post(io, kDetailsUrl, ("  tt1&x;," + long_id).c_str()), "[1,L]");
}

TEST_F(FakeIo, DetailBatchGrowthEqualsPlainConcatenation) {
    std::string expected = "[";
    std::string request;
    for (int i = 0; i < 12; ++i) {
        const std::string id = "tt" + std::to_string(100 + i);
        // Sizes around the doubling points, including one larger than the first buffer.
        const std::string text =
            "{\"pad\":\"" + std::string(static_cast<size_t>(700 * i + 3), static_cast<char>('a' + i)) + "\"}";
        dir.write("detail-" + id + ".json", text);
        expected += (i ? "," : "") + text;
        request += (i ? "," : "") + id;
    }
    expected += "]";
    ASSERT_GT(expected.size(), 4096u * 8);
    expect_body(post(io, kDetailsUrl, request.c_str()), expected);
}

// ---------------------------------------------------------------------------
// Files that exist but cannot be read whole
// ---------------------------------------------------------------------------

TEST_F(FakeIo, DirectoryInPlaceOfFileIsUnreadable) {
    fs::create_directory(dir.file("basic-tt1.json"));
    fs::create_directory(dir.file("sample-GetMovieBasic-tt1.json"));
    expect_failure(get(io, url_for(kBasicUrl, "tt1")), 500, "fake: basic not found");
    // A later pattern still wins over an unreadable earlier one.
    fs::remove(dir.file("sample-GetMovieBasic-tt1.json"));
    dir.write("sample-GetMovieBasic-tt1.json", "ok");
    expect_body(get(io, url_for(kBasicUrl, "tt1")), "ok");
    // Skipped in a batch like a missing file.
    fs::create_directory(dir.file("detail-tt2.json"));
    dir.write("detail-tt3.json", "3");
    expect_body(post(io, kDetailsUrl, "tt2,tt3"), "[3]");
}

TEST_F(FakeIo, StatusIsThatOfLastAttempt) {
    fs::create_directory(dir.file("detail-tt1.json"));
    expect_failure(get(io, url_for(kDetailUrl, "tt1")), 404, "fake: detail not found");
    fs::create_directory(dir.file("sample-GetMovieDetail-tt1.json"));
    expect_failure(get(io, url_for(kDetailUrl, "tt1")), 500, "fake: detail not found");
}

TEST_F(FakeIo, FifoIsRefusedWithoutBlocking) {
    ASSERT_EQ(mkfifo(dir.file("basic-tt1.json").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("sample-GetMovieBasic-tt1.json").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("translations-batch.json").c_str(), 0600), 0);
    expect_failure(get(io, url_for(kBasicUrl, "tt1")), 500, "fake: basic not found");
    expect_body(post(io, kTransUrl, "tt1"), "[]");
}

TEST_F(FakeIo, FileLargerThanInt32IsRefused) {
    // Sparse: no disk blocks are written. The last name tried decides the status.
    const std::string big = dir.file("sample-GetMovieBasic-tt1.json");
    { std::ofstream(big, std::ios::binary).put('x'); }
    std::error_code ec;
    fs::resize_file(big, static_cast<uintmax_t>(INT32_MAX) + 2, ec);
    if (ec) GTEST_SKIP() << "cannot make a sparse file here: " << ec.message();
    expect_failure(get(io, url_for(kBasicUrl, "tt1")), 500, "fake: basic not found");
}

// ---------------------------------------------------------------------------
// Allocation failures: every entry fails cleanly and leaks nothing
// ---------------------------------------------------------------------------

struct Armed {
    int32_t rc;
    int32_t status;
    char *body;
    char *err;
};

template <typename Call> void each_failure_is_clean(const tq_io &io, Call call, const char *what) {
    SCOPED_TRACE(what);
    tqtest::reset_tracking();
    const long runs = tqtest::each_allocation_failure(call, [&](const Armed &a, long k, bool hit) {
        SCOPED_TRACE("allocation " + std::to_string(k));
        if (!hit) {
            EXPECT_EQ(a.rc, 0);
        }
        if (a.rc == 0) {
            EXPECT_EQ(a.status, 200);
            EXPECT_NE(a.body, nullptr);
        } else {
            EXPECT_EQ(a.rc, -1);
            EXPECT_EQ(a.body, nullptr);
        }
        io.free(io.ctx, a.body);
        io.free(io.ctx, a.err);
    });
    EXPECT_GT(runs, 0);
    EXPECT_EQ(tqtest::live_allocations(), 0);
}

TEST_F(FakeIo, EveryEntrySurvivesEachAllocationFailure) {
    dir.write("basic-tt1.json", "{\"title\":\"b\"}");
    dir.write("detail-tt1.json", std::string(3000, 'x'));
    dir.write("detail-tt2.json", std::string(3000, 'y'));
    dir.write("basics-batch.json", "[]");
    dir.write("translations-batch.json", "[]");
    auto g = [this](const std::string &url) {
        return [this, url] {
            Armed a{0, 0, nullptr, nullptr};
            a.rc = io.get(io.ctx, url.c_str(), &a.body, &a.status, &a.err);
            return a;
        };
    };
    auto p = [this](const char *url, const char *request) {
        return [this, url, request] {
            Armed a{0, 0, nullptr, nullptr};
            a.rc = io.post(io.ctx, url, request, "text/plain", &a.body, &a.status, &a.err);
            return a;
        };
    };
    each_failure_is_clean(io, g(url_for(kProbeUrl, "tt1")), "probe");
    each_failure_is_clean(io, g(url_for(kBasicUrl, "tt1")), "basic");
    each_failure_is_clean(io, g(url_for(kDetailUrl, "tt1")), "detail");
    each_failure_is_clean(io, p(kBasicsUrl, "tt1"), "basics batch");
    each_failure_is_clean(io, p(kDetailsUrl, "tt1,tt2,tt1"), "details batch");
    each_failure_is_clean(io, p(kTransUrl, "tt1"), "translations");
    fs::remove(dir.file("translations-batch.json"));
    each_failure_is_clean(io, p(kTransUrl, "tt1"), "translations fallback");
}

TEST_F(FakeIo, DetailBatchBufferFailureReleasesEverything) {
    dir.write("detail-tt1.json", std::string(5000, 'x'));
    long buffer_failures = 0;
    tqtest::reset_tracking();
    tqtest::each_allocation_failure(
        [this] {
            Armed a{0, 0, nullptr, nullptr};
            a.rc = io.post(io.ctx, kDetailsUrl, "tt1", "text/plain", &a.body, &a.status, &a.err);
            return a;
        },
        [&](const Armed &a, long k, bool) {
            // Only the working copy, the first buffer and its growth can fail the call;
            // the reads' own allocations merely drop the element.
            if (a.rc == -1) {
                SCOPED_TRACE("allocation " + std::to_string(k));
                EXPECT_EQ(a.status, 0);
                EXPECT_EQ(a.body, nullptr);
                EXPECT_EQ(a.err, nullptr);
                if (k >= 2) ++buffer_failures;
            }
            io.free(io.ctx, a.body);
        });
    EXPECT_EQ(buffer_failures, 1); // the growth past the first 4096 bytes
    EXPECT_EQ(tqtest::live_allocations(), 0);
}

// ---------------------------------------------------------------------------
// The bundled sample fixtures
// ---------------------------------------------------------------------------

struct DocCloser {
    void operator()(yyjson_doc *d) const { yyjson_doc_free(d); }
};
using Doc = std::unique_ptr<yyjson_doc, DocCloser>;

Doc parse(const std::string &text) { return Doc(yyjson_read(text.data(), text.size(), 0)); }

std::string str_of(yyjson_val *obj, const char *key) {
    const char *s = yyjson_get_str(yyjson_obj_get(obj, key));
    return s != nullptr ? s : "";
}

std::vector<std::string> fixture_ids() {
    std::vector<std::string> ids;
    for (const auto &e : fs::directory_iterator(TQ_FIXTURES_DIR)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("basic-", 0) == 0 && name.size() > 11) ids.push_back(name.substr(6, name.size() - 11));
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

TEST(FakeFixtures, EveryFileIsStrictJson) {
    int files = 0;
    for (const auto &e : fs::directory_iterator(TQ_FIXTURES_DIR)) {
        if (e.path().extension() != ".json") continue;
        SCOPED_TRACE(e.path().string());
        ++files;
        EXPECT_TRUE(parse(slurp(e.path().string())));
    }
    EXPECT_GE(files, 18);
}

TEST(FakeFixtures, TitlesHaveBasicAndDetailWithMatchingIds) {
    const std::vector<std::string> ids = fixture_ids();
    ASSERT_GE(ids.size(), 8u);
    EXPECT_NE(std::find(ids.begin(), ids.end(), "tt0111161"), ids.end());
    int series = 0;
    for (const std::string &id : ids) {
        SCOPED_TRACE(id);
        Doc basic = parse(slurp(std::string(TQ_FIXTURES_DIR) + "/basic-" + id + ".json"));
        Doc detail = parse(slurp(std::string(TQ_FIXTURES_DIR) + "/detail-" + id + ".json"));
        ASSERT_TRUE(basic && detail);
        yyjson_val *b = yyjson_doc_get_root(basic.get());
        yyjson_val *d = yyjson_doc_get_root(detail.get());
        EXPECT_EQ(str_of(b, "imDbId"), id);
        EXPECT_EQ(str_of(d, "imDbId"), id);
        EXPECT_EQ(str_of(b, "title"), str_of(d, "title"));
        EXPECT_TRUE(yyjson_is_obj(yyjson_obj_get(b, "ratings")));
        if (yyjson_is_true(yyjson_obj_get(b, "isTVShow"))) ++series;
        const size_t casts = yyjson_arr_size(yyjson_obj_get(d, "casts"));
        EXPECT_TRUE(casts >= 6 && casts <= 10) << casts;
        const size_t pictures = yyjson_arr_size(yyjson_obj_get(d, "pictures"));
        EXPECT_TRUE(pictures >= 3 && pictures <= 6) << pictures;
        const size_t providers = yyjson_arr_size(yyjson_obj_get(d, "watchProviders"));
        EXPECT_TRUE(providers >= 3 && providers <= 6) << providers;
        const size_t videos = yyjson_arr_size(yyjson_obj_get(d, "videos"));
        EXPECT_TRUE(videos >= 2 && videos <= 3) << videos;
        const size_t related = yyjson_arr_size(yyjson_obj_get(d, "relatedIMDbIds"));
        EXPECT_TRUE(related >= 4 && related <= 8) << related;
    }
    EXPECT_GE(series, 2);
}

TEST(FakeFixtures, BatchFilesCoverEveryTitle) {
    const std::vector<std::string> ids = fixture_ids();
    Doc basics = parse(slurp(std::string(TQ_FIXTURES_DIR) + "/basics-batch.json"));
    Doc trans = parse(slurp(std::string(TQ_FIXTURES_DIR) + "/translations-batch.json"));
    ASSERT_TRUE(basics && trans);
    std::set<std::string> in_basics, in_trans;
    size_t i, n;
    yyjson_val *v;
    yyjson_arr_foreach(yyjson_doc_get_root(basics.get()), i, n, v) in_basics.insert(str_of(v, "imDbId"));
    yyjson_arr_foreach(yyjson_doc_get_root(trans.get()), i, n, v) {
        in_trans.insert(str_of(v, "imDbId"));
        const size_t items = yyjson_arr_size(yyjson_obj_get(v, "items"));
        EXPECT_TRUE(items >= 2 && items <= 3) << str_of(v, "imDbId");
    }
    EXPECT_EQ(in_basics, std::set<std::string>(ids.begin(), ids.end()));
    EXPECT_EQ(in_trans, std::set<std::string>(ids.begin(), ids.end()));
}

TEST(FakeFixtures, BackendServesBundledFilesAsArrays) {
    const tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    const std::vector<std::string> ids = fixture_ids();
    std::string request;
    for (const std::string &id : ids) {
        request += (request.empty() ? "" : ", ") + id;
        expect_body(get(io, url_for(kBasicUrl, id)), slurp(std::string(TQ_FIXTURES_DIR) + "/basic-" + id + ".json"));
    }
    const Reply r = post(io, kDetailsUrl, request.c_str());
    ASSERT_EQ(r.rc, 0);
    Doc details = parse(r.body);
    ASSERT_TRUE(details);
    EXPECT_EQ(yyjson_arr_size(yyjson_doc_get_root(details.get())), ids.size());
}

// End to end: through dispatch and the decoders, every bundled title comes back whole.
TEST(FakeFixtures, LookupsDecodeEveryBundledTitle) {
    const tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    tqmovie_cache_clear();
    const std::vector<std::string> ids = fixture_ids();
    std::vector<const char *> id_ptrs;
    for (const std::string &id : ids) {
        SCOPED_TRACE(id);
        id_ptrs.push_back(id.c_str());
        ASSERT_EQ(tqmovie_get_basic(id.c_str(), nullptr), TQMOVIE_OK) << tqmovie_last_error();
        ASSERT_EQ(tqmovie_basic_count(), 1);
        EXPECT_STREQ(tqmovie_basic_imdb_id(0), id.c_str());
        EXPECT_GT(tqmovie_basic_genres_count(0), 0);
        EXPECT_EQ(tqmovie_basic_ratings_count(0), 4);
        ASSERT_EQ(tqmovie_get_detail(id.c_str(), nullptr, 0), TQMOVIE_OK) << tqmovie_last_error();
        ASSERT_EQ(tqmovie_detail_count(), 1);
        EXPECT_GE(tqmovie_detail_cast_count(0), 6);
        EXPECT_GE(tqmovie_detail_related_count(0), 4);
        for (int32_t j = 0; j < tqmovie_detail_provider_count(0); ++j)
            EXPECT_NE(tqmovie_detail_provider_logo(0, j), nullptr);
    }
    const int32_t n = static_cast<int32_t>(ids.size());
    EXPECT_EQ(tqmovie_get_basics(id_ptrs.data(), id_ptrs.size()), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_basic_count(), n);
    EXPECT_EQ(tqmovie_get_details(id_ptrs.data(), id_ptrs.size(), nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_detail_count(), n);
    EXPECT_EQ(tqmovie_get_translations(id_ptrs.data(), id_ptrs.size(), nullptr, nullptr), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_trans_count(), n);
    // A missing title reads as the backend's 404.
    EXPECT_EQ(tqmovie_get_basic("tt0000001", nullptr), TQMOVIE_ERR_TRANSPORT);
    EXPECT_STREQ(tqmovie_last_error(), "transport: fake: basic not found");
    EXPECT_EQ(tqmovie_last_http_code(), 404);
    tqmovie_shutdown();
}

} // namespace
