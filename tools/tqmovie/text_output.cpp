// SPDX-License-Identifier: MIT
// tqmovie: the readable summary of the stored records, labelled fields and short
// aligned tables.
#include "cli.h"

#include <cmath>
#include <cstdarg>
#include <cstring>

namespace tqtool {

// Service texts go to a terminal: control bytes (C0, DEL and the UTF-8 encoded C1
// range) are shown as '?' so that a record cannot move the cursor or retitle the
// window. Everything else, including UTF-8, passes unchanged.
void put_clean(const char *s) {
    if (!s) return;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        unsigned char c = *p;
        if (c < 0x20 || c == 0x7F) {
            std::fputc('?', stdout);
        } else if (c == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) {
            std::fputc('?', stdout);
            ++p;
        } else {
            std::fputc(c, stdout);
        }
    }
}

namespace {

// Characters that take two terminal columns: the East Asian wide and full-width
// blocks (Hangul, CJK, kana, full-width forms). Enough to keep tables of translated
// titles aligned without depending on the locale.
bool is_wide(uint32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) || (cp >= 0x3041 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
           (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
           (cp >= 0x20000 && cp <= 0x3FFFD);
}

} // namespace

// Columns a text takes on a terminal. Malformed UTF-8 counts one column per byte.
size_t display_width(const char *s) {
    size_t w = 0;
    if (!s) return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    while (*p) {
        unsigned char c = *p;
        int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
        if (c >= 0xF5) extra = 0;
        uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1Fu) : extra == 2 ? (c & 0x0Fu) : (c & 0x07u);
        int k = 1;
        for (; k <= extra && (p[k] & 0xC0) == 0x80; ++k) cp = (cp << 6) | (p[k] & 0x3Fu);
        if (k <= extra) { // truncated sequence
            ++w;
            ++p;
            continue;
        }
        w += is_wide(cp) ? 2 : 1;
        p += extra + 1;
    }
    return w;
}

