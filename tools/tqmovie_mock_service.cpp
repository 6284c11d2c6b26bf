// SPDX-License-Identifier: MIT
// tqmovie-mock-service: a local stand-in for the movie metadata service.
//
// Serves a fixture directory (the same layout the library's fixture backend reads)
// over plain HTTP on 127.0.0.1, answering the six requests the library sends. It lets
// the HTTP backend and the command-line tool be exercised end to end without the
// network. It is a test aid, not a server: it binds to the loopback address only and
// keeps no state between requests but their count.
//
// Answers:
//   GET  /api/AAA/IsMovie?imdbId=ID             true/false (rule in is_movie_answer)
//   GET  /api/AAA/GetMovieBasic?imdbId=ID&...   the basic fixture file, else 404
//   GET  /api/AAA/GetMovieDetail?imdbId=ID&...  the detail fixture file, else 404
//   POST /api/AAA/GetMovieBasics                JSON array, one record per known id
//   POST /api/AAA/GetMovieDetails               JSON array, one record per known id
//   POST /api/AAA/GetMovieTranslations          JSON array, one set per known id
// Batch bodies are comma-joined ids; records come in request order, unknown ids are
// left out. A missing or malformed id, or the wrong method on one of these paths,
// gets 400. With --synthetic every well-formed id ("tt" and 7 to 10 digits) is known
// and gets generated records instead (mock_service/synthetic.cpp); no fixture is read.
//
// On demand it misbehaves as a busy service does, so that a client's retries can be
// tried: 429 with Retry-After for the first K or every Kth request, or beyond a request
// budget (--rps), 503 without it, answers delayed, connections closed mid-body.
// Requests are numbered from 1 in the order they arrive; GET /stats tells how many
// came, how each was answered and the peaks of traffic (mock_service/traffic.cpp), and
// is neither counted nor delayed.
#include "tq_internal.h"

#include <httplib.h>
#include <yyjson.h>

#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixture_dir.h"
#include "mock_service/answers.h"
#include "mock_service/synthetic.h"
#include "mock_service/traffic.h"

namespace {

constexpr const char *program = "tqmovie-mock-service";
constexpr int exit_usage = 64;
constexpr int exit_no_input = 66;
constexpr int exit_unavailable = 69; // could not listen

using tqmock::answer_doc;
using tqmock::answer_text;
using tqmock::body_ids;
using tqmock::query_id;
using tqtool::is_directory;

// ---------------------------------------------------------------------------------
// Misbehaviour on demand, and the request count
// ---------------------------------------------------------------------------------

// What the switches ask for; 0 turns a switch off.
struct misbehaviour {
    uint64_t rate_limit_first = 0;  // 429 for requests 1..K
    uint64_t rate_limit_every = 0;  // 429 for requests K, 2K, ...
    std::string retry_after = "1";  // the 429's Retry-After; empty: none sent
    uint64_t unavailable_first = 0; // 503 without Retry-After for requests 1..K
    uint64_t unavailable_every = 0; // ... for requests K, 2K, ...
    uint64_t drop_every = 0;        // requests K, 2K, ...: the connection closes mid-body
    uint64_t delay_ms = 0;          // before every answer
};

struct counters {
    std::atomic<uint64_t> requests{0}, rate_limited{0}, unavailable{0}, dropped{0}, rps_limited{0};
};

// The request budget and what GET /stats reports of the traffic.
struct traffic {
    tqmock::request_budget budget;
    tqmock::rate_peak rate;
    tqmock::connection_counts connections;
};

bool picked(uint64_t n, uint64_t first, uint64_t every) { return n <= first || (every != 0 && n % every == 0); }

std::atomic<bool> stopping{false};

// Sleeps in short naps, so that a stop is not held up by a long --delay.
void delay(uint64_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Set by the pre-routing handler for the post-routing handler, which runs on the same
// worker thread for the same request.
thread_local bool drop_this_answer = false;

bool read_file(const std::string &path, std::string &out) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char buf[8192];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, got);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// ---------------------------------------------------------------------------------
// Fixtures
// ---------------------------------------------------------------------------------

// File names tried per id come from the library's own table, in its order of trial,
// so the service answers from the files the fixture backend would read.
namespace names = tq_fixture_names;

class fixtures {
public:
    explicit fixtures(std::string dir) : dir_(std::move(dir)) {}

