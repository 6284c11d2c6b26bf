// SPDX-License-Identifier: MIT
// tqmovie cache [list|count|clear|vacuum|import FILE|export FILE]: the store or the
// --cache file, without a request; and the store a run keeps (where it is, opening it).
// The library loads a cache file, so a bad one is refused in its words, and says which
// records a lookup would still take (fresh); ages, languages and sections are read
// from the file's own JSON, whose layout the library documents:
//   {"format":"tqmovie-cache","version":1,"entries":[{"imdbId":...,"basic":{...},
//    "basicAt":SECONDS,"basicLanguage":...,"detail":{...},"detailAt":...,
//    "detailLanguage":...,"detailSections":MASK}, ...]}
#include "cli.h"

#include <yyjson.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tqtool {
namespace {

struct doc_owner {
    yyjson_doc *doc = nullptr;
    ~doc_owner() { yyjson_doc_free(doc); }
};

// One record of the file, as listed.
struct cache_record {
    const char *id;
    bool detail;
    yyjson_val *obj;      // the record in the library's complete export form
    int64_t at;           // when it was stored, seconds since 1970
    const char *language; // the language it was fetched in
    uint32_t sections;    // a detail record's sections
    bool fresh;           // a lookup would still take it
};

// Calls f(record) for every record of the file, in file order.
template <typename F> void each_record(yyjson_val *root, F f) {
    size_t i, n;
    yyjson_val *e;
    yyjson_arr_foreach(yyjson_obj_get(root, "entries"), i, n, e) {
        const char *id = yyjson_get_str(yyjson_obj_get(e, "imdbId"));
        int32_t basic_fresh = 0, detail_fresh = 0;
        tqmovie_cache_has(id, &basic_fresh, &detail_fresh);
        yyjson_val *sections = yyjson_obj_get(e, "detailSections");
        for (int k = 0; k < 2; ++k) {
            const bool detail = k == 1;
            yyjson_val *obj = yyjson_obj_get(e, detail ? "detail" : "basic");
            if (!obj) continue;
            const char *lang = yyjson_get_str(yyjson_obj_get(e, detail ? "detailLanguage" : "basicLanguage"));
            f(cache_record{id, detail, obj, yyjson_get_sint(yyjson_obj_get(e, detail ? "detailAt" : "basicAt")),
                           lang ? lang : "en-US",
                           sections ? static_cast<uint32_t>(yyjson_get_uint(sections)) : TQMOVIE_DETAIL_ALL,
                           (detail ? detail_fresh : basic_fresh) != 0});
        }
    }
}

const struct {
    const char *name;
    uint32_t bit;
} section_names[] = {{"cast", TQMOVIE_DETAIL_CAST},
                     {"pictures", TQMOVIE_DETAIL_PICTURES},
                     {"providers", TQMOVIE_DETAIL_PROVIDERS},
                     {"videos", TQMOVIE_DETAIL_VIDEOS}};
constexpr uint32_t all_sections =
    TQMOVIE_DETAIL_CAST | TQMOVIE_DETAIL_PICTURES | TQMOVIE_DETAIL_PROVIDERS | TQMOVIE_DETAIL_VIDEOS;

// "all", "none" or "cast,videos"; empty for a basic record.
void sections_text(const cache_record &r, char (&out)[64]) {
    out[0] = '\0';
    if (!r.detail) return;
    if ((r.sections & all_sections) == all_sections) {
        std::strcpy(out, "all");
        return;
    }
    for (const auto &s : section_names) {
        if (!(r.sections & s.bit)) continue;
        if (out[0]) std::strcat(out, ",");
        std::strcat(out, s.name);
    }
    if (!out[0]) std::strcpy(out, "none");
}

// "42 s", "5 min", "3 h", "12 d": whole units, rounded down.
void age_text(int64_t age, char (&out)[32]) {
    if (age < 0) age = 0; // stored "in the future": the clock was set back
    if (age < 120)
        std::snprintf(out, sizeof out, "%lld s", static_cast<long long>(age));
    else if (age < 120 * 60)
        std::snprintf(out, sizeof out, "%lld min", static_cast<long long>(age / 60));
    else if (age < 48 * 3600)
        std::snprintf(out, sizeof out, "%lld h", static_cast<long long>(age / 3600));
    else
        std::snprintf(out, sizeof out, "%lld d", static_cast<long long>(age / 86400));
}

size_t max_of(size_t a, size_t b) { return a > b ? a : b; }

void list_text(yyjson_val *root, int64_t now) {
    size_t id_w = 2, lang_w = 8, sect_w = 8;
    bool any = false;
    each_record(root, [&](const cache_record &r) {
        char sect[64];
        sections_text(r, sect);
        id_w = max_of(id_w, std::strlen(r.id));
        lang_w = max_of(lang_w, std::strlen(r.language));
        sect_w = max_of(sect_w, std::strlen(sect));
        any = true;
    });
    if (!any) return;
    const int iw = static_cast<int>(id_w), lw = static_cast<int>(lang_w), sw = static_cast<int>(sect_w);
    std::printf("%-*s  RECORD  AGE     FRESH  %-*s  %-*s  TITLE\n", iw, "ID", lw, "LANGUAGE", sw, "SECTIONS");
    each_record(root, [&](const cache_record &r) {
        char sect[64], age[32];
        sections_text(r, sect);
        age_text(now - r.at, age);
        // Ids and languages come from a file: shown harmlessly like every service text.
        put_clean(r.id);
        std::printf("%*s  %-6s  %-6s  %-5s  ", iw - static_cast<int>(std::strlen(r.id)), "",
                    r.detail ? "detail" : "basic", age, r.fresh ? "yes" : "no");
        put_clean(r.language);
        std::printf("%*s  %-*s  ", lw - static_cast<int>(std::strlen(r.language)), "", sw, sect);
        const char *title = yyjson_get_str(yyjson_obj_get(r.obj, "title"));
        put_clean(title ? title : "-");
        std::fputc('\n', stdout);
    });
}

// {"imdbId":...,"kind":"detail","title":...,"storedAt":N,"ageSeconds":N,"fresh":true,
//  "language":"en-US","sections":["cast",...]} and, with --full, "record":{...}.
int list_json(yyjson_val *root, int64_t now, bool full) {
    int failed = 0;
    each_record(root, [&](const cache_record &r) {
        json_element_start();
        std::fputs("{\"imdbId\":", stdout);
        json_str(stdout, r.id);
        std::printf(",\"kind\":\"%s\",\"title\":", r.detail ? "detail" : "basic");
        json_str(stdout, yyjson_get_str(yyjson_obj_get(r.obj, "title")));
        std::printf(",\"storedAt\":%lld,\"ageSeconds\":%lld,\"fresh\":%s,\"language\":", static_cast<long long>(r.at),
                    static_cast<long long>(now - r.at), r.fresh ? "true" : "false");
        json_str(stdout, r.language);
        if (r.detail) {
            std::fputs(",\"sections\":[", stdout);
            const char *sep = "";
            for (const auto &s : section_names) {
                if (!(r.sections & s.bit)) continue;
                std::printf("%s\"%s\"", sep, s.name);
                sep = ",";
            }
            std::fputc(']', stdout);
        }
        if (full) {
            char *text = yyjson_val_write(r.obj, 0, nullptr);
            if (!text) failed = 1;
            std::fputs(",\"record\":", stdout);
            std::fputs(text ? text : "null", stdout);
            std::free(text);
        }
        std::fputc('}', stdout);
        json_element_end();
    });
    return failed;
}

void count(yyjson_val *root, bool json) {
    size_t titles = yyjson_arr_size(yyjson_obj_get(root, "entries"));
    size_t basic = 0, detail = 0, fresh = 0;
    each_record(root, [&](const cache_record &r) {
        ++(r.detail ? detail : basic);
        fresh += r.fresh;
    });
    if (json) {
        json_element_start();
        std::printf("{\"titles\":%zu,\"basicRecords\":%zu,\"detailRecords\":%zu,\"freshRecords\":%zu}", titles, basic,
                    detail, fresh);
        json_element_end();
    } else {
        std::printf("%zu title%s, %zu record%s (%zu basic, %zu detail), %zu fresh\n", titles, titles == 1 ? "" : "s",
                    basic + detail, basic + detail == 1 ? "" : "s", basic, detail, fresh);
    }
}

// ---------------------------------------------------------------------------------
// The store: where it is, its folders, opening it
// ---------------------------------------------------------------------------------

constexpr size_t path_max = 4096;

bool format_path(char (&out)[path_max], const char *fmt, const char *base) {
    const int n = std::snprintf(out, sizeof out, fmt, base);
    return n > 0 && static_cast<size_t>(n) < sizeof out;
}

int path_too_long(const options &o, const char *path) {
    tq_set_err("store %.64s...: path too long", path);
    return report_failure("store", o.cmd->name, nullptr, TQMOVIE_ERR_FILE);
}

// $TQMOVIE_STORE, else $XDG_CACHE_HOME/tqmovie/store.db (a relative XDG_CACHE_HOME is
// ignored, as the XDG rules say), else ~/.cache/tqmovie/store.db; the folders of the
// last two are the tool's to make. 0, or the exit status of the error reported.
int default_store_path(const options &o, char (&out)[path_max], bool *own_folders) {
    const char *named = std::getenv("TQMOVIE_STORE");
    const char *xdg = std::getenv("XDG_CACHE_HOME");
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd *pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    *own_folders = !(named && *named);
    bool fits;
    if (named && *named) {
        fits = format_path(out, "%s", named);
    } else if (xdg && *xdg == '/') {
        fits = format_path(out, "%s/tqmovie/store.db", xdg);
    } else if (home && *home) {
        fits = format_path(out, "%s/.cache/tqmovie/store.db", home);
    } else {
        tq_set_err("store: no home folder for the default store (set HOME or XDG_CACHE_HOME, or give --store "
                   "FILE or --no-store)");
        return report_failure("store", o.cmd->name, nullptr, TQMOVIE_ERR_FILE);
    }
    return fits ? 0 : path_too_long(o, out);
}

// Makes the missing folders above path, each for the user alone: the records tell
// what the user looked up. 0, or the errno of the folder that could not be made.
int make_folders(const char *path, char (&failed)[path_max]) {
    std::snprintf(failed, sizeof failed, "%s", path);
    for (char *p = failed + 1; *p; ++p) {
        if (*p != '/') continue;
        *p = '\0';
        struct stat st;
        if (stat(failed, &st) != 0 && (errno != ENOENT || mkdir(failed, 0700) != 0)) return errno;
        *p = '/';
    }
    return 0;
}

int store_path(const options &o, char (&out)[path_max], bool *own_folders) {
    if (o.store == store_use::default_path) return default_store_path(o, out, own_folders);
    *own_folders = false;
    return format_path(out, "%s", o.store_file) ? 0 : path_too_long(o, o.store_file);
}

int open_at(const options &o, const char *path, bool own_folders, int32_t on_bad_file, store_handle &h) {
    char folder[path_max];
    if (const int e = own_folders ? make_folders(path, folder) : 0) {
        tq_set_err("store %s: cannot make the folder %s: %s", path, folder, std::strerror(e));
        return report_failure("store", o.cmd->name, nullptr, TQMOVIE_ERR_FILE);
    }
    tqmovie_store_options so;
    tqmovie_store_options_init(&so, sizeof so);
    so.on_bad_file = on_bad_file;
    h.store = tqmovie_store_open(path, &so);
    if (!h.store)
        return report_failure("store", o.cmd->name, nullptr,
                              *tqmovie_last_error() ? TQMOVIE_ERR_FILE : TQMOVIE_ERR_NOMEM);
    tqmovie_set_store(h.store);
    return 0;
}

// The store's records for the service as the memory cache takes them, in the cache
// file's layout (languages and sections are nowhere else): saved into a private
// temporary folder and read back, so that a store lists as a file does.
int32_t store_records(doc_owner &out) {
    int32_t st = tqmovie_store_read_all();
    if (st != TQMOVIE_OK) return st;
    const char *tmp = std::getenv("TMPDIR");
    char dir[path_max], file[path_max];
    if (!format_path(dir, "%s/tqmovie.XXXXXX", tmp && *tmp ? tmp : "/tmp") || !mkdtemp(dir)) {
        tq_set_err("store: no temporary folder for the listing: %s", std::strerror(errno));
        return TQMOVIE_ERR_FILE;
    }
    if (!format_path(file, "%s/list.json", dir)) file[0] = '\0'; // the save then says so
    st = tqmovie_cache_save(file);
    if (st == TQMOVIE_OK) out.doc = yyjson_read_file(file, 0, nullptr, nullptr);
    if (st == TQMOVIE_OK && !out.doc) st = TQMOVIE_ERR_NOMEM;
    unlink(file);
    rmdir(dir);
    return st;
}

int print_listing(const options &o, yyjson_val *root, const char *what) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (!o.json) {
        list_text(root, now);
        return 0;
    }
    return list_json(root, now, o.full) ? report_failure("cache file", "cache", what, TQMOVIE_ERR_NOMEM) : 0;
}

