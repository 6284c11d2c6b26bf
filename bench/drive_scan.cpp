// SPDX-License-Identifier: MIT
// drive_scan: `tqmovie scan` over a media library of 100,000 files, and the id reader
// under it, printed as ratio rows in the form of scripts/ratios.py ("... goal <= G
// met"), then "drive_scan: N met, M missed". Run by scripts/run-ratios.sh; by hand:
//   build-bench/bench/drive_scan [quick]
// - the tree bench/make_tree builds in a temporary folder ($TMPDIR, else /dev/shm when
//   it is there, else /tmp: making and removing 100,000 files on a disk takes minutes,
//   and the disk is not what is timed): `tqmovie scan --no-lookup
//   --json` finds every id planted and nothing else, and gives each file the id
//   tqmovie_id_for_file gives it (mismatches counted);
// - `tqmovie scan --no-lookup DIR` against `find DIR -type f` over the same tree, wall
//   time, the tree in the page cache (warm-up runs first), runs interleaved (median);
// - tqmovie_id_in_text over 200-byte names and 20 KB .nfo texts, as 200 MB/s over the
//   rate achieved (at most 1: at least 200 MB/s).
#include "ratio_rows.h"
#include "tqmovie.h"

#include <yyjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using clock_type = std::chrono::steady_clock;

using tqbench::met;
using tqbench::missed;
using tqbench::row;

