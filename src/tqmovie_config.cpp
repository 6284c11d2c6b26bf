// SPDX-License-Identifier: MIT
// tqmovie_config: the global client's state, the library's version, and each client's
// settings and last status: backend, base URL, batch ceiling, retries, deadline, the
// error text and the response headers.
#include "tq_internal.h"
#include "tq_request.h"
#include "tq_cache.h"
#include "tq_fallback.h"
#include "tq_outcome.h"
#include "tq_results.h"

#include <cstdio>

extern "C" {
TQMOVIE_API tq_state g_tq;
}

namespace {

void set_default_host(tq_state &s) noexcept { std::snprintf(s.host, sizeof s.host, "%s", TQMOVIE_DEFAULT_HOST); }

} // namespace

tq_state &tq_ensure_defaults(tq_state &s) noexcept {
    if (s.host[0] == '\0') set_default_host(s);
    if (s.batch_ceiling == 0) s.batch_ceiling = tq_default_batch_ceiling;
    // The lifetimes are tested together so that a host may switch off expiry of one
    // kind by setting it alone to 0.
    if (s.cache_ttl_basic == 0 && s.cache_ttl_detail == 0) {
        s.cache_ttl_basic = tq_default_ttl_basic;
        s.cache_ttl_detail = tq_default_ttl_detail;
    }
    return s;
}

extern "C" {

// ----------------------------------------------------------------------------
// Version of the loaded library
// ----------------------------------------------------------------------------

const char *tqmovie_version(void) { return TQMOVIE_VERSION_STRING; }

uint32_t tqmovie_version_number(void) { return static_cast<uint32_t>(TQMOVIE_VERSION_HEX); }

// ----------------------------------------------------------------------------
// Configuration and status
// ----------------------------------------------------------------------------

void tqmovie_set_io(const tq_io *io) {
    tq_state &s = tq_ensure_defaults(state());
    s.io = io ? *io : tq_io{};
    s.has_io = io ? 1 : 0;
}

void tqmovie_set_host(const char *host) {
    tq_state &s = tq_ensure_defaults(state());
    if (!host || !host[0]) {
        set_default_host(s);
        return;
    }
    // Format into scratch space: the argument may be the stored host itself.
    char tmp[sizeof s.host];
    if (std::strncmp(host, "http://", 7) == 0 || std::strncmp(host, "https://", 8) == 0)
        std::snprintf(tmp, sizeof tmp, "%s", host);
    else
        std::snprintf(tmp, sizeof tmp, "https://%s", host);
    std::memcpy(s.host, tmp, sizeof tmp);
}

const char *tqmovie_last_error(void) { return state().err[0] ? state().err : ""; }

int32_t tqmovie_last_http_code(void) { return state().http_code; }

const char *tqmovie_last_response_header(const char *name) { return name ? tq_header_find(state(), name) : nullptr; }

void tqmovie_shutdown(void) {
    tqmovie_client &c = client();
    tq_results_clear(*c.st);
    tq_cache_clear(c);
    tq_outcome_free(c);
    tq_fallback_free(c);
    tq_state &s = *c.st;
    s.has_io = 0;
    s.err[0] = '\0';
    s.http_code = 0;
    s.header_count = 0;
}

void tqmovie_set_batch_ceiling(uint64_t n) {
    state().batch_ceiling = n == 0 ? tq_default_batch_ceiling : static_cast<size_t>(n);
}

uint64_t tqmovie_batch_ceiling(void) {
    const size_t n = state().batch_ceiling;
    return n == 0 ? tq_default_batch_ceiling : n;
}

void tqmovie_set_retry(uint32_t retries, uint32_t max_wait_ms) {
    tq_ext &x = ext();
    x.retries = retries;
    x.max_wait_ms = max_wait_ms;
}

void tqmovie_set_deadline(uint32_t ms) { ext().deadline_ms = ms; }

int32_t tqmovie_set_parallel(uint32_t n) {
    tqmovie_client &c = client();
    if (n > 64) return tq_fail(c, TQMOVIE_ERR_ARG, "parallel must be from 0 to 64");
    c.ext.parallel = n;
    return TQMOVIE_OK;
}

} // extern "C"
