// SPDX-License-Identifier: MIT
// Generated records: every value derives from the id's digits, so a client (or a load
// test) can ask for any title and always get the same bytes back. Every list of the
// detail record holds a few items, so every part of a decoder is exercised.
#include "mock_service/synthetic.h"

#include "mock_service/answers.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tqmock {
namespace {

constexpr const char *genre_pool[] = {"Drama",     "Comedy",          "Crime",   "Documentary",
                                      "Adventure", "Science Fiction", "Romance", "Animation"};
constexpr uint64_t genre_count = sizeof genre_pool / sizeof genre_pool[0];
constexpr uint64_t cast_size = 3;

// What every record of one title derives from.
struct title {
    std::string id;     // "tt1234567"
    std::string digits; // "1234567"
    uint64_t n;         // the digits as a number (at most 10 of them: no overflow)
    bool series;        // odd last digit
    int64_t year;
};

title title_of(const std::string &id) {
    title t;
    t.id = id;
    t.digits = id.substr(2);
    t.n = std::strtoull(t.digits.c_str(), nullptr, 10);
    t.series = (id.back() - '0') % 2 == 1;
    t.year = 1950 + static_cast<int64_t>(t.n % 75);
    return t;
}

std::string nth(const char *what, uint64_t k, const title &t) { return what + std::to_string(k) + " of " + t.id; }

// de-DE has no plot, so that a client's fallback to another language can be tried.
std::string plot(const title &t, const std::string &language) {
    return language == "de-DE" ? std::string() : "Plot of " + t.id + " in " + language;
}

std::string image(const std::string &owner, const std::string &name) {
    return "https://images.example.com/" + owner + "/" + name + ".jpg";
}

// "tt" or "nm" and 7 digits.
std::string seven_digits(const char *prefix, uint64_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%07llu", prefix, static_cast<unsigned long long>(v % 10000000));
    return buf;
}

// Appends members and elements; one failed allocation fails the whole record.
class builder {
public:
    explicit builder(yyjson_mut_doc *doc) : doc_(doc) {}
    yyjson_mut_val *obj() { return note(yyjson_mut_obj(doc_)); }
    yyjson_mut_val *arr() { return note(yyjson_mut_arr(doc_)); }
    void text(yyjson_mut_val *o, const char *key, const std::string &v) {
        note(yyjson_mut_obj_add_strncpy(doc_, o, key, v.data(), v.size()));
    }
    void number(yyjson_mut_val *o, const char *key, int64_t v) { note(yyjson_mut_obj_add_int(doc_, o, key, v)); }
    void real(yyjson_mut_val *o, const char *key, double v) { note(yyjson_mut_obj_add_real(doc_, o, key, v)); }
    void flag(yyjson_mut_val *o, const char *key, bool v) { note(yyjson_mut_obj_add_bool(doc_, o, key, v)); }
    void null(yyjson_mut_val *o, const char *key) { note(yyjson_mut_obj_add_null(doc_, o, key)); }
    void member(yyjson_mut_val *o, const char *key, yyjson_mut_val *v) {
        note(yyjson_mut_obj_add_val(doc_, o, key, v));
    }
    void push_text(yyjson_mut_val *a, const std::string &v) {
        note(yyjson_mut_arr_add_strncpy(doc_, a, v.data(), v.size()));
    }
    void push(yyjson_mut_val *a, yyjson_mut_val *v) { note(yyjson_mut_arr_append(a, v)); }
    yyjson_mut_val *done(yyjson_mut_val *v) const { return ok_ ? v : nullptr; }

private:
    template <typename T> T note(T v) {
        ok_ = ok_ && v;
        return v;
    }
    yyjson_mut_doc *doc_;
    bool ok_ = true;
};

yyjson_mut_val *genres(builder &b, const title &t) {
    yyjson_mut_val *a = b.arr();
    const uint64_t first = t.n % genre_count;
    const uint64_t second = (first + 1 + t.n / genre_count % (genre_count - 1)) % genre_count;
    b.push_text(a, genre_pool[first]);
    b.push_text(a, genre_pool[second]);
    return a;
}

yyjson_mut_val *directors(builder &b, const title &t) {
    yyjson_mut_val *a = b.arr();
    for (uint64_t k = 1; k <= 2; ++k) b.push_text(a, nth("Director ", k, t));
    return a;
}

// The members basic and detail records share.
void common(builder &b, yyjson_mut_val *o, const title &t, const std::string &language) {
    b.text(o, "imDbId", t.id);
    b.text(o, "title", "Synthetic Title " + t.digits);
    b.text(o, "tagLine", "Tagline of " + t.id);
    b.text(o, "plot", plot(t, language));
    b.text(o, "posterUrl", image(t.id, "poster"));
    b.text(o, "pictureUrl", image(t.id, "picture"));
    b.number(o, "id", 1 + static_cast<int64_t>(t.n % 999999999)); // never 0, the empty value
    b.flag(o, "isTVShow", t.series);
    b.member(o, "directors", directors(b, t));
    b.member(o, "genres", genres(b, t));
}

int64_t runtime(const title &t) {
    return t.series ? 25 + static_cast<int64_t>(t.n % 36) : 80 + static_cast<int64_t>(t.n % 91);
}
double rating(const title &t) { return static_cast<double>(10 + t.n % 90) / 10.0; } // 1.0 to 9.9

yyjson_mut_val *casts(builder &b, const title &t) {
    yyjson_mut_val *a = b.arr();
    for (uint64_t k = 1; k <= cast_size; ++k) {
        const std::string person = seven_digits("nm", t.n * cast_size + k);
        char birthday[16];
        std::snprintf(birthday, sizeof birthday, "%04d-%02d-%02d", static_cast<int>(1930 + (t.n + 7 * k) % 60),
                      static_cast<int>(1 + (t.n + k) % 12), static_cast<int>(1 + (t.n + 3 * k) % 28));
        yyjson_mut_val *c = b.obj();
        b.text(c, "name", nth("Actor ", k, t));
        b.text(c, "idOrName", person);
        b.text(c, "poster", image(person, "poster"));
        b.text(c, "characterOrRole", nth("Role ", k, t));
        b.text(c, "birthday", birthday);
        b.push(a, c);
    }
    return a;
}

// Well-formed ids themselves, never the title's own, so a crawler can follow them.
yyjson_mut_val *related(builder &b, const title &t) {
    yyjson_mut_val *a = b.arr();
    for (uint64_t k = 1; k <= 3; ++k) b.push_text(a, seven_digits("tt", t.n + 7919 * k));
    return a;
}

yyjson_mut_val *pictures(builder &b, const title &t) {
    static const struct {
        const char *language;
        int64_t width, height;
    } sizes[] = {{"en", 1920, 1080}, {"de", 1280, 720}, {"pt", 800, 450}};
    yyjson_mut_val *a = b.arr();
    uint64_t k = 0;
    for (const auto &s : sizes) {
        yyjson_mut_val *p = b.obj();
        b.text(p, "language", s.language);
        b.text(p, "url", image(t.id, "still-" + std::to_string(++k)));
        b.number(p, "width", s.width);
        b.number(p, "height", s.height);
        b.push(a, p);
    }
    return a;
}

yyjson_mut_val *providers(builder &b, const title &t) {
    static const struct { const char *country, *type; } offers[] = {{"US", "flatrate"}, {"DE", "rent"}, {"BR", "buy"}};
    yyjson_mut_val *a = b.arr();
    int64_t k = 0;
    for (const auto &o : offers) {
        ++k;
        const std::string provider = std::to_string(100 + (t.n + static_cast<uint64_t>(k)) % 900);
        yyjson_mut_val *p = b.obj();
        b.text(p, "countryCode", o.country);
        b.text(p, "providerId", provider);
        b.text(p, "providerName", "Provider " + provider);
        b.text(p, "logoUrl", image("providers", provider));
        b.text(p, "watchType", o.type);
        b.number(p, "displayPriority", k);
        b.push(a, p);
    }
    return a;
}

yyjson_mut_val *videos(builder &b, const title &t) {
    static const struct {
        const char *type;
        int64_t size;
    } kinds[] = {{"Trailer", 1080}, {"Teaser", 720}};
    yyjson_mut_val *a = b.arr();
    int k = 0;
    for (const auto &v : kinds) {
        const std::string n = std::to_string(++k);
        yyjson_mut_val *o = b.obj();
        b.text(o, "id", t.id + "-video-" + n);
        b.text(o, "key", "v" + t.digits + n);
        b.text(o, "name", std::string(v.type) + " of " + t.id);
        b.text(o, "site", "videos.example.com");
        b.text(o, "type", v.type);
        b.text(o, "iso_639_1", "en");
        b.text(o, "iso_3166_1", "US");
        b.number(o, "size", v.size);
        b.push(a, o);
    }
    return a;
}

// "tt" and 7 to 10 ASCII digits: the ids --synthetic knows.
bool synthetic_id(const std::string &id) {
    if (id.size() < 2 + 7 || id.size() > 2 + 10 || id.compare(0, 2, "tt") != 0) return false;
    for (size_t i = 2; i < id.size(); ++i)
        if (id[i] < '0' || id[i] > '9') return false;
    return true;
}

// The probe: an even last digit is a film.
bool synthetic_is_movie(const std::string &id) { return (id.back() - '0') % 2 == 0; }

// The answers for a well-formed id, built in doc; null when memory ran out.
yyjson_mut_val *synthetic_basic(yyjson_mut_doc *doc, const std::string &id, const std::string &language) {
    const title t = title_of(id);
    builder b(doc);
    yyjson_mut_val *o = b.obj();
    common(b, o, t, language);
    b.number(o, "year", t.year);
    b.number(o, "duration", runtime(t));
    yyjson_mut_val *ratings = b.obj();
    b.real(ratings, "imDb", rating(t));
    b.number(ratings, "metacritic", 20 + static_cast<int64_t>(t.n % 81));
    b.member(o, "ratings", ratings);
    return b.done(o);
}

yyjson_mut_val *synthetic_detail(yyjson_mut_doc *doc, const std::string &id, const std::string &language) {
    const title t = title_of(id);
    builder b(doc);
    yyjson_mut_val *o = b.obj();
    common(b, o, t, language);
    b.text(o, "originalTitle", "Original Title " + t.digits);
    b.text(o, "titleType", t.series ? "tvSeries" : "movie");
    b.text(o, "trailerUrl", "https://videos.example.com/" + t.id + "/trailer.mp4");
    b.text(o, "extension1", "synthetic");
    b.text(o, "logoBase64", "c3ludGhldGlj"); // "synthetic"
    b.number(o, "startYear", t.year);
    if (t.series)
        b.number(o, "endYear", t.year + 1 + static_cast<int64_t>(t.n % 10));
    else
        b.null(o, "endYear");
    b.number(o, "runtimeMinutes", runtime(t));
    b.real(o, "imDbRating", rating(t));
    b.member(o, "casts", casts(b, t));
    b.member(o, "relatedIMDbIds", related(b, t));
    b.member(o, "pictures", pictures(b, t));
    b.member(o, "watchProviders", providers(b, t));
    b.member(o, "videos", videos(b, t));
    return b.done(o);
}

yyjson_mut_val *synthetic_translations(yyjson_mut_doc *doc, const std::string &id) {
    static const struct { const char *lang, *region; } languages[] = {{"de", "DE"}, {"pt", "BR"}, {"zh", "CN"}};
    const title t = title_of(id);
    builder b(doc);
    yyjson_mut_val *set = b.obj();
    b.text(set, "imDbId", t.id);
    yyjson_mut_val *items = b.arr();
    for (const auto &l : languages) {
        const std::string tag = std::string(l.lang) + "-" + l.region;
        yyjson_mut_val *item = b.obj();
        b.text(item, "title", "Synthetic Title " + t.digits + " (" + tag + ")");
        b.text(item, "tagLine", "Tagline of " + t.id + " in " + tag);
        b.text(item, "plot", plot(t, tag));
        b.text(item, "directors", nth("Director ", 1, t) + ", " + nth("Director ", 2, t));
        std::string actors;
        for (uint64_t k = 1; k <= cast_size; ++k) actors += (k > 1 ? ", " : "") + nth("Actor ", k, t);
        b.text(item, "actors", actors);
        b.text(item, "iso_639_1", l.lang);
        b.text(item, "iso_3166_1", l.region);
        b.push(items, item);
    }
    b.member(set, "items", items);
    return b.done(set);
}

// The language of a single lookup; "en-US" when none is given, 400 for one that is
// not letters, digits, hyphens and underscores (it is written into the plot).
bool query_language(const httplib::Request &req, httplib::Response &res, std::string &language) {
    language = req.get_param_value("language");
    if (language.empty()) language = "en-US";
    bool ok = language.size() <= 35;
    for (char c : language) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_');
    if (!ok) answer_text(res, 400, "malformed language");
    return ok;
}

} // namespace

