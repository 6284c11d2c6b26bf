// SPDX-License-Identifier: MIT
// Fuzzes response-header capture. The input's NUL-separated texts are name/value pairs
// that a host backend reports with tqmovie_io_header during a request, once on the
// global state and once on a client. Each report must be stored exactly when the
// table's rules say so (the first 32; a name of 1 to 63 bytes, none of them a control
// byte, a space or ':'; a value without control bytes once its surrounding spaces and
// tabs are dropped, cut at 255), every name must read back the first stored value of
// that name whatever its case, and the next lookup must empty the table.
#include "fuzz_common.h"

#include <optional>

namespace {

fuzz_backend backend;

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool name_ok(const std::string &n) {
    if (n.empty() || n.size() > 63) return false;
    for (unsigned char c : n)
        if (is_control(c) || c == ' ' || c == ':') return false;
    return true;
}

std::optional<std::string> value_stored(const std::string &v) {
    size_t b = 0, e = v.size();
    while (b < e && (v[b] == ' ' || v[b] == '\t')) ++b;
    while (e > b && (v[e - 1] == ' ' || v[e - 1] == '\t')) --e;
    for (size_t i = b; i < e; ++i)
        if (is_control(static_cast<unsigned char>(v[i]))) return std::nullopt;
    return v.substr(b, e - b > 255 ? 255 : e - b);
}

bool same_name(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

std::string flip_case(std::string s) {
    for (char &c : s)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) c ^= 0x20;
    return s;
}

void run(tqmovie_client *c, const std::vector<std::pair<std::string, std::string>> &pairs) {
    tqmovie_client *const previous = tqmovie_use(c);
    tqmovie_shutdown();
    backend.forget();
    backend.client = c;
    backend.answer = fuzz_answer{};
    backend.answer.headers = pairs;
    backend.answer.has_body = true;
    backend.answer.body = "true";
    const tq_io io = backend.table();
    tqmovie_set_io(&io);
    FUZZ_CHECK(tqmovie_io_header(c, "ETag", "outside a request") == 0);
    int32_t is_movie = 0;
    FUZZ_CHECK(tqmovie_is_movie("tt1", &is_movie) == TQMOVIE_OK && is_movie == 1);

    std::vector<std::pair<std::string, std::string>> table;
    for (size_t k = 0; k < pairs.size(); ++k) {
        const std::optional<std::string> v = value_stored(pairs[k].second);
        const bool stored = table.size() < 32 && name_ok(pairs[k].first) && v;
        FUZZ_CHECK(backend.heard[k] == (stored ? 1 : 0));
        if (stored) table.emplace_back(pairs[k].first, *v);
    }
    if (!c) {
        FUZZ_CHECK(g_tq.header_count == static_cast<int32_t>(table.size()));
        for (size_t k = 0; k < table.size(); ++k) {
            fuzz_same(g_tq.headers[k].name, table[k].first, "stored name");
            fuzz_same(g_tq.headers[k].value, table[k].second, "stored value");
        }
    }
    for (const auto &p : pairs)
        for (const std::string &name : {p.first, flip_case(p.first)}) {
            const char *got = tqmovie_last_response_header(name.c_str());
            const std::pair<std::string, std::string> *first = nullptr;
            for (const auto &h : table)
                if (!first && same_name(h.first, name)) first = &h;
            FUZZ_CHECK((got != nullptr) == (first != nullptr));
            if (got) fuzz_same(got, first->second, "header read back");
        }
    FUZZ_CHECK(tqmovie_last_response_header(nullptr) == nullptr);

    // An answer without headers leaves none of the last one's.
    backend.answer.headers.clear();
    FUZZ_CHECK(tqmovie_is_movie("tt1", &is_movie) == TQMOVIE_OK);
    for (const auto &h : table) FUZZ_CHECK(tqmovie_last_response_header(h.first.c_str()) == nullptr);
    tqmovie_shutdown();
    tqmovie_use(previous);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static tqmovie_client *const client = tqmovie_client_new();
    FUZZ_CHECK(client != nullptr);
    const std::vector<std::string> f = split_fields(data, size, 160);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 0; i < f.size(); i += 2) pairs.emplace_back(f[i], i + 1 < f.size() ? f[i + 1] : "");
    run(nullptr, pairs);
    run(client, pairs);
    return 0;
}
