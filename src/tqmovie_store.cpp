// SPDX-License-Identifier: MIT
// tqmovie_store: the record cache on disk, shared by clients, threads and processes: a
// SQLite file in WAL mode holding every record a client's memory cache took, as its
// complete JSON export, keyed by service, title, kind and language. One connection per
// store, and one lock held across each transaction, so the transactions of two
// threads never interleave; writers start with BEGIN IMMEDIATE under a busy timeout,
// so writers of other processes wait rather than fail.
#include "tq_cache.h"
#include "tq_internal.h"
#include "tq_request.h"
#include "tq_store.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <new>
#include <pthread.h>

namespace {

constexpr int schema_version = 1;
constexpr int busy_timeout_ms = 10000;
// The title limit is applied every so many writes: counting the titles costs a scan.
constexpr unsigned prune_every = 64;

// A rowid table with the key as a unique index: records run to kilobytes, and in a
// table without rowids they would leave a few keys per page, so that finding one in
// 100,000 would read the file again each time.
const char k_schema[] = "CREATE TABLE IF NOT EXISTS records("
                        " service TEXT NOT NULL, title TEXT NOT NULL, kind INTEGER NOT NULL,"
                        " language TEXT NOT NULL, sections INTEGER NOT NULL, fetched_at INTEGER NOT NULL,"
                        " json TEXT NOT NULL, UNIQUE (service, title, kind, language));"
                        "PRAGMA user_version = 1;";

const char k_put[] = "INSERT OR REPLACE INTO records(service, title, kind, language, sections, fetched_at, json)"
                     " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)";
const char k_get[] = "SELECT json, fetched_at, sections FROM records"
                     " WHERE service = ?1 AND title = ?2 AND kind = ?3 AND language = ?4";
const char k_forget[] = "DELETE FROM records WHERE service = ?1 AND title = ?2";
const char k_prune[] = "DELETE FROM records WHERE (service, title) IN (SELECT service, title FROM records"
                       " GROUP BY service, title ORDER BY MAX(fetched_at) DESC LIMIT -1 OFFSET ?1)";

const char *lang_key(const char *language) noexcept { return language && language[0] ? language : "en-US"; }

struct stmt_deleter {
    void operator()(sqlite3_stmt *s) const noexcept { sqlite3_finalize(s); }
};
using stmt_ptr = std::unique_ptr<sqlite3_stmt, stmt_deleter>;

} // namespace

struct tqmovie_store {
    sqlite3 *db = nullptr;
    pthread_mutex_t lock;
    std::atomic<int> users{0};
    bool read_only = false;
    uint64_t max_titles = 0;
    int depth = 0; // transactions open on the thread holding the lock
    unsigned writes = 0;
    bool bad_file = false; // the last open failed on a file that is not a store
    sqlite3_stmt *put = nullptr, *get = nullptr, *forget = nullptr;
    char *path = nullptr;
};

