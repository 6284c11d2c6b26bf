// SPDX-License-Identifier: MIT
// Writes the seed corpora of the fuzz targets, built from the sample fixtures:
//   fuzz_seeds FIXTURE_DIR OUT_DIR
// gives OUT_DIR/<target>/ for every target: the fixture documents for the decoders,
// each fixture as a whole answer (status, headers, body) for the lookups, cache files
// saved after lookups over the fixtures, and the requests the library sends for the
// URL, header and fixture-routing targets.
#include "tqmovie.h"

#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path out;

std::string slurp(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void seed(const char *target, const std::string &name, const std::string &bytes) {
    fs::create_directories(out / target);
    std::ofstream(out / target / name, std::ios::binary) << bytes;
}

// Texts with NULs in them, from a literal.
template <size_t N> std::string bytes(const char (&s)[N]) { return std::string(s, N - 1); }

const char *const k_host = "https://api.tolvane.com";

void cache_seeds(const fs::path &fixtures) {
    const tq_io io = tolvane_io_fake(fixtures.c_str());
    tqmovie_set_io(&io);
    const fs::path one = out / "fuzz_cache_file" / "fx-one.json", many = out / "fuzz_cache_file" / "fx-many.json";
    fs::create_directories(one.parent_path());
    tqmovie_get_basic("tt0111161", nullptr);
    tqmovie_get_detail("tt0111161", "de-DE", TQMOVIE_DETAIL_CAST);
    tqmovie_cache_save(one.c_str());
    const char *ids[] = {"tt0068646", "tt0468569", "tt0903747", "tt0108778"};
    tqmovie_get_basics(ids, 4);
    tqmovie_get_details(ids, 2, nullptr, 0);
    tqmovie_cache_save(many.c_str());
    tqmovie_shutdown();
    // The same entries laid out otherwise: the loader's whole-file path.
    const std::string text = slurp(one);
    yyjson_doc *doc = yyjson_read(text.data(), text.size(), 0);
    if (char *pretty = doc ? yyjson_write(doc, YYJSON_WRITE_PRETTY, nullptr) : nullptr) {
        seed("fuzz_cache_file", "fx-pretty.json", pretty);
        std::free(pretty);
    }
    yyjson_doc_free(doc);
}

} // namespace

// A store holding sample records in English and German, as a lookup leaves it.
void store_seed(const fs::path &fixtures) {
    const fs::path dir = out / "fuzz_store_file";
    fs::create_directories(dir);
    const std::string path = (dir / "fx-store.db").string();
    tqmovie_shutdown();
    tqmovie_set_host(k_host);
    const tq_io io = tolvane_io_fake(fixtures.c_str());
    tqmovie_set_io(&io);
    tqmovie_store *s = tqmovie_store_open(path.c_str(), nullptr);
    if (!s) return;
    tqmovie_set_store(s);
    tqmovie_get_basic("tt0111161", nullptr);
    tqmovie_get_detail("tt0068646", "de-DE", 0);
    tqmovie_set_store(nullptr);
    tqmovie_store_close(s);
    // The file alone (its journal checkpointed into it at close).
    for (const char *suffix : {"-wal", "-shm"}) fs::remove(path + suffix);
    tqmovie_shutdown();
}

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FIXTURE_DIR OUT_DIR\n", argv[0]);
        return 64;
    }
    const fs::path fixtures = argv[1];
    out = argv[2];
    for (const auto &entry : fs::directory_iterator(fixtures)) {
        const std::string name = entry.path().filename().string(), text = slurp(entry.path());
        if (entry.path().extension() != ".json") continue;
        const std::string id = name.substr(name.find('-') + 1, name.size() - name.find('-') - 6);
        const std::string headers = "ETag: \"fx\"\nCache-Control: max-age=60\n\n";
        if (name.rfind("basic", 0) == 0) seed("fuzz_basic", name, text);
        if (name.rfind("detail-", 0) == 0) seed("fuzz_detail", name, std::string(1, '\0') + text);
        if (name.rfind("translations", 0) == 0) seed("fuzz_trans", name, text);
        if (name.rfind("basic-", 0) == 0 || name.rfind("detail-", 0) == 0)
            seed("fuzz_lookup", name, "200 " + id + "\n" + headers + text);
        else if (name.rfind("basics-", 0) == 0)
            seed("fuzz_lookup", name, "200 tt0111161,tt0068646,tt0468569\n" + headers + text);
        else if (name.rfind("translations", 0) == 0)
            seed("fuzz_lookup", name, "200 tt0111161,tt0068646\n\n" + text);
    }
    seed("fuzz_detail", "fx-cast-only.json", "\x01" + slurp(fixtures / "detail-tt0111161.json"));
    seed("fuzz_lookup", "http-404", "404 tt0111161\nRetry-After: 1\n\nnot found");
    seed("fuzz_lookup", "http-503-date", "503 tt0111161\nRetry-After: Sun, 06 Nov 1994 08:49:37 GMT\n\n");
    seed("fuzz_lookup", "refused", "-2 tt0111161\n\nconnection refused");
    seed("fuzz_lookup", "probe", "200 tt0111161\n\n true");
    seed("fuzz_lookup", "no-body", "200 tt0111161,-,,tt 1\nETag: x\n");
    cache_seeds(fixtures);
    store_seed(fixtures);
    seed("fuzz_id_text", "name", "The Godfather (1972) [imdbid-tt0068646] 1080p.mkv");
    seed("fuzz_id_text", "nfo", "<movie><uniqueid type=\"imdb\" default=\"true\">tt0111161</uniqueid></movie>");
    seed("fuzz_id_text", "url", "https://www.imdb.com/title/tt0468569/");

    seed("fuzz_url", "ids",
         bytes("https://api.tolvane.com\0tt0111161\0de-DE\0zh\0CN\0tt0111161\0tt0068646\0-\0tt0468569"));
    seed("fuzz_url", "odd", bytes("api.example/v1/\0tt 1/?&=#\0\0\0\0tt1"));
    seed("fuzz_headers", "cache", bytes("ETag\0\"abc\"\0Cache-Control\0 max-age=60 \0Retry-After\0120\0etag\0second"));
    seed("fuzz_headers", "bad", bytes("Bad Name\0v\0X-Tab\0a\tb\0:\0colon\0X-Long\0") + std::string(300, 'v'));
    const std::string get = std::string(1, '\0') + k_host, post = std::string(1, '\1') + k_host;
    seed("fuzz_fixture", "detail", get + "/api/AAA/GetMovieDetail?imdbId=tt1&language=en-US");
    seed("fuzz_fixture", "basic-sample", get + "/api/AAA/GetMovieBasic?imdbId=tt2&language=en-US");
    seed("fuzz_fixture", "probe", get + "/api/AAA/IsMovie?imdbId=tt9999999");
    seed("fuzz_fixture", "details",
         post + "/api/AAA/GetMovieDetails?read=true&getKeys=false" + bytes("\0tt1,tt2, tt5,,tt4,tt6,tt3"));
    seed("fuzz_fixture", "basics-fallback",
         "\x03" + std::string(k_host) + "/api/AAA/GetMovieBasics?read=true&ignoreNew=true&getKeys=false" +
             bytes("\0tt1,tt2"));
    seed("fuzz_fixture", "translations-missing",
         "\x05" + std::string(k_host) + "/api/AAA/GetMovieTranslations?read=true&getKeys=false&part1=zh&part2=CN" +
             bytes("\0tt1"));
    return 0;
}
