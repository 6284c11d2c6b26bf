// SPDX-License-Identifier: MIT
// The records' fields: one table per record kind, one row per member, with the JSON
// key (and the other spellings the service has used), what the member holds, the
// detail section that selects it and its value in the empty record. The decoders, the
// JSON forms, the empty records, deep copy, the whole-copy check and release all read
// these rows, so a field is described here once. Not installed.
#ifndef TQ_FIELDS_H
#define TQ_FIELDS_H

#include "tqmovie.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

// The spellings of a title's id, in order of trial: a later one counts only when the
// ones before it have no string member.
inline constexpr const char *tq_id_keys[] = {"imDbId", "IMDbId", "imdbId"};

// The empty real: the one quiet NaN, so that empty records compare equal bit for bit.
constexpr double tq_nan() noexcept { return std::bit_cast<double>(0x7FF8000000000000ull); }

// What a member holds and how the service writes it.
enum class tq_kind : uint8_t {
    text,    // a string; each other spelling is read when the copy so far is NULL
    id,      // a string: the first spelling that holds one is copied
    image,   // a string, with "N/A" and "n/a" kept as "" (not available, as against not sent)
    joined,  // a string, or an array of strings joined with ", "
    number,  // a number: an integer by its low 32 bits, a real truncated (INT32_MIN out of range)
    flag,    // true 1, false 0
    real,    // a number, as a double
    texts,   // an array of strings
    names,   // an array of strings, or one string as a one-name list
    genres,  // an array of strings, or one string split at its commas
    ratings, // an object: one rating per member, named by the member
    records, // an array of objects, one sub-record each
    items,   // as records, but the other spelling is read only when the key is missing, the
             // array is kept even when empty, and running out of memory loses the list only
};

