// SPDX-License-Identifier: MIT
// tqmovie: the commands, their help, the options and the ids (from the command line
// or, for a '-', from standard input).
#include "cli.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <sys/types.h>

namespace tqtool {
namespace {

// Longest base URL the library keeps without cutting it (256-byte buffer).
constexpr size_t host_max = 255;

// Which command-specific options a command takes.
enum : unsigned {
    opt_language = 1u,    // --language
    opt_sections = 2u,    // --sections
    opt_batch = 4u,       // --batch-size, --progress, --no-progress
    opt_lang_region = 8u, // --lang, --region
    opt_scan = 16u        // --details, --no-lookup
};

const command_info commands[] = {
    {"is-movie", cmd_is_movie, 0, "is-movie ID...",
     "Asks whether each title is a film. Prints \"ID true\" or \"ID false\" per title\n"
     "(with --json an array of {\"imDbId\":...,\"isMovie\":true}).\n"},
    {"basic", cmd_basic, opt_language, "basic ID... [--language L]",
     "Looks up the basic record of each title, one request per title (answered from\n"
     "the record cache when the same title comes up again in one run).\n"
     "  --language L   language of the texts (default en-US)\n"},
    {"detail", cmd_detail, opt_language | opt_sections, "detail ID... [--language L] [--sections LIST]",
     "Looks up the detail record of each title, one request per title.\n"
     "  --language L      language of the texts (default en-US)\n"
     "  --sections LIST   comma-separated: cast,pictures,providers,videos or all\n"
     "                    (default all)\n"},
    {"basics", cmd_basics, opt_batch, "basics ID... [--batch-size N]",
     "Looks up basic records in batch requests of at most the batch size each.\n"
     "Records come in the order the service sends them; ids without a record are\n"
     "named on standard error and make the exit status 1.\n"
     "  --batch-size N   most ids per request (default 24)\n"
     "  --progress       report \"chunk k of n\" on standard error (default: only when\n"
     "                   standard error is a terminal)\n"
     "  --no-progress    never report progress\n"},
    {"details", cmd_details, opt_batch | opt_sections, "details ID... [--batch-size N] [--sections LIST]",
     "Looks up detail records in batch requests of at most the batch size each.\n"
     "  --batch-size N    most ids per request (default 24)\n"
     "  --sections LIST   comma-separated: cast,pictures,providers,videos or all\n"
     "  --progress, --no-progress   as for basics\n"},
    {"translations", cmd_translations, opt_lang_region, "translations ID... [--lang L] [--region R]",
     "Looks up the translations of all titles in one request.\n"
     "  --lang L     language code (default zh)\n"
     "  --region R   region code (default CN)\n"},
    {"cache", cmd_cache, 0, "cache [list|count|clear|vacuum|import FILE|export FILE]",
     "Works on the store (the default one, or --store FILE) or, with --cache FILE, on\n"
     "that cache file, without a request:\n"
     "  list         one line per record: id, basic or detail, age, whether a lookup\n"
     "               would still take it (fresh), language, detail sections, title (the\n"
     "               default); of a store, the records of the --host service\n"
     "  count        the titles (a cache file: and records) held\n"
     "  clear        empties the file or the store (an unreadable file included)\n"
     "  vacuum       rebuilds the store to its smallest size\n"
     "  import FILE  copies the records of the cache file FILE into the store, as\n"
     "               records of the --host service\n"
     "  export FILE  writes the store's records of the --host service to the cache\n"
     "               file FILE\n"
     "A file or store that does not exist reads as empty.\n"},
    {"scan", cmd_scan, opt_batch | opt_sections | opt_scan, "scan [DIR...] [--details] [--no-lookup]",
     "Finds the video files under each DIR (default: the current folder), the IMDb id\n"
     "of each from its .nfo sidecars, its name or its folders, and looks up the ids in\n"
     "batch requests. Prints one line per file: id, where it came from (sidecar, name,\n"
     "folder), title and year, path. Hidden entries are skipped; links to folders are\n"
     "followed, each folder listed once. Video files are those named .3g2 .3gp .asf\n"
     ".avi .divx .dv .evo .f4v .flv .iso .m1v .m2t .m2ts .m2v .m4v .mk3d .mkv .mov .mp4\n"
     ".mpe .mpeg .mpg .mts .mxf .nsv .ogm .ogv .qt .rm .rmvb .strm .ts .vob .webm\n"
     ".wmv .wtv .xvid (any letter case). Files without an id, ids without a record and\n"
     "folders that cannot be read are named on standard error and make the exit\n"
     "status 1. With --json: {\"files\":[{\"path\",\"imdbId\",\"source\",\"record\"}...],\n"
     "\"noId\":[paths],\"notFound\":[ids]}.\n"
     "  --details         detail records in place of basic ones\n"
     "  --sections LIST   with --details: cast,pictures,providers,videos or all\n"
     "  --no-lookup       stop after matching: no backend, no request\n"
     "  --batch-size N    most ids per request (default 24)\n"
     "  --progress        report files, ids and titles fetched on standard error\n"
     "                    (default: only when standard error is a terminal)\n"
     "  --no-progress     never report progress\n"},
};

int usage_error(const char *fmt, ...) TQMOVIE_PRINTF(1, 2);
int usage_error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    if (json_errors) {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        json_error({"usage", text, exit_usage});
    } else {
        std::fprintf(stderr, "%s: ", program);
        std::vfprintf(stderr, fmt, ap);
        std::fprintf(stderr, "\nTry '%s --help' for more information.\n", program);
    }
    va_end(ap);
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

bool ids_push(id_list &l, const char *s) { return ids_push(l, s, std::strlen(s)); }

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
            for (size_t j = 0; ok && j < from_stdin.count; ++j) ok = ids_push(merged, from_stdin.items[j]);
        if (ok && i < o.ids.count) ok = ids_push(merged, o.ids.items[i]);
    }
    ids_free(from_stdin);
    ids_free(o.ids);
    o.ids = merged;
    return ok ? 0 : out_of_memory();
}

