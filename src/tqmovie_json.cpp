// SPDX-License-Identifier: MIT
// tqmovie_json: every JSON text the library parses goes through one reader whose
// memory is capped, so a document dense in small values (16 bytes of parser memory
// per 2-byte value) is refused before it costs the host ten times its size.
#include "tq_internal.h"

namespace {

// Every block carries its size in front, so the running total can follow frees and
// reallocations; the header keeps the block 16-byte aligned.
constexpr size_t header = 16;

struct budget {
    size_t used = 0, cap = 0;
    bool over = false;
};

bool take(budget &b, size_t n) noexcept {
    if (n > b.cap - b.used) {
        b.over = true;
        return false;
    }
    b.used += n;
    return true;
}

void *capped_malloc(void *ctx, size_t size) noexcept {
    auto &b = *static_cast<budget *>(ctx);
    if (size > SIZE_MAX - header || !take(b, size)) return nullptr;
    auto *p = static_cast<unsigned char *>(std::malloc(size + header));
    if (!p) {
        b.used -= size;
        return nullptr;
    }
    std::memcpy(p, &size, sizeof size);
    return p + header;
}

void *capped_realloc(void *ctx, void *ptr, size_t, size_t size) noexcept {
    if (!ptr) return capped_malloc(ctx, size);
    auto &b = *static_cast<budget *>(ctx);
    auto *base = static_cast<unsigned char *>(ptr) - header;
    size_t old = 0;
    std::memcpy(&old, base, sizeof old);
    if (size > SIZE_MAX - header || (size > old && !take(b, size - old))) return nullptr;
    auto *p = static_cast<unsigned char *>(std::realloc(base, size + header));
    if (!p) {
        if (size > old) b.used -= size - old;
        return nullptr;
    }
    if (size < old) b.used -= old - size;
    std::memcpy(p, &size, sizeof size);
    return p + header;
}

// Frees need no budget: a document outlives the read that built it, and only the read
// counts.
void capped_free(void *, void *ptr) noexcept {
    if (ptr) std::free(static_cast<unsigned char *>(ptr) - header);
}

} // namespace

size_t tq_json_cap(size_t len) noexcept {
    const size_t floor = size_t{32} << 20;
    return len > SIZE_MAX / 4 ? SIZE_MAX : (4 * len > floor ? 4 * len : floor);
}

yyjson_doc *tq_json_read(const char *text, size_t len, bool *too_dense) noexcept {
    budget b;
    b.cap = tq_json_cap(len);
    const yyjson_alc alc{capped_malloc, capped_realloc, capped_free, &b};
    // Without read flags yyjson copies the input and never writes to it.
    yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(text), len, 0, &alc, nullptr);
    *too_dense = !doc && b.over;
    return doc;
}