void install_synthetic_routes(httplib::Server &svr) {
    using build_fn = yyjson_mut_val *(*)(yyjson_mut_doc *, const std::string &, const std::string &);

    svr.Get("/api/AAA/IsMovie", [](const httplib::Request &req, httplib::Response &res) {
        std::string id;
        if (!query_id(req, res, id)) return;
        res.status = 200;
        res.set_content(synthetic_id(id) && synthetic_is_movie(id) ? "true" : "false", "application/json");
    });

    auto single = [](build_fn build, const char *what) {
        return [build, what](const httplib::Request &req, httplib::Response &res) {
            std::string id, language;
            if (!query_id(req, res, id) || !query_language(req, res, language)) return;
            if (!synthetic_id(id)) {
                answer_text(res, 404, std::string("no ") + what + " record for " + id);
                return;
            }
            yyjson_mut_doc *out = yyjson_mut_doc_new(nullptr);
            yyjson_mut_val *root = out ? build(out, id, language) : nullptr;
            if (root) yyjson_mut_doc_set_root(out, root);
            answer_doc(res, out, root != nullptr);
        };
    };
    svr.Get("/api/AAA/GetMovieBasic", single(synthetic_basic, "basic"));
    svr.Get("/api/AAA/GetMovieDetail", single(synthetic_detail, "detail"));

    // Batches carry no language: their records are the en-US ones.
    auto batch = [](build_fn build) {
        return [build](const httplib::Request &req, httplib::Response &res) {
            std::vector<std::string> ids;
            if (!body_ids(req, res, ids)) return;
            yyjson_mut_doc *out = yyjson_mut_doc_new(nullptr);
            yyjson_mut_val *arr = out ? yyjson_mut_arr(out) : nullptr;
            bool built = arr != nullptr;
            if (built) yyjson_mut_doc_set_root(out, arr);
            for (const std::string &id : ids)
                if (built && synthetic_id(id)) built = yyjson_mut_arr_append(arr, build(out, id, "en-US"));
            answer_doc(res, out, built);
        };
    };
    svr.Post("/api/AAA/GetMovieBasics", batch(synthetic_basic));
    svr.Post("/api/AAA/GetMovieDetails", batch(synthetic_detail));
    svr.Post("/api/AAA/GetMovieTranslations",
             batch([](yyjson_mut_doc *doc, const std::string &id, const std::string &) {
                 return synthetic_translations(doc, id);
             }));
}

} // namespace tqmock