// ---------------------------------------------------------------------------------
// Option values and combinations
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

// A whole number of at most 64 bits; 0 only when zero_ok.
bool parse_count(const char *text, bool zero_ok, uint64_t *out) {
    if (*text < '0' || *text > '9') return false; // strtoull would take a sign or blanks
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || (v == 0 && !zero_ok)) return false;
    *out = static_cast<uint64_t>(v);
    return true;
}

int parse_batch_size(const char *text, uint64_t *out) {
    if (parse_count(text, false, out)) return 0;
    return usage_error("--batch-size needs a positive number, not '%s'", text);
}

// Seconds with an optional fraction ("2", "0.5") as milliseconds, at least one (or
// 0 for a zero when zero_ok).
bool parse_seconds(const char *text, int64_t *ms, bool zero_ok = false) {
    if ((*text < '0' || *text > '9') && *text != '.') return false; // no sign, blank, inf or nan
    errno = 0;
    char *end = nullptr;
    const double s = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(s > 0 || (zero_ok && s == 0)) || s > 1e9) return false;
    *ms = static_cast<int64_t>(s * 1000.0 + 0.5);
    if (*ms < 1 && s > 0) *ms = 1;
    return true;
}

// Seconds as the library's 32-bit milliseconds (at most about 49 days).
bool parse_seconds_u32(const char *text, uint32_t *ms, bool zero_ok) {
    int64_t v = 0;
    if (!parse_seconds(text, &v, zero_ok) || v > static_cast<int64_t>(UINT32_MAX)) return false;
    *ms = static_cast<uint32_t>(v);
    return true;
}

