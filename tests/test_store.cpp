// SPDX-License-Identifier: MIT
// The store behind the cache: records written through and read back by another client
// (or process) with an empty memory cache and no way to the service, lifetimes and
// languages as in memory; files that are not stores; stale answers when the service
// fails, and the offline mode.
#include "host_backend.h"
#include "loopback_server.h"
#include "tqmovie.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Store : public tqtest::FixtureBackendTest {
protected:
    std::string dir = ::testing::TempDir() + "tqstore-" + std::to_string(getpid());
    std::string path = dir + "/store.db";
    void SetUp() override {
        FixtureBackendTest::SetUp();
        ASSERT_EQ(system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
    }
    void TearDown() override {
        tqmovie_set_store(nullptr);
        FixtureBackendTest::TearDown();
        ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0);
    }
    tqmovie_store *open(int32_t read_only = 0, int32_t on_bad = TQMOVIE_STORE_FAIL) {
        tqmovie_store_options o;
        tqmovie_store_options_init(&o, sizeof o);
        o.read_only = read_only;
        o.on_bad_file = on_bad;
        return tqmovie_store_open(path.c_str(), &o);
    }
    // Runs SQL on the store file directly, as another program would.
    void sql(const std::string &text) {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, text.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
};

// A client that can reach no service: what it answers comes from its store.
struct Offline {
    tqmovie_client *c = tqmovie_client_new(), *prev;
    explicit Offline(tqmovie_store *s) : prev(tqmovie_use(c)) {
        const tq_io stub = tolvane_io_stub();
        tqmovie_set_io(&stub);
        tqmovie_set_host(tqtest::kTestHost); // the same service: the store keys records by it
        tqmovie_set_store(s);
    }
    ~Offline() {
        tqmovie_use(prev);
        tqmovie_client_free(c);
    }
};

TEST_F(Store, RecordsAreWrittenThroughAndReadBackElsewhere) {
    tqmovie_store *s = open();
    ASSERT_NE(s, nullptr) << tqmovie_last_error();
    ASSERT_EQ(tqmovie_set_store(s), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_get_detail("tt0111161", "de-DE", TQMOVIE_DETAIL_CAST), TQMOVIE_OK);
    const char *ids[] = {"tt0068646", "tt0468569"};
    ASSERT_EQ(tqmovie_get_basics(ids, 2), TQMOVIE_OK);
    uint64_t titles = 0;
    EXPECT_EQ(tqmovie_store_count(s, &titles), TQMOVIE_OK);
    EXPECT_EQ(titles, 3u);
    {
        Offline other(s);
        EXPECT_EQ(tqmovie_get_detail("tt0111161", "de-DE", TQMOVIE_DETAIL_CAST), TQMOVIE_OK) << tqmovie_last_error();
        EXPECT_STREQ(tqmovie_detail_title(0), "The Shawshank Redemption");
        EXPECT_EQ(tqmovie_last_http_code(), 0);
        EXPECT_EQ(tqmovie_get_basic("tt0468569", nullptr), TQMOVIE_OK);
        // A batch of held titles is answered without a request.
        EXPECT_EQ(tqmovie_get_basics(ids, 2), TQMOVIE_OK) << tqmovie_last_error();
        EXPECT_EQ(tqmovie_basic_count(), 2);
        // Another language, or more sections than were fetched, is not there.
        EXPECT_EQ(tqmovie_get_detail("tt0111161", "pt-BR", TQMOVIE_DETAIL_CAST), TQMOVIE_ERR_TRANSPORT);
        EXPECT_EQ(tqmovie_get_detail("tt0111161", "de-DE", TQMOVIE_DETAIL_ALL), TQMOVIE_ERR_TRANSPORT);
        // The lifetimes judge a stored record as they judge one in memory.
        tqmovie_cache_clear();
        sql("UPDATE records SET fetched_at = fetched_at - 100000");
        EXPECT_EQ(tqmovie_get_basic("tt0468569", nullptr), TQMOVIE_ERR_TRANSPORT);
        // Invalidation reaches the store; clearing the memory cache does not.
        tqmovie_cache_invalidate("tt0068646");
    }
    EXPECT_EQ(tqmovie_store_count(s, &titles), TQMOVIE_OK);
    EXPECT_EQ(titles, 2u);
    EXPECT_EQ(tqmovie_store_close(s), TQMOVIE_ERR_ARG) << "still set on the global client";
    tqmovie_set_store(nullptr);
    EXPECT_EQ(tqmovie_store_close(s), TQMOVIE_OK);
}

TEST_F(Store, AnotherProcessReadsWhatOneWrote) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        tqmovie_store *s = open();
        const bool ok =
            s && tqmovie_set_store(s) == TQMOVIE_OK && tqmovie_get_basic("tt0133093", nullptr) == TQMOVIE_OK;
        if (!ok) std::fprintf(stderr, "child: %s\n", tqmovie_last_error());
        tqmovie_set_store(nullptr);
        tqmovie_store_close(s);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    tqmovie_store *s = open(1);
    ASSERT_NE(s, nullptr) << tqmovie_last_error();
    {
        Offline reader(s);
        EXPECT_EQ(tqmovie_get_basic("tt0133093", nullptr), TQMOVIE_OK) << tqmovie_last_error();
        EXPECT_STREQ(tqmovie_basic_title(0), "The Matrix");
    }
    EXPECT_EQ(tqmovie_store_clear(s), TQMOVIE_ERR_FILE) << "read-only";
    EXPECT_EQ(tqmovie_store_close(s), TQMOVIE_OK);
}

