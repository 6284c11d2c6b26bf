// SPDX-License-Identifier: MIT
// Records: the empty record of each kind, deep copy and release, the complete JSON
// form written out and the decoders that read it back, all read from the records'
// field tables (tq_fields.h). Not installed.
#ifndef TQ_RECORD_H
#define TQ_RECORD_H

#include "tq_fields.h"
#include "tq_internal.h"

// ----------------------------------------------------------------------------
// Empty records: zero-filled storage with each plain value at its table's empty
// value, since some fields read -1 or NaN when absent.
// ----------------------------------------------------------------------------
template <typename R> void tq_reset(R *r) noexcept {
    std::memset(r, 0, sizeof *r);
    tq_fields::each<R>([r](auto i) {
        constexpr auto &f = tq_fields::at<R, i>;
        if constexpr (!tq_fields::is_text(f.kind) && !tq_fields::is_list(f.kind)) r->*f.at = f.empty;
    });
}
inline void tq_reset_basic(tq_basic *r) noexcept { tq_reset(r); }
inline void tq_reset_detail(tq_detail *r) noexcept { tq_reset(r); }
inline void tq_reset_trans(tq_trans *r) noexcept { tq_reset(r); }

// Deep copy of a translation set (every item); 0, or -1 when the item array could
// not be allocated (dst then holds what was copied).
int32_t tq_copy_trans(tq_trans *dst, const tq_trans *src) noexcept;

// A deep copy that counts as failed (-1) when any text could not be copied either, so
// the record is whole or not at all: what the cache keeps and hands out, since a
// record missing a text would otherwise answer for a day. dst as for tq_copy_basic.
int32_t tq_copy_whole(tq_basic *dst, const tq_basic *src, uint32_t sections) noexcept;
int32_t tq_copy_whole(tq_detail *dst, const tq_detail *src, uint32_t sections) noexcept;

// One spelling for the three record kinds, for code that is generic over them.
inline void tq_release(tq_basic *r) noexcept { tq_free_basic(r); }
inline void tq_release(tq_detail *r) noexcept { tq_free_detail(r); }
inline void tq_release(tq_trans *r) noexcept { tq_free_trans(r); }
inline int32_t tq_copy(tq_basic *d, const tq_basic *s, uint32_t) noexcept { return tq_copy_basic(d, s); }
inline int32_t tq_copy(tq_detail *d, const tq_detail *s, uint32_t sections) noexcept {
    return tq_copy_detail(d, s, sections);
}
inline int32_t tq_copy(tq_trans *d, const tq_trans *s, uint32_t) noexcept { return tq_copy_trans(d, s); }

// ----------------------------------------------------------------------------
// Text out (tqmovie_export.cpp): a growing text with a sticky failure flag (once an
// append fails the text is lost and release() gives NULL), and records written in
// their complete JSON form, the one the decoders read back.
// ----------------------------------------------------------------------------
struct tq_text {
    char *data = nullptr;
    size_t len = 0, cap = 0;
    bool failed = false;
    size_t first_cap = 4096; // a record's complete text is a few kilobytes: start there
    tq_text() = default;
    explicit tq_text(size_t first) noexcept : first_cap(first) {}
    tq_text(const tq_text &) = delete;
    tq_text &operator=(const tq_text &) = delete;
    ~tq_text() { std::free(data); }
    // Appends (the text is NUL-terminated only by release()).
    void put(const char *bytes, size_t count) noexcept {
        if (count < cap - len) { // cap > len always holds once data exists; 0 - 0 never passes
            std::memcpy(data + len, bytes, count);
            len += count;
        } else {
            grow_and_put(bytes, count);
        }
    }
    template <size_t N> void put(const char (&literal)[N]) noexcept { put(literal, N - 1); }
    void put_text(const char *s) noexcept { put(s, std::strlen(s)); }
    void fmt(const char *f, ...) noexcept TQMOVIE_PRINTF(2, 3);
    void integer(int64_t v) noexcept;
    // The text (the caller's, to free), or NULL when an append failed.
    char *release() noexcept;

private:
    void grow_and_put(const char *bytes, size_t count) noexcept;
};
void tq_json_full(tq_text &out, const tq_basic &r) noexcept;
void tq_json_full(tq_text &out, const tq_detail &r) noexcept;
void tq_json_full(tq_text &out, const tq_trans &r) noexcept;
// A JSON string, escaped so that the text is valid JSON whatever bytes s holds; NULL
// is written null.
void tq_json_string(tq_text &out, const char *s) noexcept;

// The document decoders with a bound: at most `most` records of an array answer are
// built, the rest never (a NUL-terminated body). Errors are c's.
int32_t tq_parse_basic_most(tqmovie_client &c, const char *body, tq_basic **out, size_t *count,
                            int32_t expect_array, size_t most) noexcept;
int32_t tq_parse_detail_most(tqmovie_client &c, const char *body, tq_detail **out, size_t *count,
                             int32_t expect_array, uint32_t sections, size_t most) noexcept;
int32_t tq_parse_trans_most(tqmovie_client &c, const char *body, tq_trans **out, size_t *count,
                            size_t most) noexcept;

#endif // TQ_RECORD_H
