// SPDX-License-Identifier: MIT
// The record cache saved to a file and loaded back: every sample record returns equal,
// with its stamp, language and sections; a bad file, or a save that cannot be
// written, changes nothing.
#include "alloc_fail.h"
#include "host_backend.h"
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Each slot as text: its key, stamps and both records in their complete form (the
// form the round trip itself is checked against, field by field, in test_getters).
std::string snapshot() {
    std::string out;
    for (size_t k = 0; k < g_tq.cache_count; ++k) {
        const tq_cache_entry &e = g_tq.cache[k];
        out += std::string(e.imdb_id) + " " + std::to_string(e.basic_at) + " " + std::to_string(e.detail_at) + "\n";
    }
    return out;
}

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void spill(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

class CacheFile : public tqtest::FixtureBackendTest {
protected:
    std::string dir = ::testing::TempDir() + "tqcache-" + std::to_string(getpid());
    std::string path = dir + "/cache.json";
    std::vector<std::string> ids = tqtest::fixture_ids(TQ_FIXTURES_DIR, "detail-");

    void SetUp() override {
        FixtureBackendTest::SetUp();
        ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
    }
    void TearDown() override {
        FixtureBackendTest::TearDown();
        ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0);
    }
    // Every sample title in the cache: basic records in English and German, detail
    // records with all sections or cast only.
    void fill() {
        for (size_t i = 0; i < ids.size(); ++i) {
            ASSERT_EQ(tqmovie_get_basic(ids[i].c_str(), i % 2 ? "de-DE" : nullptr), TQMOVIE_OK);
            ASSERT_EQ(tqmovie_get_detail(ids[i].c_str(), nullptr, i % 3 ? TQMOVIE_DETAIL_ALL : TQMOVIE_DETAIL_CAST),
                      TQMOVIE_OK);
            g_tq.cache[i].basic_at -= static_cast<int64_t>(i); // stamps of their own
        }
    }
    // Every cached record in its complete form, read back through the lookups as they
    // would be asked for (from the cache: no request may go out).
    std::string records() {
        std::string out;
        for (size_t i = 0; i < ids.size(); ++i) {
            const char *id = ids[i].c_str();
            EXPECT_EQ(tqmovie_get_basic(id, i % 2 ? "de-DE" : "en-US"), TQMOVIE_OK);
            EXPECT_EQ(tqmovie_last_http_code(), 0) << id;
            char *b = tqmovie_basic_to_json_full(0);
            EXPECT_EQ(tqmovie_get_detail(id, nullptr, i % 3 ? TQMOVIE_DETAIL_ALL : TQMOVIE_DETAIL_CAST), TQMOVIE_OK);
            EXPECT_EQ(tqmovie_last_http_code(), 0) << id;
            char *d = tqmovie_detail_to_json_full(0);
            out += std::string(b ? b : "?") + "\n" + (d ? d : "?") + "\n";
            std::free(b);
            std::free(d);
        }
        return out;
    }
};

TEST_F(CacheFile, SavedCacheLoadsBackWhole) {
    fill();
    const std::string slots = snapshot(), recs = records();
    ASSERT_EQ(tqmovie_cache_save(path.c_str()), TQMOVIE_OK) << tqmovie_last_error();
    tqmovie_cache_clear();
    ASSERT_EQ(tqmovie_cache_load(path.c_str()), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(snapshot(), slots);
    EXPECT_EQ(records(), recs);
    // What was not held still goes to the service: another language, more sections.
    ASSERT_EQ(tqmovie_get_basic(ids[0].c_str(), "de-DE"), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_last_http_code(), 200);
    ASSERT_EQ(tqmovie_get_detail(ids[0].c_str(), nullptr, 0), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_last_http_code(), 200);
    // The size limit applies after a load.
    tqmovie_cache_set_limit(3);
    ASSERT_EQ(tqmovie_cache_load(path.c_str()), TQMOVIE_OK);
    EXPECT_EQ(g_tq.cache_count, 3u);
    tqmovie_cache_set_limit(0);
}

// A file that is missing, not a cache file, of a later version, truncated, over the
// size limit or hostile is refused with its own status and text, and the cache stays
// exactly as it was.
TEST_F(CacheFile, BadFilesChangeNothing) {
    fill();
    ASSERT_EQ(tqmovie_cache_save(path.c_str()), TQMOVIE_OK);
    const std::string good = slurp(path);
    const std::string one = R"({"imdbId":"tt1","basic":{"imDbId":"tt1","title":"T"},"basicAt":5})";
    const std::string head = R"({"format":"tqmovie-cache","version":1,"entries":[)";
    const struct {
        std::string text;
        int32_t status;
        const char *says;
    } cases[] = {
        {good.substr(0, good.size() / 2), TQMOVIE_ERR_PARSE, "not valid JSON"},
        {good + "{\"imdbId\"", TQMOVIE_ERR_PARSE, "not valid JSON"}, // bytes after the end, no line feed
        {"", TQMOVIE_ERR_PARSE, "not valid JSON"},
        {"[]", TQMOVIE_ERR_PARSE, "not a tqmovie cache file"},
        {R"({"format":"other","version":1,"entries":[]})", TQMOVIE_ERR_PARSE, "not a tqmovie cache file"},
        {R"({"format":"tqmovie-cache","version":2,"entries":[]})", TQMOVIE_ERR_PARSE, "version 2 is newer"},
        {R"({"format":"tqmovie-cache","version":"1","entries":[]})", TQMOVIE_ERR_PARSE, "no valid version"},
        {head + one + "," + one + "]}", TQMOVIE_ERR_PARSE, "entry 1: a title is listed twice"},
        {head + R"({"imdbId":"tt1","basic":{"imDbId":"tt2"},"basicAt":5}]})", TQMOVIE_ERR_PARSE,
         "entry 0: a record carries another id"},
        {head + R"({"imdbId":"tt1","basic":{"imDbId":"tt1"}}]})", TQMOVIE_ERR_PARSE, "entry 0: a record has no stamp"},
        {head + R"({"imdbId":"tt1","basic":{"imDbId":"tt1"},"basicAt":1.5}]})", TQMOVIE_ERR_PARSE, "no stamp"},
        {head + R"({"imdbId":"tt1","basic":{"imDbId":"tt1"},"basicAt":1,"basicLanguage":7}]})", TQMOVIE_ERR_PARSE,
         "a language is not a text"},
        {head + one + R"(,{"imdbId":"tt2","detail":{"imDbId":"tt2"},"detailAt":1,"detailSections":65536}]})",
         TQMOVIE_ERR_PARSE, "entry 1: sections out of range"},
        {head + R"({"imdbId":"tt1"}]})", TQMOVIE_ERR_PARSE, "entry 0: no record"},
        {head + "7]}", TQMOVIE_ERR_PARSE, "entry 0: no id"},
    };
    const std::string slots = snapshot();
    for (const auto &c : cases) {
        spill(path, c.text);
        EXPECT_EQ(tqmovie_cache_load(path.c_str()), c.status) << c.says;
        EXPECT_NE(std::string(tqmovie_last_error()).find(c.says), std::string::npos) << tqmovie_last_error();
        EXPECT_EQ(snapshot(), slots) << c.says;
    }
    EXPECT_EQ(tqmovie_cache_load((dir + "/missing.json").c_str()), TQMOVIE_ERR_FILE);
    EXPECT_NE(std::string(tqmovie_last_error()).find("No such file"), std::string::npos) << tqmovie_last_error();
    EXPECT_EQ(tqmovie_cache_load(dir.c_str()), TQMOVIE_ERR_FILE);                         // a directory
    const std::string fifo = dir + "/fifo.json"; // refused at once, never waited on
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(tqmovie_cache_load(fifo.c_str()), TQMOVIE_ERR_FILE);
    EXPECT_NE(std::string(tqmovie_last_error()).find("is not a regular file"), std::string::npos);
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(TQMOVIE_CACHE_FILE_MAX) + 1), 0); // sparse
    EXPECT_EQ(tqmovie_cache_load(path.c_str()), TQMOVIE_ERR_FILE);
    EXPECT_NE(std::string(tqmovie_last_error()).find("larger than"), std::string::npos);
    EXPECT_EQ(tqmovie_cache_load(nullptr), TQMOVIE_ERR_ARG);
    EXPECT_EQ(tqmovie_cache_save(""), TQMOVIE_ERR_ARG);
    EXPECT_EQ(snapshot(), slots);
}

