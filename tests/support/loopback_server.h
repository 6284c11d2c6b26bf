// SPDX-License-Identifier: MIT
// A small HTTP/1.1 server on 127.0.0.1 for the tests and benchmarks that exercise a
// real transport. It listens on an ephemeral port, serves one connection at a time on
// its own thread, records every request exactly as received (raw bytes and parsed
// parts) and answers with what the test's handler returns. By default every answer
// closes the connection, so each request of a client is one connection; with
// Connection::keep_alive a connection serves requests until the client closes it.
// It counts connections and the bytes it sends (what went over the wire).
//
// Also here: a listener whose connects hang (StalledListener), a port that refuses
// them (RefusingPort), and gzip() for compressed answers. hostile_server.h builds the
// misbehaving answers (huge, endless, slow, silent) on it.
//
// It binds to the loopback address only and never connects anywhere itself.
#ifndef TQ_TEST_LOOPBACK_SERVER_H
#define TQ_TEST_LOOPBACK_SERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <strings.h>
#include <thread>
#include <utility>
#include <vector>

namespace tqtest {

struct HttpRequest {
    std::string raw; // request line, header lines and body, byte for byte
    std::string method;
    std::string target; // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::string path() const { return target.substr(0, target.find('?')); }
    std::string query() const {
        auto q = target.find('?');
        return q == std::string::npos ? std::string() : target.substr(q + 1);
    }
    // Value of the first header with this name (ASCII case-insensitive), or "".
    std::string header(const char *name) const {
        for (const auto &h : headers)
            if (strcasecmp(h.first.c_str(), name) == 0) return h.second;
        return {};
    }
    size_t header_count(const char *name) const {
        size_t n = 0;
        for (const auto &h : headers) n += strcasecmp(h.first.c_str(), name) == 0;
        return n;
    }
    // The whole header line for this name, without its CRLF, or "".
    std::string header_line(const char *name) const {
        const std::string head = raw.substr(0, raw.find("\r\n\r\n"));
        size_t at = head.find("\r\n");
        while (at != std::string::npos) {
            size_t end = head.find("\r\n", at + 2);
            std::string line = head.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
            size_t colon = line.find(':');
            if (colon != std::string::npos && strcasecmp(line.substr(0, colon).c_str(), name) == 0) return line;
            at = end;
        }
        return {};
    }
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    const std::string *body_ref = nullptr; // sent instead of body, without a copy
    std::string raw;                       // when not empty, sent as it is instead of all the above
    bool hang_up = false;                  // close the connection without answering
    // When not 0, this many pattern bytes are sent instead of body, made as they go
    // (kEndless: until the client gives up), so a huge body costs the server nothing.
    uint64_t generated = 0;
    bool chunked = false;  // a generated body goes out in chunks, without Content-Length
    bool unframed = false; // ... or with neither: it ends when the connection closes
    int trickle_ms = 0;    // when not 0, a generated body goes out one byte each trickle_ms
    bool silent = false;   // read the request, never answer, hold the connection open
    static constexpr uint64_t kEndless = UINT64_MAX;
};

// The byte at offset i of a generated body.
inline char pattern_byte(uint64_t i) { return static_cast<char>('a' + i % 26); }

// text compressed in the gzip format (Content-Encoding: gzip); empty on failure.
inline std::string gzip(const std::string &text) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef *>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(z.total_out);
    deflateEnd(&z);
    return done ? out : std::string();
}

inline HttpResponse redirect_to(const std::string &location, int status = 302) {
    HttpResponse r;
    r.status = status;
    r.headers.emplace_back("Location", location);
    return r;
}

