// SPDX-License-Identifier: MIT
// tqmovie_cache_file: the record cache saved to a file and loaded back, so that a
// host that restarts keeps what is still fresh.
//
// The file is JSON:
//   {"format":"tqmovie-cache","version":1,"entries":[
//     {"imdbId":"tt0111161","basic":{...},"basicAt":1765300000,"basicLanguage":"de-DE",
//      "detail":{...},"detailAt":1765300000,"detailLanguage":"en-US","detailSections":15},
//     ...]}
// with the records in their complete export form, in slot order. Saving writes a new
// file beside the old one and renames it over it, so a crash leaves one or the other,
// never a torn file. Loading builds the whole cache aside and swaps it in only when
// every entry was read, so a bad file changes nothing.
#include "tq_cache.h"
#include "tq_fields.h"

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <type_traits>
#include <utility>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *file_format = "tqmovie-cache";
constexpr int64_t file_version = 1;

struct fd_closer {
    int fd = -1;
    ~fd_closer() {
        if (fd >= 0) ::close(fd);
    }
};

int32_t file_error(tqmovie_client &c, const char *path, const char *what) noexcept {
    tq_err(c, "cache file %s: %s%s%s", path, what, errno ? ": " : "", errno ? std::strerror(errno) : "");
    return TQMOVIE_ERR_FILE;
}

