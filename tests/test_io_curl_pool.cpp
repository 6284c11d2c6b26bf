// SPDX-License-Identifier: MIT
// The pooled HTTP backend and the response headers both HTTP backends capture, against
// servers on 127.0.0.1 started here.
#include <gtest/gtest.h>

#include "alloc_fail.h"
#include "io_outcome.h"
#include "loopback_server.h"
#include "test_pki.h"
#include "tqmovie.h"

#ifdef TQ_HAVE_HTTPLIB
#  include <httplib.h>
#endif

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using tqtest::HttpRequest;
using tqtest::HttpResponse;
using tqtest::io_get;
using tqtest::io_post;
using tqtest::LoopbackServer;
using tqtest::Outcome;
using tqtest::PooledIo;

HttpResponse reply(std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
    HttpResponse r;
    r.body = std::move(body);
    r.headers = std::move(headers);
    return r;
}

tqmovie_http_options defaults() {
    tqmovie_http_options o;
    tqmovie_http_options_init(&o, sizeof o);
    return o;
}

// A host built against an older, shorter options struct gets only its own bytes
// filled; a full one gets every default, the same as the initialiser macro.
TEST(IoCurlPool, OptionsInitFillsOnlyTheCallersSize) {
    unsigned char bytes[sizeof(tqmovie_http_options) + 8];
    std::memset(bytes, 0xAB, sizeof bytes);
    const size_t older = offsetof(tqmovie_http_options, max_body_bytes);
    tqmovie_http_options_init(reinterpret_cast<tqmovie_http_options *>(bytes), older);
    size_t size;
    std::memcpy(&size, bytes, sizeof size);
    EXPECT_EQ(size, older);
    for (size_t i = older; i < sizeof bytes; ++i) ASSERT_EQ(bytes[i], 0xAB) << i;
    const tqmovie_http_options full = defaults(), macro = TQMOVIE_HTTP_OPTIONS_INIT;
    EXPECT_EQ(full.size, sizeof full);
    EXPECT_EQ(full.connect_timeout_ms, 10000);
    EXPECT_EQ(full.max_body_bytes, uint64_t{TQMOVIE_HTTP_MAX_BODY});
    EXPECT_EQ(macro.size, sizeof macro);
}

void expect_failed(const Outcome &o, const std::string &text) {
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.body, nullptr);
    EXPECT_EQ(o.err_text(), text);
}

// Options that would put bytes of their own on the wire (a header injected through a
// line break) fail every request, naming the option, and nothing reaches the server.
TEST(IoCurlPool, ControlBytesInOptionsAreRefusedBeforeSending) {
    LoopbackServer srv([](const HttpRequest &) { return reply("answered"); });
    const struct {
        const char *user_agent, *proxy, *text;
    } cases[] = {
        {"tqmovie\r\nX-Injected: yes", nullptr, "user agent contains a control byte"},
        {"tqmovie\x01", nullptr, "user agent contains a control byte"},
        {nullptr, "http://127.0.0.1:9\r\nX-Injected: yes", "proxy contains a control byte"},
    };
    for (const auto &c : cases) {
        tqmovie_http_options o = defaults();
        o.user_agent = c.user_agent;
        o.proxy = c.proxy;
        PooledIo pooled(&o);
        ASSERT_NE(pooled.io.get, nullptr);
        expect_failed(io_get(pooled.io, srv.url("/")), c.text);
        expect_failed(io_post(pooled.io, srv.url("/"), "tt1", "text/plain"), c.text);
    }
    EXPECT_EQ(srv.connection_count(), 0u);
}

TEST(IoCurlPool, OneConnectionCarriesEveryRequest) {
    LoopbackServer srv([](const HttpRequest &r) { return reply(r.method + " " + r.body); },
                       LoopbackServer::Connection::keep_alive);
    PooledIo pooled;
    const std::string big(2u << 20, 'x'); // libcurl would ask "100-continue?" first and wait
    for (int i = 0; i < 100; ++i) {
        const char *body = i == 99 ? big.c_str() : i % 2 ? "tt1,tt2" : nullptr;
        Outcome o = body ? io_post(pooled.io, srv.url("/p"), body, nullptr) : io_get(pooled.io, srv.url("/g"));
        ASSERT_EQ(o.rc, 0) << i << ": " << o.err_text();
        EXPECT_EQ(o.body_text(), std::string(body ? "POST " : "GET ") + (body ? body : "")) << i;
    }
    EXPECT_EQ(srv.connection_count(), 1u);
    const auto reqs = srv.requests();
    ASSERT_EQ(reqs.size(), 100u);
    for (size_t i = 0; i < reqs.size(); ++i) {
        EXPECT_EQ(reqs[i].header_count("Content-Type"), i % 2) << i; // no POST header left on a GET
        EXPECT_EQ(reqs[i].header_count("Expect"), 0u) << i;
    }
}

