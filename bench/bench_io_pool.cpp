// SPDX-License-Identifier: MIT
// What one request costs through the HTTP backends, against servers on 127.0.0.1
// started here, and what compression saves on the wire.
//
// BM_Get/<scheme>_<variant>: one GET of a basic record (about 1.3 KB of JSON, with an
// ETag and a Cache-Control header) over HTTPS or plain HTTP, both kept alive by the
// server. The variants:
//   fresh_handle   a new easy handle per request, with the same CA file (what
//                  tolvane_io_curl does; it cannot take a CA file itself)
//   fresh_backend  tolvane_io_curl itself (plain HTTP only)
//   pooled         tolvane_io_curl_pooled, through its get entry
//   reused_handle  one easy handle reused by hand with nothing but the URL, the CA
//                  file and a write callback: the floor a backend can reach
// The HTTPS server's certificate comes from a throwaway CA made at start; the CA file
// every variant gets is a copy of the system's bundle with that CA appended, so each
// verifies as a real host would. The system's store is only read.
//
// BM_DetailBatchWire/<gzip|identity>: a 24-title detail batch (the sample detail
// records in turn) through the pooled backend with compressed answers and without;
// wire_bytes is what the server sent per request, headers included.
//
// Run: ./build/bench/bench_io_pool --benchmark_min_time=1
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#ifdef TQ_HAVE_HTTPLIB
#  include <httplib.h>
#endif

#include "loopback_server.h"
#include "test_pki.h"
#include "tqmovie.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

#ifdef TQ_HAVE_HTTPLIB
constexpr const char *kPath = "/api/AAA/GetMovieBasic?imdbId=tt0111161&language=en-US";

// Both servers answer every GET with the same record, uncompressed ("; charset" keeps
// cpp-httplib from compressing it), on connections kept open as long as the client likes.
struct Servers {
    tqtest::TestPki pki;
    httplib::SSLServer https{pki.file("server.pem").c_str(), pki.file("server.key").c_str()};
    httplib::Server http;
    std::string record = slurp(std::string(TQ_FIXTURES_DIR) + "/basic-tt0111161.json");
    int https_port = 0, http_port = 0;
    std::thread https_thread, http_thread;

    Servers() {
        if (!pki.ok() || !https.is_valid() || record.empty()) std::abort();
        for (httplib::Server *s : {static_cast<httplib::Server *>(&https), &http}) {
            s->set_tcp_nodelay(true);
            s->set_keep_alive_max_count(1u << 30);
            s->set_keep_alive_timeout(60);
            s->Get("/api/AAA/GetMovieBasic", [this](const httplib::Request &, httplib::Response &res) {
                res.set_header("ETag", "\"3f2a9c\"");
                res.set_header("Cache-Control", "max-age=86400");
                res.set_content(record, "application/json; charset=utf-8");
            });
        }
        https_port = https.bind_to_any_port("127.0.0.1");
        http_port = http.bind_to_any_port("127.0.0.1");
        if (https_port <= 0 || http_port <= 0) std::abort();
        https_thread = std::thread([this] { https.listen_after_bind(); });
        http_thread = std::thread([this] { http.listen_after_bind(); });
    }
    ~Servers() {
        https.stop();
        http.stop();
        https_thread.join();
        http_thread.join();
    }
    std::string url(bool tls) const {
        return (tls ? "https://127.0.0.1:" + std::to_string(https_port)
                    : "http://127.0.0.1:" + std::to_string(http_port)) +
               kPath;
    }
};

Servers &servers() {
    static Servers s;
    return s;
}

// --- a handle of one's own ------------------------------------------------------------

struct buffer {
    char *data = nullptr;
    size_t len = 0;
};

size_t append(char *data, size_t size, size_t count, void *userp) {
    auto *b = static_cast<buffer *>(userp);
    const size_t n = size * count;
    char *p = static_cast<char *>(std::realloc(b->data, b->len + n + 1));
    if (!p) return 0;
    std::memcpy(p + b->len, data, n);
    b->data = p;
    b->len += n;
    p[b->len] = '\0';
    return n;
}

CURL *bare_handle(const std::string &url, const std::string &ca_file, buffer *into) {
    CURL *h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_CAINFO, ca_file.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(append));
    curl_easy_setopt(h, CURLOPT_WRITEDATA, into);
    return h;
}

// One request on h; the body is released as a backend's caller would release it.
void perform(CURL *h, buffer *into, size_t want) {
    if (curl_easy_perform(h) != CURLE_OK || into->len != want) std::abort();
    std::free(into->data);
    *into = buffer{};
}

// A fresh handle per request, set up as tolvane_io_curl sets its own.
void fresh_handle_get(const std::string &url, const std::string &ca_file, size_t want) {
    buffer body;
    CURL *h = bare_handle(url, ca_file, &body);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "tqmovie/0.1 (tolvane)");
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    perform(h, &body, want);
    curl_easy_cleanup(h);
}

