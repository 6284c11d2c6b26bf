// SPDX-License-Identifier: MIT
// The command-line tool and the stand-in service, run as the user runs them: as
// separate processes, with their exit status, standard output and standard error.
#include "tqmovie.h"

#include <gtest/gtest.h>
#include <yyjson.h>
#ifdef TQ_HAVE_HTTPLIB
#  include "mock_service.h"
#endif

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const std::string tool = TQ_TOOL_PATH;

struct run_result {
    int exit = -1;
    std::string out;
    std::string err;
};

bool contains(const std::string &hay, const std::string &needle) { return hay.find(needle) != std::string::npos; }

// Nothing a test starts may read or write the user's folders, nor follow the user's
// TQMOVIE_* settings: the processes inherit this environment, where HOME and
// XDG_CACHE_HOME lie in a temporary folder made for the running test alone (so that
// one test's store never answers another's lookups) and no TQMOVIE_* is set.
class Sandbox : public ::testing::Environment {
public:
    void SetUp() override {
        char tmpl[] = "/tmp/tq_cli_home_XXXXXX";
        root_ = mkdtemp(tmpl) ? tmpl : "/nonexistent";
        enter("suite"); // for the stand-ins a suite starts before its first test
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    // The running test's home, made (and the environment set) on its first use.
    static std::string test_home() {
        const ::testing::TestInfo *t = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = t ? std::string(t->test_suite_name()) + "." + t->name() : "suite";
        if (name != test_) enter(name);
        return home_;
    }

private:
    static void enter(const std::string &name) {
        test_ = name;
        home_ = root_ + "/" + std::to_string(++count_);
        std::filesystem::create_directory(home_);
        std::vector<std::string> ours;
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, "TQMOVIE_", 8) == 0) ours.emplace_back(*e, std::strcspn(*e, "="));
        for (const std::string &v : ours) unsetenv(v.c_str());
        setenv("HOME", home_.c_str(), 1);
        setenv("XDG_CACHE_HOME", (home_ + "/cache").c_str(), 1);
    }
    static inline std::string root_, home_, test_;
    static inline int count_ = 0;
};
[[maybe_unused]] const auto *const sandbox = ::testing::AddGlobalTestEnvironment(new Sandbox);