// A save that cannot be written whole (here: past the process's file size limit)
// leaves the old file as it was, and no temporary file behind.
TEST_F(CacheFile, FailedSaveKeepsTheOldFile) {
    ASSERT_EQ(tqmovie_get_basic(ids[0].c_str(), nullptr), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_cache_save(path.c_str()), TQMOVIE_OK);
    const std::string old = slurp(path);
    fill();
    rlimit was{};
    getrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = was;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t st = tqmovie_cache_save(path.c_str());
    setrlimit(RLIMIT_FSIZE, &was);
    EXPECT_EQ(st, TQMOVIE_ERR_FILE);
    EXPECT_NE(std::string(tqmovie_last_error()).find("cannot be written"), std::string::npos) << tqmovie_last_error();
    EXPECT_EQ(slurp(path), old);
    EXPECT_EQ(system(("test $(ls " + dir + " | wc -l) -eq 1").c_str()), 0) << "a temporary file was left";
}

// A cache whose file a load would refuse is not saved: the old file stays, and no
// temporary file is left.
TEST_F(CacheFile, SaveOverTheLoadLimitIsRefused) {
    ASSERT_EQ(tqmovie_get_basic(ids[0].c_str(), nullptr), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_cache_save(path.c_str()), TQMOVIE_OK);
    const std::string old = slurp(path);
    std::string plot(TQMOVIE_CACHE_FILE_MAX / 3 + 1024, 'p');
    for (const char *id : {"tt9000001", "tt9000002", "tt9000003"}) {
        tq_basic r;
        tq_copy_basic(&r, nullptr);
        r.imdb_id = const_cast<char *>(id);
        r.plot = plot.data();
        tq_cache_put_basic(&r);
    }
    plot = std::string();
    EXPECT_EQ(tqmovie_cache_save(path.c_str()), TQMOVIE_ERR_FILE);
    EXPECT_NE(std::string(tqmovie_last_error()).find("larger than the cache file limit of 268435456 bytes"),
              std::string::npos)
        << tqmovie_last_error();
    tqmovie_cache_clear();
    EXPECT_EQ(slurp(path), old);
    EXPECT_EQ(system(("test $(ls " + dir + " | wc -l) -eq 1").c_str()), 0) << "a temporary file was left";
}

