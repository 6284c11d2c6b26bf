// tqmovie: command-line host for the movie metadata client.
//
// A thin shell over the public C API: it installs one backend (the bundled sample
// fixtures by default, the HTTP backend with --host, or the stub), runs one public
// operation per invocation and prints the stored results either as an aligned
// summary or as the library's own JSON export. It includes nothing but tqmovie.h,
// so it doubles as a worked example of how a host drives the library.
//
// Exit status: 0 success, 10 + the library's status code when an operation failed
// (11 transport ... 18 out of memory), 64 usage error, 66 fixture directory missing,
// 74 writing the output failed.
#include "tqmovie.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixture_dir.h"

namespace {

constexpr int exit_status_base = 10; // exit = 10 + TQMOVIE_ERR_*
constexpr int exit_usage = 64;       // EX_USAGE
constexpr int exit_no_input = 66;    // EX_NOINPUT
constexpr int exit_io = 74;          // EX_IOERR
constexpr int exit_software = 70;    // EX_SOFTWARE: a status code this tool does not know

// Longest fixture directory the fixture backend keeps without cutting it (512-byte buffer).
constexpr size_t fixture_dir_max = 511;
// Longest base URL the library keeps without cutting it (256-byte buffer).
constexpr size_t host_max = 255;

// ---------------------------------------------------------------------------------
// Commands and options
// ---------------------------------------------------------------------------------

enum command_kind { cmd_is_movie, cmd_basic, cmd_detail, cmd_basics, cmd_details, cmd_translations };

// Which command-specific options a command takes.
enum : unsigned {
    opt_language = 1u,  // --language
    opt_sections = 2u,  // --sections
    opt_batch = 4u,     // --batch-size, --progress, --no-progress
    opt_lang_region = 8u // --lang, --region
};

struct command_info {
    const char *name;
    command_kind kind;
    unsigned options;
    const char *synopsis;
    const char *help;
};

const command_info commands[] = {
    {"is-movie", cmd_is_movie, 0, "is-movie ID...",
     "Asks whether each title is a film. Prints \"ID true\" or \"ID false\" per title\n"
     "(with --json one object per line: {\"imDbId\":...,\"isMovie\":true}).\n"},
    {"basic", cmd_basic, opt_language, "basic ID... [--language L]",
     "Looks up the basic record of each title, one request per title (answered from\n"
     "the record cache when the same title comes up again in one run).\n"
     "  --language L   language of the texts (default en-US)\n"},
    {"detail", cmd_detail, opt_language | opt_sections,
     "detail ID... [--language L] [--sections LIST]",
     "Looks up the detail record of each title, one request per title.\n"
     "  --language L      language of the texts (default en-US)\n"
     "  --sections LIST   comma-separated: cast,pictures,providers,videos or all\n"
     "                    (default all)\n"},
    {"basics", cmd_basics, opt_batch, "basics ID... [--batch-size N]",
     "Looks up basic records in batch requests of at most the batch size each.\n"
     "Records come in the order the service sends them.\n"
     "  --batch-size N   most ids per request (default 24)\n"
     "  --progress       report \"chunk k of n\" on standard error (default: only when\n"
     "                   standard error is a terminal)\n"
     "  --no-progress    never report progress\n"},
    {"details", cmd_details, opt_batch | opt_sections,
     "details ID... [--batch-size N] [--sections LIST]",
     "Looks up detail records in batch requests of at most the batch size each.\n"
     "  --batch-size N    most ids per request (default 24)\n"
     "  --sections LIST   comma-separated: cast,pictures,providers,videos or all\n"
     "  --progress, --no-progress   as for basics\n"},
    {"translations", cmd_translations, opt_lang_region,
     "translations ID... [--lang L] [--region R]",
     "Looks up the translations of all titles in one request.\n"
     "  --lang L     language code (default zh)\n"
     "  --region R   region code (default CN)\n"},
};

struct id_list {
    char **items = nullptr;
    size_t count = 0;
    size_t cap = 0;
};

struct options {
    const command_info *cmd = nullptr;
    bool help = false;
    bool version = false;
    bool json = false;
    bool stub = false;
    int progress = -1; // -1 automatic, 0 off, 1 on
    const char *language = nullptr;
    const char *sections_text = nullptr;
    const char *lang = nullptr;
    const char *region = nullptr;
    const char *fixtures = nullptr;
    const char *host = nullptr;
    const char *batch_text = nullptr;
    uint32_t sections = TQMOVIE_DETAIL_ALL;
    uint64_t batch_size = 0;
    bool ids_from_stdin = false;
    size_t stdin_at = 0; // ids from standard input go where the '-' stood
    id_list ids;
};

const char *program = "tqmovie";

void print_general_usage(FILE *out) {
    std::fprintf(out,
                 "usage: %s [OPTIONS] COMMAND [ARGS...]\n"
                 "\n"
                 "Commands:\n",
                 program);
    for (const command_info &c : commands) std::fprintf(out, "  %s\n", c.synopsis);
    std::fprintf(out,
                 "\n"
                 "Backend (at most one; default: the bundled sample fixtures, no network):\n"
                 "  --fixtures DIR   answer from the fixture files in DIR\n"
                 "  --host URL       talk HTTP(S) to the service at URL\n"
                 "  --stub           fail every request (to try error handling)\n"
                 "\n"
                 "Output:\n"
                 "  --json           JSON, one object per line, instead of the summary\n"
                 "\n"
                 "An ID of \"-\" reads ids from standard input, one per line (blank lines and\n"
                 "lines starting with # are skipped).\n"
                 "  --help           this text; \"%s COMMAND --help\" for one command\n"
                 "  --version        print the version\n"
                 "\n"
                 "Exit status: 0 success; 10 + the library status code when an operation failed\n"
                 "(11 transport, 12 HTTP, 13 parse, 14 empty, 16 argument, 17 no backend,\n"
                 "18 out of memory); 64 usage error; 66 fixture directory not found; 74 output\n"
                 "could not be written.\n",
                 program);
}

void print_command_help(const command_info &c) {
    std::printf("usage: %s [OPTIONS] %s\n\n%s", program, c.synopsis, c.help);
    std::printf("\nBackend and output options: --fixtures DIR | --host URL | --stub, --json\n"
                "An ID of \"-\" reads ids from standard input, one per line.\n");
}

int usage_error(const char *fmt, ...) TQMOVIE_PRINTF(1, 2);
int usage_error(const char *fmt, ...) {
    std::fprintf(stderr, "%s: ", program);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fprintf(stderr, "\nTry '%s --help' for more information.\n", program);
    return exit_usage;
}

int out_of_memory() {
    std::fprintf(stderr, "%s: out of memory\n", program);
    return exit_status_base + TQMOVIE_ERR_NOMEM;
}

const command_info *find_command(const char *name) {
    for (const command_info &c : commands)
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

// ---------------------------------------------------------------------------------
// Id list
// ---------------------------------------------------------------------------------

bool ids_push(id_list &l, const char *s, size_t n) {
    if (l.count == l.cap) {
        size_t cap = l.cap ? l.cap * 2 : 16;
        void *p = std::realloc(l.items, cap * sizeof(char *));
        if (!p) return false;
        l.items = static_cast<char **>(p);
        l.cap = cap;
    }
    char *copy = static_cast<char *>(std::malloc(n + 1));
    if (!copy) return false;
    std::memcpy(copy, s, n);
    copy[n] = '\0';
    l.items[l.count++] = copy;
    return true;
}

void ids_free(id_list &l) {
    for (size_t i = 0; i < l.count; ++i) std::free(l.items[i]);
    std::free(l.items);
    l = id_list{};
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// One id per line; surrounding blanks are dropped so that ids pasted from other
// tools (or files with CRLF line ends) are not sent with a stray byte.
bool read_ids_from_stdin(id_list &l) {
    char *line = nullptr;
    size_t line_cap = 0;
    ssize_t got;
    bool ok = true;
    while ((got = getline(&line, &line_cap, stdin)) >= 0) {
        const char *b = line;
        const char *e = line + got;
        while (b < e && is_blank(*b)) ++b;
        while (e > b && is_blank(e[-1])) --e;
        if (b == e || *b == '#') continue;
        if (!ids_push(l, b, static_cast<size_t>(e - b))) {
            ok = false;
            break;
        }
    }
    if (ok && std::ferror(stdin)) ok = false;
    std::free(line);
    return ok;
}

// ---------------------------------------------------------------------------------
// Argument parsing
// ---------------------------------------------------------------------------------

int parse_sections(const char *text, uint32_t *out) {
    static const struct {
        const char *name;
        uint32_t bit;
    } names[] = {{"cast", TQMOVIE_DETAIL_CAST},
                 {"pictures", TQMOVIE_DETAIL_PICTURES},
                 {"providers", TQMOVIE_DETAIL_PROVIDERS},
                 {"videos", TQMOVIE_DETAIL_VIDEOS},
                 {"all", TQMOVIE_DETAIL_ALL}};
    uint32_t mask = 0;
    const char *p = text;
    for (;;) {
        const char *end = std::strchr(p, ',');
        size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
        bool known = false;
        for (const auto &s : names) {
            if (std::strlen(s.name) == n && std::strncmp(s.name, p, n) == 0) {
                mask |= s.bit;
                known = true;
            }
        }
        if (!known)
            return usage_error("unknown section '%.*s' in --sections (use cast, pictures, providers, "
                               "videos or all)",
                               static_cast<int>(n), p);
        if (!end) break;
        p = end + 1;
    }
    *out = mask;
    return 0;
}

int parse_batch_size(const char *text, uint64_t *out) {
    if (*text < '0' || *text > '9') return usage_error("--batch-size needs a positive number, not '%s'", text);
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v == 0)
        return usage_error("--batch-size needs a positive number, not '%s'", text);
    *out = static_cast<uint64_t>(v);
    return 0;
}

// Returns 0, or the exit status of a usage error (already reported).
int parse_args(int argc, char **argv, options &o) {
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!options_done && arg[0] == '-' && arg[1] != '\0') {
            if (std::strcmp(arg, "--") == 0) {
                options_done = true;
                continue;
            }
            if (std::strcmp(arg, "-h") == 0) {
                o.help = true;
                continue;
            }
            if (arg[1] != '-') return usage_error("unknown option '%s'", arg);
            const char *name = arg + 2;
            const char *eq = std::strchr(name, '=');
            size_t name_len = eq ? static_cast<size_t>(eq - name) : std::strlen(name);
            auto is = [&](const char *n) { return std::strlen(n) == name_len && std::strncmp(n, name, name_len) == 0; };

            struct flag {
                const char *name;
                bool *target;
            } flags[] = {{"help", &o.help}, {"version", &o.version}, {"json", &o.json}, {"stub", &o.stub}};
            bool matched = false;
            for (const flag &f : flags) {
                if (!is(f.name)) continue;
                if (eq) return usage_error("option '--%s' takes no value", f.name);
                *f.target = true;
                matched = true;
            }
            if (is("progress") || is("no-progress")) {
                if (eq) return usage_error("option '%.*s' takes no value", static_cast<int>(name_len + 2), arg);
                o.progress = is("progress") ? 1 : 0;
                matched = true;
            }
            if (matched) continue;

            struct valued {
                const char *name;
                const char **target;
            } values[] = {{"language", &o.language}, {"sections", &o.sections_text}, {"lang", &o.lang},
                          {"region", &o.region},     {"fixtures", &o.fixtures},     {"host", &o.host},
                          {"batch-size", &o.batch_text}};
            for (const valued &v : values) {
                if (!is(v.name)) continue;
                if (eq) {
                    *v.target = eq + 1;
                } else {
                    if (i + 1 >= argc) return usage_error("option '--%s' needs a value", v.name);
                    *v.target = argv[++i];
                }
                matched = true;
            }
            if (!matched) return usage_error("unknown option '%s'", arg);
            continue;
        }
        // A positional argument: the command first, then ids.
        if (!o.cmd) {
            if (std::strcmp(arg, "help") == 0 && !o.help) {
                o.help = true;
                continue;
            }
            o.cmd = find_command(arg);
            if (!o.cmd) return usage_error("unknown command '%s'", arg);
            continue;
        }
        if (std::strcmp(arg, "-") == 0) {
            if (o.ids_from_stdin) return usage_error("'-' (ids from standard input) given twice");
            o.ids_from_stdin = true;
            o.stdin_at = o.ids.count;
            continue;
        }
        if (!ids_push(o.ids, arg, std::strlen(arg))) return out_of_memory();
    }
    return 0;
}

