// SPDX-License-Identifier: MIT
// tqmovie_text: the text helpers: copies, formatting, the error text's exported
// setter, id lists and percent-encoding.
#include "tq_internal.h"

#include <cstdarg>
#include <cstdio>

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

extern "C" {

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
    va_list ap;
    va_start(ap, fmt);
    tq_err_v(client(), fmt, ap);
    va_end(ap);
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

} // extern "C"
