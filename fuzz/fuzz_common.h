// SPDX-License-Identifier: MIT
// Helpers shared by the decoder fuzz targets.
#ifndef TQ_FUZZ_COMMON_H
#define TQ_FUZZ_COMMON_H

#include "tqmovie.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A violated invariant is a crash: libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

// The decoders read len bytes, or measure a NUL-terminated text when len is 0: give
// them a terminated copy so that an empty input cannot make them read past the end.
struct fuzz_body {
    char *text;
    size_t len;
    fuzz_body(const uint8_t *data, size_t size) : text(static_cast<char *>(std::malloc(size + 1))), len(size) {
        if (!text) std::abort();
        if (size) std::memcpy(text, data, size);
        text[size] = '\0';
    }
    ~fuzz_body() { std::free(text); }
    fuzz_body(const fuzz_body &) = delete;
    fuzz_body &operator=(const fuzz_body &) = delete;
};

inline bool is_status(int32_t st) {
    return st == TQMOVIE_OK || st == TQMOVIE_ERR_PARSE || st == TQMOVIE_ERR_EMPTY || st == TQMOVIE_ERR_NOMEM;
}

// What every record decoder promises about its outputs, whatever the input.
template <typename Rec> void check_outputs(int32_t st, const Rec *out, size_t count, int32_t expect_array) {
    FUZZ_CHECK(is_status(st));
    if (count > 0) FUZZ_CHECK(out != nullptr);
    if (st == TQMOVIE_OK) FUZZ_CHECK(count > 0);
    if (st != TQMOVIE_OK) FUZZ_CHECK(count == 0);
    if (st == TQMOVIE_ERR_PARSE) {
        FUZZ_CHECK(out == nullptr);
        const char *err = tqmovie_last_error();
        FUZZ_CHECK(std::strcmp(err, "yyjson parse failed") == 0 || std::strcmp(err, "expected JSON array") == 0 ||
                   std::strcmp(err, "unexpected JSON root type") == 0 || std::strcmp(err, "basic object parse failed") == 0 ||
                   std::strcmp(err, "detail object parse failed") == 0);
        if (expect_array) FUZZ_CHECK(std::strcmp(err, "unexpected JSON root type") != 0);
    }
}

// Lists: a positive count needs an array.
template <typename T> void check_list(const T *arr, size_t count) {
    if (count > 0) FUZZ_CHECK(arr != nullptr);
}

#endif
