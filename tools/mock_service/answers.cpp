// SPDX-License-Identifier: MIT
#include "mock_service/answers.h"

#include <cstdlib>

namespace tqmock {
namespace {

// Ids become part of fixture file names: only letters and digits, so a request can
// never name a path outside the fixture directory.
constexpr size_t id_max = 64;

} // namespace

bool valid_id(const std::string &id) {
    if (id.empty() || id.size() > id_max) return false;
    for (char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    return true;
}

void answer_text(httplib::Response &res, int status, const std::string &text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain");
}

bool query_id(const httplib::Request &req, httplib::Response &res, std::string &id) {
    if (!req.has_param("imdbId")) {
        answer_text(res, 400, "imdbId required");
        return false;
    }
    id = req.get_param_value("imdbId");
    if (!valid_id(id)) {
        answer_text(res, 400, "malformed imdbId");
        return false;
    }
    return true;
}

bool body_ids(const httplib::Request &req, httplib::Response &res, std::vector<std::string> &ids) {
    const std::string &b = req.body;
    size_t start = 0;
    while (start <= b.size()) {
        size_t comma = b.find(',', start);
        if (comma == std::string::npos) comma = b.size();
        size_t s = start, e = comma;
        while (s < e && (b[s] == ' ' || b[s] == '\t' || b[s] == '\r' || b[s] == '\n')) ++s;
        while (e > s && (b[e - 1] == ' ' || b[e - 1] == '\t' || b[e - 1] == '\r' || b[e - 1] == '\n')) --e;
        if (e > s) {
            std::string id = b.substr(s, e - s);
            if (!valid_id(id)) {
                answer_text(res, 400, "malformed id in request body");
                return false;
            }
            ids.push_back(std::move(id));
        }
        start = comma + 1;
    }
    return true;
}

void answer_doc(httplib::Response &res, yyjson_mut_doc *out, bool built) {
    size_t len = 0;
    char *text = built ? yyjson_mut_write(out, 0, &len) : nullptr;
    yyjson_mut_doc_free(out);
    if (!text) {
        answer_text(res, 500, "out of memory");
        return;
    }
    res.status = 200;
    // Served with its length, as the fixture files are: httplib leaves such a body
    // uncompressed, where it would otherwise spend tens of milliseconds on brotli for
    // a detail batch, more than the answer costs the service it stands in for.
    auto body = std::make_shared<std::string>(text, len);
    std::free(text);
    res.set_content_provider(body->size(), "application/json",
                             [body](size_t offset, size_t length, httplib::DataSink &sink) {
                                 return sink.write(body->data() + offset, length);
                             });
}

} // namespace tqmock
