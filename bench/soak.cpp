// SPDX-License-Identifier: MIT
// soak: a million mixed operations on one process (lookups, batches, translations,
// probes, getters, exports, cache operations with saves and loads, clients made and
// freed), through the fixture backend and a host backend that answers any id from
// memory. Resident memory is read after every 100,000 operations; the run passes when
// the figure after the last operation is within 5% of the one after the first 100,000
// and every operation ended with the status it should. Not a test: run it by hand
// (about a minute in a Release build).
//
//   build-bench/bench/soak [OPERATIONS [SEED]]      defaults: 1000000 1
#include "tqmovie.h"

#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------
// A host backend answering from memory: a record for every id asked, of a size that
// varies with the id, so the heap sees allocations of every size.
// ---------------------------------------------------------------------------------

char *heap_copy(const std::string &s) {
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (p) std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

unsigned id_number(const std::string &id) { return static_cast<unsigned>(std::strtoul(id.c_str() + 2, nullptr, 10)); }

std::string basic_json(const std::string &id) {
    const unsigned n = id_number(id);
    std::string j = "{\"imDbId\":\"" + id + "\",\"title\":\"Title " + id + std::string(n % 97, 'x') +
                    "\",\"year\":" + std::to_string(1900 + n % 120) + ",\"duration\":" + std::to_string(60 + n % 120) +
                    ",\"isTVShow\":" + (n % 3 ? "false" : "true") + ",\"directors\":[";
    for (unsigned i = 0; i < n % 4; ++i) j += (i ? ",\"Director " : "\"Director ") + std::to_string(i) + "\"";
    return j + "],\"genres\":\"Drama, Crime\",\"ratings\":{\"imDb\":" + std::to_string(n % 10) + ".5}}";
}

std::string detail_json(const std::string &id) {
    const unsigned n = id_number(id);
    std::string j = "{\"imDbId\":\"" + id + "\",\"title\":\"Title " + id + "\",\"plot\":\"" +
                    std::string(n % 301, 'p') + "\",\"startYear\":" + std::to_string(1950 + n % 70) +
                    ",\"imDbRating\":7.25,\"casts\":[";
    for (unsigned i = 0; i < n % 9; ++i)
        j += std::string(i ? "," : "") + "{\"name\":\"Actor " + std::to_string(i) + "\",\"role\":\"Role\"}";
    j += "],\"pictures\":[";
    for (unsigned i = 0; i < n % 5; ++i)
        j += std::string(i ? "," : "") + "{\"url\":\"https://img.example/" + std::to_string(i) + "\",\"width\":100}";
    j += "],\"watchProviders\":[{\"country\":\"DE\",\"name\":\"Stream\"}],\"videos\":[{\"key\":\"k" + id +
         "\",\"site\":\"Tube\"}],\"relatedIMDbIds\":[\"tt0111161\"]}";
    return j;
}

std::string trans_json(const std::string &id) {
    return "{\"imDbId\":\"" + id + "\",\"translations\":[{\"title\":\"Titel\",\"lang\":\"de\",\"region\":\"DE\"}]}";
}

// The value of key=... in a URL's query, or "".
std::string query_value(const char *url, const char *key) {
    const char *q = std::strstr(url, key);
    if (!q) return {};
    q += std::strlen(key);
    return std::string(q, std::strcspn(q, "&"));
}

int32_t memory_get(void *, const char *url, char **body, int32_t *status, char **) {
    const std::string id = query_value(url, "imdbId=");
    std::string text = std::strstr(url, "IsMovie")          ? (id_number(id) % 3 ? "true" : "false")
                       : std::strstr(url, "GetMovieDetail") ? detail_json(id)
                                                            : basic_json(id);
    *body = heap_copy(text);
    *status = 200;
    return *body ? 0 : -1;
}

int32_t memory_post(void *, const char *url, const char *request_body, const char *, char **body, int32_t *status,
                    char **) {
    std::string text = "[", ids = request_body ? request_body : "";
    for (size_t at = 0; at <= ids.size();) {
        const size_t comma = std::min(ids.find(',', at), ids.size());
        const std::string id = ids.substr(at, comma - at);
        if (!id.empty()) {
            if (text.size() > 1) text += ',';
            text += std::strstr(url, "Translations")      ? trans_json(id)
                    : std::strstr(url, "GetMovieDetails") ? detail_json(id)
                                                          : basic_json(id);
        }
        at = comma + 1;
    }
    *body = heap_copy(text + "]");
    *status = 200;
    return *body ? 0 : -1;
}

const tq_io kMemoryIo{nullptr, memory_get, memory_post, nullptr};

// ---------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------

long resident_kib() {
    long size = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

const char *const kFixtureIds[] = {"tt0068646", "tt0108778", "tt0109830", "tt0110912", "tt0111161",
                                   "tt0133093", "tt0468569", "tt0903747", "tt0944947", "tt1375666"};
constexpr int kFixtureCount = 10;
const char *const kLanguages[] = {nullptr, "en-US", "de-DE"};

struct Soak {
    std::mt19937_64 rng;
    tq_io fixtures;
    tqmovie_client *fixed;  // fixture backend, small cache limits come and go
    tqmovie_client *memory; // memory backend, ids from a large space, cache limit 1000
    std::string cache_path;
    uint64_t by_status[16] = {};
    enum Kind { k_lookup, k_batch, k_probe, k_export, k_cache, k_file, k_client, k_kinds };
    uint64_t by_kind[k_kinds] = {};
    uint64_t unexpected = 0;
    uint64_t progress_events = 0;

    explicit Soak(uint64_t seed) : rng(seed), fixtures(tolvane_io_fake(TQ_FIXTURES_DIR)) {
        char path[] = "/tmp/tqmovie-soak-XXXXXX";
        const int fd = mkstemp(path);
        if (fd >= 0) close(fd);
        cache_path = path;
        fixed = client_with(fixtures);
        memory = client_with(kMemoryIo);
        tqmovie_use(memory);
        tqmovie_cache_set_limit(1000);
        tqmovie_set_progress(
            [](const tqmovie_progress *, void *user) {
                ++*static_cast<uint64_t *>(user);
                return 0;
            },
            &progress_events);
        tqmovie_use(nullptr);
    }
    ~Soak() {
        tqmovie_client_free(fixed);
        tqmovie_client_free(memory);
        std::remove(cache_path.c_str());
    }

    static tqmovie_client *client_with(const tq_io &io) {
        tqmovie_client *c = tqmovie_client_new();
        if (!c) return nullptr;
        tqmovie_client *prev = tqmovie_use(c);
        tqmovie_set_io(&io);
        tqmovie_set_host("http://127.0.0.1:9");
        tqmovie_use(prev);
        return c;
    }

    uint64_t pick(uint64_t n) { return rng() % n; }
    std::string memory_id() {
        char id[16];
        std::snprintf(id, sizeof id, "tt%07" PRIu64, 1000000 + pick(20000));
        return id;
    }
    const char *fixture_id() { return kFixtureIds[pick(kFixtureCount)]; }
    const char *language() { return kLanguages[pick(3)]; }

    // Every lookup here is one that succeeds.
    void expect_ok(int32_t st) {
        ++by_status[st >= 0 && st < 16 ? st : 15];
        if (st != TQMOVIE_OK) ++unexpected;
    }

    void lookup(bool on_memory) {
        const std::string id = on_memory ? memory_id() : fixture_id();
        if (pick(2)) {
            expect_ok(tqmovie_get_basic(id.c_str(), on_memory ? language() : nullptr));
        } else {
            expect_ok(
                tqmovie_get_detail(id.c_str(), on_memory ? language() : nullptr, static_cast<uint32_t>(pick(16))));
        }
    }

    void batch(bool on_memory) {
        std::vector<std::string> ids(1 + pick(on_memory ? 40 : kFixtureCount));
        for (auto &id : ids) id = on_memory ? memory_id() : fixture_id();
        std::vector<const char *> ptrs;
        for (const auto &id : ids) ptrs.push_back(id.c_str());
        tqmovie_set_batch_ceiling(1 + pick(30));
        switch (pick(3)) {
        case 0: expect_ok(tqmovie_get_basics(ptrs.data(), ptrs.size())); break;
        case 1:
            expect_ok(tqmovie_get_details(ptrs.data(), ptrs.size(), nullptr, static_cast<int32_t>(pick(16))));
            break;
        default: expect_ok(tqmovie_get_translations(ptrs.data(), ptrs.size(), nullptr, nullptr)); break;
        }
    }

    void read_and_export() {
        volatile size_t sink = 0;
        for (int32_t i = 0; i < tqmovie_basic_count(); ++i)
            if (const char *t = tqmovie_basic_title(i)) sink = sink + std::strlen(t);
        for (int32_t i = 0; i < tqmovie_detail_count(); ++i)
            for (int32_t j = 0; j < tqmovie_detail_cast_count(i); ++j)
                if (const char *n = tqmovie_detail_cast_name(i, j)) sink = sink + std::strlen(n);
        char *texts[] = {tqmovie_basic_to_json(0), tqmovie_detail_to_json(0), tqmovie_basic_to_json_full(0),
                         tqmovie_detail_to_json_full(0), tqmovie_trans_to_json(0)};
        for (char *t : texts) std::free(t);
    }

    void cache_operation(bool on_memory) {
        const std::string id = on_memory ? memory_id() : fixture_id();
        switch (pick(8)) {
        case 0: tqmovie_cache_has(id.c_str(), nullptr, nullptr); break;
        case 1: tqmovie_cache_invalidate(id.c_str()); break;
        case 2:
            if (!on_memory) tqmovie_cache_set_limit(pick(12)); // 0: no limit
            break;
        case 3: tqmovie_cache_set_ttl(pick(2) ? 0 : 86400, 21600); break;
        case 4: {
            tq_basic b;
            if (tq_cache_get_basic(id.c_str(), &b)) {
                tq_cache_put_basic(&b); // a copy back under its own id
                tq_free_basic(&b);
            }
            break;
        }
        case 5:
            if (tq_cache_entry *e = tq_cache_find(id.c_str()))
                if (e->detail) tq_cache_put_detail(e->detail); // the cache's own record
            break;
        case 6:
            if (!on_memory && pick(4) == 0) tqmovie_cache_clear();
            break;
        default: {
            tq_detail d;
            if (tq_cache_get_detail(id.c_str(), &d, static_cast<int32_t>(pick(16)))) tq_free_detail(&d);
            break;
        }
        }
    }

    // The memory client's cache to a file and back, into itself and into a new client.
    void save_and_load() {
        tqmovie_use(memory);
        expect_ok(tqmovie_cache_save(cache_path.c_str()));
        expect_ok(tqmovie_cache_load(cache_path.c_str()));
        tqmovie_client *other = client_with(fixtures);
        tqmovie_use(other);
        expect_ok(tqmovie_cache_load(cache_path.c_str()));
        tqmovie_use(nullptr);
        tqmovie_client_free(other);
    }

    // A client for one lookup and an export, then gone.
    void client_churn() {
        const bool on_memory = pick(2);
        tqmovie_client *c = client_with(on_memory ? kMemoryIo : fixtures);
        tqmovie_client *prev = tqmovie_use(c);
        lookup(on_memory);
        read_and_export();
        tqmovie_use(prev);
        tqmovie_client_free(c);
    }

    void step(uint64_t op) {
        if (op % 20000 == 19999) {
            ++by_kind[k_file];
            return save_and_load();
        }
        const bool on_memory = pick(2);
        tqmovie_use(on_memory ? memory : fixed);
        const uint64_t r = pick(100);
        const Kind kind = r < 35   ? k_lookup
                          : r < 45 ? k_batch
                          : r < 48 ? k_probe
                          : r < 68 ? k_export
                          : r < 93 ? k_cache
                                   : k_client;
        ++by_kind[kind];
        switch (kind) {
        case k_lookup: lookup(on_memory); break;
        case k_batch: batch(on_memory); break;
        case k_probe:
            expect_ok(tqmovie_is_movie((on_memory ? memory_id() : std::string(fixture_id())).c_str(), nullptr));
            break;
        case k_export: read_and_export(); break;
        case k_cache: cache_operation(on_memory); break;
        default: client_churn(); break;
        }
        tqmovie_use(nullptr);
    }
};

} // namespace

int main(int argc, char **argv) {
    const uint64_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    Soak soak(seed);
    if (!soak.fixed || !soak.memory) {
        std::fprintf(stderr, "soak: out of memory\n");
        return 1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    long at_100k = 0, last = 0;
    // Resident memory is the goal; the bytes the heap has handed out and not had back
    // are the finer figure, where a leak of a few bytes per operation would show.
    std::printf("| operations | resident memory | heap in use | elapsed |\n|---|---|---|---|\n");
    for (uint64_t op = 0; op < total; ++op) {
        soak.step(op);
        if ((op + 1) % 100000 == 0 || op + 1 == total) {
            last = resident_kib();
            if (op + 1 == 100000) at_100k = last;
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            std::printf("| %" PRIu64 " | %.1f MiB | %.0f KiB | %.1f s |\n", op + 1, static_cast<double>(last) / 1024.0,
                        static_cast<double>(mallinfo2().uordblks) / 1024.0, s);
            std::fflush(stdout);
        }
    }
    std::printf("\nstatuses:");
    for (int i = 0; i < 16; ++i)
        if (soak.by_status[i]) std::printf(" %d: %" PRIu64, i, soak.by_status[i]);
    std::printf("; progress events: %" PRIu64 "\n", soak.progress_events);
    const char *const kinds[] = {"lookups",
                                 "batches",
                                 "probes",
                                 "getters and exports",
                                 "cache operations",
                                 "cache saves and loads",
                                 "clients made and freed"};
    std::printf("operations:");
    for (int k = 0; k < Soak::k_kinds; ++k) std::printf("%s %s %" PRIu64, k ? "," : "", kinds[k], soak.by_kind[k]);
    std::printf("\n");
    if (at_100k == 0) {
        std::printf("fewer than 100,000 operations: no comparison\n");
        return soak.unexpected ? 1 : 0;
    }
    const double change = 100.0 * static_cast<double>(last - at_100k) / static_cast<double>(at_100k);
    const bool held = change <= 5.0 && change >= -5.0;
    std::printf("resident memory after %" PRIu64 " operations vs after 100,000: %+.2f%% (goal: within 5%%): %s\n",
                total, change, held ? "held" : "MISSED");
    if (soak.unexpected) std::printf("%" PRIu64 " operations ended with an unexpected status\n", soak.unexpected);
    return held && !soak.unexpected ? 0 : 1;
}
