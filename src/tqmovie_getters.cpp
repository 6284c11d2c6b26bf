// SPDX-License-Identifier: MIT
// tqmovie_getters: the result getters, each one line over one bounds check.
#include "tq_results.h"

#include <type_traits>

namespace {

// ----------------------------------------------------------------------------
// Getters: one bounds check behind every indexed read, so that each exported
// getter stays one line.
// ----------------------------------------------------------------------------

inline int32_t low32(size_t n) noexcept { return static_cast<int32_t>(static_cast<uint32_t>(n)); }

template <typename R> int32_t count_of(const tq_state &s) noexcept { return low32(s.*tq_store<R>::count); }

// Field m of stored record i, or `none` out of range.
template <typename R, typename F>
F field(const tq_state &s, int32_t i, F R::*m, std::type_identity_t<F> none) noexcept {
    // Not through tq_stored: a getter need not test the record's address for NULL.
    return tq_is_stored<R>(s, i) ? (s.*tq_store<R>::items)[i].*m : none;
}

// The count of list n of record i (its low 32 bits), 0 out of range.
template <typename R> int32_t count_of(const tq_state &s, int32_t i, size_t R::*n) noexcept {
    return low32(field(s, i, n, 0));
}

// Element j of the list (a, n) of record i: the element itself (a list of texts) or
// its member m (a list of sub-records); `none` when either index is out of range.
template <typename R, typename E>
const E *element(const tq_state &s, int32_t i, int32_t j, E *R::*a, size_t R::*n) noexcept {
    const R *r = tq_stored<R>(s, i);
    if (!r || !(r->*a) || j < 0 || static_cast<uint64_t>(j) >= r->*n) return nullptr;
    return &(r->*a)[j];
}
template <typename R> const char *item(const tq_state &s, int32_t i, int32_t j, char **R::*a, size_t R::*n) noexcept {
    const char *const *e = element(s, i, j, a, n);
    return e ? *e : nullptr;
}
template <typename R, typename E, typename F>
F item(const tq_state &s, int32_t i, int32_t j, E *R::*a, size_t R::*n, F E::*m,
       std::type_identity_t<F> none) noexcept {
    const E *e = element(s, i, j, a, n);
    return e ? e->*m : none;
}

} // namespace

