// SPDX-License-Identifier: MIT
// The stand-in service as the tests run it: a separate process on an ephemeral
// loopback port, with whatever misbehaviour switches a test asks for, and its request
// count read from GET /stats.
#ifndef TQ_TOOLS_TESTS_MOCK_SERVICE_H
#define TQ_TOOLS_TESTS_MOCK_SERVICE_H

#include <httplib.h>
#include <yyjson.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace tqtest {

const std::string service = TQ_SERVICE_PATH;

struct service_process {
    pid_t pid = -1;
    int port = 0;
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port); }
};

// Starts the service on an ephemeral port and reads the port from its first line.
inline service_process start_service(const std::string &fixtures, const std::vector<std::string> &extra = {}) {
    service_process s;
    int out[2];
    if (pipe(out)) return s;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addclose(&fa, out[1]);
    std::vector<std::string> args = {service, "--port", "0", "--fixtures", fixtures};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&s.pid, service.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    if (rc != 0) {
        s.pid = -1;
        close(out[0]);
        return s;
    }
    std::string line;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0 && read(out[0], &c, 1) == 1) line += c;
    close(out[0]);
    const std::string prefix = "listening on http://127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) s.port = std::atoi(line.c_str() + prefix.size());
    return s;
}

inline int stop_service(service_process &s, int sig) {
    if (s.pid <= 0) return -1;
    kill(s.pid, sig);
    int status = 0;
    waitpid(s.pid, &status, 0);
    s.pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Stops the service when the test ends, however it ends.
struct scoped_service : service_process {
    explicit scoped_service(const std::string &fixtures, const std::vector<std::string> &extra = {})
        : service_process(start_service(fixtures, extra)) {}
    ~scoped_service() { stop_service(*this, SIGTERM); }
    scoped_service(const scoped_service &) = delete;
    scoped_service &operator=(const scoped_service &) = delete;
};

// One member of the service's GET /stats ("requests", "rateLimited", "unavailable",
// "dropped"); -1 when it cannot be read.
inline long stat(const service_process &s, const char *name = "requests") {
    httplib::Client c("127.0.0.1", s.port);
    httplib::Result r = c.Get("/stats");
    if (!r || r->status != 200) return -1;
    yyjson_doc *d = yyjson_read(r->body.data(), r->body.size(), 0);
    yyjson_val *v = yyjson_obj_get(yyjson_doc_get_root(d), name);
    long n = yyjson_is_uint(v) ? static_cast<long>(yyjson_get_uint(v)) : -1;
    yyjson_doc_free(d);
    return n;
}

} // namespace tqtest

#endif
