// SPDX-License-Identifier: MIT
// tqmovie scan: the walk over the folders, and the id of each video file found.
//
// Each folder is listed once (its device and inode are remembered, so a link back up
// the tree ends there), and its listing answers which sidecars a file has: an .nfo is
// opened only when the listing holds it (its name with .nfo, movie.nfo, or a season
// folder's tvshow.nfo one folder up), and movie.nfo and tvshow.nfo once per folder
// however many files share them. The rest follows tqmovie_id_for_file's own order and
// rules (the file's name, its folder, the folder above a season or disc folder), so
// that every file gets the id the library gives it, without an open of a name that is
// not there.
#include "scan.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tqtool {
namespace {

constexpr bool ascii_less(const char *a, const char *b) {
    while (*a && *a == *b) ++a, ++b;
    return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b);
}

// The endings of a video file's name, lower case.
constexpr const char *video_extensions[] = {"3g2",  "3gp", "asf",  "avi",  "divx", "dv",   "evo", "f4v", "flv", "iso",
                                            "m1v",  "m2t", "m2ts", "m2v",  "m4v",  "mk3d", "mkv", "mov", "mp4", "mpe",
                                            "mpeg", "mpg", "mts",  "mxf",  "nsv",  "ogm",  "ogv", "qt",  "rm",  "rmvb",
                                            "strm", "ts",  "vob",  "webm", "wmv",  "wtv",  "xvid"};
static_assert(std::is_sorted(std::begin(video_extensions), std::end(video_extensions), ascii_less));

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; }

bool is_video(const char *name, size_t len) {
    size_t ext = len; // just past the last dot
    while (ext > 0 && name[ext - 1] != '.') --ext;
    const size_t n = len - ext;
    char key[8];
    if (ext <= 1 || n == 0 || n >= sizeof key) return false;
    for (size_t k = 0; k < n; ++k) key[k] = lower(name[ext + k]);
    key[n] = '\0';
    return std::binary_search(std::begin(video_extensions), std::end(video_extensions), key,
                              [](const char *a, const char *b) { return ascii_less(a, b); });
}

bool ends_with_nfo(const char *name, size_t len) {
    return len > 4 && name[len - 4] == '.' && lower(name[len - 3]) == 'n' && lower(name[len - 2]) == 'f' &&
           lower(name[len - 1]) == 'o';
}

// ---------------------------------------------------------------------------------
// The library's rules for a file's folders (tqmovie_id_for_file), kept in step
// ---------------------------------------------------------------------------------

bool starts_with(const char *s, size_t len, const char *word) {
    size_t i = 0;
    for (; word[i]; ++i)
        if (i >= len || lower(s[i]) != word[i]) return false;
    return true;
}

// A season, disc or disc-structure folder, whose parent names the title: "Season 1",
// "S01", "Specials", "Disc 2", "CD1", "BDMV", "VIDEO_TS".
bool is_season_or_disc(const char *name, size_t len) {
    auto word_then_number = [&](const char *w, bool sep_ok) {
        size_t i = std::strlen(w);
        if (!starts_with(name, len, w)) return false;
        if (sep_ok)
            while (i < len && (name[i] == ' ' || name[i] == '_' || name[i] == '-' || name[i] == '.')) ++i;
        if (i == len) return false;
        for (; i < len; ++i)
            if (name[i] < '0' || name[i] > '9') return false;
        return true;
    };
    auto exactly = [&](const char *w) { return std::strlen(w) == len && starts_with(name, len, w); };
    return word_then_number("season", true) || word_then_number("s", false) || exactly("specials") ||
           word_then_number("disc", true) || word_then_number("disk", true) || word_then_number("cd", true) ||
           exactly("bdmv") || exactly("video_ts");
}

// The component of path that ends before `end`, as [*from, end).
bool previous_component(const char *path, size_t end, size_t *from) {
    while (end > 0 && path[end - 1] == '/') --end;
    if (end == 0) return false;
    size_t b = end;
    while (b > 0 && path[b - 1] != '/') --b;
    *from = b;
    return true;
}