// The cache command on the store. A store that is not there yet is empty, and only
// import makes one; clear also mends a file that is not a store (moved aside).
int run_store_command(const options &o) {
    char path[path_max];
    bool own_folders = false;
    if (const int st = store_path(o, path, &own_folders)) return st;
    if (o.host) tqmovie_set_host(o.host); // the service whose records list and export take
    if (o.cache_limit_text) tqmovie_cache_set_limit(o.cache_limit);
    store_handle h;
    const bool missing = access(path, F_OK) != 0 && errno == ENOENT;
    if (!missing || o.cache_do == cache_action::import) {
        const int32_t on_bad = o.cache_do == cache_action::clear ? TQMOVIE_STORE_MOVE_ASIDE : TQMOVIE_STORE_FAIL;
        if (const int st = open_at(o, path, own_folders, on_bad, h)) return st;
    }
    int32_t st = TQMOVIE_OK;
    doc_owner listed;
    uint64_t titles = 0;
    if (h.store) {
        switch (o.cache_do) {
        case cache_action::list: st = store_records(listed); break;
        case cache_action::count: st = tqmovie_store_count(h.store, &titles); break;
        case cache_action::clear: st = tqmovie_store_clear(h.store); break;
        case cache_action::vacuum: st = tqmovie_store_vacuum(h.store); break;
        case cache_action::import:
            st = tqmovie_cache_load(o.cache_arg);
            if (st != TQMOVIE_OK) return report_failure("cache file", "cache", o.cache_arg, st);
            st = tqmovie_store_write_all();
            break;
        case cache_action::export_: st = tqmovie_store_read_all(); break;
        }
    }
    if (st != TQMOVIE_OK) return report_failure("store", "cache", nullptr, st);
    if (o.cache_do == cache_action::export_) {
        st = tqmovie_cache_save(o.cache_arg); // a missing store exports an empty cache
        if (st != TQMOVIE_OK) return report_failure("cache file", "cache", o.cache_arg, st);
    }
    int exit_status = 0;
    if (o.json) json_begin(o.json_lines, o.full);
    if (o.cache_do == cache_action::list) {
        exit_status = print_listing(o, yyjson_doc_get_root(listed.doc), path);
    } else if (o.cache_do == cache_action::count && o.json) {
        json_element_start();
        std::printf("{\"titles\":%llu}", static_cast<unsigned long long>(titles));
        json_element_end();
    } else if (o.cache_do == cache_action::count) {
        std::printf("%llu title%s\n", static_cast<unsigned long long>(titles), titles == 1 ? "" : "s");
    }
    if (o.json) json_end();
    return exit_status;
}

