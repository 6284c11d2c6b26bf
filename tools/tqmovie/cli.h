// SPDX-License-Identifier: MIT
// The tqmovie tool's own declarations, shared by its parts: the entry and the
// commands (main.cpp), the options and the ids (options.cpp), the readable summary
// (text_output.cpp), the JSON output (json_output.cpp), the store and the cache
// command (cache_command.cpp), the scan command (scan_command.cpp, scan_walk.cpp).
#ifndef TQ_TOOLS_CLI_H
#define TQ_TOOLS_CLI_H

#include "tqmovie.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tqtool {

inline constexpr const char *program = "tqmovie";

constexpr int exit_unmatched = 1;     // scan: some files have no id (or no record)
constexpr int exit_not_found = 4;     // no such title, or a batch's ids without a record
constexpr int exit_status_base = 10;  // exit = 10 + TQMOVIE_ERR_*
constexpr int exit_usage = 64;        // EX_USAGE
constexpr int exit_no_input = 66;     // EX_NOINPUT
constexpr int exit_software = 70;     // EX_SOFTWARE: a status code this tool does not know
constexpr int exit_io = 74;           // EX_IOERR
constexpr int exit_interrupted = 130; // Ctrl-C: 128 + SIGINT, as a shell reports it

// Longest fixture directory the fixture backend keeps without cutting it (512-byte buffer).
constexpr size_t fixture_dir_max = 511;

enum command_kind {
    cmd_is_movie,
    cmd_basic,
    cmd_detail,
    cmd_basics,
    cmd_details,
    cmd_translations,
    cmd_cache,
    cmd_scan
};

// What the cache command does with the --cache file or the store.
enum class cache_action { list, count, clear, vacuum, import, export_ };

// Which store the run keeps: none, the one --store names, or the default one.
enum class store_use { none, given, default_path };

// The records a command leaves in the library's store.
enum class record_kind { basic, detail, trans };

struct command_info {
    const char *name;
    command_kind kind;
    unsigned options; // the command-specific options it takes (options.cpp)
    const char *synopsis;
    const char *help;
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
    bool json = false;       // JSON output, --json or --json-lines
    bool json_lines = false; // one object per line instead of one document
    bool full = false;       // --full: the library's complete export
    bool stub = false;
    bool details = false;   // scan --details: detail records in place of basic ones
    bool no_lookup = false; // scan --no-lookup: the ids of the files, no request
    int progress = -1;      // -1 automatic, 0 off, 1 on
    const char *language = nullptr;
    const char *sections_text = nullptr;
    const char *lang = nullptr;
    const char *region = nullptr;
    const char *fixtures = nullptr;
    const char *host = nullptr;
    char host_lower[1024] = {}; // --host with its scheme in lower case
    const char *batch_text = nullptr;
    const char *cache_limit_text = nullptr;
    const char *cache_file = nullptr; // --cache FILE
    const char *store_file = nullptr; // --store FILE
    bool no_store = false;
    bool refresh = false;
    bool offline = false;
    const char *stale_text = nullptr; // --stale-if-error SECONDS
    const char *fallback = nullptr;   // --language-fallback LIST
    bool verbose = false;             // -v, --verbose: each request on standard error
    int64_t stale_seconds = 0;
    store_use store = store_use::none; // prepare_options decides
    const char *retry_text = nullptr;
    const char *max_wait_text = nullptr;
    const char *deadline_text = nullptr;
    const char *parallel_text = nullptr;
    const char *rate_text = nullptr;
    // The HTTP transport's settings, for --host only (prepare_options fills http).
    const char *connect_timeout_text = nullptr;
    const char *timeout_text = nullptr;
    const char *cacert = nullptr;
    const char *capath = nullptr;
    const char *proxy = nullptr;
    const char *max_body_text = nullptr;
    tqmovie_http_options http{};
    uint32_t sections = TQMOVIE_DETAIL_ALL;
    uint64_t batch_size = 0;
    uint64_t cache_limit = 0;
    uint32_t retries = 0;
    uint32_t max_wait_ms = 60000; // the longest retry wait, with --retry
    uint32_t deadline_ms = 0;     // 0: none
    uint32_t parallel = 0;        // --parallel: batch chunks at once; 0: the library's default
    double rate = 0;              // --rate-limit: requests a second; 0: no budget
    uint32_t rate_burst = 1;
    cache_action cache_do = cache_action::list;
    const char *cache_arg = nullptr; // the FILE of cache import and export
    bool ids_from_stdin = false;
    size_t stdin_at = 0; // ids from standard input go where the '-' stood
    id_list ids;
};

