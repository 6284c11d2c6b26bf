// SPDX-License-Identifier: MIT
// tqmovie --json: one JSON object per line, the library's own export where it has one.
#include "cli.h"

#include <cstdlib>

namespace tqtool {
namespace {

// A JSON string literal (or null). Bytes from 0x80 up pass unchanged so UTF-8 stays
// UTF-8; every control byte is escaped, as JSON requires.
void json_str(const char *s) {
    if (!s) {
        std::fputs("null", stdout);
        return;
    }
    std::fputc('"', stdout);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        switch (*p) {
        case '"': std::fputs("\\\"", stdout); break;
        case '\\': std::fputs("\\\\", stdout); break;
        case '\n': std::fputs("\\n", stdout); break;
        case '\r': std::fputs("\\r", stdout); break;
        case '\t': std::fputs("\\t", stdout); break;
        case '\b': std::fputs("\\b", stdout); break;
        case '\f': std::fputs("\\f", stdout); break;
        default:
            if (*p < 0x20)
                std::printf("\\u%04x", static_cast<unsigned>(*p));
            else
                std::fputc(*p, stdout);
        }
    }
    std::fputc('"', stdout);
}

// The members of a translation, under the keys the service uses.
const struct {
    const char *key;
    const char *(*text)(int32_t i, int32_t j);
} trans_item_members[] = {{"title", tqmovie_trans_item_title},     {"tagLine", tqmovie_trans_item_tagline},
                          {"plot", tqmovie_trans_item_plot},       {"directors", tqmovie_trans_item_directors},
                          {"actors", tqmovie_trans_item_actors},   {"iso_639_1", tqmovie_trans_item_lang},
                          {"iso_3166_1", tqmovie_trans_item_region}};

// Translation sets have no export of their own in the library.
void json_trans(int32_t i) {
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
    std::fputs("]}\n", stdout);
}

} // namespace

void json_is_movie(const char *id, bool is_movie) {
    std::fputs("{\"imDbId\":", stdout);
    json_str(id);
    std::printf(",\"isMovie\":%s}\n", is_movie ? "true" : "false");
}

int32_t json_record(record_kind r, int32_t i) {
    if (r == record_kind::trans) {
        json_trans(i);
        return TQMOVIE_OK;
    }
    char *text = r == record_kind::basic ? tqmovie_basic_to_json(i) : tqmovie_detail_to_json(i);
    if (!text) return TQMOVIE_ERR_NOMEM;
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::free(text);
    return TQMOVIE_OK;
}

} // namespace tqtool
