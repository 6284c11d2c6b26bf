// tqmovie_util: text helpers, request dispatch, record release and deep copy,
// and emptying of the result store.
#include "tq_internal.h"

#include <cstdarg>
#include <cstdio>

namespace {

// ----------------------------------------------------------------------------
// Request dispatch
// ----------------------------------------------------------------------------

// A backend's error description belongs to us once the entry returns. Without a
// free entry it still came from the standard heap (the backend contract), so it is
// released there rather than leaked.
void release_backend_text(char *text) noexcept {
    if (!text) return;
    if (g_tq.io.free) g_tq.io.free(g_tq.io.ctx, text);
    else std::free(text);
}

// Steps shared by GET and POST once the entry has returned.
int32_t finish_request(int32_t rc, int32_t *status, char *desc) noexcept {
    g_tq.http_code = *status;
    if (rc != 0) {
        tq_set_err("transport: %s", desc ? desc : "unknown");
        release_backend_text(desc);
        return TQMOVIE_ERR_TRANSPORT;
    }
    release_backend_text(desc); // a description on success is dropped unread
    if (static_cast<uint32_t>(*status) - 200u > 99u) {
        tq_set_err("HTTP %ld", static_cast<long>(*status));
        return TQMOVIE_ERR_HTTP;
    }
    return TQMOVIE_OK;
}

// ----------------------------------------------------------------------------
// Record copies
// ----------------------------------------------------------------------------

int copy_str_arr(char ***dst, size_t *dst_count, char *const *src, size_t count) noexcept {
    *dst = nullptr;
    *dst_count = 0;
    if (!src || count == 0) return 0;
    char **arr = tq_calloc_n<char *>(count);
    if (!arr) return -1;
    for (size_t i = 0; i < count; ++i) {
        if (!src[i]) continue;
        arr[i] = tq_strdup(src[i]);
        if (!arr[i]) {
            for (size_t k = 0; k < i; ++k) std::free(arr[k]);
            std::free(arr);
            return -1;
        }
    }
    *dst = arr;
    *dst_count = count;
    return 0;
}

void free_str_arr(char **arr, size_t count) noexcept {
    if (!arr) return;
    for (size_t i = 0; i < count; ++i) std::free(arr[i]);
    std::free(arr);
}

// Allocates `count` zero-filled elements into *list, or leaves it empty when the
// source list is empty. Returns false when memory ran out.
template <typename T> bool alloc_list(T **list, size_t *list_count, size_t count) noexcept {
    *list = nullptr;
    *list_count = 0;
    if (count == 0) return true;
    T *arr = tq_calloc_n<T>(count);
    if (!arr) return false;
    *list = arr;
    *list_count = count;
    return true;
}

void copy_cast(tq_cast *d, const tq_cast *s) noexcept {
    d->name = tq_strdup(s->name);
    d->id = tq_strdup(s->id);
    d->poster = tq_strdup(s->poster);
    d->role = tq_strdup(s->role);
    d->birthday = tq_strdup(s->birthday);
}

void copy_picture(tq_picture *d, const tq_picture *s) noexcept {
    d->language = tq_strdup(s->language);
    d->url = tq_strdup(s->url);
    d->width = s->width;
    d->height = s->height;
}

void copy_provider(tq_provider *d, const tq_provider *s) noexcept {
    d->country = tq_strdup(s->country);
    d->provider_id = tq_strdup(s->provider_id);
    d->name = tq_strdup(s->name);
    d->logo = tq_strdup(s->logo);
    d->type = tq_strdup(s->type);
    d->display_priority = s->display_priority;
}

void copy_video(tq_video *d, const tq_video *s) noexcept {
    d->id = tq_strdup(s->id);
    d->key = tq_strdup(s->key);
    d->name = tq_strdup(s->name);
    d->site = tq_strdup(s->site);
    d->type = tq_strdup(s->type);
    d->lang = tq_strdup(s->lang);
    d->region = tq_strdup(s->region);
    d->size = s->size;
}

// Copies one sub-record list element by element; false when the array could not be
// allocated (the list then stays empty).
template <typename T>
bool copy_list(T **dst, size_t *dst_count, const T *src, size_t count, void (*copy_one)(T *, const T *)) noexcept {
    if (!alloc_list(dst, dst_count, count)) return false;
    for (size_t i = 0; i < count; ++i) copy_one(&(*dst)[i], &src[i]);
    return true;
}

} // namespace

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
    // Format into a scratch buffer first: an argument may point into g_tq.err itself
    // (a host re-reporting tqmovie_last_error()), and overlapping output is undefined.
    char tmp[sizeof g_tq.err];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(tmp, sizeof tmp, fmt, ap);
    va_end(ap);
    if (n < 0) tmp[0] = '\0';
    std::memcpy(g_tq.err, tmp, sizeof tmp);
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
    *body = nullptr;
    *status = 0;
    g_tq.header_count = 0;
    if (!g_tq.has_io || !g_tq.io.get) {
        tq_set_err("no IO backend set");
        return TQMOVIE_ERR_NO_IO;
    }
    char *desc = nullptr;
    const int32_t rc = g_tq.io.get(g_tq.io.ctx, url, body, status, &desc);
    return finish_request(rc, status, desc);
}

