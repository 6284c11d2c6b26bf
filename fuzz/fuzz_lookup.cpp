// SPDX-License-Identifier: MIT
// Fuzzes whole lookups. A host backend answers every request with the status, headers
// and body the input spells (parse_answer in fuzz_common.h), and every lookup runs over
// that answer: the probe; basic and detail records in several languages and section
// sets, some of which the cache must answer and some it must not; the three batches in
// chunks of two, with one retry. After each: the status against what the answer
// allows, the header table, every getter against the complete export, both summaries
// parsed, and the complete export decoded back into an equal record.
#include "fuzz_common.h"

#include <algorithm>

namespace {

using namespace fuzz_store;

fuzz_backend backend;

// The batch chunk size, small so that several ids make several requests.
constexpr uint64_t ceiling = 2;

// Progress events of one lookup: chunks never go back, waits are retries.
struct progress_log {
    uint64_t done = 0;
    size_t chunks = 0;
    int32_t last_status = -1;
} progress;

int on_progress(const tqmovie_progress *e, void *) {
    FUZZ_CHECK(e != nullptr && e->size >= sizeof(tqmovie_progress) && e->done <= e->total);
    if (e->kind == TQMOVIE_PROGRESS_CHUNK_DONE) {
        FUZZ_CHECK(e->done >= progress.done && e->wait_ms == 0);
        progress.done = e->done;
        progress.last_status = e->status;
        ++progress.chunks;
    } else {
        FUZZ_CHECK(e->kind == TQMOVIE_PROGRESS_RETRY_WAIT && e->status != TQMOVIE_OK);
    }
    return 0;
}

// What a lookup that reached the backend may return, given the answer every request
// got. A batch turns a decoder's "empty" into a chunk without records.
void check_answered(int32_t st, bool batch) {
    const fuzz_answer &a = backend.answer;
    FUZZ_CHECK(tqmovie_last_http_code() == (a.status < 0 ? 0 : a.status));
    FUZZ_CHECK(g_tq.header_count == static_cast<int32_t>(backend.headers_stored()));
    const std::string err = tqmovie_last_error();
    if (a.status < 0) {
        std::string want = "transport: " + (a.has_body ? std::string(a.body.c_str()) : std::string("unknown"));
        if (want.size() > 511) want.resize(511);
        FUZZ_CHECK(st == TQMOVIE_ERR_TRANSPORT);
        fuzz_same(err, want, "transport error text");
    } else if (a.status < 200 || a.status > 299) {
        FUZZ_CHECK(st == TQMOVIE_ERR_HTTP);
        fuzz_same(err, "HTTP " + std::to_string(a.status), "HTTP error text");
    } else if (!a.has_body) {
        FUZZ_CHECK(st == TQMOVIE_ERR_EMPTY && err == "empty body");
    } else {
        FUZZ_CHECK(st == TQMOVIE_OK || st == TQMOVIE_ERR_PARSE || (!batch && st == TQMOVIE_ERR_EMPTY));
        if (st == TQMOVIE_ERR_PARSE) FUZZ_CHECK(!err.empty());
    }
    if (st == TQMOVIE_OK) FUZZ_CHECK(err.empty());
}

void check_probe(const char *id) {
    const size_t before = backend.requests();
    int32_t is_movie = -1;
    const int32_t st = tqmovie_is_movie(id, &is_movie);
    FUZZ_CHECK(tqmovie_basic_count() == 0 && tqmovie_detail_count() == 0 && tqmovie_trans_count() == 0);
    if (!id || !*id) {
        FUZZ_CHECK(st == TQMOVIE_ERR_ARG && is_movie == 0 && backend.requests() == before);
        return;
    }
    FUZZ_CHECK(backend.requests() > before);
    const fuzz_answer &a = backend.answer;
    if (a.status < 200 || a.status > 299 || !a.has_body) {
        check_answered(st, false);
        FUZZ_CHECK(is_movie == 0);
        return;
    }
    const char *p = a.body.c_str();
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    if (std::strncmp(p, "true", 4) == 0)
        FUZZ_CHECK(st == TQMOVIE_OK && is_movie == 1);
    else if (std::strncmp(p, "false", 5) == 0)
        FUZZ_CHECK(st == TQMOVIE_OK && is_movie == 0);
    else
        FUZZ_CHECK(st == TQMOVIE_ERR_PARSE && is_movie == 0 &&
                   std::strcmp(tqmovie_last_error(), "unexpected IsMovie body") == 0);
}

// What the cache holds for the title asked for, as these lookups stored it: a record
// is stored when a lookup that asked the service got one carrying the id asked for.
struct cached {
    bool held = false;
    std::string language; // "" for "en-US"
    uint32_t sections = 0;
    std::string full;
};

std::string language_key(const char *language) {
    return language && *language && std::strcmp(language, "en-US") != 0 ? language : "";
}

struct basic_single : basic_kind {
    static int32_t lookup(const char *id, const char *language, uint32_t) { return tqmovie_get_basic(id, language); }
    static void only_sections(uint32_t) {}
};
struct detail_single : detail_kind {
    static int32_t lookup(const char *id, const char *language, uint32_t s) {
        return tqmovie_get_detail(id, language, s);
    }
    // A record the cache answers with holds the sections asked for, no more.
    static void only_sections(uint32_t s) {
        const int32_t counts[] = {tqmovie_detail_cast_count(0) + tqmovie_detail_related_count(0),
                                  tqmovie_detail_picture_count(0), tqmovie_detail_provider_count(0),
                                  tqmovie_detail_video_count(0)};
        for (uint32_t k = 0; k < 4; ++k)
            if (!(s & (1u << k))) FUZZ_CHECK(counts[k] == 0);
    }
};

// One title: from the cache exactly when the model says it holds a fresh record fetched
// in the same language with every section asked for; else one request (two with the
// retry), whose answer decides the status.
template <typename K> void check_single(const char *id, const char *language, uint32_t sections, cached &model) {
    const size_t before = backend.requests();
    const int32_t st = K::lookup(id, language, sections);
    const bool asked = backend.requests() > before;
    const uint32_t want = (sections ? sections : TQMOVIE_DETAIL_ALL) & 15u;
    FUZZ_CHECK(K::count() == (st == TQMOVIE_OK ? 1 : 0));
    FUZZ_CHECK(tqmovie_trans_count() == 0 && tqmovie_basic_count() + tqmovie_detail_count() <= 1);
    if (!id || !*id) {
        FUZZ_CHECK(st == TQMOVIE_ERR_ARG && !asked && std::strcmp(tqmovie_last_error(), "imdb_id required") == 0);
        return;
    }
    const bool from_cache = model.held && model.language == language_key(language) && (want & ~model.sections) == 0;
    FUZZ_CHECK(asked != from_cache);
    if (from_cache) {
        FUZZ_CHECK(st == TQMOVIE_OK && tqmovie_last_http_code() == 0 && g_tq.header_count == 0);
        K::only_sections(want);
        if (want == model.sections) fuzz_same(take_text(K::full(0)), model.full, "record answered from the cache");
    } else {
        check_answered(st, false);
        // The first record the body decodes to, or none.
        const fuzz_answer &a = backend.answer;
        if (a.status >= 200 && a.status <= 299 && a.has_body) {
            const std::vector<std::string> keys = K::decode(a.body.c_str(), std::strlen(a.body.c_str()), 0);
            FUZZ_CHECK((st == TQMOVIE_OK) == !keys.empty());
            if (st == TQMOVIE_OK) fuzz_same(K::key(0), keys[0], "record of a single-title lookup");
        }
        const char *got = st == TQMOVIE_OK ? K::imdb_id(0) : nullptr;
        if (got && std::strcmp(got, id) == 0) model = cached{true, language_key(language), want, take_text(K::full(0))};
    }
    check_store<K>(1);
}

// A batch of ids in chunks: refused before any request when an id holds a comma, white
// space or a control byte; otherwise chunk after chunk until one fails, every record
// cached only under an id that was asked for, and at most 4 records per id plus 16
// per request.
template <typename K> void check_batch(const fuzz_ids &ids, uint64_t chunk) {
    const size_t before = backend.requests();
    progress = progress_log{};
    const int32_t st = K::batch(ids.ptr.data(), ids.size());
    const size_t made = backend.requests() - before;
    const char *what = nullptr;
    const long bad = ids.first_refused(&what);
    if (bad >= 0) {
        FUZZ_CHECK(st == TQMOVIE_ERR_ARG && made == 0 && K::count() == 0);
        fuzz_same(tqmovie_last_error(), "ids[" + std::to_string(bad) + "] contains " + what, "refused id text");
        return;
    }
    check_answered(st, true);
    const size_t chunks = (ids.size() + chunk - 1) / chunk;
    FUZZ_CHECK(made >= progress.chunks && made <= 2 * progress.chunks);
    FUZZ_CHECK(progress.chunks >= 1 && progress.chunks <= chunks && progress.last_status == st);
    if (st == TQMOVIE_OK) FUZZ_CHECK(progress.chunks == chunks && progress.done == ids.size());
    FUZZ_CHECK(static_cast<size_t>(K::count()) <= 4 * ids.size() + 16 * chunks);
    if (st == TQMOVIE_OK) {
        // Each chunk keeps the body's records in order, as many as its bound allows.
        const char *body = backend.answer.body.c_str();
        const std::vector<std::string> keys = K::decode(body, std::strlen(body), 1);
        std::vector<std::string> want;
        for (size_t at = 0; at < ids.size(); at += chunk) {
            const size_t most = 4 * std::min<size_t>(chunk, ids.size() - at) + 16;
            want.insert(want.end(), keys.begin(), keys.begin() + static_cast<long>(std::min(keys.size(), most)));
        }
        FUZZ_CHECK(static_cast<size_t>(K::count()) == want.size());
        for (size_t i = 0; i < want.size(); ++i)
            fuzz_same(K::key(static_cast<int32_t>(i)), want[i], "record of a batch");
    }
    for (size_t k = 0; k < g_tq.cache_count; ++k) {
        const char *key = g_tq.cache[k].imdb_id;
        FUZZ_CHECK(key && std::any_of(ids.ptr.begin(), ids.ptr.end(),
                                      [&](const char *id) { return id && !std::strcmp(id, key); }));
    }
    check_store<K>(8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    backend.answer = parse_answer(data, size);
    backend.forget();
    tqmovie_shutdown();
    const tq_io io = backend.table();
    tqmovie_set_io(&io);
    tqmovie_set_batch_ceiling(ceiling);
    tqmovie_set_retry(1, 0); // one more attempt, at once: Retry-After and the backoff read, never waited for
    tqmovie_set_progress(on_progress, nullptr);
    const fuzz_ids ids(backend.answer.ids);
    const char *id = ids.ptr[0];

    check_probe(id);
    cached basic, detail;
    check_single<basic_single>(id, nullptr, 0, basic);
    check_single<basic_single>(id, "en-US", 0, basic);
    check_single<basic_single>(id, "de-DE", 0, basic);
    check_single<detail_single>(id, nullptr, TQMOVIE_DETAIL_CAST, detail);
    check_single<detail_single>(id, "de-DE", TQMOVIE_DETAIL_CAST, detail);
    check_single<detail_single>(id, "en-US", 0, detail);
    check_single<detail_single>(id, "", TQMOVIE_DETAIL_ALL, detail);
    check_single<detail_single>(id, nullptr, TQMOVIE_DETAIL_CAST | TQMOVIE_DETAIL_VIDEOS, detail);
    check_batch<basic_kind>(ids, ceiling);
    check_batch<detail_kind>(ids, ceiling);
    check_batch<trans_kind>(ids, ids.size()); // one request for all
    tqmovie_set_progress(nullptr, nullptr);
    return 0;
}
