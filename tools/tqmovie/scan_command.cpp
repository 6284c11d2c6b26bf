// SPDX-License-Identifier: MIT
// tqmovie scan [DIR...]: the video files under the folders with their ids (the walk,
// scan_walk.cpp), the records of the distinct ids in one batch lookup, and one line
// per file or one JSON document:
//   {"files":[{"path":...,"imdbId":...,"source":"sidecar|name|folder","record":{...}}...],
//    "noId":[paths...],"notFound":[ids...]}
#include "scan.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <ctime>

#include <unistd.h>

namespace tqtool {
namespace {

const char *source_text(int32_t source) {
    return source == source_sidecar ? "sidecar" : source == source_name ? "name" : "folder";
}

// ---------------------------------------------------------------------------------
// Progress: files found, ids found, titles fetched
// ---------------------------------------------------------------------------------

struct scan_progress {
    bool shown = false;        // --progress, or standard error is a terminal
    bool tty = false;          // one line rewritten in place
    bool line_open = false;    // ... waiting for its line end
    int64_t last_ms = 0;       // when it was last written (terminal)
    size_t next_files = 10000; // the file count of the next line (no terminal)
    size_t files = 0;
    size_t with_id = 0;
    size_t titles = 0; // distinct ids
    uint64_t fetched = 0;
    bool fetching = false;
    uint32_t retries = 0; // --retry
    uint32_t waits = 0;   // waits for the request in progress
};

int64_t now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void write_progress(scan_progress &p) {
    std::fprintf(stderr, "%s%s: scan: %zu file%s, %zu with an id", p.tty ? "\r" : "", program, p.files,
                 p.files == 1 ? "" : "s", p.with_id);
    if (p.fetching)
        std::fprintf(stderr, ", %llu of %zu title%s fetched", static_cast<unsigned long long>(p.fetched), p.titles,
                     p.titles == 1 ? "" : "s");
    if (p.tty)
        p.line_open = true;
    else
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

void end_progress_line(scan_progress &p) {
    if (p.line_open) std::fputc('\n', stderr);
    p.line_open = false;
}

// On a terminal at most ten times a second; elsewhere a line per 10,000 files.
void on_folder(void *user, const scan_list &l) {
    scan_progress &p = *static_cast<scan_progress *>(user);
    p.files = l.files.count;
    p.with_id = l.with_id;
    if (!p.shown) return;
    if (p.tty) {
        const int64_t t = now_ms();
        if (t - p.last_ms < 100) return;
        p.last_ms = t;
    } else {
        if (p.files < p.next_files) return;
        p.next_files = p.files + 10000;
    }
    write_progress(p);
}

// A path for the terminal in buf (cut to fit), control bytes shown as '?' as put_clean
// shows them.
template <size_t N> const char *shown_path(char (&buf)[N], const char *path) {
    size_t n = 0;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(path); *c && n + 1 < N; ++c) {
        const bool c1 = c[0] == 0xC2 && c[1] >= 0x80 && c[1] <= 0x9F;
        buf[n++] = *c < 0x20 || *c == 0x7F || c1 ? '?' : static_cast<char>(*c);
        c += c1;
    }
    buf[n] = '\0';
    return buf;
}

void on_unreadable(void *user, const char *path, int err) {
    end_progress_line(*static_cast<scan_progress *>(user));
    char shown[1024];
    report_error("folder", exit_unmatched, "scan: cannot read %s: %s", shown_path(shown, path), std::strerror(err));
}

int on_lookup_progress(const tqmovie_progress *event, void *user) {
    scan_progress &p = *static_cast<scan_progress *>(user);
    if (event->kind == TQMOVIE_PROGRESS_RETRY_WAIT &&
        event->size >= offsetof(tqmovie_progress, wait_ms) + sizeof event->wait_ms) {
        end_progress_line(p);
        report_retry_wait(*event, ++p.waits, p.retries);
    } else if (event->kind == TQMOVIE_PROGRESS_CHUNK_DONE) {
        p.waits = 0;
        p.fetched = event->done;
        if (p.shown) write_progress(p);
    }
    return was_interrupted() ? 1 : 0;
}

// ---------------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------------

struct held {
    const char *id;
    int32_t index;
};

bool by_id(const held &a, const held &b) { return std::strcmp(a.id, b.id) < 0; }

// What the output needs: the files, each one's record (-1 none), and the ids asked for
// that no record answers.
struct scan_result {
    const options &o;
    const scan_list &list;
    const int32_t *record;
    const char *const *not_found;
    size_t not_found_count;
    bool looked_up;
};

const char *record_title(const options &o, int32_t i) {
    const char *t = o.details ? tqmovie_detail_title(i) : tqmovie_basic_title(i);
    return t ? t : "(untitled)";
}

int32_t record_year(const options &o, int32_t i) {
    return o.details ? tqmovie_detail_start_year(i) : tqmovie_basic_year(i);
}

// Columns of "Title (1994)", or of "(no record)".
size_t title_width(const options &o, int32_t i) {
    if (i < 0) return sizeof "(no record)" - 1;
    char year[24] = "";
    if (record_year(o, i) >= 0) std::snprintf(year, sizeof year, " (%d)", static_cast<int>(record_year(o, i)));
    return display_width(record_title(o, i)) + std::strlen(year);
}

constexpr size_t title_column_most = 40;

void print_text(const scan_result &r) {
    const scan_list &l = r.list;
    size_t id_width = 0, title_column = 0;
    for (size_t k = 0; k < l.files.count; ++k) {
        const scan_file &f = l.files.items[k];
        if (!f.id[0]) continue;
        id_width = std::max(id_width, std::strlen(f.id));
        if (r.looked_up) title_column = std::max(title_column, title_width(r.o, r.record[k]));
    }
    title_column = std::min(title_column, title_column_most);
    for (size_t k = 0; k < l.files.count; ++k) {
        const scan_file &f = l.files.items[k];
        if (!f.id[0]) continue;
        std::printf("%-*s  %-7s  ", static_cast<int>(id_width), f.id, source_text(f.source));
        if (r.looked_up) {
            const int32_t i = r.record[k];
            if (i < 0) {
                std::fputs("(no record)", stdout);
            } else {
                put_clean(record_title(r.o, i));
                if (record_year(r.o, i) >= 0) std::printf(" (%d)", static_cast<int>(record_year(r.o, i)));
            }
            for (size_t w = title_width(r.o, i); w < title_column; ++w) std::fputc(' ', stdout);
            std::fputs("  ", stdout);
        }
        put_clean(l.path(f));
        std::fputc('\n', stdout);
    }
}

// The one document; TQMOVIE_ERR_NOMEM when the library could not export a record.
int32_t print_json(const scan_result &r, int32_t records) {
    const scan_list &l = r.list;
    // Each record is exported once, however many files share it.
    grow<char *> exports;
    if (!exports.reserve(static_cast<size_t>(records))) return TQMOVIE_ERR_NOMEM;
    for (int32_t i = 0; i < records; ++i) exports.push(nullptr);
    int32_t st = TQMOVIE_OK;
    const char *sep = "\n";
    std::fputs("{\"files\":[", stdout);
    for (size_t k = 0; k < l.files.count && st == TQMOVIE_OK; ++k) {
        const scan_file &f = l.files.items[k];
        if (!f.id[0]) continue;
        std::fputs(sep, stdout);
        sep = ",\n";
        std::fputs("{\"path\":", stdout);
        json_name(stdout, l.path(f));
        std::printf(",\"imdbId\":\"%s\",\"source\":\"%s\"", f.id, source_text(f.source));
        if (r.looked_up) {
            const int32_t i = r.record[k];
            if (i >= 0 && !exports.items[i])
                exports.items[i] = r.o.details ? (r.o.full ? tqmovie_detail_to_json_full(i) : tqmovie_detail_to_json(i))
                                               : (r.o.full ? tqmovie_basic_to_json_full(i) : tqmovie_basic_to_json(i));
            const char *text = i >= 0 ? exports.items[i] : nullptr;
            if (i >= 0 && !text) st = TQMOVIE_ERR_NOMEM;
            std::fputs(",\"record\":", stdout);
            if (text)
                json_put_export(text);
            else
                std::fputs("null", stdout);
        }
        std::fputc('}', stdout);
    }
    std::fputs(*sep == ',' ? "\n],\n\"noId\":[" : "],\n\"noId\":[", stdout);
    sep = "\n";
    for (size_t k = 0; k < l.files.count; ++k) {
        const scan_file &f = l.files.items[k];
        if (f.id[0]) continue;
        std::fputs(sep, stdout);
        sep = ",\n";
        json_name(stdout, l.path(f));
    }
    std::fputs(*sep == ',' ? "\n]" : "]", stdout);
    if (r.looked_up) {
        std::fputs(",\n\"notFound\":[", stdout);
        for (size_t k = 0; k < r.not_found_count; ++k) {
            if (k) std::fputc(',', stdout);
            json_str(stdout, r.not_found[k]);
        }
        std::fputc(']', stdout);
    }
    std::fputs("}\n", stdout);
    for (size_t i = 0; i < exports.count; ++i) std::free(exports.items[i]);
    return st;
}

// Files without an id and ids without a record, named on standard error (or one JSON
// object); exit 1 with them or with a folder that could not be read, else 0.
int report_unmatched(const scan_result &r) {
    const scan_list &l = r.list;
    const size_t no_id = l.files.count - l.with_id;
    if (json_errors && (no_id || r.not_found_count)) {
        char text[128];
        std::snprintf(text, sizeof text, "%zu file%s without an id, %zu id%s without a record", no_id,
                      no_id == 1 ? "" : "s", r.not_found_count, r.not_found_count == 1 ? "" : "s");
        error_report e{"not found", text, exit_unmatched, "scan"};
        e.ids = r.not_found;
        e.id_count = r.not_found_count;
        json_error(e);
    } else if (!json_errors) {
        // One write a line: standard error is not buffered.
        char shown[8192];
        for (size_t k = 0; k < l.files.count; ++k)
            if (!l.files.items[k].id[0])
                std::fprintf(stderr, "%s: scan: no id: %s\n", program, shown_path(shown, l.path(l.files.items[k])));
        for (size_t k = 0; k < r.not_found_count; ++k)
            std::fprintf(stderr, "%s: scan %s: not found\n", program, r.not_found[k]);
    }
    return no_id || r.not_found_count || l.unreadable ? exit_unmatched : 0;
}

int out_of_memory() {
    return report_error("lookup failed", exit_status_base + TQMOVIE_ERR_NOMEM, "scan: out of memory");
}

// The walk, the lookups and the output, once the backend (if any) is set up.
int scan(const options &o, scan_progress &p) {
    static const char *const here[] = {"."};
    scan_list list;
    const bool walked = o.ids.count ? scan_walk(o.ids.items, o.ids.count, {&p, on_folder, on_unreadable}, list)
                                    : scan_walk(here, 1, {&p, on_folder, on_unreadable}, list);
    p.files = list.files.count;
    p.with_id = list.with_id;
    if (!walked) {
        end_progress_line(p);
        return out_of_memory();
    }

    // The distinct ids, each asked for once.
    grow<const char *> ids;
    if (!ids.reserve(list.with_id)) return out_of_memory();
    for (size_t k = 0; k < list.files.count; ++k)
        if (list.files.items[k].id[0]) ids.push(list.files.items[k].id);
    auto text_less = [](const char *a, const char *b) { return std::strcmp(a, b) < 0; };
    std::sort(ids.items, ids.items + ids.count, text_less);
    ids.count = static_cast<size_t>(std::unique(ids.items, ids.items + ids.count,
                                                [](const char *a, const char *b) { return std::strcmp(a, b) == 0; }) -
                                    ids.items);
    p.titles = ids.count;
    const bool looked_up = !o.no_lookup;
    int32_t st = TQMOVIE_OK;
    if (looked_up && ids.count && !was_interrupted()) {
        p.fetching = true;
        if (p.shown) write_progress(p);
        tqmovie_set_progress(on_lookup_progress, &p);
        st = o.details ? tqmovie_get_details(ids.items, ids.count, nullptr, static_cast<int32_t>(o.sections))
                       : tqmovie_get_basics(ids.items, ids.count);
        tqmovie_set_progress(nullptr, nullptr);
    } else if (p.shown) {
        write_progress(p);
    }
    end_progress_line(p);

    // Each file's record, and the ids asked for that none answers (the service leaves
    // unknown ids out of a batch answer).
    const int32_t records = looked_up ? (o.details ? tqmovie_detail_count() : tqmovie_basic_count()) : 0;
    grow<held> have;
    grow<int32_t> record;
    grow<const char *> missing;
    if (!have.reserve(static_cast<size_t>(records)) || !record.reserve(list.files.count) || !missing.reserve(ids.count))
        return out_of_memory();
    for (int32_t i = 0; i < records; ++i)
        if (const char *id = o.details ? tqmovie_detail_imdb_id(i) : tqmovie_basic_imdb_id(i)) have.push({id, i});
    std::sort(have.items, have.items + have.count, by_id);
    auto record_of = [&](const char *id) {
        const held *end = have.items + have.count;
        const held *at = std::lower_bound(static_cast<const held *>(have.items), end, held{id, 0}, by_id);
        return at != end && std::strcmp(at->id, id) == 0 ? at->index : -1;
    };
    for (size_t k = 0; k < list.files.count; ++k)
        record.push(list.files.items[k].id[0] ? record_of(list.files.items[k].id) : -1);
    if (looked_up && st == TQMOVIE_OK && !was_interrupted())
        for (size_t k = 0; k < ids.count; ++k)
            if (record_of(ids.items[k]) < 0) missing.push(ids.items[k]);

    const scan_result r{o, list, record.items, missing.items, missing.count, looked_up};
    if (o.json) {
        if (print_json(r, records) != TQMOVIE_OK) return out_of_memory();
    } else {
        print_text(r);
    }
    std::fflush(stdout);
    if (was_interrupted()) return report_interrupted("scan");
    if (st != TQMOVIE_OK) return report_failure("lookup failed", "scan", nullptr, st);
    return report_unmatched(r);
}

} // namespace

int run_scan(const options &o) {
    scan_progress p;
    p.tty = isatty(STDERR_FILENO) != 0;
    p.shown = o.progress == 1 || (o.progress == -1 && p.tty);
    p.retries = o.retries;
    if (o.no_lookup) {
        catch_interrupt();
        return scan(o, p);
    }
    store_handle store;
    if (const int st = begin_lookups(o, store)) return st;
    catch_interrupt();
    return end_lookups(o, scan(o, p));
}

} // namespace tqtool