// Runs argv[0] with the arguments, feeding input on standard input; collects both
// output streams without letting either pipe fill up.
run_result run(const std::string &exe, const std::vector<std::string> &args, const std::string &input = "") {
    run_result r;
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&fa, fd);
    std::vector<char *> argv{const_cast<char *>(exe.c_str())};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    Sandbox::test_home();
    pid_t pid;
    int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return r;
    }
    size_t written = 0;
    int in_fd = in[1];
    if (input.empty()) {
        close(in_fd);
        in_fd = -1;
    } else {
        fcntl(in_fd, F_SETFL, O_NONBLOCK);
    }
    std::string *sinks[] = {&r.out, &r.err};
    int fds[] = {out[0], err[0]};
    int open_outputs = 2;
    while (open_outputs > 0) {
        pollfd p[3] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}, {in_fd, POLLOUT, 0}};
        if (poll(p, 3, 30000) <= 0) break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k] < 0 || !(p[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            ssize_t n = read(fds[k], buf, sizeof buf);
            if (n > 0) {
                sinks[k]->append(buf, static_cast<size_t>(n));
            } else {
                close(fds[k]);
                fds[k] = -1;
                --open_outputs;
            }
        }
        if (in_fd >= 0 && (p[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(in_fd, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if (n < 0 || written == input.size()) {
                close(in_fd);
                in_fd = -1;
            }
        }
    }
    for (int fd : {fds[0], fds[1], in_fd})
        if (fd >= 0) close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

run_result cli(const std::vector<std::string> &args, const std::string &input = "") { return run(tool, args, input); }

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> v;
    size_t start = 0, nl;
    while ((nl = text.find('\n', start)) != std::string::npos) {
        v.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return v;
}

// What the library itself exports for the stored records after op ran over the
// sample fixtures: the reference for the tool's --json output.
template <typename Op> std::string library_json(Op op, bool detail) {
    tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
    tqmovie_set_io(&io);
    std::string all;
    if (op() == TQMOVIE_OK) {
        int32_t n = detail ? tqmovie_detail_count() : tqmovie_basic_count();
        for (int32_t i = 0; i < n; ++i) {
            char *s = detail ? tqmovie_detail_to_json(i) : tqmovie_basic_to_json(i);
            all += s ? s : "(null)";
            all += '\n';
            std::free(s);
        }
    }
    tqmovie_shutdown();
    return all;
}

// A fixture directory of the test's own, for answers the sample set does not hold.
class TempFixtures {
public:
    TempFixtures() {
        char tmpl[] = "/tmp/tq_cli_XXXXXX";
        dir_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempFixtures() {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    void put(const std::string &name, const std::string &text) const {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_;
};

// ---------------------------------------------------------------------------------
// The tool over the bundled sample fixtures
// ---------------------------------------------------------------------------------

class Cli : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(access(tool.c_str(), X_OK), 0) << tool << " is not built"; }
};

TEST_F(Cli, VersionAndEveryCommandHelpExitZero) {
    run_result v = cli({"--version"});
    EXPECT_EQ(v.exit, 0);
    EXPECT_EQ(v.out, std::string("tqmovie ") + TQMOVIE_VERSION_STRING + "\n");
    for (const char *cmd : {"is-movie", "basic", "detail", "basics", "details", "translations"}) {
        run_result r = cli({cmd, "--help"});
        EXPECT_EQ(r.exit, 0) << cmd;
        EXPECT_TRUE(contains(r.out, std::string("usage: tqmovie [OPTIONS] ") + cmd + " ID")) << r.out;
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
    run_result h = cli({"--help"});
    EXPECT_EQ(h.exit, 0);
    EXPECT_TRUE(contains(h.out, "Exit status"));
}

TEST_F(Cli, UsageErrorsExit64WithoutOutput) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate", "tt0111161"},
        {"basic"},
        {"-x", "basic", "tt0111161"},
        {"basic", "--sections", "cast", "tt0111161"},
        {"detail", "--sections", "cast,trailers", "tt0111161"},
        {"translations", "--language", "de", "tt0111161"},
        {"basic", "--lang", "de", "tt0111161"},
        {"basics", "--batch-size", "0", "tt0111161"},
        {"basics", "--batch-size", "12x", "tt0111161"},
        {"details", "--batch-size", "-3", "tt0111161"},
        {"basic", "--progress", "tt0111161"},
        {"--stub", "--host", "http://127.0.0.1:9", "basic", "tt0111161"},
        {"--json=yes", "basic", "tt0111161"},
        {"basic", "tt0111161", "--language"},
        {"basic", "-", "-"},
        {"--host", "http://127.0.0.1/" + std::string(250, 'a'), "basic", "tt0111161"},
        {"--host", "ftp://127.0.0.1", "basic", "tt0111161"},
        {"--host", "http://127.0.0.1/x#", "basic", "tt0111161"},
        {"--host", "http://127.0.0.1/?x", "basic", "tt0111161"},
        {"--host", "http://127.0.0.1/ a", "basic", "tt0111161"},
        {"--fixtures", std::string(600, 'd'), "basic", "tt0111161"},
        {"--cacert", "/tmp/ca.pem", "basic", "tt0111161"},
        {"--host", "http://127.0.0.1:9", "--timeout", "soon", "basic", "tt0111161"},
        {"--host", "http://127.0.0.1:9", "--max-body", "0", "basic", "tt0111161"},
        {"--json", "--json-lines", "basic", "tt0111161"},
        {"basic", "--cache-limit", "-1", "tt0111161"},
        {"basic", "--cache-limit", "many", "tt0111161"},
        {"basic", "--retry", "-1", "tt0111161"},
        {"--max-wait", "5", "basic", "tt0111161"}, // without --retry
        {"--retry", "2", "--max-wait", "soon", "basic", "tt0111161"},
        {"--deadline", "0", "basic", "tt0111161"},
        {"--full", "basic", "tt0111161"}, // without --json
        {"--no-store", "cache"},          // neither a store nor --cache
        {"--cache", "/tmp/tq.json", "cache", "purge"},
        {"--cache", "/tmp/tq.json", "cache", "list", "count"},
        {"--cache", "/tmp/tq.json", "cache", "vacuum"}, // a store's action
        {"--cache", "/tmp/tq.json", "--store", "/tmp/tq.db", "cache"},
        {"cache", "import"},
        {"cache", "export", "a.json", "b.json"},
        {"--offline", "cache", "count"},
        {"--cache", "", "basic", "tt0111161"},
        {"--store", "", "basic", "tt0111161"},
        {"--store", "/tmp/tq.db", "--no-store", "basic", "tt0111161"},
        {"--stale-if-error", "-5", "basic", "tt0111161"},
        {"scan", "--no-lookup", "--details"},
        {"scan", "--json-lines"},
        {"scan", "--sections", "cast"}, // without --details
        {"scan", "-"},
        {"basic", "--no-lookup", "tt0111161"},
    };
    for (const auto &args : cases) {
        std::string shown;
        for (const auto &a : args) shown += a.substr(0, 40) + " ";
        run_result r = cli(args);
        EXPECT_EQ(r.exit, 64) << shown;
        EXPECT_TRUE(r.out.empty()) << shown;
        EXPECT_FALSE(r.err.empty()) << shown;
    }
}

TEST_F(Cli, BasicSummaryShowsTheRecordAligned) {
    run_result r = cli({"basic", "tt0111161"});
    ASSERT_EQ(r.exit, 0) << r.err;
    std::vector<std::string> l = lines(r.out);
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l[0], "The Shawshank Redemption");
    EXPECT_TRUE(contains(r.out, "\n  IMDb id    tt0111161\n"));
    EXPECT_TRUE(contains(r.out, "\n  Year       1994\n"));
    EXPECT_TRUE(contains(r.out, "\n  Runtime    142 min\n"));
    EXPECT_TRUE(contains(r.out, "\n  Kind       film\n"));
    EXPECT_TRUE(contains(r.out, "\n  Directors  Frank Darabont\n"));
}

TEST_F(Cli, DetailSectionsDecideWhichTablesAppear) {
    run_result all = cli({"detail", "tt0903747"});
    ASSERT_EQ(all.exit, 0) << all.err;
    for (const char *t : {"  Cast (", "  Providers (", "  Pictures (", "  Videos ("})
        EXPECT_TRUE(contains(all.out, t)) << t;
    EXPECT_TRUE(contains(all.out, "    NAME  ")); // table header row
    run_result cast = cli({"detail", "tt0903747", "--sections", "cast"});
    ASSERT_EQ(cast.exit, 0) << cast.err;
    EXPECT_TRUE(contains(cast.out, "  Cast ("));
    for (const char *t : {"  Providers (", "  Pictures (", "  Videos ("}) EXPECT_FALSE(contains(cast.out, t)) << t;
}

TEST_F(Cli, JsonOutputIsTheLibraryExport) {
    EXPECT_EQ(cli({"--json-lines", "basic", "tt0111161"}).out,
              library_json([] { return tqmovie_get_basic("tt0111161", nullptr); }, false));
    EXPECT_EQ(cli({"--json-lines", "detail", "tt0468569", "--sections", "pictures,videos"}).out,
              library_json([] { return tqmovie_get_detail("tt0468569", nullptr, 10); }, true));
    const char *ids[] = {"tt0111161", "tt0903747", "tt0468569"};
    std::string expected = library_json([&] { return tqmovie_get_details(ids, 3, nullptr, 0); }, true);
    EXPECT_EQ(lines(expected).size(), 3u);
    EXPECT_EQ(cli({"details", "--json-lines", "tt0111161", "tt0903747", "tt0468569"}).out, expected);
    expected = library_json([&] { return tqmovie_get_basics(ids, 3); }, false);
    EXPECT_EQ(cli({"basics", "--json-lines", "tt0111161", "tt0903747", "tt0468569"}).out, expected);
}

// --full: each record as the library's complete export, translations included.
TEST_F(Cli, FullJsonIsTheCompleteExport) {
    const struct {
        std::vector<std::string> args;
        int32_t (*lookup)();
        int32_t (*count)();
        char *(*to_json)(int32_t);
    } cases[] = {
        {{"basic", "tt0111161"},
         [] { return tqmovie_get_basic("tt0111161", nullptr); },
         tqmovie_basic_count,
         tqmovie_basic_to_json_full},
        {{"detail", "tt0903747"},
         [] { return tqmovie_get_detail("tt0903747", nullptr, 0); },
         tqmovie_detail_count,
         tqmovie_detail_to_json_full},
        {{"translations", "tt0111161"},
         [] {
             const char *ids[] = {"tt0111161"};
             return tqmovie_get_translations(ids, 1, nullptr, nullptr);
         },
         tqmovie_trans_count,
         tqmovie_trans_to_json},
    };
    for (const auto &c : cases) {
        tq_io io = tolvane_io_fake(TQ_FIXTURES_DIR);
        tqmovie_set_io(&io);
        std::string expected;
        ASSERT_EQ(c.lookup(), TQMOVIE_OK);
        for (int32_t i = 0; i < c.count(); ++i) {
            char *text = c.to_json(i);
            expected += std::string(text ? text : "(null)") + "\n";
            std::free(text);
        }
        tqmovie_shutdown();
        std::vector<std::string> args = {"--json-lines", "--full"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        run_result r = cli(args);
        EXPECT_EQ(r.exit, 0) << r.err;
        EXPECT_EQ(r.out, expected) << c.args[0];
    }
}

TEST_F(Cli, ProgressChunksGiveTheSameRecords) {
    std::vector<std::string> args = {"details",   "--json-lines", "tt0111161",    "tt0903747", "tt0468569",
                                     "tt0133093", "tt0000001",    "--batch-size", "2"};
    run_result plain = cli(args);
    args.push_back("--progress");
    run_result chunked = cli(args);
    ASSERT_EQ(plain.exit, 4) << plain.err; // the unknown id has no record
    ASSERT_EQ(chunked.exit, 4) << chunked.err;
    EXPECT_EQ(lines(plain.out).size(), 4u);
    EXPECT_EQ(chunked.out, plain.out);
    EXPECT_FALSE(contains(plain.err, "chunk")) << "no progress unless asked or on a terminal";
    EXPECT_TRUE(contains(plain.err, "\"ids\":[\"tt0000001\"]")) << plain.err;
    for (const char *p : {"chunk 1 of 3", "chunk 2 of 3", "chunk 3 of 3"}) EXPECT_TRUE(contains(chunked.err, p)) << p;
}

TEST_F(Cli, IdsFromStandardInputKeepTheirPlace) {
    run_result r = cli({"is-movie", "tt9999999", "-", "tt0111161"}, "tt0468569\n\n# a comment\n  tt0133093 \r\n");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "tt9999999 false\ntt0468569 true\ntt0133093 true\ntt0111161 true\n");
}

TEST_F(Cli, ExitStatusTellsTheLibraryStatus) {
    TempFixtures fx;
    fx.put("basic-tt0000002.json", "{\"imDbId\": tt0000002}");
    fx.put("basic-tt0000003.json", "null");
    struct {
        std::vector<std::string> args;
        int exit;
        std::vector<std::string> err_parts;
    } cases[] = {
        {{"basic", "tt0000001"},
         4,
         {"TQMOVIE_ERR_TRANSPORT (1)", "fake: basic not found", "[HTTP status 404] (no such title)"}},
        {{"--stub", "detail", "tt0111161"}, 11, {"TQMOVIE_ERR_TRANSPORT", "stub IO: not implemented"}},
        {{"basic", ""}, 16, {"TQMOVIE_ERR_ARG (6)", "imdb_id required"}},
        {{"--fixtures", fx.dir(), "basic", "tt0000002"}, 13, {"TQMOVIE_ERR_PARSE (3)", "yyjson parse failed"}},
        {{"--fixtures", fx.dir(), "basic", "tt0000003"}, 14, {"TQMOVIE_ERR_EMPTY (4)"}},
        {{"--fixtures", fx.dir() + "/missing", "basic", "tt0111161"}, 66, {"fixture directory not found"}},
        {{"--store", fx.dir() + "/basic-tt0000003.json", "basic", "tt0111161"},
         20,
         {"basic: TQMOVIE_ERR_FILE (10): store " + fx.dir() + "/basic-tt0000003.json: file is not a database"}},
    };
    for (const auto &c : cases) {
        run_result r = cli(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args[c.args.size() - 1] << ": " << r.err;
        for (const std::string &part : c.err_parts) EXPECT_TRUE(contains(r.err, part)) << part << " in " << r.err;
    }
}

TEST_F(Cli, SingleLookupsGoOnAfterAFailure) {
    run_result r = cli({"basic", "tt0000001", "tt0111161"});
    EXPECT_EQ(r.exit, 4);
    EXPECT_TRUE(contains(r.out, "The Shawshank Redemption"));
    EXPECT_TRUE(contains(r.err, "basic tt0000001:"));
}

TEST_F(Cli, TranslationsJsonRoundTripsAwkwardText) {
    const std::string title = "Q\"uote \\ back\nline\ttab \x01 \x7f \xe4\xb8\xad/";
    TempFixtures fx;
    fx.put("translations-batch.json",
           "[{\"imDbId\":\"tt1\",\"items\":[{\"title\":\"Q\\\"uote \\\\ back\\nline\\ttab \\u0001 \x7f "
           "\xe4\xb8\xad/\",\"directors\":\"D\",\"actors\":\"A, B\",\"iso_639_1\":\"zh\",\"iso_3166_1\":\"CN\"}]},"
           "{\"imDbId\":\"tt2\",\"items\":[]}]");
    run_result r = cli({"--fixtures", fx.dir(), "--json-lines", "translations", "tt1", "tt2"});
    ASSERT_EQ(r.exit, 0) << r.err;
    std::vector<std::string> l = lines(r.out);
    ASSERT_EQ(l.size(), 2u) << r.out;
    yyjson_doc *doc = yyjson_read(l[0].data(), l[0].size(), 0);
    ASSERT_NE(doc, nullptr) << l[0];
    yyjson_val *item = yyjson_arr_get_first(yyjson_obj_get(yyjson_doc_get_root(doc), "items"));
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(item, "title")), title.c_str());
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(item, "actors")), "A, B");
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(item, "directors")), "D");
    EXPECT_TRUE(yyjson_is_null(yyjson_obj_get(item, "plot")));
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(item, "iso_3166_1")), "CN");
    yyjson_doc_free(doc);
    EXPECT_EQ(l[1], "{\"imDbId\":\"tt2\",\"items\":[]}");
}