// --retry, --max-wait, --deadline: the library's retry policy and deadline.
int check_retry_options(options &o) {
    uint64_t n = 0;
    if (o.retry_text && (!parse_count(o.retry_text, true, &n) || n > UINT32_MAX))
        return usage_error("--retry needs a number of further attempts, not '%s'", o.retry_text);
    o.retries = static_cast<uint32_t>(n);
    if (o.max_wait_text && !o.retry_text) return usage_error("option --max-wait applies with --retry only");
    if (o.max_wait_text && !parse_seconds_u32(o.max_wait_text, &o.max_wait_ms, true))
        return usage_error("--max-wait needs a number of seconds (0 or more), not '%s'", o.max_wait_text);
    if (o.deadline_text && !parse_seconds_u32(o.deadline_text, &o.deadline_ms, false))
        return usage_error("--deadline needs a positive number of seconds, not '%s'", o.deadline_text);
    if (o.parallel_text && (!parse_count(o.parallel_text, false, &n) || n > 64))
        return usage_error("--parallel needs a number from 1 to 64, not '%s'", o.parallel_text);
    o.parallel = static_cast<uint32_t>(o.parallel_text ? n : 0);
    if (o.rate_text) {
        // R or R/BURST: requests a second (a decimal number), and how many may go at once.
        char *end = nullptr;
        o.rate = std::strtod(o.rate_text, &end);
        uint64_t burst = 1;
        const bool ok = end != o.rate_text && o.rate > 0 && o.rate <= 1e6 &&
                        (*end == '\0' || (*end == '/' && parse_count(end + 1, false, &burst) && burst <= UINT32_MAX));
        if (!ok)
            return usage_error("--rate-limit needs R or R/BURST (requests a second, burst), not '%s'", o.rate_text);
        o.rate_burst = static_cast<uint32_t>(burst);
    }
    return 0;
}

// The cache command's action (with its FILE), and the file or store it works on.
int check_cache_command(options &o) {
    static const struct {
        const char *name;
        cache_action action;
        bool takes_file; // import FILE, export FILE
        bool store_only;
    } actions[] = {{"list", cache_action::list, false, false},   {"count", cache_action::count, false, false},
                   {"clear", cache_action::clear, false, false}, {"vacuum", cache_action::vacuum, false, true},
                   {"import", cache_action::import, true, true}, {"export", cache_action::export_, true, true}};
    const char *lookup_only[] = {o.refresh ? "--refresh" : nullptr, o.offline ? "--offline" : nullptr,
                                 o.stale_text ? "--stale-if-error" : nullptr};
    for (const char *given : lookup_only)
        if (given) return usage_error("option %s does not apply to 'cache'", given);
    if (o.cache_file && o.store_file) return usage_error("'cache' works on one of --cache FILE and --store FILE");
    if (!o.cache_file && o.store == store_use::none) return usage_error("'cache' needs a store or --cache FILE");
    const char *what = o.ids.count ? o.ids.items[0] : "list";
    for (const auto &a : actions) {
        if (std::strcmp(what, a.name) != 0) continue;
        if (o.ids_from_stdin || o.ids.count != (a.takes_file ? 2u : o.ids.count ? 1u : 0u))
            return usage_error(a.takes_file ? "'cache %s' takes one FILE" : "'cache %s' takes no argument", a.name);
        if (a.store_only && o.cache_file)
            return usage_error("'cache %s' works on a store, not on --cache FILE", a.name);
        if (a.takes_file && *o.ids.items[1] == '\0') return usage_error("'cache %s' needs a file name", a.name);
        o.cache_do = a.action;
        o.cache_arg = a.takes_file ? o.ids.items[1] : nullptr;
        return 0;
    }
    return usage_error("unknown cache action '%s' (use list, count, clear, vacuum, import or export)", what);
}

// --store, --no-store, --stale-if-error, and which store the run keeps: --store FILE
// whatever the backend; else the default one with a real service (--host), with
// --offline (which answers from it) and for the cache command, unless --cache FILE
// keeps the records instead.
int check_store_options(options &o) {
    if (o.store_file && o.no_store) return usage_error("give one of --store and --no-store");
    if (o.store_file && *o.store_file == '\0') return usage_error("--store needs a file name");
    uint64_t n = 0;
    if (o.stale_text && (!parse_count(o.stale_text, true, &n) || n > INT64_MAX))
        return usage_error("--stale-if-error needs a number of seconds (0 or more), not '%s'", o.stale_text);
    o.stale_seconds = static_cast<int64_t>(n);
    const bool wants_default = o.host || o.offline || o.cmd->kind == cmd_cache;
    o.store = o.store_file                                   ? store_use::given
              : o.no_store || o.cache_file || !wants_default ? store_use::none
                                                             : store_use::default_path;
    return 0;
}

