// SPDX-License-Identifier: MIT
// tqmovie: command-line host for the movie metadata client.
//
// A thin shell over the public C API: it installs one backend (the bundled sample
// fixtures by default, the HTTP backend with --host, or the stub), runs one public
// operation per invocation and prints the stored results either as an aligned
// summary or as the library's own JSON export. With --host the records are kept in a
// store (a SQLite file under the user's cache folder) that answers later runs, or
// with --cache FILE in a cache file; --retry and --deadline set the library's retry
// policy; scan walks folders for video files and looks up the ids they name. Of the
// library it uses nothing but tqmovie.h, so it doubles as a worked example of how a
// host drives the library.
//
// Exit status: 0 success, 1 ids not found by a batch (or, for scan, files without an
// id), 10 + the library's status code when an operation failed (11 transport ... 18
// out of memory, 20 cache file or store), 64 usage error, 66 fixture directory
// missing, 74 writing the output failed, 130 interrupted.
#include "cli.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <csignal>
#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <signal.h>
#include <unistd.h>

#include "fixture_dir.h"

namespace tqtool {

int report_error(const char *kind, int exit_status, const char *fmt, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (json_errors)
        json_error({kind, text, exit_status});
    else
        std::fprintf(stderr, "%s: %s\n", program, text);
    return exit_status;
}

namespace {

// The HTTP backend of --host, released once the library has let go of it.
tq_io http_backend{};

// -v: "tqmovie: GET https://host/api/...?imdbId=tt1 -> 200, 312 B out, 2.1 KiB in, 12 ms"
void print_request(const tqmovie_log_event *e, void *) {
    if (e->source != TQMOVIE_SOURCE_SERVICE) {
        std::fprintf(stderr, "%s: %s %s -> %s\n", program, e->method, e->url,
                     e->source == TQMOVIE_SOURCE_STORE ? "from the store" : "from the memory cache");
        return;
    }
    std::fprintf(stderr, "%s: %s %s -> ", program, e->method, e->url);
    if (e->http_code)
        std::fprintf(stderr, "%d", static_cast<int>(e->http_code));
    else
        std::fprintf(stderr, "no answer");
    std::fprintf(stderr, ", %" PRIu64 " B out, %" PRIu64 " B in, %" PRIu32 " ms", e->bytes_sent, e->bytes_received,
                 e->ms);
    if (e->attempt > 1) std::fprintf(stderr, ", attempt %" PRIu32, e->attempt);
    if (e->status != TQMOVIE_OK) std::fprintf(stderr, ", failed (%d)", static_cast<int>(e->status));
    std::fputc('\n', stderr);
}

int install_backend(const options &o) {
    tq_io io;
    if (o.stub) {
        io = tolvane_io_stub();
    } else if (o.host) {
        // One connection (and TLS session) serves every request of the run.
        http_backend = tolvane_io_curl_pooled(&o.http);
        io = http_backend;
    } else {
        const char *dir = o.fixtures ? o.fixtures : default_fixture_dir();
        if (!dir)
            return report_error("no input", exit_no_input,
                                "no bundled fixture directory found; pass --fixtures DIR or --host URL");
        if (!is_directory(dir)) return report_error("no input", exit_no_input, "fixture directory not found: %s", dir);
        if (std::strlen(dir) > fixture_dir_max)
            return report_error("no input", exit_no_input, "fixture directory path too long: %s", dir);
        io = tolvane_io_fake(dir);
    }
    tqmovie_set_io(&io);
    if (o.host) tqmovie_set_host(o.host);
    if (o.batch_size) tqmovie_set_batch_ceiling(o.batch_size);
    if (o.cache_limit_text) tqmovie_cache_set_limit(o.cache_limit);
    if (o.retries) tqmovie_set_retry(o.retries, o.max_wait_ms);
    if (o.deadline_ms) tqmovie_set_deadline(o.deadline_ms);
    if (o.parallel) tqmovie_set_parallel(o.parallel);
    if (o.rate > 0) tqmovie_set_rate_limit(o.rate, o.rate_burst);
    if (o.offline) tqmovie_set_offline(1);
    if (o.refresh) tqmovie_set_refresh(1);
    if (o.stale_seconds > 0) tqmovie_set_stale_if_error(o.stale_seconds);
    if (o.verbose) tqmovie_set_log(print_request, nullptr);
    if (o.fallback && tqmovie_set_language_fallback(o.fallback) != TQMOVIE_OK)
        return report_error("usage", exit_usage, "--language-fallback: %s", tqmovie_last_error());
    return 0;
}

// ---------------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------------

const char *status_name(int32_t st) {
    switch (st) {
    case TQMOVIE_OK: return "TQMOVIE_OK";
    case TQMOVIE_ERR_TRANSPORT: return "TQMOVIE_ERR_TRANSPORT";
    case TQMOVIE_ERR_HTTP: return "TQMOVIE_ERR_HTTP";
    case TQMOVIE_ERR_PARSE: return "TQMOVIE_ERR_PARSE";
    case TQMOVIE_ERR_EMPTY: return "TQMOVIE_ERR_EMPTY";
    case TQMOVIE_ERR_ARG: return "TQMOVIE_ERR_ARG";
    case TQMOVIE_ERR_NO_IO: return "TQMOVIE_ERR_NO_IO";
    case TQMOVIE_ERR_NOMEM: return "TQMOVIE_ERR_NOMEM";
    case TQMOVIE_ERR_CANCELLED: return "TQMOVIE_ERR_CANCELLED";
    case TQMOVIE_ERR_FILE: return "TQMOVIE_ERR_FILE";
    default: return "unknown status";
    }
}

int exit_for_status(int32_t st) {
    if (st == TQMOVIE_OK) return 0;
    if (st > 0 && st < exit_usage - exit_status_base) return exit_status_base + st;
    return exit_software;
}

} // namespace

// "tqmovie: basic tt1: TQMOVIE_ERR_HTTP (2): HTTP 404 [HTTP status 404]"
int report_failure(const char *kind, const char *what, const char *id, int32_t st) {
    // No such title is one exit status whatever the backend said it with.
    const bool no_title = std::strcmp(kind, "lookup failed") == 0 && tqmovie_last_not_found();
    if (no_title) kind = "not found";
    const int exit_status = no_title ? exit_not_found : exit_for_status(st);
    const char *text = tqmovie_last_error();
    if (*text == '\0') text = st == TQMOVIE_ERR_NOMEM ? "out of memory" : "no error text";
    // A cache file has no HTTP status; the one left from the lookup would mislead.
    int32_t http = std::strcmp(kind, "lookup failed") == 0 || no_title ? tqmovie_last_http_code() : 0;
    if (json_errors) {
        error_report e{kind, text, exit_status, what, id};
        e.status = st;
        e.status_name = status_name(st);
        e.http_status = http;
        json_error(e);
        return e.exit_status;
    }
    std::fprintf(stderr, "%s: %s%s%s: %s (%d): %s", program, what, id ? " " : "", id ? id : "", status_name(st),
                 static_cast<int>(st), text);
    if (http != 0) std::fprintf(stderr, " [HTTP status %d]", static_cast<int>(http));
    if (no_title) std::fputs(" (no such title)", stderr);
    std::fputc('\n', stderr);
    return exit_status;
}

namespace {

// ---------------------------------------------------------------------------------
// Ctrl-C: the running lookup is cancelled and the tool exits 130
// ---------------------------------------------------------------------------------

volatile std::sig_atomic_t interrupted = 0;
tqmovie_client *interrupt_target = nullptr; // set before the handler is installed

// Async-signal-safe: the library's cancel is one lock-free atomic store.
void on_interrupt(int) {
    tqmovie_cancel(interrupt_target);
    interrupted = 1;
}

} // namespace

bool was_interrupted() { return interrupted != 0; }

void catch_interrupt() {
    interrupt_target = tqmovie_current();
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    // Output writes carry on; a second Ctrl-C ends the tool the default way at once.
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
}

int report_interrupted(const char *what) {
    if (json_errors) {
        json_error({"interrupted", "interrupted", exit_interrupted, what});
        return exit_interrupted;
    }
    std::fprintf(stderr, "%s: %s: interrupted\n", program, what);
    return exit_interrupted;
}

void report_retry_wait(const tqmovie_progress &event, uint32_t waits, uint32_t retries) {
    std::fprintf(stderr, "%s: waiting %.1f s: %s (retry %u of %u)\n", program, event.wait_ms / 1000.0,
                 tqmovie_last_error(), waits, retries);
    std::fflush(stderr);
}

namespace {

// ---------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------

record_kind records_of(command_kind k) {
    if (k == cmd_basic || k == cmd_basics) return record_kind::basic;
    return k == cmd_detail || k == cmd_details ? record_kind::detail : record_kind::trans;
}

int32_t record_count(record_kind r) {
    return r == record_kind::basic    ? tqmovie_basic_count()
           : r == record_kind::detail ? tqmovie_detail_count()
                                      : tqmovie_trans_count();
}

const char *record_id(record_kind r, int32_t i) {
    return r == record_kind::basic    ? tqmovie_basic_imdb_id(i)
           : r == record_kind::detail ? tqmovie_detail_imdb_id(i)
                                      : tqmovie_trans_imdb_id(i);
}

// Writes the stored records of the command's kind from index `printed` on and
// advances it. Returns TQMOVIE_OK or TQMOVIE_ERR_NOMEM when an export text could not
// be built.
int32_t print_results(const options &o, int32_t &printed, bool &first_record) {
    record_kind r = records_of(o.cmd->kind);
    for (int32_t n = record_count(r); printed < n; ++printed) {
        if (o.json) {
            int32_t st = json_record(r, printed);
            if (st != TQMOVIE_OK) return st;
            continue;
        }
        if (!first_record) std::fputc('\n', stdout);
        first_record = false;
        text_record(r, printed);
    }
    return TQMOVIE_OK;
}

// ---------------------------------------------------------------------------------
// Progress: chunks of a batch, and the waits before another attempt
// ---------------------------------------------------------------------------------

struct batch_run;
int on_chunk(batch_run &b, const tqmovie_progress &event);
void end_progress_line(batch_run &b);

// What the progress callback serves: the batch being printed (none for the
// single-title commands) and the retries of the request in progress.
struct progress_context {
    batch_run *batch = nullptr;
    uint32_t retries = 0; // --retry
    uint32_t waits = 0;   // waits for the request in progress so far
};

// "tqmovie: waiting 1.0 s: HTTP 429 (retry 1 of 3)": the library is about to wait
// before trying the failed request again; its text says why.
void report_wait(progress_context &p, const tqmovie_progress &event) {
    if (p.batch) end_progress_line(*p.batch);
    ++p.waits;
    report_retry_wait(event, p.waits, p.retries);
}

int on_progress(const tqmovie_progress *event, void *user) {
    progress_context &p = *static_cast<progress_context *>(user);
    // Fields past the ones a library knows are read only when its size covers them.
    if (event->kind == TQMOVIE_PROGRESS_RETRY_WAIT &&
        event->size >= offsetof(tqmovie_progress, wait_ms) + sizeof event->wait_ms) {
        report_wait(p, *event);
        return interrupted ? 1 : 0;
    }
    if (event->kind == TQMOVIE_PROGRESS_CHUNK_DONE && p.batch) {
        p.waits = 0; // the next chunk is a request of its own
        return on_chunk(*p.batch, *event);
    }
    return 0;
}

// Single-title commands: one lookup per id. Every id is tried so that a script gets
// all the answers it can; the exit status is that of the first failure.
int run_single(const options &o) {
    int exit_code = 0;
    bool first_record = true;
    progress_context p;
    p.retries = o.retries;
    tqmovie_set_progress(on_progress, &p);
    for (size_t n = 0; n < o.ids.count && !interrupted; ++n) {
        const char *id = o.ids.items[n];
        p.waits = 0;
        int32_t st;
        if (o.cmd->kind == cmd_is_movie) {
            int32_t is_movie = 0;
            st = tqmovie_is_movie(id, &is_movie);
            if (st == TQMOVIE_OK) (o.json ? json_is_movie : text_is_movie)(id, is_movie != 0);
        } else {
            st = o.cmd->kind == cmd_basic ? tqmovie_get_basic(id, o.language)
                                          : tqmovie_get_detail(id, o.language, o.sections);
            int32_t printed = 0;
            if (st == TQMOVIE_OK) st = print_results(o, printed, first_record);
        }
        if (interrupted) break;
        if (st != TQMOVIE_OK) {
            int e = report_failure("lookup failed", o.cmd->name, id, st);
            if (!exit_code) exit_code = e;
        }
    }
    tqmovie_set_progress(nullptr, nullptr);
    return interrupted ? report_interrupted(o.cmd->name) : exit_code;
}

int32_t run_batch_call(const options &o, const char *const *ids, size_t count) {
    switch (o.cmd->kind) {
    case cmd_basics: return tqmovie_get_basics(ids, count);
    case cmd_details: return tqmovie_get_details(ids, count, nullptr, static_cast<int32_t>(o.sections));
    default: return tqmovie_get_translations(ids, count, o.lang, o.region);
    }
}

// A batch command as one library call. The library reports every chunk of the batch
// ceiling (the --batch-size) to the progress callback, which prints the chunk's
// records at once (the store then holds the chunks so far) and announces the next
// chunk when progress is shown.
struct batch_run {
    const options &o;
    uint64_t ceiling;
    size_t chunks;          // requests the batch takes
    bool progress;          // "chunk k of n" on standard error
    bool tty;               // ... on one line rewritten in place
    size_t announced = 0;   // chunks announced so far
    bool line_open = false; // a "chunk k of n" rewritten in place waits for its line end
    int32_t printed = 0;    // records printed so far
    bool first_record = true;
    int32_t print_status = TQMOVIE_OK;
};

void announce_chunk(batch_run &b, uint64_t done, uint64_t total) {
    ++b.announced;
    uint64_t left = total - done;
    size_t n = static_cast<size_t>(left < b.ceiling ? left : b.ceiling);
    if (b.tty) {
        std::fprintf(stderr, "\r%s: chunk %zu of %zu", program, b.announced, b.chunks);
        b.line_open = true;
    } else
        std::fprintf(stderr, "%s: chunk %zu of %zu (%zu id%s)\n", program, b.announced, b.chunks, n, n == 1 ? "" : "s");
    std::fflush(stderr);
}

void end_progress_line(batch_run &b) {
    if (b.line_open) std::fputc('\n', stderr);
    b.line_open = false;
}

int on_chunk(batch_run &b, const tqmovie_progress &event) {
    if (b.print_status == TQMOVIE_OK) b.print_status = print_results(b.o, b.printed, b.first_record);
    std::fflush(stdout);
    if (b.progress && event.status == TQMOVIE_OK && event.done < event.total && !interrupted)
        announce_chunk(b, event.done, event.total);
    // Records that cannot be printed end the batch: the rest would be lost as well.
    return b.print_status != TQMOVIE_OK || interrupted ? 1 : 0;
}

// Translations: the ids no set answers, found by comparing the lists here.
int report_untranslated(const options &o) {
    record_kind r = records_of(o.cmd->kind);
    int32_t n = record_count(r);
    auto **have = static_cast<const char **>(std::malloc((static_cast<size_t>(n) + 1) * sizeof(char *)));
    auto **missing = static_cast<const char **>(std::malloc((o.ids.count + 1) * sizeof(char *)));
    auto by_text = [](const void *a, const void *b) {
        return std::strcmp(*static_cast<const char *const *>(a), *static_cast<const char *const *>(b));
    };
    size_t k = 0, m = 0;
    if (have && missing) {
        for (int32_t i = 0; i < n; ++i)
            if (const char *id = record_id(r, i)) have[k++] = id;
        std::qsort(have, k, sizeof *have, by_text);
        for (size_t i = 0; i < o.ids.count; ++i)
            if (!std::bsearch(&o.ids.items[i], have, k, sizeof *have, by_text)) missing[m++] = o.ids.items[i];
    }
    int st = 0;
    if (!have || !missing) {
        st = report_error("lookup failed", exit_status_base + TQMOVIE_ERR_NOMEM, "%s: out of memory", o.cmd->name);
    } else if (m != 0 && json_errors) {
        char text[64];
        std::snprintf(text, sizeof text, "no record for %zu of %zu ids", m, o.ids.count);
        error_report e{"not found", text, exit_not_found, o.cmd->name};
        e.ids = missing;
        e.id_count = m;
        json_error(e);
        st = exit_not_found;
    } else if (m != 0) {
        for (size_t i = 0; i < m; ++i) std::fprintf(stderr, "%s: %s %s: not found\n", program, o.cmd->name, missing[i]);
        st = exit_not_found;
    }
    std::free(have);
    std::free(missing);
    return st;
}

// Ids asked for that no record answers (the service leaves unknown ids out of a batch
// answer) are named on standard error; they make the exit status exit_not_found.
int report_not_found(const options &o) {
    if (o.cmd->kind == cmd_translations) return report_untranslated(o);
    const int32_t m = tqmovie_missing_count();
    if (m == 0) return 0;
    if (!json_errors) {
        for (int32_t i = 0; i < m; ++i)
            std::fprintf(stderr, "%s: %s %s: not found\n", program, o.cmd->name, tqmovie_missing_id(i));
        return exit_not_found;
    }
    auto **missing = static_cast<const char **>(std::malloc(static_cast<size_t>(m) * sizeof(char *)));
    if (!missing)
        return report_error("lookup failed", exit_status_base + TQMOVIE_ERR_NOMEM, "%s: out of memory", o.cmd->name);
    for (int32_t i = 0; i < m; ++i) missing[i] = tqmovie_missing_id(i);
    char text[64];
    std::snprintf(text, sizeof text, "no record for %d of %zu ids", static_cast<int>(m), o.ids.count);
    error_report e{"not found", text, exit_not_found, o.cmd->name};
    e.ids = missing;
    e.id_count = static_cast<size_t>(m);
    json_error(e);
    std::free(missing);
    return exit_not_found;
}

int run_batch(const options &o) {
    size_t count = o.ids.count;
    uint64_t ceiling = tqmovie_batch_ceiling();
    bool chunked_kind = o.cmd->kind == cmd_basics || o.cmd->kind == cmd_details;
    bool tty = isatty(STDERR_FILENO) != 0;
    bool want_progress = o.progress == 1 || (o.progress == -1 && tty);
    // Rounded up without count + ceiling - 1, which wraps for a huge --batch-size.
    size_t chunks = chunked_kind ? static_cast<size_t>(count / ceiling + (count % ceiling != 0)) : 1;
    batch_run b{o, ceiling, chunks, chunked_kind && want_progress && chunks >= 2, tty};

    if (b.progress) announce_chunk(b, 0, count);
    progress_context p;
    p.batch = &b;
    p.retries = o.retries;
    tqmovie_set_progress(on_progress, &p);
    int32_t st = run_batch_call(o, o.ids.items, count);
    tqmovie_set_progress(nullptr, nullptr);
    // Whatever the callback did not see (a batch refused before its first chunk holds
    // nothing, but nothing is assumed).
    if (b.print_status == TQMOVIE_OK) b.print_status = print_results(o, b.printed, b.first_record);
    end_progress_line(b);
    if (interrupted) return report_interrupted(o.cmd->name);
    // A batch that failed on its own says so; one the printing stopped, the printing.
    if (b.print_status != TQMOVIE_OK && (st == TQMOVIE_OK || st == TQMOVIE_ERR_CANCELLED)) st = b.print_status;
    if (st != TQMOVIE_OK) return report_failure("lookup failed", o.cmd->name, nullptr, st);
    return report_not_found(o);
}

// ---------------------------------------------------------------------------------
// --cache FILE: the record cache loaded before the command and saved after it
// ---------------------------------------------------------------------------------

// A file that does not exist yet is an empty cache; one that cannot be read is an
// error, so that the save at the end does not overwrite what it could not read.
int load_cache(const options &o) {
    if (access(o.cache_file, F_OK) != 0 && errno == ENOENT) return 0;
    int32_t st = tqmovie_cache_load(o.cache_file);
    return st == TQMOVIE_OK ? 0 : report_failure("cache file", "cache", o.cache_file, st);
}

int save_cache(const options &o) {
    int32_t st = tqmovie_cache_save(o.cache_file);
    return st == TQMOVIE_OK ? 0 : report_failure("cache file", "cache", o.cache_file, st);
}

} // namespace

int begin_lookups(const options &o, store_handle &store) {
    int st = install_backend(o);
    if (st == 0) st = open_store(o, store);
    if (st == 0 && o.cache_file) st = load_cache(o);
    return st;
}

// What the run fetched is kept, also when it failed part way or was interrupted.
int end_lookups(const options &o, int st) {
    if (o.cache_file) {
        int saved = save_cache(o);
        if (st == 0) st = saved;
    }
    return st;
}

namespace {

// A lookup command from its backend to its output, with the store and the cache file
// around it.
int run_lookup(const options &o) {
    store_handle store;
    if (const int st = begin_lookups(o, store)) return st;
    catch_interrupt();
    // From here on standard output holds one document, whatever happens.
    if (o.json) json_begin(o.json_lines, o.full);
    bool single = o.cmd->kind == cmd_is_movie || o.cmd->kind == cmd_basic || o.cmd->kind == cmd_detail;
    int st = single ? run_single(o) : run_batch(o);
    if (o.json) json_end();
    return end_lookups(o, st);
}

// --json and --json-lines ask for errors as JSON from the first one on, a usage error
// in the arguments before them included.
bool wants_json(int argc, char **argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--json") == 0 || std::strcmp(argv[i], "--json-lines") == 0) return true;
    return false;
}

int run(int argc, char **argv) {
    json_errors = wants_json(argc, argv);
    options o;
    int st = parse_args(argc, argv, o);
    if (st == 0 && o.version) {
        // The library loaded may be newer than the header the tool was built with.
        if (std::strcmp(tqmovie_version(), TQMOVIE_VERSION_STRING) == 0)
            std::printf("%s %s\n", program, TQMOVIE_VERSION_STRING);
        else
            std::printf("%s %s (library %s)\n", program, TQMOVIE_VERSION_STRING, tqmovie_version());
    } else if (st == 0 && o.help) {
        if (o.cmd)
            print_command_help(*o.cmd);
        else
            print_general_usage(stdout);
    } else if (st == 0 && !o.cmd) {
        if (json_errors)
            json_error({"usage", "a command is needed", exit_usage});
        else
            print_general_usage(stderr);
        st = exit_usage;
    } else if (st == 0) {
        st = prepare_options(o);
        if (st == 0)
            st = o.cmd->kind == cmd_cache  ? run_cache_command(o)
                 : o.cmd->kind == cmd_scan ? run_scan(o)
                                           : run_lookup(o);
        tqmovie_shutdown();
        tolvane_io_curl_pooled_free(&http_backend);
    }
    ids_free(o.ids);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        int failed = report_error("output", exit_io, "writing the output failed: %s", std::strerror(errno));
        if (st == 0) st = failed;
    }
    return st;
}

} // namespace
} // namespace tqtool

int main(int argc, char **argv) { return tqtool::run(argc, argv); }