TEST(IoCurlPool, ConnectTimeoutEndsAConnectThatHangs) {
    tqtest::StalledListener stalled;
    ASSERT_NE(stalled.port(), 0);
    tqmovie_http_options o = defaults();
    o.connect_timeout_ms = 200;
    PooledIo pooled(&o);
    expect_failed(io_get(pooled.io, stalled.url("/")), "Timeout was reached");
}

// The limit counts the bytes handed over, after decoding, however they come.
TEST(IoCurlPool, BodyLimitHoldsHoweverTheBodyComes) {
    constexpr uint64_t limit = 100000;
    auto made = [](uint64_t size, bool chunked) {
        HttpResponse r;
        r.generated = size;
        r.chunked = chunked;
        r.headers.emplace_back("ETag", "\"e\"");
        return r;
    };
    const struct {
        HttpResponse res;
        bool fits;
    } cases[] = {
        {made(limit, false), true},
        {made(limit + 1, false), false},
        {made(limit, true), true},
        {made(HttpResponse::kEndless, true), false},
        {reply(tqtest::gzip(std::string(limit, 'z')), {{"Content-Encoding", "gzip"}}), true},
        {reply(tqtest::gzip(std::string(limit + 1, 'z')), {{"Content-Encoding", "gzip"}}), false},
    };
    tqmovie_http_options o = defaults();
    o.max_body_bytes = limit;
    PooledIo pooled(&o);
    tqmovie_set_io(&pooled.io);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        LoopbackServer srv([&](const HttpRequest &) { return cases[i].res; });
        char *body = nullptr;
        int32_t status = 0;
        const int32_t st = tq_http_get(srv.url("/body").c_str(), &body, &status);
        EXPECT_EQ(body ? std::strlen(body) : 0, cases[i].fits ? limit : 0);
        std::free(body);
        EXPECT_EQ(st, cases[i].fits ? TQMOVIE_OK : TQMOVIE_ERR_TRANSPORT);
        EXPECT_STREQ(tqmovie_last_error(),
                     cases[i].fits ? "" : "transport: response body over the limit of 100000 bytes");
        EXPECT_EQ(tqmovie_last_response_header("ETag") != nullptr, cases[i].fits && i < 3);
        tq_set_err("%s", "");
    }
    tqmovie_shutdown();
}

TEST(IoCurlPool, CompressedAnswersAreAskedForAndDecoded) {
    std::string text;
    while (text.size() < 50000) text += "{\"imDbId\":\"tt0111161\",\"title\":\"The Shawshank Redemption\"},";
    LoopbackServer srv([&](const HttpRequest &r) {
        if (r.header("Accept-Encoding").find("gzip") == std::string::npos) return reply(text);
        return reply(tqtest::gzip(text), {{"Content-Encoding", "gzip"}});
    });
    for (int32_t no_compression : {0, 1}) {
        tqmovie_http_options o = defaults();
        o.no_compression = no_compression;
        PooledIo pooled(&o);
        Outcome out = io_get(pooled.io, srv.url("/details"));
        ASSERT_EQ(out.rc, 0) << out.err_text();
        EXPECT_EQ(out.body_text(), text);
        EXPECT_EQ(srv.requests().back().header_count("Accept-Encoding"), no_compression ? 0u : 1u);
    }
}

