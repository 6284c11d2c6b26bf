// SPDX-License-Identifier: MIT
// Fuzzes the fixture backend's routing. The first input byte picks GET or POST, the
// fixture directory (a small one made here, one with only fallbacks, a missing one, and
// the first under a path longer than the backend keeps) and whether an error text is
// asked for; the rest is the URL, then after a NUL the POST body. The answer must be
// what the file names and their order of trial say, computed here from the list of
// files each directory holds: only those files are ever read, and nothing is written.
#include "fuzz_common.h"

#include <map>
#include <sys/stat.h>

namespace {

// A directory's files by name; a value of nullptr marks a directory in a file's place.
using listing = std::map<std::string, const char *>;

const char nul_file[] = "{\"imDbId\":\"tt5\"}\0junk";
const listing full_listing = {{"basic-tt1.json", "{\"imDbId\":\"tt1\",\"title\":\"One\"}"},
                              {"sample-GetMovieBasic-tt2.json", "{\"imDbId\":\"tt2\"}"},
                              {"detail-tt1.json", "{\"imDbId\":\"tt1\",\"title\":\"One in detail\"}"},
                              {"sample-GetMovieDetail-tt2-TRUNCATED.json", "{\"imDbId\":\"tt2\",\"cut\":true}"},
                              {"sample-GetMovieDetail-tt3.json", "{\"imDbId\":\"tt3\"}"},
                              {"detail-tt4.json", nullptr},
                              {"detail-tt5.json", nul_file},
                              {"detail-tt6.json", ""},
                              {"basics-batch.json", "[{\"imDbId\":\"tt1\"}]"},
                              {"translations-batch.json", "[{\"imDbId\":\"tt1\",\"items\":[]}]"}};
const listing fallback_listing = {{"sample-GetMovieBasics-batch2.json", "[]"}};
const listing no_listing = {};

struct fixture_dir {
    std::string path;
    const listing *files;
};

void make_dir(const std::string &path, const listing &files) {
    FUZZ_CHECK(mkdir(path.c_str(), 0700) == 0);
    for (const auto &[name, text] : files) {
        const std::string p = path + "/" + name;
        if (!text) {
            FUZZ_CHECK(mkdir(p.c_str(), 0700) == 0);
            continue;
        }
        FILE *f = std::fopen(p.c_str(), "wb");
        FUZZ_CHECK(f != nullptr);
        const size_t n = text == nul_file ? sizeof nul_file - 1 : std::strlen(text);
        FUZZ_CHECK(n == 0 || std::fwrite(text, 1, n, f) == n);
        FUZZ_CHECK(std::fclose(f) == 0);
    }
}

const std::vector<fixture_dir> &dirs() {
    static const std::vector<fixture_dir> d = [] {
        const std::string full = fuzz_temp_dir() + "/full", fallback = fuzz_temp_dir() + "/fallback";
        make_dir(full, full_listing);
        make_dir(fallback, fallback_listing);
        // Cut at 511 characters, "<full>/./././..." still names <full>.
        std::string long_path = full + "/";
        while (long_path.size() < 600) long_path += "./";
        return std::vector<fixture_dir>{{full, &full_listing},
                                        {fallback, &fallback_listing},
                                        {fuzz_temp_dir() + "/missing", &no_listing},
                                        {long_path, &full_listing}};
    }();
    return d;
}

struct answer {
    int32_t rc = 0, status = 0;
    std::string body;
    const char *err = nullptr;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The run of letters and digits at s, at most 31.
std::string id_at(const char *s) {
    size_t n = 0;
    while (n < 31 && is_alnum(s[n])) ++n;
    return std::string(s, n);
}

// The URL's id: from the first "tt" followed by a digit.
std::string url_id(const char *url) {
    const char *p = std::strstr(url, "tt");
    while (p && !is_digit(p[2])) p = std::strstr(p + 1, "tt");
    return p ? id_at(p) : "";
}

std::string named(const char *pattern, const std::string &id) {
    std::string s = pattern;
    const size_t at = s.find("%s");
    return at == std::string::npos ? s : s.replace(at, 2, id);
}

// The first of the names that is a file, read as text; else the last one's status.
bool read_first(const listing &files, std::initializer_list<const char *> names, const std::string &id, answer &a) {
    for (const char *n : names) {
        const auto it = files.find(named(n, id));
        a.status = it == files.end() ? 404 : 500;
        if (it != files.end() && it->second) {
            a.status = 200;
            a.body = it->second;
            return true;
        }
    }
    return false;
}

answer fail(answer a, const char *err) {
    a.rc = -1;
    a.err = err;
    return a;
}

answer expected_get(const listing &files, const char *url) {
    answer a;
    const std::string id = url_id(url);
    if (std::strstr(url, "IsMovie")) {
        const bool film = !id.empty() && id != "tt9999999" && !(id[2] == '9' && id.size() > 10);
        return answer{0, 200, film ? "true" : "false"};
    }
    if (std::strstr(url, "GetMovieDetail")) {
        if (read_first(files,
                       {"detail-%s.json", "sample-GetMovieDetail-%s-TRUNCATED.json", "sample-GetMovieDetail-%s.json"},
                       id, a))
            return a;
        return fail(a, "fake: detail not found");
    }
    if (std::strstr(url, "GetMovieBasic")) {
        if (read_first(files, {"basic-%s.json", "sample-GetMovieBasic-%s.json"}, id, a)) return a;
        return fail(a, "fake: basic not found");
    }
    return fail(a, "fake: unknown GET");
}

answer expected_post(const listing &files, const char *url, const char *request_body) {
    answer a;
    if (std::strstr(url, "GetMovieBasics")) {
        if (read_first(files, {"basics-batch.json", "sample-GetMovieBasics-batch2.json"}, "", a)) return a;
        return fail(a, "fake: basics batch not found");
    }
    if (std::strstr(url, "GetMovieDetails")) {
        // The detail files of the ids asked, in order, in one array; ids without one are left out.
        std::string body = "[", ids = request_body ? request_body : "";
        bool first = true;
        for (size_t at = 0; at <= ids.size();) {
            size_t comma = ids.find(',', at);
            if (comma == std::string::npos) comma = ids.size();
            std::string piece = ids.substr(at, comma - at);
            at = comma + 1;
            if (piece.empty()) continue;
            const size_t start = piece.find_first_not_of(' ');
            const std::string id = start == std::string::npos ? "" : id_at(piece.c_str() + start);
            answer file;
            if (!read_first(files, {"detail-%s.json", "sample-GetMovieDetail-%s-TRUNCATED.json"}, id, file)) continue;
            body += (first ? "" : ",") + std::string(file.body.c_str());
            first = false;
        }
        return answer{0, 200, body + "]"};
    }
    if (std::strstr(url, "GetMovieTranslations")) {
        const auto it = files.find("translations-batch.json");
        return answer{0, 200, it != files.end() && it->second ? it->second : "[]"};
    }
    return fail(a, "fake: unknown POST");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const fixture_dir &dir = dirs()[(mode >> 1) & 3];
    const bool post = mode & 1, want_err = !(mode & 8);
    const std::vector<std::string> f = split_fields(data + 1, size - 1, 2);
    const char *url = f[0].c_str(), *request_body = f.size() > 1 ? f[1].c_str() : nullptr;

    const tq_io io = tolvane_io_fake(dir.path.c_str());
    FUZZ_CHECK(io.get && io.post && io.free);
    char *body = reinterpret_cast<char *>(1), *err = reinterpret_cast<char *>(1);
    int32_t status = -1;
    const int32_t rc = post
                           ? io.post(io.ctx, url, request_body, "text/plain", &body, &status, want_err ? &err : nullptr)
                           : io.get(io.ctx, url, &body, &status, want_err ? &err : nullptr);
    const answer want = post ? expected_post(*dir.files, url, request_body) : expected_get(*dir.files, url);
    FUZZ_CHECK(rc == want.rc && status == want.status);
    if (rc == 0) {
        FUZZ_CHECK(body != nullptr);
        fuzz_same(body, want.body, "fixture answer");
        if (want_err) FUZZ_CHECK(err == nullptr);
    } else {
        FUZZ_CHECK(body == nullptr);
        if (want_err) fuzz_same(err ? err : "(none)", want.err, "fixture error");
    }
    io.free(io.ctx, body);
    if (want_err) io.free(io.ctx, err);
    return 0;
}