namespace {

// The store's lock, recursive: a chunk's transaction holds it across its puts.
class locked {
public:
    explicit locked(tqmovie_store &s) noexcept : s_(s) { pthread_mutex_lock(&s_.lock); }
    ~locked() { pthread_mutex_unlock(&s_.lock); }
    locked(const locked &) = delete;
    locked &operator=(const locked &) = delete;

private:
    tqmovie_store &s_;
};

bool exec(sqlite3 *db, const char *sql) noexcept {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Opens a transaction on the locked store (or joins the one open): a writer's takes
// the write lock at once, a reader's only a snapshot. false when none could be begun.
bool begin(tqmovie_store &s, tq_store_mode mode = tq_store_mode::write) noexcept {
    if (s.depth++ > 0) return true;
    if (exec(s.db, mode == tq_store_mode::write ? "BEGIN IMMEDIATE" : "BEGIN")) return true;
    s.depth = 0;
    return false;
}

void prune(tqmovie_store &s) noexcept {
    if (s.max_titles == 0 || s.max_titles > INT64_MAX) return;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(s.db, k_prune, -1, &st, nullptr) != SQLITE_OK) return;
    stmt_ptr owned(st);
    sqlite3_bind_int64(st, 1, static_cast<sqlite3_int64>(s.max_titles));
    sqlite3_step(st);
}

// Ends the transaction (or leaves the one joined); a writer's applies the title limit
// every so many writes, a reader's never writes.
void commit(tqmovie_store &s, tq_store_mode mode = tq_store_mode::write) noexcept {
    if (s.depth == 0 || --s.depth > 0) return;
    const bool due = (s.writes / prune_every) != ((s.writes + 1) / prune_every) || s.writes == 0;
    if (mode == tq_store_mode::write && due) prune(s);
    if (!exec(s.db, "COMMIT")) exec(s.db, "ROLLBACK");
}

void release(tqmovie_store *s) noexcept {
    if (!s) return;
    sqlite3_finalize(s->put);
    sqlite3_finalize(s->get);
    sqlite3_finalize(s->forget);
    sqlite3_close_v2(s->db);
    pthread_mutex_destroy(&s->lock);
    std::free(s->path);
    s->~tqmovie_store();
    std::free(s);
}

int32_t store_error(tqmovie_client &c, const char *path, const char *what) noexcept {
    tq_err(c, "store %s: %s", path, what);
    return TQMOVIE_ERR_FILE;
}

// The options as this build knows them, read up to the caller's own size.
tqmovie_store_options effective(const tqmovie_store_options *o) noexcept {
    tqmovie_store_options e{};
    if (o) std::memcpy(&e, o, o->size < sizeof e ? o->size : sizeof e);
    e.size = sizeof e;
    return e;
}

// Sets up the schema of a new file, or checks that of an existing one. 0, or the
// status with its text.
int32_t check_schema(tqmovie_client &c, tqmovie_store &s, const char *path) noexcept {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(s.db, "PRAGMA user_version", -1, &st, nullptr) != SQLITE_OK)
        return store_error(c, path, sqlite3_errmsg(s.db));
    stmt_ptr owned(st);
    if (sqlite3_step(st) != SQLITE_ROW) return store_error(c, path, sqlite3_errmsg(s.db));
    const int version = sqlite3_column_int(st, 0);
    owned.reset();
    if (version > schema_version) {
        tq_err(c, "store %s: schema version %d is newer than this library reads (%d)", path, version, schema_version);
        return TQMOVIE_ERR_FILE;
    }
    if (version == schema_version) return TQMOVIE_OK;
    // Version 0: a new file, or a database of somebody else's.
    if (sqlite3_prepare_v2(s.db, "SELECT count(*) FROM sqlite_schema", -1, &st, nullptr) != SQLITE_OK)
        return store_error(c, path, sqlite3_errmsg(s.db));
    owned.reset(st);
    if (sqlite3_step(st) != SQLITE_ROW) return store_error(c, path, sqlite3_errmsg(s.db));
    if (sqlite3_column_int(st, 0) != 0) {
        s.bad_file = true;
        return store_error(c, path, "not a tqmovie store");
    }
    owned.reset();
    if (s.read_only) return store_error(c, path, "a new store cannot be opened read-only");
    if (!exec(s.db, "BEGIN IMMEDIATE")) return store_error(c, path, sqlite3_errmsg(s.db));
    if (!exec(s.db, k_schema)) {
        const int32_t st_err = store_error(c, path, sqlite3_errmsg(s.db));
        exec(s.db, "ROLLBACK");
        return st_err;
    }
    return exec(s.db, "COMMIT") ? TQMOVIE_OK : store_error(c, path, sqlite3_errmsg(s.db));
}

