// SPDX-License-Identifier: MIT
// Fuzzes the basic document decoder, as a single answer and as a batch answer, over the
// whole input and over the text up to its first NUL (what a lookup decodes).
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_body body(data, size);
    for (size_t len : body.lengths()) {
        for (int32_t expect_array = 0; expect_array < 2; ++expect_array) {
            tq_basic *out = nullptr;
            size_t count = 0;
            const int32_t st = tq_parse_basic_doc(body.text, len, &out, &count, expect_array);
            check_outputs(st, out, count, expect_array);
            for (size_t i = 0; i < count; ++i) {
                tq_basic &r = out[i];
                check_list(r.directors, r.directors_count);
                check_list(r.genres, r.genres_count);
                check_list(r.ratings, r.ratings_count);
                // Every string and list must be readable to its end: a deep copy walks them all.
                tq_basic copy;
                FUZZ_CHECK(tq_copy_basic(&copy, &r) == 0);
                tq_free_basic(&copy);
                tq_free_basic(&r);
            }
            std::free(out);
        }
    }
    return 0;
}
