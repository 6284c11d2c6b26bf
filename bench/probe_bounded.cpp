// SPDX-License-Identifier: MIT
// probe_bounded: what a hostile server costs a host. Each case is one lookup through
// one HTTP backend against the hostile server (tests/support/hostile_server.h), run in
// a child process of its own so that the child's peak resident memory is that lookup's
// alone; the table gives status, text, time and that peak. The goal is a peak of at
// most three times the body limit (TQMOVIE_HTTP_MAX_BODY) for answers the body limit
// stops; for JSON the library parses (dense arrays, long strings, deep nesting, and
// cache files loaded the same way) at most five times the text's size plus 64 MiB,
// and for the 250 MiB dense array, refused as too dense, 1,300 MiB. Not a test and not
// a Google Benchmark: run it by hand, one case at a time (cases take up to ~1.3 GiB).
//
//   build-bench/bench/probe_bounded            every case, a Markdown table
//   build-bench/bench/probe_bounded ROW HOST   (used by the above) one case, here
#include "hostile_server.h"
#include "tqmovie.h"

#include <sys/stat.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using tqtest::Hostile;

struct Case {
    Hostile mode;
    bool pooled;
    int64_t timeout_ms; // pooled options; 0 takes the default
    int64_t low_speed_bytes;
    int64_t low_speed_seconds;
    uint32_t deadline_ms; // 0: none
    const char *note;
    double goal_mib = 0;        // 0: three times the body limit; < 0: five times the text plus 64 MiB
    const char *file = nullptr; // a cache file to load instead of a lookup
};

constexpr double kParsed = -1;

const Case kCases[] = {
    {Hostile::ok, false, 0, 0, 0, 0, ""},
    {Hostile::ok, true, 0, 0, 0, 0, ""},
    {Hostile::huge_length, false, 0, 0, 0, 0, ""},
    {Hostile::huge_length, true, 0, 0, 0, 0, ""},
    {Hostile::huge_unframed, false, 0, 0, 0, 0, ""},
    {Hostile::huge_unframed, true, 0, 0, 0, 0, ""},
    {Hostile::endless_chunked, false, 0, 0, 0, 0, ""},
    {Hostile::endless_chunked, true, 0, 0, 0, 0, ""},
    {Hostile::not_found_huge, false, 0, 0, 0, 0, ""},
    {Hostile::not_found_huge, true, 0, 0, 0, 0, ""},
    {Hostile::header_flood, false, 0, 0, 0, 0, ""},
    {Hostile::header_flood, true, 0, 0, 0, 0, ""},
    {Hostile::trickle, true, 0, 10, 2, 0, "low speed 10 B/s for 2 s"},
    {Hostile::trickle, false, 0, 0, 0, 1500, "deadline 1500 ms"},
    {Hostile::silent, true, 500, 0, 0, 0, "timeout 500 ms"},
    {Hostile::silent, false, 0, 0, 0, 500, "deadline 500 ms"},
    {Hostile::dense_array, false, 0, 0, 0, 0, "refused as too dense", 1300},
    {Hostile::dense_array, true, 0, 0, 0, 0, "refused as too dense", 1300},
    {Hostile::dense_small, true, 0, 0, 0, 0, "", kParsed},
    {Hostile::long_string, true, 0, 0, 0, 0, "", kParsed},
    {Hostile::long_string, false, 0, 0, 0, 0, "", kParsed},
    {Hostile::deep_nesting, true, 0, 0, 0, 0, "", kParsed},
    {Hostile::ok, false, 0, 0, 0, 0, "cache file, 10,000 detail records", kParsed, "cache-10k.json"},
    {Hostile::ok, false, 0, 0, 0, 0, "cache file, one entry, 250 MiB string", kParsed, "cache-string.json"},
    {Hostile::ok, false, 0, 0, 0, 0, "cache file, 250 MiB dense member", 1300, "cache-dense.json"},
};
constexpr int kCaseCount = static_cast<int>(sizeof kCases / sizeof kCases[0]);

std::string g_dir = "/tmp/tqmovie-probe-" + std::to_string(getpid());

// The cache files of the file cases, written by the parent before any child runs.
bool write_files() {
    constexpr size_t MiB = size_t{1} << 20;
    if (mkdir(g_dir.c_str(), 0700) != 0) return false;
    const std::string head = "{\"format\":\"tqmovie-cache\",\"version\":1,\"entries\":[";
    const std::string entry = "{\"imdbId\":\"tt0111161\",\"basicAt\":1,\"basic\":{\"imDbId\":\"tt0111161\",\"plot\":\"";
    FILE *f = std::fopen((g_dir + "/cache-string.json").c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "%s%s%s\"}}]}", head.c_str(), entry.c_str(), std::string(250 * MiB, 'p').c_str());
    std::fclose(f);
    f = std::fopen((g_dir + "/cache-dense.json").c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "{\"junk\":%s,%s]}", tqtest::dense_body(Hostile::dense_array).c_str(), head.c_str() + 1);
    std::fclose(f);
    // 10,000 titles of the size of a sample detail record, saved the usual way.
    tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    if (tqmovie_get_detail("tt0111161", nullptr, 0) != TQMOVIE_OK) return false;
    tq_detail d;
    tq_copy_detail(&d, &g_tq.details[0], TQMOVIE_DETAIL_ALL);
    char *own = d.imdb_id;
    for (int i = 0; i < 10000; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "tt%07d", 9000000 + i);
        d.imdb_id = id;
        tq_cache_put_detail(&d);
    }
    d.imdb_id = own;
    tq_free_detail(&d);
    const bool saved = tqmovie_cache_save((g_dir + "/cache-10k.json").c_str()) == TQMOVIE_OK;
    tqmovie_shutdown();
    return saved;
}