// ---------------------------------------------------------------------------------
// Folders listed so far
// ---------------------------------------------------------------------------------

class folder_set {
public:
    folder_set() = default;
    folder_set(const folder_set &) = delete;
    folder_set &operator=(const folder_set &) = delete;
    ~folder_set() { std::free(slots_); }

    // 1 when the folder is new (and now held), 0 when it was held, -1 out of memory.
    int add(dev_t dev, ino_t ino) {
        if ((count_ + 1) * 2 > cap_ && !rehash(cap_ ? cap_ * 2 : 256)) return -1;
        slot *s = find(dev, ino);
        if (s->used) return 0;
        *s = {dev, ino, true};
        ++count_;
        return 1;
    }

private:
    struct slot {
        dev_t dev;
        ino_t ino;
        bool used;
    };
    slot *find(dev_t dev, ino_t ino) {
        uint64_t h = (static_cast<uint64_t>(dev) * 0x9E3779B97F4A7C15u) ^ static_cast<uint64_t>(ino);
        h *= 0xBF58476D1CE4E5B9u;
        for (size_t i = static_cast<size_t>(h >> 17) & (cap_ - 1);; i = (i + 1) & (cap_ - 1))
            if (!slots_[i].used || (slots_[i].dev == dev && slots_[i].ino == ino)) return &slots_[i];
    }
    bool rehash(size_t cap) {
        auto *old = slots_;
        const size_t old_cap = cap_;
        slots_ = static_cast<slot *>(std::calloc(cap, sizeof(slot)));
        if (!slots_) {
            slots_ = old;
            return false;
        }
        cap_ = cap;
        for (size_t i = 0; i < old_cap; ++i)
            if (old[i].used) *find(old[i].dev, old[i].ino) = old[i];
        std::free(old);
        return true;
    }
    slot *slots_ = nullptr;
    size_t cap_ = 0;
    size_t count_ = 0;
};

// ---------------------------------------------------------------------------------
// The walk
// ---------------------------------------------------------------------------------

// The library opens at most a 4 KiB path; past that it is left to decide.
constexpr size_t path_most = 4096;
// ... and reads the first 1 MiB of an .nfo.
constexpr size_t nfo_most = size_t{1} << 20;

// Whether the listing of a season folder's parent holds a tvshow.nfo.
enum class tvshow { no, yes, unknown };

struct entry {
    size_t name; // in walker::names_
    size_t len;
    unsigned char type; // DT_*; DT_UNKNOWN once known to be neither file nor folder
};

// An .nfo read once for every file of a folder.
struct shared_nfo {
    bool read;
    char id[16];
};

struct pending {
    size_t path; // in walker::stack_text_
    size_t len;
    tvshow parent;
};

class walker {
public:
    walker(const scan_events &ev, scan_list &out) : ev_(ev), out_(out) {}
    ~walker() { std::free(match_root_); }
    bool walk_root(const char *root);

private:
    void unreadable(const char *path, int err) {
        ++out_.unreadable;
        ev_.unreadable(ev_.user, path, err);
    }
    bool list_folder(const char *path, size_t len, tvshow parent);
    bool add_file(const char *folder, size_t folder_len, const char *name, size_t name_len, bool listed, tvshow parent);
    void match(const char *path, size_t len, scan_file &f, bool listed, tvshow parent);
    bool has_nfo(const char *lower_name) const;
    bool sidecar(const char *path, size_t len, size_t base, size_t parent_at, bool season, tvshow parent, scan_file &f);
    int32_t read_nfo(const char *folder, size_t folder_len, const char *name, size_t name_len, char *id);
    bool read_shared(shared_nfo &nfo, const char *folder, size_t folder_len, const char *name, char *id);
    static bool join(grow<char> &to, const char *folder, size_t folder_len, const char *name, size_t name_len);

