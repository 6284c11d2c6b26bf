// io_stub: a backend that performs no I/O. Every request fails at once with a text
// telling the integrator to plug in a real backend, so a host without a transport
// gets clean transport errors instead of a crash or a hang.
#include "tq_internal.h"

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

// The error text comes from the standard heap, so the standard free releases it.
void stub_free(void *, void *ptr) { std::free(ptr); }

} // namespace

extern "C" tq_io tolvane_io_stub(void) {
    tq_io io{};
    io.ctx = nullptr;
    io.get = stub_get;
    io.post = stub_post;
    io.free = stub_free;
    return io;
}
