// SPDX-License-Identifier: MIT
// A hostile server on 127.0.0.1 for the bounded-answer tests and the memory probe:
// one LoopbackServer whose first path segment picks the misbehaviour, so that
// tqmovie_set_host(srv.host(mode)) points every lookup at one of them. Huge bodies are
// made as they are sent (nothing is buffered), so gigabytes cost the server nothing;
// the transfer goes on until the client gives up.
#ifndef TQ_TEST_HOSTILE_SERVER_H
#define TQ_TEST_HOSTILE_SERVER_H

#include "loopback_server.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace tqtest {

enum class Hostile {
    ok,
    huge_length,
    huge_unframed,
    endless_chunked,
    not_found_huge,
    header_flood,
    trickle,
    silent,
    dense_array,
    dense_small,
    long_string,
    deep_nesting
};

struct HostileMode {
    Hostile mode;
    const char *name; // the path segment that selects it
    const char *what;
};

inline constexpr HostileMode kHostileModes[] = {
    {Hostile::ok, "ok", "a small basic record (the baseline)"},
    {Hostile::huge_length, "2g-length", "2 GiB body with its Content-Length"},
    {Hostile::huge_unframed, "2g-unframed", "2 GiB body without a length, ended by closing"},
    {Hostile::endless_chunked, "endless-chunked", "chunked body that never ends"},
    {Hostile::not_found_huge, "404-500m", "HTTP 404 with a 500 MiB body"},
    {Hostile::header_flood, "1m-headers", "1 MiB of header lines (16384 of 64 bytes)"},
    {Hostile::trickle, "trickle", "1 MiB body at one byte per second"},
    {Hostile::silent, "silent", "reads the request, never answers"},
    {Hostile::dense_array, "250m-dense", "250 MiB JSON array of one-digit numbers"},
    {Hostile::dense_small, "4m-dense", "4 MiB JSON array of one-digit numbers"},
    {Hostile::long_string, "250m-string", "a record whose plot is a 250 MiB string"},
    {Hostile::deep_nesting, "16m-nesting", "16 MiB of nested arrays"},
};

// The JSON bodies of the dense modes, made once per process and sent without a copy.
inline const std::string &dense_body(Hostile m) {
    constexpr size_t MiB = size_t{1} << 20;
    static std::string dense, small, text, deep;
    auto array_of_digits = [](std::string &out, size_t bytes) {
        out.reserve(bytes);
        out = "[0";
        while (out.size() + 3 < bytes) out += ",0";
        out += "]";
    };
    switch (m) {
    case Hostile::dense_array:
        if (dense.empty()) array_of_digits(dense, 250 * MiB);
        return dense;
    case Hostile::dense_small:
        if (small.empty()) array_of_digits(small, 4 * MiB);
        return small;
    case Hostile::long_string:
        if (text.empty()) text = "{\"imDbId\":\"tt0111161\",\"plot\":\"" + std::string(250 * MiB, 'p') + "\"}";
        return text;
    default:
        if (deep.empty()) deep = std::string(8 * MiB, '[') + std::string(8 * MiB, ']');
        return deep;
    }
}

inline const HostileMode &hostile_mode(Hostile m) {
    for (const auto &h : kHostileModes)
        if (h.mode == m) return h;
    return kHostileModes[0];
}

inline HttpResponse hostile_answer(Hostile m) {
    constexpr uint64_t MiB = uint64_t{1} << 20;
    HttpResponse r;
    switch (m) {
    case Hostile::ok: r.body = "{\"imDbId\":\"tt0111161\",\"title\":\"The Shawshank Redemption\"}"; break;
    case Hostile::huge_length: r.generated = 2048 * MiB; break;
    case Hostile::huge_unframed:
        r.generated = 2048 * MiB;
        r.unframed = true;
        break;
    case Hostile::endless_chunked:
        r.generated = HttpResponse::kEndless;
        r.chunked = true;
        break;
    case Hostile::not_found_huge:
        r.status = 404;
        r.generated = 500 * MiB;
        break;
    case Hostile::header_flood:
        // "X-Flood-00000: ", 47 bytes of value and CRLF: 64 bytes a line.
        for (int i = 0; i < 16384; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "X-Flood-%05d", i);
            r.headers.emplace_back(name, std::string(47, 'h'));
        }
        r.body = "{\"imDbId\":\"tt0111161\",\"title\":\"The Shawshank Redemption\"}";
        break;
    case Hostile::trickle:
        r.generated = MiB;
        r.trickle_ms = 1000;
        break;
    case Hostile::silent: r.silent = true; break;
    case Hostile::dense_array:
    case Hostile::dense_small:
    case Hostile::long_string:
    case Hostile::deep_nesting: r.body_ref = &dense_body(m); break;
    }
    return r;
}

class HostileServer : public LoopbackServer {
public:
    HostileServer() : LoopbackServer([](const HttpRequest &r) { return answer(r.path()); }) {}

    // The base URL whose requests get mode m's answer.
    std::string host(Hostile m) const { return base() + "/" + hostile_mode(m).name; }

private:
    static HttpResponse answer(const std::string &path) {
        const size_t end = path.find('/', 1);
        const std::string first = path.substr(1, end == std::string::npos ? std::string::npos : end - 1);
        for (const auto &h : kHostileModes)
            if (first == h.name) return hostile_answer(h.mode);
        HttpResponse none;
        none.status = 404;
        return none;
    }
};

} // namespace tqtest

#endif // TQ_TEST_HOSTILE_SERVER_H