// Checks the combination of options against the command; 0 or a usage exit status.
int check_options(options &o) {
    const command_info &c = *o.cmd;
    struct rule {
        const char *text;
        const char *option;
        unsigned needs;
    } rules[] = {{o.language, "--language", opt_language},
                 {o.sections_text, "--sections", opt_sections},
                 {o.batch_text, "--batch-size", opt_batch},
                 {o.progress >= 0 ? "" : nullptr, "--progress/--no-progress", opt_batch},
                 {o.lang, "--lang", opt_lang_region},
                 {o.region, "--region", opt_lang_region}};
    for (const rule &r : rules)
        if (r.text && !(c.options & r.needs))
            return usage_error("option %s does not apply to '%s'", r.option, c.name);

    int backends = (o.stub ? 1 : 0) + (o.host ? 1 : 0) + (o.fixtures ? 1 : 0);
    if (backends > 1) return usage_error("give at most one of --fixtures, --host and --stub");
    if (o.host) {
        // The library cuts a longer base URL; a cut URL would send requests elsewhere.
        bool has_scheme = std::strncmp(o.host, "http://", 7) == 0 || std::strncmp(o.host, "https://", 8) == 0;
        size_t stored = std::strlen(o.host) + (has_scheme ? 0 : 8);
        if (*o.host == '\0') return usage_error("--host needs a URL");
        if (stored > host_max) return usage_error("--host URL is longer than %zu characters", host_max);
    }
    if (o.fixtures && std::strlen(o.fixtures) > fixture_dir_max)
        return usage_error("--fixtures path is longer than %zu characters", fixture_dir_max);
    if (o.sections_text) {
        int st = parse_sections(o.sections_text, &o.sections);
        if (st) return st;
    }
    if (o.batch_text) {
        int st = parse_batch_size(o.batch_text, &o.batch_size);
        if (st) return st;
    }
    return 0;
}