extern "C" {

// ----------------------------------------------------------------------------
// Result getters
// ----------------------------------------------------------------------------

// One line per getter, however long, so that each name is found by grep with its body.
// clang-format off
int32_t tqmovie_basic_count(void) { return count_of<tq_basic>(state()); }
const char *tqmovie_basic_imdb_id(int32_t i) { return field(state(), i, &tq_basic::imdb_id, nullptr); }
const char *tqmovie_basic_title(int32_t i) { return field(state(), i, &tq_basic::title, nullptr); }
const char *tqmovie_basic_tagline(int32_t i) { return field(state(), i, &tq_basic::tagline, nullptr); }
const char *tqmovie_basic_plot(int32_t i) { return field(state(), i, &tq_basic::plot, nullptr); }
const char *tqmovie_basic_poster_url(int32_t i) { return field(state(), i, &tq_basic::poster_url, nullptr); }
const char *tqmovie_basic_picture_url(int32_t i) { return field(state(), i, &tq_basic::picture_url, nullptr); }
int32_t tqmovie_basic_id(int32_t i) { return field(state(), i, &tq_basic::id, 0); }
int32_t tqmovie_basic_year(int32_t i) { return field(state(), i, &tq_basic::year, -1); }
int32_t tqmovie_basic_duration(int32_t i) { return field(state(), i, &tq_basic::duration, -1); }
int32_t tqmovie_basic_is_tv(int32_t i) { return field(state(), i, &tq_basic::is_tv, -1); }
int32_t tqmovie_basic_directors_count(int32_t i) { return count_of(state(), i, &tq_basic::directors_count); }
const char *tqmovie_basic_director(int32_t i, int32_t j) { return item(state(), i, j, &tq_basic::directors, &tq_basic::directors_count); }
int32_t tqmovie_basic_genres_count(int32_t i) { return count_of(state(), i, &tq_basic::genres_count); }
const char *tqmovie_basic_genre(int32_t i, int32_t j) { return item(state(), i, j, &tq_basic::genres, &tq_basic::genres_count); }
int32_t tqmovie_basic_ratings_count(int32_t i) { return count_of(state(), i, &tq_basic::ratings_count); }
const char *tqmovie_basic_rating_source(int32_t i, int32_t j) { return item(state(), i, j, &tq_basic::ratings, &tq_basic::ratings_count, &tq_rating::source, nullptr); }
double tqmovie_basic_rating_value(int32_t i, int32_t j) { return item(state(), i, j, &tq_basic::ratings, &tq_basic::ratings_count, &tq_rating::value, tq_nan()); }

int32_t tqmovie_detail_count(void) { return count_of<tq_detail>(state()); }
const char *tqmovie_detail_imdb_id(int32_t i) { return field(state(), i, &tq_detail::imdb_id, nullptr); }
const char *tqmovie_detail_title(int32_t i) { return field(state(), i, &tq_detail::title, nullptr); }
const char *tqmovie_detail_original_title(int32_t i) { return field(state(), i, &tq_detail::original_title, nullptr); }
const char *tqmovie_detail_tagline(int32_t i) { return field(state(), i, &tq_detail::tagline, nullptr); }
const char *tqmovie_detail_plot(int32_t i) { return field(state(), i, &tq_detail::plot, nullptr); }
const char *tqmovie_detail_poster_url(int32_t i) { return field(state(), i, &tq_detail::poster_url, nullptr); }
const char *tqmovie_detail_picture_url(int32_t i) { return field(state(), i, &tq_detail::picture_url, nullptr); }
const char *tqmovie_detail_title_type(int32_t i) { return field(state(), i, &tq_detail::title_type, nullptr); }
const char *tqmovie_detail_genres(int32_t i) { return field(state(), i, &tq_detail::genres, nullptr); }
const char *tqmovie_detail_directors(int32_t i) { return field(state(), i, &tq_detail::directors, nullptr); }
const char *tqmovie_detail_trailer_url(int32_t i) { return field(state(), i, &tq_detail::trailer_url, nullptr); }
const char *tqmovie_detail_extension1(int32_t i) { return field(state(), i, &tq_detail::extension1, nullptr); }
const char *tqmovie_detail_logo_base64(int32_t i) { return field(state(), i, &tq_detail::logo_base64, nullptr); }
int32_t tqmovie_detail_id(int32_t i) { return field(state(), i, &tq_detail::id, 0); }
int32_t tqmovie_detail_start_year(int32_t i) { return field(state(), i, &tq_detail::start_year, -1); }
int32_t tqmovie_detail_end_year(int32_t i) { return field(state(), i, &tq_detail::end_year, -1); }
int32_t tqmovie_detail_runtime(int32_t i) { return field(state(), i, &tq_detail::runtime, -1); }
int32_t tqmovie_detail_is_tv(int32_t i) { return field(state(), i, &tq_detail::is_tv, -1); }
double tqmovie_detail_imdb_rating(int32_t i) { return field(state(), i, &tq_detail::imdb_rating, tq_nan()); }
int32_t tqmovie_detail_cast_count(int32_t i) { return count_of(state(), i, &tq_detail::cast_count); }
const char *tqmovie_detail_cast_name(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::name, nullptr); }
const char *tqmovie_detail_cast_id(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::id, nullptr); }
const char *tqmovie_detail_cast_poster(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::poster, nullptr); }
const char *tqmovie_detail_cast_role(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::role, nullptr); }
const char *tqmovie_detail_cast_birthday(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::cast, &tq_detail::cast_count, &tq_cast::birthday, nullptr); }
int32_t tqmovie_detail_picture_count(int32_t i) { return count_of(state(), i, &tq_detail::picture_count); }
const char *tqmovie_detail_picture_item_url(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::pictures, &tq_detail::picture_count, &tq_picture::url, nullptr); }
const char *tqmovie_detail_picture_item_lang(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::pictures, &tq_detail::picture_count, &tq_picture::language, nullptr); }
int32_t tqmovie_detail_picture_item_w(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::pictures, &tq_detail::picture_count, &tq_picture::width, 0); }
int32_t tqmovie_detail_picture_item_h(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::pictures, &tq_detail::picture_count, &tq_picture::height, 0); }
int32_t tqmovie_detail_provider_count(int32_t i) { return count_of(state(), i, &tq_detail::provider_count); }
const char *tqmovie_detail_provider_name(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::name, nullptr); }
const char *tqmovie_detail_provider_country(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::country, nullptr); }
const char *tqmovie_detail_provider_type(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::type, nullptr); }
const char *tqmovie_detail_provider_logo(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::logo, nullptr); }
const char *tqmovie_detail_provider_id(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::provider_id, nullptr); }
int32_t tqmovie_detail_provider_priority(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::providers, &tq_detail::provider_count, &tq_provider::display_priority, 0); }
int32_t tqmovie_detail_video_count(int32_t i) { return count_of(state(), i, &tq_detail::video_count); }
const char *tqmovie_detail_video_name(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::name, nullptr); }
const char *tqmovie_detail_video_key(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::key, nullptr); }
const char *tqmovie_detail_video_site(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::site, nullptr); }
const char *tqmovie_detail_video_type(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::type, nullptr); }
const char *tqmovie_detail_video_id(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::id, nullptr); }
const char *tqmovie_detail_video_lang(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::lang, nullptr); }
const char *tqmovie_detail_video_region(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::region, nullptr); }
int32_t tqmovie_detail_video_size(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::videos, &tq_detail::video_count, &tq_video::size, 0); }
int32_t tqmovie_detail_related_count(int32_t i) { return count_of(state(), i, &tq_detail::related_count); }
const char *tqmovie_detail_related_id(int32_t i, int32_t j) { return item(state(), i, j, &tq_detail::related, &tq_detail::related_count); }

int32_t tqmovie_trans_count(void) { return count_of<tq_trans>(state()); }
const char *tqmovie_trans_imdb_id(int32_t i) { return field(state(), i, &tq_trans::imdb_id, nullptr); }
int32_t tqmovie_trans_items_count(int32_t i) { return count_of(state(), i, &tq_trans::items_count); }
const char *tqmovie_trans_item_title(int32_t i, int32_t j) { return item(state(), i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::title, nullptr); }
const char *tqmovie_trans_item_plot(int32_t i, int32_t j) { return item(state(), i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::plot, nullptr); }
const char *tqmovie_trans_item_tagline(int32_t i, int32_t j) { return item(state(), i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::tagline, nullptr); }
const char *tqmovie_trans_item_lang(int32_t i, int32_t j) { return item(state(), i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::lang, nullptr); }
const char *tqmovie_trans_item_region(int32_t i, int32_t j) { return item(state(), i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::region, nullptr); }
const char *tqmovie_trans_item_directors(int32_t i, int32_t j) { return item(state(), i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::directors, nullptr); }
const char *tqmovie_trans_item_actors(int32_t i, int32_t j) { return item(state(), i, j, &tq_trans::items, &tq_trans::items_count, &tq_trans_item::actors, nullptr); }
// clang-format on

} // extern "C"
