// Internal header shared by the library's modules: ownership guards, the tiny
// portability shims and the record resets every module needs. Not installed.
#ifndef TQ_INTERNAL_H
#define TQ_INTERNAL_H

#include "tqmovie.h"

#include <yyjson.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <strings.h>

// ----------------------------------------------------------------------------
// Ownership guards: a failure path cannot forget what it holds.
// ----------------------------------------------------------------------------
struct free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <typename T> using malloc_ptr = std::unique_ptr<T, free_deleter>;

struct doc_deleter {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
};
using json_doc = std::unique_ptr<yyjson_doc, doc_deleter>;

// ----------------------------------------------------------------------------
// Portability: the platform calls the library needs, in POSIX spelling.
// ----------------------------------------------------------------------------
inline int tq_stricmp(const char *a, const char *b) noexcept { return strcasecmp(a, b); }
// Calendar clock, whole seconds since 1970-01-01 UTC.
inline int64_t tq_now() noexcept { return static_cast<int64_t>(std::time(nullptr)); }

// ----------------------------------------------------------------------------
// Empty records. Zero-filled storage is not an empty basic or detail record:
// some fields read -1 or NaN when absent.
// ----------------------------------------------------------------------------
inline double tq_nan() noexcept {
    const uint64_t bits = 0x7FF8000000000000ull;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

inline void tq_reset_basic(tq_basic *r) noexcept {
    std::memset(r, 0, sizeof *r);
    r->year = -1;
    r->duration = -1;
    r->is_tv = -1;
}

inline void tq_reset_detail(tq_detail *r) noexcept {
    std::memset(r, 0, sizeof *r);
    r->start_year = -1;
    r->end_year = -1;
    r->runtime = -1;
    r->is_tv = -1;
    r->imdb_rating = tq_nan();
}

// Zero-filled array of n elements (calloc semantics, overflow-checked).
template <typename T> inline T *tq_calloc_n(size_t n) noexcept {
    return static_cast<T *>(std::calloc(n, sizeof(T)));
}

// ----------------------------------------------------------------------------
// Fixture file names, in their order of trial: one table for the fixture backend
// and the stand-in service, so the two always serve the same files. Each name takes
// the title id for its %s (the batch files take none); paths are "<dir>/<name>".
// ----------------------------------------------------------------------------
namespace tq_fixture_names {
inline constexpr const char *basic[] = {"basic-%s.json", "sample-GetMovieBasic-%s.json"};
inline constexpr const char *detail[] = {"detail-%s.json", "sample-GetMovieDetail-%s-TRUNCATED.json",
                                         "sample-GetMovieDetail-%s.json"};
// A detail batch never tries the plain sample name (the last single-title name).
inline constexpr const char *detail_batch[] = {detail[0], detail[1]};
inline constexpr const char *basics_batch[] = {"basics-batch.json", "sample-GetMovieBasics-batch2.json"};
inline constexpr const char *translations = "translations-batch.json";
} // namespace tq_fixture_names

#endif // TQ_INTERNAL_H