// Replaces the '-' placeholder by the ids read from standard input, in place.
int expand_stdin_ids(options &o) {
    if (!o.ids_from_stdin) return 0;
    id_list from_stdin;
    if (!read_ids_from_stdin(from_stdin)) {
        bool nomem = !std::ferror(stdin);
        ids_free(from_stdin);
        if (nomem) return out_of_memory();
        std::fprintf(stderr, "%s: reading ids from standard input failed: %s\n", program, std::strerror(errno));
        return exit_no_input;
    }
    id_list merged;
    bool ok = true;
    for (size_t i = 0; ok && i <= o.ids.count; ++i) {
        if (i == o.stdin_at)
            for (size_t j = 0; ok && j < from_stdin.count; ++j)
                ok = ids_push(merged, from_stdin.items[j], std::strlen(from_stdin.items[j]));
        if (ok && i < o.ids.count) ok = ids_push(merged, o.ids.items[i], std::strlen(o.ids.items[i]));
    }
    ids_free(from_stdin);
    ids_free(o.ids);
    o.ids = merged;
    return ok ? 0 : out_of_memory();
}

// ---------------------------------------------------------------------------------
// Backend
// ---------------------------------------------------------------------------------

using tqtool::is_directory;

int install_backend(const options &o) {
    tq_io io;
    if (o.stub) {
        io = tolvane_io_stub();
    } else if (o.host) {
        io = tolvane_io_curl();
    } else {
        const char *dir = o.fixtures ? o.fixtures : tqtool::default_fixture_dir();
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
// Text output
// ---------------------------------------------------------------------------------

// Service texts go to a terminal: control bytes (C0, DEL and the UTF-8 encoded C1
// range) are shown as '?' so that a record cannot move the cursor or retitle the
// window. Everything else, including UTF-8, passes unchanged.
void put_clean(const char *s) {
    if (!s) return;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        unsigned char c = *p;
        if (c < 0x20 || c == 0x7F) {
            std::fputc('?', stdout);
        } else if (c == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) {
            std::fputc('?', stdout);
            ++p;
        } else {
            std::fputc(c, stdout);
        }
    }
}

// Characters that take two terminal columns: the East Asian wide and full-width
// blocks (Hangul, CJK, kana, full-width forms). Enough to keep tables of translated
// titles aligned without depending on the locale.
bool is_wide(uint32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) || (cp >= 0x3041 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
           (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
           (cp >= 0x20000 && cp <= 0x3FFFD);
}

// Columns a text takes on a terminal. Malformed UTF-8 counts one column per byte.
size_t display_width(const char *s) {
    size_t w = 0;
    if (!s) return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    while (*p) {
        unsigned char c = *p;
        int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
        if (c >= 0xF5) extra = 0;
        uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1Fu) : extra == 2 ? (c & 0x0Fu) : (c & 0x07u);
        int k = 1;
        for (; k <= extra && (p[k] & 0xC0) == 0x80; ++k) cp = (cp << 6) | (p[k] & 0x3Fu);
        if (k <= extra) { // truncated sequence
            ++w;
            ++p;
            continue;
        }
        w += is_wide(cp) ? 2 : 1;
        p += extra + 1;
    }
    return w;
}

void pad(size_t n) {
    while (n--) std::fputc(' ', stdout);
}

constexpr int label_width = 11;

void field(const char *label, const char *value) {
    if (!value || !*value) return;
    std::printf("  %-*s", label_width, label);
    put_clean(value);
    std::fputc('\n', stdout);
}

void field_fmt(const char *label, const char *fmt, ...) TQMOVIE_PRINTF(2, 3);
void field_fmt(const char *label, const char *fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    field(label, buf);
}

// A short table under a heading: widths from the widest cell (capped so that one
// long URL does not push every other row off the screen), the last column unpadded.
struct table {
    const char *const *headers;
    int columns;
    int32_t rows;
    // Fills cell (row, col); may use scratch (64 bytes) for formatted numbers.
    const char *(*cell)(int32_t record, int32_t row, int col, char *scratch);
    int32_t record;
};

constexpr size_t max_column_width = 36;

void print_table(const char *heading, const table &t) {
    if (t.rows <= 0) return;
    std::printf("  %s (%d)\n", heading, static_cast<int>(t.rows));
    size_t width[8] = {0};
    char scratch[64];
    for (int c = 0; c < t.columns; ++c) width[c] = display_width(t.headers[c]);
    for (int32_t r = 0; r < t.rows; ++r) {
        for (int c = 0; c < t.columns; ++c) {
            size_t w = display_width(t.cell(t.record, r, c, scratch));
            if (w > width[c]) width[c] = w < max_column_width ? w : max_column_width;
        }
    }
    auto row_out = [&](auto get) {
        std::fputs("    ", stdout);
        int last = t.columns - 1; // no padding after the last non-empty cell
        while (last > 0 && (!get(last) || !*get(last))) --last;
        for (int c = 0; c <= last; ++c) {
            const char *v = get(c);
            if (!v) v = "";
            put_clean(v);
            if (c < last) {
                size_t w = display_width(v);
                pad((w < width[c] ? width[c] - w : 0) + 2);
            }
        }
        std::fputc('\n', stdout);
    };
    row_out([&](int c) { return t.headers[c]; });
    for (int32_t r = 0; r < t.rows; ++r) row_out([&](int c) { return t.cell(t.record, r, c, scratch); });
}

const char *tv_kind(int32_t is_tv) { return is_tv == 1 ? "TV show" : is_tv == 0 ? "film" : nullptr; }

void print_basic(int32_t i) {
    const char *title = tqmovie_basic_title(i);
    put_clean(title ? title : "(untitled)");
    std::fputc('\n', stdout);
    field("IMDb id", tqmovie_basic_imdb_id(i));
    if (tqmovie_basic_year(i) >= 0) field_fmt("Year", "%d", static_cast<int>(tqmovie_basic_year(i)));
    if (tqmovie_basic_duration(i) >= 0)
        field_fmt("Runtime", "%d min", static_cast<int>(tqmovie_basic_duration(i)));
    field("Kind", tv_kind(tqmovie_basic_is_tv(i)));

    auto joined = [&](const char *label, int32_t n, const char *(*get)(int32_t, int32_t)) {
        if (n <= 0) return;
        std::printf("  %-*s", label_width, label);
        for (int32_t j = 0; j < n; ++j) {
            if (j) std::fputs(", ", stdout);
            put_clean(get(i, j));
        }
        std::fputc('\n', stdout);
    };
    int32_t nr = tqmovie_basic_ratings_count(i);
    if (nr > 0) {
        std::printf("  %-*s", label_width, "Rating");
        for (int32_t j = 0; j < nr; ++j) {
            if (j) std::fputs(", ", stdout);
            put_clean(tqmovie_basic_rating_source(i, j));
            std::printf(" %g", tqmovie_basic_rating_value(i, j));
        }
        std::fputc('\n', stdout);
    }
    joined("Genres", tqmovie_basic_genres_count(i), tqmovie_basic_genre);
    joined("Directors", tqmovie_basic_directors_count(i), tqmovie_basic_director);
    field("Tagline", tqmovie_basic_tagline(i));
    field("Plot", tqmovie_basic_plot(i));
    field("Poster", tqmovie_basic_poster_url(i));
}

const char *const cast_headers[] = {"NAME", "ROLE", "BIRTHDAY"};
const char *cast_cell(int32_t i, int32_t r, int c, char *) {
    switch (c) {
    case 0: return tqmovie_detail_cast_name(i, r);
    case 1: return tqmovie_detail_cast_role(i, r);
    default: return tqmovie_detail_cast_birthday(i, r);
    }
}

const char *const provider_headers[] = {"NAME", "COUNTRY", "TYPE"};
const char *provider_cell(int32_t i, int32_t r, int c, char *) {
    switch (c) {
    case 0: return tqmovie_detail_provider_name(i, r);
    case 1: return tqmovie_detail_provider_country(i, r);
    default: return tqmovie_detail_provider_type(i, r);
    }
}

const char *const picture_headers[] = {"SIZE", "LANG", "URL"};
const char *picture_cell(int32_t i, int32_t r, int c, char *scratch) {
    switch (c) {
    case 0:
        std::snprintf(scratch, 64, "%dx%d", static_cast<int>(tqmovie_detail_picture_item_w(i, r)),
                      static_cast<int>(tqmovie_detail_picture_item_h(i, r)));
        return scratch;
    case 1: return tqmovie_detail_picture_item_lang(i, r);
    default: return tqmovie_detail_picture_item_url(i, r);
    }
}

const char *const video_headers[] = {"SITE", "TYPE", "KEY", "NAME"};
const char *video_cell(int32_t i, int32_t r, int c, char *) {
    switch (c) {
    case 0: return tqmovie_detail_video_site(i, r);
    case 1: return tqmovie_detail_video_type(i, r);
    case 2: return tqmovie_detail_video_key(i, r);
    default: return tqmovie_detail_video_name(i, r);
    }
}

void print_detail(int32_t i) {
    const char *title = tqmovie_detail_title(i);
    put_clean(title ? title : "(untitled)");
    std::fputc('\n', stdout);
    field("IMDb id", tqmovie_detail_imdb_id(i));
    const char *original = tqmovie_detail_original_title(i);
    if (original && (!title || std::strcmp(original, title) != 0)) field("Original", original);
    field("Type", tqmovie_detail_title_type(i));
    int32_t start = tqmovie_detail_start_year(i), end = tqmovie_detail_end_year(i);
    if (start >= 0 && end >= 0 && end != start)
        field_fmt("Years", "%d-%d", static_cast<int>(start), static_cast<int>(end));
    else if (start >= 0)
        field_fmt("Year", "%d", static_cast<int>(start));
    if (tqmovie_detail_runtime(i) >= 0) field_fmt("Runtime", "%d min", static_cast<int>(tqmovie_detail_runtime(i)));
    double rating = tqmovie_detail_imdb_rating(i);
    if (!std::isnan(rating)) field_fmt("Rating", "%g", rating);
    field("Genres", tqmovie_detail_genres(i));
    field("Directors", tqmovie_detail_directors(i));
    field("Tagline", tqmovie_detail_tagline(i));
    field("Plot", tqmovie_detail_plot(i));
    field("Trailer", tqmovie_detail_trailer_url(i));
    field("Poster", tqmovie_detail_poster_url(i));

    print_table("Cast", table{cast_headers, 3, tqmovie_detail_cast_count(i), cast_cell, i});
    print_table("Providers", table{provider_headers, 3, tqmovie_detail_provider_count(i), provider_cell, i});
    print_table("Pictures", table{picture_headers, 3, tqmovie_detail_picture_count(i), picture_cell, i});
    print_table("Videos", table{video_headers, 4, tqmovie_detail_video_count(i), video_cell, i});
    int32_t nrel = tqmovie_detail_related_count(i);
    if (nrel > 0) {
        std::printf("  %-*s", label_width, "Related");
        for (int32_t j = 0; j < nrel; ++j) {
            if (j) std::fputs(", ", stdout);
            put_clean(tqmovie_detail_related_id(i, j));
        }
        std::fputc('\n', stdout);
    }
}

const char *const trans_headers[] = {"LANG", "REGION", "TITLE", "TAGLINE"};
const char *trans_cell(int32_t i, int32_t r, int c, char *) {
    switch (c) {
    case 0: return tqmovie_trans_item_lang(i, r);
    case 1: return tqmovie_trans_item_region(i, r);
    case 2: return tqmovie_trans_item_title(i, r);
    default: return tqmovie_trans_item_tagline(i, r);
    }
}

void print_trans(int32_t i) {
    const char *id = tqmovie_trans_imdb_id(i);
    put_clean(id ? id : "(no id)");
    std::fputc('\n', stdout);
    if (tqmovie_trans_items_count(i) <= 0)
        std::puts("  no translations");
    else
        print_table("Translations", table{trans_headers, 4, tqmovie_trans_items_count(i), trans_cell, i});
}

// ---------------------------------------------------------------------------------
// JSON output
// ---------------------------------------------------------------------------------

// A JSON string literal (or null). Bytes from 0x80 up pass unchanged so UTF-8 stays
// UTF-8; every control byte is escaped, as JSON requires.
void json_str(const char *s) {
    if (!s) {
        std::fputs("null", stdout);
        return;
    }
    std::fputc('"', stdout);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        switch (*p) {
        case '"': std::fputs("\\\"", stdout); break;
        case '\\': std::fputs("\\\\", stdout); break;
        case '\n': std::fputs("\\n", stdout); break;
        case '\r': std::fputs("\\r", stdout); break;
        case '\t': std::fputs("\\t", stdout); break;
        case '\b': std::fputs("\\b", stdout); break;
        case '\f': std::fputs("\\f", stdout); break;
        default:
            if (*p < 0x20)
                std::printf("\\u%04x", static_cast<unsigned>(*p));
            else
                std::fputc(*p, stdout);
        }
    }
    std::fputc('"', stdout);
}