TEST(IoCurlPool, ASecondRequestWhileOneRunsIsRefused) {
    std::atomic<bool> go_on{false};
    LoopbackServer srv([&](const HttpRequest &) {
        while (!go_on) std::this_thread::yield();
        return reply("first");
    });
    PooledIo pooled;
    Outcome first{};
    std::thread t([&] { first = io_get(pooled.io, srv.url("/slow")); });
    while (srv.request_count() == 0) std::this_thread::yield();
    expect_failed(io_get(pooled.io, srv.url("/")), "pooled HTTP backend busy: it serves one request at a time");
    go_on = true;
    t.join();
    EXPECT_EQ(first.body_text(), "first");
}

// Made whole, or an all-NULL table; either way released without a trace.
TEST(IoCurlPool, EachAllocationFailureOfTheSetUpIsCleanlyReported) {
    tqmovie_http_options o = defaults();
    o.proxy = "";
    o.ca_file = "/nonexistent/ca.pem";
    PooledIo warm(&o); // libcurl's one-time global set-up, outside the window
    tqtest::reset_tracking();
    const long runs = tqtest::each_allocation_failure([&] { return tolvane_io_curl_pooled(&o); },
                                                      [](tq_io io, long k, bool) {
                                                          EXPECT_EQ(io.get == nullptr, io.ctx == nullptr) << k;
                                                          tolvane_io_curl_pooled_free(&io);
                                                          EXPECT_EQ(tqtest::live_allocations(), 0) << k;
                                                      });
    EXPECT_GT(runs, 3);
}

#ifdef TQ_HAVE_HTTPLIB
// Verified through the CA file (the system's bundle and the throwaway CA), refused with
// the system's store; once a hop is https, no later hop is plain http.
TEST(IoCurlPool, TlsServerIsTrustedThroughTheCaFileOnly) {
    tqtest::TestPki pki;
    ASSERT_TRUE(pki.ok());
    std::string base;
    LoopbackServer plain([&](const HttpRequest &r) {
        return r.path() == "/up" ? tqtest::redirect_to(base + "/down") : reply("in the clear");
    });
    httplib::SSLServer svr(pki.file("server.pem").c_str(), pki.file("server.key").c_str());
    ASSERT_TRUE(svr.is_valid());
    svr.Get("/title",
            [](const httplib::Request &, httplib::Response &res) { res.set_content("tt0111161", "text/plain"); });
    svr.Get("/down", [&](const httplib::Request &, httplib::Response &res) { res.set_redirect(plain.url("/")); });
    const int port = svr.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread t([&] { svr.listen_after_bind(); });
    base = "https://127.0.0.1:" + std::to_string(port);
    const std::string ca_file = pki.file("bundle.pem");

    tqmovie_http_options o = defaults();
    o.ca_file = ca_file.c_str();
    {
        PooledIo trusted(&o), system_store; // gone before the server stops: it waits for open connections
        EXPECT_EQ(io_get(trusted.io, base + "/title").body_text(), "tt0111161");
        expect_failed(io_get(trusted.io, base + "/down"), "Unsupported protocol");
        // http -> https -> http: every hop is checked, not only the first URL.
        expect_failed(io_get(trusted.io, plain.url("/up")), "redirect from https to http refused");
        for (const tq_io &io : {system_store.io, tolvane_io_curl()})
            expect_failed(io_get(io, base + "/title"), "SSL peer certificate or SSH remote key was not OK");
    }
    for (const HttpRequest &r : plain.requests()) EXPECT_EQ(r.path(), "/up") << "a request went out in the clear";
    svr.stop();
    t.join();
}
#endif

// ---------------------------------------------------------------------------------
// Response headers
// ---------------------------------------------------------------------------------

const std::string kName63(63, 'N'), kLong(300, 'v');

// After a redirect and an interim answer, a final one that tests every table limit.
std::string final_answer() {
    std::string r = "HTTP/1.1 103 Early Hints\r\nLink: </early>\r\n\r\nHTTP/1.1 200 OK\r\nETag: \"v1\"\r\n"
                    "Cache-Control: \t max-age=60 \r\nRetry-After: 120\r\n" +
                    kName63 + ": kept\r\nM" + kName63 + ": name too long\r\nX-Long: " + kLong +
                    "\r\nX-Ctl: a\x01z\r\nX-Tab: a\tz\r\nX-Cr: a\rz\r\nX-Del: a\x7fz\r\nBad Name: x\r\n";
    for (int i = 0; i < 40; ++i) r += "X-Fill-" + std::to_string(i) + ": " + std::to_string(i) + "\r\n";
    return r + "Content-Length: 2\r\nConnection: close\r\n\r\nok";
}

