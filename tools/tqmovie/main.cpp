// SPDX-License-Identifier: MIT
// tqmovie: command-line host for the movie metadata client.
//
// A thin shell over the public C API: it installs one backend (the bundled sample
// fixtures by default, the HTTP backend with --host, or the stub), runs one public
// operation per invocation and prints the stored results either as an aligned
// summary or as the library's own JSON export. Of the library it uses nothing but
// tqmovie.h, so it doubles as a worked example of how a host drives the library.
//
// Exit status: 0 success, 10 + the library's status code when an operation failed
// (11 transport ... 18 out of memory), 64 usage error, 66 fixture directory missing,
// 74 writing the output failed.
#include "cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "fixture_dir.h"

namespace tqtool {
namespace {

int install_backend(const options &o) {
    tq_io io;
    if (o.stub) {
        io = tolvane_io_stub();
    } else if (o.host) {
        io = tolvane_io_curl();
    } else {
        const char *dir = o.fixtures ? o.fixtures : default_fixture_dir();
        if (!dir) {
            std::fprintf(stderr, "%s: no bundled fixture directory found; pass --fixtures DIR or --host URL\n",
                         program);
            return exit_no_input;
        }
        if (!is_directory(dir)) {
            std::fprintf(stderr, "%s: fixture directory not found: %s\n", program, dir);
            return exit_no_input;
        }
        if (std::strlen(dir) > fixture_dir_max) {
            std::fprintf(stderr, "%s: fixture directory path too long: %s\n", program, dir);
            return exit_no_input;
        }
        io = tolvane_io_fake(dir);
    }
    tqmovie_set_io(&io);
    if (o.host) tqmovie_set_host(o.host);
    if (o.batch_size) tqmovie_set_batch_ceiling(o.batch_size);
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
    default: return "unknown status";
    }
}

int exit_for_status(int32_t st) {
    if (st == TQMOVIE_OK) return 0;
    if (st > 0 && st < exit_usage - exit_status_base) return exit_status_base + st;
    return exit_software;
}

// "tqmovie: basic tt1: TQMOVIE_ERR_HTTP (2): HTTP 404 [HTTP status 404]"
int report_failure(const char *what, const char *id, int32_t st) {
    const char *text = tqmovie_last_error();
    if (*text == '\0') text = st == TQMOVIE_ERR_NOMEM ? "out of memory" : "no error text";
    std::fprintf(stderr, "%s: %s%s%s: %s (%d): %s", program, what, id ? " " : "", id ? id : "", status_name(st),
                 static_cast<int>(st), text);
    int32_t http = tqmovie_last_http_code();
    if (http != 0) std::fprintf(stderr, " [HTTP status %d]", static_cast<int>(http));
    std::fputc('\n', stderr);
    return exit_for_status(st);
}

// ---------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------

record_kind records_of(command_kind k) {
    if (k == cmd_basic || k == cmd_basics) return record_kind::basic;
    return k == cmd_detail || k == cmd_details ? record_kind::detail : record_kind::trans;
}

// Writes every stored record of the command's kind. Returns TQMOVIE_OK or
// TQMOVIE_ERR_NOMEM when an export text could not be built.
int32_t print_results(const options &o, bool &first_record) {
    record_kind r = records_of(o.cmd->kind);
    int32_t n = r == record_kind::basic    ? tqmovie_basic_count()
                : r == record_kind::detail ? tqmovie_detail_count()
                                           : tqmovie_trans_count();
    for (int32_t i = 0; i < n; ++i) {
        if (o.json) {
            int32_t st = json_record(r, i);
            if (st != TQMOVIE_OK) return st;
            continue;
        }
        if (!first_record) std::fputc('\n', stdout);
        first_record = false;
        text_record(r, i);
    }
    return TQMOVIE_OK;
}

// Single-title commands: one lookup per id. Every id is tried so that a script gets
// all the answers it can; the exit status is that of the first failure.
int run_single(const options &o) {
    int exit_code = 0;
    bool first_record = true;
    for (size_t n = 0; n < o.ids.count; ++n) {
        const char *id = o.ids.items[n];
        int32_t st;
        if (o.cmd->kind == cmd_is_movie) {
            int32_t is_movie = 0;
            st = tqmovie_is_movie(id, &is_movie);
            if (st == TQMOVIE_OK) (o.json ? json_is_movie : text_is_movie)(id, is_movie != 0);
        } else {
            st = o.cmd->kind == cmd_basic ? tqmovie_get_basic(id, o.language)
                                          : tqmovie_get_detail(id, o.language, o.sections);
            if (st == TQMOVIE_OK) st = print_results(o, first_record);
        }
        if (st != TQMOVIE_OK) {
            int e = report_failure(o.cmd->name, id, st);
            if (!exit_code) exit_code = e;
        }
    }
    return exit_code;
}

int32_t run_batch_call(const options &o, const char *const *ids, size_t count) {
    switch (o.cmd->kind) {
    case cmd_basics: return tqmovie_get_basics(ids, count);
    case cmd_details: return tqmovie_get_details(ids, count, nullptr, static_cast<int32_t>(o.sections));
    default: return tqmovie_get_translations(ids, count, o.lang, o.region);
    }
}

// Batch commands. The library sends a batch in chunks of the ceiling but has no way
// to report its progress; when progress is wanted the tool splits the ids into the
// same chunks itself and calls the batch operation once per chunk. The requests are
// the same either way (chunk sizes, order and the one-id rule of the basics query),
// and records are printed chunk by chunk as they arrive. Otherwise the whole list
// goes to the library in one call. After a failure the records of the chunks that
// went through are still held, and printed.
int run_batch(const options &o) {
    const char *const *ids = o.ids.items;
    size_t count = o.ids.count;
    uint64_t ceiling = tqmovie_batch_ceiling();
    bool chunked_kind = o.cmd->kind == cmd_basics || o.cmd->kind == cmd_details;
    bool tty = isatty(STDERR_FILENO) != 0;
    bool want_progress = o.progress == 1 || (o.progress == -1 && tty);
    // Rounded up without count + ceiling - 1, which wraps for a huge --batch-size.
    size_t chunks = chunked_kind ? static_cast<size_t>(count / ceiling + (count % ceiling != 0)) : 1;
    bool progress = chunked_kind && want_progress && chunks >= 2;
    size_t step = progress ? static_cast<size_t>(ceiling) : count;
    bool first_record = true;

    size_t k = 0;
    for (size_t off = 0; off < count; off += step) {
        size_t n = count - off < step ? count - off : step;
        if (progress) {
            ++k;
            if (tty)
                std::fprintf(stderr, "\r%s: chunk %zu of %zu", program, k, chunks);
            else
                std::fprintf(stderr, "%s: chunk %zu of %zu (%zu id%s)\n", program, k, chunks, n, n == 1 ? "" : "s");
            std::fflush(stderr);
        }
        int32_t st = run_batch_call(o, ids + off, n);
        int32_t pst = print_results(o, first_record);
        if (progress) std::fflush(stdout);
        if (st == TQMOVIE_OK) st = pst;
        if (st != TQMOVIE_OK) {
            if (progress && tty) std::fputc('\n', stderr);
            return report_failure(o.cmd->name, nullptr, st);
        }
    }
    if (progress && tty) std::fputc('\n', stderr);
    return 0;
}

int run(int argc, char **argv) {
    options o;
    int st = parse_args(argc, argv, o);
    if (st == 0 && o.version) {
        std::printf("%s %s\n", program, TQMOVIE_VERSION_STRING);
    } else if (st == 0 && o.help) {
        if (o.cmd)
            print_command_help(*o.cmd);
        else
            print_general_usage(stdout);
    } else if (st == 0 && !o.cmd) {
        print_general_usage(stderr);
        st = exit_usage;
    } else if (st == 0) {
        st = prepare_options(o);
        if (st == 0) st = install_backend(o);
        if (st == 0) {
            bool single = o.cmd->kind == cmd_is_movie || o.cmd->kind == cmd_basic || o.cmd->kind == cmd_detail;
            st = single ? run_single(o) : run_batch(o);
        }
        tqmovie_shutdown();
    }
    ids_free(o.ids);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: writing the output failed: %s\n", program, std::strerror(errno));
        if (st == 0) st = exit_io;
    }
    return st;
}

} // namespace
} // namespace tqtool

int main(int argc, char **argv) { return tqtool::run(argc, argv); }