// Translation sets have no export of their own in the library. Directors and actors
// have no getter, so they are read from the exported state, whose layout is ABI.
void json_trans(int32_t i) {
    std::fputs("{\"imDbId\":", stdout);
    json_str(tqmovie_trans_imdb_id(i));
    std::fputs(",\"items\":[", stdout);
    int32_t n = tqmovie_trans_items_count(i);
    for (int32_t j = 0; j < n; ++j) {
        const tq_trans_item &item = g_tq.trans[i].items[j];
        std::fputs(j ? ",{" : "{", stdout);
        std::fputs("\"title\":", stdout);
        json_str(tqmovie_trans_item_title(i, j));
        std::fputs(",\"tagLine\":", stdout);
        json_str(tqmovie_trans_item_tagline(i, j));
        std::fputs(",\"plot\":", stdout);
        json_str(tqmovie_trans_item_plot(i, j));
        std::fputs(",\"directors\":", stdout);
        json_str(item.directors);
        std::fputs(",\"actors\":", stdout);
        json_str(item.actors);
        std::fputs(",\"iso_639_1\":", stdout);
        json_str(tqmovie_trans_item_lang(i, j));
        std::fputs(",\"iso_3166_1\":", stdout);
        json_str(tqmovie_trans_item_region(i, j));
        std::fputc('}', stdout);
    }
    std::fputs("]}\n", stdout);
}

