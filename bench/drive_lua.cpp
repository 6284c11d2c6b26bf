// SPDX-License-Identifier: MIT
// drive_lua: a Lua lookup of a cached title against the same from C, printed as a
// ratio row in the form of scripts/ratios.py, then "drive_lua: N met, M missed". Run by
// scripts/run-ratios.sh; by hand:
//   build-bench/bench/drive_lua [quick]
// Both sides look one title's detail record up from a client's memory cache (the
// fixture backend filled it once) and build every field of it through the getters: C
// into a struct of std::string and vectors, Lua into a plain table through the LuaJIT
// module (bench/drive_lua.lua, run with luajit). The row is the median of the
// per-repetition ratios of the time per lookup, Lua over C, repetitions interleaved
// (C, then a fresh luajit process timing its own loop after a warm-up); goal <= 1.5.
#include "ratio_rows.h"
#include "tqmovie.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;
using tqbench::met;
using tqbench::missed;
using tqbench::row;

const char *const title = "tt0111161"; // 7 cast members, pictures, providers, videos, related titles

std::string text(const char *p) { return p ? std::string(p) : std::string(); }

struct cast_member {
    std::string name, id, poster, role, birthday;
};
struct picture {
    std::string url, language;
    int32_t width, height;
};
struct provider {
    std::string name, country, type, logo, id;
    int32_t priority;
};
struct video {
    std::string name, key, site, type, id, lang, region;
    int32_t size;
};
struct detail {
    std::string imdb_id, title, original_title, tagline, plot, poster_url, picture_url, title_type, genres, directors,
        trailer_url, extension1;
    int32_t id, start_year, end_year, runtime, is_tv;
    double imdb_rating;
    std::vector<cast_member> cast;
    std::vector<picture> pictures;
    std::vector<provider> providers;
    std::vector<video> videos;
    std::vector<std::string> related;
};

// What the Lua module's detail() does, in C++: the lookup, then every field through
// the getters into a record of its own.
bool lookup(detail &r) {
    if (tqmovie_get_detail(title, nullptr, 0) != TQMOVIE_OK) return false;
    const int32_t i = 0;
    r = detail{};
    r.imdb_id = text(tqmovie_detail_imdb_id(i));
    r.title = text(tqmovie_detail_title(i));
    r.original_title = text(tqmovie_detail_original_title(i));
    r.tagline = text(tqmovie_detail_tagline(i));
    r.plot = text(tqmovie_detail_plot(i));
    r.poster_url = text(tqmovie_detail_poster_url(i));
    r.picture_url = text(tqmovie_detail_picture_url(i));
    r.title_type = text(tqmovie_detail_title_type(i));
    r.genres = text(tqmovie_detail_genres(i));
    r.directors = text(tqmovie_detail_directors(i));
    r.trailer_url = text(tqmovie_detail_trailer_url(i));
    r.extension1 = text(tqmovie_detail_extension1(i));
    r.id = tqmovie_detail_id(i);
    r.start_year = tqmovie_detail_start_year(i);
    r.end_year = tqmovie_detail_end_year(i);
    r.runtime = tqmovie_detail_runtime(i);
    r.is_tv = tqmovie_detail_is_tv(i);
    r.imdb_rating = tqmovie_detail_imdb_rating(i);
    for (int32_t j = 0, n = tqmovie_detail_cast_count(i); j < n; ++j)
        r.cast.push_back({text(tqmovie_detail_cast_name(i, j)), text(tqmovie_detail_cast_id(i, j)),
                          text(tqmovie_detail_cast_poster(i, j)), text(tqmovie_detail_cast_role(i, j)),
                          text(tqmovie_detail_cast_birthday(i, j))});
    for (int32_t j = 0, n = tqmovie_detail_picture_count(i); j < n; ++j)
        r.pictures.push_back({text(tqmovie_detail_picture_item_url(i, j)), text(tqmovie_detail_picture_item_lang(i, j)),
                              tqmovie_detail_picture_item_w(i, j), tqmovie_detail_picture_item_h(i, j)});
    for (int32_t j = 0, n = tqmovie_detail_provider_count(i); j < n; ++j)
        r.providers.push_back({text(tqmovie_detail_provider_name(i, j)), text(tqmovie_detail_provider_country(i, j)),
                               text(tqmovie_detail_provider_type(i, j)), text(tqmovie_detail_provider_logo(i, j)),
                               text(tqmovie_detail_provider_id(i, j)), tqmovie_detail_provider_priority(i, j)});
    for (int32_t j = 0, n = tqmovie_detail_video_count(i); j < n; ++j)
        r.videos.push_back({text(tqmovie_detail_video_name(i, j)), text(tqmovie_detail_video_key(i, j)),
                            text(tqmovie_detail_video_site(i, j)), text(tqmovie_detail_video_type(i, j)),
                            text(tqmovie_detail_video_id(i, j)), text(tqmovie_detail_video_lang(i, j)),
                            text(tqmovie_detail_video_region(i, j)), tqmovie_detail_video_size(i, j)});
    for (int32_t j = 0, n = tqmovie_detail_related_count(i); j < n; ++j)
        r.related.push_back(text(tqmovie_detail_related_id(i, j)));
    return true;
}