    const scan_events &ev_;
    scan_list &out_;
    folder_set seen_;
    grow<entry> entries_; // the folder being listed, sorted by name
    grow<char> names_;    // ... their names, NUL-terminated
    grow<size_t> nfos_;   // its .nfo names in lower case, sorted (offsets in nfo_text_)
    grow<char> nfo_text_;
    grow<pending> stack_; // folders still to list, the next one last
    grow<char> stack_text_;
    grow<char> folder_; // the folder being listed, NUL-terminated
    grow<char> child_;  // a path in it
    grow<char> match_path_;
    grow<char> nfo_contents_; // an .nfo's contents
    shared_nfo movie_nfo_{};  // the folder's movie.nfo
    shared_nfo tvshow_nfo_{}; // the tvshow.nfo above the folder
    // A root named "." or "..": files are matched under its full name, so that the
    // folder's own name counts as it would from its parent.
    char *match_root_ = nullptr;
    size_t root_len_ = 0;
};

bool walker::join(grow<char> &to, const char *folder, size_t folder_len, const char *name, size_t name_len) {
    const bool slash = name_len > 0 && folder_len > 0 && folder[folder_len - 1] != '/';
    if (!to.reserve(to.count + folder_len + name_len + 2)) return false;
    to.append(folder, folder_len);
    if (slash) to.push('/');
    if (name_len > 0) to.append(name, name_len);
    to.push('\0');
    return true;
}

bool names_itself_with_dots(const char *root, size_t len) {
    while (len > 1 && root[len - 1] == '/') --len;
    size_t b = len;
    while (b > 0 && root[b - 1] != '/') --b;
    const size_t n = len - b;
    return (n == 1 && root[b] == '.') || (n == 2 && root[b] == '.' && root[b + 1] == '.');
}

bool walker::walk_root(const char *root) {
    const size_t len = std::strlen(root);
    struct stat st;
    if (stat(root, &st) != 0) {
        unreadable(root, errno);
        return true;
    }
    if (S_ISREG(st.st_mode)) return add_file(root, len, nullptr, 0, false, tvshow::unknown);
    if (!S_ISDIR(st.st_mode)) {
        unreadable(root, ENOTDIR);
        return true;
    }
    std::free(match_root_);
    match_root_ = names_itself_with_dots(root, len) ? realpath(root, nullptr) : nullptr;
    root_len_ = len;
    stack_.count = stack_text_.count = 0;
    if (!stack_text_.append(root, len) || !stack_.push({0, len, tvshow::unknown})) return false;
    while (stack_.count > 0 && !was_interrupted()) {
        const pending p = stack_.items[--stack_.count];
        folder_.count = 0;
        if (!folder_.append(stack_text_.items + p.path, p.len) || !folder_.push('\0')) return false;
        stack_text_.count = p.path;
        if (!list_folder(folder_.items, p.len, p.parent)) return false;
    }
    return true;
}