TEST_F(Cli, SummaryShowsControlBytesHarmlessly) {
    TempFixtures fx;
    fx.put("basic-tt0000004.json",
           "{\"imDbId\":\"tt0000004\",\"title\":\"Evil\\u001b]0;owned\\u0007 \\u009b2J\\r\\nTitle\"}");
    run_result r = cli({"--fixtures", fx.dir(), "basic", "tt0000004"});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(lines(r.out)[0], "Evil?]0;owned? ?2J??Title");
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    // JSON output escapes the C1 controls too, the library's summary as much as the tool's own objects.
    for (const char *form : {"--json", "--json-lines"}) {
        run_result j = cli({"--fixtures", fx.dir(), form, "basic", "tt0000004"});
        EXPECT_NE(j.out.find("\\u009b2J"), std::string::npos) << j.out;
        EXPECT_EQ(j.out.find("\xc2\x9b"), std::string::npos) << j.out;
    }
}

// --json writes one document, an array of what --json-lines writes line by line, also
// for one element or none.
TEST_F(Cli, JsonIsOneDocumentForEveryCommand) {
    TempFixtures empty;
    empty.put("basics-batch.json", "[]");
    const std::vector<std::vector<std::string>> cases = {
        {"is-movie", "tt0111161"},
        {"is-movie", "tt0111161", "tt9999999"},
        {"basic", "tt0111161", "tt0068646"},
        {"detail", "tt0903747", "--sections", "cast"},
        {"basics", "tt0111161"},
        {"details", "tt0111161", "tt0468569", "--batch-size", "1"},
        {"translations", "tt0111161"},
        {"--fixtures", empty.dir(), "basics", "tt0111161"}, // no record at all
        {"basic", "tt0000001"},                             // a failed lookup
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c;
        args.push_back("--json-lines");
        run_result each = cli(args);
        args.back() = "--json";
        run_result doc = cli(args);
        const std::string shown = c[0] + " " + c[1];
        EXPECT_EQ(doc.exit, each.exit) << shown;
        std::string expected;
        for (const std::string &l : lines(each.out)) expected += (expected.empty() ? "[\n" : ",\n") + l;
        expected += expected.empty() ? "[]\n" : "\n]\n";
        EXPECT_EQ(doc.out, expected) << shown;
        yyjson_doc *d = yyjson_read(doc.out.data(), doc.out.size(), 0);
        EXPECT_TRUE(d && yyjson_is_arr(yyjson_doc_get_root(d))) << shown;
        yyjson_doc_free(d);
    }
}

