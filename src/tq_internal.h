// SPDX-License-Identifier: MIT
// Internal header shared by the library's modules: defaults and fixed texts, ownership
// guards, the growth helper, the fixture names and the tiny portability shims; it
// brings in the clients (tq_client.h). Not installed.
#ifndef TQ_INTERNAL_H
#define TQ_INTERNAL_H

#include "tq_client.h"
#include "tqmovie.h"

#include <yyjson.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <strings.h>

// ----------------------------------------------------------------------------
// Defaults and fixed texts
// ----------------------------------------------------------------------------
inline constexpr size_t tq_default_batch_ceiling = 24;
inline constexpr int32_t tq_default_ttl_basic = 86400; // seconds
inline constexpr int32_t tq_default_ttl_detail = 21600;

inline constexpr char tq_err_no_io[] = "no IO backend set";
inline constexpr char tq_err_empty_body[] = "empty body";
inline constexpr char tq_err_id_required[] = "imdb_id required";
inline constexpr char tq_err_ids_required[] = "ids required";
inline constexpr char tq_err_cancelled[] = "cancelled";
inline constexpr char tq_err_busy[] = "a lookup is already running on this client";
inline constexpr char tq_err_offline[] = "offline: not cached";

// Fills whatever configuration of s is still unset (base URL, batch ceiling, lifetimes).
tq_state &tq_ensure_defaults(tq_state &s) noexcept;

// ----------------------------------------------------------------------------
// JSON reading (tqmovie_json.cpp). Parser memory is capped at the larger of 32 MiB and
// four times the text's length: a document that needs more is refused (NULL, with
// *too_dense set) before memory grows past the cap. Documents are released with
// yyjson_doc_free as usual.
// ----------------------------------------------------------------------------
inline constexpr char tq_err_too_dense[] = "JSON too dense: parsing it would take more than 4 times its size";
size_t tq_json_cap(size_t len) noexcept;
yyjson_doc *tq_json_read(const char *text, size_t len, bool *too_dense) noexcept;

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

// The release entry of every shipped backend: its buffers come from the standard heap.
inline void tq_io_free_heap(void *, void *p) noexcept { std::free(p); }

// A buffer a backend handed out: through its own release entry when it has one,
// otherwise with the standard heap's free (the backend contract's heap).
inline void tq_io_release(const tq_io &io, void *p) noexcept {
    if (!p) return;
    if (io.free)
        io.free(io.ctx, p);
    else
        std::free(p);
}

// ----------------------------------------------------------------------------
// Growth: one overflow-checked rule for every growing array. Makes room for at
// least `need` elements: `first` (or `need` if larger) on the first growth, then
// doubling (or `need` if larger), but never past `most` unless `need` is. New
// elements are not initialised. false, with *arr and *cap untouched, when the size
// would not fit or memory ran out.
// ----------------------------------------------------------------------------
template <typename T> bool tq_grow(T **arr, size_t *cap, size_t need, size_t first, size_t most = SIZE_MAX) noexcept {
    if (need <= *cap) return true;
    size_t n = *cap == 0 ? first : (*cap > SIZE_MAX / 2 ? SIZE_MAX : *cap * 2);
    if (n > most) n = most;
    if (n < need) n = need;
    if (n > SIZE_MAX / sizeof(T)) return false;
    T *p = static_cast<T *>(std::realloc(*arr, n * sizeof(T)));
    if (!p) return false;
    *arr = p;
    *cap = n;
    return true;
}

// Zero-filled array of n elements (calloc semantics, overflow-checked).
template <typename T> inline T *tq_calloc_n(size_t n) noexcept { return static_cast<T *>(std::calloc(n, sizeof(T))); }

// A set of ids (texts the caller keeps alive) to ask "is this one of them": filled
// with add (at most the size it was made for), sorted once by seal. Without memory
// for it, ok() is false and it holds nothing.
class tq_id_set {
public:
    explicit tq_id_set(size_t most) noexcept : ids_(tq_calloc_n<const char *>(most ? most : 1)) {}
    bool ok() const noexcept { return ids_ != nullptr; }
    void add(const char *id) noexcept {
        if (id && ids_) ids_.get()[n_++] = id;
    }
    void seal() noexcept {
        if (ids_) std::qsort(ids_.get(), n_, sizeof(const char *), compare);
    }
    bool has(const char *id) const noexcept {
        return id && n_ && std::bsearch(&id, ids_.get(), n_, sizeof(const char *), compare);
    }

private:
    static int compare(const void *a, const void *b) noexcept {
        return std::strcmp(*static_cast<const char *const *>(a), *static_cast<const char *const *>(b));
    }
    malloc_ptr<const char *> ids_;
    size_t n_ = 0;
};

// A new text formatted like printf, sized by a first pass; NULL when memory ran out.
char *tq_fmt(const char *fmt, ...) noexcept TQMOVIE_PRINTF(1, 2);

// ----------------------------------------------------------------------------
// Portability: the platform calls the library needs, in POSIX spelling.
// ----------------------------------------------------------------------------
inline int tq_stricmp(const char *a, const char *b) noexcept { return strcasecmp(a, b); }
// Calendar clock, whole seconds since 1970-01-01 UTC.
inline int64_t tq_now() noexcept { return static_cast<int64_t>(std::time(nullptr)); }

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