bool write_all(int fd, const char *p, size_t n) noexcept {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// One entry of the file: the title's records with their stamps, languages, sections.
void write_entry(tq_text &out, const tq_cache_entry &e, const tq_cache_slot_meta &m) noexcept {
    out.put("{\"imdbId\":");
    tq_json_string(out, e.imdb_id);
    if (e.basic) {
        out.put(",\"basic\":");
        tq_json_full(out, *e.basic);
        out.fmt(",\"basicAt\":%lld,\"basicLanguage\":", static_cast<long long>(e.basic_at));
        tq_json_string(out, m.basic_lang ? m.basic_lang : "en-US");
    }
    if (e.detail) {
        out.put(",\"detail\":");
        tq_json_full(out, *e.detail);
        out.fmt(",\"detailAt\":%lld,\"detailSections\":%u,\"detailLanguage\":", static_cast<long long>(e.detail_at),
                m.detail_sections);
        tq_json_string(out, m.detail_lang ? m.detail_lang : "en-US");
    }
    out.put("}");
}

// The directory part of path, for the temporary file and the directory sync.
void dir_of(const char *path, char (&dir)[4096]) noexcept {
    const char *slash = std::strrchr(path, '/');
    if (!slash)
        std::snprintf(dir, sizeof dir, ".");
    else if (slash == path)
        std::snprintf(dir, sizeof dir, "/");
    else
        std::snprintf(dir, sizeof dir, "%.*s", static_cast<int>(slash - path), path);
}

// A save writes "<path>.tqtmp.<pid>.<n>", a name only a save makes, and holds an
// exclusive lock on it while writing. A temporary whose lock is free belongs to a
// save that died (the kernel drops a dead process's locks): the next save of the
// same file removes it. Temporaries of this process are never touched: another
// thread may be writing one.
constexpr char temp_infix[] = ".tqtmp.";

// Whether name is "<base>.tqtmp.<digits>[.<digits>]", and the writer's pid from it.
bool is_temp_of(const char *name, const char *base, long *pid) noexcept {
    const size_t n = std::strlen(base);
    if (std::strncmp(name, base, n) != 0 || std::strncmp(name + n, temp_infix, sizeof temp_infix - 1) != 0)
        return false;
    const char *p = name + n + sizeof temp_infix - 1;
    char *end = nullptr;
    errno = 0;
    *pid = std::strtol(p, &end, 10);
    if (end == p || errno != 0 || *pid <= 0) return false;
    if (*end == '.') {
        const char *q = end + 1;
        std::strtoul(q, &end, 10);
        if (end == q) return false;
    }
    return *end == '\0';
}

// Removes the temporaries that saves of path left behind when they died.
void remove_dead_temps(const char *dir, const char *path) noexcept {
    const char *slash = std::strrchr(path, '/');
    const char *base = slash ? slash + 1 : path;
    DIR *d = ::opendir(dir);
    if (!d) return;
    const long self = static_cast<long>(::getpid());
    const int dfd = ::dirfd(d);
    while (const dirent *e = ::readdir(d)) {
        long pid = 0;
        if (!is_temp_of(e->d_name, base, &pid) || pid == self) continue;
        const int fd = ::openat(dfd, e->d_name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dfd, e->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

// A new temporary for a save of path, locked; -1 with errno on failure.
int open_temp(const char *path, malloc_ptr<char> &name) noexcept {
    static std::atomic<unsigned> serial{0};
    name.reset(tq_fmt("%s%s%ld.%u", path, temp_infix, static_cast<long>(::getpid()), serial.fetch_add(1)));
    if (!name) return errno = ENOMEM, -1;
    const int fd = ::open(name.get(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX) != 0) {
        const int saved = errno;
        ::unlink(name.get());
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// ----------------------------------------------------------------------------
// Reading
// ----------------------------------------------------------------------------

int32_t too_dense(tqmovie_client &c) noexcept {
    tq_err(c, "cache file: %s", tq_err_too_dense);
    return TQMOVIE_ERR_PARSE;
}

// A bad entry: which one and why, as the error text.
int32_t bad_entry(tqmovie_client &c, size_t i, const char *why) noexcept {
    tq_err(c, "cache file: entry %zu: %s", i, why);
    return TQMOVIE_ERR_PARSE;
}

bool is_stamp(yyjson_val *v) noexcept {
    return yyjson_is_int(v) && (yyjson_is_sint(v) || yyjson_get_uint(v) <= INT64_MAX);
}

// The language member: absent or a string (NULL when absent).
bool language_of(yyjson_val *v, const char **out) noexcept {
    *out = yyjson_is_str(v) ? yyjson_get_str(v) : nullptr;
    return v == nullptr || yyjson_is_str(v);
}

// Where a load reports (c) and the client whose cache it builds (into).
struct loading {
    tqmovie_client &c, &into;
};

// Reads one record of an entry into the cache being built. 0, or the status to fail
// the whole load with.
template <typename R>
int32_t read_record(const loading &l, size_t i, const char *id, yyjson_val *entry, const char *key, const char *at_key,
                    const char *lang_key, uint32_t sections) noexcept {
    yyjson_val *obj = yyjson_obj_get(entry, key);
    if (!obj) return TQMOVIE_OK;
    yyjson_val *at = yyjson_obj_get(entry, at_key);
    const char *lang = nullptr;
    if (!yyjson_is_obj(obj)) return bad_entry(l.c, i, "a record is not an object");
    if (!is_stamp(at)) return bad_entry(l.c, i, "a record has no stamp");
    if (!language_of(yyjson_obj_get(entry, lang_key), &lang)) return bad_entry(l.c, i, "a language is not a text");
    // The record must be filed under the entry's own id (the decoders' first spelling
    // that holds a text), or the file would plant a record under a title it does not
    // describe.
    const char *own = nullptr;
    for (const char *spelling : tq_id_keys)
        if (!own) own = yyjson_get_str(yyjson_obj_get(obj, spelling));
    if (!own || std::strcmp(own, id) != 0) return bad_entry(l.c, i, "a record carries another id");
    R *rec = tq_calloc_n<R>(1);
    if (!rec) return TQMOVIE_ERR_NOMEM;
    int32_t decoded;
    if constexpr (std::is_same_v<R, tq_basic>)
        decoded = tq_parse_basic_obj(obj, rec);
    else
        decoded = tq_parse_detail_obj(obj, rec, TQMOVIE_DETAIL_ALL);
    bool stored = false;
    if (decoded == 0 && rec->imdb_id) { // else memory ran out
        // A stamp from the future (a clock set back, or a planted file) ages from now
        // rather than staying fresh for ever.
        const int64_t now = tq_now();
        const int64_t stamp = yyjson_get_sint(at) > now ? now : yyjson_get_sint(at);
        if constexpr (std::is_same_v<R, tq_basic>)
            stored = tq_cache_adopt_basic(l.into, rec, lang, stamp);
        else
            stored = tq_cache_adopt_detail(l.into, rec, lang, sections, stamp);
    } else {
        tq_release(rec);
        std::free(rec);
    }
    return stored ? TQMOVIE_OK : TQMOVIE_ERR_NOMEM;
}

// One entry into the cache being built.
int32_t read_entry(const loading &l, size_t i, yyjson_val *e) noexcept {
    yyjson_val *id = yyjson_obj_get(e, "imdbId");
    if (!yyjson_is_obj(e) || !yyjson_is_str(id)) return bad_entry(l.c, i, "no id");
    if (tq_cache_holds(l.into, yyjson_get_str(id))) return bad_entry(l.c, i, "a title is listed twice");
    yyjson_val *sections = yyjson_obj_get(e, "detailSections");
    if (sections && (!yyjson_is_uint(sections) || yyjson_get_uint(sections) > TQMOVIE_DETAIL_ALL))
        return bad_entry(l.c, i, "sections out of range");
    const auto mask = static_cast<uint32_t>(sections ? yyjson_get_uint(sections) : TQMOVIE_DETAIL_ALL);
    int32_t st = read_record<tq_basic>(l, i, yyjson_get_str(id), e, "basic", "basicAt", "basicLanguage", mask);
    if (st == TQMOVIE_OK)
        st = read_record<tq_detail>(l, i, yyjson_get_str(id), e, "detail", "detailAt", "detailLanguage", mask);
    if (st != TQMOVIE_OK) return st;
    if (!tq_cache_holds(l.into, yyjson_get_str(id))) return bad_entry(l.c, i, "no record");
    return TQMOVIE_OK;
}

// What a save writes before the first entry, and after the last one. A file laid out
// as a save writes it (this header, then one entry per line) is read entry by entry,
// each line parsed on its own, so the memory of one entry is all a load needs at a
// time; any other layout is parsed whole. Both read the same entries the same way.
constexpr char saved_head[] = "{\"format\":\"tqmovie-cache\",\"version\":1,\"entries\":[\n";
constexpr char saved_tail[] = "\n]}\n";
constexpr int32_t not_line_shaped = -1;

// The lines of a file, read in pieces into one buffer that is reused: a load never
// holds more than the longest line.
class line_reader {
public:
    explicit line_reader(int fd) noexcept : fd_(fd) {}
    line_reader(const line_reader &) = delete;
    line_reader &operator=(const line_reader &) = delete;
    // The next line, without its line feed; false at the end of the file, when the last
    // line has no line feed, or when reading failed (failed() tells).
    bool next(const char **line, size_t *n) noexcept {
        for (;;) {
            char *at = buf_.get() + begin_;
            const auto *nl = end_ > begin_ ? static_cast<const char *>(std::memchr(at, '\n', end_ - begin_)) : nullptr;
            if (nl) {
                *line = at;
                *n = static_cast<size_t>(nl - at);
                begin_ += *n + 1;
                return true;
            }
            if (eof_) return false;
            if (end_ > begin_) std::memmove(buf_.get(), at, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
            char *grown = buf_.release();
            const bool room = tq_grow(&grown, &cap_, end_ + 65536, 1 << 20);
            buf_.reset(grown);
            if (!room) return failed_ = TQMOVIE_ERR_NOMEM, false;
            const ssize_t r = ::read(fd_, buf_.get() + end_, cap_ - end_);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return failed_ = TQMOVIE_ERR_FILE, false;
            eof_ = r == 0;
            end_ += static_cast<size_t>(r);
        }
    }
    // What stopped the reading: TQMOVIE_ERR_NOMEM, TQMOVIE_ERR_FILE (errno tells), or 0.
    int32_t failed() const noexcept { return failed_; }
    // Whether every byte of the file was handed out as a line.
    bool drained() const noexcept { return eof_ && begin_ == end_; }

private:
    int fd_;
    malloc_ptr<char> buf_;
    size_t cap_ = 0, begin_ = 0, end_ = 0;
    bool eof_ = false;
    int32_t failed_ = 0;
};

int32_t read_lines(const loading &l, int fd) noexcept {
    line_reader lines(fd);
    const char *line;
    size_t n;
    if (!lines.next(&line, &n) || n != sizeof saved_head - 2 || std::memcmp(line, saved_head, n) != 0)
        return lines.failed() ? lines.failed() : not_line_shaped;
    for (size_t i = 0;; ++i) {
        if (!lines.next(&line, &n) || n == 0) return lines.failed() ? lines.failed() : not_line_shaped;
        const bool last = line[n - 1] != ',';
        bool dense = false;
        json_doc doc(tq_json_read(line, last ? n : n - 1, &dense));
        if (dense) return too_dense(l.c);
        if (!doc) return not_line_shaped;
        const int32_t st = read_entry(l, i, yyjson_doc_get_root(doc.get()));
        if (st != TQMOVIE_OK) return st;
        if (!last) continue;
        // "]}", then the end of the file.
        if (!lines.next(&line, &n) || n != 2 || line[0] != ']' || line[1] != '}')
            return lines.failed() ? lines.failed() : not_line_shaped;
        return lines.next(&line, &n) || lines.failed() || !lines.drained() ? not_line_shaped : TQMOVIE_OK;
    }
}

// Fills the (empty) cache being built from the parsed file.
int32_t read_entries(const loading &l, yyjson_val *root) noexcept {
    yyjson_val *format = yyjson_obj_get(root, "format");
    yyjson_val *version = yyjson_obj_get(root, "version");
    yyjson_val *entries = yyjson_obj_get(root, "entries");
    if (!yyjson_is_str(format) || std::strcmp(yyjson_get_str(format), file_format) != 0)
        return tq_fail(l.c, TQMOVIE_ERR_PARSE, "cache file: not a tqmovie cache file");
    if (!yyjson_is_int(version) || yyjson_get_sint(version) < 1)
        return tq_fail(l.c, TQMOVIE_ERR_PARSE, "cache file: no valid version");
    if (yyjson_get_sint(version) > file_version) {
        tq_err(l.c, "cache file: version %lld is newer than this library reads (%lld)",
               static_cast<long long>(yyjson_get_sint(version)), static_cast<long long>(file_version));
        return TQMOVIE_ERR_PARSE;
    }
    if (!yyjson_is_arr(entries)) return tq_fail(l.c, TQMOVIE_ERR_PARSE, "cache file: no entry list");
    size_t i, max;
    yyjson_val *e;
    yyjson_arr_foreach(entries, i, max, e) {
        const int32_t st = read_entry(l, i, e);
        if (st != TQMOVIE_OK) return st;
    }
    return TQMOVIE_OK;
}

// The cache file, open; TQMOVIE_OK or the status with its text set.
int32_t open_file(tqmovie_client &c, const char *path, fd_closer &f, size_t *len) noexcept {
    errno = 0;
    // Without waiting: a FIFO or a device at the path is refused below, never read.
    f.fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (f.fd < 0) return file_error(c, path, "cannot be opened");
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return file_error(c, path, "is not a regular file");
    errno = 0;
    if (static_cast<uint64_t>(st.st_size) > TQMOVIE_CACHE_FILE_MAX)
        return file_error(c, path, "is larger than the cache file limit");
    *len = static_cast<size_t>(st.st_size);
    return TQMOVIE_OK;
}

// The whole file from its start, for a layout other than the saved one.
int32_t read_whole(tqmovie_client &c, const char *path, int fd, size_t len, malloc_ptr<char> &text) noexcept {
    text.reset(static_cast<char *>(std::malloc(len + 1)));
    if (!text) return TQMOVIE_ERR_NOMEM;
    for (size_t got = 0; got < len;) {
        const ssize_t r = ::pread(fd, text.get() + got, len - got, static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return file_error(c, path, "cannot be read");
        got += static_cast<size_t>(r);
    }
    text.get()[len] = '\0';
    return TQMOVIE_OK;
}

// Fills the (empty) cache being built from the file.
int32_t read_cache(const loading &l, const char *path, int fd, size_t len) noexcept {
    errno = 0;
    int32_t st = read_lines(l, fd);
    if (st == TQMOVIE_ERR_FILE) return file_error(l.c, path, "cannot be read");
    if (st != not_line_shaped) return st;
    tq_cache_clear(l.into);
    malloc_ptr<char> text;
    st = read_whole(l.c, path, fd, len, text);
    if (st != TQMOVIE_OK) return st;
    bool dense = false;
    json_doc doc(tq_json_read(text.get(), len, &dense));
    if (dense) return too_dense(l.c);
    if (!doc) return tq_fail(l.c, TQMOVIE_ERR_PARSE, "cache file: not valid JSON (truncated or corrupt)");
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) return tq_fail(l.c, TQMOVIE_ERR_PARSE, "cache file: not a tqmovie cache file");
    return read_entries(l, root);
}

} // namespace

extern "C" {

int32_t tqmovie_cache_save(const char *path) {
    tqmovie_client &c = client();
    tq_state &s = *c.st;
    s.err[0] = '\0';
    if (!path || !path[0]) return tq_fail(c, TQMOVIE_ERR_ARG, "path required");
    char dir[4096];
    dir_of(path, dir);
    remove_dead_temps(dir, path);
    malloc_ptr<char> tmp;
    errno = 0;
    fd_closer f{open_temp(path, tmp)};
    if (f.fd < 0) return errno == ENOMEM && !tmp ? TQMOVIE_ERR_NOMEM : file_error(c, path, "cannot be written");

    // Entries go out in pieces; the first failure removes the new file and leaves the
    // old one as it was. A file a load would refuse is not saved either.
    tq_text out;
    out.put(saved_head);
    bool ok = true, first = true, too_large = false;
    uint64_t written = 0;
    auto flush = [&]() noexcept {
        written += out.len;
        if (written > TQMOVIE_CACHE_FILE_MAX) return !(too_large = true);
        const bool done = !out.failed && write_all(f.fd, out.data, out.len);
        out.len = 0;
        return done;
    };
    for (size_t k = 0; ok && k < s.cache_count; ++k) {
        if (!s.cache[k].basic && !s.cache[k].detail) continue; // a slot whose store failed
        if (!first) out.put(",\n");
        first = false;
        write_entry(out, s.cache[k], tq_cache_meta(c, k));
        if (out.len >= 65536) ok = flush();
    }
    if (ok) {
        out.put(saved_tail);
        ok = flush();
    }
    const bool nomem = out.failed;
    ok = ok && ::fsync(f.fd) == 0;
    const int fd = std::exchange(f.fd, -1);
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmp.get(), path) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(tmp.get());
        errno = saved;
        if (too_large) {
            tq_err(c, "cache file %s: larger than the cache file limit of %" PRIu64 " bytes: not saved", path,
                   static_cast<uint64_t>(TQMOVIE_CACHE_FILE_MAX));
            return TQMOVIE_ERR_FILE;
        }
        return nomem ? TQMOVIE_ERR_NOMEM : file_error(c, path, "cannot be written");
    }
    // The new name is durable once the directory is.
    fd_closer d{::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (d.fd < 0 || ::fsync(d.fd) != 0) return file_error(c, path, "saved, but its folder cannot be synced");
    return TQMOVIE_OK;
}

int32_t tqmovie_cache_load(const char *path) {
    tqmovie_client &c = client();
    c.st->err[0] = '\0';
    if (!path || !path[0]) return tq_fail(c, TQMOVIE_ERR_ARG, "path required");
    fd_closer f;
    size_t len = 0;
    int32_t st = open_file(c, path, f, &len);
    if (st != TQMOVIE_OK) return st;
    // The cache is built in a client of its own and swapped in whole.
    tqmovie_client *aside = tqmovie_client_new();
    if (!aside) return TQMOVIE_ERR_NOMEM;
    st = read_cache(loading{c, *aside}, path, f.fd, len);
    if (st == TQMOVIE_OK) tq_cache_swap(c, *aside);
    tqmovie_client_free(aside);
    return st;
}

} // extern "C"