namespace tq_fields {

// One member of record R, of type M.
template <typename R, typename M> struct row {
    tq_kind kind;
    M R::*at;
    size_t R::*count;    // a list's count; NULL for the other kinds
    const char *keys[3]; // the JSON key, then the other spellings in order of trial; NULL unused
    uint32_t section;    // the detail section that selects a list; 0: always there
    M empty;             // the member in the empty record
};

template <typename R> constexpr row<R, char *> text(char *R::*at, const char *key, const char *alt = nullptr) noexcept {
    return {tq_kind::text, at, nullptr, {key, alt, nullptr}, 0, nullptr};
}
template <typename R> constexpr row<R, char *> id(char *R::*at) noexcept {
    return {tq_kind::id, at, nullptr, {tq_id_keys[0], tq_id_keys[1], tq_id_keys[2]}, 0, nullptr};
}
template <typename R> constexpr row<R, char *> image(char *R::*at, const char *key) noexcept {
    return {tq_kind::image, at, nullptr, {key}, 0, nullptr};
}
template <typename R> constexpr row<R, char *> joined(char *R::*at, const char *key) noexcept {
    return {tq_kind::joined, at, nullptr, {key}, 0, nullptr};
}
template <typename R> constexpr row<R, int32_t> number(int32_t R::*at, const char *key, int32_t empty) noexcept {
    return {tq_kind::number, at, nullptr, {key}, 0, empty};
}
template <typename R> constexpr row<R, int32_t> flag(int32_t R::*at, const char *key) noexcept {
    return {tq_kind::flag, at, nullptr, {key}, 0, -1};
}
template <typename R> constexpr row<R, double> real(double R::*at, const char *key, double empty) noexcept {
    return {tq_kind::real, at, nullptr, {key}, 0, empty};
}
template <typename R, typename E>
constexpr row<R, E *> list(tq_kind kind, E *R::*at, size_t R::*count, const char *key, uint32_t section = 0,
                           const char *alt = nullptr) noexcept {
    return {kind, at, count, {key, alt, nullptr}, section, nullptr};
}

// The tables. Rows are in the order of the complete JSON form, which is also the order
// of decoding and copying. One row a line, so that a field is found by grep.
// clang-format off
template <typename R> inline constexpr auto of = nullptr; // no table: not a record

// A rating is one member of "ratings", named by the member: it has no keys of its own.
template <> inline constexpr auto of<tq_rating> = std::tuple{
    text(&tq_rating::source, nullptr),
    real(&tq_rating::value, nullptr, 0.0),
};

template <> inline constexpr auto of<tq_basic> = std::tuple{
    id(&tq_basic::imdb_id),
    text(&tq_basic::title, "title"),
    text(&tq_basic::tagline, "tagLine"),
    text(&tq_basic::plot, "plot"),
    image(&tq_basic::poster_url, "posterUrl"),
    image(&tq_basic::picture_url, "pictureUrl"),
    number(&tq_basic::id, "id", 0),
    number(&tq_basic::year, "year", -1),
    number(&tq_basic::duration, "duration", -1),
    flag(&tq_basic::is_tv, "isTVShow"),
    list(tq_kind::names, &tq_basic::directors, &tq_basic::directors_count, "directors"),
    list(tq_kind::genres, &tq_basic::genres, &tq_basic::genres_count, "genres"),
    list(tq_kind::ratings, &tq_basic::ratings, &tq_basic::ratings_count, "ratings"),
};

template <> inline constexpr auto of<tq_cast> = std::tuple{
    text(&tq_cast::name, "name"),
    text(&tq_cast::id, "idOrName"),
    text(&tq_cast::poster, "poster"),
    text(&tq_cast::role, "characterOrRole"),
    text(&tq_cast::birthday, "birthday"),
};

template <> inline constexpr auto of<tq_picture> = std::tuple{
    text(&tq_picture::language, "language"),
    text(&tq_picture::url, "url"),
    number(&tq_picture::width, "width", 0),
    number(&tq_picture::height, "height", 0),
};

template <> inline constexpr auto of<tq_provider> = std::tuple{
    text(&tq_provider::country, "countryCode"),
    text(&tq_provider::provider_id, "providerId"),
    text(&tq_provider::name, "providerName"),
    text(&tq_provider::logo, "logoUrl", "myProperty"), // older answers: a generated name
    text(&tq_provider::type, "watchType"),
    number(&tq_provider::display_priority, "displayPriority", 0),
};

template <> inline constexpr auto of<tq_video> = std::tuple{
    text(&tq_video::id, "id"),
    text(&tq_video::key, "key"),
    text(&tq_video::name, "name"),
    text(&tq_video::site, "site"),
    text(&tq_video::type, "type"),
    text(&tq_video::lang, "iso_639_1"),
    text(&tq_video::region, "iso_3166_1"),
    number(&tq_video::size, "size", 0),
};

template <> inline constexpr auto of<tq_detail> = std::tuple{
    id(&tq_detail::imdb_id),
    text(&tq_detail::title, "title"),
    text(&tq_detail::original_title, "originalTitle"),
    text(&tq_detail::tagline, "tagLine"),
    text(&tq_detail::plot, "plot"),
    image(&tq_detail::poster_url, "posterUrl"),
    image(&tq_detail::picture_url, "pictureUrl"),
    text(&tq_detail::title_type, "titleType"),
    joined(&tq_detail::genres, "genres"),
    joined(&tq_detail::directors, "directors"),
    text(&tq_detail::trailer_url, "trailerUrl"),
    text(&tq_detail::extension1, "extension1"),
    text(&tq_detail::logo_base64, "logoBase64"),
    number(&tq_detail::id, "id", 0),
    number(&tq_detail::start_year, "startYear", -1),
    number(&tq_detail::end_year, "endYear", -1),
    number(&tq_detail::runtime, "runtimeMinutes", -1),
    flag(&tq_detail::is_tv, "isTVShow"),
    real(&tq_detail::imdb_rating, "imDbRating", tq_nan()),
    list(tq_kind::records, &tq_detail::cast, &tq_detail::cast_count, "casts", TQMOVIE_DETAIL_CAST),
    list(tq_kind::texts, &tq_detail::related, &tq_detail::related_count, "relatedIMDbIds", TQMOVIE_DETAIL_CAST),
    list(tq_kind::records, &tq_detail::pictures, &tq_detail::picture_count, "pictures", TQMOVIE_DETAIL_PICTURES),
    list(tq_kind::records, &tq_detail::providers, &tq_detail::provider_count, "watchProviders",
         TQMOVIE_DETAIL_PROVIDERS),
    list(tq_kind::records, &tq_detail::videos, &tq_detail::video_count, "videos", TQMOVIE_DETAIL_VIDEOS),
};

// Camel-case keys, and the capitalised ones of older answers.
template <> inline constexpr auto of<tq_trans_item> = std::tuple{
    text(&tq_trans_item::title, "title", "Title"),
    text(&tq_trans_item::tagline, "tagLine", "TagLine"),
    text(&tq_trans_item::plot, "plot", "Plot"),
    text(&tq_trans_item::directors, "directors", "Directors"),
    text(&tq_trans_item::actors, "actors", "Actors"),
    text(&tq_trans_item::lang, "iso_639_1", "ISO_639_1"),
    text(&tq_trans_item::region, "iso_3166_1", "ISO_3166_1"),
};

template <> inline constexpr auto of<tq_trans> = std::tuple{
    id(&tq_trans::imdb_id),
    list(tq_kind::items, &tq_trans::items, &tq_trans::items_count, "items", 0, "Items"),
};
// clang-format on

// ----------------------------------------------------------------------------
// Reading the tables. Rows are walked at compile time, so each codec becomes the
// straight-line code it would be if written out field by field.
// ----------------------------------------------------------------------------

template <typename R> inline constexpr size_t count = std::tuple_size_v<std::remove_cvref_t<decltype(of<R>)>>;

// Row I of R's table.
template <typename R, size_t I> inline constexpr const auto &at = std::get<I>(of<R>);

// Calls fn(std::integral_constant<size_t, I>{}) for every row I of R, in order.
template <typename R, typename Fn> constexpr void each(Fn &&fn) noexcept {
    [&]<size_t... I>(std::index_sequence<I...>) {
        (fn(std::integral_constant<size_t, I>{}), ...);
    }(std::make_index_sequence<count<R>>{});
}

// The same while fn returns true; whether every call did.
template <typename R, typename Fn> constexpr bool all(Fn &&fn) noexcept {
    return [&]<size_t... I>(std::index_sequence<I...>) {
        return (fn(std::integral_constant<size_t, I>{}) && ...);
    }(std::make_index_sequence<count<R>>{});
}

// Whether a kind keeps a text of its own or a list; the others are plain values.
constexpr bool is_text(tq_kind k) noexcept { return k <= tq_kind::joined; }
constexpr bool is_list(tq_kind k) noexcept { return k >= tq_kind::texts; }

// How many spellings a row's key has.
template <typename R, typename M> constexpr size_t spellings(const row<R, M> &f) noexcept {
    size_t n = 0;
    for (const char *k : f.keys) n += k != nullptr;
    return n;
}

inline void no_row_has_this_key() noexcept {} // not constexpr: naming it fails the build

// The index of the row whose JSON key is `key`.
template <typename R> consteval size_t index_of(std::string_view key) noexcept {
    size_t found = count<R>;
    each<R>([&](auto i) {
        if (found == count<R> && at<R, i>.keys[0] && at<R, i>.keys[0] == key) found = i;
    });
    if (found == count<R>) no_row_has_this_key();
    return found;
}

} // namespace tq_fields

#endif // TQ_FIELDS_H