bool walker::list_folder(const char *path, size_t len, tvshow parent) {
    DIR *d = opendir(path);
    if (!d) {
        unreadable(path, errno);
        return true;
    }
    struct stat st;
    const int added = fstat(dirfd(d), &st) == 0 ? seen_.add(st.st_dev, st.st_ino) : 1;
    if (added <= 0) {
        closedir(d);
        return added == 0;
    }
    entries_.count = names_.count = 0;
    bool ok = true;
    int read_error = 0;
    while (ok) {
        errno = 0;
        const dirent *de = readdir(d);
        if (!de) {
            read_error = errno;
            break;
        }
        if (de->d_name[0] == '.') continue; // hidden, and "." and ".."
        const size_t n = std::strlen(de->d_name);
        ok = entries_.push({names_.count, n, de->d_type}) && names_.append(de->d_name, n + 1);
    }
    closedir(d);
    if (!ok) return false;
    if (read_error) unreadable(path, read_error);

    const char *names = names_.items;
    std::sort(entries_.items, entries_.items + entries_.count,
              [names](const entry &a, const entry &b) { return std::strcmp(names + a.name, names + b.name) < 0; });
    nfos_.count = nfo_text_.count = 0;
    for (size_t i = 0; i < entries_.count; ++i) {
        const entry &e = entries_.items[i];
        if (!ends_with_nfo(names + e.name, e.len)) continue;
        if (!nfos_.push(nfo_text_.count) || !nfo_text_.reserve(nfo_text_.count + e.len + 1)) return false;
        for (size_t k = 0; k < e.len; ++k) nfo_text_.push(lower(names[e.name + k]));
        nfo_text_.push('\0');
    }
    const char *nfo_text = nfo_text_.items;
    std::sort(nfos_.items, nfos_.items + nfos_.count,
              [nfo_text](size_t a, size_t b) { return std::strcmp(nfo_text + a, nfo_text + b) < 0; });

    movie_nfo_.read = tvshow_nfo_.read = false;
    for (size_t i = 0; i < entries_.count && !was_interrupted(); ++i) {
        entry &e = entries_.items[i];
        const char *name = names + e.name;
        if (e.type == DT_LNK || e.type == DT_UNKNOWN) {
            // A link counts as what it names; a broken one as nothing.
            child_.count = 0;
            struct stat target;
            if (!join(child_, path, len, name, e.len)) return false;
            e.type = stat(child_.items, &target) != 0 ? DT_UNKNOWN
                     : S_ISDIR(target.st_mode)        ? DT_DIR
                     : S_ISREG(target.st_mode)        ? DT_REG
                                                      : DT_UNKNOWN;
        }
        if (e.type == DT_REG && is_video(name, e.len) && !add_file(path, len, name, e.len, true, parent)) return false;
    }
    const tvshow here = has_nfo("tvshow.nfo") ? tvshow::yes : tvshow::no;
    for (size_t i = entries_.count; i-- > 0;) {
        const entry &e = entries_.items[i];
        if (e.type != DT_DIR) continue;
        const size_t at = stack_text_.count;
        if (!join(stack_text_, path, len, names + e.name, e.len)) return false;
        if (!stack_.push({at, stack_text_.count - at - 1, here})) return false;
    }
    ev_.folder_done(ev_.user, out_);
    return true;
}

bool walker::add_file(const char *folder, size_t folder_len, const char *name, size_t name_len, bool listed,
                      tvshow parent) {
    const size_t at = out_.text.count;
    if (!join(out_.text, folder, folder_len, name, name_len)) return false;
    const char *path = out_.text.items + at;
    size_t len = out_.text.count - at - 1;
    if (match_root_ && listed) {
        const char *rest = path + root_len_;
        while (*rest == '/') ++rest;
        match_path_.count = 0;
        if (!join(match_path_, match_root_, std::strlen(match_root_), rest, std::strlen(rest))) return false;
        path = match_path_.items;
        len = match_path_.count - 1;
    }
    scan_file f{at, "", source_none};
    match(path, len, f, listed, parent);
    if (!out_.files.push(f)) return false;
    if (f.id[0]) ++out_.with_id;
    return true;
}

bool walker::has_nfo(const char *lower_name) const {
    const char *text = nfo_text_.items;
    const size_t *end = nfos_.items + nfos_.count;
    const size_t *at = std::lower_bound(static_cast<const size_t *>(nfos_.items), end, lower_name,
                                        [text](size_t a, const char *key) { return std::strcmp(text + a, key) < 0; });
    return at != end && std::strcmp(text + *at, lower_name) == 0;
}