// The HTTP transport's settings (the pooled backend's options), which only --host uses.
int check_http_options(options &o) {
    const struct {
        const char *text;
        const char *option;
    } given[] = {{o.connect_timeout_text, "--connect-timeout"},
                 {o.timeout_text, "--timeout"},
                 {o.cacert, "--cacert"},
                 {o.capath, "--capath"},
                 {o.proxy, "--proxy"},
                 {o.max_body_text, "--max-body"}};
    for (const auto &g : given)
        if (g.text && !o.host) return usage_error("option %s applies to --host only", g.option);
    tqmovie_http_options_init(&o.http, sizeof o.http);
    if (o.connect_timeout_text && !parse_seconds(o.connect_timeout_text, &o.http.connect_timeout_ms))
        return usage_error("--connect-timeout needs a positive number of seconds, not '%s'", o.connect_timeout_text);
    if (o.timeout_text && !parse_seconds(o.timeout_text, &o.http.timeout_ms))
        return usage_error("--timeout needs a positive number of seconds, not '%s'", o.timeout_text);
    if (o.max_body_text && !parse_count(o.max_body_text, false, &o.http.max_body_bytes))
        return usage_error("--max-body needs a positive number of bytes, not '%s'", o.max_body_text);
    o.http.ca_file = o.cacert;
    o.http.ca_path = o.capath;
    o.http.proxy = o.proxy;
    return 0;
}

// The scan writes one document, and records only when it looks them up.
int check_scan_options(const options &o) {
    if (o.json_lines) return usage_error("'scan' writes one document: use --json");
    if (o.ids_from_stdin) return usage_error("'scan' takes folders, not '-' (name a folder '-' as ./-)");
    const char *lookup_only[] = {o.details ? "--details" : nullptr, o.full ? "--full" : nullptr,
                                 o.sections_text ? "--sections" : nullptr, o.batch_text ? "--batch-size" : nullptr};
    for (const char *given : lookup_only)
        if (given && o.no_lookup) return usage_error("option %s does not apply with --no-lookup", given);
    if (o.sections_text && !o.details) return usage_error("option --sections applies to 'scan' with --details only");
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
                 {o.region, "--region", opt_lang_region},
                 {o.details ? "" : nullptr, "--details", opt_scan},
                 {o.no_lookup ? "" : nullptr, "--no-lookup", opt_scan}};
    for (const rule &r : rules)
        if (r.text && !(c.options & r.needs)) return usage_error("option %s does not apply to '%s'", r.option, c.name);

    if (o.json && o.json_lines) return usage_error("give one of --json and --json-lines");
    if (o.json_lines) o.json = true;
    if (o.full && !o.json) return usage_error("option --full applies with --json or --json-lines only");
    if (const int scan_st = c.kind == cmd_scan ? check_scan_options(o) : 0) return scan_st;
    if (o.cache_file && *o.cache_file == '\0') return usage_error("--cache needs a file name");
    // TQMOVIE_HOST stands for --host when no backend is named.
    if (!o.host && !o.fixtures && !o.stub)
        if (const char *env = std::getenv("TQMOVIE_HOST"); env && *env) o.host = env;
    if (const int retry_st = check_retry_options(o)) return retry_st;
    if (const int store_st = check_store_options(o)) return store_st;
    if (o.cache_limit_text && !parse_count(o.cache_limit_text, true, &o.cache_limit))
        return usage_error("--cache-limit needs a number of titles (0: no limit), not '%s'", o.cache_limit_text);

    int backends = (o.stub ? 1 : 0) + (o.host ? 1 : 0) + (o.fixtures ? 1 : 0);
    if (backends > 1) return usage_error("give at most one of --fixtures, --host and --stub");
    if (o.host) {
        // A base URL that would send requests elsewhere is refused: another scheme (the
        // library would put "https://" before "ftp://"), a query or fragment that would
        // cut the API path off, white space. HTTP:// and the like go on in lower case.
        if (std::strpbrk(o.host, "?# \t\r\n\v\f"))
            return usage_error("--host URL may not hold '?', '#' or white space");
        if (const char *sep = std::strstr(o.host, "://")) {
            const size_t n = static_cast<size_t>(sep - o.host);
            if (!((n == 4 && strncasecmp(o.host, "http", 4) == 0) || (n == 5 && strncasecmp(o.host, "https", 5) == 0)))
                return usage_error("--host takes an http:// or https:// URL, not '%.*s://'",
                                   static_cast<int>(n > 16 ? 16 : n), o.host);
            std::snprintf(o.host_lower, sizeof o.host_lower, "%.*s%s", static_cast<int>(n), n == 4 ? "http" : "https",
                          sep);
            o.host = o.host_lower;
        }
        // The library cuts a longer base URL; a cut URL would send requests elsewhere.
        bool has_scheme = std::strncmp(o.host, "http://", 7) == 0 || std::strncmp(o.host, "https://", 8) == 0;
        size_t stored = std::strlen(o.host) + (has_scheme ? 0 : 8);
        if (*o.host == '\0') return usage_error("--host needs a URL");
        if (stored > host_max) return usage_error("--host URL is longer than %zu characters", host_max);
    }
    if (o.fixtures && std::strlen(o.fixtures) > fixture_dir_max)
        return usage_error("--fixtures path is longer than %zu characters", fixture_dir_max);
    if (const int http_st = check_http_options(o)) return http_st;
    int st = o.sections_text ? parse_sections(o.sections_text, &o.sections) : 0;
    if (!st && o.batch_text) st = parse_batch_size(o.batch_text, &o.batch_size);
    return st;
}

} // namespace

