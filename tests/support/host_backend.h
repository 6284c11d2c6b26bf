// SPDX-License-Identifier: MIT
// A scriptable in-process transport backend for the tests.
//
// It stands where a host's own backend would: a C-ABI tq_io whose ctx is this object.
// Every request is recorded (method, URL, request body, content type) and answered
// from a queue of scripted replies, then from a fallback reply. Bodies and error texts
// are handed out as fresh malloc'ed copies, as the backend contract demands.
//
// Nothing here allocates on the heap while a request is being answered, apart from the
// buffers it hands to the library: recording goes into storage reserved up front. That
// keeps the allocation-failure tests honest (the k-th allocation is always one the
// library or the handed-out buffers asked for) and keeps operator new from throwing
// through the library's C frames.
#ifndef TQ_TEST_HOST_BACKEND_H
#define TQ_TEST_HOST_BACKEND_H

#include "tqmovie.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tqtest {

// What one request is answered with.
struct Reply {
    int32_t result = 0;       // returned by the entry; non-zero is a transport failure
    int32_t status = 200;     // stored through the status out-parameter
    bool store_status = true; // false: leave the status as the library set it
    bool has_body = true;     // false: leave the body pointer as the library set it
    std::string body;
    bool has_err = false; // hand out an error description
    std::string err;

    static Reply ok(std::string text, int32_t code = 200) {
        Reply r;
        r.status = code;
        r.body = std::move(text);
        return r;
    }
    static Reply http(int32_t code, std::string text = "error page") {
        Reply r;
        r.status = code;
        r.body = std::move(text);
        return r;
    }
    static Reply fail(std::string text, int32_t code = 0) {
        Reply r;
        r.result = -1;
        r.status = code;
        r.has_body = false;
        r.has_err = true;
        r.err = std::move(text);
        return r;
    }
    static Reply no_body(int32_t code = 200) {
        Reply r;
        r.status = code;
        r.has_body = false;
        return r;
    }
};

// One recorded request. Fixed-size fields: recording must not allocate.
struct Request {
    char method[8];
    char url[4096];
    char body[16384];
    char content_type[64];
    bool body_null;
    bool truncated;

    std::string url_s() const { return url; }
    std::string body_s() const { return body; }
};

class HostBackend {
public:
    static constexpr size_t kMaxRequests = 256;

    explicit HostBackend(bool with_free = true) : with_free_(with_free), requests_(kMaxRequests) {
        fallback_ = Reply::fail("host backend: no reply scripted");
    }
    HostBackend(const HostBackend &) = delete;
    HostBackend &operator=(const HostBackend &) = delete;

    tq_io table() {
        tq_io io;
        io.ctx = this;
        io.get = &get_entry;
        io.post = &post_entry;
        io.free = with_free_ ? &free_entry : nullptr;
        return io;
    }
    void install() {
        tq_io io = table();
        tqmovie_set_io(&io);
    }

    // Replies are consumed in order; once the queue is used up, every further request
    // gets the fallback. Script before arming an allocation failure.
    void script(Reply r) { queue_.push_back(std::move(r)); }
    void always(Reply r) { fallback_ = std::move(r); }
    // A POST whose request body is exactly `request_body` gets `r`, every time, before
    // the queue is consulted.
    void on_body(std::string request_body, Reply r) { routes_.emplace_back(std::move(request_body), std::move(r)); }
    void reset_script() {
        queue_.clear();
        routes_.clear();
        next_ = 0;
        fallback_ = Reply::fail("host backend: no reply scripted");
    }

    size_t request_count() const { return count_; }
    const Request &request(size_t i) const { return requests_.at(i); }
    const Request &last() const { return requests_.at(count_ - 1); }
    void clear_requests() { count_ = 0; }

    // Bookkeeping of the buffers this backend handed out and got back.
    long handed_out = 0;       // bodies and error texts given to the library
    long freed_by_entry = 0;   // pointers released through the free entry
    long own_alloc_failed = 0; // requests this backend could not answer for lack of memory
    long overflow = 0;         // requests beyond kMaxRequests (not recorded)

private:
    bool with_free_;
    std::vector<Request> requests_;
    size_t count_ = 0;
    std::vector<Reply> queue_;
    size_t next_ = 0;
    std::vector<std::pair<std::string, Reply>> routes_;
    Reply fallback_;

    static void copy_cut(char *dst, size_t cap, const char *src, bool &cut) {
        size_t n = std::strlen(src);
        if (n >= cap) {
            n = cap - 1;
            cut = true;
        }
        std::memcpy(dst, src, n);
        dst[n] = '\0';
    }

    void record(const char *method, const char *url, const char *body, const char *ctype) {
        if (count_ >= requests_.size()) {
            ++overflow;
            return;
        }
        Request &r = requests_[count_++];
        r.truncated = false;
        copy_cut(r.method, sizeof r.method, method, r.truncated);
        copy_cut(r.url, sizeof r.url, url ? url : "", r.truncated);
        r.body_null = body == nullptr;
        copy_cut(r.body, sizeof r.body, body ? body : "", r.truncated);
        copy_cut(r.content_type, sizeof r.content_type, ctype ? ctype : "", r.truncated);
    }