namespace {

void put_line(const char *text) {
    put_clean(text);
    std::fputc('\n', stdout);
}

void pad(size_t n) {
    while (n--) std::fputc(' ', stdout);
}

constexpr int label_width = 11;

void field(const char *label, const char *value) {
    if (!value || !*value) return;
    std::printf("  %-*s", label_width, label);
    put_line(value);
}

void field_fmt(const char *label, const char *fmt, ...) TQMOVIE_PRINTF(2, 3);
void field_fmt(const char *label, const char *fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    field(label, buf);
}

using item_text = const char *(*)(int32_t record, int32_t item);

// "Label      a, b, c": the n items of record i on one line, each followed by its
// number when value is given; nothing when there are none.
void list_field(const char *label, int32_t i, int32_t n, item_text text, double (*value)(int32_t, int32_t) = nullptr) {
    if (n <= 0) return;
    std::printf("  %-*s", label_width, label);
    for (int32_t j = 0; j < n; ++j) {
        if (j) std::fputs(", ", stdout);
        put_clean(text(i, j));
        if (value) std::printf(" %g", value(i, j));
    }
    std::fputc('\n', stdout);
}

// A table column: its heading and the text of its cell in row j of record i.
struct column {
    const char *header;
    item_text cell;
};

constexpr size_t max_column_width = 36;

// A short table under a heading: widths from the widest cell (capped so that one
// long URL does not push every other row off the screen), the last column unpadded.
template <int N> void print_table(const char *heading, const column (&cols)[N], int32_t rows, int32_t i) {
    if (rows <= 0) return;
    std::printf("  %s (%d)\n", heading, static_cast<int>(rows));
    size_t width[N];
    for (int c = 0; c < N; ++c) width[c] = display_width(cols[c].header);
    for (int32_t r = 0; r < rows; ++r) {
        for (int c = 0; c < N; ++c) {
            size_t w = display_width(cols[c].cell(i, r));
            if (w > width[c]) width[c] = w < max_column_width ? w : max_column_width;
        }
    }
    auto row_out = [&](auto get) {
        std::fputs("    ", stdout);
        int last = N - 1; // no padding after the last non-empty cell
        while (last > 0 && (!get(last) || !*get(last))) --last;
        for (int c = 0; c <= last; ++c) {
            const char *v = get(c);
            if (!v) v = "";
            put_clean(v);
            if (c < last) {
                size_t w = display_width(v);
                pad((w < width[c] ? width[c] - w : 0) + 2);
            }
        }
        std::fputc('\n', stdout);
    };
    row_out([&](int c) { return cols[c].header; });
    for (int32_t r = 0; r < rows; ++r) row_out([&](int c) { return cols[c].cell(i, r); });
}

// "WxH" of picture j; the text stays valid until the next call.
const char *picture_size(int32_t i, int32_t j) {
    static char text[32];
    std::snprintf(text, sizeof text, "%dx%d", static_cast<int>(tqmovie_detail_picture_item_w(i, j)),
                  static_cast<int>(tqmovie_detail_picture_item_h(i, j)));
    return text;
}

const column cast_columns[] = {
    {"NAME", tqmovie_detail_cast_name}, {"ROLE", tqmovie_detail_cast_role}, {"BIRTHDAY", tqmovie_detail_cast_birthday}};
const column provider_columns[] = {{"NAME", tqmovie_detail_provider_name},
                                   {"COUNTRY", tqmovie_detail_provider_country},
                                   {"TYPE", tqmovie_detail_provider_type}};
const column picture_columns[] = {
    {"SIZE", picture_size}, {"LANG", tqmovie_detail_picture_item_lang}, {"URL", tqmovie_detail_picture_item_url}};
const column video_columns[] = {{"SITE", tqmovie_detail_video_site},
                                {"TYPE", tqmovie_detail_video_type},
                                {"KEY", tqmovie_detail_video_key},
                                {"NAME", tqmovie_detail_video_name}};
const column trans_columns[] = {{"LANG", tqmovie_trans_item_lang},
                                {"REGION", tqmovie_trans_item_region},
                                {"TITLE", tqmovie_trans_item_title},
                                {"TAGLINE", tqmovie_trans_item_tagline}};

const char *tv_kind(int32_t is_tv) { return is_tv == 1 ? "TV show" : is_tv == 0 ? "film" : nullptr; }

void print_basic(int32_t i) {
    const char *title = tqmovie_basic_title(i);
    put_line(title ? title : "(untitled)");
    field("IMDb id", tqmovie_basic_imdb_id(i));
    if (tqmovie_basic_year(i) >= 0) field_fmt("Year", "%d", static_cast<int>(tqmovie_basic_year(i)));
    if (tqmovie_basic_duration(i) >= 0) field_fmt("Runtime", "%d min", static_cast<int>(tqmovie_basic_duration(i)));
    field("Kind", tv_kind(tqmovie_basic_is_tv(i)));
    list_field("Rating", i, tqmovie_basic_ratings_count(i), tqmovie_basic_rating_source, tqmovie_basic_rating_value);
    list_field("Genres", i, tqmovie_basic_genres_count(i), tqmovie_basic_genre);
    list_field("Directors", i, tqmovie_basic_directors_count(i), tqmovie_basic_director);
    field("Tagline", tqmovie_basic_tagline(i));
    field("Plot", tqmovie_basic_plot(i));
    field("Poster", tqmovie_basic_poster_url(i));
}

void print_detail(int32_t i) {
    const char *title = tqmovie_detail_title(i);
    put_line(title ? title : "(untitled)");
    field("IMDb id", tqmovie_detail_imdb_id(i));
    const char *original = tqmovie_detail_original_title(i);
    if (original && (!title || std::strcmp(original, title) != 0)) field("Original", original);
    field("Type", tqmovie_detail_title_type(i));
    int32_t start = tqmovie_detail_start_year(i), end = tqmovie_detail_end_year(i);
    if (start >= 0 && end >= 0 && end != start)
        field_fmt("Years", "%d-%d", static_cast<int>(start), static_cast<int>(end));
    else if (start >= 0)
        field_fmt("Year", "%d", static_cast<int>(start));
    if (tqmovie_detail_runtime(i) >= 0) field_fmt("Runtime", "%d min", static_cast<int>(tqmovie_detail_runtime(i)));
    double rating = tqmovie_detail_imdb_rating(i);
    if (!std::isnan(rating)) field_fmt("Rating", "%g", rating);
    field("Genres", tqmovie_detail_genres(i));
    field("Directors", tqmovie_detail_directors(i));
    field("Tagline", tqmovie_detail_tagline(i));
    field("Plot", tqmovie_detail_plot(i));
    field("Trailer", tqmovie_detail_trailer_url(i));
    field("Poster", tqmovie_detail_poster_url(i));

    print_table("Cast", cast_columns, tqmovie_detail_cast_count(i), i);
    print_table("Providers", provider_columns, tqmovie_detail_provider_count(i), i);
    print_table("Pictures", picture_columns, tqmovie_detail_picture_count(i), i);
    print_table("Videos", video_columns, tqmovie_detail_video_count(i), i);
    list_field("Related", i, tqmovie_detail_related_count(i), tqmovie_detail_related_id);
}

void print_trans(int32_t i) {
    const char *id = tqmovie_trans_imdb_id(i);
    put_line(id ? id : "(no id)");
    if (tqmovie_trans_items_count(i) <= 0)
        std::puts("  no translations");
    else
        print_table("Translations", trans_columns, tqmovie_trans_items_count(i), i);
}

} // namespace

void text_is_movie(const char *id, bool is_movie) {
    put_clean(id);
    std::printf(" %s\n", is_movie ? "true" : "false");
}

void text_record(record_kind r, int32_t i) {
    switch (r) {
    case record_kind::basic: print_basic(i); break;
    case record_kind::detail: print_detail(i); break;
    case record_kind::trans: print_trans(i); break;
    }
}

} // namespace tqtool