void ids_free(id_list &l) {
    for (size_t i = 0; i < l.count; ++i) std::free(l.items[i]);
    std::free(l.items);
    l = id_list{};
}

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
                 "  (without one of them, $TQMOVIE_HOST, when set, stands for --host)\n"
                 "\n"
                 "HTTP transport (with --host; one connection kept for every request):\n"
                 "  --connect-timeout S  seconds to set up a connection (default 10; fractions allowed)\n"
                 "  --timeout S          seconds for a whole request (default 120; fractions allowed)\n"
                 "  --cacert FILE        CA certificates (PEM) to verify servers with, in place of\n"
                 "                       the system's bundle\n"
                 "  --capath DIR         directory of CA certificates (hashed names), in place of\n"
                 "                       the system's\n"
                 "  --proxy URL          proxy to use (\"\": none; default: http_proxy and the like)\n"
                 "  --max-body BYTES     refuse an answer larger than BYTES (default 268435456)\n"
                 "\n"
                 "Output:\n"
                 "  --json           one JSON document, an array of records, instead of the summary\n"
                 "  --json-lines     JSON, one object per line\n"
                 "  --full           with --json: every field and list of a record (the\n"
                 "                   library's complete export; translations in its form too)\n"
                 "\n"
                 "Retries (any backend; --host is where they matter):\n"
                 "  --retry N        try a request again up to N times after HTTP 429, 502, 503,\n"
                 "                   504 or a failed connect, waiting as the answer's Retry-After\n"
                 "                   says or backing off (each wait shown on standard error)\n"
                 "  --max-wait S     the longest wait in seconds (default 60); an answer asking\n"
                 "                   for longer ends the lookup\n"
                 "  --deadline S     the longest one lookup or batch may take, in seconds\n"
                 "  --parallel N     send up to N chunks of a batch at once over N connections\n"
                 "                   (1 to 64; with --host)\n"
                 "  --rate-limit R[/BURST]  send at most R requests a second (BURST at once,\n"
                 "                   default 1), waiting for the budget as needed\n"
                 "\n"
                 "Cache and store:\n"
                 "  --cache FILE     load the record cache from FILE (when it exists) and save\n"
                 "                   it back at the end; no default store then\n"
                 "  --cache-limit N  keep at most N titles in the record cache (0: no limit)\n"
                 "  --store FILE     keep every record fetched in the store FILE (a SQLite file)\n"
                 "                   and answer from it, whatever the backend\n"
                 "  --no-store       keep no store\n"
                 "  --refresh        ask the service whatever the cache or the store holds\n"
                 "  --offline        send no request: answer from the cache and the store,\n"
                 "                   whatever their age\n"
                 "  --stale-if-error S  when the service fails, answer with a record expired\n"
                 "                   at most S seconds ago\n"
                 "  --language-fallback LIST  fill a single lookup's empty title, plot, tagline\n"
                 "                   (and the other texts) from these languages in turn\n"
                 "                   (comma-separated, e.g. pt-PT,en-US)\n"
                 "  -v, --verbose    each request (and each answer from the cache or the\n"
                 "                   store) as one line on standard error\n"
                 "With --host or --offline, and for the cache command, the store is\n"
                 "$TQMOVIE_STORE, else $XDG_CACHE_HOME/tqmovie/store.db, else\n"
                 "~/.cache/tqmovie/store.db.\n"
                 "\n"
                 "An ID of \"-\" reads ids from standard input, one per line (blank lines and\n"
                 "lines starting with # are skipped).\n"
                 "  --help           this text; \"%s COMMAND --help\" for one command\n"
                 "  --version        print the version\n"
                 "\n"
                 "Exit status: 0 success; 4 not found: the title does not exist (any backend),\n"
                 "or a batch went through but some ids have no record; scan: 1 when some files\n"
                 "have no id or no record, or a folder could not be read;\n"
                 "10 + the library status code when an operation failed (11 transport, 12 HTTP,\n"
                 "13 parse, 14 empty, 16 argument, 17 no backend, 18 out of memory, 20 cache\n"
                 "file or store); 64 usage error; 66 fixture directory not found; 74 output\n"
                 "could not be written; 130 interrupted (Ctrl-C).\n",
                 program);
}