double file_mib(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) / 1048576.0 : 0;
}

// This process's peak resident memory in KiB, as the kernel counts it for the program
// now running (VmHWM starts afresh at exec, where the child's rusage would carry the
// forking parent's peak, and the parent holds the hostile bodies).
long peak_kib() {
    FILE *f = std::fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (f && std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
    if (f) std::fclose(f);
    return kib;
}

// One lookup (or cache load) in this process; prints "status<TAB>text<TAB>ms<TAB>peak KiB".
int run_one(const Case &c, const char *host) {
    if (c.file) {
        const auto t0 = std::chrono::steady_clock::now();
        const int32_t st = tqmovie_cache_load(host); // the file's path
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%d\t%s\t%.0f\t%ld\n", st, tqmovie_last_error(), ms, peak_kib());
        tqmovie_shutdown();
        return 0;
    }
    tqmovie_http_options o;
    tqmovie_http_options_init(&o, sizeof o);
    o.timeout_ms = c.timeout_ms;
    o.low_speed_bytes = c.low_speed_bytes;
    o.low_speed_seconds = c.low_speed_seconds;
    tq_io io = c.pooled ? tolvane_io_curl_pooled(&o) : tolvane_io_curl();
    tqmovie_set_io(&io);
    tqmovie_set_host(host);
    tqmovie_set_deadline(c.deadline_ms);
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t st = tqmovie_get_basic("tt0111161", nullptr);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%d\t%s\t%.0f\t%ld\n", st, tqmovie_last_error(), ms, peak_kib());
    tqmovie_shutdown();
    if (c.pooled) tolvane_io_curl_pooled_free(&io);
    return 0;
}

// Runs case i in a fresh process (this program again) and reads its line, which carries
// the child's own peak. false when the child could not be run.
bool run_child(int i, const std::string &host, std::string &line) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const std::string row = std::to_string(i);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl("/proc/self/exe", "probe_bounded", row.c_str(), host.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buf[1024];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) line.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) return false;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3) {
        const int i = std::atoi(argv[1]);
        return i >= 0 && i < kCaseCount ? run_one(kCases[i], argv[2]) : 2;
    }
    tqtest::HostileServer srv;
    if (!write_files()) {
        std::fprintf(stderr, "probe_bounded: cannot write the cache files in %s\n", g_dir.c_str());
        return 1;
    }
    if (!srv.ok()) {
        std::fprintf(stderr, "probe_bounded: cannot listen on 127.0.0.1\n");
        return 1;
    }
    const double limit_mib = TQMOVIE_HTTP_MAX_BODY / 1048576.0;
    std::printf("body limit %.0f MiB, goal: peak RSS at most %.0f MiB\n\n", limit_mib, 3 * limit_mib);
    std::printf("| case | backend | status | text | time | peak RSS | goal |\n|---|---|---|---|---|---|---|\n");
    bool all_met = true;
    for (int i = 0; i < kCaseCount; ++i) {
        const Case &c = kCases[i];
        std::string line;
        const std::string target = c.file ? g_dir + "/" + c.file : srv.host(c.mode);
        // What the parser reads: the file, or the answer's body.
        const double size_mib = c.file ? file_mib(target)
                                       : static_cast<double>(tqtest::hostile_answer(c.mode).body_ref
                                                                 ? tqtest::hostile_answer(c.mode).body_ref->size()
                                                                 : 0) /
                                             1048576.0;
        const double goal = c.goal_mib == kParsed ? 5 * size_mib + 64 : c.goal_mib > 0 ? c.goal_mib : 3 * limit_mib;
        if (!run_child(i, target, line)) {
            std::printf("| %s | - | child failed | | | |\n", tqtest::hostile_mode(c.mode).name);
            all_met = false;
            continue;
        }
        // "status<TAB>text<TAB>ms<TAB>peak"
        const size_t t1 = line.find('\t'), t3 = line.rfind('\t'), t2 = line.rfind('\t', t3 - 1);
        const std::string status = line.substr(0, t1), text = line.substr(t1 + 1, t2 - t1 - 1),
                          ms = line.substr(t2 + 1, t3 - t2 - 1);
        const double peak_mib = static_cast<double>(std::atol(line.c_str() + t3 + 1)) / 1024.0;
        all_met = all_met && peak_mib <= goal;
        std::printf("| %s | %s%s%s | %s | %s | %s ms | %.1f MiB | %.0f MiB |\n",
                    c.file ? c.file : tqtest::hostile_mode(c.mode).name,
                    c.file     ? "cache load"
                    : c.pooled ? "pooled"
                               : "fresh",
                    c.note[0] ? ", " : "", c.note, status.c_str(), text.empty() ? "(none)" : text.c_str(), ms.c_str(),
                    peak_mib, goal);
        std::fflush(stdout);
    }
    std::printf("\n%s\n", all_met ? "every peak within the goal" : "GOAL MISSED");
    std::system(("rm -rf " + g_dir).c_str());
    return all_met ? 0 : 1;
}