// options.cpp. Both return 0, or the exit status of an error they have reported.
int parse_args(int argc, char **argv, options &o);
// Checks the options against the command, reads the ids from standard input when
// '-' was given and requires at least one id.
int prepare_options(options &o);
void ids_free(id_list &l);
void print_general_usage(FILE *out);
void print_command_help(const command_info &c);

// text_output.cpp
void text_is_movie(const char *id, bool is_movie);
void text_record(record_kind r, int32_t i);
// A service text for the terminal: control bytes shown as '?'.
void put_clean(const char *s);
// Columns a text takes on a terminal.
size_t display_width(const char *s);

// json_output.cpp. Standard output holds one JSON document, an array with one element
// per record (or probe answer), opened by json_begin and closed by json_end; with
// lines (--json-lines) it holds one object per line instead. json_record returns
// TQMOVIE_OK, or TQMOVIE_ERR_NOMEM when the library could not build its export text.
// With full, records are the library's complete export (--full).
void json_begin(bool lines, bool full);
void json_end();
void json_is_movie(const char *id, bool is_movie);
int32_t json_record(record_kind r, int32_t i);
// An element of the tool's own: written between these two, with json_str for texts.
void json_element_start();
void json_element_end();
// A JSON string literal (or null for NULL), every control byte escaped.
void json_str(FILE *out, const char *s);
// A file name as a JSON string: as json_str, and bytes that are not UTF-8 as U+FFFD,
// so that the document stays valid whatever the name.
void json_name(FILE *out, const char *s);
// A JSON text the library exported, with the C1 controls in its strings escaped.
void json_put_export(const char *text);

// Errors as JSON on standard error (--json, --json-lines): one object per error,
// {"error":KIND,"message":TEXT, the members that apply, "exit":STATUS}.
extern bool json_errors;
struct error_report {
    const char *error;   // kind: "lookup failed", "not found", "interrupted", "usage", ...
    const char *message; // the text the plain report would show
    int exit_status;
    const char *command = nullptr;
    const char *id = nullptr;         // the id a single-title lookup failed on
    const char *const *ids = nullptr; // the ids not found
    size_t id_count = 0;
    int32_t status = -1; // the library's status code, -1 none
    const char *status_name = nullptr;
    int32_t http_status = 0; // 0: the backend reported none
};
void json_error(const error_report &e);

// main.cpp: "tqmovie: WHAT ID: STATUS_NAME (n): text" on standard error, or its JSON
// object of the given kind; returns the exit status for st.
int report_failure(const char *kind, const char *what, const char *id, int32_t st);
// main.cpp: "tqmovie: TEXT" on standard error, or the JSON object of an error of this
// kind; returns exit_status.
int report_error(const char *kind, int exit_status, const char *fmt, ...) TQMOVIE_PRINTF(3, 4);

struct store_handle;
// main.cpp: the frame of every lookup command (scan's included). begin_lookups
// installs the backend, opens the store and loads the --cache file (0, or the exit
// status of the error reported); end_lookups saves the --cache file and returns st,
// or the save's failure when st is 0.
int begin_lookups(const options &o, store_handle &store);
int end_lookups(const options &o, int st);
// main.cpp: Ctrl-C cancels the running lookup and sets a flag the commands read.
void catch_interrupt();
bool was_interrupted();
int report_interrupted(const char *what);
// main.cpp: "tqmovie: waiting 1.0 s: HTTP 429 (retry 1 of 3)".
void report_retry_wait(const tqmovie_progress &event, uint32_t waits, uint32_t retries);

// scan_command.cpp: the scan command; returns the exit status.
int run_scan(const options &o);

// cache_command.cpp: the store of the run, open and set on the client while it lives.
struct store_handle {
    tqmovie_store *store = nullptr;
    store_handle() = default;
    store_handle(const store_handle &) = delete;
    store_handle &operator=(const store_handle &) = delete;
    ~store_handle();
};
// Opens the store o.store names (creating the default one's folders) and sets it on the
// current client; nothing without one. Returns 0 or the exit status of the error reported.
int open_store(const options &o, store_handle &h);

// cache_command.cpp: the cache command on the --cache file or the store; returns the
// exit status.
int run_cache_command(const options &o);

} // namespace tqtool

#endif