void print_command_help(const command_info &c) {
    std::printf("usage: %s [OPTIONS] %s\n\n%s", program, c.synopsis, c.help);
    std::printf("\nBackend and output options: --fixtures DIR | --host URL | --stub, --json | --json-lines,\n"
                "--full, --retry N, --max-wait S, --deadline S, --parallel N, --rate-limit R[/BURST],\n"
                "--cache FILE, --cache-limit N, --store FILE, --no-store, --refresh, --offline,\n"
                "--stale-if-error S, --language-fallback LIST, -v/--verbose\n");
    if (c.kind != cmd_scan) std::printf("An ID of \"-\" reads ids from standard input, one per line.\n");
}

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
            if (std::strcmp(arg, "-v") == 0) {
                o.verbose = true;
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
            } flags[] = {{"help", &o.help},           {"version", &o.version},
                         {"json", &o.json},           {"json-lines", &o.json_lines},
                         {"stub", &o.stub},           {"full", &o.full},
                         {"no-store", &o.no_store},   {"refresh", &o.refresh},
                         {"offline", &o.offline},     {"details", &o.details},
                         {"no-lookup", &o.no_lookup}, {"verbose", &o.verbose}};
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
            } values[] = {{"language", &o.language},
                          {"sections", &o.sections_text},
                          {"lang", &o.lang},
                          {"region", &o.region},
                          {"fixtures", &o.fixtures},
                          {"host", &o.host},
                          {"batch-size", &o.batch_text},
                          {"cache-limit", &o.cache_limit_text},
                          {"connect-timeout", &o.connect_timeout_text},
                          {"timeout", &o.timeout_text},
                          {"cacert", &o.cacert},
                          {"capath", &o.capath},
                          {"proxy", &o.proxy},
                          {"max-body", &o.max_body_text},
                          {"cache", &o.cache_file},
                          {"store", &o.store_file},
                          {"stale-if-error", &o.stale_text},
                          {"language-fallback", &o.fallback},
                          {"retry", &o.retry_text},
                          {"max-wait", &o.max_wait_text},
                          {"deadline", &o.deadline_text},
                          {"parallel", &o.parallel_text},
                          {"rate-limit", &o.rate_text}};
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
        if (!ids_push(o.ids, arg)) return out_of_memory();
    }
    return 0;
}

int prepare_options(options &o) {
    int st = check_options(o);
    if (!st && o.cmd->kind == cmd_cache) return check_cache_command(o);
    if (!st && o.cmd->kind == cmd_scan) return 0; // folders, the current one by default
    if (!st) st = expand_stdin_ids(o);
    if (!st && o.ids.count == 0) st = usage_error("'%s' needs at least one id", o.cmd->name);
    return st;
}

} // namespace tqtool
