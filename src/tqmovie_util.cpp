// SPDX-License-Identifier: MIT
// tqmovie_util: text helpers, request dispatch, record release and deep copy,
// and emptying of the result store.
#include "tq_internal.h"

#include <cstdarg>
#include <cstdio>
#include <type_traits>

namespace {

// ----------------------------------------------------------------------------
// Request dispatch
// ----------------------------------------------------------------------------

// Steps shared by GET and POST once the entry has returned. The backend's error
// description is ours from here on; without a free entry it still came from the
// standard heap (the backend contract), so it is released there rather than leaked.
int32_t finish_request(int32_t rc, int32_t *status, char *desc) noexcept {
    tq_state &s = state();
    s.http_code = *status;
    // A transfer stopped by a cancel or the deadline fails in the backend's own words;
    // the operation reports it as what it is.
    if (const int32_t stop = tq_stop_status()) {
        tq_io_release(s.io, desc);
        return stop;
    }
    if (rc != 0) {
        tq_set_err("transport: %s", desc ? desc : "unknown");
        tq_io_release(s.io, desc);
        return TQMOVIE_ERR_TRANSPORT;
    }
    tq_io_release(s.io, desc); // a description on success is dropped unread
    if (static_cast<uint32_t>(*status) - 200u > 99u) {
        tq_set_err("HTTP %ld", static_cast<long>(*status));
        return TQMOVIE_ERR_HTTP;
    }
    return TQMOVIE_OK;
}

// While the backend's entry runs, the client hears the headers it reports
// (tqmovie_io_header); before and after, it does not.
class request_window {
public:
    request_window() noexcept : op_(ext().op) { op_.fetch_or(tq_op_request); }
    ~request_window() { op_.fetch_and(~tq_op_request); }
    request_window(const request_window &) = delete;
    request_window &operator=(const request_window &) = delete;

private:
    std::atomic<uint32_t> &op_;
};

bool is_control(unsigned char c) noexcept { return c < 0x20 || c == 0x7F; }

// Common start of both dispatches: clean outputs, no header of an earlier request,
// the entry the request needs, and no cancel pending. Returns the status to end with,
// or TQMOVIE_OK to send the request.
int32_t begin_request(bool has_entry, char **body, int32_t *status) noexcept {
    *body = nullptr;
    *status = 0;
    tq_state &s = state();
    s.header_count = 0;
    if (!s.has_io || !has_entry) return tq_fail(TQMOVIE_ERR_NO_IO, tq_err_no_io);
    return tq_stop_status();
}

// One request, tried again after a failure worth another attempt as the client's
// retry policy says. What the host sees is the last attempt's status, text, headers
// and body. send(desc) calls the backend's entry.
template <typename Send> int32_t dispatch(bool has_entry, char **body, int32_t *status, Send send) noexcept {
    for (uint32_t attempt = 0;; ++attempt) {
        if (const int32_t st = begin_request(has_entry, body, status)) return st;
        std::atomic<uint32_t> &op = ext().op;
        op.fetch_and(~tq_op_retryable);
        char *desc = nullptr;
        int32_t rc;
        {
            const request_window window;
            rc = send(&desc);
        }
        const int32_t st = finish_request(rc, status, desc);
        const int64_t wait = tq_retry_wait(st, *status, attempt);
        if (wait < 0) return st;
        std::free(*body); // the failed attempt's answer
        *body = nullptr;
        if (const int32_t stop = tq_retry_sleep(wait, st)) return stop;
        state().err[0] = '\0'; // the next attempt speaks for itself
    }
}

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

template <typename R> void clear_store(tq_state &s) noexcept {
    using st = tq_store<R>;
    R *items = s.*st::items;
    for (size_t i = 0; i < s.*st::count; ++i) release_record(items[i]);
    std::free(items);
    s.*st::items = nullptr;
    s.*st::count = 0;
    s.*st::cap = 0;
}

} // namespace

char *tq_fmt(const char *fmt, ...) noexcept {
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    char *out = n < 0 ? nullptr : static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
    if (out) std::vsnprintf(out, static_cast<size_t>(n) + 1, fmt, again);
    va_end(again);
    return out;
}

int32_t tq_copy_trans(tq_trans *dst, const tq_trans *src) noexcept { return copy_rec(dst, src, 0); }

int32_t tq_copy_whole(tq_basic *dst, const tq_basic *src, uint32_t) noexcept {
    return copy_rec(dst, src, 0) == 0 && (!src || layout<tq_basic>::whole(*dst, *src, 0)) ? 0 : -1;
}
int32_t tq_copy_whole(tq_detail *dst, const tq_detail *src, uint32_t sections) noexcept {
    return copy_rec(dst, src, sections) == 0 && (!src || layout<tq_detail>::whole(*dst, *src, sections)) ? 0 : -1;
}

