// SPDX-License-Identifier: MIT
// Calling a backend's entries straight, as the dispatch does, and holding what one
// call handed out: the tests of the HTTP backends share these.
#ifndef TQ_TEST_IO_OUTCOME_H
#define TQ_TEST_IO_OUTCOME_H

#include "tqmovie.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace tqtest {

// The HTTP backends hand out standard-heap buffers (their free entry is free()).
struct heap_free {
    void operator()(char *p) const { std::free(p); }
};
using io_buf = std::unique_ptr<char, heap_free>;

struct Outcome {
    int32_t rc;
    int32_t status;
    io_buf body;
    io_buf err;
    std::string err_text() const { return err ? err.get() : "<null>"; }
    std::string body_text() const { return body ? body.get() : "<null>"; }
};

// The out-parameters start as garbage, so an entry that leaves one unset shows. The
// calls allocate nothing of their own (allocation-failure tests arm around them).
inline Outcome io_get(const tq_io &io, const char *url) {
    char *body = reinterpret_cast<char *>(1), *err = reinterpret_cast<char *>(1);
    int32_t status = -7;
    const int32_t rc = io.get(io.ctx, url, &body, &status, &err);
    return {rc, status, io_buf(body), io_buf(err)};
}
inline Outcome io_post(const tq_io &io, const char *url, const char *request_body, const char *content_type) {
    char *body = reinterpret_cast<char *>(1), *err = reinterpret_cast<char *>(1);
    int32_t status = -7;
    const int32_t rc = io.post(io.ctx, url, request_body, content_type, &body, &status, &err);
    return {rc, status, io_buf(body), io_buf(err)};
}
inline Outcome io_get(const tq_io &io, const std::string &url) { return io_get(io, url.c_str()); }
inline Outcome io_post(const tq_io &io, const std::string &url, const char *request_body, const char *content_type) {
    return io_post(io, url.c_str(), request_body, content_type);
}

// A pooled backend for the life of the object.
struct PooledIo {
    tq_io io;
    explicit PooledIo(const tqmovie_http_options *o = nullptr) : io(tolvane_io_curl_pooled(o)) {}
    ~PooledIo() { tolvane_io_curl_pooled_free(&io); }
    PooledIo(const PooledIo &) = delete;
    PooledIo &operator=(const PooledIo &) = delete;
};

} // namespace tqtest

#endif // TQ_TEST_IO_OUTCOME_H