    // The first readable file among the patterns for id; its name in *name.
    template <size_t N>
    bool find(const char *const (&patterns)[N], const std::string &id, std::string &body,
              std::string *name = nullptr) const {
        for (const char *pattern : patterns) {
            char file[256];
            std::snprintf(file, sizeof file, pattern, id.c_str());
            if (read_file(dir_ + "/" + file, body)) {
                if (name) *name = file;
                return true;
            }
        }
        return false;
    }

    bool read(const char *file, std::string &body) const { return read_file(dir_ + "/" + file, body); }

private:
    std::string dir_;
};

struct doc_owner {
    yyjson_doc *doc = nullptr;
    ~doc_owner() { yyjson_doc_free(doc); }
};

yyjson_doc *parse(const std::string &text) { return yyjson_read(text.data(), text.size(), 0); }

// The id a record carries, under any of the keys the service uses.
const char *record_id(yyjson_val *obj) {
    for (const char *key : {"imDbId", "IMDbId", "imdbId"}) {
        const char *s = yyjson_get_str(yyjson_obj_get(obj, key));
        if (s) return s;
    }
    return nullptr;
}

// The element of a fixture array whose id is the one asked for, or null.
yyjson_val *find_in_array(yyjson_val *root, const std::string &id) {
    if (!yyjson_is_arr(root)) return nullptr;
    size_t idx, max;
    yyjson_val *el;
    yyjson_arr_foreach(root, idx, max, el) {
        const char *rid = record_id(el);
        if (rid && id == rid) return el;
    }
    return nullptr;
}

// Probe rule: a title is a film unless its fixtures mark it as a TV show. The first
// detail or basic fixture holding a boolean "isTVShow" decides; a title with fixtures
// but no such flag counts as a film; a title without any fixture is not a film.
bool is_movie_answer(const fixtures &fx, const std::string &id) {
    bool known = false;
    std::string body;
    for (int kind = 0; kind < 2; ++kind) {
        bool found = kind == 0 ? fx.find(names::detail, id, body) : fx.find(names::basic, id, body);
        if (!found) continue;
        known = true;
        doc_owner d{parse(body)};
        yyjson_val *root = yyjson_doc_get_root(d.doc);
        if (yyjson_is_arr(root)) root = yyjson_arr_get_first(root);
        yyjson_val *flag = yyjson_obj_get(root, "isTVShow");
        if (yyjson_is_bool(flag)) return !yyjson_get_bool(flag);
    }
    return known;
}

// ---------------------------------------------------------------------------------
// Responses
// ---------------------------------------------------------------------------------

// Builds the JSON array answer of a batch. pick(id, doc_out) yields the value for
// one id (its document kept alive in doc_out) or null when the id is unknown.
template <typename Pick> void answer_array(httplib::Response &res, const std::vector<std::string> &ids, Pick pick) {
    yyjson_mut_doc *out = yyjson_mut_doc_new(nullptr);
    if (!out) {
        answer_text(res, 500, "out of memory");
        return;
    }
    yyjson_mut_val *arr = yyjson_mut_arr(out);
    yyjson_mut_doc_set_root(out, arr);
    std::string failure;
    for (const std::string &id : ids) {
        doc_owner holder;
        yyjson_val *val = nullptr;
        if (!pick(id, holder, val, failure)) break;
        if (val) yyjson_mut_arr_append(arr, yyjson_val_mut_copy(out, val));
    }
    if (!failure.empty()) {
        yyjson_mut_doc_free(out);
        answer_text(res, 500, failure);
        return;
    }
    answer_doc(res, out, true);
}

// Parses a fixture file into holder; records a 500 text when it is not JSON.
bool parse_fixture(const std::string &name, const std::string &body, doc_owner &holder, std::string &failure) {
    holder.doc = parse(body);
    if (!holder.doc) failure = "fixture " + name + " is not valid JSON";
    return holder.doc != nullptr;
}

// Counts each request and decides, before any route, whether it is answered as asked
// or misbehaves; a dropped answer is cut in the post-routing handler, once it is built.
// The budget is asked first and refuses at once, as a service's front door would.
void install_misbehaviour(httplib::Server &svr, const misbehaviour &m, counters &c, traffic &t) {
    svr.set_pre_routing_handler([&m, &c, &t](const httplib::Request &req, httplib::Response &res) {
        drop_this_answer = false;
        if (req.path == "/stats") return httplib::Server::HandlerResponse::Unhandled;
        const uint64_t n = ++c.requests;
        t.rate.arrived();
        if (t.budget.enabled() && !t.budget.take()) {
            ++c.rps_limited;
            res.set_header("Retry-After", "1");
            answer_text(res, 429, "over the request budget");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (m.delay_ms) delay(m.delay_ms);
        if (picked(n, m.rate_limit_first, m.rate_limit_every)) {
            ++c.rate_limited;
            if (!m.retry_after.empty()) res.set_header("Retry-After", m.retry_after);
            answer_text(res, 429, "rate limited");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (picked(n, m.unavailable_first, m.unavailable_every)) {
            ++c.unavailable;
            answer_text(res, 503, "unavailable");
            return httplib::Server::HandlerResponse::Handled;
        }
        drop_this_answer = m.drop_every != 0 && n % m.drop_every == 0;
        return httplib::Server::HandlerResponse::Unhandled;
    });
    svr.set_post_routing_handler([&c](const httplib::Request &, httplib::Response &res) {
        if (!drop_this_answer) return;
        drop_this_answer = false;
        ++c.dropped;
        // The head promises the whole body; half of it goes out, then the provider
        // fails and the server closes the connection.
        auto body = std::make_shared<std::string>(std::move(res.body));
        res.body.clear();
        const std::string type = res.get_header_value("Content-Type");
        res.headers.erase("Content-Type");
        res.set_content_provider(body->size(), type, [body](size_t, size_t, httplib::DataSink &sink) {
            sink.write(body->data(), body->size() / 2);
            return false;
        });
    });
    svr.Get("/stats", [&c, &t](const httplib::Request &, httplib::Response &res) {
        using ull = unsigned long long;
        char text[320];
        std::snprintf(text, sizeof text,
                      "{\"requests\":%llu,\"rateLimited\":%llu,\"unavailable\":%llu,\"dropped\":%llu,"
                      "\"rpsLimited\":%llu,\"peakRequestsPerSecond\":%llu,\"connections\":%llu,"
                      "\"peakConnections\":%llu}",
                      ull(c.requests.load()), ull(c.rate_limited.load()), ull(c.unavailable.load()),
                      ull(c.dropped.load()), ull(c.rps_limited.load()), ull(t.rate.peak()),
                      ull(t.connections.accepted.load()), ull(t.connections.peak.load()));
        res.status = 200;
        res.set_content(text, "application/json");
    });
}

void install_routes(httplib::Server &svr, const fixtures &fx) {
    const fixtures *f = &fx;

    svr.Get("/api/AAA/IsMovie", [f](const httplib::Request &req, httplib::Response &res) {
        std::string id;
        if (!query_id(req, res, id)) return;
        res.status = 200;
        res.set_content(is_movie_answer(*f, id) ? "true" : "false", "application/json");
    });

    auto single = [f](const auto &patterns, const char *what) {
        return [f, &patterns, what](const httplib::Request &req, httplib::Response &res) {
            std::string id, body;
            if (!query_id(req, res, id)) return;
            if (!f->find(patterns, id, body)) {
                answer_text(res, 404, std::string("no ") + what + " record for " + id);
                return;
            }
            // The file as it is: a broken fixture reaches the client as the service
            // would have sent it.
            res.status = 200;
            res.set_content(body, "application/json");
        };
    };
    svr.Get("/api/AAA/GetMovieBasic", single(names::basic, "basic"));
    svr.Get("/api/AAA/GetMovieDetail", single(names::detail, "detail"));

    svr.Post("/api/AAA/GetMovieBasics", [f](const httplib::Request &req, httplib::Response &res) {
        std::vector<std::string> ids;
        if (!body_ids(req, res, ids)) return;
        // The batch files are read once per request, not once per id.
        std::string batch_body, batch_name;
        doc_owner batch;
        for (const char *name : names::basics_batch) {
            if (f->read(name, batch_body)) {
                batch_name = name;
                break;
            }
        }
        if (!batch_name.empty() && !(batch.doc = parse(batch_body))) {
            answer_text(res, 500, "fixture " + batch_name + " is not valid JSON");
            return;
        }
        answer_array(res, ids, [&](const std::string &id, doc_owner &holder, yyjson_val *&val, std::string &failure) {
            std::string body, name;
            if (f->find(names::basic, id, body, &name)) {
                if (!parse_fixture(name, body, holder, failure)) return false;
                val = yyjson_doc_get_root(holder.doc);
                return true;
            }
            val = find_in_array(yyjson_doc_get_root(batch.doc), id);
            return true;
        });
    });

    svr.Post("/api/AAA/GetMovieDetails", [f](const httplib::Request &req, httplib::Response &res) {
        std::vector<std::string> ids;
        if (!body_ids(req, res, ids)) return;
        answer_array(res, ids, [&](const std::string &id, doc_owner &holder, yyjson_val *&val, std::string &failure) {
            std::string body, name;
            if (!f->find(names::detail, id, body, &name)) return true;
            if (!parse_fixture(name, body, holder, failure)) return false;
            val = yyjson_doc_get_root(holder.doc);
            return true;
        });
    });

    svr.Post("/api/AAA/GetMovieTranslations", [f](const httplib::Request &req, httplib::Response &res) {
        std::vector<std::string> ids;
        if (!body_ids(req, res, ids)) return;
        std::string body;
        doc_owner all;
        if (f->read(names::translations, body) && !(all.doc = parse(body))) {
            answer_text(res, 500, std::string("fixture ") + names::translations + " is not valid JSON");
            return;
        }
        answer_array(res, ids, [&](const std::string &id, doc_owner &, yyjson_val *&val, std::string &) {
            val = find_in_array(yyjson_doc_get_root(all.doc), id);
            return true;
        });
    });
}

void install_wrong_methods(httplib::Server &svr) {
    // The wrong method on a known path is a malformed request, not a missing page.
    struct route {
        const char *path;
        const char *method;
    } routes[] = {{"/api/AAA/IsMovie", "GET"},          {"/api/AAA/GetMovieBasic", "GET"},
                  {"/api/AAA/GetMovieDetail", "GET"},   {"/api/AAA/GetMovieBasics", "POST"},
                  {"/api/AAA/GetMovieDetails", "POST"}, {"/api/AAA/GetMovieTranslations", "POST"}};
    for (const route &r : routes) {
        std::string text = std::string("use ") + r.method + " for " + r.path;
        auto wrong = [text](const httplib::Request &, httplib::Response &res) { answer_text(res, 400, text); };
        if (std::strcmp(r.method, "GET") == 0)
            svr.Post(r.path, wrong);
        else
            svr.Get(r.path, wrong);
        svr.Put(r.path, wrong);
        svr.Patch(r.path, wrong);
        svr.Delete(r.path, wrong);
    }
}

// ---------------------------------------------------------------------------------
// Main
// ---------------------------------------------------------------------------------

void usage(FILE *out) {
    std::fprintf(out,
                 "usage: %s [--port N] [--fixtures DIR | --synthetic] [--threads N]\n"
                 "       [--verbose] [MISBEHAVIOUR...]\n"
                 "\n"
                 "Serves the fixture files in DIR (default: the bundled sample fixtures) as the\n"
                 "movie metadata service on http://127.0.0.1:N. Port 0 (the default) picks a free\n"
                 "port. Prints \"listening on http://127.0.0.1:PORT\" once ready; stops cleanly on\n"
                 "SIGINT or SIGTERM. GET /stats counts the requests, how they were answered, the\n"
                 "connections and the peaks of both.\n"
                 "  --port N        TCP port on 127.0.0.1 (0-65535, default 0)\n"
                 "  --fixtures DIR  fixture directory\n"
                 "  --synthetic     answer every well-formed id (\"tt\" and 7 to 10 digits) with\n"
                 "                  generated records; no fixture is read. The probe says true\n"
                 "                  for an even last digit; a de-DE plot is \"\", any other\n"
                 "                  language's \"Plot of ID in LANGUAGE\"\n"
                 "  --threads N     connections served at once (1-4096, default 64); more wait\n"
                 "                  for a free worker\n"
                 "  --verbose       log every request on standard error\n"
                 "  --help, --version\n"
                 "\n"
                 "Misbehaviour (requests are numbered from 1; K of 0 switches one off):\n"
                 "  --rate-limit-first K   answer 429 to the first K requests\n"
                 "  --rate-limit-every K   answer 429 to every Kth request\n"
                 "  --retry-after VALUE    the 429's Retry-After: seconds or an HTTP date\n"
                 "                         (default 1; empty: no header)\n"
                 "  --unavailable-first K  answer 503 without Retry-After to the first K requests\n"
                 "  --unavailable-every K  ... to every Kth request\n"
                 "  --delay MS             hold every answer back MS milliseconds\n"
                 "  --drop-every K         close the connection mid-body on every Kth request\n"
                 "  --rps R[/BURST]        a request budget of R a second (fractions allowed) and\n"
                 "                         BURST at once (default 1): beyond it 429 with\n"
                 "                         Retry-After: 1, at once\n",
                 program);
}

int usage_error(const char *what, const char *arg) {
    std::fprintf(stderr, "%s: %s%s%s\n", program, what, arg ? ": " : "", arg ? arg : "");
    usage(stderr);
    return exit_usage;
}

// A whole number from 0 to max; false for anything else.
bool parse_number(const std::string &text, uint64_t max, uint64_t *out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v > max) return false;
    *out = v;
    return true;
}

// --rps: "R" or "R/BURST", R a positive rate a second written with digits and a point.
bool parse_budget(const std::string &text, double *rate, uint64_t *burst) {
    const size_t slash = text.find('/');
    const std::string r = text.substr(0, slash);
    if (r.empty() || r.find_first_not_of("0123456789.") != std::string::npos) return false;
    char *end = nullptr;
    *rate = std::strtod(r.c_str(), &end);
    if (*end != '\0' || !(*rate > 0) || *rate > 1e6) return false;
    *burst = 1;
    if (slash == std::string::npos) return true;
    return parse_number(text.substr(slash + 1), 1000000, burst) && *burst > 0;
}

// A header value must not end the header early.
bool header_safe(const std::string &text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

int run(int argc, char **argv) {
    long port = 0;
    std::string dir;
    bool verbose = false, synthetic = false;
    uint64_t threads = 64; // well above httplib's own default: parallel clients must not starve
    double rps = 0;
    uint64_t burst = 1;
    misbehaviour m;
    const struct {
        const char *name;
        uint64_t *target;
        uint64_t max;
    } counts[] = {{"--rate-limit-first", &m.rate_limit_first, UINT64_MAX},
                  {"--rate-limit-every", &m.rate_limit_every, UINT64_MAX},
                  {"--unavailable-first", &m.unavailable_first, UINT64_MAX},
                  {"--unavailable-every", &m.unavailable_every, UINT64_MAX},
                  {"--drop-every", &m.drop_every, UINT64_MAX},
                  {"--delay", &m.delay_ms, 3600000}};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string value;
        bool has_value = false;
        size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            has_value = true;
        }
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("%s %s\n", program, TQMOVIE_VERSION_STRING);
            return 0;
        }
        if (a == "--verbose") {
            verbose = true;
            continue;
        }
        if (a == "--synthetic") {
            synthetic = true;
            continue;
        }
        bool takes_value =
            a == "--port" || a == "--fixtures" || a == "--retry-after" || a == "--rps" || a == "--threads";
        for (const auto &c : counts) takes_value = takes_value || a == c.name;
        if (takes_value && !has_value) {
            if (i + 1 >= argc) return usage_error("option needs a value", a.c_str());
            value = argv[++i];
        }
        if (a == "--retry-after") {
            if (!header_safe(value)) return usage_error("--retry-after holds a control character", nullptr);
            m.retry_after = value;
            continue;
        }
        if (a == "--rps") {
            if (!parse_budget(value, &rps, &burst))
                return usage_error("--rps needs R[/BURST]: R above 0 a second, BURST 1 or more", value.c_str());
            continue;
        }
        if (a == "--threads") {
            if (!parse_number(value, 4096, &threads) || threads == 0)
                return usage_error("--threads needs a number from 1 to 4096", value.c_str());
            continue;
        }
        bool counted = false;
        for (const auto &c : counts) {
            if (a != c.name) continue;
            if (!parse_number(value, c.max, c.target))
                return usage_error(c.max == UINT64_MAX ? "option needs a whole number"
                                                       : "--delay needs 0 to 3600000 ms",
                                   (a + " " + value).c_str());
            counted = true;
        }
        if (counted) continue;
        if (a == "--port" || a == "--fixtures") {
            if (a == "--fixtures") {
                dir = value;
                continue;
            }
            char *end = nullptr;
            errno = 0;
            port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || port < 0 || port > 65535)
                return usage_error("--port needs a number from 0 to 65535", value.c_str());
            continue;
        }
        return usage_error("unknown argument", argv[i]);
    }
    if (dir.empty()) {
        const char *found = tqtool::default_fixture_dir();
        if (found) dir = found;
    }
    if (!synthetic && !is_directory(dir.c_str())) {
        std::fprintf(stderr, "%s: fixture directory not found: %s\n", program,
                     dir.empty() ? "(no bundled fixtures; pass --fixtures DIR)" : dir.c_str());
        return exit_no_input;
    }

    // Signals go to one waiting thread, which stops the server from outside any
    // handler; every other thread (the server's workers included) keeps them blocked.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    fixtures fx(dir);
    httplib::Server svr;
    svr.set_payload_max_length(1u << 20);
    // Head and body go out in two writes; without this a kept connection would wait
    // for the client's delayed acknowledgement (tens of milliseconds) on every answer.
    svr.set_tcp_nodelay(true);
    if (verbose)
        svr.set_logger([](const httplib::Request &req, const httplib::Response &res) {
            std::fprintf(stderr, "%s %s -> %d\n", req.method.c_str(), req.target.c_str(), res.status);
        });
    counters count;
    traffic t;
    if (rps > 0) t.budget.set(rps, burst);
    svr.new_task_queue = [&t, threads] { return new tqmock::counting_pool(threads, t.connections); };
    install_misbehaviour(svr, m, count, t);
    if (synthetic)
        tqmock::install_synthetic_routes(svr);
    else
        install_routes(svr, fx);
    install_wrong_methods(svr);

    // The listening socket is remembered so that its queue of pending connections can
    // be made as long as the system allows: the server library's own is 5, and a burst
    // of a hundred connects would see most of them dropped and tried again a second later.
    int listener = -1;
    svr.set_socket_options([&listener](socket_t sock) {
        httplib::default_socket_options(sock);
        listener = sock;
    });
    int bound = port == 0 ? svr.bind_to_any_port("127.0.0.1")
                          : (svr.bind_to_port("127.0.0.1", static_cast<int>(port)) ? static_cast<int>(port) : -1);
    if (bound <= 0) {
        std::fprintf(stderr, "%s: cannot listen on 127.0.0.1:%ld\n", program, port);
        return exit_unavailable;
    }
    if (listener >= 0) ::listen(listener, SOMAXCONN);

    std::atomic<bool> listen_done{false};
    std::thread waiter([&svr, &stop_signals, &listen_done] {
        int sig = 0;
        sigwait(&stop_signals, &sig);
        // A signal that arrives before the server loop runs must not be lost: stop()
        // only acts on a running server.
        while (!svr.is_running() && !listen_done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stopping.store(true);
        svr.stop();
    });

    std::printf("listening on http://127.0.0.1:%d\n", bound);
    std::fflush(stdout);
    bool ok = svr.listen_after_bind();

    // listen_after_bind also returns when the socket fails; wake the waiter then.
    listen_done.store(true);
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return ok ? 0 : exit_unavailable;
}

} // namespace

int main(int argc, char **argv) { return run(argc, argv); }
