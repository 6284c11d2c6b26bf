// SPDX-License-Identifier: MIT
// make_tree: a media library of FILES files (default 100,000) under DIR, for timing and
// checking `tqmovie scan`. Writes one line per video file a scan should find,
// "PATH<TAB>ID" (ID empty when the file names none), PATH as `tqmovie scan DIR` prints
// it. DIR must not exist yet.
//   make_tree DIR [FILES] > planted.tsv
// Twelve kinds of title take turns, so every name form is spread through the tree:
// bracket tags in folder and file names, bare ids, .nfo sidecars holding an address, a
// movie.nfo with unique ids, shows whose tvshow.nfo sits above their season folders,
// shows tagged in the folder above their seasons, disc folders, an .nfo naming no id
// beside a named file, decoys that name no id, files without one, hidden folders and
// files that are not video (posters, subtitles). Sidecars are written before the videos
// beside them, so a tree cut short at FILES still plants what it says.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string root;
long files_left = 0;

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "make_tree: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void folder(const std::string &rel) {
    static std::string last; // the folder of the previous file, most often this one's
    if (rel == last) return;
    last = rel;
    std::string path;
    for (size_t at = 0; at != std::string::npos;) {
        const size_t slash = rel.find('/', at);
        path = root + "/" + rel.substr(0, slash);
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) fail(path);
        at = slash == std::string::npos ? slash : slash + 1;
    }
}

// One file (its folders made first); false once FILES are made. planted: the id the
// scan should give, or nullptr for a file the scan skips.
bool file(const std::string &rel, const char *planted, const std::string &text = "") {
    if (files_left <= 0) return false;
    const size_t slash = rel.rfind('/');
    if (slash != std::string::npos) folder(rel.substr(0, slash));
    const std::string path = root + "/" + rel;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) fail(path);
    if (!text.empty() && write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) fail(path);
    close(fd);
    --files_left;
    if (planted) std::printf("%s\t%s\n", path.c_str(), planted);
    return true;
}

// Filler for an .nfo: a plot and a cast, as a library manager writes them.
std::string nfo_body(unsigned long n) {
    std::string s = "  <title>Title " + std::to_string(n) + "</title>\n  <plot>";
    for (int k = 0; k < 12; ++k)
        s += "A long plot sentence that names no id at all, number " + std::to_string(k) + ". ";
    s += "</plot>\n";
    for (int k = 0; k < 6; ++k)
        s += "  <actor><name>Actor " + std::to_string(k) + "</name><role>Role</role><order>" + std::to_string(k) +
             "</order></actor>\n";
    return s;
}

void title(unsigned long n) {
    // Mostly 7-digit ids, some 8-digit ones; all distinct.
    const std::string id = "tt" + std::to_string(n % 7 == 3 ? 10000000 + n : 1000000 + n);
    const char *tt = id.c_str();
    const std::string num = std::to_string(n), year = std::to_string(1950 + n % 75);
    const std::string letter(1, static_cast<char>('A' + n / 12 % 26));
    const std::string movies = "Movies/" + letter + "/";
    const std::string shows = "Shows/" + letter + "/";
    const std::string name = "Title " + num + " (" + year + ")";
    switch (n % 12) {
    case 0: // tagged folder
        file(movies + name + " [imdbid-" + id + "]/" + name + ".mkv", tt) &&
            file(movies + name + " [imdbid-" + id + "]/poster.jpg", nullptr);
        break;
    case 1: // bare id in a release name
        file(movies + "Title." + num + "." + year + ".1080p.BluRay.x264." + id + "-GRP.mp4", tt);
        break;
    case 2: // bracket tag in the file's name, a subtitle beside it
        file(movies + name + " {imdb-" + id + "}.srt", nullptr) && file(movies + name + " {imdb-" + id + "}.m4v", tt);
        break;
    case 3: // the file's own .nfo holding an address
        file(movies + name + "/" + name + ".nfo", nullptr,
             "Title " + num + "\nhttps://www.imdb.com/title/" + id + "/\n" + nfo_body(n)) &&
            file(movies + name + "/" + name + ".avi", tt);
        break;
    case 4: // movie.nfo with unique ids, a film and its trailer
        file(movies + name + "/movie.nfo", nullptr,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<movie>\n" + nfo_body(n) + "  <uniqueid type=\"tmdb\">" +
                 num + "</uniqueid>\n  <uniqueid type=\"imdb\" default=\"true\">" + id + "</uniqueid>\n</movie>\n") &&
            file(movies + name + "/" + name + ".mkv", tt) && file(movies + name + "/" + name + "-trailer.mov", tt);
        break;
    case 5: { // a show: tvshow.nfo above its season folders
        const std::string show = shows + "Show " + num + "/";
        if (!file(show + "tvshow.nfo", nullptr,
                  "<tvshow>\n" + nfo_body(n) + "  <uniqueid type=\"imdb\">" + id + "</uniqueid>\n</tvshow>\n"))
            break;
        for (int s = 1; s <= 2; ++s)
            for (int e = 1; e <= 4; ++e) {
                char ep[64];
                std::snprintf(ep, sizeof ep, "Season %02d/Show %lu S%02dE%02d.mkv", s, n, s, e);
                if (!file(show + ep, tt)) return;
            }
        break;
    }
    case 6: // a show tagged in the folder above its season
        for (int e = 1; e <= 3; ++e)
            if (!file(shows + "Show " + num + " [imdbid-" + id + "]/S01/Show " + num + " - 1x0" + std::to_string(e) +
                          ".mp4",
                      tt))
                break;
        break;
    case 7: // no id, and decoys that name none
        file("Home Videos/Clip " + num + " 2019-07-14.mp4", "") &&
            file("Home Videos/butt" + std::to_string(1000000 + n) + " " + num + ".mkv", "") &&
            file("Home Videos/Sample tt" + std::to_string(100000 + n % 800000) + " " + num + ".webm", "");
        break;
    case 8: // an .nfo naming no id: the file's own name decides
        file(movies + "Docu " + num + "/Docu " + num + " " + id + ".nfo", nullptr,
             "<movie>\n" + nfo_body(n) + "</movie>\n") &&
            file(movies + "Docu " + num + "/Docu " + num + " " + id + ".ogv", tt);
        break;
    case 9: // a hidden folder: skipped
        file("Movies/.@__thumb/" + name + " " + id + ".mkv", nullptr);
        break;
    case 10: // upper-case name, the id among other tags in the folder
        file(movies + name + " [tmdbid-" + num + "] [imdbid-" + id + "]/TITLE " + num + ".MKV", tt);
        break;
    default: // a DVD's VIDEO_TS folder under a tagged folder
        file(movies + name + " [imdbid-" + id + "]/VIDEO_TS/VIDEO_TS.IFO", nullptr) &&
            file(movies + name + " [imdbid-" + id + "]/VIDEO_TS/VTS_01_1.VOB", tt) &&
            file(movies + name + " [imdbid-" + id + "]/VIDEO_TS/VTS_01_2.VOB", tt);
        break;
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_tree DIR [FILES] > planted.tsv\n");
        return 64;
    }
    root = argv[1];
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    files_left = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 100000;
    if (files_left <= 0) {
        std::fprintf(stderr, "make_tree: FILES must be a positive number\n");
        return 64;
    }
    if (mkdir(root.c_str(), 0755) != 0) fail(root);
    for (unsigned long n = 0; files_left > 0; ++n) title(n);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