// The cache command on the --cache file.
int run_file_command(const options &o) {
    doc_owner file;
    if (o.cache_do == cache_action::clear) {
        // Not loaded: clearing also mends a file the library cannot read.
        tqmovie_cache_clear();
        const int32_t saved = tqmovie_cache_save(o.cache_file);
        if (saved != TQMOVIE_OK) return report_failure("cache file", "cache", o.cache_file, saved);
    } else if (access(o.cache_file, F_OK) == 0 || errno != ENOENT) {
        const int32_t loaded = tqmovie_cache_load(o.cache_file);
        if (loaded != TQMOVIE_OK) return report_failure("cache file", "cache", o.cache_file, loaded);
        file.doc = yyjson_read_file(o.cache_file, 0, nullptr, nullptr);
        if (!file.doc) {
            tq_set_err("cache file %s: cannot be read", o.cache_file);
            return report_failure("cache file", "cache", o.cache_file, TQMOVIE_ERR_FILE);
        }
    }
    // No file yet: an empty cache.
    yyjson_val *root = yyjson_doc_get_root(file.doc);
    int st = 0;
    if (o.json) json_begin(o.json_lines, o.full);
    if (o.cache_do == cache_action::list)
        st = print_listing(o, root, o.cache_file);
    else if (o.cache_do == cache_action::count)
        count(root, o.json);
    if (o.json) json_end();
    return st;
}

} // namespace

store_handle::~store_handle() {
    if (!store) return;
    tqmovie_set_store(nullptr); // a store still set cannot be closed
    tqmovie_store_close(store);
}

int open_store(const options &o, store_handle &h) {
    if (o.store == store_use::none) return 0;
    char path[path_max];
    bool own_folders = false;
    if (const int st = store_path(o, path, &own_folders)) return st;
    return open_at(o, path, own_folders, TQMOVIE_STORE_FAIL, h);
}

int run_cache_command(const options &o) {
    tqmovie_set_io(nullptr); // the default lifetimes decide what is fresh
    return o.cache_file ? run_file_command(o) : run_store_command(o);
}

} // namespace tqtool