void backend_get(const tq_io &io, const std::string &url, size_t want) {
    char *body = nullptr, *err = nullptr;
    int32_t status = 0;
    if (io.get(io.ctx, url.c_str(), &body, &status, &err) != 0 || status != 200 || std::strlen(body) != want)
        std::abort();
    io.free(io.ctx, body);
}

enum class variant { fresh_handle, fresh_backend, pooled, reused_handle };

void BM_Get(benchmark::State &state, bool tls, variant v) {
    Servers &s = servers();
    const std::string url = s.url(tls), ca_file = s.pki.file("bundle.pem");
    const size_t want = s.record.size();
    switch (v) {
    case variant::fresh_handle:
        for (auto _ : state) fresh_handle_get(url, ca_file, want);
        break;
    case variant::fresh_backend: {
        const tq_io io = tolvane_io_curl();
        for (auto _ : state) backend_get(io, url, want);
        break;
    }
    case variant::pooled: {
        tqmovie_http_options o;
        tqmovie_http_options_init(&o, sizeof o);
        o.ca_file = ca_file.c_str();
        tq_io io = tolvane_io_curl_pooled(&o);
        backend_get(io, url, want); // connect and shake hands before the clock runs
        for (auto _ : state) backend_get(io, url, want);
        tolvane_io_curl_pooled_free(&io);
        tqmovie_shutdown(); // the headers it captured
        break;
    }
    case variant::reused_handle: {
        buffer body;
        CURL *h = bare_handle(url, ca_file, &body);
        perform(h, &body, want);
        for (auto _ : state) perform(h, &body, want);
        curl_easy_cleanup(h);
        break;
    }
    }
}

BENCHMARK_CAPTURE(BM_Get, https_fresh_handle, true, variant::fresh_handle)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Get, https_pooled, true, variant::pooled)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Get, https_reused_handle, true, variant::reused_handle)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Get, http_fresh_backend, false, variant::fresh_backend)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Get, http_pooled, false, variant::pooled)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Get, http_reused_handle, false, variant::reused_handle)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
#endif // TQ_HAVE_HTTPLIB

// --- bytes on the wire ----------------------------------------------------------------

// The answer to a 24-title detail batch: the sample detail records in turn, one array.
const std::string &batch_body() {
    static const std::string body = [] {
        std::vector<std::string> files;
        if (DIR *d = opendir(TQ_FIXTURES_DIR)) {
            while (dirent *e = readdir(d))
                if (std::strncmp(e->d_name, "detail-tt", 9) == 0) files.push_back(e->d_name);
            closedir(d);
        }
        std::sort(files.begin(), files.end());
        if (files.empty()) std::abort();
        std::string out = "[";
        for (size_t i = 0; i < 24; ++i)
            out += (i ? "," : "") + slurp(std::string(TQ_FIXTURES_DIR) + "/" + files[i % files.size()]);
        return out + "]";
    }();
    return body;
}

void BM_DetailBatchWire(benchmark::State &state, bool compressed) {
    static const std::string packed = tqtest::gzip(batch_body());
    static tqtest::LoopbackServer srv(
        [](const tqtest::HttpRequest &r) {
            tqtest::HttpResponse res;
            res.headers.emplace_back("Content-Type", "application/json; charset=utf-8");
            const bool gzip = r.header("Accept-Encoding").find("gzip") != std::string::npos;
            if (gzip) res.headers.emplace_back("Content-Encoding", "gzip");
            res.body_ref = gzip ? &packed : &batch_body();
            return res;
        },
        tqtest::LoopbackServer::Connection::keep_alive);
    std::string ids;
    for (int i = 0; i < 24; ++i) ids += (i ? ",tt" : "tt") + std::to_string(1000000 + i);
    const std::string url = srv.url("/api/AAA/GetMovieDetails?read=true&getKeys=false");

    tqmovie_http_options o;
    tqmovie_http_options_init(&o, sizeof o);
    o.no_compression = compressed ? 0 : 1;
    tq_io io = tolvane_io_curl_pooled(&o);
    auto post = [&] {
        char *body = nullptr, *err = nullptr;
        int32_t status = 0;
        if (io.post(io.ctx, url.c_str(), ids.c_str(), "text/plain", &body, &status, &err) != 0 ||
            std::strlen(body) != batch_body().size())
            std::abort();
        io.free(io.ctx, body);
    };
    post();
    const uint64_t before = srv.bytes_sent();
    for (auto _ : state) post();
    state.counters["wire_bytes"] =
        static_cast<double>(srv.bytes_sent() - before) / static_cast<double>(state.iterations());
    state.counters["body_bytes"] = static_cast<double>(batch_body().size());
    tolvane_io_curl_pooled_free(&io);
    tqmovie_shutdown();
    srv.clear();
}

BENCHMARK_CAPTURE(BM_DetailBatchWire, gzip, true)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DetailBatchWire, identity, false)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
