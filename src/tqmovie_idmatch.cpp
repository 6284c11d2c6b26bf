// SPDX-License-Identifier: MIT
// tqmovie_idmatch: the IMDb id a text names (a file or folder name, or an .nfo file's
// contents), and the id of a media file from its sidecars, its name and its folders.
// The text reader allocates nothing and knows no locale: every comparison is ASCII.
#include "tq_internal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A text as a sequence of ASCII characters: bytes as they are, or the code units of a
// UTF-16 text (a unit beyond ASCII reads as a byte that is no letter, digit or mark).
struct text_view {
    const unsigned char *p;
    size_t n; // characters
    int wide; // 0: bytes; 1: UTF-16 little-endian; 2: big-endian
    unsigned char at(size_t i) const noexcept {
        if (wide == 0) return p[i];
        const unsigned unit = wide == 1 ? p[2 * i] | p[2 * i + 1] << 8 : p[2 * i] << 8 | p[2 * i + 1];
        return unit < 0x80 ? static_cast<unsigned char>(unit) : 0x80;
    }
};

// The position of the next c at or after i, or t.n: a byte text is searched with
// memchr, the rest of a .nfo (usually free of markup) costing next to nothing.
size_t next_of(const text_view &t, size_t i, unsigned char c) noexcept {
    if (t.wide == 0) {
        if (i >= t.n) return t.n;
        const void *hit = std::memchr(t.p + i, c, t.n - i);
        return hit ? static_cast<size_t>(static_cast<const unsigned char *>(hit) - t.p) : t.n;
    }
    while (i < t.n && t.at(i) != c) ++i;
    return i;
}

