// SPDX-License-Identifier: MIT
// Clients: the state one operation works on, its private settings and signals, and
// how an exported entry point finds the calling thread's current one. Not installed.
//
// Only the exported entry points call client(), state() or ext(): each finds the
// current client once and hands it down; everything below takes it as an argument.
#ifndef TQ_CLIENT_H
#define TQ_CLIENT_H

#include "tqmovie.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstring>

// What a lookup in progress may be told from outside: the bits of tq_ext::op.
inline constexpr uint32_t tq_op_running = 1u;
inline constexpr uint32_t tq_op_cancel = 2u;
// Set by the dispatch while the backend's entry runs: when tqmovie_io_header is heard.
inline constexpr uint32_t tq_op_request = 4u;
// Set during a request by a backend whose failure is worth another attempt (a connect
// that failed, a timeout): tqmovie_io_retryable, or the shipped libcurl backends.
inline constexpr uint32_t tq_op_retryable = 8u;
// The cache's private index beside the public slot array (tqmovie_cache.cpp).
struct tq_cache_index;
// The language fallback's chain, its records and the last merge (tqmovie_fallback.cpp).
struct tq_fallback;

// Per-client settings and signals beyond the public state layout.
struct tq_ext {
    std::atomic<uint32_t> op{0}; // tq_op_* bits; written from other threads and signal handlers
    tqmovie_progress_fn progress = nullptr;
    void *progress_user = nullptr;
    tq_cache_index *cache_index = nullptr;
    size_t cache_limit = 0;         // most titles in the cache; 0: no limit
    uint32_t retries = 0;           // further attempts after a failed one; 0: none (tqmovie_set_retry)
    uint32_t max_wait_ms = 0;       // the longest single wait before another attempt
    uint32_t deadline_ms = 0;       // the longest one operation may take; 0: none
    int64_t deadline_at = 0;        // monotonic ms at which the running operation ends; 0: none
    uint64_t jitter = 0;            // the backoff's random state
    uint64_t done = 0, total = 0;   // ids done and in all, for a retry's progress event
    uint32_t parallel = 0;          // batch chunks at once; 0 and 1: one after the other
    tqmovie_store *store = nullptr; // the store behind the cache (tqmovie_set_store)
    int64_t max_stale = 0;          // seconds past its lifetime a record may answer a failure
    int64_t last_stale = 0;         // the last answer's age past its lifetime; -1 after a failure
    bool offline = false;           // no request is sent (tqmovie_set_offline)
    bool refresh = false;           // the cache answers no lookup (tqmovie_set_refresh)
    bool not_found = false;         // the last single-title lookup or probe met a 404
    int32_t cache_source = 0;       // where the last cache answer came from (TQMOVIE_SOURCE_*)
    uint64_t answered = 0;          // a batch's ids whose chunks were answered, in order
    char **missing = nullptr;       // the last batch's ids without a record (tqmovie_outcome.cpp)
    size_t missing_count = 0;
    tqmovie_log_fn log = nullptr; // the request log (tqmovie_set_log)
    void *log_user = nullptr;
    uint64_t wire_sent = 0;     // the request in flight's bytes on the wire, when its
    uint64_t wire_received = 0; // backend knows them (wire_known)
    bool wire_known = false;
    tq_fallback *fallback = nullptr; // NULL: no language fallback
    char result_lang[32] = "";       // the language the last lookup asked ("": "en-US")
    char *export_buf = nullptr;      // the store's scratch text, kept between records
    size_t export_cap = 0;
};

// The state right after its pointer, the settings after both: a getter's reads land
// as they did before the settings grew (measured: 1.58 against 1.78 the other way).
struct tqmovie_client {
    tq_state *st; // &own, or g_tq for the global client
    tq_state own;
    tq_ext ext;
};

// The global client, whose state is g_tq. Never freed.
extern tqmovie_client tq_global_client;

// The client a host's pointer names: NULL is the global one.
inline tqmovie_client &tq_client_of(tqmovie_client *c) noexcept { return c ? *c : tq_global_client; }

// Which client is current on the calling thread (tqmovie_client.cpp); never NULL, it
// starts as the global client. The initial-exec model makes reading it one load
// relative to the thread pointer instead of a call into the dynamic loader; it takes
// 8 bytes of the static TLS block, which glibc keeps room for even in a library
// loaded with dlopen.
extern __thread tqmovie_client *tq_current __attribute__((tls_model("initial-exec")));

// For the exported entry points only.
inline tqmovie_client &client() noexcept { return *tq_current; }
inline tq_state &state() noexcept { return *tq_current->st; }
inline tq_ext &ext() noexcept { return client().ext; }

// The client's last error text, formatted like printf (an argument may point into
// the text itself).
void tq_err(tqmovie_client &c, const char *fmt, ...) noexcept TQMOVIE_PRINTF(2, 3);
void tq_err_v(tqmovie_client &c, const char *fmt, va_list ap) noexcept;

// Sets the error text to one of the fixed texts and returns the status to report.
int32_t tq_fail(tqmovie_client &c, int32_t status, const char *text) noexcept;

// Puts the client's error text back as it was when made: around a host's callback,
// whose leavings (a refused nested lookup, say) are not the operation's, and around a
// step whose failure the operation does not report.
class tq_err_kept {
public:
    explicit tq_err_kept(tqmovie_client &c) noexcept : s_(*c.st) { std::memcpy(saved_, s_.err, sizeof saved_); }
    ~tq_err_kept() { std::memcpy(s_.err, saved_, sizeof saved_); }
    tq_err_kept(const tq_err_kept &) = delete;
    tq_err_kept &operator=(const tq_err_kept &) = delete;

private:
    tq_state &s_;
    char saved_[sizeof(tq_state::err)];
};

// Asks the client's running operation to stop, as tqmovie_cancel does.
void tq_cancel(tqmovie_client &c) noexcept;

// Reports a progress event to the client's callback; false when it asks to stop
// (which then cancels the operation like tqmovie_cancel). The error text is as it
// was before the call.
bool tq_report_progress(tqmovie_client &c, tqmovie_progress event) noexcept;

#endif // TQ_CLIENT_H