int32_t tq_http_post(const char *url, const char *request_body, char **body, int32_t *status) {
    *body = nullptr;
    *status = 0;
    g_tq.header_count = 0;
    if (!g_tq.has_io || !g_tq.io.post) {
        tq_set_err("no IO backend set");
        return TQMOVIE_ERR_NO_IO;
    }
    char *desc = nullptr;
    const int32_t rc = g_tq.io.post(g_tq.io.ctx, url, request_body, "text/plain", body, status, &desc);
    return finish_request(rc, status, desc);
}

// ----------------------------------------------------------------------------
// Record release
// ----------------------------------------------------------------------------

void tq_free_basic(tq_basic *r) {
    if (!r) return;
    std::free(r->imdb_id);
    std::free(r->title);
    std::free(r->tagline);
    std::free(r->plot);
    std::free(r->poster_url);
    std::free(r->picture_url);
    free_str_arr(r->directors, r->directors_count);
    free_str_arr(r->genres, r->genres_count);
    if (r->ratings) {
        for (size_t i = 0; i < r->ratings_count; ++i) std::free(r->ratings[i].source);
        std::free(r->ratings);
    }
    tq_reset_basic(r);
}

void tq_free_detail(tq_detail *r) {
    if (!r) return;
    char *const strings[] = {r->imdb_id,  r->title,     r->original_title, r->tagline,     r->plot,
                             r->poster_url, r->picture_url, r->title_type, r->genres,      r->directors,
                             r->trailer_url, r->extension1, r->logo_base64};
    for (char *s : strings) std::free(s);
    if (r->cast) {
        for (size_t i = 0; i < r->cast_count; ++i) {
            tq_cast &c = r->cast[i];
            std::free(c.name);
            std::free(c.id);
            std::free(c.poster);
            std::free(c.role);
            std::free(c.birthday);
        }
        std::free(r->cast);
    }
    if (r->pictures) {
        for (size_t i = 0; i < r->picture_count; ++i) {
            std::free(r->pictures[i].language);
            std::free(r->pictures[i].url);
        }
        std::free(r->pictures);
    }
    if (r->providers) {
        for (size_t i = 0; i < r->provider_count; ++i) {
            tq_provider &p = r->providers[i];
            std::free(p.country);
            std::free(p.provider_id);
            std::free(p.name);
            std::free(p.logo);
            std::free(p.type);
        }
        std::free(r->providers);
    }
    if (r->videos) {
        for (size_t i = 0; i < r->video_count; ++i) {
            tq_video &v = r->videos[i];
            std::free(v.id);
            std::free(v.key);
            std::free(v.name);
            std::free(v.site);
            std::free(v.type);
            std::free(v.lang);
            std::free(v.region);
        }
        std::free(r->videos);
    }
    free_str_arr(r->related, r->related_count);
    tq_reset_detail(r);
}

void tq_free_trans(tq_trans *set) {
    if (!set) return;
    std::free(set->imdb_id);
    if (set->items) {
        for (size_t i = 0; i < set->items_count; ++i) {
            tq_trans_item &t = set->items[i];
            std::free(t.title);
            std::free(t.tagline);
            std::free(t.plot);
            std::free(t.directors);
            std::free(t.actors);
            std::free(t.lang);
            std::free(t.region);
        }
        std::free(set->items);
    }
    std::memset(set, 0, sizeof *set);
}

// ----------------------------------------------------------------------------
// Deep copies
// ----------------------------------------------------------------------------