// Writes every stored record of the command's kind. Returns TQMOVIE_OK or
// TQMOVIE_ERR_NOMEM when an export text could not be built.
int32_t print_results(const options &o, bool &first_record) {
    command_kind k = o.cmd->kind;
    bool basic = k == cmd_basic || k == cmd_basics;
    bool detail = k == cmd_detail || k == cmd_details;
    int32_t n = basic ? tqmovie_basic_count() : detail ? tqmovie_detail_count() : tqmovie_trans_count();
    for (int32_t i = 0; i < n; ++i) {
        if (o.json) {
            if (k == cmd_translations) {
                json_trans(i);
                continue;
            }
            char *text = basic ? tqmovie_basic_to_json(i) : tqmovie_detail_to_json(i);
            if (!text) return TQMOVIE_ERR_NOMEM;
            std::fputs(text, stdout);
            std::fputc('\n', stdout);
            std::free(text);
            continue;
        }
        if (!first_record) std::fputc('\n', stdout);
        first_record = false;
        if (basic)
            print_basic(i);
        else if (detail)
            print_detail(i);
        else
            print_trans(i);
    }
    return TQMOVIE_OK;
}

// ---------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------

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
            if (st == TQMOVIE_OK) {
                if (o.json) {
                    std::fputs("{\"imDbId\":", stdout);
                    json_str(id);
                    std::printf(",\"isMovie\":%s}\n", is_movie ? "true" : "false");
                } else {
                    put_clean(id);
                    std::printf(" %s\n", is_movie ? "true" : "false");
                }
            }
        } else if (o.cmd->kind == cmd_basic) {
            st = tqmovie_get_basic(id, o.language);
            if (st == TQMOVIE_OK) st = print_results(o, first_record);
        } else {
            st = tqmovie_get_detail(id, o.language, o.sections);
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
// goes to the library in one call.
int run_batch(const options &o) {
    const char *const *ids = o.ids.items;
    size_t count = o.ids.count;
    uint64_t ceiling = tqmovie_batch_ceiling();
    bool chunked_kind = o.cmd->kind == cmd_basics || o.cmd->kind == cmd_details;
    bool tty = isatty(STDERR_FILENO) != 0;
    bool want_progress = o.progress == 1 || (o.progress == -1 && tty);
    // Rounded up without count + ceiling - 1, which wraps for a huge --batch-size.
    size_t chunks = chunked_kind ? static_cast<size_t>(count / ceiling + (count % ceiling != 0)) : 1;
    bool first_record = true;

    if (!chunked_kind || !want_progress || chunks < 2) {
        int32_t st = run_batch_call(o, ids, count);
        // After a failure the records of the chunks that went through are still held.
        int32_t pst = print_results(o, first_record);
        if (st != TQMOVIE_OK) return report_failure(o.cmd->name, nullptr, st);
        if (pst != TQMOVIE_OK) return report_failure(o.cmd->name, nullptr, pst);
        return 0;
    }

    size_t k = 0;
    for (size_t off = 0; off < count; off += static_cast<size_t>(ceiling)) {
        size_t n = count - off < ceiling ? count - off : static_cast<size_t>(ceiling);
        ++k;
        if (tty)
            std::fprintf(stderr, "\r%s: chunk %zu of %zu", program, k, chunks);
        else
            std::fprintf(stderr, "%s: chunk %zu of %zu (%zu id%s)\n", program, k, chunks, n, n == 1 ? "" : "s");
        std::fflush(stderr);
        int32_t st = run_batch_call(o, ids + off, n);
        int32_t pst = print_results(o, first_record);
        std::fflush(stdout);
        if (st == TQMOVIE_OK) st = pst;
        if (st != TQMOVIE_OK) {
            if (tty) std::fputc('\n', stderr);
            return report_failure(o.cmd->name, nullptr, st);
        }
    }
    if (tty) std::fputc('\n', stderr);
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
        st = check_options(o);
        if (st == 0) st = expand_stdin_ids(o);
        if (st == 0 && o.ids.count == 0) st = usage_error("'%s' needs at least one id", o.cmd->name);
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

int main(int argc, char **argv) { return run(argc, argv); }
