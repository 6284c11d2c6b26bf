// SPDX-License-Identifier: MIT
// tqmovie_record: release and deep copy of the record kinds, written once over their
// field tables (tq_fields.h).
#include "tq_record.h"

namespace {

// ----------------------------------------------------------------------------
// Release and deep copy, written once over each record's field table: the texts and
// lists (of texts or of sub-records) a record owns. Plain values travel with the
// struct copy.
// ----------------------------------------------------------------------------

template <typename R> void release_record(R &r) noexcept;
template <typename R> bool copy_record(R &d, const R &s, uint32_t sections) noexcept;
template <typename R> bool whole_record(const R &d, const R &s, uint32_t sections) noexcept;

// Elements of a list: texts (a NULL one stays NULL) or sub-records.
inline void release_elem(char *&p) noexcept { std::free(p); }
template <typename E> void release_elem(E &e) noexcept { release_record(e); }
inline bool copy_elem(char *&d, char *const &s) noexcept {
    d = tq_strdup(s);
    return d != nullptr || s == nullptr;
}
template <typename E> bool copy_elem(E &d, const E &s) noexcept { return copy_record(d, s, TQMOVIE_DETAIL_ALL); }
inline bool whole_elem(char *const &d, char *const &s) noexcept { return !s || d; }
template <typename E> bool whole_elem(const E &d, const E &s) noexcept {
    return whole_record(d, s, TQMOVIE_DETAIL_ALL);
}

// Whether the sections select a row's list (one outside every section always is).
template <typename F> bool selected(const F &f, uint32_t sections) noexcept {
    return !f.section || (sections & f.section);
}

// A list whose array is NULL has nothing to copy, whatever its count says. All or
// nothing: an element that cannot be copied drops the whole list.
template <typename E> bool copy_list(E *&d, size_t &dn, const E *s, size_t sn) noexcept {
    const size_t n = s ? sn : 0;
    if (n == 0) return true;
    E *arr = tq_calloc_n<E>(n);
    if (!arr) return false;
    for (size_t i = 0; i < n; ++i) {
        if (copy_elem(arr[i], s[i])) continue;
        for (size_t k = 0; k <= i; ++k) release_elem(arr[k]);
        std::free(arr);
        return false;
    }
    d = arr;
    dn = n;
    return true;
}

template <typename R> void release_record(R &r) noexcept {
    tq_fields::each<R>([&](auto i) {
        constexpr auto &f = tq_fields::at<R, i>;
        if constexpr (tq_fields::is_list(f.kind))
            for (size_t k = 0; r.*f.at && k < r.*f.count; ++k) release_elem((r.*f.at)[k]);
        if constexpr (tq_fields::is_text(f.kind) || tq_fields::is_list(f.kind)) std::free(r.*f.at);
    });
}

// d receives the plain values with the struct, then a copy of every owned member the
// sections select, in table order, stopping at the first list that cannot be
// allocated. On false d is a valid record holding what was copied.
template <typename R> bool copy_record(R &d, const R &s, uint32_t sections) noexcept {
    d = s;
    tq_fields::each<R>([&](auto i) {
        constexpr auto &f = tq_fields::at<R, i>;
        if constexpr (tq_fields::is_text(f.kind) || tq_fields::is_list(f.kind)) d.*f.at = nullptr;
        if constexpr (tq_fields::is_list(f.kind)) d.*f.count = 0;
    });
    return tq_fields::all<R>([&](auto i) {
        constexpr auto &f = tq_fields::at<R, i>;
        if constexpr (tq_fields::is_text(f.kind)) d.*f.at = tq_strdup(s.*f.at); // NULL when out of memory: still usable
        if constexpr (tq_fields::is_list(f.kind))
            if (selected(f, sections)) return copy_list(d.*f.at, d.*f.count, s.*f.at, s.*f.count);
        return true;
    });
}

// Whether d holds everything of s the sections select (no text lost on the way).
template <typename R> bool whole_record(const R &d, const R &s, uint32_t sections) noexcept {
    return tq_fields::all<R>([&](auto i) {
        constexpr auto &f = tq_fields::at<R, i>;
        if constexpr (tq_fields::is_text(f.kind)) return !(s.*f.at) || d.*f.at;
        if constexpr (tq_fields::is_list(f.kind)) {
            if (!selected(f, sections)) return true;
            const size_t n = s.*f.at ? s.*f.count : 0;
            if (n != 0 && (d.*f.count != n || !(d.*f.at))) return false;
            for (size_t k = 0; k < n; ++k)
                if (!whole_elem((d.*f.at)[k], (s.*f.at)[k])) return false;
        }
        return true;
    });
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
    return copy_rec(dst, src, 0) == 0 && (!src || whole_record(*dst, *src, 0)) ? 0 : -1;
}
int32_t tq_copy_whole(tq_detail *dst, const tq_detail *src, uint32_t sections) noexcept {
    return copy_rec(dst, src, sections) == 0 && (!src || whole_record(*dst, *src, sections)) ? 0 : -1;
}

extern "C" {

void tq_free_basic(tq_basic *r) { free_rec(r); }
void tq_free_detail(tq_detail *r) { free_rec(r); }
void tq_free_trans(tq_trans *set) { free_rec(set); }

int32_t tq_copy_basic(tq_basic *dst, const tq_basic *src) { return copy_rec(dst, src, 0); }
int32_t tq_copy_detail(tq_detail *dst, const tq_detail *src, uint32_t sections) { return copy_rec(dst, src, sections); }

} // extern "C"
