// SPDX-License-Identifier: MIT
// The cache file and the store under failing I/O, from one table: a row per operation
// (a save over an older file, a save of a new file, a load; lookups writing through to
// a store, lookups read through from one, a store's open), each run with the 1st, 2nd, 3rd ... call
// of one kind failing (that one only, and every one from it on) until a run goes
// through untouched, for every kind of file call. After every run: the status is
// TQMOVIE_OK or TQMOVIE_ERR_FILE with a text naming the file; the file is the older one
// or the whole new one; the cache holds what it held; the folder holds nothing but the
// file; no descriptor and no block the operation took is left. A store's lookups all
// answer (a store that fails costs a lookup nothing), and the file stays a store that
// opens, holding at most what was written (all of it when nothing was written).
#include "alloc_fail.h"
#include "host_backend.h"
#include "io_fail.h"
#include "tqmovie.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char *const kSaved[] = {"tt0111161", "tt0068646", "tt0903747"}; // the cache a save writes
const char *const kOlder = "tt0109830";                               // the older file's one title
const char *const kHeld = "tt0468569";                                // the cache before a load: one title of its own

enum class Op { save_over_older, save_new, load, store_write, store_read, store_open };
bool on_store(Op op) { return op >= Op::store_write; }

struct Row {
    const char *name;
    Op op;
    std::vector<tqtest_io_kind> used; // kinds the operation cannot do without
};