TEST(ResponseHeaders, TheFinalAnswersAreKeptWithinTheTableLimits) {
    LoopbackServer srv([](const HttpRequest &r) {
        HttpResponse res = tqtest::redirect_to("/final");
        res.headers.emplace_back("X-Hop", "1");
        if (r.path() == "/final") res.raw = final_answer();
        return res;
    });
    const std::pair<std::string, const char *> want[] = {
        {"etag", "\"v1\""},     {"CACHE-CONTROL", "max-age=60"},
        {"Retry-After", "120"}, {kName63, "kept"},
        {"X-Fill-26", "26"},    {"X-Fill-27", nullptr},
        {"X-Ctl", nullptr},     {"X-Tab", nullptr},
        {"X-Cr", nullptr},      {"X-Del", nullptr},
        {"Bad Name", nullptr},  {"X-Hop", nullptr},
        {"Link", nullptr},
    };
    PooledIo pooled;
    for (const tq_io &io : {tolvane_io_curl(), pooled.io}) {
        tqmovie_set_io(&io);
        char *body = nullptr;
        int32_t status = 0;
        ASSERT_EQ(tq_http_get(srv.url("/start").c_str(), &body, &status), TQMOVIE_OK) << tqmovie_last_error();
        std::free(body);
        EXPECT_EQ(g_tq.header_count, 32);
        for (const auto &[name, value] : want) EXPECT_STREQ(tqmovie_last_response_header(name.c_str()), value) << name;
        const char *cut = tqmovie_last_response_header("X-Long");
        EXPECT_EQ(cut ? std::string(cut) : "<none>", kLong.substr(0, 255));
    }
    tqmovie_shutdown();
}

// A host's backend reports headers for the client it was installed on, while the
// library waits in its entry; the lookups then empty the table at their start.
struct ReportingBackend {
    tqmovie_client *client;
    std::vector<int32_t> stored;
    static int32_t get(void *ctx, const char *url, char **body, int32_t *status, char **) {
        auto *b = static_cast<ReportingBackend *>(ctx);
        b->stored.push_back(tqmovie_io_header(b->client, "ETag", "\"h1\""));
        b->stored.push_back(tqmovie_io_header(b->client, "X-Bad", "a\r\nX-Injected: 1"));
        b->stored.push_back(tqmovie_io_header(nullptr, "X-Other-Client", "1"));
        *status = 200;
        *body = static_cast<char *>(std::calloc(1, 32));
        std::strcpy(*body, std::strstr(url, "IsMovie") ? "true" : "{\"imDbId\":\"tt1\"}");
        return 0;
    }
};

TEST(ResponseHeaders, NoLookupShowsTheHeadersOfAnEarlierRequest) {
    tqmovie_client *c = tqmovie_client_new();
    tqmovie_client *prev = tqmovie_use(c);
    ReportingBackend backend{c, {}};
    const tq_io io{&backend, ReportingBackend::get, nullptr, nullptr};
    tqmovie_set_io(&io);
    ASSERT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_OK) << tqmovie_last_error();
    EXPECT_EQ(backend.stored, (std::vector<int32_t>{1, 0, 0}));
    EXPECT_STREQ(tqmovie_last_response_header("ETag"), "\"h1\"");
    EXPECT_EQ(tqmovie_last_response_header("X-Bad"), nullptr);
    EXPECT_EQ(tqmovie_io_header(c, "X-Late", "1"), 0); // no request running
    EXPECT_EQ(tqmovie_get_basic(nullptr, nullptr), TQMOVIE_ERR_ARG);
    EXPECT_EQ(tqmovie_last_response_header("ETag"), nullptr);
    ASSERT_EQ(tqmovie_is_movie("tt1", nullptr), TQMOVIE_OK);
    ASSERT_EQ(tqmovie_get_basic("tt1", nullptr), TQMOVIE_OK); // from the cache
    EXPECT_EQ(backend.stored.size(), 6u);
    EXPECT_EQ(tqmovie_last_response_header("ETag"), nullptr);
    tqmovie_use(prev);
    EXPECT_EQ(g_tq.header_count, 0);
    tqmovie_client_free(c);
}

} // namespace