bool tq_header_add(tq_state &s, const char *name, size_t name_len, const char *value, size_t value_len) noexcept {
    const int32_t at = s.header_count < 0 ? 0 : s.header_count;
    if (at >= static_cast<int32_t>(sizeof s.headers / sizeof s.headers[0])) return false;
    if (name_len == 0 || name_len >= sizeof(tq_header::name)) return false;
    for (size_t i = 0; i < name_len; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (is_control(c) || c == ' ' || c == ':') return false;
    }
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (value_len > 0 && blank(*value)) ++value, --value_len;
    while (value_len > 0 && blank(value[value_len - 1])) --value_len;
    for (size_t i = 0; i < value_len; ++i)
        if (is_control(static_cast<unsigned char>(value[i]))) return false;
    tq_header &h = s.headers[at];
    if (value_len >= sizeof h.value) value_len = sizeof h.value - 1;
    std::memcpy(h.name, name, name_len);
    h.name[name_len] = '\0';
    std::memcpy(h.value, value, value_len);
    h.value[value_len] = '\0';
    s.header_count = at + 1;
    return true;
}

extern "C" {

// ----------------------------------------------------------------------------
// Text helpers
// ----------------------------------------------------------------------------

// Spelled out with malloc rather than strdup: sanitizer runtimes serve strdup from
// their own allocator, out of sight of the tests' heap interposer.
char *tq_strdup(const char *s) {
    if (!s) return nullptr;
    const size_t n = std::strlen(s) + 1;
    char *p = static_cast<char *>(std::malloc(n));
    if (p) std::memcpy(p, s, n);
    return p;
}

char *tq_strndup(const char *s, size_t n) {
    if (!s || n == SIZE_MAX) return nullptr;
    char *p = static_cast<char *>(std::malloc(n + 1));
    if (!p) return nullptr;
    if (n) std::memcpy(p, s, n);
    p[n] = '\0';
    return p;
}

void tq_set_err(const char *fmt, ...) {
    // Format into a scratch buffer first: an argument may point into the error text itself
    // (a host re-reporting tqmovie_last_error()), and overlapping output is undefined.
    char tmp[sizeof state().err];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(tmp, sizeof tmp, fmt, ap);
    va_end(ap);
    if (n < 0) tmp[0] = '\0';
    std::memcpy(state().err, tmp, sizeof tmp);
}

char *tq_join_ids(const char *const *ids, size_t count) {
    size_t total = 0;
    for (size_t i = 0; ids && i < count; ++i)
        if (ids[i]) total += std::strlen(ids[i]) + 1;
    char *out = static_cast<char *>(std::malloc(total + 1));
    if (!out) return nullptr;
    size_t len = 0;
    for (size_t i = 0; ids && i < count; ++i) {
        if (!ids[i]) continue;
        // The comma test looks at the output, so leading empty entries leave no trace.
        if (len > 0) out[len++] = ',';
        const size_t n = std::strlen(ids[i]);
        std::memcpy(out + len, ids[i], n);
        len += n;
    }
    out[len] = '\0';
    return out;
}

char *tq_url_encode(const char *s) {
    static const char hex[] = "0123456789ABCDEF";
    if (!s) s = "";
    const size_t n = std::strlen(s);
    if (n > (SIZE_MAX - 1) / 3) return nullptr;
    char *out = static_cast<char *>(std::malloc(n * 3 + 1));
    if (!out) return nullptr;
    char *w = out;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            *w++ = static_cast<char>(c);
        } else {
            *w++ = '%';
            *w++ = hex[c >> 4];
            *w++ = hex[c & 15];
        }
    }
    *w = '\0';
    return out;
}

// ----------------------------------------------------------------------------
// Request dispatch
// ----------------------------------------------------------------------------

int32_t tq_http_get(const char *url, char **body, int32_t *status) {
    const tq_io io = state().io;
    return dispatch(io.get != nullptr, body, status,
                    [&](char **desc) { return io.get(io.ctx, url, body, status, desc); });
}

int32_t tq_http_post(const char *url, const char *request_body, char **body, int32_t *status) {
    const tq_io io = state().io;
    return dispatch(io.post != nullptr, body, status,
                    [&](char **desc) { return io.post(io.ctx, url, request_body, "text/plain", body, status, desc); });
}

int32_t tqmovie_io_header(tqmovie_client *c, const char *name, const char *value) {
    tqmovie_client &target = c ? *c : tq_global_client;
    if (!name || !value || !(target.ext.op.load() & tq_op_request)) return 0;
    return tq_header_add(*target.st, name, std::strlen(name), value, std::strlen(value)) ? 1 : 0;
}

// ----------------------------------------------------------------------------
// Record release and deep copy
// ----------------------------------------------------------------------------

void tq_free_basic(tq_basic *r) { free_rec(r); }
void tq_free_detail(tq_detail *r) { free_rec(r); }
void tq_free_trans(tq_trans *set) { free_rec(set); }

int32_t tq_copy_basic(tq_basic *dst, const tq_basic *src) { return copy_rec(dst, src, 0); }
int32_t tq_copy_detail(tq_detail *dst, const tq_detail *src, uint32_t sections) { return copy_rec(dst, src, sections); }

// ----------------------------------------------------------------------------
// Result store
// ----------------------------------------------------------------------------

void tq_clear_results(void) {
    tq_state &s = state();
    clear_store<tq_basic>(s);
    clear_store<tq_detail>(s);
    clear_store<tq_trans>(s);
}

} // extern "C"