// The file opened and checked into s. 0, or the status with its text.
int32_t open_db(tqmovie_client &c, tqmovie_store &s, const char *path) noexcept {
    const int flags =
        (s.read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path, &s.db, flags, nullptr) != SQLITE_OK)
        return store_error(c, path, s.db ? sqlite3_errmsg(s.db) : "out of memory");
    sqlite3_extended_result_codes(s.db, 1);
    // The timeout first: switching to WAL itself waits for other connections.
    sqlite3_busy_timeout(s.db, busy_timeout_ms);
    // Pages of 16 KiB hold a record or more each (a new file only; an existing one keeps
    // its own size).
    if (!s.read_only && !exec(s.db, "PRAGMA page_size=16384; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL")) {
        s.bad_file = sqlite3_errcode(s.db) == SQLITE_NOTADB || sqlite3_errcode(s.db) == SQLITE_CORRUPT;
        return store_error(c, path, sqlite3_errmsg(s.db));
    }
    if (const int32_t st = check_schema(c, s, path)) {
        s.bad_file = s.bad_file || sqlite3_errcode(s.db) == SQLITE_NOTADB || sqlite3_errcode(s.db) == SQLITE_CORRUPT;
        return st;
    }
    if (sqlite3_prepare_v3(s.db, k_put, -1, SQLITE_PREPARE_PERSISTENT, &s.put, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(s.db, k_get, -1, SQLITE_PREPARE_PERSISTENT, &s.get, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(s.db, k_forget, -1, SQLITE_PREPARE_PERSISTENT, &s.forget, nullptr) != SQLITE_OK)
        return store_error(c, path, sqlite3_errmsg(s.db));
    return TQMOVIE_OK;
}

tqmovie_store *make(tqmovie_client &c, const char *path, const tqmovie_store_options &o, int32_t *status,
                    bool *bad) noexcept {
    void *mem = std::calloc(1, sizeof(tqmovie_store));
    char *own_path = tq_strdup(path);
    if (!mem || !own_path) {
        std::free(mem);
        std::free(own_path);
        *status = TQMOVIE_ERR_NOMEM;
        return nullptr;
    }
    auto *s = new (mem) tqmovie_store{};
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&s->lock, &attr);
    pthread_mutexattr_destroy(&attr);
    s->path = own_path;
    s->read_only = o.read_only != 0;
    s->max_titles = o.max_titles;
    // Two processes making the same new file at once race for its first write (the
    // switch to WAL, the schema), and the loser can be told "locked" without the busy
    // handler being asked: it starts again, for as long as a busy writer is waited for.
    const int64_t until = tq_monotonic_ms() + busy_timeout_ms;
    while ((*status = open_db(c, *s, path)) != TQMOVIE_OK && s->db && tq_monotonic_ms() < until) {
        const int code = sqlite3_errcode(s->db) & 0xFF;
        if (code != SQLITE_BUSY && code != SQLITE_LOCKED) break;
        for (sqlite3_stmt **st : {&s->put, &s->get, &s->forget}) {
            sqlite3_finalize(*st);
            *st = nullptr;
        }
        sqlite3_close_v2(s->db);
        s->db = nullptr;
        s->bad_file = false;
        c.st->err[0] = '\0';
        timespec nap{0, 20 * 1000000L};
        nanosleep(&nap, nullptr);
    }
    if (*status == TQMOVIE_OK) return s;
    *bad = s->bad_file;
    release(s);
    return nullptr;
}

tqmovie_store *store_of(const tqmovie_client &c) noexcept { return c.ext.store; }

bool bind_key(sqlite3_stmt *st, const tqmovie_client &c, const char *id) noexcept {
    return sqlite3_bind_text(st, 1, c.st->host, -1, SQLITE_STATIC) == SQLITE_OK &&
           sqlite3_bind_text(st, 2, id, -1, SQLITE_STATIC) == SQLITE_OK;
}

// Runs a prepared statement to its end and resets it.
bool step_done(sqlite3_stmt *st) noexcept {
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return rc == SQLITE_DONE;
}

} // namespace