// Ids a batch answer holds no record for are named and make the exit status 4; with
// --json or --json-lines every error is one JSON object on standard error.
TEST_F(Cli, NotFoundIdsAndErrorsAsJson) {
    run_result text = cli({"details", "tt0111161", "tt0000001", "tt0000002"});
    EXPECT_EQ(text.exit, 4);
    EXPECT_TRUE(contains(text.out, "The Shawshank Redemption"));
    EXPECT_EQ(text.err, "tqmovie: details tt0000001: not found\ntqmovie: details tt0000002: not found\n");

    struct {
        std::vector<std::string> args;
        int exit;
        const char *error;
        std::vector<std::string> members; // JSON text expected inside the object
    } cases[] = {
        {{"--json", "details", "tt0111161", "tt0000001", "tt0000002"},
         4,
         "not found",
         {"\"command\":\"details\"", "\"ids\":[\"tt0000001\",\"tt0000002\"]"}},
        {{"--json-lines", "basic", "tt0000001"},
         4,
         "not found",
         {"\"id\":\"tt0000001\"", "\"status\":1", "\"statusName\":\"TQMOVIE_ERR_TRANSPORT\"", "\"httpStatus\":404"}},
        {{"frobnicate", "--json"}, 64, "usage", {}},
        {{"--json", "--fixtures", "/nonexistent/tq", "basic", "tt0111161"}, 66, "no input", {}},
    };
    for (const auto &c : cases) {
        run_result r = cli(c.args);
        EXPECT_EQ(r.exit, c.exit) << r.err;
        ASSERT_EQ(lines(r.err).size(), 1u) << r.err;
        yyjson_doc *d = yyjson_read(r.err.data(), r.err.size(), 0);
        yyjson_val *root = yyjson_doc_get_root(d);
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(root, "error")), c.error) << r.err;
        EXPECT_TRUE(yyjson_is_str(yyjson_obj_get(root, "message"))) << r.err;
        EXPECT_EQ(yyjson_get_int(yyjson_obj_get(root, "exit")), c.exit) << r.err;
        yyjson_doc_free(d);
        for (const std::string &m : c.members) EXPECT_TRUE(contains(r.err, m)) << m << " in " << r.err;
    }
}

