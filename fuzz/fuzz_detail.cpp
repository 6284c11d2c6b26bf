// SPDX-License-Identifier: MIT
// Fuzzes the detail document decoder over the whole input and over the text up to its
// first NUL (what a lookup decodes). The first input byte is the section mask, so that
// every combination of sections (and 0, meaning all) is explored.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const uint32_t sections = data[0];
    fuzz_body body(data + 1, size - 1);
    const uint32_t mask = sections ? sections : TQMOVIE_DETAIL_ALL;
    for (size_t len : body.lengths()) {
        for (int32_t expect_array = 0; expect_array < 2; ++expect_array) {
            tq_detail *out = nullptr;
            size_t count = 0;
            const int32_t st = tq_parse_detail_doc(body.text, len, &out, &count, expect_array, sections);
            check_outputs(st, out, count, expect_array);
            for (size_t i = 0; i < count; ++i) {
                tq_detail &r = out[i];
                check_list(r.cast, r.cast_count);
                check_list(r.related, r.related_count);
                check_list(r.pictures, r.picture_count);
                check_list(r.providers, r.provider_count);
                check_list(r.videos, r.video_count);
                // Sections the mask leaves out stay empty.
                if (!(mask & TQMOVIE_DETAIL_CAST)) FUZZ_CHECK(!r.cast && !r.related);
                if (!(mask & TQMOVIE_DETAIL_PICTURES)) FUZZ_CHECK(!r.pictures);
                if (!(mask & TQMOVIE_DETAIL_PROVIDERS)) FUZZ_CHECK(!r.providers);
                if (!(mask & TQMOVIE_DETAIL_VIDEOS)) FUZZ_CHECK(!r.videos);
                tq_detail copy;
                FUZZ_CHECK(tq_copy_detail(&copy, &r, TQMOVIE_DETAIL_ALL) == 0);
                tq_free_detail(&copy);
                tq_free_detail(&r);
            }
            std::free(out);
        }
    }
    return 0;
}