void tq_store_put(tqmovie_client &c, int kind, const char *id, const char *language, uint32_t sections, int64_t at,
                  const char *json) noexcept {
    tqmovie_store *s = store_of(c);
    if (!s || s->read_only || !id || !json) return;
    const locked l(*s);
    if (!begin(*s)) return;
    sqlite3_stmt *st = s->put;
    if (bind_key(st, c, id) && sqlite3_bind_int(st, 3, kind) == SQLITE_OK &&
        sqlite3_bind_text(st, 4, lang_key(language), -1, SQLITE_STATIC) == SQLITE_OK &&
        sqlite3_bind_int64(st, 5, sections) == SQLITE_OK && sqlite3_bind_int64(st, 6, at) == SQLITE_OK &&
        sqlite3_bind_text(st, 7, json, -1, SQLITE_STATIC) == SQLITE_OK)
        step_done(st);
    else
        sqlite3_reset(st);
    commit(*s);
    ++s->writes;
}

bool tq_store_get(tqmovie_client &c, int kind, const char *id, const char *language, uint32_t sections,
                  tq_store_row *out) noexcept {
    tqmovie_store *s = store_of(c);
    if (!s || !id) return false;
    const locked l(*s);
    sqlite3_stmt *st = s->get;
    bool found = false;
    if (bind_key(st, c, id) && sqlite3_bind_int(st, 3, kind) == SQLITE_OK &&
        sqlite3_bind_text(st, 4, lang_key(language), -1, SQLITE_STATIC) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
        const auto held = static_cast<uint32_t>(sqlite3_column_int64(st, 2));
        if (kind == tq_kind_basic || (sections & ~held & TQMOVIE_DETAIL_ALL) == 0) {
            out->json = tq_strdup(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
            out->at = sqlite3_column_int64(st, 1);
            out->sections = held;
            found = out->json != nullptr;
        }
    }
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return found;
}

void tq_store_forget(tqmovie_client &c, const char *id) noexcept {
    tqmovie_store *s = store_of(c);
    if (!s || s->read_only || !id) return;
    const locked l(*s);
    if (!begin(*s)) return;
    if (bind_key(s->forget, c, id)) step_done(s->forget);
    commit(*s);
}

tq_store_transaction::tq_store_transaction(tqmovie_client &c, tq_store_mode mode) noexcept
    : c_(c), mode_(mode), held_(false) {
    tqmovie_store *s = store_of(c);
    if (!s || (s->read_only && mode == tq_store_mode::write)) return;
    pthread_mutex_lock(&s->lock);
    held_ = begin(*s, mode);
    if (!held_) pthread_mutex_unlock(&s->lock);
}

tq_store_transaction::~tq_store_transaction() {
    if (!held_) return;
    tqmovie_store *s = store_of(c_);
    commit(*s, mode_);
    pthread_mutex_unlock(&s->lock);
}

void tq_store_detach(tqmovie_client &c) noexcept {
    if (tqmovie_store *s = std::exchange(c.ext.store, nullptr)) s->users.fetch_sub(1);
}

namespace {

// Moves a file that is not a store aside ("<path>.bad", with its journal files), so
// that a new store can start in its place.
bool move_aside(const char *path) noexcept {
    malloc_ptr<char> to(tq_fmt("%s.bad", path));
    if (!to || ::rename(path, to.get()) != 0) return false;
    for (const char *suffix : {"-wal", "-shm"}) {
        malloc_ptr<char> from(tq_fmt("%s%s", path, suffix));
        if (from) ::unlink(from.get());
    }
    return true;
}

// One record of a store row into the cache of c, with its stamp.
bool adopt_row(tqmovie_client &c, int kind, const char *language, uint32_t sections, int64_t at,
               const char *json) noexcept {
    bool dense = false;
    json_doc doc(tq_json_read(json, std::strlen(json), &dense));
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (!yyjson_is_obj(root)) return false;
    if (kind == tq_kind_basic) {
        auto *rec = tq_calloc_n<tq_basic>(1);
        if (!rec) return false;
        if (tq_parse_basic_obj(root, rec) != 0 || !rec->imdb_id) {
            tq_free_basic(rec);
            std::free(rec);
            return false;
        }
        return tq_cache_adopt_basic(c, rec, language, at);
    }
    auto *rec = tq_calloc_n<tq_detail>(1);
    if (!rec) return false;
    if (tq_parse_detail_obj(root, rec, TQMOVIE_DETAIL_ALL) != 0 || !rec->imdb_id) {
        tq_free_detail(rec);
        std::free(rec);
        return false;
    }
    return tq_cache_adopt_detail(c, rec, language, sections, at);
}

// Whether s may be written: 0, or the status with its text.
int32_t writable(tqmovie_client &c, const tqmovie_store *s) noexcept {
    if (!s) return tq_fail(c, TQMOVIE_ERR_ARG, "store required");
    return s->read_only ? store_error(c, s->path, "opened read-only") : TQMOVIE_OK;
}

} // namespace

bool tq_store_adopt(tqmovie_client &c, int kind, const char *id, const char *language, uint32_t sections) noexcept {
    tq_store_row row{};
    if (!tq_store_get(c, kind, id, language, sections, &row)) return false;
    malloc_ptr<char> json(row.json);
    return adopt_row(c, kind, language, row.sections, row.at, json.get());
}

extern "C" {

void tqmovie_store_options_init(tqmovie_store_options *o, size_t size) {
    if (!o || size < sizeof o->size) return;
    tqmovie_store_options full{};
    full.size = size < sizeof full ? size : sizeof full;
    std::memcpy(o, &full, full.size);
}

tqmovie_store *tqmovie_store_open(const char *path, const tqmovie_store_options *options) {
    tqmovie_client &c = client();
    c.st->err[0] = '\0';
    if (!path || !path[0]) {
        tq_fail(c, TQMOVIE_ERR_ARG, "path required");
        return nullptr;
    }
    const tqmovie_store_options o = effective(options);
    int32_t st = TQMOVIE_OK;
    bool bad = false;
    tqmovie_store *s = make(c, path, o, &st, &bad);
    if (!s && bad && o.on_bad_file == TQMOVIE_STORE_MOVE_ASIDE && !o.read_only && move_aside(path)) {
        c.st->err[0] = '\0';
        s = make(c, path, o, &st, &bad);
    }
    return s;
}

int32_t tqmovie_store_close(tqmovie_store *s) {
    tqmovie_client &c = client();
    if (!s) return TQMOVIE_OK;
    if (s->users.load() > 0)
        return tq_fail(c, TQMOVIE_ERR_ARG, "store in use by a client (tqmovie_set_store(NULL) first)");
    release(s);
    return TQMOVIE_OK;
}

int32_t tqmovie_set_store(tqmovie_store *s) {
    tqmovie_client &c = client();
    if (s) s->users.fetch_add(1);
    tq_store_detach(c);
    c.ext.store = s;
    return TQMOVIE_OK;
}

int32_t tqmovie_store_clear(tqmovie_store *s) {
    tqmovie_client &c = client();
    if (const int32_t st = writable(c, s)) return st;
    const locked l(*s);
    if (!begin(*s)) return store_error(c, s->path, sqlite3_errmsg(s->db));
    const bool ok = exec(s->db, "DELETE FROM records");
    if (!ok) store_error(c, s->path, sqlite3_errmsg(s->db));
    commit(*s);
    return ok ? TQMOVIE_OK : TQMOVIE_ERR_FILE;
}

int32_t tqmovie_store_count(tqmovie_store *s, uint64_t *titles) {
    tqmovie_client &c = client();
    if (titles) *titles = 0;
    if (!s || !titles) return tq_fail(c, TQMOVIE_ERR_ARG, "store required");
    const locked l(*s);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(s->db, "SELECT count(*) FROM (SELECT DISTINCT service, title FROM records)", -1, &st,
                           nullptr) != SQLITE_OK)
        return store_error(c, s->path, sqlite3_errmsg(s->db));
    stmt_ptr owned(st);
    if (sqlite3_step(st) != SQLITE_ROW) return store_error(c, s->path, sqlite3_errmsg(s->db));
    *titles = static_cast<uint64_t>(sqlite3_column_int64(st, 0));
    return TQMOVIE_OK;
}

int32_t tqmovie_store_vacuum(tqmovie_store *s) {
    tqmovie_client &c = client();
    if (const int32_t st = writable(c, s)) return st;
    const locked l(*s);
    return exec(s->db, "VACUUM") ? TQMOVIE_OK : store_error(c, s->path, sqlite3_errmsg(s->db));
}

int32_t tqmovie_store_read_all(void) {
    tqmovie_client &c = client();
    tqmovie_store *s = store_of(c);
    if (!s) return tq_fail(c, TQMOVIE_ERR_ARG, "no store set");
    tq_ensure_defaults(*c.st);
    const locked l(*s);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(s->db,
                           "SELECT kind, language, sections, fetched_at, json FROM records WHERE service = ?1"
                           " ORDER BY fetched_at",
                           -1, &st, nullptr) != SQLITE_OK)
        return store_error(c, s->path, sqlite3_errmsg(s->db));
    stmt_ptr owned(st);
    sqlite3_bind_text(st, 1, c.st->host, -1, SQLITE_STATIC);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const auto *json = reinterpret_cast<const char *>(sqlite3_column_text(st, 4));
        const auto *lang = reinterpret_cast<const char *>(sqlite3_column_text(st, 1));
        if (!json || !lang) return TQMOVIE_ERR_NOMEM;
        adopt_row(c, sqlite3_column_int(st, 0), lang, static_cast<uint32_t>(sqlite3_column_int64(st, 2)),
                  sqlite3_column_int64(st, 3), json);
    }
    return rc == SQLITE_DONE ? TQMOVIE_OK : store_error(c, s->path, sqlite3_errmsg(s->db));
}