// A loopback port that accepts connections and never answers: a lookup against it
// runs until it is cancelled.
class SilentServer {
public:
    SilentServer() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        auto *sa = reinterpret_cast<sockaddr *>(&a);
        if (fd_ >= 0 && bind(fd_, sa, sizeof a) == 0 && listen(fd_, 8) == 0 && getsockname(fd_, sa, &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~SilentServer() {
        for (int c : held_) close(c);
        if (fd_ >= 0) close(fd_);
    }
    int port() const { return port_; }
    // Waits up to ms for a connection and holds it open; false when none came.
    bool hold_one(int ms) {
        pollfd p{fd_, POLLIN, 0};
        int c = poll(&p, 1, ms) > 0 ? accept(fd_, nullptr, nullptr) : -1;
        if (c >= 0) held_.push_back(c);
        return c >= 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> held_;
};

std::string file_text(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST_F(Cli, CtrlCCancelsTheRunningLookupAndExits130) {
    for (const std::vector<std::string> &cmd : {std::vector<std::string>{"details", "tt0111161", "tt0468569"},
                                                std::vector<std::string>{"basic", "tt0111161", "tt0468569"}}) {
        SilentServer silent;
        ASSERT_GT(silent.port(), 0);
        TempFixtures files;
        const std::string out = files.dir() + "/out", err = files.dir() + "/err";
        std::vector<std::string> args = {tool, "--json", "--host", "http://127.0.0.1:" + std::to_string(silent.port())};
        args.insert(args.end(), cmd.begin(), cmd.end());
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        Sandbox::test_home();
        ASSERT_EQ(posix_spawn(&pid, tool.c_str(), &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);

        // Once the request is on the wire the tool sits in the lookup.
        bool connected = silent.hold_one(10000);
        kill(pid, connected ? SIGINT : SIGKILL);
        int status = -1;
        for (int waited = 0; waited < 15000 && waitpid(pid, &status, WNOHANG) == 0; waited += 20) usleep(20000);
        if (status == -1) { // the cancel did not end it: do not leave it behind
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        ASSERT_TRUE(connected) << cmd[0] << ": the tool never connected";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << cmd[0] << ": wait status " << status;
        EXPECT_EQ(file_text(out), "[]\n") << cmd[0] << ": the document is closed";
        EXPECT_TRUE(contains(file_text(err), "{\"error\":\"interrupted\"")) << file_text(err);
        EXPECT_FALSE(silent.hold_one(0)) << cmd[0] << ": the second id was still looked up";
    }
}

// ---------------------------------------------------------------------------------
// scan: a folder tree made by the test
// ---------------------------------------------------------------------------------

// Where each video file's id comes from: a sidecar beats the name, the name beats the
// folder, a season folder's show has its tvshow.nfo one folder up, a disc folder's
// title is the folder above it.
const struct {
    const char *path; // under the tree
    const char *id;   // "" for none
    const char *source;
} scan_expected[] = {
    {"lib/Shawshank (1994)/Shawshank tt0068646.mkv", "tt0111161", "sidecar"},
    {"lib/Godfather [imdbid-tt0133093]/The Godfather tt0068646.mp4", "tt0068646", "name"},
    {"lib/Dark Knight [imdbid-tt0468569]/MOVIE.MKV", "tt0468569", "folder"},
    {"lib/Breaking Bad/Season 1/Pilot.mkv", "tt0903747", "sidecar"},
    {"lib/Pulp Fiction [imdbid-tt0110912]/VIDEO_TS/VTS_01_1.VOB", "tt0110912", "folder"},
    {"lib/Forrest tt0109830/Film.mkv", "tt0109830", "folder"},   // beside MOVIE.NFO
    {"lib/Fifo tt1375666/Film.m4v", "tt1375666", "folder"},      // a FIFO named movie.nfo
    {"lib/Friends/Friends tt0108778.webm", "tt0108778", "name"}, // its .nfo names none
    {"lib/Matrix/The Matrix tt0133093.avi", "tt0133093", "name"},
    {"lib/Unknown tt0000001.mkv", "tt0000001", "name"},
    {"lib/Home/holiday.mp4", "", ""},
    {"lib/Home/not utf-8 \xff.mkv", "", ""},
};

// The tree of scan_expected, the sidecars, a hidden folder, a file that is not video
// and a link back up the tree.
void make_scan_tree(const std::string &root) {
    namespace fs = std::filesystem;
    for (const auto &e : scan_expected) {
        fs::create_directories(fs::path(root + "/" + e.path).parent_path());
        std::ofstream(root + "/" + e.path);
    }
    const std::pair<const char *, const char *> others[] = {
        {"lib/Shawshank (1994)/movie.nfo", "<movie><uniqueid type=\"imdb\">tt0111161</uniqueid></movie>"},
        {"lib/Breaking Bad/tvshow.nfo", "<tvshow><uniqueid type=\"imdb\">tt0903747</uniqueid></tvshow>"},
        {"lib/Forrest tt0109830/MOVIE.NFO", "tt0111161"}, // not movie.nfo where case counts
        {"lib/Friends/Friends tt0108778.nfo", "<tvshow><title>Friends</title></tvshow>"},
        {"lib/Home/notes tt0111161.txt", ""},
        {"lib/.hidden/Secret tt0111161.mkv", ""},
    };
    for (const auto &[path, text] : others) {
        fs::create_directories(fs::path(root + "/" + path).parent_path());
        std::ofstream(root + "/" + path) << text;
    }
    mkfifo((root + "/lib/Fifo tt1375666/movie.nfo").c_str(), 0600);
    fs::create_directories(root + "/lib/Matrix/extras");
    fs::create_directory_symlink("..", root + "/lib/Matrix/extras/loop");
}

TEST_F(Cli, ScanMatchesEachFileOnceAndLooksUpItsTitle) {
    TempFixtures tree;
    make_scan_tree(tree.dir());
    const std::string lib = tree.dir() + "/lib";
    for (bool lookup : {true, false}) {
        std::vector<std::string> args = {"scan", "--json", lib};
        if (!lookup) args.push_back("--no-lookup");
        run_result r = cli(args);
        EXPECT_EQ(r.exit, 1) << r.err; // files without an id; tt0000001 has no record
        yyjson_doc *d = yyjson_read(r.out.data(), r.out.size(), 0);
        ASSERT_NE(d, nullptr) << r.out;
        yyjson_val *root = yyjson_doc_get_root(d);
        std::map<std::string, std::string> found; // path -> "id source"
        size_t i, n;
        yyjson_val *f;
        yyjson_arr_foreach(yyjson_obj_get(root, "files"), i, n, f) {
            const char *path = yyjson_get_str(yyjson_obj_get(f, "path"));
            const char *id = yyjson_get_str(yyjson_obj_get(f, "imdbId"));
            EXPECT_TRUE(found.emplace(path, std::string(id) + " " + yyjson_get_str(yyjson_obj_get(f, "source"))).second)
                << path << " listed twice";
            yyjson_val *record = yyjson_obj_get(f, "record");
            EXPECT_EQ(record != nullptr, lookup) << path;
            if (lookup) {
                EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(record, "imDbId")),
                             std::strcmp(id, "tt0000001") == 0 ? nullptr : id)
                    << path;
            }
        }
        yyjson_arr_foreach(yyjson_obj_get(root, "noId"), i, n, f) found[yyjson_get_str(f)] = " ";
        EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(root, "notFound")), lookup ? 1u : 0u);
        EXPECT_EQ(yyjson_obj_get(root, "notFound") != nullptr, lookup);
        yyjson_doc_free(d);

        EXPECT_EQ(found.size(), std::size(scan_expected)) << r.out;
        EXPECT_EQ(found[lib + "/Home/not utf-8 \xef\xbf\xbd.mkv"], " ") << "a stray byte goes out as U+FFFD";
        for (const auto &e : scan_expected) {
            const std::string path = lib + "/" + std::string(e.path).substr(4);
            if (contains(path, "\xff")) continue;
            EXPECT_EQ(found[path], std::string(e.id) + " " + e.source) << path;
            // The walk reads the sidecars the listing holds itself; the ids are the library's.
            char id[16];
            int32_t source = 0;
            tqmovie_id_for_file(path.c_str(), id, sizeof id, &source);
            EXPECT_STREQ(id, e.id) << path;
        }
    }
}

TEST_F(Cli, ScanPrintsALinePerFileAndExitsAsTheOtherCommands) {
    TempFixtures tree;
    make_scan_tree(tree.dir());
    const std::string lib = tree.dir() + "/lib", matrix = lib + "/Matrix/The Matrix tt0133093.avi";
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string out; // exactly
        std::string err; // contained
    } cases[] = {
        {{"scan", lib + "/Matrix"}, 0, "tt0133093  name     The Matrix (1999)  " + matrix + "\n", ""},
        {{"scan", "--details", lib + "/Matrix"}, 0, "tt0133093  name     The Matrix (1999)  " + matrix + "\n", ""},
        {{"scan", "--progress", lib + "/Matrix"},
         0,
         "tt0133093  name     The Matrix (1999)  " + matrix + "\n",
         "tqmovie: scan: 1 file, 1 with an id, 1 of 1 title fetched\n"},
        // No backend is needed without lookups; a file named is taken as it is.
        {{"scan", "--no-lookup", "--fixtures", "/nonexistent", matrix}, 0, "tt0133093  name     " + matrix + "\n", ""},
        {{"scan", "--fixtures", "/nonexistent", matrix}, 66, "", "fixture directory not found"},
        // A folder named "." counts by its own name; a season folder finds the show's
        // tvshow.nfo above it.
        {{"scan", "--no-lookup", lib + "/Dark Knight [imdbid-tt0468569]/."},
         0,
         "tt0468569  folder   " + lib + "/Dark Knight [imdbid-tt0468569]/./MOVIE.MKV\n",
         ""},
        {{"scan", "--no-lookup", lib + "/Breaking Bad/Season 1"},
         0,
         "tt0903747  sidecar  " + lib + "/Breaking Bad/Season 1/Pilot.mkv\n",
         ""},
        {{"scan", lib + "/Home"}, 1, "", "tqmovie: scan: no id: " + lib + "/Home/holiday.mp4\n"},
        {{"scan", lib + "/Home", lib + "/missing"}, 1, "", "tqmovie: scan: cannot read " + lib + "/missing: No such"},
        {{"--stub", "scan", lib + "/Matrix"}, 11, "tt0133093  name     (no record)  " + matrix + "\n", "TQMOVIE_ERR_"},
    };
    for (const auto &c : cases) {
        run_result r = cli(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args[1] << " " << c.args.back() << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.args.back();
        EXPECT_TRUE(contains(r.err, c.err)) << r.err;
    }
    run_result d = cli({"scan", "--json", "--full", "--details", lib + "/Matrix"});
    EXPECT_TRUE(contains(d.out, "\"titleType\":\"movie\"")) << d.out; // the detail record's complete export
}

// ---------------------------------------------------------------------------------
// The stand-in service, and the tool talking HTTP to it
// ---------------------------------------------------------------------------------

#ifdef TQ_HAVE_HTTPLIB
using tqtest::service;
using tqtest::service_process;
using tqtest::start_service;
using tqtest::stop_service;

class MockService : public ::testing::Test {
protected:
    static void SetUpTestSuite() { svc_ = start_service(TQ_FIXTURES_DIR); }
    static void TearDownTestSuite() { stop_service(svc_, SIGTERM); }
    void SetUp() override {
        ASSERT_GT(svc_.port, 0) << service << " did not start";
        ASSERT_EQ(access(tool.c_str(), X_OK), 0) << tool << " is not built";
    }
    static std::string host() { return "http://127.0.0.1:" + std::to_string(svc_.port); }
    static httplib::Client client() { return httplib::Client("127.0.0.1", svc_.port); }
    static service_process svc_;
};
service_process MockService::svc_;

std::vector<std::string> ids_of(const std::string &json_array) {
    std::vector<std::string> v;
    yyjson_doc *d = yyjson_read(json_array.data(), json_array.size(), 0);
    size_t i, n;
    yyjson_val *el;
    yyjson_arr_foreach(yyjson_doc_get_root(d), i, n, el) v.push_back(yyjson_get_str(yyjson_obj_get(el, "imDbId")));
    yyjson_doc_free(d);
    return v;
}

TEST_F(MockService, MalformedRequestsGet400) {
    httplib::Client c = client();
    struct {
        const char *method;
        const char *path;
        const char *body;
    } cases[] = {
        {"GET", "/api/AAA/IsMovie", nullptr},
        {"GET", "/api/AAA/IsMovie?imdbId=", nullptr},
        {"GET", "/api/AAA/GetMovieBasic?language=en-US", nullptr},
        {"GET", "/api/AAA/GetMovieBasic?imdbId=..%2Fbasic-tt0111161", nullptr},
        {"GET", "/api/AAA/GetMovieDetail?imdbId=tt0111161%20x", nullptr},
        {"POST", "/api/AAA/IsMovie?imdbId=tt0111161", ""},
        {"POST", "/api/AAA/GetMovieDetail?imdbId=tt0111161", ""},
        {"GET", "/api/AAA/GetMovieBasics", nullptr},
        {"PUT", "/api/AAA/GetMovieDetails", "tt0111161"},
        {"DELETE", "/api/AAA/GetMovieTranslations", nullptr},
        {"POST", "/api/AAA/GetMovieDetails", "tt0111161,../x"},
        {"POST", "/api/AAA/GetMovieBasics", "tt0111161;tt0903747"},
    };
    for (const auto &k : cases) {
        httplib::Result r = std::string(k.method) == "GET"      ? c.Get(k.path)
                            : std::string(k.method) == "PUT"    ? c.Put(k.path, k.body, "text/plain")
                            : std::string(k.method) == "DELETE" ? c.Delete(k.path)
                                                                : c.Post(k.path, k.body, "text/plain");
        ASSERT_TRUE(r) << k.method << " " << k.path;
        EXPECT_EQ(r->status, 400) << k.method << " " << k.path;
    }
}

TEST_F(MockService, UnknownIdsAndPathsGet404) {
    httplib::Client c = client();
    for (const char *path : {"/api/AAA/GetMovieBasic?imdbId=tt0000001", "/api/AAA/GetMovieDetail?imdbId=tt0000001",
                             "/api/AAA/Elsewhere"}) {
        httplib::Result r = c.Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 404) << path;
    }
}

TEST_F(MockService, BatchesAnswerKnownIdsInRequestOrder) {
    httplib::Client c = client();
    for (const char *path : {"/api/AAA/GetMovieBasics?read=true&ignoreNew=true&getKeys=false",
                             "/api/AAA/GetMovieDetails?read=true&getKeys=false",
                             "/api/AAA/GetMovieTranslations?read=true&getKeys=false&part1=zh&part2=CN"}) {
        httplib::Result r = c.Post(path, "tt0903747,tt0000001,,tt0111161,tt0903747", "text/plain");
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 200) << path;
        EXPECT_EQ(ids_of(r->body), (std::vector<std::string>{"tt0903747", "tt0111161", "tt0903747"})) << path;
        r = c.Post(path, "", "text/plain");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->body, "[]") << path;
    }
}

