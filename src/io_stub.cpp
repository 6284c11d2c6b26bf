// SPDX-License-Identifier: MIT
// io_stub: a backend that performs no I/O. Every request fails at once with a text
// telling the integrator to plug in a real backend, so a host without a transport
// gets clean transport errors instead of a crash or a hang.
#include "tq_internal.h"
#include "tq_request.h"

namespace {

const char k_stub_text[] = "stub IO: not implemented (plug in platform backend)";

// Order matters for callers that inspect partial results: body, then status, then
// (only when asked for) the error text.
int32_t stub_fail(char **body, int32_t *status, char **err) noexcept {
    if (body) *body = nullptr;
    if (status) *status = 0;
    if (err) *err = tq_strdup(k_stub_text);
    return -1;
}

int32_t stub_get(void *, const char *, char **body, int32_t *status, char **err) {
    return stub_fail(body, status, err);
}

int32_t stub_post(void *, const char *, const char *, const char *, char **body, int32_t *status, char **err) {
    return stub_fail(body, status, err);
}

} // namespace

bool tq_io_is_stub(const tq_io &io) noexcept { return io.get == stub_get; }

extern "C" tq_io tolvane_io_stub(void) {
    // The error text comes from the standard heap, so the standard free releases it.
    return tq_io{nullptr, stub_get, stub_post, tq_io_free_heap};
}