// 127.0.0.1:port (0: any free port).
inline sockaddr_in loopback_address(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

class LoopbackServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;
    enum class Connection { close_each, keep_alive };

    explicit LoopbackServer(Handler handler, Connection mode = Connection::close_each)
        : handler_(std::move(handler)), keep_alive_(mode == Connection::keep_alive) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return;
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = loopback_address(0);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }

    ~LoopbackServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }

    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    bool ok() const { return fd_ >= 0; }
    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string &target) const { return base() + target; }

    std::vector<HttpRequest> requests() const {
        std::lock_guard<std::mutex> lock(mu_);
        return requests_;
    }
    size_t request_count() const {
        std::lock_guard<std::mutex> lock(mu_);
        return requests_.size();
    }
    size_t connection_count() const { return connections_.load(); }
    uint64_t bytes_sent() const { return bytes_sent_.load(); }
    void clear() {
        std::lock_guard<std::mutex> lock(mu_);
        requests_.clear();
    }

private:
    static bool wait_readable(int fd, int ms) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }

    bool send_all(int fd, const char *p, size_t n) {
        while (n > 0) {
            ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
            if (w <= 0) return false;
            bytes_sent_ += static_cast<uint64_t>(w);
            p += w;
            n -= static_cast<size_t>(w);
        }
        return true;
    }
    bool send_all(int fd, const std::string &s) { return send_all(fd, s.data(), s.size()); }

    // Waits up to ms for the client, giving up early when the server stops.
    bool wait_client(int c, int ms) const {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); !stop_;) {
            if (wait_readable(c, 20)) return true;
            if (std::chrono::steady_clock::now() > end) return false;
        }
        return false;
    }

    void run() {
        while (!stop_) {
            if (!wait_readable(fd_, 20)) continue;
            int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            ++connections_;
            // Head and body go out in separate writes: without this a kept connection
            // would wait for the client's delayed acknowledgement on every answer.
            int one = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::string in;
            while (serve(c, in) && keep_alive_) {
            }
            ::close(c);
        }
    }

    // Reads one request (headers and a Content-Length body) from the connection (in
    // holds what arrived beyond the last one) and answers it. false when the
    // connection is done.
    bool serve(int c, std::string &in) {
        char chunk[16384];
        size_t head_end = in.find("\r\n\r\n");
        while (head_end == std::string::npos) {
            if (!wait_client(c, keep_alive_ ? 60000 : 5000)) return false;
            ssize_t r = ::recv(c, chunk, sizeof chunk, 0);
            if (r <= 0) return false; // the client closed or gave up before sending a request
            in.append(chunk, static_cast<size_t>(r));
            head_end = in.find("\r\n\r\n");
        }
        HttpRequest req;
        parse_head(in.substr(0, head_end), req);
        size_t want = std::strtoul(req.header("Content-Length").c_str(), nullptr, 10);
        if (strcasecmp(req.header("Expect").c_str(), "100-continue") == 0 && in.size() - head_end - 4 < want)
            send_all(c, "HTTP/1.1 100 Continue\r\n\r\n", 25);
        while (in.size() - head_end - 4 < want) {
            if (!wait_client(c, 5000)) return false;
            ssize_t r = ::recv(c, chunk, sizeof chunk, 0);
            if (r <= 0) return false;
            in.append(chunk, static_cast<size_t>(r));
        }
        req.body = in.substr(head_end + 4, want);
        req.raw = in.substr(0, head_end + 4 + want);
        in.erase(0, head_end + 4 + want);
        {
            std::lock_guard<std::mutex> lock(mu_);
            requests_.push_back(req);
        }
        HttpResponse res = handler_(req);
        if (res.hang_up) return false;
        if (res.silent) {
            // Until the client gives up (closes) or the server stops.
            while (!stop_ && (!wait_readable(c, 20) || ::recv(c, chunk, sizeof chunk, 0) > 0)) {
            }
            return false;
        }
        bool sent = true;
        if (!res.raw.empty()) {
            sent = send_all(c, res.raw);
        } else {
            const std::string &body = res.body_ref ? *res.body_ref : res.body;
            std::string head = "HTTP/1.1 " + std::to_string(res.status) + " " + reason(res.status) + "\r\n";
            for (const auto &h : res.headers) head += h.first + ": " + h.second + "\r\n";
            if (res.generated && res.chunked)
                head += "Transfer-Encoding: chunked\r\n";
            else if (!(res.generated && res.unframed)) // an unframed body runs until the close
                head += "Content-Length: " + std::to_string(res.generated ? res.generated : body.size()) + "\r\n";
            head += keep_alive_ ? "\r\n" : "Connection: close\r\n\r\n";
            sent = send_all(c, head);
            if (sent && req.method != "HEAD") sent = res.generated ? send_generated(c, res) : send_all(c, body);
        }
        if (keep_alive_) return sent;
        ::shutdown(c, SHUT_WR);
        // Let the client read to the end before the socket goes away.
        while (wait_readable(c, 1000) && ::recv(c, chunk, sizeof chunk, 0) > 0) {
        }
        return false;
    }

    // A generated body in pieces of 64 KiB (each a chunk when chunked; one byte when
    // trickling), until it is all out, the client goes away or the server stops. The
    // pattern repeats every 26 bytes, so every piece is a window into one block made once.
    bool send_generated(int c, const HttpResponse &res) {
        const size_t most = res.trickle_ms ? 1 : 65536;
        std::string block(most + 26, ' ');
        for (size_t i = 0; i < block.size(); ++i) block[i] = pattern_byte(i);
        for (uint64_t at = 0; at < res.generated && !stop_;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(most, res.generated - at));
            char size_line[32];
            std::snprintf(size_line, sizeof size_line, "%zx\r\n", n);
            if (res.chunked && !send_all(c, size_line, std::strlen(size_line))) return false;
            if (!send_all(c, block.data() + at % 26, n) || (res.chunked && !send_all(c, "\r\n", 2))) return false;
            at += n;
            for (int slept = 0; slept < res.trickle_ms && !stop_; slept += 20)
                if (wait_readable(c, 20) && ::recv(c, size_line, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) return false;
        }
        return !res.chunked || send_all(c, "0\r\n\r\n", 5);
    }

    static void parse_head(const std::string &head, HttpRequest &req) {
        size_t eol = head.find("\r\n");
        std::string line = head.substr(0, eol);
        size_t s1 = line.find(' '), s2 = line.rfind(' ');
        if (s1 != std::string::npos && s2 > s1) {
            req.method = line.substr(0, s1);
            req.target = line.substr(s1 + 1, s2 - s1 - 1);
        }
        while (eol != std::string::npos) {
            size_t next = head.find("\r\n", eol + 2);
            std::string h = head.substr(eol + 2, next == std::string::npos ? std::string::npos : next - eol - 2);
            size_t colon = h.find(':');
            if (colon != std::string::npos) {
                size_t v = colon + 1;
                while (v < h.size() && (h[v] == ' ' || h[v] == '\t')) ++v;
                req.headers.emplace_back(h.substr(0, colon), h.substr(v));
            }
            eol = next;
        }
    }

    static const char *reason(int status) {
        switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 307: return "Temporary Redirect";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
        }
    }

    Handler handler_;
    bool keep_alive_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> connections_{0};
    std::atomic<uint64_t> bytes_sent_{0};
    mutable std::mutex mu_;
    std::vector<HttpRequest> requests_;
    std::thread thread_;
};

// A port on 127.0.0.1 that refuses connections: the socket is bound, so nobody else
// takes the port while the object lives, but it never listens.
class RefusingPort {
public:
    RefusingPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback_address(0);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~RefusingPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;
    int port() const { return port_; }
    std::string url(const std::string &target) const { return "http://127.0.0.1:" + std::to_string(port_) + target; }

protected:
    int fd_ = -1;
    int port_ = 0; // 0: the socket could not be set up
};

// A port on 127.0.0.1 where a connect hangs: the listener's queue (backlog 0) is held
// full by one connection it never accepts, so the kernel drops every further SYN.
class StalledListener : public RefusingPort {
public:
    StalledListener() {
        held_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback_address(port_);
        if (port_ == 0 || held_ < 0 || ::listen(fd_, 0) != 0 ||
            ::connect(held_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            port_ = 0;
    }
    ~StalledListener() {
        if (held_ >= 0) ::close(held_);
    }

private:
    int held_ = -1;
};

} // namespace tqtest

#endif // TQ_TEST_LOOPBACK_SERVER_H