TEST_F(MockService, IsMovieFollowsTheTvFlag) {
    httplib::Client c = client();
    const std::pair<const char *, const char *> cases[] = {
        {"tt0111161", "true"}, {"tt0903747", "false"}, {"tt0000001", "false"}};
    for (auto [id, answer] : cases) {
        httplib::Result r = c.Get((std::string("/api/AAA/IsMovie?imdbId=") + id).c_str());
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 200);
        EXPECT_EQ(r->body, answer) << id;
    }
}

TEST_F(MockService, EveryToolCommandWorksOverHttp) {
    run_result probe = cli({"--host", host(), "is-movie", "tt0111161", "tt0903747"});
    EXPECT_EQ(probe.exit, 0) << probe.err;
    EXPECT_EQ(probe.out, "tt0111161 true\ntt0903747 false\n");
    // A scheme in capitals goes on in lower case.
    const std::string upper = "HTTP://" + std::string(host()).substr(7);
    EXPECT_EQ(cli({"--host", upper, "is-movie", "tt0111161"}).out, "tt0111161 true\n");

    // Per-title answers are the same documents the fixture backend serves.
    for (std::vector<std::string> args : {std::vector<std::string>{"basic", "tt0111161", "--language", "pt-BR"},
                                          {"detail", "tt0903747", "--sections", "cast,providers"},
                                          {"details", "tt0111161", "tt0000001", "tt0468569", "--batch-size", "1"}}) {
        args.insert(args.begin(), "--json");
        run_result offline = cli(args);
        args.insert(args.begin(), {"--host", host()});
        run_result online = cli(args);
        EXPECT_EQ(online.exit, args[3] == "details" ? 4 : 0) << args[3] << ": " << online.err; // tt0000001
        EXPECT_FALSE(online.out.empty()) << args[3];
        EXPECT_EQ(online.out, offline.out) << args[3];
    }

    run_result basics = cli({"--host", host(), "--json-lines", "basics", "tt0468569", "tt0000001", "tt0111161"});
    EXPECT_EQ(basics.exit, 4) << basics.err;
    EXPECT_TRUE(contains(basics.err, "\"ids\":[\"tt0000001\"]")) << basics.err;
    ASSERT_EQ(lines(basics.out).size(), 2u);
    EXPECT_TRUE(contains(lines(basics.out)[0], "\"imDbId\":\"tt0468569\""));

    run_result tr = cli({"--host", host(), "translations", "tt0111161", "--lang", "de", "--region", "DE"});
    EXPECT_EQ(tr.exit, 0) << tr.err;
    EXPECT_TRUE(contains(tr.out, "Die Verurteilten"));
}