const Row kRows[] = {
    {"SaveOverAnOlderFile",
     Op::save_over_older,
     {TQTEST_IO_OPEN, TQTEST_IO_WRITE, TQTEST_IO_SYNC, TQTEST_IO_RENAME, TQTEST_IO_CLOSE}},
    {"SaveANewFile",
     Op::save_new,
     {TQTEST_IO_OPEN, TQTEST_IO_WRITE, TQTEST_IO_SYNC, TQTEST_IO_RENAME, TQTEST_IO_CLOSE}},
    {"LoadASavedFile", Op::load, {TQTEST_IO_OPEN, TQTEST_IO_READ, TQTEST_IO_CLOSE, TQTEST_IO_STAT}},
    {"StoreWritesThrough", Op::store_write, {TQTEST_IO_WRITE}},
    {"StoreReadsThrough", Op::store_read, {TQTEST_IO_READ}},
    {"StoreOpens", Op::store_open, {TQTEST_IO_OPEN, TQTEST_IO_READ, TQTEST_IO_STAT}},
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

void spill(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> listing(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::string joined(const std::vector<std::string> &names) {
    std::string out;
    for (const auto &n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}

// The service of the store rows, from memory: its answers touch no file.
int32_t memory_get(void *, const char *url, char **body, int32_t *status, char **) {
    const char *id = std::strstr(url, "imdbId=");
    char json[128];
    std::snprintf(json, sizeof json, R"({"imDbId":"%.9s","title":"T","plot":"P"})", id ? id + 7 : "");
    *body = strdup(json);
    *status = 200;
    return 0;
}

class IoSweep : public tqtest::FixtureBackendTest, public ::testing::WithParamInterface<Row> {
protected:
    std::string base, dir, path, ref; // dir holds only the file the row works on; ref is aside
    std::string older, want;          // the older file; what an untouched save writes

    void SetUp() override {
        char tmpl[] = "/tmp/tq-io-sweep-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        base = tmpl;
        dir = base + "/work";
        path = dir + "/cache.json";
        ref = base + "/ref.json";
        std::filesystem::create_directory(dir);
        FixtureBackendTest::SetUp();
        ASSERT_EQ(tqmovie_get_basic(kOlder, nullptr), TQMOVIE_OK);
        ASSERT_EQ(tqmovie_cache_save(ref.c_str()), TQMOVIE_OK) << tqmovie_last_error();
        older = tqtest::slurp(ref);
    }
    void TearDown() override {
        FixtureBackendTest::TearDown();
        std::filesystem::remove_all(base);
    }

    tqmovie_store *store = nullptr;
    std::string db() const { return dir + "/store.db"; }

    // A fresh library with the row's store: open and set, empty (writes), holding the
    // titles with the memory cache empty and no service behind it (reads), or closed
    // (open).
    void begin_store_run(Op op) {
        tqtest::reset_library();
        const tq_io memory{nullptr, memory_get, nullptr, nullptr};
        tqmovie_set_io(&memory);
        for (const char *tail : {"", "-wal", "-shm"}) std::filesystem::remove(db() + tail);
        store = tqmovie_store_open(db().c_str(), nullptr);
        ASSERT_NE(store, nullptr) << tqmovie_last_error();
        ASSERT_EQ(tqmovie_set_store(store), TQMOVIE_OK);
        if (op == Op::store_write) return;
        for (const char *id : kSaved) ASSERT_EQ(tqmovie_get_detail(id, nullptr, 0), TQMOVIE_OK);
        tqmovie_cache_clear();
        const tq_io stub = tolvane_io_stub();
        tqmovie_set_io(&stub);
        tqmovie_set_store(nullptr);
        ASSERT_EQ(tqmovie_store_close(store), TQMOVIE_OK);
        store = nullptr;
        if (op == Op::store_open) return;
        // Read back through a connection of its own, whose pages are not yet in memory.
        store = tqmovie_store_open(db().c_str(), nullptr);
        ASSERT_NE(store, nullptr) << tqmovie_last_error();
        ASSERT_EQ(tqmovie_set_store(store), TQMOVIE_OK);
    }

    int32_t store_op(Op op) {
        int32_t worst = TQMOVIE_OK;
        if (op == Op::store_open) {
            store = tqmovie_store_open(db().c_str(), nullptr);
            return store ? TQMOVIE_OK : TQMOVIE_ERR_FILE;
        }
        for (const char *id : kSaved) {
            const int32_t st = tqmovie_get_detail(id, nullptr, 0);
            // Reads: the store answers, or the stub behind it fails.
            EXPECT_TRUE(st == TQMOVIE_OK || (op == Op::store_read && st == TQMOVIE_ERR_TRANSPORT))
                << id << ": " << st << " " << tqmovie_last_error();
            if (st != TQMOVIE_OK) worst = st;
        }
        return worst;
    }

    // After the store is let go: it opens, holds what it may, and nothing else lies beside it.
    void check_store_run(Op op, int32_t st, bool hit) {
        if (!hit) {
            EXPECT_EQ(st, TQMOVIE_OK) << "untouched run: " << tqmovie_last_error();
        }
        if (op == Op::store_open && st != TQMOVIE_OK) {
            EXPECT_NE(std::string(tqmovie_last_error()).find(db()), std::string::npos) << tqmovie_last_error();
        }
        tqmovie_set_store(nullptr);
        if (store) {
            EXPECT_EQ(tqmovie_store_close(store), TQMOVIE_OK);
        }
        store = nullptr;
        tqmovie_store *again = tqmovie_store_open(db().c_str(), nullptr);
        ASSERT_NE(again, nullptr) << "no longer a store: " << tqmovie_last_error();
        uint64_t titles = 0;
        EXPECT_EQ(tqmovie_store_count(again, &titles), TQMOVIE_OK);
        if (op == Op::store_write) {
            EXPECT_LE(titles, 3u);
        } else {
            EXPECT_EQ(titles, 3u) << "a read or an open lost records";
        }
        EXPECT_EQ(tqmovie_store_close(again), TQMOVIE_OK);
        for (const std::string &n : listing(dir)) {
            EXPECT_TRUE(n == "store.db" || n == "store.db-wal" || n == "store.db-shm") << "left in the folder: " << n;
        }
    }

    // A fresh library with the row's cache, and the row's folder.
    void begin_run(Op op) {
        tqtest::reset_library();
        install_fixtures();
        std::filesystem::remove(path);
        for (const char *id : kSaved) {
            ASSERT_EQ(tqmovie_get_basic(id, nullptr), TQMOVIE_OK);
            ASSERT_EQ(tqmovie_get_detail(id, nullptr, 0), TQMOVIE_OK);
        }
        ASSERT_EQ(tqmovie_cache_save(ref.c_str()), TQMOVIE_OK) << tqmovie_last_error();
        want = tqtest::slurp(ref);
        if (op == Op::save_over_older) spill(path, older);
        if (op == Op::load) {
            spill(path, want);
            tqmovie_cache_clear();
            ASSERT_EQ(tqmovie_get_basic(kHeld, nullptr), TQMOVIE_OK);
        }
    }

    void check_run(Op op, int32_t st, bool hit) {
        const std::string text = tqmovie_last_error();
        if (!hit) {
            EXPECT_EQ(st, TQMOVIE_OK) << "untouched run: " << text;
        }
        // No allocation fails here: out of memory would hide an I/O error.
        EXPECT_TRUE(st == TQMOVIE_OK || st == TQMOVIE_ERR_FILE) << "status " << st << ": \"" << text << "\"";
        if (st == TQMOVIE_OK) {
            EXPECT_EQ(text, "");
        } else {
            EXPECT_NE(text.find(path), std::string::npos) << "the text does not name the file: \"" << text << "\"";
        }

        const std::vector<std::string> names = listing(dir);
        const bool exists = names == std::vector<std::string>{"cache.json"};
        EXPECT_TRUE(exists || names.empty()) << "left in the folder: " << joined(names);
        const std::string now = tqtest::slurp(path);
        switch (op) {
        case Op::save_over_older:
            EXPECT_TRUE(exists);
            EXPECT_TRUE(now == want || (st != TQMOVIE_OK && now == older)) << "a torn file:\n" << now;
            break;
        case Op::save_new:
            // A failed save may still have put the whole new file in place (when only
            // the folder's sync failed), never part of one.
            EXPECT_TRUE(exists || st != TQMOVIE_OK);
            if (exists) {
                EXPECT_EQ(now, want) << "a torn file";
            }
            break;
        case Op::load: EXPECT_EQ(now, want) << "a load changed the file"; break;
        default: break;
        }

        const bool loaded = op == Op::load && st == TQMOVIE_OK;
        for (const char *id : kSaved) {
            EXPECT_EQ(tqmovie_cache_has(id, nullptr, nullptr), op != Op::load || loaded) << id;
        }
        if (op == Op::load) {
            EXPECT_EQ(tqmovie_cache_has(kHeld, nullptr, nullptr), !loaded) << kHeld;
        }
    }
};

TEST_P(IoSweep, EachFailingCallLeavesFileAndCacheWhole) {
    const Row &row = GetParam();
    long calls[TQTEST_IO_KINDS] = {};
    for (int i = 0; i < TQTEST_IO_KINDS; ++i) {
        const auto kind = static_cast<tqtest_io_kind>(i);
        for (const bool from_on : {false, true}) {
            for (long k = 0;; ++k) {
                SCOPED_TRACE(std::string(tqtest_io_kind_name(kind)) + " call " + std::to_string(k + 1) +
                             (from_on ? " and every later one" : "") + " failing");
                const bool stored = on_store(row.op);
                const int fds_before = tqtest::open_fds();
                if (stored)
                    begin_store_run(row.op);
                else
                    begin_run(row.op);
                if (HasFatalFailure()) return;
                tqtest::reset_tracking();
                const int fds = tqtest::open_fds();
                int32_t st;
                bool hit;
                {
                    tqtest::AllocFailure track(-1); // count and track only
                    tqtest::IoFailure fail(kind, k, from_on);
                    st = stored               ? store_op(row.op)
                         : row.op == Op::load ? tqmovie_cache_load(path.c_str())
                                              : tqmovie_cache_save(path.c_str());
                    hit = fail.triggered();
                }
                if (stored) {
                    check_store_run(row.op, st, hit);
                    if (HasFatalFailure()) return;
                } else {
                    check_run(row.op, st, hit);
                }
                EXPECT_EQ(tqtest::open_fds(), stored ? fds_before : fds) << "a descriptor leaked";
                tqmovie_shutdown(); // what a load adopted goes with the cache
                EXPECT_EQ(tqtest::live_allocations(), 0) << "blocks the operation took are not back";
                if (!hit) break;
                ASSERT_LT(k, 10000) << "runaway";
                if (!from_on) calls[i] = k + 1;
            }
        }
    }
    for (const tqtest_io_kind kind : row.used) {
        EXPECT_GT(calls[kind], 0) << "never called: " << tqtest_io_kind_name(kind);
    }
    std::string summary;
    for (int i = 0; i < TQTEST_IO_KINDS; ++i)
        summary +=
            std::string(" ") + tqtest_io_kind_name(static_cast<tqtest_io_kind>(i)) + " " + std::to_string(calls[i]);
    std::printf("[  sweep   ] %s: calls failed in turn:%s\n", row.name, summary.c_str());
}

std::string row_name(const ::testing::TestParamInfo<Row> &row) { return row.param.name; }
INSTANTIATE_TEST_SUITE_P(Table, IoSweep, ::testing::ValuesIn(kRows), row_name);

} // namespace