// The checksum drive_lua.lua prints: bytes of every text, plus one per list item.
long checksum(const detail &r) {
    long s = 0;
    for (const std::string *t : {&r.imdb_id, &r.title, &r.original_title, &r.tagline, &r.plot, &r.poster_url,
                                 &r.picture_url, &r.title_type, &r.genres, &r.directors, &r.trailer_url, &r.extension1})
        s += static_cast<long>(t->size());
    for (const auto &m : r.cast)
        s += 1 + static_cast<long>(m.name.size() + m.id.size() + m.poster.size() + m.role.size() + m.birthday.size());
    for (const auto &p : r.pictures) s += 1 + static_cast<long>(p.url.size() + p.language.size());
    for (const auto &p : r.providers)
        s += 1 + static_cast<long>(p.name.size() + p.country.size() + p.type.size() + p.logo.size() + p.id.size());
    for (const auto &v : r.videos)
        s += 1 + static_cast<long>(v.name.size() + v.key.size() + v.site.size() + v.type.size() + v.id.size() +
                                   v.lang.size() + v.region.size());
    for (const auto &id : r.related) s += 1 + static_cast<long>(id.size());
    return s;
}

// ns per lookup over `iterations` lookups from C.
double c_ns(int iterations, detail &r) {
    const auto t0 = clock_type::now();
    for (int k = 0; k < iterations; ++k)
        if (!lookup(r)) return -1;
    return std::chrono::duration<double, std::nano>(clock_type::now() - t0).count() / iterations;
}

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char ch : s) q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
}

// One luajit process: its ns per lookup for each of `reps` repetitions, and its checksum.
bool lua_ns(int iterations, int reps, std::vector<double> &out, long *sum) {
    const std::string cmd = "TQMOVIE_LIBRARY=" + quote(TQ_LIBRARY_PATH) + " " + quote(TQ_LUAJIT) + " " +
                            quote(TQ_LUA_SCRIPT) + " " + quote(TQ_LUA_MODULE_DIR) + " " + quote(TQ_FIXTURES_DIR) + " " +
                            title + " " + std::to_string(iterations) + " " + std::to_string(reps);
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return false;
    char line[256];
    while (std::fgets(line, sizeof line, p)) {
        double v = 0;
        long s = 0;
        if (std::sscanf(line, "ns %lf", &v) == 1)
            out.push_back(v);
        else if (std::sscanf(line, "sum %ld", &s) == 1)
            *sum = s;
        else
            std::fprintf(stderr, "drive_lua: %s", line);
    }
    return pclose(p) == 0 && !out.empty();
}

} // namespace

int main(int argc, char **argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "quick";
    const int runs = quick ? 3 : 15, iterations = quick ? 20000 : 100000;

    tqmovie_client *c = tqmovie_client_new();
    tqmovie_use(c);
    tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    detail r;
    if (!lookup(r)) {
        std::printf("cached detail lookup: the fixture lookup failed: %s  missed\n", tqmovie_last_error());
        return 1;
    }
    c_ns(iterations, r); // warm-up
    std::vector<double> ratios, cs, ls;
    long lua_sum = -1;
    bool ok = true;
    for (int k = 0; k < runs && ok; ++k) {
        const double cn = c_ns(iterations, r);
        std::vector<double> ln;
        ok = cn > 0 && lua_ns(iterations, 1, ln, &lua_sum);
        if (!ok) break;
        cs.push_back(cn);
        ls.push_back(ln[0]);
        ratios.push_back(ln[0] / cn);
    }
    if (!ok) {
        std::printf("Lua / C, cached detail lookup + getters: luajit (%s) did not run  missed\n", TQ_LUAJIT);
        ++missed;
    } else {
        std::sort(cs.begin(), cs.end());
        std::sort(ls.begin(), ls.end());
        char extra[128];
        std::snprintf(extra, sizeof extra, ", C %.0f ns, Lua %.0f ns a lookup (medians)", cs[cs.size() / 2],
                      ls[ls.size() / 2]);
        row("Lua / C, cached detail lookup + every field through the getters", ratios, 1.5, extra);
        const long c_sum = checksum(r);
        if (c_sum != lua_sum) {
            std::printf("Lua and C built different records: checksum C %ld, Lua %ld  missed\n", c_sum, lua_sum);
            ++missed;
        }
    }
    tqmovie_use(nullptr);
    tqmovie_client_free(c);
    std::printf("drive_lua: %d met, %d missed\n", met, missed);
    return missed ? 1 : 0;
}