TEST_F(MockService, NoSuchTitleOverHttpExits4WithTheStatus) {
    run_result r = cli({"--host", host(), "detail", "tt0000001"});
    EXPECT_EQ(r.exit, 4);
    EXPECT_TRUE(contains(r.err, "TQMOVIE_ERR_HTTP (2): HTTP 404 [HTTP status 404] (no such title)")) << r.err;
    EXPECT_TRUE(r.out.empty());
}

// TQMOVIE_HOST stands for --host; -v shows each request and each answer held; a
// language fallback fills the empty plot of the stand-in's de-DE records.
TEST_F(MockService, EnvironmentHostVerboseAndLanguageFallback) {
    tqtest::scoped_service synthetic(TQ_FIXTURES_DIR, {"--synthetic"});
    ASSERT_GT(synthetic.port, 0);
    const std::string store = Sandbox::test_home() + "/s.db";
    setenv("TQMOVIE_HOST", synthetic.url().c_str(), 1);
    run_result first = cli({"-v", "--store", store, "detail", "tt1000001", "--language", "de-DE",
                            "--language-fallback", "en-US"});
    run_result again = cli({"--verbose", "--store", store, "detail", "tt1000001", "--language", "de-DE"});
    unsetenv("TQMOVIE_HOST");
    ASSERT_EQ(first.exit, 0) << first.err;
    EXPECT_TRUE(contains(first.out, "Plot of tt1000001 in en-US")) << first.out;
    const std::string get = "tqmovie: GET " + synthetic.url() + "/api/AAA/GetMovieDetail?imdbId=tt1000001&language=";
    EXPECT_TRUE(contains(first.err, get + "de-DE -> 200, ")) << first.err;
    EXPECT_TRUE(contains(first.err, get + "en-US -> 200, ")) << first.err;
    EXPECT_EQ(again.err, get + "de-DE -> from the store\n");
    EXPECT_EQ(cli({"--language-fallback", "en US", "basic", "tt0111161"}).exit, 64);
}

TEST_F(MockService, TransportOptionsReachTheBackend) {
    run_result small = cli({"--host", host(), "--max-body", "100", "--timeout", "2.5", "detail", "tt0111161"});
    EXPECT_EQ(small.exit, 11);
    EXPECT_TRUE(contains(small.err, "transport: response body over the limit of 100 bytes")) << small.err;
    run_result proxied = cli({"--host", host(), "--proxy", "http://127.0.0.1:1", "basic", "tt0111161"});
    EXPECT_TRUE(contains(proxied.err, "transport: Couldn't connect to server")) << proxied.err;
}

// --retry N against a service that refuses the first requests: each wait is shown,
// and the exit status is the last attempt's.
TEST(MockServiceRetry, WaitsAreShownAndTheLastAttemptCounts) {
    struct {
        std::vector<std::string> service, args;
        int exit;
        long requests;
        std::vector<std::string> err_parts;
    } cases[] = {
        {{"--rate-limit-first", "2", "--retry-after", "0"},
         {"--retry", "3"},
         0,
         3,
         {"tqmovie: waiting 0.0 s: HTTP 429 (retry 1 of 3)\n", "tqmovie: waiting 0.0 s: HTTP 429 (retry 2 of 3)\n"}},
        {{"--unavailable-every", "1"},
         {"--retry", "1", "--max-wait", "0.01"},
         12,
         2,
         {"(retry 1 of 1)", "TQMOVIE_ERR_HTTP (2): HTTP 503 [HTTP status 503]"}},
        {{"--rate-limit-first", "1", "--retry-after", "600"},
         {"--retry", "3", "--max-wait", "5"},
         12,
         1,
         {"HTTP 429 [HTTP status 429]"}},
        {{"--delay", "3000"}, {"--deadline", "0.2"}, 11, 1, {"TQMOVIE_ERR_TRANSPORT (1): deadline exceeded"}},
    };
    for (const auto &c : cases) {
        tqtest::scoped_service svc(TQ_FIXTURES_DIR, c.service);
        ASSERT_GT(svc.port, 0);
        std::vector<std::string> args = {"--host", svc.url(), "--no-store"}; // each attempt reaches the service
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"basic", "tt0111161"});
        run_result r = cli(args);
        EXPECT_EQ(r.exit, c.exit) << c.service[0] << ": " << r.err;
        EXPECT_EQ(tqtest::stat(svc), c.requests) << c.service[0];
        for (const std::string &part : c.err_parts) EXPECT_TRUE(contains(r.err, part)) << part << " in " << r.err;
        if (c.exit == 0) {
            EXPECT_TRUE(contains(r.out, "The Shawshank Redemption"));
        }
    }
}

// --cache FILE: a second run is answered from the file, with no request; the cache
// command lists, counts and clears the file; a file it cannot read is left alone.
TEST(MockServiceCache, SecondRunIsAnsweredFromTheFile) {
    tqtest::scoped_service svc(TQ_FIXTURES_DIR);
    ASSERT_GT(svc.port, 0);
    TempFixtures dir;
    const std::string file = dir.dir() + "/cache.json";
    const std::vector<std::string> lookup = {"--host",    svc.url(),    "--cache", file,         "detail",
                                             "tt0903747", "--sections", "cast",    "--language", "de-DE"};
    run_result first = cli(lookup);
    ASSERT_EQ(first.exit, 0) << first.err;
    EXPECT_EQ(tqtest::stat(svc), 1);
    run_result second = cli(lookup);
    EXPECT_EQ(second.exit, 0) << second.err;
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(tqtest::stat(svc), 1) << "the second run asked the service";

    run_result count = cli({"--cache", file, "cache", "count"});
    EXPECT_EQ(count.out, "1 title, 1 record (0 basic, 1 detail), 1 fresh\n") << count.err;
    run_result list = cli({"--cache", file, "--json", "cache"});
    ASSERT_EQ(list.exit, 0) << list.err;
    yyjson_doc *d = yyjson_read(list.out.data(), list.out.size(), 0);
    yyjson_val *rec = yyjson_arr_get_first(yyjson_doc_get_root(d));
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(rec, "imdbId")), "tt0903747") << list.out;
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(rec, "kind")), "detail");
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(rec, "language")), "de-DE");
    EXPECT_TRUE(yyjson_get_bool(yyjson_obj_get(rec, "fresh")));
    EXPECT_EQ(yyjson_arr_size(yyjson_obj_get(rec, "sections")), 1u);
    yyjson_doc_free(d);
    run_result text = cli({"--cache", file, "cache", "list"});
    EXPECT_TRUE(contains(text.out, "tt0903747  detail  ")) << text.out;
    EXPECT_TRUE(contains(text.out, "de-DE     cast      Breaking Bad\n")) << text.out;

    EXPECT_EQ(cli({"--cache", file, "cache", "clear"}).exit, 0);
    EXPECT_EQ(cli({"--cache", file, "cache", "count"}).out, "0 titles, 0 records (0 basic, 0 detail), 0 fresh\n");
    EXPECT_EQ(cli(lookup).exit, 0);
    EXPECT_EQ(tqtest::stat(svc), 2);

    // A file that is not a cache: the run stops before any request and keeps the file.
    TempFixtures bad_dir;
    bad_dir.put("cache.json", "{\"format\":");
    const std::string bad = bad_dir.dir() + "/cache.json";
    run_result refused = cli({"--host", svc.url(), "--cache", bad, "basic", "tt0111161"});
    EXPECT_EQ(refused.exit, 13) << refused.err;
    EXPECT_TRUE(contains(refused.err, "cache " + bad + ": TQMOVIE_ERR_PARSE (3)")) << refused.err;
    EXPECT_EQ(file_text(bad), "{\"format\":");
    EXPECT_EQ(tqtest::stat(svc), 2);
}