int32_t tqmovie_store_write_all(void) {
    tqmovie_client &c = client();
    tqmovie_store *s = store_of(c);
    if (!s) return tq_fail(c, TQMOVIE_ERR_ARG, "no store set");
    if (s->read_only) return store_error(c, s->path, "opened read-only");
    tq_ensure_defaults(*c.st);
    const tq_store_transaction batch(c, tq_store_mode::write);
    const tq_state &st = *c.st;
    for (size_t k = 0; k < st.cache_count; ++k) {
        const tq_cache_entry &e = st.cache[k];
        const tq_cache_slot_meta m = tq_cache_meta(c, k);
        if (e.basic) {
            tq_text out;
            tq_json_full(out, *e.basic);
            malloc_ptr<char> json(out.release());
            if (!json) return TQMOVIE_ERR_NOMEM;
            tq_store_put(c, tq_kind_basic, e.imdb_id, m.basic_lang, TQMOVIE_DETAIL_ALL, e.basic_at, json.get());
        }
        if (e.detail) {
            tq_text out;
            tq_json_full(out, *e.detail);
            malloc_ptr<char> json(out.release());
            if (!json) return TQMOVIE_ERR_NOMEM;
            tq_store_put(c, tq_kind_detail, e.imdb_id, m.detail_lang, m.detail_sections, e.detail_at, json.get());
        }
    }
    return TQMOVIE_OK;
}

int32_t tqmovie_set_stale_if_error(int64_t max_stale_seconds) {
    tqmovie_client &c = client();
    if (max_stale_seconds < 0) return tq_fail(c, TQMOVIE_ERR_ARG, "max_stale_seconds must be 0 or more");
    c.ext.max_stale = max_stale_seconds;
    return TQMOVIE_OK;
}

int64_t tqmovie_last_stale(void) { return ext().last_stale; }

int32_t tqmovie_set_offline(int32_t on) {
    ext().offline = on != 0;
    return TQMOVIE_OK;
}

int32_t tqmovie_set_refresh(int32_t on) {
    ext().refresh = on != 0;
    return TQMOVIE_OK;
}

} // extern "C"