    const Reply &next_reply(const char *request_body) {
        if (request_body)
            for (const auto &r : routes_)
                if (r.first == request_body) return r.second;
        if (next_ < queue_.size()) return queue_[next_++];
        return fallback_;
    }

    // A malloc'ed copy, as the contract asks; NULL when memory ran out.
    static char *dup(const std::string &s) {
        char *p = static_cast<char *>(std::malloc(s.size() + 1));
        if (p) std::memcpy(p, s.c_str(), s.size() + 1);
        return p;
    }

    int32_t answer(const char *request_body, char **body, int32_t *status, char **err) {
        const Reply &r = next_reply(request_body);
        if (r.has_body) {
            char *b = dup(r.body);
            if (!b) {
                // A real backend that cannot buffer the answer reports a transport failure.
                ++own_alloc_failed;
                return -1;
            }
            *body = b;
            ++handed_out;
        }
        if (r.has_err && err) {
            char *e = dup(r.err);
            if (!e) {
                ++own_alloc_failed;
            } else {
                *err = e;
                ++handed_out;
            }
        }
        if (r.store_status) *status = r.status;
        return r.result;
    }

    static HostBackend *self(void *ctx) { return static_cast<HostBackend *>(ctx); }

    static int32_t get_entry(void *ctx, const char *url, char **body, int32_t *status, char **err) {
        HostBackend *h = self(ctx);
        h->record("GET", url, nullptr, nullptr);
        return h->answer(nullptr, body, status, err);
    }
    static int32_t post_entry(void *ctx, const char *url, const char *request_body, const char *content_type,
                              char **body, int32_t *status, char **err) {
        HostBackend *h = self(ctx);
        h->record("POST", url, request_body, content_type);
        return h->answer(request_body, body, status, err);
    }
    static void free_entry(void *ctx, void *ptr) {
        HostBackend *h = self(ctx);
        if (ptr) ++h->freed_by_entry;
        std::free(ptr);
    }
};

// ---------------------------------------------------------------------------------
// Small helpers shared by the lookup tests.
// ---------------------------------------------------------------------------------

// Base URL the tests configure: loopback only, and no request ever leaves the process
// because the host backend answers in place.
inline constexpr const char *kTestHost = "http://127.0.0.1:9";

// Back to a known state: nothing stored, nothing cached, no backend, default lifetimes
// and ceiling, the test base URL.
inline void reset_library() {
    tqmovie_shutdown();
    tqmovie_set_host(kTestHost);
    tqmovie_cache_set_ttl(86400, 21600);
    tqmovie_set_batch_ceiling(0);
}

// Ids of the fixture files named <prefix><id>.json in dir, sorted.
inline std::vector<std::string> fixture_ids(const char *dir, const char *prefix) {
    std::vector<std::string> ids;
    DIR *d = opendir(dir);
    if (!d) return ids;
    const size_t plen = std::strlen(prefix);
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > plen + 5 && n.compare(0, plen, prefix) == 0 && n.compare(n.size() - 5, 5, ".json") == 0)
            ids.push_back(n.substr(plen, n.size() - plen - 5));
    }
    closedir(d);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Whole file as text; empty when it cannot be read.
inline std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// A test whose library talks to a scripted HostBackend: the library is reset and the
// backend installed before each test, everything released after it.
class HostBackendTest : public ::testing::Test {
protected:
    HostBackend host;
    void SetUp() override {
        reset_library();
        host.install();
    }
    void TearDown() override { tqmovie_shutdown(); }

    // Fill the result store from one scripted batch answer (a JSON array).
    void store_basics(const std::string &array) {
        const char *ids[] = {"x"};
        host.script(Reply::ok(array));
        ASSERT_EQ(tqmovie_get_basics(ids, 1), TQMOVIE_OK) << tqmovie_last_error();
    }
    void store_details(const std::string &array, int32_t sections = 0) {
        const char *ids[] = {"x"};
        host.script(Reply::ok(array));
        ASSERT_EQ(tqmovie_get_details(ids, 1, nullptr, sections), TQMOVIE_OK) << tqmovie_last_error();
    }
    void store_translations(const std::string &array) {
        const char *ids[] = {"x"};
        host.script(Reply::ok(array));
        ASSERT_EQ(tqmovie_get_translations(ids, 1, nullptr, nullptr), TQMOVIE_OK) << tqmovie_last_error();
    }
};

// The list counts of detail record i: cast, pictures, providers, videos, related.
inline std::vector<int32_t> detail_lists(int32_t i) {
    return {tqmovie_detail_cast_count(i), tqmovie_detail_picture_count(i), tqmovie_detail_provider_count(i),
            tqmovie_detail_video_count(i), tqmovie_detail_related_count(i)};
}

#ifdef TQ_FIXTURES_DIR
// A test whose library answers from the bundled sample fixtures.
class FixtureBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset_library();
        install_fixtures();
    }
    void TearDown() override { tqmovie_shutdown(); }
    static void install_fixtures() {
        tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
        tqmovie_set_io(&io);
    }
    static std::string fixture(const std::string &name) { return slurp(std::string(TQ_FIXTURES_DIR) + "/" + name); }
};
#endif

} // namespace tqtest

#endif // TQ_TEST_HOST_BACKEND_H
