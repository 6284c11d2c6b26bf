// SPDX-License-Identifier: MIT
// tqmovie_record: release and deep copy of the three record kinds, written once over
// each record's list of owned members.
#include "tq_record.h"

#include <type_traits>

namespace {

// ----------------------------------------------------------------------------
// Record layouts. Each record type lists its owned members once: texts, and lists
// of texts or of sub-records (with the detail section that selects them, 0 for
// always). Release and deep copy are written once over these
// lists; scalars travel with the plain struct copy.
// ----------------------------------------------------------------------------

template <typename R> void release_record(R &r) noexcept;
template <typename R> bool copy_record(R &d, const R &s, uint32_t sections) noexcept;

template <auto M> struct text {
    template <typename R> static void release(R &r) noexcept { std::free(r.*M); }
    template <typename R> static void detach(R &r) noexcept { r.*M = nullptr; }
    // A text that cannot be copied is left NULL: the record stays usable.
    template <typename R> static bool copy(R &d, const R &s, uint32_t) noexcept {
        d.*M = tq_strdup(s.*M);
        return true;
    }
    template <typename R> static bool whole(const R &d, const R &s, uint32_t) noexcept { return !(s.*M) || d.*M; }
};

// Elements of a list: texts (a NULL one stays NULL) or sub-records.
inline void release_elem(char *&p) noexcept { std::free(p); }
template <typename R> void release_elem(R &r) noexcept { release_record(r); }
inline bool whole_elem(char *const &d, char *const &s) noexcept { return !s || d; }
template <typename R> bool whole_elem(const R &d, const R &s) noexcept;
inline bool copy_elem(char *&d, char *const &s) noexcept {
    d = tq_strdup(s);
    return d != nullptr || s == nullptr;
}
template <typename R> bool copy_elem(R &d, const R &s) noexcept { return copy_record(d, s, TQMOVIE_DETAIL_ALL); }

// A list: array A of N elements, copied only when its detail section is selected.
// A list whose array is NULL has nothing to copy, whatever its count says. All or
// nothing: an element that cannot be copied drops the whole list.
template <auto A, auto N, uint32_t Section = 0> struct list {
    template <typename R> static void release(R &r) noexcept {
        for (size_t i = 0; r.*A && i < r.*N; ++i) release_elem((r.*A)[i]);
        std::free(r.*A);
    }
    template <typename R> static void detach(R &r) noexcept {
        r.*A = nullptr;
        r.*N = 0;
    }
    template <typename R> static bool copy(R &d, const R &s, uint32_t sections) noexcept {
        if (Section && !(sections & Section)) return true;
        const size_t n = s.*A ? s.*N : 0;
        if (n == 0) return true;
        auto *arr = tq_calloc_n<std::remove_pointer_t<std::remove_reference_t<decltype(d.*A)>>>(n);
        if (!arr) return false;
        for (size_t i = 0; i < n; ++i) {
            if (copy_elem(arr[i], (s.*A)[i])) continue;
            for (size_t k = 0; k <= i; ++k) release_elem(arr[k]);
            std::free(arr);
            return false;
        }
        d.*A = arr;
        d.*N = n;
        return true;
    }
    template <typename R> static bool whole(const R &d, const R &s, uint32_t sections) noexcept {
        if (Section && !(sections & Section)) return true;
        const size_t n = s.*A ? s.*N : 0;
        if (n != 0 && (d.*N != n || !(d.*A))) return false;
        for (size_t i = 0; i < n; ++i)
            if (!whole_elem((d.*A)[i], (s.*A)[i])) return false;
        return true;
    }
};

template <typename... F> struct fields {
    template <typename R> static void release(R &r) noexcept { (F::release(r), ...); }
    template <typename R> static void detach(R &r) noexcept { (F::detach(r), ...); }
    // In order, stopping at the first list that cannot be allocated.
    template <typename R> static bool copy(R &d, const R &s, uint32_t sections) noexcept {
        return (F::copy(d, s, sections) && ...);
    }
    // Whether d holds everything of s the sections select (no text lost on the way).
    template <typename R> static bool whole(const R &d, const R &s, uint32_t sections) noexcept {
        return (F::whole(d, s, sections) && ...);
    }
};

template <typename R> struct layout;
template <> struct layout<tq_rating> : fields<text<&tq_rating::source>> {};
template <>
struct layout<tq_basic>
    : fields<text<&tq_basic::imdb_id>, text<&tq_basic::title>, text<&tq_basic::tagline>, text<&tq_basic::plot>,
             text<&tq_basic::poster_url>, text<&tq_basic::picture_url>,
             list<&tq_basic::directors, &tq_basic::directors_count>, list<&tq_basic::genres, &tq_basic::genres_count>,
             list<&tq_basic::ratings, &tq_basic::ratings_count>> {};
template <>
struct layout<tq_cast> : fields<text<&tq_cast::name>, text<&tq_cast::id>, text<&tq_cast::poster>, text<&tq_cast::role>,
                                text<&tq_cast::birthday>> {};
template <> struct layout<tq_picture> : fields<text<&tq_picture::language>, text<&tq_picture::url>> {};
template <>
struct layout<tq_provider> : fields<text<&tq_provider::country>, text<&tq_provider::provider_id>,
                                    text<&tq_provider::name>, text<&tq_provider::logo>, text<&tq_provider::type>> {};
template <>
struct layout<tq_video>
    : fields<text<&tq_video::id>, text<&tq_video::key>, text<&tq_video::name>, text<&tq_video::site>,
             text<&tq_video::type>, text<&tq_video::lang>, text<&tq_video::region>> {};
template <>
struct layout<tq_detail>
    : fields<text<&tq_detail::imdb_id>, text<&tq_detail::title>, text<&tq_detail::original_title>,
             text<&tq_detail::tagline>, text<&tq_detail::plot>, text<&tq_detail::poster_url>,
             text<&tq_detail::picture_url>, text<&tq_detail::title_type>, text<&tq_detail::genres>,
             text<&tq_detail::directors>, text<&tq_detail::trailer_url>, text<&tq_detail::extension1>,
             text<&tq_detail::logo_base64>, list<&tq_detail::cast, &tq_detail::cast_count, TQMOVIE_DETAIL_CAST>,
             list<&tq_detail::related, &tq_detail::related_count, TQMOVIE_DETAIL_CAST>,
             list<&tq_detail::pictures, &tq_detail::picture_count, TQMOVIE_DETAIL_PICTURES>,
             list<&tq_detail::providers, &tq_detail::provider_count, TQMOVIE_DETAIL_PROVIDERS>,
             list<&tq_detail::videos, &tq_detail::video_count, TQMOVIE_DETAIL_VIDEOS>> {};
template <>
struct layout<tq_trans_item>
    : fields<text<&tq_trans_item::title>, text<&tq_trans_item::tagline>, text<&tq_trans_item::plot>,
             text<&tq_trans_item::directors>, text<&tq_trans_item::actors>, text<&tq_trans_item::lang>,
             text<&tq_trans_item::region>> {};
template <>
struct layout<tq_trans> : fields<text<&tq_trans::imdb_id>, list<&tq_trans::items, &tq_trans::items_count>> {};

template <typename R> void release_record(R &r) noexcept { layout<R>::release(r); }
template <typename R> bool whole_elem(const R &d, const R &s) noexcept {
    return layout<R>::whole(d, s, TQMOVIE_DETAIL_ALL);
}

// d receives the scalars with the struct, then a copy of every owned member the
// sections select. On false d is a valid record holding what was copied.
template <typename R> bool copy_record(R &d, const R &s, uint32_t sections) noexcept {
    d = s;
    layout<R>::detach(d);
    return layout<R>::copy(d, s, sections);
}

// Public release and copy: NULL is harmless, a released record is the empty one,
// and a copy starts from the empty record.
template <typename R> void free_rec(R *r) noexcept {
    if (!r) return;
    release_record(*r);
    tq_reset(r);
}

template <typename R> int32_t copy_rec(R *dst, const R *src, uint32_t sections) noexcept {
    tq_reset(dst);
    if (!src) return 0;
    return copy_record(*dst, *src, sections) ? 0 : -1;
}

} // namespace

int32_t tq_copy_trans(tq_trans *dst, const tq_trans *src) noexcept { return copy_rec(dst, src, 0); }

int32_t tq_copy_whole(tq_basic *dst, const tq_basic *src, uint32_t) noexcept {
    return copy_rec(dst, src, 0) == 0 && (!src || layout<tq_basic>::whole(*dst, *src, 0)) ? 0 : -1;
}
int32_t tq_copy_whole(tq_detail *dst, const tq_detail *src, uint32_t sections) noexcept {
    return copy_rec(dst, src, sections) == 0 && (!src || layout<tq_detail>::whole(*dst, *src, sections)) ? 0 : -1;
}

extern "C" {

void tq_free_basic(tq_basic *r) { free_rec(r); }
void tq_free_detail(tq_detail *r) { free_rec(r); }
void tq_free_trans(tq_trans *set) { free_rec(set); }

int32_t tq_copy_basic(tq_basic *dst, const tq_basic *src) { return copy_rec(dst, src, 0); }
int32_t tq_copy_detail(tq_detail *dst, const tq_detail *src, uint32_t sections) { return copy_rec(dst, src, sections); }

} // extern "C"
