// SPDX-License-Identifier: MIT
// tqmovie --json, --json-lines: the records as one JSON array or one object per line,
// the library's own export where it has one; errors as JSON objects.
#include "cli.h"

#include <cstdlib>

namespace tqtool {

bool json_errors = false;

namespace {

bool lines_mode = true; // until json_begin says otherwise
bool full_export = false;
size_t elements = 0; // written so far

} // namespace

// Before each element: the array's opening or the comma after the previous element.
void json_element_start() {
    if (!lines_mode) std::fputs(elements == 0 ? "[\n" : ",\n", stdout);
    ++elements;
}

void json_element_end() {
    if (lines_mode) std::fputc('\n', stdout);
}

namespace {

// The characters of s as they go inside a JSON string. Bytes from 0x80 up pass
// unchanged so UTF-8 stays UTF-8, but for the C1 controls (U+0080 to U+009F), escaped
// like every other control character so that no terminal sees them raw.
void put_escaped(FILE *out, const char *s) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        switch (*p) {
        case '"': std::fputs("\\\"", out); break;
        case '\\': std::fputs("\\\\", out); break;
        case '\n': std::fputs("\\n", out); break;
        case '\r': std::fputs("\\r", out); break;
        case '\t': std::fputs("\\t", out); break;
        case '\b': std::fputs("\\b", out); break;
        case '\f': std::fputs("\\f", out); break;
        default:
            if (*p < 0x20) {
                std::fprintf(out, "\\u%04x", static_cast<unsigned>(*p));
            } else if (*p == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) {
                std::fprintf(out, "\\u%04x", static_cast<unsigned>(*++p));
            } else {
                std::fputc(*p, out);
            }
        }
    }
}

// The length of the UTF-8 sequence at p (1 to 4), 0 when it is not one: overlong
// forms, surrogates and code points past U+10FFFF are not.
size_t utf8_length(const unsigned char *p) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0) return 0;
    const unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < lo || p[1] > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if ((p[k] & 0xC0) != 0x80) return 0;
    return n;
}

} // namespace

void json_str(FILE *out, const char *s) {
    if (!s) {
        std::fputs("null", out);
        return;
    }
    std::fputc('"', out);
    put_escaped(out, s);
    std::fputc('"', out);
}

namespace {

void element_start() { json_element_start(); }
void element_end() { json_element_end(); }
void json_str(const char *s) { tqtool::json_str(stdout, s); }

// The members of a translation, under the keys the service uses.
const struct {
    const char *key;
    const char *(*text)(int32_t i, int32_t j);
} trans_item_members[] = {{"title", tqmovie_trans_item_title},      {"tagLine", tqmovie_trans_item_tagline},
                          {"plot", tqmovie_trans_item_plot},        {"directors", tqmovie_trans_item_directors},
                          {"actors", tqmovie_trans_item_actors},    {"iso_639_1", tqmovie_trans_item_lang},
                          {"iso_3166_1", tqmovie_trans_item_region}};

// Translation sets in the service's shape, written by the tool (--full uses the library's export).
void json_trans(int32_t i) {
    element_start();
    std::fputs("{\"imDbId\":", stdout);
    json_str(tqmovie_trans_imdb_id(i));
    std::fputs(",\"items\":[", stdout);
    int32_t n = tqmovie_trans_items_count(i);
    for (int32_t j = 0; j < n; ++j) {
        std::fputs(j ? ",{" : "{", stdout);
        const char *sep = "";
        for (const auto &m : trans_item_members) {
            std::printf("%s\"%s\":", sep, m.key);
            json_str(m.text(i, j));
            sep = ",";
        }
        std::fputc('}', stdout);
    }
    std::fputs("]}", stdout);
    element_end();
}

} // namespace

void json_begin(bool lines, bool full) {
    lines_mode = lines;
    full_export = full;
    elements = 0;
}

void json_end() {
    if (!lines_mode) std::fputs(elements == 0 ? "[]\n" : "\n]\n", stdout);
}

void json_is_movie(const char *id, bool is_movie) {
    element_start();
    std::fputs("{\"imDbId\":", stdout);
    json_str(id);
    std::printf(",\"isMovie\":%s}", is_movie ? "true" : "false");
    element_end();
}

int32_t json_record(record_kind r, int32_t i) {
    if (r == record_kind::trans && !full_export) {
        json_trans(i);
        return TQMOVIE_OK;
    }
    char *text;
    if (r == record_kind::trans)
        text = tqmovie_trans_to_json(i);
    else if (r == record_kind::basic)
        text = full_export ? tqmovie_basic_to_json_full(i) : tqmovie_basic_to_json(i);
    else
        text = full_export ? tqmovie_detail_to_json_full(i) : tqmovie_detail_to_json(i);
    if (!text) return TQMOVIE_ERR_NOMEM;
    element_start();
    json_put_export(text);
    element_end();
    std::free(text);
    return TQMOVIE_OK;
}

// The library's summaries pass the C1 controls through; inside a JSON string (the only
// place they can be) they go out escaped.
void json_put_export(const char *text) {
    for (const char *p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        const auto next = static_cast<unsigned char>(p[1]);
        if (c == 0xC2 && next >= 0x80 && next <= 0x9F)
            std::printf("\\u%04x", static_cast<unsigned>(*++p & 0xFF));
        else
            std::fputc(c, stdout);
    }
}

void json_name(FILE *out, const char *s) {
    std::fputc('"', out);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p;) {
        const size_t n = utf8_length(p);
        if (n == 0) {
            std::fputs("\\ufffd", out);
            ++p;
            continue;
        }
        if (n == 1 || (p[0] == 0xC2 && p[1] <= 0x9F)) {
            // ASCII and the C1 controls: escaped as json_str escapes them.
            const char one[3] = {static_cast<char>(p[0]), n == 2 ? static_cast<char>(p[1]) : '\0', '\0'};
            put_escaped(out, one);
        } else {
            std::fwrite(p, 1, n, out);
        }
        p += n;
    }
    std::fputc('"', out);
}

void json_error(const error_report &e) {
    std::fputs("{\"error\":", stderr);
    json_str(stderr, e.error);
    std::fputs(",\"message\":", stderr);
    json_str(stderr, e.message);
    if (e.command) {
        std::fputs(",\"command\":", stderr);
        json_str(stderr, e.command);
    }
    if (e.id) {
        std::fputs(",\"id\":", stderr);
        json_str(stderr, e.id);
    }
    if (e.ids) {
        std::fputs(",\"ids\":[", stderr);
        for (size_t i = 0; i < e.id_count; ++i) {
            if (i) std::fputc(',', stderr);
            json_str(stderr, e.ids[i]);
        }
        std::fputc(']', stderr);
    }
    if (e.status >= 0) {
        std::fprintf(stderr, ",\"status\":%d,\"statusName\":", static_cast<int>(e.status));
        json_str(stderr, e.status_name);
    }
    if (e.http_status != 0) std::fprintf(stderr, ",\"httpStatus\":%d", static_cast<int>(e.http_status));
    std::fprintf(stderr, ",\"exit\":%d}\n", e.exit_status);
}

} // namespace tqtool
