// SPDX-License-Identifier: MIT
// probe_bounded: what a hostile server costs a host. Each case is one lookup through
// one HTTP backend against the hostile server (tests/support/hostile_server.h), run in
// a child process of its own so that the child's peak resident memory is that lookup's
// alone; the table gives status, text, time and that peak. The goal is a peak of at
// most three times the body limit (TQMOVIE_HTTP_MAX_BODY). Not a test and not a
// Google Benchmark: run it by hand, one case at a time (cases take up to ~300 MiB).
//
//   build-bench/bench/probe_bounded            every case, a Markdown table
//   build-bench/bench/probe_bounded ROW HOST   (used by the above) one case, here
#include "hostile_server.h"
#include "tqmovie.h"

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
};

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
};
constexpr int kCaseCount = static_cast<int>(sizeof kCases / sizeof kCases[0]);

// One lookup in this process; prints "status<TAB>text<TAB>ms".
int run_one(const Case &c, const char *host) {
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
    std::printf("%d\t%s\t%.0f\n", st, tqmovie_last_error(), ms);
    tqmovie_shutdown();
    if (c.pooled) tolvane_io_curl_pooled_free(&io);
    return 0;
}

// Runs case i in a fresh process (this program again) and reads its line and its peak
// resident memory. false when the child could not be run.
bool run_child(int i, const std::string &host, std::string &line, long &peak_kib) {
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
    rusage ru{};
    if (wait4(pid, &wstatus, 0, &ru) != pid || !WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0) return false;
    peak_kib = ru.ru_maxrss;
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
    if (!srv.ok()) {
        std::fprintf(stderr, "probe_bounded: cannot listen on 127.0.0.1\n");
        return 1;
    }
    const double limit_mib = TQMOVIE_HTTP_MAX_BODY / 1048576.0;
    std::printf("body limit %.0f MiB, goal: peak RSS at most %.0f MiB\n\n", limit_mib, 3 * limit_mib);
    std::printf("| case | backend | status | text | time | peak RSS |\n|---|---|---|---|---|---|\n");
    bool all_met = true;
    for (int i = 0; i < kCaseCount; ++i) {
        const Case &c = kCases[i];
        std::string line;
        long peak_kib = 0;
        if (!run_child(i, srv.host(c.mode), line, peak_kib)) {
            std::printf("| %s | - | child failed | | | |\n", tqtest::hostile_mode(c.mode).name);
            all_met = false;
            continue;
        }
        // "status<TAB>text<TAB>ms"
        const size_t t1 = line.find('\t'), t2 = line.rfind('\t');
        const std::string status = line.substr(0, t1), text = line.substr(t1 + 1, t2 - t1 - 1),
                          ms = line.substr(t2 + 1);
        const double peak_mib = static_cast<double>(peak_kib) / 1024.0;
        all_met = all_met && peak_mib <= 3 * limit_mib;
        std::printf("| %s | %s%s%s | %s | %s | %s ms | %.1f MiB |\n", tqtest::hostile_mode(c.mode).name,
                    c.pooled ? "pooled" : "fresh", c.note[0] ? ", " : "", c.note, status.c_str(),
                    text.empty() ? "(none)" : text.c_str(), ms.c_str(), peak_mib);
        std::fflush(stdout);
    }
    std::printf("\n%s\n", all_met ? "every peak within the goal" : "GOAL MISSED");
    return all_met ? 0 : 1;
}