int32_t tq_copy_basic(tq_basic *dst, const tq_basic *src) {
    tq_reset_basic(dst);
    if (!src) return 0;
    dst->imdb_id = tq_strdup(src->imdb_id);
    dst->title = tq_strdup(src->title);
    dst->tagline = tq_strdup(src->tagline);
    dst->plot = tq_strdup(src->plot);
    dst->poster_url = tq_strdup(src->poster_url);
    dst->picture_url = tq_strdup(src->picture_url);
    dst->id = src->id;
    dst->year = src->year;
    dst->duration = src->duration;
    dst->is_tv = src->is_tv;
    if (copy_str_arr(&dst->directors, &dst->directors_count, src->directors, src->directors_count) != 0) return -1;
    if (copy_str_arr(&dst->genres, &dst->genres_count, src->genres, src->genres_count) != 0) return -1;
    if (!alloc_list(&dst->ratings, &dst->ratings_count, src->ratings ? src->ratings_count : 0)) return -1;
    for (size_t i = 0; i < dst->ratings_count; ++i) {
        dst->ratings[i].source = tq_strdup(src->ratings[i].source);
        dst->ratings[i].value = src->ratings[i].value;
    }
    return 0;
}

int32_t tq_copy_detail(tq_detail *dst, const tq_detail *src, uint32_t sections) {
    tq_reset_detail(dst);
    if (!src) return 0;
    dst->imdb_id = tq_strdup(src->imdb_id);
    dst->title = tq_strdup(src->title);
    dst->original_title = tq_strdup(src->original_title);
    dst->tagline = tq_strdup(src->tagline);
    dst->plot = tq_strdup(src->plot);
    dst->poster_url = tq_strdup(src->poster_url);
    dst->picture_url = tq_strdup(src->picture_url);
    dst->title_type = tq_strdup(src->title_type);
    dst->genres = tq_strdup(src->genres);
    dst->directors = tq_strdup(src->directors);
    dst->trailer_url = tq_strdup(src->trailer_url);
    dst->extension1 = tq_strdup(src->extension1);
    dst->logo_base64 = tq_strdup(src->logo_base64);
    dst->id = src->id;
    dst->start_year = src->start_year;
    dst->end_year = src->end_year;
    dst->runtime = src->runtime;
    dst->is_tv = src->is_tv;
    dst->imdb_rating = src->imdb_rating;

    // A list whose array is NULL has nothing to copy, whatever its count says.
    if (sections & TQMOVIE_DETAIL_CAST) {
        if (!copy_list(&dst->cast, &dst->cast_count, src->cast, src->cast ? src->cast_count : 0, copy_cast))
            return -1;
        if (copy_str_arr(&dst->related, &dst->related_count, src->related, src->related_count) != 0) return -1;
    }
    if (sections & TQMOVIE_DETAIL_PICTURES) {
        if (!copy_list(&dst->pictures, &dst->picture_count, src->pictures, src->pictures ? src->picture_count : 0,
                       copy_picture))
            return -1;
    }
    if (sections & TQMOVIE_DETAIL_PROVIDERS) {
        if (!copy_list(&dst->providers, &dst->provider_count, src->providers,
                       src->providers ? src->provider_count : 0, copy_provider))
            return -1;
    }
    if (sections & TQMOVIE_DETAIL_VIDEOS) {
        if (!copy_list(&dst->videos, &dst->video_count, src->videos, src->videos ? src->video_count : 0, copy_video))
            return -1;
    }
    return 0;
}

// ----------------------------------------------------------------------------
// Result store
// ----------------------------------------------------------------------------

void tq_clear_results(void) {
    for (size_t i = 0; i < g_tq.basic_count; ++i) tq_free_basic(&g_tq.basics[i]);
    std::free(g_tq.basics);
    g_tq.basics = nullptr;
    g_tq.basic_count = g_tq.basic_cap = 0;

    for (size_t i = 0; i < g_tq.detail_count; ++i) tq_free_detail(&g_tq.details[i]);
    std::free(g_tq.details);
    g_tq.details = nullptr;
    g_tq.detail_count = g_tq.detail_cap = 0;

    for (size_t i = 0; i < g_tq.trans_count; ++i) tq_free_trans(&g_tq.trans[i]);
    std::free(g_tq.trans);
    g_tq.trans = nullptr;
    g_tq.trans_count = g_tq.trans_cap = 0;
}

} // extern "C"