bool is_digit(unsigned char c) noexcept { return c >= '0' && c <= '9'; }
bool is_alnum(unsigned char c) noexcept { return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }
unsigned char lower(unsigned char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c;
}
bool is_space(unsigned char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whether the text at i starts with the lower-case ASCII word w, any letter case.
bool starts(const text_view &t, size_t i, const char *w) noexcept {
    for (; *w; ++w, ++i)
        if (i >= t.n || lower(t.at(i)) != static_cast<unsigned char>(*w)) return false;
    return true;
}

// An id at i ("tt" and its digits, nothing alphanumeric on either side): its digit
// count when it holds 7 to 10 digits; 0 otherwise (6 or 11 digits name no id).
size_t id_at(const text_view &t, size_t i) noexcept {
    if (!starts(t, i, "tt") || (i > 0 && is_alnum(t.at(i - 1)))) return 0;
    size_t d = 0;
    while (i + 2 + d < t.n && is_digit(t.at(i + 2 + d))) ++d;
    if (i + 2 + d < t.n && is_alnum(t.at(i + 2 + d))) return 0;
    return d >= 7 && d <= 10 ? d : 0;
}

// Writes the id at i (digits long) into out; its length.
int32_t write_id(const text_view &t, size_t i, size_t digits, char *out) noexcept {
    out[0] = 't';
    out[1] = 't';
    for (size_t k = 0; k < digits; ++k) out[2 + k] = static_cast<char>(t.at(i + 2 + k));
    out[2 + digits] = '\0';
    return static_cast<int32_t>(2 + digits);
}

// An element's text from i up to the next '<': an id alone, spaces around allowed.
size_t element_id(const text_view &t, size_t i, size_t *at) noexcept {
    while (i < t.n && is_space(t.at(i))) ++i;
    const size_t d = id_at(t, i);
    if (d == 0) return 0;
    size_t end = i + 2 + d;
    while (end < t.n && is_space(t.at(end))) ++end;
    if (end >= t.n || t.at(end) != '<') return 0;
    *at = i;
    return d;
}

// The end of a tag's name: its '>' when the tag name is exactly `name` (after '<'),
// with attributes allowed when attrs is true; SIZE_MAX otherwise.
size_t tag_end(const text_view &t, size_t lt, const char *name, bool attrs) noexcept {
    if (t.at(lt) != '<' || !starts(t, lt + 1, name)) return SIZE_MAX;
    size_t i = lt + 1 + std::strlen(name);
    if (i >= t.n) return SIZE_MAX;
    if (t.at(i) == '>') return i;
    if (!attrs || !is_space(t.at(i))) return SIZE_MAX;
    while (i < t.n && t.at(i) != '>' && t.at(i) != '<') ++i;
    return i < t.n && t.at(i) == '>' ? i : SIZE_MAX;
}

// Whether the attributes between from and to hold type="imdb" (either quote style).
bool type_imdb(const text_view &t, size_t from, size_t to) noexcept {
    for (size_t i = from; i + 4 < to; ++i) {
        if (!starts(t, i, "type") || is_alnum(t.at(i - 1))) continue;
        size_t j = i + 4;
        while (j < to && is_space(t.at(j))) ++j;
        if (j >= to || t.at(j) != '=') continue;
        ++j;
        while (j < to && is_space(t.at(j))) ++j;
        if (j >= to || (t.at(j) != '"' && t.at(j) != '\'')) continue;
        const unsigned char q = t.at(j);
        if (starts(t, j + 1, "imdb") && j + 5 < to && t.at(j + 5) == q) return true;
    }
    return false;
}

// a. An .nfo's unique id of type imdb, then its id elements, in that order.
int32_t nfo_form(const text_view &t, char *out) noexcept {
    for (size_t lt = next_of(t, 0, '<'); lt < t.n; lt = next_of(t, lt + 1, '<')) {
        const size_t gt = tag_end(t, lt, "uniqueid", true);
        if (gt == SIZE_MAX || !type_imdb(t, lt + 9, gt)) continue;
        size_t at = 0;
        if (const size_t d = element_id(t, gt + 1, &at)) return write_id(t, at, d, out);
    }
    for (const char *name : {"imdbid", "imdb_id", "imdb", "id"}) {
        for (size_t lt = next_of(t, 0, '<'); lt < t.n; lt = next_of(t, lt + 1, '<')) {
            const size_t gt = tag_end(t, lt, name, true);
            size_t at = 0;
            if (gt == SIZE_MAX) continue;
            if (const size_t d = element_id(t, gt + 1, &at)) return write_id(t, at, d, out);
        }
    }
    return 0;
}

// b. A tag in matching brackets: imdbid-ID, imdbid=ID, imdb-ID, imdb=ID, imdbid ID.
int32_t bracket_form(const text_view &t, char *out) noexcept {
    static const struct { char open, close; } pairs[] = {{'[', ']'}, {'{', '}'}, {'(', ')'}};
    for (size_t i = 0; i < t.n; ++i) {
        const unsigned char c = t.at(i);
        char close = 0;
        for (const auto &p : pairs)
            if (c == static_cast<unsigned char>(p.open)) close = p.close;
        if (!close) continue;
        size_t j = i + 1;
        while (j < t.n && t.at(j) == ' ') ++j;
        size_t after = 0;
        if (starts(t, j, "imdbid") && j + 6 < t.n && (t.at(j + 6) == '-' || t.at(j + 6) == '=' || t.at(j + 6) == ' '))
            after = j + 7;
        else if (starts(t, j, "imdb") && j + 4 < t.n && (t.at(j + 4) == '-' || t.at(j + 4) == '='))
            after = j + 5;
        if (!after) continue;
        const size_t d = id_at(t, after);
        if (d == 0) continue;
        size_t end = after + 2 + d;
        while (end < t.n && t.at(end) == ' ') ++end;
        if (end < t.n && t.at(end) == static_cast<unsigned char>(close)) return write_id(t, after, d, out);
    }
    return 0;
}

// c. An address imdb.com/title/ID, with any scheme or subdomain, or none.
int32_t address_form(const text_view &t, char *out) noexcept {
    // Anchored on the '.' of "imdb.com", which a text holds far less often than letters.
    for (size_t dot = next_of(t, 4, '.'); dot < t.n; dot = next_of(t, dot + 1, '.')) {
        const size_t i = dot - 4;
        if (!starts(t, i, "imdb.com/title/") || (i > 0 && (is_alnum(t.at(i - 1)) || t.at(i - 1) == '-'))) continue;
        if (const size_t d = id_at(t, i + 15)) return write_id(t, i + 15, d, out);
    }
    return 0;
}

// d. The first bare id.
int32_t bare_form(const text_view &t, char *out) noexcept {
    for (size_t i = 0; i < t.n; ++i)
        if (const size_t d = id_at(t, i)) return write_id(t, i, d, out);
    return 0;
}

int32_t find_id(const char *text, size_t len, char *out) noexcept {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    text_view t{p, len, 0};
    if (len >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        t = text_view{p + 3, len - 3, 0};
    } else if (len >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        t = text_view{p + 2, (len - 2) / 2, p[0] == 0xFF ? 1 : 2};
    }
    for (int32_t (*form)(const text_view &, char *) : {nfo_form, bracket_form, address_form, bare_form})
        if (const int32_t n = form(t, out)) return n;
    return 0;
}

// ----------------------------------------------------------------------------
// Files
// ----------------------------------------------------------------------------

constexpr size_t nfo_most = size_t{1} << 20;

// The id an .nfo at path names, when it is a regular file: opened without waiting (a
// FIFO or a device at that name is skipped), its first 1 MiB read.
int32_t nfo_id(const char *path, char *out) noexcept {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return 0;
    struct stat st {};
    int32_t n = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const size_t want = static_cast<uint64_t>(st.st_size) < nfo_most ? static_cast<size_t>(st.st_size) : nfo_most;
        malloc_ptr<char> buf(static_cast<char *>(std::malloc(want ? want : 1)));
        size_t got = 0;
        while (buf && got < want) {
            const ssize_t r = ::read(fd, buf.get() + got, want - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        if (buf) n = find_id(buf.get(), got, out);
    }
    ::close(fd);
    return n;
}

// Whether a folder name is a season, disc or disc-structure folder, whose parent names
// the title: "Season 1", "S01", "Specials", "Disc 2", "CD1", "BDMV", "VIDEO_TS".
bool is_season_or_disc(const char *name, size_t len) noexcept {
    const text_view t{reinterpret_cast<const unsigned char *>(name), len, 0};
    auto word_then_number = [&](const char *w, bool sep_ok) {
        size_t i = std::strlen(w);
        if (!starts(t, 0, w)) return false;
        if (sep_ok)
            while (i < len && (name[i] == ' ' || name[i] == '_' || name[i] == '-' || name[i] == '.')) ++i;
        if (i == len) return false;
        for (; i < len; ++i)
            if (!is_digit(t.at(i))) return false;
        return true;
    };
    auto exactly = [&](const char *w) { return std::strlen(w) == len && starts(t, 0, w); };
    return word_then_number("season", true) || word_then_number("s", false) || exactly("specials") ||
           word_then_number("disc", true) || word_then_number("disk", true) || word_then_number("cd", true) ||
           exactly("bdmv") || exactly("video_ts");
}

// The component of path that ends before `end` (exclusive), as [*from, end).
bool previous_component(const char *path, size_t end, size_t *from) noexcept {
    while (end > 0 && path[end - 1] == '/') --end;
    if (end == 0) return false;
    size_t b = end;
    while (b > 0 && path[b - 1] != '/') --b;
    *from = b;
    return true;
}

// A path made of [path, path + keep) and a name, in buf; false when it does not fit.
bool join(char (&buf)[4096], const char *path, size_t keep, const char *name) noexcept {
    const int n = std::snprintf(buf, sizeof buf, "%.*s%s", static_cast<int>(keep), path, name);
    return n > 0 && static_cast<size_t>(n) < sizeof buf;
}

} // namespace

extern "C" {

int32_t tqmovie_id_in_text(const char *text, size_t len, char *out, size_t out_size) {
    if ((!text && len > 0) || !out || out_size < 16) return -1;
    out[0] = '\0';
    return text ? find_id(text, len, out) : 0;
}

int32_t tqmovie_id_for_file(const char *path, char *out, size_t out_size, int32_t *source) {
    if (source) *source = 0;
    if (!path || !out || out_size < 16) return -1;
    out[0] = '\0';
    const size_t len = std::strlen(path);
    size_t base = 0; // the file's name
    if (!previous_component(path, len, &base)) return 0;
    const size_t base_len = len - base;
    char buf[4096];
    int32_t n = 0;
    // Sidecars: the name with .nfo for its extension, then movie.nfo beside it.
    const char *dot = static_cast<const char *>(std::memchr(path + base + 1, '.', base_len ? base_len - 1 : 0));
    for (const char *d = dot; d; d = static_cast<const char *>(std::memchr(d + 1, '.', len - (d + 1 - path)))) dot = d;
    if (dot && join(buf, path, static_cast<size_t>(dot - path), ".nfo") && (n = nfo_id(buf, out))) {
        if (source) *source = 1;
        return n;
    }
    if (join(buf, path, base, "movie.nfo") && (n = nfo_id(buf, out))) {
        if (source) *source = 1;
        return n;
    }
    size_t parent = 0;
    const bool has_parent = previous_component(path, base, &parent);
    const size_t parent_len = has_parent ? base - parent - 1 : 0;
    const bool season = has_parent && is_season_or_disc(path + parent, parent_len);
    // A season folder's show has its tvshow.nfo one folder up.
    if (season && join(buf, path, parent, "tvshow.nfo") && (n = nfo_id(buf, out))) {
        if (source) *source = 1;
        return n;
    }
    if ((n = find_id(path + base, base_len, out))) {
        if (source) *source = 2;
        return n;
    }
    if (has_parent && (n = find_id(path + parent, parent_len, out))) {
        if (source) *source = 3;
        return n;
    }
    size_t grand = 0;
    if (season && previous_component(path, parent, &grand) && (n = find_id(path + grand, parent - 1 - grand, out))) {
        if (source) *source = 3;
        return n;
    }
    out[0] = '\0';
    return 0;
}

} // extern "C"