// Runs argv with standard output to out_path (or /dev/null) and standard error to
// /dev/null; its exit status (-1 when it could not run) and its wall time.
int run(const std::vector<std::string> &args, const char *out_path, double *seconds = nullptr) {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out_path ? out_path : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = clock_type::now();
    pid_t pid;
    const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (seconds) *seconds = std::chrono::duration<double>(clock_type::now() - t0).count();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The planted list: path -> id ("" for a file that names none).
std::unordered_map<std::string, std::string> read_planted(const std::string &file) {
    std::unordered_map<std::string, std::string> planted;
    FILE *f = std::fopen(file.c_str(), "r");
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n;
    while (f && (n = getline(&line, &cap, f)) > 0) {
        std::string l(line, static_cast<size_t>(n) - (line[n - 1] == '\n'));
        const size_t tab = l.find('\t');
        if (tab != std::string::npos) planted[l.substr(0, tab)] = l.substr(tab + 1);
    }
    std::free(line);
    if (f) std::fclose(f);
    return planted;
}

void check_rows(const std::string &tree, const std::string &planted_file, const std::string &found_file) {
    auto planted = read_planted(planted_file);
    yyjson_doc *doc = yyjson_read_file(found_file.c_str(), 0, nullptr, nullptr);
    yyjson_val *root = yyjson_doc_get_root(doc);
    size_t wrong = 0, unlike_library = 0, seen = 0;
    auto check = [&](const char *path, const char *id, const char *source) {
        ++seen;
        auto at = planted.find(path);
        if (at == planted.end() || at->second != id) ++wrong;
        if (at != planted.end()) planted.erase(at);
        char lib_id[16];
        int32_t lib_source = 0;
        tqmovie_id_for_file(path, lib_id, sizeof lib_id, &lib_source);
        static const char *const sources[] = {"", "sidecar", "name", "folder"};
        if (std::strcmp(lib_id, id) != 0 || std::strcmp(sources[lib_source & 3], source) != 0) ++unlike_library;
    };
    size_t i, n;
    yyjson_val *v;
    yyjson_arr_foreach(yyjson_obj_get(root, "files"), i, n, v) {
        check(yyjson_get_str(yyjson_obj_get(v, "path")), yyjson_get_str(yyjson_obj_get(v, "imdbId")),
              yyjson_get_str(yyjson_obj_get(v, "source")));
    }
    yyjson_arr_foreach(yyjson_obj_get(root, "noId"), i, n, v) check(yyjson_get_str(v), "", "");
    const bool parsed = doc != nullptr;
    yyjson_doc_free(doc);
    wrong += planted.size(); // planted and not found
    std::printf("tree %s: %zu video files found by the scan, %zu planted files not found\n", tree.c_str(), seen,
                planted.size());
    row("ids planted and found, mismatches (count)", {static_cast<double>(parsed ? wrong : 1)}, 0);
    row("scan against tqmovie_id_for_file per file, mismatches (count)",
        {static_cast<double>(parsed ? unlike_library : 1)}, 0);
}

void timing_row(const std::string &tree, int runs) {
    const std::vector<std::string> scan = {TQ_TOOL_PATH, "scan", "--no-lookup", tree};
    const std::vector<std::string> find = {"find", tree, "-type", "f"};
    double s = 0, f = 0;
    for (int w = 0; w < 2; ++w) { // warm-up: the tree into the page cache
        run(scan, nullptr);
        run(find, nullptr);
    }
    std::vector<double> ratios;
    for (int r = 0; r < runs; ++r) {
        // Interleaved, the order swapped every run, so both see the same machine.
        const bool ok = r % 2 ? run(find, nullptr, &f) == 0 && run(scan, nullptr, &s) >= 0
                              : run(scan, nullptr, &s) >= 0 && run(find, nullptr, &f) == 0;
        if (!ok || f <= 0) continue;
        ratios.push_back(s / f);
        std::printf("  run %d: scan %.3f s, find %.3f s\n", r + 1, s, f);
    }
    if (ratios.empty()) {
        std::printf("scan --no-lookup / find -type f: no run completed  missed\n");
        ++missed;
        return;
    }
    row("scan --no-lookup / find -type f over 100,000 files, wall", ratios, 4.0);
}

// Names of 200 bytes and .nfo texts of 20 KB, ids where a library manager puts them:
// a tag or a bare id in a third of the names each, a unique id near the end of half the
// .nfo texts, an address in a quarter; the rest name none and are read to the end.
std::vector<std::string> id_texts() {
    std::vector<std::string> texts;
    for (int k = 0; k < 1000; ++k) {
        const std::string digits = std::to_string(1000000 + k);
        const std::string end = k % 3 == 0   ? " [imdbid-tt" + digits + "].mkv"
                                : k % 3 == 1 ? ".tt" + digits + ".mkv"
                                             : "-GRP" + digits + ".mkv";
        std::string name = "The.Long.Title.Of.Film." + std::to_string(k) + ".2019.1080p.BluRay.DTS-HD.MA.5.1.x264";
        while (name.size() < 200 - end.size()) name += ".Extended.Cut";
        name.resize(200 - end.size());
        texts.push_back(name + end);
    }
    for (int k = 0; k < 100; ++k) {
        std::string nfo = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<movie>\n  <title>Film " + std::to_string(k) +
                          "</title>\n  <plot>";
        while (nfo.size() < 19000) nfo += "A plot sentence with 2019 in it and no id anywhere (12 words). ";
        nfo += "</plot>\n";
        while (nfo.size() < 19800) nfo += "  <actor><name>Some Actor</name><role>Role</role></actor>\n";
        const std::string id = "tt" + std::to_string(2000000 + k);
        if (k % 4 < 2)
            nfo += "  <uniqueid type=\"imdb\" default=\"true\">" + id + "</uniqueid>\n";
        else if (k % 4 == 2)
            nfo += "  <url>https://www.imdb.com/title/" + id + "/</url>\n";
        nfo += "</movie>\n";
        nfo.resize(20480, '\n');
        texts.push_back(nfo);
    }
    return texts;
}

void id_reader_row(int runs) {
    const std::vector<std::string> texts = id_texts();
    size_t bytes = 0;
    for (const auto &t : texts) bytes += t.size();
    std::vector<double> ratios;
    long found = 0;
    for (int r = 0; r < runs; ++r) {
        size_t done = 0;
        const auto t0 = clock_type::now();
        double s = 0;
        do {
            for (const auto &t : texts) {
                char id[16];
                found += tqmovie_id_in_text(t.data(), t.size(), id, sizeof id) > 0;
            }
            done += bytes;
            s = std::chrono::duration<double>(clock_type::now() - t0).count();
        } while (s < 0.1);
        const double mb_s = static_cast<double>(done) / s / 1e6;
        ratios.push_back(200 / mb_s);
    }
    std::sort(ratios.begin(), ratios.end());
    char extra[96];
    std::snprintf(extra, sizeof extra, ", %.0f MB/s median, %zu KB of names and .nfo texts",
                  200 / ratios[ratios.size() / 2], bytes / 1024);
    row("tqmovie_id_in_text, 200 / MB/s", ratios, 1.0, extra);
    if (found == 0) std::printf("(no id found: the reader is broken)\n");
}

} // namespace

int main(int argc, char **argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "quick";
    const char *tmp = std::getenv("TMPDIR");
    if (!tmp || !*tmp) tmp = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string dir = std::string(tmp) + "/tq_scan_XXXXXX";
    if (!mkdtemp(dir.data())) {
        std::perror("drive_scan: mkdtemp");
        return 1;
    }
    const std::string tree = dir + "/library", planted = dir + "/planted.tsv", found = dir + "/found.json";
    if (run({TQ_MAKE_TREE_PATH, tree, "100000"}, planted.c_str()) != 0) {
        std::printf("make_tree failed  missed\n");
        ++missed;
    } else {
        run({TQ_TOOL_PATH, "scan", "--no-lookup", "--json", tree}, found.c_str());
        check_rows(tree, planted, found);
        timing_row(tree, quick ? 3 : 11);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    id_reader_row(quick ? 3 : 11);
    std::printf("drive_scan: %d met, %d missed\n", met, missed);
    return missed ? 1 : 0;
}