// A stamp from the future (a clock set back, a planted file) ages from the load
// instead of keeping its record fresh for ever.
TEST_F(CacheFile, FutureStampsAgeFromTheLoad) {
    fill();
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    for (size_t k = 0; k < g_tq.cache_count; ++k) g_tq.cache[k].basic_at = now + 1000000000;
    ASSERT_EQ(tqmovie_cache_save(path.c_str()), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_cache_load(path.c_str()), TQMOVIE_OK) << tqmovie_last_error();
    ASSERT_EQ(g_tq.cache_count, ids.size());
    for (size_t k = 0; k < g_tq.cache_count; ++k) {
        EXPECT_GE(g_tq.cache[k].basic_at, now);
        EXPECT_LE(g_tq.cache[k].basic_at, static_cast<int64_t>(std::time(nullptr)));
    }
}

// The temporaries of saves that died go with the next save of the same file; one a
// live process is writing, and every other file, stay.
TEST_F(CacheFile, DeadSavesLeaveNoTemporaries) {
    fill();
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) { // a live save of the same file, holding its lock
        const std::string mine = path + ".tqtmp." + std::to_string(getpid()) + ".0";
        const int fd = open(mine.c_str(), O_WRONLY | O_CREAT, 0600);
        char c = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1 || read(done[0], &c, 1) != 1) _exit(1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    const std::string live = path + ".tqtmp." + std::to_string(writer) + ".0";
    const std::vector<std::string> dead = {path + ".tqtmp.1.0", path + ".tqtmp.4194303.17"};
    const std::vector<std::string> other = {dir + "/other.json.tqtmp.1.0", path + ".tqtmp.x", path + ".tqtmp.1.x"};
    for (const auto &f : dead) spill(f, "partial");
    for (const auto &f : other) spill(f, "keep");
    EXPECT_EQ(tqmovie_cache_save(path.c_str()), TQMOVIE_OK) << tqmovie_last_error();
    for (const auto &f : dead) EXPECT_NE(access(f.c_str(), F_OK), 0) << f;
    for (const auto &f : other) EXPECT_EQ(slurp(f), "keep") << f;
    EXPECT_EQ(access(live.c_str(), F_OK), 0) << "a live writer's temporary was removed";
    ASSERT_EQ(write(done[1], "x", 1), 1);
    int status = 0;
    waitpid(writer, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
    EXPECT_EQ(tqmovie_cache_save(path.c_str()), TQMOVIE_OK); // its writer gone, it goes too
    EXPECT_NE(access(live.c_str(), F_OK), 0);
}

// Every allocation of a load failing in turn: the load fails cleanly and the cache is
// unchanged, or it succeeds whole.
TEST_F(CacheFile, LoadSurvivesEachAllocationFailure) {
    fill();
    ASSERT_EQ(tqmovie_cache_save(path.c_str()), TQMOVIE_OK);
    const std::string slots = snapshot();
    auto one_title = [&] { // the cache each load starts from
        tqtest::AllocPause pause;
        tqmovie_cache_clear();
        EXPECT_EQ(tqmovie_get_basic(ids[1].c_str(), nullptr), TQMOVIE_OK);
        g_tq.cache[0].basic_at = 12345;
    };
    one_title();
    const std::string before = snapshot();
    for (tqtest::FailMode mode : tqtest::kFailModes) {
        tqtest::each_allocation_failure(
            [&] {
                one_title();
                return tqmovie_cache_load(path.c_str());
            },
            [&](int32_t st, long k, bool hit) {
                ASSERT_TRUE(st == TQMOVIE_ERR_NOMEM || st == TQMOVIE_ERR_PARSE || st == TQMOVIE_OK) << k << " " << st;
                EXPECT_EQ(snapshot(), st == TQMOVIE_OK ? slots : before) << k << " status " << st;
                EXPECT_TRUE(hit || st == TQMOVIE_OK);
            },
            mode);
    }
}

} // namespace