TEST_F(Store, FilesThatAreNotStoresAreRefusedClearly) {
    const struct {
        const char *name;
        std::string setup; // "garbage", "newer", "other", or "" for no file
        int32_t read_only;
        const char *says;
    } cases[] = {
        {"garbage", "garbage", 0, "file is not a database"},
        {"newer schema", "newer", 0, "schema version 2 is newer than this library reads (1)"},
        {"another program's database", "other", 0, "not a tqmovie store"},
        {"a missing file opened read-only", "", 1, "unable to open database file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(path.c_str());
        if (c.setup == "garbage") std::ofstream(path) << std::string(8192, 'x');
        if (c.setup == "newer") sql("PRAGMA user_version = 2");
        if (c.setup == "other") sql("CREATE TABLE notes(text)");
        EXPECT_EQ(open(c.read_only), nullptr);
        EXPECT_NE(std::string(tqmovie_last_error()).find(c.says), std::string::npos) << tqmovie_last_error();
        EXPECT_NE(std::string(tqmovie_last_error()).find("store " + path), std::string::npos);
    }
    // Moved aside on request, and a new store started in its place.
    std::remove(path.c_str());
    std::ofstream(path) << std::string(8192, 'x');
    tqmovie_store *s = open(0, TQMOVIE_STORE_MOVE_ASIDE);
    ASSERT_NE(s, nullptr) << tqmovie_last_error();
    EXPECT_EQ(access((path + ".bad").c_str(), F_OK), 0);
    EXPECT_EQ(tqmovie_store_close(s), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_store_open(nullptr, nullptr), nullptr);
    EXPECT_STREQ(tqmovie_last_error(), "path required");
}

// A service that answers, then is gone: the store answers for it when asked to.
TEST_F(Store, StaleAnswersAndOfflineWhenTheServiceIsGone) {
    tqmovie_store *s = open();
    ASSERT_NE(s, nullptr);
    tq_io io = tolvane_io_curl_pooled(nullptr);
    {
        auto srv = std::make_unique<tqtest::LoopbackServer>([](const tqtest::HttpRequest &r) {
            tqtest::HttpResponse res;
            res.body = r.method == "POST"
                           ? "[{\"imDbId\":\"tt1\",\"title\":\"One\"},{\"imDbId\":\"tt2\",\"title\":\"Two\"}]"
                           : "{\"imDbId\":\"tt1\",\"title\":\"One\"}";
            return res;
        });
        tqmovie_set_io(&io);
        tqmovie_set_host(srv->base().c_str());
        tqmovie_set_store(s);
        ASSERT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_OK);
        const char *both[] = {"tt1", "tt2"};
        ASSERT_EQ(tqmovie_get_basics(both, 2), TQMOVIE_OK);
    }                                                          // the service stops: every request now fails to connect
    sql("UPDATE records SET fetched_at = fetched_at - 90000"); // a day and an hour old
    tqmovie_cache_clear();
    EXPECT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_ERR_TRANSPORT);
    EXPECT_EQ(tqmovie_last_stale(), -1);
    ASSERT_EQ(tqmovie_set_stale_if_error(7200), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_STREQ(tqmovie_basic_title(0), "One");
    EXPECT_GE(tqmovie_last_stale(), 3600);
    const char *batch[] = {"tt1", "tt2"};
    EXPECT_EQ(tqmovie_get_basics(batch, 2), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(tqmovie_basic_count(), 2);
    ASSERT_EQ(tqmovie_set_stale_if_error(60), TQMOVIE_OK); // not that stale
    EXPECT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_ERR_TRANSPORT);
    EXPECT_EQ(tqmovie_set_stale_if_error(-1), TQMOVIE_ERR_ARG);
    // Offline: no request, any age, and what is held nowhere says so.
    tqmovie_set_offline(1);
    EXPECT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_OK);
    EXPECT_EQ(tqmovie_get_basic("tt3", nullptr), TQMOVIE_ERR_TRANSPORT);
    EXPECT_STREQ(tqmovie_last_error(), "offline: not cached");
    const char *three[] = {"tt1", "tt3", "tt2"};
    EXPECT_EQ(tqmovie_get_basics(three, 3), TQMOVIE_ERR_TRANSPORT);
    EXPECT_STREQ(tqmovie_last_error(), "offline: 1 ids not cached");
    EXPECT_EQ(tqmovie_basic_count(), 2) << "the ids held are answered";
    EXPECT_EQ(tqmovie_is_movie("tt1", nullptr), TQMOVIE_ERR_TRANSPORT);
    EXPECT_STREQ(tqmovie_last_error(), "offline: not cached");
    tqmovie_set_offline(0);
    tqmovie_set_stale_if_error(0);
    tqmovie_set_store(nullptr);
    tqmovie_shutdown();
    tolvane_io_curl_pooled_free(&io);
    EXPECT_EQ(tqmovie_store_close(s), TQMOVIE_OK);
}

} // namespace