// With --host the tool keeps a store under XDG_CACHE_HOME: the next run asks nothing,
// --offline answers from it with the service gone, and the cache command counts,
// exports, clears and imports it.
TEST(MockServiceStore, LookupsAreKeptAndAnsweredFromTheStore) {
    auto svc = std::make_unique<tqtest::scoped_service>(TQ_FIXTURES_DIR, std::vector<std::string>{"--synthetic"});
    ASSERT_GT(svc->port, 0);
    const std::string url = svc->url(), home = Sandbox::test_home(), exported = home + "/exported.json";
    const std::vector<std::string> lookup = {"--host", url, "detail", "tt1000000", "tt1000001", "tt1000002"};
    run_result first = cli(lookup);
    ASSERT_EQ(first.exit, 0) << first.err;
    EXPECT_EQ(tqtest::stat(*svc), 3);
    EXPECT_TRUE(std::filesystem::exists(home + "/cache/tqmovie/store.db"));
    EXPECT_EQ(std::filesystem::status(home + "/cache/tqmovie").permissions(), std::filesystem::perms::owner_all);
    EXPECT_EQ(cli(lookup).out, first.out);
    EXPECT_EQ(tqtest::stat(*svc), 3) << "the second run asked the service";
    EXPECT_EQ(cli({"--host", url, "--no-store", "detail", "tt1000000"}).exit, 0);
    EXPECT_EQ(cli({"--host", url, "--refresh", "detail", "tt1000000"}).exit, 0);
    EXPECT_EQ(tqtest::stat(*svc), 5);

    const std::pair<std::vector<std::string>, std::string> steps[] = {
        {{"cache", "count"}, "3 titles\n"},
        {{"--host", url, "cache", "export", exported}, ""},
        {{"--cache", exported, "cache", "count"}, "3 titles, 3 records (0 basic, 3 detail), 3 fresh\n"},
        {{"cache", "clear"}, ""},
        {{"--json", "cache", "count"}, "[\n{\"titles\":0}\n]\n"},
        {{"--host", url, "cache", "import", exported}, ""},
        {{"cache", "count"}, "3 titles\n"},
    };
    for (const auto &[args, out] : steps) {
        run_result r = cli(args);
        EXPECT_EQ(r.exit, 0) << args[args.size() - 2] << " " << args.back() << ": " << r.err;
        EXPECT_EQ(r.out, out) << args[args.size() - 2] << " " << args.back();
    }

    svc.reset(); // the service gone: only the store answers
    std::vector<std::string> offline = lookup;
    offline.insert(offline.begin(), "--offline");
    EXPECT_EQ(cli(offline).out, first.out);
    run_result never = cli({"--host", url, "--offline", "detail", "tt1000009"});
    EXPECT_EQ(never.exit, 11);
    EXPECT_TRUE(contains(never.err, "offline: not cached")) << never.err;

    // Where the store goes: the store is opened before any request, so none is needed.
    const std::string other = home + "/other", named = home + "/named.db";
    const struct {
        const char *xdg, *tqmovie_store;
        std::vector<std::string> args;
        std::string store; // "": none made
    } where[] = {
        {other.c_str(), nullptr, {"--host", url, "--cache", home + "/c.json"}, ""},
        {other.c_str(), nullptr, {}, ""}, // the fixtures
        {"", nullptr, {"--host", url}, home + "/.cache/tqmovie/store.db"},
        {other.c_str(), named.c_str(), {"--host", url}, named},
    };
    for (const auto &w : where) {
        setenv("XDG_CACHE_HOME", w.xdg, 1);
        if (w.tqmovie_store) setenv("TQMOVIE_STORE", w.tqmovie_store, 1);
        std::vector<std::string> args = w.args;
        args.insert(args.end(), {"basic", "tt1000000"});
        cli(args);
        unsetenv("TQMOVIE_STORE");
        EXPECT_FALSE(std::filesystem::exists(other + "/tqmovie")) << w.store;
        if (!w.store.empty()) {
            EXPECT_TRUE(std::filesystem::exists(w.store)) << w.store;
        }
    }
}

TEST(MockServiceBroken, BatchFailurePrintsTheChunksThatWentThrough) {
    TempFixtures fx;
    fx.put("detail-tt0000010.json", "{\"imDbId\":\"tt0000010\",\"title\":\"Ten\"}");
    fx.put("detail-tt0000011.json", "{\"imDbId\":"); // the service answers 500 for it
    service_process s = start_service(fx.dir());
    ASSERT_GT(s.port, 0);
    std::vector<std::string> args = {"--host",
                                     "http://127.0.0.1:" + std::to_string(s.port),
                                     "--no-store", // every chunk asks the service
                                     "--json-lines",
                                     "details",
                                     "tt0000010",
                                     "tt0000011",
                                     "tt0000010",
                                     "--batch-size",
                                     "1"};
    run_result plain = cli(args);
    args.push_back("--progress");
    run_result chunked = cli(args);
    for (const run_result *r : {&plain, &chunked}) {
        EXPECT_EQ(r->exit, 12) << r->err;
        EXPECT_EQ(lines(r->out).size(), 1u) << r->out;
        EXPECT_TRUE(contains(r->out, "\"title\":\"Ten\""));
        EXPECT_TRUE(contains(r->err, "\"message\":\"HTTP 500\"")) << r->err;
        EXPECT_TRUE(contains(r->err, "\"statusName\":\"TQMOVIE_ERR_HTTP\",\"httpStatus\":500")) << r->err;
    }
    EXPECT_TRUE(contains(chunked.err, "chunk 2 of 3"));
    EXPECT_FALSE(contains(chunked.err, "chunk 3 of 3")) << "the first failing request ends the batch";
    EXPECT_EQ(stop_service(s, SIGTERM), 0);
}

TEST(MockServiceLifecycle, StopsCleanlyOnSigintAndSigterm) {
    for (int sig : {SIGINT, SIGTERM}) {
        service_process s = start_service(TQ_FIXTURES_DIR);
        ASSERT_GT(s.port, 0);
        EXPECT_EQ(stop_service(s, sig), 0) << "signal " << sig;
    }
    EXPECT_EQ(run(service, {"--port", "70000"}).exit, 64);
    EXPECT_EQ(run(service, {"--fixtures", "/nonexistent/tq"}).exit, 66);
}
#endif

} // namespace