// The id an .nfo at folder/name gives, read as the library reads a sidecar: a regular
// file only, opened without waiting (a FIFO there is passed over), its first 1 MiB.
int32_t walker::read_nfo(const char *folder, size_t folder_len, const char *name, size_t name_len, char *id) {
    char path[path_most];
    std::memcpy(path, folder, folder_len);
    std::memcpy(path + folder_len, name, name_len);
    path[folder_len + name_len] = '\0';
    id[0] = '\0';
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return 0;
    struct stat st;
    int32_t n = 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const size_t want = static_cast<uint64_t>(st.st_size) < nfo_most ? static_cast<size_t>(st.st_size) : nfo_most;
        size_t got = 0;
        if (nfo_contents_.reserve(want ? want : 1)) {
            while (got < want) {
                const ssize_t r = ::read(fd, nfo_contents_.items + got, want - got);
                if (r < 0 && errno == EINTR) continue;
                if (r <= 0) break;
                got += static_cast<size_t>(r);
            }
            n = tqmovie_id_in_text(nfo_contents_.items, got, id, 16);
        }
    }
    close(fd);
    return n > 0 ? n : 0;
}

bool walker::read_shared(shared_nfo &nfo, const char *folder, size_t folder_len, const char *name, char *id) {
    if (!nfo.read) {
        nfo.read = true;
        read_nfo(folder, folder_len, name, std::strlen(name), nfo.id);
    }
    std::memcpy(id, nfo.id, sizeof nfo.id);
    return id[0] != '\0';
}

// The library's sidecars in its order, each opened only when the listing holds it
// (letter case aside: a file system may fold it): the file's name with .nfo, movie.nfo
// beside it, a season folder's tvshow.nfo one folder up.
bool walker::sidecar(const char *path, size_t len, size_t base, size_t parent_at, bool season, tvshow parent,
                     scan_file &f) {
    const char *dot = nullptr;
    for (size_t i = base + 1; i < len; ++i)
        if (path[i] == '.') dot = path + i;
    if (dot) {
        char key[path_most];
        const size_t stem = static_cast<size_t>(dot - (path + base));
        for (size_t k = 0; k < stem; ++k) key[k] = lower(path[base + k]);
        std::memcpy(key + stem, ".nfo", sizeof ".nfo");
        if (has_nfo(key) && read_nfo(path, static_cast<size_t>(dot - path), ".nfo", 4, f.id) > 0) return true;
    }
    if (has_nfo("movie.nfo") && read_shared(movie_nfo_, path, base, "movie.nfo", f.id)) return true;
    // Above the first folder of a walk the listing is not at hand: the name is tried.
    return season && parent != tvshow::no && read_shared(tvshow_nfo_, path, parent_at, "tvshow.nfo", f.id);
}

void walker::match(const char *path, size_t len, scan_file &f, bool listed, tvshow parent) {
    size_t base = 0;
    if (!previous_component(path, len, &base)) return;
    size_t parent_at = 0;
    const bool has_parent = previous_component(path, base, &parent_at);
    const size_t parent_len = has_parent ? base - parent_at - 1 : 0;
    const bool season = has_parent && is_season_or_disc(path + parent_at, parent_len);
    if (!listed || len + sizeof "/tvshow.nfo" >= path_most) {
        tqmovie_id_for_file(path, f.id, sizeof f.id, &f.source);
        return;
    }
    size_t grand = 0;
    if (sidecar(path, len, base, parent_at, season, parent, f))
        f.source = source_sidecar;
    else if (tqmovie_id_in_text(path + base, len - base, f.id, sizeof f.id) > 0)
        f.source = source_name;
    else if (has_parent && tqmovie_id_in_text(path + parent_at, parent_len, f.id, sizeof f.id) > 0)
        f.source = source_folder;
    else if (season && previous_component(path, parent_at, &grand) &&
             tqmovie_id_in_text(path + grand, parent_at - 1 - grand, f.id, sizeof f.id) > 0)
        f.source = source_folder;
    else
        f.id[0] = '\0';
}

} // namespace

bool scan_walk(const char *const *roots, size_t count, const scan_events &ev, scan_list &out) {
    walker w(ev, out);
    for (size_t i = 0; i < count && !was_interrupted(); ++i)
        if (!w.walk_root(roots[i])) return false;
    return true;
}

} // namespace tqtool
